// The PMD model into a read model, its motions beside it, and the conversion into a model base.
#include <qzlib/modelimport/pmd/pmd_reader.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/strutil.h>
#include <qzlib/file/file.h>
#include <qzlib/math/math3d.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/base/engine_texts.h>

namespace {

// Motion numbers are three digits.
constexpr int kMaxMotions = 1000;

// Everything a load holds besides the read model; freed together.
struct PmdLoad {
  ReadModel rm;
  PmdFile file;
  PmdBoneInfo* bones = nullptr;
  PmdIkInfo* iks = nullptr;
  PmdIkInfo* ikList = nullptr;
  ReadModelFrame* meshFrame = nullptr;
  ReadModelMesh* mesh = nullptr;
  PmdLoad() { InitReadModel(&rm); }
  ~PmdLoad() {
    MEM_FREE(bones);
    MEM_FREE(iks);
    TerminateReadModel(&rm);
  }
};

int Fail(const char* message) { return WriteLog(message); }

// Index of a face corner in each stored set: position, normal and UV set 0 carry the same index.
int SetTriangle(ReadModel* rm, ReadModelMesh* mesh, ReadModelFace* face, const int v[3]) {
  if (ReadModelSetFaceIndexCount(rm, mesh, face, 3) != 0) return -1;
  for (int set : {READMODEL_SET_POSITION, READMODEL_SET_NORMAL, READMODEL_SET_UV0}) {
    int* idx = ReadModelFaceIndices(face, set);
    if (idx)
      for (int c = 0; c < 3; ++c) idx[c] = v[c];
  }
  return 0;
}

// Position, normal and UV arrays of count vertices on the mesh, each with its message.
int AllocVertexArrays(ReadModel* rm, ReadModelMesh* mesh, int count, const char* posMsg,
                      const char* nrmMsg, const char* uvMsg) {
  uint64_t n = static_cast<uint64_t>(count);
  if (n == 0) return 0;
  mesh->Positions = static_cast<VECTOR*>(ReadModelAlloc(rm, sizeof(VECTOR) * n));
  if (!mesh->Positions && n) return Fail(posMsg);
  mesh->Normals = static_cast<VECTOR*>(ReadModelAlloc(rm, sizeof(VECTOR) * n));
  if (!mesh->Normals && n) return Fail(nrmMsg);
  mesh->UVs[0] = static_cast<ReadModelUV*>(ReadModelAlloc(rm, sizeof(ReadModelUV) * n));
  if (!mesh->UVs[0] && n) return Fail(uvMsg);
  mesh->PositionCount = mesh->NormalCount = mesh->UVCount[0] = count;
  return 0;
}

// A skin-weight block of count entries on the mesh, or null (nothing logged).
ReadModelSkinWeight* AddWeightBlock(ReadModel* rm, ReadModelMesh* mesh, int boneFrame,
                                    const MATRIX& offset, int count) {
  ReadModelSkinWeight* w = ReadModelAddSkinWeight(rm);
  if (!w) return nullptr;
  w->Weights = static_cast<ReadModelSkinWeightOne*>(
      ReadModelAlloc(rm, sizeof(ReadModelSkinWeightOne) * static_cast<uint64_t>(count)));
  if (!w->Weights || ReadModelMeshAddSkinWeight(rm, mesh, w) != 0) return nullptr;
  w->BoneFrame = boneFrame;
  w->OffsetMatrix = offset;
  w->WeightCount = count;
  return w;
}

int BuildSkeleton(PmdLoad& L) {
  const uint32_t B = L.file.boneCount;
  if (B > 0) {
    L.bones = static_cast<PmdBoneInfo*>(MEM_CALLOC(sizeof(PmdBoneInfo) * B));
    if (!L.bones) return Fail(TEXT_PMD_BONE_INFO "\n");
    PmdSetupBones(L.file, L.bones);
  }
  if (PmdAddBoneFrames(&L.rm, L.bones, static_cast<int>(B)) != 0) return Fail(TEXT_PMD_ADD_FRAME "\n");
  PmdUpdateAllBoneWorlds(L.bones, static_cast<int>(B));
  return 0;
}

int BuildMesh(PmdLoad& L) {
  ReadModel* rm = &L.rm;
  const PmdFile& f = L.file;
  ReadModelMesh* mesh = L.mesh = ReadModelAddMesh(rm, L.meshFrame);
  if (!mesh) return Fail(TEXT_PMD_ADD_MESH "\n");
  if (f.faceCount > 0 && ReadModelAllocFaces(rm, mesh, static_cast<int>(f.faceCount)) != 0)
    return Fail(TEXT_PMD_FACE_MEMORY "\n");
  if (AllocVertexArrays(rm, mesh, static_cast<int>(f.vertexCount), TEXT_PMD_POSITION_MEMORY "\n",
                        TEXT_PMD_NORMAL_MEMORY "\n", TEXT_PMD_UV_MEMORY "\n") != 0)
    return -1;
  // skin weights: the vertices of each bone counted in one pass, filled in a second
  const uint32_t B = f.boneCount;
  uint32_t counts[kPmdMaxBones] = {};
  ReadModelSkinWeight* blocks[kPmdMaxBones] = {};
  PmdVertex v;
  for (uint32_t i = 0; i < f.vertexCount; ++i) {
    PmdReadVertex(f, i, &v);
    if (v.bone[0] < B) ++counts[v.bone[0]];
    if (v.bone[1] < B && v.bone[1] != v.bone[0]) ++counts[v.bone[1]];
  }
  for (uint32_t b = 0; b < B; ++b) {
    if (counts[b] == 0) continue;
    MATRIX offset;
    const VECTOR& h = L.bones[b].head;
    CreateTranslationMatrix(&offset, -h.x, -h.y, -h.z);
    blocks[b] = AddWeightBlock(rm, mesh, L.bones[b].frame->Index, offset, static_cast<int>(counts[b]));
    if (!blocks[b]) return Fail(TEXT_PMD_SKIN_WEIGHT "\n");
    blocks[b]->WeightCount = 0;  // filled below
  }
  for (uint32_t i = 0; i < f.vertexCount; ++i) {
    PmdReadVertex(f, i, &v);
    mesh->Positions[i] = v.position;
    mesh->Normals[i] = v.normal;
    mesh->UVs[0][i] = ReadModelUV{v.u, v.v};
    for (int k = 0; k < 2; ++k) {
      uint16_t b = v.bone[k];
      if (b >= B || (k == 1 && b == v.bone[0])) continue;
      float w = v.bone[0] == v.bone[1] ? 1.0f
                : k == 0               ? static_cast<float>(v.weight) / 100.0f
                                       : static_cast<float>(100 - static_cast<int>(v.weight)) / 100.0f;
      blocks[b]->Weights[blocks[b]->WeightCount++] = ReadModelSkinWeightOne{i, w};
    }
  }
  for (uint32_t t = 0; t < f.faceCount; ++t) {
    int idx[3];
    for (int c = 0; c < 3; ++c) idx[c] = PmdReadIndex(f, 3 * t + c);
    if (SetTriangle(rm, mesh, &mesh->Faces[t], idx) != 0) return Fail(TEXT_PMD_FACE_MEMORY "\n");
  }
  return 0;
}

// A texture name names its file by the part before a "*" (the sphere map after it is not used).
void TextureFileName(char* name) {
  char* star = const_cast<char*>(StrChrSjis(name, '*'));
  if (star) *star = 0;
}

int BuildMaterials(PmdLoad& L) {
  ReadModel* rm = &L.rm;
  ReadModelMesh* mesh = L.mesh;
  uint32_t nextFace = 0;
  for (uint32_t i = 0; i < L.file.materialCount; ++i) {
    PmdMaterial pm;
    PmdReadMaterial(L.file, i, &pm);
    char name[32];
    FormatString(name, sizeof(name), "Mat_%d", static_cast<int>(i));
    ReadModelMaterial* m = ReadModelAddMaterial(rm, name);
    if (!m) return WriteLogFmt(TEXT_PMD_ADD_MATERIAL, static_cast<int>(i));
    m->Diffuse = pm.diffuse;
    m->Specular = COLOR_F{pm.specularity * pm.specular[0], pm.specularity * pm.specular[1],
                          pm.specularity * pm.specular[2], 0.0f};
    m->Power = 16.0f;
    m->Ambient = COLOR_F{pm.ambient[0], pm.ambient[1], pm.ambient[2], 0.0f};
    TextureFileName(pm.textureName);
    if (pm.textureName[0] != 0) {
      ReadModelTexture* t = ReadModelAddTexture(rm, pm.textureName, pm.textureName, nullptr, 0, 0.1f, 1);
      if (!t || ReadModelAddMapTexture(rm, &m->DiffuseTextures, t) != 0)
        return WriteLogFmt(TEXT_PMD_ADD_TEXTURE, static_cast<int>(i));
    }
    if (pm.faceIndexCount == 0) continue;
    if (ReadModelMeshAddMaterial(rm, mesh, m) != 0) return WriteLogFmt(TEXT_PMD_ADD_MATERIAL, static_cast<int>(i));
    // the parse checked that the materials' faces fit in the mesh
    uint64_t faces = PmdMaterialFaceCount(pm.faceIndexCount);
    for (uint64_t k = 0; k < faces; ++k) mesh->Faces[nextFace++].MaterialIndex = mesh->MaterialCount - 1;
  }
  // faces that no material covers get one with the read model's defaults
  if (mesh->MaterialCount == 0 && mesh->FaceCount > 0) {
    char name[32];
    FormatString(name, sizeof(name), "Mat_%d", static_cast<int>(L.file.materialCount));
    ReadModelMaterial* m = ReadModelAddMaterial(rm, name);
    if (!m || ReadModelMeshAddMaterial(rm, mesh, m) != 0) return Fail(TEXT_PMD_DEFAULT_MATERIAL "\n");
  }
  return 0;
}

// Moves every face that uses a base-morph vertex to a second mesh and makes the morphs shapes of
// it.
int BuildMorphs(PmdLoad& L) {
  ReadModel* rm = &L.rm;
  ReadModelMesh* mesh = L.mesh;
  const uint32_t V = L.file.vertexCount, F = static_cast<uint32_t>(mesh->FaceCount);
  const uint32_t M = static_cast<uint32_t>(mesh->MaterialCount);
  ReadModelMesh* morph = ReadModelAddMesh(rm, L.meshFrame);
  if (!morph) return Fail(TEXT_PMD_ADD_MORPH_MESH "\n");
  PmdMorph base;
  PmdReadMorph(L.file.morphs, &base);
  const uint32_t E = base.entryCount;
  // six tables: vertex, face and material, from the main mesh to the morph mesh and back; the
  // morph mesh has the E base entries (which may name a vertex twice) and at most V vertices more
  uint64_t total = 2ull * V + E + 2ull * F + 2ull * M;
  int32_t* tables = static_cast<int32_t*>(MEM_ALLOC(sizeof(int32_t) * (total ? total : 1)));
  if (!tables) return Fail(TEXT_PMD_MORPH_TABLES "\n");
  struct Free {
    int32_t* p;
    ~Free() { MEM_FREE(p); }
  } freeTables{tables};
  for (uint64_t i = 0; i < total; ++i) tables[i] = -1;
  int32_t* vToMorph = tables;
  int32_t* vToMain = vToMorph + V;
  int32_t* fToMorph = vToMain + V + E;
  int32_t* fToMain = fToMorph + F;
  int32_t* mToMorph = fToMain + F;
  int32_t* mToMain = mToMorph + M;
  for (uint32_t k = 0; k < E; ++k) {
    uint32_t vi;
    VECTOR p;
    PmdReadMorphEntry(base, k, &vi, &p);
    vToMorph[vi] = static_cast<int32_t>(k);
    vToMain[k] = static_cast<int32_t>(vi);
  }
  auto isBase = [&](int v) { return vToMorph[v] >= 0 && static_cast<uint32_t>(vToMorph[v]) < E; };
  int32_t nextVertex = static_cast<int32_t>(E), nextFace = 0, nextMaterial = 0;
  for (uint32_t t = 0; t < F; ++t) {
    const int* idx = ReadModelFaceIndices(&mesh->Faces[t], READMODEL_SET_POSITION);
    if (!isBase(idx[0]) && !isBase(idx[1]) && !isBase(idx[2])) continue;
    int mat = mesh->Faces[t].MaterialIndex;
    if (mToMorph[mat] < 0) {
      mToMain[nextMaterial] = mat;
      mToMorph[mat] = nextMaterial++;
    }
    fToMain[nextFace] = static_cast<int32_t>(t);
    fToMorph[t] = nextFace++;
    for (int c = 0; c < 3; ++c)
      if (vToMorph[idx[c]] < 0) {
        vToMain[nextVertex] = idx[c];
        vToMorph[idx[c]] = nextVertex++;
      }
  }
  // the morph mesh: materials, faces, vertices
  for (int m = 0; m < nextMaterial; ++m)
    if (ReadModelMeshAddMaterial(rm, morph, mesh->Materials[mToMain[m]]) != 0)
      return Fail(TEXT_PMD_MORPH_FACE_MEMORY "\n");
  if (nextFace > 0 && ReadModelAllocFaces(rm, morph, nextFace) != 0) return Fail(TEXT_PMD_MORPH_FACE_MEMORY "\n");
  for (int t = 0; t < nextFace; ++t) {
    const ReadModelFace& src = mesh->Faces[fToMain[t]];
    const int* idx = ReadModelFaceIndices(&src, READMODEL_SET_POSITION);
    int remapped[3] = {vToMorph[idx[0]], vToMorph[idx[1]], vToMorph[idx[2]]};
    if (SetTriangle(rm, morph, &morph->Faces[t], remapped) != 0) return Fail(TEXT_PMD_MORPH_FACE_MEMORY "\n");
    morph->Faces[t].MaterialIndex = mToMorph[src.MaterialIndex];
  }
  if (AllocVertexArrays(rm, morph, nextVertex, TEXT_PMD_MORPH_POSITION_MEMORY "\n",
                        TEXT_PMD_MORPH_NORMAL_MEMORY "\n", TEXT_PMD_MORPH_UV_MEMORY "\n") != 0)
    return -1;
  for (int k = 0; k < nextVertex; ++k) {
    int src = vToMain[k];
    morph->Positions[k] = mesh->Positions[src];
    morph->Normals[k] = mesh->Normals[src];
    morph->UVs[0][k] = mesh->UVs[0][src];
  }
  // the moved faces leave the main mesh
  uint32_t kept = 0;
  for (uint32_t t = 0; t < F; ++t)
    if (fToMorph[t] < 0) mesh->Faces[kept++] = mesh->Faces[t];
  mesh->FaceCount = static_cast<int>(kept);
  // skin weights: the morph vertices' entries into blocks of the morph mesh; the main blocks keep
  // what is not a base vertex (at least their last entry)
  const int mainBlocks = mesh->SkinWeightCount;
  for (int b = 0; b < mainBlocks; ++b) {
    ReadModelSkinWeight* w = mesh->SkinWeights[b];
    int n = 0;
    for (int e = 0; e < w->WeightCount; ++e) n += vToMorph[w->Weights[e].Index] >= 0;
    if (n > 0) {
      ReadModelSkinWeight* mw = AddWeightBlock(rm, morph, w->BoneFrame, w->OffsetMatrix, n);
      if (!mw) return Fail(TEXT_PMD_MORPH_SKIN_WEIGHT "\n");
      int j = 0;
      for (int e = 0; e < w->WeightCount; ++e)
        if (vToMorph[w->Weights[e].Index] >= 0)
          mw->Weights[j++] = ReadModelSkinWeightOne{static_cast<uint32_t>(vToMorph[w->Weights[e].Index]),
                                                    w->Weights[e].Weight};
    }
    int keep = 0;
    for (int e = 0; e < w->WeightCount; ++e)
      if (!isBase(static_cast<int>(w->Weights[e].Index))) w->Weights[keep++] = w->Weights[e];
    if (keep == 0 && w->WeightCount > 0) {
      w->Weights[0] = w->Weights[w->WeightCount - 1];
      keep = 1;
    }
    w->WeightCount = keep;
  }
  // morphs 1 to S - 1 as shapes of the morph mesh
  const uint8_t* p = base.next;
  for (uint32_t s = 1; s < L.file.morphCount; ++s) {
    PmdMorph pm;
    PmdReadMorph(p, &pm);
    p = pm.next;
    ReadModelShape* shape = ReadModelAddShape(rm, pm.name, L.meshFrame);
    if (!shape) return Fail(TEXT_PMD_ADD_SHAPE "\n");
    shape->Mesh = morph;
    shape->HasNormals = 0;
    shape->VertexCount = static_cast<int>(pm.entryCount);
    if (pm.entryCount > 0) {
      shape->Vertices = static_cast<ReadModelShapeVertex*>(
          ReadModelAlloc(rm, sizeof(ReadModelShapeVertex) * static_cast<uint64_t>(pm.entryCount)));
      if (!shape->Vertices) return Fail(TEXT_PMD_SHAPE_VERTEX "\n");
    }
    for (uint32_t e = 0; e < pm.entryCount; ++e) {
      uint32_t k, baseVertex;
      VECTOR offset, basePos;
      PmdReadMorphEntry(pm, e, &k, &offset);
      PmdReadMorphEntry(base, k, &baseVertex, &basePos);
      const VECTOR& mp = morph->Positions[k];
      shape->Vertices[e].Position = k;
      shape->Vertices[e].Offset = VECTOR{basePos.x - mp.x + offset.x, basePos.y - mp.y + offset.y,
                                         basePos.z - mp.z + offset.z};
    }
  }
  return 0;
}

// Motions "<folder>\<model name>NNN.vmd" from 000 until one is missing or fails.
void LoadMotions(PmdLoad& L, const char* folder, const char* modelName) {
  VmdKeyBudget budget{kVmdMaxSampledKeysPerLoad, 0};
  VmdNameIndex names{};
  for (int i = 0; i < kMaxMotions; ++i) {
    char path[2048], setName[16];
    FormatString(path, sizeof(path), "%s\\%s%03d.vmd", folder ? folder : "", modelName ? modelName : "", i);
    size_t size = 0;
    void* data = FileReadAll(path, &size);
    if (!data) return;
    FormatString(setName, sizeof(setName), "Anim%03d", i);
    int r = LoadVmdMotion(&L.rm, data, size, setName, L.bones, static_cast<int>(L.file.boneCount), L.ikList,
                          &budget, &names);
    MEM_FREE(data);
    if (r != 0) return;
  }
}

}  // namespace

int PmdAddBoneFrames(ReadModel* rm, PmdBoneInfo* bones, int count) {
  for (int i = 0; i < count; ++i) {
    PmdBoneInfo& b = bones[i];
    ReadModelFrame* parent = b.parent >= 0 ? bones[b.parent].frame : nullptr;
    b.frame = ReadModelAddFrame(rm, b.file.name, parent);
    if (!b.frame || !b.frame->Name) return -1;
    b.frame->Translate = b.rest;
    b.frame->ReaderPosition = b.head;
  }
  return 0;
}

int LoadPmdModel(const void* image, size_t size, const char* path, const char* modelName,
                 const char* folder) {
  PmdLoad L;
  if (ParsePmdFile(image, size, &L.file) != 0) return -1;
  ReadModel* rm = &L.rm;
  rm->FilePath = ReadModelAddString(rm, path ? path : "");
  rm->Name = rm->FilePath ? ReadModelAddString(rm, modelName ? modelName : "") : nullptr;
  if (!rm->Name) return Fail(TEXT_PMD_ADD_NAME "\n");
  L.meshFrame = ReadModelAddFrame(rm, "Mesh", nullptr);
  if (!L.meshFrame || !L.meshFrame->Name) return Fail(TEXT_PMD_ADD_FRAME "\n");
  if (BuildSkeleton(L) != 0 || BuildMesh(L) != 0 || BuildMaterials(L) != 0) return -1;
  if (L.file.ikCount > 0) {
    L.iks = static_cast<PmdIkInfo*>(MEM_CALLOC(sizeof(PmdIkInfo) * L.file.ikCount));
    if (!L.iks) return Fail(TEXT_PMD_IK_INFO "\n");
    L.ikList = PmdSetupIkList(L.file, L.bones, L.iks);
  }
  if (L.file.morphCount >= 2 && BuildMorphs(L) != 0) return -1;
  LoadMotions(L, folder, modelName);
  MV1ReleaseLoadImage(image);  // the read model holds all of the file
  return ConvertReadModelToModelBase(rm, folder);
}
