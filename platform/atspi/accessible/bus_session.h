// The process's one connection to the accessibility bus, and whether an
// element that failed a call still exists.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/atspi/bus/bus_client.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

using bus::ObjectRef;

// Connects on first use and keeps the connection for the process. False when
// no accessibility bus can be reached.
bool busConnected();

// The code for a call on the element that failed: -25202 when the element
// or its application is gone, -25204 for every other failure. The failed
// call's own error decides where it can; otherwise the element is probed.
ResultCode failureCode(const ObjectRef& element, const bus::Outcome& failed);
ResultCode failureCode(const ObjectRef& element);

// For a call that failed without saying so (an ordinary-looking answer that
// may also mean failure): nothing when the element is reachable and not
// defunct, else the code failureCode gives.
std::optional<ResultCode> unreachableCode(const ObjectRef& element);

// The element's application left a call unanswered (it may be stopped or
// hung) recently enough (freshness.h) that asking it again would only wait
// out another timeout.
bool knownUnresponsive(const ObjectRef& element);

// Asks the element's application for its state without waiting. done
// runs later from the loop (never inside another call), with false when
// the application did not answer within a call's time, which is then
// remembered as above.
void probeLater(const ObjectRef& element, std::function<void(bool)> done);

}  // namespace focusctl::platform::atspi
