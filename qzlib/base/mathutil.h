// The engine's own maths helpers.
//
// Conversions to int truncate toward zero whatever the rounding mode; a value outside the 32-bit
// range, NaN or an infinity gives 0x80000000.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/platform/wintypes.h>

// Double to int, truncated toward zero; out of range and NaN give 0x80000000.
int32_t DoubleToInt(double value);
// Float to int, truncated toward zero; out of range and NaN give 0x80000000.
int32_t FloatToIntFast(float value);

// Sine and cosine of a float angle in radians, computed in double, each rounded to float.
void SinCos(float angle, float* outSin, float* outCos);
float SqrtFloat(float x);
float AbsFloat(float x);
// out = a x b (x = a.y*b.z - a.z*b.y, y = a.z*b.x - a.x*b.z, z = a.x*b.y - a.y*b.x).
void CrossVector3(VECTOR* out, const VECTOR* a, const VECTOR* b);

// Clips rect to clip in place; returns 0. First right < left becomes left and bottom < top becomes
// top; then bottom, top, right and left, in this order, are each limited to the clip's range for
// their axis (a value beyond the far edge becomes the far edge, else one before the near edge the
// near edge). A rectangle that misses the clip ends with no width or no height, never negative.
int RectClipping(RECT* rect, const RECT* clip);
