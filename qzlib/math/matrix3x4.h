// The model runtime's compact affine transform and its table sine.
//
// Matrix3x4 is column-vector form: row i = (a_i0, a_i1, a_i2, t_i) maps a point p to
// p'_i = a_i0*p.x + a_i1*p.y + a_i2*p.z + t_i. Columns 0 to 2 are the X, Y and Z axes, column 3
// the translation; it is the transpose of a MATRIX (qzlib/base/types.h) without its fourth
// column: m[i][j] = M[j][i] for j < 3, m[i][3] = M[3][i].
#pragma once
#include <qzlib/base/types.h>

struct Matrix3x4 {
  float m[3][4];
};

// sin(i * 2pi / 65536) for i = 0..65535; the cosine of index i is entry (i + 16384) & 0xFFFF.
extern float MV1SinTable[65536];

// Fills MV1SinTable: entry i = sine (by SinCos) of the float angle (float)(2 * (i * pi) / 65536),
// worked out in double from the float value of pi. Called by the model system start.
void MV1InitSinTable();

// Table sine and cosine: the angle scaled by 65536 / 2pi and rounded to nearest through the float
// sum angle * 10430.378 + 1.5 * 2^23; its low 16 bits index the table. Exact rounding holds for
// |angle| up to about 402 radians.
void MV1SinCos(float angle, float* outSin, float* outCos);

// out = A applied to p: out_i = a_i0*p.x + a_i1*p.y + a_i2*p.z + t_i.
void VTransformMatrix3x4(const Matrix3x4* a, VECTOR* out, const VECTOR* p);

// Euler rotations with table sine and cosine: the rotation part is the transpose of the 4x4
// builder of the same order (CreateRotationXYZMatrix ...), the translation column 0.
void MV1RotationMatrixXYZ(Matrix3x4* out, float x, float y, float z);
void MV1RotationMatrixXZY(Matrix3x4* out, float x, float y, float z);
void MV1RotationMatrixYZX(Matrix3x4* out, float x, float y, float z);
void MV1RotationMatrixYXZ(Matrix3x4* out, float x, float y, float z);
void MV1RotationMatrixZXY(Matrix3x4* out, float x, float y, float z);
void MV1RotationMatrixZYX(Matrix3x4* out, float x, float y, float z);

// out = A after B (B applied first): out.rot = A.rot * B.rot, out.t = A.rot * B.t + A.t, each
// element summed over k = 0, 1, 2 in order (the translation adds t_i last). out may alias.
void MV1MultiplyMatrix3x4(const Matrix3x4* a, Matrix3x4* out, const Matrix3x4* b);
// out.rot = A.rot, out.t = A.rot * B.t + A.t (only B's translation is read). out may alias.
void MV1MultiplyMatrix3x4Translate(const Matrix3x4* a, Matrix3x4* out, const Matrix3x4* b);
