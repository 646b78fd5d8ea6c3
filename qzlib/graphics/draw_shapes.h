// Circle and oval front ends of the graphics core.
#pragma once
#include <cstdint>

// Circle of radius r about (x, y) in the draw target, filled when fill is non-zero; colour in the
// screen's pixel format (GetColor). Draws nothing for a negative radius or an empty DrawArea
// (returns 0). In software mode draws into SoftDrawTarget. Returns 0, or -1 when there is nothing
// to draw into (no software target, or Direct3D mode, whose drawer is not part of this build).
int DrawCircle(int x, int y, int r, uint32_t color, int fill);
// Oval with half-axes rx, ry about (x, y); otherwise as DrawCircle (negative rx or ry draws
// nothing). In software mode goes through MemImgDrawOval.
int DrawOval(int x, int y, int rx, int ry, uint32_t color, int fill);
