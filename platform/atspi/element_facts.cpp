#include "platform/atspi/element_facts.h"

#include "platform/atspi/bus_session.h"

namespace focusctl::platform::atspi {

std::optional<AtspiRole> ElementFacts::role() {
  if (role_ || failed()) return role_;
  ErrorSlot error;
  AtspiRole answer = atspi_accessible_get_role(element_, error.out());
  if (error) {
    failure_ = failureCode(element_);
    return std::nullopt;
  }
  // A failed call may also come back as no role at all.
  if (answer == ATSPI_ROLE_INVALID) {
    if (std::optional<ResultCode> code = unreachableCode(element_)) {
      failure_ = *code;
      return std::nullopt;
    }
  }
  role_ = answer;
  return role_;
}

bool ElementFacts::hasState(AtspiStateType state) {
  if (failed()) return false;
  if (!states_) {
    states_.reset(atspi_accessible_get_state_set(element_));
    // A failed call comes back as a set holding only DEFUNCT.
    if (!states_ || atspi_state_set_contains(states_.get(), ATSPI_STATE_DEFUNCT)) {
      failure_ = failureCode(element_);
      return false;
    }
  }
  return atspi_state_set_contains(states_.get(), state) != FALSE;
}

std::optional<std::string_view> ElementFacts::attribute(const char* name) {
  if (failed()) return std::nullopt;
  if (!attributesAsked_) {
    attributesAsked_ = true;
    ErrorSlot error;
    attributes_.reset(atspi_accessible_get_attributes(element_, error.out()));
    if (!attributes_) {
      failure_ = failureCode(element_);
      return std::nullopt;
    }
  }
  if (!attributes_) return std::nullopt;
  gpointer value = g_hash_table_lookup(attributes_.get(), name);
  if (value == nullptr) return std::nullopt;
  return std::string_view(static_cast<const char*>(value));
}

RoleFacts ElementFacts::roleFacts(bool withAttributes) {
  RoleFacts facts;
  std::optional<AtspiRole> known = role();
  if (!known) return facts;
  facts.role = *known;
  if (roleNeedsStates(facts.role)) {
    facts.multiLine = hasState(ATSPI_STATE_MULTI_LINE);
    facts.editable = hasState(ATSPI_STATE_EDITABLE);
  }
  if (withAttributes && roleNeedsAttributes(facts.role)) {
    facts.textInputType = attribute("text-input-type").value_or("");
    facts.xmlRoles = attribute("xml-roles").value_or("");
  }
  return facts;
}

std::optional<std::string> wholeText(AtspiText* text) {
  ErrorSlot error;
  gchar* whole = atspi_text_get_text(text, 0, -1, error.out());
  if (whole == nullptr) return std::nullopt;
  std::string answer = takeString(whole);
  if (!answer.empty()) return answer;
  // GTK 4.8 answers "up to the end" (-1) with nothing at all; an explicit
  // end offset works there.
  int count = atspi_text_get_character_count(text, error.out());
  if (error || count <= 0) return answer;
  whole = atspi_text_get_text(text, 0, count, error.out());
  if (whole == nullptr) return std::nullopt;
  return takeString(whole);
}

}  // namespace focusctl::platform::atspi
