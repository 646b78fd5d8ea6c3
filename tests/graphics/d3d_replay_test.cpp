// The snapshot replayer: recorded 3-D draws become pixels where the view puts them.
#include "examples/support/d3d_replay.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/draw3d.h>
#include "tests/support/d3d_engine.h"

namespace {

using ReplayTest = D3DEngineTest;

// r, g, b (0..255) packed in a surface format: 0x00RRGGBB, or 5:6:5.
uint32_t SurfaceColor(int format, const int rgb[3]) {
  if (format == 1) return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | uint32_t(rgb[2]);
  return uint32_t(rgb[0] >> 3) << 11 | uint32_t(rgb[1] >> 2) << 5 | uint32_t(rgb[2] >> 3);
}

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

// One lit, textured triangle in clip space (identity matrices) covering the target's centre,
// its material colour (0.5, 0.25, 1) fully lit by a light along its normal; a 2 x 2 texture of
// one texel value, stage 0 as the device starts it (colour: texture times diffuse; alpha: the
// texture's), blending off.
D3DDrawSnapshot LitTexturedTriangle(uint32_t texel) {
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
  s.RenderStates[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  auto tex = std::make_shared<D3DTexturePixels>();
  tex->Width = tex->Height = 2;
  tex->Pixels.assign(4, texel);
  s.Stages[0].Texture = tex;
  uint32_t* st = s.Stages[0].States;
  st[D3DTSS_COLOROP] = D3DTOP_MODULATE, st[D3DTSS_COLORARG1] = D3DTA_TEXTURE, st[D3DTSS_COLORARG2] = D3DTA_CURRENT;
  st[D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1, st[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE, st[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
  for (int k = 1; k < D3D_STAGE_COUNT; ++k) s.Stages[k].States[D3DTSS_COLOROP] = s.Stages[k].States[D3DTSS_ALPHAOP] = D3DTOP_DISABLE;
  return s;
}

// The centre pixel of a 32-bit or 16-bit (5:6:5) picture as 8-bit r, g, b.
void CentreRgb(const MEMIMG* m, int rgb[3]) {
  const uint8_t* p = m->Pixels + size_t(m->Height / 2) * m->Base->Pitch + size_t(m->Width / 2) * MemImgBytesPerPixel(m);
  if (m->Base->Format == MEMIMG_FORMAT_XRGB8) {
    rgb[0] = p[2], rgb[1] = p[1], rgb[2] = p[0];
  } else {
    const int v = p[0] | p[1] << 8;
    rgb[0] = ((v >> 11) & 31) * 255 / 31, rgb[1] = ((v >> 5) & 63) * 255 / 63, rgb[2] = (v & 31) * 255 / 31;
  }
}

// Stage 0 as recorded decides the colour and the alpha of a textured triangle: the texture alone
// (select), or times the lit colour (modulate); the texel alpha blends only where the alpha stage
// reads the texture and the blend reads the source alpha. Each case is checked against the blend
// rule worked out by hand: background + (texel x lit - background) x alpha, over a 32-bit and a
// 16-bit picture.
TEST_F(ReplayTest, TexturedTrianglesFollowStageZeroColourAndAlpha) {
  const int bg[3] = {0, 200, 40};
  const float lit[3] = {0.5f, 0.25f, 1};
  struct Case {
    const char* name;
    uint32_t texel, colorOp, alphaOp, blend;  // blend: 0 off, 1 source alpha over
    bool modulated;
    float alpha;                               // the share of the triangle's colour expected
  };
  const Case cases[] = {
      {"select the texture", 0xFFC08040u, D3DTOP_SELECTARG1, D3DTOP_SELECTARG1, 0, false, 1},
      {"modulate by the lit colour", 0xFFFFFFFFu, D3DTOP_MODULATE, D3DTOP_SELECTARG1, 0, true, 1},
      {"half-transparent texel, alpha blend", 0x80FFFFFFu, D3DTOP_MODULATE, D3DTOP_SELECTARG1, 1, true, 128 / 255.0f},
      {"transparent texel, alpha blend", 0x00FFFFFFu, D3DTOP_MODULATE, D3DTOP_SELECTARG1, 1, true, 0},
      {"transparent texel, blending off", 0x00FFFFFFu, D3DTOP_MODULATE, D3DTOP_SELECTARG1, 0, true, 1},
      {"transparent texel, alpha from diffuse", 0x00FFFFFFu, D3DTOP_MODULATE, D3DTOP_SELECTARG2, 1, true, 1},
  };
  for (int format : {1, 0}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (format ? ", 32-bit" : ", 16-bit"));
      D3DDrawSnapshot s = LitTexturedTriangle(c.texel);
      s.Stages[0].States[D3DTSS_COLOROP] = c.colorOp;
      s.Stages[0].States[D3DTSS_ALPHAOP] = c.alphaOp;
      if (c.blend) {
        s.RenderStates[D3DRS_ALPHABLENDENABLE] = 1;
        s.RenderStates[D3DRS_SRCBLEND] = D3DBLEND_SRCALPHA;
        s.RenderStates[D3DRS_DESTBLEND] = D3DBLEND_INVSRCALPHA;
        s.RenderStates[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
      }
      MEMIMG picture{};
      ASSERT_EQ(MakeMemImg(&picture, 64, 64, format), 0);
      ClearMemImg(&picture, nullptr, SurfaceColor(format, bg));
      EXPECT_EQ(ReplayDraws({s}, &picture).Triangles, 1);
      int got[3];
      CentreRgb(&picture, got);
      for (int k = 0; k < 3; ++k) {
        const float texel = float((c.texel >> (16 - 8 * k)) & 255);
        const float colour = texel * (c.modulated ? lit[k] : 1.0f);
        const float want = float(bg[k]) + (colour - float(bg[k])) * c.alpha;
        EXPECT_NEAR(got[k], want, format ? 3 : 10) << "channel " << k;
      }
      EXPECT_EQ(DrawBright, 0xFFFFFFu);  // restored
      EXPECT_EQ(DrawBlendMode, int(BLENDMODE::NOBLEND));
      TerminateMemImg(&picture);
    }
  }
}

}  // namespace
