#include "reference_text.h"

#include <algorithm>
#include <array>

namespace focusctl::fuzz {
namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";
constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Smallest and largest scalar value encoded with 1 to 4 bytes.
constexpr std::array<char32_t, 5> shortest = {0, 0, 0x80, 0x800, 0x10000};
constexpr std::array<char32_t, 5> longest = {0, 0x7F, 0x7FF, 0xFFFF, 0x10FFFF};

unsigned at(std::string_view bytes, std::size_t i) {
  return static_cast<unsigned char>(bytes[i]);
}

bool continuation(unsigned byte) { return (byte & 0xC0) == 0x80; }

// The length a lead byte announces by its bit pattern, 0 when it leads none.
std::size_t announced(unsigned lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// Whether the k bytes at i (lead, then continuation bytes) start some
// well-formed sequence of length n: the code points they can still become
// form an interval, which must meet the scalar values of that length.
bool startsWellFormed(std::string_view bytes, std::size_t i, std::size_t k,
                      std::size_t n) {
  char32_t value = at(bytes, i) & (0x7Fu >> n);
  for (std::size_t j = 1; j < k; ++j)
    value = (value << 6) | (at(bytes, i + j) & 0x3F);
  const unsigned freeBits = 6 * static_cast<unsigned>(n - k);
  const char32_t low = value << freeBits;
  const char32_t high = low | ((char32_t{1} << freeBits) - 1);
  const char32_t from = std::max(low, shortest[n]);
  const char32_t to = std::min(high, longest[n]);
  if (from > to) return false;
  return !(from >= 0xD800 && to <= 0xDFFF);  // not surrogates only
}

}  // namespace

bool referenceWellFormed(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t n = announced(at(bytes, i));
    if (n == 0 || i + n > bytes.size()) return false;
    char32_t value = at(bytes, i) & (n == 1 ? 0x7Fu : 0x7Fu >> n);
    for (std::size_t j = 1; j < n; ++j) {
      if (!continuation(at(bytes, i + j))) return false;
      value = (value << 6) | (at(bytes, i + j) & 0x3F);
    }
    if (value < shortest[n] || value > longest[n]) return false;
    if (value >= 0xD800 && value <= 0xDFFF) return false;
    i += n;
  }
  return true;
}

std::string referenceSanitize(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t n = announced(at(bytes, i));
    if (n == 1) {
      out += bytes[i++];
      continue;
    }
    std::size_t good = 0;  // bytes of the longest acceptable prefix
    if (n != 0) {
      for (std::size_t k = 1; k <= n; ++k) {
        if (i + k > bytes.size()) break;
        if (k > 1 && !continuation(at(bytes, i + k - 1))) break;
        if (!startsWellFormed(bytes, i, k, n)) break;
        good = k;
      }
    }
    if (n != 0 && good == n) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out += replacement;
      i += std::max<std::size_t>(good, 1);
    }
  }
  return out;
}

std::u16string referenceUtf8ToUtf16(std::string_view wellFormed) {
  std::u16string out;
  std::size_t i = 0;
  while (i < wellFormed.size()) {
    const std::size_t n = announced(at(wellFormed, i));
    char32_t value = at(wellFormed, i) & (n == 1 ? 0x7Fu : 0x7Fu >> n);
    for (std::size_t j = 1; j < n; ++j)
      value = (value << 6) | (at(wellFormed, i + j) & 0x3F);
    if (value >= 0x10000) {
      value -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (value >> 10));
      out += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
    } else {
      out += static_cast<char16_t>(value);
    }
    i += n;
  }
  return out;
}

std::string referenceBase64Encode(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned group = 0;
    for (std::size_t j = 0; j < 3; ++j)
      group = (group << 8) | (j < n ? at(bytes, i + j) : 0u);
    for (std::size_t j = 0; j < 4; ++j) {
      out += j <= n ? alphabet[(group >> (18 - 6 * j)) & 0x3F] : '=';
    }
  }
  return out;
}

std::optional<std::string> referenceBase64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() &&
         text[text.size() - 1 - padding] == '=')
    ++padding;
  std::string bits;  // one '0' or '1' per bit
  for (const char c : text.substr(0, text.size() - padding)) {
    const std::size_t value = alphabet.find(c);
    if (value == std::string_view::npos) return std::nullopt;
    for (int b = 5; b >= 0; --b) bits += (value >> b) & 1 ? '1' : '0';
  }
  std::string bytes;
  for (std::size_t i = 0; i + 8 <= bits.size(); i += 8) {
    bytes += static_cast<char>(std::stoi(bits.substr(i, 8), nullptr, 2));
  }
  // Only the canonical text of those bytes counts.
  if (referenceBase64Encode(bytes) != text) return std::nullopt;
  return bytes;
}

std::string uptoNul(std::string_view bytes) {
  return std::string(bytes.substr(0, bytes.find('\0')));
}

}  // namespace focusctl::fuzz
