// The MV1 model file reader: sniff, unpack, validate, build.
//
// The unpacked image is checked in one pass before anything of the base is reserved: every list
// is walked exactly its count, every reference resolved, every owner run shown to partition its
// array, every stream read within the image and every total recomputed. The building steps then
// read only checked data; the stream decoders are shared by both passes, so one set of bounds
// checks guards both. All size and offset arithmetic is in 64-bit unsigned integers.
#include <qzlib/model/mv1_reader.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/file/lz.h>
#include <qzlib/file/path.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_base.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_mesh_process.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/base/engine_texts.h>

const float MV1KeyPow10Tables[48] = {
    1e0f,  1e1f,  1e2f,   1e3f,   1e4f,   1e5f,   1e6f,   1e7f,   1e8f,  1e9f,  1e10f, 1e11f,
    1e12f, 1e13f, 1e14f,  1e15f,  1e0f,   1e-1f,  1e-2f,  1e-3f,  1e-4f, 1e-5f, 1e-6f, 1e-7f,
    1e-8f, 1e-9f, 1e-10f, 1e-11f, 1e-12f, 1e-13f, 1e-14f, 1e-15f, 1e0f,  1e1f,  1e2f,  1e3f,
    1e4f,  1e5f,  1e6f,   1e7f,   1e0f,   1e-1f,  1e-2f,  1e-3f,  1e-4f, 1e-5f, 1e-6f, 1e-7f};

bool MV1CompactStart(uint8_t b, float* value) {
  if (b & 0x80) {
    *value = 0.0f;
    return true;
  }
  const int i = (b & 0x1F) + 16 * ((b >> 5) & 1);
  if (i >= 32) return false;
  *value = (b & 0x40) ? -MV1KeyPow10Tables[i] : MV1KeyPow10Tables[i];
  return true;
}

float MV1CompactScale(uint8_t c) {
  return static_cast<float>(c & 0x0F) * MV1KeyPow10Tables[32 + ((c >> 4) & 7) + 8 * (c >> 7)];
}

float MV1QuantisedCoordinate(uint16_t u, float minimum, float range) {
  return static_cast<float>(static_cast<double>(u) * range / 60000.0 + minimum);
}

namespace {

constexpr uint64_t kUnpackedCap = 0x10000000;
constexpr uint64_t kVertexBlockCap = 0x10000000;
constexpr uint64_t kKeyDataCap = 0x10000000;
constexpr uint64_t kAnimTableCap = 0x2000000;

// Logs one refusal line and returns false.
bool Refuse(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool Refuse(const char* format, ...) {
  char text[400];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  WriteLogFmt("MV1 LoadModel Error : %s", text);
  return false;
}

// The unpacked image, the magic included (offset 0 is 'M').
struct Image {
  const uint8_t* p;
  uint64_t n;
  uint8_t U8(uint64_t o) const { return p[o]; }
  uint16_t U16(uint64_t o) const { return static_cast<uint16_t>(p[o] | p[o + 1] << 8); }
  uint32_t U32(uint64_t o) const {
    return static_cast<uint32_t>(p[o]) | static_cast<uint32_t>(p[o + 1]) << 8 |
           static_cast<uint32_t>(p[o + 2]) << 16 | static_cast<uint32_t>(p[o + 3]) << 24;
  }
  float F32(uint64_t o) const {
    uint32_t u = U32(o);
    float f;
    std::memcpy(&f, &u, 4);
    return f;
  }
  // A non-zero offset with len bytes inside the image.
  bool Has(uint64_t o, uint64_t len) const { return o != 0 && o <= n && len <= n - o; }
};

// A forward reader over a stream of the image.
struct Cursor {
  const Image& im;
  uint64_t at;
  bool Need(uint64_t len) const { return at <= im.n && len <= im.n - at; }
  uint32_t Take(int width) {  // width 1, 2 or 4, after Need
    uint32_t v = width == 1 ? im.U8(at) : width == 2 ? im.U16(at) : im.U32(at);
    at += static_cast<uint64_t>(width);
    return v;
  }
  float TakeF() {
    float f = im.F32(at);
    at += 4;
    return f;
  }
};

// Work arrays of the check, freed together.
struct Work {
  void* blocks[48] = {};
  int count = 0;
  bool failed = false;
  template <class T>
  T* Alloc(uint64_t n) {
    if (count == 48 || n > (uint64_t{1} << 40) / sizeof(T)) {
      failed = true;
      return nullptr;
    }
    void* b = MEM_CALLOC(static_cast<size_t>(std::max<uint64_t>(n, 1) * sizeof(T)));
    if (!b) {
      failed = true;
      return nullptr;
    }
    blocks[count++] = b;
    return static_cast<T*>(b);
  }
  ~Work() {
    for (int i = 0; i < count; ++i) MEM_FREE(blocks[i]);
  }
};

// A list of records linked through field 0x04, in list order.
struct List {
  const char* what;
  uint32_t minSize;
  int indexField;  // -1: none
  uint32_t count = 0;
  uint32_t* off = nullptr;
  uint64_t* sorted = nullptr;  // (offset << 32 | place), for lists without an index field
};

// Sizes of the integer widths of the mesh index fields: 0 absent, 1, 2, 4.
int MeshIndexWidth(uint32_t code) { return code == 0 ? 0 : code == 3 ? 4 : static_cast<int>(code); }

int KeyValueFloats(int type) {
  return (type == 0 || type == 7) ? 4 : type == 1 ? 3 : type == 5 ? 1 : 0;
}

// ---- Stream decoders, shared by the check (null outputs) and the build ----

// The packed positions, weights and normals of a frame record at o.
bool FrameStream(const Image& im, uint64_t o, int place, uint8_t* pos, MV1MeshNormal* nrm) {
  const uint32_t flags = im.U16(o + 0xB0), bones = im.U16(o + 0xB2);
  const uint32_t positions = im.U32(o + 0xBC), normals = im.U32(o + 0xC0);
  const uint32_t boneList = im.U32(o + 0xA4);
  if (positions == 0 && normals == 0) return true;
  const uint32_t d = im.U32(o + 0xC4);
  if (d == 0) return Refuse("frame %d: no packed vertex data", place);
  Cursor c{im, d};
  const uint64_t stride = uint64_t{bones} * 8 + 12;
  if (flags & 0x0004) {
    if (!c.Need(24 + uint64_t{positions} * 6))
      return Refuse("frame %d: positions past the image", place);
    float mr[6];
    for (float& v : mr) v = c.TakeF();
    for (uint32_t i = 0; i < positions; ++i) {
      float xyz[3];
      for (int k = 0; k < 3; ++k)
        xyz[k] = MV1QuantisedCoordinate(static_cast<uint16_t>(c.Take(2)), mr[2 * k], mr[2 * k + 1]);
      if (pos) std::memcpy(pos + i * stride, xyz, 12);
    }
  } else {
    if (!c.Need(uint64_t{positions} * 12))
      return Refuse("frame %d: positions past the image", place);
    if (pos)
      for (uint32_t i = 0; i < positions; ++i)
        std::memcpy(pos + i * stride, im.p + c.at + i * 12, 12);
    c.at += uint64_t{positions} * 12;
  }
  if (pos)
    for (uint32_t i = 0; i < positions; ++i) {
      auto* pairs = reinterpret_cast<MV1PositionBoneWeight*>(pos + i * stride + 12);
      for (uint32_t k = 0; k < bones; ++k) pairs[k] = MV1PositionBoneWeight{0xFFFFFFFFu, 0.0f};
    }
  if (!(flags & 0x0008)) {
    const int iw = (flags & 0x0010) ? 2 : 1, ww = (flags & 0x0020) ? 2 : 1;
    const uint32_t end = iw == 2 ? 0xFFFF : 0xFF;
    for (uint32_t i = 0; i < positions; ++i) {
      auto* pairs = pos ? reinterpret_cast<MV1PositionBoneWeight*>(pos + i * stride + 12) : nullptr;
      for (uint32_t k = 0; k < bones; ++k) {
        if (!c.Need(static_cast<uint64_t>(iw)))
          return Refuse("frame %d: weights past the image", place);
        const uint32_t bone = c.Take(iw);
        if (bone == end) break;
        if (bone >= boneList)
          return Refuse("frame %d: weight bone %u outside its bone list", place, bone);
        if (!c.Need(static_cast<uint64_t>(ww)))
          return Refuse("frame %d: weights past the image", place);
        const uint32_t w = c.Take(ww);
        if (pairs) pairs[k] = MV1PositionBoneWeight{bone, ww == 2 ? w / 65535.0f : w / 255.0f};
      }
    }
  }
  const int form = flags & 3;
  static const int kNormalBytes[4] = {0, 3, 6, 12};
  if (!c.Need(uint64_t{normals} * kNormalBytes[form]))
    return Refuse("frame %d: normals past the image", place);
  if (nrm && form != 0)
    for (uint32_t i = 0; i < normals; ++i) {
      float v[3];
      for (float& x : v) {
        if (form == 1)
          x = static_cast<int8_t>(c.Take(1)) / 127.0f;
        else if (form == 2)
          x = static_cast<int16_t>(c.Take(2)) / 32767.0f;
        else
          x = c.TakeF();
      }
      nrm[i].Normal = VECTOR{v[0], v[1], v[2]};
    }
  return true;
}

// The packed vertex data of a mesh record at o, whose frame has the given counts.
bool MeshStream(const Image& im, uint64_t o, int place, uint32_t positions, uint32_t normals,
                uint8_t* verts) {
  const uint32_t flags = im.U32(o + 0x3C), count = im.U32(o + 0x40);
  const uint32_t uvSets = im.U8(o + 0x3A);
  if (count == 0) return true;
  const uint32_t d = im.U32(o + 0x48);
  if (d == 0) return Refuse("mesh %d: no packed vertex data", place);
  const int pw = MeshIndexWidth(flags & 3), nw = MeshIndexWidth((flags >> 2) & 3);
  const bool broadcast = (flags & 0x20) != 0, shortUV = (flags & 0x10) != 0;
  const uint64_t stride = uint64_t{uvSets} * 8 + 16;
  const uint64_t need = (broadcast ? 8 : uint64_t{count} * 8) + uint64_t{count} * (pw + nw) +
                        uint64_t{count} * uvSets * (shortUV ? 4 : 8);
  Cursor c{im, d};
  if (!c.Need(need)) return Refuse("mesh %d: vertex data past the image", place);
  uint32_t dif = 0, spc = 0;
  if (broadcast) {
    dif = c.Take(4);
    spc = c.Take(4);
  }
  for (int pass = 0; pass < 2; ++pass) {
    const int w = pass == 0 ? pw : nw;
    const uint32_t limit = pass == 0 ? positions : normals;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t v = w ? c.Take(w) : 0;
      if (v >= limit)
        return Refuse("mesh %d: vertex %u %s index %u out of range", place, i,
                      pass == 0 ? "position" : "normal", v);
      if (verts) {
        auto* mv = reinterpret_cast<MV1MeshVertex*>(verts + i * stride);
        (pass == 0 ? mv->PositionIndex : mv->NormalIndex) = v;
      }
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!broadcast) {
      dif = c.Take(4);
      spc = c.Take(4);
    }
    if (verts) {
      auto* mv = reinterpret_cast<MV1MeshVertex*>(verts + i * stride);
      std::memcpy(&mv->Diffuse, &dif, 4);  // b, g, r, a in file order on a little-endian machine
      std::memcpy(&mv->Specular, &spc, 4);
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    float* uv =
        verts ? MV1MeshVertexUV(reinterpret_cast<MV1MeshVertex*>(verts + i * stride)) : nullptr;
    for (uint32_t k = 0; k < uvSets * 2; ++k) {
      const float v = shortUV ? c.Take(2) / 65535.0f : c.TakeF();
      if (uv) uv[k] = v;
    }
  }
  return true;
}

// The per-list facts the check needs before the streams: the type-3 bones per vertex.
bool ListHead(const Image& im, uint64_t o, int place, uint32_t frameBones, uint32_t* freeBones) {
  const uint32_t type = im.U16(o + 0x10), flags = im.U8(o + 0x12);
  const uint32_t count = im.U16(o + 0x14), indices = im.U16(o + 0x16);
  *freeBones = 0;
  if (type > 3) return Refuse("triangle list %d: vertex type %u", place, type);
  if ((flags & 3) == 3 || ((flags >> 2) & 3) > 1)
    return Refuse("triangle list %d: index widths 0x%02X", place, flags);
  if (indices % 3 != 0)
    return Refuse("triangle list %d: index count %u not a multiple of 3", place, indices);
  if (type == 0 && count == 0 && indices == 0) return true;
  const uint32_t d = im.U32(o + 0x18);
  if (d == 0) return Refuse("triangle list %d: no packed data", place);
  if (type == 3) {
    if (!im.Has(d, 2)) return Refuse("triangle list %d: data past the image", place);
    *freeBones = im.U16(d);
    if (*freeBones > frameBones || *freeBones > 8186)
      return Refuse("triangle list %d: %u bones per vertex", place, *freeBones);
  }
  return true;
}

// The packed data of a triangle list at o; with out set, fills its bones and indices.
bool ListStream(const Image& im, uint64_t o, int place, uint32_t boneList, uint32_t meshVertices,
                MV1TriangleList* out, uint32_t* mvi, uint16_t* idx) {
  const uint32_t type = im.U16(o + 0x10), flags = im.U8(o + 0x12);
  const uint32_t count = im.U16(o + 0x14), indices = im.U16(o + 0x16);
  if (type == 0 && count == 0 && indices == 0) return true;
  Cursor c{im, im.U32(o + 0x18)};
  if (type == 1 || type == 2) {
    if (!c.Need(2)) return Refuse("triangle list %d: data past the image", place);
    const uint32_t bones = c.Take(2);
    if (bones > MV1_TRIANGLE_LIST_USE_BONE_MAX)
      return Refuse("triangle list %d: %u bones", place, bones);
    if (!c.Need(uint64_t{bones} * 2)) return Refuse("triangle list %d: data past the image", place);
    for (uint32_t k = 0; k < bones; ++k) {
      const uint32_t b = c.Take(2);
      if (b >= boneList)
        return Refuse("triangle list %d: bone %u outside the frame's bone list", place, b);
      if (out) out->UseBone[k] = static_cast<int>(b);
    }
    if (out) out->UseBoneCount = static_cast<int>(bones);
  } else if (type == 3) {
    c.at += 2;
  }
  static const int kWidth[3] = {1, 2, 4};
  const int mw = kWidth[flags & 3], iw = ((flags >> 2) & 3) ? 2 : 1;
  if (!c.Need(uint64_t{count} * mw + uint64_t{indices} * iw))
    return Refuse("triangle list %d: data past the image", place);
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t v = c.Take(mw);
    if (v >= meshVertices) return Refuse("triangle list %d: mesh vertex %u out of range", place, v);
    if (mvi) mvi[k] = v;
  }
  for (uint32_t k = 0; k < indices; ++k) {
    const uint32_t v = c.Take(iw);
    if (v >= count) return Refuse("triangle list %d: index %u out of range", place, v);
    if (idx) idx[k] = static_cast<uint16_t>(v);
  }
  return true;
}

// One key set's data; *timeBytes and *valueBytes get its shares of the key data (explicit times,
// values). With ks set, fills it, its explicit times at times and its values at values.
bool KeySetStream(const Image& im, uint64_t o, int place, uint32_t shapeCount, uint64_t* timeBytes,
                  uint64_t* valueBytes, MV1AnimKeySet* ks, float* times, float* values) {
  const uint32_t type = im.U8(o), component = im.U8(o + 1), flags = im.U16(o + 2);
  const int vf = KeyValueFloats(static_cast<int>(type));
  if (type > 7) return Refuse("key set %d: type %u", place, type);
  if (vf == 0 && (flags & 0x0100))
    return Refuse("key set %d: packed values for a type without values", place);
  Cursor c{im, im.U32(o + 4)};
  if (c.at == 0) return Refuse("key set %d: no data", place);
  uint32_t target = 0;
  if (component == 18) {
    if (!c.Need(2)) return Refuse("key set %d: data past the image", place);
    target = c.Take(2);
    if (target >= shapeCount) return Refuse("key set %d: shape %u out of range", place, target);
  }
  uint32_t count = 1;
  bool uniform = true;
  float start = 0.0f, unit = 1.0f;
  if (!(flags & 0x0001)) {
    const int cw = (flags & 0x0002) ? 1 : (flags & 0x0004) ? 2 : 4;
    if (!c.Need(static_cast<uint64_t>(cw))) return Refuse("key set %d: data past the image", place);
    count = c.Take(cw);
    if (count == 0 || count > 0x7FFFFFFF) return Refuse("key set %d: key count %u", place, count);
    if (flags & 0x0008) {
      const uint64_t need = ((flags & 0x0010)   ? 2
                             : (flags & 0x0020) ? 0
                                                : 4) +
                            ((flags & 0x0040) ? 2 : 4);
      if (!c.Need(need)) return Refuse("key set %d: data past the image", place);
      if (flags & 0x0010)
        start = static_cast<float>(c.Take(2));
      else if (!(flags & 0x0020))
        start = c.TakeF();
      unit = (flags & 0x0040) ? static_cast<float>(c.Take(2)) : c.TakeF();
    } else {
      uniform = false;
      if (flags & 0x0080) {
        if (!c.Need(2 + uint64_t{count} * 2))
          return Refuse("key set %d: times past the image", place);
        float s;
        if (!MV1CompactStart(static_cast<uint8_t>(c.Take(1)), &s))
          return Refuse("key set %d: compact start byte", place);
        const float scale = MV1CompactScale(static_cast<uint8_t>(c.Take(1)));
        for (uint32_t k = 0; k < count; ++k) {
          const float step = static_cast<float>(c.Take(2)) * scale;
          if (times) times[k] = step + s;
        }
      } else {
        if (!c.Need(uint64_t{count} * 4)) return Refuse("key set %d: times past the image", place);
        if (times) std::memcpy(times, im.p + c.at, uint64_t{count} * 4);
        c.at += uint64_t{count} * 4;
      }
    }
  }
  const uint64_t valueFloats = uint64_t{count} * vf;
  if (!(flags & 0x0100)) {
    if (!c.Need(valueFloats * 4)) return Refuse("key set %d: values past the image", place);
    if (values) std::memcpy(values, im.p + c.at, valueFloats * 4);
  } else if (flags & 0x0600) {
    if (vf == 4) return Refuse("key set %d: angle packing on quaternion keys", place);
    if ((flags & 0x0600) == 0x0600) return Refuse("key set %d: both angle packings", place);
    if (!c.Need(valueFloats * 2)) return Refuse("key set %d: values past the image", place);
    for (uint64_t k = 0; k < valueFloats; ++k) {
      const float v = static_cast<float>(c.Take(2)) * 6.2831855f / 65535.0f;
      if (values) values[k] = (flags & 0x0200) ? v - 3.1415927f : v;
    }
  } else {
    if (!c.Need(2 + valueFloats * 2)) return Refuse("key set %d: values past the image", place);
    float s;
    if (!MV1CompactStart(static_cast<uint8_t>(c.Take(1)), &s))
      return Refuse("key set %d: compact start byte", place);
    const float scale = MV1CompactScale(static_cast<uint8_t>(c.Take(1)));
    for (uint64_t k = 0; k < valueFloats; ++k) {
      const float step = static_cast<float>(c.Take(2)) * scale;
      if (values) values[k] = step + s;
    }
  }
  *timeBytes = uniform ? 0 : uint64_t{count} * 4;
  *valueBytes = valueFloats * 4;
  if (ks) {
    ks->Type = static_cast<uint8_t>(type);
    ks->DataType = static_cast<uint8_t>(component);
    ks->TimeType = uniform ? 0 : 1;
    ks->TargetShapeIndex = static_cast<int>(target);
    ks->KeyCount = static_cast<int>(count);
    ks->UnitTime = unit;
    if (uniform)
      ks->StartTime = start;
    else
      ks->KeyTime = times;
    ks->KeyData = values;
  }
  return true;
}

// ---- The check ----

struct Checked {
  Image im;
  Work work;
  uint32_t h[0xF4 / 4];  // header words
  List frames{"frame", 0xDC, 0x0C}, materials{"material", 0x2CC, 0x0C},
      textures{"texture", 0x2C, -1}, meshes{"mesh", 0x4C, 0x08},
      params{"parameter record", 0x64, -1}, lists{"triangle list", 0x1C, 0x08},
      anims{"anim", 0x2D, 0x0C}, shapes{"shape", 0x1C, 0x0C}, shapeMeshes{"shape mesh", 0x1C, 0x08};
  uint64_t ext = 0;
  int64_t lastZero = -1;  // last 0 byte of the string table
  int* frameParam = nullptr;
  int* meshOwner = nullptr;
  int* listOwner = nullptr;
  int* boneOwner = nullptr;
  int* shapeOwner = nullptr;
  int* shapeMeshOwner = nullptr;
  int* animFrameOwner = nullptr;
  int* keySetOwner = nullptr;
  uint32_t* frameShapeCount = nullptr;
  uint32_t* listFreeBones = nullptr;
  // Totals.
  uint64_t t[4] = {}, listVertices = 0, listIndices = 0, positionBytes = 0, normals = 0,
           meshVertexBytes = 0, faces = 0, keyData = 0, shapeVertices = 0, vertexBlock = 0;
  uint64_t shapeArea[5] = {};

  uint32_t H(uint32_t o) const { return h[o / 4]; }
  uint32_t SkinBoneCount() const { return H(0x5C); }
  uint32_t KeySetCount() const { return H(0xC0); }
  uint32_t AnimFrameCount() const { return H(0xCC); }
  uint32_t AnimFrameStride() const { return H(0xD0); }

  bool Name(uint32_t v, const char* what, int place) const {
    if (v == 0 || (v < H(0xAC) && static_cast<int64_t>(v) <= lastZero)) return true;
    return Refuse("%s %d: name offset %u outside the string table", what, place, v);
  }
  bool Walk(List* l, uint32_t count, uint32_t first);
  // Place of the record of list l at offset v (non-zero), or -1.
  int Find(const List& l, uint32_t v) const;
  // Place k of an array entry at v: (v - base) / stride whole and below count.
  static bool InArray(uint32_t v, uint32_t base, uint32_t stride, uint32_t count, uint32_t* k) {
    if (v < base || (v - base) % stride != 0 || (v - base) / stride >= count) return false;
    *k = (v - base) / stride;
    return true;
  }
  // A (count, first) run of list or array entries owned by owner; first place via place.
  bool Run(const char* what, int ownerPlace, uint32_t count, uint32_t first, int firstPlace,
           uint32_t arrayCount, int* owner);
  bool Header();
  bool Structure();
  bool Frames();
  bool Meshes();
  bool Lists();
  bool Materials();
  bool SkinBones();
  bool Anims();
  bool Shapes();
  bool Totals();
  bool Streams();
  bool All();
};

bool Checked::Walk(List* l, uint32_t count, uint32_t first) {
  l->count = count;
  if (uint64_t{count} * l->minSize > im.n)
    return Refuse("%s count %u too large for the file", l->what, count);
  if (count == 0 && first != 0) return Refuse("%s list: count 0 with a first record", l->what);
  l->off = work.Alloc<uint32_t>(count);
  if (!l->off) return Refuse("out of work memory");
  uint32_t cur = first;
  for (uint32_t k = 0; k < count; ++k) {
    if (!im.Has(cur, l->minSize)) return Refuse("%s %u: record outside the file", l->what, k);
    if (l->indexField >= 0 && im.U32(cur + static_cast<uint32_t>(l->indexField)) != k)
      return Refuse("%s %u: index field does not match its place", l->what, k);
    l->off[k] = cur;
    cur = im.U32(cur + 4);
  }
  if (cur != 0) return Refuse("%s list longer than its count %u", l->what, count);
  if (l->indexField < 0) {
    l->sorted = work.Alloc<uint64_t>(count);
    if (!l->sorted) return Refuse("out of work memory");
    for (uint32_t k = 0; k < count; ++k) l->sorted[k] = uint64_t{l->off[k]} << 32 | k;
    std::sort(l->sorted, l->sorted + count);
  }
  return true;
}

int Checked::Find(const List& l, uint32_t v) const {
  if (v == 0) return -1;
  if (l.indexField >= 0) {
    if (!im.Has(v, static_cast<uint64_t>(l.indexField) + 4)) return -1;
    const uint32_t k = im.U32(v + static_cast<uint32_t>(l.indexField));
    return k < l.count && l.off[k] == v ? static_cast<int>(k) : -1;
  }
  const uint64_t* e = std::lower_bound(l.sorted, l.sorted + l.count, uint64_t{v} << 32);
  return e != l.sorted + l.count && (*e >> 32) == v ? static_cast<int>(*e & 0xFFFFFFFFu) : -1;
}

bool Checked::Run(const char* what, int ownerPlace, uint32_t count, uint32_t first, int firstPlace,
                  uint32_t arrayCount, int* owner) {
  if (count == 0) {
    if (first != 0)
      return Refuse("%s run of owner %d: count 0 with a first record", what, ownerPlace);
    return true;
  }
  if (firstPlace < 0 || uint64_t{static_cast<uint32_t>(firstPlace)} + count > arrayCount)
    return Refuse("%s run of owner %d outside its array", what, ownerPlace);
  for (uint32_t k = 0; k < count; ++k) {
    int& o = owner[static_cast<uint32_t>(firstPlace) + k];
    if (o != -1)
      return Refuse("%s %u in two owners' runs", what, static_cast<uint32_t>(firstPlace) + k);
    o = ownerPlace;
  }
  return true;
}

bool Checked::Header() {
  for (uint32_t o = 0; o < 0xF4; o += 4) h[o / 4] = im.U32(o);
  for (uint32_t o : {0x10u, 0x14u}) {
    const uint32_t size = H(o), at = H(o + 8);
    if (size % 4 != 0 || (size && !im.Has(at, size)))
      return Refuse("change-mask array %c outside the file", o == 0x10 ? 'A' : 'B');
  }
  const uint32_t strings = H(0xAC);
  if (strings) {
    if (!im.Has(H(0xB0), strings)) return Refuse("string table outside the file");
    for (int64_t i = strings - 1; i >= 0; --i)
      if (im.p[H(0xB0) + static_cast<uint64_t>(i)] == 0) {
        lastZero = i;
        break;
      }
  }
  struct Arr {
    uint32_t count, at, stride;
    const char* what;
  };
  const Arr arrays[] = {{H(0x34), H(0x38), 4, "bone list"},
                        {H(0x5C), H(0x60), 84, "skin bones"},
                        {H(0x64), H(0x68), 8, "bone-use entries"}};
  for (const Arr& a : arrays)
    if (a.count && !im.Has(a.at, uint64_t{a.count} * a.stride))
      return Refuse("%s outside the file", a.what);
  if (KeySetCount()) {
    if (H(0xC4) != 20) return Refuse("key-set stride %u", H(0xC4));
    if (!im.Has(H(0xC8), uint64_t{KeySetCount()} * 20)) return Refuse("key sets outside the file");
  }
  if (AnimFrameCount()) {
    const uint32_t s = AnimFrameStride();
    if (s < 0x1C || s % 4 != 0) return Refuse("anim-frame stride %u", s);
    if (!im.Has(H(0xD4), uint64_t{AnimFrameCount() - 1} * s + 0x1C))
      return Refuse("anim frames outside the file");
  }
  ext = H(0xF0);
  if (ext && !im.Has(ext, 0x40)) return Refuse("extension block outside the file");
  if (H(0xB4) > kKeyDataCap) return Refuse("key data of %u bytes", H(0xB4));
  if (uint64_t{H(0xD8)} * H(0x20) > kAnimTableCap) return Refuse("anim-frame table too large");
  return true;
}

bool Checked::Structure() {
  if (!Walk(&frames, H(0x20), H(0x24)) || !Walk(&materials, H(0x3C), H(0x40)) ||
      !Walk(&textures, H(0x44), H(0x48)) || !Walk(&meshes, H(0x4C), H(0x50)) ||
      !Walk(&params, H(0x54), H(0x58)) || !Walk(&lists, H(0x6C), H(0x70)) ||
      !Walk(&anims, H(0xD8), H(0xDC)))
    return false;
  if (ext) {
    if (!Walk(&shapes, im.U32(ext + 0x08), im.U32(ext + 0x0C)) ||
        !Walk(&shapeMeshes, im.U32(ext + 0x10), im.U32(ext + 0x14)))
      return false;
  }
  auto owners = [&](uint32_t n) {
    int* a = work.Alloc<int>(n);
    if (a) std::fill(a, a + std::max<uint32_t>(n, 1), -1);
    return a;
  };
  frameParam = owners(frames.count);
  meshOwner = owners(meshes.count);
  listOwner = owners(lists.count);
  boneOwner = owners(SkinBoneCount());
  shapeOwner = owners(shapes.count);
  shapeMeshOwner = owners(shapeMeshes.count);
  animFrameOwner = owners(AnimFrameCount());
  keySetOwner = owners(KeySetCount());
  frameShapeCount = work.Alloc<uint32_t>(frames.count);
  listFreeBones = work.Alloc<uint32_t>(lists.count);
  if (work.failed) return Refuse("out of work memory");
  return Frames() && Meshes() && Lists() && Materials() && SkinBones() && Shapes() && Anims();
}

bool Checked::Frames() {
  const uint32_t n = frames.count;
  const uint32_t wordsA = static_cast<uint32_t>(
      MV1ChangeSetWordsA(static_cast<int>(std::min<uint32_t>(n, 0x7FFFFFF)),
                         static_cast<int>(std::min<uint32_t>(meshes.count, 0x7FFFFFF))));
  const uint32_t wordsB =
      static_cast<uint32_t>(MV1ChangeSetWordsB(static_cast<int>(std::min<uint32_t>(n, 0x7FFFFFF))));
  int* parent = work.Alloc<int>(n);
  int* last = work.Alloc<int>(uint64_t{n} + 1);
  uint32_t* children = work.Alloc<uint32_t>(uint64_t{n} + 1);
  if (work.failed) return Refuse("out of work memory");
  std::fill(last, last + n + 1, -1);
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t o = frames.off[i];
    const int p = static_cast<int>(i);
    if (!Name(im.U32(o + 0x08), "frame", p)) return false;
    const uint32_t pv = im.U32(o + 0x38);
    parent[i] = pv ? Find(frames, pv) : -1;
    if (pv && (parent[i] < 0 || static_cast<uint32_t>(parent[i]) >= i))
      return Refuse("frame %d: parent is not an earlier frame", p);
    // Change infos A and B.
    for (int set = 0; set < 2; ++set) {
      const uint32_t b = o + (set ? 0x20 : 0x10), words = set ? wordsB : wordsA;
      const uint32_t word = im.U32(b), masks = im.U32(b + 4), bit = im.U32(b + 8),
                     count = im.U32(b + 12);
      const uint32_t arrayAt = H(set ? 0x1C : 0x18), arrayWords = H(set ? 0x14 : 0x10) / 4;
      uint32_t k;
      if (word == 0 || count == 0 || uint64_t{word} + count > words || bit == 0 ||
          (bit & (bit - 1)) != 0 || !InArray(masks, arrayAt, 4, arrayWords, &k) ||
          uint64_t{k} + count > arrayWords)
        return Refuse("frame %d: change info %c outside the change sets", p, set ? 'B' : 'A');
    }
    if (im.U32(o + 0x70) > 5) return Refuse("frame %d: rotation order %u", p, im.U32(o + 0x70));
    const uint32_t meshCount = im.U32(o + 0x94), meshFirst = im.U32(o + 0x98);
    if (!Run("mesh", p, meshCount, meshFirst, Find(meshes, meshFirst), meshes.count, meshOwner))
      return false;
    uint32_t k = 0;
    const uint32_t boneCount = im.U32(o + 0x9C), boneFirst = im.U32(o + 0xA0);
    const bool boneAt = boneCount && InArray(boneFirst, H(0x60), 84, SkinBoneCount(), &k);
    if (!Run("skin bone", p, boneCount, boneFirst, boneAt ? static_cast<int>(k) : -1,
             SkinBoneCount(), boneOwner))
      return false;
    const uint32_t partCount = im.U32(o + 0xA4), partAt = im.U32(o + 0xA8);
    if (partCount == 0
            ? partAt != 0
            : !InArray(partAt, H(0x38), 4, H(0x34), &k) || uint64_t{k} + partCount > H(0x34))
      return Refuse("frame %d: bone-list part outside the bone list", p);
    const uint32_t pr = im.U32(o + 0xAC);
    frameParam[i] = pr ? Find(params, pr) : -1;
    if (pr && frameParam[i] < 0) return Refuse("frame %d: parameter record not in the list", p);
    const uint32_t entry = im.U32(o + 0xD8);
    if (entry) {
      if (!ext) return Refuse("frame %d: shapes without an extension block", p);
      if (!im.Has(entry, 8)) return Refuse("frame %d: shape entry outside the file", p);
      const uint32_t sc = im.U32(entry), sf = im.U32(entry + 4);
      if (!Run("shape", p, sc, sf, Find(shapes, sf), shapes.count, shapeOwner)) return false;
      frameShapeCount[i] = sc;
    }
    // Links: this frame follows the previous child of its parent.
    const uint32_t slot = parent[i] < 0 ? n : static_cast<uint32_t>(parent[i]);
    const int prev = last[slot];
    if (im.U32(o + 0x44) != (prev < 0 ? 0 : frames.off[prev]))
      return Refuse("frame %d: previous sibling", p);
    if (prev >= 0) {
      if (im.U32(frames.off[prev] + 0x48) != o) return Refuse("frame %d: next sibling", prev);
    } else if ((slot == n ? H(0x2C) : im.U32(frames.off[slot] + 0x3C)) != o) {
      return Refuse("frame %d: not its parent's first child", p);
    }
    last[slot] = p;
    ++children[slot];
  }
  for (uint32_t s = 0; s <= n; ++s) {
    const bool top = s == n;
    const uint32_t count = top ? H(0x28) : im.U32(frames.off[s] + 0x34);
    const uint32_t first = top ? H(0x2C) : im.U32(frames.off[s] + 0x3C);
    const uint32_t lastField = top ? H(0x30) : im.U32(frames.off[s] + 0x40);
    bool ok = count == children[s];
    if (last[s] < 0)
      ok = ok && first == 0 && lastField == 0;
    else
      ok = ok && lastField == frames.off[last[s]] && im.U32(frames.off[last[s]] + 0x48) == 0;
    if (!ok) {
      if (top) return Refuse("top-level frame count or links");
      return Refuse("frame %u: child count or child links", s);
    }
  }
  return true;
}

bool Checked::Meshes() {
  const uint32_t wordsA = static_cast<uint32_t>(
      MV1ChangeSetWordsA(static_cast<int>(std::min<uint32_t>(frames.count, 0x7FFFFFF)),
                         static_cast<int>(std::min<uint32_t>(meshes.count, 0x7FFFFFF))));
  for (uint32_t j = 0; j < meshes.count; ++j) {
    const uint32_t o = meshes.off[j];
    const int p = static_cast<int>(j);
    if (meshOwner[j] < 0) return Refuse("mesh %d: in no frame's run", p);
    if (im.U32(o + 0x0C) != frames.off[meshOwner[j]]) return Refuse("mesh %d: frame field", p);
    if (Find(materials, im.U32(o + 0x10)) < 0) return Refuse("mesh %d: no material", p);
    const uint32_t word = im.U32(o + 0x14), bit = im.U32(o + 0x1C);
    if (word == 0 || uint64_t{word} + 1 > wordsA || bit == 0 || (bit & (bit - 1)) != 0)
      return Refuse("mesh %d: change info outside change set A", p);
    const uint32_t listCount = im.U32(o + 0x30), listFirst = im.U32(o + 0x34);
    if (!Run("triangle list", p, listCount, listFirst, Find(lists, listFirst), lists.count,
             listOwner))
      return false;
    if (im.U8(o + 0x39) > 2) return Refuse("mesh %d: culling mode %u", p, im.U8(o + 0x39));
    if (im.U8(o + 0x3A) > 8 || im.U8(o + 0x3B) != 2) return Refuse("mesh %d: UV sets", p);
    if (im.U8(o + 0x2D) > 1) return Refuse("mesh %d: has-shape byte", p);
    if (!ext && im.U8(o + 0x2D)) return Refuse("mesh %d: has-shape byte", p);
  }
  return true;
}

bool Checked::Lists() {
  uint64_t* faces = work.Alloc<uint64_t>(meshes.count);
  if (!faces) return Refuse("out of work memory");
  for (uint32_t k = 0; k < lists.count; ++k) {
    const uint32_t o = lists.off[k];
    const int p = static_cast<int>(k);
    if (listOwner[k] < 0) return Refuse("triangle list %d: in no mesh's run", p);
    const uint32_t mo = meshes.off[listOwner[k]];
    if (im.U32(o + 0x0C) != mo) return Refuse("triangle list %d: mesh field", p);
    const uint32_t fo = frames.off[meshOwner[listOwner[k]]];
    if (!ListHead(im, o, p, im.U16(fo + 0xB2), &listFreeBones[k])) return false;
    const uint32_t type = im.U16(o + 0x10), count = im.U16(o + 0x14), indices = im.U16(o + 0x16);
    if (type == 3)
      t[3] += uint64_t{count} *
              static_cast<uint32_t>(MV1FreeBoneVertexStride(static_cast<int>(listFreeBones[k])));
    else
      t[type] += count;
    listVertices += count;
    listIndices += indices;
    faces[listOwner[k]] += indices / 3;
    if (ext && im.U8(mo + 0x2D)) {
      if (type == 3)
        shapeArea[4] +=
            uint64_t{count} *
            static_cast<uint32_t>(MV1FreeBoneVertexStride(static_cast<int>(listFreeBones[k])));
      else
        shapeArea[1 + type] += count;
    }
  }
  for (uint32_t j = 0; j < meshes.count; ++j) {
    const uint32_t o = meshes.off[j];
    if (faces[j] != im.U32(o + 0x44))
      return Refuse("mesh %u: face count %u, lists give %llu", j, im.U32(o + 0x44),
                    static_cast<unsigned long long>(faces[j]));
    this->faces += faces[j];
    const uint64_t count = im.U32(o + 0x40);
    meshVertexBytes += count * (uint64_t{im.U8(o + 0x3A)} * 8 + 16);
    if (ext && im.U8(o + 0x2D)) shapeArea[0] += count;
  }
  for (uint32_t i = 0; i < frames.count; ++i) {
    const uint32_t o = frames.off[i];
    positionBytes += uint64_t{im.U32(o + 0xBC)} * (uint64_t{im.U16(o + 0xB2)} * 8 + 12);
    normals += im.U32(o + 0xC0);
  }
  return true;
}

bool Checked::Materials() {
  const uint32_t textureCount = textures.count;
  for (uint32_t i = 0; i < materials.count; ++i) {
    const uint32_t o = materials.off[i];
    const int p = static_cast<int>(i);
    if (!Name(im.U32(o + 0x08), "material", p)) return false;
    for (uint32_t layers : {0x58u, 0x11Cu, 0x1E0u}) {
      const uint32_t count = im.U32(o + layers);
      if (count > MV1_MATERIAL_LAYER_MAX) return Refuse("material %d: %u layers", p, count);
      for (uint32_t l = 0; l < count; ++l)
        if (im.U32(o + layers + 4 + l * 24) >= textureCount)
          return Refuse("material %d: layer texture out of range", p);
    }
    const uint32_t block = im.U32(o + 0x2C8);
    if (block) {
      if (!im.Has(block, 40)) return Refuse("material %d: material block outside the file", p);
      for (uint32_t g : {4u, 8u}) {
        const int32_t tex = static_cast<int32_t>(im.U32(block + g));
        if (tex < -1 || (tex >= 0 && static_cast<uint32_t>(tex) >= textureCount))
          return Refuse("material %d: gradation texture %d", p, tex);
      }
    }
  }
  for (uint32_t i = 0; i < textureCount; ++i) {
    const uint32_t o = textures.off[i];
    const int p = static_cast<int>(i);
    if (!Name(im.U32(o + 0x08), "texture", p) || !Name(im.U32(o + 0x10), "texture", p) ||
        !Name(im.U32(o + 0x14), "texture", p))
      return false;
    if (im.U32(o + 0x28) > 2) return Refuse("texture %d: filter mode %u", p, im.U32(o + 0x28));
  }
  for (uint32_t i = 0; i < params.count; ++i)
    if (!Name(im.U32(params.off[i] + 0x08), "parameter record", static_cast<int>(i))) return false;
  return true;
}

bool Checked::SkinBones() {
  const uint32_t n = SkinBoneCount(), at = H(0x60);
  for (uint32_t k = 0; k < n; ++k) {
    const uint64_t o = at + uint64_t{k} * 84;
    const int p = static_cast<int>(k);
    if (im.U32(o + 4) != (k + 1 < n ? static_cast<uint32_t>(o + 84) : 0u))
      return Refuse("skin bone %d: next link", p);
    if (boneOwner[k] < 0 || im.U32(o + 0x0C) != static_cast<uint32_t>(boneOwner[k]))
      return Refuse("skin bone %d: frame index", p);
    const uint32_t uses = im.U32(o + 0x44), useAt = im.U32(o + 0x48);
    uint32_t u = 0;
    if (uses == 0 ? useAt != 0
                  : !InArray(useAt, H(0x68), 8, H(0x64), &u) || uint64_t{u} + uses > H(0x64))
      return Refuse("skin bone %d: bone-use run outside its array", p);
  }
  for (uint32_t k = 0; k < H(0x34); ++k) {
    uint32_t b;
    if (!InArray(im.U32(H(0x38) + uint64_t{k} * 4), at, 84, n, &b))
      return Refuse("bone list entry %u", k);
  }
  return true;
}

bool Checked::Shapes() {
  if (!ext) return true;
  bool* named = work.Alloc<bool>(meshes.count);
  if (!named) return Refuse("out of work memory");
  for (uint32_t s = 0; s < shapes.count; ++s) {
    const uint32_t o = shapes.off[s];
    const int p = static_cast<int>(s);
    if (shapeOwner[s] < 0 || im.U32(o + 0x10) != frames.off[shapeOwner[s]])
      return Refuse("shape %d: frame", p);
    if (!Name(im.U32(o + 0x08), "shape", p)) return false;
    const uint32_t c = im.U32(o + 0x14), f = im.U32(o + 0x18);
    if (!Run("shape mesh", p, c, f, Find(shapeMeshes, f), shapeMeshes.count, shapeMeshOwner))
      return false;
  }
  const uint32_t stride = im.U32(ext + 0x2C);
  for (uint32_t k = 0; k < shapeMeshes.count; ++k) {
    const uint32_t o = shapeMeshes.off[k];
    const int p = static_cast<int>(k);
    if (shapeMeshOwner[k] < 0) return Refuse("shape mesh %d: in no shape's run", p);
    const int mesh = Find(meshes, im.U32(o + 0x0C));
    if (mesh < 0 || meshOwner[mesh] != shapeOwner[shapeMeshOwner[k]])
      return Refuse("shape mesh %d: mesh", p);
    named[mesh] = true;
    const uint32_t count = im.U32(o + 0x14), at = im.U32(o + 0x18);
    shapeVertices += count;
    if (count == 0) {
      if (at != 0) return Refuse("shape mesh %d: vertices without a count", p);
      continue;
    }
    if (stride < 28 || stride % 4 != 0) return Refuse("shape-vertex stride %u", stride);
    if (!im.Has(at, uint64_t{count - 1} * stride + 28))
      return Refuse("shape mesh %d: vertices outside the file", p);
    const uint32_t limit = im.U32(meshes.off[mesh] + 0x40);
    for (uint32_t v = 0; v < count; ++v)
      if (im.U32(at + uint64_t{v} * stride) >= limit)
        return Refuse("shape mesh %d: vertex index out of range", p);
  }
  for (uint32_t j = 0; j < meshes.count; ++j)
    if (im.U8(meshes.off[j] + 0x2D) != (named[j] ? 1 : 0))
      return Refuse("mesh %u: has-shape byte", j);
  return true;
}

bool Checked::Anims() {
  const uint32_t afCount = AnimFrameCount(), afAt = H(0xD4), afStride = AnimFrameStride();
  for (uint32_t a = 0; a < anims.count; ++a) {
    const uint32_t o = anims.off[a];
    const int p = static_cast<int>(a);
    if (!Name(im.U32(o + 0x08), "anim", p)) return false;
    const uint32_t c = im.U32(o + 0x14), f = im.U32(o + 0x18);
    uint32_t k = 0;
    const bool at = c && InArray(f, afAt, afStride ? afStride : 1, afCount, &k);
    if (!Run("anim frame", p, c, f, at ? static_cast<int>(k) : -1, afCount, animFrameOwner))
      return false;
  }
  uint64_t* pairs = work.Alloc<uint64_t>(afCount);
  if (!pairs) return Refuse("out of work memory");
  for (uint32_t k = 0; k < afCount; ++k) {
    const uint64_t o = afAt + uint64_t{k} * afStride;
    const int p = static_cast<int>(k);
    if (im.U32(o) != k) return Refuse("anim frame %d: index field", p);
    if (animFrameOwner[k] < 0 || im.U32(o + 4) != anims.off[animFrameOwner[k]])
      return Refuse("anim frame %d: anim", p);
    const uint32_t target = im.U32(o + 8);
    if (target >= frames.count) return Refuse("anim frame %d: target frame %u", p, target);
    pairs[k] = uint64_t{static_cast<uint32_t>(animFrameOwner[k])} << 32 | target;
    const uint32_t c = im.U32(o + 0x14), f = im.U32(o + 0x18);
    uint32_t s = 0;
    const bool in = c && InArray(f, H(0xC8), 20, KeySetCount(), &s);
    if (!Run("key set", p, c, f, in ? static_cast<int>(s) : -1, KeySetCount(), keySetOwner))
      return false;
  }
  std::sort(pairs, pairs + afCount);
  for (uint32_t k = 1; k < afCount; ++k)
    if (pairs[k] == pairs[k - 1])
      return Refuse("an anim drives frame %u twice", static_cast<uint32_t>(pairs[k]));
  for (uint32_t k = 0; k < KeySetCount(); ++k) {
    if (keySetOwner[k] < 0) return Refuse("key set %u: in no anim frame's run", k);
    const uint32_t target =
        im.U32(afAt + uint64_t{static_cast<uint32_t>(keySetOwner[k])} * afStride + 8);
    uint64_t timeBytes = 0, valueBytes = 0;
    if (!KeySetStream(im, H(0xC8) + uint64_t{k} * 20, static_cast<int>(k), frameShapeCount[target],
                      &timeBytes, &valueBytes, nullptr, nullptr, nullptr))
      return false;
    keyData += timeBytes + valueBytes;
  }
  for (uint32_t k = 0; k < afCount; ++k)
    if (animFrameOwner[k] < 0) return Refuse("anim frame %u: in no anim's run", k);
  return true;
}

bool Checked::Totals() {
  for (uint32_t s = 0; s < shapes.count; ++s)
    if (shapeOwner[s] < 0) return Refuse("shape %u: in no frame's entry", s);
  struct Pair {
    uint32_t at;
    uint64_t value;
  };
  const Pair pairs[] = {{0x7C, t[0]},
                        {0x80, t[1]},
                        {0x84, t[2]},
                        {0x88, t[3]},
                        {0x8C, positionBytes},
                        {0x90, normals},
                        {0x94, meshVertexBytes},
                        {0x98, faces},
                        {0x9C, listVertices},
                        {0xA0, listIndices},
                        {0xB4, keyData}};
  for (const Pair& p : pairs)
    if (H(p.at) != p.value)
      return Refuse("header total 0x%02X is %u, the records give %llu", p.at, H(p.at),
                    static_cast<unsigned long long>(p.value));
  if (ext) {
    const Pair ep[] = {{0x18, shapeVertices}, {0x28, shapeArea[0]}, {0x30, shapeArea[1]},
                       {0x34, shapeArea[2]},  {0x38, shapeArea[3]}, {0x3C, shapeArea[4]}};
    for (const Pair& p : ep)
      if (im.U32(ext + p.at) != p.value)
        return Refuse("extension total 0x%02X is %u, the records give %llu", p.at,
                      im.U32(ext + p.at), static_cast<unsigned long long>(p.value));
  }
  vertexBlock = 16 + 32 * t[0] + 48 * t[1] + 64 * t[2] + t[3] + 4 * listVertices + 16 * faces +
                36 * normals + positionBytes + meshVertexBytes + 28 * shapeVertices;
  if (vertexBlock > kVertexBlockCap)
    return Refuse("vertex data of %llu bytes", static_cast<unsigned long long>(vertexBlock));
  return true;
}

bool Checked::Streams() {
  for (uint32_t i = 0; i < frames.count; ++i)
    if (!FrameStream(im, frames.off[i], static_cast<int>(i), nullptr, nullptr)) return false;
  for (uint32_t j = 0; j < meshes.count; ++j) {
    const uint32_t fo = frames.off[meshOwner[j]];
    if (!MeshStream(im, meshes.off[j], static_cast<int>(j), im.U32(fo + 0xBC), im.U32(fo + 0xC0),
                    nullptr))
      return false;
  }
  for (uint32_t k = 0; k < lists.count; ++k) {
    const uint32_t mo = meshes.off[listOwner[k]];
    const uint32_t fo = frames.off[meshOwner[listOwner[k]]];
    if (!ListStream(im, lists.off[k], static_cast<int>(k), im.U32(fo + 0xA4), im.U32(mo + 0x40),
                    nullptr, nullptr, nullptr))
      return false;
  }
  return true;
}

bool Checked::All() { return Header() && Structure() && Totals() && Streams(); }

// ---- The build ----

// Bytes laid out one after another, each part 16-byte aligned.
struct Layout {
  uint64_t size = 0;
  uint64_t Take(uint64_t bytes) {
    const uint64_t at = size;
    size += (bytes + 15) & ~uint64_t{15};
    return at;
  }
};

size_t StringLength(const char* s) { return s ? std::strlen(s) : 0; }

struct Builder {
  const Checked& c;
  const Image& im;
  MV1ModelBase* base = nullptr;
  uint8_t* block = nullptr;
  int handle = -1;
  int texturesLoaded = 0;

  template <class T>
  T* At(uint64_t offset) const {
    return reinterpret_cast<T*>(block + offset);
  }
  const char* Str(uint32_t v) const {
    return base->StringBuffer + (v ? v : static_cast<uint32_t>(base->StringSize));
  }
  MV1FrameBase* Frame(uint32_t v) const { return v ? &base->Frame[im.U32(v + 0x0C)] : nullptr; }
  MV1MeshBase* Mesh(uint32_t v) const { return v ? &base->Mesh[im.U32(v + 0x08)] : nullptr; }

  // Frees everything taken after the handle was reserved.
  void Cleanup() {
    if (base) {
      for (int i = 0; i < texturesLoaded; ++i) {
        MV1TextureBase* t = &base->Texture[i];
        DeleteGraph(t->GraphHandle, 0);
        MEM_FREE(t->ColorImage);
        MEM_FREE(t->AlphaImage);
      }
      MEM_FREE(base->VertexData);
    }
    MEM_FREE(block);
    MV1ReleaseModelBase(handle);  // the slot is still reserved
  }
};

int Build(const Checked& c, const char* path, const char* modelName, const char* folder) {
  const Image& im = c.im;
  const uint32_t F = c.frames.count, M = c.meshes.count, L = c.lists.count, T = c.textures.count;
  const uint32_t SB = c.SkinBoneCount(), KS = c.KeySetCount(), AF = c.AnimFrameCount(),
                 A = c.anims.count;
  const uint32_t BL = c.H(0x34), BU = c.H(0x64), SS = c.H(0xAC);
  const uint32_t S = c.shapes.count, SM = c.shapeMeshes.count;

  // Base block.
  const size_t folderLength = StringLength(folder);
  const bool slash =
      folderLength && (folder[folderLength - 1] == '/' || folder[folderLength - 1] == '\\');
  Layout lay;
  const uint64_t oHead = lay.Take(sizeof(MV1ModelBase));
  const uint64_t oName = lay.Take(StringLength(modelName) + 1);
  const uint64_t oPath = lay.Take(StringLength(path) + 1);
  const uint64_t oFolder = lay.Take(folderLength + 2);
  const uint64_t oFrames = lay.Take(uint64_t{F} * sizeof(MV1FrameBase));
  const uint64_t oBoneList = lay.Take(uint64_t{BL} * sizeof(MV1SkinBoneBase*));
  const uint64_t oMaterials = lay.Take(uint64_t{c.materials.count} * sizeof(MV1MaterialBase));
  const uint64_t oParams = lay.Take(uint64_t{c.params.count} * sizeof(MV1FrameParamRecord));
  const uint64_t oTextures = lay.Take(uint64_t{T} * sizeof(MV1TextureBase));
  const uint64_t oMeshes = lay.Take(uint64_t{M} * sizeof(MV1MeshBase));
  const uint64_t oSkin = lay.Take(uint64_t{SB} * sizeof(MV1SkinBoneBase));
  const uint64_t oUse = lay.Take(uint64_t{BU} * sizeof(MV1BoneUseEntry));
  const uint64_t oLists = lay.Take(uint64_t{L} * sizeof(MV1TriangleList));
  const uint64_t oIndices = lay.Take(c.listIndices * 2);
  const uint64_t oStrings = lay.Take(uint64_t{SS} + 1);
  const uint64_t oMaskA = lay.Take(c.H(0x10));
  const uint64_t oMaskB = lay.Take(c.H(0x14));
  const uint64_t oKeyData = lay.Take(c.keyData);
  const uint64_t oKeySets = lay.Take(uint64_t{KS} * sizeof(MV1AnimKeySet));
  const uint64_t oAnimFrames = lay.Take(uint64_t{AF} * sizeof(MV1AnimFrameBase));
  const uint64_t oAnims = lay.Take(uint64_t{A} * sizeof(MV1AnimBase));
  const uint64_t oTable = lay.Take(uint64_t{A} * F * sizeof(void*));
  const uint64_t oShapes = lay.Take(uint64_t{S} * sizeof(MV1ShapeBase));
  const uint64_t oShapeMeshes = lay.Take(uint64_t{SM} * sizeof(MV1ShapeMeshBase));

  Builder b{c, im};
  b.handle = MV1AddModelBaseHandle();
  if (b.handle < 0) return -1;
  if (lay.size > SIZE_MAX / 2 ||
      !(b.block = static_cast<uint8_t*>(MEM_CALLOC(static_cast<size_t>(lay.size))))) {
    b.Cleanup();
    return -1;
  }
  MV1ModelBase* base = b.base = b.At<MV1ModelBase>(oHead);
  base->Handle = b.handle;
  base->FileFlag = c.H(0x08);
  base->Name = b.At<char>(oName);
  base->FilePath = b.At<char>(oPath);
  base->DirectoryPath = b.At<char>(oFolder);
  if (modelName) std::memcpy(base->Name, modelName, StringLength(modelName));
  if (path) std::memcpy(base->FilePath, path, StringLength(path));
  if (folder) std::memcpy(base->DirectoryPath, folder, folderLength);
  if (!slash) base->DirectoryPath[folderLength] = '/';

  base->ChangeMaskSizeA = static_cast<int>(c.H(0x10));
  base->ChangeMaskSizeB = static_cast<int>(c.H(0x14));
  base->ChangeMaskA = b.At<uint32_t>(oMaskA);
  base->ChangeMaskB = b.At<uint32_t>(oMaskB);
  if (c.H(0x10)) std::memcpy(base->ChangeMaskA, im.p + c.H(0x18), c.H(0x10));
  if (c.H(0x14)) std::memcpy(base->ChangeMaskB, im.p + c.H(0x1C), c.H(0x14));
  base->StringSize = static_cast<int>(SS);
  base->StringBuffer = b.At<char>(oStrings);
  if (SS) std::memcpy(base->StringBuffer, im.p + c.H(0xB0), SS);
  base->FrameCount = static_cast<int>(F);
  base->Frame = b.At<MV1FrameBase>(oFrames);
  base->FrameUseSkinBoneCount = static_cast<int>(BL);
  base->FrameUseSkinBone = b.At<MV1SkinBoneBase*>(oBoneList);
  base->MaterialCount = static_cast<int>(c.materials.count);
  base->Material = b.At<MV1MaterialBase>(oMaterials);
  base->TextureCount = static_cast<int>(T);
  base->Texture = b.At<MV1TextureBase>(oTextures);
  base->MeshCount = static_cast<int>(M);
  base->Mesh = b.At<MV1MeshBase>(oMeshes);
  base->FrameParamCount = static_cast<int>(c.params.count);
  base->FrameParam = b.At<MV1FrameParamRecord>(oParams);
  base->SkinBoneCount = static_cast<int>(SB);
  base->SkinBone = b.At<MV1SkinBoneBase>(oSkin);
  base->SkinBoneUseCount = static_cast<int>(BU);
  base->SkinBoneUse = b.At<MV1BoneUseEntry>(oUse);
  if (BU) std::memcpy(base->SkinBoneUse, im.p + c.H(0x68), uint64_t{BU} * 8);
  base->TriangleListCount = static_cast<int>(L);
  base->TriangleList = b.At<MV1TriangleList>(oLists);
  base->Indices = b.At<uint16_t>(oIndices);
  base->KeyData = b.At<void>(oKeyData);
  base->AnimKeySetCount = static_cast<int>(KS);
  base->AnimKeySet = b.At<MV1AnimKeySet>(oKeySets);
  base->AnimFrameCount = static_cast<int>(AF);
  base->AnimFrame = b.At<MV1AnimFrameBase>(oAnimFrames);
  base->AnimCount = static_cast<int>(A);
  base->Anim = b.At<MV1AnimBase>(oAnims);
  base->AnimFrameTable = (uint64_t{A} * F) != 0 ? b.At<MV1AnimFrameBase*>(oTable) : nullptr;
  base->ShapeCount = static_cast<int>(S);
  base->Shape = b.At<MV1ShapeBase>(oShapes);
  base->ShapeMeshCount = static_cast<int>(SM);
  base->ShapeMesh = b.At<MV1ShapeMeshBase>(oShapeMeshes);
  for (uint32_t k = 0; k < BL; ++k)
    base->FrameUseSkinBone[k] =
        &base->SkinBone[(im.U32(c.H(0x38) + uint64_t{k} * 4) - c.H(0x60)) / 84];

  // Vertex block: areas in order, each 16-byte aligned; an empty area has a null pointer.
  Layout vl;
  vl.Take(0);
  const uint64_t areaBytes[] = {
      32 * c.t[0],        48 * c.t[1],         64 * c.t[2],    c.t[3],
      4 * c.listVertices, 16 * c.faces,        36 * c.normals, c.positionBytes,
      c.meshVertexBytes,  28 * c.shapeVertices};
  uint64_t areaAt[10];
  for (int k = 0; k < 10; ++k) areaAt[k] = vl.Take(areaBytes[k]);
  if (vl.size) {
    base->VertexData = MEM_CALLOC(static_cast<size_t>(vl.size + 16));
    if (!base->VertexData) {
      b.Cleanup();
      return -1;
    }
    base->VertexDataSize = static_cast<int>(vl.size + 16);
  }
  uint8_t* aligned = reinterpret_cast<uint8_t*>(
      (reinterpret_cast<uintptr_t>(base->VertexData) + 15) & ~uintptr_t{15});
  void* area[10];
  for (int k = 0; k < 10; ++k) area[k] = areaBytes[k] ? aligned + areaAt[k] : nullptr;
  base->Type0Vertices = area[0];
  base->Type1Vertices = area[1];
  base->Type2Vertices = area[2];
  base->Type3Vertices = area[3];
  base->TListMeshVertexIndices = area[4];
  base->Faces = area[5];
  base->Normals = area[6];
  base->Positions = area[7];
  base->MeshVertices = area[8];
  base->ShapeVertex = static_cast<MV1ShapeVertexBase*>(area[9]);
  base->ShapeVertexCount = static_cast<int>(c.shapeVertices);

  // Frames.
  base->TopFrameCount = static_cast<int>(c.H(0x28));
  base->FirstTopFrame = b.Frame(c.H(0x2C));
  base->LastTopFrame = b.Frame(c.H(0x30));
  for (uint32_t i = 0; i < F; ++i) {
    const uint32_t o = c.frames.off[i];
    MV1FrameBase* f = &base->Frame[i];
    f->Container = base;
    f->Name = b.Str(im.U32(o + 0x08));
    f->Index = static_cast<int>(i);
    for (int set = 0; set < 2; ++set) {
      const uint32_t r = o + (set ? 0x20 : 0x10);
      MV1ChangeInfo& ci = set ? f->ChangeMatrixInfo : f->ChangeDrawMaterialInfo;
      ci.WordIndex = static_cast<int>(im.U32(r));
      ci.SubtreeMask = (set ? base->ChangeMaskB : base->ChangeMaskA) +
                       (im.U32(r + 4) - c.H(set ? 0x1C : 0x18)) / 4;
      ci.OwnBit = im.U32(r + 8);
      ci.MaskWordCount = static_cast<int>(im.U32(r + 12));
    }
    f->FileValue30 = static_cast<int>(im.U32(o + 0x30));
    f->ChildCount = static_cast<int>(im.U32(o + 0x34));
    f->Parent = b.Frame(im.U32(o + 0x38));
    f->FirstChild = b.Frame(im.U32(o + 0x3C));
    f->LastChild = b.Frame(im.U32(o + 0x40));
    f->Prev = b.Frame(im.U32(o + 0x44));
    f->Next = b.Frame(im.U32(o + 0x48));
    f->Translate = VECTOR{im.F32(o + 0x4C), im.F32(o + 0x50), im.F32(o + 0x54)};
    f->Scale = VECTOR{im.F32(o + 0x58), im.F32(o + 0x5C), im.F32(o + 0x60)};
    f->Rotate = VECTOR{im.F32(o + 0x64), im.F32(o + 0x68), im.F32(o + 0x6C)};
    f->RotateOrder = static_cast<int>(im.U32(o + 0x70));
    f->Quaternion =
        MV1Float4{im.F32(o + 0x74), im.F32(o + 0x78), im.F32(o + 0x7C), im.F32(o + 0x80)};
    f->Flag = im.U32(o + 0x84);
    f->HasSkinnedMesh = static_cast<int>(im.U32(o + 0x88));
    f->FileValue8C = static_cast<int>(im.U32(o + 0x8C));
    f->FileValue90 = static_cast<int>(im.U32(o + 0x90));
    f->MeshCount = static_cast<int>(im.U32(o + 0x94));
    f->Mesh = b.Mesh(im.U32(o + 0x98));
    f->SkinBoneCount = static_cast<int>(im.U32(o + 0x9C));
    f->SkinBone = f->SkinBoneCount ? &base->SkinBone[(im.U32(o + 0xA0) - c.H(0x60)) / 84] : nullptr;
    f->UseSkinBoneCount = static_cast<int>(im.U32(o + 0xA4));
    f->UseSkinBone =
        f->UseSkinBoneCount ? &base->FrameUseSkinBone[(im.U32(o + 0xA8) - c.H(0x38)) / 4] : nullptr;
    f->Param = c.frameParam[i] >= 0 ? &base->FrameParam[c.frameParam[i]] : nullptr;
    f->BonesPerVertex = im.U16(o + 0xB2);
    f->SmoothingAngle = im.F32(o + 0xB4);
    f->NormalsFromFaces = static_cast<int>(im.U32(o + 0xB8));
    f->PositionCount = static_cast<int>(im.U32(o + 0xBC));
    f->PositionStride = f->BonesPerVertex * 8 + 12;
    f->NormalCount = static_cast<int>(im.U32(o + 0xC0));
    if (f->PositionCount) {
      f->Position = reinterpret_cast<MV1MeshPosition*>(static_cast<uint8_t*>(base->Positions) +
                                                       base->FillPositionByteSize);
      base->FillPositionByteSize += f->PositionCount * f->PositionStride;
    }
    if (f->NormalCount) {
      f->Normal = static_cast<MV1MeshNormal*>(base->Normals) + base->FillNormalCount;
      base->FillNormalCount += f->NormalCount;
    }
    FrameStream(im, o, static_cast<int>(i), reinterpret_cast<uint8_t*>(f->Position), f->Normal);
    const uint32_t entry = im.U32(o + 0xD8);
    if (entry && im.U32(entry)) {
      f->ShapeCount = static_cast<int>(im.U32(entry));
      f->Shape = &base->Shape[im.U32(im.U32(entry + 4) + 0x0C)];
    }
  }

  // Textures, at most a quarter of the graph table.
  if (MV1CheckLoadTextureCount("MV1 LoadModel Error : ", T) != 0) {
    b.Cleanup();
    return -1;
  }
  for (uint32_t i = 0; i < T; ++i) {
    const uint32_t o = c.textures.off[i];
    MV1TextureBase* t = &base->Texture[i];
    t->Name = const_cast<char*>(b.Str(im.U32(o + 0x08)));
    const uint32_t colour = im.U32(o + 0x10), alpha = im.U32(o + 0x14);
    t->ColorFileName = colour ? const_cast<char*>(b.Str(colour)) : nullptr;
    t->AlphaFileName = alpha ? const_cast<char*>(b.Str(alpha)) : nullptr;
    t->BumpMap = static_cast<int>(im.U32(o + 0x18));
    t->BumpScale = im.F32(o + 0x1C);
    t->AddressModeU = static_cast<int>(im.U32(o + 0x20));
    t->AddressModeV = static_cast<int>(im.U32(o + 0x24));
    t->FilterMode = static_cast<int>(im.U32(o + 0x28));
    t->GraphHandle = -1;
    t->UserGraphHandle = -1;
    char colourPath[2048], alphaPath[2048];
    bool ok = (!colour || ConvertFullPath(t->ColorFileName, colourPath, sizeof(colourPath),
                                          base->DirectoryPath) == 0) &&
              (!alpha || ConvertFullPath(t->AlphaFileName, alphaPath, sizeof(alphaPath),
                                         base->DirectoryPath) == 0);
    ok = ok && MV1LoadTexture(&t->ColorImage, &t->ColorImageSize, &t->AlphaImage,
                              &t->AlphaImageSize, &t->GraphHandle, &t->SemiTransparent, nullptr,
                              nullptr, colour ? colourPath : nullptr, alpha ? alphaPath : nullptr,
                              base->DirectoryPath, t->BumpMap, t->BumpScale) == 0;
    if (!ok) {
      WriteLogFmt(TEXT_MV1_READER_TEXTURE_FAILED, t->Name);
      b.Cleanup();
      return -1;
    }
    b.texturesLoaded = static_cast<int>(i) + 1;
    GetGraphSize(t->GraphHandle, &t->Width, &t->Height);
  }

  // Materials.
  for (uint32_t i = 0; i < c.materials.count; ++i) {
    const uint32_t o = c.materials.off[i];
    MV1MaterialBase* m = &base->Material[i];
    m->Name = b.Str(im.U32(o + 0x08));
    COLOR_F* colours[4] = {&m->Diffuse, &m->Ambient, &m->Specular, &m->Emissive};
    for (int k = 0; k < 4; ++k)
      *colours[k] = COLOR_F{im.F32(o + 0x10 + 16 * k), im.F32(o + 0x14 + 16 * k),
                            im.F32(o + 0x18 + 16 * k), im.F32(o + 0x1C + 16 * k)};
    m->Power = im.F32(o + 0x50);
    struct LayerSet {
      uint32_t at;
      int* count;
      MV1MaterialLayer* layers;
    };
    const LayerSet sets[3] = {{0x58, &m->DiffuseLayerCount, m->DiffuseLayer},
                              {0x11C, &m->SpecularLayerCount, m->SpecularLayer},
                              {0x1E0, &m->NormalLayerCount, m->NormalLayer}};
    for (const LayerSet& s : sets) {
      *s.count = static_cast<int>(im.U32(o + s.at));
      for (int l = 0; l < *s.count; ++l) {
        s.layers[l].Texture = static_cast<int>(im.U32(o + s.at + 4 + 24 * l));
        s.layers[l].BlendType = static_cast<int>(im.U32(o + s.at + 8 + 24 * l));
      }
    }
    m->DrawBlendMode = static_cast<int>(im.U32(o + 0x2A4));
    m->DrawBlendParam = static_cast<int>(im.U32(o + 0x2A8));
    for (int k = 0; k < 3; ++k) m->FileWords[k] = static_cast<int>(im.U32(o + 0x2AC + 4 * k));
    const uint32_t blk = im.U32(o + 0x2C8);
    if (blk) {
      m->Type = static_cast<int>(im.U32(blk));
      m->DiffuseGradTexture = static_cast<int>(im.U32(blk + 4));
      m->SpecularGradTexture = static_cast<int>(im.U32(blk + 8));
      m->DiffuseGradBlend = static_cast<int>(im.U32(blk + 12));
      m->SpecularGradBlend = static_cast<int>(im.U32(blk + 16));
      m->OutlineWidth = im.F32(blk + 20);
      m->OutlineColor =
          COLOR_F{im.F32(blk + 24), im.F32(blk + 28), im.F32(blk + 32), im.F32(blk + 36)};
    } else {
      m->DiffuseGradTexture = m->SpecularGradTexture = -1;
      m->DiffuseGradBlend = 2;
      m->SpecularGradBlend = 1;
      m->OutlineColor = COLOR_F{0, 0, 0, 1};
    }
  }

  // Parameter records.
  for (uint32_t i = 0; i < c.params.count; ++i) {
    const uint32_t o = c.params.off[i];
    base->FrameParam[i].Name = b.Str(im.U32(o + 0x08));
    for (int k = 0; k < 22; ++k)
      base->FrameParam[i].Words[k] = static_cast<int>(im.U32(o + 0x0C + 4 * k));
  }

  // Meshes: vertices from the mesh-vertex area, faces reserved at their counts.
  uint32_t* faceFill = nullptr;
  {
    Work w;
    faceFill = w.Alloc<uint32_t>(M);
    if (!faceFill) {
      Refuse("out of work memory");
      b.Cleanup();
      return -1;
    }
    for (uint32_t j = 0; j < M; ++j) {
      const uint32_t o = c.meshes.off[j];
      MV1MeshBase* m = &base->Mesh[j];
      m->Container = &base->Frame[c.meshOwner[j]];
      m->Material = &base->Material[im.U32(im.U32(o + 0x10) + 0x0C)];
      m->ChangeInfo = MV1ChangeInfo{static_cast<int>(im.U32(o + 0x14)), nullptr,
                                    static_cast<int>(im.U32(o + 0x20)), im.U32(o + 0x1C)};
      m->UseVertexDiffuseColor = static_cast<int>(im.U32(o + 0x24));
      m->UseVertexSpecularColor = static_cast<int>(im.U32(o + 0x28));
      m->HasVertexAlpha = im.U8(o + 0x2C);
      m->HasShape = im.U8(o + 0x2D);
      m->TriangleListCount = static_cast<int>(im.U32(o + 0x30));
      m->TriangleList =
          m->TriangleListCount ? &base->TriangleList[im.U32(im.U32(o + 0x34) + 0x08)] : nullptr;
      m->Visible = im.U8(o + 0x38);
      m->BackCulling = im.U8(o + 0x39);
      m->UVSetCount = im.U8(o + 0x3A);
      m->FloatsPerUV = 2;
      m->VertexCount = static_cast<int>(im.U32(o + 0x40));
      m->VertexStride = m->UVSetCount * 8 + 16;
      if (m->VertexCount) {
        m->Vertex = reinterpret_cast<MV1MeshVertex*>(static_cast<uint8_t*>(base->MeshVertices) +
                                                     base->FillMeshVertexByteSize);
        base->FillMeshVertexByteSize += m->VertexCount * m->VertexStride;
      }
      m->FaceCount = static_cast<int>(im.U32(o + 0x44));
      if (m->FaceCount) {
        m->Face = static_cast<MV1MeshFace*>(base->Faces) + base->FillFaceCount;
        base->FillFaceCount += m->FaceCount;
      }
      MeshStream(im, o, static_cast<int>(j), static_cast<uint32_t>(m->Container->PositionCount),
                 static_cast<uint32_t>(m->Container->NormalCount),
                 reinterpret_cast<uint8_t*>(m->Vertex));
    }

    // Shapes and shape meshes.
    const uint32_t stride = c.ext ? im.U32(c.ext + 0x2C) : 0;
    if (c.ext) {
      base->ShapeAreaCount = static_cast<int>(im.U32(c.ext + 0x28));
      base->ShapeType0VertexCount = static_cast<int>(im.U32(c.ext + 0x30));
      base->ShapeType1VertexCount = static_cast<int>(im.U32(c.ext + 0x34));
      base->ShapeType2VertexCount = static_cast<int>(im.U32(c.ext + 0x38));
      base->ShapeType3ByteSize = static_cast<int>(im.U32(c.ext + 0x3C));
    }
    for (uint32_t s = 0; s < S; ++s) {
      const uint32_t o = c.shapes.off[s];
      MV1ShapeBase* sh = &base->Shape[s];
      sh->Container = &base->Frame[c.shapeOwner[s]];
      sh->Name = b.Str(im.U32(o + 0x08));
      sh->MeshCount = static_cast<int>(im.U32(o + 0x14));
      sh->Mesh = sh->MeshCount ? &base->ShapeMesh[im.U32(im.U32(o + 0x18) + 0x08)] : nullptr;
    }
    int shapeFill = 0;
    for (uint32_t k = 0; k < SM; ++k) {
      const uint32_t o = c.shapeMeshes.off[k];
      MV1ShapeMeshBase* sm = &base->ShapeMesh[k];
      sm->TargetMesh = b.Mesh(im.U32(o + 0x0C));
      sm->VertexCount = static_cast<int>(im.U32(o + 0x14));
      if (sm->VertexCount) {
        sm->Vertex = base->ShapeVertex + shapeFill;
        shapeFill += sm->VertexCount;
      }
      for (int v = 0; v < sm->VertexCount; ++v) {
        const uint64_t at = im.U32(o + 0x18) + uint64_t{static_cast<uint32_t>(v)} * stride;
        sm->Vertex[v] =
            MV1ShapeVertexBase{im.U32(at), VECTOR{im.F32(at + 4), im.F32(at + 8), im.F32(at + 12)},
                               VECTOR{im.F32(at + 16), im.F32(at + 20), im.F32(at + 24)}};
      }
    }

    // Skin bones.
    for (uint32_t k = 0; k < SB; ++k) {
      const uint64_t o = c.H(0x60) + uint64_t{k} * 84;
      MV1SkinBoneBase* sb = &base->SkinBone[k];
      for (int r = 0; r < 3; ++r)
        for (int col = 0; col < 4; ++col)
          sb->ModelLocalMatrix.m[r][col] = im.F32(o + 0x10 + 4 * (r * 4 + col));
      sb->TranslateOnly = static_cast<int>(im.U32(o + 0x40));
      sb->Index = static_cast<int>(im.U32(o + 0x0C));
      sb->UseCount = static_cast<int>(im.U32(o + 0x44));
      sb->Use = sb->UseCount ? &base->SkinBoneUse[(im.U32(o + 0x48) - c.H(0x68)) / 8] : nullptr;
    }

    // Triangle lists and the faces they make.
    uint8_t* typeArea[4] = {
        static_cast<uint8_t*>(base->Type0Vertices), static_cast<uint8_t*>(base->Type1Vertices),
        static_cast<uint8_t*>(base->Type2Vertices), static_cast<uint8_t*>(base->Type3Vertices)};
    uint64_t typeFill[4] = {};
    for (uint32_t k = 0; k < L; ++k) {
      const uint32_t o = c.lists.off[k];
      MV1TriangleList* l = &base->TriangleList[k];
      MV1MeshBase* m = &base->Mesh[c.listOwner[k]];
      l->Container = m;
      l->VertexType = im.U16(o + 0x10);
      l->BonesPerVertex = static_cast<int>(c.listFreeBones[k]);
      static const int kSizes[3] = {32, 48, 64};
      l->VertexStride = static_cast<uint16_t>(
          l->VertexType == 3 ? MV1FreeBoneVertexStride(l->BonesPerVertex) : kSizes[l->VertexType]);
      l->VertexCount = im.U16(o + 0x14);
      l->IndexCount = im.U16(o + 0x16);
      if (l->VertexCount) {
        l->MeshVertexIndex = static_cast<uint32_t*>(base->TListMeshVertexIndices) +
                             base->FillTListMeshVertexIndexCount;
        base->FillTListMeshVertexIndexCount += l->VertexCount;
        l->Vertices = typeArea[l->VertexType] + typeFill[l->VertexType];
        typeFill[l->VertexType] +=
            uint64_t{static_cast<uint32_t>(l->VertexCount)} * l->VertexStride;
      }
      if (l->IndexCount) {
        l->Index = base->Indices + base->IndexFillCount;
        base->IndexFillCount += l->IndexCount;
      }
      ListStream(im, o, static_cast<int>(k), 0xFFFFFFFFu, 0xFFFFFFFFu, l, l->MeshVertexIndex,
                 l->Index);
      const uint16_t place = static_cast<uint16_t>(l - m->TriangleList);
      for (int x = 0; x + 2 < l->IndexCount; x += 3) {
        MV1MeshFace* face = &m->Face[faceFill[c.listOwner[k]]++];
        face->TriangleListType = l->VertexType;
        face->TriangleListIndex = place;
        for (int v = 0; v < 3; ++v) face->VertexIndex[v] = l->MeshVertexIndex[l->Index[x + v]];
      }
    }
    base->FillType0VertexCount = static_cast<int>(c.t[0]);
    base->FillType1VertexCount = static_cast<int>(c.t[1]);
    base->FillType2VertexCount = static_cast<int>(c.t[2]);
    base->FillType3ByteSize = static_cast<int>(c.t[3]);
  }

  // Normals from faces.
  for (uint32_t i = 0; i < F; ++i) {
    MV1FrameBase* f = &base->Frame[i];
    if (!f->NormalsFromFaces || !f->NormalCount) continue;
    auto normalise = [](VECTOR v) {
      const float sq = v.x * v.x + v.y * v.y + v.z * v.z;
      if (sq == 0.0f) return VECTOR{0, 0, 0};
      const float len = std::sqrt(sq);
      return VECTOR{v.x / len, v.y / len, v.z / len};
    };
    for (int n = 0; n < f->NormalCount; ++n) f->Normal[n].Normal = VECTOR{0, 0, 0};
    for (int mi = 0; mi < f->MeshCount; ++mi) {
      MV1MeshBase* m = &f->Mesh[mi];
      for (int x = 0; x < m->FaceCount; ++x) {
        const MV1MeshFace& face = m->Face[x];
        MV1MeshVertex* v[3];
        VECTOR p[3];
        for (int k = 0; k < 3; ++k) {
          v[k] = MV1MeshVertexAt(m, static_cast<int>(face.VertexIndex[k]));
          p[k] = MV1FramePositionAt(f, static_cast<int>(v[k]->PositionIndex))->Position;
        }
        const VECTOR a{p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z};
        const VECTOR e{p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z};
        const VECTOR n =
            normalise(VECTOR{a.y * e.z - a.z * e.y, a.z * e.x - a.x * e.z, a.x * e.y - a.y * e.x});
        for (int k = 0; k < 3; ++k) {
          VECTOR& out = f->Normal[v[k]->NormalIndex].Normal;
          out = VECTOR{out.x + n.x, out.y + n.y, out.z + n.z};
        }
      }
    }
    for (int n = 0; n < f->NormalCount; ++n) f->Normal[n].Normal = normalise(f->Normal[n].Normal);
  }

  for (uint32_t j = 0; j < M; ++j)
    if (MV1SetupTangentAndBinormal(&base->Mesh[j]) != 0) {
      b.Cleanup();
      return -1;
    }

  // Key sets, anims, anim frames and the anim-frame table.
  uint64_t keyFill = 0;
  for (uint32_t k = 0; k < KS; ++k) {
    const uint32_t owner = static_cast<uint32_t>(c.keySetOwner[k]);
    const uint32_t target = im.U32(c.H(0xD4) + uint64_t{owner} * c.AnimFrameStride() + 8);
    const uint64_t o = c.H(0xC8) + uint64_t{k} * 20;
    // Sizes first (no outputs), then the set with its times and then its values in place.
    uint64_t timeBytes = 0, valueBytes = 0;
    KeySetStream(im, o, static_cast<int>(k), c.frameShapeCount[target], &timeBytes, &valueBytes,
                 nullptr, nullptr, nullptr);
    auto* times = reinterpret_cast<float*>(static_cast<uint8_t*>(base->KeyData) + keyFill);
    auto* values =
        reinterpret_cast<float*>(static_cast<uint8_t*>(base->KeyData) + keyFill + timeBytes);
    KeySetStream(im, o, static_cast<int>(k), c.frameShapeCount[target], &timeBytes, &valueBytes,
                 &base->AnimKeySet[k], timeBytes ? times : nullptr, valueBytes ? values : nullptr);
    keyFill += timeBytes + valueBytes;
  }
  base->KeyDataFillSize = static_cast<int>(keyFill);
  for (uint32_t a = 0; a < A; ++a) {
    const uint32_t o = c.anims.off[a];
    MV1AnimBase* an = &base->Anim[a];
    an->Name = b.Str(im.U32(o + 0x08));
    an->Index = static_cast<int>(a);
    an->MaxTime = im.F32(o + 0x10);
    an->AnimFrameCount = static_cast<int>(im.U32(o + 0x14));
    an->AnimFrame = an->AnimFrameCount
                        ? &base->AnimFrame[(im.U32(o + 0x18) - c.H(0xD4)) / c.AnimFrameStride()]
                        : nullptr;
    an->IsAdditive = im.U8(o + 0x2C) & 1;
    an->IsMatrixMode = (im.U8(o + 0x2C) >> 1) & 1;
  }
  for (uint32_t k = 0; k < AF; ++k) {
    const uint64_t o = c.H(0xD4) + uint64_t{k} * c.AnimFrameStride();
    MV1AnimFrameBase* af = &base->AnimFrame[k];
    const uint32_t anim = static_cast<uint32_t>(c.animFrameOwner[k]), target = im.U32(o + 8);
    af->Anim = &base->Anim[anim];
    af->TargetFrame = &base->Frame[target];
    af->TargetFrameIndex = static_cast<int>(target);
    af->FileValue0C = static_cast<int>(im.U32(o + 0x0C));
    af->FileValue10 = static_cast<int>(im.U32(o + 0x10));
    af->KeySetCount = static_cast<int>(im.U32(o + 0x14));
    af->KeySet = af->KeySetCount ? &base->AnimKeySet[(im.U32(o + 0x18) - c.H(0xC8)) / 20] : nullptr;
    base->AnimFrameTable[uint64_t{anim} * F + target] = af;
  }

  MV1SetupFrameCounts(base);
  if (MV1CheckFrameLinks(base) != 0 || MV1CheckChangeInfos(base) != 0) {
    Refuse("frame links or change infos inconsistent");
    b.Cleanup();
    return -1;
  }
  MV1ModelBaseTable.Slot[b.handle & MV1_HANDLE_INDEX_MASK] = base;
  MV1SetupFrameBaseMatrices(base);
  return b.handle;
}

}  // namespace

int LoadMV1ToModelBase(const void* image, size_t size, const char* path, const char* modelName,
                       const char* folder) {
  const auto* file = static_cast<const uint8_t*>(image);
  if (!file || size < 4 || std::memcmp(file, "MV11", 4) != 0) return -1;
  if (size < 4 + LZ_HEAD_SIZE) return Refuse("file shorter than its block head"), -1;
  const uint64_t unpacked = uint64_t{file[4]} | uint64_t{file[5]} << 8 | uint64_t{file[6]} << 16 |
                            uint64_t{file[7]} << 24;
  const uint64_t packed = uint64_t{file[8]} | uint64_t{file[9]} << 8 | uint64_t{file[10]} << 16 |
                          uint64_t{file[11]} << 24;
  if (unpacked < 0xF0 || unpacked > kUnpackedCap)
    return Refuse("unpacked size %llu", static_cast<unsigned long long>(unpacked)), -1;
  if (packed < LZ_HEAD_SIZE || packed > size - 4)
    return Refuse("packed block past the end of the file"), -1;
  if (unpacked > 86 * (packed - LZ_HEAD_SIZE))
    return Refuse("unpacked size beyond what the block can hold"), -1;
  auto* buffer = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(unpacked + 4)));
  if (!buffer) return WriteLogFmt(TEXT_MV1_READER_UNPACK_ALLOC_FAILED);
  std::memcpy(buffer, "MV11", 4);
  if (LzDecode(file + 4, static_cast<size_t>(packed), buffer + 4, static_cast<size_t>(unpacked)) !=
      static_cast<int>(unpacked)) {
    MEM_FREE(buffer);
    return Refuse("damaged LZ block"), -1;
  }
  MV1ReleaseLoadImage(image);  // everything is read from the unpacked copy
  int handle = -1;
  {
    Checked c;
    c.im = Image{buffer, unpacked + 4};
    if (c.All()) handle = Build(c, path, modelName, folder);
  }
  MEM_FREE(buffer);
  if (handle < 0) return -1;

  if (MV1LoadOptimizeVerticesFlag && MV1OptimizeModelBaseVertices(handle) != 0) {
    MV1ReleaseModelBase(handle);
    return -1;
  }
  if (MV1LoadRecalcNormalsFlag && MV1RecalcModelBaseNormals(handle, MV1LoadSmoothingAngle) != 0) {
    MV1ReleaseModelBase(handle);
    return -1;
  }
  MV1ModelBase* base = MV1GetModelBaseCheckedNoInit(handle);
  for (int k = 0; k < base->TriangleListCount; ++k)
    MV1SetupTriangleListPositions(&base->TriangleList[k]);
  return handle;
}
