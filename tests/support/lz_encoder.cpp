#include "tests/support/lz_encoder.h"

#include <algorithm>

namespace {

using Bytes = std::vector<uint8_t>;

void PutU32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(uint8_t(v >> (8 * i)));
}

void PutDistance(Bytes* b, uint32_t d) {
  do {
    uint8_t byte = d & 0x7F;
    d >>= 7;
    b->push_back(d ? byte | 0x80 : byte);
  } while (d);
}

}  // namespace

Bytes LzBlock(uint32_t unpacked, uint8_t escape, const Bytes& stream) {
  Bytes b;
  PutU32(&b, unpacked);
  PutU32(&b, uint32_t(stream.size() + 9));
  b.push_back(escape);
  b.insert(b.end(), stream.begin(), stream.end());
  return b;
}

uint8_t LzMostFrequentByte(const Bytes& in) {
  size_t count[256] = {};
  for (uint8_t c : in) ++count[c];
  return uint8_t(std::max_element(count, count + 256) - count);
}

Bytes LzEncode(const Bytes& in, size_t window, int forceEscape) {
  size_t count[256] = {};
  for (uint8_t c : in) ++count[c];
  uint8_t escape = forceEscape >= 0 && forceEscape < 256
                       ? uint8_t(forceEscape)
                       : uint8_t(std::min_element(count, count + 256) - count);
  std::vector<int64_t> head(1 << 16, -1), prev(in.size(), -1);
  auto hash = [&](size_t i) {
    uint32_t v = uint32_t(in[i]) | uint32_t(in[i + 1]) << 8 | uint32_t(in[i + 2]) << 16 |
                 uint32_t(in[i + 3]) << 24;
    return (v * 2654435761u) >> 16;
  };
  auto insert = [&](size_t i) {
    if (i + 4 > in.size()) return;
    uint32_t h = hash(i);
    prev[i] = head[h];
    head[h] = int64_t(i);
  };
  Bytes s;
  size_t i = 0;
  while (i < in.size()) {
    size_t bestLen = 0, bestDist = 0;
    if (i + 4 <= in.size()) {
      int64_t j = head[hash(i)];
      for (int steps = 0; j >= 0 && steps < 256 && i - size_t(j) <= window;
           ++steps, j = prev[size_t(j)]) {
        size_t len = 0;
        while (len < 258 && i + len < in.size() && in[size_t(j) + len] == in[i + len]) ++len;
        if (len > bestLen) {
          bestLen = len;
          bestDist = i - size_t(j);
        }
      }
    }
    if (bestLen >= 4) {
      s.push_back(escape);
      s.push_back(uint8_t(bestLen - 3));
      PutDistance(&s, uint32_t(bestDist));
      for (size_t k = 0; k < bestLen; ++k) insert(i + k);
      i += bestLen;
    } else {
      s.push_back(in[i]);
      if (in[i] == escape) s.push_back(0);
      insert(i);
      ++i;
    }
  }
  return LzBlock(uint32_t(in.size()), escape, s);
}

Bytes LzEncodeLiterals(const Bytes& in) {
  Bytes s;
  s.reserve(in.size() + in.size() / 64);
  for (uint8_t c : in) {
    s.push_back(c);
    if (c == 0xFF) s.push_back(0);
  }
  return LzBlock(uint32_t(in.size()), 0xFF, s);
}
