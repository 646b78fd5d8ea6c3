// What each real PMD and VMD file holds at the byte level, as the files' own headers state it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/modelimport/pmd/pmd_file.h>
#include <qzlib/modelimport/pmd/pmd_ik.h>
#include <qzlib/modelimport/pmd/vmd_file.h>
#include "tests/support/memory_files.h"
#include "tests/support/test_support.h"

namespace {

struct PmdManifest {
  const char* file;
  uint32_t vertices, faces, materials, bones, iks, morphs;
};

// From the files' headers (see the folder's README).
const PmdManifest kPmdFiles[] = {
    {"models/pmd/Gene.pmd", 28646, 47106, 13, 224, 6, 178},
    {"models/pmd/menu.pmd", 28, 14, 7, 18, 0, 2},
    {"models/pmd/bootscreen.pmd", 4, 2, 1, 4, 0, 0},
};

TEST(PmdManifest, RealModelsParse) {
  for (const PmdManifest& m : kPmdFiles) {
    std::vector<uint8_t> bytes = ReadTestDataBytes(m.file);
    ASSERT_FALSE(bytes.empty()) << m.file;
    PmdFile f;
    ASSERT_EQ(ParsePmdFile(bytes.data(), bytes.size(), &f), 0) << m.file;
    EXPECT_EQ(f.vertexCount, m.vertices) << m.file;
    EXPECT_EQ(f.faceCount, m.faces) << m.file;
    EXPECT_EQ(f.materialCount, m.materials) << m.file;
    EXPECT_EQ(f.boneCount, m.bones) << m.file;
    EXPECT_EQ(f.ikCount, m.iks) << m.file;
    EXPECT_EQ(f.morphCount, m.morphs) << m.file;
  }
}

// Gene's knees: the two knees and the two knee twist bones, every name holding the word.
TEST(PmdManifest, GeneHasFourKnees) {
  std::vector<uint8_t> bytes = ReadTestDataBytes("models/pmd/Gene.pmd");
  PmdFile f;
  ASSERT_EQ(ParsePmdFile(bytes.data(), bytes.size(), &f), 0);
  std::vector<PmdBoneInfo> bones(f.boneCount);
  PmdSetupBones(f, bones.data());
  int knees = 0;
  for (const PmdBoneInfo& b : bones) knees += b.knee;
  EXPECT_EQ(knees, 4);
}

struct VmdManifest {
  const char* file;
  uint32_t boneKeys, boneNames, morphKeys, morphNames, lastFrame;
};

const VmdManifest kVmdFiles[] = {
    {"models/pmd/Gene000.vmd", 224, 222, 345, 111, 300},
    {"models/pmd/Gene001.vmd", 0, 0, 449, 214, 10},
    {"models/pmd/Gene003.vmd", 224, 222, 344, 111, 300},
    {"models/pmd/menu000.vmd", 40, 16, 2, 2, 360},
    {"models/vmd/gene_00_normal.vmd", 0, 0, 449, 214, 10},
    {"models/vmd/gene_01_happy.vmd", 224, 222, 345, 111, 300},
    {"models/vmd/gene_26_mortifying.vmd", 1043, 222, 406, 178, 300},
    {"models/vmd/mei_breath.vmd", 452, 142, 142, 29, 75},
    {"models/vmd/mei_greeting.vmd", 376, 78, 21, 18, 60},
    {"models/vmd/menu_rotation.vmd", 40, 16, 2, 2, 360},
    {"models/vmd/sd_mei_confusion.vmd", 1506, 132, 133, 29, 150},
};

TEST(VmdManifest, RealMotionsParse) {
  for (const VmdManifest& m : kVmdFiles) {
    std::vector<uint8_t> bytes = ReadTestDataBytes(m.file);
    ASSERT_FALSE(bytes.empty()) << m.file;
    VmdFile f;
    ASSERT_EQ(ParseVmdFile(bytes.data(), bytes.size(), 0, &f), 0) << m.file;
    EXPECT_EQ(f.boneKeyCount, m.boneKeys) << m.file;
    EXPECT_EQ(f.boneNodeCount, m.boneNames) << m.file;
    EXPECT_EQ(f.morphKeyCount, m.morphKeys) << m.file;
    EXPECT_EQ(f.morphNodeCount, m.morphNames) << m.file;
    EXPECT_EQ(f.lastFrame, m.lastFrame) << m.file;
  }
}

}  // namespace
