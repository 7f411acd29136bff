// In-memory CoreFoundation and HIServices for running the backend on Linux.
// Misuse that crashes or corrupts on a Mac (a NULL or dead reference,
// releasing what is not held) aborts here with a message.
#include "fake_frameworks.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fake {
namespace {

enum : CFTypeID {
  stringType = 7,
  elementType = 100,
  valueType,
  observerType,
  sourceType,
  runLoopType,
  numberType,
};

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
};

struct String : Object {
  explicit String(std::u16string t) : Object(stringType), text(std::move(t)) {}
  std::u16string text;
};

struct Element : Object {
  explicit Element(pid_t p) : Object(elementType), pid(p) {}
  pid_t pid;
};

struct Value : Object {
  Value(AXValueType k, double a, double b)
      : Object(valueType), kind(k), first(a), second(b) {}
  AXValueType kind;
  double first;
  double second;
};

struct Number : Object {
  Number() : Object(numberType) {}
};

struct Source : Object {
  Source() : Object(sourceType) {}
};

struct RunLoop : Object {
  RunLoop() : Object(runLoopType) {}
};

void releaseObject(Object* object);

// Observers reuse the address of the last one released, as a malloc may:
// whatever the backend keeps per observer must not outlive it.
struct Observer : Object {
  Observer(pid_t p, AXObserverCallback c)
      : Object(observerType), pid(p), callback(c), source(new Source) {}
  ~Observer() override { releaseObject(source); }
  static void* operator new(std::size_t size) {
    if (freed().empty()) return ::operator new(size);
    void* storage = freed().back();
    freed().pop_back();
    return storage;
  }
  static void operator delete(void* storage) { freed().push_back(storage); }
  static std::vector<void*>& freed() {
    static auto* storage = new std::vector<void*>;  // kept to the end
    return *storage;
  }
  pid_t pid;
  AXObserverCallback callback;
  Source* source;
};

Object* object(CFTypeRef ref) {
  if (ref == nullptr) misuse("NULL where a CF object is required");
  auto* o = static_cast<Object*>(const_cast<void*>(ref));
  if (o->refs <= 0) misuse("use of a released object");
  return o;
}

template <typename T>
T* as(CFTypeRef ref, CFTypeID type) {
  Object* o = object(ref);
  if (o->type != type) misuse("object of the wrong type");
  return static_cast<T*>(o);
}

template <typename Ref>
Ref handle(Object* o) {
  return static_cast<Ref>(static_cast<void*>(o));
}
template <typename Ref>
Ref constHandle(Object* o) {
  return static_cast<Ref>(static_cast<const void*>(o));
}

void releaseObject(Object* o) {
  if (--o->refs == 0) delete o;
}

Script& currentScript() {
  static Script s;
  return s;
}

// The fake's own constants, alive for the whole run like CF's.
RunLoop& mainRunLoop() {
  static RunLoop* loop = new RunLoop;
  return *loop;
}
String& defaultMode() {
  static String* mode = new String(u"kCFRunLoopDefaultMode");
  return *mode;
}

}  // namespace

long liveObjects() {
  // The constants are made on first use; count them as always there.
  mainRunLoop();
  defaultMode();
  return live;
}
long retainCount(CFTypeRef ref) { return object(ref)->refs; }

CFStringRef makeString(const std::u16string& text) {
  return constHandle<CFStringRef>(new String(text));
}
AXUIElementRef makeElement(pid_t pid) {
  return constHandle<AXUIElementRef>(new Element(pid));
}
AXValueRef makeValue(AXValueType kind, double first, double second) {
  return constHandle<AXValueRef>(new Value(kind, first, second));
}
CFTypeRef makeNumber() { return new Number; }

std::u16string textOf(CFStringRef string) {
  return as<String>(string, stringType)->text;
}

Script& script() { return currentScript(); }

void resetScript() {
  if (currentScript().copyValue != nullptr) CFRelease(currentScript().copyValue);
  currentScript() = Script();
}

void fireNotification(AXObserverRef observer, AXUIElementRef element,
                      const std::u16string& name, void* refcon) {
  auto* o = as<Observer>(observer, observerType);
  CFStringRef text = makeString(name);
  o->callback(observer, element, text, refcon);
  CFRelease(text);
}

}  // namespace fake

using fake::script;

// --- CoreFoundation ---------------------------------------------------------

extern "C" {
const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopDefaultMode =
    static_cast<CFStringRef>(static_cast<const void*>(&fake::defaultMode()));
}

CFTypeID CFGetTypeID(CFTypeRef cf) { return fake::object(cf)->type; }

CFTypeRef CFRetain(CFTypeRef cf) {
  ++fake::object(cf)->refs;
  return cf;
}

void CFRelease(CFTypeRef cf) { fake::releaseObject(fake::object(cf)); }

CFTypeID CFStringGetTypeID(void) { return fake::stringType; }

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars,
                                         CFIndex numChars) {
  if (chars == nullptr) fake::misuse("CFStringCreateWithCharacters(NULL)");
  return fake::makeString(std::u16string(chars, chars + numChars));
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex,
                                             CFStringRef theString) {
  return fake::handle<CFMutableStringRef>(new fake::String(fake::textOf(theString)));
}

CFIndex CFStringGetLength(CFStringRef theString) {
  return static_cast<CFIndex>(fake::textOf(theString).size());
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
  const std::u16string& text = fake::as<fake::String>(theString, fake::stringType)->text;
  if (range.location < 0 || range.length < 0 ||
      static_cast<std::size_t>(range.location + range.length) > text.size()) {
    fake::misuse("CFStringGetCharacters out of range");
  }
  for (CFIndex i = 0; i < range.length; ++i) {
    buffer[i] = text[static_cast<std::size_t>(range.location + i)];
  }
}

// Enough of NFD to follow the text through: two precomposed letters.
void CFStringNormalize(CFMutableStringRef theString, CFStringNormalizationForm theForm) {
  if (theForm != kCFStringNormalizationFormD) fake::misuse("only NFD is faked");
  auto* string = fake::as<fake::String>(theString, fake::stringType);
  std::u16string out;
  for (char16_t c : string->text) {
    if (c == u'\u00E9') {
      out += u"e\u0301";
    } else if (c == u'\u00C5') {
      out += u"A\u030A";
    } else {
      out += c;
    }
  }
  string->text = out;
}

CFRunLoopRef CFRunLoopGetMain(void) {
  return fake::handle<CFRunLoopRef>(&fake::mainRunLoop());
}

namespace {
void runLoopCall(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode,
                 int& counter) {
  fake::as<fake::Object>(source, fake::sourceType);
  if (rl != CFRunLoopGetMain() || mode != kCFRunLoopDefaultMode) {
    ++script().runLoopMisuse;
  } else {
    ++counter;
  }
}
}  // namespace

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode) {
  runLoopCall(rl, source, mode, script().sourcesAdded);
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source,
                           CFRunLoopMode mode) {
  runLoopCall(rl, source, mode, script().sourcesRemoved);
}

// --- HIServices ---------------------------------------------------------------

Boolean AXIsProcessTrusted(void) {
  ++script().axCalls;
  return script().trusted ? 1 : 0;
}

CFTypeID AXUIElementGetTypeID(void) { return fake::elementType; }
CFTypeID AXValueGetTypeID(void) { return fake::valueType; }

AXValueType AXValueGetType(AXValueRef value) {
  return fake::as<fake::Value>(value, fake::valueType)->kind;
}

Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void* valuePtr) {
  auto* v = fake::as<fake::Value>(value, fake::valueType);
  if (v->kind != theType) return 0;
  if (theType == kAXValueTypeCGPoint) {
    *static_cast<CGPoint*>(valuePtr) = CGPoint{v->first, v->second};
  } else if (theType == kAXValueTypeCGSize) {
    *static_cast<CGSize*>(valuePtr) = CGSize{v->first, v->second};
  } else {
    return 0;
  }
  return 1;
}

AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  ++script().axCalls;
  ++script().copyCalls;
  fake::as<fake::Element>(element, fake::elementType);
  script().copiedAttribute = fake::textOf(attribute);
  if (*value != nullptr) fake::misuse("out-slot not empty");
  *value = script().copyValue != nullptr ? CFRetain(script().copyValue) : nullptr;
  return script().copyCode;
}

AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  ++script().axCalls;
  fake::as<fake::Element>(element, fake::elementType);
  script().setAttribute = fake::textOf(attribute);
  script().setValueWasString = CFGetTypeID(value) == fake::stringType;
  if (script().setValueWasString) {
    script().setValue = fake::textOf(static_cast<CFStringRef>(value));
  }
  return script().setCode;
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
  ++script().axCalls;
  fake::as<fake::Element>(element, fake::elementType);
  script().action = fake::textOf(action);
  return script().actionCode;
}

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  ++script().axCalls;
  return fake::makeElement(pid);
}

AXUIElementRef AXUIElementCreateSystemWide(void) {
  ++script().axCalls;
  return fake::makeElement(-1);
}

AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
  ++script().axCalls;
  fake::as<fake::Element>(element, fake::elementType);
  if (script().pidCode == kAXErrorSuccess) *pid = script().pid;
  return script().pidCode;
}

AXError AXObserverCreate(pid_t application, AXObserverCallback callback,
                         AXObserverRef* outObserver) {
  ++script().axCalls;
  if (callback == nullptr) fake::misuse("AXObserverCreate without a callback");
  if (*outObserver != nullptr) fake::misuse("out-slot not empty");
  *outObserver = script().createObserverDelivers
                     ? fake::handle<AXObserverRef>(new fake::Observer(application, callback))
                     : nullptr;
  return script().createObserverCode;
}

AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element,
                                  CFStringRef notification, void* refcon) {
  ++script().axCalls;
  fake::as<fake::Observer>(observer, fake::observerType);
  fake::as<fake::Element>(element, fake::elementType);
  script().notification = fake::textOf(notification);
  script().notificationElement = element;
  script().refcon = refcon;
  return script().addCode;
}

AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                     CFStringRef notification) {
  ++script().axCalls;
  fake::as<fake::Observer>(observer, fake::observerType);
  fake::as<fake::Element>(element, fake::elementType);
  script().notification = fake::textOf(notification);
  script().notificationElement = element;
  return script().removeCode;
}

CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer) {
  ++script().axCalls;
  return fake::handle<CFRunLoopSourceRef>(
      fake::as<fake::Observer>(observer, fake::observerType)->source);
}
