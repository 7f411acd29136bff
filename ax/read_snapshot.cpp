#include "ax/read_snapshot.h"

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
  std::string appName = applicationName(pid);
  std::string role = stringAttribute(element, "AXRole");
  std::string title = stringAttribute(element, "AXTitle");
  std::string description = stringAttribute(element, "AXDescription");
  std::string value = stringAttribute(element, "AXValue");
  std::string placeholder = inferPlaceholder(
      role, title, description, value,
      stringAttribute(element, "AXPlaceholderValue"));
  std::string bundleID = applicationBundleIdentifier(pid);
  std::string identifier = stringAttribute(element, "AXIdentifier");
  std::string position = pointAttribute(element, "AXPosition");
  std::string size = sizeAttribute(element, "AXSize");
  std::string subrole = stringAttribute(element, "AXSubrole");
  std::string domIdentifier = stringAttribute(element, "AXDOMIdentifier");

  return Reply{{"ok", true},
               {"trusted", true},
               {"pid", pid},
               {"appName", std::move(appName)},
               {"bundleID", std::move(bundleID)},
               {"role", std::move(role)},
               {"identifier", std::move(identifier)},
               {"title", std::move(title)},
               {"position", std::move(position)},
               {"size", std::move(size)},
               {"description", std::move(description)},
               {"subrole", std::move(subrole)},
               {"domIdentifier", std::move(domIdentifier)},
               {"text", std::move(value)},
               {"placeholder", std::move(placeholder)}};
}

}  // namespace focusctl
