// Textured spans into 32-bit destinations from direct-colour sources.
// The loops themselves are compiled in polygon_tex32_share*.cpp.
#include <qzlib/soft/polygon_traits.h>

void DrawPolygonSpans32Direct(const PolygonDraw& draw) {
  RunPolygonTextured<0, 0, kSoftFamilyPolygon32Direct, kPolygonTexturedDirectShares>(draw);
}
