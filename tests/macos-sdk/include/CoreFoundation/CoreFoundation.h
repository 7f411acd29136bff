/*
 * CoreFoundation.h — the CoreFoundation declarations that focusctl uses.
 * One file here for what Apple's SDK declares in several headers.
 */
#ifndef __COREFOUNDATION_COREFOUNDATION__
#define __COREFOUNDATION_COREFOUNDATION__ 1

#include <MacTypes.h>

/*
 * From CFBase.h: the CoreFoundation base types, ownership attributes and
 * polymorphic functions used by focusctl, declared as in Apple's SDK
 * (CoreFoundation/CFBase.h, CFAvailability.h). Ownership follows the Create
 * and Copy rules; CF_RETURNS_RETAINED and CF_CONSUMED mark the exceptions.
 * Only C++ and Objective-C++ include these declarations, so the C spellings
 * of Apple's macros are left out.
 */
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }

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
#define CF_OPTIONS(_type, _name) _type _name; enum __CF_OPTIONS_ATTRIBUTES : _type

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

/*
 * From CFString.h: the CFString functions used by focusctl, as declared in
 * Apple's CoreFoundation/CFString.h (not nullability-audited there either).
 */
CF_IMPLICIT_BRIDGING_ENABLED
CF_EXTERN_C_BEGIN

CF_EXPORT CFTypeID CFStringGetTypeID(void);

CF_EXPORT CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars,
                                                   CFIndex numChars);

CF_EXPORT CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength,
                                                       CFStringRef theString);

/* Length in UTF-16 code units. */
CF_EXPORT CFIndex CFStringGetLength(CFStringRef theString);

CF_EXPORT void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer);

typedef CF_ENUM(CFIndex, CFStringNormalizationForm) {
  kCFStringNormalizationFormD = 0
};

CF_EXPORT void CFStringNormalize(CFMutableStringRef theString, CFStringNormalizationForm theForm);

/*
 * From CFRunLoop.h: the run-loop types and functions used by focusctl, as
 * declared in Apple's CoreFoundation/CFRunLoop.h.
 */

typedef CFStringRef CFRunLoopMode;

typedef struct CF_BRIDGED_MUTABLE_TYPE(id) __CFRunLoop *CFRunLoopRef;
typedef struct CF_BRIDGED_MUTABLE_TYPE(id) __CFRunLoopSource *CFRunLoopSourceRef;

CF_EXPORT const CFRunLoopMode kCFRunLoopDefaultMode;

CF_EXPORT CFRunLoopRef CFRunLoopGetMain(void);

CF_EXPORT void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
CF_EXPORT void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source,
                                     CFRunLoopMode mode);

CF_EXTERN_C_END
CF_IMPLICIT_BRIDGING_DISABLED

#endif /* __COREFOUNDATION_COREFOUNDATION__ */
