#include "platform/atspi/element_facts.h"

#include <memory>
#include <vector>

#include "platform/atspi/bus_session.h"
#include "platform/atspi/x11_desktop.h"

namespace focusctl::platform::atspi {
namespace {

struct RectFree {
  void operator()(AtspiRect* rect) const noexcept {
    if (rect != nullptr) g_boxed_free(ATSPI_TYPE_RECT, rect);
  }
};
using RectPtr = std::unique_ptr<AtspiRect, RectFree>;

// The screen origin of the X11 window that holds the element: the active
// window when its process owns it, else the process's only window.
std::optional<x11::Origin> originOfWindowHolding(AtspiAccessible* element) {
  ErrorSlot error;
  auto pid = static_cast<Pid>(atspi_accessible_get_process_id(element, error.out()));
  if (error || pid <= 0) return std::nullopt;
  std::optional<x11::WindowId> window;
  if (x11::activeWindowPid() == pid) window = x11::knownActiveWindowOf(pid);
  if (!window) {
    std::vector<x11::WindowId> windows = x11::windowsOfPid(pid);
    if (windows.size() == 1) window = windows.front();
  }
  if (!window) return std::nullopt;
  return x11::windowOrigin(*window);
}

// Toolkits without a global coordinate space (GTK 4, any on Wayland) answer
// window-relative extents when asked for screen ones: the two answers agree.
// Then the window's origin makes them screen coordinates where X11 knows it,
// and the position is unknown elsewhere. Where the window really lies at the
// screen's origin, adding it changes nothing.
bool toScreen(AtspiComponent* component, AtspiAccessible* element, AtspiRect& rect) {
  ErrorSlot error;
  RectPtr inWindow(
      atspi_component_get_extents(component, ATSPI_COORD_TYPE_WINDOW, error.out()));
  if (!inWindow || error || inWindow->x != rect.x || inWindow->y != rect.y) {
    return true;
  }
  std::optional<x11::Origin> origin = originOfWindowHolding(element);
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
