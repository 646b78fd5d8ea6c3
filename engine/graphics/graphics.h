// Graphics start and end.
#pragma once

// Starts graphics in the mode UseDirect3DFlag names. In software mode: fills the blend tables
// once, makes the software screen at the draw-screen size and depth and makes it SoftDrawTarget.
// Returns 0, or -1 on failure (nothing left allocated).
int InitGraphics();
// Releases everything InitGraphics made.
void TerminateGraphics();
