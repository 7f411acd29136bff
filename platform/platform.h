// The one interface between focusctl and the operating system's accessibility,
// workspace, run-loop and output services. Portable C++ only: each backend
// (macOS, AT-SPI, the test simulator) implements every function declared here,
// and exactly one backend is linked into an executable.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace focusctl::platform {

using Pid = std::int32_t;

// Result codes use the macOS AX numbering on every backend, so that a
// controller sees the same codes whichever system it runs on.
using ResultCode = std::int32_t;
namespace code {
inline constexpr ResultCode success = 0;
inline constexpr ResultCode failure = -25200;
inline constexpr ResultCode illegalArgument = -25201;
inline constexpr ResultCode invalidElement = -25202;
inline constexpr ResultCode invalidObserver = -25203;
inline constexpr ResultCode cannotComplete = -25204;
inline constexpr ResultCode attributeUnsupported = -25205;
inline constexpr ResultCode actionUnsupported = -25206;
inline constexpr ResultCode notificationUnsupported = -25207;
inline constexpr ResultCode notImplemented = -25208;
inline constexpr ResultCode notificationAlreadyRegistered = -25209;
inline constexpr ResultCode notificationNotRegistered = -25210;
inline constexpr ResultCode apiDisabled = -25211;
inline constexpr ResultCode noValue = -25212;
}  // namespace code

// Opaque references; each backend defines what they point at.
struct ElementRef;
struct ObserverRef;
struct RunLoopSourceRef;
struct ApplicationRef;

// Give up one reference. Called only by Owned.
void release(ElementRef* ref) noexcept;
void release(ObserverRef* ref) noexcept;
void release(RunLoopSourceRef* ref) noexcept;
void release(ApplicationRef* ref) noexcept;

// Holds exactly one reference to a platform object and gives it up when
// destroyed or reassigned. Move-only, so a reference can be neither leaked
// nor released twice. Every function below that returns an Owned hands the
// caller a reference of its own.
template <typename Ref>
class Owned {
 public:
  Owned() noexcept = default;
  explicit Owned(Ref* ref) noexcept : ref_(ref) {}
  Owned(Owned&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      ref_ = std::exchange(other.ref_, nullptr);
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  void reset() noexcept {
    if (Ref* ref = std::exchange(ref_, nullptr)) release(ref);
  }
  Ref* get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

 private:
  Ref* ref_ = nullptr;
};

using Element = Owned<ElementRef>;
using Observer = Owned<ObserverRef>;
using RunLoopSource = Owned<RunLoopSourceRef>;
using RunningApplication = Owned<ApplicationRef>;

// ---------------------------------------------------------------------------
// Accessibility

struct Point {
  double x = 0;
  double y = 0;
};
struct Size {
  double width = 0;
  double height = 0;
};
// A span of a text in UTF-16 code units, as macOS counts (a CFRange).
struct Range {
  std::int64_t location = 0;
  std::int64_t length = 0;
};
// A value of a kind the system never reads (number, boolean, array, ...).
struct OtherKind {};

// An attribute value, already converted by the backend. monostate is a
// successful copy that delivered no value. Text is UTF-8 as the application
// gave it; it is not guaranteed to be well-formed.
using AttributeValue =
    std::variant<std::monostate, std::string, Point, Size, Range, Element, OtherKind>;

struct CopiedAttribute {
  ResultCode code = code::failure;
  AttributeValue value;
};

struct ElementPid {
  ResultCode code = code::failure;
  Pid pid = 0;
};

// From now on every call into the accessibility service ends within the
// budget, whatever the application answering does: a one-shot command's
// reply must not wait on it. A call that runs out answers -25204, and a
// search for the focus finds nothing. Nothing lifts the limit: each call
// then has only its own timeout.
void limitAccessibilityTime(std::optional<std::chrono::milliseconds> budget);

// Whether this process may use the accessibility service. Never prompts.
bool isProcessTrusted();
Element createSystemWideElement();
Element createApplicationElement(Pid pid);
CopiedAttribute copyAttributeValue(const Element& element,
                                   std::string_view attribute);
ElementPid elementPid(const Element& element);
// Writes text (UTF-8) as the attribute's value. "AXSelectedText" replaces
// the selection, or inserts at the caret, and leaves the caret after it;
// "AXSelectedTextRange" reads as a Range.
ResultCode setAttributeValue(const Element& element, std::string_view attribute,
                             std::string_view text);
ResultCode performAction(const Element& element, std::string_view action);

// ---------------------------------------------------------------------------
// Observers and the main run loop

// Called on the main thread while the observer's source is attached to the
// main run loop. The observer and element are borrowed for the call only.
using ObserverCallback = void (*)(ObserverRef* observer, ElementRef* element,
                                  std::string_view notification,
                                  void* context);

struct CreatedObserver {
  ResultCode code = code::failure;
  Observer observer;  // may be empty even when code is success
};

CreatedObserver createObserver(Pid pid, ObserverCallback callback);
// The observer's run-loop source as a reference of the caller's own, or empty.
RunLoopSource observerRunLoopSource(const Observer& observer);
ResultCode addObserverNotification(const Observer& observer,
                                   const Element& element,
                                   std::string_view notification,
                                   void* context);
ResultCode removeObserverNotification(const Observer& observer,
                                      const Element& element,
                                      std::string_view notification);

void addSourceToMainRunLoop(const RunLoopSource& source);
void removeSourceFromMainRunLoop(const RunLoopSource& source);

// The handler runs on the main thread each time an application becomes
// active, for the rest of the process.
using ActivationHandler = void (*)();
void observeApplicationActivation(ActivationHandler handler);

// Serves the main run loop; returns only if the loop is stopped.
void runMainRunLoop();

// ---------------------------------------------------------------------------
// Workspace and running applications

inline constexpr std::uint32_t activateIgnoringOtherApps = 2;

RunningApplication frontmostApplication();
RunningApplication runningApplication(Pid pid);
Pid processIdentifier(const RunningApplication& application);
std::optional<std::string> localizedName(const RunningApplication& application);
std::optional<std::string> bundleIdentifier(
    const RunningApplication& application);
// Asks for the application to come to the front; true when the request was
// accepted. Nothing waits for it to take effect.
bool activateApplication(const RunningApplication& application,
                         std::uint32_t options);

// ---------------------------------------------------------------------------
// Standard output

// Buffered write; everything written reaches the reader by process exit.
void writeOutput(std::string_view bytes);
// One unbuffered write of a whole line, then a flush of the buffered stream.
void writeLineNow(std::string_view line);

}  // namespace focusctl::platform
