// Comparing texts read from other applications: canonical equivalence and
// trimming.
#pragma once

#include <string_view>

namespace focusctl {

// Unicode canonical equivalence: equal NFD forms (of the sanitised texts).
// Case-sensitive. Works through the texts a piece at a time and stops at the
// first difference, so a large text costs little memory and, next to a
// short one, no work.
bool textEquals(std::string_view a, std::string_view b);

// The part of the text without White_Space characters at either end.
std::string_view trimmed(std::string_view text);

}  // namespace focusctl
