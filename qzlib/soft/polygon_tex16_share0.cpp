// Share 0 of the textured span loops into 16-bit destinations from direct-colour sources.
#include <qzlib/soft/polygon_tex_share.h>

POLYGON_TEXTURED_SHARE(1, 0, kSoftFamilyPolygon16Direct, 0, kPolygonTexturedDirectShares)
