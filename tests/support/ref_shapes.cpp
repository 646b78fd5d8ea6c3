#include "tests/support/ref_shapes.h"

#include <cstring>
#include <set>

namespace {

bool Inside(const RefShapeState& st, int64_t x, int64_t y) {
  return x >= st.left && x < st.right && y >= st.top && y < st.bottom;
}

// Collects visits; a filled shape's rows are drawn once each, by the first span that reaches the
// clip.
struct Collector {
  const RefShapeState& st;
  std::vector<RefVisit> out;
  std::set<int64_t> drawnRows;
  void Point(int64_t x, int64_t y) {
    if (Inside(st, x, y)) out.push_back({x, y});
  }
  void Span(int64_t row, int64_t xl, int64_t xr) {
    if (row < st.top || row >= st.bottom) return;
    if (xr < st.left || xl >= st.right) return;
    if (drawnRows.count(row)) return;
    bool any = false;
    for (int64_t x = xl; x <= xr; ++x)
      if (x >= st.left && x < st.right) { out.push_back({x, row}); any = true; }
    if (any) drawnRows.insert(row);
  }
};

}  // namespace

std::vector<RefVisit> RefCircleVisits(int64_t cx, int64_t cy, int64_t r, bool fill, const RefShapeState& st) {
  Collector c{st, {}, {}};
  int64_t x = 0, y = r, d = 3 - 2 * r;
  for (bool first = true; first || x <= y; first = false) {
    if (fill) {
      c.Span(cy + x, cx - y, cx + y);
      c.Span(cy - x, cx - y, cx + y);
      if (d >= 0) {
        c.Span(cy + y, cx - x, cx + x);
        c.Span(cy - y, cx - x, cx + x);
      }
    } else if (x == 0) {
      c.Point(cx - y, cy);
      c.Point(cx + y, cy);
      c.Point(cx, cy + y);
      c.Point(cx, cy - y);
    } else {
      const int64_t pts[8][2] = {{cx - y, cy + x}, {cx + y, cy + x}, {cx - y, cy - x}, {cx + y, cy - x},
                                 {cx - x, cy + y}, {cx + x, cy + y}, {cx - x, cy - y}, {cx + x, cy - y}};
      for (auto& p : pts) c.Point(p[0], p[1]);
    }
    if (d < 0) {
      d = d + 4 * x + 6;
    } else {
      d = d + 4 * (x - y) + 10;
      y = y - 1;
    }
    x = x + 1;
  }
  return c.out;
}

std::vector<RefVisit> RefOvalVisits(int64_t cx, int64_t cy, int64_t rx, int64_t ry, bool fill,
                                    const RefShapeState& st) {
  Collector c{st, {}, {}};
  if (rx == 0 || ry == 0) return c.out;
  if (rx < 0) rx = -rx;
  if (ry < 0) ry = -ry;
  const bool wide = rx >= ry;
  int64_t X = rx, y = 0, acc = 0, d1 = 3 - 2 * rx, d2 = 3 - 4 * rx;
  const int64_t K = wide ? (rx * rx) / ry : (ry * ry) / rx;
  bool xMoved = false, yMoved = false;
  auto move = [&]() {
    const int64_t oldX = X, oldY = y;
    if (wide) {
      if (d1 < 0) {
        acc += ry;
        if (acc >= K) { y += 1; acc -= K; }
        d2 += 4 * y;
        d1 += 4 * y + 2;
      } else {
        X -= 1;
        if (d2 >= 0) {
          d1 -= 4 * X;
          d2 += 2 - 4 * X;
        } else {
          acc += ry;
          if (acc >= K) { y += 1; acc -= K; }
          d1 += 4 * (y - X) + 2;
          d2 += 4 * (y - X) + 2;
        }
      }
    } else {
      if (d1 < 0) {
        y += 1;
        d2 += 4 * y;
        d1 += 4 * y + 2;
      } else {
        acc += rx;
        if (acc >= K) { X -= 1; acc -= K; }
        if (d2 >= 0) {
          d1 -= 4 * X;
          d2 += 2 - 4 * X;
        } else {
          y += 1;
          d1 += 4 * (y - X) + 2;
          d2 += 4 * (y - X) + 2;
        }
      }
    }
    xMoved = X != oldX;
    yMoved = y != oldY;
  };
  if (fill) {
    c.Span(cy, cx - rx, cx + rx);
    move();
    while (X > 0) {
      if (yMoved) {
        c.Span(cy + y, cx - X, cx + X);
        c.Span(cy - y, cx - X, cx + X);
      }
      move();
    }
    c.Span(cy - y, cx - X, cx + X);
    c.Span(cy + y, cx - X, cx + X);
  } else {
    c.Point(cx - rx, cy);
    c.Point(cx + rx, cy);
    move();
    while (X > 0) {
      if (xMoved || yMoved) {
        c.Point(cx - X, cy + y);
        c.Point(cx + X, cy + y);
        c.Point(cx - X, cy - y);
        c.Point(cx + X, cy - y);
      }
      move();
    }
    c.Point(cx + X, cy - y);
    c.Point(cx - X, cy + y);
  }
  return c.out;
}

uint32_t RefShapeTint(uint32_t colour, uint32_t bright, int format) {
  if (format == 0) colour &= 0xFFFF;
  if ((bright & 0xFFFFFF) == 0xFFFFFF) return colour;
  const uint32_t bb = bright & 0xFF, bg = (bright >> 8) & 0xFF, br = (bright >> 16) & 0xFF;
  if (format == 1) {
    uint32_t b = (colour & 0xFF) * bb / 256, g = ((colour >> 8) & 0xFF) * bg / 256,
             r = ((colour >> 16) & 0xFF) * br / 256;
    return (colour & 0xFF000000u) | r << 16 | g << 8 | b;
  }
  uint32_t b = (colour & 31) * bb / 256, g = ((colour >> 5) & 63) * bg / 256, r = ((colour >> 11) & 31) * br / 256;
  return r << 11 | g << 5 | b;
}

namespace {

// Fields of a pixel: 32-bit B, G, R, A bytes; 16-bit B5, G6, R5 (A unused).
struct Fields {
  int b, g, r, a;
};
Fields Split(int format, uint32_t v) {
  if (format == 1) return {int(v & 255), int((v >> 8) & 255), int((v >> 16) & 255), int(v >> 24)};
  return {int(v & 31), int((v >> 5) & 63), int((v >> 11) & 31), 0};
}
uint32_t Join(int format, Fields f) {
  if (format == 1) return uint32_t(f.a) << 24 | uint32_t(f.r) << 16 | uint32_t(f.g) << 8 | uint32_t(f.b);
  return uint32_t(f.r) << 11 | uint32_t(f.g) << 5 | uint32_t(f.b);
}
int FloorDiv256(int v) { return v >= 0 ? v / 256 : -((-v + 255) / 256); }
int Trunc255(int v) { return v / 255; }  // C++ division truncates toward zero

// The ALPHA-style move of d toward s: 32-bit weight p/256 rounded down, 16-bit p/255 toward d.
int Toward(int format, int d, int s, int p) {
  if (format == 1) return FloorDiv256(d * (256 - p) + s * p);
  return d + Trunc255(p * (s - d));
}

}  // namespace

uint32_t RefShapePixel(int format, int mode, int p, uint32_t colour, uint32_t dv) {
  const Fields s = Split(format, colour), d = Split(format, dv);
  Fields o = d;
  const int top = format == 1 ? 255 : 31, topG = format == 1 ? 255 : 63;
  switch (mode) {
    case 0:
      return format == 1 ? colour : (colour & 0xFFFF);
    case 1:
      o.b = Toward(format, d.b, s.b, p);
      o.g = Toward(format, d.g, s.g, p);
      o.r = Toward(format, d.r, s.r, p);
      break;
    case 10: {
      const Fields inv = {top - s.b, topG - s.g, top - s.r, 0};
      o.b = Toward(format, d.b, inv.b, p);
      o.g = Toward(format, d.g, inv.g, p);
      o.r = Toward(format, d.r, inv.r, p);
      break;
    }
    case 2: {  // packed saturating add, channel by channel
      const int sb = p * s.b / 255, sg = p * s.g / 255, sr = p * s.r / 255;
      const int cb = d.b + sb > top ? 1 : 0;
      o.b = cb ? top : d.b + sb;
      const int hg = (d.g >> 1) + (sg >> 1);
      const int cg = hg >= (topG + 1) / 2 ? 1 : 0;
      const int g0 = cb | (d.g & 1) | (sg & 1);
      if (format == 1) o.g = cg ? 255 : 2 * hg + g0;
      else o.g = cg ? 62 + g0 : 2 * hg + g0;
      const int hr = (d.r >> 1) + (sr >> 1);
      const int cr = hr >= (top + 1) / 2 ? 1 : 0;
      o.r = cr ? top : 2 * hr + (cg | (d.r & 1) | (sr & 1));
      o.a = cr;
      break;
    }
    case 3: {  // packed saturating subtract, channel by channel
      const int sb = p * s.b / 255, sg = p * s.g / 255, sr = p * s.r / 255;
      o.b = d.b >= sb ? d.b - sb : 0;
      const int b0 = d.b < sb ? 1 : 0;
      const bool gOk = (d.g >> 1) >= (sg >> 1);
      const int bg = gOk ? 0 : 1;
      const bool rOk = (d.r >> 1) >= (sr >> 1);
      if (format == 1) {
        o.g = gOk ? (d.g | 1) - (sg & 0xFE) - b0 : 0;
        o.r = rOk ? (d.r | 1) - (sr & 0xFE) - bg : 0;
      } else {
        o.g = gOk ? 2 * ((d.g >> 1) - (sg >> 1)) : 0;
        o.r = rOk ? (d.r | 1) - (sr & 0x1E) - bg : 0;
      }
      o.a = 0;
      break;
    }
    case 4:
      if (format == 1) {
        o.b = d.b * s.b / 256;
        o.g = d.g * s.g / 256;
        o.r = d.r * s.r / 256;
      } else {
        o.b = d.b * s.b / 32;
        o.g = d.g * s.g / 64;
        o.r = d.r * s.r / 32;
      }
      break;
    case 11: {
      const int div = format == 1 ? 256 : 32, divG = format == 1 ? 256 : 64;
      const int tb = d.b * s.b / div, tg = d.g * s.g / divG, tr = d.r * s.r / div;
      if (format == 1) {
        o.b = FloorDiv256(d.b * 256 + (tb - d.b) * p);
        o.g = FloorDiv256(d.g * 256 + (tg - d.g) * p);
        o.r = FloorDiv256(d.r * 256 + (tr - d.r) * p);
      } else {
        o.b = d.b + Trunc255(p * (tb - d.b));
        o.g = d.g + Trunc255(p * (tg - d.g));
        o.r = d.r + Trunc255(p * (tr - d.r));
      }
      break;
    }
    default:
      return dv;
  }
  return Join(format, o);
}

namespace {

void Apply(std::vector<uint8_t>& px, int width, int format, const RefShapeState& st,
           const std::vector<RefVisit>& visits, uint32_t colour) {
  int mode = st.mode;
  const int p = st.param;
  const bool known = mode == 0 || mode == 1 || mode == 2 || mode == 3 || mode == 4 || mode == 10 || mode == 11;
  if (!known) return;
  if ((mode == 1 || mode == 2 || mode == 3) && p == 0) return;
  if (mode == 1 && p == 255) mode = 0;
  const uint32_t c = RefShapeTint(colour, st.bright, format);
  const int bpp = format == 1 ? 4 : 2;
  for (const RefVisit& v : visits) {
    uint8_t* q = px.data() + (size_t(v.y) * width + size_t(v.x)) * bpp;
    uint32_t d = 0;
    std::memcpy(&d, q, bpp);
    const uint32_t n = RefShapePixel(format, mode, p, c, d);
    std::memcpy(q, &n, bpp);
  }
}

}  // namespace

void RefDrawCircle(std::vector<uint8_t>& px, int width, int format, const RefShapeState& st, int64_t cx,
                   int64_t cy, int64_t r, uint32_t colour, bool fill) {
  if (r < 0) return;
  Apply(px, width, format, st, RefCircleVisits(cx, cy, r, fill, st), colour);
}

void RefDrawOval(std::vector<uint8_t>& px, int width, int format, const RefShapeState& st, int64_t cx,
                 int64_t cy, int64_t rx, int64_t ry, uint32_t colour, bool fill) {
  Apply(px, width, format, st, RefOvalVisits(cx, cy, rx, ry, fill, st), colour);
}
