// Canonical decomposition on Linux, from utf8proc.
#include <utf8proc.h>

#include <cstdlib>
#include <memory>

#include "common/utf8.h"
#include "platform/unicode.h"

namespace focusctl::platform {
namespace {

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

}  // namespace focusctl::platform
