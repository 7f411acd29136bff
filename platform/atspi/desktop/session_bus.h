// The user's session bus, apart from the accessibility bus: where
// applications own their well-known names and where KWin and GApplication
// take activation requests. A few calls per command, sent together and
// waited for together, within the command's budget.
#pragma once

#include <string>
#include <vector>

#include "platform/atspi/bus/bus_client.h"

namespace focusctl::platform::session {

struct Call {
  std::string destination;
  std::string path;
  std::string interface;
  std::string member;
  // Appends the arguments; nothing to append when empty.
  atspi::bus::Appender append;
};

// The reply; null when the call failed.
using Answer = atspi::bus::MessagePtr;

// Sends the calls at once and waits for every answer, each at most a call's
// timeout and never past the command's budget. Nothing ever starts a
// service for them. All fail when there is no session bus.
std::vector<Answer> callAll(const std::vector<Call>& calls);

}  // namespace focusctl::platform::session
