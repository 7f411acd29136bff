// Trimming by the Unicode White_Space property, the same on every system:
// neither utf8proc nor CoreFoundation offers exactly this set (CF's
// whitespace sets also hold U+200B ZERO WIDTH SPACE).
#include <cstdint>

#include "app/utf8.h"
#include "platform/unicode.h"

namespace focusctl::platform {
namespace {

// PropList.txt; unchanged since Unicode 6.3.
bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point at text[i] of well-formed UTF-8, and its length.
char32_t decodeAt(std::string_view text, std::size_t i, std::size_t& length) {
  const auto byte = [&](std::size_t k) {
    return static_cast<std::uint8_t>(text[k]);
  };
  const std::uint8_t lead = byte(i);
  length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  char32_t c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (byte(i + k) & 0x3F);
  return c;
}

}  // namespace

std::string trimWhiteSpace(std::string_view utf8) {
  const std::string clean = sanitizeUtf8(utf8);
  std::size_t begin = std::string::npos;
  std::size_t end = 0;  // one past the last character kept
  for (std::size_t i = 0, length = 0; i < clean.size(); i += length) {
    if (!isWhiteSpace(decodeAt(clean, i, length))) {
      if (begin == std::string::npos) begin = i;
      end = i + length;
    }
  }
  if (begin == std::string::npos) return std::string();
  return clean.substr(begin, end - begin);
}

}  // namespace focusctl::platform
