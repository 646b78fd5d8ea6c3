// The PMD skeleton at load time: per-bone working records, bone world matrices, the sampling of a
// motion's keys into per-frame arrays, and the baking of the IK chains with a CCD solver with knee
// limits into those arrays.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/modelimport/pmd/pmd_file.h>
#include <qzlib/modelimport/pmd/vmd_file.h>

struct ReadModelFrame;
struct ReadModelAnim;

// One working record per bone, shared by the PMD reader and the motion reader.
struct PmdBoneInfo {
  PmdBone file;           // the bone's file record
  ReadModelAnim* anim;    // its animation in the current motion; null when it has none
  ReadModelFrame* frame;  // its read-model frame
  // Sampled arrays of the current motion, one slot per frame (null when the bone has none):
  // slot s is frame s for an IK-involved bone, frame first key + s otherwise.
  VECTOR* positions;
  float* rotations;  // 4 floats (x, y, z, w) per slot
  float* positionTimes;
  float* rotationTimes;
  uint8_t type;
  uint8_t ikInvolved;  // an IK target or chain bone
  uint8_t restPose;    // IK-involved without keys in the current motion
  uint8_t knee;        // the name contains the word for knee
  MATRIX world;
  VECTOR translate;    // local translation, relative to the parent's head
  float rotation[4];   // local rotation x, y, z, w
  VECTOR head;         // head position in model space
  const VmdBoneNode* node;     // the bone's keys in the current motion, or null
  const VmdBoneKey* currentKey;
  int parent;          // bone index of the parent, -1 for a root bone
  VECTOR rest;         // the frame's translate (the rest translation)
  uint32_t firstFrame; // frame of slot 0 of the sampled arrays
  uint32_t slotCount;  // slots of the sampled arrays
  uint8_t bakeUsed;    // the bone's world matrix matters to the IK (an ancestor of an IK bone)
};

// One per IK record, on a list ordered by the first chain bone.
struct PmdIkInfo {
  PmdIk file;
  PmdBoneInfo* goal;
  PmdBoneInfo* target;
  PmdIkInfo* prev;
  PmdIkInfo* next;
  int iterations;
  float limit;  // control weight x pi
  int chainLength;
  const uint8_t* chain;  // chainLength u16 bone indices, the first nearest the target
};

inline int PmdIkChainIndex(const PmdIkInfo& ik, int i) {
  return ik.chain[2 * i] | (ik.chain[2 * i + 1] << 8);
}

// Fills bones[file.boneCount] from the file's bone records: parent, head, rest translation (head -
// parent's head, the head itself for a root bone) as local translation, rotation (0, 0, 0, 1) and
// the knee flag (the name contains the word for knee at a character boundary); frames and motion
// fields are left null.
void PmdSetupBones(const PmdFile& file, PmdBoneInfo* bones);
// Fills iks[file.ikCount] from the file's IK records, marks every target and chain bone
// IK-involved and returns the list ordered by first chain bone (see PmdInsertIk).
PmdIkInfo* PmdSetupIkList(const PmdFile& file, PmdBoneInfo* bones, PmdIkInfo* iks);

// Puts entry into the list at *head before the first entry whose first chain bone index is at
// least its own (so of equal keys the later entry comes first).
void PmdInsertIk(PmdIkInfo** head, PmdIkInfo* entry);

// Each component times 1 / |q|; a zero (or non-finite) quaternion becomes (0, 0, 0, 1).
void PmdNormalizeQuaternion(float q[4]);
// out = a x b, the quaternion product (row-vector matrices: the rotation of b, then that of a).
void PmdMultiplyQuaternion(float out[4], const float a[4], const float b[4]);
// The row-vector rotation matrix of a unit quaternion with translation t as row 3.
void PmdQuaternionMatrix(MATRIX* out, const float q[4], const VECTOR& t);

// world = local x the parent's world (local alone for a root bone).
void PmdUpdateBoneWorld(PmdBoneInfo* bones, int index);
// Every bone in bone order (parents come first).
void PmdUpdateAllBoneWorlds(PmdBoneInfo* bones, int count);

// Fills the bone's sampled arrays from its keys (node, which has at least one key): slotCount
// slots from firstFrame, whose values must be set by the caller (last frame + 1 from 0 for an
// IK-involved bone, last key - first key + 1 from the first key otherwise).
void PmdSampleBoneKeys(PmdBoneInfo* bone, const VmdBoneNode& node);
// Sets the bone's pose for frame f: rest pose for an IK-involved bone without keys, its sampled
// slot (frame clamped to the arrays) for a bone with samples, else unchanged.
void PmdPoseBone(PmdBoneInfo* bone, uint32_t f);

// Runs the CCD solver for one IK entry, with or without the knee limits. Returns the knee flag
// (1 when a knee left its range); *kneeBone gets that knee's index, or -1.
int PmdSolveIk(PmdBoneInfo* bones, const PmdIkInfo& ik, int limits, int* kneeBone);

// Bakes frames 0 to lastFrame: poses the skeleton, solves the IK list and stores every
// IK-involved bone's local translation and rotation (time f) in slot f of its arrays.
void PmdBakeIk(PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList, uint32_t lastFrame);

// The work of one baked frame: the sum of iterations x chain length over the list, plus the bones
// the bake poses every frame (the IK-involved bones, the goals and their ancestors); 0 when no
// bone is IK-involved, as nothing is baked then.
uint64_t PmdBakeWorkPerFrame(PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList);
