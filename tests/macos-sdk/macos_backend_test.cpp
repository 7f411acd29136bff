// The C++ part of platform/macos (accessibility, observers, Unicode) run on
// Linux against the fake frameworks: conversions of attribute values, the
// ownership of every reference crossing the interface, the observer
// trampoline, and trimming and decomposition. Each test must leave as many
// CF objects alive as it found.
#include <cstdio>
#include <new>
#include <string>
#include <variant>
#include <vector>

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

struct Test {
  const char* name;
  void (*run)();
};
std::vector<Test>& tests() {
  static std::vector<Test> all;
  return all;
}
#define TEST(name)                                                      \
  void name();                                                          \
  const bool name##Registered = (tests().push_back({#name, name}), true); \
  void name()

// An element handle as the core holds one.
Element element(pid_t pid = 42) {
  return Element(reinterpret_cast<ElementRef*>(
      const_cast<void*>(static_cast<const void*>(fake::makeElement(pid)))));
}

AXUIElementRef axOf(const Element& e) {
  return static_cast<AXUIElementRef>(static_cast<const void*>(e.get()));
}

void answerCopy(AXError code, CFTypeRef value) {
  fake::script().copyCode = code;
  fake::script().copyValue = value;
}

// --- attribute values --------------------------------------------------------

TEST(textValuesAreUtf8WithUnpairedSurrogatesReplaced) {
  const Element e = element();
  answerCopy(kAXErrorSuccess,
             fake::makeString(u"caf\u00E9 \U0001F600 \xD800!"));
  const CopiedAttribute copied = copyAttributeValue(e, "AXValue");
  CHECK(copied.code == code::success);
  CHECK(fake::script().copiedAttribute == u"AXValue");
  const auto* text = std::get_if<std::string>(&copied.value);
  CHECK(text != nullptr &&
        *text == "caf\xC3\xA9 \xF0\x9F\x98\x80 \xEF\xBF\xBD!");
  // The copy was given back: only the script still holds the string.
  CHECK(fake::retainCount(fake::script().copyValue) == 1);
}

TEST(pointsAndSizesAreReadByTheirKindOnly) {
  const Element e = element();
  answerCopy(kAXErrorSuccess, fake::makeValue(kAXValueTypeCGPoint, 12.7, -3.2));
  CopiedAttribute copied = copyAttributeValue(e, "AXPosition");
  const auto* point = std::get_if<focusctl::platform::Point>(&copied.value);
  CHECK(point != nullptr && point->x == 12.7 && point->y == -3.2);
  fake::resetScript();

  answerCopy(kAXErrorSuccess, fake::makeValue(kAXValueTypeCGSize, 800, 600));
  copied = copyAttributeValue(e, "AXSize");
  const auto* size = std::get_if<focusctl::platform::Size>(&copied.value);
  CHECK(size != nullptr && size->width == 800 && size->height == 600);
  fake::resetScript();

  answerCopy(kAXErrorSuccess, fake::makeValue(kAXValueTypeCGRect, 1, 2));
  copied = copyAttributeValue(e, "AXFrame");
  CHECK(std::holds_alternative<OtherKind>(copied.value));
  CHECK(fake::retainCount(fake::script().copyValue) == 1);
}

TEST(otherValuesAndNoValue) {
  const Element e = element();
  answerCopy(kAXErrorSuccess, fake::makeNumber());
  CopiedAttribute copied = copyAttributeValue(e, "AXValue");
  CHECK(copied.code == code::success);
  CHECK(std::holds_alternative<OtherKind>(copied.value));
  fake::resetScript();

  answerCopy(kAXErrorSuccess, nullptr);
  copied = copyAttributeValue(e, "AXValue");
  CHECK(copied.code == code::success);
  CHECK(std::holds_alternative<std::monostate>(copied.value));
}

TEST(anElementValueCarriesTheCopiedReference) {
  const Element e = element();
  answerCopy(kAXErrorSuccess, fake::makeElement(77));
  CopiedAttribute copied = copyAttributeValue(e, "AXFocusedUIElement");
  auto* focused = std::get_if<Element>(&copied.value);
  CHECK(focused != nullptr && *focused);
  CHECK(focused != nullptr && axOf(*focused) ==
                                  static_cast<AXUIElementRef>(fake::script().copyValue));
  CHECK(fake::retainCount(fake::script().copyValue) == 2);
  copied.value = std::monostate{};  // the core gives it up
  CHECK(fake::retainCount(fake::script().copyValue) == 1);
}

TEST(aValueDeliveredWithAnErrorIsGivenUp) {
  const Element e = element();
  answerCopy(kAXErrorNoValue, fake::makeString(u"stale"));
  const CopiedAttribute copied = copyAttributeValue(e, "AXValue");
  CHECK(copied.code == code::noValue);
  CHECK(std::holds_alternative<std::monostate>(copied.value));
  CHECK(fake::retainCount(fake::script().copyValue) == 1);
}

TEST(emptyHandlesNeverReachTheService) {
  const Element none;
  CHECK(copyAttributeValue(none, "AXValue").code == code::illegalArgument);
  CHECK(elementPid(none).code == code::illegalArgument);
  CHECK(setAttributeValue(none, "AXValue", "x") == code::illegalArgument);
  CHECK(performAction(none, "AXPress") == code::illegalArgument);
  const Observer noObserver;
  CHECK(addObserverNotification(noObserver, none, "AXValueChanged", nullptr) ==
        code::illegalArgument);
  CHECK(removeObserverNotification(noObserver, none, "AXValueChanged") ==
        code::illegalArgument);
  CHECK(!observerRunLoopSource(noObserver));
  addSourceToMainRunLoop(RunLoopSource());
  removeSourceFromMainRunLoop(RunLoopSource());
  CHECK(fake::script().axCalls == 0);
  CHECK(fake::script().sourcesAdded == 0 && fake::script().sourcesRemoved == 0);
}

// --- elements, writes, actions -----------------------------------------------

TEST(createdElementsAreOwnedOnce) {
  const long before = fake::liveObjects();
  {
    const Element systemWide = createSystemWideElement();
    const Element application = createApplicationElement(4242);
    CHECK(systemWide && application);
    CHECK(fake::retainCount(axOf(application)) == 1);
    CHECK(fake::liveObjects() == before + 2);
  }
  CHECK(fake::liveObjects() == before);
}

TEST(pidsAndCodesPassThrough) {
  const Element e = element();
  fake::script().pid = 4242;
  ElementPid result = elementPid(e);
  CHECK(result.code == code::success && result.pid == 4242);
  fake::script().pidCode = kAXErrorInvalidUIElement;
  result = elementPid(e);
  CHECK(result.code == code::invalidElement && result.pid == 0);

  fake::script().trusted = true;
  CHECK(isProcessTrusted());
  fake::script().trusted = false;
  CHECK(!isProcessTrusted());
}

TEST(setWritesTheTextExactly) {
  const Element e = element();
  // A byte order mark first, a line feed, a quotation mark, a solidus and a
  // character outside the BMP: all must arrive unchanged.
  const std::string text = "\xEF\xBB\xBF" "a\nb \"c\" / \xF0\x9F\x98\x80";
  fake::script().setCode = kAXErrorSuccess;
  CHECK(setAttributeValue(e, "AXValue", text) == code::success);
  CHECK(fake::script().setAttribute == u"AXValue");
  CHECK(fake::script().setValueWasString);
  CHECK(fake::script().setValue == u"\uFEFFa\nb \"c\" / \U0001F600");

  CHECK(setAttributeValue(e, "AXValue", "") == code::success);
  CHECK(fake::script().setValue.empty());

  fake::script().setCode = kAXErrorAttributeUnsupported;
  CHECK(setAttributeValue(e, "AXValue", "x") == code::attributeUnsupported);
}

TEST(actionsReportTheServiceCode) {
  const Element e = element();
  fake::script().actionCode = kAXErrorActionUnsupported;
  CHECK(performAction(e, "AXPress") == code::actionUnsupported);
  CHECK(fake::script().action == u"AXPress");
  fake::script().actionCode = kAXErrorSuccess;
  CHECK(performAction(e, "AXPress") == code::success);
}

// --- observers -----------------------------------------------------------------

struct Delivery {
  int calls = 0;
  ObserverRef* observer = nullptr;
  ElementRef* element = nullptr;
  std::string notification;
  void* context = nullptr;
};
Delivery delivered;
Delivery deliveredToOther;

void record(ObserverRef* observer, ElementRef* e, std::string_view notification,
            void* context) {
  ++delivered.calls;
  delivered.observer = observer;
  delivered.element = e;
  delivered.notification = std::string(notification);
  delivered.context = context;
}

void recordOther(ObserverRef*, ElementRef*, std::string_view, void*) {
  ++deliveredToOther.calls;
}

void throwing(ObserverRef*, ElementRef*, std::string_view, void*) {
  throw std::bad_alloc();
}

AXObserverRef axOf(const Observer& o) {
  return static_cast<AXObserverRef>(static_cast<void*>(o.get()));
}

TEST(notificationsReachTheirObserversCallback) {
  delivered = Delivery();
  deliveredToOther = Delivery();
  CreatedObserver created = createObserver(42, record);
  CHECK(created.code == code::success && created.observer);
  CreatedObserver other = createObserver(43, recordOther);
  const Element app = element();
  int context = 0;

  fake::fireNotification(axOf(created.observer), axOf(app), u"AXFocusedUIElementChanged",
                         &context);
  CHECK(delivered.calls == 1 && deliveredToOther.calls == 0);
  CHECK(delivered.observer == created.observer.get());
  CHECK(delivered.element == app.get());  // borrowed, passed straight through
  CHECK(delivered.notification == "AXFocusedUIElementChanged");
  CHECK(delivered.context == &context);
  CHECK(fake::retainCount(axOf(app)) == 1);

  fake::fireNotification(axOf(other.observer), axOf(app), u"AXValueChanged", nullptr);
  CHECK(delivered.calls == 1 && deliveredToOther.calls == 1);
}

TEST(aReleasedObserversCallbackIsForgotten) {
  delivered = Delivery();
  deliveredToOther = Delivery();
  const Element app = element();
  // The table must not route a new observer to an old callback when the new
  // one is allocated where the old one was.
  for (int round = 0; round < 3; ++round) {
    CreatedObserver first = createObserver(42, record);
    const ObserverRef* old = first.observer.get();
    first.observer.reset();
    CreatedObserver second = createObserver(42, recordOther);
    CHECK(second.observer.get() == old);
    fake::fireNotification(axOf(second.observer), axOf(app), u"AXValueChanged", nullptr);
  }
  CHECK(delivered.calls == 0);
  CHECK(deliveredToOther.calls == 3);
}

TEST(aThrowingCallbackDoesNotUnwindIntoTheRunLoop) {
  CreatedObserver created = createObserver(42, throwing);
  const Element app = element();
  fake::fireNotification(axOf(created.observer), axOf(app), u"AXValueChanged", nullptr);
  CHECK(created.observer);
}

TEST(observerCreationFailures) {
  const long before = fake::liveObjects();
  CHECK(createObserver(42, nullptr).code == code::illegalArgument);
  CHECK(fake::script().axCalls == 0);

  // An observer delivered with an error is given up, not leaked.
  fake::script().createObserverCode = kAXErrorFailure;
  CreatedObserver created = createObserver(42, record);
  CHECK(created.code == code::failure && !created.observer);
  CHECK(fake::liveObjects() == before);

  // Success without an observer is reported as such.
  fake::script().createObserverCode = kAXErrorSuccess;
  fake::script().createObserverDelivers = false;
  created = createObserver(42, record);
  CHECK(created.code == code::success && !created.observer);
}

TEST(theRunLoopSourceIsAReferenceOfTheCallersOwn) {
  CreatedObserver created = createObserver(42, record);
  RunLoopSource source = observerRunLoopSource(created.observer);
  CHECK(source);
  const auto cfSource = static_cast<CFRunLoopSourceRef>(static_cast<void*>(source.get()));
  CHECK(fake::retainCount(cfSource) == 2);  // the observer's and ours

  addSourceToMainRunLoop(source);
  removeSourceFromMainRunLoop(source);
  CHECK(fake::script().sourcesAdded == 1 && fake::script().sourcesRemoved == 1);
  CHECK(fake::script().runLoopMisuse == 0);

  // The watcher gives up the observer before its copy of the source.
  const long before = fake::liveObjects();
  created.observer.reset();
  CHECK(fake::liveObjects() == before - 1);
  CHECK(fake::retainCount(cfSource) == 1);
}

TEST(registrationsPassNameElementAndContext) {
  CreatedObserver created = createObserver(42, record);
  const Element focused = element();
  int context = 0;
  fake::script().addCode = kAXErrorNotificationAlreadyRegistered;
  CHECK(addObserverNotification(created.observer, focused, "AXValueChanged", &context) ==
        code::notificationAlreadyRegistered);
  CHECK(fake::script().notification == u"AXValueChanged");
  CHECK(fake::script().notificationElement == axOf(focused));
  CHECK(fake::script().refcon == &context);

  fake::script().removeCode = kAXErrorNotificationNotRegistered;
  CHECK(removeObserverNotification(created.observer, focused, "AXValueChanged") ==
        code::notificationNotRegistered);
}

// --- Unicode -----------------------------------------------------------------

TEST(trimmingRemovesWhiteSpaceOnly) {
  // Every White_Space code point, at both ends.
  const std::string white =
      "\t\n\v\f\r \xC2\x85\xC2\xA0\xE1\x9A\x80"
      "\xE2\x80\x80\xE2\x80\x81\xE2\x80\x82\xE2\x80\x83\xE2\x80\x84\xE2\x80\x85"
      "\xE2\x80\x86\xE2\x80\x87\xE2\x80\x88\xE2\x80\x89\xE2\x80\x8A"
      "\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80";
  CHECK(trimWhiteSpace(white + "a b" + white) == "a b");
  CHECK(trimWhiteSpace(white).empty());
  CHECK(trimWhiteSpace("").empty());
  // U+200B ZERO WIDTH SPACE and U+180E are not White_Space; CF's own
  // whitespace set would have taken the first.
  CHECK(trimWhiteSpace("\xE2\x80\x8B" "a") == "\xE2\x80\x8B" "a");
  CHECK(trimWhiteSpace(" \xE1\xA0\x8E ") == "\xE1\xA0\x8E");
  // Text beyond the BMP at the edges stays whole.
  CHECK(trimWhiteSpace(" \xF0\x9F\x98\x80 ") == "\xF0\x9F\x98\x80");
  // Ill-formed input becomes U+FFFD first.
  CHECK(trimWhiteSpace(" \xFF ") == "\xEF\xBF\xBD");
}

TEST(decompositionKeepsTheWholeText) {
  CHECK(canonicalDecomposition("caf\xC3\xA9") == "cafe\xCC\x81");
  // A leading byte order mark and characters beyond the BMP survive the
  // trip through CFString.
  CHECK(canonicalDecomposition("\xEF\xBB\xBF\xF0\x9F\x98\x80\xC3\x85") ==
        "\xEF\xBB\xBF\xF0\x9F\x98\x80" "A\xCC\x8A");
  CHECK(canonicalDecomposition("").empty());
  CHECK(canonicalDecomposition("a\xC0\xAF" "b") == "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
}

}  // namespace

int main() {
  int failedTests = 0;
  for (const Test& test : tests()) {
    fake::resetScript();
    const long before = fake::liveObjects();
    const int failuresBefore = failures;
    test.run();
    fake::resetScript();
    if (fake::liveObjects() != before) {
      ++failures;
      std::fprintf(stderr, "  %ld CF object(s) leaked or over-released\n",
                   fake::liveObjects() - before);
    }
    const bool ok = failures == failuresBefore;
    if (!ok) ++failedTests;
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", test.name);
  }
  std::printf("%zu tests, %d failed\n", tests().size(), failedTests);
  return failedTests == 0 ? 0 : 1;
}
