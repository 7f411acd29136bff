// Canonical decomposition on macOS, from CoreFoundation.
#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <string_view>

#include "common/utf8.h"
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_text.h"
#include "platform/unicode.h"

namespace focusctl::platform {

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

}  // namespace focusctl::platform
