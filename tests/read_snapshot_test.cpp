// The fifteen-member snapshot of `read`.
#include <cmath>
#include <limits>

#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

class ReadSnapshotTest : public SimTest {};

const json fullSnapshot = {
    {"ok", true},
    {"trusted", true},
    {"pid", 42},
    {"appName", "Mail"},
    {"bundleID", "com.apple.mail"},
    {"role", "AXTextField"},
    {"identifier", "to-field"},
    {"title", "To:"},
    {"position", "{100,200}"},
    {"size", "{300,22}"},
    {"description", "recipient"},
    {"subrole", "AXSecureTextField"},
    {"domIdentifier", "dom-to"},
    {"text", "bob@example.com"},
    {"placeholder", "Address"},
};

TEST_F(ReadSnapshotTest, AllFifteenMembers) {
  mailWithField();
  EXPECT_EQ(run({"read"}), fullSnapshot);
  EXPECT_EQ(run({}), fullSnapshot);
}

TEST_F(ReadSnapshotTest, EveryAttributeMissingLeavesEmptyTexts) {
  const sim::ElementId field = mailWithField();
  sim::element(field).attributes.clear();
  json expected = fullSnapshot;
  for (const char* key :
       {"role", "identifier", "title", "position", "size", "description",
        "subrole", "domIdentifier", "text", "placeholder"}) {
    expected[key] = "";
  }
  EXPECT_EQ(run({"read"}), expected);
}

TEST_F(ReadSnapshotTest, TheTwoApplicationLookupsAreIndependent) {
  mailWithField();
  struct Case {
    std::deque<bool> lookups;
    const char* appName;
    const char* bundleID;
  };
  for (const Case& c : {Case{{true, false}, "Mail", ""},
                        Case{{false, true}, "", "com.apple.mail"},
                        Case{{false, false}, "", ""}}) {
    sim::desktop().calls.clear();
    sim::desktop().runningApplicationScript = c.lookups;
    const json reply = run({"read"});
    EXPECT_EQ(reply["appName"], c.appName);
    EXPECT_EQ(reply["bundleID"], c.bundleID);
    EXPECT_EQ(reply["ok"], true);
    EXPECT_EQ(reply["text"], "bob@example.com");
    EXPECT_EQ(sim::callCount("runningApplication"), 2u);
  }
}

TEST_F(ReadSnapshotTest, ApplicationWithoutNameOrBundle) {
  mailWithField();
  sim::app(mailPid).name.reset();
  sim::app(mailPid).bundleId.reset();
  const json reply = run({"read"});
  EXPECT_EQ(reply["appName"], "");
  EXPECT_EQ(reply["bundleID"], "");
  EXPECT_EQ(reply["pid"], mailPid);
}

TEST_F(ReadSnapshotTest, NoRunningApplicationForTheFocusedPid) {
  // The focus belongs to process 77, which is not an application.
  mailWithField();
  const sim::ElementId stray = sim::addElement(77);
  sim::element(stray).attributes["AXValue"] = sim::text("x");
  sim::focus(stray);
  json expected = {{"ok", true},       {"trusted", true}, {"pid", 77},
                   {"appName", ""},    {"bundleID", ""},  {"role", ""},
                   {"identifier", ""}, {"title", ""},     {"position", ""},
                   {"size", ""},       {"description", ""}, {"subrole", ""},
                   {"domIdentifier", ""}, {"text", "x"}, {"placeholder", ""}};
  EXPECT_EQ(run({"read"}), expected);
}

TEST_F(ReadSnapshotTest, ValuesOfOtherKinds) {
  const sim::ElementId field = mailWithField();
  auto& attributes = sim::element(field).attributes;
  attributes["AXValue"] = sim::otherKind();  // a number
  attributes["AXTitle"] = sim::point(1, 2);
  attributes["AXPosition"] = sim::size(1, 2);
  attributes["AXSize"] = sim::point(1, 2);
  attributes["AXRole"] = sim::link(field);
  attributes["AXSubrole"] = sim::failure(sim::code::noValue);
  const json reply = run({"read"});
  for (const char* key : {"text", "title", "position", "size", "role",
                          "subrole"}) {
    EXPECT_EQ(reply[key], "") << key;
  }
  EXPECT_EQ(reply["placeholder"], "Address");
  attributes.erase("AXPlaceholderValue");
  EXPECT_EQ(run({"read"})["placeholder"], "");
}

TEST_F(ReadSnapshotTest, Geometry) {
  const sim::ElementId field = mailWithField();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double x, y;
    const char* text;
  };
  for (const Case& c : {Case{12.7, -3.2, "{12,-3}"}, Case{-0.5, 0.0, "{0,0}"},
                        Case{0, 0, "{0,0}"}, Case{800, 600, "{800,600}"},
                        Case{nan, 1, ""}, Case{1, inf, ""}, Case{-1e19, 0, ""},
                        Case{9.3e18, 0, ""}}) {
    sim::element(field).attributes["AXPosition"] = sim::point(c.x, c.y);
    sim::element(field).attributes["AXSize"] = sim::size(c.x, c.y);
    const json reply = run({"read"});
    EXPECT_EQ(reply["position"], c.text) << c.x << "," << c.y;
    EXPECT_EQ(reply["size"], c.text) << c.x << "," << c.y;
  }
}

TEST_F(ReadSnapshotTest, PlaceholderRuleAppliesButTextStaysTheValue) {
  const sim::ElementId field = mailWithField();
  auto& attributes = sim::element(field).attributes;
  attributes.erase("AXPlaceholderValue");
  attributes["AXTitle"] = sim::text(" Email\n");
  attributes["AXValue"] = sim::text("Email");
  json reply = run({"read"});
  EXPECT_EQ(reply["placeholder"], " Email\n");
  EXPECT_EQ(reply["title"], " Email\n");
  EXPECT_EQ(reply["text"], "Email");

  attributes["AXRole"] = sim::text("AXTextField ");
  EXPECT_EQ(run({"read"})["placeholder"], "");
}

TEST_F(ReadSnapshotTest, EveryAttributeReadOnceWithoutWriting) {
  const sim::ElementId field = mailWithField();
  sim::desktop().calls.clear();
  run({"read"});
  for (const char* attribute :
       {"AXRole", "AXTitle", "AXDescription", "AXValue", "AXPlaceholderValue",
        "AXIdentifier", "AXPosition", "AXSize", "AXSubrole",
        "AXDOMIdentifier"}) {
    const std::string call =
        "copyAttributeValue " + std::to_string(field) + " " + attribute;
    EXPECT_EQ(std::count(sim::desktop().calls.begin(),
                         sim::desktop().calls.end(), call),
              1)
        << call;
  }
  EXPECT_TRUE(sim::desktop().writes.empty());
  EXPECT_TRUE(sim::desktop().presses.empty());
  EXPECT_TRUE(sim::desktop().activations.empty());
}

}  // namespace
}  // namespace focusctl::test
