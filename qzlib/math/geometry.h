// Point, segment and triangle queries over VECTOR values, in single precision.
// (The rectangle clip shared by the 2-D drawers is RectClipping in qzlib/base/mathutil.h.)
#pragma once
#include <qzlib/base/types.h>

// Result of HitCheckLineTriangle.
struct LineHitResult {
  int HitFlag;      // 1 when the segment meets the triangle
  VECTOR Position;  // where the segment's line meets the triangle's plane
};

// The point of segment a-b nearest to point: a when (point - a).(b - a) <= 0, b when it exceeds
// |b - a|^2, else a + (b - a) * (k / |b - a|^2).
VECTOR GetNearestPointOnSegment(VECTOR point, VECTOR a, VECTOR b);
// The point of triangle a, b, c (interior and edges) nearest to point, by the Voronoi regions of
// vertex a, vertex b, edge ab, vertex c, edge ac, edge bc, interior, tested in that order. A
// degenerate triangle (two corners equal, or the three collinear so that the cross product of its
// edges is zero), and a triangle whose interior step divides by zero or is not finite, give the
// nearest point on the longest edge (finite for finite input).
VECTOR GetNearestPointOnTriangle(VECTOR point, VECTOR a, VECTOR b, VECTOR c);
// Weights u, v, w of p0, p1, p2 for point (v and w from the 2x2 normal equations, u = 1 - v - w).
// A degenerate triangle gives non-finite weights. Returns 0.
int GetBarycentricCoord(VECTOR p0, VECTOR p1, VECTOR p2, VECTOR point, float* u, float* v,
                        float* w);
// Squared distance from point to segment a-b.
float SegmentPointMinLengthSquare(VECTOR a, VECTOR b, VECTOR point);
// Squared minimum distance between segments a1-b1 and a2-b2 (crossing, skew, parallel, or of zero
// length).
float SegmentSegmentMinLengthSquare(VECTOR a1, VECTOR b1, VECTOR a2, VECTOR b2);
// Squared segment-triangle distance: 0 when both ends lie above the triangle (inside its prism)
// on opposite sides of its plane; otherwise the smallest of the three segment-edge distances and
// the plane distances of the ends that lie above the triangle. A segment crossing the interior with
// an end outside the prism is measured by those distances, not as 0.
float SegmentTriangleMinLengthSquare(VECTOR a, VECTOR b, VECTOR p0, VECTOR p1, VECTOR p2);
// Square roots of the three functions above.
float MinLengthPoint(VECTOR a, VECTOR b, VECTOR point);
float MinLengthSegment(VECTOR a1, VECTOR b1, VECTOR a2, VECTOR b2);
float MinLengthTriangle(VECTOR a, VECTOR b, VECTOR p0, VECTOR p1, VECTOR p2);
// Segment start-end against triangle p0, p1, p2 (either winding). The line must pass the
// triangle (the three triple products share a sign) and not lie in its plane (all three within
// 1e-7 of 0), else flag 0 and position (0, 0, 0). Otherwise the position is the line's crossing
// and the flag is 1 when it lies between start and end inclusive.
LineHitResult HitCheckLineTriangle(VECTOR start, VECTOR end, VECTOR p0, VECTOR p1, VECTOR p2);
