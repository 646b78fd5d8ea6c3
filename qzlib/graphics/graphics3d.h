// The share of the graphics core that 3-D drawing and the model system read: the Direct3D
// objects, the device-state caches and their cached setters, the transforms, the stage-settings
// record, the light hand-over, the 3-D material, the 3-D primitive drawers and device restore.
//
// Everything here runs on the main thread. In software mode (no device) the setters only keep
// their caches and the drawers draw nothing.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/platform/d3d_device.h>

// ---- Direct3D objects ----

// The Direct3D objects of the graphics core. Device is non-null while a Direct3D device exists
// (between graphics start in Direct3D mode and graphics end); model buffers are built and meshes
// drawn only then.
struct D3DObjectGlobals {
  D3DDevice* Device;
};
extern D3DObjectGlobals D3DObjects;

// Creates the device (Direct3D mode graphics start) and installs the device-loss handler; the
// caches are invalidated. 0, or -1 when the device cannot be made.
int CreateD3DDevice();
// Releases the device and every device object the graphics core holds (graphics end).
void ReleaseD3DDevice();

// ---- Device-state caches ----

// The caches that model drawing reads and keeps current when it calls the device itself.
struct DeviceStateShadow {
  D3DVertexBuffer* StreamSource;  // current stream-0 vertex buffer, null for none
  uint32_t StreamStride;
  D3DIndexBuffer* IndexBuffer;    // null for none
  uint32_t Fvf;                   // 0 for none
  D3DShader* VertexShader;        // null for none
  D3DShader* PixelShader;         // null for none
  int TexCoordIndex[D3D_STAGE_COUNT];
  int SamplerFilterValid;         // 0: the next SetSamplerFilter re-sends every filter
  int ForceResend;                // 1: every cached setter sends (set by device restore, which
                                  // has re-sent every cached state already); whoever draws next
                                  // clears it after the draw (the 3-D base drawers do)
};
extern DeviceStateShadow DeviceState;

// Forgets every cached device state, so that each is sent again at its next set.
void InvalidateDeviceStateCache();

// Cached render-state setters: each sends its state only when it differs from the cache or
// re-sending is forced. All return 0.
int SetZBufferEnable(int flag);
int SetZWriteEnable(int flag);
int SetZFunc(int compareFunction);
int SetDepthBias(int bias);
int SetShadeMode(int mode);                 // 2 Gouraud
// Engine cull codes: 0 none, 1 cull back faces, 2 cull front faces. Front faces are the ones
// whose screen-space winding is clockwise.
int SetCullMode(int mode);
int SetLightingEnable(int flag);
int SetSpecularEnable(int flag);
int SetDiffuseMaterialSource(int useVertexColour);
int SetSpecularMaterialSource(int useVertexColour);
// r, g, b 0..255 packed as the device ambient colour 0xFFRRGGBB.
int SetAmbientRenderState(int r, int g, int b);
// Re-sends the fog-enable state (ShaderKey.FogEnable) if the device holds another.
int ReapplyFogEnable();
// Cached sampler and texture-stage setters.
int SetMaxAnisotropy(int stage, int value);
// which: 16 magnification, 17 minification, 18 mip; filter: the device's filter values.
int SetSamplerFilter(int stage, int which, int filter);
int SetTextureAddressUV(int addressU, int addressV, int stage);
// Texture-coordinate transform of a stage: with flag 0 off, else the matrix on 2 coordinates.
int SetTextureTransform(int flag, const MATRIX* matrix, int stage);
// Cached texture-stage state, texture and texture-coordinate index of a stage.
int SetTextureStageStateCached(int stage, uint32_t state, uint32_t value);
int SetTextureCached(int stage, D3DTexture* texture);
// Cached alpha-blend states.
int SetBlendStatesCached(int enable, uint32_t src, uint32_t dest, uint32_t op, uint32_t factor);
// Cached device material.
int SetMaterialCached(const D3DMaterial* material);

// Device buffers: a buffer, or null (no device, or the device refused it).
D3DVertexBuffer* CreateVertexBuffer(uint32_t bytes, uint32_t usage, uint32_t fvf, uint32_t pool);
D3DIndexBuffer* CreateIndexBuffer(uint32_t bytes, uint32_t usage, uint32_t format, uint32_t pool);

// ---- Shaders ----

// The lighting shader indices from which model drawing starts, and the fog state.
struct ShaderKeyState {
  int VertexShaderIndex;
  int PixelShaderIndex;
  int FogEnable;
  int FogMode;
};
extern ShaderKeyState ShaderKey;
// Recomputes the indices after a lighting, fog or light change. No shader pack exists whose
// indices a formula could name: the draw-settings reset sets both to 0 and fog off, and they
// keep that (or what a test set).
void UpdateShaderKey();
// 1 when vertex and pixel shaders are in use (the device offers them).
extern int UseShaderFlag;
// Decides UseShaderFlag from the device. Returns 0.
int SetupShaders();
// Makes the shader of that index current (created on first use, sent only when it differs).
// Non-zero on success; 0 when shaders are not in use or the device refuses the index.
int SetVertexShaderByIndex(int index);
int SetPixelShaderByIndex(int index);
// The last index asked of each setter (for tests).
extern int LastVertexShaderIndexAsked;
extern int LastPixelShaderIndexAsked;
// Uploads the cached shader constants of a lighting configuration (model drawing passes 0);
// nothing is sent while shaders are not in use. Returns 0.
int SetShaderConstantSet(int configuration);

// ---- Stage settings ----

// Argument codes of the operation fields: 0 diffuse, 1 current, 2 texture, 3 texture factor,
// 4 specular; operation codes: 1 disable, 2 select arg 1, 3 select arg 2, 4 modulate, 7 add,
// 13 blend by texture alpha, 14 blend by factor alpha.
struct StageSetting {
  int GraphHandle;    // texture of the stage: a graph handle, 0 for none
  int TexCoordIndex;
  // In record order: alpha arg 1, alpha arg 2, alpha op, colour arg 1, colour arg 2, colour op.
  uint16_t Ops[6];
};
struct StageSettingsRecord {
  int First;             // always 0
  int AlphaBlendEnable;
  uint32_t TextureFactor;  // 32-bit ARGB
  int SrcBlend;          // device blend factors and operation
  int DestBlend;
  int BlendOp;
  int StageCount;
  StageSetting Stages[D3D_STAGE_COUNT];
};
extern StageSettingsRecord StageSettings;
// The device stage state of each operation field, in record order.
constexpr D3DTextureStageState kStageOpStates[6] = {D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2,
                                                    D3DTSS_ALPHAOP,   D3DTSS_COLORARG1,
                                                    D3DTSS_COLORARG2, D3DTSS_COLOROP};
// Flushes the 2-D batch and applies StageSettings to the device through the caches; stages
// from StageCount on are disabled (both operations 1, no texture). Returns 0.
int RefreshBlendStates();

// ---- Transforms ----

// The transforms as last stored by the transform setters, with the product View x Projection
// that view culling reads (Projection as the device receives it, see SetViewportMatrix).
struct ViewMatrixCache {
  MATRIX World;
  MATRIX View;
  MATRIX Projection;
  MATRIX Viewport;
  MATRIX ViewProjection;
};
extern ViewMatrixCache ViewMatrices;
// The projection the device receives: Projection x Viewport x the inverse of the draw screen's
// own viewport matrix, or Projection itself (bit for bit) when Viewport is the screen's own.
extern MATRIX DeviceProjectionMatrix;

// Recomputes DeviceProjectionMatrix and ViewProjection from the stored matrices.
void RefreshViewMatrixCache();
// Store the transform, recompute the combined matrices and send what changed. Return 0.
int SetProjectionMatrix(const MATRIX* matrix);
int SetViewMatrix(const MATRIX* matrix);  // flushes pending drawing first
int SetViewportMatrix(const MATRIX* matrix);
// Sends the world matrix to the device (and stores it as ViewMatrices.World) and clears the
// world-matrix state flag. Returns 0.
int SetWorldMatrixDirect(const MATRIX* matrix);
// 1 while the device world matrix is the identity the 3-D base drawers sent; they send it again
// only when this is 0.
extern int WorldIdentityFlag;
// Rebuilds the projection from the camera settings and hands it to SetProjectionMatrix.
int RefreshProjectionMatrix();
// Places the view for a draw screen of width w and height h (eye (w/2, h/2, -d), d = (h/2) /
// tan 30 degrees, viewport centred, perspective 60 degrees, near d / 10, far d + 20000), without
// touching the camera's stored position, target, up or angles. w/2 and h/2 are integer halves.
void PlaceDrawScreenView(int w, int h);

// ---- Draw settings, lights and material ----

// The draw-settings reset of graphics start: default light, camera and 3-D material.
int InitDrawSettings();

// Per device light slot, as FlushLightsToDevice last sent it, with the constants the software
// lighting reads.
struct DeviceLightSlot {
  D3DLight Light;
  float DiffuseFactor, AmbientFactor, SpecularFactor;  // red components
  float Attenuation0, Attenuation1, Attenuation2;
};
constexpr int DEVICE_LIGHT_MAX = 4096;
struct DeviceLightTable {
  int Count;    // slots in use
  int Highest;  // highest slot used, -1 when none
  DeviceLightSlot Slots[DEVICE_LIGHT_MAX];
};
extern DeviceLightTable DeviceLights;
// The material constants the software lighting reads.
struct MaterialLightingConstants {
  float DiffuseR;
  float SpecularR;
  float Power;
  float AmbientBase;  // emissive.r + ambient.r x global ambient red
};
extern MaterialLightingConstants MaterialConstants;

// Sets device lighting from the lighting-off flag, then hands changed lights to device slots
// (see the light table). Returns 0.
int FlushLightsToDevice();
// Before a 3-D draw: sends the 3-D material when changed and chooses the material colour sources
// from the use-vertex-colour flags. Returns 0.
int BeginDrawPrimitive();
// Sends a device material through the cache and updates MaterialConstants. Returns 0.
int ApplyMaterial(const COLOR_F* diffuse, const COLOR_F* ambient, const COLOR_F* specular,
                  const COLOR_F* emissive, float power);

// ---- Scene and primitives ----

// Splits a packed screen colour (GetColor) into 0..255 channels: 0x00RRGGBB on a 32-bit
// screen; 5:6:5 on a 16-bit one, each channel widened by the image layer's rule (so white
// splits back to 255, 255, 255). Null pointers are skipped. Returns 0.
int SplitColor(uint32_t color, int* r, int* g, int* b);

// Flushes the 2-D vertex batch (there is none in Direct3D mode). Returns 0.
int FlushPendingDraws();
// Opens the scene once when a device exists and no scene is open. Returns 0.
int D3D9BeginSceneGuard();

// A vertex of the unlit 3-D primitives.
struct UnlitVertex3D {
  VECTOR pos;
  COLOR_U8 color;
  float u, v;
};
constexpr uint32_t UNLIT_VERTEX3D_FVF = D3DFVF_XYZ | D3DFVF_DIFFUSE | (1u << D3DFVF_TEXCOUNT_SHIFT);
constexpr uint32_t VERTEX3D_FVF =
    D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | (2u << D3DFVF_TEXCOUNT_SHIFT);
constexpr int DX_NONE_GRAPH = -5;

// Draws unlit, unindexed primitives (type 2 line list, 4 triangle list) in world space with the
// current blend mode; graph -5 untextured. 0, or -1 for a bad graph handle or count. Software
// mode draws nothing and returns 0.
int DrawLine3DBase(const UnlitVertex3D* vertices, int vertexCount, int primitiveType, int graph,
                   int flag);
// Its indexed form (16-bit indices).
int DrawTriangle3DBase(const UnlitVertex3D* vertices, int vertexCount, const uint16_t* indices,
                       int indexCount, int primitiveType, int graph, int flag);
// Draws indexed VERTEX3D primitives lit by the device lights and the 3-D material.
int DrawPolygonIndexed3DBase(const VERTEX3D* vertices, int vertexCount, const uint16_t* indices,
                             int indexCount, int primitiveType, int graph, int flag);

// ---- Device restore ----

// The model system's part of a device restore, set at model-system start (empty until then):
// release its device buffers before the device goes, rebuild them and its textures after.
struct ModelDeviceHooks {
  int (*TerminateAllVertexBuffers)();
  int (*SetupAllModelBaseVertexBuffers)();
  int (*RestoreTextures)();
};
// Installs the hooks (null clears them).
void SetModelDeviceHooks(const ModelDeviceHooks* hooks);
// The device restore: model buffers released, every graph texture released, the device
// re-created, graph textures re-created and refilled from their host copies, model buffers and
// textures rebuilt, lights marked for re-sending, the projection put back, the caches forced to
// re-send. 0, or -1 when the device cannot be re-created (Device is then null).
int RestoreD3DDevice();
