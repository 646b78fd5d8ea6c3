// The examples of "Which pixels the shapes cover", each quoted from the page and drawn in both
// formats: the visits (or texels) the quote states against the drawn destination, and the
// model's hits against the same statement.
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "drawn.h"

namespace page {
namespace {

constexpr int kSize = 104;  // destination width and height
const Area kWhole{0, 0, kSize, kSize};
const Area kLineArea{0, 0, 100, 100};
constexpr int cx = 40, cy = 40;  // the centre of the circle and oval examples

// The stated visits against the drawn ones (both formats) and the model's.
void Agree(Report& r, const Quote& q, const Grid& stated, const Hits& model, const DrawFn& draw, Canvas c = {}) {
  for (int format = 0; format <= 1; ++format) {
    c.format = format;
    CompareGrids(r, std::string(q.label()) + (format ? ", 32-bit" : ", 16-bit"), DrawnVisits(r, c, draw), stated);
  }
  CompareGrids(r, std::string(q.label()) + ", the model", ModelVisits(stated.w, stated.h, model), stated);
}
void AgreeTexels(Report& r, const Quote& q, const Grid& stated, const Hits& model, const DrawFn& draw, Canvas c) {
  for (int format = 0; format <= 1; ++format) {
    c.format = format;
    CompareGrids(r, std::string(q.label()) + (format ? ", 32-bit" : ", 16-bit"), DrawnTexels(r, c, draw), stated);
  }
  CompareGrids(r, std::string(q.label()) + ", the model", ModelTexels(stated.w, stated.h, model), stated);
}

void Span(Grid& g, int y, int x0, int x1, int times = 1) {
  for (int x = x0; x <= x1; ++x) g.at(x, y) += times;
}

// ---- Draws ----------------------------------------------------------------------------------

using Corners = std::vector<std::array<int, 4>>;  // x, y, u, v each
DrawFn Triangle(Corners v) {
  return [v](MEMIMG* d, MEMIMG* s, uint32_t c) {
    const int corners[3][4] = {{v[0][0], v[0][1], v[0][2], v[0][3]}, {v[1][0], v[1][1], v[1][2], v[1][3]},
                               {v[2][0], v[2][1], v[2][2], v[2][3]}};
    DrawTriangle(d, v[0][2] || v[1][2] || v[2][2] || v[0][3] || v[1][3] || v[2][3] ? s : nullptr, corners, 0, nullptr, c);
  };
}
Hits TriangleModel(const Corners& v, int W, int H, const Area& area = kWhole) {
  const int corners[3][4] = {{v[0][0], v[0][1], v[0][2], v[0][3]}, {v[1][0], v[1][1], v[1][2], v[1][3]},
                             {v[2][0], v[2][1], v[2][2], v[2][3]}};
  return PolygonHits(corners, W, H, area);
}
// Corners (x, y) from six numbers of the quote, starting at `at`.
Corners Flat(const Quote& q, int at) {
  return {{q.Int(at), q.Int(at + 1), 0, 0}, {q.Int(at + 2), q.Int(at + 3), 0, 0}, {q.Int(at + 4), q.Int(at + 5), 0, 0}};
}
DrawFn Quad(std::vector<int> c) {
  return [c](MEMIMG* d, MEMIMG* s, uint32_t) { DrawQuadMemImg(d, s, c.data(), 0, nullptr); };
}
DrawFn Line(int x1, int y1, int x2, int y2) {
  return [=](MEMIMG* d, MEMIMG*, uint32_t c) { DrawLineMemImg(d, x1, y1, x2, y2, c); };
}
DrawFn Circle(int r, bool fill) {
  return [=](MEMIMG* d, MEMIMG*, uint32_t c) { DrawCircleMemImg(d, cx, cy, r, c, fill); };
}
DrawFn Oval(int rx, int ry, bool fill) {
  return [=](MEMIMG* d, MEMIMG*, uint32_t c) { DrawOvalMemImg(d, cx, cy, rx, ry, c, fill); };
}

// ---- Triangles ----------------------------------------------------------------------------------

// Rows n .. m full width, from six corners.
void NothingOrRows(const Quote& q, Report& r) {
  for (int t = 0; t < 5; ++t) {
    const Corners v = Flat(q, 6 * t);
    Grid stated(kSize, kSize);
    if (t == 4)
      for (int y = q.Int(30); y <= q.Int(31); ++y) Span(stated, y, 0, kSize - 1);
    Agree(r, q, stated, TriangleModel(v, 0, 0), Triangle(v));
  }
}

void SourceLimit(const Quote& q, Report& r) {
  const Corners v = {{q.Int(2), q.Int(3), q.Int(4), q.Int(5)}, {q.Int(6), q.Int(7), q.Int(8), q.Int(9)},
                     {q.Int(10), q.Int(11), q.Int(12), q.Int(13)}};
  for (int k = 0; k < 2; ++k) {
    Canvas c;
    c.srcW = k ? q.Int(14) : q.Int(0);
    c.srcH = k ? q.Int(15) : q.Int(1);
    const Hits model = TriangleModel(v, c.srcW, c.srcH);
    CompareValue(r, std::string(q.label()) + (k ? ": nothing" : ": drawn"), model.empty(), k);
    Agree(r, q, ModelVisits(kSize, kSize, model), model, Triangle(v), c);
  }
}

// A textured triangle and a quadrangle from a source of another format draw nothing; of the
// same format they draw.
void FormatsDiffer(const Quote& q, Report& r) {
  const int corners[3][4] = {{q.Int(3), q.Int(4), q.Int(5), q.Int(6)}, {q.Int(7), q.Int(8), q.Int(9), q.Int(10)},
                             {q.Int(11), q.Int(12), q.Int(13), q.Int(14)}};
  std::vector<int> quad;
  for (int i = 16; i < 24; ++i) quad.push_back(q.Int(i));
  const int dstFormat = q.Int(15) == 32 ? 1 : 0, srcFormat = q.Int(0) == 32 ? 1 : 0;
  for (int same = 0; same <= 1; ++same) {
    Surface dst(KindOf(kSize, kSize, dstFormat)), src(KindOf(q.Int(1), q.Int(2), same ? dstFormat : srcFormat));
    dst.FillWith(0);
    src.FillWith(0xFFFF);
    PlainState(kWhole);
    DrawTriangle(dst.img(), src.img(), corners, 0, nullptr, 0);
    DrawQuadMemImg(dst.img(), src.img(), quad.data(), 0, nullptr);
    int drawn = 0;
    for (uint32_t p : dst.Pixels()) drawn += p != 0;
    CompareValue(r, std::string(q.label()) + (same ? ": the same formats draw" : ": pixels drawn"), drawn > 0, same);
  }
}

// Rows a .. b, row a + j from x0 to x1 - j, so many pixels, row c none; in each order of the corners.
void RowsByOrder(const Quote& q, Report& r) {
  const Corners v = Flat(q, 0);
  Grid stated(kSize, kSize);
  int pixels = 0;
  for (int j = 0; q.Int(8) + j <= q.Int(7); ++j) {
    Span(stated, q.Int(8) + j, q.Int(9), q.Int(10) - j);
    pixels += q.Int(10) - j - q.Int(9) + 1;
  }
  CompareValue(r, q.label(), pixels, q.Int(11));
  CompareValue(r, q.label(), q.Int(12), q.Int(7) + 1);  // the row after the last: none
  const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
  for (const auto& o : orders) {
    const Corners w = {v[size_t(o[0])], v[size_t(o[1])], v[size_t(o[2])]};
    Agree(r, q, stated, TriangleModel(w, 0, 0), Triangle(w));
  }
}

void TruncatedSlope(const Quote& q, Report& r) {
  CompareValue(r, q.label(), (1 << q.Int(7)) / q.Int(8), q.Int(9));
  const Corners v = Flat(q, 0);
  int end = -1;
  for (const Hit& h : TriangleModel(v, 0, 0))
    if (h.y == q.Int(10)) end = std::max(end, h.x);
  CompareValue(r, std::string(q.label()) + ": the row's end, model", end, q.Int(22));
}

void RowSpans(const Quote& q, Report& r) {
  const Corners v = {{5, 0, 0, 0}, {6, 6, 0, 0}, {0, 6, 0, 0}};  // the example just before
  Grid stated(kSize, kSize);
  for (int y = q.Int(0); y <= q.Int(1); ++y) Span(stated, y, q.Int(2 + 2 * y), q.Int(3 + 2 * y));
  Agree(r, q, stated, TriangleModel(v, 0, 0), Triangle(v));
}

// The table of negative coordinates: corners from `at`, then what the row states.
void AboveRowZero(const Quote& q, Report& r) {
  const Corners v = Flat(q, 2);
  Grid stated(kSize, kSize);
  for (int y = q.Int(8); y <= q.Int(9); ++y) Span(stated, y, q.Int(10), q.Int(11) - y);
  Agree(r, q, stated, TriangleModel(v, 0, 0), Triangle(v));
}
void RowTwice(const Quote& q, Report& r) {
  const Corners v = Flat(q, 2);
  const Grid drawn = DrawnVisits(r, Canvas{}, Triangle(v));
  const Grid model = ModelVisits(kSize, kSize, TriangleModel(v, 0, 0));
  CompareGrids(r, std::string(q.label()) + ", the model", model, drawn);
  const int row = q.Int(8);
  for (int x = q.Int(9) - 1; x <= q.Int(12) + 1; ++x) {
    const int twice = x >= q.Int(9) && x <= q.Int(10), once = x == q.Int(11);
    CompareValue(r, q.label(), drawn.at(x, row), twice ? 2 : once ? 1 : 0);
  }
  CompareValue(r, std::string(q.label()) + ": twice", q.Int(13) == q.Int(9) && q.Int(14) == q.Int(10), 1);
  for (int y = 0; y <= q.Int(17); ++y) {
    int visits = 0;
    for (int x = 0; x < kSize; ++x) visits += drawn.at(x, y);
    CompareValue(r, std::string(q.label()) + ": rows drawn", visits > 0, y >= q.Int(15) && y <= q.Int(16));
  }
}
void ColumnZero(const Quote& q, Report& r) {
  const Corners v = Flat(q, 5);
  Grid stated(kSize, kSize);
  stated.at(q.Int(11), q.Int(12)) = 1;
  Agree(r, q, stated, TriangleModel(v, 0, 0), Triangle(v));
}

// ---- Texture coordinates and quadrangles ---------------------------------------------------------

void HalfScale(const Quote& q, Report& r) {
  const Corners v = {{q.Int(0), q.Int(1), q.Int(2), q.Int(3)}, {q.Int(4), q.Int(5), q.Int(6), q.Int(7)},
                     {q.Int(8), q.Int(9), q.Int(10), q.Int(11)}};
  const int corners[3][4] = {{v[0][0], v[0][1], v[0][2], v[0][3]}, {v[1][0], v[1][1], v[1][2], v[1][3]},
                             {v[2][0], v[2][1], v[2][2], v[2][3]}};
  const std::optional<Gradients> g = TriangleGradients(corners);
  CompareValue(r, std::string(q.label()) + ": Ux, Vy", g ? g->Ux : -1, q.Int(14));
  CompareValue(r, std::string(q.label()) + ": Ux, Vy", g ? g->Vy : -1, q.Int(14));
  CompareValue(r, std::string(q.label()) + ": Uy, Vx", g ? g->Uy : -1, q.Int(15));
  CompareValue(r, std::string(q.label()) + ": Uy, Vx", g ? g->Vx : -1, q.Int(15));
  Grid stated(kSize, kSize, -1);
  for (int y = q.Int(19); y <= q.Int(20); ++y)
    for (int x = q.Int(22); x <= std::min(q.Int(23), q.Int(24) - y); ++x) stated.at(x, y) = (x / 2) << 8 | y / 2;
  CompareValue(r, std::string(q.label()) + ": row 8 not drawn", q.Int(21), q.Int(20) + 1);
  CompareValue(r, std::string(q.label()) + ": pixel (8, 0) fails", stated.at(q.Int(25), q.Int(26)), -1);
  CompareValue(r, std::string(q.label()) + ": the span of row 0", q.Int(28), q.Int(24));
  CompareValue(r, std::string(q.label()) + ": U of (8, 0)", int64_t(g ? g->Ux : 0) * q.Int(25), int64_t(q.Int(29)) << q.Int(31));
  Canvas c;
  c.srcW = q.Int(12);
  c.srcH = q.Int(13);
  AgreeTexels(r, q, stated, TriangleModel(v, c.srcW, c.srcH), Triangle(v), c);
}

void EqualX(const Quote& q, Report& r) {
  for (int swap = 0; swap <= 1; ++swap) {
    Corners v = {{q.Int(0), q.Int(1), q.Int(2), q.Int(3)}, {q.Int(4), q.Int(5), q.Int(6), q.Int(7)},
                 {q.Int(8), q.Int(9), q.Int(10), q.Int(11)}};
    if (swap) std::swap(v[0], v[1]);
    Canvas c;
    c.srcW = q.Int(12);
    c.srcH = q.Int(13);
    const Hits model = TriangleModel(v, c.srcW, c.srcH);
    Grid stated = ModelTexels(kSize, kSize, model);
    // Not shown: (0, 0); exchanged: (0, 0) shows texel (1, 3).
    CompareValue(r, std::string(q.label()) + ": pixel (0, 0)", stated.at(q.Int(14), q.Int(15)),
                 swap ? q.Int(23) << 8 | q.Int(24) : -1);
    AgreeTexels(r, q, stated, model, Triangle(v), c);
  }
}

void QuadExample(const Quote& q, Report& r) {
  std::vector<int> corners;
  for (int i = 2; i < 10; ++i) corners.push_back(q.Int(i));
  Canvas c;
  c.srcW = q.Int(0);
  c.srcH = q.Int(1);
  Grid texels(kSize, kSize, -1), visits(kSize, kSize);
  for (int j = q.Int(12); j <= q.Int(13); ++j)
    for (int i = q.Int(12); i <= q.Int(13); ++i) {
      texels.at(q.Int(10) + i, q.Int(11) + j) = i << 8 | j;
      visits.at(q.Int(10) + i, q.Int(11) + j) = 1;
    }
  for (int i = q.Int(21); i <= q.Int(22); ++i) visits.at(q.Int(19) - i, q.Int(20) + i) = 2;
  CompareValue(r, std::string(q.label()) + ": column 12 and row 13 not drawn", texels.at(q.Int(14), 5) == -1 && texels.at(5, q.Int(18)) == -1, 1);
  CompareValue(r, std::string(q.label()) + ": U < 10 2^18", q.Int(15), c.srcW);
  AgreeTexels(r, q, texels, QuadHits(corners.data(), c.srcW, c.srcH, kWhole), Quad(corners), c);
  Agree(r, q, visits, QuadHits(corners.data(), c.srcW, c.srcH, kWhole), Quad(corners), c);
}

void QuadMirrored(const Quote& q, Report& r) {
  std::vector<int> corners;
  for (int i = 0; i < 8; ++i) corners.push_back(q.Int(i));
  Canvas c;
  c.srcW = c.srcH = 10;  // the example just before
  Grid texels(kSize, kSize, -1);
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 10; ++i) texels.at(q.Int(8) - i, q.Int(9) + j) = i << 8 | j;
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      if (texels.at(x, y) >= 0) CompareValue(r, std::string(q.label()) + ": columns", x >= q.Int(10) && x <= q.Int(11), 1);
  AgreeTexels(r, q, texels, QuadHits(corners.data(), 10, 10, kWhole), Quad(corners), c);
}

// ---- Pixel, box -----------------------------------------------------------------------------------

void Pixels(const Quote& q, Report& r) {
  Canvas c;
  c.drawArea = {q.Int(0), q.Int(1), q.Int(2), q.Int(3)};
  for (int i = 0; i < 8; ++i) {
    const int x = q.Int(4 + 2 * i), y = q.Int(5 + 2 * i);
    Grid stated(kSize, kSize);
    if (i < 4) stated.at(x, y) = 1;
    Agree(r, q, stated, PixelHits(x, y, c.drawArea),
          [=](MEMIMG* d, MEMIMG*, uint32_t colour) { DrawPixelMemImg(d, x, y, colour); }, c);
  }
}

DrawFn Box(const RECT* rect) {
  return [rect](MEMIMG* d, MEMIMG*, uint32_t colour) { DrawFillBoxMemImg(d, rect, colour); };
}
Grid Rect(int x0, int x1, int y0, int y1) {
  Grid g(kSize, kSize);
  for (int y = y0; y <= y1; ++y) Span(g, y, x0, x1);
  return g;
}
void Boxes(const Quote& q, Report& r) {
  const int x1 = q.Int(0), y1 = q.Int(1), x2 = q.Int(2), y2 = q.Int(3);
  Canvas cut;
  cut.drawArea = {q.Int(8), q.Int(9), q.Int(10), q.Int(11)};
  for (const RECT& rect : {RECT{x1, y1, x2, y2}, RECT{x2, y2, x1, y1}, RECT{x2, y1, x1, y2}, RECT{x1, y2, x2, y1}}) {
    const int given[4] = {rect.left, rect.top, rect.right, rect.bottom};
    Agree(r, q, Rect(q.Int(4), q.Int(5), q.Int(6), q.Int(7)), BoxHits(given, kSize, kSize, kWhole), Box(&rect));
    Agree(r, q, Rect(q.Int(12), q.Int(13), q.Int(14), q.Int(15)), BoxHits(given, kSize, kSize, cut.drawArea), Box(&rect), cut);
  }
}
void NullAndEmptyBox(const Quote& q, Report& r) {
  Canvas cut;
  cut.drawArea = {5, 6, 20, 30};  // "that area", of the example before
  Agree(r, q, Rect(q.Int(0), q.Int(1), q.Int(2), q.Int(3)), BoxHits(nullptr, kSize, kSize, cut.drawArea), Box(nullptr), cut);
  const int given[4] = {q.Int(4), q.Int(5), q.Int(6), q.Int(7)};
  const RECT rect{given[0], given[1], given[2], given[3]};
  Agree(r, q, Grid(kSize, kSize), BoxHits(given, kSize, kSize, cut.drawArea),
        [rect](MEMIMG* d, MEMIMG*, uint32_t colour) { DrawFillBoxMemImg(d, &rect, colour); }, cut);
}

// ---- Lines --------------------------------------------------------------------------------------

void LineAgrees(Report& r, const Quote& q, int x1, int y1, int x2, int y2, const Grid& stated) {
  Canvas c;
  c.drawArea = kLineArea;
  Agree(r, q, stated, LineHits(x1, y1, x2, y2, kLineArea), Line(x1, y1, x2, y2), c);
}
// The end points, then the pixels listed as (x,y) pairs.
void LinePixels(const Quote& q, Report& r) {
  Grid stated(kSize, kSize);
  for (size_t i = 4; i + 1 < q.numbers.size(); i += 2) ++stated.at(q.Int(i), q.Int(i + 1));
  LineAgrees(r, q, q.Int(0), q.Int(1), q.Int(2), q.Int(3), stated);
}
// The end points, then "x = a .. b" on the row (or "x = a down to b"), or "y = a .. b" on the column.
void LineRun(const Quote& q, Report& r) {
  Grid stated(kSize, kSize);
  const bool columns = q.text.find("y = ") != std::string::npos;
  const int a = std::min(q.Int(4), q.Int(5)), b = std::max(q.Int(4), q.Int(5));
  for (int k = a; k <= b; ++k) ++(columns ? stated.at(q.Int(0), k) : stated.at(k, q.Int(1)));
  LineAgrees(r, q, q.Int(0), q.Int(1), q.Int(2), q.Int(3), stated);
}
void LineNothing(const Quote& q, Report& r) { LineAgrees(r, q, q.Int(0), q.Int(1), q.Int(2), q.Int(3), Grid(kSize, kSize)); }
void LineFifths(const Quote& q, Report& r) {
  CompareValue(r, std::string(q.label()) + ": the ends", q.Int(4) == 0 && q.Int(5) == 0 && q.Int(6) == 100, 1);
  Grid stated(kSize, kSize);
  for (int i = q.Int(10); i <= q.Int(11); ++i) ++stated.at(i, q.Int(8) * i / q.Int(9));
  LineAgrees(r, q, q.Int(0), q.Int(1), q.Int(2), q.Int(3), stated);
}
void LineDiagonal(const Quote& q, Report& r) {
  Grid stated(kSize, kSize);
  for (int i = q.Int(4); i <= q.Int(5); ++i) ++stated.at(i, i);
  LineAgrees(r, q, q.Int(0), q.Int(1), q.Int(2), q.Int(3), stated);
}
void LineOutside(const Quote& q, Report& r) {
  Grid stated(kSize, kSize);
  stated.at(q.Int(4), q.Int(5)) = 1;
  LineAgrees(r, q, q.Int(0), q.Int(1), q.Int(2), q.Int(3), stated);
}

void LineLists(const Quote& q, Report& r) {
  const MemImgLineRecord box[4] = {{q.Int(0), q.Int(1), q.Int(2), q.Int(3), 1, 0}, {q.Int(2), q.Int(3), q.Int(4), q.Int(5), 1, 0},
                                   {q.Int(4), q.Int(5), q.Int(6), q.Int(7), 1, 0}, {q.Int(6), q.Int(7), q.Int(8), q.Int(9), 1, 0}};
  Grid outline(kSize, kSize);
  Hits model;
  for (const MemImgLineRecord& l : box) {
    const Hits h = LineHits(l.x1, l.y1, l.x2, l.y2, kLineArea);
    model.insert(model.end(), h.begin(), h.end());
  }
  for (int y = q.Int(1); y <= q.Int(5); ++y)
    for (int x = q.Int(0); x <= q.Int(2); ++x) outline.at(x, y) = y == q.Int(1) || y == q.Int(5) || x == q.Int(0) || x == q.Int(2);
  Canvas c;
  c.drawArea = kLineArea;
  Agree(r, q, outline, model, [box](MEMIMG* d, MEMIMG*, uint32_t) { DrawLinesMemImg(d, box, 4); }, c);
  const int none = q.Int(10);
  Agree(r, q, Grid(kSize, kSize), {}, [box, none](MEMIMG* d, MEMIMG*, uint32_t) { DrawLinesMemImg(d, box, none); }, c);
}
void LineCountNone(const Quote& q, Report& r) {
  const MemImgLineRecord line{1, 1, 30, 20, 1, 0};
  for (int count : {q.Int(0), q.Int(0) - 1})
    Agree(r, q, Grid(kSize, kSize), {}, [line, count](MEMIMG* d, MEMIMG*, uint32_t) { DrawLinesMemImg(d, &line, count); });
}
void LinesCrossing(const Quote& q, Report& r) {
  const MemImgLineRecord cross[2] = {{q.Int(0), q.Int(1), q.Int(2), q.Int(3), 1, 0}, {q.Int(4), q.Int(5), q.Int(6), q.Int(7), 1, 0}};
  Hits model = LineHits(q.Int(0), q.Int(1), q.Int(2), q.Int(3), kLineArea);
  const Hits second = LineHits(q.Int(4), q.Int(5), q.Int(6), q.Int(7), kLineArea);
  model.insert(model.end(), second.begin(), second.end());
  Canvas c;
  c.drawArea = kLineArea;
  const Grid drawn = DrawnVisits(r, c, [cross](MEMIMG* d, MEMIMG*, uint32_t) { DrawLinesMemImg(d, cross, 2); });
  CompareGrids(r, std::string(q.label()) + ", the model", ModelVisits(kSize, kSize, model), drawn);
  CompareValue(r, q.label(), drawn.at(q.Int(8), q.Int(9)), 2);
}

// ---- Circles and ovals --------------------------------------------------------------------------

// The outline's points of one step (x, y), as the page lists them.
void OutlineStep(Grid& g, int x, int y) {
  const std::vector<std::pair<int, int>> points =
      x == 0 ? std::vector<std::pair<int, int>>{{-y, 0}, {y, 0}, {0, y}, {0, -y}}
             : std::vector<std::pair<int, int>>{{-y, x}, {y, x}, {-y, -x}, {y, -x}, {-x, y}, {x, y}, {-x, -y}, {x, -y}};
  for (const auto& [dx, dy] : points) ++g.at(cx + dx, cy + dy);
}
void CircleSteps(const Quote& q, Report& r) {
  Grid stated(kSize, kSize);
  for (size_t i = 1; i + 1 < q.numbers.size(); i += 2) OutlineStep(stated, q.Int(i), q.Int(i + 1));
  Agree(r, q, stated, CircleHits(cx, cy, q.Int(0), false, kWhole), Circle(q.Int(0), false));
}
void CircleOutlines(const Quote& q, Report& r) {
  Grid r0(kSize, kSize), r1(kSize, kSize);
  r0.at(cx, cy) = 4;
  for (int s : {-1, 1}) r1.at(cx + s * q.Int(2), cy) = r1.at(cx, cy + s * q.Int(3)) = 1;
  const Grid drawn2 = DrawnVisits(r, Canvas{}, Circle(q.Int(4), false)), drawn3 = DrawnVisits(r, Canvas{}, Circle(q.Int(6), false));
  int pixels2 = 0, visits3 = 0;
  for (size_t i = 0; i < drawn2.n.size(); ++i) pixels2 += drawn2.n[i] == 1, visits3 += drawn3.n[i];
  CompareValue(r, std::string(q.label()) + ": r = 2 pixels once", pixels2, q.Int(5));
  CompareValue(r, std::string(q.label()) + ": r = 3 visits", visits3, q.Int(7));
  for (int s : {-1, 1})
    for (int t : {-1, 1}) CompareValue(r, std::string(q.label()) + ": r = 3 corners twice", drawn3.at(cx + s * q.Int(8), cy + t * q.Int(9)), 2);
  Agree(r, q, r0, CircleHits(cx, cy, q.Int(0), false, kWhole), Circle(q.Int(0), false));
  Agree(r, q, r1, CircleHits(cx, cy, q.Int(1), false, kWhole), Circle(q.Int(1), false));
  CompareGrids(r, std::string(q.label()) + ", r = 2 model", ModelVisits(kSize, kSize, CircleHits(cx, cy, q.Int(4), false, kWhole)), drawn2);
  CompareGrids(r, std::string(q.label()) + ", r = 3 model", ModelVisits(kSize, kSize, CircleHits(cx, cy, q.Int(6), false, kWhole)), drawn3);
}
// Half-widths by distance from cy, for filled circles (and ovals).
Grid Disc(const std::vector<int>& half, int x0 = cx, int y0 = cy) {
  Grid g(kSize, kSize);
  for (int dy = 1 - int(half.size()); dy < int(half.size()); ++dy) Span(g, y0 + dy, x0 - half[size_t(std::abs(dy))], x0 + half[size_t(std::abs(dy))]);
  return g;
}
void FilledSmall(const Quote& q, Report& r) {
  Agree(r, q, Disc({0}), CircleHits(cx, cy, q.Int(0), true, kWhole), Circle(q.Int(0), true));
  const Grid two = Disc({q.Int(8), q.Int(8), q.Int(4)});
  int pixels = 0;
  for (int v : two.n) pixels += v;
  CompareValue(r, q.label(), pixels, q.Int(9));
  Agree(r, q, two, CircleHits(cx, cy, q.Int(1), true, kWhole), Circle(q.Int(1), true));
}
void FilledTen(const Quote& q, Report& r) {
  // "0–3: 10; 4, 5: 9; 6: 8; ...": pairs of (distances, half-width).
  std::vector<int> half(size_t(q.Int(0)) + 1, -1);
  for (int d = q.Int(1); d <= q.Int(2); ++d) half[size_t(d)] = q.Int(3);
  half[size_t(q.Int(4))] = half[size_t(q.Int(5))] = q.Int(6);
  for (size_t i = 7; i + 1 < q.numbers.size(); i += 2) half[size_t(q.Int(i))] = q.Int(i + 1);
  Agree(r, q, Disc(half), CircleHits(cx, cy, q.Int(0), true, kWhole), Circle(q.Int(0), true));
}
void FilledLimits(const Quote& q, Report& r) {
  Agree(r, q, Rect(0, q.Int(1) - 1, 0, q.Int(2) - 1), CircleHits(cx, cy, q.Int(0), true, kWhole), Circle(q.Int(0), true));
  for (int radius : {q.Int(3), q.Int(4)})
    for (bool fill : {false, true}) Agree(r, q, Grid(kSize, kSize), CircleHits(cx, cy, radius, fill, kWhole), Circle(radius, fill));
}

void OvalMoves(const Quote& q, Report& r) {
  for (int k = 0; k < 2; ++k) {
    const OvalFigures f = OvalWalkFigures(q.Int(4 * k), q.Int(4 * k + 1));
    CompareValue(r, std::string(q.label()) + ": moves", f.moves, q.Int(4 * k + 2));
    CompareValue(r, std::string(q.label()) + ": idle moves", f.idle, q.Int(4 * k + 3));
  }
}
void OvalFlattest(const Quote& q, Report& r) {
  Grid stated(kSize, kSize);
  Span(stated, cy, std::max(0, cx - q.Int(2)), std::min(kSize - 1, cx + q.Int(3)));
  stated.at(cx, cy - q.Int(4)) = stated.at(cx, cy + q.Int(4)) = 1;
  Agree(r, q, stated, OvalHits(cx, cy, q.Int(0), q.Int(1), true, kWhole), Oval(q.Int(0), q.Int(1), true));
  const OvalFigures wide = OvalWalkFigures(q.Int(0), q.Int(1)), tall = OvalWalkFigures(q.Int(8), q.Int(9));
  CompareValue(r, std::string(q.label()) + ": moves", wide.moves, int64_t(q.Num(5)));
  CompareValue(r, std::string(q.label()) + ": moves not idle", wide.moves - wide.idle, q.Int(6));
  CompareValue(r, std::string(q.label()) + ": least err2", wide.least, int64_t(q.Num(7)));
  CompareValue(r, std::string(q.label()) + ": beyond 32 bits", wide.least < INT32_MIN, 1);
  CompareValue(r, std::string(q.label()) + ": moves of 1 x 46340", tall.moves, int64_t(q.Num(10)));
}
void OvalFiveThree(const Quote& q, Report& r) {
  // Half-widths by distance from cy: rows cy and cy +- 1, cy +- 2, cy +- 3.
  CompareValue(r, q.label(), q.Int(2) == 1 && q.Int(5) == 2 && q.Int(8) == 3, 1);
  const Grid stated = Disc({q.Int(4), q.Int(4), q.Int(7), q.Int(10)});
  int pixels = 0;
  for (int v : stated.n) pixels += v;
  CompareValue(r, q.label(), pixels, q.Int(11));
  for (const auto& [rx, ry] : {std::pair{q.Int(0), q.Int(1)}, std::pair{q.Int(12), q.Int(13)}})
    Agree(r, q, stated, OvalHits(cx, cy, rx, ry, true, kWhole), Oval(rx, ry, true));
}
void OvalThin(const Quote& q, Report& r) {
  Grid outline(kSize, kSize), filled(kSize, kSize);
  outline.at(cx - q.Int(2), cy) = outline.at(cx + q.Int(2), cy) = 1;
  for (int x = q.Int(3); x <= q.Int(4); ++x) outline.at(cx - x, cy) = outline.at(cx + x, cy) = 2;
  outline.at(cx, cy - q.Int(5)) = outline.at(cx, cy + q.Int(5)) = 1;
  Span(filled, cy, cx - q.Int(8), cx + q.Int(9));
  filled.at(cx, cy - q.Int(10)) = filled.at(cx, cy + q.Int(10)) = 1;
  Agree(r, q, outline, OvalHits(cx, cy, q.Int(0), q.Int(1), false, kWhole), Oval(q.Int(0), q.Int(1), false));
  Agree(r, q, filled, OvalHits(cx, cy, q.Int(6), q.Int(7), true, kWhole), Oval(q.Int(6), q.Int(7), true));
}
void OvalTall(const Quote& q, Report& r) {
  Grid filled(kSize, kSize), outline(kSize, kSize);
  for (int y = cy - q.Int(2); y <= cy + q.Int(3); ++y) {
    Span(filled, y, cx - q.Int(4), cx + q.Int(5));
  }
  for (int j = q.Int(7); j <= q.Int(8); ++j) outline.at(cx - q.Int(6), cy + j) = outline.at(cx + q.Int(6), cy + j) = 1;
  outline.at(cx, cy - q.Int(9)) = outline.at(cx, cy + q.Int(9)) = 1;
  CompareValue(r, q.label(), q.Int(7), -q.Int(8));
  Agree(r, q, filled, OvalHits(cx, cy, q.Int(0), q.Int(1), true, kWhole), Oval(q.Int(0), q.Int(1), true));
  Agree(r, q, outline, OvalHits(cx, cy, q.Int(0), q.Int(1), false, kWhole), Oval(q.Int(0), q.Int(1), false));
}
void OvalCircles(const Quote& q, Report& r) {
  for (int i = 0; i < 3; ++i)
    for (bool fill : {false, true}) {
      const int radius = q.Int(size_t(i));
      Grid stated(kSize, kSize);
      for (const Hit& h : CircleHits(cx, cy, radius, fill, kWhole)) stated.at(h.x, h.y) = 1;
      Agree(r, q, stated, OvalHits(cx, cy, radius, radius, fill, kWhole), Oval(radius, radius, fill));
    }
  for (int k = 0; k < 2; ++k)
    for (bool fill : {false, true})
      Agree(r, q, Grid(kSize, kSize), OvalHits(cx, cy, q.Int(3 + 2 * k), q.Int(4 + 2 * k), fill, kWhole),
            Oval(q.Int(3 + 2 * k), q.Int(4 + 2 * k), fill));
}

// ---- Destinations ---------------------------------------------------------------------------------

void DestinationKinds(const Quote& q, Report& r) {
  const uint32_t colour = q.Hex(0);
  const int l[4] = {q.Int(1), q.Int(2), q.Int(3), q.Int(4)};
  const RECT box{q.Int(10), q.Int(11), q.Int(12), q.Int(13)};
  const int tri[3][4] = {{q.Int(14), q.Int(15), 0, 0}, {q.Int(16), q.Int(17), 0, 0}, {q.Int(18), q.Int(19), 0, 0}};
  const DrawFn draws[6] = {
      Line(l[0], l[1], l[2], l[3]),
      [&](MEMIMG* d, MEMIMG*, uint32_t c) { DrawPixelMemImg(d, q.Int(8), q.Int(9), c); },
      [&](MEMIMG* d, MEMIMG*, uint32_t c) { DrawFillBoxMemImg(d, &box, c); },
      [&](MEMIMG* d, MEMIMG*, uint32_t c) { DrawTriangle(d, nullptr, tri, 0, nullptr, c); },
      [&](MEMIMG* d, MEMIMG*, uint32_t c) { DrawCircleMemImg(d, q.Int(20), q.Int(21), q.Int(22), c, 1); },
      [&](MEMIMG* d, MEMIMG*, uint32_t c) { DrawOvalMemImg(d, q.Int(23), q.Int(24), q.Int(25), q.Int(26), c, 0); },
  };
  for (int format = 0; format <= 1; ++format)
    for (int alpha = 0; alpha <= 1; ++alpha)
      for (int i = 0; i < 6; ++i) {
        SurfaceKind dk = KindOf(20, 20, format);
        dk.palette = !alpha;
        dk.alpha = alpha;
        Surface dst(dk);
        dst.FillWith(0);
        PlainState(Area{0, 0, 20, 20});
        draws[i](dst.img(), nullptr, colour);
        Grid want(20, 20), got(20, 20);
        if (alpha && i == 0)
          for (const Hit& h : LineHits(l[0], l[1], l[2], l[3], Area{0, 0, 20, 20})) want.at(h.x, h.y) = int(q.Hex(1));
        for (int y = 0; y < 20; ++y)
          for (int x = 0; x < 20; ++x) got.at(x, y) = int(dst.Get(x, y));
        CompareGrids(r, std::string(q.label()) + (alpha ? ": with alpha" : ": palettised"), got, want);
        if (!dst.GuardsIntact()) CompareValue(r, "the guard bytes around the destination", 1, 0);
      }
}

const ExampleList kShapeExamples{
    {Doc::kPage, "Example: with NOBLEND and the colour 0x1234, the line (1, 1)–(10, 5) writes 0x00001234 into each of its pixels of a 32-bit or 16-bit destination with alpha; the pixel (5, 5), the box (2, 2, 8, 8), the triangle (1, 1), (10, 1), (1, 10), the filled circle at (8, 8) of radius 4 and the oval at (8, 8), 4 × 3, write nothing there, nor into a palettised destination.", DestinationKinds},
    {Doc::kPage, "Examples: (1, 1), (6, 6), (11, 11) and (3, 3), (3, 3), (9, 1) draw nothing, and so do (0, 0), (8192, 0), (0, 8) and (−1, 0), (8191, 0), (0, 8); (0, 0), (8191, 0), (0, 8) draws rows 0 to 7.", NothingOrRows},
    {Doc::kPage, "From a source of 8191 × 2 the corners (0, 0, 8000, 0), (40, 0, 8190, 0), (0, 30, 8000, 2) draw, from one of 8192 × 2 nothing.", SourceLimit},
    {Doc::kPage, "A 16-bit 4 × 4 source on (0, 0, 0, 0), (10, 0, 4, 0), (0, 10, 0, 4) of a 32-bit destination draws nothing, and so does `DrawQuadMemImg` with it on (0, 0), (10, 0), (0, 10), (10, 10).", FormatsDiffer},
    {Doc::kPage, "Example (3, 2), (13, 2), (3, 12): rows 2 to 11, row 2 + j covers x = 3 .. 13 − j, 65 pixels; row 12 none.", RowsByOrder},
    {Doc::kPage, "Example (5, 0), (6, 6), (0, 6) (flat bottom): the right slope is 2^18/6 truncated, 43690 units; at row 3 the exact right edge is x = 5.5, where X would be 6 (edge plus half a pixel), but X = 5.5·2^18 + 3·43690 = 6·2^18 − 2, so the row ends at x = 5.", TruncatedSlope},
    {Doc::kPage, "Rows 0 to 5 cover 5 .. 5, 4 .. 5, 3 .. 5, 3 .. 5, 2 .. 6, 1 .. 6.", RowSpans},
    {Doc::kPage, "| top corner above row 0 | every row is drawn one row lower: row y gets the span the corners give row y − 1; the bottom corner's row is drawn | (2, −3), (12, −3), (2, 7): rows 0 to 7, row y covers x = 2 .. 10 − y |", AboveRowZero},
    {Doc::kPage, "| top above row 0, middle on the left at row ≥ 0 | the upper part is drawn one row lower and ends with the middle corner's row; the lower part restarts at that corner's own row: that row is visited twice (both spans); the bottom corner's row is not drawn | (10, −4), (2, 3), (12, 9): row 3 covers 3 .. 11 (upper edges) and then 2 .. 11 (lower edges), so 3 .. 11 twice; rows 0 to 8 drawn, row 9 not |", RowTwice},
    {Doc::kPage, "| right edge X between −1 and 0 pixels | xr = 0: column 0 is drawn (the only effect in x, as the area starts at column 0 or right of it) | (−5, 0), (−1, 0), (−5, 4): the pixel (0, 0) |", ColumnZero},
    {Doc::kPage, "Example: (0, 0, 0, 0), (8, 0, 4, 0), (0, 8, 0, 4) from a 4 × 4 source: Ux = Vy = 131072 (half a texel), Uy = Vx = 0; pixel (x, y) shows texel (x/2, y/2) (x/2 truncated); rows 0 to 7 are drawn (row 8 is not), row y covering x = 0 .. min(7, 8 − y): pixel (8, 0) of the span 0 .. 8 has U = 4·2^18 and fails.", HalfScale},
    {Doc::kPage, "Example: (0, 0, 1, 4), (0, 3, 1, 3), (6, 0, 2, 2) from a 4 × 4 source leaves (0, 0) out (R = the first corner, V = 4·2^18 there); with the first two corners exchanged, R = (0, 3) and (0, 0) shows texel (1, 3).", EqualX},
    {Doc::kPage, "Example, 10 × 10 source on (2, 3), (12, 3), (2, 13), (12, 13): pixel (2 + i, 3 + j) shows texel (i, j) for i, j = 0 .. 9; column 12 fails U < 10·2^18; row 13 is not drawn; the pixels (12 − i, 3 + i) for i = 1 .. 9 are visited twice, with the same texel.", QuadExample},
    {Doc::kPage, "Mirrored, (12, 3), (2, 3), (12, 13), (2, 13): pixel (12 − i, 3 + j) shows texel (i, j), columns 3 to 12.", QuadMirrored},
    {Doc::kPage, "Example: under the area (5, 6, 20, 30), (5, 6), (19, 6), (5, 29) and (19, 29) are drawn; (4, 10), (20, 10), (10, 5) and (10, 30) are not.", Pixels},
    {Doc::kPage, "Example: (10, 8, 4, 2) covers x = 4 .. 9, y = 2 .. 7; under the area (5, 6, 20, 30), x = 5 .. 9, y = 6 .. 7.", Boxes},
    {Doc::kPage, "Example: under that area a null rect covers x = 5 .. 19, y = 6 .. 29, and (7, 9, 7, 20) draws nothing.", NullAndEmptyBox},
    {Doc::kPage, "Examples, area (0, 0, 100, 100):", nullptr},
    {Doc::kPage, "(0, 0)–(10, 4): (0,0) (1,0) (2,0) (3,1) (4,1) (5,2) (6,2) (7,2) (8,3) (9,3).", LinePixels},
    {Doc::kPage, "(0, 0)–(3, 10): (0,0) (0,1) (0,2) (0,3) (1,4) (1,5) (1,6) (2,7) (2,8) (2,9).", LinePixels},
    {Doc::kPage, "(10, 5)–(0, 5): x = 10 down to 1.", LineRun},
    {Doc::kPage, "(5, 5)–(5, 5): nothing.", LineNothing},
    {Doc::kPage, "(−50, −20)–(150, 60): the ends become (0, 0) and (100, 40), pixel i = (i, floor(2i/5)) for i = 0 .. 99.", LineFifths},
    {Doc::kPage, "(0, 0)–(100, 100): (i, i), i = 0 .. 99.", LineDiagonal},
    {Doc::kPage, "(−10, 50)–(50, 50): x = 0 .. 49.", LineRun},
    {Doc::kPage, "(50, 50)–(150, 50): x = 50 .. 99.", LineRun},
    {Doc::kPage, "(99, 0)–(99, 200): y = 0 .. 99.", LineRun},
    {Doc::kPage, "(−10, 5)–(5, −10), passing outside the area: the one pixel (0, 0).", LineOutside},
    {Doc::kPage, "(−20, −5)–(−3, −40): nothing.", LineNothing},
    {Doc::kPage, "(count ≤ 0: nothing)", LineCountNone},
    {Doc::kPage, "(example: the box outline (10, 10)→(19, 10)→(19, 15)→(10, 15)→(10, 10) visits each border pixel once, and with count 0 nothing)", LineLists},
    {Doc::kPage, "((30, 30)–(34, 34) with (30, 34)–(34, 30): (32, 32) twice)", LinesCrossing},
    {Doc::kPage, "Example: r = 10 gives (x, y) = (0, 10), (1, 10), (2, 10), (3, 10), (4, 9), (5, 9), (6, 8), (7, 7).", CircleSteps},
    {Doc::kPage, "Examples: r = 0 visits (cx, cy) four times; r = 1: (cx ∓ 1, cy), (cx, cy ± 1), once each; r = 2: 12 pixels once; r = 3: 20 visits, (cx ± 2, cy ± 2) twice each.", CircleOutlines},
    {Doc::kPage, "Examples: r = 0 covers (cx, cy) once; r = 2: rows cy ± 2 cover cx − 1 .. cx + 1, rows cy − 1 .. cy + 1 cover cx − 2 .. cx + 2 (21 pixels).", FilledSmall},
    {Doc::kPage, "r = 10, half-width by distance from cy: 0–3: 10; 4, 5: 9; 6: 8; 7: 7; 8: 6; 9: 5; 10: 3.", FilledTen},
    {Doc::kPage, "r = 46340 filled covers the whole of a 104 × 104 destination; r = −3 and r = 46341 draw nothing.", FilledLimits},
    {Doc::kPage, "Examples: 5 × 3 takes 10 moves, 3 of them idle; 10 × 1 takes 100 moves, 90 idle.", OvalMoves},
    {Doc::kPage, "Filled 46340 × 1 draws row cy from cx − 46340 to cx + 46340 and the pixels (cx, cy ± 1); its walk takes 2147395600 moves, all but 46340 of them idle, and err2 reaches −4294791199; 1 × 46340 takes 2147461133 moves.", OvalFlattest},
    {Doc::kPage, "filled 5 × 3: rows cy and cy ± 1 cover cx − 5 .. cx + 5, rows cy ± 2 cx − 4 .. cx + 4, rows cy ± 3 cx − 2 .. cx + 2 (61 pixels; −5 × −3 the same).", OvalFiveThree},
    {Doc::kPage, "Outline 10 × 1: (cx ± 10, cy) once, (cx ± x, cy) for x = 1 .. 9 twice, (cx, cy ± 1) once; filled 10 × 1: row cy from cx − 10 to cx + 10 and (cx, cy ± 1).", OvalThin},
    {Doc::kPage, "Tall 1 × 10 overshoots: filled rows cy − 14 .. cy + 14, each cx − 1 .. cx + 1; the outline visits (cx ± 1, cy + j) for j = −14 .. 14 and (cx, cy ± 14).", OvalTall},
    {Doc::kPage, "(r = 3, 7, 12). 0 × 5 and 46341 × 5 draw nothing.", OvalCircles},
};

}  // namespace

// The model against whole drawn destinations where the sweeps do not reach: clipped triangles
// and textures, lines in every octant, clipped circles and ovals.
void CheckShapeCoverage(Report& r) {
  const Quote none{};
  for (int format = 0; format <= 1; ++format) {
    Canvas c;
    c.format = format;
    auto same = [&](const char* what, const Hits& model, const DrawFn& draw, const Canvas& canvas) {
      CompareGrids(r, what, DrawnVisits(r, canvas, draw), ModelVisits(canvas.w, canvas.h, model));
    };
    Canvas clipped = c;
    clipped.drawArea = {4, 3, 30, 20};
    const Corners tri = {{-6, 25, 0, 0}, {17, -9, 0, 0}, {40, 14, 0, 0}};
    same("triangle clipped", TriangleModel(tri, 0, 0, clipped.drawArea), Triangle(tri), clipped);
    Canvas textured = c;
    textured.drawArea = {2, 1, 60, 50};
    textured.srcW = 16;
    textured.srcH = 12;
    const Corners tex = {{-8, 4, -3, 2}, {55, -6, 19, -4}, {20, 58, 5, 22}};
    CompareGrids(r, "textured triangle clipped", DrawnTexels(r, textured, Triangle(tex)),
                 ModelTexels(kSize, kSize, TriangleModel(tex, 16, 12, textured.drawArea)));
    Canvas lines = c;
    lines.drawArea = kLineArea;
    for (const auto& [dx, dy] : std::vector<std::pair<int, int>>{{20, 7}, {20, -7}, {7, -20}, {-7, -20}, {-20, -7}, {-20, 7}, {-7, 20}, {7, 20}, {13, 13}, {-13, 13}, {1, 30}, {-30, -1}})
      same("line in each octant", LineHits(50, 50, 50 + dx, 50 + dy, kLineArea), Line(50, 50, 50 + dx, 50 + dy), lines);
    Canvas shapes = c;
    shapes.drawArea = {35, 33, 47, 45};
    for (bool fill : {false, true}) {
      same("circle clipped", CircleHits(cx, cy, 9, fill, shapes.drawArea), Circle(9, fill), shapes);
      same("oval clipped", OvalHits(cx, cy, 17, 6, fill, shapes.drawArea), Oval(17, 6, fill), shapes);
      same("tall oval clipped", OvalHits(cx, cy, -4, 23, fill, shapes.drawArea), Oval(-4, 23, fill), shapes);
    }
  }
  (void)none;
  PlainState(kWhole);
}

}  // namespace page
