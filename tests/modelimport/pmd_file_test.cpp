// The PMD file at the byte level: sniffing, bounds and the refusals, each with its one log line.
#include <qzlib/modelimport/pmd/pmd_file.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <qzlib/base/log.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/pmd_writer.h"

namespace {

// Parses bytes and returns the result with the captured log text.
int Parse(const std::vector<uint8_t>& bytes, std::string* log, PmdFile* file = nullptr) {
  PmdFile local;
  LogCaptureBegin();
  int r = ParsePmdFile(bytes.data(), bytes.size(), file ? file : &local);
  *log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  return r;
}

PmdTestModel MorphModel() {
  PmdTestModel m = MakeIkLegModel();
  m.morphs = {{"base", {{0, {0, 10, 0}}, {2, {0, 0, 0}}}}, {"smile", {{1, {1, 0, 0}}}}};
  return m;
}

TEST(PmdFile, ReadsEverySectionOfAWrittenModel) {
  PmdTestModel m = MorphModel();
  m.materials[0].texture = "skin.png";
  m.trailer = {1, 2, 3};
  std::vector<uint8_t> bytes = WritePmd(m);
  std::string log;
  PmdFile f;
  ASSERT_EQ(Parse(bytes, &log, &f), 0) << log;
  EXPECT_EQ(log, "");
  EXPECT_EQ(f.vertexCount, 3u);
  EXPECT_EQ(f.faceCount, 1u);
  EXPECT_EQ(f.materialCount, 1u);
  EXPECT_EQ(f.meshMaterialCount, 1u);
  EXPECT_EQ(f.boneCount, 5u);
  EXPECT_EQ(f.ikCount, 1u);
  EXPECT_EQ(f.morphCount, 2u);
  PmdVertex v;
  PmdReadVertex(f, 1, &v);
  EXPECT_EQ(v.position.y, 5.0f);
  EXPECT_EQ(v.bone[0], 2);
  EXPECT_EQ(v.weight, 60);
  PmdMaterial mat;
  PmdReadMaterial(f, 0, &mat);
  EXPECT_STREQ(mat.textureName, "skin.png");
  EXPECT_EQ(mat.faceIndexCount, 3u);
  PmdBone bone;
  PmdReadBone(f, 2, &bone);
  EXPECT_EQ(bone.parent, 1);
  EXPECT_EQ(bone.head.y, 5.0f);
  PmdIk ik;
  PmdReadIk(f.iks, &ik);
  EXPECT_EQ(ik.goal, 4);
  EXPECT_EQ(ik.chainLength, 2);
  EXPECT_EQ(PmdIkChainBone(ik, 0), 2);
  EXPECT_EQ(ik.iterations, 40);
  PmdMorph base, smile;
  PmdReadMorph(f.morphs, &base);
  PmdReadMorph(base.next, &smile);
  EXPECT_STREQ(smile.name, "smile");
  uint32_t idx;
  VECTOR pos;
  PmdReadMorphEntry(smile, 0, &idx, &pos);
  EXPECT_EQ(idx, 1u);
  EXPECT_EQ(pos.x, 1.0f);
}

TEST(PmdFile, NoMagicIsNoPmdWithoutAMessage) {
  std::string log;
  for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{}, std::vector<uint8_t>{'P', 'm'},
                                     std::vector<uint8_t>{'p', 'm', 'd', 0, 0, 0x80, 0x3F}}) {
    EXPECT_EQ(Parse(bytes, &log), -1);
    EXPECT_EQ(log, "");
  }
}

TEST(PmdFile, VersionOtherThanOneIsRefused) {
  PmdTestModel m = MakeIkLegModel();
  m.version = 2.0f;
  std::string log;
  EXPECT_EQ(Parse(WritePmd(m), &log), -2);
  EXPECT_EQ(log, TEXT_PMD_VERSION "\r\n");
}

// Every cut of a valid file is refused with one truncation line, never read past.
TEST(PmdFile, EveryTruncationIsRefusedWithOneLine) {
  std::vector<uint8_t> full = WritePmd(MorphModel());
  for (size_t cut = 3; cut < full.size(); ++cut) {
    std::vector<uint8_t> part(full.begin(), full.begin() + cut);
    part.shrink_to_fit();
    std::string log;
    ASSERT_EQ(Parse(part, &log), -2) << cut;
    EXPECT_EQ(log.rfind("PMD Load Error : ", 0), 0u) << cut;
    EXPECT_EQ(log.find("\r\n"), log.size() - 2) << cut;
  }
}

TEST(PmdFile, HugeCountsAreRefusedBeforeUse) {
  std::vector<uint8_t> bytes = WritePmd(MakeIkLegModel());
  // vertex count 0xFFFFFFFF: 38 x count does not fit in 32 bits
  for (int i = 0; i < 4; ++i) bytes[283 + i] = 0xFF;
  std::string log;
  EXPECT_EQ(Parse(bytes, &log), -2);
  EXPECT_NE(log.find("PMD Load Error : "), std::string::npos);
}

struct Refusal {
  const char* what;
  std::function<void(PmdTestModel&)> change;
  std::string expected;  // the log line without its line end
};

TEST(PmdFile, IndexAndLimitRefusals) {
  auto fmt = [](const char* f, auto... args) {
    char buf[512];
    snprintf(buf, sizeof(buf), f, args...);
    return std::string(buf);
  };
  const Refusal cases[] = {
      {"face index at V", [](PmdTestModel& m) { m.indices[2] = 3; }, fmt(TEXT_PMD_FACE_INDEX, 0u, 3u, 3u)},
      {"material faces beyond I / 3", [](PmdTestModel& m) { m.materials[0].faceIndexCount = 4; },
       fmt(TEXT_PMD_MATERIAL_FACES, 2ull, 1u)},
      {"more than 256 materials with faces",
       [](PmdTestModel& m) {
         m.indices.assign(3 * 257, 0);
         m.materials.assign(257, PmdTestMaterial{});
         for (auto& mt : m.materials) mt.faceIndexCount = 3;
       },
       fmt(TEXT_PMD_MATERIAL_LIMIT, 257u)},
      {"more than 1024 bones", [](PmdTestModel& m) { m.bones.assign(1025, PmdTestBone{"b"}); m.iks.clear(); },
       fmt(TEXT_PMD_BONE_LIMIT, 1025u)},
      {"parent not earlier", [](PmdTestModel& m) { m.bones[1].parent = 1; }, fmt(TEXT_PMD_BONE_PARENT, 1u, 1u)},
      {"parent later", [](PmdTestModel& m) { m.bones[0].parent = 3; }, fmt(TEXT_PMD_BONE_PARENT, 0u, 3u)},
      {"goal at B", [](PmdTestModel& m) { m.iks[0].goal = 5; }, fmt(TEXT_PMD_IK_BONE, 0u, 5u, 5u)},
      {"target at B", [](PmdTestModel& m) { m.iks[0].target = 9; }, fmt(TEXT_PMD_IK_BONE, 0u, 9u, 5u)},
      {"chain bone at B", [](PmdTestModel& m) { m.iks[0].chain[1] = 5; }, fmt(TEXT_PMD_IK_BONE, 0u, 5u, 5u)},
      {"chain of 0 bones", [](PmdTestModel& m) { m.iks[0].chain.clear(); }, fmt(TEXT_PMD_IK_CHAIN, 0u)},
      {"base entry at V", [](PmdTestModel& m) { m.morphs[0].entries[1].vertex = 3; },
       fmt(TEXT_PMD_MORPH_BASE, 3u, 3u)},
      {"morph entry at base count", [](PmdTestModel& m) { m.morphs[1].entries[0].vertex = 2; },
       fmt(TEXT_PMD_MORPH_INDEX, 1u, 2u, 2u)},
  };
  for (const Refusal& c : cases) {
    PmdTestModel m = MorphModel();
    c.change(m);
    std::string log;
    EXPECT_EQ(Parse(WritePmd(m), &log), -2) << c.what;
    EXPECT_EQ(log, c.expected + "\r\n") << c.what;
  }
}

TEST(PmdFile, AcceptedEdges) {
  std::string log;
  PmdFile f;
  // 1,024 bones, material faces exactly I / 3 with a count rounded up, unused morph indices
  // beside a lone base, an index count that is not a multiple of 3
  PmdTestModel m = MakeIkLegModel();
  for (int i = 5; i < 1024; ++i) m.bones.push_back({"b", static_cast<uint16_t>(i - 1)});
  m.materials[0].faceIndexCount = 2;
  m.indices.push_back(7);
  m.morphs = {{"base", {{99, {0, 0, 0}}}}};
  ASSERT_EQ(Parse(WritePmd(m), &log, &f), 0) << log;
  EXPECT_EQ(f.boneCount, 1024u);
  EXPECT_EQ(f.faceCount, 1u);
  EXPECT_EQ(PmdMaterialFaceCount(2), 1u);
  EXPECT_EQ(PmdMaterialFaceCount(0), 0u);
  EXPECT_EQ(PmdMaterialFaceCount(4), 2u);
  // no materials at all, and a material with no faces
  m.materials.clear();
  ASSERT_EQ(Parse(WritePmd(m), &log, &f), 0) << log;
  EXPECT_EQ(f.meshMaterialCount, 0u);
}

}  // namespace
