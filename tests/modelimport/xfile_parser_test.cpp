// X file parser: tree dumps of small hand-written files, hostile input in both forms, the
// template readers' data, and every X file of the test data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/modelimport/x/xfile_parser.h>
#include "tests/support/test_support.h"
#include "tests/support/x_test_files.h"

namespace {

// One line per object in creation order: type, name, parent, children, references ("<" marks a
// back reference, "?" an unresolved one).
std::string Dump(const XFileObjectList& l) {
  std::string s;
  for (const XFileObject* o = l.first; o; o = o->next) {
    s += XFileTemplateNames[o->type];
    s += " '" + std::string(o->name) + "' ^" + (o->parent ? o->parent->name : "-");
    s += " [";
    for (const XFileObject* c = o->firstChild; c; c = c->nextSibling) s += std::string(c->name) + (c->nextSibling ? "," : "");
    s += "]";
    for (uint32_t i = 0; i < o->refCount; ++i) {
      if (!o->refNames[i]) s += " <" + std::string(o->refs[i]->name);
      else s += std::string(" ") + (o->refs[i] ? "" : "?") + o->refNames[i];
    }
    s += "\n";
  }
  return s;
}

struct Parsed {
  int rc;
  std::string dump;
  std::string log;
};

class XParserTest : public LeakCheckedTest {
 protected:
  XFileObjectList list_{};
  void TearDown() override {
    FreeXFileObjectList(&list_);
    LeakCheckedTest::TearDown();
  }
  Parsed Parse(const std::string& bytes) {
    FreeXFileObjectList(&list_);
    XFileAddObject(&list_, XOBJ_FRAME, "XTopFrame", nullptr);
    LogCaptureBegin();
    int rc = ParseXFile(bytes.data(), bytes.size(), &list_);
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    return {rc, Dump(list_), log};
  }
  Parsed Text(const std::string& body) { return Parse("xof 0303txt 0032" + body); }
  const XFileObject* Find(int type, int nth = 0) {
    for (const XFileObject* o = list_.first; o; o = o->next)
      if (o->type == type && nth-- == 0) return o;
    return nullptr;
  }
};

TEST_F(XParserTest, TreeDumpsOfSmallFiles) {
  struct Case {
    const char* what;
    std::string body;
    const char* dump;
  } cases[] = {
      {"reference before its definition",
       "Frame A { {B} }\nFrame B { }\n",
       "Frame 'XTopFrame' ^- [A,B]\nFrame 'A' ^XTopFrame [] B\nFrame 'B' ^XTopFrame [] <A\n"},
      {"unknown objects with nested braces, comments, strings and trail bytes 7B / 7D",
       "Header { 1; { nested } // a } brace\n # another }\n \"str } {\"; \x83\x7B \x83\x7D }\n"
       "template Mesh { <3D82AB44-62DA-11cf-AB39-0020AF71E433> [...] }\nFrame B {}\n",
       "Frame 'XTopFrame' ^- [B]\nFrame 'B' ^XTopFrame []\n"},
      {"no blank before the brace; anonymous mesh with its brace attached",
       "Frame A{Mesh{0;0;}}",
       "Frame 'XTopFrame' ^- [A]\nFrame 'A' ^XTopFrame []\nMesh '' ^A []\n"},
      {"lower-case template names",
       "mesh M { 0;; 0;; } FRAME f { }",
       "Frame 'XTopFrame' ^- [M,f]\nMesh 'M' ^XTopFrame []\nFrame 'f' ^XTopFrame []\n"},
      {"references without blanks, GUID after the brace, self reference",
       "Frame A{<11111111-2222-3333-4444-555555555555>{A}{ B }}Frame B{}",
       "Frame 'XTopFrame' ^- [A,B]\nFrame 'A' ^XTopFrame [] A B <A\nFrame 'B' ^XTopFrame [] <A\n"},
      {"unresolved reference and an XTopFrame reference stay unresolved",
       "Frame A { {Nothing} {XTopFrame} }",
       "Frame 'XTopFrame' ^- [A]\nFrame 'A' ^XTopFrame [] ?Nothing ?XTopFrame\n"},
      {"the first object of a name wins",
       "Frame A { {C} } Frame C { } Mesh C { 0;;0;; }",
       "Frame 'XTopFrame' ^- [A,C,C]\nFrame 'A' ^XTopFrame [] C\nFrame 'C' ^XTopFrame [] <A\nMesh 'C' ^XTopFrame []\n"},
  };
  for (const auto& c : cases) {
    Parsed p = Text(c.body);
    EXPECT_EQ(p.rc, 0) << c.what << "\n" << p.log;
    EXPECT_EQ(p.dump, c.dump) << c.what;
  }
  Parsed p = Text("Frame A { {Nothing} }");
  EXPECT_EQ(p.log, "Load XFile : \x8a\xd4\x90\xda\x8e\x51\x8f\xc6\x82\xaa\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\r\n");
}

TEST_F(XParserTest, NestingLimit) {
  auto nested = [](int levels) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += "Frame F" + std::to_string(i) + " {";
    return s + std::string(levels, '}');
  };
  Parsed ok = Text(nested(63));
  EXPECT_EQ(ok.rc, 0) << ok.log;
  EXPECT_EQ(list_.objectCount, 64u);
  Parsed deep = Text(nested(64));
  EXPECT_EQ(deep.rc, -1);
  EXPECT_EQ(deep.log, XTestSjis("階層構造の限界数 64 を超えました\r\n"
                                "Load XFile : オブジェクト F63 ( Frame ) のネストが深すぎます\r\n"));
}

TEST_F(XParserTest, RefusalsAndTheirMessages) {
  const std::string face32 = [] {
    std::string s = "32;";
    for (int i = 0; i < 32; ++i) s += std::to_string(i) + (i < 31 ? "," : ";;");
    return s;
  }();
  struct Case {
    const char* what;
    std::string file;
    int rc;
    std::string log;
  } cases[] = {
      {"no magic", "xyz ", -1, ""},
      {"shorter than the magic", "xo", -1, ""},
      {"magic, short header", "xof 0303txt", -1, "Load XFile : Header Too Short\r\n"},
      {"compressed", "xof 0303tzip0032", -1, XTestSjis("対応している xファイル形式はテキスト形式と非圧縮バイナリ形式のみです\r\n")},
      {"end inside an object", "xof 0303txt 0032Frame A { Frame B { }", -1, XTestSjis("予期しない EOF です\r\n")},
      {"stray closing brace", "xof 0303txt 0032Frame A { } }", -1, "Load XFile : Unmatched }\r\n"},
      {"33-vertex face", "xof 0303txt 0032MeshFace { 33; 0,1,2,3,4,5,6,7,8,9,0,1,2,3,4,5,6,7,8,9,0,1,2,3,4,5,6,7,8,9,0,1,2;; }", -1,
       XTestSjis("Load XFile : 一つの面で使用できる頂点数の最大数 32 を超えた面がありました( 33 個の頂点 )\r\n"
                 "Load XFile : オブジェクト  ( MeshFace ) 解析中にエラーが発生しました\r\n")},
      {"32-vertex face", "xof 0303txt 0032MeshFace {" + face32 + "}", 0, ""},
      {"over-long word", "xof 0303txt 0032" + std::string(300, 'A') + " { }", -1, "Load XFile : Word Too Long\r\n"},
      {"over-long name", "xof 0303txt 0032Frame " + std::string(128, 'n') + " { }", -1, "Load XFile : Word Too Long\r\n"},
      {"127-byte name", "xof 0303txt 0032Frame " + std::string(127, 'n') + " { }", 0, ""},
      {"negative text count", "xof 0303txt 0032Mesh { -1; }", -1,
       "Load XFile : Count Beyond Data\r\n" + XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n")},
      {"count beyond the data", "xof 0303txt 0032Mesh { 1000; 1;2;3;; }", -1,
       "Load XFile : Count Beyond Data\r\n" + XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n")},
      {"data ends at the brace", "xof 0303txt 0032Mesh { 2; 1;2;3;; }", -1,
       "Load XFile : Data Ends Early\r\n" + XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n")},
      {"material index beyond nMaterials", "xof 0303txt 0032MeshMaterialList { 1; 2; 0, 1;; }", -1,
       XTestSjis("Load XFile : nMaterials より大きいマテリアルインデックスがありました\r\n"
                 "Load XFile : オブジェクト  ( MeshMaterialList ) 解析中にエラーが発生しました\r\n")},
      {"negative material index", "xof 0303txt 0032MeshMaterialList { 2; 2; 0, -1;; }", -1,
       XTestSjis("Load XFile : nMaterials より大きいマテリアルインデックスがありました\r\n"
                 "Load XFile : オブジェクト  ( MeshMaterialList ) 解析中にエラーが発生しました\r\n")},
      {"no indices and no materials", "xof 0303txt 0032MeshMaterialList { 0; 0;; }", -1,
       XTestSjis("Load XFile : nMaterials より大きいマテリアルインデックスがありました\r\n"
                 "Load XFile : オブジェクト  ( MeshMaterialList ) 解析中にエラーが発生しました\r\n")},
      {"no indices, one material", "xof 0303txt 0032MeshMaterialList { 1; 0;; }", 0, ""},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.file);
    EXPECT_EQ(p.rc, c.rc) << c.what;
    EXPECT_EQ(p.log, c.log) << c.what;
  }
}

TEST_F(XParserTest, TextMembersAndSeparators) {
  // faces with ";" between indices, array entries without commas, a first element closed with ";;"
  Parsed p = Text(
      "Mesh M { 4; 0;0;0;, 1;0;0; 1;1;0;;\n 0;1;0;;\n"
      " 3; 3;0;1;2;, 4;3;2;1;0;, 2;0,1;;\n"
      " MeshTextureCoords { 4; 1.0;0.0;; 0.5;0.25;, 0;1;, 1;1;, }\n"
      " MeshNormals { 1; 0;1;0;; 3; 3;0,0,0;, 4;0,0,0,0;, 2;0,0;; }\n"
      " MeshVertexColors { 2; 0;1;0;0;1;;, 3;0;0;1;0.5;;; }\n"
      " MeshMaterialList { 2; 3; 1, 0, 1;; Material { 1;0.5;0.25;0.125;; 5;1;1;1;;0;0;0;; TextureFilename { \"a\\\\b.png\"; } } {Mat2} }\n"
      "}\n"
      "Material Mat2 { 0;0;0;1;; 0; 0;0;0;; 0;0;0;; }\n");
  ASSERT_EQ(p.rc, 0) << p.log;
  const XFileObject* m = Find(XOBJ_MESH);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->data.mesh.vertexCount, 4u);
  EXPECT_EQ(m->data.mesh.vertices[1].x, 1.0f);
  EXPECT_EQ(m->data.mesh.vertices[3].y, 1.0f);
  const XFaceList& f = m->data.mesh.faces;
  ASSERT_EQ(f.count, 3u);
  EXPECT_EQ(XFaceVertexCount(f, 0), 3u);
  EXPECT_EQ(XFaceVertexCount(f, 1), 4u);
  EXPECT_EQ(XFaceVertexCount(f, 2), 2u);  // short faces are passed on
  EXPECT_EQ(XFaceIndices(f, 1)[0], 3u);
  EXPECT_EQ(XFaceIndices(f, 1)[3], 0u);
  EXPECT_EQ(m->data.mesh.triangleEstimate, 4u);
  const XFileObject* uv = Find(XOBJ_MESHTEXTURECOORDS);
  EXPECT_EQ(uv->data.textureCoords.coords[1].u, 0.5f);
  EXPECT_EQ(uv->data.textureCoords.coords[1].v, 0.25f);
  EXPECT_EQ(uv->data.textureCoords.coords[3].u, 1.0f);
  const XFileObject* n = Find(XOBJ_MESHNORMALS);
  EXPECT_EQ(n->data.meshNormals.faces.count, 3u);
  EXPECT_EQ(XFaceVertexCount(n->data.meshNormals.faces, 2), 2u);
  const XFileObject* vc = Find(XOBJ_MESHVERTEXCOLORS);
  EXPECT_EQ(vc->data.vertexColors.colors[1].index, 3u);
  EXPECT_EQ(vc->data.vertexColors.colors[1].color.a, 0.5f);
  const XFileObject* mat = Find(XOBJ_MATERIAL);
  EXPECT_EQ(mat->data.material.faceColor[3], 0.125f);
  EXPECT_EQ(mat->data.material.power, 5.0f);
  EXPECT_STREQ(Find(XOBJ_TEXTUREFILENAME)->data.textureFilename.fileName, "a\\\\b.png");
  const XFileObject* ml = Find(XOBJ_MESHMATERIALLIST);
  EXPECT_EQ(ml->data.materialList.indices[2], 1u);
  EXPECT_EQ(XFileFindChild(ml, XOBJ_MATERIAL), mat);
  EXPECT_EQ(ml->refCount, 1u);
  EXPECT_STREQ(ml->refs[0]->name, "Mat2");
}

TEST_F(XParserTest, AnimationAndSkinData) {
  Parsed p = Text(
      "AnimationSet S { Animation A { {F} AnimationKey { 4; 2; 0;16;1,0,0,0,0,1,0,0,0,0,1,0,5,6,7,1;;, 10;16;"
      "1,0,0,0,0,1,0,0,0,0,1,0,8,9,10,1;;; } AnimationOption { 1; 0; } } }\n"
      "Frame F { FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 4,5,6,1;; } }\n"
      "SkinWeights { \"F\"; 2; 0, 3; 0.25, 0.75; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; }\n"
      "XSkinMeshHeader { 2; 4; 1; }\n");
  ASSERT_EQ(p.rc, 0) << p.log;
  const XFileObject* k = Find(XOBJ_ANIMATIONKEY);
  ASSERT_EQ(k->data.animationKey.keyCount, 2u);
  EXPECT_EQ(k->data.animationKey.keyType, 4u);
  EXPECT_EQ(k->data.animationKey.keys[1].time, 10u);
  ASSERT_EQ(k->data.animationKey.keys[1].keys.count, 16u);
  EXPECT_EQ(k->data.animationKey.keys[1].keys.values[13], 9.0f);
  EXPECT_EQ(Find(XOBJ_ANIMATIONOPTION)->data.animationOption.openClosed, 1);
  EXPECT_EQ(Find(XOBJ_FRAMETRANSFORMMATRIX)->data.transformMatrix.m[3][2], 6.0f);
  const XFileObject* s = Find(XOBJ_SKINWEIGHTS);
  EXPECT_STREQ(s->data.skinWeights.transformNodeName, "F");
  EXPECT_EQ(s->data.skinWeights.indices[1], 3u);
  EXPECT_EQ(s->data.skinWeights.weights[1], 0.75f);
  EXPECT_EQ(s->data.skinWeights.offset.m[3][3], 1.0f);
  EXPECT_EQ(Find(XOBJ_XSKINMESHHEADER)->data.skinMeshHeader.bones, 1);
  EXPECT_EQ(XFileFindChild(Find(XOBJ_ANIMATION), XOBJ_FRAME), Find(XOBJ_FRAME, 1));
}

TEST_F(XParserTest, BinaryTokensAreBounded) {
  XBinaryBuilder b;
  const std::string hdr = "xof 0303bin 0032";
  struct Case {
    const char* what;
    std::string tokens;
    int rc;
    std::string log;
  } cases[] = {
      {"name count 0xFFFFFFFA", b.Name("Frame") + XBinaryBuilder::Raw16(1) + XBinaryBuilder::Raw32(0xFFFFFFFAu), -1,
       "Load XFile : Token Beyond Data\r\n"},
      {"list count beyond the data", b.Name("Mesh") + b.Open() + XBinaryBuilder::Raw16(6) + XBinaryBuilder::Raw32(0x40000000u), -1,
       "Load XFile : Token Beyond Data\r\n" + XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n")},
      {"token id cut in half", std::string("\x01", 1), -1, "Load XFile : Token Beyond Data\r\n"},
      {"count cut", XBinaryBuilder::Raw16(7) + "\x01\x00", -1, "Load XFile : Token Beyond Data\r\n"},
      {"stray close", b.Close(), -1, "Load XFile : Unmatched }\r\n"},
      {"unclosed", b.Name("Frame") + b.Name("A") + b.Open(), -1, XTestSjis("予期しない EOF です\r\n")},
      {"template definition skipped whole",
       XBinaryBuilder::Raw16(31) + b.Name("SkinWeights") + b.Open() + b.Guid() + b.Name("STRING") + b.Close() + b.Name("Frame") + b.Open() + b.Close(),
       0, ""},
      {"mesh count larger than its float list",
       b.Name("Mesh") + b.Open() + b.Ints({1}) + b.Floats({0, 0}) + b.Close(), -1,
       "Load XFile : Mesh Not 3 ( 2 )\r\n\r\n" + XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n")},
      {"material of 10", b.Name("Material") + b.Open() + b.Floats({0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) + b.Close(), -1,
       "Load XFile : Material Not 11\r\n" + XTestSjis("Load XFile : オブジェクト  ( Material ) 解析中にエラーが発生しました\r\n")},
      {"skin weights list of the wrong length",
       b.Name("SkinWeights") + b.Open() + b.String("F") + b.Ints({2, 0}) + b.Close(), -1,
       "Load XFile : SkinWeights TargetVertex Not 3 ( 2 )\r\n\r\n" + XTestSjis("Load XFile : オブジェクト  ( SkinWeights ) 解析中にエラーが発生しました\r\n")},
      {"header of 2", b.Name("XSkinMeshHeader") + b.Open() + b.Ints({1, 2}) + b.Close(), -1,
       "Load XFile : XSkinMeshHeader Not 3 ( 2 )\r\n\r\n" + XTestSjis("Load XFile : オブジェクト  ( XSkinMeshHeader ) 解析中にエラーが発生しました\r\n")},
      {"mesh count 0x55555556 (3 x count wraps to 2 in 32 bits)", b.Name("Mesh") + b.Open() + b.Ints({0x55555556u}) + b.Floats({0, 0}) + b.Close(), -1,
       "Load XFile : Count Beyond Data\r\n" + XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n")},
      {"face count beyond the list", b.Name("Mesh") + b.Open() + b.Ints({0}) + b.Floats({}) + b.Ints({0x7FFFFFFF}) + b.Close(), -1,
       "Load XFile : Count Beyond Data\r\n" + XTestSjis("Load XFile : オブジェクト  ( Mesh ) 解析中にエラーが発生しました\r\n")},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(hdr + c.tokens);
    EXPECT_EQ(p.rc, c.rc) << c.what;
    EXPECT_EQ(p.log, c.log) << c.what;
  }
}

// Every skip that runs off the end of the data fails as an open object does; the same objects
// closed parse, so it is the end that refuses them.
TEST_F(XParserTest, SkipsRunningOffTheEndFailAsAnOpenObject) {
  XBinaryBuilder b;
  const std::string eof = XTestSjis("予期しない EOF です\r\n");
  const std::string mesh = "Frame A { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; } }\n";
  struct Case {
    const char* what;
    std::string file;  // cut at the end
    std::string closed;  // the same made whole, "" when nothing closes it
  } cases[] = {
      {"text: unknown object after a frame and mesh", "xof 0303txt 0032" + mesh + "Foo {", "}"},
      {"text: unknown object of many open braces", "xof 0303txt 0032Foo {{{{{{{{", "}}}}}}}}"},
      {"text: a million open braces", "xof 0303txt 0032Foo " + std::string(1000000, '{'), std::string(1000000, '}')},
      {"text: unknown word with no brace at all", "xof 0303txt 0032" + mesh + "Foo", " { }"},
      {"text: basic template without reader", "xof 0303txt 0032ColorRGB { 1; 1; 1;", " }"},
      {"text: template declaration",
       "xof 0303txt 0032template Foo { <3D82AB44-62DA-11cf-AB39-0020AF71E433> DWORD n;", " }"},
      {"text: reference without its closing brace", "xof 0303txt 0032" + mesh + "{ A", " }"},
      {"text: closing brace inside a string that never ends", "xof 0303txt 0032Foo { \"}", "\" }"},
      {"binary: unknown object", "xof 0303bin 0032" + b.Name("Foo") + b.Open() + b.Ints({1}), b.Close()},
      {"binary: unknown object with no brace", "xof 0303bin 0032" + b.Name("Foo"), b.Open() + b.Close()},
      {"binary: template declaration",
       "xof 0303bin 0032" + XBinaryBuilder::Raw16(31) + b.Name("Foo") + b.Open() + b.Guid(), b.Close()},
      {"binary: reference without its closing brace", "xof 0303bin 0032" + b.Open() + b.Name("A"), b.Close()},
      {"binary: reference without its name", "xof 0303bin 0032" + b.Open(), b.Name("A") + b.Close()},
      {"binary: object without its opening brace", "xof 0303bin 0032" + b.Name("Frame") + b.Name("A"),
       b.Open() + b.Close()},
  };
  for (const auto& c : cases) {
    Parsed cut = Parse(c.file);
    EXPECT_EQ(cut.rc, -1) << c.what;
    EXPECT_EQ(cut.log, eof) << c.what;
    Parsed whole = Parse(c.file + c.closed);
    EXPECT_EQ(whole.rc, 0) << c.what << ": " << whole.log;
  }
  // a token cut by the end inside a skipped object is refused as a cut token
  Parsed cutToken = Parse("xof 0303bin 0032" + b.Name("Foo") + b.Open() + XBinaryBuilder::Raw16(7) + "\x01\x00");
  EXPECT_EQ(cutToken.rc, -1);
  EXPECT_EQ(cutToken.log, "Load XFile : Token Beyond Data\r\n");
}

TEST_F(XParserTest, BinaryFloatSizes) {
  XBinaryBuilder b32, b64(true);
  auto file = [](XBinaryBuilder& b) {
    return b.Name("Frame") + b.Name("F") + b.Open() + b.Name("FrameTransformMatrix") + b.Open() +
           b.Floats({1, 0, 0, 0}) + b.Floats({0, 1, 0, 0}) + b.Floats({0, 0, 1, 0}) + b.Floats({0.5, 2, 3, 1}) + b.Close() +
           b.Name("Mesh") + b.Open() + b.Ints({1}) + b.Floats({1.5, -2, 3}) + b.Ints({1, 3, 0, 0, 0}) + b.Close() + b.Close();
  };
  for (bool wide : {false, true}) {
    Parsed p = Parse(std::string(wide ? "xof 0303bin 0064" : "xof 0303bin 0032") + file(wide ? b64 : b32));
    ASSERT_EQ(p.rc, 0) << p.log;
    EXPECT_EQ(Find(XOBJ_FRAMETRANSFORMMATRIX)->data.transformMatrix.m[3][0], 0.5f);
    EXPECT_EQ(Find(XOBJ_MESH)->data.mesh.vertices[0].y, -2.0f);
    EXPECT_EQ(XFaceVertexCount(Find(XOBJ_MESH)->data.mesh.faces, 0), 3u);
  }
  // the same 32-bit lists under a "0064" header are read 8 bytes wide and no longer fit
  Parsed p = Parse("xof 0303bin 0064" + file(b32));
  EXPECT_EQ(p.rc, -1);
}

TEST_F(XParserTest, AllocationFailuresLeaveNothing) {
  for (const char* name : {"test_cube_text.x", "test_cube_binary.x"}) {
    std::string bytes = XTestReadFile(TestDataPath(std::string("models/x/") + name));
    int points = ForEachAllocationFailure([&] {
      XFileObjectList l{};
      LogCaptureBegin();
      bool ok = XFileAddObject(&l, XOBJ_FRAME, "XTopFrame", nullptr) && ParseXFile(bytes.data(), bytes.size(), &l) == 0;
      std::string log = LogCaptureEnd();
      if (!ok) {
        EXPECT_NE(log.find("Load XFile : "), std::string::npos) << log;
      }
      FreeXFileObjectList(&l);
      return ok;
    });
    EXPECT_GT(points, 20) << name;
  }
}

// What each X file of the test data holds as objects, counted from the files by hand (frames
// include the synthetic top frame).
TEST_F(XParserTest, RealFilesParse) {
  struct Row {
    const char* file;
    int rc, frames, meshes, materials, skinWeights, animationSets, animations, keys;
  } rows[] = {
      {"BCN_Epileptic.X", 0, 58, 3, 0, 54, 1, 57, 171},
      {"anim_test.x", 0, 5, 1, 1, 4, 1, 4, 12},
      {"arrow.x", 0, 7, 2, 2, 0, 0, 0, 0},
      {"ball.x", 0, 1, 1, 10, 0, 0, 0, 0},
      {"configsystem_ball.x", 0, 3, 1, 1, 0, 1, 1, 3},
      {"empty.x", -1, 1, 0, 0, 0, 0, 0, 0},
      {"fromtruespace_bin32.x", 0, 2, 1, 1, 0, 0, 0, 0},
      {"kwxport_test_cubewithvcolors.x", 0, 2, 1, 3, 0, 0, 0, 0},
      {"lobby_skybox.x", 0, 2, 6, 6, 0, 0, 0, 0},
      {"malformed_skinweights_oob.x", 0, 3, 1, 1, 1, 0, 0, 0},
      {"teapot.x", 0, 1, 1, 1, 0, 0, 0, 0},
      {"test.x", 0, 2, 1, 1, 0, 0, 0, 0},
      {"test_cube_binary.x", 0, 3, 1, 1, 1, 0, 0, 0},
      {"test_cube_compressed.x", -1, 1, 0, 0, 0, 0, 0, 0},
      {"test_cube_text.x", 0, 3, 1, 1, 1, 0, 0, 0},
      {"testentities_cool_guy.x", 0, 14, 1, 0, 10, 1, 11, 22},
      {"tiger.x", 0, 1, 1, 1, 0, 0, 0, 0},
      {"tiny_4anim.x", 0, 49, 2, 2, 35, 4, 150, 426},
  };
  for (const auto& r : rows) {
    Parsed p = Parse(XTestReadFile(TestDataPath(std::string("models/x/") + r.file)));
    EXPECT_EQ(p.rc, r.rc) << r.file << "\n" << p.log;
    int n[XOBJ_TYPE_SLOTS] = {};
    for (const XFileObject* o = list_.first; o; o = o->next) ++n[o->type];
    EXPECT_EQ(n[XOBJ_FRAME], r.frames) << r.file;
    EXPECT_EQ(n[XOBJ_MESH], r.meshes) << r.file;
    EXPECT_EQ(n[XOBJ_MATERIAL], r.materials) << r.file;
    EXPECT_EQ(n[XOBJ_SKINWEIGHTS], r.skinWeights) << r.file;
    EXPECT_EQ(n[XOBJ_ANIMATIONSET], r.animationSets) << r.file;
    EXPECT_EQ(n[XOBJ_ANIMATION], r.animations) << r.file;
    EXPECT_EQ(n[XOBJ_ANIMATIONKEY], r.keys) << r.file;
    if (r.rc == 0) {
      EXPECT_EQ(p.log, "") << r.file;
    }
  }
}

}  // namespace

namespace {

// Every datum of every object, floats as 32-bit values.
std::string DeepDump(const XFileObjectList& l) {
  std::string s = Dump(l);
  char b[64];
  auto f = [&](const float* v, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(b, sizeof b, " %.9g", v[i]);
      s += b;
    }
  };
  auto u = [&](const uint32_t* v, size_t n) {
    for (size_t i = 0; i < n; ++i) s += " " + std::to_string(v[i]);
  };
  auto faces = [&](const XFaceList& fl) {
    u(&fl.count, 1);
    if (fl.count) u(fl.starts, fl.count + 1), u(fl.indices, fl.starts[fl.count]);
  };
  for (const XFileObject* o = l.first; o; o = o->next) {
    const auto& d = o->data;
    s += "\n#";
    switch (o->type) {
      case XOBJ_MATERIAL: f(d.material.faceColor, 11); break;
      case XOBJ_TEXTUREFILENAME: s += d.textureFilename.fileName; break;
      case XOBJ_MESHFACE: faces(d.meshFace); break;
      case XOBJ_MESHTEXTURECOORDS: f(&d.textureCoords.coords[0].u, d.textureCoords.count * 2); break;
      case XOBJ_MESHNORMALS: f(&d.meshNormals.normals[0].x, d.meshNormals.normalCount * 3); faces(d.meshNormals.faces); break;
      case XOBJ_MESHMATERIALLIST: u(&d.materialList.nMaterials, 2); u(d.materialList.indices, d.materialList.nFaceIndexes); break;
      case XOBJ_MESHVERTEXCOLORS:
        for (uint32_t i = 0; i < d.vertexColors.count; ++i) u(&d.vertexColors.colors[i].index, 1), f(&d.vertexColors.colors[i].color.r, 4);
        break;
      case XOBJ_MESH: f(&d.mesh.vertices[0].x, d.mesh.vertexCount * 3); faces(d.mesh.faces); break;
      case XOBJ_FRAMETRANSFORMMATRIX: f(&d.transformMatrix.m[0][0], 16); break;
      case XOBJ_ANIMATIONKEY:
        u(&d.animationKey.keyType, 2);
        for (uint32_t i = 0; i < d.animationKey.keyCount; ++i)
          u(&d.animationKey.keys[i].time, 2), f(d.animationKey.keys[i].keys.values, d.animationKey.keys[i].keys.count);
        break;
      case XOBJ_SKINWEIGHTS:
        s += d.skinWeights.transformNodeName;
        u(d.skinWeights.indices, d.skinWeights.weightCount);
        f(d.skinWeights.weights, d.skinWeights.weightCount);
        f(&d.skinWeights.offset.m[0][0], 16);
        break;
      default: break;
    }
  }
  return s;
}

}  // namespace

// Every text file of the test data, written in binary form with both float sizes by the test
// writer, parses to the same objects and data.
TEST_F(XParserTest, TextFilesAndTheirBinaryFormsAgree) {
  for (const char* name : {"BCN_Epileptic.X", "anim_test.x", "arrow.x", "configsystem_ball.x", "kwxport_test_cubewithvcolors.x",
                           "lobby_skybox.x", "malformed_skinweights_oob.x", "test.x", "test_cube_text.x",
                           "testentities_cool_guy.x", "tiger.x", "tiny_4anim.x"}) {
    ASSERT_EQ(Parse(XTestReadFile(TestDataPath(std::string("models/x/") + name))).rc, 0) << name;
    std::string text = DeepDump(list_);
    std::string forms[2] = {XWriteBinary(list_, false), XWriteBinary(list_, true)};
    for (int wide = 0; wide < 2; ++wide) {
      Parsed p = Parse(forms[wide]);
      EXPECT_EQ(p.rc, 0) << name << p.log;
      EXPECT_TRUE(DeepDump(list_) == text) << name << (wide ? " 0064" : " 0032");
    }
  }
}
