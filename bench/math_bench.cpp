// Hot operations of the maths library: 4x4 product, point transform, the model runtime's
// 3x4 product and the nearest point on a triangle.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include <qzlib/math/geometry.h>
#include <qzlib/math/math3d.h>
#include <qzlib/math/matrix3x4.h>

namespace {

constexpr int kCount = 256;  // inputs cycled through, so results are not constant-folded

std::vector<MATRIX> RandomMatrices(uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> e(-2, 2);
  std::vector<MATRIX> v(kCount);
  for (MATRIX& m : v)
    for (auto& row : m.m)
      for (float& x : row) x = e(rng);
  return v;
}

std::vector<VECTOR> RandomVectors(uint32_t seed, float range) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> e(-range, range);
  std::vector<VECTOR> v(kCount);
  for (VECTOR& p : v) p = {e(rng), e(rng), e(rng)};
  return v;
}

void BM_MMult(benchmark::State& state) {
  std::vector<MATRIX> a = RandomMatrices(1), b = RandomMatrices(2);
  int i = 0;
  for (auto _ : state) {
    MATRIX r = MMult(a[i], b[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (kCount - 1);
  }
}
BENCHMARK(BM_MMult);

void BM_VTransformInline(benchmark::State& state) {
  std::vector<MATRIX> m = RandomMatrices(3);
  std::vector<VECTOR> p = RandomVectors(4, 10);
  int i = 0;
  for (auto _ : state) {
    VECTOR r;
    VTransformInline(&r, &p[i], &m[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (kCount - 1);
  }
}
BENCHMARK(BM_VTransformInline);

void BM_MV1MultiplyMatrix3x4(benchmark::State& state) {
  std::vector<MATRIX> a = RandomMatrices(5);
  std::vector<Matrix3x4> m(kCount);
  for (int k = 0; k < kCount; ++k)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) m[k].m[r][c] = a[k].m[c][r];
  int i = 0;
  for (auto _ : state) {
    Matrix3x4 r;
    MV1MultiplyMatrix3x4(&m[i], &r, &m[(i + 1) & (kCount - 1)]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (kCount - 1);
  }
}
BENCHMARK(BM_MV1MultiplyMatrix3x4);

void BM_GetNearestPointOnTriangle(benchmark::State& state) {
  std::vector<VECTOR> a = RandomVectors(6, 4), b = RandomVectors(7, 4), c = RandomVectors(8, 4);
  std::vector<VECTOR> p = RandomVectors(9, 6);
  int i = 0;
  for (auto _ : state) {
    VECTOR r = GetNearestPointOnTriangle(p[i], a[i], b[i], c[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (kCount - 1);
  }
}
BENCHMARK(BM_GetNearestPointOnTriangle);

}  // namespace
