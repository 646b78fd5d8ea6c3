// Little-endian reads from a bounded byte image, shared by the PMD and VMD readers.
//
// A cursor never reads past its end: every Take and Skip first checks the bytes left, with
// counts x record sizes in 64 bits, and reports failure instead of moving.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint16_t PmdGetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t PmdGetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline float PmdGetF32(const uint8_t* p) {
  uint32_t bits = PmdGetU32(p);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

struct PmdByteCursor {
  const uint8_t* data;
  size_t size;
  size_t pos;

  uint64_t Left() const { return static_cast<uint64_t>(size - pos); }
  // The next count records of recordSize bytes, or null (cursor unmoved) when they do not fit.
  const uint8_t* Take(uint64_t count, uint64_t recordSize) {
    if (recordSize != 0 && count > Left() / recordSize) return nullptr;
    const uint8_t* p = data + pos;
    pos += static_cast<size_t>(count * recordSize);
    return p;
  }
  bool U8(uint8_t* out) {
    const uint8_t* p = Take(1, 1);
    if (!p) return false;
    *out = p[0];
    return true;
  }
  bool U16(uint16_t* out) {
    const uint8_t* p = Take(1, 2);
    if (!p) return false;
    *out = PmdGetU16(p);
    return true;
  }
  bool U32(uint32_t* out) {
    const uint8_t* p = Take(1, 4);
    if (!p) return false;
    *out = PmdGetU32(p);
    return true;
  }
};

// Copies a zero-padded name field of fieldSize bytes into out (fieldSize + 1 bytes): the bytes up
// to the first zero, at most fieldSize, then a terminator. Returns the length.
inline size_t PmdCopyName(char* out, const uint8_t* field, size_t fieldSize) {
  size_t n = 0;
  while (n < fieldSize && field[n] != 0) {
    out[n] = static_cast<char>(field[n]);
    ++n;
  }
  out[n] = 0;
  return n;
}
