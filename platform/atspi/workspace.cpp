// Running applications on an X11 + AT-SPI desktop: an application is a
// process that owns a top-level X11 window or has registered with the
// accessibility bus.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/atspi/activation.h"
#include "platform/atspi/app_identity.h"
#include "platform/atspi/atspi_calls.h"
#include "platform/atspi/bus_session.h"
#include "platform/atspi/focus_search.h"
#include "platform/atspi/registered_applications.h"
#include "platform/atspi/sway_ipc.h"
#include "platform/atspi/x11_desktop.h"

namespace focusctl::platform {

struct ApplicationRef {
  Pid pid = 0;
  // Both looked up on first use.
  std::optional<atspi::bus::ObjectRef> root;
  std::optional<std::vector<x11::WindowId>> windows;
};

namespace {

const atspi::bus::ObjectRef& rootOf(ApplicationRef& application) {
  if (!application.root) {
    application.root = atspi::busConnected() ? atspi::applicationForPid(application.pid)
                                             : atspi::bus::ObjectRef();
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

std::optional<std::string> nonEmpty(std::optional<std::string> text) {
  if (text && text->empty()) return std::nullopt;
  return text;
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
  if (const atspi::bus::ObjectRef& root = rootOf(*application.get()); !root.isNull()) {
    auto name = atspi::applicationName(root);
    if (const std::string* text = name.get(); text != nullptr && !text->empty()) return *text;
  }
  return firstAnswer(*application.get(), [](x11::WindowId window) -> std::optional<std::string> {
    if (auto windowClass = x11::windowClass(window); windowClass && !windowClass->instance.empty()) {
      return windowClass->instance;
    }
    return nonEmpty(x11::windowTitle(window));
  });
}

std::optional<std::string> bundleIdentifier(const RunningApplication& application) {
  if (!application) return std::nullopt;
  const Pid pid = application.get()->pid;
  if (auto id = identity::flatpakApplicationId(pid)) return id;
  if (auto id = firstAnswer(*application.get(), [](x11::WindowId window) {
        return nonEmpty(x11::gtkApplicationId(window));
      })) {
    return id;
  }
  if (auto id = identity::launchedApplicationId(pid)) return id;
  if (auto view = sway::viewOfPid(pid); view && !view->appId.empty()) return view->appId;
  return firstAnswer(*application.get(), [](x11::WindowId window) -> std::optional<std::string> {
    auto windowClass = x11::windowClass(window);
    if (!windowClass || windowClass->className.empty()) return std::nullopt;
    return windowClass->className;
  });
}

// Only NSApplicationActivateIgnoringOtherApps (2) is ever passed; an X11
// activation request always brings the window in front of the others. sway
// is asked first where it runs: it only marks an XWayland window urgent on
// an X11 request, and it alone can focus a Wayland window.
bool activateApplication(const RunningApplication& application, std::uint32_t) {
  if (!application) return false;
  if (sway::focusWindowOf(application.get()->pid) == true) return true;
  return x11::activate(windowsOf(*application.get()));
}

}  // namespace focusctl::platform
