// Graphics start and end.
#pragma once

struct MEMIMG;

// Starts graphics in the mode UseDirect3DFlag names. The software blend tables are filled once
// per run. In software mode the software screen is made (MakeMemImg at the draw-screen size and
// the screen's depth, cleared to 0) and becomes SoftDrawTarget; in Direct3D mode the device is
// created. Then the draw state and the draw settings (InitDrawSettings) are reset, in both modes.
// Returns 0, or -1 on failure (nothing left allocated) or when graphics already run.
int InitGraphics();
// Deletes every graph and every light, releases the device and the software screen and clears
// the draw target and blend graph.
void TerminateGraphics();
// The software screen (valid between InitGraphics and TerminateGraphics in software mode).
MEMIMG* GetSoftScreenMemImg();
// Chooses the software draw target (null allowed) and sets DrawArea to the whole target; the
// draw area is clamped to the target's size as it is now.
void SetSoftDrawTarget(MEMIMG* target);
