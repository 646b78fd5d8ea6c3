// Reference meshes: fill, local and transformed kinds, skinning against an independent
// double-precision reference, staleness, terminate, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include <qzlib/base/log.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_refmesh.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/model_test.h"

namespace {

using RefMeshTest = ModelTest;

int CreateModel(int base) {
  int h = MV1AddModelHandle();
  return MV1CreateModelFromBase(h, base) == 0 ? h : -1;
}

int ReferenceModel() { return CreateModel(ReferenceBaseBuilder().Build()); }

struct Dmat {
  double m[3][4];
};

Dmat ToD(const MATRIX& world) {  // the world MATRIX as a column-vector 3x4 in double
  Dmat d;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) d.m[r][c] = world.m[c][r];
    d.m[r][3] = world.m[3][r];
  }
  return d;
}

Dmat Mul(const Dmat& a, const Matrix3x4& b) {
  Dmat o;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      double s = c == 3 ? a.m[r][3] : 0.0;
      for (int k = 0; k < 3; ++k) s += a.m[r][k] * b.m[k][c];
      o.m[r][c] = s;
    }
  return o;
}

const Dmat kIdentityD = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};

// The skin matrix of a position in the frame's bone list, from the frame world matrices that
// the model reports and the bones' offsets; the identity outside the list.
Dmat BoneD(int model, const MV1FrameBase* fb, int position) {
  if (position < 0 || position >= fb->UseSkinBoneCount) return kIdentityD;
  const MV1SkinBoneBase* bone = fb->UseSkinBone[position];
  int owner = -1;
  const MV1ModelBase* base = fb->Container;
  for (int f = 0; f < base->FrameCount; ++f) {
    const MV1FrameBase* cand = &base->Frame[f];
    if (bone >= cand->SkinBone && bone < cand->SkinBone + cand->SkinBoneCount) owner = f;
  }
  Dmat world = ToD(MV1GetFrameLocalWorldMatrix(model, owner));
  if (!bone->TranslateOnly) return Mul(world, bone->ModelLocalMatrix);
  Dmat o = world;
  for (int r = 0; r < 3; ++r) {
    o.m[r][3] = world.m[r][3];
    for (int k = 0; k < 3; ++k) o.m[r][3] += world.m[r][k] * bone->ModelLocalMatrix.m[k][3];
  }
  return o;
}

void Accumulate(Dmat* acc, const Dmat& m, double w) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) acc->m[r][c] += w * m.m[r][c];
}

// World position of list vertex v, skinned in double from the per-vertex record.
VECTOR ExpectedPosition(int model, const MV1TriangleList* list, int v) {
  const MV1FrameBase* fb = list->Container->Container;
  uint8_t* rec = MV1TriangleListVertices(list) + v * MV1TriangleListRecordSize(list);
  Dmat m = {};
  VECTOR p;
  auto slotBone = [&](int slot) {
    return slot >= list->UseBoneCount ? kIdentityD : BoneD(model, fb, list->UseBone[slot]);
  };
  switch (list->VertexType) {
    case MV1_VERTEX_TYPE_RIGID:
      p = reinterpret_cast<MV1VertexRigid*>(rec)->Position;
      m = ToD(MV1GetFrameLocalWorldMatrix(model, fb->Index));
      break;
    case MV1_VERTEX_TYPE_SKIN_4BONE: {
      auto* r = reinterpret_cast<MV1VertexSkin4*>(rec);
      p = r->Position;
      for (int k = 0; k < 4; ++k) Accumulate(&m, slotBone(r->BoneSlot[k]), r->Weight[k]);
      break;
    }
    case MV1_VERTEX_TYPE_SKIN_8BONE: {
      auto* r = reinterpret_cast<MV1VertexSkin8*>(rec);
      p = r->Position;
      for (int k = 0; k < 8; ++k)
        Accumulate(&m, slotBone(k < 4 ? r->BoneSlot0123[k] : r->BoneSlot4567[k - 4]), r->Weight[k]);
      break;
    }
    default: {
      auto* r = reinterpret_cast<MV1VertexSkinFree*>(rec);
      p = r->Position;
      MV1BoneWeightPair* pairs = MV1VertexFreeBones(r);
      if (pairs[0].Index == -1) m = kIdentityD;
      for (int k = 0; k < list->BonesPerVertex && pairs[k].Index != -1; ++k)
        Accumulate(&m, BoneD(model, fb, pairs[k].Index), pairs[k].Weight);
    }
  }
  double out[3];
  for (int r = 0; r < 3; ++r) out[r] = m.m[r][0] * p.x + m.m[r][1] * p.y + m.m[r][2] * p.z + m.m[r][3];
  return VECTOR{static_cast<float>(out[0]), static_cast<float>(out[1]), static_cast<float>(out[2])};
}

// Checks every vertex of the frames of a mesh against the reference skinning (transformed) or the
// stored records (local), in fill order.
void ExpectVertices(int model, const MV1_REF_POLYGONLIST& mesh, int firstFrame, int endFrame,
                    bool transformed) {
  const MV1ModelBase* base = MV1GetModelChecked(model)->BaseData;
  int n = 0;
  for (int f = firstFrame; f < endFrame; ++f) {
    const MV1FrameBase* fb = &base->Frame[f];
    for (int m = 0; m < fb->MeshCount; ++m)
      for (int t = 0; t < fb->Mesh[m].TriangleListCount; ++t) {
        const MV1TriangleList* list = &fb->Mesh[m].TriangleList[t];
        for (int v = 0; v < list->VertexCount; ++v, ++n) {
          ASSERT_LT(n, mesh.VertexNum);
          const VECTOR& got = mesh.Vertexs[n].Position;
          VECTOR want;
          if (transformed) {
            want = ExpectedPosition(model, list, v);
          } else {
            uint8_t* rec = MV1TriangleListVertices(list) + v * MV1TriangleListRecordSize(list);
            want = list->VertexType == MV1_VERTEX_TYPE_SKIN_8BONE
                       ? reinterpret_cast<MV1VertexSkin8*>(rec)->Position
                   : list->VertexType == MV1_VERTEX_TYPE_SKIN_4BONE
                       ? reinterpret_cast<MV1VertexSkin4*>(rec)->Position
                       : reinterpret_cast<MV1VertexRigid*>(rec)->Position;
          }
          float tol = transformed ? 1e-4f * (1 + std::fabs(want.x) + std::fabs(want.y) + std::fabs(want.z)) : 0;
          EXPECT_NEAR(got.x, want.x, tol) << "frame " << f << " type " << list->VertexType << " v " << v;
          EXPECT_NEAR(got.y, want.y, tol);
          EXPECT_NEAR(got.z, want.z, tol);
        }
      }
  }
  EXPECT_EQ(n, mesh.VertexNum);
}

TEST_F(RefMeshTest, WholeModelFillsEveryFrameInOrder) {
  int h = ReferenceModel();
  const MV1ModelBase* base = MV1GetModelChecked(h)->BaseData;
  for (int transform = 0; transform < 2; ++transform) {
    ASSERT_EQ(MV1SetupReferenceMesh(h, -1, transform), 0);
    MV1_REF_POLYGONLIST mesh = MV1GetReferenceMesh(h, -1, transform);
    EXPECT_EQ(mesh.PolygonNum, base->TriangleCount);
    EXPECT_EQ(mesh.VertexNum, base->VertexCount);
    ExpectVertices(h, mesh, 0, base->FrameCount, transform == 1);
    int p = 0, vertexBase = 0;
    VECTOR lo = mesh.Vertexs[mesh.Polygons[0].VIndex[0]].Position, hi = lo;
    for (int f = 0; f < base->FrameCount; ++f)
      for (int m = 0; m < base->Frame[f].MeshCount; ++m) {
        const MV1MeshBase* mb = &base->Frame[f].Mesh[m];
        for (int t = 0; t < mb->TriangleListCount; ++t) {
          const MV1TriangleList* list = &mb->TriangleList[t];
          for (int k = 0; k < list->IndexCount / 3; ++k, ++p) {
            const MV1_REF_POLYGON& poly = mesh.Polygons[p];
            EXPECT_EQ(poly.FrameIndex, f);
            EXPECT_EQ(poly.MaterialIndex, mb->Material - base->Material);
            EXPECT_EQ(poly.VIndexTarget, 0);
            for (int c = 0; c < 3; ++c) {
              EXPECT_EQ(poly.VIndex[c], list->Index[k * 3 + c] + vertexBase);
              const VECTOR& v = mesh.Vertexs[poly.VIndex[c]].Position;
              EXPECT_LE(poly.MinPosition.x, v.x);
              EXPECT_GE(poly.MaxPosition.y, v.y);
              lo = VECTOR{std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
              hi = VECTOR{std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
            }
          }
          for (int v = 0; v < list->VertexCount; ++v) {
            const MV1_REF_VERTEX& rv = mesh.Vertexs[vertexBase + v];
            MV1MeshVertex* mv = MV1MeshVertexAt(mb, list->MeshVertexIndex[v]);
            EXPECT_EQ(std::memcmp(&rv.DiffuseColor, &mv->Diffuse, 4), 0);
            EXPECT_EQ(rv.TexCoord[0].u, MV1MeshVertexUV(mv)[0]);
            EXPECT_EQ(rv.TexCoord[0].v, MV1MeshVertexUV(mv)[1]);
            EXPECT_EQ(rv.TexCoord[1].u, 0.0f);  // one set only: the second pair is 0
            EXPECT_EQ(rv.TexCoord[1].v, 0.0f);
          }
          vertexBase += list->VertexCount;
        }
      }
    EXPECT_EQ(mesh.MinPosition.x, lo.x);
    EXPECT_EQ(mesh.MinPosition.z, lo.z);
    EXPECT_EQ(mesh.MaxPosition.y, hi.y);
    EXPECT_EQ(mesh.MaxPosition.z, hi.z);
  }
}

TEST_F(RefMeshTest, SingleFrameMeshesAndEmptyFrame) {
  ModelBaseBuilder b = ReferenceBaseBuilder();
  b.AddFrame(0);  // 8: no meshes
  b.meshes[0].uvSets = 3;
  int h = CreateModel(b.Build());
  const MV1ModelBase* base = MV1GetModelChecked(h)->BaseData;
  for (int f = 0; f < base->FrameCount; ++f)
    for (int transform = 0; transform < 2; ++transform) {
      ASSERT_EQ(MV1SetupReferenceMesh(h, f, transform), 0);
      MV1_REF_POLYGONLIST mesh = MV1GetReferenceMesh(h, f, transform);
      EXPECT_EQ(mesh.PolygonNum, base->Frame[f].TriangleCount);
      ExpectVertices(h, mesh, f, f + 1, transform == 1);
      for (int p = 0; p < mesh.PolygonNum; ++p) {
        EXPECT_EQ(mesh.Polygons[p].VIndexTarget, 1);
        EXPECT_EQ(mesh.Polygons[p].FrameIndex, f);
        for (int c = 0; c < 3; ++c) EXPECT_LT(mesh.Polygons[p].VIndex[c], mesh.VertexNum);
      }
    }
  MV1_REF_POLYGONLIST empty = MV1GetReferenceMesh(h, 8, 1);
  EXPECT_EQ(empty.PolygonNum, 0);
  EXPECT_EQ(empty.VertexNum, 0);
  const float zeros[6] = {};
  EXPECT_EQ(std::memcmp(&empty.MinPosition, zeros, sizeof(zeros)), 0);  // header box cleared
  // Three UV sets: both pairs come from the mesh.
  MV1_REF_POLYGONLIST frame0 = MV1GetReferenceMesh(h, 0, 0);
  MV1MeshVertex* mv = MV1MeshVertexAt(&base->Frame[0].Mesh[0], 0);
  EXPECT_EQ(frame0.Vertexs[0].TexCoord[1].u, MV1MeshVertexUV(mv)[2]);
  EXPECT_EQ(frame0.Vertexs[0].TexCoord[1].v, MV1MeshVertexUV(mv)[3]);
}

TEST_F(RefMeshTest, RefreshIsLazyAndFollowsModelMoves) {
  int h = ReferenceModel();
  ASSERT_EQ(MV1SetupReferenceMesh(h, -1, 1), 0);
  MV1_REF_POLYGONLIST mesh = MV1GetReferenceMesh(h, -1, 1);
  VECTOR before = mesh.Vertexs[0].Position;
  VECTOR boxBefore = mesh.MinPosition;
  mesh.Vertexs[0].Position.x += 100;  // a second refresh without a move must not recompute
  ASSERT_EQ(MV1RefreshReferenceMesh(h, -1, 1), 0);
  EXPECT_EQ(mesh.Vertexs[0].Position.x, before.x + 100);
  mesh.Vertexs[0].Position = before;

  ASSERT_EQ(MV1SetPosition(h, VECTOR{4, -8, 16}), 0);
  MV1_REF_POLYGONLIST stale = MV1GetReferenceMesh(h, -1, 1);  // no refresh: old positions
  EXPECT_EQ(stale.Vertexs[0].Position.x, before.x);
  ASSERT_EQ(MV1RefreshReferenceMesh(h, -1, 1), 0);
  EXPECT_NEAR(mesh.Vertexs[0].Position.x, before.x + 4, 1e-4);
  EXPECT_NEAR(mesh.Vertexs[0].Position.y, before.y - 8, 1e-4);
  EXPECT_NEAR(MV1GetReferenceMesh(h, -1, 1).MinPosition.z, boxBefore.z + 16, 1e-4);
  ExpectVertices(h, MV1GetReferenceMesh(h, -1, 1), 0, 8, true);
  // The local mesh ignores the move.
  MV1_REF_POLYGONLIST local = MV1GetReferenceMesh(h, -1, 0);
  ExpectVertices(h, local, 0, 8, false);
}

TEST_F(RefMeshTest, MovingABoneRefreshesTheSkinnedFrameMesh) {
  int h = ReferenceModel();
  // Frame 3 holds 4-bone vertices over bones of frames 1 and 2; only frame 1 moves.
  ASSERT_EQ(MV1SetupReferenceMesh(h, 3, 1), 0);
  VECTOR before = MV1GetReferenceMesh(h, 3, 1).Vertexs[0].Position;
  MATRIX bent = MMult(MGetRotZ(0.7f), MGetTranslate(VECTOR{0, 5, 0}));
  ASSERT_EQ(MV1SetFrameUserLocalMatrix(h, 1, bent), 0);
  ASSERT_EQ(MV1RefreshReferenceMesh(h, 3, 1), 0);
  MV1_REF_POLYGONLIST mesh = MV1GetReferenceMesh(h, 3, 1);
  EXPECT_NE(std::memcmp(&before, &mesh.Vertexs[0].Position, sizeof(VECTOR)), 0);
  ExpectVertices(h, mesh, 3, 4, true);
}

TEST_F(RefMeshTest, OutOfRangeBonesReadTheIdentity) {
  ModelBaseBuilder b = ReferenceBaseBuilder();
  int h = CreateModel(b.Build());
  MV1ModelBase* base = MV1GetModelChecked(h)->BaseData;
  MV1TriangleList* four = base->Frame[3].Mesh[0].TriangleList;
  MV1TriangleList* free = base->Frame[5].Mesh[0].TriangleList;
  ASSERT_EQ(four->VertexType, MV1_VERTEX_TYPE_SKIN_4BONE);
  ASSERT_EQ(free->VertexType, MV1_VERTEX_TYPE_SKIN_FREEBONE);
  auto* v4 = reinterpret_cast<MV1VertexSkin4*>(MV1TriangleListVertices(four));
  v4->BoneSlot[0] = static_cast<uint8_t>(four->UseBoneCount);  // a bone the list does not hold
  v4->Weight[0] = 1.0f;
  auto* vf = reinterpret_cast<MV1VertexSkinFree*>(MV1TriangleListVertices(free));
  MV1VertexFreeBones(vf)[0].Index = -1;
  auto* vf1 = reinterpret_cast<MV1VertexSkinFree*>(MV1TriangleListVertices(free) + free->VertexStride);
  MV1VertexFreeBones(vf1)[0] = {1000, 1.0f};  // outside the frame's bone list
  MV1SetPosition(h, VECTOR{3, 3, 3});
  MV1_REF_POLYGONLIST m3 = MV1GetReferenceMesh(h, 3, 1);
  EXPECT_EQ(std::memcmp(&m3.Vertexs[0].Position, &v4->Position, sizeof(VECTOR)), 0);
  MV1_REF_POLYGONLIST m5 = MV1GetReferenceMesh(h, 5, 1);
  EXPECT_EQ(std::memcmp(&m5.Vertexs[0].Position, &vf->Position, sizeof(VECTOR)), 0);
  EXPECT_EQ(std::memcmp(&m5.Vertexs[1].Position, &vf1->Position, sizeof(VECTOR)), 0);
  EXPECT_EQ(std::memcmp(&m5.Vertexs[0].Normal, &vf->Normal, sizeof(VECTOR)), 0);
}

TEST_F(RefMeshTest, TerminateForgetsTheMeshAndItsFlag) {
  int h = ReferenceModel();
  for (int transform = 0; transform < 2; ++transform) {
    ASSERT_EQ(MV1SetupReferenceMesh(h, -1, transform), 0);
    MV1_REF_POLYGONLIST first = MV1GetReferenceMesh(h, -1, transform);
    ASSERT_EQ(MV1TerminateReferenceMesh(h, -1, transform), 0);
    EXPECT_EQ(MV1TerminateReferenceMesh(h, -1, transform), 0);  // none left: still 0
    ASSERT_EQ(MV1SetupReferenceMesh(h, -1, transform), 0);
    MV1_REF_POLYGONLIST again = MV1GetReferenceMesh(h, -1, transform);
    EXPECT_EQ(std::memcmp(&first.MinPosition, &again.MinPosition, 2 * sizeof(VECTOR)), 0);
    ExpectVertices(h, again, 0, 8, transform == 1);
  }
  // Counts stored by a builder do not size the block: the fill's own sums do.
  MV1GetModelChecked(h)->BaseData->Frame[0].TriangleCount = 0;
  ASSERT_EQ(MV1SetupReferenceMesh(h, 0, 1), 0);
  EXPECT_EQ(MV1GetReferenceMesh(h, 0, 1).PolygonNum, 2);
  // The model's deletion frees every mesh (the fixture checks that nothing is left).
}

TEST_F(RefMeshTest, BadHandlesAndFrames) {
  int h = ReferenceModel();
  const int frames = MV1GetModelChecked(h)->BaseData->FrameCount;
  for (int frame : {-2, frames, 1 << 20}) {
    EXPECT_EQ(MV1SetupReferenceMesh(h, frame, 1), -1);
    EXPECT_EQ(MV1RefreshReferenceMesh(h, frame, 0), -1);
    EXPECT_EQ(MV1TerminateReferenceMesh(h, frame, 1), -1);
    EXPECT_EQ(MV1GetReferenceMesh(h, frame, 1).Polygons, nullptr);
  }
  for (int handle : {0, -1, h + 1, h | 0x08000000}) {
    EXPECT_EQ(MV1SetupReferenceMesh(handle, -1, 1), -1);
    EXPECT_EQ(MV1GetReferenceMesh(handle, -1, 0).VertexNum, 0);
  }
}

TEST_F(RefMeshTest, AllocationFailureLogsAndAttachesNothing) {
  int h = ReferenceModel();
  LogCaptureBegin();
  int points = ForEachAllocationFailure([&]() {
    bool ok = MV1SetupReferenceMesh(h, -1, 1) == 0 && MV1SetupReferenceMesh(h, 2, 0) == 0;
    if (!ok) {
      EXPECT_EQ(MV1GetModelChecked(h)->Frame[2].RefMesh[0], nullptr);
      MV1TerminateReferenceMesh(h, -1, 1);
      return false;
    }
    MV1TerminateReferenceMesh(h, -1, 1);
    MV1TerminateReferenceMesh(h, 2, 0);
    return true;
  });
  std::string log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  EXPECT_EQ(points, 2);
  // The message ends in a line feed of its own, so an empty line follows it.
  EXPECT_NE(log.find(TEXT_MV1_REFMESH_ALLOC_FAILED "\r\n\r\n"), std::string::npos);
}

}  // namespace
