// Watch mode: the state machine over activations and observer callbacks, and
// the lines it streams.
#include "tests/sim_fixture.h"
#include "watch/watcher.h"

namespace focusctl::test {
namespace {

using Lines = std::vector<std::string>;
using Pairs = std::vector<std::pair<sim::ElementId, std::string>>;
constexpr const char* focusChanged = "AXFocusedUIElementChanged";
constexpr const char* valueChanged = "AXValueChanged";

class WatcherTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    field = mailWithField();
    mailElement = sim::app(mailPid).element;
  }

  // After the run: the observer of `pid` (none when absent) holds the
  // application element and `value`, registered for exactly `pairs`, each
  // with a null context; at most one observer and source are held.
  void expectState(std::optional<sim::Pid> pid, std::optional<sim::ElementId> value,
                   const Pairs& pairs) {
    EXPECT_LE(sim::live(sim::Kind::observer), 1);
    EXPECT_LE(sim::live(sim::Kind::runLoopSource), 1);
    EXPECT_EQ(sim::desktop().observersReleasedWhileAttached, 0);
    if (!pid) {
      EXPECT_FALSE(watcherObserver || watcherAppElement || watcherValueElement ||
                   watcherRunLoopSource || watcherFocusSupported);
      EXPECT_EQ(sim::liveTotal(), 0);
      return;
    }
    ASSERT_TRUE(watcherObserver && watcherAppElement);
    EXPECT_EQ(sim::pidOf(watcherObserver.get()), *pid);
    EXPECT_EQ(sim::idOf(watcherAppElement.get()), sim::app(*pid).element);
    EXPECT_EQ(watcherValueElement ? sim::idOf(watcherValueElement.get()) : -1,
              value.value_or(-1));
    std::set<sim::Registration> expected;
    for (const auto& [id, name] : pairs) {
      expected.insert({sim::serialOf(watcherObserver.get()), *pid, id, name, nullptr});
    }
    EXPECT_EQ(sim::registrations(), expected);
  }

  // Moves the focus inside Mail and tells the observer.
  void queueFocusMove(std::function<void()> move) {
    sim::queueAction(std::move(move));
    sim::queueNotification(mailPid, mailElement, focusChanged);
  }
  void queueFocusMove(sim::ElementId to) {
    queueFocusMove([to] { sim::focus(to); });
  }

  sim::ElementId field = 0;
  sim::ElementId mailElement = 0;
};

TEST_F(WatcherTest, StartsWatchingTheFrontmostApplication) {
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueNotification(mailPid, field, "AXTitleChanged");  // never registered
  EXPECT_EQ(watch(), Lines({"watching\n", "ax\n", "ax\n"}));
  expectState(mailPid, field, {{mailElement, focusChanged}, {field, valueChanged}});
  EXPECT_EQ(sim::callCount("observeApplicationActivation"), 1u);
}

TEST_F(WatcherTest, StartsWithoutFrontmostApplication) {
  sim::desktop().frontmost.reset();
  EXPECT_EQ(watch(), Lines({"fallback\n"}));
  expectState(std::nullopt, std::nullopt, {});
  EXPECT_EQ(sim::callCount("createObserver"), 0u);

  sim::queueNotification(mailPid, field, valueChanged);  // nobody listens
  sim::queueActivation(mailPid);
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"fallback\n", "watching\n", "ax\n"}));
  expectState(mailPid, field, {{mailElement, focusChanged}, {field, valueChanged}});
}

TEST_F(WatcherTest, FocusMovesInsideTheApplication) {
  const sim::ElementId other = sim::addElement(mailPid);
  const sim::ElementId refusing = sim::addElement(mailPid);
  sim::element(refusing).addNotificationResult[valueChanged] =
      sim::code::notificationUnsupported;

  queueFocusMove(other);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "ax\n"}));
  expectState(mailPid, other, {{mailElement, focusChanged}, {other, valueChanged}});

  // The element stays even though its registration was refused.
  queueFocusMove(refusing);
  sim::queueNotification(mailPid, refusing, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "fallback\n", "ax\n"}));
  expectState(mailPid, refusing, {{mailElement, focusChanged}});
  EXPECT_TRUE(watcherFocusSupported);

  // Nothing focused, or the lookup fails with a value.
  for (const sim::Answer& answer :
       {sim::noValue(), sim::Answer{sim::code::cannotComplete, sim::ElementLink{field}}}) {
    queueFocusMove([this, answer] {
      sim::element(mailElement).attributes["AXFocusedUIElement"] = answer;
    });
    EXPECT_EQ(watch(), Lines({"fallback\n", "fallback\n", "ax\n"}));
    expectState(mailPid, std::nullopt, {{mailElement, focusChanged}});
  }
}

TEST_F(WatcherTest, RegistrationAnswers) {
  struct Case {
    const char* why;
    sim::ResultCode focusAdd, valueAdd, valueRemove;
    Lines lines;  // for a refocus of the field, then a value change
    bool focusSupported;
    Pairs registered;
  };
  const sim::ResultCode ok = 0;
  const Lines watching = {"watching\n", "watching\n", "ax\n", "ax\n"};
  const Pairs focus = {{mailElement, focusChanged}}, value = {{field, valueChanged}};
  const Pairs both = {focus[0], value[0]};
  const std::vector<Case> cases = {
      {"all accepted", ok, ok, ok, watching, true, both},
      {"already registered is success", sim::code::notificationAlreadyRegistered,
       sim::code::notificationAlreadyRegistered, ok, watching, true, both},
      {"failed unregistration ignored", ok, ok, sim::code::invalidObserver, watching, true, both},
      {"focus refused: value changes still come", sim::code::notificationUnsupported, ok, ok,
       {"fallback\n", "ax\n"}, false, value},
      {"value refused", ok, sim::code::failure, ok, {"fallback\n", "fallback\n", "ax\n"}, true, focus},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    resetWatcherState();
    sim::element(mailElement).addNotificationResult[focusChanged] = c.focusAdd;
    sim::element(field).addNotificationResult[valueChanged] = c.valueAdd;
    sim::element(field).removeNotificationResult[valueChanged] = c.valueRemove;
    queueFocusMove(field);
    sim::queueNotification(mailPid, field, valueChanged);
    EXPECT_EQ(watch(), c.lines);
    EXPECT_EQ(watcherFocusSupported, c.focusSupported);
    expectState(mailPid, field, c.registered);
  }
}

TEST_F(WatcherTest, SameElementRefocusedIsRegisteredAgain) {
  queueFocusMove([this] {
    sim::desktop().calls.clear();
    sim::element(field).addNotificationResult[valueChanged] = sim::code::cannotComplete;
  });
  EXPECT_EQ(watch(), Lines({"watching\n", "fallback\n", "ax\n"}));
  const std::string id = std::to_string(field);
  const auto& calls = sim::desktop().calls;
  auto removed = std::find(calls.begin(), calls.end(),
                           "removeObserverNotification " + id + " " + valueChanged);
  auto added = std::find(calls.begin(), calls.end(),
                         "addObserverNotification " + id + " " + valueChanged);
  EXPECT_TRUE(removed != calls.end() && added != calls.end() && removed < added);
}

TEST_F(WatcherTest, ActivationsRebuildForTheNewApplication) {
  sim::addApp(43, "Notes");
  const sim::ElementId note = sim::addElement(43);
  sim::element(sim::app(43).element).attributes["AXFocusedUIElement"] = sim::link(note);

  // The old observer falls silent.
  sim::queueActivation(43);
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueNotification(mailPid, mailElement, focusChanged);
  sim::queueNotification(43, note, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "ax\n"}));
  expectState(43, note, {{sim::app(43).element, focusChanged}, {note, valueChanged}});

  // Each activation builds everything anew, even for the same application.
  sim::desktop().frontmost = mailPid;
  sim::desktop().calls.clear();
  sim::queueActivation(mailPid);
  sim::queueActivation(mailPid);
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "watching\n", "ax\n"}));
  EXPECT_EQ(sim::callCount("createObserver"), 3u);
  EXPECT_EQ(sim::callCount("createApplicationElement"), 3u);
  expectState(mailPid, field, {{mailElement, focusChanged}, {field, valueChanged}});

  // With nothing in front the observer goes.
  sim::queueAction([] {
    sim::desktop().frontmost.reset();
    rebuild();
  });
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "fallback\n"}));
  expectState(std::nullopt, std::nullopt, {});
}

TEST_F(WatcherTest, ObserverThatCannotDeliver) {
  for (const auto& [code, delivered] : std::vector<std::pair<sim::ResultCode, bool>>{
           {sim::code::cannotComplete, false}, {0, false}, {sim::code::failure, true}}) {
    SCOPED_TRACE(code);
    sim::app(mailPid).observerCode = code;
    sim::app(mailPid).observerDelivered = delivered;
    sim::queueNotification(mailPid, field, valueChanged);
    EXPECT_EQ(watch(), Lines({"fallback\n"}));
    expectState(std::nullopt, std::nullopt, {});  // what was made is given up
  }
  sim::app(mailPid).observerCode = 0;
  sim::app(mailPid).observerDelivered = true;
  sim::app(mailPid).observerHasRunLoopSource = false;
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueNotification(mailPid, mailElement, focusChanged);
  EXPECT_EQ(watch(), Lines({"watching\n"}));
}

TEST_F(WatcherTest, CallbackWithoutObserver) {
  sim::desktop().output.clear();
  for (const char* name : {valueChanged, "AXTitleChanged", "axfocuseduielementchanged", focusChanged}) {
    watcherCallback(nullptr, nullptr, name, nullptr);
  }
  EXPECT_EQ(sim::linesNow(), Lines({"ax\n", "ax\n", "ax\n", "fallback\n", "ax\n"}));
  EXPECT_EQ(sim::bufferedOutput(), "");
  expectState(std::nullopt, std::nullopt, {});
}

}  // namespace
}  // namespace focusctl::test
