// Reworking a loaded base: normal recalculation with a smoothing angle and merging of equal
// positions and mesh vertices.
#include <cmath>
#include <cstdint>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/mathutil.h>
#include <qzlib/base/memory.h>
#include <qzlib/math/math_inline.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_mesh_process.h>
#include <qzlib/base/engine_texts.h>

namespace {

// Tracked blocks taken while a frame is reworked; every block still held is freed at the end.
class WorkBlocks {
 public:
  ~WorkBlocks() {
    for (int i = 0; i < count_; ++i) MEM_FREE(blocks_[i]);
    MEM_FREE(blocks_);
  }
  // size bytes (at least 1), or null after logging message.
  void* Take(size_t size, const char* message) {
    if (count_ == capacity_) {
      int cap = capacity_ ? capacity_ * 2 : 16;
      void** grown = static_cast<void**>(MEM_REALLOC(blocks_, sizeof(void*) * cap));
      if (!grown) {
        WriteLog(message);
        return nullptr;
      }
      blocks_ = grown;
      capacity_ = cap;
    }
    void* p = MEM_ALLOC(size ? size : 1);
    if (!p) {
      WriteLog(message);
      return nullptr;
    }
    blocks_[count_++] = p;
    return p;
  }
  template <class T>
  T* Array(size_t n, const char* message) {
    return static_cast<T*>(Take(sizeof(T) * n, message));
  }
  // Hands a block over to its new owner: it is no longer freed here.
  void Keep(void* p) {
    for (int i = 0; i < count_; ++i)
      if (blocks_[i] == p) {
        blocks_[i] = blocks_[--count_];
        return;
      }
  }

 private:
  void** blocks_ = nullptr;
  int count_ = 0, capacity_ = 0;
};

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

uint32_t HashPosition(const VECTOR& p) {
  uint32_t h = Bits(p.x) * 0x9E3779B1u;
  h ^= Bits(p.y) * 0x85EBCA77u;
  h ^= Bits(p.z) * 0xC2B2AE3Du;
  return h ^ (h >> 15);
}

uint32_t HashBytes(const uint8_t* p, int n) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

// Bone pairs of a position up to the end marker.
int BoneCount(const MV1FrameBase* f, MV1MeshPosition* p) {
  const MV1PositionBoneWeight* pairs = MV1PositionBones(p);
  int n = 0;
  while (n < f->BonesPerVertex && pairs[n].Index != 0xFFFFFFFFu) ++n;
  return n;
}

void FreeRunTimeBuffers(MV1TriangleList* list) {
  MEM_FREE(list->TempVertexBuffer);
  MEM_FREE(list->OutlinePositions);
  list->TempVertexBuffer = nullptr;
  list->OutlinePositions = nullptr;
  list->TempVertexBufferAllocated = 0;
  list->OutlinePositionsAllocated = 0;
}

int PowerOfTwoAtLeast(int n) {
  int p = 16;
  while (p < n * 2) p <<= 1;
  return p;
}

// ---- Normal recalculation ----

// The new layout of one mesh, computed before anything of the base is changed.
struct MeshPlan {
  uint8_t* vertices;         // new vertex records
  int vertexCount;
  uint32_t* cornerVertex;    // new vertex of every face corner
  uint32_t* origin;          // old vertex of every new vertex
  bool replaceVertices;      // a larger array: vertices becomes the mesh's own
  MV1ShapeVertexBase** shapeVertices;  // per shape mesh of the base (null when not this mesh's)
  int* shapeVertexCounts;
};

struct ListPlan {
  uint32_t* meshVertexIndex;
  uint8_t* records;
  int vertexCount;
  uint16_t* indices;
};

}  // namespace

int MV1RecalcNormals(MV1FrameBase* frame, float smoothingAngle) {
  if (!MV1SystemInitFlag) return -1;
  if (frame->MeshCount <= 0) return 0;
  frame->SmoothingAngle = smoothingAngle;
  frame->NormalsFromFaces = 1;
  float sinA, cosA;
  SinCos(smoothingAngle, &sinA, &cosA);
  MV1ModelBase* base = frame->Container;
  WorkBlocks work;

  // Faces of the frame, numbered over its meshes.
  int faceTotal = 0;
  for (int m = 0; m < frame->MeshCount; ++m) faceTotal += frame->Mesh[m].FaceCount;
  const int positionCount = frame->PositionCount;
  VECTOR* faceNormal = work.Array<VECTOR>(faceTotal, TEXT_MV1_RECALC_ALLOC_FAILED "\n");
  uint32_t* facePos = work.Array<uint32_t>(static_cast<size_t>(faceTotal) * 3,
                                           TEXT_MV1_RECALC_ALLOC_FAILED "\n");
  if (!faceNormal || !facePos) return -1;
  {
    int fi = 0;
    for (int m = 0; m < frame->MeshCount; ++m) {
      const MV1MeshBase* mesh = &frame->Mesh[m];
      for (int f = 0; f < mesh->FaceCount; ++f, ++fi) {
        VECTOR p[3];
        for (int c = 0; c < 3; ++c) {
          uint32_t v = mesh->Face[f].VertexIndex[c];
          uint32_t pi = v < static_cast<uint32_t>(mesh->VertexCount)
                            ? MV1MeshVertexAt(mesh, v)->PositionIndex
                            : 0u;
          if (pi >= static_cast<uint32_t>(positionCount)) pi = 0;
          facePos[fi * 3 + c] = pi;
          p[c] = MV1FramePositionAt(frame, pi)->Position;
        }
        VECTOR n = mathinl::Cross(mathinl::Sub(p[1], p[0]), mathinl::Sub(p[2], p[0]));
        float sq = n.x * n.x + n.y * n.y + n.z * n.z;
        faceNormal[fi] = sq > 0.0f && std::isfinite(sq) ? mathinl::Normalize(n) : VECTOR{0, 0, 0};
      }
    }
  }
  // Faces around each position (counting sort).
  int* aroundStart = work.Array<int>(static_cast<size_t>(positionCount) + 1,
                                     TEXT_MV1_RECALC_ALLOC_FAILED_2 "\n");
  int* around = work.Array<int>(static_cast<size_t>(faceTotal) * 3,
                                TEXT_MV1_RECALC_ALLOC_FAILED_2 "\n");
  if (!aroundStart || !around) return -1;
  std::memset(aroundStart, 0, sizeof(int) * (positionCount + 1));
  for (int i = 0; i < faceTotal * 3; ++i) ++aroundStart[facePos[i] + 1];
  for (int p = 0; p < positionCount; ++p) aroundStart[p + 1] += aroundStart[p];
  {
    int* fill = work.Array<int>(positionCount, TEXT_MV1_RECALC_ALLOC_FAILED_2 "\n");
    if (!fill) return -1;
    std::memcpy(fill, aroundStart, sizeof(int) * positionCount);
    for (int i = 0; i < faceTotal * 3; ++i) {
      int p = static_cast<int>(facePos[i]);
      // A face that touches a position twice (degenerate) is listed once.
      if (fill[p] > aroundStart[p] && around[fill[p] - 1] == i / 3) continue;
      around[fill[p]++] = i / 3;
    }
    for (int p = 0; p < positionCount; ++p) {
      for (int k = fill[p]; k < aroundStart[p + 1]; ++k) around[k] = -1;
    }
  }
  // Corner normals: walk the faces around the corner's position across shared edges.
  uint32_t* cornerNormal = work.Array<uint32_t>(static_cast<size_t>(faceTotal) * 3,
                                                TEXT_MV1_RECALC_ALLOC_FAILED_3 "\n");
  VECTOR* normalValue = work.Array<VECTOR>(static_cast<size_t>(faceTotal) * 3,
                                           TEXT_MV1_RECALC_ALLOC_FAILED_3 "\n");
  int* normalNext = work.Array<int>(static_cast<size_t>(faceTotal) * 3,
                                    TEXT_MV1_RECALC_ALLOC_FAILED_3 "\n");
  int* normalHead = work.Array<int>(positionCount, TEXT_MV1_RECALC_ALLOC_FAILED_3 "\n");
  int* queue = work.Array<int>(static_cast<size_t>(faceTotal) + 1, TEXT_MV1_RECALC_ALLOC_FAILED_3 "\n");
  uint8_t* reached = work.Array<uint8_t>(faceTotal, TEXT_MV1_RECALC_ALLOC_FAILED_3 "\n");
  if (!cornerNormal || !normalValue || !normalNext || !normalHead || !queue || !reached) return -1;
  for (int p = 0; p < positionCount; ++p) normalHead[p] = -1;
  std::memset(reached, 0, faceTotal);
  int newNormalCount = 0;
  auto sharesEdge = [&](int a, int b, uint32_t p) {
    for (int i = 0; i < 3; ++i) {
      uint32_t q = facePos[a * 3 + i];
      if (q == p) continue;
      for (int j = 0; j < 3; ++j)
        if (facePos[b * 3 + j] == q) return true;
    }
    return false;
  };
  for (int fi = 0; fi < faceTotal; ++fi) {
    for (int c = 0; c < 3; ++c) {
      const uint32_t p = facePos[fi * 3 + c];
      int head = 0, tail = 0;
      queue[tail++] = fi;
      reached[fi] = 1;
      VECTOR sum = faceNormal[fi];
      while (head < tail) {
        int x = queue[head++];
        for (int k = aroundStart[p]; k < aroundStart[p + 1]; ++k) {
          int y = around[k];
          if (y < 0 || reached[y] || !sharesEdge(x, y, p)) continue;
          if (mathinl::Dot(faceNormal[x], faceNormal[y]) < cosA) continue;
          reached[y] = 1;
          queue[tail++] = y;
          sum = mathinl::Add(sum, faceNormal[y]);
        }
      }
      for (int k = 0; k < tail; ++k) reached[queue[k]] = 0;
      float sq = sum.x * sum.x + sum.y * sum.y + sum.z * sum.z;
      VECTOR n = sq > 0.0f && std::isfinite(sq) ? mathinl::Normalize(sum) : faceNormal[fi];
      // Corners of one position with bitwise equal normals share the record.
      int found = -1;
      for (int e = normalHead[p]; e >= 0; e = normalNext[e])
        if (Bits(normalValue[e].x) == Bits(n.x) && Bits(normalValue[e].y) == Bits(n.y) &&
            Bits(normalValue[e].z) == Bits(n.z)) {
          found = e;
          break;
        }
      if (found < 0) {
        found = newNormalCount++;
        normalValue[found] = n;
        normalNext[found] = normalHead[p];
        normalHead[p] = found;
      }
      cornerNormal[fi * 3 + c] = static_cast<uint32_t>(found);
    }
  }

  // Plan every mesh: new vertices (copies naming the corner's normal, merged per position when
  // bytewise equal), its lists' new arrays and its shape vertices.
  MeshPlan* plans = work.Array<MeshPlan>(frame->MeshCount, TEXT_MV1_RECALC_WORK_ALLOC_FAILED "\n");
  if (!plans) return -1;
  std::memset(plans, 0, sizeof(MeshPlan) * frame->MeshCount);
  int listTotal = 0;
  for (int m = 0; m < frame->MeshCount; ++m) listTotal += frame->Mesh[m].TriangleListCount;
  ListPlan* listPlans = work.Array<ListPlan>(listTotal, TEXT_MV1_RECALC_WORK_ALLOC_FAILED "\n");
  if (!listPlans) return -1;
  std::memset(listPlans, 0, sizeof(ListPlan) * listTotal);
  uint8_t* tangentMarks = work.Array<uint8_t>(newNormalCount, TEXT_MV1_TANGENT_ALLOC_FAILED "\n");
  if (!tangentMarks) return -1;
  MV1MeshNormal* newNormals = nullptr;
  const bool replaceNormals = newNormalCount > frame->NormalCount;
  if (replaceNormals) {
    newNormals = work.Array<MV1MeshNormal>(newNormalCount,
                                           TEXT_MV1_RECALC_NORMAL_ALLOC_FAILED "\n");
    if (!newNormals) return -1;
  }
  {
    int fi = 0, li = 0;
    for (int m = 0; m < frame->MeshCount; ++m) {
      MV1MeshBase* mesh = &frame->Mesh[m];
      MeshPlan* plan = &plans[m];
      const int stride = mesh->VertexStride;
      const int corners = mesh->FaceCount * 3;
      plan->vertices = work.Array<uint8_t>(static_cast<size_t>(corners) * stride,
                                           TEXT_MV1_RECALC_WORK_ALLOC_FAILED "\n");
      plan->cornerVertex = work.Array<uint32_t>(corners, TEXT_MV1_RECALC_WORK_ALLOC_FAILED "\n");
      plan->origin = work.Array<uint32_t>(corners, TEXT_MV1_RECALC_WORK_ALLOC_FAILED "\n");
      int* vertexHead = work.Array<int>(positionCount, TEXT_MV1_RECALC_WORK_ALLOC_FAILED_2 "\n");
      int* vertexNext = work.Array<int>(corners, TEXT_MV1_RECALC_WORK_ALLOC_FAILED_2 "\n");
      if (!plan->vertices || !plan->cornerVertex || !plan->origin || !vertexHead || !vertexNext)
        return -1;
      for (int p = 0; p < positionCount; ++p) vertexHead[p] = -1;
      int count = 0;
      for (int f = 0; f < mesh->FaceCount; ++f, ++fi) {
        for (int c = 0; c < 3; ++c) {
          uint32_t old = mesh->Face[f].VertexIndex[c];
          if (old >= static_cast<uint32_t>(mesh->VertexCount)) old = 0;
          uint8_t* copy = plan->vertices + static_cast<size_t>(count) * stride;
          std::memcpy(copy, MV1MeshVertexAt(mesh, old), stride);
          reinterpret_cast<MV1MeshVertex*>(copy)->NormalIndex = cornerNormal[fi * 3 + c];
          const uint32_t p = facePos[fi * 3 + c];
          int found = -1;
          for (int e = vertexHead[p]; e >= 0; e = vertexNext[e])
            if (std::memcmp(plan->vertices + static_cast<size_t>(e) * stride, copy, stride) == 0) {
              found = e;
              break;
            }
          if (found < 0) {
            found = count++;
            plan->origin[found] = old;
            vertexNext[found] = vertexHead[p];
            vertexHead[p] = found;
          }
          plan->cornerVertex[f * 3 + c] = static_cast<uint32_t>(found);
        }
      }
      plan->vertexCount = count;
      plan->replaceVertices = count > mesh->VertexCount;
      // Lists: triangle t of list l is the t-th face naming list l.
      int* listVertexOf = work.Array<int>(count, TEXT_MV1_RECALC_WORK_ALLOC_FAILED_3 "\n");
      if (!listVertexOf) return -1;
      for (int l = 0; l < mesh->TriangleListCount; ++l, ++li) {
        MV1TriangleList* list = &mesh->TriangleList[l];
        ListPlan* lp = &listPlans[li];
        for (int v = 0; v < count; ++v) listVertexOf[v] = -1;
        lp->indices = work.Array<uint16_t>(list->IndexCount, TEXT_MV1_RECALC_WORK_ALLOC_FAILED_3 "\n");
        lp->meshVertexIndex = work.Array<uint32_t>(list->IndexCount,
                                                   TEXT_MV1_TLIST_INDEX_ALLOC_FAILED "\n");
        if (!lp->indices || !lp->meshVertexIndex) return -1;
        int k = 0, listVertices = 0;
        for (int f = 0; f < mesh->FaceCount && k + 2 < list->IndexCount + 0; ++f) {
          if (mesh->Face[f].TriangleListIndex != l) continue;
          for (int c = 0; c < 3; ++c) {
            uint32_t nv = plan->cornerVertex[f * 3 + c];
            if (listVertexOf[nv] < 0) {
              listVertexOf[nv] = listVertices;
              lp->meshVertexIndex[listVertices++] = nv;
            }
            lp->indices[k++] = static_cast<uint16_t>(listVertexOf[nv]);
          }
        }
        for (; k < list->IndexCount; ++k) lp->indices[k] = 0;
        lp->vertexCount = listVertices;
        if (list->VertexType <= MV1_VERTEX_TYPE_SKIN_FREEBONE) {
          lp->records = work.Array<uint8_t>(
              static_cast<size_t>(listVertices) * MV1TriangleListRecordSize(list) + 16,
              TEXT_MV1_TLIST_POSITION_ALLOC_FAILED "\n");
          if (!lp->records) return -1;
        }
      }
      // Shape vertices: one per new vertex made from the old target.
      if (mesh->HasShape && base->ShapeMeshCount > 0) {
        int* firstNew = work.Array<int>(mesh->VertexCount, TEXT_MV1_SHAPE_VERTEX_ALLOC_FAILED "\n");
        int* nextNew = work.Array<int>(count, TEXT_MV1_SHAPE_VERTEX_ALLOC_FAILED "\n");
        plan->shapeVertices = work.Array<MV1ShapeVertexBase*>(base->ShapeMeshCount,
                                                              TEXT_MV1_SHAPE_VERTEX_ALLOC_FAILED "\n");
        plan->shapeVertexCounts = work.Array<int>(base->ShapeMeshCount,
                                                  TEXT_MV1_SHAPE_VERTEX_ALLOC_FAILED "\n");
        if (!firstNew || !nextNew || !plan->shapeVertices || !plan->shapeVertexCounts) return -1;
        for (int v = 0; v < mesh->VertexCount; ++v) firstNew[v] = -1;
        for (int v = count - 1; v >= 0; --v) {
          nextNew[v] = firstNew[plan->origin[v]];
          firstNew[plan->origin[v]] = v;
        }
        for (int s = 0; s < base->ShapeMeshCount; ++s) {
          MV1ShapeMeshBase* sm = &base->ShapeMesh[s];
          plan->shapeVertices[s] = nullptr;
          plan->shapeVertexCounts[s] = 0;
          if (sm->TargetMesh != mesh) continue;
          int n = 0;
          for (int i = 0; i < sm->VertexCount; ++i) {
            uint32_t t = sm->Vertex[i].TargetMeshVertex;
            if (t < static_cast<uint32_t>(mesh->VertexCount))
              for (int v = firstNew[t]; v >= 0; v = nextNew[v]) ++n;
          }
          MV1ShapeVertexBase* out = work.Array<MV1ShapeVertexBase>(
              n, TEXT_MV1_SHAPE_VERTEX_ALLOC_FAILED "\n");
          if (!out) return -1;
          n = 0;
          for (int i = 0; i < sm->VertexCount; ++i) {
            uint32_t t = sm->Vertex[i].TargetMeshVertex;
            if (t >= static_cast<uint32_t>(mesh->VertexCount)) continue;
            for (int v = firstNew[t]; v >= 0; v = nextNew[v]) {
              out[n] = sm->Vertex[i];
              out[n++].TargetMeshVertex = static_cast<uint32_t>(v);
            }
          }
          plan->shapeVertices[s] = out;
          plan->shapeVertexCounts[s] = n;
        }
      }
    }
  }

  // Everything is in hand: commit. Normals first.
  MV1MeshNormal* normals = replaceNormals ? newNormals : frame->Normal;
  for (int i = 0; i < newNormalCount; ++i) {
    normals[i].Normal = normalValue[i];
    normals[i].Tangent = VECTOR{0, 0, 0};
    normals[i].Binormal = VECTOR{0, 0, 0};
  }
  if (replaceNormals) {
    work.Keep(newNormals);
    if (frame->NormalAllocated) MEM_FREE(frame->Normal);
    frame->Normal = newNormals;
    frame->NormalAllocated = 1;
  }
  base->FillNormalCount += newNormalCount - frame->NormalCount;
  frame->NormalCount = newNormalCount;
  int li = 0;
  for (int m = 0; m < frame->MeshCount; ++m) {
    MV1MeshBase* mesh = &frame->Mesh[m];
    MeshPlan* plan = &plans[m];
    if (plan->replaceVertices) {
      work.Keep(plan->vertices);
      if (mesh->VertexAllocated) MEM_FREE(mesh->Vertex);
      mesh->Vertex = reinterpret_cast<MV1MeshVertex*>(plan->vertices);
      mesh->VertexAllocated = 1;
    } else {
      std::memcpy(mesh->Vertex, plan->vertices,
                  static_cast<size_t>(plan->vertexCount) * mesh->VertexStride);
    }
    base->FillMeshVertexByteSize += (plan->vertexCount - mesh->VertexCount) * mesh->VertexStride;
    mesh->VertexCount = plan->vertexCount;
    for (int f = 0; f < mesh->FaceCount; ++f)
      for (int c = 0; c < 3; ++c) mesh->Face[f].VertexIndex[c] = plan->cornerVertex[f * 3 + c];
    MV1SetupTangentAndBinormalWithMarks(mesh, tangentMarks);
    for (int l = 0; l < mesh->TriangleListCount; ++l, ++li) {
      MV1TriangleList* list = &mesh->TriangleList[l];
      ListPlan* lp = &listPlans[li];
      std::memcpy(list->Index, lp->indices, sizeof(uint16_t) * list->IndexCount);
      work.Keep(lp->meshVertexIndex);
      if (list->MeshVertexIndexAllocated) MEM_FREE(list->MeshVertexIndex);
      list->MeshVertexIndex = lp->meshVertexIndex;
      list->MeshVertexIndexAllocated = 1;
      list->VertexCount = lp->vertexCount;
      if (lp->records) {
        work.Keep(lp->records);
        if (list->VerticesAllocated) MEM_FREE(list->Vertices);
        list->Vertices = lp->records;
        list->VerticesAllocated = 1;
        MV1SetupTriangleListPositions(list);
      }
      FreeRunTimeBuffers(list);
    }
    if (plan->shapeVertices) {
      for (int s = 0; s < base->ShapeMeshCount; ++s) {
        MV1ShapeMeshBase* sm = &base->ShapeMesh[s];
        if (sm->TargetMesh != mesh) continue;
        work.Keep(plan->shapeVertices[s]);
        if (sm->VertexAllocated) MEM_FREE(sm->Vertex);
        base->ShapeVertexCount += plan->shapeVertexCounts[s] - sm->VertexCount;
        sm->Vertex = plan->shapeVertices[s];
        sm->VertexCount = plan->shapeVertexCounts[s];
        sm->VertexAllocated = 1;
      }
    }
  }
  MV1SetupFrameCounts(base);
  return 0;
}

int MV1OptimizeVertices(MV1FrameBase* frame) {
  int largest = frame->PositionCount;
  for (int m = 0; m < frame->MeshCount; ++m)
    if (frame->Mesh[m].VertexCount > largest) largest = frame->Mesh[m].VertexCount;
  const int buckets = PowerOfTwoAtLeast(largest);
  // remap, chain and merged flag per item, then the hash buckets.
  uint8_t* block = static_cast<uint8_t*>(
      MEM_ALLOC(static_cast<size_t>(largest) * 9 + sizeof(int) * buckets));
  if (!block) return WriteLog(TEXT_MV1_OPTIMIZE_ALLOC_FAILED "\n");
  uint32_t* remap = reinterpret_cast<uint32_t*>(block);
  int* chain = reinterpret_cast<int*>(block + static_cast<size_t>(largest) * 4);
  int* bucket = reinterpret_cast<int*>(block + static_cast<size_t>(largest) * 8);
  uint8_t* merged = block + static_cast<size_t>(largest) * 8 + sizeof(int) * buckets;
  MV1ModelBase* base = frame->Container;
  int kept = 0;
  // Item j merges into found, or survives as the next kept item and joins its hash bucket.
  auto settle = [&](int j, int found, uint32_t h) {
    if (found >= 0) {
      merged[j] = 1;
      remap[j] = remap[found];
    } else {
      remap[j] = static_cast<uint32_t>(kept++);
      chain[j] = bucket[h];
      bucket[h] = j;
    }
  };

  // Positions.
  const int stride = frame->PositionStride;
  for (int b = 0; b < buckets; ++b) bucket[b] = -1;
  std::memset(merged, 0, largest);
  for (int j = 0; j < frame->PositionCount; ++j) {
    MV1MeshPosition* pj = MV1FramePositionAt(frame, j);
    uint32_t h = HashPosition(pj->Position) & (buckets - 1);
    int nj = BoneCount(frame, pj);
    int found = -1;
    for (int i = bucket[h]; i >= 0; i = chain[i]) {
      MV1MeshPosition* pi = MV1FramePositionAt(frame, i);
      if (Bits(pi->Position.x) != Bits(pj->Position.x) ||
          Bits(pi->Position.y) != Bits(pj->Position.y) ||
          Bits(pi->Position.z) != Bits(pj->Position.z) || BoneCount(frame, pi) != nj ||
          std::memcmp(MV1PositionBones(pi), MV1PositionBones(pj), sizeof(MV1PositionBoneWeight) * nj) != 0)
        continue;
      found = i;
      break;
    }
    settle(j, found, h);
  }
  for (int j = 0; j < frame->PositionCount; ++j)
    if (!merged[j] && remap[j] != static_cast<uint32_t>(j))
      std::memmove(MV1FramePositionAt(frame, static_cast<int>(remap[j])), MV1FramePositionAt(frame, j), stride);
  for (int m = 0; m < frame->MeshCount; ++m) {
    MV1MeshBase* mesh = &frame->Mesh[m];
    for (int v = 0; v < mesh->VertexCount; ++v) {
      MV1MeshVertex* mv = MV1MeshVertexAt(mesh, v);
      if (mv->PositionIndex < static_cast<uint32_t>(frame->PositionCount))
        mv->PositionIndex = remap[mv->PositionIndex];
    }
  }
  base->FillPositionByteSize -= (frame->PositionCount - kept) * stride;
  frame->PositionCount = kept;

  // Mesh vertices, mesh by mesh.
  for (int m = 0; m < frame->MeshCount; ++m) {
    MV1MeshBase* mesh = &frame->Mesh[m];
    const int vs = mesh->VertexStride;
    for (int b = 0; b < buckets; ++b) bucket[b] = -1;
    std::memset(merged, 0, largest);
    kept = 0;
    for (int j = 0; j < mesh->VertexCount; ++j) {
      const uint8_t* vj = reinterpret_cast<const uint8_t*>(MV1MeshVertexAt(mesh, j));
      uint32_t h = HashBytes(vj, vs) & (buckets - 1);
      int found = -1;
      for (int i = bucket[h]; i >= 0; i = chain[i])
        if (std::memcmp(MV1MeshVertexAt(mesh, i), vj, vs) == 0) {
          found = i;
          break;
        }
      settle(j, found, h);
    }
    const uint32_t count = static_cast<uint32_t>(mesh->VertexCount);
    for (int f = 0; f < mesh->FaceCount; ++f)
      for (int c = 0; c < 3; ++c)
        if (mesh->Face[f].VertexIndex[c] < count)
          mesh->Face[f].VertexIndex[c] = remap[mesh->Face[f].VertexIndex[c]];
    for (int l = 0; l < mesh->TriangleListCount; ++l) {
      MV1TriangleList* list = &mesh->TriangleList[l];
      for (int v = 0; v < list->VertexCount; ++v)
        if (list->MeshVertexIndex[v] < count) list->MeshVertexIndex[v] = remap[list->MeshVertexIndex[v]];
      FreeRunTimeBuffers(list);
    }
    for (int s = 0; s < base->ShapeMeshCount; ++s) {
      MV1ShapeMeshBase* sm = &base->ShapeMesh[s];
      if (sm->TargetMesh != mesh) continue;
      for (int i = 0; i < sm->VertexCount; ++i)
        if (sm->Vertex[i].TargetMeshVertex < count)
          sm->Vertex[i].TargetMeshVertex = remap[sm->Vertex[i].TargetMeshVertex];
    }
    for (int j = 0; j < mesh->VertexCount; ++j)
      if (!merged[j] && remap[j] != static_cast<uint32_t>(j))
        std::memmove(MV1MeshVertexAt(mesh, static_cast<int>(remap[j])), MV1MeshVertexAt(mesh, j), vs);
    base->FillMeshVertexByteSize -= (mesh->VertexCount - kept) * vs;
    mesh->VertexCount = kept;
  }
  MEM_FREE(block);
  return 0;
}

namespace {

// The two base-level operations: the handle, no models yet, buffers released around the work.
template <class F>
int ReworkBase(int baseHandle, F perFrame) {
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  if (!base || base->ModelCount > 0) return -1;
  MV1TerminateModelBaseVertexBuffer(baseHandle);
  for (int i = 0; i < base->FrameCount; ++i) {
    MV1FrameBase* frame = &base->Frame[i];
    if (frame->PositionCount <= 0) continue;
    if (perFrame(frame) != 0) return -1;
  }
  MV1SetupModelBaseVertexBuffer(baseHandle);
  return 0;
}

}  // namespace

int MV1RecalcModelBaseNormals(int baseHandle, float smoothingAngle) {
  return ReworkBase(baseHandle,
                    [&](MV1FrameBase* frame) { return MV1RecalcNormals(frame, smoothingAngle); });
}

int MV1OptimizeModelBaseVertices(int baseHandle) {
  return ReworkBase(baseHandle, [](MV1FrameBase* frame) { return MV1OptimizeVertices(frame); });
}
