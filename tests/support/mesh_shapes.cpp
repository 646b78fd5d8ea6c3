// The mesh shapes of mesh_shapes.h.
#include "tests/support/mesh_shapes.h"

#include <cmath>

#include "tests/support/readmodel_builder.h"

ReadModelMesh* BuildMeshCase(ReadModel* rm, const MeshCase& c) {
  ReadModelBuilder b(rm);
  ReadModelFrame* f = b.Frame("f");
  if (!f) return nullptr;
  f->SmoothingAngle = c.angle;
  rm->ReverseWinding = c.reverse;
  ReadModelMesh* m = b.Mesh(f, c.pos);
  std::vector<FaceSpec> specs(c.faces.size());
  for (size_t i = 0; i < c.faces.size(); ++i) specs[i].pos = c.faces[i];
  return m && b.Faces(m, specs) ? m : nullptr;
}

MeshCase RepeatedTriangle(int copies, bool bothWays) {
  MeshCase c;
  c.name = "repeated triangle";
  c.pos = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  for (int i = 0; i < copies; ++i)
    c.faces.push_back(bothWays && i % 2 ? std::vector<int>{0, 2, 1} : std::vector<int>{0, 1, 2});
  return c;
}

MeshCase RepeatedPolygon(int copies, int corners) {
  MeshCase c;
  c.name = "repeated polygon";
  for (int i = 0; i < corners; ++i) {
    float a = 6.2831853f * i / corners;
    c.pos.push_back({std::cos(a), std::sin(a), 0.05f * (i % 3)});
  }
  std::vector<int> f;
  for (int i = 0; i < corners; ++i) f.push_back(i);
  c.faces.assign(copies, f);
  return c;
}

MeshCase MirroredQuads(int copies) {
  MeshCase c;
  c.name = "mirrored quads";
  const VECTOR quad[4] = {{1, 1, 1}, {2, 1, 1.2f}, {2, 2, 1}, {1, 2, 1.1f}};
  for (int m = 0; m < 8; ++m) {
    const float sx = m & 1 ? -1.0f : 1.0f, sy = m & 2 ? -1.0f : 1.0f, sz = m & 4 ? -1.0f : 1.0f;
    for (const VECTOR& v : quad) c.pos.push_back({v.x * sx, v.y * sy, v.z * sz});
  }
  for (int i = 0; i < copies; ++i)
    for (int m = 0; m < 8; ++m) {
      const int b = m * 4;
      const bool odd = ((m & 1) + ((m >> 1) & 1) + ((m >> 2) & 1)) % 2 == 1;
      c.faces.push_back(odd ? std::vector<int>{b + 3, b + 2, b + 1, b} : std::vector<int>{b, b + 1, b + 2, b + 3});
    }
  c.angle = 1.0385f;
  return c;
}

MeshCase Disc(int segments) {
  MeshCase c;
  c.name = "disc";
  c.pos.push_back({0, 0, 0});
  for (int i = 0; i < segments; ++i) {
    float a = 6.2831853f * i / segments;
    c.pos.push_back({std::cos(a), std::sin(a), 0.1f * std::sin(7.0f * a)});
  }
  for (int i = 0; i < segments; ++i) c.faces.push_back({0, 1 + (i + 1) % segments, 1 + i});
  return c;
}

MeshCase RepeatedRing(int copies, int segments) {
  MeshCase c = Disc(segments);
  c.name = "repeated ring";
  std::vector<std::vector<int>> ring = c.faces;
  for (int i = 1; i < copies; ++i) c.faces.insert(c.faces.end(), ring.begin(), ring.end());
  return c;
}

