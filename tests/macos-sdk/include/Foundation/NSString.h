/*
 * NSString.h — NSString, toll-free bridged with CFStringRef. focusctl reads
 * strings through CFString functions only.
 */
#ifndef _FOUNDATION_NSSTRING_H_
#define _FOUNDATION_NSSTRING_H_

#include <Foundation/NSObject.h>

@interface NSString : NSObject
@end

@interface NSMutableString : NSString
@end

#endif /* _FOUNDATION_NSSTRING_H_ */
