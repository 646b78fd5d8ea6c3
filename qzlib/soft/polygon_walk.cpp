#include <qzlib/soft/polygon_walk.h>

#include <qzlib/base/mathutil.h>

namespace {

struct FixCorner {
  int32_t x, y;  // 14.18 with the half-pixel bias
  uint32_t u, v; // 14.18, wrapping
};

bool InCoordRange(int64_t v) { return v >= kPolygonCoordMin && v <= kPolygonCoordMax; }

// Index list 0, 1, 2 sorted by exchange on the given keys (signed); equal keys are not swapped at
// the moment of comparison.
void SortByExchange(const int32_t key[3], int order[3]) {
  order[0] = 0;
  order[1] = 1;
  order[2] = 2;
  for (int i = 0; i < 2; ++i)
    for (int j = i + 1; j < 3; ++j)
      if (key[order[i]] > key[order[j]]) {
        int t = order[i];
        order[i] = order[j];
        order[j] = t;
      }
}

// Integer part of a wrapped fixed-point difference.
int32_t WrappedDiffInt(uint32_t a, uint32_t b) {
  return PolygonFixInt(static_cast<int32_t>(a - b));
}

int32_t Gradient(int32_t numerator, int32_t d) {
  return DoubleToInt(static_cast<double>(numerator) * 262144.0 / static_cast<double>(d));
}

// 32-bit products and differences, wrapping.
int32_t CrossDiff(int32_t a, int32_t b, int32_t c, int32_t e) {
  uint32_t r = static_cast<uint32_t>(a) * static_cast<uint32_t>(b) -
               static_cast<uint32_t>(c) * static_cast<uint32_t>(e);
  return static_cast<int32_t>(r);
}

PolygonSegment Segment(int32_t xFrom, int32_t xTo, int32_t rows) {
  return PolygonSegment{xFrom, (xTo - xFrom) / rows, rows};
}

}  // namespace

bool SetUpPolygon(const MemImgVertex* vertices, bool textured, PolygonSetup* out) {
  for (int i = 0; i < 3; ++i) {
    if (!InCoordRange(vertices[i].x) || !InCoordRange(vertices[i].y)) return false;
    for (int j = i + 1; j < 3; ++j) {
      int64_t dx = int64_t(vertices[i].x) - vertices[j].x;
      int64_t dy = int64_t(vertices[i].y) - vertices[j].y;
      if (!InCoordRange(dx) || !InCoordRange(-dx) || !InCoordRange(dy) || !InCoordRange(-dy))
        return false;
    }
  }
  // Within that range the fixed X and Y and all their differences fit in int32.
  FixCorner c[3];
  int32_t keyX[3], keyY[3];
  for (int i = 0; i < 3; ++i) {
    c[i].x = vertices[i].x * kPolygonFixOne + 0x20000;
    c[i].y = vertices[i].y * kPolygonFixOne + 0x20000;
    c[i].u = static_cast<uint32_t>(vertices[i].u) << kPolygonFixShift;
    c[i].v = static_cast<uint32_t>(vertices[i].v) << kPolygonFixShift;
    keyX[i] = c[i].x;
    keyY[i] = c[i].y;
  }
  int ox[3], oy[3];
  SortByExchange(keyX, ox);
  SortByExchange(keyY, oy);

  // Gradients from the order by X: R the leftmost corner, P the rightmost, Q the middle one.
  const FixCorner& R = c[ox[0]];
  const FixCorner& Q = c[ox[1]];
  const FixCorner& P = c[ox[2]];
  int32_t dx1 = PolygonFixInt(P.x - R.x), dy1 = PolygonFixInt(P.y - R.y);
  int32_t dx2 = PolygonFixInt(Q.x - R.x), dy2 = PolygonFixInt(Q.y - R.y);
  int32_t d = CrossDiff(dy2, dx1, dy1, dx2);
  if (d == 0) return false;
  out->xRef = PolygonFixInt(R.x);
  out->yRef = PolygonFixInt(R.y);
  out->uRef = R.u;
  out->vRef = R.v;
  if (textured) {
    int32_t du1 = WrappedDiffInt(P.u, R.u), dv1 = WrappedDiffInt(P.v, R.v);
    int32_t du2 = WrappedDiffInt(Q.u, R.u), dv2 = WrappedDiffInt(Q.v, R.v);
    out->ux = Gradient(CrossDiff(dy2, du1, dy1, du2), d);
    out->uy = Gradient(CrossDiff(du2, dx1, dx2, du1), d);
    out->vx = Gradient(CrossDiff(dy2, dv1, dy1, dv2), d);
    out->vy = Gradient(CrossDiff(dv2, dx1, dv1, dx2), d);
  } else {
    out->ux = out->uy = out->vx = out->vy = 0;
  }

  // Sides from the order by Y: T top, M middle, B bottom.
  const FixCorner& T = c[oy[0]];
  const FixCorner& M = c[oy[1]];
  const FixCorner& B = c[oy[2]];
  out->yTop = PolygonFixInt(T.y);
  out->yMid = PolygonFixInt(M.y);
  PolygonSide& ls = out->left;
  PolygonSide& rs = out->right;
  if (T.y == M.y) {
    // Flat top: the corner further right starts the right side.
    const FixCorner& l = T.x > M.x ? M : T;
    const FixCorner& r = T.x > M.x ? T : M;
    ls.count = 1;
    ls.seg[0] = Segment(l.x, B.x, PolygonFixInt(B.y - l.y));
    rs.count = 1;
    rs.seg[0] = Segment(r.x, B.x, PolygonFixInt(B.y - r.y));
  } else if (M.y == B.y) {
    // Flat bottom: both sides start at the top corner.
    const FixCorner& l = M.x > B.x ? B : M;
    const FixCorner& r = M.x > B.x ? M : B;
    ls.count = 1;
    ls.seg[0] = Segment(T.x, l.x, PolygonFixInt(l.y - T.y));
    rs.count = 1;
    rs.seg[0] = Segment(T.x, r.x, PolygonFixInt(r.y - T.y));
  } else {
    int32_t rows1 = PolygonFixInt(M.y - T.y);
    int32_t rows2 = PolygonFixInt(B.y - M.y);
    int32_t rowsAll = PolygonFixInt(B.y - T.y);
    double s1 = static_cast<double>(M.x - T.x) / (static_cast<double>(M.y - T.y) * (1.0 / 262144.0));
    double s2 = static_cast<double>(B.x - T.x) / (static_cast<double>(B.y - T.y) * (1.0 / 262144.0));
    if (s1 < s2) {
      // Middle corner on the left.
      ls.count = 2;
      ls.seg[0] = Segment(T.x, M.x, rows1);
      ls.seg[1] = Segment(M.x, B.x, rows2);
      rs.count = 1;
      rs.seg[0] = Segment(T.x, B.x, rowsAll);
    } else {
      // Middle corner on the right; its lower segment starts one unit right of the corner.
      ls.count = 1;
      ls.seg[0] = Segment(T.x, B.x, rowsAll);
      rs.count = 2;
      rs.seg[0] = Segment(T.x, M.x, rows1);
      rs.seg[1] = Segment(M.x + 1, B.x, rows2);
    }
  }
  return true;
}
