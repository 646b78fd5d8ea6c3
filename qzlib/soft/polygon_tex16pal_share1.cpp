// Share 1 of the textured span loops into 16-bit destinations from palettised sources.
#include <qzlib/soft/polygon_tex_share.h>

POLYGON_TEXTURED_SHARE(1, 1, kSoftFamilyPolygon16Pal, 1, kPolygonTexturedPalShares)
