// Key-set preparation and key reduction.
#include <cmath>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/math/math3d.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include "tests/support/readmodel_builder.h"
#include "tests/support/test_support.h"

namespace {

class ReadModelKeysTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    InitReadModel(&rm);
    anim = b.Anim(b.AnimSet("set", 40), b.Frame("f"), 40);
  }
  void TearDown() override {
    TerminateReadModel(&rm);
    LeakCheckedTest::TearDown();
  }
  ReadModel rm;
  ReadModelBuilder b{&rm};
  ReadModelAnim* anim = nullptr;
  const float* F(const ReadModelAnimKeySet* k) { return static_cast<const float*>(k->KeyData); }
  std::vector<const ReadModelAnimKeySet*> Sets() {
    std::vector<const ReadModelAnimKeySet*> v;
    for (auto* k = anim->FirstKeySet; k; k = k->NextInAnim) v.push_back(k);
    return v;
  }
  // A 4x3 matrix key of rotation about Z, scaled per row first, then translated.
  std::vector<float> MatrixKey(float angle, VECTOR scale, VECTOR t) {
    MATRIX r;
    CreateRotationZMatrix(&r, angle);
    std::vector<float> key;
    float s[3] = {scale.x, scale.y, scale.z};
    for (int row = 0; row < 3; ++row)
      for (int c = 0; c < 3; ++c) key.push_back(r.m[row][c] * s[row]);
    key.insert(key.end(), {t.x, t.y, t.z});
    return key;
  }
};

TEST_F(ReadModelKeysTest, StraightLineKeepsFirstAndLastKey) {
  auto* k = b.Keys(anim, 1, 10, {0, 10, 30, 40}, {0, 0, 0, 10, 20, 0, 30, 60, 0, 40, 80, 0});
  OptimizeAnimKeySet(&rm, k, 0);
  ASSERT_EQ(k->KeyCount, 2);
  EXPECT_EQ(k->TimeType, 1);
  EXPECT_EQ(k->KeyTimes[0], 0.0f);
  EXPECT_EQ(k->KeyTimes[1], 40.0f);
  EXPECT_EQ(F(k)[4], 80.0f);
  // with the flag set the same set stays (it is not evenly spaced, no single key)
  auto* kept = b.Keys(anim, 1, 10, {0, 10, 30, 40}, {0, 0, 0, 10, 20, 0, 30, 60, 0, 40, 80, 0});
  OptimizeAnimKeySet(&rm, kept, 1);
  EXPECT_EQ(kept->KeyCount, 4);
}

TEST_F(ReadModelKeysTest, EqualKeysBecomeOneUniformKey) {
  for (int flag : {0, 1}) {
    auto* k = b.Keys(anim, 0, 0, {0, 5, 9}, {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1});
    k->TotalTime = 9;
    OptimizeAnimKeySet(&rm, k, flag);
    EXPECT_EQ(k->KeyCount, 1);
    EXPECT_EQ(k->TimeType, 0);
    EXPECT_EQ(k->StartTime, 0.0f);
    EXPECT_EQ(k->UnitTime, 9.0f);
  }
}

TEST_F(ReadModelKeysTest, EvenTimesBecomeUniform) {
  auto* k = b.Keys(anim, 5, 11, {0, 1, 2, 3, 4}, {0, 1, 4, 9, 16});
  OptimizeAnimKeySet(&rm, k, 0);
  EXPECT_EQ(k->KeyCount, 5);
  EXPECT_EQ(k->TimeType, 0);
  EXPECT_EQ(k->StartTime, 0.0f);
  EXPECT_EQ(k->UnitTime, 1.0f);
  // data types 2 and 4 pass unchanged
  for (int type : {2, 4}) {
    auto* o = b.Keys(anim, type, 15, {0, 1, 2}, std::vector<float>(36, 0.0f));
    OptimizeAnimKeySet(&rm, o, 0);
    EXPECT_EQ(o->KeyCount, 3);
    EXPECT_EQ(o->TimeType, 1);
  }
}

TEST_F(ReadModelKeysTest, ConstantAxisSplitsAndIsNotRejoined) {
  b.Keys(anim, 1, 10, {0, 1, 2, 3, 4}, {0, 5, 0, 1, 5, 1, 4, 5, 8, 9, 5, 27, 16, 5, 64});
  PrepareReadModelAnimKeys(&rm);
  auto sets = Sets();
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0]->Kind, 11);
  EXPECT_EQ(sets[1]->Kind, 12);
  EXPECT_EQ(sets[2]->Kind, 13);
  for (auto* s : sets) EXPECT_EQ(s->DataType, 5);
  EXPECT_EQ(sets[1]->KeyCount, 1);
  EXPECT_EQ(F(sets[1])[0], 5.0f);
  EXPECT_EQ(sets[0]->KeyCount, 5);
  EXPECT_EQ(F(sets[2])[4], 64.0f);
  EXPECT_EQ(rm.KeySetCount, 3);
}

TEST_F(ReadModelKeysTest, PerAxisSetsWithEqualTimingJoin) {
  b.Keys(anim, 5, 11, {0, 1, 3}, {1, 2, 7});
  b.Keys(anim, 5, 12, {0, 1, 3}, {0, 5, 1});
  b.Keys(anim, 5, 13, {0, 1, 3}, {3, 3, 9});
  b.Keys(anim, 5, 7, {0, 1}, {3, 4});  // a lone scale-Y set stays
  PrepareReadModelAnimKeys(&rm);
  auto sets = Sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0]->Kind, 10);
  EXPECT_EQ(sets[0]->DataType, 1);
  ASSERT_EQ(sets[0]->KeyCount, 3);
  EXPECT_EQ(F(sets[0])[3], 2.0f);
  EXPECT_EQ(F(sets[0])[4], 5.0f);
  EXPECT_EQ(F(sets[0])[8], 9.0f);
  EXPECT_EQ(sets[1]->Kind, 7);
  EXPECT_EQ(rm.KeySetCount, 2);
  EXPECT_EQ(rm.LastKeySet, sets[1]);
}

TEST_F(ReadModelKeysTest, MatrixModeSetsAreNotSplit) {
  anim->Set->IsMatrixAnim = 1;
  b.Keys(anim, 1, 5, {0, 1, 2}, {1, 2, 3, 2, 2, 5, 4, 2, 9});
  PrepareReadModelAnimKeys(&rm);
  EXPECT_EQ(rm.KeySetCount, 1);
  EXPECT_EQ(rm.FirstKeySet->DataType, 1);
}

TEST_F(ReadModelKeysTest, MatrixKeysBecomeTranslateAndQuaternion) {
  std::vector<float> data;
  for (int i = 0; i < 3; ++i) {
    auto k = MatrixKey(0.3f * i, {1, 1, 1}, {float(i), 0, 0});
    data.insert(data.end(), k.begin(), k.end());
  }
  b.Keys(anim, 2, 15, {0, 1, 2}, data);
  anim->IntSetting = 7;
  anim->Set->IsMatrixAnim = 1;
  PrepareReadModelAnimKeys(&rm);
  auto sets = Sets();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0]->Kind, 10);
  EXPECT_EQ(sets[0]->DataType, 1);
  EXPECT_EQ(sets[1]->Kind, 0);
  EXPECT_EQ(sets[1]->DataType, 7);
  EXPECT_EQ(anim->IntSetting, 0);
  ASSERT_EQ(sets[1]->KeyCount, 3);
  const float* q = F(sets[1]);
  EXPECT_NEAR(q[8 + 2], std::sin(0.3f), 1e-5);
  EXPECT_NEAR(q[8 + 3], std::cos(0.3f), 1e-5);
}

TEST_F(ReadModelKeysTest, ScaledRowsGiveScaleKeys) {
  struct Case { VECTOR scale; bool scaleSet; };
  for (Case c : {Case{{2, 2, 2}, true}, Case{{2, 3, 4}, true}, Case{{1.00005f, 1, 1}, false},
                 Case{{0.9985f, 1, 1}, true}}) {
    OwnedReadModel r;
    ReadModelBuilder bb(r.get());
    ReadModelAnim* a = bb.Anim(bb.AnimSet("s", 1), bb.Frame("f"), 1);
    auto k0 = MatrixKey(0.5f, c.scale, {0, 0, 0});
    auto k1 = MatrixKey(0.9f, c.scale, {0, 0, 0});
    k0.insert(k0.end(), k1.begin(), k1.end());
    bb.Keys(a, 3, 17, {0, 1}, std::vector<float>());
    // 3x3 keys: drop the translation rows
    float* d = static_cast<float*>(a->FirstKeySet->KeyData);
    for (int i = 0; i < 2; ++i) std::memcpy(d + 9 * i, k0.data() + 12 * i, 36);
    a->Set->IsMatrixAnim = 1;
    PrepareReadModelAnimKeys(r.get());
    const ReadModelAnimKeySet* scale = nullptr;
    const ReadModelAnimKeySet* quat = nullptr;
    for (auto* k = a->FirstKeySet; k; k = k->NextInAnim) {
      if (k->Kind == 5) scale = k;
      if (k->Kind == 0) quat = k;
    }
    ASSERT_NE(quat, nullptr);
    const float* q = static_cast<const float*>(quat->KeyData);
    EXPECT_NEAR(q[2], std::sin(0.25f), 1e-5) << c.scale.x;
    EXPECT_NEAR(q[3], std::cos(0.25f), 1e-5);
    EXPECT_EQ(scale != nullptr, c.scaleSet) << c.scale.x << " " << c.scale.y;
    if (scale) {
      const float* s = static_cast<const float*>(scale->KeyData);
      EXPECT_NEAR(s[0], c.scale.x, 1e-5);
      EXPECT_NEAR(s[1], c.scale.y, 1e-5);
      EXPECT_NEAR(s[2], c.scale.z, 1e-5);
    }
  }
}

TEST_F(ReadModelKeysTest, ZeroScaleKeyStaysFinite) {
  std::vector<float> key = MatrixKey(0.5f, {0, 1, 1}, {0, 0, 0});
  key.resize(9);
  std::vector<float> all(9, 0.0f);
  all.insert(all.end(), key.begin(), key.end());
  b.Keys(anim, 3, 17, {0, 1}, all);
  anim->Set->IsMatrixAnim = 1;
  PrepareReadModelAnimKeys(&rm);
  for (auto* k : Sets()) {
    const float* f = F(k);
    int n = ReadModelKeySize(k->DataType) / 4 * k->KeyCount;
    for (int i = 0; i < n; ++i) EXPECT_TRUE(std::isfinite(f[i])) << int(k->Kind);
    if (k->DataType == 7)
      for (int i = 0; i < k->KeyCount; ++i) {
        const float* q = f + 4 * i;
        EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1.0f, 1e-5);
      }
    if (k->Kind == 5) { EXPECT_EQ(f[0], 0.0f); }
  }
}

TEST_F(ReadModelKeysTest, AllocationFailuresLeaveUsableKeySets) {
  ScopedBlockSharing eachRequestABlock(false);
  // Prepare never fails as a whole: at every failure point the sets left are in a usable form
  LogCaptureBegin();
  for (long n = 1; n < 200; ++n) {
    OwnedReadModel r;
    ReadModelBuilder bb(r.get());
    ReadModelAnim* a = bb.Anim(bb.AnimSet("s", 2), bb.Frame("f"), 2);
    std::vector<float> data;
    for (int i = 0; i < 3; ++i) {
      auto k = MatrixKey(0.2f * i, {2, 2, 2}, {float(i), 1, 0});
      data.insert(data.end(), k.begin(), k.end());
    }
    bb.Keys(a, 2, 15, {0, 1, 2}, data);
    uint64_t before = MemAllocAttempts();
    MemSetFailAt(n);
    PrepareReadModelAnimKeys(r.get());
    MemSetFailAt(0);
    int count = 0;
    for (auto* k = a->FirstKeySet; k; k = k->NextInAnim, ++count) {
      EXPECT_GT(k->KeyCount, 0);
      EXPECT_NE(k->KeyData, nullptr);
      if (k->TimeType == 1) { EXPECT_NE(k->KeyTimes, nullptr); }
    }
    EXPECT_EQ(count, a->KeySetCount);
    EXPECT_EQ(count, r->KeySetCount);
    if (MemAllocAttempts() - before < static_cast<uint64_t>(n)) break;
  }
  LogCaptureEnd();
}

}  // namespace
