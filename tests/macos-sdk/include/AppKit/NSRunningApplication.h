/*
 * NSRunningApplication.h — a running application: its identity and the
 * request to activate it. In C++ an NS_OPTIONS type is its integer type.
 */
#ifndef _APPKIT_NSRUNNINGAPPLICATION_H_
#define _APPKIT_NSRUNNINGAPPLICATION_H_

#include <sys/types.h> /* pid_t */

#include <Foundation/NSObject.h>
#include <Foundation/NSString.h>
#include <AppKit/AppKitDefines.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_OPTIONS(NSUInteger, NSApplicationActivationOptions) {
  NSApplicationActivateIgnoringOtherApps API_DEPRECATED(
      "ignoringOtherApps is deprecated in macOS 14 and will have no effect.",
      macos(10.6, 14.0)) = 1 << 1
};

API_AVAILABLE(macos(10.6))
@interface NSRunningApplication : NSObject
@property (nullable, readonly, copy) NSString *localizedName;
@property (nullable, readonly, copy) NSString *bundleIdentifier;
/* -1 for an application without a process. */
@property (readonly) pid_t processIdentifier;

/* Whether the request to activate was sent. */
- (BOOL)activateWithOptions:(NSApplicationActivationOptions)options;

/* nil when no application has that pid. */
+ (nullable instancetype)runningApplicationWithProcessIdentifier:(pid_t)pid;
@end

NS_ASSUME_NONNULL_END

#endif /* _APPKIT_NSRUNNINGAPPLICATION_H_ */
