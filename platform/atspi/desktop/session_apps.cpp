#include "platform/atspi/desktop/session_apps.h"

#include <stdlib.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/atspi/desktop/app_identity.h"
#include "platform/atspi/bus/bus_client.h"
#include "platform/atspi/desktop/owned_fd.h"
#include "platform/atspi/desktop/session_bus.h"

namespace focusctl::platform::session {
namespace {

constexpr const char* busName = "org.freedesktop.DBus";
constexpr const char* busPath = "/org/freedesktop/DBus";
constexpr const char* kwinName = "org.kde.KWin";
// Of the names on the bus, at most this many are looked at (a desktop has a
// few dozen; each costs a look into the desktop-file folders), and at most
// so many candidates asked for their owner.
constexpr std::size_t maxNames = 1024;
constexpr std::size_t maxCandidates = 64;

Call withString(Call call, std::string argument) {
  call.append = [argument = std::move(argument)](sd_bus_message* message) {
    return sd_bus_message_append_basic(message, 's', argument.c_str());
  };
  return call;
}

// The script KWin runs: the process's topmost normal window or dialog
// becomes the active one (KWin 6 names what KWin 5 calls clients windows).
std::string activationScript(Pid pid) {
  return "(function () {\n"
         "  const pid = " + std::to_string(pid) + ";\n"
         "  const stack = workspace.stackingOrder || (workspace.windowList ? workspace.windowList()"
         " : workspace.clientList());\n"
         "  let chosen = null;\n"
         "  for (const window of stack) {\n"
         "    if (window && window.pid === pid && (window.normalWindow || window.dialog))\n"
         "      chosen = window;\n"
         "  }\n"
         "  if (!chosen) return;\n"
         "  if (chosen.minimized) chosen.minimized = false;\n"
         "  if ('activeWindow' in workspace) workspace.activeWindow = chosen;\n"
         "  else workspace.activeClient = chosen;\n"
         "})();\n";
}

// A new file of our own (never one that exists) in the user's runtime
// folder, holding the text; its path, or nothing.
std::optional<std::string> writtenFile(const std::string& text) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path = runtime != nullptr && *runtime == '/' ? runtime : "/tmp";
  path += "/focusctl-kwin-XXXXXX.js";
  OwnedFd file(::mkstemps(path.data(), 3));
  if (!file) return std::nullopt;
  std::string_view rest = text;
  while (!rest.empty()) {
    ssize_t written = ::write(file.fd(), rest.data(), rest.size());
    if (written <= 0) {
      ::unlink(path.c_str());
      return std::nullopt;
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  return path;
}

// Runs the script KWin loaded: KWin 5 serves it at /ID, KWin 6 at
// /Scripting/ScriptID.
bool ranScript(const Answer& loaded) {
  std::int32_t id = -1;
  if (sd_bus_message_read_basic(loaded.get(), 'i', &id) <= 0 || id < 0) return false;
  std::string number = std::to_string(id);
  std::vector<Answer> runs = callAll({{kwinName, "/" + number, "org.kde.kwin.Script", "run", {}},
                                      {kwinName, "/Scripting/Script" + number,
                                       "org.kde.kwin.Script", "run", {}}});
  return std::any_of(runs.begin(), runs.end(), [](const Answer& run) { return run != nullptr; });
}

}  // namespace

std::optional<std::string> ownedApplicationId(Pid pid) {
  if (pid <= 0) return std::nullopt;
  Answer listed = std::move(callAll({{busName, busPath, busName, "ListNames", {}}}).front());
  if (!listed || sd_bus_message_enter_container(listed.get(), 'a', "s") <= 0) {
    return std::nullopt;
  }
  // Only names that stand for an installed desktop file are asked about.
  std::vector<std::string> ids;
  std::vector<Call> owners;
  const char* name = nullptr;
  for (std::size_t seen = 0; seen < maxNames && ids.size() < maxCandidates; ++seen) {
    if (atspi::bus::outOfTime() || sd_bus_message_read_basic(listed.get(), 's', &name) <= 0) {
      break;
    }
    std::optional<std::string> id = identity::desktopIdOfBusName(name, pid);
    if (!id || !identity::desktopFileExists(*id)) continue;
    ids.push_back(std::move(*id));
    owners.push_back(
        withString({busName, busPath, busName, "GetConnectionUnixProcessID", {}}, name));
  }
  std::vector<Answer> answers = callAll(owners);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    std::uint32_t owner = 0;
    if (answers[i] && sd_bus_message_read_basic(answers[i].get(), 'u', &owner) > 0 &&
        owner == static_cast<std::uint32_t>(pid)) {
      return ids[i];
    }
  }
  return std::nullopt;
}

std::optional<bool> activateThroughKwin(Pid pid, const std::function<bool()>& cameToFront) {
  if (pid <= 0) return std::nullopt;
  std::optional<std::string> file = writtenFile(activationScript(pid));
  if (!file) return std::nullopt;
  // The file's own random name names the script: never one already loaded.
  std::string plugin = file->substr(file->rfind('/') + 1);
  plugin.resize(plugin.size() - 3);
  Call load{kwinName, "/Scripting", "org.kde.kwin.Scripting", "loadScript",
            [&file, &plugin](sd_bus_message* message) {
              return sd_bus_message_append(message, "ss", file->c_str(), plugin.c_str());
            }};
  Answer loaded = std::move(callAll({load}).front());
  std::optional<bool> activated;
  // Without KWin there is nothing to unload.
  if (loaded) {
    activated = ranScript(loaded) && cameToFront();
    callAll({withString({kwinName, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", {}},
                        plugin)});
  }
  ::unlink(file->c_str());
  return activated;
}

bool activateByName(const std::string& name, const std::string& activationToken) {
  // GApplication's object path: the name with '.' as '/' and '-' as '_'.
  std::string path = "/" + name;
  std::replace(path.begin(), path.end(), '.', '/');
  std::replace(path.begin(), path.end(), '-', '_');
  Call activate{name, path, "org.freedesktop.Application", "Activate",
                [&activationToken](sd_bus_message* message) {
                  // GTK 4 reads the Wayland token, GTK 3 the startup id.
                  return sd_bus_message_append(message, "a{sv}", 2, "activation-token", "s",
                                               activationToken.c_str(), "desktop-startup-id", "s",
                                               activationToken.c_str());
                }};
  return callAll({activate}).front() != nullptr;
}

}  // namespace focusctl::platform::session
