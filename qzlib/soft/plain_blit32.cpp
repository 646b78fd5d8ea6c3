// The plain blit's loops into 32-bit X8R8G8B8 destinations.
#include <qzlib/soft/plain_blit_loops.h>

PlainBlitFn PlainBlitPick32(const SoftVariant& v, bool runs) {
  if (runs) return SoftPickLoop<PlainBlitLoops<0>::Runs, kSoftFamilyPlainBlitRuns, PlainBlitFn>(v);
  return SoftPickLoop<PlainBlitLoops<0>::Pixels, kSoftFamilyPlainBlit, PlainBlitFn>(v);
}
