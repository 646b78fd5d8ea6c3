// The snapshot replayer: recorded 3-D draws become pixels where the view puts them.
#include "tests/support/d3d_replay.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/model/camera.h"
#include "engine/model/draw3d.h"
#include "tests/support/d3d_engine.h"

namespace {

using ReplayTest = D3DEngineTest;

uint32_t PixelAt(const MEMIMG* m, int x, int y) {
  uint32_t v;
  std::memcpy(&v, m->Pixels + size_t(y) * m->Base->Pitch + size_t(x) * 4, 4);
  return v & 0xFFFFFF;
}

TEST_F(ReplayTest, ShapesLandWhereTheViewPutsThem) {
  SetCullMode(1);
  Dev()->ClearRecord();
  // The draw-screen view: world (x, y, 0) is pixel (x, 480 - y).
  DrawSphere3D(VECTOR{100, 380, 0}, 30, 8, GetColor(255, 255, 255), 0, 1);
  DrawLine3D(VECTOR{400, 100, 0}, VECTOR{600, 100, 0}, GetColor(0, 255, 0));
  MEMIMG picture{};
  ASSERT_EQ(MakeMemImg(&picture, 640, 480, 1), 0);
  ClearMemImg(&picture, nullptr, 0);
  const ReplayStats s = ReplayDraws(Dev()->Draws(), &picture);
  EXPECT_GT(s.Triangles, 0);
  EXPECT_GT(s.Culled, 0);  // the far side of the sphere
  EXPECT_EQ(s.Lines, 1);
  EXPECT_NE(PixelAt(&picture, 100, 100), 0u);
  EXPECT_EQ(PixelAt(&picture, 100, 140), 0u);
  EXPECT_EQ(PixelAt(&picture, 500, 380), 0x00FF00u);
  EXPECT_EQ(PixelAt(&picture, 320, 240), 0u);
  // A moved screen centre moves the picture.
  SetCameraDotScreenCenter(220, 240);
  Dev()->ClearRecord();
  DrawLine3D(VECTOR{400, 100, 0}, VECTOR{600, 100, 0}, GetColor(0, 0, 255));
  ReplayDraws(Dev()->Draws(), &picture);
  EXPECT_EQ(PixelAt(&picture, 400, 380), 0x0000FFu);
  // Behind the eye: dropped.
  Dev()->ClearRecord();
  DrawTriangle3D(VECTOR{0, 0, -900}, VECTOR{9, 0, -900}, VECTOR{0, 9, -900}, 0xFFFFFF, 1);
  EXPECT_EQ(ReplayDraws(Dev()->Draws(), &picture).Clipped, 1);
  TerminateMemImg(&picture);
}

}  // namespace
