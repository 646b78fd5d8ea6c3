// MQO loading end to end on a generated document of 50,000 quadrangles with UVs (about 4 MB),
// beside its parts: the reader alone (the conversion stopped), the automatic normals of its
// triangulated mesh, and a 5,000-quadrangle document mirrored on all three axes (8 copies).
#include <benchmark/benchmark.h>

#include "bench/bench_engine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include <qzlib/platform/d3d_device.h>

namespace {

// A wavy grid of w x h quadrangles with UVs and one material; mirror axes when given.
std::string GridDocument(int w, int h, int mirrorAxes) {
  std::string s = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\n";
  s += "Material 1 {\r\n\t\"m\" col(1.000 1.000 1.000 1.000) dif(0.800) amb(0.600) power(5.00)\r\n}\r\n";
  s += "Object \"grid\" {\r\n\tdepth 0\r\n\tfacet 59.5\r\n";
  if (mirrorAxes) s += "\tmirror 1\r\n\tmirror_axis " + std::to_string(mirrorAxes) + "\r\n";
  char line[256];
  std::snprintf(line, sizeof(line), "\tvertex %d {\r\n", (w + 1) * (h + 1));
  s += line;
  for (int y = 0; y <= h; ++y) {
    for (int x = 0; x <= w; ++x) {
      std::snprintf(line, sizeof(line), "\t\t%.4f %.4f %.4f\r\n", 1.0 + x * 2.0, 1.0 + y * 2.0,
                    1.0 + ((x * 7 + y * 13) % 17) * 0.25);
      s += line;
    }
  }
  std::snprintf(line, sizeof(line), "\t}\r\n\tface %d {\r\n", w * h);
  s += line;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int a = y * (w + 1) + x, b = a + 1, c = a + w + 2, d = a + w + 1;
      const double u0 = double(x) / w, u1 = double(x + 1) / w;
      const double v0 = double(y) / h, v1 = double(y + 1) / h;
      std::snprintf(line, sizeof(line),
                    "\t\t4 V(%d %d %d %d) M(0) UV(%.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f)\r\n", a,
                    b, c, d, u0, v0, u1, v0, u1, v1, u0, v1);
      s += line;
    }
  }
  s += "\t}\r\n}\r\nEof\r\n";
  return s;
}

const std::string& Big() {
  static const std::string doc = GridDocument(250, 200, 0);
  return doc;
}

int Load(const std::string& doc) {
  return LoadMqoModel(doc.data(), doc.size(), "bench.mqo", "bench", "");
}

void BM_MqoLoadEndToEnd50kQuads(benchmark::State& state) {
  BenchModelEngine();
  const std::string& doc = Big();
  for (auto _ : state) {
    int h = Load(doc);
    if (h < 0) std::abort();
    MV1DeleteModelBase(h);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(doc.size()));
}
BENCHMARK(BM_MqoLoadEndToEnd50kQuads)->Unit(benchmark::kMillisecond);

// The reader alone: the converter is stopped at its entry.
void BM_MqoRead50kQuads(benchmark::State& state) {
  BenchModelEngine();
  const std::string& doc = Big();
  SetReadModelObserver([](const ReadModel*, const char*, void*) { return 1; }, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(Load(doc));
  SetReadModelObserver(nullptr, nullptr);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(doc.size()));
}
BENCHMARK(BM_MqoRead50kQuads)->Unit(benchmark::kMillisecond);

// The conversion alone (normals included): the read model is converted inside the converter's
// observer, timed there, and the reader's own conversion is stopped.
double g_convertSeconds;

int ConvertTimed(const ReadModel* rm, const char* folder, void*) {
  SetReadModelObserver(nullptr, nullptr);
  auto t0 = std::chrono::steady_clock::now();
  int h = ConvertReadModelToModelBase(const_cast<ReadModel*>(rm), folder);
  g_convertSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (h < 0) std::abort();
  MV1DeleteModelBase(h);
  return 1;
}

void BM_MqoConvert50kQuads(benchmark::State& state) {
  BenchModelEngine();
  const std::string& doc = Big();
  for (auto _ : state) {
    SetReadModelObserver(ConvertTimed, nullptr);
    Load(doc);
    state.SetIterationTime(g_convertSeconds);
  }
  SetReadModelObserver(nullptr, nullptr);
}
BENCHMARK(BM_MqoConvert50kQuads)->UseManualTime()->Unit(benchmark::kMillisecond);

// The automatic normals of the read mesh (100,000 triangles after triangulation), timed alone.
void BM_MqoNormals50kQuads(benchmark::State& state) {
  BenchModelEngine();
  const std::string& doc = Big();
  static double seconds;
  SetReadModelObserver(
      [](const ReadModel* crm, const char*, void*) {
        ReadModel* rm = const_cast<ReadModel*>(crm);
        if (!TriangulateReadModelMesh(rm, rm->FirstMesh)) std::abort();
        auto t0 = std::chrono::steady_clock::now();
        if (!MakeReadModelNormals(rm, rm->FirstMesh)) std::abort();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        return 1;
      },
      nullptr);
  for (auto _ : state) {
    Load(doc);
    state.SetIterationTime(seconds);
  }
  SetReadModelObserver(nullptr, nullptr);
}
BENCHMARK(BM_MqoNormals50kQuads)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_MqoLoadMirror7_5kQuads(benchmark::State& state) {
  BenchModelEngine();
  static const std::string doc = GridDocument(100, 50, 7);
  for (auto _ : state) {
    int h = Load(doc);
    if (h < 0) std::abort();
    MV1DeleteModelBase(h);
  }
}
BENCHMARK(BM_MqoLoadMirror7_5kQuads)->Unit(benchmark::kMillisecond);

}  // namespace
