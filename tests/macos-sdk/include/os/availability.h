/*
 * os/availability.h — API_AVAILABLE for the one platform used here:
 * API_AVAILABLE(macos(10.15)) becomes the availability attribute, so a call
 * to an API newer than the deployment target is diagnosed as with the SDK.
 */
#ifndef __OS_AVAILABILITY__
#define __OS_AVAILABILITY__

#define __API_INTRODUCED_macos(introduced_version) macos, introduced = introduced_version
#define API_AVAILABLE(platform_version) \
  __attribute__((availability(__API_INTRODUCED_##platform_version)))

#endif /* __OS_AVAILABILITY__ */
