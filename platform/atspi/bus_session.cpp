#include "platform/atspi/bus_session.h"

#include <dbus/dbus.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <unordered_map>

#include "platform/atspi/ax_mapping.h"
#include "platform/atspi/dbus_ptr.h"
#include "platform/atspi/freshness.h"
#include "platform/atspi/quiet_stderr.h"
#include "platform/atspi/x11_desktop.h"

namespace focusctl::platform::atspi {
namespace {

// A probe after a failed call answers quickly or not at all: a hung
// application already cost the failed call its full timeout.
constexpr int probeTimeoutMs = 250;

// How long a call may wait for an application. libatspi allows an
// application it first saw less than 15 s ago that long instead, and to a
// one-shot command every application is new: a hung application in front
// would hold each command for 15 s. One wait plus the probe after it stays
// well under two seconds; no allowance for new applications.
constexpr int callTimeoutMs = 800;
constexpr int newApplicationAllowanceMs = 0;

bool initialise() {
  if (atspi_init() != 0) return false;
  atspi_set_timeout(callTimeoutMs, newApplicationAllowanceMs);
  return true;
}

GLogWriterOutput dropStructuredLog(GLogLevelFlags, const GLogField*, gsize,
                                   gpointer) {
  return G_LOG_WRITER_HANDLED;
}

void dropLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

bool nonEmptyEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

bool isSocket(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// Where libatspi will find the accessibility bus: AT_SPI_BUS_ADDRESS, else
// the AT_SPI_BUS property of the X display's root window (unless Wayland is
// named), else the session bus's org.a11y.Bus.
struct BusLookup {
  // libatspi can find an address without libdbus autolaunching a session
  // bus of its own (which would leave daemons behind and take time).
  bool known = false;
  // What libatspi would read from the root window, read on focusctl's own
  // X connection; empty when libatspi would not read it or finds nothing.
  std::string fromX;
};

BusLookup lookUpBus() {
  BusLookup lookup;
  if (nonEmptyEnvironment("AT_SPI_BUS_ADDRESS")) {
    lookup.known = true;
    return lookup;
  }
  // libatspi's own conditions: DISPLAY and no WAYLAND_DISPLAY, set at all;
  // it reads AT_SPI_DISPLAY instead when that is set, which is left to it.
  std::optional<x11::BusProperty> property;
  if (std::getenv("DISPLAY") != nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("AT_SPI_DISPLAY") == nullptr) {
    property = x11::accessibilityBusProperty();
    lookup.fromX = property->address;
  }
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  lookup.known =
      nonEmptyEnvironment("DBUS_SESSION_BUS_ADDRESS") ||
      (runtimeDir != nullptr && runtimeDir[0] != '\0' &&
       isSocket(std::string(runtimeDir) + "/bus")) ||
      (nonEmptyEnvironment("DISPLAY") && !nonEmptyEnvironment("WAYLAND_DISPLAY") &&
       (property ? property->present : x11::accessibilityBusProperty().present));
  return lookup;
}

// Applications whose probe went unanswered, by bus name: while that is
// fresh, lookups skip them instead of waiting out another call.
std::unordered_map<std::string, Fresh<bool>>& unresponsive() {
  static auto& applications = *new std::unordered_map<std::string, Fresh<bool>>;
  return applications;
}

// Asks the element's own state over the bus, where the error name of a
// failure survives (libatspi keeps at most its message).
Liveness probe(AtspiAccessible* element, int timeoutMs = probeTimeoutMs) {
  std::string bus = busNameOf(element);
  std::string path = pathOf(element);
  if (bus.empty() || path.empty()) return Liveness::vanished;
  DBusConnection* connection = [] {
    QuietStandardError quiet;  // reconnects (through X11 too) if it was lost
    return atspi_get_a11y_bus();
  }();
  if (connection == nullptr) return Liveness::unreachable;
  DBusMessagePtr call(dbus_message_new_method_call(
      bus.c_str(), path.c_str(), "org.a11y.atspi.Accessible", "GetState"));
  if (!call) return Liveness::unreachable;
  DBusError error;
  dbus_error_init(&error);
  DBusMessagePtr reply(dbus_connection_send_with_reply_and_block(
      connection, call.get(), timeoutMs, &error));
  if (!reply) {
    Liveness answer = dbus_error_is_set(&error)
                          ? livenessFromErrorName(error.name)
                          : Liveness::unreachable;
    if (answer == Liveness::unreachable && dbus_error_has_name(&error, DBUS_ERROR_NO_REPLY)) {
      unresponsive()[bus].set(true);
    }
    dbus_error_free(&error);
    return answer;
  }
  unresponsive().erase(bus);
  DBusMessageIter iter;
  DBusMessageIter words;
  if (!dbus_message_iter_init(reply.get(), &iter) ||
      dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) {
    return Liveness::unreachable;
  }
  dbus_message_iter_recurse(&iter, &words);
  std::uint64_t states = 0;
  for (int shift = 0; shift < 64 &&
                      dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32;
       shift += 32) {
    dbus_uint32_t word = 0;
    dbus_message_iter_get_basic(&words, &word);
    states |= static_cast<std::uint64_t>(word) << shift;
    dbus_message_iter_next(&words);
  }
  if (states & (std::uint64_t{1} << ATSPI_STATE_DEFUNCT)) return Liveness::vanished;
  return Liveness::alive;
}

}  // namespace

void silenceLibraryLogs() {
  static const bool silenced = [] {
    g_log_set_writer_func(dropStructuredLog, nullptr, nullptr);
    g_log_set_default_handler(dropLog, nullptr);
    return true;
  }();
  (void)silenced;
}

bool busConnected() {
  static const bool connected = [] {
    silenceLibraryLogs();
    BusLookup bus = lookUpBus();
    if (!bus.known) return false;
    QuietStandardError quiet;  // libatspi may open its own X connection here
    if (bus.fromX.empty()) return initialise();
    // The address libatspi would read from X, handed over so that it does
    // not open a display connection of its own for it; only while it
    // connects, so that nothing else sees the variable.
    ::setenv("AT_SPI_BUS_ADDRESS", bus.fromX.c_str(), 1);
    bool initialised = initialise();
    ::unsetenv("AT_SPI_BUS_ADDRESS");
    return initialised;
  }();
  return connected;
}

std::string busNameOf(AtspiAccessible* element) {
  if (element == nullptr || element->parent.app == nullptr ||
      element->parent.app->bus == nullptr ||
      element->parent.app->bus_name == nullptr) {
    return {};
  }
  return element->parent.app->bus_name;
}

std::string pathOf(AtspiAccessible* element) {
  if (element == nullptr || element->parent.path == nullptr) return {};
  return element->parent.path;
}

ResultCode failureCode(AtspiAccessible* element) {
  return probe(element) == Liveness::vanished ? code::invalidElement
                                              : code::cannotComplete;
}

bool knownUnresponsive(AtspiAccessible* element) {
  auto& applications = unresponsive();
  std::erase_if(applications, [](const auto& entry) { return entry.second.get() == nullptr; });
  return applications.contains(busNameOf(element));
}

namespace {

struct LaterProbe {
  std::string bus;
  std::function<void(bool)> done;
  bool inTime = true;
};

gboolean deliverProbe(gpointer data) {
  auto* later = static_cast<LaterProbe*>(data);
  // Time has passed: the desktop is looked at anew, as for an event.
  desktopMayHaveChanged();
  if (!later->inTime) unresponsive()[later->bus].set(true);
  later->done(later->inTime);
  return G_SOURCE_REMOVE;
}

void dropProbe(gpointer data) { delete static_cast<LaterProbe*>(data); }

// libdbus may complete the call inside any blocking call libatspi makes:
// the answer is only handed on to the main loop from here.
void probeAnswered(DBusPendingCall* pending, void* data) {
  auto* later = static_cast<LaterProbe*>(data);
  DBusMessagePtr reply(dbus_pending_call_steal_reply(pending));
  later->inTime = !reply || dbus_message_get_type(reply.get()) != DBUS_MESSAGE_TYPE_ERROR ||
                  !dbus_message_is_error(reply.get(), DBUS_ERROR_NO_REPLY);
  g_idle_add_full(G_PRIORITY_DEFAULT, deliverProbe, later, dropProbe);
}

}  // namespace

void probeLater(AtspiAccessible* element, std::function<void(bool)> done) {
  std::string bus = busNameOf(element);
  std::string path = pathOf(element);
  DBusConnection* connection = [] {
    QuietStandardError quiet;
    return atspi_get_a11y_bus();
  }();
  DBusMessagePtr call(connection == nullptr || bus.empty() || path.empty()
                          ? nullptr
                          : dbus_message_new_method_call(bus.c_str(), path.c_str(),
                                                         "org.a11y.atspi.Accessible",
                                                         "GetState"));
  auto* later = new LaterProbe{bus, std::move(done)};
  DBusPendingCall* sent = nullptr;
  if (!call ||
      !dbus_connection_send_with_reply(connection, call.get(), &sent, callTimeoutMs) ||
      sent == nullptr) {
    // Not asked at all: nothing to wait for.
    g_idle_add_full(G_PRIORITY_DEFAULT, deliverProbe, later, dropProbe);
    return;
  }
  DBusPendingCallPtr pending(sent);
  dbus_pending_call_set_notify(pending.get(), probeAnswered, later, nullptr);
}

std::optional<ResultCode> unreachableCode(AtspiAccessible* element) {
  switch (probe(element)) {
    case Liveness::alive:
      return std::nullopt;
    case Liveness::vanished:
      return code::invalidElement;
    case Liveness::unreachable:
      break;
  }
  return code::cannotComplete;
}

}  // namespace focusctl::platform::atspi
