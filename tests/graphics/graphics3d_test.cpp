// The graphics core's 3-D share: Direct3D start and end, draw settings, the draw-screen view and
// the transforms the device receives.
#include <qzlib/graphics/graphics3d.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/light.h>
#include <qzlib/math/math3d.h>
#include "tests/support/d3d_engine.h"

namespace {

using Graphics3DTest = D3DEngineTest;

TEST_F(Graphics3DTest, StartInDirect3DModeResetsTheDrawSettings) {
  EXPECT_EQ(UseDirect3DFlag, 1);
  EXPECT_EQ(SoftDrawTarget, nullptr);
  EXPECT_EQ(Camera.ProjectionMode, 0);
  EXPECT_EQ(Camera.DotAspect, 1.0f);
  EXPECT_EQ(Camera.OrthoSize, 1.0f);
  EXPECT_EQ(Camera.Fov, 1.0471976f);
  const MATERIALPARAM& m = Lighting3D.Material;
  EXPECT_EQ(m.Diffuse.r, 0.8f);
  EXPECT_EQ(m.Diffuse.a, 1.0f);
  EXPECT_EQ(m.Specular.a, 0.0f);
  EXPECT_EQ(m.Power, 20.0f);
  EXPECT_EQ(Lighting3D.MaterialChangedFlag, 1);
  EXPECT_EQ(LightTable.Count, 1);
  EXPECT_EQ(GetLightType(), 3);
  const VECTOR d = GetLightDirection();
  EXPECT_NEAR(d.x, 0.57735026f, 1e-6f);
  EXPECT_NEAR(d.y, -0.57735026f, 1e-6f);
  // The position and angles of the camera stay zero until a script sets them.
  EXPECT_EQ(Camera.Position.z, 0.0f);
  EXPECT_EQ(Camera.HorizontalAngle, 0.0f);
  // Graphics end releases the device and every light.
  EndLibrary();
  EXPECT_EQ(D3DObjects.Device, nullptr);
  EXPECT_EQ(LightTable.Count, 0);
}

TEST_F(Graphics3DTest, DrawScreenPlacesTheView) {
  // Engine start chose the back and then the front screen: the view is placed for 640 x 480.
  const MATRIX& v = ViewMatrices.View;
  // The eye (320, 240, -415.6922) maps to the origin.
  VECTOR eye = {320, 240, -415.6922f}, out;
  VectorTransform(&out, &eye, &v);
  EXPECT_NEAR(out.x, 0, 1e-3f);
  EXPECT_NEAR(out.y, 0, 1e-3f);
  EXPECT_NEAR(out.z, 0, 1e-3f);
  EXPECT_FLOAT_EQ(Camera.Near, 41.5692215f);
  EXPECT_FLOAT_EQ(Camera.Far, 20415.6914f);
  const MATRIX& p = ViewMatrices.Projection;
  EXPECT_FLOAT_EQ(p.m[0][0], 1.29903805f);
  EXPECT_FLOAT_EQ(p.m[1][1], 1.73205078f);
  EXPECT_FLOAT_EQ(p.m[2][2], 1.00204027f);
  EXPECT_EQ(p.m[2][3], 1.0f);
  EXPECT_FLOAT_EQ(p.m[3][2], -41.6540337f);
  const MATRIX& vp = ViewMatrices.Viewport;
  EXPECT_EQ(vp.m[0][0], 320.0f);
  EXPECT_EQ(vp.m[1][1], -240.0f);
  EXPECT_EQ(vp.m[3][0], 320.0f);
  EXPECT_EQ(vp.m[3][1], 240.0f);
  // The screen's own viewport: the device gets the projection bit for bit.
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_PROJECTION), &p, sizeof p), 0);
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_VIEW), &v, sizeof v), 0);
  MATRIX vxp;
  CreateMultiplyMatrix(&vxp, &v, &p);
  ExpectMatrixNear(ViewMatrices.ViewProjection, vxp, 0);
  // One world unit in the plane z = 0 covers one pixel: (100, 50, 0) lands at pixel (100, 430).
  VECTOR w = {100, 50, 0}, clip;
  float cw = 1;
  VectorTransform4(&clip, &cw, &w, &cw, &ViewMatrices.ViewProjection);
  EXPECT_NEAR(320 + clip.x / cw * 320, 100, 1e-3);
  EXPECT_NEAR(240 - clip.y / cw * 240, 430, 1e-3);
  // Only the screens: a graph cannot be the draw screen through the device.
  EXPECT_EQ(SetDrawScreen(0x08000000), -1);
  EXPECT_EQ(SetDrawScreen(DX_SCREEN_BACK), 0);
}

TEST_F(Graphics3DTest, MovedScreenCentreMovesThePicture) {
  ASSERT_EQ(SetCameraDotScreenCenter(100, 60), 0);
  // The stored projection is unchanged; the device's carries the shift.
  VECTOR w = {320, 240, 0}, clip;  // on the axis: formerly the screen centre
  float cw = 1, one = 1;
  VectorTransform4(&clip, &cw, &w, &one, &ViewMatrices.ViewProjection);
  EXPECT_NEAR(320 + clip.x / cw * 320, 100, 1e-3);
  EXPECT_NEAR(240 - clip.y / cw * 240, 60, 1e-3);
  MATRIX vxp;
  CreateMultiplyMatrix(&vxp, &ViewMatrices.View, &Dev()->Transform(D3DTS_PROJECTION));
  ExpectMatrixNear(ViewMatrices.ViewProjection, vxp, 0);
  // Back to the centre: bit for bit again.
  SetCameraDotScreenCenter(320, 240);
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_PROJECTION), &ViewMatrices.Projection,
                        sizeof(MATRIX)),
            0);
}

TEST(Graphics3DSoftwareTest, SoftwareModeHasNoDeviceButPlacesTheView) {
  SetGraphMode(64, 48, 32);
  ASSERT_EQ(InitLibrary(), 0);
  EXPECT_EQ(D3DObjects.Device, nullptr);
  EXPECT_FLOAT_EQ(Camera.Near, float(24 / 0.57735026f) * 0.1f);
  EXPECT_EQ(ViewMatrices.Viewport.m[3][0], 32.0f);
  EXPECT_EQ(LightTable.Count, 1);
  EndLibrary();
  SetGraphMode(640, 480, 32);
}

}  // namespace

namespace {

// Every state the cached setters reach, read from a device.
struct DeviceStates {
  uint32_t render[D3DRS_COUNT];
  uint32_t stage[D3D_STAGE_COUNT][D3DTSS_COUNT];
  uint32_t sampler[D3D_STAGE_COUNT][D3DSAMP_COUNT];
  MATRIX texture[D3D_STAGE_COUNT];
  D3DMaterial material;
  static DeviceStates Of(const D3DDevice* d) {
    DeviceStates s;
    for (uint32_t i = 0; i < D3DRS_COUNT; ++i) s.render[i] = d->RenderState(i);
    for (uint32_t st = 0; st < D3D_STAGE_COUNT; ++st) {
      for (uint32_t i = 0; i < D3DTSS_COUNT; ++i) s.stage[st][i] = d->TextureStageState(st, i);
      for (uint32_t i = 0; i < D3DSAMP_COUNT; ++i) s.sampler[st][i] = d->SamplerState(st, i);
      s.texture[st] = d->Transform(D3DTS_TEXTURE0 + st);
    }
    s.material = d->Material();
    return s;
  }
  // Number of single values that differ (a matrix or the material counts as one).
  int Differences(const DeviceStates& o) const {
    int n = 0;
    for (uint32_t i = 0; i < D3DRS_COUNT; ++i) n += render[i] != o.render[i];
    for (int st = 0; st < D3D_STAGE_COUNT; ++st) {
      for (uint32_t i = 0; i < D3DTSS_COUNT; ++i) n += stage[st][i] != o.stage[st][i];
      for (uint32_t i = 0; i < D3DSAMP_COUNT; ++i) n += sampler[st][i] != o.sampler[st][i];
      n += std::memcmp(&texture[st], &o.texture[st], sizeof(MATRIX)) != 0;
    }
    return n + (std::memcmp(&material, &o.material, sizeof material) != 0);
  }
};

// One random setter call, made through the caches on the engine's device and forwarded
// unconditionally to the reference device. Returns how many device values the call names.
int RandomSetterCall(std::mt19937& rng, D3DDevice* ref) {
  const uint32_t v2 = rng() % 2, st = rng() % D3D_STAGE_COUNT;
  static const MATRIX kMats[2] = {MGetIdent(), MGetScale(VECTOR{2, 3, 1})};
  switch (rng() % 16) {
    case 0: SetZBufferEnable(int(v2)); ref->SetRenderState(D3DRS_ZENABLE, v2); return 1;
    case 1: SetZWriteEnable(int(v2)); ref->SetRenderState(D3DRS_ZWRITEENABLE, v2); return 1;
    case 2: { uint32_t f = 2 + 2 * (rng() % 3); SetZFunc(int(f)); ref->SetRenderState(D3DRS_ZFUNC, f); return 1; }
    case 3: SetDepthBias(int(v2)); ref->SetRenderState(D3DRS_DEPTHBIAS, v2); return 1;
    case 4: SetShadeMode(int(v2 + 1)); ref->SetRenderState(D3DRS_SHADEMODE, v2 + 1); return 1;
    case 5: {
      const uint32_t m = rng() % 3, dev[3] = {D3DCULL_NONE, D3DCULL_CCW, D3DCULL_CW};
      SetCullMode(int(m));
      ref->SetRenderState(D3DRS_CULLMODE, dev[m]);
      return 1;
    }
    case 6: SetLightingEnable(int(v2)); ref->SetRenderState(D3DRS_LIGHTING, v2); return 1;
    case 7: SetSpecularEnable(int(v2)); ref->SetRenderState(D3DRS_SPECULARENABLE, v2); return 1;
    case 8:
      SetDiffuseMaterialSource(int(v2));
      ref->SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, v2 ? D3DMCS_COLOR1 : D3DMCS_MATERIAL);
      return 1;
    case 9: {
      const int r = int(rng() % 2) * 255, g = 128;
      SetAmbientRenderState(r, g, 7);
      ref->SetRenderState(D3DRS_AMBIENT, 0xFF000000u | uint32_t(r) << 16 | 128u << 8 | 7u);
      return 1;
    }
    case 10: SetMaxAnisotropy(int(st), int(v2 + 1)); ref->SetSamplerState(st, D3DSAMP_MAXANISOTROPY, v2 + 1); return 1;
    case 11: {
      const int which = 16 + int(rng() % 3);
      const uint32_t f = rng() % 4;
      const uint32_t state[3] = {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER};
      SetSamplerFilter(int(st), which, int(f));
      ref->SetSamplerState(st, state[which - 16], f);
      return 1;
    }
    case 12: {
      const uint32_t u = 1 + rng() % 4, v = 1 + rng() % 4;
      SetTextureAddressUV(int(u), int(v), int(st));
      ref->SetSamplerState(st, D3DSAMP_ADDRESSU, u);
      ref->SetSamplerState(st, D3DSAMP_ADDRESSV, v);
      return 2;
    }
    case 13: {
      const MATRIX& m = kMats[rng() % 2];
      SetTextureTransform(int(v2), &m, int(st));
      ref->SetTextureStageState(st, D3DTSS_TEXTURETRANSFORMFLAGS, v2 ? D3DTTFF_COUNT2 : 0);
      if (v2) ref->SetTransform(D3DTS_TEXTURE0 + st, &m);
      return v2 ? 2 : 1;
    }
    case 14: {
      const uint32_t s = rng() % D3DTSS_COUNT, v = rng() % 3;
      SetTextureStageStateCached(int(st), s, v);
      ref->SetTextureStageState(st, s, v);
      return 1;
    }
    default: {
      D3DMaterial m{};
      m.Power = float(rng() % 2);
      SetMaterialCached(&m);
      ref->SetMaterial(&m);
      return 1;
    }
  }
}

TEST_F(Graphics3DTest, CachedSettersMatchAForwarder) {
  for (int seed = 0; seed < 20; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    D3DDevice* ref = D3DDevice::Create();
    InvalidateDeviceStateCache();
    DeviceState.SamplerFilterValid = 1;
    // Every value once, so that each cache entry is valid and both devices agree.
    DeviceState.ForceResend = 1;
    for (int i = 0; i < 30000; ++i) RandomSetterCall(rng, ref);
    DeviceState.ForceResend = 0;
    ASSERT_EQ(DeviceStates::Of(Dev()).Differences(DeviceStates::Of(ref)), 0);
    for (int step = 0; step < 2000; ++step) {
      const bool forced = rng() % 10 == 0;
      DeviceState.ForceResend = forced ? 1 : 0;
      const DeviceStates before = DeviceStates::Of(ref);
      const uint64_t calls = Dev()->StateCallCount();
      const int named = RandomSetterCall(rng, ref);
      DeviceState.ForceResend = 0;
      const DeviceStates after = DeviceStates::Of(ref);
      ASSERT_EQ(DeviceStates::Of(Dev()).Differences(after), 0) << "step " << step;
      const uint64_t sent = Dev()->StateCallCount() - calls;
      ASSERT_EQ(sent, uint64_t(forced ? named : before.Differences(after)))
          << "step " << step << " " << D3DMethodName(Dev()->Calls().back().Method) << " "
          << Dev()->Calls().back().Args[0] << " " << Dev()->Calls().back().Args[1];
    }
    ref->Release();
  }
}

TEST_F(Graphics3DTest, CachedSettersThatChangeNothingSendNothing) {
  SetZBufferEnable(1);
  SetSamplerFilter(0, 17, D3DTEXF_LINEAR);
  Dev()->ClearRecord();
  for (int i = 0; i < 100; ++i) {
    SetZBufferEnable(1);
    SetSamplerFilter(0, 17, D3DTEXF_LINEAR);
  }
  EXPECT_EQ(Dev()->StateCallCount(), 0u);
  // Model drawing marks the filters invalid: the next set re-sends, once.
  DeviceState.SamplerFilterValid = 0;
  SetSamplerFilter(0, 17, D3DTEXF_LINEAR);
  SetSamplerFilter(0, 17, D3DTEXF_LINEAR);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetSamplerState), 1u);
  EXPECT_EQ(SetSamplerFilter(0, 19, 1), -1);
  EXPECT_EQ(SetCullMode(3), -1);
}

TEST_F(Graphics3DTest, StageRecordReachesTheDeviceStages) {
  // The opacity stage multiplies alpha by the texture factor; the closing stage disables.
  StageSettings = StageSettingsRecord{};
  StageSettings.AlphaBlendEnable = 1;
  StageSettings.TextureFactor = 0x7FFFFFFF;
  StageSettings.SrcBlend = D3DBLEND_SRCALPHA;
  StageSettings.DestBlend = D3DBLEND_INVSRCALPHA;
  StageSettings.BlendOp = D3DBLENDOP_ADD;
  StageSettings.StageCount = 3;
  StageSettings.Stages[0] = {0, 0, {2, 0, 4, 2, 0, 4}};
  StageSettings.Stages[1] = {0, 1, {1, 3, 4, 1, 0, 2}};
  StageSettings.Stages[2] = {0, 2, {2, 0, 1, 2, 0, 1}};
  RefreshBlendStates();
  EXPECT_EQ(Dev()->TextureStageState(1, D3DTSS_ALPHAOP), uint32_t(D3DTOP_MODULATE));
  EXPECT_EQ(Dev()->TextureStageState(1, D3DTSS_ALPHAARG2), uint32_t(D3DTA_TFACTOR));
  EXPECT_EQ(Dev()->TextureStageState(1, D3DTSS_COLOROP), uint32_t(D3DTOP_SELECTARG1));
  EXPECT_EQ(Dev()->TextureStageState(1, D3DTSS_COLORARG1), uint32_t(D3DTA_CURRENT));
  EXPECT_EQ(Dev()->TextureStageState(2, D3DTSS_TEXCOORDINDEX), 2u);
  EXPECT_EQ(DeviceState.TexCoordIndex[2], 2);
  for (int s = 3; s < D3D_STAGE_COUNT; ++s) {
    EXPECT_EQ(Dev()->TextureStageState(uint32_t(s), D3DTSS_COLOROP), uint32_t(D3DTOP_DISABLE));
    EXPECT_EQ(Dev()->TextureStageState(uint32_t(s), D3DTSS_ALPHAOP), uint32_t(D3DTOP_DISABLE));
  }
  EXPECT_EQ(Dev()->RenderState(D3DRS_TEXTUREFACTOR), 0x7FFFFFFFu);
  EXPECT_EQ(Dev()->RenderState(D3DRS_DESTBLEND), uint32_t(D3DBLEND_INVSRCALPHA));
  Dev()->ClearRecord();
  RefreshBlendStates();
  EXPECT_EQ(Dev()->StateCallCount(), 0u);
}

TEST_F(Graphics3DTest, ShadersAreOffUnlessTheDeviceOffersThem) {
  EXPECT_EQ(UseShaderFlag, 0);
  EXPECT_EQ(SetVertexShaderByIndex(0x2005), 0);
  EXPECT_EQ(LastVertexShaderIndexAsked, 0x2005);
  EXPECT_EQ(SetPixelShaderByIndex(3), 0);
  EXPECT_EQ(LastPixelShaderIndexAsked, 3);
  EXPECT_EQ(ShaderKey.VertexShaderIndex, 0);
  D3DStandIn().ShadersAvailable = true;
  D3DStandIn().RefusedVertexShaders = {9};
  SetupShaders();
  EXPECT_EQ(UseShaderFlag, 1);
  Dev()->ClearRecord();
  EXPECT_NE(SetVertexShaderByIndex(5), 0);
  EXPECT_NE(SetVertexShaderByIndex(5), 0);
  EXPECT_EQ(SetVertexShaderByIndex(9), 0);
  EXPECT_EQ(SetPixelShaderByIndex(9), 1);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetVertexShader), 1u);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::CreateVertexShader), 2u);
  EXPECT_EQ(DeviceState.VertexShader->Index(), 5);
  EXPECT_EQ(SetShaderConstantSet(0), 0);
}

TEST_F(Graphics3DTest, BuffersComeFromTheDevice) {
  D3DVertexBuffer* vb = CreateVertexBuffer(96, D3DUSAGE_WRITEONLY, 0xD2, D3DPOOL_MANAGED);
  ASSERT_NE(vb, nullptr);
  EXPECT_EQ(CreateVertexBuffer(96, 0x208, 0xD2, D3DPOOL_MANAGED), nullptr);
  D3DIndexBuffer* ib = CreateIndexBuffer(6, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
  ASSERT_NE(ib, nullptr);
  EXPECT_EQ(CreateIndexBuffer(6, 8, 5, D3DPOOL_MANAGED), nullptr);
  D3DStandIn().FailCreationAt = 1;
  EXPECT_EQ(CreateIndexBuffer(6, 8, D3DFMT_INDEX16, D3DPOOL_MANAGED), nullptr);
  vb->Release();
  ib->Release();
}

TEST_F(Graphics3DTest, SplitColorUndoesGetColor) {
  int r, g, b;
  SplitColor(GetColor(255, 128, 7), &r, &g, &b);
  EXPECT_EQ(r * 1000000 + g * 1000 + b, 255128007);
  EndLibrary();
  SetGraphMode(640, 480, 16);
  ASSERT_EQ(InitLibrary(), 0);
  SplitColor(GetColor(255, 255, 255), &r, &g, &b);
  EXPECT_EQ(r * 1000000 + g * 1000 + b, 255255255);
  SplitColor(GetColor(8, 4, 0), &r, nullptr, &b);
  EXPECT_EQ(r, 8);  // 1 of 31 widens to round(255 / 31)
  EndLibrary();
  SetGraphMode(640, 480, 32);
}

}  // namespace

namespace {

TEST_F(Graphics3DTest, DrawSettingsResetReusesTheDefaultLight) {
  const int def = LightTable.DefaultLightHandle;
  SetLightDirection(VECTOR{0, 0, 1});
  SetLightDifColor(COLOR_F{0, 1, 0, 0});
  SetCameraNearFar(3, 30);
  ShaderKey.VertexShaderIndex = 6;
  UpdateShaderKey();
  EXPECT_EQ(ShaderKey.VertexShaderIndex, 6);  // kept: no formula names the indices
  InitDrawSettings();
  EXPECT_EQ(LightTable.DefaultLightHandle, def);
  EXPECT_EQ(LightTable.Count, 1);
  EXPECT_NEAR(GetLightDirection().x, 0.57735026f, 1e-6f);
  EXPECT_EQ(GetLightDifColor().g, 1.0f);
  EXPECT_EQ(GetLightDifColor().r, 1.0f);
  EXPECT_EQ(Camera.Near, 10.0f);
  EXPECT_EQ(ShaderKey.VertexShaderIndex, 0);
  // Fog is re-sent only when the device holds another state.
  ShaderKey.FogEnable = 1;
  Dev()->ClearRecord();
  ReapplyFogEnable();
  ReapplyFogEnable();
  EXPECT_EQ(Dev()->RenderState(D3DRS_FOGENABLE), 1u);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetRenderState), 1u);
}

}  // namespace
