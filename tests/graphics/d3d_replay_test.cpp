// The snapshot replayer: recorded 3-D draws become pixels where the view puts them.
#include "tests/support/d3d_replay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/draw3d.h>
#include "tests/support/d3d_engine.h"

namespace {

using ReplayTest = D3DEngineTest;

uint32_t PixelAt(const MEMIMG* m, int x, int y) {
  uint32_t v;
  std::memcpy(&v, m->Pixels + size_t(y) * m->Base->Pitch + size_t(x) * 4, 4);
  return v & 0xFFFFFF;
}

TEST_F(ReplayTest, ShapesLandWhereTheViewPutsThem) {
  SetCullMode(1);
  Dev()->ClearRecord();
  // The draw-screen view: world (x, y, 0) is pixel (x, 480 - y).
  DrawSphere3D(VECTOR{100, 380, 0}, 30, 8, GetColor(255, 255, 255), 0, 1);
  DrawLine3D(VECTOR{400, 100, 0}, VECTOR{600, 100, 0}, GetColor(0, 255, 0));
  MEMIMG picture{};
  ASSERT_EQ(MakeMemImg(&picture, 640, 480, 1), 0);
  ClearMemImg(&picture, nullptr, 0);
  const ReplayStats s = ReplayDraws(Dev()->Draws(), &picture);
  EXPECT_GT(s.Triangles, 0);
  EXPECT_GT(s.Culled, 0);  // the far side of the sphere
  EXPECT_EQ(s.Lines, 1);
  EXPECT_NE(PixelAt(&picture, 100, 100), 0u);
  EXPECT_EQ(PixelAt(&picture, 100, 140), 0u);
  EXPECT_EQ(PixelAt(&picture, 500, 380), 0x00FF00u);
  EXPECT_EQ(PixelAt(&picture, 320, 240), 0u);
  // A moved screen centre moves the picture.
  SetCameraDotScreenCenter(220, 240);
  Dev()->ClearRecord();
  DrawLine3D(VECTOR{400, 100, 0}, VECTOR{600, 100, 0}, GetColor(0, 0, 255));
  ReplayDraws(Dev()->Draws(), &picture);
  EXPECT_EQ(PixelAt(&picture, 400, 380), 0x0000FFu);
  // Behind the eye: dropped.
  Dev()->ClearRecord();
  DrawTriangle3D(VECTOR{0, 0, -900}, VECTOR{9, 0, -900}, VECTOR{0, 9, -900}, 0xFFFFFF, 1);
  EXPECT_EQ(ReplayDraws(Dev()->Draws(), &picture).Clipped, 1);
  TerminateMemImg(&picture);
}

// One lit, textured triangle in clip space (identity matrices) over a white texture, its
// material colour (0.5, 0.25, 1) fully lit by a light along its normal.
D3DDrawSnapshot LitTexturedTriangle() {
  D3DDrawSnapshot s{};
  s.PrimitiveType = D3DPT_TRIANGLELIST;
  s.PrimitiveCount = 1;
  s.VertexCount = 3;
  s.Fvf = D3DFVF_XYZ | D3DFVF_NORMAL | 1u << D3DFVF_TEXCOUNT_SHIFT;  // one UV set
  s.Stride = 32;
  const float v[3][8] = {{-0.5f, -0.5f, 0.5f, 0, 0, -1, 0, 1},
                         {0, 0.5f, 0.5f, 0, 0, -1, 0.5f, 0},
                         {0.5f, -0.5f, 0.5f, 0, 0, -1, 1, 1}};
  s.Vertices.resize(sizeof v);
  std::memcpy(s.Vertices.data(), v, sizeof v);
  for (MATRIX* m : {&s.World, &s.View, &s.Projection})
    for (int i = 0; i < 4; ++i) m->m[i][i] = 1;
  s.Material.Diffuse = COLOR_F{0.5f, 0.25f, 1, 1};
  D3DLight light{};
  light.Type = 3;
  light.Diffuse = COLOR_F{1, 1, 1, 1};
  light.Direction = VECTOR{0, 0, 1};
  s.Lights.push_back({0, light});
  s.RenderStates[D3DRS_LIGHTING] = 1;
  auto tex = std::make_shared<D3DTexturePixels>();
  tex->Width = tex->Height = 2;
  tex->Pixels.assign(4, 0xFFFFFFFFu);
  s.Stages[0].Texture = tex;
  return s;
}

TEST_F(ReplayTest, TexturesKeepTheirColoursUnlessLit) {
  MEMIMG picture{};
  ASSERT_EQ(MakeMemImg(&picture, 64, 64, 1), 0);
  const std::vector<D3DDrawSnapshot> draws{LitTexturedTriangle()};
  EXPECT_EQ(ReplayDraws(draws, &picture).Triangles, 1);
  EXPECT_EQ(PixelAt(&picture, 32, 32), 0xFFFFFFu);
  ClearMemImg(&picture, nullptr, 0);
  ReplayDraws(draws, &picture, true);
  const uint32_t lit = PixelAt(&picture, 32, 32);
  EXPECT_NEAR(int(lit >> 16), 128, 2);
  EXPECT_NEAR(int((lit >> 8) & 255), 64, 2);
  EXPECT_NEAR(int(lit & 255), 255, 2);
  EXPECT_EQ(DrawBright, 0xFFFFFFu);  // restored
  TerminateMemImg(&picture);
}

}  // namespace
