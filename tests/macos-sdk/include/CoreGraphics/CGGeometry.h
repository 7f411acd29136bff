/*
 * CGGeometry.h — CGFloat, CGPoint and CGSize as Apple's CoreGraphics
 * (CGBase.h, CGGeometry.h) defines them: CGFloat is double on LP64, which
 * both targets of the check are.
 */
#ifndef CGGEOMETRY_H_
#define CGGEOMETRY_H_

#include <CoreFoundation/CoreFoundation.h>

typedef double CGFloat;

struct CGPoint {
  CGFloat x;
  CGFloat y;
};
typedef struct CGPoint CGPoint;

struct CGSize {
  CGFloat width;
  CGFloat height;
};
typedef struct CGSize CGSize;

#endif /* CGGEOMETRY_H_ */
