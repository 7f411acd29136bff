// In-memory stand-ins for the CoreFoundation and HIServices functions that
// tests/macos-sdk/include declares, so the C++ part of platform/macos runs on
// Linux. Objects are reference-counted as CF counts them and every object
// alive is counted, so a leak or an extra release shows; misuse (a NULL or
// released object, the wrong type) aborts. The AX functions answer from a
// script and record what they were given.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include <string>

namespace fake {

// Objects alive now (the fake's own constants included).
long liveObjects();
long retainCount(CFTypeRef object);

// New objects, +1 for the caller.
CFStringRef makeString(const std::u16string& text);
AXUIElementRef makeElement();
AXValueRef makeValue(AXValueType kind, double first, double second);
CFTypeRef makeNumber();  // a CF type the backend does not read

struct Script {
  bool trusted = false;
  // Every AX call answers this code; a copy hands out `copyValue` (held +1
  // by the script) with a reference of the caller's own.
  AXError code = kAXErrorSuccess;
  CFTypeRef copyValue = nullptr;
  pid_t pid = 0;
  bool createObserverDelivers = true;

  // What the last call was given.
  std::u16string name;  // attribute, action or notification
  std::u16string setValue;
  void* refcon = nullptr;
  int axCalls = 0;
  int sourcesAdded = 0;
  int sourcesRemoved = 0;
};

Script& script();
// Gives up what the script holds and starts a fresh one.
void resetScript();

// Delivers a notification as the observer's run-loop source would.
void fireNotification(AXObserverRef observer, AXUIElementRef element,
                      const std::u16string& name, void* refcon);

}  // namespace fake
