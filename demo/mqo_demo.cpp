// MQO demonstration: documents read by the MQO reader and drawn as wireframes with their normals.
// Saves "mqo_files.png" (every test document that loads), "mqo_mirror.png" (one half-shape with
// mirror axes 1, 3 and 7) and "mqo_facet.png" (one prism at facet 30 and at facet 90).
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demo_wire.h"
#include "demo/demos.h"
#include "engine/model/model_readers.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::string s;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

int LoadDocument(const std::string& doc, const char* name, const char* folder) {
  return LoadMqoModel(doc.data(), doc.size(), name, name, folder);
}

// Draws a loaded base in its material colours with normals; false when it did not load.
bool DrawDocument(MEMIMG* img, int handle, const WireView& view, float normalLength) {
  if (handle < 0) return false;
  const MV1ModelBase* base = MV1GetModelBaseCheckedNoInit(handle);
  DrawBaseWire(img, view, base, [&](int l) {
    const COLOR_F& d = base->TriangleList[l].Container->Material->Diffuse;
    auto c = [](float v) { return 90 + static_cast<int>(165 * (v < 0 ? 0 : v > 1 ? 1 : v)); };
    return DemoColor(1, c(d.r), c(d.g), c(d.b));
  }, normalLength);
  MV1DeleteModelBase(handle);
  return true;
}

const char kHeader[] = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n";

// A wedge off the planes x = 0 and y = 0 with a face touching x = 0, mirrored on axes.
std::string MirrorDocument(int axes) {
  return std::string(kHeader) + "Object \"half\" {\r\n\tdepth 0\r\n\tmirror 1\r\n\tmirror_axis " +
         std::to_string(axes) +
         "\r\n\tvertex 6 {\r\n\t\t0 10 10\r\n\t\t40 20 10\r\n\t\t40 60 10\r\n\t\t0 50 10\r\n"
         "\t\t20 40 50\r\n\t\t20 20 40\r\n\t}\r\n\tface 4 {\r\n\t\t4 V(0 1 2 3)\r\n"
         "\t\t3 V(1 5 4)\r\n\t\t3 V(1 4 2)\r\n\t\t3 V(3 2 4)\r\n\t}\r\n}\r\nEof\r\n";
}

// A hexagonal prism of radius 40, height 60, capped, with a smoothing angle in degrees.
std::string PrismDocument(int facet) {
  std::string s = std::string(kHeader) + "Object \"prism\" {\r\n\tdepth 0\r\n\tfacet " +
                  std::to_string(facet) + "\r\n\tvertex 12 {\r\n";
  char line[128];
  for (int ring = 0; ring < 2; ++ring)
    for (int i = 0; i < 6; ++i) {
      const double a = i * 3.14159265358979 / 3;
      std::snprintf(line, sizeof(line), "\t\t%.4f %d %.4f\r\n", 40 * std::cos(a), ring ? 30 : -30,
                    40 * std::sin(a));
      s += line;
    }
  s += "\t}\r\n\tface 8 {\r\n";
  for (int i = 0; i < 6; ++i) {
    const int j = (i + 1) % 6;
    std::snprintf(line, sizeof(line), "\t\t4 V(%d %d %d %d)\r\n", i, j, j + 6, i + 6);
    s += line;
  }
  s += "\t\t4 V(0 1 2 3)\r\n\t\t4 V(9 8 7 6)\r\n\t}\r\n}\r\nEof\r\n";
  return s;
}

}  // namespace

void RunMqoDemo() {
  if (!StartDirect3DDemo()) return;  // the model system exists only in Direct3D mode
  MEMIMG img;
  if (MakeMemImg(&img, 640, 480, 1) == 0) {
    ClearWire(&img);
    const std::string folder = std::string(DEMO_TESTDATA_DIR) + "/models/mqo";
    const char* files[] = {"mirrored_multiple_axes.mqo", "multiple_materials.mqo",
                           "multiple_objects.mqo", "normal.mqo", "single_material_with_materialex2.mqo",
                           "single_object_with_edge.mqo", "texture.mqo", "scene.mqo", "simple.mqo"};
    int tile = 0;
    for (const char* f : files) {
      const WireView v{0.6f, 0.45f, 0.45f, 107.0f + 213.0f * (tile % 3), 80.0f + 160.0f * (tile / 3)};
      const int h = LoadDocument(ReadFile(folder + "/" + f), f, folder.c_str());
      std::printf("mqo: %s %s\n", f, h >= 0 ? "loaded" : "NOT loaded (see Log.txt)");
      DrawDocument(&img, h, v, 20.0f);
      ++tile;
    }
    SaveDemoPicture(&img, "mqo_files.png",
                    "Every MQO test document that loads, by rows: mirrored_multiple_axes (mirror 2, not\n"
                    "expanded), multiple_materials, multiple_objects / normal, materialex2, with_edge (its\n"
                    "2-vertex faces dropped) / texture, scene and simple (no objects: empty tiles).\n"
                    "Wireframes in the material colours, made normals in yellow.\n");

    ClearWire(&img);
    const int axes[3] = {1, 3, 7};
    for (int i = 0; i < 3; ++i) {
      const WireView v{0.5f, 0.35f, 1.8f, 107.0f + 213.0f * i, 240.0f};
      DrawDocument(&img, LoadDocument(MirrorDocument(axes[i]), "mirror", ""), v, 0.0f);
    }
    SaveDemoPicture(&img, "mqo_mirror.png",
                    "One half-shape with mirror 1 and, left to right, mirror_axis 1 (X: 2 copies), 3 (X and Y:\n"
                    "4 copies) and 7 (X, Y and Z: 8 copies); vertices on a mirror plane are shared.\n");

    ClearWire(&img);
    const int facets[2] = {30, 90};
    for (int i = 0; i < 2; ++i) {
      const WireView v{0.4f, 0.5f, 3.0f, 160.0f + 320.0f * i, 240.0f};
      DrawDocument(&img, LoadDocument(PrismDocument(facets[i]), "prism", ""), v, 15.0f);
    }
    SaveDemoPicture(&img, "mqo_facet.png",
                    "A hexagonal prism with its made normals (yellow). Left: facet 30, sides 60 degrees\n"
                    "apart keep hard edges. Right: facet 90, the sides are smoothed into one normal per\n"
                    "corner ring; the caps, at 90 degrees, stay apart.\n");
    TerminateMemImg(&img);
  }
  EndDirect3DDemo();
}
