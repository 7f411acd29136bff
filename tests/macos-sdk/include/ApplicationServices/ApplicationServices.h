/*
 * ApplicationServices.h — umbrella header: CoreFoundation, the CoreGraphics
 * geometry types and the HIServices accessibility API.
 */
#ifndef __APPLICATIONSERVICES__
#define __APPLICATIONSERVICES__

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CGGeometry.h>
#include <HIServices/HIServices.h>

#endif /* __APPLICATIONSERVICES__ */
