// The flat drawers (pixel, box, line): random cases against the reference model, the line walk's
// worked cases, and the flat rules' edge cases pinned.
#include <qzlib/soft/flat_draw.h>

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include <qzlib/base/draw_state.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>
#include "tests/support/ref_drawers.h"

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr uint32_t kRandomCases = 3000;
#else
constexpr uint32_t kRandomCases = 30000;
#endif

using FlatDrawTest = DrawerTest;

// maxW, maxH: the target's largest size; sse2: the SSE2 kernels in place of AVX2.
std::string RunRandomCase(uint32_t seed, bool* drew, int maxW = 40, int maxH = 30, bool sse2 = false) {
  std::mt19937 rng(seed);
  RandomTarget t(rng, rng() % 2, maxW, maxH, false, 0, 0);
  auto coord = [&](int n) {
    return rng() % 20 ? int(rng() % (n + 20)) - 10 : int(rng() % 400000) - 200000;
  };
  const int shape = rng() % 3, x1 = coord(t.Width()), y1 = coord(t.Height());
  const int x2 = coord(t.Width()), y2 = coord(t.Height());
  const RECT box{x1, y1, x2, y2};
  const RECT* boxp = rng() % 10 ? &box : nullptr;
  const uint32_t colour = rng();
  if (shape == 0)
    RefDrawPixel(t.st, t.area, t.ref->img(), x1, y1, colour);
  else if (shape == 1)
    RefDrawFillBox(t.st, t.area, t.ref->img(), boxp, colour);
  else
    RefDrawLine(t.st, t.area, t.ref->img(), x1, y1, x2, y2, colour);
  PlainSimdForceSse2 = sse2;
  for (int generic : {0, 1}) {
    SoftForceGenericPath = generic;
    MEMIMG* d = generic ? t.generic->img() : t.fast->img();
    if (shape == 0)
      DrawPixelMemImg(d, x1, y1, colour);
    else if (shape == 1)
      DrawFillBoxMemImg(d, boxp, colour);
    else
      DrawLineMemImg(d, x1, y1, x2, y2, colour);
  }
  SoftForceGenericPath = 0;
  PlainSimdForceSse2 = 0;
  return CompareDraws(*t.fast, *t.ref, *t.generic, t.before, drew);
}

TEST_F(FlatDrawTest, RandomCasesMatchTheReferenceModel) {
  RunSeededCases(kRandomCases, kRandomCases / 5,
                 [](uint32_t seed, bool* drew) { return RunRandomCase(seed, drew); });
}

// Rows longer than the vector kernels' groups and their colour row, odd widths and pitches, both
// kernel sets.
TEST_F(FlatDrawTest, WideRowsMatchTheReferenceModelWithEitherKernelSet) {
  for (bool sse2 : {false, true})
    RunSeededCases(kRandomCases / 10, kRandomCases / 50, [&](uint32_t seed, bool* drew) {
      return RunRandomCase(seed, drew, 300, 5, sse2);
    });
}

using Pts = std::set<std::pair<int, int>>;

// The pixels a line visits on a zeroed 100 x 100 32-bit surface, drawn by ADD of colour 1 (each
// pixel's blue byte counts its visits; none may be visited twice).
Pts Line(int x1, int y1, int x2, int y2, RECT area = {0, 0, 100, 100}) {
  SurfaceDesc sp;
  sp.width = sp.height = 100;
  GuardedSurface s(sp, 1);
  s.fill(0);
  DrawArea = area;
  DrawBlendMode = 2;
  DrawLineMemImg(s.img(), x1, y1, x2, y2, 1);
  Pts out;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) {
      EXPECT_LE(s.get(x, y), 1u) << x << "," << y;
      if (s.get(x, y)) out.insert({x, y});
    }
  EXPECT_TRUE(s.CheckGuards());
  return out;
}

Pts Segment(int x0, int y0, int dx, int dy, int n) {
  Pts p;
  for (int k = 0; k < n; ++k) p.insert({x0 + k * dx, y0 + k * dy});
  return p;
}

TEST_F(FlatDrawTest, LineWalkWorkedCases) {
  EXPECT_EQ(Line(5, 5, 5, 5), Pts{});
  EXPECT_EQ(Line(10, 5, 0, 5), Segment(1, 5, 1, 0, 10));
  EXPECT_EQ(Line(0, 0, 10, 4),
            (Pts{{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 2}, {6, 2}, {7, 2}, {8, 3}, {9, 3}}));
  EXPECT_EQ(Line(0, 0, 3, 10),
            (Pts{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 4}, {1, 5}, {1, 6}, {2, 7}, {2, 8}, {2, 9}}));
  EXPECT_EQ(Line(-10, 50, 50, 50), Segment(0, 50, 1, 0, 50));
  EXPECT_EQ(Line(50, 50, 150, 50), Segment(50, 50, 1, 0, 50));
  EXPECT_EQ(Line(0, 0, 100, 100), Segment(0, 0, 1, 1, 100));
  Pts steep = Line(-50, -20, 150, 60);
  EXPECT_EQ(steep.size(), 100u);
  EXPECT_TRUE(steep.count({0, 0}) && steep.count({99, 39}));
  EXPECT_EQ(Line(99, 0, 99, 200), Segment(99, 0, 0, 1, 100));
  EXPECT_EQ(Line(-10, 5, 5, -10), (Pts{{0, 0}}));
  EXPECT_EQ(Line(-10, 5, -3, 80), Pts{});                  // both ends left of the area
  EXPECT_EQ(Line(5, -10, 80, -3), Pts{});                  // both ends above it
  EXPECT_EQ(Line(0, 0, 99, 99, {40, 40, 40, 60}), Pts{});  // empty area
  DrawBlendParam = 0;                                      // ALPHA at 0 draws nothing, MUL draws
  DrawBlendMode = 1;
  SurfaceDesc sp;
  sp.width = sp.height = 4;
  GuardedSurface s(sp, 1);
  s.fill(0x00808080);
  DrawArea = {0, 0, 4, 4};
  DrawLineMemImg(s.img(), 0, 0, 4, 0, 0x00FFFFFF);
  EXPECT_EQ(s.get(0, 0), 0x00808080u);
  DrawBlendMode = 4;
  DrawLineMemImg(s.img(), 0, 0, 4, 0, 0x00FFFFFF);
  EXPECT_EQ(s.get(0, 0), 0x007F7F7Fu);
}

TEST_F(FlatDrawTest, PixelBoxAndTintRules) {
  SurfaceDesc sp;
  sp.width = sp.height = 8;
  GuardedSurface s(sp, 1);
  s.fill(0xAB000000);
  DrawArea = {1, 1, 7, 7};
  // The area's right and bottom edges are outside; boxes take their corners in either order.
  DrawPixelMemImg(s.img(), 7, 3, 5), DrawPixelMemImg(s.img(), 3, 7, 5),
      DrawPixelMemImg(s.img(), 1, 1, 5);
  EXPECT_EQ(s.get(7, 3) + s.get(1, 1), 0xAB000000u + 5u);
  RECT reversed{6, 6, 4, 5}, outside{-9, 2, 1, 5};
  DrawFillBoxMemImg(s.img(), &reversed, 9), DrawFillBoxMemImg(s.img(), &outside, 9);
  int filled = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) filled += s.get(x, y) == 9;
  EXPECT_EQ(filled, 2);
  // White tinted by 0x808080 is 0x7F7F7F in the pixel, box and line drawers; NOBLEND writes the
  // colour's spare byte.
  DrawBright = 0x808080;
  RECT one{2, 2, 3, 3};
  DrawPixelMemImg(s.img(), 1, 2, 0x00FFFFFF), DrawFillBoxMemImg(s.img(), &one, 0x00FFFFFF);
  DrawLineMemImg(s.img(), 3, 2, 4, 2, 0x00FFFFFF);
  EXPECT_TRUE(s.get(1, 2) == 0x007F7F7F && s.get(2, 2) == 0x007F7F7F && s.get(3, 2) == 0x007F7F7F);
  // ADD: blue overflow sets green's lowest bit, red overflow the spare byte; SUB clears it.
  DrawBright = 0xFFFFFF, DrawBlendMode = 2;
  s.set(1, 3, 0xAB8000C8), DrawPixelMemImg(s.img(), 1, 3, 0x128000C8);
  EXPECT_EQ(s.get(1, 3), 0x01FF01FFu);
  DrawBlendMode = 3;
  s.set(2, 3, 0xAB0000C8), DrawPixelMemImg(s.img(), 2, 3, 1);
  EXPECT_EQ(s.get(2, 3), 0x000101C7u);
  // INVSRC inverts the tinted colour: black, inverted to white, mixed at 255 onto black.
  DrawBlendMode = 10, DrawBright = 0;
  s.set(3, 3, 0), DrawPixelMemImg(s.img(), 3, 3, 0x00FFFFFF);
  EXPECT_EQ(s.get(3, 3), 0x00FEFEFEu);
  // 16-bit: fields tinted by (field * bright) >> 8, the colour masked to 16 bits; a destination
  // with alpha takes only the line, whose pixels keep their alpha byte.
  sp.format = 0, sp.alpha = true;
  GuardedSurface t(sp, 2);
  t.fill(0x00AB0000);
  DrawBlendMode = 0, DrawBright = 0x808080;
  DrawLineMemImg(t.img(), 1, 1, 3, 1, 0xABCDFFFF), DrawPixelMemImg(t.img(), 1, 2, 0xFFFF);
  EXPECT_EQ(t.get(2, 1), 0x00AB0000u | 15u << 11 | 31u << 5 | 15u);
  EXPECT_EQ(t.get(1, 2), 0x00AB0000u);
  EXPECT_TRUE(s.CheckGuards() && t.CheckGuards());
}

}  // namespace
