#include <qzlib/math/matrix3x4.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include <qzlib/math/math3d.h>

namespace {

// The row-vector MATRIX of a column-vector Matrix3x4.
MATRIX ToMatrix(const Matrix3x4& a) {
  MATRIX r = {};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r.m[j][i] = a.m[i][j];
    r.m[3][i] = a.m[i][3];
  }
  r.m[3][3] = 1;
  return r;
}

class SinTableTest : public ::testing::Test {
 protected:
  void SetUp() override { MV1InitSinTable(); }
};

}  // namespace

TEST_F(SinTableTest, EntriesAndAngleToIndexMapping) {
  EXPECT_EQ(MV1SinTable[16384], 1.0f);
  EXPECT_EQ(MV1SinTable[49152], -1.0f);
  for (int i = 0; i < 65536; ++i)
    ASSERT_NEAR(MV1SinTable[i], std::sin(i * 6.283185307179586 / 65536), 5e-7) << i;
  // Entries holding their own index show which entries a look-up reads.
  for (int i = 0; i < 65536; ++i) MV1SinTable[i] = static_cast<float>(i);
  float s, c;
  MV1SinCos(1.5707964f, &s, &c);
  EXPECT_EQ(s, 16384.0f);
  EXPECT_EQ(c, 32768.0f);
  MV1SinCos(-1.5707964f, &s, &c);
  EXPECT_EQ(s, 49152.0f);
  EXPECT_EQ(c, 0.0f);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> angle(-400, 400);
  for (int n = 0; n < 20000; ++n) {
    float a = angle(rng);
    // Round to nearest (ties to even) of the float product, modulo 65536.
    int64_t index =
        static_cast<int64_t>(std::nearbyint(static_cast<double>(a * 10430.3779296875f)));
    uint32_t want = static_cast<uint32_t>(index) & 0xFFFF;
    MV1SinCos(a, &s, &c);
    ASSERT_EQ(s, static_cast<float>(want)) << "angle " << a;
    ASSERT_EQ(c, static_cast<float>((want + 16384) & 0xFFFF)) << "angle " << a;
  }
  MV1InitSinTable();
}

TEST_F(SinTableTest, TableRotationsAreTheTransposedEulerBuilders) {
  void (*const table[6])(Matrix3x4*, float, float, float) = {
      MV1RotationMatrixXYZ, MV1RotationMatrixXZY, MV1RotationMatrixYZX,
      MV1RotationMatrixYXZ, MV1RotationMatrixZXY, MV1RotationMatrixZYX};
  int (*const exact[6])(MATRIX*, float, float, float) = {
      CreateRotationXYZMatrix, CreateRotationXZYMatrix, CreateRotationYZXMatrix,
      CreateRotationYXZMatrix, CreateRotationZXYMatrix, CreateRotationZYXMatrix};
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> index(0, 65535);
    // Angles on table entries (as the fill computes them): only the cosine look-up differs.
    float a[3];
    for (float& x : a)
      x = static_cast<float>(2.0 * (index(rng) * double(3.14159265358979f)) / 65536);
    for (int order = 0; order < 6; ++order) {
      Matrix3x4 t;
      MATRIX m;
      table[order](&t, a[0], a[1], a[2]);
      exact[order](&m, a[0], a[1], a[2]);
      MATRIX back = ToMatrix(t);
      for (int i = 0; i < 16; ++i)
        ASSERT_NEAR(back.m[i / 4][i % 4], m.m[i / 4][i % 4], 1e-6f) << order;
    }
  }
}

TEST(Matrix3x4Math, ProductsAreBitExact) {
  // Values whose products and sums give zeros of both signs.
  const float pool[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.5f, -3.0f, 1e-30f, 0.1f};
  for (uint32_t seed = 1; seed <= 500; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 7);
    Matrix3x4 a, b, got, want;
    for (int i = 0; i < 12; ++i)
      a.m[i / 4][i % 4] = pool[pick(rng)], b.m[i / 4][i % 4] = pool[pick(rng)];
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 4; ++j)
        want.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
    for (int i = 0; i < 3; ++i) want.m[i][3] = want.m[i][3] + a.m[i][3];
    MV1MultiplyMatrix3x4(&a, &got, &b);
    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0);
    // B applied first: the same sums as the row-vector product B * A.
    MATRIX rowForm = MMult(ToMatrix(b), ToMatrix(a)), back = ToMatrix(got);
    for (int i = 0; i < 16; ++i) ASSERT_EQ(back.m[i / 4][i % 4], rowForm.m[i / 4][i % 4]);
    VECTOR p = {1.5f, -2.25f, 0.75f}, q, r;
    VTransformMatrix3x4(&a, &q, &p);
    MATRIX am = ToMatrix(a);
    VTransformInline(&r, &p, &am);
    EXPECT_TRUE(q.x == r.x && q.y == r.y && q.z == r.z);
    Matrix3x4 moved = a;
    MV1MultiplyMatrix3x4Translate(&moved, &moved, &b);  // in place: rotation kept
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_EQ(moved.m[i][j], a.m[i][j]);
      EXPECT_EQ(moved.m[i][3], want.m[i][3]);
    }
    MV1MultiplyMatrix3x4(&a, &a, &b);  // in place
    ASSERT_EQ(std::memcmp(&a, &want, sizeof a), 0);
  }
}
