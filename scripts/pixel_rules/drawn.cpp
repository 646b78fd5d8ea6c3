#include "drawn.h"

#include <cstdio>

namespace page {

SurfaceKind KindOf(int w, int h, int format) {
  SurfaceKind k;
  k.width = w;
  k.height = h;
  k.format = format;
  return k;
}

void PlainState(const Area& drawArea) {
  SetDrawBlendMode(0, 255);
  SetDrawBright(255, 255, 255);
  SetDrawArea(drawArea.left, drawArea.top, drawArea.right, drawArea.bottom);
}

void NumberTexels(Surface& src) {
  for (int v = 0; v < src.kind().height; ++v)
    for (int u = 0; u < src.kind().width; ++u) src.Set(u, v, (uint32_t(u) << 8 | uint32_t(v)) & 0xFFFF);
  MemImgMarkPixelsChanged(src.img());
}

namespace {

// Draws into a cleared destination and reads every pixel through `read`.
Grid Draw(Report& r, const Canvas& c, const DrawFn& draw, bool texels) {
  SurfaceKind dk = KindOf(c.w, c.h, c.format);
  dk.palette = c.paletteDst;
  dk.alpha = c.alphaDst;
  Surface dst(dk), src(KindOf(c.srcW, c.srcH, c.format));
  dst.FillWith(texels ? 0xFFFF : 0);
  if (texels) NumberTexels(src);
  else src.FillWith(1);
  PlainState(c.drawArea);
  if (!texels) SetDrawBlendMode(2, 255);
  draw(dst.img(), src.img(), texels ? 0 : 1);
  PlainState(c.drawArea);
  Grid g(c.w, c.h);
  for (int y = 0; y < c.h; ++y)
    for (int x = 0; x < c.w; ++x) {
      const uint32_t v = dst.Get(x, y);
      g.at(x, y) = texels ? ((v & 0xFFFF) == 0xFFFF ? -1 : int(v & 0xFFFF)) : int(v & 31);
    }
  if (!dst.GuardsIntact()) CompareValue(r, "the guard bytes around the destination", 1, 0);
  return g;
}

}  // namespace

Grid DrawnVisits(Report& r, const Canvas& c, const DrawFn& draw) { return Draw(r, c, draw, false); }
Grid DrawnTexels(Report& r, const Canvas& c, const DrawFn& draw) { return Draw(r, c, draw, true); }

Grid ModelVisits(int w, int h, const Hits& hits) {
  Grid g(w, h);
  for (const Hit& hit : hits) ++g.at(hit.x, hit.y);
  return g;
}

Grid ModelTexels(int w, int h, const Hits& hits) {
  Grid g(w, h, -1);
  for (const Hit& hit : hits) g.at(hit.x, hit.y) = hit.u << 8 | hit.v;
  return g;
}

void CompareGrids(Report& r, const std::string& what, const Grid& got, const Grid& want) {
  for (int y = 0; y < got.h; ++y)
    for (int x = 0; x < got.w; ++x)
      r.Compare(got.at(x, y) == want.at(x, y), what.c_str(), x, y, uint32_t(got.at(x, y)), uint32_t(want.at(x, y)));
}

void CompareValue(Report& r, const std::string& what, int64_t got, int64_t want) {
  r.Compare(got == want, what.c_str(), 0, 0, uint32_t(got), uint32_t(want));
}

}  // namespace page
