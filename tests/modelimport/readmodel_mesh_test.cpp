// Triangulation, vertex merging and automatic normals.
#include <cmath>
#include <set>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include "tests/support/readmodel_builder.h"
#include "tests/support/test_support.h"

namespace {

class ReadModelMeshTest : public LeakCheckedTest {};

std::vector<std::vector<int>> Corners(const ReadModelMesh* m, int set) {
  std::vector<std::vector<int>> out;
  for (int i = 0; i < m->FaceCount; ++i) {
    const int* p = ReadModelFaceIndicesOrZero(&m->Faces[i], set);
    out.emplace_back(p, p + m->Faces[i].IndexCount);
  }
  return out;
}

using VV = std::vector<std::vector<int>>;

bool InPool(const ReadModel* rm, const void* block) {
  for (auto* k = static_cast<const ChunkListHeader*>(rm->PoolHead); k; k = k->Next)
    if (k->Data == block) return true;
  return false;
}

// The face array as read goes back at triangulation from 64 KiB on (1,366 faces of 48 bytes);
// the triangles are the same either way.
TEST_F(ReadModelMeshTest, LargeFaceArraysGoBackOnceTriangulated) {
  ScopedBlockSharing blockCounts(false);
  ASSERT_EQ(sizeof(ReadModelFace), 48u);
  for (int quads : {1, 1365, 1366, 3000}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    std::vector<VECTOR> pos(static_cast<size_t>(quads) * 4, VECTOR{0, 0, 0});
    ReadModelMesh* m = b.Mesh(b.Frame("f"), pos);
    std::vector<FaceSpec> faces(static_cast<size_t>(quads));
    for (int q = 0; q < quads; ++q) faces[q].pos = {4 * q, 4 * q + 1, 4 * q + 2, 4 * q + 3};
    ASSERT_TRUE(b.Faces(m, faces));
    ReadModelFace* const read = m->Faces;
    const size_t blocks = MemLiveBlockCount();
    ASSERT_EQ(TriangulateReadModelMesh(rm.get(), m), 1);
    const bool large = quads * 48 >= 64 * 1024;
    EXPECT_EQ(InPool(rm.get(), read), !large) << quads;
    EXPECT_EQ(MemLiveBlockCount(), large ? blocks + 1 : blocks + 2) << quads;
    // zigzag of a quad: (c0, c1, c3) in its own place, (c3, c1, c2) behind the faces as read
    VV want(static_cast<size_t>(quads) * 2);
    for (int q = 0; q < quads; ++q) {
      want[q] = {4 * q, 4 * q + 1, 4 * q + 3};
      want[quads + q] = {4 * q + 3, 4 * q + 1, 4 * q + 2};
    }
    EXPECT_EQ(Corners(m, READMODEL_SET_POSITION), want) << quads;
  }
}

TEST_F(ReadModelMeshTest, PolygonsBecomeZigzagTriangles) {
  ScopedBlockSharing blockCounts(false);
  struct Case { int n; VV want; };
  for (const Case& c : {Case{4, {{0, 1, 3}, {3, 1, 2}}},
                        Case{5, {{0, 1, 4}, {4, 1, 2}, {4, 2, 3}}},
                        Case{7, {{0, 1, 6}, {6, 1, 2}, {6, 2, 5}, {5, 2, 3}, {5, 3, 4}}},
                        Case{3, {{0, 1, 2}}}}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    std::vector<VECTOR> pos(c.n, VECTOR{0, 0, 0});
    ReadModelMesh* m = b.Mesh(b.Frame("f"), pos);
    FaceSpec f;
    for (int i = 0; i < c.n; ++i) {
      f.pos.push_back(i);
      f.uv[3].push_back(100 + i);
    }
    f.material = 2;
    ASSERT_TRUE(b.Faces(m, {f}));
    ReadModelFace* const read = m->Faces;
    const size_t blocks = MemLiveBlockCount();
    EXPECT_EQ(TriangulateReadModelMesh(rm.get(), m), 1);
    EXPECT_EQ(Corners(m, READMODEL_SET_POSITION), c.want) << c.n;
    // a small face array stays in the pool beside the new faces and their indices
    EXPECT_EQ(MemLiveBlockCount(), c.n == 3 ? blocks : blocks + 2) << c.n;
    EXPECT_TRUE(InPool(rm.get(), read)) << c.n;
    VV uv = Corners(m, READMODEL_SET_UV0 + 3);
    for (auto& t : uv)
      for (int& i : t) i -= 100;
    EXPECT_EQ(uv, c.want);
    for (int i = 0; i < m->FaceCount; ++i) {
      EXPECT_EQ(m->Faces[i].MaterialIndex, 2);
      EXPECT_EQ(m->Faces[i].TriangleCount, c.n == 3 ? 0 : 1);
    }
  }
}

// The normals of each face corner, as read through the normal indices.
std::vector<VECTOR> CornerNormals(const ReadModelMesh* m) {
  std::vector<VECTOR> out;
  for (int f = 0; f < m->FaceCount; ++f) {
    const int* n = ReadModelFaceIndices(&m->Faces[f], READMODEL_SET_NORMAL);
    for (int k = 0; k < 3; ++k) out.push_back(m->Normals[n[k]]);
  }
  return out;
}

TEST_F(ReadModelMeshTest, CubeCornersAreHardOrSmoothByAngle) {
  struct Case { float angle; int normals; };
  for (Case c : {Case{1.5207964f, 24}, Case{1.6f, 8}, Case{0.0f, 24}}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelFrame* f = b.Frame("f");
    f->SmoothingAngle = c.angle;
    ReadModelMesh* m = b.Cube(f);
    ASSERT_EQ(MakeReadModelNormals(rm.get(), m), 1);
    EXPECT_EQ(m->NormalCount, c.normals) << c.angle;
    for (int i = 0; i < m->FaceCount; ++i) {
      const float* n = m->Faces[i].Normal;
      const int* p = ReadModelFaceIndices(&m->Faces[i], READMODEL_SET_POSITION);
      VECTOR a = m->Positions[p[0]];
      // face normals point outward
      EXPECT_GT(n[0] * a.x + n[1] * a.y + n[2] * a.z, 0.0f);
    }
    for (const VECTOR& n : CornerNormals(m)) EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-5);
    if (c.normals == 8) {
      // every smoothed corner normal points away from the cube's centre, like its corner
      for (int fi = 0; fi < m->FaceCount; ++fi)
        for (int k = 0; k < 3; ++k) {
          VECTOR p = m->Positions[ReadModelFaceIndices(&m->Faces[fi], READMODEL_SET_POSITION)[k]];
          VECTOR n = m->Normals[ReadModelFaceIndices(&m->Faces[fi], READMODEL_SET_NORMAL)[k]];
          EXPECT_TRUE(n.x * p.x > 0 && n.y * p.y > 0 && n.z * p.z > 0);
        }
    }
  }
}

// Two triangles hinged on the edge (0, 1), bent by `bend` radians; the second wound as given.
ReadModelMesh* Hinge(ReadModelBuilder& b, ReadModelFrame* f, float bend, bool opposite) {
  VECTOR third{std::cos(bend), 0, std::sin(bend)};
  ReadModelMesh* m = b.Mesh(f, {{0, 0, 0}, {0, 1, 0}, {-1, 0, 0}, third});
  FaceSpec a, c;
  a.pos = {0, 1, 2};
  c.pos = opposite ? std::vector<int>{0, 1, 3} : std::vector<int>{1, 0, 3};
  b.Faces(m, {a, c});
  b.Material(m, "m");
  return m;
}

TEST_F(ReadModelMeshTest, SmoothingFollowsTheAngleAndTheWinding) {
  struct Case { float frameAngle; float bend; bool opposite; int normals; };
  // 80 degrees between the faces: smooth within 89.5 (angle 0), hard within 60 degrees
  for (Case c : {Case{0.0f, 1.396f, false, 4}, Case{1.0472f, 1.396f, false, 6},
                 Case{0.0f, 0.1f, true, 6}, Case{1.5207964f, 0.0f, false, 4}}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelFrame* f = b.Frame("f");
    f->SmoothingAngle = c.frameAngle;
    ReadModelMesh* m = Hinge(b, f, c.bend, c.opposite);
    ASSERT_EQ(MakeReadModelNormals(rm.get(), m), 1);
    EXPECT_EQ(m->NormalCount, c.normals) << c.frameAngle << " " << c.bend;
  }
}

TEST_F(ReadModelMeshTest, DegenerateFacesAndLargeFansGiveFiniteNormals) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelFrame* f = b.Frame("f");
  f->SmoothingAngle = 3.0f;
  // a 2000-triangle fan around position 0, then zero-area and non-finite triangles
  const int n = 2000;
  std::vector<VECTOR> pos{{0, 0, 0}};
  for (int i = 0; i < n; ++i) {
    float a = 6.2831853f * i / n;
    pos.push_back({std::cos(a), std::sin(a), 0.1f * std::sin(7.0f * a)});
  }
  pos.push_back({INFINITY, 0, 0});
  pos.push_back({NAN, 1, 0});
  std::vector<FaceSpec> faces;
  for (int i = 0; i < n; ++i) {
    FaceSpec s;
    s.pos = {0, 1 + (i + 1) % n, 1 + i};
    faces.push_back(s);
  }
  FaceSpec flat, same, inf;
  flat.pos = {1, 2, 1};
  same.pos = {3, 3, 3};
  inf.pos = {n + 1, n + 2, 5};
  faces.insert(faces.end(), {flat, same, inf});
  ReadModelMesh* m = b.Mesh(f, pos);
  ASSERT_TRUE(b.Faces(m, faces));
  ASSERT_EQ(MakeReadModelNormals(rm.get(), m), 1);
  for (int i = 0; i < m->FaceCount; ++i)
    for (float c : m->Faces[i].Normal) EXPECT_TRUE(std::isfinite(c));
  for (const VECTOR& v : CornerNormals(m)) {
    ASSERT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z));
    EXPECT_NEAR(v.x * v.x + v.y * v.y + v.z * v.z, 1.0f, 1e-4);
  }
  // the closed fan shares one normal at its centre
  std::set<int> centre;
  for (int i = 0; i < n; ++i) centre.insert(ReadModelFaceIndices(&m->Faces[i], READMODEL_SET_NORMAL)[0]);
  EXPECT_EQ(centre.size(), 1u);
  // the degenerate faces' corners take the fall-back normal
  const int* dn = ReadModelFaceIndices(&m->Faces[n + 1], READMODEL_SET_NORMAL);
  EXPECT_EQ(m->Normals[dn[0]].y, READMODEL_FALLBACK_NORMAL.y);
}

TEST_F(ReadModelMeshTest, MergeJoinsPositionsWithinTolerance) {
  struct Case { float gap; int positions; };
  for (Case c : {Case{0.000009f, 3}, Case{0.00002f, 4}}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelFrame* f = b.Frame("f");
    ReadModelMesh* m = b.Mesh(f, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1 + c.gap, 0, 0}});
    FaceSpec a, d;
    a.pos = {0, 1, 2};
    d.pos = {2, 3, 0};
    b.Faces(m, {a, d});
    b.Weight(m, 0, {{1, 0.5f}, {3, 0.5f}, {2, 1.0f}});
    ReadModelShape* s = b.Shape("s", f, m, {{3, {0, 1, 0}, {0, 0, 0}}, {2, {1, 0, 0}, {0, 0, 0}}}, 0);
    s->TargetTable = static_cast<int*>(ReadModelAlloc(rm.get(), sizeof(int) * 4));
    ASSERT_TRUE(OptimizeReadModelVertices(rm.get(), m));
    EXPECT_EQ(m->PositionCount, c.positions);
    if (c.positions == 3) {
      EXPECT_EQ(Corners(m, READMODEL_SET_POSITION), (VV{{0, 1, 2}, {2, 1, 0}}));
      // the weight of the removed position is gone, the others keep their positions
      ASSERT_EQ(m->SkinWeights[0]->WeightCount, 2);
      EXPECT_EQ(m->SkinWeights[0]->Weights[1].Index, 2u);
      EXPECT_EQ(s->Vertices[0].Position, 1u);
      EXPECT_EQ(s->TargetTable[1], 0);
      EXPECT_EQ(s->TargetTable[2], 1);
    }
  }
}

TEST_F(ReadModelMeshTest, AllocationFailuresAreLoggedAndLeakNothing) {
  ScopedBlockSharing eachRequestABlock(false);
  LogCaptureBegin();
  std::set<std::string> messages;
  // failure points of the operations themselves
  for (long n = 1; n < 20; ++n) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelMesh* m = b.Mesh(b.Frame("f"), {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 2, 1}});
    FaceSpec q;
    q.pos = {0, 1, 2, 3, 4};
    b.Faces(m, {q});
    size_t live = MemLiveBlockCount();
    uint64_t before = MemAllocAttempts();
    MemSetFailAt(n);
    int ok = TriangulateReadModelMesh(rm.get(), m) && MakeReadModelNormals(rm.get(), m) &&
             OptimizeReadModelVertices(rm.get(), m);
    MemSetFailAt(0);
    uint64_t used = MemAllocAttempts() - before;
    EXPECT_GE(MemLiveBlockCount(), live);  // pool blocks stay until the read model goes
    if (used < static_cast<uint64_t>(n)) {
      EXPECT_TRUE(ok);
      break;
    }
    EXPECT_FALSE(ok) << n;
    messages.insert(LogCaptureTextWithoutStamps());
  }
  std::string log = LogCaptureEnd();
  for (const char* part : {"Read Model Error : \x82\x52", "_ 2"})
    EXPECT_NE(log.find(part), std::string::npos) << part;
}

}  // namespace
