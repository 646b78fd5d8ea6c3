// Scaling base images (BltBaseImageStretch).
//
// The bilinear mix of baseimage.h, per 8-bit channel with 8-bit weights fx, fy:
//   v = ((a (256 - fx) + b fx) (256 - fy) + (c (256 - fx) + d fx) fy + 32768) >> 16
// is computed in two passes that lose nothing: each source row needed is mixed across (the
// 16-bit sums a (256 - fx) + b fx, kept for the next destination row when it needs the same
// source row), then two such rows are mixed down and rounded. Both passes have SSE2 and AVX2
// kernels chosen once per process, and scalar loops for the ends of rows.
//
// Formats whose channels are whole bytes (24 and 32 bits), the same on both sides, are mixed in
// place byte by byte: a byte permutation of A8R8G8B8 gives the same bytes as converting there and
// back, and the bytes of no channel are written as 0, as the conversion writes them. Every other
// pair of formats is converted to A8R8G8B8 and back around the same passes.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>

int ImageStretchKernels = 0;

namespace {

// floor((first + k * step) / den) for k = 0, 1, 2, ...: divides once, then adds.
struct QuotientWalk {
  uint64_t Q, R, StepQ, StepR, Den;
  QuotientWalk(uint64_t first, uint64_t step, uint64_t den)
      : Q(first / den), R(first % den), StepQ(step / den), StepR(step % den), Den(den) {}
  uint64_t Next() {
    const uint64_t q = Q;
    Q += StepQ;
    R += StepR;
    if (R >= Den) {
      R -= Den;
      ++Q;
    }
    return q;
  }
};

// Destination index d of destSize samples source index floor((2d + 1) srcSize / (2 destSize)).
QuotientWalk NearestWalk(int srcSize, int destSize) {
  return QuotientWalk(uint64_t(srcSize), 2 * uint64_t(srcSize), 2 * uint64_t(destSize));
}

// The bilinear samples of one axis: for destination index d the source position
// floor((2d + 1) srcSize 256 / (2 destSize)) - 128 in 1/256 pixel, clamped to the edges, as the
// first source index and the weight of the next one (0 to 256). Past the last source index the
// pair is (srcSize - 2, 256), so that the next index always exists when srcSize is 2 or more.
void BuildAxis(int srcSize, int destSize, int32_t* first, uint16_t* weight) {
  QuotientWalk walk(uint64_t(srcSize) * 256, uint64_t(srcSize) * 512, 2 * uint64_t(destSize));
  for (int d = 0; d < destSize; ++d) {
    const int64_t pos = int64_t(walk.Next()) - 128;
    int64_t whole = pos >> 8;  // floor: pos is at least -128
    int64_t f = pos & 255;
    if (whole < 0) {
      whole = 0;
      f = 0;
    }
    if (whole >= srcSize - 1) {
      whole = srcSize - 1;
      f = 0;
      if (srcSize >= 2) {
        whole = srcSize - 2;
        f = 256;
      }
    }
    first[d] = int32_t(whole);
    weight[d] = uint16_t(f);
  }
}

// ---- the pass across: out[4i + c] = (256 a + (b - a) f) ^ 0x8000 for byte c of the two source
// pixels of column i (the flipped top bit makes the sums signed 16-bit values for the pass down).

void AcrossScalar(uint16_t* out, const uint8_t* row, const int32_t* first, const uint16_t* w4,
                  int from, int n) {
  for (int i = from; i < n; ++i) {
    const uint8_t* a = row + 4 * size_t(first[i]);
    const uint32_t f = w4[4 * i];
    const uint8_t* b = f != 0 ? a + 4 : a;
    for (int c = 0; c < 4; ++c)
      out[4 * i + c] = uint16_t(((uint32_t(a[c]) << 8) + (uint32_t(b[c]) - a[c]) * f) ^ 0x8000u);
  }
}

// Columns k and k + 1: their first pixels and the ones after, as four 32-bit words.
__m128i LoadPairs(const uint8_t* row, const int32_t* first, int k) {
  const __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 4 * size_t(first[k])));
  const __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + 4 * size_t(first[k + 1])));
  return _mm_unpacklo_epi64(p0, p1);
}

// Two columns at a time; every column's first index is at most the row's width - 2.
int AcrossSse2(uint16_t* out, const uint8_t* row, const int32_t* first, const uint16_t* w4, int n) {
  const __m128i zero = _mm_setzero_si128(), flip = _mm_set1_epi16(int16_t(0x8000));
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m128i v = _mm_shuffle_epi32(LoadPairs(row, first, i), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i a = _mm_unpacklo_epi8(v, zero), b = _mm_unpackhi_epi8(v, zero);
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w4 + 4 * i));
    const __m128i t = _mm_add_epi16(_mm_slli_epi16(a, 8), _mm_mullo_epi16(_mm_sub_epi16(b, a), w));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_xor_si128(t, flip));
  }
  return i;
}

__attribute__((target("avx2"))) int AcrossAvx2(uint16_t* out, const uint8_t* row,
                                               const int32_t* first, const uint16_t* w4, int n) {
  const __m256i zero = _mm256_setzero_si256(), flip = _mm256_set1_epi16(int16_t(0x8000));
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(LoadPairs(row, first, i)),
                                        LoadPairs(row, first, i + 2), 1);
    v = _mm256_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
    const __m256i a = _mm256_unpacklo_epi8(v, zero), b = _mm256_unpackhi_epi8(v, zero);
    const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w4 + 4 * i));
    const __m256i t =
        _mm256_add_epi16(_mm256_slli_epi16(a, 8), _mm256_mullo_epi16(_mm256_sub_epi16(b, a), w));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), _mm256_xor_si256(t, flip));
  }
  return i;
}

// ---- the pass down: byte c of pixel i = (t (256 - f) + b f + 32768) >> 16 from the two rows of
// flipped sums, then ANDed with keep.

void DownScalar(uint8_t* d, const uint16_t* top, const uint16_t* bottom, uint32_t f, uint32_t keep,
                int from, int n) {
  for (int i = from; i < n; ++i) {
    uint32_t px = 0;
    for (int c = 0; c < 4; ++c) {
      const uint32_t t = top[4 * i + c] ^ 0x8000u, b = bottom[4 * i + c] ^ 0x8000u;
      px |= ((t * (256 - f) + b * f + 32768) >> 16) << (8 * c);
    }
    px &= keep;
    std::memcpy(d + 4 * size_t(i), &px, 4);
  }
}

// madd of (t - 32768, b - 32768) with (256 - f, f) is the mix less 32768 * 256, added back with
// the rounding.
constexpr int32_t kDownBias = 32768 * 256 + 32768;

// Pixels k and k + 1 mixed down, as eight 16-bit values.
__m128i DownTwo(const uint16_t* top, const uint16_t* bottom, __m128i w, __m128i bias, int k) {
  const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 4 * k));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 4 * k));
  const __m128i lo = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(t, b), w), bias), 16);
  const __m128i hi = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(t, b), w), bias), 16);
  return _mm_packs_epi32(lo, hi);
}

int DownSse2(uint8_t* d, const uint16_t* top, const uint16_t* bottom, uint32_t f, uint32_t keep, int n) {
  const __m128i w = _mm_set1_epi32(int32_t((f << 16) | (256 - f)));
  const __m128i bias = _mm_set1_epi32(kDownBias), mask = _mm_set1_epi32(int32_t(keep));
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i px = _mm_packus_epi16(DownTwo(top, bottom, w, bias, i), DownTwo(top, bottom, w, bias, i + 2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * size_t(i)), _mm_and_si128(px, mask));
  }
  return i;
}

// Pixels k to k + 3 mixed down, as sixteen 16-bit values; each lane holds two pixels.
__attribute__((target("avx2"))) __m256i DownFour(const uint16_t* top, const uint16_t* bottom,
                                                 __m256i w, __m256i bias, int k) {
  const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + 4 * k));
  const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + 4 * k));
  const __m256i lo =
      _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(t, b), w), bias), 16);
  const __m256i hi =
      _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(t, b), w), bias), 16);
  return _mm256_packs_epi32(lo, hi);
}

__attribute__((target("avx2"))) int DownAvx2(uint8_t* d, const uint16_t* top,
                                             const uint16_t* bottom, uint32_t f, uint32_t keep, int n) {
  const __m256i w = _mm256_set1_epi32(int32_t((f << 16) | (256 - f)));
  const __m256i bias = _mm256_set1_epi32(kDownBias), mask = _mm256_set1_epi32(int32_t(keep));
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    // Lanes hold pixels 0, 1, 4, 5 | 2, 3, 6, 7: put them in order.
    const __m256i px = _mm256_permute4x64_epi64(
        _mm256_packus_epi16(DownFour(top, bottom, w, bias, i), DownFour(top, bottom, w, bias, i + 4)),
        _MM_SHUFFLE(3, 1, 2, 0));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * size_t(i)), _mm256_and_si256(px, mask));
  }
  return i;
}

struct Kernels {
  int (*Across)(uint16_t*, const uint8_t*, const int32_t*, const uint16_t*, int);
  int (*Down)(uint8_t*, const uint16_t*, const uint16_t*, uint32_t, uint32_t, int);
};

int AcrossNone(uint16_t*, const uint8_t*, const int32_t*, const uint16_t*, int) { return 0; }
int DownNone(uint8_t*, const uint16_t*, const uint16_t*, uint32_t, uint32_t, int) { return 0; }

Kernels ChooseKernels() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (ImageStretchKernels == 2) return {AcrossNone, DownNone};
  if (avx2 && ImageStretchKernels == 0) return {AcrossAvx2, DownAvx2};
  return {AcrossSse2, DownSse2};
}

// One side of a stretch: the rectangle's first pixel, the pitch and the bytes per pixel (3 or
// 4; 3-byte rows go through a 4-byte row buffer).
struct Side {
  uint8_t* Pixels;
  int Pitch;
  int Bytes;
  int Width;
  int Height;
};

size_t Align32(size_t n) { return (n + 31) & ~size_t(31); }

// The bilinear stretch of src over dest, both 3 or 4 bytes a pixel with the channels in the same
// bytes; bytes outside keep are written as 0. 0, or -1 when the work memory cannot be had.
int StretchBytes(const Side& src, const Side& dest, uint32_t keep) {
  const int sw = src.Width, sh = src.Height, dw = dest.Width, dh = dest.Height;
  const size_t xFirstAt = 0, xWeightAt = xFirstAt + Align32(4 * size_t(dw));
  const size_t yFirstAt = xWeightAt + Align32(8 * size_t(dw));
  const size_t yWeightAt = yFirstAt + Align32(4 * size_t(dh));
  const size_t rowsAt = yWeightAt + Align32(2 * size_t(dh));
  const size_t rowBytes = Align32(8 * size_t(dw));
  const size_t srcRowAt = rowsAt + 2 * rowBytes;
  const size_t destRowAt = srcRowAt + (src.Bytes == 3 ? Align32(4 * size_t(sw)) : 0);
  const size_t total = destRowAt + (dest.Bytes == 3 ? Align32(4 * size_t(dw)) : 0);
  uint8_t* block = static_cast<uint8_t*>(MEM_ALLOC(total + 31));
  if (block == nullptr) return -1;
  uint8_t* base = block + ((32 - reinterpret_cast<uintptr_t>(block) % 32) % 32);
  int32_t* xFirst = reinterpret_cast<int32_t*>(base + xFirstAt);
  uint16_t* xWeight4 = reinterpret_cast<uint16_t*>(base + xWeightAt);
  int32_t* yFirst = reinterpret_cast<int32_t*>(base + yFirstAt);
  uint16_t* yWeight = reinterpret_cast<uint16_t*>(base + yWeightAt);
  uint16_t* rows[2] = {reinterpret_cast<uint16_t*>(base + rowsAt),
                       reinterpret_cast<uint16_t*>(base + rowsAt + rowBytes)};
  uint8_t* srcRow = base + srcRowAt;
  uint8_t* destRow = base + destRowAt;

  BuildAxis(sw, dw, xFirst, xWeight4);
  for (int i = dw - 1; i >= 0; --i)  // spread each weight over the four bytes, in place
    for (int c = 3; c >= 0; --c) xWeight4[4 * i + c] = xWeight4[i];
  BuildAxis(sh, dh, yFirst, yWeight);

  const Kernels k = ChooseKernels();
  int held[2] = {-1, -1};
  // The pass across of source row sy in a row slot, unless a slot already has it; keepSlot is the
  // slot not to overwrite (-1: none, the one with the higher row is kept).
  auto across = [&](int sy, int keepSlot) {
    if (held[0] == sy) return rows[0];
    if (held[1] == sy) return rows[1];
    const int slot = keepSlot == 0 ? 1 : keepSlot == 1 ? 0 : held[0] <= held[1] ? 0 : 1;
    const uint8_t* row = src.Pixels + int64_t(sy) * src.Pitch;
    if (src.Bytes == 3) {
      for (int x = 0; x + 1 < sw; ++x) std::memcpy(srcRow + 4 * size_t(x), row + 3 * size_t(x), 4);
      std::memcpy(srcRow + 4 * size_t(sw - 1), row + 3 * size_t(sw - 1), 3);
      row = srcRow;
    }
    const int done = sw >= 2 ? k.Across(rows[slot], row, xFirst, xWeight4, dw) : 0;
    AcrossScalar(rows[slot], row, xFirst, xWeight4, done, dw);
    held[slot] = sy;
    return rows[slot];
  };
  for (int y = 0; y < dh; ++y) {
    const uint32_t f = yWeight[y];
    const int y0 = yFirst[y];
    const uint16_t* top;
    const uint16_t* bottom;
    if (f == 0) {
      top = bottom = across(y0, -1);
    } else if (f == 256) {
      top = bottom = across(y0 + 1, -1);
    } else {
      top = across(y0, held[0] == y0 + 1 ? 0 : held[1] == y0 + 1 ? 1 : -1);
      bottom = across(y0 + 1, top == rows[0] ? 0 : 1);
    }
    uint8_t* d = dest.Pixels + int64_t(y) * dest.Pitch;
    uint8_t* out = dest.Bytes == 3 ? destRow : d;
    const int done = k.Down(out, top, bottom, f, keep, dw);
    DownScalar(out, top, bottom, f, keep, done, dw);
    if (dest.Bytes == 3) {
      for (int x = 0; x + 1 < dw; ++x) std::memcpy(d + 3 * size_t(x), destRow + 4 * size_t(x), 4);
      std::memcpy(d + 3 * size_t(dw - 1), destRow + 4 * size_t(dw - 1), 3);
    }
  }
  MEM_FREE(block);
  return 0;
}

// The bytes of a pixel holding a channel, when src and dest are the same 24- or 32-bit format
// whose every channel is a whole byte of its own (not a single-channel format); else 0.
uint32_t SameByteChannels(const PIXELFORMAT& s, const PIXELFORMAT& d) {
  if (s.DxtFormat != 0 || d.DxtFormat != 0 || s.ColorBitDepth != d.ColorBitDepth ||
      s.PixelByte != d.PixelByte || s.RedMask != d.RedMask || s.GreenMask != d.GreenMask ||
      s.BlueMask != d.BlueMask || s.AlphaMask != d.AlphaMask)
    return 0;
  if (s.PixelByte != 3 && s.PixelByte != 4) return 0;
  if (PixelFormatIsPalette(&s)) return 0;
  const uint32_t masks[4] = {s.RedMask, s.GreenMask, s.BlueMask, s.AlphaMask};
  uint32_t used = 0;
  for (uint32_t m : masks) {
    if (m == 0) continue;
    if ((used & m) != 0) return 0;
    bool whole = false;
    for (int b = 0; b < s.PixelByte; ++b) whole |= m == 0xFFu << (8 * b);
    if (!whole) return 0;
    used |= m;
  }
  return used;
}

}  // namespace

int BltBaseImageStretch(int srcX, int srcY, int srcWidth, int srcHeight, const BASEIMAGE* src,
                        int destX, int destY, int destWidth, int destHeight, BASEIMAGE* dest,
                        int filterFlag) {
  if (src == nullptr || dest == nullptr || src->GraphData == nullptr || dest->GraphData == nullptr)
    return -1;
  if (dest->ColorData.DxtFormat != 0) return -1;
  if (srcWidth <= 0 || srcHeight <= 0 || destWidth <= 0 || destHeight <= 0) return -1;
  if (srcX < 0 || srcY < 0 || static_cast<int64_t>(srcX) + srcWidth > src->Width ||
      static_cast<int64_t>(srcY) + srcHeight > src->Height)
    return -1;
  if (destX < 0 || destY < 0 || static_cast<int64_t>(destX) + destWidth > dest->Width ||
      static_cast<int64_t>(destY) + destHeight > dest->Height)
    return -1;

  // Palettised destination: nearest index, the source's palette.
  if (PixelFormatIsPalette(&dest->ColorData)) {
    if (!PixelFormatIsPalette(&src->ColorData)) return -1;
    QuotientWalk rowWalk = NearestWalk(srcHeight, destHeight);
    for (int y = 0; y < destHeight; ++y) {
      const int sy = srcY + int(rowWalk.Next());
      const uint8_t* s = static_cast<const uint8_t*>(src->GraphData) + int64_t(sy) * src->Pitch + srcX;
      uint8_t* d = static_cast<uint8_t*>(dest->GraphData) + int64_t(destY + y) * dest->Pitch + destX;
      QuotientWalk colWalk = NearestWalk(srcWidth, destWidth);
      for (int x = 0; x < destWidth; ++x) d[x] = s[colWalk.Next()];
    }
    std::memcpy(dest->ColorData.Palette, src->ColorData.Palette, sizeof(dest->ColorData.Palette));
    return 0;
  }

  // The same byte-channel format on both sides: mixed in place.
  const uint32_t keep = filterFlag != 0 ? SameByteChannels(src->ColorData, dest->ColorData) : 0;
  if (keep != 0) {
    const int pb = src->ColorData.PixelByte;
    const Side s{static_cast<uint8_t*>(src->GraphData) + int64_t(srcY) * src->Pitch + int64_t(srcX) * pb,
                 src->Pitch, pb, srcWidth, srcHeight};
    const Side d{static_cast<uint8_t*>(dest->GraphData) + int64_t(destY) * dest->Pitch + int64_t(destX) * pb,
                 dest->Pitch, pb, destWidth, destHeight};
    return StretchBytes(s, d, keep);
  }

  // Everything else goes through A8R8G8B8 work buffers.
  PIXELFORMAT argb;
  MakeArgb8Format(&argb, true);
  size_t srcBytes = static_cast<size_t>(srcWidth) * srcHeight * 4;
  size_t destBytes = static_cast<size_t>(destWidth) * destHeight * 4;
  uint32_t* work = static_cast<uint32_t*>(MEM_ALLOC(srcBytes));
  if (work == nullptr) return -1;
  uint32_t* out = static_cast<uint32_t*>(MEM_ALLOC(destBytes));
  if (out == nullptr) {
    MEM_FREE(work);
    return -1;
  }
  RECT r = {srcX, srcY, srcX + srcWidth, srcY + srcHeight};
  int result = BltConvertPixelFormat(work, srcWidth * 4, &argb, src->GraphData, src->Pitch,
                                     &src->ColorData, nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0, 0,
                                     0, 0, 0, 0, src->Width, src->Height, srcWidth, srcHeight);
  if (result >= 0 && filterFlag != 0) {
    const Side s{reinterpret_cast<uint8_t*>(work), srcWidth * 4, 4, srcWidth, srcHeight};
    const Side d{reinterpret_cast<uint8_t*>(out), destWidth * 4, 4, destWidth, destHeight};
    result = StretchBytes(s, d, 0xFFFFFFFFu);
  } else if (result >= 0) {
    QuotientWalk rowWalk = NearestWalk(srcHeight, destHeight);
    for (int y = 0; y < destHeight; ++y) {
      const uint32_t* s = work + static_cast<size_t>(rowWalk.Next()) * srcWidth;
      uint32_t* d = out + static_cast<size_t>(y) * destWidth;
      QuotientWalk colWalk = NearestWalk(srcWidth, destWidth);
      for (int x = 0; x < destWidth; ++x) d[x] = s[colWalk.Next()];
    }
  }
  if (result >= 0) {
    RECT all = {0, 0, destWidth, destHeight};
    result = BltConvertPixelFormat(dest->GraphData, dest->Pitch, &dest->ColorData, out,
                                   destWidth * 4, &argb, nullptr, 0, nullptr, destX, destY, &all,
                                   0, 0, 0, 0, 0, 1, 0, 0, destWidth, destHeight, dest->Width,
                                   dest->Height);
  }
  MEM_FREE(out);
  MEM_FREE(work);
  return result < 0 ? -1 : 0;
}
