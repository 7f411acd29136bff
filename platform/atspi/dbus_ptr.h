// Owning wrappers for libdbus messages and pending calls.
#pragma once

#include <dbus/dbus.h>

#include <memory>

namespace focusctl::platform::atspi {

struct DBusMessageUnref {
  void operator()(DBusMessage* message) const noexcept {
    if (message != nullptr) dbus_message_unref(message);
  }
};
using DBusMessagePtr = std::unique_ptr<DBusMessage, DBusMessageUnref>;

struct DBusPendingCallUnref {
  void operator()(DBusPendingCall* pending) const noexcept {
    if (pending != nullptr) dbus_pending_call_unref(pending);
  }
};
using DBusPendingCallPtr = std::unique_ptr<DBusPendingCall, DBusPendingCallUnref>;

}  // namespace focusctl::platform::atspi
