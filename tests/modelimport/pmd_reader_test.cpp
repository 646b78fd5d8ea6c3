// The PMD reader and its motions into the read model, checked on the read model handed to the
// converter (its records, and its dump for the morph split).
#include <qzlib/modelimport/pmd/pmd_reader.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/memory_files.h"
#include "tests/support/pmd_writer.h"
#include "tests/support/readmodel_builder.h"
#include "tests/support/test_support.h"

namespace {

const char kFolder[] = "models";

struct Loaded {
  int result = 0;
  int observed = 0;
  std::string log;
  std::string dump;
};

std::function<void(const ReadModel&)>* g_inspect = nullptr;
int Observe(const ReadModel* rm, const char*, void* user) {
  Loaded* l = static_cast<Loaded*>(user);
  ++l->observed;
  l->dump = DumpReadModel(rm);
  if (g_inspect) (*g_inspect)(*rm);
  return 1;  // stop: the checks are on the read model
}

// Loads a model image as kFolder\name.pmd (motions from the installed file table) and runs
// inspect on the read model before conversion.
Loaded Load(const std::vector<uint8_t>& bytes, std::function<void(const ReadModel&)> inspect = nullptr,
            const char* name = "m", const char* folder = kFolder) {
  Loaded l;
  g_inspect = &inspect;
  SetReadModelObserver(Observe, &l);
  LogCaptureBegin();
  l.result = LoadPmdModel(bytes.data(), bytes.size(), name, name, folder);
  l.log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  SetReadModelObserver(nullptr, nullptr);
  g_inspect = nullptr;
  return l;
}

const ReadModelAnim* FindAnim(const ReadModelAnimSet* set, const char* target) {
  for (const ReadModelAnim* a = set->FirstAnim; a; a = a->NextInSet)
    if (std::strcmp(a->TargetFrameName, target) == 0) return a;
  return nullptr;
}

const ReadModelFrame* FindFrame(const ReadModel& rm, const char* name) {
  for (const ReadModelFrame* f = rm.FirstFrame; f; f = f->Next)
    if (std::strcmp(f->Name, name) == 0) return f;
  return nullptr;
}

class PmdReader : public LeakCheckedTest {};

TEST_F(PmdReader, FramesMeshAndSkinWeights) {
  PmdTestModel m = MakeIkLegModel();
  m.iks.clear();
  Loaded l = Load(WritePmd(m), [](const ReadModel& rm) {
    EXPECT_STREQ(rm.Name, "m");
    ASSERT_EQ(rm.FrameCount, 6);
    // "Mesh" and the root bones at the top level; bones below their parents
    EXPECT_STREQ(rm.FirstFrame->Name, "Mesh");
    const ReadModelFrame* knee = FindFrame(rm, (std::string(TEXT_PMD_KNEE) + "L").c_str());
    ASSERT_NE(knee, nullptr);
    EXPECT_STREQ(knee->Parent->Name, "thigh");
    EXPECT_EQ(knee->Translate.y, -5.0f);
    EXPECT_EQ(knee->ReaderPosition.y, 5.0f);
    EXPECT_EQ(FindFrame(rm, "legIK")->Parent, nullptr);
    ASSERT_EQ(rm.MeshCount, 1);
    const ReadModelMesh* mesh = rm.FirstMesh;
    EXPECT_EQ(mesh->Frame, rm.FirstFrame);
    EXPECT_EQ(mesh->FaceCount, 1);
    EXPECT_EQ(mesh->Positions[1].y, 5.0f);
    EXPECT_EQ(mesh->Normals[0].z, -1.0f);
    // blocks of bones 1, 2, 3 in bone order: vertex 0 all thigh (1.0), vertex 1 60 % knee and
    // 40 % thigh, vertex 2 ankle
    ASSERT_EQ(mesh->SkinWeightCount, 3);
    const ReadModelSkinWeight* thigh = mesh->SkinWeights[0];
    EXPECT_EQ(thigh->BoneFrame, FindFrame(rm, "thigh")->Index);
    ASSERT_EQ(thigh->WeightCount, 2);
    EXPECT_EQ(thigh->Weights[0].Index, 0u);
    EXPECT_EQ(thigh->Weights[0].Weight, 1.0f);
    EXPECT_EQ(thigh->Weights[1].Weight, 40.0f / 100.0f);
    EXPECT_EQ(thigh->OffsetMatrix.m[3][1], -10.0f);
    EXPECT_EQ(mesh->SkinWeights[1]->Weights[0].Weight, 60.0f / 100.0f);
    EXPECT_EQ(mesh->SkinWeights[1]->BoneFrame, knee->Index);
    EXPECT_EQ(mesh->SkinWeights[2]->Weights[0].Weight, 1.0f);
    EXPECT_EQ(rm.SkinWeightCount, 3u);
    EXPECT_EQ(rm.AnimSetCount, 0);
  });
  EXPECT_EQ(l.observed, 1) << l.log;
}

// Skin weights of seeded random vertices against the rule: per bone in file order, one block
// for the vertices naming it as bone 0 or bone 1, in vertex order, weighted 1.0 when both bones
// are it (whatever the percentage), percentage / 100 as bone 0, (100 - percentage) / 100 as
// bone 1; bone numbers past the bone table name nothing.
TEST_F(PmdReader, SkinWeightsFollowTheBonePairRule) {
  int equalPairs = 0, partial = 0;
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    PmdTestModel m;
    const int bones = 1 + int(rng() % 6);
    for (int b = 0; b < bones; ++b) {
      PmdTestBone bone;
      bone.name = "b" + std::to_string(b);
      bone.parent = b == 0 || rng() % 3 == 0 ? 0xFFFF : uint16_t(rng() % b);
      bone.head = VECTOR{float(rng() % 9), float(rng() % 9) - 4, float(rng() % 5)};
      m.bones.push_back(bone);
    }
    auto boneNumber = [&]() -> uint16_t {
      const uint32_t r = rng() % 10;
      return r == 0 ? 0xFFFF : r == 1 ? uint16_t(bones + rng() % 3) : uint16_t(rng() % bones);
    };
    const int vertices = 3 * (1 + int(rng() % 8));
    for (int i = 0; i < vertices; ++i) {
      PmdTestVertex v;
      v.position = VECTOR{float(i), float(i % 3), 0};
      v.bone0 = boneNumber();
      v.bone1 = rng() % 3 == 0 ? v.bone0 : boneNumber();
      v.weight = uint8_t(rng() % 121);
      equalPairs += v.bone0 == v.bone1 && v.bone0 < bones && v.weight != 100;
      partial += v.bone0 != v.bone1 && v.bone0 < bones && v.bone1 < bones;
      m.vertices.push_back(v);
      m.indices.push_back(uint16_t(i));
    }
    PmdTestMaterial mat;
    mat.faceIndexCount = uint32_t(vertices);
    m.materials = {mat};
    Loaded l = Load(WritePmd(m), [&](const ReadModel& rm) {
      ASSERT_EQ(rm.MeshCount, 1);
      const ReadModelMesh* mesh = rm.FirstMesh;
      int block = 0;
      for (int b = 0; b < bones; ++b) {
        std::vector<ReadModelSkinWeightOne> want;
        for (int i = 0; i < vertices; ++i) {
          const PmdTestVertex& v = m.vertices[size_t(i)];
          if (v.bone0 == b && v.bone1 == b) want.push_back({uint32_t(i), 1.0f});
          else if (v.bone0 == b) want.push_back({uint32_t(i), float(v.weight) / 100.0f});
          else if (v.bone1 == b) want.push_back({uint32_t(i), float(100 - int(v.weight)) / 100.0f});
        }
        if (want.empty()) continue;
        SCOPED_TRACE("bone " + std::to_string(b));
        ASSERT_LT(block, mesh->SkinWeightCount);
        const ReadModelSkinWeight* w = mesh->SkinWeights[block++];
        EXPECT_EQ(w->BoneFrame, FindFrame(rm, m.bones[size_t(b)].name.c_str())->Index);
        EXPECT_EQ(w->OffsetMatrix.m[3][0], -m.bones[size_t(b)].head.x);
        EXPECT_EQ(w->OffsetMatrix.m[3][1], -m.bones[size_t(b)].head.y);
        EXPECT_EQ(w->OffsetMatrix.m[3][2], -m.bones[size_t(b)].head.z);
        ASSERT_EQ(w->WeightCount, int(want.size()));
        for (size_t k = 0; k < want.size(); ++k) {
          EXPECT_EQ(w->Weights[k].Index, want[k].Index) << k;
          EXPECT_EQ(w->Weights[k].Weight, want[k].Weight) << "vertex " << want[k].Index;
        }
      }
      EXPECT_EQ(block, mesh->SkinWeightCount);
    });
    EXPECT_EQ(l.observed, 1) << l.log;
  }
  EXPECT_GT(equalPairs, 20);
  EXPECT_GT(partial, 20);
}

TEST_F(PmdReader, MaterialsTexturesAndDefaultMaterial) {
  PmdTestModel m = MakeIkLegModel();
  m.vertices.resize(3);
  m.indices = {0, 1, 2, 0, 2, 1, 1, 2, 0};
  PmdTestMaterial a, b, c;
  a.diffuse = {0.5f, 0.25f, 1, 0.75f};
  a.specularity = 4;
  a.specular[0] = 0.5f;
  a.specular[2] = 0.25f;
  a.ambient[1] = 0.125f;
  a.faceIndexCount = 4;  // rounded up: two faces
  a.texture = "skin.png*shine.sph";
  b.faceIndexCount = 0;  // in the read model, not in the mesh
  b.texture = "skin.png";
  c.faceIndexCount = 3;
  c.texture = "*only.sph";  // nothing before the "*": no texture
  m.materials = {a, b, c};
  Load(WritePmd(m), [](const ReadModel& rm) {
    ASSERT_EQ(rm.MaterialCount, 3);
    const ReadModelMaterial* ma = rm.FirstMaterial;
    EXPECT_STREQ(ma->Name, "Mat_0");
    EXPECT_EQ(ma->Diffuse.a, 0.75f);
    EXPECT_EQ(ma->Specular.r, 4 * 0.5f);
    EXPECT_EQ(ma->Specular.b, 4 * 0.25f);
    EXPECT_EQ(ma->Specular.a, 0.0f);
    EXPECT_EQ(ma->Ambient.g, 0.125f);
    EXPECT_EQ(ma->Ambient.a, 0.0f);
    EXPECT_EQ(ma->Power, 16.0f);
    EXPECT_EQ(ma->Emissive.r, 0.0f);
    ASSERT_EQ(rm.TextureCount, 1);  // reused by the second material
    EXPECT_STREQ(rm.FirstTexture->Name, "skin.png");
    EXPECT_EQ(rm.FirstTexture->BumpMapScale, 0.1f);
    EXPECT_EQ(ma->DiffuseTextures.Count, 1);
    EXPECT_EQ(ma->Next->DiffuseTextures.Items[0], rm.FirstTexture);
    EXPECT_EQ(ma->Next->Next->DiffuseTextures.Count, 0);
    const ReadModelMesh* mesh = rm.FirstMesh;
    ASSERT_EQ(mesh->MaterialCount, 2);
    EXPECT_EQ(mesh->Materials[1], ma->Next->Next);
    EXPECT_EQ(mesh->Faces[0].MaterialIndex, 0);
    EXPECT_EQ(mesh->Faces[1].MaterialIndex, 0);
    EXPECT_EQ(mesh->Faces[2].MaterialIndex, 1);
  });
  // no material with faces: one with the read model's defaults
  m.materials = {b};
  Load(WritePmd(m), [](const ReadModel& rm) {
    ASSERT_EQ(rm.MaterialCount, 2);
    ASSERT_EQ(rm.FirstMesh->MaterialCount, 1);
    const ReadModelMaterial* d = rm.FirstMesh->Materials[0];
    EXPECT_STREQ(d->Name, "Mat_1");
    EXPECT_EQ(d->Diffuse.r, 1.0f);
    EXPECT_EQ(d->Power, 0.0f);
    EXPECT_EQ(d->DiffuseTextures.Count, 0);
  });
}

// Four vertices, two faces: the base morph names vertex 3, so the second face moves.
PmdTestModel MorphSplitModel() {
  PmdTestModel m = MakeIkLegModel();
  m.iks.clear();
  PmdTestVertex v;
  v.position = {7, 8, 9};
  v.bone0 = 3;
  v.bone1 = 2;
  v.weight = 30;
  m.vertices.push_back(v);
  m.indices = {0, 1, 2, 2, 1, 3};
  m.materials[0].faceIndexCount = 3;
  PmdTestMaterial second;
  second.faceIndexCount = 3;
  m.materials.push_back(second);
  m.morphs = {{"base", {{3, {7, 8, 9}}}}, {"smile", {{0, {1, 2, 3}}}}, {"frown", {}}};
  return m;
}

TEST_F(PmdReader, MorphSplitMovesFacesRemapsVerticesAndMakesShapes) {
  Loaded l = Load(WritePmd(MorphSplitModel()), [](const ReadModel& rm) {
    ASSERT_EQ(rm.MeshCount, 2);
    const ReadModelMesh* mainMesh = rm.FirstMesh;
    const ReadModelMesh* morph = mainMesh->Next;
    EXPECT_EQ(mainMesh->FaceCount, 1);
    EXPECT_EQ(morph->FaceCount, 1);
    // morph vertices: the base entry first, then the moved face's others in index order
    ASSERT_EQ(morph->PositionCount, 3);
    EXPECT_EQ(morph->Positions[0].x, 7.0f);
    EXPECT_EQ(morph->Positions[1].y, 0.0f);   // vertex 2
    EXPECT_EQ(morph->Positions[2].y, 5.0f);   // vertex 1
    const int* idx = ReadModelFaceIndices(&morph->Faces[0], READMODEL_SET_POSITION);
    EXPECT_EQ(idx[0], 1);
    EXPECT_EQ(idx[1], 2);
    EXPECT_EQ(idx[2], 0);
    EXPECT_EQ(ReadModelFaceIndices(&morph->Faces[0], READMODEL_SET_UV0)[2], 0);
    ASSERT_EQ(morph->MaterialCount, 1);
    EXPECT_EQ(morph->Materials[0], mainMesh->Materials[1]);
    EXPECT_EQ(morph->Faces[0].MaterialIndex, 0);
    // shapes: offset = base position - morph vertex position + entry offset
    ASSERT_EQ(rm.ShapeCount, 2);
    const ReadModelShape* smile = rm.FirstShape;
    EXPECT_STREQ(smile->Name, "smile");
    EXPECT_EQ(smile->Mesh, morph);
    EXPECT_EQ(smile->Frame, rm.FirstFrame);
    ASSERT_EQ(smile->VertexCount, 1);
    EXPECT_EQ(smile->Vertices[0].Position, 0u);
    EXPECT_EQ(smile->Vertices[0].Offset.x, 1.0f);
    EXPECT_EQ(smile->Vertices[0].Offset.z, 3.0f);
    EXPECT_EQ(smile->HasNormals, 0);
    EXPECT_EQ(smile->Next->VertexCount, 0);
    // skin weights: morph blocks for the bones of vertices 3, 2, 1; main blocks lose vertex 3
    // (ankle keeps its last entry rather than none)
    int morphEntries = 0;
    for (int b = 0; b < morph->SkinWeightCount; ++b) {
      morphEntries += morph->SkinWeights[b]->WeightCount;
      for (int e = 0; e < morph->SkinWeights[b]->WeightCount; ++e)
        EXPECT_LT(morph->SkinWeights[b]->Weights[e].Index, 3u);
    }
    EXPECT_EQ(morph->SkinWeightCount, 3);  // thigh (vertex 1), knee (1, 3), ankle (2, 3)
    EXPECT_EQ(morphEntries, 5);
    for (int b = 0; b < mainMesh->SkinWeightCount; ++b) {
      const ReadModelSkinWeight* w = mainMesh->SkinWeights[b];
      for (int e = 0; e < w->WeightCount; ++e) EXPECT_NE(w->Weights[e].Index, 3u);
    }
  });
  EXPECT_EQ(l.observed, 1) << l.log;
  EXPECT_NE(l.dump.find("shape 0 \"smile\" frame=0 mesh=1 normals=0 vertices=1\n  sv 0 pos=0 (1 2 3) (0 0 0)"),
            std::string::npos);
  // only the base morph: no morph mesh and no shapes
  PmdTestModel one = MorphSplitModel();
  one.morphs.resize(1);
  Load(WritePmd(one), [](const ReadModel& rm) {
    EXPECT_EQ(rm.MeshCount, 1);
    EXPECT_EQ(rm.ShapeCount, 0);
  });
}

TEST_F(PmdReader, RefusalsLogOneLineAndLeaveNothing) {
  PmdTestModel m = MakeIkLegModel();
  m.version = 2.0f;
  Loaded l = Load(WritePmd(m));
  EXPECT_EQ(l.result, -1);
  EXPECT_EQ(l.observed, 0);
  EXPECT_EQ(l.log, TEXT_PMD_VERSION "\r\n");
  std::vector<uint8_t> notPmd = {'X', 'm', 'd', 0, 0, 0};
  l = Load(notPmd);
  EXPECT_EQ(l.result, -1);
  EXPECT_EQ(l.log, "");
}

// ---- motions ----

VmdTestBoneKey BoneKey(const std::string& name, uint32_t frame, VECTOR pos = {0, 0, 0}) {
  VmdTestBoneKey k;
  k.name = name;
  k.frame = frame;
  k.position = pos;
  return k;
}

TEST_F(PmdReader, MotionSearchStopsAtTheFirstMissingNumber) {
  std::vector<uint8_t> model = WritePmd(MakeIkLegModel());
  std::vector<uint8_t> motion = WriteVmd({BoneKey("center", 0)}, {});
  {
    MemoryFiles files;
    Load(model, [](const ReadModel& rm) { EXPECT_EQ(rm.AnimSetCount, 0); });
    EXPECT_EQ(files.requested, (std::vector<std::string>{"models\\m000.vmd"}));
  }
  {
    MemoryFiles files;
    files.Add("models\\m000.vmd", motion);
    files.Add("models\\m002.vmd", motion);
    Load(model, [](const ReadModel& rm) {
      ASSERT_EQ(rm.AnimSetCount, 1);
      EXPECT_STREQ(rm.FirstAnimSet->Name, "Anim000");
    });
  }
  {
    // a refused motion stops the search as a failed one does
    MemoryFiles files;
    files.Add("models\\m000.vmd", motion);
    files.Add("models\\m001.vmd", WriteVmd({BoneKey("center", 2000000)}, {}));
    files.Add("models\\m002.vmd", motion);
    Loaded l = Load(model, [](const ReadModel& rm) { EXPECT_EQ(rm.AnimSetCount, 1); });
    EXPECT_NE(l.log.find("VMD Load Error : "), std::string::npos);
    EXPECT_EQ(files.requested.size(), 2u);
  }
}

TEST_F(PmdReader, SampledKeysHeldEndsAndIkBonesBakedOverTheWholeMotion) {
  MemoryFiles files;
  // center keyed at 10 and 20 (11 keys); the goal keyed at 0 and 30; the knee, thigh and ankle
  // have no keys: they get L + 1 baked keys
  files.Add("models\\m000.vmd", WriteVmd({BoneKey("center", 20, {0, 1, 0}), BoneKey("center", 10),
                                          BoneKey("legIK", 0, {0, 3, -2}), BoneKey("legIK", 30, {0, 3, -2})},
                                         {}));
  Loaded l = Load(WritePmd(MakeIkLegModel()), [](const ReadModel& rm) {
    ASSERT_EQ(rm.AnimSetCount, 1);
    const ReadModelAnimSet* set = rm.FirstAnimSet;
    EXPECT_EQ(set->TotalTime, 30.0f);
    EXPECT_EQ(set->AnimCount, 5);
    const ReadModelAnim* center = FindAnim(set, "center");
    ASSERT_NE(center, nullptr);
    EXPECT_EQ(center->TotalTime, 20.0f);
    const ReadModelAnimKeySet* pos = center->FirstKeySet;
    EXPECT_EQ(pos->DataType, READMODEL_KEY_VECTOR);
    EXPECT_EQ(pos->Kind, READMODEL_KIND_TRANSLATE);
    ASSERT_EQ(pos->KeyCount, 11);
    EXPECT_EQ(pos->KeyTimes[0], 10.0f);
    EXPECT_EQ(pos->KeyTimes[10], 20.0f);
    EXPECT_EQ(static_cast<VECTOR*>(pos->KeyData)[10].y, 11.0f);  // key + rest translation
    EXPECT_EQ(pos->NextInAnim->DataType, READMODEL_KEY_QUATERNION7);
    for (const char* name : {"thigh", "ankle"}) {
      const ReadModelAnim* a = FindAnim(set, name);
      ASSERT_NE(a, nullptr) << name;
      EXPECT_EQ(a->TotalTime, 30.0f);
      EXPECT_EQ(a->FirstKeySet->KeyCount, 31);
      EXPECT_EQ(a->FirstKeySet->NextInAnim->KeyCount, 31);
    }
    // the baked ankle ends at the goal: world position from the baked chain
    const ReadModelAnim* knee = FindAnim(set, (std::string(TEXT_PMD_KNEE) + "L").c_str());
    ASSERT_NE(knee, nullptr);
    const float* q = static_cast<const float*>(knee->FirstKeySet->NextInAnim->KeyData) + 4 * 15;
    float x = 2.0f * std::atan2(q[0], q[3]);
    EXPECT_LT(x, -0.5f);  // bent to reach (0, 3, -2) from a 10-unit leg
    EXPECT_EQ(rm.AnimKeyDataSize, 36u * (11 + 31 * 4));
  });
  EXPECT_EQ(l.observed, 1) << l.log;
}

TEST_F(PmdReader, NamesMatchBy15BytesAndUnmatchedKeysAreIgnored) {
  PmdTestModel m = MakeIkLegModel();
  m.iks.clear();
  // two bones sharing their first 15 bytes: the node drives the first in frame order only
  m.bones.push_back({"abcdefghijklmnoXY", 0xFFFF, {0, 0, 0}});
  m.bones.push_back({"abcdefghijklmnoZ", 0xFFFF, {0, 0, 0}});
  m.morphs = {{"base", {{0, {0, 10, 0}}}}, {"eye_downcast_geo_L", {{0, {1, 0, 0}}}}, {"eye_downcast_geo_R", {}}};
  MemoryFiles files;
  files.Add("models\\m000.vmd",
            WriteVmd({BoneKey("abcdefghijklmno", 0), BoneKey("absent", 4), BoneKey("Mesh", 1)},
                     {{"eye_downcast_ge", 2, 0.5f}, {"nothing", 8, 1}}));
  Loaded l = Load(WritePmd(m), [](const ReadModel& rm) {
    const ReadModelAnimSet* set = rm.FirstAnimSet;
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->TotalTime, 8.0f);
    ASSERT_EQ(set->AnimCount, 2);  // the long-named bone and the morph animation
    EXPECT_STREQ(set->FirstAnim->TargetFrameName, "abcdefghijklmnoXY");
    const ReadModelAnim* mesh = set->LastAnim;
    EXPECT_STREQ(mesh->TargetFrameName, "Mesh");
    EXPECT_EQ(mesh->TargetFrameIndex, 0);
    EXPECT_EQ(mesh->TotalTime, 2.0f);
    ASSERT_EQ(mesh->KeySetCount, 1);
    const ReadModelAnimKeySet* k = mesh->FirstKeySet;
    EXPECT_EQ(k->Kind, READMODEL_KIND_SHAPE_WEIGHT);
    EXPECT_EQ(k->DataType, READMODEL_KEY_FLOAT5);
    EXPECT_EQ(k->ShapeIndex, 0);
    EXPECT_EQ(k->KeyTimes[0], 2.0f);
    EXPECT_EQ(static_cast<const float*>(k->KeyData)[0], 0.5f);
  });
  EXPECT_EQ(l.observed, 1) << l.log;
  // without IK and without a matching name: a set with no animations but the morph one
  MemoryFiles none;
  none.Add("models\\m000.vmd", WriteVmd({BoneKey("absent", 4)}, {{"nothing", 8, 1}}));
  Load(WritePmd(m), [](const ReadModel& rm) {
    ASSERT_EQ(rm.AnimSetCount, 1);
    ASSERT_EQ(rm.FirstAnimSet->AnimCount, 1);
    EXPECT_EQ(rm.FirstAnimSet->FirstAnim->KeySetCount, 0);
  });
  none.Add("models\\m000.vmd", WriteVmd({BoneKey("absent", 4)}, {}));
  Load(WritePmd(m), [](const ReadModel& rm) { EXPECT_EQ(rm.FirstAnimSet->AnimCount, 0); });
}

// Every name a motion holds costs one look-up (two for a 15-byte name that needs its prefix
// tried), however many bones and shapes the model has; the model's names are indexed once per
// load, by its first motion. Unmatched names once walked every bone and every shape.
TEST_F(PmdReader, MotionNamesCostALookUpEachAndTheModelIsIndexedOnce) {
  PmdTestModel m = MakeIkLegModel();
  m.iks.clear();
  const int bones = 300, shapes = 1500;
  for (int i = 0; i < bones; ++i) m.bones.push_back({"bone" + std::to_string(i), 0xFFFF, {0, 0, 0}});
  m.bones.push_back({"abcdefghijklmnoXY", 0xFFFF, {0, 0, 0}});  // names with a prefix to index
  m.morphs = {{"base", {{0, {0, 10, 0}}}}, {"eye_downcast_geo_L", {}}};
  for (int i = 2; i < shapes; ++i) m.morphs.push_back({"morph" + std::to_string(i), {}});
  // 2,048 unmatched 15-byte names of each kind, and one matched name of each
  std::vector<VmdTestBoneKey> boneKeys = {BoneKey("bone123", 3)};
  std::vector<VmdTestMorphKey> morphKeys = {{"morph777", 2, 0.5f}};
  for (int i = 0; i < 2047; ++i) {
    char name[32];  // 15 bytes used
    std::snprintf(name, sizeof(name), "unmatched%06d", i);
    boneKeys.push_back(BoneKey(name, 1));
    morphKeys.push_back({name, 1, 1.0f});
  }
  const std::vector<uint8_t> motion = WriteVmd(boneKeys, morphKeys);
  const std::vector<uint8_t> model = WritePmd(m);
  // bone names are looked up twice each (the key count, then the keys), morph names once
  const uint64_t perMotion = 2 * (1 + 2 * 2047) + (1 + 2 * 2047);
  uint64_t lookups[2], probes[2];
  for (int motions : {1, 5}) {
    MemoryFiles files;
    for (int i = 0; i < motions; ++i) {
      char path[32];
      std::snprintf(path, sizeof(path), "models\\m%03d.vmd", i);
      files.Add(path, motion);
    }
    const ReadModelWork before = ReadModelWorkCount();
    Loaded l = Load(model, [&](const ReadModel& rm) {
      ASSERT_EQ(rm.AnimSetCount, motions);
      const ReadModelAnimSet* set = rm.LastAnimSet;
      ASSERT_EQ(set->AnimCount, 2);
      EXPECT_STREQ(set->FirstAnim->TargetFrameName, "bone123");
      ASSERT_EQ(set->LastAnim->KeySetCount, 1);
      EXPECT_EQ(set->LastAnim->FirstKeySet->ShapeIndex, 776);  // the base morph is no shape
    });
    EXPECT_EQ(l.observed, 1) << l.log;
    lookups[motions > 1] = ReadModelWorkCount().HashLookups - before.HashLookups;
    probes[motions > 1] = ReadModelWorkCount().HashProbes - before.HashProbes;
  }
  EXPECT_EQ(lookups[1] - lookups[0], 4 * perMotion);
  // the index: each bone and shape name entered, with its prefix when it has 15 bytes
  EXPECT_LE(lookups[0] - perMotion, 2ull * (bones + 6 + shapes));
  EXPECT_LE(probes[1], 3 * lookups[1]);
}

// ---- the real files ----

struct ModelManifest {
  const char* name;
  int frames, meshes, materials, textures, shapes, skinWeights, sets, anims, keySets, triangles;
};

// Derived from the files' bytes by a separate reading of the formats (not by this reader).
const ModelManifest kModels[] = {
    {"Gene", 225, 2, 13, 10, 177, 148, 2, 238, 720, 47106},
    {"menu", 19, 2, 7, 7, 1, 16, 1, 17, 33, 14},
    {"bootscreen", 5, 1, 1, 1, 0, 2, 0, 0, 0, 2},
};

TEST_F(PmdReader, RealModelsAsRecordedInTheManifest) {
  MemoryFiles files(true);
  for (const ModelManifest& mf : kModels) {
    std::vector<uint8_t> bytes = ReadTestDataBytes(std::string("models/pmd/") + mf.name + ".pmd");
    Loaded l = Load(bytes, [&](const ReadModel& rm) {
      EXPECT_EQ(rm.FrameCount, mf.frames) << mf.name;
      EXPECT_EQ(rm.MeshCount, mf.meshes) << mf.name;
      EXPECT_EQ(rm.MaterialCount, mf.materials) << mf.name;
      EXPECT_EQ(rm.TextureCount, mf.textures) << mf.name;
      EXPECT_EQ(rm.ShapeCount, mf.shapes) << mf.name;
      EXPECT_EQ(rm.SkinWeightCount, static_cast<uint32_t>(mf.skinWeights)) << mf.name;
      EXPECT_EQ(rm.AnimSetCount, mf.sets) << mf.name;
      EXPECT_EQ(rm.AnimCount, mf.anims) << mf.name;
      EXPECT_EQ(rm.KeySetCount, mf.keySets) << mf.name;
      int triangles = 0;
      for (const ReadModelMesh* m = rm.FirstMesh; m; m = m->Next) triangles += m->FaceCount;
      EXPECT_EQ(triangles, mf.triangles) << mf.name;
      // every skin weight names a frame of the model, and a bone frame is never "Mesh"
      for (const ReadModelMesh* m = rm.FirstMesh; m; m = m->Next)
        for (int b = 0; b < m->SkinWeightCount; ++b) {
          EXPECT_GT(m->SkinWeights[b]->BoneFrame, 0);
          EXPECT_LT(m->SkinWeights[b]->BoneFrame, rm.FrameCount);
        }
    }, mf.name, TestDataPath("models/pmd").c_str());
    EXPECT_EQ(l.observed, 1) << mf.name << l.log;
  }
}

TEST_F(PmdReader, GeneBoneFramesAreTheFramesOwnIndices) {
  MemoryFiles files(true);
  std::vector<uint8_t> bytes = ReadTestDataBytes("models/pmd/Gene.pmd");
  Load(bytes, [&](const ReadModel& rm) {
    // bone 178 (counted from 0) is frame 166 with "Mesh" at frame 0: the bones are not in
    // pre-order, so frame indices are not bone indices + 1, and the skin weights name the frames
    PmdFile file;
    ASSERT_EQ(ParsePmdFile(bytes.data(), bytes.size(), &file), 0);
    PmdBone bone;
    PmdReadBone(file, 178, &bone);
    const ReadModelFrame* f = FindFrame(rm, bone.name);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Index, 166);
    for (const ReadModelMesh* m = rm.FirstMesh; m; m = m->Next)
      for (int b = 0; b < m->SkinWeightCount; ++b)
        if (m->SkinWeights[b]->BoneFrame == 166) {
          EXPECT_EQ(m->SkinWeights[b]->OffsetMatrix.m[3][1], -bone.head.y);
        }
    // the three bones named by one 15-byte key name (three keys at frame 0): the first in frame
    // order, ...xcIK, gets the keys, the later key winning; the other two are IK-involved and
    // baked from the rest pose over the whole motion
    const char prefix[] = "\x91\x4F\x83\x4E\x83\x8D\x81\x5B\x83\x4E\x32\x5F\x31\x78\x63";
    int animated = 0;
    for (const ReadModelAnim* a = rm.FirstAnimSet->FirstAnim; a; a = a->NextInSet) {
      if (std::strncmp(a->TargetFrameName, prefix, 15) != 0) continue;
      ++animated;
      bool ik = std::strcmp(a->TargetFrameName + 15, "IK") == 0;
      EXPECT_EQ(a->FirstKeySet->KeyCount, ik ? 1 : 301) << a->TargetFrameName;
    }
    EXPECT_EQ(animated, 3);
  }, "Gene", TestDataPath("models/pmd").c_str());
}

struct MotionManifest {
  const char* file;
  int anims, keySets, keys;
};

// Against Gene.pmd, served as its first motion.
const MotionManifest kMotions[] = {
    {"gene_00_normal.vmd", 13, 168, 561},     {"gene_01_happy.vmd", 225, 552, 7974},
    {"gene_26_mortifying.vmd", 225, 619, 47145}, {"mei_breath.vmd", 83, 175, 12486},
    {"mei_greeting.vmd", 76, 150, 9150},      {"menu_rotation.vmd", 14, 26, 9386},
    {"sd_mei_confusion.vmd", 83, 174, 20854},
};

TEST_F(PmdReader, EveryMotionLoadsAgainstGene) {
  std::vector<uint8_t> gene = ReadTestDataBytes("models/pmd/Gene.pmd");
  for (const MotionManifest& mm : kMotions) {
    std::vector<uint8_t> motion = ReadTestDataBytes(std::string("models/vmd/") + mm.file);
    MemoryFiles files;
    files.Add("models\\Gene000.vmd", motion);
    Loaded l = Load(gene, [&](const ReadModel& rm) {
      ASSERT_EQ(rm.AnimSetCount, 1) << mm.file;
      EXPECT_EQ(rm.AnimCount, mm.anims) << mm.file;
      EXPECT_EQ(rm.KeySetCount, mm.keySets) << mm.file;
      int keys = 0;
      for (const ReadModelAnimKeySet* k = rm.FirstKeySet; k; k = k->Next) {
        keys += k->KeyCount;
        if (k->DataType == READMODEL_KEY_QUATERNION7)
          for (int i = 0; i < k->KeyCount; ++i) {
            const float* q = static_cast<const float*>(k->KeyData) + 4 * i;
            float n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
            ASSERT_NEAR(n, 1.0f, 1e-5) << mm.file;
          }
      }
      EXPECT_EQ(keys, mm.keys) << mm.file;
    }, "Gene");
    EXPECT_EQ(l.observed, 1) << mm.file << l.log;
  }
}

}  // namespace

namespace {

// Fails each allocation of a load in turn: every failure either refuses the model with one
// "PMD Load Error : " line or loads it without the motion it hit (with that motion's line, or
// none when the motion file's own memory was the one), and tracked memory is back where it was.
void AllocationFailuresOf(const std::vector<uint8_t>& model, const char* name, const char* folder,
                          int fullSets) {
  int refused = 0, lostMotion = 0;
  for (long n = 1;; ++n) {
    size_t before = MemLiveBlockCount();
    uint64_t attempts = MemAllocAttempts();
    MemSetFailAt(n);
    int sets = -1;
    Loaded l = Load(model, [&](const ReadModel& rm) { sets = rm.AnimSetCount; }, name, folder);
    bool fired = MemAllocAttempts() - attempts >= static_cast<uint64_t>(n);
    MemSetFailAt(0);
    EXPECT_EQ(MemLiveBlockCount(), before) << "leak after failing allocation " << n;
    if (!fired) {
      EXPECT_EQ(sets, fullSets);
      break;
    }
    // the reader's own lines (the pool may add its own before them)
    std::vector<std::string> lines;
    for (size_t p = 0, e; (e = l.log.find("\r\n", p)) != std::string::npos; p = e + 2)
      if (l.log.compare(p, 17, "PMD Load Error : ") == 0 || l.log.compare(p, 17, "VMD Load Error : ") == 0)
        lines.push_back(l.log.substr(p, e - p));
    if (l.observed == 0) {
      ++refused;
      ASSERT_EQ(lines.size(), 1u) << n << ": [" << l.log << "]";
      EXPECT_EQ(lines[0].rfind("PMD Load Error : ", 0), 0u) << n;
    } else {
      // the motion stopped at the failure: the allocation line (when the pool's), then its own
      ++lostMotion;
      EXPECT_LT(sets, fullSets) << n << l.log;
      EXPECT_LE(lines.size(), 1u) << n;
      const std::string chunkLine = TEXT_MV1_CHUNK_ALLOC_FAILED "\r\n";
      std::string expected = lines.empty() ? "" : lines[0] + "\r\n";
      if (l.log.rfind(chunkLine, 0) == 0) expected = chunkLine + expected;
      EXPECT_EQ(l.log, expected) << n;
    }
    ASSERT_LT(n, 200000);
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(lostMotion, 0);
}

TEST_F(PmdReader, AllocationFailuresOverMenuWithItsMotion) {
  std::vector<uint8_t> model = ReadTestDataBytes("models/pmd/menu.pmd");
  std::vector<uint8_t> motion = ReadTestDataBytes("models/pmd/menu000.vmd");
  MemoryFiles files;
  files.Add("models\\menu000.vmd", motion);
  AllocationFailuresOf(model, "menu", kFolder, 1);
}

// The second of two motions failing at any allocation is refused with at most the allocation
// line and its own; the first stays.
TEST_F(PmdReader, AMotionStopsAtItsFirstFailedAllocation) {
  PmdTestModel m = MorphSplitModel();
  m.iks = MakeIkLegModel().iks;
  MemoryFiles files;
  const std::vector<uint8_t> motion = WriteVmd(
      {BoneKey("legIK", 0, {0, 3, -2}), BoneKey("legIK", 6, {0, 4, -1}), BoneKey("center", 3), BoneKey("thigh", 2)},
      {{"smile", 2, 1.0f}, {"smile", 4, 0.5f}});
  files.Add("models\\m000.vmd", motion);
  files.Add("models\\m001.vmd", motion);
  AllocationFailuresOf(WritePmd(m), "m", kFolder, 2);
}

TEST_F(PmdReader, AllocationFailuresOverAnIkModelWithOneMotion) {
  PmdTestModel m = MorphSplitModel();
  m.iks = MakeIkLegModel().iks;
  MemoryFiles files;
  files.Add("models\\m000.vmd", WriteVmd({BoneKey("legIK", 0, {0, 3, -2}), BoneKey("legIK", 6, {0, 4, -1}),
                                          BoneKey("center", 3)},
                                         {{"smile", 2, 1.0f}}));
  AllocationFailuresOf(WritePmd(m), "m", kFolder, 1);
}

}  // namespace

namespace {

TEST_F(PmdReader, BakeWorkAndSampledKeysAreCapped) {
  // the leg: 40 iterations x 2 chain bones + 5 posed bones a frame
  PmdTestModel m = MakeIkLegModel();
  uint32_t lastAdmitted = static_cast<uint32_t>(kVmdMaxBakeWork / 85 - 1);
  MemoryFiles files;
  files.Add("models\\m000.vmd", WriteVmd({BoneKey("legIK", lastAdmitted + 1)}, {}));
  Loaded l = Load(WritePmd(m), [](const ReadModel& rm) { EXPECT_EQ(rm.AnimSetCount, 0); });
  char expected[256];
  snprintf(expected, sizeof(expected), TEXT_VMD_BAKE_LIMIT "\r\n", (lastAdmitted + 2ull) * 85,
           static_cast<unsigned long long>(kVmdMaxBakeWork));
  EXPECT_EQ(l.log, expected);
  // without IK nothing is baked; nine bones sampled over a million frames are too many keys
  m.iks.clear();
  for (int i = 0; i < 5; ++i) m.bones.push_back({"extra" + std::to_string(i), 0xFFFF, {0, 0, 0}});
  std::vector<VmdTestBoneKey> keys;
  for (const PmdTestBone& b : m.bones)
    if (b.name.find("extra") == 0 || b.name == "center" || b.name == "thigh" || b.name == "ankle" || b.name == "legIK") {
      keys.push_back(BoneKey(b.name, 0));
      keys.push_back(BoneKey(b.name, 1000000));
    }
  files.Add("models\\m000.vmd", WriteVmd(keys, {}));
  l = Load(WritePmd(m), [](const ReadModel& rm) { EXPECT_EQ(rm.AnimSetCount, 0); });
  snprintf(expected, sizeof(expected), TEXT_VMD_KEY_LIMIT "\r\n", 9000009ull,
           static_cast<unsigned long long>(kVmdMaxSampledKeys));
  EXPECT_EQ(l.log, expected);
}

}  // namespace

namespace {

// The sampled-key budget holds for the whole load: a motion admitted alone is refused once the
// motions before it took their share, with the key-limit line, and the search stops there.
TEST_F(PmdReader, SampledKeyBudgetHoldsForTheWholeLoad) {
  PmdTestModel m = MakeIkLegModel();
  m.iks.clear();
  for (int i = 0; i < 3; ++i) m.bones.push_back({"extra" + std::to_string(i), 0xFFFF, {0, 0, 0}});
  MemoryFiles files;
  // 1,000,000 keys, then seven bones over 1,000,001 frames: admitted alone, not after the first
  files.Add("models\\m000.vmd", WriteVmd({BoneKey("center", 0), BoneKey("center", 999999)}, {}));
  std::vector<VmdTestBoneKey> seven;
  for (const PmdTestBone& b : m.bones)
    if (b.name != "center") {
      seven.push_back(BoneKey(b.name, 0));
      seven.push_back(BoneKey(b.name, 1000000));
    }
  ASSERT_EQ(seven.size(), 14u);
  files.Add("models\\m001.vmd", WriteVmd(seven, {}));
  files.Add("models\\m002.vmd", WriteVmd({BoneKey("center", 0)}, {}));
  Loaded l = Load(WritePmd(m), [](const ReadModel& rm) {
    ASSERT_EQ(rm.AnimSetCount, 1);
    EXPECT_STREQ(rm.FirstAnimSet->Name, "Anim000");
  });
  char expected[256];
  snprintf(expected, sizeof(expected), TEXT_VMD_KEY_LIMIT "\r\n", 8000007ull,
           static_cast<unsigned long long>(kVmdMaxSampledKeysPerLoad));
  EXPECT_EQ(l.log, expected);
  EXPECT_EQ(l.observed, 1);
}

// The budget counted motion by motion, against an independent tally: a motion is admitted while
// the keys taken so far plus its own stay within the limit; a refused motion takes nothing.
TEST_F(PmdReader, MotionsShareOneKeyBudget) {
  PmdTestModel model = MakeIkLegModel();
  model.iks.clear();
  const std::vector<uint8_t> image = WritePmd(model);
  PmdFile file;
  ASSERT_EQ(ParsePmdFile(image.data(), image.size(), &file), 0);
  ReadModel rm;
  InitReadModel(&rm);
  PmdBoneInfo bones[5];
  ASSERT_NE(ReadModelAddFrame(&rm, "Mesh", nullptr), nullptr);
  PmdSetupBones(file, bones);
  ASSERT_EQ(PmdAddBoneFrames(&rm, bones, 5), 0);
  std::mt19937 rng(29);
  const uint64_t limit = 300;
  VmdKeyBudget budget{limit, 0};
  uint64_t tally = 0;
  int admitted = 0;
  for (int i = 0; i < 40; ++i) {
    // one or two bones over a random span: (span + 1) keys each
    const uint32_t span = rng() % 60, first = rng() % 5;
    const bool two = rng() % 2;
    std::vector<VmdTestBoneKey> keys = {BoneKey("thigh", first), BoneKey("thigh", first + span)};
    if (two) keys.insert(keys.end(), {BoneKey("ankle", 0), BoneKey("ankle", span)});
    const uint64_t sampled = (span + 1ull) * (two ? 2 : 1);
    const std::vector<uint8_t> motion = WriteVmd(keys, {});
    LogCaptureBegin();
    int r = LoadVmdMotion(&rm, motion.data(), motion.size(), "Anim", bones, 5, nullptr, &budget);
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    if (tally + sampled <= limit) {
      EXPECT_EQ(r, 0) << i;
      EXPECT_EQ(log, "") << i;
      tally += sampled;
      ++admitted;
    } else {
      char line[256];
      snprintf(line, sizeof(line), TEXT_VMD_KEY_LIMIT "\r\n", static_cast<unsigned long long>(tally + sampled),
               static_cast<unsigned long long>(limit));
      EXPECT_EQ(r, -1) << i;
      EXPECT_EQ(log, line) << i;
    }
    EXPECT_EQ(budget.used, tally) << i;
  }
  EXPECT_EQ(rm.AnimSetCount, admitted);
  EXPECT_GT(admitted, 2);
  EXPECT_LT(admitted, 40);
  TerminateReadModel(&rm);
}

TEST_F(PmdReader, BaseMorphWithMoreEntriesThanVertices) {
  // the base names vertex 2 four times: the morph mesh gets four copies of it, the shape moves
  // the last
  PmdTestModel m = MorphSplitModel();
  m.morphs = {{"base", {{2, {0, 0, 0}}, {2, {0, 0, 0}}, {2, {0, 0, 0}}, {2, {0, 0, 0}}, {3, {7, 8, 9}}}},
              {"smile", {{3, {1, 0, 0}}, {4, {0, 1, 0}}}}};
  Loaded l = Load(WritePmd(m), [](const ReadModel& rm) {
    ASSERT_EQ(rm.MeshCount, 2);
    const ReadModelMesh* morph = rm.FirstMesh->Next;
    EXPECT_EQ(morph->FaceCount, 2);
    EXPECT_EQ(morph->PositionCount, 7);  // five base entries, then vertices 0 and 1
    EXPECT_EQ(rm.FirstMesh->FaceCount, 0);
    EXPECT_EQ(rm.FirstShape->Vertices[1].Offset.y, 1.0f);
  });
  EXPECT_EQ(l.observed, 1) << l.log;
}

}  // namespace
