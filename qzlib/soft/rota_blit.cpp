// The rotated and scaled blit.
//
// Every pixel of the turned rectangle's bounding box (clipped to DrawArea) is mapped back to a
// source texel in 14.18 fixed point: U and V start at the box's top-left pixel and advance by
// constant steps across and down, in wrapping 32-bit arithmetic. A pixel is drawn only when U
// and V, taken as unsigned, lie below W << 18 and H << 18, which also rejects negative values.
// Rows are addressed as pixel pointer + row * pitch in 64 bits; nothing is allocated.
#include <qzlib/soft/rota_blit.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/drawer_guard.h>
#include <qzlib/soft/drawer_traits.h>
#include <qzlib/soft/plain_blit_loops.h>
#include <qzlib/soft/polygon.h>

namespace {

constexpr int kFix = 18;
// Sources must stay below this many columns and rows, so that W << 18 fits 32 bits.
constexpr int32_t kRotaMaxSourceSize = 16384;

// The four corners of the turned rectangle in 14.18 fixed point: top-left, bottom-left,
// bottom-right, top-right of the source.
struct RotaCorners {
  int32_t x[4], y[4];
};

// The scan of the clipped bounding box.
struct RotaScan {
  int32_t left, top, cols, rows;
  uint32_t ut, vt;   // U and V at the box's top-left pixel
  int32_t dux, dvx;  // steps across
  int32_t duy, dvy;  // steps down
  uint32_t uLimit, vLimit;
};

// Truncates a float toward zero into *out; false when it does not fit 32 bits (or is not a
// number): such a value has no usable fixed-point meaning. -2^31 fits; a float constant one below
// it would round to -2^31 itself, so the lower bound is inclusive.
bool TruncFloat(float f, int32_t* out) {
  if (!(f >= -2147483648.0f && f < 2147483648.0f)) return false;
  *out = FloatToIntFast(f);
  return true;
}

// (centre << 18) + trunc(offset), refused when the corner leaves the 14.18 range.
bool Corner(int32_t centre, float offset, int32_t* out) {
  int32_t o;
  if (!TruncFloat(offset, &o)) return false;
  int64_t v = int64_t(centre) * (int64_t(1) << kFix) + o;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *out = int32_t(v);
  return true;
}

// The quotient numerator / scale, rounded to a float and truncated toward zero.
bool Quotient(int64_t numerator, float scale, int32_t* out) {
  return TruncFloat(float(double(numerator) / double(scale)), out);
}

// Angle constants and corners. False when the call lies beyond the fixed-point limits.
bool MakeCorners(const MEMIMG* src, int32_t x, int32_t y, float angle, float scale, int32_t* sn,
                 int32_t* cn, int32_t* sf, int32_t* cf, RotaCorners* c) {
  if (!std::isfinite(angle) || !std::isfinite(scale) || scale == 0.0f) return false;
  if (src->Width <= 0 || src->Height <= 0 || src->Width >= kRotaMaxSourceSize ||
      src->Height >= kRotaMaxSourceSize)
    return false;
  if (x < -8192 || x > 8191 || y < -8192 || y > 8191) return false;
  float s, co;
  SinCos(-angle, &s, &co);
  *sn = FloatToIntFast(s * 262144.0f);
  *cn = FloatToIntFast(co * 262144.0f);
  SinCos(angle, &s, &co);
  *sf = FloatToIntFast(s * 262144.0f);
  *cf = FloatToIntFast(co * 262144.0f);
  const float hw = float(uint32_t(src->Width)) * scale * 0.5f;
  const float hh = float(uint32_t(src->Height)) * scale * 0.5f;
  const float hc = hw * float(*cf), hs = hw * float(*sf);
  const float vc = hh * float(*cf), vs = hh * float(*sf);
  return Corner(x, vs - hc, &c->x[0]) && Corner(y, -vc - hs, &c->y[0]) &&
         Corner(x, -hc - vs, &c->x[1]) && Corner(y, vc - hs, &c->y[1]) &&
         Corner(x, hc - vs, &c->x[2]) && Corner(y, vc + hs, &c->y[2]) &&
         Corner(x, hc + vs, &c->x[3]) && Corner(y, hs - vc, &c->y[3]);
}

// The bounding box clipped to DrawArea and the inverse mapping. False when nothing is drawn.
bool MakeScan(const MEMIMG* src, int32_t x, int32_t y, float scale, int32_t sn, int32_t cn,
              int32_t sf, int32_t cf, const RotaCorners& c, const RECT& area, RotaScan* s) {
  const int32_t minX = *std::min_element(c.x, c.x + 4), maxX = *std::max_element(c.x, c.x + 4);
  const int32_t minY = *std::min_element(c.y, c.y + 4), maxY = *std::max_element(c.y, c.y + 4);
  RECT box = {minX / (1 << kFix) - 2, minY / (1 << kFix) - 2, maxX / (1 << kFix) + 4,
              maxY / (1 << kFix) + 4};
  RectClipping(&box, &area);
  if (box.left == box.right || box.top == box.bottom) return false;
  s->left = box.left;
  s->top = box.top;
  s->cols = box.right - box.left;
  s->rows = box.bottom - box.top;

  const int64_t kx = int64_t(box.left) - x, kt = int64_t(box.top) - y, kb = int64_t(box.bottom) - y;
  const uint32_t u0 = (uint32_t(src->Width) >> 1) << kFix;
  const uint32_t v0 = (uint32_t(src->Height) >> 1) << kFix;
  int32_t qut, qvt, qub, qvb;
  if (!Quotient(kx * cn - kt * sn, scale, &qut) || !Quotient(kx * sn + kt * cn, scale, &qvt) ||
      !Quotient(kx * cn - kb * sn, scale, &qub) || !Quotient(kx * sn + kb * cn, scale, &qvb) ||
      !Quotient(cf, scale, &s->dux) || !Quotient(sn, scale, &s->dvx))
    return false;
  s->ut = u0 + uint32_t(qut);
  s->vt = v0 + uint32_t(qvt);
  const uint32_t ub = u0 + uint32_t(qub), vb = v0 + uint32_t(qvb);
  s->duy = int32_t(ub - s->ut) / s->rows;
  s->dvy = int32_t(vb - s->vt) / s->rows;
  s->uLimit = uint32_t(src->Width) << kFix;
  s->vLimit = uint32_t(src->Height) << kFix;
  return true;
}

// One call after its set-up: the box's first destination pixel, the source and blend-graph
// views, and the scan.
struct RotaArgs {
  uint8_t* dst;
  ptrdiff_t dstPitch;
  const uint8_t* src;
  ptrdiff_t srcPitch;
  const uint8_t* graph;  // or null
  ptrdiff_t graphPitch;
  RotaScan scan;
};
using RotaFn = void (*)(const SoftDrawPrep&, const RotaArgs&);

template <class VT>
SOFT_INLINE ptrdiff_t SrcBytes(const VT& V) {
  return V.Src == SOFT_SRC_PAL ? 1 : (V.Dst16 && V.Src == SOFT_SRC_DIRECT) ? 2 : 4;
}

// One row of the box: every pixel tested and drawn on its own.
template <class FT, class VT>
SOFT_INLINE void RotaRowPixels(const FT& F, const VT& V, const SoftDrawPrep& P, const RotaArgs& A,
                               uint8_t* dp, uint32_t u, uint32_t v) {
  const ptrdiff_t sb = SrcBytes(V), db = V.Dst16 ? 2 : 4;
  const RotaScan& s = A.scan;
  const uint32_t dux = uint32_t(s.dux), dvx = uint32_t(s.dvx);
  for (int32_t i = 0; i < s.cols; ++i, dp += db, u += dux, v += dvx) {
    if (u >= s.uLimit || v >= s.vLimit) continue;
    const ptrdiff_t tx = u >> kFix, ty = v >> kFix;
    SoftDrawSourcePixel(F, V, P, dp, A.src + ty * A.srcPitch + tx * sb,
                        V.Graph ? A.graph[ty * A.graphPitch + tx] : 0u);
  }
}

template <class FT, class VT>
SOFT_INLINE void RotaPixels(const FT& F, const VT& V, const SoftDrawPrep& prep,
                            const RotaArgs& args) {
  // Local copies: pixel stores cannot alias them, so the loops keep them in registers.
  const SoftDrawPrep P = prep;
  const RotaArgs A = args;
  uint32_t rowU = A.scan.ut, rowV = A.scan.vt;
  uint8_t* d = A.dst;
  for (int32_t j = 0; j < A.scan.rows; ++j) {
    RotaRowPixels(F, V, P, A, d, rowU, rowV);
    d += A.dstPitch;
    rowU += uint32_t(A.scan.duy);
    rowV += uint32_t(A.scan.dvy);
  }
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0); }  // b > 0
int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }                 // b > 0

// The columns i of [*lo, *hi] among 0 .. n - 1 for which start + i * step, taken modulo 2^32 as
// the pixel loop does, lies below limit (*lo > *hi: none). False when the answer is not one
// interval that this can name: the values pass more than one multiple of 2^32.
bool InRangeColumns(uint32_t start, int32_t step, uint32_t limit, int32_t n, int64_t* lo, int64_t* hi) {
  const int64_t two32 = int64_t(1) << 32, u0 = start, s = step;
  const int64_t last = u0 + s * (n - 1);
  const int64_t uMin = std::min(u0, last), uMax = std::max(u0, last);
  if (uMax - uMin > two32 - int64_t(limit)) return false;
  *lo = 0;
  *hi = -1;
  // At most one window [k 2^32, k 2^32 + limit) is reached; try the two that could be.
  for (int64_t k : {FloorDiv(uMin, two32), FloorDiv(uMax, two32)}) {
    const int64_t a = k * two32 - u0, b = k * two32 + int64_t(limit) - 1 - u0;  // a <= i s <= b
    int64_t first, lastI;
    if (s == 0) {
      if (a > 0 || b < 0) continue;
      first = 0;
      lastI = n - 1;
    } else if (s > 0) {
      first = CeilDiv(a, s);
      lastI = FloorDiv(b, s);
    } else {
      first = CeilDiv(-b, -s);
      lastI = FloorDiv(-a, -s);
    }
    first = std::max<int64_t>(first, 0);
    lastI = std::min<int64_t>(lastI, n - 1);
    if (first <= lastI) {
      *lo = first;
      *hi = lastI;
      return true;
    }
  }
  return true;
}

// The vector path of direct sources without blend graph and tint (16-bit destinations: 16-bit
// sources): per row, the texels in range form one interval of columns (the map is affine); they
// are gathered into a row buffer and drawn by the plain blit's kernel for the variant. A row
// whose interval cannot be named (steps so long that the coordinates wrap within the row) is
// drawn pixel by pixel.
template <SoftFamily F, SoftVariant V>
void RotaSimd(const SoftDrawPrep& prep, const RotaArgs& args) {
  const SoftDrawPrep P = prep;
  const RotaArgs A = args;
  const RotaScan& s = A.scan;
  const SoftWorkBuffer work(size_t(s.cols));
  if (!work.data()) {
    RotaPixels(F, V, P, A);
    return;
  }
  uint32_t* const row = work.data();
  const PlainSimdOps& K = PlainSimd();
  const uint32_t dux = uint32_t(s.dux), dvx = uint32_t(s.dvx);
  uint32_t rowU = s.ut, rowV = s.vt;
  uint8_t* d = A.dst;
  for (int32_t j = 0; j < s.rows; ++j, d += A.dstPitch, rowU += uint32_t(s.duy), rowV += uint32_t(s.dvy)) {
    int64_t ulo, uhi, vlo, vhi;
    if (!InRangeColumns(rowU, s.dux, s.uLimit, s.cols, &ulo, &uhi) ||
        !InRangeColumns(rowV, s.dvx, s.vLimit, s.cols, &vlo, &vhi)) {
      RotaRowPixels(F, V, P, A, d, rowU, rowV);
      continue;
    }
    const int64_t lo = std::max(ulo, vlo), hi = std::min(uhi, vhi);
    if (lo > hi) continue;
    const int n = int(hi - lo + 1);
    constexpr ptrdiff_t bytes = V.Dst16 ? 2 : 4;
    uint8_t* const texels = reinterpret_cast<uint8_t*>(row);
    uint32_t u = rowU + uint32_t(lo) * dux, v = rowV + uint32_t(lo) * dvx;
    for (int k = 0; k < n; ++k, u += dux, v += dvx)
      std::memcpy(texels + bytes * k, A.src + ptrdiff_t(v >> kFix) * A.srcPitch + ptrdiff_t(u >> kFix) * bytes, bytes);
    if constexpr (V.Dst16) PlainSimd16Segment<F, V>(K, P, d + lo * bytes, texels, n);
    else PlainSimdSegment<F, V>(K, P, d + lo * bytes, texels, n, false, false);
  }
}

template <SoftFamily F, SoftVariant V>
struct RotaLoop {
  static constexpr bool kEnabled = V.Sub == SOFT_SUB_NONE;
  static void Run(const SoftDrawPrep& P, const RotaArgs& A) {
    if constexpr (PlainSimdPixelsCase<F, V>() || PlainSimd16Case<F, V>()) RotaSimd<F, V>(P, A);
    else RotaPixels(F, V, P, A);
  }
};


}  // namespace

void DrawRotaMemImg(MEMIMG* dst, const MEMIMG* src, int cx, int cy, float angle, float scale,
                    int trans, int turn, const MEMIMG* blendGraph) {
  if (!MemImgUsable(dst) || !MemImgUsable(src)) return;
  if (blendGraph && !MemImgUsable(blendGraph)) return;
  const MemImgBase* db = dst->Base;
  if (src->Base->Format != db->Format || db->PaletteFlag == 1 || db->AlphaFlag == 1) return;
  if (!SoftBlendGraphFits(blendGraph, src)) return;

  int32_t sn, cn, sf, cf;
  RotaCorners c;
  if (!MakeCorners(src, cx, cy, angle, scale, &sn, &cn, &sf, &cf, &c)) return;
  if (turn) {
    // Mirrored: the quadrangle path places the source's top-left, top-right, bottom-left and
    // bottom-right corners on corners 3, 0, 2 and 1.
    const int32_t one = 1 << kFix;
    int32_t q[8] = {c.x[3] / one, c.y[3] / one, c.x[0] / one, c.y[0] / one,
                    c.x[2] / one, c.y[2] / one, c.x[1] / one, c.y[1] / one};
    DrawQuadMemImg(dst, src, q, trans, blendGraph);
    return;
  }

  SoftDrawPrep prep;
  if (!SoftPrepareDraw(&prep, kSoftFamilyRota, dst, src, trans, blendGraph)) return;
  RotaArgs a{};
  if (!MakeScan(src, cx, cy, scale, sn, cn, sf, cf, c, SoftDestArea(dst), &a.scan)) return;
  a.dstPitch = db->Pitch;
  a.dst = dst->Pixels + int64_t(a.scan.top) * a.dstPitch +
          int64_t(a.scan.left) * MemImgBytesPerPixel(dst);
  a.src = src->Pixels;
  a.srcPitch = src->Base->Pitch;
  if (blendGraph) {
    a.graph = blendGraph->Pixels;
    a.graphPitch = blendGraph->Base->Pitch;
  }

  MemImgMarkPixelsChanged(dst);
  if (SoftForceGenericPath) {
    RotaPixels(kSoftFamilyRota, prep.Variant, prep, a);
    return;
  }
  if (RotaFn fn = SoftPickLoop<RotaLoop, kSoftFamilyRota, RotaFn>(prep.Variant)) fn(prep, a);
}
