#pragma once

#include <string>
#include <string_view>

namespace focusctl {

// Unicode canonical equivalence: equal NFD forms. Case-sensitive.
bool textEquals(std::string_view a, std::string_view b);

// Without White_Space characters at either end.
std::string trimmed(std::string_view text);

}  // namespace focusctl
