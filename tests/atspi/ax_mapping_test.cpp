// The AX vocabulary a controller sees on Linux: the documented role and
// subrole table with password and search recognition, the choice of the press
// action, which D-Bus errors mean that an element has gone, and the offsets
// toolkits count in.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/atspi/accessible/text_offsets.h"

namespace focusctl::platform::atspi {
namespace {

struct RoleCase {
  RoleFacts facts;
  std::string_view role;
  std::string_view subrole;
};

RoleFacts facts(AtspiRole role, bool multiLine = false, bool editable = false,
                std::string_view inputType = {}, std::string_view xmlRoles = {}) {
  return RoleFacts{role, multiLine, editable, inputType, xmlRoles};
}

TEST(AxMapping, RolesAndSubrolesFollowTheDocumentedTable) {
  const std::vector<RoleCase> cases = {
      {facts(ATSPI_ROLE_TEXT), "AXTextField", ""},
      {facts(ATSPI_ROLE_ENTRY), "AXTextField", ""},
      {facts(ATSPI_ROLE_TEXT, true), "AXTextArea", ""},
      {facts(ATSPI_ROLE_PASSWORD_TEXT), "AXTextField", "AXSecureTextField"},
      {facts(ATSPI_ROLE_COMBO_BOX, false, true), "AXComboBox", ""},
      {facts(ATSPI_ROLE_COMBO_BOX), "AXPopUpButton", ""},
      {facts(ATSPI_ROLE_PUSH_BUTTON), "AXButton", ""},
      {facts(ATSPI_ROLE_TOGGLE_BUTTON), "AXCheckBox", "AXToggle"},
      {facts(ATSPI_ROLE_CHECK_BOX), "AXCheckBox", ""},
      {facts(ATSPI_ROLE_RADIO_BUTTON), "AXRadioButton", ""},
      {facts(ATSPI_ROLE_PAGE_TAB), "AXRadioButton", "AXTabButton"},
      {facts(ATSPI_ROLE_LABEL), "AXStaticText", ""},
      {facts(ATSPI_ROLE_LINK), "AXLink", ""},
      {facts(ATSPI_ROLE_SLIDER), "AXSlider", ""},
      {facts(ATSPI_ROLE_SPIN_BUTTON), "AXIncrementor", ""},
      {facts(ATSPI_ROLE_TABLE_CELL), "AXCell", ""},
      {facts(ATSPI_ROLE_TREE_ITEM), "AXRow", "AXOutlineRow"},
      {facts(ATSPI_ROLE_DOCUMENT_WEB), "AXWebArea", ""},
      {facts(ATSPI_ROLE_FRAME), "AXWindow", "AXStandardWindow"},
      {facts(ATSPI_ROLE_WINDOW), "AXWindow", ""},
      {facts(ATSPI_ROLE_DIALOG), "AXWindow", "AXDialog"},
      {facts(ATSPI_ROLE_MENU_ITEM), "AXMenuItem", ""},
      {facts(ATSPI_ROLE_TERMINAL), "AXTextArea", ""},
      {facts(ATSPI_ROLE_APPLICATION), "AXApplication", ""},
      {facts(ATSPI_ROLE_PANEL), "AXGroup", ""},
      // A contenteditable region, as browsers on macOS report it.
      {facts(ATSPI_ROLE_SECTION, false, true), "AXTextArea", ""},
      {facts(ATSPI_ROLE_DOCUMENT_WEB, false, true), "AXWebArea", ""},
      {facts(ATSPI_ROLE_UNKNOWN), "AXUnknown", ""},
      // A role from a newer AT-SPI than this table knows.
      {facts(static_cast<AtspiRole>(ATSPI_ROLE_LAST_DEFINED + 7)), "AXGroup", ""},
      // Browsers give a password input the plain entry role; only text
      // entries hold a password.
      {facts(ATSPI_ROLE_ENTRY, false, true, "PassWord"), "AXTextField", "AXSecureTextField"},
      {facts(ATSPI_ROLE_TEXT, false, true, "PassWord"), "AXTextField", "AXSecureTextField"},
      {facts(ATSPI_ROLE_ENTRY, false, true, "email"), "AXTextField", ""},
      {facts(ATSPI_ROLE_LABEL, false, false, "password"), "AXStaticText", ""},
      // A search field by its input type or its ARIA role, a token matching whole.
      {facts(ATSPI_ROLE_ENTRY, false, true, "search"), "AXTextField", "AXSearchField"},
      {facts(ATSPI_ROLE_TEXT, false, true, "Search"), "AXTextField", "AXSearchField"},
      {facts(ATSPI_ROLE_ENTRY, false, true, {}, "searchbox"), "AXTextField", "AXSearchField"},
      {facts(ATSPI_ROLE_ENTRY, false, true, {}, "combobox  searchbox"), "AXTextField",
       "AXSearchField"},
      {facts(ATSPI_ROLE_ENTRY, false, true, {}, "searchboxes"), "AXTextField", ""},
      // A multi-line area is no search field, and a password stays secure.
      {facts(ATSPI_ROLE_ENTRY, true, true, "search"), "AXTextArea", ""},
      {facts(ATSPI_ROLE_PASSWORD_TEXT, false, true, "search"), "AXTextField", "AXSecureTextField"},
      {facts(ATSPI_ROLE_LINK, false, false, "search", "searchbox"), "AXLink", ""},
  };
  for (const RoleCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "AT-SPI role " << c.facts.role << " input type "
                                    << c.facts.textInputType << " xml-roles " << c.facts.xmlRoles);
    EXPECT_EQ(axRole(c.facts), c.role);
    EXPECT_EQ(axSubrole(c.facts), c.subrole);
    // A password's text is never read: it is what the subrole says.
    EXPECT_EQ(isSecureText(c.facts), c.subrole == "AXSecureTextField");
  }
}

TEST(AxMapping, RoleKindsDecideWhatIsAskedAndHowTheValueReads) {
  struct KindCase {
    AtspiRole role;
    bool states, attributes, window, nonText;
  };
  for (const KindCase& c : std::vector<KindCase>{
           {ATSPI_ROLE_TEXT, true, true, false, false},
           {ATSPI_ROLE_PASSWORD_TEXT, false, true, false, false},
           {ATSPI_ROLE_COMBO_BOX, true, false, false, false},
           {ATSPI_ROLE_SECTION, true, false, false, false},
           {ATSPI_ROLE_PUSH_BUTTON, false, false, false, false},
           {ATSPI_ROLE_CHECK_BOX, false, false, false, true},
           {ATSPI_ROLE_RADIO_BUTTON, false, false, false, true},
           {ATSPI_ROLE_FRAME, false, false, true, false},
           {ATSPI_ROLE_DIALOG, false, false, true, false},
           {ATSPI_ROLE_ALERT, false, false, true, false},
           {ATSPI_ROLE_FILE_CHOOSER, true, false, true, false},
           {ATSPI_ROLE_LIST_ITEM, false, false, false, false},
       }) {
    EXPECT_EQ(std::make_tuple(roleNeedsStates(c.role), roleNeedsAttributes(c.role),
                              isWindowRole(c.role), hasNonTextValue(c.role)),
              std::make_tuple(c.states, c.attributes, c.window, c.nonText))
        << c.role;
  }
}

TEST(AxMapping, PressIsOnlyAnActionThatClicksInItsToolkit) {
  using Names = std::vector<std::string>;
  const std::vector<std::pair<Names, std::optional<int>>> cases = {
      {{"activate", "click"}, 1},
      {{"activate", "press", "click"}, 1},
      {{"SetFocus", "Press"}, 1},              // Qt button
      {{"SetFocus", "Toggle"}, 1},             // Qt check box, GTK 4 switch
      {{"ShowMenu", "SetFocus"}, std::nullopt},  // Qt combo box
      {{"expand or contract", "activate"}, 1},  // GTK 3 tree row
      {{"jump"}, 0},                           // browser link
      {{"showContextMenu", "open"}, 1},        // browser select
      {{"showContextMenu", "clickAncestor"}, 1},
      {{"uncheck", "click"}, 1},
      // GTK 4 text view: widget actions only.
      {{"spelling.enabled", "text.undo", "menu.popup"}, std::nullopt},
      {{"", "clicking", "activated"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& [names, expected] : cases) {
    EXPECT_EQ(pressActionIndex(names), expected) << testing::PrintToString(names);
  }
}

TEST(AxMapping, OnlyANameMarkedAsFromThePlaceholderIsOne) {
  EXPECT_TRUE(nameIsPlaceholder("placeholder") && nameIsPlaceholder("Placeholder"));
  EXPECT_FALSE(nameIsPlaceholder("attribute"));  // aria-label, title, label
  EXPECT_FALSE(nameIsPlaceholder(std::nullopt));  // Firefox never says
}

TEST(AxMapping, OnlyErrorsSayingTheObjectOrItsApplicationIsGoneMeanVanished) {
  for (const char* name : {"org.freedesktop.DBus.Error.ServiceUnknown",
                           "org.freedesktop.DBus.Error.NameHasNoOwner",
                           "org.freedesktop.DBus.Error.UnknownObject"}) {
    EXPECT_EQ(livenessFromErrorName(name), Liveness::vanished) << name;
  }
  // A method or interface the element lacks says nothing of the element.
  for (const char* name : {"org.freedesktop.DBus.Error.UnknownInterface",
                           "org.freedesktop.DBus.Error.UnknownMethod",
                           "org.freedesktop.DBus.Error.NoReply",
                           "org.freedesktop.DBus.Error.Timeout",
                           "org.freedesktop.DBus.Error.Disconnected",
                           "org.freedesktop.DBus.Error.AccessDenied",
                           "org.freedesktop.DBus.Error.Failed", ""}) {
    EXPECT_EQ(livenessFromErrorName(name), Liveness::unreachable) << name;
  }
}

// "a", U+1F600, "b", U+20000 (CJK Extension B), "c": 5 code points, 7 UTF-16
// units; Gecko gives it with a U+FEFF after each of the two.
const std::string beyondBmp = "a\xF0\x9F\x98\x80" "b\xF0\xA0\x80\x80" "c";
const std::string padded = "a\xF0\x9F\x98\x80\xEF\xBB\xBF" "b\xF0\xA0\x80\x80\xEF\xBB\xBF" "c";

TEST(TextOffsets, EachToolkitsOffsetsBecomeUtf16Units) {
  struct Case {
    OffsetUnits units;
    std::int64_t offset;
    std::optional<std::pair<std::size_t, std::int64_t>> place;  // byte, UTF-16 unit
  };
  using P = std::pair<std::size_t, std::int64_t>;
  const std::vector<Case> cases = {
      {OffsetUnits::codePoints, 0, P{0, 0}},  {OffsetUnits::codePoints, 2, P{5, 3}},
      {OffsetUnits::codePoints, 4, P{10, 6}}, {OffsetUnits::codePoints, 5, P{11, 7}},
      {OffsetUnits::codePoints, 6, std::nullopt}, {OffsetUnits::codePoints, -1, std::nullopt},
      // Inside a surrogate pair: the character's start.
      {OffsetUnits::utf16, 2, P{1, 1}},       {OffsetUnits::utf16, 3, P{5, 3}},
      {OffsetUnits::utf16, 6, P{10, 6}},      {OffsetUnits::utf16, 7, P{11, 7}},
      {OffsetUnits::utf16, 8, std::nullopt},
      {OffsetUnits::paddedUtf16, 2, P{1, 1}}, {OffsetUnits::paddedUtf16, 3, P{8, 3}},
      {OffsetUnits::paddedUtf16, 4, P{9, 4}}, {OffsetUnits::paddedUtf16, 7, P{17, 7}},
  };
  for (const Case& c : cases) {
    const std::string& text = c.units == OffsetUnits::paddedUtf16 ? padded : beyondBmp;
    const std::optional<TextPlace> place = placeOf(text, c.units, c.offset);
    EXPECT_EQ(place ? std::optional<P>(P{place->byte, place->utf16}) : std::nullopt, c.place)
        << static_cast<int>(c.units) << " " << c.offset;
  }
  EXPECT_EQ(offsetUnitsOf("Qt"), OffsetUnits::utf16);
  EXPECT_EQ(offsetUnitsOf("Gecko"), OffsetUnits::paddedUtf16);
  for (const char* toolkit : {"gtk", "GTK", "Chromium", ""}) {
    EXPECT_EQ(offsetUnitsOf(toolkit), OffsetUnits::codePoints) << toolkit;
  }
}

TEST(TextOffsets, InsertedLengthsAndGeckosPaddingOnly) {
  EXPECT_EQ(lengthIn(beyondBmp, OffsetUnits::codePoints), 5);
  EXPECT_EQ(lengthIn(beyondBmp, OffsetUnits::utf16), 7);
  EXPECT_EQ(lengthIn(beyondBmp, OffsetUnits::paddedUtf16), 7);
  // Qt takes UTF-16 units (more pads the text with NULs), GTK bytes.
  EXPECT_EQ(insertLength(beyondBmp, OffsetUnits::utf16), 7);
  EXPECT_EQ(insertLength(beyondBmp, OffsetUnits::codePoints), 11);
  EXPECT_EQ(visibleText(padded, OffsetUnits::paddedUtf16), beyondBmp);
  EXPECT_EQ(visibleText(padded, OffsetUnits::codePoints), padded);
  // A U+FEFF the user typed, not after such a character, stays.
  const std::string typed = "\xEF\xBB\xBF" "a\xEF\xBB\xBF";
  EXPECT_EQ(visibleText(typed, OffsetUnits::paddedUtf16), typed);
}

}  // namespace
}  // namespace focusctl::platform::atspi
