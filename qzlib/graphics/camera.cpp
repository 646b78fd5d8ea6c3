#include <qzlib/graphics/camera.h>

#include <cmath>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/math/math3d.h>

CameraSettings Camera = {0,  10, 10000, 1, 1.0471976f, 1, {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}},
                         {}, {}, {},    0, 0,          0, {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}};

void ResetCameraSettings() {
  Camera.ProjectionMode = 0;
  Camera.Near = 10;
  Camera.Far = 10000;
  Camera.DotAspect = 1;
  Camera.Fov = 1.0471976f;
  Camera.OrthoSize = 1;
  CreateIdentityMatrix(&Camera.Projection);
}

namespace {

// Look-at set-up shared by both look-at setters.
int LookAt(const VECTOR& position, const VECTOR& target, const VECTOR& up) {
  Camera.Position = position;
  Camera.Target = target;
  VECTOR dir, side, perp;
  VectorSub(&dir, &target, &position);
  VectorCross(&side, &dir, &up);
  VectorCross(&perp, &side, &dir);
  VectorNormalize(&Camera.Up, &perp);
  MATRIX view;
  CreateLookAtMatrix(&view, &Camera.Position, &Camera.Target, &Camera.Up);
  SetViewMatrix(&view);
  Camera.View = view;
  return RefreshCameraAngles();
}

}  // namespace

int SetCameraPositionAndTargetUpVecY(VECTOR position, VECTOR target) {
  return LookAt(position, target, VECTOR{0, 1, 0});
}

int SetCameraPositionAndTargetAndUpVec(VECTOR position, VECTOR target, VECTOR up) {
  return LookAt(position, target, up);
}

int SetCameraPositionAndAngle(VECTOR position, float v, float h, float t) {
  Camera.Position = position;
  Camera.VerticalAngle = v;
  Camera.HorizontalAngle = h;
  Camera.TwistAngle = t;
  float sv, cv, sh, ch, st, ct;
  SinCos(v, &sv, &cv);
  SinCos(h, &sh, &ch);
  SinCos(t, &st, &ct);
  const VECTOR forward = {cv * sh, -sv, cv * ch};
  const VECTOR up0 = {sv * sh, cv, sv * ch};
  const VECTOR right = {ch, 0, -sh};
  const VECTOR up = {up0.x * ct - right.x * st, up0.y * ct - right.y * st,
                     up0.z * ct - right.z * st};
  VECTOR target;
  VectorAdd(&target, &position, &forward);
  MATRIX view;
  CreateLookAtMatrix(&view, &position, &target, &up);
  SetViewMatrix(&view);
  Camera.View = view;
  Camera.Target = target;
  Camera.Up = up;
  return 0;
}

int SetCameraViewMatrix(MATRIX view) {
  Camera.View = view;
  SetViewMatrix(&view);
  return 0;
}

int SetCameraDotScreenCenter(float x, float y) {
  MATRIX vp;
  CreateViewportMatrix(&vp, x, y, float(DrawArea.right - DrawArea.left),
                       float(DrawArea.bottom - DrawArea.top));
  return SetViewportMatrix(&vp);
}

int SetCameraNearFar(float zNear, float zFar) {
  Camera.Near = zNear;
  Camera.Far = zFar;
  return RefreshProjectionMatrix();
}

int SetupCameraPerspective(float fov) {
  Camera.ProjectionMode = 0;
  Camera.Fov = fov;
  return RefreshProjectionMatrix();
}

int SetupCameraOrtho(float size) {
  Camera.ProjectionMode = 1;
  Camera.OrthoSize = size;
  return RefreshProjectionMatrix();
}

int SetupCameraProjectionMatrix(MATRIX projection) {
  return SetupCameraProjectionMatrixByPtr(&projection);
}

int SetupCameraProjectionMatrixByPtr(const MATRIX* projection) {
  Camera.ProjectionMode = 2;
  Camera.Projection = *projection;
  return RefreshProjectionMatrix();
}

int SetCameraDotAspect(float factor) {
  Camera.DotAspect = factor;
  return RefreshProjectionMatrix();
}

int RefreshCameraAngles() {
  const MATRIX& m = ViewMatrices.View;
  const VECTOR x = {m.m[0][0], m.m[1][0], m.m[2][0]};
  const VECTOR z = {m.m[0][2], m.m[1][2], m.m[2][2]};
  const bool upright = m.m[1][1] >= 0;
  const float h = upright ? std::atan2(z.x, z.z) : std::atan2(-z.x, -z.z);
  float s, c;
  SinCos(-h, &s, &c);
  const float xx = c * x.x + s * x.z;
  const float xz = c * x.z - s * x.x;
  const float zz = c * z.z - s * z.x;
  float v;
  if (upright) v = std::atan2(-z.y, zz);
  else if (z.y <= 0) v = std::atan2(-zz, -z.y) + 1.5707964f;
  else v = -std::atan2(-zz, z.y) - 1.5707964f;
  float s2, c2;
  SinCos(-v, &s2, &c2);
  const float t = std::atan2(c2 * x.y - s2 * xz, xx);
  Camera.HorizontalAngle = h;
  Camera.VerticalAngle = v;
  Camera.TwistAngle = t;
  return 0;
}
