// Pixel operations of the circle and oval drawers, one per (destination format, blend mode).
//
// Each operation is built once per call from the tinted colour and the blend parameter p, and
// then applied inline at every covered pixel: Pixel() for one pixel, Span() for a run of
// consecutive pixels of one row, left to right. These are the shape drawers' own rules; they are
// not the image drawers' rules and must not be merged with them:
//   NOBLEND  stores the colour word (32-bit: the colour's fourth byte too).
//   ALPHA    32-bit ((s - d) * p + d * 256) >> 8 per channel; 16-bit d + trunc(p * (s - d) / 255)
//            per field. The fourth byte of a 32-bit pixel is kept.
//   ADD/SUB  packed saturating add / subtract of the colour scaled by trunc(p * c / 255), with the
//            packed forms' inexact low bits; 32-bit ADD leaves the red carry in the fourth byte,
//            SUB leaves 0 there.
//   MUL      (d * s) >> 8 per 32-bit channel; (d * s) >> 5, green >> 6, per 16-bit field.
//   INVSRC   the ALPHA rule toward the complement of the colour.
//   MULA     the ALPHA-like mix of d toward t = the MUL product: 32-bit (d * 256 + (t - d) * p) >> 8,
//            16-bit d + trunc(p * (t - d) / 255).
#pragma once
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/flat_spans.h>
#include <qzlib/soft/pixel_rules.h>

namespace shapes {

enum ShapeMode : int { kNoBlend, kAlpha, kAdd, kSub, kMul, kInvSrc, kMulA, kModeCount };
enum ShapeFormat : int { k16, k32, kFormatCount };

inline uint32_t Load32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline uint32_t Load16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
inline void Store16(uint8_t* p, uint32_t v) { uint16_t s = uint16_t(v); std::memcpy(p, &s, 2); }

// The colour's B, G, R bytes (32-bit) or R5, G6, B5 fields (16-bit), split once per call.
struct Channels32 {
  int s[3];
  explicit Channels32(uint32_t c) : s{int(c & 255), int((c >> 8) & 255), int((c >> 16) & 255)} {}
};
struct Fields16 {
  int sR, sG, sB;
  explicit Fields16(uint32_t c) : sR(int(c >> 11) & 31), sG(int(c >> 5) & 63), sB(int(c) & 31) {}
};

// An operation's pixel rule applied along a run.
template <class Op>
inline void PerPixelSpan(const Op& op, uint8_t* p, int n) {
  for (int i = 0; i < n; ++i, p += Op::kBytes) op.Pixel(p);
}

// Base of the operations whose span is their pixel rule applied along the run.
template <class Derived, int Bytes>
struct PerPixel {
  static constexpr int kBytes = Bytes;
  void Span(uint8_t* p, int n) const { PerPixelSpan(*static_cast<const Derived*>(this), p, n); }
};

// The colour scaled by row p of the multiply table (ADD and SUB), packed like a pixel.
inline uint32_t ScaledColour32(uint32_t colour, int p) {
  const int32_t* m = MemImgBlendTables.Multiply[p];
  return uint32_t(m[colour & 255]) | uint32_t(m[(colour >> 8) & 255]) << 8 |
         uint32_t(m[(colour >> 16) & 255]) << 16;
}
inline uint32_t ScaledColour16(uint32_t colour, int p) {
  const int32_t* m = MemImgBlendTables.Multiply[p];
  return uint32_t(m[(colour >> 11) & 31]) << 11 | uint32_t(m[(colour >> 5) & 63]) << 5 |
         uint32_t(m[colour & 31]);
}

template <int Format, int Mode>
struct ShapeOp;

// ---- 32-bit destinations -------------------------------------------------------------------

template <>
struct ShapeOp<k32, kNoBlend> {
  static constexpr int kBytes = 4;
  uint32_t c;
  ShapeOp(uint32_t colour, int) : c(colour) {}
  void Pixel(uint8_t* p) const { Store32(p, c); }
  void Span(uint8_t* p, int n) const {
    if (SoftForceGenericPath) PerPixelSpan(*this, p, n);
    else SoftFillSpan(p, n, c, false);
  }
};

// Moves B, G, R toward the colour by p / 256, rounding down; the fourth byte is kept.
struct Toward32 : Channels32 {
  static constexpr int kBytes = 4;
  int p;
  Toward32(uint32_t colour, int param) : Channels32(colour), p(param) {}
  void Pixel(uint8_t* q) const {
    for (int ch = 0; ch < 3; ++ch) {
      int d = q[ch];
      q[ch] = uint8_t(((s[ch] - d) * p + d * 256) >> 8);
    }
  }
  // s * p + d * (256 - p) never exceeds 65280, so 16-bit lanes hold it exactly.
  void Span(uint8_t* q, int n) const {
    const __m128i sp = _mm_set_epi16(0, short(s[2] * p), short(s[1] * p), short(s[0] * p), 0,
                                     short(s[2] * p), short(s[1] * p), short(s[0] * p));
    const short w = short(256 - p);
    const __m128i wt = _mm_set_epi16(256, w, w, w, 256, w, w, w);
    const __m128i zero = _mm_setzero_si128();
    for (; n >= 4; n -= 4, q += 16) {
      __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      __m128i lo = _mm_unpacklo_epi8(d, zero), hi = _mm_unpackhi_epi8(d, zero);
      lo = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(lo, wt), sp), 8);
      hi = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(hi, wt), sp), 8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm_packus_epi16(lo, hi));
    }
    for (; n > 0; --n, q += 4) Pixel(q);
  }
};

template <>
struct ShapeOp<k32, kAlpha> : Toward32 {
  ShapeOp(uint32_t colour, int p) : Toward32(colour, p) {}
};

template <>
struct ShapeOp<k32, kInvSrc> : Toward32 {
  ShapeOp(uint32_t colour, int p) : Toward32(~colour & 0x00FFFFFF, p) {}
};

// Packed saturating add; the red carry lands in the fourth byte.
template <>
struct ShapeOp<k32, kAdd> : PerPixel<ShapeOp<k32, kAdd>, 4> {
  uint32_t S;
  ShapeOp(uint32_t colour, int p) : S(ScaledColour32(colour, p)) {}
  void Pixel(uint8_t* q) const {
    uint32_t D = Load32(q);
    uint32_t t = (S & 0x00FEFEFFu) + (D & 0x00FEFEFFu);
    uint32_t m = t & 0x01010100u;
    Store32(q, (m - (m >> 8)) | ((S | D) & 0x00010100u) | t);
  }
};

// Packed saturating subtract with guard bits 8, 16, 24; the fourth byte becomes 0.
template <>
struct ShapeOp<k32, kSub> : PerPixel<ShapeOp<k32, kSub>, 4> {
  uint32_t S;
  ShapeOp(uint32_t colour, int p) : S(ScaledColour32(colour, p)) {}
  void Pixel(uint8_t* q) const {
    uint32_t t = (Load32(q) | 0x01010100u) - (S & 0xFEFEFEFFu);
    uint32_t m = t & 0x01010100u;
    Store32(q, (m - (m >> 8)) & t);
  }
};

template <>
struct ShapeOp<k32, kMul> : PerPixel<ShapeOp<k32, kMul>, 4>, Channels32 {
  ShapeOp(uint32_t colour, int) : Channels32(colour) {}
  void Pixel(uint8_t* q) const {
    for (int ch = 0; ch < 3; ++ch) q[ch] = uint8_t((q[ch] * s[ch]) >> 8);
  }
};

template <>
struct ShapeOp<k32, kMulA> : PerPixel<ShapeOp<k32, kMulA>, 4>, Channels32 {
  int p;
  ShapeOp(uint32_t colour, int param) : Channels32(colour), p(param) {}
  void Pixel(uint8_t* q) const {
    for (int ch = 0; ch < 3; ++ch) {
      int d = q[ch];
      int t = (d * s[ch]) >> 8;
      q[ch] = uint8_t((d * 256 + (t - d) * p) >> 8);
    }
  }
};

// ---- 16-bit 5:6:5 destinations (colour already masked to 16 bits) --------------------------

inline uint32_t Pack565(int r, int g, int b) { return uint32_t(r << 11 | g << 5 | b); }

template <>
struct ShapeOp<k16, kNoBlend> {
  static constexpr int kBytes = 2;
  uint32_t c;
  ShapeOp(uint32_t colour, int) : c(colour & 0xFFFF) {}
  void Pixel(uint8_t* p) const { Store16(p, c); }
  void Span(uint8_t* p, int n) const {
    if (SoftForceGenericPath) PerPixelSpan(*this, p, n);
    else SoftFillSpan(p, n, c, true);
  }
};

// Moves each field toward the colour's by trunc(p * (s - d) / 255), from the signed table.
struct Toward16 : PerPixel<Toward16, 2>, Fields16 {
  const int32_t* row;
  Toward16(uint32_t colour, int p) : Fields16(colour), row(SignedRow(p)) {}
  void Pixel(uint8_t* q) const {
    int d = int(Load16(q));
    int dR = d >> 11, dG = (d >> 5) & 63, dB = d & 31;
    Store16(q, Pack565(dR + row[sR - dR], dG + row[sG - dG], dB + row[sB - dB]));
  }
};

template <>
struct ShapeOp<k16, kAlpha> : Toward16 {
  ShapeOp(uint32_t colour, int p) : Toward16(colour, p) {}
};

template <>
struct ShapeOp<k16, kInvSrc> : Toward16 {
  ShapeOp(uint32_t colour, int p) : Toward16(~colour & 0xFFFF, p) {}
};

// Packed saturating add; a saturated green keeps only its rebuilt low bit (62 or 63).
template <>
struct ShapeOp<k16, kAdd> : PerPixel<ShapeOp<k16, kAdd>, 2> {
  uint32_t S;
  ShapeOp(uint32_t colour, int p) : S(ScaledColour16(colour, p)) {}
  void Pixel(uint8_t* q) const {
    uint32_t D = Load16(q);
    uint32_t t = (S & 0xF7DEF7DFu) + (D & 0xF7DEF7DFu);
    uint32_t m = t & 0x08210820u;
    Store16(q, (m - (m >> 5)) | ((S | D) & 0x0820u) | t);
  }
};

// Packed saturating subtract with guard bits 5, 11, 16; green's low bit comes out 0.
template <>
struct ShapeOp<k16, kSub> : PerPixel<ShapeOp<k16, kSub>, 2> {
  uint32_t S;
  ShapeOp(uint32_t colour, int p) : S(ScaledColour16(colour, p)) {}
  void Pixel(uint8_t* q) const {
    uint32_t t = (Load16(q) | 0x08210820u) - (S & 0xF7DEF7DFu);
    uint32_t m = t & 0x08210820u;
    Store16(q, (m - (m >> 5)) & t);
  }
};

template <>
struct ShapeOp<k16, kMul> : PerPixel<ShapeOp<k16, kMul>, 2>, Fields16 {
  ShapeOp(uint32_t colour, int) : Fields16(colour) {}
  void Pixel(uint8_t* q) const {
    int d = int(Load16(q));
    Store16(q, Pack565(((d >> 11) * sR) >> 5, (((d >> 5) & 63) * sG) >> 6, ((d & 31) * sB) >> 5));
  }
};

template <>
struct ShapeOp<k16, kMulA> : PerPixel<ShapeOp<k16, kMulA>, 2>, Fields16 {
  const int32_t* row;
  ShapeOp(uint32_t colour, int p) : Fields16(colour), row(SignedRow(p)) {}
  void Pixel(uint8_t* q) const {
    int d = int(Load16(q));
    int dR = d >> 11, dG = (d >> 5) & 63, dB = d & 31;
    int tR = (dR * sR) >> 5, tG = (dG * sG) >> 6, tB = (dB * sB) >> 5;
    Store16(q, Pack565(dR + row[tR - dR], dG + row[tG - dG], dB + row[tB - dB]));
  }
};

}  // namespace shapes
