// Skin-bone matrix look-ups of skinned vertices, shared by everything that transforms per-vertex
// records on the CPU (bounding boxes, reference meshes) the way drawing does.
#pragma once
#include <qzlib/math/matrix3x4.h>

struct MV1Frame;
struct MV1TriangleList;

extern const Matrix3x4 MV1IdentityMatrix3x4;

// The skin-bone matrix at a position of the frame's own part of the bone pointer list; the
// identity when the position lies outside that part or its entry is null.
const Matrix3x4* MV1FrameSkinBoneMatrix(const MV1Frame* frame, int position);
// The matrix of a bone slot of a type-1 or type-2 list; a slot at or past the list's bone count
// (a bone the list does not hold) reads the identity.
const Matrix3x4* MV1SlotSkinBoneMatrix(const MV1Frame* frame, const MV1TriangleList* list,
                                       int slot);
