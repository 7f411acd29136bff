/*
 * CoreFoundation.h — umbrella header for the CoreFoundation declarations
 * that focusctl uses.
 */
#ifndef __COREFOUNDATION_COREFOUNDATION__
#define __COREFOUNDATION_COREFOUNDATION__ 1

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFString.h>
#include <CoreFoundation/CFRunLoop.h>

#endif /* __COREFOUNDATION_COREFOUNDATION__ */
