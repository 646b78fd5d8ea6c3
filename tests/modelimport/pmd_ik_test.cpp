// The skeleton at load time: bone set-up, quaternions, key sampling and the CCD solver against
// analytic cases.
#include <qzlib/modelimport/pmd/pmd_ik.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <qzlib/math/math3d.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/pmd_writer.h"

namespace {

constexpr float kPi = 3.1415927f;

// A parsed test model with its working records.
struct Skeleton {
  std::vector<uint8_t> bytes;
  PmdFile file;
  std::vector<PmdBoneInfo> bones;
  std::vector<PmdIkInfo> iks;
  PmdIkInfo* list = nullptr;

  explicit Skeleton(const PmdTestModel& m) : bytes(WritePmd(m)) {
    EXPECT_EQ(ParsePmdFile(bytes.data(), bytes.size(), &file), 0);
    bones.resize(file.boneCount);
    iks.resize(file.ikCount);
    PmdSetupBones(file, bones.data());
    list = PmdSetupIkList(file, bones.data(), iks.data());
  }
  VECTOR World(int b) const { return VECTOR{bones[b].world.m[3][0], bones[b].world.m[3][1], bones[b].world.m[3][2]}; }
  // One baked frame from the current poses: world matrices, the free solve, the limited one when
  // a knee left its range (from the chain's pose before the solve).
  void SolveFrame() {
    PmdUpdateAllBoneWorlds(bones.data(), static_cast<int>(bones.size()));
    for (PmdIkInfo* ik = list; ik; ik = ik->next) {
      std::vector<std::vector<float>> saved;
      for (int c = 0; c < ik->chainLength; ++c) {
        float* r = bones[PmdIkChainIndex(*ik, c)].rotation;
        saved.push_back({r[0], r[1], r[2], r[3]});
      }
      int knee;
      if (PmdSolveIk(bones.data(), *ik, 0, &knee)) {
        for (int c = 0; c < ik->chainLength; ++c)
          for (int j = 0; j < 4; ++j) bones[PmdIkChainIndex(*ik, c)].rotation[j] = saved[c][j];
        PmdSolveIk(bones.data(), *ik, 1, &knee);
      }
    }
  }
};

float KneeX(const PmdBoneInfo& b) {
  // rotation about X only: q = (sin(x / 2), 0, 0, cos(x / 2))
  return 2.0f * std::atan2(b.rotation[0], b.rotation[3]);
}

float Dist(VECTOR a, VECTOR b) { return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z)); }

TEST(PmdBones, SetupGivesRestTranslationsKneesAndTheIkOrder) {
  PmdTestModel m = MakeIkLegModel();
  // a byte search would find the knee word across characters here: 0x88 0x82 | 0xD0 | 0x82 0xB4
  m.bones.push_back({"\x88\x82\xD0\x82\xB4", 0xFFFF, {1, 2, 3}});
  m.bones.push_back({std::string("\x89\x45") + TEXT_PMD_KNEE + "\x9D\x80", 0xFFFF});  // 右ひざ捩
  m.bones.push_back({"b7", 6, {0, 0, 0}});
  // IK list order: by first chain bone, of equal keys the later record first
  PmdTestIk a, b, c;
  a.goal = 4; a.target = 3; a.chain = {7};
  b.goal = 4; b.target = 3; b.chain = {2, 1};
  c.goal = 4; c.target = 3; c.chain = {1};
  m.iks = {a, b, c};
  Skeleton s(m);
  EXPECT_EQ(s.bones[2].knee, 1);
  EXPECT_EQ(s.bones[5].knee, 0);
  EXPECT_EQ(s.bones[6].knee, 1);
  EXPECT_EQ(s.bones[1].knee, 0);
  EXPECT_EQ(s.bones[2].rest.y, -5.0f);
  EXPECT_EQ(s.bones[0].rest.y, 10.0f);
  EXPECT_EQ(s.bones[5].rest.z, 3.0f);
  EXPECT_EQ(s.bones[2].parent, 1);
  EXPECT_EQ(s.bones[4].parent, -1);
  std::vector<int> order;
  for (PmdIkInfo* ik = s.list; ik; ik = ik->next) order.push_back(static_cast<int>(ik - s.iks.data()));
  EXPECT_EQ(order, (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(s.list->prev, nullptr);
  for (int i : {1, 2, 3, 7}) EXPECT_EQ(s.bones[i].ikInvolved, 1) << i;
  for (int i : {0, 4, 5, 6}) EXPECT_EQ(s.bones[i].ikInvolved, 0) << i;
  EXPECT_FLOAT_EQ(s.iks[0].limit, 0.5f * kPi);
}

TEST(PmdQuaternion, ProductAppliesTheRightFactorFirstAndZeroNormalisesToIdentity) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> d(-1, 1);
  for (int i = 0; i < 20; ++i) {
    float a[4] = {d(rng), d(rng), d(rng), d(rng)}, b[4] = {d(rng), d(rng), d(rng), d(rng)}, ab[4];
    PmdNormalizeQuaternion(a);
    PmdNormalizeQuaternion(b);
    PmdMultiplyQuaternion(ab, a, b);
    MATRIX ma, mb, mab, prod;
    PmdQuaternionMatrix(&ma, a, VECTOR{0, 0, 0});
    PmdQuaternionMatrix(&mb, b, VECTOR{0, 0, 0});
    PmdQuaternionMatrix(&mab, ab, VECTOR{0, 0, 0});
    CreateMultiplyMatrix(&prod, &mb, &ma);
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) EXPECT_NEAR(mab.m[r][c], prod.m[r][c], 1e-5) << i;
  }
  float z[4] = {0, 0, 0, 0};
  PmdNormalizeQuaternion(z);
  EXPECT_EQ(z[3], 1.0f);
  EXPECT_EQ(z[0], 0.0f);
  float n[4] = {NAN, 0, 0, 1};
  PmdNormalizeQuaternion(n);
  EXPECT_EQ(n[3], 1.0f);
}

// The solver leaves a bone unchanged below an angle of about 3.2e-4 (|e x g|^2 < 1e-7), so the
// tip's error grows with the leg: legs of 1 unit a bone. The limited solve starts from the straight
// leg, and a goal for which the thigh's first step lines the leg up with the goal leaves the
// chain straight (e x g vanishes for both bones): goals whose first knee step already bends
// backward.
TEST(PmdIk, PlanarLegReachesAReachableGoal) {
  for (float scale : {0.2f})
  for (VECTOR g : {VECTOR{0, 3, -2}, VECTOR{0, 4, -1}, VECTOR{0, 2, -2}}) {
    VECTOR goal{g.x * scale, g.y * scale, g.z * scale};
    Skeleton s(MakeIkLegModel(scale));
    s.bones[4].translate = goal;
    s.SolveFrame();
    EXPECT_LT(Dist(s.World(3), goal), 1e-3f) << scale << ": " << goal.y << " " << goal.z;
    float x = KneeX(s.bones[2]);
    EXPECT_LE(x, -0.002f + 1e-6f);
    EXPECT_GE(x, -kPi - 1e-6f);
  }
}

TEST(PmdIk, NonPlanarChainConvergesToItsGoal) {
  PmdTestModel m;
  m.bones = {{"root", 0xFFFF, {0, 0, 0}}, {"a", 0, {0, 0, 0}}, {"b", 1, {0, 4, 0}}, {"c", 2, {0, 7, 0}},
             {"tip", 3, {0, 9, 0}}, {"goal", 0xFFFF, {2, 5, -3}}};
  PmdTestIk ik;
  ik.goal = 5;
  ik.target = 4;
  ik.chain = {3, 2, 1};
  ik.iterations = 200;
  ik.controlWeight = 1.0f;
  m.iks = {ik};
  Skeleton s(m);
  s.SolveFrame();
  EXPECT_LT(Dist(s.World(4), VECTOR{2, 5, -3}), 1e-3f);
}

TEST(PmdIk, UnreachableGoalLeavesTheLegStraightTowardIt) {
  for (VECTOR goal : {VECTOR{0, -20, 0}, VECTOR{0, 0, -30}, VECTOR{0, 30, -10}}) {
    Skeleton s(MakeIkLegModel());
    s.bones[4].translate = goal;
    s.SolveFrame();
    VECTOR hip = s.World(1), ankle = s.World(3);
    VECTOR leg{ankle.x - hip.x, ankle.y - hip.y, ankle.z - hip.z};
    VECTOR want{goal.x - hip.x, goal.y - hip.y, goal.z - hip.z};
    EXPECT_GT(GetVectorAngleCos(leg, want), std::cos(0.01f)) << goal.y << " " << goal.z;
    // the knee stays within its limit, bent by at most 0.002 for each of the 40 iterations
    float x = KneeX(s.bones[2]);
    EXPECT_LE(x, 0.0f);
    EXPECT_GE(x, -0.002f * 40 - 1e-5f);
    EXPECT_GT(Dist(hip, ankle), 2 * 5 * std::cos(0.002f * 40 / 2) - 1e-3f);
  }
}

TEST(PmdIk, KneeBentForwardByTheFreeSolveComesOutInRange) {
  // a goal in front of and above the knee: the free solve bends the knee forward (X above 0)
  for (VECTOR goal : {VECTOR{0, 8, -4}, VECTOR{0, 9, -2}, VECTOR{0, 4, -4.5f}}) {
    Skeleton s(MakeIkLegModel());
    s.bones[4].translate = goal;
    PmdUpdateAllBoneWorlds(s.bones.data(), 5);
    int knee = -1;
    PmdIkInfo& ik = *s.list;
    int flag = PmdSolveIk(s.bones.data(), ik, 0, &knee);
    EXPECT_EQ(knee, 2);
    EXPECT_EQ(flag, 1) << "free solve bends forward " << KneeX(s.bones[2]);
    Skeleton t(MakeIkLegModel());
    t.bones[4].translate = goal;
    t.SolveFrame();
    float x = KneeX(t.bones[2]);
    EXPECT_LE(x, -0.002f + 1e-6f);
    EXPECT_GE(x, -kPi - 1e-6f);
  }
}

TEST(PmdIk, DegenerateChainsStayFinite) {
  // zero-length bones (every head at one point) and a chain bone with a zero scale nowhere to
  // normalise: nothing may become NaN
  PmdTestModel m = MakeIkLegModel();
  for (auto& b : m.bones) b.head = VECTOR{0, 0, 0};
  Skeleton s(m);
  s.bones[4].translate = VECTOR{0, 0, 0};
  s.SolveFrame();
  s.bones[4].translate = VECTOR{1, 1, 1};
  s.SolveFrame();
  for (const PmdBoneInfo& b : s.bones)
    for (float q : b.rotation) EXPECT_TRUE(std::isfinite(q));
}

// Samples the keys of one bone into arrays sized as the motion reader sizes them.
struct Sampled {
  std::vector<VECTOR> pos;
  std::vector<float> rot, tp, tr;
  PmdBoneInfo bone{};
  Sampled(const std::vector<VmdTestBoneKey>& keys, bool ik, uint32_t lastFrame, VECTOR rest = {0, 0, 0}) {
    std::vector<uint8_t> bytes = WriteVmd(keys, {});
    VmdFile f;
    EXPECT_EQ(ParseVmdFile(bytes.data(), bytes.size(), 0, &f), 0);
    VmdBoneNode node;
    std::vector<VmdBoneKey> k(f.boneKeyCount);
    VmdGroupBoneKeys(f, &node, k.data());
    bone.rest = rest;
    bone.ikInvolved = ik;
    bone.firstFrame = ik ? 0 : node.firstFrame;
    bone.slotCount = ik ? lastFrame + 1 : node.lastFrame - node.firstFrame + 1;
    pos.resize(bone.slotCount);
    rot.resize(4 * bone.slotCount);
    tp.resize(bone.slotCount);
    tr.resize(bone.slotCount);
    bone.positions = pos.data();
    bone.rotations = rot.data();
    bone.positionTimes = tp.data();
    bone.rotationTimes = tr.data();
    PmdSampleBoneKeys(&bone, node);
  }
};

VmdTestBoneKey BoneKey(uint32_t frame, float x, std::vector<float> q = {0, 0, 0, 1}) {
  VmdTestBoneKey k;
  k.name = "b";
  k.frame = frame;
  k.position.x = x;
  for (int i = 0; i < 4; ++i) k.rotation[i] = q[i];
  return k;
}

TEST(PmdSampling, KeysAt10And20GiveElevenSamplesHeldAtTheEnds) {
  Sampled s({BoneKey(20, 10), BoneKey(10, 0)}, false, 20, VECTOR{1, 0, 0});
  ASSERT_EQ(s.bone.slotCount, 11u);
  for (int i = 0; i <= 10; ++i) {
    EXPECT_EQ(s.tp[i], 10.0f + i);
    EXPECT_NEAR(s.pos[i].x, 1.0f + i, 1e-5) << i;  // linear default curve, plus the rest
  }
  PmdPoseBone(&s.bone, 3);
  EXPECT_EQ(s.bone.translate.x, 1.0f);
  PmdPoseBone(&s.bone, 500);
  EXPECT_EQ(s.bone.translate.x, 11.0f);
}

TEST(PmdSampling, IkBoneFillsFromFrameZeroToTheLastFrameWithoutWrapping) {
  // first key at frame 0 (the span before it is empty), two keys at frame 0 (the later wins)
  Sampled s({BoneKey(0, 5), BoneKey(0, 7), BoneKey(4, 11)}, true, 9);
  ASSERT_EQ(s.bone.slotCount, 10u);
  EXPECT_EQ(s.pos[0].x, 7.0f);
  EXPECT_NEAR(s.pos[2].x, 9.0f, 1e-5);
  for (int f = 4; f <= 9; ++f) {
    EXPECT_EQ(s.pos[f].x, 11.0f);
    EXPECT_EQ(s.tr[f], static_cast<float>(f));
  }
  // one key well after frame 0
  Sampled one({BoneKey(3, 2)}, true, 5);
  for (int f = 0; f <= 5; ++f) EXPECT_EQ(one.pos[f].x, 2.0f);
  Sampled lone({BoneKey(3, 2)}, false, 5);
  EXPECT_EQ(lone.bone.slotCount, 1u);
}

TEST(PmdSampling, OppositeSignRotationsBlendTheShortWay) {
  // 90 degrees about Y, then the same rotation written with the opposite sign; halfway the
  // short way stays at that rotation, the long way would pass through the identity
  float s = std::sin(kPi / 4), c = std::cos(kPi / 4);
  Sampled smp({BoneKey(0, 0, {0, s, 0, c}), BoneKey(10, 0, {0, -s, 0, -c})}, false, 10);
  for (int f = 0; f <= 10; ++f) {
    const float* q = &smp.rot[4 * f];
    EXPECT_NEAR(std::fabs(q[1]), s, 1e-5) << f;
    EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1.0f, 1e-5);
  }
  // 0 and 120 degrees about X against 0 and -240: both take the 60 degree midpoint
  float s6 = std::sin(kPi / 3), c6 = std::cos(kPi / 3);
  Sampled a({BoneKey(0, 0), BoneKey(2, 0, {s6, 0, 0, c6})}, false, 2);
  Sampled b({BoneKey(0, 0), BoneKey(2, 0, {-s6, 0, 0, -c6})}, false, 2);
  for (int j = 0; j < 4; ++j) EXPECT_NEAR(std::fabs(a.rot[4 + j]), std::fabs(b.rot[4 + j]), 1e-6);
}

TEST(PmdBake, EveryBakedKeyIsFiniteAndUnit) {
  PmdTestModel m = MakeIkLegModel();
  Skeleton s(m);
  const uint32_t last = 60;
  std::vector<VmdTestBoneKey> keys;
  std::mt19937 rng(11);
  // a stepping path below the hip: the thigh stays near the vertical, so the knee's own angle and
  // the world-matrix test agree
  std::uniform_real_distribution<float> dy(0.5f, 4), dz(-3, 0.5f);
  for (uint32_t f = 0; f <= last; f += 6) {
    VmdTestBoneKey k = BoneKey(f, 0);
    k.position.y = dy(rng);
    k.position.z = dz(rng);
    keys.push_back(k);
  }
  Sampled goal(keys, false, last);
  s.bones[4].positions = goal.bone.positions;
  s.bones[4].rotations = goal.bone.rotations;
  s.bones[4].firstFrame = goal.bone.firstFrame;
  s.bones[4].slotCount = goal.bone.slotCount;
  std::vector<std::vector<VECTOR>> pos(5, std::vector<VECTOR>(last + 1));
  std::vector<std::vector<float>> rot(5, std::vector<float>(4 * (last + 1))), tp = rot, tr = rot;
  for (int b : {1, 2, 3}) {
    PmdBoneInfo& bi = s.bones[b];
    bi.restPose = 1;
    bi.positions = pos[b].data();
    bi.rotations = rot[b].data();
    bi.positionTimes = tp[b].data();
    bi.rotationTimes = tr[b].data();
    bi.slotCount = last + 1;
  }
  PmdBakeIk(s.bones.data(), 5, s.list, last);
  for (int b : {1, 2, 3})
    for (uint32_t f = 0; f <= last; ++f) {
      const float* q = &rot[b][4 * f];
      float n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
      EXPECT_NEAR(n, 1.0f, 1e-5) << b << " " << f;
      EXPECT_TRUE(std::isfinite(pos[b][f].x) && std::isfinite(pos[b][f].y)) << b << " " << f;
      EXPECT_EQ(tp[b][f], static_cast<float>(f));
      if (b == 2) {
        float x = 2.0f * std::atan2(q[0], q[3]);
        EXPECT_LE(x, -0.002f + 1e-5f) << f;
      }
    }
  // the rest translations are what the bake stores for the positions of rest-pose bones
  EXPECT_EQ(pos[2][30].y, -5.0f);
}

}  // namespace
