// The software draw entry points, with recording stand-ins of the drawers: every call's values
// and the order of the calls.
#include <qzlib/soft/entry_points.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <qzlib/base/draw_state.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/stretch_blit.h>

namespace {

std::vector<std::string> g_calls;

MEMIMG g_target{}, g_blend{};
GRAPH_RECORD g_graph{};

std::string Name(const MEMIMG* m) {
  if (!m) return "null";
  if (m == &g_target) return "target";
  if (m == &g_graph.Image) return "source";
  if (m == &g_blend) return "blend";
  return "other";
}

template <class... A>
void Record(const char* what, const A&... args) {
  std::ostringstream s;
  s << what;
  ((s << ' ' << args), ...);
  g_calls.push_back(s.str());
}

int RecMemImg(MEMIMG* d, const MEMIMG* s, int x, int y, int trans, const MEMIMG* bg) {
  Record("blit", Name(d), Name(s), x, y, trans, Name(bg));
  return 0;
}
void RecExtend(MEMIMG* d, const MEMIMG* s, const RECT* r, int trans, const MEMIMG* bg) {
  Record("extend", Name(d), Name(s), r->left, r->top, r->right, r->bottom, trans, Name(bg));
}
void RecRota(MEMIMG* d, const MEMIMG* s, int cx, int cy, float angle, float scale, int trans,
             int turn, const MEMIMG* bg) {
  Record("rota", Name(d), Name(s), cx, cy, angle, scale, trans, turn, Name(bg));
  EXPECT_EQ(angle, static_cast<float>(0.1));
  EXPECT_EQ(scale, static_cast<float>(1.3));
}
void RecBox(MEMIMG* d, const RECT* r, uint32_t color) {
  Record("box", Name(d), r->left, r->top, r->right, r->bottom, color);
}
void RecPolygon(MEMIMG* d, const MEMIMG* s, const MemImgVertex* v, int trans, const MEMIMG* bg,
                uint32_t color) {
  Record("poly", Name(d), Name(s), v[0].x, v[0].y, v[0].u, v[0].v, v[1].x, v[1].y, v[1].u, v[1].v,
         v[2].x, v[2].y, v[2].u, v[2].v, trans, Name(bg), color);
}
void RecLines(MEMIMG* d, const MemImgLineRecord* r, int count) {
  std::ostringstream s;
  s << "lines " << Name(d) << ' ' << count;
  for (int i = 0; i < count; ++i)
    s << " (" << r[i].x1 << ',' << r[i].y1 << ' ' << r[i].x2 << ',' << r[i].y2 << ' ' << r[i].color
      << ' ' << r[i].param << ')';
  g_calls.push_back(s.str());
}
void RecOval(MEMIMG* d, int cx, int cy, int rx, int ry, uint32_t color, int fill) {
  Record("oval", Name(d), cx, cy, rx, ry, color, fill);
}

class EntryPointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    SoftDrawerTable = {RecMemImg, RecExtend, RecRota, RecBox, RecPolygon, RecLines, RecOval};
    savedTarget_ = SoftDrawTarget;
    savedBlend_ = SoftBlendGraph;
    SoftDrawTarget = &g_target;
    SoftBlendGraph = nullptr;
    g_graph.Width = 40;
    g_graph.Height = 30;
    SetDrawBlendMode(1, 77);
  }
  void TearDown() override {
    SoftDrawerTable = SoftDrawerTableDefault;
    SoftDrawTarget = savedTarget_;
    SoftBlendGraph = savedBlend_;
    SetDrawBlendMode(0, 255);
  }
  const GRAPH_RECORD* graph() { return &g_graph; }
  static std::vector<std::string> Calls() { return g_calls; }
  MEMIMG* savedTarget_ = nullptr;
  MEMIMG* savedBlend_ = nullptr;
};

}  // namespace

TEST(SoftDrawerTableDefaults, PointAtTheRealDrawers) {
  EXPECT_EQ(SoftDrawerTableDefault.DrawMemImg, &DrawMemImg);
  EXPECT_EQ(SoftDrawerTableDefault.DrawExtendMemImg, &DrawExtendMemImg);
  EXPECT_EQ(SoftDrawerTableDefault.DrawRotaMemImg, &DrawRotaMemImg);
  EXPECT_EQ(SoftDrawerTableDefault.DrawFillBoxMemImg, &DrawFillBoxMemImg);
  EXPECT_EQ(SoftDrawerTableDefault.DrawPolygonMemImg, &DrawPolygonMemImg);
  EXPECT_EQ(SoftDrawerTableDefault.DrawLinesMemImg, &DrawLinesMemImg);
  EXPECT_EQ(SoftDrawerTableDefault.DrawOvalMemImg, &DrawOvalMemImg);
}

TEST_F(EntryPointsTest, BlitsHandTargetSourceAndBlendGraph) {
  MemImgDrawGraph(5, -6, graph(), 1);
  SoftBlendGraph = &g_blend;
  MemImgDrawGraph(7, 8, graph(), 0);
  MemImgDrawExtendGraph(30, 20, 10, -4, graph(), 1);
  EXPECT_EQ(MemImgDrawRotaGraph(2.9f, -3.7f, 1.3, 0.1, graph(), 1, 1), 0);
  MemImgDrawRotaGraph(-0.5f, 100000.75f, 1.3, 0.1, graph(), 0, 0);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "blit target source 5 -6 1 null",
                         "blit target source 7 8 0 blend",
                         "extend target source 30 20 10 -4 1 blend",
                         "rota target source 2 -3 0.1 1.3 1 1 blend",
                         "rota target source 0 100000 0.1 1.3 0 0 blend",
                     }));
}

TEST_F(EntryPointsTest, ModiGraphMapsTheCornersAsTwoTriangles) {
  EXPECT_EQ(MemImgDrawModiGraph(1, 2, 3, 4, 5, 6, 7, 8, graph(), 1), 0);
  SoftBlendGraph = &g_blend;
  EXPECT_EQ(MemImgDrawModiGraphF(2.5f, 3.5f, -2.5f, 0.99f, -0.99f, 7.0f, 1e9f, -3.5f, graph(), 0),
            0);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "poly target source 1 2 0 0 3 4 40 0 5 6 0 30 1 null 0",
                         "poly target source 3 4 40 0 5 6 0 30 7 8 40 30 1 null 0",
                         "poly target source 2 3 0 0 -2 0 40 0 0 7 0 30 0 blend 0",
                         "poly target source -2 0 40 0 0 7 0 30 1000000000 -3 40 30 0 blend 0",
                     }));
}

TEST_F(EntryPointsTest, FlatShapes) {
  MemImgDrawFillBox(9, 8, 1, 2, 0xABCDEF);
  MemImgDrawOval(10, 20, 3, 4, 0x123, 1);
  MemImgDrawOval(-1, -2, 0, 5, 7, 0);
  SoftBlendGraph = &g_blend;
  MemImgDrawTriangle(1, 2, 3, 4, 5, 6, 0x55, 1);
  MemImgDrawQuadrangle(0, 0, 10, 0, 0, 10, 10, 10, 0x66, 1);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "box target 9 8 1 2 11259375",
                         "oval target 10 20 3 4 291 1",
                         "oval target -1 -2 0 5 7 0",
                         "poly target null 1 2 0 0 3 4 0 0 5 6 0 0 0 blend 85",
                         "poly target null 0 0 0 0 10 0 0 0 0 10 0 0 0 blend 102",
                         "poly target null 10 10 0 0 0 10 0 0 10 0 0 0 0 blend 102",
                     }));
}

TEST_F(EntryPointsTest, OutlinesCarryColourAndBlendParameter) {
  MemImgDrawLineBox(10, 10, 11, 11, 0x42);
  MemImgDrawLineBox(2, 3, 8, 6, 9);
  SetDrawBlendMode(2, 200);
  MemImgDrawTriangle(1, 2, 3, 4, 5, 6, 0x55, 0);
  MemImgDrawQuadrangle(0, 1, 2, 3, 4, 5, 6, 7, 0x66, 0);
  EXPECT_EQ(Calls(),
            (std::vector<std::string>{
                "lines target 4 (10,10 10,10 66 77) (10,10 10,10 66 77) (10,10 10,10 66 77)"
                " (10,10 10,10 66 77)",
                "lines target 4 (2,3 7,3 9 77) (7,3 7,5 9 77) (7,5 2,5 9 77) (2,5 2,3 9 77)",
                "lines target 3 (1,2 3,4 85 200) (3,4 5,6 85 200) (5,6 1,2 85 200)",
                "lines target 4 (0,1 2,3 102 200) (2,3 6,7 102 200) (6,7 4,5 102 200)"
                " (4,5 0,1 102 200)",
            }));
}

TEST_F(EntryPointsTest, NothingIsDrawnWithoutTargetOrGraph) {
  SoftDrawTarget = nullptr;
  EXPECT_EQ(MemImgDrawGraph(0, 0, graph(), 0), 0);
  EXPECT_EQ(MemImgDrawFillBox(0, 0, 1, 1, 0), 0);
  EXPECT_EQ(MemImgDrawLineBox(0, 0, 1, 1, 0), 0);
  EXPECT_EQ(MemImgDrawTriangle(0, 0, 1, 1, 2, 2, 0, 1), 0);
  SoftDrawTarget = &g_target;
  EXPECT_EQ(MemImgDrawExtendGraph(0, 0, 1, 1, nullptr, 0), 0);
  EXPECT_EQ(MemImgDrawModiGraph(0, 0, 1, 1, 2, 2, 3, 3, nullptr, 0), 0);
  EXPECT_TRUE(Calls().empty());
}

TEST_F(EntryPointsTest, LineBoxEdgesWrapWithoutOverflow) {
  // x2 - 1 and y2 - 1 at INT_MIN wrap to INT_MAX (an overflow before: undefined behaviour).
  const int kMin = -2147483647 - 1;
  MemImgDrawLineBox(kMin, 5, kMin, kMin, 7);
  MemImgDrawLineBox(0, 0, 2147483647, kMin + 1, 8);
  EXPECT_EQ(Calls(), (std::vector<std::string>{
                         "lines target 4 (-2147483648,5 2147483647,5 7 77)"
                         " (2147483647,5 2147483647,2147483647 7 77)"
                         " (2147483647,2147483647 -2147483648,2147483647 7 77)"
                         " (-2147483648,2147483647 -2147483648,5 7 77)",
                         "lines target 4 (0,0 2147483646,0 8 77)"
                         " (2147483646,0 2147483646,-2147483648 8 77)"
                         " (2147483646,-2147483648 0,-2147483648 8 77)"
                         " (0,-2147483648 0,0 8 77)",
                     }));
}
