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

CopiedAttribute readRole(AtspiAccessible* element) {
  ElementFacts facts(element);
  RoleFacts role = facts.roleFacts(false);
  if (facts.failed()) return failed(facts.failure());
  return text(std::string(axRole(role)));
}

CopiedAttribute readSubrole(AtspiAccessible* element) {
  ElementFacts facts(element);
  RoleFacts role = facts.roleFacts(true);
  if (facts.failed()) return failed(facts.failure());
  std::string_view subrole = axSubrole(role);
  if (subrole.empty()) return failed(code::attributeUnsupported);
  return text(std::string(subrole));
}

// The names of the elements labelling this one, joined by spaces.
CopiedAttribute readLabel(AtspiAccessible* element) {
  ErrorSlot error;
  GArray* relations = atspi_accessible_get_relation_set(element, error.out());
  if (relations == nullptr) return failed(failureCode(element));
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

CopiedAttribute readTitle(AtspiAccessible* element) {
  ErrorSlot error;
  std::string name = takeString(atspi_accessible_get_name(element, error.out()));
  if (error) return failed(failureCode(element));
  if (!name.empty()) return text(std::move(name));
  return readLabel(element);
}

CopiedAttribute readDescription(AtspiAccessible* element) {
  ErrorSlot error;
  std::string description =
      takeString(atspi_accessible_get_description(element, error.out()));
  if (error) return failed(failureCode(element));
  return text(std::move(description));
}

CopiedAttribute readValue(AtspiAccessible* element) {
  ElementFacts facts(element);
  RoleFacts role = facts.roleFacts(true);
  if (facts.failed()) return failed(facts.failure());
  // A password is never read, not even into this process.
  if (isSecureText(role)) return failed(code::noValue);
  if (GRef<AtspiText> textInterface{atspi_accessible_get_text_iface(element)}) {
    std::optional<std::string> whole = wholeText(textInterface.get());
    if (!whole) return failed(failureCode(element));
    return text(std::move(*whole));
  }
  // A non-editable combo box names its selected item, as the title of a
  // macOS pop-up button is its value.
  if (role.role == ATSPI_ROLE_COMBO_BOX) {
    ErrorSlot error;
    std::string name = takeString(atspi_accessible_get_name(element, error.out()));
    if (error) return failed(failureCode(element));
    return text(std::move(name));
  }
  if (hasNonTextValue(role.role)) return {code::success, OtherKind{}};
  if (GRef<AtspiValue> number{atspi_accessible_get_value_iface(element)}) {
    return {code::success, OtherKind{}};
  }
  return failed(code::attributeUnsupported);
}

CopiedAttribute readObjectAttribute(AtspiAccessible* element,
                                    std::initializer_list<const char*> names) {
  ElementFacts facts(element);
  for (const char* name : names) {
    std::optional<std::string_view> value = facts.attribute(name);
    if (facts.failed()) return failed(facts.failure());
    if (value) return text(std::string(*value));
  }
  return failed(code::attributeUnsupported);
}

CopiedAttribute readIdentifier(AtspiAccessible* element) {
  ErrorSlot error;
  gchar* id = atspi_accessible_get_accessible_id(element, error.out());
  // Toolkits older than the property answer with an error.
  if (id == nullptr) return failed(code::attributeUnsupported);
  return text(takeString(id));
}

struct RectFree {
  void operator()(AtspiRect* rect) const noexcept {
    if (rect != nullptr) g_boxed_free(ATSPI_TYPE_RECT, rect);
  }
};

CopiedAttribute readExtents(AtspiAccessible* element, bool position) {
  GRef<AtspiComponent> component(atspi_accessible_get_component_iface(element));
  if (!component) return failed(code::attributeUnsupported);
  ErrorSlot error;
  std::unique_ptr<AtspiRect, RectFree> rect(atspi_component_get_extents(
      component.get(), ATSPI_COORD_TYPE_SCREEN, error.out()));
  if (!rect || error) return failed(failureCode(element));
  // libatspi answers a call that failed silently with all four at -1.
  if (rect->x == -1 && rect->y == -1 && rect->width == -1 && rect->height == -1) {
    if (std::optional<ResultCode> code = unreachableCode(element)) {
      return failed(*code);
    }
  }
  if (position) {
    return {code::success, Point{static_cast<double>(rect->x),
                                 static_cast<double>(rect->y)}};
  }
  return {code::success, Size{static_cast<double>(rect->width),
                              static_cast<double>(rect->height)}};
}

}  // namespace

CopiedAttribute copyElementAttribute(AtspiAccessible* element,
                                     std::string_view attribute) {
  if (attribute == "AXRole") return readRole(element);
  if (attribute == "AXSubrole") return readSubrole(element);
  if (attribute == "AXTitle") return readTitle(element);
  if (attribute == "AXDescription") return readDescription(element);
  if (attribute == "AXValue") return readValue(element);
  if (attribute == "AXPlaceholderValue") {
    return readObjectAttribute(element, {"placeholder-text", "placeholder"});
  }
  if (attribute == "AXIdentifier") return readIdentifier(element);
  if (attribute == "AXDOMIdentifier") return readObjectAttribute(element, {"id"});
  if (attribute == "AXPosition") return readExtents(element, true);
  if (attribute == "AXSize") return readExtents(element, false);
  return failed(code::attributeUnsupported);
}

}  // namespace focusctl::platform::atspi
