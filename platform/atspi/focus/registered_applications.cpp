#include "platform/atspi/focus/registered_applications.h"

#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/atspi/accessible/asked_ahead.h"
#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/bus/bounded_map.h"
#include "platform/atspi/accessible/bus_session.h"
#include "platform/atspi/focus/focus_walk.h"
#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::atspi {
namespace {

// Unique bus names are never reused while the bus lives, so a process id
// once learnt for one stays right until the name leaves the bus.
BoundedMap<std::string, Pid>& knownPids() {
  static auto& pids = *new BoundedMap<std::string, Pid>(512);
  return pids;
}

// The registry's list of applications; nothing when it did not answer.
Fresh<std::optional<std::vector<ObjectRef>>>& knownRoots() {
  static auto& roots = *new Fresh<std::optional<std::vector<ObjectRef>>>;
  return roots;
}

std::optional<Pid> validPid(const std::uint32_t* pid) {
  if (pid == nullptr || *pid == 0 ||
      *pid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) {
    return std::nullopt;
  }
  return static_cast<Pid>(*pid);
}

// Process ids asked of the bus daemon and not read yet, by bus name.
std::unordered_map<std::string, bus::Reply<std::uint32_t>>& askedPids() {
  static auto& asked = *new std::unordered_map<std::string, bus::Reply<std::uint32_t>>;
  return asked;
}

// Asks the process ids of the applications not known yet, without waiting:
// sent as soon as the applications are listed, the answers travel while
// the command asks X11 which window is active.
void askPids(const std::vector<ObjectRef>& roots) {
  for (const ObjectRef& root : roots) {
    if (root.bus.empty() || knownPids().contains(root.bus) || askedPids().contains(root.bus)) {
      continue;
    }
    askedPids().emplace(root.bus, calls::connectionPid(root.bus));
  }
}

// Reads every answer asked for: one wait for all of them.
void settlePids() {
  for (auto& [busName, reply] : askedPids()) {
    if (std::optional<Pid> pid = validPid(reply.get())) knownPids().put(busName, *pid);
  }
  askedPids().clear();
}

void learnPids(const std::vector<ObjectRef>& roots) {
  askPids(roots);
  settlePids();
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
    if (!knownUnresponsive(root)) askChildren(root);
  }
}

const std::optional<std::vector<ObjectRef>>& currentRoots() {
  if (const auto* known = knownRoots().get()) return *known;
  auto children = calls::children(calls::desktop());
  std::optional<std::vector<ObjectRef>> roots;
  if (const auto* listed = children.get()) {
    roots.emplace();
    for (const ObjectRef& root : *listed) {
      if (!root.isNull()) roots->push_back(root);
    }
  }
  if (roots) {
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

// Names asked ahead.
AskedAhead<std::string>& askedNames() {
  static auto& asked = *new AskedAhead<std::string>;
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

Pid applicationPid(const ObjectRef& element) {
  if (element.bus.empty()) return 0;
  if (askedPids().contains(element.bus)) settlePids();
  if (const Pid* known = knownPids().find(element.bus)) return *known;
  auto reply = calls::connectionPid(element.bus);
  std::optional<Pid> pid = validPid(reply.get());
  if (!pid) return 0;
  knownPids().put(element.bus, *pid);
  return *pid;
}

ObjectRef applicationForPid(Pid pid) {
  if (pid <= 0 || !busConnected()) return {};
  if (const ObjectRef* known = foundApplications().find(pid)) return *known;
  std::vector<ObjectRef> roots = applicationRoots();
  learnPids(roots);
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
  if (busName.empty()) {
    knownPids().clear();
    foundApplications().clear();
    askedPids().clear();
    knownRoots().forget();
    return;
  }
  knownPids().erase(busName);
  foundApplications().eraseIf(
      [&busName](Pid, const ObjectRef& root) { return root.bus == busName; });
  askedPids().erase(busName);
}

}  // namespace focusctl::platform::atspi
