#include "shots.h"

namespace page {

Hits DrawShot(const Shot& shot, Surface& dst, Surface* src, Surface* graph, int trans,
              uint32_t colour, const Area& area) {
  MEMIMG* const d = dst.img();
  const MEMIMG* const s = src ? src->img() : nullptr;
  const MEMIMG* const g = graph ? graph->img() : nullptr;
  const int srcW = src ? src->kind().width : 0, srcH = src ? src->kind().height : 0;
  const int* a = shot.a;
  switch (shot.kind) {
    case Shot::kAt:
      DrawMemImg(d, s, a[0], a[1], trans, g);
      return PlainHits(srcW, srcH, a[0], a[1], area);
    case Shot::kStretched: {
      const RECT rect{a[0], a[1], a[2], a[3]};
      DrawExtendMemImg(d, s, &rect, trans, g);
      return StretchHits(srcW, srcH, a[0], a[1], a[2], a[3], area);
    }
    case Shot::kTurned:
      DrawRotaMemImg(d, s, a[0], a[1], shot.angle, shot.scale, trans, shot.turn ? 1 : 0, g);
      return RotaHits(srcW, srcH, a[0], a[1], shot.angle, shot.scale, shot.turn, area);
    case Shot::kQuad:
      DrawQuadMemImg(d, s, a, trans, g);
      return QuadHits(a, srcW, srcH, area);
    case Shot::kTriangle:
      DrawTriangle(d, s, shot.triangle, trans, g, colour);
      return PolygonHits(shot.triangle, srcW, srcH, area);
    case Shot::kPixel:
      DrawPixelMemImg(d, a[0], a[1], colour);
      return PixelHits(a[0], a[1], area);
    case Shot::kBox: {
      const RECT rect{a[0], a[1], a[2], a[3]};
      DrawFillBoxMemImg(d, &rect, colour);
      return BoxHits(a, dst.kind().width, dst.kind().height, area);
    }
    case Shot::kLine:
      DrawLineMemImg(d, a[0], a[1], a[2], a[3], colour);
      return LineHits(a[0], a[1], a[2], a[3], area);
    case Shot::kCircle:
      DrawCircleMemImg(d, a[0], a[1], a[2], colour, shot.fill ? 1 : 0);
      return CircleHits(a[0], a[1], a[2], shot.fill, area);
    case Shot::kOval:
      DrawOvalMemImg(d, a[0], a[1], a[2], a[3], colour, shot.fill ? 1 : 0);
      return OvalHits(a[0], a[1], a[2], a[3], shot.fill, area);
  }
  return {};
}

}  // namespace page
