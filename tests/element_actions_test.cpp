// `set` and `press`: one platform call each, the result code passed through.
#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

const json invalidText = {{"ok", false}, {"reason", "invalid-text"}};

class ElementActionsTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    field = mailWithField();
  }
  sim::ElementId field = 0;
};

TEST_F(ElementActionsTest, SetWritesTheDecodedTextExactly) {
  struct Case {
    std::string argument;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"aGk=", "hi"},
      {"", ""},
      {"IGEJYg0KYyA=", " a\tb\r\nc "},
      {"77u/YQ==", "\xEF\xBB\xBF" "a"},
      {"AA==", std::string(1, '\0')},
      {"w6k=", "\xC3\xA9"},
  };
  for (const Case& c : cases) {
    sim::desktop().writes.clear();
    EXPECT_EQ(run({"set", c.argument, "ignored"}),
              json({{"ok", true}, {"method", "ax"}, {"error", 0}}));
    EXPECT_EQ(sim::desktop().writes,
              std::vector<sim::Write>({{field, "AXValue", c.written}}))
        << c.argument;
  }
  EXPECT_TRUE(sim::desktop().presses.empty());
}

TEST_F(ElementActionsTest, SetRefusesBadArgumentsAndTouchesNothing) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"set"}, {"set", "aGk=\n"}, {"set", "aGk"},
        {"set", "Pz8-"}, {"set", "/w=="}, {"set", "ww=="}, {"set", "aA==aGk="},
        {"set", "aGl="}, {"set", " aGk="}}) {
    EXPECT_EQ(run(args), invalidText) << args.back();
  }
  EXPECT_TRUE(sim::desktop().writes.empty());
  EXPECT_TRUE(sim::desktop().presses.empty());
}

TEST_F(ElementActionsTest, GatesComeBeforeTheArgument) {
  sim::desktop().trusted = false;
  EXPECT_EQ(run({"set"})["reason"], "accessibility-denied");
  EXPECT_EQ(run({"set", "%%%"})["reason"], "accessibility-denied");
  sim::desktop().trusted = true;
  sim::desktop().frontmost.reset();
  sim::element(sim::systemWide).attributes.clear();
  EXPECT_EQ(run({"set", "%%%"})["reason"], "no-focused-element");
  EXPECT_EQ(run({"set"})["reason"], "no-focused-element");
  EXPECT_TRUE(sim::desktop().writes.empty());
}

TEST_F(ElementActionsTest, ResultCodesPassThroughUnchanged) {
  for (sim::ResultCode code :
       {0, -25200, -25201, -25204, -25205, -25211, 1, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(code);
    sim::element(field).setValueResult = code;
    sim::element(field).performActionResult = code;
    EXPECT_EQ(run({"set", "aGk="}),
              json({{"ok", code == 0}, {"method", "ax"}, {"error", code}}));
    EXPECT_EQ(run({"press", "extra"}),
              json({{"ok", code == 0}, {"method", "ax-press"}, {"error", code}}));
  }
  // Nothing is retried.
  EXPECT_EQ(sim::desktop().writes.size(), 9u);
  EXPECT_EQ(sim::desktop().presses.size(), 9u);
}

TEST_F(ElementActionsTest, PressPressesTheFocusedElementOnly) {
  sim::desktop().calls.clear();
  run({"press"});
  EXPECT_EQ(sim::desktop().presses,
            std::vector<sim::Press>({{field, "AXPress"}}));
  EXPECT_EQ(sim::callCount("copyAttributeValue " + std::to_string(field)), 0u);
  EXPECT_TRUE(sim::desktop().writes.empty());
}

}  // namespace
}  // namespace focusctl::test
