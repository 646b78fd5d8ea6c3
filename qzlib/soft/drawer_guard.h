// The checks every MEMIMG drawer makes before it reads a record or indexes a blend table.
#pragma once
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/memimg.h>

// True for a record a drawer may read: the valid magic, a body, pixels and a colour format.
// Every drawer tests its destination (and source and blend graph, when given) with this first.
inline bool MemImgUsable(const MEMIMG* img) {
  return img && img->Magic == MEMIMG_MAGIC && img->Base && img->Pixels && img->Base->ColorFormat;
}

// DrawBlendParam limited to 0..255, the range of the blend tables' first index. The setter keeps
// that range, but the global is public.
inline int SoftBlendParam() {
  return DrawBlendParam < 0 ? 0 : (DrawBlendParam > 255 ? 255 : DrawBlendParam);
}
