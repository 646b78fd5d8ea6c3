#include <qzlib/math/geometry.h>

#include <cmath>

#include <qzlib/base/mathutil.h>
#include <qzlib/math/math_inline.h>

using mathinl::Add;
using mathinl::Cross;
using mathinl::Dot;
using mathinl::Scale;
using mathinl::Sub;

namespace {

float LengthSquare(VECTOR v) { return Dot(v, v); }

bool IsFinite(VECTOR v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Nearest point on the longest edge: the answer for a triangle collapsed onto a line.
VECTOR NearestOnLongestEdge(VECTOR p, VECTOR a, VECTOR b, VECTOR c) {
  float ab = LengthSquare(Sub(b, a)), bc = LengthSquare(Sub(c, b)), ca = LengthSquare(Sub(a, c));
  if (ab >= bc && ab >= ca) return GetNearestPointOnSegment(p, a, b);
  if (bc >= ca) return GetNearestPointOnSegment(p, b, c);
  return GetNearestPointOnSegment(p, c, a);
}

}  // namespace

VECTOR GetNearestPointOnSegment(VECTOR point, VECTOR a, VECTOR b) {
  VECTOR d = Sub(b, a);
  float k = Dot(Sub(point, a), d);
  if (k <= 0.0f) return a;
  float len = Dot(d, d);
  if (k > len) return b;
  return Add(a, Scale(d, k / len));
}

VECTOR GetNearestPointOnTriangle(VECTOR p, VECTOR a, VECTOR b, VECTOR c) {
  VECTOR ab = Sub(b, a), ac = Sub(c, a);
  VECTOR ap = Sub(p, a);
  float d1 = Dot(ab, ap), d2 = Dot(ac, ap);
  if (d1 <= 0.0f && d2 <= 0.0f) return a;

  VECTOR bp = Sub(p, b);
  float d3 = Dot(ab, bp), d4 = Dot(ac, bp);
  if (d3 >= 0.0f && d4 <= d3) return b;

  // With d1 >= 0 >= d3 the edge steps' denominators are sums of non-negative terms: zero only when
  // the edge has no length (a == b), where the triangle is the segment of its other corners.
  float vc = d1 * d4 - d3 * d2;
  if (vc <= 0.0f && d1 >= 0.0f && d3 <= 0.0f) {
    float den = d1 - d3;
    if (den == 0.0f) return NearestOnLongestEdge(p, a, b, c);
    return Add(a, Scale(ab, d1 / den));
  }

  VECTOR cp = Sub(p, c);
  float d5 = Dot(ab, cp), d6 = Dot(ac, cp);
  if (d6 >= 0.0f && d5 <= d6) return c;

  float vb = d5 * d2 - d1 * d6;
  if (vb <= 0.0f && d2 >= 0.0f && d6 <= 0.0f) {
    float den = d2 - d6;
    if (den == 0.0f) return NearestOnLongestEdge(p, a, b, c);
    return Add(a, Scale(ac, d2 / den));
  }

  float va = d3 * d6 - d5 * d4;
  if (va <= 0.0f && d4 - d3 >= 0.0f && d5 - d6 >= 0.0f) {
    float den = (d4 - d3) + (d5 - d6);
    if (den == 0.0f) return NearestOnLongestEdge(p, a, b, c);
    return Add(b, Scale(Sub(c, b), (d4 - d3) / den));
  }

  // Collinear corners have no interior: the region products are rounding noise there.
  VECTOR n = Cross(ab, ac);
  float sum = va + vb + vc;
  if (sum != 0.0f && (n.x != 0.0f || n.y != 0.0f || n.z != 0.0f)) {
    float n = 1.0f / sum;
    VECTOR r = Add(Add(a, Scale(ab, vb * n)), Scale(ac, vc * n));
    if (IsFinite(r)) return r;
  }
  return NearestOnLongestEdge(p, a, b, c);
}

int GetBarycentricCoord(VECTOR p0, VECTOR p1, VECTOR p2, VECTOR point, float* u, float* v,
                        float* w) {
  VECTOR e1 = Sub(p1, p0), e2 = Sub(p2, p0), q = Sub(point, p0);
  float d00 = Dot(e1, e1), d01 = Dot(e1, e2), d11 = Dot(e2, e2);
  float d20 = Dot(e1, q), d21 = Dot(e2, q);
  float den = d11 * d00 - d01 * d01;
  float vv = (d11 * d20 - d21 * d01) / den;
  float ww = (d00 * d21 - d01 * d20) / den;
  *v = vv;
  *w = ww;
  *u = 1.0f - vv - ww;
  return 0;
}

float SegmentPointMinLengthSquare(VECTOR a, VECTOR b, VECTOR point) {
  return LengthSquare(Sub(GetNearestPointOnSegment(point, a, b), point));
}

float SegmentSegmentMinLengthSquare(VECTOR a1, VECTOR b1, VECTOR a2, VECTOR b2) {
  // The squared distance is convex in (s, t): its minimum over [0, 1]^2 is the lines' common
  // perpendicular when that lies inside, else on an edge of the square, where one segment is at an
  // end and the other's parameter is the clamped nearest one. Every candidate is a true distance,
  // so the smallest is the answer also for parallel and zero-length segments.
  float best = SegmentPointMinLengthSquare(a2, b2, a1);
  float d = SegmentPointMinLengthSquare(a2, b2, b1);
  if (d < best) best = d;
  d = SegmentPointMinLengthSquare(a1, b1, a2);
  if (d < best) best = d;
  d = SegmentPointMinLengthSquare(a1, b1, b2);
  if (d < best) best = d;

  VECTOR d1 = Sub(b1, a1), d2 = Sub(b2, a2), r = Sub(a1, a2);
  float a = Dot(d1, d1), e = Dot(d2, d2), bb = Dot(d1, d2);
  float denom = a * e - bb * bb;
  if (a > 0.0f && e > 0.0f && denom > 0.0f) {
    float c = Dot(d1, r), f = Dot(d2, r);
    float s = (bb * f - c * e) / denom;
    float t = (a * f - bb * c) / denom;
    if (s >= 0.0f && s <= 1.0f && t >= 0.0f && t <= 1.0f) {
      d = LengthSquare(Sub(Add(a1, Scale(d1, s)), Add(a2, Scale(d2, t))));
      if (d < best) best = d;
    }
  }
  return best;
}

float SegmentTriangleMinLengthSquare(VECTOR a, VECTOR b, VECTOR p0, VECTOR p1, VECTOR p2) {
  VECTOR n = mathinl::Normalize(Cross(Sub(p1, p0), Sub(p2, p0)));

  const VECTOR ends[2] = {a, b};
  bool above[2];
  float planeSq[2];
  for (int k = 0; k < 2; ++k) {
    VECTOR x = ends[k];
    VECTOR proj = Sub(x, Scale(n, Dot(Sub(x, p0), n)));
    float u, v, w;
    GetBarycentricCoord(p0, p1, p2, proj, &u, &v, &w);
    above[k] = u > 0.0f && u < 1.0f && v > 0.0f && v < 1.0f && w > 0.0f && w < 1.0f;
    planeSq[k] = LengthSquare(Sub(x, proj));
  }

  if (above[0] && above[1]) {
    float sa = Dot(Sub(a, p0), n), sb = Dot(Sub(b, p0), n);
    if ((sa < 0.0f) != (sb < 0.0f)) return 0.0f;
    return planeSq[0] < planeSq[1] ? planeSq[0] : planeSq[1];
  }

  float best = SegmentSegmentMinLengthSquare(a, b, p0, p1);
  float d = SegmentSegmentMinLengthSquare(a, b, p1, p2);
  if (d < best) best = d;
  d = SegmentSegmentMinLengthSquare(a, b, p2, p0);
  if (d < best) best = d;
  for (int k = 0; k < 2; ++k)
    if (above[k] && planeSq[k] < best) best = planeSq[k];
  return best;
}

float MinLengthPoint(VECTOR a, VECTOR b, VECTOR point) {
  return SqrtFloat(SegmentPointMinLengthSquare(a, b, point));
}

float MinLengthSegment(VECTOR a1, VECTOR b1, VECTOR a2, VECTOR b2) {
  return SqrtFloat(SegmentSegmentMinLengthSquare(a1, b1, a2, b2));
}

float MinLengthTriangle(VECTOR a, VECTOR b, VECTOR p0, VECTOR p1, VECTOR p2) {
  return SqrtFloat(SegmentTriangleMinLengthSquare(a, b, p0, p1, p2));
}

LineHitResult HitCheckLineTriangle(VECTOR start, VECTOR end, VECTOR p0, VECTOR p1, VECTOR p2) {
  LineHitResult result = {0, {0.0f, 0.0f, 0.0f}};
  VECTOR d = Sub(end, start);
  VECTOR a = Sub(p0, start), b = Sub(p1, start), c = Sub(p2, start);
  float u = Dot(Cross(d, b), c);
  float v = Dot(Cross(d, c), a);
  float w = Dot(Cross(d, a), b);
  bool allNonNegative = u >= 0.0f && v >= 0.0f && w >= 0.0f;
  bool allNonPositive = u <= 0.0f && v <= 0.0f && w <= 0.0f;
  if (!allNonNegative && !allNonPositive) return result;
  if (u > -1e-7f && u < 1e-7f && v > -1e-7f && v < 1e-7f && w > -1e-7f && w < 1e-7f) return result;
  float k = 1.0f / (u + v + w);
  float uk = u * k, vk = v * k, wk = w * k;
  result.Position = Add(Add(Scale(p0, uk), Scale(p1, vk)), Scale(p2, wk));
  VECTOR toStart = Sub(start, result.Position), toEnd = Sub(end, result.Position);
  result.HitFlag = Dot(toStart, toEnd) <= 0.0f ? 1 : 0;
  return result;
}
