#include "ax/read_snapshot.h"

#include <string>
#include <utility>
#include <variant>

#include "ax/attribute_readers.h"
#include "ax/placeholder.h"

namespace focusctl {
namespace {

// Each lookup of the owning application is independent: one may find it
// while the other does not.
std::string applicationName(platform::Pid pid) {
  const platform::RunningApplication application =
      platform::runningApplication(pid);
  if (!application) return std::string();
  return platform::localizedName(application).value_or("");
}

std::string applicationBundleIdentifier(platform::Pid pid) {
  const platform::RunningApplication application =
      platform::runningApplication(pid);
  if (!application) return std::string();
  return platform::bundleIdentifier(application).value_or("");
}

}  // namespace

Reply readSnapshot(const platform::Element& element, platform::Pid pid) {
  Reply reply{{"ok", true}, {"trusted", true}, {"pid", pid}};
  // Each text is moved in as it is read (an initializer list would copy
  // them all, the value among them); map entries stay where they are.
  const auto put = [&reply](const char* key, std::string text) -> const std::string& {
    return std::get<std::string>(reply.emplace(key, std::move(text)).first->second);
  };
  put("appName", applicationName(pid));
  const std::string& role = put("role", stringAttribute(element, "AXRole"));
  const std::string& title = put("title", stringAttribute(element, "AXTitle"));
  const std::string& description = put("description", stringAttribute(element, "AXDescription"));
  const std::string& value = put("text", stringAttribute(element, "AXValue"));
  put("placeholder", inferPlaceholder(role, title, description, value,
                                      stringAttribute(element, "AXPlaceholderValue")));
  put("bundleID", applicationBundleIdentifier(pid));
  put("identifier", stringAttribute(element, "AXIdentifier"));
  put("position", pointAttribute(element, "AXPosition"));
  put("size", sizeAttribute(element, "AXSize"));
  put("subrole", stringAttribute(element, "AXSubrole"));
  put("domIdentifier", stringAttribute(element, "AXDOMIdentifier"));
  return reply;
}

}  // namespace focusctl
