// set, press and insert: one platform call each on the focused element
// (borrowed), whose result code is reported unchanged.
#pragma once

#include <optional>
#include <string_view>

#include "common/reply.h"
#include "platform/platform.h"

namespace focusctl {

// {"ok": code is 0, "method": method, "error": code}
Reply actionReply(const char* method, platform::ResultCode code);

Reply setFocusedText(const platform::Element& element,
                     std::optional<std::string_view> argument);
Reply pressFocused(const platform::Element& element);
// insert: the decoded text in place of the selection, or at the caret.
Reply insertAtCaret(const platform::Element& element,
                    std::optional<std::string_view> argument);

}  // namespace focusctl
