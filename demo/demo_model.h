// What the model demonstration parts share: framing a model with the camera and replaying the
// stand-in device's recorded draws into a picture. Direct3D mode only (StartDirect3DDemo).
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/soft/memimg.h>

// The dark blue-grey the model pictures are drawn over (0x00RRGGBB).
constexpr uint32_t kModelBackground = 0x00303844;

// The box of model h as posed now (its transformed reference mesh).
void PosedBox(int h, VECTOR* lo, VECTOR* hi);

// Looks at the box from the given direction (unit, from the target toward the camera), from far
// enough for its whole height and width times margin.
void FrameBox(VECTOR lo, VECTOR hi, VECTOR from, float margin = 1.15f);

// Replays what was recorded since the last clear into the w x h tile of the 32-bit sheet at
// (x, y), scaled from the 640 x 480 view over the background colour, and clears the record.
void ReplayInto(MEMIMG* sheet, int x, int y, int w, int h, uint32_t background);
