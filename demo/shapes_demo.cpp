// Shapes demonstration: filled and outlined circles and ovals, and outline boxes, triangles and
// quadrangles (line lists), in every blend mode of the shape drawers, on a 32-bit and a 16-bit
// software screen; saves "shapes_demo_32.png" and "shapes_demo_16.png".
#include <cstdio>
#include <initializer_list>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include "engine/base/types.h"
#include "engine/graphics/draw_shapes.h"
#include "engine/graphics/draw_state.h"
#include "engine/image/baseimage.h"
#include "engine/soft/blend_tables.h"
#include "engine/soft/entry_points.h"
#include "engine/soft/memimg.h"

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
    const char* path = format == 1 ? "shapes_demo_32.png" : "shapes_demo_16.png";
    std::printf("shapes demo: %s %s\n", path, SaveMemImgPicture(&screen, path) ? "saved" : "not saved");
    SetSoftDrawTarget(nullptr);
    TerminateMemImg(&screen);
  }
  SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
  SetDrawBright(255, 255, 255);
}
