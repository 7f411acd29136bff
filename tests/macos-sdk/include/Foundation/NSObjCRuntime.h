/*
 * NSObjCRuntime.h — NSUInteger and the declaration macros that
 * the Foundation and AppKit declarations use, as in Apple's SDK (LP64).
 */
#ifndef _FOUNDATION_NSOBJCRUNTIME_H_
#define _FOUNDATION_NSOBJCRUNTIME_H_

#include <objc/objc.h>
#include <os/availability.h>
#include <CoreFoundation/CFBase.h>

#define NS_INLINE static __inline__ __attribute__((always_inline))

#define NS_OPTIONS(_type, _name) CF_OPTIONS(_type, _name)

#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

typedef unsigned long NSUInteger;

#endif /* _FOUNDATION_NSOBJCRUNTIME_H_ */
