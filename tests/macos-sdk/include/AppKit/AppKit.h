/*
 * AppKit.h — the AppKit declarations that focusctl uses.
 * One file here for what Apple's SDK declares in several headers.
 */
#ifndef _APPKIT_APPKIT_H_
#define _APPKIT_APPKIT_H_ 1

#include <Foundation/Foundation.h>
#include <sys/types.h> /* pid_t */

/*
 * From AppKitDefines.h: APPKIT_EXTERN as in Apple's SDK.
 */
#define APPKIT_EXTERN extern "C" __attribute__((visibility("default")))

/*
 * From NSWorkspace.h: the shared workspace, its notification centre, the
 * frontmost application and the application-activated notification.
 */
@class NSNotificationCenter, NSRunningApplication;

NS_ASSUME_NONNULL_BEGIN

@interface NSWorkspace : NSObject
@property (class, readonly, strong) NSWorkspace *sharedWorkspace;

/* Workspace notifications are posted here only, not on the default centre. */
@property (readonly, strong) NSNotificationCenter *notificationCenter;

/* The application that receives key events. */
@property (nullable, readonly, strong)
    NSRunningApplication *frontmostApplication API_AVAILABLE(macos(10.7));
@end

APPKIT_EXTERN NSNotificationName const NSWorkspaceDidActivateApplicationNotification
    API_AVAILABLE(macos(10.6));

/*
 * From NSRunningApplication.h: a running application: its identity and the
 * request to activate it. In C++ an NS_OPTIONS type is its integer type;
 * focusctl passes the option bits through and names none of them.
 */

typedef NS_OPTIONS(NSUInteger, NSApplicationActivationOptions) {};

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

#endif /* _APPKIT_APPKIT_H_ */
