// Whether an element that failed a call still exists: the one mapping from
// a failed D-Bus call to the AX result code it answers.
#pragma once

#include <functional>

#include "platform/atspi/accessible/atspi_wire.h"
#include "platform/atspi/bus/bus_client.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

// The code for a call on the element that failed: -25202 when the element
// or its application is gone, -25204 for every other failure. The failed
// call's own error decides where it can; otherwise the element is probed.
ResultCode failureCode(const ObjectRef& element, const bus::Outcome& failed);
ResultCode failureCode(const ObjectRef& element);

// Asks the element's application for its state without waiting. done
// runs later from the loop (never inside another call), with false when
// the application did not answer within a call's time (the transport then
// takes it as hung: bus::isHung).
void probeLater(const ObjectRef& element, std::function<void(bool)> done);

}  // namespace focusctl::platform::atspi
