// In-memory stand-ins for the CoreFoundation and HIServices functions that
// tests/macos-sdk/include declares, so the C++ part of platform/macos runs on
// Linux. Objects are reference-counted as CF counts them; every object alive
// is counted, so a leak or an extra release shows. The AX functions answer
// from a script the test sets up and record what they were given.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <string>

namespace fake {

// Objects alive now (the fake's own constants included).
long liveObjects();
long retainCount(CFTypeRef object);

// New objects, +1 for the caller.
CFStringRef makeString(const std::u16string& text);
AXUIElementRef makeElement(pid_t pid);
AXValueRef makeValue(AXValueType kind, double first, double second);
CFTypeRef makeNumber();  // a CF type the backend does not read

std::u16string textOf(CFStringRef string);

struct Script {
  bool trusted = false;

  // AXUIElementCopyAttributeValue: the code, and a value (held +1 by the
  // script) handed out with a reference of the caller's own.
  AXError copyCode = kAXErrorSuccess;
  CFTypeRef copyValue = nullptr;
  int copyCalls = 0;
  std::u16string copiedAttribute;

  AXError pidCode = kAXErrorSuccess;
  pid_t pid = 0;

  AXError setCode = kAXErrorSuccess;
  std::u16string setAttribute;
  std::u16string setValue;
  bool setValueWasString = false;

  AXError actionCode = kAXErrorSuccess;
  std::u16string action;

  // AXObserverCreate: the code, and whether an observer is delivered.
  AXError createObserverCode = kAXErrorSuccess;
  bool createObserverDelivers = true;

  AXError addCode = kAXErrorSuccess;
  AXError removeCode = kAXErrorSuccess;
  std::u16string notification;
  AXUIElementRef notificationElement = nullptr;
  void* refcon = nullptr;

  // CFRunLoopAddSource / CFRunLoopRemoveSource on the main run loop in the
  // default mode; anything else counts as misuse.
  int sourcesAdded = 0;
  int sourcesRemoved = 0;
  int runLoopMisuse = 0;

  // Calls into any AX function.
  int axCalls = 0;
};

Script& script();
// Gives up what the script holds and starts a fresh one.
void resetScript();

// Delivers a notification as the observer's run-loop source would.
void fireNotification(AXObserverRef observer, AXUIElementRef element,
                      const std::u16string& name, void* refcon);

}  // namespace fake
