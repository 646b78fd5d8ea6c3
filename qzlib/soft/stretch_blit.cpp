// The stretched blit: nearest-pixel sampling with 16.16 counters.
//
// Destination column j (counted from the normalised left edge) shows source column
// floor(j * 65536 / xscale), xscale = floor(width * 65536 / source width); rows alike. The
// counters are kept in 64 bits so that rectangles far outside the draw area still sample by
// that rule. Per pixel the counter drops by the fractional part of 65536 / xscale and the
// source moves by its whole part, plus one more pixel when the counter is no longer above 0.
#include <qzlib/soft/stretch_blit.h>

#include <cstddef>
#include <cstring>
#include <utility>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/drawer_guard.h>
#include <qzlib/soft/drawer_traits.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/plain_blit_loops.h>

namespace {

// One axis of the stepping: the scale, the whole and fractional source advance per destination
// pixel and the counter's start value after the clip offset.
struct StretchAxis {
  int64_t scale;  // destination pixels per source pixel, 16.16
  int64_t whole;  // floor(65536 / scale)
  int64_t frac;   // 65536 mod scale
  int64_t start;  // counter at the first drawn pixel: scale - remainder of the clip offset
  int64_t skip;   // whole source pixels before the first drawn one
};

// size: the normalised rectangle's extent (> 0); srcSize: the source's (> 0); offset: clipped
// edge minus normalised edge (>= 0).
bool MakeAxis(int64_t size, int64_t srcSize, int64_t offset, StretchAxis* a) {
  a->scale = (size * 65536) / srcSize;
  if (a->scale <= 0) return false;
  a->whole = 65536 / a->scale;
  a->frac = 65536 % a->scale;
  int64_t num = offset * 65536;
  a->skip = num / a->scale;
  a->start = a->scale - (num - a->skip * a->scale);
  return true;
}

// One call after its set-up: the first destination pixel, the first source row and column (in
// the source's own direction), the blend graph's first row, and the two axes.
struct StretchArgs {
  uint8_t* dst;
  ptrdiff_t dstPitch;
  int32_t cols, rows;
  const uint8_t* src;  // source pixel (0, 0) of the view
  ptrdiff_t srcPitch;
  const uint8_t* graph;  // blend-graph pixel (0, 0), or null
  ptrdiff_t graphPitch;
  int64_t col0, row0;  // first source column and row
  int64_t dirX, dirY;  // +1, or -1 when mirrored
  StretchAxis ax, ay;
};
using StretchFn = void (*)(const SoftDrawPrep&, const StretchArgs&);

template <class VT>
SOFT_INLINE ptrdiff_t SrcBytes(const VT& V) {
  return V.Src == SOFT_SRC_PAL ? 1 : (V.Dst16 && V.Src == SOFT_SRC_DIRECT) ? 2 : 4;
}

template <class FT, class VT>
SOFT_INLINE void StretchPixels(const FT& F, const VT& V, const SoftDrawPrep& prep,
                               const StretchArgs& args) {
  // Local copies: pixel stores cannot alias them, so the loops keep them in registers.
  const SoftDrawPrep P = prep;
  const StretchArgs A = args;
  const ptrdiff_t sb = SrcBytes(V), db = V.Dst16 ? 2 : 4;
  const int64_t xStep = A.ax.whole * A.dirX, yStep = A.ay.whole * A.dirY;
  uint8_t* d = A.dst;
  int64_t row = A.row0, vc = A.ay.start;
  for (int32_t j = 0; j < A.rows; ++j) {
    const uint8_t* s = A.src + row * A.srcPitch;
    const uint8_t* g = V.Graph ? A.graph + row * A.graphPitch : nullptr;
    int64_t col = A.col0, hc = A.ax.start;
    uint8_t* dp = d;
    for (int32_t i = 0; i < A.cols; ++i, dp += db) {
      SoftDrawSourcePixel(F, V, P, dp, s + col * sb, V.Graph ? g[col] : 0u);
      hc -= A.ax.frac;
      col += xStep;
      if (hc <= 0) {
        col += A.dirX;
        hc += A.ax.scale;
      }
    }
    d += A.dstPitch;
    vc -= A.ay.frac;
    row += yStep;
    if (vc <= 0) {
      row += A.dirY;
      vc += A.ay.scale;
    }
  }
}

// The source column of each of the n destination columns from the first drawn one, by the same
// counter steps as the pixel loop.
void StretchColumns(const StretchArgs& A, int32_t* out) {
  const int64_t step = A.ax.whole * A.dirX, dir = A.dirX, frac = A.ax.frac, scale = A.ax.scale;
  int64_t col = A.col0, hc = A.ax.start;
  for (int32_t i = 0; i < A.cols; ++i) {
    out[i] = int32_t(col);
    hc -= frac;
    col += step;
    if (hc <= 0) {
      col += dir;
      hc += scale;
    }
  }
}

// The vector path of direct sources without blend graph and tint (16-bit destinations: 16-bit
// sources): the columns are worked out once per call into a table, each source row is gathered
// through it once into a row buffer (a row repeated by the vertical steps is not gathered again),
// and the row is drawn by the plain blit's kernel for the variant.
template <SoftFamily F, SoftVariant V>
constexpr bool StretchSimdCase() {
  return (PlainSimdPixelsCase<F, V>() || PlainSimd16Case<F, V>()) && V.Sub != SOFT_SUB_HALF &&
         V.Sub != SOFT_SUB_ADD255 && V.Sub != SOFT_SUB_MIX6;
}

template <SoftFamily F, SoftVariant V>
void StretchSimd(const SoftDrawPrep& prep, const StretchArgs& args) {
  const SoftDrawPrep P = prep;
  const StretchArgs A = args;
  const SoftWorkBuffer work(size_t(A.cols) * 2);
  if (!work.data()) {
    // No room for the tables: the pixel loop draws the same pixels.
    StretchPixels(F, V, P, A);
    return;
  }
  int32_t* const cols = reinterpret_cast<int32_t*>(work.data());
  uint32_t* const row = work.data() + A.cols;
  StretchColumns(A, cols);
  // Halving (every second column from the first drawn one) needs no table lookups.
  bool everySecond = true;
  for (int32_t i = 1; i < A.cols && everySecond; ++i) everySecond = cols[i] == cols[0] + 2 * i;
  const PlainSimdOps& K = PlainSimd();
  uint8_t* d = A.dst;
  int64_t srcRow = A.row0, vc = A.ay.start, gathered = -1;
  const int64_t yStep = A.ay.whole * A.dirY;
  for (int32_t j = 0; j < A.rows; ++j, d += A.dstPitch) {
    if (srcRow != gathered) {
      const uint8_t* s = A.src + srcRow * A.srcPitch;
      if constexpr (V.Dst16) {
        uint16_t* const row16 = reinterpret_cast<uint16_t*>(row);
        for (int32_t i = 0; i < A.cols; ++i) std::memcpy(row16 + i, s + 2 * ptrdiff_t(cols[i]), 2);
      } else if (everySecond) {
        K.EverySecond32(row, s + 4 * ptrdiff_t(cols[0]), A.cols);
      } else {
        K.Gather32(row, s, cols, A.cols);
      }
      gathered = srcRow;
    }
    if constexpr (V.Dst16) PlainSimd16Segment<F, V>(K, P, d, reinterpret_cast<const uint8_t*>(row), A.cols);
    else PlainSimdSegment<F, V>(K, P, d, reinterpret_cast<const uint8_t*>(row), A.cols, false, false);
    vc -= A.ay.frac;
    srcRow += yStep;
    if (vc <= 0) {
      srcRow += A.dirY;
      vc += A.ay.scale;
    }
  }
}

template <SoftFamily F, SoftVariant V>
struct StretchLoop {
  static constexpr bool kEnabled = V.Sub == SOFT_SUB_NONE || V.Sub == SOFT_SUB_MMX;
  static void Run(const SoftDrawPrep& P, const StretchArgs& A) {
    if constexpr (StretchSimdCase<F, V>()) StretchSimd<F, V>(P, A);
    else StretchPixels(F, V, P, A);
  }
};


}  // namespace

void DrawExtendMemImg(MEMIMG* dst, const MEMIMG* src, const RECT* rect, int trans,
                      const MEMIMG* blendGraph) {
  if (!rect || !MemImgUsable(dst) || !MemImgUsable(src) || src->Width <= 0 || src->Height <= 0)
    return;
  if (blendGraph && !MemImgUsable(blendGraph)) return;
  // Normalise: the smaller edge is the first pixel drawn, the larger the first not drawn.
  int64_t left = rect->left, right = rect->right, top = rect->top, bottom = rect->bottom;
  const bool mirrorX = left > right, mirrorY = top > bottom;
  if (mirrorX) std::swap(left, right);
  if (mirrorY) std::swap(top, bottom);
  const int64_t width = right - left, height = bottom - top;
  if (width == 0 || height == 0) return;
  if (width == src->Width && height == src->Height && !mirrorX && !mirrorY) {
    DrawMemImg(dst, src, int32_t(left), int32_t(top), trans, blendGraph);
    return;
  }

  // The plain blit's checks (formats equal, destination neither palettised nor with alpha), the
  // mode's short cuts and the blend graph's size.
  SoftDrawPrep prep;
  if (!SoftPrepareDraw(&prep, kSoftFamilyStretch, dst, src, trans, blendGraph)) return;

  RECT clip{int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)};
  const RECT area = SoftDestArea(dst);
  RectClipping(&clip, &area);
  if (clip.right - clip.left <= 0 || clip.bottom - clip.top <= 0) return;

  StretchArgs a{};
  if (!MakeAxis(width, src->Width, clip.left - left, &a.ax) ||
      !MakeAxis(height, src->Height, clip.top - top, &a.ay))
    return;
  a.dirX = mirrorX ? -1 : 1;
  a.dirY = mirrorY ? -1 : 1;
  a.col0 = mirrorX ? src->Width - a.ax.skip - 1 : a.ax.skip;
  a.row0 = mirrorY ? src->Height - a.ay.skip - 1 : a.ay.skip;
  a.cols = clip.right - clip.left;
  a.rows = clip.bottom - clip.top;
  a.dstPitch = dst->Base->Pitch;
  a.dst =
      dst->Pixels + int64_t(clip.top) * a.dstPitch + int64_t(clip.left) * MemImgBytesPerPixel(dst);
  a.src = src->Pixels;
  a.srcPitch = src->Base->Pitch;
  if (blendGraph) {
    a.graph = blendGraph->Pixels;
    a.graphPitch = blendGraph->Base->Pitch;
  }

  MemImgMarkPixelsChanged(dst);
  if (SoftForceGenericPath) {
    StretchPixels(kSoftFamilyStretch, prep.Variant, prep, a);
    return;
  }
  if (StretchFn fn = SoftPickLoop<StretchLoop, kSoftFamilyStretch, StretchFn>(prep.Variant))
    fn(prep, a);
}
