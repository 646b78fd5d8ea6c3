#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <qzlib/soft/memimg.h>

class DrawStateTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetSoftDrawTarget(nullptr);
    SetGraphMode(640, 480, 32);
    InitDrawState();
  }
  // SetDrawArea reads only the view's width and height
  static MEMIMG Target(int w, int h) { return MEMIMG{MEMIMG_MAGIC, w, h, nullptr, nullptr, nullptr}; }
};

TEST_F(DrawStateTest, AreaIsOrderedClampedAndResetWithTheTarget) {
  MEMIMG t = Target(5, 4), other = Target(10, 6);
  SetSoftDrawTarget(&t);
  for (int x1 = -2; x1 <= 7; ++x1)
    for (int x2 = -2; x2 <= 7; ++x2)
      for (int y1 = -2; y1 <= 6; y1 += 2)
        for (int y2 = -2; y2 <= 6; y2 += 3) {
          EXPECT_EQ(SetDrawArea(x1, y1, x2, y2), 0);
          ASSERT_EQ(DrawArea.left, std::clamp(std::min(x1, x2), 0, 5));
          ASSERT_EQ(DrawArea.right, std::clamp(std::max(x1, x2), 0, 5));
          ASSERT_EQ(DrawArea.top, std::clamp(std::min(y1, y2), 0, 4));
          ASSERT_EQ(DrawArea.bottom, std::clamp(std::max(y1, y2), 0, 4));
        }
  SetDrawArea(1, 1, 4, 3);
  SetSoftDrawTarget(&other);  // a new target: the whole of it
  EXPECT_TRUE(DrawArea.left == 0 && DrawArea.top == 0 && DrawArea.right == 10 && DrawArea.bottom == 6);
  // without a target the draw-screen size bounds the area
  SetGraphMode(320, 200, 32);
  SetSoftDrawTarget(nullptr);
  SetDrawArea(-5, -5, 1000, 1000);
  EXPECT_TRUE(DrawArea.right == 320 && DrawArea.bottom == 200);
  int w = 0, h = 0;
  EXPECT_EQ(GetDrawScreenSize(&w, &h), 0);
  EXPECT_TRUE(w == 320 && h == 200);
  EXPECT_EQ(GetDrawScreenSize(nullptr, nullptr), 0);
}

TEST_F(DrawStateTest, BlendBrightAndColourSetters) {
  SetDrawBlendMode(3, 300);
  EXPECT_TRUE(DrawBlendMode == 3 && DrawBlendParam == 255);
  SetDrawBlendMode(7, -4);  // modes are kept as given; the drawers refuse the ones they lack
  EXPECT_TRUE(DrawBlendMode == 7 && DrawBlendParam == 0);
  SetDrawBright(300, 128, -1);
  EXPECT_EQ(DrawBright, 0xFF8000u);
  InitDrawState();
  EXPECT_TRUE(DrawBlendMode == 0 && DrawBlendParam == 255 && DrawBright == 0xFFFFFFu);
  EXPECT_EQ(GetColor(0x12, 0x34, 0x56), 0x123456u);
  SetGraphMode(640, 480, 16);
  EXPECT_EQ(GetColorBitDepth(), 16);
  EXPECT_EQ(GetColor(0xFF, 0, 0), 0xF800u);
  EXPECT_EQ(GetColor(0x87, 0x46, 0x2C), (0x87u >> 3) << 11 | (0x46u >> 2) << 5 | 0x2Cu >> 3);
  SetGraphMode(640, 480, 24);  // anything but 16 is 32
  EXPECT_EQ(GetColorBitDepth(), 32);
}
