// Reference meshes: building, refreshing and freeing the plain triangle lists of models and frames.
#include <qzlib/model/model_refmesh.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_collision.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_skin.h>
#include <qzlib/base/engine_texts.h>

namespace {

// The frames an owner covers: one, or every frame in array order.
struct FrameRange {
  int first;
  int end;
};

FrameRange RangeOf(const MV1RefOwner& owner) {
  if (owner.Frame) {
    int i = static_cast<int>(owner.Frame - owner.Model->Frame);
    return {i, i + 1};
  }
  return {0, owner.Model->BaseData->FrameCount};
}

// Polygons and vertices the fill writes for one frame: the sums over its triangle lists.
void CountFrame(const MV1FrameBase* fb, size_t* polygons, size_t* vertices) {
  for (int m = 0; m < fb->MeshCount; ++m) {
    const MV1MeshBase* mesh = &fb->Mesh[m];
    for (int t = 0; t < mesh->TriangleListCount; ++t) {
      const MV1TriangleList* list = &mesh->TriangleList[t];
      *polygons += list->IndexCount / 3;
      *vertices += static_cast<size_t>(list->VertexCount);
    }
  }
}

// Position and normal fields of a per-vertex record of any type.
void RecordPositionNormal(const MV1TriangleList* list, uint8_t* record, VECTOR* position,
                          VECTOR* normal) {
  switch (list->VertexType) {
    case MV1_VERTEX_TYPE_RIGID: {
      auto* v = reinterpret_cast<MV1VertexRigid*>(record);
      *position = v->Position;
      *normal = v->Normal;
      break;
    }
    case MV1_VERTEX_TYPE_SKIN_4BONE: {
      auto* v = reinterpret_cast<MV1VertexSkin4*>(record);
      *position = v->Position;
      *normal = v->Normal;
      break;
    }
    case MV1_VERTEX_TYPE_SKIN_8BONE: {
      auto* v = reinterpret_cast<MV1VertexSkin8*>(record);
      *position = v->Position;
      *normal = v->Normal;
      break;
    }
    default: {
      auto* v = reinterpret_cast<MV1VertexSkinFree*>(record);
      *position = v->Position;
      *normal = v->Normal;
      break;
    }
  }
}

// Appends one frame's triangles and vertices (positions and normals only for a local mesh).
void SetupReferenceMeshFrame(const MV1ModelBase* base, const MV1FrameBase* fb,
                             MV1_REF_POLYGONLIST* mesh, int vIndexTarget, int isTransform) {
  for (int m = 0; m < fb->MeshCount; ++m) {
    const MV1MeshBase* meshBase = &fb->Mesh[m];
    uint16_t material =
        meshBase->Material ? static_cast<uint16_t>(meshBase->Material - base->Material) : 0;
    int uvSets = meshBase->UVSetCount < 2 ? meshBase->UVSetCount : 2;
    for (int t = 0; t < meshBase->TriangleListCount; ++t) {
      const MV1TriangleList* list = &meshBase->TriangleList[t];
      int triangles = list->IndexCount / 3;
      for (int k = 0; k < triangles; ++k) {
        MV1_REF_POLYGON* p = &mesh->Polygons[mesh->PolygonNum + k];
        p->FrameIndex = static_cast<uint16_t>(fb->Index);
        p->MaterialIndex = material;
        p->VIndexTarget = vIndexTarget;
        for (int c = 0; c < 3; ++c) p->VIndex[c] = list->Index[k * 3 + c] + mesh->VertexNum;
      }
      mesh->PolygonNum += triangles;

      MV1_REF_VERTEX* out = &mesh->Vertexs[mesh->VertexNum];
      uint8_t* record = MV1TriangleListVertices(list);
      int stride = MV1TriangleListRecordSize(list);
      for (int v = 0; v < list->VertexCount; ++v, record += stride, ++out) {
        if (!isTransform) RecordPositionNormal(list, record, &out->Position, &out->Normal);
        MV1MeshVertex* mv = MV1MeshVertexAt(meshBase, list->MeshVertexIndex[v]);
        out->DiffuseColor = mv->Diffuse;
        out->SpecularColor = mv->Specular;
        const float* uv = MV1MeshVertexUV(mv);
        for (int s = 0; s < 2; ++s) {
          out->TexCoord[s] = s < uvSets ? UV{uv[s * meshBase->FloatsPerUV],
                                             uv[s * meshBase->FloatsPerUV + 1]}
                                        : UV{0, 0};
        }
      }
      mesh->VertexNum += list->VertexCount;
    }
  }
}

void AddWeighted(Matrix3x4* acc, const Matrix3x4* m, float w) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) acc->m[r][c] += w * m->m[r][c];
}

void ScaleInto(Matrix3x4* out, const Matrix3x4* m, float w) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) out->m[r][c] = w * m->m[r][c];
}

// The blend matrix of a vertex with up to `count` (matrix, weight) entries: the first bone's
// matrix alone when its weight is exactly 1, else the weighted sum of the first bone and every
// further bone whose weight is not 0.
template <class BoneAt>
const Matrix3x4* BlendMatrix(Matrix3x4* blend, const float* weights, int count, BoneAt boneAt) {
  if (weights[0] == 1.0f) return boneAt(0);
  ScaleInto(blend, boneAt(0), weights[0]);
  for (int k = 1; k < count; ++k)
    if (weights[k] != 0.0f) AddWeighted(blend, boneAt(k), weights[k]);
  return blend;
}

// The matrix that takes a per-vertex record of the list to world space.
const Matrix3x4* VertexMatrix(const MV1Frame* frame, const MV1TriangleList* list, uint8_t* record,
                              Matrix3x4* blend) {
  switch (list->VertexType) {
    case MV1_VERTEX_TYPE_RIGID:
      return &frame->WorldMatrix;
    case MV1_VERTEX_TYPE_SKIN_4BONE: {
      auto* v = reinterpret_cast<MV1VertexSkin4*>(record);
      return BlendMatrix(blend, v->Weight, 4, [&](int k) {
        return MV1SlotSkinBoneMatrix(frame, list, v->BoneSlot[k]);
      });
    }
    case MV1_VERTEX_TYPE_SKIN_8BONE: {
      auto* v = reinterpret_cast<MV1VertexSkin8*>(record);
      return BlendMatrix(blend, v->Weight, 8, [&](int k) {
        return MV1SlotSkinBoneMatrix(frame, list, k < 4 ? v->BoneSlot0123[k] : v->BoneSlot4567[k - 4]);
      });
    }
    default: {
      MV1BoneWeightPair* pairs = MV1VertexFreeBones(reinterpret_cast<MV1VertexSkinFree*>(record));
      if (list->BonesPerVertex <= 0 || pairs[0].Index == -1) return &MV1IdentityMatrix3x4;
      float weights[64];
      int count = 0;
      while (count < list->BonesPerVertex && count < 64 && pairs[count].Index != -1) {
        weights[count] = pairs[count].Weight;
        ++count;
      }
      return BlendMatrix(blend, weights, count, [&](int k) {
        return MV1FrameSkinBoneMatrix(frame, pairs[k].Index);
      });
    }
  }
}

VECTOR Rotate(const Matrix3x4* m, const VECTOR& v) {
  return VECTOR{m->m[0][0] * v.x + m->m[0][1] * v.y + m->m[0][2] * v.z,
                m->m[1][0] * v.x + m->m[1][1] * v.y + m->m[1][2] * v.z,
                m->m[2][0] * v.x + m->m[2][1] * v.y + m->m[2][2] * v.z};
}

// Recomputes one frame's transformed positions and normals from vertexNum on.
void RefreshReferenceMeshFrame(const MV1Frame* frame, MV1_REF_POLYGONLIST* mesh) {
  const MV1FrameBase* fb = frame->Base;
  for (int m = 0; m < fb->MeshCount; ++m) {
    const MV1MeshBase* meshBase = &fb->Mesh[m];
    for (int t = 0; t < meshBase->TriangleListCount; ++t) {
      const MV1TriangleList* list = &meshBase->TriangleList[t];
      MV1_REF_VERTEX* out = &mesh->Vertexs[mesh->VertexNum];
      uint8_t* record = MV1TriangleListVertices(list);
      int stride = MV1TriangleListRecordSize(list);
      for (int v = 0; v < list->VertexCount; ++v, record += stride, ++out) {
        VECTOR position, normal;
        RecordPositionNormal(list, record, &position, &normal);
        Matrix3x4 blend;
        const Matrix3x4* matrix = VertexMatrix(frame, list, record, &blend);
        VTransformMatrix3x4(matrix, &out->Position, &position);
        out->Normal = Rotate(matrix, normal);
      }
      mesh->VertexNum += list->VertexCount;
    }
  }
}

void Widen(VECTOR* min, VECTOR* max, const VECTOR& v) {
  if (v.x < min->x) min->x = v.x;
  if (v.x > max->x) max->x = v.x;
  if (v.y < min->y) min->y = v.y;
  if (v.y > max->y) max->y = v.y;
  if (v.z < min->z) min->z = v.z;
  if (v.z > max->z) max->z = v.z;
}

void ComputeBoxes(MV1_REF_POLYGONLIST* mesh) {
  if (mesh->PolygonNum == 0) return;
  for (int i = 0; i < mesh->PolygonNum; ++i) {
    MV1_REF_POLYGON* p = &mesh->Polygons[i];
    p->MinPosition = p->MaxPosition = mesh->Vertexs[p->VIndex[0]].Position;
    Widen(&p->MinPosition, &p->MaxPosition, mesh->Vertexs[p->VIndex[1]].Position);
    Widen(&p->MinPosition, &p->MaxPosition, mesh->Vertexs[p->VIndex[2]].Position);
  }
  mesh->MinPosition = mesh->MaxPosition = mesh->Vertexs[mesh->Polygons[0].VIndex[0]].Position;
  for (int i = 0; i < mesh->PolygonNum; ++i) {
    Widen(&mesh->MinPosition, &mesh->MaxPosition, mesh->Polygons[i].MinPosition);
    Widen(&mesh->MinPosition, &mesh->MaxPosition, mesh->Polygons[i].MaxPosition);
  }
}

// Allocates and fills a new mesh of the kind; null (logged) when the block cannot be had.
MV1_REF_POLYGONLIST* CreateMesh(const MV1RefOwner& owner, int kind) {
  MV1ModelBase* base = owner.Model->BaseData;
  FrameRange range = RangeOf(owner);
  size_t polygons = 0, vertices = 0;
  for (int i = range.first; i < range.end; ++i) CountFrame(&base->Frame[i], &polygons, &vertices);
  size_t size = sizeof(MV1_REF_POLYGONLIST) + polygons * sizeof(MV1_REF_POLYGON) +
                vertices * sizeof(MV1_REF_VERTEX);
  auto* mesh = static_cast<MV1_REF_POLYGONLIST*>(MEM_CALLOC(size));
  if (!mesh) {
    WriteLogFmt(TEXT_MV1_REFMESH_ALLOC_FAILED "\n");
    return nullptr;
  }
  mesh->Polygons = reinterpret_cast<MV1_REF_POLYGON*>(mesh + 1);
  mesh->Vertexs = reinterpret_cast<MV1_REF_VERTEX*>(mesh->Polygons + polygons);
  int vIndexTarget = owner.Frame ? 1 : 0;
  for (int i = range.first; i < range.end; ++i)
    SetupReferenceMeshFrame(base, &base->Frame[i], mesh, vIndexTarget, kind);
  return mesh;
}

int Refresh(const MV1RefOwner& owner, int kind) {
  MV1SetupMatrix(owner.Model);
  if (!owner.RefMesh[kind]) {
    owner.RefMesh[kind] = CreateMesh(owner, kind);
    if (!owner.RefMesh[kind]) return -1;
    owner.RefMeshUpToDate[kind] = 0;
  }
  if (owner.RefMeshUpToDate[kind]) return 0;
  owner.RefMeshUpToDate[kind] = 1;
  MV1_REF_POLYGONLIST* mesh = owner.RefMesh[kind];
  if (kind == 1) {
    *owner.CollInfoUpToDate = 0;
    mesh->VertexNum = 0;
    FrameRange range = RangeOf(owner);
    for (int i = range.first; i < range.end; ++i)
      RefreshReferenceMeshFrame(&owner.Model->Frame[i], mesh);
  }
  ComputeBoxes(mesh);
  return 0;
}

int KindOf(int isTransform) { return isTransform ? 1 : 0; }

}  // namespace

bool MV1GetRefOwner(int modelHandle, int frameIndex, MV1RefOwner* owner) {
  MV1Model* model = MV1GetModelCheckedNoInit(modelHandle);
  if (!model) return false;
  if (frameIndex == -1) {
    *owner = {model, nullptr, model->RefMesh, model->RefMeshUpToDate, &model->CollInfo,
              &model->CollInfoUpToDate};
    return true;
  }
  if (frameIndex < 0 || frameIndex >= model->BaseData->FrameCount) return false;
  MV1Frame* frame = &model->Frame[frameIndex];
  *owner = {model, frame, frame->RefMesh, frame->RefMeshUpToDate, &frame->CollInfo,
            &frame->CollInfoUpToDate};
  return true;
}

int MV1SetupReferenceMesh(int modelHandle, int frameIndex, int isTransform) {
  MV1RefOwner owner;
  if (!MV1GetRefOwner(modelHandle, frameIndex, &owner)) return -1;
  return Refresh(owner, KindOf(isTransform));
}

int MV1RefreshReferenceMesh(int modelHandle, int frameIndex, int isTransform) {
  return MV1SetupReferenceMesh(modelHandle, frameIndex, isTransform);
}

MV1_REF_POLYGONLIST MV1GetReferenceMesh(int modelHandle, int frameIndex, int isTransform) {
  MV1_REF_POLYGONLIST empty;
  std::memset(&empty, 0, sizeof(empty));
  MV1RefOwner owner;
  if (!MV1GetRefOwner(modelHandle, frameIndex, &owner)) return empty;
  int kind = KindOf(isTransform);
  if (!owner.RefMesh[kind] && Refresh(owner, kind) != 0) return empty;
  return *owner.RefMesh[kind];
}

int MV1TerminateReferenceMesh(int modelHandle, int frameIndex, int isTransform) {
  MV1RefOwner owner;
  if (!MV1GetRefOwner(modelHandle, frameIndex, &owner)) return -1;
  int kind = KindOf(isTransform);
  MEM_FREE(owner.RefMesh[kind]);
  owner.RefMesh[kind] = nullptr;
  owner.RefMeshUpToDate[kind] = 0;
  // A grid never outlives the mesh it indexes.
  if (kind == 1) MV1FreeCollInfo(owner);
  return 0;
}
