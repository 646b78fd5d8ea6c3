#include <qzlib/base/popcount.h>

#include <gtest/gtest.h>

#include <random>

namespace {

int CountBitsOneByOne(uint32_t v) {
  int n = 0;
  for (int i = 0; i < 32; ++i) n += (v >> i) & 1u;
  return n;
}

// The instruction (where the processor has it) and the fallback, each against the bit loop over
// the edges, every single bit and every run of low and high bits, and seeded random words.
TEST(PopCount, BothPathsAgreeWithTheBitLoop) {
  std::vector<uint32_t> values = {0u, 1u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x55555555u,
                                  0xAAAAAAAAu, 0x0F0F0F0Fu, 0xF0F0F0F0u, 0x01010101u, 0xFF00FF00u};
  for (int i = 0; i < 32; ++i) {
    values.push_back(1u << i);
    values.push_back((2u << i) - 1u);  // the i + 1 low bits (wraps to all bits at 31)
    values.push_back(~((1u << i) - 1u));
  }
  std::mt19937 rng(4242);
  for (int i = 0; i < 20000; ++i) values.push_back((rng() & rng()) | (i & 1 ? rng() : 0u));
  const int saved = CpuHasPopcnt;
  for (int hardware : {saved, 0}) {
    CpuHasPopcnt = hardware;
    for (uint32_t v : values) {
      ASSERT_EQ(PopCount(v), CountBitsOneByOne(v)) << std::hex << v << " hardware " << hardware;
      ASSERT_EQ(PopCountPortable(v), CountBitsOneByOne(v)) << std::hex << v;
    }
  }
  CpuHasPopcnt = saved;
  EXPECT_EQ(saved, __builtin_cpu_supports("popcnt") ? 1 : 0);
  static_assert(sizeof(PopCount(0u)) == sizeof(int), "an int count");
}

}  // namespace
