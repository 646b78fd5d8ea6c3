#include <qzlib/soft/shapes.h>

#include <algorithm>
#include <array>
#include <utility>

#include <qzlib/base/memory.h>
#include <qzlib/base/types.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/drawer_guard.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/flat_spans.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/shapes_pixel.h>
#include <qzlib/soft/shapes_walk.h>

namespace shapes {
namespace {

// Everything a shape loop needs, read once per call. Coordinates and clip limits are 64-bit so
// that centre plus radius never overflows; the clip limits are inclusive.
struct ShapeJob {
  uint8_t* pixels;
  int64_t pitch;
  int64_t left, top, right, bottom;
  uint8_t* flags;  // row flags of a filled shape, indexed by absolute row
  int64_t cx, cy, rx, ry;
};

// Clips spans and points and hands them to the pixel operation.
template <class Op>
struct Painter {
  const ShapeJob& j;
  const Op& op;
  uint8_t* At(int64_t x, int64_t row) const { return j.pixels + row * j.pitch + x * Op::kBytes; }
  // A row's span is drawn at most once: the row flag records it.
  void Span(int64_t row, int64_t xl, int64_t xr) const {
    if (row < j.top || row > j.bottom || xr < j.left || xl > j.right || j.flags[row]) return;
    const int64_t a = std::max(xl, j.left), b = std::min(xr, j.right);
    if (a > b) return;
    j.flags[row] = 1;
    op.Span(At(a, row), int(b - a + 1));
  }
  void Point(int64_t x, int64_t row) const {
    if (x < j.left || x > j.right || row < j.top || row > j.bottom) return;
    op.Pixel(At(x, row));
  }
};

template <bool Fill, class Op>
void CircleLoop(const ShapeJob& j, const Op& op) {
  const Painter<Op> pt{j, op};
  const int64_t cx = j.cx, cy = j.cy;
  int64_t x = 0, y = j.rx, d = 3 - 2 * j.rx;
  do {
    if constexpr (Fill) {
      pt.Span(cy + x, cx - y, cx + y);
      pt.Span(cy - x, cx - y, cx + y);
      if (d >= 0) {
        pt.Span(cy + y, cx - x, cx + x);
        pt.Span(cy - y, cx - x, cx + x);
      }
    } else if (x == 0) {
      pt.Point(cx - y, cy);
      pt.Point(cx + y, cy);
      pt.Point(cx, cy + y);
      pt.Point(cx, cy - y);
    } else {
      pt.Point(cx - y, cy + x);
      pt.Point(cx + y, cy + x);
      pt.Point(cx - y, cy - x);
      pt.Point(cx + y, cy - x);
      pt.Point(cx - x, cy + y);
      pt.Point(cx + x, cy + y);
      pt.Point(cx - x, cy - y);
      pt.Point(cx + x, cy - y);
    }
    if (d < 0) {
      d += 4 * x + 6;
    } else {
      d += 4 * (x - y) + 10;
      --y;
    }
    ++x;
  } while (x <= y);
}

template <bool Fill, bool Wide, class Op>
void OvalLoop(const ShapeJob& j, const Op& op) {
  const Painter<Op> pt{j, op};
  const int64_t cx = j.cx, cy = j.cy;
  OvalWalk<Wide> w;
  w.Start(j.rx, j.ry);
  // y only rises and X only falls, so once both rows cy +- y lie outside the clip, or the columns
  // cx +- X lie wholly on one side of it, nothing further (closing step included) can be drawn.
  const int64_t lastRow = std::max(cy - j.top, j.bottom - cy);
  auto outOfReach = [&] { return w.y > lastRow || cx + w.X < j.left || cx - w.X > j.right; };
  if constexpr (Fill) {
    pt.Span(cy, cx - j.rx, cx + j.rx);
    w.Advance();
    while (w.X > 0) {
      if (outOfReach()) return;
      if (w.changedY) {
        pt.Span(cy + w.y, cx - w.X, cx + w.X);
        pt.Span(cy - w.y, cx - w.X, cx + w.X);
      }
      w.Advance();
    }
    pt.Span(cy - w.y, cx - w.X, cx + w.X);
    pt.Span(cy + w.y, cx - w.X, cx + w.X);
  } else {
    pt.Point(cx - j.rx, cy);
    pt.Point(cx + j.rx, cy);
    w.Advance();
    while (w.X > 0) {
      if (outOfReach()) return;
      if (w.changedX || w.changedY) {
        pt.Point(cx - w.X, cy + w.y);
        pt.Point(cx + w.X, cy + w.y);
        pt.Point(cx - w.X, cy - w.y);
        pt.Point(cx + w.X, cy - w.y);
      }
      w.Advance();
    }
    pt.Point(cx + w.X, cy - w.y);
    pt.Point(cx - w.X, cy + w.y);
  }
}

enum ShapeKind : int { kCircle, kOvalWide, kOvalTall, kKindCount };

using ShapeLoopFn = void (*)(const ShapeJob&, uint32_t colour, int p);

// The software drawers' compact mode whose flat span rule (SoftFlatSpan) equals the shape rule of
// Format and Mode; -1 where there is none (NOBLEND has its fill; the 16-bit packed add and
// subtract keep their own low bits).
constexpr int SpanModeOf(int format, int mode) {
  switch (mode) {
    case kAlpha: return SOFT_MODE_ALPHA;
    case kInvSrc: return SOFT_MODE_INVSRC;
    case kMulA: return SOFT_MODE_MULA;
    case kMul: return SOFT_MODE_MUL;
    case kAdd: return format == k32 ? SOFT_MODE_ADD : -1;
    case kSub: return format == k32 ? SOFT_MODE_SUB : -1;
    default: return -1;
  }
}

// A blending operation whose spans run through the vector span kernels; single pixels keep the
// operation's own rule.
template <class Op>
struct VectorSpans {
  static constexpr int kBytes = Op::kBytes;
  const Op& op;
  SoftFlatSpan spans;
  VectorSpans(const Op& o, uint32_t colour, int mode, int p) : op(o), spans(colour, mode, p, kBytes == 2) {}
  void Pixel(uint8_t* q) const { op.Pixel(q); }
  void Span(uint8_t* q, int n) const { spans.Span(q, n); }
};

template <int Kind, bool Fill, class Op>
void RunShape(const ShapeJob& j, const Op& op) {
  if constexpr (Kind == kCircle) CircleLoop<Fill>(j, op);
  else OvalLoop<Fill, Kind == kOvalWide>(j, op);
}

template <int Kind, bool Fill, int Format, int Mode>
void ShapeLoop(const ShapeJob& j, uint32_t colour, int p) {
  const ShapeOp<Format, Mode> op(colour, p);
  if constexpr (Fill && SpanModeOf(Format, Mode) >= 0) {
    // The kernels take parameters 0 to 255 only (MUL has none). The test switch keeps the
    // operation's own spans, the twin of this path.
    if (!SoftForceGenericPath && (Mode == kMul || (p >= 0 && p <= 255))) {
      RunShape<Kind, Fill>(j, VectorSpans<ShapeOp<Format, Mode>>(op, colour, SpanModeOf(Format, Mode), p & 255));
      return;
    }
  }
  RunShape<Kind, Fill>(j, op);
}

template <int Kind, bool Fill, int Format, size_t... M>
constexpr std::array<ShapeLoopFn, kModeCount> ModeRow(std::index_sequence<M...>) {
  return {&ShapeLoop<Kind, Fill, Format, int(M)>...};
}

using ModeTable = std::array<ShapeLoopFn, kModeCount>;
using FormatTable = std::array<ModeTable, kFormatCount>;
using FillTable = std::array<FormatTable, 2>;

template <int Kind>
constexpr FillTable KindTable() {
  constexpr auto modes = std::make_index_sequence<kModeCount>();
  return {FormatTable{ModeRow<Kind, false, k16>(modes), ModeRow<Kind, false, k32>(modes)},
          FormatTable{ModeRow<Kind, true, k16>(modes), ModeRow<Kind, true, k32>(modes)}};
}

// [kind][fill][format][mode], built by the compiler.
constexpr std::array<FillTable, kKindCount> kShapeLoops = {KindTable<kCircle>(), KindTable<kOvalWide>(),
                                                           KindTable<kOvalTall>()};

// The loop's mode for a blend mode and parameter, or -1 when nothing is drawn.
int ShapeModeFor(int blendMode, int p) {
  switch (blendMode) {
    case BLENDMODE::NOBLEND: return kNoBlend;
    case BLENDMODE::ALPHA: return p == 255 ? kNoBlend : (p == 0 ? -1 : kAlpha);
    case BLENDMODE::ADD: return p == 0 ? -1 : kAdd;
    case BLENDMODE::SUB: return p == 0 ? -1 : kSub;
    case BLENDMODE::MUL: return kMul;
    case BLENDMODE::INVSRC: return kInvSrc;
    case BLENDMODE::MULA: return kMulA;
    default: return -1;
  }
}

// The colour scaled by the bright bytes (>> 8, so 255 still lowers a channel), unless the bright
// is exactly 0xFFFFFF. 32-bit keeps the fourth byte.
uint32_t TintShapeColour(uint32_t c, uint32_t bright, int format) {
  if ((bright & 0xFFFFFF) == 0xFFFFFF) return c;
  const uint32_t bB = bright & 255, bG = (bright >> 8) & 255, bR = (bright >> 16) & 255;
  if (format == k32) {
    return (c & 0xFF000000u) | ((((c >> 16) & 255) * bR >> 8) << 16) |
           ((((c >> 8) & 255) * bG >> 8) << 8) | ((c & 255) * bB >> 8);
  }
  return ((((c >> 11) & 31) * bR >> 8) << 11) | ((((c >> 5) & 63) * bG >> 8) << 5) |
         ((c & 31) * bB >> 8);
}

// Reads the destination and the clip: DrawArea cut to the view's own size. False for a
// destination the shape drawers do not serve (no body; palettised or alpha pixels are 1 or 4
// bytes where these rules write 2 or 4 of another layout).
bool ReadShapeTarget(MEMIMG* dst, ShapeJob* j, int* format) {
  const MemImgBase* base = dst->Base;
  if (base->PaletteFlag || base->AlphaFlag) return false;
  if (base->Format == MEMIMG_FORMAT_565) *format = k16;
  else if (base->Format == MEMIMG_FORMAT_XRGB8) *format = k32;
  else return false;
  j->pixels = dst->Pixels;
  j->pitch = base->Pitch;
  j->left = std::max<int64_t>(DrawArea.left, 0);
  j->top = std::max<int64_t>(DrawArea.top, 0);
  j->right = std::min<int64_t>(DrawArea.right, dst->Width) - 1;
  j->bottom = std::min<int64_t>(DrawArea.bottom, dst->Height) - 1;
  return true;
}

// Row flags of a filled shape: one byte per row 0 .. DrawArea.bottom - 1, zeroed.
uint8_t* AllocRowFlags() {
  return static_cast<uint8_t*>(MemCallocTracked(size_t(std::max<int64_t>(DrawArea.bottom, 0)), "", 0));
}

// The part of a call after the row flags: format, tint, mode, then the loop.
void DrawShape(MEMIMG* dst, ShapeJob* j, int kind, uint32_t colour, bool fill, bool circleMisses) {
  int format = 0;
  if (!ReadShapeTarget(dst, j, &format)) return;
  if (format == k16) colour &= 0xFFFF;
  colour = TintShapeColour(colour, DrawBright, format);
  const int p = SoftBlendParam();  // the blend tables' index
  const int mode = ShapeModeFor(DrawBlendMode, p);
  if (mode < 0 || circleMisses) return;
  if (j->left > j->right || j->top > j->bottom) return;
  MemImgMarkPixelsChanged(dst);
  kShapeLoops[kind][fill ? 1 : 0][format][mode](*j, colour, p);
}

}  // namespace
}  // namespace shapes

void DrawLinesMemImg(MEMIMG* dst, const MemImgLineRecord* records, int count) {
  if (!MemImgUsable(dst) || !records) return;
  for (int i = 0; i < count; ++i) {
    const MemImgLineRecord& r = records[i];
    DrawLineMemImg(dst, r.x1, r.y1, r.x2, r.y2, r.color);
  }
}

void DrawCircleMemImg(MEMIMG* dst, int cx, int cy, int r, uint32_t color, int fill) {
  using namespace shapes;
  if (!MemImgUsable(dst)) return;
  if (r < 0 || r > kMaxShapeRadius) return;
  ShapeJob j{};
  j.cx = cx;
  j.cy = cy;
  j.rx = j.ry = r;
  // A circle whose bounding box misses the clip draws nothing (a filled one after taking and
  // returning its row flags).
  const int64_t right = std::min<int64_t>(DrawArea.right, dst->Width) - 1;
  const int64_t bottom = std::min<int64_t>(DrawArea.bottom, dst->Height) - 1;
  const int64_t left = std::max<int64_t>(DrawArea.left, 0), top = std::max<int64_t>(DrawArea.top, 0);
  const bool misses = j.cx + r < left || j.cx - r > right || j.cy + r < top || j.cy - r > bottom;
  if (!fill) {
    if (misses) return;
    DrawShape(dst, &j, kCircle, color, false, false);
    return;
  }
  j.flags = AllocRowFlags();
  if (!j.flags) return;
  DrawShape(dst, &j, kCircle, color, true, misses);
  MemFreeTracked(j.flags);
}

void DrawOvalMemImg(MEMIMG* dst, int cx, int cy, int rx, int ry, uint32_t color, int fill) {
  using namespace shapes;
  if (!MemImgUsable(dst)) return;
  if (rx == 0 || ry == 0) return;
  const int64_t arx = rx < 0 ? -int64_t(rx) : rx, ary = ry < 0 ? -int64_t(ry) : ry;
  if (arx > kMaxShapeRadius || ary > kMaxShapeRadius) return;
  ShapeJob j{};
  j.cx = cx;
  j.cy = cy;
  j.rx = arx;
  j.ry = ary;
  const int kind = arx >= ary ? kOvalWide : kOvalTall;
  if (!fill) {
    DrawShape(dst, &j, kind, color, false, false);
    return;
  }
  j.flags = AllocRowFlags();
  if (!j.flags) return;
  DrawShape(dst, &j, kind, color, true, false);
  MemFreeTracked(j.flags);
}
