#include "engine/soft/stretch_blit.h"

void DrawExtendMemImg(MEMIMG* dst, const MEMIMG* src, const RECT* rect, int trans,
                      const MEMIMG* blendGraph) {}
