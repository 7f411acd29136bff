/*
 * os/availability.h — API_AVAILABLE and API_DEPRECATED for the one platform
 * used here: API_AVAILABLE(macos(10.15)) becomes the availability attribute,
 * so a call to an API newer than the deployment target, or deprecated at it,
 * is diagnosed as with the SDK.
 */
#ifndef __OS_AVAILABILITY__
#define __OS_AVAILABILITY__

#define __API_INTRODUCED_macos(introduced_version) macos, introduced = introduced_version
#define API_AVAILABLE(platform_version) \
  __attribute__((availability(__API_INTRODUCED_##platform_version)))

#define __API_DEPRECATED_macos(introduced_version, deprecated_version) \
  macos, introduced = introduced_version, deprecated = deprecated_version
#define API_DEPRECATED(text, platform_versions) \
  __attribute__((availability(__API_DEPRECATED_##platform_versions, message = text)))

#endif /* __OS_AVAILABILITY__ */
