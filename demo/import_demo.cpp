// The importer part of the demonstration: X and PMD files of the test data (ENGINE_TESTDATA_DIR)
// loaded with MV1LoadModel, posed through the animation runtime and drawn with MV1DrawModel in
// Direct3D mode over the stand-in device; the recorded draws are replayed into pictures.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demo_model.h"
#include "demo/demos.h"
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/light.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/soft/memimg.h>

namespace {

const std::string kModels = std::string(DEMO_TESTDATA_DIR) + "/models/";

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

// Frames the box from the given direction and turns the default light to fall from behind the
// camera and above, so that the side in view is the lit one. The legends of Single and Sheet end
// with kLightingNote.
void FrameAndLight(VECTOR lo, VECTOR hi, VECTOR from) {
  FrameBox(lo, hi, from);
  SetLightDirection(VECTOR{-from.x, -from.y - 0.6f, -from.z});
}
constexpr const char* kLightingNote =
    "Lit by the default light, turned to fall from behind the camera and above; each triangle is\n"
    "replayed flat in its corners' mean lit colour, times its texture.\n";

int LoadOrSay(const std::string& path) {
  int h = MV1LoadModel((path.rfind('/', 0) == 0 ? path : kModels + path).c_str());
  if (h < 0) std::printf("%s: not loaded (test data absent?)\n", path.c_str());
  return h;
}

// A temporary folder holding a PMD model, its texture folder and one motion renamed
// "<model>000.vmd", the name under which the loader finds a model's first motion; the data
// files stay as they are. Removed with the object.
struct PmdWithMotion {
  std::filesystem::path dir;
  PmdWithMotion(const std::string& model, const std::string& textures, const std::string& motion) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "qzlib_demo_XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    dir = pattern;
    const fs::path from = fs::path(kModels) / model;
    std::error_code e;
    fs::copy_file(from, dir / from.filename(), e);
    if (!e) fs::copy(from.parent_path() / textures, dir / textures, fs::copy_options::recursive, e);
    if (!e) fs::copy_file(fs::path(kModels) / motion, dir / (from.stem().string() + "000.vmd"), e);
    if (e) std::printf("%s: not copied (%s)\n", model.c_str(), e.message().c_str());
  }
  ~PmdWithMotion() {
    std::error_code e;
    if (!dir.empty()) std::filesystem::remove_all(dir, e);
  }
  std::string Model(const std::string& model) const {
    return (dir / std::filesystem::path(model).filename()).string();
  }
};

// One model drawn alone into a 640 x 480 picture.
void Single(const std::string& relative, VECTOR from, VECTOR rotate, const char* picture,
            const char* legend) {
  int h = LoadOrSay(relative);
  if (h < 0) return;
  MV1SetRotationXYZ(h, rotate);
  VECTOR lo, hi;
  PosedBox(h, &lo, &hi);
  FrameAndLight(lo, hi, from);
  MEMIMG img{};
  if (MakeMemImg(&img, kTileW, kTileH, 1) == 0) {
    D3DObjects.Device->ClearRecord();
    MV1DrawModel(h);
    ReplayInto(&img, 0, 0, kTileW, kTileH, kBackground);
    SaveDemoPicture(&img, picture, (std::string(legend) + kLightingNote).c_str());
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
      FrameAndLight(lo, hi, from);
    }
    D3DObjects.Device->ClearRecord();
    MV1DrawModel(h);
    int x = tw * (static_cast<int>(i) % cols), y = th * (static_cast<int>(i) / cols);
    ReplayInto(&sheet, x, y, tw, th, kBackground);
    for (int f : dots) Dot(&sheet, x, y, tw, th, MV1GetFramePosition(h, f), 0x00FF3030);
  }
  MV1DetachAnim(h, attach);
  SaveDemoPicture(&sheet, picture, (std::string(legend) + kLightingNote).c_str());
  TerminateMemImg(&sheet);
}

}  // namespace

void RunImportDemo() {
  if (!StartDirect3DDemo()) return;
  SetCameraNearFar(1, 10000);

  // X files.
  Single("x/tiger.x", VECTOR{0.5f, 0.4f, -0.77f}, VECTOR{0, 0, 0}, "import_x_tiger.png",
         "tiger.x (text X, float size 0064) loaded with MV1LoadModel, textured with tiger.bmp\n"
         "beside it, drawn with MV1DrawModel and replayed.\n");
  {
    int h = LoadOrSay("x/lobby_skybox.x");
    if (h >= 0) {
      MEMIMG sheet{};
      if (MakeMemImg(&sheet, 640, 480, 1) == 0) {
        const VECTOR looks[4] = {{0, 0, 1}, {1, 0, 0}, {0, 0, -1}, {-1, 0, 0}};
        SetUseLighting(0);  // a sky box shows its pictures as they are
        for (int k = 0; k < 4; ++k) {
          SetCameraNearFar(0.5f, 1000);
          SetCameraPositionAndTargetUpVecY(VECTOR{0, 0, 0}, looks[k]);
          D3DObjects.Device->ClearRecord();
          MV1DrawModel(h);
          ReplayInto(&sheet, 320 * (k % 2), 240 * (k / 2), 320, 240, kBackground);
        }
        SetUseLighting(1);
        SaveDemoPicture(&sheet, "import_x_lobby_skybox.png",
                        "lobby_skybox.x seen from its centre toward +z, +x, -z and -x (left to right,\n"
                        "top to bottom), drawn with lighting off (SetUseLighting(0)): six faces whose\n"
                        "textures are named LobbyYPos.jpg and the like and found as lobbyypos.JPG\n"
                        "despite the case.\n");
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
    // The data's Gene000.vmd keys every bone at frame 0 alone: the sheet takes a motion whose
    // bones move, copied beside a copy of the model under the name the loader looks for.
    const PmdWithMotion gene("pmd/Gene.pmd", "tex", "vmd/gene_26_mortifying.vmd");
    int h = LoadOrSay(gene.Model("pmd/Gene.pmd"));
    if (h >= 0) {
      Sheet(h, 0, {0, 60, 120, 180, 240, 300}, 3, VECTOR{0, 0.1f, -1}, "import_pmd_gene_pose.png",
            "Gene.pmd posed by gene_26_mortifying.vmd (copied with the model and its tex folder into\n"
            "a temporary folder as Gene000.vmd, the name the loader looks for; IK chains baked) at\n"
            "frames 0, 60, 120, 180, 240 and 300, left to right, top to bottom. The motion's morph\n"
            "keys set shape weights, which every draw applies. Eight of its ten texture files are\n"
            "absent from the test data and draw white; the two present ones (tex/pale.png and\n"
            "tex/iraira.png, on the head) carry alpha and are blended by it.\n");
      int goals[] = {MV1SearchFrame(h, "\x8D\xB6\x91\xAB\x82\x68\x82\x6A"),   // left foot IK
                     MV1SearchFrame(h, "\x89\x45\x91\xAB\x82\x68\x82\x6A")};  // right foot IK
      std::vector<int> dots;
      for (int g : goals)
        if (g >= 0) dots.push_back(g);
      Sheet(h, 0, {0, 150, 300}, 3, VECTOR{0.6f, 0.1f, -0.8f}, "import_pmd_gene_legs.png",
            "Close-ups of Gene.pmd's legs under gene_26_mortifying.vmd (as in import_pmd_gene_pose)\n"
            "at frames 0, 150 and 300, each foot's IK goal bone marked by a red dot: the baked\n"
            "chains put the ankles on their goals.\n",
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
