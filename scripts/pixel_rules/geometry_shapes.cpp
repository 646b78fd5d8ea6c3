// Which pixels the triangle, quadrangle, pixel, box, line, circle and oval drawers visit, in
// order, read off docs/pixel-rules.md, "Which pixels the shapes cover", in its words and names.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "page_model.h"

namespace page {
namespace {

constexpr int64_t kOnePixel = 262144;  // 2^18 units: one pixel of the triangle's fixed point

bool InArea(const Area& a, int64_t x, int64_t y) {
  return x >= a.left && x < a.right && y >= a.top && y < a.bottom;
}
bool AreaEmpty(const Area& a) { return a.left >= a.right || a.top >= a.bottom; }

// ---- Triangles ----------------------------------------------------------------------------------

// A wrapping 32-bit value as a signed number.
int64_t Wrap(int64_t v) { return int64_t(int32_t(uint32_t(uint64_t(v)))); }
// int(.): the integer part, the quotient by 2^18 truncated toward zero.
int64_t Int(int64_t fixed) { return fixed / kOnePixel; }

struct Corner {
  int64_t X, Y, U, V;  // U, V wrapping 32-bit
};

// Fixed point: half a pixel added to x and y; U and V wrapping.
std::vector<Corner> Fixed(const int (*vertices)[4]) {
  std::vector<Corner> c;
  for (int a = 0; a < 3; ++a)
    c.push_back({int64_t(vertices[a][0]) * kOnePixel + kOnePixel / 2, int64_t(vertices[a][1]) * kOnePixel + kOnePixel / 2,
                 Wrap(int64_t(vertices[a][2]) * kOnePixel), Wrap(int64_t(vertices[a][3]) * kOnePixel)});
  return c;
}

// The exchange sort of the page, on the indices 0, 1, 2: the pairs (0, 1), (0, 2), (1, 2) in
// turn, swapped when the key at the first place is greater.
template <class Key>
std::vector<int> ExchangeSorted(Key key) {
  std::vector<int> at{0, 1, 2};
  for (const auto& [i, j] : {std::pair{0, 1}, std::pair{0, 2}, std::pair{1, 2}})
    if (key(at[size_t(i)]) > key(at[size_t(j)])) std::swap(at[size_t(i)], at[size_t(j)]);
  return at;
}

// One segment of a side: its start X, its slope and its rows.
struct Segment {
  int64_t startX, slope, rows;
};
Segment SegmentFrom(int64_t X0, int64_t Y0, int64_t X1, int64_t Y1) {
  const int64_t rows = Int(Y1 - Y0);
  return {X0, (X1 - X0) / rows, rows};  // the 32-bit division truncates toward zero
}

// The X of a side at walk step n, and which of its segments holds that step.
std::pair<int64_t, size_t> SideAt(const std::vector<Segment>& side, int64_t n) {
  size_t s = 0;
  while (n >= side[s].rows) n -= side[s++].rows;
  return {side[s].startX + n * side[s].slope, s};
}

}  // namespace

std::optional<Gradients> TriangleGradients(const int (*vertices)[4]) {
  const std::vector<Corner> c = Fixed(vertices);
  // From the order by X: R first, Q middle, P last; integer deltas, wrapping 32-bit products.
  const std::vector<int> byX = ExchangeSorted([&](int a) { return c[size_t(a)].X; });
  const Corner &R = c[size_t(byX[0])], &Q = c[size_t(byX[1])], &P = c[size_t(byX[2])];
  const int64_t dx1 = Int(P.X - R.X), dy1 = Int(P.Y - R.Y), du1 = Int(Wrap(P.U - R.U)), dv1 = Int(Wrap(P.V - R.V));
  const int64_t dx2 = Int(Q.X - R.X), dy2 = Int(Q.Y - R.Y), du2 = Int(Wrap(Q.U - R.U)), dv2 = Int(Wrap(Q.V - R.V));
  const int64_t det = Wrap(dy2 * dx1 - dy1 * dx2);
  if (det == 0) return std::nullopt;
  // trunc(numerator 262144.0 / det) in doubles; outside the 32-bit range -2^31.
  auto gradient = [&](int64_t product1, int64_t product2) -> int64_t {
    const double g = std::trunc(double(Wrap(product1 - product2)) * 262144.0 / double(det));
    return g >= -2147483648.0 && g <= 2147483647.0 ? int64_t(g) : INT32_MIN;
  };
  return Gradients{gradient(dy2 * du1, dy1 * du2), gradient(du2 * dx1, dx2 * du1), gradient(dy2 * dv1, dy1 * dv2),
                   gradient(dv2 * dx1, dv1 * dx2)};
}

Hits PolygonHits(const int (*vertices)[4], int W, int H, const Area& area) {
  const bool textured = W != 0 || H != 0;
  // Nothing is drawn: a corner outside -8192 .. 8191, corners more than 8191 apart, a source
  // wider or taller than 8191.
  if (textured && (W > 8191 || H > 8191)) return {};
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      for (int axis = 0; axis < 2; ++axis)
        if (vertices[a][axis] < -8192 || vertices[a][axis] > 8191 ||
            std::abs(int64_t(vertices[a][axis]) - vertices[b][axis]) > 8191)
          return {};
  const std::vector<Corner> c = Fixed(vertices);

  // Texture coordinates, from the order by X: R first.
  const Corner& R = c[size_t(ExchangeSorted([&](int a) { return c[size_t(a)].X; })[0])];
  const std::optional<Gradients> g = TriangleGradients(vertices);
  if (!g) return {};  // collinear, or two corners equal
  const auto [Ux, Uy, Vx, Vy] = *g;

  // Rows, from the order by Y: the top, middle and bottom corner.
  const std::vector<int> byY = ExchangeSorted([&](int a) { return c[size_t(a)].Y; });
  const Corner &top = c[size_t(byY[0])], &mid = c[size_t(byY[1])], &bot = c[size_t(byY[2])];
  std::vector<Segment> left, right;
  if (top.Y == mid.Y) {  // flat top: the smaller X (top when equal) starts the left side
    const Corner &l = mid.X < top.X ? mid : top, &r = mid.X < top.X ? top : mid;
    left = {SegmentFrom(l.X, l.Y, bot.X, bot.Y)};
    right = {SegmentFrom(r.X, r.Y, bot.X, bot.Y)};
  } else if (mid.Y == bot.Y) {  // flat bottom: the smaller X (middle when equal) ends the left side
    const Corner &l = bot.X < mid.X ? bot : mid, &r = bot.X < mid.X ? mid : bot;
    left = {SegmentFrom(top.X, top.Y, l.X, l.Y)};
    right = {SegmentFrom(top.X, top.Y, r.X, r.Y)};
  } else if (double(mid.X - top.X) / double(mid.Y - top.Y) < double(bot.X - top.X) / double(bot.Y - top.Y)) {
    left = {SegmentFrom(top.X, top.Y, mid.X, mid.Y), SegmentFrom(mid.X, mid.Y, bot.X, bot.Y)};
    right = {SegmentFrom(top.X, top.Y, bot.X, bot.Y)};
  } else {  // the middle corner on the right: its lower segment starts 1 unit right of it
    left = {SegmentFrom(top.X, top.Y, bot.X, bot.Y)};
    right = {SegmentFrom(top.X, top.Y, mid.X, mid.Y), SegmentFrom(mid.X + 1, mid.Y, bot.X, bot.Y)};
  }

  // The walk: step n visits int(left X) .. int(right X) on row y. Both sides advance every step;
  // the walk ends when either runs out of rows on its last segment; y counts from int(Y_top),
  // and again from int(Y_mid) once the left side is on its lower segment.
  int64_t leftRows = 0, rightRows = 0;
  for (const Segment& s : left) leftRows += s.rows;
  for (const Segment& s : right) rightRows += s.rows;
  Hits hits;
  for (int64_t n = 0; n < std::min(leftRows, rightRows); ++n) {
    const auto [leftX, segment] = SideAt(left, n);
    const int64_t y = segment == 0 ? Int(top.Y) + n : Int(mid.Y) + n - left[0].rows;
    const int64_t xl = Int(leftX), xr = Int(SideAt(right, n).first);
    for (int64_t x = xl; x <= xr; ++x) {
      if (!InArea(area, x, y)) continue;
      if (!textured) {
        hits.push_back({int(x), int(y), -1, -1});
        continue;
      }
      // u and v from R, wrapping; visited when both lie inside the source, unsigned.
      const uint32_t U = uint32_t(uint64_t(R.U + (x - Int(R.X)) * Ux + (y - Int(R.Y)) * Uy));
      const uint32_t V = uint32_t(uint64_t(R.V + (x - Int(R.X)) * Vx + (y - Int(R.Y)) * Vy));
      if (U < uint32_t(W) * uint32_t(kOnePixel) && V < uint32_t(H) * uint32_t(kOnePixel))
        hits.push_back({int(x), int(y), int(U >> 18), int(V >> 18)});
    }
  }
  return hits;
}

Hits QuadHits(const int* corners, int W, int H, const Area& area) {
  // The triangles of corners 0, 1, 2 and 1, 2, 3, in that order. (The quick test only refuses
  // quadrangles that would draw nothing.)
  const int v[4][4] = {{corners[0], corners[1], 0, 0},
                       {corners[2], corners[3], W, 0},
                       {corners[4], corners[5], 0, H},
                       {corners[6], corners[7], W, H}};
  Hits hits = PolygonHits(&v[0], W, H, area);
  const Hits second = PolygonHits(&v[1], W, H, area);
  hits.insert(hits.end(), second.begin(), second.end());
  return hits;
}

// ---- Pixel, box, line ---------------------------------------------------------------------------

Hits PixelHits(int x, int y, const Area& area) {
  if (!InArea(area, x, y)) return {};
  return {{x, y, -1, -1}};
}

Hits BoxHits(const int* rect, int dstW, int dstH, const Area& area) {
  // A null rect is the whole view; corners in either order; each edge clamped into the area.
  const int64_t x1 = rect ? rect[0] : 0, y1 = rect ? rect[1] : 0;
  const int64_t x2 = rect ? rect[2] : dstW, y2 = rect ? rect[3] : dstH;
  const int64_t left = std::clamp<int64_t>(std::min(x1, x2), area.left, area.right);
  const int64_t right = std::clamp<int64_t>(std::max(x1, x2), area.left, area.right);
  const int64_t top = std::clamp<int64_t>(std::min(y1, y2), area.top, area.bottom);
  const int64_t bottom = std::clamp<int64_t>(std::max(y1, y2), area.top, area.bottom);
  Hits hits;
  for (int64_t y = top; y < bottom; ++y)
    for (int64_t x = left; x < right; ++x) hits.push_back({int(x), int(y), -1, -1});
  return hits;
}

Hits LineHits(int x1, int y1, int x2, int y2, const Area& area) {
  if (AreaEmpty(area)) return {};
  // 1. Wholly beyond one edge of the area.
  if (std::min(y1, y2) > area.bottom - 1 || std::min(x1, x2) > area.right - 1 || std::max(y1, y2) < area.top ||
      std::max(x1, x2) < area.left)
    return {};
  // 2. The line's equations, from the end points as given: x = hx + gx y, y = hy + gy x.
  const double gx = y1 == y2 ? 0.0 : (double(x2) - x1) / (double(y2) - y1), hx = x1 - gx * y1;
  const double gy = x1 == x2 ? 0.0 : (double(y2) - y1) / (double(x2) - x1), hy = y1 - gy * x1;
  // 3. The four clips in the page's order: an end point beyond an edge is moved onto the edge
  // (the start point) or one past it (the end point), its other coordinate from the equation.
  struct End {
    int64_t x, y;
  } ends[2] = {{x1, y1}, {x2, y2}};
  struct Clip {
    int end;
    bool onX;
  };
  for (const Clip& k : {Clip{0, true}, Clip{1, true}, Clip{0, false}, Clip{1, false}}) {
    End& e = ends[k.end];
    int64_t& along = k.onX ? e.x : e.y;
    int64_t& other = k.onX ? e.y : e.x;
    const int64_t low = k.onX ? area.left : area.top, high = k.onX ? area.right : area.bottom;
    const int64_t outside = k.end == 0 ? 0 : 1;  // the end point stops one pixel outside
    if (along < low) along = low - outside;
    else if (along >= high) along = high - 1 + outside;
    else continue;
    other = int64_t(std::trunc(k.onX ? hy + gy * double(along) : hx + gx * double(along)));
  }
  const int64_t sx = std::clamp<int64_t>(ends[0].x, area.left, area.right - 1);
  const int64_t sy = std::clamp<int64_t>(ends[0].y, area.top, area.bottom - 1);
  const int64_t ex = std::clamp<int64_t>(ends[1].x, area.left - 1, area.right);
  const int64_t ey = std::clamp<int64_t>(ends[1].y, area.top - 1, area.bottom);
  // 4. max(spanX, spanY) pixels from the start point; the longer axis steps every pixel.
  const int64_t spanX = std::abs(ex - sx), spanY = std::abs(ey - sy);
  const int64_t xdir = ex < sx ? -1 : 1, ydir = ey < sy ? -1 : 1;
  Hits hits;
  const int64_t count = std::max(spanX, spanY);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t x = spanX >= spanY ? sx + i * xdir : sx + xdir * (i * spanX / spanY);
    const int64_t y = spanX >= spanY ? sy + ydir * (i * spanY / spanX) : sy + i * ydir;
    hits.push_back({int(x), int(y), -1, -1});
  }
  return hits;
}

// ---- Circles and ovals --------------------------------------------------------------------------

namespace {

constexpr int64_t kMaxRadius = 46340;

// What a circle or an oval draws, in order: spans offered to rows (filled) or points (outline).
struct Offers {
  std::vector<std::array<int64_t, 3>> spans;  // row, first, last
  std::vector<std::array<int64_t, 2>> points;
};

// A row inside the area takes the first span offered to it that reaches the area, cut to it,
// and is then done; each point inside the area is one visit.
Hits Resolve(const Offers& o, const Area& area) {
  Hits hits;
  std::set<int64_t> done;
  for (const auto& [row, first, last] : o.spans) {
    if (row < area.top || row >= area.bottom || last < area.left || first >= area.right) continue;
    if (!done.insert(row).second) continue;
    for (int64_t x = std::max<int64_t>(first, area.left); x <= std::min<int64_t>(last, area.right - 1); ++x)
      hits.push_back({int(x), int(row), -1, -1});
  }
  for (const auto& [x, y] : o.points)
    if (InArea(area, x, y)) hits.push_back({int(x), int(y), -1, -1});
  return hits;
}

}  // namespace

Hits CircleHits(int cx, int cy, int r, bool fill, const Area& area) {
  if (r < 0 || r > kMaxRadius) return {};
  // The steps (x, y, err) from (0, r, 3 - 2r), err as each step draws with it.
  struct Step {
    int64_t x, y, err;
  };
  std::vector<Step> steps;
  for (Step s{0, r, 3 - 2 * int64_t(r)}; s.x <= s.y || steps.empty();) {
    steps.push_back(s);
    s.err += s.err < 0 ? 4 * s.x + 6 : 4 * (s.x - s.y) + 10;
    s.y -= steps.back().err < 0 ? 0 : 1;
    s.x += 1;
  }
  Offers o;
  for (const Step& s : steps) {
    if (fill) {
      for (int64_t row : {cy + s.x, cy - s.x}) o.spans.push_back({row, cx - s.y, cx + s.y});
      if (s.err >= 0)
        for (int64_t row : {cy + s.y, cy - s.y}) o.spans.push_back({row, cx - s.x, cx + s.x});
    } else if (s.x == 0) {
      o.points.insert(o.points.end(), {{cx - s.y, cy}, {cx + s.y, cy}, {cx, cy + s.y}, {cx, cy - s.y}});
    } else {
      o.points.insert(o.points.end(), {{cx - s.y, cy + s.x}, {cx + s.y, cy + s.x}, {cx - s.y, cy - s.x},
                                       {cx + s.y, cy - s.x}, {cx - s.x, cy + s.y}, {cx + s.x, cy + s.y},
                                       {cx - s.x, cy - s.y}, {cx + s.x, cy - s.y}});
    }
  }
  return Resolve(o, area);
}

namespace {

// The oval's walk, move by move as the page's table gives it, idle runs taken at once.
struct Walk {
  bool wide;
  int64_t rx, ry, x, y = 0, acc = 0, lim, err1, err2;
  OvalFigures figures{};

  Walk(int64_t a, int64_t b)
      : wide(a >= b), rx(a), ry(b), x(a), lim(a >= b ? a * a / b : b * b / a), err1(3 - 2 * a), err2(3 - 4 * a) {
    Note();
  }
  void Note() {
    for (int64_t v : {err1, err2, acc}) {
      figures.least = std::min(figures.least, v);
      figures.greatest = std::max(figures.greatest, v);
    }
  }
  // The accumulator's part of a move: true when it reaches lim.
  bool Counted() {
    acc += wide ? ry : rx;
    if (acc < lim) return false;
    acc -= lim;
    return true;
  }
  // One move by the table: the column by err1 and err2 before it.
  void Move() {
    const int column = err1 < 0 ? 0 : err2 >= 0 ? 1 : 2;
    if (column != 0 && (wide || Counted())) x -= 1;
    if (column != 1 && (!wide || Counted())) y += 1;
    if (column == 0) err2 += 4 * y, err1 += 4 * y + 2;
    if (column == 1) err1 -= 4 * x, err2 += 2 - 4 * x;
    if (column == 2) err1 += 4 * (y - x) + 2, err2 += 4 * (y - x) + 2;
  }
  // The state after n idle moves in a row: each adds the same amounts.
  Walk AfterIdle(int64_t n) const {
    Walk w = *this;
    if (wide) w.acc += n * ry, w.err2 += n * 4 * y, w.err1 += n * (4 * y + 2);
    else w.acc += n * rx, w.err1 -= n * 4 * x, w.err2 += n * (2 - 4 * x);
    return w;
  }
  // Whether the next move is idle: a wide oval's first column, a tall one's second, with the
  // accumulator staying below lim.
  bool NextIdle() const {
    const int column = err1 < 0 ? 0 : err2 >= 0 ? 1 : 2;
    return column == (wide ? 0 : 1) && acc + (wide ? ry : rx) < lim;
  }
  // The run of idle moves from here, taken at once (its length found by halving), then the
  // move that ends it.
  void Next() {
    int64_t idle = 0, beyond = 1;
    while (AfterIdle(beyond - 1).NextIdle()) idle = beyond, beyond *= 2;
    while (beyond - idle > 1) {
      const int64_t mid = idle + (beyond - idle) / 2;
      (AfterIdle(mid - 1).NextIdle() ? idle : beyond) = mid;
    }
    *this = AfterIdle(idle);
    figures.moves += idle + 1;
    figures.idle += idle;
    Note();
    Move();
    Note();
  }
};

}  // namespace

OvalFigures OvalWalkFigures(int rx, int ry) {
  Walk w(std::abs(int64_t(rx)), std::abs(int64_t(ry)));
  while (w.x > 0) w.Next();
  return w.figures;
}

Hits OvalHits(int cx, int cy, int rx, int ry, bool fill, const Area& area) {
  if (rx == 0 || ry == 0 || std::abs(int64_t(rx)) > kMaxRadius || std::abs(int64_t(ry)) > kMaxRadius) return {};
  Walk w(std::abs(int64_t(rx)), std::abs(int64_t(ry)));
  Offers o;
  if (fill) o.spans.push_back({cy, cx - w.rx, cx + w.rx});
  else o.points.insert(o.points.end(), {{cx - w.rx, cy}, {cx + w.rx, cy}});
  while (w.x > 0) {
    const int64_t x = w.x, y = w.y;
    w.Next();
    if (w.x == 0) break;
    if (fill && w.y != y)
      for (int64_t row : {cy + w.y, cy - w.y}) o.spans.push_back({row, cx - w.x, cx + w.x});
    if (!fill && (w.x != x || w.y != y))
      o.points.insert(o.points.end(), {{cx - w.x, cy + w.y}, {cx + w.x, cy + w.y}, {cx - w.x, cy - w.y},
                                       {cx + w.x, cy - w.y}});
  }
  // The end, x = 0: the single pixel cx on rows cy - y and cy + y.
  if (fill)
    for (int64_t row : {cy - w.y, cy + w.y}) o.spans.push_back({row, cx, cx});
  else
    o.points.insert(o.points.end(), {{cx, cy - w.y}, {cx, cy + w.y}});
  return Resolve(o, area);
}

}  // namespace page
