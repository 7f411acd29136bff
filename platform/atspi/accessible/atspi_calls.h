// The AT-SPI calls focusctl makes, typed. Each sends at once and answers
// through a Reply (bus_client.h), so independent calls travel together.
// Each names the libatspi call it stands in for, so that code written
// against libatspi can move over one call at a time.
#pragma once

#include <atspi/atspi-constants.h>

#include <cstdint>
#include <map>
#include <string>
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

// A typed call: the method sent with its arguments, or the property read,
// with the reply read as T. Only the types atspi_calls.cpp instantiates.
template <typename T, typename... Args>
struct MethodCall {
  const wire::Method& method;
  Reply<T> operator()(const ObjectRef& object, Args... args) const;
};
template <typename T>
struct PropertyGet {
  const wire::Property& property;
  Reply<T> operator()(const ObjectRef& object) const;
};

// Accessible: atspi_accessible_get_role, _get_state_set, _get_attributes,
// _get_name, _get_description, _get_accessible_id, _get_child_count,
// _get_child_at_index, all children at once, _get_parent, _get_application
// and _get_relation_set.
inline constexpr MethodCall<std::uint32_t> role{wire::getRole};
inline constexpr MethodCall<StateBits> states{wire::getState};
inline constexpr MethodCall<Attributes> attributes{wire::getAttributes};
inline constexpr PropertyGet<std::string> name{wire::name};
inline constexpr PropertyGet<std::string> description{wire::description};
inline constexpr PropertyGet<std::string> accessibleId{wire::accessibleId};
inline constexpr PropertyGet<std::int32_t> childCount{wire::childCount};
inline constexpr MethodCall<ObjectRef, std::int32_t> childAtIndex{wire::getChildAtIndex};
inline constexpr MethodCall<std::vector<ObjectRef>> children{wire::getChildren};
inline constexpr PropertyGet<ObjectRef> parent{wire::parent};
inline constexpr MethodCall<ObjectRef> application{wire::getApplication};
inline constexpr MethodCall<std::vector<Relation>> relations{wire::getRelationSet};
// The interface names the object implements; stands in for every
// atspi_accessible_get_*_iface (one call answers them all).
inline constexpr MethodCall<std::vector<std::string>> interfaces{wire::getInterfaces};

// Component: extents in screen coordinates, or in the window's
// (atspi_component_get_extents).
inline constexpr MethodCall<Rect, unsigned> extents{wire::getExtents};

// Text: from start to end (-1: the end) (atspi_text_get_text), and its length
// (atspi_text_get_character_count).
inline constexpr MethodCall<std::string, std::int32_t, std::int32_t> text{wire::getText};
inline constexpr PropertyGet<std::int32_t> characterCount{wire::characterCount};

// EditableText (atspi_editable_text_set_text_contents).
inline constexpr MethodCall<bool, std::string> setTextContents{wire::setTextContents};

// The caret and the selections (atspi_text_get_caret_offset,
// atspi_text_set_caret_offset, atspi_text_get_n_selections,
// atspi_text_get_selection), and edits at an offset
// (atspi_editable_text_insert_text, atspi_editable_text_delete_text).
struct Span {
  std::int32_t start = 0;
  std::int32_t end = 0;
};
inline constexpr PropertyGet<std::int32_t> caretOffset{wire::caretOffset};
inline constexpr MethodCall<bool, std::int32_t> setCaretOffset{wire::setCaretOffset};
inline constexpr MethodCall<std::int32_t> selectionCount{wire::getNSelections};
inline constexpr MethodCall<Span, std::int32_t> selection{wire::getSelection};
inline constexpr MethodCall<bool, std::int32_t, std::string, std::int32_t> insertText{
    wire::insertText};
inline constexpr MethodCall<bool, std::int32_t, std::int32_t> deleteText{wire::deleteText};

// Action: every action's name, description and key binding in one call
// (atspi_action_get_n_actions with atspi_action_get_action_name), one name,
// and performing one (atspi_action_do_action).
inline constexpr MethodCall<std::vector<ActionInfo>> actions{wire::getActions};
inline constexpr MethodCall<std::string, std::int32_t> actionName{wire::getActionName};
inline constexpr MethodCall<bool, std::int32_t> doAction{wire::doAction};

// Collection: up to count descendants (0: all) that hold every state in
// wanted and, where roles names some, have one of them, in document order
// (atspi_collection_get_matches).
using RoleBits = std::uint64_t;  // roles below 64, a bit each
constexpr RoleBits roleBit(AtspiRole bit) { return RoleBits{1} << bit; }
Reply<std::vector<ObjectRef>> matchesWithStates(const ObjectRef& object, StateBits wanted,
                                                std::int32_t count, RoleBits roles = 0);

// Application (atspi_accessible_get_toolkit_name and _version).
inline constexpr PropertyGet<std::string> toolkitName{wire::toolkitName};
inline constexpr PropertyGet<std::string> toolkitVersion{wire::toolkitVersion};

// The process behind a unique bus name, from the bus daemon
// (atspi_accessible_get_process_id).
Reply<std::uint32_t> connectionPid(const std::string& busName);

}  // namespace focusctl::platform::atspi::calls
