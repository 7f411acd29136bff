#include "platform/atspi/bus_session.h"

#include <dbus/dbus.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "platform/atspi/ax_mapping.h"
#include "platform/atspi/quiet_stderr.h"
#include "platform/atspi/x11_desktop.h"

namespace focusctl::platform::atspi {
namespace {

// A probe after a failed call answers quickly or not at all: a hung
// application already cost the failed call its full timeout.
constexpr int probeTimeoutMs = 250;

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

// Whether libatspi can find a bus address without libdbus autolaunching a
// session bus of its own (which would leave daemons behind and take time).
// These are the places libatspi and libdbus look; the environment is asked
// first since it costs nothing.
bool busAddressKnown() {
  if (nonEmptyEnvironment("AT_SPI_BUS_ADDRESS") ||
      nonEmptyEnvironment("DBUS_SESSION_BUS_ADDRESS")) {
    return true;
  }
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir != nullptr && runtimeDir[0] != '\0' &&
      isSocket(std::string(runtimeDir) + "/bus")) {
    return true;
  }
  return nonEmptyEnvironment("DISPLAY") && !nonEmptyEnvironment("WAYLAND_DISPLAY") &&
         x11::rootHasProperty("AT_SPI_BUS");
}

// Unique bus names are never reused while the bus lives, so a process id
// once learnt for one stays right for the whole run.
std::unordered_map<std::string, Pid>& knownPids() {
  static std::unordered_map<std::string, Pid> pids;
  return pids;
}

struct DBusMessageUnref {
  void operator()(DBusMessage* message) const noexcept {
    if (message != nullptr) dbus_message_unref(message);
  }
};
using DBusMessagePtr = std::unique_ptr<DBusMessage, DBusMessageUnref>;

// Asks the element's own state over the bus, where the error name of a
// failure survives (libatspi keeps at most its message).
Liveness probe(AtspiAccessible* element) {
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
      connection, call.get(), probeTimeoutMs, &error));
  if (!reply) {
    Liveness answer = dbus_error_is_set(&error)
                          ? livenessFromErrorName(error.name)
                          : Liveness::unreachable;
    dbus_error_free(&error);
    return answer;
  }
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
    if (!busAddressKnown()) return false;
    QuietStandardError quiet;  // libatspi opens its own X connection here
    return atspi_init() == 0;
  }();
  return connected;
}

bool registryAnswers() {
  if (!busConnected()) return false;
  GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
  if (!desktop) return false;
  ErrorSlot error;
  return atspi_accessible_get_child_count(desktop.get(), error.out()) >= 0 &&
         !error;
}

std::vector<GRef<AtspiAccessible>> applicationRoots() {
  std::vector<GRef<AtspiAccessible>> roots;
  if (!busConnected()) return roots;
  GRef<AtspiAccessible> desktop(atspi_get_desktop(0));
  if (!desktop) return roots;
  ErrorSlot error;
  int count = atspi_accessible_get_child_count(desktop.get(), error.out());
  for (int i = 0; i < count; ++i) {
    GRef<AtspiAccessible> root(
        atspi_accessible_get_child_at_index(desktop.get(), i, error.out()));
    if (root) roots.push_back(std::move(root));
  }
  return roots;
}

Pid applicationPid(AtspiAccessible* element) {
  std::string bus = busNameOf(element);
  if (bus.empty()) return 0;
  auto known = knownPids().find(bus);
  if (known != knownPids().end()) return known->second;
  ErrorSlot error;
  guint pid = atspi_accessible_get_process_id(element, error.out());
  if (error || pid == 0 ||
      pid > static_cast<guint>(std::numeric_limits<Pid>::max())) {
    return 0;
  }
  knownPids().emplace(bus, static_cast<Pid>(pid));
  return static_cast<Pid>(pid);
}

GRef<AtspiAccessible> applicationForPid(Pid pid) {
  if (pid <= 0) return nullptr;
  // The application found for a pid stays the answer while it stays
  // connected; a one-shot command asks for it more than once. Kept for the
  // process like the connection, and never torn down at exit.
  static auto& found = *new std::unordered_map<Pid, GRef<AtspiAccessible>>;
  auto known = found.find(pid);
  if (known != found.end()) {
    if (!busNameOf(known->second.get()).empty()) return addRef(known->second.get());
    found.erase(known);
  }
  for (GRef<AtspiAccessible>& root : applicationRoots()) {
    if (applicationPid(root.get()) == pid) {
      found.emplace(pid, addRef(root.get()));
      return std::move(root);
    }
  }
  return nullptr;
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
