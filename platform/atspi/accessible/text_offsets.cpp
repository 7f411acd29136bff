#include "platform/atspi/accessible/text_offsets.h"

#include <algorithm>

namespace focusctl::platform::atspi {
namespace {

constexpr std::string_view padding = "\xEF\xBB\xBF";  // U+FEFF

// One character as the toolkit counts it, with Gecko's padding after it.
struct Character {
  std::size_t bytes = 1;
  std::int64_t units = 1;  // in the toolkit's count
  std::int64_t utf16 = 1;  // as the user sees it
  bool padded = false;
};

// The character at byte i (< text.size()). Only its lead byte is looked at:
// D-Bus carries well-formed UTF-8 alone, and a stray byte counts as one.
Character characterAt(std::string_view text, std::size_t i, OffsetUnits units) {
  const auto lead = static_cast<unsigned char>(text[i]);
  Character c;
  c.bytes = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3
                              : (lead >> 3) == 0x1e ? 4 : 1;
  c.bytes = std::min(c.bytes, text.size() - i);
  const bool astral = c.bytes == 4;
  c.utf16 = astral ? 2 : 1;
  c.units = astral && units == OffsetUnits::utf16 ? 2 : 1;
  if (astral && units == OffsetUnits::paddedUtf16 && text.substr(i + 4, 3) == padding) {
    c.bytes += padding.size();
    c.units = 2;
    c.padded = true;
  }
  return c;
}

}  // namespace

OffsetUnits offsetUnitsOf(std::string_view toolkitName) {
  if (toolkitName == "Qt") return OffsetUnits::utf16;
  if (toolkitName == "Gecko") return OffsetUnits::paddedUtf16;
  return OffsetUnits::codePoints;
}

std::optional<TextPlace> placeOf(std::string_view text, OffsetUnits units, std::int64_t offset) {
  if (offset < 0) return std::nullopt;
  TextPlace place;
  // Each turn moves on by at least one byte: bounded by the text.
  for (std::int64_t counted = 0; counted < offset;) {
    if (place.byte >= text.size()) return std::nullopt;
    const Character c = characterAt(text, place.byte, units);
    if (counted + c.units > offset) break;
    counted += c.units;
    place.byte += c.bytes;
    place.utf16 += c.utf16;
  }
  return place;
}

std::int64_t lengthIn(std::string_view text, OffsetUnits units) {
  std::int64_t length = 0;
  for (std::size_t i = 0; i < text.size();) {
    const Character c = characterAt(text, i, OffsetUnits::codePoints);
    length += units == OffsetUnits::codePoints ? 1 : c.utf16;
    i += c.bytes;
  }
  return length;
}

std::int64_t insertLength(std::string_view text, OffsetUnits units) {
  if (units == OffsetUnits::utf16) return lengthIn(text, units);
  return static_cast<std::int64_t>(text.size());
}

std::string visibleText(std::string_view text, OffsetUnits units) {
  if (units != OffsetUnits::paddedUtf16) return std::string(text);
  std::string visible;
  visible.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Character c = characterAt(text, i, units);
    visible.append(text.substr(i, c.padded ? 4 : c.bytes));
    i += c.bytes;
  }
  return visible;
}

}  // namespace focusctl::platform::atspi
