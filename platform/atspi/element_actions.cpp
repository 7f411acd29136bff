// Writing an element's value and pressing it over AT-SPI.
#include <string>
#include <vector>

#include "platform/atspi/ax_mapping.h"
#include "platform/atspi/bus_session.h"
#include "platform/atspi/element_access.h"
#include "platform/atspi/element_facts.h"

namespace focusctl::platform::atspi {
namespace {

// D-Bus carries only well-formed UTF-8 without NUL; anything else would be
// cut short or refused on the way and set something other than asked.
bool representableOnBus(std::string_view text) {
  return text.find('\0') == std::string_view::npos &&
         g_utf8_validate_len(text.data(), static_cast<gssize>(text.size()),
                             nullptr) != FALSE;
}

// Whether the element now holds the text. Some toolkits answer a write with
// success and change nothing; an element without a Text interface is taken
// at its word. A password is never read: its character count confirms it
// (one browser ignores writes to password fields), and a count that cannot
// be read confirms nothing. Only the facts that tell a password field are
// asked, and only those not yet known through this handle.
bool readsBackAs(ElementFacts& facts, const std::string& expected) {
  bool secure = facts.isSecureText();
  GRef<AtspiText> text(atspi_accessible_get_text_iface(facts.element()));
  if (!text) return true;
  if (secure) {
    ErrorSlot error;
    int count = atspi_text_get_character_count(text.get(), error.out());
    return !error && count == g_utf8_strlen(expected.data(),
                                            static_cast<gssize>(expected.size()));
  }
  std::optional<std::string> now = wholeText(text.get());
  // Unreadable now: the toolkit's own answer stands.
  return !now || *now == expected;
}

// The code for a failed call, remembered when it says the element is gone.
ResultCode failureOf(ElementFacts& facts) {
  ResultCode code = failureCode(facts.element());
  facts.noteFailure(code);
  return code;
}

}  // namespace

ResultCode setElementValue(ElementFacts& facts, std::string_view text) {
  if (!representableOnBus(text)) return code::illegalArgument;
  if (facts.vanished()) return code::invalidElement;
  GRef<AtspiEditableText> editable(
      atspi_accessible_get_editable_text_iface(facts.element()));
  if (!editable) return code::attributeUnsupported;
  std::string contents(text);
  ErrorSlot error;
  if (!atspi_editable_text_set_text_contents(editable.get(), contents.c_str(),
                                             error.out())) {
    return failureOf(facts);
  }
  return readsBackAs(facts, contents) ? code::success : code::cannotComplete;
}

ResultCode pressElement(ElementFacts& facts) {
  if (facts.vanished()) return code::invalidElement;
  AtspiAccessible* element = facts.element();
  GRef<AtspiAction> action(atspi_accessible_get_action_iface(element));
  if (!action) return code::actionUnsupported;
  ErrorSlot error;
  int count = atspi_action_get_n_actions(action.get(), error.out());
  if (error || count < 0) return failureOf(facts);
  if (count == 0) {
    // Also what a failed call looks like.
    std::optional<ResultCode> unreachable = unreachableCode(element);
    if (unreachable) facts.noteFailure(*unreachable);
    return unreachable ? *unreachable : code::actionUnsupported;
  }
  std::vector<std::string> names;
  for (int i = 0; i < count; ++i) {
    names.push_back(
        takeString(atspi_action_get_action_name(action.get(), i, error.out())));
  }
  std::optional<int> press = pressActionIndex(names);
  if (!press) return code::actionUnsupported;
  if (!atspi_action_do_action(action.get(), *press, error.out())) {
    return failureOf(facts);
  }
  return code::success;
}

}  // namespace focusctl::platform::atspi
