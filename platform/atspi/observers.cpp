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

enum class Kind { focus, value };

struct Registration {
  std::uint64_t id;
  Kind kind;
  std::string busName;
  std::string path;  // value: the element; focus: empty, the whole application
  void* context;
  std::uint64_t afterEvent;  // only events received after this one count

  // An event of that kind from that element is for this registration.
  bool hears(Kind event, const std::string& fromBus, const std::string& fromPath) const {
    return kind == event && busName == fromBus && (kind == Kind::focus || path == fromPath);
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
  enum class What { focus, value, activated, deactivated } what;
  std::uint64_t event;
  std::string busName;
  std::string path;
  bool fromWindowEvent = false;
  std::string detail;  // value: the kind of change (insert, delete, ...)
};

std::map<std::uint64_t, ObserverState> observers;
std::uint64_t lastSerial = 0;
std::uint64_t lastRegistration = 0;
std::uint64_t lastEvent = 0;
// Focus moves and activations wait to settle, value changes only for the
// loop's next turn.
std::deque<Queued> settling;
std::deque<Queued> immediate;
bus::TimerId settleSource = 0;
std::int64_t firstSettlingAt = 0;
bus::TimerId immediateSource = 0;
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

ObserverState* stateOf(std::uint64_t serial) {
  auto found = observers.find(serial);
  return found == observers.end() ? nullptr : &found->second;
}

void forgetIfUnreferenced(std::uint64_t serial) {
  ObserverState* state = stateOf(serial);
  if (state != nullptr && state->observerRefs == 0 && state->sourceRefs == 0) {
    observers.erase(serial);
  }
}

bool anyLiveRegistration(Kind kind, const std::string& busName,
                         const std::string& path) {
  for (const auto& [serial, state] : observers) {
    if (!state.live()) continue;
    for (const Registration& registration : state.registrations) {
      if (registration.hears(kind, busName, path)) return true;
    }
  }
  return false;
}

void deliverNotification(const Queued& item, Kind kind) {
  if (kind == Kind::focus) {
    if (isKnownFocus(item.busName, item.path)) return;
    noteFocus(item.busName, item.path);
  }
  // Collected first: a callback may add or remove registrations and
  // observers, and each delivery is checked again right before it runs.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> targets;  // observer, id
  for (const auto& [serial, state] : observers) {
    for (const Registration& registration : state.registrations) {
      if (registration.hears(kind, item.busName, item.path) &&
          item.event > registration.afterEvent) {
        targets.emplace_back(serial, registration.id);
      }
    }
  }
  std::string_view name = kind == Kind::focus ? focusChanged : valueChanged;
  for (const auto& [serial, id] : targets) {
    ObserverState* state = stateOf(serial);
    if (state == nullptr || !state->live()) continue;
    auto registration = std::find_if(
        state->registrations.begin(), state->registrations.end(),
        [id = id](const Registration& candidate) { return candidate.id == id; });
    if (registration == state->registrations.end()) continue;
    void* context = registration->context;
    ObserverRef observer{serial};
    ElementRef element;
    element.kind = ElementRef::Kind::accessible;
    element.pid = state->pid;
    element.accessible = {item.busName, item.path};
    state->callback(&observer, &element, name, context);
  }
}

bool isWindow(const Queued& item) {
  if (item.fromWindowEvent) return true;
  // state-changed:active is also sent for other things than windows.
  auto role = calls::role({item.busName, item.path});
  return role.get() != nullptr && isWindowRole(static_cast<AtspiRole>(*role.get()));
}

void onActiveWindowChanged();

void deliverActivation(const Queued& item) {
  Pid owner = applicationPid({item.busName, item.path});
  if (owner <= 0) return;
  if (item.what == Queued::What::deactivated) {
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
  activeApplication = owner;
  activeApplicationFromAtspi = true;
  activating = owner;
  callActivationHandlers();
  activating.reset();
}

bool activationQueued() {
  return std::any_of(settling.begin(), settling.end(), [](const Queued& item) {
    return item.what == Queued::What::activated;
  });
}

void activateFromX11(Pid owner) {
  activeApplication = owner;
  activeApplicationFromAtspi = false;
  callActivationHandlers();
}

void checkActiveWindow() {
  activeWindowCheck = 0;
  // AT-SPI is about to tell; let it.
  if (activationQueued()) {
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
    activateFromX11(owner);
    return;
  }
  // An application that AT-SPI did not tell of may be stopped or hung. It
  // is asked first while the watcher goes on serving the others; one that
  // did not answer in time is not asked again while the handlers run.
  probeLater(root, [owner](bool) {
    if (x11::activeWindowPid().value_or(0) == owner && activeApplication != owner) {
      activateFromX11(owner);
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

void deliver(std::deque<Queued>& queue) {
  // The callbacks look at the desktop anew.
  desktopMayHaveChanged();
  std::deque<Queued> batch;
  batch.swap(queue);
  for (const Queued& item : batch) {
    switch (item.what) {
      case Queued::What::focus:
        deliverNotification(item, Kind::focus);
        break;
      case Queued::What::value:
        deliverNotification(item, Kind::value);
        break;
      case Queued::What::activated:
      case Queued::What::deactivated:
        deliverActivation(item);
        break;
    }
  }
}

void flushSettled() {
  settleSource = 0;
  deliver(settling);
}

void flushImmediate() {
  immediateSource = 0;
  deliver(immediate);
}

void scheduleSettled() {
  std::int64_t now = monotonicUs() / 1000;
  if (settleSource == 0) {
    firstSettlingAt = now;
  } else {
    bus::cancelTimer(settleSource);
  }
  std::int64_t delay = std::clamp<std::int64_t>(firstSettlingAt + settleLimitMs - now, 0, settleMs);
  settleSource = bus::addTimer(std::chrono::milliseconds(delay), flushSettled);
}

void scheduleImmediate() {
  if (immediateSource != 0) return;
  immediateSource = bus::addTimer(std::chrono::milliseconds(0), flushImmediate);
}

// The newer event makes the older one, still waiting, say nothing more: a
// later focus move in the same application, the same window activated or
// deactivated again, another change of the same kind to the same element.
bool supersedes(const Queued& newer, const Queued& older) {
  if (newer.what != older.what || newer.busName != older.busName) return false;
  switch (newer.what) {
    case Queued::What::focus:
      return true;
    case Queued::What::value:
      return newer.path == older.path && newer.detail == older.detail;
    case Queued::What::activated:
    case Queued::What::deactivated:
      return newer.path == older.path && newer.fromWindowEvent == older.fromWindowEvent;
  }
  return false;
}

// Queued as the newest, in place of what it supersedes.
void put(std::deque<Queued>& queue, Queued item) {
  std::erase_if(queue, [&item](const Queued& older) { return supersedes(item, older); });
  if (queue.size() >= maxQueued) queue.pop_front();
  queue.push_back(std::move(item));
}

void enqueue(Queued::What what, const Event& event, bool fromWindowEvent) {
  const ObjectRef& source = event.source;
  if (source.bus.empty()) return;
  Queued item{what, lastEvent, source.bus, source.path, fromWindowEvent, {}};
  if (what == Queued::What::value) {
    if (!anyLiveRegistration(Kind::value, source.bus, source.path)) return;
    item.detail = event.detail;
    put(immediate, std::move(item));
    scheduleImmediate();
    return;
  }
  if (what == Queued::What::focus) {
    if (!anyLiveRegistration(Kind::focus, source.bus, source.path)) return;
  } else if (activationHandlers.empty()) {
    return;
  }
  put(settling, std::move(item));
  scheduleSettled();
}

// Handed over by the loop, never from inside a call.
void handleEvent(const Event& event) {
  ++lastEvent;
  const wire::Signal* signal = event.signal;
  if (signal == &wire::focusedChanged) {
    if (event.detail1 == 1) enqueue(Queued::What::focus, event, false);
  } else if (signal == &wire::textChanged || signal == &wire::valueChanged ||
             signal == &wire::checkedChanged || signal == &wire::pressedChanged ||
             signal == &wire::selectedChanged) {
    enqueue(Queued::What::value, event, false);
  } else if (signal == &wire::windowActivated) {
    enqueue(Queued::What::activated, event, true);
  } else if (signal == &wire::windowDeactivated) {
    enqueue(Queued::What::deactivated, event, true);
  } else if (signal == &wire::activeChanged) {
    enqueue(event.detail1 == 1 ? Queued::What::activated : Queued::What::deactivated,
            event, false);
  }
}

// A registry that restarted knows of no listener: the events are asked for
// again. An application that left takes what was learnt of it along.
void onNameChange(const bus::NameChange& change) {
  if (change.name == wire::registryName && !change.newOwner.empty()) listenAgain();
  if (change.name.starts_with(':') && change.newOwner.empty()) {
    auto itsOwn = [&change](const Queued& item) { return item.busName == change.name; };
    std::erase_if(settling, itsOwn);
    std::erase_if(immediate, itsOwn);
    forgetBusName(change.name);
    forgetFocusOf(change.name);
  }
}

// The bus has gone, or is back: nothing learnt of the applications on it
// holds, and the watcher builds anew, with nothing to follow while the bus
// is gone ("fallback") and the application in front once it is back.
void onConnectionChange(bool) {
  settling.clear();
  immediate.clear();
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

struct Target {
  ResultCode code = code::success;
  std::string busName;
  std::string path;
  Pid pid = 0;
};

// Which events a registration on the element stands for.
Target targetOf(ElementRef& element, Kind kind) {
  switch (element.kind) {
    case ElementRef::Kind::systemWide:
      return {code::illegalArgument, {}, {}, 0};
    case ElementRef::Kind::application: {
      const ObjectRef& root = applicationRoot(element);
      if (root.isNull()) return {code::cannotComplete, {}, {}, 0};
      return {code::success, root.bus, kind == Kind::focus ? "" : root.path, element.pid};
    }
    case ElementRef::Kind::accessible:
      if (element.accessible.isNull()) return {code::invalidElement, {}, {}, 0};
      return {code::success, element.accessible.bus,
              kind == Kind::focus ? std::string() : element.accessible.path, element.pid};
  }
  return {code::failure, {}, {}, 0};
}

std::optional<Kind> kindOf(std::string_view notification) {
  if (notification == focusChanged) return Kind::focus;
  if (notification == valueChanged) return Kind::value;
  return std::nullopt;
}

std::vector<Registration>::iterator findRegistration(ObserverState& state, Kind kind,
                                                     const Target& target) {
  return std::find_if(state.registrations.begin(), state.registrations.end(),
                      [&](const Registration& registration) {
                        return registration.kind == kind &&
                               registration.busName == target.busName &&
                               registration.path == target.path;
                      });
}

}  // namespace

std::optional<Pid> applicationBeingActivated() { return activating; }

}  // namespace atspi

void release(ObserverRef* ref) noexcept {
  if (ref == nullptr) return;
  if (atspi::ObserverState* state = atspi::stateOf(ref->serial)) {
    if (--state->observerRefs == 0) state->registrations.clear();
    atspi::forgetIfUnreferenced(ref->serial);
  }
  delete ref;
}

void release(RunLoopSourceRef* ref) noexcept {
  if (ref == nullptr) return;
  if (atspi::ObserverState* state = atspi::stateOf(ref->serial)) {
    --state->sourceRefs;
    atspi::forgetIfUnreferenced(ref->serial);
  }
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
  if (!observer) return RunLoopSource();
  atspi::ObserverState* state = atspi::stateOf(observer.get()->serial);
  if (state == nullptr) return RunLoopSource();
  ++state->sourceRefs;
  return RunLoopSource(new RunLoopSourceRef{observer.get()->serial});
}

ResultCode addObserverNotification(const Observer& observer, const Element& element,
                                   std::string_view notification, void* context) {
  if (!observer) return code::invalidObserver;
  atspi::ObserverState* state = atspi::stateOf(observer.get()->serial);
  if (state == nullptr || state->observerRefs == 0) return code::invalidObserver;
  if (!element) return code::illegalArgument;
  if (!atspi::busConnected()) return code::apiDisabled;
  std::optional<atspi::Kind> kind = atspi::kindOf(notification);
  if (!kind) return code::notificationUnsupported;
  atspi::Target target = atspi::targetOf(*element.get(), *kind);
  if (target.code != code::success) return target.code;
  // An observer hears only its own application, as on macOS.
  if (target.pid <= 0 && element.get()->kind == ElementRef::Kind::accessible) {
    target.pid = element.get()->pid =
        atspi::applicationPid(element.get()->accessible);
  }
  if (target.pid > 0 && target.pid != state->pid) return code::illegalArgument;
  if (atspi::findRegistration(*state, *kind, target) != state->registrations.end()) {
    return code::notificationAlreadyRegistered;
  }
  if (*kind == atspi::Kind::focus) {
    atspi::listenForEach({&atspi::wire::focusedChanged});
  } else {
    atspi::listenForEach({&atspi::wire::textChanged, &atspi::wire::valueChanged,
                      &atspi::wire::checkedChanged, &atspi::wire::pressedChanged,
                      &atspi::wire::selectedChanged});
  }
  state->registrations.push_back({++atspi::lastRegistration, *kind, target.busName,
                                  target.path, context, atspi::lastEvent});
  return code::success;
}

ResultCode removeObserverNotification(const Observer& observer, const Element& element,
                                      std::string_view notification) {
  if (!observer) return code::invalidObserver;
  atspi::ObserverState* state = atspi::stateOf(observer.get()->serial);
  if (state == nullptr || state->observerRefs == 0) return code::invalidObserver;
  if (!element) return code::illegalArgument;
  std::optional<atspi::Kind> kind = atspi::kindOf(notification);
  if (!kind) return code::notificationUnsupported;
  if (!atspi::busConnected()) return code::notificationNotRegistered;
  atspi::Target target = atspi::targetOf(*element.get(), *kind);
  if (target.code != code::success) return code::notificationNotRegistered;
  auto found = atspi::findRegistration(*state, *kind, target);
  if (found == state->registrations.end()) return code::notificationNotRegistered;
  state->registrations.erase(found);
  return code::success;
}

void addSourceToMainRunLoop(const RunLoopSource& source) {
  if (!source) return;
  if (atspi::ObserverState* state = atspi::stateOf(source.get()->serial)) {
    state->attached = true;
  }
}

void removeSourceFromMainRunLoop(const RunLoopSource& source) {
  if (!source) return;
  if (atspi::ObserverState* state = atspi::stateOf(source.get()->serial)) {
    state->attached = false;
  }
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
