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

}  // namespace

bool roleNeedsStates(AtspiRole role) {
  return role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY ||
         role == ATSPI_ROLE_EDITBAR || role == ATSPI_ROLE_COMBO_BOX ||
         axRole(RoleFacts{role, false, false, {}, {}}) == "AXGroup";
}

bool roleNeedsAttributes(AtspiRole role) { return isTextFieldRole(role); }

std::string_view axRole(const RoleFacts& facts) {
  switch (facts.role) {
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_EDITBAR:
      return facts.multiLine ? "AXTextArea" : "AXTextField";
    case ATSPI_ROLE_PASSWORD_TEXT:
      return "AXTextField";
    case ATSPI_ROLE_TERMINAL:
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
      return "AXTextArea";
    case ATSPI_ROLE_COMBO_BOX:
      return facts.editable ? "AXComboBox" : "AXPopUpButton";
    case ATSPI_ROLE_AUTOCOMPLETE:
      return "AXComboBox";
    case ATSPI_ROLE_PUSH_BUTTON:
      return "AXButton";
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
      return "AXMenuButton";
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_CHECK_BOX:
      return "AXCheckBox";
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_PAGE_TAB:  // macOS tabs are radio buttons
      return "AXRadioButton";
    case ATSPI_ROLE_PAGE_TAB_LIST:
      return "AXTabGroup";
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
    case ATSPI_ROLE_CAPTION:
      return "AXStaticText";
    case ATSPI_ROLE_LINK:
      return "AXLink";
    case ATSPI_ROLE_SLIDER:
    case ATSPI_ROLE_DIAL:
      return "AXSlider";
    case ATSPI_ROLE_SPIN_BUTTON:
      return "AXIncrementor";
    case ATSPI_ROLE_SCROLL_BAR:
      return "AXScrollBar";
    case ATSPI_ROLE_PROGRESS_BAR:
      return "AXProgressIndicator";
    case ATSPI_ROLE_LEVEL_BAR:
    case ATSPI_ROLE_RATING:
      return "AXLevelIndicator";
    case ATSPI_ROLE_TABLE_CELL:
    case ATSPI_ROLE_COLUMN_HEADER:
    case ATSPI_ROLE_ROW_HEADER:
    case ATSPI_ROLE_TABLE_COLUMN_HEADER:
    case ATSPI_ROLE_TABLE_ROW_HEADER:
      return "AXCell";
    case ATSPI_ROLE_TABLE_ROW:
    case ATSPI_ROLE_TREE_ITEM:
    case ATSPI_ROLE_LIST_ITEM:
      return "AXRow";
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_DOCUMENT_SPREADSHEET:
      return "AXTable";
    case ATSPI_ROLE_TREE:
    case ATSPI_ROLE_TREE_TABLE:
      return "AXOutline";
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
    case ATSPI_ROLE_DESCRIPTION_LIST:
      return "AXList";
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
      return "AXWebArea";
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
    case ATSPI_ROLE_INPUT_METHOD_WINDOW:
      return "AXWindow";
    case ATSPI_ROLE_APPLICATION:
      return "AXApplication";
    case ATSPI_ROLE_MENU_BAR:
      return "AXMenuBar";
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_POPUP_MENU:
      return "AXMenu";
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
      return "AXMenuItem";
    case ATSPI_ROLE_TOOL_BAR:
      return "AXToolbar";
    case ATSPI_ROLE_TOOL_TIP:
      return "AXHelpTag";
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    case ATSPI_ROLE_DESKTOP_ICON:
    case ATSPI_ROLE_IMAGE_MAP:
    case ATSPI_ROLE_ANIMATION:
      return "AXImage";
    case ATSPI_ROLE_HEADING:
      return "AXHeading";
    case ATSPI_ROLE_SCROLL_PANE:
      return "AXScrollArea";
    case ATSPI_ROLE_SPLIT_PANE:
      return "AXSplitGroup";
    case ATSPI_ROLE_SEPARATOR:
      return "AXSplitter";
    case ATSPI_ROLE_RULER:
      return "AXRuler";
    case ATSPI_ROLE_DATE_EDITOR:
      return "AXDateField";
    case ATSPI_ROLE_COLOR_CHOOSER:
      return "AXColorWell";
    case ATSPI_ROLE_INVALID:
    case ATSPI_ROLE_UNKNOWN:
    case ATSPI_ROLE_EXTENDED:
    case ATSPI_ROLE_REDUNDANT_OBJECT:
    case ATSPI_ROLE_LAST_DEFINED:
      return "AXUnknown";
    default:
      // Containers and structure: panels, fillers, sections, paragraphs,
      // landmarks, calendars, file choosers and every role added later. An
      // editable one is a web page's contenteditable region, which browsers
      // on macOS report as a text area.
      return facts.editable ? "AXTextArea" : "AXGroup";
  }
}

std::string_view axSubrole(const RoleFacts& facts) {
  if (isSecureText(facts)) return "AXSecureTextField";
  if (isSearchField(facts)) return "AXSearchField";
  switch (facts.role) {
    case ATSPI_ROLE_TOGGLE_BUTTON:
      return "AXToggle";
    case ATSPI_ROLE_PAGE_TAB:
      return "AXTabButton";
    case ATSPI_ROLE_TREE_ITEM:
      return "AXOutlineRow";
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_ALERT:
      return "AXDialog";
    case ATSPI_ROLE_FRAME:
      return "AXStandardWindow";
    default:
      return {};
  }
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
