#include <qzlib/graphics/draw_shapes.h>

#include <qzlib/base/draw_state.h>
#include <qzlib/soft/entry_points.h>
#include <qzlib/soft/shapes.h>

namespace {
bool DrawAreaEmpty() { return DrawArea.left >= DrawArea.right || DrawArea.top >= DrawArea.bottom; }
}  // namespace

int DrawCircle(int x, int y, int r, uint32_t color, int fill) {
  if (r < 0 || DrawAreaEmpty()) return 0;
  if (UseDirect3DFlag || !SoftDrawTarget) return -1;
  DrawCircleMemImg(SoftDrawTarget, x, y, r, color, fill);
  return 0;
}

int DrawOval(int x, int y, int rx, int ry, uint32_t color, int fill) {
  if (rx < 0 || ry < 0 || DrawAreaEmpty()) return 0;
  if (UseDirect3DFlag || !SoftDrawTarget) return -1;
  MemImgDrawOval(x, y, rx, ry, color, fill);
  return 0;
}
