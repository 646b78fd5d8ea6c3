// Drawers demonstration: the stretched blit, the rotated blit, points, filled boxes and lines, one
// column per blend mode, on a 32-bit and a 16-bit software surface; saves "drawers_demo_32.png"
// and "drawers_demo_16.png".
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/base/types.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/memimg.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/stretch_blit.h>

namespace {

constexpr int kCell = 96;
const int kModes[] = {BLENDMODE::NOBLEND, BLENDMODE::ALPHA,  BLENDMODE::ADD, BLENDMODE::SUB,
                      BLENDMODE::MUL,     BLENDMODE::INVSRC, BLENDMODE::MULA};
constexpr int kModeCount = sizeof(kModes) / sizeof(kModes[0]);

constexpr const char* kLegend =
    "The stretched and rotated blits, points, boxes and lines on a 672 x 480 %d-bit surface.\n"
    "Columns, left to right: the blend modes NOBLEND, ALPHA, ADD, SUB, MUL, INVSRC, MULA,\n"
    "parameter 170; each cell clips its own drawing.\n"
    "Rows, top to bottom:\n"
    "  1 a 24 x 16 sprite (its top-left corner is the colour key, skipped) stretched to double\n"
    "    size, and stretched mirrored in both directions;\n"
    "  2 the sprite rotated by 30 degrees at scale 1.5 and by 120 degrees at scale 2;\n"
    "  3 single points on a spiral;\n"
    "  4 a blue filled box, and a white one tinted by the draw bright (128, 255, 128);\n"
    "  5 a fan of lines running out of the cell.\n"
    "The engine's own behaviour, not faults:\n"
    "  - INVSRC column, row 4: the tinted white box comes out magenta. The flat drawers tint the\n"
    "    colour first and invert the tinted colour (white tinted green, inverted: magenta);\n"
    "    the blits invert the source first and tint after.\n";

// A 24 x 16 sprite: a colour ramp with a border, its top-left quarter in the colour key.
bool MakeSprite(MEMIMG* img, int format) {
  if (MakeMemImg(img, 24, 16, format) != 0) return false;
  const uint32_t key = DemoColor(format, 255, 0, 255);
  img->Base->TransColor = key;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 24; ++x) {
      bool border = x == 0 || y == 0 || x == 23 || y == 15;
      uint32_t c =
          border ? DemoColor(format, 250, 250, 40) : DemoColor(format, x * 10, 255 - y * 15, 120 + y * 8);
      if (x < 8 && y < 6) c = key;
      RECT px{x, y, x + 1, y + 1};
      ClearMemImg(img, &px, c);
    }
  return true;
}

void DrawAll(MEMIMG* screen, const MEMIMG* sprite, int format) {
  // Background: a checkerboard of two greys under a colour band per row.
  DrawBlendMode = BLENDMODE::NOBLEND;
  DrawBright = 0xFFFFFF;
  DrawArea = {0, 0, screen->Width, screen->Height};
  for (int y = 0; y < screen->Height; y += 12)
    for (int x = 0; x < screen->Width; x += 12) {
      RECT r{x, y, x + 12, y + 12};
      int v = ((x + y) / 12) % 2 ? 90 : 170;
      DrawFillBoxMemImg(screen, &r, DemoColor(format, v, v + (y * 60) / screen->Height, v));
    }
  for (int m = 0; m < kModeCount; ++m) {
    const int left = m * kCell;
    DrawBlendMode = kModes[m];
    DrawBlendParam = 170;
    // Row 0: stretched, doubled and mirrored, with the colour key.
    DrawArea = {left, 0, left + kCell, kCell};
    RECT up{left + 4, 8, left + 52, 40}, mirrored{left + 92, 44, left + 44, 92};
    DrawExtendMemImg(screen, sprite, &up, 1, nullptr);
    DrawExtendMemImg(screen, sprite, &mirrored, 1, nullptr);
    // Row 1: rotated by 30 and 120 degrees at scales 1.5 and 2.
    DrawArea = {left, kCell, left + kCell, 2 * kCell};
    DrawRotaMemImg(screen, sprite, left + 30, kCell + 30, 0.5235988f, 1.5f, 1, 0, nullptr);
    DrawRotaMemImg(screen, sprite, left + 62, kCell + 64, 2.0943951f, 2.0f, 1, 0, nullptr);
    // Row 2: points on a spiral.
    DrawArea = {left, 2 * kCell, left + kCell, 3 * kCell};
    for (int i = 0; i < 400; ++i) {
      double a = i * 0.15, r = i * 0.11;
      DrawPixelMemImg(screen, left + 48 + int(r * std::cos(a)),
                      2 * kCell + 48 + int(r * std::sin(a)),
                      DemoColor(format, 255, 255 - i / 2, i / 2));
    }
    // Row 3: boxes, the second tinted.
    DrawArea = {left, 3 * kCell, left + kCell, 4 * kCell};
    RECT b1{left + 8, 3 * kCell + 8, left + 60, 3 * kCell + 60};
    RECT b2{left + 88, 3 * kCell + 88, left + 36, 3 * kCell + 36};
    DrawFillBoxMemImg(screen, &b1, DemoColor(format, 40, 160, 255));
    DrawBright = 0x80FF80;
    DrawFillBoxMemImg(screen, &b2, DemoColor(format, 255, 255, 255));
    DrawBright = 0xFFFFFF;
    // Row 4: a fan of lines, clipped to the cell.
    DrawArea = {left, 4 * kCell, left + kCell, 5 * kCell};
    for (int i = 0; i < 24; ++i) {
      double a = i * 3.14159265 / 12;
      DrawLineMemImg(screen, left + 48, 4 * kCell + 48, left + 48 + int(70 * std::cos(a)),
                     4 * kCell + 48 + int(70 * std::sin(a)), DemoColor(format, 255, i * 10, 40));
    }
  }
}

}  // namespace

void RunDrawersDemo() {
  const RECT savedArea = DrawArea;
  const int savedMode = DrawBlendMode, savedParam = DrawBlendParam;
  const uint32_t savedBright = DrawBright;
  InitMemImgBlendTable();
  for (int format : {1, 0}) {
    MEMIMG screen{}, sprite{};
    if (MakeMemImg(&screen, kModeCount * kCell, 5 * kCell, format) != 0) continue;
    if (MakeSprite(&sprite, format)) {
      DrawAll(&screen, &sprite, format);
      SaveDemoPicture(&screen, format == 1 ? "drawers_demo_32.png" : "drawers_demo_16.png", kLegend);
      TerminateMemImg(&sprite);
    }
    TerminateMemImg(&screen);
  }
  DrawArea = savedArea;
  DrawBlendMode = savedMode;
  DrawBlendParam = savedParam;
  DrawBright = savedBright;
}
