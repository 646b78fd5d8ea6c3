#include <qzlib/math/math3d.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include <qzlib/base/draw_state.h>
#include <qzlib/math/math_inline.h>

namespace {

constexpr float kPi = 3.14159265358979f;

// Bit for bit (for "left untouched" and exact rules).
bool Same(const MATRIX& a, const MATRIX& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
// Every element == (a zero's sign is not compared).
bool Equal(const MATRIX& a, const MATRIX& b) {
  for (int i = 0; i < 16; ++i)
    if (!(a.m[i / 4][i % 4] == b.m[i / 4][i % 4])) return false;
  return true;
}
void ExpectNear(const MATRIX& a, const MATRIX& b, float tol) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i / 4][i % 4], b.m[i / 4][i % 4], tol) << i;
}

struct Order {
  const char* Name;
  int (*Build)(MATRIX*, float, float, float);
  int (*Extract)(const MATRIX*, float*, float*, float*);
  int Axes[3];  // single-axis rotations in order of application (0 x, 1 y, 2 z)
};
const Order kOrders[6] = {
    {"XYZ", CreateRotationXYZMatrix, GetMatrixXYZRotation, {0, 1, 2}},
    {"XZY", CreateRotationXZYMatrix, GetMatrixXZYRotation, {0, 2, 1}},
    {"YZX", CreateRotationYZXMatrix, GetMatrixYZXRotation, {1, 2, 0}},
    {"YXZ", CreateRotationYXZMatrix, GetMatrixYXZRotation, {1, 0, 2}},
    {"ZXY", CreateRotationZXYMatrix, GetMatrixZXYRotation, {2, 0, 1}},
    {"ZYX", CreateRotationZYXMatrix, GetMatrixZYXRotation, {2, 1, 0}},
};

MATRIX ByAxes(const Order& o, const float a[3]) {
  MATRIX r = MGetIdent();
  for (int axis : o.Axes)
    r = MMult(r, axis == 0 ? MGetRotX(a[0]) : axis == 1 ? MGetRotY(a[1]) : MGetRotZ(a[2]));
  return r;
}

// Angles for one order: outer ones in (-3.1, 3.1), the middle one as given.
void Angles(const Order& o, std::mt19937& rng, float middle, float a[3]) {
  std::uniform_real_distribution<float> outer(-3.1f, 3.1f);
  a[o.Axes[0]] = outer(rng);
  a[o.Axes[1]] = middle;
  a[o.Axes[2]] = outer(rng);
}

}  // namespace

TEST(EulerMath, BuildersMatchSingleAxisProductsAndRoundTrip) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> middle(-1.55f, 1.55f);
    for (const Order& o : kOrders) {
      SCOPED_TRACE(o.Name);
      float a[3], e[3];
      Angles(o, rng, middle(rng), a);
      // Every few cases the pivot angle sits where its cosine vanishes (the other branch).
      if (seed % 4 == 0) a[o.Axes[0]] = kPi / 2;
      if (seed % 4 == 1) a[o.Axes[2]] = -kPi / 2;
      MATRIX m, back;
      o.Build(&m, a[0], a[1], a[2]);
      ExpectNear(m, ByAxes(o, a), 3e-7f);
      EXPECT_EQ(o.Extract(&m, &e[0], &e[1], &e[2]), 0);
      o.Build(&back, e[0], e[1], e[2]);
      ExpectNear(back, m, 2e-5f);
    }
  }
}

TEST(EulerMath, GimbalBandSnapsTheMiddleAngle) {
  MATRIX m;
  CreateRotationXYZMatrix(&m, 0.3f, kPi / 2, 0.2f);
  float x = 9, y = 9, z = 9;
  EXPECT_EQ(GetMatrixXYZRotation(&m, &x, &y, &z), -1);
  EXPECT_EQ(x, 0.0f);
  EXPECT_EQ(y, 1.5707964f);
  EXPECT_EQ(GetMatrixXYZRotation(&m, nullptr, nullptr, nullptr), -1);
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> off(-4.4e-3f, 4.4e-3f);
    float sign = seed % 2 ? 1.0f : -1.0f;
    for (const Order& o : kOrders) {
      SCOPED_TRACE(o.Name);
      float a[3], e[3];
      Angles(o, rng, sign * kPi / 2 + off(rng), a);
      MATRIX m, back;
      o.Build(&m, a[0], a[1], a[2]);
      EXPECT_EQ(o.Extract(&m, &e[0], &e[1], &e[2]), -1);
      EXPECT_EQ(e[o.Axes[0]], 0.0f);
      EXPECT_EQ(e[o.Axes[1]], sign * 1.5707964f);
      o.Build(&back, e[0], e[1], e[2]);
      ExpectNear(back, m, 5e-3f);
    }
  }
}

TEST(MatrixMath, ProductIsBitExactAgainstPlainSums) {
  const float pool[] = {0.0f, -0.0f, 1.0f, -1.0f, 2.5f, -3.0f, 1e-30f, 0.1f, 7.25f};
  for (uint32_t seed = 1; seed <= 500; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 8);
    MATRIX a, b, want;
    for (int i = 0; i < 16; ++i)
      a.m[i / 4][i % 4] = pool[pick(rng)], b.m[i / 4][i % 4] = pool[pick(rng)];
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        want.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                       a.m[i][3] * b.m[3][j];
    ASSERT_TRUE(Same(MMult(a, b), want));
    CreateMultiplyMatrix(&a, &a, &b);  // in place
    ASSERT_TRUE(Same(a, want));
  }
  MATRIX id = MGetIdent();
  EXPECT_EQ(CreateMultiplyMatrix(nullptr, &id, &id), 0);
}

// The element-wise operations against the sums written out, bit for bit, over seeded values
// that include signed zeros, tiny and large magnitudes; the pointer forms also with the output
// aliasing either input.
TEST(MatrixMath, ElementWiseOperationsMatchPlainArithmetic) {
  const float pool[] = {0.0f, -0.0f, 1.0f, -1.5f, 3.25f, 1e-30f, -1e30f, 0.1f, 7e5f, -2.75f};
  struct VectorOp {
    const char* Name;
    std::function<VECTOR(VECTOR a, VECTOR b)> Run;  // through the library
    float (*Rule)(float a, float b);
  };
  auto sub = [](float a, float b) { return a - b; };
  auto add = [](float a, float b) { return a + b; };
  const VectorOp vectorOps[] = {
      {"VectorAdd", [](VECTOR a, VECTOR b) { VECTOR o; EXPECT_EQ(VectorAdd(&o, &a, &b), 0); return o; }, add},
      {"VectorAdd into a", [](VECTOR a, VECTOR b) { VectorAdd(&a, &a, &b); return a; }, add},
      {"VectorSub", [](VECTOR a, VECTOR b) { VECTOR o; EXPECT_EQ(VectorSub(&o, &a, &b), 0); return o; }, sub},
      {"VSubInline", [](VECTOR a, VECTOR b) { VECTOR o; EXPECT_EQ(VSubInline(&o, &a, &b), &o); return o; }, sub},
      {"VSubInline into a", [](VECTOR a, VECTOR b) { EXPECT_EQ(VSubInline(&a, &a, &b), &a); return a; }, sub},
      {"VSubInline into b", [](VECTOR a, VECTOR b) { EXPECT_EQ(VSubInline(&b, &a, &b), &b); return b; }, sub},
  };
  struct MatrixOp {
    const char* Name;
    std::function<MATRIX(MATRIX a, MATRIX b, float s)> Run;
    std::function<float(const MATRIX& a, const MATRIX& b, float s, int i, int j)> Rule;
  };
  const MatrixOp matrixOps[] = {
      {"MAdd", [](MATRIX a, MATRIX b, float) { return MAdd(a, b); },
       [](const MATRIX& a, const MATRIX& b, float, int i, int j) { return a.m[i][j] + b.m[i][j]; }},
      {"MScale", [](MATRIX a, MATRIX, float s) { return MScale(a, s); },
       [](const MATRIX& a, const MATRIX&, float s, int i, int j) { return a.m[i][j] * s; }},
      {"MTranspose", [](MATRIX a, MATRIX, float) { return MTranspose(a); },
       [](const MATRIX& a, const MATRIX&, float, int i, int j) { return a.m[j][i]; }},
  };
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 9);
    std::uniform_real_distribution<float> any(-100, 100);
    auto value = [&] { return seed % 2 ? pool[pick(rng)] : any(rng); };
    const VECTOR a = {value(), value(), value()}, b = {value(), value(), value()};
    for (const VectorOp& op : vectorOps) {
      const VECTOR got = op.Run(a, b);
      const VECTOR want = {op.Rule(a.x, b.x), op.Rule(a.y, b.y), op.Rule(a.z, b.z)};
      ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << op.Name;
    }
    MATRIX ma, mb;
    for (int i = 0; i < 16; ++i) ma.m[i / 4][i % 4] = value(), mb.m[i / 4][i % 4] = value();
    const float s = value();
    for (const MatrixOp& op : matrixOps) {
      const MATRIX got = op.Run(ma, mb, s);
      MATRIX want;
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) want.m[i][j] = op.Rule(ma, mb, s, i, j);
      ASSERT_TRUE(Same(got, want)) << op.Name;
    }
  }
}

TEST(MatrixMath, InverseAndItsRefusal) {
  for (uint32_t seed = 1; seed <= 100; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> e(-2, 2);
    MATRIX m, inv;
    for (int i = 0; i < 16; ++i) m.m[i / 4][i % 4] = e(rng) + (i % 5 == 0 ? 5 : 0);
    inv = m;
    ASSERT_EQ(CreateInverseMatrix(&inv, &inv), 0);  // in place
    ExpectNear(MMult(m, inv), MGetIdent(), 2e-6f);
    EXPECT_TRUE(Same(MInverse(m), inv));
  }
  MATRIX singular = MGetScale({1e-3f, 1e-3f, 0.05f});  // det 5e-8
  MATRIX out = MScale(MGetIdent(), 7);
  const MATRIX before = out;
  EXPECT_EQ(CreateInverseMatrix(&out, &singular), -1);
  EXPECT_TRUE(Same(out, before));
  EXPECT_TRUE(Same(MInverse(singular), MGetIdent()));
}

TEST(MatrixMath, ProjectionViewportAndLookAt) {
  SetGraphMode(640, 480, 32);
  MATRIX m = MGetIdent();
  const MATRIX before = m;
  EXPECT_EQ(CreatePerspectiveFovMatrix(&m, 1.0f, 5, 5, 1), -1);
  EXPECT_EQ(CreatePerspectiveFovMatrix(&m, 0.0f, 1, 100, 1), -1);
  EXPECT_EQ(CreateOrthoMatrix(&m, 10, 1, 1.00005f, 1), -1);
  EXPECT_EQ(CreateOrthoMatrix(&m, 0, 1, 100, 1), -1);
  EXPECT_TRUE(Same(m, before));

  float cot = static_cast<float>(std::cos(0.5)) / static_cast<float>(std::sin(0.5));
  ASSERT_EQ(CreatePerspectiveFovMatrix(&m, 1.0f, 2, 100, -1), 0);  // 480 / 640
  EXPECT_TRUE(Equal(
      m,
      {{{0.75f * cot, 0, 0, 0}, {0, cot, 0, 0}, {0, 0, 100.0f / 98, 1}, {0, 0, -200.0f / 98, 0}}}));
  ASSERT_EQ(CreateOrthoMatrix(&m, 8, 1, 11, 0.5f), 0);
  EXPECT_TRUE(Equal(m, {{{0.125f, 0, 0, 0}, {0, 0.25f, 0, 0}, {0, 0, 0.1f, 0}, {0, 0, -0.1f, 1}}}));
  CreateViewportMatrix(&m, 320, 240, 640, 480);
  EXPECT_TRUE(Equal(m, {{{320, 0, 0, 0}, {0, -240, 0, 0}, {0, 0, 1, 0}, {320, 240, 0, 1}}}));

  VECTOR eye = {0, 0, -5}, target = {0, 0, 0}, up = {0, 1, 0};
  CreateLookAtMatrix(&m, &eye, &target, &up);
  EXPECT_TRUE(Equal(m, MGetTranslate({0, 0, 5})));
  // A general view: orthonormal axes, the eye to the origin, the target onto +z.
  eye = {3, -2, 7}, target = {-1, 4, 2}, up = {0.2f, 1, 0.1f};
  CreateLookAtMatrix(&m, &eye, &target, &up);
  VECTOR e, t;
  VTransformInline(&e, &eye, &m);
  VTransformInline(&t, &target, &m);
  EXPECT_NEAR(VSize(e), 0, 1e-5f);
  EXPECT_NEAR(VSize({t.x, t.y, 0}), 0, 1e-5f);
  EXPECT_NEAR(t.z, VSize({-4, 6, -5}), 1e-5f);
  MATRIX rot = m;
  rot.m[3][0] = rot.m[3][1] = rot.m[3][2] = 0;
  ExpectNear(MMult(rot, MTranspose(rot)), MGetIdent(), 1e-6f);
  // An up vector along the view leaves the matrix non-finite.
  eye = {0, 0, 0}, target = {0, 0, 3}, up = {0, 0, 1};
  CreateLookAtMatrix(&m, &eye, &target, &up);
  EXPECT_FALSE(std::isfinite(m.m[0][0]));
}

TEST(MatrixMath, AxisRotationAndRotationBetweenDirections) {
  for (float a : {0.0f, 0.7f, -2.5f}) {
    ExpectNear(MGetRotAxis({1, 0, 0}, a), MGetRotX(a), 1e-7f);
    ExpectNear(MGetRotAxis({0, 3, 0}, a), MGetRotY(a), 1e-7f);
    ExpectNear(MGetRotAxis({0, 0, 2}, a), MGetRotZ(a), 1e-7f);
  }
  EXPECT_TRUE(Equal(MGetRotVec2({0, 0, 2}, {0, 0, 2}), MGetIdent()));
  EXPECT_EQ(VSize({0.0001f, 0.0001f, 0.0001f}), 0.0f);  // squared length below 1e-7
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> c(-3, 3);
    VECTOR from = {c(rng), c(rng), c(rng)}, to = {c(rng), c(rng), c(rng)};
    if (seed % 3 == 0) to = {-2 * from.x, -2 * from.y, -2 * from.z};  // opposite
    if (seed % 3 == 1) to = from;  // equal: the float cosine may exceed 1
    if (seed % 30 == 0) from = {0, c(rng), c(rng)}, to = {0, -from.y, -from.z};
    MATRIX m = MGetRotVec2(from, to);
    VECTOR f = VNorm(from), g = VNorm(to), r;
    VTransformSRInline(&r, &f, &m);
    // acos near +-1 turns a rounding of the cosine into an angle of up to ~5e-4.
    float tol = seed % 3 == 2 ? 2e-5f : 1e-3f;
    EXPECT_NEAR(r.x, g.x, tol);
    EXPECT_NEAR(r.y, g.y, tol);
    EXPECT_NEAR(r.z, g.z, tol);
    ExpectNear(MMult(m, MTranspose(m)), MGetIdent(), 2e-6f);
  }
}

TEST(MatrixMath, TransformMatrixOrders) {
  VECTOR rot = {0, 0, 0}, one = {1, 1, 1}, move = {4, -5, 6};
  MATRIX m = MScale(MGetIdent(), 3);
  const MATRIX before = m;
  for (int bad : {6, -1, 100, -2147483647 - 1})
    EXPECT_EQ(CreateTransformMatrix(&rot, &one, &move, nullptr, &m, bad), -1);
  EXPECT_TRUE(Same(m, before));
  ASSERT_EQ(CreateTransformMatrix(&rot, &one, &move, nullptr, &m, 0), 0);
  EXPECT_TRUE(Equal(m, MGetTranslate(move)));
  rot = {0.4f, -1.1f, 2.2f};
  VECTOR scale = {2, 0.5f, -3}, extra = {0.3f, 0.2f, -0.1f};
  for (int order = 0; order < 6; ++order) {
    SCOPED_TRACE(kOrders[order].Name);
    MATRIX r, e;
    kOrders[order].Build(&r, rot.x, rot.y, rot.z);
    CreateRotationXYZMatrix(&e, extra.x, extra.y, extra.z);
    ASSERT_EQ(CreateTransformMatrix(&rot, &scale, &move, &extra, &m, order), 0);
    ExpectNear(m, MMult(MMult(MMult(MGetScale(scale), r), e), MGetTranslate(move)), 1e-5f);
    ASSERT_EQ(CreateTransformMatrix(&rot, &scale, &move, nullptr, &m, order), 0);
    ExpectNear(m, MMult(MMult(MGetScale(scale), r), MGetTranslate(move)), 1e-5f);
  }
}

namespace {

// The rotation-between-directions rule's parallel test, in float as the rule computes it: the
// squared cross product below 1e-7 times the smaller of 1 and the product of the squared
// lengths, or exactly zero.
bool ParallelByRule(VECTOR from, VECTOR to) {
  const float cx = from.y * to.z - from.z * to.y;
  const float cy = from.z * to.x - from.x * to.z;
  const float cz = from.x * to.y - from.y * to.x;
  const float ff = from.x * from.x + from.y * from.y + from.z * from.z;
  const float tt = to.x * to.x + to.y * to.y + to.z * to.z;
  const float cc = cx * cx + cy * cy + cz * cz;
  return cc == 0 || cc < 1e-7f * std::min(1.0f, ff * tt);
}

// MGetRotVec2 as it was before parallel directions gave the identity, with its parallel test
// by the rule above: every input off the identity case must match it bit for bit.
MATRIX OldRotVec2(VECTOR from, VECTOR to) {
  using mathinl::Cross;
  using mathinl::Dot;
  VECTOR axis = Cross(from, to);
  if (ParallelByRule(from, to)) {
    axis = {1.0f, 0.0f, 0.0f};
    if (Dot(from, to) < 0.0f && AbsFloat(from.x) > 1e-3f * SqrtFloat(Dot(from, from)))
      axis = mathinl::Normalize(Cross(from, {0.0f, 1.0f, 0.0f}));
  }
  float cosine = GetVectorAngleCos(from, to);
  if (cosine > 1.0f) cosine = 1.0f;
  if (cosine < -1.0f) cosine = -1.0f;
  return MGetRotAxis(axis, std::acos(cosine));
}

// A unit vector at the given angle (radians) from unit vector d, in a seeded direction.
VECTOR AtAngle(VECTOR d, double angle, std::mt19937& rng) {
  std::uniform_real_distribution<float> c(-1, 1);
  VECTOR e;
  do {
    e = mathinl::Cross(d, {c(rng), c(rng), c(rng)});
  } while (mathinl::Dot(e, e) < 0.01f);
  e = mathinl::Normalize(e);
  const double p = std::cos(angle), q = std::sin(angle);
  return {float(p * d.x + q * e.x), float(p * d.y + q * e.y), float(p * d.z + q * e.z)};
}

}  // namespace

TEST(MatrixMath, RotationBetweenEqualDirectionsIsIdentity) {
  EXPECT_TRUE(Same(MGetRotVec2({-2, 7, 1}, {-2, 7, 1}), MGetIdent()));
  int parallel = 0, other = 0;
  for (uint32_t seed = 1; seed <= 20000; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> c(-50, 50);
    VECTOR from = {c(rng), c(rng), c(rng)}, to = {c(rng), c(rng), c(rng)};
    switch (seed % 4) {
      case 0: to = from; break;
      case 1: to = mathinl::Scale(from, 0.5f + (seed % 7)); break;  // same way, other length
      case 2: to = mathinl::Scale(from, -1.0f - (seed % 5)); break;  // opposite: unchanged
      default: break;                                        // general: unchanged
    }
    MATRIX m = MGetRotVec2(from, to);
    if (ParallelByRule(from, to) && mathinl::Dot(from, to) > 0.0f) {
      ++parallel;
      ASSERT_TRUE(Same(m, MGetIdent()));
    } else {
      ++other;
      ASSERT_TRUE(Same(m, OldRotVec2(from, to)));
    }
  }
  EXPECT_GT(parallel, 9000);
  EXPECT_GT(other, 9000);
}

TEST(MatrixMath, ShortVectorIsTurnedNotTakenAsParallel) {
  // Lengths of from and to and the angle between them (degrees). Below 1e-7 of the length
  // product the pair is parallel and, pointing the same way, gives the identity; above it the
  // rotation turns from's direction into to's, however short the vectors.
  struct Case {
    float From, To;
    double Degrees;
  };
  const Case cases[] = {
      {3e-4f, 1, 23},   {3e-4f, 1, 76},   {1, 3e-4f, 45},     {1e-3f, 1e-3f, 30},  {1e-5f, 2, 10},
      {1e-6f, 1e-6f, 5}, {0.5f, 0.5f, 1},  {3e-4f, 1, 179.5},   {2, 3, 60},          {1e-4f, 1e-4f, 0.05},
      {1e-4f, 1e-4f, 0.005}, {3e-4f, 1, 0.005}, {1e-6f, 5e-7f, 0.005}, {1e-3f, 1e-3f, 0.0001},
  };
  int turned = 0, parallel = 0;
  uint32_t seed = 0;
  for (const Case& k : cases) {
    for (int n = 0; n < 20; ++n) {
      SCOPED_TRACE(std::to_string(k.From) + " " + std::to_string(k.To) + " " +
                   std::to_string(k.Degrees) + " seed " + std::to_string(++seed));
      std::mt19937 rng(seed);
      std::uniform_real_distribution<float> c(-1, 1);
      VECTOR d = mathinl::Normalize({c(rng), c(rng), c(rng)});
      const VECTOR from = mathinl::Scale(d, k.From);
      const VECTOR to = mathinl::Scale(AtAngle(d, k.Degrees * 3.14159265358979 / 180, rng), k.To);
      const MATRIX m = MGetRotVec2(from, to);
      const double sin2 = std::pow(std::sin(k.Degrees * 3.14159265358979 / 180), 2);
      if (sin2 < 0.25e-7) {  // well inside the parallel band
        ++parallel;
        EXPECT_TRUE(ParallelByRule(from, to));
        EXPECT_TRUE(Same(m, MGetIdent()));
        continue;
      }
      ASSERT_GT(sin2, 4e-7);  // well outside it
      ++turned;
      EXPECT_FALSE(ParallelByRule(from, to));
      VECTOR f = VNorm(from), g = VNorm(to), r;
      VTransformSRInline(&r, &f, &m);
      const float tol = sin2 < 1e-4 ? 1e-3f : 2e-5f;  // acos is steep near 1
      EXPECT_NEAR(r.x, g.x, tol);
      EXPECT_NEAR(r.y, g.y, tol);
      EXPECT_NEAR(r.z, g.z, tol);
      ExpectNear(MMult(m, MTranspose(m)), MGetIdent(), 2e-6f);
    }
  }
  EXPECT_EQ(parallel, 20 * 4);
  EXPECT_EQ(turned, 20 * 10);
  // An exactly zero cross product is parallel at any length: a tiny vector with itself or a
  // multiple of itself gives the identity; against its opposite it turns half way round.
  const VECTOR tiny = {1e-5f, -2e-5f, 3e-6f};
  // (here the length product underflows, and the bound with it)
  for (VECTOR v : {tiny, VECTOR{1e-12f, 3e-13f, -2e-12f}}) {
    EXPECT_TRUE(Same(MGetRotVec2(v, v), MGetIdent()));
    EXPECT_TRUE(Same(MGetRotVec2(v, mathinl::Scale(v, 4)), MGetIdent()));
  }
  const VECTOR back = mathinl::Scale(tiny, -1), f = VNorm(tiny), g = VNorm(back);
  VECTOR r;
  const MATRIX half = MGetRotVec2(tiny, back);
  VTransformSRInline(&r, &f, &half);
  EXPECT_NEAR(r.x, g.x, 1e-3f);  // acos near -1, as above
  EXPECT_NEAR(r.y, g.y, 1e-3f);
  EXPECT_NEAR(r.z, g.z, 1e-3f);
  // A zero vector has no direction: the identity, whichever side it is on.
  const VECTOR zero = {0, 0, 0}, v = {1, -2, 0.5f};
  for (const auto& pair : {std::make_pair(zero, v), std::make_pair(v, zero), std::make_pair(zero, zero)})
    EXPECT_TRUE(Same(MGetRotVec2(pair.first, pair.second), MGetIdent()));
}
