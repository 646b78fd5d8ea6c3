// The converter's entry check: a read model from any reader, or a hostile file behind it, is
// checked in one pass before anything is sized.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/popcount.h>
#include <qzlib/base/memory.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include <qzlib/modelimport/readmodel_work.h>

namespace {

// The data ranges of the read model's pool, sorted: every array a reader hands over must lie
// inside one of them, as long as its count says.
class PoolRanges {
 public:
  ~PoolRanges() { MEM_FREE(ranges_); }
  bool Build(const ReadModel* rm) {
    for (auto* c = static_cast<const ChunkListHeader*>(rm->PoolHead); c; c = c->Next)
      count_ += c->Data ? 1 : EachCarve(c, [](uintptr_t, uintptr_t) {});
    ranges_ = static_cast<Range*>(MEM_ALLOC(sizeof(Range) * (count_ + 1)));
    if (!ranges_) return false;
    size_t i = 0;
    for (auto* c = static_cast<const ChunkListHeader*>(rm->PoolHead); c; c = c->Next) {
      if (!c->Data) {
        EachCarve(c, [&](uintptr_t start, uintptr_t end) { ranges_[i++] = Range{start, end}; });
        continue;
      }
      uintptr_t start = reinterpret_cast<uintptr_t>(c->Data);
      ranges_[i++] = Range{start, start + (MemBlockSize(c) - sizeof(ChunkListHeader))};
    }
    std::sort(ranges_, ranges_ + count_, [](const Range& a, const Range& b) { return a.start < b.start; });
    return true;
  }
  struct Range {
    uintptr_t start, end;
  };
  // count elements of size bytes at p lie in one pool block (nothing to check for no elements)
  bool Holds(const void* p, int64_t count, uint64_t size) const {
    if (count <= 0) return true;
    const Range* r = Find(p);
    return r && static_cast<uint64_t>(count) <= (r->end - reinterpret_cast<uintptr_t>(p)) / size;
  }
  // The pool block that holds the byte at p, or null.
  const Range* Find(const void* p) const {
    if (!p) return nullptr;
    uintptr_t at = reinterpret_cast<uintptr_t>(p);
    // the blocks do not overlap: the block of the last hit holds the next array most often
    const Range* r = last_;
    if (!r || at < r->start || at >= r->end) {
      r = std::upper_bound(ranges_, ranges_ + count_, at, [](uintptr_t v, const Range& x) { return v < x.start; });
      if (r == ranges_) return nullptr;
      --r;
      if (at >= r->end) return nullptr;
      last_ = r;
    }
    return r;
  }

 private:
  // Calls each(start, end) for every carve of a shared block, its data as long as its size says
  // (kept inside the block's used bytes); the number of carves.
  template <class Each>
  static size_t EachCarve(const ChunkListHeader* c, Each each) {
    const auto* block = reinterpret_cast<const uint8_t*>(c + 1);
    uint64_t used;
    std::memcpy(&used, block, sizeof(used));
    used = std::min(used, kReadModelSharedBytes);
    size_t n = 0;
    for (uint64_t at = sizeof(ReadModelSharedBlock); at + kReadModelCarveHead <= used; ++n) {
      uint64_t size;
      std::memcpy(&size, block + at, sizeof(size));
      const uint64_t data = at + kReadModelCarveHead;
      size = std::min(size, used - data);
      const auto start = reinterpret_cast<uintptr_t>(block + data);
      each(start, start + size);
      at = data + ((size + 15) & ~uint64_t{15});
    }
    return n;
  }
  Range* ranges_ = nullptr;
  size_t count_ = 0;
  mutable const Range* last_ = nullptr;
};

int Refuse(const char* detail) {
  WriteLogFmt("Read Model Convert Error : " TEXT_RM_INVALID "\n", detail);
  return -1;
}

template <class... A>
int Refusef(const char* fmt, A... args) {
  char detail[256];
  std::snprintf(detail, sizeof(detail), fmt, args...);
  return Refuse(detail);
}

// Walks a list of count records by next; the records in order, or false when it does not hold
// exactly count records.
template <class T, class Next, class Visit>
bool WalkList(T* first, int count, Next next, Visit visit) {
  if (count < 0) return false;
  T* r = first;
  for (int i = 0; i < count; ++i) {
    if (!r) return false;
    if (!visit(r, i)) return false;
    r = next(r);
  }
  return r == nullptr;
}

int* const kMarked = reinterpret_cast<int*>(static_cast<uintptr_t>(16));
void* const kMeshSeen = reinterpret_cast<void*>(static_cast<uintptr_t>(16));

bool MeshKeepsNormals(const ReadModel* rm, const ReadModelMesh* m) {
  return m->Normals && !rm->UseFrameSmoothingAngles && !MV1LoadRecalcNormalsFlag;
}

int ValidateMesh(ReadModel* rm, RMRootWork* w, const PoolRanges& pool, ReadModelMesh* m) {
  if (!m->Frame) return Refusef("mesh %d has no frame", m->Index);
  if (m->FaceCount < 0 || m->PositionCount < 0 || m->NormalCount < 0 || m->VertexColorCount < 0 ||
      (m->FaceCount > 0 && !m->Faces) || (m->PositionCount > 0 && !m->Positions))
    return Refusef("mesh %d has a bad count", m->Index);
  if (!pool.Holds(m->Positions, m->PositionCount, sizeof(VECTOR)) || !pool.Holds(m->Faces, m->FaceCount, sizeof(ReadModelFace)) ||
      (m->Normals && !pool.Holds(m->Normals, m->NormalCount, sizeof(VECTOR))) ||
      (m->VertexColors && !pool.Holds(m->VertexColors, m->VertexColorCount, sizeof(COLOR_F))))
    return Refusef("mesh %d has an array outside the read model", m->Index);
  if (m->MaterialCount > READMODEL_MAX_MESH_MATERIALS) return Refusef("mesh %d has %d materials", m->Index, m->MaterialCount);
  if (m->SkinWeightCount > READMODEL_MAX_SKIN_WEIGHTS)
    return Refusef("mesh %d has %d skin weights", m->Index, m->SkinWeightCount);
  if (m->MaterialCount < 0 || m->SkinWeightCount < 0 || (m->MaterialCount > 0 && !m->Materials) ||
      (m->SkinWeightCount > 0 && !m->SkinWeights))
    return Refusef("mesh %d has a bad material or skin-weight list", m->Index);
  if (!pool.Holds(m->Materials, m->MaterialCount, sizeof(void*)) || !pool.Holds(m->SkinWeights, m->SkinWeightCount, sizeof(void*)))
    return Refusef("mesh %d has an array outside the read model", m->Index);
  for (int i = 0; i < m->MaterialCount; ++i) {
    const ReadModelMaterial* mat = m->Materials[i];
    if (!mat || mat->Index < 0 || mat->Index >= rm->MaterialCount || w->Materials[mat->Index] != mat)
      return Refusef("mesh %d names a material outside the list", m->Index);
  }
  for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k)
    if (m->UVCount[k] < 0 || (m->UVCount[k] > 0 && !m->UVs[k]) || (m->UVs[k] && !pool.Holds(m->UVs[k], m->UVCount[k], sizeof(ReadModelUV))))
      return Refusef("mesh %d has a bad UV set", m->Index);
  for (int b = 0; b < m->SkinWeightCount; ++b) {
    const ReadModelSkinWeight* sw = m->SkinWeights[b];
    if (!sw || !pool.Holds(sw, 1, sizeof(*sw)) || sw->WeightCount < 0 || !pool.Holds(sw->Weights, sw->WeightCount, sizeof(ReadModelSkinWeightOne)))
      return Refusef("mesh %d has a bad skin weight", m->Index);
    if (sw->BoneFrame == -1) {
      WriteLogFmt("Read Model Convert Error : " TEXT_RM_SKIN_NO_NODE "\n", m->Frame->Name ? m->Frame->Name : "");
      return -1;
    }
    if (sw->BoneFrame < 0 || sw->BoneFrame >= rm->FrameCount)
      return Refusef("mesh %d names bone frame %d", m->Index, sw->BoneFrame);
    for (int j = 0; j < sw->WeightCount; ++j)
      if (sw->Weights[j].Index >= static_cast<uint32_t>(m->PositionCount))
        return Refusef("mesh %d weights position %u", m->Index, sw->Weights[j].Index);
  }
  // faces: drop those of fewer than 3 vertices, check every index the converter reads
  const bool keepNormals = MeshKeepsNormals(rm, m);
  int kept = 0;
  uintptr_t lastBlock = 0;
  for (int i = 0; i < m->FaceCount; ++i) {
    ReadModelFace& f = m->Faces[i];  // checked in place, moved down only past dropped faces
    if (f.IndexCount < 3) continue;
    f.Sets &= (1u << READMODEL_SET_COUNT) - 1;  // bits of no set name nothing
    if (f.IndexCount > READMODEL_MAX_FACE_INDICES) return Refusef("mesh %d has a face of %d vertices", m->Index, f.IndexCount);
    if (f.Index && (static_cast<int64_t>(PopCount(f.Sets)) * f.IndexCount > f.IndexStorage ||
                    !pool.Holds(f.Index, f.IndexStorage, sizeof(int))))
      return Refusef("mesh %d face %d holds more indices than it stores", m->Index, i);
    // the blocks of index sets: a block that holds any holds nothing else (the reader's rule)
    const PoolRanges::Range* r = f.Index && f.Sets && f.IndexStorage > 0 ? pool.Find(f.Index) : nullptr;
    if (r && r->start != lastBlock) {
      lastBlock = r->start;
      if (static_cast<const RMMeshWork*>(m->Work)->IndexBlockCount < kRMIndexBlocks - 2)
        RMNoteIndexBlock(m, reinterpret_cast<void*>(r->start), r->end - r->start);
    }
    if (f.MaterialIndex < 0 || f.MaterialIndex >= m->MaterialCount)
      return Refusef("mesh %d face %d names material %d", m->Index, i, f.MaterialIndex);
    auto check = [&](int set, int count) {
      const int* idx = ReadModelFaceIndicesOrZero(&f, set);
      for (int c = 0; c < f.IndexCount; ++c)
        if (idx[c] < 0 || idx[c] >= count) return false;
      return true;
    };
    if (!check(READMODEL_SET_POSITION, m->PositionCount)) return Refusef("mesh %d face %d: position index", m->Index, i);
    if (keepNormals && !check(READMODEL_SET_NORMAL, m->NormalCount)) return Refusef("mesh %d face %d: normal index", m->Index, i);
    if (m->VertexColors && !check(READMODEL_SET_COLOR, m->VertexColorCount))
      return Refusef("mesh %d face %d: vertex colour index", m->Index, i);
    int uvSets = ReadModelMaterialUVSets(m->Materials[f.MaterialIndex]);
    for (int k = 0; k < uvSets; ++k)
      if (m->UVs[k] && !check(READMODEL_SET_UV0 + k, m->UVCount[k])) return Refusef("mesh %d face %d: UV index", m->Index, i);
    if (kept != i) m->Faces[kept] = f;
    ++kept;
  }
  m->FaceCount = kept;
  return 0;
}

}  // namespace

int ValidateReadModel(ReadModel* rm) {
  if (rm->FrameCount < 0 || rm->MaterialCount < 0 || rm->TextureCount < 0 || rm->MeshCount < 0 ||
      rm->ShapeCount < 0 || rm->AnimSetCount < 0 || rm->AnimCount < 0 || rm->KeySetCount < 0)
    return Refuse("negative count");
  // meshes: a mesh without materials gets one with the defaults
  if (!WalkList(rm->FirstMesh, rm->MeshCount, [](ReadModelMesh* m) { return m->Next; },
                [](ReadModelMesh*, int) { return true; }))
    return Refuse("the mesh list is broken");
  for (ReadModelMesh* m = rm->FirstMesh; m; m = m->Next) {
    if (m->MaterialCount != 0) continue;
    ReadModelMaterial* mat = ReadModelAddMaterial(rm, "");
    if (!mat || ReadModelMeshAddMaterial(rm, m, mat) != 0) {
      WriteLog("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
      return -1;
    }
  }
  auto* w = static_cast<RMRootWork*>(ReadModelAlloc(rm, sizeof(RMRootWork)));
  ReadModelFrame** frames = static_cast<ReadModelFrame**>(
      ReadModelAlloc(rm, sizeof(void*) * (static_cast<uint64_t>(rm->FrameCount) + 1)));
  ReadModelMaterial** materials = static_cast<ReadModelMaterial**>(
      ReadModelAlloc(rm, sizeof(void*) * (static_cast<uint64_t>(rm->MaterialCount) + 1)));
  ReadModelTexture** textures = static_cast<ReadModelTexture**>(
      ReadModelAlloc(rm, sizeof(void*) * (static_cast<uint64_t>(rm->TextureCount) + 1)));
  auto* meshWorks = static_cast<RMMeshWork*>(
      ReadModelAlloc(rm, sizeof(RMMeshWork) * (static_cast<uint64_t>(rm->MeshCount) + 1)));
  if (!w || !frames || !materials || !textures || !meshWorks) {
    WriteLog("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
    return -1;
  }
  w->Frames = frames;
  w->Materials = materials;
  w->Textures = textures;
  rm->Work = w;
  PoolRanges pool;
  if (!pool.Build(rm)) {
    WriteLog("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
    return -1;
  }

  // frames: pre-order list, parents before children, valid rotate orders
  if (!WalkList(rm->FirstFrame, rm->FrameCount, [](ReadModelFrame* f) { return f->Next; },
                [&](ReadModelFrame* f, int i) {
                  frames[i] = f;
                  f->Work = nullptr;
                  return f->Index == i;
                }))
    return Refuse("the frame list is broken");
  for (int i = 0; i < rm->FrameCount; ++i) {
    const ReadModelFrame* f = frames[i];
    if (f->Parent && (f->Parent->Index < 0 || f->Parent->Index >= i || frames[f->Parent->Index] != f->Parent))
      return Refusef("frame %d has a parent outside the list", i);
    if (f->RotateOrder < 0 || f->RotateOrder > 5) return Refusef("frame %d has rotate order %d", i, f->RotateOrder);
  }
  if (!WalkList(rm->FirstTexture, rm->TextureCount, [](ReadModelTexture* t) { return t->Next; },
                [&](ReadModelTexture* t, int i) {
                  textures[i] = t;
                  return t->Index == i;
                }))
    return Refuse("the texture list is broken");
  auto textureOk = [&](const ReadModelTexture* t) {
    return t && t->Index >= 0 && t->Index < rm->TextureCount && textures[t->Index] == t;
  };
  if (!WalkList(rm->FirstMaterial, rm->MaterialCount, [](ReadModelMaterial* m) { return m->Next; },
                [&](ReadModelMaterial* m, int i) {
                  materials[i] = m;
                  if (m->Index != i) return false;
                  for (const ReadModelTextureList* l : {&m->DiffuseTextures, &m->SpecularTextures, &m->NormalTextures}) {
                    if (l->Count < 0 || !pool.Holds(l->Items, std::min(l->Count, static_cast<int>(READMODEL_MAX_MAP_LAYERS)), sizeof(void*)))
                      return false;
                    for (int k = 0; k < l->Count && k < READMODEL_MAX_MAP_LAYERS; ++k)
                      if (!textureOk(l->Items[k])) return false;
                  }
                  return (!m->DiffuseGradTexture || textureOk(m->DiffuseGradTexture)) &&
                         (!m->SpecularGradTexture || textureOk(m->SpecularGradTexture));
                }))
    return Refuse("the material list is broken");

  // meshes: each on the root list once and on its frame's list once
  if (!WalkList(rm->FirstMesh, rm->MeshCount, [](ReadModelMesh* m) { return m->Next; },
                [&](ReadModelMesh* m, int) {
                  m->Work = nullptr;
                  return !m->Frame || (m->Frame->Index >= 0 && m->Frame->Index < rm->FrameCount &&
                                       frames[m->Frame->Index] == m->Frame);
                }))
    return Refuse("the mesh list is broken");
  int64_t inFrames = 0;
  for (int i = 0; i < rm->FrameCount; ++i) {
    ReadModelFrame* f = frames[i];
    if (!WalkList(f->FirstMesh, f->MeshCount, [](ReadModelMesh* m) { return m->NextInFrame; },
                  [&](ReadModelMesh* m, int) {
                    if (m->Frame != f || m->Work == kMeshSeen) return false;
                    m->Work = kMeshSeen;
                    return true;
                  }))
      return Refusef("the mesh list of frame %d is broken", i);
    inFrames += f->MeshCount;
  }
  for (ReadModelMesh* m = rm->FirstMesh; m; m = m->Next) {
    if (!m->Frame) return Refusef("mesh %d has no frame", m->Index);
    if (m->Work != kMeshSeen) return Refusef("mesh %d is not on its frame's list", m->Index);
  }
  if (inFrames != rm->MeshCount) return Refuse("meshes outside the mesh list");
  // shapes: on the root list and their frame's list once, a mesh of the list, valid positions
  if (!WalkList(rm->FirstShape, rm->ShapeCount, [](ReadModelShape* s) { return s->Next; },
                [&](ReadModelShape* s, int) {
                  s->TargetTable = nullptr;
                  return s->Frame && s->Frame->Index >= 0 && s->Frame->Index < rm->FrameCount &&
                         frames[s->Frame->Index] == s->Frame && s->Mesh && s->Mesh->Work == kMeshSeen;
                }))
    return Refuse("the shape list is broken");
  for (int i = 0; i < rm->FrameCount; ++i) {
    ReadModelFrame* f = frames[i];
    if (!WalkList(f->FirstShape, f->ShapeCount, [](ReadModelShape* s) { return s->NextInFrame; },
                  [&](ReadModelShape* s, int) {
                    if (s->Frame != f || s->TargetTable == kMarked) return false;
                    s->TargetTable = kMarked;
                    return true;
                  }))
      return Refusef("the shape list of frame %d is broken", i);
  }
  for (ReadModelShape* s = rm->FirstShape; s; s = s->Next) {
    if (s->TargetTable != kMarked) return Refusef("shape %d is not on its frame's list", s->Index);
    s->TargetTable = nullptr;
    if (s->VertexCount < 0 || !pool.Holds(s->Vertices, s->VertexCount, sizeof(ReadModelShapeVertex)))
      return Refusef("shape %d has a bad vertex array", s->Index);
    for (int v = 0; v < s->VertexCount; ++v)
      if (s->Vertices[v].Position >= static_cast<uint32_t>(s->Mesh->PositionCount))
        return Refusef("shape %d moves position %u", s->Index, s->Vertices[v].Position);
  }
  for (ReadModelMesh* m = rm->FirstMesh; m; m = m->Next) {
    m->Work = meshWorks++;
    if (ValidateMesh(rm, w, pool, m) != 0) return -1;
  }
  // animations: sets, then every animation with its key sets
  if (!WalkList(rm->FirstAnimSet, rm->AnimSetCount, [](ReadModelAnimSet* s) { return s->Next; },
                [&](ReadModelAnimSet* s, int) {
                  return WalkList(s->FirstAnim, s->AnimCount, [](ReadModelAnim* a) { return a->NextInSet; },
                                  [&](ReadModelAnim* a, int) { return a->Set == s; });
                }))
    return Refuse("the animation set list is broken");
  if (!WalkList(rm->FirstAnim, rm->AnimCount, [](ReadModelAnim* a) { return a->Next; },
                [&](ReadModelAnim* a, int) {
                  return a->Set && WalkList(a->FirstKeySet, a->KeySetCount,
                                            [](ReadModelAnimKeySet* k) { return k->NextInAnim; },
                                            [](ReadModelAnimKeySet*, int) { return true; });
                }) ||
      !WalkList(rm->FirstKeySet, rm->KeySetCount, [](ReadModelAnimKeySet* k) { return k->Next; },
                [](ReadModelAnimKeySet*, int) { return true; }))
    return Refuse("the animation list is broken");
  for (ReadModelAnim* a = rm->FirstAnim; a;) {
    ReadModelAnim* nextAnim = a->Next;
    if (a->TargetFrameIndex < 0 || a->TargetFrameIndex >= rm->FrameCount) {
      // an animation of no frame of the model is dropped with its key sets
      for (ReadModelAnimKeySet* k = a->FirstKeySet; k;) {
        ReadModelAnimKeySet* n = k->NextInAnim;
        ReadModelSubAnimKeySet(rm, a, k);
        k = n;
      }
      ReadModelAnimSet* s = a->Set;
      if (a->PrevInSet) a->PrevInSet->NextInSet = a->NextInSet; else s->FirstAnim = a->NextInSet;
      if (a->NextInSet) a->NextInSet->PrevInSet = a->PrevInSet; else s->LastAnim = a->PrevInSet;
      --s->AnimCount;
      if (a->Prev) a->Prev->Next = a->Next; else rm->FirstAnim = a->Next;
      if (a->Next) a->Next->Prev = a->Prev; else rm->LastAnim = a->Prev;
      --rm->AnimCount;
      a = nextAnim;
      continue;
    }
    const ReadModelFrame* target = frames[a->TargetFrameIndex];
    for (ReadModelAnimKeySet* k = a->FirstKeySet; k;) {
      ReadModelAnimKeySet* n = k->NextInAnim;
      if (k->KeyCount < 0 || k->DataType > READMODEL_KEY_QUATERNION7 || k->TimeType > 1 ||
          !pool.Holds(k->KeyData, k->KeyCount, static_cast<uint64_t>(ReadModelKeySize(k->DataType))) ||
          (k->TimeType == 1 && !pool.Holds(k->KeyTimes, k->KeyCount, sizeof(float))))
        return Refusef("animation %d has a bad key set", a->Index);
      if (k->KeyCount == 0 ||
          (k->Kind == READMODEL_KIND_SHAPE_WEIGHT && (k->ShapeIndex < 0 || k->ShapeIndex >= target->ShapeCount)))
        ReadModelSubAnimKeySet(rm, a, k);
      k = n;
    }
    a = nextAnim;
  }
  return 0;
}
