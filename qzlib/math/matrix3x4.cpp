#include <qzlib/math/matrix3x4.h>

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/math/math_inline.h>

alignas(64) float MV1SinTable[65536];

void MV1InitSinTable() {
  const double pi = static_cast<double>(3.14159265358979323846f);
  for (int i = 0; i < 65536; ++i) {
    float angle = static_cast<float>(2.0 * (static_cast<double>(i) * pi) * (1.0 / 65536.0));
    float s, c;
    SinCos(angle, &s, &c);
    MV1SinTable[i] = s;
  }
}

void MV1SinCos(float angle, float* outSin, float* outCos) {
  // 65536 / 2pi as a float, then 1.5 * 2^23: the sum's low mantissa bits hold the rounded index
  // (negative ones in two's complement).
  float f = angle * 10430.3779296875f + 12582912.0f;
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  uint32_t i = bits & 0xFFFFu;
  *outSin = MV1SinTable[i];
  *outCos = MV1SinTable[(i + 16384u) & 0xFFFFu];
}

void VTransformMatrix3x4(const Matrix3x4* a, VECTOR* out, const VECTOR* p) {
  VECTOR v = *p;
  const float(*m)[4] = a->m;
  out->x = m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z + m[0][3];
  out->y = m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z + m[1][3];
  out->z = m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z + m[2][3];
}

namespace {

void TableEuler(int order, Matrix3x4* out, float x, float y, float z) {
  float sx, cx, sy, cy, sz, cz;
  MV1SinCos(x, &sx, &cx);
  MV1SinCos(y, &sy, &cy);
  MV1SinCos(z, &sz, &cz);
  float b[3][3];
  mathinl::EulerBlock(order, sx, cx, sy, cy, sz, cz, b);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out->m[i][j] = b[j][i];
    out->m[i][3] = 0.0f;
  }
}

}  // namespace

void MV1RotationMatrixXYZ(Matrix3x4* out, float x, float y, float z) {
  TableEuler(0, out, x, y, z);
}
void MV1RotationMatrixXZY(Matrix3x4* out, float x, float y, float z) {
  TableEuler(1, out, x, y, z);
}
void MV1RotationMatrixYZX(Matrix3x4* out, float x, float y, float z) {
  TableEuler(2, out, x, y, z);
}
void MV1RotationMatrixYXZ(Matrix3x4* out, float x, float y, float z) {
  TableEuler(3, out, x, y, z);
}
void MV1RotationMatrixZXY(Matrix3x4* out, float x, float y, float z) {
  TableEuler(4, out, x, y, z);
}
void MV1RotationMatrixZYX(Matrix3x4* out, float x, float y, float z) {
  TableEuler(5, out, x, y, z);
}

void MV1MultiplyMatrix3x4(const Matrix3x4* a, Matrix3x4* out, const Matrix3x4* b) {
  // Row i of the result is a_i0*B0 + a_i1*B1 + a_i2*B2 over the rows of B, lane by lane, plus
  // (-0, -0, -0, t_i): adding -0 leaves every value (a zero's sign too) as it is, so the rotation
  // lanes are exactly the three-term sums and the translation lane adds t_i last.
  __m128 b0 = _mm_loadu_ps(b->m[0]), b1 = _mm_loadu_ps(b->m[1]), b2 = _mm_loadu_ps(b->m[2]);
  __m128 r[3];
  for (int i = 0; i < 3; ++i) {
    const float* ai = a->m[i];
    __m128 s = _mm_mul_ps(_mm_set1_ps(ai[0]), b0);
    s = _mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(ai[1]), b1));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(ai[2]), b2));
    r[i] = _mm_add_ps(s, _mm_setr_ps(-0.0f, -0.0f, -0.0f, ai[3]));
  }
  for (int i = 0; i < 3; ++i) _mm_storeu_ps(out->m[i], r[i]);
}

void MV1MultiplyMatrix3x4Translate(const Matrix3x4* a, Matrix3x4* out, const Matrix3x4* b) {
  Matrix3x4 r = *a;
  for (int i = 0; i < 3; ++i) {
    const float* ai = a->m[i];
    r.m[i][3] = ai[0] * b->m[0][3] + ai[1] * b->m[1][3] + ai[2] * b->m[2][3] + ai[3];
  }
  *out = r;
}
