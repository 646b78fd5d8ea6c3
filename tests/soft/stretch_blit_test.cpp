// The stretched blit: random cases against the reference model, then the sampling rule,
// clipping, mirroring, the hand-over, the refusals and the MMX subtract pinned.
#include <qzlib/soft/stretch_blit.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/plain_blit_simd.h>
#include <qzlib/base/memory.h>
#include "tests/support/ref_drawers.h"

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr uint32_t kRandomCases = 1500;
#else
constexpr uint32_t kRandomCases = 12000;
#endif

using StretchBlitTest = DrawerTest;

std::string RunRandomCase(uint32_t seed, bool* drew) {
  std::mt19937 rng(seed);
  const int fmt = rng() % 2, sw = 1 + rng() % 12, sh = 1 + rng() % 8;
  auto src = MakeRandomSource(rng, fmt, rng() % 3, sw, sh);
  RandomTarget t(rng, fmt, 40, 24, rng() % 2, sw, sh);
  // Small rectangles either way round, now and then far outside or wider than 32767 pixels; the
  // source's own size unmirrored (the hand-over) is tested below.
  auto coord = [&](int n) {
    return rng() % 25 ? int(rng() % (n + 30)) - 15 : int(rng() % 200000) - 100000;
  };
  RECT r;
  do r = {coord(t.Width()), coord(t.Height()), coord(t.Width()), coord(t.Height())};
  while (r.right - r.left == sw && r.bottom - r.top == sh);
  RefDrawExtendMemImg(t.st, t.area, t.ref->img(), src->img(), r, t.trans, t.Graph(),
                      MemImgBlendGraphTable);
  return t.DrawAndCompare(
      [&](MEMIMG* d) { DrawExtendMemImg(d, src->img(), &r, t.trans, t.Graph()); }, drew);
}

TEST_F(StretchBlitTest, RandomCasesMatchTheReferenceModel) {
  RunSeededCases(kRandomCases, kRandomCases / 5, RunRandomCase);
}

// Whole-number and prime ratios (x2, /2, x3, 7/3, 3/7, 13/5, ...) of rows from one pixel to wider
// than the stack tables, mirrored now and then, clipped at either end, with either kernel set.
std::string RunRatioCase(uint32_t seed, bool* drew) {
  std::mt19937 rng(seed);
  static const int kRatios[][2] = {{2, 1}, {1, 2}, {3, 1}, {1, 3}, {7, 3}, {3, 7}, {13, 5}, {5, 13}, {1, 1}};
  const auto& rx = kRatios[rng() % 9];
  const auto& ry = kRatios[rng() % 9];
  const bool wide = rng() % 8 == 0;
  const int fmt = rng() % 5 ? 1 : 0;
  const int sw = 1 + rng() % (wide ? 700 : 40), sh = 1 + rng() % 6;
  auto src = MakeRandomSource(rng, fmt, rng() % 3, sw, sh);
  const int w = std::max(1, sw * rx[0] / rx[1]), h = std::max(1, sh * ry[0] / ry[1]);
  RandomTarget t(rng, fmt, wide ? 1400 : 90, 12, rng() % 8 == 0, sw, sh);
  const int x0 = int(rng() % 9) - 4 - (rng() % 4 == 0 ? w / 2 : 0), y0 = int(rng() % 5) - 2;
  RECT r{x0, y0, x0 + w, y0 + h};
  if (rng() % 4 == 0) std::swap(r.left, r.right);
  if (rng() % 4 == 0) std::swap(r.top, r.bottom);
  RefDrawExtendMemImg(t.st, t.area, t.ref->img(), src->img(), r, t.trans, t.Graph(),
                      MemImgBlendGraphTable);
  const bool sse2 = rng() % 2;
  return t.DrawAndCompare(
      [&](MEMIMG* d) { DrawExtendMemImg(d, src->img(), &r, t.trans, t.Graph()); }, drew, sse2);
}

TEST_F(StretchBlitTest, RatiosAndWideRowsMatchTheReferenceModel) {
  RunSeededCases(kRandomCases / 2, kRandomCases / 10, RunRatioCase);
}

// A row wider than the stack tables takes its tables from tracked memory; when that fails the
// pixel loop draws the very same pixels, and nothing leaks.
TEST_F(StretchBlitTest, WideRowWithoutMemoryDrawsTheSamePixels) {
  SurfaceDesc ss, ds;
  ss.width = 700, ss.height = 2, ds.width = 1400, ds.height = 4;
  GuardedSurface src(ss, 3), a(ds, 4), b(ds, 4);
  DrawArea = {0, 0, 1400, 4};
  DrawBlendMode = 1;
  DrawBlendParam = 100;
  const RECT r{0, 0, 1400, 4};
  const size_t live = MemLiveBlockCount();
  DrawExtendMemImg(a.img(), src.img(), &r, 0, nullptr);
  MemSetFailAt(1);
  DrawExtendMemImg(b.img(), src.img(), &r, 0, nullptr);
  MemSetFailAt(0);
  EXPECT_EQ(a.Snapshot(), b.Snapshot());
  EXPECT_EQ(MemLiveBlockCount(), live);
  EXPECT_TRUE(b.CheckGuards());
}

// Draws a 32-bit source whose pixel (x, y) is x + 16 * y into a destination filled with `fill`
// and returns row y of the destination.
std::vector<uint32_t> Draw(int sw, int sh, int dw, int dh, RECT r, int y = 0,
                           uint32_t fill = 0xEE) {
  SurfaceDesc ss, ds;
  ss.width = sw, ss.height = sh, ds.width = dw, ds.height = dh;
  GuardedSurface src(ss, 1), dst(ds, 2);
  for (int v = 0; v < sh; ++v)
    for (int u = 0; u < sw; ++u) src.set(u, v, uint32_t(u + 16 * v));
  dst.fill(fill);
  DrawArea = {0, 0, dw, dh};
  DrawExtendMemImg(dst.img(), src.img(), &r, 0, nullptr);
  EXPECT_TRUE(dst.CheckGuards());
  std::vector<uint32_t> row;
  for (int x = 0; x < dw; ++x) row.push_back(dst.get(x, y));
  return row;
}
using Row = std::vector<uint32_t>;

TEST_F(StretchBlitTest, SamplingClippingAndMirroring) {
  EXPECT_EQ(Draw(4, 1, 8, 1, {0, 0, 8, 1}), (Row{0, 0, 1, 1, 2, 2, 3, 3}));
  EXPECT_EQ(Draw(2, 1, 3, 1, {0, 0, 3, 1}), (Row{0, 0, 1}));
  EXPECT_EQ(Draw(4, 1, 4, 1, {4, 0, 0, 1}), (Row{3, 2, 1, 0}));  // mirrored: no hand-over
  EXPECT_EQ(Draw(4, 3, 2, 2, {2, 2, 0, 0}, 0), (Row{35, 33}));   // mirrored both ways
  EXPECT_EQ(Draw(4, 1, 4, 1, {2, 0, 2, 1}), (Row{0xEE, 0xEE, 0xEE, 0xEE}));
  // Halving shows every other column in every mode (onto black: ADD the amount, INVSRC 255 - s).
  for (int mode : {0, 1, 2, 4, 10, 11}) {
    DrawBlendMode = mode;
    Row want = mode == 4 || mode == 11 ? Row{0, 0, 0, 0}
               : mode == 10            ? Row{0xFEFEFE, 0xFEFEFC, 0xFEFEFA, 0xFEFEF8}
                                       : Row{0, 2, 4, 6};
    EXPECT_EQ(Draw(8, 1, 4, 1, {0, 0, 4, 1}, 0, 0), want) << "mode " << mode;
  }
  DrawBlendMode = 0;
  // A rectangle starting 5 pixels left of the area keeps the columns of the unclipped draw, also
  // far outside and wider than 32767 pixels (64-bit counters).
  Row whole = Draw(4, 1, 12, 1, {0, 0, 12, 1}), clipped = Draw(4, 1, 12, 1, {-5, 0, 7, 1});
  EXPECT_EQ(Row(clipped.begin(), clipped.begin() + 7), Row(whole.begin() + 5, whole.end()));
  Row far = Draw(8, 1, 10, 1, {-40000, 0, 40000, 1});
  for (int x = 0; x < 10; ++x)
    EXPECT_EQ(far[x], uint32_t((x + 40000) * int64_t(65536) / (80000 * int64_t(65536) / 8)));
}

TEST_F(StretchBlitTest, HandOverRefusalsAndSubAt255) {
  SurfaceDesc ss, ds;
  ss.width = 3, ss.height = 2, ds.width = ds.height = 6;
  GuardedSurface src(ss, 1), a(ds, 2), b(ds, 2);
  src.base()->TransColor = src.get(1, 1);
  DrawArea = {0, 0, 6, 6};
  DrawBlendMode = 2, DrawBlendParam = 77, DrawBright = 0x336699;
  RECT same{2, 3, 5, 5};
  DrawExtendMemImg(a.img(), src.img(), &same, 1, nullptr);
  DrawMemImg(b.img(), src.img(), 2, 3, 1, nullptr);
  EXPECT_EQ(a.Snapshot(), b.Snapshot());
  // Formats differing, a palettised or alpha destination, a blend graph smaller than the source.
  for (int c = 0; c < 4; ++c) {
    SurfaceDesc bad = ds, gs;
    bad.format = c == 0 ? 0 : 1, bad.palette = c == 1, bad.alpha = c == 2;
    gs.format = 2, gs.width = 3, gs.height = 1;
    GuardedSurface d(bad, 3), g(gs, 4);
    auto before = d.Snapshot();
    RECT r{0, 0, 6, 6};
    DrawExtendMemImg(d.img(), src.img(), &r, 0, c == 3 ? g.img() : nullptr);
    EXPECT_EQ(d.Snapshot(), before) << "case " << c;
  }
  // SUB at 255 without graph or tint: the per-byte saturating form only with the MMX flag.
  DrawBlendMode = 3, DrawBlendParam = 255, DrawBright = 0xFFFFFF;
  for (int mmx : {0, 1}) {
    MmxUsableFlag = mmx;
    src.fill(0x10000300);
    a.fill(0x30000A00);
    RECT r{0, 0, 6, 6};
    DrawExtendMemImg(a.img(), src.img(), &r, 0, nullptr);
    EXPECT_EQ(a.get(5, 5), mmx ? 0x20000700u : 0x00010900u) << "mmx " << mmx;
  }
}

TEST_F(StretchBlitTest, EachPixelOfTheRectangleIsVisitedOnce) {
  // ADD of colour 1: each pixel's blue byte counts its visits. The written body loses its flags.
  for (RECT r : {RECT{1, 2, 20, 9}, RECT{20, 9, 1, 2}, RECT{-7, -3, 30, 11}, RECT{3, 1, 4, 2}}) {
    SurfaceDesc ss, ds;
    ss.width = 3, ss.height = 5, ds.width = 24, ds.height = 12;
    GuardedSurface src(ss, 1), dst(ds, 2);
    src.fill(1), dst.fill(0);
    dst.base()->RunMapValid = dst.base()->PremulValid = 1;
    DrawBlendMode = 2, DrawArea = {0, 0, 24, 12};
    DrawExtendMemImg(dst.img(), src.img(), &r, 0, nullptr);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 24; ++x) {
        bool in = x >= std::min(r.left, r.right) && x < std::max(r.left, r.right) &&
                  y >= std::min(r.top, r.bottom) && y < std::max(r.top, r.bottom);
        ASSERT_EQ(dst.get(x, y), in ? 1u : 0u) << x << "," << y;
      }
    EXPECT_EQ(dst.base()->RunMapValid + dst.base()->PremulValid, 0);
  }
}

}  // namespace
