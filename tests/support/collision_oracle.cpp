#include "tests/support/collision_oracle.h"

#include <qzlib/math/geometry.h>

namespace {

VECTOR Corner(const MV1_REF_POLYGONLIST& m, int p, int c) {
  return m.Vertexs[m.Polygons[p].VIndex[c]].Position;
}

float Sq(VECTOR a, VECTOR b) {
  float x = a.x - b.x, y = a.y - b.y, z = a.z - b.z;
  return x * x + y * y + z * z;
}

}  // namespace

void CollisionOracle::Line(VECTOR s, VECTOR e, int* best, float* bestDistance, int* ties) const {
  *best = -1;
  *ties = 0;
  for (int p = 0; p < mesh.PolygonNum; ++p) {
    LineHitResult r = HitCheckLineTriangle(s, e, Corner(mesh, p, 0), Corner(mesh, p, 1), Corner(mesh, p, 2));
    if (!r.HitFlag) continue;
    float d = Sq(r.Position, s);
    if (*best == -1 || d < *bestDistance) {
      *best = p;
      *bestDistance = d;
      *ties = 1;
    } else if (d == *bestDistance) {
      ++*ties;
    }
  }
}

std::set<int> CollisionOracle::Sphere(VECTOR c, float r) const {
  std::set<int> hits;
  for (int p = 0; p < mesh.PolygonNum; ++p) {
    VECTOR q = GetNearestPointOnTriangle(c, Corner(mesh, p, 0), Corner(mesh, p, 1), Corner(mesh, p, 2));
    if (Sq(c, q) <= r * r) hits.insert(p);
  }
  return hits;
}

std::set<int> CollisionOracle::Capsule(VECTOR a, VECTOR b, float r) const {
  std::set<int> hits;
  for (int p = 0; p < mesh.PolygonNum; ++p) {
    if (SegmentTriangleMinLengthSquare(a, b, Corner(mesh, p, 0), Corner(mesh, p, 1), Corner(mesh, p, 2)) <= r * r)
      hits.insert(p);
  }
  return hits;
}
