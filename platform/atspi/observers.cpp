// Observers and their run-loop sources over AT-SPI events, and application
// activation over X11 (or AT-SPI without a window manager), all served by the
// GLib main loop.
//
// libatspi hands events to its listeners from inside any of its calls (it
// drains queued signals after each), so a listener here only queues what it
// got; the queue is delivered from the main loop itself. That keeps
// callbacks from ever running inside another callback's platform call, and
// lets a callback be checked against the observer's state at the moment it
// would run: a detached or released observer gets nothing.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/atspi/activation.h"
#include "platform/atspi/ax_mapping.h"
#include "platform/atspi/bus_session.h"
#include "platform/atspi/element_ref.h"
#include "platform/atspi/focus_search.h"
#include "platform/atspi/freshness.h"
#include "platform/atspi/registered_applications.h"
#include "platform/atspi/x11_desktop.h"

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
// callback per AT-SPI event: the watcher neither batches nor coalesces
// them (GTK 3 reports one replacement of the text as a deletion and an
// insertion: two callbacks).
//
// Focus moves and activations are delivered once they have settled: this
// long after the last one arrived, and at most settleLimitMs after the
// first. A toolkit's state is only right to read after the last event of a
// change (GTK 3 reports a focus move first from the widget, then again once
// its accessibility state has caught up a main-loop turn later), and the
// callback reads it at once. Repeats of a focus move still waiting are
// dropped.
constexpr gint64 settleMs = 40;
constexpr gint64 settleLimitMs = 200;

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
  GRef<AtspiAccessible> source;
  std::string busName;
  std::string path;
  bool fromWindowEvent = false;
};

std::map<std::uint64_t, ObserverState> observers;
std::uint64_t lastSerial = 0;
std::uint64_t lastRegistration = 0;
std::uint64_t lastEvent = 0;
// Hold references to accessibles: never torn down at exit, when libatspi
// may already be gone. Focus moves and activations wait to settle, value
// changes only for the main loop.
std::deque<Queued>& settling = *new std::deque<Queued>;
std::deque<Queued>& immediate = *new std::deque<Queued>;
guint settleSource = 0;
gint64 firstSettlingAt = 0;
guint immediateSource = 0;
std::vector<ActivationHandler> activationHandlers;
// An activation is a change of the application owning the active window.
// AT-SPI window events tell it first, once the application's own state is
// ready to be read. Where an EWMH window manager runs, a change of the X11
// active window that AT-SPI has not told of after activationGraceMs is an
// activation too: an application without AT-SPI, or one whose events were
// lost while it started up. Toolkits announce one activation in more than
// one way; each counts once.
constexpr guint activationGraceMs = 500;
// 0 for an active window without a process id, or for none at all; nothing
// once the application's window was deactivated.
std::optional<Pid> activeApplication;
bool activeApplicationFromAtspi = false;
guint activeWindowCheck = 0;
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
      if (registration.kind == kind && registration.busName == busName &&
          (kind == Kind::focus || registration.path == path)) {
        return true;
      }
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
      if (registration.kind == kind && registration.busName == item.busName &&
          (kind == Kind::focus || registration.path == item.path) &&
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
    element.accessible = addRef(item.source.get());
    element.busName = item.busName;
    element.path = item.path;
    state->callback(&observer, &element, name, context);
  }
}

bool isWindow(const Queued& item) {
  if (item.fromWindowEvent) return true;
  // state-changed:active is also sent for other things than windows.
  ErrorSlot error;
  AtspiRole role = atspi_accessible_get_role(item.source.get(), error.out());
  return !error && isWindowRole(role);
}

void onActiveWindowChanged();

void deliverActivation(const Queued& item) {
  Pid owner = applicationPid(item.source.get());
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

gboolean checkActiveWindow(gpointer) {
  activeWindowCheck = 0;
  // AT-SPI is about to tell; let it.
  if (activationQueued()) {
    activeWindowCheck = g_timeout_add(static_cast<guint>(settleMs), checkActiveWindow, nullptr);
    return G_SOURCE_REMOVE;
  }
  desktopMayHaveChanged();
  Pid owner = x11::activeWindowPid().value_or(0);
  // No X11 window active while AT-SPI named an application: under XWayland
  // a Wayland application is in front, and AT-SPI's word stands.
  if (owner == 0 && activeApplication && activeApplicationFromAtspi) return G_SOURCE_REMOVE;
  if (activeApplication == owner) return G_SOURCE_REMOVE;
  GRef<AtspiAccessible> root = owner > 0 ? applicationForPid(owner) : nullptr;
  if (!root) {
    activateFromX11(owner);
    return G_SOURCE_REMOVE;
  }
  // An application that AT-SPI did not tell of may be stopped or hung. It
  // is asked first while the watcher goes on serving the others; one that
  // did not answer in time is not asked again while the handlers run.
  probeLater(root.get(), [owner](bool) {
    if (x11::activeWindowPid().value_or(0) == owner && activeApplication != owner) {
      activateFromX11(owner);
    }
  });
  return G_SOURCE_REMOVE;
}

// The X11 active window changed: looked at once it has stayed so for the
// grace time, so that AT-SPI can tell first and a change that is undone
// meanwhile counts not at all.
void onActiveWindowChanged() {
  if (activeWindowCheck != 0) g_source_remove(activeWindowCheck);
  activeWindowCheck = g_timeout_add(activationGraceMs, checkActiveWindow, nullptr);
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

gboolean flushSettled(gpointer) {
  settleSource = 0;
  deliver(settling);
  return G_SOURCE_REMOVE;
}

gboolean flushImmediate(gpointer) {
  immediateSource = 0;
  deliver(immediate);
  return G_SOURCE_REMOVE;
}

void scheduleSettled() {
  gint64 now = g_get_monotonic_time() / 1000;
  if (settleSource == 0) {
    firstSettlingAt = now;
  } else {
    g_source_remove(settleSource);
  }
  gint64 delay = std::clamp<gint64>(firstSettlingAt + settleLimitMs - now, 0, settleMs);
  settleSource = g_timeout_add(static_cast<guint>(delay), flushSettled, nullptr);
}

void scheduleImmediate() {
  if (immediateSource != 0) return;
  immediateSource = g_idle_add_full(G_PRIORITY_DEFAULT, flushImmediate, nullptr, nullptr);
}

bool focusAlreadySettling(const std::string& busName, const std::string& path) {
  return std::any_of(settling.begin(), settling.end(), [&](const Queued& item) {
    return item.what == Queued::What::focus && item.busName == busName &&
           item.path == path;
  });
}

void enqueue(Queued::What what, AtspiAccessible* source, bool fromWindowEvent) {
  std::string busName = busNameOf(source);
  std::string path = pathOf(source);
  if (busName.empty()) return;
  if (what == Queued::What::value) {
    if (!anyLiveRegistration(Kind::value, busName, path)) return;
    immediate.push_back({what, lastEvent, addRef(source), std::move(busName),
                         std::move(path), fromWindowEvent});
    scheduleImmediate();
    return;
  }
  if (what == Queued::What::focus) {
    if (!anyLiveRegistration(Kind::focus, busName, path)) return;
    if (focusAlreadySettling(busName, path)) {
      scheduleSettled();
      return;
    }
  } else if (activationHandlers.empty()) {
    return;
  }
  settling.push_back({what, lastEvent, addRef(source), std::move(busName),
                      std::move(path), fromWindowEvent});
  scheduleSettled();
}

struct EventFree {
  void operator()(AtspiEvent* event) const noexcept {
    g_boxed_free(ATSPI_TYPE_EVENT, event);
  }
};

// Called by libatspi with an event of its own that this function owns.
void onEvent(AtspiEvent* event, void*) {
  std::unique_ptr<AtspiEvent, EventFree> owned(event);
  if (event == nullptr || event->source == nullptr || event->type == nullptr) return;
  ++lastEvent;
  std::string_view type = event->type;
  if (type == "object:state-changed:focused") {
    if (event->detail1 == 1) enqueue(Queued::What::focus, event->source, false);
  } else if (type.starts_with("object:text-changed") ||
             type == "object:property-change:accessible-value") {
    enqueue(Queued::What::value, event->source, false);
  } else if (type == "window:activate") {
    enqueue(Queued::What::activated, event->source, true);
  } else if (type == "window:deactivate") {
    enqueue(Queued::What::deactivated, event->source, true);
  } else if (type == "object:state-changed:active") {
    enqueue(event->detail1 == 1 ? Queued::What::activated : Queued::What::deactivated,
            event->source, false);
  }
}

// Each AT-SPI event type is subscribed to once per process, when the first
// registration needs it, by the one listener of the process (which lives as
// long as the bus connection).
void listenFor(std::initializer_list<const char*> types) {
  static AtspiEventListener* listener = atspi_event_listener_new(onEvent, nullptr, nullptr);
  static std::set<std::string> subscribed;
  for (const char* type : types) {
    if (!subscribed.insert(type).second) continue;
    ErrorSlot error;
    atspi_event_listener_register(listener, type, error.out());
  }
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
      AtspiAccessible* root = applicationRoot(element);
      if (root == nullptr) return {code::cannotComplete, {}, {}, 0};
      std::string busName = busNameOf(root);
      if (busName.empty()) return {code::invalidElement, {}, {}, 0};
      return {code::success, busName, kind == Kind::focus ? "" : pathOf(root),
              element.pid};
    }
    case ElementRef::Kind::accessible:
      if (element.busName.empty()) return {code::invalidElement, {}, {}, 0};
      return {code::success, element.busName,
              kind == Kind::focus ? std::string() : element.path, element.pid};
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
        atspi::applicationPid(element.get()->accessible.get());
  }
  if (target.pid > 0 && target.pid != state->pid) return code::illegalArgument;
  if (atspi::findRegistration(*state, *kind, target) != state->registrations.end()) {
    return code::notificationAlreadyRegistered;
  }
  if (*kind == atspi::Kind::focus) {
    atspi::listenFor({"object:state-changed:focused"});
  } else {
    atspi::listenFor({"object:text-changed", "object:property-change:accessible-value"});
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
    atspi::listenFor({"window:activate", "window:deactivate",
                      "object:state-changed:active"});
  }
  if (x11::watchActiveWindow(atspi::onActiveWindowChanged)) {
    atspi::activeApplication = x11::activeWindowPid().value_or(0);
  }
}

void runMainRunLoop() {
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
}

}  // namespace focusctl::platform
