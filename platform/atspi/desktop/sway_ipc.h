// sway's IPC (the i3 protocol on $SWAYSOCK): on a Wayland session the one
// way for a client to bring another application's window to the front, and
// the compositor's own id for the application.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace focusctl::platform::sway {

struct View {
  std::string appId;   // "" for an X11 window or a client that set none
  bool xwayland = false;
};

// The first view in a get_tree reply that the process owns.
std::optional<View> viewInTree(std::string_view tree, Pid pid);

// Whether every command of a run_command reply succeeded.
bool commandsSucceeded(std::string_view reply);

// Focuses the process's window. Nothing when no sway answers on $SWAYSOCK;
// else whether the compositor did it (false when the process has no window).
std::optional<bool> focusWindowOf(Pid pid);

// The process's view, when sway answers on $SWAYSOCK and shows one.
std::optional<View> viewOfPid(Pid pid);

}  // namespace focusctl::platform::sway
