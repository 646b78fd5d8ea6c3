// X files into the read model: small hand-written files against the read model's dump, the
// rulings on indices, keys and unresolved names, the text/binary agreement, allocation failures,
// and the manifest of every X file of the test data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/x/xfile_model.h>
#include "tests/support/converted_base_check.h"
#include "tests/support/d3d_engine.h"
#include "tests/support/model_test.h"
#include "tests/support/readmodel_builder.h"
#include "tests/support/test_support.h"
#include "tests/support/x_test_files.h"

namespace {

struct Loaded {
  int rc;
  std::string dump;  // empty when the read model never reached the converter
  std::string log;
};

class XModelTest : public LeakCheckedTest {
 protected:
  Loaded Load(const std::string& bytes) {
    ReadModelCapture capture;
    LogCaptureBegin();
    int rc = LoadXFileModel(bytes.data(), bytes.size(), "dir/model.x", "model", "dir");
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    return {rc, capture.dumps.empty() ? "" : capture.dumps[0], log};
  }
  Loaded Text(const std::string& body) { return Load("xof 0303txt 0032" + body); }
};

bool Has(const std::string& dump, const std::string& line) { return dump.find(line) != std::string::npos; }

const char kQuad[] = "4; 0;0;0;, 1;0;0;, 1;1;0;, 0;1;0;; ";

TEST_F(XModelTest, EdgeCasesOfTheObjects) {
  struct Case {
    const char* what;
    std::string body;
    std::vector<std::string> lines;
  } cases[] = {
      {"an unnamed top-level mesh becomes the root frame \"Mesh\" with the material \"Normal\"",
       std::string("Mesh {") + kQuad + "1; 4;0,1,2,3;; }",
       {"counts frames=1 meshes=1 shapes=0 materials=1", "frame 0 \"Mesh\" parent=-1", "mesh 0 frame=0 faces=1",
        "material 0 \"Normal\"", "face 0 n=4 mat=0 pos=[0 1 2 3] uv0=[0 1 2 3]"}},
      {"a named top-level mesh a root frame of its name", std::string("Mesh Box {") + kQuad + "1; 4;0,1,2,3;; }",
       {"frame 0 \"Box\" parent=-1", "mesh 0 frame=0"}},
      {"a list with a face index count unlike the face count gives material 0",
       std::string("Mesh {") + kQuad + "2; 3;0,1,2;, 3;0,2,3;; MeshMaterialList { 2; 1; 1;; Material A { 1;0;0;0.5;; 0; 0;0;0;; 0;0;0;; } Material B { 0;1;0;1;; 0; 0;0;0;; 0;0;0;; } } }",
       {"materials=[0 1]", "face 0 n=3 mat=0", "face 1 n=3 mat=0",
        "ambient=(0 0 0 0) diffuse=(1 0 0 1) specular=(0 0 0 0) emissive=(0 0 0 0)"}},
      {"a list with one index per face names each face's material",
       std::string("Mesh {") + kQuad + "2; 3;0,1,2;, 3;0,2,3;; MeshMaterialList { 2; 2; 1, 0;; Material A { 1;1;1;1;; 5; 0.5;0.5;0.5;; 0.25;0.25;0.25;; } Material B { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }",
       {"face 0 n=3 mat=1", "face 1 n=3 mat=0", "specular=(0.5 0.5 0.5 0) emissive=(0.25 0.25 0.25 0) power=5"}},
      {"a vertex colour list of 0 entries still gives every corner white",
       std::string("Mesh {") + kQuad + "1; 4;0,1,2,3;; MeshVertexColors { 0;; } }",
       {"colors=1", "  c 0 (1 1 1 1)", "col=[0 0 0 0]"}},
      {"vertex colours by position, a later entry wins, the others white",
       std::string("Mesh {") + kQuad + "1; 4;0,1,2,3;; MeshVertexColors { 3; 2;1;0;0;1;;, 2;0;1;0;1;;, 7;0;0;1;1;;; } }",
       {"colors=4", "  c 3 (1 1 1 1)", "col=[3 3 1 3]"}},
      {"normals by the face of the same number",
       std::string("Mesh {") + kQuad + "1; 4;0,1,2,3;; MeshNormals { 2; 0;0;1;, 0;0;-1;; 1; 4;1,1,0,0;; } }",
       {"normals=2", "nrm=[1 1 0 0]"}},
      {"keyType 4 becomes a matrix key set like 3; rotations swap w to the end",
       "Frame F {} AnimationSet S { Animation A { {F} AnimationKey { 4; 1; 7;16;1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16;;; }"
       " AnimationKey { 0; 1; 5; 4; 0.5,1,2,3;;; } AnimationKey { 2; 0; } } }",
       {"animset 0 \"S\" total=7", "anim 0 target=0 \"F\" total=7", "keyset 0 type=2 kind=15 timetype=1 shape=0 total=7 keys=1",
        "key 0 t=7 [1 2 3 5 6 7 9 10 11 13 14 15]", "keyset 1 type=0 kind=0", "key 0 t=5 [1 2 3 0.5]", "keysets=2"}},
      {"a mesh under a frame and a named one under it",
       std::string("Frame F { FrameTransformMatrix { 1,0,0,0,0,1,0,0,0,0,1,0,4,5,6,1;; } Mesh {") + kQuad + "0;; } Mesh N {" + kQuad + "0;; } }",
       {"frame 0 \"F\" parent=-1", "matrix=[1 0 0 0 0 1 0 0 0 0 1 0 4 5 6 1]", "frame 1 \"N\" parent=0", "mesh 0 frame=0",
        "mesh 1 frame=1"}},
      {"a top-level mesh that two frames reference lands once under each, never at the top",
       std::string("Mesh T {") + kQuad + "0;; } Frame A { {T} } Frame B { {T} }",
       {"counts frames=4 meshes=2", "frame 0 \"A\" parent=-1", "frame 1 \"T\" parent=0", "frame 2 \"B\" parent=-1",
        "frame 3 \"T\" parent=2", "mesh 0 frame=1", "mesh 1 frame=3"}},
      {"a list material without a texture inherits the texture before it; a top-level one does not",
       std::string("Mesh {") + kQuad + "0;; MeshMaterialList { 2; 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"t.png\"; } }"
       " Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } } Material Top { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }",
       {"material 0 \"\" type=0 diffuse_tex=[0]", "material 1 \"\" type=0 diffuse_tex=[0]", "material 2 \"Top\" type=0 diffuse_tex=[]",
        "counts frames=1 meshes=1 shapes=0 materials=3 textures=1"}},
  };
  for (const auto& c : cases) {
    Loaded l = Text(c.body);
    EXPECT_EQ(l.rc, -1) << c.what;  // the capture stops the conversion
    for (const auto& line : c.lines) EXPECT_TRUE(Has(l.dump, line)) << c.what << "\nmissing: " << line << "\n" << l.dump << l.log;
  }
}

TEST_F(XModelTest, RefusalsAndDroppedObjects) {
  const std::string quad = std::string("Mesh {") + kQuad;
  const std::string parseError = XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n");
  struct Case {
    const char* what;
    std::string body;
    bool converts;
    std::string log;
  } cases[] = {
      {"face index beyond the vertices", quad + "1; 3;0,1,4;; }", false, "Load XFile : Face Vertex Index Beyond Vertices\r\n"},
      {"normal face shorter than the mesh face", quad + "1; 4;0,1,2,3;; MeshNormals { 1; 0;0;1;; 1; 3;0,0,0;; } }", false,
       "Load XFile : MeshNormals Face Does Not Match The Mesh Face\r\n"},
      {"normal index beyond the normals", quad + "1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 1; 3;0,0,1;; } }", false,
       "Load XFile : MeshNormals Face Does Not Match The Mesh Face\r\n"},
      {"normal face count", quad + "1; 3;0,1,2;; MeshNormals { 1; 0;0;1;; 0;; } }", false,
       XTestSjis("Load XFile : メッシュリストの面の数( 1 )と法線の面の数( 0 )が違いました\r\n\r\n")},
      {"texture coordinate count", quad + "0;; MeshTextureCoords { 1; 0;0;; } }", false,
       XTestSjis("Load XFile : テクスチャ座標の数( 1 )と頂点座標の数( 4 )が違いました\r\n\r\n")},
      {"material count of a list", quad + "0;; MeshMaterialList { 2; 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }", false,
       XTestSjis("Load XFile : マテリアルリストのマテリアル数( 2 )と実際のマテリアルの数( 1 )が違いました\r\n\r\n")},
      {"skin weight index beyond the vertices", "Frame B {} " + quad + "0;; SkinWeights { \"B\"; 1; 4; 1; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } }",
       false, "Load XFile : SkinWeights Vertex Index Beyond Vertices\r\n"},
      {"key type 5", "AnimationKey { 5; 0; }", true, ""},  // outside an animation: never read
      {"key type 5 in an animation", "Frame F {} Animation { {F} AnimationKey { 5; 0; } }", false, "Load XFile : AnimationKey Type 5\r\n"},
      {"key with too few values", "Frame F {} Animation { {F} AnimationKey { 1; 1; 0; 2; 1,1;;; } }", false,
       "Load XFile : AnimationKey Key 0 Has 2 Values, 3 Needed\r\n"},
      {"skin weights of a missing bone are dropped", quad + "0;; SkinWeights { \"Nobody\"; 1; 0; 1; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } }",
       true, "Load XFile : SkinWeights Nobody Names No Frame, Dropped\r\n"},
      {"an animation without a frame is dropped", "AnimationSet { Animation A { AnimationKey { 1; 1; 0; 3; 1,1,1;;; } } }", true,
       "Load XFile : Animation A Has No Frame, Dropped\r\n"},
      {"XTopFrame is no frame of the file", "AnimationSet { Animation A { {XTopFrame} AnimationKey { 1; 1; 0; 3; 1,1,1;;; } } }", true,
       XTestSjis("Load XFile : 間接参照が失敗しました\r\n") + "Load XFile : Animation A Has No Frame, Dropped\r\n"},
  };
  for (const auto& c : cases) {
    Loaded l = Text(c.body);
    EXPECT_EQ(l.rc, -1) << c.what;
    EXPECT_EQ(!l.dump.empty(), c.converts) << c.what << "\n" << l.log;
    EXPECT_EQ(l.log, c.log) << c.what;
  }
}

// The binary pair of the test data agrees within the text's six decimals; every text file and its
// binary forms give the same read model.
TEST_F(XModelTest, TextAndBinaryFormsGiveTheSameReadModel) {
  Loaded text = Load(XTestReadFile(TestDataPath("models/x/test_cube_text.x")));
  Loaded bin = Load(XTestReadFile(TestDataPath("models/x/test_cube_binary.x")));
  ASSERT_FALSE(text.dump.empty());
  ASSERT_FALSE(bin.dump.empty());
  // compare number by number: equal words, or numbers within 5e-7
  auto words = [](const std::string& s) {
    std::vector<std::string> w;
    std::string cur;
    for (char ch : s) {
      if (ch == ' ' || ch == '\n' || ch == '[' || ch == ']' || ch == '(' || ch == ')' || ch == '=' || ch == ',') {
        if (!cur.empty()) w.push_back(cur);
        cur.clear();
      } else {
        cur += ch;
      }
    }
    return w;
  };
  std::vector<std::string> a = words(text.dump), b = words(bin.dump);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    char* ea;
    char* eb;
    double x = std::strtod(a[i].c_str(), &ea), y = std::strtod(b[i].c_str(), &eb);
    ASSERT_TRUE(*ea == 0 && *eb == 0 && std::fabs(x - y) <= 5e-7) << i << ": " << a[i] << " vs " << b[i];
  }
  for (const char* name : {"anim_test.x", "arrow.x", "BCN_Epileptic.X", "configsystem_ball.x", "kwxport_test_cubewithvcolors.x",
                           "lobby_skybox.x", "malformed_skinweights_oob.x", "test.x", "test_cube_text.x", "testentities_cool_guy.x",
                           "tiger.x", "tiny_4anim.x"}) {
    std::string bytes = XTestReadFile(TestDataPath(std::string("models/x/") + name));
    Loaded t = Load(bytes);
    XFileObjectList list{};
    XFileAddObject(&list, XOBJ_FRAME, "XTopFrame", nullptr);
    ASSERT_EQ(ParseXFile(bytes.data(), bytes.size(), &list), 0);
    std::string forms[2] = {XWriteBinary(list, false), XWriteBinary(list, true)};
    FreeXFileObjectList(&list);
    for (const auto& form : forms) {
      Loaded f = Load(form);
      EXPECT_TRUE(f.dump == t.dump) << name;
      EXPECT_EQ(f.log, t.log) << name;
    }
  }
}

TEST_F(XModelTest, AllocationFailuresRefuseCleanly) {
  for (const char* name : {"test_cube_text.x", "test_cube_binary.x"}) {
    std::string bytes = XTestReadFile(TestDataPath(std::string("models/x/") + name));
    int points = ForEachAllocationFailure([&] {
      ReadModelCapture capture;
      LogCaptureBegin();
      LoadXFileModel(bytes.data(), bytes.size(), "model.x", "model", ".");
      std::string log = LogCaptureTextWithoutStamps();
      LogCaptureEnd();
      if (capture.dumps.empty()) {
        EXPECT_NE(log.find("Load XFile : "), std::string::npos) << log;
      }
      return !capture.dumps.empty();
    });
    EXPECT_GT(points, 30) << name;
  }
}

// The manifest of the X files of the test data, derived from the files by x_manifest.py (an
// independent reading of the format): read-model counts and the triangles of its faces, or the
// refusal and its log.
TEST_F(XModelTest, ManifestOfTheTestFiles) {
  struct Row {
    const char* file;
    int frames, meshes, materials, textures, skinWeights, sets, anims, keySets, triangles;
    std::string log;  // the whole log of the load
  } rows[] = {
      {"anim_test.x", 5, 1, 1, 1, 2, 1, 4, 12, 840,
       "Load XFile : SkinWeights joint3 Names No Frame, Dropped\r\nLoad XFile : SkinWeights joint4 Names No Frame, Dropped\r\n"},
      {"arrow.x", 6, 2, 2, 0, 0, 0, 0, 0, 152, ""},
      {"ball.x", 1, 1, 10, 3, 0, 0, 0, 0, 224, ""},
      {"BCN_Epileptic.X", 60, 3, 3, 0, 54, 1, 57, 171, 5126, ""},
      {"configsystem_ball.x", 3, 1, 1, 0, 0, 1, 1, 3, 4512, ""},
      {"empty.x", -1, 0, 0, 0, 0, 0, 0, 0, 0, ""},
      {"fromtruespace_bin32.x", 2, 1, 1, 0, 0, 0, 0, 0, 6656, ""},
      {"kwxport_test_cubewithvcolors.x", 2, 1, 3, 3, 0, 0, 0, 0, 12, ""},
      {"lobby_skybox.x", 7, 6, 6, 6, 0, 0, 0, 0, 12, ""},
      {"malformed_skinweights_oob.x", -1, 0, 0, 0, 0, 0, 0, 0, 0, "Load XFile : SkinWeights Vertex Index Beyond Vertices\r\n"},
      {"teapot.x", 1, 1, 1, 0, 0, 0, 0, 0, 2256, ""},
      {"test.x", 2, 1, 1, 1, 0, 0, 0, 0, 12, ""},
      {"test_cube_binary.x", 3, 1, 1, 0, 1, 0, 0, 0, 12, ""},
      {"test_cube_compressed.x", -1, 0, 0, 0, 0, 0, 0, 0, 0,
       XTestSjis("対応している xファイル形式はテキスト形式と非圧縮バイナリ形式のみです\r\n")},
      {"test_cube_text.x", 3, 1, 1, 0, 1, 0, 0, 0, 12, ""},
      {"testentities_cool_guy.x", 13, 1, 1, 0, 10, 1, 11, 22, 136, ""},
      {"tiger.x", 1, 1, 1, 1, 0, 0, 0, 0, 602, ""},
      {"tiny_4anim.x", 48, 2, 2, 1, 35, 4, 150, 426, 6849, ""},
  };
  for (const auto& r : rows) {
    Loaded l = Load(XTestReadFile(TestDataPath(std::string("models/x/") + r.file)));
    EXPECT_EQ(l.log, r.log) << r.file;
    if (r.frames < 0) {
      EXPECT_EQ(l.dump, "") << r.file;
      continue;
    }
    char counts[256];
    std::snprintf(counts, sizeof counts, "counts frames=%d meshes=%d shapes=0 materials=%d textures=%d animsets=%d anims=%d keysets=%d\n",
                  r.frames, r.meshes, r.materials, r.textures, r.sets, r.anims, r.keySets);
    EXPECT_TRUE(Has(l.dump, counts)) << r.file << "\n" << l.dump.substr(0, 300);
    EXPECT_TRUE(Has(l.dump, "skinweights=" + std::to_string(r.skinWeights) + "\n")) << r.file;
    int triangles = 0;
    for (size_t at = l.dump.find("  face "); at != std::string::npos; at = l.dump.find("  face ", at + 1)) {
      int n = std::atoi(l.dump.c_str() + l.dump.find(" n=", at) + 3);
      triangles += n >= 3 ? n - 2 : 0;
    }
    EXPECT_EQ(triangles, r.triangles) << r.file;
  }
  // tiny_4anim.x: four sets, and its texture named with the backslash doubled as written
  Loaded tiny = Load(XTestReadFile(TestDataPath("models/x/tiny_4anim.x")));
  for (const char* line : {"animset 0 \"Loiter\"", "animset 1 \"Walk\" total=4800", "animset 2 \"Jog\"", "animset 3 \"Wave\"",
                           "texture 0 \"tiny\\x5C\\x5CTiny_skin.dds\" color=\"tiny\\x5CTiny_skin.dds\""})
    EXPECT_TRUE(Has(tiny.dump, line)) << line;
}

// The float size word matters to binary float lists only: text files of either word load alike,
// and a "0032" binary file relabelled "0064" keeps 4-byte lists that no longer read.
TEST_F(XModelTest, FloatSizeWord) {
  for (const char* name : {"tiger.x", "lobby_skybox.x", "test_cube_text.x"}) {
    std::string bytes = XTestReadFile(TestDataPath(std::string("models/x/") + name));
    Loaded as = Load(bytes);
    for (const char* word : {"0032", "0064", "abcd"}) {
      bytes.replace(12, 4, word);
      Loaded other = Load(bytes);
      EXPECT_FALSE(other.dump.empty()) << name << " " << word;
      EXPECT_TRUE(other.dump == as.dump) << name << " " << word;
    }
  }
  std::string bin = XTestReadFile(TestDataPath("models/x/fromtruespace_bin32.x"));
  bin.replace(12, 4, "0064");
  Loaded wide = Load(bin);
  EXPECT_EQ(wide.dump, "");
  EXPECT_NE(wide.log.find("Load XFile : "), std::string::npos) << wide.log;
}

TEST_F(XModelTest, Capacities) {
  const std::string mat = "Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } ";
  auto materials = [&](int n) {
    std::string s = std::string("Mesh {") + kQuad + "0;; MeshMaterialList { " + std::to_string(n) + "; 0;; ";
    for (int i = 0; i < n; ++i) s += mat;
    return s + "} }";
  };
  EXPECT_FALSE(Text(materials(256)).dump.empty());
  Loaded over = Text(materials(257));
  EXPECT_EQ(over.dump, "");
  EXPECT_EQ(over.log, "Load XFile : More Than 256 Materials In One Mesh\r\n");
  auto weights = [&](int n) {
    std::string s = std::string("Frame B {} Mesh {") + kQuad + "0;; ";
    for (int i = 0; i < n; ++i) s += "SkinWeights { \"B\"; 1; 0; 1; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } ";
    return s + "}";
  };
  EXPECT_TRUE(Has(Text(weights(4096)).dump, "skinweights=4096\n"));
  Loaded many = Text(weights(4097));
  EXPECT_EQ(many.dump, "");
  EXPECT_EQ(many.log, "Load XFile : More Than 4096 SkinWeights In One Mesh\r\n");
  // one large mesh referenced by many frames
  std::string big = "Mesh M { 400000; ";
  for (int i = 0; i < 400000; ++i) big += "0;0;0;,";
  big += "; 0;; }";
  for (int i = 0; i < 100; ++i) big += "Frame {{M}}";
  Loaded often = Text(big);
  EXPECT_EQ(often.dump, "");
  EXPECT_EQ(often.log, "Load XFile : Meshes Collected Too Often\r\n");
}

// Through the converter: every X file the manifest loads becomes a base that passes the
// converted-base checks, with the manifest's triangles; the refused ones leave no base.
class XBaseTest : public D3DEngineTest {
 protected:
  void SetUp() override {
    D3DEngineTest::SetUp();
    MV1DeleteModelBase(MV1AddModelBaseHandle());  // the table grows at its first handle
  }
  int LoadFile(const char* name, std::string* log = nullptr) {
    std::string bytes = XTestReadFile(TestDataPath(std::string("models/x/") + name));
    std::string folder = TestDataPath("models/x");
    LogCaptureBegin();
    int h = LoadXFileModel(bytes.data(), bytes.size(), (folder + "/" + name).c_str(), name, folder.c_str());
    if (log) *log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    return h;
  }
};

TEST_F(XBaseTest, TestFilesConvert) {
  struct Row {
    const char* file;
    int triangles;  // -1: refused
  } rows[] = {
      {"anim_test.x", 840}, {"arrow.x", 152}, {"ball.x", 224}, {"BCN_Epileptic.X", 5126}, {"configsystem_ball.x", 4512},
      {"empty.x", -1}, {"fromtruespace_bin32.x", 6656}, {"kwxport_test_cubewithvcolors.x", 12}, {"lobby_skybox.x", 12},
      {"malformed_skinweights_oob.x", -1}, {"teapot.x", 2256}, {"test.x", 12}, {"test_cube_binary.x", 12},
      {"test_cube_compressed.x", -1}, {"test_cube_text.x", 12}, {"testentities_cool_guy.x", 136}, {"tiger.x", 602},
      {"tiny_4anim.x", 6849},
  };
  for (const auto& r : rows) {
    std::string log;
    int h = LoadFile(r.file, &log);
    if (r.triangles < 0) {
      EXPECT_EQ(h, -1) << r.file;
      EXPECT_EQ(ModelBaseCount(), 0) << r.file;
      continue;
    }
    ASSERT_GE(h, 0) << r.file << "\n" << log;
    const MV1ModelBase* base = ConvertedBase(h);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->TriangleCount, r.triangles) << r.file;
    EXPECT_VALID_BASE(base, nullptr, false);
    MV1DeleteModelBase(h);
  }
  // tiny_4anim.x: four animation sets in the base
  int h = LoadFile("tiny_4anim.x");
  ASSERT_GE(h, 0);
  EXPECT_EQ(ConvertedBase(h)->AnimCount, 4);
  MV1DeleteModelBase(h);
}

// Every allocation of loading the test cube pair fails once: the load refuses with a message and
// gives back every block, or (where the conversion absorbs the failure) loads a valid base.
TEST_F(XBaseTest, AllocationFailuresThroughTheConverter) {
  for (const char* name : {"test_cube_text.x", "test_cube_binary.x"}) {
    int refused = 0, absorbed = 0;
    for (long n = 1;; ++n) {
      size_t before = MemLiveBlockCount();
      uint64_t attempts = MemAllocAttempts();
      MemSetFailAt(n);
      std::string log;
      int h = LoadFile(name, &log);
      bool fired = static_cast<long>(MemAllocAttempts() - attempts) >= n;
      MemSetFailAt(0);
      if (h >= 0) {
        EXPECT_VALID_BASE(ConvertedBase(h), nullptr, false);
        MV1DeleteModelBase(h);
        if (!fired) break;
        ++absorbed;
      } else {
        ++refused;
        EXPECT_TRUE(fired) << name << " " << n;
        EXPECT_NE(log, "") << name << " allocation " << n;
      }
      EXPECT_EQ(MemLiveBlockCount(), before) << name << " allocation " << n;
      ASSERT_LT(n, 100000);
    }
    EXPECT_GT(refused, 30) << name;
    std::printf("%s: %d refusals, %d absorbed failures\n", name, refused, absorbed);
  }
}

}  // namespace
