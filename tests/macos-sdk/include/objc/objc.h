/*
 * objc/objc.h — BOOL and nil as the Objective-C runtime headers define them.
 * BOOL is bool where the compiler says so (arm64) and signed char elsewhere
 * (x86_64), so both targets of the check see the type they really have.
 */
#ifndef _OBJC_OBJC_H_
#define _OBJC_OBJC_H_

#if defined(__OBJC_BOOL_IS_BOOL) && __OBJC_BOOL_IS_BOOL
#define OBJC_BOOL_IS_BOOL 1
typedef bool BOOL;
#else
#define OBJC_BOOL_IS_BOOL 0
typedef signed char BOOL;
#endif

#if __has_feature(objc_bool)
#define YES __objc_yes
#define NO __objc_no
#else
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#endif

#ifndef nil
#if defined(__cplusplus)
#define nil nullptr
#else
#define nil ((void *)0)
#endif
#endif

#endif /* _OBJC_OBJC_H_ */
