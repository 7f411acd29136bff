/*
 * Replaces glibc's gnu/stubs.h for the macOS compile check on Linux. The
 * real one picks a per-architecture list of unimplemented functions (for
 * configure scripts) by CPU macros that an arm64-apple target does not
 * match; nothing here needs the list.
 */
