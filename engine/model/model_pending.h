// Model-system calls whose work belongs to subsystems not built yet (animation, reference meshes,
// collision grids). Each keeps its final signature and
// for now does nothing; model_pending.cpp holds the stand-ins, to be replaced one by one.
#pragma once

struct MV1Model;

// Detaches the anim of an attach slot. 0; -1 for a bad handle or slot.
int MV1DetachAnim(int modelHandle, int attachIndex);
// Evaluates every in-use attach slot whose state is out of date, then sets the attach-done byte.
void MV1RefreshAttachList(MV1Model* model);
// Frees a reference mesh of the model (frame -1) or of a frame. 0 also when there was none.
int MV1TerminateReferenceMesh(int modelHandle, int frameIndex, int isTransform);
// Frees the collision grid of the model (frame -1) or of a frame. 0 also when there was none.
int MV1TerminateCollInfo(int modelHandle, int frameIndex);
