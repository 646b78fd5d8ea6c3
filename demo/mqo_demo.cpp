// MQO demonstration: documents loaded through MV1LoadModel (the MQO reader is its second reader),
// drawn with MV1DrawModel in Direct3D mode over the stand-in device and replayed into pictures:
// "mqo_files.png" (every test document that loads), "mqo_mirror.png" (one half-shape with mirror
// axes 1, 3 and 7) and "mqo_facet.png" (one frustum at facet 30 and at facet 90).
#include <cmath>
#include <cstdio>
#include <string>

#include "demo/demo_common.h"
#include "demo/demo_model.h"
#include "demo/demos.h"
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/light.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_matrix.h>

namespace {

constexpr int kTileW = 320, kTileH = 240;

// Writes a hand-written document into the current folder, loads it by path and removes the file.
int LoadDocument(const std::string& doc, const char* file) {
  std::FILE* f = std::fopen(file, "wb");
  if (!f) return -1;
  const bool written = std::fwrite(doc.data(), 1, doc.size(), f) == doc.size();
  if (std::fclose(f) != 0 || !written) {
    std::remove(file);
    return -1;
  }
  const int h = MV1LoadModel(file);
  std::remove(file);
  if (h < 0) std::printf("mqo: %s NOT loaded (see Log.txt)\n", file);
  return h;
}

// The header and one material, orange, for the hand-written documents.
const char kHeader[] =
    "Metasequoia Document\r\nFormat Text Ver 1.0\r\n"
    "Material 1 {\r\n\t\"orange\" col(1.000 0.600 0.250 1.000) dif(0.900) amb(0.500) emi(0.000) "
    "spc(0.000) power(5.00)\r\n}\r\n";

// Half of a double pyramid: a triangle on the plane x = 0 (its vertices shared with the mirrored
// half) and a tip at x = 35, kept off the planes y = 0 and z = 0, mirrored on axes.
std::string MirrorDocument(int axes) {
  return std::string(kHeader) + "Object \"half\" {\r\n\tdepth 0\r\n\tmirror 1\r\n\tmirror_axis " +
         std::to_string(axes) +
         "\r\n\tvertex 4 {\r\n\t\t0 20 20\r\n\t\t0 50 20\r\n\t\t0 35 45\r\n\t\t35 40 30\r\n\t}\r\n"
         "\tface 3 {\r\n\t\t3 V(3 1 0) M(0)\r\n\t\t3 V(3 2 1) M(0)\r\n\t\t3 V(3 0 2) M(0)\r\n\t}\r\n"
         "}\r\nEof\r\n";
}

// A capped six-sided frustum 60 high, widening upward from radius 25 to 40, with a smoothing angle
// in degrees: its sides stand about 58 degrees apart and its top about 102 degrees from them.
std::string FrustumDocument(int facet) {
  std::string s = std::string(kHeader) + "Object \"frustum\" {\r\n\tdepth 0\r\n\tfacet " +
                  std::to_string(facet) + "\r\n\tvertex 12 {\r\n";
  char line[128];
  for (int ring = 0; ring < 2; ++ring)
    for (int i = 0; i < 6; ++i) {
      const double a = i * 3.14159265358979 / 3;
      std::snprintf(line, sizeof(line), "\t\t%.4f %d %.4f\r\n", (ring ? 40 : 25) * std::cos(a),
                    ring ? 30 : -30, (ring ? 40 : 25) * std::sin(a));
      s += line;
    }
  s += "\t}\r\n\tface 10 {\r\n";
  for (int i = 0; i < 6; ++i) {
    const int j = (i + 1) % 6;
    std::snprintf(line, sizeof(line), "\t\t4 V(%d %d %d %d) M(0)\r\n", i, j, j + 6, i + 6);
    s += line;
  }
  s += "\t\t4 V(3 2 1 0) M(0)\r\n\t\t4 V(5 4 3 0) M(0)\r\n\t\t4 V(6 7 8 9) M(0)\r\n"
       "\t\t4 V(6 9 10 11) M(0)\r\n\t}\r\n}\r\nEof\r\n";
  return s;
}

// Draws each model into the next tile of the sheet (cols to a row), the camera framing the box
// of frameBy (or of each model itself when frameBy is negative) from the direction from, then
// saves the sheet with its legend.
void DrawSheet(const int* handles, int count, int cols, int tileW, int tileH, int frameBy, VECTOR from,
               const char* picture, const char* legend) {
  MEMIMG sheet{};
  if (MakeMemImg(&sheet, tileW * cols, tileH * ((count + cols - 1) / cols), 1) != 0) return;
  ClearMemImg(&sheet, nullptr, kModelBackground);
  VECTOR lo, hi;
  if (frameBy >= 0) PosedBox(frameBy, &lo, &hi), FrameBox(lo, hi, from);
  for (int i = 0; i < count; ++i) {
    const int h = handles[i];
    if (h < 0) continue;
    if (frameBy < 0 && MV1GetMeshNum(h) > 0) PosedBox(h, &lo, &hi), FrameBox(lo, hi, from);
    D3DObjects.Device->ClearRecord();
    MV1DrawModel(h);
    ReplayInto(&sheet, tileW * (i % cols), tileH * (i / cols), tileW, tileH, kModelBackground);
  }
  SaveDemoPicture(&sheet, picture, legend);
  TerminateMemImg(&sheet);
}

void DeleteModels(const int* handles, int count) {
  for (int i = 0; i < count; ++i)
    if (handles[i] >= 0) MV1DeleteModel(handles[i]);
}

}  // namespace

void RunMqoDemo() {
  if (!StartDirect3DDemo()) return;  // the model system exists only in Direct3D mode
  const VECTOR from{0.55f, 0.5f, -0.67f};

  const std::string folder = std::string(DEMO_TESTDATA_DIR) + "/models/mqo/";
  const char* files[] = {"mirrored_multiple_axes.mqo", "multiple_materials.mqo",
                         "multiple_objects.mqo", "normal.mqo", "single_material_with_materialex2.mqo",
                         "single_object_with_edge.mqo", "texture.mqo", "scene.mqo", "simple.mqo"};
  int models[9];
  for (int i = 0; i < 9; ++i) {
    models[i] = MV1LoadModel((folder + files[i]).c_str());
    if (models[i] < 0) std::printf("mqo: %s NOT loaded (test data absent? see Log.txt)\n", files[i]);
    else std::printf("mqo: %s: %d frames, %d meshes, %d materials\n", files[i], MV1GetFrameNum(models[i]),
                     MV1GetMeshNum(models[i]), MV1GetMaterialNum(models[i]));
  }
  DrawSheet(models, 9, 3, kTileW, kTileH, -1, from, "mqo_files.png",
            "Every MQO test document that loads, loaded with MV1LoadModel and drawn with MV1DrawModel,\n"
            "by rows: mirrored_multiple_axes (one quadrangle, mirror 2, not expanded; black, as it\n"
            "faces away from the default light), multiple_materials, multiple_objects / normal,\n"
            "single_material_with_materialex2, single_object_with_edge (its 2-vertex faces dropped) /\n"
            "texture (texture.png beside it), scene and simple (no objects: empty tiles). Each tile is\n"
            "framed on its own model; the replayer lights the corners (textures too) and shades each\n"
            "triangle flat by their mean.\n");
  DeleteModels(models, 9);

  const int axes[3] = {1, 3, 7};
  int mirrors[3];
  for (int i = 0; i < 3; ++i) mirrors[i] = LoadDocument(MirrorDocument(axes[i]), "mqo_demo_mirror.mqo");
  DrawSheet(mirrors, 3, 3, 400, 300, mirrors[2], VECTOR{0.45f, 0.4f, -0.8f}, "mqo_mirror.png",
            "One half-shape with mirror 1 (three faces of a pyramid whose base lies on the plane x = 0,\n"
            "its tip at x = 35, kept off the planes y = 0 and z = 0) and, left to right, mirror_axis 1\n"
            "(X: 2 copies, one double pyramid), 3 (X and Y: 4 copies, two) and 7 (X, Y and Z: 8 copies,\n"
            "four), all three seen by one camera. The base's vertices, on the plane x = 0, are shared by\n"
            "the X copies, which close each double pyramid; every copy faces outward.\n");
  DeleteModels(mirrors, 3);

  const int facets[2] = {30, 90};
  int frusta[2];
  for (int i = 0; i < 2; ++i) {
    frusta[i] = LoadDocument(FrustumDocument(facets[i]), "mqo_demo_frustum.mqo");
    if (frusta[i] >= 0) MV1SetRotationXYZ(frusta[i], VECTOR{0, 0.3f, 0});
  }
  SetLightDirection(VECTOR{0.8f, -0.35f, 0.5f});  // from the upper left, across the sides
  DrawSheet(frusta, 2, 2, 2 * kTileW, 2 * kTileH, frusta[0], VECTOR{0.3f, 0.45f, -0.84f}, "mqo_facet.png",
            "A six-sided frustum, widening upward: its sides stand about 58 degrees apart, its top\n"
            "about 102 degrees from them. Left: facet 30, every face keeps its own normal and is lit\n"
            "evenly. Right: facet 90, the sides share one normal per corner, so the light runs across\n"
            "them (the replayer lights the corners and shades each triangle by their mean, hence two\n"
            "tones a side); the top, beyond 90 degrees, stays apart and evenly lit at both.\n");
  DeleteModels(frusta, 2);
  EndDirect3DDemo();
}
