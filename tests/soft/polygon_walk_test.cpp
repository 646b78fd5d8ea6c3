// Scan conversion: the rows and spans a triangle covers, against hand-listed pixel sets and the
// reference walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include <qzlib/soft/polygon_walk.h>
#include "tests/support/ref_polygon.h"

namespace {

using Visits = std::vector<std::pair<int, int>>;  // (x, y) in visit order

struct TexVisit {
  int x, y;
  uint32_t u, v;
  bool operator==(const TexVisit& o) const { return x == o.x && y == o.y && u == o.u && v == o.v; }
};

std::vector<TexVisit> EngineVisits(const MemImgVertex* v, const RECT& area) {
  std::vector<TexVisit> out;
  PolygonSetup s;
  if (!SetUpPolygon(v, true, &s)) return out;
  WalkPolygon(s, area, [&](int32_t y, int32_t x, int32_t count) {
    uint32_t u, vv;
    PolygonTexStart(s, x, y, &u, &vv);
    for (int32_t i = 0; i < count; ++i) {
      out.push_back({x + i, y, u, vv});
      u += static_cast<uint32_t>(s.ux);
      vv += static_cast<uint32_t>(s.vx);
    }
  });
  return out;
}

std::vector<TexVisit> RefVisits(const MemImgVertex* v, const RECT& area) {
  std::vector<TexVisit> out;
  for (const RefPolygonVisit& r : RefPolygonVisits(v, area)) out.push_back({r.x, r.y, r.u, r.v});
  return out;
}

Visits Positions(const std::vector<TexVisit>& t) {
  Visits out;
  for (auto& e : t) out.push_back({e.x, e.y});
  return out;
}

// Rows y0..y1 (inclusive) each covering [xFrom(y), xTo(y)].
template <class F, class G>
Visits Rows(int y0, int y1, F xFrom, G xTo) {
  Visits out;
  for (int y = y0; y <= y1; ++y)
    for (int x = xFrom(y); x <= xTo(y); ++x) out.push_back({x, y});
  return out;
}

const RECT kBig{-100, -100, 100, 100};

MemImgVertex P(int x, int y, int u = 0, int v = 0) { return MemImgVertex{x, y, u, v}; }

// Both walks of one triangle in every corner order must visit exactly `expected`.
void ExpectCoverAllOrders(MemImgVertex a, MemImgVertex b, MemImgVertex c, const RECT& area,
                          Visits expected) {
  MemImgVertex p[3] = {a, b, c};
  std::sort(expected.begin(), expected.end());
  int perm[3] = {0, 1, 2};
  do {
    MemImgVertex v[3] = {p[perm[0]], p[perm[1]], p[perm[2]]};
    Visits e = Positions(EngineVisits(v, area));
    Visits r = Positions(RefVisits(v, area));
    std::sort(e.begin(), e.end());
    std::sort(r.begin(), r.end());
    EXPECT_EQ(e, expected) << "engine, order " << perm[0] << perm[1] << perm[2];
    EXPECT_EQ(r, expected) << "reference, order " << perm[0] << perm[1] << perm[2];
  } while (std::next_permutation(perm, perm + 3));
}

TEST(PolygonWalk, FlatTopRightTriangle) {
  // Rows 0..9, row k covering x = 0..10-k; the bottom corner's row is not drawn.
  ExpectCoverAllOrders(P(0, 0), P(10, 0), P(0, 10), kBig,
                       Rows(0, 9, [](int) { return 0; }, [](int y) { return 10 - y; }));
}

TEST(PolygonWalk, FlatBottomTriangle) {
  // (10,0), (0,10), (10,10): rows 0..9, row k from 10-k to 10.
  ExpectCoverAllOrders(P(10, 0), P(0, 10), P(10, 10), kBig,
                       Rows(0, 9, [](int y) { return 10 - y; }, [](int) { return 10; }));
}

TEST(PolygonWalk, SmallHandListedTriangles) {
  // (0,0), (2,0), (0,2): row 0 x 0..2, row 1 x 0..1.
  ExpectCoverAllOrders(P(0, 0), P(2, 0), P(0, 2), kBig, {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}});
  // One-row triangle (0,0), (1,0), (0,1): row 0 only, x 0..1.
  ExpectCoverAllOrders(P(0, 0), P(1, 0), P(0, 1), kBig, {{0, 0}, {1, 0}});
  // Middle corner on the right: (0,0), (4,2), (0,4). Right edge: x = 0.5 + 2t/... rows 0..3.
  // Left edge x = 0.5 (int 0). Right upper edge from 0.5 step 2 per row: rows 0, 1 reach
  // X 0.5, 2.5 -> 0, 2; lower from 4.5 + 1 unit, step -2: rows 2, 3 -> 4, 2.
  ExpectCoverAllOrders(P(0, 0), P(4, 2), P(0, 4), kBig,
                       {{0, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2},
                        {0, 3}, {1, 3}, {2, 3}});
  // Middle corner on the left: (4,0), (0,2), (4,4). Left upper 4.5 step -2: rows 0, 1 -> 4, 2;
  // lower from 0.5 step 2: rows 2, 3 -> 0, 2. Right edge 4.5.
  ExpectCoverAllOrders(P(4, 0), P(0, 2), P(4, 4), kBig,
                       {{4, 0}, {2, 1}, {3, 1}, {4, 1}, {0, 2}, {1, 2}, {2, 2}, {3, 2}, {4, 2},
                        {2, 3}, {3, 3}, {4, 3}});
}

TEST(PolygonWalk, CornersBeyondTheFixedRangeDrawNothing) {
  MemImgVertex tooFar[3] = {P(8192, 0), P(8180, 10), P(8170, 0)};
  MemImgVertex tooWide[3] = {P(-4096, 0), P(4096, 0), P(0, 10)};  // difference 8192
  MemImgVertex edge[3] = {P(-4096, 0), P(4095, 0), P(0, 10)};     // difference 8191: drawn
  PolygonSetup s;
  EXPECT_FALSE(SetUpPolygon(tooFar, false, &s));
  EXPECT_FALSE(SetUpPolygon(tooWide, false, &s));
  EXPECT_TRUE(SetUpPolygon(edge, false, &s));
  EXPECT_TRUE(RefPolygonVisits(tooWide, kBig).empty());
  EXPECT_FALSE(RefPolygonVisits(edge, kBig).empty());
}

TEST(PolygonWalk, RowsAboveZeroShiftDown) {
  // (0,-2), (4,-2), (0,2): flat top at row -2 taken as -1; rows -1..2 drawn (bottom corner's row
  // included) with the X of the row above each.
  MemImgVertex v[3] = {P(0, -2), P(4, -2), P(0, 2)};
  Visits got = Positions(EngineVisits(v, kBig));
  Visits want = {{0, -1}, {1, -1}, {2, -1}, {3, -1}, {4, -1}, {0, 0}, {1, 0}, {2, 0}, {3, 0},
                 {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(Positions(RefVisits(v, kBig)), want);
}

TEST(PolygonWalk, MiddleRowRepeatedWhenTopIsAboveZero) {
  // Top (4,-2), middle left (0,1), bottom (4,4). The upper part runs rows -1..1, the lower part
  // restarts at row 1, so row 1 is visited twice, and row 4 is not drawn.
  MemImgVertex v[3] = {P(4, -2), P(0, 1), P(4, 4)};
  Visits got = Positions(EngineVisits(v, kBig));
  EXPECT_EQ(got, Positions(RefVisits(v, kBig)));
  int row1 = 0, row4 = 0;
  for (auto& p : got) {
    row1 += p.second == 1;
    row4 += p.second == 4;
  }
  EXPECT_EQ(row4, 0);
  std::set<std::pair<int, int>> unique(got.begin(), got.end());
  EXPECT_LT(unique.size(), got.size());
  EXPECT_GT(row1, 5);
}

TEST(PolygonWalk, ClipsAgainstEveryEdgeOfTheArea) {
  auto all = Rows(0, 9, [](int) { return 0; }, [](int y) { return 10 - y; });
  const RECT areas[] = {{3, -100, 100, 100}, {-100, 2, 100, 100}, {-100, -100, 6, 100},
                        {-100, -100, 100, 7}, {2, 3, 7, 8},        {20, 20, 30, 30}};
  for (const RECT& a : areas) {
    Visits want;
    for (auto& p : all)
      if (p.first >= a.left && p.first < a.right && p.second >= a.top && p.second < a.bottom)
        want.push_back(p);
    ExpectCoverAllOrders(P(0, 0), P(10, 0), P(0, 10), a, want);
  }
}

TEST(PolygonWalk, RightEndBetweenMinusOneAndZeroDrawsColumnZero) {
  // Right edge X between -1 and 0 pixels truncates to 0.
  MemImgVertex v[3] = {P(-10, 0), P(-1, 0), P(-10, 9)};
  RECT area{0, -100, 100, 100};
  Visits got = Positions(EngineVisits(v, area));
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), std::make_pair(0, 0));
  EXPECT_EQ(got, Positions(RefVisits(v, area)));
}

TEST(PolygonWalk, RandomTrianglesMatchTheReference) {
#ifdef __SANITIZE_ADDRESS__
  const int cases = 10000;
#else
  const int cases = 30000;
#endif
  for (int c = 0; c < cases; ++c) {
    uint32_t seed = 1000u + c;
    std::mt19937 rng(seed);
    auto r = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
    int span = (c % 4 == 0) ? 4 : (c % 4 == 1 ? 40 : (c % 4 == 2 ? 200 : 9000));
    MemImgVertex v[3];
    for (auto& p : v) p = {r(-span, span), r(-span, span), r(-300, 300), r(-300, 300)};
    if (c % 7 == 0) v[1].y = v[0].y;  // flat top or bottom
    RECT area{r(-20, 10), r(-20, 10), r(10, 60), r(10, 60)};
    auto e = EngineVisits(v, area);
    auto ref = RefVisits(v, area);
    ASSERT_EQ(e.size(), ref.size()) << "seed " << seed;
    for (size_t i = 0; i < e.size(); ++i)
      ASSERT_TRUE(e[i] == ref[i]) << "seed " << seed << " visit " << i << " at " << e[i].x << ","
                                  << e[i].y;
  }
}

}  // namespace
