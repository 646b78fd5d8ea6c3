// Draw-state blocks: setters, change flags, the lazy refresh against a plain top-down
// recomputation, and the use-vertex-colour switches.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <qzlib/model/model.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include "tests/support/model_test.h"

namespace {

using DrawStateTest = ModelTest;

MV1Model* CreateModel(int base) {
  int h = MV1AddModelHandle();
  return MV1CreateModelFromBase(h, base) == 0 ? MV1GetModelChecked(h) : nullptr;
}

bool BitSet(const MV1ChangeFlag& f) { return (*f.Word & f.Info->OwnBit) != 0; }

// The model-level setters' marking.
void MarkModel(MV1Model* m) { MV1SetModelChangeFlagAll(m->ChangeDrawMaterialFlag, m->ChangeDrawMaterialFlagSize); }

TEST(DrawStateSetters, EqualityUseColorScaleAndOpacity) {
  MV1DrawState s{};
  s.DiffuseScale = s.AmbientScale = s.SpecularScale = s.EmissiveScale = COLOR_F{1, 1, 1, 1};
  s.OpacityRate = 1;
  EXPECT_FALSE(MV1SetDrawDifColorScale(&s, nullptr, 1, 1, 1, 1));
  EXPECT_TRUE(MV1SetDrawAmbColorScale(&s, nullptr, 0.5f, 1, 1, 1));
  EXPECT_EQ(s.UseColorScale, 1);
  EXPECT_TRUE(MV1SetDrawSpcColorScale(&s, nullptr, -0.0f, 1, 1, 1));
  EXPECT_TRUE(MV1SetDrawSpcColorScale(&s, nullptr, 0.0f, 1, 1, 1));  // 0.0 where -0.0 is stored
  EXPECT_FALSE(MV1SetDrawSpcColorScale(&s, nullptr, 0.0f, 1, 1, 1));
  EXPECT_TRUE(MV1SetDrawSpcColorScale(&s, nullptr, 1, 1, 1, 1));
  EXPECT_EQ(s.UseColorScale, 1);  // the ambient scale still differs
  EXPECT_TRUE(MV1SetDrawAmbColorScale(&s, nullptr, 1, 1, 1, 1));
  EXPECT_EQ(s.UseColorScale, 0);  // the last one back
  EXPECT_TRUE(MV1SetDrawEmiColorScale(&s, nullptr, 1, 1, 1, 2));
  EXPECT_EQ(s.EmissiveScale.a, 2.0f);
  EXPECT_FALSE(MV1SetDrawOpacityRate(nullptr, &s, 1.0f));
  EXPECT_TRUE(MV1SetDrawOpacityRate(nullptr, &s, 3.0f));  // not clamped here
  EXPECT_EQ(s.OpacityRate, 3.0f);
}

TEST_F(DrawStateTest, MarkingRaisesSubtreesOnce) {
  MV1Model* m = CreateModel(ReferenceBaseBuilder().Build());
  MV1RefreshDrawState(&m->Frame[0], nullptr);
  for (int w = 0; w < m->ChangeDrawMaterialFlagSize / 4; ++w) EXPECT_EQ(m->ChangeDrawMaterialFlag[w], 0u);
  EXPECT_TRUE(MV1SetDrawDifColorScale(&m->Frame[1].DrawMaterial, &m->Frame[1].ChangeDrawMaterialFlag, 0.5f, 1, 1, 1));
  for (int f : {1, 2, 6}) EXPECT_TRUE(BitSet(m->Frame[f].ChangeDrawMaterialFlag)) << f;
  for (int f : {0, 3, 4, 5, 7}) EXPECT_FALSE(BitSet(m->Frame[f].ChangeDrawMaterialFlag)) << f;
  for (int i = 0; i < m->BaseData->MeshCount; ++i) {
    int frame = m->Mesh[i].Container->Base->Index;
    EXPECT_EQ(BitSet(m->Mesh[i].ChangeDrawMaterialFlag), frame == 1 || frame == 2 || frame == 6);
  }
  EXPECT_EQ(m->ChangeDrawMaterialFlag[0], 0u);
  // The value already stored marks nothing.
  MV1RefreshDrawState(&m->Frame[1], nullptr);
  EXPECT_FALSE(MV1SetDrawDifColorScale(&m->Frame[3].DrawMaterial, &m->Frame[3].ChangeDrawMaterialFlag, 1, 1, 1, 1));
  EXPECT_FALSE(MV1SetDrawOpacityRate(&m->Frame[3].ChangeDrawMaterialFlag, &m->Frame[3].DrawMaterial, 1.0f));
  for (int w = 0; w < m->ChangeDrawMaterialFlagSize / 4; ++w) EXPECT_EQ(m->ChangeDrawMaterialFlag[w], 0u);
  MarkModel(m);
  EXPECT_EQ(m->ChangeDrawMaterialFlag[0], 0xFFFFFFFFu);
}

TEST_F(DrawStateTest, DerivedValuesDownTheTree) {
  MV1Model* m = CreateModel(ReferenceBaseBuilder().Build());
  MV1Frame* f = m->Frame;
  MV1SetDrawDifColorScale(&f[0].DrawMaterial, &f[0].ChangeDrawMaterialFlag, 0.5f, 1, 1, 1);
  MV1SetDrawDifColorScale(&f[1].DrawMaterial, &f[1].ChangeDrawMaterialFlag, 0.5f, 0.5f, 0.5f, 1);
  MV1SetDrawOpacityRate(nullptr, &m->DrawMaterial, 0.5f);
  MarkModel(m);
  MV1SetDrawOpacityRate(&f[2].ChangeDrawMaterialFlag, &f[2].DrawMaterial, 0.5f);
  MV1RefreshDrawState(&f[2], nullptr);
  const COLOR_F& d1 = f[1].SetupDrawMaterial.DiffuseScale;
  EXPECT_EQ(d1.r, 0.25f);
  EXPECT_EQ(d1.g, 0.5f);
  EXPECT_EQ(d1.b, 0.5f);
  EXPECT_EQ(d1.a, 1.0f);
  // A grandchild without own scales derives its parent's value.
  EXPECT_EQ(f[2].SetupDrawMaterial.UseColorScale, 1);
  EXPECT_EQ(std::memcmp(&f[2].SetupDrawMaterial.DiffuseScale, &d1, sizeof(COLOR_F)), 0);
  MV1Mesh* mesh2 = f[2].Mesh;
  EXPECT_EQ(mesh2->SetupDrawMaterial.OpacityRate, 0.25f);  // model 0.5, frame 0.5, mesh 1.0
  // A hidden model hides everything; a hidden frame its subtree only.
  m->DrawMaterial.Visible = 0;
  MarkModel(m);
  MV1RefreshDrawState(&f[4], nullptr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(f[i].SetupDrawMaterial.Visible, 0);
  for (int i = 0; i < m->BaseData->MeshCount; ++i) EXPECT_EQ(m->Mesh[i].SetupDrawMaterial.Visible, 0);
  m->DrawMaterial.Visible = 1;
  MarkModel(m);
  f[3].DrawMaterial.Visible = 0;
  MV1RefreshDrawState(&f[0], nullptr);
  EXPECT_EQ(f[3].SetupDrawMaterial.Visible, 0);
  EXPECT_EQ(f[4].SetupDrawMaterial.Visible, 0);
  EXPECT_EQ(f[4].Mesh->SetupDrawMaterial.Visible, 0);
  EXPECT_EQ(f[5].SetupDrawMaterial.Visible, 1);
  EXPECT_EQ(f[1].SetupDrawMaterial.Visible, 1);
  EXPECT_EQ(f[6].SetupDrawMaterial.Visible, 0);  // hidden by its base flag
}

TEST_F(DrawStateTest, RefreshGranularitySeenThroughKnownBytes) {
  MV1Model* m = CreateModel(ReferenceBaseBuilder().Build());
  MV1RefreshDrawState(&m->Frame[0], nullptr);
  auto setKnown = [&] {
    for (int i = 0; i < 8; ++i) m->Frame[i].SemiTransStateSetupFlag = 1;
    for (int i = 0; i < m->BaseData->MeshCount; ++i) m->Mesh[i].SemiTransStateSetupFlag = 1;
  };
  setKnown();
  MV1SetDrawDifColorScale(&m->Frame[3].DrawMaterial, &m->Frame[3].ChangeDrawMaterialFlag, 2, 2, 2, 1);
  MV1RefreshDrawState(nullptr, m->Frame[4].Mesh);  // from below: climbs to frame 3
  for (int i = 0; i < 8; ++i) EXPECT_EQ(m->Frame[i].SemiTransStateSetupFlag, (i == 3 || i == 4) ? 0 : 1) << i;
  for (int i = 0; i < m->BaseData->MeshCount; ++i) {
    int frame = m->Mesh[i].Container->Base->Index;
    EXPECT_EQ(m->Mesh[i].SemiTransStateSetupFlag, (frame == 3 || frame == 4) ? 0 : 1) << i;
  }
  // A mesh-only change refreshes that mesh alone.
  setKnown();
  MV1Mesh* mesh = &m->Mesh[6];
  MV1SetDrawDifColorScale(&mesh->DrawMaterial, &mesh->ChangeDrawMaterialFlag, 0.5f, 1, 1, 1);
  MV1RefreshDrawState(nullptr, mesh);
  EXPECT_FALSE(BitSet(mesh->ChangeDrawMaterialFlag));
  for (int i = 0; i < m->BaseData->MeshCount; ++i) EXPECT_EQ(m->Mesh[i].SemiTransStateSetupFlag, i == 6 ? 0 : 1);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(m->Frame[i].SemiTransStateSetupFlag, 1);
  // Nothing marked: nothing happens.
  MV1RefreshDrawState(&m->Frame[5], nullptr);
  EXPECT_EQ(m->Frame[5].SemiTransStateSetupFlag, 1);
  // A model-level change: every frame and mesh.
  MV1SetDrawOpacityRate(nullptr, &m->DrawMaterial, 0.75f);
  MarkModel(m);
  MV1RefreshDrawState(&m->Frame[7], nullptr);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(m->Frame[i].SemiTransStateSetupFlag, 0);
  for (int i = 0; i < m->BaseData->MeshCount; ++i) EXPECT_EQ(m->Mesh[i].SemiTransStateSetupFlag, 0);
  for (int w = 0; w < m->ChangeDrawMaterialFlagSize / 4; ++w) EXPECT_EQ(m->ChangeDrawMaterialFlag[w], 0u);
}

// The derivation rule, written out for the reference recomputation.
void ReferenceDerive(MV1DrawState* d, const MV1DrawState& src, const MV1DrawState& own) {
  const COLOR_F* s[4] = {&src.DiffuseScale, &src.AmbientScale, &src.SpecularScale, &src.EmissiveScale};
  const COLOR_F* o[4] = {&own.DiffuseScale, &own.AmbientScale, &own.SpecularScale, &own.EmissiveScale};
  COLOR_F* out[4] = {&d->DiffuseScale, &d->AmbientScale, &d->SpecularScale, &d->EmissiveScale};
  for (int k = 0; k < 4; ++k) {
    if (src.UseColorScale && own.UseColorScale)
      *out[k] = COLOR_F{s[k]->r * o[k]->r, s[k]->g * o[k]->g, s[k]->b * o[k]->b, s[k]->a * o[k]->a};
    else if (src.UseColorScale)
      *out[k] = *s[k];
    else if (own.UseColorScale)
      *out[k] = *o[k];
  }
  d->UseColorScale = src.UseColorScale || own.UseColorScale;
  d->OpacityRate = src.OpacityRate * own.OpacityRate;
  d->Visible = src.Visible && own.Visible;
}

void ExpectSameBlock(const MV1DrawState& got, const MV1DrawState& want, const char* what, int i) {
  EXPECT_EQ(got.Visible, want.Visible) << what << i;
  EXPECT_EQ(got.UseColorScale, want.UseColorScale) << what << i;
  EXPECT_EQ(std::memcmp(&got.OpacityRate, &want.OpacityRate, 4), 0) << what << i;
  if (want.UseColorScale) {
    EXPECT_EQ(std::memcmp(&got.DiffuseScale, &want.DiffuseScale, 4 * sizeof(COLOR_F)), 0) << what << i;
  }
}

TEST_F(DrawStateTest, LazyRefreshEqualsTopDownRecomputation) {
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    SCOPED_TRACE(seed);
    ModelBaseBuilder b = seed % 2 ? ReferenceBaseBuilder() : RandomTreeBuilder(seed, 30, 30, 1);
    MV1Model* m = CreateModel(b.Build());
    int frames = m->BaseData->FrameCount, meshes = m->BaseData->MeshCount;
    std::mt19937 rng(seed * 104729);
    const float values[] = {1.0f, 0.5f, 2.0f, 0.0f, -0.0f, 0.25f};
    auto v = [&]() { return values[rng() % 6]; };
    auto setBlock = [&](MV1DrawState* s, MV1ChangeFlag* flag) {
      switch (rng() % 6) {
        case 0: MV1SetDrawDifColorScale(s, flag, v(), v(), v(), v()); break;
        case 1: MV1SetDrawAmbColorScale(s, flag, v(), 1, v(), 1); break;
        case 2: MV1SetDrawSpcColorScale(s, flag, 1, 1, 1, v()); break;
        case 3: MV1SetDrawEmiColorScale(s, flag, 1, 1, 1, 1); break;
        case 4: MV1SetDrawOpacityRate(flag, s, v()); break;
        default:
          s->Visible = static_cast<uint8_t>(rng() % 2);
          if (flag) MV1SetFrameChangeFlag(flag);
          break;
      }
    };
    for (int step = 0; step < 300; ++step) {
      int what = rng() % 10;
      if (what == 0) {
        setBlock(&m->DrawMaterial, nullptr);
        MarkModel(m);
      } else if (what < 4) {
        MV1Frame* f = &m->Frame[rng() % frames];
        setBlock(&f->DrawMaterial, &f->ChangeDrawMaterialFlag);
      } else if (what < 6 && meshes > 0) {
        MV1Mesh* mesh = &m->Mesh[rng() % meshes];
        setBlock(&mesh->DrawMaterial, &mesh->ChangeDrawMaterialFlag);
      } else if (what < 8) {
        MV1RefreshDrawState(&m->Frame[rng() % frames], nullptr);
      } else if (meshes > 0) {
        MV1Mesh* mesh = &m->Mesh[rng() % meshes];
        MV1RefreshDrawState(rng() % 2 ? mesh->Container : nullptr, mesh);
      }
      // Every derived block whose bit is clear equals the plain recomputation.
      std::vector<MV1DrawState> ref(frames);
      for (int i = 0; i < frames; ++i) {
        const MV1Frame& f = m->Frame[i];
        const MV1DrawState& src = f.Parent ? ref[f.Parent - m->Frame] : m->DrawMaterial;
        ReferenceDerive(&ref[i], src, f.DrawMaterial);
        if (!BitSet(f.ChangeDrawMaterialFlag)) ExpectSameBlock(f.SetupDrawMaterial, ref[i], "frame ", i);
      }
      for (int i = 0; i < meshes; ++i) {
        const MV1Mesh& mesh = m->Mesh[i];
        MV1DrawState want;
        ReferenceDerive(&want, ref[mesh.Container - m->Frame], mesh.DrawMaterial);
        if (!BitSet(mesh.ChangeDrawMaterialFlag)) ExpectSameBlock(mesh.SetupDrawMaterial, want, "mesh ", i);
      }
      if (HasFailure()) return;
    }
    MV1DeleteModel(m->Handle);
  }
}

TEST_F(DrawStateTest, UseVertexColourSwitches) {
  int baseHandle = ReferenceBaseBuilder().Build();
  MV1Model* a = CreateModel(baseHandle);
  MV1Model* b = CreateModel(baseHandle);
  MV1RefreshDrawState(&a->Frame[0], nullptr);
  MV1RefreshDrawState(&b->Frame[0], nullptr);
  // Mesh 2 (frame 3 under frame 0): a mesh-only refresh cleared the mesh's known byte earlier,
  // while its frames and the model still hold an answer.
  MV1Mesh* mesh = &a->Mesh[2];
  ASSERT_EQ(mesh->Container, &a->Frame[3]);
  mesh->SemiTransStateSetupFlag = 0;
  a->Frame[3].SemiTransStateSetupFlag = a->Frame[0].SemiTransStateSetupFlag = 1;
  a->Frame[5].SemiTransStateSetupFlag = 1;
  a->SemiTransStateSetupFlag = 1;
  EXPECT_EQ(MV1SetMeshUseVertDifColorBase(baseHandle, 2, 0), 0);  // unchanged
  EXPECT_EQ(a->Frame[3].SemiTransStateSetupFlag, 1);
  EXPECT_FALSE(BitSet(mesh->ChangeDrawMaterialFlag));
  EXPECT_EQ(MV1SetMeshUseVertDifColor(a->Handle, 2, 1), 0);
  EXPECT_EQ(MV1GetMeshUseVertDifColorBase(baseHandle, 2), 1);
  EXPECT_EQ(a->Frame[3].SemiTransStateSetupFlag, 0);
  EXPECT_EQ(a->Frame[0].SemiTransStateSetupFlag, 0);
  EXPECT_EQ(a->Frame[5].SemiTransStateSetupFlag, 1);
  EXPECT_EQ(a->SemiTransStateSetupFlag, 0);
  EXPECT_TRUE(BitSet(mesh->ChangeDrawMaterialFlag));
  EXPECT_TRUE(BitSet(b->Mesh[2].ChangeDrawMaterialFlag));  // every model of the base
  EXPECT_FALSE(BitSet(a->Frame[3].ChangeDrawMaterialFlag));
  EXPECT_EQ(MV1SetUseVertSpcColor(a->Handle, 1), 0);
  for (int i = 0; i < a->BaseData->MeshCount; ++i) EXPECT_EQ(MV1GetMeshUseVertSpcColorBase(baseHandle, i), 1);
  EXPECT_EQ(MV1SetUseVertDifColor(b->Handle, 1), 0);
  EXPECT_EQ(MV1GetMeshUseVertDifColorBase(baseHandle, 7), 1);
  EXPECT_EQ(MV1SetUseVertDifColor(b->Handle + 5, 1), -1);
  EXPECT_EQ(MV1SetMeshUseVertSpcColor(b->Handle, 99, 1), -1);
  EXPECT_EQ(MV1GetMeshUseVertDifColorBase(baseHandle, -1), -1);
  MV1Model* empty = CreateModel(ModelBaseBuilder().Build());
  EXPECT_EQ(MV1SetUseVertDifColor(empty->Handle, 1), 0);
  // Base getters.
  EXPECT_STREQ(MV1GetMaterialNameBase(baseHandle, 1), "mat1");
  EXPECT_EQ(MV1GetMaterialNormalMapBase(baseHandle, 0), 2);
  EXPECT_EQ(MV1GetMaterialNormalMapBase(baseHandle, 1), -1);
  EXPECT_EQ(MV1GetMaterialNameBase(baseHandle, 2), nullptr);
  EXPECT_STREQ(MV1GetTextureNameBase(baseHandle, 0), "tex0.png");
  EXPECT_EQ(MV1GetTextureGraphHandleBase(baseHandle, 1), -1);
  a->BaseData->Texture[1].UseUserGraph = 1;
  a->BaseData->Texture[1].UserGraphHandle = 77;
  EXPECT_EQ(MV1GetTextureGraphHandleBase(baseHandle, 1), 77);
  EXPECT_EQ(MV1GetTextureGraphHandleBase(baseHandle, 3), -1);
  a->BaseData->Texture[1].UseUserGraph = 0;
}

}  // namespace
