#include "platform/atspi/accessible/application_pids.h"

#include <limits>
#include <optional>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/bus/bounded_map.h"

namespace focusctl::platform::atspi {
namespace {

// The process id asked of the bus daemon for each bus name, read when first
// needed; an answer that gives none is not kept.
BoundedMap<std::string, bus::Reply<std::uint32_t>>& askedPids() {
  static auto& asked = *new BoundedMap<std::string, bus::Reply<std::uint32_t>>(512);
  return asked;
}

std::optional<Pid> validPid(const std::uint32_t* pid) {
  if (pid == nullptr || *pid == 0 ||
      *pid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) {
    return std::nullopt;
  }
  return static_cast<Pid>(*pid);
}

}  // namespace

void askPids(const std::vector<ObjectRef>& roots) {
  for (const ObjectRef& root : roots) {
    if (!root.bus.empty() && !askedPids().contains(root.bus)) {
      askedPids().put(root.bus, calls::connectionPid(root.bus));
    }
  }
}

Pid applicationPid(const ObjectRef& element) {
  if (element.bus.empty()) return 0;
  askPids({element});
  bus::Reply<std::uint32_t> reply = *askedPids().find(element.bus);
  std::optional<Pid> pid = validPid(reply.get());
  if (!pid) askedPids().erase(element.bus);
  return pid.value_or(0);
}

void forgetPids(const std::string& busName) {
  if (busName.empty()) {
    askedPids().clear();
  } else {
    askedPids().erase(busName);
  }
}

}  // namespace focusctl::platform::atspi
