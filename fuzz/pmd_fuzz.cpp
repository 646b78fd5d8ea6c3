// Feeds arbitrary bytes to the PMD reader: the byte-level parse, then every record decoder over
// what the parse admitted.
#include <cstddef>
#include <cstdint>

#include "engine/modelimport/pmd/pmd_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PmdFile f;
  if (ParsePmdFile(data, size, &f) != 0) return 0;
  volatile float sink = 0;
  PmdVertex v;
  for (uint32_t i = 0; i < f.vertexCount; ++i) {
    PmdReadVertex(f, i, &v);
    sink = sink + v.position.x;
  }
  for (uint32_t i = 0; i < f.faceCount * 3; ++i) sink = sink + PmdReadIndex(f, i);
  PmdMaterial m;
  for (uint32_t i = 0; i < f.materialCount; ++i) PmdReadMaterial(f, i, &m);
  PmdBone b;
  for (uint32_t i = 0; i < f.boneCount; ++i) PmdReadBone(f, i, &b);
  const uint8_t* p = f.iks;
  for (uint32_t i = 0; i < f.ikCount; ++i) {
    PmdIk ik;
    PmdReadIk(p, &ik);
    for (uint32_t c = 0; c < ik.chainLength; ++c) sink = sink + PmdIkChainBone(ik, c);
    p = ik.next;
  }
  p = f.morphs;
  for (uint32_t i = 0; i < f.morphCount; ++i) {
    PmdMorph mp;
    PmdReadMorph(p, &mp);
    for (uint32_t e = 0; e < mp.entryCount; ++e) {
      uint32_t idx;
      VECTOR pos;
      PmdReadMorphEntry(mp, e, &idx, &pos);
      sink = sink + pos.x;
    }
    p = mp.next;
  }
  return 0;
}
