// The simulator's internal state, shared by its two source files only.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim.h"

namespace focusctl::platform {

// Handles are never freed during a test, so a released handle keeps its
// address and a second release or a late use is recognised as such.
struct ElementRef {
  sim::ElementId id;
  bool live;
};

struct ObserverRef {
  int serial = 0;
  Pid pid = 0;
  ObserverCallback callback = nullptr;
  bool hasRunLoopSource = true;
  bool live = true;
  bool attached = false;  // its source is in the main run loop
  std::map<std::pair<sim::ElementId, std::string>, void*> registered;
};

struct RunLoopSourceRef {
  int observer;  // serial of the observer it belongs to
  bool live;
};

struct ApplicationRef {
  Pid pid;
  bool live;
};

}  // namespace focusctl::platform

namespace focusctl::sim {

struct State {
  State() { elements[systemWide] = SimElement{}; }

  Desktop desktop;
  std::map<ElementId, SimElement> elements;
  ElementId nextElement = 1;
  std::map<Pid, App> apps;
  std::deque<platform::ElementRef> elementRefs;
  std::deque<platform::ObserverRef> observers;  // index == serial
  std::deque<platform::RunLoopSourceRef> sources;
  std::deque<platform::ApplicationRef> applicationRefs;
  std::deque<std::function<void()>> events;
  std::vector<platform::ActivationHandler> activationHandlers;
  std::array<int, 4> handedOut{};
  std::array<int, 4> released{};
};

State& state();
void record(std::string call);
void recordError(std::string error);
// A handle may be used while it is held; anything else is a test's error.
template <typename Ref>
bool usable(const Ref* ref, std::string_view operation) {
  if (ref != nullptr && ref->live) return true;
  recordError(std::string(operation) + (ref ? ": released handle" : ": no handle"));
  return false;
}
platform::ElementRef* newElementRef(ElementId id);
platform::ApplicationRef* newApplicationRef(Pid pid);
void noteRelease(Kind kind);

}  // namespace focusctl::sim
