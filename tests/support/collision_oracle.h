// Brute-force answers to the collision queries over a transformed reference mesh: every triangle
// is tested with the same geometry functions the grid queries use (no boxes, no grid).
#pragma once
#include <set>

#include <qzlib/base/types.h>
#include <qzlib/model/model_refmesh.h>

struct CollisionOracle {
  MV1_REF_POLYGONLIST mesh;

  // The nearest hit of segment s-e: its polygon (-1 for none), squared distance from s and the
  // number of polygons hit at that same distance.
  void Line(VECTOR s, VECTOR e, int* best, float* bestDistance, int* ties) const;
  std::set<int> Sphere(VECTOR centre, float radius) const;
  std::set<int> Capsule(VECTOR a, VECTOR b, float radius) const;
};
