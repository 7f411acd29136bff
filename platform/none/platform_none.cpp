// A backend for a machine without any accessibility service. Every query
// answers as such a machine would: not trusted, no focused element, no
// applications. No reference is ever handed out.
#include <unistd.h>

#include "platform/platform.h"

namespace focusctl::platform {

struct ElementRef {};
struct ObserverRef {};
struct RunLoopSourceRef {};
struct ApplicationRef {};

void release(ElementRef*) noexcept {}
void release(ObserverRef*) noexcept {}
void release(RunLoopSourceRef*) noexcept {}
void release(ApplicationRef*) noexcept {}

void limitAccessibilityTime(std::optional<std::chrono::milliseconds>) {}
bool isProcessTrusted() { return false; }
Element createSystemWideElement() { return Element(); }
Element createApplicationElement(Pid) { return Element(); }
CopiedAttribute copyAttributeValue(const Element&, std::string_view) {
  return {code::apiDisabled, {}};
}
ElementPid elementPid(const Element&) { return {code::apiDisabled, 0}; }
ResultCode setAttributeValue(const Element&, std::string_view,
                             std::string_view) {
  return code::apiDisabled;
}
ResultCode performAction(const Element&, std::string_view) {
  return code::apiDisabled;
}

CreatedObserver createObserver(Pid, ObserverCallback) {
  return {code::apiDisabled, Observer()};
}
RunLoopSource observerRunLoopSource(const Observer&) { return RunLoopSource(); }
ResultCode addObserverNotification(const Observer&, const Element&,
                                   std::string_view, void*) {
  return code::apiDisabled;
}
ResultCode removeObserverNotification(const Observer&, const Element&,
                                      std::string_view) {
  return code::apiDisabled;
}
void addSourceToMainRunLoop(const RunLoopSource&) {}
void removeSourceFromMainRunLoop(const RunLoopSource&) {}
void observeApplicationActivation(ActivationHandler) {}

// Nothing will ever happen, so wait without using the processor until the
// process is ended from outside.
void runMainRunLoop() {
  for (;;) pause();
}

RunningApplication frontmostApplication() { return RunningApplication(); }
RunningApplication runningApplication(Pid) { return RunningApplication(); }
Pid processIdentifier(const RunningApplication&) { return 0; }
std::optional<std::string> localizedName(const RunningApplication&) {
  return std::nullopt;
}
std::optional<std::string> bundleIdentifier(const RunningApplication&) {
  return std::nullopt;
}
bool activateApplication(const RunningApplication&, std::uint32_t) {
  return false;
}

}  // namespace focusctl::platform
