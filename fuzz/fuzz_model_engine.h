// Engine start of the model fuzz targets.
#pragma once
#include <cstdlib>

#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model_handles.h>

// The engine in Direct3D mode over the stand-in device (the model system exists only then, and
// textures become graphs), with the base table grown once so that block counts repeat.
inline void FuzzStartModelEngine() {
  SetGraphMode(640, 480, 32);
  SetUse3DFlag(1);
  if (InitLibrary() != 0) std::abort();
  MV1DeleteModelBase(MV1AddModelBaseHandle());
}
