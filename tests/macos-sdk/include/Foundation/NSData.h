/*
 * NSData.h — the NSData constructor used by focusctl.
 */
#ifndef _FOUNDATION_NSDATA_H_
#define _FOUNDATION_NSDATA_H_

#include <Foundation/NSObject.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSData : NSObject
@end

@interface NSData (NSDataCreation)
/* Copies length bytes. */
+ (instancetype)dataWithBytes:(nullable const void *)bytes length:(NSUInteger)length;
@end

NS_ASSUME_NONNULL_END

#endif /* _FOUNDATION_NSDATA_H_ */
