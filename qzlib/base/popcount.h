// Counting set bits without the compiler's library call: baseline x86-64 has no popcount
// instruction, so __builtin_popcount becomes a call into the runtime library there. PopCount
// uses the processor's instruction when it reports one (checked once at start) and an inline
// bit-parallel sum otherwise.
#pragma once
#include <cstdint>

// 1 when the processor has the popcount instruction, set before main from the processor's own
// report; 0 before that and on processors without it. Tests may set it to 0 to run the fallback.
extern int CpuHasPopcnt;

// The bit-parallel count: pairs, nibbles, then bytes summed by one multiply.
inline int PopCountPortable(uint32_t v) {
  v = v - ((v >> 1) & 0x55555555u);
  v = (v & 0x33333333u) + ((v >> 2) & 0x33333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0Fu;
  return static_cast<int>((v * 0x01010101u) >> 24);
}

// The number of bits set in v (0 to 32). Constants fold at compile time.
inline int PopCount(uint32_t v) {
  if (__builtin_constant_p(v) || !CpuHasPopcnt) return PopCountPortable(v);
  uint32_t n;
  __asm__("popcntl %1, %0" : "=r"(n) : "rm"(v) : "cc");
  return static_cast<int>(n);
}
