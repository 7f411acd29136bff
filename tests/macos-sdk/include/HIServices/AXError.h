/*
 * AXError.h — the accessibility result codes, as declared in Apple's
 * HIServices/AXError.h: a signed 32-bit enumeration.
 */
#ifndef __AXERROR__
#define __AXERROR__

#include <CoreFoundation/CoreFoundation.h>

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

CF_EXTERN_C_END

#endif /* __AXERROR__ */
