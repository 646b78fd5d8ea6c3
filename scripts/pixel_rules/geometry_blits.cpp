// Which pixels DrawMemImg, DrawExtendMemImg and DrawRotaMemImg visit, and the source texel each
// one shows, as docs/pixel-rules.md states it ("Which source pixel each blit shows").
#include <cmath>
#include <cstdint>
#include <utility>

#include "page_model.h"

namespace page {

namespace {

// The part of [from, to) inside [lo, hi), as a half-open range (empty when first >= last).
struct Span {
  int64_t first, last;
};
Span Inside(int64_t from, int64_t to, int64_t lo, int64_t hi) {
  return {from > lo ? from : lo, to < hi ? to : hi};
}

// ---- DrawRotaMemImg's numbers ----------------------------------------------------------------

// Truncation toward zero of a float; false when it does not fit a signed 32-bit integer (the
// drawer then draws nothing).
bool Trunc(float f, int32_t* out) {
  if (!(f > -2147483649.0f && f < 2147483648.0f)) return false;
  *out = int32_t(f);
  return true;
}

// trunc(float(sin or cos) * 262144.0f): the angle constants.
int32_t Fixed(double trig) {
  const float f = float(trig);
  return int32_t(f * 262144.0f);
}

// T(n / scale): the quotient taken in double precision, rounded once to a float, truncated.
bool Quotient(int64_t n, float scale, int32_t* out) {
  return Trunc(float(double(n) / double(scale)), out);
}

}  // namespace

// The source's top-left pixel at (x, y); destination pixel (X, Y) shows texel (X - x, Y - y).
Hits PlainHits(int srcW, int srcH, int x, int y, const Area& area) {
  Hits hits;
  const Span cols = Inside(x, int64_t(x) + srcW, area.left, area.right);
  const Span rows = Inside(y, int64_t(y) + srcH, area.top, area.bottom);
  for (int64_t Y = rows.first; Y < rows.last; ++Y)
    for (int64_t X = cols.first; X < cols.last; ++X)
      hits.push_back({int(X), int(Y), int(X - x), int(Y - y)});
  return hits;
}

Hits StretchHits(int srcW, int srcH, int left, int top, int right, int bottom, const Area& area) {
  // Each pair of edges put in order; swapping a pair mirrors that axis.
  int64_t l = left, r = right, t = top, b = bottom;
  const bool mirrorX = l > r, mirrorY = t > b;
  if (mirrorX) std::swap(l, r);
  if (mirrorY) std::swap(t, b);
  const int64_t width = r - l, height = b - t;
  if (width == 0 || height == 0 || srcW <= 0 || srcH <= 0) return {};
  // The source's own size, not mirrored: DrawMemImg at (left, top).
  if (width == srcW && height == srcH && !mirrorX && !mirrorY)
    return PlainHits(srcW, srcH, int(l), int(t), area);
  // Destination pixels per source pixel in 16.16. It is at least 2 for every source a MEMIMG can
  // hold (up to 32768 wide); 0 would draw nothing.
  const int64_t xscale = width * 65536 / srcW, yscale = height * 65536 / srcH;
  if (xscale == 0 || yscale == 0) return {};
  Hits hits;
  const Span cols = Inside(l, r, area.left, area.right);
  const Span rows = Inside(t, b, area.top, area.bottom);
  for (int64_t Y = rows.first; Y < rows.last; ++Y) {
    // Row k of the rectangle shows source row floor(k * 65536 / yscale), counted from the
    // bottom when mirrored; clipping does not move it.
    const int64_t sv = (Y - t) * 65536 / yscale;
    const int64_t v = mirrorY ? srcH - 1 - sv : sv;
    for (int64_t X = cols.first; X < cols.last; ++X) {
      const int64_t su = (X - l) * 65536 / xscale;
      const int64_t u = mirrorX ? srcW - 1 - su : su;
      hits.push_back({int(X), int(Y), int(u), int(v)});
    }
  }
  return hits;
}

Hits RotaHits(int srcW, int srcH, int cx, int cy, float angle, float scale, bool turn,
              const Area& area) {
  // Limits: a finite angle and a finite scale other than 0, a source of 1 to 16383 pixels each
  // way, a centre inside -8192 .. 8191.
  if (!std::isfinite(angle) || !std::isfinite(scale) || scale == 0.0f) return {};
  if (srcW <= 0 || srcH <= 0 || srcW >= 16384 || srcH >= 16384) return {};
  if (cx < -8192 || cx > 8191 || cy < -8192 || cy > 8191) return {};

  // Sine and cosine of -angle (for the inverse mapping) and of angle (corners, across step of
  // U), each a float, times 262144, truncated.
  const double na = -double(angle), pa = double(angle);
  const int32_t sn = Fixed(std::sin(na)), cn = Fixed(std::cos(na));
  const int32_t sf = Fixed(std::sin(pa)), cf = Fixed(std::cos(pa));

  // Corners of the turned rectangle in 14.18, float arithmetic step by step.
  const float hw = float(srcW) * scale * 0.5f, hh = float(srcH) * scale * 0.5f;
  const float hc = hw * float(cf), hs = hw * float(sf);
  const float vc = hh * float(cf), vs = hh * float(sf);
  const float offX[4] = {vs - hc, -hc - vs, hc - vs, hc + vs};  // top-left, bottom-left,
  const float offY[4] = {-vc - hs, vc - hs, vc + hs, hs - vc};  // bottom-right, top-right
  int32_t X[4], Y[4];
  for (int k = 0; k < 4; ++k) {
    int32_t ox, oy;
    if (!Trunc(offX[k], &ox) || !Trunc(offY[k], &oy)) return {};
    const int64_t xk = int64_t(cx) * 262144 + ox, yk = int64_t(cy) * 262144 + oy;
    if (xk < INT32_MIN || xk > INT32_MAX || yk < INT32_MIN || yk > INT32_MAX) return {};
    X[k] = int32_t(xk);
    Y[k] = int32_t(yk);
  }
  const int32_t one = 262144;  // whole pixels: C++ division truncates toward zero

  if (turn) {
    // Mirrored: DrawQuadMemImg with corners 3, 0, 2, 1, which receive the source's top-left,
    // top-right, bottom-left and bottom-right corners.
    const int q[8] = {X[3] / one, Y[3] / one, X[0] / one, Y[0] / one,
                      X[2] / one, Y[2] / one, X[1] / one, Y[1] / one};
    return QuadHits(q, srcW, srcH, area);
  }

  // Bounding box: 2 pixels more on the left and top, 4 on the right and bottom; clipped.
  int32_t minX = X[0], maxX = X[0], minY = Y[0], maxY = Y[0];
  for (int k = 1; k < 4; ++k) {
    minX = X[k] < minX ? X[k] : minX;
    maxX = X[k] > maxX ? X[k] : maxX;
    minY = Y[k] < minY ? Y[k] : minY;
    maxY = Y[k] > maxY ? Y[k] : maxY;
  }
  const Span cols = Inside(int64_t(minX / one) - 2, int64_t(maxX / one) + 4, area.left, area.right);
  const Span rows = Inside(int64_t(minY / one) - 2, int64_t(maxY / one) + 4, area.top, area.bottom);
  if (cols.first >= cols.last || rows.first >= rows.last) return {};
  const int64_t left = cols.first, top = rows.first, bottom = rows.last;
  const int32_t nRows = int32_t(rows.last - rows.first);

  // Inverse mapping at the box's top-left pixel and at the left pixel of the row below the box.
  const int64_t kx = left - cx, kt = top - cy, kb = bottom - cy;
  const uint32_t u0 = uint32_t(srcW >> 1) << 18, v0 = uint32_t(srcH >> 1) << 18;
  int32_t qut, qvt, qub, qvb, dux, dvx;
  if (!Quotient(kx * cn - kt * sn, scale, &qut) || !Quotient(kx * sn + kt * cn, scale, &qvt) ||
      !Quotient(kx * cn - kb * sn, scale, &qub) || !Quotient(kx * sn + kb * cn, scale, &qvb) ||
      !Quotient(cf, scale, &dux) || !Quotient(sn, scale, &dvx))
    return {};
  const uint32_t ut = u0 + uint32_t(qut), vt = v0 + uint32_t(qvt);
  const uint32_t ub = u0 + uint32_t(qub), vb = v0 + uint32_t(qvb);
  const int32_t duy = int32_t(ub - ut) / nRows, dvy = int32_t(vb - vt) / nRows;

  // Scan: U and V wrap modulo 2^32; a pixel is drawn when both, unsigned, lie inside the source.
  const uint32_t uLimit = uint32_t(srcW) << 18, vLimit = uint32_t(srcH) << 18;
  Hits hits;
  for (int64_t j = 0; j < nRows; ++j) {
    const uint32_t rowU = ut + uint32_t(j) * uint32_t(duy), rowV = vt + uint32_t(j) * uint32_t(dvy);
    for (int64_t i = 0; i < cols.last - cols.first; ++i) {
      const uint32_t U = rowU + uint32_t(i) * uint32_t(dux), V = rowV + uint32_t(i) * uint32_t(dvx);
      if (U >= uLimit || V >= vLimit) continue;
      hits.push_back({int(left + i), int(top + j), int(U >> 18), int(V >> 18)});
    }
  }
  return hits;
}

}  // namespace page
