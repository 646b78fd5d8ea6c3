// Frame base matrices, conversions, local matrices, the model transform and frame user local
// matrices, and the laziness of MV1SetupMatrix against a rebuild from scratch.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include "tests/support/model_test.h"

namespace {

using ModelMatrixTest = ModelTest;

int CreateModel(int base) {
  int h = MV1AddModelHandle();
  return MV1CreateModelFromBase(h, base) == 0 ? h : -1;
}

bool SameBits(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

MATRIX Affine(uint32_t seed) {
  std::mt19937 rng(seed);
  auto r = [&]() { return static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 250.0f; };
  MATRIX m;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) m.m[i][j] = r();
  m.m[0][3] = m.m[1][3] = m.m[2][3] = 0;
  m.m[3][3] = 1;
  return m;
}

TEST_F(ModelMatrixTest, FrameBaseMatricesKindsAndWorldDownTheTree) {
  ModelBaseBuilder b;
  b.AddFrame(-1, {-0.0f, 0, 0}, {-0.0f, 0, 0}, {1, 1, 1});     // kind 0
  b.AddFrame(0, {0, -0.0f, 3}, {0, 0, 0}, {1, 1, 1});          // kind 1
  b.AddFrame(1, {1, 2, 3}, {0.5f, -0.25f, 1}, {2, 1, 0.5f});   // kind 2
  b.AddFrame(2, {0, 0, 0}, {0.3f, 0, 0}, {1, 1, 1});
  b.frames[2].rotateOrder = 4;
  b.frames[3].rotateOrder = 9;  // outside 0..5: built as order 0
  MV1ModelBase* base = MV1GetModelBaseChecked(b.Build());
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->Frame[0].LocalTransformMatrixType, 0);
  EXPECT_EQ(base->Frame[1].LocalTransformMatrixType, 1);
  EXPECT_EQ(base->Frame[2].LocalTransformMatrixType, 2);
  EXPECT_EQ(base->Frame[1].LocalTransformMatrix.m[2][3], 3.0f);
  MATRIX expectWorld;
  CreateIdentityMatrix(&expectWorld);
  for (int i = 0; i < 4; ++i) {
    const MV1FrameBase& f = base->Frame[i];
    MATRIX local;
    CreateTransformMatrix(&f.Rotate, &f.Scale, &f.Translate, nullptr, &local,
                          f.RotateOrder > 5 ? 0 : f.RotateOrder);
    if (f.LocalTransformMatrixType == 0) CreateIdentityMatrix(&local);
    if (f.LocalTransformMatrixType == 1) {
      CreateIdentityMatrix(&local);
      local.m[3][0] = f.Translate.x;
      local.m[3][1] = f.Translate.y;
      local.m[3][2] = f.Translate.z;
    }
    Matrix3x4 expectLocal;
    MatrixToMatrix3x4(&expectLocal, &local);
    EXPECT_TRUE(SameBits(&expectLocal, &f.LocalTransformMatrix, sizeof(Matrix3x4))) << i;
    CreateMultiplyMatrix(&expectWorld, &local, &expectWorld);  // local x parent's world
    Matrix3x4 w;
    MatrixToMatrix3x4(&w, &expectWorld);
    EXPECT_TRUE(SameBits(&w, &f.WorldMatrix, sizeof(Matrix3x4))) << i;
  }
}

TEST(ModelMatrixConversions, RoundTripAndLocalMatrixForms) {
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    MATRIX m = Affine(seed), back;
    Matrix3x4 c;
    MatrixToMatrix3x4(&c, &m);
    EXPECT_EQ(c.m[1][0], m.m[0][1]);
    EXPECT_EQ(c.m[2][3], m.m[3][2]);
    Matrix3x4ToMatrix(&back, &c);
    EXPECT_TRUE(SameBits(&m, &back, sizeof(MATRIX))) << seed;
  }
  // The first quaternion form is the transpose of the second for a unit quaternion.
  std::mt19937 rng(7);
  for (int i = 0; i < 20; ++i) {
    float q[4];
    float len = 0;
    for (float& v : q) {
      v = static_cast<float>(static_cast<int>(rng() % 2001) - 1000);
      len += v * v;
    }
    len = std::sqrt(len);
    MV1Float4 quat{q[0] / len, q[1] / len, q[2] / len, q[3] / len};
    Matrix3x4 a, b;
    MV1CalcFrameLocalMatrix(&a, MV1_FRAME_MATRIX_QUATERNION_X, nullptr, nullptr, nullptr, &quat, 0);
    MV1CalcFrameLocalMatrix(&b, MV1_FRAME_MATRIX_QUATERNION_V, nullptr, nullptr, nullptr, &quat, 0);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(a.m[r][c], b.m[c][r], 1e-6) << i;
    EXPECT_EQ(a.m[0][3], 0.0f);
  }
  // Euler in each order, then scale per column and the translation.
  VECTOR t{1, 2, 3}, s{2, 3, 4}, r{0.5f, -1.0f, 0.25f};
  using Builder = void (*)(Matrix3x4*, float, float, float);
  const Builder builders[6] = {MV1RotationMatrixXYZ, MV1RotationMatrixXZY, MV1RotationMatrixYZX,
                               MV1RotationMatrixYXZ, MV1RotationMatrixZXY, MV1RotationMatrixZYX};
  for (int order = 0; order < 6; ++order) {
    Matrix3x4 got, want;
    MV1CalcFrameLocalMatrix(&got, 1 | 2 | 4, &t, &s, &r, nullptr, order);
    builders[order](&want, r.x, r.y, r.z);
    for (int row = 0; row < 3; ++row) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(got.m[row][c], want.m[row][c] * (&s.x)[c]);
      EXPECT_EQ(got.m[row][3], (&t.x)[row]);
    }
  }
  Matrix3x4 kept;
  for (auto& row : kept.m)
    for (float& v : row) v = 7.0f;
  MV1CalcFrameLocalMatrix(&kept, 4, &t, &s, &r, nullptr, 6);  // unknown order: block untouched
  EXPECT_EQ(kept.m[1][1], 7.0f);
  EXPECT_EQ(kept.m[1][3], 0.0f);
  MV1CalcFrameLocalMatrix(&kept, 0, &t, &s, &r, nullptr, 0);
  EXPECT_EQ(kept.m[1][1], 1.0f);
  EXPECT_EQ(kept.m[0][1], 0.0f);
}

TEST_F(ModelMatrixTest, ModelTransformSettersAndGetters) {
  int base = ReferenceBaseBuilder().Build();
  int h = CreateModel(base);
  MV1Model* m = MV1GetModelChecked(h);
  ASSERT_EQ(m->ValidMatrix, 1);
  // The same value again changes nothing.
  EXPECT_EQ(MV1SetPosition(h, VECTOR{0, 0, 0}), 0);
  EXPECT_EQ(m->ValidMatrix, 1);
  EXPECT_EQ(MV1SetPosition(h, VECTOR{-0.0f, 0, 0}), 0);  // -0 differs from 0
  EXPECT_EQ(m->ValidMatrix, 0);
  EXPECT_EQ(m->ChangeMatrixFlag[0], 0xFFFFFFFFu);
  // R.S.T: the scale acts along the world axes after the rotation.
  VECTOR pos{5, -2, 7}, scale{2, 1, 0.5f}, rot{0.3f, 1.1f, -0.7f};
  MV1SetPosition(h, pos);
  MV1SetScale(h, scale);
  MV1SetRotationXYZ(h, rot);
  MATRIX R, S, T, RS, RST;
  CreateRotationXYZMatrix(&R, rot.x, rot.y, rot.z);
  CreateScalingMatrix(&S, 2, 1, 0.5f);
  CreateTranslationMatrix(&T, 5, -2, 7);
  CreateMultiplyMatrix(&RS, &R, &S);
  CreateMultiplyMatrix(&RST, &RS, &T);
  MATRIX got = MV1GetMatrix(h);
  EXPECT_TRUE(SameBits(&got, &RST, sizeof(MATRIX)));
  EXPECT_EQ(MV1GetRotationXYZ(h).y, 1.1f);
  EXPECT_EQ(MV1GetScale(h).z, 0.5f);
  EXPECT_EQ(MV1GetPosition(h).x, 5.0f);
  // A user matrix replaces the transform; the identity returns to it.
  MATRIX user = Affine(3);
  EXPECT_EQ(MV1SetMatrix(h, user), 0);
  got = MV1GetMatrix(h);
  EXPECT_TRUE(SameBits(&got, &user, sizeof(MATRIX)));
  MV1SetupMatrix(m);
  EXPECT_EQ(MV1SetMatrix(h, user), 0);
  EXPECT_EQ(m->ValidMatrix, 1);  // the same matrix again
  EXPECT_EQ(MV1SetMatrix(h, MGetIdent()), 0);
  EXPECT_EQ(m->UseUserMatrix, 0);
  got = MV1GetMatrix(h);
  EXPECT_TRUE(SameBits(&got, &RST, sizeof(MATRIX)));
  MV1SetupMatrix(m);
  EXPECT_EQ(MV1SetMatrix(h, MGetIdent()), 0);
  EXPECT_EQ(m->ValidMatrix, 1);
  // Bad handles.
  EXPECT_EQ(MV1SetPosition(h + 1, pos), -1);
  EXPECT_EQ(MV1GetPosition(h + 1).x, 0.0f);
  MATRIX ident = MGetIdent();
  got = MV1GetMatrix(h + 1);
  EXPECT_TRUE(SameBits(&got, &ident, sizeof(MATRIX)));
}

TEST_F(ModelMatrixTest, RotationByAxes) {
  int h = CreateModel(ReferenceBaseBuilder().Build());
  MV1Model* m = MV1GetModelChecked(h);
  VECTOR z{0, 0, 2}, y{1, 1, 0};
  ASSERT_EQ(MV1SetRotationZYAxis(h, z, y, 0.5f), 0);
  EXPECT_EQ(m->RotationType, 3);
  const VECTOR& Z = m->Rotation.ZYAxis.ZAxis;
  const VECTOR& Y = m->Rotation.ZYAxis.YAxis;
  EXPECT_EQ(Z.z, 1.0f);
  EXPECT_EQ(Y.z, 0.0f);
  EXPECT_FLOAT_EQ(Y.x, std::sqrt(0.5f));
  EXPECT_EQ(m->Rotation.ZYAxis.ZTwist, 0.5f);
  MV1SetupMatrix(m);
  EXPECT_EQ(MV1SetRotationZYAxis(h, z, y, 0.5f), 0);  // always a change
  EXPECT_EQ(m->ValidMatrix, 0);
  MATRIX got = MV1GetMatrix(h);
  VECTOR x;
  VectorCross(&x, &Y, &Z);
  MATRIX want = MGetAxis1(x, Y, Z, VECTOR{0, 0, 0}), S, T;
  CreateScalingMatrix(&S, 1, 1, 1);
  CreateTranslationMatrix(&T, 0, 0, 0);
  CreateMultiplyMatrix(&want, &want, &S);
  CreateMultiplyMatrix(&want, &want, &T);
  EXPECT_TRUE(SameBits(&got, &want, sizeof(MATRIX)));
  // A zero axis or y along z would poison every matrix: refused, nothing stored.
  MV1SetupMatrix(m);
  EXPECT_EQ(MV1SetRotationZYAxis(h, VECTOR{0, 0, 0}, y, 0), -1);
  EXPECT_EQ(MV1SetRotationZYAxis(h, z, VECTOR{0, 0, -3}, 0), -1);
  EXPECT_EQ(MV1SetRotationZYAxis(h, z, VECTOR{0, 0, 0}, 0), -1);
  EXPECT_EQ(m->ValidMatrix, 1);
  EXPECT_EQ(Y.z, 0.0f);
  // Euler angles switch back.
  EXPECT_EQ(MV1SetRotationXYZ(h, VECTOR{0, 0, 0}), 0);
  EXPECT_EQ(m->RotationType, 0);
}

TEST_F(ModelMatrixTest, FrameUserLocalMatricesAndQueries) {
  int h = CreateModel(ReferenceBaseBuilder().Build());
  MV1Model* m = MV1GetModelChecked(h);
  MV1SetPosition(h, VECTOR{1, 2, 3});
  // Computed on demand by the query.
  VECTOR p = MV1GetFramePosition(h, 2);
  EXPECT_EQ(m->ValidMatrix, 1);
  EXPECT_EQ(p.x, m->Frame[2].WorldMatrix.m[0][3]);
  uint32_t setA[2] = {m->ChangeDrawMaterialFlag[0], m->ChangeDrawMaterialFlag[1]};
  MATRIX user = Affine(9);
  ASSERT_EQ(MV1SetFrameUserLocalMatrix(h, 1, user), 0);
  EXPECT_EQ(m->ValidMatrix, 0);
  // Change set B only: frame 1 and its subtree (2 and 6), not its siblings.
  const MV1ChangeFlag& f1 = m->Frame[1].ChangeMatrixFlag;
  EXPECT_NE(*f1.Word & f1.Info->OwnBit, 0u);
  EXPECT_NE(*m->Frame[6].ChangeMatrixFlag.Word & m->Frame[6].ChangeMatrixFlag.Info->OwnBit, 0u);
  EXPECT_EQ(*m->Frame[3].ChangeMatrixFlag.Word & m->Frame[3].ChangeMatrixFlag.Info->OwnBit, 0u);
  EXPECT_EQ(m->ChangeDrawMaterialFlag[0], setA[0]);
  EXPECT_EQ(m->ChangeDrawMaterialFlag[1], setA[1]);
  MATRIX local = MV1GetFrameLocalMatrix(h, 1);
  EXPECT_TRUE(SameBits(&local, &user, sizeof(MATRIX)));
  Matrix3x4 ul, world;
  MatrixToMatrix3x4(&ul, &user);
  MV1MultiplyMatrix3x4(&m->Frame[0].WorldMatrix, &world, &ul);
  MATRIX lw = MV1GetFrameLocalWorldMatrix(h, 1), want;
  Matrix3x4ToMatrix(&want, &world);
  EXPECT_TRUE(SameBits(&lw, &want, sizeof(MATRIX)));
  EXPECT_EQ(MV1ResetFrameUserLocalMatrix(h, 1), 0);
  EXPECT_EQ(m->ValidMatrix, 0);
  MV1SetupMatrix(m);
  EXPECT_EQ(MV1ResetFrameUserLocalMatrix(h, 1), 0);
  EXPECT_EQ(m->ValidMatrix, 1);  // nothing was set
  local = MV1GetFrameLocalMatrix(h, 1);
  Matrix3x4ToMatrix(&want, &m->BaseData->Frame[1].LocalTransformMatrix);
  EXPECT_TRUE(SameBits(&local, &want, sizeof(MATRIX)));
  // Frame indices out of range.
  MATRIX ident = MGetIdent();
  for (int bad : {-1, 8}) {
    EXPECT_EQ(MV1SetFrameUserLocalMatrix(h, bad, user), -1);
    EXPECT_EQ(MV1ResetFrameUserLocalMatrix(h, bad), -1);
    EXPECT_EQ(MV1GetFramePosition(h, bad).y, 0.0f);
    MATRIX r = MV1GetFrameLocalMatrix(h, bad);
    EXPECT_TRUE(SameBits(&r, &ident, sizeof(MATRIX)));
    r = MV1GetFrameLocalWorldMatrix(h, bad);
    EXPECT_TRUE(SameBits(&r, &ident, sizeof(MATRIX)));
  }
  // Skin bones: world x offset, or only the offset's translation moved by the world.
  MV1ModelBase* base = m->BaseData;
  for (int k = 0; k < base->SkinBoneCount; ++k) {
    const MV1SkinBoneBase& bone = base->SkinBone[k];
    int frame = 0;
    while (!(base->Frame[frame].SkinBone <= &bone &&
             &bone < base->Frame[frame].SkinBone + base->Frame[frame].SkinBoneCount))
      ++frame;
    Matrix3x4 expect;
    if (bone.TranslateOnly)
      MV1MultiplyMatrix3x4Translate(&m->Frame[frame].WorldMatrix, &expect, &bone.ModelLocalMatrix);
    else
      MV1MultiplyMatrix3x4(&m->Frame[frame].WorldMatrix, &expect, &bone.ModelLocalMatrix);
    EXPECT_TRUE(SameBits(&expect, &m->SkinBoneMatrix[k], sizeof(Matrix3x4))) << k;
  }
}

// Every matrix of the model rebuilt from scratch, without change bits.
void RebuildFromScratch(MV1Model* m, Matrix3x4* model, std::vector<Matrix3x4>* frames,
                        std::vector<Matrix3x4>* bones) {
  if (m->UseUserMatrix) {
    *model = m->UserMatrix;
  } else {
    MATRIX R, S, T, RS, RST;
    CreateRotationXYZMatrix(&R, m->Rotation.XYZ.x, m->Rotation.XYZ.y, m->Rotation.XYZ.z);
    CreateScalingMatrix(&S, m->Scale.x, m->Scale.y, m->Scale.z);
    CreateTranslationMatrix(&T, m->Translation.x, m->Translation.y, m->Translation.z);
    CreateMultiplyMatrix(&RS, &R, &S);
    CreateMultiplyMatrix(&RST, &RS, &T);
    MatrixToMatrix3x4(model, &RST);
  }
  MV1ModelBase* base = m->BaseData;
  frames->resize(base->FrameCount);
  bones->resize(base->SkinBoneCount);
  for (int i = 0; i < base->FrameCount; ++i) {
    const MV1Frame& f = m->Frame[i];
    const Matrix3x4* parent = f.Parent ? &(*frames)[f.Parent - m->Frame] : model;
    const Matrix3x4* local = f.UseUserLocalMatrix ? &f.UserLocalMatrix : &f.Base->LocalTransformMatrix;
    MV1MultiplyMatrix3x4(parent, &(*frames)[i], local);
    for (int k = 0; k < f.Base->SkinBoneCount; ++k) {
      const MV1SkinBoneBase* bone = &f.Base->SkinBone[k];
      Matrix3x4* out = &(*bones)[bone - base->SkinBone];
      if (bone->TranslateOnly) MV1MultiplyMatrix3x4Translate(&(*frames)[i], out, &bone->ModelLocalMatrix);
      else MV1MultiplyMatrix3x4(&(*frames)[i], out, &bone->ModelLocalMatrix);
    }
  }
}

TEST_F(ModelMatrixTest, LazySetupEqualsRebuildFromScratch) {
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    SCOPED_TRACE(seed);
    ModelBaseBuilder b = seed % 3 == 0 ? ReferenceBaseBuilder() : RandomTreeBuilder(seed, 40, 20);
    int h = CreateModel(b.Build());
    MV1Model* m = MV1GetModelChecked(h);
    int frames = m->BaseData->FrameCount;
    std::mt19937 rng(seed * 7919);
    auto f = [&]() { return static_cast<float>(static_cast<int>(rng() % 401) - 200) / 50.0f; };
    for (int step = 0; step < 200; ++step) {
      switch (rng() % 7) {
        case 0: MV1SetPosition(h, VECTOR{f(), f(), f()}); break;
        case 1: MV1SetScale(h, VECTOR{f(), f(), f()}); break;
        case 2: MV1SetRotationXYZ(h, VECTOR{f(), f(), f()}); break;
        case 3: MV1SetMatrix(h, rng() % 2 ? MGetIdent() : Affine(rng())); break;
        case 4: MV1SetFrameUserLocalMatrix(h, rng() % frames, Affine(rng())); break;
        case 5: MV1ResetFrameUserLocalMatrix(h, rng() % frames); break;
        default: MV1SetupMatrix(m); break;
      }
      if (rng() % 4) continue;
      MV1SetupMatrix(m);
      Matrix3x4 model;
      std::vector<Matrix3x4> worlds, bones;
      RebuildFromScratch(m, &model, &worlds, &bones);
      ASSERT_TRUE(SameBits(&model, &m->Matrix, sizeof(Matrix3x4))) << step;
      for (int i = 0; i < frames; ++i)
        ASSERT_TRUE(SameBits(&worlds[i], &m->Frame[i].WorldMatrix, sizeof(Matrix3x4))) << step << " " << i;
      for (size_t k = 0; k < bones.size(); ++k)
        ASSERT_TRUE(SameBits(&bones[k], &m->SkinBoneMatrix[k], sizeof(Matrix3x4))) << step << " " << k;
    }
    MV1DeleteModel(h);
  }
}

}  // namespace
