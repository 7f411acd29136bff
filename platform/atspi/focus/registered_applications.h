// The applications registered with the accessibility bus, and which of
// them a process runs. What a command needs of them more than once is asked
// once while it is fresh (freshness.h).
#pragma once

#include <string>
#include <vector>

#include "platform/atspi/accessible/atspi_wire.h"
#include "platform/atspi/bus/bus_client.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

// The registry on the bus answers.
bool registryAnswers();

// The root elements of the applications registered now (as fresh as
// freshness.h allows).
std::vector<ObjectRef> applicationRoots();

// The application's name (its root's Name). askForName sends the question
// ahead, with others the same command needs; applicationName reads that
// answer once, or asks anew.
void askForName(const ObjectRef& root);
bus::Reply<std::string> applicationName(const ObjectRef& root);

// The root element of the application of that process, or a null
// reference.
ObjectRef applicationForPid(Pid pid);

// The application found for the pid (root) has gone: the next lookup of the
// pid asks the registry anew.
void forgetApplication(Pid pid, const ObjectRef& root);

// The unique name has left the bus, or (an empty name) the bus itself has
// gone with every name on it: what was learnt of their applications goes,
// their process ids among it.
void forgetBusName(const std::string& busName);

}  // namespace focusctl::platform::atspi
