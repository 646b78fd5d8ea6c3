// Collision grids and queries: cell mapping, brute-force oracle over random, flat, vertical and
// single-triangle meshes, set-up sequences, freeing, and every failure path.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_collision.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_refmesh.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/collision_oracle.h"
#include "tests/support/model_test.h"

namespace {

using CollisionTest = ModelTest;

int ModelOf(const std::vector<VECTOR>& corners) {
  ModelBaseBuilder b;
  b.materials.push_back({"m"});
  b.AddFrame(-1);
  AddTriangleMeshes(&b, 0, corners);
  int h = MV1AddModelHandle();
  return MV1CreateModelFromBase(h, b.Build()) == 0 ? h : -1;
}

MV1CollInfo* GridOf(int h) { return MV1GetModelChecked(h)->CollInfo; }

float Sq(VECTOR a, VECTOR b) {
  float x = a.x - b.x, y = a.y - b.y, z = a.z - b.z;
  return x * x + y * y + z * z;
}

using Oracle = CollisionOracle;

// The hit set of a result, failing on a polygon listed twice; frees the array.
std::set<int> HitSet(MV1_COLL_RESULT_POLY_DIM dim) {
  std::set<int> hits;
  for (int i = 0; i < dim.HitNum; ++i) EXPECT_TRUE(hits.insert(dim.Dim[i].PolygonIndex).second);
  MV1CollResultPolyDimTerminate(dim);
  return hits;
}

std::vector<VECTOR> RandomSoup(uint32_t seed, int triangles) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> pos(-50, 50), size(-6, 6);
  std::vector<VECTOR> c;
  for (int i = 0; i < triangles; ++i) {
    VECTOR a{pos(rng), pos(rng), pos(rng)};
    c.push_back(a);
    c.push_back(VECTOR{a.x + size(rng), a.y + size(rng), a.z + size(rng)});
    c.push_back(VECTOR{a.x + size(rng), a.y + size(rng), a.z + size(rng)});
  }
  return c;
}

std::vector<VECTOR> Wall() {  // vertical, x = 5
  std::vector<VECTOR> c;
  for (int i = 0; i < 20; ++i)
    for (int j = 0; j < 20; ++j) {
      float y = static_cast<float>(i) * 2 - 20, z = static_cast<float>(j) * 2 - 20;
      c.insert(c.end(), {{5, y, z}, {5, y + 2, z}, {5, y, z + 2}, {5, y + 2, z}, {5, y + 2, z + 2}, {5, y, z + 2}});
    }
  return c;
}

struct MeshCase {
  const char* name;
  std::vector<VECTOR> corners;
};

std::vector<MeshCase> OracleMeshes() {
  return {{"random", RandomSoup(11, 400)},
          {"floor", HeightFieldCorners(3, 16, 16, 64, 0)},
          {"terrain", HeightFieldCorners(5, 20, 20, 80, 12)},
          {"wall", Wall()},
          {"single", {{0, 0, 0}, {10, 0, 0}, {0, 10, 3}}}};
}

TEST_F(CollisionTest, QueriesMatchTheBruteForceOracle) {
  const std::vector<std::vector<int>> divisions = {{32, 8, 32}, {1, 1, 1}, {7, 3, 5}, {64, 64, 64}};
  int caseIndex = 0;
  for (const MeshCase& mc : OracleMeshes()) {
    for (const auto& d : divisions) {
      SCOPED_TRACE(std::string(mc.name) + " " + std::to_string(d[0]) + "x" + std::to_string(d[1]) + "x" + std::to_string(d[2]));
      int h = ModelOf(mc.corners);
      ASSERT_EQ(MV1SetupCollInfo(h, -1, d[0], d[1], d[2]), 0);
      Oracle oracle{MV1GetReferenceMesh(h, -1, 1)};
      std::mt19937 rng(1000 + caseIndex++);  // seeded per case
      std::uniform_real_distribution<float> pos(-70, 70), rad(0.1f, 15);
      for (int q = 0; q < 150; ++q) {
        VECTOR a{pos(rng), pos(rng), pos(rng)}, b{pos(rng), pos(rng), pos(rng)};
        if (q % 3 == 0) b = VECTOR{a.x, a.y - 200, a.z};  // ground probe
        int best, ties;
        float bestD = 0;
        oracle.Line(a, b, &best, &bestD, &ties);
        MV1_COLL_RESULT_POLY line = MV1CollCheck_Line(h, -1, a, b);
        ASSERT_EQ(line.HitFlag, best != -1 ? 1 : 0) << "query " << q;
        if (best != -1) {
          EXPECT_EQ(Sq(line.HitPosition, a), bestD);
          if (ties == 1) {
            EXPECT_EQ(line.PolygonIndex, best);
          }
        }
        float r = rad(rng);
        EXPECT_EQ(HitSet(MV1CollCheck_Sphere(h, -1, a, r)), oracle.Sphere(a, r)) << "query " << q;
        EXPECT_EQ(HitSet(MV1CollCheck_Capsule(h, -1, a, b, r)), oracle.Capsule(a, b, r)) << "query " << q;
      }
      MV1DeleteModel(h);
    }
  }
}

TEST_F(CollisionTest, RecordsCarryPolygonFrameMaterialAndNormal) {
  int h = ModelOf({{0, 0, 0}, {0, 0, 10}, {10, 0, 0}});
  MV1SetPosition(h, VECTOR{1, 2, 3});
  MV1_COLL_RESULT_POLY line = MV1CollCheck_Line(h, -1, VECTOR{3, 10, 5}, VECTOR{3, -10, 5});
  ASSERT_EQ(line.HitFlag, 1);
  EXPECT_EQ(line.PolygonIndex, 0);
  EXPECT_EQ(line.FrameIndex, 0);
  EXPECT_EQ(line.MaterialIndex, 0);
  EXPECT_FLOAT_EQ(line.HitPosition.y, 2);
  EXPECT_EQ(line.Position[1].z, 13);
  EXPECT_FLOAT_EQ(line.Normal.y, 1);
  // A sphere touching at exactly its radius hits, with the nearest point as the position.
  MV1_COLL_RESULT_POLY_DIM sphere = MV1CollCheck_Sphere(h, -1, VECTOR{4, 4, 6}, 2);
  ASSERT_EQ(sphere.HitNum, 1);
  EXPECT_EQ(sphere.Dim[0].HitPosition.y, 2);
  EXPECT_FLOAT_EQ(sphere.Dim[0].HitPosition.x, 4);
  MV1CollResultPolyDimTerminate(sphere);
  MV1_COLL_RESULT_POLY_DIM missed = MV1CollCheck_Sphere(h, -1, VECTOR{12, 2, 12}, 2);
  EXPECT_EQ(missed.HitNum, 0);
  EXPECT_NE(missed.Dim, nullptr);  // the array comes back also without a hit
  MV1CollResultPolyDimTerminate(missed);
  MV1_COLL_RESULT_POLY_DIM capsule = MV1CollCheck_Capsule(h, -1, VECTOR{4, 3, 6}, VECTOR{4, 9, 6}, 1);
  ASSERT_EQ(capsule.HitNum, 1);
  const float zero[3] = {};
  EXPECT_EQ(std::memcmp(&capsule.Dim[0].HitPosition, zero, sizeof(zero)), 0);
  MV1CollResultPolyDimTerminate(capsule);
}

TEST_F(CollisionTest, EqualLineHitsKeepTheFirstInCellOrder) {
  // Two coincident triangles share every cell; a cell lists its newest polygon first.
  int h = ModelOf({{0, 0, 0}, {0, 0, 10}, {10, 0, 0}, {0, 0, 0}, {0, 0, 10}, {10, 0, 0}});
  MV1_COLL_RESULT_POLY line = MV1CollCheck_Line(h, -1, VECTOR{2, 5, 2}, VECTOR{2, -5, 2});
  ASSERT_EQ(line.HitFlag, 1);
  EXPECT_EQ(line.PolygonIndex, 1);
}

TEST_F(CollisionTest, CellRoundingClampingAndFlatAxes) {
  // Grid box x in [0, 8] with 8 cells (reciprocal 1): a polygon over x 2.5 .. 3.5 lands in cells
  // 2 .. 4 (ties to even), one reaching x = 8 in cell 7 (the count lowered).
  int h = ModelOf({{0, 0, 0}, {0, 0, 1}, {0.5f, 0, 0}, {2.5f, 0, 0}, {3.5f, 0, 0}, {3, 0, 1},
                   {7.75f, 0, 0}, {8, 0, 0}, {8, 0, 1}});
  ASSERT_EQ(MV1SetupCollInfo(h, -1, 8, 1, 1), 0);
  MV1CollInfo* g = GridOf(h);
  EXPECT_EQ(g->CellSizeInv.x, 1.0f);
  EXPECT_EQ(g->CellSizeInv.y, 0.0f);  // flat: zero extent gives a zero reciprocal
  auto cellsOf = [&](int polygon) {
    std::vector<int> cells;
    for (int c = 0; c < 8; ++c)
      for (MV1CollInfoNode* n = g->Head[c]; n; n = n->Next)
        if (n->Polygon == polygon) cells.push_back(c);
    return cells;
  };
  EXPECT_EQ(cellsOf(1), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(cellsOf(2), (std::vector<int>{7}));
  EXPECT_EQ(cellsOf(0), (std::vector<int>{0}));  // 0.5 rounds to 0
  // A line from inside the grid to far beyond it clamps instead of overflowing.
  MV1_COLL_RESULT_POLY far = MV1CollCheck_Line(h, -1, VECTOR{3, 1, 0.25f}, VECTOR{3, -1e30f, 0.25f});
  EXPECT_EQ(far.HitFlag, 1);
  EXPECT_EQ(far.PolygonIndex, 1);
  MV1_COLL_RESULT_POLY nan = MV1CollCheck_Line(h, -1, VECTOR{NAN, 1, 0}, VECTOR{3, -1, 0.25f});
  EXPECT_EQ(nan.HitFlag, 0);
  MV1_COLL_RESULT_POLY_DIM huge = MV1CollCheck_Sphere(h, -1, VECTOR{4, 0, 0}, 1e30f);
  EXPECT_EQ(huge.HitNum, 3);
  MV1CollResultPolyDimTerminate(huge);
}

TEST_F(CollisionTest, QueryWithoutSetupBuildsTheDefaultGrid) {
  int h = ModelOf(RandomSoup(2, 20));
  MV1_COLL_RESULT_POLY_DIM dim = MV1CollCheck_Sphere(h, -1, VECTOR{0, 0, 0}, 30);
  MV1CollResultPolyDimTerminate(dim);
  ASSERT_NE(GridOf(h), nullptr);
  EXPECT_EQ(GridOf(h)->DivX, 32);
  EXPECT_EQ(GridOf(h)->DivY, 8);
  EXPECT_EQ(GridOf(h)->DivZ, 32);
  EXPECT_EQ(MV1GetModelChecked(h)->CollInfoUpToDate, 1);
  // A line whose box misses the grid allocates nothing.
  uint64_t before = MemAllocAttempts();
  EXPECT_EQ(MV1CollCheck_Line(h, -1, VECTOR{200, 0, 0}, VECTOR{300, 0, 0}).HitFlag, 0);
  EXPECT_EQ(MemAllocAttempts(), before);
}

TEST_F(CollisionTest, ManyHitsGrowTheArray) {
  std::vector<VECTOR> c;
  for (int i = 0; i < 2500; ++i) {
    float x = static_cast<float>(i % 50), z = static_cast<float>(i / 50);
    c.insert(c.end(), {{x, 0, z}, {x, 0, z + 0.5f}, {x + 0.5f, 0, z}});
  }
  int h = ModelOf(c);
  Oracle oracle{MV1GetReferenceMesh(h, -1, 1)};
  for (float r : {24.0f, 33.0f, 80.0f}) {
    std::set<int> want = oracle.Sphere(VECTOR{25, 0, 25}, r);
    MV1_COLL_RESULT_POLY_DIM dim = MV1CollCheck_Sphere(h, -1, VECTOR{25, 0, 25}, r);
    EXPECT_GT(dim.HitNum, 1000);
    EXPECT_EQ(HitSet(dim), want);
  }
  EXPECT_EQ(oracle.Sphere(VECTOR{25, 0, 25}, 80).size(), 2500u);
}

TEST_F(CollisionTest, SetupSequencesFramesAndFreeing) {
  ModelBaseBuilder b;
  b.materials.push_back({"m"});
  b.AddFrame(-1);
  b.AddFrame(0, {100, 0, 0});
  AddTriangleMeshes(&b, 0, RandomSoup(4, 60));
  AddTriangleMeshes(&b, 1, RandomSoup(5, 40));
  int h = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(h, b.Build()), 0);
  MV1Model* model = MV1GetModelChecked(h);
  VECTOR a{-60, 10, 0}, e{160, -10, 5};
  for (int frame : {-1, 1}) {
    SCOPED_TRACE(frame);
    MV1RefOwner owner;
    ASSERT_TRUE(MV1GetRefOwner(h, frame, &owner));
    auto check = [&]() {
      Oracle oracle{MV1GetReferenceMesh(h, frame, 1)};
      EXPECT_EQ(HitSet(MV1CollCheck_Capsule(h, frame, a, e, 6)), oracle.Capsule(a, e, 6));
      EXPECT_EQ(HitSet(MV1CollCheck_Sphere(h, frame, VECTOR{100, 0, 0}, 40)), oracle.Sphere(VECTOR{100, 0, 0}, 40));
    };
    ASSERT_EQ(MV1SetupCollInfo(h, frame, 4, 4, 4), 0);
    check();
    ASSERT_EQ(MV1SetupCollInfo(h, frame, 40, 20, 40), 0);  // more cells: new heads
    EXPECT_EQ((*owner.CollInfo)->HeadCapacity, 40u * 20 * 40);
    check();
    ASSERT_EQ(MV1SetupCollInfo(h, frame, 2, 3, 2), 0);  // fewer: rebuilt with the new counts
    EXPECT_EQ((*owner.CollInfo)->DivY, 3);
    check();
    MV1SetPosition(h, VECTOR{0, frame == -1 ? 5.0f : 7.0f, 0});
    ASSERT_EQ(MV1RefreshCollInfo(h, frame), 0);
    check();
    ASSERT_EQ(MV1TerminateCollInfo(h, frame), 0);
    EXPECT_EQ(*owner.CollInfo, nullptr);
    EXPECT_EQ(*owner.CollInfoUpToDate, 0);
    EXPECT_EQ(MV1TerminateCollInfo(h, frame), 0);
    check();  // a query builds a default grid again
    ASSERT_EQ(MV1TerminateReferenceMesh(h, frame, 1), 0);
    EXPECT_EQ(*owner.CollInfo, nullptr);  // the grid goes with its mesh
    check();
  }
  EXPECT_NE(model->CollInfo, nullptr);
  EXPECT_NE(model->Frame[1].CollInfo, nullptr);
  // The model's deletion frees both grids and meshes (the fixture checks for leaks).
}

TEST_F(CollisionTest, BadArguments) {
  int h = ModelOf(RandomSoup(6, 10));
  for (int frame : {-2, 1, INT_MAX}) {
    EXPECT_EQ(MV1SetupCollInfo(h, frame, 2, 2, 2), -1);
    EXPECT_EQ(MV1RefreshCollInfo(h, frame), -1);
    EXPECT_EQ(MV1TerminateCollInfo(h, frame), -1);
    EXPECT_EQ(MV1CollCheck_Line(h, frame, VECTOR{0, 50, 0}, VECTOR{0, -50, 0}).HitFlag, 0);
    MV1_COLL_RESULT_POLY_DIM dim = MV1CollCheck_Sphere(h, frame, VECTOR{0, 0, 0}, 100);
    EXPECT_EQ(dim.HitNum, 0);
    EXPECT_EQ(dim.Dim, nullptr);
    EXPECT_EQ(MV1CollCheck_Capsule(h + 1, -1, VECTOR{0, 0, 0}, VECTOR{1, 1, 1}, 100).Dim, nullptr);
  }
  for (auto d : std::vector<std::vector<int>>{{0, 1, 1}, {1, -1, 1}, {1, 1, INT_MIN},
                                               {INT_MAX, INT_MAX, INT_MAX}, {1 << 21, 1 << 21, 1 << 21}})
    EXPECT_EQ(MV1SetupCollInfo(h, -1, d[0], d[1], d[2]), -1);
  EXPECT_EQ(GridOf(h), nullptr);
  EXPECT_EQ(MV1CollResultPolyDimTerminate(MV1_COLL_RESULT_POLY_DIM{0, nullptr}), 0);
}

// Runs `attempt` under allocation-failure injection with the log captured; the log text.
template <class F>
std::string FailureLog(F attempt) {
  LogCaptureBegin();
  ForEachAllocationFailure(attempt);
  std::string log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  return log;
}

TEST_F(CollisionTest, EveryAllocationFailureIsLoggedAndLeavesNothing) {
  // Set-up: the reference mesh, the grid, then node blocks (a large triangle spans every cell).
  std::vector<VECTOR> corners = RandomSoup(7, 30);
  corners.insert(corners.end(), {{-60, -60, -60}, {60, 60, -60}, {0, 0, 60}});
  int owner = ModelOf(corners);
  std::string log = FailureLog([&]() {
    int h = owner;
    bool ok = MV1SetupCollInfo(h, -1, 16, 16, 16) == 0;
    if (!ok && MV1GetModelChecked(h)->CollInfo) {
      EXPECT_EQ(MV1GetModelChecked(h)->CollInfoUpToDate, 0);  // a failed rebuild stays stale
    }
    MV1TerminateReferenceMesh(h, -1, 1);
    return ok;
  });
  EXPECT_NE(log.find(TEXT_MV1_REFMESH_ALLOC_FAILED "\r\n"), std::string::npos);
  EXPECT_NE(log.find(TEXT_MV1_COLLINFO_ALLOC_FAILED "\r\n"), std::string::npos);
  EXPECT_NE(log.find(TEXT_MV1_COLLINFO_NODE_ALLOC_FAILED "\r\n"), std::string::npos);

  // A failed rebuild is tried again by the next refresh.
  int h = ModelOf(corners);
  ASSERT_EQ(MV1SetupCollInfo(h, -1, 2, 2, 2), 0);
  MV1SetPosition(h, VECTOR{1, 0, 0});
  ASSERT_EQ(MV1SetupCollInfo(h, -1, 16, 16, 16), 0);  // chains node blocks
  MV1SetPosition(h, VECTOR{2, 0, 0});
  ASSERT_EQ(MV1RefreshCollInfo(h, -1), 0);  // reuses them: no allocation
  Oracle oracle{MV1GetReferenceMesh(h, -1, 1)};
  EXPECT_EQ(HitSet(MV1CollCheck_Sphere(h, -1, VECTOR{0, 0, 0}, 20)), oracle.Sphere(VECTOR{0, 0, 0}, 20));

  // A second set-up whose new heads cannot be had keeps the grid as it was.
  MV1CollInfo before = *GridOf(h);
  MemSetFailAt(1);
  EXPECT_EQ(MV1SetupCollInfo(h, -1, 64, 64, 64), -1);
  EXPECT_EQ(GridOf(h)->DivX, before.DivX);
  EXPECT_EQ(GridOf(h)->Head, before.Head);
  EXPECT_EQ(MV1GetModelChecked(h)->CollInfoUpToDate, 1);

  // Queries: the bit arrays and the growth of the hit array.
  std::vector<VECTOR> many;
  for (int i = 0; i < 1200; ++i) {
    float x = static_cast<float>(i % 40);
    many.insert(many.end(), {{x, 0, 0}, {x, 0, 1}, {x + 1, 0, 0}});
  }
  int m = ModelOf(many);
  ASSERT_EQ(MV1SetupCollInfo(m, -1, 8, 1, 8), 0);
  log = FailureLog([&]() {
    bool line = MV1CollCheck_Line(m, -1, VECTOR{0.25f, 1, 0.25f}, VECTOR{0.25f, -1, 0.25f}).HitFlag == 1;
    MV1_COLL_RESULT_POLY_DIM s = MV1CollCheck_Sphere(m, -1, VECTOR{20, 0, 0}, 40);
    MV1_COLL_RESULT_POLY_DIM c = MV1CollCheck_Capsule(m, -1, VECTOR{0, 1, 0}, VECTOR{40, 1, 0}, 2);
    bool ok = line && s.HitNum == 1200 && c.HitNum == 1200;
    if (s.Dim) {
      EXPECT_GE(s.HitNum, 1000);  // a failed growth keeps what was gathered
    }
    MV1CollResultPolyDimTerminate(s);
    MV1CollResultPolyDimTerminate(c);
    return ok;
  });
  EXPECT_NE(log.find(TEXT_MV1_COLL_TEMP_ALLOC_FAILED "\r\n"), std::string::npos);
  EXPECT_NE(log.find(TEXT_MV1_COLL_TEMP_ALLOC_FAILED_2 "\r\n"), std::string::npos);
  EXPECT_NE(log.find(TEXT_MV1_COLL_HIT_GROW_FAILED "\r\n"), std::string::npos);
}

}  // namespace
