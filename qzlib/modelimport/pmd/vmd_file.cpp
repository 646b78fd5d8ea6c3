#include <qzlib/modelimport/pmd/vmd_file.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/modelimport/pmd/pmd_bytes.h>
#include <qzlib/base/engine_texts.h>

namespace {

const char kVmdMagic[26] = "Vocaloid Motion Data 0002";  // and its terminating zero

size_t NameLength(const uint8_t* field) {
  size_t n = 0;
  while (n < kVmdNameSize && field[n] != 0) ++n;
  return n;
}

// Open-addressed table from a key's name field to the number of its node (in order of first
// appearance); room for kVmdMaxNodes names at half load.
class NameTable {
 public:
  NameTable() { std::memset(name_, 0, sizeof(name_)); }
  // The node of the name in field, numbering a new name count; count grows for a new name.
  uint32_t Find(const uint8_t* field, uint32_t* count) {
    size_t len = NameLength(field);
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < len; ++i) h = (h ^ field[i]) * 16777619u;
    for (uint32_t slot = h & (kSlots - 1);; slot = (slot + 1) & (kSlots - 1)) {
      if (!name_[slot]) {
        if (*count >= kVmdMaxNodes) return kVmdMaxNodes;  // full: the caller refuses
        name_[slot] = field;
        len_[slot] = static_cast<uint8_t>(len);
        node_[slot] = static_cast<uint16_t>(*count);
        return (*count)++;
      }
      if (len_[slot] == len && std::memcmp(name_[slot], field, len) == 0) return node_[slot];
    }
  }

 private:
  static constexpr uint32_t kSlots = 2 * kVmdMaxNodes;
  const uint8_t* name_[kSlots];
  uint8_t len_[kSlots];
  uint16_t node_[kSlots];
};

// Counts the names of count records of recordSize bytes and the largest frame (at offset 15).
// False when there are more than kVmdMaxNodes names.
bool ScanKeys(const uint8_t* records, uint32_t count, uint32_t recordSize, uint32_t* names,
              uint32_t* lastFrame) {
  NameTable table;
  *names = 0;
  bool ok = true;
  for (uint32_t i = 0; i < count && ok; ++i) {
    const uint8_t* p = records + static_cast<size_t>(i) * recordSize;
    if (table.Find(p, names) == kVmdMaxNodes) ok = false;
    uint32_t frame = PmdGetU32(p + 15);
    if (frame > *lastFrame) *lastFrame = frame;
  }
  return ok;
}

// Sorts a key list by frame, keeping the file order of equal frames (a merge sort of the list).
template <class Key>
Key* SortByFrame(Key* head, uint32_t count) {
  if (count < 2) return head;
  uint32_t half = count / 2;
  Key* mid = head;
  for (uint32_t i = 1; i < half; ++i) mid = mid->next;
  Key* right = mid->next;
  mid->next = nullptr;
  Key* a = SortByFrame(head, half);
  Key* b = SortByFrame(right, count - half);
  Key* out = nullptr;
  Key** tail = &out;
  while (a && b) {
    Key** take = (b->frame < a->frame) ? &b : &a;
    *tail = *take;
    tail = &(*take)->next;
    *take = (*take)->next;
  }
  *tail = a ? a : b;
  return out;
}

template <class Node, class Key>
void FinishNodes(Node* nodes, uint32_t nodeCount) {
  for (uint32_t n = 0; n < nodeCount; ++n) {
    Node& node = nodes[n];
    node.first = SortByFrame(node.first, node.keyCount);
    Key* prev = nullptr;
    for (Key* k = node.first; k; k = k->next) {
      k->prev = prev;
      prev = k;
    }
    node.firstFrame = node.first ? node.first->frame : 0xFFFFFFFFu;
    node.lastFrame = prev ? prev->frame : 0;
  }
}

// Files keys[i] (whose name field is at records + i * recordSize) under its node; the lists are
// built in file order through the tail pointers, then sorted.
template <class Node, class Key>
void GroupKeys(const uint8_t* records, uint32_t count, uint32_t recordSize, Node* nodes, Key* keys) {
  NameTable table;
  uint32_t nodeCount = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* p = records + static_cast<size_t>(i) * recordSize;
    uint32_t before = nodeCount;
    uint32_t n = table.Find(p, &nodeCount);
    Node& node = nodes[n];
    if (n == before && nodeCount > before) {
      std::memset(&node, 0, sizeof(node));
      PmdCopyName(node.name, p, kVmdNameSize);
    }
    Key* k = &keys[i];
    k->next = nullptr;
    // prev temporarily marks the list's tail at the head key
    if (!node.first) {
      node.first = k;
    } else {
      node.first->prev->next = k;
    }
    node.first->prev = k;
    ++node.keyCount;
  }
  FinishNodes<Node, Key>(nodes, nodeCount);
}

}  // namespace

int ParseVmdFile(const void* image, size_t size, uint64_t bakeWorkPerFrame, VmdFile* out) {
  std::memset(out, 0, sizeof(*out));
  const uint8_t* data = static_cast<const uint8_t*>(image);
  if (!data || size < kVmdHeaderSize || std::memcmp(data, kVmdMagic, sizeof(kVmdMagic)) != 0)
    return -1;
  PmdByteCursor c{data, size, kVmdHeaderSize};
  if (!c.U32(&out->boneKeyCount) || !(out->boneKeys = c.Take(out->boneKeyCount, kVmdBoneKeySize))) {
    WriteLogFmt(TEXT_VMD_TRUNCATED, TEXT_VMD_PART_BONE);
    return -2;
  }
  if (!c.U32(&out->morphKeyCount) ||
      !(out->morphKeys = c.Take(out->morphKeyCount, kVmdMorphKeySize))) {
    WriteLogFmt(TEXT_VMD_TRUNCATED, TEXT_VMD_PART_MORPH);
    return -2;
  }
  if (!ScanKeys(out->boneKeys, out->boneKeyCount, kVmdBoneKeySize, &out->boneNodeCount,
                &out->lastFrame)) {
    WriteLogFmt(TEXT_VMD_NAME_LIMIT, TEXT_VMD_PART_BONE);
    return -2;
  }
  if (!ScanKeys(out->morphKeys, out->morphKeyCount, kVmdMorphKeySize, &out->morphNodeCount,
                &out->lastFrame)) {
    WriteLogFmt(TEXT_VMD_NAME_LIMIT, TEXT_VMD_PART_MORPH);
    return -2;
  }
  uint64_t last = out->lastFrame;
  if (last > kVmdMaxLastFrame) {
    WriteLogFmt(TEXT_VMD_FRAME_LIMIT, static_cast<unsigned long long>(last),
                static_cast<unsigned long long>(kVmdMaxLastFrame));
    return -2;
  }
  // (last + 1) <= 1,000,001: the product fits once the work per frame is within the cap
  uint64_t work = bakeWorkPerFrame > kVmdMaxBakeWork ? kVmdMaxBakeWork + 1 : (last + 1) * bakeWorkPerFrame;
  if (work > kVmdMaxBakeWork) {
    WriteLogFmt(TEXT_VMD_BAKE_LIMIT, static_cast<unsigned long long>(work),
                static_cast<unsigned long long>(kVmdMaxBakeWork));
    return -2;
  }
  return 0;
}

void VmdGroupBoneKeys(const VmdFile& file, VmdBoneNode* nodes, VmdBoneKey* keys) {
  for (uint32_t i = 0; i < file.boneKeyCount; ++i) {
    const uint8_t* p = file.boneKeys + static_cast<size_t>(i) * kVmdBoneKeySize;
    VmdBoneKey& k = keys[i];
    k.frame = PmdGetU32(p + 15);
    k.position = VECTOR{PmdGetF32(p + 19), PmdGetF32(p + 23), PmdGetF32(p + 27)};
    for (int j = 0; j < 4; ++j) k.rotation[j] = PmdGetF32(p + 31 + 4 * j);
    const uint8_t* block = p + 47;
    for (int ch = 0; ch < 4; ++ch) {
      int8_t b[4];
      for (int j = 0; j < 4; ++j) b[j] = static_cast<int8_t>(block[16 * ch + 4 * j]);
      k.linear[ch] = (b[0] == b[1] && b[2] == b[3]) ? 1 : 0;
      for (int j = 0; j < 4; ++j) k.curve[4 * ch + j] = static_cast<float>(b[j]) / 127.0f * 3.0f;
    }
  }
  GroupKeys<VmdBoneNode, VmdBoneKey>(file.boneKeys, file.boneKeyCount, kVmdBoneKeySize, nodes, keys);
}

void VmdGroupMorphKeys(const VmdFile& file, VmdMorphNode* nodes, VmdMorphKey* keys) {
  for (uint32_t i = 0; i < file.morphKeyCount; ++i) {
    const uint8_t* p = file.morphKeys + static_cast<size_t>(i) * kVmdMorphKeySize;
    keys[i].frame = PmdGetU32(p + 15);
    keys[i].weight = PmdGetF32(p + 19);
  }
  GroupKeys<VmdMorphNode, VmdMorphKey>(file.morphKeys, file.morphKeyCount, kVmdMorphKeySize, nodes,
                                       keys);
}

int VmdFindName(const char* nodeName, const char* const* names, int count) {
  for (int i = 0; i < count; ++i)
    if (names[i] && std::strcmp(names[i], nodeName) == 0) return i;
  if (std::strlen(nodeName) != kVmdNameSize) return -1;
  for (int i = 0; i < count; ++i)
    if (names[i] && std::strncmp(names[i], nodeName, kVmdNameSize) == 0) return i;
  return -1;
}

float VmdCurveValue(const float curve[4], int linear, float t) {
  if (linear) return t;
  auto bezier = [](float s, float a, float b) {
    float r = 1.0f - s;
    return s * s * s + b * s * s * r + a * s * r * r;
  };
  float s = t;
  for (int i = 0; i < 32; ++i) {
    float e = bezier(s, curve[0], curve[2]) - t;
    if (-0.0001f < e && e < 0.0001f) break;
    s = s - e * 0.5f;
  }
  return bezier(s, curve[1], curve[3]);
}
