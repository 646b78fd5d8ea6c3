// Plain blit demonstration: a keyed image and an image with alpha drawn in every blend mode, plain,
// tinted and through a blend graph, on a 32-bit and a 16-bit software screen; saves
// "plain_blit_demo_32.png" and "plain_blit_demo_16.png".
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/base/types.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/memimg.h>
#include <qzlib/soft/plain_blit.h>

namespace {

constexpr int kSprite = 56;

constexpr const char* kLegend =
    "The plain blit (DrawMemImg) on a 640 x 480 %d-bit surface.\n"
    "Rows, top to bottom: the blend modes NOBLEND, ALPHA, ADD, SUB, MUL, INVSRC, MULA, parameter\n"
    "170.\n"
    "Columns, left to right:\n"
    "  1 rings whose magenta corners are the colour key, transparent flag set (key skipped);\n"
    "  2 the same tinted by the draw bright (255, 160, 60);\n"
    "  3 the same through a blend graph (a diagonal ramp: the weight is the graph's byte);\n"
    "  4 a disc with a soft edge in its alpha channel;\n"
    "  5 the disc tinted; 6 the disc through the blend graph;\n"
    "  7 the rings with the transparent flag clear (the magenta key is drawn), half off the\n"
    "    right edge (clipped).\n"
    "The engine's own behaviour, not faults:\n"
    "  - MUL row, columns 4 to 6: the black squares are the disc's fully transparent pixels.\n"
    "    MUL with the transparent flag set draws alpha-0 pixels (as black) instead of skipping\n"
    "    them; MULA draws them too, with weight 0, so the background stays as it was.\n";

void Put(MEMIMG* img, int x, int y, uint32_t v, int bytes) {
  std::memcpy(img->Pixels + y * img->Base->Pitch + x * bytes, &v, size_t(bytes));
}

// A ring pattern whose corners are the colour key (magenta).
bool MakeKeyed(MEMIMG* img, int format) {
  const uint32_t key = DemoColor(format, 255, 0, 255);
  if (InitializeMemImg(img, kSprite, kSprite, -1, key, format, 0, 0, 0, nullptr) != 0) return false;
  const int bytes = format == 1 ? 4 : 2;
  for (int y = 0; y < kSprite; ++y)
    for (int x = 0; x < kSprite; ++x) {
      const double r = std::hypot(x - kSprite / 2.0 + 0.5, y - kSprite / 2.0 + 0.5);
      uint32_t v = key;
      if (r < kSprite / 2.0) {
        const int band = int(r / 5) % 3;
        v = band == 0 ? DemoColor(format, 255, 220, 40) : band == 1 ? DemoColor(format, 40, 200, 255)
                                                              : DemoColor(format, 250, 250, 250);
      }
      Put(img, x, y, v, bytes);
    }
  return true;
}

// A disc with a soft edge in the alpha channel.
bool MakeAlpha(MEMIMG* img, int format) {
  if (InitializeMemImg(img, kSprite, kSprite, -1, 0, format, 0, 1, 0, nullptr) != 0) return false;
  for (int y = 0; y < kSprite; ++y)
    for (int x = 0; x < kSprite; ++x) {
      const double r = std::hypot(x - kSprite / 2.0 + 0.5, y - kSprite / 2.0 + 0.5) / (kSprite / 2.0);
      const uint32_t a = r >= 1.0 ? 0 : r < 0.6 ? 255 : uint32_t((1.0 - r) / 0.4 * 255);
      const uint32_t c = DemoColor(format, 80 + x * 3, 255 - y * 4, 160);
      Put(img, x, y, format == 1 ? (c | a << 24) : (c | a << 16), 4);
    }
  return true;
}

// A left-to-right ramp for the blend graph.
bool MakeGraph(MEMIMG* img) {
  if (InitializeMemImg(img, kSprite, kSprite, -1, 0, 2, 0, 0, 0, nullptr) != 0) return false;
  for (int y = 0; y < kSprite; ++y)
    for (int x = 0; x < kSprite; ++x) Put(img, x, y, uint32_t((x + y) * 255 / (2 * kSprite - 2)), 1);
  return true;
}

}  // namespace

void RunPlainBlitDemo() {
  InitMemImgBlendTable();
  MakeMemImgBlendGraphTable(128, 255);  // the weight is the blend-graph byte
  const int modes[] = {BLENDMODE::NOBLEND, BLENDMODE::ALPHA, BLENDMODE::ADD,   BLENDMODE::SUB,
                       BLENDMODE::MUL,     BLENDMODE::INVSRC, BLENDMODE::MULA};
  for (int format : {1, 0}) {
    MEMIMG screen{}, keyed{}, alpha{}, graph{};
    const bool ok = MakeMemImg(&screen, 640, 480, format) == 0 && MakeKeyed(&keyed, format) &&
                    MakeAlpha(&alpha, format) && MakeGraph(&graph);
    if (ok) {
      SetSoftDrawTarget(&screen);
      DrawDemoBackground(&screen, format);
      // Columns: keyed; keyed tinted; keyed through the blend graph; alpha; alpha tinted; alpha
      // through the blend graph; keyed drawn without its key, half off the right edge.
      for (int i = 0; i < 7; ++i) {
        const int y = 8 + i * 67;
        SetDrawBlendMode(modes[i], 170);
        for (int c = 0; c < 7; ++c) {
          const MEMIMG* src = c < 3 || c == 6 ? &keyed : &alpha;
          if (c == 1 || c == 4) SetDrawBright(255, 160, 60);
          else SetDrawBright(255, 255, 255);
          const MEMIMG* g = c == 2 || c == 5 ? &graph : nullptr;
          const int x = c == 6 ? 640 - kSprite / 2 : 8 + c * 88;
          DrawMemImg(&screen, src, x, y, c == 6 ? 0 : 1, g);
        }
      }
      SetDrawBlendMode(BLENDMODE::NOBLEND, 255);
      SetDrawBright(255, 255, 255);
      SaveDemoPicture(&screen, format == 1 ? "plain_blit_demo_32.png" : "plain_blit_demo_16.png",
                      kLegend);
    } else {
      std::printf("plain blit demo: no %d-bit surfaces\n", format == 1 ? 32 : 16);
    }
    SetSoftDrawTarget(nullptr);
    TerminateMemImg(&graph);
    TerminateMemImg(&alpha);
    TerminateMemImg(&keyed);
    TerminateMemImg(&screen);
  }
}
