// Unicode services for comparing texts read from other applications. Served by
// utf8proc on Linux and by CoreFoundation on macOS, so that the macOS build
// needs nothing beyond the system.
#pragma once

#include <string>
#include <string_view>

namespace focusctl::platform {

// The canonical decomposition (NFD) of a UTF-8 text. Ill-formed sequences are
// taken as U+FFFD first, so the result is always well-formed.
std::string canonicalDecomposition(std::string_view utf8);

// The part of the text without the characters of the Unicode White_Space
// property at either end. Ill-formed bytes are no White_Space and stay as
// they are: the trimmed part of the sanitised text is the sanitised trimmed
// part.
std::string_view trimWhiteSpace(std::string_view utf8);

}  // namespace focusctl::platform
