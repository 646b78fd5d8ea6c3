#include <qzlib/soft/plain_blit.h>

#include <cstdint>

#include <qzlib/base/mathutil.h>
#include <qzlib/soft/drawer_guard.h>
#include <qzlib/soft/plain_blit_loops.h>

void PlainBlitGeneric(const SoftFamily& fam, const SoftDrawPrep& P, const PlainBlitArgs& A, bool runs) {
  if (runs) PlainBlitRuns(fam, P.Variant, P, A);
  else PlainBlitPixels(fam, P.Variant, P, A);
}

namespace {
int32_t ClampToInt32(int64_t v) {
  return v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v));
}
}  // namespace

int DrawMemImg(MEMIMG* dst, const MEMIMG* src, int x, int y, int trans, const MEMIMG* blendGraph) {
  if (!MemImgUsable(dst) || !MemImgUsable(src)) return 0;
  if (blendGraph && !MemImgUsable(blendGraph)) return 0;

  // Clip the source rectangle against the draw area (limited to the destination).
  RECT area = SoftDestArea(dst);
  RECT r{x, y, ClampToInt32(int64_t(x) + src->Width), ClampToInt32(int64_t(y) + src->Height)};
  RectClipping(&r, &area);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return 0;
  const int64_t sx0 = int64_t(r.left) - x, sy0 = int64_t(r.top) - y;

  // The run map walks the whole body: only a view that is its whole body, drawn unclipped.
  const MemImgBase* sbase = src->Base;
  const bool runs = trans == 1 && sbase->RunMapValid && sbase->RunMap && w == src->Width &&
                    h == src->Height && src->Pixels == sbase->Pixels &&
                    src->Width == sbase->Width && src->Height == sbase->Height;

  SoftDrawPrep prep;
  const SoftFamily& fam = runs ? kSoftFamilyPlainBlitRuns : kSoftFamilyPlainBlit;
  if (!SoftPrepareDraw(&prep, fam, dst, src, trans, blendGraph)) return 0;

  PlainBlitArgs a{};
  const int dbpp = MemImgBytesPerPixel(dst), sbpp = MemImgBytesPerPixel(src);
  a.dstPitch = dst->Base->Pitch;
  a.srcPitch = sbase->Pitch;
  a.dst = dst->Pixels + int64_t(r.top) * a.dstPitch + int64_t(r.left) * dbpp;
  a.src = src->Pixels + sy0 * a.srcPitch + sx0 * sbpp;
  if (blendGraph) {
    a.graphPitch = blendGraph->Base->Pitch;
    a.graph = blendGraph->Pixels + sy0 * a.graphPitch + sx0 * MemImgBytesPerPixel(blendGraph);
  }
  a.w = w;
  a.h = h;
  if (runs) {
    a.runMap = sbase->RunMap;
    a.runMapEnd = sbase->RunMap + (int64_t(sbase->Width) + 5) * sbase->Height;
  }

  MemImgMarkPixelsChanged(dst);
  if (SoftForceGenericPath) {
    PlainBlitGeneric(fam, prep, a, runs);
    return 0;
  }
  PlainBlitFn fn = prep.Variant.Dst16 ? PlainBlitPick16(prep.Variant, runs)
                                      : PlainBlitPick32(prep.Variant, runs);
  if (fn) fn(prep, a);
  else PlainBlitGeneric(fam, prep, a, runs);
  return 0;
}
