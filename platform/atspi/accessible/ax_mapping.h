// The AX vocabulary spoken over AT-SPI facts: role and subrole names, which
// action is the press, and what a D-Bus error says about an element. Pure
// functions of the facts, so that the whole table can be tested without a
// desktop.
#pragma once

#include <atspi/atspi-constants.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace focusctl::platform::atspi {

// What decides an element's AX role and subrole besides its AT-SPI role.
struct RoleFacts {
  AtspiRole role = ATSPI_ROLE_INVALID;
  bool multiLine = false;          // state MULTI_LINE
  bool editable = false;           // state EDITABLE (asked of text entries,
                                   // combo boxes and group roles)
  std::string_view textInputType;  // object attribute "text-input-type"
  std::string_view xmlRoles;       // object attribute "xml-roles"
};

// Whether the role is one where the state set or object attributes change
// the answer, so that they are worth asking for.
bool roleNeedsStates(AtspiRole role);
bool roleNeedsAttributes(AtspiRole role);

std::string_view axRole(const RoleFacts& facts);
// The empty text when the element has no subrole.
std::string_view axSubrole(const RoleFacts& facts);

// The text-entry roles: text, entry, password text, editbar.
bool isTextFieldRole(AtspiRole role);

// A password entry: its value is never read.
bool isSecureText(const RoleFacts& facts);

// Roles of top-level windows, whose activation is an application's.
bool isWindowRole(AtspiRole role);

// Roles whose AX value is a number or a state rather than a text.
bool hasNonTextValue(AtspiRole role);

// The action that performs "AXPress": the first of "press", "click" and
// "activate" (any letter case), else the first other action that names a
// click in some toolkit; none when no action is a press.
std::optional<int> pressActionIndex(const std::vector<std::string>& names);

// Whether the accessible name was taken from the placeholder, as Chromium
// says in the object attribute "name-from".
bool nameIsPlaceholder(std::optional<std::string_view> nameFrom);

// What a failed call's D-Bus error name says about the element it was made on.
enum class Liveness { vanished, unreachable };
Liveness livenessFromErrorName(std::string_view errorName);

}  // namespace focusctl::platform::atspi
