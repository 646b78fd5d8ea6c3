// The triangle rasteriser's span families: their departures from the common pixel rules, and the
// one span loop each family runs (the walk of polygon_walk.h with the pixel rule inlined).
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/polygon_spans.h>
#include <qzlib/soft/polygon_walk.h>

// Flat colour. The colour is tinted once per call through the multiply table, before the mode is
// looked at, and the loops then run untinted on that prepared colour: NOBLEND stores the whole
// prepared word (its fourth byte too, tint or not), and INVSRC inverts the tinted colour.
constexpr SoftFamily kSoftFamilyPolygonFlat = [] {
  SoftFamily f{};
  f.InvsrcTintFirst = 1;  // holds through the prepared colour
  f.CopyWholeWord = 1;
  return f;
}();
// Textured, 32-bit destination, palettised source: the common rules without the MMX subtract
// (SUB at p = 255 takes the packed subtract whatever MmxUsableFlag holds); SUB at p = 0 draws
// with amounts 0.
constexpr SoftFamily kSoftFamilyPolygon32Pal = [] {
  SoftFamily f{};
  return f;
}();
// Textured, 32-bit destination, direct source: the common rules without the MMX subtract.
constexpr SoftFamily kSoftFamilyPolygon32Direct = [] {
  SoftFamily f{};
  return f;
}();
// Textured, 16-bit destination, palettised source: the common 16-bit rules, SUB at p = 0 drawn.
constexpr SoftFamily kSoftFamilyPolygon16Pal = [] {
  SoftFamily f{};
  return f;
}();
// Textured, 16-bit destination, direct source: every loop compares the whole 32-bit key (the
// plain copy too); the alpha source departures (ADD/SUB weigh by a before the tint, MULA's finer
// green) hold.
constexpr SoftFamily kSoftFamilyPolygon16Direct = [] {
  SoftFamily f{};
  f.KeyLow16InPlainCopy = 0;
  f.AlphaBeforeTint16 = 1;
  f.MulaFineGreen16 = 1;
  return f;
}();

// The textured span loop: per row, u and v from the reference corner, then per pixel the range
// test (unsigned, so negative coordinates fail too), the texel and blend-graph byte at
// (u >> 18, v >> 18) and the pixel rule. F and V fold at compile time in the specialised loops.
SOFT_INLINE void PolygonTexturedSpans(const SoftFamily& F, const SoftVariant& V,
                                      const PolygonDraw& d, const SoftDrawPrep& P) {
  const PolygonSetup& s = *d.setup;
  uint8_t* const dstPix = d.dst->Pixels;
  const ptrdiff_t dstPitch = d.dst->Base->Pitch;
  const ptrdiff_t dstBpp = V.Dst16 ? 2 : 4;
  const uint8_t* const srcPix = d.src->Pixels;
  const ptrdiff_t srcPitch = d.src->Base->Pitch;
  const ptrdiff_t srcBpp = V.Src == SOFT_SRC_PAL ? 1 : (V.Src == SOFT_SRC_ALPHA || !V.Dst16 ? 4 : 2);
  const uint8_t* const graphPix = V.Graph ? d.blendGraph->Pixels : nullptr;
  const ptrdiff_t graphPitch = V.Graph ? d.blendGraph->Base->Pitch : 0;
  const uint32_t uEnd = static_cast<uint32_t>(d.src->Width) << kPolygonFixShift;
  const uint32_t vEnd = static_cast<uint32_t>(d.src->Height) << kPolygonFixShift;
  const uint32_t ux = static_cast<uint32_t>(s.ux), vx = static_cast<uint32_t>(s.vx);
  WalkPolygon(s, d.area, [&](int32_t y, int32_t x, int32_t count) POLYGON_INLINE {
    uint8_t* dp = dstPix + y * dstPitch + x * dstBpp;
    uint32_t u, v;
    PolygonTexStart(s, x, y, &u, &v);
    for (int32_t i = 0; i < count; ++i, dp += dstBpp, u += ux, v += vx) {
      if (u >= uEnd || v >= vEnd) continue;
      const ptrdiff_t tx = u >> kPolygonFixShift, ty = v >> kPolygonFixShift;
      const uint8_t* sp = srcPix + ty * srcPitch + tx * srcBpp;
      uint32_t g = V.Graph ? graphPix[ty * graphPitch + tx] : 0u;
      SoftDrawSourcePixel(F, V, P, dp, sp, g);
    }
  });
}

// The flat span loop: every visited pixel takes the prepared colour.
SOFT_INLINE void PolygonFlatSpans(const SoftFamily& F, const SoftVariant& V, const PolygonDraw& d,
                                  const SoftDrawPrep& P, uint32_t colour) {
  uint8_t* const dstPix = d.dst->Pixels;
  const ptrdiff_t dstPitch = d.dst->Base->Pitch;
  const ptrdiff_t dstBpp = V.Dst16 ? 2 : 4;
  WalkPolygon(*d.setup, d.area, [&](int32_t y, int32_t x, int32_t count) POLYGON_INLINE {
    uint8_t* dp = dstPix + y * dstPitch + x * dstBpp;
    for (int32_t i = 0; i < count; ++i, dp += dstBpp) SoftDrawFlatPixel(F, V, P, dp, colour, 0);
  });
}

using PolygonLoopFn = void (*)(const PolygonDraw&, const SoftDrawPrep&);

// ENGINE_SPECIALISED_LOOPS is the build option of that name: 1 (the default, in every build the
// sanitizer build included, so that the loops that ship are the loops tested) compiles one loop
// per variant with every test of the variant folded; 0 runs every call on the generic path of the
// same span code, a build some minutes quicker for work away from the drawers.
constexpr bool kPolygonSpecialisedLoops = ENGINE_SPECIALISED_LOOPS != 0;

// The share of a family's variants a loop belongs to when the family's loops are spread over
// `parts` files (their instantiations are many and slow to compile with the sanitizers on).
constexpr int PolygonLoopPart(const SoftVariant& v, int parts) {
  return SoftVariantKey(v) / SOFT_SUB_COUNT % parts;
}

// The textured loops of one destination format and source kind (palettised or direct), share
// Part of Parts.
template <int Dst16, int SrcPal, int Part, int Parts>
struct PolygonTexturedLoops {
  template <SoftFamily F, SoftVariant V>
  struct Loop {
    static constexpr bool kEnabled = kPolygonSpecialisedLoops && V.Dst16 == Dst16 &&
                                     (V.Src == SOFT_SRC_PAL) == (SrcPal != 0) &&
                                     V.Sub == SOFT_SUB_NONE && PolygonLoopPart(V, Parts) == Part;
    static void Run(const PolygonDraw& d, const SoftDrawPrep& p) { PolygonTexturedSpans(F, V, d, p); }
  };
};

// The textured loop of family F for variant v when it lies in share Part of Parts (null when the
// family does not specialise v). Declared only: each share is instantiated in a file of its own
// (polygon_tex*_share*.cpp, through polygon_tex_share.h), so that no file compiles a whole family.
template <int Dst16, int SrcPal, SoftFamily F, int Part, int Parts>
PolygonLoopFn PolygonTexturedPick(const SoftVariant& v);

// How many shares each textured family's loops are spread over (one file each).
constexpr int kPolygonTexturedDirectShares = 6;
constexpr int kPolygonTexturedPalShares = 3;

// One textured call of family F, whose loops lie in Parts shares: prepare the draw state (or draw
// nothing), mark the destination written, and run the loop chosen once for the call (the generic
// path when forced, when the loops are not compiled, or for a variant the family does not
// specialise).
template <int Dst16, int SrcPal, SoftFamily F, int Parts>
void RunPolygonTextured(const PolygonDraw& d) {
  SoftDrawPrep prep;
  if (!SoftPrepareDraw(&prep, F, d.dst, d.src, d.trans, d.blendGraph)) return;
  MemImgMarkPixelsChanged(d.dst);
  PolygonLoopFn fn = nullptr;
  if (!SoftForceGenericPath && kPolygonSpecialisedLoops) {
    fn = [&]<int... K>(std::integer_sequence<int, K...>) {
      constexpr PolygonLoopFn (*kPick[])(const SoftVariant&) = {
          &PolygonTexturedPick<Dst16, SrcPal, F, K, Parts>...};
      return kPick[PolygonLoopPart(prep.Variant, Parts)](prep.Variant);
    }(std::make_integer_sequence<int, Parts>());
  }
  if (fn) fn(d, prep);
  else PolygonTexturedSpans(F, prep.Variant, d, prep);
}
