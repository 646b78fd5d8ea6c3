#include "demo/demo_model.h"

#include <cmath>
#include <cstring>

#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/model/model_refmesh.h>
#include "examples/support/d3d_replay.h"

void PosedBox(int h, VECTOR* lo, VECTOR* hi) {
  MV1SetupReferenceMesh(h, -1, 1);
  MV1RefreshReferenceMesh(h, -1, 1);
  MV1_REF_POLYGONLIST ref = MV1GetReferenceMesh(h, -1, 1);
  *lo = ref.MinPosition;
  *hi = ref.MaxPosition;
  MV1TerminateReferenceMesh(h, -1, 1);
}

void FrameBox(VECTOR lo, VECTOR hi, VECTOR from, float margin) {
  VECTOR c{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
  float dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
  float radius = 0.5f * std::sqrt(dx * dx + dy * dy + dz * dz);
  float dist = radius * margin / std::tan(0.5f * 1.0471976f);  // 60 degrees vertically
  SetCameraPositionAndTargetUpVecY(VECTOR{c.x + from.x * dist, c.y + from.y * dist, c.z + from.z * dist}, c);
  SetCameraNearFar(dist * 0.02f, dist * 4.0f);
}

void ReplayInto(MEMIMG* sheet, int x, int y, int w, int h, uint32_t background) {
  MEMIMG tile{};
  if (MakeMemImg(&tile, w, h, 1) != 0) return;
  ClearMemImg(&tile, nullptr, background);
  ReplayDraws(D3DObjects.Device->Draws(), &tile);
  for (int row = 0; row < h && y + row < sheet->Height; ++row)
    std::memcpy(sheet->Pixels + size_t(y + row) * sheet->Base->Pitch + 4 * size_t(x),
                tile.Pixels + size_t(row) * tile.Base->Pitch, 4 * size_t(w));
  MemImgMarkPixelsChanged(sheet);
  TerminateMemImg(&tile);
  D3DObjects.Device->ClearRecord();
}
