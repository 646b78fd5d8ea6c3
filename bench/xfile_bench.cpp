// Loading tiny_4anim.x (2.5 MB of text X: 48 frames, 2 skinned meshes, 4 animation sets): the X
// reader of the model loader, beside the distribution's peer importer reading the same bytes
// without post-processing in the same run.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>
#include <string>

#include "engine/base/log.h"
#include "engine/modelimport/x/xfile_model.h"
#include "engine/modelimport/x/xfile_parser.h"

#ifdef HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#endif

namespace {

const std::string& TinyBytes() {
  static const std::string bytes = [] {
    std::ifstream f(std::string(BENCH_TESTDATA_DIR) + "/models/x/tiny_4anim.x", std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }();
  return bytes;
}

// Parse and objects into the read model, then the conversion step.
void BM_LoadXFileModel_Tiny(benchmark::State& state) {
  const std::string& bytes = TinyBytes();
  if (bytes.empty()) {
    state.SkipWithError("test data absent");
    return;
  }
  LogCaptureBegin();
  for (auto _ : state) benchmark::DoNotOptimize(LoadXFileModel(bytes.data(), bytes.size(), "tiny_4anim.x", "tiny_4anim", "."));
  LogCaptureEnd();
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
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(), 0, "x");
    if (!scene) state.SkipWithError("peer refused the file");
    benchmark::DoNotOptimize(scene);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_PeerImporter_Tiny)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
