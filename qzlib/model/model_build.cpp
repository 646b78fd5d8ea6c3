#include <climits>
#include <cstring>

#include <qzlib/model/model_build.h>
#include <qzlib/model/model_handles.h>

int MV1ChangeSetWordsA(int frameCount, int meshCount) {
  return 1 + static_cast<int>((static_cast<int64_t>(frameCount) + meshCount + 31) / 32);
}

int MV1ChangeSetWordsB(int frameCount) { return 1 + (frameCount + 31) / 32; }

namespace {

void PlaceBit(MV1ChangeInfo* info, int64_t bit) {
  info->WordIndex = static_cast<int>(bit / 32);
  info->OwnBit = 1u << (bit % 32);
  info->SubtreeMask = nullptr;
  info->MaskWordCount = 0;
}

int64_t BitNumber(const MV1ChangeInfo* info) {
  int bitInWord = 0;
  while (bitInWord < 31 && !(info->OwnBit & (1u << bitInWord))) ++bitInWord;
  return static_cast<int64_t>(info->WordIndex) * 32 + bitInWord;
}

// Walks the frame tree in pre-order through the links (no recursion, any depth): open(frame,
// bit A, bit B) on entering a frame, close(frame, end bit A, end bit B) once its subtree is done,
// the end bits being one past the subtree's last bit. -1 when the links break the invariants of
// model_base.h: a link leaving the frame array, a child whose parent is another frame, a parent
// after its child, siblings out of index order, frame 0 not the first top-level frame, a mesh
// range outside the mesh array or meshes of another frame, or frames or meshes not reached
// exactly once. The walk is deterministic, so a frame reached twice would loop: the step count
// bounds it.
template <class Open, class Close>
int WalkFrames(MV1ModelBase* base, Open open, Close close) {
  int64_t bitA = 32, bitB = 32, meshes = 0;
  int reached = 0;
  MV1FrameBase* frames = base->Frame;
  auto inside = [&](const MV1FrameBase* f) { return f >= frames && f < frames + base->FrameCount; };
  MV1FrameBase* f = base->FrameCount > 0 ? base->FirstTopFrame : nullptr;
  if (base->FrameCount > 0 && (f != frames || f->Parent)) return -1;
  while (f) {
    if (!inside(f) || (f->Parent && (!inside(f->Parent) || f->Parent >= f))) return -1;
    if (++reached > base->FrameCount) return -1;
    if (f->MeshCount < 0 || f->MeshCount > base->MeshCount - meshes) return -1;
    if (f->MeshCount > 0) {
      if (f->Mesh < base->Mesh || f->Mesh + f->MeshCount > base->Mesh + base->MeshCount) return -1;
      for (int m = 0; m < f->MeshCount; ++m)
        if (f->Mesh[m].Container != f) return -1;
    }
    open(f, bitA, bitB);
    bitA += 1 + f->MeshCount;
    bitB += 1;
    meshes += f->MeshCount;
    // Next in pre-order: the first child, else the next sibling of the frame or of the nearest
    // ancestor that has one; every subtree left on the way is closed.
    if (f->FirstChild) {
      if (!inside(f->FirstChild) || f->FirstChild->Parent != f) return -1;
      f = f->FirstChild;
      continue;
    }
    for (;;) {
      close(f, bitA, bitB);
      if (f->Next) {
        if (!inside(f->Next) || f->Next->Parent != f->Parent || f->Next <= f) return -1;
        f = f->Next;
        break;
      }
      f = f->Parent;
      if (!f) break;
    }
  }
  if (reached != base->FrameCount || meshes != base->MeshCount) return -1;
  return 0;
}

// Writes the subtree mask of an item whose subtree is `bits` bits long from its own bit.
void FillMask(MV1ChangeInfo* info, uint32_t* words, int64_t bits) {
  std::memset(words, 0, sizeof(uint32_t) * info->MaskWordCount);
  BitRangeCursor cursor;
  BitRangeSetup(&cursor, words, static_cast<int>(BitNumber(info) % 32), static_cast<int>(bits));
  info->SubtreeMask = words;
}

}  // namespace

int MV1CheckFrameLinks(MV1ModelBase* base) {
  return WalkFrames(base, [](MV1FrameBase*, int64_t, int64_t) {},
                    [](MV1FrameBase*, int64_t, int64_t) {});
}

int MV1NumberChangeBits(MV1ModelBase* base, uint64_t* setBytes, uint64_t setCap) {
  base->ChangeMaskSizeA = 0;
  base->ChangeMaskSizeB = 0;
  if (setBytes) *setBytes = 0;
  int64_t wordsA = 0, wordsB = 0;
  int r = WalkFrames(
      base,
      [&](MV1FrameBase* f, int64_t bitA, int64_t bitB) {
        PlaceBit(&f->ChangeDrawMaterialInfo, bitA);
        PlaceBit(&f->ChangeMatrixInfo, bitB);
        for (int m = 0; m < f->MeshCount; ++m) PlaceBit(&f->Mesh[m].ChangeInfo, bitA + 1 + m);
      },
      [&](MV1FrameBase* f, int64_t endA, int64_t endB) {
        MV1ChangeInfo* a = &f->ChangeDrawMaterialInfo;
        MV1ChangeInfo* b = &f->ChangeMatrixInfo;
        int64_t ownA = BitNumber(a), ownB = BitNumber(b);
        a->MaskWordCount = static_cast<int>((ownA % 32 + (endA - ownA) + 31) / 32);
        b->MaskWordCount = static_cast<int>((ownB % 32 + (endB - ownB) + 31) / 32);
        wordsA += a->MaskWordCount;
        wordsB += b->MaskWordCount;
      });
  if (r != 0) return -1;
  const uint64_t larger = static_cast<uint64_t>(wordsA > wordsB ? wordsA : wordsB) * 4;
  if (setBytes) *setBytes = larger;
  if (larger > setCap || larger > INT_MAX - 16) return -2;
  base->ChangeMaskSizeA = static_cast<int>(wordsA * 4);
  base->ChangeMaskSizeB = static_cast<int>(wordsB * 4);
  return 0;
}

void MV1FillChangeMasks(MV1ModelBase* base) {
  // The masks are laid out in the order the subtrees close.
  uint32_t* wa = base->ChangeMaskA;
  uint32_t* wb = base->ChangeMaskB;
  WalkFrames(
      base, [](MV1FrameBase*, int64_t, int64_t) {},
      [&](MV1FrameBase* f, int64_t endA, int64_t endB) {
        MV1ChangeInfo* a = &f->ChangeDrawMaterialInfo;
        MV1ChangeInfo* b = &f->ChangeMatrixInfo;
        FillMask(a, wa, endA - BitNumber(a));
        FillMask(b, wb, endB - BitNumber(b));
        wa += a->MaskWordCount;
        wb += b->MaskWordCount;
      });
}
int MV1SetupChangeBits(MV1ModelBase* base, void** chunkHead, uint64_t* setBytes,
                       uint64_t setCap) {
  if (int r = MV1NumberChangeBits(base, setBytes, setCap); r != 0) return r;
  base->ChangeMaskA = static_cast<uint32_t*>(ChunkListAlloc(base->ChangeMaskSizeA + 4, chunkHead));
  if (!base->ChangeMaskA) return -1;
  base->ChangeMaskB = static_cast<uint32_t*>(ChunkListAlloc(base->ChangeMaskSizeB + 4, chunkHead));
  if (!base->ChangeMaskB) return -1;
  MV1FillChangeMasks(base);
  return 0;
}

void MV1SetupFrameCounts(MV1ModelBase* base) {
  int64_t totalTriangles = 0, totalVertices = 0;
  for (int i = 0; i < base->FrameCount; ++i) {
    MV1FrameBase* f = &base->Frame[i];
    int64_t triangles = 0, vertices = 0;
    for (int m = 0; m < f->MeshCount; ++m) {
      const MV1MeshBase* mesh = &f->Mesh[m];
      for (int t = 0; t < mesh->TriangleListCount; ++t) {
        triangles += mesh->TriangleList[t].IndexCount / 3;
        vertices += mesh->TriangleList[t].VertexCount;
      }
    }
    f->TriangleCount = triangles > INT_MAX ? INT_MAX : static_cast<int>(triangles);
    f->VertexCount = vertices > INT_MAX ? INT_MAX : static_cast<int>(vertices);
    totalTriangles += triangles;
    totalVertices += vertices;
  }
  base->TriangleCount = totalTriangles > INT_MAX ? INT_MAX : static_cast<int>(totalTriangles);
  base->VertexCount = totalVertices > INT_MAX ? INT_MAX : static_cast<int>(totalVertices);
}

namespace {

bool InfoInside(const MV1ChangeInfo& info, int setWords, const uint32_t* masks, int maskBytes,
                bool isFrame) {
  if (info.WordIndex < 1 || info.WordIndex >= setWords) return false;
  if (info.OwnBit == 0 || (info.OwnBit & (info.OwnBit - 1)) != 0) return false;
  if (!isFrame) return info.SubtreeMask == nullptr;
  if (info.MaskWordCount < 1 || info.MaskWordCount > setWords - info.WordIndex) return false;
  if (!info.SubtreeMask || !masks) return false;
  // Compared as addresses: a pointer from a file may point anywhere.
  uintptr_t at = reinterpret_cast<uintptr_t>(info.SubtreeMask);
  uintptr_t begin = reinterpret_cast<uintptr_t>(masks);
  if (at < begin || (at - begin) % 4 != 0) return false;
  return (at - begin) / 4 + static_cast<uint64_t>(info.MaskWordCount) <=
         static_cast<uint64_t>(maskBytes / 4);
}

}  // namespace

int MV1CheckChangeInfos(const MV1ModelBase* base) {
  int wordsA = MV1ChangeSetWordsA(base->FrameCount, base->MeshCount);
  int wordsB = MV1ChangeSetWordsB(base->FrameCount);
  for (int i = 0; i < base->FrameCount; ++i) {
    const MV1FrameBase& f = base->Frame[i];
    if (!InfoInside(f.ChangeDrawMaterialInfo, wordsA, base->ChangeMaskA, base->ChangeMaskSizeA, true) ||
        !InfoInside(f.ChangeMatrixInfo, wordsB, base->ChangeMaskB, base->ChangeMaskSizeB, true))
      return -1;
  }
  for (int i = 0; i < base->MeshCount; ++i)
    if (!InfoInside(base->Mesh[i].ChangeInfo, wordsA, nullptr, 0, false)) return -1;
  return 0;
}
