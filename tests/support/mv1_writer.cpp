#include "tests/support/mv1_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "tests/support/lz_encoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Record sizes a reader reads.
constexpr uint32_t kHeader = 0xF4, kFrame = 0xDC, kMesh = 0x4C, kList = 0x1C, kMaterial = 0x2CC,
                   kMaterialBlock = 40, kTexture = 0x2C, kParam = 0x64, kAnim = 0x2D,
                   kExtension = 0x40, kShapeEntry = 8, kShape = 0x1C, kShapeMesh = 0x1C,
                   kSkinBone = 84, kKeySet = 20, kAnimFrame = 0x1C, kShapeVertex = 28;

// A stream of little-endian values.
struct Out {
  Bytes b;
  void U8(uint32_t v) { b.push_back(uint8_t(v)); }
  void U16(uint32_t v) {
    U8(v);
    U8(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v);
    U16(v >> 16);
  }
  void F(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    U32(u);
  }
  void Width(int bytes, uint32_t v) {
    if (bytes == 1)
      U8(v);
    else if (bytes == 2)
      U16(v);
    else if (bytes == 4)
      U32(v);
  }
};

float Pow10f(int e) { return std::strtof(("1e" + std::to_string(e)).c_str(), nullptr); }

// Compact numbers by the rules, written independently of the reader.
float CompactStart(uint8_t b) {
  if (b & 0x80) return 0.0f;
  int i = (b & 0x1F) + 16 * ((b >> 5) & 1);
  float m = i < 16 ? Pow10f(i) : Pow10f(-(i - 16));
  return (b & 0x40) ? -m : m;
}
float CompactScale(uint8_t c) {
  int j = (c >> 4) & 7;
  return float(c & 0x0F) * ((c & 0x80) ? Pow10f(-j) : Pow10f(j));
}

int FloatsPerKey(int type) {
  return (type == 0 || type == 7) ? 4 : type == 1 ? 3 : type == 5 ? 1 : 0;
}

VECTOR Normalise(VECTOR v) {
  const float sq = v.x * v.x + v.y * v.y + v.z * v.z;
  if (sq == 0.0f) return VECTOR{0, 0, 0};
  const float len = std::sqrt(sq);
  return VECTOR{v.x / len, v.y / len, v.z / len};
}

struct Placer {
  std::vector<uint32_t> size;
  std::vector<bool> stream;
  int Add(uint32_t s, bool isStream) {
    size.push_back(s);
    stream.push_back(isStream);
    return int(size.size()) - 1;
  }
};

}  // namespace

uint32_t Mv1Get32(const Bytes& image, uint32_t at) {
  return uint32_t(image[at]) | uint32_t(image[at + 1]) << 8 | uint32_t(image[at + 2]) << 16 |
         uint32_t(image[at + 3]) << 24;
}
void Mv1Put32(Bytes* image, uint32_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*image)[at + i] = uint8_t(value >> (8 * i));
}
void Mv1Put16(Bytes* image, uint32_t at, uint16_t value) {
  (*image)[at] = uint8_t(value);
  (*image)[at + 1] = uint8_t(value >> 8);
}

Bytes PackMv1Image(const Bytes& image, bool escapeMostFrequent) {
  Bytes body(image.begin() + 4, image.end());
  Bytes block = LzEncode(body, 1 << 16, escapeMostFrequent ? LzMostFrequentByte(body) : -1);
  Bytes file = {'M', 'V', '1', '1'};
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

Mv1Written WriteMv1(const Mv1WScene& scene, const Mv1WLayout& layout) {
  Mv1Written w;
  w.expect = scene;
  Mv1WScene& ex = w.expect;
  const uint32_t F = uint32_t(scene.frames.size()), M = uint32_t(scene.meshes.size());
  const uint32_t extra = layout.recordExtra;
  const bool hasExt = layout.extension || !scene.shapes.empty();

  // Strings.
  Bytes strings = {0};
  std::map<std::string, uint32_t> stringAt;
  auto str = [&](const std::string& s) -> uint32_t {
    if (s.empty()) return 0;
    auto it = stringAt.find(s);
    if (it != stringAt.end()) return it->second;
    uint32_t at = uint32_t(strings.size());
    strings.insert(strings.end(), s.begin(), s.end());
    strings.push_back(0);
    stringAt[s] = at;
    return at;
  };

  // Change bits: pre-order numbering of frames and meshes (A) and of frames (B).
  std::vector<std::vector<int>> children(F + 1), frameMeshes(F);
  for (uint32_t i = 0; i < F; ++i)
    children[scene.frames[i].parent < 0 ? F : scene.frames[i].parent].push_back(int(i));
  for (uint32_t j = 0; j < M; ++j) frameMeshes[scene.meshes[j].frame].push_back(int(j));
  std::vector<uint32_t> bitA(F), bitB(F), meshBit(M), sizeA(F), sizeB(F);
  for (int i = int(F) - 1; i >= 0; --i) {
    sizeA[i] += 1 + uint32_t(frameMeshes[i].size());
    sizeB[i] += 1;
    if (scene.frames[i].parent >= 0) {
      sizeA[scene.frames[i].parent] += sizeA[i];
      sizeB[scene.frames[i].parent] += sizeB[i];
    }
  }
  {
    uint32_t a = 32, b = 32;
    std::vector<int> stack(children[F].rbegin(), children[F].rend());
    while (!stack.empty()) {
      int f = stack.back();
      stack.pop_back();
      bitA[f] = a++;
      bitB[f] = b++;
      for (int m : frameMeshes[f]) meshBit[m] = a++;
      for (auto it = children[f].rbegin(); it != children[f].rend(); ++it) stack.push_back(*it);
    }
  }
  // Bits bit .. bit + n - 1, counted from the word of bit.
  auto masks = [](uint32_t bit, uint32_t n) {
    const uint32_t lo = bit % 32, hi = lo + n;
    std::vector<uint32_t> words((hi + 31) / 32, 0xFFFFFFFFu);
    words.front() &= 0xFFFFFFFFu << lo;
    if (hi % 32) words.back() &= (1u << (hi % 32)) - 1;
    return words;
  };
  // A frame's words share the words of an earlier frame when they are a prefix of them (a chain of
  // frames would otherwise need words quadratic in its depth).
  std::vector<uint32_t> maskA, maskB, maskAtA(F), maskAtB(F);
  std::map<uint32_t, std::vector<uint32_t>> firstA, firstB;
  auto place = [](std::vector<uint32_t>* arr, std::map<uint32_t, std::vector<uint32_t>>* byFirst,
                  const std::vector<uint32_t>& words) {
    std::vector<uint32_t>& starts = (*byFirst)[words[0]];
    for (uint32_t start : starts)
      if (start + words.size() <= arr->size() &&
          std::equal(words.begin(), words.end(), arr->begin() + start))
        return start;
    const uint32_t start = uint32_t(arr->size());
    arr->insert(arr->end(), words.begin(), words.end());
    starts.push_back(start);
    return start;
  };
  for (uint32_t i = 0; i < F; ++i) {
    maskAtA[i] = place(&maskA, &firstA, masks(bitA[i], sizeA[i]));
    maskAtB[i] = place(&maskB, &firstB, masks(bitB[i], sizeB[i]));
  }
  maskA.insert(maskA.end(), layout.maskPadding, 0xFFFFFFFFu);
  maskB.insert(maskB.end(), layout.maskPadding, 0xFFFFFFFFu);

  // Streams, with the expected decoded values.
  std::vector<Bytes> frameData(F), meshData(M), shapeVerts;
  std::vector<std::vector<Bytes>> listData(M);
  uint64_t positionBytes = 0, normalTotal = 0, meshVertexBytes = 0, faceTotal = 0, listVertices = 0,
           listIndices = 0, typeTotals[4] = {}, keyBytes = 0;
  std::vector<uint32_t> boneListStart(F);
  uint32_t boneListLength = 0;
  for (uint32_t i = 0; i < F; ++i) {
    const Mv1WFrame& f = scene.frames[i];
    Mv1WFrame& e = ex.frames[i];
    boneListStart[i] = boneListLength;
    boneListLength += uint32_t(f.boneList.size());
    Out o;
    const size_t pc = f.positions.size();
    if (f.quantised) {
      float mn[3], rg[3];
      for (int k = 0; k < 3; ++k) {
        float lo = 0, hi = 0;
        for (size_t p = 0; p < pc; ++p) {
          float v = (&f.positions[p].x)[k];
          if (p == 0 || v < lo) lo = v;
          if (p == 0 || v > hi) hi = v;
        }
        mn[k] = lo;
        rg[k] = hi - lo;
        o.F(mn[k]);
        o.F(rg[k]);
      }
      for (size_t p = 0; p < pc; ++p)
        for (int k = 0; k < 3; ++k) {
          float v = (&f.positions[p].x)[k];
          long u = rg[k] == 0 ? 0 : std::lround((double(v) - mn[k]) / rg[k] * 60000.0);
          u = std::clamp(u, 0L, 65535L);
          o.U16(uint32_t(u));
          (&e.positions[p].x)[k] = float(double(u) * rg[k] / 60000.0 + mn[k]);
        }
    } else {
      for (const VECTOR& p : f.positions) {
        o.F(p.x);
        o.F(p.y);
        o.F(p.z);
      }
    }
    e.weights.assign(pc, {});
    if (!f.noWeights) {
      for (size_t p = 0; p < pc; ++p) {
        const auto& pairs =
            p < f.weights.size() ? f.weights[p] : std::vector<MV1PositionBoneWeight>{};
        for (const MV1PositionBoneWeight& pw : pairs) {
          o.Width(f.u16Bones ? 2 : 1, pw.Index);
          uint32_t code = uint32_t(std::lround(pw.Weight * (f.u16Weights ? 65535.0 : 255.0)));
          o.Width(f.u16Weights ? 2 : 1, code);
          e.weights[p].push_back({pw.Index, f.u16Weights ? code / 65535.0f : code / 255.0f});
        }
        if (int(pairs.size()) < f.bonesPerVertex)
          o.Width(f.u16Bones ? 2 : 1, f.u16Bones ? 0xFFFF : 0xFF);
      }
    }
    for (size_t n = 0; n < f.normals.size(); ++n) {
      const VECTOR& v = f.normals[n];
      for (int k = 0; k < 3; ++k) {
        const float c = (&v.x)[k];
        float& out = (&e.normals[n].x)[k];
        if (f.normalForm == 0)
          out = 0;
        else if (f.normalForm == 1) {
          long q = std::clamp(std::lround(c * 127.0), -128L, 127L);
          o.U8(uint32_t(q));
          out = int8_t(q) / 127.0f;
        } else if (f.normalForm == 2) {
          long q = std::clamp(std::lround(c * 32767.0), -32768L, 32767L);
          o.U16(uint32_t(q));
          out = int16_t(q) / 32767.0f;
        } else {
          o.F(c);
        }
      }
    }
    frameData[i] = o.b;
    positionBytes += pc * (uint64_t(f.bonesPerVertex) * 8 + 12);
    normalTotal += f.normals.size();
  }
  static const int kMeshWidth[4] = {0, 1, 2, 4};
  uint64_t shapeArea[5] = {};
  std::vector<bool> meshHasShape(M, false);
  for (const Mv1WShape& s : scene.shapes)
    for (const Mv1WShapeMesh& sm : s.meshes) meshHasShape[sm.mesh] = true;
  for (uint32_t j = 0; j < M; ++j) {
    const Mv1WMesh& m = scene.meshes[j];
    Mv1WMesh& e = ex.meshes[j];
    const size_t vc = m.positionIndex.size();
    Out o;
    if (m.broadcast) {
      o.U32(m.diffuse.at(0));
      o.U32(m.specular.at(0));
    }
    for (size_t v = 0; v < vc; ++v) o.Width(kMeshWidth[m.positionWidth], m.positionIndex[v]);
    for (size_t v = 0; v < vc; ++v) o.Width(kMeshWidth[m.normalWidth], m.normalIndex[v]);
    if (m.positionWidth == 0) e.positionIndex.assign(vc, 0);
    if (m.normalWidth == 0) e.normalIndex.assign(vc, 0);
    if (!m.broadcast)
      for (size_t v = 0; v < vc; ++v) {
        o.U32(m.diffuse[v]);
        o.U32(m.specular[v]);
      }
    else {
      e.diffuse.assign(vc, m.diffuse[0]);
      e.specular.assign(vc, m.specular[0]);
    }
    for (size_t k = 0; k < m.uvs.size(); ++k) {
      if (m.shortUV) {
        uint32_t code = uint32_t(std::clamp(std::lround(m.uvs[k] * 65535.0), 0L, 65535L));
        o.U16(code);
        e.uvs[k] = code / 65535.0f;
      } else {
        o.F(m.uvs[k]);
      }
    }
    meshData[j] = o.b;
    meshVertexBytes += vc * (uint64_t(m.uvSets) * 8 + 16);
    if (meshHasShape[j]) shapeArea[0] += vc;
    for (const Mv1WList& l : m.lists) {
      Out d;
      if (l.type == 1 || l.type == 2) {
        d.U16(uint32_t(l.bones.size()));
        for (uint16_t b : l.bones) d.U16(b);
      } else if (l.type == 3) {
        d.U16(uint32_t(l.freeBones));
      }
      static const int kListWidth[3] = {1, 2, 4};
      for (uint32_t v : l.meshVertices) d.Width(kListWidth[l.mviWidth], v);
      for (uint16_t x : l.indices) d.Width(l.indexWidth ? 2 : 1, x);
      listData[j].push_back(d.b);
      const uint64_t bytes =
          l.type == 3 ? uint64_t(l.meshVertices.size()) * MV1FreeBoneVertexStride(l.freeBones)
                      : l.meshVertices.size();
      typeTotals[l.type] += bytes;
      if (meshHasShape[j]) shapeArea[1 + l.type] += bytes;
      listVertices += l.meshVertices.size();
      listIndices += l.indices.size();
      faceTotal += l.indices.size() / 3;
    }
  }
  // Normals from faces, on the decoded positions.
  for (uint32_t i = 0; i < F; ++i) {
    Mv1WFrame& e = ex.frames[i];
    if (!e.normalsFromFaces) continue;
    for (VECTOR& n : e.normals) n = VECTOR{0, 0, 0};
    for (int mj : frameMeshes[i]) {
      const Mv1WMesh& m = ex.meshes[mj];
      for (const Mv1WList& l : m.lists)
        for (size_t x = 0; x + 2 < l.indices.size(); x += 3) {
          VECTOR p[3];
          uint32_t nv[3];
          for (int k = 0; k < 3; ++k) {
            uint32_t mv = l.meshVertices[l.indices[x + k]];
            p[k] = e.positions[m.positionIndex[mv]];
            nv[k] = m.normalIndex[mv];
          }
          const VECTOR a{p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z};
          const VECTOR b{p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z};
          const VECTOR n = Normalise(
              VECTOR{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x});
          for (uint32_t k : nv)
            e.normals[k] = VECTOR{e.normals[k].x + n.x, e.normals[k].y + n.y, e.normals[k].z + n.z};
        }
    }
    for (VECTOR& n : e.normals) n = Normalise(n);
  }
  // Key sets.
  std::vector<Bytes> keyData;
  for (Mv1WAnim& a : ex.anims)
    for (Mv1WAnimFrame& af : a.frames)
      for (Mv1WKeySet& k : af.keySets) {
        Out o;
        if (k.component == 18) o.U16(uint32_t(k.target));
        const int vf = FloatsPerKey(k.type);
        uint32_t count = 1;
        bool uniform = true;
        k.expectStart = 0;
        k.expectUnit = 1;
        k.expectTimes.clear();
        k.expectValues.clear();
        if (!(k.flags & 0x0001)) {
          count = k.count;
          o.Width((k.flags & 0x0002) ? 1 : (k.flags & 0x0004) ? 2 : 4, count);
          if (k.flags & 0x0008) {
            if (k.flags & 0x0010) {
              o.U16(uint32_t(k.start));
              k.expectStart = float(uint16_t(k.start));
            } else if (!(k.flags & 0x0020)) {
              o.F(k.start);
              k.expectStart = k.start;
            }
            if (k.flags & 0x0040) {
              o.U16(uint32_t(k.unit));
              k.expectUnit = float(uint16_t(k.unit));
            } else {
              o.F(k.unit);
              k.expectUnit = k.unit;
            }
          } else {
            uniform = false;
            if (k.flags & 0x0080) {
              o.U8(k.timeStart);
              o.U8(k.timeScale);
              for (uint16_t c : k.timeCodes) {
                o.U16(c);
                k.expectTimes.push_back(float(c) * CompactScale(k.timeScale) +
                                        CompactStart(k.timeStart));
              }
            } else {
              for (float t : k.times) o.F(t);
              k.expectTimes = k.times;
            }
          }
        }
        if (!(k.flags & 0x0100)) {
          for (float v : k.values) o.F(v);
          k.expectValues = k.values;
        } else if (k.flags & 0x0600) {
          for (uint16_t c : k.valueCodes) {
            o.U16(c);
            float v = float(c) * 6.2831855f / 65535.0f;
            k.expectValues.push_back((k.flags & 0x0200) ? v - 3.1415927f : v);
          }
        } else {
          o.U8(k.valueStart);
          o.U8(k.valueScale);
          for (uint16_t c : k.valueCodes) {
            o.U16(c);
            k.expectValues.push_back(float(c) * CompactScale(k.valueScale) +
                                     CompactStart(k.valueStart));
          }
        }
        keyBytes += (uniform ? 0 : uint64_t(count) * 4) + uint64_t(count) * vf * 4;
        keyData.push_back(o.b);
      }
  uint64_t shapeVertices = 0;
  const uint32_t shapeStride = kShapeVertex + layout.strideExtra;
  for (const Mv1WShape& s : scene.shapes)
    for (const Mv1WShapeMesh& sm : s.meshes) {
      Bytes v(sm.vertices.size() * shapeStride, 0x5A);
      for (size_t k = 0; k < sm.vertices.size(); ++k) {
        std::memcpy(&v[k * shapeStride], &sm.vertices[k], kShapeVertex);
      }
      shapeVerts.push_back(v);
      shapeVertices += sm.vertices.size();
    }

  // Items and their places.
  Placer pl;
  std::vector<int> iFrame, iMesh, iList, iMaterial, iBlock, iTexture, iParam, iAnim, iShape,
      iShapeMesh, iEntry, iFrameData, iMeshData, iListData, iKeyData, iShapeVerts;
  for (uint32_t i = 0; i < F; ++i) {
    iFrame.push_back(pl.Add(kFrame + extra, false));
    iFrameData.push_back(frameData[i].empty() ? -1 : pl.Add(uint32_t(frameData[i].size()), true));
  }
  for (uint32_t j = 0; j < M; ++j) {
    iMesh.push_back(pl.Add(kMesh + extra, false));
    iMeshData.push_back(meshData[j].empty() ? -1 : pl.Add(uint32_t(meshData[j].size()), true));
    for (const Bytes& d : listData[j]) {
      iList.push_back(pl.Add(kList + extra, false));
      iListData.push_back(d.empty() ? -1 : pl.Add(uint32_t(d.size()), true));
    }
  }
  for (const Mv1WMaterial& m : scene.materials) {
    iMaterial.push_back(pl.Add(kMaterial + extra, false));
    iBlock.push_back(m.block ? pl.Add(kMaterialBlock + extra, false) : -1);
  }
  for (size_t t = 0; t < scene.textures.size(); ++t)
    iTexture.push_back(pl.Add(kTexture + extra, false));
  for (size_t t = 0; t < scene.params.size(); ++t) iParam.push_back(pl.Add(kParam + extra, false));
  for (size_t t = 0; t < scene.anims.size(); ++t) iAnim.push_back(pl.Add(kAnim + extra, false));
  for (const Bytes& k : keyData)
    iKeyData.push_back(pl.Add(uint32_t(std::max<size_t>(k.size(), 1)), true));
  for (size_t s = 0; s < scene.shapes.size(); ++s) {
    iShape.push_back(pl.Add(kShape + extra, false));
    for (size_t k = 0; k < scene.shapes[s].meshes.size(); ++k)
      iShapeMesh.push_back(pl.Add(kShapeMesh + extra, false));
  }
  for (const Bytes& v : shapeVerts)
    iShapeVerts.push_back(v.empty() ? -1 : pl.Add(uint32_t(v.size()), true));
  for (uint32_t i = 0; i < F; ++i) {
    bool any = false;
    for (const Mv1WShape& s : scene.shapes) any = any || s.frame == int(i);
    iEntry.push_back(any ? pl.Add(kShapeEntry, false) : -1);
  }
  uint32_t skinBoneCount = uint32_t(scene.skinBones.size());
  uint32_t keySetCount = uint32_t(keyData.size()), animFrameCount = 0;
  for (const Mv1WAnim& a : scene.anims) animFrameCount += uint32_t(a.frames.size());
  const uint32_t afStride = kAnimFrame + layout.strideExtra;
  const int iExt = hasExt ? pl.Add(kExtension + extra, false) : -1;
  const int iStrings = pl.Add(uint32_t(strings.size()) + 512, true);  // room for the names below
  const int iMaskA = pl.Add(uint32_t(maskA.size() * 4), true),
            iMaskB = pl.Add(uint32_t(maskB.size() * 4), true);
  const int iBoneList = boneListLength ? pl.Add(boneListLength * 4, true) : -1;
  const int iSkin = skinBoneCount ? pl.Add(skinBoneCount * kSkinBone, false) : -1;
  const int iUse = scene.boneUse.empty() ? -1 : pl.Add(uint32_t(scene.boneUse.size() * 8), true);
  const int iKeySets = keySetCount ? pl.Add(keySetCount * kKeySet, false) : -1;
  const int iAnimFrames = animFrameCount ? pl.Add(animFrameCount * afStride, false) : -1;

  // Names go into the string table first, so its size is known.
  for (const Mv1WFrame& f : scene.frames) str(f.name);
  for (const Mv1WMaterial& m : scene.materials) str(m.name);
  for (const Mv1WTexture& t : scene.textures) {
    str(t.name);
    str(t.colour);
    str(t.alpha);
  }
  for (const Mv1WParam& p : scene.params) str(p.name);
  for (const Mv1WAnim& a : scene.anims) str(a.name);
  for (const Mv1WShape& s : scene.shapes) str(s.name);
  pl.size[iStrings] = uint32_t(strings.size());

  std::vector<int> order(pl.size.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = int(k);
  if (layout.shuffleSeed)
    std::shuffle(order.begin(), order.end(), std::mt19937(layout.shuffleSeed));
  std::vector<uint32_t> at(pl.size.size(), 0);
  uint32_t cursor = kHeader + extra;
  for (int k : order) {
    if (layout.oddStreams && pl.stream[k] && cursor % 2 == 0) ++cursor;
    at[k] = cursor;
    cursor += pl.size[k];
  }
  Bytes& im = w.image;
  im.assign(cursor, 0xA5);  // unread bytes hold junk
  auto put32 = [&](uint32_t a, uint32_t v) { Mv1Put32(&im, a, v); };
  auto putF = [&](uint32_t a, float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    put32(a, u);
  };
  auto put16 = [&](uint32_t a, uint32_t v) { Mv1Put16(&im, a, uint16_t(v)); };
  auto blob = [&](int item, const Bytes& b) {
    if (item >= 0 && !b.empty()) std::memcpy(&im[at[item]], b.data(), b.size());
  };
  auto off = [&](int item) { return item >= 0 ? at[item] : 0u; };
  auto atOf = [&](const std::vector<int>& items) {
    std::vector<uint32_t> v;
    for (int i : items) v.push_back(off(i));
    return v;
  };
  w.frameAt = atOf(iFrame);
  w.meshAt = atOf(iMesh);
  w.listAt = atOf(iList);
  w.materialAt = atOf(iMaterial);
  w.textureAt = atOf(iTexture);
  w.paramAt = atOf(iParam);
  w.animAt = atOf(iAnim);
  w.shapeAt = atOf(iShape);
  w.shapeMeshAt = atOf(iShapeMesh);
  w.frameDataAt = atOf(iFrameData);
  w.meshDataAt = atOf(iMeshData);
  w.listDataAt = atOf(iListData);
  w.keyDataAt = atOf(iKeyData);
  w.shapeEntryAt = atOf(iEntry);
  w.skinBoneAt = off(iSkin);
  w.extensionAt = off(iExt);
  w.animFrameStride = afStride;
  for (uint32_t k = 0; k < animFrameCount; ++k)
    w.animFrameAt.push_back(off(iAnimFrames) + k * afStride);
  for (uint32_t k = 0; k < keySetCount; ++k) w.keySetAt.push_back(off(iKeySets) + k * kKeySet);
  auto link = [&](const std::vector<uint32_t>& offs, size_t k) {
    return k + 1 < offs.size() ? offs[k + 1] : 0u;
  };

  // Blobs.
  blob(iStrings, strings);
  for (size_t k = 0; k < maskA.size(); ++k) put32(at[iMaskA] + uint32_t(k) * 4, maskA[k]);
  for (size_t k = 0; k < maskB.size(); ++k) put32(at[iMaskB] + uint32_t(k) * 4, maskB[k]);
  for (uint32_t i = 0; i < F; ++i) blob(iFrameData[i], frameData[i]);
  for (uint32_t j = 0; j < M; ++j) blob(iMeshData[j], meshData[j]);
  {
    size_t li = 0;
    for (uint32_t j = 0; j < M; ++j)
      for (const Bytes& d : listData[j]) blob(iListData[li++], d);
  }
  for (size_t k = 0; k < keyData.size(); ++k) blob(iKeyData[k], keyData[k]);
  for (size_t k = 0; k < shapeVerts.size(); ++k) blob(iShapeVerts[k], shapeVerts[k]);
  for (size_t k = 0; k < scene.boneUse.size(); ++k) {
    put32(at[iUse] + uint32_t(k) * 8, scene.boneUse[k].first);
    put32(at[iUse] + uint32_t(k) * 8 + 4, scene.boneUse[k].second);
  }
  {
    uint32_t k = 0;
    for (uint32_t i = 0; i < F; ++i)
      for (int b : scene.frames[i].boneList)
        put32(at[iBoneList] + 4 * k++, at[iSkin] + uint32_t(b) * kSkinBone);
  }

  // Frames.
  std::vector<uint32_t> frameSkinFirst(F, 0), frameSkinCount(F, 0);
  for (size_t k = 0; k < scene.skinBones.size(); ++k) {
    int f = scene.skinBones[k].frame;
    if (frameSkinCount[f]++ == 0) frameSkinFirst[f] = at[iSkin] + uint32_t(k) * kSkinBone;
  }
  for (uint32_t i = 0; i < F; ++i) {
    const Mv1WFrame& f = scene.frames[i];
    const uint32_t o = w.frameAt[i];
    put32(o + 0x04, link(w.frameAt, i));
    put32(o + 0x08, str(f.name));
    put32(o + 0x0C, i);
    put32(o + 0x10, bitA[i] / 32);
    put32(o + 0x14, at[iMaskA] + maskAtA[i] * 4);
    put32(o + 0x18, 1u << (bitA[i] % 32));
    put32(o + 0x1C, (bitA[i] % 32 + sizeA[i] + 31) / 32);
    put32(o + 0x20, bitB[i] / 32);
    put32(o + 0x24, at[iMaskB] + maskAtB[i] * 4);
    put32(o + 0x28, 1u << (bitB[i] % 32));
    put32(o + 0x2C, (bitB[i] % 32 + sizeB[i] + 31) / 32);
    put32(o + 0x30, f.value30);
    const auto& ch = children[i];
    put32(o + 0x34, uint32_t(ch.size()));
    put32(o + 0x38, f.parent < 0 ? 0 : w.frameAt[f.parent]);
    put32(o + 0x3C, ch.empty() ? 0 : w.frameAt[ch.front()]);
    put32(o + 0x40, ch.empty() ? 0 : w.frameAt[ch.back()]);
    const auto& sib = children[f.parent < 0 ? F : f.parent];
    const size_t me = size_t(std::find(sib.begin(), sib.end(), int(i)) - sib.begin());
    put32(o + 0x44, me == 0 ? 0 : w.frameAt[sib[me - 1]]);
    put32(o + 0x48, me + 1 < sib.size() ? w.frameAt[sib[me + 1]] : 0);
    const float* trs[3] = {&f.translate.x, &f.scale.x, &f.rotate.x};
    for (int t = 0; t < 3; ++t)
      for (int k = 0; k < 3; ++k) putF(o + 0x4C + 12 * t + 4 * k, trs[t][k]);
    put32(o + 0x70, uint32_t(f.rotateOrder));
    putF(o + 0x74, f.quaternion.x);
    putF(o + 0x78, f.quaternion.y);
    putF(o + 0x7C, f.quaternion.z);
    putF(o + 0x80, f.quaternion.w);
    put32(o + 0x84, f.flag);
    put32(o + 0x88, f.value88);
    put32(o + 0x8C, f.value8C);
    put32(o + 0x90, f.value90);
    put32(o + 0x94, uint32_t(frameMeshes[i].size()));
    put32(o + 0x98, frameMeshes[i].empty() ? 0 : w.meshAt[frameMeshes[i].front()]);
    put32(o + 0x9C, frameSkinCount[i]);
    put32(o + 0xA0, frameSkinFirst[i]);
    put32(o + 0xA4, uint32_t(f.boneList.size()));
    put32(o + 0xA8, f.boneList.empty() ? 0 : at[iBoneList] + 4 * boneListStart[i]);
    put32(o + 0xAC, f.param < 0 ? 0 : w.paramAt[f.param]);
    put16(o + 0xB0, uint32_t(f.normalForm) | (f.quantised ? 4 : 0) | (f.noWeights ? 8 : 0) |
                        (f.u16Bones ? 0x10 : 0) | (f.u16Weights ? 0x20 : 0) | 0xFFC0);
    put16(o + 0xB2, uint32_t(f.bonesPerVertex));
    putF(o + 0xB4, f.smoothingAngle);
    put32(o + 0xB8, f.normalsFromFaces ? 1 : 0);
    put32(o + 0xBC, uint32_t(f.positions.size()));
    put32(o + 0xC0, uint32_t(f.normals.size()));
    put32(o + 0xC4, off(iFrameData[i]));
    put32(o + 0xD8, off(iEntry[i]));
  }

  // Meshes and lists.
  {
    size_t li = 0;
    for (uint32_t j = 0; j < M; ++j) {
      const Mv1WMesh& m = scene.meshes[j];
      const uint32_t o = w.meshAt[j];
      put32(o + 0x04, link(w.meshAt, j));
      put32(o + 0x08, j);
      put32(o + 0x0C, w.frameAt[m.frame]);
      put32(o + 0x10, w.materialAt[m.material]);
      put32(o + 0x14, meshBit[j] / 32);
      put32(o + 0x1C, 1u << (meshBit[j] % 32));
      put32(o + 0x20, 1);
      put32(o + 0x24, m.useDiffuse);
      put32(o + 0x28, m.useSpecular);
      im[o + 0x2C] = m.vertexAlpha;
      im[o + 0x2D] = meshHasShape[j] ? 1 : 0;
      put32(o + 0x30, uint32_t(m.lists.size()));
      put32(o + 0x34, m.lists.empty() ? 0 : w.listAt[li]);
      im[o + 0x38] = m.visible;
      im[o + 0x39] = m.culling;
      im[o + 0x3A] = uint8_t(m.uvSets);
      im[o + 0x3B] = 2;
      put32(o + 0x3C, uint32_t(m.positionWidth) | uint32_t(m.normalWidth) << 2 |
                          (m.shortUV ? 0x10 : 0) | (m.broadcast ? 0x20 : 0) | 0xFFFFFFC0u);
      put32(o + 0x40, uint32_t(m.positionIndex.size()));
      uint32_t faces = 0;
      for (const Mv1WList& l : m.lists) faces += uint32_t(l.indices.size() / 3);
      put32(o + 0x44, faces);
      put32(o + 0x48, off(iMeshData[j]));
      for (size_t k = 0; k < m.lists.size(); ++k, ++li) {
        const Mv1WList& l = m.lists[k];
        const uint32_t lo = w.listAt[li];
        put32(lo + 0x04, link(w.listAt, li));
        put32(lo + 0x08, uint32_t(li));
        put32(lo + 0x0C, o);
        put16(lo + 0x10, uint32_t(l.type));
        im[lo + 0x12] = uint8_t(l.mviWidth | l.indexWidth << 2 | 0xF0);
        put16(lo + 0x14, uint32_t(l.meshVertices.size()));
        put16(lo + 0x16, uint32_t(l.indices.size()));
        put32(lo + 0x18, off(iListData[li]));
      }
    }
  }

  // Materials, textures, parameter records.
  for (size_t k = 0; k < scene.materials.size(); ++k) {
    const Mv1WMaterial& m = scene.materials[k];
    const uint32_t o = w.materialAt[k];
    put32(o + 0x04, link(w.materialAt, k));
    put32(o + 0x08, str(m.name));
    put32(o + 0x0C, uint32_t(k));
    const COLOR_F* cs[4] = {&m.diffuse, &m.ambient, &m.specular, &m.emissive};
    for (int c = 0; c < 4; ++c) {
      putF(o + 0x10 + 16 * c, cs[c]->r);
      putF(o + 0x14 + 16 * c, cs[c]->g);
      putF(o + 0x18 + 16 * c, cs[c]->b);
      putF(o + 0x1C + 16 * c, cs[c]->a);
    }
    putF(o + 0x50, m.power);
    const uint32_t layerAt[3] = {0x58, 0x11C, 0x1E0};
    for (int s = 0; s < 3; ++s) {
      put32(o + layerAt[s], uint32_t(m.layers[s].size()));
      for (size_t l = 0; l < m.layers[s].size(); ++l) {
        put32(o + layerAt[s] + 4 + 24 * uint32_t(l), uint32_t(m.layers[s][l].first));
        put32(o + layerAt[s] + 8 + 24 * uint32_t(l), uint32_t(m.layers[s][l].second));
      }
    }
    for (int q = 0; q < 5; ++q) put32(o + 0x2A4 + 4 * q, uint32_t(m.words[q]));
    put32(o + 0x2C8, off(iBlock[k]));
    if (iBlock[k] >= 0) {
      const uint32_t b = at[iBlock[k]];
      put32(b, uint32_t(m.type));
      put32(b + 4, uint32_t(m.diffuseGrad));
      put32(b + 8, uint32_t(m.specularGrad));
      put32(b + 12, uint32_t(m.diffuseGradBlend));
      put32(b + 16, uint32_t(m.specularGradBlend));
      putF(b + 20, m.outlineWidth);
      putF(b + 24, m.outlineColor.r);
      putF(b + 28, m.outlineColor.g);
      putF(b + 32, m.outlineColor.b);
      putF(b + 36, m.outlineColor.a);
    }
  }
  for (size_t k = 0; k < scene.textures.size(); ++k) {
    const Mv1WTexture& t = scene.textures[k];
    const uint32_t o = w.textureAt[k];
    put32(o + 0x04, link(w.textureAt, k));
    put32(o + 0x08, str(t.name));
    put32(o + 0x10, str(t.colour));
    put32(o + 0x14, str(t.alpha));
    put32(o + 0x18, t.bump);
    putF(o + 0x1C, t.bumpScale);
    put32(o + 0x20, t.addressU);
    put32(o + 0x24, t.addressV);
    put32(o + 0x28, t.filter);
  }
  for (size_t k = 0; k < scene.params.size(); ++k) {
    const uint32_t o = w.paramAt[k];
    put32(o + 0x04, link(w.paramAt, k));
    put32(o + 0x08, str(scene.params[k].name));
    for (int q = 0; q < 22; ++q) put32(o + 0x0C + 4 * q, uint32_t(scene.params[k].words[q]));
  }

  // Skin bones.
  for (uint32_t k = 0; k < skinBoneCount; ++k) {
    const Mv1WSkinBone& b = scene.skinBones[k];
    const uint32_t o = at[iSkin] + k * kSkinBone;
    put32(o + 0x04, k + 1 < skinBoneCount ? o + kSkinBone : 0);
    put32(o + 0x0C, uint32_t(b.frame));
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) putF(o + 0x10 + 4 * uint32_t(r * 4 + c), b.matrix.m[r][c]);
    put32(o + 0x40, b.translateOnly);
    put32(o + 0x44, uint32_t(b.useCount));
    put32(o + 0x48, b.useCount ? at[iUse] + 8 * uint32_t(b.useFirst) : 0);
  }

  // Anims, anim frames, key sets.
  {
    uint32_t afi = 0, ksi = 0;
    for (size_t a = 0; a < scene.anims.size(); ++a) {
      const Mv1WAnim& an = scene.anims[a];
      const uint32_t o = w.animAt[a];
      put32(o + 0x04, link(w.animAt, a));
      put32(o + 0x08, str(an.name));
      put32(o + 0x0C, uint32_t(a));
      putF(o + 0x10, an.totalTime);
      put32(o + 0x14, uint32_t(an.frames.size()));
      put32(o + 0x18, an.frames.empty() ? 0 : w.animFrameAt[afi]);
      im[o + 0x2C] = an.flags;
      for (const Mv1WAnimFrame& af : an.frames) {
        const uint32_t fo = w.animFrameAt[afi];
        put32(fo, afi);
        put32(fo + 0x04, o);
        put32(fo + 0x08, uint32_t(af.target));
        put32(fo + 0x0C, af.value0C);
        put32(fo + 0x10, af.value10);
        put32(fo + 0x14, uint32_t(af.keySets.size()));
        put32(fo + 0x18, af.keySets.empty() ? 0 : w.keySetAt[ksi]);
        for (const Mv1WKeySet& k : af.keySets) {
          const uint32_t ko = w.keySetAt[ksi];
          im[ko] = uint8_t(k.type);
          im[ko + 1] = uint8_t(k.component);
          put16(ko + 2, k.flags);
          put32(ko + 4, at[iKeyData[ksi]]);
          ++ksi;
        }
        ++afi;
      }
    }
  }

  // Shapes and the extension block.
  {
    size_t smi = 0;
    for (size_t s = 0; s < scene.shapes.size(); ++s) {
      const Mv1WShape& sh = scene.shapes[s];
      const uint32_t o = w.shapeAt[s];
      put32(o + 0x04, link(w.shapeAt, s));
      put32(o + 0x08, str(sh.name));
      put32(o + 0x0C, uint32_t(s));
      put32(o + 0x10, w.frameAt[sh.frame]);
      put32(o + 0x14, uint32_t(sh.meshes.size()));
      put32(o + 0x18, sh.meshes.empty() ? 0 : w.shapeMeshAt[smi]);
      if (s == 0 || scene.shapes[s - 1].frame != sh.frame) {
        uint32_t count = 0;
        for (const Mv1WShape& x : scene.shapes) count += x.frame == sh.frame;
        put32(w.shapeEntryAt[sh.frame], count);
        put32(w.shapeEntryAt[sh.frame] + 4, o);
      }
      for (const Mv1WShapeMesh& sm : sh.meshes) {
        const uint32_t mo = w.shapeMeshAt[smi];
        put32(mo + 0x04, link(w.shapeMeshAt, smi));
        put32(mo + 0x08, uint32_t(smi));
        put32(mo + 0x0C, w.meshAt[sm.mesh]);
        put32(mo + 0x14, uint32_t(sm.vertices.size()));
        put32(mo + 0x18, off(iShapeVerts[smi]));
        ++smi;
      }
    }
    if (hasExt) {
      const uint32_t e = at[iExt];
      put32(e + 0x08, uint32_t(scene.shapes.size()));
      put32(e + 0x0C, w.shapeAt.empty() ? 0 : w.shapeAt[0]);
      put32(e + 0x10, uint32_t(w.shapeMeshAt.size()));
      put32(e + 0x14, w.shapeMeshAt.empty() ? 0 : w.shapeMeshAt[0]);
      put32(e + 0x18, uint32_t(shapeVertices));
      put32(e + 0x28, uint32_t(shapeArea[0]));
      put32(e + 0x2C, shapeStride);
      put32(e + 0x30, uint32_t(shapeArea[1]));
      put32(e + 0x34, uint32_t(shapeArea[2]));
      put32(e + 0x38, uint32_t(shapeArea[3]));
      put32(e + 0x3C, uint32_t(shapeArea[4]));
    }
  }

  // Header.
  std::memcpy(im.data(), "MV11", 4);
  put32(0x08, scene.fileFlag);
  put32(0x10, uint32_t(maskA.size() * 4));
  put32(0x14, uint32_t(maskB.size() * 4));
  put32(0x18, at[iMaskA]);
  put32(0x1C, at[iMaskB]);
  put32(0x20, F);
  put32(0x24, F ? w.frameAt[0] : 0);
  put32(0x28, uint32_t(children[F].size()));
  put32(0x2C, children[F].empty() ? 0 : w.frameAt[children[F].front()]);
  put32(0x30, children[F].empty() ? 0 : w.frameAt[children[F].back()]);
  put32(0x34, boneListLength);
  put32(0x38, off(iBoneList));
  put32(0x3C, uint32_t(scene.materials.size()));
  put32(0x40, w.materialAt.empty() ? 0 : w.materialAt[0]);
  put32(0x44, uint32_t(scene.textures.size()));
  put32(0x48, w.textureAt.empty() ? 0 : w.textureAt[0]);
  put32(0x4C, M);
  put32(0x50, M ? w.meshAt[0] : 0);
  put32(0x54, uint32_t(scene.params.size()));
  put32(0x58, w.paramAt.empty() ? 0 : w.paramAt[0]);
  put32(0x5C, skinBoneCount);
  put32(0x60, off(iSkin));
  put32(0x64, uint32_t(scene.boneUse.size()));
  put32(0x68, off(iUse));
  put32(0x6C, uint32_t(w.listAt.size()));
  put32(0x70, w.listAt.empty() ? 0 : w.listAt[0]);
  put32(0x7C, uint32_t(typeTotals[0]));
  put32(0x80, uint32_t(typeTotals[1]));
  put32(0x84, uint32_t(typeTotals[2]));
  put32(0x88, uint32_t(typeTotals[3]));
  put32(0x8C, uint32_t(positionBytes));
  put32(0x90, uint32_t(normalTotal));
  put32(0x94, uint32_t(meshVertexBytes));
  put32(0x98, uint32_t(faceTotal));
  put32(0x9C, uint32_t(listVertices));
  put32(0xA0, uint32_t(listIndices));
  put32(0xA4, layout.wrongTotals ? 0xDEADBEEF : uint32_t(faceTotal));
  put32(0xA8, layout.wrongTotals ? 0x7777 : uint32_t(listVertices));
  put32(0xAC, uint32_t(strings.size()));
  put32(0xB0, at[iStrings]);
  put32(0xB4, uint32_t(keyBytes));
  put32(0xC0, keySetCount);
  put32(0xC4, keySetCount ? kKeySet : 0xEEEE);
  put32(0xC8, off(iKeySets));
  put32(0xCC, animFrameCount);
  put32(0xD0, afStride);
  put32(0xD4, off(iAnimFrames));
  put32(0xD8, uint32_t(scene.anims.size()));
  put32(0xDC, w.animAt.empty() ? 0 : w.animAt[0]);
  put32(0xF0, off(iExt));

  if (layout.literalsOnly) {
    Bytes block = LzEncodeLiterals(Bytes(im.begin() + 4, im.end()));
    w.file = {'M', 'V', '1', '1'};
    w.file.insert(w.file.end(), block.begin(), block.end());
  } else {
    w.file = PackMv1Image(im, layout.escapeMostFrequent);
  }
  w.file.insert(w.file.end(), layout.trailing, 0x3C);
  return w;
}

void Mv1AddQuad(Mv1WScene* s, int frame, int material, float size) {
  Mv1WFrame& f = s->frames[frame];
  const float h = size / 2;
  f.positions = {{-h, -h, 0}, {h, -h, 0}, {-h, h, 0}, {h, h, 0}};
  f.normals = {{0, 0, -1}};
  Mv1WMesh m;
  m.frame = frame;
  m.material = material;
  m.positionIndex = {0, 1, 2, 3};
  m.normalIndex = {0, 0, 0, 0};
  m.broadcast = true;
  m.diffuse = {0xFFFFFFFFu};
  m.specular = {0};
  m.uvs = {0, 1, 1, 1, 0, 0, 1, 0};
  m.lists = {Mv1WList{0, {0, 1, 2, 3}, {0, 2, 1, 1, 2, 3}, {}, 0, 0, 0}};
  s->meshes.push_back(m);
}

Mv1WScene Mv1FullScene(const std::string& colourFile, const std::string& alphaFile) {
  Mv1WScene s;
  // Frames in pre-order: 0 root, 1 child of 0, 2 child of 1, 3 child of 0.
  s.frames.resize(4);
  s.frames[0].name = "root";
  s.frames[0].translate = {1, 2, 3};
  s.frames[0].rotate = {0.1f, 0.2f, 0.3f};
  s.frames[0].rotateOrder = 2;
  s.frames[0].param = 1;
  s.frames[1] = s.frames[0];
  s.frames[1].param = -1;
  s.frames[1].parent = 0;
  s.frames[1].name = "body";
  s.frames[1].scale = {2, 2, 2};
  s.frames[2].parent = 1;
  s.frames[2].name = "\x83\x5c\x83\x74\x83\x67";  // Shift_JIS with a 0x5C trail byte
  s.frames[3].parent = 0;
  s.frames[3].name = "arm";
  // Frame 0: normals of form 0 (none stored: they read as zero).
  s.frames[0].positions = {{0, 1, 0}, {1, 0, 0}};
  s.frames[0].normals = {{0, 1, 0}, {1, 0, 0}};
  s.frames[0].normalForm = 0;
  s.frames[3].flag = 0;
  // Frame 1: skinned, quantised positions, u8 bones and weights, int8 normals.
  Mv1WFrame& f1 = s.frames[1];
  f1.bonesPerVertex = 3;
  f1.boneList = {0, 1, 2};
  f1.quantised = true;
  f1.normalForm = 1;
  for (int k = 0; k < 6; ++k) {
    f1.positions.push_back({float(k) * 1.5f - 2.f, float(k % 3) * 0.7f, float(k / 3) * -3.1f});
    f1.normals.push_back({0.f, k % 2 ? 1.f : -0.6f, k % 2 ? 0.f : 0.8f});
  }
  f1.weights = {{{0, 1.0f}}, {{0, 0.5f}, {1, 0.5f}}, {{2, 0.25f}, {1, 0.25f}, {0, 0.5f}}, {},
                {{1, 1}},    {{2, 0.6f}, {0, 0.4f}}};
  // Frame 2: float positions, u16 bones and weights, int16 normals, normals from faces.
  Mv1WFrame& f2 = s.frames[2];
  f2.bonesPerVertex = 2;
  f2.boneList = {1, 3};
  f2.u16Bones = f2.u16Weights = true;
  f2.normalForm = 2;
  f2.normalsFromFaces = true;
  f2.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0.5f}};
  f2.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {1, 0, 0}};
  f2.weights = {{{0, 1}}, {{1, 1}}, {{0, 0.3f}, {1, 0.7f}}, {}};
  // Frame 3: no weight stream, float normals.
  Mv1WFrame& f3 = s.frames[3];
  f3.bonesPerVertex = 1;
  f3.noWeights = true;
  f3.positions = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}};
  f3.normals = {{0, 0, 1}};
  s.frames[3].param = 0;

  s.materials.resize(2);
  s.materials[0].name = "skin";
  s.materials[0].layers[0] = {{0, 1}};
  s.materials[0].layers[2] = {{1, 0}};
  s.materials[1].name = "plain";
  s.materials[1].block = true;
  s.materials[1].type = 1;
  s.materials[1].diffuseGrad = 1;
  s.materials[1].outlineWidth = 0.25f;
  s.materials[1].outlineColor = {1, 0.5f, 0.25f, 1};
  s.textures.resize(2);
  s.textures[0] = {"colour", colourFile, alphaFile, 0, 1, 1, 3, 2};
  s.textures[1] = {"bump", "", "", 1, 2.5f, 2, 2, 0};
  s.params.resize(2);
  s.params[0].name = "p0";
  s.params[1].name = "p1";
  for (int q = 0; q < 22; ++q) s.params[1].words[q] = q * 3 - 7;

  // Mesh 0 (frame 1): u8 position indices, u16 normal indices, per-vertex colours, two float UV
  // sets; lists of types 1, 2 and 3.
  Mv1WMesh m0;
  m0.frame = 1;
  m0.positionWidth = 1;
  m0.normalWidth = 2;
  m0.uvSets = 2;
  m0.vertexAlpha = 1;
  for (uint32_t v = 0; v < 6; ++v) {
    m0.positionIndex.push_back(v);
    m0.normalIndex.push_back(5 - v);
    m0.diffuse.push_back(0x80FF0000u | v);
    m0.specular.push_back(0x01020304u * (v + 1));
    for (int k = 0; k < 4; ++k) m0.uvs.push_back(float(v) * 0.1f + float(k) * 0.01f);
  }
  Mv1WList l1{1, {0, 1, 2, 3}, {0, 1, 2, 1, 3, 2}, {0, 2}, 0, 1, 1};
  Mv1WList l2{2, {3, 4, 5}, {0, 1, 2}, {0, 1, 2}, 0, 2, 0};
  Mv1WList l3{3, {5, 0, 1}, {2, 1, 0}, {}, 3, 0, 0};
  m0.lists = {l1, l2, l3};
  s.meshes.push_back(m0);
  // Mesh 1 (frame 2): u32 position indices, u8 normal indices, broadcast colours, u16 UVs; a rigid
  // list.
  Mv1WMesh m1;
  m1.frame = 2;
  m1.material = 1;
  m1.positionWidth = 3;
  m1.normalWidth = 1;
  m1.broadcast = true;
  m1.shortUV = true;
  m1.culling = 2;
  m1.diffuse = {0xFF112233u};
  m1.specular = {0x44556677u};
  m1.positionIndex = {0, 1, 2, 3};
  m1.normalIndex = {0, 1, 2, 4};
  m1.uvs = {0, 0, 1, 0, 0, 1, 0.5f, 0.25f};
  m1.lists = {Mv1WList{0, {0, 1, 2, 3}, {0, 1, 2, 2, 1, 3}, {}, 0, 0, 1}};
  s.meshes.push_back(m1);
  // Mesh 2 (frame 3): absent indices, no UVs, a rigid list of one triangle of vertex 0, a
  // degenerate face.
  Mv1WMesh m2;
  m2.frame = 3;
  m2.positionWidth = 0;
  m2.normalWidth = 0;
  m2.uvSets = 0;
  m2.visible = 0;
  m2.culling = 0;
  m2.positionIndex = {0, 0};
  m2.normalIndex = {0, 0};
  m2.diffuse = {0xFFFFFFFFu, 0xFFFFFFFFu};
  m2.specular = {0, 0};
  m2.lists = {Mv1WList{0, {0, 1}, {0, 1, 0}, {}, 0, 0, 0}, Mv1WList{}};
  s.meshes.push_back(m2);

  s.skinBones.resize(4);
  s.skinBones[0].frame = 0;
  s.skinBones[0].useCount = 2;
  s.skinBones[1].frame = 1;
  s.skinBones[1].matrix.m[0][3] = 5;
  s.skinBones[1].translateOnly = 1;
  s.skinBones[2].frame = 1;
  s.skinBones[2].useFirst = 1;
  s.skinBones[2].useCount = 2;
  s.skinBones[3].frame = 3;
  s.boneUse = {{1, 0}, {1, 2}, {2, 1}};

  // Shape on frame 2's mesh.
  s.shapes.push_back(
      {2, "smile", {{1, {{0, {0, 0.5f, 0}, {0, 0, 0}}, {3, {1, 0, 0}, {0, 1, 0}}}}}});

  // Anims with key sets of several forms.
  Mv1WAnim a0;
  a0.name = "walk";
  a0.totalTime = 30;
  a0.flags = 0x02;
  Mv1WAnimFrame af0;
  af0.target = 1;
  Mv1WKeySet k0;  // quaternions, explicit float times, u8 count
  k0.type = 0;
  k0.flags = 0x0002;
  k0.count = 2;
  k0.times = {0, 10};
  k0.values = {0, 0, 0, 1, 0, 0.7071f, 0, 0.7071f};
  Mv1WKeySet k1;  // vector, uniform u16 start and unit, compact values
  k1.type = 1;
  k1.flags = 0x0004 | 0x0008 | 0x0010 | 0x0040 | 0x0100;
  k1.count = 3;
  k1.start = 2;
  k1.unit = 5;
  k1.valueStart = 0x42;
  k1.valueScale = 0x93;
  k1.valueCodes = {0, 1, 2, 3, 4, 5, 6, 7, 65535};
  Mv1WKeySet k2;  // one float, single key
  k2.type = 5;
  k2.flags = 0x0001;
  k2.values = {0.75f};
  af0.keySets = {k0, k1, k2};
  Mv1WAnimFrame af1;
  af1.target = 2;
  af1.value0C = 0x3F800000;
  Mv1WKeySet k3;  // shape weight, compact times, angle values
  k3.type = 5;
  k3.component = 18;
  k3.flags = 0x0080 | 0x0100 | 0x0200;
  k3.count = 2;
  k3.timeStart = 0x12;
  k3.timeScale = 0x25;
  k3.timeCodes = {0, 7};
  k3.valueCodes = {0, 65535};
  Mv1WKeySet k4;  // vector, u32 count, uniform with start 0 and float unit, 0x0400 angles
  k4.type = 1;
  k4.flags = 0x0008 | 0x0020 | 0x0100 | 0x0400;
  k4.count = 1;
  k4.unit = 0.5f;
  k4.valueCodes = {0, 32768, 65535};
  Mv1WKeySet k5;  // no values stored (type 2)
  k5.type = 2;
  k5.flags = 0x0002;
  k5.count = 4;
  k5.times = {0, 1, 2, 3};
  Mv1WKeySet k6;  // quaternions of type 7, uniform float start and unit, u32 count
  k6.type = 7;
  k6.flags = 0x0008;
  k6.count = 2;
  k6.start = 1.5f;
  k6.unit = 0.25f;
  k6.values = {0, 0, 0, 1, 0.5f, 0.5f, 0.5f, 0.5f};
  af1.keySets = {k3, k4, k5, k6};
  a0.frames = {af0, af1};
  Mv1WAnim a1;
  a1.name = "idle";
  a1.flags = 0x01;
  s.anims = {a0, a1};
  return s;
}

std::vector<Mv1Malformed> Mv1MalformedFiles() {
  const Mv1Written w = WriteMv1(Mv1FullScene("missing.bgra"));
  std::vector<Mv1Malformed> out;
  using Patch = std::function<void(Bytes*)>;
  auto add = [&](const std::string& name, const std::string& expect, const Patch& patch) {
    Bytes im = w.image;
    patch(&im);
    out.push_back({name, expect, PackMv1Image(im)});
  };
  auto p32 = [](uint32_t at, uint32_t v) { return [at, v](Bytes* im) { Mv1Put32(im, at, v); }; };
  auto p16 = [](uint32_t at, uint16_t v) { return [at, v](Bytes* im) { Mv1Put16(im, at, v); }; };
  auto p8 = [](uint32_t at, uint8_t v) { return [at, v](Bytes* im) { (*im)[at] = v; }; };
  auto add32 = [](uint32_t at, int d) {
    return [at, d](Bytes* im) { Mv1Put32(im, at, Mv1Get32(*im, at) + uint32_t(d)); };
  };
  const uint32_t size = uint32_t(w.image.size());
  const uint32_t f0 = w.frameAt[0], f1 = w.frameAt[1], f2 = w.frameAt[2], m0 = w.meshAt[0],
                 l0 = w.listAt[0];

  // Container (D1, D2).
  {
    Bytes f = w.file;
    f.resize(12);
    out.push_back({"file shorter than the block head", "file shorter than its block head", f});
    f = w.file;
    f.resize(f.size() - 3);
    out.push_back({"block cut short", "packed block past the end of the file", f});
    f = w.file;
    Mv1Put32(&f, 4, 0xE0);
    out.push_back({"unpacked size below the header", "unpacked size 224", f});
    f = w.file;
    Mv1Put32(&f, 4, 0x10000001);
    out.push_back({"unpacked size above the cap", "unpacked size 268435457", f});
    f = w.file;
    Mv1Put32(&f, 4, Mv1Get32(f, 4) + 1);
    out.push_back({"stream ends short of the unpacked size", "damaged LZ block", f});
    f = {'M', 'V', '1', '1'};
    Bytes block = LzBlock(0x100, 0xFF, {'a', 0xFF, 1, 0});
    f.insert(f.end(), block.begin(), block.end());
    out.push_back({"distance 0", "damaged LZ block", f});
  }
  // Image rules.
  add("string table outside the image (D3)", "string table outside the file", p32(0xAC, size));
  add("first frame outside the image (D3)", "frame 0: record outside the file",
      p32(0x24, size - 4));
  add("name past the string table (D7)", "frame 0: name offset 80 outside the string table",
      p32(f0 + 8, Mv1Get32(w.image, 0xAC)));
  add("frame count one higher (D8)", "frame 4: record outside the file", add32(0x20, 1));
  add("frame count one lower (D8)", "frame list longer than its count 3", add32(0x20, -1));
  add("material list cycle (D8)", "material list longer than its count 2",
      p32(w.materialAt[1] + 4, w.materialAt[0]));
  add("huge texture count (D8)", "texture count 268435456 too large for the file",
      p32(0x44, 0x10000000));
  add("frame index field (D9)", "frame 1: index field does not match its place", p32(f1 + 0x0C, 2));
  add("mesh material not a material (D10)", "mesh 0: no material", p32(m0 + 0x10, f0));
  add("frame parameter record not a record (D10)", "frame 0: parameter record not in the list",
      p32(f0 + 0xAC, f1));
  add("bone-list part not whole entries (D10)", "frame 1: bone-list part outside the bone list",
      add32(f1 + 0xA8, 2));
  add("two frames own one mesh (D11)", "mesh 0 in two owners' runs", p32(f2 + 0x98, m0));
  add("mesh names another frame (D11)", "mesh 0: frame field", p32(m0 + 0x0C, f0));
  for (uint32_t at : {0x7Cu, 0x80u, 0x84u, 0x88u, 0x8Cu, 0x90u, 0x94u, 0x98u, 0x9Cu, 0xA0u, 0xB4u})
    add("header total " + std::to_string(at) + " (D12)", "header total", add32(at, 1));
  // Frames.
  add("parent after the child (D13)", "frame 1: parent is not an earlier frame",
      p32(f1 + 0x38, f2));
  add("child count (D13)", "frame 0: child count or child links", add32(f0 + 0x34, 1));
  add("next sibling (D13)", "frame 1: next sibling", p32(f1 + 0x48, 0));
  add("top-level last frame (D13)", "top-level frame count or links", p32(0x30, f1));
  add("rotation order 6 (D14)", "frame 0: rotation order 6", p32(f0 + 0x70, 6));
  add("weight bone outside the bone list (D16)", "frame 1: weight bone 3 outside its bone list",
      p8(w.frameDataAt[1] + 24 + 36, 3));
  add("positions past the image (D16)", "frame 2: positions past the image",
      p32(f2 + 0xC4, size - 4));
  add("frame data offset 0 (D16)", "frame 2: no packed vertex data", p32(f2 + 0xC4, 0));
  add("shape entry without an extension block (D19)", "frame 2: shapes without an extension block",
      p32(0xF0, 0));
  // Meshes.
  add("mesh without a material (D20)", "mesh 0: no material", p32(m0 + 0x10, 0));
  add("culling code 3 (D20)", "mesh 0: culling mode 3", p8(m0 + 0x39, 3));
  add("nine UV sets (D21)", "mesh 0: UV sets", p8(m0 + 0x3A, 9));
  add("three floats per UV (D21)", "mesh 0: UV sets", p8(m0 + 0x3B, 3));
  add("position index out of range (D22)", "mesh 0: vertex 0 position index 200 out of range",
      p8(w.meshDataAt[0], 200));
  add("mesh data offset 0 (D23)", "mesh 0: no packed vertex data", p32(m0 + 0x48, 0));
  // Lists.
  add("list type 4 (D24)", "triangle list 0: vertex type 4", p16(l0 + 0x10, 4));
  add("mesh-vertex index width 3 (D24)", "triangle list 0: index widths 0x03", p8(l0 + 0x12, 3));
  add("index width 2 (D24)", "triangle list 0: index widths 0x08", p8(l0 + 0x12, 8));
  add("index count not a multiple of 3 (D24)", "triangle list 0: index count 4 not a multiple of 3",
      p16(l0 + 0x16, 4));
  add("55 list bones (D24)", "triangle list 0: 55 bones", p16(w.listDataAt[0], 55));
  add("list index out of range (D24)", "triangle list 0: index 9 out of range",
      p8(w.listDataAt[0] + 2 + 4 + 8, 9));
  add("type-3 bones past the frame's (D24)", "triangle list 2: 4 bones per vertex",
      p16(w.listDataAt[2], 4));
  add("face count (D25)", "mesh 0: face count 5, lists give 4", add32(m0 + 0x44, 1));
  // Skin bones, bone list, bone use.
  add("skin bone next link (D27)", "skin bone 0: next link", p32(w.skinBoneAt + 4, 0));
  add("skin bone frame index (D27)", "skin bone 0: frame index", p32(w.skinBoneAt + 0x0C, 2));
  add("bone list entry not a skin bone (D28)", "bone list entry 0",
      p32(Mv1Get32(w.image, 0x38), w.skinBoneAt + 2));
  add("bone-use run outside its array (D29)", "skin bone 0: bone-use run outside its array",
      p32(w.skinBoneAt + 0x44, 9));
  // Change bits.
  add("change word index 0 (D31)", "frame 1: change info A outside the change sets",
      p32(f1 + 0x10, 0));
  add("own bit of two bits (D31)", "frame 1: change info A outside the change sets",
      p32(f1 + 0x18, 3));
  add("mask-word count 0 (D31)", "frame 1: change info B outside the change sets",
      p32(f1 + 0x2C, 0));
  add("mask words outside array A (D31)", "frame 1: change info A outside the change sets",
      p32(f1 + 0x1C, 40));
  add("mesh word past change set A (D31)", "mesh 0: change info outside change set A",
      p32(m0 + 0x14, 9));
  // Materials and textures.
  add("nine layers (D33)", "material 0: 9 layers", p32(w.materialAt[0] + 0x58, 9));
  add("layer texture out of range (D33)", "material 0: layer texture out of range",
      p32(w.materialAt[0] + 0x5C, 2));
  add("gradation texture out of range (D35)", "material 1: gradation texture 2",
      p32(Mv1Get32(w.image, w.materialAt[1] + 0x2C8) + 4, 2));
  add("filter mode 3 (D36)", "texture 0: filter mode 3", p32(w.textureAt[0] + 0x28, 3));
  // Anims and key sets.
  add("anim-frame target out of range (D39)", "anim frame 0: target frame 4",
      p32(w.animFrameAt[0] + 8, 4));
  add("an anim drives a frame twice (D39)", "an anim drives frame 1 twice",
      p32(w.animFrameAt[1] + 8, 1));
  add("anim-frame index field (D39)", "anim frame 1: index field", p32(w.animFrameAt[1], 0));
  add("key-set stride 24 (D40)", "key-set stride 24", p32(0xC4, 24));
  add("anim-frame stride 0x18 (D41)", "anim-frame stride 24", p32(0xD0, 0x18));
  add("key type 8 (D42)", "key set 0: type 8", p8(w.keySetAt[0], 8));
  add("packed values on type 2 (D42)", "key set 5: packed values for a type without values",
      p16(w.keySetAt[5] + 2, 0x0102));
  add("shape target out of range (D42)", "key set 3: shape 1 out of range", p16(w.keyDataAt[3], 1));
  add("key count 0 (D43)", "key set 0: key count 0", p8(w.keyDataAt[0], 0));
  add("both angle packings (D43)", "key set 3: both angle packings",
      p16(w.keySetAt[3] + 2, 0x0780));
  add("angle packing on quaternions (D43)", "key set 0: angle packing on quaternion keys",
      p16(w.keySetAt[0] + 2, 0x0302));
  add("compact start byte 0x30 (D44)", "key set 3: compact start byte",
      p8(w.keyDataAt[3] + 6, 0x30));
  // Shapes.
  add("shape-vertex stride 24 (D49)", "shape-vertex stride 24", p32(w.extensionAt + 0x2C, 24));
  add("shape vertex index out of range (D49)", "shape mesh 0: vertex index out of range",
      p32(Mv1Get32(w.image, w.shapeMeshAt[0] + 0x18), 4));
  add("has-shape byte on an unshaped mesh (D50)", "mesh 0: has-shape byte", p8(m0 + 0x2D, 1));
  add("shape vertex total (D50)", "extension total 0x18 is 3, the records give 2",
      add32(w.extensionAt + 0x18, 1));
  add("shape area size (D50)", "extension total 0x28 is 5, the records give 4",
      add32(w.extensionAt + 0x28, 1));
  add("shape mesh of another frame's mesh (D48)", "shape mesh 0: mesh",
      p32(w.shapeMeshAt[0] + 0x0C, m0));
  return out;
}
