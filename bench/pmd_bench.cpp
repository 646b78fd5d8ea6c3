// Loading Gene.pmd (28,646 vertices, 224 bones, 6 IK chains, 178 morphs) with its two motions,
// and its parts: the model into the read model alone, and the baking of the largest Gene motion
// (gene_26_mortifying.vmd, 1,043 bone keys over 300 frames) against its skeleton. The files are
// read from the test data; a missing one ends the run with its name.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_data.h"
#include "bench/bench_engine.h"
#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/base/log.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/pmd/pmd_reader.h>
#include <qzlib/modelimport/readmodel.h>

namespace {

// The folder of the PMD models (Gene.pmd, its textures and its motions Gene000/001.vmd).
std::string PmdFolder() { return BenchDataPath("models/pmd"); }

std::vector<uint8_t> Read(const std::string& path) {
  size_t size = 0;
  void* data = FileReadAll(path.c_str(), &size);
  std::vector<uint8_t> out;
  if (data) out.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  MemFreeTracked(data);
  return out;
}

// Stops every load before conversion, so that what is timed is the reader's own work.
int StopBeforeConversion(const ReadModel*, const char*, void*) { return 1; }

void LoadGene(benchmark::State& state, const std::string& folder) {
  std::vector<uint8_t> gene = Read(BenchDataPath("models/pmd/Gene.pmd"));
  SetReadModelObserver(StopBeforeConversion, nullptr);
  for (auto _ : state)
    benchmark::DoNotOptimize(LoadPmdModel(gene.data(), gene.size(), "Gene.pmd", "Gene", folder.c_str()));
  SetReadModelObserver(nullptr, nullptr);
}

// End to end: MV1LoadModel of Gene.pmd with its motions Gene000.vmd and Gene001.vmd, the
// conversion into a model base with its textures decoded into graphs, device buffers and the
// first model.
void BM_PmdLoadGeneEndToEnd(benchmark::State& state) {
  const std::string path = BenchDataPath("models/pmd/Gene.pmd");
  if (!StartDirect3DEngine(state)) return;
  for (auto _ : state) {
    int h = MV1LoadModel(path.c_str());
    if (h < 0) {
      state.SkipWithError("load failed");
      break;
    }
    MV1DeleteModel(h);
  }
  EndLibrary();
  SetUse3DFlag(0);
}
BENCHMARK(BM_PmdLoadGeneEndToEnd)->Unit(benchmark::kMillisecond);

// Texture decoding alone: Gene's ten texture names loaded as the conversion loads them (two files
// are present, pale.png at 4096 x 4096 and iraira.png stretched to 1024 x 1024; the eight missing
// ones become the built-in white image).
void BM_PmdGeneTextureDecoding(benchmark::State& state) {
  const std::string folder = PmdFolder();
  if (!StartDirect3DEngine(state)) return;
  int model = MV1LoadModel((folder + "/Gene.pmd").c_str());
  std::vector<std::string> names;
  for (int t = 0; t < MV1GetTextureNum(model); ++t) names.push_back(folder + "/" + MV1GetTextureName(model, t));
  MV1DeleteModel(model);
  LogCaptureBegin();  // the missing files are logged
  for (auto _ : state) {
    for (const std::string& name : names) {
      void *color = nullptr, *alpha = nullptr;
      int colorSize = 0, alphaSize = 0, graph = -1, semi = 0;
      if (MV1LoadTexture(&color, &colorSize, &alpha, &alphaSize, &graph, &semi, nullptr, nullptr,
                         name.c_str(), nullptr, folder.c_str(), 0, 0.0f) != 0) {
        state.SkipWithError("texture failed");
        break;
      }
      DeleteGraph(graph);
      MemFreeTracked(color);
      MemFreeTracked(alpha);
    }
  }
  LogCaptureEnd();
  EndLibrary();
  SetUse3DFlag(0);
}
BENCHMARK(BM_PmdGeneTextureDecoding)->Unit(benchmark::kMillisecond);

// The model and its motions Gene000.vmd and Gene001.vmd (sampling and baking included), stopped
// before conversion.
void BM_PmdLoadGeneWithMotions(benchmark::State& state) { LoadGene(state, PmdFolder()); }
BENCHMARK(BM_PmdLoadGeneWithMotions)->Unit(benchmark::kMillisecond);

// The model alone (a folder without motions): parsing and the read model.
void BM_PmdLoadGeneModelOnly(benchmark::State& state) { LoadGene(state, BenchDataPath("models") + "/no-motions-here"); }
BENCHMARK(BM_PmdLoadGeneModelOnly)->Unit(benchmark::kMillisecond);

// One motion against Gene's skeleton: grouping, sampling, the IK bake and the morph keys.
void BakeMotion(benchmark::State& state, const std::string& motionPath) {
  std::vector<uint8_t> gene = Read(BenchDataPath("models/pmd/Gene.pmd"));
  std::vector<uint8_t> motion = Read(BenchDataPath(motionPath));
  PmdFile file;
  if (ParsePmdFile(gene.data(), gene.size(), &file) != 0) {
    state.SkipWithError("Gene.pmd refused");
    return;
  }
  std::vector<PmdBoneInfo> bones(file.boneCount);
  std::vector<PmdIkInfo> iks(file.ikCount);
  for (auto _ : state) {
    state.PauseTiming();
    ReadModel rm;
    InitReadModel(&rm);
    ReadModelAddFrame(&rm, "Mesh", nullptr);
    PmdSetupBones(file, bones.data());
    PmdAddBoneFrames(&rm, bones.data(), static_cast<int>(file.boneCount));
    PmdIkInfo* list = PmdSetupIkList(file, bones.data(), iks.data());
    VmdKeyBudget budget{kVmdMaxSampledKeysPerLoad, 0};
    state.ResumeTiming();
    benchmark::DoNotOptimize(LoadVmdMotion(&rm, motion.data(), motion.size(), "Anim000", bones.data(),
                                           static_cast<int>(file.boneCount), list, &budget));
    state.PauseTiming();
    TerminateReadModel(&rm);
    state.ResumeTiming();
  }
}

void BM_VmdBakeMortifyingOnGene(benchmark::State& state) { BakeMotion(state, "models/vmd/gene_26_mortifying.vmd"); }
BENCHMARK(BM_VmdBakeMortifyingOnGene)->Unit(benchmark::kMillisecond);

void BM_VmdBakeGene000OnGene(benchmark::State& state) { BakeMotion(state, "models/pmd/Gene000.vmd"); }
BENCHMARK(BM_VmdBakeGene000OnGene)->Unit(benchmark::kMillisecond);

}  // namespace
