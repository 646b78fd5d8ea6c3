// Triangle and quadrangle drawing: fill convention and hand-computed pixels through the public
// entry points, and every span family against the reference model on random triangles and draw
// states, inside guard bands.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>
#include <qzlib/soft/polygon.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/ref_polygon.h"

namespace {

MemImgVertex P(int x, int y, int u = 0, int v = 0) { return MemImgVertex{x, y, u, v}; }

class PolygonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitMemImgBlendTable();
    DrawBlendMode = 0;
    DrawBlendParam = 255;
    DrawBright = 0xFFFFFF;
    SoftForceGenericPath = 0;
  }
  void TearDown() override { SoftForceGenericPath = PlainSimdForceSse2 = 0; }
};

SurfaceDesc Desc(int w, int h, int format, bool pal = false, bool alpha = false, uint32_t key = 0) {
  SurfaceDesc s;
  s.width = w;
  s.height = h;
  s.format = format;
  s.palette = pal;
  s.alpha = alpha;
  s.transColor = key;
  return s;
}

// The two triangles a filled quadrangle P1..P4 is drawn as: (P1, P2, P3), then (P4, P3, P2).
void FlatQuad(MEMIMG* dst, MemImgVertex p1, MemImgVertex p2, MemImgVertex p3, MemImgVertex p4,
              uint32_t colour) {
  MemImgVertex a[3] = {p1, p2, p3}, b[3] = {p4, p3, p2};
  DrawPolygonMemImg(dst, nullptr, a, 0, nullptr, colour);
  DrawPolygonMemImg(dst, nullptr, b, 0, nullptr, colour);
}

TEST_F(PolygonTest, QuadrangleVisitCountsInAdd) {
  // ADD of blue 1 onto black counts the visits: columns 0..10 of rows 0..9 once, the shared
  // diagonal (10 - k, k) twice; nothing else.
  for (int format : {1, 0}) {
    GuardedSurface s(Desc(16, 14, format), 1);
    s.fill(0);
    DrawArea = {0, 0, 16, 14};
    DrawBlendMode = 2;
    FlatQuad(s.img(), P(0, 0), P(10, 0), P(0, 10), P(10, 10), 1);
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 16; ++x) {
        uint32_t want = (y <= 9 && x <= 10) ? (x == 10 - y ? 2 : 1) : 0;
        ASSERT_EQ(s.get(x, y), want) << "format " << format << " at " << x << "," << y;
      }
    EXPECT_TRUE(s.CheckGuards());
  }
}

TEST_F(PolygonTest, TexturedQuadrangleShowsTexelPerPixel) {
  // A 10 x 10 source on (0,0), (10,0), (0,10), (10,10): pixel (x, y) shows texel (x, y); column
  // 10 is skipped (u reaches the width) and row 10 is not drawn.
  GuardedSurface src(Desc(10, 10, 1), 7);
  GuardedSurface dst(Desc(14, 14, 1), 8);
  std::vector<uint8_t> before = dst.Snapshot();
  DrawArea = {0, 0, 14, 14};
  int32_t corners[8] = {0, 0, 10, 0, 0, 10, 10, 10};
  DrawQuadMemImg(dst.img(), src.img(), corners, 0, nullptr);
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 14; ++x) {
      uint32_t old;
      std::memcpy(&old, &before[(y * 14 + x) * 4], 4);
      uint32_t want = (x < 10 && y < 10) ? src.get(x, y) : old;
      ASSERT_EQ(dst.get(x, y), want) << x << "," << y;
    }
  EXPECT_TRUE(dst.CheckGuards());
}

TEST_F(PolygonTest, OnePixelAndDegenerateTriangles) {
  GuardedSurface s(Desc(12, 12, 1), 3);
  s.fill(0);
  DrawArea = {0, 0, 12, 12};
  MemImgVertex one[3] = {P(5, 5), P(5, 6), P(6, 6)};
  DrawPolygonMemImg(s.img(), nullptr, one, 0, nullptr, 0x12345678);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x)
      ASSERT_EQ(s.get(x, y), (x == 5 && y == 5) ? 0x12345678u : 0u) << x << "," << y;
  s.fill(0);
  MemImgVertex degenerate[][3] = {{P(1, 1), P(5, 5), P(9, 9)}, {P(2, 2), P(2, 2), P(8, 3)},
                                  {P(4, 4), P(4, 4), P(4, 4)}, {P(0, 6), P(11, 6), P(3, 6)}};
  for (auto& v : degenerate) DrawPolygonMemImg(s.img(), nullptr, v, 0, nullptr, 0xFFFFFFFF);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x) ASSERT_EQ(s.get(x, y), 0u);
}

TEST_F(PolygonTest, FlatColourRules) {
  GuardedSurface s(Desc(4, 2, 1), 1);
  MemImgVertex v[3] = {P(0, 0), P(3, 0), P(0, 3)};  // row 0 x 0..3, row 1 x 0..2
  DrawArea = {0, 0, 4, 2};
  // No tint: the colour bit for bit, fourth byte included; a red tint keeps red and the byte.
  DrawPolygonMemImg(s.img(), nullptr, v, 0, nullptr, 0xAB123456);
  EXPECT_EQ(s.get(0, 0), 0xAB123456u);
  DrawBright = 0xFF0000;
  DrawPolygonMemImg(s.img(), nullptr, v, 0, nullptr, 0x7FFF0000);
  EXPECT_EQ(s.get(1, 0), 0x7FFF0000u);
  // INVSRC with bright 0 at p = 255: tinted to black, then inverted: black becomes 254.
  s.fill(0);
  DrawBright = 0;
  DrawBlendMode = 10;
  DrawPolygonMemImg(s.img(), nullptr, v, 0, nullptr, 0x00FFFFFF);
  EXPECT_EQ(s.get(2, 1), 0x00FEFEFEu);
  // MUL with white: 255 becomes 254 and 1 becomes 0.
  s.fill(0x55FF01FF);
  DrawBright = 0xFFFFFF;
  DrawBlendMode = 4;
  DrawPolygonMemImg(s.img(), nullptr, v, 0, nullptr, 0x00FFFFFF);
  EXPECT_EQ(s.get(0, 1), 0x55FE00FEu);
  // 16-bit: the colour's upper 16 bits are not part of it; SUB at p = 0 draws nothing.
  GuardedSurface h(Desc(4, 2, 0), 2);
  h.fill(0x1234);
  DrawBlendMode = 0;
  DrawPolygonMemImg(h.img(), nullptr, v, 0, nullptr, 0xFFFF7BEF);
  EXPECT_EQ(h.get(3, 0), 0x7BEFu);
  DrawBlendMode = 3;
  DrawBlendParam = 0;
  DrawPolygonMemImg(h.img(), nullptr, v, 0, nullptr, 0xFFFF);
  EXPECT_EQ(h.get(3, 0), 0x7BEFu);
  EXPECT_TRUE(s.CheckGuards());
  EXPECT_TRUE(h.CheckGuards());
}

TEST_F(PolygonTest, TexturedPinnedValues) {
  // One texel stretched over the triangle; palettised 16-bit worked values.
  GuardedSurface src(Desc(1, 1, 0, true), 5);
  GuardedSurface dst(Desc(4, 2, 0), 6);
  MemImgVertex v[3] = {P(0, 0), P(3, 0), P(0, 3)};
  DrawArea = {0, 0, 4, 2};
  auto draw = [&](int mode, int p, uint32_t entry, uint32_t d) {
    std::memcpy(src.palette() + 2 * src.get(0, 0), &entry, 2);
    dst.fill(d);
    DrawBlendMode = mode;
    DrawBlendParam = p;
    DrawPolygonMemImg(dst.img(), src.img(), v, 0, nullptr, 0);
    return dst.get(1, 1);
  };
  EXPECT_EQ(draw(1, 128, 0xFFFF, 0x0000), 0x7BEFu);
  EXPECT_EQ(draw(2, 255, 0x001F, 0x0001), 0x003Fu);
  EXPECT_EQ(draw(4, 0, 0xFFFF, 0xFFFF), 0xF7DEu);
  EXPECT_EQ(draw(11, 255, 0xFFFF, 0xFFFF), 0xF7DEu);
  EXPECT_EQ(draw(10, 255, 0x0000, 0x0000), 0xFFFFu);
  EXPECT_EQ(draw(3, 0, 0x1234, 0xFFFF), 0xFFDFu);  // palettised SUB at p = 0 still draws
  EXPECT_EQ(draw(3, 0, 0x1234, 0x0000), 0x0800u);
  // 32-bit palettised SUB at p = 255 takes the packed subtract even with the MMX flag 1.
  GuardedSurface src32(Desc(1, 1, 1, true), 5);
  GuardedSurface dst32(Desc(4, 2, 1), 6);
  uint32_t entry = 0xFF000300;  // green amount 3, spare byte 255
  std::memcpy(src32.palette() + 4 * src32.get(0, 0), &entry, 4);
  dst32.fill(0x77000A00);
  MmxUsableFlag = 1;
  DrawBlendMode = 3;
  DrawBlendParam = 255;
  DrawPolygonMemImg(dst32.img(), src32.img(), v, 0, nullptr, 0);
  EXPECT_EQ(dst32.get(0, 0), 0x00010900u);
}

TEST_F(PolygonTest, DirectSourceAlphaAndKeyPinnedValues) {
  // One texel stretched over the triangle (u = v = 0 at every corner).
  MemImgVertex v[3] = {P(0, 0), P(3, 0), P(0, 3)};
  DrawArea = {0, 0, 4, 2};
  GuardedSurface src(Desc(1, 1, 1, false, true), 5);
  GuardedSurface dst(Desc(4, 2, 1), 6);
  auto draw32 = [&](int mode, int p, int trans, uint32_t texel, uint32_t d) {
    src.set(0, 0, texel);
    dst.fill(d);
    DrawBlendMode = mode;
    DrawBlendParam = p;
    DrawPolygonMemImg(dst.img(), src.img(), v, trans, nullptr, 0);
    return dst.get(1, 1);
  };
  // Transparent flag set, NOBLEND: a = 0 skipped, a = 255 copies the word, a = 128 of 255 over 0
  // gives 127 with the fourth byte kept.
  EXPECT_EQ(draw32(0, 255, 1, 0x00FFFFFF, 0x11223344), 0x11223344u);
  EXPECT_EQ(draw32(0, 255, 1, 0xFF102030, 0x11223344), 0xFF102030u);
  EXPECT_EQ(draw32(0, 255, 1, 0x80FFFFFF, 0x22000000), 0x227F7F7Fu);
  // Flag clear: a = 255 weighs 255/256, so 255 over 0 gives 254.
  EXPECT_EQ(draw32(0, 255, 0, 0xFFFFFFFF, 0x00000000), 0x00FEFEFEu);
  // MUL with the flag set: a = 0 skipped; a = 128, 255 over 200 gives 99 (fourth byte kept).
  EXPECT_EQ(draw32(4, 0, 1, 0x00FFFFFF, 0x33C8C8C8), 0x33C8C8C8u);
  EXPECT_EQ(draw32(4, 0, 1, 0x80FFFFFF, 0x33C8C8C8), 0x33636363u);
  // INVSRC with the flag set, a = 0: written back unchanged. Flag clear, a = 0: ADD keeps B, G, R
  // and clears the fourth byte; SUB sets the lowest bit of green and red and clears it.
  EXPECT_EQ(draw32(10, 200, 1, 0x00000000, 0x33C8C8C8), 0x33C8C8C8u);
  EXPECT_EQ(draw32(2, 200, 0, 0x00FFFFFF, 0x33C8C8C8), 0x00C8C8C8u);
  EXPECT_EQ(draw32(3, 200, 0, 0x00FFFFFF, 0x33C8C8C8), 0x00C9C9C8u);

  // 16-bit direct source: the whole 32-bit key, also in the plain copy.
  GuardedSurface s16(Desc(1, 1, 0), 7);
  GuardedSurface d16(Desc(4, 2, 0), 8);
  s16.set(0, 0, 0x1234);
  d16.fill(0);
  DrawBlendMode = 0;
  s16.base()->TransColor = 0x11234;
  DrawPolygonMemImg(d16.img(), s16.img(), v, 1, nullptr, 0);
  EXPECT_EQ(d16.get(1, 1), 0x1234u);
  d16.fill(0);
  s16.base()->TransColor = 0x1234;
  DrawPolygonMemImg(d16.img(), s16.img(), v, 1, nullptr, 0);
  EXPECT_EQ(d16.get(1, 1), 0u);
  // 16-bit alpha source: white at a = 255 with the flag clear gives 30, 62, 30; with the flag
  // set a = 0 is skipped in MUL, MULA and ADD.
  GuardedSurface a16(Desc(1, 1, 0, false, true), 9);
  auto draw16 = [&](int mode, int p, int trans, uint32_t texel, uint32_t d) {
    a16.set(0, 0, texel);
    d16.fill(d);
    DrawBlendMode = mode;
    DrawBlendParam = p;
    DrawPolygonMemImg(d16.img(), a16.img(), v, trans, nullptr, 0);
    return d16.get(1, 1);
  };
  EXPECT_EQ(draw16(0, 255, 0, 0x00FFFFFF, 0x0000), 0xF7DEu);
  EXPECT_EQ(draw16(4, 0, 1, 0x0000FFFF, 0xFFFF), 0xFFFFu);
  EXPECT_EQ(draw16(11, 255, 1, 0x0000FFFF, 0x1234), 0x1234u);
  EXPECT_EQ(draw16(2, 255, 1, 0x0000FFFF, 0x1234), 0x1234u);
  EXPECT_TRUE(dst.CheckGuards());
  EXPECT_TRUE(d16.CheckGuards());
}

TEST_F(PolygonTest, TintOrderOfFlatAndTexturedInvsrc) {
  // Flat: tinted once (to black at bright 0), then inverted: INVSRC at p = 255 reaches white.
  // Textured: inverted, then tinted: it mixes toward black. NOBLEND at bright 0x808080 of white
  // through the multiply table: 0x7BEF.
  MemImgVertex v[3] = {P(0, 0), P(3, 0), P(0, 3)};
  DrawArea = {0, 0, 4, 2};
  GuardedSurface d16(Desc(4, 2, 0), 1);
  GuardedSurface pal(Desc(1, 1, 0, true), 2);
  uint16_t entry = 0x0000;
  std::memcpy(pal.palette() + 2 * pal.get(0, 0), &entry, 2);
  DrawBright = 0;
  DrawBlendMode = 10;
  DrawBlendParam = 255;
  d16.fill(0x0000);
  DrawPolygonMemImg(d16.img(), nullptr, v, 0, nullptr, 0x0000);
  EXPECT_EQ(d16.get(1, 1), 0xFFFFu);
  d16.fill(0xFFFF);
  DrawPolygonMemImg(d16.img(), pal.img(), v, 0, nullptr, 0);
  EXPECT_EQ(d16.get(1, 1), 0x0000u);
  DrawBright = 0x808080;
  DrawBlendMode = 0;
  d16.fill(0);
  DrawPolygonMemImg(d16.img(), nullptr, v, 0, nullptr, 0xFFFF);
  EXPECT_EQ(d16.get(1, 1), 0x7BEFu);
  EXPECT_TRUE(d16.CheckGuards());
}

TEST_F(PolygonTest, RefusalsAndFlags) {
  GuardedSurface dst(Desc(8, 8, 1), 1);
  GuardedSurface src(Desc(4, 4, 1), 2);
  GuardedSurface smallGraph(Desc(3, 4, 2), 3);
  GuardedSurface src16(Desc(4, 4, 0), 4);
  MemImgVertex v[3] = {P(0, 0, 0, 0), P(8, 0, 4, 0), P(0, 8, 0, 4)};
  DrawArea = {0, 0, 8, 8};
  std::vector<uint8_t> before = dst.Snapshot();
  // A blend graph smaller than the source, or a source of the other format: nothing drawn.
  DrawPolygonMemImg(dst.img(), src.img(), v, 0, smallGraph.img(), 0);
  DrawPolygonMemImg(dst.img(), src16.img(), v, 0, nullptr, 0);
  // Sources beyond 8191 pixels: nothing drawn (the view claims a width its texels cannot reach).
  src.img()->Width = 8192;
  DrawPolygonMemImg(dst.img(), src.img(), v, 0, nullptr, 0);
  src.img()->Width = 4;
  // Blend modes that draw nothing.
  for (int mode : {5, 9, 12, -1}) {
    DrawBlendMode = mode;
    DrawPolygonMemImg(dst.img(), src.img(), v, 0, nullptr, 0);
    DrawPolygonMemImg(dst.img(), nullptr, v, 0, nullptr, 0x123456);
  }
  EXPECT_EQ(FirstDifference(before, dst.Snapshot(), 8, 4), "");
  // A flat triangle ignores the blend graph and the transparent flag, and clears the flags.
  DrawBlendMode = 0;
  dst.base()->RunMapValid = 1;
  dst.base()->PremulValid = 1;
  DrawPolygonMemImg(dst.img(), nullptr, v, 1, smallGraph.img(), 0x00ABCDEF);
  EXPECT_EQ(dst.get(0, 0), 0x00ABCDEFu);
  EXPECT_EQ(dst.base()->RunMapValid, 0);
  EXPECT_EQ(dst.base()->PremulValid, 0);
  // A draw area reaching past the destination is limited to it.
  DrawArea = {-5, -5, 100, 100};
  MemImgVertex big[3] = {P(-50, -50), P(200, -50), P(-50, 200)};
  DrawPolygonMemImg(dst.img(), nullptr, big, 0, nullptr, 0x00010203);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(dst.get(x, y), 0x00010203u) << x << "," << y;
  EXPECT_TRUE(dst.CheckGuards());
}

// One random draw per case, every family against the reference model.
struct Family {
  const char* name;
  int format;
  bool textured, pal, alpha;
};

TEST_F(PolygonTest, EveryFamilyMatchesTheReference) {
  const Family families[] = {{"flat32", 1, false, false, false}, {"flat16", 0, false, false, false},
                             {"tex32pal", 1, true, true, false}, {"tex32", 1, true, false, false},
                             {"tex32alpha", 1, true, false, true}, {"tex16pal", 0, true, true, false},
                             {"tex16", 0, true, false, false},   {"tex16alpha", 0, true, false, true}};
  const int modes[] = {0, 1, 2, 3, 4, 10, 11, 0, 1, 2, 3, 4, 10, 11, 5, 12};
  const int params[] = {0, 1, 128, 255};
#ifdef __SANITIZE_ADDRESS__
  const int cases = 1000;
#else
  const int cases = 2500;
#endif
  for (int f = 0; f < 8; ++f) {
    const Family& fam = families[f];
    for (int c = 0; c < cases; ++c) {
      uint32_t seed = uint32_t(f) * 1000003u + uint32_t(c);
      std::mt19937 rng(seed);
      auto r = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
      const int w = r(8, 40), h = r(8, 30), sw = r(1, 12), sh = r(1, 12);
      GuardedSurface dst(Desc(w, h, fam.format), seed);
      GuardedSurface ref(Desc(w, h, fam.format), seed);
      GuardedSurface src(Desc(sw, sh, fam.format, fam.pal, fam.alpha), seed + 1);
      GuardedSurface graph(Desc(sw + r(0, 2), sh + r(0, 2), 2), seed + 2);
      // Keys that hit: a texel's index or word (16-bit direct: sometimes with bit 16 set).
      uint32_t key = src.get(r(0, sw - 1), r(0, sh - 1));
      if (r(0, 3) == 0) key ^= fam.format == 0 && !fam.pal ? 0x10000u : (1u << r(0, 31));
      src.base()->TransColor = key;
      if (fam.alpha)  // alphas 0 and 255 where the rules branch
        for (int i = 0; i < sw * sh / 2; ++i) {
          int x = r(0, sw - 1), y = r(0, sh - 1);
          uint32_t a = r(0, 1) ? 255u : 0u, word = src.get(x, y);
          src.set(x, y, fam.format == 1 ? (word & 0x00FFFFFF) | (a << 24)
                                        : (word & 0xFF00FFFF) | (a << 16));
        }
      MakeMemImgBlendGraphTable(r(0, 255), r(0, 255));
      DrawBlendMode = modes[r(0, 15)];
      DrawBlendParam = r(0, 1) ? params[r(0, 3)] : r(0, 255);
      DrawBright = r(0, 1) ? (0xFFFFFFu | (rng() & 0xFF000000u)) : rng();
      MmxUsableFlag = r(0, 1);
      DrawArea = r(0, 2) ? RECT{0, 0, w, h} : RECT{r(0, w / 2), r(0, h / 2), r(w / 2, w), r(h / 2, h)};
      SoftForceGenericPath = c & 1;
      PlainSimdForceSse2 = (c >> 1) & 1;  // the flat spans' kernel sets
      const MEMIMG* s = fam.textured ? src.img() : nullptr;
      const MEMIMG* g = r(0, 1) ? graph.img() : nullptr;
      int trans = r(0, 1);
      uint32_t colour = rng();
      if (fam.textured && r(0, 4) == 0) {
        // The quadrangle drawer: two triangles sharing the corner 1 - corner 2 diagonal.
        int32_t q[8];
        for (int i = 0; i < 8; ++i) q[i] = r(-8, (i & 1 ? h : w) + 8);
        DrawQuadMemImg(dst.img(), s, q, trans, g);
        MemImgVertex vq[4] = {P(q[0], q[1], 0, 0), P(q[2], q[3], sw, 0), P(q[4], q[5], 0, sh),
                              P(q[6], q[7], sw, sh)};
        RefDrawPolygon(ref.img(), s, &vq[0], trans, g, 0);
        RefDrawPolygon(ref.img(), s, &vq[1], trans, g, 0);
      } else {
        MemImgVertex v[3];
        for (auto& p : v) p = P(r(-10, w + 10), r(-6, h + 6), r(-3, sw + 3), r(-3, sh + 3));
        DrawPolygonMemImg(dst.img(), s, v, trans, g, colour);
        RefDrawPolygon(ref.img(), s, v, trans, g, colour);
      }
      ASSERT_TRUE(dst.CheckGuards()) << fam.name << " seed " << seed;
      std::string diff = FirstDifference(ref.Snapshot(), dst.Snapshot(), w, dst.bytesPerPixel());
      ASSERT_EQ(diff, "") << fam.name << " seed " << seed << " mode " << DrawBlendMode << " p "
                          << DrawBlendParam << " bright " << std::hex << DrawBright;
    }
  }
}

}  // namespace
