// set and press: one platform call each on the focused element (borrowed),
// whose result code is reported unchanged.
#pragma once

#include <optional>
#include <string_view>

#include "app/reply.h"
#include "platform/platform.h"

namespace focusctl {

Reply setFocusedText(const platform::Element& element,
                     std::optional<std::string_view> argument);
Reply pressFocused(const platform::Element& element);

}  // namespace focusctl
