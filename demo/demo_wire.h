// Model bases drawn as wireframes with the software line drawer (32-bit surfaces): the triangle
// lists at their frames' local positions, and the normals as short lines.
#pragma once
#include <cmath>

#include "demo/demo_common.h"
#include <qzlib/base/draw_state.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/memimg.h>

// An orthographic view: turned by yaw about y, then pitch about x; scale pixels per unit around
// the centre (cx, cy).
struct WireView {
  float yaw, pitch, scale, cx, cy;
  void Project(const VECTOR& p, int* x, int* y) const {
    float cy0 = std::cos(yaw), sy0 = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
    float x1 = p.x * cy0 - p.z * sy0, z1 = p.x * sy0 + p.z * cy0;
    float y1 = p.y * cp - z1 * sp;
    *x = static_cast<int>(cx + x1 * scale);
    *y = static_cast<int>(cy - y1 * scale);
  }
};

inline void WireLine(MEMIMG* img, const WireView& v, VECTOR a, VECTOR b, uint32_t color) {
  int x1, y1, x2, y2;
  v.Project(a, &x1, &y1);
  v.Project(b, &x2, &y2);
  DrawLineMemImg(img, x1, y1, x2, y2, color);
}

// Draws every triangle list of the base; listColor(list index) chooses the colour, normals are
// drawn (yellow) from each list vertex when normalLength > 0.
template <class ListColor>
void DrawBaseWire(MEMIMG* img, const WireView& view, const MV1ModelBase* base, ListColor listColor,
                  float normalLength) {
  for (int l = 0; l < base->TriangleListCount; ++l) {
    const MV1TriangleList* t = &base->TriangleList[l];
    const MV1MeshBase* m = t->Container;
    const MV1FrameBase* f = m->Container;
    auto vertex = [&](int local) { return MV1MeshVertexAt(m, static_cast<int>(t->MeshVertexIndex[local])); };
    auto pos = [&](int local) { return MV1FramePositionAt(f, static_cast<int>(vertex(local)->PositionIndex))->Position; };
    const uint32_t color = listColor(l);
    for (int i = 0; i + 2 < t->IndexCount; i += 3)
      for (int k = 0; k < 3; ++k) WireLine(img, view, pos(t->Index[i + k]), pos(t->Index[i + (k + 1) % 3]), color);
    if (normalLength > 0)
      for (int v = 0; v < t->VertexCount; ++v) {
        VECTOR p = pos(v);
        const VECTOR& n = f->Normal[vertex(v)->NormalIndex].Normal;
        WireLine(img, view, p, VECTOR{p.x + n.x * normalLength, p.y + n.y * normalLength, p.z + n.z * normalLength},
                 DemoColor(1, 255, 220, 60));
      }
  }
}

// Fills the surface dark blue-grey with the plain draw state.
inline void ClearWire(MEMIMG* img) {
  DrawBlendMode = 0;
  DrawBright = 0xFFFFFF;
  DrawArea = {0, 0, img->Width, img->Height};
  RECT all{0, 0, img->Width, img->Height};
  DrawFillBoxMemImg(img, &all, DemoColor(1, 24, 28, 40));
}
