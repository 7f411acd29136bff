// The one-shot commands end to end on the simulated desktop: which command
// runs, the trust and focus gates, and the replies of read, set, press,
// activate and frontmost.
#include <cmath>
#include <limits>

#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

const json invalidPid = {{"ok", false}, {"reason", "invalid-pid"}};
const json invalidText = {{"ok", false}, {"reason", "invalid-text"}};
const json noFrontmost = {{"ok", false}, {"reason", "no-frontmost-app"}};
const json setOk = {{"ok", true}, {"method", "ax"}, {"error", 0}};
const json pressOk = {{"ok", true}, {"method", "ax-press"}, {"error", 0}};
const json insertOk = {{"ok", true}, {"method", "ax-insert"}, {"error", 0}};
const json noSelection = {{"ok", false}, {"reason", "no-selection"}};

json activated(sim::Pid pid, bool ok = true) {
  return {{"ok", ok}, {"method", "app-activate"}, {"pid", pid}};
}

json frontmostReply(sim::Pid pid, const char* name, const char* bundle) {
  return {{"ok", true}, {"pid", pid}, {"appName", name}, {"bundleID", bundle}};
}

const json fullSnapshot = {
    {"ok", true}, {"trusted", true}, {"pid", 42}, {"appName", "Mail"},
    {"bundleID", "com.apple.mail"}, {"role", "AXTextField"},
    {"identifier", "to-field"}, {"title", "To:"}, {"position", "{100,200}"},
    {"size", "{300,22}"}, {"description", "recipient"},
    {"subrole", "AXSecureTextField"}, {"domIdentifier", "dom-to"},
    {"text", "bob@example.com"}, {"placeholder", "Address"},
};

// A snapshot of Mail's field with some members changed.
json snapshotWith(const json& changes) {
  json expected = fullSnapshot;
  expected.update(changes);
  return expected;
}

using OneShotTest = SimTest;

void expectUntouched() {
  EXPECT_TRUE(sim::desktop().writes.empty() && sim::desktop().presses.empty() &&
              sim::desktop().activations.empty());
}

enum class Expect { snapshot, set, press, insert, selection, unknown };

TEST_F(OneShotTest, CommandWordsBehindTrustAndFocus) {
  const json denied = {{"ok", false}, {"reason", "accessibility-denied"}, {"trusted", false}};
  const json noFocus = {{"ok", false}, {"reason", "no-focused-element"}, {"trusted", true}};
  const std::vector<std::pair<std::vector<std::string>, Expect>> words = {
      {{}, Expect::snapshot}, {{"read"}, Expect::snapshot},
      {{"read", "extra", "more"}, Expect::snapshot}, {{"set", "aGk="}, Expect::set},
      {{"set", "aGk=", "extra"}, Expect::set}, {{"press"}, Expect::press},
      {{"press", "extra"}, Expect::press}, {{""}, Expect::unknown},
      {{"READ"}, Expect::unknown}, {{"Watch"}, Expect::unknown},
      {{"Press"}, Expect::unknown}, {{" read"}, Expect::unknown},
      {{"read "}, Expect::unknown}, {{"bogus", "read"}, Expect::unknown},
      // The gates come before the argument is looked at.
      {{"set"}, Expect::set}, {{"set", "%%%"}, Expect::set},
      {{"insert", "aGk="}, Expect::insert}, {{"insert"}, Expect::insert},
      {{"selection", "x"}, Expect::selection}, {{"Insert", "aGk="}, Expect::unknown},
  };
  for (const auto& [args, expect] : words) {
    for (const bool trusted : {false, true}) {
      for (const bool focused : {false, true}) {
        SCOPED_TRACE(::testing::PrintToString(args) + (trusted ? " trusted" : "") +
                     (focused ? " focused" : ""));
        sim::reset();
        sim::desktop().trusted = trusted;
        const sim::ElementId field = focused ? mailWithField() : -1;
        const json reply = run(args);
        EXPECT_EQ(sim::callCount("isProcessTrusted"), 1u);
        const bool valid = args.size() > 1 && args[1] == "aGk=";
        std::vector<sim::Write> writes;
        std::vector<sim::Press> presses;
        if (!trusted) {
          EXPECT_EQ(reply, denied);
          EXPECT_EQ(sim::callCount("createSystemWideElement"), 0u);
        } else if (!focused) {
          EXPECT_EQ(reply, noFocus);
        } else if (expect == Expect::snapshot) {
          EXPECT_EQ(reply, fullSnapshot);
        } else if (expect == Expect::set) {
          EXPECT_EQ(reply, valid ? setOk : invalidText);
          if (valid) writes.push_back({field, "AXValue", "hi"});
        } else if (expect == Expect::insert) {
          EXPECT_EQ(reply, valid ? insertOk : invalidText);
          if (valid) writes.push_back({field, "AXSelectedText", "hi"});
        } else if (expect == Expect::selection) {
          EXPECT_EQ(reply, noSelection);  // Mail's field has no caret
        } else if (expect == Expect::press) {
          EXPECT_EQ(reply, pressOk);
          presses.push_back({field, "AXPress"});
        } else {
          EXPECT_EQ(reply, json({{"ok", false}, {"reason", "unknown-command"}}));
        }
        EXPECT_EQ(sim::desktop().writes, writes);
        EXPECT_EQ(sim::desktop().presses, presses);
        EXPECT_TRUE(sim::desktop().activations.empty());
      }
    }
  }
}

TEST_F(OneShotTest, ReadReportsEachAttributeOfItsOwnKind) {
  const sim::ElementId field = mailWithField();
  auto& attributes = sim::element(field).attributes;
  // Values of another kind, or delivered with an error, read as "".
  sim::Answer stale = sim::text("stale");
  stale.code = sim::code::cannotComplete;
  attributes["AXValue"] = sim::otherKind();
  attributes["AXTitle"] = sim::point(1, 2);
  attributes["AXPosition"] = sim::size(1, 2);
  attributes["AXSize"] = sim::point(1, 2);
  attributes["AXRole"] = sim::link(field);
  attributes["AXSubrole"] = sim::failure(sim::code::noValue);
  attributes["AXIdentifier"] = stale;
  attributes["AXDescription"] = sim::noValue();
  attributes["AXDOMIdentifier"] = sim::Answer{sim::code::failure, sim::ElementLink{field}};
  EXPECT_EQ(run({"read"}),
            snapshotWith({{"text", ""}, {"title", ""}, {"position", ""}, {"size", ""},
                          {"role", ""}, {"subrole", ""}, {"identifier", ""},
                          {"description", ""}, {"domIdentifier", ""}}));
}

TEST_F(OneShotTest, ReadGeometryAndPlaceholder) {
  auto& attributes = sim::element(mailWithField()).attributes;
  // Geometry that has no whole number reads as "". The placeholder rule
  // decides the placeholder; text stays the value.
  attributes["AXPosition"] = sim::point(std::numeric_limits<double>::quiet_NaN(), 1);
  attributes["AXSize"] = sim::size(1, INFINITY);
  attributes.erase("AXPlaceholderValue");
  attributes["AXTitle"] = sim::text(" Email\n");
  attributes["AXValue"] = sim::text("Email");
  EXPECT_EQ(run({"read"}),
            snapshotWith({{"placeholder", " Email\n"}, {"title", " Email\n"}, {"text", "Email"},
                          {"position", ""}, {"size", ""}}));
}

TEST_F(OneShotTest, ReadLooksUpTheApplicationTwiceIndependently) {
  mailWithField();
  for (const auto& [lookups, name, bundle] :
       std::vector<std::tuple<std::deque<bool>, const char*, const char*>>{
           {{true, false}, "Mail", ""}, {{false, true}, "", "com.apple.mail"},
           {{false, false}, "", ""}}) {
    sim::desktop().calls.clear();
    sim::desktop().runningApplicationScript = lookups;
    EXPECT_EQ(run({"read"}), snapshotWith({{"appName", name}, {"bundleID", bundle}}));
    EXPECT_EQ(sim::callCount("runningApplication"), 2u);
  }
  sim::app(mailPid).name.reset();
  sim::app(mailPid).bundleId.reset();
  EXPECT_EQ(run({"read"}), snapshotWith({{"appName", ""}, {"bundleID", ""}}));
}

TEST_F(OneShotTest, SetAndInsertWriteTheDecodedTextExactlyOnce) {
  const sim::ElementId field = mailWithField();
  for (const auto& [argument, written] : std::vector<std::pair<std::string, std::string>>{
           {"aGk=", "hi"}, {"", ""}, {"IGEJYg0KYyA=", " a\tb\r\nc "},
           {"77u/YQ==", "\xEF\xBB\xBF" "a"}, {"AA==", std::string(1, '\0')}}) {
    sim::desktop().writes.clear();
    EXPECT_EQ(run({"set", argument, "ignored"}), setOk);
    EXPECT_EQ(run({"insert", argument, "ignored"}), insertOk);
    EXPECT_EQ(sim::desktop().writes, std::vector<sim::Write>({{field, "AXValue", written},
                                                              {field, "AXSelectedText", written}}));
  }
  sim::desktop().writes.clear();
  for (const char* bad : {"aGk=\n", "aGk", "Pz8-", "/w==", "aGl=", " aGk="}) {
    EXPECT_EQ(run({"set", bad}), invalidText) << bad;
    EXPECT_EQ(run({"insert", bad}), invalidText) << bad;
  }
  expectUntouched();
}

TEST_F(OneShotTest, SetAndPressPassTheResultCodeThrough) {
  const sim::ElementId field = mailWithField();
  sim::desktop().calls.clear();
  for (const sim::ResultCode code : {0, -25200, -25205, -25211, 1, INT32_MIN, INT32_MAX}) {
    sim::element(field).setValueResult = code;
    sim::element(field).performActionResult = code;
    EXPECT_EQ(run({"set", "aGk="}), json({{"ok", code == 0}, {"method", "ax"}, {"error", code}}));
    EXPECT_EQ(run({"press"}), json({{"ok", code == 0}, {"method", "ax-press"}, {"error", code}}));
    EXPECT_EQ(run({"insert", "aGk="}),
              json({{"ok", code == 0}, {"method", "ax-insert"}, {"error", code}}));
  }
  // Nothing is retried, and press and insert read nothing of the element.
  EXPECT_EQ(sim::desktop().writes.size(), 14u);
  EXPECT_EQ(sim::desktop().presses, std::vector<sim::Press>(7, {field, "AXPress"}));
  EXPECT_EQ(sim::callCount("copyAttributeValue " + std::to_string(field)), 0u);
}

TEST_F(OneShotTest, SelectionInUtf16UnitsAndNeverAPassword) {
  const sim::ElementId field = mailWithField();
  auto& attributes = sim::element(field).attributes;
  const std::string beyondBmp = "\xF0\x9F\x98\x80\xF0\xA0\x80\x80";  // U+1F600 U+20000
  constexpr std::int64_t most = INT32_MAX;
  struct Case {
    sim::Answer range;
    const char* subrole;
    sim::Answer selected;
    json reply;
    bool textAsked;
  };
  const auto selected = [](const char* text, int start, int length) {
    return json({{"ok", true}, {"text", text}, {"start", start}, {"length", length}});
  };
  const std::vector<Case> cases = {
      {sim::range(2, 4), "", sim::text(beyondBmp), selected(beyondBmp.c_str(), 2, 4), true},
      // The caret: an empty selection, whose text is not asked for.
      {sim::range(7, 0), "", sim::text("x"), selected("", 7, 0), false},
      {sim::range(0, 3), "AXSecureTextField", sim::text("pw!"), selected("", 0, 3), false},
      // An unreadable text is "", the range stands.
      {sim::range(1, 1), "", sim::failure(sim::code::cannotComplete), selected("", 1, 1), true},
      {sim::range(most, 0), "", sim::noValue(), selected("", INT32_MAX, 0), false},
      {sim::range(most, 1), "", sim::text("x"), noSelection, false},
      {sim::range(-1, 0), "", sim::text(""), noSelection, false},
      {sim::range(0, -1), "", sim::text(""), noSelection, false},
      {sim::range(most + 1, 0), "", sim::text(""), noSelection, false},
      {sim::failure(sim::code::noValue), "", sim::text("x"), noSelection, false},
      {sim::failure(sim::code::attributeUnsupported), "", sim::text("x"), noSelection, false},
      {sim::Answer{sim::code::cannotComplete, platform::Range{1, 1}}, "", sim::text("x"),
       noSelection, false},
      {sim::point(1, 1), "", sim::text("x"), noSelection, false},
  };
  for (const Case& c : cases) {
    attributes["AXSelectedTextRange"] = c.range;
    attributes["AXSubrole"] = sim::text(c.subrole);
    attributes["AXSelectedText"] = c.selected;
    sim::desktop().calls.clear();
    EXPECT_EQ(run({"selection"}), c.reply);
    EXPECT_EQ(sim::callCount("copyAttributeValue " + std::to_string(field) + " AXSelectedText"),
              c.textAsked ? 1u : 0u) << c.reply;
  }
  expectUntouched();
}

TEST_F(OneShotTest, ActivateAsksForTheParsedPidWithoutTrust) {
  mailWithField();
  sim::desktop().trusted = false;
  sim::addApp(INT32_MAX);
  sim::addApp(INT32_MIN);
  sim::addApp(0).acceptsActivation = false;
  // The reply names the pid asked for, not what the application reports.
  sim::app(INT32_MAX).reportsPid = 5;
  const std::vector<std::pair<std::string, json>> cases = {
      {"+0042", activated(42)}, {"2147483647", activated(INT32_MAX)},
      {"-2147483648", activated(INT32_MIN)},
      {"-0", activated(0, false)},  // declined: no reason
      {"43", invalidPid},           // not running
  };
  for (const auto& [argument, reply] : cases) {
    EXPECT_EQ(run({"activate", argument, "99"}), reply) << argument;
  }
  EXPECT_EQ(sim::desktop().activations,
            std::vector<sim::Activation>({{42, 2}, {INT32_MAX, 2}, {INT32_MIN, 2}, {0, 2}}));
  EXPECT_EQ(sim::callCount("isProcessTrusted"), 0u);
  EXPECT_EQ(sim::callCount("createSystemWideElement"), 0u);
  // Refused before the platform is asked anything.
  sim::desktop().calls.clear();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"activate"}, {"activate", ""}, {"activate", "+"},
        {"activate", "0x2A"}, {"activate", " 42"}, {"activate", "2147483648"}}) {
    EXPECT_EQ(run(args), invalidPid) << args.back();
  }
  EXPECT_TRUE(sim::desktop().calls.empty());
  EXPECT_EQ(sim::desktop().activations.size(), 4u);
}

TEST_F(OneShotTest, FrontmostNamesTheApplicationOwningTheFocus) {
  mailWithField();
  sim::desktop().trusted = false;  // no gate: the queries alone decide
  EXPECT_EQ(run({"frontmost"}), frontmostReply(mailPid, "Mail", "com.apple.mail"));
  sim::addApp(77, "Notes", "com.apple.Notes");
  sim::focus(sim::addElement(77));  // the focus is in Notes, Mail in front
  EXPECT_EQ(run({"frontmost"}), frontmostReply(77, "Notes", "com.apple.Notes"));
  // The pid is the application's own answer.
  sim::app(77).reportsPid = 78;
  sim::app(77).name.reset();
  sim::app(77).bundleId.reset();
  EXPECT_EQ(run({"frontmost"}), frontmostReply(78, "", ""));
  EXPECT_EQ(sim::callCount("isProcessTrusted"), 0u);

  // The focused process is no running application.
  sim::desktop().runningApplicationScript = {false};
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
  sim::focus(sim::addElement(79));
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
  // No focused element on either path (as when trust is missing).
  sim::element(sim::systemWide).attributes["AXFocusedUIElement"] =
      sim::failure(sim::code::apiDisabled);
  sim::element(sim::app(mailPid).element).attributes["AXFocusedUIElement"] =
      sim::failure(sim::code::apiDisabled);
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
  sim::desktop().frontmost.reset();
  EXPECT_EQ(run({"frontmost"}), noFrontmost);
  expectUntouched();
}

}  // namespace
}  // namespace focusctl::test
