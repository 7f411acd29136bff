/*
 * Foundation.h — the Foundation declarations that focusctl uses.
 * One file here for what Apple's SDK declares in several headers.
 */
#ifndef _FOUNDATION_FOUNDATION_H_
#define _FOUNDATION_FOUNDATION_H_ 1

#include <objc/objc.h>
#include <os/availability.h>
#include <CoreFoundation/CoreFoundation.h>

/*
 * From NSObjCRuntime.h: NSUInteger and the declaration macros that
 * the Foundation and AppKit declarations use, as in Apple's SDK (LP64).
 */
#define NS_INLINE static __inline__ __attribute__((always_inline))

#define NS_OPTIONS(_type, _name) CF_OPTIONS(_type, _name)

#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")

typedef unsigned long NSUInteger;

/*
 * From NSObject.h: the root class and the CF bridging functions. None of the
 * methods focusctl calls belongs to the alloc/new/copy/mutableCopy/init
 * families, so every object it receives is +0 and ARC retains as needed.
 */
@protocol NSObject
@end

__attribute__((objc_root_class))
@interface NSObject <NSObject>
@end

#if __has_feature(objc_arc)
/* Hands an Objective-C object to CF with +1; the caller releases it. */
NS_INLINE CF_RETURNS_RETAINED CFTypeRef _Nullable CFBridgingRetain(id _Nullable X) {
  return (__bridge_retained CFTypeRef)X;
}

/* Moves a +1 CF reference to ARC, which releases it. */
NS_INLINE id _Nullable CFBridgingRelease(CFTypeRef CF_CONSUMED _Nullable X) {
  return (__bridge_transfer id)X;
}
#endif

/*
 * From NSString.h: NSString, toll-free bridged with CFStringRef. focusctl reads
 * strings through CFString functions only.
 */
@interface NSString : NSObject
@end

@interface NSMutableString : NSString
@end

/*
 * From NSData.h: the NSData constructor used by focusctl.
 */
NS_ASSUME_NONNULL_BEGIN

@interface NSData : NSObject
@end

@interface NSData (NSDataCreation)
/* Copies length bytes. */
+ (instancetype)dataWithBytes:(nullable const void *)bytes length:(NSUInteger)length;
@end

/*
 * From NSNotification.h: block-based notification observation.
 */
@class NSOperationQueue;

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

/*
 * From NSOperation.h: the main operation queue.
 */

@interface NSOperationQueue : NSObject
/* Runs its operations on the main thread, in the run loop's common modes. */
@property (class, readonly, strong) NSOperationQueue *mainQueue API_AVAILABLE(macos(10.6));
@end

/*
 * From NSRunLoop.h: the main run loop.
 */

@interface NSRunLoop : NSObject
@property (class, readonly, strong) NSRunLoop *mainRunLoop API_AVAILABLE(macos(10.5));
@end

@interface NSRunLoop (NSRunLoopConveniences)
/* Runs in NSDefaultRunLoopMode until no input source or timer is left. */
- (void)run;
@end

/*
 * From NSFileHandle.h: standard output as a file handle, written without the
 * exception-raising writeData:.
 */
@class NSError;

@interface NSFileHandle : NSObject
- (BOOL)writeData:(NSData *)data error:(out NSError **)error API_AVAILABLE(macos(10.15));
@end

@interface NSFileHandle (NSFileHandleCreation)
@property (class, readonly, strong) NSFileHandle *fileHandleWithStandardOutput;
@end

NS_ASSUME_NONNULL_END

#endif /* _FOUNDATION_FOUNDATION_H_ */
