// Polygon demonstration: flat and textured quadrangles (free four-corner shapes drawn as two
// triangles) in every blend mode, one row per mode, on a 32-bit and a 16-bit software surface;
// saves "polygon_demo_32.png" and "polygon_demo_16.png".
#include <cstdio>
#include <initializer_list>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/base/types.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/memimg.h>
#include <qzlib/soft/polygon.h>

namespace {

const int kModes[] = {BLENDMODE::NOBLEND, BLENDMODE::ALPHA, BLENDMODE::ADD,   BLENDMODE::SUB,
                      BLENDMODE::MUL,     BLENDMODE::INVSRC, BLENDMODE::MULA};

constexpr const char* kLegend =
    "Quadrangles, each drawn as two triangles, on a 640 x 470 %d-bit surface.\n"
    "Rows, top to bottom: the blend modes NOBLEND, ALPHA, ADD, SUB, MUL, INVSRC, MULA, parameter\n"
    "170.\n"
    "Columns, left to right:\n"
    "  1 a flat orange quadrangle;\n"
    "  2 a 32 x 24 texture (colour ramp, yellow border, a magenta colour-key square in the\n"
    "    middle) on a skewed quadrangle, transparent flag clear (the key square is drawn);\n"
    "  3 the texture on a diamond, key skipped; 4 the texture mirrored, key skipped;\n"
    "  5 the texture tinted by the draw bright (120, 200, 255);\n"
    "  6 a flat white quadrangle tinted by the same bright.\n"
    "The engine's own behaviour, not faults:\n"
    "  - INVSRC row, column 6: the tinted white quadrangle comes out brown, not black. A flat\n"
    "    colour is tinted first and the tinted colour inverted; textures invert first.\n";

void Fill(MEMIMG* img, int x, int y, int w, int h, uint32_t c) {
  RECT r{x, y, x + w, y + h};
  ClearMemImg(img, &r, c);
}

// A 32 x 24 texture: a colour ramp with a yellow border and a keyed square in its middle.
bool MakeTexture(MEMIMG* img, int format) {
  if (MakeMemImg(img, 32, 24, format) != 0) return false;
  const uint32_t key = DemoColor(format, 255, 0, 255);
  img->Base->TransColor = key;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) {
      bool border = x < 2 || y < 2 || x > 29 || y > 21;
      uint32_t c = border ? DemoColor(format, 250, 240, 40) : DemoColor(format, x * 8, 255 - y * 10, 90 + y * 6);
      if (x >= 12 && x < 20 && y >= 8 && y < 16) c = key;
      Fill(img, x, y, 1, 1, c);
    }
  return true;
}

// A filled quadrangle P1..P4 as the triangles (P1, P2, P3) and (P4, P3, P2).
void FlatQuad(MEMIMG* dst, const int32_t* q, uint32_t colour) {
  MemImgVertex a[3] = {{q[0], q[1], 0, 0}, {q[2], q[3], 0, 0}, {q[4], q[5], 0, 0}};
  MemImgVertex b[3] = {{q[6], q[7], 0, 0}, {q[4], q[5], 0, 0}, {q[2], q[3], 0, 0}};
  DrawPolygonMemImg(dst, nullptr, a, 0, nullptr, colour);
  DrawPolygonMemImg(dst, nullptr, b, 0, nullptr, colour);
}

void DrawAll(MEMIMG* screen, const MEMIMG* tex, int format) {
  for (int y = 0; y < screen->Height; y += 20)
    for (int x = 0; x < screen->Width; x += 20)
      Fill(screen, x, y, 20, 20, ((x + y) / 20) % 2 ? DemoColor(format, 70, 70, 90) : DemoColor(format, 170, 170, 150));
  for (int i = 0; i < 7; ++i) {
    const int y = 8 + i * 66;
    SetDrawBlendMode(kModes[i], 170);
    SetDrawBright(255, 255, 255);
    int32_t flat[8] = {10, y + 4, 90, y, 20, y + 56, 80, y + 60};
    FlatQuad(screen, flat, DemoColor(format, 240, 120, 40));
    int32_t skew[8] = {110, y + 10, 200, y, 100, y + 60, 210, y + 50};
    DrawQuadMemImg(screen, tex, skew, 0, nullptr);
    int32_t keyed[8] = {230, y + 30, 280, y, 260, y + 60, 310, y + 30};
    DrawQuadMemImg(screen, tex, keyed, 1, nullptr);
    int32_t mirrored[8] = {410, y, 330, y + 4, 400, y + 60, 320, y + 56};
    DrawQuadMemImg(screen, tex, mirrored, 1, nullptr);
    SetDrawBright(120, 200, 255);  // tinted
    int32_t tinted[8] = {430, y, 520, y + 8, 440, y + 60, 510, y + 52};
    DrawQuadMemImg(screen, tex, tinted, 1, nullptr);
    int32_t flatTint[8] = {540, y + 8, 630, y, 530, y + 58, 620, y + 60};
    FlatQuad(screen, flatTint, DemoColor(format, 255, 255, 255));
  }
  SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
  SetDrawBright(255, 255, 255);
}

}  // namespace

void RunPolygonDemo() {
  InitMemImgBlendTable();
  for (int format : {1, 0}) {
    MEMIMG screen{}, tex{};
    if (MakeMemImg(&screen, 640, 470, format) != 0 || !MakeTexture(&tex, format)) {
      std::printf("polygon demo: no %d-bit surfaces\n", format == 1 ? 32 : 16);
      TerminateMemImg(&screen);
      TerminateMemImg(&tex);
      continue;
    }
    SetSoftDrawTarget(&screen);
    DrawAll(&screen, &tex, format);
    SaveDemoPicture(&screen, format == 1 ? "polygon_demo_32.png" : "polygon_demo_16.png", kLegend);
    SetSoftDrawTarget(nullptr);
    TerminateMemImg(&tex);
    TerminateMemImg(&screen);
  }
}
