// The demonstration: starts the engine in software mode, runs each drawing part (each draws into
// its own 32-bit and 16-bit surfaces and saves its pictures in the current folder), then draws one
// frame on the software screen through the graphs and the draw entry points, saves it as
// "screen.png" and ends the engine. Every picture gets a text legend beside it (demo_common.h).
// The Direct3D-mode parts look at what reached the stand-in device, so its call record and draw
// snapshots (off by default) are switched on for the whole run.
#include <cmath>
#include <cstdio>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/system/library.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/types.h>
#include <qzlib/graphics/draw_shapes.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/soft/entry_points.h>
#include <qzlib/platform/d3d_device.h>

namespace {

// A 64 x 64 graph: rings of colour with a transparent (black) corner cut.
int MakeDemoGraph() {
  BASEIMAGE image{};
  if (CreateXRGB8ColorBaseImage(64, 64, &image) != 0) return -1;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const int d = static_cast<int>(std::hypot(x - 31.5, y - 31.5));
      const bool cut = x + y < 20;
      SetPixelBaseImage(&image, x, y, cut ? 0 : (d * 40) & 255, cut ? 0 : 255 - d * 6,
                        cut ? 0 : (x * 4) & 255, 255);
    }
  const int handle = CreateGraphFromImageData(&image, nullptr, 1, 0, 1);
  ReleaseBaseImage(&image);
  return handle;
}

constexpr const char* kScreenLegend =
    "One frame on the 640 x 480 %d-bit software screen through graphs and the draw entry points.\n"
    "Columns, left to right: the blend modes NOBLEND, ALPHA, ADD, SUB, MUL, INVSRC, MULA,\n"
    "parameter 160.\n"
    "Rows, top to bottom:\n"
    "  1 a 64 x 64 graph (coloured rings; its black top-left corner cut is the transparent\n"
    "    colour, skipped) at 1:1, with a white outline box around it;\n"
    "  2 the graph stretched to 80 x 40; 3 rotated, scale 0.8; 4 on a free quadrangle;\n"
    "  5 a filled circle, 6 an oval outline, both tinted by the draw bright (255, 200, 120);\n"
    "  7 a filled triangle, tinted too.\n"
    "The engine's own behaviour, not faults:\n"
    "  - MUL and MULA columns, row 1: the white outline box does not show (multiplying by white\n"
    "    keeps the background).\n";

void DrawScreenFrame() {
  SetDrawScreen(DX_SCREEN_BACK);
  const int format = GetColorBitDepth() == 16 ? 0 : 1;
  DrawDemoBackground(SoftDrawTarget, format);
  const int graph = MakeDemoGraph();
  const GRAPH_RECORD* record = GetGraphRecord(graph);
  const int modes[] = {BLENDMODE::NOBLEND, BLENDMODE::ALPHA, BLENDMODE::ADD, BLENDMODE::SUB,
                       BLENDMODE::MUL,     BLENDMODE::INVSRC, BLENDMODE::MULA};
  for (int i = 0; i < 7; ++i) {
    const int x = 20 + i * 88;
    SetDrawBlendMode(modes[i], 160);
    SetDrawBright(255, 255, 255);
    if (record) {
      MemImgDrawGraph(x, 20, record, 1);
      MemImgDrawExtendGraph(x, 100, x + 80, 140, record, 1);
      MemImgDrawRotaGraph(static_cast<float>(x + 40), 190.0f, 0.8, 0.5 + i * 0.3, record, 1, 0);
      MemImgDrawModiGraph(x, 240, x + 70, 250, x + 10, 310, x + 80, 300, record, 1);
    }
    SetDrawBright(255, 200, 120);
    DrawCircle(x + 40, 350, 25, GetColor(40 * i, 180, 255 - 30 * i), 1);
    DrawOval(x + 40, 410, 35, 15, GetColor(255, 60 * i % 256, 90), 0);
    MemImgDrawTriangle(x, 470, x + 40, 430, x + 80, 470, GetColor(90, 255, 40 * i), 1);
    MemImgDrawLineBox(x, 20, x + 64, 84, GetColor(255, 255, 255));
  }
  SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
  SetDrawBright(255, 255, 255);
  DeleteGraph(graph);
}

}  // namespace

int main() {
  D3DStandIn().Recording = true;
  D3DStandIn().Snapshots = true;
  SetUse3DFlag(0);
  if (InitLibrary() != 0) {
    std::fprintf(stderr, "engine start failed; see Log.txt\n");
    return 1;
  }
  RunPlainBlitDemo();
  RunDrawersDemo();
  RunPolygonDemo();
  RunShapesDemo();
  DrawScreenFrame();
  if (SoftDrawTarget) SaveDemoPicture(SoftDrawTarget, "screen.png", kScreenLegend);
  else std::printf("screen.png: no software screen\n");
  EndLibrary();
  RunDirect3DDemo();
  RunModelDemo();
  RunModelLoadDemo();
  RunAnimDemo();
  RunReadModelDemo();
  RunCollisionDemo();
  RunMv1Demo();
  RunModelDrawDemo();
  RunImportDemo();
  RunMqoDemo();
  const size_t held = MemLiveBlockCount();
  std::printf("demo done; %zu tracked blocks held at end (listed in Log.txt)\n", held);
  return held == 0 ? 0 : 1;
}
