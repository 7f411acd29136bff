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
  if (windowsOf(*application).empty() && rootOf(*application) == nullptr) {
    return RunningApplication();
  }
  return RunningApplication(application.release());
}

RunningApplication frontmostApplication() {
  if (std::optional<Pid> pid = atspi::applicationBeingActivated()) {
    return RunningApplication(new ApplicationRef{*pid, std::nullopt, std::nullopt});
  }
  if (std::optional<Pid> pid = x11::activeWindowPid()) {
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
  for (x11::WindowId window : windowsOf(*application.get())) {
    if (auto windowClass = x11::windowClass(window); windowClass && !windowClass->instance.empty()) {
      return windowClass->instance;
    }
    if (auto title = nonEmpty(x11::windowTitle(window))) return title;
  }
  return std::nullopt;
}

std::optional<std::string> bundleIdentifier(const RunningApplication& application) {
  if (!application) return std::nullopt;
  const std::vector<x11::WindowId>& windows = windowsOf(*application.get());
  for (x11::WindowId window : windows) {
    if (auto id = nonEmpty(x11::gtkApplicationId(window))) return id;
  }
  for (x11::WindowId window : windows) {
    if (auto windowClass = x11::windowClass(window); windowClass && !windowClass->className.empty()) {
      return windowClass->className;
    }
  }
  return std::nullopt;
}

// Only NSApplicationActivateIgnoringOtherApps (2) is ever passed; an X11
// activation request always brings the window in front of the others.
bool activateApplication(const RunningApplication& application, std::uint32_t) {
  if (!application) return false;
  return x11::activate(windowsOf(*application.get()));
}

}  // namespace focusctl::platform
