// The opaque handles of platform.h are the CoreFoundation pointers
// themselves, reinterpreted: an ElementRef* is an AXUIElementRef, an
// ObserverRef* an AXObserverRef, a RunLoopSourceRef* a CFRunLoopSourceRef.
// Nothing is allocated, and a borrowed AXUIElementRef (an observer callback's
// element) passes through unchanged. The reference counts are CF's.
#pragma once

#include <ApplicationServices/ApplicationServices.h>

#include "platform/platform.h"

namespace focusctl::platform::macos {

inline AXUIElementRef axElement(const ElementRef* element) noexcept {
  return static_cast<AXUIElementRef>(static_cast<const void*>(element));
}
inline AXUIElementRef axElement(const Element& element) noexcept {
  return axElement(element.get());
}
inline ElementRef* elementRef(AXUIElementRef element) noexcept {
  return static_cast<ElementRef*>(
      const_cast<void*>(static_cast<const void*>(element)));
}

inline AXObserverRef axObserver(ObserverRef* observer) noexcept {
  return static_cast<AXObserverRef>(static_cast<void*>(observer));
}
inline AXObserverRef axObserver(const Observer& observer) noexcept {
  return axObserver(observer.get());
}
inline ObserverRef* observerRef(AXObserverRef observer) noexcept {
  return static_cast<ObserverRef*>(static_cast<void*>(observer));
}

inline CFRunLoopSourceRef cfSource(RunLoopSourceRef* source) noexcept {
  return static_cast<CFRunLoopSourceRef>(static_cast<void*>(source));
}
inline CFRunLoopSourceRef cfSource(const RunLoopSource& source) noexcept {
  return cfSource(source.get());
}
inline RunLoopSourceRef* runLoopSourceRef(CFRunLoopSourceRef source) noexcept {
  return static_cast<RunLoopSourceRef*>(static_cast<void*>(source));
}

}  // namespace focusctl::platform::macos
