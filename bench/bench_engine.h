// Engine start of the model benchmarks.
#pragma once
#include <cstdlib>

#include "engine/graphics/draw_state.h"
#include "engine/graphics/graphics3d.h"
#include "engine/library.h"
#include "platform/d3d_device.h"

// The engine in Direct3D mode, started once for the whole run; snapshots and recording off.
inline void BenchModelEngine() {
  static bool started = [] {
    D3DStandIn().Snapshots = false;
    D3DStandIn().Recording = false;
    SetUse3DFlag(1);
    if (InitLibrary() != 0) std::abort();
    return true;
  }();
  (void)started;
}
