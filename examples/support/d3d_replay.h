// Example code, not part of the engine: turns the stand-in device's draw snapshots into a picture
// with the engine's own software renderer. The device keeps snapshots only when asked
// (D3DStandIn().Snapshots = true before the draws); ReplayDraws(device->Draws(), &surface) then
// draws them into any 32-bit or 16-bit MEMIMG, which can be saved as a PNG. The examples, the
// demonstration and the tests compile this file into their own programs; it is not installed.
//
// Each snapshot's vertices are read by its vertex format, transformed by its world, view and
// projection matrices to the target's size, triangles behind the near plane and back faces (by
// the recorded cull mode) are dropped, vertices are lit from the recorded lights and material
// with a plain Lambert term, and the triangles and lines of all draws are sorted far to near and
// drawn flat with the recorded blend. Stage 0 is followed as recorded: its texture where it reads
// one, modulated by the lit colour where it modulates, and the texture's alpha where its alpha
// reads the texture and the blend reads the source alpha; the draw's alpha is the lit diffuse
// alpha (where stage 0 reads it) times the texture factor's (where a stage reads the factor).
// Draws from user memory (DrawIndexedPrimitiveUP) and the outline format (position and colour)
// are read as any other.
#pragma once
#include <vector>

#include <qzlib/qzlib.h>

struct ReplayStats {
  int Triangles = 0;  // drawn
  int Lines = 0;
  int Culled = 0;     // back faces dropped
  int Clipped = 0;    // behind the near plane
  int Skipped = 0;    // draws the replayer cannot read (no position in the format)
};

// Draws the snapshots into target (a valid 32-bit or 16-bit MEMIMG; its DrawArea clipping
// applies). Restores the draw state it changes. Returns the counts.
ReplayStats ReplayDraws(const std::vector<D3DDrawSnapshot>& draws, MEMIMG* target);
