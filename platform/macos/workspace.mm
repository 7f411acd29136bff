// Running applications and the workspace over AppKit (NSWorkspace,
// NSRunningApplication), and the main run loop.
#import <AppKit/AppKit.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/macos/cf_text.h"
#include "platform/platform.h"

#if !__has_feature(objc_arc)
#error "platform/macos requires ARC: compile Objective-C++ with -fobjc-arc"
#endif

namespace focusctl::platform {
namespace {

// An ApplicationRef* is an NSRunningApplication handed out of ARC with +1
// (CFBridgingRetain); release() hands it back (CFBridgingRelease).
RunningApplication holdApplication(NSRunningApplication* application) {
  if (application == nil) return RunningApplication();
  return RunningApplication(
      static_cast<ApplicationRef*>(const_cast<void*>(CFBridgingRetain(application))));
}

// Borrowed for the caller's statement. An empty handle gives nil, and a
// message to nil answers 0, nil or NO: no pid, no name, not activated.
NSRunningApplication* borrowApplication(const RunningApplication& application) {
  return (__bridge NSRunningApplication*)static_cast<const void*>(application.get());
}

std::optional<std::string> utf8FromNSString(NSString* text) {
  if (text == nil) return std::nullopt;
  return macos::utf8FromCFString((__bridge CFStringRef)text);
}

}  // namespace

void release(ApplicationRef* ref) noexcept {
  if (ref == nullptr) return;
  @autoreleasepool {
    (void)CFBridgingRelease(static_cast<const void*>(ref));
  }
}

RunningApplication frontmostApplication() {
  @autoreleasepool {
    return holdApplication(NSWorkspace.sharedWorkspace.frontmostApplication);
  }
}

RunningApplication runningApplication(Pid pid) {
  @autoreleasepool {
    return holdApplication([NSRunningApplication runningApplicationWithProcessIdentifier:pid]);
  }
}

Pid processIdentifier(const RunningApplication& application) {
  @autoreleasepool {
    return borrowApplication(application).processIdentifier;
  }
}

std::optional<std::string> localizedName(const RunningApplication& application) {
  @autoreleasepool {
    return utf8FromNSString(borrowApplication(application).localizedName);
  }
}

std::optional<std::string> bundleIdentifier(const RunningApplication& application) {
  @autoreleasepool {
    return utf8FromNSString(borrowApplication(application).bundleIdentifier);
  }
}

// The options go through as the raw bits: the named ignoring-other-apps
// option is deprecated from macOS 14, where it no longer has an effect.
bool activateApplication(const RunningApplication& application, std::uint32_t options) {
  @autoreleasepool {
    return [borrowApplication(application)
        activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
  }
}

void observeApplicationActivation(ActivationHandler handler) {
  if (handler == nullptr) return;
  @autoreleasepool {
    // The notification centre retains the returned observer for the rest of
    // the process, which is as long as the handler is wanted.
    (void)[NSWorkspace.sharedWorkspace.notificationCenter
        addObserverForName:NSWorkspaceDidActivateApplicationNotification
                    object:nil
                     queue:NSOperationQueue.mainQueue
                usingBlock:^(NSNotification* notification) {
                  (void)notification;
                  // Nothing may unwind into the operation queue; only
                  // allocation can fail, and it costs this one event.
                  try {
                    handler();
                  } catch (...) {
                  }
                }];
  }
}

// On the main thread the default mode of the main run loop is never empty
// (it stands for the main dispatch queue), so this does not return.
void runMainRunLoop() {
  @autoreleasepool {
    [NSRunLoop.mainRunLoop run];
  }
}

}  // namespace focusctl::platform
