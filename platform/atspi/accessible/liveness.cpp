#include "platform/atspi/accessible/liveness.h"

#include <memory>
#include <utility>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::atspi {
namespace {

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
    return calls::hasState(*bits, ATSPI_STATE_DEFUNCT) ? Liveness::vanished : Liveness::alive;
  }
  // GDBus answers UnknownMethod for a path it no longer exports; an
  // application that merely lacks GetState still answers its role.
  const std::string& error = states.outcome().errorName;
  if (error == bus::unknownMethod || error == bus::unknownInterface) {
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

ResultCode failureCode(const ObjectRef& element, const bus::Outcome& failed) {
  if (failed.timedOut) return code::cannotComplete;
  Liveness said = livenessOf(failed);
  if (said == Liveness::vanished) return code::invalidElement;
  return codeFor(probe(element));
}

ResultCode failureCode(const ObjectRef& element) { return codeFor(probe(element)); }

void probeLater(const ObjectRef& element, std::function<void(bool)> done) {
  auto states = std::make_shared<bus::Reply<calls::StateBits>>(calls::states(element));
  states->then([states, done = std::move(done)] {
    // Time has passed: the desktop is looked at anew, as for an event.
    desktopMayHaveChanged();
    done(!states->outcome().timedOut);
  });
}

}  // namespace focusctl::platform::atspi
