#include "platform/atspi/accessible/ax_mapping.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace focusctl::platform::atspi {
bool isTextFieldRole(AtspiRole role) {
  return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY ||
         role == ATSPI_ROLE_PASSWORD_TEXT || role == ATSPI_ROLE_EDITBAR;
}

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// "xml-roles" may hold several space-separated ARIA roles.
bool hasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    std::size_t start = list.find_first_not_of(' ');
    if (start == std::string_view::npos) return false;
    list.remove_prefix(start);
    std::size_t end = std::min(list.find(' '), list.size());
    if (equalsIgnoringCase(list.substr(0, end), token)) return true;
    list.remove_prefix(end);
  }
  return false;
}

bool isSearchField(const RoleFacts& facts) {
  if (!isTextFieldRole(facts.role) || facts.role == ATSPI_ROLE_PASSWORD_TEXT ||
      facts.multiLine) {
    return false;
  }
  return equalsIgnoringCase(facts.textInputType, "search") ||
         hasToken(facts.xmlRoles, "searchbox");
}

// The AX role and subrole of each AT-SPI role that no state changes; the
// text entries and combo boxes are decided by their states (axRole).
struct KnownRole {
  AtspiRole role;
  std::string_view name;
  std::string_view subrole = {};
};
constexpr KnownRole knownRoles[] = {
    {ATSPI_ROLE_PASSWORD_TEXT, "AXTextField"},
    {ATSPI_ROLE_TERMINAL, "AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_TEXT, "AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_EMAIL, "AXTextArea"},
    {ATSPI_ROLE_AUTOCOMPLETE, "AXComboBox"},
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton"},
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXCheckBox", "AXToggle"},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
    {ATSPI_ROLE_PAGE_TAB, "AXRadioButton", "AXTabButton"},  // macOS tabs are radio buttons
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
    {ATSPI_ROLE_LABEL, "AXStaticText"},
    {ATSPI_ROLE_STATIC, "AXStaticText"},
    {ATSPI_ROLE_ACCELERATOR_LABEL, "AXStaticText"},
    {ATSPI_ROLE_CAPTION, "AXStaticText"},
    {ATSPI_ROLE_LINK, "AXLink"},
    {ATSPI_ROLE_SLIDER, "AXSlider"},
    {ATSPI_ROLE_DIAL, "AXSlider"},
    {ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor"},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator"},
    {ATSPI_ROLE_LEVEL_BAR, "AXLevelIndicator"},
    {ATSPI_ROLE_RATING, "AXLevelIndicator"},
    {ATSPI_ROLE_TABLE_CELL, "AXCell"},
    {ATSPI_ROLE_COLUMN_HEADER, "AXCell"},
    {ATSPI_ROLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXCell"},
    {ATSPI_ROLE_TABLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_TABLE_ROW, "AXRow"},
    {ATSPI_ROLE_TREE_ITEM, "AXRow", "AXOutlineRow"},
    {ATSPI_ROLE_LIST_ITEM, "AXRow"},
    {ATSPI_ROLE_TABLE, "AXTable"},
    {ATSPI_ROLE_DOCUMENT_SPREADSHEET, "AXTable"},
    {ATSPI_ROLE_TREE, "AXOutline"},
    {ATSPI_ROLE_TREE_TABLE, "AXOutline"},
    {ATSPI_ROLE_LIST, "AXList"},
    {ATSPI_ROLE_LIST_BOX, "AXList"},
    {ATSPI_ROLE_DESCRIPTION_LIST, "AXList"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
    {ATSPI_ROLE_DOCUMENT_FRAME, "AXWebArea"},
    {ATSPI_ROLE_FRAME, "AXWindow", "AXStandardWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_DIALOG, "AXWindow", "AXDialog"},
    {ATSPI_ROLE_ALERT, "AXWindow", "AXDialog"},
    {ATSPI_ROLE_INPUT_METHOD_WINDOW, "AXWindow"},
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_MENU, "AXMenu"},
    {ATSPI_ROLE_POPUP_MENU, "AXMenu"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
    {ATSPI_ROLE_TOOL_TIP, "AXHelpTag"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_ICON, "AXImage"},
    {ATSPI_ROLE_DESKTOP_ICON, "AXImage"},
    {ATSPI_ROLE_IMAGE_MAP, "AXImage"},
    {ATSPI_ROLE_ANIMATION, "AXImage"},
    {ATSPI_ROLE_HEADING, "AXHeading"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
    {ATSPI_ROLE_SPLIT_PANE, "AXSplitGroup"},
    {ATSPI_ROLE_SEPARATOR, "AXSplitter"},
    {ATSPI_ROLE_RULER, "AXRuler"},
    {ATSPI_ROLE_DATE_EDITOR, "AXDateField"},
    {ATSPI_ROLE_COLOR_CHOOSER, "AXColorWell"},
    {ATSPI_ROLE_INVALID, "AXUnknown"},
    {ATSPI_ROLE_UNKNOWN, "AXUnknown"},
    {ATSPI_ROLE_EXTENDED, "AXUnknown"},
    {ATSPI_ROLE_REDUNDANT_OBJECT, "AXUnknown"},
    {ATSPI_ROLE_LAST_DEFINED, "AXUnknown"},
};

const KnownRole* knownRole(AtspiRole role) {
  for (const KnownRole& known : knownRoles) {
    if (known.role == role) return &known;
  }
  return nullptr;
}

}  // namespace

// The roles whose answer a state changes.
bool roleNeedsStates(AtspiRole role) {
  return axRole({role, true, true, {}, {}}) != axRole({role, false, false, {}, {}});
}

bool roleNeedsAttributes(AtspiRole role) { return isTextFieldRole(role); }

std::string_view axRole(const RoleFacts& facts) {
  if (facts.role == ATSPI_ROLE_COMBO_BOX) return facts.editable ? "AXComboBox" : "AXPopUpButton";
  if (isTextFieldRole(facts.role) && facts.role != ATSPI_ROLE_PASSWORD_TEXT) {
    return facts.multiLine ? "AXTextArea" : "AXTextField";
  }
  if (const KnownRole* known = knownRole(facts.role)) return known->name;
  // Containers and structure: panels, fillers, sections, paragraphs,
  // landmarks, calendars, file choosers and every role added later. An
  // editable one is a web page's contenteditable region, which browsers
  // on macOS report as a text area.
  return facts.editable ? "AXTextArea" : "AXGroup";
}

std::string_view axSubrole(const RoleFacts& facts) {
  if (isSecureText(facts)) return "AXSecureTextField";
  if (isSearchField(facts)) return "AXSearchField";
  const KnownRole* known = knownRole(facts.role);
  return known != nullptr ? known->subrole : std::string_view();
}

bool isSecureText(const RoleFacts& facts) {
  if (facts.role == ATSPI_ROLE_PASSWORD_TEXT) return true;
  return isTextFieldRole(facts.role) &&
         equalsIgnoringCase(facts.textInputType, "password");
}

bool isWindowRole(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_COLOR_CHOOSER:
    case ATSPI_ROLE_FONT_CHOOSER:
      return true;
    default:
      return false;
  }
}

bool hasNonTextValue(AtspiRole role) {
  switch (role) {
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_PAGE_TAB:
      return true;
    default:
      return false;
  }
}

std::optional<int> pressActionIndex(const std::vector<std::string>& names) {
  // What each toolkit calls the click of an element: GTK "click" (buttons)
  // and "activate" (entries, rows), Qt "Press" and "Toggle" (checkable
  // buttons), GTK 4 "toggle" (switches), and the browsers' default-action
  // verbs, each the element's click ("jump" for links, "check"/"uncheck",
  // "select" for options, "switch" for tabs, "open"/"close" for pop-ups,
  // "expand"/"collapse" for disclosures, "clickAncestor" for text inside a
  // link). Any other action
  // (GTK 4 widget actions such as "spelling.enabled", Qt "SetFocus" or
  // "ShowMenu") is not a press.
  static constexpr std::array<std::string_view, 3> preferred = {"press", "click",
                                                                "activate"};
  static constexpr std::array<std::string_view, 12> others = {
      "toggle", "jump",   "check",  "uncheck",  "select",        "switch",
      "open",   "close",  "expand", "collapse", "clickAncestor", "click-ancestor"};
  for (std::string_view wanted : preferred) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (equalsIgnoringCase(names[i], wanted)) return static_cast<int>(i);
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::string_view wanted : others) {
      if (equalsIgnoringCase(names[i], wanted)) return static_cast<int>(i);
    }
  }
  return std::nullopt;
}

bool nameIsPlaceholder(std::optional<std::string_view> nameFrom) {
  return nameFrom && equalsIgnoringCase(*nameFrom, "placeholder");
}

Liveness livenessFromErrorName(std::string_view errorName) {
  // The bus says the application is gone; the application says the object
  // is gone. An unknown method or interface says only that the element
  // lacks it (GDBus-based toolkits also answer so for an object that is
  // gone, which asking its state then tells).
  static constexpr std::array<std::string_view, 3> gone = {
      "org.freedesktop.DBus.Error.ServiceUnknown",
      "org.freedesktop.DBus.Error.NameHasNoOwner",
      "org.freedesktop.DBus.Error.UnknownObject",
  };
  if (std::find(gone.begin(), gone.end(), errorName) != gone.end()) {
    return Liveness::vanished;
  }
  return Liveness::unreachable;
}

}  // namespace focusctl::platform::atspi
