#include <qzlib/modelimport/pmd/pmd_file.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/modelimport/pmd/pmd_bytes.h>
#include <qzlib/base/engine_texts.h>

namespace {

int Truncated(const char* part) {
  WriteLogFmt(TEXT_PMD_TRUNCATED, part);
  return -2;
}

VECTOR GetVector(const uint8_t* p) { return VECTOR{PmdGetF32(p), PmdGetF32(p + 4), PmdGetF32(p + 8)}; }

// Bounds every section in file order and fills the counts and section pointers.
int BoundSections(PmdByteCursor& c, PmdFile* f) {
  if (!c.Take(1, kPmdHeaderSize)) return Truncated(TEXT_PMD_PART_HEADER);
  if (!c.U32(&f->vertexCount) || !(f->vertices = c.Take(f->vertexCount, kPmdVertexSize)))
    return Truncated(TEXT_PMD_PART_VERTEX);
  if (!c.U32(&f->indexCount) || !(f->indices = c.Take(f->indexCount, 2)))
    return Truncated(TEXT_PMD_PART_FACE);
  if (!c.U32(&f->materialCount) || !(f->materials = c.Take(f->materialCount, kPmdMaterialSize)))
    return Truncated(TEXT_PMD_PART_MATERIAL);
  uint16_t count16 = 0;
  if (!c.U16(&count16)) return Truncated(TEXT_PMD_PART_BONE);
  f->boneCount = count16;
  if (f->boneCount > kPmdMaxBones) {
    WriteLogFmt(TEXT_PMD_BONE_LIMIT, f->boneCount);
    return -2;
  }
  if (!(f->bones = c.Take(f->boneCount, kPmdBoneSize))) return Truncated(TEXT_PMD_PART_BONE);
  if (!c.U16(&count16)) return Truncated(TEXT_PMD_PART_IK);
  f->ikCount = count16;
  f->iks = c.data + c.pos;
  for (uint32_t i = 0; i < f->ikCount; ++i) {
    const uint8_t* head = c.Take(1, kPmdIkHeadSize);
    if (!head || !c.Take(head[4], 2)) return Truncated(TEXT_PMD_PART_IK);
  }
  if (!c.U16(&count16)) return Truncated(TEXT_PMD_PART_MORPH);
  f->morphCount = count16;
  f->morphs = c.data + c.pos;
  for (uint32_t i = 0; i < f->morphCount; ++i) {
    const uint8_t* head = c.Take(1, kPmdMorphHeadSize);
    if (!head || !c.Take(PmdGetU32(head + 20), kPmdMorphEntrySize)) return Truncated(TEXT_PMD_PART_MORPH);
  }
  return 0;
}

int ValidateFaces(PmdFile* f) {
  f->faceCount = f->indexCount / 3;
  for (uint32_t i = 0; i < f->faceCount * 3; ++i) {
    uint32_t v = PmdReadIndex(*f, i);
    if (v >= f->vertexCount) {
      WriteLogFmt(TEXT_PMD_FACE_INDEX, i / 3, v, f->vertexCount);
      return -2;
    }
  }
  uint64_t covered = 0;
  f->meshMaterialCount = 0;
  for (uint32_t m = 0; m < f->materialCount; ++m) {
    uint32_t c = PmdGetU32(f->materials + static_cast<size_t>(m) * kPmdMaterialSize + 46);
    covered += PmdMaterialFaceCount(c);
    if (c > 0) ++f->meshMaterialCount;
  }
  if (covered > f->faceCount) {
    WriteLogFmt(TEXT_PMD_MATERIAL_FACES, static_cast<unsigned long long>(covered), f->faceCount);
    return -2;
  }
  if (f->meshMaterialCount > kPmdMaxMeshMaterials) {
    WriteLogFmt(TEXT_PMD_MATERIAL_LIMIT, f->meshMaterialCount);
    return -2;
  }
  return 0;
}

int ValidateBones(const PmdFile& f) {
  for (uint32_t b = 0; b < f.boneCount; ++b) {
    uint16_t parent = PmdGetU16(f.bones + static_cast<size_t>(b) * kPmdBoneSize + 20);
    if (parent != kPmdNoBone && parent >= b) {
      WriteLogFmt(TEXT_PMD_BONE_PARENT, b, static_cast<unsigned>(parent));
      return -2;
    }
  }
  const uint8_t* p = f.iks;
  for (uint32_t k = 0; k < f.ikCount; ++k) {
    PmdIk ik;
    PmdReadIk(p, &ik);
    if (ik.chainLength == 0) {
      WriteLogFmt(TEXT_PMD_IK_CHAIN, k);
      return -2;
    }
    uint32_t bad = 0xFFFFFFFFu;
    if (ik.goal >= f.boneCount) bad = ik.goal;
    else if (ik.target >= f.boneCount) bad = ik.target;
    for (uint32_t i = 0; bad == 0xFFFFFFFFu && i < ik.chainLength; ++i)
      if (PmdIkChainBone(ik, i) >= f.boneCount) bad = PmdIkChainBone(ik, i);
    if (bad != 0xFFFFFFFFu) {
      WriteLogFmt(TEXT_PMD_IK_BONE, k, bad, f.boneCount);
      return -2;
    }
    p = ik.next;
  }
  return 0;
}

// Morph indices matter only when there is a morph beside the base.
int ValidateMorphs(const PmdFile& f) {
  if (f.morphCount < 2) return 0;
  PmdMorph base;
  PmdReadMorph(f.morphs, &base);
  for (uint32_t e = 0; e < base.entryCount; ++e) {
    uint32_t v = PmdGetU32(base.entries + static_cast<size_t>(e) * kPmdMorphEntrySize);
    if (v >= f.vertexCount) {
      WriteLogFmt(TEXT_PMD_MORPH_BASE, v, f.vertexCount);
      return -2;
    }
  }
  const uint8_t* p = base.next;
  for (uint32_t s = 1; s < f.morphCount; ++s) {
    PmdMorph m;
    PmdReadMorph(p, &m);
    for (uint32_t e = 0; e < m.entryCount; ++e) {
      uint32_t v = PmdGetU32(m.entries + static_cast<size_t>(e) * kPmdMorphEntrySize);
      if (v >= base.entryCount) {
        WriteLogFmt(TEXT_PMD_MORPH_INDEX, s, v, base.entryCount);
        return -2;
      }
    }
    p = m.next;
  }
  return 0;
}

}  // namespace

int ParsePmdFile(const void* image, size_t size, PmdFile* out) {
  std::memset(out, 0, sizeof(*out));
  const uint8_t* data = static_cast<const uint8_t*>(image);
  if (!data || size < 3 || std::memcmp(data, "Pmd", 3) != 0) return -1;
  if (size < 7) return Truncated(TEXT_PMD_PART_HEADER);
  if (PmdGetF32(data + 3) != 1.0f) {
    WriteLog(TEXT_PMD_VERSION "\n");
    return -2;
  }
  out->image = data;
  out->size = size;
  PmdByteCursor c{data, size, 0};
  int r = BoundSections(c, out);
  if (r == 0) r = ValidateFaces(out);
  if (r == 0) r = ValidateBones(*out);
  if (r == 0) r = ValidateMorphs(*out);
  return r;
}

void PmdReadVertex(const PmdFile& file, uint32_t index, PmdVertex* out) {
  const uint8_t* p = file.vertices + static_cast<size_t>(index) * kPmdVertexSize;
  out->position = GetVector(p);
  out->normal = GetVector(p + 12);
  out->u = PmdGetF32(p + 24);
  out->v = PmdGetF32(p + 28);
  out->bone[0] = PmdGetU16(p + 32);
  out->bone[1] = PmdGetU16(p + 34);
  out->weight = p[36];
}

uint16_t PmdReadIndex(const PmdFile& file, uint32_t index) {
  return PmdGetU16(file.indices + static_cast<size_t>(index) * 2);
}

void PmdReadMaterial(const PmdFile& file, uint32_t index, PmdMaterial* out) {
  const uint8_t* p = file.materials + static_cast<size_t>(index) * kPmdMaterialSize;
  out->diffuse = COLOR_F{PmdGetF32(p), PmdGetF32(p + 4), PmdGetF32(p + 8), PmdGetF32(p + 12)};
  out->specularity = PmdGetF32(p + 16);
  for (int i = 0; i < 3; ++i) {
    out->specular[i] = PmdGetF32(p + 20 + 4 * i);
    out->ambient[i] = PmdGetF32(p + 32 + 4 * i);
  }
  out->faceIndexCount = PmdGetU32(p + 46);
  PmdCopyName(out->textureName, p + 50, 20);
}

void PmdReadBone(const PmdFile& file, uint32_t index, PmdBone* out) {
  const uint8_t* p = file.bones + static_cast<size_t>(index) * kPmdBoneSize;
  PmdCopyName(out->name, p, 20);
  out->parent = PmdGetU16(p + 20);
  out->type = p[24];
  out->head = GetVector(p + 27);
}

void PmdReadIk(const uint8_t* p, PmdIk* out) {
  out->goal = PmdGetU16(p);
  out->target = PmdGetU16(p + 2);
  out->chainLength = p[4];
  out->iterations = PmdGetU16(p + 5);
  out->controlWeight = PmdGetF32(p + 7);
  out->chain = p + kPmdIkHeadSize;
  out->next = out->chain + 2 * static_cast<size_t>(out->chainLength);
}

void PmdReadMorph(const uint8_t* p, PmdMorph* out) {
  PmdCopyName(out->name, p, 20);
  out->entryCount = PmdGetU32(p + 20);
  out->entries = p + kPmdMorphHeadSize;
  out->next = out->entries + static_cast<size_t>(out->entryCount) * kPmdMorphEntrySize;
}

void PmdReadMorphEntry(const PmdMorph& morph, uint32_t i, uint32_t* vertex, VECTOR* position) {
  const uint8_t* p = morph.entries + static_cast<size_t>(i) * kPmdMorphEntrySize;
  *vertex = PmdGetU32(p);
  *position = GetVector(p + 4);
}
