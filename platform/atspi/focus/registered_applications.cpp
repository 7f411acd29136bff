#include "platform/atspi/focus/registered_applications.h"

#include <optional>
#include <string>
#include <utility>

#include "platform/atspi/accessible/application_pids.h"
#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/bus_session.h"
#include "platform/atspi/bus/bounded_map.h"
#include "platform/atspi/bus/freshness.h"
#include "platform/atspi/focus/focus_walk.h"

namespace focusctl::platform::atspi {
namespace {

// The registry's list of applications; nothing when it did not answer.
Fresh<std::optional<std::vector<ObjectRef>>>& knownRoots() {
  static auto& roots = *new Fresh<std::optional<std::vector<ObjectRef>>>;
  return roots;
}

// On a desktop of a few applications, the first listing also asks each of
// them for its windows: whichever turns out to be in front, its windows are
// then known a round trip earlier. Once per process (a one-shot command
// lists the applications once) and never of one that left a call
// unanswered.
constexpr std::size_t windowsAskedUpTo = 8;

void askWindowsOnce(const std::vector<ObjectRef>& roots) {
  static bool asked = false;
  if (asked) return;
  asked = true;
  if (roots.size() > windowsAskedUpTo) return;
  for (const ObjectRef& root : roots) {
    if (!bus::isHung(root.bus)) askChildren(root);
  }
}

const std::optional<std::vector<ObjectRef>>& currentRoots() {
  if (const auto* known = knownRoots().get()) return *known;
  std::optional<std::vector<ObjectRef>> roots = calls::children(calls::desktop()).take();
  if (roots) {
    std::erase_if(*roots, [](const ObjectRef& root) { return root.isNull(); });
    askPids(*roots);
    askWindowsOnce(*roots);
  }
  return knownRoots().set(std::move(roots));
}

// The application found for each pid, while it stays connected: a one-shot
// command asks for it more than once, and a watcher each time the
// application comes to the front.
BoundedMap<Pid, ObjectRef>& foundApplications() {
  static auto& found = *new BoundedMap<Pid, ObjectRef>(256);
  return found;
}

// Names asked ahead, each taken once while fresh.
FreshMap<ObjectRef, bus::Reply<std::string>>& askedNames() {
  static auto& asked = *new FreshMap<ObjectRef, bus::Reply<std::string>>;
  return asked;
}

}  // namespace

void askForName(const ObjectRef& root) {
  // Once per process: a one-shot command reads the name of the application
  // whose focus it looked up, a watcher never does.
  static bool asked = false;
  if (asked || root.isNull()) return;
  asked = true;
  askedNames().put(root, calls::name(root));
}

bus::Reply<std::string> applicationName(const ObjectRef& root) {
  if (auto asked = askedNames().take(root)) return std::move(*asked);
  return calls::name(root);
}

bool registryAnswers() {
  if (!busConnected()) return false;
  return currentRoots().has_value();
}

std::vector<ObjectRef> applicationRoots() {
  if (!busConnected()) return {};
  return currentRoots().value_or(std::vector<ObjectRef>{});
}

ObjectRef applicationForPid(Pid pid) {
  if (pid <= 0 || !busConnected()) return {};
  if (const ObjectRef* known = foundApplications().find(pid)) return *known;
  std::vector<ObjectRef> roots = applicationRoots();
  askPids(roots);
  for (const ObjectRef& root : roots) {
    if (applicationPid(root) == pid) {
      foundApplications().put(pid, root);
      return root;
    }
  }
  return {};
}

void forgetApplication(Pid pid, const ObjectRef& root) {
  if (const ObjectRef* known = foundApplications().find(pid); known != nullptr && *known == root) {
    foundApplications().erase(pid);
  }
  // The applications listed are old news too.
  knownRoots().forget();
}

void forgetBusName(const std::string& busName) {
  forgetPids(busName);
  if (busName.empty()) {
    foundApplications().clear();
    knownRoots().forget();
    return;
  }
  foundApplications().eraseIf(
      [&busName](Pid, const ObjectRef& root) { return root.bus == busName; });
}

}  // namespace focusctl::platform::atspi
