// Circle and oval front ends: the software branch draws into SoftDrawTarget exactly what the
// drawers draw, and nothing for negative radii or an empty draw area.
#include <gtest/gtest.h>

#include <qzlib/base/types.h>
#include <qzlib/graphics/draw_shapes.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/shapes.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/test_support.h"

namespace {

class DrawShapesTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    InitMemImgBlendTable();
    UseDirect3DFlag = 0;
    DrawBlendMode = BLENDMODE::ALPHA;
    DrawBlendParam = 100;
    DrawBright = 0xC0FFEE;
  }
  void TearDown() override {
    SetSoftDrawTarget(nullptr);
    LeakCheckedTest::TearDown();
  }
};

TEST_F(DrawShapesTest, SoftwareBranchDrawsIntoTheTarget) {
  for (int format : {0, 1}) {
    GuardedSurface screen({.width = 40, .height = 30, .format = format}, 11);
    GuardedSurface direct({.width = 40, .height = 30, .format = format}, 11);
    SetSoftDrawTarget(screen.img());
    SetDrawArea(3, 2, 35, 27);
    EXPECT_EQ(DrawCircle(20, 15, 9, 0x123456, 1), 0);
    EXPECT_EQ(DrawCircle(5, 5, 7, 0x654321, 0), 0);
    EXPECT_EQ(DrawOval(20, 15, 14, 5, 0xABCDEF, 0), 0);
    EXPECT_EQ(DrawOval(30, 10, 3, 12, 0x13579B, 1), 0);
    DrawCircleMemImg(direct.img(), 20, 15, 9, 0x123456, 1);
    DrawCircleMemImg(direct.img(), 5, 5, 7, 0x654321, 0);
    DrawOvalMemImg(direct.img(), 20, 15, 14, 5, 0xABCDEF, 0);
    DrawOvalMemImg(direct.img(), 30, 10, 3, 12, 0x13579B, 1);
    EXPECT_EQ(FirstDifference(screen.Snapshot(), direct.Snapshot(), 40, screen.bytesPerPixel()), "");
    EXPECT_TRUE(screen.CheckGuards());
  }
}

TEST_F(DrawShapesTest, NothingForNegativeRadiiOrAnEmptyArea) {
  GuardedSurface screen({.width = 20, .height = 20}, 12);
  SetSoftDrawTarget(screen.img());
  const auto snap = screen.Snapshot();
  const uint64_t allocs = MemAllocAttempts();
  EXPECT_EQ(DrawCircle(10, 10, -3, 0xFFFFFF, 1), 0);
  EXPECT_EQ(DrawOval(10, 10, -3, 4, 0xFFFFFF, 1), 0);
  EXPECT_EQ(DrawOval(10, 10, 3, -4, 0xFFFFFF, 0), 0);
  SetDrawArea(5, 5, 5, 15);
  EXPECT_EQ(DrawCircle(10, 10, 3, 0xFFFFFF, 1), 0);
  EXPECT_EQ(DrawOval(10, 10, 3, 4, 0xFFFFFF, 1), 0);
  EXPECT_EQ(MemAllocAttempts(), allocs);
  EXPECT_EQ(screen.Snapshot(), snap);
  // Without a software target there is nothing to draw into.
  SetSoftDrawTarget(nullptr);
  EXPECT_EQ(DrawCircle(10, 10, 3, 0xFFFFFF, 1), -1);
  EXPECT_EQ(DrawOval(10, 10, 3, 4, 0xFFFFFF, 1), -1);
}

}  // namespace
