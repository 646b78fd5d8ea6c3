// Model drawing over the recording stand-in: fixed-function formats and vertices, software
// skinning against a double-precision reference, stages per material kind, the toon lighting
// against a reference written from the rules, the outline, draw calls and caching, the shader
// switch, morphs and allocation failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/light.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_texture.h>
#include "tests/support/d3d_engine.h"
#include "tests/support/model_builder.h"

namespace {

constexpr VECTOR kCentre = {320, 240, 0};

float F(const std::vector<uint8_t>& b, size_t at) {
  float v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
uint32_t U(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

class ModelDrawTest : public D3DEngineTest {
 protected:
  void TearDown() override {
    UseShaderFlag = 0;
    ShaderKey.FogEnable = 0;
    D3DEngineTest::TearDown();
  }
  MV1Model* Model(int h) { return MV1GetModelChecked(h); }
  // A base of one frame at the view's centre with one mesh per entry of `types`, then a model.
  int OneFrameModel(std::vector<int> types, int uvSets = 1, int triangles = 2) {
    ModelBaseBuilder b;
    b.AddFrame(-1, kCentre);
    b.materials.resize(1);
    for (int t : types) b.meshes[b.AddMesh(0, t, triangles)].uvSets = uvSets;
    return CreateTestModel(b.Build());
  }
  std::vector<const D3DDrawSnapshot*> DrawsOf(uint32_t fvf) {
    std::vector<const D3DDrawSnapshot*> out;
    for (const auto& d : Dev()->Draws())
      if (d.Fvf == fvf) out.push_back(&d);
    return out;
  }
};

// A skinned frame at the centre: 6 bones moved by seeded transforms, with lists of the given type.
ModelBaseBuilder SkinnedBuilder(int type, int bonesPerVertex, uint32_t seed) {
  ModelBaseBuilder b;
  b.AddFrame(-1, kCentre);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-0.5f, 0.5f);
  for (int i = 0; i < 6; ++i) b.AddFrame(0, {u(rng) * 4, u(rng) * 4, u(rng)}, {u(rng), u(rng), u(rng)});
  b.frames[0].bonesPerVertex = bonesPerVertex;
  b.frames[0].boneList = {0, 1, 2, 3, 4, 5};
  for (int i = 0; i < 6; ++i) {
    TestSkinBone bone;
    bone.frame = i + 1;
    bone.offset.m[0][3] = u(rng);
    b.skinBones.push_back(bone);
  }
  b.materials.resize(1);
  const int m = b.AddMesh(0, type, 8);
  for (size_t i = 0; i < b.meshes[m].vertices.size(); ++i) {
    TestVertex& v = b.meshes[m].vertices[i];
    v.normal = {u(rng), u(rng), 1};
    v.bones.clear();
    for (int k = 0; k < bonesPerVertex; ++k) v.bones.push_back({int((i + k) % 6), 0.0f});
    float rest = 1.0f;
    for (int k = 0; k + 1 < bonesPerVertex; ++k) {
      float w = (i % 5 == 0 && k == 1) ? 0.0f : rest * (0.25f + (u(rng) + 0.5f) * 0.5f);
      v.bones[k].weight = w;
      rest -= w;
    }
    v.bones[bonesPerVertex - 1].weight = rest;
    if (i % 7 == 3) {  // a first weight of exactly 1 ignores the others
      v.bones[0].weight = 1.0f;
      for (int k = 1; k < bonesPerVertex; ++k) v.bones[k].weight = 0.5f;
    }
  }
  return b;
}

// Double-precision skinning of list vertex i, written from the rules.
void ReferenceSkin(const MV1Frame* frame, const MV1TriangleList* list, int i, double pos[3],
                   double nrm[3]) {
  const uint8_t* rec = MV1TriangleListVertices(list) + size_t(MV1TriangleListRecordSize(list)) * i;
  const int type = list->VertexType;
  std::vector<std::pair<const Matrix3x4*, double>> bones;
  auto boneAt = [&](int frameListIndex) -> const Matrix3x4* {
    static const Matrix3x4 id = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
    if (frameListIndex < 0 || frameListIndex >= frame->Base->UseSkinBoneCount) return &id;
    return frame->UseSkinBoneMatrix[frameListIndex];
  };
  float p[3], n[3];
  if (type == 3) {
    std::memcpy(p, rec, 12);
    std::memcpy(n, rec + 16, 12);
    auto* pairs = reinterpret_cast<const MV1BoneWeightPair*>(rec + 32);
    for (int k = 0; k < list->BonesPerVertex && pairs[k].Index != -1; ++k)
      bones.push_back({boneAt(pairs[k].Index), pairs[k].Weight});
  } else {
    const int count = type == 1 ? 4 : 8;
    const float* w = reinterpret_cast<const float*>(rec);
    std::memcpy(p, rec + (type == 1 ? 16 : 48), 12);
    std::memcpy(n, rec + 32, 12);
    for (int k = 0; k < count; ++k) {
      const int slot = k < 4 ? rec[44 + k] : rec[60 + k - 4];
      bones.push_back({slot < list->UseBoneCount ? boneAt(list->UseBone[slot]) : boneAt(-1), w[k]});
    }
  }
  double m[12] = {};
  if (bones[0].second == 1.0) bones.resize(1);
  for (auto& [b, w] : bones)
    for (int e = 0; e < 12; ++e) m[e] += w * (&b->m[0][0])[e];
  for (int r = 0; r < 3; ++r) {
    pos[r] = m[4 * r] * p[0] + m[4 * r + 1] * p[1] + m[4 * r + 2] * p[2] + m[4 * r + 3];
    nrm[r] = m[4 * r] * n[0] + m[4 * r + 1] * n[1] + m[4 * r + 2] * n[2];
  }
}

TEST_F(ModelDrawTest, FixedPathFormatsStridesAndRigidVertices) {
  // UV-set count -> format; 7 and 8 sets are drawn with their first six.
  const uint32_t kFvf[9] = {0x000A02D2, 0x002A03D2, 0x00AA04D2, 0x02AA05D2, 0x0AAA06D2,
                            0x2AAA07D2, 0xAAAA08D2, 0xAAAA08D2, 0xAAAA08D2};
  for (int uv = 0; uv <= 8; ++uv) {
    SCOPED_TRACE(uv);
    int h = OneFrameModel({0}, uv);
    MV1Model* model = Model(h);
    Dev()->ClearRecord();
    ASSERT_EQ(MV1DrawModel(h), 0);
    ASSERT_EQ(Dev()->Draws().size(), 1u);
    const D3DDrawSnapshot& d = Dev()->Draws()[0];
    const int sets = uv > 6 ? 6 : uv;
    EXPECT_EQ(d.Method, D3DMethod::DrawIndexedPrimitiveUP);
    EXPECT_EQ(d.Fvf, kFvf[uv]);
    EXPECT_EQ(d.Stride, uint32_t((sets + 4) * 16));
    EXPECT_EQ(D3DFvfVertexSize(d.Fvf), d.Stride);
    MATRIX world;
    Matrix3x4ToMatrix(&world, &model->Frame[0].WorldMatrix);
    EXPECT_EQ(std::memcmp(&d.World, &world, sizeof world), 0);
    EXPECT_EQ(DeviceState.StreamSource, nullptr);
    EXPECT_EQ(DeviceState.IndexBuffer, nullptr);
    const MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
    const MV1MeshBase* mb = list->Container;
    for (int i = 0; i < list->VertexCount; ++i) {
      const size_t at = size_t(d.Stride) * i;
      auto* r = reinterpret_cast<const MV1VertexRigid*>(MV1TriangleListVertices(list) + 32 * i);
      EXPECT_EQ(F(d.Vertices, at), r->Position.x);
      EXPECT_EQ(F(d.Vertices, at + 20), r->Normal.z);
      MV1MeshVertex* mv = MV1MeshVertexAt(mb, int(list->MeshVertexIndex[i]));
      EXPECT_EQ(U(d.Vertices, at + 24), 0xFFFFFFFFu);
      for (int s = 0; s < sets + 2; ++s) {
        const float wantU = s < sets ? MV1MeshVertexUV(mv)[2 * s] : 0.0f;
        EXPECT_EQ(F(d.Vertices, at + 32 + 16 * s), wantU) << "set " << s;
        EXPECT_EQ(F(d.Vertices, at + 32 + 16 * s + 8), 1.0f);
        EXPECT_EQ(F(d.Vertices, at + 32 + 16 * s + 12), 1.0f);
      }
    }
    MV1DeleteModel(h);
  }
}

TEST_F(ModelDrawTest, SoftwareSkinningMatchesDoubleReference) {
  for (auto [type, bones] : {std::pair{1, 4}, std::pair{2, 8}, std::pair{3, 5}}) {
    SCOPED_TRACE(type);
    ModelBaseBuilder b = SkinnedBuilder(type, bones, 40u + uint32_t(type));
    b.AddMesh(0, 0, 1);  // a rigid list between skinned ones
    b.meshes.push_back(b.meshes[0]);
    const int h = CreateTestModel(b.Build());
    MV1Model* model = Model(h);
    Dev()->ClearRecord();
    ASSERT_EQ(MV1DrawModel(h), 0);
    ASSERT_EQ(Dev()->Draws().size(), 3u);
    // Identity world once, the rigid list's world, the identity again.
    int worldSends = 0;
    for (const auto& c : Dev()->Calls())
      if (c.Method == D3DMethod::SetTransform && c.Args[0] == D3DTS_WORLD) ++worldSends;
    EXPECT_EQ(worldSends, 3);
    const MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
    const D3DDrawSnapshot& d = Dev()->Draws()[0];
    MATRIX id;
    CreateIdentityMatrix(&id);
    EXPECT_EQ(std::memcmp(&d.World, &id, sizeof id), 0);
    for (int i = 0; i < list->VertexCount; ++i) {
      double p[3], n[3];
      ReferenceSkin(&model->Frame[0], list, i, p, n);
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(F(d.Vertices, d.Stride * i + 4 * k), p[k], 1e-3) << "vertex " << i;
        EXPECT_NEAR(F(d.Vertices, d.Stride * i + 12 + 4 * k), n[k], 1e-5) << "vertex " << i;
      }
    }
    MV1DeleteModel(h);
  }
}

TEST_F(ModelDrawTest, OutOfRangeBonesReadTheIdentity) {
  ModelBaseBuilder b = SkinnedBuilder(1, 4, 7);
  const int h = CreateTestModel(b.Build());
  MV1Model* model = Model(h);
  MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
  auto* v = reinterpret_cast<MV1VertexSkin4*>(MV1TriangleListVertices(list));
  v->Weight[0] = 1.0f;
  v->BoneSlot[0] = uint8_t(list->UseBoneCount);  // a bone the list does not hold
  ASSERT_EQ(MV1DrawModel(h), 0);
  const D3DDrawSnapshot& d = Dev()->Draws().back();
  EXPECT_EQ(F(d.Vertices, 0), v->Position.x);
  EXPECT_EQ(F(d.Vertices, 8), v->Position.z);
  MV1DeleteModel(h);

  ModelBaseBuilder b3 = SkinnedBuilder(3, 3, 8);
  const int h3 = CreateTestModel(b3.Build());
  MV1TriangleList* l3 = Model(h3)->Mesh[0].TriangleList[0].Base;
  uint8_t* rec = MV1TriangleListVertices(l3);
  auto* pairs = MV1VertexFreeBones(reinterpret_cast<MV1VertexSkinFree*>(rec));
  pairs[0] = {999, 1.0f};  // outside the frame's bone list
  auto* pairs1 = MV1VertexFreeBones(reinterpret_cast<MV1VertexSkinFree*>(rec + l3->VertexStride));
  pairs1[0] = {-1, 0.5f};  // no bone at all
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h3), 0);
  const D3DDrawSnapshot& d3 = Dev()->Draws().back();
  for (int i = 0; i < 2; ++i) {
    auto* r = reinterpret_cast<MV1VertexSkinFree*>(rec + size_t(l3->VertexStride) * i);
    EXPECT_EQ(F(d3.Vertices, d3.Stride * i), r->Position.x);
    EXPECT_EQ(F(d3.Vertices, d3.Stride * i + 4), r->Position.y);
  }
  MV1DeleteModel(h3);
}

struct StageCase {
  int type, gradBlend, blendMode;
  float opacity;
  uint32_t factor;
  std::vector<std::vector<uint16_t>> ops;  // per stage
  uint32_t src, dest, op;
};

TEST_F(ModelDrawTest, StagesPerMaterialKind) {
  const std::vector<uint16_t> tex = {2, 0, 4, 2, 0, 4}, close = {2, 0, 1, 2, 0, 1},
                              factor = {1, 3, 4, 1, 0, 2}, mula = {1, 0, 2, 1, 3, 14},
                              grad0 = {1, 2, 2, 2, 1, 13}, grad2 = {1, 2, 4, 2, 1, 4},
                              specGrad = {1, 2, 4, 2, 1, 7};
  const std::vector<StageCase> cases = {
      {0, 2, 0, 1.0f, 0xFFFFFFFF, {tex, close}, 0, 0, 0},
      {0, 2, 1, 0.5f, 0x7FFFFFFF, {tex, factor, close}, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1},
      {0, 2, 1, 1.5f, 0xFFFFFFFF, {tex, close}, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1},
      {0, 2, 1, -0.5f, 0x00FFFFFF, {tex, factor, close}, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 1},
      {1, 0, 0, 1.0f, 0xFFFFFFFF, {tex, grad0, specGrad, close}, 0, 0, 0},
      {1, 2, 0, 1.0f, 0xFFFFFFFF, {tex, grad2, specGrad, close}, 0, 0, 0},
      {1, 5, 0, 1.0f, 0xFFFFFFFF, {tex, grad0, specGrad, close}, 0, 0, 0},
      {0, 2, 2, 1.0f, 0xFFFFFFFF, {tex, close}, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 1},
      {0, 2, 3, 1.0f, 0xFFFFFFFF, {tex, close}, D3DBLEND_SRCALPHA, D3DBLEND_ONE, D3DBLENDOP_REVSUBTRACT},
      {0, 2, 4, 1.0f, 0xFFFFFFFF, {tex, close}, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 1},
      {0, 2, 11, 0.5f, 0x7FFFFFFF, {tex, mula, close}, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 1},
  };
  for (size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE(c);
    const StageCase& k = cases[c];
    int h = OneFrameModel({0});
    MV1Model* model = Model(h);
    model->BaseData->Material[0].Type = k.type;
    model->Material[0].DiffuseGradBlend = k.gradBlend;
    model->Material[0].DrawBlendMode = k.blendMode;
    model->Material[0].DrawBlendParam = 255;
    MV1SetOpacityRate(h, k.opacity);
    Dev()->ClearRecord();
    ASSERT_EQ(MV1DrawModel(h), 0);
    ASSERT_EQ(Dev()->Draws().size(), 1u);
    const D3DDrawSnapshot& d = Dev()->Draws()[0];
    EXPECT_EQ(d.RenderStates[D3DRS_TEXTUREFACTOR], k.factor);
    EXPECT_EQ(d.RenderStates[D3DRS_ALPHABLENDENABLE], k.blendMode ? 1u : 0u);
    if (k.blendMode) {
      EXPECT_EQ(d.RenderStates[D3DRS_SRCBLEND], k.src);
      EXPECT_EQ(d.RenderStates[D3DRS_DESTBLEND], k.dest);
      EXPECT_EQ(d.RenderStates[D3DRS_BLENDOP], k.op);
    }
    for (size_t s = 0; s < k.ops.size(); ++s)
      for (int f = 0; f < 6; ++f)
        EXPECT_EQ(d.Stages[s].States[kStageOpStates[f]], k.ops[s][f]) << "stage " << s << " field " << f;
    EXPECT_EQ(d.Stages[k.ops.size()].States[D3DTSS_COLOROP], uint32_t(D3DTOP_DISABLE));
    EXPECT_NE(d.Stages[0].Texture, nullptr);  // the built-in white texture
    if (k.type == 1) {
      // Built-in gradations on stages 1 and 2 with the toon coordinates 1 and 2, clamped.
      EXPECT_EQ(d.Stages[1].TextureId, GetGraphTexture(MV1BuiltinTextureGraph[1])->Id());
      EXPECT_EQ(d.Stages[2].TextureId, GetGraphTexture(MV1BuiltinTextureGraph[2])->Id());
      EXPECT_EQ(d.Stages[1].States[D3DTSS_TEXCOORDINDEX], 1u);
      EXPECT_EQ(d.Stages[2].States[D3DTSS_TEXCOORDINDEX], 2u);
      EXPECT_EQ(d.Stages[1].Samplers[D3DSAMP_ADDRESSU], uint32_t(D3DTADDRESS_CLAMP));
      EXPECT_EQ(d.RenderStates[D3DRS_LIGHTING], 0u);
    }
    MV1DeleteModel(h);
  }
}

TEST_F(ModelDrawTest, BuiltinTexturesAreMadeAgainAndUnknownFilterModesTakeModeZero) {
  ModelBaseBuilder b;
  b.AddFrame(-1, kCentre);
  b.materials.resize(1);
  b.materials[0].diffuseLayers = 1;
  b.textures = {"missing.png"};
  b.AddMesh(0, 0, 1);
  const int h = CreateTestModel(b.Build());
  MV1Model* model = Model(h);
  model->BaseData->Material[0].Type = 1;
  model->Texture[0].FilterMode = 5;
  ASSERT_EQ(MV1DrawModel(h), 0);
  const int old = MV1BuiltinTextureGraph[1];
  ASSERT_GE(old, 0);
  ASSERT_EQ(DeleteGraph(old), 0);
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  EXPECT_GE(MV1BuiltinTextureGraph[1], 0);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::BeginScene) + Dev()->SceneBegun() > 0, true);
  const D3DDrawSnapshot& d = Dev()->Draws()[0];
  EXPECT_EQ(d.Stages[1].TextureId, GetGraphTexture(MV1BuiltinTextureGraph[1])->Id());
  EXPECT_EQ(d.Stages[0].Samplers[D3DSAMP_MINFILTER], uint32_t(D3DTEXF_POINT));
  EXPECT_EQ(d.Stages[0].Samplers[D3DSAMP_MAGFILTER], uint32_t(D3DTEXF_POINT));
  EXPECT_EQ(d.Stages[0].Samplers[D3DSAMP_MIPFILTER], uint32_t(D3DTEXF_NONE));
  MV1DeleteModel(h);
}

TEST_F(ModelDrawTest, OutlineAfterAllListsInOpaqueColour) {
  ModelBaseBuilder b = SkinnedBuilder(1, 4, 3);
  const TestTriangleList rigid = b.meshes[b.AddMesh(0, 0, 2)].lists[0];
  b.meshes.pop_back();
  b.meshes[0].lists.push_back(rigid);
  const int h = CreateTestModel(b.Build());
  MV1Model* model = Model(h);
  model->BaseData->Material[0].Type = 1;
  model->BaseData->Material[0].OutlineWidth = 0.1f;
  model->Material[0].OutlineWidth = 0.1f;
  model->Material[0].OutlineColor = {0.5f, 0.25f, 1.0f, 0.3f};
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  const auto& draws = Dev()->Draws();
  ASSERT_EQ(draws.size(), 4u);
  EXPECT_NE(draws[0].Fvf, MV1_OUTLINE_VERTEX_FVF);
  EXPECT_NE(draws[1].Fvf, MV1_OUTLINE_VERTEX_FVF);
  for (int k = 2; k < 4; ++k) {
    const D3DDrawSnapshot& o = draws[k];
    const D3DDrawSnapshot& main = draws[k - 2];
    EXPECT_EQ(o.Fvf, MV1_OUTLINE_VERTEX_FVF);
    EXPECT_EQ(o.Stride, 16u);
    EXPECT_EQ(o.RenderStates[D3DRS_CULLMODE], uint32_t(D3DCULL_CW));
    EXPECT_EQ(std::memcmp(&o.World, &main.World, sizeof(MATRIX)), 0);
    for (uint32_t i = 0; i < o.VertexCount; ++i) {
      EXPECT_EQ(U(o.Vertices, 16 * i + 12), 0xFF7F3FFFu);
      for (int c = 0; c < 3; ++c) {
        const float p = F(main.Vertices, main.Stride * i + 4 * c), n = F(main.Vertices, main.Stride * i + 12 + 4 * c);
        EXPECT_FLOAT_EQ(F(o.Vertices, 16 * i + 4 * c), p + n * 0.1f);
      }
    }
  }
  // Width 0 draws no outline.
  model->BaseData->Material[0].OutlineWidth = 0.0f;
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  EXPECT_EQ(Dev()->Draws().size(), 2u);
  MV1DeleteModel(h);
}

// ---- Toon lighting ----

struct DV {
  double x, y, z;
};
DV D(const VECTOR& v) { return {v.x, v.y, v.z}; }
double Dot(DV a, DV b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
DV Sub(DV a, DV b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
DV Mul(DV a, double k) { return {a.x * k, a.y * k, a.z * k}; }
DV Unit(DV a) {
  double l = std::sqrt(Dot(a, a));
  return l > 0 ? Mul(a, 1 / l) : a;
}
DV Xf(DV p, const MATRIX& m, bool translate) {
  DV o = {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0], p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1],
          p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2]};
  if (translate) o = {o.x + m.m[3][0], o.y + m.m[3][1], o.z + m.m[3][2]};
  return o;
}

// d and s of one vertex, from the rules, with the graphics core's constants.
void ReferenceToon(DV pos, DV nrm, const MATRIX* world, double md, double ms, double* dOut, double* sOut) {
  if (world) {
    pos = Xf(pos, *world, true);
    nrm = Unit(Xf(nrm, *world, false));
  }
  const MATRIX& view = ViewMatrices.View;
  double d = 0, s = 0;
  for (int l = 0; l < DeviceLights.Count; ++l) {
    const DeviceLightSlot& slot = DeviceLights.Slots[l];
    DV L;
    double a = 1, f = 1;
    if (slot.Light.Type == 3) {
      L = D(slot.Light.Direction);
    } else {
      DV V = Sub(D(slot.Light.Position), pos);
      double r = std::sqrt(Dot(V, V));
      DV Uv = r > 0 ? Mul(V, 1 / r) : DV{0, 0, 0};
      L = Mul(Uv, -1);
      a = 1 / (slot.Attenuation0 + slot.Attenuation1 * r + slot.Attenuation2 * r * r);
      if (slot.Light.Type == 2) {
        double cp = std::cos(slot.Light.Phi / 2.0), ct = std::cos(slot.Light.Theta / 2.0);
        double rho = -Dot(D(slot.Light.Direction), Uv);
        f = rho < cp ? 0 : rho > ct ? 1 : (rho - cp) / (ct - cp);
      }
    }
    double k = std::max(0.0, -Dot(L, nrm));
    d += a * k * f * md * slot.DiffuseFactor + slot.AmbientFactor;
    if (k > 0) {
      DV P = Xf(pos, view, true), N = Xf(nrm, view, false), Lv = Xf(L, view, false);
      DV H = Unit(Sub(Unit(Mul(P, -1)), Lv));
      double hn = Dot(H, N);
      double p = hn > 0 ? std::pow(hn, double(MaterialConstants.Power)) : 0;
      s += ms * f * a * p * slot.SpecularFactor;
    }
  }
  d += MaterialConstants.AmbientBase;
  *dOut = std::min(std::max(d, 0.0), 0.999);
  *sOut = std::min(std::max(s, 0.0), 0.999);
}

TEST_F(ModelDrawTest, ToonLightingMatchesReferenceForEachLightKind) {
  const VECTOR lightPos = {330, 250, -30};
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    ModelBaseBuilder b;
    b.AddFrame(-1, kCentre, {0.3f, 0.2f, 0});
    b.materials.resize(1);
    const int m = b.AddMesh(0, 0, 6);
    std::mt19937 rng(100 + kind);
    std::uniform_real_distribution<float> u(-1, 1);
    for (auto& v : b.meshes[m].vertices) v.normal = {u(rng), u(rng), -1};
    b.meshes[m].vertices[0].normal = {0, 0, 0};  // zero normal under a world matrix
    const int h = CreateTestModel(b.Build());
    MV1Model* model = Model(h);
    model->BaseData->Material[0].Type = 1;
    model->Material[0].Specular = {0.7f, 0.7f, 0.7f, 0};
    model->Material[0].Power = 8;
    if (kind == 1) ChangeLightTypePoint(lightPos, 2000, 0.5f, 0.001f, 0.00001f);
    if (kind == 2) ChangeLightTypeSpot(lightPos, VNorm(VECTOR{0, 0, 1}), 1.2f, 0.6f, 2000, 0.5f, 0.001f, 0);
    Dev()->ClearRecord();
    ASSERT_EQ(MV1DrawModel(h), 0);
    const D3DDrawSnapshot& d = Dev()->Draws()[0];
    const MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
    int lit = 0;
    for (int i = 0; i < list->VertexCount; ++i) {
      auto* r = reinterpret_cast<const MV1VertexRigid*>(MV1TriangleListVertices(list) + 32 * i);
      double rd, rs;
      ReferenceToon(D(r->Position), D(r->Normal), &model->Frame[0].LocalWorldMatrix,
                    MaterialConstants.DiffuseR, MaterialConstants.SpecularR, &rd, &rs);
      const float gd = F(d.Vertices, d.Stride * i + 48), gs = F(d.Vertices, d.Stride * i + 64);
      EXPECT_TRUE(std::isfinite(gd) && std::isfinite(gs));
      EXPECT_NEAR(gd, rd, 1e-5) << "vertex " << i;
      EXPECT_NEAR(gs, rs, 1e-5) << "vertex " << i;
      lit += rs > 0;
    }
    EXPECT_GT(lit, 0);
    MV1DeleteModel(h);
    ChangeLightTypeDir({1, -1, 1});
  }
}

TEST_F(ModelDrawTest, ToonLightingEdgeCasesAndCoordinateOffsets) {
  // Facing away from a directional light: clamped ambient, no specular. At a point light's
  // position: finite. At the inner cone edge: f = 1.
  ModelBaseBuilder b;
  b.AddFrame(-1);
  b.materials.resize(1);
  const int m = b.AddMesh(0, 0, 1);
  const int h = CreateTestModel(b.Build());
  MV1Model* model = Model(h);
  model->BaseData->Material[0].Type = 1;
  ChangeLightTypeDir({0, 0, 1});
  MV1DrawModel(h);  // lights and material constants in place
  MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
  ASSERT_TRUE(MV1SetupTriangleListMemoryVertexBuffer(list));
  float* v = static_cast<float*>(list->TempVertexBuffer);
  v[0] = 1, v[1] = 2, v[2] = 3, v[3] = 0, v[4] = 0, v[5] = 1;  // normal along the light
  MV1CalcVertexLighting(list, nullptr);
  EXPECT_FLOAT_EQ(v[12], std::min(std::max(MaterialConstants.AmbientBase + DeviceLights.Slots[0].AmbientFactor, 0.0f), 0.999f));
  EXPECT_EQ(v[16], 0.0f);
  ChangeLightTypePoint({1, 2, 3}, 100, 1, 0, 0);
  FlushLightsToDevice();
  MV1CalcVertexLighting(list, nullptr);
  EXPECT_TRUE(std::isfinite(v[12]) && std::isfinite(v[16]));
  // Inner cone: theta 1.0, phi 2.0; a surface facing the light straight on the axis gets f = 1.
  ChangeLightTypeSpot({1, 2, 3 - 10}, {0, 0, 1}, 2.0f, 1.0f, 100, 1, 0, 0);
  FlushLightsToDevice();
  v[5] = -1;
  MV1CalcVertexLighting(list, nullptr);
  const float onAxis = v[12];
  // Move the vertex so that the light sees it exactly at the inner cone angle.
  const float t = std::tan(0.5f) * 10.0f;
  v[0] = 1 + t;
  MV1CalcVertexLighting(list, nullptr);
  double rd, rs;
  ReferenceToon({double(v[0]), 2, 3}, {0, 0, -1}, nullptr, MaterialConstants.DiffuseR, 0, &rd, &rs);
  EXPECT_NEAR(v[12], rd, 1e-5);
  EXPECT_GT(v[12], MaterialConstants.AmbientBase);
  EXPECT_GT(onAxis, 0.0f);
  MV1DeleteModel(h);
  ChangeLightTypeDir({1, -1, 1});

  // The toon sets follow the mesh's own: offsets 8 + 4n and 12 + 4n, neighbours untouched.
  for (int n = 0; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const int hn = OneFrameModel({0}, n);
    Model(hn)->BaseData->Material[0].Type = 1;
    Dev()->ClearRecord();
    ASSERT_EQ(MV1DrawModel(hn), 0);
    const D3DDrawSnapshot& d = Dev()->Draws()[0];
    EXPECT_EQ(d.Stages[1].States[D3DTSS_TEXCOORDINDEX], uint32_t(n));
    EXPECT_EQ(d.Stages[2].States[D3DTSS_TEXCOORDINDEX], uint32_t(n + 1));
    for (uint32_t i = 0; i < d.VertexCount; ++i) {
      const size_t at = size_t(d.Stride) * i;
      for (int s = n; s < n + 2; ++s) {
        const float value = F(d.Vertices, at + 32 + 16 * s);
        EXPECT_TRUE(value >= 0.0f && value <= 0.999f);
        EXPECT_EQ(F(d.Vertices, at + 32 + 16 * s + 4), 0.0f);
        EXPECT_EQ(F(d.Vertices, at + 32 + 16 * s + 8), 1.0f);
        EXPECT_EQ(F(d.Vertices, at + 32 + 16 * s + 12), 1.0f);
      }
      EXPECT_EQ(d.Stride, uint32_t(32 + 16 * (n + 2)));  // nothing past the vertex
    }
    MV1DeleteModel(hn);
  }
  (void)m;
}

TEST_F(ModelDrawTest, SpotWithEqualConesHasAHardEdgeAndNaNClampsToZero) {
  const int h = OneFrameModel({0});
  MV1Model* model = Model(h);
  model->BaseData->Material[0].Type = 1;
  ChangeLightTypeSpot({0, 0, -10}, {0, 0, 1}, 1.0f, 1.0f, 100, 1, 0, 0);
  ASSERT_EQ(MV1DrawModel(h), 0);
  MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
  float* v = static_cast<float*>(list->TempVertexBuffer);
  const float ambient = std::min(MaterialConstants.AmbientBase + DeviceLights.Slots[0].AmbientFactor, 0.999f);
  const float inside = std::tan(0.4f) * 10.0f, outside = std::tan(0.6f) * 10.0f;
  for (auto [x, lit] : {std::pair{0.0f, true}, std::pair{inside, true}, std::pair{outside, false}}) {
    v[0] = x, v[1] = 0, v[2] = 0, v[3] = 0, v[4] = 0, v[5] = -1;
    MV1CalcVertexLighting(list, nullptr);
    if (lit) EXPECT_GT(v[12], ambient) << x;
    else EXPECT_FLOAT_EQ(v[12], std::max(ambient, 0.0f)) << x;
  }
  v[3] = std::nanf("");
  MV1CalcVertexLighting(list, nullptr);
  EXPECT_TRUE(v[12] >= 0.0f && v[12] <= 0.999f);
  EXPECT_EQ(v[16], 0.0f);
  MV1DeleteModel(h);
  ChangeLightTypeDir({1, -1, 1});
}

TEST_F(ModelDrawTest, ForcedResendEndsWithTheDrawAndAMeshWithoutMaterialIsSkipped) {
  const int h = OneFrameModel({0, 0});
  ASSERT_EQ(MV1DrawModel(h), 0);
  DeviceState.ForceResend = 1;
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  EXPECT_EQ(DeviceState.ForceResend, 0);
  EXPECT_GE(Dev()->CallCount(D3DMethod::SetFVF), 1u);
  EXPECT_GE(Dev()->CallCount(D3DMethod::SetRenderState), 10u);
  Model(h)->Mesh[0].Material = nullptr;
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  EXPECT_EQ(Dev()->Draws().size(), 1u);
  MV1DeleteModel(h);
}

TEST_F(ModelDrawTest, DrawCallsCullingAndCaching) {
  ModelBaseBuilder b;
  b.AddFrame(-1, kCentre);
  b.AddFrame(-1, {320, 240, -5000});  // behind the camera
  b.AddFrame(-1);                      // no mesh
  b.materials.resize(1);
  b.AddMesh(0, 0, 2);
  b.AddMesh(1, 0, 2);
  const int h = CreateTestModel(b.Build());
  Dev()->ClearRecord();
  EXPECT_EQ(MV1DrawModel(h), 0);
  EXPECT_EQ(Dev()->Draws().size(), 1u);
  EXPECT_EQ(MV1DrawFrame(h, 1), -1);
  EXPECT_EQ(MV1DrawFrame(h, -1), -1);
  EXPECT_EQ(MV1DrawFrame(h, 2), -1);
  EXPECT_EQ(MV1DrawFrame(h, 3), -1);
  EXPECT_EQ(MV1DrawMesh(h, 1), 0);
  EXPECT_EQ(Dev()->Draws().size(), 2u);
  EXPECT_EQ(MV1DrawMesh(h, 2), -1);
  EXPECT_EQ(MV1DrawModel(h + 1), -1);
  MV1SetVisible(h, 0);
  Dev()->ClearRecord();
  EXPECT_EQ(MV1DrawModel(h), 0);
  EXPECT_EQ(MV1DrawFrame(h, 0), 0);
  EXPECT_EQ(MV1DrawMesh(h, 0), 0);
  EXPECT_EQ(Dev()->Calls().size(), 0u);
  MV1SetVisible(h, 1);
  MV1DeleteModel(h);

  // A second draw of an unchanged one-mesh model: only the sampler filters that the first draw
  // marked invalid, the world matrix and the draw repeat.
  const int h1 = OneFrameModel({0});
  ASSERT_EQ(MV1DrawModel(h1), 0);
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h1), 0);
  for (const auto& c : Dev()->Calls()) {
    const bool allowed = c.Method == D3DMethod::SetSamplerState || c.Method == D3DMethod::SetTransform ||
                         c.Method == D3DMethod::DrawIndexedPrimitiveUP;
    EXPECT_TRUE(allowed) << D3DMethodName(c.Method);
    if (c.Method == D3DMethod::SetSamplerState) { EXPECT_GE(c.Args[1], uint32_t(D3DSAMP_MAGFILTER)); }
  }
  MV1DeleteModel(h1);
}

// The stand-in's defaults keep nothing per draw: 1,000 frames of a model drawn with recording and
// snapshots off reach the device (counted) and leave the record as it was after the first; the
// same draws switched on are all kept, so the byte count does measure the record.
TEST_F(ModelDrawTest, DefaultStandInKeepsNoRecordOverALongRunOfDraws) {
  const int h = OneFrameModel({0, 1}, 1, 200);
  auto drawCalls = [&] {
    return Dev()->CallCount(D3DMethod::DrawPrimitiveUP) + Dev()->CallCount(D3DMethod::DrawIndexedPrimitive) +
           Dev()->CallCount(D3DMethod::DrawIndexedPrimitiveUP);
  };
  D3DStandIn() = D3DStandInSettings{};
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  const uint64_t perFrame = drawCalls(), held = Dev()->RecordBytes();
  ASSERT_GE(perFrame, 2u);
  for (int frame = 1; frame < 1000; ++frame) ASSERT_EQ(MV1DrawModel(h), 0);
  EXPECT_EQ(drawCalls(), 1000 * perFrame);
  EXPECT_EQ(Dev()->Calls().size(), 0u);
  EXPECT_EQ(Dev()->Draws().size(), 0u);
  EXPECT_EQ(Dev()->RecordBytes(), held);

  D3DStandIn() = RecordingStandIn();
  for (int frame = 0; frame < 10; ++frame) ASSERT_EQ(MV1DrawModel(h), 0);
  ASSERT_EQ(Dev()->Draws().size(), 10 * perFrame);
  EXPECT_GE(Dev()->Calls().size(), 10 * perFrame);
  uint64_t vertexBytes = 0;
  for (const D3DDrawSnapshot& d : Dev()->Draws()) vertexBytes += d.Vertices.size();
  EXPECT_GE(vertexBytes, 10 * perFrame * 3 * sizeof(VECTOR));
  EXPECT_GE(Dev()->RecordBytes(), held + vertexBytes);
  MV1DeleteModel(h);
}

TEST_F(ModelDrawTest, ShaderSwitchIndicesConstantsAndRefusedOutline) {
  D3DStandIn().ShadersAvailable = true;
  SetupShaders();
  ASSERT_EQ(UseShaderFlag, 1);
  ModelBaseBuilder b = SkinnedBuilder(1, 4, 11);
  b.AddMesh(0, 0, 2);
  const int base = b.Build();
  ASSERT_EQ(MV1SetupModelBaseVertexBuffer(base), 0);
  const int h = CreateTestModel(base);
  MV1Model* model = Model(h);
  model->BaseData->Material[0].Type = 1;
  model->BaseData->Material[0].OutlineWidth = 0.5f;
  model->Material[0].OutlineWidth = 0.5f;
  ShaderKey.VertexShaderIndex = 0x40;
  ShaderKey.PixelShaderIndex = 0x10;
  ShaderKey.FogEnable = 1;
  ShaderKey.FogMode = 3;
  D3DStandIn().RefusedVertexShaders = {(96 + 3) * 512 + 0x2000};  // the skinned outline
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  const auto& draws = Dev()->Draws();
  ASSERT_GE(draws.size(), 4u);
  // Toon (0x3600), gradation blend 2 (0x1B00), specular 1 and on (0xD80 + 1).
  const int ps = 0x10 + 0x3600 + 0x1B00 + 0xD80 + 1, vs = 0x40 + 1;
  EXPECT_EQ(draws[0].Method, D3DMethod::DrawIndexedPrimitive);
  EXPECT_EQ(draws[0].VertexShader, vs + 0x2000);
  EXPECT_EQ(draws[0].PixelShader, ps);
  // The rigid mesh: main pass and outline with the outline shader at (96 + fog mode) x 512.
  EXPECT_EQ(draws[2].VertexShader, vs);
  EXPECT_EQ(draws[2].PixelShader, ps);
  EXPECT_EQ(draws[3].Method, D3DMethod::DrawIndexedPrimitive);
  EXPECT_EQ(draws[3].VertexShader, (96 + 3) * 512);
  EXPECT_EQ(draws[3].PixelShader, 0);
  EXPECT_EQ(draws[3].RenderStates[D3DRS_CULLMODE], uint32_t(D3DCULL_CW));
  const MV1Frame& rigidFrame = model->Frame[0];
  for (int e = 0; e < 12; ++e)
    EXPECT_EQ(draws[2].VertexConstants[94 * 4 + e], (&rigidFrame.WorldMatrix.m[0][0])[e]);
  // Bone constants from register 94 + 3i.
  const MV1Frame& frame = model->Frame[0];
  const MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
  for (int i = 0; i < list->UseBoneCount; ++i) {
    const Matrix3x4* m = frame.UseSkinBoneMatrix[list->UseBone[i]];
    for (int e = 0; e < 12; ++e)
      EXPECT_EQ(draws[0].VertexConstants[(94 + 3 * i) * 4 + e], (&m->m[0][0])[e]);
  }
  // Registers 42, 88, 89 and pixel registers 6 to 8.
  EXPECT_EQ(draws[0].VertexConstants[88 * 4], 1.0f);
  EXPECT_EQ(draws[0].VertexConstants[89 * 4 + 1], 1.0f);
  EXPECT_EQ(draws[0].PixelConstants[7 * 4], 2.0f);
  EXPECT_EQ(draws[0].PixelConstants[8 * 4], -1.0f);
  // The skinned outline falls back to the fixed path, the rigid one uses the outline shader.
  EXPECT_EQ(draws[1].Method, D3DMethod::DrawIndexedPrimitiveUP);
  EXPECT_EQ(draws[1].Fvf, MV1_OUTLINE_VERTEX_FVF);
  EXPECT_EQ(draws[1].VertexShader, -1);
  EXPECT_EQ(draws[1].VertexConstants[42 * 4], 0.5f);
  // The skinned outline's positions are the skinned ones pushed out along the skinned normals.
  double p[3], n[3];
  ReferenceSkin(&frame, list, 0, p, n);
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(F(draws[1].Vertices, 4 * c), p[c] + n[c] * 0.5, 1e-3);
  MV1DeleteModel(h);
}

TEST_F(ModelDrawTest, ShapeWeightMovesDrawnVerticesByHalfTheOffsets) {
  ModelBaseBuilder b;
  b.AddFrame(-1, kCentre);
  b.materials.resize(1);
  const int m = b.AddMesh(0, 0, 2);
  b.meshes[m].hasShape = true;
  TestShape shape;
  shape.vertexCount = 3;
  b.shapes.push_back(shape);
  const int h = CreateTestModel(b.Build());
  MV1Model* model = Model(h);
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  const std::vector<uint8_t> before = Dev()->Draws()[0].Vertices;
  const uint32_t stride = Dev()->Draws()[0].Stride;
  model->Frame[0].Shape[0].Rate = 0.5f;
  Dev()->ClearRecord();
  ASSERT_EQ(MV1DrawModel(h), 0);
  const D3DDrawSnapshot& d = Dev()->Draws()[0];
  const MV1ShapeMeshBase& sm = model->BaseData->Shape[0].Mesh[0];
  const MV1TriangleList* list = model->Mesh[0].TriangleList[0].Base;
  int moved = 0;
  for (int i = 0; i < list->VertexCount; ++i) {
    VECTOR offset = {0, 0, 0};
    for (int k = 0; k < sm.VertexCount; ++k)
      if (sm.Vertex[k].TargetMeshVertex == list->MeshVertexIndex[i]) offset = sm.Vertex[k].Position;
    EXPECT_FLOAT_EQ(F(d.Vertices, stride * i), F(before, stride * i) + offset.x * 0.5f);
    EXPECT_FLOAT_EQ(F(d.Vertices, stride * i + 4), F(before, stride * i + 4) + offset.y * 0.5f);
    moved += offset.x != 0 || offset.y != 0;
  }
  EXPECT_GT(moved, 0);
  MV1DeleteModel(h);
}

TEST_F(ModelDrawTest, AllocationFailuresSkipTheirListOrOutlineOnly) {
  ScopedBlockSharing eachRequestABlock(false);
  ModelBaseBuilder b;
  b.AddFrame(-1, kCentre);
  b.materials.resize(1);
  const int m = b.AddMesh(0, 0, 2);
  b.meshes[m].lists.push_back(b.meshes[m].lists[0]);
  const int h = CreateTestModel(b.Build());
  MV1Model* model = Model(h);
  model->BaseData->Material[0].Type = 1;
  model->BaseData->Material[0].OutlineWidth = 0.2f;
  // Every allocation of a first draw in turn fails; each draw leaves out only what it needed.
  int full = -1;
  for (long n = 1; n < 50; ++n) {
    // Start each round as a first draw: no memory buffers, no built-in textures.
    for (int t = 0; t < 2; ++t) {
      MV1TriangleList* l = model->Mesh[0].TriangleList[t].Base;
      MEM_FREE(l->TempVertexBuffer);
      MEM_FREE(l->OutlinePositions);
      l->TempVertexBuffer = l->OutlinePositions = nullptr;
    }
    for (int& g : MV1BuiltinTextureGraph) {
      if (g >= 0) DeleteGraph(g);
      g = -1;
    }
    Dev()->ClearRecord();
    const uint64_t attempts = MemAllocAttempts();
    MemSetFailAt(n);
    ASSERT_EQ(MV1DrawModel(h), 0);
    MemSetFailAt(0);
    const int draws = int(Dev()->Draws().size());
    if (long(MemAllocAttempts() - attempts) < n) {
      full = draws;
      break;
    }
    EXPECT_GE(draws, 3) << "failing allocation " << n;
    EXPECT_LE(draws, 4);
  }
  EXPECT_EQ(full, 4);
  // Built-in textures not made in a failing draw are made by the next one.
  for (int g : MV1BuiltinTextureGraph) EXPECT_GE(g, 0);
  MV1DeleteModel(h);
}

}  // namespace
