/*
 * CFString.h — the CFString functions used by focusctl, as declared in
 * Apple's CoreFoundation/CFString.h (not nullability-audited there either).
 */
#ifndef __COREFOUNDATION_CFSTRING__
#define __COREFOUNDATION_CFSTRING__ 1

#include <CoreFoundation/CFBase.h>

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

CF_EXTERN_C_END
CF_IMPLICIT_BRIDGING_DISABLED

#endif /* __COREFOUNDATION_CFSTRING__ */
