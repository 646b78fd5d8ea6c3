// Shape rasterisers: circles, ovals and line lists. Colours are pixel values in the destination's
// format.
#pragma once
#include <cstdint>

#include <qzlib/soft/memimg.h>

// One line of a line list; the sixth field is not read by the drawer.
struct MemImgLineRecord {
  int32_t x1, y1, x2, y2;
  uint32_t color;
  int32_t param;
};

// Draws each record with DrawLineMemImg in order; a count of 0 or less draws nothing.
void DrawLinesMemImg(MEMIMG* dst, const MemImgLineRecord* records, int count);
// Filled (fill non-zero) or outlined circle of radius r about (cx, cy), with the current blend
// mode, parameter and bright, clipped to DrawArea and to dst's own size. Draws nothing for r < 0
// or r > 46340, a 16-bit or 32-bit destination with palette or alpha, another format, a blend
// mode without a shape rule, or when its row flags (filled) cannot be allocated.
void DrawCircleMemImg(MEMIMG* dst, int cx, int cy, int r, uint32_t color, int fill);
// Filled or outlined oval with half-axes |rx|, |ry| about (cx, cy); as DrawCircleMemImg, and
// nothing for rx or ry of 0 or above 46340 in magnitude.
void DrawOvalMemImg(MEMIMG* dst, int cx, int cy, int rx, int ry, uint32_t color, int fill);
