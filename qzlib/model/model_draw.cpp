// Model drawing: entry points, device set-up, the per-mesh core with its shader and fixed-function
// paths, software skinning, the toon outline and the per-list memory buffers.
#include <qzlib/model/model_draw.h>

#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/model/model_bounds.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>

namespace {

// The device world matrix is the identity (sent by a skinned list of this draw).
bool g_identityWorld = false;

constexpr MATRIX kIdentityMatrix = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
constexpr Matrix3x4 kIdentity3x4 = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
constexpr uint32_t kMemoryFvf[7] = {0x000A0200, 0x002A0300, 0x00AA0400, 0x02AA0500,
                                    0x0AAA0600, 0x2AAA0700, 0xAAAA0800};
constexpr int kVsBoneRegister = 94;
constexpr float kOutlineMinWidth = 1e-6f;

D3DDevice* Dev() { return D3DObjects.Device; }
bool Resend() { return DeviceState.ForceResend != 0; }

bool ChangeBitSet(const MV1ChangeFlag& flag) { return (*flag.Word & flag.Info->OwnBit) != 0; }

bool IsToon(const MV1Mesh* mesh) { return mesh->Material->Base->Type == 1; }

// Position records of a list as drawn: the model's own copy for meshes with shapes.
const uint8_t* DrawRecords(const MV1ModelTriangleList* mlist) {
  const MV1TriangleList* list = mlist->Base;
  if (list->Container->HasShape && mlist->Vertices) {
    return static_cast<const uint8_t*>(mlist->Vertices);
  }
  return MV1TriangleListVertices(list);
}

// Byte offsets of position and normal in a per-vertex record by type.
int RecordPositionOffset(int type) { return type == 1 ? 16 : type == 2 ? 48 : 0; }
int RecordNormalOffset(int type) { return type == 0 || type == 3 ? 16 : 32; }

void SendFvf(uint32_t fvf) {
  if (DeviceState.Fvf == fvf && !Resend()) return;
  Dev()->SetFVF(fvf);
  DeviceState.Fvf = fvf;
}

void ShadersOff() {
  if (DeviceState.VertexShader || Resend()) {
    Dev()->SetVertexShader(nullptr);
    DeviceState.VertexShader = nullptr;
  }
  if (DeviceState.PixelShader || Resend()) {
    Dev()->SetPixelShader(nullptr);
    DeviceState.PixelShader = nullptr;
  }
}

void DrawFromMemory(const MV1TriangleList* list, const void* vertices, uint32_t stride) {
  Dev()->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, uint32_t(list->VertexCount),
                                uint32_t(list->IndexCount / 3), list->Index, D3DFMT_INDEX16,
                                vertices, stride);
  DeviceState.StreamSource = nullptr;
  DeviceState.StreamStride = 0;
  DeviceState.IndexBuffer = nullptr;
}

// The frame's 4x4 world matrix, converted once per set-up of the frame matrices.
const MATRIX* FrameWorld4x4(MV1Frame* frame) {
  if (!frame->ValidLocalWorldMatrixM) {
    Matrix3x4ToMatrix(&frame->LocalWorldMatrix, &frame->WorldMatrix);
    frame->ValidLocalWorldMatrixM = 1;
  }
  return &frame->LocalWorldMatrix;
}

void SendFrameWorld(MV1Frame* frame) {
  SetWorldMatrixDirect(FrameWorld4x4(frame));
  g_identityWorld = false;
}

void SendIdentityWorld() {
  if (g_identityWorld) return;
  SetWorldMatrixDirect(&kIdentityMatrix);
  g_identityWorld = true;
}

// A skin-bone matrix named by a position in the frame's bone pointer list; the identity outside.
const Matrix3x4* FrameBone(Matrix3x4* const* bones, int length, int index) {
  if (index < 0 || index >= length || !bones || !bones[index]) return &kIdentity3x4;
  return bones[index];
}

// Shader path of one list: true when drawn with the shaders of (vs, ps).
bool DrawListWithShaders(MV1ModelTriangleList* mlist, int vs, int ps, bool* shaderMode,
                         bool outline, StageSettingsRecord* record) {
  MV1TriangleList* list = mlist->Base;
  if (list->VertexType > MV1_VERTEX_TYPE_SKIN_8BONE) return false;
  MV1VertexBuffer* vb = list->VertexBuffer;
  if (!vb || !vb->VertexBuffer || !vb->IndexBuffer) return false;
  const int typeOffset = list->VertexType == 1 ? 0x2000 : list->VertexType == 2 ? 0x4000 : 0;
  if (!SetVertexShaderByIndex(vs + typeOffset) || !SetPixelShaderByIndex(ps)) return false;
  MV1Mesh* mesh = mlist->Container;
  MV1Frame* frame = mesh->Container;
  const MV1MeshBase* mb = list->Container;
  uint32_t fvf;
  int stride;
  MV1VertexBufferCellLayout(list->VertexType, mb->Material && mb->Material->NormalLayerCount > 0 ? 1 : 0,
                            mb->UVSetCount, &fvf, &stride);
  D3DVertexBuffer* stream = static_cast<D3DVertexBuffer*>(mlist->VertexBuffer);
  int baseVertex = 0;
  if (!stream) {
    stream = vb->VertexBuffer;
    baseVertex = list->VertexBufferStartVertex;
  }
  if (DeviceState.StreamSource != stream || DeviceState.StreamStride != uint32_t(stride) || Resend()) {
    Dev()->SetStreamSource(0, stream, 0, uint32_t(stride));
    DeviceState.StreamSource = stream;
    DeviceState.StreamStride = uint32_t(stride);
  }
  if (!*shaderMode) {
    if (outline) {
      MV1SetupOutlineTextureStages(mesh, record, true);
    } else {
      MV1SetupMainTextureStages(mesh, record, true);
    }
    *shaderMode = true;
  }
  if (DeviceState.IndexBuffer != vb->IndexBuffer || Resend()) {
    Dev()->SetIndices(vb->IndexBuffer);
    DeviceState.IndexBuffer = vb->IndexBuffer;
  }
  if (list->VertexType == MV1_VERTEX_TYPE_RIGID) {
    Dev()->SetVertexShaderConstantF(kVsBoneRegister, &frame->WorldMatrix.m[0][0], 3);
  } else {
    const int length = frame->Base->UseSkinBoneCount;
    for (int i = 0; i < list->UseBoneCount && i < MV1_TRIANGLE_LIST_USE_BONE_MAX; ++i) {
      const Matrix3x4* m = FrameBone(frame->UseSkinBoneMatrix, length, list->UseBone[i]);
      Dev()->SetVertexShaderConstantF(uint32_t(kVsBoneRegister + 3 * i), &m->m[0][0], 3);
    }
  }
  Dev()->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, baseVertex, 0, uint32_t(list->VertexCount),
                              uint32_t(list->VertexBufferStartIndex), uint32_t(list->IndexCount / 3));
  return true;
}

// Skins the list into its memory vertex buffer from the records the draw reads.
void SkinList(MV1ModelTriangleList* mlist) {
  MV1Frame* frame = mlist->Container->Container;
  MV1SkinTriangleList(mlist->Base, DrawRecords(mlist), frame->UseSkinBoneMatrix,
                      frame->Base->UseSkinBoneCount, static_cast<uint8_t*>(mlist->Base->TempVertexBuffer));
}

// Fixed-function main pass of one list.
void DrawListFixed(MV1ModelTriangleList* mlist, bool* fixedMode, StageSettingsRecord* record) {
  MV1TriangleList* list = mlist->Base;
  MV1Mesh* mesh = mlist->Container;
  MV1Frame* frame = mesh->Container;
  const bool rigid = list->VertexType == MV1_VERTEX_TYPE_RIGID;
  if (rigid) SendFrameWorld(frame);
  if (!*fixedMode) {
    MV1SetupMainTextureStages(mesh, record, false);
    *fixedMode = true;
  }
  ShadersOff();
  if (!rigid) SendIdentityWorld();
  if (!MV1SetupTriangleListMemoryVertexBuffer(list)) return;
  auto* mem = static_cast<uint8_t*>(list->TempVertexBuffer);
  const int stride = list->TempVertexStride;
  if (rigid) {
    if (list->Container->HasShape && mlist->Vertices) {
      const uint8_t* rec = DrawRecords(mlist);
      for (int i = 0; i < list->VertexCount; ++i) {
        std::memcpy(mem + size_t(stride) * i, rec + size_t(i) * sizeof(MV1VertexRigid), 12);
        std::memcpy(mem + size_t(stride) * i + 12, rec + size_t(i) * sizeof(MV1VertexRigid) + 16, 12);
      }
    }
    if (IsToon(mesh)) MV1CalcVertexLighting(list, FrameWorld4x4(frame));
  } else {
    SkinList(mlist);
    if (IsToon(mesh)) MV1CalcVertexLighting(list, nullptr);
  }
  SendFvf(MV1MemoryVertexFvf(MV1MemoryVertexUVSets(list->Container)));
  DrawFromMemory(list, mem, uint32_t(stride));
}

// Fixed-function outline of one list; `skinned` tells whether the main pass filled the memory
// vertex buffer of a skinned list in this draw.
void DrawOutlineFixed(MV1ModelTriangleList* mlist, bool* fixedMode, StageSettingsRecord* record,
                      bool skinned) {
  MV1TriangleList* list = mlist->Base;
  MV1Mesh* mesh = mlist->Container;
  const bool rigid = list->VertexType == MV1_VERTEX_TYPE_RIGID;
  if (rigid) SendFrameWorld(mesh->Container);
  if (!*fixedMode) {
    MV1SetupOutlineTextureStages(mesh, record, false);
    *fixedMode = true;
  }
  ShadersOff();
  if (!rigid) SendIdentityWorld();
  if (!MV1SetupTriangleListOutlinePositions(list)) return;
  const float width = mesh->Material->OutlineWidth;
  auto* out = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(list->OutlinePositions) + 15) &
                                         ~uintptr_t(15));
  const COLOR_F& c = mesh->Material->OutlineColor;
  const uint32_t colour = 0xFF000000u | uint32_t(FloatToIntFast(c.r * 255.0f)) << 16 |
                          uint32_t(FloatToIntFast(c.g * 255.0f)) << 8 |
                          uint32_t(FloatToIntFast(c.b * 255.0f));
  const uint8_t* src = nullptr;
  int srcStride = 0, normalOffset = 12;
  if (!rigid) {
    if (!MV1SetupTriangleListMemoryVertexBuffer(list)) return;
    if (!skinned) SkinList(mlist);
    src = static_cast<const uint8_t*>(list->TempVertexBuffer);
    srcStride = list->TempVertexStride;
  } else if (list->Container->HasShape && mlist->Vertices) {
    src = DrawRecords(mlist);
    srcStride = int(sizeof(MV1VertexRigid));
    normalOffset = 16;
  }
  for (int i = 0; i < list->VertexCount; ++i) {
    float* o = reinterpret_cast<float*>(out + 16 * size_t(i));
    if (src) {
      VECTOR p, n;
      std::memcpy(&p, src + size_t(srcStride) * i, 12);
      std::memcpy(&n, src + size_t(srcStride) * i + normalOffset, 12);
      o[0] = p.x + n.x * width;
      o[1] = p.y + n.y * width;
      o[2] = p.z + n.z * width;
    }
    std::memcpy(o + 3, &colour, 4);
  }
  SendFvf(MV1_OUTLINE_VERTEX_FVF);
  DrawFromMemory(list, out, 16);
}

// Culling of a frame by its base box in world space (skinned frames exempt when the base says so).
bool FrameCulled(const MV1Frame* frame) {
  const MV1FrameBase* fb = frame->Base;
  if (fb->HasSkinnedMesh) return false;
  const VECTOR lo = fb->MinPosition, hi = fb->MaxPosition;
  const VECTOR box[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z},
                         {lo.x, hi.y, hi.z}, {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}};
  VECTOR corners[8];
  for (int i = 0; i < 8; ++i) VTransformMatrix3x4(&frame->WorldMatrix, &corners[i], &box[i]);
  return MV1CheckBoxOutsideView(corners) == 1;
}

void DrawFrameMeshes(MV1Frame* frame) {
  for (int m = 0; m < frame->Base->MeshCount; ++m) {
    MV1Mesh* mesh = &frame->Mesh[m];
    if (ChangeBitSet(mesh->ChangeDrawMaterialFlag)) MV1RefreshDrawState(nullptr, mesh);
    if (mesh->SetupDrawMaterial.Visible) MV1DrawMeshCore(mesh);
  }
}

void PrepareModel(MV1Model* model) {
  if (!model->ValidMatrix) MV1SetupMatrix(model);
  MV1SetupModelVertexBuffer(model->Handle);
}

// The model of a draw entry when it is to be drawn; else null with the result: -1 for a bad
// handle, 0 for a hidden model.
MV1Model* DrawableModel(int modelHandle, int* result) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  *result = model ? 0 : -1;
  return model && model->DrawMaterial.Visible ? model : nullptr;
}

// A draw ends with the caches current: the forced re-send is over.
void EndDraw() { DeviceState.ForceResend = 0; }

}  // namespace

int MV1MemoryVertexUVSets(const MV1MeshBase* mesh) {
  return mesh->UVSetCount < 0 ? 0 : mesh->UVSetCount > 6 ? 6 : mesh->UVSetCount;
}

uint32_t MV1MemoryVertexFvf(int uvSets) { return kMemoryFvf[uvSets] | 0xD2; }

namespace {

// out += weight x bone, element by element over the 12 elements.
inline void AddWeighted(Matrix3x4* out, const Matrix3x4* bone, float weight) {
  float* o = &out->m[0][0];
  const float* b = &bone->m[0][0];
  for (int e = 0; e < 12; ++e) o[e] += b[e] * weight;
}

// Position (with translation) and normal (without) of a record through the blend matrix into the
// first six floats of a memory vertex.
inline void WriteSkinned(const Matrix3x4& blend, const uint8_t* rec, int posOffset, int nrmOffset,
                         float* out) {
  VECTOR p, n;
  std::memcpy(&p, rec + posOffset, 12);
  std::memcpy(&n, rec + nrmOffset, 12);
  const auto& m = blend.m;
  out[0] = m[0][0] * p.x + m[0][1] * p.y + m[0][2] * p.z + m[0][3];
  out[1] = m[1][0] * p.x + m[1][1] * p.y + m[1][2] * p.z + m[1][3];
  out[2] = m[2][0] * p.x + m[2][1] * p.y + m[2][2] * p.z + m[2][3];
  out[3] = m[0][0] * n.x + m[0][1] * n.y + m[0][2] * n.z;
  out[4] = m[1][0] * n.x + m[1][1] * n.y + m[1][2] * n.z;
  out[5] = m[2][0] * n.x + m[2][1] * n.y + m[2][2] * n.z;
}

}  // namespace

void MV1SkinTriangleList(const MV1TriangleList* list, const uint8_t* records,
                         Matrix3x4* const* boneMatrices, int boneListLength, uint8_t* memVertices) {
  const int type = list->VertexType;
  const int recSize = MV1TriangleListRecordSize(list);
  const int stride = list->TempVertexStride;
  const int posOffset = RecordPositionOffset(type), nrmOffset = RecordNormalOffset(type);
  // Bone slot to matrix; a slot the list does not hold reads the identity.
  const Matrix3x4* slots[256];
  if (type != MV1_VERTEX_TYPE_SKIN_FREEBONE) {
    for (auto& s : slots) s = &kIdentity3x4;
    const int count = list->UseBoneCount < MV1_TRIANGLE_LIST_USE_BONE_MAX ? list->UseBoneCount
                                                                           : MV1_TRIANGLE_LIST_USE_BONE_MAX;
    for (int i = 0; i < count; ++i) slots[i] = FrameBone(boneMatrices, boneListLength, list->UseBone[i]);
  }
  const int weightCount = type == MV1_VERTEX_TYPE_SKIN_4BONE ? 4 : 8;
  for (int v = 0; v < list->VertexCount; ++v) {
    const uint8_t* rec = records + size_t(recSize) * v;
    float* out = reinterpret_cast<float*>(memVertices + size_t(stride) * v);
    Matrix3x4 blend = {};
    if (type == MV1_VERTEX_TYPE_SKIN_FREEBONE) {
      const auto* pairs = reinterpret_cast<const MV1BoneWeightPair*>(rec + sizeof(MV1VertexSkinFree));
      const int maxPairs = list->BonesPerVertex;
      if (maxPairs <= 0 || pairs[0].Index == -1) {
        WriteSkinned(kIdentity3x4, rec, posOffset, nrmOffset, out);
        continue;
      }
      const Matrix3x4* first = FrameBone(boneMatrices, boneListLength, pairs[0].Index);
      if (pairs[0].Weight == 1.0f) {
        WriteSkinned(*first, rec, posOffset, nrmOffset, out);
        continue;
      }
      AddWeighted(&blend, first, pairs[0].Weight);
      for (int k = 1; k < maxPairs && pairs[k].Index != -1; ++k) {
        if (pairs[k].Weight != 0.0f)
          AddWeighted(&blend, FrameBone(boneMatrices, boneListLength, pairs[k].Index), pairs[k].Weight);
      }
      WriteSkinned(blend, rec, posOffset, nrmOffset, out);
      continue;
    }
    const float* w = reinterpret_cast<const float*>(rec);
    const uint8_t* s0 = rec + 44;  // bone slots 0-3
    const uint8_t* s1 = rec + 60;  // bone slots 4-7 (type 2)
    if (w[0] == 1.0f) {
      WriteSkinned(*slots[s0[0]], rec, posOffset, nrmOffset, out);
      continue;
    }
    AddWeighted(&blend, slots[s0[0]], w[0]);
    for (int k = 1; k < weightCount; ++k) {
      if (w[k] != 0.0f) AddWeighted(&blend, slots[k < 4 ? s0[k] : s1[k - 4]], w[k]);
    }
    WriteSkinned(blend, rec, posOffset, nrmOffset, out);
  }
}

bool MV1SetupTriangleListMemoryVertexBuffer(MV1TriangleList* list) {
  if (list->TempVertexBuffer) return true;
  const MV1MeshBase* mesh = list->Container;
  const int sets = MV1MemoryVertexUVSets(mesh);
  const int stride = (sets + 4) * 16;
  auto* mem = static_cast<uint8_t*>(MEM_ALLOC(size_t(list->VertexCount > 0 ? list->VertexCount : 1) * stride));
  if (!mem) return false;
  const uint8_t* rec = MV1TriangleListVertices(list);
  for (int i = 0; i < list->VertexCount; ++i) {
    uint8_t* v = mem + size_t(stride) * i;
    std::memset(v, 0, 24);
    MV1MeshVertex* mv = MV1MeshVertexAt(mesh, int(list->MeshVertexIndex[i]));
    const uint32_t diffuse = uint32_t(mv->Diffuse.a) << 24 | uint32_t(mv->Diffuse.r) << 16 |
                             uint32_t(mv->Diffuse.g) << 8 | mv->Diffuse.b;
    const uint32_t specular = uint32_t(mv->Specular.a) << 24 | uint32_t(mv->Specular.r) << 16 |
                              uint32_t(mv->Specular.g) << 8 | mv->Specular.b;
    std::memcpy(v + 24, &diffuse, 4);
    std::memcpy(v + 28, &specular, 4);
    float* set = reinterpret_cast<float*>(v + 32);
    const float* uv = MV1MeshVertexUV(mv);
    for (int k = 0; k < sets; ++k) {
      set[4 * k] = uv[k * mesh->FloatsPerUV];
      set[4 * k + 1] = uv[k * mesh->FloatsPerUV + 1];
      set[4 * k + 2] = 1.0f;
      set[4 * k + 3] = 1.0f;
    }
    for (int k = sets; k < sets + 2; ++k) {
      set[4 * k] = 0.0f;
      set[4 * k + 1] = 0.0f;
      set[4 * k + 2] = 1.0f;
      set[4 * k + 3] = 1.0f;
    }
    if (list->VertexType == MV1_VERTEX_TYPE_RIGID) {
      const auto* r = reinterpret_cast<const MV1VertexRigid*>(rec + sizeof(MV1VertexRigid) * i);
      std::memcpy(v, &r->Position, 12);
      std::memcpy(v + 12, &r->Normal, 12);
    }
  }
  list->TempVertexBuffer = mem;
  list->TempVertexBufferAllocated = 1;
  list->TempVertexStride = stride;
  return true;
}

bool MV1SetupTriangleListOutlinePositions(MV1TriangleList* list) {
  if (list->OutlinePositions) return true;
  void* block = MEM_ALLOC((size_t(list->VertexCount > 0 ? list->VertexCount : 0) + 1) * 16);
  if (!block) return false;
  auto* out = reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(block) + 15) & ~uintptr_t(15));
  std::memset(out, 0, size_t(list->VertexCount > 0 ? list->VertexCount : 0) * 16);
  if (list->VertexType == MV1_VERTEX_TYPE_RIGID) {
    const float width = list->Container->Material ? list->Container->Material->OutlineWidth : 0.0f;
    const uint8_t* rec = MV1TriangleListVertices(list);
    for (int i = 0; i < list->VertexCount; ++i) {
      const auto* r = reinterpret_cast<const MV1VertexRigid*>(rec + sizeof(MV1VertexRigid) * i);
      out[4 * i] = r->Position.x + r->Normal.x * width;
      out[4 * i + 1] = r->Position.y + r->Normal.y * width;
      out[4 * i + 2] = r->Position.z + r->Normal.z * width;
    }
  }
  list->OutlinePositions = block;
  list->OutlinePositionsAllocated = 1;
  return true;
}

int MV1SetupDrawDeviceState(MV1Model* model) {
  SetShaderConstantSet(0);
  FlushPendingDraws();
  FlushLightsToDevice();
  g_identityWorld = false;
  D3D9BeginSceneGuard();
  SetZBufferEnable(model->EnableZBuffer);
  SetZWriteEnable(model->WriteZBuffer);
  SetZFunc(model->ZBufferCmpType);
  SetDepthBias(model->ZBias);
  SetShadeMode(D3DSHADE_GOURAUD);
  ReapplyFogEnable();
  for (int s = 0; s < 3; ++s) SetMaxAnisotropy(s, model->MaxAnisotropy);
  DeviceState.SamplerFilterValid = 0;
  return 0;
}

void MV1DrawMeshCore(MV1Mesh* mesh) {
  if (!Dev() || !mesh->Material) return;  // a mesh without a material has nothing to draw with
  StageSettingsRecord* record = &StageSettings;
  int vs = ShaderKey.VertexShaderIndex, ps = ShaderKey.PixelShaderIndex;
  MV1SetupMeshDrawMaterial(&vs, &ps, record, mesh);
  const MV1MeshBase* mb = mesh->Base;
  const int lists = mb->TriangleListCount;
  // Lists (of the first 64) whose memory vertex buffer the main pass skinned in this draw.
  uint64_t skinnedNow = 0;
  bool shaderMode = false, fixedMode = false;
  for (int t = 0; t < lists; ++t) {
    MV1ModelTriangleList* mlist = &mesh->TriangleList[t];
    if (DrawListWithShaders(mlist, vs, ps, &shaderMode, false, record)) {
      fixedMode = false;
      continue;
    }
    if (fixedMode == false) shaderMode = false;
    DrawListFixed(mlist, &fixedMode, record);
    if (mlist->Base->VertexType != MV1_VERTEX_TYPE_RIGID && t < 64 && mlist->Base->TempVertexBuffer)
      skinnedNow |= uint64_t(1) << t;
  }
  const MV1MaterialBase* matBase = mesh->Material->Base;
  if (matBase->Type != 1 || !(matBase->OutlineWidth > kOutlineMinWidth)) return;
  MV1SetupMeshOutlineMaterial(record, mesh);
  const int outlineVs = (96 + (ShaderKey.FogEnable ? ShaderKey.FogMode : 0)) * 512;
  shaderMode = fixedMode = false;
  for (int t = 0; t < lists; ++t) {
    MV1ModelTriangleList* mlist = &mesh->TriangleList[t];
    if (DrawListWithShaders(mlist, outlineVs, 0, &shaderMode, true, record)) {
      fixedMode = false;
      continue;
    }
    shaderMode = false;
    DrawOutlineFixed(mlist, &fixedMode, record, t < 64 && (skinnedNow >> t & 1) != 0);
  }
}

int MV1DrawModel(int modelHandle) {
  int result;
  MV1Model* model = DrawableModel(modelHandle, &result);
  if (!model) return result;
  PrepareModel(model);
  MV1SetupDrawDeviceState(model);
  const int frames = model->BaseData->FrameCount;
  for (int f = 0; f < frames; ++f) {
    MV1Frame* frame = &model->Frame[f];
    if (frame->Base->MeshCount <= 0) continue;
    if (ChangeBitSet(frame->ChangeDrawMaterialFlag)) MV1RefreshDrawState(frame, nullptr);
    if (!frame->SetupDrawMaterial.Visible) continue;
    if (FrameCulled(frame)) continue;
    DrawFrameMeshes(frame);
  }
  EndDraw();
  return 0;
}

int MV1DrawFrame(int modelHandle, int frameIndex) {
  int result;
  MV1Model* model = DrawableModel(modelHandle, &result);
  if (!model) return result;
  if (frameIndex < 0 || frameIndex >= model->BaseData->FrameCount) return -1;
  MV1Frame* frame = &model->Frame[frameIndex];
  if (frame->Base->MeshCount <= 0) return -1;
  if (ChangeBitSet(frame->ChangeDrawMaterialFlag)) MV1RefreshDrawState(frame, nullptr);
  if (!frame->SetupDrawMaterial.Visible) return 0;
  PrepareModel(model);
  if (FrameCulled(frame)) return -1;
  MV1SetupDrawDeviceState(model);
  DrawFrameMeshes(frame);
  EndDraw();
  return 0;
}

int MV1DrawMesh(int modelHandle, int meshIndex) {
  int result;
  MV1Model* model = DrawableModel(modelHandle, &result);
  if (!model) return result;
  if (meshIndex < 0 || meshIndex >= model->BaseData->MeshCount) return -1;
  MV1Mesh* mesh = &model->Mesh[meshIndex];
  if (ChangeBitSet(mesh->ChangeDrawMaterialFlag)) MV1RefreshDrawState(nullptr, mesh);
  if (!mesh->SetupDrawMaterial.Visible) return 0;
  PrepareModel(model);
  MV1SetupDrawDeviceState(model);
  MV1DrawMeshCore(mesh);
  EndDraw();
  return 0;
}
