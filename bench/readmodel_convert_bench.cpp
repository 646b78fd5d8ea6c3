// Conversion of a large generated read model: 200,000 triangles (a quarter of the faces quads),
// 300 bones with 1 to 8 bones per position, one 300-key matrix animation per bone. Reports the
// peak of tracked memory during the conversion beside the finished base's size.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include "tests/support/readmodel_builder.cpp"

namespace {

constexpr int kBones = 300;
constexpr int kKeys = 300;

void BuildLargeReadModel(ReadModel* rm) {
  ReadModelBuilder b(rm);
  b.Names("bench.x", "bench");
  ReadModelFrame* root = b.Frame("root");
  std::vector<ReadModelFrame*> bones;
  for (int i = 0; i < kBones; ++i) bones.push_back(b.Frame(("bone" + std::to_string(i)).c_str(), root));
  // a grid of 160,000 faces: every fourth cell a quad, the others one triangle each side in turn
  const int cols = 400, rows = 400;
  const int cw = cols + 1;
  std::vector<VECTOR> pos;
  pos.reserve(static_cast<size_t>(cw) * (rows + 1));
  for (int y = 0; y <= rows; ++y)
    for (int x = 0; x <= cols; ++x)
      pos.push_back({static_cast<float>(x), std::sin(x * 0.05f) * std::cos(y * 0.05f), static_cast<float>(y)});
  ReadModelMesh* m = b.Mesh(root, pos);
  std::vector<FaceSpec> faces;
  faces.reserve(160000);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < cols; ++x) {
      int p = y * cw + x;
      FaceSpec f;
      int cell = y * cols + x;
      if (cell % 4 == 0) f.pos = {p, p + cw, p + cw + 1, p + 1};
      else if (cell % 2) f.pos = {p, p + cw, p + 1};
      else f.pos = {p + 1, p + cw, p + cw + 1};
      faces.push_back(std::move(f));
    }
  b.Faces(m, faces);
  b.Material(m, "skin");
  // position p has 1 + p % 8 bones, consecutive from the bone under its column
  std::vector<std::vector<std::pair<uint32_t, float>>> weights(kBones);
  for (int p = 0; p < static_cast<int>(pos.size()); ++p) {
    int n = 1 + p % 8;
    int first = (p % cw) * (kBones - 8) / cw;
    for (int k = 0; k < n; ++k) weights[first + k].push_back({static_cast<uint32_t>(p), 1.0f / n});
  }
  for (int i = 0; i < kBones; ++i) {
    MATRIX offset = MGetTranslate({-static_cast<float>(i), 0, 0});
    b.Weight(m, bones[i]->Index, weights[i], &offset);
  }
  ReadModelAnimSet* set = b.AnimSet("anim", kKeys - 1);
  std::vector<float> times(kKeys), keys;
  for (int k = 0; k < kKeys; ++k) times[k] = static_cast<float>(k);
  for (int i = 0; i < kBones; ++i) {
    ReadModelAnim* a = b.Anim(set, bones[i], kKeys - 1);
    keys.clear();
    for (int k = 0; k < kKeys; ++k) {
      MATRIX r;
      CreateRotationZMatrix(&r, 0.01f * k * (1 + i % 5));
      for (int row = 0; row < 4; ++row)
        for (int c = 0; c < 3; ++c) keys.push_back(row == 3 ? (c == 0 ? 0.1f * k : 0.0f) : r.m[row][c]);
    }
    b.Keys(a, READMODEL_KEY_MATRIX4X3, READMODEL_KIND_MATRIX4X3, times, keys);
  }
}

size_t BaseBytes(int handle) {
  const MV1ModelBase* base = MV1GetModelBaseCheckedNoInit(handle);
  constexpr size_t kHeader = (sizeof(MemBlockHeader) + 15) & ~size_t{15};
  auto size = [&](const void* p) { return p ? reinterpret_cast<const MemBlockHeader*>(static_cast<const uint8_t*>(p) - kHeader)->Size : 0; };
  size_t total = size(base) + size(base->VertexData);
  for (auto* c = static_cast<const ChunkListHeader*>(base->ChunkListHead); c; c = c->Next) total += size(c);
  return total;
}

void BM_ConvertLargeReadModel(benchmark::State& state) {
  UseDirect3DFlag = 1;
  InitModelSystem();
  size_t peak = 0, baseBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto rm = std::make_unique<ReadModel>();
    InitReadModel(rm.get());
    BuildLargeReadModel(rm.get());
    size_t before = MemLiveBytes();
    MemResetPeak();
    LogCaptureBegin();
    state.ResumeTiming();
    int handle = ConvertReadModelToModelBase(rm.get(), "bench");
    state.PauseTiming();
    LogCaptureEnd();
    peak = MemPeakBytes() - before;
    if (handle < 0) {
      state.SkipWithError("conversion failed");
      TerminateReadModel(rm.get());
      break;
    }
    baseBytes = BaseBytes(handle);
    MV1DeleteModelBase(handle);
    TerminateReadModel(rm.get());
    state.ResumeTiming();
  }
  state.counters["peak_MiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["peak_total_MiB"] = static_cast<double>(MemPeakBytes()) / (1 << 20);
  state.counters["base_MiB"] = static_cast<double>(baseBytes) / (1 << 20);
  MV1TerminateModelSystem();
  UseDirect3DFlag = 0;
}
BENCHMARK(BM_ConvertLargeReadModel)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
