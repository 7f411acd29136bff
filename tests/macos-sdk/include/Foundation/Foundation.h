/*
 * Foundation.h — umbrella header for the Foundation declarations that
 * focusctl uses.
 */
#ifndef _FOUNDATION_FOUNDATION_H_
#define _FOUNDATION_FOUNDATION_H_

#include <CoreFoundation/CoreFoundation.h>
#include <Foundation/NSObjCRuntime.h>
#include <Foundation/NSObject.h>
#include <Foundation/NSString.h>
#include <Foundation/NSData.h>
#include <Foundation/NSNotification.h>
#include <Foundation/NSOperation.h>
#include <Foundation/NSRunLoop.h>
#include <Foundation/NSFileHandle.h>

#endif /* _FOUNDATION_FOUNDATION_H_ */
