// Mesh operations of the conversion: triangulation, vertex merging and automatic normals.
#include <cmath>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/modelimport/readmodel_convert.h>

namespace {

constexpr float kDefaultLoadSmoothingAngle = 1.5620697f;

int SetCount(uint32_t sets) { return __builtin_popcount(sets); }

// Copies corner `from` of every stored set of src (IndexCount n) into corner `to` of dst's layout
// (IndexCount m, same sets).
inline void CopyCorner(const int* src, int n, int from, int* dst, int m, int to, int sets) {
  for (int s = 0; s < sets; ++s) dst[s * m + to] = src[s * n + from];
}

VECTOR Sub(const VECTOR& a, const VECTOR& b) { return VECTOR{a.x - b.x, a.y - b.y, a.z - b.z}; }
VECTOR Cross(const VECTOR& a, const VECTOR& b) {
  return VECTOR{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Dot(const VECTOR& a, const VECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// v / |v|, each component divided; false (v untouched) when |v|^2 is zero or not finite.
bool Normalize(VECTOR* v) {
  float sq = v->x * v->x + v->y * v->y + v->z * v->z;
  if (!(sq > 0.0f) || !std::isfinite(sq)) return false;
  float len = std::sqrt(sq);
  v->x /= len;
  v->y /= len;
  v->z /= len;
  return true;
}

}  // namespace

int TriangulateReadModelMesh(ReadModel* rm, ReadModelMesh* mesh) {
  int64_t extra = 0, extraInts = 0;
  for (int i = 0; i < mesh->FaceCount; ++i) {
    const ReadModelFace& f = mesh->Faces[i];
    if (f.IndexCount > 3) {
      extra += f.IndexCount - 3;
      extraInts += static_cast<int64_t>(f.IndexCount - 3) * 3 * SetCount(f.Sets);
    }
  }
  if (mesh->FaceCount == 0 || extra == 0) return 1;
  uint64_t total = static_cast<uint64_t>(mesh->FaceCount) + static_cast<uint64_t>(extra);
  ReadModelFace* faces = total > INT32_MAX ? nullptr
      : static_cast<ReadModelFace*>(ReadModelAlloc(rm, sizeof(ReadModelFace) * total));
  int* store = faces && extraInts > 0
      ? static_cast<int*>(ReadModelAlloc(rm, sizeof(int) * static_cast<uint64_t>(extraInts)))
      : nullptr;
  if (!faces || (extraInts > 0 && !store)) {
    WriteLog("Read Model Error : " TEXT_RM_TRIANGULATE_ALLOC_FAILED "\n");
    return 0;
  }
  std::memcpy(faces, mesh->Faces, sizeof(ReadModelFace) * static_cast<size_t>(mesh->FaceCount));
  int next = mesh->FaceCount;
  for (int i = 0; i < mesh->FaceCount; ++i) {
    ReadModelFace& f = faces[i];
    const int n = f.IndexCount;
    if (n <= 3) continue;
    const int sets = SetCount(f.Sets);
    // zigzag: (c[hi], c[lo], c[lo + 1]) then (c[hi], c[lo], c[hi - 1]), alternately
    int hi = n - 1, lo = 1;
    for (int k = 0; k < n - 3; ++k) {
      ReadModelFace& t = faces[next++];
      t.IndexCount = 3;
      t.TriangleCount = 1;
      t.MaterialIndex = f.MaterialIndex;
      t.Sets = f.Sets;
      t.Index = sets ? store : nullptr;
      t.IndexStorage = 3 * sets;
      store += 3 * sets;
      int third;
      if ((k & 1) == 0) {
        third = lo + 1;
      } else {
        third = hi - 1;
      }
      if (sets) {
        CopyCorner(f.Index, n, hi, t.Index, 3, 0, sets);
        CopyCorner(f.Index, n, lo, t.Index, 3, 1, sets);
        CopyCorner(f.Index, n, third, t.Index, 3, 2, sets);
      }
      if ((k & 1) == 0) ++lo; else --hi;
    }
    // the face itself becomes (c0, c1, c[n - 1]), packed in place set by set
    if (sets) {
      int* idx = f.Index;
      for (int s = 0; s < sets; ++s) {
        int c0 = idx[s * n], c1 = idx[s * n + 1], cl = idx[s * n + n - 1];
        idx[s * 3] = c0;
        idx[s * 3 + 1] = c1;
        idx[s * 3 + 2] = cl;
      }
    }
    f.IndexCount = 3;
    f.TriangleCount = 1;
  }
  mesh->Faces = faces;
  mesh->FaceCount = static_cast<int>(total);
  return 1;
}

bool OptimizeReadModelVertices(ReadModel* rm, ReadModelMesh* mesh) {
  const int n = mesh->PositionCount;
  if (n <= 1) return true;
  // per position: the first of its (block, weight) pairs in a chain; pairs in one array
  int64_t pairCount = 0;
  for (int b = 0; b < mesh->SkinWeightCount; ++b) pairCount += mesh->SkinWeights[b]->WeightCount;
  struct Pair {
    int Block;
    float Weight;
    int Next;
  };
  uint64_t bytes = static_cast<uint64_t>(n) * (sizeof(int) * 3 + 1) + static_cast<uint64_t>(pairCount) * sizeof(Pair);
  auto* work = static_cast<uint8_t*>(MEM_ALLOC(bytes));
  if (!work) {
    WriteLog("Read Model Convert Error : " TEXT_RM_VERTEX_OPT_ALLOC_FAILED "\n");
    return false;
  }
  int* head = reinterpret_cast<int*>(work);
  int* count = head + n;
  int* newIndex = count + n;
  Pair* pairs = reinterpret_cast<Pair*>(newIndex + n);
  uint8_t* removed = reinterpret_cast<uint8_t*>(pairs + pairCount);
  for (int i = 0; i < n; ++i) {
    head[i] = -1;
    count[i] = 0;
    removed[i] = 0;
  }
  int p = 0;
  for (int b = 0; b < mesh->SkinWeightCount; ++b) {
    const ReadModelSkinWeight* w = mesh->SkinWeights[b];
    for (int j = 0; j < w->WeightCount; ++j) {
      uint32_t pos = w->Weights[j].Index;
      pairs[p] = Pair{b, w->Weights[j].Weight, head[pos]};
      head[pos] = p++;
      ++count[pos];
    }
  }
  auto sameWeights = [&](int a, int b) {
    if (count[a] != count[b]) return false;
    for (int x = head[a]; x >= 0; x = pairs[x].Next) {
      bool found = false;
      for (int y = head[b]; y >= 0 && !found; y = pairs[y].Next)
        found = pairs[y].Block == pairs[x].Block &&
                std::memcmp(&pairs[y].Weight, &pairs[x].Weight, sizeof(float)) == 0;
      if (!found) return false;
    }
    return true;
  };
  // representative of every position (itself unless merged)
  for (int i = 0; i < n; ++i) newIndex[i] = i;
  bool any = false;
  const VECTOR* pos = mesh->Positions;
  for (int i = 0; i < n; ++i) {
    if (removed[i]) continue;
    for (int j = i + 1; j < n; ++j) {
      if (removed[j]) continue;
      if (std::fabs(pos[i].x - pos[j].x) <= 1e-5f && std::fabs(pos[i].y - pos[j].y) <= 1e-5f &&
          std::fabs(pos[i].z - pos[j].z) <= 1e-5f && sameWeights(i, j)) {
        removed[j] = 1;
        newIndex[j] = i;
        any = true;
      }
    }
  }
  if (any) {
    // pack the positions; newIndex maps every old index to its packed representative
    int packed = 0;
    for (int i = 0; i < n; ++i) {
      if (removed[i]) continue;
      mesh->Positions[packed] = mesh->Positions[i];
      newIndex[i] = packed++;
    }
    for (int i = 0; i < n; ++i)
      if (removed[i]) newIndex[i] = newIndex[newIndex[i]];
    mesh->PositionCount = packed;
    for (int f = 0; f < mesh->FaceCount; ++f) {
      ReadModelFace& face = mesh->Faces[f];
      int* idx = ReadModelFaceIndices(&face, READMODEL_SET_POSITION);
      if (!idx) continue;
      for (int c = 0; c < face.IndexCount; ++c) idx[c] = newIndex[idx[c]];
    }
    for (int b = 0; b < mesh->SkinWeightCount; ++b) {
      ReadModelSkinWeight* w = mesh->SkinWeights[b];
      int kept = 0;
      for (int j = 0; j < w->WeightCount; ++j) {
        uint32_t old = w->Weights[j].Index;
        if (removed[old]) continue;  // its representative carries the same weight already
        w->Weights[kept] = w->Weights[j];
        w->Weights[kept].Index = static_cast<uint32_t>(newIndex[old]);
        ++kept;
      }
      w->WeightCount = kept;
    }
    for (ReadModelShape* s = rm->FirstShape; s; s = s->Next) {
      if (s->Mesh != mesh) continue;
      for (int v = 0; v < s->VertexCount; ++v)
        s->Vertices[v].Position = static_cast<uint32_t>(newIndex[s->Vertices[v].Position]);
      if (s->TargetTable) {
        for (int i = 0; i < packed; ++i) s->TargetTable[i] = -1;
        for (int v = 0; v < s->VertexCount; ++v) s->TargetTable[s->Vertices[v].Position] = v;
      }
    }
  }
  MEM_FREE(work);
  return true;
}

namespace {

// Corner k of face f in a triangle mesh: position index.
struct TriMesh {
  const ReadModelMesh* mesh;
  const int* Pos(int f) const { return ReadModelFaceIndicesOrZero(&mesh->Faces[f], READMODEL_SET_POSITION); }
  const VECTOR& P(int index) const { return mesh->Positions[index]; }
};

// How face g holds the edge a-b: 1 in the direction a -> b, -1 in the direction b -> a, 0 not at
// all; *third gets g's remaining position.
int EdgeDirection(const int* g, int a, int b, int* third) {
  for (int k = 0; k < 3; ++k) {
    if (g[k] == a && g[(k + 1) % 3] == b) {
      *third = g[(k + 2) % 3];
      return 1;
    }
  }
  for (int k = 0; k < 3; ++k) {
    if (g[k] == b && g[(k + 1) % 3] == a) {
      *third = g[(k + 2) % 3];
      return -1;
    }
  }
  return 0;
}

}  // namespace

int MakeReadModelNormals(ReadModel* rm, ReadModelMesh* mesh) {
  const int faceCount = mesh->FaceCount;
  float angle = mesh->Frame ? mesh->Frame->SmoothingAngle : 0.0f;
  if (angle == 0.0f) angle = kDefaultLoadSmoothingAngle;
  const float limit = std::cos(angle);
  TriMesh tm{mesh};

  // 2. face normals
  for (int f = 0; f < faceCount; ++f) {
    const int* p = tm.Pos(f);
    VECTOR e1 = Sub(tm.P(p[1]), tm.P(p[0]));
    VECTOR e2 = Sub(tm.P(p[2]), tm.P(p[0]));
    VECTOR n = rm->ReverseWinding ? Cross(e2, e1) : Cross(e1, e2);
    if (!Normalize(&n)) n = VECTOR{0.0f, 0.0f, 0.0f};
    mesh->Faces[f].Normal[0] = n.x;
    mesh->Faces[f].Normal[1] = n.y;
    mesh->Faces[f].Normal[2] = n.z;
  }

  // 3, 4. one slot per corner; work: normals, state, slot of each corner, final number, fan
  const uint64_t corners = static_cast<uint64_t>(faceCount) * 3;
  auto* work = static_cast<uint8_t*>(MEM_ALLOC(corners * (sizeof(VECTOR) + 1 + 3 * sizeof(int)) + 16));
  if (!work) {
    WriteLog("Read Model Convert Error : " TEXT_RM_NORMAL_ALLOC_FAILED "\n");
    return 0;
  }
  VECTOR* slotNormal = reinterpret_cast<VECTOR*>(work);
  int* slotOf = reinterpret_cast<int*>(slotNormal + corners);
  int* number = slotOf + corners;
  int* fan = number + corners;
  uint8_t* state = reinterpret_cast<uint8_t*>(fan + corners);  // 1 in the current fan, 2 done
  for (uint64_t i = 0; i < corners; ++i) {
    slotOf[i] = static_cast<int>(i);
    number[i] = -1;
    state[i] = 0;
  }

  // 5. relation lists: per position, the faces using it, last face first
  const int positions = mesh->PositionCount;
  auto* rel = static_cast<int*>(MEM_ALLOC((static_cast<uint64_t>(positions) + corners * 2) * sizeof(int) + 16));
  if (!rel) {
    MEM_FREE(work);
    WriteLog("Read Model Convert Error : " TEXT_RM_RELATION_ALLOC_FAILED "\n");
    return 0;
  }
  int* relHead = rel;
  int* relFace = rel + positions;
  int* relNext = relFace + corners;
  for (int i = 0; i < positions; ++i) relHead[i] = -1;
  for (int f = 0, e = 0; f < faceCount; ++f) {
    const int* p = tm.Pos(f);
    for (int k = 0; k < 3; ++k, ++e) {
      relFace[e] = f;
      relNext[e] = relHead[p[k]];
      relHead[p[k]] = e;
    }
  }

  auto faceNormal = [&](int f) {
    const float* n = mesh->Faces[f].Normal;
    return VECTOR{n[0], n[1], n[2]};
  };
  auto inFan = [&](int f) { return state[f * 3] == 1 || state[f * 3 + 1] == 1 || state[f * 3 + 2] == 1; };

  // 6. fans
  for (int f = 0; f < faceCount; ++f) {
    if (state[f * 3] == 2 && state[f * 3 + 1] == 2 && state[f * 3 + 2] == 2) continue;
    for (int c = 0; c < 3; ++c) {
      if (state[f * 3 + c] == 2) continue;
      int fanSize = 0;
      fan[fanSize++] = f * 3 + c;
      state[f * 3 + c] = 1;
      VECTOR acc = faceNormal(f);
      const int center = tm.Pos(f)[c];
      bool closed = false;
      // dir 0 walks across the edge to the next corner, dir 1 across the edge from the previous
      for (int dir = 0; dir < 2 && !closed; ++dir) {
        int cur = f, curCorner = c, prev = -1;
        for (;;) {
          const int* cp = tm.Pos(cur);
          const int other = dir == 0 ? cp[(curCorner + 1) % 3] : cp[(curCorner + 2) % 3];
          const int curThird = dir == 0 ? cp[(curCorner + 2) % 3] : cp[(curCorner + 1) % 3];
          // the edge runs center -> other in the walk's direction 0, other -> center in direction 1
          const int ea = dir == 0 ? center : other, eb = dir == 0 ? other : center;
          // plane at right angles to the edge: S towards the current face's third corner, N
          VECTOR N = faceNormal(cur);
          VECTOR E = Sub(tm.P(other), tm.P(center));
          VECTOR toThird = Sub(tm.P(curThird), tm.P(center));
          VECTOR S = toThird;
          float ee = Dot(E, E);
          if (ee > 0.0f && std::isfinite(ee)) {
            float k = Dot(toThird, E) / ee;
            S = VECTOR{toThird.x - E.x * k, toThird.y - E.y * k, toThird.z - E.z * k};
          }
          Normalize(&S);
          int best = -1, bestDir = 0, bestThird = -1;
          bool bestFront = false;
          float bestValue = 0.0f;
          for (int e = relHead[center]; e >= 0; e = relNext[e]) {
            int g = relFace[e];
            if (g == cur || g == prev || inFan(g)) continue;
            int third;
            int d = EdgeDirection(tm.Pos(g), ea, eb, &third);
            if (d == 0 || third == curThird) continue;
            VECTOR t = Sub(tm.P(third), tm.P(center));
            float s = Dot(t, S), n = Dot(t, N);
            float len = std::sqrt(s * s + n * n);
            if (len > 0.0f && std::isfinite(len)) {
              s /= len;
              n /= len;
            }
            bool front = n >= 0.0f;
            float value = front ? s : -s;
            if (best >= 0) {
              const int* bp = tm.Pos(best);
              const int* gp = tm.Pos(g);
              bool same = (gp[0] == bp[0] || gp[0] == bp[1] || gp[0] == bp[2]) &&
                          (gp[1] == bp[0] || gp[1] == bp[1] || gp[1] == bp[2]) &&
                          (gp[2] == bp[0] || gp[2] == bp[1] || gp[2] == bp[2]);
              if (same) {
                if (!(d == -1 && bestDir == 1)) continue;
              } else if (bestFront && !front) {
                continue;
              } else if (bestFront == front && !(value > bestValue)) {
                continue;
              }
            }
            best = g;
            bestDir = d;
            bestThird = third;
            bestFront = front;
            bestValue = value;
          }
          (void)bestThird;
          if (best < 0 || bestDir == 1) break;
          VECTOR bn = faceNormal(best);
          if (Dot(bn, faceNormal(cur)) < limit) break;
          if (best == f) {
            closed = true;
            break;
          }
          const int* bp = tm.Pos(best);
          int corner = 0;
          while (corner < 2 && bp[corner] != center) ++corner;
          state[best * 3 + corner] = 1;
          fan[fanSize++] = best * 3 + corner;
          acc.x += bn.x;
          acc.y += bn.y;
          acc.z += bn.z;
          prev = cur;
          cur = best;
          curCorner = corner;
        }
      }
      if (!Normalize(&acc)) acc = READMODEL_FALLBACK_NORMAL;
      const int start = fan[0];
      for (int i = 0; i < fanSize; ++i) {
        slotNormal[fan[i]] = acc;
        state[fan[i]] = 2;
        slotOf[fan[i]] = start;
      }
    }
  }
  MEM_FREE(rel);

  // 7. compact the used slots into the mesh's normals
  int used = 0;
  for (uint64_t i = 0; i < corners; ++i) {
    int slot = slotOf[i];
    if (number[slot] < 0) number[slot] = used++;
  }
  int64_t missingInts = 0;
  for (int f = 0; f < faceCount; ++f)
    if (!(mesh->Faces[f].Sets & READMODEL_SET_BIT(READMODEL_SET_NORMAL)))
      missingInts += 3 * (SetCount(mesh->Faces[f].Sets) + 1);
  auto* normals = static_cast<VECTOR*>(ReadModelAlloc(rm, sizeof(VECTOR) * static_cast<uint64_t>(used)));
  int* store = missingInts > 0
      ? static_cast<int*>(ReadModelAlloc(rm, sizeof(int) * static_cast<uint64_t>(missingInts)))
      : nullptr;
  if ((!normals && used > 0) || (missingInts > 0 && !store)) {
    MEM_FREE(work);
    WriteLog("Read Model Convert Error : " TEXT_RM_NORMAL_ALLOC_FAILED " _ 2\n");
    return 0;
  }
  for (uint64_t i = 0; i < corners; ++i) {
    int slot = slotOf[i];
    normals[number[slot]] = slotNormal[slot];
  }
  for (int f = 0; f < faceCount; ++f) {
    ReadModelFace& face = mesh->Faces[f];
    if (!(face.Sets & READMODEL_SET_BIT(READMODEL_SET_NORMAL))) {
      // give the face a normal set: the stored sets move to a layout with the normal set added
      uint32_t sets = face.Sets | READMODEL_SET_BIT(READMODEL_SET_NORMAL);
      int* idx = store;
      store += 3 * SetCount(sets);
      ReadModelFace moved = face;
      moved.Sets = sets;
      moved.Index = idx;
      moved.IndexStorage = 3 * SetCount(sets);
      for (int s = 0; s < READMODEL_SET_COUNT; ++s) {
        const int* src = ReadModelFaceIndices(&face, s);
        int* dst = ReadModelFaceIndices(&moved, s);
        if (src && dst) std::memcpy(dst, src, sizeof(int) * 3);
      }
      face = moved;
    }
    int* idx = ReadModelFaceIndices(&face, READMODEL_SET_NORMAL);
    for (int k = 0; k < 3; ++k) idx[k] = number[slotOf[f * 3 + k]];
  }
  mesh->Normals = normals;
  mesh->NormalCount = used;
  MEM_FREE(work);
  return 1;
}
