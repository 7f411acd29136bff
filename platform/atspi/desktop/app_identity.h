// Who an application is, as the desktop itself knows it: the Flatpak
// sandbox it runs in, the systemd unit its launcher put it in and the
// desktop file its well-known bus name stands for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace focusctl::platform::identity {

// The [Application] name of a .flatpak-info key file.
std::optional<std::string> flatpakNameFromInfo(std::string_view keyFile);

// The unified (v2) cgroup path of a /proc/PID/cgroup text, or on a v1
// hierarchy the name=systemd one.
std::optional<std::string> cgroupPathFromText(std::string_view procCgroup);

// The application id in the deepest unit of a cgroup path that follows the
// launchers' convention: app[-<launcher>]-<id>-<random>.scope or
// app[-<launcher>]-<id>[@<random>].service, with the id unescaped.
std::optional<std::string> applicationIdFromCgroupPath(std::string_view path);

// The Flatpak application id of the process's sandbox.
std::optional<std::string> flatpakApplicationId(Pid pid);

// The application id of the unit a launcher started the process in. Only
// for the process the launcher started: a child that inherited its parent's
// unit (a program run from a terminal) is not that application.
std::optional<std::string> launchedApplicationId(Pid pid);

// The desktop-file id a well-known session bus name owned by the process
// would stand for: the name itself (GApplication, KDE's unique
// applications), or without a trailing "-<pid>" (KDE applications that run
// once per process). Nothing for a unique name or the bus's own.
std::optional<std::string> desktopIdOfBusName(std::string_view name, Pid pid);

// Whether a desktop file with that id is installed: NAME.desktop in the
// applications folder of $XDG_DATA_HOME or of one of $XDG_DATA_DIRS (their
// defaults when unset).
bool desktopFileExists(const std::string& id);

}  // namespace focusctl::platform::identity
