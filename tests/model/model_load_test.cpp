// Model loading: the path split, the whole-file read, the reader chain, the first model, the log
// lines of every failure and failure injection.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/file/file.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/d3d_engine.h"
#include "tests/support/model_builder.h"
#include "tests/support/model_files.h"
#include "tests/support/mv1_writer.h"

namespace {

std::string Cwd() {
  char dir[1024];
  EXPECT_EQ(FileGetCurrentDir(dir, sizeof(dir)), 0);
  return dir;
}

TEST(ModelPathSplit, FolderFileAndModelName) {
  const std::string cwd = Cwd();
  struct Case {
    const char* path;
    std::string folder, file, name;
  } cases[] = {
      {"a/b.c.x", cwd + "\\a", "b.c.x", "b"},
      {"C:model.mv1", "C:\\", "model.mv1", "model"},
      {"C:\\m.mv1", "C:\\", "m.mv1", "m"},
      {"m.mv1", cwd, "m.mv1", "m"},
      {"\\m.mv1", "\\", "m.mv1", "m"},
      {"/m.mv1", "\\", "m.mv1", "m"},
      {"models\\\x83\x5C.mv1", cwd + "\\models", "\x83\x5C.mv1", "\x83\x5C"},
      {"x\\y/z\\noext", cwd + "\\x\\y\\z", "noext", "noext"},
      {"C:\\d\\..\\e\\f.g", "C:\\e", "f.g", "f"},
  };
  for (const Case& c : cases) {
    char folder[1024], file[256], name[256];
    ASSERT_EQ(MV1SplitModelPath(c.path, folder, sizeof(folder), file, sizeof(file), name,
                                sizeof(name)),
              0)
        << c.path;
    EXPECT_EQ(folder, c.folder) << c.path;
    EXPECT_EQ(file, c.file) << c.path;
    EXPECT_EQ(name, c.name) << c.path;
  }
  char small[4], file[256], name[256];
  EXPECT_EQ(MV1SplitModelPath("abc\\d.x", small, sizeof(small), file, 256, name, 256), -1);
}

// What the test reader was handed.
struct ReaderCall {
  std::string path, name, folder;
  size_t size = 0;
  bool terminated = false;
  int calls = 0;
};
ReaderCall g_call;

// Accepts files starting with "TMDL" and builds the shared reference base.
int TestReader(const void* image, size_t size, const char* path, const char* name,
               const char* folder) {
  ++g_call.calls;
  g_call.path = path;
  g_call.name = name;
  g_call.folder = folder;
  g_call.size = size;
  g_call.terminated = static_cast<const char*>(image)[size] == 0;
  if (size < 4 || std::memcmp(image, "TMDL", 4) != 0) return -1;
  return ReferenceBaseBuilder().Build();
}

class ModelLoadTest : public D3DEngineTest {
 protected:
  void SetUp() override {
    D3DEngineTest::SetUp();
    saved_ = MV1GetModelReader(MV1_READER_MQO);
    MV1SetModelReader(MV1_READER_MQO, TestReader);
    g_call = ReaderCall{};
    dir_ = Cwd();
    ASSERT_TRUE(WriteEngineFile(dir_ + "\\good.tmdl", {'T', 'M', 'D', 'L', 1, 2, 3}));
    ASSERT_TRUE(WriteEngineFile(dir_ + "\\bad.tmdl", {'N', 'O', 'P', 'E'}));
  }
  void TearDown() override {
    MV1SetModelReader(MV1_READER_MQO, saved_);
    D3DEngineTest::TearDown();
  }
  std::string dir_;

 private:
  MV1ModelReader saved_ = nullptr;
};

// Fills the graph table until `left` slots remain; the handles made.
std::vector<int> FillGraphTable(int left) {
  BASEIMAGE pixel{};
  EXPECT_EQ(CreateXRGB8ColorBaseImage(1, 1, &pixel), 0);
  std::vector<int> graphs;
  for (;;) {
    int h = CreateModelTextureGraph(&pixel, nullptr);
    if (h < 0) break;
    graphs.push_back(h);
  }
  ReleaseBaseImage(&pixel);
  for (int i = 0; i < left && !graphs.empty(); ++i) {
    DeleteGraph(graphs.back(), 0);
    graphs.pop_back();
  }
  return graphs;
}

// The graph slots still free (taken and given back).
int FreeGraphSlots() { return static_cast<int>(FillGraphTable(0).size()); }

// Two textured materials on one triangle, in text form.
const char kTwoTextureX[] =
    "xof 0303txt 0032\n"
    "Frame F { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
    "  MeshMaterialList { 2; 1; 0;;\n"
    "    Material { 1;1;1;1;; 5; 0;0;0;; 0;0;0;; TextureFilename { \"a.bgra\"; } }\n"
    "    Material { 1;1;1;1;; 5; 0;0;0;; 0;0;0;; TextureFilename { \"b.bgra\"; } } } } }\n";

// A graph table too full for a model's textures fails its load, with the line the loader writes
// for a texture, and gives back all it took; the process goes on, and the same file loads once
// there is room. A program's own graph creation keeps its fatal end (graph tests).
TEST_F(ModelLoadTest, AFullGraphTableFailsTheLoadNotTheProgram) {
  FatalErrorCatcher noExit;  // a fatal end would throw here and fail the test
  ASSERT_TRUE(WriteEngineFile(dir_ + "\\tex2.mv1", WriteMv1(Mv1FullScene("a.bgra")).file));
  ASSERT_TRUE(WriteEngineFile(dir_ + "\\tex2.x", std::vector<uint8_t>(kTwoTextureX, kTwoTextureX + sizeof(kTwoTextureX) - 1)));
  ASSERT_TRUE(WriteEngineFile(dir_ + "\\a.bgra", BgraFileFilled(2, 2, 0xFF102030)));
  ASSERT_TRUE(WriteEngineFile(dir_ + "\\b.bgra", BgraFileFilled(2, 2, 0xFF405060)));
  // the texture-failure line of the first texture that finds no room
  char mv1Lines[2][256], xLines[2][256];
  const char* mv1Names[2] = {"colour", "bump"};
  const char* xNames[2] = {"a.bgra", "b.bgra"};
  for (int i = 0; i < 2; ++i) {
    std::snprintf(mv1Lines[i], sizeof(mv1Lines[i]), TEXT_MV1_READER_TEXTURE_FAILED, mv1Names[i]);
    std::snprintf(xLines[i], sizeof(xLines[i]), "Read Model Convert Error : " TEXT_RM_TEXTURE_LOAD_FAILED, xNames[i]);
  }
  struct Case {
    const char* file;
    char (*lines)[256];
  } cases[] = {{"tex2.mv1", mv1Lines}, {"tex2.x", xLines}};
  MV1DeleteModelBase(MV1AddModelBaseHandle());  // the base table grows once, here
  for (const Case& c : cases) {
    const std::string path = dir_ + "\\" + c.file;
    for (int room = 0; room <= 2; ++room) {
      std::vector<int> filler = FillGraphTable(room);
      const size_t blocks = MemLiveBlockCount();
      const long textures = D3DLiveTextureCount();
      LogCaptureBegin();
      const int h = MV1LoadModel(path.c_str());
      std::string log = LogCaptureTextWithoutStamps();
      LogCaptureEnd();
      if (room < 2) {
        EXPECT_EQ(h, -1) << c.file << " room " << room;
        EXPECT_NE(log.find(c.lines[room]), std::string::npos) << c.file << " room " << room << ": " << log;
        EXPECT_EQ(MemLiveBlockCount(), blocks) << c.file << " room " << room;
        EXPECT_EQ(D3DLiveTextureCount(), textures) << c.file << " room " << room;
        EXPECT_EQ(FreeGraphSlots(), room) << c.file;
        EXPECT_EQ(MV1ModelTable.Count + MV1ModelBaseTable.Count, 0) << c.file;
      } else {
        EXPECT_GE(h, 0) << c.file << ": " << log;
        EXPECT_EQ(FreeGraphSlots(), 0) << c.file;
        EXPECT_EQ(MV1DeleteModel(h), 0);
      }
      for (int g : filler) DeleteGraph(g, 0);
    }
  }
  // the built-in textures a draw makes on first use give -1 on a full table too
  std::vector<int> filler = FillGraphTable(0);
  EXPECT_EQ(MV1BuiltinTextureDrawGraph(MV1_BUILTIN_TEXTURE_WHITE), -1);
  for (int g : filler) DeleteGraph(g, 0);
  EXPECT_GE(MV1BuiltinTextureDrawGraph(MV1_BUILTIN_TEXTURE_WHITE), 0);
}

TEST_F(ModelLoadTest, LoadsThroughTheReaderChainAndBuildsBuffers) {
  EXPECT_NE(MV1GetModelReader(MV1_READER_MV1), nullptr);
  EXPECT_NE(MV1GetModelReader(MV1_READER_X), nullptr);
  EXPECT_NE(MV1GetModelReader(MV1_READER_PMD), nullptr);
  const std::string path = dir_ + "\\good.tmdl";
  long buffers = D3DLiveBufferCount();
  int h = MV1LoadModel(path.c_str());
  ASSERT_GE(h, 0);
  EXPECT_EQ(h & MV1_HANDLE_TAG_MASK, MV1_MODEL_HANDLE_TAG);
  EXPECT_EQ(g_call.path, path);
  EXPECT_EQ(g_call.name, "good");
  EXPECT_EQ(g_call.folder, dir_);
  EXPECT_EQ(g_call.size, 7u);
  EXPECT_TRUE(g_call.terminated);
  MV1Model* model = MV1GetModelChecked(h);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->BaseData->VertexBuffersBuilt, 1);
  EXPECT_GT(D3DLiveBufferCount(), buffers);
  EXPECT_EQ(MV1DeleteModel(h), 0);
  EXPECT_EQ(D3DLiveBufferCount(), buffers);
}

TEST_F(ModelLoadTest, FailuresLogTheirLineAndLeaveNothing) {
  struct Case {
    std::string path;
    const char* message;  // null: no line of its own
  } cases[] = {{dir_ + "\\bad.tmdl", nullptr},
               {dir_ + "\\missing.tmdl", TEXT_MV1_MODEL_OPEN_FAILED},
               {dir_, TEXT_MV1_MODEL_OPEN_FAILED}};  // a folder does not open
  for (const Case& c : cases) {
    LogCaptureBegin();
    EXPECT_EQ(MV1LoadModel(c.path.c_str()), -1) << c.path;
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    char expected[2048] = "";
    if (c.message) std::snprintf(expected, sizeof(expected), "%s\r\n", c.message);
    if (c.message) {
      char line[2048];
      std::snprintf(line, sizeof(line), c.message, c.path.c_str());
      EXPECT_EQ(log, std::string(line) + "\r\n");
    } else {
      EXPECT_EQ(log, "");
    }
    EXPECT_EQ(MV1ModelTable.Count, 0);
    EXPECT_EQ(MV1ModelBaseTable.Count, 0);
  }
  EXPECT_EQ(MV1LoadModel(nullptr), -1);
}

// A file table whose reads come up one element short: a file that shrank while being read.
size_t ShortRead(void*, size_t, size_t, FileHandle) { return 0; }

TEST_F(ModelLoadTest, ShortReadsFailAsUnopenableFiles) {
  FileFunctionTable shortTable = *GetPlainFileFunctionTable();
  shortTable.Read = ShortRead;
  SetFileFunctionTable(&shortTable);
  const std::string path = dir_ + "\\good.tmdl";
  LogCaptureBegin();
  const int h = MV1LoadModel(path.c_str());
  std::string log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  void* data = nullptr;
  int size = -1;
  const int whole = LoadWholeFileToMemory(path.c_str(), &data, &size);
  SetFileFunctionTable(nullptr);
  EXPECT_EQ(h, -1);
  char line[1024];
  std::snprintf(line, sizeof(line), TEXT_MV1_MODEL_OPEN_FAILED, path.c_str());
  EXPECT_EQ(log, std::string(line) + "\r\n");
  EXPECT_EQ(g_call.calls, 0);
  EXPECT_EQ(whole, -1);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(size, -1);
}

TEST_F(ModelLoadTest, EveryAllocationFailureIsReportedAndFreed) {
  const std::string path = dir_ + "\\good.tmdl";
  bool sawImage = false, sawHandle = false, sawCreate = false;
  char imageLine[1024], handleLine[1024], createLine[1024];
  std::snprintf(imageLine, sizeof(imageLine), TEXT_MV1_MODEL_IMAGE_ALLOC_FAILED, path.c_str());
  std::snprintf(handleLine, sizeof(handleLine), TEXT_MV1_MODEL_HANDLE_FAILED, path.c_str());
  std::snprintf(createLine, sizeof(createLine), TEXT_MV1_MODEL_CREATE_FAILED, path.c_str());
  int h = -1, failures = 0;
  long buffers = 0;
  int points = ForEachAllocationFailureTolerant(
      [&] {  // fresh tables, so that their growth fails too
        MV1TerminateModelSystem();
        InitModelSystem();
        buffers = D3DLiveBufferCount();
      },
      [&] {
        LogCaptureBegin();
        h = MV1LoadModel(path.c_str());
        std::string log = LogCaptureTextWithoutStamps();
        LogCaptureEnd();
        sawImage |= log.find(imageLine) != std::string::npos;
        sawHandle |= log.find(handleLine) != std::string::npos;
        sawCreate |= log.find(createLine) != std::string::npos;
        if (h < 0) {
          EXPECT_EQ(MV1ModelTable.Count, 0);
          EXPECT_EQ(MV1ModelBaseTable.Count, 0);
          EXPECT_EQ(D3DLiveBufferCount(), buffers);
        }
        return h < 0;
      },
      [&] {
        if (h >= 0) MV1DeleteModel(h);
        EXPECT_EQ(D3DLiveBufferCount(), buffers);
        MV1TerminateModelSystem();
        InitModelSystem();
      },
      &failures);
  EXPECT_GT(failures, 10);
  EXPECT_GT(points, 10);
  EXPECT_TRUE(sawImage);
  EXPECT_TRUE(sawHandle);
  EXPECT_TRUE(sawCreate);
}

// A reader that gives the image up (when asked) and returns a set result; readers after it count
// their calls.
struct ReleaseCase {
  bool release;
  int result;  // -1, or 0 for the reference base
};
ReleaseCase g_release;
size_t g_liveBefore, g_liveAfter, g_liveAfterSecond;
int g_laterCalls;

int ReleasingReader(const void* image, size_t size, const char*, const char*, const char*) {
  g_liveBefore = MemLiveBytes();
  if (g_release.release) {
    MV1ReleaseLoadImage(image);
    g_liveAfter = MemLiveBytes();
    MV1ReleaseLoadImage(image);  // once only
    g_liveAfterSecond = MemLiveBytes();
  } else {
    g_liveAfter = g_liveAfterSecond = g_liveBefore;
  }
  (void)size;
  return g_release.result < 0 ? -1 : ReferenceBaseBuilder().Build();
}

int CountingReader(const void*, size_t, const char*, const char*, const char*) {
  ++g_laterCalls;
  return -1;
}

TEST_F(ModelLoadTest, AReaderMayFreeTheImageAndThenNoOtherReaderIsOffered) {
  const MV1ModelReader savedX = MV1GetModelReader(MV1_READER_X), savedPmd = MV1GetModelReader(MV1_READER_PMD);
  MV1SetModelReader(MV1_READER_MQO, ReleasingReader);
  MV1SetModelReader(MV1_READER_X, CountingReader);
  MV1SetModelReader(MV1_READER_PMD, CountingReader);
  const std::string path = dir_ + "\\good.tmdl";  // 7 bytes, an image of 8
  const ReleaseCase cases[] = {{true, 0}, {true, -1}, {false, 0}, {false, -1}};
  g_release = cases[0];
  MV1DeleteModel(MV1LoadModel(path.c_str()));  // the handle tables grow once, here
  for (const ReleaseCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "release " << c.release << " result " << c.result);
    g_release = c;
    g_laterCalls = 0;
    const size_t blocks = MemLiveBlockCount();
    LogCaptureBegin();
    const int h = MV1LoadModel(path.c_str());
    const std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    EXPECT_EQ(log, "");
    EXPECT_EQ(h >= 0, c.result >= 0);
    if (c.release) {
      EXPECT_EQ(g_liveBefore - g_liveAfter, 8u);
      EXPECT_EQ(g_liveAfterSecond, g_liveAfter);
      EXPECT_EQ(g_laterCalls, 0);  // the file was the first reader's: the others refuse it unread
    } else {
      EXPECT_EQ(g_laterCalls, c.result < 0 ? 2 : 0);
    }
    if (h >= 0) MV1DeleteModel(h);
    EXPECT_EQ(MemLiveBlockCount(), blocks);
  }
  // An image the load does not hold (a reader called directly) is left alone.
  void* own = MEM_ALLOC(16);
  const size_t blocks = MemLiveBlockCount();
  MV1ReleaseLoadImage(own);
  MV1ReleaseLoadImage(nullptr);
  EXPECT_EQ(MemLiveBlockCount(), blocks);
  MEM_FREE(own);
  MV1SetModelReader(MV1_READER_X, savedX);
  MV1SetModelReader(MV1_READER_PMD, savedPmd);
}

}  // namespace
