// Whether an application is a Wayland client or an X11 one (through
// XWayland): only an X11 window has a position on a global screen.
#pragma once

#include "platform/platform.h"

namespace focusctl::platform::wayland {

// True when a Wayland session runs and the process shows its windows as a
// Wayland client: sway says so, or, without sway, the process owns no X11
// window.
bool waylandNative(Pid pid);

}  // namespace focusctl::platform::wayland
