#include "platform/atspi/bus/bus_client.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <deque>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/atspi/bus/bounded_map.h"
#include "platform/atspi/bus/freshness.h"
#include "platform/atspi/desktop/x11_desktop.h"

namespace focusctl::platform::atspi::bus {
namespace {

using Clock = std::chrono::steady_clock;

// Calls in flight at once: enough for a whole level of a wide tree to
// travel together, few enough that the last one's timeout does not run out
// while the application answers the ones before it.
constexpr std::size_t maxInFlight = 32;

struct BusUnref {
  void operator()(sd_bus* bus) const noexcept { sd_bus_flush_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;

struct MessageUnref {
  void operator()(sd_bus_message* message) const noexcept { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// The connection, for the process. Kept alive at exit: nothing is owed to
// the bus when the process ends.
sd_bus* theBus = nullptr;

std::optional<Clock::time_point> budgetEnd;
std::unordered_map<std::string, Clock::time_point> hungSince;

// Sent and waiting for their reply, by the address of their pending record.
std::unordered_map<detail::Pending*, std::shared_ptr<detail::Pending>> inFlight;

struct Unsent {
  std::shared_ptr<detail::Pending> pending;
  MessagePtr message;
};
std::deque<Unsent> unsent;

std::function<void(const Event&)> eventHandler;
std::function<void(const NameChange&)> nameHandler;
std::function<void(bool)> connectionHandler;
// Signals and name changes wait here while a call waits; however fast the
// applications send, only the latest are kept (the oldest would be
// superseded anyway).
constexpr std::size_t maxQueued = 4096;
std::deque<Event> queuedEvents;
std::deque<NameChange> queuedNameChanges;
std::deque<std::shared_ptr<detail::Pending>> queuedThens;
// Unique names that have left the bus, the latest ones; never reused while
// it lives.
BoundedMap<std::string, bool> departed(1024);
std::vector<const wire::Signal*> listened;

struct Timer {
  Clock::time_point due;
  std::function<void()> callback;
};
std::map<TimerId, Timer> timers;
TimerId lastTimer = 0;
struct Readable {
  int fd = -1;
  std::function<bool()> readable;
  std::function<bool()> waiting;
};
std::vector<Readable> readables;

std::string terminated(std::string_view text) { return std::string(text); }

bool nonEmpty(const char* value) { return value != nullptr && value[0] != '\0'; }

// One call that waits for its reply, on a connection that is not (yet)
// the process's own, so no loop is bypassed; null when it failed. Its
// destination is not started for it.
MessagePtr callAndWait(sd_bus* bus, std::string_view destination, std::string_view path,
                       const wire::Method& method, const detail::Appender& append) {
  sd_bus_message* call = nullptr;
  if (sd_bus_message_new_method_call(bus, &call, terminated(destination).c_str(),
                                     terminated(path).c_str(),
                                     terminated(method.interface).c_str(),
                                     terminated(method.member).c_str()) < 0) {
    return nullptr;
  }
  MessagePtr owned(call);
  sd_bus_message_set_auto_start(call, 0);
  if (append && append(call) < 0) return nullptr;
  sd_bus_message* reply = nullptr;
  if (sd_bus_call(bus, call, std::uint64_t{callTimeoutMs} * 1000, nullptr, &reply) < 0) {
    return nullptr;
  }
  return MessagePtr(reply);
}

// The accessibility bus's address as the session bus's launcher announces
// it. The launcher is not started for us: without it running no
// application is accessible anyway.
std::optional<std::string> addressFromSessionBus() {
  sd_bus* raw = nullptr;
  if (sd_bus_open_user(&raw) < 0) return std::nullopt;
  BusPtr session(raw);
  MessagePtr reply = callAndWait(session.get(), wire::busLauncherName, wire::busLauncherPath,
                                 wire::getBusAddress, nullptr);
  const char* address = nullptr;
  if (!reply || sd_bus_message_read_basic(reply.get(), 's', &address) < 0 || !nonEmpty(address)) {
    return std::nullopt;
  }
  return std::string(address);
}

sd_bus* connectTo(const std::string& address) {
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  BusPtr bus(raw);
  if (sd_bus_set_address(bus.get(), address.c_str()) < 0 ||
      sd_bus_set_bus_client(bus.get(), 1) < 0 || sd_bus_start(bus.get()) < 0) {
    return nullptr;
  }
  return bus.release();
}

int onSignal(sd_bus_message* message, void*, sd_bus_error*);
int onNameOwnerChangedSignal(sd_bus_message* message, void*, sd_bus_error*);

// Where libatspi looks, in its order: AT_SPI_BUS_ADDRESS alone when it is
// set; else the X11 root window's AT_SPI_BUS, which costs a round trip on
// the display connection a command opens anyway, where a display is named
// and no Wayland one (even an empty name counts; AT_SPI_DISPLAY, which
// would name another display, is not followed); else the session bus's
// launcher. A stale root window property falls through to the launcher.
sd_bus* connect() {
  if (const char* given = std::getenv("AT_SPI_BUS_ADDRESS"); nonEmpty(given)) {
    return connectTo(given);
  }
  if (std::getenv("DISPLAY") != nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("AT_SPI_DISPLAY") == nullptr) {
    x11::BusProperty property = x11::accessibilityBusProperty();
    if (!property.address.empty()) {
      if (sd_bus* bus = connectTo(property.address)) return bus;
    }
  }
  if (auto fromSession = addressFromSessionBus()) return connectTo(*fromSession);
  return nullptr;
}

int timeoutFor(const std::string& destination) {
  auto now = Clock::now();
  if (auto hung = hungSince.find(destination); hung != hungSince.end()) {
    if (now - hung->second < std::chrono::milliseconds(hungForMs)) return 0;
    hungSince.erase(hung);
  }
  int timeout = callTimeoutMs;
  if (budgetEnd) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*budgetEnd - now).count();
    timeout = static_cast<int>(std::clamp<long long>(left, 0, timeout));
  }
  return timeout;
}

void finish(detail::Pending& pending, bool timedOut, std::string errorName) {
  pending.outcome.done = true;
  pending.outcome.ok = false;
  pending.outcome.timedOut = timedOut;
  pending.outcome.errorName = std::move(errorName);
}

void finishShared(const std::shared_ptr<detail::Pending>& pending, bool timedOut,
                  std::string errorName) {
  finish(*pending, timedOut, std::move(errorName));
  if (pending->then) queuedThens.push_back(pending);
}

void sendUnsent();

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* key = static_cast<detail::Pending*>(userdata);
  auto found = inFlight.find(key);
  if (found == inFlight.end()) return 0;
  std::shared_ptr<detail::Pending> pending = std::move(found->second);
  inFlight.erase(found);
  if (sd_bus_message_is_method_error(reply, nullptr)) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    std::string name = error != nullptr && error->name != nullptr ? error->name : "";
    // sd-bus answers an expired call itself with NoReply; a NoReply from
    // the bus daemon (the application left without answering) comes before
    // our timeout.
    bool timedOut = name == wire::noReply &&
                    Clock::now() - pending->sentAt >=
                        std::chrono::milliseconds(pending->timeoutMs);
    // Only a call given its whole time says the application hangs; one
    // cut short by the budget says nothing of it.
    if (timedOut && pending->timeoutMs >= callTimeoutMs) {
      hungSince[pending->destination] = Clock::now();
    }
    finishShared(pending, timedOut, std::move(name));
  } else {
    pending->outcome.done = true;
    pending->outcome.ok = pending->parse(reply);
    if (!pending->outcome.ok) pending->outcome.errorName = "org.freedesktop.DBus.Error.InvalidSignature";
    if (pending->then) queuedThens.push_back(pending);
  }
  sendUnsent();
  return 0;
}

bool sendNow(const std::shared_ptr<detail::Pending>& pending, sd_bus_message* message) {
  int timeout = timeoutFor(pending->destination);
  if (timeout <= 0) {
    finishShared(pending, true, terminated(wire::noReply));
    return true;
  }
  pending->sentAt = Clock::now();
  pending->timeoutMs = timeout;
  inFlight.emplace(pending.get(), pending);
  if (sd_bus_call_async(theBus, nullptr, message, onReply, pending.get(),
                        std::uint64_t(timeout) * 1000) < 0) {
    inFlight.erase(pending.get());
    finishShared(pending, false, "org.freedesktop.DBus.Error.Disconnected");
  }
  return true;
}

void sendUnsent() {
  while (!unsent.empty() && inFlight.size() < maxInFlight) {
    Unsent next = std::move(unsent.front());
    unsent.pop_front();
    sendNow(next.pending, next.message.get());
  }
}

// Whatever is still waiting fails: the connection is gone.
void failEverything() {
  for (auto& [key, pending] : inFlight) {
    finishShared(pending, false, "org.freedesktop.DBus.Error.Disconnected");
  }
  inFlight.clear();
  for (Unsent& waiting : unsent) {
    finishShared(waiting.pending, false, "org.freedesktop.DBus.Error.Disconnected");
  }
  unsent.clear();
}

// Serves the connection until done() holds: dispatches everything
// received and, with nothing to dispatch, waits until something arrives or
// the next call expires. False once the connection is lost.
bool serveUntil(const std::function<bool()>& done) {
  while (!done()) {
    int processed = sd_bus_process(theBus, nullptr);
    if (processed < 0) {
      failEverything();
      return false;
    }
    // An expired call is answered from inside sd_bus_process, which may
    // still say it did nothing: look again before sleeping.
    if (processed > 0 || done()) continue;
    int waited = sd_bus_wait(theBus, UINT64_MAX);
    if (waited < 0 && waited != -EINTR) {
      failEverything();
      return false;
    }
  }
  return true;
}

const wire::Signal* signalOf(sd_bus_message* message, std::string_view detail) {
  const char* interface = sd_bus_message_get_interface(message);
  const char* member = sd_bus_message_get_member(message);
  if (interface == nullptr || member == nullptr) return nullptr;
  for (const wire::Signal* signal : listened) {
    if (signal->interface == interface && signal->member == member &&
        (signal->detail.empty() || signal->detail == detail)) {
      return signal;
    }
  }
  return nullptr;
}

// Queued, not handled here: a signal may arrive while a call waits.
int onSignal(sd_bus_message* message, void*, sd_bus_error*) {
  const char* detail = nullptr;
  Event event;
  if (sd_bus_message_read(message, "sii", &detail, &event.detail1, &event.detail2) < 0) {
    return 0;
  }
  event.detail = detail != nullptr ? detail : "";
  event.signal = signalOf(message, event.detail);
  const char* sender = sd_bus_message_get_sender(message);
  const char* path = sd_bus_message_get_path(message);
  if (event.signal == nullptr || sender == nullptr || path == nullptr) return 0;
  event.source = {sender, path};
  if (queuedEvents.size() >= maxQueued) queuedEvents.pop_front();
  queuedEvents.push_back(std::move(event));
  return 0;
}

int onNameOwnerChangedSignal(sd_bus_message* message, void*, sd_bus_error*) {
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  // Known at once, even inside a call's wait: what a departed application
  // answered before it left is not served as current.
  if (name[0] == ':' && newOwner[0] == '\0') {
    departed.put(name, true);
    hungSince.erase(name);
  }
  if (queuedNameChanges.size() >= maxQueued) queuedNameChanges.pop_front();
  queuedNameChanges.push_back({name, oldOwner, newOwner});
  return 0;
}

std::string matchRule(const wire::Signal& signal) {
  std::string rule = "type='signal',interface='" + std::string(signal.interface) +
                     "',member='" + std::string(signal.member) + "'";
  if (!signal.detail.empty()) rule += ",arg0='" + std::string(signal.detail) + "'";
  return rule;
}

// Asks the registry to have applications send the event. Its answer is not
// awaited: the match rule is in place already, and events follow whenever
// the applications learn of the listener.
void registerWithRegistry(const wire::Signal& signal) {
  sd_bus_message* call = nullptr;
  if (sd_bus_message_new_method_call(theBus, &call, terminated(wire::registryName).c_str(),
                                     terminated(wire::registryPath).c_str(),
                                     terminated(wire::registerEvent.interface).c_str(),
                                     terminated(wire::registerEvent.member).c_str()) < 0) {
    return;
  }
  MessagePtr owned(call);
  std::string name(signal.eventName);
  if (sd_bus_message_append(call, "sass", name.c_str(), 0, "") < 0) return;
  sd_bus_message_set_expect_reply(call, 0);
  sd_bus_send(theBus, call, nullptr);
}

// Each handler the loop runs has a one-shot command's time for its calls,
// so that a hostile application cannot hold the watcher up for longer; a
// handler run while a command waits keeps the command's own budget.
constexpr std::chrono::milliseconds deliveryBudget{1600};

class Delivery {
 public:
  Delivery() : own_(!budgetEnd) {
    if (own_) budgetEnd = Clock::now() + deliveryBudget;
  }
  ~Delivery() {
    if (own_) budgetEnd.reset();
  }
  Delivery(const Delivery&) = delete;
  Delivery& operator=(const Delivery&) = delete;

 private:
  bool own_;
};

void deliverQueued() {
  while (!queuedThens.empty()) {
    std::shared_ptr<detail::Pending> done = std::move(queuedThens.front());
    queuedThens.pop_front();
    std::function<void()> then = std::move(done->then);
    Delivery delivery;
    if (then) then();
  }
  while (!queuedNameChanges.empty()) {
    NameChange change = std::move(queuedNameChanges.front());
    queuedNameChanges.pop_front();
    Delivery delivery;
    if (nameHandler) nameHandler(change);
  }
  while (!queuedEvents.empty()) {
    Event event = std::move(queuedEvents.front());
    queuedEvents.pop_front();
    Delivery delivery;
    if (eventHandler) eventHandler(event);
  }
}

void runDueTimers() {
  auto now = Clock::now();
  std::vector<TimerId> due;
  for (const auto& [id, timer] : timers) {
    if (timer.due <= now) due.push_back(id);
  }
  for (TimerId id : due) {
    auto timer = timers.find(id);
    if (timer == timers.end()) continue;  // cancelled by an earlier one
    std::function<void()> callback = std::move(timer->second.callback);
    timers.erase(timer);
    Delivery delivery;
    callback();
  }
}

// Milliseconds until the earliest of the next timer and the bus's own next
// deadline (an expiring call); -1 for none.
int pollTimeout() {
  std::optional<Clock::time_point> next;
  for (const auto& [id, timer] : timers) {
    if (!next || timer.due < *next) next = timer.due;
  }
  int timeout = -1;
  if (next) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    timeout = static_cast<int>(std::max<long long>(left, 0));
  }
  std::uint64_t busDue = 0;
  if (theBus != nullptr && sd_bus_get_timeout(theBus, &busDue) >= 0 && busDue != UINT64_MAX) {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t nowUs = std::uint64_t(now.tv_sec) * 1000000 + std::uint64_t(now.tv_nsec) / 1000;
    int busLeft = busDue <= nowUs ? 0 : static_cast<int>((busDue - nowUs + 999) / 1000);
    timeout = timeout < 0 ? busLeft : std::min(timeout, busLeft);
  }
  return timeout;
}

// Asks for the signal's events: its own match rule (signals sharing
// interface and member, StateChanged for focused and for active, are told
// apart by the detail) and its registration with the registry.
void subscribe(const wire::Signal& signal) {
  sd_bus_add_match_async(theBus, nullptr, matchRule(signal).c_str(), onSignal, nullptr,
                         nullptr);
  registerWithRegistry(signal);
}

// The connection becomes the process's own, with what is listened for in
// place on it: the name changes and every signal (none yet on the first
// connect).
void adopt(sd_bus* bus) {
  theBus = bus;
  sd_bus_add_match_async(theBus, nullptr, terminated(wire::nameOwnerChangedRule).c_str(),
                         onNameOwnerChangedSignal, nullptr, nullptr);
  for (const wire::Signal* signal : listened) subscribe(*signal);
}

}  // namespace

bool connected() {
  static const bool tried = [] {
    if (sd_bus* bus = connect()) adopt(bus);
    return true;
  }();
  return tried && theBus != nullptr;
}

std::string uniqueName() {
  const char* name = nullptr;
  if (!connected() || sd_bus_get_unique_name(theBus, &name) < 0 || name == nullptr) return {};
  return name;
}

bool hasLeft(const std::string& busName) { return departed.contains(busName); }

bool isHung(const std::string& busName) {
  auto hung = hungSince.find(busName);
  return hung != hungSince.end() &&
         Clock::now() - hung->second < std::chrono::milliseconds(hungForMs);
}

void setCallBudget(std::chrono::milliseconds budget) { budgetEnd = Clock::now() + budget; }

std::optional<std::chrono::milliseconds> budgetLeft() {
  if (!budgetEnd) return std::nullopt;
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(*budgetEnd - Clock::now()));
}

bool outOfTime() { return budgetEnd && Clock::now() >= *budgetEnd; }

namespace detail {

void send(std::shared_ptr<Pending> pending, const std::string& destination,
          const std::string& path, std::string_view interface, std::string_view member,
          const Appender& append) {
  pending->destination = destination;
  if (!connected()) {
    finish(*pending, false, "org.freedesktop.DBus.Error.Disconnected");
    return;
  }
  sd_bus_message* call = nullptr;
  if (destination.empty() || path.empty() ||
      sd_bus_message_new_method_call(theBus, &call, destination.c_str(), path.c_str(),
                                     terminated(interface).c_str(),
                                     terminated(member).c_str()) < 0) {
    finish(*pending, false, "org.freedesktop.DBus.Error.InvalidArgs");
    return;
  }
  MessagePtr message(call);
  if (append && append(call) < 0) {
    finish(*pending, false, "org.freedesktop.DBus.Error.InvalidArgs");
    return;
  }
  // Calls go to unique names, which start nothing, or to the registry,
  // which the bus starts again after a crash as it would for libatspi.
  if (inFlight.size() >= maxInFlight) {
    unsent.push_back({std::move(pending), std::move(message)});
    return;
  }
  sendNow(pending, call);
}

void queueThen(std::shared_ptr<Pending> pending) {
  if (pending->then) queuedThens.push_back(std::move(pending));
}

void awaitDone(Pending& pending) {
  serveUntil([&] { return pending.outcome.done; });
  if (!pending.outcome.done) finish(pending, false, "org.freedesktop.DBus.Error.Disconnected");
}

}  // namespace detail

void awaitAll() {
  serveUntil([] { return inFlight.empty() && unsent.empty(); });
}

void onEvent(std::function<void(const Event&)> handler) { eventHandler = std::move(handler); }

void onNameOwnerChanged(std::function<void(const NameChange&)> handler) {
  nameHandler = std::move(handler);
}

void onConnectionChange(std::function<void(bool)> handler) {
  connectionHandler = std::move(handler);
}

void listenFor(const wire::Signal& signal) {
  if (!connected()) return;
  if (std::find(listened.begin(), listened.end(), &signal) != listened.end()) return;
  listened.push_back(&signal);
  subscribe(signal);
}

void listenAgain() {
  if (!connected()) return;
  for (const wire::Signal* signal : listened) registerWithRegistry(*signal);
}

TimerId addTimer(std::chrono::milliseconds after, std::function<void()> callback) {
  timers.emplace(++lastTimer, Timer{Clock::now() + after, std::move(callback)});
  return lastTimer;
}

void cancelTimer(TimerId id) { timers.erase(id); }

void watchReadable(int fd, std::function<bool()> readable, std::function<bool()> waiting) {
  readables.push_back({fd, std::move(readable), std::move(waiting)});
}

namespace {

void callReadable(int fd) {
  for (auto watched = readables.begin(); watched != readables.end(); ++watched) {
    if (watched->fd != fd) continue;
    std::function<bool()> readable = watched->readable;
    Delivery delivery;
    if (!readable()) {
      std::erase_if(readables, [fd](const Readable& entry) { return entry.fd == fd; });
    }
    return;
  }
}

}  // namespace

namespace {

void lookForTheBus();

// The bus is gone: whatever waits on it fails, what was learnt of its
// names goes with it, and it is looked for again until it is back; what
// else is watched still runs meanwhile.
void lose() {
  failEverything();
  BusPtr gone(std::exchange(theBus, nullptr));
  departed.clear();
  hungSince.clear();
  queuedEvents.clear();
  queuedNameChanges.clear();
  addTimer(std::chrono::milliseconds(reconnectMs), lookForTheBus);
  if (connectionHandler) connectionHandler(false);
}

// A bus is back once its registry runs: the bus starts it when asked (as
// for any first call to it) where it can, and until it runs no application
// can be reached there (one that registers starts it too).
bool registryRuns(sd_bus* bus) {
  const std::string registry(wire::registryName);
  if (callAndWait(bus, wire::busDaemonName, wire::busDaemonPath, wire::startServiceByName,
                  [&registry](sd_bus_message* call) {
                    return sd_bus_message_append(call, "su", registry.c_str(), 0u);
                  })) {
    return true;
  }
  MessagePtr owner = callAndWait(bus, wire::busDaemonName, wire::busDaemonPath,
                                 wire::nameHasOwner, [&registry](sd_bus_message* call) {
                                   return sd_bus_message_append(call, "s", registry.c_str());
                                 });
  int owned = 0;
  return owner && sd_bus_message_read_basic(owner.get(), 'b', &owned) >= 0 && owned != 0;
}

void lookForTheBus() {
  // The address is read anew, the root window's property included: a bus
  // started again has a new one.
  desktopMayHaveChanged();
  BusPtr bus(connect());
  if (!bus || !registryRuns(bus.get())) {
    addTimer(std::chrono::milliseconds(reconnectMs), lookForTheBus);
    return;
  }
  adopt(bus.release());
  if (connectionHandler) connectionHandler(true);
}

// The loop, until the time given (without one, for good).
void serveLoop(std::optional<Clock::time_point> until) {
  for (;;) {
    if (until && Clock::now() >= *until) return;
    // Everything already received, then what it queued.
    if (theBus != nullptr) {
      for (;;) {
        int processed = sd_bus_process(theBus, nullptr);
        if (processed < 0) {
          lose();
          break;
        }
        if (processed == 0) break;
      }
    }
    deliverQueued();
    runDueTimers();
    std::vector<int> buffered;
    for (const Readable& watched : readables) {
      if (watched.waiting && watched.waiting()) buffered.push_back(watched.fd);
    }
    for (int fd : buffered) callReadable(fd);
    if (!queuedEvents.empty() || !queuedNameChanges.empty() || !queuedThens.empty() ||
        !buffered.empty()) {
      continue;
    }

    std::vector<pollfd> fds;
    if (theBus != nullptr) {
      int busEvents = sd_bus_get_events(theBus);
      if (busEvents >= 0) fds.push_back({sd_bus_get_fd(theBus), static_cast<short>(busEvents), 0});
    }
    std::size_t firstWatched = fds.size();
    for (const Readable& watched : readables) fds.push_back({watched.fd, POLLIN, 0});
    int timeout = pollTimeout();
    if (until) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count();
      int untilMs = static_cast<int>(std::max<long long>(left, 0));
      timeout = timeout < 0 ? untilMs : std::min(timeout, untilMs);
    }
    int ready = ::poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) return;
    for (std::size_t i = firstWatched; i < fds.size(); ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) callReadable(fds[i].fd);
    }
  }
}

}  // namespace

void runForever() { serveLoop(std::nullopt); }

void runFor(std::chrono::milliseconds period) { serveLoop(Clock::now() + period); }

}  // namespace focusctl::platform::atspi::bus
