// What every builder of a model base calls after filling it: the change-bit numbering, the frame
// triangle and vertex counts, and the change-set sizes models take from them.
#pragma once
#include <cstdint>

#include <qzlib/model/model_base.h>

// Words of a model's change set A: 1 + ceil((frames + meshes) / 32); of set B: 1 + ceil(frames / 32).
int MV1ChangeSetWordsA(int frameCount, int meshCount);
int MV1ChangeSetWordsB(int frameCount);

// 0 when the frame links keep the invariants of model_base.h (every frame reached once from
// FirstTopFrame = frame 0 through FirstChild and Next, parents before children, siblings in index
// order, each frame's meshes its own), else -1. Runs at any depth without recursion; changes
// nothing. Readers of files call it before trusting the links.
int MV1CheckFrameLinks(MV1ModelBase* base);

// Numbers the change bits of every frame and mesh (bit 32 on, pre-order of the frame tree: a frame,
// its meshes in order, then its children's subtrees in sibling order, top-level frames in sibling
// order from FirstTopFrame) and fills each change info's word index, own bit and mask-word count;
// SubtreeMask pointers are set to null. Sets ChangeMaskSizeA/B to the bytes the two mask arrays
// need (the sum of the frames' mask-word counts). Needs the frame links (Parent, FirstChild, Next,
// FirstTopFrame), each frame's MeshCount and Mesh. Runs at any tree depth without recursion.
// Returns 0, -1 when MV1CheckFrameLinks would, or -2 when a set's masks would take more than
// setCap bytes (never more than an int holds; both sizes are then 0). *setBytes, when given, gets
// the larger set's bytes (0 for bad links).
// The most bytes one set of change masks of a base may take. A frame's mask spans its subtree, so
// a chain of n frames takes about n * n / 16 bytes a set: the cap admits chains some 32,000
// frames deep.
constexpr uint64_t MV1_CHANGE_MASK_CAP = 64ull << 20;
int MV1NumberChangeBits(MV1ModelBase* base, uint64_t* setBytes = nullptr,
                        uint64_t setCap = MV1_CHANGE_MASK_CAP);

// After MV1NumberChangeBits, with ChangeMaskA and ChangeMaskB pointing at ChangeMaskSizeA and
// ChangeMaskSizeB bytes: writes every frame's subtree mask words (its own bit and the bits after
// it, as in a change set from its word on) and points its change infos at them.
void MV1FillChangeMasks(MV1ModelBase* base);

// Both steps, the mask arrays taken from the chunk list at *chunkHead. 0, -1 (allocation
// failure or bad links) or -2 (over the cap; *setBytes as MV1NumberChangeBits gives it).
int MV1SetupChangeBits(MV1ModelBase* base, void** chunkHead, uint64_t* setBytes = nullptr,
                       uint64_t setCap = MV1_CHANGE_MASK_CAP);

// Each frame's TriangleCount and VertexCount from its meshes' triangle lists (index count / 3 and
// vertex count, summed) and the base totals TriangleCount and VertexCount.
void MV1SetupFrameCounts(MV1ModelBase* base);

// For a base whose change infos come from a file: 0 when every frame's and mesh's info lies
// inside the model change sets of MV1ChangeSetWordsA/B (word index from 1, one own bit, the mask
// words inside the set and inside ChangeMaskA/B), else -1. Marking then never writes outside a
// model's change sets.
int MV1CheckChangeInfos(const MV1ModelBase* base);
