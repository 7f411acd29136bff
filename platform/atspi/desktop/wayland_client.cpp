#include "platform/atspi/desktop/wayland_client.h"

#include <cstdlib>
#include <optional>

#include "platform/atspi/desktop/sway_ipc.h"
#include "platform/atspi/desktop/x11_desktop.h"

namespace focusctl::platform::wayland {

bool waylandNative(Pid pid) {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  if (std::optional<sway::View> view = sway::viewOfPid(pid)) return !view->xwayland;
  return x11::windowsOfPid(pid).empty();
}

}  // namespace focusctl::platform::wayland
