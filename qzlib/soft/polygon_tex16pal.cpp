// Textured spans into 16-bit destinations from palettised sources.
// The loops themselves are compiled in polygon_tex16pal_share*.cpp.
#include <qzlib/soft/polygon_traits.h>

void DrawPolygonSpans16Pal(const PolygonDraw& draw) {
  RunPolygonTextured<1, 1, kSoftFamilyPolygon16Pal, kPolygonTexturedPalShares>(draw);
}
