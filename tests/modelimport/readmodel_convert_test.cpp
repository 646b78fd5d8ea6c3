// Read model into model base: structure, frames, meshes, skinning, shapes, animations, refusals,
// allocation failures and seeded random read models.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <set>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/file/file.h>
#include <qzlib/file/path.h>
#include "tests/support/converted_base_check.h"
#include "tests/support/model_builder.h"
#include "tests/support/d3d_engine.h"
#include "tests/support/readmodel_builder.h"
#include "tests/support/readmodel_random.h"

namespace {

// The engine runs in Direct3D mode (the model system exists only then; textures become graphs).
class ConvertTest : public D3DEngineTest {
 protected:
  void SetUp() override {
    D3DEngineTest::SetUp();
    // the base table grows at its first handle; grow it now so allocation counts repeat
    MV1DeleteModelBase(MV1AddModelBaseHandle());
  }
  // Converts and checks the base's invariants; the base, or null.
  const MV1ModelBase* Convert(ReadModel* rm, bool normalsMade = true, const char* folder = "dir") {
    handle = ConvertReadModelToModelBase(rm, folder);
    if (handle < 0) return nullptr;
    const MV1ModelBase* base = ConvertedBase(handle);
    EXPECT_VALID_BASE(base, rm, normalsMade);
    return base;
  }
  int handle = -1;
};

std::vector<VECTOR> Square() { return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}; }

// A rough grid of side x side quads in one mesh. With oneBlock the faces' index sets lie in one
// pool block, as a reader that reads them whole stores them; else each face has its own. UVs
// and colours are per position, or per corner (each corner its own entry, as MQO gives them).
struct GridSpec {
  int side;
  bool oneBlock;
  bool normals;   // per position, kept unless recalculated
  bool perCorner; // UV set 0 and vertex colours per corner
};
ReadModelMesh* Grid(ReadModelBuilder& b, const GridSpec& g) {
  const int n = g.side + 1, quads = g.side * g.side;
  std::vector<VECTOR> pos;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) pos.push_back(VECTOR{float(x), float(y), float((x * 7 + y * 13) % 5) * 0.25f});
  ReadModelMesh* m = b.Mesh(b.Frame("f"), pos);
  const int corners = g.perCorner ? quads * 4 : n * n;
  std::vector<ReadModelUV> uv;
  std::vector<COLOR_F> col;
  for (int i = 0; i < corners; ++i) {
    uv.push_back(ReadModelUV{float(i % 7) / 7.0f, float(i % 5) / 5.0f});
    col.push_back(COLOR_F{1.0f, float(i % 3) / 2.0f, 0.5f, 1.0f});
  }
  b.UVs(m, 0, uv);
  if (g.perCorner) b.Colors(m, col);
  if (g.normals) b.Normals(m, std::vector<VECTOR>(pos.size(), VECTOR{0, 0, 1}));
  m->FaceSets = READMODEL_SET_BIT(READMODEL_SET_POSITION) | READMODEL_SET_BIT(READMODEL_SET_UV0) |
                (g.normals ? READMODEL_SET_BIT(READMODEL_SET_NORMAL) : 0u) |
                (g.perCorner ? READMODEL_SET_BIT(READMODEL_SET_COLOR) : 0u);
  const int sets = __builtin_popcount(m->FaceSets);
  EXPECT_EQ(ReadModelAllocFaces(b.rm(), m, quads), 0);
  int* store = g.oneBlock ? static_cast<int*>(ReadModelAlloc(b.rm(), sizeof(int) * 4 * sets * quads)) : nullptr;
  for (int q = 0; q < quads; ++q) {
    ReadModelFace* f = &m->Faces[q];
    if (g.oneBlock) {
      f->IndexCount = 4;
      f->Sets = m->FaceSets;
      f->Index = store + 4 * sets * q;
      f->IndexStorage = 4 * sets;
    } else {
      EXPECT_EQ(ReadModelSetFaceIndexCount(b.rm(), m, f, 4), 0);
    }
    const int v = (q / g.side) * n + q % g.side;
    const int corner[4] = {v, v + n, v + n + 1, v + 1};
    for (int c = 0; c < 4; ++c) {
      ReadModelFaceIndices(f, READMODEL_SET_POSITION)[c] = corner[c];
      ReadModelFaceIndices(f, READMODEL_SET_UV0)[c] = g.perCorner ? q * 4 + c : corner[c];
      if (g.normals) ReadModelFaceIndices(f, READMODEL_SET_NORMAL)[c] = corner[c];
      if (g.perCorner) ReadModelFaceIndices(f, READMODEL_SET_COLOR)[c] = q * 4 + c;
    }
  }
  return m;
}

TEST_F(ConvertTest, QuadWithoutMaterialGivesOneRigidList) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  b.Names("dir\\quad.x", "quad");
  ReadModelMesh* m = b.Mesh(b.Frame("f"), Square());
  FaceSpec q;
  q.pos = {0, 1, 2, 3};
  b.Faces(m, {q});
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->FrameCount, 1);
  EXPECT_EQ(base->MeshCount, 1);
  EXPECT_EQ(base->MaterialCount, 1);
  EXPECT_EQ(base->Frame[0].MeshCount, 1);
  EXPECT_EQ(base->TriangleListCount, 1);
  EXPECT_EQ(base->TriangleList[0].VertexType, 0);
  EXPECT_EQ(base->TriangleList[0].IndexCount, 6);
  EXPECT_EQ(base->TriangleCount, 2);
  EXPECT_STREQ(base->Name, "quad");
  EXPECT_STREQ(base->FilePath, "dir\\quad.x");
  EXPECT_STREQ(base->DirectoryPath, "dir/");
  EXPECT_EQ(base->Mesh[0].VertexCount, 4);  // made normals are flat: corners of one position merge
  EXPECT_EQ(base->Frame[0].NormalCount, 4);
  EXPECT_EQ(base->Material[0].Diffuse.r, 1.0f);
  EXPECT_EQ(base->Material[0].DrawBlendParam, 255);
  EXPECT_EQ(base->Mesh[0].Visible, 1);
  // 89.5 degrees for a mesh without normals
  EXPECT_EQ(base->Frame[0].SmoothingAngle, MV1LoadSmoothingAngle);
  EXPECT_EQ(ModelBaseCount(), 1);
}

// A mesh's face array of 64 KiB or more is freed once its parts are built; a smaller one stays.
TEST_F(ConvertTest, LargeFaceArraysGoBackOnceTheirPartsAreBuilt) {
  for (int side : {2, 30}) {  // 8 and 1,800 triangles after triangulation
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    b.Names("dir\\grid.x", "grid");
    std::vector<VECTOR> pos;
    for (int y = 0; y <= side; ++y)
      for (int x = 0; x <= side; ++x) pos.push_back(VECTOR{float(x), float(y), float((x * 7 + y * 13) % 5)});
    ReadModelMesh* m = b.Mesh(b.Frame("f"), pos);
    std::vector<FaceSpec> faces;
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        FaceSpec q;
        const int v = y * (side + 1) + x;
        q.pos = {v, v + side + 1, v + side + 2, v + 1};
        faces.push_back(q);
      }
    ASSERT_TRUE(b.Faces(m, faces));
    const MV1ModelBase* base = Convert(rm.get());
    ASSERT_NE(base, nullptr) << side;
    EXPECT_EQ(base->TriangleCount, 2 * side * side);
    const bool large = 2 * side * side * 48 >= 64 * 1024;
    EXPECT_EQ(m->Faces == nullptr, large) << side;
    EXPECT_EQ(m->FaceCount, large ? 0 : 2 * side * side) << side;
    MV1DeleteModelBase(handle);
  }
}

// Once converted, the read model keeps only what the base was made from: the positions, the
// normals and the parts' vertices, faces and lists at their counts, besides its records and the
// blocks under 64 KiB (which wait for the end). The faces, their large index blocks (the reader's,
// the triangulation's, the normals'), large UV and colour arrays and the converter's own
// bookkeeping are gone, and the base is the same whichever way the reader stored the faces. A
// part's records of 64 KiB or more are in the pool as the block they were built in, shrunk to
// them; where the shrink moves the block (as some C libraries do) the part follows it and the base
// is the same again.
TEST_F(ConvertTest, ConvertedReadModelsKeepOnlyWhatTheBaseIsMadeFrom) {
  // blocks as the reader asked for them: small requests sharing blocks would hold their unused
  // tails too, which is not what this measures
  ScopedBlockSharing eachRequestABlock(false);
  struct Case {
    GridSpec grid;
    bool recalc;  // normals given but made again
  };
  const Case cases[] = {
      {{56, true, false, false}, false}, {{56, false, false, false}, false}, {{56, true, true, false}, false},
      {{56, true, true, false}, true},   {{56, true, false, true}, false},   {{20, true, false, true}, false},
  };
  for (const Case& c : cases) {
    const GridSpec& g = c.grid;
    SCOPED_TRACE(testing::Message() << "side " << g.side << " oneBlock " << g.oneBlock << " normals "
                                    << g.normals << " recalc " << c.recalc << " perCorner " << g.perCorner);
    MV1LoadRecalcNormalsFlag = c.recalc;
    std::vector<uint8_t> vertexData[3];
    for (int run = 0; run < 3; ++run) {  // faces stored as given, the other way, as given with shrinks moving
      const int layout = run == 1;
      ScopedShrinkMoves shrinkMoves(run == 2);
      OwnedReadModel rm;
      ReadModelBuilder b(rm.get());
      b.Names("grid.x", "grid");
      GridSpec stored = g;
      stored.oneBlock = layout == 0 ? g.oneBlock : !g.oneBlock;
      ReadModelMesh* m = Grid(b, stored);
      const uint64_t uvBytes = sizeof(ReadModelUV) * m->UVCount[0];
      const uint64_t colourBytes = sizeof(COLOR_F) * m->VertexColorCount;
      const int quads = g.side * g.side, sets = __builtin_popcount(m->FaceSets);
      const MV1ModelBase* base = Convert(rm.get(), !g.normals || c.recalc);
      ASSERT_NE(base, nullptr);
      ASSERT_EQ(base->TriangleCount, 2 * quads);
      EXPECT_EQ(m->Faces == nullptr, 2 * quads * sizeof(ReadModelFace) >= 64 * 1024);
      EXPECT_EQ(m->UVs[0] == nullptr, uvBytes >= 64 * 1024);
      EXPECT_EQ(m->UVCount[0] == 0, uvBytes >= 64 * 1024);
      EXPECT_EQ(m->VertexColors == nullptr, colourBytes == 0 || colourBytes >= 64 * 1024);
      // what the base was made from, and the small blocks that wait (at 56 x 56 quads every
      // block of faces or index sets is large)
      uint64_t madeFrom = sizeof(VECTOR) * (static_cast<uint64_t>(m->PositionCount) + m->NormalCount);
      std::multiset<uint64_t> recordBlocks;  // what the parts' own blocks hold
      for (int i = 0; i < base->MeshCount; ++i) {
        const uint64_t records =
            static_cast<uint64_t>(base->Mesh[i].VertexCount) * base->Mesh[i].VertexStride;
        if (records >= 64 * 1024) recordBlocks.insert(records);
        madeFrom += records + sizeof(MV1MeshFace) * base->Mesh[i].FaceCount;
      }
      const size_t ownBlocks = recordBlocks.size();
      for (int i = 0; i < base->TriangleListCount; ++i)
        madeFrom += 4 * base->TriangleList[i].VertexCount + 2 * base->TriangleList[i].IndexCount;
      uint64_t waiting = 64 * 1024;
      if (!stored.oneBlock) waiting += sizeof(int) * 4 * sets * quads;
      if (uvBytes < 64 * 1024) waiting += uvBytes;
      if (colourBytes < 64 * 1024) waiting += colourBytes;
      uint64_t held = 0;
      for (auto* ch = static_cast<const ChunkListHeader*>(rm->PoolHead); ch; ch = ch->Next) {
        held += MemBlockSize(ch) - sizeof(ChunkListHeader);
        auto own = recordBlocks.find(MemBlockSize(ch) - sizeof(ChunkListHeader));
        if (own != recordBlocks.end()) recordBlocks.erase(own);
      }
      EXPECT_TRUE(recordBlocks.empty());
      if (g.side >= 56) {
        EXPECT_LE(held, madeFrom + waiting);
        EXPECT_GT(ownBlocks, 0u);
      }
      EXPECT_GE(held, madeFrom);
      vertexData[run].assign(static_cast<const uint8_t*>(base->VertexData),
                             static_cast<const uint8_t*>(base->VertexData) + base->VertexDataSize);
      MV1DeleteModelBase(handle);
    }
    EXPECT_TRUE(vertexData[0] == vertexData[1]);
    EXPECT_TRUE(vertexData[0] == vertexData[2]);
    MV1LoadRecalcNormalsFlag = 0;
  }
}

TEST_F(ConvertTest, FolderGetsItsSeparator) {
  struct Case { const char* folder; const char* want; };
  for (Case c : {Case{"a\\", "a\\"}, Case{"a/", "a/"}, Case{"a", "a/"}, Case{"\x95\x5C", "\x95\x5C/"}}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    b.Frame("f");
    const MV1ModelBase* base = Convert(rm.get(), true, c.folder);
    ASSERT_NE(base, nullptr);
    EXPECT_STREQ(base->DirectoryPath, c.want);
  }
}

// Rebuilds a frame base's local matrix from its parts.
MATRIX Rebuild(const MV1FrameBase* f) {
  MATRIX out;
  CreateTransformMatrix(&f->Rotate, &f->Scale, &f->Translate, nullptr, &out, f->RotateOrder);
  return out;
}

TEST_F(ConvertTest, FrameMatricesBecomeTransformParts) {
  MATRIX ry, rx, yx, scale2, mirror, zero, small;
  CreateRotationYMatrix(&ry, 0.7f);
  CreateRotationXMatrix(&rx, 0.4f);
  CreateMultiplyMatrix(&yx, &ry, &rx);
  CreateScalingMatrix(&scale2, 2, 2, 2);
  MATRIX rs;
  CreateMultiplyMatrix(&rs, &scale2, &yx);
  CreateScalingMatrix(&mirror, -1, 1, 1);
  MATRIX mirrored;
  CreateMultiplyMatrix(&mirrored, &mirror, &yx);
  CreateScalingMatrix(&zero, 0, 1, 1);
  MATRIX zeroed;
  CreateMultiplyMatrix(&zeroed, &zero, &yx);
  CreateScalingMatrix(&small, 1.000005f, 1, 1);
  MATRIX flat, flattened;
  CreateScalingMatrix(&flat, 0, 0, 1);
  CreateMultiplyMatrix(&flattened, &flat, &yx);
  struct Case { const char* what; MATRIX m; VECTOR t; };
  std::vector<Case> cases{{"translate", MGetTranslate({1, -2, 3}), {1, -2, 3}},
                          {"rotate YX", yx, {0, 0, 0}},
                          {"scale 2", rs, {0, 0, 0}},
                          {"mirror", mirrored, {0, 0, 0}},
                          {"zero scale", zeroed, {0, 0, 0}},
                          {"tiny scale", small, {0, 0, 0}},
                          {"two zero rows", flattened, {0, 0, 0}}};
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  for (auto& c : cases) {
    ReadModelFrame* f = b.Frame(c.what);
    f->Matrix = c.m;
    f->Matrix.m[3][0] = c.t.x;
    f->Matrix.m[3][1] = c.t.y;
    f->Matrix.m[3][2] = c.t.z;
  }
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  for (int i = 0; i < static_cast<int>(cases.size()); ++i) {
    const MV1FrameBase* f = &base->Frame[i];
    SCOPED_TRACE(cases[i].what);
    EXPECT_TRUE(std::isfinite(f->Rotate.x) && std::isfinite(f->Rotate.y) && std::isfinite(f->Rotate.z));
    MATRIX r = Rebuild(f);
    MATRIX want = cases[i].m;
    want.m[3][0] = cases[i].t.x;
    want.m[3][1] = cases[i].t.y;
    want.m[3][2] = cases[i].t.z;
    if (i != 5) {
      for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col) EXPECT_NEAR(r.m[row][col], want.m[row][col], 1e-5) << row << col;
    }
  }
  EXPECT_EQ(base->Frame[0].Translate.y, -2.0f);
  EXPECT_EQ(base->Frame[0].RotateOrder, 0);
  EXPECT_EQ(base->Frame[0].Rotate.x, 0.0f);
  EXPECT_EQ(base->Frame[0].Scale.x, 1.0f);
  EXPECT_EQ(base->Frame[1].RotateOrder, 0);  // XYZ reproduces it outside its gimbal band
  EXPECT_NEAR(base->Frame[2].Scale.x, 2.0f, 1e-5);
  EXPECT_NEAR(base->Frame[2].Scale.z, 2.0f, 1e-5);
  EXPECT_LT(base->Frame[3].Scale.x, 0.0f);
  EXPECT_EQ(base->Frame[4].Scale.x, 0.0f);
  EXPECT_EQ(base->Frame[5].Scale.x, 1.0f);  // 1.000005 leaves the copied scale
}

// The converter's choice of rotation order, from the rules: the rows of the matrix divided by
// their lengths; then XYZ, XZY, YXZ, YZX, ZXY, ZYX in turn, each extracted, rebuilt in its own
// order and taken when all nine elements lie strictly within 1e-5 of the normalised ones; else
// the XYZ angles with order 0. firstError (when not null) gets the XYZ rebuild's largest miss.
struct OrderChoice {
  VECTOR rotate;
  int order;
};
OrderChoice ChooseRotationOrder(const MATRIX& m, float* firstError) {
  struct Candidate {
    int (*Extract)(const MATRIX*, float*, float*, float*);
    int (*Build)(MATRIX*, float, float, float);
    int Number;
  };
  const Candidate sequence[6] = {{GetMatrixXYZRotation, CreateRotationXYZMatrix, 0},
                                 {GetMatrixXZYRotation, CreateRotationXZYMatrix, 1},
                                 {GetMatrixYXZRotation, CreateRotationYXZMatrix, 3},
                                 {GetMatrixYZXRotation, CreateRotationYZXMatrix, 2},
                                 {GetMatrixZXYRotation, CreateRotationZXYMatrix, 4},
                                 {GetMatrixZYXRotation, CreateRotationZYXMatrix, 5}};
  MATRIX n = m;
  for (int i = 0; i < 3; ++i) {
    const float len = std::sqrt(m.m[i][0] * m.m[i][0] + m.m[i][1] * m.m[i][1] + m.m[i][2] * m.m[i][2]);
    for (int j = 0; j < 3; ++j) n.m[i][j] = m.m[i][j] / len;
  }
  for (const Candidate& c : sequence) {
    float x, y, z;
    c.Extract(&n, &x, &y, &z);
    MATRIX r;
    c.Build(&r, x, y, z);
    bool near = true;
    float worst = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        near = near && n.m[i][j] - 1e-5f < r.m[i][j] && r.m[i][j] < n.m[i][j] + 1e-5f;
        worst = std::max(worst, std::fabs(r.m[i][j] - n.m[i][j]));
      }
    if (firstError && c.Number == 0) *firstError = worst;
    if (near) return {VECTOR{x, y, z}, c.Number};
  }
  float x, y, z;
  GetMatrixXYZRotation(&n, &x, &y, &z);
  return {VECTOR{x, y, z}, 0};
}

// Rotations near and inside the gimbal bands of the six orders (the middle angle pi/2 - d, d
// from 1e-7 to 4e-3, so the XYZ rebuild misses by about d): the converter's order and angles are
// those of the rule, including where the 1e-5 tolerance alone decides between XYZ and the next
// order.
TEST_F(ConvertTest, RotationOrderInTheGimbalBandFollowsTheTolerance) {
  int (*const builders[6])(MATRIX*, float, float, float) = {
      CreateRotationXYZMatrix, CreateRotationXZYMatrix, CreateRotationYZXMatrix,
      CreateRotationYXZMatrix, CreateRotationZXYMatrix, CreateRotationZYXMatrix};
  const int kCases = 600;
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  std::vector<MATRIX> matrices;
  for (int k = 0; k < kCases; ++k) {
    std::mt19937 rng(uint32_t(k + 1));
    std::uniform_real_distribution<float> outer(-3.0f, 3.0f), logD(-7.0f, -2.4f);
    const int built = k % 2 ? 0 : int(rng() % 6);  // half in XYZ's own band
    const float d = std::pow(10.0f, logD(rng));
    const float middle = (rng() % 2 ? 1 : -1) * (1.5707964f - d);
    float a[3] = {outer(rng), outer(rng), outer(rng)};
    const int middleAxis[6] = {1, 2, 2, 0, 0, 1};  // the middle angle of each builder's order
    a[middleAxis[built]] = middle;
    MATRIX m;
    builders[built](&m, a[0], a[1], a[2]);
    matrices.push_back(m);
    b.Frame(("f" + std::to_string(k)).c_str())->Matrix = m;
  }
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  int decidedByTolerance[2] = {0, 0}, orders[6] = {};
  for (int k = 0; k < kCases; ++k) {
    SCOPED_TRACE("case " + std::to_string(k));
    float firstError = 0;
    const OrderChoice want = ChooseRotationOrder(matrices[size_t(k)], &firstError);
    const MV1FrameBase* f = &base->Frame[k];
    EXPECT_EQ(f->RotateOrder, want.order);
    EXPECT_EQ(std::memcmp(&f->Rotate, &want.rotate, sizeof(VECTOR)), 0);
    ++orders[want.order];
    if (firstError > 0.5e-5f && firstError < 2e-5f) ++decidedByTolerance[firstError < 1e-5f ? 0 : 1];
  }
  // Both sides of the tolerance are well represented, XYZ and the next order both chosen.
  EXPECT_GT(decidedByTolerance[0], 10);
  EXPECT_GT(decidedByTolerance[1], 10);
  EXPECT_GT(orders[0], 100);
  EXPECT_GT(orders[1], 50);
}

TEST_F(ConvertTest, ThirtyThousandTrianglesMakeTwoRigidLists) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  std::vector<VECTOR> pos;
  std::vector<FaceSpec> faces;
  for (int i = 0; i < 30000; ++i) {
    float x = static_cast<float>(i);
    pos.insert(pos.end(), {{x, 0, 0}, {x, 1, 0}, {x + 0.5f, 0, 1}});
    FaceSpec f;
    f.pos = {3 * i, 3 * i + 1, 3 * i + 2};
    faces.push_back(f);
  }
  ReadModelMesh* m = b.Mesh(b.Frame("f"), pos);
  b.Faces(m, faces);
  b.Material(m, "m");
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  ASSERT_EQ(base->TriangleListCount, 2);
  EXPECT_EQ(base->TriangleList[0].IndexCount, 21845 * 3);
  EXPECT_EQ(base->TriangleList[1].IndexCount, 8155 * 3);
  EXPECT_EQ(base->Frame[0].TriangleCount, 30000);
}

TEST_F(ConvertTest, VertexColoursUVsAndSharedCorners) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelMesh* m = b.Mesh(b.Frame("f"), Square());
  b.Normals(m, {{0, 0, -1}});
  b.Colors(m, {{1.2f, 0.5f, -0.1f, 1.0f}, {1, 1, 1, 0.5f}});
  b.UVs(m, 0, {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0.5f, 0.5f}});
  FaceSpec a, c;
  a.pos = {0, 1, 2};
  a.nrm = {0, 0, 0};
  a.col = {0, 0, 0};
  a.uv[0] = {0, 1, 2};
  c.pos = {0, 2, 3};
  c.nrm = {0, 0, 0};
  c.col = {0, 0, 1};
  c.uv[0] = {0, 4, 3};  // corner 2 shares a with the same UV, position 2 gets another UV
  b.Faces(m, {a, c});
  b.Material(m, "m");
  const MV1ModelBase* base = Convert(rm.get(), false);
  ASSERT_NE(base, nullptr);
  const MV1MeshBase* mb = &base->Mesh[0];
  EXPECT_EQ(mb->VertexCount, 5);
  const MV1MeshVertex* v0 = MV1MeshVertexAt(mb, 0);
  EXPECT_EQ(v0->Diffuse.r, 255);
  EXPECT_EQ(v0->Diffuse.g, 128);
  EXPECT_EQ(v0->Diffuse.b, 0);
  EXPECT_EQ(v0->Diffuse.a, 255);
  EXPECT_EQ(mb->HasVertexAlpha, 1);
  EXPECT_EQ(MV1MeshVertexUV(MV1MeshVertexAt(mb, 2))[0], 1.0f);
  // normals read from the file stay as read
  EXPECT_EQ(base->Frame[0].NormalCount, 1);
  EXPECT_EQ(base->Frame[0].Normal[0].Normal.z, -1.0f);
  EXPECT_EQ(base->Frame[0].NormalsFromFaces, 0);
}

// A strip of quads along x skinned by `bones` bone frames, each position weighted by up to
// `perVertex` neighbouring bones.
void SkinnedStrip(ReadModelBuilder& b, int bones, int perVertex, int quads) {
  ReadModelFrame* root = b.Frame("root");
  std::vector<ReadModelFrame*> boneFrames;
  for (int i = 0; i < bones; ++i) boneFrames.push_back(b.Frame(("bone" + std::to_string(i)).c_str(), root));
  std::vector<VECTOR> pos;
  for (int i = 0; i <= quads; ++i) pos.insert(pos.end(), {{float(i), 0, 0}, {float(i), 1, 0}});
  ReadModelMesh* m = b.Mesh(root, pos);
  std::vector<FaceSpec> faces;
  for (int i = 0; i < quads; ++i) {
    FaceSpec f;
    f.pos = {2 * i, 2 * i + 1, 2 * i + 3, 2 * i + 2};
    faces.push_back(f);
  }
  b.Faces(m, faces);
  b.Material(m, "skin");
  for (int bone = 0; bone < bones; ++bone) {
    std::vector<std::pair<uint32_t, float>> w;
    for (int p = 0; p < static_cast<int>(pos.size()); ++p) {
      int column = p / 2;
      int centre = column * bones / (quads + 1);
      if (bone >= centre && bone < centre + perVertex) w.push_back({static_cast<uint32_t>(p), 1.0f / perVertex});
    }
    b.Weight(m, boneFrames[bone]->Index, w);
  }
}

TEST_F(ConvertTest, SkinnedFacesGroupIntoListsOfAtMost54Bones) {
  struct Case { int bones, perVertex, quads, type; };
  for (Case c : {Case{60, 2, 120, 1}, Case{60, 6, 120, 2}, Case{12, 10, 10, 3}}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    SkinnedStrip(b, c.bones, c.perVertex, c.quads);
    const MV1ModelBase* base = Convert(rm.get());
    ASSERT_NE(base, nullptr);
    std::set<int> types;
    int lists = 0;
    for (int l = 0; l < base->TriangleListCount; ++l) {
      types.insert(base->TriangleList[l].VertexType);
      lists += base->TriangleList[l].VertexType == c.type;
    }
    EXPECT_TRUE(types.count(c.type)) << c.perVertex;
    if (c.type == 1) { EXPECT_GE(lists, 2); }
    EXPECT_EQ(base->Frame[0].HasSkinnedMesh, 1);
    EXPECT_GE(base->Frame[0].BonesPerVertex, c.type == 1 ? 4 : c.type == 2 ? 8 : 10);
    EXPECT_EQ(base->SkinBoneCount, c.bones);
  }
}

TEST_F(ConvertTest, FaceTypesFollowTheBonesOfTheirVertices) {
  // vertices with 2, 3 and 5 bones give type 2; 4 bones each, 12 in all, give type 1
  struct Case { std::vector<int> bonesPerCorner; bool disjoint; int type; int listBones; };
  for (Case c : {Case{{2, 3, 5}, false, 2, 5}, Case{{4, 4, 4}, true, 1, 12}, Case{{2, 2, 0}, false, 1, 2}}) {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelFrame* root = b.Frame("root");
    for (int i = 0; i < 12; ++i) b.Frame("bone", root);
    ReadModelMesh* m = b.Mesh(root, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    FaceSpec f;
    f.pos = {0, 1, 2};
    b.Faces(m, {f});
    b.Material(m, "m");
    std::vector<std::vector<std::pair<uint32_t, float>>> w(12);
    for (int corner = 0; corner < 3; ++corner)
      for (int k = 0; k < c.bonesPerCorner[corner]; ++k) w[c.disjoint ? corner * 4 + k : k].push_back({static_cast<uint32_t>(corner), 0.5f});
    w[11].push_back({0, 0.0f});  // a weight of 0 counts no bone
    for (int i = 0; i < 12; ++i) b.Weight(m, 1 + i, w[i]);
    const MV1ModelBase* base = Convert(rm.get());
    ASSERT_NE(base, nullptr);
    ASSERT_EQ(base->TriangleListCount, 1);
    EXPECT_EQ(base->TriangleList[0].VertexType, c.type);
    if (c.type != 3) { EXPECT_EQ(base->TriangleList[0].UseBoneCount, c.listBones); }
  }
}

TEST_F(ConvertTest, PositionsCarryAtMostTheirFramesBones) {
  // position 3 is used by no face and weighted by 9 bones; the faces need 4 bones per vertex
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelFrame* root = b.Frame("root");
  for (int i = 0; i < 9; ++i) b.Frame("bone", root);
  ReadModelMesh* m = b.Mesh(root, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}});
  FaceSpec f;
  f.pos = {0, 1, 2};
  b.Faces(m, {f});
  b.Material(m, "m");
  for (int i = 0; i < 9; ++i) b.Weight(m, 1 + i, i == 0 ? std::vector<std::pair<uint32_t, float>>{{0, 1}, {1, 1}, {2, 1}, {3, 0.1f}}
                                                        : std::vector<std::pair<uint32_t, float>>{{3, 0.1f}});
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  const MV1FrameBase* fr = &base->Frame[0];
  EXPECT_EQ(fr->BonesPerVertex, 4);
  const MV1PositionBoneWeight* bw = MV1PositionBones(MV1FramePositionAt(fr, 3));
  for (int k = 0; k < 4; ++k) EXPECT_EQ(bw[k].Index, static_cast<uint32_t>(k));
  const MV1PositionBoneWeight* one = MV1PositionBones(MV1FramePositionAt(fr, 0));
  EXPECT_EQ(one[0].Weight, 1.0f);
  EXPECT_EQ(one[1].Index, 0xFFFFFFFFu);
}

TEST_F(ConvertTest, EqualSkinBonesMergeAndOrderByFrame) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelFrame* root = b.Frame("root");
  for (int i = 1; i < 8; ++i) b.Frame("f", root);
  ReadModelMesh* m = b.Mesh(root, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  FaceSpec f;
  f.pos = {0, 1, 2};
  b.Faces(m, {f});
  b.Material(m, "m");
  for (int frame : {5, 2, 2, 7}) b.Weight(m, frame, {{0, 0.25f}, {1, 0.25f}});
  // a second mesh of the same frame with the same bone 5 and offset, and bone 5 with another offset
  ReadModelMesh* m2 = b.Mesh(root, {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}});
  b.Faces(m2, {f});
  b.Material(m2, "m");
  b.Weight(m2, 5, {{0, 1.0f}});
  MATRIX other = MGetTranslate({1, 0, 0});
  b.Weight(m2, 5, {{1, 1.0f}}, &other);
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  ASSERT_EQ(base->SkinBoneCount, 4);
  EXPECT_EQ(base->SkinBone[0].Index, 2);
  EXPECT_EQ(base->SkinBone[0].UseCount, 2);
  EXPECT_EQ(base->SkinBone[1].Index, 5);
  EXPECT_EQ(base->SkinBone[2].Index, 5);
  EXPECT_EQ(base->SkinBone[3].Index, 7);
  std::set<int> fiveUses{base->SkinBone[1].UseCount, base->SkinBone[2].UseCount};
  EXPECT_EQ(fiveUses, (std::set<int>{1, 2}));
  EXPECT_EQ(base->Frame[5].SkinBoneCount, 2);
  EXPECT_EQ(base->SkinBone[0].TranslateOnly, 1);
}

TEST_F(ConvertTest, ShapesFollowTheirMeshesVertices) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelFrame* f = b.Frame("f");
  ReadModelMesh* first = b.Mesh(f, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
  ReadModelMesh* second = b.Mesh(f, {{0, 0, 5}, {1, 0, 5}, {0, 1, 5}});
  FaceSpec t;
  t.pos = {0, 1, 2};
  for (ReadModelMesh* m : {first, second}) {
    b.Faces(m, {t});
    b.Material(m, "m");
  }
  // the shape moves position 2 of the second mesh (frame position 5)
  b.Shape("smile", f, second, {{2, {0, 0.5f, 0}, {0, 1, 0}}}, 1);
  b.Shape("none", f, first, {}, 0);
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  ASSERT_EQ(base->ShapeCount, 2);
  EXPECT_STREQ(base->Shape[0].Name, "smile");
  ASSERT_EQ(base->Shape[0].MeshCount, 1);
  const MV1ShapeMeshBase* sm = base->Shape[0].Mesh;
  EXPECT_EQ(sm->TargetMesh, &base->Mesh[1]);
  ASSERT_EQ(sm->VertexCount, 1);
  const MV1MeshVertex* target = MV1MeshVertexAt(sm->TargetMesh, sm->Vertex[0].TargetMeshVertex);
  EXPECT_EQ(target->PositionIndex, 5u);
  EXPECT_EQ(sm->Vertex[0].Position.y, 0.5f);
  EXPECT_EQ(sm->Vertex[0].Normal.y, 1.0f);
  EXPECT_EQ(base->Shape[1].MeshCount, 0);
  EXPECT_EQ(base->Mesh[1].HasShape, 1);
  EXPECT_EQ(base->Mesh[0].HasShape, 0);
  EXPECT_EQ(base->ShapeType0VertexCount, base->Mesh[1].TriangleList[0].VertexCount);
}

TEST_F(ConvertTest, AnimationsReachTheBase) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelFrame* f0 = b.Frame("a");
  ReadModelFrame* f1 = b.Frame("b", f0);
  b.Shape("s", f1, b.Mesh(f1, {}), {}, 0);
  ReadModelAnimSet* set = b.AnimSet("walk", 30);
  ReadModelAnim* a = b.Anim(set, f1, 30);
  b.Keys(a, 1, 10, {0, 10, 30}, {0, 0, 0, 1, 2, 3, 0, 0, 9});
  b.Keys(a, 5, 18, {0, 30}, {0, 1});  // shape 0 of frame b
  b.Keys(a, 5, 18, {0, 30}, {0, 1})->ShapeIndex = 3;  // no such shape: dropped
  b.Keys(a, 1, 5, {}, {});                            // no keys: dropped
  ReadModelAnim* lost = b.Anim(set, nullptr, 1);
  lost->TargetFrameIndex = 9;                         // no such frame: dropped
  b.Keys(lost, 1, 10, {0}, {1, 1, 1});
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  ASSERT_EQ(base->AnimCount, 1);
  EXPECT_STREQ(base->Anim[0].Name, "walk");
  EXPECT_EQ(base->Anim[0].MaxTime, 30.0f);
  ASSERT_EQ(base->AnimFrameCount, 1);
  const MV1AnimFrameBase* af = &base->AnimFrame[0];
  EXPECT_EQ(af->TargetFrame, &base->Frame[1]);
  EXPECT_EQ(base->AnimFrameTable[1], af);
  EXPECT_EQ(base->AnimFrameTable[0], nullptr);
  ASSERT_EQ(af->KeySetCount, 2);
  EXPECT_EQ(af->KeySet[0].DataType, 10);
  EXPECT_EQ(af->KeySet[0].KeyCount, 3);
  EXPECT_EQ(af->KeySet[0].KeyTime[2], 30.0f);
  EXPECT_EQ(static_cast<const float*>(af->KeySet[0].KeyData)[8], 9.0f);
  EXPECT_EQ(af->KeySet[1].DataType, 18);
}

TEST_F(ConvertTest, ConvertedMatrixKeysPlayBackThroughAModel) {
  // a 4x3 matrix animation (scale 2, rotation about Z, moving along x) converted into translate,
  // quaternion and scale keys; a model of the base plays it back at a key's time
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelFrame* f = b.Frame("arm");
  b.Cube(f);
  ReadModelAnim* a = b.Anim(b.AnimSet("swing", 2), f, 2);
  std::vector<float> keys;
  std::vector<MATRIX> want;
  for (int t = 0; t < 3; ++t) {
    MATRIX s, r, sr;
    CreateScalingMatrix(&s, 2, 2, 2);
    CreateRotationZMatrix(&r, 0.3f * t * t);
    CreateMultiplyMatrix(&sr, &s, &r);
    sr.m[3][0] = static_cast<float>(t);
    want.push_back(sr);
    for (int row = 0; row < 4; ++row)
      for (int c = 0; c < 3; ++c) keys.push_back(sr.m[row][c]);
  }
  b.Keys(a, READMODEL_KEY_MATRIX4X3, READMODEL_KIND_MATRIX4X3, {0, 1, 2}, keys);
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  std::set<int> kinds;
  for (int k = 0; k < base->AnimKeySetCount; ++k) kinds.insert(base->AnimKeySet[k].DataType);
  EXPECT_TRUE(kinds.count(0) && kinds.count(5));  // quaternion and scale keys
  int model = MV1AddModelHandle();
  ASSERT_GE(model, 0);
  ASSERT_EQ(MV1CreateModelFromBase(model, handle), 0);
  ASSERT_EQ(MV1AttachAnim(model, 0, -1, 0), 0);
  for (int t = 0; t < 3; ++t) {
    ASSERT_EQ(MV1SetAttachAnimTime(model, 0, static_cast<float>(t)), 0);
    MATRIX got = MV1GetFrameLocalMatrix(model, 0);
    for (int row = 0; row < 4; ++row)
      for (int c = 0; c < 3; ++c) EXPECT_NEAR(got.m[row][c], want[t].m[row][c], 1e-4) << t << row << c;
  }
  EXPECT_EQ(MV1DeleteModel(model), 0);
}

// Mutations a hostile reader may hand the converter; each is refused with one line.
struct Hostile {
  const char* what;
  std::function<void(ReadModel*, ReadModelMesh*)> mutate;
  const char* message;  // part of the log
};

TEST_F(ConvertTest, HostileReadModelsAreRefused) {
  std::vector<Hostile> cases{
      {"face of 33", [](ReadModel* rm, ReadModelMesh* m) { ReadModelSetFaceIndexCount(rm, m, &m->Faces[0], 33); }, "Read Model Convert Error : "},
      {"position index", [](ReadModel*, ReadModelMesh* m) { m->Faces[0].Index[1] = 4; }, "position index"},
      {"outgrown face", [](ReadModel*, ReadModelMesh* m) { m->Faces[0].IndexCount = 4; }, "more indices than it stores"},
      {"foreign sets", [](ReadModel*, ReadModelMesh* m) { m->Faces[0].Sets |= READMODEL_SET_BIT(READMODEL_SET_UV0 + 5); }, "more indices than it stores"},
      {"negative index", [](ReadModel*, ReadModelMesh* m) { m->Faces[0].Index[0] = -1; }, "position index"},
      {"normal index", [](ReadModel*, ReadModelMesh* m) { ReadModelFaceIndices(&m->Faces[0], READMODEL_SET_NORMAL)[2] = 1; }, "normal index"},
      {"material index", [](ReadModel*, ReadModelMesh* m) { m->Faces[0].MaterialIndex = 1; }, "material"},
      {"bone -1", [](ReadModel* rm, ReadModelMesh* m) { ReadModelBuilder(rm).Weight(m, -1, {{0, 1}}); }, "\x83\x74\x83\x8C\x81\x5B\x83\x80 f "},
      {"bone frame 7", [](ReadModel* rm, ReadModelMesh* m) { ReadModelBuilder(rm).Weight(m, 7, {{0, 1}}); }, "bone frame 7"},
      {"weight position", [](ReadModel* rm, ReadModelMesh* m) { ReadModelBuilder(rm).Weight(m, 0, {{9, 1}}); }, "weights position 9"},
      {"short positions", [](ReadModel*, ReadModelMesh* m) { m->PositionCount = 5; }, "array outside the read model"},
      {"foreign positions", [](ReadModel*, ReadModelMesh* m) { static VECTOR p[4]; m->Positions = p; }, "array outside the read model"},
      {"short weights", [](ReadModel* rm, ReadModelMesh* m) { ReadModelBuilder(rm).Weight(m, 0, {{0, 1}})->WeightCount = 2; }, "bad skin weight"},
      {"short keys", [](ReadModel* rm, ReadModelMesh*) {
         ReadModelBuilder bb(rm);
         bb.Keys(bb.Anim(bb.AnimSet("s", 1), rm->FirstFrame, 1), 1, 10, {0, 1}, {1, 1, 1, 2, 2, 2})->KeyCount = 3;
       }, "bad key set"},
      {"rotate order", [](ReadModel* rm, ReadModelMesh*) { rm->FirstFrame->RotateOrder = 6; }, "rotate order 6"},
      {"mesh without frame", [](ReadModel* rm, ReadModelMesh*) { ReadModelAddMesh(rm, nullptr); }, "has no frame"},
      {"shape position", [](ReadModel* rm, ReadModelMesh* m) { ReadModelBuilder(rm).Shape("s", rm->FirstFrame, m, {{4, {}, {}}}, 0); }, "moves position 4"},
      {"257 materials", [](ReadModel* rm, ReadModelMesh* m) { for (int i = 0; i < 256; ++i) ReadModelBuilder(rm).Material(m, "x"); }, "257 materials"},
      {"4097 weights", [](ReadModel* rm, ReadModelMesh* m) { for (int i = 0; i < 4097; ++i) ReadModelBuilder(rm).Weight(m, 0, {}); }, "4097 skin weights"},
      {"frame count", [](ReadModel* rm, ReadModelMesh*) { rm->FrameCount = 2; }, "frame list"},
      {"cyclic parent", [](ReadModel* rm, ReadModelMesh*) { rm->FirstFrame->Parent = rm->FirstFrame; }, "parent"},
      {"bad key set", [](ReadModel* rm, ReadModelMesh*) {
         ReadModelBuilder bb(rm);
         bb.Keys(bb.Anim(bb.AnimSet("s", 1), rm->FirstFrame, 1), 1, 10, {0}, {1, 1, 1})->KeyTimes = nullptr;
       }, "bad key set"},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelMesh* m = b.Mesh(b.Frame("f"), Square());
    b.Normals(m, {{0, 0, 1}});
    FaceSpec f;
    f.pos = {0, 1, 2};
    f.nrm = {0, 0, 0};
    b.Faces(m, {f});
    b.Material(m, "m");
    c.mutate(rm.get(), m);
    int before = ModelBaseCount();
    LogCaptureBegin();
    EXPECT_EQ(ConvertReadModelToModelBase(rm.get(), "dir"), -1);
    std::string log = LogCaptureEnd();
    EXPECT_EQ(ModelBaseCount(), before);
    EXPECT_NE(log.find("Read Model Convert Error : "), std::string::npos) << log;
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
  }
}

TEST_F(ConvertTest, TexturesReachTheBaseOrFailTheConversion) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelMesh* m = b.Mesh(b.Frame("f"), Square());
  FaceSpec t;
  t.pos = {0, 1, 2};
  b.Faces(m, {t});
  ReadModelMaterial* mat = b.Material(m, "m");
  ReadModelTexture* shared = ReadModelAddTexture(rm.get(), "shared", "", nullptr, 0, 0.1f, 1);
  for (int i = 0; i < 10; ++i) ReadModelAddMapTexture(rm.get(), &mat->DiffuseTextures, shared);
  shared->BlendType = 3;
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->TextureCount, 1);
  EXPECT_STREQ(base->Texture[0].Name, "shared");
  EXPECT_EQ(base->Texture[0].ColorFileName, nullptr);  // an empty file name is none
  EXPECT_EQ(base->Material[0].DiffuseLayerCount, 8);   // the first 8 of the list
  EXPECT_EQ(base->Material[0].DiffuseLayer[7].BlendType, 3);
  EXPECT_EQ(base->Mesh[0].UVSetCount, 8);
  EXPECT_EQ(base->Material[0].DiffuseGradTexture, -1);
  // a path that cannot be made full fails the conversion with the texture's name
  OwnedReadModel bad;
  ReadModelBuilder bb(bad.get());
  bb.Frame("f");
  ReadModelTexture* tex = ReadModelAddTexture(bad.get(), "far", "x.bmp", nullptr, 0, 0, 0);
  tex->ColorFilePath = ReadModelAddString(bad.get(), std::string(3000, 'a').c_str());
  int before = ModelBaseCount();
  LogCaptureBegin();
  EXPECT_EQ(ConvertReadModelToModelBase(bad.get(), "dir"), -1);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find("Read Model Convert Error : \x83\x65\x83\x4E\x83\x58\x83\x60\x83\x83 far "), std::string::npos) << log;
  EXPECT_EQ(ModelBaseCount(), before);
}

TEST_F(ConvertTest, TextureFilesBecomeGraphs) {
  // the file name is resolved against the current directory, then made full against the folder
  std::string os = TestDataPath("images/png/basn6a08.png");
  std::string path, folder;
  ASSERT_TRUE(OsPathToEngine(os.c_str(), &path));
  char cwd[1024];
  ASSERT_EQ(FileGetCurrentDir(cwd, sizeof cwd), 0);
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelMesh* m = b.Mesh(b.Frame("f"), Square());
  FaceSpec t;
  t.pos = {0, 1, 2};
  b.Faces(m, {t});
  ReadModelMaterial* mat = b.Material(m, "m");
  ReadModelAddMapTexture(rm.get(), &mat->DiffuseTextures, ReadModelAddTexture(rm.get(), "png", path.c_str(), nullptr, 0, 0.1f, 1));
  const MV1ModelBase* base = Convert(rm.get(), true, cwd);
  ASSERT_NE(base, nullptr);
  ASSERT_EQ(base->TextureCount, 1);
  EXPECT_GE(base->Texture[0].GraphHandle, 0);
  EXPECT_GT(base->Texture[0].ColorImageSize, 0);
  ASSERT_NE(base->Texture[0].ColorFileName, nullptr);
  EXPECT_NE(std::string(base->Texture[0].ColorFileName).find("basn6a08.png"), std::string::npos);
}

TEST_F(ConvertTest, ShortFacesAreDroppedAndEmptyModelsConvert) {
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  ReadModelMesh* m = b.Mesh(b.Frame("f"), Square());
  FaceSpec line, tri;
  line.pos = {0, 1};
  tri.pos = {0, 1, 2};
  b.Faces(m, {line, tri, line});
  const MV1ModelBase* base = Convert(rm.get());
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(base->TriangleCount, 1);
  OwnedReadModel empty;
  EXPECT_NE(Convert(empty.get()), nullptr);
}

// The golden read models every failure-injection run converts.
std::vector<std::function<void(ReadModelBuilder&)>> Goldens() {
  return {
      [](ReadModelBuilder& b) {
        b.Names("m.x", "m");
        ReadModelFrame* f = b.Frame("f");
        f->SmoothingAngle = 1.6f;
        ReadModelMesh* m = b.Cube(f);
        b.Shape("s", f, m, {{1, {0, 1, 0}, {0, 0, 0}}}, 0);
        // a texture whose file is missing: the loader falls back to white
        ReadModelAddMapTexture(b.rm(), &m->Materials[0]->DiffuseTextures,
                               ReadModelAddTexture(b.rm(), "lost", "lost.bmp", nullptr, 0, 0.1f, 1));
        ReadModelAnim* a = b.Anim(b.AnimSet("set", 2), f, 2);
        std::vector<float> keys;
        for (int i = 0; i < 3; ++i) {
          MATRIX r;
          CreateRotationZMatrix(&r, 0.3f * i);
          for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 3; ++col) keys.push_back(r.m[row][col] * (row < 3 ? 2.0f : 1.0f));
        }
        b.Keys(a, 2, 15, {0, 1, 2}, keys);
        b.Keys(a, 1, 10, {0, 1, 2, 3}, {0, 5, 0, 1, 5, 1, 4, 5, 8, 9, 5, 27});
      },
      [](ReadModelBuilder& b) { SkinnedStrip(b, 8, 3, 6); },
      // large blocks: the reader's index block, the converter's, faces, UVs and colours
      [](ReadModelBuilder& b) { Grid(b, GridSpec{56, true, false, true}); },
  };
}

// Every line a failed conversion may write.
const std::set<std::string>& FailureLines() {
  static const std::set<std::string> lines = [] {
    std::set<std::string> l;
    l.insert(TEXT_MV1_CHUNK_ALLOC_FAILED);
    l.insert("Read Model Error : " TEXT_RM_TRIANGULATE_ALLOC_FAILED);
    for (const char* t : {TEXT_RM_NORMAL_ALLOC_FAILED, TEXT_RM_NORMAL_ALLOC_FAILED " _ 2", TEXT_RM_RELATION_ALLOC_FAILED,
                          TEXT_RM_SHAPE_TABLE_ALLOC_FAILED, TEXT_RM_HANDLE_FAILED, TEXT_RM_BASE_ALLOC_FAILED,
                          TEXT_RM_TEMP_ALLOC_FAILED, TEXT_RM_VERTEX_ALLOC_FAILED, TEXT_RM_FACE_TYPE_ALLOC_FAILED,
                          TEXT_RM_VERTEX_BONE_INIT_FAILED, TEXT_RM_VERTEX_WEIGHT_ALLOC_FAILED,
                          TEXT_RM_FACE_BONE_INIT_FAILED, TEXT_RM_MATERIAL_POLY_ALLOC_FAILED,
                          TEXT_RM_FACE_GROUP_ALLOC_FAILED})
      l.insert(std::string("Read Model Convert Error : ") + t);
    char texture[256];
    std::snprintf(texture, sizeof texture, "Read Model Convert Error : " TEXT_RM_TEXTURE_LOAD_FAILED, "lost");
    l.insert(texture);
    return l;
  }();
  return lines;
}

TEST_F(ConvertTest, EveryAllocationFailureIsCleanAndLogged) {
  ScopedBlockSharing eachRequestABlock(false);
  int fatal = 0, absorbed = 0;
  std::set<std::string> messages;
  for (auto& golden : Goldens()) {
    for (long n = 1;; ++n) {
      size_t live = MemLiveBlockCount();
      int bases = ModelBaseCount();
      int result;
      std::string log;
      bool fired;
      {
        OwnedReadModel rm;
        ReadModelBuilder b(rm.get());
        golden(b);
        LogCaptureBegin();
        uint64_t before = MemAllocAttempts();
        MemSetFailAt(n);
        result = ConvertReadModelToModelBase(rm.get(), "dir");
        MemSetFailAt(0);
        fired = MemAllocAttempts() - before >= static_cast<uint64_t>(n);
        log = LogCaptureTextWithoutStamps();
        LogCaptureEnd();
        if (result >= 0) {
          EXPECT_VALID_BASE(ConvertedBase(result), rm.get(), true);
          EXPECT_EQ(MV1DeleteModelBase(result), 0);
          if (fired) ++absorbed;
        } else {
          ++fatal;
          EXPECT_TRUE(fired);
          EXPECT_EQ(ModelBaseCount(), bases) << n;
          // every line is one of the failure lines, the last one the converter's
          std::string last;
          for (size_t at = 0; at < log.size();) {
            size_t end = log.find("\r\n", at);
            std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? log.size() : end + 2;
            if (line.empty()) continue;
            // the texture loader and the image readers behind it write their own lines first
            bool loader = line.rfind("Load Texture Error : ", 0) == 0 || line.find(" in Create") != std::string::npos;
            EXPECT_TRUE(FailureLines().count(line) || loader) << "allocation " << n << ": " << line;
            last = line;
          }
          EXPECT_TRUE(FailureLines().count(last)) << n << log;
          messages.insert(last);
        }
      }
      EXPECT_EQ(MemLiveBlockCount(), live) << "allocation " << n;
      if (!fired) break;
    }
  }
  std::printf("%d fatal and %d absorbed failure points, %zu distinct last lines\n", fatal, absorbed, messages.size());
  EXPECT_GT(fatal, 20);
  EXPECT_GT(absorbed, 0);
  EXPECT_GT(messages.size(), 8u);
}

TEST_F(ConvertTest, SkinningOptimisationWithoutMemoryStillLinksFrames) {
  ScopedBlockSharing eachRequestABlock(false);
  // find the allocation of the optimisation's work block: the last one of a successful run
  auto build = [](ReadModelBuilder& b) { SkinnedStrip(b, 6, 2, 6); };
  uint64_t total;
  {
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    build(b);
    uint64_t before = MemAllocAttempts();
    int h = ConvertReadModelToModelBase(rm.get(), "dir");
    total = MemAllocAttempts() - before;
    MV1DeleteModelBase(h);
  }
  OwnedReadModel rm;
  ReadModelBuilder b(rm.get());
  build(b);
  LogCaptureBegin();
  MemSetFailAt(static_cast<long>(total));
  const MV1ModelBase* base = Convert(rm.get());
  MemSetFailAt(0);
  std::string log = LogCaptureEnd();
  ASSERT_NE(base, nullptr);
  EXPECT_NE(log.find("Model Optimize Error : "), std::string::npos);
  for (int i = 1; i <= 6; ++i) EXPECT_EQ(base->Frame[i].SkinBoneCount, 1);
}

// Dense reference of the sparse bone tables: position x block weights (a later positive weight of
// the same cell replaces an earlier one; weights of 0 or below are ignored), the face types that
// follow and the bones each position record carries.
TEST_F(ConvertTest, SparseBoneTablesMatchTheDenseReference) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 gen(seed);
    auto below = [&](int n) { return static_cast<int>(gen() % static_cast<uint32_t>(n)); };
    OwnedReadModel rm;
    ReadModelBuilder b(rm.get());
    ReadModelFrame* root = b.Frame("root");
    const int blocks = 1 + below(20), positions = 3 + below(30), faces = 1 + below(40);
    for (int i = 0; i < blocks; ++i) b.Frame("bone", root);
    std::vector<VECTOR> pos;
    for (int p = 0; p < positions; ++p) pos.push_back({float(p), float(p % 7), float(p % 3)});
    ReadModelMesh* m = b.Mesh(root, pos);
    std::vector<FaceSpec> fs;
    for (int f = 0; f < faces; ++f) {
      FaceSpec s;
      s.pos = {below(positions), below(positions), below(positions)};
      fs.push_back(s);
    }
    b.Faces(m, fs);
    b.Material(m, "m");
    std::vector<std::vector<float>> dense(positions, std::vector<float>(blocks, 0.0f));
    for (int k = 0; k < blocks; ++k) {
      std::vector<std::pair<uint32_t, float>> w;
      for (int j = below(2 * positions); j > 0; --j) {
        int p = below(positions);
        float v = below(5) == 0 ? -0.5f : 0.1f * below(4);
        w.push_back({static_cast<uint32_t>(p), v});
        if (v > 0.0f) dense[p][k] = v;  // weights of 0 or below are ignored, not cleared
      }
      b.Weight(m, 1 + k, w);
    }
    const MV1ModelBase* base = Convert(rm.get());
    ASSERT_NE(base, nullptr);
    const MV1FrameBase* fr = &base->Frame[0];
    auto bonesOf = [&](int p) {
      std::vector<int> out;
      for (int k = 0; k < blocks; ++k)
        if (dense[p][k] > 0.0f) out.push_back(k);
      return out;
    };
    for (int p = 0; p < positions; ++p) {
      std::vector<int> want = bonesOf(p);
      const MV1PositionBoneWeight* bw = MV1PositionBones(MV1FramePositionAt(fr, p));
      for (int k = 0; k < fr->BonesPerVertex; ++k) {
        if (k < static_cast<int>(want.size())) {
          EXPECT_EQ(bw[k].Index, static_cast<uint32_t>(want[k])) << p;
          EXPECT_EQ(bw[k].Weight, dense[p][want[k]]) << p;
        } else {
          EXPECT_EQ(bw[k].Index, 0xFFFFFFFFu) << p;
          break;
        }
      }
    }
    const MV1MeshBase* mb = &base->Mesh[0];
    for (int f = 0; f < mb->FaceCount; ++f) {
      size_t most = 0;
      for (int k = 0; k < 3; ++k) {
        const MV1MeshVertex* v = MV1MeshVertexAt(mb, static_cast<int>(mb->Face[f].VertexIndex[k]));
        most = std::max(most, bonesOf(static_cast<int>(v->PositionIndex)).size());
      }
      int type = most == 0 ? 0 : most <= 4 ? 1 : most <= 8 ? 2 : 3;
      EXPECT_EQ(mb->Face[f].TriangleListType, type) << f;
    }
  }
}

TEST_F(ConvertTest, SeededRandomReadModelsConvertToValidBases) {
  int converted = 0;
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE(seed);
    OwnedReadModel rm;
    BuildRandomReadModel(rm.get(), seed);
    LogCaptureBegin();
    int h = ConvertReadModelToModelBase(rm.get(), "dir");
    LogCaptureEnd();
    if (h >= 0) {
      ++converted;
      EXPECT_VALID_BASE(ConvertedBase(h), rm.get(), false);
      MV1DeleteModelBase(h);
    }
  }
  // the wild models reach the converter's fill as well as its refusals
  EXPECT_GT(converted, 40);
  EXPECT_LT(converted, 190);
  std::printf("%d of 200 wild read models converted\n", converted);
}

}  // namespace
