// One call of a drawer as the sweeps make it, and the page's visits for it. Every drawer and every
// geometry function of the page is called in one place (shots.cpp), whatever sweep draws.
#pragma once
#include "page_model.h"
#include "surface.h"

namespace page {

struct Shot {
  enum Kind {
    kAt,        // DrawMemImg at (a[0], a[1])
    kStretched, // DrawExtendMemImg to the rectangle a[0..3]
    kTurned,    // DrawRotaMemImg about (a[0], a[1]) by angle, scale and turn
    kQuad,      // DrawQuadMemImg on the corners a[0..7]
    kTriangle,  // DrawPolygonMemImg on triangle (x, y, u, v per corner), textured or flat
    kPixel,     // DrawPixelMemImg at (a[0], a[1])
    kBox,       // DrawFillBoxMemImg of the rectangle a[0..3]
    kLine,      // DrawLineMemImg from (a[0], a[1]) to (a[2], a[3])
    kCircle,    // DrawCircleMemImg about (a[0], a[1]), radius a[2], fill
    kOval,      // DrawOvalMemImg about (a[0], a[1]), radii a[2], a[3], fill
  };
  Kind kind = kAt;
  int a[8] = {};
  int triangle[3][4] = {};
  float angle = 0.0f, scale = 1.0f;
  bool turn = false, fill = false;
};

// Draws the shot into dst, from src (with graph and the transparent flag trans) or, for the flat
// drawers (src null), in colour; returns the page's visits for it under the clip area.
Hits DrawShot(const Shot& shot, Surface& dst, Surface* src, Surface* graph, int trans,
              uint32_t colour, const Area& area);

}  // namespace page
