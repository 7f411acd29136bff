// Unicode services on macOS: NFD from CoreFoundation, White_Space from its
// fixed list of code points.
#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <string_view>

#include "app/utf8.h"
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_text.h"
#include "platform/unicode.h"

namespace focusctl::platform {
namespace {

// The Unicode White_Space property (PropList.txt, unchanged since Unicode
// 6.3); every member is a single UTF-16 unit. CoreFoundation's whitespace
// sets (CFStringTrimWhitespace, kCFCharacterSetWhitespaceAndNewline) are not
// this property: they also hold U+200B ZERO WIDTH SPACE.
bool isWhiteSpace(char16_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace

std::string canonicalDecomposition(std::string_view utf8) {
  const std::string clean = sanitizeUtf8(utf8);
  const macos::CFRef<CFStringRef> text =
      macos::cfStringFromUtf16(macos::utf16FromWellFormedUtf8(clean));
  if (!text) return clean;
  const macos::CFRef<CFMutableStringRef> decomposed(
      CFStringCreateMutableCopy(kCFAllocatorDefault, 0, text.get()));
  // Only allocation can fail; comparing the undecomposed text is then the
  // best that can be done.
  if (!decomposed) return clean;
  CFStringNormalize(decomposed.get(), kCFStringNormalizationFormD);
  return macos::utf8FromCFString(decomposed.get());
}

std::string trimWhiteSpace(std::string_view utf8) {
  const std::u16string text =
      macos::utf16FromWellFormedUtf8(sanitizeUtf8(utf8));
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isWhiteSpace(text[begin])) ++begin;
  while (end > begin && isWhiteSpace(text[end - 1])) --end;
  // Cuts fall next to white space, never inside a surrogate pair.
  return utf16ToUtf8(std::u16string_view(text).substr(begin, end - begin));
}

}  // namespace focusctl::platform
