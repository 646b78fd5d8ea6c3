#include <qzlib/base/mathutil.h>

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

TEST(MathUtil, ConversionsTruncateInEveryRoundingModeAndFlagRange) {
  const double inf = INFINITY;
  const struct { double in; int32_t out; } doubles[] = {
      {2.7, 2}, {-2.7, -2}, {-0.5, 0}, {2147483647.99, 2147483647}, {-2147483648.99, INT32_MIN},
      {2147483648.0, INT32_MIN}, {-2147483649.0, INT32_MIN}, {inf, INT32_MIN}, {-inf, INT32_MIN},
      {NAN, INT32_MIN}};
  const struct { float in; int32_t out; } floats[] = {
      {2.7f, 2}, {-2.7f, -2}, {127.5f, 127}, {2147483520.0f, 2147483520},
      {-2147483648.0f, INT32_MIN}, {2147483648.0f, INT32_MIN}, {-2147483904.0f, INT32_MIN},
      {INFINITY, INT32_MIN}, {NAN, INT32_MIN}};
  for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    std::fesetround(mode);
    for (const auto& c : doubles) EXPECT_EQ(DoubleToInt(c.in), c.out) << c.in << " mode " << mode;
    for (const auto& c : floats) EXPECT_EQ(FloatToIntFast(c.in), c.out) << c.in << " mode " << mode;
  }
  std::fesetround(FE_TONEAREST);
}

TEST(MathUtil, SinCosRoundsTheDoubleResults) {
  for (float a : {0.0f, 0.5f, -1.0f, 3.1415927f, 1e6f}) {
    float s = 9, c = 9;
    SinCos(a, &s, &c);
    EXPECT_EQ(s, static_cast<float>(std::sin(double(a)))) << a;
    EXPECT_EQ(c, static_cast<float>(std::cos(double(a)))) << a;
  }
}

// The clip written straight from its rules, one step per rule.
RECT ReferenceClip(RECT r, const RECT& c) {
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  for (int32_t* v : {&r.bottom, &r.top}) *v = *v > c.bottom ? c.bottom : (*v < c.top ? c.top : *v);
  for (int32_t* v : {&r.right, &r.left}) *v = *v > c.right ? c.right : (*v < c.left ? c.left : *v);
  return r;
}

TEST(MathUtil, RectClippingMatchesItsRulesExhaustively) {
  RECT r{700, 10, 800, 50}, clip{0, 0, 640, 480};
  EXPECT_EQ(RectClipping(&r, &clip), 0);
  EXPECT_TRUE(r.left == 640 && r.top == 10 && r.right == 640 && r.bottom == 50);
  // Every rectangle against every clip (inverted clips included) with coordinates in -1..2.
  for (int code = 0; code < 65536; ++code) {
    auto v = [&](int k) { return ((code >> (2 * k)) & 3) - 1; };
    RECT rr{v(0), v(1), v(2), v(3)}, cc{v(4), v(5), v(6), v(7)};
    RECT want = ReferenceClip(rr, cc), got = rr;
    RectClipping(&got, &cc);
    ASSERT_TRUE(got.left == want.left && got.top == want.top && got.right == want.right &&
                got.bottom == want.bottom) << code;
    if (cc.left <= cc.right && cc.top <= cc.bottom) {
      // a proper clip: every edge inside it, never a negative width or height
      ASSERT_TRUE(cc.left <= got.left && got.left <= got.right && got.right <= cc.right) << code;
      ASSERT_TRUE(cc.top <= got.top && got.top <= got.bottom && got.bottom <= cc.bottom) << code;
    }
  }
}
