// X and PMD files through MV1LoadModel end to end, over the Direct3D engine: the readers' results
// become models whose textures are the image files beside them and whose animation sets play
// through the animation runtime.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/file/file.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/d3d_engine.h"
#include "tests/support/memory_files.h"
#include "tests/support/model_files.h"
#include "tests/support/pmd_writer.h"
#include "tests/support/test_support.h"

namespace {

class ImportLoadTest : public D3DEngineTest {
 protected:
  // MV1LoadModel of a file below the test data; the model handle, or -1 with the log in log_.
  int Load(const std::string& relative) {
    LogCaptureBegin();
    int h = MV1LoadModel(TestDataPath(relative).c_str());
    log_ = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    if (h >= 0) models_.push_back(h);
    return h;
  }
  void TearDown() override {
    for (int h : models_) MV1DeleteModel(h);
    D3DEngineTest::TearDown();
  }
  // The pixels of a graph made straight from an image file of the test data.
  std::vector<uint32_t> FilePixels(const std::string& relative, int* w, int* h) {
    std::vector<uint8_t> bytes = ReadTestDataBytes(relative);
    int g = CreateGraphFromImageFile(bytes.data(), bytes.size(), 1, 0, 0, 0);
    EXPECT_GE(g, 0) << relative;
    if (g < 0) return {};
    GRAPH_RECORD* r = GetGraphRecord(g);
    *w = r->Width;
    *h = r->Height;
    std::vector<uint32_t> px(r->HostPixels, r->HostPixels + static_cast<size_t>(r->Width) * r->Height);
    DeleteGraph(g);
    return px;
  }
  // Each texture of the model holds the image of the file it names (folder relative to the data).
  void ExpectTexturesAreTheFiles(int model, const std::string& folder,
                                 const std::vector<std::string>& files) {
    ASSERT_EQ(MV1GetTextureNum(model), static_cast<int>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
      int w = 0, h = 0;
      std::vector<uint32_t> want = FilePixels(folder + "/" + files[i], &w, &h);
      int g = MV1GetTextureGraphHandle(model, static_cast<int>(i));
      ASSERT_GE(g, 0) << files[i];
      GRAPH_RECORD* r = GetGraphRecord(g);
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->Width, w) << files[i];
      EXPECT_EQ(r->Height, h) << files[i];
      if (r->Width != w || r->Height != h || want.empty()) continue;
      EXPECT_EQ(std::memcmp(r->HostPixels, want.data(), want.size() * 4), 0) << files[i];
    }
  }
  std::string log_;
  std::vector<int> models_;
};

bool Finite(const MATRIX& m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (!std::isfinite(m.m[i][j])) return false;
  return true;
}

float Distance(VECTOR a, VECTOR b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// The weights of every shape of the model, frame by frame.
std::vector<float> ShapeRates(int handle) {
  MV1Model* model = MV1GetModelChecked(handle);
  std::vector<float> rates;
  for (int f = 0; f < model->BaseData->FrameCount; ++f)
    for (int k = 0; k < model->Frame[f].Base->ShapeCount; ++k) rates.push_back(model->Frame[f].Shape[k].Rate);
  return rates;
}

// Plays each animation set of a model alone: at every sampled time the frames' matrices and the
// shape weights are finite, and the set moves at least minMoving frames or shapes between its
// start and its middle (minMoving[set]).
void PlayEverySet(int model, const std::vector<int>& minMoving) {
  const int frames = MV1GetFrameNum(model);
  ASSERT_EQ(static_cast<int>(minMoving.size()), MV1GetAnimNum(model));
  for (int a = 0; a < MV1GetAnimNum(model); ++a) {
    SCOPED_TRACE(MV1GetAnimName(model, a));
    int attach = MV1AttachAnim(model, a, -1, 0);
    ASSERT_GE(attach, 0);
    float total = MV1GetAttachAnimTotalTime(model, attach);
    EXPECT_GT(total, 0.0f);
    std::vector<MATRIX> start(frames);
    std::vector<float> startRates;
    int moving = 0;
    for (int step = 0; step <= 8; ++step) {
      float t = total * step / 8;
      ASSERT_EQ(MV1SetAttachAnimTime(model, attach, t), 0);
      EXPECT_EQ(MV1GetAttachAnimTime(model, attach), t);
      for (int f = 0; f < frames; ++f) {
        MATRIX m = MV1GetFrameLocalWorldMatrix(model, f);
        ASSERT_TRUE(Finite(m)) << "frame " << f << " at " << t;
        if (step == 0) start[f] = m;
        if (step == 4 && std::memcmp(&m, &start[f], sizeof m) != 0) ++moving;
      }
      // the shape weights the set drives (set while the matrices were brought up to date)
      std::vector<float> rates = ShapeRates(model);
      for (float r : rates) ASSERT_TRUE(std::isfinite(r)) << t;
      if (step == 0) startRates = rates;
      for (size_t k = 0; step == 4 && k < rates.size(); ++k) moving += rates[k] != startRates[k];
    }
    EXPECT_GE(moving, minMoving[a]);
    EXPECT_EQ(MV1DetachAnim(model, attach), 0);
  }
}

TEST_F(ImportLoadTest, TinyLoadsWithItsTextureAndPlaysItsFourSets) {
  int h = Load("models/x/tiny_4anim.x");
  ASSERT_GE(h, 0) << log_;
  EXPECT_EQ(MV1GetFrameNum(h), 48);
  // "tiny\\Tiny_skin.dds" as written: the empty path component is dropped
  ExpectTexturesAreTheFiles(h, "models/x", {"tiny/Tiny_skin.dds"});
  ASSERT_EQ(MV1GetAnimNum(h), 4);
  const char* names[] = {"Loiter", "Walk", "Jog", "Wave"};
  for (int a = 0; a < 4; ++a) {
    EXPECT_STREQ(MV1GetAnimName(h, a), names[a]);
    EXPECT_EQ(MV1GetAnimIndex(h, names[a]), a);
  }
  PlayEverySet(h, {10, 10, 10, 10});
}

TEST_F(ImportLoadTest, LobbySkyboxFindsItsTexturesDespiteTheirCase) {
  int h = Load("models/x/lobby_skybox.x");
  ASSERT_GE(h, 0) << log_;
  // the file names "LobbyYPos.jpg" and the like; the files are "lobbyypos.JPG"
  ExpectTexturesAreTheFiles(h, "models/x",
                            {"lobbyypos.JPG", "lobbyxpos.JPG", "lobbyxneg.JPG", "lobbyzpos.JPG",
                             "lobbyzneg.JPG", "lobbyyneg.JPG"});
  EXPECT_EQ(MV1GetAnimNum(h), 0);
}

TEST_F(ImportLoadTest, EveryXFileLoadsOrIsRefusedThroughTheLoader) {
  struct Row {
    const char* file;
    int frames;  // -1: refused
  } rows[] = {{"tiger.x", -2}, {"test_cube_binary.x", -2}, {"empty.x", -1},
              {"test_cube_compressed.x", -1}, {"malformed_skinweights_oob.x", -1}};
  for (const Row& r : rows) {
    int h = Load(std::string("models/x/") + r.file);
    if (r.frames == -1) {
      EXPECT_EQ(h, -1) << r.file;
      EXPECT_EQ(log_.empty(), r.file == std::string("empty.x")) << r.file << "\n" << log_;
      continue;
    }
    ASSERT_GE(h, 0) << r.file << "\n" << log_;
    if (r.frames >= 0) { EXPECT_EQ(MV1GetFrameNum(h), r.frames) << r.file; }
  }
  // the tiger's texture is the bitmap beside it
  ExpectTexturesAreTheFiles(models_[0], "models/x", {"tiger.bmp"});
}

// The X and MQO readers free the whole-file image (and the X reader its object tree) before the
// conversion: files padded with a mebibyte of blanks hold far less than that at its entry.
size_t g_liveAtConversion;

TEST_F(ImportLoadTest, TheFileImageIsGoneBeforeTheConversion) {
  const std::string pad(1 << 20, ' ');
  const std::string x = "xof 0303txt 0032\n" + pad +
                        "Mesh m { 3; 0.0;0.0;0.0;, 1.0;0.0;0.0;, 0.0;1.0;0.0;; 1; 3;0,1,2;; }\n";
  const std::string mqo = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n" + pad +
                          "Object \"o\" {\r\n\tdepth 0\r\n\tvertex 3 {\r\n\t\t0 0 0\r\n\t\t1 0 0\r\n"
                          "\t\t0 1 0\r\n\t}\r\n\tface 1 {\r\n\t\t3 V(0 1 2)\r\n\t}\r\n}\r\nEof\r\n";
  char dir[1024];
  ASSERT_EQ(FileGetCurrentDir(dir, sizeof(dir)), 0);
  SetReadModelObserver(
      [](const ReadModel*, const char*, void*) {
        g_liveAtConversion = MemLiveBytes();
        return 0;
      },
      nullptr);
  for (const auto& [name, text] : {std::pair<std::string, std::string>{"padded.x", x}, {"padded.mqo", mqo}}) {
    const std::string path = std::string(dir) + "\\" + name;
    ASSERT_TRUE(WriteEngineFile(path, std::vector<uint8_t>(text.begin(), text.end())));
    g_liveAtConversion = 0;
    const size_t before = MemLiveBytes();
    const int h = MV1LoadModel(path.c_str());
    RemoveEnginePath(path);
    ASSERT_GE(h, 0) << name;
    models_.push_back(h);
    EXPECT_GT(g_liveAtConversion, before) << name;
    EXPECT_LT(g_liveAtConversion - before, pad.size() / 4) << name;
  }
  SetReadModelObserver(nullptr, nullptr);
}

TEST_F(ImportLoadTest, GeneLoadsWithItsTexturesAndPlaysItsMotions) {
  int h = Load("models/pmd/Gene.pmd");
  ASSERT_GE(h, 0) << log_;
  EXPECT_EQ(MV1GetFrameNum(h), 225);
  ASSERT_EQ(MV1GetTextureNum(h), 10);
  int found = 0;
  for (int t = 0; t < 10; ++t) {
    int g = MV1GetTextureGraphHandle(h, t);
    ASSERT_GE(g, 0);
    int w = 0, hh = 0;
    GetGraphSize(g, &w, &hh);
    // the folder holds two of the ten files; the others fall back to the white stand-in
    std::string name = MV1GetTextureName(h, t);
    if (name == "tex/pale.png" || name == "tex/iraira.png") {
      int fw = 0, fh = 0;
      std::vector<uint32_t> want = FilePixels("models/pmd/" + name, &fw, &fh);
      // iraira.png (610 x 605) is stretched to the next powers of two
      EXPECT_EQ(w, name == "tex/pale.png" ? fw : 1024) << name;
      EXPECT_EQ(hh, name == "tex/pale.png" ? fh : 1024) << name;
      if (w == fw && hh == fh) {
        EXPECT_EQ(std::memcmp(GetGraphRecord(g)->HostPixels, want.data(), want.size() * 4), 0) << name;
      }
      ++found;
    } else {
      EXPECT_EQ(w, 8) << name;
      EXPECT_EQ(hh, 8) << name;
    }
  }
  EXPECT_EQ(found, 2);
  // Gene000 holds a pose (every bone key at frame 0) and morph keys; Gene001 sets every morph
  // to 0 at frames 0 and 10
  ASSERT_EQ(MV1GetAnimNum(h), 2);
  PlayEverySet(h, {4, 0});
}

TEST_F(ImportLoadTest, MenuTurnsThroughItsMotion) {
  int h = Load("models/pmd/menu.pmd");
  ASSERT_GE(h, 0) << log_;
  EXPECT_EQ(MV1GetFrameNum(h), 19);
  ASSERT_EQ(MV1GetAnimNum(h), 1);
  PlayEverySet(h, {1});
  EXPECT_GE(Load("models/pmd/bootscreen.pmd"), 0) << log_;
  EXPECT_EQ(MV1GetAnimNum(models_.back()), 0);
}

// A two-bone leg (bones of 1 unit) whose IK goal moves: played through the runtime, the baked
// chain puts the ankle on the goal at the keys, and the bones keep their lengths in between.
TEST_F(ImportLoadTest, BakedIkPlaysWithTheAnkleOnItsGoal) {
  MemoryFiles files(true);
  char cwd[1024];
  ASSERT_EQ(FileGetCurrentDir(cwd, sizeof(cwd)), 0);
  const std::string folder = std::string(cwd) + "\\generated-leg";  // served from memory only
  files.Add(folder + "/leg.pmd", WritePmd(MakeIkLegModel(0.2f)));
  const VECTOR goals[] = {{0, 0.6f, -0.4f}, {0, 0.8f, -0.2f}, {0, 0.4f, -0.4f}};
  std::vector<VmdTestBoneKey> keys(3);
  for (int k = 0; k < 3; ++k) {
    keys[k].name = "legIK";
    keys[k].frame = 20 * k;
    keys[k].position = goals[k];
  }
  files.Add(folder + "/leg000.vmd", WriteVmd(keys, {}));
  LogCaptureBegin();
  int h = MV1LoadModel((folder + "/leg.pmd").c_str());
  log_ = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  ASSERT_GE(h, 0) << log_;
  models_.push_back(h);
  ASSERT_EQ(MV1GetAnimNum(h), 1) << ::testing::PrintToString(files.requested);
  int ankle = MV1SearchFrame(h, "ankle"), goal = MV1SearchFrame(h, "legIK");
  int thigh = MV1SearchFrame(h, "thigh");
  int knee = MV1SearchFrame(h, (std::string(TEXT_PMD_KNEE) + "L").c_str());
  ASSERT_GE(ankle, 0);
  ASSERT_GE(goal, 0);
  ASSERT_GE(knee, 0);
  int attach = MV1AttachAnim(h, 0, -1, 0);
  ASSERT_GE(attach, 0);
  EXPECT_EQ(MV1GetAttachAnimTotalTime(h, attach), 40.0f);
  for (int t = 0; t <= 40; ++t) {
    SCOPED_TRACE(t);
    MV1SetAttachAnimTime(h, attach, static_cast<float>(t));
    VECTOR g = MV1GetFramePosition(h, goal);
    if (t % 20 == 0) {
      EXPECT_LT(Distance(g, goals[t / 20]), 1e-5f);
      EXPECT_LT(Distance(MV1GetFramePosition(h, ankle), g), 1e-3f);
    }
    EXPECT_NEAR(Distance(MV1GetFramePosition(h, thigh), MV1GetFramePosition(h, knee)), 1.0f, 1e-4f);
    EXPECT_NEAR(Distance(MV1GetFramePosition(h, knee), MV1GetFramePosition(h, ankle)), 1.0f, 1e-4f);
  }
}

}  // namespace
