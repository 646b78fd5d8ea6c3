// Device vertex and index buffers of model bases and the dynamic buffers of shaped models.
#include <qzlib/model/model_buffers.h>

#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>

namespace {

constexpr uint32_t kUsageWriteOnly = 8;
constexpr uint32_t kUsageDynamicWriteOnly = 0x208;
constexpr uint32_t kPoolDefault = 0;

bool DeviceInUse() { return UseDirect3DFlag && D3DObjects.Device != nullptr; }

// The cell of a list: false for lists drawn from memory only.
bool CellOf(const MV1TriangleList* list, int* type, int* normalMap, int* uvSets) {
  if (list->VertexType > MV1_VERTEX_TYPE_SKIN_8BONE) return false;
  const MV1MeshBase* mesh = list->Container;
  if (mesh->UVSetCount < 0 || mesh->UVSetCount >= MV1_VB_UV_NUM) return false;
  *type = list->VertexType;
  *normalMap = mesh->Material && mesh->Material->NormalLayerCount > 0 ? 1 : 0;
  *uvSets = mesh->UVSetCount;
  uint32_t fvf;
  int stride;
  return MV1VertexBufferCellLayout(*type, *normalMap, *uvSets, &fvf, &stride) != 0;
}

void Put3(uint8_t*& p, const VECTOR& v) {
  std::memcpy(p, &v, 12);
  p += 12;
}

// Writes the device vertices of a list into dest (the cell's layout). With shaped vertices given,
// positions and normals come from them (indexed by mesh vertex) instead of the records.
void WriteDeviceVertices(const MV1TriangleList* list, int normalMap, int stride, uint8_t* dest,
                         const MV1ShapeVertex* shaped) {
  const MV1MeshBase* mesh = list->Container;
  const MV1FrameBase* frame = mesh->Container;
  const uint8_t* rec = MV1TriangleListVertices(list);
  const int recSize = MV1TriangleListRecordSize(list);
  const int extraSets = list->VertexType == MV1_VERTEX_TYPE_RIGID && !normalMap ? 2 : 0;
  for (int i = 0; i < list->VertexCount; ++i, rec += recSize, dest += stride) {
    const uint32_t mvIndex = list->MeshVertexIndex[i];
    MV1MeshVertex* mv = MV1MeshVertexAt(mesh, mvIndex);
    const MV1MeshNormal& nrm = frame->Normal[mv->NormalIndex];
    VECTOR position, normal;
    const float* weights = nullptr;
    uint8_t slots[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int weightCount = 0;
    switch (list->VertexType) {
      case MV1_VERTEX_TYPE_RIGID: {
        auto* v = reinterpret_cast<const MV1VertexRigid*>(rec);
        position = v->Position;
        normal = v->Normal;
        break;
      }
      case MV1_VERTEX_TYPE_SKIN_4BONE: {
        auto* v = reinterpret_cast<const MV1VertexSkin4*>(rec);
        position = v->Position;
        normal = v->Normal;
        weights = v->Weight;
        weightCount = 4;
        for (int k = 0; k < 4; ++k) slots[k] = v->BoneSlot[k];
        break;
      }
      default: {
        auto* v = reinterpret_cast<const MV1VertexSkin8*>(rec);
        position = v->Position;
        normal = v->Normal;
        weights = v->Weight;
        weightCount = 8;
        for (int k = 0; k < 4; ++k) {
          slots[k] = v->BoneSlot0123[k];
          slots[k + 4] = v->BoneSlot4567[k];
        }
        break;
      }
    }
    if (shaped) {
      position = shaped[mvIndex].Position;
      normal = shaped[mvIndex].Normal;
    }
    uint8_t* p = dest;
    Put3(p, position);
    if (weightCount) {
      for (int k = 0; k < weightCount; ++k) *p++ = static_cast<uint8_t>(slots[k] * 3);
      std::memcpy(p, weights, sizeof(float) * weightCount);
      p += sizeof(float) * weightCount;
    }
    if (normalMap) {
      Put3(p, nrm.Tangent);
      Put3(p, nrm.Binormal);
    }
    Put3(p, normal);
    std::memcpy(p, &mv->Diffuse, 4);
    std::memcpy(p + 4, &mv->Specular, 4);
    p += 8;
    const float* uv = MV1MeshVertexUV(mv);
    for (int s = 0; s < mesh->UVSetCount; ++s) {
      const float set[4] = {uv[s * mesh->FloatsPerUV], uv[s * mesh->FloatsPerUV + 1], 1.0f, 1.0f};
      std::memcpy(p, set, 16);
      p += 16;
    }
    if (extraSets) std::memset(p, 0, 16 * extraSets);
  }
}

// Releases a record's buffers.
void ReleaseRecord(MV1VertexBuffer* rec) {
  if (rec->VertexBuffer) rec->VertexBuffer->Release();
  if (rec->IndexBuffer) rec->IndexBuffer->Release();
  rec->VertexBuffer = nullptr;
  rec->IndexBuffer = nullptr;
}

// Creates and fills one record's buffers from its lists. false when creation or a lock fails
// (the record is then left without buffers).
bool BuildRecord(MV1ModelBase* base, MV1VertexBuffer* rec, int type, int normalMap, int uvSets) {
  uint32_t fvf;
  int stride;
  MV1VertexBufferCellLayout(type, normalMap, uvSets, &fvf, &stride);
  rec->VertexBuffer = CreateVertexBuffer(static_cast<uint32_t>(rec->VertexCount) * stride,
                                         kUsageWriteOnly, fvf, D3DPOOL_MANAGED);
  rec->IndexBuffer = rec->VertexBuffer
                         ? CreateIndexBuffer(static_cast<uint32_t>(rec->IndexCount) * 2,
                                             kUsageWriteOnly, D3DFMT_INDEX16, D3DPOOL_MANAGED)
                         : nullptr;
  void* vertices = nullptr;
  void* indices = nullptr;
  if (!rec->IndexBuffer || rec->VertexBuffer->Lock(0, 0, &vertices, 0) != 0) {
    ReleaseRecord(rec);
    return false;
  }
  if (rec->IndexBuffer->Lock(0, 0, &indices, 0) != 0) {
    rec->VertexBuffer->Unlock();
    ReleaseRecord(rec);
    return false;
  }
  for (int i = 0; i < base->TriangleListCount; ++i) {
    const MV1TriangleList* list = &base->TriangleList[i];
    if (list->VertexBuffer != rec) continue;
    WriteDeviceVertices(list, normalMap, stride,
                        static_cast<uint8_t*>(vertices) +
                            static_cast<size_t>(list->VertexBufferStartVertex) * stride,
                        nullptr);
    std::memcpy(static_cast<uint16_t*>(indices) + list->VertexBufferStartIndex, list->Index,
                sizeof(uint16_t) * list->IndexCount);
  }
  rec->VertexBuffer->Unlock();
  rec->IndexBuffer->Unlock();
  return true;
}

// Detaches the lists of a record that has no buffers, so that they are drawn from memory.
void DetachLists(MV1ModelBase* base, const MV1VertexBuffer* rec) {
  for (int i = 0; i < base->TriangleListCount; ++i) {
    MV1TriangleList* list = &base->TriangleList[i];
    if (list->VertexBuffer != rec) continue;
    list->VertexBuffer = nullptr;
    list->VertexBufferStartVertex = 0;
    list->VertexBufferStartIndex = 0;
  }
}

// Empties the cell tables and detaches every list.
void ClearCells(MV1ModelBase* base) {
  std::memset(base->VertexBufferFirst, 0, sizeof(base->VertexBufferFirst));
  std::memset(base->VertexBufferCurrent, 0, sizeof(base->VertexBufferCurrent));
  std::memset(base->VertexBufferCount, 0, sizeof(base->VertexBufferCount));
  for (int i = 0; i < base->TriangleListCount; ++i) {
    MV1TriangleList* list = &base->TriangleList[i];
    list->VertexBuffer = nullptr;
    list->VertexBufferStartVertex = 0;
    list->VertexBufferStartIndex = 0;
  }
}

}  // namespace

int MV1VertexBufferCellLayout(int type, int normalMap, int uvSets, uint32_t* fvf, int* stride) {
  *fvf = 0;
  *stride = 0;
  if (type < 0 || type > MV1_VERTEX_TYPE_SKIN_8BONE || uvSets < 0 || uvSets >= MV1_VB_UV_NUM)
    return 0;
  if (type == MV1_VERTEX_TYPE_RIGID && !normalMap) {
    const int sets = uvSets + 2;
    if (sets > 8) return 0;
    uint32_t sizes = 0;
    for (int s = 0; s < sets; ++s) sizes |= 2u << (D3DFVF_TEXCOORDSIZE_SHIFT + 2 * s);
    *fvf = 0xD2u | (static_cast<uint32_t>(sets) << D3DFVF_TEXCOUNT_SHIFT) | sizes;
    *stride = (uvSets + 4) * 16;
    return 1;
  }
  static const int kFixed[3][2] = {{56, 56}, {52, 76}, {72, 96}};  // without UV sets
  *stride = kFixed[type][normalMap] + uvSets * 16;
  return UseShaderFlag ? 1 : 0;
}

int MV1SetupModelBaseVertexBuffer(int baseHandle) {
  if (!DeviceInUse()) return 0;
  MV1ModelBase* base = MV1GetModelBaseCheckedNoInit(baseHandle);
  if (!base) return -1;
  if (base->VertexBuffersBuilt) return 0;

  ClearCells(base);
  // Grouping: a record is closed once it reaches a limit; the next list opens the next record.
  for (int i = 0; i < base->TriangleListCount; ++i) {
    MV1TriangleList* list = &base->TriangleList[i];
    int t, b, u;
    if (list->VertexCount <= 0 || list->IndexCount == 0 || !CellOf(list, &t, &b, &u)) continue;
    MV1VertexBuffer* cur = base->VertexBufferCurrent[t][b][u];
    if (!cur || cur->IndexCount >= MV1_VERTEX_BUFFER_MAX_INDICES ||
        cur->VertexCount >= MV1_VERTEX_BUFFER_MAX_VERTICES) {
      auto* rec = static_cast<MV1VertexBuffer*>(MEM_CALLOC(sizeof(MV1VertexBuffer)));
      if (!rec) break;  // the lists not yet grouped are drawn from memory
      if (cur) cur->Next = rec;
      else base->VertexBufferFirst[t][b][u] = rec;
      base->VertexBufferCurrent[t][b][u] = rec;
      ++base->VertexBufferCount[t][b][u];
      cur = rec;
    }
    list->VertexBuffer = cur;
    list->VertexBufferStartVertex = cur->VertexCount;
    list->VertexBufferStartIndex = cur->IndexCount;
    cur->VertexCount += list->VertexCount;
    cur->IndexCount += list->IndexCount;
  }
  // Creation and filling; the first failure ends the build.
  bool failed = false;
  for (int t = 0; t < MV1_VB_TYPE_NUM; ++t)
    for (int b = 0; b < MV1_VB_BUMP_NUM; ++b)
      for (int u = 0; u < MV1_VB_UV_NUM; ++u)
        for (MV1VertexBuffer* rec = base->VertexBufferFirst[t][b][u]; rec; rec = rec->Next) {
          if (!failed && !BuildRecord(base, rec, t, b, u)) failed = true;
          if (failed) DetachLists(base, rec);
        }
  base->VertexBuffersBuilt = 1;
  return 0;
}

int MV1SetupAllModelBaseVertexBuffers() {
  if (!DeviceInUse() || !MV1SystemInitFlag) return 0;
  for (int i = 0; i < MV1ModelBaseTable.Capacity; ++i)
    if (MV1GetModelBaseCheckedNoInit(i | MV1_MODEL_BASE_HANDLE_TAG))
      MV1SetupModelBaseVertexBuffer(i | MV1_MODEL_BASE_HANDLE_TAG);
  return 0;
}

int MV1TerminateModelBaseVertexBuffer(int baseHandle) {
  if (!UseDirect3DFlag) return 0;
  MV1ModelBase* base = MV1GetModelBaseCheckedNoInit(baseHandle);
  if (!base) return -1;
  if (!base->VertexBuffersBuilt) return 0;
  for (int t = 0; t < MV1_VB_TYPE_NUM; ++t)
    for (int b = 0; b < MV1_VB_BUMP_NUM; ++b)
      for (int u = 0; u < MV1_VB_UV_NUM; ++u) {
        MV1VertexBuffer* rec = base->VertexBufferFirst[t][b][u];
        while (rec) {
          MV1VertexBuffer* next = rec->Next;
          ReleaseRecord(rec);
          MEM_FREE(rec);
          rec = next;
        }
      }
  ClearCells(base);
  base->VertexBuffersBuilt = 0;
  for (MV1Model* model = base->FirstModel; model; model = model->Next)
    MV1ReleaseModelDeviceObjects(model->Handle);
  return 0;
}

int MV1TerminateAllVertexBuffers() {
  if (!UseDirect3DFlag || !MV1SystemInitFlag) return 0;
  for (int i = 0; i < MV1ModelBaseTable.Capacity; ++i)
    if (MV1GetModelBaseCheckedNoInit(i | MV1_MODEL_BASE_HANDLE_TAG))
      MV1TerminateModelBaseVertexBuffer(i | MV1_MODEL_BASE_HANDLE_TAG);
  for (int i = 0; i < MV1ModelTable.Capacity; ++i)
    if (MV1GetModelCheckedNoInit(i | MV1_MODEL_HANDLE_TAG))
      MV1ReleaseModelDeviceObjects(i | MV1_MODEL_HANDLE_TAG);
  return 0;
}

int MV1ReleaseModelDeviceObjects(int modelHandle) {
  if (!UseDirect3DFlag) return 0;
  MV1Model* model = MV1GetModelCheckedNoInit(modelHandle);
  if (!model) return -1;
  for (int i = 0; i < model->BaseData->TriangleListCount; ++i) {
    MV1ModelTriangleList* list = &model->TriangleList[i];
    if (list->VertexBuffer) static_cast<D3DVertexBuffer*>(list->VertexBuffer)->Release();
    list->VertexBuffer = nullptr;
  }
  return 0;
}

int MV1SetupModelVertexBuffer(int modelHandle) {
  if (!UseDirect3DFlag) return 0;
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  MV1ModelBase* base = model->BaseData;
  for (int m = 0; m < base->MeshCount; ++m) {
    MV1MeshBase* mb = &base->Mesh[m];
    MV1Mesh* mesh = &model->Mesh[m];
    if (!mb->HasShape || !mesh->ShapeVertex) continue;
    const MV1FrameBase* fb = mb->Container;
    for (int v = 0; v < mb->VertexCount; ++v) {
      const MV1MeshVertex* mv = MV1MeshVertexAt(mb, v);
      mesh->ShapeVertex[v].Position = MV1FramePositionAt(fb, mv->PositionIndex)->Position;
      mesh->ShapeVertex[v].Normal = fb->Normal[mv->NormalIndex].Normal;
    }
    const MV1Frame* frame = mesh->Container;
    for (int s = 0; s < fb->ShapeCount; ++s) {
      const float rate = frame->Shape[s].Rate;
      if (!(rate >= 0.0000001f)) continue;
      const MV1ShapeBase* shape = frame->Shape[s].Base;
      for (int k = 0; k < shape->MeshCount; ++k) {
        const MV1ShapeMeshBase* sm = &shape->Mesh[k];
        if (sm->TargetMesh != mb) continue;
        for (int i = 0; i < sm->VertexCount; ++i) {
          const MV1ShapeVertexBase* sv = &sm->Vertex[i];
          if (sv->TargetMeshVertex >= static_cast<uint32_t>(mb->VertexCount)) continue;
          MV1ShapeVertex* out = &mesh->ShapeVertex[sv->TargetMeshVertex];
          out->Position.x += rate * sv->Position.x;
          out->Position.y += rate * sv->Position.y;
          out->Position.z += rate * sv->Position.z;
          out->Normal.x += rate * sv->Normal.x;
          out->Normal.y += rate * sv->Normal.y;
          out->Normal.z += rate * sv->Normal.z;
        }
      }
    }
    // The model's own per-vertex records, which the memory path reads, follow the shapes.
    for (int t = 0; t < mb->TriangleListCount; ++t) {
      const MV1ModelTriangleList* list = &mesh->TriangleList[t];
      if (!list->Vertices) continue;
      const int type = list->Base->VertexType;
      const int recSize = MV1TriangleListRecordSize(list->Base);
      const int posAt = type == 1 ? 16 : type == 2 ? 48 : 0, nrmAt = type == 1 || type == 2 ? 32 : 16;
      auto* rec = static_cast<uint8_t*>(list->Vertices);
      for (int i = 0; i < list->Base->VertexCount; ++i, rec += recSize) {
        const MV1ShapeVertex& sv = mesh->ShapeVertex[list->Base->MeshVertexIndex[i]];
        std::memcpy(rec + posAt, &sv.Position, 12);
        std::memcpy(rec + nrmAt, &sv.Normal, 12);
      }
    }
    if (!D3DObjects.Device) continue;
    for (int t = 0; t < mb->TriangleListCount; ++t) {
      MV1ModelTriangleList* list = &mesh->TriangleList[t];
      int type, bump, uv;
      if (list->Base->VertexCount <= 0 || !CellOf(list->Base, &type, &bump, &uv)) continue;
      uint32_t fvf;
      int stride;
      MV1VertexBufferCellLayout(type, bump, uv, &fvf, &stride);
      auto* vb = static_cast<D3DVertexBuffer*>(list->VertexBuffer);
      if (!vb) {
        vb = CreateVertexBuffer(static_cast<uint32_t>(list->Base->VertexCount) * stride,
                                kUsageDynamicWriteOnly, fvf, kPoolDefault);
        if (!vb) continue;
        list->VertexBuffer = vb;
      }
      void* data = nullptr;
      if (vb->Lock(0, 0, &data, 0) != 0) {  // never drawn with unwritten bytes
        vb->Release();
        list->VertexBuffer = nullptr;
        continue;
      }
      WriteDeviceVertices(list->Base, bump, stride, static_cast<uint8_t*>(data), mesh->ShapeVertex);
      vb->Unlock();
    }
  }
  return 0;
}
