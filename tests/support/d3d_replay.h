// A replayer of the stand-in device's recorded draws: turns the snapshots into a picture with
// the project's own software renderer. Not part of the engine; the tests and the demonstration
// share it.
//
// Each snapshot's vertices are read by its vertex format, transformed by its world, view and
// projection matrices to the target's size, triangles behind the near plane and back faces (by
// the recorded cull mode) are dropped, vertices are lit from the recorded lights and material
// with a plain Lambert term, and the triangles and lines of all draws are sorted far to near and
// drawn flat (textured from the stage-0 texture where one is set) with the recorded blend, their
// alpha times the texture factor's where a stage reads the factor as alpha. Draws from user memory
// (DrawIndexedPrimitiveUP) and the outline format (position and colour) are read as any other.
#pragma once
#include <vector>

#include <qzlib/soft/memimg.h>
#include <qzlib/platform/d3d_device.h>

struct ReplayStats {
  int Triangles = 0;  // drawn
  int Lines = 0;
  int Culled = 0;     // back faces dropped
  int Clipped = 0;    // behind the near plane
  int Skipped = 0;    // draws the replayer cannot read (no position in the format)
};

// Draws the snapshots into target (a valid 32-bit or 16-bit MEMIMG; its DrawArea clipping
// applies). Textured triangles keep the texture's own colours, or with litTextures are modulated
// by their lit colour as stage 0 does by default. Restores the draw state it changes. Returns the
// counts.
ReplayStats ReplayDraws(const std::vector<D3DDrawSnapshot>& draws, MEMIMG* target, bool litTextures = false);
