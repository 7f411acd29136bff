// What the session bus knows of applications: the well-known name an
// application owns (its desktop-file id), and the activation requests KWin
// and GApplication take there. GNOME and KDE Wayland sessions let no client
// raise another's window through the display server.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace focusctl::platform::session {

// The desktop-file id among the well-known names the process owns on the
// session bus (identity::desktopIdOfBusName, with the desktop file
// installed).
std::optional<std::string> ownedApplicationId(Pid pid);

// A script loaded into KWin that activates the process's topmost window; it
// is unloaded and its file removed when this goes.
class KwinActivation {
 public:
  // Nothing when KWin does not answer on the session bus.
  static std::optional<KwinActivation> start(Pid pid);
  KwinActivation(KwinActivation&& other) noexcept;
  KwinActivation& operator=(KwinActivation&&) = delete;
  ~KwinActivation();
  // KWin accepted the script and ran it.
  bool ran() const { return ran_; }

 private:
  KwinActivation(std::string file, std::string plugin)
      : file_(std::move(file)), plugin_(std::move(plugin)) {}
  std::string file_;
  std::string plugin_;
  bool ran_ = false;
};

// Asks the application owning the well-known name to activate itself
// (org.freedesktop.Application.Activate), handing on the activation token
// that lets it take the focus. Whether the application accepted the call.
bool activateByName(const std::string& name, const std::string& activationToken);

}  // namespace focusctl::platform::session
