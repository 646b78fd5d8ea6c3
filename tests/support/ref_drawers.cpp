#include "tests/support/ref_drawers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit_simd.h>

namespace {

bool Valid(const MEMIMG* m) { return m && m->Magic == MEMIMG_MAGIC && m->Base && m->Pixels; }

int BytesPerPixel(const MEMIMG* m) {
  const MemImgBase* b = m->Base;
  if (b->PaletteFlag) return 1;
  if (b->Format == 0) return b->AlphaFlag ? 4 : 2;
  if (b->Format == 1) return 4;
  return b->Format == 2 ? 1 : 2;
}

uint8_t* At(const MEMIMG* m, int64_t x, int64_t y) {
  return m->Pixels + y * m->Base->Pitch + x * BytesPerPixel(m);
}

uint32_t Read(const MEMIMG* m, int64_t x, int64_t y) {
  const uint8_t* p = At(m, x, y);
  int n = BytesPerPixel(m);
  uint32_t v = 0;
  std::memcpy(&v, p, n);
  return v;
}

void Write(const MEMIMG* m, int64_t x, int64_t y, uint32_t v, int bytes) {
  std::memcpy(At(m, x, y), &v, bytes);
}

int SrcKind(const MEMIMG* src) {
  return src->Base->PaletteFlag ? REF_SRC_PAL
         : src->Base->AlphaFlag ? REF_SRC_ALPHA
                                : REF_SRC_DIRECT;
}

// DrawArea limited to the destination.
RECT AreaIn(const RECT& a, const MEMIMG* dst) {
  RECT r{std::max(a.left, 0), std::max(a.top, 0), std::min(a.right, dst->Width),
         std::min(a.bottom, dst->Height)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

// The checks every textured drawer of this family makes before drawing.
bool TexturedCallDraws(const RefFamily& fam, const RefState& st, const MEMIMG* dst,
                       const MEMIMG* src, const MEMIMG* graph) {
  if (!Valid(dst) || !Valid(src)) return false;
  const MemImgBase* d = dst->Base;
  if (src->Base->Format != d->Format || d->PaletteFlag || d->AlphaFlag) return false;
  if (d->Format != 0 && d->Format != 1) return false;
  if (graph && (graph->Width < src->Width || graph->Height < src->Height)) return false;
  return RefCallDraws(fam, st, SrcKind(src));
}

// Draws source pixel (sx, sy) onto destination pixel (dx, dy).
void DrawTexel(const RefFamily& fam, const RefState& st, MEMIMG* dst, const MEMIMG* src, int64_t dx,
               int64_t dy, int64_t sx, int64_t sy, int trans, const MEMIMG* graph,
               const uint8_t* graphTable) {
  RefPixelIn in;
  in.dst16 = dst->Base->Format == 0;
  in.srcKind = SrcKind(src);
  in.src = Read(src, sx, sy);
  in.palette = src->Base->Palette;
  in.key = src->Base->TransColor;
  in.trans = trans ? 1 : 0;
  in.graph = graph != nullptr;
  if (graph) in.t = graphTable[graph->Pixels[sy * graph->Base->Pitch + sx]];
  const int bytes = in.dst16 ? 2 : 4;
  Write(dst, dx, dy, RefPixel(fam, st, in, Read(dst, dx, dy)), bytes);
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b) != 0 && ((a < 0) != (b < 0))) --q;
  return q;
}

// Truncation of a float toward zero; false when it does not fit 32 bits.
bool Trunc(double f, int32_t* out) {
  if (!(f > -2147483649.0 && f < 2147483648.0)) return false;
  *out = static_cast<int32_t>(f);
  return true;
}

}  // namespace

RefFamily RefFamilyStretch() {
  RefFamily f;
  f.mmxSub = true;
  f.keyLow16InPlainCopy = true;
  return f;
}

RefFamily RefFamilyRota() {
  RefFamily f;  // the whole key everywhere
  return f;
}

void RefDrawExtendMemImg(const RefState& st, const RECT& drawArea, MEMIMG* dst, const MEMIMG* src,
                         const RECT& rect, int trans, const MEMIMG* graph,
                         const uint8_t* graphTable) {
  const RefFamily fam = RefFamilyStretch();
  if (!TexturedCallDraws(fam, st, dst, src, graph)) return;
  int64_t l = rect.left, r = rect.right, t = rect.top, b = rect.bottom;
  const bool mx = l > r, my = t > b;
  if (mx) std::swap(l, r);
  if (my) std::swap(t, b);
  if (l == r || t == b) return;
  const int64_t W = src->Width, H = src->Height;
  const int64_t xscale = (r - l) * 65536 / W, yscale = (b - t) * 65536 / H;
  const RECT a = AreaIn(drawArea, dst);
  for (int64_t y = std::max<int64_t>(t, a.top); y < std::min<int64_t>(b, a.bottom); ++y) {
    int64_t sy = (y - t) * 65536 / yscale;
    if (my) sy = H - 1 - sy;
    for (int64_t x = std::max<int64_t>(l, a.left); x < std::min<int64_t>(r, a.right); ++x) {
      int64_t sx = (x - l) * 65536 / xscale;
      if (mx) sx = W - 1 - sx;
      DrawTexel(fam, st, dst, src, x, y, sx, sy, trans, graph, graphTable);
    }
  }
}

void RefDrawRotaMemImg(const RefState& st, const RECT& drawArea, MEMIMG* dst, const MEMIMG* src,
                       int x, int y, float angle, float scale, int trans, const MEMIMG* graph,
                       const uint8_t* graphTable) {
  const RefFamily fam = RefFamilyRota();
  if (!TexturedCallDraws(fam, st, dst, src, graph)) return;
  if (!std::isfinite(angle) || !std::isfinite(scale) || scale == 0.0f) return;
  const int64_t W = src->Width, H = src->Height;
  if (W >= 16384 || H >= 16384 || x < -8192 || x > 8191 || y < -8192 || y > 8191) return;
  const double one = 262144.0;
  float s, c;
  SinCos(-angle, &s, &c);
  const int32_t Sn = static_cast<int32_t>(float(s * one)),
                Cn = static_cast<int32_t>(float(c * one));
  SinCos(angle, &s, &c);
  const int32_t Sf = static_cast<int32_t>(float(s * one)),
                Cf = static_cast<int32_t>(float(c * one));
  const float hw = float(double(W) * double(scale) * 0.5);
  const float hh = float(double(H) * double(scale) * 0.5);
  const float hc = hw * float(Cf), hs = hw * float(Sf), vc = hh * float(Cf), vs = hh * float(Sf);
  const float offX[4] = {vs - hc, -hc - vs, hc - vs, hc + vs};
  const float offY[4] = {-vc - hs, vc - hs, vc + hs, hs - vc};
  int64_t cx[4], cy[4];
  for (int i = 0; i < 4; ++i) {
    int32_t ox, oy;
    if (!Trunc(offX[i], &ox) || !Trunc(offY[i], &oy)) return;
    cx[i] = int64_t(x) * 262144 + ox;
    cy[i] = int64_t(y) * 262144 + oy;
    if (cx[i] < INT32_MIN || cx[i] > INT32_MAX || cy[i] < INT32_MIN || cy[i] > INT32_MAX) return;
  }
  // Bounding box in whole pixels (truncation toward zero), then clipped.
  RECT box{int32_t(*std::min_element(cx, cx + 4) / 262144 - 2),
           int32_t(*std::min_element(cy, cy + 4) / 262144 - 2),
           int32_t(*std::max_element(cx, cx + 4) / 262144 + 4),
           int32_t(*std::max_element(cy, cy + 4) / 262144 + 4)};
  const RECT a = AreaIn(drawArea, dst);
  RectClipping(&box, &a);
  const int64_t cols = box.right - box.left, rows = box.bottom - box.top;
  if (cols <= 0 || rows <= 0) return;
  const int64_t kx = box.left - x, kt = box.top - y, kb = box.bottom - y;
  auto q = [&](int64_t num, int32_t* out) {
    return Trunc(float(double(num) / double(scale)), out);
  };
  int32_t qut, qvt, qub, qvb, dux, dvx;
  if (!q(kx * Cn - kt * Sn, &qut) || !q(kx * Sn + kt * Cn, &qvt) || !q(kx * Cn - kb * Sn, &qub) ||
      !q(kx * Sn + kb * Cn, &qvb) || !q(Cf, &dux) || !q(Sn, &dvx))
    return;
  const uint32_t u0 = uint32_t(W / 2) * 262144u, v0 = uint32_t(H / 2) * 262144u;
  const uint32_t ut = u0 + uint32_t(qut), vt = v0 + uint32_t(qvt);
  const uint32_t ub = u0 + uint32_t(qub), vb = v0 + uint32_t(qvb);
  const int32_t duy = int32_t(int64_t(int32_t(ub - ut)) / rows);
  const int32_t dvy = int32_t(int64_t(int32_t(vb - vt)) / rows);
  for (int64_t j = 0; j < rows; ++j) {
    for (int64_t i = 0; i < cols; ++i) {
      uint32_t U = ut + uint32_t(j) * uint32_t(duy) + uint32_t(i) * uint32_t(dux);
      uint32_t V = vt + uint32_t(j) * uint32_t(dvy) + uint32_t(i) * uint32_t(dvx);
      if (U >= uint32_t(W) * 262144u || V >= uint32_t(H) * 262144u) continue;
      DrawTexel(fam, st, dst, src, box.left + i, box.top + j, U / 262144, V / 262144, trans, graph,
                graphTable);
    }
  }
}

bool RefFlatCallDraws(const RefState& st) {
  const int m = st.blendMode, p = st.blendParam;
  if (!(m >= 0 && m <= 4) && m != 10 && m != 11) return false;
  if ((m == 1 || m == 2 || m == 3) && p == 0) return false;
  return true;
}

uint32_t RefFlatPixel(const RefState& st, int dst16, uint32_t colour, uint32_t d) {
  const int64_t p = st.blendParam;
  const bool tint = (st.bright & 0xFFFFFF) != 0xFFFFFF;
  int mode = st.blendMode;
  if (mode == 1 && p == 255) mode = 0;
  const int bits[3] = {dst16 ? 5 : 8, dst16 ? 6 : 8, dst16 ? 5 : 8};
  const int shift[3] = {0, dst16 ? 5 : 8, dst16 ? 11 : 16};
  auto ch = [&](uint32_t v, int k) { return int64_t((v >> shift[k]) & ((1u << bits[k]) - 1)); };
  if (dst16) {
    colour &= 0xFFFF;
    d &= 0xFFFF;
  }
  // Tint: each channel times its bright byte, divided by 256; the spare byte stays.
  uint32_t c = dst16 ? 0 : (colour & 0xFF000000u);
  for (int k = 0; k < 3; ++k) {
    int64_t v = ch(colour, k);
    if (tint) v = (v * ((st.bright >> (8 * k)) & 0xFF)) >> 8;
    c |= uint32_t(v) << shift[k];
  }
  int64_t cc[3], dd[3], out[3];
  for (int k = 0; k < 3; ++k) {
    cc[k] = ch(c, k);
    dd[k] = ch(d, k);
  }
  const uint32_t keepX = dst16 ? 0 : (d & 0xFF000000u);
  auto compose = [&](uint32_t high) {
    uint32_t r = high;
    for (int k = 0; k < 3; ++k) r |= uint32_t(out[k]) << shift[k];
    return r;
  };
  // The mix toward a target with p as the only weight.
  auto mixP = [&](int64_t target, int k) {
    if (dst16) return dd[k] + (p * (target - dd[k])) / 255;  // truncation toward zero
    return FloorDiv(dd[k] * 256 + (target - dd[k]) * p, 256);
  };
  switch (mode) {
    case 0:
      return c;  // the whole word (32-bit), spare byte included
    case 1:
      for (int k = 0; k < 3; ++k) out[k] = mixP(cc[k], k);
      return compose(keepX);
    case 10:
      for (int k = 0; k < 3; ++k) out[k] = mixP(((1 << bits[k]) - 1) - cc[k], k);
      return compose(keepX);
    case 4:
      for (int k = 0; k < 3; ++k) out[k] = (cc[k] * dd[k]) >> bits[k];
      return compose(keepX);
    case 11:
      for (int k = 0; k < 3; ++k) out[k] = mixP((cc[k] * dd[k]) >> bits[k], k);
      return compose(keepX);
    case 2:
    case 3: {
      int64_t A[3];
      for (int k = 0; k < 3; ++k) A[k] = p * cc[k] / 255;
      if (mode == 2) {
        // Blue exact with saturation; green and red add their upper bits, saturate, and take as
        // lowest bit the OR of both lowest bits and of the overflow of the channel below.
        int64_t blue = A[0] + dd[0];
        const int64_t bmax = dst16 ? 31 : 255;
        bool over = blue > bmax;
        out[0] = over ? bmax : blue;
        for (int k = 1; k < 3; ++k) {
          const int64_t upperMax = ((1 << bits[k]) - 1) >> 1;
          int64_t up = (A[k] >> 1) + (dd[k] >> 1);
          bool o = up > upperMax;
          int64_t low = ((A[k] | dd[k]) & 1) | (over ? 1 : 0);
          if (!o)
            out[k] = (up << 1) | low;
          else if (dst16 && k == 1)
            out[k] = (upperMax << 1) | low;
          else
            out[k] = (1 << bits[k]) - 1;
          over = o;
        }
        return compose(dst16 ? 0 : (over ? 0x01000000u : 0));
      }
      if (!dst16) {
        int64_t blue = dd[0] - A[0];
        bool borrow = blue < 0;
        out[0] = borrow ? 0 : blue;
        for (int k = 1; k < 3; ++k) {
          int64_t v = (dd[k] | 1) - (A[k] & 0xFE) - (borrow ? 1 : 0);
          borrow = v < 0;
          out[k] = borrow ? 0 : v;
        }
        return compose(0);
      }
      int64_t blue = dd[0] - A[0];
      out[0] = blue < 0 ? 0 : blue;
      int64_t g = (dd[1] >> 1) - (A[1] >> 1);
      out[1] = g < 0 ? 0 : (g << 1);
      int64_t r = (dd[2] >> 1) - (A[2] >> 1);
      out[2] = r < 0 ? 0 : ((r << 1) | (g >= 0 ? 1 : 0));
      return compose(0);
    }
  }
  return d;
}

namespace {
bool FlatTargetOk(const MEMIMG* dst, bool alphaAllowed) {
  if (!Valid(dst)) return false;
  const MemImgBase* b = dst->Base;
  if (b->PaletteFlag) return false;
  if (b->AlphaFlag && !alphaAllowed) return false;
  return b->Format == 0 || b->Format == 1;
}
void FlatAt(const RefState& st, MEMIMG* dst, int64_t x, int64_t y, uint32_t colour) {
  const int dst16 = dst->Base->Format == 0;
  uint32_t old = Read(dst, x, y);
  uint32_t v = RefFlatPixel(st, dst16, colour, old);
  // A 16-bit destination writes its low 16 bits only (an alpha destination keeps its alpha).
  Write(dst, x, y, v, dst16 ? 2 : 4);
}
}  // namespace

void RefDrawPixel(const RefState& st, const RECT& drawArea, MEMIMG* dst, int x, int y,
                  uint32_t colour) {
  if (!FlatTargetOk(dst, false) || !RefFlatCallDraws(st)) return;
  const RECT a = AreaIn(drawArea, dst);
  if (x < a.left || x >= a.right || y < a.top || y >= a.bottom) return;
  FlatAt(st, dst, x, y, colour);
}

void RefDrawFillBox(const RefState& st, const RECT& drawArea, MEMIMG* dst, const RECT* rect,
                    uint32_t colour) {
  if (!FlatTargetOk(dst, false) || !RefFlatCallDraws(st)) return;
  RECT r{0, 0, dst->Width, dst->Height};
  if (rect)
    r = {std::min(rect->left, rect->right), std::min(rect->top, rect->bottom),
         std::max(rect->left, rect->right), std::max(rect->top, rect->bottom)};
  const RECT a = AreaIn(drawArea, dst);
  for (int64_t y = std::max(r.top, a.top); y < std::min(r.bottom, a.bottom); ++y)
    for (int64_t x = std::max(r.left, a.left); x < std::min(r.right, a.right); ++x)
      FlatAt(st, dst, x, y, colour);
}

int RefLinePoints(const RECT& a, int x1, int y1, int x2, int y2, RefPoint* out, int max) {
  const int L = a.left, T = a.top, R = a.right, B = a.bottom;
  if (L >= R || T >= B) return 0;
  if (std::min(y1, y2) > B - 1 || std::min(x1, x2) > R - 1 || std::max(y1, y2) < T ||
      std::max(x1, x2) < L)
    return 0;
  const double kx = y1 == y2 ? 0.0 : (double(x2) - x1) / (double(y2) - y1);
  const double cx = x1 - kx * y1;
  const double ky = x1 == x2 ? 0.0 : (double(y2) - y1) / (double(x2) - x1);
  const double cy = y1 - ky * x1;
  if (x1 < L) {
    x1 = L;
    y1 = DoubleToInt(cy + ky * L);
  } else if (x1 >= R) {
    x1 = R - 1;
    y1 = DoubleToInt(cy + ky * (R - 1));
  }
  if (x2 < L) {
    x2 = L - 1;
    y2 = DoubleToInt(cy + ky * (L - 1));
  } else if (x2 >= R) {
    x2 = R;
    y2 = DoubleToInt(cy + ky * R);
  }
  if (y1 < T) {
    y1 = T;
    x1 = DoubleToInt(cx + kx * T);
  } else if (y1 >= B) {
    y1 = B - 1;
    x1 = DoubleToInt(cx + kx * (B - 1));
  }
  if (y2 < T) {
    y2 = T - 1;
    x2 = DoubleToInt(cx + kx * (T - 1));
  } else if (y2 >= B) {
    y2 = B;
    x2 = DoubleToInt(cx + kx * B);
  }
  x1 = std::clamp(x1, L, R - 1);
  x2 = std::clamp(x2, L - 1, R);
  y1 = std::clamp(y1, T, B - 1);
  y2 = std::clamp(y2, T - 1, B);
  const int64_t sx = std::abs(int64_t(x2) - x1), sy = std::abs(int64_t(y2) - y1);
  const int xd = x2 < x1 ? -1 : 1, yd = y2 < y1 ? -1 : 1;
  int n = 0;
  // Pixel k of the walk: the major coordinate steps every pixel, the minor one late.
  if (sx >= sy) {
    for (int64_t k = 0; k < sx && n < max; ++k)
      out[n++] = {int(x1 + k * xd), int(y1 + yd * (k * sy / sx))};
  } else {
    for (int64_t k = 0; k < sy && n < max; ++k)
      out[n++] = {int(x1 + xd * (k * sx / sy)), int(y1 + k * yd)};
  }
  return n;
}

void RefDrawLine(const RefState& st, const RECT& drawArea, MEMIMG* dst, int x1, int y1, int x2,
                 int y2, uint32_t colour) {
  if (!FlatTargetOk(dst, true) || !RefFlatCallDraws(st)) return;
  static RefPoint pts[1 << 16];
  int n = RefLinePoints(AreaIn(drawArea, dst), x1, y1, x2, y2, pts, 1 << 16);
  for (int i = 0; i < n; ++i) FlatAt(st, dst, pts[i].x, pts[i].y, colour);
}

// ---- Random cases
// --------------------------------------------------------------------------------
namespace {
template <class T>
T Pick(std::mt19937& rng, std::initializer_list<T> xs) {
  return *(xs.begin() + rng() % xs.size());
}
}  // namespace

std::unique_ptr<GuardedSurface> MakeRandomSource(std::mt19937& rng, int fmt, int kind, int w,
                                                 int h) {
  SurfaceDesc ss;
  ss.width = w;
  ss.height = h;
  ss.format = fmt;
  ss.palette = kind == REF_SRC_PAL;
  ss.alpha = kind == REF_SRC_ALPHA;
  ss.extraPitch = rng() % 9;
  auto src = std::make_unique<GuardedSurface>(ss, rng());
  uint32_t key;
  if (kind == REF_SRC_PAL)
    key = rng() % 6 == 0 ? 256 + rng() % 100 : rng() % 256;
  else
    key = src->get(rng() % w, rng() % h);
  if (kind == REF_SRC_DIRECT && rng() % 4 == 0) key ^= fmt == 1 ? 0x01000000u : 0x00010000u;
  src->base()->TransColor = key;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int r = rng() % 4;
      if (kind == REF_SRC_ALPHA) {
        uint32_t v = src->get(x, y);
        uint32_t a = r == 0 ? 0 : r == 1 ? 255 : (rng() & 0xFF);
        v = fmt == 1 ? ((v & 0x00FFFFFF) | (a << 24)) : ((v & 0xFF00FFFF) | (a << 16));
        src->set(x, y, v);
      } else if (r == 0) {
        src->set(x, y, key);
      }
    }
  return src;
}

std::unique_ptr<GuardedSurface> MakeRandomBlendGraph(std::mt19937& rng, int w, int h) {
  SurfaceDesc gs;
  gs.format = 2;
  gs.width = std::max(1, w + (rng() % 10 == 0 ? -1 : int(rng() % 3)));
  gs.height = std::max(1, h + (rng() % 10 == 0 ? -1 : int(rng() % 3)));
  gs.extraPitch = rng() % 5;
  auto g = std::make_unique<GuardedSurface>(gs, rng());
  MakeMemImgBlendGraphTable(Pick(rng, {0, 1, 64, 128, 200, 255, int(rng() % 256)}),
                            Pick(rng, {0, 1, 255, int(rng() % 256)}));
  return g;
}

RefState RandomDrawState(std::mt19937& rng) {
  DrawBlendMode =
      rng() % 12 == 0 ? Pick(rng, {5, 7, 9, 12, -1, 255}) : Pick(rng, {0, 1, 2, 3, 4, 10, 11});
  DrawBlendParam = Pick(rng, {0, 1, 2, 127, 128, 129, 200, 254, 255, 255, int(rng() % 256)});
  DrawBright =
      Pick(rng, {0xFFFFFFu, 0xFFFFFFu, 0xFFFFFFFFu, 0xFFFFFEu, 0u, 0x808080u, uint32_t(rng())});
  MmxUsableFlag = rng() % 2;
  RefState st;
  st.blendMode = DrawBlendMode;
  st.blendParam = DrawBlendParam;
  st.bright = DrawBright;
  st.mmx = MmxUsableFlag;
  return st;
}

RECT RandomArea(std::mt19937& rng, int w, int h) {
  if (rng() % 3 == 0) return RECT{0, 0, w, h};
  int l = rng() % w, t = rng() % h;
  return RECT{l, t, l + 1 + int(rng() % (w - l)), t + 1 + int(rng() % (h - t))};
}

void DrawerTest::SetUpTestSuite() { InitMemImgBlendTable(); }

void DrawerTest::ResetDrawState() {
  DrawBlendMode = 0;
  DrawBlendParam = 255;
  DrawBright = 0xFFFFFF;
  MmxUsableFlag = 1;
  SoftForceGenericPath = 0;
}

std::string CompareDraws(GuardedSurface& fast, GuardedSurface& ref, GuardedSurface& generic,
                         const std::vector<uint8_t>& before, bool* drew) {
  const int w = fast.img()->Width, bpp = fast.bytesPerPixel();
  const std::vector<uint8_t> f = fast.Snapshot();
  std::string diff = FirstDifference(f, ref.Snapshot(), w, bpp);
  if (!diff.empty()) return "fast vs reference at " + diff;
  diff = FirstDifference(generic.Snapshot(), f, w, bpp);
  if (!diff.empty()) return "generic vs specialised at " + diff;
  if (!fast.CheckGuards() || !generic.CheckGuards()) return "guard band overwritten";
  *drew = f != before;
  return "";
}

void RunSeededCases(uint32_t count, uint32_t minDrawn,
                    const std::function<std::string(uint32_t seed, bool* drew)>& runCase) {
  int failures = 0;
  uint32_t drawn = 0;
  for (uint32_t seed = 1; seed <= count && failures < 5; ++seed) {
    bool drew = false;
    std::string f = runCase(seed, &drew);
    if (!f.empty()) {
      ADD_FAILURE() << "seed " << seed << ": " << f;
      ++failures;
    }
    drawn += drew ? 1 : 0;
  }
  EXPECT_GT(drawn, minDrawn) << "too few random cases drew anything";
}

RandomTarget::RandomTarget(std::mt19937& rng, int fmt, int maxW, int maxH, bool withGraph, int srcW,
                           int srcH) {
  SurfaceDesc ds;
  ds.width = 1 + rng() % maxW;
  ds.height = 1 + rng() % maxH;
  ds.format = rng() % 40 == 0 ? 1 - fmt : fmt;
  ds.palette = rng() % 60 == 0;
  ds.alpha = rng() % 30 == 0;
  ds.extraPitch = rng() % 9;
  const uint32_t seed = rng();
  fast = std::make_unique<GuardedSurface>(ds, seed);
  ref = std::make_unique<GuardedSurface>(ds, seed);
  generic = std::make_unique<GuardedSurface>(ds, seed);
  if (withGraph) graph = MakeRandomBlendGraph(rng, srcW, srcH);
  st = RandomDrawState(rng);
  trans = rng() % 3 ? 1 : 0;
  area = RandomArea(rng, ds.width, ds.height);
  if (rng() % 10 == 0) area = {-3, -2, ds.width + 7, ds.height + 5};
  if (rng() % 30 == 0) area.right = area.left;
  DrawArea = area;
  before = fast->Snapshot();
}

std::string RandomTarget::DrawAndCompare(const std::function<void(MEMIMG* dst)>& draw, bool* drew,
                                         bool sse2) {
  PlainSimdForceSse2 = sse2 ? 1 : 0;
  draw(fast->img());
  PlainSimdForceSse2 = 0;
  SoftForceGenericPath = 1;
  draw(generic->img());
  SoftForceGenericPath = 0;
  return CompareDraws(*fast, *ref, *generic, before, drew);
}
