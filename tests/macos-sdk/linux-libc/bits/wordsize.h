/*
 * Replaces glibc's bits/wordsize.h for the macOS compile check on Linux.
 * glibc's x86_64 header derives the word size from __x86_64__, which an
 * arm64-apple target does not define; every macOS target is LP64.
 */
#if !defined(__LP64__)
#error "macOS targets are LP64"
#endif
#define __WORDSIZE 64
#define __WORDSIZE_TIME64_COMPAT32 1
#define __SYSCALL_WORDSIZE 64
