#include "ax/base64_text.h"

#include <cstdint>

#include "common/utf8.h"

namespace focusctl {
namespace {

// The value of a character of the standard alphabet, or -1.
int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::string> decodeBase64Text(std::string_view argument) {
  if (argument.size() % 4 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(argument.size() / 4 * 3);
  for (std::size_t group = 0; group < argument.size(); group += 4) {
    const bool last = group + 4 == argument.size();
    // Padding may only close the last group: "xx==" or "xxx=".
    std::size_t padding = 0;
    if (last && argument[group + 3] == '=') {
      padding = argument[group + 2] == '=' ? 2 : 1;
    }
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 4 - padding; ++k) {
      const int value = sextet(argument[group + k]);
      if (value < 0) return std::nullopt;
      bits = (bits << 6) | static_cast<std::uint32_t>(value);
    }
    bits <<= 6 * padding;
    // Only canonical encodings: the bits that padding leaves over must be 0.
    if (padding == 1 && (bits & 0xFF) != 0) return std::nullopt;
    if (padding == 2 && (bits & 0xFFFF) != 0) return std::nullopt;
    bytes += static_cast<char>((bits >> 16) & 0xFF);
    if (padding < 2) bytes += static_cast<char>((bits >> 8) & 0xFF);
    if (padding < 1) bytes += static_cast<char>(bits & 0xFF);
  }
  if (!isWellFormedUtf8(bytes)) return std::nullopt;
  return bytes;
}

}  // namespace focusctl
