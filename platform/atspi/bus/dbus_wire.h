// D-Bus itself on the wire: how a method, a property and a signal are
// named, the bus daemon's own members, and the error names calls end with.
#pragma once

#include <string_view>

namespace focusctl::platform::atspi::bus {

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

// A signal; where only those whose first argument is a given text count,
// that text (a match rule's arg0), else empty.
struct Signal {
  std::string_view interface;
  std::string_view member;
  std::string_view arg0;
};

inline constexpr Method propertyGet{"org.freedesktop.DBus.Properties", "Get", "ss", "v"};

// The bus daemon.
inline constexpr std::string_view daemonName = "org.freedesktop.DBus";
inline constexpr std::string_view daemonPath = "/org/freedesktop/DBus";
inline constexpr Method getConnectionPid{daemonName, "GetConnectionUnixProcessID", "s", "u"};
inline constexpr Method nameHasOwner{daemonName, "NameHasOwner", "s", "b"};
inline constexpr Method startServiceByName{daemonName, "StartServiceByName", "su", "u"};
// Its news of names coming and going.
inline constexpr std::string_view nameOwnerChangedRule =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged'";

// Error names: the call's time ran out (or its destination left without
// answering); the object lacks the method or interface; the call could not
// be made or its reply had another shape.
inline constexpr std::string_view noReply = "org.freedesktop.DBus.Error.NoReply";
inline constexpr std::string_view unknownMethod = "org.freedesktop.DBus.Error.UnknownMethod";
inline constexpr std::string_view unknownInterface = "org.freedesktop.DBus.Error.UnknownInterface";
inline constexpr std::string_view disconnected = "org.freedesktop.DBus.Error.Disconnected";
inline constexpr std::string_view invalidArgs = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr std::string_view invalidSignature = "org.freedesktop.DBus.Error.InvalidSignature";

}  // namespace focusctl::platform::atspi::bus
