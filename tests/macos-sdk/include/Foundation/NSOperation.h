/*
 * NSOperation.h — the main operation queue.
 */
#ifndef _FOUNDATION_NSOPERATION_H_
#define _FOUNDATION_NSOPERATION_H_

#include <Foundation/NSObject.h>

NS_ASSUME_NONNULL_BEGIN

@interface NSOperationQueue : NSObject
/* Runs its operations on the main thread, in the run loop's common modes. */
@property (class, readonly, strong) NSOperationQueue *mainQueue API_AVAILABLE(macos(10.6));
@end

NS_ASSUME_NONNULL_END

#endif /* _FOUNDATION_NSOPERATION_H_ */
