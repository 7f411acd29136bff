// The C++ part of platform/macos (accessibility, observers, Unicode) run on
// Linux against the fake frameworks: the ownership of every reference that
// crosses the interface, and the conversions of texts, values, pids and
// codes. Each test must leave as many CF objects alive as it found.
#include <cstdio>
#include <iterator>
#include <new>
#include <string>
#include <variant>

#include "fake_frameworks.h"
#include "platform/platform.h"
#include "platform/unicode.h"

namespace {

using namespace focusctl::platform;  // NOLINT: the interface under test

int failures = 0;

void check(bool ok, const char* what, int line) {
  if (!ok) {
    ++failures;
    std::fprintf(stderr, "  line %d: %s\n", line, what);
  }
}
#define CHECK(condition) check(static_cast<bool>(condition), #condition, __LINE__)

Element element() {
  return Element(reinterpret_cast<ElementRef*>(
      const_cast<void*>(static_cast<const void*>(fake::makeElement()))));
}
AXUIElementRef axOf(const Element& e) {
  return static_cast<AXUIElementRef>(static_cast<const void*>(e.get()));
}
AXObserverRef axOf(const Observer& o) {
  return static_cast<AXObserverRef>(static_cast<void*>(o.get()));
}

// Copies an attribute answered with `code` and `value`, which a fresh script
// holds until the next copy.
CopiedAttribute copy(AXError code, CFTypeRef value) {
  fake::resetScript();
  fake::script().code = code;
  fake::script().copyValue = value;
  const Element e = element();
  return copyAttributeValue(e, "AXValue");
}

void attributeValuesAreConvertedAndGivenBack() {
  CopiedAttribute copied =
      copy(kAXErrorSuccess, fake::makeString(u"caf\u00E9 \U0001F600 \xD800!"));
  CHECK(copied.code == code::success && fake::script().name == u"AXValue");
  CHECK(std::get<std::string>(copied.value) == "caf\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD!");
  CHECK(fake::retainCount(fake::script().copyValue) == 1);  // only the script's

  copied = copy(kAXErrorSuccess, fake::makeValue(kAXValueTypeCGPoint, 12.7, -3.2));
  const auto* point = std::get_if<focusctl::platform::Point>(&copied.value);
  CHECK(point != nullptr && point->x == 12.7 && point->y == -3.2);
  copied = copy(kAXErrorSuccess, fake::makeValue(kAXValueTypeCGSize, 800, 600));
  const auto* size = std::get_if<focusctl::platform::Size>(&copied.value);
  CHECK(size != nullptr && size->width == 800 && size->height == 600);
  copied = copy(kAXErrorSuccess, fake::makeValue(kAXValueTypeCFRange, 3, 2));
  const auto* range = std::get_if<focusctl::platform::Range>(&copied.value);
  CHECK(range != nullptr && range->location == 3 && range->length == 2);
  CHECK(std::holds_alternative<OtherKind>(
      copy(kAXErrorSuccess, fake::makeValue(kAXValueTypeCGRect, 1, 2)).value));
  CHECK(std::holds_alternative<OtherKind>(copy(kAXErrorSuccess, fake::makeNumber()).value));
  copied = copy(kAXErrorSuccess, nullptr);
  CHECK(copied.code == code::success && std::holds_alternative<std::monostate>(copied.value));

  // A value delivered with an error is given up.
  copied = copy(kAXErrorNoValue, fake::makeString(u"stale"));
  CHECK(copied.code == code::noValue && std::holds_alternative<std::monostate>(copied.value));
  CHECK(fake::retainCount(fake::script().copyValue) == 1);

  // An element value carries the copied reference, given up with it.
  copied = copy(kAXErrorSuccess, fake::makeElement());
  auto* focused = std::get_if<Element>(&copied.value);
  CHECK(focused != nullptr && axOf(*focused) == fake::script().copyValue);
  CHECK(fake::retainCount(fake::script().copyValue) == 2);
  copied.value = std::monostate{};
  CHECK(fake::retainCount(fake::script().copyValue) == 1);
}

void elementsWritesActionsAndCodes() {
  CHECK(createSystemWideElement() && fake::retainCount(axOf(createApplicationElement(4242))) == 1);
  const Element e = element();
  fake::script().pid = 4242;
  CHECK(elementPid(e).code == code::success && elementPid(e).pid == 4242);
  fake::script().code = kAXErrorInvalidUIElement;
  CHECK(elementPid(e).code == code::invalidElement && elementPid(e).pid == 0);
  fake::script().code = kAXErrorActionUnsupported;
  CHECK(performAction(e, "AXPress") == code::actionUnsupported && fake::script().name == u"AXPress");
  CHECK(setAttributeValue(e, "AXValue", "x") == code::actionUnsupported);
  fake::script().code = kAXErrorSuccess;
  // A byte order mark, a line feed, quotes and a character beyond the BMP
  // arrive unchanged.
  CHECK(setAttributeValue(e, "AXValue", "\xEF\xBB\xBF" "a\nb \"c\" / \xF0\x9F\x98\x80") == code::success);
  CHECK(fake::script().name == u"AXValue" && fake::script().setValue == u"\uFEFFa\nb \"c\" / \U0001F600");
  CHECK(setAttributeValue(e, "AXValue", "") == code::success && fake::script().setValue.empty());
  fake::script().trusted = true;
  CHECK(isProcessTrusted());
  fake::script().trusted = false;
  CHECK(!isProcessTrusted());

  // Empty handles never reach the service.
  fake::script().axCalls = 0;
  const Element none;
  const Observer noObserver;
  CHECK(copyAttributeValue(none, "AXValue").code == code::illegalArgument);
  CHECK(elementPid(none).code == code::illegalArgument);
  CHECK(setAttributeValue(none, "AXValue", "x") == code::illegalArgument);
  CHECK(performAction(none, "AXPress") == code::illegalArgument);
  CHECK(addObserverNotification(noObserver, e, "AXValueChanged", nullptr) == code::illegalArgument);
  CHECK(removeObserverNotification(noObserver, e, "AXValueChanged") == code::illegalArgument);
  CHECK(!observerRunLoopSource(noObserver));
  addSourceToMainRunLoop(RunLoopSource());
  removeSourceFromMainRunLoop(RunLoopSource());
  CHECK(fake::script().axCalls == 0 && fake::script().sourcesAdded == 0);
}

int delivered = 0;
int deliveredToOther = 0;
void* deliveredContext = nullptr;
ElementRef* deliveredElement = nullptr;

void record(ObserverRef*, ElementRef* e, std::string_view notification, void* context) {
  if (notification == "AXFocusedUIElementChanged") ++delivered;
  deliveredElement = e;
  deliveredContext = context;
}
void recordOther(ObserverRef*, ElementRef*, std::string_view, void*) { ++deliveredToOther; }
void throwing(ObserverRef*, ElementRef*, std::string_view, void*) { throw std::bad_alloc(); }

void observersRouteTheirCallbacks() {
  CreatedObserver created = createObserver(42, record);
  CreatedObserver other = createObserver(43, recordOther);
  CHECK(created.code == code::success && created.observer && other.observer);
  const Element app = element();
  int context = 0;
  fake::fireNotification(axOf(created.observer), axOf(app), u"AXFocusedUIElementChanged", &context);
  CHECK(delivered == 1 && deliveredToOther == 0);
  CHECK(deliveredElement == app.get() && deliveredContext == &context);
  CHECK(fake::retainCount(axOf(app)) == 1);  // borrowed, not retained
  fake::fireNotification(axOf(other.observer), axOf(app), u"AXValueChanged", nullptr);
  CHECK(delivered == 1 && deliveredToOther == 1);

  // A throwing callback does not unwind into the run loop.
  CreatedObserver thrower = createObserver(42, throwing);
  fake::fireNotification(axOf(thrower.observer), axOf(app), u"AXValueChanged", nullptr);

  fake::script().code = kAXErrorNotificationAlreadyRegistered;
  CHECK(addObserverNotification(other.observer, app, "AXValueChanged", &context) ==
        code::notificationAlreadyRegistered);
  CHECK(fake::script().name == u"AXValueChanged" && fake::script().refcon == &context);
  fake::script().code = kAXErrorNotificationNotRegistered;
  CHECK(removeObserverNotification(other.observer, app, "AXTitleChanged") ==
        code::notificationNotRegistered);
  CHECK(fake::script().name == u"AXTitleChanged");
}

void observerOwnership() {
  const long before = fake::liveObjects();
  CHECK(createObserver(42, nullptr).code == code::illegalArgument && fake::script().axCalls == 0);
  fake::script().code = kAXErrorFailure;  // delivered with an error: given up
  CreatedObserver created = createObserver(42, record);
  CHECK(created.code == code::failure && !created.observer && fake::liveObjects() == before);
  fake::script().code = kAXErrorSuccess;
  fake::script().createObserverDelivers = false;
  const CreatedObserver empty = createObserver(42, record);
  CHECK(empty.code == code::success && !empty.observer);
  fake::script().createObserverDelivers = true;

  // The run-loop source is a reference of the caller's own.
  created = createObserver(42, record);
  RunLoopSource source = observerRunLoopSource(created.observer);
  const auto cfSource = static_cast<CFRunLoopSourceRef>(static_cast<void*>(source.get()));
  CHECK(fake::retainCount(cfSource) == 2);
  addSourceToMainRunLoop(source);
  removeSourceFromMainRunLoop(source);
  CHECK(fake::script().sourcesAdded == 1 && fake::script().sourcesRemoved == 1);
  created.observer.reset();
  CHECK(fake::retainCount(cfSource) == 1);
}

void decomposition() {
  // Through CFString and back: a byte order mark, text beyond the BMP and
  // ill-formed bytes.
  CHECK(canonicalDecomposition("\xEF\xBB\xBF\xF0\x9F\x98\x80\xC3\x85") ==
        "\xEF\xBB\xBF\xF0\x9F\x98\x80" "A\xCC\x8A");
  CHECK(canonicalDecomposition("").empty());
  CHECK(canonicalDecomposition("a\xC0\xAF" "b") == "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
}

}  // namespace

int main() {
  const struct {
    const char* name;
    void (*run)();
  } tests[] = {
      {"attributeValuesAreConvertedAndGivenBack", attributeValuesAreConvertedAndGivenBack},
      {"elementsWritesActionsAndCodes", elementsWritesActionsAndCodes},
      {"observersRouteTheirCallbacks", observersRouteTheirCallbacks},
      {"observerOwnership", observerOwnership},
      {"decomposition", decomposition},
  };
  int failedTests = 0;
  for (const auto& test : tests) {
    fake::resetScript();
    const long before = fake::liveObjects();
    const int failuresBefore = failures;
    test.run();
    fake::resetScript();
    CHECK(fake::liveObjects() == before);  // nothing leaked or released too often
    const bool ok = failures == failuresBefore;
    failedTests += ok ? 0 : 1;
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", test.name);
  }
  std::printf("%zu tests, %d failed\n", std::size(tests), failedTests);
  return failedTests == 0 ? 0 : 1;
}
