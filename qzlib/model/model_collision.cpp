// Collision grids over transformed reference meshes, and the line, sphere and capsule queries.
#include <qzlib/model/model_collision.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/math/geometry.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_refmesh.h>
#include <qzlib/base/engine_texts.h>

namespace {

constexpr int kHitArrayStart = 1000;

// Bytes of a grid of `cells` cells over `polygons` polygons (record, heads, first block); false
// when the size does not fit in 64 bits.
bool GridBytes(size_t cells, size_t polygons, size_t* bytes) {
  size_t heads, nodes, total;
  if (__builtin_mul_overflow(cells, sizeof(MV1CollInfoNode*), &heads)) return false;
  if (__builtin_mul_overflow(polygons, 2 * sizeof(MV1CollInfoNode), &nodes)) return false;
  if (__builtin_add_overflow(sizeof(MV1CollInfo) + sizeof(MV1CollInfoNodeBlock), heads, &total))
    return false;
  return !__builtin_add_overflow(total, nodes, bytes);
}

// The cell count of valid division counts, or false for counts below 1 or a product that does
// not fit.
bool CellCount(int x, int y, int z, size_t* cells) {
  if (x < 1 || y < 1 || z < 1) return false;
  size_t xy;
  if (__builtin_mul_overflow(static_cast<size_t>(x), static_cast<size_t>(y), &xy)) return false;
  return !__builtin_mul_overflow(xy, static_cast<size_t>(z), cells);
}

// The cell index of a coordinate: rounded to the nearest integer (ties to even), `add` added,
// then clamped to 0 .. count - 1 before the conversion; not a number gives 0.
int CellIndex(float value, float min, float inv, int count, float add) {
  float f = std::nearbyint((value - min) * inv) + add;
  if (!(f >= 0.0f)) return 0;
  if (static_cast<double>(f) > static_cast<double>(count - 1)) return count - 1;
  return static_cast<int>(f);
}

struct CellRange {
  int lo[3];
  int hi[3];
};

CellRange RangeOf(const MV1CollInfo* g, const VECTOR& min, const VECTOR& max, float upperAdd) {
  const float gmin[3] = {g->MinPosition.x, g->MinPosition.y, g->MinPosition.z};
  const float inv[3] = {g->CellSizeInv.x, g->CellSizeInv.y, g->CellSizeInv.z};
  const int div[3] = {g->DivX, g->DivY, g->DivZ};
  const float lo[3] = {min.x, min.y, min.z};
  const float hi[3] = {max.x, max.y, max.z};
  CellRange r;
  for (int a = 0; a < 3; ++a) {
    r.lo[a] = CellIndex(lo[a], gmin[a], inv[a], div[a], 0.0f);
    r.hi[a] = CellIndex(hi[a], gmin[a], inv[a], div[a], upperAdd);
  }
  return r;
}

size_t CellAt(const MV1CollInfo* g, int x, int y, int z) {
  return static_cast<size_t>(z) * (static_cast<size_t>(g->DivX) * g->DivY) +
         static_cast<size_t>(y) * g->DivX + static_cast<size_t>(x);
}

float Reciprocal(float cell) {
  float r = 1.0f / cell;
  return std::isfinite(r) ? r : 0.0f;
}

bool BoxesOverlap(const VECTOR& amin, const VECTOR& amax, const VECTOR& bmin, const VECTOR& bmax) {
  return amin.x <= bmax.x && bmin.x <= amax.x && amin.y <= bmax.y && bmin.y <= amax.y &&
         amin.z <= bmax.z && bmin.z <= amax.z;
}

VECTOR Sub(const VECTOR& a, const VECTOR& b) { return VECTOR{a.x - b.x, a.y - b.y, a.z - b.z}; }

float SquareLength(const VECTOR& v) { return v.x * v.x + v.y * v.y + v.z * v.z; }

// The next free node, moving to (or chaining) the next block when the current one is full; null
// (logged) when a block cannot be allocated.
MV1CollInfoNode* NextNode(MV1CollInfo* g, int polygons) {
  MV1CollInfoNodeBlock* block = g->CurrentBlock;
  if (block->Used == block->Capacity) {
    if (!block->Next) {
      size_t bytes = sizeof(MV1CollInfoNodeBlock) + static_cast<size_t>(polygons) * sizeof(MV1CollInfoNode);
      auto* added = static_cast<MV1CollInfoNodeBlock*>(MEM_ALLOC(bytes));
      if (!added) {
        WriteLog(TEXT_MV1_COLLINFO_NODE_ALLOC_FAILED "\n");
        return nullptr;
      }
      added->Capacity = polygons;
      added->Node = reinterpret_cast<MV1CollInfoNode*>(added + 1);
      added->Next = nullptr;
      block->Next = added;
    }
    block = block->Next;
    block->Used = 0;
    g->CurrentBlock = block;
  }
  return &block->Node[block->Used++];
}

// Rebuilds the cell lists from the transformed mesh. 0, or -1 when a node block is missing.
int Rebuild(MV1CollInfo* g, const MV1_REF_POLYGONLIST* mesh) {
  g->MinPosition = mesh->MinPosition;
  g->MaxPosition = mesh->MaxPosition;
  g->Size = Sub(g->MaxPosition, g->MinPosition);
  g->CellSize = VECTOR{g->Size.x / static_cast<float>(g->DivX), g->Size.y / static_cast<float>(g->DivY),
                       g->Size.z / static_cast<float>(g->DivZ)};
  g->CellSizeInv = VECTOR{Reciprocal(g->CellSize.x), Reciprocal(g->CellSize.y), Reciprocal(g->CellSize.z)};
  std::memset(g->Head, 0, CellAt(g, 0, 0, g->DivZ) * sizeof(MV1CollInfoNode*));
  g->CurrentBlock = g->FirstBlock;
  g->CurrentBlock->Used = 0;
  for (int p = 0; p < mesh->PolygonNum; ++p) {
    const MV1_REF_POLYGON* poly = &mesh->Polygons[p];
    CellRange r = RangeOf(g, poly->MinPosition, poly->MaxPosition, 0.0f);
    for (int z = r.lo[2]; z <= r.hi[2]; ++z)
      for (int y = r.lo[1]; y <= r.hi[1]; ++y)
        for (int x = r.lo[0]; x <= r.hi[0]; ++x) {
          MV1CollInfoNode* node = NextNode(g, mesh->PolygonNum);
          if (!node) return -1;
          MV1CollInfoNode** head = &g->Head[CellAt(g, x, y, z)];
          node->Polygon = p;
          node->Next = *head;
          *head = node;
        }
  }
  return 0;
}

// The owner's grid, built (default counts) when it has none; null on a bad handle or frame or
// when the grid cannot be built.
MV1CollInfo* QueryGrid(int modelHandle, int frameIndex, MV1RefOwner* owner) {
  if (!MV1GetRefOwner(modelHandle, frameIndex, owner)) return nullptr;
  if (!*owner->CollInfo && MV1RefreshCollInfo(modelHandle, frameIndex) != 0) return nullptr;
  return *owner->CollInfo;
}

void FillRecord(MV1_COLL_RESULT_POLY* r, const MV1_REF_POLYGONLIST* mesh, int p, VECTOR hit) {
  const MV1_REF_POLYGON* poly = &mesh->Polygons[p];
  r->HitFlag = 1;
  r->HitPosition = hit;
  r->FrameIndex = poly->FrameIndex;
  r->PolygonIndex = p;
  r->MaterialIndex = poly->MaterialIndex;
  for (int c = 0; c < 3; ++c) r->Position[c] = mesh->Vertexs[poly->VIndex[c]].Position;
  VECTOR e1 = Sub(r->Position[1], r->Position[0]);
  VECTOR e2 = Sub(r->Position[2], r->Position[0]);
  VECTOR n;
  VectorCross(&n, &e1, &e2);
  r->Normal = VNorm(n);
}

// Calls visit(polygon) once for every polygon listed in the cells of the range, in cell order
// (z outermost); visit returns false to stop the walk.
template <class Visit>
void WalkCells(const MV1CollInfo* g, const CellRange& r, uint8_t* marks, Visit visit) {
  for (int z = r.lo[2]; z <= r.hi[2]; ++z)
    for (int y = r.lo[1]; y <= r.hi[1]; ++y)
      for (int x = r.lo[0]; x <= r.hi[0]; ++x)
        for (const MV1CollInfoNode* n = g->Head[CellAt(g, x, y, z)]; n; n = n->Next) {
          int p = n->Polygon;
          uint8_t bit = static_cast<uint8_t>(1u << (p & 7));
          if (marks[p >> 3] & bit) continue;
          marks[p >> 3] |= bit;
          if (!visit(p)) return;
        }
}

uint8_t* AllocMarks(const MV1_REF_POLYGONLIST* mesh) {
  size_t bytes = (static_cast<size_t>(mesh->PolygonNum) + 7) / 8;
  return static_cast<uint8_t*>(MEM_CALLOC(bytes ? bytes : 1));
}

// The sphere and capsule queries: every polygon whose box overlaps the query box and which
// `hit` accepts gives a record with the position `hit` returns.
template <class Hit>
MV1_COLL_RESULT_POLY_DIM CollectHits(int modelHandle, int frameIndex, VECTOR boxMin, VECTOR boxMax,
                                     Hit hit) {
  MV1_COLL_RESULT_POLY_DIM result = {0, nullptr};
  MV1RefOwner owner;
  MV1CollInfo* g = QueryGrid(modelHandle, frameIndex, &owner);
  if (!g) return result;
  if (!BoxesOverlap(boxMin, boxMax, g->MinPosition, g->MaxPosition)) return result;
  const MV1_REF_POLYGONLIST* mesh = owner.RefMesh[1];
  int capacity = kHitArrayStart;
  auto* dim = static_cast<MV1_COLL_RESULT_POLY*>(MEM_ALLOC(capacity * sizeof(MV1_COLL_RESULT_POLY)));
  if (!dim) return result;
  uint8_t* marks = AllocMarks(mesh);
  if (!marks) {
    WriteLog(TEXT_MV1_COLL_TEMP_ALLOC_FAILED_2 "\n");
    MEM_FREE(dim);
    return result;
  }
  int count = 0;
  WalkCells(g, RangeOf(g, boxMin, boxMax, 1.0f), marks, [&](int p) {
    const MV1_REF_POLYGON* poly = &mesh->Polygons[p];
    if (!BoxesOverlap(poly->MinPosition, poly->MaxPosition, boxMin, boxMax)) return true;
    VECTOR at;
    if (!hit(mesh->Vertexs[poly->VIndex[0]].Position, mesh->Vertexs[poly->VIndex[1]].Position,
             mesh->Vertexs[poly->VIndex[2]].Position, &at))
      return true;
    if (count == capacity) {
      void* grown = nullptr;
      if (capacity <= INT32_MAX / 2)
        grown = MEM_REALLOC(dim, 2 * static_cast<size_t>(capacity) * sizeof(MV1_COLL_RESULT_POLY));
      if (!grown) {
        WriteLog(TEXT_MV1_COLL_HIT_GROW_FAILED "\n");
        return false;
      }
      dim = static_cast<MV1_COLL_RESULT_POLY*>(grown);
      capacity *= 2;
    }
    FillRecord(&dim[count++], mesh, p, at);
    return true;
  });
  MEM_FREE(marks);
  result.HitNum = count;
  result.Dim = dim;
  return result;
}

}  // namespace

void MV1FreeCollInfo(const MV1RefOwner& owner) {
  MV1CollInfo* g = *owner.CollInfo;
  *owner.CollInfoUpToDate = 0;
  if (!g) return;
  MV1CollInfoNodeBlock* block = g->FirstBlock->Next;
  while (block) {
    MV1CollInfoNodeBlock* next = block->Next;
    MEM_FREE(block);
    block = next;
  }
  if (g->HeadAllocated) MEM_FREE(g->Head);
  MEM_FREE(g);
  *owner.CollInfo = nullptr;
}

int MV1SetupCollInfo(int modelHandle, int frameIndex, int divX, int divY, int divZ) {
  MV1RefOwner owner;
  if (!MV1GetRefOwner(modelHandle, frameIndex, &owner)) return -1;
  size_t cells, bytes;
  if (!CellCount(divX, divY, divZ, &cells)) return -1;
  if (!owner.RefMesh[1] && MV1RefreshReferenceMesh(modelHandle, frameIndex, 1) != 0) return -1;
  size_t polygons = static_cast<size_t>(owner.RefMesh[1]->PolygonNum);
  if (!GridBytes(cells, polygons, &bytes)) return -1;

  MV1CollInfo* g = *owner.CollInfo;
  if (!g) {
    g = static_cast<MV1CollInfo*>(MEM_CALLOC(bytes));
    if (!g) return WriteLog(TEXT_MV1_COLLINFO_ALLOC_FAILED "\n");
    g->Head = reinterpret_cast<MV1CollInfoNode**>(g + 1);
    g->HeadCapacity = cells;
    g->FirstBlock = reinterpret_cast<MV1CollInfoNodeBlock*>(g->Head + cells);
    g->FirstBlock->Capacity = static_cast<int>(2 * polygons);
    g->FirstBlock->Node = reinterpret_cast<MV1CollInfoNode*>(g->FirstBlock + 1);
    g->CurrentBlock = g->FirstBlock;
    *owner.CollInfo = g;
  } else if (cells > g->HeadCapacity) {
    auto* heads = static_cast<MV1CollInfoNode**>(MEM_CALLOC(cells * sizeof(MV1CollInfoNode*)));
    if (!heads) return WriteLog(TEXT_MV1_COLLINFO_ALLOC_FAILED "\n");
    if (g->HeadAllocated) MEM_FREE(g->Head);
    g->Head = heads;
    g->HeadCapacity = cells;
    g->HeadAllocated = 1;
  }
  g->DivX = divX;
  g->DivY = divY;
  g->DivZ = divZ;
  *owner.CollInfoUpToDate = 0;
  return MV1RefreshCollInfo(modelHandle, frameIndex);
}

int MV1RefreshCollInfo(int modelHandle, int frameIndex) {
  MV1RefOwner owner;
  if (!MV1GetRefOwner(modelHandle, frameIndex, &owner)) return -1;
  if (!*owner.CollInfo)
    return MV1SetupCollInfo(modelHandle, frameIndex, MV1_COLLINFO_DEFAULT_DIV_X,
                            MV1_COLLINFO_DEFAULT_DIV_Y, MV1_COLLINFO_DEFAULT_DIV_Z);
  if (MV1RefreshReferenceMesh(modelHandle, frameIndex, 1) != 0) return -1;
  if (*owner.CollInfoUpToDate) return 0;
  if (Rebuild(*owner.CollInfo, owner.RefMesh[1]) != 0) return -1;
  *owner.CollInfoUpToDate = 1;
  return 0;
}

MV1_COLL_RESULT_POLY MV1CollCheck_Line(int modelHandle, int frameIndex, VECTOR start, VECTOR end) {
  MV1_COLL_RESULT_POLY result;
  std::memset(&result, 0, sizeof(result));
  MV1RefOwner owner;
  MV1CollInfo* g = QueryGrid(modelHandle, frameIndex, &owner);
  if (!g) return result;
  VECTOR lmin{std::fmin(start.x, end.x), std::fmin(start.y, end.y), std::fmin(start.z, end.z)};
  VECTOR lmax{std::fmax(start.x, end.x), std::fmax(start.y, end.y), std::fmax(start.z, end.z)};
  if (lmin.x > g->MaxPosition.x || lmax.x < g->MinPosition.x || lmin.y > g->MaxPosition.y ||
      lmax.y < g->MinPosition.y || lmin.z > g->MaxPosition.z || lmax.z < g->MinPosition.z)
    return result;
  const MV1_REF_POLYGONLIST* mesh = owner.RefMesh[1];
  uint8_t* marks = AllocMarks(mesh);
  if (!marks) {
    WriteLog(TEXT_MV1_COLL_TEMP_ALLOC_FAILED "\n");
    return result;
  }
  int best = -1;
  float bestDistance = 0.0f;
  VECTOR bestPosition{0, 0, 0};
  WalkCells(g, RangeOf(g, lmin, lmax, 0.0f), marks, [&](int p) {
    const MV1_REF_POLYGON* poly = &mesh->Polygons[p];
    if (!BoxesOverlap(poly->MinPosition, poly->MaxPosition, lmin, lmax)) return true;
    LineHitResult hit = HitCheckLineTriangle(start, end, mesh->Vertexs[poly->VIndex[0]].Position,
                                             mesh->Vertexs[poly->VIndex[1]].Position,
                                             mesh->Vertexs[poly->VIndex[2]].Position);
    if (!hit.HitFlag) return true;
    float d = SquareLength(Sub(hit.Position, start));
    if (best == -1 || d < bestDistance) {
      best = p;
      bestDistance = d;
      bestPosition = hit.Position;
    }
    return true;
  });
  MEM_FREE(marks);
  if (best != -1) FillRecord(&result, mesh, best, bestPosition);
  return result;
}

MV1_COLL_RESULT_POLY_DIM MV1CollCheck_Sphere(int modelHandle, int frameIndex, VECTOR centre,
                                            float radius) {
  VECTOR boxMin{centre.x - radius, centre.y - radius, centre.z - radius};
  VECTOR boxMax{centre.x + radius, centre.y + radius, centre.z + radius};
  float limit = radius * radius;
  return CollectHits(modelHandle, frameIndex, boxMin, boxMax,
                     [&](VECTOR p0, VECTOR p1, VECTOR p2, VECTOR* at) {
                       *at = GetNearestPointOnTriangle(centre, p0, p1, p2);
                       return SquareLength(Sub(centre, *at)) <= limit;
                     });
}

MV1_COLL_RESULT_POLY_DIM MV1CollCheck_Capsule(int modelHandle, int frameIndex, VECTOR pos1,
                                             VECTOR pos2, float radius) {
  VECTOR boxMin{std::fmin(pos1.x, pos2.x) - radius, std::fmin(pos1.y, pos2.y) - radius,
                std::fmin(pos1.z, pos2.z) - radius};
  VECTOR boxMax{std::fmax(pos1.x, pos2.x) + radius, std::fmax(pos1.y, pos2.y) + radius,
                std::fmax(pos1.z, pos2.z) + radius};
  float limit = radius * radius;
  return CollectHits(modelHandle, frameIndex, boxMin, boxMax,
                     [&](VECTOR p0, VECTOR p1, VECTOR p2, VECTOR* at) {
                       *at = VECTOR{0, 0, 0};
                       return SegmentTriangleMinLengthSquare(pos1, pos2, p0, p1, p2) <= limit;
                     });
}

int MV1TerminateCollInfo(int modelHandle, int frameIndex) {
  MV1RefOwner owner;
  if (!MV1GetRefOwner(modelHandle, frameIndex, &owner)) return -1;
  MV1FreeCollInfo(owner);
  return 0;
}

int MV1CollResultPolyDimTerminate(MV1_COLL_RESULT_POLY_DIM result) {
  MEM_FREE(result.Dim);
  return 0;
}
