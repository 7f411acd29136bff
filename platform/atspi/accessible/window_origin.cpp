#include "platform/atspi/accessible/window_origin.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/atspi/accessible/application_pids.h"
#include "platform/atspi/bus/freshness.h"
#include "platform/atspi/desktop/x11_desktop.h"

namespace focusctl::platform::atspi {
namespace {

// The element a lookup found last, and the window it was found in.
struct FoundIn {
  ObjectRef element;
  ObjectRef window;
};
Fresh<FoundIn>& lastFound() {
  static auto& found = *new Fresh<FoundIn>;
  return found;
}

// X11 names a new window (a dialog just opened) active a moment after the
// toolkit has moved the focus into it. Where the window the focus was found
// in has a title and another window of the process has exactly that title,
// that one holds the element. Where none has it (a toolkit that names its
// windows otherwise), the first choice stands.
void matchTitle(std::optional<x11::WindowId>& holding, const std::vector<x11::WindowId>& windows,
                const std::string& title) {
  if (title.empty() || (holding && x11::windowTitle(*holding) == title)) return;
  std::optional<x11::WindowId> titled;
  for (x11::WindowId window : windows) {
    if (x11::windowTitle(window) != title) continue;
    if (titled) return;  // two of that title: neither is known to hold it
    titled = window;
  }
  if (titled) holding = titled;
}

// GTK 4 has no screen coordinates: it answers window-relative extents for
// every coordinate type. The toolkit is a property of the application
// element only.
bool windowRelativeToolkit(const ObjectRef& element) {
  auto application = calls::application(element);
  const ObjectRef* root = application.get();
  if (root == nullptr || root->isNull()) return false;
  auto toolkit = calls::toolkitName(*root);
  auto toolkitVersion = calls::toolkitVersion(*root);
  const std::string* name = toolkit.get();
  if (name == nullptr || (*name != "GTK" && *name != "gtk")) return false;
  const std::string* version = toolkitVersion.get();
  return version != nullptr && !version->empty() && version->front() >= '4' &&
         version->front() <= '9';
}

}  // namespace

void noteFoundInWindow(const ObjectRef& element, const ObjectRef& window) {
  lastFound().set({element, window});
}

// A toolkit that tells the coordinate types apart gives two different
// answers, unless the window lies at the screen's origin. Where both agree,
// the toolkit may answer screen coordinates for both (Qt) or window-relative
// ones for both (GTK 4, and every toolkit on Wayland, where there is no
// global origin): the window's X11 origin turns the latter into screen
// coordinates, and without an X11 window nothing does.
bool toScreen(const ObjectRef& element, const calls::Rect* inWindow, calls::Rect& rect) {
  if (inWindow == nullptr || inWindow->x != rect.x || inWindow->y != rect.y) return true;
  // Its title travels with the toolkit's name.
  std::optional<bus::Reply<std::string>> title;
  if (const FoundIn* found = lastFound().get(); found != nullptr && found->element == element) {
    title.emplace(calls::name(found->window));
  }
  // The X11 windows of the element's process, and the one that holds it:
  // the active window when the process owns it, else the process's only
  // window.
  Pid pid = applicationPid(element);
  if (pid <= 0) return false;
  std::optional<x11::WindowId> holding;
  if (x11::activeWindowPid() == pid) holding = x11::knownActiveWindowOf(pid);
  std::vector<x11::WindowId> windows = x11::windowsOfPid(pid);
  if (!holding && windows.empty()) return false;
  if (!windowRelativeToolkit(element)) return true;
  if (!holding && windows.size() == 1) holding = windows.front();
  if (const std::string* name = title ? title->get() : nullptr) {
    matchTitle(holding, windows, *name);
  }
  std::optional<x11::Origin> origin = holding ? x11::windowOrigin(*holding) : std::nullopt;
  if (!origin) return false;
  rect.x += origin->x;
  rect.y += origin->y;
  return true;
}

}  // namespace focusctl::platform::atspi
