// Where an element lies on the screen when its toolkit answers extents
// relative to its window: the X11 window that holds it, found among its
// process's windows by the title of the window a focus lookup found it in.
#pragma once

#include "platform/atspi/accessible/atspi_calls.h"

namespace focusctl::platform::atspi {

// A focus lookup found the element in that top-level window; kept while it
// is fresh (freshness.h), for the element found last.
void noteFoundInWindow(const ObjectRef& element, const ObjectRef& window);

// Makes the extents (rect, asked in screen coordinates; inWindow, asked in
// window coordinates, if known) screen coordinates; false when the position
// is not known in them.
bool toScreen(const ObjectRef& element, const calls::Rect* inWindow, calls::Rect& rect);

}  // namespace focusctl::platform::atspi
