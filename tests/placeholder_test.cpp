// The rule that reports a text-entry element's value as its placeholder when
// the value merely repeats the title or the description.
#include <gtest/gtest.h>

#include "ax/placeholder.h"

namespace focusctl {
namespace {

struct Case {
  const char* why;
  std::string role, title, description, value, placeholder;
  std::string expected;
};

const std::string nbsp = "\xC2\xA0";
const std::string eAcute = "\xC3\xA9";         // é as one code point
const std::string eCombining = "e\xCC\x81";   // e + combining acute

const std::vector<Case> cases = {
    {"own placeholder wins", "AXTextField", "Email", "Email", "Email", "Type here", "Type here"},
    {"own placeholder kept even for other roles", "AXButton", "", "", "", "x", "x"},
    {"title equals value", "AXTextField", "Email", "", "Email", "", "Email"},
    {"untrimmed title reported", "AXTextField", " Email\n", "", "Email", "", " Email\n"},
    {"value trimmed too", "AXTextField", "Email", "", "\tEmail  ", "", "Email"},
    {"title beats description", "AXTextField", "Email ", " Email", "Email", "", "Email "},
    {"empty title, description matches", "AXTextField", "", "Email", "Email", "", "Email"},
    {"description reported untrimmed", "AXTextArea", "Other", "  Email\t", "Email", "", "  Email\t"},
    {"neither matches", "AXTextField", "Name", "Your name", "Email", "", ""},
    {"case differs", "AXTextField", "email", "EMAIL", "Email", "", ""},
    {"composed title, decomposed value", "AXTextField", "Caf" + eAcute, "", "Caf" + eCombining, "", "Caf" + eAcute},
    {"decomposed description, composed value", "AXComboBox", "", "Caf" + eCombining, "Caf" + eAcute, "", "Caf" + eCombining},
    {"no-break space trimmed", "AXTextField", nbsp + "Email" + nbsp, "", "Email", "", nbsp + "Email" + nbsp},
    {"ideographic space and NEL trimmed", "AXTextField", "\xE3\x80\x80" "Email\xC2\x85", "", "Email", "", "\xE3\x80\x80" "Email\xC2\x85"},
    {"zero-width space is not white space", "AXTextField", "\xE2\x80\x8B" "Email", "", "Email", "", ""},
    {"inner spaces count", "AXTextField", "E mail", "", "Email", "", ""},
    {"all four roles: area", "AXTextArea", "Email", "", "Email", "", "Email"},
    {"all four roles: search", "AXSearchField", "Email", "", "Email", "", "Email"},
    {"all four roles: combo", "AXComboBox", "Email", "", "Email", "", "Email"},
    {"other role", "AXStaticText", "Email", "Email", "Email", "", ""},
    {"empty role", "", "Email", "Email", "Email", "", ""},
    {"role with trailing space", "AXTextField ", "Email", "", "Email", "", ""},
    {"role in other case", "axtextfield", "Email", "", "Email", "", ""},
    {"role with leading space", " AXTextField", "Email", "", "Email", "", ""},
    {"empty value", "AXTextField", "", "", "", "", ""},
    {"empty value, matching nothing", "AXTextField", "Email", "Email", "", "", ""},
    {"white-space value, empty title: description examined", "AXTextField", "", "  ", " \t", "", "  "},
    {"white-space value, empty title and description", "AXTextField", "", "", "  ", "", ""},
    {"white-space value, empty title, other description", "AXTextField", "", "Email", "  ", "", ""},
    {"white-space value, title of one space", "AXTextField", " ", "\t\t", "\n", "", " "},
    {"title and value both only white space", "AXSearchField", "\n", "x", " ", "", "\n"},
};

TEST(InferPlaceholder, Rules) {
  for (const Case& c : cases) {
    EXPECT_EQ(inferPlaceholder(c.role, c.title, c.description, c.value,
                               c.placeholder),
              c.expected)
        << c.why;
  }
}

}  // namespace
}  // namespace focusctl
