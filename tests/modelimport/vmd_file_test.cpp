// The VMD file at the byte level: header, bounds, limits, grouping by name, name matching and
// the interpolation curves.
#include <qzlib/modelimport/pmd/vmd_file.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/pmd_writer.h"

namespace {

int Parse(const std::vector<uint8_t>& bytes, std::string* log, VmdFile* file, uint64_t steps = 0) {
  LogCaptureBegin();
  int r = ParseVmdFile(bytes.data(), bytes.size(), steps, file);
  *log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  return r;
}

VmdTestBoneKey Key(const std::string& name, uint32_t frame, float x = 0) {
  VmdTestBoneKey k;
  k.name = name;
  k.frame = frame;
  k.position.x = x;
  return k;
}

TEST(VmdFile, WrongOrShortHeaderIsMinusOneWithoutMessage) {
  std::vector<uint8_t> good = WriteVmd({Key("a", 1)}, {});
  std::string log;
  VmdFile f;
  for (size_t cut : {size_t(0), size_t(10), size_t(26), size_t(49)}) {
    std::vector<uint8_t> part(good.begin(), good.begin() + cut);
    EXPECT_EQ(Parse(part, &log, &f), -1) << cut;
    EXPECT_EQ(log, "");
  }
  std::vector<uint8_t> bad = good;
  bad[25] = 'x';  // the zero after the magic is compared too
  EXPECT_EQ(Parse(bad, &log, &f), -1);
  EXPECT_EQ(log, "");
}

TEST(VmdFile, CountsPastTheSizeAreRefused) {
  std::vector<uint8_t> good = WriteVmd({Key("a", 1), Key("b", 2)}, {{"m", 3, 0.5f}});
  std::string log;
  VmdFile f;
  ASSERT_EQ(Parse(good, &log, &f), 0);
  EXPECT_EQ(f.lastFrame, 3u);
  for (size_t cut = 50; cut < good.size(); ++cut) {
    std::vector<uint8_t> part(good.begin(), good.begin() + cut);
    part.shrink_to_fit();
    ASSERT_EQ(Parse(part, &log, &f), -2) << cut;
    EXPECT_EQ(log.rfind("VMD Load Error : ", 0), 0u) << cut;
  }
  std::vector<uint8_t> huge = good;
  for (int i = 0; i < 4; ++i) huge[50 + i] = 0xFF;
  EXPECT_EQ(Parse(huge, &log, &f), -2);
}

TEST(VmdFile, LastFrameAndBakeWorkCaps) {
  std::string log;
  VmdFile f;
  EXPECT_EQ(Parse(WriteVmd({Key("a", 1000000)}, {}), &log, &f), 0);
  EXPECT_EQ(Parse(WriteVmd({Key("a", 1000001)}, {}), &log, &f), -2);
  EXPECT_NE(log.find("VMD Load Error : "), std::string::npos);
  // a frame of 0xFFFFFFFF, in a morph key too
  EXPECT_EQ(Parse(WriteVmd({}, {{"m", 0xFFFFFFFFu, 1}}), &log, &f), -2);
  // work = (last + 1) x steps
  uint64_t steps = kVmdMaxBakeWork / 101;
  EXPECT_EQ(Parse(WriteVmd({Key("a", 100)}, {}), &log, &f, steps), 0);
  EXPECT_EQ(Parse(WriteVmd({Key("a", 100)}, {}), &log, &f, steps + 1), -2);
  EXPECT_EQ(Parse(WriteVmd({Key("a", 0)}, {}), &log, &f, ~0ull), -2);
  EXPECT_NE(log.find("VMD Load Error : "), std::string::npos);
}

TEST(VmdFile, MoreThan2048NamesAreRefused) {
  std::vector<VmdTestBoneKey> keys;
  for (int i = 0; i < 2049; ++i) keys.push_back(Key("n" + std::to_string(i), 0));
  std::string log;
  VmdFile f;
  EXPECT_EQ(Parse(WriteVmd(keys, {}), &log, &f), -2);
  char expected[256];
  snprintf(expected, sizeof(expected), TEXT_VMD_NAME_LIMIT "\r\n", TEXT_VMD_PART_BONE);
  EXPECT_EQ(log, expected);
  keys.pop_back();
  EXPECT_EQ(Parse(WriteVmd(keys, {}), &log, &f), 0);
  EXPECT_EQ(f.boneNodeCount, 2048u);
}

TEST(VmdFile, KeysGroupByNameUpToItsZeroInFrameOrder) {
  // "arm" twice with different padding after the zero, frames out of order, two keys at 5
  std::vector<VmdTestBoneKey> keys = {Key("arm", 9, 1), Key("leg", 0, 2), Key(std::string("arm\0xyz", 7), 5, 3),
                                      Key("arm", 5, 4), Key("arm", 1, 5)};
  std::vector<uint8_t> bytes = WriteVmd(keys, {{"m", 4, 0.5f}, {"m", 2, 0.25f}});
  std::string log;
  VmdFile f;
  ASSERT_EQ(Parse(bytes, &log, &f), 0);
  EXPECT_EQ(f.boneNodeCount, 2u);
  EXPECT_EQ(f.morphNodeCount, 1u);
  std::vector<VmdBoneNode> nodes(f.boneNodeCount);
  std::vector<VmdBoneKey> bk(f.boneKeyCount);
  VmdGroupBoneKeys(f, nodes.data(), bk.data());
  EXPECT_STREQ(nodes[0].name, "arm");
  EXPECT_STREQ(nodes[1].name, "leg");
  EXPECT_EQ(nodes[0].keyCount, 4u);
  EXPECT_EQ(nodes[0].firstFrame, 1u);
  EXPECT_EQ(nodes[0].lastFrame, 9u);
  std::vector<float> order;
  for (VmdBoneKey* k = nodes[0].first; k; k = k->next) {
    order.push_back(k->position.x);
    if (k->next) { EXPECT_EQ(k->next->prev, k); }
  }
  EXPECT_EQ(order, (std::vector<float>{5, 3, 4, 1}));  // frame 1, 5 (file order), 5, 9
  EXPECT_EQ(nodes[0].first->prev, nullptr);
  std::vector<VmdMorphNode> mn(1);
  std::vector<VmdMorphKey> mk(2);
  VmdGroupMorphKeys(f, mn.data(), mk.data());
  EXPECT_EQ(mn[0].first->frame, 2u);
  EXPECT_EQ(mn[0].first->weight, 0.25f);
  EXPECT_EQ(mn[0].lastFrame, 4u);
}

TEST(VmdFile, CurveBytesAreSignedAndLinearFlagsCompareBytes) {
  VmdTestBoneKey k = Key("a", 0);
  int8_t eased[4] = {64, 0, 64, 127};
  int8_t negative[4] = {-128, -128, 10, 10};  // bytes 128 and above read as negative
  for (int j = 0; j < 4; ++j) {
    k.curve[1][j] = eased[j];
    k.curve[2][j] = negative[j];
  }
  std::vector<uint8_t> bytes = WriteVmd({k}, {});
  std::string log;
  VmdFile f;
  ASSERT_EQ(Parse(bytes, &log, &f), 0);
  VmdBoneNode node;
  VmdBoneKey key;
  VmdGroupBoneKeys(f, &node, &key);
  EXPECT_EQ(key.linear[0], 1);
  EXPECT_EQ(key.linear[1], 0);
  EXPECT_EQ(key.linear[2], 1);
  EXPECT_FLOAT_EQ(key.curve[4], 64.0f / 127.0f * 3.0f);
  EXPECT_FLOAT_EQ(key.curve[7], 3.0f);
  EXPECT_FLOAT_EQ(key.curve[8], -128.0f / 127.0f * 3.0f);
}

TEST(VmdFile, BezierLinearIsExactAndEasedIsMonotonic) {
  float linear[4] = {20 / 127.0f * 3, 20 / 127.0f * 3, 107 / 127.0f * 3, 107 / 127.0f * 3};
  float eased[4] = {64 / 127.0f * 3, 0, 64 / 127.0f * 3, 127 / 127.0f * 3};
  float prev = -1;
  for (int i = 0; i <= 100; ++i) {
    float t = i / 100.0f;
    EXPECT_EQ(VmdCurveValue(linear, 1, t), t);
    float y = VmdCurveValue(eased, 0, t);
    EXPECT_GE(y, prev) << t;
    prev = y;
    if (i > 5 && i < 45) { EXPECT_LT(y, t) << "eased in at " << t; }
  }
  EXPECT_NEAR(VmdCurveValue(eased, 0, 0.0f), 0.0f, 1e-6);
  EXPECT_NEAR(VmdCurveValue(eased, 0, 1.0f), 1.0f, 1e-6);
  // the Bezier path on a straight curve stays close to linear as well
  EXPECT_NEAR(VmdCurveValue(linear, 0, 0.3f), 0.3f, 1e-3);
}

TEST(VmdFile, NamesMatchExactlyOrBy15BytePrefix) {
  const char* names[] = {"Mesh", "abcdefghijklmnopq", "abcdefghijklmnoZ", "abcdefghijklmno", nullptr, "short"};
  EXPECT_EQ(VmdFindName("short", names, 6), 5);
  EXPECT_EQ(VmdFindName("shor", names, 6), -1);         // shorter names match exactly only
  EXPECT_EQ(VmdFindName("abcdefghijklmno", names, 6), 3);  // exact first
  const char* noExact[] = {"abcdefghijklmnopq", "abcdefghijklmnoZ"};
  EXPECT_EQ(VmdFindName("abcdefghijklmno", noExact, 2), 0);  // else the first by prefix
  EXPECT_EQ(VmdFindName("zzz", names, 6), -1);
}

}  // namespace
