// The AVX2 row kernels of the plain blit. Everything here is compiled for AVX2 and has internal
// linkage; only PlainSimdAvx2 is visible, and it is called only where the processor has AVX2.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif
#define PLAIN_SIMD_KERNELS
#define PLAIN_SIMD_AVX2
#include <qzlib/soft/plain_blit_simd.h>

const PlainSimdOps& PlainSimdAvx2() {
  static constexpr PlainSimdOps ops = MakeOps<V256>();
  return ops;
}

#if defined(__clang__)
#pragma clang attribute pop
#endif
