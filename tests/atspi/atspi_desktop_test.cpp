// The AT-SPI backend through platform.h against a real GTK 3 application
// (zenity's entry dialog) on a headless desktop: what the CLI cannot show,
// such as registration codes, callbacks of detached or released observers,
// vanished elements, one value notification per toolkit event and one focus
// notification per focus move. Run inside tests/e2e/headless-desktop
// (ctest -L e2e).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "platform/atspi/bus_client.h"
#include "platform/platform.h"

namespace focusctl::platform {
namespace {

using namespace std::chrono_literals;

std::string textOf(const CopiedAttribute& copied) {
  const auto* text = std::get_if<std::string>(&copied.value);
  return text != nullptr ? *text : "<not a text>";
}

std::string text(const Element& element, std::string_view attribute) {
  return textOf(copyAttributeValue(element, attribute));
}

Element focusedElement() {
  CopiedAttribute copied =
      copyAttributeValue(createSystemWideElement(), "AXFocusedUIElement");
  if (auto* element = std::get_if<Element>(&copied.value)) return std::move(*element);
  return Element();
}

// Serves the main loop for a while, as runMainRunLoop would.
void serveMainLoop(std::chrono::milliseconds period) { atspi::bus::runFor(period); }

void xdotool(const std::string& arguments) {
  ASSERT_EQ(std::system(("xdotool " + arguments + " >/dev/null 2>&1").c_str()), 0)
      << arguments;
}

// zenity's entry dialog, in front and with its entry focused.
class Zenity : public testing::Test {
 protected:
  virtual std::vector<const char*> arguments() const {
    return {"zenity", "--entry", "--text", "_Label", "--entry-text", "hello"};
  }

  void SetUp() override {
    ASSERT_TRUE(isProcessTrusted()) << "needs the accessibility bus of a desktop";
    std::vector<const char*> argv = arguments();
    argv.push_back(nullptr);
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      execvp(argv[0], const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      Element element = focusedElement();
      if (element && elementPid(element).pid == pid_ &&
          text(element, "AXRole") == "AXTextField") {
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

  pid_t pid_ = -1;
};

TEST_F(Zenity, ReadsTheFocusedEntryInTheAxVocabulary) {
  Element entry = focusedElement();
  ASSERT_TRUE(entry);
  EXPECT_EQ(elementPid(entry).code, code::success);
  EXPECT_EQ(text(entry, "AXRole"), "AXTextField");
  EXPECT_EQ(text(entry, "AXTitle"), "Label");  // its name is empty: the label's
  EXPECT_EQ(text(entry, "AXValue"), "hello");
  EXPECT_EQ(copyAttributeValue(entry, "AXSubrole").code, code::attributeUnsupported);
  EXPECT_EQ(copyAttributeValue(entry, "AXPlaceholderValue").code,
            code::attributeUnsupported);
  EXPECT_EQ(copyAttributeValue(entry, "AXFocusedUIElement").code,
            code::attributeUnsupported);
  EXPECT_EQ(copyAttributeValue(entry, "AXNoSuchThing").code, code::attributeUnsupported);
  CopiedAttribute size = copyAttributeValue(entry, "AXSize");
  ASSERT_TRUE(std::holds_alternative<Size>(size.value));
  EXPECT_GT(std::get<Size>(size.value).width, 0);
  EXPECT_TRUE(std::holds_alternative<Point>(copyAttributeValue(entry, "AXPosition").value));

  Element application = createApplicationElement(pid_);
  EXPECT_EQ(text(application, "AXRole"), "AXApplication");
  EXPECT_EQ(text(application, "AXTitle"), "zenity");
  CopiedAttribute viaApplication = copyAttributeValue(application, "AXFocusedUIElement");
  ASSERT_EQ(viaApplication.code, code::success);
  EXPECT_EQ(text(std::get<Element>(viaApplication.value), "AXValue"), "hello");

  EXPECT_EQ(copyAttributeValue(createSystemWideElement(), "AXRole").code,
            code::attributeUnsupported);
  EXPECT_EQ(copyAttributeValue(Element(), "AXRole").code, code::illegalArgument);
}

TEST_F(Zenity, SetWritesExactlyAndRefusesWhatTheBusCannotCarry) {
  Element entry = focusedElement();
  ASSERT_TRUE(entry);
  const std::string written = "a\nb \"q\" /\xC3\xA9\t";
  EXPECT_EQ(setAttributeValue(entry, "AXValue", written), code::success);
  EXPECT_EQ(text(entry, "AXValue"), written);
  EXPECT_EQ(setAttributeValue(entry, "AXValue", ""), code::success);
  EXPECT_EQ(text(entry, "AXValue"), "");

  // A NUL would cut the text short on the way: nothing is written.
  EXPECT_EQ(setAttributeValue(entry, "AXValue", std::string("x\0y", 3)),
            code::illegalArgument);
  EXPECT_EQ(setAttributeValue(entry, "AXValue", "\xFF"), code::illegalArgument);
  EXPECT_EQ(text(entry, "AXValue"), "");

  EXPECT_EQ(setAttributeValue(entry, "AXTitle", "x"), code::attributeUnsupported);
  EXPECT_EQ(setAttributeValue(createApplicationElement(pid_), "AXValue", "x"),
            code::attributeUnsupported);
  EXPECT_EQ(performAction(entry, "AXShowMenu"), code::actionUnsupported);
}

TEST_F(Zenity, AnElementWhoseApplicationIsGoneIsInvalid) {
  Element entry = focusedElement();
  ASSERT_TRUE(entry);
  // Facts learnt through this handle before the application goes.
  EXPECT_EQ(text(entry, "AXRole"), "AXTextField");
  EXPECT_TRUE(std::holds_alternative<Point>(copyAttributeValue(entry, "AXPosition").value));
  Element untouched = focusedElement();
  ASSERT_TRUE(untouched);
  const pid_t gone = pid_;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  for (const Element* element : {&untouched, &entry}) {
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

// zenity's password dialog: a password field, never read.
class ZenityPassword : public Zenity {
 protected:
  std::vector<const char*> arguments() const override {
    return {"zenity", "--password"};
  }
};

TEST_F(ZenityPassword, IsWrittenButNeverReadBack) {
  Element field = focusedElement();
  ASSERT_TRUE(field);
  EXPECT_EQ(text(field, "AXSubrole"), "AXSecureTextField");
  EXPECT_EQ(copyAttributeValue(field, "AXValue").code, code::noValue);
  // Written through a fresh handle and through one that knows the field's
  // facts already: a success either way, the mask not compared.
  EXPECT_EQ(setAttributeValue(focusedElement(), "AXValue", "secret"), code::success);
  EXPECT_EQ(setAttributeValue(field, "AXValue", "other secret"), code::success);
  EXPECT_EQ(copyAttributeValue(field, "AXValue").code, code::noValue);
}

struct Seen {
  std::vector<std::string> notifications;
  std::vector<void*> contexts;
};
Seen seen;

void recordCallback(ObserverRef* observer, ElementRef* element,
                    std::string_view notification, void* context) {
  EXPECT_NE(observer, nullptr);
  EXPECT_NE(element, nullptr);
  seen.notifications.emplace_back(notification);
  seen.contexts.push_back(context);
}

TEST_F(Zenity, ObserverRegistrationsAnswerWithTheAxCodes) {
  CreatedObserver created = createObserver(pid_, recordCallback);
  ASSERT_EQ(created.code, code::success);
  const Observer& observer = created.observer;
  Element application = createApplicationElement(pid_);
  Element entry = focusedElement();
  EXPECT_EQ(addObserverNotification(observer, application, "AXFocusedUIElementChanged",
                                    nullptr),
            code::success);
  EXPECT_EQ(addObserverNotification(observer, application, "AXFocusedUIElementChanged",
                                    nullptr),
            code::notificationAlreadyRegistered);
  EXPECT_EQ(addObserverNotification(observer, entry, "AXValueChanged", nullptr),
            code::success);
  EXPECT_EQ(addObserverNotification(observer, entry, "AXValueChanged", nullptr),
            code::notificationAlreadyRegistered);
  EXPECT_EQ(addObserverNotification(observer, entry, "AXTitleChanged", nullptr),
            code::notificationUnsupported);
  EXPECT_EQ(addObserverNotification(observer, createSystemWideElement(),
                                    "AXValueChanged", nullptr),
            code::illegalArgument);
  EXPECT_EQ(addObserverNotification(Observer(), entry, "AXValueChanged", nullptr),
            code::invalidObserver);

  EXPECT_EQ(removeObserverNotification(observer, entry, "AXValueChanged"), code::success);
  EXPECT_EQ(removeObserverNotification(observer, entry, "AXValueChanged"),
            code::notificationNotRegistered);
  EXPECT_EQ(removeObserverNotification(observer, application, "AXValueChanged"),
            code::notificationNotRegistered);
  EXPECT_EQ(createObserver(pid_, nullptr).code, code::illegalArgument);
}

TEST_F(Zenity, CallbacksRunOnlyWhileTheSourceIsAttachedAndTheObserverLives) {
  seen = {};
  int marker = 0;
  CreatedObserver created = createObserver(pid_, recordCallback);
  ASSERT_EQ(created.code, code::success);
  Element entry = focusedElement();
  ASSERT_EQ(addObserverNotification(created.observer, entry, "AXValueChanged", &marker),
            code::success);
  RunLoopSource source = observerRunLoopSource(created.observer);
  ASSERT_TRUE(source);

  xdotool("type --delay 0 a");  // replaces the selected text: two events in GTK 3
  serveMainLoop(600ms);
  EXPECT_TRUE(seen.notifications.empty()) << "called back while detached";

  addSourceToMainRunLoop(source);
  xdotool("key End");
  xdotool("type --delay 0 b");
  serveMainLoop(600ms);
  ASSERT_EQ(seen.notifications.size(), 1U);
  EXPECT_EQ(seen.notifications[0], "AXValueChanged");
  EXPECT_EQ(seen.contexts[0], &marker);

  // GTK reports one write as a deletion and an insertion: a callback for
  // each, nothing held back or merged.
  ASSERT_EQ(setAttributeValue(entry, "AXValue", "replaced"), code::success);
  serveMainLoop(600ms);
  EXPECT_EQ(seen.notifications.size(), 3U);

  removeSourceFromMainRunLoop(source);
  xdotool("type --delay 0 c");
  serveMainLoop(600ms);
  EXPECT_EQ(seen.notifications.size(), 3U) << "called back after detaching";

  // Released while still attached: nothing more either.
  addSourceToMainRunLoop(source);
  created.observer.reset();
  xdotool("type --delay 0 d");
  serveMainLoop(600ms);
  EXPECT_EQ(seen.notifications.size(), 3U) << "called back after release";
  removeSourceFromMainRunLoop(source);
}

TEST_F(Zenity, OneFocusMoveIsOneNotification) {
  seen = {};
  CreatedObserver created = createObserver(pid_, recordCallback);
  ASSERT_EQ(created.code, code::success);
  Element application = createApplicationElement(pid_);
  ASSERT_EQ(addObserverNotification(created.observer, application,
                                    "AXFocusedUIElementChanged", nullptr),
            code::success);
  RunLoopSource source = observerRunLoopSource(created.observer);
  addSourceToMainRunLoop(source);
  // Where the focus is now, as a watcher asks right after registering.
  ASSERT_EQ(copyAttributeValue(application, "AXFocusedUIElement").code, code::success);

  xdotool("key Tab");  // GTK 3 reports the newly focused button twice
  serveMainLoop(800ms);
  ASSERT_EQ(seen.notifications.size(), 1U);
  EXPECT_EQ(seen.notifications[0], "AXFocusedUIElementChanged");
  EXPECT_EQ(text(focusedElement(), "AXRole"), "AXButton");
  removeSourceFromMainRunLoop(source);
}

TEST_F(Zenity, WorkspaceNamesAndActivatesTheApplication) {
  RunningApplication zenity = runningApplication(pid_);
  ASSERT_TRUE(zenity);
  EXPECT_EQ(processIdentifier(zenity), pid_);
  EXPECT_EQ(localizedName(zenity), "zenity");
  EXPECT_EQ(bundleIdentifier(zenity), "Zenity");  // WM_CLASS class
  EXPECT_TRUE(activateApplication(zenity, activateIgnoringOtherApps));
  EXPECT_EQ(processIdentifier(frontmostApplication()), pid_);

  EXPECT_FALSE(runningApplication(0));
  EXPECT_FALSE(runningApplication(-5));
  EXPECT_FALSE(runningApplication(2147483647));
}

// How the accessibility bus is found is settled once per process, so these
// run this test binary again with its environment changed. nullptr removes
// a variable.
int statusOfChild(const std::vector<std::pair<std::string, const char*>>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    std::string_view name = text.substr(0, text.find('='));
    bool changed = false;
    for (const auto& change : changes) changed = changed || change.first == name;
    if (!changed) entries.emplace_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value != nullptr) entries.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (std::string& entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string filter = "--gtest_filter=BusAddressChild.*";
  char* argv[] = {const_cast<char*>("focusctl_atspi_desktop_tests"), filter.data(), nullptr};
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    freopen("/dev/null", "w", stdout);
    execve("/proc/self/exe", argv, envp.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(BusAddressChild, IsTrustedAsExpected) {
  const char* expected = std::getenv("FOCUSCTL_TEST_EXPECT_TRUSTED");
  if (expected == nullptr) GTEST_SKIP() << "run by the BusAddress tests";
  EXPECT_EQ(isProcessTrusted(), std::string_view(expected) == "1");
  // An address read from the display for libatspi is not left behind.
  EXPECT_EQ(std::getenv("AT_SPI_BUS_ADDRESS"), nullptr);
}

TEST(BusAddress, IsFoundOnTheDisplayWhereLibatspiLooks) {
  const std::pair<std::string, const char*> withoutSessionBus[] = {
      {"AT_SPI_BUS_ADDRESS", nullptr},
      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/focusctl-bus"},
      {"XDG_RUNTIME_DIR", "/nonexistent"}};
  std::vector<std::pair<std::string, const char*>> changes(std::begin(withoutSessionBus),
                                                           std::end(withoutSessionBus));
  // The root window's AT_SPI_BUS alone leads to the bus.
  changes.emplace_back("FOCUSCTL_TEST_EXPECT_TRUSTED", "1");
  EXPECT_EQ(statusOfChild(changes), 0);
  // libatspi does not look at the display while WAYLAND_DISPLAY is set, even
  // empty: neither is the address taken from it for libatspi then.
  changes.back().second = "0";
  changes.emplace_back("WAYLAND_DISPLAY", "");
  EXPECT_EQ(statusOfChild(changes), 0);
}

}  // namespace
}  // namespace focusctl::platform
