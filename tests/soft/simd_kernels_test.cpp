// The vector row kernels on their own, both sets (SSE2, and AVX2 where the processor has it):
// every field value pair and every parameter of the 16-bit and flat-colour rules, random rows of
// every length up to a few groups at every byte alignment, and guard bytes around each row so
// that a head, a tail or a masked group that reaches past its pixels shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <qzlib/soft/flat_spans.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>

namespace {

std::vector<const PlainSimdOps*> KernelSets() {
  std::vector<const PlainSimdOps*> sets{&PlainSimdSse2()};
  if (__builtin_cpu_supports("avx2")) sets.push_back(&PlainSimdAvx2());
  return sets;
}

// 16-bit fields: 0 blue (5 bits), 1 green (6), 2 red (5).
uint32_t Field(uint32_t v, int f) { return f == 0 ? v & 31 : f == 1 ? (v >> 5) & 63 : v >> 11; }
uint32_t Pack(uint32_t b, uint32_t g, uint32_t r) { return r << 11 | g << 5 | b; }
int Width(int f) { return f == 1 ? 6 : 5; }

// The rules the 16-bit kernels stand for, one pixel at a time, written from their contracts.
using Rule16 = std::function<uint32_t(uint32_t s, uint32_t d)>;
Rule16 PerField(std::function<int(int f, int s, int d)> field) {
  return [field](uint32_t s, uint32_t d) {
    uint32_t c[3];
    for (int f = 0; f < 3; ++f) c[f] = uint32_t(field(f, int(Field(s, f)), int(Field(d, f))));
    return Pack(c[0], c[1], c[2]);
  };
}
Rule16 Toward(int target, int p) {
  return PerField([=](int f, int s, int d) {
    const int t = target == 0 ? s : target == 1 ? (1 << Width(f)) - 1 - s : (s * d) >> Width(f);
    return d + p * (t - d) / 255;  // C++ division truncates toward zero
  });
}
Rule16 PackedAddSub(int form, int p) {
  return [=](uint32_t s, uint32_t d) {
    const uint32_t a = Pack(p * Field(s, 0) / 255, p * Field(s, 1) / 255, p * Field(s, 2) / 255);
    return form == 2 ? soft_detail::PackedSub16(a, d) : soft_detail::PackedAdd16(a, d, form == 0);
  };
}

// Runs a 16-bit kernel over rows of every length 0 .. 40 at byte offsets 0 .. 3, then over one
// row of every pair, inside guard bytes, with (source, destination) pixels from pairs, and compares
// every pixel with rule (key: kept pixels).
std::string Check16(const std::function<void(uint8_t*, const uint8_t*, int)>& kernel,
                    const Rule16& rule, const std::vector<std::pair<uint32_t, uint32_t>>& pairs,
                    int key = -1) {
  constexpr int kGuard = 64;
  std::vector<std::pair<int, int>> rows;  // length, offset
  for (int n = 0; n <= 40; ++n)
    for (int off = 0; off < 4; ++off) rows.push_back({n, off});
  rows.push_back({int(pairs.size()), 2});
  size_t next = 0;
  for (const auto& [n, off] : rows) {
    if (n == int(pairs.size())) next = 0;
    std::vector<uint8_t> d(2 * n + 2 * kGuard + off, 0xA5), s(2 * n + 8, 0);
    std::vector<uint16_t> want(n);
    uint8_t* row = d.data() + kGuard + off;
    for (int i = 0; i < n; ++i, next = (next + 1) % pairs.size()) {
      const uint16_t sv = uint16_t(pairs[next].first), dv = uint16_t(pairs[next].second);
      std::memcpy(s.data() + 2 * i, &sv, 2);
      std::memcpy(row + 2 * i, &dv, 2);
      want[i] = uint16_t(int(sv) == key ? dv : rule(sv, dv));
    }
    kernel(row, s.data(), n);
    for (int i = 0; i < n; ++i) {
      uint16_t got;
      std::memcpy(&got, row + 2 * i, 2);
      if (got != want[i])
        return "n " + std::to_string(n) + " pixel " + std::to_string(i) + ": " +
               std::to_string(got) + " vs " + std::to_string(want[i]);
    }
    for (int i = 0; i < kGuard; ++i)
      if (d[off + i] != 0xA5 || d[d.size() - 1 - i] != 0xA5) return "guard byte written, n " + std::to_string(n);
  }
  return "";
}

// Every pair of field values (all three fields alike), then random whole pixels.
std::vector<std::pair<uint32_t, uint32_t>> FieldPairs(uint32_t seed) {
  std::vector<std::pair<uint32_t, uint32_t>> v;
  for (uint32_t x = 0; x < 64; ++x)
    for (uint32_t y = 0; y < 64; ++y) v.push_back({Pack(x & 31, x, x & 31), Pack(y & 31, y, y & 31)});
  std::mt19937 rng(seed);
  for (int i = 0; i < 2048; ++i) v.push_back({rng() & 0xFFFF, rng() & 0xFFFF});
  return v;
}

TEST(SimdKernelsTest, SixteenBitKernelsFollowTheirRulesForEveryParameter) {
  for (const PlainSimdOps* k : KernelSets()) {
    for (int p = 0; p < 256; ++p) {
      SCOPED_TRACE(testing::Message() << "p " << p << (k == &PlainSimdSse2() ? " SSE2" : " AVX2"));
      const auto pairs = FieldPairs(uint32_t(p));
      for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->Toward16[t](d, s, n, p, 0, 0); },
                          Toward(t, p), pairs), "") << "toward " << t;
        EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->PackedAddSub16[t](d, s, n, p, 0, 0); },
                          PackedAddSub(t, p), pairs), "") << "packed form " << t;
      }
      if (p < 64) {
        EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->Mix16(d, s, n, p, 0, 0); },
                          PerField([=](int, int s, int d) { return (s * p + d * (63 - p)) / 63; }), pairs), "");
      }
    }
    const auto pairs = FieldPairs(7);
    EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->Mul16(d, s, n, 0, 0); },
                      PerField([](int f, int s, int d) { return (s * d) >> Width(f); }), pairs), "");
    EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->Half16(d, s, n, 0, 0); },
                      [](uint32_t s, uint32_t d) { return ((s >> 1) & 0x7BEF) + ((d >> 1) & 0x7BEF); }, pairs), "");
    // A colour key keeps its pixels, in every kernel that takes one.
    std::vector<std::pair<uint32_t, uint32_t>> keyed;
    std::mt19937 rng(9);
    for (int i = 0; i < 500; ++i) keyed.push_back({rng() % 3 ? 0x1234u : rng() & 0xFFFF, rng() & 0xFFFF});
    EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->CopyKey16(d, s, n, 0x1234); },
                      [](uint32_t s, uint32_t) { return s; }, keyed, 0x1234), "");
    EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->Toward16[2](d, s, n, 77, 1, 0x1234); },
                      Toward(2, 77), keyed, 0x1234), "");
    EXPECT_EQ(Check16([&](uint8_t* d, const uint8_t* s, int n) { k->Mix16(d, s, n, 40, 1, 0x1234); },
                      PerField([](int, int s, int d) { return (s * 40 + d * 23) / 63; }), keyed, 0x1234), "");
  }
}

// The flat-colour kernels of 32-bit pixels: every colour byte against every pixel byte for every
// p, on rows of every length at every byte offset (the masked AVX2 tail among them).
TEST(SimdKernelsTest, FlatColourKernelsFollowTheirRule) {
  for (const PlainSimdOps* k : KernelSets()) {
    for (int target = 0; target < 3; ++target)
      for (uint32_t p = 0; p < 256; p += (p < 4 || p > 250) ? 1 : 7) {
        std::mt19937 rng(p * 3 + target);
        for (int n = 0; n <= 40; ++n) {
          const int off = n % 4;
          std::vector<uint8_t> buf(4 * n + 128 + off, 0x5A);
          uint8_t* row = buf.data() + 64 + off;
          const uint32_t c = rng();
          std::vector<uint8_t> want(4 * n);
          for (int i = 0; i < 4 * n; ++i) {
            row[i] = uint8_t(rng());
            const int ch = i % 4, d = row[i], cv = (c >> (8 * ch)) & 255;
            const int t = target == 0 ? cv : target == 1 ? 255 - cv : (cv * d) >> 8;
            want[i] = ch == 3 ? uint8_t(d) : uint8_t(d + ((t - d) * int(p) >> 8));  // floor
          }
          k->BlendFlat[target](row, n, c, p);
          ASSERT_TRUE(std::equal(want.begin(), want.end(), row)) << "target " << target << " p " << p << " n " << n;
          for (int i = 0; i < 64; ++i)
            ASSERT_TRUE(buf[off + i] == 0x5A && buf[buf.size() - 1 - i] == 0x5A) << "guard, n " << n;
        }
      }
  }
}

// The flat fill with the SSE2 switch on (SSE2 stores whatever the processor) and off (AVX2 where
// present): rows of every length up to several unrolled groups at every byte offset within a
// 32-byte line, 32-bit and 16-bit, hold the colour in every pixel and nothing past the row.
TEST(SimdKernelsTest, FillSpanFollowsTheSse2Switch) {
  std::mt19937 rng(12);
  for (int sse2 : {1, 0}) {
    PlainSimdForceSse2 = sse2;
    EXPECT_EQ(PlainSimdUseAvx2(), !sse2 && __builtin_cpu_supports("avx2"));
    for (bool dst16 : {false, true}) {
      const int pixelBytes = dst16 ? 2 : 4;
      for (int n = 0; n <= 100; n += n < 40 ? 1 : 7)
        for (int off = 0; off < 32; ++off) {
          alignas(32) uint8_t buf[64 + 400 + 64];
          std::memset(buf, 0x5A, sizeof buf);
          uint8_t* row = buf + 64 + off;
          const uint32_t colour = rng();
          SoftFillSpan(row, n, colour, dst16);
          for (int i = 0; i < n * pixelBytes; ++i)
            ASSERT_EQ(row[i], uint8_t(colour >> (8 * (i % pixelBytes))))
                << "sse2 " << sse2 << " 16-bit " << dst16 << " n " << n << " offset " << off << " byte " << i;
          for (int i = 0; i < 64 + off; ++i) ASSERT_EQ(buf[i], 0x5A) << "guard before, n " << n;
          for (size_t i = 64 + off + size_t(n) * pixelBytes; i < sizeof buf; ++i)
            ASSERT_EQ(buf[i], 0x5A) << "guard after, n " << n << " offset " << off;
        }
    }
  }
  PlainSimdForceSse2 = 0;
}

// The gathers read exactly the words named, and halving reads nothing past its last word.
TEST(SimdKernelsTest, GathersTakeTheWordsNamed) {
  std::mt19937 rng(5);
  for (const PlainSimdOps* k : KernelSets())
    for (int n = 0; n <= 70; ++n) {
      // The source ends right after the last word read: a read past it leaves the vector.
      std::vector<uint32_t> src(2 * n + 1), out(n + 1, 0xDEADBEEF);
      for (auto& w : src) w = rng();
      std::vector<int32_t> col(n);
      for (auto& c : col) c = int32_t(rng() % src.size());
      k->Gather32(out.data(), reinterpret_cast<const uint8_t*>(src.data()), col.data(), n);
      for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], src[col[i]]) << n;
      ASSERT_EQ(out[n], 0xDEADBEEF);
      std::vector<uint32_t> halves(2 * n > 0 ? 2 * n - 1 : 0);
      for (auto& w : halves) w = rng();
      k->EverySecond32(out.data(), reinterpret_cast<const uint8_t*>(halves.data()), n);
      for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], halves[2 * i]) << n;
      ASSERT_EQ(out[n], 0xDEADBEEF);
    }
}

}  // namespace
