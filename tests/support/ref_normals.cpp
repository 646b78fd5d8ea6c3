// The literal fan walk of the automatic normals (see ref_normals.h).
#include "tests/support/ref_normals.h"

#include <cmath>
#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/base/popcount.h>
#include <qzlib/modelimport/readmodel_convert.h>

namespace {

constexpr float kDefaultLoadSmoothingAngle = 1.5620697f;

int SetCount(uint32_t sets) { return PopCount(sets); }

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

int RefMakeReadModelNormals(ReadModel* rm, ReadModelMesh* mesh) {
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
