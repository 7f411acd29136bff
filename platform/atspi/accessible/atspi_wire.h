// Every AT-SPI member focusctl uses, with its wire signature: the one place
// that says what goes over the accessibility bus (D-Bus's own members are in
// bus/dbus_wire.h). The typed calls (atspi_calls.h) send exactly these and
// refuse a reply whose signature differs, so an application that answers
// something else reads as a failed call, never as a wrong value.
#pragma once

#include <string>
#include <string_view>

#include "platform/atspi/bus/dbus_wire.h"

namespace focusctl::platform::atspi::wire {

using bus::Method;
using bus::Property;

// An event signal: every one starts with the event's detail (s), detail1
// (i), detail2 (i) and any_data (v); later versions append more, which is
// ignored. Its match's arg0 is the detail, where the rule is for one detail
// only ("focused").
struct Signal {
  bus::Signal match;
  // libatspi's name of the event, which the registry takes in
  // RegisterEvent: "object:state-changed:focused" and the like.
  std::string_view eventName;
};

inline constexpr std::string_view registryName = "org.a11y.atspi.Registry";
inline constexpr std::string_view rootPath = "/org/a11y/atspi/accessible/root";
inline constexpr std::string_view registryPath = "/org/a11y/atspi/registry";
// AT-SPI's null reference, e.g. the parent of an application's root.
inline constexpr std::string_view nullPath = "/org/a11y/atspi/null";

inline constexpr std::string_view accessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr std::string_view componentInterface = "org.a11y.atspi.Component";
inline constexpr std::string_view textInterface = "org.a11y.atspi.Text";
inline constexpr std::string_view editableTextInterface = "org.a11y.atspi.EditableText";
inline constexpr std::string_view actionInterface = "org.a11y.atspi.Action";
inline constexpr std::string_view collectionInterface = "org.a11y.atspi.Collection";
inline constexpr std::string_view applicationInterface = "org.a11y.atspi.Application";
inline constexpr std::string_view valueInterface = "org.a11y.atspi.Value";
inline constexpr std::string_view registryInterface = "org.a11y.atspi.Registry";

// Where the accessibility bus is announced on the session bus.
inline constexpr Method getBusAddress{"org.a11y.Bus", "GetAddress", "", "s"};
inline constexpr std::string_view busLauncherName = "org.a11y.Bus";
inline constexpr std::string_view busLauncherPath = "/org/a11y/bus";

// Accessible.
inline constexpr Method getRole{accessibleInterface, "GetRole", "", "u"};
inline constexpr Method getState{accessibleInterface, "GetState", "", "au"};
inline constexpr Method getAttributes{accessibleInterface, "GetAttributes", "", "a{ss}"};
inline constexpr Method getChildAtIndex{accessibleInterface, "GetChildAtIndex", "i", "(so)"};
inline constexpr Method getChildren{accessibleInterface, "GetChildren", "", "a(so)"};
inline constexpr Method getRelationSet{accessibleInterface, "GetRelationSet", "", "a(ua(so))"};
inline constexpr Method getApplication{accessibleInterface, "GetApplication", "", "(so)"};
inline constexpr Method getInterfaces{accessibleInterface, "GetInterfaces", "", "as"};
inline constexpr Property name{accessibleInterface, "Name", "s"};
inline constexpr Property description{accessibleInterface, "Description", "s"};
inline constexpr Property accessibleId{accessibleInterface, "AccessibleId", "s"};
inline constexpr Property childCount{accessibleInterface, "ChildCount", "i"};
inline constexpr Property parent{accessibleInterface, "Parent", "(so)"};

// Component: extents in screen (0) or window (1) coordinates.
inline constexpr Method getExtents{componentInterface, "GetExtents", "u", "(iiii)"};
inline constexpr unsigned screenCoordinates = 0;
inline constexpr unsigned windowCoordinates = 1;

// Text and EditableText.
inline constexpr Method getText{textInterface, "GetText", "ii", "s"};
inline constexpr Property characterCount{textInterface, "CharacterCount", "i"};
inline constexpr Method setTextContents{editableTextInterface, "SetTextContents", "s", "b"};
// The caret and the selection (offsets in the toolkit's own count), and
// the edits at them: InsertText's last argument is the text's length.
inline constexpr Property caretOffset{textInterface, "CaretOffset", "i"};
inline constexpr Method setCaretOffset{textInterface, "SetCaretOffset", "i", "b"};
inline constexpr Method getNSelections{textInterface, "GetNSelections", "", "i"};
inline constexpr Method getSelection{textInterface, "GetSelection", "i", "ii"};
inline constexpr Method insertText{editableTextInterface, "InsertText", "isi", "b"};
inline constexpr Method deleteText{editableTextInterface, "DeleteText", "ii", "b"};

// Action.
inline constexpr Method getActions{actionInterface, "GetActions", "", "a(sss)"};
inline constexpr Method getActionName{actionInterface, "GetName", "i", "s"};
inline constexpr Method doAction{actionInterface, "DoAction", "i", "b"};

// Collection: the match rule is (states, state match, attributes, attribute
// match, roles, role match, interfaces, interface match, invert).
inline constexpr Method getMatches{collectionInterface, "GetMatches",
                                   "(aiia{ss}iaiiasib)uib", "a(so)"};
inline constexpr int matchAll = 1;
inline constexpr int matchAny = 2;
inline constexpr unsigned sortCanonical = 1;

// Application.
inline constexpr Property toolkitName{applicationInterface, "ToolkitName", "s"};
inline constexpr Property toolkitVersion{applicationInterface, "Version", "s"};

// The registry: which events applications are to send.
inline constexpr Method registerEvent{registryInterface, "RegisterEvent", "sass", ""};

// The events focusctl follows.
inline constexpr std::string_view objectEvents = "org.a11y.atspi.Event.Object";
inline constexpr std::string_view windowEvents = "org.a11y.atspi.Event.Window";
inline constexpr Signal focusedChanged{{objectEvents, "StateChanged", "focused"},
                                       "object:state-changed:focused"};
inline constexpr Signal activeChanged{{objectEvents, "StateChanged", "active"},
                                      "object:state-changed:active"};
// A toggle's value is its state: checked, pressed or selected.
inline constexpr Signal checkedChanged{{objectEvents, "StateChanged", "checked"},
                                       "object:state-changed:checked"};
inline constexpr Signal pressedChanged{{objectEvents, "StateChanged", "pressed"},
                                       "object:state-changed:pressed"};
inline constexpr Signal selectedChanged{{objectEvents, "StateChanged", "selected"},
                                        "object:state-changed:selected"};
inline constexpr Signal textChanged{{objectEvents, "TextChanged", ""}, "object:text-changed"};
inline constexpr Signal valueChanged{{objectEvents, "PropertyChange", "accessible-value"},
                                     "object:property-change:accessible-value"};
inline constexpr Signal windowActivated{{windowEvents, "Activate", ""}, "window:activate"};
inline constexpr Signal windowDeactivated{{windowEvents, "Deactivate", ""}, "window:deactivate"};

}  // namespace focusctl::platform::atspi::wire

namespace focusctl::platform::atspi {

// An accessible object: its application's unique bus name and its path.
struct ObjectRef {
  std::string bus;
  std::string path;
  // AT-SPI's null reference, or nothing at all.
  bool isNull() const { return bus.empty() || path.empty() || path == wire::nullPath; }
  friend auto operator<=>(const ObjectRef&, const ObjectRef&) = default;
};

}  // namespace focusctl::platform::atspi
