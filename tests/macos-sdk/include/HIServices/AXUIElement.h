/*
 * AXUIElement.h — the accessibility element and observer functions used by
 * focusctl, as declared in Apple's HIServices/AXUIElement.h
 * (nullability-audited). Copied values and created observers are handed out
 * retained (CF_RETURNS_RETAINED); AXObserverGetRunLoopSource follows the
 * Get rule.
 */
#ifndef __AXUIELEMENT__
#define __AXUIELEMENT__

#include <sys/types.h> /* pid_t */

#include <CoreFoundation/CoreFoundation.h>
#include <HIServices/AXError.h>

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN
CF_IMPLICIT_BRIDGING_ENABLED

/* Whether this process is a trusted accessibility client; never prompts. */
extern Boolean AXIsProcessTrusted(void);

typedef const struct CF_BRIDGED_TYPE(id) __AXUIElement *AXUIElementRef;

extern CFTypeID AXUIElementGetTypeID(void);

extern AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                             CFTypeRef _Nullable *_Nonnull CF_RETURNS_RETAINED value);

extern AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                            CFTypeRef value);

extern AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);

extern AXUIElementRef AXUIElementCreateApplication(pid_t pid);

extern AXUIElementRef AXUIElementCreateSystemWide(void);

extern AXError AXUIElementGetPid(AXUIElementRef element, pid_t *pid);

typedef struct CF_BRIDGED_TYPE(id) __AXObserver *AXObserverRef;

/* The element is borrowed for the call. */
typedef void (*AXObserverCallback)(AXObserverRef observer, AXUIElementRef element,
                                   CFStringRef notification, void *_Nullable refcon);

extern AXError AXObserverCreate(pid_t application, AXObserverCallback callback,
                                AXObserverRef _Nullable *_Nonnull CF_RETURNS_RETAINED outObserver);

extern AXError AXObserverAddNotification(AXObserverRef observer, AXUIElementRef element,
                                         CFStringRef notification, void *_Nullable refcon);

extern AXError AXObserverRemoveNotification(AXObserverRef observer, AXUIElementRef element,
                                            CFStringRef notification);

/* Get rule: the source belongs to the observer. */
extern CFRunLoopSourceRef AXObserverGetRunLoopSource(AXObserverRef observer);

CF_IMPLICIT_BRIDGING_DISABLED
CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif /* __AXUIELEMENT__ */
