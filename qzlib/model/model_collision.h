// Collision grids and hit queries: a uniform grid over the transformed reference mesh of a model
// (frame -1) or of one frame answers line, sphere and capsule queries.
//
// A grid (MV1CollInfo) is one allocation: the record, the cell heads, the first node block
// (2 x polygon count nodes). Each cell's list is a singly linked list of nodes, newest first;
// further node blocks (polygon count nodes each) are chained on demand and kept for later
// rebuilds. The owner's up-to-date word is 1 after a rebuild; recomputing the transformed mesh,
// a new set-up and freeing the grid clear it. Queries use the grid as it is; they build it
// (32 x 8 x 32) only when the owner has none.
#pragma once
#include <cstddef>

#include <qzlib/base/types.h>

struct MV1RefOwner;

struct MV1CollInfoNode {
  int Polygon;
  MV1CollInfoNode* Next;
};

struct MV1CollInfoNodeBlock {
  int Capacity;
  int Used;
  MV1CollInfoNode* Node;
  MV1CollInfoNodeBlock* Next;
};

struct MV1CollInfo {
  int DivX, DivY, DivZ;
  VECTOR MinPosition;        // the reference mesh's box at the last rebuild
  VECTOR MaxPosition;
  VECTOR Size;
  VECTOR CellSize;
  VECTOR CellSizeInv;        // 0 on an axis whose reciprocal would not be finite
  MV1CollInfoNode** Head;    // cell (ix, iy, iz) at iz * (x * y) + iy * x + ix
  MV1CollInfoNodeBlock* FirstBlock;
  MV1CollInfoNodeBlock* CurrentBlock;
  size_t HeadCapacity;       // cells the head array holds
  int HeadAllocated;         // Head is a block of its own (a later set-up needed more cells)
};

struct MV1_COLL_RESULT_POLY {
  int HitFlag;
  VECTOR HitPosition;
  int FrameIndex;
  int PolygonIndex;          // into the reference mesh's polygon array
  int MaterialIndex;
  VECTOR Position[3];
  VECTOR Normal;             // VNorm((P1 - P0) x (P2 - P0))
};

struct MV1_COLL_RESULT_POLY_DIM {
  int HitNum;
  MV1_COLL_RESULT_POLY* Dim; // tracked memory, or null
};

// Division counts of a grid built by a query or refresh without a set-up.
constexpr int MV1_COLLINFO_DEFAULT_DIV_X = 32;
constexpr int MV1_COLLINFO_DEFAULT_DIV_Y = 8;
constexpr int MV1_COLLINFO_DEFAULT_DIV_Z = 32;

// Creates the transformed reference mesh and the grid when missing (a second set-up re-allocates
// the cell heads when the counts need more), stores the counts and rebuilds. 0; -1 for a bad
// handle or frame, counts below 1 or too large, or a failed allocation (logged).
int MV1SetupCollInfo(int modelHandle, int frameIndex, int divX, int divY, int divZ);
// Brings the reference mesh up to date and rebuilds the grid when it is stale (a default grid
// is set up when there is none). 0, or -1 (a failed rebuild leaves the grid stale).
int MV1RefreshCollInfo(int modelHandle, int frameIndex);
// The nearest hit of segment start-end (the first of equal ones in cell order); hit flag 0 when
// nothing is hit or on failure.
MV1_COLL_RESULT_POLY MV1CollCheck_Line(int modelHandle, int frameIndex, VECTOR start, VECTOR end);
// Every triangle within radius of the centre (distance <= radius) with its nearest point, in cell
// order, each once. The array is returned (1000 records or more) even when nothing is hit; free
// it with MV1CollResultPolyDimTerminate. Count 0 and null on failure.
MV1_COLL_RESULT_POLY_DIM MV1CollCheck_Sphere(int modelHandle, int frameIndex, VECTOR centre,
                                            float radius);
// As the sphere query for the capsule pos1-pos2 of the radius; hit positions are (0, 0, 0).
MV1_COLL_RESULT_POLY_DIM MV1CollCheck_Capsule(int modelHandle, int frameIndex, VECTOR pos1,
                                             VECTOR pos2, float radius);
// Frees the grid of the model (-1) or the frame and marks the owner stale. 0 (also when there
// was none), -1 for a bad handle or frame. No system-started test.
int MV1TerminateCollInfo(int modelHandle, int frameIndex);
// Frees the hit array when it is not null. 0.
int MV1CollResultPolyDimTerminate(MV1_COLL_RESULT_POLY_DIM result);

// Frees the owner's grid (node blocks in list order, then the grid) and clears its up-to-date
// word.
void MV1FreeCollInfo(const MV1RefOwner& owner);
