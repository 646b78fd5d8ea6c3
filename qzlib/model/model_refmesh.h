// Reference meshes: plain triangle lists of a whole model or of one frame, for scripts and for
// collision, in two kinds: local (the stored bind-pose positions and normals) and transformed
// (world space under the current frame matrices, skinning applied).
//
// A reference mesh is one tracked block: the MV1_REF_POLYGONLIST header, the polygon array, the
// vertex array. Each model and each frame owns one of each kind with an up-to-date byte; the
// transformed one goes stale whenever MV1SetupMatrix rebuilds matrices. Shapes (morphs) do not
// reach reference meshes: they read the base's stored positions.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>

struct MV1Model;
struct MV1Frame;
struct MV1CollInfo;

struct MV1_REF_VERTEX {
  VECTOR Position;
  VECTOR Normal;
  UV TexCoord[2];            // pairs beyond the mesh's own sets are 0
  COLOR_U8 DiffuseColor;
  COLOR_U8 SpecularColor;
};

struct MV1_REF_POLYGON {
  uint16_t FrameIndex;
  uint16_t MaterialIndex;    // the mesh's material in the base
  int VIndexTarget;          // 1: built for one frame, 0: for the whole model
  int VIndex[3];             // into the vertex array
  VECTOR MinPosition;        // box of the triangle
  VECTOR MaxPosition;
};

struct MV1_REF_POLYGONLIST {
  int PolygonNum;
  int VertexNum;
  VECTOR MinPosition;        // box of every polygon; cleared when there is none
  VECTOR MaxPosition;
  MV1_REF_POLYGON* Polygons;
  MV1_REF_VERTEX* Vertexs;
};

// The owner of a pair of reference meshes and a collision grid: a model (frame -1) or a frame.
struct MV1RefOwner {
  MV1Model* Model;
  MV1Frame* Frame;                       // null for the whole model
  MV1_REF_POLYGONLIST** RefMesh;         // [0] local, [1] transformed
  uint8_t* RefMeshUpToDate;
  MV1CollInfo** CollInfo;
  int* CollInfoUpToDate;
};

// Checks the model handle (without the system-started test) and the frame (-1 or 0 .. frame
// count - 1) and fills the owner. False on a bad handle or frame.
bool MV1GetRefOwner(int modelHandle, int frameIndex, MV1RefOwner* owner);

// Creates the mesh of that kind (transform non-zero: transformed) when missing and brings it up
// to date. 0, or -1 for a bad handle or frame or when the block cannot be allocated (logged).
int MV1SetupReferenceMesh(int modelHandle, int frameIndex, int isTransform);
// Brings the mesh up to date, creating it when missing. Recomputing a transformed mesh marks the
// owner's collision grid stale. 0 or -1 as above.
int MV1RefreshReferenceMesh(int modelHandle, int frameIndex, int isTransform);
// A copy of the header; a missing mesh is created first, an existing one returned without a
// refresh. All zero on failure.
MV1_REF_POLYGONLIST MV1GetReferenceMesh(int modelHandle, int frameIndex, int isTransform);
// Frees the mesh of that kind and clears its up-to-date byte; freeing the transformed one frees
// the owner's collision grid too. 0 (also when there was none), -1 for a bad handle or frame.
int MV1TerminateReferenceMesh(int modelHandle, int frameIndex, int isTransform);
