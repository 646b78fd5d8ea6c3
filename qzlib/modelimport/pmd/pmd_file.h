// The PMD model file (version 1.0) at the byte level: sniffing, one bounded pass over the
// sections the reader uses, validation of every count and index, and record decoders.
//
// Layout (little-endian): "Pmd", version float, 20-byte name, 256-byte comment, then
// V vertices (38 bytes), I u16 face indices, M materials (70 bytes), B bones (39 bytes),
// K IK records (11 + 2 x chain length), S morphs (25 + 16 x entry count). Anything after the
// morphs is not read.
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/base/types.h>

constexpr uint32_t kPmdVertexSize = 38;
constexpr uint32_t kPmdMaterialSize = 70;
constexpr uint32_t kPmdBoneSize = 39;
constexpr uint32_t kPmdIkHeadSize = 11;
constexpr uint32_t kPmdMorphHeadSize = 25;
constexpr uint32_t kPmdMorphEntrySize = 16;
constexpr uint32_t kPmdHeaderSize = 283;
// Limits of the reader: bones (its working table of bone frames) and materials with faces (the
// materials one mesh can hold).
constexpr uint32_t kPmdMaxBones = 1024;
constexpr uint32_t kPmdMaxMeshMaterials = 256;
constexpr uint16_t kPmdNoBone = 0xFFFF;

// Where each section lies in the image; filled by ParsePmdFile, read by the decoders below.
struct PmdFile {
  const uint8_t* image;
  size_t size;
  uint32_t vertexCount;
  const uint8_t* vertices;
  uint32_t indexCount;  // face indices; the faces are indexCount / 3
  const uint8_t* indices;
  uint32_t materialCount;
  const uint8_t* materials;
  uint32_t boneCount;
  const uint8_t* bones;
  uint32_t ikCount;
  const uint8_t* iks;  // first IK record; the records follow one another
  uint32_t morphCount;
  const uint8_t* morphs;  // first morph record
  uint32_t faceCount;     // indexCount / 3
  uint32_t meshMaterialCount;  // materials with a face count above 0
};

struct PmdVertex {
  VECTOR position;
  VECTOR normal;
  float u, v;
  uint16_t bone[2];
  uint8_t weight;  // percent of bone 0
};

struct PmdMaterial {
  COLOR_F diffuse;  // red, green, blue, alpha
  float specularity;
  float specular[3];
  float ambient[3];
  uint32_t faceIndexCount;
  char textureName[21];
};

struct PmdBone {
  char name[21];
  uint16_t parent;  // kPmdNoBone for a root bone
  uint8_t type;
  VECTOR head;      // model space
};

struct PmdIk {
  uint16_t goal;    // the IK bone
  uint16_t target;  // the end of the chain that is to reach the goal
  uint8_t chainLength;
  uint16_t iterations;
  float controlWeight;
  const uint8_t* chain;  // chainLength u16 bone indices, the first nearest the target
  const uint8_t* next;   // the record after this one
};

struct PmdMorph {
  char name[21];
  uint32_t entryCount;
  const uint8_t* entries;  // entryCount x (u32 vertex index, 3 floats)
  const uint8_t* next;
};

// Sniffs, bounds every section and validates the indices. 0 when the file can be read; -1
// without a message when it is no PMD file ("Pmd" magic missing); -2 when it is refused, after
// writing one "PMD Load Error : " line saying why (wrong version, a section past the end of the
// image, an index or count outside what the reader can hold).
int ParsePmdFile(const void* image, size_t size, PmdFile* out);

// Record decoders; the index must be below the section's count.
void PmdReadVertex(const PmdFile& file, uint32_t index, PmdVertex* out);
uint16_t PmdReadIndex(const PmdFile& file, uint32_t index);
void PmdReadMaterial(const PmdFile& file, uint32_t index, PmdMaterial* out);
void PmdReadBone(const PmdFile& file, uint32_t index, PmdBone* out);
// Decodes the IK record at p (file.iks, then the previous record's next).
void PmdReadIk(const uint8_t* p, PmdIk* out);
inline uint16_t PmdIkChainBone(const PmdIk& ik, uint32_t i) {
  return static_cast<uint16_t>(ik.chain[2 * i] | (ik.chain[2 * i + 1] << 8));
}
// Decodes the morph record at p (file.morphs, then the previous record's next).
void PmdReadMorph(const uint8_t* p, PmdMorph* out);
// Entry i of a morph: vertex index and position.
void PmdReadMorphEntry(const PmdMorph& morph, uint32_t i, uint32_t* vertex, VECTOR* position);

// Faces covered by a material with face index count c: (c - 1) / 3 + 1 for c above 0, else 0.
inline uint64_t PmdMaterialFaceCount(uint32_t c) { return c == 0 ? 0 : (c - 1) / 3 + 1; }
