// Unicode services on Linux: NFD from utf8proc, White_Space from its fixed
// list of code points.
#include <utf8proc.h>

#include <cstdlib>
#include <memory>

#include "app/utf8.h"
#include "platform/unicode.h"

namespace focusctl::platform {
namespace {

// The Unicode White_Space property (PropList.txt); it has not changed since
// Unicode 6.3.
bool isWhiteSpace(utf8proc_int32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const noexcept { std::free(p); }
};

}  // namespace

std::string canonicalDecomposition(std::string_view utf8) {
  const std::string clean = sanitizeUtf8(utf8);
  utf8proc_uint8_t* raw = nullptr;
  const utf8proc_ssize_t length = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(clean.data()),
      static_cast<utf8proc_ssize_t>(clean.size()), &raw,
      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE));
  const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(raw);
  // Only allocation failure remains possible for sanitised input; comparing
  // the undecomposed text is then the best that can be done.
  if (length < 0 || raw == nullptr) return clean;
  return std::string(reinterpret_cast<const char*>(raw),
                     static_cast<std::size_t>(length));
}

std::string trimWhiteSpace(std::string_view utf8) {
  const std::string clean = sanitizeUtf8(utf8);
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(clean.data());
  const auto size = static_cast<utf8proc_ssize_t>(clean.size());
  utf8proc_ssize_t begin = 0;
  utf8proc_ssize_t end = 0;  // one past the last character kept
  bool seenContent = false;
  for (utf8proc_ssize_t i = 0; i < size;) {
    utf8proc_int32_t c = 0;
    const utf8proc_ssize_t n = utf8proc_iterate(bytes + i, size - i, &c);
    if (n <= 0) break;  // cannot happen after sanitising
    if (!isWhiteSpace(c)) {
      if (!seenContent) begin = i;
      seenContent = true;
      end = i + n;
    }
    i += n;
  }
  if (!seenContent) return std::string();
  return clean.substr(static_cast<std::size_t>(begin),
                      static_cast<std::size_t>(end - begin));
}

}  // namespace focusctl::platform
