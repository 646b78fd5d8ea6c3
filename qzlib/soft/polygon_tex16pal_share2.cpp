// Share 2 of the textured span loops into 16-bit destinations from palettised sources.
#include <qzlib/soft/polygon_tex_share.h>

POLYGON_TEXTURED_SHARE(1, 1, kSoftFamilyPolygon16Pal, 2, kPolygonTexturedPalShares)
