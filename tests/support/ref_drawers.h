// Reference models of the stretched blit, the rotated blit and the flat drawers (pixel, box,
// line): slow, direct models of each drawer's mapping, written from its rules. Every destination
// pixel is mapped on its own (no running counters), and each drawn pixel goes through the
// reference pixel rules with the drawer family's departures made explicit.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <qzlib/soft/memimg.h>
#include <qzlib/platform/wintypes.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/ref_pixel_rules.h"

// The families' departures from the common rules.
RefFamily RefFamilyStretch();
RefFamily RefFamilyRota();

// The stretched blit for a rectangle that is not the source's own unmirrored size. drawArea: the
// DrawArea of the call; graphTable: the 256 blend-graph weights.
void RefDrawExtendMemImg(const RefState& st, const RECT& drawArea, MEMIMG* dst, const MEMIMG* src,
                         const RECT& rect, int trans, const MEMIMG* graph,
                         const uint8_t* graphTable);

// The rotated blit, unmirrored. Pixel (left + i, top + j) of the clipped box samples
// U = Ut + j * dUy + i * dUx, V likewise (32-bit wrapping), computed here by multiplication.
void RefDrawRotaMemImg(const RefState& st, const RECT& drawArea, MEMIMG* dst, const MEMIMG* src,
                       int x, int y, float angle, float scale, int trans, const MEMIMG* graph,
                       const uint8_t* graphTable);

// One flat-colour pixel by the flat rules: colour tinted by (channel * bright) >> 8, then the
// mode's formula. dst16: 5:6:5 destination (colour and d in the low 16 bits). Returns the new d.
// Assumes the call draws (RefFlatCallDraws).
uint32_t RefFlatPixel(const RefState& st, int dst16, uint32_t colour, uint32_t d);
// Whether a flat call draws at all: ALPHA, ADD and SUB at p = 0 and modes 5 to 9, above 11 and
// negative draw nothing.
bool RefFlatCallDraws(const RefState& st);

void RefDrawPixel(const RefState& st, const RECT& drawArea, MEMIMG* dst, int x, int y,
                  uint32_t colour);
void RefDrawFillBox(const RefState& st, const RECT& drawArea, MEMIMG* dst, const RECT* rect,
                    uint32_t colour);
void RefDrawLine(const RefState& st, const RECT& drawArea, MEMIMG* dst, int x1, int y1, int x2,
                 int y2, uint32_t colour);
// The pixels a line visits, in order, after clipping to the area (an empty area visits none).
struct RefPoint {
  int x, y;
};
int RefLinePoints(const RECT& area, int x1, int y1, int x2, int y2, RefPoint* out, int max);

// ---- Random cases shared by the drawer tests ---------------------------------------------------
// A random source of format fmt (0 or 1) and kind (REF_SRC_*), with a colour key that some
// pixels hit (or alpha 0 and 255 on many pixels); keys sometimes differ from a pixel only above
// the colour bits, or (palettised) lie above 255.
std::unique_ptr<GuardedSurface> MakeRandomSource(std::mt19937& rng, int fmt, int kind, int w,
                                                 int h);
// A random format-2 blend graph about the source's size (sometimes one pixel smaller), and a
// random MemImgBlendGraphTable.
std::unique_ptr<GuardedSurface> MakeRandomBlendGraph(std::mt19937& rng, int w, int h);
// Sets DrawBlendMode (sometimes one that draws nothing), DrawBlendParam, DrawBright and
// MmxUsableFlag at random and returns them as a RefState.
RefState RandomDrawState(std::mt19937& rng);
// A random DrawArea inside a w x h target (sometimes the whole target).
RECT RandomArea(std::mt19937& rng, int w, int h);

// Fixture of the drawer tests: blend tables filled once; the draw state (mode, parameter, bright,
// MMX flag, generic-path switch) reset before and after each test.
class DrawerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override { ResetDrawState(); }
  void TearDown() override { ResetDrawState(); }
  static void ResetDrawState();
};

// Compares a fast draw, the reference draw and the generic-path draw of the same case (all three
// destinations started equal to `before`) and checks the guard bands. Returns "" or the first
// difference; *drew tells whether the fast draw changed a pixel.
std::string CompareDraws(GuardedSurface& fast, GuardedSurface& ref, GuardedSurface& generic,
                         const std::vector<uint8_t>& before, bool* drew);

// Runs cases seeded 1..count, reporting up to five failures with their seeds, and expects more
// than minDrawn of them to change a pixel. A case returns "" when it passes.
void RunSeededCases(uint32_t count, uint32_t minDrawn,
                    const std::function<std::string(uint32_t seed, bool* drew)>& runCase);

// The surroundings of one random case: three equal destinations (fast path, reference, generic
// path) of a random size up to maxW x maxH, of format fmt (now and then another format, palettised
// or with alpha), a random draw state, DrawArea (sometimes set for a bigger target) and
// transparent flag, and with withGraph a blend graph about srcW x srcH.
struct RandomTarget {
  std::unique_ptr<GuardedSurface> fast, ref, generic, graph;
  RefState st;
  RECT area{};
  int trans = 0;
  std::vector<uint8_t> before;
  RandomTarget(std::mt19937& rng, int fmt, int maxW, int maxH, bool withGraph, int srcW, int srcH);
  const MEMIMG* Graph() const { return graph ? graph->img() : nullptr; }
  int Width() const { return fast->img()->Width; }
  int Height() const { return fast->img()->Height; }
  // After the reference draw into `ref`: draws the case into `fast` (with the SSE2 kernels when
  // sse2, else the best the processor has) and into `generic` with the generic path forced, then
  // compares the three (CompareDraws).
  std::string DrawAndCompare(const std::function<void(MEMIMG* dst)>& draw, bool* drew,
                             bool sse2 = false);
};
