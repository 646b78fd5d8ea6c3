#include "tests/support/ref_plain_blit.h"

#include <cstring>
#include <vector>

namespace {
int Bpp(const MEMIMG* m) {
  const MemImgBase* b = m->Base;
  if (b->PaletteFlag) return 1;
  if (b->Format == 1) return 4;
  if (b->Format == 0) return b->AlphaFlag ? 4 : 2;
  return b->Format == 2 ? 1 : 2;
}
uint32_t Read(const MEMIMG* m, int x, int y) {
  const uint8_t* p = m->Pixels + int64_t(y) * m->Base->Pitch + int64_t(x) * Bpp(m);
  uint32_t v = 0;
  std::memcpy(&v, p, Bpp(m));
  return v;
}
void Write(MEMIMG* m, int x, int y, uint32_t v) {
  uint8_t* p = m->Pixels + int64_t(y) * m->Base->Pitch + int64_t(x) * Bpp(m);
  std::memcpy(p, &v, Bpp(m));
}
}  // namespace

void RefDrawMemImg(const RefState& st, const RECT& drawArea, MEMIMG* dst, const MEMIMG* src, int x,
                   int y, int trans, const MEMIMG* graph, const uint8_t* graphTable) {
  const MemImgBase* db = dst->Base;
  const MemImgBase* sb = src->Base;
  if (sb->Format != db->Format || db->PaletteFlag || db->AlphaFlag) return;
  if (db->Format != 0 && db->Format != 1) return;
  if (graph && (graph->Width < src->Width || graph->Height < src->Height)) return;
  const int kind = sb->PaletteFlag ? REF_SRC_PAL : sb->AlphaFlag ? REF_SRC_ALPHA : REF_SRC_DIRECT;

  // Inside the draw area and the destination.
  int64_t left = drawArea.left > 0 ? drawArea.left : 0;
  int64_t top = drawArea.top > 0 ? drawArea.top : 0;
  int64_t right = drawArea.right < dst->Width ? drawArea.right : dst->Width;
  int64_t bottom = drawArea.bottom < dst->Height ? drawArea.bottom : dst->Height;
  auto inside = [&](int64_t dx, int64_t dy) { return dx >= left && dx < right && dy >= top && dy < bottom; };
  bool any = false, all = true;
  for (int sy = 0; sy < src->Height; ++sy)
    for (int sx = 0; sx < src->Width; ++sx) {
      bool in = inside(int64_t(x) + sx, int64_t(y) + sy);
      any = any || in;
      all = all && in;
    }
  if (!any) return;

  const bool whole = src->Pixels == sb->Pixels && src->Width == sb->Width && src->Height == sb->Height;
  const bool runs = trans == 1 && sb->RunMapValid && sb->RunMap && whole && all;
  RefFamily fam = runs ? RefFamilyPlainBlitRuns() : RefFamilyPlainBlit();
  if (!RefCallDraws(fam, st, kind)) return;

  // Per source pixel: its run kind (fast path) or -1.
  std::vector<int> runKind(size_t(src->Width) * src->Height, -1);
  if (runs) {
    const uint8_t* rm = sb->RunMap;
    for (int sy = 0; sy < src->Height; ++sy) {
      int sx = 0;
      for (;;) {
        uint8_t b = *rm++;
        if ((b >> 6) == 3) break;
        int n = (b & 63) + 1;
        for (int i = 0; i < n && sx < src->Width; ++i, ++sx) runKind[size_t(sy) * src->Width + sx] = b >> 6;
      }
    }
  }

  for (int sy = 0; sy < src->Height; ++sy)
    for (int sx = 0; sx < src->Width; ++sx) {
      int64_t dx = int64_t(x) + sx, dy = int64_t(y) + sy;
      if (!inside(dx, dy)) continue;
      RefPixelIn in;
      in.dst16 = db->Format == 0;
      in.srcKind = kind;
      in.src = Read(src, sx, sy);
      in.palette = sb->Palette;
      in.key = sb->TransColor;
      in.trans = trans;
      in.graph = graph != nullptr;
      if (graph) in.t = graphTable[Read(graph, sx, sy) & 0xFF];
      if (runs) {
        int k = runKind[size_t(sy) * src->Width + sx];
        if (k <= 0) continue;
        in.runKind = k;
      }
      uint32_t old = Read(dst, int(dx), int(dy));
      Write(dst, int(dx), int(dy), RefPixel(fam, st, in, old));
    }
}
