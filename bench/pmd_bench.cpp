// Loading Gene.pmd (28,646 vertices, 224 bones, 6 IK chains, 178 morphs) with its two motions,
// and its parts: the model into the read model alone, and the baking of the largest Gene motion
// (gene_26_mortifying.vmd, 1,043 bone keys over 300 frames) against its skeleton. The files are
// read from the shared test data; a missing folder skips the benchmarks.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/base/memory.h"
#include "engine/file/file.h"
#include "engine/graphics/draw_state.h"
#include "engine/model/model.h"
#include "engine/model/model_handles.h"
#include "engine/modelimport/pmd/pmd_reader.h"
#include "engine/modelimport/readmodel.h"

namespace {

// The shared test data beside the source tree.
const std::string kData = [] {
  std::string src = __FILE__;
  return src.substr(0, src.rfind('/')) + "/../../shared/testdata/models/";
}();

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
  std::vector<uint8_t> gene = Read(kData + "pmd/Gene.pmd");
  if (gene.empty()) {
    state.SkipWithError("shared test data absent");
    return;
  }
  SetReadModelObserver(StopBeforeConversion, nullptr);
  for (auto _ : state)
    benchmark::DoNotOptimize(LoadPmdModel(gene.data(), gene.size(), "Gene.pmd", "Gene", folder.c_str()));
  SetReadModelObserver(nullptr, nullptr);
}

// End to end: the model, its motions Gene000.vmd and Gene001.vmd, and the conversion into a model
// base (with the textures the model loading layer loads).
void BM_PmdLoadGeneEndToEnd(benchmark::State& state) {
  std::vector<uint8_t> gene = Read(kData + "pmd/Gene.pmd");
  if (gene.empty()) {
    state.SkipWithError("shared test data absent");
    return;
  }
  UseDirect3DFlag = 1;
  InitModelSystem();
  const std::string folder = kData + "pmd";
  for (auto _ : state) {
    int base = LoadPmdModel(gene.data(), gene.size(), "Gene.pmd", "Gene", folder.c_str());
    if (base < 0) {
      state.SkipWithError("conversion failed");
      break;
    }
    MV1DeleteModelBase(base);
  }
  MV1TerminateModelSystem();
  UseDirect3DFlag = 0;
}
BENCHMARK(BM_PmdLoadGeneEndToEnd)->Unit(benchmark::kMillisecond);

// The model and its motions Gene000.vmd and Gene001.vmd (sampling and baking included), stopped
// before conversion.
void BM_PmdLoadGeneWithMotions(benchmark::State& state) { LoadGene(state, kData + "pmd"); }
BENCHMARK(BM_PmdLoadGeneWithMotions)->Unit(benchmark::kMillisecond);

// The model alone (a folder without motions): parsing and the read model.
void BM_PmdLoadGeneModelOnly(benchmark::State& state) { LoadGene(state, kData + "no-motions-here"); }
BENCHMARK(BM_PmdLoadGeneModelOnly)->Unit(benchmark::kMillisecond);

// One motion against Gene's skeleton: grouping, sampling, the IK bake and the morph keys.
void BakeMotion(benchmark::State& state, const std::string& motionPath) {
  std::vector<uint8_t> gene = Read(kData + "pmd/Gene.pmd");
  std::vector<uint8_t> motion = Read(motionPath);
  PmdFile file;
  if (gene.empty() || motion.empty() || ParsePmdFile(gene.data(), gene.size(), &file) != 0) {
    state.SkipWithError("shared test data absent");
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
    state.ResumeTiming();
    benchmark::DoNotOptimize(LoadVmdMotion(&rm, motion.data(), motion.size(), "Anim000", bones.data(),
                                           static_cast<int>(file.boneCount), list));
    state.PauseTiming();
    TerminateReadModel(&rm);
    state.ResumeTiming();
  }
}

void BM_VmdBakeMortifyingOnGene(benchmark::State& state) { BakeMotion(state, kData + "vmd/gene_26_mortifying.vmd"); }
BENCHMARK(BM_VmdBakeMortifyingOnGene)->Unit(benchmark::kMillisecond);

void BM_VmdBakeGene000OnGene(benchmark::State& state) { BakeMotion(state, kData + "pmd/Gene000.vmd"); }
BENCHMARK(BM_VmdBakeGene000OnGene)->Unit(benchmark::kMillisecond);

}  // namespace
