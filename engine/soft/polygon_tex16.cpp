// Textured spans into 16-bit destinations from direct-colour sources.
#include "engine/soft/polygon_traits.h"

void DrawPolygonSpans16Direct(const PolygonDraw& draw) {
  RunPolygonTextured<PolygonTexturedLoops<1, 0>::Loop, kSoftFamilyPolygon16Direct>(draw);
}
