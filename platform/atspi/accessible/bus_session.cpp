#include "platform/atspi/accessible/bus_session.h"

#include <systemd/sd-bus.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>
#include <vector>

#include "platform/atspi/bus/bus_client.h"
#include "platform/atspi/desktop/x11_desktop.h"

namespace focusctl::platform::atspi {
namespace {

std::function<void(const Event&)> eventHandler;
std::vector<const wire::Signal*> listened;

bool nonEmpty(const char* value) { return value != nullptr && value[0] != '\0'; }

// The accessibility bus's address as the session bus's launcher announces
// it. The launcher is not started for us: without it running no
// application is accessible anyway.
std::optional<std::string> addressFromSessionBus() {
  sd_bus* raw = nullptr;
  if (sd_bus_open_user(&raw) < 0) return std::nullopt;
  bus::BusPtr session(raw);
  bus::MessagePtr reply = bus::callAndWait(session.get(), wire::busLauncherName,
                                           wire::busLauncherPath, wire::getBusAddress, nullptr);
  const char* address = nullptr;
  if (!reply || sd_bus_message_read_basic(reply.get(), 's', &address) < 0 || !nonEmpty(address)) {
    return std::nullopt;
  }
  return std::string(address);
}

// Where libatspi looks, in its order: AT_SPI_BUS_ADDRESS alone when it is
// set; else the X11 root window's AT_SPI_BUS, which costs a round trip on
// the display connection a command opens anyway, where a display is named
// and no Wayland one (even an empty name counts; AT_SPI_DISPLAY, which
// would name another display, is not followed); else the session bus's
// launcher. A stale root window property falls through to the launcher.
// The address is read anew each time: a bus started again has a new one.
bus::BusPtr connect() {
  if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); nonEmpty(given)) {
    return bus::connectTo(given);
  }
  if (std::getenv("DISPLAY") != nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("AT_SPI_DISPLAY") == nullptr) {
    std::string address = x11::accessibilityBusAddress();
    if (!address.empty()) {
      if (bus::BusPtr found = bus::connectTo(address)) return found;
    }
  }
  if (auto fromSession = addressFromSessionBus()) return bus::connectTo(*fromSession);
  return nullptr;
}

// A bus is back once its registry runs: the bus starts it when asked (as
// for any first call to it) where it can, and until it runs no application
// can be reached there (one that registers starts it too).
bool registryRuns(sd_bus* found) {
  const std::string registry(wire::registryName);
  if (bus::callAndWait(found, bus::daemonName, bus::daemonPath, bus::startServiceByName,
                       [&registry](sd_bus_message* call) {
                         return sd_bus_message_append(call, "su", registry.c_str(), 0u);
                       })) {
    return true;
  }
  bus::MessagePtr owner =
      bus::callAndWait(found, bus::daemonName, bus::daemonPath, bus::nameHasOwner,
                       [&registry](sd_bus_message* call) {
                         return sd_bus_message_append(call, "s", registry.c_str());
                       });
  int owned = 0;
  return owner && sd_bus_message_read_basic(owner.get(), 'b', &owned) >= 0 && owned != 0;
}

bus::BusPtr findAccessibilityBus(bool again) {
  bus::BusPtr found = connect();
  if (again && found && !registryRuns(found.get())) return nullptr;
  return found;
}

// Asks the registry to have applications send the event. Its answer is not
// awaited: the match rule is in place already, and events follow whenever
// the applications learn of the listener.
void registerWithRegistry(const wire::Signal& signal) {
  const std::string name(signal.eventName);
  bus::sendUnanswered(wire::registryName, wire::registryPath, wire::registerEvent,
                      [&name](sd_bus_message* call) {
                        return sd_bus_message_append(call, "sass", name.c_str(), 0, "");
                      });
}

// Read as it arrives, handed to the handler once the loop delivers it.
std::function<void()> readEvent(const wire::Signal& signal, sd_bus_message* message) {
  const char* detail = nullptr;
  Event event;
  if (sd_bus_message_read(message, "sii", &detail, &event.detail1, &event.detail2) < 0) {
    return nullptr;
  }
  const char* sender = sd_bus_message_get_sender(message);
  const char* path = sd_bus_message_get_path(message);
  if (sender == nullptr || path == nullptr) return nullptr;
  event.signal = &signal;
  event.detail = detail != nullptr ? detail : "";
  event.source = {sender, path};
  return [event = std::move(event)] {
    if (eventHandler) eventHandler(event);
  };
}

}  // namespace

bool busConnected() {
  static const bool finding = (bus::findBusWith(findAccessibilityBus), true);
  return finding && bus::connected();
}

void onEvent(std::function<void(const Event&)> handler) { eventHandler = std::move(handler); }

void listenFor(const wire::Signal& signal) {
  if (!busConnected()) return;
  if (std::find(listened.begin(), listened.end(), &signal) != listened.end()) return;
  listened.push_back(&signal);
  bus::listen(
      signal.match, [&signal](sd_bus_message* message) { return readEvent(signal, message); },
      [&signal] { registerWithRegistry(signal); });
}

void listenAgain() {
  if (!busConnected()) return;
  for (const wire::Signal* signal : listened) registerWithRegistry(*signal);
}

}  // namespace focusctl::platform::atspi
