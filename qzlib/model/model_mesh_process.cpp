// Load-time mesh processing: tangents and binormals, per-vertex records, normal recalculation and
// vertex merging.
#include <qzlib/model/model_mesh_process.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/mathutil.h>
#include <qzlib/base/memory.h>
#include <qzlib/math/math_inline.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/base/engine_texts.h>

using mathinl::Cross;
using mathinl::Dot;

namespace {

bool UsableLength(float sq) { return sq > 0.0f && std::isfinite(sq); }
float LengthSq(VECTOR v) { return v.x * v.x + v.y * v.y + v.z * v.z; }
// v divided by its length (the square root inline, same bits as SqrtFloat).
VECTOR Normalise(VECTOR v) {
  const float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x / len, v.y / len, v.z / len};
}

// b's part perpendicular to the unit vector t, normalised: normalise(normalise(t x b) x t), with
// the fall-backs N x t, t x Y, t x Z for a b whose t x b has no usable length.
VECTOR PerpendicularBinormal(VECTOR t, VECTOR b, VECTOR n) {
  const VECTOR candidates[4] = {b, Cross(n, t), Cross(t, VECTOR{0, 1, 0}),
                                Cross(t, VECTOR{0, 0, 1})};
  for (const VECTOR& c : candidates) {
    VECTOR x = Cross(t, c);
    if (!UsableLength(LengthSq(x))) continue;
    VECTOR r = Cross(Normalise(x), t);
    if (!UsableLength(LengthSq(r))) continue;
    return Normalise(r);
  }
  return VECTOR{0, 1, 0};
}

}  // namespace

int MV1SetupTangentAndBinormal(MV1MeshBase* mesh) {
  const int normalCount = mesh->Container->NormalCount;
  uint8_t* marks = static_cast<uint8_t*>(MEM_ALLOC(normalCount > 0 ? normalCount : 1));
  if (!marks) return WriteLog(TEXT_MV1_TANGENT_ALLOC_FAILED "\n");
  MV1SetupTangentAndBinormalWithMarks(mesh, marks);
  MEM_FREE(marks);
  return 0;
}

void MV1SetupTangentAndBinormalWithMarks(MV1MeshBase* mesh, uint8_t* marks) {
  MV1FrameBase* frame = mesh->Container;
  const int normalCount = frame->NormalCount;
  std::memset(marks, 0, normalCount > 0 ? normalCount : 1);
  MV1MeshNormal* normals = frame->Normal;
  for (int i = 0; i < mesh->VertexCount; ++i) {
    uint32_t n = MV1MeshVertexAt(mesh, i)->NormalIndex;
    if (n >= static_cast<uint32_t>(normalCount)) continue;
    marks[n] = 1;
    normals[n].Tangent = VECTOR{0, 0, 0};
    normals[n].Binormal = VECTOR{0, 0, 0};
  }
  const bool hasUV = mesh->UVSetCount > 0;
  for (int f = 0; f < mesh->FaceCount; ++f) {
    const MV1MeshFace* face = &mesh->Face[f];
    MV1MeshVertex* v[3];
    bool ok = true;
    for (int c = 0; c < 3; ++c) {
      if (face->VertexIndex[c] >= static_cast<uint32_t>(mesh->VertexCount)) ok = false;
      else v[c] = MV1MeshVertexAt(mesh, face->VertexIndex[c]);
    }
    if (!ok) continue;
    VECTOR p[3];
    float u[3] = {0, 0, 0}, w[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) {
      if (v[c]->PositionIndex >= static_cast<uint32_t>(frame->PositionCount) ||
          v[c]->NormalIndex >= static_cast<uint32_t>(normalCount))
        ok = false;
      else p[c] = MV1FramePositionAt(frame, v[c]->PositionIndex)->Position;
      if (hasUV) {
        u[c] = MV1MeshVertexUV(v[c])[0];
        w[c] = MV1MeshVertexUV(v[c])[1];
      }
    }
    if (!ok) continue;
    const float pa[3] = {p[0].x, p[0].y, p[0].z}, pb[3] = {p[1].x, p[1].y, p[1].z},
                pc[3] = {p[2].x, p[2].y, p[2].z};
    float tangent[3], binormal[3];
    for (int k = 0; k < 3; ++k) {
      VECTOR e1{pb[k] - pa[k], u[1] - u[0], w[1] - w[0]};
      VECTOR e2{pc[k] - pa[k], u[2] - u[0], w[2] - w[0]};
      VECTOR cr = Cross(e1, e2);
      float t = 1.0f, b = 0.0f;
      if (LengthSq(cr) >= 1e-7f && cr.x != 0.0f) {
        float qt = -cr.y / cr.x, qb = -cr.z / cr.x;
        if (std::isfinite(qt) && std::isfinite(qb)) {
          t = qt;
          b = qb;
        }
      }
      tangent[k] = t;
      binormal[k] = b;
    }
    for (int c = 0; c < 3; ++c) {
      MV1MeshNormal* n = &normals[v[c]->NormalIndex];
      n->Tangent.x += tangent[0];
      n->Tangent.y += tangent[1];
      n->Tangent.z += tangent[2];
      n->Binormal.x += binormal[0];
      n->Binormal.y += binormal[1];
      n->Binormal.z += binormal[2];
    }
  }
  for (int i = 0; i < normalCount; ++i) {
    if (!marks[i]) continue;
    MV1MeshNormal* n = &normals[i];
    VECTOR t = UsableLength(LengthSq(n->Tangent)) ? Normalise(n->Tangent) : VECTOR{1, 0, 0};
    if (!UsableLength(LengthSq(t))) t = VECTOR{1, 0, 0};
    n->Tangent = t;
    n->Binormal = PerpendicularBinormal(t, n->Binormal, n->Normal);
  }
}

namespace {

// Writes the records of a base list's vertices to dest (16-byte aligned).
void WriteListRecords(const MV1TriangleList* list, uint8_t* dest) {
  if (list->VertexType > MV1_VERTEX_TYPE_SKIN_FREEBONE) return;
  const MV1MeshBase* mesh = list->Container;
  const MV1FrameBase* frame = mesh->Container;
  const int stride = MV1TriangleListRecordSize(list);
  int maxBones = list->VertexType == MV1_VERTEX_TYPE_SKIN_4BONE   ? 4
                 : list->VertexType == MV1_VERTEX_TYPE_SKIN_8BONE ? 8
                                                                  : list->BonesPerVertex;
  if (maxBones > frame->BonesPerVertex) maxBones = frame->BonesPerVertex;
  if (maxBones < 0) maxBones = 0;
  for (int i = 0; i < list->VertexCount; ++i, dest += stride) {
    const MV1MeshVertex* mv = MV1MeshVertexAt(mesh, list->MeshVertexIndex[i]);
    MV1MeshPosition* pos = MV1FramePositionAt(frame, mv->PositionIndex);
    const VECTOR normal = frame->Normal[mv->NormalIndex].Normal;
    const MV1PositionBoneWeight* pairs = MV1PositionBones(pos);
    int n = 0;
    while (n < maxBones && pairs[n].Index != 0xFFFFFFFFu) ++n;
    auto slot = [&](int k) -> uint8_t {
      if (k >= n) return 0;
      for (int s = 0; s < list->UseBoneCount; ++s)
        if (static_cast<uint32_t>(list->UseBone[s]) == pairs[k].Index)
          return static_cast<uint8_t>(s);
      return static_cast<uint8_t>(list->UseBoneCount);
    };
    switch (list->VertexType) {
      case MV1_VERTEX_TYPE_RIGID: {
        auto* v = reinterpret_cast<MV1VertexRigid*>(dest);
        v->Position = pos->Position;
        v->PositionW = 1.0f;
        v->Normal = normal;
        v->NormalW = 0.0f;
        break;
      }
      case MV1_VERTEX_TYPE_SKIN_4BONE: {
        auto* v = reinterpret_cast<MV1VertexSkin4*>(dest);
        for (int k = 0; k < 4; ++k) {
          v->Weight[k] = k < n ? pairs[k].Weight : 0.0f;
          v->BoneSlot[k] = slot(k);
        }
        v->Position = pos->Position;
        v->PositionW = 1.0f;
        v->Normal = normal;
        break;
      }
      case MV1_VERTEX_TYPE_SKIN_8BONE: {
        auto* v = reinterpret_cast<MV1VertexSkin8*>(dest);
        for (int k = 0; k < 8; ++k) v->Weight[k] = k < n ? pairs[k].Weight : 0.0f;
        for (int k = 0; k < 4; ++k) {
          v->BoneSlot0123[k] = slot(k);
          v->BoneSlot4567[k] = slot(k + 4);
        }
        v->Normal = normal;
        v->Position = pos->Position;
        break;
      }
      default: {
        auto* v = reinterpret_cast<MV1VertexSkinFree*>(dest);
        v->Position = pos->Position;
        v->PositionW = 1.0f;
        v->Normal = normal;
        v->NormalW = 0.0f;
        MV1BoneWeightPair* out = MV1VertexFreeBones(v);
        for (int k = 0; k < list->BonesPerVertex; ++k) {
          out[k].Index = k < n ? static_cast<int>(pairs[k].Index) : -1;
          out[k].Weight = k < n ? pairs[k].Weight : 0.0f;
        }
        const int used = static_cast<int>(sizeof(MV1VertexSkinFree)) + 8 * list->BonesPerVertex;
        if (stride > used) std::memset(dest + used, 0, stride - used);  // padding
        break;
      }
    }
  }
}

}  // namespace

void MV1SetupTriangleListPositions(MV1TriangleList* list) {
  if (list->Vertices) WriteListRecords(list, MV1TriangleListVertices(list));
}

void MV1SetupModelTriangleListPositions(MV1ModelTriangleList* list) {
  if (list->Vertices && list->Base) WriteListRecords(list->Base, static_cast<uint8_t*>(list->Vertices));
}
