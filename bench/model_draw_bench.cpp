// Model drawing on the fixed-function path over the stand-in device (snapshots and call recording
// off): a 50,000-triangle skinned model with four weights per vertex beside a bare loop doing the
// same weighted sums over the same vertices, and the per-draw cost of a 200-frame static model.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/platform/d3d_device.h>
#include "tests/support/model_builder.h"

namespace {

constexpr int kMeshes = 3;
constexpr int kTrianglesPerMesh = 16667;  // 50,001 triangles in all

struct DrawBench {
  int skinned = -1, statics = -1;
  DrawBench() {
    D3DStandIn().Snapshots = false;
    D3DStandIn().Recording = false;
    SetGraphMode(640, 480, 32);
    SetUse3DFlag(1);
    InitLibrary();
    ModelBaseBuilder b;
    b.AddFrame(-1, {320, 240, 0});
    for (int i = 0; i < 6; ++i) b.AddFrame(0, {float(i), 0, 0}, {0.1f * float(i), 0.2f, 0});
    b.frames[0].bonesPerVertex = 4;
    b.frames[0].boneList = {0, 1, 2, 3, 4, 5};
    for (int i = 0; i < 6; ++i) {
      TestSkinBone bone;
      bone.frame = i + 1;
      b.skinBones.push_back(bone);
    }
    b.materials.resize(1);
    for (int m = 0; m < kMeshes; ++m) b.AddMesh(0, MV1_VERTEX_TYPE_SKIN_4BONE, kTrianglesPerMesh);
    skinned = CreateTestModel(b.Build());
    statics = CreateTestModel(RandomTreeBuilder(2024, 200, 400, 2).Build());
    MV1SetPosition(statics, {320, 240, 0});
    MV1DrawModel(skinned);
    MV1DrawModel(statics);
  }
  ~DrawBench() {
    EndLibrary();
    SetUse3DFlag(0);
  }
};

DrawBench& Bench() {
  static DrawBench b;
  return b;
}

int SkinnedVertexCount() {
  MV1Model* model = MV1GetModelChecked(Bench().skinned);
  int n = 0;
  for (int m = 0; m < kMeshes; ++m) n += model->Mesh[m].TriangleList[0].Base->VertexCount;
  return n;
}

void BM_DrawSkinnedModel50kFixed(benchmark::State& state) {
  const int h = Bench().skinned;
  for (auto _ : state) MV1DrawModel(h);
  state.SetItemsProcessed(int64_t(state.iterations()) * SkinnedVertexCount());
}
BENCHMARK(BM_DrawSkinnedModel50kFixed)->Unit(benchmark::kMillisecond);

// The same weighted sums of four bone matrices and the same transforms, over the same records,
// into a buffer of the same stride, without anything else of a draw.
void BM_BareSkinningLoop50k(benchmark::State& state) {
  MV1Model* model = MV1GetModelChecked(Bench().skinned);
  const MV1Frame& frame = model->Frame[0];
  std::vector<uint8_t> out(size_t(SkinnedVertexCount()) * 96);
  for (auto _ : state) {
    uint8_t* dst = out.data();
    for (int m = 0; m < kMeshes; ++m) {
      const MV1TriangleList* list = model->Mesh[m].TriangleList[0].Base;
      const Matrix3x4* bones[6];
      for (int i = 0; i < list->UseBoneCount; ++i) bones[i] = frame.UseSkinBoneMatrix[list->UseBone[i]];
      const auto* rec = reinterpret_cast<const MV1VertexSkin4*>(MV1TriangleListVertices(list));
      for (int v = 0; v < list->VertexCount; ++v, ++rec, dst += 96) {
        float b[12] = {};
        for (int k = 0; k < 4; ++k) {
          const float* m4 = &bones[rec->BoneSlot[k]]->m[0][0];
          for (int e = 0; e < 12; ++e) b[e] += m4[e] * rec->Weight[k];
        }
        float* o = reinterpret_cast<float*>(dst);
        const VECTOR& p = rec->Position;
        const VECTOR& n = rec->Normal;
        for (int r = 0; r < 3; ++r) {
          o[r] = b[4 * r] * p.x + b[4 * r + 1] * p.y + b[4 * r + 2] * p.z + b[4 * r + 3];
          o[3 + r] = b[4 * r] * n.x + b[4 * r + 1] * n.y + b[4 * r + 2] * n.z;
        }
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * SkinnedVertexCount());
}
BENCHMARK(BM_BareSkinningLoop50k)->Unit(benchmark::kMillisecond);

// Set-up and state traffic of a draw of a 200-frame, 400-mesh static model.
void BM_DrawStatic200Frames(benchmark::State& state) {
  const int h = Bench().statics;
  for (auto _ : state) MV1DrawModel(h);
}
BENCHMARK(BM_DrawStatic200Frames)->Unit(benchmark::kMicrosecond);

}  // namespace
