// Invariants of converted model bases.
#include "tests/support/converted_base_check.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/model/model_handles.h>

namespace {

struct Checker {
  int failures = 0;
  std::string* report;
  __attribute__((format(printf, 2, 3))) void Fail(const char* fmt, ...) {
    char buf[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    if (report && failures < 20) *report += std::string(buf) + "\n";
    ++failures;
  }
};

template <class T>
bool Inside(const T* p, const T* first, long count) {
  return p >= first && p < first + count;
}

// The requested size of a tracked block (its header sits 16-byte aligned before it).
size_t BlockSize(const void* p) {
  constexpr size_t kHeader = (sizeof(MemBlockHeader) + 15) & ~size_t{15};
  return reinterpret_cast<const MemBlockHeader*>(static_cast<const uint8_t*>(p) - kHeader)->Size;
}

}  // namespace

const MV1ModelBase* ConvertedBase(int handle) { return MV1GetModelBaseCheckedNoInit(handle); }

int ModelBaseCount() { return MV1ModelBaseTable.Count; }

int CheckConvertedBase(const MV1ModelBase* base, const ReadModel* rm, bool normalsMade, std::string* report) {
  Checker c{0, report};
  if (!base) {
    c.Fail("no base");
    return c.failures;
  }
  const int F = base->FrameCount;
  if (F < 0 || base->MeshCount < 0 || base->TriangleListCount < 0 || base->SkinBoneCount < 0 ||
      base->MaterialCount < 0 || base->TextureCount < 0 || base->ShapeCount < 0)
    c.Fail("negative count");
  const uint8_t* vblock = static_cast<const uint8_t*>(base->VertexData);
  const uint8_t* vend = vblock ? vblock + base->VertexDataSize : nullptr;
  auto inVertex = [&](const void* p, uint64_t bytes) {
    auto* b = static_cast<const uint8_t*>(p);
    return bytes == 0 || (vblock && b >= vblock && b + bytes <= vend);
  };
  // fill counters within their areas, areas within the vertex block
  if (!inVertex(base->Type0Vertices, 32ull * base->FillType0VertexCount) ||
      !inVertex(base->Type1Vertices, 48ull * base->FillType1VertexCount) ||
      !inVertex(base->Type2Vertices, 64ull * base->FillType2VertexCount) ||
      !inVertex(base->Type3Vertices, base->FillType3ByteSize) ||
      !inVertex(base->Positions, base->FillPositionByteSize) ||
      !inVertex(base->Normals, sizeof(MV1MeshNormal) * base->FillNormalCount) ||
      !inVertex(base->MeshVertices, base->FillMeshVertexByteSize) ||
      !inVertex(base->Faces, sizeof(MV1MeshFace) * base->FillFaceCount) ||
      !inVertex(base->TListMeshVertexIndices, 4ull * base->FillTListMeshVertexIndexCount) ||
      !inVertex(base->Indices, 2ull * base->IndexFillCount))
    c.Fail("a fill counter runs past its area");
  auto inStrings = [&](const char* s) {
    return s >= base->StringBuffer && s + std::strlen(s) < base->StringBuffer + base->StringSize;
  };
  if (!inStrings(base->Name) || !inStrings(base->FilePath)) c.Fail("model name outside the strings");

  // frames
  int topCount = 0;
  for (const MV1FrameBase* t = base->FirstTopFrame; t && topCount <= F; t = t->Next) ++topCount;
  if (topCount != base->TopFrameCount) c.Fail("top-level list holds %d of %d", topCount, base->TopFrameCount);
  int meshSeen = 0;
  for (int i = 0; i < F; ++i) {
    const MV1FrameBase* f = &base->Frame[i];
    if (f->Index != i || f->Container != base || !inStrings(f->Name)) c.Fail("frame %d head", i);
    if (f->Parent && !(Inside(f->Parent, base->Frame, i))) c.Fail("frame %d parent after it", i);
    int children = 0;
    for (const MV1FrameBase* ch = f->FirstChild; ch && children <= F; ch = ch->Next, ++children)
      if (ch->Parent != f) c.Fail("frame %d child link", i);
    if (children != f->ChildCount) c.Fail("frame %d child count", i);
    if (f->PositionStride != f->BonesPerVertex * 8 + 12) c.Fail("frame %d stride", i);
    if (f->MeshCount > 0 && f->Mesh != base->Mesh + meshSeen) c.Fail("frame %d meshes not in order", i);
    meshSeen += f->MeshCount;
    for (int m = 0; m < f->MeshCount; ++m)
      if (f->Mesh[m].Container != f) c.Fail("frame %d mesh %d owner", i, m);
    if (f->PositionCount > 0 && !inVertex(f->Position, static_cast<uint64_t>(f->PositionCount) * f->PositionStride))
      c.Fail("frame %d positions outside the block", i);
    if (f->NormalCount > 0 && !inVertex(f->Normal, sizeof(MV1MeshNormal) * f->NormalCount))
      c.Fail("frame %d normals outside the block", i);
    for (int n = 0; n < f->NormalCount; ++n) {
      const VECTOR& v = f->Normal[n].Normal;
      if (normalsMade) {
        float len = v.x * v.x + v.y * v.y + v.z * v.z;
        if (!std::isfinite(len) || std::fabs(len - 1.0f) > 1e-4f) {
          c.Fail("frame %d normal %d not a unit vector", i, n);
          break;
        }
      }
    }
    for (int p = 0; p < f->PositionCount; ++p) {
      const MV1PositionBoneWeight* bw = MV1PositionBones(MV1FramePositionAt(f, p));
      for (int k = 0; k < f->BonesPerVertex && bw[k].Index != 0xFFFFFFFFu; ++k)
        if (bw[k].Index >= static_cast<uint32_t>(f->UseSkinBoneCount)) c.Fail("frame %d position %d bone", i, p);
    }
    for (int b = 0; b < f->UseSkinBoneCount; ++b)
      if (!Inside(f->UseSkinBone[b], base->SkinBone, base->SkinBoneCount)) c.Fail("frame %d bone list entry %d", i, b);
    // skin-bone range: exactly the bones that follow this frame
    int own = 0;
    for (int b = 0; b < base->SkinBoneCount; ++b) own += base->SkinBone[b].Index == i;
    if (own != f->SkinBoneCount) c.Fail("frame %d drives %d bones, counts %d", i, own, f->SkinBoneCount);
    for (int b = 0; b < f->SkinBoneCount; ++b)
      if (f->SkinBone[b].Index != i) c.Fail("frame %d skin-bone range", i);
  }
  if (meshSeen != base->MeshCount) c.Fail("frames hold %d of %d meshes", meshSeen, base->MeshCount);

  // change masks: a frame's words hold exactly its own bit and its subtree's frame and mesh bits
  auto bitOf = [](const MV1ChangeInfo& info) {
    int b = 0;
    while (b < 31 && !(info.OwnBit & (1u << b))) ++b;
    return info.WordIndex * 32 + b;
  };
  for (int i = 0; i < F; ++i) {
    const MV1FrameBase* f = &base->Frame[i];
    for (int set = 0; set < 2; ++set) {
      const MV1ChangeInfo& info = set == 0 ? f->ChangeDrawMaterialInfo : f->ChangeMatrixInfo;
      std::set<int> want;
      std::vector<const MV1FrameBase*> stack{f};
      while (!stack.empty()) {
        const MV1FrameBase* s = stack.back();
        stack.pop_back();
        const MV1ChangeInfo& si = set == 0 ? s->ChangeDrawMaterialInfo : s->ChangeMatrixInfo;
        want.insert(bitOf(si));
        if (set == 0)
          for (int m = 0; m < s->MeshCount; ++m) want.insert(bitOf(s->Mesh[m].ChangeInfo));
        for (const MV1FrameBase* ch = s->FirstChild; ch; ch = ch->Next) stack.push_back(ch);
      }
      std::set<int> got;
      if (!info.SubtreeMask) {
        c.Fail("frame %d has no mask", i);
        continue;
      }
      for (int w = 0; w < info.MaskWordCount; ++w)
        for (int b = 0; b < 32; ++b)
          if (info.SubtreeMask[w] & (1u << b)) got.insert((info.WordIndex + w) * 32 + b);
      if (got != want) c.Fail("frame %d change mask %d", i, set);
    }
  }

  // meshes and their lists
  int listSeen = 0;
  for (int i = 0; i < base->MeshCount; ++i) {
    const MV1MeshBase* m = &base->Mesh[i];
    const MV1FrameBase* f = m->Container;
    if (!Inside(m->Material, base->Material, base->MaterialCount)) c.Fail("mesh %d material", i);
    if (m->VertexStride != m->UVSetCount * m->FloatsPerUV * 4 + 16 || m->UVSetCount < 1 || m->UVSetCount > 8)
      c.Fail("mesh %d stride", i);
    if (m->VertexCount > 0 && !inVertex(m->Vertex, static_cast<uint64_t>(m->VertexCount) * m->VertexStride))
      c.Fail("mesh %d vertices outside the block", i);
    for (int v = 0; v < m->VertexCount; ++v) {
      const MV1MeshVertex* mv = MV1MeshVertexAt(m, v);
      if (mv->PositionIndex >= static_cast<uint32_t>(f->PositionCount) || mv->NormalIndex >= static_cast<uint32_t>(f->NormalCount)) {
        c.Fail("mesh %d vertex %d index", i, v);
        break;
      }
    }
    if (m->TriangleListCount > 0 && m->TriangleList != base->TriangleList + listSeen) c.Fail("mesh %d lists not in order", i);
    listSeen += m->TriangleListCount;
    for (int fc = 0; fc < m->FaceCount; ++fc) {
      const MV1MeshFace& face = m->Face[fc];
      for (uint32_t v : face.VertexIndex)
        if (v >= static_cast<uint32_t>(m->VertexCount)) c.Fail("mesh %d face %d vertex", i, fc);
      if (face.TriangleListIndex >= m->TriangleListCount ||
          m->TriangleList[face.TriangleListIndex].VertexType != face.TriangleListType)
        c.Fail("mesh %d face %d list", i, fc);
    }
    int lastType = 0;
    for (int l = 0; l < m->TriangleListCount; ++l) {
      const MV1TriangleList* t = &m->TriangleList[l];
      if (t->Container != m) c.Fail("mesh %d list %d owner", i, l);
      if (t->VertexType < lastType) c.Fail("mesh %d lists out of type order", i);
      lastType = t->VertexType;
      int maxIndices = (t->VertexType == 1 || t->VertexType == 2) ? 65532 : 65535;
      if (t->IndexCount > maxIndices || t->IndexCount % 3 != 0 || t->IndexCount == 0) c.Fail("mesh %d list %d index count %d", i, l, t->IndexCount);
      if (t->UseBoneCount < 0 || t->UseBoneCount > MV1_TRIANGLE_LIST_USE_BONE_MAX) c.Fail("mesh %d list %d bones", i, l);
      int stride = t->VertexType == 0 ? 32 : t->VertexType == 1 ? 48 : t->VertexType == 2 ? 64 : MV1FreeBoneVertexStride(t->BonesPerVertex);
      if (t->VertexStride != stride) c.Fail("mesh %d list %d stride", i, l);
      if (!inVertex(t->Vertices, static_cast<uint64_t>(t->VertexCount) * stride) ||
          !inVertex(t->MeshVertexIndex, 4ull * t->VertexCount) || !inVertex(t->Index, 2ull * t->IndexCount))
        c.Fail("mesh %d list %d arrays outside the block", i, l);
      for (int k = 0; k < t->IndexCount; ++k)
        if (t->Index[k] >= t->VertexCount) {
          c.Fail("mesh %d list %d index %d", i, l, k);
          break;
        }
      for (int v = 0; v < t->VertexCount; ++v) {
        if (t->MeshVertexIndex[v] >= static_cast<uint32_t>(m->VertexCount)) {
          c.Fail("mesh %d list %d mesh vertex", i, l);
          break;
        }
        // every bone of the vertex's position is one of the list's bones, within the type's count
        const MV1MeshVertex* mv = MV1MeshVertexAt(m, t->MeshVertexIndex[v]);
        const MV1PositionBoneWeight* bw = MV1PositionBones(MV1FramePositionAt(f, mv->PositionIndex));
        int n = 0;
        for (; n < f->BonesPerVertex && bw[n].Index != 0xFFFFFFFFu; ++n) {
          if (t->VertexType == 1 || t->VertexType == 2) {
            bool found = false;
            for (int s = 0; s < t->UseBoneCount && !found; ++s) found = t->UseBone[s] == static_cast<int>(bw[n].Index);
            if (!found) c.Fail("mesh %d list %d vertex %d bone outside the list", i, l, v);
          }
        }
        int limit = t->VertexType == 0 ? 0 : t->VertexType == 1 ? 4 : t->VertexType == 2 ? 8 : t->BonesPerVertex;
        if (n > limit) c.Fail("mesh %d list %d vertex %d has %d bones", i, l, v, n);
      }
    }
  }
  if (listSeen != base->TriangleListCount) c.Fail("meshes hold %d of %d lists", listSeen, base->TriangleListCount);

  // skin bones in frame order, bone-use entries consistent
  int uses = 0;
  for (int b = 0; b < base->SkinBoneCount; ++b) {
    const MV1SkinBoneBase* bone = &base->SkinBone[b];
    if (bone->Index < 0 || bone->Index >= F) c.Fail("bone %d frame", b);
    if (b > 0 && bone[-1].Index > bone->Index) c.Fail("bones out of frame order at %d", b);
    for (int u = 0; u < bone->UseCount; ++u) {
      const MV1BoneUseEntry& e = bone->Use[u];
      if (!Inside(&e, base->SkinBoneUse, base->SkinBoneUseCount) || e.Value[0] < 0 || e.Value[0] >= F ||
          e.Value[1] < 0 || e.Value[1] >= base->Frame[e.Value[0]].UseSkinBoneCount ||
          base->Frame[e.Value[0]].UseSkinBone[e.Value[1]] != bone)
        c.Fail("bone %d use %d", b, u);
    }
    uses += bone->UseCount;
  }
  if (uses != base->SkinBoneUseCount) c.Fail("bone uses %d of %d", uses, base->SkinBoneUseCount);

  // shapes
  for (int s = 0; s < base->ShapeCount; ++s) {
    const MV1ShapeBase* sh = &base->Shape[s];
    if (!Inside(sh->Container, base->Frame, F) || !inStrings(sh->Name)) c.Fail("shape %d head", s);
    for (int k = 0; k < sh->MeshCount; ++k) {
      const MV1ShapeMeshBase* sm = sh->Mesh + k;
      if (!Inside(sm, base->ShapeMesh, base->ShapeMeshCount) || sm->VertexCount <= 0 || !sm->TargetMesh->HasShape)
        c.Fail("shape %d mesh %d", s, k);
      for (int v = 0; v < sm->VertexCount; ++v)
        if (sm->Vertex[v].TargetMeshVertex >= static_cast<uint32_t>(sm->TargetMesh->VertexCount)) c.Fail("shape %d vertex", s);
    }
  }
  // animations
  for (int a = 0; a < base->AnimFrameCount; ++a) {
    const MV1AnimFrameBase* af = &base->AnimFrame[a];
    if (af->TargetFrameIndex < 0 || af->TargetFrameIndex >= F || af->TargetFrame != &base->Frame[af->TargetFrameIndex])
      c.Fail("anim frame %d target", a);
    for (int k = 0; k < af->KeySetCount; ++k)
      if (!Inside(af->KeySet + k, base->AnimKeySet, base->AnimKeySetCount) || af->KeySet[k].KeyCount <= 0)
        c.Fail("anim frame %d key set %d", a, k);
  }

  // no word of the base's blocks points into the read model's pool
  if (rm) {
    std::vector<std::pair<uintptr_t, uintptr_t>> pool;
    for (const ChunkListHeader* ch = static_cast<const ChunkListHeader*>(rm->PoolHead); ch; ch = ch->Next) {
      uintptr_t lo = reinterpret_cast<uintptr_t>(ch);
      pool.emplace_back(lo, lo + BlockSize(ch));
    }
    std::sort(pool.begin(), pool.end());
    // every pointer field of the base's records (the blocks also hold indices that may look like
    // addresses, so they are not scanned word by word)
    auto check = [&](const void* p, const char* what, int i) {
      uintptr_t v = reinterpret_cast<uintptr_t>(p);
      auto it = std::upper_bound(pool.begin(), pool.end(), std::make_pair(v, UINTPTR_MAX));
      if (p && it != pool.begin() && v < std::prev(it)->second) c.Fail("%s %d points into the read model", what, i);
    };
    check(base->Name, "name", 0);
    check(base->FilePath, "path", 0);
    check(base->DirectoryPath, "folder", 0);
    for (int i = 0; i < F; ++i) {
      const MV1FrameBase* f = &base->Frame[i];
      for (const void* p : {(const void*)f->Name, (const void*)f->Position, (const void*)f->Normal,
                            (const void*)f->UseSkinBone, (const void*)f->SkinBone, (const void*)f->Shape})
        check(p, "frame", i);
    }
    for (int i = 0; i < base->MeshCount; ++i)
      for (const void* p : {(const void*)base->Mesh[i].Vertex, (const void*)base->Mesh[i].Face}) check(p, "mesh", i);
    for (int i = 0; i < base->TriangleListCount; ++i) {
      const MV1TriangleList* t = &base->TriangleList[i];
      for (const void* p : {(const void*)t->MeshVertexIndex, (const void*)t->Vertices, (const void*)t->Index}) check(p, "list", i);
    }
    for (int i = 0; i < base->MaterialCount; ++i) check(base->Material[i].Name, "material", i);
    for (int i = 0; i < base->TextureCount; ++i) {
      const MV1TextureBase* t = &base->Texture[i];
      for (const void* p : {(const void*)t->Name, (const void*)t->ColorFileName, (const void*)t->AlphaFileName,
                            (const void*)t->ColorImage, (const void*)t->AlphaImage})
        check(p, "texture", i);
    }
    for (int i = 0; i < base->ShapeCount; ++i) check(base->Shape[i].Name, "shape", i);
    for (int i = 0; i < base->ShapeMeshCount; ++i) check(base->ShapeMesh[i].Vertex, "shape mesh", i);
    for (int i = 0; i < base->AnimCount; ++i) check(base->Anim[i].Name, "anim", i);
    for (int i = 0; i < base->AnimKeySetCount; ++i) {
      const MV1AnimKeySet* k = &base->AnimKeySet[i];
      check(k->KeyData, "key set", i);
      if (k->TimeType) check(k->KeyTime, "key times", i);
    }
    for (int i = 0; i < base->SkinBoneCount; ++i) check(base->SkinBone[i].Use, "bone", i);
  }
  return c.failures;
}
