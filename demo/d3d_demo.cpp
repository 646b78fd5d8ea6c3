// The Direct3D-mode part of the demonstration: the engine runs over the recording stand-in
// device, draws 3-D shapes under three views, and the recorded draws are turned into pictures by
// the snapshot replayer of examples/support.
#include <cstdio>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/system/library.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/draw3d.h>
#include <qzlib/graphics/light.h>
#include "examples/support/d3d_replay.h"

namespace {

// The scene, in the plane z = 0 where one world unit is one pixel of the draw-screen view.
void DrawScene() {
  const int ns[4] = {0, 1, 8, 32};
  for (int i = 0; i < 4; ++i) {
    const float x = 90.0f + 150.0f * float(i);
    const int fill = 1;
    SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
    DrawSphere3D(VECTOR{x, 400, 0}, 45, ns[i], GetColor(255, 80 + 50 * i, 60), GetColor(0, 0, 0),
                 fill);
    DrawSphere3D(VECTOR{x + 60, 440, -30}, 18, ns[i], GetColor(255, 255, 255), 0, 0);
    DrawCapsule3D(VECTOR{x - 30, 250, 0}, VECTOR{x + 30, 300, 20}, 22, ns[i],
                  GetColor(60, 200, 120), 0, i % 2 ? 0 : 1);
    DrawCone3D(VECTOR{x, 200, -10}, VECTOR{x, 110, 30}, 40, ns[i], GetColor(90, 120, 255), 0,
               i == 3 ? 0 : 1);
  }
  for (int mode = 0; mode < 2; ++mode) {
    SetDrawBlendMode(mode ? BLENDMODE::ALPHA : BLENDMODE::NOBLEND, 128);
    const float x = 40.0f + 300.0f * float(mode);
    DrawTriangle3D(VECTOR{x, 20, -60}, VECTOR{x + 120, 90, -60}, VECTOR{x + 240, 20, -60},
                   GetColor(255, 220, 0), 1);
    DrawTriangle3D(VECTOR{x + 20, 30, -70}, VECTOR{x + 120, 80, -70}, VECTOR{x + 220, 30, -70},
                   GetColor(255, 0, 255), 0);
    for (int k = 0; k < 6; ++k)
      DrawLine3D(VECTOR{x, 100.0f + 8 * k, -80}, VECTOR{x + 250, 60.0f + 12 * k, -80},
                 GetColor(40 * k, 255 - 40 * k, 200));
  }
  SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
}

// What every picture of this part shows; %s takes the view.
constexpr const char* kSceneLegend =
    "3-D shapes drawn in Direct3D mode over the stand-in device and replayed over the\n"
    "demonstration background, %s.\n"
    "Columns, left to right: division counts 0, 1, 8 and 32.\n"
    "Rows, top to bottom: a filled sphere of radius 45 (red to yellow) with a small white\n"
    "wireframe sphere above its right; a capsule (green; filled in columns 1 and 3, wireframe\n"
    "in 2 and 4); a cone (blue; filled, wireframe in column 4).\n"
    "Bottom: a filled yellow triangle, a magenta outline triangle inside it and six lines,\n"
    "drawn in NOBLEND at the left and in ALPHA at 128 at the right (half over the background).\n"
    "Lit by a directional light along (0.4, -0.6, 1) of diffuse 0.8, a point light at\n"
    "(600, 500, -200) and the global ambient (0.25, 0.25, 0.3); back faces culled. Wireframes\n"
    "and lines are unlit, in their own colours; a shape near the picture's side is stretched\n"
    "by the perspective.\n";

// Draws the scene, replays what reached the device and saves the picture with its legend.
void RenderView(const char* path, const char* view) {
  D3DObjects.Device->ClearRecord();
  DrawScene();
  MEMIMG picture{};
  if (MakeMemImg(&picture, 640, 480, 1) != 0) return;
  DrawDemoBackground(&picture, 1);
  const ReplayStats s = ReplayDraws(D3DObjects.Device->Draws(), &picture);
  std::printf("%s: %d triangles, %d lines, %d back faces, %d behind\n", path, s.Triangles, s.Lines,
              s.Culled, s.Clipped);
  char legend[2048];
  std::snprintf(legend, sizeof legend, kSceneLegend, view);
  SaveDemoPicture(&picture, path, legend);
  TerminateMemImg(&picture);
}

}  // namespace

void RunDirect3DDemo() {
  if (!StartDirect3DDemo()) return;
  ChangeLightTypeDir(VECTOR{0.4f, -0.6f, 1});
  SetLightDifColor(COLOR_F{0.8f, 0.8f, 0.8f, 1});
  CreatePointLightHandle(VECTOR{600, 500, -200}, 3000, 0.6f, 0.0005f, 0);
  SetGlobalAmbientLight(COLOR_F{0.25f, 0.25f, 0.3f, 1});
  SetCullMode(1);
  RenderView("d3d_screen_view.png",
             "under the draw-screen view (world x, y in pixels, y up: the scene lies in the plane\n"
             "z = 0 where one unit is one pixel)");
  SetCameraPositionAndTargetUpVecY(VECTOR{320, 900, -500}, VECTOR{320, 250, 0});
  RenderView("d3d_from_above.png",
             "seen from above and in front: the camera at (320, 900, -500) looking at (320, 250, 0)");
  SetDrawScreen(DX_SCREEN_BACK);
  SetCameraDotScreenCenter(220, 170);
  RenderView("d3d_moved_centre.png",
             "under the draw-screen view with the screen centre moved from (320, 240) to\n"
             "(220, 170): the whole scene 100 pixels left and 70 up of the first picture");
  EndDirect3DDemo();
}
