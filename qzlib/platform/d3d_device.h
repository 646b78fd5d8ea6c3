// The Direct3D stand-in: a device of our own that records everything the engine sends.
//
// It offers the device methods the graphics core and the model system call, keeps buffers and
// textures in host memory (reference-counted, with live counts for leak tests) and counts calls
// per method. Switched on (D3DStandIn().Recording, .Snapshots; both off by default, so that a
// long run keeps no memory per frame), it records every call with its arguments and, at every
// draw, takes a self-contained snapshot of what the draw reads (vertex bytes and indices, vertex
// format or shader indices, shader constants, transforms, material, lights, render, stage and
// sampler states), from which a replayer can make a picture. Tests drive its failure hooks, its
// shader switch and its device loss.
//
// Method results follow the platform's convention: 0 (D3D_OK) on success, a negative code on
// failure. Numbers that the engine writes as device values carry the device's own numbering.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include <qzlib/base/types.h>

constexpr int D3D_OK = 0;
constexpr int D3DERR_INVALIDCALL = -1;
constexpr int D3DERR_OUTOFVIDEOMEMORY = -2;
constexpr int D3DERR_DEVICELOST = -3;

// Primitive types.
enum D3DPrimitiveType : uint32_t {
  D3DPT_POINTLIST = 1,
  D3DPT_LINELIST = 2,
  D3DPT_LINESTRIP = 3,
  D3DPT_TRIANGLELIST = 4,
  D3DPT_TRIANGLESTRIP = 5,
  D3DPT_TRIANGLEFAN = 6,
};

// Buffer usage bits, pools and index formats.
constexpr uint32_t D3DUSAGE_WRITEONLY = 0x8;
constexpr uint32_t D3DUSAGE_DYNAMIC = 0x200;
constexpr uint32_t D3DPOOL_DEFAULT = 0;
constexpr uint32_t D3DPOOL_MANAGED = 1;
constexpr uint32_t D3DFMT_INDEX16 = 101;
constexpr uint32_t D3DFMT_INDEX32 = 102;
constexpr uint32_t D3DFMT_A8R8G8B8 = 21;

// Flexible vertex format bits.
constexpr uint32_t D3DFVF_XYZ = 0x002;
constexpr uint32_t D3DFVF_NORMAL = 0x010;
constexpr uint32_t D3DFVF_DIFFUSE = 0x040;
constexpr uint32_t D3DFVF_SPECULAR = 0x080;
constexpr uint32_t D3DFVF_TEXCOUNT_SHIFT = 8;
constexpr uint32_t D3DFVF_TEXCOUNT_MASK = 0xF00;
// Coordinate-set size of set i: two bits at 16 + 2i; 0 two floats, 1 three, 2 four, 3 one.
constexpr uint32_t D3DFVF_TEXCOORDSIZE_SHIFT = 16;

// The byte size of one vertex of a flexible vertex format (0 when the format names no position).
uint32_t D3DFvfVertexSize(uint32_t fvf);
// Vertices read by a draw of primCount primitives of the given type.
uint32_t D3DPrimitiveVertexCount(uint32_t type, uint32_t primCount);

// Render states (our own numbering).
enum D3DRenderState : uint32_t {
  D3DRS_ZENABLE,
  D3DRS_ZWRITEENABLE,
  D3DRS_ZFUNC,
  D3DRS_DEPTHBIAS,
  D3DRS_SHADEMODE,
  D3DRS_CULLMODE,
  D3DRS_LIGHTING,
  D3DRS_SPECULARENABLE,
  D3DRS_DIFFUSEMATERIALSOURCE,
  D3DRS_SPECULARMATERIALSOURCE,
  D3DRS_AMBIENT,
  D3DRS_FOGENABLE,
  D3DRS_ALPHABLENDENABLE,
  D3DRS_SRCBLEND,
  D3DRS_DESTBLEND,
  D3DRS_BLENDOP,
  D3DRS_TEXTUREFACTOR,
  D3DRS_COUNT
};
constexpr uint32_t D3DCMP_LESSEQUAL = 4;
constexpr uint32_t D3DSHADE_GOURAUD = 2;
// Device cull states: no culling, cull clockwise, cull counter-clockwise triangles.
enum D3DCull : uint32_t { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };
// Blend factors and operations.
enum D3DBlend : uint32_t {
  D3DBLEND_ZERO = 1,
  D3DBLEND_ONE = 2,
  D3DBLEND_SRCCOLOR = 3,
  D3DBLEND_INVSRCCOLOR = 4,
  D3DBLEND_SRCALPHA = 5,
  D3DBLEND_INVSRCALPHA = 6,
  D3DBLEND_DESTCOLOR = 9,
};
enum D3DBlendOp : uint32_t { D3DBLENDOP_ADD = 1, D3DBLENDOP_SUBTRACT = 2, D3DBLENDOP_REVSUBTRACT = 3 };
// Material colour sources.
enum D3DMaterialSource : uint32_t { D3DMCS_MATERIAL = 0, D3DMCS_COLOR1 = 1, D3DMCS_COLOR2 = 2 };

// Texture-stage states (our own numbering); argument and operation values are the codes below.
enum D3DTextureStageState : uint32_t {
  D3DTSS_COLOROP,
  D3DTSS_COLORARG1,
  D3DTSS_COLORARG2,
  D3DTSS_ALPHAOP,
  D3DTSS_ALPHAARG1,
  D3DTSS_ALPHAARG2,
  D3DTSS_TEXCOORDINDEX,
  D3DTSS_TEXTURETRANSFORMFLAGS,
  D3DTSS_COUNT
};
enum D3DTextureArg : uint32_t {
  D3DTA_DIFFUSE = 0,
  D3DTA_CURRENT = 1,
  D3DTA_TEXTURE = 2,
  D3DTA_TFACTOR = 3,
  D3DTA_SPECULAR = 4,
};
enum D3DTextureOp : uint32_t {
  D3DTOP_DISABLE = 1,
  D3DTOP_SELECTARG1 = 2,
  D3DTOP_SELECTARG2 = 3,
  D3DTOP_MODULATE = 4,
  D3DTOP_ADD = 7,
  D3DTOP_BLENDTEXTUREALPHA = 13,
  D3DTOP_BLENDFACTORALPHA = 14,
};
// Texture transform flags: off, or the count of coordinates transformed.
constexpr uint32_t D3DTTFF_DISABLE = 0;
constexpr uint32_t D3DTTFF_COUNT2 = 2;

// Sampler states (our own numbering), filters and address modes.
enum D3DSamplerState : uint32_t {
  D3DSAMP_ADDRESSU,
  D3DSAMP_ADDRESSV,
  D3DSAMP_MAGFILTER,
  D3DSAMP_MINFILTER,
  D3DSAMP_MIPFILTER,
  D3DSAMP_MAXANISOTROPY,
  D3DSAMP_COUNT
};
enum D3DTextureFilter : uint32_t {
  D3DTEXF_NONE = 0,
  D3DTEXF_POINT = 1,
  D3DTEXF_LINEAR = 2,
  D3DTEXF_ANISOTROPIC = 3,
};
enum D3DTextureAddress : uint32_t {
  D3DTADDRESS_WRAP = 1,
  D3DTADDRESS_MIRROR = 2,
  D3DTADDRESS_CLAMP = 3,
  D3DTADDRESS_BORDER = 4,
};

// Transforms: world, view, projection, and the texture transform of stage i at TEXTURE0 + i.
enum D3DTransformState : uint32_t {
  D3DTS_WORLD = 0,
  D3DTS_VIEW = 1,
  D3DTS_PROJECTION = 2,
  D3DTS_TEXTURE0 = 16,
};

constexpr int D3D_STAGE_COUNT = 8;
constexpr int D3D_VS_CONSTANT_COUNT = 256;
constexpr int D3D_PS_CONSTANT_COUNT = 32;

// A device light: the order of the engine's light description.
struct D3DLight {
  int32_t Type;  // 1 point, 2 spot, 3 directional
  COLOR_F Diffuse;
  COLOR_F Specular;
  COLOR_F Ambient;
  VECTOR Position;
  VECTOR Direction;
  float Range;
  float Falloff;
  float Attenuation0;
  float Attenuation1;
  float Attenuation2;
  float Theta;
  float Phi;
};

struct D3DMaterial {
  COLOR_F Diffuse;
  COLOR_F Ambient;
  COLOR_F Specular;
  COLOR_F Emissive;
  float Power;
};

// Every object of the device is reference-counted: Release at a count of 1 destroys it.
class D3DResource {
 public:
  virtual ~D3DResource();
  uint32_t AddRef() { return ++refs_; }
  uint32_t Release();
  // The object's number in recorded calls: objects are numbered from 1 as they are created.
  uint32_t Id() const { return id_; }

 protected:
  D3DResource();
  uint32_t refs_ = 1;
  uint32_t id_;
};

// A vertex or index buffer in host memory.
class D3DBuffer : public D3DResource {
 public:
  // Pointer to the bytes from offset (size 0: to the end); fails past the end, when locked
  // already, or when the lock-failure hook fires.
  int Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
  int Unlock();
  uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }
  uint32_t Usage() const { return usage_; }
  uint32_t Format() const { return format_; }  // vertex format, or index format
  uint32_t Pool() const { return pool_; }
  bool IsIndexBuffer() const { return index_; }
  const uint8_t* Bytes() const { return bytes_.data(); }

 private:
  friend class D3DDevice;
  D3DBuffer(bool index, uint32_t size, uint32_t usage, uint32_t format, uint32_t pool);
  ~D3DBuffer() override;
  std::vector<uint8_t> bytes_;
  uint32_t usage_, format_, pool_;
  bool index_;
  bool locked_ = false;
};
using D3DVertexBuffer = D3DBuffer;
using D3DIndexBuffer = D3DBuffer;

// The pixels of one texture level: width x height 32-bit A8R8G8B8 values, rows packed.
struct D3DTexturePixels {
  uint32_t Width = 0, Height = 0;
  std::vector<uint32_t> Pixels;
};

// A texture in host memory (one level, A8R8G8B8).
class D3DTexture : public D3DResource {
 public:
  // Pitch and pointer of the level's pixels; fails for a level other than 0, when locked, or
  // when the lock-failure hook fires.
  int LockRect(uint32_t level, int* pitch, void** bits);
  int UnlockRect(uint32_t level);
  uint32_t Width() const { return pixels_->Width; }
  uint32_t Height() const { return pixels_->Height; }
  uint32_t Format() const { return format_; }
  uint32_t Pool() const { return pool_; }
  // The pixels as they stand; shared with the snapshots that saw them (a lock copies first).
  std::shared_ptr<const D3DTexturePixels> Pixels() const { return pixels_; }

 private:
  friend class D3DDevice;
  D3DTexture(uint32_t w, uint32_t h, uint32_t format, uint32_t pool);
  ~D3DTexture() override;
  std::shared_ptr<D3DTexturePixels> pixels_;
  uint32_t format_, pool_;
  bool locked_ = false;
};

// A shader of the stand-in: the index the engine created it for.
class D3DShader : public D3DResource {
 public:
  int Index() const { return index_; }
  bool IsPixelShader() const { return pixel_; }

 private:
  friend class D3DDevice;
  D3DShader(int index, bool pixel);
  ~D3DShader() override;
  int index_;
  bool pixel_;
};

// The device methods, one code per method for the call counts.
enum class D3DMethod : uint8_t {
  SetRenderState,
  SetSamplerState,
  SetTextureStageState,
  SetTexture,
  SetTransform,
  SetMaterial,
  SetLight,
  LightEnable,
  SetStreamSource,
  SetIndices,
  SetFVF,
  SetVertexShader,
  SetPixelShader,
  SetVertexShaderConstantF,
  SetPixelShaderConstantF,
  CreateVertexShader,
  CreatePixelShader,
  CreateTexture,
  CreateVertexBuffer,
  CreateIndexBuffer,
  BeginScene,
  DrawPrimitiveUP,
  DrawIndexedPrimitive,
  DrawIndexedPrimitiveUP,
  Count
};
const char* D3DMethodName(D3DMethod m);

// One recorded call: its method and up to four arguments (integers; floats by their bits, objects
// by an id: buffers, textures and shaders are numbered from 1 as they are created, 0 = none).
struct D3DCall {
  D3DMethod Method;
  uint32_t Args[4];
};

// One texture stage as a draw saw it.
struct D3DStageSnapshot {
  std::shared_ptr<const D3DTexturePixels> Texture;  // null when no texture is set
  uint32_t TextureId;
  uint32_t States[D3DTSS_COUNT];
  uint32_t Samplers[D3DSAMP_COUNT];
  MATRIX TextureTransform;
};

// Everything one draw reads, copied at the draw.
struct D3DDrawSnapshot {
  D3DMethod Method;                 // which draw method
  uint32_t PrimitiveType;
  uint32_t PrimitiveCount;
  uint32_t Stride;                  // bytes per vertex
  uint32_t FirstVertex;             // index value of the first vertex in Vertices
  uint32_t VertexCount;             // vertices in Vertices
  std::vector<uint8_t> Vertices;    // the vertex bytes the draw reads
  std::vector<uint32_t> Indices;    // the indices (widened), empty for an unindexed draw
  uint32_t Fvf;
  int VertexShader, PixelShader;    // shader indices, -1 for none
  std::vector<float> VertexConstants;  // registers 0 .. highest written, 4 floats each
  std::vector<float> PixelConstants;
  MATRIX World, View, Projection;
  D3DMaterial Material;
  std::vector<std::pair<uint32_t, D3DLight>> Lights;  // enabled lights by index, ascending
  uint32_t RenderStates[D3DRS_COUNT];
  D3DStageSnapshot Stages[D3D_STAGE_COUNT];
};

// Process-wide settings of the stand-in. Snapshots and the call list grow with every draw and
// call until ClearRecord: switch them on only to look at what was drawn.
struct D3DStandInSettings {
  bool Snapshots = false;           // take a snapshot at every draw
  bool Recording = false;           // keep the call list (the counts are always kept)
  bool ShadersAvailable = false;    // shaders can be created
  std::set<int> RefusedVertexShaders;  // indices whose creation fails
  std::set<int> RefusedPixelShaders;
  long FailCreationAt = 0;          // the nth creation from now fails (1 = the next); 0 off
  long FailLockAt = 0;              // the nth lock from now fails; 0 off
};
D3DStandInSettings& D3DStandIn();
// Objects of every device alive now: buffers, textures and shaders.
long D3DLiveBufferCount();
long D3DLiveTextureCount();
long D3DLiveShaderCount();

class D3DDevice : public D3DResource {
 public:
  // A new device (reference count 1).
  static D3DDevice* Create();

  int SetRenderState(uint32_t state, uint32_t value);
  int SetSamplerState(uint32_t sampler, uint32_t state, uint32_t value);
  int SetTextureStageState(uint32_t stage, uint32_t state, uint32_t value);
  int SetTexture(uint32_t stage, D3DTexture* texture);
  int SetTransform(uint32_t which, const MATRIX* matrix);
  int SetMaterial(const D3DMaterial* material);
  int SetLight(uint32_t index, const D3DLight* light);
  int LightEnable(uint32_t index, int enable);
  int SetStreamSource(uint32_t stream, D3DVertexBuffer* buffer, uint32_t offset, uint32_t stride);
  int SetIndices(D3DIndexBuffer* buffer);
  int SetFVF(uint32_t fvf);
  int SetVertexShader(D3DShader* shader);
  int SetPixelShader(D3DShader* shader);
  int SetVertexShaderConstantF(uint32_t start, const float* data, uint32_t count4);
  int SetPixelShaderConstantF(uint32_t start, const float* data, uint32_t count4);
  int CreateVertexShader(int index, D3DShader** out);
  int CreatePixelShader(int index, D3DShader** out);
  // One-level A8R8G8B8 texture; fails for a zero size or another format.
  int CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                    uint32_t format, uint32_t pool, D3DTexture** out);
  // Refuses a zero size and a dynamic buffer in the managed pool.
  int CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                         D3DVertexBuffer** out);
  // Refuses a zero size, a dynamic buffer in the managed pool and a format other than 16 or
  // 32-bit indices.
  int CreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                        D3DIndexBuffer** out);
  int BeginScene();
  int DrawPrimitiveUP(uint32_t type, uint32_t primCount, const void* vertices, uint32_t stride);
  int DrawIndexedPrimitive(uint32_t type, int baseVertex, uint32_t minIndex, uint32_t numVertices,
                           uint32_t startIndex, uint32_t primCount);
  int DrawIndexedPrimitiveUP(uint32_t type, uint32_t minIndex, uint32_t numVertices,
                             uint32_t primCount, const void* indices, uint32_t indexFormat,
                             const void* vertices, uint32_t stride);

  // ---- The record (empty unless switched on in D3DStandIn()) ----
  const std::vector<D3DCall>& Calls() const { return calls_; }
  const std::vector<D3DDrawSnapshot>& Draws() const { return draws_; }
  uint64_t CallCount(D3DMethod m) const { return counts_[static_cast<int>(m)]; }
  // Calls of every method except the draws and creations: the state traffic.
  uint64_t StateCallCount() const;
  // Clears the call list, the counts and the snapshots.
  void ClearRecord();
  // Bytes held by the call list and the snapshots (textures shared with live ones counted too).
  uint64_t RecordBytes() const;
  // The current value of a state as the device holds it.
  uint32_t RenderState(uint32_t state) const { return renderStates_[state]; }
  uint32_t TextureStageState(uint32_t stage, uint32_t state) const { return stages_[stage][state]; }
  uint32_t SamplerState(uint32_t stage, uint32_t state) const { return samplers_[stage][state]; }
  const MATRIX& Transform(uint32_t which) const;
  const D3DMaterial& Material() const { return material_; }
  const D3DLight* Light(uint32_t index) const;
  bool IsLightEnabled(uint32_t index) const;
  D3DTexture* Texture(uint32_t stage) const { return textures_[stage]; }
  int SceneBegun() const { return sceneBegun_; }

  // Device loss: runs the handler (the graphics core's restore), which is expected to release
  // this device and create another.
  using LossHandler = void (*)();
  static void SetLossHandler(LossHandler handler);
  static void SimulateDeviceLoss();

 private:
  D3DDevice();
  ~D3DDevice() override;
  void Record(D3DMethod m, uint32_t a0 = 0, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0);
  void Snapshot(D3DMethod m, uint32_t type, uint32_t primCount, uint32_t stride,
                const uint8_t* vertices, size_t vertexBytes, uint32_t firstVertex,
                uint32_t vertexCount, const void* indices, uint32_t indexFormat,
                uint32_t indexCount);
  int CreateBuffer(bool index, uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                   D3DBuffer** out);
  int CreateShader(int index, bool pixel, D3DShader** out);

  std::vector<D3DCall> calls_;
  std::vector<D3DDrawSnapshot> draws_;
  uint64_t counts_[static_cast<int>(D3DMethod::Count)] = {};
  uint32_t renderStates_[D3DRS_COUNT] = {};
  uint32_t stages_[D3D_STAGE_COUNT][D3DTSS_COUNT] = {};
  uint32_t samplers_[D3D_STAGE_COUNT][D3DSAMP_COUNT] = {};
  D3DTexture* textures_[D3D_STAGE_COUNT] = {};
  MATRIX world_, view_, projection_, textureTransforms_[D3D_STAGE_COUNT];
  D3DMaterial material_{};
  std::vector<D3DLight> lights_;
  std::vector<uint8_t> lightEnabled_;
  D3DBuffer* stream_ = nullptr;
  uint32_t streamOffset_ = 0, streamStride_ = 0;
  D3DBuffer* indices_ = nullptr;
  uint32_t fvf_ = 0;
  D3DShader* vertexShader_ = nullptr;
  D3DShader* pixelShader_ = nullptr;
  float vsConstants_[D3D_VS_CONSTANT_COUNT * 4] = {};
  float psConstants_[D3D_PS_CONSTANT_COUNT * 4] = {};
  uint32_t vsConstantsUsed_ = 0, psConstantsUsed_ = 0;
  int sceneBegun_ = 0;
};
