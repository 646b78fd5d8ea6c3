// The mesh half of the conversion: which bones move each position and face, face types, skinning
// groups of at most 54 bones, and per material the mesh vertices, faces and triangle lists.
//
// Tables are sparse: each position keeps the list of its bones (block number and weight, in
// increasing block order), each face its bone set only while it is placed; the result is the
// same as that of the dense position x block tables.
#include <cmath>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/modelimport/readmodel_work.h>

namespace {

// Whether the words of a vertex record equal those of b (records are whole 8-byte words).
inline bool SameWords(const uint8_t* a, const uint64_t* b, int words) {
  for (int w = 0; w < words; ++w) {
    uint64_t x;
    std::memcpy(&x, a + 8 * w, 8);
    if (x != b[w]) return false;
  }
  return true;
}

constexpr int kMaxListIndices = 65535;
constexpr int kMaxRecordWords = (16 + READMODEL_MAX_UV_SETS * 8) / 8;
// A position's records are found by walking its chain while it holds at most kChain of them;
// past that they move into the part's table keyed by the record's bytes.
constexpr int kChain = 8;
constexpr uint8_t kInTable = 255;
constexpr int kMaxGroups = 128;

struct Group {
  int Triangles;
  int BoneCount;
  uint16_t Bones[MV1_TRIANGLE_LIST_USE_BONE_MAX];
  uint64_t* Has;  // one bit per skin-weight block
};

struct GroupSet {
  int Count;
  Group* Groups[kMaxGroups];
};

template <class T>
T* PoolArray(ReadModel* rm, uint64_t count) {
  return static_cast<T*>(ReadModelAlloc(rm, sizeof(T) * (count > 0 ? count : 1)));
}

// Several zero-filled arrays of a pass in one block: each is given its count (at least one
// element, as PoolArray gives) and starts on an 8-byte boundary. Take() hands them out in the
// order they were asked for. The block is the pool's (Get) for what the base is made from, or
// tracked memory freed with the holder (GetScratch) for the pass's own bookkeeping, which the pool
// then does not keep until the read model ends; either is false when the block cannot be had.
class PoolArrays {
 public:
  PoolArrays() = default;
  PoolArrays(const PoolArrays&) = delete;
  PoolArrays& operator=(const PoolArrays&) = delete;
  ~PoolArrays() {
    if (scratch_) MEM_FREE(block_);
  }
  template <class T>
  void Ask(uint64_t count) {
    offsets_[asked_] = total_;
    total_ += (sizeof(T) * (count > 0 ? count : 1) + 7) / 8 * 8;
    ++asked_;
  }
  bool Get(ReadModel* rm) {
    block_ = static_cast<uint8_t*>(ReadModelAlloc(rm, total_));
    return block_ != nullptr;
  }
  bool GetScratch() {
    // sizes no memory can hold are refused before the header is added to them
    block_ = total_ > (uint64_t{1} << 48) ? nullptr : static_cast<uint8_t*>(MEM_CALLOC(static_cast<size_t>(total_)));
    scratch_ = true;
    return block_ != nullptr;
  }
  template <class T>
  T* Take() {
    return reinterpret_cast<T*>(block_ + offsets_[taken_++]);
  }

 private:
  uint64_t offsets_[8] = {};
  uint64_t total_ = 0;
  int asked_ = 0, taken_ = 0;
  uint8_t* block_ = nullptr;
  bool scratch_ = false;
};

// One zero-filled array of a pass in tracked memory, freed with the holder (null when the memory
// cannot be had).
template <class T>
class ScratchArray {
 public:
  T* Get(uint64_t count) {
    arrays_.Ask<T>(count);
    return arrays_.GetScratch() ? arrays_.Take<T>() : nullptr;
  }

 private:
  PoolArrays arrays_;
};

// A part's vertex records while the part is built. The records grow by doubling in tracked memory
// up to the most the part can have (three per face), so that only the records made occupy memory,
// behind room for a pool chunk's header: once the part is done, a large block joins the pool as it
// is (ReadModelAdoptBlock); the chains and the table are freed. Records are unique, and each is
// found by its bytes: at a position holding few records by a walk over the position's chain (newest
// first; close by in memory, as most positions are), and once a position holds more than kChain
// records in a table keyed by the bytes (open addressing, linear probing, at most half full, a slot
// holds record index + 1), so that a position shared by thousands of distinct vertices costs a
// corner no more than one shared by a few. Either way the one equal record is found.
struct VertexRecords {
  uint8_t* block = nullptr;    // tracked: room for a pool chunk's header, then the records
  uint8_t* records = nullptr;
  int* next = nullptr;       // per record: the previous record of its position + 1, 0 for none
  uint64_t capacity = 0;
  int* table = nullptr;
  uint64_t mask = 0;         // table size - 1
  uint64_t inTable = 0;      // records in the table
  uint64_t stride = 0;
  int words = 0;
  uint64_t* probes = nullptr;  // records compared, for the work count
  VertexRecords(uint64_t recordStride, uint64_t* probeCount)
      : stride(recordStride), words(static_cast<int>(recordStride / 8)), probes(probeCount) {}
  VertexRecords(const VertexRecords&) = delete;
  VertexRecords& operator=(const VertexRecords&) = delete;
  ~VertexRecords() { Release(); }
  // Frees the records and the table (the part's records are in the pool).
  void Release() {
    MEM_FREE(block);
    MEM_FREE(next);
    MEM_FREE(table);
    block = records = nullptr;
    next = table = nullptr;
    capacity = 0;
  }
  const uint8_t* Record(uint64_t e) const { return records + e * stride; }
  uint64_t Hash(const uint8_t* v) const {
    uint64_t h = 0x9E3779B97F4A7C15ull;
    for (int w = 0; w < words; ++w) {
      uint64_t x;
      std::memcpy(&x, v + 8 * w, 8);
      h = (h ^ x) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    return h;
  }
  // The record equal to v, or -1: a walk from chain head `head` (record + 1), or the table.
  int FindInChain(int head, const uint64_t* v) const {
    for (int e = head; e != 0; e = next[e - 1]) {
      ++*probes;
      if (SameWords(Record(static_cast<uint64_t>(e - 1)), v, words)) return e - 1;
    }
    return -1;
  }
  int FindInTable(const uint64_t* v) const {
    if (!table) return -1;
    for (uint64_t slot = Hash(reinterpret_cast<const uint8_t*>(v)) & mask; table[slot] != 0;
         slot = (slot + 1) & mask) {
      ++*probes;
      if (SameWords(Record(static_cast<uint64_t>(table[slot] - 1)), v, words)) return table[slot] - 1;
    }
    return -1;
  }
  // Room for count records, at most limit; false when memory runs out.
  bool Reserve(uint64_t count, uint64_t limit) {
    if (count <= capacity) return true;
    uint64_t grown = capacity ? capacity * 2 : 4096;
    if (grown > limit) grown = limit;
    if (grown < count) grown = count;
    auto* r = static_cast<uint8_t*>(MEM_REALLOC(block, kReadModelChunkHead + grown * stride));
    if (!r) return false;
    block = r;
    records = r + kReadModelChunkHead;
    auto* n = static_cast<int*>(MEM_REALLOC(next, grown * sizeof(int)));
    if (!n) return false;
    next = n;
    capacity = grown;
    return true;
  }
  // Puts record e into the table, which grows (re-filled) to stay at most half full; false when
  // memory runs out.
  bool AddToTable(uint64_t e) {
    if (2 * (inTable + 1) > mask + 1 || !table) {
      uint64_t size = table ? 2 * (mask + 1) : 64;
      auto* t = static_cast<int*>(MEM_ALLOC(size * sizeof(int)));
      if (!t) return false;
      std::memset(t, 0, size * sizeof(int));
      const uint64_t oldSize = table ? mask + 1 : 0;
      int* old = table;
      table = t;
      mask = size - 1;
      for (uint64_t slot = 0; slot < oldSize; ++slot)
        if (old[slot] != 0) Place(static_cast<uint64_t>(old[slot] - 1));
      MEM_FREE(old);
    }
    Place(e);
    ++inTable;
    return true;
  }
  void Place(uint64_t e) {
    uint64_t slot = Hash(Record(e)) & mask;
    while (table[slot] != 0) slot = (slot + 1) & mask;
    table[slot] = static_cast<int>(e + 1);
  }
};

int Fail(const char* text) {
  WriteLog(text);
  return -1;
}

bool GroupHas(const Group* g, int bone) { return (g->Has[bone >> 6] >> (bone & 63)) & 1; }

// Places a face of `bones` (increasing order) into a group of the set; its number, -1 when the
// set is full (128 groups), -2 when memory runs out.
int PlaceFace(ReadModel* rm, GroupSet* set, const uint16_t* bones, int count, int words) {
  const int tris = 1;
  for (int i = 0; i < set->Count; ++i) {
    Group* g = set->Groups[i];
    if ((g->Triangles + tris) * 3 >= kMaxListIndices) continue;
    bool all = true;
    for (int b = 0; b < count && all; ++b) all = GroupHas(g, bones[b]);
    if (all) return i;
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < set->Count; ++i) {
      Group* g = set->Groups[i];
      if ((g->Triangles + tris) * 3 >= kMaxListIndices) continue;
      for (int b = 0; b < count && g->BoneCount < MV1_TRIANGLE_LIST_USE_BONE_MAX; ++b) {
        if (GroupHas(g, bones[b])) continue;
        g->Bones[g->BoneCount++] = bones[b];
        g->Has[bones[b] >> 6] |= uint64_t{1} << (bones[b] & 63);
      }
      bool all = true;
      for (int b = 0; b < count && all; ++b) all = GroupHas(g, bones[b]);
      if (all) return i;
    }
    if (pass == 1 || set->Count == kMaxGroups) break;
    Group* g = PoolArray<Group>(rm, 1);
    uint64_t* has = PoolArray<uint64_t>(rm, static_cast<uint64_t>(words));
    if (!g || !has) return -2;
    g->Has = has;
    set->Groups[set->Count++] = g;
  }
  return -1;
}

uint8_t ColorChannel(float c) {
  if (c >= 1.0f) return 255;
  if (c < 0.0f || std::isnan(c)) return 0;
  return static_cast<uint8_t>(std::nearbyint(static_cast<double>(c) * 255.0));
}

}  // namespace

int BuildReadModelMeshParts(ReadModel* rm, ReadModelMesh* mesh) {
  const int faceCount = mesh->FaceCount;
  const int posCount = mesh->PositionCount;
  const int skinCount = mesh->SkinWeightCount;
  auto* work = static_cast<RMMeshWork*>(mesh->Work);

  // ---- bone tables ----
  PoolArrays faceTypeArrays;
  ScratchArray<uint16_t> faceBonesArray, faceGroupArray;
  ScratchArray<int> fillArray;
  ScratchArray<GroupSet> groupsArray;
  uint8_t* faceType = nullptr;
  uint16_t* faceBoneCount = nullptr;
  uint16_t* faceBones = nullptr;   // union of one face's bones
  int words = (skinCount + 63) / 64;
  if (skinCount > 0) {
    faceTypeArrays.Ask<uint8_t>(static_cast<uint64_t>(faceCount));
    faceTypeArrays.Ask<uint16_t>(static_cast<uint64_t>(faceCount));
    if (!faceTypeArrays.GetScratch()) return Fail("Read Model Convert Error : " TEXT_RM_FACE_TYPE_ALLOC_FAILED "\n");
    faceType = faceTypeArrays.Take<uint8_t>();
    faceBoneCount = faceTypeArrays.Take<uint16_t>();
    int64_t pairs = 0;
    for (int b = 0; b < skinCount; ++b) pairs += mesh->SkinWeights[b]->WeightCount;
    work->PosBoneStart = PoolArray<int>(rm, static_cast<uint64_t>(posCount) + 1);
    work->PosBone = PoolArray<uint16_t>(rm, static_cast<uint64_t>(pairs));
    if (!work->PosBoneStart || !work->PosBone)
      return Fail("Read Model Convert Error : " TEXT_RM_VERTEX_BONE_INIT_FAILED "\n");
    work->PosWeight = PoolArray<float>(rm, static_cast<uint64_t>(pairs));
    if (!work->PosWeight) return Fail("Read Model Convert Error : " TEXT_RM_VERTEX_WEIGHT_ALLOC_FAILED "\n");
    faceBones = faceBonesArray.Get(3ull * static_cast<uint64_t>(skinCount));
    if (!faceBones) return Fail("Read Model Convert Error : " TEXT_RM_FACE_BONE_INIT_FAILED "\n");
    // CSR by position: count, then fill in block order (so each list is in increasing order)
    int* start = work->PosBoneStart;
    for (int b = 0; b < skinCount; ++b) {
      const ReadModelSkinWeight* w = mesh->SkinWeights[b];
      for (int j = 0; j < w->WeightCount; ++j)
        if (w->Weights[j].Weight > 0.0f) ++start[w->Weights[j].Index + 1];
    }
    for (int p = 0; p < posCount; ++p) start[p + 1] += start[p];
    int* fill = fillArray.Get(static_cast<uint64_t>(posCount));
    if (!fill) return Fail("Read Model Convert Error : " TEXT_RM_VERTEX_BONE_INIT_FAILED "\n");
    for (int p = 0; p < posCount; ++p) fill[p] = start[p];
    for (int b = 0; b < skinCount; ++b) {
      const ReadModelSkinWeight* w = mesh->SkinWeights[b];
      for (int j = 0; j < w->WeightCount; ++j) {
        float v = w->Weights[j].Weight;
        if (!(v > 0.0f)) continue;
        uint32_t p = w->Weights[j].Index;
        // a block naming a position twice keeps its last weight, as one table cell would
        if (fill[p] > start[p] && work->PosBone[fill[p] - 1] == b) {
          work->PosWeight[fill[p] - 1] = v;
          continue;
        }
        work->PosBone[fill[p]] = static_cast<uint16_t>(b);
        work->PosWeight[fill[p]++] = v;
      }
    }
    // close the gaps left by repeated cells: lists keep their start, the end is fill
    for (int p = 0; p < posCount; ++p) start[p] = fill[p] - (fill[p] - start[p]);
    // store the ends in a second pass: PosBoneStart[p + 1] must be the end of p's list
    int* ends = fill;
    int packed = 0;
    for (int p = 0; p < posCount; ++p) {
      int s = start[p], e = ends[p];
      start[p] = packed;
      for (int i = s; i < e; ++i) {
        work->PosBone[packed] = work->PosBone[i];
        work->PosWeight[packed++] = work->PosWeight[i];
      }
    }
    start[posCount] = packed;
  }

  // ---- per-material tables and face placement ----
  const int partCount = mesh->MaterialCount;
  auto* parts = PoolArray<RMPartWork>(rm, static_cast<uint64_t>(partCount));
  ScratchArray<int64_t> partCountsArray;
  auto* partCounts = partCountsArray.Get(4ull * static_cast<uint64_t>(partCount));
  if (!parts || !partCounts) return Fail("Read Model Convert Error : " TEXT_RM_MATERIAL_POLY_ALLOC_FAILED "\n");
  work->Parts = parts;
  work->PartCount = partCount;
  GroupSet* groups = nullptr;
  uint16_t* faceGroup = nullptr;
  if (skinCount > 0) {
    groups = groupsArray.Get(2ull * static_cast<uint64_t>(partCount));
    faceGroup = faceGroupArray.Get(static_cast<uint64_t>(faceCount));
    if (!groups || !faceGroup) return Fail("Read Model Convert Error : " TEXT_RM_FACE_GROUP_ALLOC_FAILED "\n");
  }
  for (int f = 0; f < faceCount; ++f) {
    const ReadModelFace& face = mesh->Faces[f];
    const int part = face.MaterialIndex;
    int type = 0;
    if (skinCount > 0) {
      const int* pos = ReadModelFaceIndicesOrZero(&face, READMODEL_SET_POSITION);
      const int* start = work->PosBoneStart;
      int most = 0, n = 0;
      for (int k = 0; k < 3; ++k) {
        int p = pos[k];
        int c = start[p + 1] - start[p];
        if (c > most) most = c;
        // merge the position's bones into the sorted union
        int merged = n;
        for (int i = start[p]; i < start[p + 1]; ++i) faceBones[merged++] = work->PosBone[i];
        // insertion into sorted order with duplicates removed (lists are short)
        int out = 0;
        for (int i = 0; i < merged; ++i) {
          uint16_t v = faceBones[i];
          int at = out;
          while (at > 0 && faceBones[at - 1] > v) --at;
          if (at > 0 && faceBones[at - 1] == v) continue;
          std::memmove(faceBones + at + 1, faceBones + at, sizeof(uint16_t) * (out - at));
          faceBones[at] = v;
          ++out;
        }
        n = out;
      }
      type = most == 0 ? 0 : most <= 4 ? 1 : most <= 8 ? 2 : 3;
      faceType[f] = static_cast<uint8_t>(type);
      faceBoneCount[f] = static_cast<uint16_t>(n);
      RMPartWork& pw = parts[part];
      if (type == 1 || type == 2) {
        int g = PlaceFace(rm, &groups[part * 2 + type - 1], faceBones, n, words);
        if (g == -2) return Fail("Read Model Convert Error : " TEXT_RM_FACE_GROUP_ALLOC_FAILED "\n");
        if (g < 0) {
          WriteLogFmt("Read Model Convert Error : " TEXT_RM_TOO_MANY_GROUPS "\n", part);
          return -1;
        }
        groups[part * 2 + type - 1].Groups[g]->Triangles += 1;
        faceGroup[f] = static_cast<uint16_t>(g);
        int need = type == 1 ? 4 : 8;
        if (pw.BonesPerVertex < need) pw.BonesPerVertex = need;
      } else if (type == 3) {
        if (pw.BonesPerVertex < n) pw.BonesPerVertex = n;
      }
    }
    partCounts[part * 4 + type] += 1;
  }

  // ---- mesh vertices, faces and triangle lists of each part ----
  // faces bucketed by material, in face order
  PoolArrays meshArrays;
  meshArrays.Ask<int>(static_cast<uint64_t>(faceCount));
  meshArrays.Ask<int>(static_cast<uint64_t>(partCount) + 1);
  meshArrays.Ask<int>(static_cast<uint64_t>(posCount));
  meshArrays.Ask<uint8_t>(static_cast<uint64_t>(posCount));
  meshArrays.Ask<int>(static_cast<uint64_t>(partCount));
  if (!meshArrays.GetScratch()) return Fail("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
  int* order = meshArrays.Take<int>();
  int* partStart = meshArrays.Take<int>();
  // per position, in the part being built: its chain's head (record + 1, 0 for none) and how many
  // records it holds (kInTable once they are in the table); cleared after each part
  int* posHead = meshArrays.Take<int>();
  uint8_t* posRecords = meshArrays.Take<uint8_t>();
  for (int f = 0; f < faceCount; ++f) ++partStart[mesh->Faces[f].MaterialIndex + 1];
  for (int p = 0; p < partCount; ++p) partStart[p + 1] += partStart[p];
  {
    int* fill = meshArrays.Take<int>();
    for (int p = 0; p < partCount; ++p) fill[p] = partStart[p];
    for (int f = 0; f < faceCount; ++f) order[fill[mesh->Faces[f].MaterialIndex]++] = f;
  }

  uint64_t probes = 0;  // vertices compared while finding corners' vertices
  for (int part = 0; part < partCount; ++part) {
    RMPartWork& pw = parts[part];
    pw.Material = mesh->Materials[part];
    pw.UVSetCount = ReadModelMaterialUVSets(pw.Material);
    pw.VertexStride = pw.UVSetCount * 8 + 16;
    const int n = partStart[part + 1] - partStart[part];
    const int* faces = order + partStart[part];
    const uint64_t maxVerts = 3ull * static_cast<uint64_t>(n);
    const uint64_t stride = static_cast<uint64_t>(pw.VertexStride);
    VertexRecords made(stride, &probes);
    pw.Faces = PoolArray<MV1MeshFace>(rm, static_cast<uint64_t>(n));
    if (!pw.Faces) return Fail("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
    pw.FaceCount = n;
    // a corner's vertex record is built in v64, a whole number of 8-byte words
    const int words = pw.VertexStride / 8;
    uint64_t v64[kMaxRecordWords];
    for (int i = 0; i < n; ++i) {
      const ReadModelFace& face = mesh->Faces[faces[i]];
      const int* pos = ReadModelFaceIndicesOrZero(&face, READMODEL_SET_POSITION);
      const int* nrm = ReadModelFaceIndicesOrZero(&face, READMODEL_SET_NORMAL);
      const int* col = ReadModelFaceIndicesOrZero(&face, READMODEL_SET_COLOR);
      const int* uvIndex[READMODEL_MAX_UV_SETS];
      for (int s = 0; s < pw.UVSetCount; ++s)
        uvIndex[s] = mesh->UVs[s] ? ReadModelFaceIndicesOrZero(&face, READMODEL_SET_UV0 + s) : nullptr;
      MV1MeshFace& out = pw.Faces[i];
      int type = skinCount > 0 ? faceType[faces[i]] : 0;
      out.TriangleListType = static_cast<uint16_t>(type);
      out.TriangleListIndex = skinCount > 0 ? faceGroup[faces[i]] : 0xFFFF;
      for (int k = 0; k < 3; ++k) {
        int c = rm->ReverseWinding && k > 0 ? 3 - k : k;
        for (int w = 0; w < words; ++w) v64[w] = 0;
        auto* v = reinterpret_cast<MV1MeshVertex*>(v64);
        v->PositionIndex = static_cast<uint32_t>(pos[c]);
        v->NormalIndex = static_cast<uint32_t>(nrm[c]);
        if (mesh->VertexColors) {
          const COLOR_F& cf = mesh->VertexColors[col[c]];
          v->Diffuse = COLOR_U8{ColorChannel(cf.b), ColorChannel(cf.g), ColorChannel(cf.r), ColorChannel(cf.a)};
        } else {
          v->Diffuse = COLOR_U8{255, 255, 255, 255};
        }
        if (v->Diffuse.a != 255) pw.HasVertexAlpha = 1;
        float* uv = MV1MeshVertexUV(v);
        for (int s = 0; s < pw.UVSetCount; ++s) {
          if (!uvIndex[s]) continue;
          const ReadModelUV& t = mesh->UVs[s][uvIndex[s][c]];
          uv[s * 2] = t.u;
          uv[s * 2 + 1] = t.v;
        }
        const int p = pos[c];
        int found = posRecords[p] == kInTable ? made.FindInTable(v64) : made.FindInChain(posHead[p], v64);
        if (found < 0) {
          if (!made.Reserve(static_cast<uint64_t>(pw.VertexCount) + 1, maxVerts))
            return Fail("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
          found = pw.VertexCount++;
          // word by word: a copy of a length known only at run time costs more than the record
          uint8_t* record = made.records + static_cast<size_t>(found) * stride;
          for (int w = 0; w < words; ++w) std::memcpy(record + 8 * w, &v64[w], 8);
          bool ok = true;
          if (posRecords[p] == kInTable) {
            ok = made.AddToTable(static_cast<uint64_t>(found));
          } else if (posRecords[p] < kChain) {
            made.next[found] = posHead[p];
            posHead[p] = found + 1;
            ++posRecords[p];
          } else {  // the position's records move into the table
            for (int e = posHead[p]; ok && e != 0; e = made.next[e - 1])
              ok = made.AddToTable(static_cast<uint64_t>(e - 1));
            ok = ok && made.AddToTable(static_cast<uint64_t>(found));
            posRecords[p] = kInTable;
          }
          if (!ok) return Fail("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
        }
        out.VertexIndex[k] = static_cast<uint32_t>(found);
      }
    }
    for (int e = 0; e < pw.VertexCount; ++e) {
      const uint32_t p = reinterpret_cast<const MV1MeshVertex*>(made.Record(static_cast<uint64_t>(e)))->PositionIndex;
      posHead[p] = 0;
      posRecords[p] = 0;
    }
    // large records become the pool's block for what the base is made from where they are, shrunk
    // to their count (a shrink that fails keeps the room); small ones are copied into the pool,
    // where they share a block, and their scratch goes back whole
    const uint64_t recordBytes = static_cast<uint64_t>(pw.VertexCount) * stride;
    if (recordBytes >= kReadModelAdoptFrom) {
      if (static_cast<uint64_t>(pw.VertexCount) < made.capacity)
        if (auto* kept =
                static_cast<uint8_t*>(MEM_REALLOC(made.block, kReadModelChunkHead + recordBytes))) {
          made.block = kept;
          made.records = kept + kReadModelChunkHead;
        }
      pw.Vertices = made.records;
      ReadModelAdoptBlock(rm, made.block);
      made.block = made.records = nullptr;
    } else {
      pw.Vertices = PoolArray<uint8_t>(rm, recordBytes);
      if (!pw.Vertices) return Fail("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
      if (recordBytes > 0) std::memcpy(pw.Vertices, made.records, static_cast<size_t>(recordBytes));
    }
    made.Release();

    // lists: rigid, four-bone groups, eight-bone groups, free-bone
    const int64_t* counts = partCounts + part * 4;
    const int perList = kMaxListIndices / 3;
    const int rigid = static_cast<int>((counts[0] + perList - 1) / perList);
    const int g1 = groups ? groups[part * 2].Count : 0;
    const int g2 = groups ? groups[part * 2 + 1].Count : 0;
    const int free = static_cast<int>((counts[3] + perList - 1) / perList);
    pw.ListCount = rigid + g1 + g2 + free;
    pw.Lists = PoolArray<RMListWork>(rm, static_cast<uint64_t>(pw.ListCount));
    PoolArrays partArrays;
    partArrays.Ask<int>(static_cast<uint64_t>(n));
    partArrays.Ask<int>(static_cast<uint64_t>(pw.ListCount) + 1);
    partArrays.Ask<int>(static_cast<uint64_t>(n));
    partArrays.Ask<int>(static_cast<uint64_t>(pw.VertexCount));
    partArrays.Ask<int>(static_cast<uint64_t>(pw.VertexCount));
    partArrays.Ask<int>(static_cast<uint64_t>(pw.ListCount));
    if (!pw.Lists || !partArrays.GetScratch()) return Fail("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
    int* listOf = partArrays.Take<int>();
    int* listStart = partArrays.Take<int>();
    int* listFaces = partArrays.Take<int>();
    int* local = partArrays.Take<int>();
    int* stamp = partArrays.Take<int>();
    int64_t seen0 = 0, seen3 = 0;
    for (int i = 0; i < n; ++i) {
      int type = pw.Faces[i].TriangleListType;
      int l;
      if (type == 0) l = static_cast<int>(seen0++ / perList);
      else if (type == 1) l = rigid + pw.Faces[i].TriangleListIndex;
      else if (type == 2) l = rigid + g1 + pw.Faces[i].TriangleListIndex;
      else l = rigid + g1 + g2 + static_cast<int>(seen3++ / perList);
      listOf[i] = l;
      ++listStart[l + 1];
    }
    for (int l = 0; l < pw.ListCount; ++l) listStart[l + 1] += listStart[l];
    {
      int* fill = partArrays.Take<int>();
      for (int l = 0; l < pw.ListCount; ++l) fill[l] = listStart[l];
      for (int i = 0; i < n; ++i) listFaces[fill[listOf[i]]++] = i;
    }
    for (int l = 0; l < pw.ListCount; ++l) {
      RMListWork& lw = pw.Lists[l];
      if (l < rigid) {
        lw.Type = MV1_VERTEX_TYPE_RIGID;
        lw.Stride = 32;
      } else if (l < rigid + g1 + g2) {
        bool four = l < rigid + g1;
        const Group* g = groups[part * 2 + (four ? 0 : 1)].Groups[l - rigid - (four ? 0 : g1)];
        lw.Type = four ? MV1_VERTEX_TYPE_SKIN_4BONE : MV1_VERTEX_TYPE_SKIN_8BONE;
        lw.Stride = four ? 48 : 64;
        lw.UseBoneCount = g->BoneCount;
        lw.UseBone = g->Bones;
      } else {
        lw.Type = MV1_VERTEX_TYPE_SKIN_FREEBONE;
        lw.BonesPerVertex = pw.BonesPerVertex;
        lw.Stride = MV1FreeBoneVertexStride(pw.BonesPerVertex);
      }
      // the list's vertices counted first (stamp l + 1), then numbered as they come (stamp
      // -(l + 1)), so that the pool keeps no room for more
      const int lf = listStart[l + 1] - listStart[l];
      int listVerts = 0;
      for (int i = listStart[l]; i < listStart[l + 1]; ++i) {
        for (uint32_t v : pw.Faces[listFaces[i]].VertexIndex) {
          if (stamp[v] == l + 1) continue;
          stamp[v] = l + 1;
          ++listVerts;
        }
      }
      PoolArrays listArrays;
      listArrays.Ask<uint32_t>(static_cast<uint64_t>(listVerts));
      listArrays.Ask<uint16_t>(3ull * static_cast<uint64_t>(lf));
      if (!listArrays.Get(rm)) return Fail("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
      lw.MeshVertexIndex = listArrays.Take<uint32_t>();
      lw.Index = listArrays.Take<uint16_t>();
      for (int i = listStart[l]; i < listStart[l + 1]; ++i) {
        MV1MeshFace& face = pw.Faces[listFaces[i]];
        for (int k = 0; k < 3; ++k) {
          int v = static_cast<int>(face.VertexIndex[k]);
          if (stamp[v] != -(l + 1)) {
            stamp[v] = -(l + 1);
            local[v] = lw.VertexCount;
            lw.MeshVertexIndex[lw.VertexCount++] = static_cast<uint32_t>(v);
          }
          lw.Index[lw.IndexCount++] = static_cast<uint16_t>(local[v]);
        }
        face.TriangleListIndex = static_cast<uint16_t>(l);
      }
    }
    if (pw.BonesPerVertex > work->BonesPerVertex) work->BonesPerVertex = pw.BonesPerVertex;
  }
  ReadModelWorkCount().VertexProbes += probes;
  return 0;
}
