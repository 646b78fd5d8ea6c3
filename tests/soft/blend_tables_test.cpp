// The blend and colour tables, checked exhaustively against their formulas (computed here in
// floating point, so the integer rounding of the tables is checked independently).
#include <qzlib/soft/blend_tables.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class BlendTablesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { EXPECT_EQ(InitMemImgBlendTable(), 0); }
};

// The blend-graph weight of byte g, from the ramp's definition, all in exact rational steps.
int GraphWeight(int g, int border, int range) {
  long step = static_cast<long>(std::floor(65536.0 / (range + 1)));
  long offset = static_cast<long>(std::floor((step + 256.0) * border / 256.0));
  long v = static_cast<long>(std::floor(256.0 * g / (range + 1))) + 256 - offset;
  return v > 255 ? 255 : (v < 0 ? 0 : static_cast<int>(v));
}

}  // namespace

TEST_F(BlendTablesTest, SignedTable) {
  for (int a = 0; a < 256; ++a) {
    const int32_t* row = SignedRow(a);
    for (int d = -255; d <= 255; ++d)
      ASSERT_EQ(row[d], static_cast<int32_t>(std::trunc(a * d / 255.0))) << a << " " << d;
    ASSERT_EQ(MemImgBlendTables.Signed[a][511], 0) << a;
  }
  EXPECT_EQ(SignedRow(255)[-1], -1);
  EXPECT_EQ(SignedRow(128)[-255], -128);
  EXPECT_EQ(SignedRow(255)[255], 255);
  EXPECT_EQ(SignedRow(255)[-255], -255);
  EXPECT_EQ(SignedRow(100)[-3], -1);  // toward zero, not down
}

TEST_F(BlendTablesTest, MultiplyTable) {
  for (int a = 0; a < 256; ++a)
    for (int i = 0; i < 256; ++i)
      ASSERT_EQ(MemImgBlendTables.Multiply[a][i], static_cast<int32_t>(std::floor(a * i / 255.0)))
          << a << " " << i;
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(MemImgBlendTables.Multiply[255][i], i);
    EXPECT_EQ(MemImgBlendTables.Multiply[0][i] + MemImgBlendTables.Multiply[i][0], 0);
  }
  EXPECT_EQ(MemImgBlendTables.Multiply[128][255], 128);
}

TEST_F(BlendTablesTest, SixBitMixTable) {
  for (int k = 0; k < 64; ++k)
    for (int y = 0; y < 64; ++y)
      for (int z = 0; z < 64; ++z)
        ASSERT_EQ(MemImgBlendTables.Mix6[k][y][z], std::floor((y * k + z * (63 - k)) / 63.0))
            << k << " " << y << " " << z;
  for (int y = 0; y < 64; ++y)
    for (int z = 0; z < 64; ++z) {
      EXPECT_EQ(MemImgBlendTables.Mix6[63][y][z], y);
      EXPECT_EQ(MemImgBlendTables.Mix6[0][y][z], z);
    }
  EXPECT_EQ(MemImgBlendTables.Mix6[32][63][0], 32);
}

TEST_F(BlendTablesTest, BlendGraphTableEveryBorderAndRange) {
  for (int border = 0; border < 256; ++border)
    for (int range = 0; range < 256; ++range) {
      MakeMemImgBlendGraphTable(border, range);
      for (int g = 0; g < 256; ++g)
        ASSERT_EQ(MemImgBlendGraphTable[g], GraphWeight(g, border, range))
            << "border " << border << " range " << range << " byte " << g;
    }
  for (int range : {0, 1, 100, 255}) {
    MakeMemImgBlendGraphTable(0, range);
    for (int g = 0; g < 256; ++g) ASSERT_EQ(MemImgBlendGraphTable[g], 255);
  }
  // step 256, offset 510, base -254: entries 0 to 254 are 0, entry 255 is 1.
  MakeMemImgBlendGraphTable(255, 255);
  for (int g = 0; g < 255; ++g) EXPECT_EQ(MemImgBlendGraphTable[g], 0);
  EXPECT_EQ(MemImgBlendGraphTable[255], 1);
  // Values beyond 0..255 are limited first (a range of -1 would divide by zero).
  MakeMemImgBlendGraphTable(300, -1);
  for (int g = 0; g < 256; ++g) ASSERT_EQ(MemImgBlendGraphTable[g], GraphWeight(g, 255, 0));
  MakeMemImgBlendGraphTable(-5, 999);
  for (int g = 0; g < 256; ++g) ASSERT_EQ(MemImgBlendGraphTable[g], 255);
}
