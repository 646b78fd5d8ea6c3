// The camera: look-at and angle set-ups, projection modes, the screen centre, angle recovery.
#include <qzlib/graphics/camera.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include <qzlib/math/math3d.h>
#include "tests/support/d3d_engine.h"

namespace {

using CameraTest = D3DEngineTest;

bool SameBits(const MATRIX& a, const MATRIX& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(CameraTest, NearEqualFarKeepsThePreviousProjection) {
  const MATRIX before = ViewMatrices.Projection;
  EXPECT_EQ(SetCameraNearFar(5, 5), 0);
  EXPECT_TRUE(SameBits(ViewMatrices.Projection, before));
  EXPECT_TRUE(SameBits(Dev()->Transform(D3DTS_PROJECTION), before));
  EXPECT_EQ(Camera.Near, 5.0f);  // the settings are kept even so
  SetCameraNearFar(1, 100);
  EXPECT_FLOAT_EQ(ViewMatrices.Projection.m[2][2], 100.0f / 99.0f);
}

TEST_F(CameraTest, LookAtStoresThePerpendicularUp) {
  SetCameraPositionAndTargetAndUpVec(VECTOR{0, 0, 0}, VECTOR{0, 0, 10}, VECTOR{0, 3, 4});
  EXPECT_NEAR(Camera.Up.x, 0, 1e-6);
  EXPECT_NEAR(Camera.Up.y, 1, 1e-6);
  EXPECT_NEAR(Camera.Up.z, 0, 1e-6);
  EXPECT_EQ(Camera.Target.z, 10.0f);
  EXPECT_TRUE(SameBits(Camera.View, ViewMatrices.View));
  // Looking along +x from above: horizontal angle pi/2, vertical angle 0.
  SetCameraPositionAndTargetUpVecY(VECTOR{1, 2, 3}, VECTOR{11, 2, 3});
  EXPECT_NEAR(Camera.HorizontalAngle, 1.5707964f, 1e-5);
  EXPECT_NEAR(Camera.VerticalAngle, 0, 1e-5);
  EXPECT_NEAR(Camera.TwistAngle, 0, 1e-5);
}

TEST_F(CameraTest, ZeroAnglesLookAlongZ) {
  SetCameraPositionAndAngle(VECTOR{5, 6, 7}, 0, 0, 0);
  EXPECT_FLOAT_EQ(Camera.Target.z, 8);
  EXPECT_EQ(Camera.Up.y, 1.0f);
  VECTOR ahead = {5, 6, 9}, out;
  VectorTransform(&out, &ahead, &ViewMatrices.View);
  EXPECT_NEAR(out.x, 0, 1e-5);
  EXPECT_NEAR(out.y, 0, 1e-5);
  EXPECT_NEAR(out.z, 2, 1e-5);
  // A positive vertical angle looks down, a positive horizontal one turns towards +x.
  SetCameraPositionAndAngle(VECTOR{0, 0, 0}, 0.5f, 0.25f, 0);
  EXPECT_LT(Camera.Target.y, 0);
  EXPECT_GT(Camera.Target.x, 0);
  EXPECT_EQ(Camera.VerticalAngle, 0.5f);
}

TEST_F(CameraTest, ViewMatrixLeavesPositionAndAngles) {
  SetCameraPositionAndAngle(VECTOR{1, 2, 3}, 0.1f, 0.2f, 0.3f);
  const MATRIX m = MGetRotY(1.0f);
  SetCameraViewMatrix(m);
  EXPECT_TRUE(SameBits(Camera.View, m));
  EXPECT_TRUE(SameBits(Dev()->Transform(D3DTS_VIEW), m));
  EXPECT_EQ(Camera.Position.y, 2.0f);
  EXPECT_EQ(Camera.HorizontalAngle, 0.2f);
  EXPECT_EQ(Camera.TwistAngle, 0.3f);
}

TEST_F(CameraTest, DotAspectScalesModesZeroAndOneOnly) {
  SetCameraNearFar(1, 1000);
  SetupCameraPerspective(1.0f);
  float m00 = ViewMatrices.Projection.m[0][0];
  SetCameraDotAspect(2);
  EXPECT_FLOAT_EQ(ViewMatrices.Projection.m[0][0], 2 * m00);
  SetCameraDotAspect(1);
  SetupCameraOrtho(100);
  EXPECT_EQ(Camera.ProjectionMode, 1);
  m00 = ViewMatrices.Projection.m[0][0];
  SetCameraDotAspect(2);
  EXPECT_FLOAT_EQ(ViewMatrices.Projection.m[0][0], 2 * m00);
  MATRIX own = MGetScale(VECTOR{3, 4, 5});
  SetupCameraProjectionMatrix(own);
  SetCameraDotAspect(4);
  EXPECT_TRUE(SameBits(ViewMatrices.Projection, own));
  SetCameraNearFar(2, 2000);
  EXPECT_TRUE(SameBits(ViewMatrices.Projection, own));
}

// The projection each set-up hands on, from the rules: aspect = (screen height / width) x dot
// aspect; orthographic m00 = 2 / (size / aspect), m11 = 2 / size, m22 = 1 / (far - near),
// m32 = near / (near - far), m33 = 1; perspective m00 = aspect cot(fov / 2), m11 = cot(fov / 2),
// m22 = far / (far - near), m23 = 1, m32 = -near far / (far - near).
TEST_F(CameraTest, ProjectionSetUpsPassTheirSettingsOn) {
  struct Case {
    bool Ortho;
    float SizeOrFov, Near, Far, Dot;
  };
  const Case cases[] = {{true, 100, 1, 1000, 1},   {true, 0.5f, 10, 20, 2},    {true, 3000, 0.1f, 5, 0.75f},
                        {true, -7, 5, 2, 1},       {false, 1.0f, 1, 1000, 1},  {false, 0.3f, 2, 50, 1.5f},
                        {false, 2.5f, 0.5f, 9, 1}};
  int w = 0, h = 0;
  GetDrawScreenSize(&w, &h);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Ortho ? "ortho " : "perspective ") + std::to_string(c.SizeOrFov));
    SetCameraNearFar(c.Near, c.Far);
    SetCameraDotAspect(c.Dot);
    EXPECT_EQ(c.Ortho ? SetupCameraOrtho(c.SizeOrFov) : SetupCameraPerspective(c.SizeOrFov), 0);
    EXPECT_EQ(Camera.ProjectionMode, c.Ortho ? 1 : 0);
    const float aspect = (float(h) / float(w)) * c.Dot;
    MATRIX want = {};
    if (c.Ortho) {
      want.m[0][0] = 2.0f / (c.SizeOrFov / aspect);
      want.m[1][1] = 2.0f / c.SizeOrFov;
      want.m[2][2] = 1.0f / (c.Far - c.Near);
      want.m[3][2] = c.Near / (c.Near - c.Far);
      want.m[3][3] = 1;
      EXPECT_TRUE(SameBits(ViewMatrices.Projection, want));
    } else {
      const double cot = 1.0 / std::tan(c.SizeOrFov / 2.0);
      want.m[0][0] = float(aspect * cot);
      want.m[1][1] = float(cot);
      want.m[2][2] = c.Far / (c.Far - c.Near);
      want.m[2][3] = 1;
      want.m[3][2] = -c.Near * c.Far / (c.Far - c.Near);
      ExpectMatrixNear(ViewMatrices.Projection, want, 1e-5f);
    }
    EXPECT_TRUE(SameBits(Dev()->Transform(D3DTS_PROJECTION), ViewMatrices.Projection));
  }
}

TEST_F(CameraTest, AnglesRoundTripThroughTheView) {
  for (int seed = 0; seed < 300; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> ang(-3.1f, 3.1f), pos(-1, 1);
    const VECTOR p = {pos(rng), pos(rng), pos(rng)};
    SetCameraPositionAndAngle(p, ang(rng), ang(rng), ang(rng));
    const MATRIX first = ViewMatrices.View;
    RefreshCameraAngles();
    SetCameraPositionAndAngle(p, Camera.VerticalAngle, Camera.HorizontalAngle, Camera.TwistAngle);
    SCOPED_TRACE(seed);
    ExpectMatrixNear(ViewMatrices.View, first, 1e-5f);
  }
}

}  // namespace
