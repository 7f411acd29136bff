#include "ax/text_equality.h"

#include "platform/unicode.h"

namespace focusctl {

bool textEquals(std::string_view a, std::string_view b) {
  if (a == b) return true;
  return platform::canonicalDecomposition(a) ==
         platform::canonicalDecomposition(b);
}

std::string trimmed(std::string_view text) {
  return platform::trimWhiteSpace(text);
}

}  // namespace focusctl
