// The X11 side of the desktop: which window is active, which top-level
// windows a process owns, what they say about their application, and asking
// the window manager to bring one to the front. One display connection is
// opened on first use and kept for the process; without a display every
// question has no answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace focusctl::platform::x11 {

using WindowId = unsigned long;

// The AT_SPI_BUS property of the first screen's root window, where
// libatspi looks for the accessibility bus: its text up to the first NUL,
// when it is a STRING; else empty.
std::string accessibilityBusAddress();

// The process owning _NET_ACTIVE_WINDOW, as an EWMH window manager that is
// running maintains it.
std::optional<Pid> activeWindowPid();

// The active window, when the answer activeWindowPid gave is still fresh
// and the process owns it: where a lookup of its windows can start.
std::optional<WindowId> knownActiveWindowOf(Pid pid);

// The process's top-level windows, topmost first.
std::vector<WindowId> windowsOfPid(Pid pid);

// What a window says of its application (WM_CLASS res_name and res_class,
// _GTK_APPLICATION_ID) and its title (_NET_WM_NAME); nothing when empty.
std::optional<std::string> windowInstance(WindowId window);
std::optional<std::string> windowClass(WindowId window);
std::optional<std::string> gtkApplicationId(WindowId window);
std::optional<std::string> windowTitle(WindowId window);

// Where the window's top-left corner lies on the screen.
struct Origin {
  int x = 0;
  int y = 0;
};
std::optional<Origin> windowOrigin(WindowId window);

// Calls changed() from the loop (bus_client.h) whenever the root window's
// _NET_ACTIVE_WINDOW property changes, for the rest of the process. False
// (and nothing is watched) unless an EWMH window manager maintains it.
bool watchActiveWindow(void (*changed)());

// Asks for the first of the windows (topmost first) to become active: an
// EWMH _NET_ACTIVE_WINDOW request when a window manager supports it, else
// raising and focusing the first viewable one directly. True when the
// request was sent; nothing waits for it to take effect.
bool activate(const std::vector<WindowId>& windows);

}  // namespace focusctl::platform::x11
