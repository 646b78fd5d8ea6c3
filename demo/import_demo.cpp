// The importer part of the demonstration: X and PMD files of the shared test data loaded with
// MV1LoadModel, posed through the animation runtime and drawn with MV1DrawModel in Direct3D mode
// over the stand-in device; the recorded draws are replayed into pictures.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demo_model.h"
#include "demo/demos.h"
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/soft/memimg.h>

namespace {

// The shared test data beside the source tree.
const std::string kModels = [] {
  std::string src = __FILE__;
  return src.substr(0, src.rfind('/')) + "/../../shared/testdata/models/";
}();

constexpr int kTileW = 640, kTileH = 480;

// A square dot of the given colour at a world position, projected as the last draw was.
void Dot(MEMIMG* img, int x0, int y0, int w, int h, VECTOR p, uint32_t color) {
  const MATRIX& m = ViewMatrices.ViewProjection;
  float cx = p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0];
  float cy = p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1];
  float cw = p.x * m.m[0][3] + p.y * m.m[1][3] + p.z * m.m[2][3] + m.m[3][3];
  if (cw <= 0) return;
  int sx = x0 + static_cast<int>((cx / cw + 1) * 0.5f * w), sy = y0 + static_cast<int>((1 - cy / cw) * 0.5f * h);
  for (int y = sy - 3; y <= sy + 3; ++y)
    for (int x = sx - 3; x <= sx + 3; ++x)
      if (x >= 0 && y >= 0 && x < img->Width && y < img->Height)
        std::memcpy(img->Pixels + size_t(y) * img->Base->Pitch + 4 * size_t(x), &color, 4);
  MemImgMarkPixelsChanged(img);
}

const uint32_t kBackground = kModelBackground;

int LoadOrSay(const std::string& relative) {
  int h = MV1LoadModel((kModels + relative).c_str());
  if (h < 0) std::printf("%s: not loaded (test data absent?)\n", relative.c_str());
  return h;
}

// One model drawn alone into a 640 x 480 picture.
void Single(const std::string& relative, VECTOR from, VECTOR rotate, const char* picture,
            const char* legend) {
  int h = LoadOrSay(relative);
  if (h < 0) return;
  MV1SetRotationXYZ(h, rotate);
  VECTOR lo, hi;
  PosedBox(h, &lo, &hi);
  FrameBox(lo, hi, from);
  MEMIMG img{};
  if (MakeMemImg(&img, kTileW, kTileH, 1) == 0) {
    D3DObjects.Device->ClearRecord();
    MV1DrawModel(h);
    ReplayInto(&img, 0, 0, kTileW, kTileH, kBackground);
    SaveDemoPicture(&img, picture, legend);
    TerminateMemImg(&img);
  }
  MV1DeleteModel(h);
}

// A sheet of cols x rows tiles of 320 x 240, the model posed by anim at the given times, the
// camera fitted to the pose of the first time and kept. With dots, each IK goal frame (named
// in dots) is marked.
void Sheet(int h, int anim, const std::vector<float>& times, int cols, VECTOR from, const char* picture,
           const char* legend, const std::vector<int>& dots = {}, float zoom = 1.0f) {
  const int tw = 320, th = 240, rows = (static_cast<int>(times.size()) + cols - 1) / cols;
  MEMIMG sheet{};
  if (MakeMemImg(&sheet, tw * cols, th * rows, 1) != 0) return;
  ClearMemImg(&sheet, nullptr, kBackground);
  int attach = MV1AttachAnim(h, anim, -1, 0);
  for (size_t i = 0; i < times.size(); ++i) {
    MV1SetAttachAnimTime(h, attach, times[i]);
    if (i == 0) {
      VECTOR lo, hi;
      PosedBox(h, &lo, &hi);
      if (zoom != 1.0f) {  // the lower part of the box only (the legs)
        hi.y = lo.y + (hi.y - lo.y) * zoom;
      }
      FrameBox(lo, hi, from);
    }
    D3DObjects.Device->ClearRecord();
    MV1DrawModel(h);
    int x = tw * (static_cast<int>(i) % cols), y = th * (static_cast<int>(i) / cols);
    ReplayInto(&sheet, x, y, tw, th, kBackground);
    for (int f : dots) Dot(&sheet, x, y, tw, th, MV1GetFramePosition(h, f), 0x00FF3030);
  }
  MV1DetachAnim(h, attach);
  SaveDemoPicture(&sheet, picture, legend);
  TerminateMemImg(&sheet);
}

}  // namespace

void RunImportDemo() {
  if (!StartDirect3DDemo()) return;
  SetCameraNearFar(1, 10000);

  // X files.
  Single("x/tiger.x", VECTOR{0.5f, 0.4f, -0.77f}, VECTOR{0, 0, 0}, "import_x_tiger.png",
         "tiger.x (text X, float size 0064) loaded with MV1LoadModel, textured with tiger.bmp\n"
         "beside it, drawn with MV1DrawModel and replayed flat-lit.\n");
  {
    int h = LoadOrSay("x/lobby_skybox.x");
    if (h >= 0) {
      MEMIMG sheet{};
      if (MakeMemImg(&sheet, 640, 480, 1) == 0) {
        const VECTOR looks[4] = {{0, 0, 1}, {1, 0, 0}, {0, 0, -1}, {-1, 0, 0}};
        for (int k = 0; k < 4; ++k) {
          SetCameraNearFar(0.5f, 1000);
          SetCameraPositionAndTargetUpVecY(VECTOR{0, 0, 0}, looks[k]);
          D3DObjects.Device->ClearRecord();
          MV1DrawModel(h);
          ReplayInto(&sheet, 320 * (k % 2), 240 * (k / 2), 320, 240, kBackground);
        }
        SaveDemoPicture(&sheet, "import_x_lobby_skybox.png",
                        "lobby_skybox.x seen from its centre toward +z, +x, -z and -x (left to right,\n"
                        "top to bottom): six faces whose textures are named LobbyYPos.jpg and the like\n"
                        "and found as lobbyypos.JPG despite the case.\n");
        TerminateMemImg(&sheet);
      }
      MV1DeleteModel(h);
    }
  }
  {
    int h = LoadOrSay("x/tiny_4anim.x");
    if (h >= 0) {
      MV1SetRotationXYZ(h, VECTOR{-1.5707964f, 0, 0});  // the file's up axis is +z
      int walk = MV1GetAnimIndex(h, "Walk");
      float total = MV1GetAnimTotalTime(h, walk);
      std::vector<float> times;
      for (int k = 0; k < 8; ++k) times.push_back(total * k / 8);
      Sheet(h, walk, times, 4, VECTOR{0.9f, 0.2f, -0.38f}, "import_x_tiny_walk.png",
            "tiny_4anim.x's \"Walk\" set at eight times over its length (left to right, top to\n"
            "bottom), played through the animation runtime; skinned on the fixed-function path and\n"
            "textured with tiny\\\\Tiny_skin.dds as the file names it.\n");
      MV1DeleteModel(h);
    }
  }
  Single("x/test_cube_binary.x", VECTOR{0.55f, 0.45f, -0.7f}, VECTOR{0, 0, 0}, "import_x_skinned_cube.png",
         "test_cube_binary.x (binary X with skin weights, its SkinWeights template definitions\n"
         "skipped whole) loaded and drawn through its skinned path.\n");

  // PMD models and VMD motions.
  {
    int h = LoadOrSay("pmd/Gene.pmd");
    if (h >= 0) {
      Sheet(h, 0, {0, 15, 75, 150, 285, 300}, 3, VECTOR{0, 0.1f, -1}, "import_pmd_gene_pose.png",
            "Gene.pmd posed by Gene000.vmd (every bone key at frame 0, its IK chains baked) at\n"
            "frames 0, 15, 75, 150, 285 and 300. The morph keys drive shape weights, which no\n"
            "drawing applies yet; eight of its ten texture files are absent and draw white.\n");
      int goals[] = {MV1SearchFrame(h, "\x8D\xB6\x91\xAB\x82\x68\x82\x6A"),   // left foot IK
                     MV1SearchFrame(h, "\x89\x45\x91\xAB\x82\x68\x82\x6A")};  // right foot IK
      std::vector<int> dots;
      for (int g : goals)
        if (g >= 0) dots.push_back(g);
      Sheet(h, 0, {0, 150, 300}, 3, VECTOR{0.6f, 0.1f, -0.8f}, "import_pmd_gene_legs.png",
            "Close-ups of Gene.pmd's legs under Gene000.vmd at frames 0, 150 and 300, each foot's\n"
            "IK goal bone marked by a red dot: the baked chains put the ankles on their goals.\n",
            dots, 0.45f);
      MV1DeleteModel(h);
    }
  }
  {
    int h = LoadOrSay("pmd/menu.pmd");
    if (h >= 0) {
      float total = MV1GetAnimTotalTime(h, 0);
      std::vector<float> times;
      for (int k = 0; k < 6; ++k) times.push_back(total * k / 6);
      Sheet(h, 0, times, 3, VECTOR{0, 0.2f, -1}, "import_pmd_menu.png",
            "menu.pmd turning through menu000.vmd at six times over its length (its texture files\n"
            "are absent from the test data and draw white).\n");
      MV1DeleteModel(h);
    }
  }
  EndDirect3DDemo();
}
