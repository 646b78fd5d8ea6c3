// 3-D drawing through the stand-in device: the sphere mesh of n = 253 (65,280 vertices, 391,668
// indices) built alone and drawn whole (with recording and snapshot), beside a memcpy of the same
// vertex and index bytes; 1,000 cached-setter calls that change nothing; DrawLine3D end to end.
// The stand-in's record is cleared as the iterations go, so that it stays bounded.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include <qzlib/system/library.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/draw3d.h>

namespace {

// The engine in Direct3D mode, started once for the whole run.
D3DDevice* Engine() {
  static bool started = [] {
    SetUse3DFlag(1);
    if (InitLibrary() != 0) std::abort();
    return true;
  }();
  (void)started;
  return D3DObjects.Device;
}

constexpr int kN = 253;
constexpr size_t kVertices = 65280, kIndices = 391668;
constexpr size_t kBytes = kVertices * sizeof(VERTEX3D) + kIndices * 2;

void BM_SphereMeshBuild(benchmark::State& state) {
  Engine();
  for (auto _ : state) {
    Shape3DMesh m;
    MakeSphere3DMesh(&m, VECTOR{0, 0, 0}, 100, kN, 0xFFFFFF, 0, 1);
    benchmark::DoNotOptimize(m.Vertices);
    FreeShape3DMesh(&m);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kVertices));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_SphereMeshBuild)->Unit(benchmark::kMicrosecond);

void BM_MemcpySphereBytes(benchmark::State& state) {
  std::vector<uint8_t> src(kBytes, 1), dst(kBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), kBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kVertices));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_MemcpySphereBytes)->Unit(benchmark::kMicrosecond);

void BM_DrawSphere3DWithRecording(benchmark::State& state) {
  D3DDevice* dev = Engine();
  for (auto _ : state) {
    DrawSphere3D(VECTOR{320, 240, 0}, 100, kN, 0xFFFFFF, 0, 1);
    state.PauseTiming();
    dev->ClearRecord();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kVertices));
}
BENCHMARK(BM_DrawSphere3DWithRecording)->Unit(benchmark::kMicrosecond);

void BM_CachedSettersNoChange1000(benchmark::State& state) {
  D3DDevice* dev = Engine();
  SetZBufferEnable(1);
  SetCullMode(1);
  SetLightingEnable(1);
  SetSamplerFilter(0, 17, D3DTEXF_LINEAR);
  SetMaxAnisotropy(0, 1);
  dev->ClearRecord();
  for (auto _ : state) {
    for (int i = 0; i < 200; ++i) {
      SetZBufferEnable(1);
      SetCullMode(1);
      SetLightingEnable(1);
      SetSamplerFilter(0, 17, D3DTEXF_LINEAR);
      SetMaxAnisotropy(0, 1);
    }
  }
  if (dev->StateCallCount() != 0) state.SkipWithError("a setter reached the device");
}
BENCHMARK(BM_CachedSettersNoChange1000);

void BM_DrawLine3D(benchmark::State& state) {
  D3DDevice* dev = Engine();
  int n = 0;
  for (auto _ : state) {
    DrawLine3D(VECTOR{1, 2, 3}, VECTOR{100, 200, 300}, 0xFF00FF);
    if (++n == 1024) {
      dev->ClearRecord();
      n = 0;
    }
  }
}
BENCHMARK(BM_DrawLine3D);

}  // namespace
