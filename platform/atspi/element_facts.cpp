#include "platform/atspi/element_facts.h"

#include <memory>
#include <vector>

#include "platform/atspi/bus_session.h"
#include "platform/atspi/registered_applications.h"
#include "platform/atspi/x11_desktop.h"

namespace focusctl::platform::atspi {
namespace {

struct RectFree {
  void operator()(AtspiRect* rect) const noexcept {
    if (rect != nullptr) g_boxed_free(ATSPI_TYPE_RECT, rect);
  }
};
using RectPtr = std::unique_ptr<AtspiRect, RectFree>;

// The X11 windows of the element's process, and the one that holds it: the
// active window when the process owns it, else the process's only window.
struct HoldingWindow {
  bool processHasWindows = false;
  std::optional<x11::WindowId> window;
};

HoldingWindow windowHolding(AtspiAccessible* element) {
  Pid pid = applicationPid(element);
  if (pid <= 0) return {};
  HoldingWindow found;
  if (x11::activeWindowPid() == pid) found.window = x11::knownActiveWindowOf(pid);
  std::vector<x11::WindowId> windows = x11::windowsOfPid(pid);
  found.processHasWindows = found.window || !windows.empty();
  if (!found.window && windows.size() == 1) found.window = windows.front();
  return found;
}

// GTK 4 has no screen coordinates: it answers window-relative extents for
// every coordinate type. The toolkit is a property of the application
// element only.
bool windowRelativeToolkit(AtspiAccessible* element) {
  ErrorSlot error;
  GRef<AtspiAccessible> application(atspi_accessible_get_application(element, error.out()));
  if (!application) return false;
  std::string name =
      takeString(atspi_accessible_get_toolkit_name(application.get(), error.out()));
  if (name != "GTK" && name != "gtk") return false;
  std::string version =
      takeString(atspi_accessible_get_toolkit_version(application.get(), error.out()));
  return !version.empty() && version.front() >= '4' && version.front() <= '9';
}

// Makes the extents screen coordinates; false when the position is not
// known in them. A toolkit that tells the coordinate types apart gives two
// different answers, unless the window lies at the screen's origin. Where
// both agree, the toolkit may answer screen coordinates for both (Qt) or
// window-relative ones for both (GTK 4, and every toolkit on Wayland, where
// there is no global origin): the window's X11 origin turns the latter into
// screen coordinates, and without an X11 window nothing does.
bool toScreen(AtspiComponent* component, AtspiAccessible* element, AtspiRect& rect) {
  ErrorSlot error;
  RectPtr inWindow(
      atspi_component_get_extents(component, ATSPI_COORD_TYPE_WINDOW, error.out()));
  if (!inWindow || error || inWindow->x != rect.x || inWindow->y != rect.y) {
    return true;
  }
  HoldingWindow holding = windowHolding(element);
  if (!holding.processHasWindows) return false;
  if (!windowRelativeToolkit(element)) return true;
  std::optional<x11::Origin> origin =
      holding.window ? x11::windowOrigin(*holding.window) : std::nullopt;
  if (!origin) return false;
  rect.x += origin->x;
  rect.y += origin->y;
  return true;
}

}  // namespace

bool ElementFacts::vanished() {
  if (failure_ != code::invalidElement && busNameOf(element_).empty()) {
    failure_ = code::invalidElement;
  }
  return failure_ == code::invalidElement;
}

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
      states_.reset();
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

const ElementFacts::Extents& ElementFacts::extents() {
  if (extents_) return *extents_;
  Extents answer;
  if (vanished()) {
    answer.code = failure_;
    return extents_.emplace(answer);
  }
  GRef<AtspiComponent> component(atspi_accessible_get_component_iface(element_));
  if (!component) {
    answer.code = code::attributeUnsupported;
    return extents_.emplace(answer);
  }
  ErrorSlot error;
  RectPtr rect(atspi_component_get_extents(
      component.get(), ATSPI_COORD_TYPE_SCREEN, error.out()));
  if (!rect || error) {
    answer.code = failureCode(element_);
    noteFailure(answer.code);
    return extents_.emplace(answer);
  }
  // libatspi answers a call that failed silently with all four at -1.
  if (rect->x == -1 && rect->y == -1 && rect->width == -1 && rect->height == -1) {
    if (std::optional<ResultCode> unreachable = unreachableCode(element_)) {
      answer.code = *unreachable;
      noteFailure(answer.code);
      return extents_.emplace(answer);
    }
  }
  answer.code = code::success;
  answer.rect = *rect;
  // Firefox answers -1,-1 for a position it does not know yet.
  answer.positionKnown = !(rect->x == -1 && rect->y == -1) &&
                         toScreen(component.get(), element_, answer.rect);
  return extents_.emplace(answer);
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
