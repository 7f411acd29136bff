// Finding the focused element: the system-wide element first, then the
// frontmost application.
#include "ax/focused_element.h"
#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

auto& system() { return sim::element(sim::systemWide).attributes; }

class FocusedElementTest : public SimTest {
 protected:
  // Mail (42) is frontmost and its application element reports `inApp`;
  // the system-wide element reports `viaSystem`, owned by process 77.
  void SetUp() override {
    SimTest::SetUp();
    sim::addApp(mailPid, "Mail");
    sim::addApp(77, "Notes");
    sim::desktop().frontmost = mailPid;
    inApp = sim::addElement(999);  // its own pid is never asked
    viaSystem = sim::addElement(77);
    appFocus() = sim::link(inApp);
    system()["AXFocusedUIElement"] = sim::link(viaSystem);
  }

  sim::Answer& appFocus() {
    return sim::element(sim::app(mailPid).element).attributes["AXFocusedUIElement"];
  }

  // What focusedElement found, as (element id, pid), or (-1, -1); only the
  // element found is still held.
  std::pair<sim::ElementId, sim::Pid> lookUp() {
    sim::desktop().calls.clear();
    std::optional<FocusedElement> found = focusedElement();
    EXPECT_EQ(sim::liveTotal(), found ? 1 : 0);
    if (!found) return {-1, -1};
    return {sim::idOf(found->element.get()), found->pid};
  }

  sim::ElementId inApp = 0;
  sim::ElementId viaSystem = 0;
};

TEST_F(FocusedElementTest, SystemWideAnswerIsTakenWithItsOwnPid) {
  EXPECT_EQ(lookUp(), std::make_pair(viaSystem, 77));
  EXPECT_EQ(sim::callCount("frontmostApplication"), 0u);
}

TEST_F(FocusedElementTest, FallbackWhenTheSystemWideAnswerIsUnusable) {
  sim::Answer withError = sim::link(viaSystem);
  withError.code = sim::code::cannotComplete;
  const std::vector<std::pair<sim::Answer, platform::ElementPid>> cases = {
      {sim::failure(-25204), {0, 77}}, {withError, {0, 77}},
      {sim::noValue(), {0, 77}}, {sim::text("x"), {0, 77}},
      {sim::link(viaSystem), {0, 0}}, {sim::link(viaSystem), {0, INT32_MIN}},
      {sim::link(viaSystem), {-25202, 77}},
  };
  for (const auto& [answer, pid] : cases) {
    SCOPED_TRACE(pid.pid);
    system()["AXFocusedUIElement"] = answer;
    sim::element(viaSystem).pid = pid;
    // The application's pid, never the one of the element it reports.
    EXPECT_EQ(lookUp(), std::make_pair(inApp, mailPid));
    EXPECT_EQ(sim::callCount("elementPid " + std::to_string(inApp)), 0u);
    EXPECT_EQ(sim::callCount("createApplicationElement 42"), 1u);
  }
  system().erase("AXFocusedUIElement");
  EXPECT_EQ(lookUp(), std::make_pair(inApp, mailPid));
}

TEST_F(FocusedElementTest, AbsentWhenTheFallbackFindsNothing) {
  system()["AXFocusedUIElement"] = sim::failure(sim::code::apiDisabled);
  for (const sim::Answer& answer :
       {sim::failure(sim::code::apiDisabled), sim::noValue(),
        sim::Answer{sim::code::failure, sim::ElementLink{inApp}}}) {
    appFocus() = answer;
    EXPECT_EQ(lookUp(), std::make_pair(-1, -1));
  }
  appFocus() = sim::link(inApp);
  sim::desktop().frontmost.reset();
  EXPECT_EQ(lookUp(), std::make_pair(-1, -1));
}

}  // namespace
}  // namespace focusctl::test
