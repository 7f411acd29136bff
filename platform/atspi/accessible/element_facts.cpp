#include "platform/atspi/accessible/element_facts.h"

#include <algorithm>
#include <utility>

#include "platform/atspi/accessible/liveness.h"
#include "platform/atspi/accessible/text_offsets.h"
#include "platform/atspi/accessible/window_origin.h"

namespace focusctl::platform::atspi {

struct ElementFacts::Asked {
  explicit Asked(const ObjectRef& element)
      : role(calls::role(element)),
        states(calls::states(element)),
        attributes(calls::attributes(element)),
        interfaces(calls::interfaces(element)),
        name(calls::name(element)),
        description(calls::description(element)),
        accessibleId(calls::accessibleId(element)),
        relations(calls::relations(element)),
        screenExtents(calls::extents(element, wire::screenCoordinates)),
        windowExtents(calls::extents(element, wire::windowCoordinates)),
        parent(calls::parent(element)) {}
  bus::Reply<std::uint32_t> role;
  bus::Reply<calls::StateBits> states;
  bus::Reply<calls::Attributes> attributes;
  bus::Reply<std::vector<std::string>> interfaces;
  bus::Reply<std::string> name;
  bus::Reply<std::string> description;
  bus::Reply<std::string> accessibleId;
  bus::Reply<std::vector<calls::Relation>> relations;
  bus::Reply<calls::Rect> screenExtents;
  bus::Reply<calls::Rect> windowExtents;
  bus::Reply<ObjectRef> parent;
  bool nameUsed = false;
  bool descriptionUsed = false;
  bool accessibleIdUsed = false;
  bool relationsUsed = false;
};

ElementFacts::ElementFacts(ObjectRef element) : element_(std::move(element)) {}
ElementFacts::~ElementFacts() = default;

ResultCode ElementFacts::failureOf(const bus::Outcome& failed) {
  return remembered(failureCode(element_, failed));
}

ResultCode ElementFacts::failureOf() { return remembered(failureCode(element_)); }

ElementFacts::Asked& ElementFacts::asked() {
  if (!asked_) {
    asked_ = std::make_unique<Asked>(element_);
  }
  return *asked_;
}

std::optional<AtspiRole> ElementFacts::role() {
  if (failed()) return std::nullopt;
  auto& reply = asked().role;
  const std::uint32_t* answer = reply.get();
  if (answer == nullptr) {
    failure_ = failureCode(element_, reply.outcome());
    return std::nullopt;
  }
  return static_cast<AtspiRole>(*answer);
}

bool ElementFacts::hasState(AtspiStateType state) {
  if (failed()) return false;
  auto& reply = asked().states;
  const calls::StateBits* states = reply.get();
  if (states == nullptr && !statesUnanswered_) {
    ResultCode code = failureCode(element_, reply.outcome());
    // An application that lacks the method has no states to tell; its
    // other facts still hold.
    statesUnanswered_ = code != code::invalidElement &&
                        reply.outcome().errorName == bus::unknownMethod;
    if (!statesUnanswered_) failure_ = code;
  }
  return states != nullptr && calls::hasState(*states, state);
}

std::optional<std::string_view> ElementFacts::attribute(const char* name) {
  if (failed()) return std::nullopt;
  auto& reply = asked().attributes;
  const calls::Attributes* attributes = reply.get();
  if (attributes == nullptr) {
    failure_ = failureCode(element_, reply.outcome());
    return std::nullopt;
  }
  auto found = attributes->find(name);
  if (found == attributes->end()) return std::nullopt;
  return std::string_view(found->second);
}

ResultCode ElementFacts::interfacesUnknown() {
  if (failed()) return failure_;
  auto& reply = asked().interfaces;
  if (reply.get() != nullptr) return code::success;
  return failureOf(reply.outcome());
}

ResultCode ElementFacts::offers(std::initializer_list<std::string_view> interfaces) {
  if (vanished()) return code::invalidElement;
  // The facts (the interfaces among them) arrive together.
  isSecureText();
  if (failed()) return failure_;
  // An element whose interfaces could not be asked may still offer them.
  if (ResultCode unknown = interfacesUnknown(); unknown != code::success) return unknown;
  for (std::string_view interface : interfaces) {
    if (!implements(interface)) return code::attributeUnsupported;
  }
  return code::success;
}

bool ElementFacts::implements(std::string_view interface) {
  if (failed()) return false;
  const std::vector<std::string>* interfaces = asked().interfaces.get();
  return interfaces != nullptr &&
         std::find(interfaces->begin(), interfaces->end(), interface) != interfaces->end();
}

RoleFacts ElementFacts::roleFacts(bool withAttributes, bool withStates) {
  RoleFacts facts;
  std::optional<AtspiRole> known = role();
  if (!known) return facts;
  facts.role = *known;
  if (withStates && roleNeedsStates(facts.role)) {
    facts.multiLine = hasState(ATSPI_STATE_MULTI_LINE);
    facts.editable = hasState(ATSPI_STATE_EDITABLE);
  }
  if (withAttributes && roleNeedsAttributes(facts.role)) {
    facts.textInputType = attribute("text-input-type").value_or("");
    facts.xmlRoles = attribute("xml-roles").value_or("");
  }
  return facts;
}

bool ElementFacts::isSecureText() { return atspi::isSecureText(roleFacts(true, false)); }

namespace {

// An answer sent for with the others serves its first reader; whoever asks
// again asks anew.
template <typename T, typename Ask>
bus::Reply<T>& unused(bus::Reply<T>& reply, bool& used, const Ask& ask,
                      const ObjectRef& element) {
  if (used) reply = ask(element);
  used = true;
  return reply;
}

ElementFacts::Named named(bus::Reply<std::string>& reply) {
  const std::string* text = reply.get();
  return {text, text == nullptr ? &reply.outcome() : nullptr};
}

}  // namespace

ElementFacts::Named ElementFacts::name() {
  return named(unused(asked().name, asked().nameUsed, calls::name, element_));
}

ElementFacts::Named ElementFacts::description() {
  return named(unused(asked().description, asked().descriptionUsed, calls::description, element_));
}

ElementFacts::Named ElementFacts::accessibleId() {
  return named(unused(asked().accessibleId, asked().accessibleIdUsed, calls::accessibleId, element_));
}

const std::vector<calls::Relation>* ElementFacts::relations() {
  auto& reply = unused(asked().relations, asked().relationsUsed, calls::relations, element_);
  const auto* relations = reply.get();
  if (relations == nullptr) failureOf(reply.outcome());
  return relations;
}

const ElementFacts::Extents& ElementFacts::extents() {
  if (extents_) return *extents_;
  Extents& answer = extents_.emplace();
  if (vanished()) {
    answer.code = failure_;
    return answer;
  }
  auto& reply = asked().screenExtents;
  const calls::Rect* rect = reply.get();
  if (rect == nullptr) {
    bool unsupported =
        reply.outcome().errorName == bus::unknownMethod ||
        (asked().interfaces.get() != nullptr && !implements(wire::componentInterface));
    answer.code = unsupported ? code::attributeUnsupported : failureOf(reply.outcome());
    return answer;
  }
  answer.code = code::success;
  answer.rect = *rect;
  // Firefox answers -1,-1 for a position it does not know yet.
  answer.positionKnown = !(rect->x == -1 && rect->y == -1) &&
                         toScreen(element_, asked().windowExtents.get(), answer.rect);
  return answer;
}

ElementFacts* ElementFacts::enclosingComboBox() {
  if (comboBox_) return comboBox_->get();
  comboBox_.emplace();
  // Only an entry without a name of its own is looked up, so that a read of
  // any other costs nothing more.
  std::optional<AtspiRole> own = role();
  if (!own || !isTextFieldRole(*own)) return nullptr;
  const std::string* name = asked().name.get();
  const ObjectRef* parent = asked().parent.get();
  if (name == nullptr || !name->empty() || parent == nullptr || parent->isNull()) return nullptr;
  auto combo = std::make_unique<ElementFacts>(*parent);
  if (combo->role() == ATSPI_ROLE_COMBO_BOX) *comboBox_ = std::move(combo);
  return comboBox_->get();
}

namespace {

TextQuestions askText(const ObjectRef& element) {
  return {calls::text(element, 0, -1), calls::characterCount(element)};
}

// Gecko pads its text (text_offsets.h), which the user never sees. Only a
// text holding a U+FEFF costs the question which toolkit gave it.
std::optional<std::string> asTheUserSeesIt(const ObjectRef& element,
                                           std::optional<std::string> text) {
  if (!text || text->find("\xEF\xBB\xBF") == std::string::npos) return text;
  auto toolkit = calls::toolkitName({element.bus, std::string(wire::rootPath)});
  const std::string* name = toolkit.get();
  OffsetUnits units = offsetUnitsOf(name != nullptr ? *name : std::string());
  if (units != OffsetUnits::paddedUtf16) return text;
  return visibleText(*text, units);
}

}  // namespace

void ElementFacts::askForText() {
  if (textAsked_ || failed()) return;
  if (atspi::isSecureText(roleFacts(true)) || !implements(wire::textInterface)) return;
  textAsked_ = askText(element_);
}

TextQuestions ElementFacts::textQuestions() {
  std::optional<TextQuestions> asked = std::exchange(textAsked_, std::nullopt);
  return asked ? std::move(*asked) : askText(element_);
}

std::optional<std::string> wholeText(const ObjectRef& element) {
  return wholeText(element, askText(element));
}

std::optional<std::string> wholeText(const ObjectRef& element, TextQuestions asked) {
  // Taken, not copied: a text may run to many megabytes.
  std::optional<std::string> whole = asked.toEnd.take();
  if (!whole || !whole->empty()) return asTheUserSeesIt(element, std::move(whole));
  // GTK 4.8 answers "up to the end" (-1) with nothing at all; an explicit
  // end offset works there.
  const std::int32_t* length = asked.count.get();
  if (length == nullptr || *length <= 0) return whole;
  return asTheUserSeesIt(element, calls::text(element, 0, *length).take());
}

}  // namespace focusctl::platform::atspi
