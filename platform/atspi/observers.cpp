// Observers and their run-loop sources over AT-SPI events, and application
// activation over X11 (or AT-SPI without a window manager), all served by the
// loop of bus_client.h.
//
// Events are handed over by the loop; a handler here only queues what it
// got, and the queue is delivered from a timer of the loop. That keeps
// callbacks from ever running inside another callback's platform call, and
// lets a callback be checked against the observer's state at the moment it
// would run: a detached or released observer gets nothing.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/atspi/accessible/application_pids.h"
#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/atspi/accessible/bus_session.h"
#include "platform/atspi/accessible/element_ref.h"
#include "platform/atspi/accessible/liveness.h"
#include "platform/atspi/bus/freshness.h"
#include "platform/atspi/activation.h"
#include "platform/atspi/desktop/x11_desktop.h"
#include "platform/atspi/focus/focus_search.h"
#include "platform/atspi/focus/registered_applications.h"

namespace focusctl::platform {

struct ObserverRef {
  std::uint64_t serial;
};
struct RunLoopSourceRef {
  std::uint64_t serial;
};

namespace atspi {
namespace {

// Value changes are delivered on the next turn of the main loop, one
// callback per element and kind of change (GTK 3 reports one replacement
// of the text as a deletion and an insertion: two callbacks) however many
// of them arrived since the last turn.
//
// Focus moves and activations are delivered once they have settled: this
// long after the last one arrived, and at most settleLimitMs after the
// first. A toolkit's state is only right to read after the last event of a
// change (GTK 3 reports a focus move first from the widget, then again once
// its accessibility state has caught up a main-loop turn later), and the
// callback reads it at once. Only the latest focus move of an application
// waits: the callback looks the focus up, and a storm of moves must cost
// one lookup per settling, not one per move.
constexpr std::int64_t settleMs = 40;
constexpr std::int64_t settleLimitMs = 200;
// What waits in either queue: after the collapsing above a handful of
// applications and windows; past this the oldest go.
constexpr std::size_t maxQueued = 64;

constexpr std::string_view focusChanged = "AXFocusedUIElementChanged";
constexpr std::string_view valueChanged = "AXValueChanged";

// What an event tells; observers register for focus moves and value
// changes.
enum class What { focus, value, activated, deactivated };

struct Registration {
  std::uint64_t id;
  What kind;
  ObjectRef target;
  void* context;
  std::uint64_t afterEvent;  // only events received after this one count

  // An event of that kind from that element is for this registration: a
  // focus move anywhere in the target's application, a value change of the
  // target itself.
  bool hears(What event, const ObjectRef& from) const {
    return kind == event && target.bus == from.bus &&
           (kind == What::focus || target.path == from.path);
  }
};

struct ObserverState {
  Pid pid = 0;
  ObserverCallback callback = nullptr;
  int observerRefs = 0;
  int sourceRefs = 0;
  bool attached = false;
  std::vector<Registration> registrations;

  bool live() const { return observerRefs > 0 && attached; }
};

struct Queued {
  What what;
  std::uint64_t event;
  ObjectRef source;
  bool fromWindowEvent = false;
  std::string detail;  // value: the kind of change (insert, delete, ...)
};

// Events waiting for delivery: delivered settle after the newest of them
// and at most limit after the first.
struct Queue {
  std::int64_t settle;
  std::int64_t limit;
  std::deque<Queued> items{};
  bus::TimerId timer = 0;
  std::int64_t firstAt = 0;
};

std::map<std::uint64_t, ObserverState> observers;
std::uint64_t lastSerial = 0;
std::uint64_t lastRegistration = 0;
std::uint64_t lastEvent = 0;
// Focus moves and activations wait to settle, value changes only for the
// loop's next turn.
Queue settling{settleMs, settleLimitMs};
Queue nextTurn{0, 0};
std::vector<ActivationHandler> activationHandlers;
// An activation is a change of the application owning the active window.
// AT-SPI window events tell it first, once the application's own state is
// ready to be read. Where an EWMH window manager runs, a change of the X11
// active window that AT-SPI has not told of after activationGraceMs is an
// activation too: an application without AT-SPI, or one whose events were
// lost while it started up. Toolkits announce one activation in more than
// one way; each counts once.
constexpr int activationGraceMs = 500;
// 0 for an active window without a process id, or for none at all; nothing
// once the application's window was deactivated.
std::optional<Pid> activeApplication;
bool activeApplicationFromAtspi = false;
bus::TimerId activeWindowCheck = 0;
std::optional<Pid> activating;

void callActivationHandlers() {
  std::vector<ActivationHandler> handlers = activationHandlers;
  for (ActivationHandler handler : handlers) handler();
}

// The application is in front now. Only AT-SPI's word makes it so before
// X11 names its window as active.
void activate(Pid owner, bool fromAtspi) {
  activeApplication = owner;
  activeApplicationFromAtspi = fromAtspi;
  if (fromAtspi) activating = owner;
  callActivationHandlers();
  activating.reset();
}

ObserverState* stateOf(std::uint64_t serial) {
  auto found = observers.find(serial);
  return found == observers.end() ? nullptr : &found->second;
}

// The state behind an observer or a source; null for none.
template <typename Handle>
ObserverState* stateOf(const Handle& handle) {
  return handle ? stateOf(handle.get()->serial) : nullptr;
}

// One reference of the kind fewer. An observer without references hears
// nothing more, and its state goes once its sources are released too.
void unreference(std::uint64_t serial, int ObserverState::*refs) {
  ObserverState* state = stateOf(serial);
  if (state == nullptr) return;
  --(state->*refs);
  if (state->observerRefs == 0) state->registrations.clear();
  if (state->observerRefs == 0 && state->sourceRefs == 0) observers.erase(serial);
}

bool anyLiveRegistration(What kind, const ObjectRef& source) {
  for (const auto& [serial, state] : observers) {
    if (!state.live()) continue;
    for (const Registration& registration : state.registrations) {
      if (registration.hears(kind, source)) return true;
    }
  }
  return false;
}

void deliverNotification(const Queued& item) {
  if (item.what == What::focus) {
    if (isKnownFocus(item.source.bus, item.source.path)) return;
    noteFocus(item.source.bus, item.source.path);
  }
  // Collected first: a callback may add or remove registrations and
  // observers, and each delivery is checked again right before it runs.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> targets;  // observer, id
  for (const auto& [serial, state] : observers) {
    for (const Registration& registration : state.registrations) {
      if (registration.hears(item.what, item.source) && item.event > registration.afterEvent) {
        targets.emplace_back(serial, registration.id);
      }
    }
  }
  std::string_view name = item.what == What::focus ? focusChanged : valueChanged;
  for (const auto& [serial, id] : targets) {
    ObserverState* state = stateOf(serial);
    if (state == nullptr || !state->live()) continue;
    auto registration = std::ranges::find(state->registrations, id, &Registration::id);
    if (registration == state->registrations.end()) continue;
    ObserverRef observer{serial};
    Element element(newAccessibleElement(item.source, state->pid));
    state->callback(&observer, element.get(), name, registration->context);
  }
}

bool isWindow(const Queued& item) {
  if (item.fromWindowEvent) return true;
  // state-changed:active is also sent for other things than windows.
  auto role = calls::role(item.source);
  return role.get() != nullptr && isWindowRole(static_cast<AtspiRole>(*role.get()));
}

void onActiveWindowChanged();

void deliverActivation(const Queued& item) {
  Pid owner = applicationPid(item.source);
  if (owner <= 0) return;
  if (item.what == What::deactivated) {
    // Its next activation counts again, even with nothing seen in between.
    if (owner == activeApplication && isWindow(item)) activeApplication.reset();
    return;
  }
  // Delivered again when only X11 told of it: that rebuild may have come
  // before the application was ready.
  if (owner == activeApplication && activeApplicationFromAtspi) return;
  if (!isWindow(item)) return;
  // Toolkits send these out of order (a window being left may say active 0,
  // then 1, then activate, then deactivate), and an application resumed
  // after a stop sends the ones it owed. Where X11 names another
  // application's window as active, that one is in front: the X11 side is
  // looked at again once it has settled, in case it lags behind.
  if (std::optional<Pid> front = x11::activeWindowPid();
      front && *front > 0 && *front != owner) {
    onActiveWindowChanged();
    return;
  }
  activate(owner, true);
}

void checkActiveWindow() {
  activeWindowCheck = 0;
  // AT-SPI is about to tell; let it.
  if (std::ranges::any_of(settling.items,
                          [](const Queued& item) { return item.what == What::activated; })) {
    activeWindowCheck = bus::addTimer(std::chrono::milliseconds(settleMs), checkActiveWindow);
    return;
  }
  desktopMayHaveChanged();
  Pid owner = x11::activeWindowPid().value_or(0);
  // No X11 window active while AT-SPI named an application: under XWayland
  // a Wayland application is in front, and AT-SPI's word stands.
  if (owner == 0 && activeApplication && activeApplicationFromAtspi) return;
  if (activeApplication == owner) return;
  ObjectRef root = owner > 0 ? applicationForPid(owner) : ObjectRef();
  if (root.isNull()) {
    activate(owner, false);
    return;
  }
  // An application that AT-SPI did not tell of may be stopped or hung. It
  // is asked first while the watcher goes on serving the others; one that
  // did not answer in time is not asked again while the handlers run.
  probeLater(root, [owner](bool) {
    if (x11::activeWindowPid().value_or(0) == owner && activeApplication != owner) {
      activate(owner, false);
    }
  });
}

// The X11 active window changed: looked at once it has stayed so for the
// grace time, so that AT-SPI can tell first and a change that is undone
// meanwhile counts not at all.
void onActiveWindowChanged() {
  if (activeWindowCheck != 0) bus::cancelTimer(activeWindowCheck);
  activeWindowCheck =
      bus::addTimer(std::chrono::milliseconds(activationGraceMs), checkActiveWindow);
}

void deliver(Queue& queue) {
  queue.timer = 0;
  // The callbacks look at the desktop anew.
  desktopMayHaveChanged();
  std::deque<Queued> batch;
  batch.swap(queue.items);
  for (const Queued& item : batch) {
    if (item.what == What::focus || item.what == What::value) {
      deliverNotification(item);
    } else {
      deliverActivation(item);
    }
  }
}

void schedule(Queue& queue) {
  std::int64_t now = monotonicUs() / 1000;
  if (queue.timer == 0) {
    queue.firstAt = now;
  } else {
    bus::cancelTimer(queue.timer);
  }
  std::int64_t delay =
      std::clamp<std::int64_t>(queue.firstAt + queue.limit - now, 0, queue.settle);
  queue.timer = bus::addTimer(std::chrono::milliseconds(delay), [&queue] { deliver(queue); });
}

// The newer event makes the older one, still waiting, say nothing more: a
// later focus move in the same application, the same window activated or
// deactivated again, another change of the same kind to the same element.
bool supersedes(const Queued& newer, const Queued& older) {
  if (newer.what != older.what || newer.source.bus != older.source.bus) return false;
  switch (newer.what) {
    case What::focus:
      return true;
    case What::value:
      return newer.source.path == older.source.path && newer.detail == older.detail;
    case What::activated:
    case What::deactivated:
      return newer.source.path == older.source.path &&
             newer.fromWindowEvent == older.fromWindowEvent;
  }
  return false;
}

void enqueue(What what, const Event& event, bool fromWindowEvent) {
  if (event.source.bus.empty()) return;
  bool notification = what == What::focus || what == What::value;
  if (notification ? !anyLiveRegistration(what, event.source) : activationHandlers.empty()) {
    return;
  }
  Queue& queue = what == What::value ? nextTurn : settling;
  Queued item{what, lastEvent, event.source, fromWindowEvent, event.detail};
  // Queued as the newest, in place of what it supersedes.
  std::erase_if(queue.items, [&item](const Queued& older) { return supersedes(item, older); });
  if (queue.items.size() >= maxQueued) queue.items.pop_front();
  queue.items.push_back(std::move(item));
  schedule(queue);
}

// Handed over by the loop, never from inside a call.
void handleEvent(const Event& event) {
  ++lastEvent;
  const wire::Signal* signal = event.signal;
  if (signal == &wire::focusedChanged) {
    if (event.detail1 == 1) enqueue(What::focus, event, false);
  } else if (signal == &wire::textChanged || signal == &wire::valueChanged ||
             signal == &wire::checkedChanged || signal == &wire::pressedChanged ||
             signal == &wire::selectedChanged) {
    enqueue(What::value, event, false);
  } else if (signal == &wire::windowActivated) {
    enqueue(What::activated, event, true);
  } else if (signal == &wire::windowDeactivated) {
    enqueue(What::deactivated, event, true);
  } else if (signal == &wire::activeChanged) {
    enqueue(event.detail1 == 1 ? What::activated : What::deactivated, event, false);
  }
}

// A registry that restarted knows of no listener: the events are asked for
// again. An application that left takes what was learnt of it along.
void onNameChange(const bus::NameChange& change) {
  if (change.name == wire::registryName && !change.newOwner.empty()) listenAgain();
  if (change.name.starts_with(':') && change.newOwner.empty()) {
    auto itsOwn = [&change](const Queued& item) { return item.source.bus == change.name; };
    std::erase_if(settling.items, itsOwn);
    std::erase_if(nextTurn.items, itsOwn);
    forgetBusName(change.name);
    forgetFocusOf(change.name);
  }
}

// The bus has gone, or is back: nothing learnt of the applications on it
// holds, and the watcher builds anew, with nothing to follow while the bus
// is gone ("fallback") and the application in front once it is back.
void onConnectionChange(bool) {
  settling.items.clear();
  nextTurn.items.clear();
  forgetBusName({});
  forgetFocusOf({});
  desktopMayHaveChanged();
  callActivationHandlers();
}

// Each event is subscribed to once per process, when the first
// registration needs it.
void listenForEach(std::initializer_list<const wire::Signal*> signals) {
  static const bool handlersSet = [] {
    onEvent(handleEvent);
    bus::onNameOwnerChanged(onNameChange);
    bus::onConnectionChange(onConnectionChange);
    return true;
  }();
  (void)handlersSet;
  for (const wire::Signal* signal : signals) listenFor(*signal);
}

// What a registration on the element follows: an accessible, or an
// application's root; a code for an element that has none.
ResultCode targetOf(ElementRef& element, ObjectRef& target) {
  switch (element.kind) {
    case ElementRef::Kind::systemWide:
      return code::illegalArgument;
    case ElementRef::Kind::application:
      target = applicationRoot(element);
      return target.isNull() ? code::cannotComplete : code::success;
    case ElementRef::Kind::accessible:
      target = element.accessible;
      return target.isNull() ? code::invalidElement : code::success;
  }
  return code::failure;
}

std::optional<What> kindOf(std::string_view notification) {
  if (notification == focusChanged) return What::focus;
  if (notification == valueChanged) return What::value;
  return std::nullopt;
}

}  // namespace

std::optional<Pid> applicationBeingActivated() { return activating; }

}  // namespace atspi

void release(ObserverRef* ref) noexcept {
  if (ref != nullptr) atspi::unreference(ref->serial, &atspi::ObserverState::observerRefs);
  delete ref;
}

void release(RunLoopSourceRef* ref) noexcept {
  if (ref != nullptr) atspi::unreference(ref->serial, &atspi::ObserverState::sourceRefs);
  delete ref;
}

CreatedObserver createObserver(Pid pid, ObserverCallback callback) {
  if (callback == nullptr || pid <= 0) return {code::illegalArgument, Observer()};
  if (!atspi::busConnected()) return {code::apiDisabled, Observer()};
  std::uint64_t serial = ++atspi::lastSerial;
  atspi::ObserverState& state = atspi::observers[serial];
  state.pid = pid;
  state.callback = callback;
  state.observerRefs = 1;
  return {code::success, Observer(new ObserverRef{serial})};
}

RunLoopSource observerRunLoopSource(const Observer& observer) {
  atspi::ObserverState* state = atspi::stateOf(observer);
  if (state == nullptr) return RunLoopSource();
  ++state->sourceRefs;
  return RunLoopSource(new RunLoopSourceRef{observer.get()->serial});
}

ResultCode addObserverNotification(const Observer& observer, const Element& element,
                                   std::string_view notification, void* context) {
  atspi::ObserverState* state = atspi::stateOf(observer);
  if (state == nullptr || state->observerRefs == 0) return code::invalidObserver;
  if (!element) return code::illegalArgument;
  if (!atspi::busConnected()) return code::apiDisabled;
  std::optional<atspi::What> kind = atspi::kindOf(notification);
  if (!kind) return code::notificationUnsupported;
  ElementRef& ref = *element.get();
  atspi::ObjectRef target;
  if (ResultCode refused = atspi::targetOf(ref, target); refused != code::success) return refused;
  // An observer hears only its own application, as on macOS.
  if (ref.pid <= 0 && ref.kind == ElementRef::Kind::accessible) {
    ref.pid = atspi::applicationPid(ref.accessible);
  }
  if (ref.pid > 0 && ref.pid != state->pid) return code::illegalArgument;
  if (std::ranges::any_of(state->registrations, [&](const atspi::Registration& registration) {
        return registration.hears(*kind, target);
      })) {
    return code::notificationAlreadyRegistered;
  }
  if (*kind == atspi::What::focus) {
    atspi::listenForEach({&atspi::wire::focusedChanged});
  } else {
    atspi::listenForEach({&atspi::wire::textChanged, &atspi::wire::valueChanged,
                          &atspi::wire::checkedChanged, &atspi::wire::pressedChanged,
                          &atspi::wire::selectedChanged});
  }
  state->registrations.push_back(
      {++atspi::lastRegistration, *kind, target, context, atspi::lastEvent});
  return code::success;
}

ResultCode removeObserverNotification(const Observer& observer, const Element& element,
                                      std::string_view notification) {
  atspi::ObserverState* state = atspi::stateOf(observer);
  if (state == nullptr || state->observerRefs == 0) return code::invalidObserver;
  if (!element) return code::illegalArgument;
  std::optional<atspi::What> kind = atspi::kindOf(notification);
  if (!kind) return code::notificationUnsupported;
  if (!atspi::busConnected()) return code::notificationNotRegistered;
  atspi::ObjectRef target;
  if (atspi::targetOf(*element.get(), target) != code::success) {
    return code::notificationNotRegistered;
  }
  // At most one registration hears the same.
  return std::erase_if(state->registrations,
                       [&](const atspi::Registration& registration) {
                         return registration.hears(*kind, target);
                       }) > 0
             ? code::success
             : code::notificationNotRegistered;
}

void addSourceToMainRunLoop(const RunLoopSource& source) {
  if (atspi::ObserverState* state = atspi::stateOf(source)) state->attached = true;
}

void removeSourceFromMainRunLoop(const RunLoopSource& source) {
  if (atspi::ObserverState* state = atspi::stateOf(source)) state->attached = false;
}

void observeApplicationActivation(ActivationHandler handler) {
  if (handler == nullptr) return;
  bool first = atspi::activationHandlers.empty();
  atspi::activationHandlers.push_back(handler);
  if (!first) return;
  if (atspi::busConnected()) {
    atspi::listenForEach({&atspi::wire::windowActivated, &atspi::wire::windowDeactivated,
                          &atspi::wire::activeChanged});
  }
  if (x11::watchActiveWindow(atspi::onActiveWindowChanged)) {
    atspi::activeApplication = x11::activeWindowPid().value_or(0);
  }
}

void runMainRunLoop() {
  atspi::bus::runForever();
  // The loop has nothing left it can wait on: the process waits to be
  // ended from outside, as it would in the loop.
  for (;;) ::pause();
}

}  // namespace focusctl::platform
