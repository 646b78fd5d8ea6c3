// Feeds arbitrary bytes to LoadVmdMotion against a fixed small model: a planar IK leg (center,
// thigh, knee, ankle, leg IK goal; 40 iterations) and a shape "smile" on the "Mesh" frame.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include <qzlib/modelimport/pmd/pmd_reader.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/base/engine_texts.h>

namespace {

void Put(std::vector<uint8_t>& b, const void* p, size_t n) {
  const uint8_t* s = static_cast<const uint8_t*>(p);
  b.insert(b.end(), s, s + n);
}
void U16(std::vector<uint8_t>& b, uint16_t v) { Put(b, &v, 2); }
void U32(std::vector<uint8_t>& b, uint32_t v) { Put(b, &v, 4); }
void F32(std::vector<uint8_t>& b, float v) { Put(b, &v, 4); }

std::vector<uint8_t> LegModel() {
  std::vector<uint8_t> b = {'P', 'm', 'd'};
  F32(b, 1.0f);
  b.resize(283, 0);
  U32(b, 0);  // vertices
  U32(b, 0);  // indices
  U32(b, 0);  // materials
  const char* names[5] = {"center", "thigh", TEXT_PMD_KNEE "L", "ankle", "legIK"};
  const uint16_t parents[5] = {0xFFFF, 0, 1, 2, 0xFFFF};
  const float ys[5] = {10, 10, 5, 0, 0};
  U16(b, 5);
  for (int i = 0; i < 5; ++i) {
    char name[20] = {};
    std::strncpy(name, names[i], 20);
    Put(b, name, 20);
    U16(b, parents[i]);
    U16(b, 0);
    b.push_back(0);
    U16(b, 0);
    F32(b, 0);
    F32(b, ys[i]);
    F32(b, 0);
  }
  U16(b, 1);  // one IK: goal 4, target 3, chain knee and thigh
  U16(b, 4);
  U16(b, 3);
  b.push_back(2);
  U16(b, 40);
  F32(b, 0.5f);
  U16(b, 2);
  U16(b, 1);
  U16(b, 0);  // morphs
  return b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> model = LegModel();
  PmdFile file;
  if (ParsePmdFile(model.data(), model.size(), &file) != 0) return 0;
  ReadModel rm;
  InitReadModel(&rm);
  PmdBoneInfo bones[5];
  PmdIkInfo iks[1];
  ReadModelFrame* mesh = ReadModelAddFrame(&rm, "Mesh", nullptr);
  if (mesh && ReadModelAddShape(&rm, "smile", mesh)) {
    PmdSetupBones(file, bones);
    if (PmdAddBoneFrames(&rm, bones, 5) == 0) {
      PmdIkInfo* list = PmdSetupIkList(file, bones, iks);
      VmdKeyBudget budget{kVmdMaxSampledKeysPerLoad, 0};
      LoadVmdMotion(&rm, data, size, "Anim000", bones, 5, list, &budget);
    }
  }
  TerminateReadModel(&rm);
  return 0;
}
