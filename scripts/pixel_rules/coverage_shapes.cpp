// The page's drawn examples of which pixels the triangle, quadrangle, pixel, box, line, circle
// and oval drawers cover. Each example is drawn in both formats and compared pixel by pixel: a
// visit count (ADD at 255 of blue 1 onto 0 counts the visits of each pixel in its blue channel)
// or, for texture examples, the texel each pixel shows (NOBLEND from a source whose every texel
// has a colour of its own).
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "page_model.h"
#include "surface.h"

namespace page {
namespace {

constexpr int kSize = 104;  // destination width and height

// What a drawer call sees: the destination and the colour (or the source) to draw with.
using DrawFn = std::function<void(MEMIMG* dst, uint32_t colour, MEMIMG* src)>;

struct Example {
  Report& report;
  int format;

  // The visit count of every pixel after draw, under DrawArea = area (left, top, right, bottom
  // as given to SetDrawArea, so limited to the draw screen).
  std::vector<int> Counts(const Area& area, const DrawFn& draw, int srcW = 0, int srcH = 0,
                          int dstW = kSize, int dstH = kSize) {
    SurfaceKind dk;
    dk.width = dstW;
    dk.height = dstH;
    dk.format = format;
    Surface dst(dk);
    dst.FillWith(0);
    SurfaceKind sk;
    sk.width = srcW > 0 ? srcW : 1;
    sk.height = srcH > 0 ? srcH : 1;
    sk.format = format;
    Surface src(sk);
    src.FillWith(1);
    SetDrawBlendMode(2, 255);  // ADD
    SetDrawBright(255, 255, 255);
    SetDrawArea(area.left, area.top, area.right, area.bottom);
    draw(dst.img(), 1, src.img());
    std::vector<int> counts(size_t(dstW) * dstH);
    for (int y = 0; y < dstH; ++y)
      for (int x = 0; x < dstW; ++x) counts[size_t(y) * dstW + x] = int(dst.Get(x, y) & 31);
    if (!dst.GuardsIntact()) report.Compare(false, "guard bytes", -1, -1, 1, 0);
    return counts;
  }

  // The texel each pixel shows, as u << 8 | v (0xFFFF: not drawn), drawing a srcW x srcH source.
  std::vector<uint32_t> Texels(const Area& area, const DrawFn& draw, int srcW, int srcH) {
    SurfaceKind dk;
    dk.width = dk.height = kSize;
    dk.format = format;
    Surface dst(dk);
    dst.FillWith(0xFFFF);
    SurfaceKind sk;
    sk.width = srcW;
    sk.height = srcH;
    sk.format = format;
    Surface src(sk);
    for (int v = 0; v < srcH; ++v)
      for (int u = 0; u < srcW; ++u) src.Set(u, v, uint32_t(u << 8 | v));
    SetDrawBlendMode(0, 255);
    SetDrawBright(255, 255, 255);
    SetDrawArea(area.left, area.top, area.right, area.bottom);
    draw(dst.img(), 0, src.img());
    std::vector<uint32_t> texels(size_t(kSize) * kSize);
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) texels[size_t(y) * kSize + x] = dst.Get(x, y) & 0xFFFF;
    if (!dst.GuardsIntact()) report.Compare(false, "guard bytes", -1, -1, 1, 0);
    return texels;
  }

  void Expect(const char* what, const std::vector<int>& got, const std::vector<int>& want,
              int width = kSize) {
    const std::string name = std::string(what) + (format == 1 ? ", 32-bit" : ", 16-bit");
    for (size_t i = 0; i < got.size(); ++i)
      report.Compare(got[i] == want[i], name.c_str(), int(i % size_t(width)), int(i / size_t(width)),
                     uint32_t(got[i]), uint32_t(want[i]));
  }
  void ExpectTexels(const char* what, const std::vector<uint32_t>& got,
                    const std::vector<uint32_t>& want) {
    const std::string name = std::string(what) + (format == 1 ? ", 32-bit" : ", 16-bit");
    for (size_t i = 0; i < got.size(); ++i)
      report.Compare(got[i] == want[i], name.c_str(), int(i % kSize), int(i / kSize), got[i], want[i]);
  }
};

// Visit counts as the page lists them.
struct Want {
  std::vector<int> n;
  int width;
  explicit Want(int w = kSize, int h = kSize) : n(size_t(w) * h, 0), width(w) {}
  void Add(int x, int y, int times = 1) { n[size_t(y) * width + x] += times; }
  void Span(int y, int x0, int x1) {
    for (int x = x0; x <= x1; ++x) Add(x, y);
  }
  void Hits(const page::Hits& hits) {
    for (const Hit& h : hits) Add(h.x, h.y);
  }
};

const Area kWhole{0, 0, kSize, kSize};
const Area kLineArea{0, 0, 100, 100};

DrawFn Triangle(int x0, int y0, int x1, int y1, int x2, int y2) {
  return [=](MEMIMG* dst, uint32_t colour, MEMIMG*) {
    const MemImgVertex v[3] = {{x0, y0, 0, 0}, {x1, y1, 0, 0}, {x2, y2, 0, 0}};
    DrawPolygonMemImg(dst, nullptr, v, 0, nullptr, colour);
  };
}
DrawFn Quad(std::vector<int> c) {
  return [=](MEMIMG* dst, uint32_t, MEMIMG* src) { DrawQuadMemImg(dst, src, c.data(), 0, nullptr); };
}
DrawFn Line(int x1, int y1, int x2, int y2) {
  return [=](MEMIMG* dst, uint32_t colour, MEMIMG*) { DrawLineMemImg(dst, x1, y1, x2, y2, colour); };
}

DrawFn Circle(int cx, int cy, int r, bool fill) {
  return [=](MEMIMG* dst, uint32_t colour, MEMIMG*) { DrawCircleMemImg(dst, cx, cy, r, colour, fill); };
}
DrawFn Oval(int cx, int cy, int rx, int ry, bool fill) {
  return [=](MEMIMG* dst, uint32_t colour, MEMIMG*) {
    DrawOvalMemImg(dst, cx, cy, rx, ry, colour, fill);
  };
}

// ---- Triangles ----------------------------------------------------------------------------------

void CheckTriangles(Example& e) {
  // Corners (3, 2), (13, 2), (3, 12) in each of the six orders: rows 2 to 11, row 2 + k covering
  // x = 3 .. 13 - k; the bottom corner's row 12 is not drawn.
  const int c[3][2] = {{3, 2}, {13, 2}, {3, 12}};
  const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const auto& o : orders) {
    Want want;
    for (int k = 0; k < 10; ++k) want.Span(2 + k, 3, 13 - k);
    e.Expect("triangle rows and ends", e.Counts(kWhole, Triangle(c[o[0]][0], c[o[0]][1], c[o[1]][0],
                                                                 c[o[1]][1], c[o[2]][0], c[o[2]][1])),
             want.n);
  }
  // Edge X steps by its slope truncated toward zero: (5, 0), (6, 6), (0, 6) ends row 3 at x = 5,
  // although the exact right edge passes x = 5.5 there.
  {
    Want want;
    const int left[6] = {5, 4, 3, 3, 2, 1}, right[6] = {5, 5, 5, 5, 6, 6};
    for (int y = 0; y < 6; ++y) want.Span(y, left[y], right[y]);
    e.Expect("triangle edge steps", e.Counts(kWhole, Triangle(5, 0, 6, 6, 0, 6)), want.n);
  }
  // Above row 0 the rows shift down by one: (2, -3), (12, -3), (2, 7) covers rows 0 to 7, row y
  // from 2 to 10 - y (the span of row y - 1), the bottom corner's row 7 included.
  {
    Want want;
    for (int y = 0; y <= 7; ++y) want.Span(y, 2, 10 - y);
    e.Expect("triangle above row 0", e.Counts(kWhole, Triangle(2, -3, 12, -3, 2, 7)), want.n);
  }
  // The exception: top above row 0, middle corner on the left at row 3: row 3 is drawn twice
  // (x = 3 .. 11 by the upper edges, then x = 2 .. 11 by the lower ones), row 9 not at all.
  {
    Want want;
    const int spans[9][2] = {{7, 10}, {5, 11}, {4, 11}, {2, 11}, {4, 11}, {5, 11}, {7, 12}, {9, 12}, {10, 12}};
    for (int y = 0; y <= 8; ++y) want.Span(y, spans[y][0], spans[y][1]);
    want.Span(3, 3, 11);
    e.Expect("triangle row drawn twice", e.Counts(kWhole, Triangle(10, -4, 2, 3, 12, 9)), want.n);
  }
  // Left of column 0: (-5, 0), (-1, 0), (-5, 4) draws the one pixel (0, 0).
  {
    Want want;
    want.Add(0, 0);
    e.Expect("triangle left of column 0", e.Counts(kWhole, Triangle(-5, 0, -1, 0, -5, 4)), want.n);
  }
  // Nothing: collinear, repeated corners, zero height; a corner beyond 8191, corners 8192 apart.
  const Want none;
  e.Expect("triangle collinear", e.Counts(kWhole, Triangle(1, 1, 6, 6, 11, 11)), none.n);
  e.Expect("triangle repeated corner", e.Counts(kWhole, Triangle(3, 3, 3, 3, 9, 1)), none.n);
  e.Expect("triangle zero height", e.Counts(kWhole, Triangle(0, 5, 10, 5, 20, 5)), none.n);
  e.Expect("triangle corner 8192", e.Counts(kWhole, Triangle(0, 0, 8192, 0, 0, 8)), none.n);
  e.Expect("triangle corners 8192 apart", e.Counts(kWhole, Triangle(-1, 0, 8191, 0, 0, 8)), none.n);
  {
    Want want;  // corner 8191: drawn, rows 0 to 7 across the destination
    for (int y = 0; y < 8; ++y) want.Span(y, 0, kSize - 1);
    e.Expect("triangle corner 8191", e.Counts(kWhole, Triangle(0, 0, 8191, 0, 0, 8)), want.n);
  }
  // A triangle clipped by the area, against the page's walk.
  {
    const Area area{4, 3, 30, 20};
    const int v[3][4] = {{-6, 25, 0, 0}, {17, -9, 0, 0}, {40, 14, 0, 0}};
    Want want;
    want.Hits(PolygonHits(v, 0, 0, area));
    e.Expect("triangle clipped", e.Counts(area, Triangle(-6, 25, 17, -9, 40, 14)), want.n);
  }
}

// ---- Texture coordinates and quadrangles ---------------------------------------------------------

void CheckTextures(Example& e) {
  const auto texel = [](int u, int v) { return uint32_t(u << 8 | v); };
  // 10 x 10 source on (2, 3), (12, 3), (2, 13), (12, 13): pixel (2 + x, 3 + y) shows texel (x, y);
  // column 12 fails the bounds test; the diagonal (12 - k, 3 + k), k = 1 .. 9, is drawn twice.
  {
    const DrawFn quad = Quad({2, 3, 12, 3, 2, 13, 12, 13});
    std::vector<uint32_t> want(size_t(kSize) * kSize, 0xFFFF);
    Want counts;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) {
        want[size_t(3 + y) * kSize + 2 + x] = texel(x, y);
        counts.Add(2 + x, 3 + y, x + y == 10 ? 2 : 1);
      }
    e.ExpectTexels("quadrangle texels", e.Texels(kWhole, quad, 10, 10), want);
    e.Expect("quadrangle diagonal twice", e.Counts(kWhole, quad, 10, 10), counts.n);
  }
  // Mirrored: the top-left corner at (12, 3), top-right at (2, 3): pixel (12 - x, 3 + y) shows
  // texel (x, y), columns 3 to 12.
  {
    const DrawFn quad = Quad({12, 3, 2, 3, 12, 13, 2, 13});
    std::vector<uint32_t> want(size_t(kSize) * kSize, 0xFFFF);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x) want[size_t(3 + y) * kSize + 12 - x] = texel(x, y);
    e.ExpectTexels("quadrangle mirrored", e.Texels(kWhole, quad, 10, 10), want);
    const int corners[8] = {12, 3, 2, 3, 12, 13, 2, 13};
    Want counts;
    counts.Hits(QuadHits(corners, 10, 10, kWhole));
    e.Expect("quadrangle mirrored visits", e.Counts(kWhole, quad, 10, 10), counts.n);
  }
  // Half scale: (0, 0, 0, 0), (8, 0, 4, 0), (0, 8, 0, 4) from a 4 x 4 source: Ux = Vy = 1/2
  // pixel, pixel (x, y) shows texel (x / 2, y / 2); row y covers x = 0 .. min(7, 8 - y), x = 8
  // failing the bounds test.
  {
    const DrawFn tri = [](MEMIMG* dst, uint32_t, MEMIMG* src) {
      const MemImgVertex v[3] = {{0, 0, 0, 0}, {8, 0, 4, 0}, {0, 8, 0, 4}};
      DrawPolygonMemImg(dst, src, v, 0, nullptr, 0);
    };
    std::vector<uint32_t> want(size_t(kSize) * kSize, 0xFFFF);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x <= 7 && x <= 8 - y; ++x) want[size_t(y) * kSize + x] = texel(x / 2, y / 2);
    e.ExpectTexels("triangle texels", e.Texels(kWhole, tri, 4, 4), want);
  }
  // A textured triangle with corners partly outside the area and texture coordinates beyond the
  // source, against the page's gradients and bounds test.
  {
    const Area area{2, 1, 60, 50};
    const int v[3][4] = {{-8, 4, -3, 2}, {55, -6, 19, -4}, {20, 58, 5, 22}};
    const DrawFn tri = [&](MEMIMG* dst, uint32_t, MEMIMG* src) {
      DrawTriangle(dst, src, v, 0, nullptr, 0);
    };
    std::vector<uint32_t> want(size_t(kSize) * kSize, 0xFFFF);
    for (const Hit& h : PolygonHits(v, 16, 12, area)) want[size_t(h.y) * kSize + h.x] = texel(h.u, h.v);
    e.ExpectTexels("triangle texels clipped", e.Texels(area, tri, 16, 12), want);
  }
  // Two corners with the same x: their order picks the reference corner, and the texels can
  // differ. (0, 0, 1, 4), (0, 3, 1, 3), (6, 0, 2, 2) leaves (0, 0) out (v = 4 there exactly);
  // with the first two corners exchanged, (0, 0) shows texel (1, 3).
  for (int swap = 0; swap <= 1; ++swap) {
    int v[3][4] = {{0, 0, 1, 4}, {0, 3, 1, 3}, {6, 0, 2, 2}};
    if (swap) std::swap(v[0], v[1]);
    const DrawFn tri = [&](MEMIMG* dst, uint32_t, MEMIMG* src) {
      DrawTriangle(dst, src, v, 0, nullptr, 0);
    };
    std::vector<uint32_t> want(size_t(kSize) * kSize, 0xFFFF);
    for (const Hit& h : PolygonHits(v, 4, 4, kWhole)) want[size_t(h.y) * kSize + h.x] = texel(h.u, h.v);
    const std::vector<uint32_t> got = e.Texels(kWhole, tri, 4, 4);
    e.ExpectTexels("triangle corners with equal x", got, want);
    const uint32_t listed = swap ? texel(1, 3) : 0xFFFF;
    e.report.Compare(got[0] == listed, "triangle corners with equal x, pixel (0, 0)", 0, 0, got[0], listed);
  }
  // A source 8191 wide is drawn; one 8192 wide draws nothing.
  for (int width : {8191, 8192}) {
    const int v[3][4] = {{0, 0, 8000, 0}, {40, 0, 8190, 0}, {0, 30, 8000, 2}};
    const DrawFn tri = [&](MEMIMG* dst, uint32_t, MEMIMG* src) {
      DrawTriangle(dst, src, v, 0, nullptr, 0);
    };
    Want want;
    want.Hits(PolygonHits(v, width, 2, kWhole));
    e.Expect(width == 8191 ? "triangle source 8191 wide" : "triangle source 8192 wide",
             e.Counts(kWhole, tri, width, 2), want.n);
  }
}

// ---- Pixel and box ------------------------------------------------------------------------------

void CheckPixelAndBox(Example& e) {
  const Area area{5, 6, 20, 30};
  // The area's corners inside; one beyond each edge outside.
  const int points[8][2] = {{5, 6}, {19, 6}, {5, 29}, {19, 29}, {4, 10}, {20, 10}, {10, 5}, {10, 30}};
  for (int i = 0; i < 8; ++i) {
    Want want;
    if (i < 4) want.Add(points[i][0], points[i][1]);
    const int x = points[i][0], y = points[i][1];
    e.Expect("pixel inside the area",
             e.Counts(area, [=](MEMIMG* d, uint32_t c, MEMIMG*) { DrawPixelMemImg(d, x, y, c); }), want.n);
  }
  // (10, 8, 4, 2) in either order covers x 4 .. 9, y 2 .. 7; cut to the area (5, 6, 20, 30).
  const RECT rects[4] = {{10, 8, 4, 2}, {4, 2, 10, 8}, {4, 8, 10, 2}, {10, 2, 4, 8}};
  for (const RECT& r : rects) {
    Want whole, cut;
    for (int y = 2; y < 8; ++y) whole.Span(y, 4, 9);
    for (int y = 6; y < 8; ++y) cut.Span(y, 5, 9);
    const DrawFn box = [=](MEMIMG* d, uint32_t c, MEMIMG*) { DrawFillBoxMemImg(d, &r, c); };
    e.Expect("box corners in either order", e.Counts(kWhole, box), whole.n);
    e.Expect("box cut to the area", e.Counts(area, box), cut.n);
  }
  // Null: the whole view, cut to the area; an empty rectangle draws nothing.
  {
    Want want;
    for (int y = 6; y < 30; ++y) want.Span(y, 5, 19);
    e.Expect("box null rectangle",
             e.Counts(area, [](MEMIMG* d, uint32_t c, MEMIMG*) { DrawFillBoxMemImg(d, nullptr, c); }), want.n);
    const RECT empty{7, 9, 7, 20};
    e.Expect("box empty", e.Counts(area, [=](MEMIMG* d, uint32_t c, MEMIMG*) { DrawFillBoxMemImg(d, &empty, c); }),
             Want().n);
  }
}

// ---- Lines --------------------------------------------------------------------------------------

void CheckLines(Example& e) {
  // Unclipped, every octant: pixel k of max(spanX, spanY) at (x1 + k xdir, y1 + ydir floor(k
  // spanY / spanX)) (x-major; y-major alike with x and y exchanged); the end point is not drawn.
  const int ends[16][2] = {{20, 7},  {20, 0},  {20, -7}, {7, -20}, {0, -20},  {-7, -20},
                           {-20, -7}, {-20, 0}, {-20, 7}, {-7, 20}, {0, 20},   {7, 20},
                           {13, 13},  {-13, 13}, {1, 30}, {-30, -1}};
  for (const auto& d : ends) {
    const int x1 = 50, y1 = 50, x2 = 50 + d[0], y2 = 50 + d[1];
    const int sx = d[0] < 0 ? -d[0] : d[0], sy = d[1] < 0 ? -d[1] : d[1];
    const int xdir = d[0] < 0 ? -1 : 1, ydir = d[1] < 0 ? -1 : 1;
    Want want;
    if (sx >= sy)
      for (int k = 0; k < sx; ++k) want.Add(x1 + k * xdir, y1 + ydir * (k * sy / sx));
    else
      for (int k = 0; k < sy; ++k) want.Add(x1 + xdir * (k * sx / sy), y1 + k * ydir);
    e.Expect("line walk", e.Counts(kLineArea, Line(x1, y1, x2, y2)), want.n);
  }
  // The worked lines, area (0, 0, 100, 100).
  struct Listed {
    int x1, y1, x2, y2;
    std::vector<std::array<int, 2>> pixels;
  };
  const Listed listed[] = {
      {5, 5, 5, 5, {}},
      {0, 0, 10, 4, {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 2}, {6, 2}, {7, 2}, {8, 3}, {9, 3}}},
      {0, 0, 3, 10, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 4}, {1, 5}, {1, 6}, {2, 7}, {2, 8}, {2, 9}}},
      {-10, 5, 5, -10, {{0, 0}}},
      {-20, -5, -3, -40, {}},
  };
  for (const Listed& l : listed) {
    Want want;
    for (const auto& p : l.pixels) want.Add(p[0], p[1]);
    e.Expect("line pixels listed", e.Counts(kLineArea, Line(l.x1, l.y1, l.x2, l.y2)), want.n);
  }
  // Clipped lines: (10, 5) -> (0, 5) draws x = 10 down to 1; (-10, 50) -> (50, 50) x = 0 .. 49;
  // (50, 50) -> (150, 50) x = 50 .. 99; (0, 0) -> (100, 100) the diagonal to (99, 99);
  // (99, 0) -> (99, 200) y = 0 .. 99; (-50, -20) -> (150, 60) (k, floor(2k / 5)), k = 0 .. 99.
  {
    Want a, b, c, d, f, g;
    for (int x = 1; x <= 10; ++x) a.Add(x, 5);
    for (int x = 0; x < 50; ++x) b.Add(x, 50);
    for (int x = 50; x < 100; ++x) c.Add(x, 50);
    for (int k = 0; k < 100; ++k) {
      d.Add(k, k);
      f.Add(99, k);
      g.Add(k, 2 * k / 5);
    }
    e.Expect("line clipped", e.Counts(kLineArea, Line(10, 5, 0, 5)), a.n);
    e.Expect("line clipped", e.Counts(kLineArea, Line(-10, 50, 50, 50)), b.n);
    e.Expect("line clipped", e.Counts(kLineArea, Line(50, 50, 150, 50)), c.n);
    e.Expect("line clipped", e.Counts(kLineArea, Line(0, 0, 100, 100)), d.n);
    e.Expect("line clipped", e.Counts(kLineArea, Line(99, 0, 99, 200)), f.n);
    e.Expect("line clipped", e.Counts(kLineArea, Line(-50, -20, 150, 60)), g.n);
  }
  // Line lists: the box outline (10, 10) .. (19, 15) as four records meeting end to start covers
  // each border pixel once; two crossing lines visit the crossing twice; a count of 0 draws nothing.
  {
    const MemImgLineRecord box[4] = {{10, 10, 19, 10, 1, 0}, {19, 10, 19, 15, 1, 0},
                                     {19, 15, 10, 15, 1, 0}, {10, 15, 10, 10, 1, 0}};
    Want want;
    for (int x = 10; x <= 19; ++x) {
      want.Add(x, 10);
      want.Add(x, 15);
    }
    for (int y = 11; y <= 14; ++y) {
      want.Add(10, y);
      want.Add(19, y);
    }
    e.Expect("line list box outline",
             e.Counts(kLineArea, [&](MEMIMG* d, uint32_t, MEMIMG*) { DrawLinesMemImg(d, box, 4); }), want.n);
    e.Expect("line list count 0",
             e.Counts(kLineArea, [&](MEMIMG* d, uint32_t, MEMIMG*) { DrawLinesMemImg(d, box, 0); }), Want().n);
    const MemImgLineRecord cross[2] = {{30, 30, 34, 34, 1, 0}, {30, 34, 34, 30, 1, 0}};
    Want crossing;
    for (int k = 0; k < 4; ++k) {
      crossing.Add(30 + k, 30 + k);
      crossing.Add(30 + k, 34 - k);
    }
    e.Expect("line list crossing twice",
             e.Counts(kLineArea, [&](MEMIMG* d, uint32_t, MEMIMG*) { DrawLinesMemImg(d, cross, 2); }),
             crossing.n);
  }
}

// ---- Circles and ovals --------------------------------------------------------------------------

void CheckCircles(Example& e) {
  const int cx = 40, cy = 40;
  // Outlines: r = 0 visits the centre four times; r = 1 the four neighbours; r = 2 twelve
  // pixels once; r = 3 twenty listings, the four (cx +- 2, cy +- 2) twice.
  {
    Want r0, r1, r2, r3;
    r0.Add(cx, cy, 4);
    r1.Add(cx - 1, cy);
    r1.Add(cx + 1, cy);
    r1.Add(cx, cy - 1);
    r1.Add(cx, cy + 1);
    for (int s : {-1, 1}) {
      r2.Add(cx + 2 * s, cy);
      r2.Add(cx, cy + 2 * s);
      for (int t : {-1, 1}) {
        r2.Add(cx + 2 * s, cy + t);
        r2.Add(cx + t, cy + 2 * s);
        r3.Add(cx + 2 * s, cy + 2 * t, 2);
        r3.Add(cx + 3 * s, cy + t);
        r3.Add(cx + t, cy + 3 * s);
      }
      r3.Add(cx + 3 * s, cy);
      r3.Add(cx, cy + 3 * s);
    }
    e.Expect("circle outline r 0", e.Counts(kWhole, Circle(cx, cy, 0, false)), r0.n);
    e.Expect("circle outline r 1", e.Counts(kWhole, Circle(cx, cy, 1, false)), r1.n);
    e.Expect("circle outline r 2", e.Counts(kWhole, Circle(cx, cy, 2, false)), r2.n);
    e.Expect("circle outline r 3", e.Counts(kWhole, Circle(cx, cy, 3, false)), r3.n);
  }
  // Filled: r = 0 the centre; r = 2 rows cy +- 2 from cx - 1 to cx + 1, the others cx - 2 ..
  // cx + 2; r = 10 half-widths 10 (0 to 3 rows away), 9, 9, 8, 7, 6, 5, 3.
  {
    Want r0, r2, r10;
    r0.Add(cx, cy);
    for (int dy = -2; dy <= 2; ++dy) r2.Span(cy + dy, cx - (dy == 2 || dy == -2 ? 1 : 2), cx + (dy == 2 || dy == -2 ? 1 : 2));
    const int half[11] = {10, 10, 10, 10, 9, 9, 8, 7, 6, 5, 3};
    for (int dy = -10; dy <= 10; ++dy) r10.Span(cy + dy, cx - half[dy < 0 ? -dy : dy], cx + half[dy < 0 ? -dy : dy]);
    e.Expect("circle filled r 0", e.Counts(kWhole, Circle(cx, cy, 0, true)), r0.n);
    e.Expect("circle filled r 2", e.Counts(kWhole, Circle(cx, cy, 2, true)), r2.n);
    e.Expect("circle filled r 10", e.Counts(kWhole, Circle(cx, cy, 10, true)), r10.n);
  }
  // Clipped: spans cut at the area's sides, rows outside skipped, outline points dropped alone;
  // nothing for a negative radius or one above 46340.
  {
    const Area area{35, 33, 47, 45};
    for (bool fill : {false, true}) {
      Want want;
      want.Hits(CircleHits(cx, cy, 9, fill, area));
      e.Expect(fill ? "circle filled clipped" : "circle outline clipped",
               e.Counts(area, Circle(cx, cy, 9, fill)), want.n);
      e.Expect("circle radius -3", e.Counts(kWhole, Circle(cx, cy, -3, fill)), Want().n);
      e.Expect("circle radius 46341", e.Counts(kWhole, Circle(cx, cy, 46341, fill)), Want().n);
    }
    Want big;  // radius 46340 drawn: its outline misses a small view, its fill covers it
    for (int y = 0; y < kSize; ++y) big.Span(y, 0, kSize - 1);
    e.Expect("circle radius 46340", e.Counts(kWhole, Circle(cx, cy, 46340, true)), big.n);
  }
  // The area is limited to the destination: DrawArea of the whole screen on a 30 x 20
  // destination draws only its pixels (and no guard byte).
  {
    Want want(30, 20);
    for (const Hit& h : CircleHits(25, 15, 8, true, Area{0, 0, 30, 20})) want.Add(h.x, h.y);
    e.Expect("circle cut to the destination",
             e.Counts(Area{0, 0, 4096, 4096}, Circle(25, 15, 8, true), 0, 0, 30, 20), want.n, 30);
  }
}

void CheckOvals(Example& e) {
  const int cx = 40, cy = 40;
  // Filled 5 x 3: rows cy, cy +- 1 from -5 to 5, cy +- 2 from -4 to 4, cy +- 3 from -2 to 2
  // (61 pixels); negative half-axes draw the same.
  {
    Want want;
    const int half[4] = {5, 5, 4, 2};
    for (int dy = -3; dy <= 3; ++dy) want.Span(cy + dy, cx - half[dy < 0 ? -dy : dy], cx + half[dy < 0 ? -dy : dy]);
    e.Expect("oval filled 5 x 3", e.Counts(kWhole, Oval(cx, cy, 5, 3, true)), want.n);
    e.Expect("oval filled -5 x -3", e.Counts(kWhole, Oval(cx, cy, -5, -3, true)), want.n);
  }
  // Outline 10 x 1: (cx +- 10, cy) once, (cx +- X, cy) for X = 1 .. 9 twice, (cx, cy +- 1) once;
  // filled 10 x 1: row cy from -10 to 10 and the pixels (cx, cy +- 1).
  {
    Want outline, filled;
    outline.Add(cx - 10, cy);
    outline.Add(cx + 10, cy);
    for (int x = 1; x <= 9; ++x) {
      outline.Add(cx - x, cy, 2);
      outline.Add(cx + x, cy, 2);
    }
    outline.Add(cx, cy - 1);
    outline.Add(cx, cy + 1);
    filled.Span(cy, cx - 10, cx + 10);
    filled.Add(cx, cy - 1);
    filled.Add(cx, cy + 1);
    e.Expect("oval outline 10 x 1", e.Counts(kWhole, Oval(cx, cy, 10, 1, false)), outline.n);
    e.Expect("oval filled 10 x 1", e.Counts(kWhole, Oval(cx, cy, 10, 1, true)), filled.n);
  }
  // Tall 1 x 10 overshoots: filled rows cy - 14 .. cy + 14, each cx - 1 .. cx + 1; the outline
  // has (cx +- 1, cy + dy) for |dy| <= 14 and the tips (cx, cy +- 14).
  {
    Want outline, filled;
    for (int dy = -14; dy <= 14; ++dy) {
      filled.Span(cy + dy, cx - 1, cx + 1);
      outline.Add(cx - 1, cy + dy);
      outline.Add(cx + 1, cy + dy);
    }
    outline.Add(cx, cy - 14);
    outline.Add(cx, cy + 14);
    e.Expect("oval filled 1 x 10", e.Counts(kWhole, Oval(cx, cy, 1, 10, true)), filled.n);
    e.Expect("oval outline 1 x 10", e.Counts(kWhole, Oval(cx, cy, 1, 10, false)), outline.n);
  }
  // r x r covers the pixels of the circle of radius r, each once.
  for (int r : {3, 7, 12})
    for (bool fill : {false, true}) {
      Want want;
      for (const Hit& h : CircleHits(cx, cy, r, fill, kWhole))
        if (want.n[size_t(h.y) * kSize + h.x] == 0) want.Add(h.x, h.y);
      e.Expect("oval r x r as the circle", e.Counts(kWhole, Oval(cx, cy, r, r, fill)), want.n);
    }
  // Clipped, against the page's walk; nothing for a half-axis 0 or above 46340.
  {
    const Area area{30, 36, 52, 49};
    for (bool fill : {false, true}) {
      Want want;
      want.Hits(OvalHits(cx, cy, 17, 6, fill, area));
      e.Expect("oval clipped", e.Counts(area, Oval(cx, cy, 17, 6, fill)), want.n);
      Want tall;
      tall.Hits(OvalHits(cx, cy, -4, 23, fill, area));
      e.Expect("oval clipped", e.Counts(area, Oval(cx, cy, -4, 23, fill)), tall.n);
      e.Expect("oval half-axis 0", e.Counts(kWhole, Oval(cx, cy, 0, 5, fill)), Want().n);
      e.Expect("oval half-axis 46341", e.Counts(kWhole, Oval(cx, cy, 46341, 5, fill)), Want().n);
    }
  }
}

// Palettised and alpha destinations: nothing drawn, except by the line on one with alpha, which
// takes its colour into the low 2 (16-bit) or all 4 (32-bit) bytes of each 4-byte pixel.
void CheckDestinationKinds(Example& e) {
  const uint32_t colour = 0x1234;
  const DrawFn draws[6] = {
      [](MEMIMG* d, uint32_t c, MEMIMG*) { DrawPixelMemImg(d, 5, 5, c); },
      [](MEMIMG* d, uint32_t c, MEMIMG*) {
        const RECT r{2, 2, 8, 8};
        DrawFillBoxMemImg(d, &r, c);
      },
      Triangle(1, 1, 10, 1, 1, 10),
      Circle(8, 8, 4, true),
      Oval(8, 8, 4, 3, false),
      Line(1, 1, 10, 5),
  };
  for (int alpha = 0; alpha <= 1; ++alpha)
    for (int i = 0; i < 6; ++i) {
      SurfaceKind dk;
      dk.width = dk.height = 20;
      dk.format = e.format;
      dk.palette = !alpha;
      dk.alpha = alpha;
      Surface dst(dk);
      dst.FillWith(0);
      SetDrawBlendMode(0, 255);
      SetDrawBright(255, 255, 255);
      SetDrawArea(0, 0, 20, 20);
      draws[i](dst.img(), colour, nullptr);
      std::vector<uint32_t> want(400, 0);
      if (alpha && i == 5)
        for (const Hit& h : LineHits(1, 1, 10, 5, Area{0, 0, 20, 20})) want[size_t(h.y) * 20 + h.x] = colour;
      const std::string name = std::string(alpha ? "destination with alpha" : "palettised destination") +
                               (e.format == 1 ? ", 32-bit" : ", 16-bit");
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
          e.report.Compare(dst.Get(x, y) == want[size_t(y) * 20 + x], name.c_str(), x, y, dst.Get(x, y),
                           want[size_t(y) * 20 + x]);
      if (!dst.GuardsIntact()) e.report.Compare(false, "guard bytes", -1, -1, 1, 0);
    }
}

}  // namespace

void CheckShapeCoverage(Report& report) {
  for (int format = 0; format <= 1; ++format) {
    Example e{report, format};
    CheckTriangles(e);
    CheckTextures(e);
    CheckPixelAndBox(e);
    CheckLines(e);
    CheckCircles(e);
    CheckOvals(e);
    CheckDestinationKinds(e);
  }
  SetDrawBlendMode(0, 255);
  SetDrawBright(255, 255, 255);
}

}  // namespace page
