/*
 * MacTypes.h — the fixed-width Mac types that the CoreFoundation and
 * HIServices declarations use, as the macOS SDK defines them for LP64.
 */
#ifndef __MACTYPES__
#define __MACTYPES__

typedef unsigned char Boolean;
typedef unsigned short UInt16;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef UInt16 UniChar;

/* Unused by focusctl, but the real header puts these old QuickDraw and
   Memory Manager names in the global namespace, where they meet
   focusctl::platform::Point and Size; declared so that a clash shows here. */
typedef long Size;
struct Point {
  short v;
  short h;
};
typedef struct Point Point;

#endif /* __MACTYPES__ */
