// The plain blit: a whole source drawn unscaled into a destination MEMIMG.
#pragma once
#include <qzlib/soft/memimg.h>

// Draws the whole source with its top-left pixel at (x, y) of the destination, clipped to DrawArea,
// with the current blend mode, parameter and draw-bright colour. Draws nothing when the formats
// differ or the destination is palettised or has alpha. trans: non-zero skips the colour key (or
// alpha 0). blendGraph: a format-2 MEMIMG at least the source's size, or null.
int DrawMemImg(MEMIMG* dst, const MEMIMG* src, int x, int y, int trans, const MEMIMG* blendGraph);
