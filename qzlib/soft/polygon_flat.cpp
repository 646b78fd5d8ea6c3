// Flat-colour spans.
#include <cstddef>

#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/flat_spans.h>
#include <qzlib/soft/polygon_traits.h>

namespace {

using FlatLoopFn = void (*)(const PolygonDraw&, const SoftDrawPrep&, uint32_t);

// One loop per destination format and blend mode: no source, blend graph, tint or key.
template <SoftFamily F, SoftVariant V>
struct FlatLoop {
  static constexpr bool kEnabled = kPolygonSpecialisedLoops && V.Src == SOFT_SRC_DIRECT &&
                                   !V.Graph && !V.Tint && !V.Trans && V.Sub == SOFT_SUB_NONE;
  static void Run(const PolygonDraw& d, const SoftDrawPrep& p, uint32_t colour) {
    PolygonFlatSpans(F, V, d, p, colour);
  }
};

// The colour tinted through the multiply table, each channel by its own bright byte (rows 255
// are the identity). 32-bit: bytes B, G, R, the fourth byte kept; 16-bit: the 5:6:5 fields.
uint32_t TintFlatColour(uint32_t colour, uint32_t bright, bool dst16) {
  const auto& M = MemImgBlendTables.Multiply;
  uint32_t bb = bright & 0xFF, bg = (bright >> 8) & 0xFF, br = (bright >> 16) & 0xFF;
  if (dst16) {
    uint32_t r = M[br][(colour >> 11) & 31], g = M[bg][(colour >> 5) & 63], b = M[bb][colour & 31];
    return (r << 11) | (g << 5) | b;
  }
  return (colour & 0xFF000000u) | (uint32_t(M[br][(colour >> 16) & 0xFF]) << 16) |
         (uint32_t(M[bg][(colour >> 8) & 0xFF]) << 8) | uint32_t(M[bb][colour & 0xFF]);
}

// The vector spans: NOBLEND through the aligned fill, the other modes through the flat-colour
// kernels (the same rules on the prepared colour). False when the variant
// has none.
bool VectorFlatSpans(const PolygonDraw& draw, const SoftDrawPrep& prep, uint32_t colour) {
  const SoftVariant& v = prep.Variant;
  if (v.Src != SOFT_SRC_DIRECT || v.Graph || v.Tint || v.Trans || v.Sub != SOFT_SUB_NONE) return false;
  uint8_t* const pixels = draw.dst->Pixels;
  const ptrdiff_t pitch = draw.dst->Base->Pitch;
  if (v.Mode == SOFT_MODE_NOBLEND) {
    const bool dst16 = v.Dst16 != 0;
    const ptrdiff_t bpp = dst16 ? 2 : 4;
    WalkPolygon(*draw.setup, draw.area, [&](int32_t y, int32_t x, int32_t count) {
      SoftFillSpan(pixels + y * pitch + x * bpp, count, colour, dst16);
    });
    return true;
  }
  const ptrdiff_t bpp = v.Dst16 ? 2 : 4;
  const SoftFlatSpan spans(colour, v.Mode, prep.P, v.Dst16 != 0);
  WalkPolygon(*draw.setup, draw.area, [&](int32_t y, int32_t x, int32_t count) {
    spans.Span(pixels + y * pitch + x * bpp, count);
  });
  return true;
}

}  // namespace

void DrawPolygonFlatSpans(const PolygonDraw& draw) {
  SoftDrawPrep prep;
  if (!SoftPrepareDraw(&prep, kSoftFamilyPolygonFlat, draw.dst, nullptr, 0, nullptr)) return;
  MemImgMarkPixelsChanged(draw.dst);
  // The tint is applied here, once; the loops run on the prepared colour.
  uint32_t colour = TintFlatColour(draw.color, prep.Bright, prep.Variant.Dst16 != 0);
  prep.Variant.Tint = 0;
  if (!SoftForceGenericPath && VectorFlatSpans(draw, prep, colour)) return;
  if (SoftForceGenericPath || !kPolygonSpecialisedLoops) {
    PolygonFlatSpans(kSoftFamilyPolygonFlat, prep.Variant, draw, prep, colour);
    return;
  }
  if (FlatLoopFn fn = SoftPickLoop<FlatLoop, kSoftFamilyPolygonFlat, FlatLoopFn>(prep.Variant))
    fn(draw, prep, colour);
}
