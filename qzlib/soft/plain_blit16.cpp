// The plain blit's loops into 16-bit 5:6:5 destinations.
#include <qzlib/soft/plain_blit_loops.h>

PlainBlitFn PlainBlitPick16(const SoftVariant& v, bool runs) {
  if (runs) return SoftPickLoop<PlainBlitLoops<1>::Runs, kSoftFamilyPlainBlitRuns, PlainBlitFn>(v);
  return SoftPickLoop<PlainBlitLoops<1>::Pixels, kSoftFamilyPlainBlit, PlainBlitFn>(v);
}
