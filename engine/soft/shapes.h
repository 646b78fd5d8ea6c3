// Shape rasterisers: circles, ovals and line lists. Colours are pixel values in the destination's
// format.
#pragma once
#include <cstdint>

#include "engine/soft/memimg.h"

// One line of a line list; the sixth field is not read by the drawer.
struct MemImgLineRecord {
  int32_t x1, y1, x2, y2;
  uint32_t color;
  int32_t param;
};

// Draws each record with DrawLineMemImg in order; a count of 0 or less draws nothing.
void DrawLinesMemImg(MEMIMG* dst, const MemImgLineRecord* records, int count);
// Filled (fill non-zero) or outlined circle of radius r about (cx, cy).
void DrawCircleMemImg(MEMIMG* dst, int cx, int cy, int r, uint32_t color, int fill);
// Filled or outlined oval with radii rx, ry about (cx, cy).
void DrawOvalMemImg(MEMIMG* dst, int cx, int cy, int rx, int ry, uint32_t color, int fill);
