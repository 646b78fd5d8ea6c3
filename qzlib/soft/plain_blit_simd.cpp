// The SSE2 row kernels of the plain blit, and the choice of kernel set.
#define PLAIN_SIMD_KERNELS
#include <qzlib/soft/plain_blit_simd.h>

const PlainSimdOps& PlainSimdSse2() {
  static constexpr PlainSimdOps ops = MakeOps<V128>();
  return ops;
}

int PlainSimdForceSse2 = 0;

const PlainSimdOps& PlainSimd() { return PlainSimdUseAvx2() ? PlainSimdAvx2() : PlainSimdSse2(); }
