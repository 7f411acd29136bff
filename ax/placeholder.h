#pragma once

#include <array>
#include <string>
#include <string_view>

namespace focusctl {

// The only roles for which a placeholder is inferred.
inline constexpr std::array<std::string_view, 4> textEntryRoles = {
    "AXTextField", "AXTextArea", "AXSearchField", "AXComboBox"};

// The text to report as the placeholder: the element's own placeholder when it
// has one; otherwise, for a text-entry role with a value, the title or else
// the description when it equals the value (both trimmed).
std::string inferPlaceholder(std::string_view role, std::string_view title,
                             std::string_view description,
                             std::string_view value,
                             std::string_view placeholder);

}  // namespace focusctl
