// Share 2 of the textured span loops into 32-bit destinations from direct-colour sources.
#include <qzlib/soft/polygon_tex_share.h>

POLYGON_TEXTURED_SHARE(0, 0, kSoftFamilyPolygon32Direct, 2, kPolygonTexturedDirectShares)
