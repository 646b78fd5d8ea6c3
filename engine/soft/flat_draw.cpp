#include "engine/soft/flat_draw.h"

void DrawPixelMemImg(MEMIMG* dst, int x, int y, uint32_t color) {}
void DrawFillBoxMemImg(MEMIMG* dst, const RECT* rect, uint32_t color) {}
void DrawLineMemImg(MEMIMG* dst, int x1, int y1, int x2, int y2, uint32_t color) {}
