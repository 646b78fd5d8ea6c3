// The reference-mesh and collision part of the demonstration, drawn with the software line and
// triangle drawers into surfaces of its own (the pictures are demo rendering, not engine drawing):
// a generated terrain's reference-mesh wireframe from above, a grid of vertical line probes
// coloured by hit height, the polygons hit by a sphere and a capsule, and a skinned arm with one
// bone bent, its transformed reference mesh beside its local one.
#include <cmath>
#include <cstdio>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_collision.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_refmesh.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/memimg.h>
#include <qzlib/soft/polygon.h>
#include "tests/support/model_builder.h"

namespace {

constexpr int kSize = 480;
constexpr float kWidth = 400.0f;
constexpr float kHeight = 50.0f;

// Maps world x and z (from above) or x and y (from the side) to pixels.
struct View {
  float ox, oy, scale;
  bool fromAbove;
  void Map(const VECTOR& v, int* x, int* y) const {
    *x = static_cast<int>(std::lround(ox + v.x * scale));
    *y = static_cast<int>(std::lround(fromAbove ? oy + v.z * scale : oy - v.y * scale));
  }
};

uint32_t HeightColor(float h) {
  float t = std::fmin(1.0f, std::fmax(0.0f, h / kHeight));
  return DemoColor(1, static_cast<int>(40 + 215 * t), static_cast<int>(90 + 120 * (1 - t)),
                   static_cast<int>(220 * (1 - t)));
}

void Wireframe(MEMIMG* img, const MV1_REF_POLYGONLIST& mesh, const View& view, bool byHeight,
               uint32_t color) {
  for (int p = 0; p < mesh.PolygonNum; ++p) {
    const MV1_REF_POLYGON& poly = mesh.Polygons[p];
    for (int c = 0; c < 3; ++c) {
      const VECTOR& a = mesh.Vertexs[poly.VIndex[c]].Position;
      const VECTOR& b = mesh.Vertexs[poly.VIndex[(c + 1) % 3]].Position;
      int x1, y1, x2, y2;
      view.Map(a, &x1, &y1);
      view.Map(b, &x2, &y2);
      DrawLineMemImg(img, x1, y1, x2, y2, byHeight ? HeightColor((a.y + b.y) * 0.5f) : color);
    }
  }
}

void FillTriangle(MEMIMG* img, const VECTOR* corners, const View& view, uint32_t color) {
  MemImgVertex v[3] = {};
  for (int c = 0; c < 3; ++c) view.Map(corners[c], &v[c].x, &v[c].y);
  DrawPolygonMemImg(img, nullptr, v, 0, nullptr, color);
}

void FillHits(MEMIMG* img, MV1_COLL_RESULT_POLY_DIM dim, const View& view, uint32_t color) {
  for (int i = 0; i < dim.HitNum; ++i) FillTriangle(img, dim.Dim[i].Position, view, color);
  MV1CollResultPolyDimTerminate(dim);
}

bool NewPicture(MEMIMG* img) {
  if (MakeMemImg(img, kSize, kSize, 1) != 0) return false;
  RECT all{0, 0, kSize, kSize};
  DrawFillBoxMemImg(img, &all, DemoColor(1, 16, 18, 24));
  return true;
}

int MakeModel(int base) {
  int h = MV1AddModelHandle();
  return MV1CreateModelFromBase(h, base) == 0 ? h : -1;
}

void TerrainPictures() {
  ModelBaseBuilder b;
  b.materials.push_back({"ground"});
  b.AddFrame(-1);
  AddTriangleMeshes(&b, 0, HeightFieldCorners(21, 36, 36, kWidth, kHeight));
  const int model = MakeModel(b.Build());
  if (model == -1) return;
  MV1SetupCollInfo(model, -1, 32, 4, 32);
  const MV1_REF_POLYGONLIST mesh = MV1GetReferenceMesh(model, -1, 1);
  const View above{40, 40, 1.0f, true};
  MEMIMG img;

  if (NewPicture(&img)) {
    Wireframe(&img, mesh, above, true, 0);
    SaveDemoPicture(&img, "collision_terrain_wireframe.png",
                    "A generated terrain of 2,592 triangles seen from above: its transformed\n"
                    "reference mesh drawn as a wireframe, each edge coloured by its mean height\n"
                    "(cyan low, orange-red high).\n");
    TerminateMemImg(&img);
  }

  if (NewPicture(&img)) {
    Wireframe(&img, mesh, above, false, DemoColor(1, 50, 54, 64));
    for (int iz = 0; iz < 40; ++iz)
      for (int ix = 0; ix < 40; ++ix) {
        VECTOR top{5 + ix * 10.0f, 200, 5 + iz * 10.0f}, bottom{top.x, -200, top.z};
        MV1_COLL_RESULT_POLY hit = MV1CollCheck_Line(model, -1, top, bottom);
        int x, y;
        above.Map(top, &x, &y);
        RECT dot{x - 2, y - 2, x + 3, y + 3};
        DrawFillBoxMemImg(&img, &dot, hit.HitFlag ? HeightColor(hit.HitPosition.y) : DemoColor(1, 255, 255, 255));
      }
    SaveDemoPicture(&img, "collision_line_probes.png",
                    "A 40 x 40 grid of vertical line queries (ground probes) over the terrain,\n"
                    "each a dot coloured by the height of its nearest hit (cyan low, orange-red high);\n"
                    "a white dot would be a probe that found no ground. The wireframe is the\n"
                    "terrain's reference mesh, in grey.\n");
    TerminateMemImg(&img);
  }

  if (NewPicture(&img)) {
    Wireframe(&img, mesh, above, false, DemoColor(1, 50, 54, 64));
    FillHits(&img, MV1CollCheck_Sphere(model, -1, VECTOR{120, 25, 140}, 45), above,
             DemoColor(1, 60, 140, 255));
    FillHits(&img, MV1CollCheck_Capsule(model, -1, VECTOR{180, 30, 300}, VECTOR{340, 20, 220}, 18),
             above, DemoColor(1, 255, 150, 40));
    SaveDemoPicture(&img, "collision_sphere_capsule.png",
                    "Polygons of the terrain hit by a sphere (blue, centre (120, 25, 140), radius\n"
                    "45) and by a capsule (orange, from (180, 30, 300) to (340, 20, 220), radius\n"
                    "18), filled, over the grey reference-mesh wireframe, seen from above. The\n"
                    "hit areas are not round: the sphere and capsule reach the sloped ground at\n"
                    "different heights.\n");
    TerminateMemImg(&img);
  }
  MV1DeleteModel(model);
}

// An arm of two bones along x (shoulder at 0, elbow at 100) skinning a strip of 4-bone vertices
// whose weights blend from the upper to the lower bone between x = 70 and x = 130.
int BuildArmBase() {
  ModelBaseBuilder b;
  b.materials.push_back({"arm"});
  b.AddFrame(-1);                 // 0: holds the skinned mesh
  b.AddFrame(0);                  // 1: shoulder
  b.AddFrame(1, {100, 0, 0});     // 2: elbow
  b.frames[0].bonesPerVertex = 2;
  b.frames[0].boneList = {0, 1};
  b.skinBones.push_back({1});
  b.skinBones.push_back({2, {{{1, 0, 0, -100}, {0, 1, 0, 0}, {0, 0, 1, 0}}}});
  TestMesh mesh;
  mesh.frame = 0;
  TestTriangleList list;
  list.type = MV1_VERTEX_TYPE_SKIN_4BONE;
  list.useBones = {0, 1};
  const int columns = 21;
  for (int i = 0; i < columns; ++i) {
    float x = i * 10.0f;
    float w = std::fmin(1.0f, std::fmax(0.0f, (x - 70) / 60));
    for (float y : {-15.0f, 15.0f}) {
      TestVertex v;
      v.position = VECTOR{x, y, 0};
      if (w == 0) v.bones = {{0, 1.0f}};
      else if (w == 1) v.bones = {{1, 1.0f}};
      else v.bones = {{0, 1 - w}, {1, w}};
      list.meshVertices.push_back(static_cast<int>(mesh.vertices.size()));
      mesh.vertices.push_back(v);
    }
  }
  for (int i = 0; i + 1 < columns; ++i) {
    uint16_t a = static_cast<uint16_t>(2 * i);
    list.indices.insert(list.indices.end(), {a, static_cast<uint16_t>(a + 1), static_cast<uint16_t>(a + 2),
                                             static_cast<uint16_t>(a + 2), static_cast<uint16_t>(a + 1),
                                             static_cast<uint16_t>(a + 3)});
  }
  mesh.lists.push_back(list);
  b.meshes.push_back(mesh);
  return b.Build();
}

void ArmPicture() {
  const int model = MakeModel(BuildArmBase());
  if (model == -1) return;
  MV1SetFrameUserLocalMatrix(model, 2, MMult(MGetRotZ(1.0f), MGetTranslate(VECTOR{100, 0, 0})));
  const MV1_REF_POLYGONLIST local = MV1GetReferenceMesh(model, 0, 0);
  MV1RefreshReferenceMesh(model, 0, 1);
  const MV1_REF_POLYGONLIST world = MV1GetReferenceMesh(model, 0, 1);
  MEMIMG img;
  if (NewPicture(&img)) {
    const View left{20, 120, 1.0f, false}, right{240, 400, 1.0f, false};
    for (int p = 0; p < world.PolygonNum; ++p) {
      VECTOR corners[3];
      float shade = static_cast<float>(p % 2) * 30;
      for (int c = 0; c < 3; ++c) corners[c] = world.Vertexs[world.Polygons[p].VIndex[c]].Position;
      FillTriangle(&img, corners, right, DemoColor(1, 200 - static_cast<int>(shade), 120, 60));
      for (int c = 0; c < 3; ++c) corners[c] = local.Vertexs[local.Polygons[p].VIndex[c]].Position;
      FillTriangle(&img, corners, left, DemoColor(1, 90, 130 + static_cast<int>(shade), 200));
    }
    Wireframe(&img, local, left, false, DemoColor(1, 230, 230, 230));
    Wireframe(&img, world, right, false, DemoColor(1, 230, 230, 230));
    SaveDemoPicture(&img, "collision_skinned_arm.png",
                    "A skinned arm of two bones (shoulder at x = 0, elbow at x = 100) seen from the\n"
                    "side. Top left, blue: its local reference mesh, the stored bind pose. Bottom\n"
                    "right, orange: its transformed reference mesh after the elbow bone is bent by\n"
                    "1 radian with a frame user local matrix; the strip's vertices between x = 70\n"
                    "and x = 130 blend the two bones, so the bend is smooth.\n");
    TerminateMemImg(&img);
  }
  MV1DeleteModel(model);
}

}  // namespace

void RunCollisionDemo() {
  if (!StartDirect3DDemo()) return;
  TerrainPictures();
  ArmPicture();
  EndDirect3DDemo();
}
