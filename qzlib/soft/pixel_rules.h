// The per-pixel rule layer shared by every MEMIMG drawer.
//
// What one drawn pixel does is written once here, in integers, for every destination format
// (32-bit X8R8G8B8 or 16-bit 5:6:5), source kind (palettised, direct colour, direct colour with
// alpha), blend mode and sub-variant (blend graph, tint, transparent flag, short cut on the blend
// parameter). A drawer family only supplies geometry: which source pixel and which blend-graph
// byte go with which destination pixel.
//
// How a drawer family uses it
// ---------------------------
// 1. Describe the family's departures from the common rules in a constexpr SoftFamily (below);
//    each field is one named rule. Never share a SoftFamily between two families because their
//    fields happen to agree today: give each family its own constant.
// 2. Once per call: SoftDrawPrep prep; if (!SoftPrepareDraw(&prep, family, dst, src, trans, graph))
//    return;  That reads the draw state, applies the mode's short cuts on the blend parameter
//    (deciding "draw nothing"), builds the tint rows, copies the source palette (all 256 entries,
//    tinted and/or inverted as the mode needs) into prep's own per-call buffer, picks the blend
//    graph table and reads MmxUsableFlag. prep.Variant is the compile-time variant of this call.
//    Then call MemImgMarkPixelsChanged(dst) (qzlib/soft/memimg.h) before writing pixels.
// 3. Write the pixel loop once as a class template over <SoftFamily F, SoftVariant V>, with a
//    static function Run (any signature; the same for every variant) and a static constexpr bool
//    kEnabled (false for the variants the family never draws, so they are not instantiated).
//    Inside the loop call, per destination pixel, SoftDrawSourcePixel(F, V, prep, dstPixel,
//    srcPixel, graphByte) (fetch, skip test, rule) or, when the loop already knows the source
//    colour and whether the alpha weight applies, SoftApplyColour(...). A run-map driven loop
//    uses SoftDrawRunPixel (no skip test; the run's kind says whether a weighs). For a flat
//    colour use SoftDrawFlatPixel. F and V are the template parameter objects, so every test of
//    the variant folds away at compile time and only the per-pixel skip tests remain. Copy prep
//    into a local before the loop: pixel stores may alias anything they can reach, a local not.
//    Clip against SoftDestArea(dst) (DrawArea limited to the destination).
// 4. Pick the loop once per call: auto fn = SoftPickLoop<MyLoop, kMyFamily, MyFn>(prep.Variant);
//    SoftPickLoop indexes a table the compiler builds over every valid variant (a null entry:
//    the family does not specialise that variant; run the generic path).
// 5. Keep a generic path: when SoftForceGenericPath is non-zero, run the same loop body with
//    the runtime variant (SoftVariant and SoftFamily passed as ordinary references). The rules
//    are the same functions, so the two paths must give identical pixels; tests compare them.
//
// Drawer-wide rules: with the transparent flag set, an alpha source's a = 0 pixels are skipped in
// every mode (SoftAlphaDecision; a run map's skip runs are the same pixels), so a drawer's
// per-pixel and run-map paths agree; a blend graph narrower or shorter than the source draws
// nothing (SoftBlendGraphFits, also checked by SoftPrepareDraw); every drawer clears the
// destination's run-map-valid and premultiplied-valid flags through MemImgMarkPixelsChanged
// (memimg.h); palette work buffers are per call with all 256 entries (SoftDrawPrep); 16-bit flat
// colours are masked to 16 bits on entry.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <utility>

#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/memimg.h>

#if defined(__GNUC__)
#define SOFT_INLINE inline __attribute__((always_inline))
#else
#define SOFT_INLINE inline
#endif

// Forces every drawer that honours it onto its generic (runtime-variant) pixel path. For tests.
extern int SoftForceGenericPath;

// True when the blend graph (if any) is at least as wide and as tall as the source view; a blend
// graph that is smaller draws nothing, since drawers read it at source positions.
inline bool SoftBlendGraphFits(const MEMIMG* graph, const MEMIMG* src) {
  return graph == nullptr || (graph->Width >= src->Width && graph->Height >= src->Height);
}

// The draw area of a call into dst: DrawArea limited to the destination view (0, 0, width,
// height), so that a DrawArea set for another target never lets a drawer write outside dst.
RECT SoftDestArea(const MEMIMG* dst);

// Source kinds.
enum : int { SOFT_SRC_PAL = 0, SOFT_SRC_DIRECT = 1, SOFT_SRC_ALPHA = 2 };
// Compact blend-mode index (BLENDMODE value in the comment).
enum : int {
  SOFT_MODE_NOBLEND = 0,  // 0
  SOFT_MODE_ALPHA = 1,    // 1
  SOFT_MODE_ADD = 2,      // 2
  SOFT_MODE_SUB = 3,      // 3
  SOFT_MODE_MUL = 4,      // 4
  SOFT_MODE_INVSRC = 5,   // 10
  SOFT_MODE_MULA = 6,     // 11
  SOFT_MODE_COUNT = 7
};
// Sub-variants chosen from the blend parameter (all need: no blend graph, tint off, source
// without alpha).
enum : int {
  SOFT_SUB_NONE = 0,
  SOFT_SUB_HALF = 1,    // ALPHA p = 128: floor(s/2) + floor(d/2) on the packed pixel
  SOFT_SUB_MIX6 = 2,    // 16-bit ALPHA other p: the 6-bit mix table plane p >> 2
  SOFT_SUB_ADD255 = 3,  // ADD p = 255: the packed add without the low-bit OR
  SOFT_SUB_MMX = 4,     // ADD or SUB p = 255, 32-bit: per-byte saturating add/sub of whole words
  SOFT_SUB_COUNT = 5
};

// One compile-time variant of a draw.
struct SoftVariant {
  int Dst16 = 0;  // 1: 16-bit 5:6:5 destination, 0: 32-bit
  int Src = SOFT_SRC_DIRECT;
  int Mode = SOFT_MODE_NOBLEND;
  int Graph = 0;  // a blend graph is given
  int Tint = 0;   // DrawBright & 0xFFFFFF != 0xFFFFFF
  int Trans = 0;  // transparent flag set
  int Sub = SOFT_SUB_NONE;
};

// A drawer family's departures from the common rules. Each field is one rule.
struct SoftFamily {
  // ALPHA at p = 128 without blend graph and tint, sources without alpha: floor(s/2) + floor(d/2)
  // per channel on the packed pixel (32-bit: byte 3 becomes 0) instead of the weighted blend.
  int AlphaHalfShortcut = 0;
  // 16-bit ALPHA at p != 128 under the same conditions: d' = X6[p >> 2][s][d] (6-bit mix table)
  // instead of d + V[p][s - d].
  int Alpha16MixTable = 0;
  // ADD at p = 255 without blend graph and tint, sources without alpha: the packed add leaves out
  // the OR of both operands' lowest green and red bits.
  int AddNoOrAt255 = 0;
  // 32-bit ADD at p = 255 without blend graph and tint, sources without alpha, MmxUsableFlag 1:
  // per-byte saturating add of the whole source word (palette entry) and the destination word,
  // byte 3 included.
  int MmxAdd = 0;
  // 32-bit SUB under the same conditions: per-byte saturating subtract of whole words.
  int MmxSub = 0;
  // SUB with p = 0 draws nothing for palettised sources too (otherwise a palettised source runs
  // the subtract with amounts 0; direct sources never draw at p = 0).
  int SubZeroDrawsNothingForPalette = 0;
  // NOBLEND (and ALPHA at p = 255) from an alpha source with the transparent flag clear, no blend
  // graph and no tint copies the source whole and ignores its alpha (otherwise weighs by alpha).
  int NoblendAlphaSourceCopies = 0;
  // INVSRC tints the source first and inverts the tinted value (otherwise inverts, then tints).
  int InvsrcTintFirst = 0;
  // 32-bit copies without a weight (NOBLEND, tint off) write the whole source word (palette
  // entry), byte 3 included; otherwise only B, G, R are written and byte 3 is kept.
  int CopyWholeWord = 1;
  // 16-bit direct sources without alpha: the plain copy (NOBLEND without blend graph and tint)
  // compares the colour with the low 16 bits of the colour key; otherwise the whole 32-bit key
  // is compared (a key above 0xFFFF then skips nothing).
  int KeyLow16InPlainCopy = 0;
  // Tint by (channel * bright) >> 8 instead of the multiply table (flat drawers).
  int TintShift8 = 0;
  // 16-bit ADD/SUB of an alpha source without blend graph: the raw colour is weighed by a first
  // and the result tinted (otherwise tint first).
  int AlphaBeforeTint16 = 1;
  // 16-bit MULA weighed by a alone (no blend graph, no tint): green keeps five more bits of the
  // product, d + floor((floor(s*d/2) - 32*d) * a * p / 2^21).
  int MulaFineGreen16 = 1;
};

// Per-call state, computed once by SoftPrepareDraw.
struct SoftDrawPrep {
  SoftVariant Variant;
  int P = 0;                 // DrawBlendParam
  uint32_t Bright = 0xFFFFFF;
  uint32_t Key = 0;          // source colour key
  int Mmx = 0;               // MmxUsableFlag == 1, read once
  const int32_t* TintRow[3] = {};  // multiply-table rows of the bright bytes B, G, R
  uint32_t TintMul[3] = {};        // the bright bytes themselves (TintShift8 families)
  const int32_t* MulP = nullptr;   // multiply-table row of p
  const int32_t* SigP = nullptr;   // signed-table row of p at difference 0
  const uint8_t* Mix6 = nullptr;   // 6-bit mix plane p >> 2
  const uint8_t* GraphTable = nullptr;  // MemImgBlendGraphTable when a blend graph is given
  // Palette work buffer (palettised sources): all 256 entries of the source palette, inverted
  // (INVSRC) and tinted where the mode's rule would do it per pixel. Per call, never shared.
  uint32_t Pal32[256];
  uint16_t Pal16[256];
};

// Reads the draw state (DrawBlendMode, DrawBlendParam, DrawBright, MmxUsableFlag) and fills prep
// for drawing src (null for a flat colour: a direct source without alpha) into dst. Returns 0
// when the call draws nothing: formats differ (with a source), the destination is not format 0
// or 1 or is palettised or has alpha, the mode draws nothing or p makes it draw nothing, or the
// blend graph is smaller than the source. Size checks of the destination are the drawer's.
int SoftPrepareDraw(SoftDrawPrep* prep, const SoftFamily& fam, const MEMIMG* dst, const MEMIMG* src,
                    int trans, const MEMIMG* graph);

// ---------------------------------------------------------------------------------------------
// Variant keys: every (format, source, mode, graph, tint, trans, sub) as one index.
constexpr int SOFT_VARIANT_KEYS = 2 * 3 * SOFT_MODE_COUNT * 2 * 2 * 2 * SOFT_SUB_COUNT;

constexpr int SoftVariantKey(const SoftVariant& v) {
  return (((((v.Dst16 * 3 + v.Src) * SOFT_MODE_COUNT + v.Mode) * 2 + v.Graph) * 2 + v.Tint) * 2 +
          v.Trans) * SOFT_SUB_COUNT + v.Sub;
}
constexpr SoftVariant SoftKeyVariant(int key) {
  SoftVariant v{};
  v.Sub = key % SOFT_SUB_COUNT; key /= SOFT_SUB_COUNT;
  v.Trans = key % 2; key /= 2;
  v.Tint = key % 2; key /= 2;
  v.Graph = key % 2; key /= 2;
  v.Mode = key % SOFT_MODE_COUNT; key /= SOFT_MODE_COUNT;
  v.Src = key % 3; key /= 3;
  v.Dst16 = key;
  return v;
}
// Whether a variant can occur at all (sub-variants only where their conditions hold).
constexpr bool SoftVariantValid(const SoftVariant& v) {
  if (v.Sub == SOFT_SUB_NONE) return true;
  if (v.Graph || v.Tint || v.Src == SOFT_SRC_ALPHA) return false;
  switch (v.Sub) {
    case SOFT_SUB_HALF: return v.Mode == SOFT_MODE_ALPHA;
    case SOFT_SUB_MIX6: return v.Dst16 && v.Mode == SOFT_MODE_ALPHA;
    case SOFT_SUB_ADD255: return v.Mode == SOFT_MODE_ADD;
    case SOFT_SUB_MMX: return !v.Dst16 && (v.Mode == SOFT_MODE_ADD || v.Mode == SOFT_MODE_SUB);
  }
  return false;
}

namespace soft_detail {
template <template <SoftFamily, SoftVariant> class Loop, SoftFamily F, class Fn, int Key>
constexpr Fn Entry() {
  constexpr SoftVariant v = SoftKeyVariant(Key);
  if constexpr (SoftVariantValid(v)) {
    if constexpr (Loop<F, v>::kEnabled) return &Loop<F, v>::Run;
    else return nullptr;
  } else {
    return nullptr;
  }
}
template <template <SoftFamily, SoftVariant> class Loop, SoftFamily F, class Fn, int... K>
constexpr std::array<Fn, sizeof...(K)> BuildTable(std::integer_sequence<int, K...>) {
  return {{Entry<Loop, F, Fn, K>()...}};
}
template <template <SoftFamily, SoftVariant> class Loop, SoftFamily F, class Fn>
struct Table {
  static constexpr std::array<Fn, SOFT_VARIANT_KEYS> kTable =
      BuildTable<Loop, F, Fn>(std::make_integer_sequence<int, SOFT_VARIANT_KEYS>());
};
}  // namespace soft_detail

// The loop of family F for variant v (null when the family does not draw that variant), from a
// table of every variant's instantiation built by the compiler.
template <template <SoftFamily, SoftVariant> class Loop, SoftFamily F, class Fn>
inline Fn SoftPickLoop(const SoftVariant& v) {
  return soft_detail::Table<Loop, F, Fn>::kTable[SoftVariantKey(v)];
}

// ---------------------------------------------------------------------------------------------
// The rules. F and V are either the template parameter objects (every test folds) or runtime
// references (the generic path). Channel index c: 0 = blue, 1 = green, 2 = red.

namespace soft_detail {
SOFT_INLINE uint32_t Load32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
SOFT_INLINE uint16_t Load16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }
SOFT_INLINE void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
SOFT_INLINE void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// d + floor((t - d) * W / 2^k), k = 0, 8, 16 or 24 (k = 0: t).
SOFT_INLINE int32_t Mix(int32_t d, int32_t t, uint32_t W, int k) {
  if (k == 0) return t;
  int64_t v = (static_cast<int64_t>(d) << k) + static_cast<int64_t>(t - d) * W;
  return static_cast<int32_t>(v >> k);
}

SOFT_INLINE uint32_t Tint(const SoftFamily& F, const SoftDrawPrep& P, int c, uint32_t x) {
  if (F.TintShift8) return (x * P.TintMul[c]) >> 8;
  return static_cast<uint32_t>(P.TintRow[c][x]);
}

// Per-byte saturating add / subtract of two words (the MMX rules).
SOFT_INLINE uint32_t SatAddBytes(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  _Pragma("GCC unroll 4") for (int i = 0; i < 32; i += 8) {
    uint32_t s = ((a >> i) & 0xFF) + ((b >> i) & 0xFF);
    r |= (s > 255 ? 255u : s) << i;
  }
  return r;
}
SOFT_INLINE uint32_t SatSubBytes(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  _Pragma("GCC unroll 4") for (int i = 0; i < 32; i += 8) {
    int32_t s = static_cast<int32_t>((a >> i) & 0xFF) - static_cast<int32_t>((b >> i) & 0xFF);
    r |= static_cast<uint32_t>(s < 0 ? 0 : s) << i;
  }
  return r;
}

// Packed 32-bit add and subtract on B, G, R (S's byte 3 is 0 or ignored).
SOFT_INLINE uint32_t PackedAdd32(uint32_t S, uint32_t D, bool lowBitOr) {
  uint32_t sum = (S & 0x00FEFEFFu) + (D & 0x00FEFEFFu);
  uint32_t c = sum & 0x01010100u;
  uint32_t r = sum | (c - (c >> 8));
  if (lowBitOr) r |= (S | D) & 0x00010100u;
  return r;
}
SOFT_INLINE uint32_t PackedSub32(uint32_t S, uint32_t D) {
  uint32_t diff = (D | 0x01010100u) - (S & 0x00FEFEFFu);
  uint32_t b = diff & 0x01010100u;
  return diff & (b - (b >> 8));
}
// Packed 16-bit add and subtract on one 5:6:5 pixel.
SOFT_INLINE uint32_t PackedAdd16(uint32_t S, uint32_t D, bool lowBitOr) {
  uint32_t sum = (S & 0xF7DFu) + (D & 0xF7DFu);
  uint32_t c = sum & 0x08210820u;
  uint32_t r = sum | (c - (c >> 5));
  if (lowBitOr) r |= (S | D) & 0x0820u;
  return r & 0xFFFFu;
}
SOFT_INLINE uint32_t PackedSub16(uint32_t S, uint32_t D) {
  uint32_t diff = (D | 0x08210820u) - (S & 0xF7DFu);
  uint32_t b = diff & 0x08210820u;
  return (diff & (b - (b >> 5))) & 0xFFFFu;
}

SOFT_INLINE bool ModeUsesP(int mode) { return mode != SOFT_MODE_NOBLEND && mode != SOFT_MODE_MUL; }

// 16-bit channel extraction: c = 0 blue (5 bits), 1 green (6 bits), 2 red (5 bits).
SOFT_INLINE uint32_t Ch16(uint32_t v, int c) {
  return c == 0 ? (v & 31u) : c == 1 ? ((v >> 5) & 63u) : ((v >> 11) & 31u);
}
SOFT_INLINE uint32_t Pack16(uint32_t b, uint32_t g, uint32_t r) { return (r << 11) | (g << 5) | b; }
SOFT_INLINE int W16(int c) { return c == 1 ? 6 : 5; }
}  // namespace soft_detail

// The source colour as the rule sees it, before the mode: inverted for INVSRC and tinted when
// tint is on, in the family's order. 32-bit: B, G, R bytes (byte 3 left as given); 16-bit: 5:6:5.
SOFT_INLINE uint32_t SoftTransformSource32(const SoftFamily& F, const SoftVariant& V,
                                           const SoftDrawPrep& P, uint32_t s) {
  using namespace soft_detail;
  bool inv = V.Mode == SOFT_MODE_INVSRC;
  if (!inv && !V.Tint) return s;
  uint32_t r = s & 0xFF000000u;
  _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
    uint32_t x = (s >> (8 * c)) & 0xFF;
    if (inv && !(V.Tint && F.InvsrcTintFirst)) x = 255 - x;
    if (V.Tint) x = Tint(F, P, c, x);
    if (inv && V.Tint && F.InvsrcTintFirst) x = 255 - x;
    r |= x << (8 * c);
  }
  return r;
}
SOFT_INLINE uint32_t SoftTransformSource16(const SoftFamily& F, const SoftVariant& V,
                                           const SoftDrawPrep& P, uint32_t s) {
  using namespace soft_detail;
  bool inv = V.Mode == SOFT_MODE_INVSRC;
  s &= 0xFFFFu;
  if (!inv && !V.Tint) return s;
  uint32_t ch[3];
  _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
    uint32_t x = Ch16(s, c), mx = (1u << W16(c)) - 1;
    if (inv && !(V.Tint && F.InvsrcTintFirst)) x = mx - x;
    if (V.Tint) x = Tint(F, P, c, x);
    if (inv && V.Tint && F.InvsrcTintFirst) x = mx - x;
    ch[c] = x;
  }
  return Pack16(ch[0], ch[1], ch[2]);
}

// Applies the mode rule to one 32-bit destination pixel.
//   raw: the source word as stored (palette entry or direct pixel; whole-word copies and the MMX
//        rules use it), s: the source colour after SoftTransformSource32 (palette work buffer
//        entries already are), a: source alpha, alphaW: the alpha weight applies, w: blend-graph
//        weight (table value), used when V.Graph.
SOFT_INLINE void SoftApplyColour32(const SoftFamily& F, const SoftVariant& V, const SoftDrawPrep& P,
                                   uint8_t* dstp, uint32_t raw, uint32_t s, uint32_t a, bool alphaW,
                                   uint32_t w) {
  using namespace soft_detail;
  uint32_t D = Load32(dstp);
  const int mode = V.Mode;
  const bool usesP = ModeUsesP(mode);
  int n = (V.Graph ? 1 : 0) + (alphaW ? 1 : 0);  // factors other than p
  uint32_t Wo = (V.Graph ? w : 1u) * (alphaW ? a : 1u);
  const uint32_t p = static_cast<uint32_t>(P.P);

  if (mode == SOFT_MODE_NOBLEND) {
    if (n == 0) {
      if (!V.Tint && F.CopyWholeWord) Store32(dstp, raw);
      else Store32(dstp, (D & 0xFF000000u) | (s & 0x00FFFFFFu));
      return;
    }
  } else if (mode == SOFT_MODE_ALPHA && V.Sub == SOFT_SUB_HALF) {
    Store32(dstp, ((raw >> 1) & 0x7F7F7Fu) + ((D >> 1) & 0x7F7F7Fu));
    return;
  } else if (mode == SOFT_MODE_ADD || mode == SOFT_MODE_SUB) {
    if (V.Sub == SOFT_SUB_MMX) {
      Store32(dstp, mode == SOFT_MODE_ADD ? SatAddBytes(raw, D) : SatSubBytes(D, raw));
      return;
    }
    uint32_t S = 0;
    _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
      uint32_t x = (s >> (8 * c)) & 0xFF;
      uint32_t A;
      if (n == 0) A = static_cast<uint32_t>(P.MulP[x]);
      else A = static_cast<uint32_t>((static_cast<uint64_t>(x) * Wo * p) >> (8 * (n + 1)));
      S |= A << (8 * c);
    }
    if (mode == SOFT_MODE_ADD) Store32(dstp, PackedAdd32(S, D, V.Sub != SOFT_SUB_ADD255));
    else Store32(dstp, PackedSub32(S, D));
    return;
  } else if (mode == SOFT_MODE_MUL) {
    uint32_t r = D & 0xFF000000u;
    _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
      uint64_t x = (s >> (8 * c)) & 0xFF, d = (D >> (8 * c)) & 0xFF;
      r |= static_cast<uint32_t>((x * Wo * d) >> (8 * n + 8)) << (8 * c);
    }
    Store32(dstp, r);
    return;
  }
  // Weighted blend toward a target: NOBLEND (with a factor), ALPHA, INVSRC, MULA.
  uint32_t W = usesP ? Wo * p : Wo;
  int k = 8 * (n + (usesP ? 1 : 0));
  uint32_t r = D & 0xFF000000u;
  _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
    int32_t x = (s >> (8 * c)) & 0xFF, d = (D >> (8 * c)) & 0xFF;
    int32_t t = mode == SOFT_MODE_MULA ? ((x * d) >> 8) : x;
    r |= static_cast<uint32_t>(Mix(d, t, W, k) & 0xFF) << (8 * c);
  }
  Store32(dstp, r);
}

// Applies the mode rule to one 16-bit destination pixel. raw: the 5:6:5 colour as stored; s: the
// colour after SoftTransformSource16, except for ADD/SUB of an alpha source weighed by a without
// blend graph in AlphaBeforeTint16 families, where the rule tints after weighing raw by a.
SOFT_INLINE void SoftApplyColour16(const SoftFamily& F, const SoftVariant& V, const SoftDrawPrep& P,
                                   uint8_t* dstp, uint32_t raw, uint32_t s, uint32_t a, bool alphaW,
                                   uint32_t w) {
  using namespace soft_detail;
  uint32_t D = Load16(dstp);
  const int mode = V.Mode;
  int n = (V.Graph ? 1 : 0) + (alphaW ? 1 : 0);
  uint32_t Wo = (V.Graph ? w : 1u) * (alphaW ? a : 1u);
  const uint32_t p = static_cast<uint32_t>(P.P);
  raw &= 0xFFFFu;

  if (mode == SOFT_MODE_NOBLEND && n == 0) {
    Store16(dstp, static_cast<uint16_t>(s));
    return;
  }
  if (mode == SOFT_MODE_ALPHA && V.Sub == SOFT_SUB_HALF) {
    Store16(dstp, static_cast<uint16_t>(((raw >> 1) & 0x7BEFu) + ((D >> 1) & 0x7BEFu)));
    return;
  }
  if (mode == SOFT_MODE_ADD || mode == SOFT_MODE_SUB) {
    uint32_t ch[3];
    bool alphaFirst = alphaW && !V.Graph && F.AlphaBeforeTint16;
    _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
      uint32_t x;
      if (alphaFirst) {
        x = (Ch16(raw, c) * a) >> 8;
        if (V.Tint) x = Tint(F, P, c, x);
      } else {
        x = Ch16(s, c);
        if (n) x = static_cast<uint32_t>((static_cast<uint64_t>(x) * Wo) >> (8 * n));
      }
      ch[c] = static_cast<uint32_t>(P.MulP[x]);
    }
    uint32_t S = Pack16(ch[0], ch[1], ch[2]);
    if (mode == SOFT_MODE_ADD) Store16(dstp, static_cast<uint16_t>(PackedAdd16(S, D, V.Sub != SOFT_SUB_ADD255)));
    else Store16(dstp, static_cast<uint16_t>(PackedSub16(S, D)));
    return;
  }
  uint32_t ch[3];
  if (mode == SOFT_MODE_MUL) {
    _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
      uint64_t x = Ch16(s, c), d = Ch16(D, c);
      ch[c] = static_cast<uint32_t>((x * d * Wo) >> (W16(c) + 8 * n));
    }
    Store16(dstp, static_cast<uint16_t>(Pack16(ch[0], ch[1], ch[2])));
    return;
  }
  const bool usesP = ModeUsesP(mode);
  const bool fineGreen = mode == SOFT_MODE_MULA && F.MulaFineGreen16 && alphaW && !V.Graph && !V.Tint;
  _Pragma("GCC unroll 4") for (int c = 0; c < 3; ++c) {
    int32_t x = static_cast<int32_t>(Ch16(s, c)), d = static_cast<int32_t>(Ch16(D, c));
    int32_t t = mode == SOFT_MODE_MULA ? ((x * d) >> W16(c)) : x;
    int32_t r;
    if (mode == SOFT_MODE_ALPHA && V.Sub == SOFT_SUB_MIX6) {
      r = P.Mix6[(x << 6) + d];
    } else if (usesP && n == 0) {
      r = d + P.SigP[t - d];
    } else if (fineGreen && c == 1) {
      int32_t M = (x * d) >> 1;
      int64_t v = (static_cast<int64_t>(d) << 21) + static_cast<int64_t>(M - 32 * d) * (a * p);
      r = static_cast<int32_t>(v >> 21);
    } else {
      uint32_t W = usesP ? Wo * p : Wo;
      r = Mix(d, t, W, 8 * (n + (usesP ? 1 : 0)));
    }
    ch[c] = static_cast<uint32_t>(r);
  }
  Store16(dstp, static_cast<uint16_t>(Pack16(ch[0], ch[1], ch[2])));
}

// Applies the rule to one destination pixel for a source colour already fetched (and, for a
// palettised source, already taken from prep's work buffer). raw: the stored source word
// (16-bit: the 5:6:5 colour); a: source alpha; alphaW: whether a weighs this pixel.
SOFT_INLINE void SoftApplyColour(const SoftFamily& F, const SoftVariant& V, const SoftDrawPrep& P,
                                 uint8_t* dstp, uint32_t raw, uint32_t a, bool alphaW, uint32_t w) {
  if (V.Dst16) {
    uint32_t s = V.Src == SOFT_SRC_PAL ? raw : SoftTransformSource16(F, V, P, raw);
    SoftApplyColour16(F, V, P, dstp, raw, s, a, alphaW, w);
  } else {
    uint32_t s = V.Src == SOFT_SRC_PAL ? raw : SoftTransformSource32(F, V, P, raw);
    SoftApplyColour32(F, V, P, dstp, raw, s, a, alphaW, w);
  }
}

// Whether an alpha-source pixel is drawn at all (returns false to skip) and whether the alpha
// weight applies to it. With the transparent flag set, a = 0 is skipped in every mode of every
// family (MUL included) and a = 255 is drawn without the weight; with it clear every pixel is
// drawn and weighed by its a (so MUL writes black where a = 0), except NOBLEND's whole copy in
// NoblendAlphaSourceCopies families.
SOFT_INLINE bool SoftAlphaDecision(const SoftFamily& F, const SoftVariant& V, uint32_t a, bool* alphaW) {
  if (V.Trans) {
    if (a == 0) return false;
    *alphaW = a != 255;
    return true;
  }
  *alphaW = !(V.Mode == SOFT_MODE_NOBLEND && F.NoblendAlphaSourceCopies && !V.Graph && !V.Tint);
  return true;
}

// One source pixel onto one destination pixel: fetch (src points at the source pixel: 1 byte
// index, 2-byte colour or 4-byte word by source kind and format), skip test, rule. graphByte is
// the blend graph's byte at the source position (ignored without a blend graph).
SOFT_INLINE void SoftDrawSourcePixel(const SoftFamily& F, const SoftVariant& V, const SoftDrawPrep& P,
                                     uint8_t* dstp, const uint8_t* src, uint32_t graphByte) {
  using namespace soft_detail;
  uint32_t w = V.Graph ? P.GraphTable[graphByte] : 0u;
  if (V.Src == SOFT_SRC_PAL) {
    uint32_t i = src[0];
    if (V.Trans && i == P.Key) return;
    uint32_t e = V.Dst16 ? P.Pal16[i] : P.Pal32[i];
    if (V.Dst16) SoftApplyColour16(F, V, P, dstp, e, e, 0, false, w);
    else SoftApplyColour32(F, V, P, dstp, e, e, 0, false, w);
  } else if (V.Src == SOFT_SRC_DIRECT) {
    uint32_t raw = V.Dst16 ? Load16(src) : Load32(src);
    if (V.Trans) {
      uint32_t key = P.Key;
      if (V.Dst16 && F.KeyLow16InPlainCopy && V.Mode == SOFT_MODE_NOBLEND && !V.Graph && !V.Tint)
        key &= 0xFFFFu;
      if (raw == key) return;
    }
    SoftApplyColour(F, V, P, dstp, raw, 0, false, w);
  } else {
    uint32_t word = Load32(src);
    uint32_t a = V.Dst16 ? ((word >> 16) & 0xFF) : (word >> 24);
    bool alphaW = false;
    if (!SoftAlphaDecision(F, V, a, &alphaW)) return;
    // One call per value of alphaW, so that each keeps its own constant factors and shifts (with
    // one call the compiler may merge the two into variable shifts, a slower loop).
    const uint32_t raw = V.Dst16 ? (word & 0xFFFFu) : word;
    if (alphaW) SoftApplyColour(F, V, P, dstp, raw, a, true, w);
    else SoftApplyColour(F, V, P, dstp, raw, a, false, w);
  }
}

// The source colour of one pixel without any skip test (run-map driven loops): raw is the stored
// word (palettised: the work-buffer entry), a the alpha of an alpha source.
SOFT_INLINE uint32_t SoftFetchSource(const SoftVariant& V, const SoftDrawPrep& P, const uint8_t* src,
                                     uint32_t* a) {
  using namespace soft_detail;
  if (V.Src == SOFT_SRC_PAL) return V.Dst16 ? P.Pal16[src[0]] : P.Pal32[src[0]];
  if (V.Src == SOFT_SRC_DIRECT) return V.Dst16 ? Load16(src) : Load32(src);
  uint32_t word = Load32(src);
  *a = V.Dst16 ? ((word >> 16) & 0xFF) : (word >> 24);
  return V.Dst16 ? (word & 0xFFFFu) : word;
}

// One pixel of a run-map run: drawn without a skip test; an alpha source is weighed by its own a
// in a translucent run and drawn by the rule without the alpha weight in an opaque run.
SOFT_INLINE void SoftDrawRunPixel(const SoftFamily& F, const SoftVariant& V, const SoftDrawPrep& P,
                                  uint8_t* dstp, const uint8_t* src, uint32_t graphByte,
                                  bool translucent) {
  uint32_t w = V.Graph ? P.GraphTable[graphByte] : 0u;
  uint32_t a = 0;
  uint32_t raw = SoftFetchSource(V, P, src, &a);
  SoftApplyColour(F, V, P, dstp, raw, a, V.Src == SOFT_SRC_ALPHA && translucent, w);
}

// A flat colour (already in the destination's format; 16-bit colours masked to 16 bits) onto one
// destination pixel. The variant's source kind is SOFT_SRC_DIRECT; no skip test.
SOFT_INLINE void SoftDrawFlatPixel(const SoftFamily& F, const SoftVariant& V, const SoftDrawPrep& P,
                                   uint8_t* dstp, uint32_t colour, uint32_t graphByte) {
  uint32_t w = V.Graph ? P.GraphTable[graphByte] : 0u;
  SoftApplyColour(F, V, P, dstp, colour, 0, false, w);
}

// ---------------------------------------------------------------------------------------------
// The families' constants. Each drawer family owns its own.

// The plain blit, per-pixel path.
constexpr SoftFamily kSoftFamilyPlainBlit = [] {
  SoftFamily f{};
  f.AlphaHalfShortcut = 1;
  f.Alpha16MixTable = 1;
  f.AddNoOrAt255 = 1;
  f.MmxAdd = 1;
  f.MmxSub = 1;
  f.SubZeroDrawsNothingForPalette = 1;
  f.NoblendAlphaSourceCopies = 1;
  return f;
}();
// The plain blit's run-map fast path: the per-pixel rules with the transparent flag set, without
// the ALPHA short cuts, the MMX forms and the packed add without the low-bit OR.
constexpr SoftFamily kSoftFamilyPlainBlitRuns = [] {
  SoftFamily f = kSoftFamilyPlainBlit;
  f.AlphaHalfShortcut = 0;
  f.Alpha16MixTable = 0;
  f.AddNoOrAt255 = 0;
  f.MmxAdd = 0;
  f.MmxSub = 0;
  return f;
}();
// The common rules of the 32-bit and 16-bit pixel-rule statements for the other drawers, as a
// starting point for their families (MMX SUB, the 16-bit low-16 key compare of the plain copy).
constexpr SoftFamily kSoftFamilyCommonRules = [] {
  SoftFamily f{};
  f.MmxSub = 1;
  f.KeyLow16InPlainCopy = 1;
  return f;
}();
