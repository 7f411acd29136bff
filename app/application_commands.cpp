#include "app/application_commands.h"

#include <limits>

#include "app/command_deadline.h"
#include "ax/focused_element.h"
#include "platform/platform.h"

namespace focusctl {

std::optional<std::int32_t> parseProcessId(std::string_view text) {
  if (text.empty()) return std::nullopt;
  bool negative = false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
    if (text.size() == 1) return std::nullopt;
  }
  constexpr std::int32_t min = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t max = std::numeric_limits<std::int32_t>::max();
  std::int32_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    const std::int32_t digit = c - '0';
    // Overflow is caught before each step, so the accumulation never leaves
    // the 32-bit range.
    if (negative) {
      if (value < min / 10 || value * 10 < min + digit) return std::nullopt;
      value = value * 10 - digit;
    } else {
      if (value > max / 10 || value * 10 > max - digit) return std::nullopt;
      value = value * 10 + digit;
    }
  }
  return value;
}

Reply activateApp(std::optional<std::string_view> argument) {
  if (!argument) return refusal("invalid-pid");
  const std::optional<std::int32_t> pid = parseProcessId(*argument);
  if (!pid) return refusal("invalid-pid");
  const platform::RunningApplication application =
      platform::runningApplication(*pid);
  if (!application) return refusal("invalid-pid");
  // A request that ran out of time was not accepted.
  setStandingAnswer(Reply{{"ok", false}, {"method", std::string("app-activate")}, {"pid", *pid}});
  const bool accepted = platform::activateApplication(
      application, platform::activateIgnoringOtherApps);
  return Reply{{"ok", accepted},
               {"method", std::string("app-activate")},
               {"pid", *pid}};
}

Reply describeFrontmostApp() {
  platform::Pid pid = 0;
  {
    std::optional<FocusedElement> focused = focusedElement();
    if (!focused) return refusal("no-frontmost-app");
    pid = focused->pid;
    // Only the process id is used; the element is released here.
  }
  const platform::RunningApplication application =
      platform::runningApplication(pid);
  if (!application) return refusal("no-frontmost-app");
  const platform::Pid ownPid = platform::processIdentifier(application);
  std::string name = platform::localizedName(application).value_or("");
  std::string bundle = platform::bundleIdentifier(application).value_or("");
  return Reply{{"ok", true},
               {"pid", ownPid},
               {"appName", std::move(name)},
               {"bundleID", std::move(bundle)}};
}

}  // namespace focusctl
