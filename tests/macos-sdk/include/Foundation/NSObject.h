/*
 * NSObject.h — the root class and the CF bridging functions. None of the
 * methods focusctl calls belongs to the alloc/new/copy/mutableCopy/init
 * families, so every object it receives is +0 and ARC retains as needed.
 */
#ifndef _FOUNDATION_NSOBJECT_H_
#define _FOUNDATION_NSOBJECT_H_

#include <Foundation/NSObjCRuntime.h>
#include <CoreFoundation/CFBase.h>

@protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject <NSObject>
@end

#if __has_feature(objc_arc)
/* Hands an Objective-C object to CF with +1; the caller releases it. */
NS_INLINE CF_RETURNS_RETAINED CFTypeRef _Nullable CFBridgingRetain(id _Nullable X) {
  return (__bridge_retained CFTypeRef)X;
}

/* Moves a +1 CF reference to ARC, which releases it. */
NS_INLINE id _Nullable CFBridgingRelease(CFTypeRef CF_CONSUMED _Nullable X) {
  return (__bridge_transfer id)X;
}
#endif

#endif /* _FOUNDATION_NSOBJECT_H_ */
