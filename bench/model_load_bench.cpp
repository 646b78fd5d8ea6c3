// Model loading pieces: the device buffer build of a 500,000-vertex base against a memcpy of the
// same bytes into a fresh block, the normal map of a 1,024 x 1,024 height map beside the decode of
// the same image and tangents of a 100,000-face mesh. The whole load of a 100,000-triangle file and
// its parts are measured in mv1_bench.
#include <benchmark/benchmark.h>

#include "bench/bench_engine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_mesh_process.h>
#include <qzlib/model/model_texture.h>
#include "tests/support/model_builder.h"

namespace {

// A base of `meshes` rigid meshes of `triangles` fresh triangles each, `uvSets` UV sets.
int RigidBase(int meshes, int triangles, int uvSets) {
  ModelBaseBuilder b;
  b.materials.push_back({"m", COLOR_F{1, 1, 1, 1}, 0, 0, 0});
  b.AddFrame(-1);
  for (int i = 0; i < meshes; ++i) b.meshes[b.AddMesh(0, 0, triangles)].uvSets = uvSets;
  return b.Build();
}

// 8 x 20,833 triangles: 499,992 vertices, two UV sets.
int BigBase() {
  static int h = [] {
    BenchModelEngine();
    return RigidBase(8, 20833, 2);
  }();
  return h;
}

size_t BufferBytes(int h) {
  MV1ModelBase* base = MV1GetModelBaseChecked(h);
  size_t bytes = 0;
  for (int i = 0; i < base->TriangleListCount; ++i)
    bytes += size_t(base->TriangleList[i].VertexCount) * 96 + 2 * size_t(base->TriangleList[i].IndexCount);
  return bytes;
}

void BM_SetupModelBaseVertexBuffer500k(benchmark::State& state) {
  const int h = BigBase();
  for (auto _ : state) {
    state.PauseTiming();
    MV1TerminateModelBaseVertexBuffer(h);
    state.ResumeTiming();
    MV1SetupModelBaseVertexBuffer(h);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BufferBytes(h)));
}
BENCHMARK(BM_SetupModelBaseVertexBuffer500k)->Unit(benchmark::kMillisecond);

void BM_MemcpyFreshBlockSameBytes(benchmark::State& state) {
  const size_t bytes = BufferBytes(BigBase());
  std::vector<uint8_t> source(bytes, 0x5A);
  for (auto _ : state) {
    void* block = MEM_ALLOC(bytes);
    std::memcpy(block, source.data(), bytes);
    benchmark::DoNotOptimize(block);
    state.PauseTiming();
    MEM_FREE(block);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_MemcpyFreshBlockSameBytes)->Unit(benchmark::kMillisecond);

// A 1,024 x 1,024 height map with seeded hills, as an image and as a PNG file's bytes.
struct HeightMap {
  BASEIMAGE image{};
  std::vector<uint8_t> png;
  HeightMap() {
    CreateXRGB8ColorBaseImage(1024, 1024, &image);
    std::mt19937 rng(7);
    for (int y = 0; y < 1024; ++y)
      for (int x = 0; x < 1024; ++x) {
        uint8_t h = uint8_t((x * 3 + y * 5 + (rng() & 15)) & 0xFF);
        uint32_t v = 0xFF000000u | h * 0x010101u;
        std::memcpy(static_cast<uint8_t*>(image.GraphData) + y * image.Pitch + x * 4, &v, 4);
      }
    const char* path = "model_load_bench_height.png";
    SaveBaseImageToPng(path, &image, 6);
    FILE* f = std::fopen(path, "rb");
    if (f) {
      uint8_t buf[65536];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) png.insert(png.end(), buf, buf + n);
      std::fclose(f);
    }
    std::remove(path);
  }
};
HeightMap& Height() {
  static HeightMap h;
  return h;
}

void BM_NormalMapFromHeightMap1024(benchmark::State& state) {
  HeightMap& hm = Height();
  for (auto _ : state) {
    BASEIMAGE out;
    MV1MakeNormalMapFromHeightMap(&hm.image, 0.5f, &out);
    benchmark::DoNotOptimize(out.GraphData);
    ReleaseBaseImage(&out);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 1024 * 1024);
}
BENCHMARK(BM_NormalMapFromHeightMap1024)->Unit(benchmark::kMillisecond);

void BM_DecodeHeightMapPng1024(benchmark::State& state) {
  HeightMap& hm = Height();
  for (auto _ : state) {
    BASEIMAGE out;
    CreateBaseImageToMem(nullptr, hm.png.data(), hm.png.size(), 1, &out, 0);
    benchmark::DoNotOptimize(out.GraphData);
    ReleaseBaseImage(&out);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * 1024 * 1024);
}
BENCHMARK(BM_DecodeHeightMapPng1024)->Unit(benchmark::kMillisecond);

// A grid of 226 x 224 shared vertices with seeded heights and UVs: 100,350 faces in lists of 48
// rows (16-bit indices).
void BM_SetupTangentAndBinormal100k(benchmark::State& state) {
  BenchModelEngine();
  static int h = [] {
    constexpr int kCols = 226, kRows = 224, kRowsPerList = 48;
    ModelBaseBuilder b;
    b.materials.push_back({"m", COLOR_F{1, 1, 1, 1}, 0, 0, 0});
    b.AddFrame(-1);
    TestMesh m;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> d(-1, 1);
    for (int r = 0; r < kRows; ++r)
      for (int c = 0; c < kCols; ++c) {
        TestVertex v;
        v.position = {float(c), d(rng), float(r)};
        m.vertices.push_back(v);
      }
    for (int r0 = 0; r0 < kRows - 1; r0 += kRowsPerList) {
      const int r1 = std::min(r0 + kRowsPerList, kRows - 1);
      TestTriangleList l;
      for (int r = r0; r <= r1; ++r)
        for (int c = 0; c < kCols; ++c) l.meshVertices.push_back(r * kCols + c);
      for (int r = r0; r < r1; ++r)
        for (int c = 0; c + 1 < kCols; ++c) {
          const int a = (r - r0) * kCols + c, n = a + kCols;
          for (int i : {a, n, a + 1, a + 1, n, n + 1}) l.indices.push_back(uint16_t(i));
        }
      m.lists.push_back(l);
    }
    b.meshes.push_back(m);
    return b.Build();
  }();
  MV1MeshBase* mesh = &MV1GetModelBaseChecked(h)->Mesh[0];
  for (auto _ : state) MV1SetupTangentAndBinormal(mesh);
  state.SetItemsProcessed(int64_t(state.iterations()) * mesh->FaceCount);
}
BENCHMARK(BM_SetupTangentAndBinormal100k)->Unit(benchmark::kMillisecond);

}  // namespace
