// Load-time mesh processing: per-vertex records, tangents and binormals, normal recalculation and
// vertex merging, with their failure paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_mesh_process.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/model_test.h"

namespace {

using MeshProcessTest = ModelTest;

MV1ModelBase* Base(int h) { return MV1GetModelBaseChecked(h); }

float F(const uint8_t* p, int at) {
  float v;
  std::memcpy(&v, p + at, 4);
  return v;
}
int I(const uint8_t* p, int at) {
  int v;
  std::memcpy(&v, p + at, 4);
  return v;
}

TEST_F(MeshProcessTest, RecordsMatchTheReferenceFillAndTheirByteLayout) {
  int h = ReferenceBaseBuilder().Build();
  MV1ModelBase* base = Base(h);
  ASSERT_NE(base, nullptr);
  int seen[4] = {0, 0, 0, 0};
  for (int i = 0; i < base->TriangleListCount; ++i) {
    MV1TriangleList* list = &base->TriangleList[i];
    const size_t bytes = size_t(MV1TriangleListRecordSize(list)) * list->VertexCount;
    uint8_t* rec = MV1TriangleListVertices(list);
    std::vector<uint8_t> reference(rec, rec + bytes);  // the builder's own fill
    std::memset(rec, 0xCD, bytes);
    MV1SetupTriangleListPositions(list);
    EXPECT_EQ(std::memcmp(rec, reference.data(), bytes), 0) << "list " << i;
    ++seen[list->VertexType];
    // Byte offsets of the first record.
    MV1MeshBase* mesh = list->Container;
    MV1FrameBase* frame = mesh->Container;
    MV1MeshVertex* mv = MV1MeshVertexAt(mesh, list->MeshVertexIndex[0]);
    const VECTOR p = MV1FramePositionAt(frame, mv->PositionIndex)->Position;
    const VECTOR n = frame->Normal[mv->NormalIndex].Normal;
    switch (list->VertexType) {
      case 0:
        EXPECT_EQ(F(rec, 0), p.x);
        EXPECT_EQ(F(rec, 12), 1.0f);
        EXPECT_EQ(F(rec, 16), n.x);
        EXPECT_EQ(F(rec, 28), 0.0f);
        break;
      case 1:
        EXPECT_EQ(F(rec, 16), p.x);
        EXPECT_EQ(F(rec, 28), 1.0f);
        EXPECT_EQ(F(rec, 32), n.x);
        break;
      case 2:
        EXPECT_EQ(F(rec, 32), n.x);
        EXPECT_EQ(F(rec, 48), p.x);
        break;
      default: {
        EXPECT_EQ(F(rec, 0), p.x);
        EXPECT_EQ(F(rec, 12), 1.0f);
        EXPECT_EQ(F(rec, 16), n.x);
        EXPECT_EQ(F(rec, 28), 0.0f);
        const MV1PositionBoneWeight* pairs = MV1PositionBones(MV1FramePositionAt(frame, mv->PositionIndex));
        EXPECT_EQ(I(rec, 32), int(pairs[0].Index));
        EXPECT_EQ(F(rec, 36), pairs[0].Weight);
        break;
      }
    }
  }
  for (int t = 0; t < 4; ++t) EXPECT_GT(seen[t], 0) << "type " << t;
}

TEST_F(MeshProcessTest, ModelListsOfShapedMeshesGetTheBaseRecords) {
  int h = ReferenceBaseBuilder().Build();
  int m = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(m, h), 0);
  MV1Model* model = MV1GetModelChecked(m);
  int shaped = 0;
  for (int i = 0; i < model->BaseData->TriangleListCount; ++i) {
    MV1ModelTriangleList* list = &model->TriangleList[i];
    if (!list->Vertices) continue;
    ++shaped;
    const size_t bytes = size_t(MV1TriangleListRecordSize(list->Base)) * list->Base->VertexCount;
    EXPECT_EQ(std::memcmp(list->Vertices, MV1TriangleListVertices(list->Base), bytes), 0);
    std::memset(list->Vertices, 0xCD, bytes);
    MV1SetupModelTriangleListPositions(list);
    EXPECT_EQ(std::memcmp(list->Vertices, MV1TriangleListVertices(list->Base), bytes), 0);
  }
  EXPECT_EQ(shaped, 2);
  MV1DeleteModel(m);
}

TEST_F(MeshProcessTest, BonesAreReadUpToTheFramesBonesPerVertex) {
  // Two bones per vertex, both used (no end marker): types 1 and 2 must not read a third pair
  // from the next position.
  for (int type : {1, 2, 3}) {
    ModelBaseBuilder b;
    b.AddFrame(-1);
    b.frames[0].bonesPerVertex = 2;
    b.frames[0].boneList = {0, 1, 2};
    b.skinBones.resize(3);
    b.materials.push_back({});
    TestMesh m;
    m.frame = 0;
    for (int v = 0; v < 3; ++v) {
      TestVertex tv;
      tv.position = {float(v), float(v * v), 1};
      tv.bones = {{v == 2 ? 2 : 0, 0.25f}, {1, 0.75f}};
      m.vertices.push_back(tv);
    }
    TestTriangleList l;
    l.type = type;
    l.meshVertices = {0, 1, 2};
    l.indices = {0, 1, 2};
    l.useBones = {0, 1};  // bone 2 is not in the list: its slot is the bone count, 2
    m.lists.push_back(l);
    b.meshes.push_back(m);
    int h = b.Build();
    MV1ModelBase* base = Base(h);
    ASSERT_NE(base, nullptr);
    MV1TriangleList* list = &base->TriangleList[0];
    uint8_t* rec = MV1TriangleListVertices(list);
    const int size = MV1TriangleListRecordSize(list);
    std::memset(rec, 0xCD, size_t(size) * 3);
    MV1SetupTriangleListPositions(list);
    uint8_t* last = rec + 2 * size;
    if (type == 1) {
      EXPECT_EQ(F(last, 0), 0.25f);
      EXPECT_EQ(F(last, 4), 0.75f);
      EXPECT_EQ(F(last, 8), 0.0f);
      EXPECT_EQ(F(last, 12), 0.0f);
      EXPECT_EQ(last[44], 2);
      EXPECT_EQ(last[45], 1);
      EXPECT_EQ(last[46], 0);
      EXPECT_EQ(last[47], 0);
    } else if (type == 2) {
      for (int k = 2; k < 8; ++k) EXPECT_EQ(F(last, 4 * k), 0.0f) << k;
      EXPECT_EQ(last[44], 2);
      EXPECT_EQ(last[45], 1);
      EXPECT_EQ(last[46], 0);
      for (int k = 60; k < 64; ++k) EXPECT_EQ(last[k], 0) << k;
    } else {
      EXPECT_EQ(I(last, 32), 2);
      EXPECT_EQ(I(last, 40), 1);
      for (int k = 2; k < list->BonesPerVertex; ++k) {
        EXPECT_EQ(I(last, 32 + 8 * k), -1);
        EXPECT_EQ(F(last, 36 + 8 * k), 0.0f);
      }
    }
    MV1DeleteModelBase(h);
  }
}

// The text's tangent formula for one face, without guards.
void FaceTangent(const VECTOR p[3], const float u[3], const float v[3], float t[3], float bn[3]) {
  const float pa[3] = {p[0].x, p[0].y, p[0].z}, pb[3] = {p[1].x, p[1].y, p[1].z},
              pc[3] = {p[2].x, p[2].y, p[2].z};
  for (int k = 0; k < 3; ++k) {
    float e1[3] = {pb[k] - pa[k], u[1] - u[0], v[1] - v[0]};
    float e2[3] = {pc[k] - pa[k], u[2] - u[0], v[2] - v[0]};
    float c[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                  e1[0] * e2[1] - e1[1] * e2[0]};
    if (c[0] * c[0] + c[1] * c[1] + c[2] * c[2] >= 1e-7f) {
      t[k] = -c[1] / c[0];
      bn[k] = -c[2] / c[0];
    } else {
      t[k] = 1.0f;
      bn[k] = 0.0f;
    }
  }
}

VECTOR Norm(VECTOR a) {
  float l = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
  return {a.x / l, a.y / l, a.z / l};
}
VECTOR Cross(VECTOR a, VECTOR b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Len(VECTOR a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }

TEST_F(MeshProcessTest, TangentsAreFiniteUnitAndTheFormulaWhereItHolds) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(-10, 10);
    ModelBaseBuilder b;
    b.AddFrame(-1);
    b.materials.push_back({});
    b.AddMesh(0, 0, 12);
    b.meshes[0].uvSets = seed % 5 == 0 ? 0 : 1;
    for (TestVertex& v : b.meshes[0].vertices) v.position = {pos(rng), pos(rng), pos(rng)};
    int h = b.Build();
    MV1ModelBase* base = Base(h);
    ASSERT_NE(base, nullptr);
    MV1MeshBase* mesh = &base->Mesh[0];
    MV1FrameBase* frame = mesh->Container;
    // UVs: random, collinear, equal or zero-area per face.
    for (int f = 0; f < mesh->FaceCount && mesh->UVSetCount > 0; ++f) {
      int kind = int(rng() % 4);
      for (int c = 0; c < 3; ++c) {
        float* uv = MV1MeshVertexUV(MV1MeshVertexAt(mesh, mesh->Face[f].VertexIndex[c]));
        float r = float(rng() % 7) * 0.25f;
        uv[0] = kind == 0 ? pos(rng) : kind == 1 ? r : kind == 2 ? 0.5f : 0.3f;
        uv[1] = kind == 0 ? pos(rng) : kind == 1 ? 2 * r : kind == 2 ? 0.5f : r;
      }
    }
    ASSERT_EQ(MV1SetupTangentAndBinormal(mesh), 0);
    for (int f = 0; f < mesh->FaceCount; ++f) {
      VECTOR p[3];
      float u[3] = {0, 0, 0}, v[3] = {0, 0, 0};
      MV1MeshVertex* mv[3];
      for (int c = 0; c < 3; ++c) {
        mv[c] = MV1MeshVertexAt(mesh, mesh->Face[f].VertexIndex[c]);
        p[c] = MV1FramePositionAt(frame, mv[c]->PositionIndex)->Position;
        if (mesh->UVSetCount) {
          u[c] = MV1MeshVertexUV(mv[c])[0];
          v[c] = MV1MeshVertexUV(mv[c])[1];
        }
      }
      float t[3], bn[3];
      FaceTangent(p, u, v, t, bn);
      // Each record of this builder belongs to one face, so the sums are the face's values.
      for (int c = 0; c < 3; ++c) {
        const MV1MeshNormal& n = frame->Normal[mv[c]->NormalIndex];
        EXPECT_TRUE(std::isfinite(n.Tangent.x + n.Tangent.y + n.Tangent.z));
        EXPECT_TRUE(std::isfinite(n.Binormal.x + n.Binormal.y + n.Binormal.z));
        EXPECT_NEAR(Len(n.Tangent), 1.0f, 1e-5f);
        EXPECT_NEAR(Len(n.Binormal), 1.0f, 1e-5f);
        bool finite = true;
        for (int k = 0; k < 3; ++k) finite = finite && std::isfinite(t[k]) && std::isfinite(bn[k]);
        VECTOR tv{t[0], t[1], t[2]}, bv{bn[0], bn[1], bn[2]};
        if (!finite || !(Len(tv) > 0)) continue;
        VECTOR T = Norm(tv);
        VECTOR x = Cross(T, bv);
        if (!(Len(x) > 0) || !std::isfinite(Len(x))) continue;
        VECTOR B = Norm(Cross(Norm(x), T));
        EXPECT_EQ(n.Tangent.x, T.x);
        EXPECT_EQ(n.Tangent.y, T.y);
        EXPECT_EQ(n.Tangent.z, T.z);
        EXPECT_EQ(n.Binormal.x, B.x);
        EXPECT_EQ(n.Binormal.y, B.y);
        EXPECT_EQ(n.Binormal.z, B.z);
      }
    }
    MV1DeleteModelBase(h);
  }
}

TEST_F(MeshProcessTest, EqualUVsGiveTangentComponentsOne) {
  ModelBaseBuilder b;
  b.AddFrame(-1);
  b.materials.push_back({});
  b.AddMesh(0, 0, 1);
  b.meshes[0].vertices[0].position = {0, 0, 0};
  b.meshes[0].vertices[1].position = {0, 0, 0};
  b.meshes[0].vertices[2].position = {0, 0, 0};  // every UV equal (derived from positions)
  int h = b.Build();
  MV1MeshBase* mesh = &Base(h)->Mesh[0];
  ASSERT_EQ(MV1SetupTangentAndBinormal(mesh), 0);
  const float third = 1.0f / std::sqrt(3.0f);
  const MV1MeshNormal& n = mesh->Container->Normal[MV1MeshVertexAt(mesh, 0)->NormalIndex];
  EXPECT_NEAR(n.Tangent.x, third, 1e-6f);
  EXPECT_NEAR(n.Tangent.y, third, 1e-6f);
  EXPECT_NEAR(n.Tangent.z, third, 1e-6f);
  EXPECT_NEAR(Len(n.Binormal), 1.0f, 1e-6f);
  int points = ForEachAllocationFailure([&] { return MV1SetupTangentAndBinormal(mesh) == 0; });
  EXPECT_EQ(points, 1);
  MV1DeleteModelBase(h);
}

// A mesh of shared vertices: positions and triangles.
int BuildMesh(const std::vector<VECTOR>& positions, const std::vector<uint16_t>& triangles,
              bool separate = false) {
  ModelBaseBuilder b;
  b.separateArrays = separate;
  b.AddFrame(-1);
  b.materials.push_back({});
  TestMesh m;
  for (const VECTOR& p : positions) {
    TestVertex v;
    v.position = p;
    m.vertices.push_back(v);
  }
  TestTriangleList l;
  for (size_t i = 0; i < positions.size(); ++i) l.meshVertices.push_back(int(i));
  l.indices = triangles;
  m.lists.push_back(l);
  b.meshes.push_back(m);
  return b.Build();
}

const std::vector<VECTOR> kCube = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                   {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
const std::vector<uint16_t> kCubeFaces = {0, 2, 1, 0, 3, 2, 4, 5, 6, 4, 6, 7, 0, 1, 5, 0, 5, 4,
                                          2, 3, 7, 2, 7, 6, 1, 2, 6, 1, 6, 5, 0, 4, 7, 0, 7, 3};

TEST_F(MeshProcessTest, CubeEdgesKeepSeparateNormalsShallowFoldsShareOne) {
  for (bool separate : {false, true}) {
    int h = BuildMesh(kCube, kCubeFaces, separate);
    MV1ModelBase* base = Base(h);
    MV1FrameBase* frame = &base->Frame[0];
    ASSERT_EQ(MV1RecalcNormals(frame, 89.5f * 3.14159265f / 180.0f), 0);
    EXPECT_EQ(frame->NormalCount, 24);
    EXPECT_EQ(base->Mesh[0].VertexCount, 24);
    EXPECT_EQ(frame->NormalsFromFaces, 1);
    MV1TriangleList* list = &base->TriangleList[0];
    EXPECT_EQ(list->VertexCount, 24);
    // Every corner's normal is its face's axis; records follow.
    const MV1MeshBase* mesh = &base->Mesh[0];
    for (int f = 0; f < mesh->FaceCount; ++f)
      for (int c = 0; c < 3; ++c) {
        const VECTOR n = frame->Normal[MV1MeshVertexAt(mesh, mesh->Face[f].VertexIndex[c])->NormalIndex].Normal;
        EXPECT_NEAR(std::fabs(n.x) + std::fabs(n.y) + std::fabs(n.z), 1.0f, 1e-6f);
      }
    const uint8_t* rec = MV1TriangleListVertices(list);
    for (int v = 0; v < list->VertexCount; ++v) {
      const MV1MeshVertex* mv = MV1MeshVertexAt(mesh, list->MeshVertexIndex[v]);
      EXPECT_EQ(F(rec + 32 * v, 16), frame->Normal[mv->NormalIndex].Normal.x);
    }
    MV1DeleteModelBase(h);
  }
  // Two faces folded by 10 degrees share the normals of their common edge.
  const float s = std::sin(10.0f * 3.14159265f / 180.0f), c = std::cos(10.0f * 3.14159265f / 180.0f);
  int h = BuildMesh({{0, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {c, 0, s}}, {0, 1, 2, 0, 3, 1});
  MV1ModelBase* base = Base(h);
  ASSERT_EQ(MV1RecalcNormals(&base->Frame[0], 89.5f * 3.14159265f / 180.0f), 0);
  EXPECT_EQ(base->Frame[0].NormalCount, 4);
  EXPECT_EQ(base->Mesh[0].VertexCount, 4);
  // And at 5 degrees they split.
  ASSERT_EQ(MV1RecalcNormals(&base->Frame[0], 5.0f * 3.14159265f / 180.0f), 0);
  EXPECT_EQ(base->Frame[0].NormalCount, 6);
  EXPECT_EQ(base->Mesh[0].VertexCount, 6);
  MV1DeleteModelBase(h);
}

TEST_F(MeshProcessTest, RecalcFailuresLogFreeAndLeaveTheBaseUsable) {
  std::string logs;
  // The cube (normals and vertices grow) and the reference base's shaped free-bone frame.
  for (int which = 0; which < 2; ++which) {
    int h = which == 0 ? BuildMesh(kCube, kCubeFaces) : ReferenceBaseBuilder().Build();
    MV1ModelBase* base = Base(h);
    MV1FrameBase* frame = &base->Frame[which == 0 ? 0 : 5];
    const int vertices = frame->Mesh[0].VertexCount;
    int points = ForEachAllocationFailure([&] {
      LogCaptureBegin();
      bool ok = MV1RecalcNormals(frame, 0.3f) == 0;
      std::string log = LogCaptureTextWithoutStamps();
      LogCaptureEnd();
      logs += log;
      if (!ok) {
        EXPECT_FALSE(log.empty());
        EXPECT_EQ(frame->Mesh[0].VertexCount, vertices);  // nothing changed
      }
      return ok;
    });
    EXPECT_GT(points, 10);
    if (which == 0) { EXPECT_EQ(frame->Mesh[0].VertexCount, 24); }
    MV1DeleteModelBase(h);
  }
  for (const char* line :
       {TEXT_MV1_RECALC_ALLOC_FAILED "\r\n", TEXT_MV1_RECALC_ALLOC_FAILED_2 "\r\n",
        TEXT_MV1_RECALC_ALLOC_FAILED_3 "\r\n", TEXT_MV1_RECALC_NORMAL_ALLOC_FAILED "\r\n",
        TEXT_MV1_RECALC_WORK_ALLOC_FAILED "\r\n", TEXT_MV1_RECALC_WORK_ALLOC_FAILED_2 "\r\n",
        TEXT_MV1_RECALC_WORK_ALLOC_FAILED_3 "\r\n", TEXT_MV1_TLIST_INDEX_ALLOC_FAILED "\r\n",
        TEXT_MV1_TLIST_POSITION_ALLOC_FAILED "\r\n", TEXT_MV1_SHAPE_VERTEX_ALLOC_FAILED "\r\n",
        TEXT_MV1_TANGENT_ALLOC_FAILED "\r\n"})
    EXPECT_NE(logs.find(line), std::string::npos) << line;
}

TEST_F(MeshProcessTest, OptimizeMergesBitwiseEqualOnlyAndRemaps) {
  // Vertices 0 and 3 are equal; 4 differs from 1 only in the sign of a zero.
  int h = BuildMesh({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {-0.0f, 0, 0}, {0, 2, 0}},
                    {0, 1, 2, 3, 4, 5});
  MV1ModelBase* base = Base(h);
  MV1FrameBase* frame = &base->Frame[0];
  // Equal normals for 0 and 3 so that their whole vertex records match after the merge.
  MV1MeshBase* mesh = &base->Mesh[0];
  MV1MeshVertexAt(mesh, 3)->NormalIndex = MV1MeshVertexAt(mesh, 0)->NormalIndex;
  ASSERT_EQ(MV1OptimizeVertices(frame), 0);
  EXPECT_EQ(frame->PositionCount, 5);
  EXPECT_EQ(mesh->VertexCount, 5);
  EXPECT_EQ(mesh->Face[1].VertexIndex[0], 0u);
  EXPECT_EQ(base->TriangleList[0].MeshVertexIndex[3], 0u);
  EXPECT_EQ(mesh->Face[1].VertexIndex[1], 3u);
  for (int v = 0; v < mesh->VertexCount; ++v)
    EXPECT_LT(MV1MeshVertexAt(mesh, v)->PositionIndex, 5u);
  int points = ForEachAllocationFailure([&] {
    LogCaptureBegin();
    bool ok = MV1OptimizeVertices(frame) == 0;
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    if (!ok) {
      EXPECT_EQ(log, TEXT_MV1_OPTIMIZE_ALLOC_FAILED "\r\n");
    }
    return ok;
  });
  EXPECT_EQ(points, 1);
  MV1DeleteModelBase(h);
}

TEST_F(MeshProcessTest, BaseLevelReworkRefusesBasesWithModels) {
  int h = BuildMesh(kCube, kCubeFaces);
  EXPECT_EQ(MV1RecalcModelBaseNormals(h, 0.5f), 0);
  EXPECT_EQ(Base(h)->Mesh[0].VertexCount, 24);
  EXPECT_EQ(MV1OptimizeModelBaseVertices(h), 0);
  int m = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(m, h), 0);
  EXPECT_EQ(MV1RecalcModelBaseNormals(h, 0.5f), -1);
  EXPECT_EQ(MV1OptimizeModelBaseVertices(h), -1);
  EXPECT_EQ(MV1RecalcModelBaseNormals(h | 0x1000, 0.5f), -1);
  MV1DeleteModel(m);
}

}  // namespace
