// The span families of the triangle rasteriser: one per destination format and source kind, each
// choosing its loop once per call and running the walk of polygon_walk.h inside it.
#pragma once
#include <cstdint>

#include <qzlib/soft/memimg.h>
#include <qzlib/soft/polygon_walk.h>

// One triangle call after its guards and set-up: surfaces, flags and the clip rectangle.
struct PolygonDraw {
  MEMIMG* dst;
  const MEMIMG* src;         // null for a flat triangle
  const MEMIMG* blendGraph;  // null, or at least the source's size (checked by the caller)
  int trans;
  uint32_t color;            // flat triangles: in the destination's format, 16-bit already masked
  RECT area;                 // DrawArea, limited to the destination's own size
  const PolygonSetup* setup;
};

// Flat colour into 32-bit or 16-bit destinations (chosen by the destination's format).
void DrawPolygonFlatSpans(const PolygonDraw& draw);
// Textured, 32-bit destination, palettised source.
void DrawPolygonSpans32Pal(const PolygonDraw& draw);
// Textured, 32-bit destination, direct-colour source (with or without alpha).
void DrawPolygonSpans32Direct(const PolygonDraw& draw);
// Textured, 16-bit destination, palettised source.
void DrawPolygonSpans16Pal(const PolygonDraw& draw);
// Textured, 16-bit destination, direct-colour source (with or without alpha).
void DrawPolygonSpans16Direct(const PolygonDraw& draw);
