// Models: start the engine in 3-D mode, load an X model with its texture, a PMD model with the
// motion found beside it and an MQO document, play the PMD's motion for a few frames, probe each
// posed model with a line, and save a picture of each (the stand-in device's draw snapshots
// replayed by support/d3d_replay.h), printing the share of its pixels that differ from the
// background. Fails when a model does not load, a probe misses or a picture holds less than
// kMinShare of model pixels.
// Usage: qzlib_example_models [data folder (default: the repository's test data)] [output folder]
#include <cstdio>
#include <cstring>
#include <string>

#include <qzlib/qzlib.h>

#include "support/d3d_replay.h"

namespace {

constexpr double kMinShare = 0.02;        // of the picture's pixels
constexpr uint32_t kBackground = 0x303844;  // 0x00RRGGBB
constexpr int kWidth = 640, kHeight = 480;

// The box of the model as posed now: its transformed reference mesh holds it.
void PosedBox(int h, VECTOR* lo, VECTOR* hi) {
  MV1SetupReferenceMesh(h, -1, 1);
  MV1RefreshReferenceMesh(h, -1, 1);
  const MV1_REF_POLYGONLIST ref = MV1GetReferenceMesh(h, -1, 1);
  *lo = ref.MinPosition, *hi = ref.MaxPosition;
  MV1TerminateReferenceMesh(h, -1, 1);
}

// Looks at the box from the front left and above (y is up, z runs away from the viewer), from
// far enough to see all of it in the 60-degree view; the default light falls on this side.
void LookAt(VECTOR lo, VECTOR hi) {
  const VECTOR centre{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
  const float distance = VSize(VECTOR{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z});
  const VECTOR from = VNorm(VECTOR{-0.5f, 0.4f, -1});
  SetCameraPositionAndTargetUpVecY(
      VECTOR{centre.x + from.x * distance, centre.y + from.y * distance, centre.z + from.z * distance}, centre);
  SetCameraNearFar(distance * 0.02f, distance * 4);
}

// Draws the model, replays the recorded draws over the background into a picture saved as a
// PNG, and returns the share of its pixels that differ from the background (-1: not saved).
double SavePicture(int h, const std::string& path) {
  D3DObjects.Device->ClearRecord();
  MV1DrawModel(h);
  MEMIMG screen{};
  BASEIMAGE shot{};
  if (MakeMemImg(&screen, kWidth, kHeight, MEMIMG_FORMAT_XRGB8) != 0) return -1;
  ClearMemImg(&screen, nullptr, kBackground);
  ReplayDraws(D3DObjects.Device->Draws(), &screen);
  long differ = 0;
  bool saved = CreateXRGB8ColorBaseImage(kWidth, kHeight, &shot) == 0;
  for (int y = 0; saved && y < kHeight; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(screen.Pixels + y * screen.Base->Pitch);
    for (int x = 0; x < kWidth; ++x) differ += (row[x] & 0xFFFFFF) != kBackground;
    std::memcpy(static_cast<char*>(shot.GraphData) + y * shot.Pitch, row, kWidth * 4);
  }
  saved = saved && SaveBaseImageToPng(path.c_str(), &shot, 6) == 0;
  ReleaseBaseImage(&shot);
  TerminateMemImg(&screen);
  return saved ? double(differ) / (kWidth * kHeight) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string data = std::string(argc > 1 ? argv[1] : QZLIB_EXAMPLE_DATA) + "/models/";
  const std::string out = argc > 2 ? std::string(argv[2]) + "/" : "";
  // The model system exists in 3-D mode only, which is chosen before the engine starts.
  SetUse3DFlag(1);
  SetGraphMode(kWidth, kHeight, 32);
  if (InitLibrary() != 0) return std::puts("engine start failed; see Log.txt (Shift_JIS)"), 1;
  // The stand-in device keeps a snapshot of each draw only when asked: the pictures need them.
  D3DStandIn().Snapshots = true;

  const char* const models[][2] = {{"x/tiger.x", "tiger.png"},     // tiger.bmp beside it
                                   {"pmd/Gene.pmd", "gene.png"},   // Gene000.vmd beside it
                                   {"mqo/texture.mqo", "mqo.png"}};  // texture.png beside it
  int failures = 0;
  for (const auto& [file, picture] : models) {
    const int h = MV1LoadModel((data + file).c_str());
    if (h < 0) {
      std::printf("%s: not loaded; see Log.txt\n", file);
      ++failures;
      continue;
    }
    // A PMD's motions, <model>000.vmd, 001 ... beside it, are its anims; times are in the
    // file's units (frames, 30 a second, for a VMD).
    if (MV1GetAnimNum(h) > 0) {
      const int attach = MV1AttachAnim(h, 0, -1, 0);
      for (int frame = 0; frame <= 4; ++frame) MV1SetAttachAnimTime(h, attach, float(frame * 15));
      std::printf("%s: anim 0 of %d, %.0f frames long, played to frame %.0f\n", file,
                  MV1GetAnimNum(h), MV1GetAnimTotalTime(h, 0), MV1GetAttachAnimTime(h, attach));
    }
    VECTOR lo, hi;
    PosedBox(h, &lo, &hi);
    // A line down through the middle of the posed model; the collision data follow the pose
    // only once refreshed.
    MV1RefreshCollInfo(h, -1);
    const VECTOR mid{(lo.x + hi.x) / 2, 0, (lo.z + hi.z) / 2};
    const MV1_COLL_RESULT_POLY hit =
        MV1CollCheck_Line(h, -1, VECTOR{mid.x, hi.y + 1, mid.z}, VECTOR{mid.x, lo.y - 1, mid.z});
    if (hit.HitFlag)
      std::printf("%s: the line down through x %.2f, z %.2f hits frame %d at y %.2f (top %.2f)\n", file,
                  mid.x, mid.z, hit.FrameIndex, hit.HitPosition.y, hi.y);
    else
      std::printf("%s: the line down through the middle hits nothing\n", file), ++failures;
    LookAt(lo, hi);
    const double share = SavePicture(h, out + picture);
    std::printf("%s: %s, %.1f%% of its pixels show the model (at least %.0f%% expected)\n", file,
                share < 0 ? "picture NOT saved" : (out + picture).c_str(), 100 * share, 100 * kMinShare);
    failures += share < kMinShare;
    MV1DeleteModel(h);
  }
  EndLibrary();
  return failures == 0 ? 0 : 1;
}
