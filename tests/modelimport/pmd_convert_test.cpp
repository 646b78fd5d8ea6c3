// PMD models through the whole reader into model bases: the real files and a synthetic IK model
// convert into bases that pass the converter's invariant checker.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/pmd/pmd_reader.h>
#include "tests/support/converted_base_check.h"
#include "tests/support/memory_files.h"
#include "tests/support/d3d_engine.h"
#include "tests/support/pmd_writer.h"
#include "tests/support/test_support.h"

namespace {

class PmdConvert : public D3DEngineTest {
 protected:
  // Loads and converts; the base (checked), or null with the log in *log.
  const MV1ModelBase* Load(const std::vector<uint8_t>& bytes, const char* name, const char* folder,
                           std::string* log) {
    LogCaptureBegin();
    handle_ = LoadPmdModel(bytes.data(), bytes.size(), name, name, folder);
    *log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    if (handle_ < 0) return nullptr;
    const MV1ModelBase* base = ConvertedBase(handle_);
    EXPECT_VALID_BASE(base, nullptr, true);
    return base;
  }
  void TearDown() override {
    if (handle_ >= 0) MV1DeleteModelBase(handle_);
    D3DEngineTest::TearDown();
  }
  int handle_ = -1;
};

struct BaseManifest {
  const char* name;
  int frames, materials, textures, shapes, anims, triangles;
};

const BaseManifest kBases[] = {
    {"Gene", 225, 13, 10, 177, 2, 47106},
    {"menu", 19, 7, 7, 1, 1, 14},
    {"bootscreen", 5, 1, 1, 0, 0, 2},
};

TEST_F(PmdConvert, RealModelsBecomeValidBases) {
  for (const BaseManifest& m : kBases) {
    std::vector<uint8_t> bytes = ReadTestDataBytes(std::string("models/pmd/") + m.name + ".pmd");
    std::string log;
    const MV1ModelBase* base = Load(bytes, m.name, TestDataPath("models/pmd").c_str(), &log);
    ASSERT_NE(base, nullptr) << m.name << log;
    EXPECT_EQ(base->FrameCount, m.frames) << m.name;
    EXPECT_EQ(base->MaterialCount, m.materials) << m.name;
    EXPECT_EQ(base->TextureCount, m.textures) << m.name;
    EXPECT_EQ(base->ShapeCount, m.shapes) << m.name;
    EXPECT_EQ(base->AnimCount, m.anims) << m.name;
    EXPECT_EQ(base->TriangleCount, m.triangles) << m.name;
    MV1DeleteModelBase(handle_);
    handle_ = -1;
  }
}

TEST_F(PmdConvert, IkModelWithAMotionConverts) {
  PmdTestModel m = MakeIkLegModel();
  m.morphs = {{"base", {{2, {0, 0, 0}}}}, {"smile", {{0, {0, 1, 0}}}}};
  MemoryFiles files;
  VmdTestBoneKey a, b;
  a.name = b.name = "legIK";
  a.position = {0, 3, -2};
  b.frame = 20;
  b.position = {0, 5, 1};
  files.Add("models\\m000.vmd", WriteVmd({a, b}, {{"smile", 4, 1.0f}}));
  std::string log;
  std::vector<uint8_t> bytes = WritePmd(m);
  const MV1ModelBase* base = Load(bytes, "m", "models", &log);
  ASSERT_NE(base, nullptr) << log;
  EXPECT_EQ(base->FrameCount, 6);
  EXPECT_EQ(base->AnimCount, 1);
  EXPECT_EQ(base->ShapeCount, 1);
}

}  // namespace
