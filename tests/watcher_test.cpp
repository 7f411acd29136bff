// Watch mode: the state machine over activations and observer callbacks, and
// the lines it streams.
#include <random>

#include "tests/sim_fixture.h"
#include "watch/watcher.h"

namespace focusctl::test {
namespace {

using Lines = std::vector<std::string>;
constexpr const char* focusChanged = "AXFocusedUIElementChanged";
constexpr const char* valueChanged = "AXValueChanged";

class WatcherTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    field = mailWithField();
    mailElement = sim::app(mailPid).element;
  }

  // The state the last line announces, checked against the variables.
  void expectNoObserver() {
    EXPECT_FALSE(watcherObserver);
    EXPECT_FALSE(watcherAppElement);
    EXPECT_FALSE(watcherValueElement);
    EXPECT_FALSE(watcherRunLoopSource);
    EXPECT_FALSE(watcherFocusSupported);
  }
  void expectObserving(sim::Pid pid, std::optional<sim::ElementId> value) {
    ASSERT_TRUE(watcherObserver);
    ASSERT_TRUE(watcherAppElement);
    EXPECT_EQ(sim::pidOf(watcherObserver.get()), pid);
    EXPECT_EQ(sim::idOf(watcherAppElement.get()), sim::app(pid).element);
    if (value) {
      ASSERT_TRUE(watcherValueElement);
      EXPECT_EQ(sim::idOf(watcherValueElement.get()), *value);
    } else {
      EXPECT_FALSE(watcherValueElement);
    }
  }
  std::set<sim::Registration> registered(
      std::vector<std::pair<sim::ElementId, std::string>> pairs) {
    std::set<sim::Registration> set;
    for (auto& [id, name] : pairs) {
      set.insert({sim::serialOf(watcherObserver.get()),
                  sim::pidOf(watcherObserver.get()), id, name});
    }
    return set;
  }
  // Moves the focus inside Mail and tells the observer.
  void queueFocusMove(sim::ElementId to) {
    sim::queueAction([to] { sim::focus(to); });
    sim::queueNotification(mailPid, sim::app(mailPid).element, focusChanged);
  }

  sim::ElementId field = 0;
  sim::ElementId mailElement = 0;
};

TEST_F(WatcherTest, StartsWatchingTheFrontmostApplication) {
  EXPECT_EQ(watch(), Lines({"watching\n"}));
  expectObserving(mailPid, field);
  EXPECT_TRUE(watcherFocusSupported);
  EXPECT_TRUE(sim::isAttached(watcherObserver.get()));
  EXPECT_EQ(sim::registrations(),
            registered({{mailElement, focusChanged}, {field, valueChanged}}));
  EXPECT_EQ(sim::callCount("observeApplicationActivation"), 1u);
  for (const sim::OutputChunk& chunk : sim::desktop().output) {
    EXPECT_TRUE(chunk.lineNow);
  }
}

TEST_F(WatcherTest, StartsWithoutFrontmostApplication) {
  sim::desktop().frontmost.reset();
  EXPECT_EQ(watch(), Lines({"fallback\n"}));
  expectNoObserver();
  EXPECT_EQ(sim::callCount("createObserver"), 0u);

  sim::queueNotification(mailPid, field, valueChanged);  // nobody listens
  sim::queueActivation(mailPid);
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"fallback\n", "watching\n", "ax\n"}));
  expectObserving(mailPid, field);
}

TEST_F(WatcherTest, FocusMovesInsideTheApplication) {
  const sim::ElementId other = sim::addElement(mailPid);
  const sim::ElementId refusing = sim::addElement(mailPid);
  sim::element(refusing).addNotificationResult[valueChanged] =
      sim::code::notificationUnsupported;

  queueFocusMove(other);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "ax\n"}));
  expectObserving(mailPid, other);
  EXPECT_EQ(sim::registrations(),
            registered({{mailElement, focusChanged}, {other, valueChanged}}));

  // The element stays even though its registration was refused.
  queueFocusMove(refusing);
  sim::queueNotification(mailPid, refusing, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "fallback\n", "ax\n"}));
  expectObserving(mailPid, refusing);
  EXPECT_TRUE(watcherFocusSupported);

  // Nothing focused.
  sim::queueAction([this] {
    sim::element(mailElement).attributes["AXFocusedUIElement"] =
        sim::noValue();
  });
  sim::queueNotification(mailPid, mailElement, focusChanged);
  EXPECT_EQ(watch(), Lines({"fallback\n", "fallback\n", "ax\n"}));
  expectObserving(mailPid, std::nullopt);
  EXPECT_EQ(sim::registrations(), registered({{mailElement, focusChanged}}));
}

TEST_F(WatcherTest, FocusLookupFailureCountsAsNoElement) {
  sim::queueAction([this] {
    sim::element(mailElement).attributes["AXFocusedUIElement"] =
        sim::Answer{sim::code::cannotComplete, sim::ElementLink{field}};
  });
  sim::queueNotification(mailPid, mailElement, focusChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "fallback\n", "ax\n"}));
  expectObserving(mailPid, std::nullopt);
}

TEST_F(WatcherTest, ValueChangesWriteOnlyAx) {
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueNotification(mailPid, field, valueChanged);
  // A name that was never registered does not arrive.
  sim::queueNotification(mailPid, field, "AXTitleChanged");
  EXPECT_EQ(watch(), Lines({"watching\n", "ax\n", "ax\n"}));
}

TEST_F(WatcherTest, SameElementRefocusedIsRegisteredAgain) {
  sim::queueAction([this] {
    sim::desktop().calls.clear();
    sim::element(field).addNotificationResult[valueChanged] =
        sim::code::cannotComplete;
  });
  sim::queueNotification(mailPid, mailElement, focusChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "fallback\n", "ax\n"}));
  const std::string id = std::to_string(field);
  const auto& calls = sim::desktop().calls;
  auto removed = std::find(calls.begin(), calls.end(),
                           "removeObserverNotification " + id + " " + valueChanged);
  auto added = std::find(calls.begin(), calls.end(),
                         "addObserverNotification " + id + " " + valueChanged);
  EXPECT_TRUE(removed != calls.end() && added != calls.end() && removed < added);
}

TEST_F(WatcherTest, FailedUnregistrationIsIgnored) {
  sim::element(field).removeNotificationResult[valueChanged] =
      sim::code::invalidObserver;
  queueFocusMove(field);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "ax\n"}));
}

TEST_F(WatcherTest, SwitchingApplicationsLeavesTheOldObserverSilent) {
  sim::addApp(43, "Notes");
  const sim::ElementId note = sim::addElement(43);
  sim::element(sim::app(43).element).attributes["AXFocusedUIElement"] =
      sim::link(note);

  sim::queueActivation(43);
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueNotification(mailPid, mailElement, focusChanged);
  sim::queueNotification(43, note, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "ax\n"}));
  expectObserving(43, note);
  EXPECT_EQ(sim::registrations(),
            registered({{sim::app(43).element, focusChanged}, {note, valueChanged}}));
  EXPECT_EQ(sim::live(sim::Kind::observer), 1);
  EXPECT_EQ(sim::desktop().observersReleasedWhileAttached, 0);
}

TEST_F(WatcherTest, ReactivationRebuildsEverything) {
  sim::queueActivation(mailPid);
  sim::queueActivation(mailPid);
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "watching\n", "ax\n"}));
  EXPECT_EQ(sim::callCount("createObserver"), 3u);
  EXPECT_EQ(sim::callCount("createApplicationElement"), 3u);
  EXPECT_EQ(sim::serialOf(watcherObserver.get()), 2);
  EXPECT_EQ(sim::live(sim::Kind::observer), 1);
  EXPECT_EQ(sim::live(sim::Kind::runLoopSource), 1);
  EXPECT_EQ(sim::desktop().observersReleasedWhileAttached, 0);
}

TEST_F(WatcherTest, RebuildWithNothingInFrontDropsTheObserver) {
  sim::queueAction([] {
    sim::desktop().frontmost.reset();
    rebuild();
  });
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "fallback\n"}));
  expectNoObserver();
  EXPECT_EQ(sim::live(sim::Kind::observer), 0);
  EXPECT_EQ(sim::desktop().observersReleasedWhileAttached, 0);
}

TEST_F(WatcherTest, FocusRegistrationRefusedStillReportsValueChanges) {
  sim::element(mailElement).addNotificationResult[focusChanged] =
      sim::code::notificationUnsupported;
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueActivation(mailPid);
  EXPECT_EQ(watch(), Lines({"fallback\n", "ax\n", "fallback\n"}));
  expectObserving(mailPid, field);
  EXPECT_FALSE(watcherFocusSupported);
  EXPECT_EQ(sim::registrations(), registered({{field, valueChanged}}));
}

TEST_F(WatcherTest, AlreadyRegisteredCountsAsSuccess) {
  sim::element(mailElement).addNotificationResult[focusChanged] =
      sim::code::notificationAlreadyRegistered;
  sim::element(field).addNotificationResult[valueChanged] =
      sim::code::notificationAlreadyRegistered;
  queueFocusMove(field);
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"watching\n", "watching\n", "ax\n", "ax\n"}));
  EXPECT_TRUE(watcherFocusSupported);
}

TEST_F(WatcherTest, ValueRegistrationRefused) {
  sim::element(field).addNotificationResult[valueChanged] = sim::code::failure;
  sim::queueNotification(mailPid, field, valueChanged);
  EXPECT_EQ(watch(), Lines({"fallback\n"}));
  expectObserving(mailPid, field);
  EXPECT_TRUE(watcherFocusSupported);
}

TEST_F(WatcherTest, ObserverCreationFailure) {
  struct Case {
    sim::ResultCode code;
    bool delivered;
  };
  for (const Case& c : {Case{sim::code::cannotComplete, false},
                        Case{sim::code::success, false},
                        Case{sim::code::failure, true}}) {
    SCOPED_TRACE(c.code);
    sim::app(mailPid).observerCode = c.code;
    sim::app(mailPid).observerDelivered = c.delivered;
    sim::queueNotification(mailPid, field, valueChanged);
    EXPECT_EQ(watch(), Lines({"fallback\n"}));
    expectNoObserver();
    // Whatever was created on the way was given up.
    EXPECT_EQ(sim::liveTotal(), 0);
  }
}

TEST_F(WatcherTest, WithoutRunLoopSourceNoCallbackArrives) {
  sim::app(mailPid).observerHasRunLoopSource = false;
  sim::queueNotification(mailPid, field, valueChanged);
  sim::queueNotification(mailPid, mailElement, focusChanged);
  EXPECT_EQ(watch(), Lines({"watching\n"}));
  EXPECT_FALSE(watcherRunLoopSource);
  EXPECT_FALSE(sim::isAttached(watcherObserver.get()));
  EXPECT_EQ(sim::callCount("addSourceToMainRunLoop"), 0u);
}

TEST_F(WatcherTest, CallbackAndRefreshWithoutObserver) {
  sim::desktop().output.clear();
  watcherCallback(nullptr, nullptr, valueChanged, nullptr);
  watcherCallback(nullptr, nullptr, "AXTitleChanged", nullptr);
  watcherCallback(nullptr, nullptr, "axfocuseduielementchanged", nullptr);
  watcherCallback(nullptr, nullptr, focusChanged, nullptr);
  EXPECT_EQ(sim::linesNow(), Lines({"ax\n", "ax\n", "ax\n", "fallback\n", "ax\n"}));
  EXPECT_EQ(sim::bufferedOutput(), "");
  expectNoObserver();
}

// Many mixed events: the handles held stay bounded and all are given up at
// the end.
TEST_F(WatcherTest, LongRunKeepsHandlesBounded) {
  sim::desktop().recordCalls = false;
  const std::vector<sim::Pid> pids = {mailPid, 43, 44};
  std::vector<std::vector<sim::ElementId>> elements(pids.size());
  for (std::size_t a = 0; a < pids.size(); ++a) {
    if (a > 0) sim::addApp(pids[a]);
    for (int e = 0; e < 4; ++e) elements[a].push_back(sim::addElement(pids[a]));
    sim::element(elements[a][3]).addNotificationResult[valueChanged] =
        sim::code::cannotComplete;
  }
  sim::app(43).observerHasRunLoopSource = false;
  sim::element(sim::app(44).element).addNotificationResult[focusChanged] =
      sim::code::notificationAlreadyRegistered;

  std::mt19937 random(12345);
  for (int i = 0; i < 100000; ++i) {
    const std::size_t a = random() % pids.size();
    const sim::Pid pid = pids[a];
    const sim::ElementId target = elements[a][random() % 4];
    switch (random() % 6) {
      case 0:
        sim::queueActivation(pid);
        break;
      case 1:
        sim::queueAction([pid] {
          sim::app(pid).observerCode =
              sim::app(pid).observerCode == 0 ? sim::code::cannotComplete : 0;
        });
        break;
      case 2:
        sim::queueAction([target] { sim::focus(target); });
        sim::queueNotification(pid, sim::app(pid).element, focusChanged);
        break;
      case 3:
        sim::queueAction([pid] {
          sim::element(sim::app(pid).element).attributes["AXFocusedUIElement"] =
              sim::noValue();
        });
        sim::queueNotification(pid, sim::app(pid).element, focusChanged);
        break;
      default:
        sim::queueNotification(pid, target, valueChanged);
        break;
    }
  }
  std::size_t events = 0;
  int maxObservers = 0, maxSources = 0, maxElements = 0, maxApplications = 0;
  int brokenInvariants = 0;
  sim::desktop().afterEvent = [&] {
    ++events;
    maxObservers = std::max(maxObservers, sim::live(sim::Kind::observer));
    maxSources = std::max(maxSources, sim::live(sim::Kind::runLoopSource));
    // The application element and the value element.
    maxElements = std::max(maxElements, sim::live(sim::Kind::element));
    maxApplications =
        std::max(maxApplications, sim::live(sim::Kind::application));
    const bool consistent =
        static_cast<bool>(watcherObserver) ==
            static_cast<bool>(watcherAppElement) &&
        (watcherObserver || (!watcherValueElement && !watcherFocusSupported &&
                             !watcherRunLoopSource)) &&
        (!watcherRunLoopSource || sim::isAttached(watcherObserver.get()));
    if (!consistent) ++brokenInvariants;
  };
  const Lines lines = watch();
  EXPECT_EQ(maxObservers, 1);
  EXPECT_EQ(maxSources, 1);
  EXPECT_LE(maxElements, 2);
  EXPECT_EQ(maxApplications, 0);
  EXPECT_EQ(brokenInvariants, 0);
  EXPECT_EQ(sim::desktop().observersReleasedWhileAttached, 0);
  EXPECT_GT(events, 100000u);
  EXPECT_GT(lines.size(), 10000u);
  resetWatcherState();
  EXPECT_EQ(sim::liveTotal(), 0);
}

}  // namespace
}  // namespace focusctl::test
