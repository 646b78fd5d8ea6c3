#include <qzlib/graphics/draw3d.h>

#include <cmath>
#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/math/math3d.h>

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;

uint8_t VertexAlpha() {
  return DrawBlendMode == BLENDMODE::NOBLEND ? 255 : uint8_t(DrawBlendParam);
}

COLOR_U8 SplitToU8(uint32_t color, uint8_t alpha) {
  int r, g, b;
  SplitColor(color, &r, &g, &b);
  return COLOR_U8{uint8_t(b), uint8_t(g), uint8_t(r), alpha};
}

UnlitVertex3D Unlit(VECTOR p, COLOR_U8 c) { return UnlitVertex3D{p, c, 0, 0}; }

// Colours shared by every vertex of a solid.
struct SolidColors {
  COLOR_U8 dif, spc;
};

SolidColors Colors(uint32_t difColor, uint32_t spcColor) {
  return SolidColors{SplitToU8(difColor, VertexAlpha()), SplitToU8(spcColor, 0)};
}

// One block for the vertices, the angle tables and the indices.
bool Allocate(Shape3DMesh* m, int vertexCount, int tableFloats, int indexCount, float** tables) {
  const size_t vbytes = sizeof(VERTEX3D) * size_t(vertexCount);
  const size_t tbytes = sizeof(float) * size_t(tableFloats);
  m->Block = MEM_ALLOC(vbytes + tbytes + sizeof(uint16_t) * size_t(indexCount));
  if (!m->Block) return false;
  uint8_t* p = static_cast<uint8_t*>(m->Block);
  m->Vertices = reinterpret_cast<VERTEX3D*>(p);
  *tables = reinterpret_cast<float*>(p + vbytes);
  m->Indices = reinterpret_cast<uint16_t*>(p + vbytes + tbytes);
  m->VertexCount = vertexCount;
  m->IndexCount = indexCount;
  return true;
}

void SetVertex(VERTEX3D* v, VECTOR pos, VECTOR norm, const SolidColors& c) {
  v->pos = pos;
  v->norm = norm;
  v->dif = c.dif;
  v->spc = c.spc;
  v->u = v->v = v->su = v->sv = 0;
}

// Column angle tables: sin and cos of j * 2pi / c.
void ColumnTable(float* sinT, float* cosT, int c) {
  for (int j = 0; j < c; ++j) {
    const float a = float(j) * kTwoPi / float(c);
    sinT[j] = std::sin(a);
    cosT[j] = std::cos(a);
  }
}

// Indices of a ring mesh: `rings` rings of c vertices from the top, the top pole at rings * c,
// the bottom pole after it. Filled: caps and bands; outline: meridians then rings.
void RingIndices(uint16_t* out, int rings, int c, int fill) {
  const int top = rings * c, bottom = top + 1;
  uint16_t* p = out;
  auto put = [&p](int i) { *p++ = uint16_t(i); };
  if (fill) {
    for (int k = 0; k < c; ++k) {
      put(k);
      put(top);
      put(k + 1 < c ? k + 1 : 0);
    }
    for (int i = 0; i + 1 < rings; ++i) {
      for (int k = 0; k < c; ++k) {
        const int a = i * c + k;
        const int a1 = i * c + (k + 1 < c ? k + 1 : 0);
        put(a); put(a1); put(a + c);
        put(a + c); put(a1); put(a1 + c);
      }
    }
    const int b = (rings - 1) * c;
    for (int k = 0; k < c; ++k) {
      if (k + 1 < c) {
        put(b + k + 1); put(bottom); put(b + k);
      } else {
        put(b); put(bottom); put(b + c - 1);
      }
    }
    return;
  }
  for (int j = 0; j < c; ++j) {
    put(top);
    put(j);
    for (int i = 0; i + 1 < rings; ++i) {
      put(i * c + j);
      put((i + 1) * c + j);
    }
    put((rings - 1) * c + j);
    put(bottom);
  }
  for (int i = 0; i < rings; ++i)
    for (int k = 0; k < c; ++k) {
      put(i * c + k);
      put(i * c + (k + 1 < c ? k + 1 : 0));
    }
}

int RingIndexCount(int rings, int c, int fill) { return fill ? 6 * rings * c : 2 * c * (2 * rings + 1); }

VECTOR Add(VECTOR a, VECTOR b) { return VECTOR{a.x + b.x, a.y + b.y, a.z + b.z}; }
VECTOR Sub(VECTOR a, VECTOR b) { return VECTOR{a.x - b.x, a.y - b.y, a.z - b.z}; }
VECTOR Scale(VECTOR a, float s) { return VECTOR{a.x * s, a.y * s, a.z * s}; }
VECTOR Cross(VECTOR a, VECTOR b) {
  VECTOR out;
  VectorCross(&out, &a, &b);
  return out;
}
// A local frame's x, y and z axes applied to a local vector.
VECTOR Frame(const VECTOR& X, const VECTOR& Y, const VECTOR& Z, const VECTOR& l) {
  return Add(Add(Scale(X, l.x), Scale(Y, l.y)), Scale(Z, l.z));
}

// x0 = (1, 0, 0) x axis, or (0, 0, 1) x axis when that is too short.
VECTOR SideAxis(VECTOR axis) {
  VECTOR x0 = Cross(VECTOR{1, 0, 0}, axis);
  if (x0.x * x0.x + x0.y * x0.y + x0.z * x0.z < 1e-7f) x0 = Cross(VECTOR{0, 0, 1}, axis);
  return x0;
}

void Clear(Shape3DMesh* m) { std::memset(m, 0, sizeof *m); }

// The block of a ring solid (rings of c columns and two poles) with its column table filled:
// c sines, c cosines, then room for ringAngles sines and ringAngles cosines. Null without memory.
float* StartRingSolid(Shape3DMesh* m, int rings, int c, int ringAngles, int fill) {
  float* t;
  if (!Allocate(m, rings * c + 2, 2 * c + 2 * ringAngles, RingIndexCount(rings, c, fill), &t))
    return nullptr;
  m->PrimitiveType = fill ? D3DPT_TRIANGLELIST : D3DPT_LINELIST;
  ColumnTable(t, t + c, c);
  return t;
}

int Draw(Shape3DMesh* m) {
  DrawPolygonIndexed3DBase(m->Vertices, m->VertexCount, m->Indices, m->IndexCount,
                           m->PrimitiveType, DX_NONE_GRAPH, 1);
  FreeShape3DMesh(m);
  return 0;
}

}  // namespace

void FreeShape3DMesh(Shape3DMesh* mesh) {
  MEM_FREE(mesh->Block);
  Clear(mesh);
}

int MakeSphere3DMesh(Shape3DMesh* m, VECTOR center, float radius, int n, uint32_t difColor,
                     uint32_t spcColor, int fill) {
  Clear(m);
  if (n < 0) return -1;
  if (n > SPHERE3D_DIV_MAX) n = SPHERE3D_DIV_MAX;
  const int c = n + 4, rings = n + 1;
  float* t = StartRingSolid(m, rings, c, rings, fill);
  if (!t) return -1;
  const SolidColors col = Colors(difColor, spcColor);
  float *sinP = t, *cosP = t + c, *sinT = t + 2 * c, *cosT = sinT + rings;
  for (int i = 0; i < rings; ++i) {
    const float th = kPi / 2 - float(i + 1) * kPi / float(n + 2);
    sinT[i] = std::sin(th);
    cosT[i] = std::cos(th);
  }
  VERTEX3D* v = m->Vertices;
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < c; ++j) {
      const VECTOR nrm = {cosP[j] * cosT[i], sinT[i], sinP[j] * cosT[i]};
      SetVertex(v++, Add(center, Scale(nrm, radius)), nrm, col);
    }
  SetVertex(v++, VECTOR{center.x, center.y + radius, center.z}, VECTOR{0, 1, 0}, col);
  SetVertex(v++, VECTOR{center.x, center.y - radius, center.z}, VECTOR{0, -1, 0}, col);
  RingIndices(m->Indices, rings, c, fill);
  return 0;
}

int MakeCapsule3DMesh(Shape3DMesh* m, VECTOR pos1, VECTOR pos2, float radius, int n,
                      uint32_t difColor, uint32_t spcColor, int fill) {
  Clear(m);
  if (n < 0) return -1;
  if (n > CAPSULE3D_DIV_MAX) n = CAPSULE3D_DIV_MAX;
  const VECTOR d = Sub(pos2, pos1);
  const float len = VSize(d);
  // Coinciding end points: the axis is up, and the capsule a sphere.
  const VECTOR Y = len == 0 ? VECTOR{0, 1, 0} : Scale(d, 1.0f / len);
  const VECTOR x0 = SideAxis(Y);
  const VECTOR X = VNorm(Cross(Y, x0)), Z = VNorm(x0);
  const int c = n + 4, h = n + 2, rings = 2 * h;
  float* t = StartRingSolid(m, rings, c, h, fill);
  if (!t) return -1;
  const SolidColors col = Colors(difColor, spcColor);
  float *sinP = t, *cosP = t + c, *sinT = t + 2 * c, *cosT = sinT + h;
  for (int i = 1; i <= h; ++i) {
    const float th = kPi / 2 - float(i) * (kPi / 2) / float(h);
    sinT[i - 1] = std::sin(th);
    cosT[i - 1] = std::cos(th);
  }
  VERTEX3D* v = m->Vertices;
  auto put = [&](VECTOR lp, VECTOR ln) {
    SetVertex(v++, Add(pos1, Frame(X, Y, Z, lp)), Frame(X, Y, Z, ln), col);
  };
  for (int i = 0; i < h; ++i)  // upper hemisphere, top down
    for (int j = 0; j < c; ++j) {
      const VECTOR ln = {cosP[j] * cosT[i], sinT[i], sinP[j] * cosT[i]};
      put(VECTOR{ln.x * radius, sinT[i] * radius + len, ln.z * radius}, ln);
    }
  for (int i = h - 1; i >= 0; --i)  // lower hemisphere, equator down
    for (int j = 0; j < c; ++j) {
      const VECTOR ln = {cosP[j] * cosT[i], -sinT[i], sinP[j] * cosT[i]};
      put(VECTOR{ln.x * radius, -sinT[i] * radius, ln.z * radius}, ln);
    }
  put(VECTOR{0, radius + len, 0}, VECTOR{0, 1, 0});
  put(VECTOR{0, -radius, 0}, VECTOR{0, -1, 0});
  RingIndices(m->Indices, rings, c, fill);
  return 0;
}

int MakeCone3DMesh(Shape3DMesh* m, VECTOR top, VECTOR bottom, float radius, int n,
                   uint32_t difColor, uint32_t spcColor, int fill) {
  Clear(m);
  if (n < 0) return -1;
  if (n > CONE3D_DIV_MAX) n = CONE3D_DIV_MAX;
  const VECTOR d = Sub(top, bottom);
  const float height = VSize(d);
  if (height == 0) return -1;  // no axis: nothing to draw
  const VECTOR a = Scale(d, 1.0f / height);
  const VECTOR x0 = SideAxis(a);
  const MATRIX frame = MGetAxis1(VNorm(Cross(x0, a)), VNorm(x0), a, bottom);
  const int c = n + 4;
  float* t;
  if (!Allocate(m, 3 * c, 2 * c, fill ? 6 * c - 6 : 4 * c, &t)) return -1;
  m->PrimitiveType = fill ? D3DPT_TRIANGLELIST : D3DPT_LINELIST;
  const SolidColors col = Colors(difColor, spcColor);
  float *sinP = t, *cosP = t + c;
  ColumnTable(sinP, cosP, c);
  const float slant = std::sqrt(height * height + radius * radius);
  const float s = height / slant, tz = radius / slant;
  const VECTOR down = Scale(a, -1.0f);
  VERTEX3D* v = m->Vertices;
  for (int j = 0; j < c; ++j) {
    const VECTOR local = {sinP[j] * radius, cosP[j] * radius, 0};
    const VECTOR ln = {s * sinP[j], s * cosP[j], tz};
    VECTOR p, nrm;
    VTransformInline(&p, &local, &frame);
    VTransformSRInline(&nrm, &ln, &frame);
    SetVertex(&v[j], p, nrm, col);
    SetVertex(&v[c + j], top, nrm, col);
    SetVertex(&v[2 * c + j], p, down, col);
  }
  uint16_t* p = m->Indices;
  auto put3 = [&p](int x, int y, int z) {
    *p++ = uint16_t(x);
    *p++ = uint16_t(y);
    *p++ = uint16_t(z);
  };
  if (fill) {
    for (int k = 0; k + 1 < c; ++k) put3(k, c + k, k + 1);
    put3(c - 1, 2 * c - 1, 0);
    // The base disc as a zig-zag fan, every triangle wound as the first.
    int made = 0;
    put3(2 * c, 2 * c + 1, 3 * c - 1);
    ++made;
    for (int mm = 1; made < c - 2; ++mm) {
      put3(2 * c + mm, 2 * c + mm + 1, 3 * c - mm);
      if (++made == c - 2) break;
      put3(3 * c - mm, 2 * c + mm + 1, 3 * c - mm - 1);
      ++made;
    }
  } else {
    for (int j = 0; j < c; ++j) {
      *p++ = uint16_t(j);
      *p++ = uint16_t(c + j);
    }
    for (int k = 0; k < c; ++k) {
      *p++ = uint16_t(2 * c + k);
      *p++ = uint16_t(k + 1 < c ? 2 * c + k + 1 : 2 * c);
    }
  }
  return 0;
}

int DrawLine3D(VECTOR pos1, VECTOR pos2, uint32_t color) {
  const COLOR_U8 c = SplitToU8(color, VertexAlpha());
  const UnlitVertex3D v[2] = {Unlit(pos1, c), Unlit(pos2, c)};
  DrawLine3DBase(v, 2, D3DPT_LINELIST, DX_NONE_GRAPH, 1);
  return 0;
}

int DrawTriangle3D(VECTOR pos1, VECTOR pos2, VECTOR pos3, uint32_t color, int fill) {
  const COLOR_U8 c = SplitToU8(color, VertexAlpha());
  const UnlitVertex3D v[3] = {Unlit(pos1, c), Unlit(pos2, c), Unlit(pos3, c)};
  if (fill) {
    DrawLine3DBase(v, 3, D3DPT_TRIANGLELIST, DX_NONE_GRAPH, 1);
  } else {
    static const uint16_t kEdges[6] = {0, 1, 1, 2, 2, 0};
    DrawTriangle3DBase(v, 3, kEdges, 6, D3DPT_LINELIST, DX_NONE_GRAPH, 1);
  }
  return 0;
}

int DrawSphere3D(VECTOR center, float radius, int n, uint32_t difColor, uint32_t spcColor,
                 int fill) {
  Shape3DMesh m;
  if (MakeSphere3DMesh(&m, center, radius, n, difColor, spcColor, fill) != 0) return 0;
  return Draw(&m);
}

int DrawCapsule3D(VECTOR pos1, VECTOR pos2, float radius, int n, uint32_t difColor,
                  uint32_t spcColor, int fill) {
  Shape3DMesh m;
  if (MakeCapsule3DMesh(&m, pos1, pos2, radius, n, difColor, spcColor, fill) != 0) return 0;
  return Draw(&m);
}

int DrawCone3D(VECTOR top, VECTOR bottom, float radius, int n, uint32_t difColor,
               uint32_t spcColor, int fill) {
  Shape3DMesh m;
  if (MakeCone3DMesh(&m, top, bottom, radius, n, difColor, spcColor, fill) != 0) return 0;
  return Draw(&m);
}
