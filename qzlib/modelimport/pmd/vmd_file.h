// The VMD motion file at the byte level: header check, one bounded pass over the bone and morph
// keys with the motion's limits, and the grouping of keys by name in frame order.
//
// Layout (little-endian): "Vocaloid Motion Data 0002" and a zero (26 bytes), 4 more header bytes,
// a 20-byte model name, N bone keys (111 bytes), F morph keys (23 bytes). Anything after the
// morph keys is not read.
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/base/types.h>

constexpr size_t kVmdHeaderSize = 50;
constexpr uint32_t kVmdBoneKeySize = 111;
constexpr uint32_t kVmdMorphKeySize = 23;
constexpr uint32_t kVmdNameSize = 15;
// Distinct bone names, and distinct morph names, of one motion.
constexpr uint32_t kVmdMaxNodes = 2048;
// The last frame a motion may have: about 9 hours at 30 frames a second.
constexpr uint64_t kVmdMaxLastFrame = 1000000;
// The IK baking work a motion may ask for: frames x (the sum of iterations x chain length over
// the IK list + the bones posed every frame). A unit is one CCD step of one chain bone (an
// inverse, two transforms and the world matrices of the chain below it: about 0.3 us for a
// two-bone leg, 3 us for a chain of 255 bones) or one posed bone, so the largest admitted bake
// takes from about a third of a second to three seconds; a character with two legs, two toes and
// a few helper chains (about 200 units a frame) may run some 5,000 frames.
constexpr uint64_t kVmdMaxBakeWork = 1000000;
// The sampled keys a motion may make (one position and one rotation, 36 bytes, per bone and
// frame): about 290 MB of key data.
constexpr uint64_t kVmdMaxSampledKeys = 8000000;
// The sampled keys all the motions of one model load may make together: the same budget, so
// that the motion files beside a model never take more than one motion may.
constexpr uint64_t kVmdMaxSampledKeysPerLoad = 8000000;

// The sampled keys a load may still make: its limit and what the motions read so far took.
struct VmdKeyBudget {
  uint64_t limit;
  uint64_t used;
};

struct VmdFile {
  uint32_t boneKeyCount;
  const uint8_t* boneKeys;
  uint32_t morphKeyCount;
  const uint8_t* morphKeys;
  uint32_t boneNodeCount;   // distinct bone names
  uint32_t morphNodeCount;  // distinct morph names
  uint32_t lastFrame;       // the largest frame of any key (0 without keys)
};

// Checks the header, bounds both key lists, counts the distinct names and checks the last frame
// and the baking work ((last frame + 1) x bakeWorkPerFrame) against their limits. 0 when the
// motion can be read; -1 without a message for a wrong or short header; -2 when it is refused,
// after one "VMD Load Error : " line. Allocates nothing.
int ParseVmdFile(const void* image, size_t size, uint64_t bakeWorkPerFrame, VmdFile* out);

// One bone key, converted.
struct VmdBoneKey {
  uint32_t frame;
  VECTOR position;
  float rotation[4];  // x, y, z, w
  uint8_t linear[4];  // X, Y, Z, rotation: x1 == y1 and x2 == y2
  float curve[16];    // (x1, y1, x2, y2) of X, Y, Z and rotation, each signed byte / 127 x 3
  VmdBoneKey* prev;
  VmdBoneKey* next;
};

struct VmdMorphKey {
  uint32_t frame;
  float weight;
  VmdMorphKey* prev;
  VmdMorphKey* next;
};

// The keys of one name, in frame order (keys of one frame in file order).
struct VmdBoneNode {
  uint32_t keyCount;
  uint32_t lastFrame;
  uint32_t firstFrame;
  char name[kVmdNameSize + 1];  // the name field up to its first zero
  VmdBoneKey* first;
};

struct VmdMorphNode {
  uint32_t keyCount;
  uint32_t lastFrame;
  uint32_t firstFrame;
  char name[kVmdNameSize + 1];
  VmdMorphKey* first;
};

// Converts the bone keys into keys[boneKeyCount] and files them under nodes[boneNodeCount], one
// node per distinct name in order of first appearance.
void VmdGroupBoneKeys(const VmdFile& file, VmdBoneNode* nodes, VmdBoneKey* keys);
// The same for the morph keys.
void VmdGroupMorphKeys(const VmdFile& file, VmdMorphNode* nodes, VmdMorphKey* keys);

// The position in names[count] of the name a motion's name field stands for: the exact match;
// else, for a 15-byte name (the field cut a longer name), the first name that begins with those
// 15 bytes. -1 when none matches. Null entries are skipped.
int VmdFindName(const char* nodeName, const char* const* names, int count);

// Curve y at t of one channel: t when linear, else the Bezier search of the interpolation block.
float VmdCurveValue(const float curve[4], int linear, float t);
