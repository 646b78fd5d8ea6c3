// Span helpers shared by the flat-colour drawers (box, circles and ovals, flat triangles): a fill
// and a flat-colour blend over the plain blit's vector kernels. Internal to the software renderer.
#pragma once
#include <cstdint>

#include <qzlib/soft/plain_blit_simd.h>

// Fills n pixels from p with a colour: the 32-bit word, or for dst16 the 5:6:5 value in the low
// 16 bits. Aligned vector stores (AVX2 when PlainSimdUseAvx2, else SSE2) between two unaligned
// end stores.
void SoftFillSpan(uint8_t* p, int32_t n, uint32_t colour, bool dst16);

// A flat colour blended over spans of a 32-bit or 16-bit 5:6:5 destination by the plain blit's
// vector kernels, set up once per call. Per channel c of the colour and d of the pixel (16-bit:
// per field), with p the parameter (0 to 255):
//   SOFT_MODE_ALPHA, INVSRC, MULA: toward t = c, the channel's maximum - c, floor(c * d / 2^width):
//                       32-bit d + floor((t - d) * p / 256), 16-bit d + trunc((t - d) * p / 255)
//   SOFT_MODE_ADD, SUB: the packed add (with the low green and red bit OR) or packed subtract of
//                       the amounts floor(p * c / 255)
//   SOFT_MODE_MUL:      floor(c * d / 2^width)
// Byte 3 of a 32-bit pixel is kept, except where the packed add carries red into it.
class SoftFlatSpan {
 public:
  SoftFlatSpan(uint32_t colour, int mode, int p, bool dst16);
  void Span(uint8_t* d, int32_t n) const;

 private:
  static constexpr int kRowWords = 64;
  const PlainSimdOps* k_;
  int mode_;
  uint32_t p_;
  uint32_t colour_;
  bool dst16_;
  alignas(32) uint32_t row_[kRowWords];
};
