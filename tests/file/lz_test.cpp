#include <qzlib/file/lz.h>

#include <gtest/gtest.h>

#include "tests/support/lz_encoder.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Block(uint32_t unpacked, uint8_t escape, const Bytes& stream) { return LzBlock(unpacked, escape, stream); }
Bytes Encode(const Bytes& in, size_t window = 1 << 16) { return LzEncode(in, window); }

}  // namespace

TEST(LzDecode, FixedVectors) {
  Bytes out(16);
  // literals, an escaped literal, an overlapping match (distance 2, length 6)
  Bytes b = Block(9, 0xFF, {'a', 'b', 0xFF, 3, 2, 0xFF, 0});
  ASSERT_EQ(LzDecode(b.data(), b.size(), out.data(), out.size()), 9);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 9), (Bytes{'a', 'b', 'a', 'b', 'a', 'b', 'a', 'b', 0xFF}));

  // a run from distance 1 of the longest length (255 + 3)
  b = Block(259, 0x00, {'z', 0x00, 255, 1});
  Bytes big(259);
  ASSERT_EQ(LzDecode(b.data(), b.size(), big.data(), big.size()), 259);
  EXPECT_TRUE(std::all_of(big.begin(), big.end(), [](uint8_t c) { return c == 'z'; }));

  // a three-byte distance: 20000 literal bytes, then a copy of the first 4
  Bytes lit(20000);
  for (size_t i = 0; i < lit.size(); ++i) lit[i] = uint8_t(i % 251);
  Bytes stream = lit;
  for (uint8_t c : {0xFF, 1, 0xA0, 0x9C, 0x01}) stream.push_back(c);  // 20000 = 0x4E20
  b = Block(20004, 0xFF, stream);
  Bytes got(20004);
  ASSERT_EQ(LzDecode(b.data(), b.size(), got.data(), got.size()), 20004);
  EXPECT_EQ(Bytes(got.end() - 4, got.end()), (Bytes{0, 1, 2, 3}));

  // empty block; a head-only query
  b = Block(0, 7, {});
  EXPECT_EQ(LzDecode(b.data(), b.size(), out.data(), 0), 0);
  b = Block(1234, 7, {1, 2, 3});
  EXPECT_EQ(LzDecode(b.data(), b.size(), nullptr, 0), 1234);
}

TEST(LzDecode, RoundTripsTheTestEncoder) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    size_t n = rng() % (seed < 50 ? 3000 : 70000);
    int alphabet = 1 + int(rng() % 256);
    Bytes in(n);
    for (auto& c : in) c = uint8_t(rng() % uint32_t(alphabet));
    // repeated stretches so that matches of every length occur
    for (int k = 0; k < 20 && n > 600; ++k) {
      size_t from = rng() % (n - 300), to = rng() % (n - 300);
      std::copy_n(in.begin() + long(from), rng() % 300, in.begin() + long(to));
    }
    Bytes block = Encode(in, seed < 50 ? 4096 : 65536);
    if (alphabet < 4 && n > 1000) {
      EXPECT_LT(block.size(), n / 2) << "seed " << seed;
    }
    Bytes out;
    ASSERT_EQ(LzDecode(block.data(), block.size(), nullptr, 0), int(n)) << "seed " << seed;
    out.resize(n + 1);
    ASSERT_EQ(LzDecode(block.data(), block.size(), out.data(), n), int(n)) << "seed " << seed;
    EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << "seed " << seed;
    // one byte of capacity short fails
    if (n) {
      EXPECT_EQ(LzDecode(block.data(), block.size(), out.data(), n - 1), -1) << "seed " << seed;
    }
  }
}

TEST(LzDecode, EveryMalformedBlockFails) {
  Bytes out(64);
  auto decode = [&](const Bytes& b) { return LzDecode(b.data(), b.size(), out.data(), out.size()); };
  Bytes good = Block(8, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 4});
  ASSERT_EQ(decode(good), 8);

  // packed size below 9, beyond the source, source shorter than a head
  Bytes b = good;
  b[4] = 8;
  EXPECT_EQ(decode(b), -1);
  EXPECT_EQ(LzDecode(b.data(), b.size(), nullptr, 0), -1);
  b = good;
  b[4] = uint8_t(good.size() + 1);
  EXPECT_EQ(decode(b), -1);
  EXPECT_EQ(LzDecode(good.data(), 8, nullptr, 0), -1);
  EXPECT_EQ(LzDecode(good.data(), good.size() - 1, out.data(), out.size()), -1);
  // unpacked size above INT32_MAX
  b = Block(0x80000000u, 0xEE, {});
  EXPECT_EQ(LzDecode(b.data(), b.size(), nullptr, 0), -1);
  // distance 0, and a distance reaching before the start
  EXPECT_EQ(decode(Block(8, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 0})), -1);
  EXPECT_EQ(decode(Block(8, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 5})), -1);
  // a fourth LEB128 byte with its high bit set; four bytes without it are fine
  EXPECT_EQ(decode(Block(8, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 0x84, 0x80, 0x80, 0x80, 0})), -1);
  EXPECT_EQ(decode(Block(8, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 0x84, 0x80, 0x80, 0x00})), 8);
  // output beyond the unpacked size: by a literal, an escaped literal and a match
  EXPECT_EQ(decode(Block(3, 0xEE, {'a', 'b', 'c', 'd'})), -1);
  EXPECT_EQ(decode(Block(1, 0xEE, {'a', 0xEE, 0})), -1);
  EXPECT_EQ(decode(Block(7, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 4})), -1);
  // the stream ending inside a token: after the escape, after the length, inside the distance
  EXPECT_EQ(decode(Block(5, 0xEE, {'a', 'b', 'c', 'd', 0xEE})), -1);
  EXPECT_EQ(decode(Block(8, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1})), -1);
  EXPECT_EQ(decode(Block(8, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 0x84})), -1);
  // a total short of the unpacked size
  EXPECT_EQ(decode(Block(9, 0xEE, {'a', 'b', 'c', 'd', 0xEE, 1, 4})), -1);
  // a destination smaller than the unpacked size
  EXPECT_EQ(LzDecode(good.data(), good.size(), out.data(), 7), -1);
  // bytes after the packed size are not read
  b = good;
  b.push_back('x');
  EXPECT_EQ(decode(b), 8);
}
