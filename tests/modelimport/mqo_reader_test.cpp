// The MQO reader: materials, objects and their frames, faces, mirroring, every refusal and its
// message, the real documents of the test data, and allocation failures.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_base.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/converted_base_check.h"
#include "tests/support/d3d_engine.h"
#include "tests/support/model_files.h"
#include "tests/support/readmodel_builder.h"

namespace {

#define MQO_ERR "MQO Load Error : "

std::string Doc(const std::string& body) {
  return "Metasequoia Document\r\nFormat Text Ver 1.0\r\n" + body;
}

// A cube-free square of four positions (z as written) at x = 0..1.
const char kSquare[] =
    "\tvertex 4 {\r\n\t\t0 0 0\r\n\t\t1 0 0\r\n\t\t1 1 0\r\n\t\t0 1 0\r\n\t}\r\n";

std::string Object(const std::string& name, const std::string& words) {
  return "Object \"" + name + "\" {\r\n" + words + "}\r\n";
}

class MqoTest : public D3DEngineTest {
 protected:
  void SetUp() override {
    D3DEngineTest::SetUp();
    MV1DeleteModelBase(MV1AddModelBaseHandle());  // the base table grows once, here
  }
  void TearDown() override {
    SetReadModelObserver(nullptr, nullptr);
    for (int h : handles_) MV1DeleteModelBase(h);
    D3DEngineTest::TearDown();
  }
  // Loads a document; inspect sees the read model the converter gets (convert: go on with it).
  // The handle, or -1; the log lines in log (stamps removed).
  int Load(const std::string& doc, std::function<void(const ReadModel*)> inspect = nullptr,
           bool convert = false) {
    struct Seen {
      std::function<void(const ReadModel*)> fn;
      bool convert;
      bool called = false;
    } seen{inspect, convert};
    SetReadModelObserver(
        [](const ReadModel* rm, const char*, void* user) {
          auto* s = static_cast<Seen*>(user);
          s->called = true;
          if (s->fn) s->fn(rm);
          return s->convert ? 0 : 1;
        },
        &seen);
    LogCaptureBegin();
    int h = LoadMqoModel(doc.data(), doc.size(), "dir\\m.mqo", "m", "dir");
    log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    SetReadModelObserver(nullptr, nullptr);
    observed = seen.called;
    if (h >= 0) handles_.push_back(h);
    return h;
  }
  std::string log;
  bool observed = false;

 private:
  std::vector<int> handles_;
};

const ReadModelMaterial* Material(const ReadModel* rm, int n) {
  return ReadModelGetListItem(const_cast<ReadModel*>(rm), n);
}
const ReadModelFrame* Frame(const ReadModel* rm, const char* name) {
  for (const ReadModelFrame* f = rm->FirstFrame; f; f = f->Next) {
    if (std::strcmp(f->Name, name) == 0) return f;
  }
  return nullptr;
}
std::vector<int> Indices(const ReadModelFace& f, int set) {
  const int* p = ReadModelFaceIndicesOrZero(&f, set);
  return std::vector<int>(p, p + f.IndexCount);
}
void ExpectColor(const COLOR_F& c, float r, float g, float b, float a) {
  EXPECT_FLOAT_EQ(c.r, r);
  EXPECT_FLOAT_EQ(c.g, g);
  EXPECT_FLOAT_EQ(c.b, b);
  EXPECT_FLOAT_EQ(c.a, a);
}

// ---- Materials ----

TEST_F(MqoTest, MaterialWordsComeOutExact) {
  std::string doc = Doc(
      "Material 3 {\r\n"
      "\t\"a\" col(0.5 0.5 0.5 0.5) dif(0.8) amb(0.6) emi(0.5) spc(0.25) power(25) vcol(1)\r\n"
      "\t\"b\" dif(0.8) emi(0.5) col(0.5 0.25 0.5 0.75) reflect(0.1) refract(1.3)\n"
      "\t\"c\" shader(3) proj_pos(0.000 0.000 0.000)\n"
      "}\r\nEof\r\n");
  Load(doc, [](const ReadModel* rm) {
    ASSERT_EQ(rm->MaterialCount, 4);
    const ReadModelMaterial* a = Material(rm, 0);
    EXPECT_STREQ(a->Name, "a");
    ExpectColor(a->Diffuse, 0.4f, 0.4f, 0.4f, 0.5f);
    ExpectColor(a->Ambient, 0.6f, 0.6f, 0.6f, 0.0f);  // not tinted
    ExpectColor(a->Emissive, 0.25f, 0.25f, 0.25f, 0.0f);
    ExpectColor(a->Specular, 0.25f, 0.25f, 0.25f, 0.0f);
    EXPECT_EQ(a->Power, 100.0f);
    const ReadModelMaterial* b = Material(rm, 1);  // a line ended by a bare line feed
    ExpectColor(b->Diffuse, 0.8f, 0.8f, 0.8f, 0.75f);
    ExpectColor(b->Emissive, 0.5f, 0.5f, 0.5f, 0.0f);
    ExpectColor(Material(rm, 2)->Diffuse, 1, 1, 1, 1);
    const ReadModelMaterial* none = Material(rm, 3);
    EXPECT_STREQ(none->Name, "NoMaterial");
    ExpectColor(none->Diffuse, 1, 1, 1, 1);
    EXPECT_EQ(rm->UseFrameSmoothingAngles, 1);
    EXPECT_STREQ(rm->FilePath, "dir\\m.mqo");
    EXPECT_STREQ(rm->Name, "m");
    EXPECT_EQ(rm->FrameCount, 0);
  });
  EXPECT_TRUE(observed);
  EXPECT_EQ(log, "");
}

TEST_F(MqoTest, TexAplaneAndBumpMakeTheirTextures) {
  // the faces use every material so that none loses its diffuse texture
  std::string doc = Doc(
      "Material 5 {\r\n"
      "\t\"t\" tex(\"a.png\")\r\n"
      "\t\"ta\" tex(\"a.png\") aplane(\"m.png\")\r\n"
      "\t\"at\" aplane(\"m.png\") tex(\"a.png\")\r\n"
      "\t\"ap\" aplane(\"m.png\")\r\n"
      "\t\"bu\" bump(\"x\\\x83\\b.png\")\r\n"
      "}\r\n" +
      Object("o", std::string(kSquare) +
                      "\tface 5 {\r\n\t\t3 V(0 1 2) M(0)\r\n\t\t3 V(0 1 2) M(1)\r\n"
                      "\t\t3 V(0 1 2) M(2)\r\n\t\t3 V(0 1 2) M(3)\r\n\t\t3 V(0 1 2) M(4)\r\n\t}\r\n") +
      "Eof\r\n");
  Load(doc, [](const ReadModel* rm) {
    ASSERT_EQ(rm->MaterialCount, 6);
    const ReadModelTexture* t = Material(rm, 0)->DiffuseTextures.Items[0];
    EXPECT_STREQ(t->Name, "a.png");
    EXPECT_STREQ(t->ColorFilePath, "a.png");
    EXPECT_EQ(t->AlphaFilePath, nullptr);  // sharing it later does not give it an alpha
    EXPECT_EQ(t->BumpMapFlag, 0);
    EXPECT_FLOAT_EQ(t->BumpMapScale, 0.1f);
    const ReadModelTexture* ta = Material(rm, 1)->DiffuseTextures.Items[0];
    EXPECT_NE(ta, t);
    EXPECT_STREQ(ta->ColorFilePath, "a.png");
    EXPECT_STREQ(ta->AlphaFilePath, "m.png");
    EXPECT_EQ(Material(rm, 2)->DiffuseTextures.Items[0], ta);  // either order, one texture
    EXPECT_EQ(Material(rm, 2)->DiffuseTextures.Count, 1);
    const ReadModelTexture* ap = Material(rm, 3)->DiffuseTextures.Items[0];
    EXPECT_STREQ(ap->Name, "m.png");
    EXPECT_EQ(ap->ColorFilePath, nullptr);
    EXPECT_STREQ(ap->AlphaFilePath, "m.png");
    const ReadModelMaterial* bu = Material(rm, 4);
    EXPECT_EQ(bu->DiffuseTextures.Count, 0);
    ASSERT_EQ(bu->NormalTextures.Count, 1);
    // the 0x5C after the lead byte 0x83 is no separator
    EXPECT_STREQ(bu->NormalTextures.Items[0]->Name, "\x83\\b.png");
    EXPECT_EQ(bu->NormalTextures.Items[0]->BumpMapFlag, 1);
    EXPECT_EQ(rm->TextureCount, 4);
  });
  EXPECT_TRUE(observed) << log;
}

TEST_F(MqoTest, UnusedMaterialsLoseTheirDiffuseTextures) {
  std::string doc = Doc("Material 2 {\r\n\t\"u\" tex(\"a.png\")\r\n\t\"n\" tex(\"b.png\")\r\n}\r\n" +
                        Object("o", std::string(kSquare) + "\tface 1 {\r\n\t\t3 V(0 1 2) M(0)\r\n\t}\r\n"));
  Load(doc, [](const ReadModel* rm) {
    EXPECT_EQ(Material(rm, 0)->DiffuseTextures.Count, 1);
    EXPECT_EQ(Material(rm, 1)->DiffuseTextures.Count, 0);
  });
  EXPECT_TRUE(observed) << log;
}

// ---- Objects, vertices and faces ----

TEST_F(MqoTest, VerticesFacesColoursAndMaterials) {
  std::string doc = Doc(
      "Material 2 {\r\n\t\"m\" col(1 1 1 0.5) dif(0.5)\r\n\t\"z\" col(1 1 1 0)\r\n}\r\n" +
      Object("o",
             "\tdepth 0\r\n\tvisible 0\r\n\tscale 1 2 3\r\n\trotation 10 20 30\r\n"
             "\ttranslation 4 5 6\r\n\tfacet 90\r\n"
             "\tvertex 5 {\r\n\t\t1 2 3\r\n\t\t4 5 -6\r\n\t\t0 1 0\r\n\t\t1 1 0\r\n\t\t2 2 2\r\n\t}\r\n"
             "\tface 4 {\r\n"
             "\t\t3 V(0 1 2) M(0) UV(0.5 0.25 1 0 0 1) COL(4294967295 4278190335 33488896)\r\n"
             "\t\t5 V(0 1 2 3 4) M(0) UV(0 0 0 0 0 0 0 0 0 0) COL(1 2 3 4 5)\r\n"
             "\t\t4 V(0 1 2 3) UID(7) COL(255 65280 16711680 4278190080)\r\n"
             "\t\t3 V(2 3 4) M(0)\r\n"
             "\t}\r\n") +
      Object("empty", "\tdepth 0\r\n" + std::string(kSquare)) +
      Object("clear", "\tdepth 0\r\n" + std::string(kSquare) + "\tface 1 {\r\n\t\t3 V(0 1 2) M(1)\r\n\t}\r\n") +
      "Eof\r\n");
  Load(doc, [](const ReadModel* rm) {
    ASSERT_EQ(rm->FrameCount, 3);
    ASSERT_EQ(rm->MeshCount, 1);  // the empty mesh and the alpha-0 mesh are removed
    EXPECT_EQ(Frame(rm, "empty")->MeshCount, 0);
    EXPECT_EQ(Frame(rm, "clear")->MeshCount, 0);
    const ReadModelFrame* f = Frame(rm, "o");
    EXPECT_EQ(f->Visible, 0);
    EXPECT_EQ(f->Scale.y, 2.0f);
    EXPECT_EQ(f->Rotate.z, 30.0f);  // as written
    EXPECT_EQ(f->Translate.z, 6.0f);
    EXPECT_FLOAT_EQ(f->SmoothingAngle, 3.14159265f / 2);
    EXPECT_EQ(f->RotateOrder, 0);
    const ReadModelMesh* m = f->FirstMesh;
    ASSERT_EQ(m->PositionCount, 5);
    EXPECT_EQ(m->Positions[0].z, -3.0f);
    EXPECT_EQ(m->Positions[1].z, 6.0f);
    EXPECT_EQ(m->Positions[1].x, 4.0f);
    ASSERT_EQ(m->FaceCount, 3);  // the 5-gon is dropped
    EXPECT_EQ(m->UVCount[0], 16);
    EXPECT_EQ(m->VertexColorCount, 16);
    ASSERT_EQ(m->MaterialCount, 2);
    EXPECT_STREQ(m->Materials[0]->Name, "m");
    EXPECT_STREQ(m->Materials[1]->Name, "NoMaterial");
    const ReadModelFace& a = m->Faces[0];
    EXPECT_EQ(a.MaterialIndex, 0);
    EXPECT_EQ(Indices(a, READMODEL_SET_POSITION), (std::vector<int>{0, 1, 2}));
    const int* uv = ReadModelFaceIndicesOrZero(&a, READMODEL_SET_UV0);
    EXPECT_EQ(m->UVs[0][uv[0]].u, 0.5f);
    EXPECT_EQ(m->UVs[0][uv[0]].v, 0.25f);
    EXPECT_EQ(m->UVs[0][uv[2]].v, 1.0f);
    const int* col = ReadModelFaceIndicesOrZero(&a, READMODEL_SET_COLOR);
    // red in the low byte, times the diffuse (0.5, 0.5, 0.5, 0.5)
    ExpectColor(m->VertexColors[col[0]], 0.5f, 0.5f, 0.5f, 0.5f);
    ExpectColor(m->VertexColors[col[1]], 0.5f, 0.0f, 0.0f, 0.5f);
    ExpectColor(m->VertexColors[col[2]], 0.0f, 0.0f, 0.5f, 1.0f / 255.0f * 0.5f);
    const ReadModelFace& b = m->Faces[1];  // no M: NoMaterial, colours times white
    EXPECT_EQ(b.MaterialIndex, 1);
    EXPECT_EQ(b.IndexCount, 4);
    const int* bc = ReadModelFaceIndicesOrZero(&b, READMODEL_SET_COLOR);
    ExpectColor(m->VertexColors[bc[0]], 1, 0, 0, 0);
    ExpectColor(m->VertexColors[bc[3]], 0, 0, 0, 1);
    const int* bu = ReadModelFaceIndicesOrZero(&b, READMODEL_SET_UV0);
    EXPECT_EQ(m->UVs[0][bu[0]].u, 0.0f);  // no UV: its own zero coordinates
    const ReadModelFace& c = m->Faces[2];  // M without COL: the diffuse
    const int* cc = ReadModelFaceIndicesOrZero(&c, READMODEL_SET_COLOR);
    ExpectColor(m->VertexColors[cc[2]], 0.5f, 0.5f, 0.5f, 0.5f);
  });
  EXPECT_TRUE(observed) << log;
}

TEST_F(MqoTest, DepthsNestFrames) {
  std::string doc = Doc(Object("a", "\tdepth 0\r\n") + Object("b", "\tdepth 1\r\n") +
                        Object("c", "\tdepth 2\r\n") + Object("d", "\tdepth 1\r\n") +
                        Object("e", "\tdepth 0\r\n") + "Eof\r\n");
  Load(doc, [](const ReadModel* rm) {
    ASSERT_EQ(rm->FrameCount, 5);
    EXPECT_EQ(Frame(rm, "a")->Parent, nullptr);
    EXPECT_EQ(Frame(rm, "b")->Parent, Frame(rm, "a"));
    EXPECT_EQ(Frame(rm, "c")->Parent, Frame(rm, "b"));
    EXPECT_EQ(Frame(rm, "d")->Parent, Frame(rm, "a"));
    EXPECT_EQ(Frame(rm, "e")->Parent, nullptr);
    EXPECT_EQ(rm->MeshCount, 0);
  });
  EXPECT_TRUE(observed) << log;
}

TEST_F(MqoTest, LeadingVertexWordAndSubBlocksKeepTheGeometry) {
  std::string doc = Doc(Object("v", std::string(kSquare) +
                                        "\tface 1 {\r\n\t\t4 V(0 1 2 3)\r\n\t}\r\n") +
                        "Object \"s\" {\r\n\tdepth 0\r\n\tvertexattr {\r\n\t\tuid {\r\n\t\t\t1\r\n"
                        "\t\t}\r\n\t}\r\n\tpatch 3 {\r\n\t}\r\n\tlathe 0\r\n\t{ 1 { 2 } }\r\n" +
                        std::string(kSquare) +
                        "\tface 1 {\r\n\t\t3 V(0 1 2)\r\n\t}\r\n\tshading 1 }\r\n" +
                        "Eof\r\n");
  Load(doc, [](const ReadModel* rm) {
    ASSERT_EQ(rm->FrameCount, 2);
    ASSERT_EQ(rm->MeshCount, 2);
    EXPECT_EQ(Frame(rm, "v")->FirstMesh->FaceCount, 1);
    EXPECT_EQ(Frame(rm, "v")->FirstMesh->PositionCount, 4);
    EXPECT_EQ(Frame(rm, "s")->FirstMesh->FaceCount, 1);
  });
  EXPECT_TRUE(observed) << log;
}

// ---- Mirroring ----

struct MirrorCase {
  int axes;
  int copies;
};

TEST_F(MqoTest, MirrorModeOneMakesCopiesInAxisOrder) {
  const std::string quad =
      "\tmirror 1\r\n\tvertex 4 {\r\n\t\t0 1 2\r\n\t\t3 0 4\r\n\t\t5 6 0\r\n\t\t7 8 9\r\n\t}\r\n"
      "\tface 2 {\r\n\t\t4 V(0 1 2 3) UV(0 0 1 0 1 1 0 1)\r\n\t\t3 V(0 1 3) UV(0 0 2 0 2 2)\r\n\t}\r\n";
  for (MirrorCase c : {MirrorCase{1, 2}, {2, 2}, {4, 2}, {3, 4}, {7, 8}, {15, 8}, {0, 1}}) {
    SCOPED_TRACE(c.axes);
    std::string doc = Doc(Object("o", "\tdepth 0\r\n\tmirror_axis " + std::to_string(c.axes) +
                                          "\r\n" + quad));
    Load(doc, [&](const ReadModel* rm) {
      const ReadModelMesh* m = rm->FirstMesh;
      ASSERT_EQ(m->PositionCount, 4 * c.copies);
      ASSERT_EQ(m->FaceCount, 2 * c.copies);
      const int axes = c.axes & 7;
      int copy = 0;
      for (int s = 1; s < 8; ++s) {
        if ((s & axes) != s) continue;
        ++copy;
        const bool odd = __builtin_popcount(s) & 1;
        for (int v = 0; v < 4; ++v) {
          const VECTOR& o = m->Positions[v];
          const VECTOR& p = m->Positions[copy * 4 + v];
          EXPECT_EQ(p.x, (s & 1) ? -o.x : o.x);
          EXPECT_EQ(p.y, (s & 2) ? -o.y : o.y);
          EXPECT_EQ(p.z, (s & 4) ? -o.z : o.z);
        }
        const ReadModelFace& q = m->Faces[copy * 2];
        const ReadModelFace& t = m->Faces[copy * 2 + 1];
        std::vector<int> qOrder = odd ? std::vector<int>{3, 2, 1, 0} : std::vector<int>{0, 1, 2, 3};
        std::vector<int> tOrder = odd ? std::vector<int>{0, 2, 1} : std::vector<int>{0, 1, 2};
        const std::vector<int> qPos = {0, 1, 2, 3}, tPos = {0, 1, 3};
        // a vertex on every mirror plane of the copy stays shared with the first copy
        auto mapped = [&](int v) {
          const VECTOR& o = m->Positions[v];
          bool on = !((s & 1) && o.x != 0) && !((s & 2) && o.y != 0) && !((s & 4) && o.z != 0);
          return on ? v : copy * 4 + v;
        };
        for (int j = 0; j < 4; ++j) {
          EXPECT_EQ(Indices(q, READMODEL_SET_POSITION)[j], mapped(qPos[qOrder[j]]));
          EXPECT_EQ(Indices(q, READMODEL_SET_UV0)[j], Indices(m->Faces[0], READMODEL_SET_UV0)[qOrder[j]]);
          EXPECT_EQ(Indices(q, READMODEL_SET_COLOR)[j],
                    Indices(m->Faces[0], READMODEL_SET_COLOR)[qOrder[j]]);
        }
        for (int j = 0; j < 3; ++j) {
          EXPECT_EQ(Indices(t, READMODEL_SET_POSITION)[j], mapped(tPos[tOrder[j]]));
          EXPECT_EQ(Indices(t, READMODEL_SET_UV0)[j], Indices(m->Faces[1], READMODEL_SET_UV0)[tOrder[j]]);
        }
      }
      EXPECT_EQ(copy + 1, c.copies);
    }, true);
    EXPECT_TRUE(observed) << log;
  }
}

TEST_F(MqoTest, MirrorAxisXSharesThePlaneVertices) {
  std::string doc = Doc(Object("o", "\tdepth 0\r\n\tmirror 1\r\n\tmirror_axis 1\r\n" +
                                        std::string(kSquare) +
                                        "\tface 1 {\r\n\t\t4 V(0 1 2 3)\r\n\t}\r\n"));
  Load(doc, [](const ReadModel* rm) {
    const ReadModelMesh* m = rm->FirstMesh;
    ASSERT_EQ(m->PositionCount, 8);
    // (0 0 0) and (0 1 0) lie on x = 0: the mirrored face (3, 2, 1, 0) uses 0 and 3 themselves
    EXPECT_EQ(Indices(m->Faces[1], READMODEL_SET_POSITION), (std::vector<int>{3, 6, 5, 0}));
  });
}

// Many distinct vertices over one position (a degenerate quad repeated and mirrored on three
// axes: every copy's fan has normals of its own) once made the mesh parts compare each corner
// with every vertex of its position; each corner now compares with a handful.
TEST_F(MqoTest, CornersOfRepeatedMirroredQuadsFindTheirVerticesInProportion) {
  const int quads = 10000;
  std::string faces;
  for (int i = 0; i < quads; ++i) faces += "\t\t4 V(0 1 2 0)\r\n";
  const std::string doc = Doc(Object("o", "\tdepth 0\r\n\tmirror 1\r\n\tmirror_axis 7\r\n"
                                          "\tvertex 3 {\r\n\t\t0 0 0\r\n\t\t1 0 0\r\n\t\t0 1 0\r\n\t}\r\n"
                                          "\tface " + std::to_string(quads) + " {\r\n" + faces + "\t}\r\n")) +
                          "Eof\r\n";
  const uint64_t before = ReadModelWorkCount().VertexProbes;
  const int h = Load(doc, nullptr, true);
  ASSERT_GE(h, 0) << log;
  const uint64_t corners = 8ull * 2 * 3 * quads;  // eight copies of two triangles
  EXPECT_LE(ReadModelWorkCount().VertexProbes - before, 4 * corners);
  EXPECT_EQ(ConvertedBase(h)->TriangleCount, 8 * 2 * quads);
}

TEST_F(MqoTest, OtherMirrorModesAreNotExpanded) {
  std::string doc = Doc(Object("o", "\tdepth 0\r\n\tmirror 2\r\n\tmirror_axis 7\r\n" +
                                        std::string(kSquare) +
                                        "\tface 1 {\r\n\t\t4 V(0 1 2 3)\r\n\t}\r\n"));
  Load(doc, [](const ReadModel* rm) { EXPECT_EQ(rm->FirstMesh->PositionCount, 4); });
  EXPECT_TRUE(observed);
}

// ---- Refusals ----

struct Refusal {
  const char* what;
  std::string doc;
  std::string message;  // without its line end
};

std::string Face(const std::string& lines, int n = 1) {
  return Doc("Material 1 {\r\n\t\"m\"\r\n}\r\n" +
             Object("o", "\tdepth 0\r\n" + std::string(kSquare) + "\tface " + std::to_string(n) +
                             " {\r\n" + lines + "\t}\r\n") +
             "Eof\r\n");
}

// An object whose faces use 257 materials, one more than a mesh holds.
std::string ManyMaterials() {
  std::string mats = "Material 257 {\r\n", faces;
  for (int i = 0; i < 257; ++i) {
    mats += "\t\"m\"\r\n";
    faces += "\t\t3 V(0 1 2) M(" + std::to_string(i) + ")\r\n";
  }
  return Doc(mats + "}\r\n" +
             Object("o", "\tdepth 0\r\n" + std::string(kSquare) + "\tface 257 {\r\n" + faces + "\t}\r\n"));
}

const std::vector<Refusal>& Refusals() {
  static const std::vector<Refusal> cases = {
      {"too many materials", ManyMaterials(), ""},
      {"short, right first line", "Metasequoia Document\r\nFormat Text", MQO_ERR TEXT_MQO_UNEXPECTED_EOF},
      {"wrong first line", "Metasequoia Document\nFormat Text Ver 1.0\r\nEof\r\n", ""},
      {"tiny", "Meta", ""},
      {"zip", "PK\x03\x04", ""},
      {"token error in material pass", Doc("Scene { [ }\r\nEof\r\n"), MQO_ERR TEXT_MQO_UNEXPECTED_EOF},
      {"unterminated chunk", Doc("Scene { a b\r\n"), MQO_ERR TEXT_MQO_UNEXPECTED_EOF},
      {"unterminated quote", Doc("Scene { \"abc"), MQO_ERR TEXT_MQO_UNEXPECTED_EOF},
      {"lead byte last", Doc("Scene { \"ab\x83"), MQO_ERR TEXT_MQO_UNEXPECTED_EOF},
      {"long token", Doc("Scene { " + std::string(2000, 'a') + " }\r\n"), MQO_ERR TEXT_MQO_UNEXPECTED_EOF},
      {"material count", Doc("Material [ {\r\n}\r\n"), ""},
      {"negative material count", Doc("Material -2 {\r\n}\r\n"), ""},
      {"huge material count", Doc("Material 99999 {\r\n}\r\n"), ""},
      {"material open", Doc("Material 1 (\r\n"), MQO_ERR TEXT_MQO_MAT_NO_OPEN},
      {"material close", Doc("Material 1 {\r\n\"m\"\r\n\"n\"\r\n}"), MQO_ERR TEXT_MQO_MAT_NO_CLOSE},
      {"material name", Doc("Material 1 {\r\nm\r\n}\r\n"), ""},
      {"material read", Doc("Material 1 {\r\n\"m\" dif(1) [\r\n}\r\n"), ""},
      {"material paren open", Doc("Material 1 {\r\n\"m\" dif 1)\r\n}\r\n"), ""},
      {"material paren close", Doc("Material 1 {\r\n\"m\" col(1 1 1 1 1)\r\n}\r\n"), ""},
      {"tex string", Doc("Material 1 {\r\n\"m\" tex(a)\r\n}\r\n"), ""},
      {"aplane string", Doc("Material 1 {\r\n\"m\" aplane(1)\r\n}\r\n"), ""},
      {"bump string", Doc("Material 1 {\r\n\"m\" bump()\r\n}\r\n"), ""},
      {"chunk token", Doc("Material 0 {\r\n}\r\nObject \"o\" { }\r\n]\r\n"), MQO_ERR TEXT_MQO_CHUNK_TOKEN},
      {"object name", Doc("Object o {\r\n}\r\n"), MQO_ERR TEXT_MQO_OBJ_NAME},
      {"object open", Doc("Material 0 {\r\n}\r\nObject \"o\" (\r\n}\r\n"), MQO_ERR TEXT_MQO_OBJ_NO_OPEN},
      {"object parse", Doc("Material 0 {\r\n}\r\n" + Object("o", "\tdepth 0\r\n\tscale 1 [\r\n")), ""},
      {"object end", Doc("Material 0 {\r\n}\r\nObject \"o\" {\r\n\tdepth 0\r\n"), ""},
      {"negative depth", Doc(Object("o", "\tdepth -1\r\n")), ""},
      {"orphan depth", Doc(Object("o", "\tdepth 0\r\n") + Object("p", "\tdepth 2\r\n")), ""},
      {"negative vertex count", Doc(Object("o", "\tdepth 0\r\n\tvertex -1 {\r\n\t}\r\n")), ""},
      {"huge vertex count", Doc(Object("o", "\tdepth 0\r\n\tvertex 1000 {\r\n\t}\r\n")), ""},
      {"vertex open", Doc("Material 0 {\r\n}\r\n" + Object("o", "\tdepth 0\r\n\tvertex 1 (\r\n1 2 3\r\n\t}\r\n")), ""},
      {"vertex close", Doc(Object("o", "\tdepth 0\r\n\tvertex 1 {\r\n1 2 3 4\r\n\t}\r\n")), ""},
      {"vertex twice", Doc(Object("o", "\tdepth 0\r\n" + std::string(kSquare) + kSquare)), ""},
      {"negative face count", Face("", -1), ""},
      {"huge face count", Face("", 1000), ""},
      {"face open", Doc("Material 0 {\r\n}\r\n" + Object("o", std::string(kSquare) + "\tface 1 (\r\n\t}\r\n")), ""},
      {"face V", Face("\t\t3 W(0 1 2)\r\n"), ""},
      {"face V open", Face("\t\t3 V 0 1 2)\r\n"), ""},
      {"face V index", Face("\t\t3 V(0 4 2)\r\n"), ""},
      {"face V index -1", Face("\t\t3 V(0 -1 2)\r\n"), ""},
      {"face V close", Face("\t\t3 V(0 1 2 3)\r\n"), ""},
      {"face M open", Face("\t\t3 V(0 1 2) M 0)\r\n"), ""},
      {"face M close", Face("\t\t3 V(0 1 2) M(0\r\n"), ""},
      {"face M range", Face("\t\t3 V(0 1 2) M(1)\r\n"), ""},
      {"face UV open", Face("\t\t3 V(0 1 2) UV 0 0 0 0 0 0)\r\n"), ""},
      {"face UV close", Face("\t\t3 V(0 1 2) UV(0 0 0 0 0 0 0)\r\n"), ""},
      {"face COL open", Face("\t\t3 V(0 1 2) COL 1 2 3)\r\n"), ""},
      {"face COL close", Face("\t\t3 V(0 1 2) COL(1 2 3 4)\r\n"), ""},
      {"face close", Face("\t\t3 V(0 1 2)\r\n\t\t3 V(0 1 2)\r\n"), ""},
      {"face token", Face("\t\t3 V(0 1 2) N(1 [ 2)\r\n"), ""},
  };
  return cases;
}

// Expected message of each case that did not spell it out.
std::string Expected(const Refusal& c) {
  const std::string w = c.what;
  char buf[512];
  auto fmt = [&](const char* f, auto... a) {
    std::snprintf(buf, sizeof(buf), f, a...);
    return std::string(buf);
  };
  if (w == "material count") return fmt(MQO_ERR TEXT_MQO_MAT_COUNT, -1);
  if (w == "negative material count") return fmt(MQO_ERR TEXT_MQO_MAT_COUNT, -2);
  if (w == "huge material count") return fmt(MQO_ERR TEXT_MQO_MAT_COUNT, 99999);
  if (w == "material name") return fmt(MQO_ERR TEXT_MQO_MAT_NAME, 0);
  if (w == "material read") return fmt(MQO_ERR TEXT_MQO_MAT_READ, 0);
  if (w == "material paren open") return fmt(MQO_ERR TEXT_MQO_MAT_NO_PAREN_OPEN, 0, "dif");
  if (w == "material paren close") return fmt(MQO_ERR TEXT_MQO_MAT_NO_PAREN_CLOSE, 0, "col");
  if (w == "tex string") return fmt(MQO_ERR TEXT_MQO_TEX_STRING, 0);
  if (w == "aplane string") return fmt(MQO_ERR TEXT_MQO_APLANE_STRING, 0);
  if (w == "bump string") return fmt(MQO_ERR TEXT_MQO_BUMP_STRING, 0);
  if (w == "object parse" || w == "object end" || w == "negative vertex count" ||
      w == "huge vertex count" || w == "negative face count" || w == "huge face count" ||
      w == "face token") {
    return fmt(MQO_ERR TEXT_MQO_OBJ_PARSE, "o");
  }
  if (w == "negative depth") return fmt(MQO_ERR TEXT_MQO_BAD_DEPTH, "o", -1);
  if (w == "orphan depth") return fmt(MQO_ERR TEXT_MQO_BAD_DEPTH, "p", 2);
  if (w == "vertex open") return fmt(MQO_ERR TEXT_MQO_VERT_NO_OPEN, "o");
  if (w == "vertex close") return fmt(MQO_ERR TEXT_MQO_VERT_NO_CLOSE, "o");
  if (w == "vertex twice") return fmt(MQO_ERR TEXT_MQO_DUPLICATE_BLOCK, "o", "vertex");
  if (w == "too many materials") return fmt(MQO_ERR TEXT_MQO_TOO_MANY_MATERIALS, "o");
  if (w == "face open") return fmt(MQO_ERR TEXT_MQO_FACE_NO_OPEN, "o");
  if (w == "face V") return fmt(MQO_ERR TEXT_MQO_FACE_NO_V, "o");
  if (w == "face V open") return fmt(MQO_ERR TEXT_MQO_FACE_V_OPEN, "o");
  if (w == "face V index") return fmt(MQO_ERR TEXT_MQO_FACE_V_INDEX, "o", 1);
  if (w == "face V index -1") return fmt(MQO_ERR TEXT_MQO_FACE_V_INDEX, "o", 1);
  if (w == "face V close") return fmt(MQO_ERR TEXT_MQO_FACE_V_CLOSE, "o");
  if (w == "face M open") return fmt(MQO_ERR TEXT_MQO_FACE_M_OPEN, "o");
  if (w == "face M close") return fmt(MQO_ERR TEXT_MQO_FACE_M_CLOSE, "o");
  if (w == "face M range") return fmt(MQO_ERR TEXT_MQO_FACE_BAD_MATERIAL, "o", 1);
  if (w == "face UV open") return fmt(MQO_ERR TEXT_MQO_FACE_UV_OPEN, "o");
  if (w == "face UV close" || w == "face COL close") return fmt(MQO_ERR TEXT_MQO_FACE_UV_CLOSE, "o");
  if (w == "face COL open") return fmt(MQO_ERR TEXT_MQO_FACE_COL_OPEN, "o");
  if (w == "face close") return fmt(MQO_ERR TEXT_MQO_FACE_NO_CLOSE, "o");
  return c.message;
}

TEST_F(MqoTest, EveryRefusalLogsItsMessage) {
  for (const Refusal& c : Refusals()) {
    SCOPED_TRACE(c.what);
    EXPECT_LT(Load(c.doc), 0);
    EXPECT_FALSE(observed);
    std::string want = Expected(c);
    EXPECT_EQ(log, want.empty() ? "" : want + "\r\n");
  }
}

// ---- Real documents ----

// What each document of the test data holds, counted from the files by hand: frames, meshes,
// materials (with "NoMaterial"), textures, positions, triangles; or the refusal.
struct ManifestEntry {
  const char* file;
  bool loads;
  std::string message;
  int frames, meshes, materials, textures, positions, triangles;
};

TEST_F(MqoTest, RealDocumentsMatchTheManifest) {
  const std::vector<ManifestEntry> manifest = {
      {"mirrored_multiple_axes.mqo", true, "", 1, 1, 1, 0, 4, 2},  // mirror 2: not expanded
      {"multiple_materials.mqo", true, "", 1, 1, 3, 0, 8, 12},
      {"multiple_objects.mqo", true, "", 2, 2, 1, 0, 8 + 42, 12 + 40 + 20 * 2},
      {"normal.mqo", true, "", 1, 1, 2, 0, 8, 12},
      {"scene.mqo", true, "", 0, 0, 1, 0, 0, 0},
      {"simple.mqo", true, "", 0, 0, 1, 0, 0, 0},
      {"single_material_with_materialex2.mqo", true, "", 1, 1, 2, 0, 8, 12},
      {"single_object.mqoz", false, "", 0, 0, 0, 0, 0, 0},
      {"single_object_with_bvertex.mqo", false, MQO_ERR TEXT_MQO_UNEXPECTED_EOF "\r\n", 0, 0, 0,
       0, 0, 0},
      {"single_object_with_edge.mqo", true, "", 1, 1, 1, 0, 11, 12},  // two 2-vertex faces dropped
      {"texture.mqo", true, "", 1, 1, 2, 1, 8, 12},
  };
  const std::string folder = TestDataPath("models/mqo");
  for (const ManifestEntry& e : manifest) {
    SCOPED_TRACE(e.file);
    std::vector<char> bytes;
    FILE* fp = std::fopen((folder + "/" + e.file).c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), fp)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(fp);
    int frames = -1, meshes = -1, materials = -1, textures = -1, positions = 0, triangles = 0;
    std::string doc(bytes.begin(), bytes.end());
    int h = Load(doc, [&](const ReadModel* rm) {
      frames = rm->FrameCount;
      meshes = rm->MeshCount;
      materials = rm->MaterialCount;
      textures = rm->TextureCount;
      for (const ReadModelMesh* m = rm->FirstMesh; m; m = m->Next) {
        positions += m->PositionCount;
        for (int i = 0; i < m->FaceCount; ++i) triangles += m->Faces[i].IndexCount - 2;
      }
    }, true);
    if (!e.loads) {
      EXPECT_LT(h, 0);
      EXPECT_EQ(log, e.message);
      continue;
    }
    ASSERT_GE(h, 0) << log;
    EXPECT_EQ(frames, e.frames);
    EXPECT_EQ(meshes, e.meshes);
    EXPECT_EQ(materials, e.materials);
    EXPECT_EQ(textures, e.textures);
    EXPECT_EQ(positions, e.positions);
    EXPECT_EQ(triangles, e.triangles);
    const MV1ModelBase* base = ConvertedBase(h);
    EXPECT_EQ(base->FrameCount, e.frames);
    EXPECT_EQ(base->TriangleCount, e.triangles);
  }
}

TEST_F(MqoTest, ModelLoaderTriesTheReader) {
  int model = MV1LoadModel(TestDataPath("models/mqo/texture.mqo").c_str());
  ASSERT_GE(model, 0);
  EXPECT_EQ(MV1DeleteModel(model), 0);
}

// ---- Work and memory in proportion to the document ----

// objects one-triangle objects, object k using material k % used of the document's materials.
std::string ManyObjects(int materials, int objects, int used) {
  std::string doc = "Material " + std::to_string(materials) + " {\r\n";
  for (int i = 0; i < materials; ++i) doc += "\t\"m\"\r\n";
  doc += "}\r\n";
  for (int k = 0; k < objects; ++k)
    doc += Object("o", "\tdepth 0\r\n" + std::string(kSquare) + "\tface 1 {\r\n\t\t3 V(0 1 2) M(" +
                           std::to_string(k % used) + ")\r\n\t}\r\n");
  return Doc(doc + "Eof\r\n");
}

// Each object's faces once began with a reset of an entry per material of the document:
// materials x objects. Only the entries the object before set are reset now.
TEST_F(MqoTest, ObjectsResetOnlyTheMaterialEntriesTheObjectBeforeSet) {
  const int objects = 2000;
  const uint64_t before = ReadModelWorkCount().MaterialResets;
  Load(ManyObjects(20000, objects, 3), [&](const ReadModel* rm) {
    EXPECT_EQ(ReadModelWorkCount().MaterialResets - before, static_cast<uint64_t>(objects - 1));
    int k = 0;
    for (const ReadModelMesh* m = rm->FirstMesh; m; m = m->Next, ++k) {
      ASSERT_EQ(m->MaterialCount, 1) << k;
      EXPECT_EQ(m->Materials[0], Material(rm, k % 3)) << k;
      EXPECT_EQ(m->Faces[0].MaterialIndex, 0) << k;
    }
    EXPECT_EQ(k, objects);
  });
  EXPECT_TRUE(observed) << log;
}

// A document of materials with a texture each (the unused keep theirs on the texture list).
std::string TexturedMaterials(int count) {
  std::string doc = "Material " + std::to_string(count) + " {\r\n";
  for (int i = 0; i < count; ++i) doc += "\t\"m\" tex(\"t" + std::to_string(i) + ".png\")\r\n";
  return Doc(doc + "}\r\n" + Object("o", "\tdepth 0\r\n" + std::string(kSquare) +
                                             "\tface 1 {\r\n\t\t3 V(0 1 2) M(0)\r\n\t}\r\n") +
             "Eof\r\n");
}

// One load makes at most a quarter of the graph table's textures: past that it is refused where
// the textures would be made, in one line with the count and the cap.
TEST_F(MqoTest, TexturesPastAQuarterOfTheGraphTableAreRefused) {
  const uint64_t lookups = ReadModelWorkCount().HashLookups;
  const int handle = Load(TexturedMaterials(MV1_LOAD_TEXTURE_MAX + 1), nullptr, true);
  EXPECT_EQ(handle, -1);
  char line[256];
  std::snprintf(line, sizeof(line), "Read Model Convert Error : " TEXT_MV1_TEXTURE_LIMIT "\r\n",
                static_cast<unsigned long long>(MV1_LOAD_TEXTURE_MAX + 1), MV1_LOAD_TEXTURE_MAX);
  EXPECT_EQ(log, line);
  // every texture looked for once and entered once
  EXPECT_LE(ReadModelWorkCount().HashLookups - lookups, 2ull * (MV1_LOAD_TEXTURE_MAX + 1));
  // at the cap the check passes silently
  LogCaptureBegin();
  EXPECT_EQ(MV1CheckLoadTextureCount("X : ", MV1_LOAD_TEXTURE_MAX), 0);
  EXPECT_EQ(LogCaptureTextWithoutStamps(), "");
  LogCaptureEnd();
}

// A chain of objects, each one deeper than the one before.
std::string ObjectChain(int depth) {
  std::string doc;
  for (int d = 0; d < depth; ++d) doc += Object("c", "\tdepth " + std::to_string(d) + "\r\n");
  return Doc(doc + "Eof\r\n");
}

// A frame's change masks span its subtree: a chain of n frames takes about n * n / 16 bytes a
// set. Past the cap the base is refused before its masks are allocated.
TEST_F(MqoTest, ChainsPastTheChangeMaskCapAreRefused) {
  MemResetPeak();
  EXPECT_EQ(Load(ObjectChain(40000), nullptr, true), -1);
  EXPECT_LT(MemPeakBytes(), size_t{64} << 20);  // the masks would take 100 MB a set
  const std::string prefix = "Read Model Convert Error : ";
  EXPECT_EQ(log.rfind(prefix, 0), 0u) << log;
  EXPECT_NE(log.find(" " + std::to_string(MV1_CHANGE_MASK_CAP) + " "), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
  // under the cap a chain keeps its masks: 30,000 frames, about 56 MB a set
  const int h = Load(ObjectChain(30000), nullptr, true);
  ASSERT_GE(h, 0) << log;
  EXPECT_GT(ConvertedBase(h)->ChangeMaskSizeB, 50 << 20);
}

// ---- Allocation failures ----

TEST_F(MqoTest, AllocationFailuresLeaveNothingBehind) {
  std::vector<std::string> docs;
  {
    FILE* fp = std::fopen(TestDataPath("models/mqo/texture.mqo").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::string s;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), fp)) > 0) s.append(chunk, n);
    std::fclose(fp);
    docs.push_back(s);
  }
  docs.push_back(Doc("Material 2 {\r\n\t\"a\" tex(\"t.png\") aplane(\"t.png\") bump(\"b.png\")\r\n\t\"b\"\r\n}\r\n" +
                     Object("o", "\tdepth 0\r\n\tmirror 1\r\n\tmirror_axis 7\r\n" +
                                     std::string(kSquare) +
                                     "\tface 2 {\r\n\t\t4 V(0 1 2 3) M(0) UV(0 0 1 0 1 1 0 1)\r\n"
                                     "\t\t3 V(0 1 2) M(1) COL(1 2 3)\r\n\t}\r\n") +
                     Object("c", "\tdepth 1\r\n") + "Eof\r\n"));
  const std::string folder = TestDataPath("models/mqo");
  for (const std::string& doc : docs) {
    // a failed allocation may be one the engine recovers from (a texture file that cannot be
    // looked at is taken as missing); a load that fails says why and leaves nothing behind
    int handle = -1, failures = 0;
    int points = ForEachAllocationFailureTolerant(
        [] {},
        [&] {
          LogCaptureBegin();
          handle = LoadMqoModel(doc.data(), doc.size(), "m.mqo", "m", folder.c_str());
          std::string text = LogCaptureTextWithoutStamps();
          LogCaptureEnd();
          if (handle < 0) { EXPECT_NE(text, ""); }
          return handle < 0;
        },
        [&] {
          if (handle >= 0) MV1DeleteModelBase(handle);
          handle = -1;
        },
        &failures);
    EXPECT_GT(points, 10);
    EXPECT_GT(failures, 10);
  }
}

}  // namespace
