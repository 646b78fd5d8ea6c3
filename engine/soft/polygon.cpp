#include "engine/soft/polygon.h"

void DrawPolygonMemImg(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int trans,
                       const MEMIMG* blendGraph, uint32_t color) {}
void DrawQuadMemImg(MEMIMG* dst, const MEMIMG* src, const int32_t* corners, int trans,
                    const MEMIMG* blendGraph) {}
