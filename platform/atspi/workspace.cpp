// Running applications on an X11 or Wayland desktop with AT-SPI: an
// application is a process that owns a top-level X11 window or has
// registered with the accessibility bus; the compositor and the session bus
// speak for it where X11 cannot.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/bus_session.h"
#include "platform/atspi/bus/freshness.h"
#include "platform/atspi/activation.h"
#include "platform/atspi/desktop/app_identity.h"
#include "platform/atspi/desktop/session_apps.h"
#include "platform/atspi/desktop/sway_ipc.h"
#include "platform/atspi/desktop/x11_desktop.h"
#include "platform/atspi/focus/focus_search.h"
#include "platform/atspi/focus/registered_applications.h"

namespace focusctl::platform {

struct ApplicationRef {
  Pid pid = 0;
  // Both looked up on first use.
  std::optional<atspi::ObjectRef> root;
  std::optional<std::vector<x11::WindowId>> windows;
};

namespace {

const atspi::ObjectRef& rootOf(ApplicationRef& application) {
  if (!application.root) {
    application.root = atspi::busConnected() ? atspi::applicationForPid(application.pid)
                                             : atspi::ObjectRef();
  }
  return *application.root;
}

const std::vector<x11::WindowId>& windowsOf(ApplicationRef& application) {
  if (!application.windows) application.windows = x11::windowsOfPid(application.pid);
  return *application.windows;
}

// The first of the process's windows that answers, asked of the active
// window first when the process owns it: a command that has just looked at
// the active window usually needs nothing else.
template <typename Answer>
std::optional<std::string> firstAnswer(ApplicationRef& application, Answer answer) {
  std::optional<x11::WindowId> active = x11::knownActiveWindowOf(application.pid);
  if (active) {
    if (auto text = answer(*active)) return text;
  }
  for (x11::WindowId window : windowsOf(application)) {
    if (window == active) continue;
    if (auto text = answer(window)) return text;
  }
  return std::nullopt;
}

}  // namespace

void release(ApplicationRef* ref) noexcept { delete ref; }

RunningApplication runningApplication(Pid pid) {
  if (pid <= 0) return RunningApplication();
  auto application = std::make_unique<ApplicationRef>();
  application->pid = pid;
  if (!x11::knownActiveWindowOf(pid) && windowsOf(*application).empty() &&
      rootOf(*application).isNull() && !sway::viewOfPid(pid)) {
    return RunningApplication();
  }
  return RunningApplication(application.release());
}

RunningApplication frontmostApplication() {
  if (std::optional<Pid> pid = atspi::applicationBeingActivated()) {
    return RunningApplication(new ApplicationRef{*pid, std::nullopt, std::nullopt});
  }
  // No X11 window active (under XWayland: a Wayland application in front):
  // AT-SPI decides.
  if (std::optional<Pid> pid = x11::activeWindowPid(); pid && *pid > 0) {
    return RunningApplication(new ApplicationRef{*pid, std::nullopt, std::nullopt});
  }
  if (!atspi::busConnected()) return RunningApplication();
  atspi::ActiveApplication active = atspi::applicationWithActiveWindow();
  if (active.root.isNull()) return RunningApplication();
  return RunningApplication(
      new ApplicationRef{active.pid, std::move(active.root), std::nullopt});
}

Pid processIdentifier(const RunningApplication& application) {
  return application ? application.get()->pid : 0;
}

std::optional<std::string> localizedName(const RunningApplication& application) {
  if (!application) return std::nullopt;
  if (const atspi::ObjectRef& root = rootOf(*application.get()); !root.isNull()) {
    auto name = atspi::applicationName(root);
    if (const std::string* text = name.get(); text != nullptr && !text->empty()) return *text;
  }
  return firstAnswer(*application.get(), [](x11::WindowId window) {
    if (auto instance = x11::windowInstance(window)) return instance;
    return x11::windowTitle(window);
  });
}

std::optional<std::string> bundleIdentifier(const RunningApplication& application) {
  if (!application) return std::nullopt;
  const Pid pid = application.get()->pid;
  if (auto id = identity::flatpakApplicationId(pid)) return id;
  if (auto id = firstAnswer(*application.get(), x11::gtkApplicationId)) return id;
  if (auto id = session::ownedApplicationId(pid)) return id;
  if (auto id = identity::launchedApplicationId(pid)) return id;
  if (auto view = sway::viewOfPid(pid); view && !view->appId.empty()) return view->appId;
  return firstAnswer(*application.get(), x11::windowClass);
}

namespace {

// Whether the process owns the focus within what is left of the command's
// time (a moment is kept for cleaning up after the request): what the
// compositor does with a request is seen only there.
bool comesToFront(Pid pid) {
  using namespace std::chrono_literals;
  // A busy compositor can take over a second to act on the request.
  std::chrono::milliseconds wait = 1000ms;
  if (auto left = atspi::bus::budgetLeft()) wait = *left - 150ms;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    atspi::desktopMayHaveChanged();
    if (processIdentifier(frontmostApplication()) == pid) return true;
    if (std::chrono::steady_clock::now() + 25ms > deadline) return false;
    std::this_thread::sleep_for(25ms);
  }
}

// GNOME lets an application take the focus only with a token from the
// client that holds it: the controller hands one on in XDG_ACTIVATION_TOKEN,
// the variable the activation protocol names for it. Without one, nothing
// is asked (the request would only make the application demand attention).
bool activateWithToken(Pid pid) {
  if (processIdentifier(frontmostApplication()) == pid) return true;
  const char* token = std::getenv("XDG_ACTIVATION_TOKEN");
  if (token == nullptr || *token == '\0') return false;
  std::optional<std::string> name = identity::flatpakApplicationId(pid);
  if (!name) name = session::ownedApplicationId(pid);
  return name && session::activateByName(*name, token) && comesToFront(pid);
}

// Whether a Wayland session runs and the process shows its windows as a
// Wayland client: sway says so, or, without sway, the process owns no X11
// window.
bool waylandNative(ApplicationRef& application) {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  if (std::optional<sway::View> view = sway::viewOfPid(application.pid)) return !view->xwayland;
  return windowsOf(application).empty();
}

}  // namespace

// Only NSApplicationActivateIgnoringOtherApps (2) is ever passed; an X11
// activation request always brings the window in front of the others. The
// compositor's own interface is asked first where it has one: sway only
// marks an XWayland window urgent on an X11 request, and sway and KWin alone
// can focus a Wayland window. KWin's answer is known only from the focus.
bool activateApplication(const RunningApplication& application, std::uint32_t) {
  if (!application) return false;
  const Pid pid = application.get()->pid;
  if (sway::focusWindowOf(pid) == true) return true;
  if (std::optional<bool> kwin =
          session::activateThroughKwin(pid, [pid] { return comesToFront(pid); })) {
    return *kwin;
  }
  if (waylandNative(*application.get())) return activateWithToken(pid);
  return x11::activate(windowsOf(*application.get()));
}

}  // namespace focusctl::platform
