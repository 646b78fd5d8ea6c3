// Frame matrices of models: the model transform, frame user local matrices, the lazy set-up of
// every world matrix, and the conversions between MATRIX and Matrix3x4.
#pragma once
#include <qzlib/base/types.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>

// m[r][c] = M[c][r] for c < 3, m[r][3] = M[3][r].
void MatrixToMatrix3x4(Matrix3x4* out, const MATRIX* in);
// The back conversion; the fourth column becomes (0, 0, 0, 1).
void Matrix3x4ToMatrix(MATRIX* out, const Matrix3x4* in);

// Flags of a set of transform components.
enum : int {
  MV1_FRAME_MATRIX_TRANSLATE = 1,
  MV1_FRAME_MATRIX_SCALE = 2,
  MV1_FRAME_MATRIX_ROTATE = 4,
  MV1_FRAME_MATRIX_QUATERNION_X = 8,     // quaternion, first form
  MV1_FRAME_MATRIX_KEY_MATRIX = 16,
  MV1_FRAME_MATRIX_QUATERNION_V = 32,    // quaternion, second form
};
// The local matrix of a set of components: rotation block from the Euler angles in the order
// (flag 4; an order outside 0..5 leaves the block as it was in *out), else a quaternion (8 or 32),
// else the identity; translation column from translate (1) or 0; each column c of the block
// multiplied by scale[c] (2). Pure.
void MV1CalcFrameLocalMatrix(Matrix3x4* out, int flags, const VECTOR* translate,
                             const VECTOR* scale, const VECTOR* rotate, const MV1Float4* quaternion,
                             int rotateOrder);

// Brings the model world matrix, every frame world matrix that change set B names and the skin-
// bone matrices up to date; nothing when the matrix-valid byte is set.
void MV1SetupMatrix(MV1Model* model);

// Model transform setters: 0, -1 on a bad handle. A change clears the matrix-valid byte and marks
// all of change set B (unless bit 0 is set).
int MV1SetPosition(int modelHandle, VECTOR position);
int MV1SetScale(int modelHandle, VECTOR scale);
int MV1SetRotationXYZ(int modelHandle, VECTOR rotate);
// Mode 3: Z = normalised zAxis, Y = the part of yAxis perpendicular to Z, normalised. -1 (nothing
// changes) when either is not finite (a zero axis, or y along z).
int MV1SetRotationZYAxis(int modelHandle, VECTOR zAxis, VECTOR yAxis, float zTwist);
// The identity returns to position, rotation and scale; any other matrix replaces them.
int MV1SetMatrix(int modelHandle, MATRIX matrix);
// Stored values; (0, 0, 0) on a bad handle.
VECTOR MV1GetPosition(int modelHandle);
VECTOR MV1GetScale(int modelHandle);
VECTOR MV1GetRotationXYZ(int modelHandle);

// Frame user local matrices: 0, -1 for a bad handle or frame index.
int MV1SetFrameUserLocalMatrix(int modelHandle, int frameIndex, MATRIX matrix);
int MV1ResetFrameUserLocalMatrix(int modelHandle, int frameIndex);
// After a set-up: the translation of the frame's world matrix ((0, 0, 0) on failure), the world
// matrix, the local matrix (identity on failure).
VECTOR MV1GetFramePosition(int modelHandle, int frameIndex);
MATRIX MV1GetFrameLocalWorldMatrix(int modelHandle, int frameIndex);
MATRIX MV1GetFrameLocalMatrix(int modelHandle, int frameIndex);
