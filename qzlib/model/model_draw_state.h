// Model draw state: the own and derived draw-state blocks of models, frames and meshes, their
// setters, the change flags that record what is out of date, and the lazy refresh.
#pragma once
#include <qzlib/base/types.h>
#include <qzlib/model/model.h>

// Colour-scale setters (diffuse, ambient, specular, emissive): a bitwise-equal value returns false
// and does nothing; else stores it, keeps UseColorScale (1 when some of the 16 components is not
// 1.0), marks the change flag when one is passed and returns true.
bool MV1SetDrawDifColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a);
bool MV1SetDrawAmbColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a);
bool MV1SetDrawSpcColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a);
bool MV1SetDrawEmiColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a);
// Opacity setter: false when bitwise equal; else stores (unclamped), marks, true.
bool MV1SetDrawOpacityRate(MV1ChangeFlag* flag, MV1DrawState* state, float rate);

// Marks an item changed: nothing when its own bit is set; else ORs its subtree mask words (or
// only its own bit) into the change set from its word on.
void MV1SetFrameChangeFlag(MV1ChangeFlag* flag);
// Marks the whole model (bit 0 of the set): every byte of the set becomes 0xFF unless bit 0 is set.
void MV1SetModelChangeFlagAll(uint32_t* changeSet, int byteSize);

// Recomputes the derived blocks that the change bits name: from the frame (or the mesh's frame)
// the out-of-date subtree, or the whole model when bit 0 is set; else only the given mesh.
void MV1RefreshDrawState(MV1Frame* frame, MV1Mesh* mesh);

// The model's matrix as MATRIX (user matrix, or composed after a set-up); the identity for a bad
// handle or when the system is not started.
MATRIX MV1GetMatrix(int modelHandle);
// Forward the flag to every mesh of the model. 0, -1 on a bad handle.
int MV1SetUseVertDifColor(int modelHandle, int useFlag);
int MV1SetUseVertSpcColor(int modelHandle, int useFlag);
// Per mesh: forward to the base calls with the model's base handle (-1 for a bad model handle).
int MV1SetMeshUseVertDifColor(int modelHandle, int meshIndex, int useFlag);
int MV1SetMeshUseVertSpcColor(int modelHandle, int meshIndex, int useFlag);
