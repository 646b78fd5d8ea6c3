#include <qzlib/graphics/graphics3d.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/light.h>
#include <qzlib/math/math3d.h>
#include <qzlib/soft/memimg.h>

D3DObjectGlobals D3DObjects = {nullptr};
DeviceStateShadow DeviceState = {};
ShaderKeyState ShaderKey = {0, 0, 0, 0};
int UseShaderFlag = 0;
int LastVertexShaderIndexAsked = -1;
int LastPixelShaderIndexAsked = -1;
StageSettingsRecord StageSettings = {};
DeviceLightTable DeviceLights = {0, -1, {}};
MaterialLightingConstants MaterialConstants = {};
int WorldIdentityFlag = 0;

ViewMatrixCache ViewMatrices = {
    {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
    {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
    {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
    {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
    {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
};
MATRIX DeviceProjectionMatrix = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

namespace {

// What the device holds, as far as the cached setters know; an entry that is not valid is sent
// at its next set whatever its value.
struct StateCache {
  uint32_t Render[D3DRS_COUNT];
  bool RenderValid[D3DRS_COUNT];
  uint32_t Stage[D3D_STAGE_COUNT][D3DTSS_COUNT];
  bool StageValid[D3D_STAGE_COUNT][D3DTSS_COUNT];
  uint32_t Sampler[D3D_STAGE_COUNT][D3DSAMP_COUNT];
  bool SamplerValid[D3D_STAGE_COUNT][D3DSAMP_COUNT];
  D3DTexture* Texture[D3D_STAGE_COUNT];
  bool TextureValid[D3D_STAGE_COUNT];
  MATRIX TextureTransform[D3D_STAGE_COUNT];
  bool TextureTransformValid[D3D_STAGE_COUNT];
  D3DMaterial Material;
  bool MaterialValid;
};
StateCache g_cache;

// Shaders made so far, by index (created on first use, released with the device).
struct ShaderEntry {
  int Index;
  D3DShader* Shader;
};
struct ShaderList {
  ShaderEntry* Entries = nullptr;
  int Count = 0, Capacity = 0;
};
ShaderList g_vertexShaders, g_pixelShaders;

ModelDeviceHooks g_modelHooks = {nullptr, nullptr, nullptr};
bool g_sceneOpen = false;
D3DMaterial g_appliedMaterial = {};
int g_ambientRed = 0;

const MATRIX kIdentity = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

inline D3DDevice* Dev() { return D3DObjects.Device; }

inline bool MustSend(bool valid, bool same) { return !valid || !same || DeviceState.ForceResend; }

void SendRender(uint32_t state, uint32_t value) {
  if (!MustSend(g_cache.RenderValid[state], g_cache.Render[state] == value)) return;
  g_cache.Render[state] = value;
  if (!Dev()) return;
  g_cache.RenderValid[state] = true;
  Dev()->SetRenderState(state, value);
}

void SendSampler(int stage, uint32_t state, uint32_t value) {
  if (!MustSend(g_cache.SamplerValid[stage][state], g_cache.Sampler[stage][state] == value)) return;
  g_cache.Sampler[stage][state] = value;
  if (!Dev()) return;
  g_cache.SamplerValid[stage][state] = true;
  Dev()->SetSamplerState(stage, state, value);
}

bool ValidStage(int stage) { return stage >= 0 && stage < D3D_STAGE_COUNT; }

void ReleaseShaders(ShaderList* list) {
  for (int i = 0; i < list->Count; ++i) list->Entries[i].Shader->Release();
  MEM_FREE(list->Entries);
  *list = ShaderList{};
}

// The shader of an index, created on first use; null when the device refuses it.
D3DShader* FindOrCreateShader(ShaderList* list, int index, bool pixel) {
  for (int i = 0; i < list->Count; ++i)
    if (list->Entries[i].Index == index) return list->Entries[i].Shader;
  if (list->Count == list->Capacity) {
    const int cap = list->Capacity ? list->Capacity * 2 : 16;
    void* grown = MEM_REALLOC(list->Entries, sizeof(ShaderEntry) * size_t(cap));
    if (!grown) return nullptr;
    list->Entries = static_cast<ShaderEntry*>(grown);
    list->Capacity = cap;
  }
  D3DShader* shader = nullptr;
  const int hr = pixel ? Dev()->CreatePixelShader(index, &shader)
                       : Dev()->CreateVertexShader(index, &shader);
  if (hr != D3D_OK || !shader) return nullptr;
  list->Entries[list->Count++] = ShaderEntry{index, shader};
  return shader;
}

// The light and material constants that the software toon lighting reads, kept in one place:
// no shader pack defines them, so they hold what that lighting needs, the red components (the
// lighting works on one channel), the attenuations and the power, and as ambient base term the
// material's emissive red plus its ambient red lit by the global ambient red.
void WriteLightingConstants() {
  for (int s = 0; s < DeviceLights.Count; ++s) {
    DeviceLightSlot& d = DeviceLights.Slots[s];
    d.DiffuseFactor = d.Light.Diffuse.r;
    d.AmbientFactor = d.Light.Ambient.r;
    d.SpecularFactor = d.Light.Specular.r;
    d.Attenuation0 = d.Light.Attenuation0;
    d.Attenuation1 = d.Light.Attenuation1;
    d.Attenuation2 = d.Light.Attenuation2;
  }
  MaterialConstants.DiffuseR = g_appliedMaterial.Diffuse.r;
  MaterialConstants.SpecularR = g_appliedMaterial.Specular.r;
  MaterialConstants.Power = g_appliedMaterial.Power;
  MaterialConstants.AmbientBase =
      g_appliedMaterial.Emissive.r + g_appliedMaterial.Ambient.r * (float(g_ambientRed) / 255.0f);
}

void OnDeviceLost() { RestoreD3DDevice(); }

// The draw target's size: the graph's in software mode when one is the target, else the screen's.
void DrawTargetSize(int* w, int* h) {
  if (!UseDirect3DFlag && SoftDrawTarget) {
    *w = SoftDrawTarget->Width;
    *h = SoftDrawTarget->Height;
    return;
  }
  GetDrawScreenSize(w, h);
}

void SendProjection() {
  if (Dev()) Dev()->SetTransform(D3DTS_PROJECTION, &DeviceProjectionMatrix);
}

}  // namespace

// ---- Device ----

void InvalidateDeviceStateCache() {
  std::memset(&g_cache, 0, sizeof g_cache);
  DeviceState.StreamSource = nullptr;
  DeviceState.StreamStride = 0;
  DeviceState.IndexBuffer = nullptr;
  DeviceState.Fvf = 0;
  DeviceState.VertexShader = nullptr;
  DeviceState.PixelShader = nullptr;
  for (int s = 0; s < D3D_STAGE_COUNT; ++s) DeviceState.TexCoordIndex[s] = -1;
  DeviceState.SamplerFilterValid = 0;
  WorldIdentityFlag = 0;
  g_sceneOpen = false;
}

int CreateD3DDevice() {
  if (Dev()) return -1;
  D3DObjects.Device = D3DDevice::Create();
  if (!Dev()) return -1;
  D3DDevice::SetLossHandler(OnDeviceLost);
  InvalidateDeviceStateCache();
  SetupShaders();
  return 0;
}

void ReleaseD3DDevice() {
  if (!Dev()) return;
  ReleaseShaders(&g_vertexShaders);
  ReleaseShaders(&g_pixelShaders);
  D3DDevice::SetLossHandler(nullptr);
  Dev()->Release();
  D3DObjects.Device = nullptr;
  InvalidateDeviceStateCache();
  UseShaderFlag = 0;
}

void SetModelDeviceHooks(const ModelDeviceHooks* hooks) {
  g_modelHooks = hooks ? *hooks : ModelDeviceHooks{nullptr, nullptr, nullptr};
}

namespace {

// Sends every state the caches hold to a new device, once each; textures, buffers and shaders
// are new objects and are set again by the next draw.
void ResendCachedStates(const StateCache& held) {
  g_cache = held;
  for (int s = 0; s < D3D_STAGE_COUNT; ++s) {
    g_cache.Texture[s] = nullptr;
    g_cache.TextureValid[s] = false;
  }
  for (uint32_t i = 0; i < D3DRS_COUNT; ++i)
    if (g_cache.RenderValid[i]) Dev()->SetRenderState(i, g_cache.Render[i]);
  for (uint32_t s = 0; s < D3D_STAGE_COUNT; ++s) {
    for (uint32_t i = 0; i < D3DTSS_COUNT; ++i)
      if (g_cache.StageValid[s][i]) Dev()->SetTextureStageState(s, i, g_cache.Stage[s][i]);
    for (uint32_t i = 0; i < D3DSAMP_COUNT; ++i)
      if (g_cache.SamplerValid[s][i]) Dev()->SetSamplerState(s, i, g_cache.Sampler[s][i]);
    if (g_cache.TextureTransformValid[s])
      Dev()->SetTransform(D3DTS_TEXTURE0 + s, &g_cache.TextureTransform[s]);
  }
  if (g_cache.MaterialValid) Dev()->SetMaterial(&g_cache.Material);
}

}  // namespace

int RestoreD3DDevice() {
  if (!Dev()) return -1;
  if (g_modelHooks.TerminateAllVertexBuffers) g_modelHooks.TerminateAllVertexBuffers();
  ReleaseAllGraphTextures();
  const StateCache held = g_cache;
  const int filtersValid = DeviceState.SamplerFilterValid;
  ReleaseD3DDevice();
  if (CreateD3DDevice() != 0) {
    WriteLog("Direct3D device could not be restored\n");
    return -1;
  }
  ResendCachedStates(held);
  DeviceState.SamplerFilterValid = filtersValid;
  RestoreAllGraphTextures();
  if (g_modelHooks.SetupAllModelBaseVertexBuffers) g_modelHooks.SetupAllModelBaseVertexBuffers();
  if (g_modelHooks.RestoreTextures) g_modelHooks.RestoreTextures();
  LightTable.ForceResendFlag = 1;
  // The projection goes back through the camera; its projection mode stays what it was, so that
  // near, far and dot aspect keep rebuilding it.
  const int mode = Camera.ProjectionMode;
  const MATRIX projection = Camera.Projection;
  SetupCameraProjectionMatrixByPtr(&projection);
  Camera.ProjectionMode = mode;
  // The new device starts with identity transforms: the view goes back as well.
  Dev()->SetTransform(D3DTS_VIEW, &ViewMatrices.View);
  DeviceState.ForceResend = 1;
  return 0;
}

// ---- Cached setters ----

int SetZBufferEnable(int flag) { SendRender(D3DRS_ZENABLE, flag ? 1 : 0); return 0; }
int SetZWriteEnable(int flag) { SendRender(D3DRS_ZWRITEENABLE, flag ? 1 : 0); return 0; }
int SetZFunc(int f) { SendRender(D3DRS_ZFUNC, uint32_t(f)); return 0; }
int SetDepthBias(int bias) { SendRender(D3DRS_DEPTHBIAS, uint32_t(bias)); return 0; }
int SetShadeMode(int mode) { SendRender(D3DRS_SHADEMODE, uint32_t(mode)); return 0; }
int SetLightingEnable(int flag) { SendRender(D3DRS_LIGHTING, flag ? 1 : 0); return 0; }
int SetSpecularEnable(int flag) { SendRender(D3DRS_SPECULARENABLE, flag ? 1 : 0); return 0; }

int SetCullMode(int mode) {
  // Engine codes to device states: back faces are counter-clockwise on screen.
  static const uint32_t kDeviceCull[3] = {D3DCULL_NONE, D3DCULL_CCW, D3DCULL_CW};
  if (mode < 0 || mode > 2) return -1;
  SendRender(D3DRS_CULLMODE, kDeviceCull[mode]);
  return 0;
}

int SetDiffuseMaterialSource(int useVertexColour) {
  SendRender(D3DRS_DIFFUSEMATERIALSOURCE, useVertexColour ? D3DMCS_COLOR1 : D3DMCS_MATERIAL);
  return 0;
}

int SetSpecularMaterialSource(int useVertexColour) {
  SendRender(D3DRS_SPECULARMATERIALSOURCE, useVertexColour ? D3DMCS_COLOR2 : D3DMCS_MATERIAL);
  return 0;
}

int SetAmbientRenderState(int r, int g, int b) {
  auto c = [](int v) { return uint32_t(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  SendRender(D3DRS_AMBIENT, 0xFF000000u | c(r) << 16 | c(g) << 8 | c(b));
  if (int(c(r)) != g_ambientRed) {
    g_ambientRed = int(c(r));
    WriteLightingConstants();
  }
  return 0;
}

int ReapplyFogEnable() { SendRender(D3DRS_FOGENABLE, ShaderKey.FogEnable ? 1 : 0); return 0; }

int SetMaxAnisotropy(int stage, int value) {
  if (!ValidStage(stage)) return -1;
  SendSampler(stage, D3DSAMP_MAXANISOTROPY, uint32_t(value));
  return 0;
}

int SetSamplerFilter(int stage, int which, int filter) {
  // "which" codes to sampler states.
  uint32_t state;
  switch (which) {
    case 16: state = D3DSAMP_MAGFILTER; break;
    case 17: state = D3DSAMP_MINFILTER; break;
    case 18: state = D3DSAMP_MIPFILTER; break;
    default: return -1;
  }
  if (!ValidStage(stage)) return -1;
  if (!DeviceState.SamplerFilterValid) {
    for (auto& s : g_cache.SamplerValid) {
      s[D3DSAMP_MAGFILTER] = s[D3DSAMP_MINFILTER] = s[D3DSAMP_MIPFILTER] = false;
    }
    DeviceState.SamplerFilterValid = 1;
  }
  SendSampler(stage, state, uint32_t(filter));
  return 0;
}

int SetTextureAddressUV(int addressU, int addressV, int stage) {
  if (!ValidStage(stage)) return -1;
  SendSampler(stage, D3DSAMP_ADDRESSU, uint32_t(addressU));
  SendSampler(stage, D3DSAMP_ADDRESSV, uint32_t(addressV));
  return 0;
}

int SetTextureStageStateCached(int stage, uint32_t state, uint32_t value) {
  if (!ValidStage(stage) || state >= D3DTSS_COUNT) return -1;
  if (!MustSend(g_cache.StageValid[stage][state], g_cache.Stage[stage][state] == value)) return 0;
  g_cache.Stage[stage][state] = value;
  if (state == D3DTSS_TEXCOORDINDEX) DeviceState.TexCoordIndex[stage] = int(value);
  if (!Dev()) return 0;
  g_cache.StageValid[stage][state] = true;
  Dev()->SetTextureStageState(stage, state, value);
  return 0;
}

int SetTextureTransform(int flag, const MATRIX* matrix, int stage) {
  if (!ValidStage(stage)) return -1;
  SetTextureStageStateCached(stage, D3DTSS_TEXTURETRANSFORMFLAGS,
                             flag ? D3DTTFF_COUNT2 : D3DTTFF_DISABLE);
  if (!flag || !matrix) return 0;
  if (!MustSend(g_cache.TextureTransformValid[stage],
                std::memcmp(&g_cache.TextureTransform[stage], matrix, sizeof(MATRIX)) == 0))
    return 0;
  g_cache.TextureTransform[stage] = *matrix;
  if (!Dev()) return 0;
  g_cache.TextureTransformValid[stage] = true;
  Dev()->SetTransform(D3DTS_TEXTURE0 + stage, matrix);
  return 0;
}

int SetTextureCached(int stage, D3DTexture* texture) {
  if (!ValidStage(stage)) return -1;
  if (!MustSend(g_cache.TextureValid[stage], g_cache.Texture[stage] == texture)) return 0;
  g_cache.Texture[stage] = texture;
  if (!Dev()) return 0;
  g_cache.TextureValid[stage] = true;
  Dev()->SetTexture(stage, texture);
  return 0;
}

int SetBlendStatesCached(int enable, uint32_t src, uint32_t dest, uint32_t op, uint32_t factor) {
  SendRender(D3DRS_ALPHABLENDENABLE, enable ? 1 : 0);
  SendRender(D3DRS_SRCBLEND, src);
  SendRender(D3DRS_DESTBLEND, dest);
  SendRender(D3DRS_BLENDOP, op);
  SendRender(D3DRS_TEXTUREFACTOR, factor);
  return 0;
}

int SetMaterialCached(const D3DMaterial* m) {
  if (!MustSend(g_cache.MaterialValid, std::memcmp(&g_cache.Material, m, sizeof *m) == 0)) return 0;
  g_cache.Material = *m;
  if (!Dev()) return 0;
  g_cache.MaterialValid = true;
  Dev()->SetMaterial(m);
  return 0;
}

D3DVertexBuffer* CreateVertexBuffer(uint32_t bytes, uint32_t usage, uint32_t fvf, uint32_t pool) {
  D3DVertexBuffer* b = nullptr;
  if (!Dev() || Dev()->CreateVertexBuffer(bytes, usage, fvf, pool, &b) != D3D_OK) return nullptr;
  return b;
}

D3DIndexBuffer* CreateIndexBuffer(uint32_t bytes, uint32_t usage, uint32_t format, uint32_t pool) {
  D3DIndexBuffer* b = nullptr;
  if (!Dev() || Dev()->CreateIndexBuffer(bytes, usage, format, pool, &b) != D3D_OK) return nullptr;
  return b;
}

// ---- Shaders ----

void UpdateShaderKey() {
  // No shader pack names its indices by lighting, fog or light configuration: the indices keep
  // what they hold (0 from the draw-settings reset, or what a test set).
}

int SetupShaders() {
  UseShaderFlag = Dev() && D3DStandIn().ShadersAvailable ? 1 : 0;
  return 0;
}

namespace {

// Makes the shader of an index current through the shadow; 1, or 0 when it cannot be had.
int SetShaderByIndex(ShaderList* list, D3DShader** current, int index, bool pixel) {
  if (!UseShaderFlag || !Dev()) return 0;
  D3DShader* s = FindOrCreateShader(list, index, pixel);
  if (!s) return 0;
  if (*current != s || DeviceState.ForceResend) {
    if (pixel) Dev()->SetPixelShader(s);
    else Dev()->SetVertexShader(s);
    *current = s;
  }
  return 1;
}

}  // namespace

int SetVertexShaderByIndex(int index) {
  LastVertexShaderIndexAsked = index;
  return SetShaderByIndex(&g_vertexShaders, &DeviceState.VertexShader, index, false);
}

int SetPixelShaderByIndex(int index) {
  LastPixelShaderIndexAsked = index;
  return SetShaderByIndex(&g_pixelShaders, &DeviceState.PixelShader, index, true);
}

int SetShaderConstantSet(int configuration) {
  // Our shaders take their lighting from the registers model drawing sends itself.
  return 0;
}

// ---- Stage settings ----

namespace {

void ApplyStageRecord(const StageSettingsRecord& r) {
  SetBlendStatesCached(r.AlphaBlendEnable, uint32_t(r.SrcBlend), uint32_t(r.DestBlend),
                       uint32_t(r.BlendOp), r.TextureFactor);
  const int count = r.StageCount < 0 ? 0 : (r.StageCount > D3D_STAGE_COUNT ? D3D_STAGE_COUNT : r.StageCount);
  for (int s = 0; s < D3D_STAGE_COUNT; ++s) {
    if (s < count) {
      const StageSetting& st = r.Stages[s];
      SetTextureCached(s, st.GraphHandle ? GetGraphTexture(st.GraphHandle) : nullptr);
      SetTextureStageStateCached(s, D3DTSS_TEXCOORDINDEX, uint32_t(st.TexCoordIndex));
      for (int f = 0; f < 6; ++f) SetTextureStageStateCached(s, kStageOpStates[f], st.Ops[f]);
    } else {
      SetTextureCached(s, nullptr);
      SetTextureStageStateCached(s, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
      SetTextureStageStateCached(s, D3DTSS_COLOROP, D3DTOP_DISABLE);
    }
  }
}

}  // namespace

int RefreshBlendStates() {
  FlushPendingDraws();
  ApplyStageRecord(StageSettings);
  return 0;
}

// ---- Transforms ----

void RefreshViewMatrixCache() {
  int w, h;
  DrawTargetSize(&w, &h);
  MATRIX screen;
  CreateViewportMatrix(&screen, float(w / 2), float(h / 2), float(w), float(h));
  if (std::memcmp(&screen, &ViewMatrices.Viewport, sizeof screen) == 0) {
    DeviceProjectionMatrix = ViewMatrices.Projection;
  } else {
    MATRIX inverse, pv;
    if (CreateInverseMatrix(&inverse, &screen) != 0) inverse = kIdentity;
    CreateMultiplyMatrix(&pv, &ViewMatrices.Projection, &ViewMatrices.Viewport);
    CreateMultiplyMatrix(&DeviceProjectionMatrix, &pv, &inverse);
  }
  CreateMultiplyMatrix(&ViewMatrices.ViewProjection, &ViewMatrices.View, &DeviceProjectionMatrix);
}

int SetProjectionMatrix(const MATRIX* matrix) {
  ViewMatrices.Projection = *matrix;
  RefreshViewMatrixCache();
  SendProjection();
  return 0;
}

int SetViewMatrix(const MATRIX* matrix) {
  FlushPendingDraws();
  ViewMatrices.View = *matrix;
  RefreshViewMatrixCache();
  if (Dev()) Dev()->SetTransform(D3DTS_VIEW, matrix);
  return 0;
}

int SetViewportMatrix(const MATRIX* matrix) {
  ViewMatrices.Viewport = *matrix;
  RefreshViewMatrixCache();
  SendProjection();
  return 0;
}

int SetWorldMatrixDirect(const MATRIX* matrix) {
  ViewMatrices.World = *matrix;
  if (Dev()) Dev()->SetTransform(D3DTS_WORLD, matrix);
  WorldIdentityFlag = 0;
  return 0;
}

int RefreshProjectionMatrix() {
  int w, h;
  DrawTargetSize(&w, &h);
  // Floats: an integer quotient would give an aspect of 0.
  const float aspect = (float(h) / float(w)) * Camera.DotAspect;
  MATRIX m;
  if (Camera.ProjectionMode == 0) {
    if (CreatePerspectiveFovMatrix(&m, Camera.Fov, Camera.Near, Camera.Far, aspect) == 0)
      Camera.Projection = m;
  } else if (Camera.ProjectionMode == 1) {
    if (CreateOrthoMatrix(&m, Camera.OrthoSize, Camera.Near, Camera.Far, aspect) == 0)
      Camera.Projection = m;
  }
  return SetProjectionMatrix(&Camera.Projection);
}

void PlaceDrawScreenView(int w, int h) {
  const int hw = w / 2, hh = h / 2;
  const float d = float(hh) / 0.57735026f;
  const VECTOR eye = {float(hw), float(hh), -d};
  const VECTOR target = {float(hw), float(hh), -d + 1.0f};
  const VECTOR up = {0, 1, 0};
  MATRIX view, viewport;
  CreateLookAtMatrix(&view, &eye, &target, &up);
  SetViewMatrix(&view);
  CreateViewportMatrix(&viewport, float(hw), float(hh), float(w), float(h));
  SetViewportMatrix(&viewport);
  SetupCameraPerspective(1.0471976f);
  SetCameraNearFar(d * 0.1f, d + 20000.0f);
}

// ---- Draw settings, lights and material ----

int InitDrawSettings() {
  SetupDefaultLight();
  ResetCameraSettings();
  ResetMaterial3D();
  ShaderKey = ShaderKeyState{0, 0, 0, 0};
  return 0;
}

int FlushLightsToDevice() {
  SetLightingEnable(Lighting3D.LightingOffFlag ? 0 : 1);
  if (!LightTable.DirtyFlag && !LightTable.ForceResendFlag) return 0;
  const bool force = LightTable.ForceResendFlag != 0;
  int next = 0;
  for (int i = 0; i < LightTable.HighWater; ++i) {
    LightHandleData* l = LightTable.Lights[i];
    if (!l || !l->EnableFlag) continue;
    const int slot = next++;
    if (slot != l->DeviceSlot || l->ChangedFlag || force) {
      DeviceLights.Slots[slot].Light = l->Light;
      if (Dev()) {
        Dev()->SetLight(uint32_t(slot), &l->Light);
        Dev()->LightEnable(uint32_t(slot), 1);
      }
    }
    l->DeviceSlot = slot;
    l->ChangedFlag = 0;
  }
  if (Dev())
    for (int s = next; s <= LightTable.DeviceSlotHighest; ++s) Dev()->LightEnable(uint32_t(s), 0);
  LightTable.DeviceSlotCount = next;
  LightTable.DeviceSlotHighest = next - 1;
  DeviceLights.Count = next;
  DeviceLights.Highest = next - 1;
  LightTable.DirtyFlag = 0;
  LightTable.ForceResendFlag = 0;
  WriteLightingConstants();
  UpdateShaderKey();
  return 0;
}

int ApplyMaterial(const COLOR_F* diffuse, const COLOR_F* ambient, const COLOR_F* specular,
                  const COLOR_F* emissive, float power) {
  g_appliedMaterial = D3DMaterial{*diffuse, *ambient, *specular, *emissive, power};
  SetMaterialCached(&g_appliedMaterial);
  WriteLightingConstants();
  return 0;
}

int BeginDrawPrimitive() {
  if (Lighting3D.MaterialChangedFlag) {
    const MATERIALPARAM& m = Lighting3D.Material;
    ApplyMaterial(&m.Diffuse, &m.Ambient, &m.Specular, &m.Emissive, m.Power);
    Lighting3D.MaterialChangedFlag = 0;
  }
  SetDiffuseMaterialSource(Lighting3D.UseMaterialDiffuse ? 0 : 1);
  SetSpecularMaterialSource(Lighting3D.UseMaterialSpecular ? 0 : 1);
  return 0;
}

// ---- Scene and primitives ----

int SplitColor(uint32_t color, int* r, int* g, int* b) {
  int cr, cg, cb;
  if (GetColorBitDepth() == 16) {
    cr = int(ChannelTo8((color >> 11) & 0x1F, 5));
    cg = int(ChannelTo8((color >> 5) & 0x3F, 6));
    cb = int(ChannelTo8(color & 0x1F, 5));
  } else {
    cr = int((color >> 16) & 0xFF);
    cg = int((color >> 8) & 0xFF);
    cb = int(color & 0xFF);
  }
  if (r) *r = cr;
  if (g) *g = cg;
  if (b) *b = cb;
  return 0;
}

int FlushPendingDraws() { return 0; }

int D3D9BeginSceneGuard() {
  if (!Dev() || g_sceneOpen) return 0;
  if (Dev()->BeginScene() == D3D_OK || Dev()->SceneBegun()) g_sceneOpen = true;
  return 0;
}

namespace {

// Blend states of the 3-D drawers from the current blend mode.
void ApplyDrawBlend(int graph) {
  StageSettingsRecord r{};
  r.TextureFactor = 0xFFFFFFFF;
  r.AlphaBlendEnable = 1;
  r.BlendOp = D3DBLENDOP_ADD;
  switch (DrawBlendMode) {
    case BLENDMODE::ALPHA:
    case BLENDMODE::INVSRC:
      r.SrcBlend = D3DBLEND_SRCALPHA;
      r.DestBlend = D3DBLEND_INVSRCALPHA;
      break;
    case BLENDMODE::ADD:
      r.SrcBlend = D3DBLEND_SRCALPHA;
      r.DestBlend = D3DBLEND_ONE;
      break;
    case BLENDMODE::SUB:
      r.SrcBlend = D3DBLEND_SRCALPHA;
      r.DestBlend = D3DBLEND_ONE;
      r.BlendOp = D3DBLENDOP_REVSUBTRACT;
      break;
    case BLENDMODE::MUL:
    case BLENDMODE::MULA:
      r.SrcBlend = D3DBLEND_ZERO;
      r.DestBlend = D3DBLEND_SRCCOLOR;
      break;
    default:  // NOBLEND: blending off, the factors as they stand
      r.AlphaBlendEnable = 0;
      r.SrcBlend = int(g_cache.Render[D3DRS_SRCBLEND]);
      r.DestBlend = int(g_cache.Render[D3DRS_DESTBLEND]);
      r.BlendOp = int(g_cache.Render[D3DRS_BLENDOP]);
      if (!g_cache.RenderValid[D3DRS_SRCBLEND]) {
        r.SrcBlend = D3DBLEND_ONE;
        r.DestBlend = D3DBLEND_ZERO;
        r.BlendOp = D3DBLENDOP_ADD;
      }
      break;
  }
  r.StageCount = 1;
  StageSetting& s = r.Stages[0];
  s.GraphHandle = graph == DX_NONE_GRAPH ? 0 : graph;
  s.TexCoordIndex = 0;
  if (s.GraphHandle) {
    const uint16_t ops[6] = {D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE,
                             D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE};
    std::memcpy(s.Ops, ops, sizeof ops);
  } else {
    const uint16_t ops[6] = {D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTOP_SELECTARG1,
                             D3DTA_DIFFUSE, D3DTA_CURRENT, D3DTOP_SELECTARG1};
    std::memcpy(s.Ops, ops, sizeof ops);
  }
  ApplyStageRecord(r);
}

// Common set-up of the three 3-D drawers; false when nothing is to be drawn.
bool Begin3DDraw(int graph, uint32_t fvf) {
  D3D9BeginSceneGuard();
  if (!WorldIdentityFlag) {
    ViewMatrices.World = kIdentity;
    Dev()->SetTransform(D3DTS_WORLD, &kIdentity);
    WorldIdentityFlag = 1;
  }
  ApplyDrawBlend(graph);
  if (DeviceState.VertexShader || DeviceState.ForceResend) {
    Dev()->SetVertexShader(nullptr);
    DeviceState.VertexShader = nullptr;
  }
  if (DeviceState.PixelShader || DeviceState.ForceResend) {
    Dev()->SetPixelShader(nullptr);
    DeviceState.PixelShader = nullptr;
  }
  if (DeviceState.Fvf != fvf || DeviceState.ForceResend) {
    Dev()->SetFVF(fvf);
    DeviceState.Fvf = fvf;
  }
  return true;
}

uint32_t PrimitiveCount(int type, int count) {
  if (type == D3DPT_LINELIST) return uint32_t(count / 2);
  if (type == D3DPT_TRIANGLELIST) return uint32_t(count / 3);
  return 0;
}

// Checks shared by the drawers: 1 draw, 0 nothing to draw (result 0), -1 refused.
int Check3DDraw(int graph, int count, int type) {
  if (!UseDirect3DFlag || !Dev()) return 0;
  if (graph != DX_NONE_GRAPH && !GetGraphTexture(graph)) return -1;
  if (type != D3DPT_LINELIST && type != D3DPT_TRIANGLELIST) return -1;
  return PrimitiveCount(type, count) > 0 ? 1 : 0;
}

void EndDraw() { DeviceState.ForceResend = 0; }

void DrawIndexedUP(int type, int vertexCount, const uint16_t* indices, int indexCount,
                   const void* vertices, uint32_t stride) {
  Dev()->DrawIndexedPrimitiveUP(uint32_t(type), 0, uint32_t(vertexCount),
                                PrimitiveCount(type, indexCount), indices, D3DFMT_INDEX16,
                                vertices, stride);
  // The device forgets its stream source and indices after a draw from memory.
  DeviceState.StreamSource = nullptr;
  DeviceState.StreamStride = 0;
  DeviceState.IndexBuffer = nullptr;
}

}  // namespace

int DrawLine3DBase(const UnlitVertex3D* vertices, int vertexCount, int primitiveType, int graph,
                   int flag) {
  const int go = Check3DDraw(graph, vertexCount, primitiveType);
  if (go <= 0 || !vertices) return go <= 0 ? go : -1;
  SetLightingEnable(0);
  Begin3DDraw(graph, UNLIT_VERTEX3D_FVF);
  Dev()->DrawPrimitiveUP(uint32_t(primitiveType), PrimitiveCount(primitiveType, vertexCount),
                         vertices, sizeof(UnlitVertex3D));
  EndDraw();
  return 0;
}

int DrawTriangle3DBase(const UnlitVertex3D* vertices, int vertexCount, const uint16_t* indices,
                       int indexCount, int primitiveType, int graph, int flag) {
  const int go = Check3DDraw(graph, indexCount, primitiveType);
  if (go <= 0 || !vertices || !indices || vertexCount <= 0) return go <= 0 ? go : -1;
  SetLightingEnable(0);
  Begin3DDraw(graph, UNLIT_VERTEX3D_FVF);
  DrawIndexedUP(primitiveType, vertexCount, indices, indexCount, vertices, sizeof(UnlitVertex3D));
  EndDraw();
  return 0;
}

int DrawPolygonIndexed3DBase(const VERTEX3D* vertices, int vertexCount, const uint16_t* indices,
                             int indexCount, int primitiveType, int graph, int flag) {
  const int go = Check3DDraw(graph, indexCount, primitiveType);
  if (go <= 0 || !vertices || !indices || vertexCount <= 0) return go <= 0 ? go : -1;
  D3D9BeginSceneGuard();
  FlushLightsToDevice();
  BeginDrawPrimitive();
  Begin3DDraw(graph, VERTEX3D_FVF);
  DrawIndexedUP(primitiveType, vertexCount, indices, indexCount, vertices, sizeof(VERTEX3D));
  EndDraw();
  return 0;
}
