// The plain blit's pixel loops, written once over the rule layer's variants, and its vector row
// segments, which the stretched and rotated blits share. Included by the per-format files that
// instantiate them into their dispatch tables.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>

// One call's clipped rectangle: row pointers and pitches of destination, source and blend graph.
struct PlainBlitArgs {
  uint8_t* dst;
  ptrdiff_t dstPitch;
  const uint8_t* src;
  ptrdiff_t srcPitch;
  const uint8_t* graph;      // null without a blend graph
  ptrdiff_t graphPitch;
  int w, h;
  const uint8_t* runMap;     // fast path: the source's run map and its end
  const uint8_t* runMapEnd;
};
using PlainBlitFn = void (*)(const SoftDrawPrep&, const PlainBlitArgs&);

template <class VT>
SOFT_INLINE int PlainSrcBytes(const VT& V) {
  return V.Src == SOFT_SRC_PAL ? 1 : (V.Dst16 && V.Src == SOFT_SRC_DIRECT) ? 2 : 4;
}

// Per-pixel path: every pixel goes through the skip test and the rule.
template <class FT, class VT>
SOFT_INLINE void PlainBlitPixels(const FT& F, const VT& V, const SoftDrawPrep& prep,
                                 const PlainBlitArgs& A) {
  // A local copy: pixel stores cannot alias it, so its fields stay in registers.
  const SoftDrawPrep P = prep;
  const int sb = PlainSrcBytes(V), db = V.Dst16 ? 2 : 4;
  const int w = A.w, h = A.h;
  const ptrdiff_t dp = A.dstPitch, sp = A.srcPitch, gp = A.graphPitch;
  uint8_t* d = A.dst;
  const uint8_t* s = A.src;
  const uint8_t* g = A.graph;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x)
      SoftDrawSourcePixel(F, V, P, d + x * db, s + x * sb, V.Graph ? g[x] : 0u);
    d += dp;
    s += sp;
    if (V.Graph) g += gp;
  }
}

// Fast path: each row walks its run bytes. The map is trusted for the kinds, but a run never
// reaches past the row and reading stops at the end of the map buffer.
template <class FT, class VT>
SOFT_INLINE void PlainBlitRuns(const FT& F, const VT& V, const SoftDrawPrep& prep,
                               const PlainBlitArgs& A) {
  const SoftDrawPrep P = prep;
  const int sb = PlainSrcBytes(V), db = V.Dst16 ? 2 : 4;
  const int w = A.w, h = A.h;
  uint8_t* d = A.dst;
  const uint8_t* s = A.src;
  const uint8_t* g = A.graph;
  const uint8_t* rm = A.runMap;
  const uint8_t* end = A.runMapEnd;
  for (int y = 0; y < h; ++y) {
    int x = 0;
    for (;;) {
      if (rm >= end) return;
      uint32_t b = *rm++;
      uint32_t kind = b >> 6;
      if (kind == 3) break;
      int count = static_cast<int>(b & 63) + 1;
      if (count > w - x) count = w - x;
      if (kind != 0) {
        const bool translucent = kind == 2;
        for (int i = x; i < x + count; ++i)
          SoftDrawRunPixel(F, V, P, d + i * db, s + i * sb, V.Graph ? g[i] : 0u, translucent);
      }
      x += count;
    }
    d += A.dstPitch;
    s += A.srcPitch;
    if (V.Graph) g += A.graphPitch;
  }
}

// Vector row kernels: 32-bit destination, direct source, no blend graph, no tint, in families
// whose untinted copy writes whole words.
template <SoftFamily F, SoftVariant V>
constexpr bool PlainSimdCase() {
  return !V.Dst16 && !V.Graph && !V.Tint && V.Src != SOFT_SRC_PAL && F.CopyWholeWord;
}

// One row segment of n pixels drawn by the vector kernel standing for variant V; translucent
// selects the alpha weight in the fast path; key tests only in the per-pixel path. Returns false
// when no kernel stands for the variant.
template <SoftFamily F, SoftVariant V>
SOFT_INLINE bool PlainSimdSegment(const PlainSimdOps& K, const SoftDrawPrep& P, uint8_t* d,
                                  const uint8_t* s, int n, bool runs, bool translucent) {
  const uint32_t p = static_cast<uint32_t>(P.P);
  const int key = runs ? 0 : V.Trans;
  if constexpr (V.Src == SOFT_SRC_DIRECT) {
    switch (V.Mode) {
      case SOFT_MODE_NOBLEND:
        if (key) K.CopyKey(d, s, n, P.Key);
        else std::memcpy(d, s, size_t(n) * 4);
        return true;
      case SOFT_MODE_ALPHA:
        if (V.Sub == SOFT_SUB_HALF) K.Half(d, s, n, key, P.Key);
        else K.BlendConst[0](d, s, n, p << 8, key, P.Key);
        return true;
      case SOFT_MODE_INVSRC: K.BlendConst[1](d, s, n, p << 8, key, P.Key); return true;
      case SOFT_MODE_MULA: K.BlendConst[2](d, s, n, p << 8, key, P.Key); return true;
      case SOFT_MODE_MUL: K.Mul(d, s, n, key, P.Key); return true;
      case SOFT_MODE_ADD:
      case SOFT_MODE_SUB: {
        const int sub = V.Mode == SOFT_MODE_SUB;
        if (V.Sub == SOFT_SUB_MMX) K.SatAddSub(d, s, n, sub, key, P.Key);
        else K.PackedAddSub[sub ? 2 : V.Sub == SOFT_SUB_ADD255 ? 1 : 0](d, s, n, p, key, P.Key);
        return true;
      }
      default: return false;
    }
  } else {
    if (V.Mode == SOFT_MODE_ALPHA) {
      if (runs) {
        if (translucent) K.BlendAlpha[2](d, s, n, p);
        else K.BlendConst[0](d, s, n, p << 8, 0, 0);
      } else {
        K.BlendAlpha[V.Trans ? 0 : 2](d, s, n, p);
      }
      return true;
    }
    if (V.Mode == SOFT_MODE_NOBLEND) {
      if (runs) {
        if (translucent) K.BlendAlpha[3](d, s, n, p);
        else std::memcpy(d, s, size_t(n) * 4);
        return true;
      }
      if (V.Trans) {
        K.BlendAlpha[1](d, s, n, p);
        return true;
      }
      if (F.NoblendAlphaSourceCopies) std::memcpy(d, s, size_t(n) * 4);
      else K.BlendAlpha[3](d, s, n, p);
      return true;
    }
    return false;
  }
}

template <SoftFamily F, SoftVariant V>
constexpr bool PlainSimdPixelsCase() {
  if constexpr (!PlainSimdCase<F, V>()) {
    return false;
  } else if constexpr (V.Src == SOFT_SRC_DIRECT) {
    return true;
  } else {
    return V.Mode == SOFT_MODE_ALPHA || V.Mode == SOFT_MODE_NOBLEND;
  }
}
template <SoftFamily F, SoftVariant V>
constexpr bool PlainSimdRunsCase() {
  if constexpr (!PlainSimdCase<F, V>()) return false;
  else if constexpr (V.Src == SOFT_SRC_DIRECT) return true;
  else return V.Mode == SOFT_MODE_ALPHA || V.Mode == SOFT_MODE_NOBLEND;
}

// Calls row(d, s, n) for every row of the call, or once for all of them when both surfaces' rows
// are contiguous. bytes: the pixel size of both.
template <class Row>
SOFT_INLINE void PlainSegments(const PlainBlitArgs& A, int bytes, Row row) {
  uint8_t* d = A.dst;
  const uint8_t* s = A.src;
  int w = A.w, h = A.h;
  if (A.dstPitch == ptrdiff_t(w) * bytes && A.srcPitch == ptrdiff_t(w) * bytes &&
      int64_t(w) * h <= INT32_MAX) {
    w *= h;
    h = 1;
  }
  for (int y = 0; y < h; ++y, d += A.dstPitch, s += A.srcPitch) row(d, s, w);
}

template <SoftFamily F, SoftVariant V>
void PlainSimdPixels(const SoftDrawPrep& P, const PlainBlitArgs& A) {
  const PlainSimdOps& K = PlainSimd();
  PlainSegments(A, 4, [&](uint8_t* d, const uint8_t* s, int n) {
    PlainSimdSegment<F, V>(K, P, d, s, n, false, false);
  });
}

template <SoftFamily F, SoftVariant V>
void PlainSimdRuns(const SoftDrawPrep& P, const PlainBlitArgs& A) {
  const PlainSimdOps& K = PlainSimd();
  uint8_t* d = A.dst;
  const uint8_t* s = A.src;
  const uint8_t* rm = A.runMap;
  const uint8_t* end = A.runMapEnd;
  const int w = A.w, h = A.h;
  for (int y = 0; y < h; ++y, d += A.dstPitch, s += A.srcPitch) {
    int x = 0;
    for (;;) {
      if (rm >= end) return;
      const uint32_t b = *rm++;
      const uint32_t kind = b >> 6;
      if (kind == 3) break;
      int count = static_cast<int>(b & 63) + 1;
      if (count > w - x) count = w - x;
      if (kind != 0) {
        // Neighbouring runs of the same kind are drawn as one segment.
        while (rm < end && (*rm >> 6) == kind && x + count < w) {
          int more = (*rm & 63) + 1;
          if (more > w - x - count) more = w - x - count;
          count += more;
          ++rm;
        }
        if constexpr (V.Dst16) PlainSimd16Segment<F, V>(K, P, d + 2 * x, s + 2 * x, count, true);
        else PlainSimdSegment<F, V>(K, P, d + 4 * x, s + 4 * x, count, true, kind == 2);
      }
      x += count;
    }
  }
}

// Vector row kernels of 16-bit destinations: direct 16-bit sources without blend graph and tint,
// every mode (NOBLEND without a key is the plain copy; a key compared in its low 16 bits has no
// kernel).
template <SoftFamily F, SoftVariant V>
constexpr bool PlainSimd16Case() {
  return V.Dst16 && V.Src == SOFT_SRC_DIRECT && !V.Graph && !V.Tint &&
         (V.Mode != SOFT_MODE_NOBLEND || !V.Trans || !F.KeyLow16InPlainCopy);
}

// One row segment of n 16-bit pixels by the 16-bit kernel standing for variant V. The whole 32-bit
// colour key is compared with the 16-bit colour, so a key above 0xFFFF skips nothing; a run-map
// segment (runs) has no key test.
template <SoftFamily F, SoftVariant V>
SOFT_INLINE void PlainSimd16Segment(const PlainSimdOps& K, const SoftDrawPrep& P, uint8_t* d,
                                    const uint8_t* s, int n, bool runs = false) {
  const uint32_t p = static_cast<uint32_t>(P.P);
  const int key = !runs && V.Trans && P.Key <= 0xFFFFu;
  switch (V.Mode) {
    case SOFT_MODE_NOBLEND:
      if (key) K.CopyKey16(d, s, n, P.Key);
      else std::memcpy(d, s, size_t(n) * 2);
      return;
    case SOFT_MODE_ALPHA:
      if (V.Sub == SOFT_SUB_HALF) K.Half16(d, s, n, key, P.Key);
      else if (V.Sub == SOFT_SUB_MIX6) K.Mix16(d, s, n, p >> 2, key, P.Key);
      else K.Toward16[0](d, s, n, p, key, P.Key);
      return;
    case SOFT_MODE_INVSRC: K.Toward16[1](d, s, n, p, key, P.Key); return;
    case SOFT_MODE_MULA: K.Toward16[2](d, s, n, p, key, P.Key); return;
    case SOFT_MODE_MUL: K.Mul16(d, s, n, key, P.Key); return;
    default: {
      const int form = V.Mode == SOFT_MODE_SUB ? 2 : V.Sub == SOFT_SUB_ADD255 ? 1 : 0;
      K.PackedAddSub16[form](d, s, n, p, key, P.Key);
    }
  }
}

template <SoftFamily F, SoftVariant V>
void PlainSimd16Pixels(const SoftDrawPrep& P, const PlainBlitArgs& A) {
  const PlainSimdOps& K = PlainSimd();
  PlainSegments(A, 2, [&](uint8_t* d, const uint8_t* s, int n) { PlainSimd16Segment<F, V>(K, P, d, s, n); });
}

// A work buffer of n 32-bit words for one call: on the stack up to kStackWords, else from tracked
// memory. data() is null when that allocation fails; the caller then takes a path without it.
class SoftWorkBuffer {
 public:
  static constexpr int kStackWords = 2048;
  explicit SoftWorkBuffer(size_t words)
      : data_(words <= kStackWords ? stack_
                                   : static_cast<uint32_t*>(MEM_ALLOC(words * sizeof(uint32_t)))) {}
  ~SoftWorkBuffer() {
    if (data_ != stack_) MEM_FREE(data_);
  }
  SoftWorkBuffer(const SoftWorkBuffer&) = delete;
  SoftWorkBuffer& operator=(const SoftWorkBuffer&) = delete;
  uint32_t* data() const { return data_; }

 private:
  alignas(32) uint32_t stack_[kStackWords];
  uint32_t* data_;
};

// With ENGINE_SPECIALISED_LOOPS at 1 (the build option of that name; the default, the sanitizer
// build included) every variant is specialised; at 0 only the vector and copy loops are, and the
// rest runs on the generic path, for a quicker build.
constexpr bool kPlainSpecialiseAll = ENGINE_SPECIALISED_LOOPS != 0;

// The loop templates the dispatch tables are built from, one set per destination format.
template <int Dst16>
struct PlainBlitLoops {
  template <SoftFamily F, SoftVariant V>
  struct Pixels {
    static constexpr bool kEnabled =
        V.Dst16 == Dst16 &&
        (kPlainSpecialiseAll || PlainSimdPixelsCase<F, V>() || PlainSimd16Case<F, V>());
    static void Run(const SoftDrawPrep& P, const PlainBlitArgs& A) {
      if constexpr (PlainSimdPixelsCase<F, V>()) PlainSimdPixels<F, V>(P, A);
      else if constexpr (PlainSimd16Case<F, V>()) PlainSimd16Pixels<F, V>(P, A);
      else PlainBlitPixels(F, V, P, A);
    }
  };
  template <SoftFamily F, SoftVariant V>
  struct Runs {
    static constexpr bool kEnabled =
        V.Dst16 == Dst16 && V.Trans == 1 &&
        (kPlainSpecialiseAll || PlainSimdRunsCase<F, V>() || PlainSimd16Case<F, V>());
    static void Run(const SoftDrawPrep& P, const PlainBlitArgs& A) {
      if constexpr (PlainSimdRunsCase<F, V>() || PlainSimd16Case<F, V>()) PlainSimdRuns<F, V>(P, A);
      else PlainBlitRuns(F, V, P, A);
    }
  };
};

// The specialised loop of one destination format for a prepared call (null: the generic path).
PlainBlitFn PlainBlitPick32(const SoftVariant& v, bool runs);
PlainBlitFn PlainBlitPick16(const SoftVariant& v, bool runs);
// The generic path: the same loops with the variant decided at run time.
void PlainBlitGeneric(const SoftFamily& fam, const SoftDrawPrep& P, const PlainBlitArgs& A, bool runs);
