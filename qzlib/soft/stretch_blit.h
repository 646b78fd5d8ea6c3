// The stretched blit: the whole source scaled into a destination rectangle.
#pragma once
#include <qzlib/soft/memimg.h>

// Draws the whole source stretched into rect (read, not changed) with the current blend state;
// hands over to DrawMemImg when the rectangle has the source's own size.
void DrawExtendMemImg(MEMIMG* dst, const MEMIMG* src, const RECT* rect, int trans,
                      const MEMIMG* blendGraph);
