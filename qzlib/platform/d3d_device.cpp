#include <qzlib/platform/d3d_device.h>

#include <cstring>

namespace {

D3DStandInSettings g_settings;
long g_liveBuffers = 0, g_liveTextures = 0, g_liveShaders = 0;
uint32_t g_nextId = 1;
D3DDevice::LossHandler g_lossHandler = nullptr;

const MATRIX kIdentity = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

uint32_t IdOf(const D3DResource* r) { return r ? r->Id() : 0; }

// Counts down a failure hook; true when this call is the one to fail.
bool HookFires(long& counter) {
  if (counter <= 0) return false;
  return --counter == 0;
}

// Replaces a held reference.
template <class T>
void Hold(T*& slot, T* object) {
  if (object) object->AddRef();
  if (slot) slot->Release();
  slot = object;
}

}  // namespace

D3DStandInSettings& D3DStandIn() { return g_settings; }
long D3DLiveBufferCount() { return g_liveBuffers; }
long D3DLiveTextureCount() { return g_liveTextures; }
long D3DLiveShaderCount() { return g_liveShaders; }

uint32_t D3DFvfVertexSize(uint32_t fvf) {
  if (!(fvf & D3DFVF_XYZ)) return 0;
  uint32_t size = 12;
  if (fvf & D3DFVF_NORMAL) size += 12;
  if (fvf & D3DFVF_DIFFUSE) size += 4;
  if (fvf & D3DFVF_SPECULAR) size += 4;
  uint32_t sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
  static const uint32_t kSetFloats[4] = {2, 3, 4, 1};
  for (uint32_t i = 0; i < sets && i < 8; ++i)
    size += 4 * kSetFloats[(fvf >> (D3DFVF_TEXCOORDSIZE_SHIFT + 2 * i)) & 3];
  return size;
}

uint32_t D3DPrimitiveVertexCount(uint32_t type, uint32_t primCount) {
  if (primCount == 0) return 0;
  switch (type) {
    case D3DPT_POINTLIST: return primCount;
    case D3DPT_LINELIST: return primCount * 2;
    case D3DPT_LINESTRIP: return primCount + 1;
    case D3DPT_TRIANGLELIST: return primCount * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primCount + 2;
    default: return 0;
  }
}

const char* D3DMethodName(D3DMethod m) {
  static const char* const kNames[] = {
      "SetRenderState",        "SetSamplerState",       "SetTextureStageState",
      "SetTexture",            "SetTransform",          "SetMaterial",
      "SetLight",              "LightEnable",           "SetStreamSource",
      "SetIndices",            "SetFVF",                "SetVertexShader",
      "SetPixelShader",        "SetVertexShaderConstantF", "SetPixelShaderConstantF",
      "CreateVertexShader",    "CreatePixelShader",     "CreateTexture",
      "CreateVertexBuffer",    "CreateIndexBuffer",     "BeginScene",
      "DrawPrimitiveUP",       "DrawIndexedPrimitive",  "DrawIndexedPrimitiveUP"};
  int i = static_cast<int>(m);
  return i < static_cast<int>(D3DMethod::Count) ? kNames[i] : "?";
}

// ---- Resources ----

D3DResource::D3DResource() : id_(g_nextId++) {}
D3DResource::~D3DResource() = default;

uint32_t D3DResource::Release() {
  uint32_t left = --refs_;
  if (left == 0) delete this;
  return left;
}

D3DBuffer::D3DBuffer(bool index, uint32_t size, uint32_t usage, uint32_t format, uint32_t pool)
    : bytes_(size), usage_(usage), format_(format), pool_(pool), index_(index) {
  ++g_liveBuffers;
}
D3DBuffer::~D3DBuffer() { --g_liveBuffers; }

int D3DBuffer::Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
  if (!data || locked_ || offset > bytes_.size() ||
      (size != 0 && size > bytes_.size() - offset))
    return D3DERR_INVALIDCALL;
  if (HookFires(g_settings.FailLockAt)) return D3DERR_INVALIDCALL;
  locked_ = true;
  *data = bytes_.data() + offset;
  return D3D_OK;
}

int D3DBuffer::Unlock() {
  if (!locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  return D3D_OK;
}

D3DTexture::D3DTexture(uint32_t w, uint32_t h, uint32_t format, uint32_t pool)
    : pixels_(std::make_shared<D3DTexturePixels>()), format_(format), pool_(pool) {
  pixels_->Width = w;
  pixels_->Height = h;
  pixels_->Pixels.assign(size_t(w) * h, 0);
  ++g_liveTextures;
}
D3DTexture::~D3DTexture() { --g_liveTextures; }

int D3DTexture::LockRect(uint32_t level, int* pitch, void** bits) {
  if (level != 0 || !pitch || !bits || locked_) return D3DERR_INVALIDCALL;
  if (HookFires(g_settings.FailLockAt)) return D3DERR_INVALIDCALL;
  // Snapshots keep the pixels they saw: a lock writes into a copy when they are shared.
  if (pixels_.use_count() > 1) pixels_ = std::make_shared<D3DTexturePixels>(*pixels_);
  locked_ = true;
  *pitch = static_cast<int>(pixels_->Width * 4);
  *bits = pixels_->Pixels.data();
  return D3D_OK;
}

int D3DTexture::UnlockRect(uint32_t level) {
  if (level != 0 || !locked_) return D3DERR_INVALIDCALL;
  locked_ = false;
  return D3D_OK;
}

D3DShader::D3DShader(int index, bool pixel) : index_(index), pixel_(pixel) { ++g_liveShaders; }
D3DShader::~D3DShader() { --g_liveShaders; }

// ---- Device ----

D3DDevice* D3DDevice::Create() { return new D3DDevice(); }

D3DDevice::D3DDevice() {
  world_ = view_ = projection_ = kIdentity;
  for (auto& m : textureTransforms_) m = kIdentity;
  // Start values of the states the engine reads back through its caches.
  renderStates_[D3DRS_ZENABLE] = 1;
  renderStates_[D3DRS_ZWRITEENABLE] = 1;
  renderStates_[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  renderStates_[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  renderStates_[D3DRS_CULLMODE] = D3DCULL_CCW;
  renderStates_[D3DRS_LIGHTING] = 1;
  renderStates_[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  renderStates_[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  renderStates_[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  renderStates_[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  renderStates_[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  renderStates_[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  for (int s = 0; s < D3D_STAGE_COUNT; ++s) {
    stages_[s][D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    stages_[s][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    stages_[s][D3DTSS_COLORARG2] = D3DTA_CURRENT;
    stages_[s][D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    stages_[s][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    stages_[s][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    stages_[s][D3DTSS_TEXCOORDINDEX] = s;
    samplers_[s][D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
    samplers_[s][D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
    samplers_[s][D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
    samplers_[s][D3DSAMP_MINFILTER] = D3DTEXF_POINT;
    samplers_[s][D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
    samplers_[s][D3DSAMP_MAXANISOTROPY] = 1;
  }
}

D3DDevice::~D3DDevice() {
  for (auto& t : textures_) Hold(t, static_cast<D3DTexture*>(nullptr));
  Hold(stream_, static_cast<D3DBuffer*>(nullptr));
  Hold(indices_, static_cast<D3DBuffer*>(nullptr));
  Hold(vertexShader_, static_cast<D3DShader*>(nullptr));
  Hold(pixelShader_, static_cast<D3DShader*>(nullptr));
}

void D3DDevice::SetLossHandler(LossHandler handler) { g_lossHandler = handler; }
void D3DDevice::SimulateDeviceLoss() {
  if (g_lossHandler) g_lossHandler();
}

void D3DDevice::Record(D3DMethod m, uint32_t a0, uint32_t a1, uint32_t a2, uint32_t a3) {
  ++counts_[static_cast<int>(m)];
  if (g_settings.Recording) calls_.push_back(D3DCall{m, {a0, a1, a2, a3}});
}

uint64_t D3DDevice::StateCallCount() const {
  uint64_t n = 0;
  for (int i = 0; i <= static_cast<int>(D3DMethod::SetPixelShaderConstantF); ++i) n += counts_[i];
  return n;
}

void D3DDevice::ClearRecord() {
  calls_.clear();
  draws_.clear();
  std::memset(counts_, 0, sizeof counts_);
}

uint64_t D3DDevice::RecordBytes() const {
  uint64_t n = calls_.capacity() * sizeof(D3DCall) + draws_.capacity() * sizeof(D3DDrawSnapshot);
  for (const D3DDrawSnapshot& s : draws_) {
    n += s.Vertices.capacity() + s.Indices.capacity() * sizeof(uint32_t) +
         (s.VertexConstants.capacity() + s.PixelConstants.capacity()) * sizeof(float) +
         s.Lights.capacity() * sizeof(s.Lights[0]);
    for (const D3DStageSnapshot& st : s.Stages)
      if (st.Texture) n += st.Texture->Pixels.capacity() * sizeof(uint32_t);
  }
  return n;
}

const MATRIX& D3DDevice::Transform(uint32_t which) const {
  if (which == D3DTS_WORLD) return world_;
  if (which == D3DTS_VIEW) return view_;
  if (which == D3DTS_PROJECTION) return projection_;
  if (which >= D3DTS_TEXTURE0 && which < D3DTS_TEXTURE0 + D3D_STAGE_COUNT)
    return textureTransforms_[which - D3DTS_TEXTURE0];
  return kIdentity;
}

const D3DLight* D3DDevice::Light(uint32_t index) const {
  return index < lights_.size() ? &lights_[index] : nullptr;
}

bool D3DDevice::IsLightEnabled(uint32_t index) const {
  return index < lightEnabled_.size() && lightEnabled_[index];
}

int D3DDevice::SetRenderState(uint32_t state, uint32_t value) {
  Record(D3DMethod::SetRenderState, state, value);
  if (state >= D3DRS_COUNT) return D3DERR_INVALIDCALL;
  renderStates_[state] = value;
  return D3D_OK;
}

int D3DDevice::SetSamplerState(uint32_t sampler, uint32_t state, uint32_t value) {
  Record(D3DMethod::SetSamplerState, sampler, state, value);
  if (sampler >= D3D_STAGE_COUNT || state >= D3DSAMP_COUNT) return D3DERR_INVALIDCALL;
  samplers_[sampler][state] = value;
  return D3D_OK;
}

int D3DDevice::SetTextureStageState(uint32_t stage, uint32_t state, uint32_t value) {
  Record(D3DMethod::SetTextureStageState, stage, state, value);
  if (stage >= D3D_STAGE_COUNT || state >= D3DTSS_COUNT) return D3DERR_INVALIDCALL;
  stages_[stage][state] = value;
  return D3D_OK;
}

int D3DDevice::SetTexture(uint32_t stage, D3DTexture* texture) {
  Record(D3DMethod::SetTexture, stage, IdOf(texture));
  if (stage >= D3D_STAGE_COUNT) return D3DERR_INVALIDCALL;
  Hold(textures_[stage], texture);
  return D3D_OK;
}

int D3DDevice::SetTransform(uint32_t which, const MATRIX* matrix) {
  Record(D3DMethod::SetTransform, which);
  if (!matrix) return D3DERR_INVALIDCALL;
  if (which == D3DTS_WORLD) world_ = *matrix;
  else if (which == D3DTS_VIEW) view_ = *matrix;
  else if (which == D3DTS_PROJECTION) projection_ = *matrix;
  else if (which >= D3DTS_TEXTURE0 && which < D3DTS_TEXTURE0 + D3D_STAGE_COUNT)
    textureTransforms_[which - D3DTS_TEXTURE0] = *matrix;
  else return D3DERR_INVALIDCALL;
  return D3D_OK;
}

int D3DDevice::SetMaterial(const D3DMaterial* material) {
  Record(D3DMethod::SetMaterial);
  if (!material) return D3DERR_INVALIDCALL;
  material_ = *material;
  return D3D_OK;
}

int D3DDevice::SetLight(uint32_t index, const D3DLight* light) {
  Record(D3DMethod::SetLight, index, light ? uint32_t(light->Type) : 0);
  if (!light || index >= 0x10000) return D3DERR_INVALIDCALL;
  if (index >= lights_.size()) {
    lights_.resize(index + 1, D3DLight{});
    lightEnabled_.resize(index + 1, 0);
  }
  lights_[index] = *light;
  return D3D_OK;
}

int D3DDevice::LightEnable(uint32_t index, int enable) {
  Record(D3DMethod::LightEnable, index, enable ? 1u : 0u);
  if (index >= 0x10000) return D3DERR_INVALIDCALL;
  if (index >= lights_.size()) {
    // Enabling a light never set gives the platform's default light (white, directional +z).
    D3DLight d{};
    d.Type = 3;
    d.Diffuse = COLOR_F{1, 1, 1, 0};
    d.Direction = VECTOR{0, 0, 1};
    lights_.resize(index + 1, D3DLight{});
    lights_[index] = d;
    lightEnabled_.resize(index + 1, 0);
  }
  lightEnabled_[index] = enable ? 1 : 0;
  return D3D_OK;
}

int D3DDevice::SetStreamSource(uint32_t stream, D3DVertexBuffer* buffer, uint32_t offset,
                               uint32_t stride) {
  Record(D3DMethod::SetStreamSource, stream, IdOf(buffer), offset, stride);
  if (stream != 0 || (buffer && buffer->IsIndexBuffer())) return D3DERR_INVALIDCALL;
  Hold(stream_, buffer);
  streamOffset_ = offset;
  streamStride_ = stride;
  return D3D_OK;
}

int D3DDevice::SetIndices(D3DIndexBuffer* buffer) {
  Record(D3DMethod::SetIndices, IdOf(buffer));
  if (buffer && !buffer->IsIndexBuffer()) return D3DERR_INVALIDCALL;
  Hold(indices_, buffer);
  return D3D_OK;
}

int D3DDevice::SetFVF(uint32_t fvf) {
  Record(D3DMethod::SetFVF, fvf);
  fvf_ = fvf;
  return D3D_OK;
}

int D3DDevice::SetVertexShader(D3DShader* shader) {
  Record(D3DMethod::SetVertexShader, shader ? uint32_t(shader->Index()) : 0xFFFFFFFFu);
  if (shader && shader->IsPixelShader()) return D3DERR_INVALIDCALL;
  Hold(vertexShader_, shader);
  return D3D_OK;
}

int D3DDevice::SetPixelShader(D3DShader* shader) {
  Record(D3DMethod::SetPixelShader, shader ? uint32_t(shader->Index()) : 0xFFFFFFFFu);
  if (shader && !shader->IsPixelShader()) return D3DERR_INVALIDCALL;
  Hold(pixelShader_, shader);
  return D3D_OK;
}

int D3DDevice::SetVertexShaderConstantF(uint32_t start, const float* data, uint32_t count4) {
  Record(D3DMethod::SetVertexShaderConstantF, start, count4);
  if (!data || start > D3D_VS_CONSTANT_COUNT || count4 > D3D_VS_CONSTANT_COUNT - start)
    return D3DERR_INVALIDCALL;
  std::memcpy(vsConstants_ + start * 4, data, count4 * 16);
  if (start + count4 > vsConstantsUsed_) vsConstantsUsed_ = start + count4;
  return D3D_OK;
}

int D3DDevice::SetPixelShaderConstantF(uint32_t start, const float* data, uint32_t count4) {
  Record(D3DMethod::SetPixelShaderConstantF, start, count4);
  if (!data || start > D3D_PS_CONSTANT_COUNT || count4 > D3D_PS_CONSTANT_COUNT - start)
    return D3DERR_INVALIDCALL;
  std::memcpy(psConstants_ + start * 4, data, count4 * 16);
  if (start + count4 > psConstantsUsed_) psConstantsUsed_ = start + count4;
  return D3D_OK;
}

int D3DDevice::CreateShader(int index, bool pixel, D3DShader** out) {
  Record(pixel ? D3DMethod::CreatePixelShader : D3DMethod::CreateVertexShader, uint32_t(index));
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  const auto& refused = pixel ? g_settings.RefusedPixelShaders : g_settings.RefusedVertexShaders;
  if (!g_settings.ShadersAvailable || refused.count(index)) return D3DERR_INVALIDCALL;
  if (HookFires(g_settings.FailCreationAt)) return D3DERR_OUTOFVIDEOMEMORY;
  *out = new D3DShader(index, pixel);
  return D3D_OK;
}

int D3DDevice::CreateVertexShader(int index, D3DShader** out) { return CreateShader(index, false, out); }
int D3DDevice::CreatePixelShader(int index, D3DShader** out) { return CreateShader(index, true, out); }

int D3DDevice::CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                             uint32_t format, uint32_t pool, D3DTexture** out) {
  Record(D3DMethod::CreateTexture, width, height, format, pool);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (width == 0 || height == 0 || levels > 1 || format != D3DFMT_A8R8G8B8 ||
      uint64_t(width) * height > (uint64_t(1) << 28))
    return D3DERR_INVALIDCALL;
  if (pool == D3DPOOL_MANAGED && (usage & D3DUSAGE_DYNAMIC)) return D3DERR_INVALIDCALL;
  if (HookFires(g_settings.FailCreationAt)) return D3DERR_OUTOFVIDEOMEMORY;
  *out = new D3DTexture(width, height, format, pool);
  return D3D_OK;
}

int D3DDevice::CreateBuffer(bool index, uint32_t length, uint32_t usage, uint32_t format,
                            uint32_t pool, D3DBuffer** out) {
  Record(index ? D3DMethod::CreateIndexBuffer : D3DMethod::CreateVertexBuffer, length, usage,
         format, pool);
  if (!out) return D3DERR_INVALIDCALL;
  *out = nullptr;
  if (length == 0 || (pool == D3DPOOL_MANAGED && (usage & D3DUSAGE_DYNAMIC)) ||
      (pool != D3DPOOL_MANAGED && pool != D3DPOOL_DEFAULT) ||
      (index && format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  if (HookFires(g_settings.FailCreationAt)) return D3DERR_OUTOFVIDEOMEMORY;
  *out = new D3DBuffer(index, length, usage, format, pool);
  return D3D_OK;
}

int D3DDevice::CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                                  D3DVertexBuffer** out) {
  return CreateBuffer(false, length, usage, fvf, pool, out);
}

int D3DDevice::CreateIndexBuffer(uint32_t length, uint32_t usage, uint32_t format, uint32_t pool,
                                 D3DIndexBuffer** out) {
  return CreateBuffer(true, length, usage, format, pool, out);
}

int D3DDevice::BeginScene() {
  Record(D3DMethod::BeginScene);
  if (sceneBegun_) return D3DERR_INVALIDCALL;
  sceneBegun_ = 1;
  return D3D_OK;
}

void D3DDevice::Snapshot(D3DMethod m, uint32_t type, uint32_t primCount, uint32_t stride,
                         const uint8_t* vertices, size_t vertexBytes, uint32_t firstVertex,
                         uint32_t vertexCount, const void* indices, uint32_t indexFormat,
                         uint32_t indexCount) {
  draws_.emplace_back();
  D3DDrawSnapshot& s = draws_.back();
  s.Method = m;
  s.PrimitiveType = type;
  s.PrimitiveCount = primCount;
  s.Stride = stride;
  s.FirstVertex = firstVertex;
  s.VertexCount = vertexCount;
  s.Vertices.assign(vertices, vertices + vertexBytes);
  if (indices) {
    s.Indices.resize(indexCount);
    if (indexFormat == D3DFMT_INDEX16) {
      const uint8_t* p = static_cast<const uint8_t*>(indices);
      for (uint32_t i = 0; i < indexCount; ++i) {
        uint16_t v;
        std::memcpy(&v, p + 2 * i, 2);
        s.Indices[i] = v;
      }
    } else {
      std::memcpy(s.Indices.data(), indices, size_t(indexCount) * 4);
    }
  }
  s.Fvf = fvf_;
  s.VertexShader = vertexShader_ ? vertexShader_->Index() : -1;
  s.PixelShader = pixelShader_ ? pixelShader_->Index() : -1;
  s.VertexConstants.assign(vsConstants_, vsConstants_ + vsConstantsUsed_ * 4);
  s.PixelConstants.assign(psConstants_, psConstants_ + psConstantsUsed_ * 4);
  s.World = world_;
  s.View = view_;
  s.Projection = projection_;
  s.Material = material_;
  for (uint32_t i = 0; i < lights_.size(); ++i)
    if (lightEnabled_[i]) s.Lights.emplace_back(i, lights_[i]);
  std::memcpy(s.RenderStates, renderStates_, sizeof renderStates_);
  for (int st = 0; st < D3D_STAGE_COUNT; ++st) {
    D3DStageSnapshot& g = s.Stages[st];
    g.Texture = textures_[st] ? textures_[st]->Pixels() : nullptr;
    g.TextureId = IdOf(textures_[st]);
    std::memcpy(g.States, stages_[st], sizeof g.States);
    std::memcpy(g.Samplers, samplers_[st], sizeof g.Samplers);
    g.TextureTransform = textureTransforms_[st];
  }
}

int D3DDevice::DrawPrimitiveUP(uint32_t type, uint32_t primCount, const void* vertices,
                               uint32_t stride) {
  Record(D3DMethod::DrawPrimitiveUP, type, primCount, stride);
  uint32_t count = D3DPrimitiveVertexCount(type, primCount);
  if (!vertices || count == 0 || stride == 0) return D3DERR_INVALIDCALL;
  if (g_settings.Snapshots)
    Snapshot(D3DMethod::DrawPrimitiveUP, type, primCount, stride,
             static_cast<const uint8_t*>(vertices), size_t(count) * stride, 0, count, nullptr, 0,
             0);
  return D3D_OK;
}

int D3DDevice::DrawIndexedPrimitive(uint32_t type, int baseVertex, uint32_t minIndex,
                                    uint32_t numVertices, uint32_t startIndex,
                                    uint32_t primCount) {
  Record(D3DMethod::DrawIndexedPrimitive, type, uint32_t(baseVertex), startIndex, primCount);
  uint32_t count = D3DPrimitiveVertexCount(type, primCount);
  if (!stream_ || !indices_ || count == 0 || streamStride_ == 0) return D3DERR_INVALIDCALL;
  const uint32_t indexSize = indices_->Format() == D3DFMT_INDEX16 ? 2 : 4;
  if (uint64_t(startIndex + uint64_t(count)) * indexSize > indices_->Size())
    return D3DERR_INVALIDCALL;
  // The vertices the indices may name: minIndex .. minIndex + numVertices - 1 after baseVertex.
  const int64_t first = int64_t(streamOffset_) + (int64_t(baseVertex) + minIndex) * streamStride_;
  const int64_t bytes = int64_t(numVertices) * streamStride_;
  if (first < 0 || first + bytes > int64_t(stream_->Size())) return D3DERR_INVALIDCALL;
  if (g_settings.Snapshots)
    Snapshot(D3DMethod::DrawIndexedPrimitive, type, primCount, streamStride_,
             stream_->Bytes() + first, size_t(bytes), minIndex, numVertices,
             indices_->Bytes() + size_t(startIndex) * indexSize, indices_->Format(), count);
  return D3D_OK;
}

int D3DDevice::DrawIndexedPrimitiveUP(uint32_t type, uint32_t minIndex, uint32_t numVertices,
                                      uint32_t primCount, const void* indices,
                                      uint32_t indexFormat, const void* vertices,
                                      uint32_t stride) {
  Record(D3DMethod::DrawIndexedPrimitiveUP, type, numVertices, primCount, stride);
  uint32_t count = D3DPrimitiveVertexCount(type, primCount);
  if (!indices || !vertices || count == 0 || stride == 0 ||
      (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  // The platform drops the stream source and index buffer after a draw from user memory.
  Hold(stream_, static_cast<D3DBuffer*>(nullptr));
  Hold(indices_, static_cast<D3DBuffer*>(nullptr));
  streamStride_ = 0;
  if (g_settings.Snapshots)
    Snapshot(D3DMethod::DrawIndexedPrimitiveUP, type, primCount, stride,
             static_cast<const uint8_t*>(vertices) + size_t(minIndex) * stride,
             size_t(numVertices) * stride, minIndex, numVertices, indices, indexFormat, count);
  return D3D_OK;
}
