// Shapes demonstration: filled and outlined circles and ovals, and outline boxes, triangles and
// quadrangles (line lists), in every blend mode of the shape drawers, on a 32-bit and a 16-bit
// software screen; saves "shapes_demo_32.png" and "shapes_demo_16.png".
#include <cstdio>
#include <initializer_list>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/base/types.h>
#include <qzlib/graphics/draw_shapes.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/entry_points.h>
#include <qzlib/soft/memimg.h>

namespace {

constexpr const char* kLegend =
    "Circles, ovals and outline shapes (the shape drawers) on a 640 x 480 %d-bit surface.\n"
    "Rows, top to bottom: the blend modes NOBLEND, ALPHA, ADD, SUB, MUL, INVSRC, MULA, parameter\n"
    "160.\n"
    "Columns, left to right:\n"
    "  1 a filled circle, radius 30; 2 a circle outline; 3 a filled oval 50 x 22;\n"
    "  4 a filled oval 18 x 32; 5 a white oval outline;\n"
    "  6 a white filled circle tinted by the draw bright (255, 128, 64);\n"
    "  7 an outline box; 8 an outline triangle; 9 an outline quadrangle (line lists).\n"
    "The engine's own behaviour, not faults:\n"
    "  - MUL and MULA rows, column 5: the white outline is invisible (multiplying by white keeps\n"
    "    the background).\n"
    "  - INVSRC row, column 6: the tinted white circle is blue, not black: a flat colour is\n"
    "    tinted first and the tinted colour inverted.\n";

}  // namespace

void RunShapesDemo() {
  InitMemImgBlendTable();
  const int modes[] = {BLENDMODE::NOBLEND, BLENDMODE::ALPHA, BLENDMODE::ADD,   BLENDMODE::SUB,
                       BLENDMODE::MUL,     BLENDMODE::INVSRC, BLENDMODE::MULA};
  for (int format : {1, 0}) {
    MEMIMG screen{};
    if (MakeMemImg(&screen, 640, 480, format) != 0) {
      std::printf("shapes demo: no %d-bit screen\n", format == 1 ? 32 : 16);
      continue;
    }
    SetSoftDrawTarget(&screen);
    DrawDemoBackground(&screen, format);
    for (int i = 0; i < 7; ++i) {
      const int y = 34 + i * 68;
      SetDrawBlendMode(modes[i], 160);
      SetDrawBright(255, 255, 255);
      DrawCircle(40, y, 30, DemoColor(format, 255, 200, 40), 1);
      DrawCircle(110, y, 30, DemoColor(format, 40, 255, 120), 0);
      DrawOval(200, y, 50, 22, DemoColor(format, 250, 80, 160), 1);
      DrawOval(290, y, 18, 32, DemoColor(format, 120, 140, 255), 1);
      DrawOval(350, y, 30, 12, DemoColor(format, 255, 255, 255), 0);
      SetDrawBright(255, 128, 64);  // tinted
      DrawCircle(410, y, 24, DemoColor(format, 255, 255, 255), 1);
      SetDrawBright(255, 255, 255);
      MemImgDrawLineBox(445, y - 28, 505, y + 28, DemoColor(format, 255, 255, 0));
      MemImgDrawTriangle(515, y + 28, 545, y - 28, 575, y + 28, DemoColor(format, 0, 255, 255), 0);
      MemImgDrawQuadrangle(585, y - 20, 630, y - 28, 590, y + 28, 636, y + 20, DemoColor(format, 255, 0, 255), 0);
    }
    SaveDemoPicture(&screen, format == 1 ? "shapes_demo_32.png" : "shapes_demo_16.png", kLegend);
    SetSoftDrawTarget(nullptr);
    TerminateMemImg(&screen);
  }
  SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
  SetDrawBright(255, 255, 255);
}
