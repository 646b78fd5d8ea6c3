// Reference model of the plain blit: the whole source drawn pixel by pixel at (x, y), each source
// pixel (sx, sy) going to (x + sx, y + sy) when that lies inside the draw area and the destination,
// through the reference pixel rules. The run-map path is chosen as the blit chooses it and reads
// the run map's kinds.
#pragma once
#include <cstdint>

#include <qzlib/soft/memimg.h>
#include <qzlib/platform/wintypes.h>
#include "tests/support/ref_pixel_rules.h"

// drawArea: the DrawArea of the call; graphTable: the 256 blend-graph weights.
void RefDrawMemImg(const RefState& st, const RECT& drawArea, MEMIMG* dst, const MEMIMG* src, int x,
                   int y, int trans, const MEMIMG* graph, const uint8_t* graphTable);
