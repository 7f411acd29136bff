/*
 * AXValue.h — the AXValue wrapper functions used by focusctl, as declared in
 * Apple's HIServices/AXValue.h (nullability-audited, Create rule implied).
 */
#ifndef __AXVALUE__
#define __AXVALUE__

#include <CoreFoundation/CoreFoundation.h>

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN
CF_IMPLICIT_BRIDGING_ENABLED

typedef CF_ENUM(UInt32, AXValueType) {
  kAXValueTypeCGPoint = 1,
  kAXValueTypeCGSize = 2,
  kAXValueTypeCGRect = 3
};

typedef const struct CF_BRIDGED_TYPE(id) __AXValue *AXValueRef;

extern CFTypeID AXValueGetTypeID(void);

/* The structure type encoded in value. */
extern AXValueType AXValueGetType(AXValueRef value);

/* Copies the structure into valuePtr; false when value holds another type. */
extern Boolean AXValueGetValue(AXValueRef value, AXValueType theType, void *valuePtr);

CF_IMPLICIT_BRIDGING_DISABLED
CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif /* __AXVALUE__ */
