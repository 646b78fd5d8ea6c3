// The MV1 reader on a 100,000-triangle grid file from the test writer (one mesh in as many lists as
// the u16 counts need, quantised positions, byte normals, one colour pair, u16 UVs, no texture),
// with the bare LZ decode of its block and a memcpy of its unpacked image measured beside it, and
// the tangent step of its mesh alone; and MV1LoadModel of the same file from disk with its parts
// measured apart: the whole-file read, the reader (above), the buffer build, the model creation.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/file/lz.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_mesh_process.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/platform/d3d_device.h>
#include "tests/support/mv1_writer.h"

namespace {

void Engine() {
  static bool started = [] {
    D3DStandIn().Snapshots = false;
    D3DStandIn().Recording = false;
    SetUse3DFlag(1);
    if (InitLibrary() != 0) std::abort();
    return true;
  }();
  (void)started;
}

const Mv1Written& File() {
  static Mv1Written w = [] {
    // A grid of 250 x 200 quads: 100,000 triangles over 50,451 shared vertices; 43 rows per list.
    const int columns = 250, rows = 200, rowsPerList = 43;
    Mv1WScene s;
    s.frames.resize(1);
    Mv1WFrame& f = s.frames[0];
    f.quantised = true;
    f.normalForm = 1;
    f.noWeights = true;
    s.materials.resize(1);
    Mv1WMesh m;
    m.positionWidth = m.normalWidth = 2;
    m.broadcast = true;
    m.shortUV = true;
    m.diffuse = {0xFFFFFFFFu};
    m.specular = {0};
    for (int y = 0; y <= rows; ++y)
      for (int x = 0; x <= columns; ++x) {
        const uint32_t v = uint32_t(f.positions.size());
        f.positions.push_back({float(x), float(y), float((x * 7 + y * 3) % 11) * 0.1f});
        f.normals.push_back({0, 0.6f, 0.8f});
        m.positionIndex.push_back(v);
        m.normalIndex.push_back(v);
        m.uvs.push_back(float(x) / columns);
        m.uvs.push_back(float(y) / rows);
      }
    for (int first = 0; first < rows; first += rowsPerList) {
      const int last = std::min(rows, first + rowsPerList);
      Mv1WList l;
      l.mviWidth = 1;
      l.indexWidth = 1;
      const uint32_t base = uint32_t(first * (columns + 1));
      for (uint32_t v = base; v < uint32_t((last + 1) * (columns + 1)); ++v)
        l.meshVertices.push_back(v);
      for (int y = 0; y < last - first; ++y)
        for (int x = 0; x < columns; ++x) {
          const uint16_t a = uint16_t(y * (columns + 1) + x), b = uint16_t(a + 1),
                         c = uint16_t(a + columns + 1), d = uint16_t(c + 1);
          l.indices.insert(l.indices.end(), {a, b, c, c, b, d});
        }
      m.lists.push_back(l);
    }
    s.meshes.push_back(m);
    return WriteMv1(s);
  }();
  return w;
}

void BM_Mv1Load(benchmark::State& state) {
  Engine();
  const Mv1Written& w = File();
  for (auto _ : state) {
    const int h = LoadMV1ToModelBase(w.file.data(), w.file.size(), "b.mv1", "b", "/");
    if (h < 0) state.SkipWithError("load failed");
    MV1DeleteModelBase(h);
  }
  state.counters["file_bytes"] = double(w.file.size());
  state.counters["image_bytes"] = double(w.image.size());
}
BENCHMARK(BM_Mv1Load)->Unit(benchmark::kMillisecond);

void BM_Mv1LzDecodeOnly(benchmark::State& state) {
  const Mv1Written& w = File();
  std::vector<uint8_t> out(w.image.size());
  for (auto _ : state) {
    int n = LzDecode(w.file.data() + 4, w.file.size() - 4, out.data(), out.size());
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_Mv1LzDecodeOnly)->Unit(benchmark::kMillisecond);

void BM_Mv1MemcpyImage(benchmark::State& state) {
  const Mv1Written& w = File();
  std::vector<uint8_t> out(w.image.size());
  for (auto _ : state) {
    std::memcpy(out.data(), w.image.data(), w.image.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Mv1MemcpyImage)->Unit(benchmark::kMillisecond);

void BM_Mv1TangentStep(benchmark::State& state) {
  Engine();
  const Mv1Written& w = File();
  const int h = LoadMV1ToModelBase(w.file.data(), w.file.size(), "b.mv1", "b", "/");
  MV1ModelBase* base = MV1GetModelBaseChecked(h);
  for (auto _ : state) {
    if (MV1SetupTangentAndBinormal(&base->Mesh[0]) != 0) state.SkipWithError("tangents failed");
  }
  MV1DeleteModelBase(h);
}
BENCHMARK(BM_Mv1TangentStep)->Unit(benchmark::kMillisecond);

// The grid file on disk, in the current directory; removed at exit.
const char* DiskFile() {
  static const char* path = [] {
    const char* p = "mv1_bench_grid.mv1";
    const Mv1Written& w = File();
    FILE* f = std::fopen(p, "wb");
    if (!f || std::fwrite(w.file.data(), 1, w.file.size(), f) != w.file.size()) std::abort();
    std::fclose(f);
    std::atexit([] { std::remove("mv1_bench_grid.mv1"); });
    return p;
  }();
  return path;
}

void BM_Mv1LoadModelFromDisk(benchmark::State& state) {
  Engine();
  const char* path = DiskFile();
  for (auto _ : state) {
    const int m = MV1LoadModel(path);
    if (m < 0) state.SkipWithError("load failed");
    state.PauseTiming();
    MV1DeleteModel(m);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Mv1LoadModelFromDisk)->Unit(benchmark::kMillisecond);

void BM_Mv1LoadModelPartFileRead(benchmark::State& state) {
  Engine();
  const char* path = DiskFile();
  for (auto _ : state) {
    void* data = nullptr;
    int size = 0;
    if (LoadWholeFileToMemory(path, &data, &size) != 0) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data);
    MEM_FREE(data);
  }
}
BENCHMARK(BM_Mv1LoadModelPartFileRead)->Unit(benchmark::kMillisecond);

// The grid's base as the reader leaves it, kept alive by a model between runs.
int GridBase() {
  static int h = [] {
    Engine();
    const Mv1Written& w = File();
    const int base = LoadMV1ToModelBase(w.file.data(), w.file.size(), "b.mv1", "b", "/");
    if (base < 0 || MV1CreateModelFromBase(MV1AddModelHandle(), base) != 0) std::abort();
    return base;
  }();
  return h;
}

void BM_Mv1LoadModelPartBufferBuild(benchmark::State& state) {
  const int h = GridBase();
  for (auto _ : state) {
    state.PauseTiming();
    MV1TerminateModelBaseVertexBuffer(h);
    state.ResumeTiming();
    MV1SetupModelBaseVertexBuffer(h);
  }
}
BENCHMARK(BM_Mv1LoadModelPartBufferBuild)->Unit(benchmark::kMillisecond);

void BM_Mv1LoadModelPartModelCreation(benchmark::State& state) {
  const int h = GridBase();
  for (auto _ : state) {
    const int m = MV1AddModelHandle();
    if (MV1CreateModelFromBase(m, h) != 0) state.SkipWithError("creation failed");
    state.PauseTiming();
    MV1DeleteModel(m);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Mv1LoadModelPartModelCreation)->Unit(benchmark::kMicrosecond);

}  // namespace
