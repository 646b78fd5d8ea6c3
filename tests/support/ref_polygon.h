// Reference model of the triangle rasteriser: a slow, literal walk of the triangle rules (corner
// ordering, sides, rows, truncating integer parts, the left clip and the draw area) that lists
// every pixel visit in draw order with its texture coordinates, and per-visit pixel rules of each
// span family on top of the reference pixel model.
#pragma once
#include <cstdint>
#include <vector>

#include <qzlib/soft/memimg.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/platform/wintypes.h>
#include "tests/support/ref_pixel_rules.h"

struct RefPolygonVisit {
  int32_t x, y;
  uint32_t u, v;  // 14.18, wrapping
};

// Every pixel the triangle visits inside `area`, in draw order (a pixel may be listed twice when
// the walk repeats a row). Empty when the triangle draws nothing.
std::vector<RefPolygonVisit> RefPolygonVisits(const MemImgVertex* vertices, const RECT& area);

// The departures of the triangle span families: flat colour (srcKind ignored), or textured by
// destination format and source kind.
RefFamily RefFamilyPolygonFlat();
RefFamily RefFamilyPolygonTextured(int dst16, int srcKind);

// Draws one triangle into dst by the reference rules, with the current draw state (blend mode,
// parameter, bright, DrawArea) and the same arguments as DrawPolygonMemImg.
void RefDrawPolygon(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int trans,
                    const MEMIMG* blendGraph, uint32_t color);
