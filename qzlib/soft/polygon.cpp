#include <qzlib/soft/polygon.h>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/drawer_guard.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/polygon_spans.h>
#include <qzlib/soft/polygon_walk.h>

namespace {

// Sources beyond this size have texel coordinates the 14.18 format cannot address.
constexpr int32_t kMaxSourceSize = 8191;

bool SourceUsable(const MEMIMG* src) {
  return MemImgUsable(src) && src->Width > 0 && src->Height > 0 && src->Width <= kMaxSourceSize &&
         src->Height <= kMaxSourceSize;
}

}  // namespace

void DrawPolygonMemImg(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int trans,
                       const MEMIMG* blendGraph, uint32_t color) {
  if (!MemImgUsable(dst) || !vertices) return;
  if (src && blendGraph && !MemImgUsable(blendGraph)) return;
  // The format, palette and alpha guards and the blend-graph size are checked when the span
  // family prepares the draw state.
  const MemImgBase* db = dst->Base;
  if (src && !SourceUsable(src)) return;

  PolygonSetup setup;
  if (!SetUpPolygon(vertices, src != nullptr, &setup)) return;

  PolygonDraw draw;
  draw.dst = dst;
  draw.src = src;
  draw.blendGraph = src ? blendGraph : nullptr;  // flat triangles ignore theirs
  draw.trans = trans;
  draw.color = db->Format == MEMIMG_FORMAT_565 ? (color & 0xFFFF) : color;
  // The draw area, kept inside the destination so that no row is written outside its pixels.
  draw.area = SoftDestArea(dst);
  if (draw.area.left >= draw.area.right || draw.area.top >= draw.area.bottom) return;
  draw.setup = &setup;

  if (!src) {
    if (db->Format == MEMIMG_FORMAT_565 || db->Format == MEMIMG_FORMAT_XRGB8)
      DrawPolygonFlatSpans(draw);
    return;
  }
  const MemImgBase* sb = src->Base;
  bool pal = sb->PaletteFlag != 0;
  if (sb->Format == MEMIMG_FORMAT_XRGB8) {
    if (pal) DrawPolygonSpans32Pal(draw);
    else DrawPolygonSpans32Direct(draw);
  } else if (sb->Format == MEMIMG_FORMAT_565) {
    if (pal) DrawPolygonSpans16Pal(draw);
    else DrawPolygonSpans16Direct(draw);
  }
}

void DrawQuadMemImg(MEMIMG* dst, const MEMIMG* src, const int32_t* corners, int trans,
                    const MEMIMG* blendGraph) {
  if (!dst || !src || !corners) return;
  int32_t minX = corners[0], maxX = corners[0], minY = corners[1], maxY = corners[1];
  for (int i = 1; i < 4; ++i) {
    int32_t x = corners[2 * i], y = corners[2 * i + 1];
    if (x < minX) minX = x;
    if (x > maxX) maxX = x;
    if (y < minY) minY = y;
    if (y > maxY) maxY = y;
  }
  // The widened box, in 64-bit so that extreme corners cannot overflow the margins.
  auto clamp32 = [](int64_t v) {
    return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
  };
  RECT box{clamp32(int64_t(minX) - 2), clamp32(int64_t(minY) - 2), clamp32(int64_t(maxX) + 4),
           clamp32(int64_t(maxY) + 4)};
  RectClipping(&box, &DrawArea);
  if (box.left == box.right || box.top == box.bottom) return;

  MemImgVertex v[4] = {
      {corners[0], corners[1], 0, 0},
      {corners[2], corners[3], src->Width, 0},
      {corners[4], corners[5], 0, src->Height},
      {corners[6], corners[7], src->Width, src->Height},
  };
  DrawPolygonMemImg(dst, src, &v[0], trans, blendGraph, 0);
  DrawPolygonMemImg(dst, src, &v[1], trans, blendGraph, 0);
}
