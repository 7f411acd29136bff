// What focusctl learns about one element handle: its role, state set,
// object attributes and extents, each asked over the bus at most once and
// only when needed. Kept on the handle (the ElementRef) for its life: a
// command reads several attributes that need the same facts, and a watcher
// never reads attributes through a handle it keeps.
#pragma once

#include <atspi/atspi.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/atspi/ax_mapping.h"
#include "platform/atspi/glib_ptr.h"
#include "platform/platform.h"

namespace focusctl::platform::atspi {

class ElementFacts {
 public:
  explicit ElementFacts(AtspiAccessible* element) : element_(element) {}
  ElementFacts(const ElementFacts&) = delete;
  ElementFacts& operator=(const ElementFacts&) = delete;

  AtspiAccessible* element() const { return element_; }

  // After a call for a fact failed, the code for it; the facts asked for
  // since are then empty. An element found gone stays gone, and so does one
  // whose application libatspi has seen leave the bus.
  bool failed() const { return failure_ != code::success; }
  ResultCode failure() const { return failure_; }
  bool vanished();
  // Records what a call on the element outside these facts found: once it
  // is known to be gone, nothing more is asked of it.
  void noteFailure(ResultCode result) {
    if (result == code::invalidElement) failure_ = result;
  }

  std::optional<AtspiRole> role();
  bool hasState(AtspiStateType state);
  // An object attribute; nothing when the element has no such attribute.
  std::optional<std::string_view> attribute(const char* name);

  // The role with the states it needs, and its object attributes when asked
  // for (only the text-entry roles have any that matter).
  RoleFacts roleFacts(bool withAttributes);
  // A password field; needs the role and, for text entries, the attributes.
  bool isSecureText();

  struct Extents {
    ResultCode code = code::failure;
    AtspiRect rect{};
    // False when the toolkit gave no screen position (its size still holds).
    bool positionKnown = false;
  };
  // The Component extents in screen coordinates (position and size come
  // from one call); -25205 without Component.
  const Extents& extents();

 private:
  AtspiAccessible* element_;
  ResultCode failure_ = code::success;
  std::optional<AtspiRole> role_;
  GRef<AtspiStateSet> states_;
  bool attributesAsked_ = false;
  GHashRef attributes_;
  std::optional<Extents> extents_;
};

// The whole text behind a Text interface; nothing when the call failed.
std::optional<std::string> wholeText(AtspiText* text);

}  // namespace focusctl::platform::atspi
