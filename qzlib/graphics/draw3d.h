// Immediate 3-D shapes: line, triangle, sphere, capsule and cone, drawn with the current camera,
// lights, material and blend mode through the graphics core's 3-D primitive drawers.
//
// Colours are packed screen colours (GetColor), split with SplitColor. Vertex alpha is the blend
// parameter unless the blend mode is NOBLEND (then 255). Every drawer returns 0; in software mode
// nothing is drawn.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>

int DrawLine3D(VECTOR pos1, VECTOR pos2, uint32_t color);
// Filled: one triangle; outline: its three edges (indices 0, 1, 1, 2, 2, 0).
int DrawTriangle3D(VECTOR pos1, VECTOR pos2, VECTOR pos3, uint32_t color, int fill);
// Solids: n is the division count. n < 0 draws nothing; counts above what 16-bit indices
// address are clamped (sphere 253, capsule 178, cone 21841). Filled solids are triangle lists
// whose triangles face outward, outlines line lists.
int DrawSphere3D(VECTOR center, float radius, int n, uint32_t difColor, uint32_t spcColor,
                 int fill);
// A capsule whose end points coincide draws as a sphere around them.
int DrawCapsule3D(VECTOR pos1, VECTOR pos2, float radius, int n, uint32_t difColor,
                  uint32_t spcColor, int fill);
// A cone of height 0 draws nothing.
int DrawCone3D(VECTOR top, VECTOR bottom, float radius, int n, uint32_t difColor,
               uint32_t spcColor, int fill);

// The mesh of a solid in one tracked block (vertices, angle tables, indices).
struct Shape3DMesh {
  VERTEX3D* Vertices;
  int VertexCount;
  uint16_t* Indices;
  int IndexCount;
  int PrimitiveType;  // 4 triangle list (filled) or 2 line list (outline)
  void* Block;
};
constexpr int SPHERE3D_DIV_MAX = 253;
constexpr int CAPSULE3D_DIV_MAX = 178;
constexpr int CONE3D_DIV_MAX = 21841;
// Build a solid's mesh: 0, or -1 (n < 0, zero cone height, or no memory; *mesh is then empty).
int MakeSphere3DMesh(Shape3DMesh* mesh, VECTOR center, float radius, int n, uint32_t difColor,
                     uint32_t spcColor, int fill);
int MakeCapsule3DMesh(Shape3DMesh* mesh, VECTOR pos1, VECTOR pos2, float radius, int n,
                      uint32_t difColor, uint32_t spcColor, int fill);
int MakeCone3DMesh(Shape3DMesh* mesh, VECTOR top, VECTOR bottom, float radius, int n,
                   uint32_t difColor, uint32_t spcColor, int fill);
void FreeShape3DMesh(Shape3DMesh* mesh);
