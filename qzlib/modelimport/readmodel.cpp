// The read model: pool, records and their lists.
#include <qzlib/modelimport/readmodel.h>

#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/base/popcount.h>
#include <qzlib/base/strutil.h>
#include <qzlib/file/file.h>
#include <qzlib/file/path.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/readmodel_hash.h>
#include <qzlib/modelimport/readmodel_work.h>

namespace {

constexpr float kDefaultSmoothingAngle = 1.5207964f;

// Appends rec to a root list held as (count, first, last) with Prev/Next links and an index.
template <class T>
void ListAppend(int& count, T*& first, T*& last, T* rec) {
  rec->Prev = last;
  rec->Next = nullptr;
  if (last) last->Next = rec; else first = rec;
  last = rec;
  rec->Index = count;
  ++count;
}

void SetIdentity(MATRIX* m) {
  std::memset(m, 0, sizeof(*m));
  m->m[0][0] = m->m[1][1] = m->m[2][2] = m->m[3][3] = 1.0f;
}

// Grows a pointer array from the pool to hold one more entry.
template <class T>
int GrowAppend(ReadModel* rm, int& count, int& capacity, T**& items, T* item) {
  if (count < 0) return -1;
  if (count >= capacity) {
    int newCapacity = capacity < 8 ? 8 : capacity * 2;
    if (newCapacity <= count) return -1;
    T** grown = static_cast<T**>(ReadModelAlloc(rm, sizeof(T*) * static_cast<uint64_t>(newCapacity)));
    if (!grown) return -1;
    if (count > 0) std::memcpy(grown, items, sizeof(T*) * static_cast<size_t>(count));
    items = grown;
    capacity = newCapacity;
  }
  items[count++] = item;
  return 0;
}

int FileExists(const char* path) {
  FileHandle h = FileOpen(path);
  if (h == 0) return 0;
  FileClose(h);
  return 1;
}

// Resolves a texture file name against the current directory into out (see ReadModelAddTexture).
void ResolveTexturePath(const char* fileName, const char* currentDir, char* out, size_t outSize) {
  if (fileName[0] == '\0') {
    out[0] = '\0';
    return;
  }
  if (CreateRelativePath(fileName, currentDir, out, outSize) != 0) {
    StrCopy(out, outSize, fileName);
  }
  if (FileExists(out)) return;
  // last component, after the last "\", "/" or ":" that is not a trail byte
  const char* last = out;
  for (const char* p = out; *p;) {
    if (IsPathSeparator(p) || *p == ':') last = p + 1;
    p += IsLeadByte(p) && p[1] ? 2 : 1;
  }
  if (last != out && *last && FileExists(last)) {
    std::memmove(out, last, std::strlen(last) + 1);
  }
}

// Links a block of its own into the pool: first, or behind the shared block being filled, which
// stays first.
void LinkPoolChunk(ReadModel* rm, ChunkListHeader* own) {
  auto* head = static_cast<ChunkListHeader*>(rm->PoolHead);
  if (head && !head->Data) {
    own->Next = head->Next;
    head->Next = own;
  } else {
    own->Next = head;
    rm->PoolHead = own;
  }
}

bool SamePath(const char* a, const char* b) {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
}

// One hash of both paths, an absent path told apart from an empty one.
uint64_t TexturePathsHash(const char* color, const char* alpha) {
  uint64_t h = kRMHashSeed;
  for (const char* path : {color, alpha}) {
    const uint8_t present = path ? 1 : 0;
    h = RMHashBytes(&present, 1, h);
    if (path) h = RMHashBytes(path, std::strlen(path) + 1, h);
  }
  return h;
}

}  // namespace

int InitReadModel(ReadModel* rm) {
  std::memset(rm, 0, sizeof(*rm));
  return 0;
}

bool ReadModelFreeLargeBlock(ReadModel* rm, void* block, uint64_t bytes) {
  RMBlock one{block, bytes};
  ReadModelFreeLargeBlocks(rm, &one, 1);
  return block && !one.Start;
}

void ReadModelFreeLargeBlocks(ReadModel* rm, RMBlock* blocks, int count) {
  void* starts[kRMFreeBlocks];
  int from[kRMFreeBlocks];
  int n = 0;
  for (int i = 0; i < count && n < kRMFreeBlocks; ++i) {
    if (!blocks[i].Start || blocks[i].Bytes < 64 * 1024) continue;
    from[n] = i;
    starts[n++] = blocks[i].Start;
  }
  if (n == 0) return;
  ChunkListFreeSome(starts, n, &rm->PoolHead);
  for (int k = 0; k < n; ++k)
    if (!starts[k]) blocks[from[k]].Start = nullptr;
}

void RMNoteIndexBlock(ReadModelMesh* mesh, void* start, uint64_t bytes) {
  auto* w = static_cast<RMMeshWork*>(mesh->Work);
  if (!w || !start || bytes < 64 * 1024) return;
  for (int i = 0; i < w->IndexBlockCount; ++i)
    if (w->IndexBlocks[i].Start == start) return;
  if (w->IndexBlockCount < kRMIndexBlocks) w->IndexBlocks[w->IndexBlockCount++] = RMBlock{start, bytes};
}

void RMFreeDeadIndexBlocks(ReadModel* rm, ReadModelMesh* mesh) {
  auto* w = static_cast<RMMeshWork*>(mesh->Work);
  if (!w || w->IndexBlockCount == 0) return;
  const int n = w->IndexBlockCount;
  RMBlock dead[kRMIndexBlocks];
  bool live[kRMIndexBlocks] = {};
  int liveCount = 0, last = 0;
  for (int f = 0; f < mesh->FaceCount && liveCount < n; ++f) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(mesh->Faces[f].Index);
    if (!at) continue;
    // faces of one block mostly follow each other: the last block found is tried first
    auto inside = [&](int b) {
      return at - reinterpret_cast<uintptr_t>(w->IndexBlocks[b].Start) < w->IndexBlocks[b].Bytes;
    };
    int b = last;
    if (!inside(b))
      for (b = 0; b < n && !inside(b); ++b) {
      }
    if (b == n) continue;
    last = b;
    if (!live[b]) {
      live[b] = true;
      ++liveCount;
    }
  }
  int deadCount = 0, kept = 0;
  for (int b = 0; b < n; ++b) {
    if (live[b]) w->IndexBlocks[kept++] = w->IndexBlocks[b];
    else dead[deadCount++] = w->IndexBlocks[b];
  }
  w->IndexBlockCount = kept;
  ReadModelFreeLargeBlocks(rm, dead, deadCount);
}

int TerminateReadModel(ReadModel* rm) {
  ChunkListFreeAll(&rm->PoolHead);
  return 0;
}

bool& ReadModelBlockSharing() {
  static bool on = true;
  return on;
}

void* ReadModelAlloc(ReadModel* rm, uint64_t size) {
  // sizes no memory can hold are refused before the chunk header is added to them
  if (size > (uint64_t{1} << 48)) return nullptr;
  auto* head = static_cast<ChunkListHeader*>(rm->PoolHead);
  ReadModelSharedBlock* shared = head && !head->Data ? reinterpret_cast<ReadModelSharedBlock*>(head + 1) : nullptr;
  if (size > kReadModelCarveLimit || !ReadModelBlockSharing()) {
    void* own = nullptr;
    void* data = ChunkListAlloc(static_cast<size_t>(size), &own);
    if (data) LinkPoolChunk(rm, static_cast<ChunkListHeader*>(own));
    return data;
  }
  const uint64_t need = kReadModelCarveHead + ((size + 15) & ~uint64_t{15});
  if (!shared || shared->Used + need > kReadModelSharedBytes) {
    if (!ChunkListAlloc(kReadModelSharedBytes, &rm->PoolHead)) return nullptr;
    head = static_cast<ChunkListHeader*>(rm->PoolHead);
    head->Data = nullptr;  // never a block of its own to ChunkListFree
    shared = reinterpret_cast<ReadModelSharedBlock*>(head + 1);
    shared->Used = sizeof(ReadModelSharedBlock);
  }
  uint8_t* at = reinterpret_cast<uint8_t*>(shared) + shared->Used;
  std::memcpy(at, &size, sizeof(size));
  shared->Used += need;
  return at + kReadModelCarveHead;
}

void ReadModelAdoptBlock(ReadModel* rm, void* block) {
  static_assert(sizeof(ChunkListHeader) == kReadModelChunkHead, "the chunk header's room");
  auto* own = static_cast<ChunkListHeader*>(block);
  own->Data = own + 1;
  LinkPoolChunk(rm, own);
}

const char* ReadModelAddString(ReadModel* rm, const char* str) {
  size_t len = std::strlen(str);
  char* copy = static_cast<char*>(ReadModelAlloc(rm, static_cast<uint64_t>(len) + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, str, len + 1);
  uint64_t total = static_cast<uint64_t>(rm->StringDataSize) + ((len + 1 + 3) / 4) * 4;
  rm->StringDataSize = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
  return copy;
}

ReadModelWork& ReadModelWorkCount() {
  static ReadModelWork work;
  return work;
}

ReadModelFrame* ReadModelAddFrame(ReadModel* rm, const char* name, ReadModelFrame* parent) {
  auto* f = static_cast<ReadModelFrame*>(ReadModelAlloc(rm, sizeof(ReadModelFrame)));
  if (!f) return nullptr;
  uint64_t visits = 0;
  if (!rm->FirstFrame) {
    rm->FirstFrame = rm->LastFrame = f;
    f->OnLastPath = 1;
  } else if (!parent || parent->OnLastPath) {
    // the parent's subtree (or the whole list) ends with the last frame: the frame is appended,
    // and the frames between the last frame and the parent leave the last frame's path
    for (ReadModelFrame* p = rm->LastFrame; p != parent; p = p->Parent, ++visits) p->OnLastPath = 0;
    f->Prev = rm->LastFrame;
    rm->LastFrame->Next = f;
    rm->LastFrame = f;
    f->Index = rm->FrameCount;
    f->OnLastPath = 1;
  } else {
    // inside the list: behind the parent's deepest last descendant; the frames behind it move
    // up by one
    ReadModelFrame* anchor = parent;
    for (; anchor->LastChild; anchor = anchor->LastChild) ++visits;
    f->Prev = anchor;
    f->Next = anchor->Next;
    anchor->Next->Prev = f;
    anchor->Next = f;
    f->Index = anchor->Index + 1;
    for (ReadModelFrame* p = f->Next; p; p = p->Next, ++visits) p->Index++;
  }
  if (parent) {
    f->PrevSibling = parent->LastChild;
    if (parent->LastChild) parent->LastChild->NextSibling = f; else parent->FirstChild = f;
    parent->LastChild = f;
    f->Parent = parent;
  }
  ++rm->FrameCount;
  ReadModelWorkCount().FrameVisits += visits;

  f->Name = ReadModelAddString(rm, name ? name : "");
  SetIdentity(&f->Matrix);
  f->Scale = VECTOR{1.0f, 1.0f, 1.0f};
  f->RotateOrder = 0;
  f->Quaternion[3] = 1.0f;
  f->Visible = 1;
  f->SmoothingAngle = kDefaultSmoothingAngle;
  return f->Name ? f : nullptr;
}

ReadModelMesh* ReadModelAddMesh(ReadModel* rm, ReadModelFrame* frame) {
  auto* m = static_cast<ReadModelMesh*>(ReadModelAlloc(rm, sizeof(ReadModelMesh)));
  if (!m) return nullptr;
  ListAppend(rm->MeshCount, rm->FirstMesh, rm->LastMesh, m);
  m->FaceSets = READMODEL_SET_BIT(READMODEL_SET_POSITION) | READMODEL_SET_BIT(READMODEL_SET_NORMAL) |
                READMODEL_SET_BIT(READMODEL_SET_UV0);
  if (frame) {
    m->Frame = frame;
    m->PrevInFrame = frame->LastMesh;
    if (frame->LastMesh) frame->LastMesh->NextInFrame = m; else frame->FirstMesh = m;
    frame->LastMesh = m;
    ++frame->MeshCount;
  }
  return m;
}

void ReadModelSubMesh(ReadModel* rm, ReadModelFrame* frame, ReadModelMesh* mesh) {
  if (mesh->Prev) mesh->Prev->Next = mesh->Next; else rm->FirstMesh = mesh->Next;
  if (mesh->Next) mesh->Next->Prev = mesh->Prev; else rm->LastMesh = mesh->Prev;
  mesh->Prev = mesh->Next = nullptr;
  --rm->MeshCount;
  if (frame) {
    if (mesh->PrevInFrame) mesh->PrevInFrame->NextInFrame = mesh->NextInFrame;
    else frame->FirstMesh = mesh->NextInFrame;
    if (mesh->NextInFrame) mesh->NextInFrame->PrevInFrame = mesh->PrevInFrame;
    else frame->LastMesh = mesh->PrevInFrame;
    mesh->PrevInFrame = mesh->NextInFrame = nullptr;
    --frame->MeshCount;
  }
}

ReadModelShape* ReadModelAddShape(ReadModel* rm, const char* name, ReadModelFrame* frame) {
  const char* stored = ReadModelAddString(rm, name ? name : "");
  if (!stored) return nullptr;
  auto* s = static_cast<ReadModelShape*>(ReadModelAlloc(rm, sizeof(ReadModelShape)));
  if (!s) return nullptr;
  s->Name = stored;
  ListAppend(rm->ShapeCount, rm->FirstShape, rm->LastShape, s);
  if (frame) {
    s->Frame = frame;
    s->PrevInFrame = frame->LastShape;
    if (frame->LastShape) frame->LastShape->NextInFrame = s; else frame->FirstShape = s;
    frame->LastShape = s;
    ++frame->ShapeCount;
  }
  return s;
}

ReadModelMaterial* ReadModelAddMaterial(ReadModel* rm, const char* name) {
  auto* m = static_cast<ReadModelMaterial*>(ReadModelAlloc(rm, sizeof(ReadModelMaterial)));
  if (!m) return nullptr;
  ListAppend(rm->MaterialCount, rm->FirstMaterial, rm->LastMaterial, m);
  m->Name = ReadModelAddString(rm, name ? name : "");
  m->Diffuse = COLOR_F{1.0f, 1.0f, 1.0f, 1.0f};
  m->DiffuseGradBlendType = 2;
  m->SpecularGradBlendType = 1;
  m->DrawBlendMode = 1;
  m->DrawBlendParam = 255;
  return m->Name ? m : nullptr;
}

ReadModelMaterial* ReadModelGetListItem(ReadModel* rm, int n) {
  if (n < 0) n = 0;
  if (n >= rm->MaterialCount) return nullptr;
  ReadModelMaterial* m = rm->FirstMaterial;
  for (int i = 0; i < n && m; ++i) m = m->Next;
  return m;
}

ReadModelTexture* ReadModelAddTexture(ReadModel* rm, const char* name, const char* colorFileName,
                                      const char* alphaFileName, int bumpMapFlag,
                                      float bumpMapScale, int reuseFlag) {
  char currentDir[1024];
  if (FileGetCurrentDir(currentDir, sizeof(currentDir)) != 0) currentDir[0] = '\0';
  char colorPath[2048];
  char alphaPath[2048];
  if (colorFileName) ResolveTexturePath(colorFileName, currentDir, colorPath, sizeof(colorPath));
  if (alphaFileName) ResolveTexturePath(alphaFileName, currentDir, alphaPath, sizeof(alphaPath));
  const char* color = colorFileName ? colorPath : nullptr;
  const char* alpha = alphaFileName ? alphaPath : nullptr;

  // the first texture made with both paths, as a walk of the list from its first would find
  const uint64_t hash = TexturePathsHash(color, alpha);
  auto samePaths = [&](const void* item) {
    const auto* t = static_cast<const ReadModelTexture*>(item);
    return SamePath(t->ColorFilePath, color) && SamePath(t->AlphaFilePath, alpha);
  };
  if (!rm->TextureIndex &&
      !(rm->TextureIndex = static_cast<RMHashIndex*>(ReadModelAlloc(rm, sizeof(RMHashIndex)))))
    return nullptr;
  const RMHashEntry* first = RMHashFind(*rm->TextureIndex, hash, samePaths);
  if (first && reuseFlag) return static_cast<ReadModelTexture*>(const_cast<void*>(first->Item));

  auto* t = static_cast<ReadModelTexture*>(ReadModelAlloc(rm, sizeof(ReadModelTexture)));
  if (!t) return nullptr;
  ListAppend(rm->TextureCount, rm->FirstTexture, rm->LastTexture, t);
  t->Name = ReadModelAddString(rm, name ? name : "");
  if (!t->Name) return nullptr;
  t->BumpMapScale = bumpMapScale;
  t->AddressModeU = 1;
  t->AddressModeV = 1;
  t->FilterMode = 2;
  t->BumpMapFlag = bumpMapFlag;
  if (color && !(t->ColorFilePath = ReadModelAddString(rm, color))) return nullptr;
  if (alpha && !(t->AlphaFilePath = ReadModelAddString(rm, alpha))) return nullptr;
  if (!first && !RMHashAdd(rm, rm->TextureIndex, hash, t, t->Index)) return nullptr;
  return t;
}

ReadModelSkinWeight* ReadModelAddSkinWeight(ReadModel* rm) {
  auto* w = static_cast<ReadModelSkinWeight*>(ReadModelAlloc(rm, sizeof(ReadModelSkinWeight)));
  if (!w) return nullptr;
  ++rm->SkinWeightCount;
  return w;
}

ReadModelAnimSet* ReadModelAddAnimSet(ReadModel* rm, const char* name) {
  auto* s = static_cast<ReadModelAnimSet*>(ReadModelAlloc(rm, sizeof(ReadModelAnimSet)));
  if (!s) return nullptr;
  ListAppend(rm->AnimSetCount, rm->FirstAnimSet, rm->LastAnimSet, s);
  s->Name = ReadModelAddString(rm, name ? name : "");
  return s->Name ? s : nullptr;
}

ReadModelAnim* ReadModelAddAnim(ReadModel* rm, ReadModelAnimSet* set) {
  auto* a = static_cast<ReadModelAnim*>(ReadModelAlloc(rm, sizeof(ReadModelAnim)));
  if (!a) return nullptr;
  ListAppend(rm->AnimCount, rm->FirstAnim, rm->LastAnim, a);
  a->Set = set;
  a->PrevInSet = set->LastAnim;
  if (set->LastAnim) set->LastAnim->NextInSet = a; else set->FirstAnim = a;
  set->LastAnim = a;
  ++set->AnimCount;
  return a;
}

ReadModelAnimKeySet* ReadModelAddAnimKeySet(ReadModel* rm, ReadModelAnim* anim) {
  auto* k = static_cast<ReadModelAnimKeySet*>(ReadModelAlloc(rm, sizeof(ReadModelAnimKeySet)));
  if (!k) return nullptr;
  ListAppend(rm->KeySetCount, rm->FirstKeySet, rm->LastKeySet, k);
  k->PrevInAnim = anim->LastKeySet;
  if (anim->LastKeySet) anim->LastKeySet->NextInAnim = k; else anim->FirstKeySet = k;
  anim->LastKeySet = k;
  ++anim->KeySetCount;
  k->TimeType = 1;
  return k;
}

int ReadModelMeshAddMaterial(ReadModel* rm, ReadModelMesh* mesh, ReadModelMaterial* material) {
  return GrowAppend(rm, mesh->MaterialCount, mesh->MaterialCapacity, mesh->Materials, material);
}

int ReadModelMeshAddSkinWeight(ReadModel* rm, ReadModelMesh* mesh, ReadModelSkinWeight* weight) {
  return GrowAppend(rm, mesh->SkinWeightCount, mesh->SkinWeightCapacity, mesh->SkinWeights, weight);
}

int ReadModelAddMapTexture(ReadModel* rm, ReadModelTextureList* list, ReadModelTexture* texture) {
  return GrowAppend(rm, list->Count, list->Capacity, list->Items, texture);
}

int ReadModelAllocFaces(ReadModel* rm, ReadModelMesh* mesh, int faceCount) {
  if (faceCount < 0) return -1;
  auto* faces = static_cast<ReadModelFace*>(
      ReadModelAlloc(rm, sizeof(ReadModelFace) * static_cast<uint64_t>(faceCount)));
  if (!faces && faceCount > 0) return -1;
  mesh->Faces = faces;
  mesh->FaceCount = faceCount;
  return 0;
}

int ReadModelSetFaceIndexCount(ReadModel* rm, ReadModelMesh* mesh, ReadModelFace* face,
                               int indexCount) {
  if (indexCount < 0) return -1;
  uint32_t sets = mesh->FaceSets & ((1u << READMODEL_SET_COUNT) - 1);
  int setCount = PopCount(sets);
  int* store = nullptr;
  if (indexCount > 0 && setCount > 0) {
    store = static_cast<int*>(
        ReadModelAlloc(rm, sizeof(int) * static_cast<uint64_t>(indexCount) * setCount));
    if (!store) return -1;
  }
  face->IndexCount = indexCount;
  face->Sets = store ? sets : 0;
  face->Index = store;
  face->IndexStorage = store ? indexCount * setCount : 0;
  return 0;
}

int* ReadModelFaceIndices(const ReadModelFace* face, int set) {
  if (set < 0 || set >= READMODEL_SET_COUNT || !face->Index) return nullptr;
  uint32_t bit = READMODEL_SET_BIT(set);
  if (!(face->Sets & bit)) return nullptr;
  int slot = PopCount(face->Sets & (bit - 1));
  return face->Index + static_cast<size_t>(slot) * static_cast<size_t>(face->IndexCount);
}

const int* ReadModelFaceIndicesOrZero(const ReadModelFace* face, int set) {
  static const int kZeros[READMODEL_MAX_FACE_INDICES] = {};
  const int* p = ReadModelFaceIndices(face, set);
  return p ? p : kZeros;
}

int ReadModelKeySize(int dataType) {
  switch (dataType) {
    case READMODEL_KEY_QUATERNION:
    case READMODEL_KEY_QUATERNION7: return 16;
    case READMODEL_KEY_VECTOR: return 12;
    case READMODEL_KEY_MATRIX4X3: return 48;
    case READMODEL_KEY_MATRIX3X3: return 36;
    case READMODEL_KEY_FLOAT4:
    case READMODEL_KEY_FLOAT5:
    case READMODEL_KEY_FLOAT6: return 4;
    default: return 0;
  }
}

int ReadModelAllocKeys(ReadModel* rm, ReadModelAnimKeySet* keySet, int count) {
  if (count < 0) return -1;
  uint64_t keySize = static_cast<uint64_t>(ReadModelKeySize(keySet->DataType));
  void* data = nullptr;
  float* times = nullptr;
  if (count > 0) {
    data = ReadModelAlloc(rm, keySize * static_cast<uint64_t>(count));
    if (!data) return -1;
    if (keySet->TimeType == 1) {
      times = static_cast<float*>(ReadModelAlloc(rm, sizeof(float) * static_cast<uint64_t>(count)));
      if (!times) return -1;
    }
  }
  keySet->KeyCount = count;
  keySet->KeyData = data;
  keySet->KeyTimes = times;
  uint64_t total = static_cast<uint64_t>(rm->AnimKeyDataSize) + (keySize + 4) * static_cast<uint64_t>(count);
  rm->AnimKeyDataSize = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
  return 0;
}
