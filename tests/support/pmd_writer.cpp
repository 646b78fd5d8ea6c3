#include "tests/support/pmd_writer.h"

#include <cstring>

#include <qzlib/base/engine_texts.h>

namespace {

struct Out {
  std::vector<uint8_t> b;
  void U8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) {
    U8(v & 0xFF);
    U8((v >> 8) & 0xFF);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void F32(float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    U32(v);
  }
  void Vec(const VECTOR& v) {
    F32(v.x);
    F32(v.y);
    F32(v.z);
  }
  void Name(const std::string& s, size_t field) {
    for (size_t i = 0; i < field; ++i) U8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
  }
};

}  // namespace

std::vector<uint8_t> WritePmd(const PmdTestModel& m) {
  Out o;
  o.b.insert(o.b.end(), {'P', 'm', 'd'});
  o.F32(m.version);
  o.Name("test", 20);
  o.Name("", 256);
  o.U32(static_cast<uint32_t>(m.vertices.size()));
  for (const PmdTestVertex& v : m.vertices) {
    o.Vec(v.position);
    o.Vec(v.normal);
    o.F32(v.u);
    o.F32(v.v);
    o.U16(v.bone0);
    o.U16(v.bone1);
    o.U8(v.weight);
    o.U8(0);
  }
  o.U32(static_cast<uint32_t>(m.indices.size()));
  for (uint16_t i : m.indices) o.U16(i);
  o.U32(static_cast<uint32_t>(m.materials.size()));
  for (const PmdTestMaterial& mt : m.materials) {
    o.F32(mt.diffuse.r);
    o.F32(mt.diffuse.g);
    o.F32(mt.diffuse.b);
    o.F32(mt.diffuse.a);
    o.F32(mt.specularity);
    for (float f : mt.specular) o.F32(f);
    for (float f : mt.ambient) o.F32(f);
    o.U8(0);
    o.U8(0);
    o.U32(mt.faceIndexCount);
    o.Name(mt.texture, 20);
  }
  o.U16(static_cast<uint32_t>(m.bones.size()));
  for (const PmdTestBone& bn : m.bones) {
    o.Name(bn.name, 20);
    o.U16(bn.parent);
    o.U16(0);
    o.U8(bn.type);
    o.U16(0);
    o.Vec(bn.head);
  }
  o.U16(static_cast<uint32_t>(m.iks.size()));
  for (const PmdTestIk& ik : m.iks) {
    o.U16(ik.goal);
    o.U16(ik.target);
    o.U8(static_cast<uint32_t>(ik.chain.size()));
    o.U16(ik.iterations);
    o.F32(ik.controlWeight);
    for (uint16_t c : ik.chain) o.U16(c);
  }
  o.U16(static_cast<uint32_t>(m.morphs.size()));
  for (const PmdTestMorph& mp : m.morphs) {
    o.Name(mp.name, 20);
    o.U32(static_cast<uint32_t>(mp.entries.size()));
    o.U8(0);
    for (const PmdTestMorphEntry& e : mp.entries) {
      o.U32(e.vertex);
      o.Vec(e.position);
    }
  }
  o.b.insert(o.b.end(), m.trailer.begin(), m.trailer.end());
  return o.b;
}

std::vector<uint8_t> WriteVmd(const std::vector<VmdTestBoneKey>& bones,
                              const std::vector<VmdTestMorphKey>& morphs) {
  Out o;
  const char magic[] = "Vocaloid Motion Data 0002";
  o.b.insert(o.b.end(), magic, magic + sizeof(magic));
  o.Name("", 4);
  o.Name("model", 20);
  o.U32(static_cast<uint32_t>(bones.size()));
  for (const VmdTestBoneKey& k : bones) {
    o.Name(k.name, 15);
    o.U32(k.frame);
    o.Vec(k.position);
    for (float f : k.rotation) o.F32(f);
    uint8_t block[64] = {};
    for (int ch = 0; ch < 4; ++ch)
      for (int j = 0; j < 4; ++j) block[16 * ch + 4 * j] = static_cast<uint8_t>(k.curve[ch][j]);
    o.b.insert(o.b.end(), block, block + 64);
  }
  o.U32(static_cast<uint32_t>(morphs.size()));
  for (const VmdTestMorphKey& k : morphs) {
    o.Name(k.name, 15);
    o.U32(k.frame);
    o.F32(k.weight);
  }
  return o.b;
}

PmdTestModel MakeIkLegModel(float scale) {
  PmdTestModel m;
  m.bones = {
      {"center", 0xFFFF, {0, 10, 0}},
      {"thigh", 0, {0, 10, 0}},
      {std::string(TEXT_PMD_KNEE) + "L", 1, {0, 5, 0}},
      {"ankle", 2, {0, 0, 0}},
      {"legIK", 0xFFFF, {0, 0, 0}},
  };
  PmdTestIk ik;
  ik.goal = 4;
  ik.target = 3;
  ik.chain = {2, 1};
  m.iks = {ik};
  PmdTestVertex a, b, c;
  a.position = {0, 10, 0};
  a.bone0 = a.bone1 = 1;
  b.position = {0, 5, 0};
  b.bone0 = 2;
  b.bone1 = 1;
  b.weight = 60;
  c.position = {0, 0, 0};
  c.bone0 = c.bone1 = 3;
  m.vertices = {a, b, c};
  m.indices = {0, 1, 2};
  PmdTestMaterial mat;
  mat.faceIndexCount = 3;
  m.materials = {mat};
  for (PmdTestBone& bn : m.bones) bn.head = VECTOR{bn.head.x * scale, bn.head.y * scale, bn.head.z * scale};
  for (PmdTestVertex& v : m.vertices)
    v.position = VECTOR{v.position.x * scale, v.position.y * scale, v.position.z * scale};
  return m;
}
