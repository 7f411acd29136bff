// Which command runs, and the trust and focus gates in front of the element
// commands.
#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

const json deniedReply = {
    {"ok", false}, {"reason", "accessibility-denied"}, {"trusted", false}};
const json noFocusReply = {
    {"ok", false}, {"reason", "no-focused-element"}, {"trusted", true}};
const json unknownReply = {{"ok", false}, {"reason", "unknown-command"}};

enum class Expect { snapshot, setOk, pressOk, unknown };

struct WordCase {
  std::vector<std::string> args;
  Expect expect;
};

const std::vector<WordCase> wordCases = {
    {{}, Expect::snapshot},
    {{"read"}, Expect::snapshot},
    {{"read", "extra", "more"}, Expect::snapshot},
    {{"set", "aGk="}, Expect::setOk},
    {{"set", "aGk=", "extra"}, Expect::setOk},
    {{"press"}, Expect::pressOk},
    {{"press", "extra"}, Expect::pressOk},
    {{""}, Expect::unknown},
    {{"READ"}, Expect::unknown},
    {{"Read"}, Expect::unknown},
    {{"Watch"}, Expect::unknown},
    {{" read"}, Expect::unknown},
    {{"read "}, Expect::unknown},
    {{"bogus", "read"}, Expect::unknown},
};

std::string describe(const std::vector<std::string>& args) {
  std::string text = "focusctl";
  for (const std::string& arg : args) text += " [" + arg + "]";
  return text;
}

class DispatchTest : public SimTest {};

TEST_F(DispatchTest, WordsAcrossTrustAndFocus) {
  for (const WordCase& word : wordCases) {
    for (bool trusted : {false, true}) {
      for (bool focused : {false, true}) {
        SCOPED_TRACE(describe(word.args) + (trusted ? " trusted" : "") +
                     (focused ? " focused" : ""));
        sim::reset();
        sim::desktop().trusted = trusted;
        const sim::ElementId field = focused ? mailWithField() : -1;

        const json reply = run(word.args);

        const bool acted = trusted && focused;
        if (!trusted) {
          EXPECT_EQ(reply, deniedReply);
          // Refused before the focus is looked up.
          EXPECT_EQ(sim::callCount("createSystemWideElement"), 0u);
        } else if (!focused) {
          EXPECT_EQ(reply, noFocusReply);
        } else if (word.expect == Expect::snapshot) {
          EXPECT_EQ(reply["text"], "bob@example.com");
          EXPECT_EQ(keysOf(reply).size(), 15u);
        } else if (word.expect == Expect::setOk) {
          EXPECT_EQ(reply, json({{"ok", true}, {"method", "ax"}, {"error", 0}}));
        } else if (word.expect == Expect::pressOk) {
          EXPECT_EQ(reply,
                    json({{"ok", true}, {"method", "ax-press"}, {"error", 0}}));
        } else {
          EXPECT_EQ(reply, unknownReply);
        }
        EXPECT_EQ(sim::callCount("isProcessTrusted"), 1u);

        const bool wrote = acted && word.expect == Expect::setOk;
        const bool pressed = acted && word.expect == Expect::pressOk;
        std::vector<sim::Write> writes;
        if (wrote) writes.push_back({field, "AXValue", "hi"});
        std::vector<sim::Press> presses;
        if (pressed) presses.push_back({field, "AXPress"});
        EXPECT_EQ(sim::desktop().writes, writes);
        EXPECT_EQ(sim::desktop().presses, presses);
        for (const std::string& error : sim::desktop().errors) {
          ADD_FAILURE() << error;
        }
        EXPECT_EQ(sim::liveTotal(), 0);
      }
    }
  }
}

TEST_F(DispatchTest, ApplicationCommandsAndWatchRunWithoutTrust) {
  mailWithField();
  sim::desktop().trusted = false;

  EXPECT_EQ(run({"frontmost"}), json({{"ok", true},
                                      {"pid", mailPid},
                                      {"appName", "Mail"},
                                      {"bundleID", "com.apple.mail"}}));
  EXPECT_EQ(run({"activate", "42"}),
            json({{"ok", true}, {"method", "app-activate"}, {"pid", 42}}));
  EXPECT_EQ(watch(), std::vector<std::string>{"watching\n"});
  EXPECT_EQ(sim::callCount("isProcessTrusted"), 0u);
}

TEST_F(DispatchTest, RefusalsTouchNothing) {
  mailWithField();
  sim::desktop().trusted = false;
  run({"set", "aGk="});
  run({"press"});
  sim::desktop().trusted = true;
  run({"set"});
  run({"set", "not base64"});
  run({"SET", "aGk="});
  run({"Press"});
  EXPECT_TRUE(sim::desktop().writes.empty());
  EXPECT_TRUE(sim::desktop().presses.empty());
  EXPECT_TRUE(sim::desktop().activations.empty());
}

}  // namespace
}  // namespace focusctl::test
