// Ownership of one CoreFoundation reference (CFStringRef, AXUIElementRef,
// AXObserverRef, ...). Taking a pointer adopts it, as the Create and Copy
// rules hand it over; a pointer obtained under the Get rule must go through
// retain(). Move-only and never converted implicitly, so a reference is
// neither leaked nor released twice.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <utility>

namespace focusctl::platform::macos {

template <typename Ref>
class CFRef {
 public:
  CFRef() noexcept = default;

  // Adopts a +1 reference (Create/Copy rule, CF_RETURNS_RETAINED).
  explicit CFRef(Ref ref) noexcept : ref_(ref) {}

  // Takes a reference of its own to a borrowed object (Get rule).
  static CFRef retain(Ref ref) noexcept {
    if (ref != nullptr) CFRetain(ref);
    return CFRef(ref);
  }

  CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CFRef& operator=(CFRef&& other) noexcept {
    if (this != &other) reset(std::exchange(other.ref_, nullptr));
    return *this;
  }
  CFRef(const CFRef&) = delete;
  CFRef& operator=(const CFRef&) = delete;
  ~CFRef() { reset(); }

  Ref get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

  // Hands the reference to the caller, who now releases it.
  [[nodiscard]] Ref release() noexcept { return std::exchange(ref_, nullptr); }

  void reset(Ref ref = nullptr) noexcept {
    if (Ref old = std::exchange(ref_, ref)) CFRelease(old);
  }

  // For out-parameters that deliver a +1 reference
  // (AXUIElementCopyAttributeValue, AXObserverCreate): whatever was held is
  // given up first, and the slot starts empty.
  Ref* initializeInto() noexcept {
    reset();
    return &ref_;
  }

 private:
  Ref ref_ = nullptr;
};

}  // namespace focusctl::platform::macos
