// The process's one connection to the accessibility bus, where an element
// lives on it, and whether an element that failed a call still exists.
#pragma once

#include <atspi/atspi.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/atspi/glib_ptr.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

// GLib, libatspi and Xlib write nothing to standard error from here on.
void silenceLibraryLogs();

// Connects on first use and keeps the connection for the process. False when
// no accessibility bus can be reached; then no libatspi call may be made,
// since libatspi aborts the process when it has no bus.
bool busConnected();

// The unique bus name of the element's application; empty once the
// application has gone.
std::string busNameOf(AtspiAccessible* element);
std::string pathOf(AtspiAccessible* element);

// The code for a call on the element that failed: -25202 when the element
// or its application is gone, -25204 for every other failure.
ResultCode failureCode(AtspiAccessible* element);

// For a call that failed without saying so (libatspi answers some failures
// with an ordinary-looking value): nothing when the element is reachable and
// not defunct, else the code failureCode gives.
std::optional<ResultCode> unreachableCode(AtspiAccessible* element);

// The element's application left a probe unanswered (it may be stopped or
// hung) recently enough (freshness.h) that asking it again would only wait
// out another timeout.
bool knownUnresponsive(AtspiAccessible* element);

// Asks the element's application for its state without waiting. done
// runs later from the GLib main loop (never inside another call), with
// false when the application did not answer within a call's time, which is
// then remembered as above.
void probeLater(AtspiAccessible* element, std::function<void(bool)> done);

}  // namespace focusctl::platform::atspi
