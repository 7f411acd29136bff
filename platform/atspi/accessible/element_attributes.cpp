// The AX attributes of one accessible element, read over AT-SPI.
#include <optional>
#include <string>
#include <utility>

#include "platform/atspi/accessible/ax_mapping.h"
#include "platform/atspi/accessible/element_access.h"
#include "platform/atspi/accessible/element_facts.h"
#include "platform/atspi/accessible/text_selection.h"

namespace focusctl::platform::atspi {
namespace {

CopiedAttribute failed(ResultCode code) { return {code, std::monostate{}}; }
CopiedAttribute text(std::string value) { return {code::success, std::move(value)}; }

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

// The names of the elements labelling this one, joined by spaces; with
// them, the element's text, which a read asks next.
CopiedAttribute readLabel(ElementFacts& facts, bool withText) {
  const std::vector<calls::Relation>* relations = facts.relations();
  if (relations == nullptr) return failed(facts.failed() ? facts.failure() : code::cannotComplete);
  // Every label's name asked at once.
  if (withText) facts.askForText();
  std::vector<bus::Reply<std::string>> names;
  for (const calls::Relation& relation : *relations) {
    if (relation.type != ATSPI_RELATION_LABELLED_BY) continue;
    for (const ObjectRef& target : relation.targets) {
      if (!target.isNull()) names.push_back(calls::name(target));
    }
  }
  std::string label;
  for (auto& reply : names) {
    const std::string* name = reply.get();
    if (name == nullptr || name->empty()) continue;
    if (!label.empty()) label += ' ';
    label += *name;
  }
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

// A text-valued fact of the element, or the failure of its call.
CopiedAttribute namedText(ElementFacts& facts, ElementFacts::Named named) {
  if (named.text == nullptr) return failed(facts.failureOf(*named.outcome));
  return text(*named.text);
}

// The accessible name, unless it is only the placeholder standing in for a
// missing label: that is no title.
CopiedAttribute readTitle(ElementFacts& facts) {
  ElementFacts::Named name = facts.name();
  if (name.text == nullptr) return failed(facts.failureOf(*name.outcome));
  if (name.text->empty()) {
    CopiedAttribute label = readLabel(facts, true);
    // The inner entry of an editable combo box is named by the combo box's
    // labels; not by the combo box's name, which is often just its value.
    ElementFacts* combo = nullptr;
    if (label.code == code::success && std::get<std::string>(label.value).empty() &&
        (combo = facts.enclosingComboBox()) != nullptr) {
      return readLabel(*combo, false);
    }
    return label;
  }
  if (nameIsPlaceholder(facts.attribute("name-from"))) return text({});
  return text(*name.text);
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
  return namedText(facts, facts.name());
}

CopiedAttribute readDescription(ElementFacts& facts) {
  CopiedAttribute description = namedText(facts, facts.description());
  // An editable combo box's inner entry is described by the combo box.
  ElementFacts* combo = nullptr;
  if (description.code == code::success && std::get<std::string>(description.value).empty() &&
      (combo = facts.enclosingComboBox()) != nullptr) {
    return namedText(*combo, combo->description());
  }
  return description;
}

CopiedAttribute readValue(ElementFacts& facts) {
  RoleFacts role = facts.roleFacts(true);
  if (facts.failed()) return failed(facts.failure());
  // A password is never read, not even into this process.
  if (isSecureText(role)) return failed(code::noValue);
  if (facts.implements(wire::textInterface)) {
    std::optional<std::string> whole = wholeText(facts.element(), facts.textQuestions());
    if (!whole) return failed(facts.failureOf());
    return text(std::move(*whole));
  }
  // A non-editable combo box names its selected item, as the title of a
  // macOS pop-up button is its value.
  if (role.role == ATSPI_ROLE_COMBO_BOX) return namedText(facts, facts.name());
  if (hasNonTextValue(role.role)) return {code::success, OtherKind{}};
  if (facts.implements(wire::valueInterface)) return {code::success, OtherKind{}};
  return failed(code::attributeUnsupported);
}

CopiedAttribute readIdentifier(ElementFacts& facts) {
  ElementFacts::Named id = facts.accessibleId();
  // Toolkits older than the property answer with an error.
  if (id.text == nullptr) return failed(code::attributeUnsupported);
  return text(*id.text);
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
      {"AXSelectedTextRange", readSelectedTextRange},
      {"AXSelectedText", readSelectedText},
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
