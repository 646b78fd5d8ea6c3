// The rotated and scaled blit.
#pragma once
#include <qzlib/soft/memimg.h>

// Draws the whole source rotated by angle (radians) and scaled about the centre (cx, cy) with the
// current blend state; a set turn flag mirrors it (drawn through DrawQuadMemImg).
void DrawRotaMemImg(MEMIMG* dst, const MEMIMG* src, int cx, int cy, float angle, float scale,
                    int trans, int turn, const MEMIMG* blendGraph);
