/*
 * HIServices.h — umbrella header for the accessibility declarations.
 */
#ifndef __HISERVICES__
#define __HISERVICES__

#include <HIServices/AXError.h>
#include <HIServices/AXValue.h>
#include <HIServices/AXUIElement.h>

#endif /* __HISERVICES__ */
