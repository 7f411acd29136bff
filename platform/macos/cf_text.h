// Text between UTF-8 and CFString. Header-only because the Unicode services
// (unicode_cf.cpp) are built into their own library.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.h"
#include "platform/macos/cf_ref.h"

namespace focusctl::platform::macos {

// UTF-16 of well-formed UTF-8 (sanitise first); decodes without checks.
inline std::u16string utf16FromWellFormedUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                                             : 4;
    if (i + length > utf8.size()) break;  // cannot happen for well-formed text
    char32_t c = length == 1   ? lead
                 : length == 2 ? lead & 0x1Fu
                 : length == 3 ? lead & 0x0Fu
                               : lead & 0x07u;
    for (std::size_t k = 1; k < length; ++k) {
      c = (c << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3Fu);
    }
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
    i += length;
  }
  return out;
}

// A CFString holding the UTF-16 text exactly. CFStringCreateWithBytes is
// avoided on purpose: its UTF-8 decoder drops a leading byte order mark.
inline CFRef<CFStringRef> cfStringFromUtf16(std::u16string_view text) {
  const std::vector<UniChar> units(text.begin(), text.end());
  static const UniChar none = 0;  // never a null pointer, even for no text
  return CFRef<CFStringRef>(CFStringCreateWithCharacters(
      kCFAllocatorDefault, units.empty() ? &none : units.data(),
      static_cast<CFIndex>(units.size())));
}

// Ill-formed input becomes U+FFFD, so the CFString always holds valid text.
// Empty only if CoreFoundation cannot allocate.
inline CFRef<CFStringRef> cfStringFromUtf8(std::string_view utf8) {
  return cfStringFromUtf16(utf16FromWellFormedUtf8(sanitizeUtf8(utf8)));
}

inline std::u16string utf16FromCFString(CFStringRef string) {
  const CFIndex length = CFStringGetLength(string);
  if (length <= 0) return std::u16string();
  std::vector<UniChar> units(static_cast<std::size_t>(length));
  CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
  return std::u16string(units.begin(), units.end());
}

// UTF-8 of a CFString; an unpaired surrogate becomes U+FFFD.
inline std::string utf8FromCFString(CFStringRef string) {
  return utf16ToUtf8(utf16FromCFString(string));
}

}  // namespace focusctl::platform::macos
