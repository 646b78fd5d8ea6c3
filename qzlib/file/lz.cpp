#include <qzlib/file/lz.h>

#include <cstring>

namespace {

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

int LzDecode(const void* src, size_t srcSize, void* dest, size_t destCapacity) {
  if (!src || srcSize < LZ_HEAD_SIZE) return -1;
  const auto* in = static_cast<const uint8_t*>(src);
  uint32_t unpacked = ReadU32(in);
  uint32_t packed = ReadU32(in + 4);
  if (packed < LZ_HEAD_SIZE || packed > srcSize || unpacked > uint32_t(INT32_MAX)) return -1;
  if (!dest) return static_cast<int>(unpacked);
  if (unpacked > destCapacity) return -1;

  const uint8_t escape = in[8];
  const uint8_t* p = in + LZ_HEAD_SIZE;
  const uint8_t* end = in + packed;
  auto* out = static_cast<uint8_t*>(dest);
  size_t pos = 0;
  while (p < end) {
    uint8_t c = *p++;
    if (c != escape) {
      if (pos >= unpacked) return -1;
      out[pos++] = c;
      continue;
    }
    if (p >= end) return -1;
    uint8_t n = *p++;
    if (n == 0) {
      if (pos >= unpacked) return -1;
      out[pos++] = escape;
      continue;
    }
    uint32_t distance = 0;
    for (int i = 0;; ++i) {
      if (p >= end) return -1;
      uint8_t b = *p++;
      distance |= uint32_t(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) break;
      if (i == 3) return -1;
    }
    size_t length = size_t(n) + 3;
    if (distance == 0 || distance > pos || length > unpacked - pos) return -1;
    uint8_t* to = out + pos;
    const uint8_t* from = to - distance;
    if (distance >= length) {
      std::memcpy(to, from, length);
    } else {
      for (size_t i = 0; i < length; ++i) to[i] = from[i];
    }
    pos += length;
  }
  return pos == unpacked ? static_cast<int>(unpacked) : -1;
}
