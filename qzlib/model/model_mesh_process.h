// Load-time mesh processing of a model base: tangents and binormals, the per-vertex records of the
// triangle lists (base and model side), normal recalculation with a smoothing angle and the
// merging of equal vertices.
#pragma once
#include <cstdint>

struct MV1MeshBase;
struct MV1TriangleList;
struct MV1ModelTriangleList;
struct MV1FrameBase;

// Sets the tangent and binormal of every normal record the mesh's vertices use from the faces'
// positions and first UV pair (a mesh without UV sets uses UV (0, 0)); degenerate faces give
// tangent components 1 and binormal components 0; every result is finite and of unit length.
// 0, or -1 (logged) when the work memory cannot be had.
int MV1SetupTangentAndBinormal(MV1MeshBase* mesh);
// The same with the work memory given: one byte per normal record of the mesh's frame.
void MV1SetupTangentAndBinormalWithMarks(MV1MeshBase* mesh, uint8_t* marks);

// Writes the per-vertex records of a base triangle list (types 0 to 3) from its mesh vertices, the
// frame's positions and normals; weights and bones are read up to the list type's maximum and the
// frame's bones per vertex, stopping at bone 0xFFFFFFFF.
void MV1SetupTriangleListPositions(MV1TriangleList* list);
// The same for a model triangle list into its own records (nothing when it has none).
void MV1SetupModelTriangleListPositions(MV1ModelTriangleList* list);

// Recalculates the normals of a frame's meshes from their faces with a smoothing angle (radians):
// corners across shared edges whose faces meet at no more than the angle share a normal. Splits
// vertices as needed, rebuilds tangents, list indices and records, remaps shape vertices.
// 0, or -1 (logged; the frame may be left half-processed but consistent).
int MV1RecalcNormals(MV1FrameBase* frame, float smoothingAngle);
// Merges a frame's equal positions (bitwise, with equal bone lists) and equal mesh vertices
// (bytewise). 0, or -1 (logged).
int MV1OptimizeVertices(MV1FrameBase* frame);

// The two above over every frame of a base that has positions, with the base's device buffers
// released before and rebuilt after. -1 on a bad handle, on a base that already has models (their
// blocks were sized from the old vertex counts) or at the first failure.
int MV1RecalcModelBaseNormals(int baseHandle, float smoothingAngle);
int MV1OptimizeModelBaseVertices(int baseHandle);
