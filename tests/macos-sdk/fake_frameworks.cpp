// In-memory CoreFoundation and HIServices for running the backend on Linux.
// Misuse that crashes or corrupts on a Mac (a NULL or dead reference,
// releasing what is not held, a wrong type) aborts here with a message.
#include "fake_frameworks.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fake {
namespace {

enum : CFTypeID { stringType = 7, elementType = 100, valueType, observerType, sourceType, otherType };

long live = 0;

[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "fake frameworks: %s\n", what);
  std::abort();
}

struct Object {
  explicit Object(CFTypeID t) : type(t) { ++live; }
  virtual ~Object() { --live; }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  CFTypeID type;
  long refs = 1;
  std::u16string text;        // a string's
  AXValueType kind{};         // a value's
  double first = 0, second = 0;
};

void releaseObject(Object* o) {
  if (--o->refs == 0) delete o;
}

struct Observer : Object {
  explicit Observer(AXObserverCallback c)
      : Object(observerType), callback(c), source(new Object(sourceType)) {}
  ~Observer() override { releaseObject(source); }
  AXObserverCallback callback;
  Object* source;
};

Object* object(CFTypeRef ref, CFTypeID type = 0) {
  if (ref == nullptr) misuse("NULL where a CF object is required");
  auto* o = static_cast<Object*>(const_cast<void*>(ref));
  if (o->refs <= 0) misuse("use of a released object");
  if (type != 0 && o->type != type) misuse("object of the wrong type");
  return o;
}

template <typename Ref>
Ref handle(Object* o) {
  return reinterpret_cast<Ref>(o);
}

// The fake's own constants, alive for the whole run like CF's.
Object& mainRunLoop() {
  static auto* loop = new Object(otherType);
  return *loop;
}
Object& defaultMode() {
  static auto* mode = new Object(stringType);
  return *mode;
}

const std::u16string& textOf(CFStringRef string) { return object(string, stringType)->text; }

AXError axCall(AXUIElementRef element, CFStringRef name = nullptr) {
  ++script().axCalls;
  if (element != nullptr) object(element, elementType);
  if (name != nullptr) script().name = textOf(name);
  return script().code;
}

}  // namespace

long liveObjects() {
  mainRunLoop();
  defaultMode();
  return live;
}
long retainCount(CFTypeRef ref) { return object(ref)->refs; }

CFStringRef makeString(const std::u16string& text) {
  auto* o = new Object(stringType);
  o->text = text;
  return handle<CFStringRef>(o);
}
AXUIElementRef makeElement() { return handle<AXUIElementRef>(new Object(elementType)); }
AXValueRef makeValue(AXValueType kind, double first, double second) {
  auto* o = new Object(valueType);
  o->kind = kind;
  o->first = first;
  o->second = second;
  return handle<AXValueRef>(o);
}
CFTypeRef makeNumber() { return new Object(otherType); }

Script& script() {
  static Script s;
  return s;
}

void resetScript() {
  if (script().copyValue != nullptr) CFRelease(script().copyValue);
  script() = Script();
}

void fireNotification(AXObserverRef observer, AXUIElementRef element,
                      const std::u16string& name, void* refcon) {
  auto* o = static_cast<Observer*>(object(observer, observerType));
  CFStringRef text = makeString(name);
  o->callback(observer, element, text, refcon);
  CFRelease(text);
}

}  // namespace fake

using fake::script;

// --- CoreFoundation ---------------------------------------------------------

extern "C" {
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopDefaultMode = fake::handle<CFStringRef>(&fake::defaultMode());
}

CFTypeID CFGetTypeID(CFTypeRef cf) { return fake::object(cf)->type; }
CFTypeRef CFRetain(CFTypeRef cf) {
  ++fake::object(cf)->refs;
  return cf;
}
void CFRelease(CFTypeRef cf) { fake::releaseObject(fake::object(cf)); }
CFTypeID CFStringGetTypeID(void) { return fake::stringType; }

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
  if (chars == nullptr) fake::misuse("CFStringCreateWithCharacters(NULL)");
  return fake::makeString(std::u16string(chars, chars + numChars));
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex, CFStringRef theString) {
  return fake::handle<CFMutableStringRef>(fake::object(fake::makeString(fake::textOf(theString))));
}

CFIndex CFStringGetLength(CFStringRef theString) {
  return static_cast<CFIndex>(fake::textOf(theString).size());
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
  const std::u16string& text = fake::textOf(theString);
  if (range.location < 0 || range.length < 0 ||
      static_cast<std::size_t>(range.location + range.length) > text.size()) {
    fake::misuse("CFStringGetCharacters out of range");
  }
  text.copy(reinterpret_cast<char16_t*>(buffer), static_cast<std::size_t>(range.length),
            static_cast<std::size_t>(range.location));
}

// Enough of NFD to follow the text through: one precomposed letter.
void CFStringNormalize(CFMutableStringRef theString, CFStringNormalizationForm theForm) {
  if (theForm != kCFStringNormalizationFormD) fake::misuse("only NFD is faked");
  std::u16string& text = fake::object(theString, fake::stringType)->text;
  for (std::size_t at; (at = text.find(u'\u00C5')) != std::u16string::npos;) {
    text.replace(at, 1, u"A\u030A");
  }
}

CFRunLoopRef CFRunLoopGetMain(void) { return fake::handle<CFRunLoopRef>(&fake::mainRunLoop()); }

namespace {
void runLoopCall(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode, int& counter) {
  fake::object(source, fake::sourceType);
  if (rl != CFRunLoopGetMain() || mode != kCFRunLoopDefaultMode) fake::misuse("not the main run loop's default mode");
  ++counter;
}
}  // namespace

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  runLoopCall(rl, source, mode, script().sourcesAdded);
}
void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  runLoopCall(rl, source, mode, script().sourcesRemoved);
}

// --- HIServices ---------------------------------------------------------------

Boolean AXIsProcessTrusted(void) {
  ++script().axCalls;
  return script().trusted ? 1 : 0;
}

CFTypeID AXUIElementGetTypeID(void) { return fake::elementType; }
CFTypeID AXValueGetTypeID(void) { return fake::valueType; }

AXValueType AXValueGetType(AXValueRef value) { return fake::object(value, fake::valueType)->kind; }

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
  auto* v = fake::object(value, fake::valueType);
  if (v->kind != theType) return 0;
  if (theType == kAXValueTypeCGPoint) {
    *static_cast<CGPoint*>(valuePtr) = CGPoint{v->first, v->second};
  } else if (theType == kAXValueTypeCFRange) {
    *static_cast<CFRange*>(valuePtr) =
        CFRange{static_cast<CFIndex>(v->first), static_cast<CFIndex>(v->second)};
  } else {
    *static_cast<CGSize*>(valuePtr) = CGSize{v->first, v->second};
  }
  return 1;
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  if (*value != nullptr) fake::misuse("out-slot not empty");
  *value = script().copyValue != nullptr ? CFRetain(script().copyValue) : nullptr;
  return fake::axCall(element, attribute);
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  script().setValue = fake::textOf(static_cast<CFStringRef>(value));
  return fake::axCall(element, attribute);
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
  return fake::axCall(element, action);
}

AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds) {
  if (element == nullptr || timeoutInSeconds < 0) fake::misuse("messaging timeout");
  return kAXErrorSuccess;
}

AXUIElementRef AXUIElementCreateApplication(pid_t) {
  fake::axCall(nullptr);
  return fake::makeElement();
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
  fake::axCall(nullptr);
  return fake::makeElement();
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
  if (script().code == kAXErrorSuccess) *pid = script().pid;
  return fake::axCall(element);
}

AXError AXObserverCreate(pid_t, AXObserverCallback callback, AXObserverRef* outObserver) {
  if (callback == nullptr) fake::misuse("AXObserverCreate without a callback");
  if (*outObserver != nullptr) fake::misuse("out-slot not empty");
  if (script().createObserverDelivers) {
    *outObserver = fake::handle<AXObserverRef>(new fake::Observer(callback));
  }
  return fake::axCall(nullptr);
}

AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element,
                                  CFStringRef notification, void* refcon) {
  fake::object(observer, fake::observerType);
  script().refcon = refcon;
  return fake::axCall(element, notification);
}

AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                     CFStringRef notification) {
  fake::object(observer, fake::observerType);
  return fake::axCall(element, notification);
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer) {
  fake::axCall(nullptr);
  return fake::handle<CFRunLoopSourceRef>(
      static_cast<fake::Observer*>(fake::object(observer, fake::observerType))->source);
}
