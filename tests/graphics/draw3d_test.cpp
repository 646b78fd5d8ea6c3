// 3-D shapes: vertex and index counts, outward winding, clamping and refusals, and what reaches
// the device.
#include <qzlib/graphics/draw3d.h>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include <qzlib/base/draw_state.h>
#include <qzlib/math/math3d.h>
#include "tests/support/d3d_engine.h"

namespace {

using Draw3DTest = D3DEngineTest;

enum Solid { kSphere, kCapsule, kCone };

int Make(Shape3DMesh* m, Solid s, int n, int fill, VECTOR p1 = {0, 0, 0},
         VECTOR p2 = {0, 50, 0}) {
  switch (s) {
    case kSphere: return MakeSphere3DMesh(m, p1, 100, n, 0xFFFFFF, 0, fill);
    case kCapsule: return MakeCapsule3DMesh(m, p1, p2, 30, n, 0xFFFFFF, 0, fill);
    default: return MakeCone3DMesh(m, p2, p1, 40, n, 0xFFFFFF, 0, fill);
  }
}

TEST_F(Draw3DTest, CountsFollowTheFormulas) {
  struct Case {
    Solid s;
    int n, vertices, fillIndices, outlineIndices;
  };
  const Case cases[] = {
      {kSphere, 0, 6, 24, 24},     {kSphere, 1, 12, 60, 50},     {kCapsule, 0, 18, 96, 72},
      {kCapsule, 1, 32, 180, 130}, {kCone, 0, 12, 18, 16},       {kCone, 1, 15, 24, 20},
      {kSphere, 253, 65280, 391668, 2 * 257 * 509},              {kSphere, 9999, 65280, 391668, 2 * 257 * 509},
      {kCapsule, 178, 65522, 12 * 180 * 182, 2 * 182 * 721},     {kCapsule, 179, 65522, 12 * 180 * 182, 2 * 182 * 721},
      {kCone, 21841, 65535, 6 * 21845 - 6, 4 * 21845},           {kCone, 50000, 65535, 6 * 21845 - 6, 4 * 21845},
  };
  for (const Case& c : cases) {
    for (int fill = 0; fill < 2; ++fill) {
      Shape3DMesh m;
      ASSERT_EQ(Make(&m, c.s, c.n, fill), 0);
      EXPECT_EQ(m.VertexCount, c.vertices) << c.s << " " << c.n;
      EXPECT_EQ(m.IndexCount, fill ? c.fillIndices : c.outlineIndices) << c.s << " " << c.n;
      EXPECT_EQ(m.PrimitiveType, fill ? 4 : 2);
      for (int i = 0; i < m.IndexCount; ++i) ASSERT_LT(m.Indices[i], m.VertexCount);
      FreeShape3DMesh(&m);
    }
  }
  Shape3DMesh m;
  for (Solid s : {kSphere, kCapsule, kCone}) EXPECT_EQ(Make(&m, s, -1, 1), -1);
  EXPECT_EQ(Make(&m, kCone, 4, 1, VECTOR{1, 2, 3}, VECTOR{1, 2, 3}), -1);  // no height
}

// The winding normal of every filled triangle points away from the solid's centre or axis.
void ExpectOutward(const Shape3DMesh& m, Solid s, VECTOR p1, VECTOR p2) {
  const VECTOR axis = {p2.x - p1.x, p2.y - p1.y, p2.z - p1.z};
  const float len2 = axis.x * axis.x + axis.y * axis.y + axis.z * axis.z;
  const int c = s == kCone ? m.VertexCount / 3 : 0;
  for (int t = 0; t < m.IndexCount; t += 3) {
    const VECTOR& a = m.Vertices[m.Indices[t]].pos;
    const VECTOR& b = m.Vertices[m.Indices[t + 1]].pos;
    const VECTOR& d = m.Vertices[m.Indices[t + 2]].pos;
    const VECTOR ab = {b.x - a.x, b.y - a.y, b.z - a.z}, ad = {d.x - a.x, d.y - a.y, d.z - a.z};
    VECTOR n;
    VectorCross(&n, &ab, &ad);
    const VECTOR g = {(a.x + b.x + d.x) / 3, (a.y + b.y + d.y) / 3, (a.z + b.z + d.z) / 3};
    VECTOR out;
    if (s == kCone && m.Indices[t] >= 2 * c && m.Indices[t + 1] >= 2 * c) {
      // The base disc faces away from the tip (p2 is the top).
      out = {-axis.x, -axis.y, -axis.z};
    } else {
      // From the nearest point of the axis segment (the centre for a sphere).
      float k = 0;
      if (s != kSphere && len2 > 0) {
        k = ((g.x - p1.x) * axis.x + (g.y - p1.y) * axis.y + (g.z - p1.z) * axis.z) / len2;
        if (s == kCapsule) k = k < 0 ? 0 : (k > 1 ? 1 : k);
      }
      out = {g.x - (p1.x + axis.x * k), g.y - (p1.y + axis.y * k), g.z - (p1.z + axis.z * k)};
    }
    // A capsule of length 0 keeps its cylinder band as triangles without area.
    if (len2 == 0 && s == kCapsule && VectorDot(&n, &n) < 1e-6f) continue;
    ASSERT_GT(VectorDot(&n, &out), 0) << "solid " << s << " triangle " << t / 3 << " axis "
                                      << axis.x << "," << axis.y << "," << axis.z;
  }
}

TEST_F(Draw3DTest, FilledTrianglesFaceOutward) {
  const VECTOR axes[][2] = {{{0, 0, 0}, {0, 50, 0}},  {{5, 5, 5}, {65, 5, 5}},
                            {{0, 0, 0}, {0, -40, 0}}, {{1, 2, 3}, {-20, 30, 11}},
                            {{0, 0, 0}, {0, 0, 70}},  {{4, 4, 4}, {4, 4, 4}}};
  for (Solid s : {kSphere, kCapsule, kCone}) {
    std::vector<int> ns;
    for (int n = 0; n <= 40; ++n) ns.push_back(n);
    ns.push_back(s == kSphere ? 253 : s == kCapsule ? 178 : 21841);
    for (int n : ns)
      for (const auto& ax : axes) {
        Shape3DMesh m;
        if (Make(&m, s, n, 1, ax[0], ax[1]) != 0) {
          EXPECT_TRUE(s == kCone && ax[0].x == ax[1].x && ax[0].y == ax[1].y);
          continue;
        }
        SCOPED_TRACE(n);
        ExpectOutward(m, s, ax[0], ax[1]);
        FreeShape3DMesh(&m);
      }
  }
}

TEST_F(Draw3DTest, NormalsAreUnitAndPositionsOnTheSurface) {
  Shape3DMesh m;
  ASSERT_EQ(MakeCapsule3DMesh(&m, VECTOR{0, 0, 0}, VECTOR{10, 0, 0}, 2, 3, 0, 0, 1), 0);
  for (int i = 0; i < m.VertexCount; ++i) {
    const VERTEX3D& v = m.Vertices[i];
    EXPECT_NEAR(VectorDot(&v.norm, &v.norm), 1, 1e-5);
    const float x = v.pos.x < 0 ? v.pos.x : (v.pos.x > 10 ? v.pos.x - 10 : 0);
    EXPECT_NEAR(std::sqrt(x * x + v.pos.y * v.pos.y + v.pos.z * v.pos.z), 2, 1e-4);
  }
  FreeShape3DMesh(&m);
}

TEST_F(Draw3DTest, WhatReachesTheDevice) {
  SetDrawBlendMode(BLENDMODE::ALPHA, 128);
  Dev()->ClearRecord();
  DrawSphere3D(VECTOR{0, 0, 0}, 10, 0, GetColor(255, 0, 0), GetColor(0, 0, 255), 1);
  ASSERT_EQ(Dev()->Draws().size(), 1u);
  const D3DDrawSnapshot& s = Dev()->Draws()[0];
  EXPECT_EQ(s.Method, D3DMethod::DrawIndexedPrimitiveUP);
  EXPECT_EQ(s.PrimitiveType, 4u);
  EXPECT_EQ(s.VertexCount, 6u);
  EXPECT_EQ(s.Indices.size(), 24u);
  EXPECT_EQ(s.Fvf, VERTEX3D_FVF);
  EXPECT_EQ(s.Stages[0].Texture, nullptr);
  EXPECT_EQ(s.RenderStates[D3DRS_LIGHTING], 1u);
  EXPECT_EQ(s.RenderStates[D3DRS_ALPHABLENDENABLE], 1u);
  EXPECT_EQ(s.Lights.size(), 1u);
  EXPECT_EQ(s.Material.Diffuse.r, 0.8f);
  const VERTEX3D* v = reinterpret_cast<const VERTEX3D*>(s.Vertices.data());
  EXPECT_EQ(v[0].dif.a, 128);
  EXPECT_EQ(v[0].dif.r, 255);
  EXPECT_EQ(v[0].spc.b, 255);
  EXPECT_EQ(v[0].spc.a, 0);
  SetDrawBlendMode(BLENDMODE::NOBLEND, 128);
  DrawTriangle3D(VECTOR{0, 0, 0}, VECTOR{1, 0, 0}, VECTOR{0, 1, 0}, GetColor(1, 2, 3), 0);
  const D3DDrawSnapshot& t = Dev()->Draws()[1];
  EXPECT_EQ(t.PrimitiveType, 2u);
  EXPECT_EQ(t.Indices, (std::vector<uint32_t>{0, 1, 1, 2, 2, 0}));
  EXPECT_EQ(t.RenderStates[D3DRS_LIGHTING], 0u);
  EXPECT_EQ(t.RenderStates[D3DRS_ALPHABLENDENABLE], 0u);
  EXPECT_EQ(t.Fvf, UNLIT_VERTEX3D_FVF);
  EXPECT_EQ(reinterpret_cast<const UnlitVertex3D*>(t.Vertices.data())[2].color.a, 255);
  DrawTriangle3D(VECTOR{0, 0, 0}, VECTOR{1, 0, 0}, VECTOR{0, 1, 0}, 0, 1);
  EXPECT_EQ(Dev()->Draws()[2].Method, D3DMethod::DrawPrimitiveUP);
  EXPECT_EQ(Dev()->Draws()[2].PrimitiveType, 4u);
  DrawLine3D(VECTOR{0, 0, 0}, VECTOR{1, 1, 1}, 0);
  EXPECT_EQ(Dev()->Draws()[3].PrimitiveType, 2u);
  EXPECT_EQ(Dev()->Draws()[3].VertexCount, 2u);
  // Refused and empty solids draw nothing and still return 0.
  EXPECT_EQ(DrawSphere3D(VECTOR{}, 1, -3, 0, 0, 1), 0);
  EXPECT_EQ(DrawCone3D(VECTOR{1, 1, 1}, VECTOR{1, 1, 1}, 1, 3, 0, 0, 1), 0);
  EXPECT_EQ(Dev()->Draws().size(), 4u);
  // Coinciding capsule ends: a sphere of rings around the point.
  DrawCapsule3D(VECTOR{3, 3, 3}, VECTOR{3, 3, 3}, 1, 0, 0, 0, 1);
  ASSERT_EQ(Dev()->Draws().size(), 5u);
  v = reinterpret_cast<const VERTEX3D*>(Dev()->Draws()[4].Vertices.data());
  for (uint32_t i = 0; i < Dev()->Draws()[4].VertexCount; ++i)
    EXPECT_TRUE(std::isfinite(v[i].pos.x) && std::isfinite(v[i].pos.y));
  // The world matrix the shapes draw in is the identity; a model's world is replaced first.
  MATRIX w = MGetTranslate(VECTOR{5, 5, 5});
  SetWorldMatrixDirect(&w);
  DrawLine3D(VECTOR{0, 0, 0}, VECTOR{1, 1, 1}, 0);
  EXPECT_EQ(Dev()->Draws().back().World.m[3][0], 0.0f);
}

TEST_F(Draw3DTest, LostBufferDrawsNothing) {
  int points = ForEachAllocationFailure([this] {
    const size_t before = Dev()->Draws().size();
    EXPECT_EQ(DrawCone3D(VECTOR{0, 1, 0}, VECTOR{0, 0, 0}, 1, 5, 0, 0, 1), 0);
    return Dev()->Draws().size() > before;
  });
  EXPECT_EQ(points, 1);
}

TEST(Draw3DSoftwareTest, SoftwareModeDrawsNothing) {
  ASSERT_EQ(InitLibrary(), 0);
  EXPECT_EQ(DrawSphere3D(VECTOR{}, 1, 2, 0, 0, 1), 0);
  EXPECT_EQ(DrawLine3D(VECTOR{}, VECTOR{1, 1, 1}, 0), 0);
  EXPECT_EQ(DrawLine3DBase(nullptr, 0, 2, DX_NONE_GRAPH, 1), 0);
  EndLibrary();
}

}  // namespace
