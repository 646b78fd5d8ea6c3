// The demonstration: starts the engine in software mode, runs each drawing part (each draws into
// its own 32-bit and 16-bit surfaces and saves its pictures in the current folder), draws one
// frame on the software screen through the draw front ends, saves it and ends the engine.
#include <cstdio>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include "engine/base/library.h"
#include "engine/base/memory.h"
#include "engine/graphics/draw_state.h"

int main() {
  SetUse3DFlag(0);
  if (InitLibrary() != 0) {
    std::fprintf(stderr, "engine start failed; see Log.txt\n");
    return 1;
  }
  RunPlainBlitDemo();
  RunDrawersDemo();
  RunPolygonDemo();
  RunShapesDemo();
  if (SoftDrawTarget) {
    std::printf("screen: %s\n", SaveMemImgPicture(SoftDrawTarget, "screen.png") ? "saved" : "NOT saved");
  }
  EndLibrary();
  const size_t held = MemLiveBlockCount();
  std::printf("demo done; %zu tracked blocks held at end (listed in Log.txt)\n", held);
  return 0;
}
