// The accessibility operations of platform.h over AT-SPI: trust, the three
// kinds of element, their attributes and actions.
#include <memory>
#include <utility>

#include "platform/atspi/accessible/application_pids.h"
#include "platform/atspi/accessible/atspi_calls.h"
#include "platform/atspi/accessible/bus_session.h"
#include "platform/atspi/accessible/element_access.h"
#include "platform/atspi/accessible/element_ref.h"
#include "platform/atspi/accessible/liveness.h"
#include "platform/atspi/focus/focus_search.h"
#include "platform/atspi/focus/registered_applications.h"

namespace focusctl::platform {
namespace atspi {

ElementRef* newAccessibleElement(ObjectRef accessible, Pid pid) {
  auto* element = new ElementRef;
  element->kind = ElementRef::Kind::accessible;
  element->pid = pid;
  element->accessible = std::move(accessible);
  return element;
}

ElementFacts& factsOf(ElementRef& element) {
  if (!element.facts) {
    element.facts = std::make_unique<ElementFacts>(element.accessible);
  }
  return *element.facts;
}

const ObjectRef& applicationRoot(ElementRef& application) {
  if (!application.lookedUp) {
    application.lookedUp = true;
    application.accessible = applicationForPid(application.pid);
  }
  return application.accessible;
}

}  // namespace atspi

namespace {

const char* const focusedElementAttribute = "AXFocusedUIElement";

CopiedAttribute focusAttribute(atspi::FocusAnswer answer) {
  if (answer.code != code::success) return {answer.code, std::monostate{}};
  if (answer.element.isNull()) return {code::noValue, std::monostate{}};
  return {code::success,
          Element(atspi::newAccessibleElement(std::move(answer.element), answer.pid))};
}

CopiedAttribute applicationAttribute(ElementRef& application,
                                     std::string_view attribute) {
  atspi::ObjectRef root = atspi::applicationRoot(application);
  // No registered application has the pid: it may run without speaking
  // AT-SPI at all, so this is "cannot complete" rather than "invalid".
  if (root.isNull()) return {code::cannotComplete, std::monostate{}};
  if (attribute == focusedElementAttribute) {
    atspi::FocusAnswer answer = atspi::focusInApplication(root, application.pid);
    // The application found for the pid earlier has gone: whatever has the
    // pid now is looked up once more.
    if (answer.code == code::invalidElement) {
      atspi::forgetApplication(application.pid, root);
      application.lookedUp = false;
      application.accessible = {};
      root = atspi::applicationRoot(application);
      if (root.isNull()) return {code::cannotComplete, std::monostate{}};
      answer = atspi::focusInApplication(root, application.pid);
    }
    return focusAttribute(std::move(answer));
  }
  if (attribute == "AXRole") return {code::success, std::string("AXApplication")};
  if (attribute == "AXTitle") {
    auto name = atspi::applicationName(root);
    if (name.get() == nullptr) return {atspi::failureCode(root, name.outcome()), std::monostate{}};
    return {code::success, *name.get()};
  }
  return {code::attributeUnsupported, std::monostate{}};
}

}  // namespace

void release(ElementRef* ref) noexcept { delete ref; }

void limitAccessibilityTime(std::optional<std::chrono::milliseconds> budget) {
  atspi::bus::setCallBudget(budget);
}

bool isProcessTrusted() { return atspi::registryAnswers(); }

Element createSystemWideElement() {
  auto* element = new ElementRef;
  element->kind = ElementRef::Kind::systemWide;
  return Element(element);
}

Element createApplicationElement(Pid pid) {
  auto* element = new ElementRef;
  element->kind = ElementRef::Kind::application;
  element->pid = pid;
  return Element(element);
}

CopiedAttribute copyAttributeValue(const Element& element,
                                   std::string_view attribute) {
  ElementRef* ref = element.get();
  if (ref == nullptr) return {code::illegalArgument, std::monostate{}};
  if (!atspi::busConnected()) return {code::apiDisabled, std::monostate{}};
  switch (ref->kind) {
    case ElementRef::Kind::systemWide:
      if (attribute == focusedElementAttribute) {
        return focusAttribute(atspi::focusOnDesktop());
      }
      return {code::attributeUnsupported, std::monostate{}};
    case ElementRef::Kind::application:
      return applicationAttribute(*ref, attribute);
    case ElementRef::Kind::accessible:
      if (attribute == focusedElementAttribute) {
        return {code::attributeUnsupported, std::monostate{}};
      }
      return atspi::copyElementAttribute(atspi::factsOf(*ref), attribute);
  }
  return {code::failure, std::monostate{}};
}

ElementPid elementPid(const Element& element) {
  ElementRef* ref = element.get();
  if (ref == nullptr) return {code::illegalArgument, 0};
  switch (ref->kind) {
    case ElementRef::Kind::systemWide:
      return {code::illegalArgument, 0};
    case ElementRef::Kind::application:
      return {code::success, ref->pid};
    case ElementRef::Kind::accessible:
      if (ref->pid > 0) return {code::success, ref->pid};
      if (!atspi::busConnected()) return {code::apiDisabled, 0};
      ref->pid = atspi::applicationPid(ref->accessible);
      if (ref->pid > 0) return {code::success, ref->pid};
      return {atspi::failureCode(ref->accessible), 0};
  }
  return {code::failure, 0};
}

ResultCode setAttributeValue(const Element& element, std::string_view attribute,
                             std::string_view text) {
  ElementRef* ref = element.get();
  if (ref == nullptr) return code::illegalArgument;
  if (!atspi::busConnected()) return code::apiDisabled;
  if (ref->kind != ElementRef::Kind::accessible) return code::attributeUnsupported;
  if (attribute == "AXValue") return atspi::setElementValue(atspi::factsOf(*ref), text);
  if (attribute == "AXSelectedText") return atspi::replaceSelection(atspi::factsOf(*ref), text);
  return code::attributeUnsupported;
}

ResultCode performAction(const Element& element, std::string_view action) {
  ElementRef* ref = element.get();
  if (ref == nullptr) return code::illegalArgument;
  if (!atspi::busConnected()) return code::apiDisabled;
  if (action != "AXPress" || ref->kind != ElementRef::Kind::accessible) {
    return code::actionUnsupported;
  }
  return atspi::pressElement(atspi::factsOf(*ref));
}

}  // namespace focusctl::platform
