// What the observers know about application activation that the workspace
// needs too.
#pragma once

#include <optional>

#include "platform/platform.h"

namespace focusctl::platform::atspi {

// While the activation handlers run for an application that AT-SPI reported
// active, that application. It is the frontmost one then, even where X11's
// active window has not caught up yet (the window manager learns of the
// focus change at the same time as the application).
std::optional<Pid> applicationBeingActivated();

}  // namespace focusctl::platform::atspi
