// Growth of the read model's work with its input, each at sizes ten times apart: the automatic
// normals on the shapes around shared positions that once made the fan walk quadratic, and
// adding frames in the readers' patterns (directly, and reading generated X and MQO files with
// the conversion stopped). Items per second stay level when the work grows linearly. Then the
// normals of an ordinary grid beside the literal walk the tests keep as their reference, and a
// generated binary X grid without normals loaded whole (its normals made on the way).
#include <benchmark/benchmark.h>

#include "bench/bench_engine.h"

#include <ctime>
#include <cstdlib>
#include <functional>
#include <string>

#include <qzlib/model/model.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include "tests/support/mesh_shapes.h"
#include "tests/support/readmodel_builder.h"
#include "tests/support/ref_normals.h"
#include "tests/support/x_test_files.h"

namespace {

// Processor time of this thread, in seconds (steadier than the clock on a shared machine).
double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Times make (MakeReadModelNormals unless given) alone on the triangulated shape, in processor
// time.
void RunNormals(benchmark::State& state, const MeshCase& c,
                int (*make)(ReadModel*, ReadModelMesh*) = MakeReadModelNormals) {
  int64_t triangles = 0;
  for (auto _ : state) {
    OwnedReadModel rm;
    ReadModelMesh* m = BuildMeshCase(rm.get(), c);
    if (!m || !TriangulateReadModelMesh(rm.get(), m)) std::abort();
    triangles = m->FaceCount;
    const double t0 = ThreadSeconds();
    if (make(rm.get(), m) != 1) std::abort();
    state.SetIterationTime(ThreadSeconds() - t0);
  }
  state.SetItemsProcessed(state.iterations() * triangles);
  state.counters["triangles"] = static_cast<double>(triangles);
}

void BM_NormalsRepeatedTriangle(benchmark::State& state) {
  RunNormals(state, RepeatedTriangle(static_cast<int>(state.range(0)), true));
}
BENCHMARK(BM_NormalsRepeatedTriangle)->Arg(60000)->Arg(600000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_NormalsRepeated32gon(benchmark::State& state) {
  RunNormals(state, RepeatedPolygon(static_cast<int>(state.range(0)), 32));
}
BENCHMARK(BM_NormalsRepeated32gon)->Arg(3000)->Arg(30000)->UseManualTime()->Unit(benchmark::kMillisecond);

// state.range(0) copies of eight mirrored quadrangles
void BM_NormalsMirroredQuads(benchmark::State& state) {
  RunNormals(state, MirroredQuads(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_NormalsMirroredQuads)->Arg(7500)->Arg(75000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_NormalsDisc(benchmark::State& state) { RunNormals(state, Disc(static_cast<int>(state.range(0)))); }
BENCHMARK(BM_NormalsDisc)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_NormalsRepeatedRing(benchmark::State& state) {
  RunNormals(state, RepeatedRing(static_cast<int>(state.range(0)), 50));
}
BENCHMARK(BM_NormalsRepeatedRing)->Arg(1200)->Arg(12000)->UseManualTime()->Unit(benchmark::kMillisecond);

// Adding frames directly: a chain, or a chain whose frames each hold a mesh frame first.
void RunFrames(benchmark::State& state, const std::function<int(ReadModel*, int)>& add) {
  int frames = 0;
  for (auto _ : state) {
    OwnedReadModel rm;
    frames = add(rm.get(), static_cast<int>(state.range(0)));
  }
  state.SetItemsProcessed(state.iterations() * frames);
}

void BM_FramesChain(benchmark::State& state) {
  RunFrames(state, [](ReadModel* rm, int n) {
    ReadModelFrame* p = nullptr;
    for (int i = 0; i < n; ++i) p = ReadModelAddFrame(rm, "", p);
    return n;
  });
}
BENCHMARK(BM_FramesChain)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);

void BM_FramesChainWithMeshFrames(benchmark::State& state) {
  RunFrames(state, [](ReadModel* rm, int n) {
    ReadModelFrame* p = nullptr;
    for (int i = 0; i < n; ++i) {
      p = ReadModelAddFrame(rm, "", p);
      ReadModelAddFrame(rm, "mesh", p);
    }
    return 2 * n;
  });
}
BENCHMARK(BM_FramesChainWithMeshFrames)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);

// Reading generated files, the conversion stopped at its entry.
void RunReader(benchmark::State& state, int (*reader)(const void*, size_t, const char*, const char*, const char*),
               const std::string& data, int frames) {
  SetReadModelObserver([](const ReadModel*, const char*, void*) { return 1; }, nullptr);
  for (auto _ : state) benchmark::DoNotOptimize(reader(data.data(), data.size(), "bench", "bench", ""));
  SetReadModelObserver(nullptr, nullptr);
  state.SetItemsProcessed(state.iterations() * frames);
}

void BM_ReadXFramesWithMeshReferences(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string s = "xof 0303txt 0032\nMesh m { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n";
  for (int i = 0; i < n; ++i) s += "Frame { {m} }\n";
  RunReader(state, LoadXFileModel, s, 2 * n);
}
BENCHMARK(BM_ReadXFramesWithMeshReferences)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);

void BM_ReadMqoChain(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string s = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n";
  for (int i = 0; i < n; ++i) s += "Object \"o" + std::to_string(i) + "\" {\r\n\tdepth " + std::to_string(i) + "\r\n}\r\n";
  RunReader(state, LoadMqoModel, s + "Eof\r\n", n);
}
BENCHMARK(BM_ReadMqoChain)->Arg(30000)->Arg(300000)->Unit(benchmark::kMillisecond);

// A wavy grid of w x h cells, two triangles each.
void Grid(int w, int h, std::vector<float>* pos, std::vector<uint32_t>* faces) {
  for (int y = 0; y <= h; ++y)
    for (int x = 0; x <= w; ++x)
      pos->insert(pos->end(), {x * 2.0f, y * 2.0f, ((x * 7 + y * 13) % 17) * 0.25f});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t a = y * (w + 1) + x, b = a + 1, c = a + w + 2, d = a + w + 1;
      faces->insert(faces->end(), {3, a, b, c, 3, a, c, d});
    }
}

MeshCase GridCase(int w, int h) {
  std::vector<float> pos;
  std::vector<uint32_t> faces;
  Grid(w, h, &pos, &faces);
  MeshCase c;
  c.name = "grid";
  for (size_t i = 0; i < pos.size(); i += 3) c.pos.push_back({pos[i], pos[i + 1], pos[i + 2]});
  for (size_t i = 0; i < faces.size(); i += 4) c.faces.push_back({int(faces[i + 1]), int(faces[i + 2]), int(faces[i + 3])});
  return c;
}

// The normals of a 500 x 200 grid (200,000 triangles), by the walk and by the literal reference.
void BM_NormalsGrid200k(benchmark::State& state) { RunNormals(state, GridCase(500, 200)); }
BENCHMARK(BM_NormalsGrid200k)->UseManualTime()->Unit(benchmark::kMillisecond);
void BM_NormalsGrid200kReferenceWalk(benchmark::State& state) {
  RunNormals(state, GridCase(500, 200), RefMakeReadModelNormals);
}
BENCHMARK(BM_NormalsGrid200kReferenceWalk)->UseManualTime()->Unit(benchmark::kMillisecond);

// A binary X file of one w x h grid mesh without normals or anything else.
std::string BinaryXGrid(int w, int h) {
  std::vector<float> pos;
  std::vector<uint32_t> faces;
  Grid(w, h, &pos, &faces);
  faces.insert(faces.begin(), static_cast<uint32_t>(w * h * 2));
  XBinaryBuilder b;
  const uint32_t count = static_cast<uint32_t>(pos.size() / 3);
  return "xof 0303bin 0032" + b.Name("Frame") + b.Name("grid") + b.Open() + b.Name("Mesh") + b.Open() +
         b.IntList(&count, 1) + b.FloatList(pos.data(), pos.size()) + b.IntList(faces.data(), faces.size()) +
         b.Close() + b.Close();
}

// The X reader on the binary grid (200,000 triangles), conversion included.
void BM_LoadBinaryXGridWithoutNormals200k(benchmark::State& state) {
  BenchModelEngine();
  static const std::string data = BinaryXGrid(500, 200);
  for (auto _ : state) {
    const int h = LoadXFileModel(data.data(), data.size(), "grid.x", "grid", "");
    if (h < 0) std::abort();
    MV1DeleteModelBase(h);
  }
  state.SetItemsProcessed(state.iterations() * 200000);
}
BENCHMARK(BM_LoadBinaryXGridWithoutNormals200k)->Unit(benchmark::kMillisecond);

}  // namespace
