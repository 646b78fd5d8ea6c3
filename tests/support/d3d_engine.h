// A test fixture that runs the engine in Direct3D mode over the stand-in device.
#pragma once
#include <gtest/gtest.h>

#include <qzlib/system/library.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/platform/d3d_device.h>
#include "tests/support/test_support.h"

// The stand-in as the tests use it: every call recorded and every draw snapshotted (both off by
// default). The fixtures below start each test with it.
inline D3DStandInSettings RecordingStandIn() {
  D3DStandInSettings s;
  s.Snapshots = s.Recording = true;
  return s;
}

// Starts the engine in Direct3D mode at 640 x 480, 32-bit, over the recording stand-in, and ends
// it after the test; checks that tracked memory and the stand-in's objects are back where they
// were.
class D3DEngineTest : public LeakCheckedTest {
 protected:
  void SetUp() override {
    LeakCheckedTest::SetUp();
    D3DStandIn() = RecordingStandIn();
    buffers_ = D3DLiveBufferCount();
    textures_ = D3DLiveTextureCount();
    SetGraphMode(640, 480, 32);
    ASSERT_EQ(SetUse3DFlag(1), 0);
    ASSERT_EQ(InitLibrary(), 0);
    ASSERT_NE(D3DObjects.Device, nullptr);
  }
  void TearDown() override {
    if (IsLibraryRunning()) EndLibrary();
    SetUse3DFlag(0);
    D3DStandIn() = D3DStandInSettings{};
    EXPECT_EQ(D3DLiveBufferCount(), buffers_);
    EXPECT_EQ(D3DLiveTextureCount(), textures_);
    EXPECT_EQ(D3DLiveShaderCount(), 0);
    LeakCheckedTest::TearDown();
  }
  D3DDevice* Dev() const { return D3DObjects.Device; }

 private:
  long buffers_ = 0, textures_ = 0;
};

// Element-wise comparison of two matrices within a tolerance.
inline void ExpectMatrixNear(const MATRIX& a, const MATRIX& b, float tol) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(a.m[i][j], b.m[i][j], tol) << "element " << i << j;
}
