/*
 * NSRunLoop.h — the main run loop.
 */
#ifndef _FOUNDATION_NSRUNLOOP_H_
#define _FOUNDATION_NSRUNLOOP_H_

#include <Foundation/NSObject.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSRunLoop : NSObject
@property (class, readonly, strong) NSRunLoop *mainRunLoop API_AVAILABLE(macos(10.5));
@end

@interface NSRunLoop (NSRunLoopConveniences)
/* Runs in NSDefaultRunLoopMode until no input source or timer is left. */
- (void)run;
@end

NS_ASSUME_NONNULL_END

#endif /* _FOUNDATION_NSRUNLOOP_H_ */
