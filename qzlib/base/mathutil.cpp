#include <qzlib/base/mathutil.h>

#include <cmath>

int32_t DoubleToInt(double value) {
  // The comparisons are false for NaN, so NaN lands in the out-of-range result too.
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);  // C++ conversion truncates toward zero in any rounding mode
}

int32_t FloatToIntFast(float value) { return DoubleToInt(static_cast<double>(value)); }

void SinCos(float angle, float* outSin, float* outCos) {
  double a = static_cast<double>(angle);
  *outSin = static_cast<float>(std::sin(a));
  *outCos = static_cast<float>(std::cos(a));
}

float SqrtFloat(float x) { return std::sqrt(x); }

float AbsFloat(float x) { return std::fabs(x); }

void CrossVector3(VECTOR* out, const VECTOR* a, const VECTOR* b) {
  VECTOR r;
  r.x = a->y * b->z - a->z * b->y;
  r.y = a->z * b->x - a->x * b->z;
  r.z = a->x * b->y - a->y * b->x;
  *out = r;
}

namespace {
// The far edge is tested first, so against an inverted clip (near > far) a value beyond the far
// edge ends on the far edge.
int32_t Limit(int32_t v, int32_t lo, int32_t hi) { return v > hi ? hi : (v < lo ? lo : v); }
}  // namespace

int RectClipping(RECT* rect, const RECT* clip) {
  if (rect->right < rect->left) rect->right = rect->left;
  if (rect->bottom < rect->top) rect->bottom = rect->top;
  rect->bottom = Limit(rect->bottom, clip->top, clip->bottom);
  rect->top = Limit(rect->top, clip->top, clip->bottom);
  rect->right = Limit(rect->right, clip->left, clip->right);
  rect->left = Limit(rect->left, clip->left, clip->right);
  return 0;
}
