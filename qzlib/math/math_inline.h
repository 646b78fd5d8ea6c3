// Inline helpers shared by the maths sources of the model system: by-value vector arithmetic and
// the nine elements of the six Euler rotations. Not a public interface.
#pragma once
#include <qzlib/base/mathutil.h>
#include <qzlib/base/types.h>

namespace mathinl {

inline VECTOR Add(VECTOR a, VECTOR b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline VECTOR Sub(VECTOR a, VECTOR b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline VECTOR Scale(VECTOR a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline float Dot(VECTOR a, VECTOR b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline VECTOR Cross(VECTOR a, VECTOR b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// v divided by its length, component by component; no guard against a zero vector.
inline VECTOR Normalize(VECTOR v) {
  float len = SqrtFloat(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x / len, v.y / len, v.z / len};
}

// Rotation block r (row-vector form, as in a MATRIX) of the Euler rotation of the given order
// (0 XYZ .. 5 ZYX) from the sines and cosines of the three angles. Each element is the product of
// the single-axis matrices written out; XYZ keeps the factor order of its reference formula.
inline void EulerBlock(int order, float sx, float cx, float sy, float cy, float sz, float cz,
                       float r[3][3]) {
  // clang-format off
  switch (order) {
    case 0:  // RotX * RotY * RotZ
      r[0][0] = cz * cy;                 r[0][1] = cy * sz;                 r[0][2] = -sy;
      r[1][0] = sy * sx * cz - sz * cx;  r[1][1] = sy * sx * sz + cz * cx;  r[1][2] = cy * sx;
      r[2][0] = sy * cx * cz + sz * sx;  r[2][1] = sz * sy * cx - sx * cz;  r[2][2] = cx * cy;
      break;
    case 1:  // RotX * RotZ * RotY
      r[0][0] = cz * cy;                 r[0][1] = sz;       r[0][2] = -(cz * sy);
      r[1][0] = sx * sy - cx * sz * cy;  r[1][1] = cx * cz;  r[1][2] = cx * sz * sy + sx * cy;
      r[2][0] = sx * sz * cy + cx * sy;  r[2][1] = -(sx * cz);  r[2][2] = cx * cy - sx * sz * sy;
      break;
    case 2:  // RotY * RotZ * RotX
      r[0][0] = cy * cz;  r[0][1] = cy * sz * cx + sy * sx;  r[0][2] = cy * sz * sx - sy * cx;
      r[1][0] = -sz;      r[1][1] = cz * cx;                 r[1][2] = cz * sx;
      r[2][0] = sy * cz;  r[2][1] = sy * sz * cx - cy * sx;  r[2][2] = sy * sz * sx + cy * cx;
      break;
    case 3:  // RotY * RotX * RotZ
      r[0][0] = cy * cz - sy * sx * sz;  r[0][1] = cy * sz + sy * sx * cz;  r[0][2] = -(sy * cx);
      r[1][0] = -(cx * sz);              r[1][1] = cx * cz;                 r[1][2] = sx;
      r[2][0] = sy * cz + cy * sx * sz;  r[2][1] = sy * sz - cy * sx * cz;  r[2][2] = cy * cx;
      break;
    case 4:  // RotZ * RotX * RotY
      r[0][0] = cz * cy + sz * sx * sy;  r[0][1] = sz * cx;  r[0][2] = sz * sx * cy - cz * sy;
      r[1][0] = cz * sx * sy - sz * cy;  r[1][1] = cz * cx;  r[1][2] = sz * sy + cz * sx * cy;
      r[2][0] = cx * sy;                 r[2][1] = -sx;      r[2][2] = cx * cy;
      break;
    default:  // 5: RotZ * RotY * RotX
      r[0][0] = cz * cy;     r[0][1] = sz * cx + cz * sy * sx;  r[0][2] = sz * sx - cz * sy * cx;
      r[1][0] = -(sz * cy);  r[1][1] = cz * cx - sz * sy * sx;  r[1][2] = cz * sx + sz * sy * cx;
      r[2][0] = sy;          r[2][1] = -(cy * sx);              r[2][2] = cy * cx;
      break;
  }
  // clang-format on
}

}  // namespace mathinl
