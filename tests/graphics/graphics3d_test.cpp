// The graphics core's 3-D share: Direct3D start and end, draw settings, the draw-screen view and
// the transforms the device receives.
#include "engine/graphics/graphics3d.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/graphics/graph.h"
#include "engine/model/camera.h"
#include "engine/model/light.h"
#include "engine/model/math3d.h"
#include "tests/support/d3d_engine.h"

namespace {

using Graphics3DTest = D3DEngineTest;

TEST_F(Graphics3DTest, StartInDirect3DModeResetsTheDrawSettings) {
  EXPECT_EQ(UseDirect3DFlag, 1);
  EXPECT_EQ(SoftDrawTarget, nullptr);
  EXPECT_EQ(Camera.ProjectionMode, 0);
  EXPECT_EQ(Camera.DotAspect, 1.0f);
  EXPECT_EQ(Camera.OrthoSize, 1.0f);
  EXPECT_EQ(Camera.Fov, 1.0471976f);
  const MATERIALPARAM& m = Lighting3D.Material;
  EXPECT_EQ(m.Diffuse.r, 0.8f);
  EXPECT_EQ(m.Diffuse.a, 1.0f);
  EXPECT_EQ(m.Specular.a, 0.0f);
  EXPECT_EQ(m.Power, 20.0f);
  EXPECT_EQ(Lighting3D.MaterialChangedFlag, 1);
  EXPECT_EQ(LightTable.Count, 1);
  EXPECT_EQ(GetLightType(), 3);
  const VECTOR d = GetLightDirection();
  EXPECT_NEAR(d.x, 0.57735026f, 1e-6f);
  EXPECT_NEAR(d.y, -0.57735026f, 1e-6f);
  // The position and angles of the camera stay zero until a script sets them.
  EXPECT_EQ(Camera.Position.z, 0.0f);
  EXPECT_EQ(Camera.HorizontalAngle, 0.0f);
  // Graphics end releases the device and every light.
  EndLibrary();
  EXPECT_EQ(D3DObjects.Device, nullptr);
  EXPECT_EQ(LightTable.Count, 0);
}

TEST_F(Graphics3DTest, DrawScreenPlacesTheView) {
  // Engine start chose the back and then the front screen: the view is placed for 640 x 480.
  const MATRIX& v = ViewMatrices.View;
  // The eye (320, 240, -415.6922) maps to the origin.
  VECTOR eye = {320, 240, -415.6922f}, out;
  VectorTransform(&out, &eye, &v);
  EXPECT_NEAR(out.x, 0, 1e-3f);
  EXPECT_NEAR(out.y, 0, 1e-3f);
  EXPECT_NEAR(out.z, 0, 1e-3f);
  EXPECT_FLOAT_EQ(Camera.Near, 41.5692215f);
  EXPECT_FLOAT_EQ(Camera.Far, 20415.6914f);
  const MATRIX& p = ViewMatrices.Projection;
  EXPECT_FLOAT_EQ(p.m[0][0], 1.29903805f);
  EXPECT_FLOAT_EQ(p.m[1][1], 1.73205078f);
  EXPECT_FLOAT_EQ(p.m[2][2], 1.00204027f);
  EXPECT_EQ(p.m[2][3], 1.0f);
  EXPECT_FLOAT_EQ(p.m[3][2], -41.6540337f);
  const MATRIX& vp = ViewMatrices.Viewport;
  EXPECT_EQ(vp.m[0][0], 320.0f);
  EXPECT_EQ(vp.m[1][1], -240.0f);
  EXPECT_EQ(vp.m[3][0], 320.0f);
  EXPECT_EQ(vp.m[3][1], 240.0f);
  // The screen's own viewport: the device gets the projection bit for bit.
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_PROJECTION), &p, sizeof p), 0);
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_VIEW), &v, sizeof v), 0);
  MATRIX vxp;
  CreateMultiplyMatrix(&vxp, &v, &p);
  ExpectMatrixNear(ViewMatrices.ViewProjection, vxp, 0);
  // One world unit in the plane z = 0 covers one pixel: (100, 50, 0) lands at pixel (100, 430).
  VECTOR w = {100, 50, 0}, clip;
  float cw = 1;
  VectorTransform4(&clip, &cw, &w, &cw, &ViewMatrices.ViewProjection);
  EXPECT_NEAR(320 + clip.x / cw * 320, 100, 1e-3);
  EXPECT_NEAR(240 - clip.y / cw * 240, 430, 1e-3);
  // Only the screens: a graph cannot be the draw screen through the device.
  EXPECT_EQ(SetDrawScreen(0x08000000), -1);
  EXPECT_EQ(SetDrawScreen(DX_SCREEN_BACK), 0);
}

TEST_F(Graphics3DTest, MovedScreenCentreMovesThePicture) {
  ASSERT_EQ(SetCameraDotScreenCenter(100, 60), 0);
  // The stored projection is unchanged; the device's carries the shift.
  VECTOR w = {320, 240, 0}, clip;  // on the axis: formerly the screen centre
  float cw = 1, one = 1;
  VectorTransform4(&clip, &cw, &w, &one, &ViewMatrices.ViewProjection);
  EXPECT_NEAR(320 + clip.x / cw * 320, 100, 1e-3);
  EXPECT_NEAR(240 - clip.y / cw * 240, 60, 1e-3);
  MATRIX vxp;
  CreateMultiplyMatrix(&vxp, &ViewMatrices.View, &Dev()->Transform(D3DTS_PROJECTION));
  ExpectMatrixNear(ViewMatrices.ViewProjection, vxp, 0);
  // Back to the centre: bit for bit again.
  SetCameraDotScreenCenter(320, 240);
  EXPECT_EQ(std::memcmp(&Dev()->Transform(D3DTS_PROJECTION), &ViewMatrices.Projection,
                        sizeof(MATRIX)),
            0);
}

TEST(Graphics3DSoftwareTest, SoftwareModeHasNoDeviceButPlacesTheView) {
  SetGraphMode(64, 48, 32);
  ASSERT_EQ(InitLibrary(), 0);
  EXPECT_EQ(D3DObjects.Device, nullptr);
  EXPECT_FLOAT_EQ(Camera.Near, float(24 / 0.57735026f) * 0.1f);
  EXPECT_EQ(ViewMatrices.Viewport.m[3][0], 32.0f);
  EXPECT_EQ(LightTable.Count, 1);
  EndLibrary();
  SetGraphMode(640, 480, 32);
}

}  // namespace
