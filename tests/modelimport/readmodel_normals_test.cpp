// Automatic normals: the same normals as the literal fan walk (tests/support/ref_normals), bit for
// bit, on seeded random meshes and on the shapes that made the walk quadratic; and the work the
// walk does stays proportional to the faces on those shapes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include "tests/support/mesh_shapes.h"
#include "tests/support/readmodel_builder.h"
#include "tests/support/ref_normals.h"
#include "tests/support/test_support.h"
#include "tests/support/x_test_files.h"

namespace {

class ReadModelNormalsTest : public LeakCheckedTest {};

// Builds the case into rm, triangulates it and makes its normals with make.
ReadModelMesh* Make(ReadModel* rm, const MeshCase& c, int (*make)(ReadModel*, ReadModelMesh*)) {
  ReadModelMesh* m = BuildMeshCase(rm, c);
  if (!m || !TriangulateReadModelMesh(rm, m) || make(rm, m) != 1) return nullptr;
  return m;
}

uint32_t Bits(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return u;
}

// Face normals, normals and every corner's index of every set (the normal indices among them),
// as exact bits.
std::vector<uint32_t> Outcome(const ReadModelMesh* m) {
  std::vector<uint32_t> out{static_cast<uint32_t>(m->FaceCount), static_cast<uint32_t>(m->NormalCount)};
  for (int i = 0; i < m->FaceCount; ++i) {
    for (float v : m->Faces[i].Normal) out.push_back(Bits(v));
    out.push_back(m->Faces[i].Sets);
    for (int set = 0; set < READMODEL_SET_COUNT; ++set) {
      const int* n = ReadModelFaceIndices(&m->Faces[i], set);
      for (int k = 0; n && k < 3; ++k) out.push_back(static_cast<uint32_t>(n[k]));
    }
  }
  for (int i = 0; i < m->NormalCount; ++i)
    for (float v : {m->Normals[i].x, m->Normals[i].y, m->Normals[i].z}) out.push_back(Bits(v));
  return out;
}

// Makes the normals both ways and expects the same bits.
void ExpectSameAsReference(const MeshCase& c) {
  OwnedReadModel fast, ref;
  ReadModelMesh* a = Make(fast.get(), c, MakeReadModelNormals);
  ReadModelMesh* b = Make(ref.get(), c, RefMakeReadModelNormals);
  EXPECT_TRUE(a && b) << c.name;
  if (a && b) {
    EXPECT_TRUE(Outcome(a) == Outcome(b)) << c.name;
  }
}

// The fast walk's work on the case.
uint64_t WalkWork(const MeshCase& c) {
  OwnedReadModel rm;
  const uint64_t before = ReadModelWorkCount().NormalSteps;
  EXPECT_TRUE(Make(rm.get(), c, MakeReadModelNormals)) << c.name;
  return ReadModelWorkCount().NormalSteps - before;
}

// Random meshes over few positions, so that edges are shared by many faces, triangles repeat
// with either winding, faces hold a position twice, and some positions coincide, lie on a line,
// or are not finite.
MeshCase RandomCase(uint32_t seed) {
  std::mt19937 rng(seed);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  MeshCase c;
  c.name = "seed " + std::to_string(seed);
  const int positions = 3 + below(12);
  for (int i = 0; i < positions; ++i) {
    switch (below(12)) {
      case 0: c.pos.push_back(c.pos.empty() ? VECTOR{0, 0, 0} : c.pos[below(static_cast<int>(c.pos.size()))]); break;
      case 1: c.pos.push_back({static_cast<float>(below(3)), 0, 0}); break;
      case 2: c.pos.push_back({below(2) ? NAN : INFINITY, 1, 0}); break;
      default:
        c.pos.push_back({static_cast<float>(below(5)) - 2, static_cast<float>(below(5)) - 2,
                         below(3) ? 0.0f : static_cast<float>(below(7)) * 0.3f});
    }
  }
  if (below(8)) {  // keep most cases finite, where the walk goes far
    for (VECTOR& v : c.pos)
      if (!std::isfinite(v.x)) v.x = 0.5f;
  }
  const int faces = 1 + below(40);
  std::vector<std::vector<int>> made;
  for (int i = 0; i < faces; ++i) {
    std::vector<int> f;
    if (!made.empty() && below(3) == 0) {
      f = made[below(static_cast<int>(made.size()))];  // a repeat, maybe turned or reversed
      if (below(2)) std::reverse(f.begin(), f.end());
      if (below(2)) std::rotate(f.begin(), f.begin() + 1, f.end());
    } else {
      const int n = below(6) ? 3 : 3 + below(4);
      for (int k = 0; k < n; ++k) f.push_back(below(positions));
    }
    made.push_back(f);
  }
  c.faces = made;
  const float angles[] = {0.0f, 1.5207964f, 0.5f, 2.0f, 3.2f, 1.0f};
  c.angle = angles[below(6)];
  c.reverse = below(5) == 0;
  return c;
}

TEST_F(ReadModelNormalsTest, RandomMeshesGiveTheReferenceNormals) {
  for (uint32_t seed = 1; seed <= 4000; ++seed) {
    ExpectSameAsReference(RandomCase(seed));
    if (HasFailure()) break;
  }
}

// Every mesh of the test data's X, MQO and PMD files that have meshes, its faces with all their
// index sets, copied out of the read model each reader makes (the conversion stopped).
TEST_F(ReadModelNormalsTest, TestDataMeshesGiveTheReferenceNormals) {
  struct Reader {
    const char* folder;
    std::vector<std::string> files;
    int (*load)(const void*, size_t, const char*, const char*, const char*);
  } readers[] = {
      {"models/x", {"BCN_Epileptic.X", "anim_test.x", "arrow.x", "ball.x", "configsystem_ball.x", "fromtruespace_bin32.x",
                    "kwxport_test_cubewithvcolors.x", "lobby_skybox.x", "teapot.x", "test.x", "test_cube_binary.x",
                    "test_cube_text.x", "testentities_cool_guy.x", "tiger.x", "tiny_4anim.x"},
       LoadXFileModel},
      {"models/mqo", {"mirrored_multiple_axes.mqo", "multiple_materials.mqo", "multiple_objects.mqo", "normal.mqo",
                      "single_material_with_materialex2.mqo", "single_object_with_edge.mqo", "texture.mqo"},
       LoadMqoModel},
      {"models/pmd", {"Gene.pmd", "bootscreen.pmd", "menu.pmd"}, LoadPmdModel},
  };
  struct Seen {
    int meshes = 0;
  } seen;
  SetReadModelObserver(
      [](const ReadModel* rm, const char*, void* user) {
        for (const ReadModelMesh* m = rm->FirstMesh; m; m = m->Next) {
          MeshCase c;
          c.name = "mesh " + std::to_string(m->Index);
          c.pos.assign(m->Positions, m->Positions + m->PositionCount);
          c.angle = rm->UseFrameSmoothingAngles && m->Frame ? m->Frame->SmoothingAngle : 1.5620697f;
          std::vector<FaceSpec> specs(m->FaceCount);
          for (int i = 0; i < m->FaceCount; ++i) {
            const ReadModelFace& f = m->Faces[i];
            auto copy = [&](int set, std::vector<int>* to) {
              if (const int* p = ReadModelFaceIndices(&f, set)) to->assign(p, p + f.IndexCount);
            };
            copy(READMODEL_SET_POSITION, &specs[i].pos);
            copy(READMODEL_SET_NORMAL, &specs[i].nrm);
            copy(READMODEL_SET_COLOR, &specs[i].col);
            for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k) copy(READMODEL_SET_UV0 + k, &specs[i].uv[k]);
          }
          OwnedReadModel fast, ref;
          std::vector<uint32_t> outcome[2];
          int n = 0;
          for (OwnedReadModel* to : {&fast, &ref}) {
            ReadModelBuilder b(to->get());
            ReadModelFrame* frame = b.Frame("f");
            frame->SmoothingAngle = c.angle;
            ReadModelMesh* copy = b.Mesh(frame, c.pos);
            EXPECT_TRUE(b.Faces(copy, specs));
            EXPECT_EQ(TriangulateReadModelMesh(to->get(), copy), 1);
            EXPECT_EQ((to == &fast ? MakeReadModelNormals : RefMakeReadModelNormals)(to->get(), copy), 1);
            outcome[n++] = Outcome(copy);
          }
          EXPECT_TRUE(outcome[0] == outcome[1]) << c.name;
          ++static_cast<Seen*>(user)->meshes;
        }
        return 1;
      },
      &seen);
  for (const Reader& r : readers)
    for (const std::string& name : r.files) {
      const std::string data = XTestReadFile(TestDataPath(std::string(r.folder) + "/" + name));
      ASSERT_FALSE(data.empty()) << name;
      const int meshesBefore = seen.meshes;
      r.load(data.data(), data.size(), name.c_str(), "model", TestDataPath(r.folder).c_str());
      EXPECT_GT(seen.meshes, meshesBefore) << name;
    }
  SetReadModelObserver(nullptr, nullptr);
}

// Each shape at a size the literal walk takes a moment for (compared with it) and at a size it
// takes well over ten seconds for (its work counted instead).
struct Shape {
  std::function<MeshCase(int)> make;
  int small, large;
  uint64_t perTriangle;  // most walk steps allowed per triangle
};

const Shape kShapes[] = {
    {[](int n) { return RepeatedTriangle(n, false); }, 400, 60000, 16},
    {[](int n) { return RepeatedTriangle(n, true); }, 400, 60000, 16},
    {[](int n) { return RepeatedPolygon(n, 32); }, 40, 3000, 60},
    {[](int n) { return MirroredQuads(n); }, 60, 60000, 24},
    {[](int n) { return Disc(n); }, 500, 100000, 16},
    {[](int n) { return RepeatedRing(n, 50); }, 12, 2400, 24},
};

TEST_F(ReadModelNormalsTest, SharedPositionsGiveTheReferenceNormals) {
  for (const Shape& s : kShapes) ExpectSameAsReference(s.make(s.small));
}

TEST_F(ReadModelNormalsTest, SharedPositionsKeepTheWalkLinearInTheFaces) {
  for (const Shape& s : kShapes) {
    const MeshCase c = s.make(s.large);
    uint64_t triangles = 0;
    for (const auto& f : c.faces) triangles += f.size() - 2;
    EXPECT_LE(WalkWork(c), s.perTriangle * triangles) << c.name;
  }
}

// The memory the normals take beyond the mesh they are made for: the walk's work (29 bytes a
// corner) and the edge tables (24 bytes a corner, 12 a position) at once, the run cursors only
// for edges that several faces share; the new index sets come after the edge tables are gone.
TEST_F(ReadModelNormalsTest, NormalsTakeMemoryInProportionToTheCorners) {
  for (const Shape& s : kShapes) {
    const MeshCase c = s.make(s.large);
    OwnedReadModel rm;
    ReadModelMesh* m = BuildMeshCase(rm.get(), c);
    ASSERT_TRUE(m && TriangulateReadModelMesh(rm.get(), m)) << c.name;
    const uint64_t corners = uint64_t(m->FaceCount) * 3, positions = c.pos.size();
    const size_t before = MemLiveBytes();
    MemResetPeak();
    ASSERT_EQ(MakeReadModelNormals(rm.get(), m), 1) << c.name;
    EXPECT_LE(MemPeakBytes() - before, 56 * corners + 12 * positions + (1 << 20)) << c.name;
  }
}

}  // namespace
