// `activate` with its strict process-id parsing, and `frontmost`.
#include "app/application_commands.h"
#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

const json invalidPid = {{"ok", false}, {"reason", "invalid-pid"}};
const json noFrontmost = {{"ok", false}, {"reason", "no-frontmost-app"}};

TEST(ParseProcessId, Accepted) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"42", 42},         {"+42", 42},       {"0042", 42},
      {"+0042", 42},      {"-0", 0},         {"0", 0},
      {"+0", 0},          {"-7", -7},        {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},            {"0000000000002147483647", INT32_MAX},
      {"-000000000002147483648", INT32_MIN},
  };
  for (const auto& [text, pid] : cases) {
    EXPECT_EQ(parseProcessId(text), std::optional<std::int32_t>(pid)) << text;
  }
}

TEST(ParseProcessId, Refused) {
  for (const char* text :
       {"", "+", "-", "42a", "4_2", "0x2A", "4.2", "42.", "--42", "+-42", "-+42",
        " 42", "4 2", "42 ", "\t42", "42\n", "2147483648", "-2147483649",
        "99999999999", "-99999999999", "21474836470", "\xD9\xA4\xD9\xA2",
        "\xEF\xBC\x94\xEF\xBC\x92", "42-", "1e3", "a"}) {
    EXPECT_EQ(parseProcessId(text), std::nullopt) << text;
  }
  EXPECT_EQ(parseProcessId(std::string_view("42\0", 3)), std::nullopt);
}

class ActivateTest : public SimTest {};

TEST_F(ActivateTest, RefusedWithoutAskingThePlatform) {
  sim::addApp(42);
  for (std::vector<std::string> args :
       {std::vector<std::string>{"activate"}, {"activate", ""},
        {"activate", "+"}, {"activate", "0x2A"}, {"activate", " 42"},
        {"activate", "2147483648"}, {"activate", "-2147483649"}}) {
    sim::desktop().calls.clear();
    EXPECT_EQ(run(args), invalidPid) << args.back();
    EXPECT_TRUE(sim::desktop().calls.empty()) << args.back();
  }
}

TEST_F(ActivateTest, AsksForTheParsedPid) {
  sim::addApp(42);
  sim::addApp(INT32_MAX);
  sim::addApp(INT32_MIN);
  sim::addApp(0);
  sim::app(0).acceptsActivation = false;
  struct Case {
    std::string argument;
    json reply;
  };
  const std::vector<Case> cases = {
      {"+0042", {{"ok", true}, {"method", "app-activate"}, {"pid", 42}}},
      {"2147483647", {{"ok", true}, {"method", "app-activate"}, {"pid", INT32_MAX}}},
      {"-2147483648", {{"ok", true}, {"method", "app-activate"}, {"pid", INT32_MIN}}},
      // Declined: not a refusal, no reason.
      {"-0", {{"ok", false}, {"method", "app-activate"}, {"pid", 0}}},
      {"43", invalidPid},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(run({"activate", c.argument, "99"}), c.reply) << c.argument;
  }
  EXPECT_EQ(sim::desktop().activations,
            std::vector<sim::Activation>({{42, 2}, {INT32_MAX, 2}, {INT32_MIN, 2}, {0, 2}}));
  EXPECT_EQ(sim::callCount("isProcessTrusted"), 0u);
  EXPECT_EQ(sim::callCount("createSystemWideElement"), 0u);
}

TEST_F(ActivateTest, ActivationDoesNotMoveTheFocusLookup) {
  mailWithField();
  sim::addApp(43);
  run({"activate", "43"});
  // Nothing waits for the activation, so the reply is all that happened.
  EXPECT_EQ(sim::desktop().frontmost, mailPid);
}

class FrontmostTest : public SimTest {};

TEST_F(FrontmostTest, NamesTheApplicationOwningTheFocus) {
  mailWithField();
  sim::addApp(77, "Notes", "com.apple.Notes");
  const sim::ElementId note = sim::addElement(77);
  sim::focus(note);  // the focus is in Notes although Mail is in front
  EXPECT_EQ(run({"frontmost"}), json({{"ok", true},
                                      {"pid", 77},
                                      {"appName", "Notes"},
                                      {"bundleID", "com.apple.Notes"}}));
  // The pid is the application's own answer, not the one of the lookup.
  sim::app(77).reportsPid = 78;
  EXPECT_EQ(run({"frontmost"})["pid"], 78);
  sim::app(77).name.reset();
  sim::app(77).bundleId.reset();
  EXPECT_EQ(run({"frontmost"}),
            json({{"ok", true}, {"pid", 78}, {"appName", ""}, {"bundleID", ""}}));
}

TEST_F(FrontmostTest, Refusals) {
  mailWithField();
  // The focused element's process is no running application.
  sim::desktop().runningApplicationScript = {false};
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
  const sim::ElementId stray = sim::addElement(77);
  sim::focus(stray);
  EXPECT_EQ(run({"frontmost"}), noFrontmost);

  // Neither lookup path finds a focused element.
  sim::element(sim::systemWide).attributes.clear();
  sim::element(sim::app(mailPid).element).attributes.clear();
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
  sim::desktop().frontmost.reset();
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
}

TEST_F(FrontmostTest, WithoutTrustTheAnswerDependsOnlyOnTheQueries) {
  mailWithField();
  sim::desktop().trusted = false;
  EXPECT_EQ(run({"frontmost"})["ok"], true);
  // An untrusted process has its accessibility queries refused.
  sim::element(sim::systemWide).attributes["AXFocusedUIElement"] =
      sim::failure(sim::code::apiDisabled);
  sim::element(sim::app(mailPid).element).attributes["AXFocusedUIElement"] =
      sim::failure(sim::code::apiDisabled);
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
  EXPECT_EQ(sim::callCount("isProcessTrusted"), 0u);
}

}  // namespace
}  // namespace focusctl::test
