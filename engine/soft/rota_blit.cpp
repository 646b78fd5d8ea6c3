#include "engine/soft/rota_blit.h"

void DrawRotaMemImg(MEMIMG* dst, const MEMIMG* src, int cx, int cy, float angle, float scale,
                    int trans, int turn, const MEMIMG* blendGraph) {}
