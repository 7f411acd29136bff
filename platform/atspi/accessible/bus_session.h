// The process's one connection to the accessibility bus, found where
// libatspi looks for it, and the AT-SPI events asked of its registry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/atspi/accessible/atspi_wire.h"

namespace focusctl::platform::atspi {

// Connects on first use and keeps the connection for the process: the
// address from AT_SPI_BUS_ADDRESS, else from the X11 root window's
// AT_SPI_BUS, else from the session bus's org.a11y.Bus (which is not started
// for us if it is not running). False when none leads to a bus, and while
// the loop has found the bus lost until it has connected again, which it
// takes for connected once the registry runs there. Never launches a bus;
// writes nothing to standard error.
bool busConnected();

// Events, handed to the handler from the loop (bus_client.h).
struct Event {
  const wire::Signal* signal = nullptr;  // which of those listened for
  ObjectRef source;                      // the sender and the object path
  std::string detail;
  std::int32_t detail1 = 0;
  std::int32_t detail2 = 0;
};
void onEvent(std::function<void(const Event&)> handler);
// Adds the signal's match rule and registers its event with the registry,
// once per process for each signal (and again on a bus found again).
void listenFor(const wire::Signal& signal);
// Registers every signal listened for with the registry again: after the
// registry restarted, it knows of none.
void listenAgain();

}  // namespace focusctl::platform::atspi
