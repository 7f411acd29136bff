// Reading and acting on one accessible element in the AX vocabulary.
#pragma once

#include <atspi/atspi.h>

#include <string_view>

#include "platform/platform.h"

namespace focusctl::platform::atspi {

// An attribute of an accessible element (not the system-wide or an
// application element).
CopiedAttribute copyElementAttribute(AtspiAccessible* element,
                                     std::string_view attribute);

// "AXValue" written through EditableText, and checked by reading it back.
ResultCode setElementValue(AtspiAccessible* element, std::string_view text);

// "AXPress": the element's press, click or activate action.
ResultCode pressElement(AtspiAccessible* element);

}  // namespace focusctl::platform::atspi
