// Engine start for the benchmarks that need Direct3D mode (the model system exists only then, and
// textures become graphs).
#pragma once
#include <benchmark/benchmark.h>

#include <cstdlib>

#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/system/library.h>
#include <qzlib/platform/d3d_device.h>

// Starts the engine in Direct3D mode over the stand-in device; when the start fails, the benchmark
// is marked in error and false returned. EndLibrary ends it.
inline bool StartDirect3DEngine(benchmark::State& state) {
  SetGraphMode(640, 480, 32);
  SetUse3DFlag(1);
  if (InitLibrary() == 0) return true;
  state.SkipWithError("engine start failed");
  return false;
}

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
