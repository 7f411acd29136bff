// Trimming by the Unicode White_Space property, the same on every system:
// neither utf8proc nor CoreFoundation offers exactly this set (CF's
// whitespace sets also hold U+200B ZERO WIDTH SPACE).
#include <cstdint>

#include "platform/unicode.h"

namespace focusctl::platform {
namespace {

// PropList.txt; unchanged since Unicode 6.3.
bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The length of the White_Space character the bytes begin with; 0 when they
// begin otherwise. Each is ASCII or a lead byte C2, E1, E2 or E3 with its
// continuation bytes, which always make a well-formed character. Starting
// with no continuation byte, it is one character of the text however the
// bytes before it are read, so the text need not be sanitised first.
std::size_t whiteSpaceAt(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto lead = static_cast<std::uint8_t>(bytes[0]);
  const std::size_t length =
      lead < 0x80 ? 1 : lead == 0xC2 ? 2 : lead >= 0xE1 && lead <= 0xE3 ? 3 : 0;
  if (length == 0 || bytes.size() < length) return 0;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<std::uint8_t>(bytes[k]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  return isWhiteSpace(c) ? length : 0;
}

// The length of the White_Space character the bytes end with, or 0.
std::size_t whiteSpaceBefore(std::string_view bytes) {
  for (std::size_t length = 1; length <= 3 && length <= bytes.size(); ++length) {
    if (whiteSpaceAt(bytes.substr(bytes.size() - length)) == length) return length;
  }
  return 0;
}

}  // namespace

std::string_view trimWhiteSpace(std::string_view utf8) {
  while (const std::size_t length = whiteSpaceAt(utf8)) utf8.remove_prefix(length);
  while (const std::size_t length = whiteSpaceBefore(utf8)) utf8.remove_suffix(length);
  return utf8;
}

}  // namespace focusctl::platform
