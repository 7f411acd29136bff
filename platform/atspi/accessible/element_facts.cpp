#include "platform/atspi/accessible/element_facts.h"

#include <utility>

#include "platform/atspi/accessible/bus_session.h"
#include "platform/atspi/focus/focus_search.h"
#include "platform/atspi/focus/registered_applications.h"
#include "platform/atspi/accessible/text_offsets.h"
#include "platform/atspi/desktop/x11_desktop.h"

namespace focusctl::platform::atspi {

struct ElementFacts::Asked {
  explicit Asked(const bus::ObjectRef& element)
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
  bus::Reply<bus::ObjectRef> parent;
  bool nameUsed = false;
  bool descriptionUsed = false;
  bool accessibleIdUsed = false;
  bool relationsUsed = false;
};

namespace {

// The X11 windows of the element's process, and the one that holds it: the
// active window when the process owns it, else the process's only window.
struct HoldingWindow {
  bool processHasWindows = false;
  std::optional<x11::WindowId> window;
  std::vector<x11::WindowId> windows;
};

HoldingWindow windowHolding(const bus::ObjectRef& element) {
  Pid pid = applicationPid(element);
  if (pid <= 0) return {};
  HoldingWindow found;
  if (x11::activeWindowPid() == pid) found.window = x11::knownActiveWindowOf(pid);
  std::vector<x11::WindowId> windows = x11::windowsOfPid(pid);
  found.processHasWindows = found.window || !windows.empty();
  if (!found.window && windows.size() == 1) found.window = windows.front();
  found.windows = std::move(windows);
  return found;
}

// X11 names a new window (a dialog just opened) active a moment after the
// toolkit has moved the focus into it. Where the window the focus was found
// in has a title and another window of the process has exactly that title,
// that one holds the element. Where none has it (a toolkit that names its
// windows otherwise), the first choice stands.
void matchTitle(HoldingWindow& holding, const std::string& title) {
  if (title.empty() || (holding.window && x11::windowTitle(*holding.window) == title)) return;
  std::optional<x11::WindowId> titled;
  for (x11::WindowId window : holding.windows) {
    if (x11::windowTitle(window) != title) continue;
    if (titled) return;  // two of that title: neither is known to hold it
    titled = window;
  }
  if (titled) holding.window = titled;
}

// GTK 4 has no screen coordinates: it answers window-relative extents for
// every coordinate type. The toolkit is a property of the application
// element only.
bool windowRelativeToolkit(const bus::ObjectRef& element) {
  auto application = calls::application(element);
  const bus::ObjectRef* root = application.get();
  if (root == nullptr || root->isNull()) return false;
  auto toolkit = calls::toolkitName(*root);
  auto toolkitVersion = calls::toolkitVersion(*root);
  const std::string* name = toolkit.get();
  if (name == nullptr || (*name != "GTK" && *name != "gtk")) return false;
  const std::string* version = toolkitVersion.get();
  return version != nullptr && !version->empty() && version->front() >= '4' &&
         version->front() <= '9';
}

// Makes the extents screen coordinates; false when the position is not
// known in them. A toolkit that tells the coordinate types apart gives two
// different answers, unless the window lies at the screen's origin. Where
// both agree, the toolkit may answer screen coordinates for both (Qt) or
// window-relative ones for both (GTK 4, and every toolkit on Wayland, where
// there is no global origin): the window's X11 origin turns the latter into
// screen coordinates, and without an X11 window nothing does.
bool toScreen(const bus::ObjectRef& element, const calls::Rect* inWindow, calls::Rect& rect) {
  if (inWindow == nullptr || inWindow->x != rect.x || inWindow->y != rect.y) return true;
  // Its title travels with the toolkit's name.
  std::optional<bus::Reply<std::string>> title;
  if (auto window = windowFoundHolding(element)) title.emplace(calls::name(*window));
  HoldingWindow holding = windowHolding(element);
  if (!holding.processHasWindows) return false;
  if (!windowRelativeToolkit(element)) return true;
  if (const std::string* name = title ? title->get() : nullptr) matchTitle(holding, *name);
  std::optional<x11::Origin> origin =
      holding.window ? x11::windowOrigin(*holding.window) : std::nullopt;
  if (!origin) return false;
  rect.x += origin->x;
  rect.y += origin->y;
  return true;
}

}  // namespace

ElementFacts::ElementFacts(bus::ObjectRef element) : element_(std::move(element)) {}
ElementFacts::~ElementFacts() = default;

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
                        reply.outcome().errorName == wire::unknownMethod;
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
  ResultCode code = failureCode(element_, reply.outcome());
  noteFailure(code);
  return code;
}

bool ElementFacts::implements(std::string_view interface) {
  if (failed()) return false;
  const std::vector<std::string>* interfaces = asked().interfaces.get();
  if (interfaces == nullptr) return false;
  for (const std::string& offered : *interfaces) {
    if (offered == interface) return true;
  }
  return false;
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

bool ElementFacts::isSecureText() {
  RoleFacts facts;
  std::optional<AtspiRole> known = role();
  if (!known) return false;
  facts.role = *known;
  if (roleNeedsAttributes(facts.role)) {
    facts.textInputType = attribute("text-input-type").value_or("");
  }
  return atspi::isSecureText(facts);
}

namespace {

// An answer sent for with the others serves its first reader; whoever asks
// again asks anew.
template <typename T>
bus::Reply<T>& unused(bus::Reply<T>& reply, bool& used,
                      bus::Reply<T> (*ask)(const bus::ObjectRef&),
                      const bus::ObjectRef& element) {
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
  if (relations == nullptr) noteFailure(failureCode(element_, reply.outcome()));
  return relations;
}

const ElementFacts::Extents& ElementFacts::extents() {
  if (extents_) return *extents_;
  Extents answer;
  if (vanished()) {
    answer.code = failure_;
    return extents_.emplace(answer);
  }
  auto& reply = asked().screenExtents;
  const calls::Rect* rect = reply.get();
  if (rect == nullptr) {
    if (reply.outcome().errorName == wire::unknownMethod ||
        (asked().interfaces.get() != nullptr && !implements(wire::componentInterface))) {
      answer.code = code::attributeUnsupported;
      return extents_.emplace(answer);
    }
    answer.code = failureCode(element_, reply.outcome());
    noteFailure(answer.code);
    return extents_.emplace(answer);
  }
  answer.code = code::success;
  answer.rect = *rect;
  // Firefox answers -1,-1 for a position it does not know yet.
  answer.positionKnown = !(rect->x == -1 && rect->y == -1) &&
                         toScreen(element_, asked().windowExtents.get(), answer.rect);
  return extents_.emplace(answer);
}

ElementFacts* ElementFacts::enclosingComboBox() {
  if (comboBox_) return comboBox_->get();
  comboBox_.emplace();
  // Only an entry without a name of its own is looked up, so that a read of
  // any other costs nothing more.
  std::optional<AtspiRole> own = role();
  if (!own || !isTextFieldRole(*own)) return nullptr;
  const std::string* name = asked().name.get();
  const bus::ObjectRef* parent = asked().parent.get();
  if (name == nullptr || !name->empty() || parent == nullptr || parent->isNull()) return nullptr;
  auto combo = std::make_unique<ElementFacts>(*parent);
  if (combo->role() == ATSPI_ROLE_COMBO_BOX) *comboBox_ = std::move(combo);
  return comboBox_->get();
}

void ElementFacts::askForText() {
  if (textAsked_ || failed()) return;
  if (atspi::isSecureText(roleFacts(true)) || !implements(wire::textInterface)) return;
  textAsked_ = askText(element_);
}

std::optional<TextQuestions> ElementFacts::takeText() {
  std::optional<TextQuestions> asked = std::move(textAsked_);
  textAsked_.reset();
  return asked;
}

TextQuestions askText(const bus::ObjectRef& element) {
  return {calls::text(element, 0, -1), calls::characterCount(element)};
}

std::optional<std::string> wholeText(const bus::ObjectRef& element) {
  return wholeText(element, askText(element));
}

namespace {

// Gecko pads its text (text_offsets.h), which the user never sees. Only a
// text holding a U+FEFF costs the question which toolkit gave it.
std::optional<std::string> asTheUserSeesIt(const bus::ObjectRef& element,
                                           std::optional<std::string> text) {
  if (!text || text->find("\xEF\xBB\xBF") == std::string::npos) return text;
  auto toolkit = calls::toolkitName({element.bus, std::string(wire::rootPath)});
  const std::string* name = toolkit.get();
  OffsetUnits units = offsetUnitsOf(name != nullptr ? *name : std::string());
  if (units != OffsetUnits::paddedUtf16) return text;
  return visibleText(*text, units);
}

}  // namespace

std::optional<std::string> wholeText(const bus::ObjectRef& element, TextQuestions asked) {
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
