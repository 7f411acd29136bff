// The AX attributes of one accessible element, read over AT-SPI.
#include <optional>
#include <string>
#include <utility>

#include "platform/atspi/ax_mapping.h"
#include "platform/atspi/bus_session.h"
#include "platform/atspi/element_access.h"
#include "platform/atspi/element_facts.h"

namespace focusctl::platform::atspi {
namespace {

CopiedAttribute failed(ResultCode code) { return {code, std::monostate{}}; }
CopiedAttribute text(std::string value) { return {code::success, std::move(value)}; }

// The code for a call on the element that failed, remembered when it says
// the element is gone.
ResultCode failureOf(ElementFacts& facts) {
  ResultCode code = failureCode(facts.element());
  facts.noteFailure(code);
  return code;
}

CopiedAttribute readRole(ElementFacts& facts) {
  RoleFacts role = facts.roleFacts(false);
  if (facts.failed()) return failed(facts.failure());
  return text(std::string(axRole(role)));
}

CopiedAttribute readSubrole(ElementFacts& facts) {
  RoleFacts role = facts.roleFacts(true);
  if (facts.failed()) return failed(facts.failure());
  std::string_view subrole = axSubrole(role);
  if (subrole.empty()) return failed(code::attributeUnsupported);
  return text(std::string(subrole));
}

// The names of the elements labelling this one, joined by spaces.
CopiedAttribute readLabel(ElementFacts& facts) {
  ErrorSlot error;
  GArray* relations = atspi_accessible_get_relation_set(facts.element(), error.out());
  if (relations == nullptr) return failed(failureOf(facts));
  std::string label;
  auto** items = reinterpret_cast<AtspiRelation**>(relations->data);
  for (guint i = 0; i < relations->len; ++i) {
    GRef<AtspiRelation> relation(items[i]);  // the array owned one each
    if (!relation || atspi_relation_get_relation_type(relation.get()) !=
                         ATSPI_RELATION_LABELLED_BY) {
      continue;
    }
    int targets = atspi_relation_get_n_targets(relation.get());
    for (int t = 0; t < targets; ++t) {
      GRef<AtspiAccessible> target(atspi_relation_get_target(relation.get(), t));
      if (!target) continue;
      std::string name =
          takeString(atspi_accessible_get_name(target.get(), error.out()));
      if (name.empty()) continue;
      if (!label.empty()) label += ' ';
      label += name;
    }
  }
  g_array_free(relations, TRUE);
  return text(std::move(label));
}

CopiedAttribute readObjectAttribute(ElementFacts& facts,
                                    std::initializer_list<const char*> names) {
  for (const char* name : names) {
    std::optional<std::string_view> value = facts.attribute(name);
    if (facts.failed()) return failed(facts.failure());
    if (value) return text(std::string(*value));
  }
  return failed(code::attributeUnsupported);
}

// The accessible name, unless it is only the placeholder standing in for a
// missing label: that is no title.
CopiedAttribute readTitle(ElementFacts& facts) {
  ErrorSlot error;
  std::string name =
      takeString(atspi_accessible_get_name(facts.element(), error.out()));
  if (error) return failed(failureOf(facts));
  if (name.empty()) return readLabel(facts);
  if (nameIsPlaceholder(facts.attribute("name-from"))) return text({});
  return text(std::move(name));
}

// Chromium gives no placeholder attribute when the name was taken from the
// placeholder: the name is the placeholder then.
CopiedAttribute readPlaceholder(ElementFacts& facts) {
  CopiedAttribute placeholder =
      readObjectAttribute(facts, {"placeholder-text", "placeholder"});
  if (placeholder.code != code::attributeUnsupported ||
      !nameIsPlaceholder(facts.attribute("name-from"))) {
    return placeholder;
  }
  ErrorSlot error;
  std::string name =
      takeString(atspi_accessible_get_name(facts.element(), error.out()));
  if (error) return failed(failureOf(facts));
  return text(std::move(name));
}

CopiedAttribute readDescription(ElementFacts& facts) {
  ErrorSlot error;
  std::string description =
      takeString(atspi_accessible_get_description(facts.element(), error.out()));
  if (error) return failed(failureOf(facts));
  return text(std::move(description));
}

CopiedAttribute readValue(ElementFacts& facts) {
  RoleFacts role = facts.roleFacts(true);
  if (facts.failed()) return failed(facts.failure());
  // A password is never read, not even into this process.
  if (isSecureText(role)) return failed(code::noValue);
  AtspiAccessible* element = facts.element();
  if (GRef<AtspiText> textInterface{atspi_accessible_get_text_iface(element)}) {
    std::optional<std::string> whole = wholeText(textInterface.get());
    if (!whole) return failed(failureOf(facts));
    return text(std::move(*whole));
  }
  // A non-editable combo box names its selected item, as the title of a
  // macOS pop-up button is its value.
  if (role.role == ATSPI_ROLE_COMBO_BOX) {
    ErrorSlot error;
    std::string name = takeString(atspi_accessible_get_name(element, error.out()));
    if (error) return failed(failureOf(facts));
    return text(std::move(name));
  }
  if (hasNonTextValue(role.role)) return {code::success, OtherKind{}};
  if (GRef<AtspiValue> number{atspi_accessible_get_value_iface(element)}) {
    return {code::success, OtherKind{}};
  }
  return failed(code::attributeUnsupported);
}

CopiedAttribute readIdentifier(ElementFacts& facts) {
  ErrorSlot error;
  gchar* id = atspi_accessible_get_accessible_id(facts.element(), error.out());
  // Toolkits older than the property answer with an error.
  if (id == nullptr) return failed(code::attributeUnsupported);
  return text(takeString(id));
}

CopiedAttribute readExtents(ElementFacts& facts, bool position) {
  const ElementFacts::Extents& extents = facts.extents();
  if (extents.code != code::success) return failed(extents.code);
  if (position) {
    if (!extents.positionKnown) return failed(code::cannotComplete);
    return {code::success, Point{static_cast<double>(extents.rect.x),
                                 static_cast<double>(extents.rect.y)}};
  }
  return {code::success, Size{static_cast<double>(extents.rect.width),
                              static_cast<double>(extents.rect.height)}};
}

}  // namespace

CopiedAttribute copyElementAttribute(ElementFacts& element,
                                     std::string_view attribute) {
  struct Reader {
    std::string_view attribute;
    CopiedAttribute (*read)(ElementFacts&);
  };
  static constexpr Reader readers[] = {
      {"AXRole", readRole},
      {"AXSubrole", readSubrole},
      {"AXTitle", readTitle},
      {"AXDescription", readDescription},
      {"AXValue", readValue},
      {"AXPlaceholderValue", readPlaceholder},
      {"AXIdentifier", readIdentifier},
      {"AXDOMIdentifier",
       [](ElementFacts& facts) { return readObjectAttribute(facts, {"id"}); }},
      {"AXPosition", [](ElementFacts& facts) { return readExtents(facts, true); }},
      {"AXSize", [](ElementFacts& facts) { return readExtents(facts, false); }},
  };
  for (const Reader& reader : readers) {
    if (reader.attribute != attribute) continue;
    // Once the element is known to be gone, that is every answer.
    if (element.vanished()) return failed(code::invalidElement);
    return reader.read(element);
  }
  return failed(code::attributeUnsupported);
}

}  // namespace focusctl::platform::atspi
