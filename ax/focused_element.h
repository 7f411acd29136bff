#pragma once

#include <optional>

#include "platform/platform.h"

namespace focusctl {

struct FocusedElement {
  platform::Element element;
  platform::Pid pid = 0;
};

// The "AXFocusedUIElement" of an element: accepted only for code 0 and a
// value that is an element; anything else copied is given up.
platform::Element focusedUIElementOf(const platform::Element& element);

// The element with keyboard focus and the process that owns it: asked of the
// system-wide element first, then of the frontmost application.
std::optional<FocusedElement> focusedElement();

}  // namespace focusctl
