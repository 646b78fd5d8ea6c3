#include "engine/soft/shapes.h"

void DrawLinesMemImg(MEMIMG* dst, const MemImgLineRecord* records, int count) {}
void DrawCircleMemImg(MEMIMG* dst, int cx, int cy, int r, uint32_t color, int fill) {}
void DrawOvalMemImg(MEMIMG* dst, int cx, int cy, int rx, int ry, uint32_t color, int fill) {}
