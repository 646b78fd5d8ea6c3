// Graphs as device textures, re-filled graphs, 3-D drawing with a graph, and device restore.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/draw3d.h>
#include <qzlib/graphics/light.h>
#include "tests/support/d3d_engine.h"

namespace {

// A 32-bit image of the given masks with seeded pixels; freed with the object.
struct Image {
  BASEIMAGE image{};
  Image(int w, int h, uint32_t alphaMask, uint32_t seed) {
    PIXELFORMAT f{};
    BuildPixelFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, alphaMask);
    EXPECT_EQ(CreateBaseImageOfFormat(w, h, &f, &image), 0);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w * 4; ++x)
        static_cast<uint8_t*>(image.GraphData)[y * image.Pitch + x] = uint8_t(rng());
  }
  ~Image() { ReleaseBaseImage(&image); }
  uint32_t At(int x, int y) const {
    uint32_t v;
    std::memcpy(&v, static_cast<uint8_t*>(image.GraphData) + y * image.Pitch + x * 4, 4);
    return v;
  }
};

std::vector<uint32_t> TexturePixels(int graph) {
  D3DTexture* t = GetGraphTexture(graph);
  return t ? t->Pixels()->Pixels : std::vector<uint32_t>{};
}

using D3DGraphTest = D3DEngineTest;

TEST_F(D3DGraphTest, GraphIsOneTextureOfItsImage) {
  Image rgb(5, 3, 0, 1), alpha(5, 3, 0, 2), argb(5, 3, 0xFF000000, 3);
  const long before = D3DLiveTextureCount();
  const int g = CreateGraphFromImageData(&rgb.image, &alpha.image, 1, 0, 1);
  const int h = CreateGraphFromImageData(&argb.image, nullptr, 1, 0, 1);
  const int k = CreateGraphFromImageData(&rgb.image, nullptr, 1, 0, 1);
  ASSERT_GE(g, 0);
  EXPECT_EQ(D3DLiveTextureCount(), before + 3);
  const D3DTexture* t = GetGraphTexture(g);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Width() * 10 + t->Height(), 53u);
  EXPECT_EQ(t->Pool(), D3DPOOL_MANAGED);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      const uint32_t px = TexturePixels(g)[y * 5 + x];
      EXPECT_EQ(px & 0xFFFFFF, rgb.At(x, y) & 0xFFFFFF);
      EXPECT_EQ(px >> 24, alpha.At(x, y) & 0xFF);  // alpha from the blue channel
      EXPECT_EQ(TexturePixels(h)[y * 5 + x], argb.At(x, y));
      EXPECT_EQ(TexturePixels(k)[y * 5 + x] >> 24, 0xFFu);
    }
  EXPECT_EQ(std::memcmp(GetGraphRecord(g)->HostPixels, TexturePixels(g).data(), 60), 0);
  int w = 0, hh = 0;
  EXPECT_EQ(GetGraphSize(g, &w, &hh), 0);
  EXPECT_EQ(w * 10 + hh, 53);
  EXPECT_EQ(GetGraphSize(DX_SCREEN_FRONT, &w, &hh), 0);
  EXPECT_EQ(w, 640);
  // Re-filled with an image of its own size; another size leaves it alone.
  Image other(5, 3, 0, 9), big(6, 3, 0, 9);
  EXPECT_EQ(ReCreateGraphFromImageData(&other.image, nullptr, g, 1, 0, 1), 0);
  EXPECT_EQ(TexturePixels(g)[7] & 0xFFFFFF, other.At(2, 1) & 0xFFFFFF);
  const std::vector<uint32_t> kept = TexturePixels(g);
  EXPECT_EQ(ReCreateGraphFromImageData(&big.image, nullptr, g, 1, 0, 1), -1);
  EXPECT_EQ(TexturePixels(g), kept);
  EXPECT_EQ(ReCreateGraphFromImageData(&other.image, nullptr, g ^ 0x10000, 1, 0, 1), -1);
  // The size limit is recorded and nothing is split.
  EXPECT_EQ(SetTextureSizeLimit(1, 2), 0);
  int flag, size;
  GetTextureSizeLimit(&flag, &size);
  EXPECT_EQ(flag * 10 + size, 12);
  EXPECT_EQ(CreateGraphFromImageData(&big.image, nullptr, 1, 0, 1) >= 0, true);
  // A blend graph is a software-renderer feature; drawing into a graph is refused.
  EXPECT_EQ(SetBlendGraph(g, 0, 0), -1);
  EXPECT_EQ(SetDrawScreen(g), -1);
  EXPECT_EQ(DeleteGraph(g), 0);
  EXPECT_EQ(DeleteGraph(g), -1);
  EXPECT_EQ(GetGraphTexture(g), nullptr);
}

TEST_F(D3DGraphTest, FailuresLeaveNothing) {
  Image rgb(4, 4, 0, 5);
  const long textures = D3DLiveTextureCount();
  EXPECT_EQ(ForEachAllocationFailure([&] {
              const int g = CreateGraphFromImageData(&rgb.image, nullptr, 1, 0, 1);
              if (g < 0) return false;
              DeleteGraph(g);
              return true;
            }),
            2);
  for (int hook = 0; hook < 2; ++hook) {
    if (hook == 0) D3DStandIn().FailCreationAt = 1;
    else D3DStandIn().FailLockAt = 1;
    EXPECT_EQ(CreateGraphFromImageData(&rgb.image, nullptr, 1, 0, 1), -1);
    EXPECT_EQ(D3DLiveTextureCount(), textures);
  }
  const int g = CreateGraphFromImageData(&rgb.image, nullptr, 1, 0, 1);
  Image other(4, 4, 0, 6);
  D3DStandIn().FailLockAt = 1;
  const std::vector<uint32_t> kept = TexturePixels(g);
  EXPECT_EQ(ReCreateGraphFromImageData(&other.image, nullptr, g, 1, 0, 1), -1);
  EXPECT_EQ(TexturePixels(g), kept);
  EXPECT_EQ(std::memcmp(GetGraphRecord(g)->HostPixels, kept.data(), 64), 0);
  // A "BGRA" file in memory.
  std::vector<uint8_t> file = {'B', 'G', 'R', 'A', 2, 0, 0, 0, 1, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
  const int f = CreateGraphFromImageFile(file.data(), file.size(), 0, 0, 1, 0);
  ASSERT_GE(f, 0);
  EXPECT_EQ(TexturePixels(f), (std::vector<uint32_t>{0x04030201, 0x08070605}));
  file[12] = 9;
  std::vector<uint8_t> wide = file;
  wide[4] = 3;
  EXPECT_EQ(ReCreateGraphFromImageFile(wide.data(), wide.size(), f, 0, 0, 1, 0), -1);
  EXPECT_EQ(ReCreateGraphFromImageFile(file.data(), file.size(), f, 0, 0, 1, 0), 0);
  EXPECT_EQ(TexturePixels(f)[0], 0x04030209u);
}

TEST_F(D3DGraphTest, ThreeDimensionalDrawingWithAGraph) {
  Image rgb(2, 2, 0, 7);
  const int g = CreateGraphFromImageData(&rgb.image, nullptr, 1, 0, 1);
  const UnlitVertex3D v[3] = {{{0, 0, 0}, {1, 2, 3, 4}, 0, 0},
                              {{1, 0, 0}, {1, 2, 3, 4}, 1, 0},
                              {{0, 1, 0}, {1, 2, 3, 4}, 0, 1}};
  Dev()->ClearRecord();
  EXPECT_EQ(DrawLine3DBase(v, 3, D3DPT_TRIANGLELIST, g, 1), 0);
  ASSERT_EQ(Dev()->Draws().size(), 1u);
  const D3DStageSnapshot& s0 = Dev()->Draws()[0].Stages[0];
  EXPECT_EQ(s0.TextureId, GetGraphTexture(g)->Id());
  EXPECT_EQ(s0.States[D3DTSS_COLOROP], uint32_t(D3DTOP_MODULATE));
  EXPECT_EQ(s0.States[D3DTSS_ALPHAARG1], uint32_t(D3DTA_TEXTURE));
  EXPECT_EQ(Dev()->Draws()[0].Stages[1].States[D3DTSS_COLOROP], uint32_t(D3DTOP_DISABLE));
  EXPECT_EQ(DrawLine3DBase(v, 3, D3DPT_TRIANGLELIST, g + 1, 1), -1);
  EXPECT_EQ(DrawLine3DBase(v, 3, 5, DX_NONE_GRAPH, 1), -1);
  EXPECT_EQ(DrawLine3DBase(v, 2, D3DPT_TRIANGLELIST, DX_NONE_GRAPH, 1), 0);  // no whole triangle
  EXPECT_EQ(Dev()->Draws().size(), 1u);
  // Blend states by mode; SUB subtracts the source from what is drawn.
  struct Case {
    int mode;
    uint32_t enable, src, dest, op;
  };
  const Case cases[] = {{BLENDMODE::ALPHA, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1},
                        {BLENDMODE::INVSRC, 1, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1},
                        {BLENDMODE::ADD, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 1},
                        {BLENDMODE::SUB, 1, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT},
                        {BLENDMODE::MUL, 1, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 1},
                        {BLENDMODE::MULA, 1, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 1},
                        {BLENDMODE::NOBLEND, 0, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 1}};
  for (const Case& c : cases) {
    SetDrawBlendMode(c.mode, 100);
    DrawLine3DBase(v, 2, D3DPT_LINELIST, DX_NONE_GRAPH, 1);
    const uint32_t* rs = Dev()->Draws().back().RenderStates;
    EXPECT_EQ(rs[D3DRS_ALPHABLENDENABLE], c.enable) << c.mode;
    EXPECT_EQ(rs[D3DRS_SRCBLEND], c.src) << c.mode;
    EXPECT_EQ(rs[D3DRS_DESTBLEND], c.dest) << c.mode;
    EXPECT_EQ(rs[D3DRS_BLENDOP], c.op) << c.mode;
  }
}

int g_hookCalls[3];
int HookTerminate() { return ++g_hookCalls[0], 0; }
int HookSetup() { return ++g_hookCalls[1] * 0; }
int HookTextures() { return ++g_hookCalls[2] * 0; }

TEST_F(D3DGraphTest, DeviceLossRestoresEverything) {
  Image a(3, 2, 0, 11), b(4, 4, 0xFF000000, 12);
  const int ga = CreateGraphFromImageData(&a.image, nullptr, 1, 0, 1);
  const int gb = CreateGraphFromImageData(&b.image, nullptr, 1, 0, 1);
  const std::vector<uint32_t> pa = TexturePixels(ga), pb = TexturePixels(gb);
  CreatePointLightHandle(VECTOR{1, 2, 3}, 100, 1, 0, 0);
  const int off = CreateDirLightHandle(VECTOR{0, 0, 1});
  SetLightEnableHandle(off, 0);
  SetupCameraOrtho(300);
  SetCameraPositionAndTargetUpVecY(VECTOR{0, 100, -100}, VECTOR{0, 0, 0});
  DrawSphere3D(VECTOR{}, 10, 2, 0xFFFFFF, 0, 1);  // lights and states sent
  SetZBufferEnable(1);
  SetSamplerFilter(2, 16, D3DTEXF_LINEAR);
  const MATRIX projection = ViewMatrices.Projection;
  const MATRIX view = ViewMatrices.View;
  const long textures = D3DLiveTextureCount();
  ModelDeviceHooks hooks = {HookTerminate, HookSetup, HookTextures};
  SetModelDeviceHooks(&hooks);
  std::memset(g_hookCalls, 0, sizeof g_hookCalls);
  const uint32_t ambient = Dev()->RenderState(D3DRS_AMBIENT);
  const uint32_t cull = Dev()->RenderState(D3DRS_CULLMODE);
  const uint32_t oldId = Dev()->Id();
  D3DDevice::SimulateDeviceLoss();
  SetModelDeviceHooks(nullptr);
  ASSERT_NE(Dev(), nullptr);
  EXPECT_NE(Dev()->Id(), oldId);
  // The caches' states went to the new device once each.
  EXPECT_EQ(Dev()->RenderState(D3DRS_AMBIENT), ambient);
  EXPECT_EQ(Dev()->RenderState(D3DRS_CULLMODE), cull);
  EXPECT_EQ(Dev()->SamplerState(2, D3DSAMP_MAGFILTER), uint32_t(D3DTEXF_LINEAR));
  EXPECT_EQ(Dev()->Material().Power, 20.0f);
  EXPECT_EQ(DeviceState.ForceResend, 1);
  uint32_t renderStatesSent[D3DRS_COUNT] = {};
  for (const D3DCall& c : Dev()->Calls())
    if (c.Method == D3DMethod::SetRenderState) ++renderStatesSent[c.Args[0]];
  for (uint32_t n : renderStatesSent) EXPECT_LE(n, 1u);
  EXPECT_EQ(renderStatesSent[D3DRS_ZENABLE], 1u);
  EXPECT_EQ(g_hookCalls[0] * 100 + g_hookCalls[1] * 10 + g_hookCalls[2], 111);
  EXPECT_EQ(D3DLiveTextureCount(), textures);
  EXPECT_EQ(TexturePixels(ga), pa);
  EXPECT_EQ(TexturePixels(gb), pb);
  EXPECT_EQ(Camera.ProjectionMode, 1);
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_PROJECTION), &projection, sizeof projection), 0);
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_VIEW), &view, sizeof view), 0);
  SetCameraNearFar(1, 500);  // mode 1 still rebuilds
  EXPECT_NE(std::memcmp(&ViewMatrices.Projection, &projection, sizeof projection), 0);
  // The next draw re-sends what it sets (forced); after it the caches hold again.
  Dev()->ClearRecord();
  DrawSphere3D(VECTOR{}, 10, 2, 0xFFFFFF, 0, 1);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetFVF), 1u);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetLight), 2u);  // default light and the point light
  EXPECT_EQ(Dev()->Draws().back().Lights.size(), 2u);
  EXPECT_EQ(Dev()->Draws().back().Material.Power, 20.0f);
  EXPECT_EQ(DeviceState.ForceResend, 0);
  Dev()->ClearRecord();
  SetZBufferEnable(1);
  SetSamplerFilter(2, 16, D3DTEXF_LINEAR);
  DrawSphere3D(VECTOR{}, 10, 2, 0xFFFFFF, 0, 1);
  EXPECT_EQ(Dev()->StateCallCount(), 0u);
  EXPECT_EQ(GetGraphSize(ga, nullptr, nullptr), 0);
}

TEST(SoftwareGraphTest, ReCreateKeepsTheHandleAndChecksTheSize) {
  SetGraphMode(64, 48, 32);
  ASSERT_EQ(InitLibrary(), 0);
  Image a(3, 2, 0, 1), b(3, 2, 0, 2), c(2, 3, 0, 3);
  const int g = CreateGraphFromImageData(&a.image, nullptr, 1, 0, 1);
  ASSERT_EQ(SetDrawScreen(g), 0);
  EXPECT_EQ(ReCreateGraphFromImageData(&b.image, nullptr, g, 1, 0, 1), 0);
  const GRAPH_RECORD* r = GetGraphRecord(g);
  uint32_t px;
  std::memcpy(&px, r->Image.Pixels + r->Image.Base->Pitch + 8, 4);
  EXPECT_EQ(px & 0xFFFFFF, b.At(2, 1) & 0xFFFFFF);
  EXPECT_EQ(SoftDrawTarget, &r->Image);
  EXPECT_EQ(ReCreateGraphFromImageData(&c.image, nullptr, g, 1, 0, 1), -1);
  // Drawing into a graph places the view for the graph's size.
  EXPECT_EQ(ViewMatrices.Viewport.m[3][0], 1.0f);
  EndLibrary();
  SetGraphMode(640, 480, 32);
}

}  // namespace
