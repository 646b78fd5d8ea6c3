// Textured spans into 32-bit destinations from direct-colour sources.
#include "engine/soft/polygon_traits.h"

void DrawPolygonSpans32Direct(const PolygonDraw& draw) {
  RunPolygonTextured<PolygonTexturedLoops<0, 0>::Loop, kSoftFamilyPolygon32Direct>(draw);
}
