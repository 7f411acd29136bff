// platform.h served by the simulated desktop. Every request is recorded in
// the call log; every handle handed out or given up is accounted for.
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_state.h"

namespace focusctl::platform {

using sim::Kind;
using sim::record;
using sim::state;
using sim::usable;

namespace {

// Gives up a held handle; releasing one that is not held is a test's error.
template <typename Ref>
bool releaseHandle(Ref* ref, Kind kind, const char* what) noexcept {
  if (ref == nullptr || !ref->live) {
    sim::recordError(std::string("release of ") + what + " that is not held");
    return false;
  }
  ref->live = false;
  sim::noteRelease(kind);
  return true;
}

}  // namespace

void release(ElementRef* ref) noexcept { releaseHandle(ref, Kind::element, "an element handle"); }
void release(ObserverRef* ref) noexcept {
  const bool attached = ref != nullptr && ref->live && ref->attached;
  if (releaseHandle(ref, Kind::observer, "an observer") && attached) {
    ++state().desktop.observersReleasedWhileAttached;
  }
}
void release(RunLoopSourceRef* ref) noexcept { releaseHandle(ref, Kind::runLoopSource, "a run-loop source"); }
void release(ApplicationRef* ref) noexcept { releaseHandle(ref, Kind::application, "an application"); }

// ---------------------------------------------------------------------------
// Accessibility

void limitAccessibilityTime(std::optional<std::chrono::milliseconds> budget) {
  record("limitAccessibilityTime " + (budget ? std::to_string(budget->count()) : "none"));
}

bool isProcessTrusted() {
  record("isProcessTrusted");
  return state().desktop.trusted;
}

Element createSystemWideElement() {
  record("createSystemWideElement");
  return Element(sim::newElementRef(sim::systemWide));
}

Element createApplicationElement(Pid pid) {
  record("createApplicationElement " + std::to_string(pid));
  // Like the real service: an element for any pid, which answers nothing
  // unless the process is a running application.
  auto running = state().apps.find(pid);
  return Element(sim::newElementRef(running != state().apps.end() ? running->second.element
                                                                   : sim::addElement(pid)));
}

namespace {

AttributeValue valueOf(const sim::Answer& answer) {
  return std::visit(
      [](const auto& value) -> AttributeValue {
        using V = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<V, sim::ElementLink>) {
          return AttributeValue(std::in_place_type<Element>, sim::newElementRef(value.id));
        } else {
          return AttributeValue(value);
        }
      },
      answer.value);
}

}  // namespace

CopiedAttribute copyAttributeValue(const Element& element, std::string_view attribute) {
  if (!usable(element.get(), "copyAttributeValue")) {
    return {code::illegalArgument, {}};
  }
  record("copyAttributeValue " + std::to_string(element.get()->id) + " " + std::string(attribute));
  const sim::SimElement& simElement = state().elements.at(element.get()->id);
  auto found = simElement.attributes.find(attribute);
  if (found == simElement.attributes.end()) {
    return {code::attributeUnsupported, {}};
  }
  return {found->second.code, valueOf(found->second)};
}

ElementPid elementPid(const Element& element) {
  if (!usable(element.get(), "elementPid")) return {code::illegalArgument, 0};
  record("elementPid " + std::to_string(element.get()->id));
  return state().elements.at(element.get()->id).pid;
}

ResultCode setAttributeValue(const Element& element, std::string_view attribute,
                             std::string_view text) {
  if (!usable(element.get(), "setAttributeValue")) return code::illegalArgument;
  record("setAttributeValue " + std::to_string(element.get()->id) + " " + std::string(attribute));
  state().desktop.writes.push_back({element.get()->id, std::string(attribute), std::string(text)});
  return state().elements.at(element.get()->id).setValueResult;
}

ResultCode performAction(const Element& element, std::string_view action) {
  if (!usable(element.get(), "performAction")) return code::illegalArgument;
  record("performAction " + std::to_string(element.get()->id) + " " + std::string(action));
  state().desktop.presses.push_back({element.get()->id, std::string(action)});
  return state().elements.at(element.get()->id).performActionResult;
}

// ---------------------------------------------------------------------------
// Observers and the main run loop

CreatedObserver createObserver(Pid pid, ObserverCallback callback) {
  record("createObserver " + std::to_string(pid));
  sim::State& s = state();
  sim::App answers;  // a process that is not an application: defaults
  if (auto running = s.apps.find(pid); running != s.apps.end()) {
    answers = running->second;
  }
  CreatedObserver created;
  created.code = answers.observerCode;
  if (answers.observerDelivered) {
    ++s.handedOut[static_cast<int>(Kind::observer)];
    ObserverRef& observer = s.observers.emplace_back();
    observer.serial = static_cast<int>(s.observers.size() - 1);
    observer.pid = pid;
    observer.callback = callback;
    observer.hasRunLoopSource = answers.observerHasRunLoopSource;
    created.observer = Observer(&observer);
  }
  return created;
}

RunLoopSource observerRunLoopSource(const Observer& observer) {
  if (!usable(observer.get(), "observerRunLoopSource")) return RunLoopSource();
  record("observerRunLoopSource");
  if (!observer.get()->hasRunLoopSource) return RunLoopSource();
  sim::State& s = state();
  ++s.handedOut[static_cast<int>(Kind::runLoopSource)];
  return RunLoopSource(&s.sources.emplace_back(RunLoopSourceRef{observer.get()->serial, true}));
}

ResultCode addObserverNotification(const Observer& observer, const Element& element,
                                   std::string_view notification, void* context) {
  if (!usable(observer.get(), "addObserverNotification") ||
      !usable(element.get(), "addObserverNotification")) {
    return code::illegalArgument;
  }
  const sim::ElementId id = element.get()->id;
  record("addObserverNotification " + std::to_string(id) + " " + std::string(notification));
  const sim::SimElement& simElement = state().elements.at(id);
  ResultCode result = code::success;
  if (auto scripted = simElement.addNotificationResult.find(notification);
      scripted != simElement.addNotificationResult.end()) {
    result = scripted->second;
  }
  if (result == code::success || result == code::notificationAlreadyRegistered) {
    observer.get()->registered[{id, std::string(notification)}] = context;
  }
  return result;
}

ResultCode removeObserverNotification(const Observer& observer, const Element& element,
                                      std::string_view notification) {
  if (!usable(observer.get(), "removeObserverNotification") ||
      !usable(element.get(), "removeObserverNotification")) {
    return code::illegalArgument;
  }
  const sim::ElementId id = element.get()->id;
  record("removeObserverNotification " + std::to_string(id) + " " + std::string(notification));
  const sim::SimElement& simElement = state().elements.at(id);
  if (auto scripted = simElement.removeNotificationResult.find(notification);
      scripted != simElement.removeNotificationResult.end()) {
    return scripted->second;
  }
  return observer.get()->registered.erase({id, std::string(notification)}) > 0
             ? code::success
             : code::notificationNotRegistered;
}

void addSourceToMainRunLoop(const RunLoopSource& source) {
  if (!usable(source.get(), "addSourceToMainRunLoop")) return;
  record("addSourceToMainRunLoop");
  ObserverRef& observer = state().observers.at(static_cast<std::size_t>(source.get()->observer));
  if (!observer.live) {
    sim::recordError("addSourceToMainRunLoop: its observer was released");
  }
  observer.attached = true;
}

void removeSourceFromMainRunLoop(const RunLoopSource& source) {
  if (!usable(source.get(), "removeSourceFromMainRunLoop")) return;
  record("removeSourceFromMainRunLoop");
  state().observers.at(static_cast<std::size_t>(source.get()->observer)).attached = false;
}

void observeApplicationActivation(ActivationHandler handler) {
  record("observeApplicationActivation");
  state().activationHandlers.push_back(handler);
}

void runMainRunLoop() {
  record("runMainRunLoop");
  sim::State& s = state();
  while (!s.events.empty()) {
    std::function<void()> event = std::move(s.events.front());
    s.events.pop_front();
    event();
    if (s.desktop.afterEvent) s.desktop.afterEvent();
  }
}

// ---------------------------------------------------------------------------
// Workspace and running applications

RunningApplication frontmostApplication() {
  record("frontmostApplication");
  sim::State& s = state();
  if (!s.desktop.frontmost || !s.apps.contains(*s.desktop.frontmost)) {
    return RunningApplication();
  }
  return RunningApplication(sim::newApplicationRef(*s.desktop.frontmost));
}

RunningApplication runningApplication(Pid pid) {
  record("runningApplication " + std::to_string(pid));
  sim::State& s = state();
  bool found = s.apps.contains(pid);
  if (!s.desktop.runningApplicationScript.empty()) {
    found = found && s.desktop.runningApplicationScript.front();
    s.desktop.runningApplicationScript.pop_front();
  }
  return found ? RunningApplication(sim::newApplicationRef(pid)) : RunningApplication();
}

Pid processIdentifier(const RunningApplication& application) {
  if (!usable(application.get(), "processIdentifier")) return 0;
  record("processIdentifier");
  const Pid pid = application.get()->pid;
  return state().apps.at(pid).reportsPid.value_or(pid);
}

std::optional<std::string> localizedName(const RunningApplication& application) {
  if (!usable(application.get(), "localizedName")) return std::nullopt;
  record("localizedName");
  return state().apps.at(application.get()->pid).name;
}

std::optional<std::string> bundleIdentifier(const RunningApplication& application) {
  if (!usable(application.get(), "bundleIdentifier")) return std::nullopt;
  record("bundleIdentifier");
  return state().apps.at(application.get()->pid).bundleId;
}

bool activateApplication(const RunningApplication& application, std::uint32_t options) {
  if (!usable(application.get(), "activateApplication")) return false;
  record("activateApplication " + std::to_string(application.get()->pid));
  state().desktop.activations.push_back({application.get()->pid, options});
  return state().apps.at(application.get()->pid).acceptsActivation;
}

// ---------------------------------------------------------------------------
// Standard output, kept for the tests to read

void writeOutput(std::string_view bytes) {
  state().desktop.output.push_back({false, std::string(bytes)});
}

void writeLineNow(std::string_view line) {
  state().desktop.output.push_back({true, std::string(line)});
}

}  // namespace focusctl::platform
