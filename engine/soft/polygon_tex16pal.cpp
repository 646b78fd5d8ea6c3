// Textured spans into 16-bit destinations from palettised sources.
#include "engine/soft/polygon_traits.h"

void DrawPolygonSpans16Pal(const PolygonDraw& draw) {
  RunPolygonTextured<PolygonTexturedLoops<1, 1>::Loop, kSoftFamilyPolygon16Pal>(draw);
}
