// The rotated blit: random cases against the reference model, then the mapping's exact cases,
// the family's alpha and key rules, the mirrored hand-over and the limits pinned.
#include <qzlib/soft/rota_blit.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/base/memory.h>
#include "tests/support/ref_drawers.h"

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr uint32_t kRandomCases = 1500;
#else
constexpr uint32_t kRandomCases = 12000;
#endif

using RotaBlitTest = DrawerTest;

std::string RunRandomCase(uint32_t seed, bool* drew) {
  std::mt19937 rng(seed);
  const int fmt = rng() % 2, sw = 1 + rng() % 12, sh = 1 + rng() % 10;
  auto src = MakeRandomSource(rng, fmt, rng() % 3, sw, sh);
  RandomTarget t(rng, fmt, 40, 30, rng() % 2, sw, sh);
  const int x = int(rng() % (t.Width() + 8)) - 4, y = int(rng() % (t.Height() + 8)) - 4;
  std::uniform_real_distribution<float> any(-7.0f, 7.0f);
  const float angles[] = {0.0f, 1.5707964f * float(int(rng() % 9) - 4), any(rng), any(rng)};
  const float scales[] = {1.0f, -1.0f, 2.0f, 1e-7f, any(rng) / 2, any(rng) / 2};
  const float angle = angles[rng() % 4], scale = scales[rng() % 6];
  RefDrawRotaMemImg(t.st, t.area, t.ref->img(), src->img(), x, y, angle, scale, t.trans, t.Graph(),
                    MemImgBlendGraphTable);
  return t.DrawAndCompare(
      [&](MEMIMG* d) { DrawRotaMemImg(d, src->img(), x, y, angle, scale, t.trans, 0, t.Graph()); },
      drew);
}

TEST_F(RotaBlitTest, RandomCasesMatchTheReferenceModel) {
  RunSeededCases(kRandomCases, kRandomCases / 5, RunRandomCase);
}

// Angles near 0, 90, 180 and 270 degrees and scales near the limits (coordinates that wrap within a
// row, sources a few pixels wide on wide targets), rows wider than the stack buffer now and then,
// with either kernel set.
std::string RunEdgeCase(uint32_t seed, bool* drew) {
  std::mt19937 rng(seed);
  const bool wide = rng() % 10 == 0;
  int fmt = rng() % 5 ? 1 : 0, sw = 1 + rng() % 40, sh = 1 + rng() % 20;
  // Sources near the width limit: the in-range window nearly fills the 32-bit range, so rows
  // whose steps could pass it twice are common.
  if (rng() % 12 == 0) sw = 16383 - int(rng() % 300), sh = 1 + rng() % 2;
  auto src = MakeRandomSource(rng, fmt, rng() % 3, sw, sh);
  RandomTarget t(rng, fmt, wide ? 2300 : 120, wide ? 4 : 40, rng() % 8 == 0, sw, sh);
  const int x = int(rng() % (t.Width() + 8)) - 4, y = int(rng() % (t.Height() + 8)) - 4;
  const float quarter = 1.5707964f * float(int(rng() % 4));
  const float nudges[] = {0.0f, 1e-6f, -1e-6f, 1e-3f, -1e-3f, 0.02f, -0.02f};
  const float scales[] = {1.0f, 1.5f, 0.5f, 0.01f, 0.001f, 3e-5f, 7.0f, 60.0f, wide ? 55.0f : 3.0f,
                          // steps of 2^30 and more: coordinates wrap within a row
                          2e-4f, 1.3e-4f};
  const float angle = quarter + nudges[rng() % 7], scale = scales[rng() % 11] * (rng() % 5 ? 1 : -1);
  RefDrawRotaMemImg(t.st, t.area, t.ref->img(), src->img(), x, y, angle, scale, t.trans, t.Graph(),
                    MemImgBlendGraphTable);
  const bool sse2 = rng() % 2;
  return t.DrawAndCompare(
      [&](MEMIMG* d) { DrawRotaMemImg(d, src->img(), x, y, angle, scale, t.trans, 0, t.Graph()); },
      drew, sse2);
}

TEST_F(RotaBlitTest, QuarterTurnsAndScaleLimitsMatchTheReferenceModel) {
  RunSeededCases(kRandomCases / 2, kRandomCases / 20, RunEdgeCase);
}

// A box wider than the stack buffer takes its row buffer from tracked memory; when that fails the
// pixel loop draws the very same pixels, and nothing leaks.
TEST_F(RotaBlitTest, WideBoxWithoutMemoryDrawsTheSamePixels) {
  SurfaceDesc ss, ds;
  ss.width = 1500, ss.height = 3, ds.width = 2200, ds.height = 6;
  GuardedSurface src(ss, 3), a(ds, 4), b(ds, 4);
  DrawArea = {0, 0, 2200, 6};
  DrawBlendMode = 1;
  DrawBlendParam = 100;
  const size_t live = MemLiveBlockCount();
  DrawRotaMemImg(a.img(), src.img(), 1100, 3, 0.001f, 1.4f, 0, 0, nullptr);
  MemSetFailAt(1);
  DrawRotaMemImg(b.img(), src.img(), 1100, 3, 0.001f, 1.4f, 0, 0, nullptr);
  MemSetFailAt(0);
  EXPECT_EQ(a.Snapshot(), b.Snapshot());
  EXPECT_NE(a.Snapshot(), GuardedSurface(ds, 4).Snapshot());
  EXPECT_EQ(MemLiveBlockCount(), live);
  EXPECT_TRUE(b.CheckGuards());
}

// A source whose texel (u, v) holds 1 + u + 16 * v, drawn into a 30 x 30 zeroed destination.
struct Rota {
  GuardedSurface src, dst;
  explicit Rota(int sw, int sh, int fmt = 1, bool alpha = false)
      : src(Desc(sw, sh, fmt, alpha), 1), dst(Desc(30, 30, fmt, false), 2) {
    for (int v = 0; v < sh; ++v)
      for (int u = 0; u < sw; ++u) src.set(u, v, uint32_t(1 + u + 16 * v));
    dst.fill(0);
    DrawArea = {0, 0, 30, 30};
  }
  static SurfaceDesc Desc(int w, int h, int fmt, bool alpha) {
    SurfaceDesc s;
    s.width = w, s.height = h, s.format = fmt, s.alpha = alpha;
    return s;
  }
  void Draw(float angle, float scale, int trans = 0, int turn = 0) {
    DrawRotaMemImg(dst.img(), src.img(), 15, 15, angle, scale, trans, turn, nullptr);
  }
  // Expects pixel (15 + m, 15 + n) to show texel map(m, n) where that exists, else untouched.
  template <class Map>
  void Expect(Map map) {
    for (int m = -12; m < 12; ++m)
      for (int n = -12; n < 12; ++n) {
        auto [u, v] = map(m, n);
        bool in = u >= 0 && u < src.img()->Width && v >= 0 && v < src.img()->Height;
        ASSERT_EQ(dst.get(15 + m, 15 + n), in ? uint32_t(1 + u + 16 * v) : 0u) << m << "," << n;
      }
  }
};

TEST_F(RotaBlitTest, ExactMappings) {
  for (int w : {4, 5}) {  // angle 0, scale 1: a translation with texel (W >> 1, H >> 1) on (x, y)
    Rota r(w, 3);
    r.Draw(0.0f, 1.0f);
    r.Expect([&](int m, int n) { return std::make_pair((w >> 1) + m, 1 + n); });
  }
  Rota twice(4, 4);
  twice.Draw(0.0f, 2.0f);
  twice.Expect([](int m, int n) {
    return std::make_pair(2 + int(std::floor(m / 2.0)), 2 + int(std::floor(n / 2.0)));
  });
  Rota quarter(5, 3);
  quarter.Draw(3.14159265f / 2, 1.0f);
  quarter.Expect([](int m, int n) { return std::make_pair(2 + n, 1 - m); });
  Rota half(5, 4);
  half.Draw(0.0f, -1.0f);
  half.Expect([](int m, int n) { return std::make_pair(2 - m, 2 - n); });
}

TEST_F(RotaBlitTest, EachPixelIsVisitedAtMostOnce) {
  // ADD of colour 1: the blue byte counts visits. 30 degrees at 1.5 covers about W * H * 2.25.
  Rota r(12, 8);
  r.src.fill(1);
  DrawBlendMode = 2;
  r.Draw(0.5235988f, 1.5f);
  int visited = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) visited += int(r.dst.get(x, y));
  EXPECT_NEAR(visited, 12 * 8 * 2.25, 24);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) ASSERT_LE(r.dst.get(x, y), 1u);
}

TEST_F(RotaBlitTest, AlphaKeyAndSubRules) {
  // Transparent flag set, alpha 0: every mode, MUL and MULA included, keeps the pixel; alpha 255
  // multiplies without the alpha factor.
  for (int fmt : {1, 0}) {
    for (int mode : {4, 11, 0, 1, 2, 3, 10}) {
      Rota r(2, 1, fmt, true);
      const uint32_t d = fmt ? 0x00C8C8C8u : 0xCE59u;
      r.src.set(0, 0, fmt ? 0x00FFFFFFu : 0x0000FFFFu);
      r.src.set(1, 0, fmt ? 0xFF808080u : 0x00FF8410u);
      r.dst.fill(d);
      DrawBlendMode = mode, DrawBlendParam = 200;
      r.Draw(0.0f, 1.0f, 1);
      EXPECT_EQ(r.dst.get(14, 15), d) << "mode " << mode << " fmt " << fmt;
      if (mode == 4) {
        EXPECT_EQ(r.dst.get(15, 15), fmt ? 0x00646464u : (12u << 11 | 25u << 5 | 12u));
      }
    }
  }
  // 16-bit direct source: every loop, the plain copy included, compares the whole key.
  DrawBlendMode = 0, DrawBlendParam = 255;
  for (uint32_t key : {0x10002u, 0x2u}) {
    Rota r(2, 1, 0);
    r.src.base()->TransColor = key;
    r.Draw(0.0f, 1.0f, 1);
    EXPECT_EQ(r.dst.get(15, 15), key == 2 ? 0u : 2u);
  }
  // SUB at 255 takes the packed subtract whatever the MMX flag; at 0 a direct source draws nothing.
  DrawBlendMode = 3;
  for (int mmx : {0, 1}) {
    Rota r(1, 1);
    r.src.set(0, 0, 0x10000300);
    r.dst.fill(0x30000A00);
    MmxUsableFlag = mmx, DrawBlendParam = 0;
    r.Draw(0.0f, 1.0f);
    EXPECT_EQ(r.dst.get(15, 15), 0x30000A00u);
    DrawBlendParam = 255;
    r.Draw(0.0f, 1.0f);
    EXPECT_EQ(r.dst.get(15, 15), 0x00010900u) << "mmx " << mmx;
  }
}

TEST_F(RotaBlitTest, TurnFlagHandsCorners3020And1ToTheQuadrangleDrawer) {
  Rota a(4, 4), b(4, 4);
  a.Draw(0.0f, 1.0f, 0, 1);
  const int32_t q[8] = {17, 13, 13, 13, 17, 17, 13, 17};
  DrawQuadMemImg(b.dst.img(), b.src.img(), q, 0, nullptr);
  EXPECT_EQ(a.dst.Snapshot(), b.dst.Snapshot());
}

TEST_F(RotaBlitTest, CallsBeyondTheLimitsDrawNothing) {
  Rota r(4, 4);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
  struct Call {
    int x, y;
    float angle, scale;
  } calls[] = {{15, 15, 0.0f, 0.0f},    {15, 15, 0.0f, nan},    {15, 15, nan, 1.0f},
               {15, 15, inf, 1.0f},     {15, 15, 0.0f, inf},    {9000, 15, 0.0f, 1.0f},
               {15, -8193, 0.0f, 1.0f}, {8190, 15, 0.0f, 4.0f}, {15, 15, 0.3f, 1e-30f}};
  for (const Call& c : calls)
    for (int turn : {0, 1})
      DrawRotaMemImg(r.dst.img(), r.src.img(), c.x, c.y, c.angle, c.scale, 0, turn, nullptr);
  SurfaceDesc wide;
  wide.width = 16384, wide.height = 1;
  GuardedSurface big(wide, 3);
  DrawRotaMemImg(r.dst.img(), big.img(), 15, 15, 0.0f, 1.0f, 0, 0, nullptr);
  r.Expect([](int, int) { return std::make_pair(-1, -1); });
  EXPECT_TRUE(r.dst.CheckGuards());
}


// The quotients of the inverse mapping must fit a signed 32-bit integer, -2^31 included. A 1 x 1
// source at (0, 0), angle 0, into 4 x 4: the box is rows 0 to 3, so Vb = trunc(4 * 2^18 / scale),
// which is -2^31 at scale -1/2048 (drawn: only (0, 0) maps inside the source) and +2^31 at
// +1/2048 (refused: nothing drawn). Both formats, with the reference model beside the drawer.
TEST_F(RotaBlitTest, QuotientsFitIncludingMinusTwoToThe31) {
  for (int fmt : {1, 0})
    for (float scale : {-1.0f / 2048, 1.0f / 2048}) {
      SurfaceDesc s, d;
      s.width = s.height = 1, s.format = fmt;
      d.width = d.height = 4, d.format = fmt;
      GuardedSurface src(s, 1), dst(d, 2), ref(d, 2);
      src.set(0, 0, 0x1234);
      dst.fill(0);
      ref.fill(0);
      DrawArea = {0, 0, 4, 4};
      DrawBlendMode = 0, DrawBlendParam = 255;
      DrawRotaMemImg(dst.img(), src.img(), 0, 0, 0.0f, scale, 0, 0, nullptr);
      RefDrawRotaMemImg(RefState{}, DrawArea, ref.img(), src.img(), 0, 0, 0.0f, scale, 0, nullptr,
                        MemImgBlendGraphTable);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
          const bool shown = scale < 0 && x == 0 && y == 0;
          EXPECT_EQ(dst.get(x, y), shown ? 0x1234u : 0u) << fmt << " " << scale << " " << x << "," << y;
          EXPECT_EQ(ref.get(x, y), dst.get(x, y)) << fmt << " " << scale << " " << x << "," << y;
        }
      EXPECT_TRUE(dst.CheckGuards());
    }
}

}  // namespace
