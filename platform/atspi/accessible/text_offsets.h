// Offsets into a text as each toolkit counts them, and the same places in
// UTF-16 code units, as macOS counts them. Pure functions of the text, so
// that every count can be tested without a desktop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace focusctl::platform::atspi {

enum class OffsetUnits {
  codePoints,  // ATK's characters (GTK, and any toolkit not named below)
  utf16,       // Qt: QString indices
  // Gecko: its text has a U+FEFF after every character beyond the Basic
  // Multilingual Plane, so that its characters count like UTF-16.
  paddedUtf16,
};

// From the application's ToolkitName.
OffsetUnits offsetUnitsOf(std::string_view toolkitName);

// A place in a text: its byte in the UTF-8 the toolkit gave, and how many
// UTF-16 code units of the text as the user sees it lie before it.
struct TextPlace {
  std::size_t byte = 0;
  std::int64_t utf16 = 0;
};

// Where the toolkit's offset falls in text (which starts where the
// toolkit's count starts). An offset inside a character stands for that
// character's start. Nothing when the text ends before the offset.
std::optional<TextPlace> placeOf(std::string_view text, OffsetUnits units, std::int64_t offset);

// How far the text reaches in the toolkit's count, once it holds it (Gecko
// pads it then).
std::int64_t lengthIn(std::string_view text, OffsetUnits units);

// The length InsertText is to be given: Qt's is in UTF-16 units (a longer
// one pads the text with NULs), every other toolkit's in bytes.
std::int64_t insertLength(std::string_view text, OffsetUnits units);

// The text as the user sees it: Gecko's padding taken out, nothing else.
std::string visibleText(std::string_view text, OffsetUnits units);

}  // namespace focusctl::platform::atspi
