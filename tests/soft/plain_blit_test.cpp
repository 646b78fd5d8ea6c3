// The plain blit against the reference model: random differential cases over every mode, source
// kind, format, sub-variant and path, then the hand-computed cases.
#include <qzlib/soft/plain_blit.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/ref_plain_blit.h"

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr uint32_t kRandomCases = 6000;
#else
constexpr uint32_t kRandomCases = 40000;
#endif

class PlainBlitTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitMemImgBlendTable(); }
  void SetUp() override {
    savedMode_ = DrawBlendMode;
    savedParam_ = DrawBlendParam;
    savedBright_ = DrawBright;
    savedArea_ = DrawArea;
    savedMmx_ = MmxUsableFlag;
    SoftForceGenericPath = 0;
  }
  void TearDown() override {
    DrawBlendMode = savedMode_;
    DrawBlendParam = savedParam_;
    DrawBright = savedBright_;
    DrawArea = savedArea_;
    MmxUsableFlag = savedMmx_;
    SoftForceGenericPath = 0;
  }
  int savedMode_ = 0, savedParam_ = 0, savedMmx_ = 1;
  uint32_t savedBright_ = 0;
  RECT savedArea_{};
};

RefState CurrentState() {
  RefState st;
  st.blendMode = DrawBlendMode;
  st.blendParam = DrawBlendParam;
  st.bright = DrawBright;
  st.mmx = MmxUsableFlag;
  return st;
}

template <class T>
T Pick(std::mt19937& rng, std::initializer_list<T> xs) {
  return *(xs.begin() + rng() % xs.size());
}

// One random case; returns a failure description or "".
std::string RunRandomCase(uint32_t seed) {
  std::mt19937 rng(seed);
  const int fmt = rng() % 2;
  const int kind = rng() % 3;  // 0 palettised, 1 direct, 2 direct with alpha
  SurfaceDesc ss;
  const bool wide = rng() % 10 == 0;  // long rows: several runs of 64, whole vector groups
  ss.width = 1 + rng() % (wide ? 150 : 24);
  ss.height = 1 + rng() % 12;
  ss.format = fmt;
  ss.palette = kind == 0;
  ss.alpha = kind == 2;
  ss.extraPitch = rng() % 13;
  const bool contiguous = rng() % 8 == 0;  // rows back to back in source and destination
  if (contiguous) ss.extraPitch = 0;
  GuardedSurface src(ss, rng());
  // Colour key, and pixels that hit it (or alpha 0 and 255).
  const int bpp = src.bytesPerPixel();
  uint32_t key;
  if (kind == 0) key = rng() % 4 == 0 ? 256 + rng() % 100 : rng() % 256;
  else key = src.get(rng() % ss.width, rng() % ss.height);
  if (kind == 1 && rng() % 4 == 0) key ^= fmt == 1 ? 0x01000000u : 0x00010000u;
  src.base()->TransColor = key;
  for (int y = 0; y < ss.height; ++y)
    for (int x = 0; x < ss.width; ++x) {
      int r = rng() % 4;
      if (kind == 2) {
        uint32_t v = src.get(x, y);
        uint32_t a = r == 0 ? 0 : r == 1 ? 255 : (rng() & 0xFF);
        if (fmt == 1) v = (v & 0x00FFFFFF) | (a << 24);
        else v = (v & 0xFF00FFFF) | (a << 16);
        src.set(x, y, v);
      } else if (r == 0) {
        src.set(x, y, key);
      }
    }
  // The view: the whole body or a part of it.
  MEMIMG view = *src.img();
  if (rng() % 3 == 0) {
    int vx = rng() % ss.width, vy = rng() % ss.height;
    view = src.View(vx, vy, 1 + rng() % (ss.width - vx), 1 + rng() % (ss.height - vy));
  }
  const bool wholeView = view.Pixels == src.base()->Pixels && view.Width == ss.width &&
                         view.Height == ss.height;
  if (wholeView && rng() % 2) src.BuildRunMap();

  SurfaceDesc ds;
  ds.width = 1 + rng() % (wide ? 170 : 40);
  ds.height = 1 + rng() % 20;
  ds.format = rng() % 40 == 0 ? 1 - fmt : fmt;
  ds.palette = rng() % 60 == 0;
  ds.alpha = rng() % 60 == 0;
  ds.extraPitch = rng() % 9;
  if (contiguous) {
    ds.width = ss.width;
    ds.extraPitch = 0;
  }
  const uint32_t dseed = rng();
  GuardedSurface dA(ds, dseed), dB(ds, dseed), dC(ds, dseed), dD(ds, dseed);

  // Blend graph.
  std::unique_ptr<GuardedSurface> graph;
  if (rng() % 2) {
    SurfaceDesc gs;
    gs.format = 2;
    gs.width = view.Width + (rng() % 8 == 0 ? -1 : int(rng() % 3));
    gs.height = view.Height + (rng() % 8 == 0 ? -1 : int(rng() % 3));
    if (gs.width < 1) gs.width = 1;
    if (gs.height < 1) gs.height = 1;
    gs.extraPitch = rng() % 5;
    graph = std::make_unique<GuardedSurface>(gs, rng());
    MakeMemImgBlendGraphTable(Pick(rng, {0, 1, 64, 128, 200, 255, int(rng() % 256)}),
                              Pick(rng, {0, 1, 255, int(rng() % 256)}));
  }
  // Draw state.
  DrawBlendMode = rng() % 10 == 0 ? Pick(rng, {5, 7, 9, 12, -1, 255}) : Pick(rng, {0, 1, 2, 3, 4, 10, 11});
  DrawBlendParam = Pick(rng, {0, 1, 2, 3, 4, 127, 128, 129, 200, 254, 255, 255, int(rng() % 256)});
  DrawBright = Pick(rng, {0xFFFFFFu, 0xFFFFFFu, 0xFFFFFFFFu, 0xFFFFFEu, 0u, 0x808080u, uint32_t(rng())});
  MmxUsableFlag = rng() % 2;
  const int trans = Pick(rng, {0, 1, 1});
  RECT area;
  if (rng() % 3 == 0) {
    area = {0, 0, ds.width, ds.height};
    if (rng() % 4 == 0) area = {-3, -2, ds.width + 7, ds.height + 5};  // set for a bigger target
  } else {
    int l = rng() % ds.width, t = rng() % ds.height;
    area = {l, t, l + 1 + int(rng() % (ds.width - l)), t + 1 + int(rng() % (ds.height - t))};
  }
  DrawArea = area;
  int x = int(rng() % (ds.width + view.Width + 4)) - view.Width - 2;
  int y = int(rng() % (ds.height + view.Height + 4)) - view.Height - 2;
  if (contiguous) {
    x = y = 0;
    DrawArea = area = {0, 0, ds.width, ds.height};
  }
  const MEMIMG* g = graph ? graph->img() : nullptr;

  auto srcBefore = src.Snapshot();
  RefDrawMemImg(CurrentState(), area, dB.img(), &view, x, y, trans, g, MemImgBlendGraphTable);
  DrawMemImg(dA.img(), &view, x, y, trans, g);
  SoftForceGenericPath = 1;
  DrawMemImg(dC.img(), &view, x, y, trans, g);
  SoftForceGenericPath = 0;
  PlainSimdForceSse2 = 1;
  DrawMemImg(dD.img(), &view, x, y, trans, g);
  PlainSimdForceSse2 = 0;

  std::string diff = FirstDifference(dA.Snapshot(), dB.Snapshot(), ds.width, dA.bytesPerPixel());
  if (!diff.empty()) return "fast vs reference at " + diff;
  diff = FirstDifference(dC.Snapshot(), dA.Snapshot(), ds.width, dA.bytesPerPixel());
  if (!diff.empty()) return "generic vs specialised at " + diff;
  diff = FirstDifference(dD.Snapshot(), dA.Snapshot(), ds.width, dA.bytesPerPixel());
  if (!diff.empty()) return "SSE2 vs default kernels at " + diff;
  if (!dA.CheckGuards() || !dC.CheckGuards() || !dD.CheckGuards()) return "guard band overwritten";
  if (src.Snapshot() != srcBefore || !src.CheckGuards()) return "source changed";
  if (graph && !graph->CheckGuards()) return "blend graph changed";
  (void)bpp;
  return "";
}

TEST_F(PlainBlitTest, RandomCasesMatchTheReferenceModel) {
  int failures = 0;
  for (uint32_t seed = 1; seed <= kRandomCases && failures < 5; ++seed) {
    std::string f = RunRandomCase(seed);
    if (!f.empty()) {
      ADD_FAILURE() << "seed " << seed << ": " << f;
      ++failures;
    }
  }
}

// One blit of a 1x1 (or n x 1) source onto a destination of the same size at (0, 0).
struct OnePixel {
  int fmt = 1;
  int kind = 1;             // 0 palettised (src = the palette entry, index 0), 1 direct, 2 alpha
  int mode = 0, param = 255;
  uint32_t bright = 0xFFFFFF;
  int trans = 0;
  int graphByte = -1;       // >= 0: a 1x1 blend graph with this byte and the identity table
  bool runMap = false;
  uint32_t key = 0x7FFFFFFF;
  int mmx = 0;

  uint32_t Run(uint32_t src, uint32_t dst) {
    SurfaceDesc ss;
    ss.width = ss.height = 1;
    ss.format = fmt;
    ss.palette = kind == 0;
    ss.alpha = kind == 2;
    GuardedSurface s(ss, 1);
    if (kind == 0) {
      s.set(0, 0, 0);
      std::memcpy(s.palette(), &src, fmt == 1 ? 4 : 2);
    } else {
      s.set(0, 0, src);
    }
    s.base()->TransColor = key;
    if (runMap) s.BuildRunMap();
    SurfaceDesc ds;
    ds.width = ds.height = 1;
    ds.format = fmt;
    GuardedSurface d(ds, 2);
    d.set(0, 0, dst);
    std::unique_ptr<GuardedSurface> g;
    if (graphByte >= 0) {
      SurfaceDesc gs;
      gs.width = gs.height = 1;
      gs.format = 2;
      g = std::make_unique<GuardedSurface>(gs, 3);
      g->set(0, 0, uint32_t(graphByte));
      MakeMemImgBlendGraphTable(128, 255);  // identity: weight = byte
    }
    DrawBlendMode = mode;
    DrawBlendParam = param;
    DrawBright = bright;
    MmxUsableFlag = mmx;
    DrawArea = {0, 0, 1, 1};
    DrawMemImg(d.img(), s.img(), 0, 0, trans, g ? g->img() : nullptr);
    EXPECT_TRUE(d.CheckGuards());
    return d.get(0, 0);
  }
};

uint32_t Rgb(uint32_t b, uint32_t g, uint32_t r, uint32_t x = 0) { return b | g << 8 | r << 16 | x << 24; }
uint32_t P565(uint32_t r, uint32_t g, uint32_t b) { return r << 11 | g << 5 | b; }

TEST_F(PlainBlitTest, WorkedCases32) {
  OnePixel o;
  o.mode = 1; o.param = 100;
  EXPECT_EQ(o.Run(Rgb(200, 50, 0), Rgb(10, 100, 255, 0xAB)), Rgb(84, 80, 155, 0xAB));

  // The packed add and subtract without MMX, and the MMX forms (byte 3 pinned).
  o = OnePixel{}; o.mode = 2; o.param = 255;
  EXPECT_EQ(o.Run(Rgb(10, 11, 13, 0x44), Rgb(20, 21, 23, 0x55)), Rgb(30, 30, 34, 0));
  EXPECT_EQ(o.Run(Rgb(255, 1, 1), Rgb(1, 1, 1)), Rgb(255, 1, 0));
  EXPECT_EQ(o.Run(Rgb(0, 0, 200), Rgb(0, 0, 100)), Rgb(0, 0, 255, 1));  // red overflow: byte 3 is 1
  o.kind = 2; o.trans = 1;  // an alpha source at a = 255 takes the other form
  EXPECT_EQ(o.Run(Rgb(10, 11, 13, 255), Rgb(20, 21, 23, 0x55)), Rgb(30, 31, 35, 0));
  o = OnePixel{}; o.mode = 2; o.param = 255; o.trans = 1; o.runMap = true;  // fast path: other form
  EXPECT_EQ(o.Run(Rgb(10, 11, 13), Rgb(20, 21, 23)), Rgb(30, 31, 35, 0));
  o.runMap = false; o.mmx = 1;
  EXPECT_EQ(o.Run(Rgb(200, 100, 50, 0x80), Rgb(100, 200, 250, 0x90)), Rgb(255, 255, 255, 0xFF));
  EXPECT_EQ(o.Run(Rgb(10, 11, 13, 0x10), Rgb(20, 21, 23, 0x20)), Rgb(30, 32, 36, 0x30));
  o.runMap = true;  // the fast path never takes the MMX form
  EXPECT_EQ(o.Run(Rgb(10, 11, 13, 0x10), Rgb(20, 21, 23, 0x20)), Rgb(30, 31, 35, 0));
  o = OnePixel{}; o.mode = 3; o.param = 255;
  EXPECT_EQ(o.Run(Rgb(10, 11, 13, 0x44), Rgb(20, 21, 23, 0x55)), Rgb(10, 11, 11, 0));
  EXPECT_EQ(o.Run(Rgb(0, 3, 0), Rgb(0, 10, 0)), Rgb(0, 9, 1));
  o.mmx = 1;
  EXPECT_EQ(o.Run(Rgb(0, 3, 0, 0x10), Rgb(0, 10, 0, 0x30)), Rgb(0, 7, 0, 0x20));
  EXPECT_EQ(o.Run(Rgb(10, 11, 13, 0x40), Rgb(20, 21, 23, 0x30)), Rgb(10, 10, 10, 0));
  o.kind = 0;  // the palette entry's spare byte takes part
  EXPECT_EQ(o.Run(Rgb(10, 11, 13, 0x10), Rgb(20, 21, 23, 0x30)), Rgb(10, 10, 10, 0x20));

  // ALPHA p = 128 half rule: byte 3 becomes 0; s = 1, d = 1 gives 0.
  o = OnePixel{}; o.mode = 1; o.param = 128;
  EXPECT_EQ(o.Run(Rgb(1, 1, 1, 0xFF), Rgb(1, 1, 1, 0x77)), Rgb(0, 0, 0, 0));
  o.runMap = true; o.trans = 1;  // no half rule in the fast path
  EXPECT_EQ(o.Run(Rgb(1, 1, 1), Rgb(1, 1, 1, 0x77)), Rgb(1, 1, 1, 0x77));
  o = OnePixel{}; o.mode = 1; o.param = 128; o.kind = 2;  // not for alpha sources
  EXPECT_EQ(o.Run(Rgb(255, 0, 100, 255), Rgb(0, 255, 100, 9)),
            Rgb(0 + (255 * 255 * 128) / 65536, 255 - (255 * 255 * 128 + 65535) / 65536, 100, 9));

  // Alpha source, NOBLEND without blend graph.
  o = OnePixel{}; o.kind = 2; o.trans = 1;
  EXPECT_EQ(o.Run(Rgb(200, 200, 200, 0), Rgb(1, 2, 3, 4)), Rgb(1, 2, 3, 4));
  EXPECT_EQ(o.Run(Rgb(200, 201, 202, 255), Rgb(1, 2, 3, 4)), Rgb(200, 201, 202, 255));
  EXPECT_EQ(o.Run(Rgb(200, 0, 101, 128), Rgb(100, 100, 0, 4)), Rgb(150, 50, 50, 4));
  o.trans = 0;  // copied whole whatever a
  EXPECT_EQ(o.Run(Rgb(200, 0, 101, 0), Rgb(100, 100, 0, 4)), Rgb(200, 0, 101, 0));
  o.bright = 0xFFFFFE;  // with a tint the same call blends by a (tint of 255 on blue only)
  EXPECT_EQ(o.Run(Rgb(200, 0, 101, 0), Rgb(100, 100, 0, 4)), Rgb(100, 100, 0, 4));
  EXPECT_EQ(o.Run(Rgb(255, 0, 0, 255), Rgb(0, 0, 0, 4)), Rgb(253, 0, 0, 4));
  o.bright = 0xFFFFFF; o.mode = 1; o.param = 255;  // ALPHA 255 is NOBLEND
  EXPECT_EQ(o.Run(Rgb(200, 0, 101, 7), Rgb(100, 100, 0, 4)), Rgb(200, 0, 101, 7));

  // Palettised NOBLEND copies the whole entry; with a tint byte 3 is kept.
  o = OnePixel{}; o.kind = 0;
  EXPECT_EQ(o.Run(Rgb(1, 2, 3, 0x99), Rgb(9, 9, 9, 0x11)), Rgb(1, 2, 3, 0x99));
  o.bright = 0xFF808080;
  EXPECT_EQ(o.Run(Rgb(200, 255, 1, 0x99), Rgb(9, 9, 9, 0x11)), Rgb(100, 128, 0, 0x11));
  o.bright = 0xFFFFFFFF;  // high byte ignored: no tint
  EXPECT_EQ(o.Run(Rgb(200, 255, 1, 0x99), Rgb(9, 9, 9, 0x11)), Rgb(200, 255, 1, 0x99));

  // MUL: product over 256; the alpha source's a = 0 is skipped with the transparent flag, as in
  // every other mode, and black without it.
  o = OnePixel{}; o.mode = 4; o.param = 0;
  EXPECT_EQ(o.Run(Rgb(255, 128, 0), Rgb(255, 255, 255, 3)), Rgb(254, 127, 0, 3));
  o.kind = 2; o.trans = 1;
  EXPECT_EQ(o.Run(Rgb(255, 255, 255, 0), Rgb(200, 200, 200, 3)), Rgb(200, 200, 200, 3));
  EXPECT_EQ(o.Run(Rgb(255, 255, 255, 255), Rgb(200, 200, 200, 3)), Rgb(199, 199, 199, 3));
  o.trans = 0;  // a = 255 weighs 255/256
  EXPECT_EQ(o.Run(Rgb(255, 255, 255, 0), Rgb(200, 200, 200, 3)), Rgb(0, 0, 0, 3));
  EXPECT_EQ(o.Run(Rgb(255, 255, 255, 255), Rgb(200, 200, 200, 3)), Rgb(198, 198, 198, 3));

  // Blend-graph weight 0: mixing modes keep the pixel, MUL makes it black.
  for (int mode : {0, 1, 10, 11}) {
    o = OnePixel{}; o.mode = mode; o.param = 77; o.graphByte = 0;
    EXPECT_EQ(o.Run(Rgb(1, 2, 3), Rgb(40, 50, 60, 5)), Rgb(40, 50, 60, 5)) << mode;
  }
  o.mode = 4;
  EXPECT_EQ(o.Run(Rgb(1, 2, 3), Rgb(40, 50, 60, 5)), Rgb(0, 0, 0, 5));

  // INVSRC inverts, then tints.
  o = OnePixel{}; o.mode = 10; o.param = 255; o.bright = 0x808080;
  EXPECT_EQ(o.Run(Rgb(0, 255, 0), Rgb(0, 0, 255, 8)), Rgb(127, 0, 128, 8));  // 255 + floor(-127 * 255 / 256)

  // Keys: a palettised key index is skipped in every mode; a direct key compares all four bytes.
  for (int mode : {0, 1, 2, 3, 4, 10, 11}) {
    o = OnePixel{}; o.kind = 0; o.key = 0; o.trans = 1; o.mode = mode; o.param = 200;
    EXPECT_EQ(o.Run(Rgb(1, 2, 3), Rgb(40, 50, 60, 5)), Rgb(40, 50, 60, 5)) << mode;
  }
  o = OnePixel{}; o.trans = 1; o.key = Rgb(1, 2, 3, 4);
  EXPECT_EQ(o.Run(Rgb(1, 2, 3, 4), Rgb(9, 9, 9)), Rgb(9, 9, 9));
  EXPECT_EQ(o.Run(Rgb(1, 2, 3, 5), Rgb(9, 9, 9)), Rgb(1, 2, 3, 5));
  o.trans = 0;
  EXPECT_EQ(o.Run(Rgb(1, 2, 3, 4), Rgb(9, 9, 9)), Rgb(1, 2, 3, 4));

  // Modes and parameters that draw nothing.
  for (auto [mode, param] : {std::pair{5, 255}, {7, 128}, {9, 0}, {12, 255}, {-1, 255}, {1, 0}, {2, 0}, {3, 0}}) {
    for (int kind : {0, 1}) {
      o = OnePixel{}; o.kind = kind; o.mode = mode; o.param = param;
      EXPECT_EQ(o.Run(Rgb(1, 2, 3), Rgb(40, 50, 61, 5)), Rgb(40, 50, 61, 5)) << mode << " " << param;
    }
  }
}

TEST_F(PlainBlitTest, WorkedCases16) {
  OnePixel o;
  o.fmt = 0; o.mode = 1; o.param = 128;
  EXPECT_EQ(o.Run(0x0821, 0x0821), 0x0000u);  // half rule
  o.param = 129;
  EXPECT_EQ(o.Run(0x0821, 0x0821), 0x0821u);  // X6[32][1][1] = 1
  o.param = 128; o.trans = 1; o.runMap = true;
  EXPECT_EQ(o.Run(0x0821, 0x0821), 0x0821u);  // 1 + V[128][0]
  o = OnePixel{}; o.fmt = 0; o.mode = 1; o.param = 200;
  EXPECT_EQ(o.Run(0x07E0, 0x0000), 0x0640u);
  o.bright = 0xFFFFFE;
  EXPECT_EQ(o.Run(0x07E0, 0x0000), 0x0620u);
  o.bright = 0xFFFFFF; o.trans = 1; o.runMap = true;
  EXPECT_EQ(o.Run(0x07E0, 0x0000), 0x0620u);
  o.runMap = false; o.trans = 0;
  for (int p : {1, 2, 3}) {
    o.param = p;
    EXPECT_EQ(o.Run(0xFFFF, 0x1234), 0x1234u) << p;
  }
  o.param = 128;  // 10 + trunc(-1280 / 255) = 5 through the tinted loop; graph weights 255 and 1
  o.bright = 0xFFFFFE;
  EXPECT_EQ(o.Run(P565(0, 0, 0), P565(10, 10, 10)), P565(5, 5, 5));
  o.bright = 0xFFFFFF; o.graphByte = 255;
  EXPECT_EQ(o.Run(P565(0, 0, 0), P565(10, 10, 10)), P565(5, 5, 5));
  o.graphByte = 1;
  EXPECT_EQ(o.Run(P565(0, 0, 0), P565(10, 10, 10)), P565(9, 9, 9));
  o = OnePixel{}; o.fmt = 0; o.graphByte = 128;
  EXPECT_EQ(o.Run(0xFFFF, 0x0000), 0x7BEFu);

  // ADD at p = 255: the lowest bits of green and red.
  o = OnePixel{}; o.fmt = 0; o.mode = 2; o.param = 255;
  EXPECT_EQ(o.Run(0x0000, 0x0821), 0x0001u);
  EXPECT_EQ(o.Run(0x0020, 0x0020), 0x0000u);
  EXPECT_EQ(o.Run(0x001F, 0x0001), 0x003Fu);
  EXPECT_EQ(o.Run(0xFFFF, 0x0000), 0xF7DFu);
  o.param = 254;
  EXPECT_EQ(o.Run(0x0000, 0x0821), 0x0821u);
  o.param = 255; o.bright = 0xFFFFFE;
  EXPECT_EQ(o.Run(0x0000, 0x0821), 0x0821u);
  o.bright = 0xFFFFFF; o.graphByte = 255;
  EXPECT_EQ(o.Run(0x0000, 0x0821), 0x0821u);
  o.graphByte = -1; o.trans = 1; o.runMap = true;
  EXPECT_EQ(o.Run(0x0000, 0x0821), 0x0821u);
  EXPECT_EQ(o.Run(0x0020, 0x0020), 0x0020u);
  o.runMap = false; o.kind = 2;
  EXPECT_EQ(o.Run(0xFF0000, 0x0821), 0x0821u);

  // SUB.
  o = OnePixel{}; o.fmt = 0; o.mode = 3; o.param = 255;
  EXPECT_EQ(o.Run(0x0000, 0xFFFF), 0xFFDFu);
  EXPECT_EQ(o.Run(0x0000, 0x0000), 0x0800u);
  for (int kind : {0, 1}) {
    o.kind = kind; o.param = 0;
    EXPECT_EQ(o.Run(0x0000, 0xFFFF), 0xFFFFu);
  }

  // MUL and INVSRC. An alpha source's a = 0 is black with the transparent flag 0, skipped with 1.
  o = OnePixel{}; o.fmt = 0; o.mode = 4;
  EXPECT_EQ(o.Run(0xFFFF, 0xFFFF), 0xF7DEu);
  o.kind = 2;
  EXPECT_EQ(o.Run(0x00FFFF, 0xFFFF), 0x0000u);
  o.trans = 1;
  EXPECT_EQ(o.Run(0x00FFFF, 0xFFFF), 0xFFFFu);
  o = OnePixel{}; o.fmt = 0; o.mode = 10; o.param = 255; o.bright = 0;
  EXPECT_EQ(o.Run(0x0000, 0x1234), 0x0000u);

  // Alpha source with the transparent flag 0: NOBLEND copies, with a tint or blend graph it
  // blends by a.
  o = OnePixel{}; o.fmt = 0; o.kind = 2;
  EXPECT_EQ(o.Run(0x00FFFF, 0x1234), 0xFFFFu);
  o.graphByte = 255;
  EXPECT_EQ(o.Run(0x00FFFF, 0x1234), 0x1234u);
  o.graphByte = -1; o.bright = 0xFFFFFE;
  EXPECT_EQ(o.Run(0x00FFFF, 0x1234), 0x1234u);

  // The whole key is compared: 0x11234 skips nothing, 0x1234 skips in every loop.
  o = OnePixel{}; o.fmt = 0; o.trans = 1; o.key = 0x11234;
  EXPECT_EQ(o.Run(0x1234, 0x0000), 0x1234u);
  o.key = 0x1234;
  EXPECT_EQ(o.Run(0x1234, 0x0000), 0x0000u);
  o.mode = 1; o.param = 128;
  EXPECT_EQ(o.Run(0x1234, 0x0000), 0x0000u);

  // MULA weighed by a alone keeps a finer green: s_g = 63, d_g = 63, a = 128, p = 255.
  o = OnePixel{}; o.fmt = 0; o.kind = 2; o.mode = 11; o.param = 255;
  uint32_t dg = 63, M = (63 * 63) / 2;
  int64_t green = int64_t(dg) + ((int64_t(M) - 32 * int64_t(dg)) * 128 * 255 >> 21);
  EXPECT_EQ((o.Run(0x8007E0, 0x07E0) >> 5) & 63, uint32_t(green));
}

// A destination's run map and premultiplied plane no longer describe it after a draw.
TEST_F(PlainBlitTest, DrawingClearsTheDestinationsAccelerationFlags) {
  SurfaceDesc ss;
  ss.width = ss.height = 4;
  GuardedSurface s(ss, 1), d(ss, 2);
  d.base()->RunMapValid = 1;
  d.base()->PremulValid = 1;
  DrawBlendMode = 0;
  DrawArea = {0, 0, 4, 4};
  DrawMemImg(d.img(), s.img(), 0, 0, 0, nullptr);
  EXPECT_EQ(d.base()->RunMapValid, 0);
  EXPECT_EQ(d.base()->PremulValid, 0);
}

// Only a view that is its whole body, drawn unclipped, takes the run map.
TEST_F(PlainBlitTest, RunMapOnlyForWholeUnclippedBody) {
  SurfaceDesc ss;
  ss.format = 0;
  ss.width = 4;
  ss.height = 1;
  GuardedSurface s(ss, 1);
  s.fill(0x0020);
  s.base()->TransColor = 0xFFFF;
  s.BuildRunMap();
  SurfaceDesc ds = ss;
  ds.width = 8;
  GuardedSurface d(ds, 2);
  DrawBlendMode = 2;
  DrawBlendParam = 255;
  DrawBright = 0xFFFFFF;
  DrawArea = {0, 0, 8, 1};
  d.fill(0x0020);
  DrawMemImg(d.img(), s.img(), 0, 0, 1, nullptr);
  EXPECT_EQ(d.get(0, 0), 0x0020u);  // fast path: the add keeps the low bit
  d.fill(0x0020);
  MEMIMG part = s.View(1, 0, 3, 1);
  DrawMemImg(d.img(), &part, 0, 0, 1, nullptr);
  EXPECT_EQ(d.get(0, 0), 0x0000u);  // per-pixel path
  d.fill(0x0020);
  DrawMemImg(d.img(), s.img(), -1, 0, 1, nullptr);
  EXPECT_EQ(d.get(0, 0), 0x0000u);  // clipped: per-pixel path
  EXPECT_EQ(d.get(3, 0), 0x0020u);  // beyond the source: untouched
}

// Clipping keeps the blend graph aligned with the source; a small blend graph draws nothing.
TEST_F(PlainBlitTest, ClippingAndBlendGraphAlignment) {
  SurfaceDesc ss;
  ss.width = 4;
  ss.height = 1;
  GuardedSurface s(ss, 1), d(ss, 2);
  SurfaceDesc gs = ss;
  gs.format = 2;
  GuardedSurface g(gs, 3);
  for (int i = 0; i < 4; ++i) {
    s.set(i, 0, Rgb(200, 200, 200));
    g.set(i, 0, uint32_t(i * 64));
  }
  MakeMemImgBlendGraphTable(128, 255);
  DrawBlendMode = 0;
  DrawBright = 0xFFFFFF;
  DrawArea = {0, 0, 4, 1};
  d.fill(0);
  DrawMemImg(d.img(), s.img(), -2, 0, 0, g.img());
  EXPECT_EQ(d.get(0, 0), Rgb(100, 100, 100));  // source pixel 2, weight 128
  EXPECT_EQ(d.get(1, 0), Rgb(150, 150, 150));  // source pixel 3, weight 192
  EXPECT_EQ(d.get(2, 0), 0u);
  d.fill(0);
  MEMIMG narrow = g.View(0, 0, 3, 1);
  DrawMemImg(d.img(), s.img(), 0, 0, 0, &narrow);
  EXPECT_EQ(d.get(0, 0), 0u);
  DrawMemImg(d.img(), s.img(), 4, 0, 0, nullptr);  // entirely outside
  DrawMemImg(d.img(), s.img(), INT32_MAX - 1, INT32_MIN + 1, 0, nullptr);  // no overflow
  DrawMemImg(d.img(), s.img(), 0, 1, 0, nullptr);
  EXPECT_EQ(d.get(3, 0), 0u);
  EXPECT_TRUE(d.CheckGuards());
}

}  // namespace
