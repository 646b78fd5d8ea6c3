// The model runtime's lazy paths on a base of 200 frames, 400 meshes and 400 triangle lists
// without skin bones: matrix set-up, draw-state refresh, duplication and the view test of a box.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include <qzlib/graphics/graphics3d.h>
#include <qzlib/math/math3d.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_bounds.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include "tests/support/model_builder.h"

namespace {

// One model of the benchmark base, made once for the whole run.
struct BenchModel {
  ModelSystemScope system;
  int handle = -1;
  MV1Model* model = nullptr;
  int leaf = 0;
  BenchModel() {
    int base = RandomTreeBuilder(2024, 200, 400, 2).Build();
    handle = MV1AddModelHandle();
    MV1CreateModelFromBase(handle, base);
    model = MV1GetModelChecked(handle);
    for (int i = 199; i >= 0; --i)
      if (model->Frame[i].ChildCount == 0 && model->Frame[i].Parent) {
        leaf = i;
        break;
      }
    MV1SetupMatrix(model);
    MV1RefreshDrawState(&model->Frame[0], nullptr);
  }
};

BenchModel& Bench() {
  static BenchModel b;
  return b;
}

void BM_Multiply3x4_200(benchmark::State& state) {
  std::vector<Matrix3x4> m(201);
  std::mt19937 rng(5);
  for (Matrix3x4& x : m)
    for (auto& row : x.m)
      for (float& v : row) v = static_cast<float>(rng() % 1000) / 500.0f - 1.0f;
  for (auto _ : state) {
    for (int i = 0; i < 200; ++i) MV1MultiplyMatrix3x4(&m[i], &m[i + 1], &m[i + 1]);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Multiply3x4_200);

void BM_SetupMatrixAfterPositionChange(benchmark::State& state) {
  BenchModel& b = Bench();
  float x = 0;
  for (auto _ : state) {
    x = x == 0 ? 1.0f : 0.0f;
    MV1SetPosition(b.handle, VECTOR{x, 2, 3});
    MV1SetupMatrix(b.model);
  }
}
BENCHMARK(BM_SetupMatrixAfterPositionChange);

void BM_SetupMatrixAfterLeafUserLocalMatrix(benchmark::State& state) {
  BenchModel& b = Bench();
  MATRIX m = MGetIdent();
  for (auto _ : state) {
    m.m[3][0] = m.m[3][0] == 0 ? 1.0f : 0.0f;
    MV1SetFrameUserLocalMatrix(b.handle, b.leaf, m);
    MV1SetupMatrix(b.model);
  }
}
BENCHMARK(BM_SetupMatrixAfterLeafUserLocalMatrix);

void BM_RefreshDrawStateAfterModelScale(benchmark::State& state) {
  BenchModel& b = Bench();
  MV1Model* m = b.model;
  float s = 1;
  for (auto _ : state) {
    s = s == 1 ? 0.5f : 1.0f;
    MV1SetDrawDifColorScale(&m->DrawMaterial, nullptr, s, s, s, 1);
    MV1SetModelChangeFlagAll(m->ChangeDrawMaterialFlag, m->ChangeDrawMaterialFlagSize);
    MV1RefreshDrawState(&m->Frame[0], nullptr);
  }
}
BENCHMARK(BM_RefreshDrawStateAfterModelScale);

void BM_RefreshDrawStateAfterLeafFrameScale(benchmark::State& state) {
  BenchModel& b = Bench();
  MV1Frame* f = &b.model->Frame[b.leaf];
  float s = 1;
  for (auto _ : state) {
    s = s == 1 ? 0.5f : 1.0f;
    MV1SetDrawDifColorScale(&f->DrawMaterial, &f->ChangeDrawMaterialFlag, s, s, s, 1);
    MV1RefreshDrawState(f, nullptr);
  }
}
BENCHMARK(BM_RefreshDrawStateAfterLeafFrameScale);

void BM_DuplicateAndDeleteModel(benchmark::State& state) {
  BenchModel& b = Bench();
  for (auto _ : state) {
    int h = MV1DuplicateModel(b.handle);
    benchmark::DoNotOptimize(h);
    MV1DeleteModel(h);
  }
}
BENCHMARK(BM_DuplicateAndDeleteModel);

// The bytes of the model block cleared, for scale beside the duplication.
void BM_MemsetModelBlock(benchmark::State& state) {
  BenchModel& b = Bench();
  size_t bytes = static_cast<size_t>(reinterpret_cast<uint8_t*>(b.model->DrawStateStack +
                                                                 b.model->DrawStateStackCapacity) -
                                     reinterpret_cast<uint8_t*>(b.model));
  std::vector<uint8_t> block(bytes);
  for (auto _ : state) {
    std::memset(block.data(), 0, bytes);
    benchmark::ClobberMemory();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_MemsetModelBlock);

void BM_CheckBoxOutsideView(benchmark::State& state) {
  MATRIX projection;
  CreatePerspectiveFovMatrix(&projection, 1.0471976f, 10.0f, 10000.0f, 0.75f);
  ViewMatrices.ViewProjection = projection;
  std::mt19937 rng(11);
  std::vector<VECTOR> corners(8 * 256);
  for (int box = 0; box < 256; ++box) {
    float x = static_cast<float>(static_cast<int>(rng() % 4000) - 2000);
    float y = static_cast<float>(static_cast<int>(rng() % 4000) - 2000);
    float z = static_cast<float>(static_cast<int>(rng() % 12000) - 1000);
    for (int i = 0; i < 8; ++i)
      corners[box * 8 + i] = VECTOR{x + (i & 1 ? 50.0f : 0), y + (i & 2 ? 50.0f : 0), z + (i & 4 ? 50.0f : 0)};
  }
  int box = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(MV1CheckBoxOutsideView(&corners[box * 8]));
    box = (box + 1) & 255;
  }
}
BENCHMARK(BM_CheckBoxOutsideView);

}  // namespace
