#include "tests/support/ref_polygon.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>

namespace {

// Reduces a value modulo 2^32 to a signed 32-bit value.
int64_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

// Integer part of a 14.18 value: quotient by 262144 truncated toward zero.
int64_t IntPart(int64_t fixed) {
  int64_t q = std::llabs(fixed) / 262144;
  return fixed < 0 ? -q : q;
}

// Truncating conversion that gives -2^31 outside the 32-bit range.
int64_t TruncToInt32(double q) {
  if (!(q > -2147483649.0 && q < 2147483648.0)) return INT32_MIN;
  return static_cast<int64_t>(std::trunc(q));
}

int64_t TruncDiv(int64_t a, int64_t b) {
  int64_t q = std::llabs(a) / std::llabs(b);
  return ((a < 0) != (b < 0)) ? -q : q;
}

struct Corner {
  int64_t X, Y, U, V;
};

struct Seg {
  int64_t startX, slope, rows;
};

}  // namespace

std::vector<RefPolygonVisit> RefPolygonVisits(const MemImgVertex* vt, const RECT& area) {
  std::vector<RefPolygonVisit> out;
  // Corners and corner differences beyond the 14.18 range draw nothing.
  for (int i = 0; i < 3; ++i) {
    if (vt[i].x < -8192 || vt[i].x > 8191 || vt[i].y < -8192 || vt[i].y > 8191) return out;
    for (int j = 0; j < 3; ++j) {
      int64_t dx = int64_t(vt[i].x) - vt[j].x, dy = int64_t(vt[i].y) - vt[j].y;
      if (dx < -8192 || dx > 8191 || dy < -8192 || dy > 8191) return out;
    }
  }
  Corner c[3];
  for (int i = 0; i < 3; ++i) {
    c[i].X = int64_t(vt[i].x) * 262144 + 131072;
    c[i].Y = int64_t(vt[i].y) * 262144 + 131072;
    c[i].U = Wrap(int64_t(vt[i].u) * 262144);
    c[i].V = Wrap(int64_t(vt[i].v) * 262144);
  }
  int byX[3] = {0, 1, 2}, byY[3] = {0, 1, 2};
  for (int i = 0; i <= 1; ++i)
    for (int j = i + 1; j <= 2; ++j) {
      if (c[byX[i]].X > c[byX[j]].X) std::swap(byX[i], byX[j]);
      if (c[byY[i]].Y > c[byY[j]].Y) std::swap(byY[i], byY[j]);
    }

  const Corner& R = c[byX[0]];
  const Corner& Q = c[byX[1]];
  const Corner& P = c[byX[2]];
  int64_t dx1 = IntPart(P.X - R.X), dy1 = IntPart(P.Y - R.Y);
  int64_t du1 = IntPart(Wrap(P.U - R.U)), dv1 = IntPart(Wrap(P.V - R.V));
  int64_t dx2 = IntPart(Q.X - R.X), dy2 = IntPart(Q.Y - R.Y);
  int64_t du2 = IntPart(Wrap(Q.U - R.U)), dv2 = IntPart(Wrap(Q.V - R.V));
  int64_t D = Wrap(dy2 * dx1 - dy1 * dx2);
  if (D == 0) return out;
  auto grad = [&](int64_t num) {
    return TruncToInt32(static_cast<double>(Wrap(num)) * 262144.0 / static_cast<double>(D));
  };
  int64_t Ux = grad(dy2 * du1 - dy1 * du2);
  int64_t Uy = grad(du2 * dx1 - dx2 * du1);
  int64_t Vx = grad(dy2 * dv1 - dy1 * dv2);
  int64_t Vy = grad(dv2 * dx1 - dv1 * dx2);
  int64_t xRef = IntPart(R.X), yRef = IntPart(R.Y), ur = R.U, vr = R.V;

  const Corner& T = c[byY[0]];
  const Corner& M = c[byY[1]];
  const Corner& B = c[byY[2]];
  std::vector<Seg> left, right;
  auto seg = [](int64_t fromX, int64_t toX, int64_t rows) {
    return Seg{fromX, TruncDiv(toX - fromX, rows), rows};
  };
  if (T.Y == M.Y) {
    const Corner *l = &T, *r = &M;
    if (T.X > M.X) { l = &M; r = &T; }
    left.push_back(seg(l->X, B.X, IntPart(B.Y - l->Y)));
    right.push_back(seg(r->X, B.X, IntPart(B.Y - r->Y)));
  } else if (M.Y == B.Y) {
    const Corner *l = &M, *r = &B;
    if (M.X > B.X) { l = &B; r = &M; }
    left.push_back(seg(T.X, l->X, IntPart(l->Y - T.Y)));
    right.push_back(seg(T.X, r->X, IntPart(r->Y - T.Y)));
  } else {
    double s1 = double(M.X - T.X) / (double(M.Y - T.Y) / 262144.0);
    double s2 = double(B.X - T.X) / (double(B.Y - T.Y) / 262144.0);
    int64_t rows1 = IntPart(M.Y - T.Y), rows2 = IntPart(B.Y - M.Y), rowsAll = IntPart(B.Y - T.Y);
    if (s1 < s2) {
      left.push_back(seg(T.X, M.X, rows1));
      left.push_back(seg(M.X, B.X, rows2));
      right.push_back(seg(T.X, B.X, rowsAll));
    } else {
      left.push_back(seg(T.X, B.X, rowsAll));
      right.push_back(seg(T.X, M.X, rows1));
      right.push_back(seg(M.X + 1, B.X, rows2));
    }
  }

  size_t li = 0, ri = 0;
  int64_t lx = left[0].startX, rx = right[0].startX;
  int64_t lrows = left[0].rows, rrows = right[0].rows;
  int64_t y = IntPart(T.Y);
  for (;;) {
    int64_t xl = IntPart(lx), xr = IntPart(rx);
    int64_t count = xr - xl + 1;
    if (xl < area.left) {
      count -= area.left - xl;
      xl = area.left;
    }
    if (area.top <= y && y < area.bottom && xl < area.right && count > 0) {
      int64_t u = Wrap(ur + (xl - xRef) * Ux + (y - yRef) * Uy);
      int64_t v = Wrap(vr + (xl - xRef) * Vx + (y - yRef) * Vy);
      for (int64_t x = xl; x < xl + count && x < area.right; ++x) {
        out.push_back({int32_t(x), int32_t(y), uint32_t(u), uint32_t(v)});
        u = Wrap(u + Ux);
        v = Wrap(v + Vx);
      }
    }
    lx += left[li].slope;
    rx += right[ri].slope;
    ++y;
    --lrows;
    --rrows;
    if (lrows == 0) {
      if (li + 1 == left.size()) break;
      ++li;
      lx = left[li].startX;
      lrows = left[li].rows;
      y = IntPart(M.Y);
    }
    if (rrows == 0) {
      if (ri + 1 == right.size()) break;
      ++ri;
      rx = right[ri].startX;
      rrows = right[ri].rows;
    }
  }
  return out;
}

RefFamily RefFamilyPolygonFlat() {
  RefFamily f;
  f.invsrcTintFirst = true;  // the colour is tinted once, then inverted
  return f;
}

RefFamily RefFamilyPolygonTextured(int dst16, int srcKind) {
  RefFamily f;  // no MMX forms, no ALPHA short cuts, SUB at p = 0 drawn for palettes
  if (dst16 && srcKind != REF_SRC_PAL) f.keyLow16InPlainCopy = false;  // whole key everywhere
  return f;
}

namespace {

uint32_t ReadPixel(const MEMIMG* img, int x, int y, int bytes) {
  const uint8_t* p = img->Pixels + int64_t(y) * img->Base->Pitch + int64_t(x) * bytes;
  uint32_t v = 0;
  std::memcpy(&v, p, bytes);
  return v;
}

void WritePixel(MEMIMG* img, int x, int y, int bytes, uint32_t v) {
  uint8_t* p = img->Pixels + int64_t(y) * img->Base->Pitch + int64_t(x) * bytes;
  std::memcpy(p, &v, bytes);
}

}  // namespace

void RefDrawPolygon(MEMIMG* dst, const MEMIMG* src, const MemImgVertex* vertices, int trans,
                    const MEMIMG* blendGraph, uint32_t color) {
  const MemImgBase* db = dst->Base;
  if (db->Format != 0 && db->Format != 1) return;
  if (db->PaletteFlag || db->AlphaFlag) return;
  const int dst16 = db->Format == 0;
  const int dstBytes = dst16 ? 2 : 4;
  int srcKind = REF_SRC_DIRECT;
  int srcBytes = 0;
  if (src) {
    const MemImgBase* sb = src->Base;
    if (sb->Format != db->Format) return;
    if (src->Width < 1 || src->Height < 1 || src->Width > 8191 || src->Height > 8191) return;
    if (blendGraph && (blendGraph->Width < src->Width || blendGraph->Height < src->Height)) return;
    srcKind = sb->PaletteFlag ? REF_SRC_PAL : (sb->AlphaFlag ? REF_SRC_ALPHA : REF_SRC_DIRECT);
    srcBytes = srcKind == REF_SRC_PAL ? 1 : (srcKind == REF_SRC_ALPHA || !dst16 ? 4 : 2);
  } else {
    blendGraph = nullptr;
    trans = 0;
  }
  RefState st;
  st.blendMode = DrawBlendMode;
  st.blendParam = DrawBlendParam;
  st.bright = DrawBright & 0xFFFFFF;
  st.mmx = MmxUsableFlag;
  RefFamily fam = src ? RefFamilyPolygonTextured(dst16, srcKind) : RefFamilyPolygonFlat();
  if (!RefCallDraws(fam, st, srcKind)) return;

  RefPixelIn in;
  in.dst16 = dst16;
  in.srcKind = srcKind;
  in.trans = trans;
  in.graph = blendGraph != nullptr;
  if (src) {
    in.palette = src->Base->Palette;
    in.key = src->Base->TransColor;
  } else {
    // The flat colour is tinted once, channel by channel, whatever the bright; the pixels then
    // take it untinted.
    uint32_t c = dst16 ? (color & 0xFFFF) : color;
    uint32_t bB = st.bright & 0xFF, bG = (st.bright >> 8) & 0xFF, bR = (st.bright >> 16) & 0xFF;
    if (dst16)
      c = (RefMul255(bR, (c >> 11) & 31) << 11) | (RefMul255(bG, (c >> 5) & 63) << 5) |
          RefMul255(bB, c & 31);
    else
      c = (c & 0xFF000000u) | (RefMul255(bR, (c >> 16) & 0xFF) << 16) |
          (RefMul255(bG, (c >> 8) & 0xFF) << 8) | RefMul255(bB, c & 0xFF);
    in.src = c;
    st.bright = 0xFFFFFF;
  }

  RECT area = DrawArea;
  area.left = std::max(area.left, 0);
  area.top = std::max(area.top, 0);
  area.right = std::min(area.right, dst->Width);
  area.bottom = std::min(area.bottom, dst->Height);
  if (area.left >= area.right || area.top >= area.bottom) return;

  for (const RefPolygonVisit& vis : RefPolygonVisits(vertices, area)) {
    if (src) {
      uint64_t wFix = uint64_t(src->Width) * 262144, hFix = uint64_t(src->Height) * 262144;
      if (vis.u >= wFix || vis.v >= hFix) continue;
      int tx = int(vis.u / 262144), ty = int(vis.v / 262144);
      in.src = ReadPixel(src, tx, ty, srcBytes);
      if (blendGraph) in.t = MemImgBlendGraphTable[ReadPixel(blendGraph, tx, ty, 1)];
    }
    uint32_t d = ReadPixel(dst, vis.x, vis.y, dstBytes);
    WritePixel(dst, vis.x, vis.y, dstBytes, RefPixel(fam, st, in, d));
  }
}
