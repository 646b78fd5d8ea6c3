// What the geometry examples draw: destinations inside guard bytes, read back as visit counts or
// as the texel each pixel shows, and the same grids from the model's hits.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "page_model.h"
#include "page_text.h"
#include "surface.h"

namespace page {

// A grid of the destination: visits of each pixel, or the texel each shows (u << 8 | v, -1 for
// none).
struct Grid {
  int w = 0, h = 0;
  std::vector<int> n;
  Grid(int width, int height, int fill = 0) : w(width), h(height), n(size_t(width) * size_t(height), fill) {}
  int& at(int x, int y) { return n[size_t(y) * size_t(w) + size_t(x)]; }
  int at(int x, int y) const { return n[size_t(y) * size_t(w) + size_t(x)]; }
  bool operator==(const Grid&) const = default;
};

// A draw into the destination, with the source (or the flat colour) of the kind drawn.
using DrawFn = std::function<void(MEMIMG* dst, MEMIMG* src, uint32_t colour)>;

struct Canvas {
  int format = 1, w = 104, h = 104;
  Area drawArea{0, 0, 104, 104};  // as given to SetDrawArea
  int srcW = 1, srcH = 1;         // the source the draw gets
  bool paletteDst = false, alphaDst = false;
};

// Visits of each pixel: ADD at 255 of a source (or colour) of blue 1 onto 0.
Grid DrawnVisits(Report& r, const Canvas& c, const DrawFn& draw);
// The texel each pixel shows: NOBLEND of a source whose texel (u, v) is u << 8 | v.
Grid DrawnTexels(Report& r, const Canvas& c, const DrawFn& draw);
Grid ModelVisits(int w, int h, const Hits& hits);
Grid ModelTexels(int w, int h, const Hits& hits);
// Every cell compared; the label says what.
void CompareGrids(Report& r, const std::string& what, const Grid& got, const Grid& want);
// One value compared (a number the quote states against the drawn or modelled one).
void CompareValue(Report& r, const std::string& what, int64_t got, int64_t want);

// A source whose texel (u, v) holds u << 8 | v (16-bit: the low 16 bits).
void NumberTexels(Surface& src);
SurfaceKind KindOf(int w, int h, int format = 1);
// NOBLEND, no tint, DrawArea as given.
void PlainState(const Area& drawArea);

}  // namespace page
