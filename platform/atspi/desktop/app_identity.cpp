#include "platform/atspi/desktop/app_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <vector>

#include "platform/atspi/desktop/owned_fd.h"

namespace focusctl::platform::identity {
namespace {

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

bool consumePrefix(std::string_view& text, std::string_view prefix) {
  if (!text.starts_with(prefix)) return false;
  text.remove_prefix(prefix.size());
  return true;
}

bool consumeSuffix(std::string_view& text, std::string_view suffix) {
  if (!text.ends_with(suffix)) return false;
  text.remove_suffix(suffix.size());
  return true;
}

// Undoes systemd's unit name escaping (\xNN for every byte that a unit name
// cannot carry, "-" among them). A malformed escape makes the name unusable.
std::optional<std::string> unescapedUnitPart(std::string_view part) {
  std::string text;
  for (std::size_t i = 0; i < part.size(); ++i) {
    if (part[i] != '\\') {
      text += part[i];
      continue;
    }
    if (i + 3 >= part.size() || part[i + 1] != 'x') return std::nullopt;
    unsigned byte = 0;
    const char* digits = part.data() + i + 2;
    if (std::from_chars(digits, digits + 2, byte, 16).ptr != digits + 2) return std::nullopt;
    text += static_cast<char>(byte);
    i += 3;
  }
  return text;
}

std::optional<std::string> applicationIdOfUnit(std::string_view unit) {
  if (!consumePrefix(unit, "app-")) return std::nullopt;
  std::vector<std::string_view> parts;
  if (consumeSuffix(unit, ".scope")) {
    // [<launcher>-]<id>-<random>: the random part is required.
    parts = split(unit, '-');
    if (parts.size() != 2 && parts.size() != 3) return std::nullopt;
    if (parts.back().empty()) return std::nullopt;
    parts.pop_back();
  } else if (consumeSuffix(unit, ".service")) {
    // [<launcher>-]<id>[@<random>]
    unit = unit.substr(0, unit.find('@'));
    parts = split(unit, '-');
    if (parts.size() != 1 && parts.size() != 2) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (parts.size() == 2 && parts.front().empty()) return std::nullopt;
  std::optional<std::string> id = unescapedUnitPart(parts.back());
  if (!id || id->empty()) return std::nullopt;
  return id;
}

std::optional<std::string> fileText(const std::string& path) {
  // Opened without blocking, and read only when it is a plain file: a
  // sandbox's root is the application's to shape, and a pipe or a device
  // there would hold the command.
  OwnedFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat status {};
  if (!file || ::fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  // /proc texts are small; a sandbox's info file is too, and a larger one is
  // no info file.
  std::string text;
  constexpr std::size_t limit = 64 * 1024;
  char chunk[4096];
  ssize_t got = 0;
  while ((got = ::read(file.fd(), chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(got));
    if (text.size() > limit) break;
  }
  if (got < 0 || text.size() > limit) return std::nullopt;
  return text;
}

std::string procPath(Pid pid, const char* entry) {
  return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::optional<std::string> cgroupPathOf(Pid pid) {
  std::optional<std::string> text = fileText(procPath(pid, "cgroup"));
  return text ? cgroupPathFromText(*text) : std::nullopt;
}

std::optional<Pid> parentOf(Pid pid) {
  std::optional<std::string> status = fileText(procPath(pid, "status"));
  if (!status) return std::nullopt;
  for (std::string_view line : split(*status, '\n')) {
    if (!consumePrefix(line, "PPid:")) continue;
    line = trimmed(line);
    Pid parent = 0;
    auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), parent);
    if (error != std::errc() || end != line.data() + line.size() || parent <= 0) {
      return std::nullopt;
    }
    return parent;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> desktopIdOfBusName(std::string_view name, Pid pid) {
  // A file name: no unique name (":1.42"), no path, no hidden file.
  if (name.empty() || name.front() == ':' || name.front() == '.' ||
      name.find('/') != std::string_view::npos || name == "org.freedesktop.DBus") {
    return std::nullopt;
  }
  consumeSuffix(name, "-" + std::to_string(pid));
  if (name.empty()) return std::nullopt;
  return std::string(name);
}

bool desktopFileExists(const std::string& id) {
  static const std::vector<std::string> folders = [] {
    std::vector<std::string> found;
    const char* home = std::getenv("HOME");
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && *dataHome == '/') {
      found.push_back(dataHome);
    } else if (home != nullptr && *home == '/') {
      found.push_back(std::string(home) + "/.local/share");
    }
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::string dirs =
        dataDirs != nullptr && *dataDirs != '\0' ? dataDirs : "/usr/local/share:/usr/share";
    // A few folders are real; the rest of an overlong list is not looked at.
    constexpr std::size_t maxFolders = 8;
    for (std::string_view dir : split(dirs, ':')) {
      if (found.size() >= maxFolders) break;
      if (!dir.empty() && dir.front() == '/') found.emplace_back(dir);
    }
    for (std::string& folder : found) folder += "/applications/";
    return found;
  }();
  for (const std::string& folder : folders) {
    struct stat status {};
    if (::stat((folder + id + ".desktop").c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> flatpakNameFromInfo(std::string_view keyFile) {
  bool inApplication = false;
  for (std::string_view line : split(keyFile, '\n')) {
    line = trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inApplication = line == "[Application]";
      continue;
    }
    if (!inApplication) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != "name") continue;
    std::string_view name = trimmed(line.substr(equals + 1));
    if (name.empty()) return std::nullopt;
    return std::string(name);
  }
  return std::nullopt;
}

std::optional<std::string> cgroupPathFromText(std::string_view procCgroup) {
  std::optional<std::string> systemdV1;
  for (std::string_view line : split(procCgroup, '\n')) {
    // hierarchy-id:controllers:path; the path itself may hold colons.
    std::size_t first = line.find(':');
    if (first == std::string_view::npos) continue;
    std::size_t second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    std::string_view hierarchy = line.substr(0, first);
    std::string_view controllers = line.substr(first + 1, second - first - 1);
    std::string_view path = line.substr(second + 1);
    if (path.empty() || path.front() != '/') continue;
    if (hierarchy == "0" && controllers.empty()) return std::string(path);
    if (controllers == "name=systemd" && !systemdV1) systemdV1 = std::string(path);
  }
  return systemdV1;
}

std::optional<std::string> applicationIdFromCgroupPath(std::string_view path) {
  std::vector<std::string_view> units = split(path, '/');
  for (auto unit = units.rbegin(); unit != units.rend(); ++unit) {
    if (auto id = applicationIdOfUnit(*unit)) return id;
  }
  return std::nullopt;
}

std::optional<std::string> flatpakApplicationId(Pid pid) {
  if (pid <= 0) return std::nullopt;
  std::optional<std::string> info = fileText(procPath(pid, "root/.flatpak-info"));
  return info ? flatpakNameFromInfo(*info) : std::nullopt;
}

std::optional<std::string> launchedApplicationId(Pid pid) {
  if (pid <= 0) return std::nullopt;
  std::optional<std::string> path = cgroupPathOf(pid);
  if (!path) return std::nullopt;
  std::optional<std::string> id = applicationIdFromCgroupPath(*path);
  if (!id) return std::nullopt;
  std::optional<Pid> parent = parentOf(pid);
  if (parent && cgroupPathOf(*parent) == path) return std::nullopt;
  return id;
}

}  // namespace focusctl::platform::identity
