// What every MEMIMG drawer does with a record it must not use (closed, forged, without pixels or
// format) and with a blend parameter set outside 0..255 behind the setter's back.
#include <qzlib/soft/drawer_guard.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/entry_points.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/shapes.h>
#include <qzlib/soft/stretch_blit.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/test_support.h"

namespace {

class DrawerGuardTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    static bool tables = (InitMemImgBlendTable(), true);
    (void)tables;
    InitDrawState();
    DrawArea = {0, 0, 32, 32};
  }
  void TearDown() override {
    InitDrawState();
    LeakCheckedTest::TearDown();
  }
};

// One call of each drawer onto dst from src through graph (the sources unused by flat drawers).
struct Drawer {
  const char* Name;
  std::function<void(MEMIMG* dst, const MEMIMG* src, const MEMIMG* graph)> Draw;
};

std::vector<Drawer> AllDrawers() {
  static const MemImgVertex tri[3] = {{1, 1, 0, 0}, {30, 4, 15, 0}, {6, 29, 0, 15}};
  static const MemImgLineRecord lines[2] = {{0, 0, 31, 31, 0x123456, 255}, {0, 31, 31, 0, 7, 255}};
  static const int32_t quad[8] = {2, 2, 29, 3, 3, 28, 30, 30};
  static const RECT box = {2, 2, 30, 30};
  return {
      {"blit", [](MEMIMG* d, const MEMIMG* s, const MEMIMG* g) { DrawMemImg(d, s, 3, 4, 0, g); }},
      {"stretch",
       [](MEMIMG* d, const MEMIMG* s, const MEMIMG* g) { DrawExtendMemImg(d, s, &box, 0, g); }},
      {"rota",
       [](MEMIMG* d, const MEMIMG* s, const MEMIMG* g) {
         DrawRotaMemImg(d, s, 16, 16, 0.5f, 1.5f, 0, 0, g);
       }},
      {"polygon",
       [](MEMIMG* d, const MEMIMG* s, const MEMIMG* g) { DrawPolygonMemImg(d, s, tri, 0, g, 0); }},
      {"flat polygon",
       [](MEMIMG* d, const MEMIMG*, const MEMIMG*) {
         DrawPolygonMemImg(d, nullptr, tri, 0, nullptr, 0x00FF00);
       }},
      {"quad",
       [](MEMIMG* d, const MEMIMG* s, const MEMIMG* g) { DrawQuadMemImg(d, s, quad, 0, g); }},
      {"box", [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawFillBoxMemImg(d, &box, 0xFF); }},
      {"pixel", [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawPixelMemImg(d, 5, 6, 0xFF); }},
      {"line",
       [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawLineMemImg(d, 0, 3, 31, 9, 0xFF00); }},
      {"lines", [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawLinesMemImg(d, lines, 2); }},
      {"circle",
       [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawCircleMemImg(d, 16, 16, 9, 0xFF, 1); }},
      {"circle outline",
       [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawCircleMemImg(d, 16, 16, 9, 0xFF, 0); }},
      {"oval",
       [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawOvalMemImg(d, 16, 16, 12, 5, 0xFF, 1); }},
      {"oval outline",
       [](MEMIMG* d, const MEMIMG*, const MEMIMG*) { DrawOvalMemImg(d, 16, 16, 5, 12, 0xFF, 0); }},
  };
}

// The ways a record can be unfit: closed (magic 0, the body still there), forged (magic 0 and
// pointers to nowhere: any read through them faults), no pixels, no colour format.
std::vector<std::pair<std::string, MEMIMG>> UnfitCopies(GuardedSurface& s, MemImgBase* noFormat) {
  MEMIMG closed = *s.img(), forged = *s.img(), noPixels = *s.img(), formatless = *s.img();
  closed.Magic = 0;
  forged.Magic = 0;
  forged.Base = reinterpret_cast<MemImgBase*>(uintptr_t(16));
  forged.Pixels = reinterpret_cast<uint8_t*>(uintptr_t(16));
  noPixels.Pixels = nullptr;
  *noFormat = *s.base();
  noFormat->ColorFormat = nullptr;
  formatless.Base = noFormat;
  return {{"closed", closed}, {"forged", forged}, {"no pixels", noPixels}, {"no format", formatless}};
}

}  // namespace

TEST_F(DrawerGuardTest, EveryDrawerRefusesUnfitRecords) {
  SurfaceDesc d;
  d.width = d.height = 32;
  GuardedSurface dst(d, 1), src(d, 2);
  SurfaceDesc gd = d;
  gd.format = MEMIMG_FORMAT_CH8;
  GuardedSurface graph(gd, 3);
  MemImgBase noFormat{};
  for (const Drawer& drawer : AllDrawers()) {
    SCOPED_TRACE(drawer.Name);
    // Each drawer draws with fit records, so the refusals below are not vacuous.
    dst.fill(0);
    std::vector<uint8_t> blank = dst.Snapshot();
    drawer.Draw(dst.img(), src.img(), nullptr);
    EXPECT_NE(dst.Snapshot(), blank);
    // An unfit destination, source or blend graph: nothing read through it, nothing drawn.
    dst.fill(0);
    for (auto& [what, bad] : UnfitCopies(dst, &noFormat)) {
      SCOPED_TRACE("destination " + what);
      drawer.Draw(&bad, src.img(), nullptr);
      drawer.Draw(&bad, nullptr, nullptr);
    }
    EXPECT_EQ(dst.Snapshot(), blank) << FirstDifference(dst.Snapshot(), blank, 32, 4);
    const std::string name = drawer.Name;
    if (name == "blit" || name == "stretch" || name == "rota" || name == "polygon" ||
        name == "quad") {
      for (auto& [what, bad] : UnfitCopies(src, &noFormat)) {
        SCOPED_TRACE("source " + what);
        drawer.Draw(dst.img(), &bad, nullptr);
      }
      for (auto& [what, bad] : UnfitCopies(graph, &noFormat)) {
        SCOPED_TRACE("blend graph " + what);
        drawer.Draw(dst.img(), src.img(), &bad);
      }
      EXPECT_EQ(dst.Snapshot(), blank) << FirstDifference(dst.Snapshot(), blank, 32, 4);
    }
    EXPECT_TRUE(dst.CheckGuards());
  }
}

TEST(DrawerGuardChecks, UsableRecordAndClampedParameter) {
  EXPECT_FALSE(MemImgUsable(nullptr));
  const int saved = DrawBlendParam;
  for (auto [set, want] : {std::pair{-2147483647 - 1, 0}, {-1, 0}, {0, 0}, {77, 77}, {255, 255},
                           {256, 255}, {2147483647, 255}}) {
    DrawBlendParam = set;
    EXPECT_EQ(SoftBlendParam(), want) << set;
  }
  DrawBlendParam = saved;
}

TEST_F(DrawerGuardTest, ShapeDrawersClampAnOutOfRangeBlendParameter) {
  // The global is public: a value the setter would have clamped must draw as the clamped one
  // (indexing the blend tables with it read far outside them).
  SurfaceDesc d;
  d.width = d.height = 32;
  for (int format : {MEMIMG_FORMAT_565, MEMIMG_FORMAT_XRGB8})
    for (int mode : {BLENDMODE::ALPHA, BLENDMODE::ADD, BLENDMODE::SUB, BLENDMODE::MUL,
                     BLENDMODE::INVSRC, BLENDMODE::MULA})
      for (auto [wild, clamped] : {std::pair{300, 255}, {100000, 255}, {-5, 0}, {-2147483647, 0}})
        for (int shape = 0; shape < 4; ++shape) {
          SCOPED_TRACE(testing::Message() << "format " << format << " mode " << mode << " p "
                                          << wild << " shape " << shape);
          d.format = format;
          GuardedSurface a(d, 9), b(d, 9);
          auto draw = [&](MEMIMG* m) {
            if (shape < 2) DrawCircleMemImg(m, 15, 14, 10, 0x89ABCDEF, shape);
            else DrawOvalMemImg(m, 15, 14, 13, 6, 0x89ABCDEF, shape - 2);
          };
          DrawBlendMode = mode;
          DrawBlendParam = wild;
          draw(a.img());
          DrawBlendParam = clamped;
          draw(b.img());
          ASSERT_EQ(a.Snapshot(), b.Snapshot()) << FirstDifference(a.Snapshot(), b.Snapshot(), 32,
                                                                    a.bytesPerPixel());
          ASSERT_TRUE(a.CheckGuards());
        }
}
