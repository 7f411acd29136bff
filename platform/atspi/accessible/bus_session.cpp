#include "platform/atspi/accessible/bus_session.h"

#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::atspi {
namespace {

// Applications that left a call unanswered, by bus name: while that is
// fresh, lookups skip them instead of waiting out another call.
std::unordered_map<std::string, Fresh<bool>>& unresponsive() {
  static auto& applications = *new std::unordered_map<std::string, Fresh<bool>>;
  return applications;
}

Liveness livenessOf(const bus::Outcome& outcome) {
  if (outcome.timedOut) return Liveness::unreachable;
  return livenessFromErrorName(outcome.errorName);
}

// Asks the element's own state, whose error name or DEFUNCT state tells
// whether it is still there.
Liveness probe(const ObjectRef& element) {
  if (element.isNull()) return Liveness::vanished;
  auto states = calls::states(element);
  if (const calls::StateBits* bits = states.get()) {
    unresponsive().erase(element.bus);
    return calls::hasState(*bits, ATSPI_STATE_DEFUNCT) ? Liveness::vanished : Liveness::alive;
  }
  if (states.outcome().timedOut) unresponsive()[element.bus].set(true);
  // GDBus answers UnknownMethod for a path it no longer exports; an
  // application that merely lacks GetState still answers its role.
  const std::string& error = states.outcome().errorName;
  if (error == wire::unknownMethod || error == "org.freedesktop.DBus.Error.UnknownInterface") {
    auto role = calls::role(element);
    if (role.get() != nullptr) return Liveness::alive;
    return role.outcome().timedOut ? Liveness::unreachable : Liveness::vanished;
  }
  return livenessOf(states.outcome());
}

ResultCode codeFor(Liveness liveness) {
  return liveness == Liveness::vanished ? code::invalidElement : code::cannotComplete;
}

}  // namespace

bool busConnected() { return bus::connected(); }

ResultCode failureCode(const ObjectRef& element, const bus::Outcome& failed) {
  if (failed.timedOut) {
    unresponsive()[element.bus].set(true);
    return code::cannotComplete;
  }
  Liveness said = livenessOf(failed);
  if (said == Liveness::vanished) return code::invalidElement;
  return codeFor(probe(element));
}

ResultCode failureCode(const ObjectRef& element) { return codeFor(probe(element)); }

std::optional<ResultCode> unreachableCode(const ObjectRef& element) {
  Liveness liveness = probe(element);
  if (liveness == Liveness::alive) return std::nullopt;
  return codeFor(liveness);
}

bool knownUnresponsive(const ObjectRef& element) {
  auto& applications = unresponsive();
  std::erase_if(applications, [](const auto& entry) { return entry.second.get() == nullptr; });
  return applications.contains(element.bus) || bus::isHung(element.bus);
}

void probeLater(const ObjectRef& element, std::function<void(bool)> done) {
  auto states = std::make_shared<bus::Reply<calls::StateBits>>(calls::states(element));
  states->then([states, bus = element.bus, done = std::move(done)] {
    // Time has passed: the desktop is looked at anew, as for an event.
    desktopMayHaveChanged();
    bool inTime = !states->outcome().timedOut;
    if (!inTime) unresponsive()[bus].set(true);
    done(inTime);
  });
}

}  // namespace focusctl::platform::atspi
