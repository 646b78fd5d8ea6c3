// Meshes for the automatic normals' tests and benchmarks: the shapes around shared positions
// that once made the fan walk quadratic, made by small generators.
#pragma once
#include <string>
#include <vector>

#include <qzlib/modelimport/readmodel.h>

// A mesh to make normals for: positions, polygons (triangulated before the normals) and the
// frame's smoothing angle.
struct MeshCase {
  std::string name;
  std::vector<VECTOR> pos;
  std::vector<std::vector<int>> faces;
  float angle = 0.0f;
  bool reverse = false;
};

// Builds the case as the only mesh of a new frame of rm (the frame's smoothing angle and the
// root's winding flag set); its polygons are not triangulated yet. Null when the pool runs out.
ReadModelMesh* BuildMeshCase(ReadModel* rm, const MeshCase& c);

// One triangle repeated, the copies alternately wound both ways when asked.
MeshCase RepeatedTriangle(int copies, bool bothWays);
// Polygons of `corners` corners, all over the same corners positions of a circle.
MeshCase RepeatedPolygon(int copies, int corners);
// Identical quadrangles mirrored on the three axes: eight copies of each position, the mirrored
// copies wound the other way where an odd number of axes turned them.
MeshCase MirroredQuads(int copies);
// A disc of triangles around one centre, rippled so that neighbours bend a little.
MeshCase Disc(int segments);
// A closed ring of triangles around one centre, the whole ring repeated: every fan goes round
// the copies.
MeshCase RepeatedRing(int copies, int segments);
