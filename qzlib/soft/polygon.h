// The triangle rasteriser and the quadrangle drawer.
#pragma once
#include <cstdint>

#include <qzlib/soft/memimg.h>

// One triangle corner: x, y in destination pixels, u, v in source pixels.
struct MemImgVertex {
  int32_t x, y, u, v;
};

// Draws a triangle, textured from src or, with a null src, flat in color (destination format),
// with the current blend state, clipped to DrawArea.
void DrawPolygonMemImg(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int trans,
                       const MEMIMG* blendGraph, uint32_t color);
// Maps the whole source onto the quadrangle whose corners (x0, y0 .. x3, y3) receive the source's
// top-left, top-right, bottom-left and bottom-right corners, as two triangles.
void DrawQuadMemImg(MEMIMG* dst, const MEMIMG* src, const int32_t* corners, int trans,
                    const MEMIMG* blendGraph);
