// Accessibility observers and their run-loop sources on the main run loop.
#include <ApplicationServices/ApplicationServices.h>

#include <string>
#include <unordered_map>

#include "platform/macos/ax_handles.h"
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_text.h"
#include "platform/platform.h"

namespace focusctl::platform {
namespace {

using macos::axElement;
using macos::axObserver;
using macos::CFRef;
using macos::cfSource;

// The callback of each observer alive. AXObserverCreate takes a plain C
// function and the registration context belongs to the caller, so the
// trampoline finds the callback here. Touched on the main thread only.
std::unordered_map<AXObserverRef, ObserverCallback>& observerCallbacks() {
  static std::unordered_map<AXObserverRef, ObserverCallback> callbacks;
  return callbacks;
}

void deliverNotification(AXObserverRef observer, AXUIElementRef element,
                         CFStringRef notification, void* context) {
  // The run loop that calls this is C: nothing may unwind into it. A failure
  // here (only allocation can fail) costs this one notification.
  try {
    const auto& callbacks = observerCallbacks();
    const auto found = callbacks.find(observer);
    if (found == callbacks.end()) return;
    // Copied before the call, which may give the observer up.
    const ObserverCallback callback = found->second;
    const std::string name = notification != nullptr
                                 ? macos::utf8FromCFString(notification)
                                 : std::string();
    callback(macos::observerRef(observer), macos::elementRef(element), name,
             context);
  } catch (...) {
  }
}

}  // namespace

void release(ObserverRef* ref) noexcept {
  if (ref == nullptr) return;
  observerCallbacks().erase(axObserver(ref));
  // Releasing the observer also takes its source off any run loop.
  CFRelease(axObserver(ref));
}

void release(RunLoopSourceRef* ref) noexcept {
  if (ref != nullptr) CFRelease(cfSource(ref));
}

CreatedObserver createObserver(Pid pid, ObserverCallback callback) {
  if (callback == nullptr) return {code::illegalArgument, Observer()};
  CFRef<AXObserverRef> observer;
  const AXError error =
      AXObserverCreate(pid, deliverNotification, observer.initializeInto());
  // Success without an observer is passed on as such.
  if (error != kAXErrorSuccess || !observer) return {error, Observer()};
  observerCallbacks()[observer.get()] = callback;
  return {code::success, Observer(macos::observerRef(observer.release()))};
}

RunLoopSource observerRunLoopSource(const Observer& observer) {
  if (!observer) return RunLoopSource();
  // Get rule: the source belongs to the observer, so take a reference of
  // our own for the caller.
  auto source = CFRef<CFRunLoopSourceRef>::retain(
      AXObserverGetRunLoopSource(axObserver(observer)));
  return RunLoopSource(macos::runLoopSourceRef(source.release()));
}

ResultCode addObserverNotification(const Observer& observer,
                                   const Element& element,
                                   std::string_view notification,
                                   void* context) {
  if (!observer || !element) return code::illegalArgument;
  const CFRef<CFStringRef> name = macos::cfStringFromUtf8(notification);
  if (!name) return code::failure;
  return AXObserverAddNotification(axObserver(observer), axElement(element),
                                   name.get(), context);
}

ResultCode removeObserverNotification(const Observer& observer,
                                      const Element& element,
                                      std::string_view notification) {
  if (!observer || !element) return code::illegalArgument;
  const CFRef<CFStringRef> name = macos::cfStringFromUtf8(notification);
  if (!name) return code::failure;
  return AXObserverRemoveNotification(axObserver(observer), axElement(element),
                                      name.get());
}

void addSourceToMainRunLoop(const RunLoopSource& source) {
  if (source)
    CFRunLoopAddSource(CFRunLoopGetMain(), cfSource(source),
                       kCFRunLoopDefaultMode);
}

void removeSourceFromMainRunLoop(const RunLoopSource& source) {
  if (source)
    CFRunLoopRemoveSource(CFRunLoopGetMain(), cfSource(source),
                          kCFRunLoopDefaultMode);
}

}  // namespace focusctl::platform
