// Software graphs: the handle table, surface formats, the blend graph, the draw screen and the
// software screen made at graphics start.
#include <qzlib/graphics/graph.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <vector>

#include <qzlib/base/fatal_error.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/soft/blend_tables.h>
#include "tests/support/model_files.h"
#include "tests/support/test_support.h"

namespace {

// A BASEIMAGE of the given masks with pixels from a seed; freed with the object.
struct TestImage {
  BASEIMAGE image{};
  TestImage(int w, int h, int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a,
            uint32_t seed) {
    PIXELFORMAT f{};
    BuildPixelFormatFromMasks(&f, depth, r, g, b, a);
    std::mt19937 rng(seed);
    for (auto& e : f.Palette) e = COLOR_U8{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    EXPECT_EQ(CreateBaseImageOfFormat(w, h, &f, &image), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * f.PixelByte; ++x)
        static_cast<uint8_t*>(image.GraphData)[y * image.Pitch + x] = uint8_t(rng());
  }
  ~TestImage() { ReleaseBaseImage(&image); }
  uint32_t get(int x, int y) const {
    uint32_t v = 0;
    std::memcpy(
        &v,
        static_cast<uint8_t*>(image.GraphData) + y * image.Pitch + x * image.ColorData.PixelByte,
        image.ColorData.PixelByte);
    return v;
  }
};

TestImage Xrgb(int w, int h, uint32_t seed) {
  return TestImage(w, h, 32, 0xFF0000, 0xFF00, 0xFF, 0, seed);
}

uint32_t Get(const MEMIMG* m, int x, int y) {
  int bpp = m->Base->ColorFormat->PixelByte;
  uint32_t v = 0;
  std::memcpy(&v, m->Pixels + int64_t(y) * m->Base->Pitch + x * bpp, bpp);
  return v;
}

// A "BGRA" file in memory: magic, width, height, then B, G, R, A bytes.
std::vector<uint8_t> BgraFile(int w, int h) {
  std::vector<uint8_t> f = {'B', 'G', 'R', 'A'};
  for (uint32_t v : {uint32_t(w), uint32_t(h)})
    for (int i = 0; i < 4; ++i) f.push_back(uint8_t(v >> (8 * i)));
  for (int i = 0; i < w * h; ++i)
    for (int c = 0; c < 4; ++c) f.push_back(uint8_t(i * 4 + c));
  return f;
}

class GraphTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    Start(32);
  }
  void TearDown() override {
    TerminateGraphics();
    SetGraphMode(640, 480, 32);
    LeakCheckedTest::TearDown();
  }
  void Start(int depth) {
    TerminateGraphics();
    SetGraphMode(64, 48, depth);
    UseDirect3DFlag = 0;
    ASSERT_EQ(InitGraphics(), 0);
  }
};

}  // namespace

TEST_F(GraphTest, GraphicsStartMakesTheSoftwareScreen) {
  MEMIMG* screen = GetSoftScreenMemImg();
  ASSERT_TRUE(CheckValidMemImg(screen));
  EXPECT_EQ(SoftDrawTarget, screen);
  EXPECT_EQ(screen->Width, 64);
  EXPECT_EQ(screen->Height, 48);
  EXPECT_EQ(screen->Base->Format, 1);
  EXPECT_EQ(Get(screen, 63, 47), 0u);
  EXPECT_EQ(DrawArea.right, 64);
  EXPECT_EQ(DrawArea.bottom, 48);
  EXPECT_EQ(MemImgBlendTables.Multiply[255][77], 77);
  EXPECT_EQ(InitGraphics(), -1);  // already running
  TerminateGraphics();
  // The screen's two blocks fail with -1; the default light's record ends the program.
  EXPECT_EQ(ForEachAllocationFailure([] {
              FatalErrorCatcher fatal;
              try {
                if (InitGraphics() != 0) return false;
              } catch (const FatalErrorThrown&) {
                TerminateGraphics();
                return false;
              }
              TerminateGraphics();
              return true;
            }),
            3);
  Start(16);
  EXPECT_EQ(GetSoftScreenMemImg()->Base->Format, 0);
  int w = 0, h = 0;
  EXPECT_EQ(GetGraphSize(DX_SCREEN_BACK, &w, &h), 0);
  EXPECT_EQ(w * 1000 + h, 64048);
  EXPECT_EQ(GetGraphSize(DX_SCREEN_FRONT, nullptr, &h), 0);
  // Graphs left at the end go with graphics (the leak check covers it).
  TestImage img = Xrgb(3, 3, 1);
  EXPECT_GE(CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1), 0);
}

TEST_F(GraphTest, StaleAndForgedHandlesFail) {
  TestImage img = Xrgb(5, 4, 2);
  int a = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
  int b = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
  ASSERT_GE(a, 0);
  EXPECT_EQ(a & 0x78000000, GRAPH_HANDLE_KIND);
  EXPECT_EQ(((b >> 16) & 0x7FF), (((a >> 16) & 0x7FF) + 1) & 0x7FF);
  int w = 0, h = 0;
  ASSERT_EQ(GetGraphSize(a, &w, &h), 0);
  EXPECT_EQ(w * 10 + h, 54);
  const int forged[] = {
      a ^ (1 << 16),                       // check number changed
      a ^ (0x400 << 16),                   // top bit of the check number
      (a & ~0x78000000) | 0x10000000,      // another kind
      (a & ~0xFFFF) | 0x8000,              // index beyond the table
      (a & ~0xFFFF) | ((a + 2) & 0x7FFF),  // an empty slot
      -1,
      -3,
      int(a | 0x80000000u),
      0,
  };
  for (int f : forged) {
    EXPECT_EQ(GetGraphSize(f, &w, &h), -1) << std::hex << f;
    EXPECT_EQ(DeleteGraph(f), -1) << std::hex << f;
    if (f != -1) {  // -1 means no blend graph
      EXPECT_EQ(SetBlendGraph(f, 10, 10), -1) << std::hex << f;
    }
    EXPECT_EQ(SetDrawScreen(f), -1) << std::hex << f;
    EXPECT_EQ(GetGraphRecord(f), nullptr);
  }
  EXPECT_EQ(SoftDrawTarget, GetSoftScreenMemImg());
  EXPECT_EQ(SoftBlendGraph, nullptr);
  EXPECT_EQ(DeleteGraph(a), 0);
  EXPECT_EQ(GetGraphSize(a, &w, &h), -1);  // deleted
  EXPECT_EQ(DeleteGraph(a), -1);
  EXPECT_EQ(SetDrawScreen(a), -1);
  EXPECT_EQ(GetGraphSize(b, &w, &h), 0);
}

TEST_F(GraphTest, CheckNumbersWrapAfter2047) {
  TestImage img = Xrgb(1, 1, 3);
  int first = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
  int prev = first;
  for (int i = 0; i < 2048; ++i) {
    DeleteGraph(prev);
    int h = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
    ASSERT_EQ((h >> 16) & 0x7FF, (((prev >> 16) & 0x7FF) + 1) & 0x7FF);
    ASSERT_EQ(GetGraphSize(prev, nullptr, nullptr), -1);
    prev = h;
  }
  EXPECT_EQ((prev >> 16) & 0x7FF, (first >> 16) & 0x7FF);  // the counter came round
  EXPECT_NE(prev, first);                                  // in another slot
  EXPECT_EQ(GetGraphSize(first, nullptr, nullptr), -1);
}

TEST_F(GraphTest, SurfaceFollowsScreenDepthAlphaAndPalette) {
  TestImage xrgb = Xrgb(6, 5, 4);
  TestImage argb(6, 5, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 5);
  TestImage pal(6, 5, 8, 0xFF0000, 0xFF00, 0xFF, 0, 6);
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) Start(16);
    const int format = pass == 0 ? 1 : 0;
    GRAPH_RECORD* g = GetGraphRecord(CreateGraphFromImageData(&xrgb.image, nullptr, 1, 0, 1));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->Image.Base->Format, format);
    EXPECT_EQ(g->Image.Base->AlphaFlag + g->Image.Base->PaletteFlag, 0);
    EXPECT_EQ(g->Image.Base->RunMapValid, 1);
    uint32_t v = xrgb.get(2, 3);
    uint32_t want =
        format == 1 ? v : (((v >> 19) & 31) << 11) | (((v >> 10) & 63) << 5) | ((v >> 3) & 31);
    EXPECT_EQ(Get(&g->Image, 2, 3) & (format == 1 ? 0xFFFFFF : 0xFFFF),
              want & (format == 1 ? 0xFFFFFF : 0xFFFF));

    GRAPH_RECORD* ga = GetGraphRecord(CreateGraphFromImageData(&argb.image, nullptr, 1, 0, 1));
    ASSERT_NE(ga, nullptr);
    EXPECT_EQ(ga->Image.Base->AlphaFlag, 1);
    EXPECT_EQ(ga->Image.Base->PremulValid, 1);
    GRAPH_RECORD* gx = GetGraphRecord(CreateGraphFromImageData(&xrgb.image, &argb.image, 1, 0, 1));
    ASSERT_NE(gx, nullptr);
    EXPECT_EQ(gx->Image.Base->AlphaFlag, 1);
    uint32_t alpha =
        format == 1 ? Get(&gx->Image, 4, 1) >> 24 : (Get(&gx->Image, 4, 1) >> 16) & 255;
    EXPECT_EQ(alpha, argb.get(4, 1) & 255);  // the alpha image's blue channel
    GRAPH_RECORD* gp = GetGraphRecord(CreateGraphFromImageData(&pal.image, nullptr, 1, 0, 1));
    ASSERT_NE(gp, nullptr);
    EXPECT_EQ(gp->Image.Base->PaletteFlag, 1);
    EXPECT_EQ(Get(&gp->Image, 5, 4), pal.get(5, 4));
    // A palettised image with an alpha image becomes a direct surface with alpha.
    GRAPH_RECORD* gpa = GetGraphRecord(CreateGraphFromImageData(&pal.image, &argb.image, 1, 0, 1));
    ASSERT_NE(gpa, nullptr);
    EXPECT_EQ(gpa->Image.Base->PaletteFlag, 0);
    EXPECT_EQ(gpa->Image.Base->AlphaFlag, 1);
  }
  EXPECT_EQ(CreateGraphFromImageData(nullptr, nullptr, 1, 0, 1), -1);
  TestImage small = Xrgb(2, 2, 7);
  EXPECT_EQ(CreateGraphFromImageData(&xrgb.image, &small.image, 1, 0, 1), -1);  // alpha too small
}

TEST_F(GraphTest, GraphFromImageFile) {
  std::vector<uint8_t> file = BgraFile(3, 2);
  int h = CreateGraphFromImageFile(file.data(), file.size(), 0, 0, 1, 0);
  GRAPH_RECORD* g = GetGraphRecord(h);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->Width * 10 + g->Height, 32);
  EXPECT_EQ(Get(&g->Image, 1, 1), 0x13121110u);  // pixel 4: bytes 16, 17, 18, 19
  EXPECT_EQ(CreateGraphFromImageFile(file.data(), 7, 0, 0, 1, 0), -1);
  EXPECT_EQ(CreateGraphFromImageFile(nullptr, 0, 0, 0, 1, 0), -1);
}

TEST_F(GraphTest, EveryAllocationFailureLeavesNothing) {
  TestImage xrgb = Xrgb(4, 4, 8);
  TestImage argb(4, 4, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 9);
  std::vector<uint8_t> file = BgraFile(4, 4);
  for (int kind = 0; kind < 3; ++kind) {
    int points = ForEachAllocationFailure([&] {
      int h = kind == 0   ? CreateGraphFromImageData(&xrgb.image, nullptr, 1, 0, 1)
              : kind == 1 ? CreateGraphFromImageData(&argb.image, nullptr, 1, 0, 1)
                          : CreateGraphFromImageFile(file.data(), file.size(), 0, 0, 1, 0);
      if (h < 0) return false;
      return DeleteGraph(h) == 0;
    });
    EXPECT_GE(points, kind == 1 ? 5 : 4) << "kind " << kind;
  }
  int h = CreateGraphFromImageData(&xrgb.image, nullptr, 1, 0, 1);
  int points = ForEachAllocationFailure([&] {
    int r = SetBlendGraph(h, 0, 0);
    if (r != 0) {
      EXPECT_EQ(SoftBlendGraph, nullptr);
      return false;
    }
    return true;
  });
  EXPECT_EQ(points, 2);
}

TEST_F(GraphTest, BlendGraphIsTheBlueChannel) {
  TestImage xrgb = Xrgb(7, 3, 10);
  int h = CreateGraphFromImageData(&xrgb.image, nullptr, 1, 0, 1);
  ASSERT_EQ(SetBlendGraph(h, 300, -4), 0);
  GRAPH_RECORD* g = GetGraphRecord(h);
  ASSERT_EQ(SoftBlendGraph, &g->BlendImage);
  EXPECT_EQ(SoftBlendGraph->Base->Format, 2);
  EXPECT_EQ(SoftBlendGraph->Width * 10 + SoftBlendGraph->Height, 73);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) ASSERT_EQ(Get(SoftBlendGraph, x, y), xrgb.get(x, y) & 255);
  std::vector<uint8_t> table(MemImgBlendGraphTable, MemImgBlendGraphTable + 256);
  MakeMemImgBlendGraphTable(255, 0);
  EXPECT_EQ(table, std::vector<uint8_t>(MemImgBlendGraphTable, MemImgBlendGraphTable + 256));
  // Drawn into since: the next call shows the new pixels.
  ClearMemImg(&g->Image, nullptr, 0x00000080);
  ASSERT_EQ(SetBlendGraph(h, 0, 0), 0);
  EXPECT_EQ(Get(SoftBlendGraph, 6, 2), 0x80u);
  EXPECT_EQ(MemImgBlendGraphTable[0], 255);
  ASSERT_EQ(SetBlendGraph(-1, 255, 255), 0);
  EXPECT_EQ(SoftBlendGraph, nullptr);
  EXPECT_EQ(MemImgBlendGraphTable[255], 1);

  // 16-bit surfaces: the 5-bit blue widened to 8 bits; palettised ones through the palette.
  Start(16);
  TestImage pal(5, 2, 8, 0xFF0000, 0xFF00, 0xFF, 0, 11);
  int hp = CreateGraphFromImageData(&pal.image, nullptr, 1, 0, 1);
  int hx = CreateGraphFromImageData(&xrgb.image, nullptr, 1, 0, 1);
  ASSERT_EQ(SetBlendGraph(hp, 1, 1), 0);
  for (int x = 0; x < 5; ++x) {
    uint32_t b5 = pal.image.ColorData.Palette[pal.get(x, 1)].b >> 3;
    ASSERT_EQ(Get(SoftBlendGraph, x, 1), (b5 * 255 + 15) / 31) << x;
  }
  ASSERT_EQ(SetBlendGraph(hx, 1, 1), 0);
  ClearMemImg(&GetGraphRecord(hx)->Image, nullptr, 0x001F);
  ASSERT_EQ(SetBlendGraph(hx, 1, 1), 0);
  EXPECT_EQ(Get(SoftBlendGraph, 0, 0), 255u);
  ClearMemImg(&GetGraphRecord(hx)->Image, nullptr, 0xFFF0);
  ASSERT_EQ(SetBlendGraph(hx, 1, 1), 0);
  EXPECT_EQ(Get(SoftBlendGraph, 0, 0), 132u);  // 16 of 31
}

TEST_F(GraphTest, DrawScreenAndDeletion) {
  TestImage img = Xrgb(9, 7, 12);
  int a = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
  int b = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
  ASSERT_EQ(SetDrawScreen(a), 0);
  EXPECT_EQ(SoftDrawTarget, &GetGraphRecord(a)->Image);
  EXPECT_EQ(DrawArea.right * 10 + DrawArea.bottom, 97);
  ASSERT_EQ(SetBlendGraph(b, 5, 5), 0);
  // Deleting another graph changes neither.
  int c = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
  EXPECT_EQ(DeleteGraph(c), 0);
  EXPECT_EQ(SoftDrawTarget, &GetGraphRecord(a)->Image);
  EXPECT_EQ(SoftBlendGraph, &GetGraphRecord(b)->BlendImage);
  EXPECT_EQ(DeleteGraph(b), 0);
  EXPECT_EQ(SoftBlendGraph, nullptr);
  EXPECT_EQ(DeleteGraph(a), 0);
  EXPECT_EQ(SoftDrawTarget, GetSoftScreenMemImg());
  EXPECT_EQ(DrawArea.right * 100 + DrawArea.bottom, 6448);
  ASSERT_EQ(SetDrawScreen(DX_SCREEN_FRONT), 0);
  ASSERT_EQ(SetDrawScreen(DX_SCREEN_BACK), 0);
  EXPECT_EQ(SoftDrawTarget, GetSoftScreenMemImg());
  TerminateGraphics();
  EXPECT_EQ(SetDrawScreen(DX_SCREEN_BACK), -1);  // no screen
  EXPECT_EQ(SoftDrawTarget, nullptr);
}

TEST_F(GraphTest, FullTableEndsTheProgram) {
  TestImage img = Xrgb(1, 1, 13);
  std::vector<int> handles;
  for (int i = 0; i < GRAPH_HANDLE_MAX; ++i) {
    int h = CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1);
    ASSERT_GE(h, 0) << i;
    handles.push_back(h);
  }
  SetFatalErrorHook([](const char* message) { throw std::runtime_error(message); });
  EXPECT_THROW(CreateGraphFromImageData(&img.image, nullptr, 1, 0, 1), std::runtime_error);
  // the graphs of model textures are refused instead, and a file whose image decodes is too
  const std::vector<uint8_t> file = BgraFileFilled(2, 2, 0xFF00FF00);
  EXPECT_EQ(CreateModelTextureGraph(&img.image, nullptr), -1);
  EXPECT_EQ(CreateModelTextureGraphFromFile(file.data(), file.size()), -1);
  SetFatalErrorHook(nullptr);
  // one slot given back: each kind takes it
  DeleteGraph(handles.back());
  handles.pop_back();
  int h = CreateModelTextureGraphFromFile(file.data(), file.size());
  ASSERT_GE(h, 0);
  EXPECT_EQ(GetGraphSize(h, nullptr, nullptr), 0);
  DeleteGraph(h);
  EXPECT_GE(CreateModelTextureGraph(&img.image, nullptr), 0);
}
