// Triangle set-up and scan conversion, shared by every span family of the triangle rasteriser.
//
// Corners are taken to 14.18 fixed point (one pixel = 0x40000 units; x and y carry half a pixel,
// u and v do not). The set-up orders the corners, finds the affine texture gradients and builds
// the left and right sides (one or two segments each); the walk then visits every row of the
// triangle top to bottom, clips the row's span to the draw area and hands it to a span functor.
// The integer part of a fixed value is its quotient by 2^18 truncated toward zero, not the floor,
// which is what shifts triangles above row 0 down by one row.
#pragma once
#include <cstdint>

#include <qzlib/soft/polygon.h>
#include <qzlib/platform/wintypes.h>

#if defined(__GNUC__)
#define POLYGON_INLINE __attribute__((always_inline))
#else
#define POLYGON_INLINE
#endif

constexpr int kPolygonFixShift = 18;
constexpr int32_t kPolygonFixOne = 1 << kPolygonFixShift;
// The widest coordinate the 14.18 format holds without wrapping, in pixels.
constexpr int32_t kPolygonCoordMin = -8192;
constexpr int32_t kPolygonCoordMax = 8191;

// Integer part of a 14.18 value, truncated toward zero.
inline int32_t PolygonFixInt(int32_t v) { return v / kPolygonFixOne; }

// One segment of a side: start X (fixed), X step per row (fixed) and its number of rows.
struct PolygonSegment {
  int32_t x;
  int32_t slope;
  int32_t rows;
};

// A side of the triangle: one segment, or an upper and a lower one.
struct PolygonSide {
  PolygonSegment seg[2];
  int32_t count;
};

// Everything the walk and the texture mapping need, built once per call.
struct PolygonSetup {
  PolygonSide left;
  PolygonSide right;
  int32_t yTop;  // first row: int(Y of the top corner)
  int32_t yMid;  // row the left side restarts at: int(Y of the middle corner)
  // Texture gradients (14.18 per destination pixel) and the reference corner.
  int32_t ux, uy, vx, vy;
  int32_t xRef, yRef;
  uint32_t uRef, vRef;
};

// Builds the set-up of one triangle. textured: also compute the texture gradients. Returns false
// when the triangle draws nothing: a corner or a difference between two corners outside
// -8192..8191, or collinear (also repeated) corners.
bool SetUpPolygon(const MemImgVertex* vertices, bool textured, PolygonSetup* out);

// u and v of the pixel (x, y), from the reference corner; wrapping 32-bit arithmetic.
inline void PolygonTexStart(const PolygonSetup& s, int32_t x, int32_t y, uint32_t* u, uint32_t* v) {
  uint32_t dx = static_cast<uint32_t>(x) - static_cast<uint32_t>(s.xRef);
  uint32_t dy = static_cast<uint32_t>(y) - static_cast<uint32_t>(s.yRef);
  *u = s.uRef + dx * static_cast<uint32_t>(s.ux) + dy * static_cast<uint32_t>(s.uy);
  *v = s.vRef + dx * static_cast<uint32_t>(s.vx) + dy * static_cast<uint32_t>(s.vy);
}

// Walks the rows of a set-up triangle and calls span(y, x, count) for every row that has pixels
// inside `area` (left, top inclusive; right, bottom exclusive), x being the first pixel after the
// left clip and count the pixels up to the right end or the area's right edge.
template <class Span>
inline POLYGON_INLINE void WalkPolygon(const PolygonSetup& s, const RECT& area, Span&& span) {
  const PolygonSegment* ls = &s.left.seg[0];
  const PolygonSegment* rs = &s.right.seg[0];
  const PolygonSegment* lLast = &s.left.seg[s.left.count - 1];
  const PolygonSegment* rLast = &s.right.seg[s.right.count - 1];
  // The edge X values stay between their segment's end points, so they never leave int32.
  int32_t lx = ls->x, rx = rs->x;
  int32_t lslope = ls->slope, rslope = rs->slope;
  int32_t lrows = ls->rows, rrows = rs->rows;
  int32_t y = s.yTop;
  for (;;) {
    if (y >= area.top && y < area.bottom) {
      int32_t xl = PolygonFixInt(lx);
      int32_t count = PolygonFixInt(rx) - xl + 1;
      if (xl < area.left) {
        count -= area.left - xl;
        xl = area.left;
      }
      if (xl < area.right && count > 0) {
        if (count > area.right - xl) count = area.right - xl;
        span(y, xl, count);
      }
    }
    // Below the area with no restart left: nothing more can be drawn.
    if (y >= area.bottom && ls == lLast) return;
    lx += lslope;
    rx += rslope;
    ++y;
    --lrows;
    --rrows;
    if (lrows <= 0) {
      if (ls == lLast) return;
      ++ls;
      lx = ls->x;
      lslope = ls->slope;
      lrows = ls->rows;
      y = s.yMid;
    }
    if (rrows <= 0) {
      if (rs == rLast) return;
      ++rs;
      rx = rs->x;
      rslope = rs->slope;
      rrows = rs->rows;
    }
  }
}
