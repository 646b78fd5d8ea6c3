// Textured spans into 32-bit destinations from palettised sources.
// The loops themselves are compiled in polygon_tex32pal_share*.cpp.
#include <qzlib/soft/polygon_traits.h>

void DrawPolygonSpans32Pal(const PolygonDraw& draw) {
  RunPolygonTextured<0, 1, kSoftFamilyPolygon32Pal, kPolygonTexturedPalShares>(draw);
}
