// The PMD model reader and the VMD motions read beside it.
//
// LoadPmdModel reads a PMD model (version 1.0) into a read model: a root frame "Mesh" and one
// frame per bone, one skinned mesh, the materials, the morphs as shapes on a split-off morph mesh,
// and the motions "<folder>\<model name>NNN.vmd" from 000 on as animation sets "AnimNNN", each
// sampled per frame with its IK chains baked. Motion files are read through the current
// file-function table.
#pragma once
#include <cstddef>

#include <qzlib/modelimport/pmd/pmd_ik.h>
#include <qzlib/modelimport/readmodel_hash.h>

// Reader interface of the model loader: a model-base handle, or -1. A file without the "Pmd"
// magic gives -1 without a message; every other failure writes one "PMD Load Error : " line.
int LoadPmdModel(const void* image, size_t size, const char* path, const char* modelName,
                 const char* folder);

// The names of a model that its motions look up, from the read model's pool: bone frame names
// and their 15-byte prefixes to the bone of the lowest frame index, the mesh frame's shape names
// and their prefixes to the first shape's place in that frame's list. Zero-initialised, unbuilt.
struct VmdNameIndex {
  bool Built;
  RMHashIndex Bones, BonePrefixes;
  RMHashIndex Shapes, ShapePrefixes;
};

// Reads one motion image of size bytes into an animation set named setName of rm, whose bone
// frames are those of bones[boneCount] (the frames as PmdAddBoneFrames made them); ikList is the
// ordered IK list over the same bones. A motion whose sampled keys pass the per-motion cap or
// the load's budget is refused; an admitted one adds its keys to budget->used. 0; -1 for a
// wrong header (no message) or a refused or failed motion (its line, after the allocation line
// of a failed allocation; the motion stops at the first). The bones' motion fields point into
// rm afterwards. The names the motion looks up come from names, indexed by the first motion that
// finds it unbuilt (the motions of one load share it, as they share the budget); null indexes
// them for this motion alone.
int LoadVmdMotion(ReadModel* rm, const void* image, size_t size, const char* setName,
                  PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList, VmdKeyBudget* budget,
                  VmdNameIndex* names = nullptr);

// Adds one frame per bone of bones[count] (set up by PmdSetupBones) in bone order: the frame of
// its parent bone as parent (top level for a root bone), the rest translation as translate and
// the head as reader position; bones[i].frame is set. 0, or -1 (nothing logged) when the pool
// runs out.
int PmdAddBoneFrames(ReadModel* rm, PmdBoneInfo* bones, int count);
