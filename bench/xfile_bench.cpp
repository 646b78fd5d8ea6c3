// Loading tiny_4anim.x (2.5 MB of text X: 48 frames, 2 skinned meshes, 4 animation sets): the X
// reader of the model loader, beside the distribution's peer importer reading the same bytes
// without post-processing in the same run.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include <qzlib/base/log.h>
#include "bench/bench_data.h"
#include "bench/bench_engine.h"
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/modelimport/x/xfile_model.h>
#include <qzlib/modelimport/x/xfile_parser.h>

#ifdef HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#endif

// The peer allocates through operator new: count what it holds at most, as the tracked allocator
// does for the engine.
namespace {
size_t g_newLive = 0, g_newPeak = 0;
}  // namespace
void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  g_newLive += malloc_usable_size(p);
  if (g_newLive > g_newPeak) g_newPeak = g_newLive;
  return p;
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  if (p) g_newLive -= malloc_usable_size(p);
  std::free(p);
}
#pragma GCC diagnostic pop
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

const std::string& TinyBytes() {
  static const std::string bytes = [] {
    std::ifstream f(BenchDataPath("models/x/tiny_4anim.x"), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }();
  return bytes;
}

// MV1LoadModel of tiny_4anim.x end to end, over the engine in Direct3D mode: the whole-file read,
// parse, objects into the read model, conversion into a base with its texture decoded into a
// graph, device buffers and the first model.
void BM_LoadModel_Tiny(benchmark::State& state) {
  const std::string path = BenchDataPath("models/x/tiny_4anim.x");
  if (!StartDirect3DEngine(state)) return;
  MV1DeleteModel(MV1LoadModel(path.c_str()));  // the handle tables grow once, here
  MemResetPeak();
  size_t held = MemLiveBytes();
  for (auto _ : state) {
    int h = MV1LoadModel(path.c_str());
    if (h < 0) state.SkipWithError("refused");
    MV1DeleteModel(h);
  }
  state.counters["peak_tracked_MiB"] = static_cast<double>(MemPeakBytes() - held) / (1 << 20);
  EndLibrary();
  SetUse3DFlag(0);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TinyBytes().size()));
}
BENCHMARK(BM_LoadModel_Tiny)->Unit(benchmark::kMillisecond);

// The X reader's part alone, over the engine in Direct3D mode: parse, objects into the read model,
// conversion into a base with its texture (no file read, no device buffers, no model).
void BM_LoadXFileModel_Tiny(benchmark::State& state) {
  const std::string& bytes = TinyBytes();
  if (!StartDirect3DEngine(state)) return;
  const std::string folder = BenchDataPath("models/x");
  MV1DeleteModelBase(MV1AddModelBaseHandle());
  for (auto _ : state) {
    int h = LoadXFileModel(bytes.data(), bytes.size(), "tiny_4anim.x", "tiny_4anim", folder.c_str());
    if (h < 0) state.SkipWithError("refused");
    MV1DeleteModelBase(h);
  }
  EndLibrary();
  SetUse3DFlag(0);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LoadXFileModel_Tiny)->Unit(benchmark::kMillisecond);

// The parser alone.
void BM_ParseXFile_Tiny(benchmark::State& state) {
  const std::string& bytes = TinyBytes();
  for (auto _ : state) {
    XFileObjectList list{};
    XFileAddObject(&list, XOBJ_FRAME, "XTopFrame", nullptr);
    benchmark::DoNotOptimize(ParseXFile(bytes.data(), bytes.size(), &list));
    FreeXFileObjectList(&list);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ParseXFile_Tiny)->Unit(benchmark::kMillisecond);

#ifdef HAVE_ASSIMP
void BM_PeerImporter_Tiny(benchmark::State& state) {
  const std::string& bytes = TinyBytes();
  size_t held = g_newLive;
  g_newPeak = held;
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(), 0, "x");
    if (!scene) state.SkipWithError("peer refused the file");
    benchmark::DoNotOptimize(scene);
  }
  state.counters["peak_new_MiB"] = static_cast<double>(g_newPeak - held) / (1 << 20);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_PeerImporter_Tiny)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
