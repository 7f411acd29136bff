// Accessibility elements over the AX C API of ApplicationServices: trust,
// element creation, attribute reads and writes, actions.
#include <ApplicationServices/ApplicationServices.h>

#include <chrono>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/macos/ax_handles.h"
#include "platform/macos/cf_ref.h"
#include "platform/macos/cf_text.h"
#include "platform/platform.h"

namespace focusctl::platform {

static_assert(std::is_same_v<std::underlying_type_t<AXError>, ResultCode>,
              "AX result codes cross the interface unchanged");
static_assert(std::is_signed_v<pid_t> && sizeof(pid_t) == sizeof(Pid));
static_assert(std::is_same_v<CGFloat, double>);

namespace {

using macos::axElement;
using macos::CFRef;
using macos::elementRef;

// The value of a successful copy, type-checked before any cast. The copied
// reference is adopted here; an element keeps it, everything else gives it
// back on return.
AttributeValue convertAttributeValue(CFRef<CFTypeRef> value) {
  if (!value) return std::monostate{};
  const CFTypeID type = CFGetTypeID(value.get());
  if (type == CFStringGetTypeID()) {
    return macos::utf8FromCFString(static_cast<CFStringRef>(value.get()));
  }
  if (type == AXValueGetTypeID()) {
    const auto wrapped = static_cast<AXValueRef>(value.get());
    // The kind test settles that the extraction applies; its own flag adds
    // nothing, and a failed one leaves the zeros.
    switch (AXValueGetType(wrapped)) {
      case kAXValueTypeCGPoint: {
        CGPoint point{0, 0};
        AXValueGetValue(wrapped, kAXValueTypeCGPoint, &point);
        return Point{point.x, point.y};
      }
      case kAXValueTypeCGSize: {
        CGSize size{0, 0};
        AXValueGetValue(wrapped, kAXValueTypeCGSize, &size);
        return Size{size.width, size.height};
      }
      case kAXValueTypeCFRange: {
        CFRange range{0, 0};
        AXValueGetValue(wrapped, kAXValueTypeCFRange, &range);
        return Range{range.location, range.length};
      }
      default:
        return OtherKind{};
    }
  }
  if (type == AXUIElementGetTypeID()) {
    return Element(elementRef(static_cast<AXUIElementRef>(value.release())));
  }
  return OtherKind{};
}

using Clock = std::chrono::steady_clock;
std::optional<Clock::time_point> callsEnd;

// AX calls block until the application answers or the messaging timeout
// passes. Each call's timeout is what is left of the budget; past it the
// call is not made.
bool fitsBudget(const Element& element) {
  if (!callsEnd) return true;
  const std::chrono::duration<float> left = *callsEnd - Clock::now();
  if (left.count() <= 0) return false;
  AXUIElementSetMessagingTimeout(axElement(element), left.count());
  return true;
}

}  // namespace

void limitAccessibilityTime(std::optional<std::chrono::milliseconds> budget) {
  callsEnd.reset();
  if (budget) callsEnd = Clock::now() + *budget;
  // Elements that are not handed to fitsBudget (the system-wide one asks
  // for the focus) keep the global timeout, which the budget bounds too;
  // 0 puts the system's own back.
  const CFRef<AXUIElementRef> systemWide(AXUIElementCreateSystemWide());
  if (systemWide) {
    AXUIElementSetMessagingTimeout(
        systemWide.get(), budget ? std::chrono::duration<float>(*budget).count() : 0.0F);
  }
}

void release(ElementRef* ref) noexcept {
  if (ref != nullptr) CFRelease(axElement(ref));
}

bool isProcessTrusted() { return AXIsProcessTrusted() != 0; }

Element createSystemWideElement() {
  return Element(elementRef(AXUIElementCreateSystemWide()));
}

Element createApplicationElement(Pid pid) {
  return Element(elementRef(AXUIElementCreateApplication(pid)));
}

// An empty handle is answered as AX answers a NULL argument, without the
// call: the AX functions take non-null references only.
CopiedAttribute copyAttributeValue(const Element& element,
                                   std::string_view attribute) {
  if (!element) return {code::illegalArgument, std::monostate{}};
  const CFRef<CFStringRef> name = macos::cfStringFromUtf8(attribute);
  if (!name) return {code::failure, std::monostate{}};
  if (!fitsBudget(element)) return {code::cannotComplete, std::monostate{}};
  CFRef<CFTypeRef> value;
  const AXError error = AXUIElementCopyAttributeValue(
      axElement(element), name.get(), value.initializeInto());
  // A value delivered together with an error is given up unread.
  if (error != kAXErrorSuccess) return {error, std::monostate{}};
  return {code::success, convertAttributeValue(std::move(value))};
}

ElementPid elementPid(const Element& element) {
  if (!element) return {code::illegalArgument, 0};
  pid_t pid = 0;
  const AXError error = AXUIElementGetPid(axElement(element), &pid);
  return {error, pid};
}

ResultCode setAttributeValue(const Element& element, std::string_view attribute,
                             std::string_view text) {
  if (!element) return code::illegalArgument;
  const CFRef<CFStringRef> name = macos::cfStringFromUtf8(attribute);
  const CFRef<CFStringRef> value = macos::cfStringFromUtf8(text);
  if (!name || !value) return code::failure;
  if (!fitsBudget(element)) return code::cannotComplete;
  return AXUIElementSetAttributeValue(axElement(element), name.get(),
                                      value.get());
}

ResultCode performAction(const Element& element, std::string_view action) {
  if (!element) return code::illegalArgument;
  const CFRef<CFStringRef> name = macos::cfStringFromUtf8(action);
  if (!name) return code::failure;
  if (!fitsBudget(element)) return code::cannotComplete;
  return AXUIElementPerformAction(axElement(element), name.get());
}

}  // namespace focusctl::platform
