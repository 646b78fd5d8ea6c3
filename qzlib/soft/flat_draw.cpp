// Flat-colour drawers: single pixel, filled box and one-pixel line.
//
// The three share one rule family (the flat colour is tinted once by (channel * bright) >> 8,
// INVSRC inverts the tinted colour, SUB at parameter 0 draws nothing, NOBLEND stores the whole
// word) and one loop template per shape, instantiated per format and blend mode.
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/flat_spans.h>

#include <immintrin.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/drawer_guard.h>
#include <qzlib/soft/drawer_traits.h>

namespace {

// The clipped walk of one line: start pixel, direction, spans. count == 0: nothing to draw.
struct LineWalk {
  int32_t x, y;          // start pixel, inside DrawArea
  int32_t xdir, ydir;    // +1 or -1
  int32_t spanX, spanY;  // non-negative
};

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Clips the line to the area by its two equations (formed once from the end points as given),
// moving the start point inside and the end point onto the area or the first column or row
// outside it. Returns false when nothing is drawn.
bool ClipLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, const RECT& a, LineWalk* w) {
  const int32_t L = a.left, T = a.top, R = a.right, B = a.bottom;
  // An empty area would let the clamps below put pixels outside it.
  if (L >= R || T >= B) return false;
  if (std::min(y1, y2) > B - 1 || std::min(x1, x2) > R - 1 || std::max(y1, y2) < T ||
      std::max(x1, x2) < L)
    return false;
  const double dx = double(x2) - double(x1), dy = double(y2) - double(y1);
  const double kx = (y1 == y2) ? 0.0 : dx / dy;
  const double cx = double(x1) - kx * double(y1);
  const double ky = (x1 == x2) ? 0.0 : dy / dx;
  const double cy = double(y1) - ky * double(x1);

  if (x1 < L) {
    x1 = L;
    y1 = DoubleToInt(cy + ky * double(L));
  } else if (x1 >= R) {
    x1 = R - 1;
    y1 = DoubleToInt(cy + ky * double(R - 1));
  }
  if (x2 < L) {
    x2 = L - 1;
    y2 = DoubleToInt(cy + ky * double(L - 1));
  } else if (x2 >= R) {
    x2 = R;
    y2 = DoubleToInt(cy + ky * double(R));
  }
  if (y1 < T) {
    y1 = T;
    x1 = DoubleToInt(cx + kx * double(T));
  } else if (y1 >= B) {
    y1 = B - 1;
    x1 = DoubleToInt(cx + kx * double(B - 1));
  }
  if (y2 < T) {
    y2 = T - 1;
    x2 = DoubleToInt(cx + kx * double(T - 1));
  } else if (y2 >= B) {
    y2 = B;
    x2 = DoubleToInt(cx + kx * double(B));
  }
  x1 = Clamp(x1, L, R - 1);
  x2 = Clamp(x2, L - 1, R);
  y1 = Clamp(y1, T, B - 1);
  y2 = Clamp(y2, T - 1, B);

  int32_t sx = x2 - x1, sy = y2 - y1;
  if (sx == 0 && sy == 0) return false;
  w->x = x1;
  w->y = y1;
  w->xdir = sx < 0 ? -1 : 1;
  w->ydir = sy < 0 ? -1 : 1;
  w->spanX = sx < 0 ? -sx : sx;
  w->spanY = sy < 0 ? -sy : sy;
  return true;
}

// One call of the box or the line after its set-up.
struct FlatArgs {
  uint8_t* dst;            // first pixel
  ptrdiff_t pitch;         // destination pitch
  ptrdiff_t bpp;           // destination bytes per pixel (4 for a 16-bit destination with alpha)
  uint32_t colour;         // prepared colour
  int32_t w, h;            // box
  ptrdiff_t major, minor;  // line: byte steps along the major and the minor axis
  int32_t count;           // line: pixels (the major span)
  int32_t minorSpan;       // line: the minor span
};
using FlatFn = void (*)(const SoftDrawPrep&, const FlatArgs&);

// Fills a row of `bytes` bytes from p with a repeated 32-bit word: one unaligned vector store at
// each end and aligned stores between. Every 4-byte slot from p holds one 32-bit pixel or two
// 16-bit ones (the 16-bit word has equal halves), so the overlapping end stores write the same
// values again. Written once, expanded for SSE2 (16-byte stores) and AVX2 (32-byte stores), each
// in a function compiled for its instruction set.
#define FLAT_FILL_BYTES(N, VEC, SET, STORE, STOREU)                                \
  if (bytes < N) {                                                                 \
    size_t i = 0;                                                                  \
    for (; i + 4 <= bytes; i += 4) std::memcpy(p + i, &word, 4);                   \
    if (i < bytes) std::memcpy(p + i, &word, 2);                                   \
    return;                                                                        \
  }                                                                                \
  const VEC v = SET(int(word));                                                    \
  uint8_t* const end = p + bytes;                                                  \
  STOREU(reinterpret_cast<VEC*>(p), v);                                            \
  const uintptr_t next = (reinterpret_cast<uintptr_t>(p) + N) & ~uintptr_t(N - 1); \
  uint8_t* q = p + (next - reinterpret_cast<uintptr_t>(p));                        \
  for (; q + 4 * N <= end; q += 4 * N) {                                           \
    STORE(reinterpret_cast<VEC*>(q), v);                                           \
    STORE(reinterpret_cast<VEC*>(q + N), v);                                       \
    STORE(reinterpret_cast<VEC*>(q + 2 * N), v);                                   \
    STORE(reinterpret_cast<VEC*>(q + 3 * N), v);                                   \
  }                                                                                \
  for (; q + N <= end; q += N) STORE(reinterpret_cast<VEC*>(q), v);                \
  STOREU(reinterpret_cast<VEC*>(end - N), v);

void FillBytesSse2(uint8_t* p, size_t bytes, uint32_t word) {
  FLAT_FILL_BYTES(16, __m128i, _mm_set1_epi32, _mm_store_si128, _mm_storeu_si128)
}
__attribute__((target("avx2"))) void FillBytesAvx2(uint8_t* p, size_t bytes, uint32_t word) {
  FLAT_FILL_BYTES(32, __m256i, _mm256_set1_epi32, _mm256_store_si256, _mm256_storeu_si256)
}
#undef FLAT_FILL_BYTES

// The box: row by row from the top, each row left to right. NOBLEND is a plain fill.
template <class FT, class VT>
SOFT_INLINE void FlatBoxPixels(const FT& F, const VT& V, const SoftDrawPrep& prep,
                               const FlatArgs& args) {
  // Local copies: pixel stores cannot alias them, so the loop keeps them in registers.
  const SoftDrawPrep P = prep;
  const FlatArgs A = args;
  uint8_t* row = A.dst;
  if (V.Mode == SOFT_MODE_NOBLEND) {
    for (int32_t y = 0; y < A.h; ++y, row += A.pitch) SoftFillSpan(row, A.w, A.colour, V.Dst16 != 0);
    return;
  }
  for (int32_t y = 0; y < A.h; ++y, row += A.pitch) {
    uint8_t* d = row;
    for (int32_t x = 0; x < A.w; ++x, d += A.bpp) SoftDrawFlatPixel(F, V, P, d, A.colour, 0);
  }
}

// The blended box: every row through the vector span kernels.
void FlatBoxSimd(const SoftDrawPrep& P, const FlatArgs& A) {
  const SoftFlatSpan span(A.colour, P.Variant.Mode, P.P, P.Variant.Dst16 != 0);
  uint8_t* row = A.dst;
  for (int32_t y = 0; y < A.h; ++y, row += A.pitch) span.Span(row, A.w);
}

// The line: count pixels along the major axis; the minor coordinate steps once the error term
// reaches the major span (late, by truncation).
template <class FT, class VT>
SOFT_INLINE void FlatLinePixels(const FT& F, const VT& V, const SoftDrawPrep& prep,
                                const FlatArgs& args) {
  const SoftDrawPrep P = prep;
  const FlatArgs A = args;
  uint8_t* d = A.dst;
  int32_t e = 0;
  for (int32_t k = 0; k < A.count; ++k) {
    SoftDrawFlatPixel(F, V, P, d, A.colour, 0);
    d += A.major;
    e += A.minorSpan;
    if (e >= A.count) {
      d += A.minor;
      e -= A.count;
    }
  }
}

template <SoftFamily F, SoftVariant V>
struct FlatVariantDrawn {
  static constexpr bool value =
      V.Src == SOFT_SRC_DIRECT && !V.Graph && !V.Tint && !V.Trans && V.Sub == SOFT_SUB_NONE;
};
template <SoftFamily F, SoftVariant V>
struct FlatBoxLoop {
  static constexpr bool kEnabled = FlatVariantDrawn<F, V>::value;
  static void Run(const SoftDrawPrep& P, const FlatArgs& A) {
    if constexpr (V.Mode != SOFT_MODE_NOBLEND) FlatBoxSimd(P, A);
    else FlatBoxPixels(F, V, P, A);
  }
};
template <SoftFamily F, SoftVariant V>
struct FlatLineLoop {
  static constexpr bool kEnabled = FlatVariantDrawn<F, V>::value;
  static void Run(const SoftDrawPrep& P, const FlatArgs& A) { FlatLinePixels(F, V, P, A); }
};

// Reads the draw state for a flat colour into dst and prepares the colour: masked to 16 bits
// for a 16-bit destination, tinted once by (channel * bright) >> 8. Afterwards the variant runs
// untinted. alphaDst: a destination with the alpha flag is drawn by its colour format's rules
// (the line); otherwise it draws nothing. False when the call draws nothing.
bool PrepareFlat(SoftDrawPrep* prep, const MEMIMG* dst, uint32_t* colour, bool alphaDst) {
  if (!MemImgUsable(dst)) return false;
  const MemImgBase* b = dst->Base;
  if (b->PaletteFlag == 1) return false;
  MemImgBase plainBase;
  MEMIMG plain;
  if (b->AlphaFlag == 1) {
    if (!alphaDst) return false;
    plainBase = *b;
    plainBase.AlphaFlag = 0;
    plain = *dst;
    plain.Base = &plainBase;
    dst = &plain;
  }
  if (!SoftPrepareDraw(prep, kSoftFamilyFlat, dst, nullptr, 0, nullptr)) return false;
  SoftVariant tint{};
  tint.Dst16 = prep->Variant.Dst16;
  tint.Tint = prep->Variant.Tint;
  tint.Mode = SOFT_MODE_NOBLEND;
  if (tint.Dst16)
    *colour = SoftTransformSource16(kSoftFamilyFlat, tint, *prep, *colour & 0xFFFFu);
  else
    *colour = SoftTransformSource32(kSoftFamilyFlat, tint, *prep, *colour);
  prep->Variant.Tint = 0;
  return true;
}

template <template <SoftFamily, SoftVariant> class Loop, class Generic>
void RunFlat(const SoftDrawPrep& prep, const FlatArgs& a, Generic generic) {
  if (SoftForceGenericPath) {
    generic();
    return;
  }
  if (FlatFn fn = SoftPickLoop<Loop, kSoftFamilyFlat, FlatFn>(prep.Variant)) fn(prep, a);
}

}  // namespace

void SoftFillSpan(uint8_t* p, int32_t n, uint32_t colour, bool dst16) {
  const size_t pixelBytes = dst16 ? 2 : 4;
  if (reinterpret_cast<uintptr_t>(p) % pixelBytes != 0) {
    // A row off its pixel alignment: pixel by pixel.
    for (int32_t i = 0; i < n; ++i) std::memcpy(p + size_t(i) * pixelBytes, &colour, pixelBytes);
    return;
  }
  const uint32_t word = dst16 ? ((colour & 0xFFFFu) | (colour << 16)) : colour;
  if (PlainSimdUseAvx2())
    FillBytesAvx2(p, size_t(n) * pixelBytes, word);
  else
    FillBytesSse2(p, size_t(n) * pixelBytes, word);
}

SoftFlatSpan::SoftFlatSpan(uint32_t colour, int mode, int p, bool dst16)
    : k_(&PlainSimd()), mode_(mode), p_(uint32_t(p)), colour_(colour), dst16_(dst16) {
  // Every mode but the 32-bit flat kernels' takes the colour as a source row.
  const uint32_t word = dst16 ? (colour & 0xFFFFu) * 0x10001u : colour;
  for (uint32_t& w : row_) w = word;
}

void SoftFlatSpan::Span(uint8_t* d, int32_t n) const {
  const PlainSimdOps& K = *k_;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(row_);
  if (dst16_) {
    for (int32_t m; n > 0; d += 2 * m, n -= m) {
      m = n < 2 * kRowWords ? n : 2 * kRowWords;
      switch (mode_) {
        case SOFT_MODE_ALPHA: K.Toward16[0](d, s, m, p_, 0, 0); break;
        case SOFT_MODE_INVSRC: K.Toward16[1](d, s, m, p_, 0, 0); break;
        case SOFT_MODE_MULA: K.Toward16[2](d, s, m, p_, 0, 0); break;
        case SOFT_MODE_ADD: K.PackedAddSub16[0](d, s, m, p_, 0, 0); break;
        case SOFT_MODE_SUB: K.PackedAddSub16[2](d, s, m, p_, 0, 0); break;
        case SOFT_MODE_MUL: K.Mul16(d, s, m, 0, 0); break;
        default: return;
      }
    }
    return;
  }
  switch (mode_) {
    case SOFT_MODE_ALPHA: K.BlendFlat[0](d, n, colour_, p_); return;
    case SOFT_MODE_INVSRC: K.BlendFlat[1](d, n, colour_, p_); return;
    case SOFT_MODE_MULA: K.BlendFlat[2](d, n, colour_, p_); return;
    default: break;
  }
  for (int32_t m; n > 0; d += 4 * m, n -= m) {
    m = n < kRowWords ? n : kRowWords;
    switch (mode_) {
      case SOFT_MODE_ADD: K.PackedAddSub[0](d, s, m, p_, 0, 0); break;
      case SOFT_MODE_SUB: K.PackedAddSub[2](d, s, m, p_, 0, 0); break;
      case SOFT_MODE_MUL: K.Mul(d, s, m, 0, 0); break;
      default: return;
    }
  }
}

void DrawPixelMemImg(MEMIMG* dst, int x, int y, uint32_t color) {
  SoftDrawPrep prep;
  if (!MemImgUsable(dst) || dst->Base->PaletteFlag == 1 || dst->Base->AlphaFlag == 1) return;
  const RECT area = SoftDestArea(dst);
  if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) return;
  if (!PrepareFlat(&prep, dst, &color, false)) return;
  MemImgMarkPixelsChanged(dst);
  uint8_t* p = dst->Pixels + int64_t(y) * dst->Base->Pitch + int64_t(x) * MemImgBytesPerPixel(dst);
  // One pixel: the rule with the variant decided at run time.
  SoftDrawFlatPixel(kSoftFamilyFlat, prep.Variant, prep, p, color, 0);
}

void DrawFillBoxMemImg(MEMIMG* dst, const RECT* rect, uint32_t color) {
  SoftDrawPrep prep;
  if (!MemImgUsable(dst) || dst->Base->PaletteFlag == 1 || dst->Base->AlphaFlag == 1) return;
  RECT r{0, 0, dst->Width, dst->Height};
  if (rect) {
    r.left = std::min(rect->left, rect->right);
    r.right = std::max(rect->left, rect->right);
    r.top = std::min(rect->top, rect->bottom);
    r.bottom = std::max(rect->top, rect->bottom);
  }
  const RECT area = SoftDestArea(dst);
  RectClipping(&r, &area);
  if (r.right - r.left <= 0 || r.bottom - r.top <= 0) return;
  if (!PrepareFlat(&prep, dst, &color, false)) return;
  FlatArgs a{};
  a.pitch = dst->Base->Pitch;
  a.bpp = MemImgBytesPerPixel(dst);
  a.dst = dst->Pixels + int64_t(r.top) * a.pitch + int64_t(r.left) * a.bpp;
  a.colour = color;
  a.w = r.right - r.left;
  a.h = r.bottom - r.top;
  MemImgMarkPixelsChanged(dst);
  RunFlat<FlatBoxLoop>(prep, a, [&] { FlatBoxPixels(kSoftFamilyFlat, prep.Variant, prep, a); });
}

void DrawLineMemImg(MEMIMG* dst, int x1, int y1, int x2, int y2, uint32_t color) {
  if (!MemImgUsable(dst)) return;
  LineWalk w;
  if (!ClipLine(x1, y1, x2, y2, SoftDestArea(dst), &w)) return;
  SoftDrawPrep prep;
  if (!PrepareFlat(&prep, dst, &color, true)) return;
  FlatArgs a{};
  a.pitch = dst->Base->Pitch;
  a.bpp = MemImgBytesPerPixel(dst);
  a.dst = dst->Pixels + int64_t(w.y) * a.pitch + int64_t(w.x) * a.bpp;
  a.colour = color;
  const ptrdiff_t stepX = w.xdir * a.bpp, stepY = w.ydir * a.pitch;
  if (w.spanX >= w.spanY) {
    a.major = stepX;
    a.minor = stepY;
    a.count = w.spanX;
    a.minorSpan = w.spanY;
  } else {
    a.major = stepY;
    a.minor = stepX;
    a.count = w.spanY;
    a.minorSpan = w.spanX;
  }
  MemImgMarkPixelsChanged(dst);
  RunFlat<FlatLineLoop>(prep, a, [&] { FlatLinePixels(kSoftFamilyFlat, prep.Variant, prep, a); });
}
