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

// M[i][j] = floor(i j / 255).
int M(int i, int j) { return i * j / 255; }
// N[i][j] = trunc(i j / 255): C++ division truncates toward zero.
int N(int i, int j) { return i * j / 255; }
// X6[i][j][l] = floor((j i + l (63 - i)) / 63).
int X6(int i, int j, int l) { return (j * i + l * (63 - i)) / 63; }

// Border and range are limited to 0..255; the weight w of a byte is 256 byte / (range + 1) plus
// 256 - (65536 / (range + 1) + 256) border / 256, limited to 0..255 (every division truncated).
int GraphWeight(int byte, int border, int range) {
  border = border < 0 ? 0 : border > 255 ? 255 : border;
  range = range < 0 ? 0 : range > 255 ? 255 : range;
  const int shift = 256 - ((65536 / (range + 1) + 256) * border) / 256;
  const int w = (256 * byte) / (range + 1) + shift;
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
