// Which pixels DrawMemImg, DrawExtendMemImg and DrawRotaMemImg visit and the texel each shows,
// read off docs/pixel-rules.md, "Which source pixel each blit shows", step by step and in its
// names: W and H the source's size, i and j pixels counted from the point a rule names.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

#include "page_model.h"

namespace page {

namespace {

constexpr int64_t kOnePixel = 262144;  // 2^18: one pixel in 14.18 fixed point

bool InArea(const Area& a, int64_t x, int64_t y) {
  return x >= a.left && x < a.right && y >= a.top && y < a.bottom;
}

// trunc(v) when it fits a signed 32-bit integer (-2^31 included), else nothing.
std::optional<int64_t> Fits32(double v) {
  const double t = std::trunc(v);
  if (!(t >= -2147483648.0 && t <= 2147483647.0)) return std::nullopt;
  return int64_t(t);
}

// A value taken modulo 2^32, read as a signed number.
int64_t Signed32(int64_t v) { return int64_t(int32_t(uint32_t(uint64_t(v)))); }

}  // namespace

// "Every pixel (x + i, y + j) inside the area with 0 <= i < W and 0 <= j < H shows texel (i, j)."
Hits PlainHits(int W, int H, int x, int y, const Area& area) {
  Hits hits;
  for (int64_t j = 0; j < H; ++j)
    for (int64_t i = 0; i < W; ++i)
      if (InArea(area, x + i, y + j)) hits.push_back({int(x + i), int(y + j), int(i), int(j)});
  return hits;
}

Hits StretchHits(int W, int H, int left, int top, int right, int bottom, const Area& area) {
  // 1. Normalise: a pair given the wrong way round is swapped, and that axis mirrored.
  struct Axis {
    int64_t first, size;
    bool mirrored;
  };
  auto normalise = [](int64_t from, int64_t to) {
    return from > to ? Axis{to, from - to, true} : Axis{from, to - from, false};
  };
  const Axis across = normalise(left, right), down = normalise(top, bottom);
  // 2. Empty rectangle.
  if (across.size == 0 || down.size == 0) return {};
  // 3. Hand-over: the source's own size, not mirrored, is DrawMemImg at (left, top).
  if (across.size == W && down.size == H && !across.mirrored && !down.mirrored)
    return PlainHits(W, H, int(across.first), int(down.first), area);
  // 4. Stretch: column i of the rectangle shows floor(i 65536 / xscale), counted from the far
  // side when mirrored; rows alike. Clipping removes pixels and moves no texel.
  auto texel = [](const Axis& axis, int64_t count, int64_t i) {
    const int64_t scale = axis.size * 65536 / count;
    const int64_t shown = i * 65536 / scale;
    return axis.mirrored ? count - 1 - shown : shown;
  };
  Hits hits;
  for (int64_t j = 0; j < down.size; ++j)
    for (int64_t i = 0; i < across.size; ++i)
      if (InArea(area, across.first + i, down.first + j))
        hits.push_back({int(across.first + i), int(down.first + j), int(texel(across, W, i)),
                        int(texel(down, H, j))});
  return hits;
}

RotaFixed RotaConstants(float angle) {
  // 1. sin and cos of the float angle in double precision, each rounded to a float, times 2^18,
  // truncated (the product of a float and 2^18 is exact).
  return {int64_t(std::trunc(double(float(std::sin(double(angle)))) * kOnePixel)),
          int64_t(std::trunc(double(float(std::cos(double(angle)))) * kOnePixel))};
}

namespace {

// Steps 1 and 2: the corners, or nothing for a call that draws nothing by them.
std::optional<RotaMap> Corners(int W, int H, int x, int y, float angle, float scale) {
  // Calls that draw nothing: an angle or scale not finite, a scale of 0, a source of 16384
  // pixels or more.
  if (!std::isfinite(angle) || !std::isfinite(scale) || scale == 0.0f) return std::nullopt;
  if (W >= 16384 || H >= 16384) return std::nullopt;
  RotaMap m{};
  const RotaFixed k = RotaConstants(angle);

  // 2. Corners, every float operation one at a time in floats.
  const float hw = float(W) * scale * 0.5f, hh = float(H) * scale * 0.5f;
  const float hc = hw * float(k.cos18), hs = hw * float(k.sin18);
  const float vc = hh * float(k.cos18), vs = hh * float(k.sin18);
  // Corners 0 to 3: the source's top-left, bottom-left, bottom-right and top-right.
  const float offX[4] = {vs - hc, -hc - vs, hc - vs, hc + vs};
  const float offY[4] = {-vc - hs, vc - hs, vc + hs, hs - vc};
  for (int c = 0; c < 4; ++c) {
    // A corner outside the 14.18 range (below -8192 pixels, or at 8192 or beyond) draws nothing.
    const std::optional<int64_t> cornerX = Fits32(double(x) * kOnePixel + std::trunc(double(offX[c])));
    const std::optional<int64_t> cornerY = Fits32(double(y) * kOnePixel + std::trunc(double(offY[c])));
    if (!cornerX || !cornerY) return std::nullopt;
    m.X[c] = *cornerX;
    m.Y[c] = *cornerY;
  }
  return m;
}

}  // namespace

std::optional<RotaMap> RotaMapping(int W, int H, int x, int y, float angle, float scale, const Area& area) {
  std::optional<RotaMap> corners = Corners(W, H, x, y, angle, scale);
  if (!corners) return std::nullopt;
  RotaMap& m = *corners;
  const RotaFixed k = RotaConstants(angle);

  // 4. The bounding box, clipped to the area.
  int64_t leastX = m.X[0], greatestX = m.X[0], leastY = m.Y[0], greatestY = m.Y[0];
  for (int c = 1; c < 4; ++c) {
    leastX = std::min(leastX, m.X[c]);
    greatestX = std::max(greatestX, m.X[c]);
    leastY = std::min(leastY, m.Y[c]);
    greatestY = std::max(greatestY, m.Y[c]);
  }
  m.box = {int(leastX / kOnePixel - 2), int(leastY / kOnePixel - 2), int(greatestX / kOnePixel + 4),
           int(greatestY / kOnePixel + 4)};
  m.clipped = {std::max(m.box.left, area.left), std::max(m.box.top, area.top), std::min(m.box.right, area.right),
               std::min(m.box.bottom, area.bottom)};
  if (m.clipped.left >= m.clipped.right || m.clipped.top >= m.clipped.bottom) return std::nullopt;
  const int64_t rows = m.clipped.bottom - m.clipped.top;

  // 5. The inverse mapping. q(n) = trunc(f(n / scale)); one that does not fit draws nothing.
  auto q = [&](int64_t n) { return Fits32(double(float(double(n) / double(scale)))); };
  m.ix = m.clipped.left - int64_t(x);
  m.jt = m.clipped.top - int64_t(y);
  m.jb = m.clipped.bottom - int64_t(y);
  const int64_t u0 = int64_t(W >> 1) * kOnePixel, v0 = int64_t(H >> 1) * kOnePixel;
  const std::optional<int64_t> qUt = q(m.ix * k.cos18 + m.jt * k.sin18), qVt = q(m.jt * k.cos18 - m.ix * k.sin18);
  const std::optional<int64_t> qUb = q(m.ix * k.cos18 + m.jb * k.sin18), qVb = q(m.jb * k.cos18 - m.ix * k.sin18);
  const std::optional<int64_t> Ux = q(k.cos18), Vx = q(-k.sin18);
  if (!qUt || !qVt || !qUb || !qVb || !Ux || !Vx) return std::nullopt;
  m.Ut = u0 + *qUt;
  m.Vt = v0 + *qVt;
  m.Ub = u0 + *qUb;
  m.Vb = v0 + *qVb;
  m.Ux = *Ux;
  m.Vx = *Vx;
  m.Uy = Signed32(m.Ub - m.Ut) / rows;
  m.Vy = Signed32(m.Vb - m.Vt) / rows;
  return m;
}

Hits RotaHits(int W, int H, int x, int y, float angle, float scale, bool turn, const Area& area) {
  if (turn) {
    // 3. The turn flag: DrawQuadMemImg on corners 3, 0, 2, 1, each divided by 2^18 and truncated.
    const std::optional<RotaMap> m = Corners(W, H, x, y, angle, scale);
    if (!m) return {};
    int quad[8];
    const int order[4] = {3, 0, 2, 1};
    for (int c = 0; c < 4; ++c) {
      quad[2 * c] = int(m->X[order[c]] / kOnePixel);
      quad[2 * c + 1] = int(m->Y[order[c]] / kOnePixel);
    }
    return QuadHits(quad, W, H, area);
  }
  const std::optional<RotaMap> m = RotaMapping(W, H, x, y, angle, scale, area);
  if (!m) return {};
  // 6. The scan: U and V modulo 2^32, drawn when both, unsigned, lie inside the source.
  Hits hits;
  for (int64_t j = 0; j < m->clipped.bottom - m->clipped.top; ++j)
    for (int64_t i = 0; i < m->clipped.right - m->clipped.left; ++i) {
      const uint32_t U = uint32_t(uint64_t(m->Ut + j * m->Uy + i * m->Ux));
      const uint32_t V = uint32_t(uint64_t(m->Vt + j * m->Vy + i * m->Vx));
      if (U < uint32_t(W) * uint32_t(kOnePixel) && V < uint32_t(H) * uint32_t(kOnePixel))
        hits.push_back({int(m->clipped.left + i), int(m->clipped.top + j), int(U >> 18), int(V >> 18)});
    }
  return hits;
}

}  // namespace page
