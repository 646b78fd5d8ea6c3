// Share 0 of the textured span loops into 32-bit destinations from palettised sources.
#include <qzlib/soft/polygon_tex_share.h>

POLYGON_TEXTURED_SHARE(0, 1, kSoftFamilyPolygon32Pal, 0, kPolygonTexturedPalShares)
