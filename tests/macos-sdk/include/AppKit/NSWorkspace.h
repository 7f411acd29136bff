/*
 * NSWorkspace.h — the shared workspace, its notification centre, the
 * frontmost application and the application-activated notification.
 */
#ifndef _APPKIT_NSWORKSPACE_H_
#define _APPKIT_NSWORKSPACE_H_

#include <Foundation/NSObject.h>
#include <Foundation/NSNotification.h>
#include <AppKit/AppKitDefines.h>

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

NS_ASSUME_NONNULL_END

#endif /* _APPKIT_NSWORKSPACE_H_ */
