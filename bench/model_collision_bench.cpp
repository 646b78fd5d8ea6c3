// Collision queries on a generated height field of 100,352 triangles (224 x 224 quads over a
// 1000-unit square) under a 128 x 8 x 128 grid: vertical line probes and capsules of radius 10
// (1 % of the width) at random places, beside the brute-force oracle on a subset of the same
// queries, and the rebuild after a model move. Each batch counts its queries as items.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <qzlib/model/model.h>
#include <qzlib/model/model_collision.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_refmesh.h>
#include "tests/support/collision_oracle.h"
#include "tests/support/model_builder.h"

namespace {

constexpr float kWidth = 1000.0f;
constexpr float kRadius = kWidth * 0.01f;
constexpr int kLineQueries = 100000;
constexpr int kCapsuleQueries = 10000;
constexpr int kOracleSubset = 50;

struct Query {
  VECTOR a, b;
};

struct Field {
  ModelSystemScope system;
  int handle = -1;
  std::vector<Query> lines, capsules;
  Field() {
    ModelBaseBuilder b;
    b.materials.push_back({"ground"});
    b.AddFrame(-1);
    AddTriangleMeshes(&b, 0, HeightFieldCorners(77, 224, 224, kWidth, 60));
    handle = MV1AddModelHandle();
    MV1CreateModelFromBase(handle, b.Build());
    MV1SetupCollInfo(handle, -1, 128, 8, 128);
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> pos(0, kWidth), step(-20, 20), height(0, 60);
    for (int i = 0; i < kLineQueries; ++i) {
      float x = pos(rng), z = pos(rng);
      lines.push_back({VECTOR{x, 100, z}, VECTOR{x, -10, z}});
    }
    for (int i = 0; i < kCapsuleQueries; ++i) {
      VECTOR a{pos(rng), height(rng), pos(rng)};
      capsules.push_back({a, VECTOR{a.x + step(rng), a.y + step(rng), a.z + step(rng)}});
    }
  }
  CollisionOracle Oracle() const { return CollisionOracle{MV1GetReferenceMesh(handle, -1, 1)}; }
};

Field& TheField() {
  static Field f;
  return f;
}

void BM_GridLineProbes(benchmark::State& state) {
  Field& f = TheField();
  int hits = 0;
  for (auto _ : state)
    for (const Query& q : f.lines) hits += MV1CollCheck_Line(f.handle, -1, q.a, q.b).HitFlag;
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * kLineQueries);
}
BENCHMARK(BM_GridLineProbes)->Unit(benchmark::kMillisecond);

void BM_OracleLineProbes(benchmark::State& state) {
  Field& f = TheField();
  CollisionOracle oracle = f.Oracle();
  int found = 0;
  for (auto _ : state)
    for (int i = 0; i < kOracleSubset; ++i) {
      int best, ties;
      float d;
      oracle.Line(f.lines[i].a, f.lines[i].b, &best, &d, &ties);
      found += best != -1;
    }
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * kOracleSubset);
}
BENCHMARK(BM_OracleLineProbes)->Unit(benchmark::kMillisecond);

void BM_GridCapsules(benchmark::State& state) {
  Field& f = TheField();
  long hits = 0;
  for (auto _ : state)
    for (const Query& q : f.capsules) {
      MV1_COLL_RESULT_POLY_DIM dim = MV1CollCheck_Capsule(f.handle, -1, q.a, q.b, kRadius);
      hits += dim.HitNum;
      MV1CollResultPolyDimTerminate(dim);
    }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * kCapsuleQueries);
}
BENCHMARK(BM_GridCapsules)->Unit(benchmark::kMillisecond);

void BM_OracleCapsules(benchmark::State& state) {
  Field& f = TheField();
  CollisionOracle oracle = f.Oracle();
  size_t hits = 0;
  for (auto _ : state)
    for (int i = 0; i < kOracleSubset; ++i)
      hits += oracle.Capsule(f.capsules[i].a, f.capsules[i].b, kRadius).size();
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * kOracleSubset);
}
BENCHMARK(BM_OracleCapsules)->Unit(benchmark::kMillisecond);

// A model move, then the refresh: the transformed mesh is recomputed and the grid rebuilt.
void BM_RebuildAfterMove(benchmark::State& state) {
  Field& f = TheField();
  float x = 0;
  for (auto _ : state) {
    x = x == 0 ? 1.0f : 0.0f;
    MV1SetPosition(f.handle, VECTOR{x, 0, 0});
    benchmark::DoNotOptimize(MV1RefreshCollInfo(f.handle, -1));
  }
}
BENCHMARK(BM_RebuildAfterMove)->Unit(benchmark::kMillisecond);

}  // namespace
