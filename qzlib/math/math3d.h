// Single-precision vector and 4x4 matrix maths over VECTOR and MATRIX.
//
// Conventions are those of qzlib/base/types.h (row vectors, v' = v * M, translation in row 3,
// left-handed, radians). Element mij is m[i][j], row i, column j. Arithmetic is in 32-bit floats
// in the order each contract writes it (the build never contracts a*b+c). Functions that fill an
// out-parameter return 0 unless stated; out may alias an input everywhere.
//
// Rotation orders: 0 XYZ, 1 XZY, 2 YZX, 3 YXZ, 4 ZXY, 5 ZYX, the letters naming the order in which
// the single-axis rotations apply to a row vector: order XYZ is RotX(x) * RotY(y) * RotZ(z).
#pragma once
#include <qzlib/base/types.h>

// ---- Vectors, by pointer ----

// out = a + b.
int VectorAdd(VECTOR* out, const VECTOR* a, const VECTOR* b);
// out = a - b.
int VectorSub(VECTOR* out, const VECTOR* a, const VECTOR* b);
// out = a - b; returns out.
VECTOR* VSubInline(VECTOR* out, const VECTOR* a, const VECTOR* b);
// out = a x b = (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x).
int VectorCross(VECTOR* out, const VECTOR* a, const VECTOR* b);
// a.x*b.x + a.y*b.y + a.z*b.z.
float VectorDot(const VECTOR* a, const VECTOR* b);
// out = v / sqrt(v.x*v.x + v.y*v.y + v.z*v.z), each component divided; a zero vector gives NaN.
int VectorNormalize(VECTOR* out, const VECTOR* v);
// Point transform: out.j = v.x*m0j + v.y*m1j + v.z*m2j + m3j.
int VectorTransform(VECTOR* out, const VECTOR* v, const MATRIX* m);
// The same as VectorTransform; returns out.
VECTOR* VTransformInline(VECTOR* out, const VECTOR* v, const MATRIX* m);
// Direction transform: out.j = v.x*m0j + v.y*m1j + v.z*m2j (no translation); returns out.
VECTOR* VTransformSRInline(VECTOR* out, const VECTOR* v, const MATRIX* m);
// Homogeneous transform of (v, *w): out.j = v.x*m0j + v.y*m1j + v.z*m2j + w*m3j for j < 3 and
// *outW = v.x*m03 + v.y*m13 + v.z*m23 + w*m33.
int VectorTransform4(VECTOR* out, float* outW, const VECTOR* v, const float* w, const MATRIX* m);

// ---- Vectors, by value ----

// v / |v| as VectorNormalize (no guard).
VECTOR VNorm(VECTOR v);
// |v|, or 0 when v.x*v.x + v.y*v.y + v.z*v.z < 1e-7.
float VSize(VECTOR v);
// VNorm(a) . VNorm(b).
float GetVectorAngleCos(VECTOR a, VECTOR b);

// ---- 4x4 builders with an out-parameter ----

int CreateIdentityMatrix(MATRIX* out);
// out = a * b (out_ij = a_i0*b_0j + a_i1*b_1j + a_i2*b_2j + a_i3*b_3j); a null out is ignored.
int CreateMultiplyMatrix(MATRIX* out, const MATRIX* a, const MATRIX* b);
// Diagonal (sx, sy, sz, 1).
int CreateScalingMatrix(MATRIX* out, float sx, float sy, float sz);
// Identity with row 3 = (x, y, z, 1).
int CreateTranslationMatrix(MATRIX* out, float x, float y, float z);
// m00 = 1, m11 = cos, m12 = sin, m21 = -sin, m22 = cos, m33 = 1 (SinCos of the angle).
int CreateRotationXMatrix(MATRIX* out, float angle);
// m00 = cos, m02 = -sin, m11 = 1, m20 = sin, m22 = cos, m33 = 1.
int CreateRotationYMatrix(MATRIX* out, float angle);
// m00 = cos, m01 = sin, m10 = -sin, m11 = cos, m22 = 1, m33 = 1.
int CreateRotationZMatrix(MATRIX* out, float angle);
int CreateTransposeMatrix(MATRIX* out, const MATRIX* m);
// Adjugate over the determinant (cofactors in double, the determinant rounded to float). Returns -1
// and leaves out untouched when -1e-7 < det < 1e-7.
int CreateInverseMatrix(MATRIX* out, const MATRIX* m);
// Perspective projection, fov the full vertical angle; aspect (height / width, multiplies the
// horizontal scale) < 0 takes the draw-screen ratio. cot = cos / sin of fov / 2: m00 = aspect*cot,
// m11 = cot, m22 = far / (far - near), m23 = 1, m32 = -near*far / (far - near). Returns -1 (out
// untouched) when |far - near| < 0.0001 or |sin(fov / 2)| < 0.0001.
int CreatePerspectiveFovMatrix(MATRIX* out, float fov, float zNear, float zFar, float aspect);
// Orthographic projection, size the visible height; aspect < 0 as above. m00 = 2 / (size /
// aspect), m11 = 2 / size, m22 = 1 / (far - near), m32 = near / (near - far), m33 = 1. Returns -1
// (out untouched) when |near - far| < 0.0001 or size is 0.
int CreateOrthoMatrix(MATRIX* out, float size, float zNear, float zFar, float aspect);
// m00 = w * 0.5, m11 = -h * 0.5, m22 = 1, row 3 = (cx, cy, 0, 1).
int CreateViewportMatrix(MATRIX* out, float cx, float cy, float w, float h);
// View matrix: z = target - eye, x = up x z, y = z x x, each then normalised (no guard: an up
// vector along the view gives non-finite elements); then as MGetAxis2(x, y, z, eye).
int CreateLookAtMatrix(MATRIX* out, const VECTOR* eye, const VECTOR* target, const VECTOR* up);

// Euler rotations, one SinCos per angle; the fourth row and column are (0, 0, 0, 1).
int CreateRotationXYZMatrix(MATRIX* out, float x, float y, float z);
int CreateRotationXZYMatrix(MATRIX* out, float x, float y, float z);
int CreateRotationYZXMatrix(MATRIX* out, float x, float y, float z);
int CreateRotationYXZMatrix(MATRIX* out, float x, float y, float z);
int CreateRotationZXYMatrix(MATRIX* out, float x, float y, float z);
int CreateRotationZYXMatrix(MATRIX* out, float x, float y, float z);

// Euler angles of the rotation part of m for the builder of the same order; null out-pointers are
// skipped. Returns 0, or -1 in the gimbal case (tested element within 1e-5 of +-1): the first
// applied angle is then 0, the middle one +-pi/2 and the last one comes from a single atan2.
int GetMatrixXYZRotation(const MATRIX* m, float* x, float* y, float* z);
int GetMatrixXZYRotation(const MATRIX* m, float* x, float* y, float* z);
int GetMatrixYZXRotation(const MATRIX* m, float* x, float* y, float* z);
int GetMatrixYXZRotation(const MATRIX* m, float* x, float* y, float* z);
int GetMatrixZXYRotation(const MATRIX* m, float* x, float* y, float* z);
int GetMatrixZYXRotation(const MATRIX* m, float* x, float* y, float* z);

// ---- 4x4, by value ----

MATRIX MGetIdent();
// a * b.
MATRIX MMult(MATRIX a, MATRIX b);
// Every element (the fourth row and column too) times s.
MATRIX MScale(MATRIX m, float s);
// Element-wise a + b.
MATRIX MAdd(MATRIX a, MATRIX b);
// Diagonal (v.x, v.y, v.z, 1).
MATRIX MGetScale(VECTOR v);
MATRIX MGetRotX(float angle);
MATRIX MGetRotY(float angle);
MATRIX MGetRotZ(float angle);
// Identity with row 3 = (v, 1).
MATRIX MGetTranslate(VECTOR v);
// Rows (x, 0), (y, 0), (z, 0), (pos, 1): places a local frame with these axes at pos.
MATRIX MGetAxis1(VECTOR x, VECTOR y, VECTOR z, VECTOR pos);
// Rows (x.x, y.x, z.x, 0), (x.y, y.y, z.y, 0), (x.z, y.z, z.z, 0), (-(x.pos), -(y.pos),
// -(z.pos), 1): the inverse of MGetAxis1 for orthonormal axes.
MATRIX MGetAxis2(VECTOR x, VECTOR y, VECTOR z, VECTOR pos);
MATRIX MTranspose(MATRIX m);
// CreateInverseMatrix, or the identity when m is singular.
MATRIX MInverse(MATRIX m);
// Rotation by +angle about axis in the sense of the single-axis builders (axis x gives MGetRotX).
MATRIX MGetRotAxis(VECTOR axis, float angle);
// Rotation turning direction from into direction to: axis from x to, angle acos of the clamped
// cosine. The pair is parallel when |from x to|^2 < 1e-7 min(1, |from|^2 |to|^2) or the cross
// product is exactly zero: then the identity when from . to > 0, else the axis (1, 0, 0), except
// for opposite directions with |from.x| > 1e-3 |from|, which take VNorm(from x (0, 1, 0)).
// A zero vector (squared length 0 in float) on either side gives the identity.
MATRIX MGetRotVec2(VECTOR from, VECTOR to);

// Local transform of a frame: scale, then the three single-axis rotations in the given order,
// then the extra XYZ rotation when extraRotate is not null, then the translation. Returns -1
// (out untouched) for an order outside 0..5.
int CreateTransformMatrix(const VECTOR* rotate, const VECTOR* scale, const VECTOR* translate,
                          const VECTOR* extraRotate, MATRIX* out, int rotateOrder);
