// Model device buffers: grouping and limits, creation parameters, every cell's layout read back
// by an independent decoder, failures of allocation, creation and lock, software mode, and the
// round trip through a device loss with textures and shaped models.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_texture.h>
#include "tests/support/d3d_engine.h"
#include "tests/support/model_builder.h"
#include "tests/support/model_files.h"

namespace {

MV1ModelBase* Base(int h) { return MV1GetModelBaseChecked(h); }

int CellBump(const MV1TriangleList* l) {
  const MV1MeshBase* m = l->Container;
  return m->Material && m->Material->NormalLayerCount > 0 ? 1 : 0;
}

float F(const uint8_t* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}

// Reads vertex i of a device buffer by the layouts of the cells, written from the rules, and
// compares it with the list's records, the mesh vertex and the frame's normal record (shaped
// positions and normals given for a model's dynamic buffer).
void ExpectDeviceVertex(const MV1TriangleList* list, const uint8_t* v, int i,
                        const MV1ShapeVertex* shaped = nullptr) {
  const MV1MeshBase* mesh = list->Container;
  const MV1FrameBase* frame = mesh->Container;
  const uint8_t* rec = MV1TriangleListVertices(list) + size_t(MV1TriangleListRecordSize(list)) * i;
  const MV1MeshVertex* mv = MV1MeshVertexAt(mesh, list->MeshVertexIndex[i]);
  const MV1MeshNormal& nr = frame->Normal[mv->NormalIndex];
  const int type = list->VertexType, bump = CellBump(list);
  // Record offsets of position, normal, weights and slots by type.
  const int recPos = type == 0 ? 0 : type == 1 ? 16 : 48, recNrm = type == 0 ? 16 : 32;
  const int weights = type == 0 ? 0 : type == 1 ? 4 : 8;
  auto expect3 = [&](const uint8_t* at, VECTOR want, const char* what) {
    EXPECT_EQ(F(at), want.x) << what << " vertex " << i;
    EXPECT_EQ(F(at + 4), want.y) << what << " vertex " << i;
    EXPECT_EQ(F(at + 8), want.z) << what << " vertex " << i;
  };
  VECTOR pos, nrm;
  std::memcpy(&pos, rec + recPos, 12);
  std::memcpy(&nrm, rec + recNrm, 12);
  if (shaped) {
    pos = shaped[list->MeshVertexIndex[i]].Position;
    nrm = shaped[list->MeshVertexIndex[i]].Normal;
  }
  size_t at = 0;
  expect3(v, pos, "position");
  at = 12;
  if (weights) {
    for (int k = 0; k < weights; ++k) {
      uint8_t slot = type == 1 ? rec[44 + k] : k < 4 ? rec[44 + k] : rec[60 + k - 4];
      EXPECT_EQ(v[at + k], uint8_t(slot * 3)) << "slot " << k;
    }
    at += weights;
    for (int k = 0; k < weights; ++k) EXPECT_EQ(F(v + at + 4 * k), F(rec + 4 * k)) << "weight " << k;
    at += 4 * weights;
  }
  if (bump) {
    expect3(v + at, nr.Tangent, "tangent");
    expect3(v + at + 12, nr.Binormal, "binormal");
    at += 24;
  }
  expect3(v + at, nrm, "normal");
  at += 12;
  EXPECT_EQ(std::memcmp(v + at, &mv->Diffuse, 4), 0);
  EXPECT_EQ(std::memcmp(v + at + 4, &mv->Specular, 4), 0);
  at += 8;
  const float* uv = MV1MeshVertexUV(const_cast<MV1MeshVertex*>(mv));
  for (int s = 0; s < mesh->UVSetCount; ++s, at += 16) {
    EXPECT_EQ(F(v + at), uv[2 * s]);
    EXPECT_EQ(F(v + at + 4), uv[2 * s + 1]);
    EXPECT_EQ(F(v + at + 8), 1.0f);
    EXPECT_EQ(F(v + at + 12), 1.0f);
  }
  if (type == 0 && !bump) {
    for (int k = 0; k < 32; ++k, ++at) EXPECT_EQ(v[at], 0) << "extra sets";
  }
}

// Every list with a buffer record: its bytes read back; returns the lists checked.
int ExpectBaseBuffers(MV1ModelBase* base) {
  int checked = 0;
  for (int i = 0; i < base->TriangleListCount; ++i) {
    const MV1TriangleList* list = &base->TriangleList[i];
    if (!list->VertexBuffer) continue;
    const MV1VertexBuffer* rec = list->VertexBuffer;
    if (!rec->VertexBuffer) {
      ADD_FAILURE() << "list " << i << " names a record without buffers";
      continue;
    }
    uint32_t fvf;
    int stride;
    EXPECT_EQ(MV1VertexBufferCellLayout(list->VertexType, CellBump(list), list->Container->UVSetCount,
                                        &fvf, &stride),
              1);
    EXPECT_EQ(rec->VertexBuffer->Format(), fvf);
    EXPECT_EQ(rec->VertexBuffer->Usage(), 8u);
    EXPECT_EQ(rec->VertexBuffer->Pool(), 1u);
    EXPECT_EQ(rec->IndexBuffer->Format(), 101u);
    EXPECT_EQ(rec->IndexBuffer->Usage(), 8u);
    EXPECT_EQ(rec->IndexBuffer->Pool(), 1u);
    EXPECT_EQ(rec->VertexBuffer->Size(), uint32_t(rec->VertexCount * stride));
    EXPECT_EQ(rec->IndexBuffer->Size(), uint32_t(rec->IndexCount * 2));
    const uint8_t* vb = rec->VertexBuffer->Bytes() + size_t(list->VertexBufferStartVertex) * stride;
    for (int v = 0; v < list->VertexCount; ++v) ExpectDeviceVertex(list, vb + size_t(v) * stride, v);
    EXPECT_EQ(std::memcmp(rec->IndexBuffer->Bytes() + 2 * size_t(list->VertexBufferStartIndex),
                          list->Index, 2 * size_t(list->IndexCount)),
              0);
    ++checked;
  }
  return checked;
}

// A base with a mesh per cell kind: type 0 with 0 to 8 UV sets, with and without a normal map,
// types 1, 2 and 3.
ModelBaseBuilder CellsBuilder() {
  ModelBaseBuilder b;
  b.materials.push_back({"plain", COLOR_F{1, 1, 1, 1}, 0, 0, 0});
  b.materials.push_back({"bumped", COLOR_F{1, 1, 1, 1}, 1, 0, 1});
  b.textures = {"t.png"};
  b.AddFrame(-1);
  b.AddFrame(0);
  b.frames[1].bonesPerVertex = 8;
  b.frames[1].boneList = {0, 1, 2};
  b.skinBones.resize(3);
  for (int uv = 0; uv <= 8; ++uv) {
    b.meshes[b.AddMesh(0, 0, 2, {float(uv), 0, 0}, 0)].uvSets = uv;
  }
  b.meshes[b.AddMesh(0, 0, 2, {0, 1, 0}, 1)].uvSets = 2;
  for (int type : {1, 2, 3})
    for (int mat : {0, 1}) b.AddMesh(1, type, 2, {float(type), 2, 0}, mat);
  return b;
}

class ModelBuffersTest : public D3DEngineTest {
 protected:
  void TearDown() override {
    UseShaderFlag = 0;
    D3DEngineTest::TearDown();
  }
};

TEST_F(ModelBuffersTest, CellLayoutsFormatsAndStrides) {
  uint32_t fvf;
  int stride;
  EXPECT_EQ(MV1VertexBufferCellLayout(0, 0, 0, &fvf, &stride), 1);
  EXPECT_EQ(fvf, 0x000A02D2u);
  EXPECT_EQ(stride, 64);
  EXPECT_EQ(MV1VertexBufferCellLayout(0, 0, 6, &fvf, &stride), 1);
  EXPECT_EQ(fvf, 0xAAAA08D2u);
  EXPECT_EQ(stride, 160);
  EXPECT_EQ(D3DFvfVertexSize(fvf), 160u);
  EXPECT_EQ(MV1VertexBufferCellLayout(0, 0, 7, &fvf, &stride), 0);
  EXPECT_EQ(MV1VertexBufferCellLayout(0, 0, 8, &fvf, &stride), 0);
  for (int uv = 0; uv <= 6; ++uv) {
    MV1VertexBufferCellLayout(0, 0, uv, &fvf, &stride);
    EXPECT_EQ(D3DFvfVertexSize(fvf), uint32_t(stride)) << uv;
  }
  EXPECT_EQ(MV1VertexBufferCellLayout(1, 0, 1, &fvf, &stride), 0);  // shaders off
  UseShaderFlag = 1;
  const int strides[3][2] = {{80, 72}, {68, 92}, {88, 112}};  // one UV set
  for (int t = 0; t < 3; ++t)
    for (int b = 0; b < 2; ++b) {
      EXPECT_EQ(MV1VertexBufferCellLayout(t, b, 1, &fvf, &stride), 1);
      EXPECT_EQ(stride, strides[t][b]) << t << b;
      if (t || b) { EXPECT_EQ(fvf, 0u); }
    }
  EXPECT_EQ(MV1VertexBufferCellLayout(3, 0, 1, &fvf, &stride), 0);
}

TEST_F(ModelBuffersTest, EveryBuiltCellReadsBackFromItsRecordsAndVertices) {
  for (int shaders : {0, 1}) {
    SCOPED_TRACE(shaders);
    UseShaderFlag = shaders;
    long buffers = D3DLiveBufferCount();
    int h = CellsBuilder().Build();
    MV1ModelBase* base = Base(h);
    ASSERT_NE(base, nullptr);
    ASSERT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);
    EXPECT_EQ(base->VertexBuffersBuilt, 1);
    // Without shaders: type 0 without normal map and 0 to 6 UV sets (7 lists); with: also the
    // normal-mapped type 0 and types 1 and 2 in both kinds (5 more); never type 3 or 7-8 UV sets.
    EXPECT_EQ(ExpectBaseBuffers(base), shaders ? 12 : 7);
    for (int i = 0; i < base->TriangleListCount; ++i) {
      const MV1TriangleList* l = &base->TriangleList[i];
      if (l->VertexType == 3 || l->Container->UVSetCount > 6) { EXPECT_EQ(l->VertexBuffer, nullptr); }
    }
    const long built = D3DLiveBufferCount();
    EXPECT_EQ(built - buffers, 2 * (shaders ? 12 : 7));  // one record per cell here
    EXPECT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);      // a second build does nothing
    EXPECT_EQ(D3DLiveBufferCount(), built);
    EXPECT_EQ(MV1TerminateModelBaseVertexBuffer(h), 0);
    EXPECT_EQ(D3DLiveBufferCount(), buffers);
    EXPECT_EQ(base->VertexBuffersBuilt, 0);
    EXPECT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);  // rebuilt after a terminate
    EXPECT_EQ(D3DLiveBufferCount(), built);
    MV1DeleteModelBase(h);
    EXPECT_EQ(D3DLiveBufferCount(), buffers);
  }
}

TEST_F(ModelBuffersTest, RecordsCloseAtTheirLimits) {
  // Ten lists of 50,001 vertices of one kind: the record closes after the eighth (400,008
  // vertices), the last two share a second record.
  ModelBaseBuilder b;
  b.materials.push_back({"m", COLOR_F{1, 1, 1, 1}, 0, 0, 0});
  b.AddFrame(-1);
  for (int i = 0; i < 10; ++i) b.AddMesh(0, 0, 16667);
  int h = b.Build();
  MV1ModelBase* base = Base(h);
  ASSERT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);
  EXPECT_EQ(base->VertexBufferCount[0][0][1], 2);
  MV1VertexBuffer* first = base->VertexBufferFirst[0][0][1];
  ASSERT_NE(first, nullptr);
  ASSERT_NE(first->Next, nullptr);
  EXPECT_EQ(first->Next->Next, nullptr);
  EXPECT_EQ(first->VertexCount, 8 * 50001);
  EXPECT_EQ(first->Next->VertexCount, 2 * 50001);
  for (int i = 0; i < 10; ++i) {
    const MV1TriangleList* l = &base->TriangleList[i];
    EXPECT_EQ(l->VertexBuffer, i < 8 ? first : first->Next);
    EXPECT_EQ(l->VertexBufferStartVertex, (i % 8) * 50001);
    EXPECT_EQ(l->VertexBufferStartIndex, (i % 8) * 50001);
  }
  EXPECT_EQ(ExpectBaseBuffers(base), 10);
  MV1DeleteModelBase(h);
}

TEST_F(ModelBuffersTest, BadHandlesAndSoftwareMode) {
  int h = CellsBuilder().Build();
  const int bad[] = {h + 1, (h & MV1_HANDLE_INDEX_MASK) | MV1_MODEL_HANDLE_TAG, h | 0x1FF00, -1};
  for (int b : bad) {
    EXPECT_EQ(MV1SetupModelBaseVertexBuffer(b), -1) << b;
    EXPECT_EQ(MV1TerminateModelBaseVertexBuffer(b), -1) << b;
    EXPECT_EQ(MV1ReleaseModelDeviceObjects(b), -1) << b;
  }
  // In software mode every operation returns 0 at once and creates nothing.
  long buffers = D3DLiveBufferCount();
  UseDirect3DFlag = 0;
  for (int b : bad) {
    EXPECT_EQ(MV1SetupModelBaseVertexBuffer(b), 0);
    EXPECT_EQ(MV1TerminateModelBaseVertexBuffer(b), 0);
    EXPECT_EQ(MV1ReleaseModelDeviceObjects(b), 0);
    EXPECT_EQ(MV1SetupModelVertexBuffer(b), 0);
  }
  EXPECT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);
  EXPECT_EQ(MV1SetupAllModelBaseVertexBuffers(), 0);
  EXPECT_EQ(D3DLiveBufferCount(), buffers);
  EXPECT_EQ(Base(h)->VertexBuffersBuilt, 0);
  UseDirect3DFlag = 1;
  MV1DeleteModelBase(h);
}

// Checks a build that may have failed part way: every record before the first without buffers
// has them, every list of a record without buffers is on the memory path, and the lists that
// have buffers read back correctly.
void ExpectPartialBuild(MV1ModelBase* base) {
  EXPECT_EQ(base->VertexBuffersBuilt, 1);
  ExpectBaseBuffers(base);
}

TEST_F(ModelBuffersTest, CreationLockAndAllocationFailuresLeaveListsOnTheMemoryPath) {
  UseShaderFlag = 1;
  int h = CellsBuilder().Build();
  MV1ModelBase* base = Base(h);
  const long buffers = D3DLiveBufferCount();
  // Creation and lock failures at every point.
  for (int lock = 0; lock < 2; ++lock) {
    for (long k = 1;; ++k) {
      SCOPED_TRACE(k);
      if (lock) D3DStandIn().FailLockAt = k;
      else D3DStandIn().FailCreationAt = k;
      ASSERT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);
      bool fired = lock ? D3DStandIn().FailLockAt == 0 : D3DStandIn().FailCreationAt == 0;
      D3DStandIn().FailLockAt = D3DStandIn().FailCreationAt = 0;
      ExpectPartialBuild(base);
      int withBuffers = 0;
      for (int i = 0; i < base->TriangleListCount; ++i) withBuffers += base->TriangleList[i].VertexBuffer != nullptr;
      if (!fired) {
        EXPECT_EQ(withBuffers, 12);
        MV1TerminateModelBaseVertexBuffer(h);
        break;
      }
      EXPECT_LT(withBuffers, 12);
      EXPECT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);  // not retried until terminated
      MV1TerminateModelBaseVertexBuffer(h);
      EXPECT_EQ(D3DLiveBufferCount(), buffers);
      ASSERT_LT(k, 100);
    }
  }
  int failures = 0;
  ForEachAllocationFailureTolerant(
      [] {},
      [&] {
        EXPECT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);
        ExpectPartialBuild(base);
        return false;
      },
      [&] {
        MV1TerminateModelBaseVertexBuffer(h);
        EXPECT_EQ(D3DLiveBufferCount(), buffers);
      },
      &failures);
  MV1DeleteModelBase(h);
}

TEST_F(ModelBuffersTest, DeviceLossKeepsHandlesBuffersAndTexturesAsTheyWere) {
  char dir[1024];
  ASSERT_EQ(FileGetCurrentDir(dir, sizeof(dir)), 0);
  const std::string d = dir;
  ASSERT_TRUE(WriteEngineFile(d + "\\c.bgra", BgraFile(3, 2, {0xFF102030u, 0x80405060u, 0xFF708090u,
                                                             0xFFA0B0C0u, 0x00D0E0F0u, 0xFF000000u})));
  ASSERT_TRUE(WriteEngineFile(d + "\\h.bgra", BgraFile(2, 2, {0xFF000000u, 0xFF400000u, 0xFFFF0000u,
                                                             0xFF800000u})));
  int h = ReferenceBaseBuilder().Build();
  MV1ModelBase* base = Base(h);
  ASSERT_NE(base, nullptr);
  // Textures loaded as the readers load them: colour with alpha pixels, a height map.
  for (int t = 0; t < base->TextureCount; ++t) {
    MV1TextureBase* tex = &base->Texture[t];
    std::string c = d + (t == 1 ? "\\h.bgra" : "\\c.bgra"), a = d + "\\c.bgra";
    tex->BumpMap = t == 1;
    tex->BumpScale = 0.5f;
    ASSERT_EQ(MV1LoadTexture(&tex->ColorImage, &tex->ColorImageSize, &tex->AlphaImage,
                             &tex->AlphaImageSize, &tex->GraphHandle, &tex->SemiTransparent,
                             nullptr, nullptr, c.c_str(), t == 2 ? a.c_str() : nullptr, dir,
                             tex->BumpMap, tex->BumpScale),
              0);
  }
  ASSERT_EQ(MV1SetupModelBaseVertexBuffer(h), 0);
  int models[2];
  for (int& m : models) {
    m = MV1AddModelHandle();
    ASSERT_EQ(MV1CreateModelFromBase(m, h), 0);
  }
  MV1Model* model = MV1GetModelChecked(models[0]);
  for (int f = 0; f < base->FrameCount; ++f)
    for (int s = 0; s < base->Frame[f].ShapeCount; ++s) model->Frame[f].Shape[s].Rate = 0.5f + s;
  ASSERT_EQ(MV1SetupModelVertexBuffer(models[0]), 0);
  ASSERT_EQ(MV1SetupModelVertexBuffer(models[1]), 0);
  // The shaped model's dynamic buffers hold the shaped vertices.
  int dynamic = 0;
  for (int i = 0; i < base->TriangleListCount; ++i) {
    MV1ModelTriangleList* l = &model->TriangleList[i];
    auto* vb = static_cast<D3DVertexBuffer*>(l->VertexBuffer);
    if (!vb) continue;
    ++dynamic;
    EXPECT_EQ(vb->Usage(), 0x208u);
    EXPECT_EQ(vb->Pool(), 0u);
    uint32_t fvf;
    int stride;
    MV1VertexBufferCellLayout(l->Base->VertexType, CellBump(l->Base), l->Base->Container->UVSetCount, &fvf, &stride);
    for (int v = 0; v < l->Base->VertexCount; ++v)
      ExpectDeviceVertex(l->Base, vb->Bytes() + size_t(v) * stride, v, l->Container->ShapeVertex);
    // A weight of 1.5 moved the first shaped vertex up by 0.75 over the unshaped one.
    const MV1MeshVertex* mv = MV1MeshVertexAt(l->Base->Container, l->Base->MeshVertexIndex[0]);
    EXPECT_EQ(l->Container->ShapeVertex[0].Position.y,
              MV1FramePositionAt(l->Base->Container->Container, mv->PositionIndex)->Position.y + 0.25f);
  }
  EXPECT_EQ(dynamic, 1);  // the free-bone mesh's list has no device buffer
  const auto baseBytes = DeviceBufferBytes(base);
  const auto dynBytes = ModelDynamicBufferBytes(model);
  const auto pixels = TextureGraphPixels(base);
  const long buffers = D3DLiveBufferCount();

  D3DDevice::SimulateDeviceLoss();
  ASSERT_NE(Dev(), nullptr);
  EXPECT_EQ(MV1GetModelBaseChecked(h), base);
  EXPECT_EQ(MV1GetModelChecked(models[0]), model);
  EXPECT_EQ(DeviceBufferBytes(base), baseBytes);
  EXPECT_EQ(TextureGraphPixels(base), pixels);
  EXPECT_TRUE(ModelDynamicBufferBytes(model).empty());  // released with the device
  ASSERT_EQ(MV1SetupModelVertexBuffer(models[0]), 0);
  EXPECT_EQ(ModelDynamicBufferBytes(model), dynBytes);
  ASSERT_EQ(MV1SetupModelVertexBuffer(models[1]), 0);
  EXPECT_EQ(D3DLiveBufferCount(), buffers);
  ExpectBaseBuffers(base);
  // A dynamic buffer that cannot be made or locked leaves its list without one.
  MV1ReleaseModelDeviceObjects(models[0]);
  D3DStandIn().FailCreationAt = 1;
  ASSERT_EQ(MV1SetupModelVertexBuffer(models[0]), 0);
  EXPECT_TRUE(ModelDynamicBufferBytes(model).empty());
  D3DStandIn().FailLockAt = 1;
  ASSERT_EQ(MV1SetupModelVertexBuffer(models[0]), 0);
  EXPECT_TRUE(ModelDynamicBufferBytes(model).empty());
  EXPECT_EQ(D3DLiveBufferCount(), buffers - 1);
  D3DStandIn().FailCreationAt = D3DStandIn().FailLockAt = 0;
  ASSERT_EQ(MV1SetupModelVertexBuffer(models[0]), 0);
  EXPECT_EQ(ModelDynamicBufferBytes(model), dynBytes);
  for (int m : models) MV1DeleteModel(m);
}

}  // namespace
