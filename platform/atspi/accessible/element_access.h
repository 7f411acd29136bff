// Reading and acting on one accessible element in the AX vocabulary.
#pragma once

#include <string_view>

#include "platform/atspi/accessible/element_facts.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

// Each takes the facts of the element's handle, so that what one call
// learnt about the element serves the next.

// An attribute of an accessible element (not the system-wide or an
// application element).
CopiedAttribute copyElementAttribute(ElementFacts& element,
                                     std::string_view attribute);

// "AXValue" written through EditableText, and checked by reading it back.
ResultCode setElementValue(ElementFacts& element, std::string_view text);

// "AXSelectedText" written: the selection replaced by the text, or the text
// inserted at the caret, and the caret after it; checked by reading back,
// and a change made only in part is undone.
ResultCode replaceSelection(ElementFacts& element, std::string_view text);

// "AXPress": the element's press, click or activate action.
ResultCode pressElement(ElementFacts& element);

}  // namespace focusctl::platform::atspi
