// The steps of ConvertReadModelToModelBase, callable one by one (the converter and its tests).
#pragma once
#include <qzlib/modelimport/readmodel.h>

struct MV1ModelBase;

// Brings every key set into the forms the animation player reads (matrix keys split, 3x3 keys as
// quaternions, vector keys split per axis and joined again) and thins the keys. Allocation
// failures leave the affected key set in its previous form.
void PrepareReadModelAnimKeys(ReadModel* rm);
// Drops keys that linear interpolation between their neighbours predicts within 1e-5 and turns
// evenly spaced explicit times into uniform ones (data types 0, 1, 3, 5, 7; others untouched).
// With keepUnlessSingle set, keys are dropped only when a single key remains.
void OptimizeAnimKeySet(ReadModel* rm, ReadModelAnimKeySet* keySet, int keepUnlessSingle);
// Unlinks a key set from its animation's and the root's lists (it stays in the pool).
void ReadModelSubAnimKeySet(ReadModel* rm, ReadModelAnim* anim, ReadModelAnimKeySet* keySet);

// Cuts every polygon into triangles in zigzag order (the new triangles appended behind the old
// faces in a new face array; the old array's pool block is freed when it is 64 KiB or more). 1,
// or 0 when memory runs out (logged). Faces must hold 3 to 32 indices.
int TriangulateReadModelMesh(ReadModel* rm, ReadModelMesh* mesh);
// Merges positions within 1e-5 that carry the same skin weights, renumbering faces, skin weights
// (a weight that names a removed position is dropped) and the mesh's shapes. true, or false when
// memory runs out (logged).
bool OptimizeReadModelVertices(ReadModel* rm, ReadModelMesh* mesh);
// Smooth corner normals from the faces within the frame's smoothing angle (0 means 89.5
// degrees). A face whose cross product is zero or not finite gets the face normal (0, 0, 0); a
// corner whose normal sums to zero gets READMODEL_FALLBACK_NORMAL. 1, or 0 when memory runs out
// (logged). Faces must be triangles with valid position indices.
int MakeReadModelNormals(ReadModel* rm, ReadModelMesh* mesh);
// The normal of a corner whose smoothed normal sums to zero.
#define READMODEL_FALLBACK_NORMAL (VECTOR{0.0f, 1.0f, 0.0f})

// Merges equal skin bones of a finished base, orders them by bone frame, rebuilds the bone-use
// entries and links every frame to the skin bones it drives. 1, or 0 when the work memory cannot
// be had (logged); the frames are then linked to their bones all the same.
int OptimizeSkinningMesh(MV1ModelBase* base);
