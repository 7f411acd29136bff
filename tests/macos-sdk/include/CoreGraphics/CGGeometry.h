/*
 * CGGeometry.h — CGFloat, CGPoint and CGSize as Apple's CoreGraphics
 * (CGBase.h, CGGeometry.h) defines them: CGFloat is double on LP64.
 */
#ifndef CGGEOMETRY_H_
#define CGGEOMETRY_H_

#include <CoreFoundation/CoreFoundation.h>

#if defined(__LP64__) && __LP64__
#define CGFLOAT_TYPE double
#else
#define CGFLOAT_TYPE float
#endif
typedef CGFLOAT_TYPE CGFloat;

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
