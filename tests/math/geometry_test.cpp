#include <qzlib/math/geometry.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

namespace {

VECTOR At(VECTOR a, VECTOR b, VECTOR c, double u, double v) {  // a + u (b - a) + v (c - a)
  return {static_cast<float>(a.x + u * (b.x - a.x) + v * (c.x - a.x)),
          static_cast<float>(a.y + u * (b.y - a.y) + v * (c.y - a.y)),
          static_cast<float>(a.z + u * (b.z - a.z) + v * (c.z - a.z))};
}
VECTOR Along(VECTOR a, VECTOR d, float t) { return {a.x + d.x * t, a.y + d.y * t, a.z + d.z * t}; }
double Dist(VECTOR a, VECTOR b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }
VECTOR Random(std::mt19937& rng, float range) {
  std::uniform_real_distribution<float> c(-range, range);
  return {c(rng), c(rng), c(rng)};
}
void ExpectVector(VECTOR got, VECTOR want, float tol) {
  EXPECT_NEAR(got.x, want.x, tol);
  EXPECT_NEAR(got.y, want.y, tol);
  EXPECT_NEAR(got.z, want.z, tol);
}

}  // namespace

TEST(Geometry, NearestPointsAgainstSampling) {
  VECTOR a = {1, 1, 0}, b = {5, 1, 0};
  ExpectVector(GetNearestPointOnSegment({1, 7, 3}, a, b), a, 0);  // projection exactly at a
  ExpectVector(GetNearestPointOnSegment({5, -2, 0}, a, b), b, 0);
  EXPECT_EQ(MinLengthPoint(a, b, {3, 4, 4}), 5.0f);
  VECTOR t0 = {0, 0, 0}, t1 = {1, 0, 0}, t2 = {0, 1, 0};
  ExpectVector(GetNearestPointOnTriangle({0.25f, 0.25f, 3}, t0, t1, t2), {0.25f, 0.25f, 0}, 0);
  ExpectVector(GetNearestPointOnTriangle({3, -1, 2}, t0, t1, t2), t1, 0);
  const int n = 48;
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    VECTOR pa = Random(rng, 4), pb = Random(rng, 4), pc = Random(rng, 4), p = Random(rng, 6);
    double got = Dist(p, GetNearestPointOnTriangle(p, pa, pb, pc)), best = 1e30;
    for (int i = 0; i <= n; ++i)
      for (int j = 0; i + j <= n; ++j)
        best = std::min(best, Dist(p, At(pa, pb, pc, double(i) / n, double(j) / n)));
    double step = std::max({Dist(pa, pb), Dist(pb, pc), Dist(pc, pa)}) / n;
    EXPECT_LE(got, best + 1e-4);         // never farther than a point of the triangle
    EXPECT_GE(got, best - step - 1e-4);  // nor nearer than the triangle allows
  }
  // Overflowing region products make the interior step non-finite: the longest edge answers.
  VECTOR big1 = {4e15f, 0, 0}, big2 = {0, 1e15f, 0}, p = {1e15f, 2e14f, 5};
  VECTOR q = GetNearestPointOnTriangle(p, t0, big1, big2);
  EXPECT_TRUE(std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z));
  ExpectVector(q, GetNearestPointOnSegment(p, big1, big2), 0);
}

TEST(Geometry, BarycentricWeights) {
  float u, v, w;
  GetBarycentricCoord({0, 0, 0}, {4, 0, 0}, {0, 4, 0}, {1, 2, 0}, &u, &v, &w);
  EXPECT_TRUE(u == 0.25f && v == 0.25f && w == 0.5f);
  GetBarycentricCoord({0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {1, 0, 0}, &u, &v, &w);
  EXPECT_FALSE(std::isfinite(v));  // a degenerate triangle, as documented
}

TEST(Geometry, SegmentSegmentDistance) {
  EXPECT_EQ(SegmentSegmentMinLengthSquare({0, 0, 0}, {2, 0, 0}, {1, -1, 0}, {1, 1, 0}), 0.0f);
  EXPECT_EQ(SegmentSegmentMinLengthSquare({1, 2, 3}, {1, 2, 3}, {1, 5, 7}, {1, 5, 7}), 25.0f);
  EXPECT_EQ(SegmentSegmentMinLengthSquare({0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {3, 1, 0}), 2.0f);
  EXPECT_EQ(SegmentSegmentMinLengthSquare({5, 0, 0}, {5, 0, 0}, {0, 1, 0}, {10, 1, 0}), 1.0f);
  EXPECT_EQ(MinLengthSegment({0, 0, 0}, {0, 0, 4}, {3, 0, 9}, {3, 0, -2}), 3.0f);
  const int n = 80;
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    VECTOR a1 = Random(rng, 3), b1 = Random(rng, 3), a2 = Random(rng, 3), b2 = Random(rng, 3);
    if (seed % 5 == 0) {  // parallel, or nearly
      VECTOR d1 = {b1.x - a1.x, b1.y - a1.y + 1e-4f, b1.z - a1.z};
      a2 = Along(a1, Random(rng, 1), 1);
      b2 = Along(a2, d1, seed % 10 == 0 ? -0.7f : 1.3f);
    }
    if (seed % 7 == 0) b1 = a1;  // a point
    double got = std::sqrt(SegmentSegmentMinLengthSquare(a1, b1, a2, b2)), best = 1e30;
    for (int i = 0; i <= n; ++i)
      for (int j = 0; j <= n; ++j)
        best = std::min(best,
                        Dist(At(a1, b1, b1, double(i) / n, 0), At(a2, b2, b2, double(j) / n, 0)));
    EXPECT_LE(got, best + 1e-4);
    EXPECT_GE(got, best - (Dist(a1, b1) + Dist(a2, b2)) / n - 1e-4);
  }
}

TEST(Geometry, SegmentTriangleDistance) {
  VECTOR p0 = {0, 0, 0}, p1 = {4, 0, 0}, p2 = {0, 4, 0};
  // Both ends above the interior: 0 on opposite sides, else the nearer plane distance.
  EXPECT_EQ(SegmentTriangleMinLengthSquare({1, 1, 2}, {1, 1.5f, -3}, p0, p1, p2), 0.0f);
  EXPECT_EQ(SegmentTriangleMinLengthSquare({1, 1, 2}, {1, 1.5f, 3}, p0, p1, p2), 4.0f);
  EXPECT_EQ(MinLengthTriangle({1, 1, -2}, {1, 1.5f, -3}, p0, p1, p2), 2.0f);
  // One end above, the other outside the prism on the same side: the end above is nearest.
  EXPECT_EQ(SegmentTriangleMinLengthSquare({1, 1, 1}, {9, 9, 5}, p0, p1, p2), 1.0f);
  // Through the interior with one end outside the prism: measured by the edges, not as 0.
  float crossing = SegmentTriangleMinLengthSquare({1, 1, -1}, {9, 1, 7}, p0, p1, p2);
  EXPECT_GT(crossing, 0.0f);
  EXPECT_NEAR(crossing, SegmentSegmentMinLengthSquare({1, 1, -1}, {9, 1, 7}, p1, p2), 1e-6f);
  EXPECT_EQ(SegmentTriangleMinLengthSquare({-3, -1, 0}, {-3, 5, 0}, p0, p1, p2), 9.0f);
}

TEST(Geometry, LineTriangleHitOnConstructedCrossings) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.02, 0.96);
    std::uniform_real_distribution<float> t(0.5f, 3);
    VECTOR p0 = Random(rng, 5), p1 = Random(rng, 5), p2 = Random(rng, 5);
    double u = unit(rng), v = unit(rng) * (1 - u);
    VECTOR x = At(p0, p1, p2, u, v);  // inside
    VECTOR e1 = {p1.x - p0.x, p1.y - p0.y, p1.z - p0.z},
           e2 = {p2.x - p0.x, p2.y - p0.y, p2.z - p0.z};
    VECTOR nrm = {e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    if (Dist(nrm, {0, 0, 0}) < 1.0) continue;  // skip slivers
    // The unit normal plus at most 0.7 of anything: steep enough.
    VECTOR d = Along(Random(rng, 0.4f), nrm, 1 / static_cast<float>(Dist(nrm, {0, 0, 0})));
    VECTOR s = Along(x, d, -t(rng)), e = Along(x, d, t(rng));
    float tol = 2e-4f * static_cast<float>(1 + Dist(x, {0, 0, 0}));
    for (int winding = 0; winding < 2; ++winding) {
      LineHitResult r = HitCheckLineTriangle(s, e, p0, winding ? p2 : p1, winding ? p1 : p2);
      EXPECT_EQ(r.HitFlag, 1);
      ExpectVector(r.Position, x, tol);
    }
    LineHitResult r = HitCheckLineTriangle(s, Along(x, d, -0.1f), p0, p1, p2);  // stops short
    EXPECT_EQ(r.HitFlag, 0);
    ExpectVector(r.Position, x, tol);
    VECTOR outside = At(p0, p1, p2, -0.3, 0.5);
    EXPECT_EQ(HitCheckLineTriangle(Along(outside, d, -1), Along(outside, d, 1), p0, p1, p2).HitFlag,
              0);
  }
  // In the plane: no hit, position untouched. Triple products all within 1e-7 count as in the
  // plane, though this tiny triangle is crossed.
  LineHitResult r = HitCheckLineTriangle({-1, 1, 0}, {5, 1, 0}, {0, 0, 0}, {4, 0, 0}, {0, 4, 0});
  EXPECT_EQ(r.HitFlag, 0);
  ExpectVector(r.Position, {0, 0, 0}, 0);
  r = HitCheckLineTriangle({2e-4f, 2e-4f, -1e-3f}, {2e-4f, 2e-4f, 1e-3f}, {0, 0, 0}, {1e-3f, 0, 0},
                           {0, 1e-3f, 0});
  EXPECT_EQ(r.HitFlag, 0);
  r = HitCheckLineTriangle({0.2f, 0.2f, -1}, {0.2f, 0.2f, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
  EXPECT_EQ(r.HitFlag, 1);
  ExpectVector(r.Position, {0.2f, 0.2f, 0}, 1e-7f);
}

namespace {

// The nearest-point query as it was before degenerate triangles were handled: the reference that
// every non-degenerate triangle must still match bit for bit.
VECTOR V(float x, float y, float z) { return {x, y, z}; }
VECTOR OldSub(VECTOR a, VECTOR b) { return V(a.x - b.x, a.y - b.y, a.z - b.z); }
VECTOR OldAdd(VECTOR a, VECTOR b) { return V(a.x + b.x, a.y + b.y, a.z + b.z); }
VECTOR OldScale(VECTOR a, float s) { return V(a.x * s, a.y * s, a.z * s); }
float OldDot(VECTOR a, VECTOR b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
bool Finite(VECTOR v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
VECTOR OldNearestOnTriangle(VECTOR p, VECTOR a, VECTOR b, VECTOR c) {
  VECTOR ab = OldSub(b, a), ac = OldSub(c, a), ap = OldSub(p, a);
  float d1 = OldDot(ab, ap), d2 = OldDot(ac, ap);
  if (d1 <= 0.0f && d2 <= 0.0f) return a;
  VECTOR bp = OldSub(p, b);
  float d3 = OldDot(ab, bp), d4 = OldDot(ac, bp);
  if (d3 >= 0.0f && d4 <= d3) return b;
  float vc = d1 * d4 - d3 * d2;
  if (vc <= 0.0f && d1 >= 0.0f && d3 <= 0.0f) return OldAdd(a, OldScale(ab, d1 / (d1 - d3)));
  VECTOR cp = OldSub(p, c);
  float d5 = OldDot(ab, cp), d6 = OldDot(ac, cp);
  if (d6 >= 0.0f && d5 <= d6) return c;
  float vb = d5 * d2 - d1 * d6;
  if (vb <= 0.0f && d2 >= 0.0f && d6 <= 0.0f) return OldAdd(a, OldScale(ac, d2 / (d2 - d6)));
  float va = d3 * d6 - d5 * d4;
  if (va <= 0.0f && d4 - d3 >= 0.0f && d5 - d6 >= 0.0f)
    return OldAdd(b, OldScale(OldSub(c, b), (d4 - d3) / ((d4 - d3) + (d5 - d6))));
  float sum = va + vb + vc;
  if (sum != 0.0f) {
    float n = 1.0f / sum;
    VECTOR r = OldAdd(OldAdd(a, OldScale(ab, vb * n)), OldScale(ac, vc * n));
    if (Finite(r)) return r;
  }
  float lab = OldDot(ab, ab), lbc = OldDot(OldSub(c, b), OldSub(c, b)),
        lca = OldDot(OldSub(a, c), OldSub(a, c));
  if (lab >= lbc && lab >= lca) return GetNearestPointOnSegment(p, a, b);
  if (lbc >= lca) return GetNearestPointOnSegment(p, b, c);
  return GetNearestPointOnSegment(p, c, a);
}
bool BitSame(VECTOR a, VECTOR b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool ZeroCross(VECTOR a, VECTOR b, VECTOR c) {
  VECTOR u = OldSub(b, a), v = OldSub(c, a);
  return u.y * v.z - u.z * v.y == 0 && u.z * v.x - u.x * v.z == 0 && u.x * v.y - u.y * v.x == 0;
}
// Distance from p to the nearest of the three edges, by dense sampling.
double SampledEdgeDistance(VECTOR p, VECTOR a, VECTOR b, VECTOR c) {
  double best = 1e30;
  const VECTOR ends[3][2] = {{a, b}, {b, c}, {c, a}};
  for (const auto& e : ends)
    for (int i = 0; i <= 2000; ++i) best = std::min(best, Dist(p, At(e[0], e[1], e[1], i / 2000.0, 0)));
  return best;
}

}  // namespace

TEST(Geometry, NearestPointOnDegenerateTriangleIsOnItsLongestSegment) {
  int checked = 0;
  for (uint32_t seed = 1; seed <= 4000; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    VECTOR a = Random(rng, 4), b = Random(rng, 4), c = Random(rng, 4), p = Random(rng, 6);
    switch (seed % 5) {
      case 0: b = a; break;  // each pair of corners coincides in turn
      case 1: c = a; break;
      case 2: c = b; break;
      case 3: {  // three collinear corners on an axis-aligned line (exact in float), any order
        std::uniform_int_distribution<int> k(-8, 8);
        float t[3] = {float(k(rng)), float(k(rng)), float(k(rng))};
        VECTOR o = V(std::round(a.x), std::round(a.y), std::round(a.z));
        a = V(o.x + t[0], o.y, o.z), b = V(o.x + t[1], o.y, o.z), c = V(o.x + t[2], o.y, o.z);
        break;
      }
      default: b = c = a;  // a point
    }
    VECTOR q = GetNearestPointOnTriangle(p, a, b, c);
    ASSERT_TRUE(Finite(q));
    double got = Dist(p, q), best = SampledEdgeDistance(p, a, b, c);
    double step = std::max({Dist(a, b), Dist(b, c), Dist(c, a)}) / 2000;
    EXPECT_LE(got, best + 1e-4);
    EXPECT_GE(got, best - step - 1e-4);
    ++checked;
  }
  EXPECT_EQ(checked, 4000);
  // Collinear corners along a slanted line, the middle one first: the whole span answers.
  VECTOR q = GetNearestPointOnTriangle({1, 5, 0}, {2, 2, 2}, {0, 0, 0}, {4, 4, 4});
  EXPECT_TRUE(Finite(q));
  EXPECT_NEAR(Dist(q, {2, 2, 2}), 0, 1e-5);
}

TEST(Geometry, NearestPointOnTriangleUnchangedForProperTriangles) {
  int compared = 0;
  for (uint32_t seed = 1; seed <= 100000; ++seed) {
    std::mt19937 rng(seed);
    float range = seed % 3 == 0 ? 1e-3f : seed % 3 == 1 ? 5.0f : 3e4f;
    VECTOR a = Random(rng, range), b = Random(rng, range), c = Random(rng, range),
           p = Random(rng, 2 * range);
    if (seed % 11 == 0) c = At(a, b, b, 0.5, 0);  // nearly collinear after rounding
    if (seed % 13 == 0) p = At(a, b, c, 0.25, 0.25);  // in the plane
    if (ZeroCross(a, b, c)) continue;
    VECTOR want = OldNearestOnTriangle(p, a, b, c);
    if (!Finite(want)) continue;
    ++compared;
    VECTOR got = GetNearestPointOnTriangle(p, a, b, c);
    if (!BitSame(got, want)) {
      ADD_FAILURE() << "seed " << seed;
      break;
    }
  }
  EXPECT_GT(compared, 90000);
}
