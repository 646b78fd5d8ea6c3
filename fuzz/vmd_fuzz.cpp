// Feeds arbitrary bytes to the VMD reader: the byte-level parse and the grouping of its keys.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/modelimport/pmd/vmd_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  VmdFile f;
  if (ParseVmdFile(data, size, 80, &f) != 0) return 0;
  std::vector<VmdBoneNode> nodes(f.boneNodeCount);
  std::vector<VmdBoneKey> keys(f.boneKeyCount);
  VmdGroupBoneKeys(f, nodes.data(), keys.data());
  std::vector<VmdMorphNode> mnodes(f.morphNodeCount);
  std::vector<VmdMorphKey> mkeys(f.morphKeyCount);
  VmdGroupMorphKeys(f, mnodes.data(), mkeys.data());
  return 0;
}
