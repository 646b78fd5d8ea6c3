// The software path of the draw functions: each entry point takes the current software draw
// target (SoftDrawTarget), the graph's surface and the current blend graph (SoftBlendGraph),
// turns float coordinates into integers by truncation toward zero, builds the corner and line
// records, and hands the work to one drawer. Blend mode, parameter, bright and area are read by
// the drawers themselves. The callers have validated their handles. Every entry point returns 0
// (nothing is drawn while there is no draw target or graph).
#pragma once
#include <cstdint>

#include <qzlib/graphics/graph.h>
#include <qzlib/soft/memimg.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/soft/shapes.h>

// The drawers the entry points call; it starts with the real ones and tests may replace entries.
struct SoftDrawerTableT {
  int (*DrawMemImg)(MEMIMG* dst, const MEMIMG* src, int x, int y, int trans,
                    const MEMIMG* blendGraph);
  void (*DrawExtendMemImg)(MEMIMG* dst, const MEMIMG* src, const RECT* rect, int trans,
                           const MEMIMG* blendGraph);
  void (*DrawRotaMemImg)(MEMIMG* dst, const MEMIMG* src, int cx, int cy, float angle, float scale,
                         int trans, int turn, const MEMIMG* blendGraph);
  void (*DrawFillBoxMemImg)(MEMIMG* dst, const RECT* rect, uint32_t color);
  void (*DrawPolygonMemImg)(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int trans,
                            const MEMIMG* blendGraph, uint32_t color);
  void (*DrawLinesMemImg)(MEMIMG* dst, const MemImgLineRecord* records, int count);
  void (*DrawOvalMemImg)(MEMIMG* dst, int cx, int cy, int rx, int ry, uint32_t color, int fill);
};
extern SoftDrawerTableT SoftDrawerTable;
// The real drawers, for restoring SoftDrawerTable.
extern const SoftDrawerTableT SoftDrawerTableDefault;

// The whole graph at (x, y), unscaled.
int MemImgDrawGraph(int x, int y, const GRAPH_RECORD* graph, int trans);
// The whole graph stretched into (x1, y1, x2, y2).
int MemImgDrawExtendGraph(int x1, int y1, int x2, int y2, const GRAPH_RECORD* graph, int trans);
// The whole graph rotated by angle and scaled about the truncated centre; scale and angle
// narrowed to float.
int MemImgDrawRotaGraph(float x, float y, double scale, double angle, const GRAPH_RECORD* graph,
                        int trans, int turn);
// The whole graph on four corners: 1 takes the source's top-left, 2 top-right, 3 bottom-left,
// 4 bottom-right; drawn as triangles (1, 2, 3) and (2, 3, 4).
int MemImgDrawModiGraph(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4,
                        const GRAPH_RECORD* graph, int trans);
// MemImgDrawModiGraph with every coordinate truncated toward zero.
int MemImgDrawModiGraphF(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                         float y4, const GRAPH_RECORD* graph, int trans);
// Filled box (x1, y1, x2, y2), right and bottom exclusive.
int MemImgDrawFillBox(int x1, int y1, int x2, int y2, uint32_t color);
// Oval about (x, y) with radii rx, ry; the values handed on unchanged.
int MemImgDrawOval(int x, int y, int rx, int ry, uint32_t color, int fill);
// Outline inside the box (right and bottom exclusive): four lines, each record carrying the
// colour and the current DrawBlendParam. x2 - 1 and y2 - 1 wrap in 32 bits (INT_MIN - 1 is
// INT_MAX).
int MemImgDrawLineBox(int x1, int y1, int x2, int y2, uint32_t color);
// Filled (fill non-zero: one flat triangle) or outlined (lines 1-2, 2-3, 3-1) triangle.
int MemImgDrawTriangle(int x1, int y1, int x2, int y2, int x3, int y3, uint32_t color, int fill);
// Quadrangle with A and D, B and C opposite: filled as flat triangles (A, B, C) and (D, C, B),
// outlined as lines A-B, B-D, D-C, C-A.
int MemImgDrawQuadrangle(int xa, int ya, int xb, int yb, int xc, int yc, int xd, int yd,
                         uint32_t color, int fill);
