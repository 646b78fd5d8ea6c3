// Textured spans into 16-bit destinations from direct-colour sources.
// The loops themselves are compiled in polygon_tex16_share*.cpp.
#include <qzlib/soft/polygon_traits.h>

void DrawPolygonSpans16Direct(const PolygonDraw& draw) {
  RunPolygonTextured<1, 0, kSoftFamilyPolygon16Direct, kPolygonTexturedDirectShares>(draw);
}
