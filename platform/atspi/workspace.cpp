// Running applications on an X11 + AT-SPI desktop: an application is a
// process that owns a top-level X11 window or has registered with the
// accessibility bus.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/atspi/activation.h"
#include "platform/atspi/bus_session.h"
#include "platform/atspi/focus_search.h"
#include "platform/atspi/registered_applications.h"
#include "platform/atspi/x11_desktop.h"

namespace focusctl::platform {

struct ApplicationRef {
  Pid pid = 0;
  // Both looked up on first use.
  std::optional<atspi::GRef<AtspiAccessible>> root;
  std::optional<std::vector<x11::WindowId>> windows;
};

namespace {

AtspiAccessible* rootOf(ApplicationRef& application) {
  if (!application.root) {
    application.root = atspi::busConnected()
                           ? atspi::applicationForPid(application.pid)
                           : atspi::GRef<AtspiAccessible>();
  }
  return application.root->get();
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
      rootOf(*application) == nullptr) {
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
  if (!active.root) return RunningApplication();
  return RunningApplication(
      new ApplicationRef{active.pid, std::move(active.root), std::nullopt});
}

Pid processIdentifier(const RunningApplication& application) {
  return application ? application.get()->pid : 0;
}

std::optional<std::string> localizedName(const RunningApplication& application) {
  if (!application) return std::nullopt;
  if (AtspiAccessible* root = rootOf(*application.get())) {
    atspi::ErrorSlot error;
    std::string name = atspi::takeString(atspi_accessible_get_name(root, error.out()));
    if (!name.empty()) return name;
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
  if (auto id = firstAnswer(*application.get(), [](x11::WindowId window) {
        return nonEmpty(x11::gtkApplicationId(window));
      })) {
    return id;
  }
  return firstAnswer(*application.get(), [](x11::WindowId window) -> std::optional<std::string> {
    auto windowClass = x11::windowClass(window);
    if (!windowClass || windowClass->className.empty()) return std::nullopt;
    return windowClass->className;
  });
}

// Only NSApplicationActivateIgnoringOtherApps (2) is ever passed; an X11
// activation request always brings the window in front of the others.
bool activateApplication(const RunningApplication& application, std::uint32_t) {
  if (!application) return false;
  return x11::activate(windowsOf(*application.get()));
}

}  // namespace focusctl::platform
