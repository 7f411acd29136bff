// What the session bus knows of applications: the well-known name an
// application owns (its desktop-file id), and the activation requests KWin
// and GApplication take there. GNOME and KDE Wayland sessions let no client
// raise another's window through the display server.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace focusctl::platform::session {

// The desktop-file id among the well-known names the process owns on the
// session bus (identity::desktopIdOfBusName, with the desktop file
// installed).
std::optional<std::string> ownedApplicationId(Pid pid);

// Loads a script into KWin that activates the process's topmost window, and
// asks cameToFront while it is loaded; then unloads it and removes its file.
// Nothing when KWin does not answer on the session bus; else whether KWin
// ran the script and cameToFront said yes.
std::optional<bool> activateThroughKwin(Pid pid, const std::function<bool()>& cameToFront);

// Asks the application owning the well-known name to activate itself
// (org.freedesktop.Application.Activate), handing on the activation token
// that lets it take the focus. Whether the application accepted the call.
bool activateByName(const std::string& name, const std::string& activationToken);

}  // namespace focusctl::platform::session
