// Test-only writer of synthetic PMD models and VMD motions, byte for byte in the file layouts the
// readers take. Names are raw Shift_JIS bytes (cut to their field).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <qzlib/base/types.h>

struct PmdTestVertex {
  VECTOR position{0, 0, 0};
  VECTOR normal{0, 0, -1};
  float u = 0, v = 0;
  uint16_t bone0 = 0, bone1 = 0;
  uint8_t weight = 100;
};

struct PmdTestMaterial {
  COLOR_F diffuse{1, 1, 1, 1};
  float specularity = 5.0f;
  float specular[3] = {0, 0, 0};
  float ambient[3] = {0, 0, 0};
  uint32_t faceIndexCount = 0;
  std::string texture;
};

struct PmdTestBone {
  std::string name;
  uint16_t parent = 0xFFFF;
  VECTOR head{0, 0, 0};
  uint8_t type = 0;
};

struct PmdTestIk {
  uint16_t goal = 0, target = 0;
  std::vector<uint16_t> chain;  // first nearest the target
  uint16_t iterations = 40;
  float controlWeight = 0.5f;
};

struct PmdTestMorphEntry {
  uint32_t vertex;
  VECTOR position;
};

struct PmdTestMorph {
  std::string name;
  std::vector<PmdTestMorphEntry> entries;
};

struct PmdTestModel {
  float version = 1.0f;
  std::vector<PmdTestVertex> vertices;
  std::vector<uint16_t> indices;
  std::vector<PmdTestMaterial> materials;
  std::vector<PmdTestBone> bones;
  std::vector<PmdTestIk> iks;
  std::vector<PmdTestMorph> morphs;
  std::vector<uint8_t> trailer;  // bytes after the morphs
};

std::vector<uint8_t> WritePmd(const PmdTestModel& model);

struct VmdTestBoneKey {
  std::string name;
  uint32_t frame = 0;
  VECTOR position{0, 0, 0};
  float rotation[4] = {0, 0, 0, 1};
  // (x1, y1, x2, y2) per channel X, Y, Z, rotation; the default is linear
  int8_t curve[4][4] = {{20, 20, 107, 107}, {20, 20, 107, 107}, {20, 20, 107, 107}, {20, 20, 107, 107}};
};

struct VmdTestMorphKey {
  std::string name;
  uint32_t frame = 0;
  float weight = 0;
};

std::vector<uint8_t> WriteVmd(const std::vector<VmdTestBoneKey>& bones,
                              const std::vector<VmdTestMorphKey>& morphs);

// A small model with a planar IK leg along -Y (bones: 0 "center", 1 "thigh" (head at y 10),
// 2 knee "<knee>L" (y 5), 3 "ankle" (y 0), 4 "legIK" goal (y 0); IK goal 4, target 3, chain
// knee, thigh, 40 iterations, control weight 0.5), one triangle weighted to the leg. Every
// position times scale.
PmdTestModel MakeIkLegModel(float scale = 1.0f);
