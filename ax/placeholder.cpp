#include "ax/placeholder.h"

#include <algorithm>

#include "ax/text_equality.h"

namespace focusctl {
namespace {

bool isTextEntryRole(std::string_view role) {
  return std::any_of(textEntryRoles.begin(), textEntryRoles.end(),
                     [role](std::string_view entry) {
                       return textEquals(role, entry);
                     });
}

}  // namespace

std::string inferPlaceholder(std::string_view role, std::string_view title,
                             std::string_view description,
                             std::string_view value,
                             std::string_view placeholder) {
  if (!placeholder.empty()) return std::string(placeholder);
  if (value.empty() || !isTextEntryRole(role)) return std::string();
  const std::string_view trimmedValue = trimmed(value);
  if (!title.empty() && textEquals(trimmed(title), trimmedValue)) {
    return std::string(title);
  }
  // The description is examined when the title gave no placeholder, which
  // includes an empty title that matched an all-white-space value.
  if (textEquals(trimmed(description), trimmedValue)) {
    return std::string(description);
  }
  return std::string();
}

}  // namespace focusctl
