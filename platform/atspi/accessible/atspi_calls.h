// The AT-SPI calls focusctl makes, typed. Each sends at once and answers
// through a Reply (bus_client.h), so independent calls travel together.
// Each names the libatspi call it stands in for, so that code written
// against libatspi can move over one call at a time.
#pragma once

#include <atspi/atspi-constants.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atspi/accessible/atspi_wire.h"
#include "platform/atspi/bus/bus_client.h"

namespace focusctl::platform::atspi::calls {

using bus::Reply;

// A state set as its two 32-bit words on the wire, low word first.
using StateBits = std::uint64_t;
constexpr bool hasState(StateBits states, AtspiStateType state) {
  return state >= 0 && state < 64 && (states & (StateBits{1} << state)) != 0;
}
constexpr StateBits stateBit(AtspiStateType state) { return StateBits{1} << state; }

struct Rect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

struct Relation {
  std::uint32_t type = 0;  // AtspiRelationType
  std::vector<ObjectRef> targets;
};

struct ActionInfo {
  std::string name;
  std::string description;
  std::string keyBinding;
};

using Attributes = std::map<std::string, std::string>;

// The most entries kept of any list an application answers (children,
// matches, attributes, actions, ...); the rest are read past unkept. Far
// above what real applications list in one answer.
inline constexpr std::size_t maxListed = 50'000;

// The registry's root: its children are the applications' roots
// (atspi_get_desktop).
ObjectRef desktop();

// Accessible.
Reply<std::uint32_t> role(const ObjectRef& object);          // atspi_accessible_get_role
Reply<StateBits> states(const ObjectRef& object);            // atspi_accessible_get_state_set
Reply<Attributes> attributes(const ObjectRef& object);       // atspi_accessible_get_attributes
Reply<std::string> name(const ObjectRef& object);            // atspi_accessible_get_name
Reply<std::string> description(const ObjectRef& object);     // atspi_accessible_get_description
Reply<std::string> accessibleId(const ObjectRef& object);    // atspi_accessible_get_accessible_id
Reply<std::int32_t> childCount(const ObjectRef& object);     // atspi_accessible_get_child_count
Reply<ObjectRef> childAtIndex(const ObjectRef& object, std::int32_t index);
                                                             // atspi_accessible_get_child_at_index
Reply<std::vector<ObjectRef>> children(const ObjectRef& object);  // all at once
Reply<ObjectRef> parent(const ObjectRef& object);            // atspi_accessible_get_parent
Reply<ObjectRef> application(const ObjectRef& object);       // atspi_accessible_get_application
Reply<std::vector<Relation>> relations(const ObjectRef& object);
                                                             // atspi_accessible_get_relation_set
// The interface names the object implements; stands in for every
// atspi_accessible_get_*_iface (one call answers them all).
Reply<std::vector<std::string>> interfaces(const ObjectRef& object);

// Component: extents in screen coordinates, or in the window's
// (atspi_component_get_extents).
Reply<Rect> extents(const ObjectRef& object, unsigned coordinates = wire::screenCoordinates);

// Text: from start to end (-1: the end) (atspi_text_get_text), and its length
// (atspi_text_get_character_count).
Reply<std::string> text(const ObjectRef& object, std::int32_t start = 0, std::int32_t end = -1);
Reply<std::int32_t> characterCount(const ObjectRef& object);

// EditableText (atspi_editable_text_set_text_contents).
Reply<bool> setTextContents(const ObjectRef& object, std::string_view text);

// The caret and the selections (atspi_text_get_caret_offset,
// atspi_text_set_caret_offset, atspi_text_get_n_selections,
// atspi_text_get_selection), and edits at an offset
// (atspi_editable_text_insert_text, atspi_editable_text_delete_text).
struct Span {
  std::int32_t start = 0;
  std::int32_t end = 0;
};
Reply<std::int32_t> caretOffset(const ObjectRef& object);
Reply<bool> setCaretOffset(const ObjectRef& object, std::int32_t offset);
Reply<std::int32_t> selectionCount(const ObjectRef& object);
Reply<Span> selection(const ObjectRef& object, std::int32_t index);
Reply<bool> insertText(const ObjectRef& object, std::int32_t position, std::string_view text,
                       std::int32_t length);
Reply<bool> deleteText(const ObjectRef& object, std::int32_t start, std::int32_t end);

// Action: every action's name, description and key binding in one call
// (atspi_action_get_n_actions with atspi_action_get_action_name), one name,
// and performing one (atspi_action_do_action).
Reply<std::vector<ActionInfo>> actions(const ObjectRef& object);
Reply<std::string> actionName(const ObjectRef& object, std::int32_t index);
Reply<bool> doAction(const ObjectRef& object, std::int32_t index);

// Collection: up to count descendants (0: all) that hold every state in
// wanted and, where roles names some, have one of them, in document order
// (atspi_collection_get_matches).
using RoleBits = std::uint64_t;  // roles below 64, a bit each
constexpr RoleBits roleBit(AtspiRole role) { return RoleBits{1} << role; }
Reply<std::vector<ObjectRef>> matchesWithStates(const ObjectRef& object, StateBits wanted,
                                                std::int32_t count, RoleBits roles = 0);

// Application (atspi_accessible_get_toolkit_name and _version).
Reply<std::string> toolkitName(const ObjectRef& application);
Reply<std::string> toolkitVersion(const ObjectRef& application);

// The process behind a unique bus name, from the bus daemon
// (atspi_accessible_get_process_id).
Reply<std::uint32_t> connectionPid(const std::string& busName);

}  // namespace focusctl::platform::atspi::calls
