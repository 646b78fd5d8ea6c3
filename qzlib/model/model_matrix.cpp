// Frame matrices: model transform setters, frame user local matrices and the lazy set-up.
#include <qzlib/model/model_matrix.h>

#include <cmath>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_anim.h>

void MatrixToMatrix3x4(Matrix3x4* out, const MATRIX* in) {
  Matrix3x4 r;
  for (int row = 0; row < 3; ++row) {
    for (int c = 0; c < 3; ++c) r.m[row][c] = in->m[c][row];
    r.m[row][3] = in->m[3][row];
  }
  *out = r;
}

void Matrix3x4ToMatrix(MATRIX* out, const Matrix3x4* in) {
  MATRIX r;
  for (int row = 0; row < 3; ++row) {
    for (int c = 0; c < 3; ++c) r.m[c][row] = in->m[row][c];
    r.m[3][row] = in->m[row][3];
  }
  r.m[0][3] = r.m[1][3] = r.m[2][3] = 0.0f;
  r.m[3][3] = 1.0f;
  *out = r;
}

void MV1CalcFrameLocalMatrix(Matrix3x4* out, int flags, const VECTOR* translate,
                             const VECTOR* scale, const VECTOR* rotate, const MV1Float4* quaternion,
                             int rotateOrder) {
  if (flags & MV1_FRAME_MATRIX_ROTATE) {
    using Builder = void (*)(Matrix3x4*, float, float, float);
    static const Builder builders[6] = {MV1RotationMatrixXYZ, MV1RotationMatrixXZY,
                                        MV1RotationMatrixYZX, MV1RotationMatrixYXZ,
                                        MV1RotationMatrixZXY, MV1RotationMatrixZYX};
    if (rotateOrder >= 0 && rotateOrder <= 5) builders[rotateOrder](out, rotate->x, rotate->y, rotate->z);
  } else if (flags & MV1_FRAME_MATRIX_QUATERNION_X) {
    float x = quaternion->x, y = quaternion->y, z = quaternion->z, w = quaternion->w;
    MATRIX a = {{{w, -z, y, x}, {z, w, -x, y}, {-y, x, w, z}, {-x, -y, -z, w}}};
    MATRIX b = {{{w, -z, y, -x}, {z, w, -x, -y}, {-y, x, w, -z}, {x, y, z, w}}};
    MATRIX ba;
    CreateMultiplyMatrix(&ba, &b, &a);
    MatrixToMatrix3x4(out, &ba);
  } else if (flags & MV1_FRAME_MATRIX_QUATERNION_V) {
    float x = quaternion->x, y = quaternion->y, z = quaternion->z, w = quaternion->w;
    float xx = 2 * x * x, yy = 2 * y * y, zz = 2 * z * z;
    float xy = 2 * x * y, yz = 2 * y * z, xz = 2 * x * z;
    float wx = 2 * w * x, wy = 2 * w * y, wz = 2 * w * z;
    out->m[0][0] = 1.0f - yy - zz; out->m[0][1] = xy - wz;        out->m[0][2] = xz + wy;
    out->m[1][0] = xy + wz;        out->m[1][1] = 1.0f - xx - zz; out->m[1][2] = yz - wx;
    out->m[2][0] = xz - wy;        out->m[2][1] = yz + wx;        out->m[2][2] = 1.0f - xx - yy;
  } else {
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) out->m[r][c] = r == c ? 1.0f : 0.0f;
  }
  if (flags & MV1_FRAME_MATRIX_TRANSLATE) {
    out->m[0][3] = translate->x;
    out->m[1][3] = translate->y;
    out->m[2][3] = translate->z;
  } else {
    out->m[0][3] = out->m[1][3] = out->m[2][3] = 0.0f;
  }
  if (flags & MV1_FRAME_MATRIX_SCALE) {
    const float s[3] = {scale->x, scale->y, scale->z};
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) out->m[r][c] *= s[c];
  }
}

namespace {

void BuildModelMatrix(MV1Model* model) {
  if (model->UseUserMatrix) {
    model->Matrix = model->UserMatrix;
    return;
  }
  MATRIX rotation, scale, translate, rs, rst;
  if (model->RotationType == MV1_ROTATE_TYPE_ZAXIS) {
    const VECTOR& z = model->Rotation.ZYAxis.ZAxis;
    const VECTOR& y = model->Rotation.ZYAxis.YAxis;
    VECTOR x;
    CrossVector3(&x, &y, &z);
    rotation = MGetAxis1(x, y, z, VECTOR{0, 0, 0});
  } else {
    const VECTOR& r = model->Rotation.XYZ;
    CreateRotationXYZMatrix(&rotation, r.x, r.y, r.z);
  }
  CreateScalingMatrix(&scale, model->Scale.x, model->Scale.y, model->Scale.z);
  CreateTranslationMatrix(&translate, model->Translation.x, model->Translation.y,
                          model->Translation.z);
  CreateMultiplyMatrix(&rs, &rotation, &scale);
  CreateMultiplyMatrix(&rst, &rs, &translate);
  MatrixToMatrix3x4(&model->Matrix, &rst);
}

// A change of the model transform: the matrices go out of date and every frame with them.
void ModelTransformChanged(MV1Model* model) {
  model->ValidMatrix = 0;
  MV1SetModelChangeFlagAll(model->ChangeMatrixFlag, model->ChangeMatrixFlagSize);
}

bool SameBits(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

bool Finite(const VECTOR& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

MV1Frame* FrameOf(int modelHandle, int frameIndex) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model || frameIndex < 0 || frameIndex >= model->BaseData->FrameCount) return nullptr;
  return &model->Frame[frameIndex];
}

MV1Frame* SetupFrameOf(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (frame && !frame->Container->ValidMatrix) MV1SetupMatrix(frame->Container);
  return frame;
}

}  // namespace

void MV1SetupMatrix(MV1Model* model) {
  if (model->ValidMatrix) return;
  model->RefMeshUpToDate[1] = 0;
  // A frame's skinned vertices follow bone frames anywhere in the tree.
  for (int i = 0; i < model->BaseData->FrameCount; ++i) model->Frame[i].RefMeshUpToDate[1] = 0;
  if (!model->AnimSetupFlag) MV1RefreshAttachList(model);
  if (model->ChangeMatrixFlag[0] & 1) BuildModelMatrix(model);

  MV1ModelBase* base = model->BaseData;
  for (int i = 0; i < base->FrameCount; ++i) {
    MV1Frame* frame = &model->Frame[i];
    if (!(*frame->ChangeMatrixFlag.Word & frame->ChangeMatrixFlag.Info->OwnBit)) continue;
    frame->ValidLocalWorldMatrixM = 0;
    const Matrix3x4* parent = frame->Parent ? &frame->Parent->WorldMatrix : &model->Matrix;
    MV1FrameBase* fb = frame->Base;
    Matrix3x4 animLocal;
    if (frame->UseUserLocalMatrix) {
      MV1MultiplyMatrix3x4(parent, &frame->WorldMatrix, &frame->UserLocalMatrix);
    } else if (model->AttachAnimCount <= 0) {
      MV1MultiplyMatrix3x4(parent, &frame->WorldMatrix, &fb->LocalTransformMatrix);
    } else if (MV1AnimFrameLocalMatrix(model, frame, &animLocal) > 0) {
      MV1MultiplyMatrix3x4(parent, &frame->WorldMatrix, &animLocal);
    } else if (fb->LocalTransformMatrixType == 0) {
      frame->WorldMatrix = *parent;
    } else if (fb->LocalTransformMatrixType == 1) {
      MV1MultiplyMatrix3x4Translate(parent, &frame->WorldMatrix, &fb->LocalTransformMatrix);
    } else {
      MV1MultiplyMatrix3x4(parent, &frame->WorldMatrix, &fb->LocalTransformMatrix);
    }
    for (int k = 0; k < fb->SkinBoneCount; ++k) {
      MV1SkinBoneBase* bone = &fb->SkinBone[k];
      Matrix3x4* out = &model->SkinBoneMatrix[bone - base->SkinBone];
      if (bone->TranslateOnly)
        MV1MultiplyMatrix3x4Translate(&frame->WorldMatrix, out, &bone->ModelLocalMatrix);
      else
        MV1MultiplyMatrix3x4(&frame->WorldMatrix, out, &bone->ModelLocalMatrix);
    }
  }
  std::memset(model->ChangeMatrixFlag, 0, model->ChangeMatrixFlagSize);
  model->ValidMatrix = 1;
}

int MV1SetPosition(int modelHandle, VECTOR position) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  if (SameBits(&model->Translation, &position, sizeof(VECTOR))) return 0;
  model->Translation = position;
  ModelTransformChanged(model);
  return 0;
}

int MV1SetScale(int modelHandle, VECTOR scale) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  if (SameBits(&model->Scale, &scale, sizeof(VECTOR))) return 0;
  model->Scale = scale;
  ModelTransformChanged(model);
  return 0;
}

int MV1SetRotationXYZ(int modelHandle, VECTOR rotate) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  if (model->RotationType == MV1_ROTATE_TYPE_XYZROT &&
      SameBits(&model->Rotation.XYZ, &rotate, sizeof(VECTOR)))
    return 0;
  model->Rotation.XYZ = rotate;
  model->RotationType = MV1_ROTATE_TYPE_XYZROT;
  ModelTransformChanged(model);
  return 0;
}

int MV1SetRotationZYAxis(int modelHandle, VECTOR zAxis, VECTOR yAxis, float zTwist) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  VECTOR z = VNorm(zAxis), zy, y;
  CrossVector3(&zy, &z, &yAxis);
  CrossVector3(&y, &zy, &z);
  y = VNorm(y);
  // A zero axis, or y along z, would make every frame matrix NaN.
  if (!Finite(z) || !Finite(y)) return -1;
  model->RotationType = MV1_ROTATE_TYPE_ZAXIS;
  model->Rotation.ZYAxis.ZAxis = z;
  model->Rotation.ZYAxis.YAxis = y;
  model->Rotation.ZYAxis.ZTwist = zTwist;
  ModelTransformChanged(model);
  return 0;
}

int MV1SetMatrix(int modelHandle, MATRIX matrix) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  MATRIX identity = MGetIdent();
  if (SameBits(&matrix, &identity, sizeof(MATRIX))) {
    if (!model->UseUserMatrix) return 0;
    model->UseUserMatrix = 0;
  } else {
    Matrix3x4 m;
    MatrixToMatrix3x4(&m, &matrix);
    if (model->UseUserMatrix && SameBits(&m, &model->UserMatrix, sizeof(Matrix3x4))) return 0;
    model->UserMatrix = m;
    model->UseUserMatrix = 1;
  }
  ModelTransformChanged(model);
  return 0;
}

VECTOR MV1GetPosition(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->Translation : VECTOR{0, 0, 0};
}

VECTOR MV1GetScale(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->Scale : VECTOR{0, 0, 0};
}

VECTOR MV1GetRotationXYZ(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->Rotation.XYZ : VECTOR{0, 0, 0};
}

int MV1SetFrameUserLocalMatrix(int modelHandle, int frameIndex, MATRIX matrix) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (!frame) return -1;
  MatrixToMatrix3x4(&frame->UserLocalMatrix, &matrix);
  frame->UseUserLocalMatrix = 1;
  frame->Container->ValidMatrix = 0;
  MV1SetFrameChangeFlag(&frame->ChangeMatrixFlag);
  return 0;
}

int MV1ResetFrameUserLocalMatrix(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (!frame) return -1;
  if (!frame->UseUserLocalMatrix) return 0;
  frame->UseUserLocalMatrix = 0;
  frame->Container->ValidMatrix = 0;
  MV1SetFrameChangeFlag(&frame->ChangeMatrixFlag);
  return 0;
}

VECTOR MV1GetFramePosition(int modelHandle, int frameIndex) {
  MV1Frame* frame = SetupFrameOf(modelHandle, frameIndex);
  if (!frame) return VECTOR{0, 0, 0};
  const Matrix3x4& w = frame->WorldMatrix;
  return VECTOR{w.m[0][3], w.m[1][3], w.m[2][3]};
}

MATRIX MV1GetFrameLocalWorldMatrix(int modelHandle, int frameIndex) {
  MV1Frame* frame = SetupFrameOf(modelHandle, frameIndex);
  if (!frame) return MGetIdent();
  MATRIX out;
  Matrix3x4ToMatrix(&out, &frame->WorldMatrix);
  return out;
}

MATRIX MV1GetFrameLocalMatrix(int modelHandle, int frameIndex) {
  MV1Frame* frame = SetupFrameOf(modelHandle, frameIndex);
  if (!frame) return MGetIdent();
  Matrix3x4 local = frame->UserLocalMatrix;
  if (!frame->UseUserLocalMatrix) MV1AnimFrameQueryLocalMatrix(frame->Container, frame, &local);
  MATRIX out;
  Matrix3x4ToMatrix(&out, &local);
  return out;
}
