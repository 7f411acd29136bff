/*
 * AppKit.h — umbrella header for the AppKit declarations that focusctl uses.
 */
#ifndef _APPKIT_APPKIT_H_
#define _APPKIT_APPKIT_H_

#include <Foundation/Foundation.h>
#include <AppKit/AppKitDefines.h>
#include <AppKit/NSWorkspace.h>
#include <AppKit/NSRunningApplication.h>

#endif /* _APPKIT_APPKIT_H_ */
