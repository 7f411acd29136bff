/*
 * NSNotification.h — block-based notification observation.
 */
#ifndef _FOUNDATION_NSNOTIFICATION_H_
#define _FOUNDATION_NSNOTIFICATION_H_

#include <Foundation/NSObject.h>
#include <Foundation/NSString.h>

@class NSOperationQueue;

NS_ASSUME_NONNULL_BEGIN

typedef NSString *NSNotificationName;

@interface NSNotification : NSObject
@end

@interface NSNotificationCenter : NSObject
/* The returned observer object is retained by the system until it is
   removed with removeObserver:. */
- (id<NSObject>)addObserverForName:(nullable NSNotificationName)name
                            object:(nullable id)obj
                             queue:(nullable NSOperationQueue *)queue
                        usingBlock:(void (^)(NSNotification *notification))block
    API_AVAILABLE(macos(10.6));
@end

NS_ASSUME_NONNULL_END

#endif /* _FOUNDATION_NSNOTIFICATION_H_ */
