// Model-system calls whose work belongs to subsystems not built yet (reference meshes, collision
// grids). Each keeps its final signature and for now does nothing; model_pending.cpp holds the
// stand-ins, to be replaced one by one.
#pragma once

struct MV1Model;

// Frees a reference mesh of the model (frame -1) or of a frame. 0 also when there was none.
int MV1TerminateReferenceMesh(int modelHandle, int frameIndex, int isTransform);
// Frees the collision grid of the model (frame -1) or of a frame. 0 also when there was none.
int MV1TerminateCollInfo(int modelHandle, int frameIndex);
