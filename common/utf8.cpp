#include "common/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace focusctl {
namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD";

// Length of the well-formed sequence starting at bytes[i], or 0 when the
// bytes there are ill-formed. `maximalSubpart` receives how many bytes the
// ill-formed prefix covers (at least 1), following Unicode's "maximal subpart"
// practice for U+FFFD substitution.
std::size_t wellFormedLength(std::string_view bytes, std::size_t i,
                             std::size_t& maximalSubpart) {
  const auto byte = [&](std::size_t k) {
    return static_cast<std::uint8_t>(bytes[k]);
  };
  const std::uint8_t lead = byte(i);
  maximalSubpart = 1;
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= bytes.size()) return 0;
    const std::uint8_t next = byte(i + k);
    const std::uint8_t min = k == 1 ? low : 0x80;
    const std::uint8_t max = k == 1 ? high : 0xBF;
    if (next < min || next > max) return 0;
    maximalSubpart = k + 1;
  }
  return length;
}

void appendCodePoint(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool isWellFormedUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Runs of ASCII, eight bytes at a time: texts of megabytes are mostly
    // ASCII.
    for (std::uint64_t word = 0; i + sizeof word <= bytes.size(); i += sizeof word) {
      std::memcpy(&word, bytes.data() + i, sizeof word);
      if ((word & 0x8080808080808080u) != 0) break;
    }
    if (i == bytes.size()) break;
    std::size_t subpart = 0;
    const std::size_t length = wellFormedLength(bytes, i, subpart);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string sanitizeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t subpart = 0;
    const std::size_t length = wellFormedLength(bytes, i, subpart);
    if (length == 0) {
      out += replacementCharacter;
      i += subpart;
    } else {
      out.append(bytes.substr(i, length));
      i += length;
    }
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      const char32_t c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                         (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      appendCodePoint(out, c);
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out += replacementCharacter;  // unpaired surrogate
    } else {
      appendCodePoint(out, unit);
    }
  }
  return out;
}

std::size_t pieceLength(std::string_view text, std::size_t least) {
  least = std::max<std::size_t>(least, 1);  // a piece always moves on
  if (text.size() <= least) return text.size();
  const auto ascii = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(least), text.end(),
                                  [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return static_cast<std::size_t>(ascii - text.begin());
}

}  // namespace focusctl
