/*
 * CFBase.h — the CoreFoundation base types, ownership attributes and
 * polymorphic functions used by focusctl, declared as in Apple's SDK
 * (CoreFoundation/CFBase.h, CFAvailability.h). Ownership follows the Create
 * and Copy rules; CF_RETURNS_RETAINED and CF_CONSUMED mark the exceptions.
 */
#ifndef __COREFOUNDATION_CFBASE__
#define __COREFOUNDATION_CFBASE__ 1

#include <MacTypes.h>

#if defined(__cplusplus)
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }
#else
#define CF_EXTERN_C_BEGIN
#define CF_EXTERN_C_END
#endif

#define CF_EXPORT extern
#define CF_INLINE static __inline__ __attribute__((always_inline))

#define CF_RETURNS_RETAINED __attribute__((cf_returns_retained))
#define CF_CONSUMED __attribute__((cf_consumed))

/* Functions declared between these follow the naming conventions, so ARC
   knows which results are +1 (Create/Copy) without annotations. */
#define CF_IMPLICIT_BRIDGING_ENABLED _Pragma("clang arc_cf_code_audited begin")
#define CF_IMPLICIT_BRIDGING_DISABLED _Pragma("clang arc_cf_code_audited end")

#define CF_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define CF_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

/* Toll-free bridging: which Objective-C class a CF type may be cast to and
   from with __bridge, __bridge_retained and __bridge_transfer. */
#define CF_BRIDGED_TYPE(T) __attribute__((objc_bridge(T)))
#define CF_BRIDGED_MUTABLE_TYPE(T) __attribute__((objc_bridge_mutable(T)))

#define __CF_ENUM_ATTRIBUTES __attribute__((enum_extensibility(open)))
#define __CF_OPTIONS_ATTRIBUTES __attribute__((flag_enum, enum_extensibility(open)))
#define CF_ENUM(_type, _name) \
  enum __CF_ENUM_ATTRIBUTES _name : _type _name; enum _name : _type
#if defined(__cplusplus)
#define CF_OPTIONS(_type, _name) _type _name; enum __CF_OPTIONS_ATTRIBUTES : _type
#else
#define CF_OPTIONS(_type, _name) \
  enum __CF_OPTIONS_ATTRIBUTES _name : _type _name; enum _name : _type
#endif

#ifdef __OBJC__
@class NSString;
@class NSMutableString;
#endif

CF_EXTERN_C_BEGIN

typedef unsigned long CFTypeID;
typedef signed long CFIndex;

typedef const CF_BRIDGED_TYPE(id) void *CFTypeRef;

typedef const struct CF_BRIDGED_TYPE(NSString) __CFString *CFStringRef;
typedef struct CF_BRIDGED_MUTABLE_TYPE(NSMutableString) __CFString *CFMutableStringRef;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

CF_INLINE CFRange CFRangeMake(CFIndex loc, CFIndex len) {
  CFRange range;
  range.location = loc;
  range.length = len;
  return range;
}

typedef const struct CF_BRIDGED_TYPE(id) __CFAllocator *CFAllocatorRef;

/* A synonym for NULL: the current default allocator. */
CF_EXPORT const CFAllocatorRef kCFAllocatorDefault;

CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef cf);
CF_EXPORT CFTypeRef CFRetain(CFTypeRef cf);
CF_EXPORT void CFRelease(CFTypeRef cf);

CF_EXTERN_C_END

#endif /* __COREFOUNDATION_CFBASE__ */
