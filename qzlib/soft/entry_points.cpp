#include <qzlib/soft/entry_points.h>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/stretch_blit.h>

const SoftDrawerTableT SoftDrawerTableDefault = {
    DrawMemImg,        DrawExtendMemImg, DrawRotaMemImg, DrawFillBoxMemImg,
    DrawPolygonMemImg, DrawLinesMemImg,  DrawOvalMemImg,
};
SoftDrawerTableT SoftDrawerTable = SoftDrawerTableDefault;

namespace {

MemImgLineRecord Line(int x1, int y1, int x2, int y2, uint32_t color) {
  return MemImgLineRecord{x1, y1, x2, y2, color, DrawBlendParam};
}

// A flat triangle: corners without texture coordinates, no source, transparent flag 0.
void FlatTriangle(const MemImgVertex* v, uint32_t color) {
  SoftDrawerTable.DrawPolygonMemImg(SoftDrawTarget, nullptr, v, 0, SoftBlendGraph, color);
}

}  // namespace

int MemImgDrawGraph(int x, int y, const GRAPH_RECORD* graph, int trans) {
  if (!SoftDrawTarget || !graph) return 0;
  SoftDrawerTable.DrawMemImg(SoftDrawTarget, &graph->Image, x, y, trans, SoftBlendGraph);
  return 0;
}

int MemImgDrawExtendGraph(int x1, int y1, int x2, int y2, const GRAPH_RECORD* graph, int trans) {
  if (!SoftDrawTarget || !graph) return 0;
  const RECT rect = {x1, y1, x2, y2};
  SoftDrawerTable.DrawExtendMemImg(SoftDrawTarget, &graph->Image, &rect, trans, SoftBlendGraph);
  return 0;
}

int MemImgDrawRotaGraph(float x, float y, double scale, double angle, const GRAPH_RECORD* graph,
                        int trans, int turn) {
  if (!SoftDrawTarget || !graph) return 0;
  SoftDrawerTable.DrawRotaMemImg(SoftDrawTarget, &graph->Image, FloatToIntFast(x),
                                 FloatToIntFast(y), static_cast<float>(angle),
                                 static_cast<float>(scale), trans, turn, SoftBlendGraph);
  return 0;
}

int MemImgDrawModiGraph(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4,
                        const GRAPH_RECORD* graph, int trans) {
  if (!SoftDrawTarget || !graph) return 0;
  const int32_t w = graph->Width, h = graph->Height;
  // Consecutive corners: (1, 2, 3) starts at 0, (2, 3, 4) at 1.
  const MemImgVertex v[4] = {{x1, y1, 0, 0}, {x2, y2, w, 0}, {x3, y3, 0, h}, {x4, y4, w, h}};
  SoftDrawerTable.DrawPolygonMemImg(SoftDrawTarget, &graph->Image, &v[0], trans, SoftBlendGraph, 0);
  SoftDrawerTable.DrawPolygonMemImg(SoftDrawTarget, &graph->Image, &v[1], trans, SoftBlendGraph, 0);
  return 0;
}

int MemImgDrawModiGraphF(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                         float y4, const GRAPH_RECORD* graph, int trans) {
  return MemImgDrawModiGraph(FloatToIntFast(x1), FloatToIntFast(y1), FloatToIntFast(x2),
                             FloatToIntFast(y2), FloatToIntFast(x3), FloatToIntFast(y3),
                             FloatToIntFast(x4), FloatToIntFast(y4), graph, trans);
}

int MemImgDrawFillBox(int x1, int y1, int x2, int y2, uint32_t color) {
  if (!SoftDrawTarget) return 0;
  const RECT rect = {x1, y1, x2, y2};
  SoftDrawerTable.DrawFillBoxMemImg(SoftDrawTarget, &rect, color);
  return 0;
}

int MemImgDrawOval(int x, int y, int rx, int ry, uint32_t color, int fill) {
  if (!SoftDrawTarget) return 0;
  SoftDrawerTable.DrawOvalMemImg(SoftDrawTarget, x, y, rx, ry, color, fill);
  return 0;
}

int MemImgDrawLineBox(int x1, int y1, int x2, int y2, uint32_t color) {
  if (!SoftDrawTarget) return 0;
  // One less by the drawers' wrap rule: computed in 32 bits unsigned, INT_MIN gives INT_MAX.
  const int r = static_cast<int32_t>(static_cast<uint32_t>(x2) - 1u);
  const int b = static_cast<int32_t>(static_cast<uint32_t>(y2) - 1u);
  const MemImgLineRecord lines[4] = {Line(x1, y1, r, y1, color), Line(r, y1, r, b, color),
                                     Line(r, b, x1, b, color), Line(x1, b, x1, y1, color)};
  SoftDrawerTable.DrawLinesMemImg(SoftDrawTarget, lines, 4);
  return 0;
}

int MemImgDrawTriangle(int x1, int y1, int x2, int y2, int x3, int y3, uint32_t color, int fill) {
  if (!SoftDrawTarget) return 0;
  if (fill) {
    const MemImgVertex v[3] = {{x1, y1, 0, 0}, {x2, y2, 0, 0}, {x3, y3, 0, 0}};
    FlatTriangle(v, color);
  } else {
    const MemImgLineRecord lines[3] = {Line(x1, y1, x2, y2, color), Line(x2, y2, x3, y3, color),
                                       Line(x3, y3, x1, y1, color)};
    SoftDrawerTable.DrawLinesMemImg(SoftDrawTarget, lines, 3);
  }
  return 0;
}

int MemImgDrawQuadrangle(int xa, int ya, int xb, int yb, int xc, int yc, int xd, int yd,
                         uint32_t color, int fill) {
  if (!SoftDrawTarget) return 0;
  if (fill) {
    const MemImgVertex abc[3] = {{xa, ya, 0, 0}, {xb, yb, 0, 0}, {xc, yc, 0, 0}};
    const MemImgVertex dcb[3] = {{xd, yd, 0, 0}, {xc, yc, 0, 0}, {xb, yb, 0, 0}};
    FlatTriangle(abc, color);
    FlatTriangle(dcb, color);
  } else {
    const MemImgLineRecord lines[4] = {Line(xa, ya, xb, yb, color), Line(xb, yb, xd, yd, color),
                                       Line(xd, yd, xc, yc, color), Line(xc, yc, xa, ya, color)};
    SoftDrawerTable.DrawLinesMemImg(SoftDrawTarget, lines, 4);
  }
  return 0;
}
