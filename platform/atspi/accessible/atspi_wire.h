// Every AT-SPI D-Bus member focusctl uses, with its wire signature: the one
// place that says what goes over the bus. The typed calls (atspi_calls.h)
// send exactly these and refuse a reply whose signature differs, so an
// application that answers something else reads as a failed call, never as
// a wrong value.
#pragma once

#include <string_view>

namespace focusctl::platform::atspi::wire {

// A method: its interface, name, argument signature and reply signature.
struct Method {
  std::string_view interface;
  std::string_view member;
  std::string_view in;
  std::string_view out;
};

// A property read through org.freedesktop.DBus.Properties.Get: the
// variant's content signature.
struct Property {
  std::string_view interface;
  std::string_view name;
  std::string_view type;
};

// An event signal: every one starts with the event's detail (s), detail1
// (i), detail2 (i) and any_data (v); later versions append more, which is
// ignored.
struct Signal {
  std::string_view interface;
  std::string_view member;
  // libatspi's name of the event, which the registry takes in
  // RegisterEvent: "object:state-changed:focused" and the like.
  std::string_view eventName;
  // The detail the signal carries in its first argument, when the rule is
  // for one detail only ("focused"); empty for all.
  std::string_view detail;
};

inline constexpr std::string_view eventPrefix = "siiv";

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
inline constexpr std::string_view propertiesInterface = "org.freedesktop.DBus.Properties";

// Where the accessibility bus is announced on the session bus.
inline constexpr Method getBusAddress{"org.a11y.Bus", "GetAddress", "", "s"};
inline constexpr std::string_view busLauncherName = "org.a11y.Bus";
inline constexpr std::string_view busLauncherPath = "/org/a11y/bus";

// The bus daemon.
inline constexpr std::string_view busDaemonName = "org.freedesktop.DBus";
inline constexpr std::string_view busDaemonPath = "/org/freedesktop/DBus";
inline constexpr Method getConnectionPid{"org.freedesktop.DBus",
                                         "GetConnectionUnixProcessID", "s", "u"};
inline constexpr Method nameHasOwner{"org.freedesktop.DBus", "NameHasOwner", "s", "b"};
inline constexpr Method startServiceByName{"org.freedesktop.DBus", "StartServiceByName", "su",
                                           "u"};

inline constexpr Method propertyGet{propertiesInterface, "Get", "ss", "v"};

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
inline constexpr Property actionCount{actionInterface, "NActions", "i"};

// Value.
inline constexpr Property currentValue{valueInterface, "CurrentValue", "d"};

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
inline constexpr Method deregisterEvent{registryInterface, "DeregisterEvent", "s", ""};

// The events focusctl follows.
inline constexpr std::string_view objectEvents = "org.a11y.atspi.Event.Object";
inline constexpr std::string_view windowEvents = "org.a11y.atspi.Event.Window";
inline constexpr Signal focusedChanged{objectEvents, "StateChanged",
                                       "object:state-changed:focused", "focused"};
inline constexpr Signal activeChanged{objectEvents, "StateChanged",
                                      "object:state-changed:active", "active"};
// A toggle's value is its state: checked, pressed or selected.
inline constexpr Signal checkedChanged{objectEvents, "StateChanged",
                                       "object:state-changed:checked", "checked"};
inline constexpr Signal pressedChanged{objectEvents, "StateChanged",
                                       "object:state-changed:pressed", "pressed"};
inline constexpr Signal selectedChanged{objectEvents, "StateChanged",
                                        "object:state-changed:selected", "selected"};
inline constexpr Signal textChanged{objectEvents, "TextChanged", "object:text-changed", ""};
inline constexpr Signal valueChanged{objectEvents, "PropertyChange",
                                     "object:property-change:accessible-value",
                                     "accessible-value"};
inline constexpr Signal windowActivated{windowEvents, "Activate", "window:activate", ""};
inline constexpr Signal windowDeactivated{windowEvents, "Deactivate", "window:deactivate", ""};

// The bus daemon's news of names coming and going: an application leaving,
// the registry restarting.
inline constexpr std::string_view nameOwnerChangedRule =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged'";

// Error names that say the object or its application is gone.
inline constexpr std::string_view unknownObject = "org.freedesktop.DBus.Error.UnknownObject";
inline constexpr std::string_view unknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
inline constexpr std::string_view serviceUnknown = "org.freedesktop.DBus.Error.ServiceUnknown";
inline constexpr std::string_view noReply = "org.freedesktop.DBus.Error.NoReply";

}  // namespace focusctl::platform::atspi::wire
