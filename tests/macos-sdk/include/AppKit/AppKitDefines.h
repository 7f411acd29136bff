/*
 * AppKitDefines.h — APPKIT_EXTERN as in Apple's SDK.
 */
#ifndef _APPKIT_APPKITDEFINES_H_
#define _APPKIT_APPKITDEFINES_H_

#if defined(__cplusplus)
#define APPKIT_EXTERN extern "C" __attribute__((visibility("default")))
#else
#define APPKIT_EXTERN extern __attribute__((visibility("default")))
#endif

#endif /* _APPKIT_APPKITDEFINES_H_ */
