#include "ax/element_actions.h"

#include <string>

#include "ax/base64_text.h"

namespace focusctl {
Reply actionReply(const char* method, platform::ResultCode code) {
  return Reply{{"ok", code == platform::code::success},
               {"method", std::string(method)},
               {"error", code}};
}

Reply setFocusedText(const platform::Element& element,
                     std::optional<std::string_view> argument) {
  if (!argument) return refusal("invalid-text");
  const std::optional<std::string> text = decodeBase64Text(*argument);
  if (!text) return refusal("invalid-text");
  return actionReply("ax",
                     platform::setAttributeValue(element, "AXValue", *text));
}

Reply pressFocused(const platform::Element& element) {
  return actionReply("ax-press", platform::performAction(element, "AXPress"));
}

Reply insertAtCaret(const platform::Element& element,
                    std::optional<std::string_view> argument) {
  if (!argument) return refusal("invalid-text");
  const std::optional<std::string> text = decodeBase64Text(*argument);
  if (!text) return refusal("invalid-text");
  return actionReply("ax-insert", platform::setAttributeValue(element, "AXSelectedText", *text));
}

}  // namespace focusctl
