#include <qzlib/math/math3d.h>

#include <emmintrin.h>

#include <cmath>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/math/math_inline.h>

using mathinl::Add;
using mathinl::Cross;
using mathinl::Dot;
using mathinl::Normalize;
using mathinl::Scale;
using mathinl::Sub;

namespace {

const MATRIX kIdentity = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

MATRIX Zero() { return MATRIX{}; }

VECTOR Transform(VECTOR v, const MATRIX& m) {
  VECTOR r;
  r.x = v.x * m.m[0][0] + v.y * m.m[1][0] + v.z * m.m[2][0] + m.m[3][0];
  r.y = v.x * m.m[0][1] + v.y * m.m[1][1] + v.z * m.m[2][1] + m.m[3][1];
  r.z = v.x * m.m[0][2] + v.y * m.m[1][2] + v.z * m.m[2][2] + m.m[3][2];
  return r;
}

// r_ij = a_i0*b_0j + a_i1*b_1j + a_i2*b_2j + a_i3*b_3j, summed in that order: one row of r is
// the same four products and three sums lane by lane over the rows of b.
MATRIX Multiply(const MATRIX& a, const MATRIX& b) {
  __m128 b0 = _mm_loadu_ps(b.m[0]), b1 = _mm_loadu_ps(b.m[1]);
  __m128 b2 = _mm_loadu_ps(b.m[2]), b3 = _mm_loadu_ps(b.m[3]);
  MATRIX r;
  for (int i = 0; i < 4; ++i) {
    __m128 s = _mm_mul_ps(_mm_set1_ps(a.m[i][0]), b0);
    s = _mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(a.m[i][1]), b1));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(a.m[i][2]), b2));
    s = _mm_add_ps(s, _mm_mul_ps(_mm_set1_ps(a.m[i][3]), b3));
    _mm_storeu_ps(r.m[i], s);
  }
  return r;
}

MATRIX RotX(float angle) {
  float s, c;
  SinCos(angle, &s, &c);
  MATRIX r = Zero();
  r.m[0][0] = 1;
  r.m[1][1] = c;
  r.m[1][2] = s;
  r.m[2][1] = -s;
  r.m[2][2] = c;
  r.m[3][3] = 1;
  return r;
}

MATRIX RotY(float angle) {
  float s, c;
  SinCos(angle, &s, &c);
  MATRIX r = Zero();
  r.m[0][0] = c;
  r.m[0][2] = -s;
  r.m[1][1] = 1;
  r.m[2][0] = s;
  r.m[2][2] = c;
  r.m[3][3] = 1;
  return r;
}

MATRIX RotZ(float angle) {
  float s, c;
  SinCos(angle, &s, &c);
  MATRIX r = Zero();
  r.m[0][0] = c;
  r.m[0][1] = s;
  r.m[1][0] = -s;
  r.m[1][1] = c;
  r.m[2][2] = 1;
  r.m[3][3] = 1;
  return r;
}

MATRIX Euler(int order, float x, float y, float z) {
  float sx, cx, sy, cy, sz, cz;
  SinCos(x, &sx, &cx);
  SinCos(y, &sy, &cy);
  SinCos(z, &sz, &cz);
  float b[3][3];
  mathinl::EulerBlock(order, sx, cx, sy, cy, sz, cz, b);
  MATRIX r = Zero();
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = b[i][j];
  r.m[3][3] = 1;
  return r;
}

int EulerInto(MATRIX* out, int order, float x, float y, float z) {
  *out = Euler(order, x, y, z);
  return 0;
}

// ---- Euler extraction ----

// One matrix element, possibly negated: m[I][J] * sign.
struct Term {
  unsigned char I, J;
  bool Negate;
};

float Read(const MATRIX* m, Term t) { return t.Negate ? -m->m[t.I][t.J] : m->m[t.I][t.J]; }

// How one rotation order is taken apart. Angles are indexed 0 x, 1 y, 2 z.
struct EulerExtractor {
  int First, Middle, Last;        // angle indices in order of application
  Term MiddleSin;                 // the tested element as the middle angle's sine
  Term GimbalLastY, GimbalLastX;  // gimbal: last = atan2(y, x)
  Term FirstY, FirstX;            // normal: first = atan2(y, x)
  Term LastY, LastX;              // normal: last = atan2(y, x)
  bool PivotIsFirst;              // the pivot angle is the first (else the last) angle
  Term A, B;                      // middle cosine = A / cos(pivot), or B / sin(pivot)
};

constexpr Term P(int i, int j) { return {(unsigned char)i, (unsigned char)j, false}; }
constexpr Term N(int i, int j) { return {(unsigned char)i, (unsigned char)j, true}; }

// clang-format off
const EulerExtractor kExtractors[6] = {
    // XYZ: sin y = -m02
    {0, 1, 2, N(0, 2), N(1, 0), P(1, 1), P(1, 2), P(2, 2), P(0, 1), P(0, 0), false, P(0, 0),
     P(0, 1)},
    // XZY: sin z = m01
    {0, 2, 1, P(0, 1), P(2, 0), P(2, 2), N(2, 1), P(1, 1), N(0, 2), P(0, 0), true, P(1, 1),
     N(2, 1)},
    // YZX: sin z = -m10
    {1, 2, 0, N(1, 0), N(2, 1), P(2, 2), P(2, 0), P(0, 0), P(1, 2), P(1, 1), true, P(0, 0),
     P(2, 0)},
    // YXZ: sin x = m12
    {1, 0, 2, P(1, 2), P(0, 1), P(0, 0), N(0, 2), P(2, 2), N(1, 0), P(1, 1), true, P(2, 2),
     N(0, 2)},
    // ZXY: sin x = -m21. The pivot is z with cos x = m11 / cos z, else m01 / sin z: the m01
    // branch keeps its sign so that every angle set round-trips.
    {2, 0, 1, N(2, 1), N(0, 2), P(0, 0), P(0, 1), P(1, 1), P(2, 0), P(2, 2), true, P(1, 1),
     P(0, 1)},
    // ZYX: sin y = m20
    {2, 1, 0, P(2, 0), P(1, 2), P(1, 1), N(1, 0), P(0, 0), N(2, 1), P(2, 2), true, P(0, 0),
     N(1, 0)},
};
// clang-format on

bool InGimbalBand(float e) {
  return (e > 0.99999f && e < 1.000001f) || (e > -1.000001f && e < -0.99999f);
}

int ExtractEuler(int order, const MATRIX* m, float* x, float* y, float* z) {
  const EulerExtractor& d = kExtractors[order];
  float angles[3];
  int result;
  float e = m->m[d.MiddleSin.I][d.MiddleSin.J];
  if (InGimbalBand(e)) {
    angles[d.First] = 0.0f;
    angles[d.Middle] = Read(m, d.MiddleSin) > 0.5f ? 1.5707964f : -1.5707964f;
    angles[d.Last] = std::atan2(Read(m, d.GimbalLastY), Read(m, d.GimbalLastX));
    result = -1;
  } else {
    angles[d.First] = std::atan2(Read(m, d.FirstY), Read(m, d.FirstX));
    angles[d.Last] = std::atan2(Read(m, d.LastY), Read(m, d.LastX));
    float s, c;
    SinCos(angles[d.PivotIsFirst ? d.First : d.Last], &s, &c);
    float k = (c >= 1e-6f || c <= -1e-6f) ? Read(m, d.A) / c : Read(m, d.B) / s;
    angles[d.Middle] = std::atan2(Read(m, d.MiddleSin), k);
    result = 0;
  }
  if (x) *x = angles[0];
  if (y) *y = angles[1];
  if (z) *z = angles[2];
  return result;
}

float ScreenAspect() {
  int w = 0, h = 0;
  GetDrawScreenSize(&w, &h);
  return static_cast<float>(h) / static_cast<float>(w);
}

}  // namespace

// ---- Vectors ----

int VectorAdd(VECTOR* out, const VECTOR* a, const VECTOR* b) {
  *out = Add(*a, *b);
  return 0;
}

int VectorSub(VECTOR* out, const VECTOR* a, const VECTOR* b) {
  *out = Sub(*a, *b);
  return 0;
}

VECTOR* VSubInline(VECTOR* out, const VECTOR* a, const VECTOR* b) {
  *out = Sub(*a, *b);
  return out;
}

int VectorCross(VECTOR* out, const VECTOR* a, const VECTOR* b) {
  CrossVector3(out, a, b);
  return 0;
}

float VectorDot(const VECTOR* a, const VECTOR* b) { return Dot(*a, *b); }

int VectorNormalize(VECTOR* out, const VECTOR* v) {
  *out = Normalize(*v);
  return 0;
}

int VectorTransform(VECTOR* out, const VECTOR* v, const MATRIX* m) {
  *out = Transform(*v, *m);
  return 0;
}

VECTOR* VTransformInline(VECTOR* out, const VECTOR* v, const MATRIX* m) {
  *out = Transform(*v, *m);
  return out;
}

VECTOR* VTransformSRInline(VECTOR* out, const VECTOR* v, const MATRIX* m) {
  VECTOR p = *v;
  out->x = p.x * m->m[0][0] + p.y * m->m[1][0] + p.z * m->m[2][0];
  out->y = p.x * m->m[0][1] + p.y * m->m[1][1] + p.z * m->m[2][1];
  out->z = p.x * m->m[0][2] + p.y * m->m[1][2] + p.z * m->m[2][2];
  return out;
}

int VectorTransform4(VECTOR* out, float* outW, const VECTOR* v, const float* w, const MATRIX* m) {
  VECTOR p = *v;
  float pw = *w;
  float r[4];
  for (int j = 0; j < 4; ++j)
    r[j] = p.x * m->m[0][j] + p.y * m->m[1][j] + p.z * m->m[2][j] + pw * m->m[3][j];
  *out = {r[0], r[1], r[2]};
  *outW = r[3];
  return 0;
}

VECTOR VNorm(VECTOR v) { return Normalize(v); }

float VSize(VECTOR v) {
  float sq = v.x * v.x + v.y * v.y + v.z * v.z;
  return sq < 1e-7f ? 0.0f : SqrtFloat(sq);
}

float GetVectorAngleCos(VECTOR a, VECTOR b) { return Dot(Normalize(a), Normalize(b)); }

// ---- 4x4 builders ----

int CreateIdentityMatrix(MATRIX* out) {
  *out = kIdentity;
  return 0;
}

int CreateMultiplyMatrix(MATRIX* out, const MATRIX* a, const MATRIX* b) {
  if (out) *out = Multiply(*a, *b);
  return 0;
}

int CreateScalingMatrix(MATRIX* out, float sx, float sy, float sz) {
  *out = MGetScale({sx, sy, sz});
  return 0;
}

int CreateTranslationMatrix(MATRIX* out, float x, float y, float z) {
  *out = MGetTranslate({x, y, z});
  return 0;
}

int CreateRotationXMatrix(MATRIX* out, float angle) {
  *out = RotX(angle);
  return 0;
}

int CreateRotationYMatrix(MATRIX* out, float angle) {
  *out = RotY(angle);
  return 0;
}

int CreateRotationZMatrix(MATRIX* out, float angle) {
  *out = RotZ(angle);
  return 0;
}

int CreateTransposeMatrix(MATRIX* out, const MATRIX* m) {
  MATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = m->m[j][i];
  *out = r;
  return 0;
}

int CreateInverseMatrix(MATRIX* out, const MATRIX* m) {
  double a[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a[i][j] = m->m[i][j];
  // 2x2 minors of rows 0-1 (s) and rows 2-3 (c), by column pair.
  double s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
  double s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
  double s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
  double s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
  double s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
  double s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
  double c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
  double c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
  double c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
  double c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
  double c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
  double c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
  float det = static_cast<float>(s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0);
  if (det > -1e-7f && det < 1e-7f) return -1;
  // adj[i][j] = cofactor of element (j, i).
  double adj[4][4] = {
      {a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3, -a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3,
       a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3, -a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3},
      {-a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1, a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1,
       -a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1, a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1},
      {a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0, -a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0,
       a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0, -a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0},
      {-a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0, a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0,
       -a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0, a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0},
  };
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out->m[i][j] = static_cast<float>(adj[i][j] / det);
  return 0;
}

int CreatePerspectiveFovMatrix(MATRIX* out, float fov, float zNear, float zFar, float aspect) {
  if (aspect < 0.0f) aspect = ScreenAspect();
  float s, c;
  SinCos(fov / 2.0f, &s, &c);
  if (AbsFloat(zFar - zNear) < 0.0001f || AbsFloat(s) < 0.0001f) return -1;
  float cot = c / s;
  MATRIX r = Zero();
  r.m[0][0] = aspect * cot;
  r.m[1][1] = cot;
  r.m[2][2] = zFar / (zFar - zNear);
  r.m[2][3] = 1.0f;
  r.m[3][2] = -zNear * zFar / (zFar - zNear);
  *out = r;
  return 0;
}

int CreateOrthoMatrix(MATRIX* out, float size, float zNear, float zFar, float aspect) {
  if (aspect < 0.0f) aspect = ScreenAspect();
  // A size of 0 would make both scales infinite.
  if (AbsFloat(zNear - zFar) < 0.0001f || size == 0.0f) return -1;
  MATRIX r = Zero();
  r.m[0][0] = 2.0f / (size / aspect);
  r.m[1][1] = 2.0f / size;
  r.m[2][2] = 1.0f / (zFar - zNear);
  r.m[3][2] = zNear / (zNear - zFar);
  r.m[3][3] = 1.0f;
  *out = r;
  return 0;
}

int CreateViewportMatrix(MATRIX* out, float cx, float cy, float w, float h) {
  MATRIX r = Zero();
  r.m[0][0] = w * 0.5f;
  r.m[1][1] = -h * 0.5f;
  r.m[2][2] = 1.0f;
  r.m[3][0] = cx;
  r.m[3][1] = cy;
  r.m[3][2] = 0.0f;
  r.m[3][3] = 1.0f;
  *out = r;
  return 0;
}

int CreateLookAtMatrix(MATRIX* out, const VECTOR* eye, const VECTOR* target, const VECTOR* up) {
  VECTOR z = Sub(*target, *eye);
  VECTOR x = Cross(*up, z);
  VECTOR y = Cross(z, x);
  *out = MGetAxis2(Normalize(x), Normalize(y), Normalize(z), *eye);
  return 0;
}

int CreateRotationXYZMatrix(MATRIX* out, float x, float y, float z) {
  return EulerInto(out, 0, x, y, z);
}
int CreateRotationXZYMatrix(MATRIX* out, float x, float y, float z) {
  return EulerInto(out, 1, x, y, z);
}
int CreateRotationYZXMatrix(MATRIX* out, float x, float y, float z) {
  return EulerInto(out, 2, x, y, z);
}
int CreateRotationYXZMatrix(MATRIX* out, float x, float y, float z) {
  return EulerInto(out, 3, x, y, z);
}
int CreateRotationZXYMatrix(MATRIX* out, float x, float y, float z) {
  return EulerInto(out, 4, x, y, z);
}
int CreateRotationZYXMatrix(MATRIX* out, float x, float y, float z) {
  return EulerInto(out, 5, x, y, z);
}

int GetMatrixXYZRotation(const MATRIX* m, float* x, float* y, float* z) {
  return ExtractEuler(0, m, x, y, z);
}
int GetMatrixXZYRotation(const MATRIX* m, float* x, float* y, float* z) {
  return ExtractEuler(1, m, x, y, z);
}
int GetMatrixYZXRotation(const MATRIX* m, float* x, float* y, float* z) {
  return ExtractEuler(2, m, x, y, z);
}
int GetMatrixYXZRotation(const MATRIX* m, float* x, float* y, float* z) {
  return ExtractEuler(3, m, x, y, z);
}
int GetMatrixZXYRotation(const MATRIX* m, float* x, float* y, float* z) {
  return ExtractEuler(4, m, x, y, z);
}
int GetMatrixZYXRotation(const MATRIX* m, float* x, float* y, float* z) {
  return ExtractEuler(5, m, x, y, z);
}

// ---- By value ----

MATRIX MGetIdent() { return kIdentity; }

MATRIX MMult(MATRIX a, MATRIX b) { return Multiply(a, b); }

MATRIX MScale(MATRIX m, float s) {
  for (auto& row : m.m)
    for (float& e : row) e *= s;
  return m;
}

MATRIX MAdd(MATRIX a, MATRIX b) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) a.m[i][j] += b.m[i][j];
  return a;
}

MATRIX MGetScale(VECTOR v) {
  MATRIX r = Zero();
  r.m[0][0] = v.x;
  r.m[1][1] = v.y;
  r.m[2][2] = v.z;
  r.m[3][3] = 1.0f;
  return r;
}

MATRIX MGetRotX(float angle) { return RotX(angle); }
MATRIX MGetRotY(float angle) { return RotY(angle); }
MATRIX MGetRotZ(float angle) { return RotZ(angle); }

MATRIX MGetTranslate(VECTOR v) {
  MATRIX r = kIdentity;
  r.m[3][0] = v.x;
  r.m[3][1] = v.y;
  r.m[3][2] = v.z;
  return r;
}

MATRIX MGetAxis1(VECTOR x, VECTOR y, VECTOR z, VECTOR pos) {
  return MATRIX{
      {{x.x, x.y, x.z, 0}, {y.x, y.y, y.z, 0}, {z.x, z.y, z.z, 0}, {pos.x, pos.y, pos.z, 1}}};
}

MATRIX MGetAxis2(VECTOR x, VECTOR y, VECTOR z, VECTOR pos) {
  return MATRIX{{{x.x, y.x, z.x, 0},
                 {x.y, y.y, z.y, 0},
                 {x.z, y.z, z.z, 0},
                 {-Dot(x, pos), -Dot(y, pos), -Dot(z, pos), 1}}};
}

MATRIX MTranspose(MATRIX m) {
  MATRIX r;
  CreateTransposeMatrix(&r, &m);
  return r;
}

MATRIX MInverse(MATRIX m) {
  MATRIX r;
  if (CreateInverseMatrix(&r, &m) != 0) return kIdentity;
  return r;
}

MATRIX MGetRotAxis(VECTOR axis, float angle) {
  VECTOR a = Normalize(axis);
  VECTOR u = {0.0f, 1.0f, 0.0f};
  VECTOR ua = Cross(u, a);
  if (Dot(ua, ua) < 1e-5f) u = {0.0f, 0.0f, 1.0f};
  VECTOR b1 = Normalize(Cross(a, u));
  VECTOR b2 = Normalize(Cross(b1, a));
  float s, c;
  SinCos(angle, &s, &c);
  MATRIX r = Zero();
  const VECTOR world[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int j = 0; j < 3; ++j) {
    float p = Dot(world[j], b1), q = Dot(world[j], b2), h = Dot(world[j], a);
    float p2 = p * c - q * s;
    float q2 = p * s + q * c;
    VECTOR e = Add(Add(Scale(b1, p2), Scale(b2, q2)), Scale(a, h));
    r.m[0][j] = e.x;
    r.m[1][j] = e.y;
    r.m[2][j] = e.z;
  }
  r.m[3][3] = 1.0f;
  return r;
}

MATRIX MGetRotVec2(VECTOR from, VECTOR to) {
  const float fromSq = Dot(from, from), toSq = Dot(to, to);
  // A zero vector has no direction to turn from or to.
  if (fromSq == 0.0f || toSq == 0.0f) return MGetIdent();
  VECTOR axis = Cross(from, to);
  // Parallel when the cross product is small beside the lengths: |from x to|^2 = |from|^2 |to|^2
  // sin^2, so the bound scales with the length product below 1 and stays 1e-7 from 1 up. An
  // exactly zero cross product is parallel even where that bound underflows.
  const float lengthSq = fromSq * toSq;
  const float axisSq = Dot(axis, axis);
  if (axisSq == 0.0f || axisSq < 1e-7f * (lengthSq < 1.0f ? lengthSq : 1.0f)) {
    // Nearly parallel and pointing the same way: no turn (the float cosine of a vector with itself
    // may round below 1, and acos of it is not 0).
    if (Dot(from, to) > 0.0f) return MGetIdent();
    axis = {1.0f, 0.0f, 0.0f};
    // Opposite directions turn by pi about any axis perpendicular to from; (1, 0, 0) is one only
    // when from has no x part.
    if (Dot(from, to) < 0.0f && AbsFloat(from.x) > 1e-3f * SqrtFloat(Dot(from, from))) {
      axis = Normalize(Cross(from, {0.0f, 1.0f, 0.0f}));
    }
  }
  float cosine = GetVectorAngleCos(from, to);
  // A normalised vector dotted with itself may exceed 1 in float; acos would give NaN.
  if (cosine > 1.0f) cosine = 1.0f;
  if (cosine < -1.0f) cosine = -1.0f;
  return MGetRotAxis(axis, std::acos(cosine));
}

int CreateTransformMatrix(const VECTOR* rotate, const VECTOR* scale, const VECTOR* translate,
                          const VECTOR* extraRotate, MATRIX* out, int rotateOrder) {
  if (rotateOrder < 0 || rotateOrder > 5) return -1;
  MATRIX s = MGetScale(*scale);
  MATRIX rx = RotX(rotate->x), ry = RotY(rotate->y), rz = RotZ(rotate->z);
  MATRIX t = MGetTranslate(*translate);
  static const unsigned char kSequence[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 2, 0},
                                                {1, 0, 2}, {2, 0, 1}, {2, 1, 0}};
  const MATRIX* axes[3] = {&rx, &ry, &rz};
  MATRIX r = s;
  for (int k = 0; k < 3; ++k) r = Multiply(r, *axes[kSequence[rotateOrder][k]]);
  if (extraRotate) r = Multiply(r, Euler(0, extraRotate->x, extraRotate->y, extraRotate->z));
  *out = Multiply(r, t);
  return 0;
}
