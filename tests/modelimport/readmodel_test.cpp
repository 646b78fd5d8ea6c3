// Read model: lists, frame order, strings, textures, faces, keys, the dump and the seam.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <qzlib/file/file.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/readmodel_work.h>
#include "tests/support/readmodel_builder.h"
#include "tests/support/test_support.h"

namespace {

class ReadModelTest : public LeakCheckedTest {};

std::string FrameOrder(const ReadModel* rm) {
  std::string s;
  for (const ReadModelFrame* f = rm->FirstFrame; f; f = f->Next)
    s += std::string(f->Name) + std::to_string(f->Index) + " ";
  return s;
}

TEST_F(ReadModelTest, FramesStayInDepthFirstPreOrder) {
  OwnedReadModel rm;
  ReadModelFrame* a = ReadModelAddFrame(rm.get(), "A", nullptr);
  ReadModelFrame* b = ReadModelAddFrame(rm.get(), "B", a);
  ReadModelAddFrame(rm.get(), "C", b);
  ReadModelAddFrame(rm.get(), "D", a);
  EXPECT_EQ(FrameOrder(rm.get()), "A0 B1 C2 D3 ");
  ReadModelAddFrame(rm.get(), "E", nullptr);
  EXPECT_EQ(FrameOrder(rm.get()), "A0 B1 C2 D3 E4 ");
  // a second child of B's parent after a deep subtree: behind the deepest last descendant
  ReadModelFrame* g = ReadModelAddFrame(rm.get(), "G", b);
  ReadModelAddFrame(rm.get(), "H", g);
  ReadModelAddFrame(rm.get(), "F", b);
  EXPECT_EQ(FrameOrder(rm.get()), "A0 B1 C2 G3 H4 F5 D6 E7 ");
  EXPECT_EQ(rm->FrameCount, 8);
  EXPECT_EQ(rm->LastFrame->Name, std::string("E"));
  EXPECT_EQ(b->FirstChild->Name, std::string("C"));
  EXPECT_EQ(b->LastChild->Name, std::string("F"));
  EXPECT_EQ(b->LastChild->PrevSibling, g);
  // backward links agree with forward ones
  int n = 0;
  for (const ReadModelFrame* f = rm->LastFrame; f; f = f->Prev) ++n;
  EXPECT_EQ(n, 8);
  // defaults
  EXPECT_EQ(a->Scale.x, 1.0f);
  EXPECT_EQ(a->Matrix.m[3][3], 1.0f);
  EXPECT_EQ(a->Quaternion[3], 1.0f);
  EXPECT_EQ(a->Visible, 1);
  EXPECT_EQ(a->SmoothingAngle, 1.5207964f);
}

TEST_F(ReadModelTest, StringTotalsRoundUpToFour) {
  OwnedReadModel rm;
  struct { const char* s; uint32_t adds; } cases[] = {{"abcde", 8}, {"abc", 4}, {"", 4}, {"abcd", 8}};
  for (auto& c : cases) {
    uint32_t before = rm->StringDataSize;
    const char* copy = ReadModelAddString(rm.get(), c.s);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, c.s);
    EXPECT_NE(copy, c.s);
    EXPECT_EQ(rm->StringDataSize - before, c.adds) << c.s;
  }
}

TEST_F(ReadModelTest, GetListItemClampsBelowAndStopsAtTheEnd) {
  OwnedReadModel rm;
  EXPECT_EQ(ReadModelGetListItem(rm.get(), 0), nullptr);
  ReadModelMaterial* m0 = ReadModelAddMaterial(rm.get(), "m0");
  ReadModelMaterial* m1 = ReadModelAddMaterial(rm.get(), "m1");
  EXPECT_EQ(ReadModelGetListItem(rm.get(), 0), m0);
  EXPECT_EQ(ReadModelGetListItem(rm.get(), -5), m0);
  EXPECT_EQ(ReadModelGetListItem(rm.get(), 1), m1);
  EXPECT_EQ(ReadModelGetListItem(rm.get(), 2), nullptr);
  EXPECT_EQ(m1->Index, 1);
  EXPECT_EQ(m1->Diffuse.a, 1.0f);
  EXPECT_EQ(m1->DiffuseGradBlendType, 2);
  EXPECT_EQ(m1->SpecularGradBlendType, 1);
  EXPECT_EQ(m1->DrawBlendMode, 1);
  EXPECT_EQ(m1->DrawBlendParam, 255);
}

TEST_F(ReadModelTest, MeshesUnlinkWithoutRenumbering) {
  OwnedReadModel rm;
  ReadModelFrame* f = ReadModelAddFrame(rm.get(), "f", nullptr);
  ReadModelMesh* m[3];
  for (auto& p : m) p = ReadModelAddMesh(rm.get(), f);
  ReadModelSubMesh(rm.get(), f, m[1]);
  EXPECT_EQ(rm->MeshCount, 2);
  EXPECT_EQ(f->MeshCount, 2);
  EXPECT_EQ(rm->FirstMesh->Next, m[2]);
  EXPECT_EQ(f->FirstMesh->NextInFrame, m[2]);
  EXPECT_EQ(m[2]->PrevInFrame, m[0]);
  EXPECT_EQ(m[2]->Index, 2);
  ReadModelSubMesh(rm.get(), f, m[2]);
  EXPECT_EQ(rm->LastMesh, m[0]);
  EXPECT_EQ(f->LastMesh, m[0]);
}

// Texture files in a scratch folder that is the current directory during the test.
class ReadModelTextureTest : public ReadModelTest {
 protected:
  void SetUp() override {
    ReadModelTest::SetUp();
    saved_ = std::filesystem::current_path();
    dir_ = std::filesystem::temp_directory_path() / ("rmtex_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_ / "sub");
    for (const char* name : {"a.bmp", "b.bmp", "alpha.bmp", "sub/c.bmp"}) std::ofstream(dir_ / name) << "x";
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(saved_);
    std::filesystem::remove_all(dir_);
    ReadModelTest::TearDown();
  }
  std::filesystem::path dir_;
  std::filesystem::path saved_;
};

TEST_F(ReadModelTextureTest, ReuseMatchesColourAndAlphaPaths) {
  OwnedReadModel rm;
  ReadModelTexture* a = ReadModelAddTexture(rm.get(), "t", "a.bmp", nullptr, 0, 0.1f, 1);
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->ColorFilePath, "a.bmp");
  EXPECT_EQ(a->AlphaFilePath, nullptr);
  EXPECT_EQ(a->AddressModeU, 1);
  EXPECT_EQ(a->FilterMode, 2);
  EXPECT_EQ(a->BumpMapScale, 0.1f);
  // the same colour file without alpha is reused, as shared textures must be
  EXPECT_EQ(ReadModelAddTexture(rm.get(), "t2", "a.bmp", nullptr, 0, 0.1f, 1), a);
  // with an alpha file it is another texture, and that one is reused in turn
  ReadModelTexture* b = ReadModelAddTexture(rm.get(), "t3", "a.bmp", "alpha.bmp", 0, 0.1f, 1);
  EXPECT_NE(b, a);
  EXPECT_STREQ(b->AlphaFilePath, "alpha.bmp");
  EXPECT_EQ(ReadModelAddTexture(rm.get(), "t4", "a.bmp", "alpha.bmp", 0, 0.1f, 1), b);
  // without the reuse flag every call makes a record
  EXPECT_NE(ReadModelAddTexture(rm.get(), "t5", "a.bmp", nullptr, 0, 0.1f, 0), a);
  EXPECT_EQ(rm->TextureCount, 3);
  EXPECT_EQ(rm->LastTexture->Index, 2);
}

// Reuse through the index against a walk of the list from its first texture, over seeded
// sequences of adds: paths from a small set (absent, empty, missing files, names that resolve
// onto one file), some adds without the reuse flag, and two long runs of mostly distinct paths.
// A scratch read model, never reusing, gives each request's resolved paths. Each look-up
// compares a few entries however many textures there are.
TEST_F(ReadModelTextureTest, ReuseFindsWhatAWalkOfTheListFinds) {
  const char* const colours[] = {nullptr, "", "a.bmp", "nowhere/a.bmp", "b.bmp", "z1.bmp", "z2.bmp"};
  const char* const alphas[] = {nullptr, "", "alpha.bmp", "a.bmp", "far/alpha.bmp", "z1.bmp"};
  auto same = [](const char* a, const char* b) { return a && b ? std::strcmp(a, b) == 0 : a == b; };
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    OwnedReadModel rm, scratch;
    const ReadModelWork before = ReadModelWorkCount();
    const int adds = seed <= 18 ? 200 : 3000;
    for (int i = 0; i < adds; ++i) {
      const std::string distinct = "u" + std::to_string(i) + ".bmp";
      const char* colour = adds > 200 && rng() % 4 ? distinct.c_str() : colours[rng() % 7];
      const char* alpha = alphas[rng() % 6];
      const int reuse = rng() % 5 != 0;
      const ReadModelTexture* paths = ReadModelAddTexture(scratch.get(), "t", colour, alpha, 0, 0.1f, 0);
      ASSERT_NE(paths, nullptr);
      const ReadModelTexture* expected = nullptr;
      for (const ReadModelTexture* t = rm->FirstTexture; reuse && t && !expected; t = t->Next)
        if (same(t->ColorFilePath, paths->ColorFilePath) && same(t->AlphaFilePath, paths->AlphaFilePath)) expected = t;
      const ReadModelTexture* got = ReadModelAddTexture(rm.get(), "t", colour, alpha, 0, 0.1f, reuse);
      ASSERT_NE(got, nullptr);
      if (expected) {
        EXPECT_EQ(got, expected) << i;
      } else {
        ASSERT_EQ(got, rm->LastTexture) << i;
        EXPECT_TRUE(same(got->ColorFilePath, paths->ColorFilePath) && same(got->AlphaFilePath, paths->AlphaFilePath)) << i;
      }
    }
    const ReadModelWork& after = ReadModelWorkCount();
    // the scratch model enters every one of its textures too: two look-ups an add each side
    EXPECT_LE(after.HashLookups - before.HashLookups, 4ull * adds);
    EXPECT_LE(after.HashProbes - before.HashProbes, 8ull * adds);
  }
}

TEST_F(ReadModelTextureTest, MissingFilesFallBackToTheirLastComponent) {
  OwnedReadModel rm;
  // a path whose folder does not exist but whose last component does
  ReadModelTexture* t = ReadModelAddTexture(rm.get(), "t", "nowhere\\b.bmp", nullptr, 0, 0, 0);
  EXPECT_STREQ(t->ColorFilePath, "b.bmp");
  t = ReadModelAddTexture(rm.get(), "t", "x:/far/a.bmp", nullptr, 0, 0, 0);
  EXPECT_STREQ(t->ColorFilePath, "a.bmp");
  t = ReadModelAddTexture(rm.get(), "t", "sub/c.bmp", nullptr, 0, 0, 0);
  EXPECT_STREQ(t->ColorFilePath, "sub\\c.bmp");
  // nothing opens: the relative path stays
  t = ReadModelAddTexture(rm.get(), "t", "none/zz.bmp", nullptr, 0, 0, 0);
  EXPECT_STREQ(t->ColorFilePath, "none\\zz.bmp");
  // a 0x5C trail byte is no separator: "\x95\x5C.bmp" is one name
  t = ReadModelAddTexture(rm.get(), "t", "\x95\x5C" "b.bmp", nullptr, 0, 0, 0);
  EXPECT_STREQ(t->ColorFilePath, "\x95\x5C" "b.bmp");
  // an empty name stays empty (the converter counts it as none)
  t = ReadModelAddTexture(rm.get(), "t", "", nullptr, 0, 0, 0);
  EXPECT_STREQ(t->ColorFilePath, "");
}

TEST_F(ReadModelTest, FacesStoreOnlyTheirIndexSets) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelMesh* m = b.Mesh(b.Frame("f"), {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}});
  FaceSpec q;
  q.pos = {0, 1, 3, 2};
  q.uv[2] = {5, 6, 7, 8};
  q.material = 1;
  ASSERT_TRUE(b.Faces(m, {q}));
  const ReadModelFace* f = &m->Faces[0];
  EXPECT_EQ(f->IndexCount, 4);
  EXPECT_EQ(f->MaterialIndex, 1);
  EXPECT_EQ(ReadModelFaceIndices(f, READMODEL_SET_NORMAL), nullptr);
  EXPECT_EQ(ReadModelFaceIndices(f, READMODEL_SET_UV0 + 2)[3], 8);
  EXPECT_EQ(ReadModelFaceIndices(f, READMODEL_SET_POSITION)[2], 3);
  const int* zeros = ReadModelFaceIndicesOrZero(f, READMODEL_SET_COLOR);
  for (int i = 0; i < READMODEL_MAX_FACE_INDICES; ++i) EXPECT_EQ(zeros[i], 0);
  EXPECT_EQ(ReadModelFaceIndices(f, 99), nullptr);
}

TEST_F(ReadModelTest, KeysAddTheirSizeToTheKeyDataTotal) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelAnim* a = b.Anim(b.AnimSet("s", 10), b.Frame("f"), 10);
  struct { int type; uint32_t perKey; } cases[] = {{0, 20}, {1, 16}, {2, 52}, {3, 40}, {5, 8}, {7, 20}};
  for (auto& c : cases) {
    uint32_t before = rm->AnimKeyDataSize;
    ASSERT_NE(b.Keys(a, c.type, 0, {0, 1, 2}, std::vector<float>(36, 1.0f)), nullptr);
    EXPECT_EQ(rm->AnimKeyDataSize - before, 3 * c.perKey) << c.type;
  }
  EXPECT_EQ(a->KeySetCount, 6);
  EXPECT_EQ(rm->KeySetCount, 6);
  EXPECT_EQ(a->LastKeySet->TimeType, 1);
}

// The records of a cube, a weight, a shape and keys added through the builder.
bool BuildEveryKind(bool shareBlocks) {
    ScopedBlockSharing sharing(shareBlocks);
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelFrame* f = b.Frame("f");
    if (!f) return false;
    ReadModelMesh* m = b.Cube(f);
    if (!m) return false;
    if (!b.Weight(m, 0, {{0, 1.0f}})) return false;
    if (!b.Shape("s", f, m, {{0, {1, 0, 0}, {0, 0, 0}}}, 0)) return false;
    ReadModelAnimSet* s = b.AnimSet("set", 1);
    if (!s) return false;
    ReadModelAnim* a = b.Anim(s, f, 1);
    if (!a) return false;
    if (!b.Keys(a, 1, 10, {0, 1}, {0, 0, 0, 1, 1, 1})) return false;
    return true;
}

TEST_F(ReadModelTest, EveryAddFailsCleanlyWhenThePoolRunsOut) {
  EXPECT_GT(ForEachAllocationFailure([] { return BuildEveryKind(false); }), 10);
  // with small requests sharing blocks only a new shared block can fail
  const int shared = ForEachAllocationFailure([] { return BuildEveryKind(true); });
  EXPECT_GE(shared, 1);
  EXPECT_LT(shared, 5);
}

// Small requests are carved from shared blocks: each zeroed, 16-byte aligned, apart from every
// other; a large request keeps a block of its own that can go back early; all go at the end.
TEST_F(ReadModelTest, SmallRequestsShareBlocks) {
  const size_t live = MemLiveBlockCount();
  {
    OwnedReadModel rm;
    std::vector<std::pair<uint8_t*, size_t>> got;
    for (size_t size : {0, 1, 15, 16, 17, 100, 1024, 1025, 70000, 3, 1024, 5000, 64, 64 * 1024}) {
      auto* p = static_cast<uint8_t*>(ReadModelAlloc(rm.get(), size));
      ASSERT_NE(p, nullptr) << size;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
      EXPECT_EQ(std::count(p, p + size, 0), static_cast<std::ptrdiff_t>(size)) << size;
      for (const auto& [q, n] : got) EXPECT_TRUE(p + size <= q || q + n <= p) << size;
      std::fill(p, p + size, 0xAB);
      got.push_back({p, size});
    }
    // 1 shared block, and one each for 1025, 70000, 5000 and 64 KiB
    EXPECT_EQ(MemLiveBlockCount(), live + 5);
    EXPECT_TRUE(ReadModelFreeLargeBlock(rm.get(), got[8].first, 70000));
    EXPECT_FALSE(ReadModelFreeLargeBlock(rm.get(), got[5].first, 64 * 1024));  // a carve is no block
    EXPECT_EQ(MemLiveBlockCount(), live + 4);
    for (int i = 0; i < 2000; ++i) ASSERT_NE(ReadModelAlloc(rm.get(), 200), nullptr);
    EXPECT_GT(MemLiveBlockCount(), live + 20);
    EXPECT_LT(MemLiveBlockCount(), live + 40);  // 16 KiB blocks, not a block per request
    // an adopted block joins the pool behind the shared block, and can go back early
    for (size_t bytes : {size_t(100), size_t(80000)}) {
      auto* block = static_cast<uint8_t*>(MEM_ALLOC(kReadModelChunkHead + bytes));
      ASSERT_NE(block, nullptr);
      const size_t held = MemLiveBlockCount();
      ReadModelAdoptBlock(rm.get(), block);
      const auto* head = static_cast<const ChunkListHeader*>(rm.get()->PoolHead);
      EXPECT_TRUE(head->Data == nullptr && head->Next == reinterpret_cast<ChunkListHeader*>(block));
      EXPECT_EQ(reinterpret_cast<ChunkListHeader*>(block)->Data, block + kReadModelChunkHead);
      EXPECT_EQ(ReadModelFreeLargeBlock(rm.get(), block + kReadModelChunkHead, bytes), bytes >= 64 * 1024);
      EXPECT_EQ(MemLiveBlockCount(), held - (bytes >= 64 * 1024 ? 1 : 0));
    }
  }
  EXPECT_EQ(MemLiveBlockCount(), live);
  {
    OwnedReadModel rm;  // a pool with nothing in it takes an adopted block first
    auto* block = static_cast<uint8_t*>(MEM_ALLOC(kReadModelChunkHead + 8));
    ASSERT_NE(block, nullptr);
    ReadModelAdoptBlock(rm.get(), block);
    EXPECT_EQ(rm.get()->PoolHead, block);
  }
  EXPECT_EQ(MemLiveBlockCount(), live);
}

TEST_F(ReadModelTest, DumpShowsEveryRecord) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  b.Names("dir\\m.x", "m");
  ReadModelFrame* root = b.Frame("root");
  ReadModelFrame* child = b.Frame("\x83\x41" "bone", root);
  ReadModelMesh* m = b.Mesh(child, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  b.Normals(m, {{0, 0, -1}});
  FaceSpec f;
  f.pos = {0, 1, 2};
  f.nrm = {0, 0, 0};
  b.Faces(m, {f});
  b.Material(m, "mat");
  b.Weight(m, 0, {{1, 0.5f}});
  b.Shape("smile", child, m, {{2, {0, 0.5f, 0}, {0, 0, 0}}}, 0);
  ReadModelAnim* a = b.Anim(b.AnimSet("walk", 30), child, 30);
  b.UniformKeys(a, 5, 11, 0, 15, 3, {1, 2, 3});
  std::string d = DumpReadModel(rm.get());
  for (const char* part : {"model name=\"m\" path=\"dir\\x5Cm.x\"", "frame 1 \"\\x83Abone\" parent=0",
                           "mesh 0 frame=1 faces=1 positions=3 normals=1 colors=-1 materials=[0] skinweights=1",
                           "  face 0 n=3 mat=0 pos=[0 1 2] nrm=[0 0 0]", "w=[1:0.5]",
                           "shape 0 \"smile\" frame=1 mesh=0 normals=0 vertices=1",
                           "  sv 0 pos=2 (0 0.5 0) (0 0 0)", "material 0 \"mat\" type=0 diffuse_tex=[]",
                           "animset 0 \"walk\" total=30", " anim 0 target=1 \"\\x83Abone\"",
                           "  keyset 0 type=5 kind=11 timetype=0 shape=0 total=30 keys=3 start=0 unit=15",
                           "   key 2 [3]"})
    EXPECT_NE(d.find(part), std::string::npos) << part << "\n" << d;
}

TEST_F(ReadModelTest, DumpFormatIsStable) {
  // the readers' tests compare dumps: the format of every line is pinned here
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  b.Names("m.x", "m");
  ReadModelFrame* f = b.Frame("root");
  ReadModelMesh* m = b.Mesh(f, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  b.UVs(m, 0, {{0, 1}});
  FaceSpec s;
  s.pos = {0, 1, 2};
  s.uv[0] = {0, 0, 0};
  b.Faces(m, {s});
  ReadModelMaterial* mat = b.Material(m, "mat");
  ReadModelAddMapTexture(rm.get(), &mat->DiffuseTextures, ReadModelAddTexture(rm.get(), "tex", "", nullptr, 1, 0.1f, 0));
  ReadModelAnim* a = b.Anim(b.AnimSet("run", 1), f, 1);
  b.Keys(a, 0, 0, {0, 1}, {0, 0, 0, 1, 0, 0, 1, 0});
  EXPECT_EQ(DumpReadModel(rm.get()),
      "model name=\"m\" path=\"m.x\" reverse=0 frame_smoothing=0 keydata=40 strings=40 skinweights=0\n"
      "counts frames=1 meshes=1 shapes=0 materials=1 textures=1 animsets=1 anims=1 keysets=1\n"
      "frame 0 \"root\" parent=-1 visible=1 order=0 smoothing=1.52079642 meshes=1 shapes=0\n"
      "  matrix=[1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1]\n"
      "  translate=(0 0 0) scale=(1 1 1) rotate=(0 0 0) quaternion=[0 0 0 1] reader=(0 0 0)\n"
      "mesh 0 frame=0 faces=1 positions=3 normals=-1 colors=-1 uv0=1 materials=[0] skinweights=0\n"
      "  p 0 (0 0 0)\n"
      "  p 1 (1 0 0)\n"
      "  p 2 (0 1 0)\n"
      "  uv0 0 (0 1)\n"
      "  face 0 n=3 mat=0 pos=[0 1 2] uv0=[0 0 0]\n"
      "material 0 \"mat\" type=0 diffuse_tex=[0] specular_tex=[] normal_tex=[]\n"
      "  ambient=(0 0 0 0) diffuse=(1 1 1 1) specular=(0 0 0 0) emissive=(0 0 0 0) power=0\n"
      "  grad=-1,-1 blend=2,1 outline=0 (0 0 0 0) drawblend=1,255\n"
      "texture 0 \"tex\" color=\"\" alpha=null address=1,1 filter=2 bump=1,0.100000001 blend=0\n"
      "animset 0 \"run\" total=1 add=0 matrix=0 anims=1\n"
      " anim 0 target=0 \"root\" total=1 setting=0 keysets=1\n"
      "  keyset 0 type=0 kind=0 timetype=1 shape=0 total=1 keys=2\n"
      "   key 0 t=0 [0 0 0 1]\n"
      "   key 1 t=1 [0 0 1 0]\n");
}

TEST_F(ReadModelTest, TheSeamHandsTheReadModelToTheTest) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  b.Frame("only");
  {
    ReadModelCapture capture;
    EXPECT_EQ(ConvertReadModelToModelBase(rm.get(), "folder"), -1);
    ASSERT_EQ(capture.dumps.size(), 1u);
    EXPECT_EQ(capture.dumps[0], DumpReadModel(rm.get()));
    EXPECT_EQ(capture.folders[0], "folder");
  }
}

}  // namespace
