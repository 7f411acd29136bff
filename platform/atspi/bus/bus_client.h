// focusctl's own D-Bus client, on sd-bus: the connection, calls with
// timeouts of our own whose replies are collected together, signals, and
// the poll loop of `watch`. It knows D-Bus alone: which bus it connects to
// and what is said on it is the business of the layer above
// (accessible/bus_session.h for the accessibility bus). No GLib and no
// libatspi: a one-shot command pays for nothing it does not ask.
//
// Calls. Every call is sent the moment it is made and answers through a
// Reply, which waits (serving the connection) only when it is read. Make
// all the calls that do not depend on each other first, then read them:
// they travel together and cost one round trip, not one each.
//
//   Reply<std::uint32_t> role = calls::role(element);
//   Reply<std::string> name = calls::name(element);
//   if (const auto* r = role.get()) ...   // waits for both at most once
//
// Timeouts. Each call may take callTimeoutMs. An application that let a
// call time out is taken as hung for hungForMs: calls to it fail at once
// meanwhile, so a stopped application costs one timeout, not one per call
// (calls already in flight together expire together). A one-shot command
// sets a budget for all its calls (setCallBudget): whatever the application
// does, every call ends by then, and loops over what applications report
// stop asking once outOfTime() says so.
//
// Signals, for a consumer such as the watcher:
//   1. listen(signal, read, inPlace) for each signal it needs (each adds a
//      match rule for just that signal).
//   2. onNameOwnerChanged(handler) for names leaving the bus and coming to
//      it, and onConnectionChange(handler) for the bus itself going and
//      coming back.
//   3. runForever(). Handlers run only from the loop, never from inside a
//      call's wait, so a handler may make calls and read them. Timers
//      (addTimer) and watchReadable (the X11 connection) run from the same
//      loop, one at a time; while nothing is due the loop sleeps in poll()
//      with no timeout.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/atspi/bus/dbus_wire.h"

struct sd_bus;
struct sd_bus_message;

namespace focusctl::platform::atspi::bus {

inline constexpr int callTimeoutMs = 800;
inline constexpr int hungForMs = 1000;

struct BusUnref {
  void operator()(sd_bus* bus) const noexcept;
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
struct MessageUnref {
  void operator()(sd_bus_message* message) const noexcept;
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// Appends a call's arguments; negative when that failed.
using Appender = std::function<int(sd_bus_message*)>;

// Finds the bus: a started connection to it, not yet the process's own, or
// null when there is none. Asked on first use (again: false) and, once the
// loop has found the connection lost, every reconnectMs until it gives one
// (again: true).
using BusFinder = BusPtr (*)(bool again);
// Set once, before the bus is first used.
void findBusWith(BusFinder find);
// Connects on first use and keeps the connection for the process. False
// when the finder found no bus, and while the loop has found the bus lost
// until it has connected again.
bool connected();

// A method call on the connection with its arguments appended; null when it
// could not be made.
MessagePtr newCall(sd_bus* bus, std::string_view destination, std::string_view path,
                   std::string_view interface, std::string_view member, const Appender& append);

// For a finder: a started connection to the address, and one call on a
// connection that is not (yet) the process's own, waiting for its reply
// (null when it failed; its destination is not started for it).
BusPtr connectTo(const std::string& address);
MessagePtr callAndWait(sd_bus* bus, std::string_view destination, std::string_view path,
                       const Method& method, const Appender& append);

// The unique name has left the bus (its application is gone), as far as
// the messages received so far tell; only the latest departures are kept,
// and a call to an older one finds it gone anyway.
bool hasLeft(const std::string& busName);

// The one record of applications that left a call unanswered (stopped or
// hung): the bus name let a call given its whole callTimeoutMs time out
// within the last hungForMs. A call cut short by the budget says nothing of
// its application and does not count.
bool isHung(const std::string& busName);

// From now on, every call ends within the budget (the remaining time
// shortens each call's timeout, and a call made after it fails at once);
// without one only callTimeoutMs holds.
void setCallBudget(std::optional<std::chrono::milliseconds> budget);  // nothing: none
// What is left of the budget; nothing without one.
std::optional<std::chrono::milliseconds> budgetLeft();
// The budget has run out: nothing more is worth asking.
bool outOfTime();

// The result of one call.
struct Outcome {
  bool done = false;
  bool timedOut = false;
  std::string errorName;  // the D-Bus error of a failed call, if any
};

namespace detail {
struct Pending {
  virtual ~Pending() = default;
  // Reads the reply's body; false when it does not have the shape asked.
  virtual bool parse(sd_bus_message* reply) = 0;
  std::string destination;
  Outcome outcome;
  std::chrono::steady_clock::time_point sentAt;
  int timeoutMs = 0;
  // Run from the loop once the call is done, if set.
  std::function<void()> then;
};

// Sends the method call (the arguments appended by append) and arranges for
// the reply to land in pending. Never waits.
void send(std::shared_ptr<Pending> pending, const std::string& destination,
          const std::string& path, std::string_view interface, std::string_view member,
          const Appender& append);
// Serves the connection until the call is done.
void awaitDone(Pending& pending);
// Queues the call's then for the loop.
void queueThen(std::shared_ptr<Pending> pending);
}  // namespace detail

template <typename T>
class Reply {
 public:
  struct Slot : detail::Pending {
    std::optional<T> value;
    std::function<bool(sd_bus_message*, T&)> reader;
    bool parse(sd_bus_message* reply) override {
      T read{};
      if (!reader(reply, read)) return false;
      value = std::move(read);
      return true;
    }
  };
  explicit Reply(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}

  // The value, once the reply is in; null when the call failed.
  const T* get() {
    detail::awaitDone(*slot_);
    return slot_->value ? &*slot_->value : nullptr;
  }
  // The value itself, moved out of the reply (waits like get).
  std::optional<T> take() {
    detail::awaitDone(*slot_);
    return std::exchange(slot_->value, std::nullopt);
  }
  // How the call ended (waits like get).
  const Outcome& outcome() {
    detail::awaitDone(*slot_);
    return slot_->outcome;
  }
  // Whether the call has ended, without waiting: its reply is taken in
  // whenever the connection is served (another call's wait, runFor).
  bool ended() const { return slot_->outcome.done; }
  // Without waiting: done runs from the loop (runForever) once the reply
  // is in, never from inside another call's wait.
  void then(std::function<void()> done) {
    slot_->then = std::move(done);
    if (slot_->outcome.done) detail::queueThen(slot_);
  }

 private:
  std::shared_ptr<Slot> slot_;
};

// Signals. read takes each signal as it arrives, even inside a call's wait
// (so it only reads the message), and gives what the loop is to run for it,
// or nothing to drop it. The signal's match rule is put in place now and on
// every connection the loop makes again, each time followed by inPlace.
using SignalReader = std::function<std::function<void()>(sd_bus_message*)>;
void listen(const Signal& signal, SignalReader read, std::function<void()> inPlace);

// Sends a call whose answer nobody awaits: the destination is told to send
// none. Nothing without a connection.
void sendUnanswered(std::string_view destination, std::string_view path, const Method& method,
                    const Appender& append);

struct NameChange {
  std::string name;
  std::string oldOwner;
  std::string newOwner;
};
void onNameOwnerChanged(std::function<void(const NameChange&)> handler);

// The loop found the connection lost (false), and later connected again
// (true): it asks the finder every reconnectMs, and once back the match
// rules are in place again. Names learnt on the old bus mean nothing on the
// new one.
inline constexpr int reconnectMs = 500;
void onConnectionChange(std::function<void(bool connected)> handler);

// The loop.
using TimerId = std::uint64_t;
TimerId addTimer(std::chrono::milliseconds after, std::function<void()> callback);
void cancelTimer(TimerId id);
// Calls readable when fd has something to read, or before the loop sleeps
// when waiting() says data is buffered already (xcb reads events while it
// waits for a reply); readable returns false to stop watching.
void watchReadable(int fd, std::function<bool()> readable,
                   std::function<bool()> waiting = nullptr);
// Serves the bus, the watched descriptors and the timers; returns only if
// polling itself fails. A lost bus connection leaves the rest served.
void runForever();
// The same for a while (tests serve the loop so).
void runFor(std::chrono::milliseconds period);

}  // namespace focusctl::platform::atspi::bus
