#include "platform/atspi/bus/bus_client.h"

#include <poll.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/atspi/bus/bounded_map.h"
#include "platform/atspi/bus/freshness.h"

namespace focusctl::platform::atspi::bus {

void BusUnref::operator()(sd_bus* bus) const noexcept { sd_bus_flush_close_unref(bus); }

void MessageUnref::operator()(sd_bus_message* message) const noexcept {
  sd_bus_message_unref(message);
}

namespace {

using Clock = std::chrono::steady_clock;

// Calls in flight at once: enough for a whole level of a wide tree to
// travel together, few enough that the last one's timeout does not run out
// while the application answers the ones before it.
constexpr std::size_t maxInFlight = 32;

// The connection, for the process, and how it is found. Kept alive at
// exit: nothing is owed to the bus when the process ends.
sd_bus* theBus = nullptr;
BusFinder finder = nullptr;

std::optional<Clock::time_point> budgetEnd;
std::unordered_map<std::string, Clock::time_point> hungSince;

// Sent and waiting for their reply, by the address of their pending record.
std::unordered_map<detail::Pending*, std::shared_ptr<detail::Pending>> inFlight;

struct Unsent {
  std::shared_ptr<detail::Pending> pending;
  MessagePtr message;
};
std::deque<Unsent> unsent;

std::function<void(const NameChange&)> nameHandler;
std::function<void(bool)> connectionHandler;
// Signals and name changes wait here while a call waits; however fast the
// applications send, only the latest are kept (the oldest would be
// superseded anyway).
constexpr std::size_t maxQueued = 4096;
using Queue = std::deque<std::function<void()>>;
Queue queuedSignals;
Queue queuedNameChanges;
// Not capped: each is a call's, and calls in flight are.
Queue queuedThens;
// Unique names that have left the bus, the latest ones; never reused while
// it lives.
BoundedMap<std::string, bool> departed(1024);

struct Subscription {
  std::string rule;
  SignalReader read;
  std::function<void()> inPlace;
};
// Never removed, and each stays where it is: sd-bus holds their addresses.
std::deque<Subscription> subscriptions;

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

int timeoutFor(const std::string& destination) {
  if (isHung(destination)) return 0;
  std::optional<std::chrono::milliseconds> left = budgetLeft();
  return left ? static_cast<int>(std::min<long long>(left->count(), callTimeoutMs)) : callTimeoutMs;
}

// The call has ended; its then (if set by now) is queued for the loop.
void finish(const std::shared_ptr<detail::Pending>& pending, bool timedOut,
            std::string_view errorName) {
  pending->outcome = {true, timedOut, std::string(errorName)};
  // Only a call given its whole time says the application hangs; one cut
  // short by the budget (or never sent) says nothing of it.
  if (timedOut && pending->timeoutMs >= callTimeoutMs) {
    hungSince[pending->destination] = Clock::now();
  }
  detail::queueThen(pending);
}

void sendUnsent();

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto found = inFlight.find(static_cast<detail::Pending*>(userdata));
  if (found == inFlight.end()) return 0;
  std::shared_ptr<detail::Pending> pending = std::move(found->second);
  inFlight.erase(found);
  // One expired by our own clock before is done already.
  if (!pending->outcome.done) {
    const sd_bus_error* error = sd_bus_message_get_error(reply);  // null for a return
    if (error == nullptr) {
      finish(pending, false, pending->parse(reply) ? "" : invalidSignature);
    } else {
      std::string name = error->name;
      // sd-bus answers an expired call itself with NoReply; a NoReply from
      // the bus daemon (the application left without answering) comes
      // before our timeout.
      bool timedOut = name == noReply &&
                      Clock::now() - pending->sentAt >=
                          std::chrono::milliseconds(pending->timeoutMs);
      finish(pending, timedOut, name);
    }
  }
  sendUnsent();
  return 0;
}

void sendNow(const std::shared_ptr<detail::Pending>& pending, sd_bus_message* message) {
  int timeout = timeoutFor(pending->destination);
  if (timeout <= 0) {
    finish(pending, true, noReply);
    return;
  }
  pending->sentAt = Clock::now();
  pending->timeoutMs = timeout;
  inFlight.emplace(pending.get(), pending);
  if (sd_bus_call_async(theBus, nullptr, message, onReply, pending.get(),
                        std::uint64_t(timeout) * 1000) < 0) {
    inFlight.erase(pending.get());
    finish(pending, false, disconnected);
  }
}

void sendUnsent() {
  while (!unsent.empty() && inFlight.size() < maxInFlight) {
    Unsent next = std::move(unsent.front());
    unsent.pop_front();
    sendNow(next.pending, next.message.get());
  }
}

// sd-bus expires a call only once its connection runs: a bus that never
// finishes the handshake (its daemon stopped) would hold every call for
// sd-bus's own 25 s authentication timeout. A call overdue by our clock
// fails here; sd-bus's late answer then finds it done. The slack leaves
// the usual expiry to sd-bus.
constexpr std::chrono::milliseconds expirySlack{50};

// A deadline; nothing for none.
using Deadline = std::optional<Clock::time_point>;

Deadline earliest(Deadline one, Deadline other) {
  return (!one || (other && *other < *one)) ? other : one;
}

// Fails the overdue calls; when the next one is due otherwise.
Deadline expireOverdue() {
  Deadline next;
  for (auto& [key, pending] : inFlight) {
    if (pending->outcome.done) continue;
    Clock::time_point due =
        pending->sentAt + std::chrono::milliseconds(pending->timeoutMs) + expirySlack;
    if (due <= Clock::now()) {
      finish(pending, true, noReply);
    } else {
      next = earliest(next, due);
    }
  }
  return next;
}

// Whatever is still waiting fails: the connection is gone.
void failEverything() {
  for (auto& [key, pending] : inFlight) finish(pending, false, disconnected);
  inFlight.clear();
  for (Unsent& waiting : unsent) finish(waiting.pending, false, disconnected);
  unsent.clear();
}

// Dispatches what was received, one message at a time, until nothing is
// left or enough() holds. False once the connection is lost.
bool process(const std::function<bool()>& enough) {
  for (;;) {
    int processed = sd_bus_process(theBus, nullptr);
    if (processed < 0) return false;
    if (processed == 0 || enough()) return true;
  }
}

// Queued as the newest; the oldest goes past maxQueued.
void put(Queue& queue, std::function<void()> handle) {
  if (queue.size() >= maxQueued) queue.pop_front();
  queue.push_back(std::move(handle));
}

// Queued, not handled here: a signal may arrive while a call waits.
int onSignal(sd_bus_message* message, void* subscription, sd_bus_error*) {
  std::function<void()> handle = static_cast<Subscription*>(subscription)->read(message);
  if (handle) put(queuedSignals, std::move(handle));
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
  put(queuedNameChanges, [change = NameChange{name, oldOwner, newOwner}] {
    if (nameHandler) nameHandler(change);
  });
  return 0;
}

std::string matchRule(const Signal& signal) {
  std::string rule = "type='signal',interface='" + std::string(signal.interface) +
                     "',member='" + std::string(signal.member) + "'";
  if (!signal.arg0.empty()) rule += ",arg0='" + std::string(signal.arg0) + "'";
  return rule;
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

// Replies first, then names, then signals.
void deliverQueued() {
  for (Queue* queue : {&queuedThens, &queuedNameChanges, &queuedSignals}) {
    while (!queue->empty()) {
      std::function<void()> handle = std::move(queue->front());
      queue->pop_front();
      Delivery delivery;
      handle();
    }
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

// Milliseconds until the earliest of until, the next timer, the next call
// to expire and sd-bus's own next deadline (its handshake's, say); -1 for
// none.
int pollTimeout(Deadline until) {
  Deadline next = earliest(until, expireOverdue());
  if (!queuedThens.empty()) return 0;  // calls just expired
  for (const auto& [id, timer] : timers) next = earliest(next, timer.due);
  // sd-bus's clock is CLOCK_MONOTONIC, as is steady_clock's.
  std::uint64_t busDue = 0;
  if (theBus != nullptr && sd_bus_get_timeout(theBus, &busDue) >= 0 && busDue != UINT64_MAX) {
    next = earliest(next, Clock::time_point(std::chrono::microseconds(busDue)));
  }
  if (!next) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
  return static_cast<int>(std::max<long long>(left, 0));
}

// The signal's own match rule (signals sharing interface and member are
// told apart by their first argument), then what else it needs.
void subscribe(Subscription& subscription) {
  sd_bus_add_match_async(theBus, nullptr, subscription.rule.c_str(), onSignal, nullptr,
                         &subscription);
  if (subscription.inPlace) subscription.inPlace();
}

// The connection becomes the process's own, with what is listened for in
// place on it: the name changes and every signal (none yet on the first
// connect).
void adopt(BusPtr bus) {
  theBus = bus.release();
  sd_bus_add_match_async(theBus, nullptr, std::string(nameOwnerChangedRule).c_str(),
                         onNameOwnerChangedSignal, nullptr, nullptr);
  for (Subscription& subscription : subscriptions) subscribe(subscription);
}

}  // namespace

void findBusWith(BusFinder find) { finder = find; }

bool connected() {
  static bool tried = false;
  if (!tried && finder != nullptr) {
    tried = true;
    if (BusPtr bus = finder(false)) adopt(std::move(bus));
  }
  return theBus != nullptr;
}

BusPtr connectTo(const std::string& address) {
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  BusPtr bus(raw);
  if (sd_bus_set_address(bus.get(), address.c_str()) < 0 ||
      sd_bus_set_bus_client(bus.get(), 1) < 0 || sd_bus_start(bus.get()) < 0) {
    return nullptr;
  }
  return bus;
}

MessagePtr newCall(sd_bus* bus, std::string_view destination, std::string_view path,
                   std::string_view interface, std::string_view member, const Appender& append) {
  sd_bus_message* call = nullptr;
  if (bus == nullptr ||
      sd_bus_message_new_method_call(bus, &call, std::string(destination).c_str(),
                                     std::string(path).c_str(), std::string(interface).c_str(),
                                     std::string(member).c_str()) < 0) {
    return nullptr;
  }
  MessagePtr message(call);
  if (append && append(call) < 0) return nullptr;
  return message;
}

MessagePtr callAndWait(sd_bus* bus, std::string_view destination, std::string_view path,
                       const Method& method, const Appender& append) {
  MessagePtr call = newCall(bus, destination, path, method.interface, method.member, append);
  if (!call) return nullptr;
  sd_bus_message_set_auto_start(call.get(), 0);
  sd_bus_message* reply = nullptr;
  if (sd_bus_call(bus, call.get(), std::uint64_t{callTimeoutMs} * 1000, nullptr, &reply) < 0) {
    return nullptr;
  }
  return MessagePtr(reply);
}

bool hasLeft(const std::string& busName) { return departed.contains(busName); }

bool isHung(const std::string& busName) {
  auto hung = hungSince.find(busName);
  if (hung == hungSince.end()) return false;
  if (Clock::now() - hung->second < std::chrono::milliseconds(hungForMs)) return true;
  hungSince.erase(hung);
  return false;
}

void setCallBudget(std::optional<std::chrono::milliseconds> budget) {
  budgetEnd.reset();
  if (budget) budgetEnd = Clock::now() + *budget;
}

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
    finish(pending, false, disconnected);
    return;
  }
  MessagePtr message = destination.empty() || path.empty()
                           ? nullptr
                           : newCall(theBus, destination, path, interface, member, append);
  if (!message) {
    finish(pending, false, invalidArgs);
    return;
  }
  // Auto-start stays on: a unique name starts nothing, and a well-known
  // service that crashed is started again, as for any other client.
  if (inFlight.size() >= maxInFlight) {
    unsent.push_back({std::move(pending), std::move(message)});
    return;
  }
  sendNow(pending, message.get());
}

void queueThen(std::shared_ptr<Pending> pending) {
  if (!pending->then) return;
  queuedThens.push_back([pending = std::move(pending)] {
    // Moved out first: run once, however often it was queued.
    std::function<void()> then = std::move(pending->then);
    if (then) then();
  });
}

// Serves the connection until the call is done: dispatches everything
// received and, with nothing to dispatch, waits until something arrives or
// the next call expires.
void awaitDone(Pending& pending) {
  auto done = [&pending] { return pending.outcome.done; };
  while (!done()) {
    if (!process(done)) break;
    // An expired call is answered from inside sd_bus_process, which may
    // still say it did nothing: look again before sleeping.
    Deadline due = expireOverdue();
    if (done()) continue;
    std::uint64_t waitUs = UINT64_MAX;
    if (due) {
      auto left = std::chrono::ceil<std::chrono::microseconds>(*due - Clock::now()).count();
      waitUs = static_cast<std::uint64_t>(std::max<long long>(left, 0));
    }
    int waited = sd_bus_wait(theBus, waitUs);
    if (waited < 0 && waited != -EINTR) break;
  }
  // The connection is lost: whatever waits on it fails, this call too.
  if (!done()) failEverything();
}

}  // namespace detail

void onNameOwnerChanged(std::function<void(const NameChange&)> handler) {
  nameHandler = std::move(handler);
}

void onConnectionChange(std::function<void(bool)> handler) {
  connectionHandler = std::move(handler);
}

void listen(const Signal& signal, SignalReader read, std::function<void()> inPlace) {
  subscriptions.push_back({matchRule(signal), std::move(read), std::move(inPlace)});
  if (theBus != nullptr) subscribe(subscriptions.back());
}

void sendUnanswered(std::string_view destination, std::string_view path, const Method& method,
                    const Appender& append) {
  MessagePtr call = newCall(theBus, destination, path, method.interface, method.member, append);
  if (!call) return;
  sd_bus_message_set_expect_reply(call.get(), 0);
  sd_bus_send(theBus, call.get(), nullptr);
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

void lookForTheBus();

// The bus is gone: whatever waits on it fails, what was learnt of its
// names goes with it, and it is looked for again until it is back; what
// else is watched still runs meanwhile.
void lose() {
  failEverything();
  BusPtr gone(std::exchange(theBus, nullptr));
  departed.clear();
  hungSince.clear();
  queuedSignals.clear();
  queuedNameChanges.clear();
  addTimer(std::chrono::milliseconds(reconnectMs), lookForTheBus);
  if (connectionHandler) connectionHandler(false);
}

void lookForTheBus() {
  // What was learnt may have changed meanwhile, where the bus is among it:
  // a bus started again has a new address.
  desktopMayHaveChanged();
  BusPtr bus = finder(true);
  if (!bus) {
    addTimer(std::chrono::milliseconds(reconnectMs), lookForTheBus);
    return;
  }
  adopt(std::move(bus));
  if (connectionHandler) connectionHandler(true);
}

// The loop, until the time given (without one, for good).
void serveLoop(Deadline until) {
  for (;;) {
    if (until && Clock::now() >= *until) return;
    // Everything already received, then what it queued.
    if (theBus != nullptr && !process([] { return false; })) lose();
    deliverQueued();
    runDueTimers();
    std::vector<int> buffered;
    for (const Readable& watched : readables) {
      if (watched.waiting && watched.waiting()) buffered.push_back(watched.fd);
    }
    for (int fd : buffered) callReadable(fd);
    if (!queuedSignals.empty() || !queuedNameChanges.empty() || !queuedThens.empty() ||
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
    int ready = ::poll(fds.data(), fds.size(), pollTimeout(until));
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
