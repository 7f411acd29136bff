// The simulated desktop: state, scripting and accounting. The functions of
// platform.h are in sim_platform.cpp.
#include "platform/sim/sim.h"

#include <algorithm>

#include "platform/sim/sim_state.h"

namespace focusctl::sim {

State& state() {
  static State instance;
  return instance;
}

Desktop& desktop() { return state().desktop; }

void reset() { state() = State{}; }

void forgetActivationHandlers() { state().activationHandlers.clear(); }

void record(std::string call) {
  if (desktop().recordCalls) desktop().calls.push_back(std::move(call));
}

void recordError(std::string error) { desktop().errors.push_back(std::move(error)); }

platform::ElementRef* newElementRef(ElementId id) {
  State& s = state();
  s.elements.try_emplace(id);
  ++s.handedOut[static_cast<int>(Kind::element)];
  return &s.elementRefs.emplace_back(platform::ElementRef{id, true});
}

platform::ApplicationRef* newApplicationRef(Pid pid) {
  State& s = state();
  ++s.handedOut[static_cast<int>(Kind::application)];
  return &s.applicationRefs.emplace_back(platform::ApplicationRef{pid, true});
}

void noteRelease(Kind kind) { ++state().released[static_cast<int>(kind)]; }

ElementId addElement(Pid owner) {
  State& s = state();
  ElementId id = s.nextElement++;
  s.elements[id].pid = {code::success, owner};
  return id;
}

SimElement& element(ElementId id) { return state().elements.at(id); }

App& addApp(Pid pid, std::optional<std::string> name, std::optional<std::string> bundleId) {
  App& added = state().apps[pid] = App{};
  added.pid = pid;
  added.name = std::move(name);
  added.bundleId = std::move(bundleId);
  added.element = addElement(pid);
  return added;
}

App& app(Pid pid) { return state().apps.at(pid); }

void focus(ElementId id) {
  State& s = state();
  s.elements.at(systemWide).attributes["AXFocusedUIElement"] = link(id);
  auto owner = s.apps.find(s.elements.at(id).pid.pid);
  if (owner != s.apps.end()) {
    s.elements.at(owner->second.element).attributes["AXFocusedUIElement"] = link(id);
  }
}

void queueActivation(Pid pid) {
  state().events.emplace_back([pid] {
    State& s = state();
    s.desktop.frontmost = pid;
    // A copy: a handler may register another one.
    auto handlers = s.activationHandlers;
    for (platform::ActivationHandler handler : handlers) handler();
  });
}

void queueNotification(Pid pid, ElementId target, std::string notification) {
  state().events.emplace_back([pid, target, notification] {
    State& s = state();
    // Observers created by a callback are not asked for this notification.
    const std::size_t count = s.observers.size();
    for (std::size_t i = 0; i < count; ++i) {
      platform::ObserverRef& observer = s.observers[i];
      // As on the real platform: only an observer that is still held and
      // whose source is attached to the main run loop calls back.
      if (!observer.live || !observer.attached || observer.pid != pid) continue;
      auto registered = observer.registered.find({target, notification});
      if (registered == observer.registered.end()) continue;
      void* context = registered->second;
      platform::ElementRef* borrowed = newElementRef(target);
      observer.callback(&observer, borrowed, notification, context);
      borrowed->live = false;
      noteRelease(Kind::element);
    }
  });
}

void queueAction(std::function<void()> action) { state().events.push_back(std::move(action)); }

int live(Kind kind) {
  return state().handedOut[static_cast<int>(kind)] - state().released[static_cast<int>(kind)];
}
int liveTotal() {
  return live(Kind::element) + live(Kind::observer) + live(Kind::runLoopSource) +
         live(Kind::application);
}

ElementId idOf(const platform::ElementRef* ref) { return ref->id; }
Pid pidOf(const platform::ObserverRef* ref) { return ref->pid; }
int serialOf(const platform::ObserverRef* ref) { return ref->serial; }

std::set<Registration> registrations() {
  std::set<Registration> result;
  for (const platform::ObserverRef& observer : state().observers) {
    if (!observer.live) continue;
    for (const auto& [key, context] : observer.registered) {
      result.insert({observer.serial, observer.pid, key.first, key.second, context});
    }
  }
  return result;
}

std::size_t callCount(std::string_view operation) {
  return static_cast<std::size_t>(std::count_if(
      desktop().calls.begin(), desktop().calls.end(), [operation](const std::string& call) {
        return call.starts_with(operation) &&
               (call.size() == operation.size() || call[operation.size()] == ' ');
      }));
}

std::string bufferedOutput() {
  std::string all;
  for (const OutputChunk& chunk : desktop().output) {
    if (!chunk.lineNow) all += chunk.bytes;
  }
  return all;
}

std::vector<std::string> linesNow() {
  std::vector<std::string> lines;
  for (const OutputChunk& chunk : desktop().output) {
    if (chunk.lineNow) lines.push_back(chunk.bytes);
  }
  return lines;
}

}  // namespace focusctl::sim
