// Bounding boxes of a model base, its frames and meshes, and the view test of a box.
#pragma once
#include <qzlib/base/types.h>

// Computes the boxes once per base (from the first model): mesh boxes of the stored positions,
// frame boxes as their union, the base box in the model's world space. Copies the base box's
// corners to the non-null pointers. 0, -1 on a bad handle (the system flag is not tested).
int MV1CalcBoundingBoxes(int modelHandle, VECTOR* maxPosition, VECTOR* minPosition);

// 1 when the box given by eight world-space corners lies certainly outside the view (every corner
// beyond one common plane of the cached view x projection), else 0.
int MV1CheckBoxOutsideView(const VECTOR corners[8]);
