// Animation: attach slots, key search, interpolation, matrix mode, the blend of several anims,
// anims of other models, hostile bases and allocation failures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include <qzlib/base/memory.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include "tests/support/model_test.h"

namespace {

using ModelAnimTest = ModelTest;

constexpr int kVec = 1, kFloat = 5, kQuatX = 0, kQuatV = 7;
constexpr int kRotate = 0, kRotateX = 1, kScale = 5, kTranslate = 10, kTranslateX = 11, kShape = 18;

MV1Model* ModelOf(int handle) { return MV1GetModelChecked(handle); }

bool Same(const VECTOR& a, const VECTOR& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A two-frame chain (frame 1 under frame 0) with the given anims driving frame 1.
int TwoFrameModel(std::vector<TestAnim> anims, VECTOR baseTranslate = {0, 2, 0}) {
  ModelBaseBuilder b;
  b.AddFrame(-1, {1, 0, 0});
  b.AddFrame(0, baseTranslate);
  b.anims = std::move(anims);
  return CreateTestModel(b.Build());
}

TestAnim OneFrameAnim(const char* name, float total, std::vector<TestKeySet> keys, int frame = 1) {
  TestAnim a;
  a.name = name;
  a.totalTime = total;
  TestAnimFrame af;
  af.frame = frame;
  af.keySets = std::move(keys);
  a.frames.push_back(af);
  return a;
}

VECTOR FramePos(int model, int frame) { return MV1GetFramePosition(model, frame); }

bool AllFinite(int modelHandle) {
  MV1Model* m = ModelOf(modelHandle);
  MV1SetupMatrix(m);
  for (int i = 0; i < m->BaseData->FrameCount; ++i)
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c)
        if (!std::isfinite(m->Frame[i].WorldMatrix.m[r][c])) return false;
  return true;
}

MV1AnimState* StateOf(int modelHandle, int slot) { return ModelOf(modelHandle)->AttachSlot[slot].State; }

// Slerp written in double from the definition, along the shorter arc.
void RefSlerp(const double* a, const double* b, double r, double* out) {
  double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  double sign = d < 0 ? -1 : 1;
  double th = std::acos(std::fabs(d));
  double ka = std::sin((1 - r) * th) / std::sin(th), kb = sign * std::sin(r * th) / std::sin(th);
  for (int i = 0; i < 4; ++i) out[i] = ka * a[i] + kb * b[i];
}

TEST_F(ModelAnimTest, TimeClampsAndAnimQueries) {
  int m = TwoFrameModel({OneFrameAnim("walk", 10, {ExplicitKeys(kVec, kTranslate, {0, 10}, {0, 0, 0, 10, 0, 0})}),
                         OneFrameAnim("run", 4, {})});
  ASSERT_NE(m, -1);
  EXPECT_EQ(MV1GetAnimNum(m), 2);
  EXPECT_STREQ(MV1GetAnimName(m, 1), "run");
  EXPECT_EQ(MV1GetAnimIndex(m, "run"), 1);
  EXPECT_EQ(MV1GetAnimIndex(m, "fly"), -1);
  EXPECT_EQ(MV1GetAnimTotalTime(m, 1), 4.0f);
  int slot = MV1AttachAnim(m, 0, -1, 0);
  ASSERT_EQ(slot, 0);
  EXPECT_EQ(MV1GetAttachAnim(m, slot), 0);
  EXPECT_EQ(MV1GetAttachAnimTotalTime(m, slot), 10.0f);
  const struct { float set, got; } cases[] = {{25, 10}, {-3, 0}, {4.5f, 4.5f}, {10, 10}, {NAN, NAN}};
  for (auto c : cases) {
    EXPECT_EQ(MV1SetAttachAnimTime(m, slot, c.set), 0);
    float t = MV1GetAttachAnimTime(m, slot);
    if (std::isnan(c.got)) continue;  // a not-a-number time is stored as given; it must stay harmless
    EXPECT_EQ(t, c.got) << c.set;
  }
  EXPECT_TRUE(AllFinite(m));
  MV1SetAttachAnimTime(m, slot, 2.5f);
  EXPECT_FLOAT_EQ(FramePos(m, 1).x, 1 + 2.5f);
}

TEST_F(ModelAnimTest, FailureValuesChangeNothing) {
  int m = TwoFrameModel({OneFrameAnim("a", 1, {})});
  ASSERT_EQ(MV1AttachAnim(m, 0, -1, 0), 0);
  const int badHandles[] = {-1, 0, m + 1, MV1_MODEL_BASE_HANDLE_TAG};
  for (int h : badHandles) {
    EXPECT_EQ(MV1AttachAnim(h, 0, -1, 0), -1);
    EXPECT_EQ(MV1DetachAnim(h, 0), -1);
    EXPECT_EQ(MV1SetAttachAnimTime(h, 0, 1), -1);
    EXPECT_EQ(MV1GetAttachAnimTime(h, 0), -1.0f);
    EXPECT_EQ(MV1GetAttachAnimTotalTime(h, 0), -1.0f);
    EXPECT_EQ(MV1SetAttachAnimBlendRate(h, 0, 1), -1);
    EXPECT_EQ(MV1GetAttachAnimBlendRate(h, 0), -1.0f);
    EXPECT_EQ(MV1GetAttachAnim(h, 0), -1);
    EXPECT_EQ(MV1GetAnimNum(h), -1);
    EXPECT_EQ(MV1GetAnimName(h, 0), nullptr);
    EXPECT_EQ(MV1GetAnimIndex(h, "a"), -1);
    EXPECT_EQ(MV1GetAnimTotalTime(h, 0), -1.0f);
  }
  for (int slot : {-1, 1, 3, 4}) {  // 1..3 exist but are not in use; 4 is beyond the capacity
    EXPECT_EQ(MV1SetAttachAnimTime(m, slot, 1), -1);
    EXPECT_EQ(MV1GetAttachAnimTime(m, slot), -1.0f);
    EXPECT_EQ(MV1GetAttachAnimTotalTime(m, slot), -1.0f);
    EXPECT_EQ(MV1SetAttachAnimBlendRate(m, slot, 1), -1);
    EXPECT_EQ(MV1GetAttachAnimBlendRate(m, slot), -1.0f);
    EXPECT_EQ(MV1GetAttachAnim(m, slot), -1);
  }
  EXPECT_EQ(MV1DetachAnim(m, -1), -1);
  EXPECT_EQ(MV1DetachAnim(m, 4), -1);
  EXPECT_EQ(MV1DetachAnim(m, 2), 0);  // a free slot within the capacity
  for (int index : {-1, 1, 100}) {
    EXPECT_EQ(MV1AttachAnim(m, index, -1, 0), -1);
    EXPECT_EQ(MV1GetAnimName(m, index), nullptr);
    EXPECT_EQ(MV1GetAnimTotalTime(m, index), -1.0f);
  }
  EXPECT_EQ(MV1AttachAnim(m, 0, m + 7, 1), -1);
  EXPECT_EQ(ModelOf(m)->AttachAnimCount, 1);
}

TEST_F(ModelAnimTest, KeySearchMatchesTheLastKeyNotAfterTheTime) {
  // Uneven explicit times make the first guess land before and after the key; uniform keys too.
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    int n = 2 + static_cast<int>(rng() % 30);
    std::vector<float> times, values;
    float t = 0;
    for (int k = 0; k < n; ++k) {
      times.push_back(t);
      values.push_back(static_cast<float>(k));
      t += (rng() % 3 == 0) ? 5.0f : 0.25f * static_cast<float>(1 + rng() % 4);
    }
    float total = times.back();
    TestKeySet uniform;
    uniform.type = kFloat;
    uniform.component = kTranslateX;
    uniform.timeType = 0;
    uniform.step = 0.5f;
    uniform.start = 1.0f;
    uniform.values = values;
    ModelBaseBuilder b;
    b.AddFrame(-1);
    b.anims.push_back(OneFrameAnim("a", total, {ExplicitKeys(kFloat, kTranslateX, times, values), uniform}, 0));
    int m = CreateTestModel(b.Build());
    int slot = MV1AttachAnim(m, 0, -1, 0);
    for (int s = 0; s < 50; ++s) {
      float at = total * static_cast<float>(s) / 49.0f;
      MV1SetAttachAnimTime(m, slot, at);
      MV1AnimFrameState* fs = &StateOf(m, slot)->FrameState[0];
      int expect = 0;
      for (int k = 0; k < n; ++k)
        if (times[k] <= at) expect = k;
      EXPECT_EQ(fs->Cursor[0].KeyIndex, expect) << at;
      int uniformExpect = std::min(n - 1, std::max(0, static_cast<int>((at - 1.0f) / 0.5f)));
      EXPECT_EQ(fs->Cursor[1].KeyIndex, uniformExpect) << at;
      int next;
      float rate = MV1AnimKeyRate(&fs->Cursor[0], at, &next);
      if (expect == n - 1) {
        EXPECT_EQ(next, 0);
        EXPECT_EQ(rate, 0.0f);
      } else {
        EXPECT_EQ(next, expect + 1);
        EXPECT_EQ(rate, (at - times[expect]) / (times[expect + 1] - times[expect]));
      }
    }
    MV1DeleteModel(m);
  }
}

TEST_F(ModelAnimTest, RateAndTheExactLastKey) {
  int m = TwoFrameModel({OneFrameAnim("a", 3, {ExplicitKeys(kVec, kTranslate, {0, 1, 3},
                                                            {0, 0, 0, 0.3f, 0, 0, 0.7f, 0.1f, 0.9f})})});
  int slot = MV1AttachAnim(m, 0, -1, 0);
  MV1SetAttachAnimTime(m, slot, 2.0f);
  MV1SetupMatrix(ModelOf(m));
  MV1AnimFrameState* fs = &StateOf(m, slot)->FrameState[0];
  EXPECT_EQ(fs->Translate.x, 0.3f + (0.7f - 0.3f) * 0.5f);
  MV1SetAttachAnimTime(m, slot, 3.0f);
  MV1SetupMatrix(ModelOf(m));
  EXPECT_EQ(fs->Translate.x, 0.7f);
  EXPECT_EQ(fs->Translate.y, 0.1f);
  EXPECT_EQ(fs->Translate.z, 0.9f);
  EXPECT_EQ(fs->Flags, MV1_FRAME_MATRIX_TRANSLATE);
}

TEST_F(ModelAnimTest, QuaternionSlerpAgainstDoubleReference) {
  const float keys[][8] = {
      {0, 0, 0, 1, 0, 0.6f, 0, 0.8f},                       // positive dot
      {0, 0, 0.6f, 0.8f, 0, 0, -0.8f, -0.6f},               // negative dot: shorter arc
      {0.5f, 0.5f, 0.5f, 0.5f, -0.5f, -0.5f, 0.5f, -0.5f},  // dot -0.5
  };
  for (auto& k : keys) {
    for (int type : {kQuatX, kQuatV}) {
      int m = TwoFrameModel({OneFrameAnim("q", 1, {ExplicitKeys(type, kRotate, {0, 1},
                                                                std::vector<float>(k, k + 8))})});
      int slot = MV1AttachAnim(m, 0, -1, 0);
      for (float r : {0.0f, 0.25f, 0.5f, 0.9f}) {
        MV1SetAttachAnimTime(m, slot, r);
        MV1SetupMatrix(ModelOf(m));
        const MV1AnimFrameState& fs = StateOf(m, slot)->FrameState[0];
        double a[4], b[4], expect[4];
        for (int i = 0; i < 4; ++i) a[i] = k[i], b[i] = k[4 + i];
        RefSlerp(a, b, r, expect);
        EXPECT_NEAR(fs.Quaternion.x, expect[0], 2e-6);
        EXPECT_NEAR(fs.Quaternion.y, expect[1], 2e-6);
        EXPECT_NEAR(fs.Quaternion.z, expect[2], 2e-6);
        EXPECT_NEAR(fs.Quaternion.w, expect[3], 2e-6);
        bool identity = fs.Quaternion.x == 0 && fs.Quaternion.y == 0 && fs.Quaternion.z == 0 &&
                        fs.Quaternion.w == 1;
        int qflag = type == kQuatX ? MV1_FRAME_MATRIX_QUATERNION_X : MV1_FRAME_MATRIX_QUATERNION_V;
        EXPECT_EQ(fs.Flags & qflag, identity ? 0 : qflag);
      }
      MV1DeleteModel(m);
    }
  }
}

TEST_F(ModelAnimTest, AdditiveTranslateMovesFromTheBase) {
  TestAnim add = OneFrameAnim("add", 1, {ExplicitKeys(kFloat, kTranslateX, {0, 1}, {1, 1})});
  add.additive = true;
  int m = TwoFrameModel({add}, {0.5f, 2, 0});
  MV1AttachAnim(m, 0, -1, 0);
  VECTOR p = FramePos(m, 1);
  EXPECT_EQ(p.x, 1 + 1.5f);
  EXPECT_EQ(p.y, 2.0f);
  // Not additive: the key replaces the base value.
  add.additive = false;
  int n = TwoFrameModel({add}, {0.5f, 2, 0});
  MV1AttachAnim(n, 0, -1, 0);
  EXPECT_EQ(FramePos(n, 1).x, 2.0f);
}

TEST_F(ModelAnimTest, WideRotationStepSwitchesEveryFrameToKeyMatrices) {
  ModelBaseBuilder b;
  b.AddFrame(-1);
  b.AddFrame(0, {0, 1, 0});
  b.AddFrame(1, {0, 1, 0}, {0.2f, 0, 0});
  TestAnim a = OneFrameAnim("wide", 2, {ExplicitKeys(kVec, kTranslate, {0, 2}, {0, 1, 0, 0, 2, 0})}, 1);
  TestAnimFrame second;
  second.frame = 2;
  second.keySets.push_back(ExplicitKeys(kFloat, kRotateX, {0, 2}, {0, 2.0f}));
  a.frames.push_back(second);
  b.anims.push_back(a);
  TestAnim narrow = a;
  narrow.name = "narrow";
  narrow.frames[1].keySets[0].values = {0, 1.5f};
  b.anims.push_back(narrow);
  int m = CreateTestModel(b.Build());
  int wide = MV1AttachAnim(m, 0, -1, 0);
  int slow = MV1AttachAnim(m, 1, -1, 0);
  MV1SetAttachAnimTime(m, wide, 1.0f);
  MV1SetAttachAnimTime(m, slow, 1.0f);
  MV1SetupMatrix(ModelOf(m));
  for (int f = 0; f < 2; ++f) {
    EXPECT_EQ(StateOf(m, wide)->FrameState[f].Flags, MV1_FRAME_MATRIX_KEY_MATRIX) << f;
    EXPECT_NE(StateOf(m, slow)->FrameState[f].Flags & MV1_FRAME_MATRIX_KEY_MATRIX, 16) << f;
  }
  // Matrix mode: sine and cosine interpolated linearly, so the X axis row shortens between keys.
  const Matrix3x4& k = StateOf(m, wide)->FrameState[1].KeyMatrix;
  float s0, c0, s1, c1;
  MV1SinCos(0, &s0, &c0);
  MV1SinCos(2.0f, &s1, &c1);
  float s = s0 + (s1 - s0) * 0.5f, c = c0 + (c1 - c0) * 0.5f;
  EXPECT_FLOAT_EQ(k.m[1][1], c);
  EXPECT_FLOAT_EQ(k.m[2][1], s);
  EXPECT_LT(c * c + s * s, 0.9f);
  EXPECT_EQ(StateOf(m, wide)->FrameState[0].KeyMatrix.m[1][3], 1.5f);
}

TEST_F(ModelAnimTest, MatrixModeQuaternionAtRateZeroFallsBackToTheStartRotation) {
  TestAnim a = OneFrameAnim("m", 1, {ExplicitKeys(kQuatX, kRotate, {0, 1}, {0, 0, 0.6f, 0.8f, 0, 0, 0, 1})});
  a.matrixMode = true;
  int m = TwoFrameModel({a});
  int slot = MV1AttachAnim(m, 0, -1, 0);
  MV1SetupMatrix(ModelOf(m));
  const Matrix3x4& k = StateOf(m, slot)->FrameState[0].KeyMatrix;
  EXPECT_EQ(k.m[0][0], 1.0f);  // base rotate (0, 0, 0): identity, not the first key
  EXPECT_EQ(k.m[0][1], 0.0f);
  MV1SetAttachAnimTime(m, slot, 0.5f);
  MV1SetupMatrix(ModelOf(m));
  Matrix3x4 qa, qb;
  MV1Float4 q0{0, 0, 0.6f, 0.8f}, q1{0, 0, 0, 1};
  MV1CalcFrameLocalMatrix(&qa, 8, nullptr, nullptr, nullptr, &q0, 0);
  MV1CalcFrameLocalMatrix(&qb, 8, nullptr, nullptr, nullptr, &q1, 0);
  EXPECT_FLOAT_EQ(k.m[0][1], qa.m[0][1] + (qb.m[0][1] - qa.m[0][1]) * 0.5f);
}

TEST_F(ModelAnimTest, BlendOfTwoAnimsAndTheFrameLocalMatrix) {
  // Anim 0 scales and moves, anim 1 rotates about Z; frame 1 has no base rotation or scale.
  TestAnim scale = OneFrameAnim("s", 1, {ExplicitKeys(kVec, kScale, {0, 1}, {2, 2, 2, 2, 2, 2}),
                                         ExplicitKeys(kVec, kTranslate, {0, 1}, {0, 4, 0, 0, 4, 0})});
  TestAnim turn = OneFrameAnim("t", 1, {ExplicitKeys(kVec, kRotate, {0, 1}, {0, 0, 0.5f, 0, 0, 0.5f})});
  TestAnim quat = OneFrameAnim("q", 1, {ExplicitKeys(kQuatX, kRotate, {0, 1}, {0, 0.6f, 0, 0.8f, 0, 0.6f, 0, 0.8f})});
  int m = TwoFrameModel({scale, turn, quat});
  MV1Model* model = ModelOf(m);
  int s0 = MV1AttachAnim(m, 0, -1, 0);
  // One anim at 0.5 is applied whole; the frame query gives the set-up's local matrix.
  MV1SetAttachAnimBlendRate(m, s0, 0.5f);
  EXPECT_EQ(MV1GetAttachAnimBlendRate(m, s0), 0.5f);
  MATRIX local = MV1GetFrameLocalMatrix(m, 1);
  EXPECT_EQ(local.m[0][0], 2.0f);
  EXPECT_EQ(local.m[3][1], 4.0f);
  Matrix3x4 world;
  Matrix3x4 l34;
  MatrixToMatrix3x4(&l34, &local);
  MV1MultiplyMatrix3x4(&model->Frame[0].WorldMatrix, &world, &l34);
  EXPECT_EQ(std::memcmp(&world, &model->Frame[1].WorldMatrix, sizeof world), 0);

  // Two at 0.5: the matrix blend has unit rows; the query blends components instead.
  int s1 = MV1AttachAnim(m, 1, -1, 0);
  MV1SetAttachAnimBlendRate(m, s1, 0.5f);
  MV1SetupMatrix(model);
  const Matrix3x4& w = model->Frame[1].WorldMatrix;
  for (int r = 0; r < 3; ++r)
    EXPECT_NEAR(w.m[r][0] * w.m[r][0] + w.m[r][1] * w.m[r][1] + w.m[r][2] * w.m[r][2], 1.0, 1e-5);
  local = MV1GetFrameLocalMatrix(m, 1);
  Matrix3x4 expect;
  VECTOR t{0, 2 + 0.5f * 2, 0}, sc{1.5f, 1.5f, 1.5f}, rot{0, 0, 0.25f};
  MV1CalcFrameLocalMatrix(&expect, 1 | 2 | 4, &t, &sc, &rot, nullptr, 0);
  Matrix3x4 got;
  MatrixToMatrix3x4(&got, &local);
  EXPECT_EQ(std::memcmp(&got, &expect, sizeof got), 0);

  // Euler with a first-form quaternion: the query uses the matrix blend of the set-up.
  int s2 = MV1AttachAnim(m, 2, -1, 0);
  MV1SetAttachAnimBlendRate(m, s0, 0.0f);
  MV1SetupMatrix(model);
  local = MV1GetFrameLocalMatrix(m, 1);
  MatrixToMatrix3x4(&got, &local);
  Matrix3x4 blended;
  ASSERT_EQ(MV1AnimFrameLocalMatrix(model, &model->Frame[1], &blended), 2);
  EXPECT_EQ(std::memcmp(&got, &blended, sizeof got), 0);
  EXPECT_EQ(s2, 2);
}

TEST_F(ModelAnimTest, FrameQueryBlendsComponentsUnlessEulerMeetsAQuaternion) {
  TestAnim rot = OneFrameAnim("rot", 1, {ExplicitKeys(kVec, kRotate, {0, 1}, {0, 0, 0.5f, 0, 0, 0.5f})});
  TestAnim qx = OneFrameAnim("qx", 1, {ExplicitKeys(kQuatX, kRotate, {0, 1}, {0, 0.6f, 0, 0.8f, 0, 0.6f, 0, 0.8f})});
  TestAnim qv = qx;
  qv.name = "qv";
  qv.frames[0].keySets[0].type = kQuatV;
  TestAnim mv = OneFrameAnim("mv", 1, {ExplicitKeys(kVec, kTranslate, {0, 1}, {0, 4, 0, 0, 4, 0})});
  const struct {
    int a, b;
    bool matrixBlend;
  } cases[] = {{0, 1, true}, {0, 2, true}, {3, 1, false}, {3, 2, false}};
  for (auto c : cases) {
    SCOPED_TRACE(c.a * 10 + c.b);
    int m = TwoFrameModel({rot, qx, qv, mv});
    MV1Model* model = MV1GetModelChecked(m);
    for (int anim : {c.a, c.b}) MV1SetAttachAnimBlendRate(m, MV1AttachAnim(m, anim, -1, 0), 0.5f);
    MATRIX local = MV1GetFrameLocalMatrix(m, 1);
    Matrix3x4 got, expect;
    MatrixToMatrix3x4(&got, &local);
    if (c.matrixBlend) {
      ASSERT_EQ(MV1AnimFrameLocalMatrix(model, &model->Frame[1], &expect), 2);
    } else {
      VECTOR t{0, 2 + 0.5f * (4 - 2), 0}, sc{1, 1, 1}, r{0, 0, 0};
      MV1Float4 q{0, 0.5f * 0.6f, 0, 1 + 0.5f * (0.8f - 1)};
      int flags = 1 | (c.b == 1 ? 8 : 32);
      MV1CalcFrameLocalMatrix(&expect, flags, &t, &sc, &r, &q, 0);
    }
    EXPECT_EQ(std::memcmp(&got, &expect, sizeof got), 0);
    MV1DeleteModel(m);
  }
}

TEST_F(ModelAnimTest, MatrixEdgeCasesWithAnimsAttached) {
  int m = TwoFrameModel({OneFrameAnim("a", 2, {ExplicitKeys(kFloat, kTranslateX, {0, 2}, {0, 4})})});
  MV1Model* model = MV1GetModelChecked(m);
  int slot = MV1AttachAnim(m, 0, -1, 0);
  MV1SetAttachAnimTime(m, slot, 1);
  // Never drawn: the position is computed on demand, anim included.
  EXPECT_EQ(FramePos(m, 1).x, 1 + 2.0f);
  EXPECT_EQ(MV1SetPosition(m, VECTOR{0, 0, 5}), 0);
  EXPECT_EQ(FramePos(m, 1).z, 5.0f);
  EXPECT_EQ(MV1SetPosition(m, VECTOR{0, 0, 5}), 0);
  EXPECT_EQ(model->ValidMatrix, 1);
  // A user matrix and back to the transform keep the anim.
  MATRIX shift = MGetIdent();
  shift.m[3][1] = 7;
  MV1SetMatrix(m, shift);
  EXPECT_EQ(FramePos(m, 1).y, 7 + 2.0f);
  MV1SetMatrix(m, MGetIdent());
  EXPECT_EQ(FramePos(m, 1).y, 2.0f);
  EXPECT_EQ(FramePos(m, 1).x, 3.0f);
  EXPECT_TRUE(Same(FramePos(m, 2), VECTOR{0, 0, 0}));
  MATRIX id = MGetIdent(), got = MV1GetFrameLocalMatrix(m, 2);
  EXPECT_EQ(std::memcmp(&got, &id, sizeof got), 0);
  // A user local matrix takes the place of the anim; resetting it brings the anim back.
  MV1SetFrameUserLocalMatrix(m, 1, shift);
  EXPECT_EQ(FramePos(m, 1).y, 7.0f);
  MV1ResetFrameUserLocalMatrix(m, 1);
  EXPECT_EQ(FramePos(m, 1).x, 3.0f);
}

TEST_F(ModelAnimTest, CancellingRowsStayFinite) {
  // Scale 0 at rate 1 against the base pose at rate 1: the blended rows cancel to zero.
  TestAnim zero = OneFrameAnim("z", 1, {ExplicitKeys(kVec, kScale, {0, 1}, {0, 0, 0, 0, 0, 0})});
  TestAnim rest = OneFrameAnim("r", 1, {ExplicitKeys(kVec, kTranslate, {0, 1}, {0, 2, 0, 0, 2, 0})});
  ModelBaseBuilder b;
  b.AddFrame(-1);
  b.AddFrame(0, {0, 2, 0});
  b.AddFrame(1, {0, 1, 0});
  b.anims = {zero, rest};
  int m = CreateTestModel(b.Build());
  MV1AttachAnim(m, 0, -1, 0);
  MV1AttachAnim(m, 1, -1, 0);
  EXPECT_TRUE(AllFinite(m));
  EXPECT_EQ(FramePos(m, 2).y, 2.0f);  // the zero rows squash the child's offset, without NaN
}

TEST_F(ModelAnimTest, SlotGrowthReuseAndDetach) {
  int m = TwoFrameModel({OneFrameAnim("a", 5, {ExplicitKeys(kFloat, kTranslateX, {0, 5}, {0, 5})}),
                         OneFrameAnim("b", 5, {})});
  MV1Model* model = ModelOf(m);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(MV1AttachAnim(m, i % 2, -1, 0), i);
    MV1SetAttachAnimTime(m, i, static_cast<float>(i));
    MV1SetAttachAnimBlendRate(m, i, 0.25f * static_cast<float>(i + 1));
  }
  EXPECT_EQ(model->AttachSlotCapacity, 4);
  ASSERT_EQ(MV1AttachAnim(m, 1, -1, 0), 4);
  EXPECT_EQ(model->AttachSlotCapacity, 8);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(MV1GetAttachAnimTime(m, i), static_cast<float>(i));
    EXPECT_EQ(MV1GetAttachAnimBlendRate(m, i), 0.25f * static_cast<float>(i + 1));
    EXPECT_EQ(MV1GetAttachAnim(m, i), i % 2);
    EXPECT_EQ(MV1FrameBlendRow(model, 1)[i].Linked, 1);  // "b" drives frame 1 with no keys
  }
  EXPECT_EQ(MV1FrameBlendRow(model, 1)[4].BlendRate, 1.0f);
  EXPECT_EQ(MV1DetachAnim(m, 1), 0);
  EXPECT_EQ(MV1GetAttachAnimTime(m, 1), -1.0f);
  EXPECT_EQ(model->AttachAnimCount, 4);
  EXPECT_EQ(MV1AttachAnim(m, 0, -1, 0), 1);
  EXPECT_EQ(MV1AttachAnim(m, 0, -1, 0), 5);
  // Detaching everything returns the frames to their base pose.
  for (int i = 0; i < model->AttachSlotCapacity; ++i) MV1DetachAnim(m, i);
  EXPECT_EQ(FramePos(m, 1).x, 1.0f);
  EXPECT_EQ(model->BaseData->RefCount, 1);
}

TEST_F(ModelAnimTest, NameMatchedAttachFromAnotherModel) {
  // Source: root "hip" -> "leg" (driven, with shapes "smile", "blink") and "arm" (driven).
  ModelBaseBuilder src;
  src.AddFrame(-1);
  src.AddFrame(0, {0, 1, 0});
  src.AddFrame(0, {1, 0, 0});
  src.frames[0].name = "hip";
  src.frames[1].name = "arm";
  src.frames[2].name = "leg";
  src.AddMesh(2, MV1_VERTEX_TYPE_RIGID, 1);
  src.meshes[0].hasShape = true;
  src.shapes.push_back({2, 0, 1, "smile"});
  src.shapes.push_back({2, 0, 1, "blink"});
  TestKeySet blink = ExplicitKeys(kFloat, kShape, {0, 1}, {0.75f, 0.75f});
  blink.shape = 1;
  TestAnim walk = OneFrameAnim("walk", 1, {ExplicitKeys(kFloat, kTranslateX, {0, 1}, {7, 7}), blink}, 2);
  TestAnimFrame arm;
  arm.frame = 1;
  arm.keySets.push_back(ExplicitKeys(kFloat, kTranslateX, {0, 1}, {3, 3}));
  walk.frames.push_back(arm);
  src.anims.push_back(walk);
  int source = CreateTestModel(src.Build());

  // Target: "hip" -> "leg" (first), "tail", and "arm" under "tail"; the leg has "blink" only.
  ModelBaseBuilder dst;
  dst.AddFrame(-1);
  dst.AddFrame(0);
  dst.AddFrame(0);
  dst.AddFrame(2);
  dst.frames[0].name = "hip";
  dst.frames[1].name = "leg";
  dst.frames[2].name = "tail";
  dst.frames[3].name = "arm";
  dst.AddMesh(1, MV1_VERTEX_TYPE_RIGID, 1);
  dst.meshes[0].hasShape = true;
  dst.shapes.push_back({1, 0, 1, "blink"});
  int target = CreateTestModel(dst.Build());
  MV1Model* t = ModelOf(target);

  int byName = MV1AttachAnim(target, 0, source, 1);
  ASSERT_EQ(byName, 0);
  EXPECT_EQ(t->AttachSlot[0].LinkedFrameCount, 1);  // the arm lies on another path
  EXPECT_EQ(MV1FrameBlendRow(t, 1)[0].Linked, 1);
  EXPECT_EQ(MV1FrameBlendRow(t, 3)[0].Linked, 0);
  EXPECT_EQ(FramePos(target, 1).x, 7.0f);
  EXPECT_EQ(t->Frame[1].Shape[0].Rate, 0.75f);  // "blink" is shape 1 there, shape 0 here

  // By position: leg <- arm (frame 1 <- 1), tail <- leg; the shape index 1 is beyond the tail's.
  MV1DetachAnim(target, byName);
  t->Frame[1].Shape[0].Rate = 0;
  ASSERT_EQ(MV1AttachAnim(target, 0, source, 0), 0);
  EXPECT_EQ(t->AttachSlot[0].LinkedFrameCount, 2);
  EXPECT_EQ(FramePos(target, 1).x, 3.0f);
  EXPECT_EQ(FramePos(target, 2).x, 7.0f);
  EXPECT_EQ(t->Frame[1].Shape[0].Rate, 0.0f);
  EXPECT_TRUE(AllFinite(target));
}

TEST_F(ModelAnimTest, SourceBaseLivesUntilDetach) {
  ModelBaseBuilder b = AnimatedChainBuilder(3, 1, 4);
  int source = CreateTestModel(b.Build());
  int target = TwoFrameModel({});
  int slot = MV1AttachAnim(target, 0, source, 0);
  ASSERT_EQ(slot, 0);
  size_t live = MemLiveBlockCount();
  MV1DeleteModel(source);
  EXPECT_EQ(MemLiveBlockCount(), live - 1);  // the model only: its base stays for the slot
  MV1SetAttachAnimTime(target, slot, 1.5f);
  EXPECT_TRUE(AllFinite(target));
  size_t beforeDetach = MemLiveBlockCount();
  MV1DetachAnim(target, slot);
  EXPECT_LT(MemLiveBlockCount(), beforeDetach - 1);  // the state and the whole base went
  EXPECT_TRUE(AllFinite(target));
}

TEST_F(ModelAnimTest, HostileKeySetsStayFinite) {
  TestKeySet empty = ExplicitKeys(kVec, kTranslate, {}, {});
  TestKeySet stepZero;
  stepZero.type = kFloat;
  stepZero.component = kTranslateX;
  stepZero.timeType = 0;
  stepZero.step = 0;
  stepZero.values = {1, 2, 3};
  TestKeySet equalTimes = ExplicitKeys(kFloat, 12, {1, 1, 1}, {1, 2, 3});
  TestKeySet nanTimes = ExplicitKeys(kFloat, 13, {NAN, INFINITY, NAN}, {1, 2, 3});
  TestKeySet shapeBeyond = ExplicitKeys(kFloat, kShape, {0, 1}, {1, 1});
  shapeBeyond.shape = 5;
  TestKeySet oddType = ExplicitKeys(3, kTranslate, {0, 1}, {9, 9});
  for (float total : {0.0f, 1.0f, -2.0f, INFINITY}) {
    SCOPED_TRACE(total);
    int m = TwoFrameModel({OneFrameAnim("h", total, {empty, stepZero, equalTimes, nanTimes, shapeBeyond, oddType})});
    int slot = MV1AttachAnim(m, 0, -1, 0);
    ASSERT_EQ(slot, 0);
    for (float time : {0.0f, 0.5f, 1.0f, 3.0f, -1.0f}) {
      MV1SetAttachAnimTime(m, slot, time);
      EXPECT_TRUE(AllFinite(m)) << time;
    }
    MV1DeleteModel(m);
  }
  // A base without frames, with an anim whose frame drives nothing.
  ModelBaseBuilder none;
  none.anims.push_back(OneFrameAnim("lonely", 2, {ExplicitKeys(kVec, kTranslate, {0, 2}, {0, 0, 0, 1, 1, 1})}, -1));
  int m = CreateTestModel(none.Build());
  int slot = MV1AttachAnim(m, 0, -1, 0);
  ASSERT_EQ(slot, 0);
  EXPECT_EQ(MV1SetAttachAnimTime(m, slot, 1), 0);
  EXPECT_EQ(MV1GetAttachAnimBlendRate(m, slot), -1.0f);
  MV1SetupMatrix(ModelOf(m));
  EXPECT_EQ(StateOf(m, slot)->FrameState[0].Translate.x, 0.5f);
}

// Far deeper than a native recursion or a fixed walk stack would allow. (The model core's subtree
// change masks of a chain grow with the square of its length: about 1.3 GB here.)
constexpr int kDeepChain = 100000;

TEST_F(ModelAnimTest, DeepChainsAttachByPositionAndByName) {
  const int n = kDeepChain;
  ModelBaseBuilder b;
  for (int i = 0; i < n; ++i) b.AddFrame(i - 1, {0, i == 0 ? 0.0f : 0.001f, 0});
  TestAnim a = OneFrameAnim("deep", 1, {ExplicitKeys(kFloat, kTranslateX, {0, 1}, {0, 1})}, n - 1);
  b.anims.push_back(a);
  b.materials.push_back({"m", COLOR_F{1, 1, 1, 1}, 0, 0, 0});
  b.AddMesh(n - 1, MV1_VERTEX_TYPE_RIGID, 1);
  int base = b.Build();
  ASSERT_NE(base, -1);
  int m0 = CreateTestModel(base), m1 = CreateTestModel(base);
  ASSERT_EQ(MV1AttachAnim(m0, 0, -1, 0), 0);
  ASSERT_EQ(MV1AttachAnim(m0, 0, m1, 1), 1);
  MV1SetAttachAnimBlendRate(m0, 1, 0.0f);
  MV1SetAttachAnimTime(m0, 0, 0.5f);
  EXPECT_EQ(ModelOf(m0)->AttachSlot[0].LinkedFrameCount, 1);
  EXPECT_EQ(ModelOf(m0)->AttachSlot[1].LinkedFrameCount, 1);
  EXPECT_EQ(FramePos(m0, n - 1).x, 0.5f);
  // The semi-transparency walk reaches the deepest mesh without recursion.
  EXPECT_EQ(MV1GetSemiTransState(m0), 0);
  MV1SetMeshOpacityRate(m0, 0, 0.5f);
  EXPECT_EQ(MV1GetFrameSemiTransState(m0, 0), 1);
  EXPECT_EQ(MV1GetSemiTransState(m0), 1);
}

TEST_F(ModelAnimTest, AttachFailuresLeaveTheAttachmentsAsTheyWere) {
  ModelBaseBuilder b = AnimatedChainBuilder(6, 2, 5);
  int base = b.Build();
  int m = CreateTestModel(base), other = CreateTestModel(base);
  for (int existing : {0, 4}) {
    SCOPED_TRACE(existing);
    while (ModelOf(m)->AttachAnimCount < existing) MV1AttachAnim(m, 1, -1, 0);
    MV1SetupMatrix(ModelOf(m));
    int capacity = ModelOf(m)->AttachSlotCapacity;
    int points = ForEachAllocationFailure([&]() {
      int slot = MV1AttachAnim(m, 0, other, 1);
      if (slot == -1) {
        EXPECT_EQ(ModelOf(m)->AttachAnimCount, existing);
        EXPECT_EQ(ModelOf(m)->AttachSlotCapacity, capacity);
        EXPECT_EQ(ModelOf(m)->ValidMatrix, 1);
        return false;
      }
      MV1DetachAnim(m, slot);
      return true;
    });
    EXPECT_GE(points, 2);
  }
}

}  // namespace
