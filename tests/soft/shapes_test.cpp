// Circle, oval and line-list drawers: pinned cases, worked pixel examples, differential tests
// against the reference model, the closed-form walk, refusals and allocation failures.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <tuple>
#include <utility>

#include <qzlib/base/types.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>
#include <qzlib/soft/shapes.h>
#include <qzlib/soft/shapes_walk.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/ref_shapes.h"
#include "tests/support/test_support.h"

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr int kRandomCases = 600;
#else
constexpr int kRandomCases = 4000;
#endif

class ShapesTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    static bool tables = (InitMemImgBlendTable(), true);
    (void)tables;
    SetDraw(BLENDMODE::NOBLEND, 255, 0xFFFFFF);
  }
  static void SetDraw(int mode, int p, uint32_t bright) {
    DrawBlendMode = mode;
    DrawBlendParam = p;
    DrawBright = bright;
  }
};

// Visit counts: ADD with colour 1 at p = 255 over a zeroed 32-bit surface leaves in each pixel's
// blue byte how many times the drawer visited it. Keys are offsets from the centre.
using Counts = std::map<std::pair<int, int>, int>;
template <class Draw>
Counts VisitCounts(Draw draw) {
  GuardedSurface s({.width = 120, .height = 120}, 1);
  s.fill(0);
  DrawArea = {0, 0, 120, 120};
  DrawBlendMode = BLENDMODE::ADD;
  DrawBlendParam = 255;
  draw(s.img(), 60, 60);
  EXPECT_TRUE(s.CheckGuards());
  Counts c;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 120; ++x)
      if (uint32_t v = s.get(x, y)) c[{x - 60, y - 60}] = int(v);
  return c;
}

int Total(const Counts& c) {
  int n = 0;
  for (auto& [k, v] : c) n += v;
  return n;
}

TEST_F(ShapesTest, CircleCoverage) {
  Counts f1 = VisitCounts([](MEMIMG* d, int x, int y) { DrawCircleMemImg(d, x, y, 1, 1, 1); });
  EXPECT_EQ(f1, (Counts{{{-1, 0}, 1}, {{0, 0}, 1}, {{1, 0}, 1}, {{0, -1}, 1}, {{0, 1}, 1}}));
  Counts o0 = VisitCounts([](MEMIMG* d, int x, int y) { DrawCircleMemImg(d, x, y, 0, 1, 0); });
  EXPECT_EQ(o0, (Counts{{{0, 0}, 4}}));
  Counts o3 = VisitCounts([](MEMIMG* d, int x, int y) { DrawCircleMemImg(d, x, y, 3, 1, 0); });
  EXPECT_EQ(Total(o3), 20);
  EXPECT_EQ(o3.size(), 16u);
  for (int sx : {-2, 2})
    for (int sy : {-2, 2}) EXPECT_EQ((o3[{sx, sy}]), 2);
  Counts f2 = VisitCounts([](MEMIMG* d, int x, int y) { DrawCircleMemImg(d, x, y, 2, 1, 1); });
  EXPECT_EQ(f2.size(), 21u);
  EXPECT_EQ(Total(f2), 21);
  // r = 10 half-widths by distance from the centre row, each pixel once.
  Counts f10 = VisitCounts([](MEMIMG* d, int x, int y) { DrawCircleMemImg(d, x, y, 10, 1, 1); });
  const int half[11] = {10, 10, 10, 10, 9, 9, 8, 7, 6, 5, 3};
  for (int dy = -10; dy <= 10; ++dy)
    for (int dx = -11; dx <= 11; ++dx)
      EXPECT_EQ((f10.count({dx, dy}) ? f10[{dx, dy}] : 0), std::abs(dx) <= half[std::abs(dy)] ? 1 : 0);
}

TEST_F(ShapesTest, OvalCoverage) {
  Counts f53 = VisitCounts([](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, 5, 3, 1, 1); });
  EXPECT_EQ(Total(f53), 61);
  EXPECT_EQ(f53.size(), 61u);
  const int half53[4] = {5, 5, 4, 2};
  for (auto& [k, v] : f53) EXPECT_LE(std::abs(k.first), half53[std::abs(k.second)]);
  EXPECT_EQ(VisitCounts([](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, -5, -3, 1, 1); }), f53);
  Counts f110 = VisitCounts([](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, 1, 10, 1, 1); });
  EXPECT_EQ(f110.size(), 29u * 3);
  for (auto& [k, v] : f110) EXPECT_TRUE(std::abs(k.first) <= 1 && std::abs(k.second) <= 14 && v == 1);
  // Outline 10 x 1: the end points once, the centre row between them twice, then the tips.
  Counts o101 = VisitCounts([](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, 10, 1, 1, 0); });
  Counts want{{{-10, 0}, 1}, {{10, 0}, 1}, {{0, -1}, 1}, {{0, 1}, 1}};
  for (int x = 1; x <= 9; ++x) want[{x, 0}] = want[{-x, 0}] = 2;
  EXPECT_EQ(o101, want);
  EXPECT_EQ(VisitCounts([](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, 0, 9, 1, 1); }), Counts{});
  EXPECT_EQ(VisitCounts([](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, 1, 1, 1, 0); }),
            (Counts{{{-1, 0}, 1}, {{1, 0}, 1}, {{0, -1}, 1}, {{0, 1}, 1}}));
}

// Which outline listings repeat a pixel, and how far tall ovals reach, on further radii.
TEST_F(ShapesTest, RepeatedPointsAndTallReach) {
  auto twice = [](const Counts& c) {
    Counts t;
    for (auto& [k, v] : c)
      if (v > 1) t[k] = v;
    return t;
  };
  auto outlineOval = [](int rx, int ry) {
    return VisitCounts([=](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, rx, ry, 1, 0); });
  };
  auto outlineCircle = [](int r) {
    return VisitCounts([=](MEMIMG* d, int x, int y) { DrawCircleMemImg(d, x, y, r, 1, 0); });
  };
  EXPECT_EQ(outlineCircle(1), (Counts{{{-1, 0}, 1}, {{1, 0}, 1}, {{0, 1}, 1}, {{0, -1}, 1}}));
  const Counts c2 = outlineCircle(2);
  EXPECT_EQ(c2.size(), 12u);
  EXPECT_EQ(Total(c2), 12);
  EXPECT_EQ(twice(outlineCircle(4)), (Counts{{{-3, -3}, 2}, {{3, -3}, 2}, {{-3, 3}, 2}, {{3, 3}, 2}}));
  EXPECT_EQ(twice(outlineCircle(10)), (Counts{{{-7, -7}, 2}, {{7, -7}, 2}, {{-7, 7}, 2}, {{7, 7}, 2}}));
  for (int r : {5, 8, 9, 12}) EXPECT_EQ(twice(outlineCircle(r)), Counts{}) << "r " << r;
  EXPECT_EQ(twice(outlineOval(10, 3)), (Counts{{{-9, 0}, 2}, {{9, 0}, 2}}));
  EXPECT_EQ(twice(outlineOval(7, 2)), (Counts{{{-6, 0}, 2}, {{6, 0}, 2}}));
  EXPECT_EQ(twice(outlineOval(12, 2)), (Counts{{{-11, 0}, 2}, {{-10, 0}, 2}, {{10, 0}, 2}, {{11, 0}, 2}}));
  for (auto [rx, ry] : {std::pair{10, 4}, {4, 2}, {1, 7}, {3, 5}})
    EXPECT_EQ(twice(outlineOval(rx, ry)), Counts{}) << rx << " x " << ry;
  // A tall oval keeps its upper half-width while its accumulator fills, so it ends below ry.
  for (auto [rx, ry, last] : {std::tuple{4, 10, 11}, {19, 20, 20}, {1, 10, 14}}) {
    const Counts f = VisitCounts([=](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, rx, ry, 1, 1); });
    int lo = 0, hi = 0;
    for (auto& [k, v] : f) lo = std::min(lo, k.second), hi = std::max(hi, k.second);
    EXPECT_EQ(hi, last) << rx << " x " << ry;
    EXPECT_EQ(lo, -last) << rx << " x " << ry;
  }
}

// Values left on pixels that a drawing blends more than once, each blend reading the last.
TEST_F(ShapesTest, RepeatedBlends) {
  struct Case { int format, mode, p, r, ry; bool oval; uint32_t colour, before; int dx, dy; uint32_t after; };
  const Case cases[] = {
      {1, BLENDMODE::ALPHA, 128, 0, 0, false, 0xFF, 0x00, 0, 0, 239},
      {1, BLENDMODE::ALPHA, 128, 3, 0, false, 0xFF, 0x00, 2, -2, 191},
      {1, BLENDMODE::ALPHA, 128, 3, 0, false, 0xFF, 0x00, 0, 3, 127},
      {0, BLENDMODE::ALPHA, 128, 3, 0, false, 0xFFFF, 0x0000, -2, 2, 23u << 11 | 47u << 5 | 23},
      {1, BLENDMODE::INVSRC, 128, 0, 0, false, 0x000000, 0x000000, 0, 0, 0xEFEFEF},
      {1, BLENDMODE::ADD, 255, 0, 0, false, 0x0A, 0x64, 0, 0, 0x8C},
      {1, BLENDMODE::ADD, 255, 5, 1, true, 0x0A, 0x64, -4, 0, 0x78},
      {1, BLENDMODE::ADD, 255, 5, 1, true, 0x0A, 0x64, 5, 0, 0x6E},
      {1, BLENDMODE::SUB, 255, 0, 0, false, 0x0A, 0x00FFFF64, 0, 0, 0x00FFFF3C},
      {1, BLENDMODE::SUB, 255, 5, 1, true, 0x0A, 0x00FFFF64, 1, 0, 0x00FFFF50},
      {1, BLENDMODE::SUB, 255, 5, 1, true, 0x0A, 0x00FFFF64, 0, -1, 0x00FFFF5A},
      {1, BLENDMODE::MUL, 0, 0, 0, false, 0x808080, 0x11FFFFFF, 0, 0, 0x110F0F0F},
      {1, BLENDMODE::MUL, 77, 3, 0, false, 0x808080, 0x11FFFFFF, 2, 2, 0x113F3F3F},
      {1, BLENDMODE::MUL, 77, 4, 1, true, 0x808080, 0x11FFFFFF, -3, 0, 0x113F3F3F},
      {1, BLENDMODE::MULA, 128, 0, 0, false, 0x000000, 0xFFFFFF, 0, 0, 0x0F0F0F},
      {0, BLENDMODE::MULA, 128, 0, 0, false, 0x0000, 0xFFFF, 0, 0, 2u << 11 | 4u << 5 | 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " mode " << c.mode << " r " << c.r << "," << c.ry
                                    << " at " << c.dx << "," << c.dy);
    GuardedSurface s({.width = 16, .height = 16, .format = c.format}, 9);
    s.fill(c.before);
    DrawArea = {0, 0, 16, 16};
    SetDraw(c.mode, c.p, 0xFFFFFF);
    if (c.oval) DrawOvalMemImg(s.img(), 8, 8, c.r, c.ry, c.colour, 0);
    else DrawCircleMemImg(s.img(), 8, 8, c.r, c.colour, 0);
    EXPECT_EQ(s.get(8 + c.dx, 8 + c.dy), c.after);
    EXPECT_TRUE(s.CheckGuards());
  }
}

// An oval with rx = ry covers exactly the circle's pixels (writing none of them twice).
TEST_F(ShapesTest, RoundOvalIsTheCircle) {
  for (int r = 1; r <= 55; ++r)
    for (int fill : {0, 1}) {
      Counts c = VisitCounts([&](MEMIMG* d, int x, int y) { DrawCircleMemImg(d, x, y, r, 1, fill); });
      Counts o = VisitCounts([&](MEMIMG* d, int x, int y) { DrawOvalMemImg(d, x, y, r, r, 1, fill); });
      ASSERT_EQ(o.size(), c.size()) << "r " << r << " fill " << fill;
      for (auto& [k, v] : o) {
        EXPECT_EQ(v, 1);
        EXPECT_TRUE(c.count(k)) << "r " << r << " fill " << fill << " at " << k.first << "," << k.second;
      }
    }
}

// Worked examples of the pixel rules, checked on the drawer (a radius-0 filled circle is one
// pixel) and on the reference model.
TEST_F(ShapesTest, PixelRuleExamples) {
  struct Case { int format, mode, p; uint32_t colour, before, after; };
  const Case cases[] = {
      {1, 1, 128, 0xC08040, 0x5A112233, 0x5A685139},  {0, 1, 128, 0xFFFF, 0x0000, 0x7BEF},
      {0, 1, 128, 0x0000, 0xFFFF, 0x8410},            {0, 1, 254, 0xFFFF, 0x0000, 0xF7DE},
      {0, 1, 9, 0xFFFF, 0x0000, 0x0841},              {1, 1, 254, 0xFF, 0x00, 0xFD},
      {1, 2, 128, 0xC86432, 0x00F0A010, 0x01FFD229},  {1, 2, 255, 0x000001, 0xAB0000FF, 0x000001FF},
      {1, 2, 255, 0xFFFFFF, 0x00FFFFFF, 0x01FFFFFF},  {1, 2, 255, 0x000101, 0x00000101, 0x00000102},
      {0, 2, 128, 0x8C71, 0x5A6B, 0x9C73},            {0, 2, 255, 0x0400, 0x0400, 0x0FC0},
      {0, 2, 255, 0x0400, 0x0420, 0x0FE0},            {0, 2, 255, 0x0001, 0x001F, 0x003F},
      {1, 2, 1, 0x808080, 0x80A0B0C0, 0x00A0B0C0},    {1, 3, 128, 0xC86432, 0xFF967814, 0x00334600},
      {1, 3, 255, 0xFFFFFF, 0xFFFFFFFF, 0x00010100},  {0, 3, 255, 0xFFFF, 0xFFFF, 0x0800},
      {0, 3, 200, 0xA50A, 0xCC25, 0x5840},            {1, 4, 0, 0x80FF40, 0x80C8FF40, 0x8064FE10},
      {0, 4, 77, 0x8410, 0xFFFF, 0x7BEF},             {0, 4, 77, 0xFFFF, 0xFFFF, 0xF7DE},
      {1, 10, 100, 0x336699, 0x7F5EEE66, 0x7F88CC66}, {0, 10, 100, 0x6D3A, 0x1234, 0x424F},
      {1, 10, 255, 0x000000, 0x0000FF00, 0x00FEFFFE},
      {1, 11, 128, 0xC08040, 0x5A112233, 0x5A0E191F}, {1, 11, 255, 0xC08040, 0x5A112233, 0x5A0C110C},
      {1, 11, 1, 0xC08040, 0x5A112233, 0x5A102132},   {0, 11, 128, 0x8410, 0xFFFF, 0xBDF7},
      {0, 11, 254, 0xFFFF, 0xFFFF, 0xFFFF},           {0, 11, 255, 0xFFFF, 0xFFFF, 0xF7DE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " mode " << c.mode << " p " << c.p << " colour "
                                    << std::hex << c.colour << " on " << c.before);
    EXPECT_EQ(RefShapePixel(c.format, c.mode, c.p, c.colour, c.before), c.after);
    GuardedSurface s({.width = 3, .height = 3, .format = c.format}, 2);
    s.set(1, 1, c.before);
    DrawArea = {0, 0, 3, 3};
    SetDraw(c.mode, c.p, 0xFFFFFF);
    DrawCircleMemImg(s.img(), 1, 1, 0, c.colour, 1);
    EXPECT_EQ(s.get(1, 1), c.after);
    EXPECT_TRUE(s.CheckGuards());
  }
  // The tint divides by 256 and keeps the fourth byte; it comes before the complement.
  EXPECT_EQ(RefShapeTint(0x80FFFFFF, 0xFFFFFE, 1), 0x80FEFEFDu);
  GuardedSurface s({.width = 3, .height = 3}, 3);
  DrawArea = {0, 0, 3, 3};
  SetDraw(BLENDMODE::NOBLEND, 0, 0xFFFFFE);
  DrawOvalMemImg(s.img(), 1, 1, 1, 1, 0x80FFFFFF, 1);
  EXPECT_EQ(s.get(1, 1), 0x80FEFEFDu);
  SetDraw(BLENDMODE::INVSRC, 255, 0x808080);
  s.set(1, 1, 0);
  DrawCircleMemImg(s.img(), 1, 1, 0, 0xFFFFFF, 1);
  EXPECT_EQ(s.get(1, 1), 0x7F7F7Fu);
}

// Random shapes, states and surfaces against the reference model, guard bands checked.
TEST_F(ShapesTest, MatchesReferenceModel) {
  const int modes[] = {0, 1, 2, 3, 4, 10, 11, 1, 2, 3, 10, 11, 5, 12, -1};
  for (int n = 0; n < kRandomCases; ++n) {
    const uint32_t seed = 0x5EED0000u + n;
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int format = pick(0, 1), w = pick(1, 70), h = pick(1, 70);
    GuardedSurface s({.width = w, .height = h, .format = format}, seed);
    RefShapeState st;
    // The draw area may reach past the surface: the drawers also clip to the surface itself.
    st.left = pick(0, w);
    st.top = pick(0, h);
    st.right = pick(int(st.left), w + (pick(0, 5) == 0 ? 20 : 0));
    st.bottom = pick(int(st.top), h + (pick(0, 5) == 0 ? 20 : 0));
    DrawArea = {int(st.left), int(st.top), int(st.right), int(st.bottom)};
    st.right = std::min<int64_t>(st.right, w);
    st.bottom = std::min<int64_t>(st.bottom, h);
    st.mode = modes[pick(0, 14)];
    const int pk = pick(0, 9);
    st.param = pk == 0 ? 0 : pk == 1 ? 255 : pk == 2 ? pick(1, 4) : pick(0, 255);
    st.bright = pick(0, 2) ? 0xFFFFFF : uint32_t(rng()) & (pick(0, 1) ? 0xFFFFFF : 0xFFFFFFFF);
    SetDraw(st.mode, st.param, st.bright);
    uint32_t colour = rng();
    if (format == 0 && pick(0, 1)) colour &= 0xFFFF;
    const int cx = pick(-30, w + 30), cy = pick(-30, h + 30), fill = pick(0, 1);
    int rx = pick(0, 3) ? pick(0, 40) : pick(0, 4), ry = pick(0, 3) ? pick(0, 40) : pick(0, 4);
    if (pick(0, 5) == 0) rx = pick(-40, -1);
    if (pick(0, 5) == 0) ry = pick(100, 400);  // tall, reaching far below ry
    std::vector<uint8_t> want = s.Snapshot();
    s.base()->RunMapValid = s.base()->PremulValid = 1;
    // The vector spans (AVX2 or SSE2 kernels) or their twin on the generic path.
    const int path = pick(0, 2);
    SoftForceGenericPath = path == 2;
    PlainSimdForceSse2 = path == 1;
    if (pick(0, 1)) {
      RefDrawCircle(want, w, format, st, cx, cy, std::abs(rx), colour, fill);
      DrawCircleMemImg(s.img(), cx, cy, std::abs(rx), colour, fill);
    } else {
      RefDrawOval(want, w, format, st, cx, cy, rx, ry, colour, fill);
      DrawOvalMemImg(s.img(), cx, cy, rx, ry, colour, fill);
    }
    SoftForceGenericPath = PlainSimdForceSse2 = 0;
    ASSERT_TRUE(s.CheckGuards());
    ASSERT_EQ(FirstDifference(s.Snapshot(), want, w, s.bytesPerPixel()), "")
        << "path " << path << " format " << format << " mode " << st.mode << " p " << st.param << " fill " << fill << " c " << cx
        << "," << cy << " r " << rx << "," << ry;
  }
}

// The closed-form advance leaves the same state as the literal moves, at every move that
// changes X or y, on flat and tall thin ovals.
template <bool Wide>
void CompareWalks(int64_t rx, int64_t ry) {
  shapes::OvalWalk<Wide> fast, slow;
  fast.Start(rx, ry);
  slow.Start(rx, ry);
  for (int steps = 0; fast.X > 0; ++steps) {
    fast.Advance();
    do slow.Move(); while (!slow.changedX && !slow.changedY);
    ASSERT_TRUE(fast.X == slow.X && fast.y == slow.y && fast.acc == slow.acc && fast.d1 == slow.d1 &&
                fast.d2 == slow.d2 && fast.changedX == slow.changedX && fast.changedY == slow.changedY)
        << "rx " << rx << " ry " << ry << " after " << steps << " changes";
  }
}

TEST_F(ShapesTest, ClosedFormWalkEqualsLiteralWalk) {
  std::mt19937 rng(77);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int n = 0; n < 40; ++n) {
    const int64_t big = pick(1, 1200), small = pick(1, n % 4 == 0 ? 60 : 4);
    CompareWalks<true>(std::max(big, small), std::min(big, small));
    if (small < big) CompareWalks<false>(small, big);
  }
  for (int64_t r = 1; r <= 40; ++r)
    for (int64_t q = 1; q <= r; ++q) {
      CompareWalks<true>(r, q);
      if (q < r) CompareWalks<false>(q, r);
    }
}

// The largest radii finish quickly, draw inside the clip only, and stay symmetric.
TEST_F(ShapesTest, LargestRadii) {
  for (int format : {0, 1}) {
    GuardedSurface s({.width = 64, .height = 64, .format = format}, 4);
    s.fill(0);
    DrawArea = {0, 0, 64, 64};
    DrawOvalMemImg(s.img(), 32, 32, 46340, 1, 0xFFFF, 1);
    DrawOvalMemImg(s.img(), 32, 32, 1, 46340, 0xFFFF, 1);
    DrawOvalMemImg(s.img(), 10, 10, 46340, 2, 0xFFFF, 0);
    DrawOvalMemImg(s.img(), 10, 10, 3, 46340, 0xFFFF, 0);
    DrawCircleMemImg(s.img(), 32, -46308, 46340, 0xFFFF, 1);
    EXPECT_TRUE(s.CheckGuards());
    for (int x = 0; x < 64; ++x) EXPECT_NE(s.get(x, 32), 0u);
    for (int y = 0; y < 64; ++y) EXPECT_NE(s.get(32, y), 0u);
    EXPECT_NE(s.get(31, 0), 0u);
    // Radii past the limit draw nothing and allocate nothing.
    const auto snap = s.Snapshot();
    const uint64_t allocs = MemAllocAttempts();
    DrawOvalMemImg(s.img(), 32, 32, 46341, 1, 0x1234, 1);
    DrawOvalMemImg(s.img(), 32, 32, 5, -46341, 0x1234, 1);
    DrawCircleMemImg(s.img(), 32, 32, 46341, 0x1234, 1);
    DrawCircleMemImg(s.img(), 32, 32, -1, 0x1234, 1);
    EXPECT_EQ(MemAllocAttempts(), allocs);
    EXPECT_EQ(s.Snapshot(), snap);
  }
}

TEST_F(ShapesTest, RefusalsAndRowFlags) {
  // Destinations the drawers do not serve are left unchanged, filled calls free their flags.
  const SurfaceDesc refused[] = {{.format = 2}, {.format = 3}, {.palette = true}, {.alpha = true},
                                 {.format = 0, .alpha = true}};
  for (const SurfaceDesc& desc : refused) {
    GuardedSurface s(desc, 5);
    DrawArea = {0, 0, 16, 16};
    const auto snap = s.Snapshot();
    DrawCircleMemImg(s.img(), 8, 8, 5, 0xFFFFFFFF, 1);
    DrawOvalMemImg(s.img(), 8, 8, 5, 3, 0xFFFFFFFF, 0);
    EXPECT_EQ(s.Snapshot(), snap);
    EXPECT_TRUE(s.CheckGuards());
  }
  GuardedSurface s({}, 6);
  DrawArea = {0, 0, 16, 16};
  const auto snap = s.Snapshot();
  for (int mode : {5, 9, 12, -1}) {
    SetDraw(mode, 128, 0xFFFFFF);
    DrawCircleMemImg(s.img(), 8, 8, 5, 0xFF, 1);
    DrawOvalMemImg(s.img(), 8, 8, 5, 2, 0xFF, 1);
  }
  for (int mode : {1, 2, 3}) {
    SetDraw(mode, 0, 0xFFFFFF);
    DrawCircleMemImg(s.img(), 8, 8, 5, 0xFF, 0);
  }
  EXPECT_EQ(s.Snapshot(), snap);
  // Wholly outside: a filled circle takes and returns its flags, an outline takes nothing.
  SetDraw(BLENDMODE::NOBLEND, 255, 0xFFFFFF);
  uint64_t allocs = MemAllocAttempts();
  DrawCircleMemImg(s.img(), -20, 8, 5, 0xFF, 1);
  EXPECT_EQ(MemAllocAttempts(), allocs + 1);
  DrawCircleMemImg(s.img(), -20, 8, 5, 0xFF, 0);
  DrawOvalMemImg(s.img(), 8, 8, 0, 5, 0xFF, 1);
  EXPECT_EQ(MemAllocAttempts(), allocs + 1);
  EXPECT_EQ(s.Snapshot(), snap);
  // A drawing call marks the run map and premultiplied plane stale.
  s.base()->RunMapValid = s.base()->PremulValid = 1;
  DrawOvalMemImg(s.img(), 8, 8, 3, 2, 0xFF, 0);
  EXPECT_EQ(s.base()->RunMapValid, 0);
  EXPECT_EQ(s.base()->PremulValid, 0);
}

TEST_F(ShapesTest, RowFlagAllocationFailureDrawsNothing) {
  GuardedSurface s({.width = 32, .height = 32, .format = 0}, 7);
  DrawArea = {0, 0, 32, 32};
  const auto snap = s.Snapshot();
  for (int oval : {0, 1}) {
    int points = ForEachAllocationFailure([&] {
      s.Restore(snap);
      if (oval) DrawOvalMemImg(s.img(), 16, 16, 9, 4, 0x1234, 1);
      else DrawCircleMemImg(s.img(), 16, 16, 9, 0x1234, 1);
      return s.Snapshot() != snap;
    });
    EXPECT_EQ(points, 1);
    EXPECT_TRUE(s.CheckGuards());
  }
}

// The line list hands each record to the line drawer in order, the sixth field unread.
TEST_F(ShapesTest, LineListsCallTheLineDrawer) {
  const MemImgLineRecord recs[] = {{1, 1, 12, 3, 0x112233, 7}, {12, 3, 4, 14, 0x445566, 0}, {4, 14, 1, 1, 0x778899, 255}};
  for (int format : {0, 1}) {
    SetDraw(BLENDMODE::ADD, 200, 0xFFFFFF);
    GuardedSurface a({.format = format}, 8), b({.format = format}, 8);
    DrawArea = {0, 0, 16, 16};
    DrawLinesMemImg(a.img(), recs, 3);
    for (const auto& r : recs) DrawLineMemImg(b.img(), r.x1, r.y1, r.x2, r.y2, r.color);
    EXPECT_EQ(a.Snapshot(), b.Snapshot());
    const auto snap = a.Snapshot();
    DrawLinesMemImg(a.img(), nullptr, 0);
    DrawLinesMemImg(a.img(), nullptr, -3);
    EXPECT_EQ(a.Snapshot(), snap);
    EXPECT_TRUE(a.CheckGuards());
  }
}

}  // namespace
