// The process behind each application's unique bus name, asked of the bus
// daemon and kept until the name leaves the bus (unique names are never
// reused while the bus lives).
#pragma once

#include <string>
#include <vector>

#include "platform/atspi/accessible/atspi_wire.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

// Asks the process ids of the applications not known yet, without waiting:
// sent as soon as the applications are listed, the answers travel while
// the command asks X11 which window is active.
void askPids(const std::vector<ObjectRef>& roots);

// The process owning the element's application; 0 when it cannot be told.
Pid applicationPid(const ObjectRef& element);

// The unique name has left the bus, or (an empty name) the bus itself has
// gone with every name on it.
void forgetPids(const std::string& busName);

}  // namespace focusctl::platform::atspi
