// The definition of PolygonTexturedPick (polygon_traits.h), for the files that each instantiate
// one share of a textured family's loops. Only those files include it: elsewhere the shares are
// taken from them, never instantiated again.
#pragma once
#include <qzlib/soft/polygon_traits.h>

template <int Dst16, int SrcPal, SoftFamily F, int Part, int Parts>
PolygonLoopFn PolygonTexturedPick(const SoftVariant& v) {
  return SoftPickLoop<PolygonTexturedLoops<Dst16, SrcPal, Part, Parts>::template Loop, F,
                     PolygonLoopFn>(v);
}

// Instantiates share Part of the loops of the family with the given format, source kind and
// family constant.
#define POLYGON_TEXTURED_SHARE(Dst16, SrcPal, F, Part, Parts)                          \
  static_assert((Part) < (Parts), "a share file beyond the family's share count");      \
  template PolygonLoopFn PolygonTexturedPick<Dst16, SrcPal, F, Part, Parts>(const SoftVariant&);
