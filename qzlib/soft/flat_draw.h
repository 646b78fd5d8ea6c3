// Flat-colour drawers: single pixel, filled box and one-pixel line. The colour is a pixel value
// in the destination's format (X8R8G8B8 word, or 5:6:5 in the low 16 bits).
#pragma once
#include <cstdint>

#include <qzlib/soft/memimg.h>

void DrawPixelMemImg(MEMIMG* dst, int x, int y, uint32_t color);
// rect null: the whole DrawArea.
void DrawFillBoxMemImg(MEMIMG* dst, const RECT* rect, uint32_t color);
void DrawLineMemImg(MEMIMG* dst, int x1, int y1, int x2, int y2, uint32_t color);
