// The page's tables, the blend-graph weight, and what the per-format rules share.
#include <cstdio>

#include "page_model.h"

namespace page {

const char* DrawerName(Drawer d) {
  static const char* const names[kDrawerCount] = {
      "DrawMemImg",      "DrawMemImg (run map)", "DrawExtendMemImg", "DrawRotaMemImg",
      "DrawPolygonMemImg", "DrawPolygonMemImg (flat)", "DrawPixelMemImg", "DrawFillBoxMemImg",
      "DrawLineMemImg",  "DrawCircleMemImg/DrawOvalMemImg"};
  return d >= 0 && d < kDrawerCount ? names[d] : "?";
}

// M[r][i] = floor(r i / 255).
int M(int r, int i) { return r * i / 255; }
// V[r][x] = trunc(r x / 255): C++ division truncates toward zero.
int V(int r, int x) { return r * x / 255; }
// X6[k][y][z] = floor((y k + z (63 - k)) / 63).
int X6(int k, int y, int z) { return (y * k + z * (63 - k)) / 63; }

// Border and range are limited to 0..255; the weight of byte g is 256 g / (range + 1) plus
// 256 - (65536 / (range + 1) + 256) border / 256, limited to 0..255 (every division truncated).
int GraphWeight(int g, int border, int range) {
  border = border < 0 ? 0 : border > 255 ? 255 : border;
  range = range < 0 ? 0 : range > 255 ? 255 : range;
  const int shift = 256 - ((65536 / (range + 1) + 256) * border) / 256;
  const int w = (256 * g) / (range + 1) + shift;
  return w < 0 ? 0 : w > 255 ? 255 : w;
}

bool Draws(const Call& call) { return call.format == 0 ? Draws16(call) : Draws32(call); }

bool Visit(const Call& call, uint32_t& dst, uint32_t texel, int w) {
  return call.format == 0 ? Visit16(call, dst, texel, w) : Visit32(call, dst, texel, w);
}

void Report::Compare(bool same, const char* what, int x, int y, uint32_t got, uint32_t want) {
  ++pixels;
  if (same) return;
  ++differences;
  if (printed < 10) {
    ++printed;
    std::printf("    %s: %s at (%d, %d): drawn %08X, the page gives %08X\n", name, what, x, y, got,
                want);
  }
}

}  // namespace page
