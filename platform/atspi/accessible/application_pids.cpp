#include "platform/atspi/accessible/application_pids.h"

#include <limits>
#include <optional>
#include <unordered_map>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/bus/bounded_map.h"

namespace focusctl::platform::atspi {
namespace {

BoundedMap<std::string, Pid>& knownPids() {
  static auto& pids = *new BoundedMap<std::string, Pid>(512);
  return pids;
}

// Process ids asked of the bus daemon and not read yet, by bus name.
std::unordered_map<std::string, bus::Reply<std::uint32_t>>& askedPids() {
  static auto& asked = *new std::unordered_map<std::string, bus::Reply<std::uint32_t>>;
  return asked;
}

std::optional<Pid> validPid(const std::uint32_t* pid) {
  if (pid == nullptr || *pid == 0 ||
      *pid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) {
    return std::nullopt;
  }
  return static_cast<Pid>(*pid);
}

void settlePids() {
  for (auto& [busName, reply] : askedPids()) {
    if (std::optional<Pid> pid = validPid(reply.get())) knownPids().put(busName, *pid);
  }
  askedPids().clear();
}

}  // namespace

void askPids(const std::vector<ObjectRef>& roots) {
  for (const ObjectRef& root : roots) {
    if (root.bus.empty() || knownPids().contains(root.bus) || askedPids().contains(root.bus)) {
      continue;
    }
    askedPids().emplace(root.bus, calls::connectionPid(root.bus));
  }
}

void learnPids(const std::vector<ObjectRef>& roots) {
  askPids(roots);
  settlePids();
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

void forgetPids(const std::string& busName) {
  if (busName.empty()) {
    knownPids().clear();
    askedPids().clear();
  } else {
    knownPids().erase(busName);
    askedPids().erase(busName);
  }
}

}  // namespace focusctl::platform::atspi
