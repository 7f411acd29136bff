/*
 * HIServices.h — the accessibility declarations.
 * One file here for what Apple's SDK declares in several headers.
 */
#ifndef __HISERVICES__
#define __HISERVICES__ 1

#include <CoreFoundation/CoreFoundation.h>
#include <sys/types.h> /* pid_t */

/*
 * From AXError.h: the accessibility result codes, as declared in Apple's
 * HIServices/AXError.h: a signed 32-bit enumeration.
 */
CF_EXTERN_C_BEGIN

typedef CF_ENUM(SInt32, AXError) {
  kAXErrorSuccess = 0,
  kAXErrorFailure = -25200,
  kAXErrorInvalidUIElement = -25202,
  kAXErrorActionUnsupported = -25206,
  kAXErrorNotificationAlreadyRegistered = -25209,
  kAXErrorNotificationNotRegistered = -25210,
  kAXErrorNoValue = -25212
};

/*
 * From AXValue.h: the AXValue wrapper functions used by focusctl, as declared in
 * Apple's HIServices/AXValue.h (nullability-audited, Create rule implied).
 */
CF_ASSUME_NONNULL_BEGIN
CF_IMPLICIT_BRIDGING_ENABLED

typedef CF_ENUM(UInt32, AXValueType) {
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
  kAXValueTypeCGRect = 3,
  kAXValueTypeCFRange = 4
};

typedef const struct CF_BRIDGED_TYPE(id) __AXValue *AXValueRef;

extern CFTypeID AXValueGetTypeID(void);

/* The structure type encoded in value. */
extern AXValueType AXValueGetType(AXValueRef value);

/* Copies the structure into valuePtr; false when value holds another type. */
extern Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void *valuePtr);

/*
 * From AXUIElement.h: the accessibility element and observer functions used by
 * focusctl, as declared in Apple's HIServices/AXUIElement.h
 * (nullability-audited). Copied values and created observers are handed out
 * retained (CF_RETURNS_RETAINED); AXObserverGetRunLoopSource follows the
 * Get rule.
 */

/* Whether this process is a trusted accessibility client; never prompts. */
extern Boolean AXIsProcessTrusted(void);

typedef const struct CF_BRIDGED_TYPE(id) __AXUIElement *AXUIElementRef;

extern CFTypeID AXUIElementGetTypeID(void);

extern AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                             CFTypeRef _Nullable *_Nonnull CF_RETURNS_RETAINED value);

extern AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                            CFTypeRef value);

extern AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action);

extern AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float timeoutInSeconds);

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

#endif /* __HISERVICES__ */
