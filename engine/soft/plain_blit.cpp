#include "engine/soft/plain_blit.h"

int DrawMemImg(MEMIMG* dst, const MEMIMG* src, int x, int y, int trans, const MEMIMG* blendGraph) {
  return 0;
}
