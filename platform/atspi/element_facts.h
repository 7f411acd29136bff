// What one operation learns about an element: its role, state set and object
// attributes, each asked over the bus at most once and only when needed.
// Made afresh for every operation, so nothing outlives it.
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

  // After a call failed, the code for it; the answers asked for since are
  // then empty.
  bool failed() const { return failure_ != code::success; }
  ResultCode failure() const { return failure_; }

  std::optional<AtspiRole> role();
  bool hasState(AtspiStateType state);
  // An object attribute; nothing when the element has no such attribute.
  std::optional<std::string_view> attribute(const char* name);

  // The role with the states it needs, and its object attributes when asked
  // for (only the text-entry roles have any that matter).
  RoleFacts roleFacts(bool withAttributes);

 private:
  AtspiAccessible* element_;
  ResultCode failure_ = code::success;
  std::optional<AtspiRole> role_;
  GRef<AtspiStateSet> states_;
  bool attributesAsked_ = false;
  GHashRef attributes_;
};

// The whole text behind a Text interface; nothing when the call failed.
std::optional<std::string> wholeText(AtspiText* text);

}  // namespace focusctl::platform::atspi
