/*
 * objc/objc.h — BOOL and nil as the Objective-C runtime headers define them.
 * BOOL is bool where the compiler says so (arm64) and signed char elsewhere
 * (x86_64), so both targets of the check see the type they really have.
 * Only C++ and Objective-C++ include it.
 */
#ifndef _OBJC_OBJC_H_
#define _OBJC_OBJC_H_

#if defined(__OBJC_BOOL_IS_BOOL) && __OBJC_BOOL_IS_BOOL
typedef bool BOOL;
#else
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
#define nil nullptr
#endif

#endif /* _OBJC_OBJC_H_ */
