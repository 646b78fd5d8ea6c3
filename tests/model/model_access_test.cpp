// Model API accessors: failure values, setters and their change bits, frame and mesh queries,
// and the semi-transparency rules and caches.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include <qzlib/image/baseimage.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include "tests/support/d3d_engine.h"
#include "tests/support/model_test.h"

namespace {

using ModelAccessTest = ModelTest;

bool Same(const COLOR_F& a, const COLOR_F& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool Same(const VECTOR& a, const VECTOR& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

const COLOR_F kBad{-1, -1, -1, -1};
const COLOR_F kHalf{1, 1, 1, 0.5f};

// The model's instance data and its base's meshes, to prove a failing call changed nothing.
std::vector<uint8_t> Snapshot(int handle) {
  MV1Model* m = MV1GetModelChecked(handle);
  const MV1ModelBase* b = m->BaseData;
  std::vector<uint8_t> out;
  auto add = [&](const void* p, size_t n) {
    auto* c = static_cast<const uint8_t*>(p);
    out.insert(out.end(), c, c + n);
  };
  add(m, sizeof(MV1Model));
  add(m->Frame, sizeof(MV1Frame) * b->FrameCount);
  add(m->Mesh, sizeof(MV1Mesh) * b->MeshCount);
  add(m->Material, sizeof(MV1Material) * b->MaterialCount);
  add(m->Texture, sizeof(MV1Texture) * b->TextureCount);
  add(m->ChangeDrawMaterialFlag, m->ChangeDrawMaterialFlagSize);
  add(b->Mesh, sizeof(MV1MeshBase) * b->MeshCount);
  return out;
}

TEST_F(ModelAccessTest, EveryAccessorFailsCleanly) {
  int m = CreateTestModel(ReferenceBaseBuilder().Build());
  ASSERT_NE(m, -1);
  MV1GetSemiTransState(m);
  // (handle, index) pairs: a bad handle with a good index, then each bad index.
  struct Call {
    const char* name;
    int count;  // the good index range; -1 for calls taking no index
    std::function<bool(int h, int i)> fails;
  };
  const COLOR_F c{0.5f, 0.5f, 0.5f, 0.5f};
  const std::vector<Call> calls = {
      {"SetVisible", -1, [&](int h, int) { return MV1SetVisible(h, 0) == -1; }},
      {"GetVisible", -1, [&](int h, int) { return MV1GetVisible(h) == -1; }},
      {"SetDifColorScale", -1, [&](int h, int) { return MV1SetDifColorScale(h, c) == -1; }},
      {"SetSpcColorScale", -1, [&](int h, int) { return MV1SetSpcColorScale(h, c) == -1; }},
      {"SetEmiColorScale", -1, [&](int h, int) { return MV1SetEmiColorScale(h, c) == -1; }},
      {"SetAmbColorScale", -1, [&](int h, int) { return MV1SetAmbColorScale(h, c) == -1; }},
      {"GetDifColorScale", -1, [&](int h, int) { return Same(MV1GetDifColorScale(h), kBad); }},
      {"GetSpcColorScale", -1, [&](int h, int) { return Same(MV1GetSpcColorScale(h), kBad); }},
      {"GetEmiColorScale", -1, [&](int h, int) { return Same(MV1GetEmiColorScale(h), kBad); }},
      {"GetAmbColorScale", -1, [&](int h, int) { return Same(MV1GetAmbColorScale(h), kBad); }},
      {"SetOpacityRate", -1, [&](int h, int) { return MV1SetOpacityRate(h, 0.5f) == -1; }},
      {"GetOpacityRate", -1, [&](int h, int) { return MV1GetOpacityRate(h) == -1.0f; }},
      {"SetUseZBuffer", -1, [&](int h, int) { return MV1SetUseZBuffer(h, 0) == -1; }},
      {"SetWriteZBuffer", -1, [&](int h, int) { return MV1SetWriteZBuffer(h, 0) == -1; }},
      {"GetSemiTransState", -1, [&](int h, int) { return MV1GetSemiTransState(h) == -1; }},
      {"GetMaterialNum", -1, [&](int h, int) { return MV1GetMaterialNum(h) == -1; }},
      {"GetTextureNum", -1, [&](int h, int) { return MV1GetTextureNum(h) == -1; }},
      {"GetFrameNum", -1, [&](int h, int) { return MV1GetFrameNum(h) == -1; }},
      {"GetMeshNum", -1, [&](int h, int) { return MV1GetMeshNum(h) == -1; }},
      {"SearchFrame", -1, [&](int h, int) { return MV1SearchFrame(h, "frame1") == -1; }},
      // Materials: 2.
      {"GetMaterialName", 2, [&](int h, int i) { return MV1GetMaterialName(h, i) == nullptr; }},
      {"GetMaterialDifColor", 2, [&](int h, int i) { return Same(MV1GetMaterialDifColor(h, i), kBad); }},
      {"GetMaterialSpcColor", 2, [&](int h, int i) { return Same(MV1GetMaterialSpcColor(h, i), kBad); }},
      {"GetMaterialEmiColor", 2, [&](int h, int i) { return Same(MV1GetMaterialEmiColor(h, i), kBad); }},
      {"GetMaterialAmbColor", 2, [&](int h, int i) { return Same(MV1GetMaterialAmbColor(h, i), kBad); }},
      {"GetMaterialSpcPower", 2, [&](int h, int i) { return MV1GetMaterialSpcPower(h, i) == -1.0f; }},
      {"GetMaterialDifMapTexture", 2, [&](int h, int i) { return MV1GetMaterialDifMapTexture(h, i) == -1; }},
      {"GetMaterialSpcMapTexture", 2, [&](int h, int i) { return MV1GetMaterialSpcMapTexture(h, i) == -1; }},
      {"GetMaterialNormalMapTexture", 2, [&](int h, int i) { return MV1GetMaterialNormalMapTexture(h, i) == -1; }},
      {"SetMaterialDifColor", 2, [&](int h, int i) { return MV1SetMaterialDifColor(h, i, c) == -1; }},
      {"SetMaterialSpcColor", 2, [&](int h, int i) { return MV1SetMaterialSpcColor(h, i, c) == -1; }},
      {"SetMaterialEmiColor", 2, [&](int h, int i) { return MV1SetMaterialEmiColor(h, i, c) == -1; }},
      {"SetMaterialAmbColor", 2, [&](int h, int i) { return MV1SetMaterialAmbColor(h, i, c) == -1; }},
      {"SetMaterialSpcPower", 2, [&](int h, int i) { return MV1SetMaterialSpcPower(h, i, 3) == -1; }},
      {"SetMaterialDrawBlendMode", 2, [&](int h, int i) { return MV1SetMaterialDrawBlendMode(h, i, 2) == -1; }},
      {"SetMaterialDrawBlendParam", 2, [&](int h, int i) { return MV1SetMaterialDrawBlendParam(h, i, 9) == -1; }},
      {"GetMaterialDrawBlendMode", 2, [&](int h, int i) { return MV1GetMaterialDrawBlendMode(h, i) == -1; }},
      {"GetMaterialDrawBlendParam", 2, [&](int h, int i) { return MV1GetMaterialDrawBlendParam(h, i) == -1; }},
      // Textures: 3.
      {"GetTextureName", 3, [&](int h, int i) { return MV1GetTextureName(h, i) == nullptr; }},
      {"SetTextureGraphHandle", 3, [&](int h, int i) { return MV1SetTextureGraphHandle(h, i, -1, 0) == -1; }},
      {"GetTextureGraphHandle", 3, [&](int h, int i) { return MV1GetTextureGraphHandle(h, i) == -1; }},
      {"SetTextureAddressMode", 3, [&](int h, int i) { return MV1SetTextureAddressMode(h, i, 3, 3) == -1; }},
      {"GetTextureAddressModeU", 3, [&](int h, int i) { return MV1GetTextureAddressModeU(h, i) == -1; }},
      {"GetTextureAddressModeV", 3, [&](int h, int i) { return MV1GetTextureAddressModeV(h, i) == -1; }},
      {"SetTextureSampleFilterMode", 3, [&](int h, int i) { return MV1SetTextureSampleFilterMode(h, i, 0) == -1; }},
      {"GetTextureSampleFilterMode", 3, [&](int h, int i) { return MV1GetTextureSampleFilterMode(h, i) == -1; }},
      // Frames: 8.
      {"GetFrameName", 8, [&](int h, int i) { return MV1GetFrameName(h, i) == nullptr; }},
      {"GetFrameParent", 8, [&](int h, int i) { return MV1GetFrameParent(h, i) == -1; }},
      {"GetFrameTriangleNum", 8, [&](int h, int i) { return MV1GetFrameTriangleNum(h, i) == -1; }},
      {"GetFrameMeshNum", 8, [&](int h, int i) { return MV1GetFrameMeshNum(h, i) == -1; }},
      {"GetFrameMesh", 8, [&](int h, int i) { return MV1GetFrameMesh(h, i, 0) == -1; }},
      {"SetFrameVisible", 8, [&](int h, int i) { return MV1SetFrameVisible(h, i, 0) == -1; }},
      {"GetFrameVisible", 8, [&](int h, int i) { return MV1GetFrameVisible(h, i) == -1; }},
      {"SetFrameDifColorScale", 8, [&](int h, int i) { return MV1SetFrameDifColorScale(h, i, c) == -1; }},
      {"SetFrameSpcColorScale", 8, [&](int h, int i) { return MV1SetFrameSpcColorScale(h, i, c) == -1; }},
      {"SetFrameEmiColorScale", 8, [&](int h, int i) { return MV1SetFrameEmiColorScale(h, i, c) == -1; }},
      {"SetFrameAmbColorScale", 8, [&](int h, int i) { return MV1SetFrameAmbColorScale(h, i, c) == -1; }},
      {"GetFrameDifColorScale", 8, [&](int h, int i) { return Same(MV1GetFrameDifColorScale(h, i), kBad); }},
      {"GetFrameSpcColorScale", 8, [&](int h, int i) { return Same(MV1GetFrameSpcColorScale(h, i), kBad); }},
      {"GetFrameEmiColorScale", 8, [&](int h, int i) { return Same(MV1GetFrameEmiColorScale(h, i), kBad); }},
      {"GetFrameAmbColorScale", 8, [&](int h, int i) { return Same(MV1GetFrameAmbColorScale(h, i), kBad); }},
      {"SetFrameOpacityRate", 8, [&](int h, int i) { return MV1SetFrameOpacityRate(h, i, 0.5f) == -1; }},
      {"GetFrameOpacityRate", 8, [&](int h, int i) { return MV1GetFrameOpacityRate(h, i) == -1.0f; }},
      {"GetFrameSemiTransState", 8, [&](int h, int i) { return MV1GetFrameSemiTransState(h, i) == -1; }},
      // Meshes: 8.
      {"GetMeshMaterial", 8, [&](int h, int i) { return MV1GetMeshMaterial(h, i) == -1; }},
      {"GetMeshTriangleNum", 8, [&](int h, int i) { return MV1GetMeshTriangleNum(h, i) == -1; }},
      {"SetMeshVisible", 8, [&](int h, int i) { return MV1SetMeshVisible(h, i, 0) == -1; }},
      {"GetMeshVisible", 8, [&](int h, int i) { return MV1GetMeshVisible(h, i) == -1; }},
      {"SetMeshDifColorScale", 8, [&](int h, int i) { return MV1SetMeshDifColorScale(h, i, c) == -1; }},
      {"SetMeshSpcColorScale", 8, [&](int h, int i) { return MV1SetMeshSpcColorScale(h, i, c) == -1; }},
      {"SetMeshEmiColorScale", 8, [&](int h, int i) { return MV1SetMeshEmiColorScale(h, i, c) == -1; }},
      {"SetMeshAmbColorScale", 8, [&](int h, int i) { return MV1SetMeshAmbColorScale(h, i, c) == -1; }},
      {"GetMeshDifColorScale", 8, [&](int h, int i) { return Same(MV1GetMeshDifColorScale(h, i), kBad); }},
      {"GetMeshSpcColorScale", 8, [&](int h, int i) { return Same(MV1GetMeshSpcColorScale(h, i), kBad); }},
      {"GetMeshEmiColorScale", 8, [&](int h, int i) { return Same(MV1GetMeshEmiColorScale(h, i), kBad); }},
      {"GetMeshAmbColorScale", 8, [&](int h, int i) { return Same(MV1GetMeshAmbColorScale(h, i), kBad); }},
      {"SetMeshOpacityRate", 8, [&](int h, int i) { return MV1SetMeshOpacityRate(h, i, 0.5f) == -1; }},
      {"GetMeshOpacityRate", 8, [&](int h, int i) { return MV1GetMeshOpacityRate(h, i) == -1.0f; }},
      {"SetMeshDrawBlendMode", 8, [&](int h, int i) { return MV1SetMeshDrawBlendMode(h, i, 2) == -1; }},
      {"SetMeshDrawBlendParam", 8, [&](int h, int i) { return MV1SetMeshDrawBlendParam(h, i, 2) == -1; }},
      {"GetMeshDrawBlendMode", 8, [&](int h, int i) { return MV1GetMeshDrawBlendMode(h, i) == -1; }},
      {"GetMeshDrawBlendParam", 8, [&](int h, int i) { return MV1GetMeshDrawBlendParam(h, i) == -1; }},
      {"SetMeshBackCulling", 8, [&](int h, int i) { return MV1SetMeshBackCulling(h, i, 0) == -1; }},
      {"GetMeshBackCulling", 8, [&](int h, int i) { return MV1GetMeshBackCulling(h, i) == -1; }},
      {"GetMeshMaxPosition", 8, [&](int h, int i) { return Same(MV1GetMeshMaxPosition(h, i), VECTOR{-1, -1, -1}); }},
      {"GetMeshMinPosition", 8, [&](int h, int i) { return Same(MV1GetMeshMinPosition(h, i), VECTOR{-1, -1, -1}); }},
      {"GetMeshUseVertDifColor", 8, [&](int h, int i) { return MV1GetMeshUseVertDifColor(h, i) == -1; }},
      {"GetMeshUseVertSpcColor", 8, [&](int h, int i) { return MV1GetMeshUseVertSpcColor(h, i) == -1; }},
      {"GetMeshSemiTransState", 8, [&](int h, int i) { return MV1GetMeshSemiTransState(h, i) == -1; }},
  };
  std::vector<uint8_t> before = Snapshot(m);
  for (const Call& call : calls) {
    SCOPED_TRACE(call.name);
    for (int h : {-1, 0, m + 1, m | MV1_MODEL_BASE_HANDLE_TAG}) EXPECT_TRUE(call.fails(h, 0)) << h;
    if (call.count >= 0) {
      for (int i : {-1, call.count, call.count + 1, 1 << 30}) EXPECT_TRUE(call.fails(m, i)) << i;
    }
    EXPECT_TRUE(Snapshot(m) == before);
  }
  // Frame calls that accept -1 refuse -2 and the count; children past the end give -1.
  EXPECT_EQ(MV1SearchFrameChild(m, -2, "frame1"), -1);
  EXPECT_EQ(MV1GetFrameChildNum(m, 8), -1);
  EXPECT_EQ(MV1GetFrameChild(m, -1, 2), -1);
  EXPECT_EQ(MV1GetFrameChild(m, 0, -1), -1);
  EXPECT_EQ(MV1GetFrameMesh(m, 6, 2), -1);
  EXPECT_EQ(MV1GetFrameMesh(m, 6, -1), -1);
  EXPECT_EQ(MV1SearchFrameChild(-1, -1, "frame0"), -1);
}

TEST_F(ModelAccessTest, FrameAndMeshQueries) {
  int m = CreateTestModel(ReferenceBaseBuilder().Build());
  EXPECT_EQ(MV1GetFrameNum(m), 8);
  EXPECT_EQ(MV1SearchFrame(m, "frame6"), 6);
  EXPECT_EQ(MV1SearchFrame(m, "nobody"), -2);
  EXPECT_EQ(MV1SearchFrameChild(m, 1, "frame6"), 6);
  EXPECT_EQ(MV1SearchFrameChild(m, 0, "frame6"), -2);  // a grandchild, not a child
  EXPECT_EQ(MV1SearchFrameChild(m, -1, "frame7"), 7);
  EXPECT_EQ(MV1GetFrameChildNum(m, -1), 2);
  EXPECT_EQ(MV1GetFrameChildNum(m, 0), 3);
  EXPECT_EQ(MV1GetFrameChild(m, 0, 2), 5);
  EXPECT_EQ(MV1GetFrameChild(m, -1, 1), 7);
  EXPECT_EQ(MV1GetFrameParent(m, 0), -2);
  EXPECT_EQ(MV1GetFrameParent(m, 6), 1);
  EXPECT_STREQ(MV1GetFrameName(m, 4), "frame4");
  EXPECT_EQ(MV1GetFrameMeshNum(m, 6), 2);
  EXPECT_EQ(MV1GetFrameMesh(m, 6, 1), 6);
  EXPECT_EQ(MV1GetFrameTriangleNum(m, 3), 2);
  EXPECT_EQ(MV1GetMeshTriangleNum(m, 2), 2);
  EXPECT_EQ(MV1GetMeshMaterial(m, 1), 1);
  EXPECT_EQ(MV1GetMaterialNum(m), 2);
  EXPECT_STREQ(MV1GetMaterialName(m, 1), "mat1");
  EXPECT_EQ(MV1GetMaterialDifMapTexture(m, 0), 0);
  EXPECT_EQ(MV1GetMaterialSpcMapTexture(m, 0), 1);
  EXPECT_EQ(MV1GetMaterialSpcMapTexture(m, 1), -1);
  EXPECT_EQ(MV1GetMaterialNormalMapTexture(m, 0), 2);
  EXPECT_EQ(MV1GetTextureNum(m), 3);
  EXPECT_STREQ(MV1GetTextureName(m, 2), "tex2.png");
  EXPECT_EQ(MV1GetTextureGraphHandle(m, 0), -1);
  EXPECT_EQ(MV1SetTextureAddressMode(m, 1, 3, 4), 0);
  EXPECT_EQ(MV1GetTextureAddressModeU(m, 1), 3);
  EXPECT_EQ(MV1GetTextureAddressModeV(m, 1), 4);
  EXPECT_EQ(MV1SetTextureSampleFilterMode(m, 1, 0), 0);
  EXPECT_EQ(MV1GetTextureSampleFilterMode(m, 1), 0);
  const MV1MeshBase& mb = MV1GetModelChecked(m)->BaseData->Mesh[3];
  EXPECT_TRUE(Same(MV1GetMeshMaxPosition(m, 3), mb.MaxPosition));
  EXPECT_TRUE(Same(MV1GetMeshMinPosition(m, 3), mb.MinPosition));
  EXPECT_EQ(MV1GetMeshUseVertDifColor(m, 0), 0);
  // Back culling lives in the base: a second model of it sees the change.
  int twin = MV1DuplicateModel(m);
  EXPECT_EQ(MV1SetMeshBackCulling(m, 2, 5), 0);
  EXPECT_EQ(MV1GetMeshBackCulling(twin, 2), 1);
  MV1SetMeshBackCulling(twin, 2, 0);
  EXPECT_EQ(MV1GetMeshBackCulling(m, 2), 0);
}

TEST_F(ModelAccessTest, ModelSettersAndTheirBits) {
  int m = CreateTestModel(ReferenceBaseBuilder().Build());
  MV1Model* model = MV1GetModelChecked(m);
  auto settle = [&]() {
    MV1RefreshDrawState(&model->Frame[0], nullptr);
    MV1GetSemiTransState(m);
    std::memset(model->ChangeDrawMaterialFlag, 0, model->ChangeDrawMaterialFlagSize);
  };
  settle();
  EXPECT_EQ(MV1SetVisible(m, 1), 0);  // unchanged
  EXPECT_EQ(model->ChangeDrawMaterialFlag[0], 0u);
  EXPECT_EQ(MV1SetVisible(m, 0), 0);
  EXPECT_EQ(MV1GetVisible(m), 0);
  EXPECT_EQ(model->ChangeDrawMaterialFlag[1], 0xFFFFFFFFu);
  const struct { float in, stored; } rates[] = {{1.5f, 1}, {-0.5f, 0}, {NAN, 0}, {0.25f, 0.25f}};
  for (auto r : rates) {
    settle();
    MV1SetOpacityRate(m, r.in);
    EXPECT_EQ(MV1GetOpacityRate(m), r.stored) << r.in;
  }
  settle();
  EXPECT_EQ(MV1SetOpacityRate(m, 0.25f), 0);  // unchanged: the cache stays
  EXPECT_EQ(model->SemiTransStateSetupFlag, 1);
  // Diffuse forgets the model's answer; specular, emissive and ambient mark only.
  EXPECT_EQ(MV1SetSpcColorScale(m, kHalf), 0);
  EXPECT_EQ(MV1SetEmiColorScale(m, kHalf), 0);
  EXPECT_EQ(MV1SetAmbColorScale(m, kHalf), 0);
  EXPECT_EQ(model->SemiTransStateSetupFlag, 1);
  EXPECT_NE(model->ChangeDrawMaterialFlag[0] & 1, 0u);
  EXPECT_TRUE(Same(MV1GetAmbColorScale(m), kHalf));
  EXPECT_EQ(MV1SetDifColorScale(m, kHalf), 0);
  EXPECT_EQ(model->SemiTransStateSetupFlag, 0);
  EXPECT_TRUE(Same(MV1GetDifColorScale(m), kHalf));
  EXPECT_EQ(MV1SetUseZBuffer(m, 0), 0);
  EXPECT_EQ(MV1SetWriteZBuffer(m, 0), 0);
  EXPECT_EQ(model->EnableZBuffer, 0);
  EXPECT_EQ(model->WriteZBuffer, 0);
}

// The setters that store and do nothing else: each changes its one field of the model's own
// data, which its getter reads back; the rest of the model, its base (materials included) and a
// second model of the same base stay as they were.
TEST_F(ModelAccessTest, StoreOnlySettersChangeTheirFieldAlone) {
  struct Setter {
    const char* Name;
    std::function<int(int m)> Set;
    std::function<bool(int m)> ReadsBack;
    std::function<std::pair<void*, size_t>(MV1Model*)> Field;
  };
  const Setter setters[] = {
      {"material 1 specular power", [](int m) { return MV1SetMaterialSpcPower(m, 1, 37.5f); },
       [](int m) { return MV1GetMaterialSpcPower(m, 1) == 37.5f; },
       [](MV1Model* x) { return std::make_pair<void*, size_t>(&x->Material[1].Power, sizeof(float)); }},
      {"material 0 specular power", [](int m) { return MV1SetMaterialSpcPower(m, 0, -2.0f); },
       [](int m) { return MV1GetMaterialSpcPower(m, 0) == -2.0f; },
       [](MV1Model* x) { return std::make_pair<void*, size_t>(&x->Material[0].Power, sizeof(float)); }},
      {"use z buffer", [](int m) { return MV1SetUseZBuffer(m, 0); },
       [](int m) { return MV1GetModelChecked(m)->EnableZBuffer == 0; },
       [](MV1Model* x) { return std::make_pair<void*, size_t>(&x->EnableZBuffer, sizeof(int)); }},
      {"write z buffer", [](int m) { return MV1SetWriteZBuffer(m, 7); },
       [](int m) { return MV1GetModelChecked(m)->WriteZBuffer == 7; },
       [](MV1Model* x) { return std::make_pair<void*, size_t>(&x->WriteZBuffer, sizeof(int)); }},
  };
  for (const Setter& st : setters) {
    SCOPED_TRACE(st.Name);
    const int m = CreateTestModel(ReferenceBaseBuilder().Build());
    const int twin = MV1DuplicateModel(m);
    MV1Model* model = MV1GetModelChecked(m);
    const MV1ModelBase* base = model->BaseData;
    MV1GetSemiTransState(m);
    const std::vector<uint8_t> before = Snapshot(m), twinBefore = Snapshot(twin);
    const std::vector<uint8_t> baseMaterials(reinterpret_cast<const uint8_t*>(base->Material),
                                             reinterpret_cast<const uint8_t*>(base->Material + base->MaterialCount));
    const auto field = st.Field(model);
    std::vector<uint8_t> old(static_cast<uint8_t*>(field.first), static_cast<uint8_t*>(field.first) + field.second);
    ASSERT_EQ(st.Set(m), 0);
    EXPECT_TRUE(st.ReadsBack(m));
    EXPECT_NE(std::memcmp(field.first, old.data(), field.second), 0);
    std::memcpy(field.first, old.data(), field.second);  // that field back: nothing else moved
    EXPECT_TRUE(Snapshot(m) == before);
    EXPECT_TRUE(Snapshot(twin) == twinBefore);
    EXPECT_EQ(std::memcmp(base->Material, baseMaterials.data(), baseMaterials.size()), 0);
    MV1DeleteModel(twin);
    MV1DeleteModel(m);
  }
}

// A frame with one mesh whose material has a diffuse map (texture 0) and a second model-level
// frame without meshes.
int SemiModel() {
  ModelBaseBuilder b;
  b.textures = {"t.png"};
  b.materials.push_back({"m", COLOR_F{1, 1, 1, 1}, 1, 0, 0});
  b.materials.push_back({"plain", COLOR_F{1, 1, 1, 1}, 0, 0, 0});
  b.AddFrame(-1);
  b.AddFrame(0);
  b.AddFrame(1);
  b.AddMesh(1, MV1_VERTEX_TYPE_RIGID, 1, {0, 0, 0}, 0);
  b.AddMesh(2, MV1_VERTEX_TYPE_RIGID, 1, {0, 0, 0}, 1);
  b.meshes[1].vertices[0].diffuse.a = 100;
  return CreateTestModel(b.Build());
}

TEST_F(ModelAccessTest, MeshSemiTransparencyRules) {
  struct Case {
    const char* name;
    std::function<void(int)> change;
    int mesh0, mesh1;
  };
  const Case cases[] = {
      {"opaque", [](int) {}, 0, 0},
      {"mesh blend mode", [](int m) { MV1SetMeshDrawBlendMode(m, 0, 2); }, 1, 0},
      {"material blend param", [](int m) { MV1SetMaterialDrawBlendParam(m, 0, 128); }, 1, 0},
      {"mesh param back to 255", [](int m) { MV1SetMaterialDrawBlendParam(m, 0, 128); MV1SetMeshDrawBlendParam(m, 0, 255); }, 0, 0},
      {"material alpha", [](int m) { MV1SetMaterialDifColor(m, 0, COLOR_F{1, 1, 1, 0.5f}); }, 1, 0},
      {"diffuse scale alpha", [](int m) { MV1SetMeshDifColorScale(m, 0, kHalf); }, 1, 0},
      {"frame diffuse scale alpha", [](int m) { MV1SetFrameDifColorScale(m, 0, kHalf); }, 1, 1},
      {"vertex colours without alpha", [](int m) { MV1SetMeshUseVertDifColor(m, 0, 1); MV1SetMaterialDifColor(m, 0, COLOR_F{1, 1, 1, 0.5f}); }, 0, 0},
      {"model opacity", [](int m) { MV1SetOpacityRate(m, 0.5f); }, 1, 1},
      {"frame opacity", [](int m) { MV1SetFrameOpacityRate(m, 1, 0.5f); }, 1, 1},
      {"specular scale only", [](int m) { MV1SetMeshSpcColorScale(m, 0, kHalf); }, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int m = SemiModel();
    c.change(m);
    EXPECT_EQ(MV1GetMeshSemiTransState(m, 0), c.mesh0);
    EXPECT_EQ(MV1GetMeshSemiTransState(m, 1), c.mesh1);
    EXPECT_EQ(MV1GetFrameSemiTransState(m, 1), c.mesh0 | c.mesh1);
    // Mesh 1 takes vertex colours only when asked; its vertex alpha then counts.
    MV1SetMeshUseVertDifColor(m, 1, 1);
    EXPECT_EQ(MV1GetMeshSemiTransState(m, 1), 1);
    EXPECT_EQ(MV1GetFrameSemiTransState(m, 0), 1);
    EXPECT_EQ(MV1GetSemiTransState(m), 1);
    MV1DeleteModel(m);
  }
}

TEST_F(ModelAccessTest, CachesFollowEveryChange) {
  int m = SemiModel();
  MV1Model* model = MV1GetModelChecked(m);
  EXPECT_EQ(MV1GetSemiTransState(m), 0);
  EXPECT_EQ(MV1GetMaterialDifMapTexture(m, 1), -1);  // "plain" has no diffuse map
  // A material colour set to its current value does nothing; a change reaches every answer.
  EXPECT_EQ(MV1SetMaterialDifColor(m, 0, COLOR_F{1, 1, 1, 1}), 0);
  EXPECT_EQ(model->SemiTransStateSetupFlag, 1);
  MV1SetMaterialDifColor(m, 0, COLOR_F{1, 1, 1, 0.25f});
  EXPECT_EQ(MV1GetSemiTransState(m), 1);
  MV1SetMaterialDifColor(m, 0, COLOR_F{1, 1, 1, 1});
  EXPECT_EQ(MV1GetSemiTransState(m), 0);
  // The stale-cache sequence: a draw-state refresh of the mesh alone clears the mesh's known byte
  // before the opacity change, which must still reach the frame's answer.
  EXPECT_EQ(MV1GetFrameSemiTransState(m, 0), 0);
  MV1SetMeshSpcColorScale(m, 0, kHalf);
  MV1RefreshDrawState(nullptr, &model->Mesh[0]);
  MV1SetMeshOpacityRate(m, 0, 0.5f);
  EXPECT_EQ(MV1GetFrameSemiTransState(m, 0), 1);
  // The same through a child frame with a mesh: frame 2 under frame 1 under frame 0.
  MV1SetMeshOpacityRate(m, 0, 1.0f);
  EXPECT_EQ(MV1GetFrameSemiTransState(m, 0), 0);
  MV1SetFrameSpcColorScale(m, 2, kHalf);
  MV1RefreshDrawState(&model->Frame[2], nullptr);
  MV1SetFrameOpacityRate(m, 2, 0.5f);
  EXPECT_EQ(MV1GetFrameSemiTransState(m, 0), 1);
  EXPECT_EQ(MV1GetSemiTransState(m), 1);
}

using ModelTextureAccessTest = D3DEngineTest;

TEST_F(ModelTextureAccessTest, UserGraphsAndTheirSemiTransparency) {
  int m = SemiModel();
  ASSERT_NE(m, -1);
  BASEIMAGE image;
  ASSERT_EQ(CreateXRGB8ColorBaseImage(8, 4, &image), 0);
  int graph = CreateGraphFromImageData(&image, nullptr, 1, 0, 1);
  ReleaseBaseImage(&image);
  ASSERT_NE(graph, -1);
  MV1Model* model = MV1GetModelChecked(m);
  EXPECT_EQ(MV1GetSemiTransState(m), 0);
  // A handle that is no live graph is refused and changes nothing.
  EXPECT_EQ(MV1SetTextureGraphHandle(m, 0, graph + 1, 1), -1);
  EXPECT_EQ(model->Texture[0].UseUserGraph, 0);
  EXPECT_EQ(model->SemiTransStateSetupFlag, 1);
  EXPECT_EQ(MV1SetTextureGraphHandle(m, 0, graph, 1), 0);
  EXPECT_EQ(MV1GetTextureGraphHandle(m, 0), graph);
  EXPECT_EQ(model->Texture[0].UserGraphWidth, 8);
  EXPECT_EQ(model->Texture[0].UserGraphHeight, 4);
  EXPECT_EQ(MV1GetSemiTransState(m), 1);  // the diffuse map's user graph is semi-transparent
  EXPECT_EQ(MV1SetTextureGraphHandle(m, 0, -1, 0), 0);
  EXPECT_EQ(MV1GetTextureGraphHandle(m, 0), -1);
  EXPECT_EQ(MV1GetSemiTransState(m), 0);
  MV1DeleteModel(m);
  DeleteGraph(graph);
}

}  // namespace
