#include "ax/focused_element.h"

#include <utility>

namespace focusctl {
platform::Element focusedUIElementOf(const platform::Element& element) {
  platform::CopiedAttribute copied =
      platform::copyAttributeValue(element, "AXFocusedUIElement");
  if (copied.code != platform::code::success) return platform::Element();
  if (auto* focused = std::get_if<platform::Element>(&copied.value)) {
    return std::move(*focused);
  }
  return platform::Element();
}

std::optional<FocusedElement> focusedElement() {
  const platform::Element systemWide = platform::createSystemWideElement();
  platform::Element element = focusedUIElementOf(systemWide);
  if (element) {
    const platform::ElementPid owner = platform::elementPid(element);
    if (owner.code == platform::code::success && owner.pid >= 1) {
      return FocusedElement{std::move(element), owner.pid};
    }
    element.reset();
  }

  // Fallback: ask the frontmost application for its focused element.
  const platform::RunningApplication application =
      platform::frontmostApplication();
  if (!application) return std::nullopt;
  const platform::Element applicationElement =
      platform::createApplicationElement(
          platform::processIdentifier(application));
  element = focusedUIElementOf(applicationElement);
  if (!element) return std::nullopt;
  return FocusedElement{std::move(element),
                        platform::processIdentifier(application)};
}

}  // namespace focusctl
