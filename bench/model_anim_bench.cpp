// Animation: setting an anim's time and rebuilding the frame matrices of a 100-frame hierarchy
// whose every frame is driven by quaternion and translate keys (300 explicit keys each), with one
// anim and with two blended; beside it 100 bare Matrix3x4 products.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include "tests/support/model_builder.h"

namespace {

struct AnimBench {
  ModelSystemScope system;
  int one = -1, two = -1;
  AnimBench() {
    int base = AnimatedChainBuilder(100, 2, 300).Build();
    one = CreateTestModel(base);
    two = CreateTestModel(base);
    MV1AttachAnim(one, 0, -1, 0);
    MV1AttachAnim(two, 0, -1, 0);
    MV1AttachAnim(two, 1, -1, 0);
    MV1SetAttachAnimBlendRate(two, 0, 0.5f);
    MV1SetAttachAnimBlendRate(two, 1, 0.5f);
  }
};

AnimBench& Bench() {
  static AnimBench b;
  return b;
}

void Run(benchmark::State& state, int handle, int slots) {
  MV1Model* model = MV1GetModelChecked(handle);
  float time = 0;
  for (auto _ : state) {
    time += 0.37f;
    if (time > 299.0f) time -= 299.0f;
    for (int s = 0; s < slots; ++s) MV1SetAttachAnimTime(handle, s, time);
    MV1SetupMatrix(model);
    benchmark::DoNotOptimize(model->Frame[99].WorldMatrix.m[0][3]);
  }
}

void BM_AnimTimeAndSetup_OneAnim(benchmark::State& state) { Run(state, Bench().one, 1); }
BENCHMARK(BM_AnimTimeAndSetup_OneAnim);

void BM_AnimTimeAndSetup_TwoBlended(benchmark::State& state) { Run(state, Bench().two, 2); }
BENCHMARK(BM_AnimTimeAndSetup_TwoBlended);

void BM_Multiply3x4_100(benchmark::State& state) {
  std::vector<Matrix3x4> m(101);
  std::mt19937 rng(5);
  for (Matrix3x4& x : m)
    for (auto& row : x.m)
      for (float& v : row) v = static_cast<float>(rng() % 1000) / 500.0f - 1.0f;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) MV1MultiplyMatrix3x4(&m[i], &m[i + 1], &m[i + 1]);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Multiply3x4_100);

}  // namespace
