#include "platform/atspi/registered_applications.h"

#include <dbus/dbus.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/atspi/bus_session.h"
#include "platform/atspi/dbus_ptr.h"
#include "platform/atspi/freshness.h"
#include "platform/atspi/quiet_stderr.h"

namespace focusctl::platform::atspi {
namespace {

// Unique bus names are never reused while the bus lives, so a process id
// once learnt for one stays right for the whole run.
std::unordered_map<std::string, Pid>& knownPids() {
  static std::unordered_map<std::string, Pid> pids;
  return pids;
}

// When libatspi listed the desktop's children: the first time anything
// reached the desktop, which focusctl does first of all.
std::optional<Learnt>& desktopListed() {
  static std::optional<Learnt> listed;
  return listed;
}

// The desktop; *first tells whether this call reached it first, so that
// libatspi listed its children just now.
GRef<AtspiAccessible> desktop(bool* first = nullptr) {
  if (first != nullptr) *first = !desktopListed();
  GRef<AtspiAccessible> root(atspi_get_desktop(0));
  if (!desktopListed()) desktopListed() = learntNow();
  return root;
}

Fresh<int>& desktopChildCount() {
  static Fresh<int> count;
  return count;
}

// The number of registered applications, or -1 when the registry does not
// answer.
int registeredCount(AtspiAccessible* root) {
  if (const int* known = desktopChildCount().get()) return *known;
  ErrorSlot error;
  int count = atspi_accessible_get_child_count(root, error.out());
  if (error) count = -1;
  desktopChildCount().set(count);
  return count;
}

struct Roots {
  std::vector<GRef<AtspiAccessible>> roots;
  bool live = false;  // asked of the registry one by one, not libatspi's list
};

// Never torn down at exit, when libatspi may already be gone.
Fresh<Roots>& knownRoots() {
  static auto& roots = *new Fresh<Roots>;
  return roots;
}

// libatspi's own list of the desktop's children, taken when it first
// reached the desktop: used while that is fresh and the registry still
// counts as many applications.
std::optional<std::vector<GRef<AtspiAccessible>>> listedByLibatspi(
    AtspiAccessible* root, int count) {
  if (!desktopListed() || !isFresh(*desktopListed()) || root->children == nullptr ||
      root->children->len != static_cast<guint>(count)) {
    return std::nullopt;
  }
  std::vector<GRef<AtspiAccessible>> roots;
  for (guint i = 0; i < root->children->len; ++i) {
    auto* child = static_cast<AtspiAccessible*>(g_ptr_array_index(root->children, i));
    if (child == nullptr || busNameOf(child).empty()) return std::nullopt;
    roots.push_back(addRef(child));
  }
  return roots;
}

const Roots& currentRoots(bool live) {
  Roots* known = knownRoots().get();
  if (known != nullptr && (known->live || !live)) return *known;
  Roots fresh;
  GRef<AtspiAccessible> root = desktop();
  int count = root ? registeredCount(root.get()) : -1;
  fresh.live = count <= 0;
  if (count > 0) {
    if (auto listed = live ? std::nullopt : listedByLibatspi(root.get(), count)) {
      fresh.roots = std::move(*listed);
    } else {
      fresh.live = true;
      ErrorSlot error;
      for (int i = 0; i < count; ++i) {
        GRef<AtspiAccessible> child(
            atspi_accessible_get_child_at_index(root.get(), i, error.out()));
        if (child) fresh.roots.push_back(std::move(child));
      }
    }
  }
  return knownRoots().set(std::move(fresh));
}

// Learns the process ids of the applications not asked yet, all questions
// sent before the first answer is awaited: one wait instead of one per
// application.
void learnPids(const std::vector<GRef<AtspiAccessible>>& roots) {
  DBusConnection* connection = [] {
    QuietStandardError quiet;  // reconnects (through X11 too) if it was lost
    return atspi_get_a11y_bus();
  }();
  if (connection == nullptr) return;
  std::vector<std::pair<std::string, DBusPendingCallPtr>> asked;
  for (const GRef<AtspiAccessible>& root : roots) {
    std::string bus = busNameOf(root.get());
    if (bus.empty() || knownPids().contains(bus)) continue;
    if (std::any_of(asked.begin(), asked.end(),
                    [&](const auto& entry) { return entry.first == bus; })) {
      continue;
    }
    DBusMessagePtr call(dbus_message_new_method_call(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "GetConnectionUnixProcessID"));
    const char* name = bus.c_str();
    DBusPendingCall* pending = nullptr;
    if (!call ||
        !dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID) ||
        !dbus_connection_send_with_reply(connection, call.get(), &pending,
                                         DBUS_TIMEOUT_USE_DEFAULT) ||
        pending == nullptr) {
      continue;
    }
    asked.emplace_back(std::move(bus), pending);
  }
  for (auto& [bus, pending] : asked) {
    dbus_pending_call_block(pending.get());
    DBusMessagePtr reply(
        dbus_pending_call_steal_reply(pending.get()));
    dbus_uint32_t pid = 0;
    if (reply && dbus_message_get_type(reply.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
        dbus_message_get_args(reply.get(), nullptr, DBUS_TYPE_UINT32, &pid,
                              DBUS_TYPE_INVALID) &&
        pid != 0 && pid <= static_cast<dbus_uint32_t>(std::numeric_limits<Pid>::max())) {
      knownPids().emplace(bus, static_cast<Pid>(pid));
    }
  }
}

GRef<AtspiAccessible> findByPid(const std::vector<GRef<AtspiAccessible>>& roots, Pid pid) {
  learnPids(roots);
  for (const GRef<AtspiAccessible>& root : roots) {
    if (applicationPid(root.get()) == pid) return addRef(root.get());
  }
  return nullptr;
}

// The application found for each pid, while it stays connected: a one-shot
// command asks for it more than once, and a watcher each time the
// application comes to the front. Kept for the process like the connection,
// and never torn down at exit.
std::unordered_map<Pid, GRef<AtspiAccessible>>& foundApplications() {
  static auto& found = *new std::unordered_map<Pid, GRef<AtspiAccessible>>;
  return found;
}

}  // namespace

bool registryAnswers() {
  if (!busConnected()) return false;
  bool first = false;
  GRef<AtspiAccessible> root = desktop(&first);
  if (!root) return false;
  // Reaching the desktop first, libatspi asked the registry for the
  // applications just now; it lists none unless the registry answered.
  if (first && root->children != nullptr && root->children->len > 0) {
    desktopChildCount().set(static_cast<int>(root->children->len));
    return true;
  }
  // Otherwise the registry is asked for their number, which the lookups of
  // this command then start from.
  desktopChildCount().forget();
  return registeredCount(root.get()) >= 0;
}

std::vector<GRef<AtspiAccessible>> applicationRoots() {
  std::vector<GRef<AtspiAccessible>> roots;
  if (!busConnected()) return roots;
  for (const GRef<AtspiAccessible>& root : currentRoots(false).roots) {
    roots.push_back(addRef(root.get()));
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
  if (pid <= 0 || !busConnected()) return nullptr;
  auto known = foundApplications().find(pid);
  if (known != foundApplications().end()) {
    if (!busNameOf(known->second.get()).empty()) return addRef(known->second.get());
    foundApplications().erase(known);
  }
  GRef<AtspiAccessible> found = findByPid(currentRoots(false).roots, pid);
  // Not in libatspi's list: the registry itself is asked, once while that
  // answer is fresh (a pid without an application stays without one).
  if (!found && !currentRoots(false).live) found = findByPid(currentRoots(true).roots, pid);
  if (found) foundApplications().insert_or_assign(pid, addRef(found.get()));
  return found;
}

void forgetApplication(Pid pid, AtspiAccessible* root) {
  auto known = foundApplications().find(pid);
  if (known != foundApplications().end() && known->second.get() == root) {
    foundApplications().erase(known);
  }
  // The applications listed are old news too.
  knownRoots().forget();
  desktopChildCount().forget();
}

}  // namespace focusctl::platform::atspi
