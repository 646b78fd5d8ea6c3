// Textured spans into 32-bit destinations from palettised sources.
#include "engine/soft/polygon_traits.h"

void DrawPolygonSpans32Pal(const PolygonDraw& draw) {
  RunPolygonTextured<PolygonTexturedLoops<0, 1>::Loop, kSoftFamilyPolygon32Pal>(draw);
}
