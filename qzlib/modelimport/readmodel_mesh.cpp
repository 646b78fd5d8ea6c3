// Mesh operations of the conversion: triangulation, vertex merging and automatic normals.
#include <algorithm>
#include <cmath>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/popcount.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include <qzlib/modelimport/readmodel_work.h>

namespace {

constexpr float kDefaultLoadSmoothingAngle = 1.5620697f;

int SetCount(uint32_t sets) { return PopCount(sets); }

constexpr uint32_t kPositionSet = READMODEL_SET_BIT(READMODEL_SET_POSITION);
constexpr uint32_t kNormalSet = READMODEL_SET_BIT(READMODEL_SET_NORMAL);

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
  RMNoteIndexBlock(mesh, store, sizeof(int) * static_cast<uint64_t>(extraInts));
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
  // the faces as read are copied whole: a large block of them goes back now
  ReadModelFreeLargeBlock(rm, mesh->Faces, sizeof(ReadModelFace) * static_cast<uint64_t>(mesh->FaceCount));
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

// The faces around every edge of a triangle mesh, grouped for the fan walk's choice. An edge is
// an unordered pair of different positions, lo < hi. Its faces are grouped by their third
// position: the one off the edge, or for a face that holds a position of the edge twice, that
// position. A group lists its faces from the last face to the first, first those that run
// lo -> hi (with the faces that hold a position twice, which run both ways), then those that run
// hi -> lo. The faces of one group are one triangle to the choice rule, so a step of the walk
// looks at each group of the edge once instead of at every face around the position.
class EdgeGroups {
 public:
  EdgeGroups() = default;
  EdgeGroups(const EdgeGroups&) = delete;
  EdgeGroups& operator=(const EdgeGroups&) = delete;
  ~EdgeGroups() { Release(); }
  // Frees the tables (the walk is over).
  void Release() {
    MEM_FREE(block_);
    MEM_FREE(cursors_);
    block_ = nullptr;
    cursors_ = nullptr;
  }

  // Indexes faceCount triangles (tri: three position indices per face, each below positions).
  // scratch: three ints per corner the caller has no use for yet, overwritten. false when the
  // memory cannot be had.
  bool Build(const int* tri, int faceCount, int positions, int* const scratch[3]);

  // The edge from corner k to corner k + 1 of face f, or -1 when both are one position.
  int HalfEdge(int f, int k) const { return halfEdge_[f * 3 + k]; }
  // The most groups any edge has.
  int MostGroups() const { return mostGroups_; }
  int GroupBegin(int edge) const { return edgeGroup_[edge]; }
  int GroupEnd(int edge) const { return edgeGroup_[edge + 1]; }
  int Third(int group) const { return groupThird_[group]; }

  // The first face of a run of a group (run 0 lo -> hi, run 1 hi -> lo) that inFan does not
  // hold, or -1. Within one fan (one value of fan) inFan must keep holding every face it held:
  // the faces found in the fan are passed over for the rest of it. Adds the faces passed over
  // to *work.
  template <class InFan>
  int FirstOutside(int group, int run, int fan, const InFan& inFan, uint64_t* work) {
    const int begin = run ? groupMid_[group] : groupBegin_[group];
    const int end = run ? groupBegin_[group + 1] : groupMid_[group];
    if (end - begin <= 1) return begin < end && !inFan(faces_[begin]) ? faces_[begin] : -1;
    Cursor& c = CursorOf(group);
    if (c.fan != fan) {
      c.fan = fan;
      c.at[0] = groupBegin_[group];
      c.at[1] = groupMid_[group];
    }
    int i = c.at[run];
    const int from = i;
    while (i < end && inFan(faces_[i])) ++i;
    *work += static_cast<uint64_t>(i - from);
    c.at[run] = i;
    return i < end ? faces_[i] : -1;
  }

 private:
  uint8_t* block_ = nullptr;
  int mostGroups_ = 0;
  int* halfEdge_ = nullptr;    // per corner
  int* edgeGroup_ = nullptr;   // per edge its first group; one more closes the last edge
  int* groupThird_ = nullptr;  // per group
  int* groupBegin_ = nullptr;  // per group its first face in faces_; one more closes the last
  int* groupMid_ = nullptr;    // per group its first face that runs hi -> lo
  int* faces_ = nullptr;

  // The two run cursors of a group that has a run of more than one face (few in most meshes,
  // none in a closed surface), valid for one fan; kept in a table keyed by group.
  struct Cursor {
    int group;  // -1: empty
    int fan;
    int at[2];
  };
  Cursor* cursors_ = nullptr;
  uint32_t cursorMask_ = 0;
  static uint32_t CursorHash(int group) { return static_cast<uint32_t>(group) * 0x9E3779B1u; }
  // The cursor of a group with a long run (it is in the table).
  Cursor& CursorOf(int group) {
    uint32_t i = CursorHash(group) & cursorMask_;
    while (cursors_[i].group != group) i = (i + 1) & cursorMask_;
    return cursors_[i];
  }
  // The table for every group with a long run. false when the memory cannot be had.
  bool MakeCursors(int groups);
};

bool EdgeGroups::MakeCursors(int groups) {
  uint64_t longRuns = 0;
  for (int g = 0; g < groups; ++g)
    if (groupMid_[g] - groupBegin_[g] > 1 || groupBegin_[g + 1] - groupMid_[g] > 1) ++longRuns;
  if (longRuns == 0) return true;
  uint64_t size = 2;
  while (size < longRuns * 2) size *= 2;
  cursors_ = static_cast<Cursor*>(MEM_ALLOC(sizeof(Cursor) * size));
  if (!cursors_) return false;
  cursorMask_ = static_cast<uint32_t>(size - 1);
  for (uint64_t i = 0; i < size; ++i) cursors_[i] = Cursor{-1, -1, {0, 0}};
  for (int g = 0; g < groups; ++g) {
    if (!(groupMid_[g] - groupBegin_[g] > 1 || groupBegin_[g + 1] - groupMid_[g] > 1)) continue;
    uint32_t i = CursorHash(g) & cursorMask_;
    while (cursors_[i].group >= 0) i = (i + 1) & cursorMask_;
    cursors_[i].group = g;
  }
  return true;
}

bool EdgeGroups::Build(const int* tri, int faceCount, int positions, int* const scratch[3]) {
  const uint64_t corners = static_cast<uint64_t>(faceCount) * 3;
  const uint64_t p = static_cast<uint64_t>(positions);
  // kept: per corner the half edge, per edge (at most one per corner) a group start, per group
  // (at most one per corner) third, begin and mid, the faces (at most one per corner); building:
  // per position a list start and two marks, and in the caller's scratch per corner the list by
  // lower position, the group of each face slot and a copy of the slots.
  const uint64_t kept = corners * 6 + 4;
  const uint64_t ints = kept + 3 * p + 1;
  block_ = static_cast<uint8_t*>(MEM_ALLOC(ints * sizeof(int)));
  if (!block_) return false;
  int* q = reinterpret_cast<int*>(block_);
  halfEdge_ = q, q += corners;
  edgeGroup_ = q, q += corners + 1;
  groupThird_ = q, q += corners + 1;
  groupBegin_ = q, q += corners + 1;
  groupMid_ = q, q += corners + 1;
  faces_ = q, q += corners;
  int* loStart = q;
  q += p + 1;
  int* mark = q;
  q += p;
  int* groupMark = q;
  int* loList = scratch[0];
  int* slotGroup = scratch[1];
  int* slotCopy = scratch[2];
  auto next = [](int k) { return k == 2 ? 0 : k + 1; };

  // per lower position its half edges, the last face first
  std::memset(loStart, 0, sizeof(int) * (p + 1));
  for (int f = 0; f < faceCount; ++f) {
    const int* t = tri + f * 3;
    for (int k = 0; k < 3; ++k) {
      const int a = t[k], b = t[next(k)];
      if (a != b) ++loStart[(a < b ? a : b) + 1];
    }
  }
  for (uint64_t i = 0; i < p; ++i) loStart[i + 1] += loStart[i];
  for (int f = faceCount - 1; f >= 0; --f) {
    const int* t = tri + f * 3;
    for (int k = 0; k < 3; ++k) {
      const int a = t[k], b = t[next(k)];
      halfEdge_[f * 3 + k] = -1;
      if (a != b) loList[loStart[a < b ? a : b]++] = f * 3 + k;
    }
  }
  // loStart[lo] is now the end of lo's list and the start of the next one's
  for (uint64_t i = 0; i < p; ++i) mark[i] = groupMark[i] = -1;
  int edges = 0, groups = 0, placed = 0;
  for (int lo = 0, s = 0; lo < positions; s = loStart[lo], ++lo) {
    const int t = loStart[lo], e0 = edges;
    if (s == t) continue;
    // lo's edges numbered as first met; edgeGroup_ counts each one's faces for now (a face that
    // holds the edge twice counts once: its two half edges are neighbours in the list)
    int lastFace = -1, lastEdge = -1;
    for (int i = s; i < t; ++i) {
      const int h = loList[i], f = h / 3;
      const int a = tri[h], b = tri[f * 3 + next(h % 3)];
      const int hi = a < b ? b : a;
      if (mark[hi] < 0) {
        mark[hi] = edges;
        edgeGroup_[edges++] = 0;
      }
      const int e = mark[hi];
      halfEdge_[h] = e;
      if (f != lastFace || e != lastEdge) ++edgeGroup_[e];
      lastFace = f;
      lastEdge = e;
    }
    // each edge's slots, then its faces in list order
    for (int e = e0, at = placed; e < edges; ++e) {
      const int n = edgeGroup_[e];
      edgeGroup_[e] = at;  // the fill for now
      at += n;
    }
    lastFace = lastEdge = -1;
    for (int i = s; i < t; ++i) {
      const int h = loList[i], f = h / 3, e = halfEdge_[h];
      const int a = tri[h], b = tri[f * 3 + next(h % 3)];
      mark[a < b ? b : a] = -1;
      if (f != lastFace || e != lastEdge) faces_[edgeGroup_[e]++] = f;
      lastFace = f;
      lastEdge = e;
    }
    // each edge's groups, numbered as first met; the faces reordered by group and run, keeping
    // their order within each. The edges come in the order of their first half edge in the list,
    // which gives each one's higher position.
    for (int i = s, e = e0; i < t && e < edges; ++i) {
      const int h = loList[i];
      if (halfEdge_[h] != e) continue;
      const int a = tri[h], b = tri[h / 3 * 3 + next(h % 3)];
      const int hi = a < b ? b : a;
      const int begin = placed, end = edgeGroup_[e];
      placed = end;
      edgeGroup_[e++] = groups;
      const int g0 = groups;
      // the third position and run of a face of the edge
      auto classify = [&](int face, int* run) {
        const int* x = tri + face * 3;
        *run = 0;
        if (x[0] != x[1] && x[1] != x[2] && x[0] != x[2]) {
          if ((x[0] == hi && x[1] == lo) || (x[1] == hi && x[2] == lo) || (x[2] == hi && x[0] == lo)) *run = 1;
          return x[0] != lo && x[0] != hi ? x[0] : x[1] != lo && x[1] != hi ? x[1] : x[2];
        }
        return x[0] == x[1] || x[0] == x[2] ? x[0] : x[1];
      };
      if (end - begin <= 2) {
        // one or two faces, as around most edges: their groups directly
        int run0, run1 = 0;
        const int f0 = faces_[begin], t0 = classify(f0, &run0);
        const int f1 = end - begin == 2 ? faces_[begin + 1] : -1, t1 = f1 >= 0 ? classify(f1, &run1) : t0;
        groupThird_[groups] = t0;
        groupBegin_[groups] = begin;
        if (f1 < 0) {
          groupMid_[groups++] = run0 ? begin : end;
        } else if (t1 != t0) {
          groupMid_[groups++] = run0 ? begin : begin + 1;
          groupThird_[groups] = t1;
          groupBegin_[groups] = begin + 1;
          groupMid_[groups++] = run1 ? begin + 1 : end;
        } else {
          // one group: the face that runs lo -> hi first
          if (run0 && !run1) {
            faces_[begin] = f1;
            faces_[begin + 1] = f0;
          }
          groupMid_[groups++] = begin + (run0 ? 0 : 1) + (run1 ? 0 : 1);
        }
        if (groups - g0 > mostGroups_) mostGroups_ = groups - g0;
        continue;
      }
      for (int j = begin; j < end; ++j) {
        int run;
        const int third = classify(faces_[j], &run);
        if (groupMark[third] < 0) {
          groupMark[third] = groups;
          groupThird_[groups] = third;
          groupBegin_[groups] = 0;
          groupMid_[groups] = 0;
          ++groups;
        }
        const int g = groupMark[third];
        ++(run ? groupMid_[g] : groupBegin_[g]);
        slotGroup[j] = run ? -1 - g : g;
        slotCopy[j] = faces_[j];
      }
      // begin and mid become the fills of the two runs, then are set back
      for (int g = g0, at = begin; g < groups; ++g) {
        groupMark[groupThird_[g]] = -1;
        const int lows = groupBegin_[g], highs = groupMid_[g];
        groupBegin_[g] = at;
        groupMid_[g] = at + lows;
        at += lows + highs;
      }
      for (int j = begin; j < end; ++j) {
        const int sg = slotGroup[j];
        faces_[sg >= 0 ? groupBegin_[sg]++ : groupMid_[-1 - sg]++] = slotCopy[j];
      }
      // now begin is the old mid and mid the group's end: set them back
      if (groups - g0 > mostGroups_) mostGroups_ = groups - g0;
      for (int g = groups - 1; g >= g0; --g) {
        groupMid_[g] = groupBegin_[g];
        groupBegin_[g] = g == g0 ? begin : groupMid_[g - 1];  // the previous group's end
      }
    }
  }
  edgeGroup_[edges] = groups;
  groupBegin_[groups] = placed;
  return MakeCursors(groups);
}


// A finished fan: its normal and its first corner (the slot its corners name).
struct FanResult {
  VECTOR normal;
  int first;
};

// One candidate group of a step: where it first comes in the faces around the position (the
// larger its face, the earlier), the face it offers and how that face runs along the edge.
struct Offer {
  int first;
  int face;
  int dir;       // -1 against the walk, 1 along it
  int third;     // the group's third position
  bool doubled;  // the group's faces hold a position of the edge twice
  bool front;    // where the third corner lies around the edge (set with several groups)
  float value;
};

}  // namespace

int MakeReadModelNormals(ReadModel* rm, ReadModelMesh* mesh) {
  const int faceCount = mesh->FaceCount;
  float angle = mesh->Frame ? mesh->Frame->SmoothingAngle : 0.0f;
  if (angle == 0.0f) angle = kDefaultLoadSmoothingAngle;
  const float limit = std::cos(angle);
  const VECTOR* P = mesh->Positions;

  // 3, 4. one slot per corner, named by the first corner of the fan that last took it; work: per
  // fan its normal and first corner (room for one fan per corner, of which only the fans made are
  // touched), the corners' positions, state, the last fan of each corner, and the fan being
  // walked, whose room numbers the used slots once the fans are done
  const uint64_t corners = static_cast<uint64_t>(faceCount) * 3;
  auto* work = static_cast<uint8_t*>(MEM_ALLOC(corners * (sizeof(FanResult) + 1 + 3 * sizeof(int)) + 16));
  if (!work) {
    WriteLog("Read Model Convert Error : " TEXT_RM_NORMAL_ALLOC_FAILED "\n");
    return 0;
  }
  auto* fanResult = reinterpret_cast<FanResult*>(work);
  int* tri = reinterpret_cast<int*>(fanResult + corners);
  int* slotOf = tri + corners;
  int* fan = slotOf + corners;
  uint8_t* state = reinterpret_cast<uint8_t*>(fan + corners);  // 1 in the current fan, 2 done
  static const int kZeros[3] = {};
  for (int f = 0; f < faceCount; ++f) {
    // the position set comes first in a face's stored sets
    const ReadModelFace& face = mesh->Faces[f];
    const int* p = (face.Sets & kPositionSet) && face.Index ? face.Index : kZeros;
    tri[f * 3] = p[0];
    tri[f * 3 + 1] = p[1];
    tri[f * 3 + 2] = p[2];
  }
  std::memset(state, 0, corners);  // every corner joins one fan, which sets its slotOf

  // 2. face normals
  for (int f = 0; f < faceCount; ++f) {
    const int* p = tri + f * 3;
    VECTOR e1 = Sub(P[p[1]], P[p[0]]);
    VECTOR e2 = Sub(P[p[2]], P[p[0]]);
    VECTOR n = rm->ReverseWinding ? Cross(e2, e1) : Cross(e1, e2);
    if (!Normalize(&n)) n = VECTOR{0.0f, 0.0f, 0.0f};
    mesh->Faces[f].Normal[0] = n.x;
    mesh->Faces[f].Normal[1] = n.y;
    mesh->Faces[f].Normal[2] = n.z;
  }

  // 5. the faces around each edge, grouped by their third position
  EdgeGroups edges;
  Offer* offer = nullptr;
  // the walk's slots, fans and fan results are not used yet: the tables build in them
  int* const scratch[3] = {slotOf, fan, reinterpret_cast<int*>(fanResult)};
  if (!edges.Build(tri, faceCount, mesh->PositionCount, scratch) ||
      !(offer = static_cast<Offer*>(MEM_ALLOC(sizeof(Offer) * (static_cast<size_t>(edges.MostGroups()) + 1))))) {
    MEM_FREE(work);
    WriteLog("Read Model Convert Error : " TEXT_RM_RELATION_ALLOC_FAILED "\n");
    return 0;
  }

  auto faceNormal = [&](int f) {
    const float* n = mesh->Faces[f].Normal;
    return VECTOR{n[0], n[1], n[2]};
  };
  auto inFan = [&](int f) { return state[f * 3] == 1 || state[f * 3 + 1] == 1 || state[f * 3 + 2] == 1; };
  uint64_t steps = 0;
  int fanId = 0;
  int fans = 0;  // fans finished

  // 6. fans
  for (int f = 0; f < faceCount; ++f) {
    if (state[f * 3] == 2 && state[f * 3 + 1] == 2 && state[f * 3 + 2] == 2) continue;
    for (int c = 0; c < 3; ++c) {
      if (state[f * 3 + c] == 2) continue;
      ++fanId;
      int fanSize = 0;
      fan[fanSize++] = f * 3 + c;
      state[f * 3 + c] = 1;
      VECTOR acc = faceNormal(f);
      const int center = tri[f * 3 + c];
      bool closed = false;
      // dir 0 walks across the edge to the next corner, dir 1 across the edge from the previous
      for (int dir = 0; dir < 2 && !closed; ++dir) {
        int cur = f, curCorner = c;
        for (;;) {
          ++steps;
          const int* cp = tri + cur * 3;
          const int nextCorner = curCorner == 2 ? 0 : curCorner + 1;
          const int prevCorner = curCorner == 0 ? 2 : curCorner - 1;
          const int other = dir == 0 ? cp[nextCorner] : cp[prevCorner];
          const int curThird = dir == 0 ? cp[prevCorner] : cp[nextCorner];
          // every face that holds a position twice runs both ways along it: the walk stops
          if (other == center) break;
          // the edge runs center -> other in the walk's direction 0, other -> center in direction
          // 1; a face runs against the walk when it holds the edge the other way, which is run 1
          // of the edge's groups when the walk runs from the lower position to the higher one
          const bool walkUp = dir == 0 ? center < other : other < center;
          const int against = walkUp ? 1 : 0;
          // each group but the current face's own: its first face outside the fan and its
          // choice (a face that runs against the walk, else its first face)
          const int edge = edges.HalfEdge(cur, dir == 0 ? curCorner : prevCorner);
          int offered = 0;
          for (int g = edges.GroupBegin(edge), gEnd = edges.GroupEnd(edge); g < gEnd; ++g) {
            ++steps;
            const int third = edges.Third(g);
            if (third == curThird) continue;
            const int a = edges.FirstOutside(g, against, fanId, inFan, &steps);
            const int b = edges.FirstOutside(g, 1 - against, fanId, inFan, &steps);
            if (a < 0 && b < 0) continue;
            Offer& o = offer[offered++];
            o.first = a > b ? a : b;
            o.doubled = third == center || third == other;
            // a face that holds a position of the edge twice runs both ways: along the walk
            o.face = a >= 0 && !o.doubled ? a : o.first;
            o.dir = a >= 0 && !o.doubled ? -1 : 1;
            o.third = third;
            o.front = false;
            o.value = 0.0f;
          }
          // with several groups, where each one's third corner lies around the edge decides
          if (offered > 1) {
            // plane at right angles to the edge: S towards the current face's third corner, N
            VECTOR N = faceNormal(cur);
            VECTOR E = Sub(P[other], P[center]);
            VECTOR toThird = Sub(P[curThird], P[center]);
            VECTOR S = toThird;
            float ee = Dot(E, E);
            if (ee > 0.0f && std::isfinite(ee)) {
              float k = Dot(toThird, E) / ee;
              S = VECTOR{toThird.x - E.x * k, toThird.y - E.y * k, toThird.z - E.z * k};
            }
            Normalize(&S);
            for (int i = 0; i < offered; ++i) {
              Offer& o = offer[i];
              VECTOR t = Sub(P[o.third], P[center]);
              float s = Dot(t, S), n = Dot(t, N);
              float len = std::sqrt(s * s + n * n);
              if (len > 0.0f && std::isfinite(len)) {
                s /= len;
                n /= len;
              }
              o.front = n >= 0.0f;
              o.value = o.front ? s : -s;
            }
          }
          // in the order the faces come around the position: the last face first
          if (offered > 8) {
            std::sort(offer, offer + offered, [](const Offer& x, const Offer& y) { return x.first > y.first; });
          } else {
            for (int i = 1; i < offered; ++i) {
              Offer o = offer[i];
              int j = i;
              for (; j > 0 && offer[j - 1].first < o.first; --j) offer[j] = offer[j - 1];
              offer[j] = o;
            }
          }
          // The choice taken face by face in that order: the first face, replaced by a later one
          // that bends more to the front (or is the same triangle and runs against the walk
          // where the best runs along). Faces of one group share the third corner and so the
          // bend: a later face of the group can only replace the group's own earlier face, so
          // each group counts once, with its choice, where its first face comes.
          int best = -1, bestDir = 0;
          bool bestFront = false;
          float bestValue = 0.0f;
          for (int i = 0; i < offered; ++i) {
            const Offer& o = offer[i];
            if (best >= 0) {
              // a face that holds an edge position twice is the same triangle as any other
              // around the edge: it runs along the walk and never replaces one
              if (o.doubled) continue;
              if (bestFront && !o.front) continue;
              if (bestFront == o.front && !(o.value > bestValue)) continue;
            }
            best = o.face;
            bestDir = o.dir;
            bestFront = o.front;
            bestValue = o.value;
          }
          if (best < 0 || bestDir == 1) break;
          VECTOR bn = faceNormal(best);
          if (Dot(bn, faceNormal(cur)) < limit) break;
          if (best == f) {
            closed = true;
            break;
          }
          const int* bp = tri + best * 3;
          int corner = 0;
          while (corner < 2 && bp[corner] != center) ++corner;
          state[best * 3 + corner] = 1;
          fan[fanSize++] = best * 3 + corner;
          acc.x += bn.x;
          acc.y += bn.y;
          acc.z += bn.z;
          cur = best;
          curCorner = corner;
        }
      }
      if (!Normalize(&acc)) acc = READMODEL_FALLBACK_NORMAL;
      fanResult[fans] = FanResult{acc, fan[0]};
      for (int i = 0; i < fanSize; ++i) {
        state[fan[i]] = 2;
        slotOf[fan[i]] = fans;
      }
      ++fans;
    }
  }
  MEM_FREE(offer);
  edges.Release();  // before the normals and index sets below are allocated
  ReadModelWorkCount().NormalSteps += steps;

  // 7. compact the used slots into the mesh's normals
  int* number = fan;
  for (uint64_t i = 0; i < corners; ++i) number[i] = -1;
  int used = 0;
  for (uint64_t i = 0; i < corners; ++i) {
    int slot = fanResult[slotOf[i]].first;
    if (number[slot] < 0) number[slot] = used++;
  }
  int64_t missingInts = 0;
  for (int f = 0; f < faceCount; ++f)
    if (!(mesh->Faces[f].Sets & kNormalSet))
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
  RMNoteIndexBlock(mesh, store, sizeof(int) * static_cast<uint64_t>(missingInts));
  // a slot's normal is that of the last fan that took its corner
  for (uint64_t i = 0; i < corners; ++i)
    if (number[i] >= 0) normals[number[i]] = fanResult[slotOf[i]].normal;
  // faces are triangles: each stored set is three ints, in set order, the normal set right
  // behind the position set when the face has one
  for (int f = 0; f < faceCount; ++f) {
    ReadModelFace& face = mesh->Faces[f];
    const int before = face.Sets & kPositionSet ? 3 : 0;
    if (!(face.Sets & kNormalSet)) {
      // give the face a normal set: the stored sets move to a layout with the normal set added
      const uint32_t sets = face.Sets | kNormalSet;
      const int count = SetCount(sets);
      int* idx = store;
      store += 3 * count;
      if (face.Index) {
        std::memcpy(idx, face.Index, sizeof(int) * static_cast<size_t>(before));
        std::memcpy(idx + before + 3, face.Index + before, sizeof(int) * static_cast<size_t>(3 * (count - 1) - before));
      }
      face.Sets = sets;
      face.Index = idx;
      face.IndexStorage = 3 * count;
    }
    int* idx = face.Index + before;
    for (int k = 0; k < 3; ++k) idx[k] = number[fanResult[slotOf[f * 3 + k]].first];
  }
  mesh->Normals = normals;
  mesh->NormalCount = used;
  MEM_FREE(work);
  return 1;
}
