// A scriptable in-memory desktop behind platform.h, for the unit tests.
//
// Tests describe applications and elements, say what each platform request
// answers, queue events for the main run loop and read back what focusctl
// wrote, pressed and printed. Every handle handed out is accounted for, so a
// test can check that nothing leaked and nothing was released twice.
//
// Trust only decides what isProcessTrusted answers; queries keep answering as
// scripted, so a test can tell "no trust gate" from "the queries failed".
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/platform.h"

namespace focusctl::sim {

using platform::Pid;
using platform::ResultCode;
namespace code = platform::code;

using ElementId = int;
// The system-wide element always exists and has this id.
inline constexpr ElementId systemWide = 0;

// An attribute whose value is another element of the desktop.
struct ElementLink {
  ElementId id = systemWide;
};

// What copyAttributeValue answers for one attribute. A failure may still
// carry a value, which the caller then has to give up.
struct Answer {
  ResultCode code = code::success;
  std::variant<std::monostate, std::string, platform::Point, platform::Size,
               platform::Range, ElementLink, platform::OtherKind>
      value;
};

inline Answer text(std::string value) { return {code::success, std::move(value)}; }
inline Answer point(double x, double y) { return {code::success, platform::Point{x, y}}; }
inline Answer size(double width, double height) {
  return {code::success, platform::Size{width, height}};
}
inline Answer range(std::int64_t location, std::int64_t length) {
  return {code::success, platform::Range{location, length}};
}
inline Answer link(ElementId id) { return {code::success, ElementLink{id}}; }
inline Answer otherKind() { return {code::success, platform::OtherKind{}}; }
inline Answer noValue() { return {code::success, std::monostate{}}; }  // success without a value
inline Answer failure(ResultCode failureCode) { return {failureCode, std::monostate{}}; }

struct SimElement {
  // A missing attribute answers attributeUnsupported.
  std::map<std::string, Answer, std::less<>> attributes;
  platform::ElementPid pid{code::success, 0};
  ResultCode setValueResult = code::success;
  ResultCode performActionResult = code::success;
  // Per notification name; absent means success.
  std::map<std::string, ResultCode, std::less<>> addNotificationResult;
  std::map<std::string, ResultCode, std::less<>> removeNotificationResult;
};

struct App {
  Pid pid = 0;
  std::optional<std::string> name;
  std::optional<std::string> bundleId;
  bool acceptsActivation = true;
  // What processIdentifier answers when it should differ from the pid the
  // application was looked up by.
  std::optional<Pid> reportsPid;
  ElementId element = systemWide;  // its application element
  // How createObserver answers for this process.
  ResultCode observerCode = code::success;
  bool observerDelivered = true;
  bool observerHasRunLoopSource = true;
};

enum class Kind { element, observer, runLoopSource, application };

struct Write {
  ElementId element;
  std::string attribute;
  std::string text;
  bool operator==(const Write&) const = default;
};
struct Press {
  ElementId element;
  std::string action;
  bool operator==(const Press&) const = default;
};
struct Activation {
  Pid pid;
  std::uint32_t options;
  bool operator==(const Activation&) const = default;
};
struct Registration {
  int observer;  // serial of the observer, in order of creation
  Pid pid;
  ElementId element;
  std::string notification;
  const void* context;
  auto operator<=>(const Registration&) const = default;
};
struct OutputChunk {
  bool lineNow;  // written by writeLineNow, else by writeOutput
  std::string bytes;
};

struct Desktop {
  bool trusted = true;
  std::optional<Pid> frontmost;
  // Answers of runningApplication, one per call, consumed in order: false
  // finds nothing even for a running process. When empty, the lookup finds
  // whatever application has that pid.
  std::deque<bool> runningApplicationScript;
  bool recordCalls = true;
  // Runs after each event the main run loop processes.
  std::function<void()> afterEvent;

  // What happened, for the tests to read.
  std::vector<std::string> calls;   // "operation" or "operation detail"
  std::vector<std::string> errors;  // misuse of handles; must stay empty
  std::vector<Write> writes;
  std::vector<Press> presses;
  std::vector<Activation> activations;
  std::vector<OutputChunk> output;
  // Observers given up while their run-loop source was still attached.
  int observersReleasedWhileAttached = 0;
};

Desktop& desktop();

// Forgets everything, including the handles handed out; no reference of the
// previous test may be held any more.
void reset();

// What a process registered with the workspace ends with the process: call
// before running the next command as if it were a new process.
void forgetActivationHandlers();

ElementId addElement(Pid owner);
SimElement& element(ElementId id);
// Adds a running application together with its application element.
App& addApp(Pid pid, std::optional<std::string> name = std::nullopt,
            std::optional<std::string> bundleId = std::nullopt);
App& app(Pid pid);
// Makes the element the focused one, both for the system-wide element and
// for the application element of its owner (its elementPid).
void focus(ElementId id);

// Events for the main run loop, served in order by runMainRunLoop.
void queueActivation(Pid pid);  // becomes frontmost, then the handlers run
void queueNotification(Pid pid, ElementId element, std::string notification);
void queueAction(std::function<void()> action);

// Accounting of handles.
int live(Kind kind);
int liveTotal();
ElementId idOf(const platform::ElementRef* ref);
Pid pidOf(const platform::ObserverRef* ref);
int serialOf(const platform::ObserverRef* ref);

// Registrations of observers that are still held.
std::set<Registration> registrations();
std::size_t callCount(std::string_view operation);
// writeOutput bytes, all concatenated; writeLineNow calls, one each.
std::string bufferedOutput();
std::vector<std::string> linesNow();

}  // namespace focusctl::sim
