// Which pixels the triangle, quadrangle, pixel, box, line, circle and oval drawers visit, and in
// which order, as docs/pixel-rules.md states it ("Which pixels a shape covers").
#include <algorithm>
#include <cstdint>
#include <map>

#include "page_model.h"

namespace page {
namespace {

bool Empty(const Area& a) { return a.left >= a.right || a.top >= a.bottom; }

// ---- Triangles ----------------------------------------------------------------------------------

constexpr int32_t kOne = 1 << 18;  // one pixel in the triangle's 14.18 fixed point

// Integer part of a fixed value: truncated toward zero, not the floor.
int32_t Int(int32_t fixed) { return fixed / kOne; }
// Integer part of a difference of two wrapping 32-bit fixed values.
int32_t IntDiff(uint32_t a, uint32_t b) { return Int(static_cast<int32_t>(a - b)); }
// a * b - c * e in wrapping 32-bit integers.
int32_t Cross(int32_t a, int32_t b, int32_t c, int32_t e) {
  return static_cast<int32_t>(uint32_t(a) * uint32_t(b) - uint32_t(c) * uint32_t(e));
}
// Truncation toward zero; outside the 32-bit range -2^31.
int32_t Truncate(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(v);
}
bool InRange(int64_t v) { return v >= -8192 && v <= 8191; }

struct Corner {
  int32_t X, Y;  // position plus half a pixel, fixed
  uint32_t U, V;  // fixed, no half pixel
};
struct Segment {
  int32_t x, slope, rows;
};
Segment MakeSegment(int32_t from, int32_t to, int32_t rows) { return {from, (to - from) / rows, rows}; }

// Index order 0, 1, 2 sorted by exchange (i < j, swap when key[i] > key[j]).
void SortByExchange(const int32_t key[3], int order[3]) {
  for (int i = 0; i < 3; ++i) order[i] = i;
  for (int i = 0; i < 2; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (key[order[i]] > key[order[j]]) std::swap(order[i], order[j]);
}

}  // namespace

Hits PolygonHits(const int (*vertices)[4], int srcW, int srcH, const Area& area) {
  Hits hits;
  const bool textured = srcW != 0 || srcH != 0;
  if (Empty(area)) return hits;
  if (textured && (srcW < 1 || srcH < 1 || srcW > 8191 || srcH > 8191)) return hits;
  // Corners and their differences within -8192 .. 8191 (differences: magnitude at most 8191).
  for (int i = 0; i < 3; ++i) {
    if (!InRange(vertices[i][0]) || !InRange(vertices[i][1])) return hits;
    for (int j = 0; j < 3; ++j) {
      if (i == j) continue;
      if (!InRange(int64_t(vertices[i][0]) - vertices[j][0]) ||
          !InRange(int64_t(vertices[i][1]) - vertices[j][1]))
        return hits;
    }
  }
  Corner c[3];
  int32_t keyX[3], keyY[3];
  for (int i = 0; i < 3; ++i) {
    c[i].X = vertices[i][0] * kOne + 0x20000;
    c[i].Y = vertices[i][1] * kOne + 0x20000;
    c[i].U = uint32_t(vertices[i][2]) << 18;
    c[i].V = uint32_t(vertices[i][3]) << 18;
    keyX[i] = c[i].X;
    keyY[i] = c[i].Y;
  }
  int ox[3], oy[3];
  SortByExchange(keyX, ox);
  SortByExchange(keyY, oy);

  // Gradients, from the order by X: R leftmost, Q middle, P rightmost.
  const Corner &R = c[ox[0]], &Q = c[ox[1]], &P = c[ox[2]];
  const int32_t dx1 = Int(P.X - R.X), dy1 = Int(P.Y - R.Y);
  const int32_t dx2 = Int(Q.X - R.X), dy2 = Int(Q.Y - R.Y);
  const int32_t D = Cross(dy2, dx1, dy1, dx2);
  if (D == 0) return hits;  // collinear or repeated corners
  auto gradient = [&](int32_t num) { return Truncate(double(num) * 262144.0 / double(D)); };
  const int32_t du1 = IntDiff(P.U, R.U), dv1 = IntDiff(P.V, R.V);
  const int32_t du2 = IntDiff(Q.U, R.U), dv2 = IntDiff(Q.V, R.V);
  const uint32_t Ux = gradient(Cross(dy2, du1, dy1, du2));
  const uint32_t Uy = gradient(Cross(du2, dx1, dx2, du1));
  const uint32_t Vx = gradient(Cross(dy2, dv1, dy1, dv2));
  const uint32_t Vy = gradient(Cross(dv2, dx1, dv1, dx2));
  const int32_t xr = Int(R.X), yr = Int(R.Y);

  // Sides, from the order by Y: T top, M middle, B bottom.
  const Corner &T = c[oy[0]], &M = c[oy[1]], &B = c[oy[2]];
  Segment left[2], right[2];
  int leftCount = 1, rightCount = 1;
  if (T.Y == M.Y) {  // flat top
    const Corner& l = T.X > M.X ? M : T;
    const Corner& r = T.X > M.X ? T : M;
    left[0] = MakeSegment(l.X, B.X, Int(B.Y - l.Y));
    right[0] = MakeSegment(r.X, B.X, Int(B.Y - r.Y));
  } else if (M.Y == B.Y) {  // flat bottom
    const Corner& l = M.X > B.X ? B : M;
    const Corner& r = M.X > B.X ? M : B;
    left[0] = MakeSegment(T.X, l.X, Int(l.Y - T.Y));
    right[0] = MakeSegment(T.X, r.X, Int(r.Y - T.Y));
  } else {
    const int32_t rows1 = Int(M.Y - T.Y), rows2 = Int(B.Y - M.Y), rows = Int(B.Y - T.Y);
    const double s1 = double(M.X - T.X) / (double(M.Y - T.Y) * (1.0 / 262144.0));
    const double s2 = double(B.X - T.X) / (double(B.Y - T.Y) * (1.0 / 262144.0));
    if (s1 < s2) {  // middle corner on the left
      leftCount = 2;
      left[0] = MakeSegment(T.X, M.X, rows1);
      left[1] = MakeSegment(M.X, B.X, rows2);
      right[0] = MakeSegment(T.X, B.X, rows);
    } else {  // middle corner on the right; its lower segment starts one unit right of it
      rightCount = 2;
      left[0] = MakeSegment(T.X, B.X, rows);
      right[0] = MakeSegment(T.X, M.X, rows1);
      right[1] = MakeSegment(M.X + 1, B.X, rows2);
    }
  }

  // The walk: one row per step, both ends drawn, the row clipped to the area.
  int ls = 0, rs = 0;
  int32_t lx = left[0].x, rx = right[0].x, lrows = left[0].rows, rrows = right[0].rows;
  int32_t y = Int(T.Y);
  for (;;) {
    int32_t xl = Int(lx), count = Int(rx) - xl + 1;
    if (xl < area.left) {
      count -= area.left - xl;
      xl = area.left;
    }
    if (y >= area.top && y < area.bottom && xl < area.right && count > 0) {
      for (int32_t x = xl; x < xl + count && x < area.right; ++x) {
        if (!textured) {
          hits.push_back({x, y, -1, -1});
          continue;
        }
        const uint32_t u = R.U + uint32_t(x - xr) * Ux + uint32_t(y - yr) * Uy;
        const uint32_t v = R.V + uint32_t(x - xr) * Vx + uint32_t(y - yr) * Vy;
        if (u < uint32_t(srcW) << 18 && v < uint32_t(srcH) << 18)
          hits.push_back({x, y, int(u >> 18), int(v >> 18)});
      }
    }
    lx += left[ls].slope;
    rx += right[rs].slope;
    ++y;
    --lrows;
    --rrows;
    if (lrows == 0) {
      if (ls == leftCount - 1) break;
      ++ls;
      lx = left[ls].x;
      lrows = left[ls].rows;
      y = Int(M.Y);
    }
    if (rrows == 0) {
      if (rs == rightCount - 1) break;
      ++rs;
      rx = right[rs].x;
      rrows = right[rs].rows;
    }
  }
  return hits;
}

Hits QuadHits(const int* corners, int srcW, int srcH, const Area& area) {
  // The drawer first tests the widened box (smallest x and y - 2 .. largest + 4) against
  // DrawArea; the triangles' pixels all lie inside that box, so testing it against the area
  // instead removes exactly the quadrangles that would draw nothing.
  int64_t minX = corners[0], maxX = corners[0], minY = corners[1], maxY = corners[1];
  for (int i = 1; i < 4; ++i) {
    minX = std::min<int64_t>(minX, corners[2 * i]);
    maxX = std::max<int64_t>(maxX, corners[2 * i]);
    minY = std::min<int64_t>(minY, corners[2 * i + 1]);
    maxY = std::max<int64_t>(maxY, corners[2 * i + 1]);
  }
  if (maxX + 4 <= area.left || minX - 2 >= area.right || maxY + 4 <= area.top ||
      minY - 2 >= area.bottom)
    return {};
  const int v[4][4] = {{corners[0], corners[1], 0, 0},
                       {corners[2], corners[3], srcW, 0},
                       {corners[4], corners[5], 0, srcH},
                       {corners[6], corners[7], srcW, srcH}};
  Hits hits = PolygonHits(&v[0], srcW, srcH, area);    // top-left, top-right, bottom-left
  Hits second = PolygonHits(&v[1], srcW, srcH, area);  // top-right, bottom-left, bottom-right
  hits.insert(hits.end(), second.begin(), second.end());
  return hits;
}

// ---- Pixel, box, line ---------------------------------------------------------------------------

Hits PixelHits(int x, int y, const Area& area) {
  if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) return {};
  return {{x, y, -1, -1}};
}

Hits BoxHits(const int* rect, int dstW, int dstH, const Area& area) {
  int left = 0, top = 0, right = dstW, bottom = dstH;
  if (rect) {
    left = std::min(rect[0], rect[2]);
    right = std::max(rect[0], rect[2]);
    top = std::min(rect[1], rect[3]);
    bottom = std::max(rect[1], rect[3]);
  }
  // Each edge clamped into the area.
  auto clamp = [](int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); };
  left = clamp(left, area.left, area.right);
  right = clamp(right, area.left, area.right);
  top = clamp(top, area.top, area.bottom);
  bottom = clamp(bottom, area.top, area.bottom);
  Hits hits;
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) hits.push_back({x, y, -1, -1});
  return hits;
}

Hits LineHits(int x1, int y1, int x2, int y2, const Area& area) {
  const int L = area.left, T = area.top, R = area.right, B = area.bottom;
  if (Empty(area)) return {};
  if (std::min(y1, y2) > B - 1 || std::min(x1, x2) > R - 1 || std::max(y1, y2) < T ||
      std::max(x1, x2) < L)
    return {};
  // The line's two equations, from the end points as given.
  const double kx = y1 == y2 ? 0.0 : (double(x2) - double(x1)) / (double(y2) - double(y1));
  const double cx = double(x1) - kx * double(y1);
  const double ky = x1 == x2 ? 0.0 : (double(y2) - double(y1)) / (double(x2) - double(x1));
  const double cy = double(y1) - ky * double(x1);
  auto atX = [&](int x) { return Truncate(cy + ky * double(x)); };
  auto atY = [&](int y) { return Truncate(cx + kx * double(y)); };
  if (x1 < L) { x1 = L; y1 = atX(L); }
  else if (x1 >= R) { x1 = R - 1; y1 = atX(R - 1); }
  if (x2 < L) { x2 = L - 1; y2 = atX(L - 1); }
  else if (x2 >= R) { x2 = R; y2 = atX(R); }
  if (y1 < T) { y1 = T; x1 = atY(T); }
  else if (y1 >= B) { y1 = B - 1; x1 = atY(B - 1); }
  if (y2 < T) { y2 = T - 1; x2 = atY(T - 1); }
  else if (y2 >= B) { y2 = B; x2 = atY(B); }
  x1 = std::clamp(x1, L, R - 1);
  x2 = std::clamp(x2, L - 1, R);
  y1 = std::clamp(y1, T, B - 1);
  y2 = std::clamp(y2, T - 1, B);
  const int64_t spanX = std::abs(int64_t(x2) - x1), spanY = std::abs(int64_t(y2) - y1);
  const int xdir = x2 < x1 ? -1 : 1, ydir = y2 < y1 ? -1 : 1;
  Hits hits;
  // Pixel k of max(spanX, spanY): the major coordinate steps every pixel, the minor one by
  // floor(k * minor span / major span); the end point is not drawn.
  if (spanX >= spanY) {
    for (int64_t k = 0; k < spanX; ++k)
      hits.push_back({int(x1 + k * xdir), int(y1 + ydir * (k * spanY / spanX)), -1, -1});
  } else {
    for (int64_t k = 0; k < spanY; ++k)
      hits.push_back({int(x1 + xdir * (k * spanX / spanY)), int(y1 + k * ydir), -1, -1});
  }
  return hits;
}

// ---- Circles and ovals --------------------------------------------------------------------------

namespace {

constexpr int64_t kMaxRadius = 46340;

// Spans of a filled shape (each row drawn once: the first offer that reaches the area) and the
// points of an outline (each clipped alone), collected in drawing order.
struct Painter {
  const Area& area;
  Hits& hits;
  std::map<int64_t, bool> drawnRows;
  void Span(int64_t row, int64_t xl, int64_t xr) {
    if (row < area.top || row >= area.bottom || xr < area.left || xl >= area.right) return;
    if (drawnRows[row]) return;
    const int64_t a = std::max<int64_t>(xl, area.left), b = std::min<int64_t>(xr, area.right - 1);
    if (a > b) return;
    drawnRows[row] = true;
    for (int64_t x = a; x <= b; ++x) hits.push_back({int(x), int(row), -1, -1});
  }
  void Point(int64_t x, int64_t y) {
    if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) return;
    hits.push_back({int(x), int(y), -1, -1});
  }
};

}  // namespace

Hits CircleHits(int cx, int cy, int r, bool fill, const Area& area) {
  Hits hits;
  if (r < 0 || r > kMaxRadius || Empty(area)) return hits;
  Painter pt{area, hits, {}};
  int64_t x = 0, y = r, d = 3 - 2 * int64_t(r);
  do {
    if (fill) {
      pt.Span(int64_t(cy) + x, int64_t(cx) - y, int64_t(cx) + y);
      pt.Span(int64_t(cy) - x, int64_t(cx) - y, int64_t(cx) + y);
      if (d >= 0) {
        pt.Span(int64_t(cy) + y, int64_t(cx) - x, int64_t(cx) + x);
        pt.Span(int64_t(cy) - y, int64_t(cx) - x, int64_t(cx) + x);
      }
    } else if (x == 0) {
      pt.Point(int64_t(cx) - y, cy);
      pt.Point(int64_t(cx) + y, cy);
      pt.Point(cx, int64_t(cy) + y);
      pt.Point(cx, int64_t(cy) - y);
    } else {
      pt.Point(int64_t(cx) - y, int64_t(cy) + x);
      pt.Point(int64_t(cx) + y, int64_t(cy) + x);
      pt.Point(int64_t(cx) - y, int64_t(cy) - x);
      pt.Point(int64_t(cx) + y, int64_t(cy) - x);
      pt.Point(int64_t(cx) - x, int64_t(cy) + y);
      pt.Point(int64_t(cx) + x, int64_t(cy) + y);
      pt.Point(int64_t(cx) - x, int64_t(cy) - y);
      pt.Point(int64_t(cx) + x, int64_t(cy) - y);
    }
    if (d < 0) {
      d += 4 * x + 6;
    } else {
      d += 4 * (x - y) + 10;
      --y;
    }
    ++x;
  } while (x <= y);
  return hits;
}

namespace {

// The quarter-ellipse walk from (X, y) = (rx, 0) until X = 0.
struct OvalWalk {
  bool wide;
  int64_t rx, ry, X, y = 0, acc = 0, K, d1, d2;
  bool changedX = false, changedY = false;
  OvalWalk(int64_t a, int64_t b)
      : wide(a >= b), rx(a), ry(b), X(a), K(a >= b ? a * a / b : b * b / a), d1(3 - 2 * a),
        d2(3 - 4 * a) {}

  void Move() {
    changedX = changedY = false;
    if (wide) {
      if (d1 < 0) {  // vertical: y only on an overflow of the accumulator
        StepY();
        d2 += 4 * y;
        d1 += 4 * y + 2;
        return;
      }
      --X;
      changedX = true;
      if (d2 >= 0) {
        d1 -= 4 * X;
        d2 += 2 - 4 * X;
      } else {
        StepY();
        d1 += 4 * (y - X) + 2;
        d2 += 4 * (y - X) + 2;
      }
    } else {
      if (d1 < 0) {  // vertical
        ++y;
        changedY = true;
        d2 += 4 * y;
        d1 += 4 * y + 2;
        return;
      }
      acc += rx;  // X only on an overflow of the accumulator
      if (acc >= K) {
        --X;
        acc -= K;
        changedX = true;
      }
      if (d2 >= 0) {
        d1 -= 4 * X;
        d2 += 2 - 4 * X;
      } else {
        ++y;
        changedY = true;
        d1 += 4 * (y - X) + 2;
        d2 += 4 * (y - X) + 2;
      }
    }
  }
  void StepY() {
    acc += ry;
    if (acc >= K) {
      ++y;
      acc -= K;
      changedY = true;
    }
  }
  // Moves that change neither X nor y draw nothing; a run of them (wide: vertical moves without
  // an overflow; tall: horizontal ones without an overflow) is taken at once, then one Move().
  void Next() {
    int64_t n = 0;
    if (wide && d1 < 0) {
      // Vertical moves while d1 < 0 (d1 grows by 4y + 2) and acc + ry < K.
      const int64_t untilD1 = (-d1 + 4 * y + 1) / (4 * y + 2);  // moves until d1 >= 0
      const int64_t untilOverflow = (K - 1 - acc) / ry;           // moves without an overflow
      n = std::min(untilD1, untilOverflow);
      acc += n * ry;
      d2 += n * 4 * y;
      d1 += n * (4 * y + 2);
    } else if (!wide && d1 >= 0 && d2 >= 0) {
      // Horizontal moves while d1 >= 0 (falls by 4X), d2 >= 0 (falls by 4X - 2), acc + rx < K.
      n = std::min({d1 / (4 * X) + 1, d2 / (4 * X - 2) + 1, (K - 1 - acc) / rx});
      acc += n * rx;
      d1 -= n * 4 * X;
      d2 -= n * (4 * X - 2);
    }
    Move();
  }
};

}  // namespace

Hits OvalHits(int cx, int cy, int rx, int ry, bool fill, const Area& area) {
  Hits hits;
  if (rx == 0 || ry == 0 || Empty(area)) return hits;
  const int64_t a = rx < 0 ? -int64_t(rx) : rx, b = ry < 0 ? -int64_t(ry) : ry;
  if (a > kMaxRadius || b > kMaxRadius) return hits;
  Painter pt{area, hits, {}};
  OvalWalk w(a, b);
  const int64_t x0 = cx, y0 = cy;
  // X only falls and y only rises: once rows y0 +- y are both outside the area, or the columns
  // x0 +- X lie on one side of it, nothing more is drawn.
  auto done = [&] {
    return (y0 + w.y >= area.bottom && y0 - w.y < area.top) || x0 + w.X < area.left ||
           x0 - w.X >= area.right;
  };
  if (fill) {
    pt.Span(y0, x0 - a, x0 + a);
    w.Next();
    while (w.X > 0) {
      if (done()) return hits;
      if (w.changedY) {
        pt.Span(y0 + w.y, x0 - w.X, x0 + w.X);
        pt.Span(y0 - w.y, x0 - w.X, x0 + w.X);
      }
      w.Next();
    }
    pt.Span(y0 - w.y, x0 - w.X, x0 + w.X);
    pt.Span(y0 + w.y, x0 - w.X, x0 + w.X);
  } else {
    pt.Point(x0 - a, y0);
    pt.Point(x0 + a, y0);
    w.Next();
    while (w.X > 0) {
      if (done()) return hits;
      if (w.changedX || w.changedY) {
        pt.Point(x0 - w.X, y0 + w.y);
        pt.Point(x0 + w.X, y0 + w.y);
        pt.Point(x0 - w.X, y0 - w.y);
        pt.Point(x0 + w.X, y0 - w.y);
      }
      w.Next();
    }
    pt.Point(x0 + w.X, y0 - w.y);
    pt.Point(x0 - w.X, y0 + w.y);
  }
  return hits;
}

}  // namespace page
