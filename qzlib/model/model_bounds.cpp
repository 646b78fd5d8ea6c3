// Bounding boxes of a base, its frames and meshes (once per base), and the view test of a box.
#include <qzlib/model/model_bounds.h>

#include <qzlib/graphics/graphics3d.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_skin.h>

namespace {

constexpr float kBoxStart = 1e8f;

void StartBox(VECTOR* max, VECTOR* min) {
  *max = VECTOR{-kBoxStart, -kBoxStart, -kBoxStart};
  *min = VECTOR{kBoxStart, kBoxStart, kBoxStart};
}

void Grow(VECTOR* max, VECTOR* min, const VECTOR& v) {
  if (v.x > max->x) max->x = v.x;
  if (v.x < min->x) min->x = v.x;
  if (v.y > max->y) max->y = v.y;
  if (v.y < min->y) min->y = v.y;
  if (v.z > max->z) max->z = v.z;
  if (v.z < min->z) min->z = v.z;
}

void AddWeighted(Matrix3x4* acc, const Matrix3x4* m, float w) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) acc->m[r][c] += w * m->m[r][c];
}

// World position of one per-vertex record.
VECTOR WorldPosition(const MV1Frame* frame, const MV1TriangleList* list, uint8_t* record,
                     VECTOR* stored) {
  Matrix3x4 blend = {};
  const Matrix3x4* single = nullptr;
  switch (list->VertexType) {
    case MV1_VERTEX_TYPE_RIGID: {
      auto* v = reinterpret_cast<MV1VertexRigid*>(record);
      *stored = v->Position;
      single = &frame->WorldMatrix;
      break;
    }
    case MV1_VERTEX_TYPE_SKIN_4BONE: {
      auto* v = reinterpret_cast<MV1VertexSkin4*>(record);
      *stored = v->Position;
      for (int k = 0; k < 4; ++k)
        if (v->Weight[k] != 0.0f) AddWeighted(&blend, MV1SlotSkinBoneMatrix(frame, list, v->BoneSlot[k]), v->Weight[k]);
      break;
    }
    case MV1_VERTEX_TYPE_SKIN_8BONE: {
      auto* v = reinterpret_cast<MV1VertexSkin8*>(record);
      *stored = v->Position;
      for (int k = 0; k < 8; ++k) {
        int slot = k < 4 ? v->BoneSlot0123[k] : v->BoneSlot4567[k - 4];
        if (v->Weight[k] != 0.0f) AddWeighted(&blend, MV1SlotSkinBoneMatrix(frame, list, slot), v->Weight[k]);
      }
      break;
    }
    default: {
      auto* v = reinterpret_cast<MV1VertexSkinFree*>(record);
      MV1BoneWeightPair* pairs = MV1VertexFreeBones(v);
      *stored = v->Position;
      if (list->BonesPerVertex <= 0 || pairs[0].Index == -1) {
        single = &MV1IdentityMatrix3x4;
      } else if (pairs[0].Weight == 1.0f) {
        single = MV1FrameSkinBoneMatrix(frame, pairs[0].Index);
      } else {
        for (int k = 0; k < list->BonesPerVertex && pairs[k].Index != -1; ++k)
          if (pairs[k].Weight != 0.0f) AddWeighted(&blend, MV1FrameSkinBoneMatrix(frame, pairs[k].Index), pairs[k].Weight);
      }
      break;
    }
  }
  VECTOR out;
  VTransformMatrix3x4(single ? single : &blend, &out, stored);
  return out;
}

}  // namespace

int MV1CalcBoundingBoxes(int modelHandle, VECTOR* maxPosition, VECTOR* minPosition) {
  MV1Model* model = MV1GetModelCheckedNoInit(modelHandle);
  if (!model) return -1;
  MV1ModelBase* base = model->BaseData;
  if (!base->ValidBoundingBox) {
    MV1SetupMatrix(model);
    StartBox(&base->MaxPosition, &base->MinPosition);
    for (int i = 0; i < base->FrameCount; ++i) {
      MV1Frame* frame = &model->Frame[i];
      MV1FrameBase* fb = frame->Base;
      if (fb->MeshCount == 0) {
        fb->MaxPosition = fb->MinPosition = VECTOR{0, 0, 0};
        continue;
      }
      StartBox(&fb->MaxPosition, &fb->MinPosition);
      for (int m = 0; m < fb->MeshCount; ++m) {
        MV1MeshBase* mesh = &fb->Mesh[m];
        StartBox(&mesh->MaxPosition, &mesh->MinPosition);
        for (int t = 0; t < mesh->TriangleListCount; ++t) {
          const MV1TriangleList* list = &mesh->TriangleList[t];
          uint8_t* record = MV1TriangleListVertices(list);
          int stride = MV1TriangleListRecordSize(list);
          for (int v = 0; v < list->VertexCount; ++v, record += stride) {
            VECTOR stored;
            VECTOR world = WorldPosition(frame, list, record, &stored);
            Grow(&mesh->MaxPosition, &mesh->MinPosition, stored);
            Grow(&base->MaxPosition, &base->MinPosition, world);
          }
        }
        Grow(&fb->MaxPosition, &fb->MinPosition, mesh->MaxPosition);
        Grow(&fb->MaxPosition, &fb->MinPosition, mesh->MinPosition);
      }
      fb->ValidBoundingBox = 1;
    }
    base->ValidBoundingBox = 1;
  }
  if (maxPosition) *maxPosition = base->MaxPosition;
  if (minPosition) *minPosition = base->MinPosition;
  return 0;
}

int MV1CheckBoxOutsideView(const VECTOR corners[8]) {
  const MATRIX& m = ViewMatrices.ViewProjection;
  unsigned common = ~0u;
  for (int i = 0; i < 8; ++i) {
    float x = corners[i].x, y = corners[i].y, z = corners[i].z;
    float w = x * m.m[0][3] + y * m.m[1][3] + z * m.m[2][3] + m.m[3][3];
    float X = (x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0] + m.m[3][0]) / w;
    float Y = (x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1] + m.m[3][1]) / w;
    float Z = (x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2] + m.m[3][2]) / w;
    if (w < 0) {
      X = -X;
      Y = -Y;
    }
    unsigned code = 0;
    if (X < -1) code |= 2;
    else if (X > 1) code |= 1;
    if (Y < -1) code |= 8;
    else if (Y > 1) code |= 4;
    if (Z < 0) code |= 32;
    else if (Z > 1) code |= 16;
    if (code == 0) return 0;
    common &= code;
  }
  return common != 0 ? 1 : 0;
}
