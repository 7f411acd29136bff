// The AT-SPI backend through platform.h against a real GTK 3 application
// (zenity's entry dialog) on a headless desktop: what the CLI cannot show,
// such as the codes of refused reads, writes and registrations, callbacks of
// detached or released observers, vanished elements, one value notification
// per toolkit event and one focus notification per focus move. Run inside
// tests/e2e/headless-desktop (ctest -L e2e).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "platform/atspi/bus/bus_client.h"
#include "platform/platform.h"

namespace focusctl::platform {
namespace {

using namespace std::chrono_literals;

std::string text(const Element& element, std::string_view attribute) {
  CopiedAttribute copied = copyAttributeValue(element, attribute);
  const auto* value = std::get_if<std::string>(&copied.value);
  return value != nullptr ? *value : "<not a text>";
}

Element focusedElement() {
  CopiedAttribute copied =
      copyAttributeValue(createSystemWideElement(), "AXFocusedUIElement");
  if (auto* element = std::get_if<Element>(&copied.value)) return std::move(*element);
  return Element();
}

void xdotool(const std::string& arguments) {
  ASSERT_EQ(std::system(("xdotool " + arguments + " >/dev/null 2>&1").c_str()), 0)
      << arguments;
}

struct Seen {
  std::vector<std::string> notifications;
  void* lastContext = nullptr;
};
Seen seen;

void recordCallback(ObserverRef* observer, ElementRef* element,
                    std::string_view notification, void* context) {
  EXPECT_NE(observer, nullptr);
  EXPECT_NE(element, nullptr);
  seen.notifications.emplace_back(notification);
  seen.lastContext = context;
}

// zenity's entry dialog, in front and with its entry focused.
class Zenity : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(isProcessTrusted()) << "needs the accessibility bus of a desktop";
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execlp("zenity", "zenity", "--entry", "--text", "_Label", "--entry-text", "hello",
             nullptr);
      _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      entry_ = focusedElement();
      if (entry_ && elementPid(entry_).pid == pid_ &&
          text(entry_, "AXRole") == "AXTextField") {
        return;
      }
      std::this_thread::sleep_for(50ms);
    }
    FAIL() << "zenity never had focus";
  }

  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // An observer of zenity registered for the notification on the element;
  // its source, not attached yet.
  RunLoopSource observe(Observer& observer, const Element& element,
                        std::string_view notification, void* context) {
    seen = {};
    CreatedObserver created = createObserver(pid_, recordCallback);
    EXPECT_EQ(created.code, code::success);
    observer = std::move(created.observer);
    EXPECT_EQ(addObserverNotification(observer, element, notification, context),
              code::success);
    RunLoopSource source = observerRunLoopSource(observer);
    EXPECT_TRUE(source);
    return source;
  }

  // Serves the main loop after an event, as runMainRunLoop would; the
  // number of callbacks seen so far.
  static std::size_t callbacksAfter(const std::string& xdotoolArguments) {
    if (!xdotoolArguments.empty()) xdotool(xdotoolArguments);
    atspi::bus::runFor(700ms);
    return seen.notifications.size();
  }

  pid_t pid_ = -1;
  Element entry_;
};

TEST_F(Zenity, RefusedReadsWritesAndRegistrationsAnswerWithTheAxCodes) {
  const Element& entry = entry_;
  const Element application = createApplicationElement(pid_);
  const Element systemWide = createSystemWideElement();
  CreatedObserver created = createObserver(pid_, recordCallback);
  ASSERT_EQ(created.code, code::success);
  const Observer& observer = created.observer;
  const auto copy = [](const Element& element, const char* attribute) {
    return copyAttributeValue(element, attribute).code;
  };
  const auto add = [&observer](const Element& element, const char* notification) {
    return addObserverNotification(observer, element, notification, nullptr);
  };
  const auto remove = [&observer](const Element& element, const char* notification) {
    return removeObserverNotification(observer, element, notification);
  };
  EXPECT_EQ(copy(entry, "AXSubrole"), code::attributeUnsupported);
  EXPECT_EQ(copy(entry, "AXPlaceholderValue"), code::attributeUnsupported);
  EXPECT_EQ(copy(entry, "AXFocusedUIElement"), code::attributeUnsupported);
  EXPECT_EQ(copy(entry, "AXNoSuchThing"), code::attributeUnsupported);
  EXPECT_EQ(copy(systemWide, "AXRole"), code::attributeUnsupported);
  EXPECT_EQ(copy(Element(), "AXRole"), code::illegalArgument);
  // A NUL would cut the text short on the way: nothing is written.
  EXPECT_EQ(setAttributeValue(entry, "AXValue", std::string("x\0y", 3)), code::illegalArgument);
  EXPECT_EQ(setAttributeValue(entry, "AXValue", "\xFF"), code::illegalArgument);
  EXPECT_EQ(setAttributeValue(entry, "AXTitle", "x"), code::attributeUnsupported);
  EXPECT_EQ(setAttributeValue(application, "AXValue", "x"), code::attributeUnsupported);
  EXPECT_EQ(performAction(entry, "AXShowMenu"), code::actionUnsupported);
  EXPECT_EQ(add(application, "AXFocusedUIElementChanged"), code::success);
  EXPECT_EQ(add(application, "AXFocusedUIElementChanged"), code::notificationAlreadyRegistered);
  EXPECT_EQ(add(entry, "AXValueChanged"), code::success);
  EXPECT_EQ(add(entry, "AXValueChanged"), code::notificationAlreadyRegistered);
  EXPECT_EQ(add(entry, "AXTitleChanged"), code::notificationUnsupported);
  EXPECT_EQ(add(systemWide, "AXValueChanged"), code::illegalArgument);
  EXPECT_EQ(addObserverNotification(Observer(), entry, "AXValueChanged", nullptr),
            code::invalidObserver);
  EXPECT_EQ(remove(entry, "AXValueChanged"), code::success);
  EXPECT_EQ(remove(entry, "AXValueChanged"), code::notificationNotRegistered);
  EXPECT_EQ(remove(application, "AXValueChanged"), code::notificationNotRegistered);
  EXPECT_EQ(createObserver(pid_, nullptr).code, code::illegalArgument);
  EXPECT_EQ(text(entry, "AXValue"), "hello") << "a refused write changed the text";
}

TEST_F(Zenity, AnElementWhoseApplicationIsGoneIsInvalid) {
  // Facts learnt through this handle before the application goes.
  EXPECT_EQ(text(entry_, "AXRole"), "AXTextField");
  EXPECT_TRUE(
      std::holds_alternative<Point>(copyAttributeValue(entry_, "AXPosition").value));
  Element untouched = focusedElement();
  ASSERT_TRUE(untouched);
  const pid_t gone = pid_;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  for (const Element* element : {&untouched, &entry_}) {
    // Asked first what the handle has not learnt yet: once a call finds the
    // element gone, the facts it knew are not served either.
    for (const char* attribute :
         {"AXTitle", "AXRole", "AXSubrole", "AXDescription", "AXValue",
          "AXPlaceholderValue", "AXDOMIdentifier", "AXPosition", "AXSize"}) {
      EXPECT_EQ(copyAttributeValue(*element, attribute).code, code::invalidElement)
          << attribute;
    }
    EXPECT_EQ(copyAttributeValue(*element, "AXNoSuchThing").code,
              code::attributeUnsupported);
    EXPECT_EQ(setAttributeValue(*element, "AXValue", "x"), code::invalidElement);
    EXPECT_EQ(performAction(*element, "AXPress"), code::invalidElement);
  }
  // No registered application has the pid any more.
  EXPECT_EQ(copyAttributeValue(createApplicationElement(gone), "AXFocusedUIElement").code,
            code::cannotComplete);
}

TEST_F(Zenity, CallbacksRunOnlyWhileTheSourceIsAttachedAndTheObserverLives) {
  int marker = 0;
  Observer observer;
  RunLoopSource source = observe(observer, entry_, "AXValueChanged", &marker);
  // Typing replaces the selected text: two events in GTK 3.
  EXPECT_EQ(callbacksAfter("type --delay 0 a"), 0U) << "called back while detached";

  addSourceToMainRunLoop(source);
  xdotool("key End");
  ASSERT_EQ(callbacksAfter("type --delay 0 b"), 1U);
  EXPECT_EQ(seen.notifications[0], "AXValueChanged");
  EXPECT_EQ(seen.lastContext, &marker);

  // GTK reports one write as a deletion and an insertion: a callback for
  // each, nothing held back or merged.
  ASSERT_EQ(setAttributeValue(entry_, "AXValue", "replaced"), code::success);
  EXPECT_EQ(callbacksAfter(""), 3U);

  removeSourceFromMainRunLoop(source);
  EXPECT_EQ(callbacksAfter("type --delay 0 c"), 3U) << "called back after detaching";

  // Released while still attached: nothing more either.
  addSourceToMainRunLoop(source);
  observer.reset();
  EXPECT_EQ(callbacksAfter("type --delay 0 d"), 3U) << "called back after release";
  removeSourceFromMainRunLoop(source);
}

TEST_F(Zenity, OneFocusMoveIsOneNotification) {
  Observer observer;
  Element application = createApplicationElement(pid_);
  RunLoopSource source =
      observe(observer, application, "AXFocusedUIElementChanged", nullptr);
  addSourceToMainRunLoop(source);
  // Where the focus is now, as a watcher asks right after registering.
  ASSERT_EQ(copyAttributeValue(application, "AXFocusedUIElement").code, code::success);

  // GTK 3 reports the newly focused button twice.
  ASSERT_EQ(callbacksAfter("key Tab"), 1U);
  EXPECT_EQ(seen.notifications[0], "AXFocusedUIElementChanged");
  EXPECT_EQ(text(focusedElement(), "AXRole"), "AXButton");
  removeSourceFromMainRunLoop(source);
}

}  // namespace
}  // namespace focusctl::platform
