#include "platform/atspi/accessible/liveness.h"

#include <memory>
#include <utility>

#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::atspi {

ResultCode failureCode(const ObjectRef& element) {
  // The element's own state tells whether it is still there: by its error
  // name, or by DEFUNCT.
  if (element.isNull()) return code::invalidElement;
  auto states = calls::states(element);
  if (const calls::StateBits* bits = states.get()) {
    return calls::hasState(*bits, ATSPI_STATE_DEFUNCT) ? code::invalidElement
                                                       : code::cannotComplete;
  }
  // GDBus answers UnknownMethod for a path it no longer exports; an
  // application that merely lacks GetState still answers its role.
  const bus::Outcome& outcome = states.outcome();
  if (outcome.errorName == bus::unknownMethod || outcome.errorName == bus::unknownInterface) {
    auto role = calls::role(element);
    if (role.get() != nullptr || role.outcome().timedOut) return code::cannotComplete;
    return code::invalidElement;
  }
  bool gone = !outcome.timedOut && livenessFromErrorName(outcome.errorName) == Liveness::vanished;
  return gone ? code::invalidElement : code::cannotComplete;
}

ResultCode failureCode(const ObjectRef& element, const bus::Outcome& failed) {
  if (failed.timedOut) return code::cannotComplete;
  if (livenessFromErrorName(failed.errorName) == Liveness::vanished) return code::invalidElement;
  return failureCode(element);
}

void probeLater(const ObjectRef& element, std::function<void(bool)> done) {
  auto states = std::make_shared<bus::Reply<calls::StateBits>>(calls::states(element));
  states->then([states, done = std::move(done)] {
    // Time has passed: the desktop is looked at anew, as for an event.
    desktopMayHaveChanged();
    done(!states->outcome().timedOut);
  });
}

}  // namespace focusctl::platform::atspi
