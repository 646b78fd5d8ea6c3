// The examples of "Which source pixel each blit shows", each quoted from the page and drawn: the
// texels, paths and refusals the quote states against the drawn destination, and the model's
// hits and rules against the same statement.
#include <cmath>
#include <string>
#include <vector>

#include "drawn.h"

namespace page {
namespace {

constexpr int kW = 48, kH = 40;  // the destination of most examples
const Area kAll{0, 0, kW, kH};

std::string Label(const Quote& q, const char* what) { return std::string(q.label()) + ": " + what; }

// The destination against the model: `before` with every hit visited under `call`.
void AgreesWithModel(Report& r, const std::string& what, Surface& dst, const std::vector<uint32_t>& before,
                     const Call& call, const Hits& hits, Surface* src) {
  std::vector<uint32_t> want = before;
  const int w = dst.kind().width;
  if (Draws(call))
    for (const Hit& h : hits) Visit(call, want[size_t(h.y) * size_t(w) + size_t(h.x)], src ? src->Get(h.u, h.v) : 0, 0);
  const std::vector<uint32_t> got = dst.Pixels();
  for (size_t i = 0; i < got.size(); ++i) r.Compare(got[i] == want[i], what.c_str(), int(i % size_t(w)), int(i / size_t(w)), got[i], want[i]);
  if (!dst.GuardsIntact()) CompareValue(r, what + ": the guard bytes", 1, 0);
}
Call Plain(int format, Drawer drawer, int mode = 0, int p = 255) {
  return Call{.drawer = drawer, .format = format, .mode = mode, .p = p};
}

// A numbered source drawn by `draw` into a cleared destination: the texel grid, compared with
// the model's.
using Blit = std::function<void(MEMIMG* dst, MEMIMG* src)>;
Grid Texels(Report& r, const std::string& what, int format, int W, int H, const Area& drawArea, const Blit& draw,
            const Hits& model, int w = kW, int h = kH) {
  const Canvas c{.format = format, .w = w, .h = h, .drawArea = drawArea, .srcW = W, .srcH = H};
  const Grid got = DrawnTexels(r, c, [&](MEMIMG* d, MEMIMG* s, uint32_t) { draw(d, s); });
  CompareGrids(r, what + (format ? ", 32-bit" : ", 16-bit"), got, ModelTexels(w, h, model));
  return got;
}

// ---- The area and DrawMemImg ----------------------------------------------------------------------

void AreaOfDestination(const Quote& q, Report& r) {
  const RECT everything{-5000, -5000, 5000, 5000};
  const int given[4] = {-5000, -5000, 5000, 5000};
  Canvas c;
  c.w = q.Int(4);
  c.h = q.Int(5);
  c.drawArea = {q.Int(0), q.Int(1), q.Int(2), q.Int(3)};
  Grid stated(c.w, c.h);
  for (int y = q.Int(7); y < q.Int(9); ++y)
    for (int x = q.Int(6); x < q.Int(8); ++x) stated.at(x, y) = 1;
  for (c.format = 0; c.format <= 1; ++c.format)
    CompareGrids(r, q.label(), DrawnVisits(r, c, [&](MEMIMG* d, MEMIMG*, uint32_t k) { DrawFillBoxMemImg(d, &everything, k); }), stated);
  CompareGrids(r, Label(q, "the model"), ModelVisits(c.w, c.h, BoxHits(given, c.w, c.h, Area{q.Int(6), q.Int(7), q.Int(8), q.Int(9)})), stated);
}

// Each blit into a view of a larger body writes nothing outside the view.
void AreaOfView(const Quote& q, Report& r) {
  const int vx = q.Int(0), vy = q.Int(1), vw = q.Int(2), vh = q.Int(3);
  const Area inView{q.Int(10), q.Int(11), q.Int(12), q.Int(13)};
  CompareValue(r, Label(q, "columns"), q.Int(14) == vx && q.Int(15) == vx + vw - 1 && q.Int(16) == vy && q.Int(17) == vy + vh - 1, 1);
  for (int blit = 0; blit < 3; ++blit) {
    Surface src(KindOf(30, 20)), body(KindOf(q.Int(4), q.Int(5)));
    NumberTexels(src);
    body.Fill(8);
    MEMIMG view{};
    DerivationMemImg(&view, body.img(), vx, vy, vw, vh);
    PlainState(Area{q.Int(6), q.Int(7), q.Int(8), q.Int(9)});
    const auto before = body.Pixels();
    Hits hits;
    Drawer drawer = kPlain;
    if (blit == 0) {
      DrawMemImg(&view, src.img(), 4, -3, 0, nullptr);
      hits = PlainHits(30, 20, 4, -3, inView);
    } else if (blit == 1) {
      const RECT rect{-6, -5, 40, 30};
      DrawExtendMemImg(&view, src.img(), &rect, 0, nullptr);
      hits = StretchHits(30, 20, -6, -5, 40, 30, inView);
      drawer = kStretch;
    } else {
      DrawRotaMemImg(&view, src.img(), 10, 6, 0.4f, 1.2f, 0, 0, nullptr);
      hits = RotaHits(30, 20, 10, 6, 0.4f, 1.2f, false, inView);
      drawer = kRota;
    }
    TerminateMemImg(&view);
    for (Hit& h : hits) h.x += vx, h.y += vy;
    AgreesWithModel(r, Label(q, blit == 0 ? "DrawMemImg" : blit == 1 ? "DrawExtendMemImg" : "DrawRotaMemImg"), body, before,
                    Plain(1, drawer), hits, &src);
  }
}

void PlainExample(const Quote& q, Report& r) {
  const int W = q.Int(0), H = q.Int(1), x = q.Int(2), y = q.Int(3);
  const Area area{q.Int(4), q.Int(5), q.Int(6), q.Int(7)};
  for (int format = 0; format <= 1; ++format) {
    const Grid got = Texels(r, q.label(), format, W, H, area, [&](MEMIMG* d, MEMIMG* s) { DrawMemImg(d, s, x, y, 0, nullptr); },
                            PlainHits(W, H, x, y, area));
    Grid written(kW, kH);
    for (int b = q.Int(13); b >= q.Int(11); --b)
      for (int a = q.Int(10); a <= q.Int(12); ++a) written.at(a, b) = 1;
    int count = 0;
    for (int b = 0; b < kH; ++b)
      for (int a = 0; a < kW; ++a) {
        count += got.at(a, b) >= 0;
        CompareValue(r, Label(q, "written"), got.at(a, b) >= 0, written.at(a, b));
      }
    CompareValue(r, Label(q, "pixels written"), count, q.Int(8) * q.Int(9));
    CompareValue(r, Label(q, "texel"), got.at(q.Int(14), q.Int(15)), q.Int(16) << 8 | q.Int(17));
  }
}

// ---- The run-map path ---------------------------------------------------------------------------

// The probe of the run-map examples: a 24 x 16 source of pixels 0x00010101 uploaded whole (or
// not), then `before`, then drawn at (7, 5) with ALPHA 128 onto pixels 0x00010101: the pixel at
// (8, 6), and the whole destination against the path the quote names.
constexpr int kRunW = 24, kRunH = 16, kRunX = 7, kRunY = 5, kRunP = 128;
constexpr uint32_t kRunPixel = 0x00010101, kRunKey = 0x00123456;
const Area kCallArea{0, 0, 10, 10};
using Before = std::function<const MEMIMG*(Surface& src, MEMIMG& view)>;
uint32_t RunProbe(Report& r, const std::string& what, const Before& before, bool upload, int flag, const Area& area,
                  Drawer path) {
  SurfaceKind sk = KindOf(kRunW, kRunH);
  sk.key = kRunKey;
  Surface src(sk), dst(KindOf(kW, kH));
  src.FillWith(kRunPixel);
  if (upload && !src.UploadWhole()) CompareValue(r, what + ": the run map built", 0, 1);
  MEMIMG view{};
  PlainState(kCallArea);
  const MEMIMG* drawn = before ? before(src, view) : src.img();
  dst.FillWith(kRunPixel);
  PlainState(area);
  SetDrawBlendMode(1, kRunP);
  const auto pixels = dst.Pixels();
  DrawMemImg(dst.img(), drawn, kRunX, kRunY, flag, nullptr);
  Call call = Plain(1, path, 1, kRunP);
  call.trans = true;
  call.key = kRunKey;
  AgreesWithModel(r, what, dst, pixels, call, PlainHits(drawn->Width, drawn->Height, kRunX, kRunY, area), &src);
  if (view.Magic) TerminateMemImg(&view);
  PlainState(kAll);
  return dst.Get(kRunX + 1, kRunY + 1);
}
Drawer PathOf(uint32_t pixel) { return pixel == kRunPixel ? kPlainRuns : kPlain; }

void RunMapExample(const Quote& q, Report& r) {
  CompareValue(r, Label(q, "the probe"), q.Int(0) == kRunW && q.Int(1) == kRunH && q.Int(2) == kRunX && q.Int(3) == kRunY && q.Int(5) == kRunP && q.Int(6) * 0x010101 == int(kRunPixel), 1);
  const uint32_t stays = uint32_t(q.Int(7)) * 0x010101;
  CompareValue(r, q.label(), RunProbe(r, q.label(), nullptr, true, q.Int(4), kAll, kPlainRuns), stays);
}
void PerPixelExample(const Quote& q, Report& r) {
  const uint32_t becomes = uint32_t(q.Int(2)) * 0x010101;
  CompareValue(r, Label(q, "from row 6"), RunProbe(r, q.label(), nullptr, true, 1, Area{0, q.Int(0), kW, kH}, kPlain), becomes);
  CompareValue(r, Label(q, "flag 2"), RunProbe(r, q.label(), nullptr, true, q.Int(1), kAll, kPlain), becomes);
}
void RunMapSettings(const Quote& q, Report& r) {
  CompareValue(r, Label(q, "the pixels"), q.Hex(0) == kRunPixel && q.Hex(1) == kRunPixel, 1);
  CompareValue(r, Label(q, "the area of the calls"), q.Int(4) == kCallArea.left && q.Int(5) == kCallArea.top && q.Int(6) == kCallArea.right && q.Int(7) == kCallArea.bottom, 1);
  CompareValue(r, Label(q, "the run map"), RunProbe(r, q.label(), nullptr, true, 1, kAll, kPlainRuns), q.Hex(2));
  CompareValue(r, Label(q, "per pixel"), RunProbe(r, q.label(), nullptr, true, 2, kAll, kPlain), q.Hex(3));
}

// One row of the table: what is done before the draw, from the row's own numbers.
void RunMapRow(const Quote& q, Report& r) {
  const std::string& t = q.text;
  auto has = [&](const char* s) { return t.find(s) != std::string::npos; };
  Before before = [&](Surface& src, MEMIMG& view) -> const MEMIMG* {
    MEMIMG* s = src.img();
    SurfaceKind keyed = KindOf(4, 4);
    keyed.key = 0x00ABCDEF;
    Surface other(keyed);
    other.FillWith(keyed.key);
    if (has("`DerivationMemImg`")) {
      DerivationMemImg(&view, s, q.Int(0), q.Int(1), q.Int(2), q.Int(3));
      return &view;
    }
    if (has("`DrawPixelMemImg`")) DrawPixelMemImg(s, q.Int(0), q.Int(1), kRunPixel);
    if (has("`DrawLineMemImg`")) DrawLineMemImg(s, q.Int(0), q.Int(1), q.Int(2), q.Int(3), kRunPixel);
    if (has("`DrawCircleMemImg`")) DrawCircleMemImg(s, q.Int(0), q.Int(1), q.Int(2), kRunPixel, 1);
    if (has("`DrawOvalMemImg`")) DrawOvalMemImg(s, q.Int(0), q.Int(1), q.Int(2), q.Int(3), kRunPixel, 1);
    if (has("`DrawQuadMemImg`")) {
      const int corners[8] = {q.Int(0), q.Int(1), q.Int(2), q.Int(3), q.Int(4), q.Int(5), q.Int(6), q.Int(7)};
      DrawQuadMemImg(s, other.img(), corners, 0, nullptr);
    }
    if (has("`DrawPolygonMemImg`")) {
      const int corners[3][4] = {{q.Int(0), q.Int(1), 0, 0}, {q.Int(2), q.Int(3), 0, 0}, {q.Int(4), q.Int(5), 0, 0}};
      DrawTriangle(s, nullptr, corners, 0, nullptr, kRunPixel);
    }
    if (has("`DrawMemImg`")) DrawMemImg(s, other.img(), q.Int(0), q.Int(1), q.Int(2), nullptr);
    if (has("`DrawRotaMemImg` of a")) DrawRotaMemImg(s, other.img(), q.Int(2), q.Int(3), float(q.Num(4)), float(q.Num(5)), 0, 0, nullptr);
    if (has("`DrawRotaMemImg` of that")) DrawRotaMemImg(s, other.img(), q.Int(0), q.Int(1), float(q.Num(2)), float(q.Num(3)), 0, 0, nullptr);
    return s;
  };
  const uint32_t stated = q.Hex(0);
  CompareValue(r, q.label(), RunProbe(r, q.label(), before, !has("no upload"), 1, kAll, PathOf(stated)), stated);
}

// ---- DrawExtendMemImg ---------------------------------------------------------------------------

void HandOver(const Quote& q, Report& r) {
  for (int k = 0; k < 2; ++k) {
    Surface src(KindOf(q.Int(0), q.Int(1))), dst(KindOf(kW, kH));
    src.FillWith(0x00010101);
    dst.FillWith(0x00010101);
    PlainState(kAll);
    SetDrawBlendMode(1, q.Int(6));
    const auto before = dst.Pixels();
    const int at = k ? 9 : 2;
    const RECT rect{q.Int(at), q.Int(at + 1), q.Int(at + 2), q.Int(at + 3)};
    DrawExtendMemImg(dst.img(), src.img(), &rect, 0, nullptr);
    CompareValue(r, Label(q, k ? "stretched" : "handed over"), dst.Get(rect.left, rect.top), uint32_t(q.Int(k ? 13 : 8)) * 0x010101);
    AgreesWithModel(r, q.label(), dst, before, Plain(1, k ? kStretch : kPlain, 1, q.Int(6)),
                    StretchHits(q.Int(0), q.Int(1), rect.left, rect.top, rect.right, rect.bottom, kAll), &src);
  }
  PlainState(kAll);
}

// A row of the table: the source width, the rectangle's width (and its edges), xscale, then the
// columns from 0 (or "column c shows u"). A small rectangle is drawn as a square, so that the
// rows show the same texels.
void StretchRow(const Quote& q, Report& r) {
  const bool edges = q.text.find("rect") != std::string::npos, single = q.text.find("shows") != std::string::npos;
  const int W = q.Int(0), width = q.Int(1);
  const int from = edges ? q.Int(2) : 2, to = edges ? q.Int(3) : 2 + width;
  const size_t first = edges ? 5 : 3;
  CompareValue(r, Label(q, "xscale"), int64_t(width) * 65536 / W, q.Int(first - 1));
  const bool square = width < kH;
  const int H = square ? W : 5, top = square ? from : 1, bottom = square ? to : 1 + H;
  for (int format = 0; format <= 1; ++format) {
    const Area area = kAll;
    const Grid got = Texels(r, q.label(), format, W, H, area,
                            [&](MEMIMG* d, MEMIMG* s) {
                              const RECT rect{from, top, to, bottom};
                              DrawExtendMemImg(d, s, &rect, 0, nullptr);
                            },
                            StretchHits(W, H, from, top, to, bottom, area));
    const int left = std::min(from, to), upper = std::min(top, bottom);
    auto shown = [&](int i, int j) { return got.at(left + i, upper + j); };
    if (single) {
      CompareValue(r, Label(q, "column"), shown(q.Int(first), 0) >> 8, q.Int(first + 1));
      continue;
    }
    for (size_t i = first; i < q.numbers.size(); ++i) {
      CompareValue(r, Label(q, "column"), shown(int(i - first), 0) >> 8, q.Int(i));
      CompareValue(r, Label(q, "row"), shown(0, int(i - first)) & 0xFF, q.Int(i));
    }
  }
}

void StretchClipped(const Quote& q, Report& r) {
  const int W = q.Int(0), H = q.Int(1);
  const RECT rect{q.Int(2), q.Int(3), q.Int(4), q.Int(5)};
  CompareValue(r, Label(q, "xscale"), int64_t(rect.right - rect.left) * 65536 / W, q.Int(6));
  CompareValue(r, Label(q, "column i"), q.Int(10), q.Int(8) - rect.left);
  for (int left : {0, q.Int(7)}) {
    const Area area{left, 0, kW, kH};
    const Grid got = Texels(r, q.label(), 1, W, H, area, [&](MEMIMG* d, MEMIMG* s) { DrawExtendMemImg(d, s, &rect, 0, nullptr); },
                            StretchHits(W, H, rect.left, rect.top, rect.right, rect.bottom, area));
    CompareValue(r, Label(q, "texel"), got.at(q.Int(8), q.Int(9)), q.Int(11) << 8 | q.Int(12));
  }
}

// ---- DrawRotaMemImg -----------------------------------------------------------------------------

void Turned(const Quote& q, Report& r) {
  const int W = q.Int(0), H = q.Int(1), x = q.Int(2), y = q.Int(3);
  const float angle = float(q.Num(4)), scale = float(q.Num(5));
  std::vector<int> corners;
  for (int i = 6; i < 14; ++i) corners.push_back(q.Int(i));
  for (int format = 0; format <= 1; ++format) {
    const Grid turned = Texels(r, q.label(), format, W, H, kAll, [&](MEMIMG* d, MEMIMG* s) { DrawRotaMemImg(d, s, x, y, angle, scale, 0, 1, nullptr); },
                               RotaHits(W, H, x, y, angle, scale, true, kAll));
    const Grid quad = Texels(r, q.label(), format, W, H, kAll, [&](MEMIMG* d, MEMIMG* s) { DrawQuadMemImg(d, s, corners.data(), 0, nullptr); },
                             QuadHits(corners.data(), W, H, kAll));
    CompareGrids(r, Label(q, "DrawQuadMemImg on those corners"), turned, quad);
    // The leftmost column drawn shows the source's right column.
    int leftmost = kW;
    for (int b = 0; b < kH; ++b)
      for (int a = 0; a < kW; ++a)
        if (turned.at(a, b) >= 0) leftmost = std::min(leftmost, a);
    for (int b = 0; b < kH; ++b)
      if (turned.at(leftmost, b) >= 0) CompareValue(r, Label(q, "right column at the left"), turned.at(leftmost, b) >> 8, W - 1);
  }
}

// A row of the table of angles and scales: every drawn pixel near (x, y) shows the stated texel.
struct Mapping {
  float angle;
  int W, H;
  int (*u)(int i, int j, int W, int H);
  int (*v)(int i, int j, int W, int H);
};
void RotaRow(const Quote& q, Report& r, const Mapping& m, float scale) {
  const int x = 20, y = 15;
  for (int format = 0; format <= 1; ++format) {
    const Grid got = Texels(r, q.label(), format, m.W, m.H, kAll,
                            [&](MEMIMG* d, MEMIMG* s) { DrawRotaMemImg(d, s, x, y, m.angle, scale, 0, 0, nullptr); },
                            RotaHits(m.W, m.H, x, y, m.angle, scale, false, kAll));
    for (int j = -2; j <= 2; ++j)
      for (int i = -2; i <= 2; ++i) {
        const int u = m.u(i, j, m.W, m.H), v = m.v(i, j, m.W, m.H);
        if (u < 0 || v < 0 || u >= m.W || v >= m.H) continue;
        CompareValue(r, q.label(), got.at(x + i, y + j), u << 8 | v);
      }
  }
}
const float kQuarter = float(M_PI / 2);
void RotaStill(const Quote& q, Report& r) {
  CompareValue(r, Label(q, "W = 5: column 2"), q.Int(6) >> 1, q.Int(7));
  RotaRow(q, r, {float(q.Num(0)), q.Int(6), 4, [](int i, int, int W, int) { return (W >> 1) + i; }, [](int, int j, int, int H) { return (H >> 1) + j; }}, float(q.Num(1)));
}
void RotaQuarter(const Quote& q, Report& r) {
  const float s = std::sin(double(kQuarter)), c = std::cos(double(kQuarter));
  CompareValue(r, Label(q, "sin"), int64_t(s), q.Int(2));
  CompareValue(r, Label(q, "cos, 10^-10"), std::lround(double(c) * 1e10), std::lround(q.Num(3) * 100));
  CompareValue(r, Label(q, "sin18"), RotaConstants(kQuarter).sin18, q.Int(5));
  CompareValue(r, Label(q, "cos18"), RotaConstants(kQuarter).cos18, q.Int(6));
  RotaRow(q, r, {kQuarter, 7, 5, [](int, int j, int W, int) { return (W >> 1) + j; }, [](int i, int, int, int H) { return (H >> 1) - i; }}, float(q.Num(1)));
}
void RotaBack(const Quote& q, Report& r) {
  RotaRow(q, r, {-kQuarter, 7, 5, [](int, int j, int W, int) { return (W >> 1) - j; }, [](int i, int, int, int H) { return (H >> 1) + i; }}, float(q.Num(1)));
}
int FloorHalf(int n) { return n >= 0 ? n / 2 : -((1 - n) / 2); }
void RotaDouble(const Quote& q, Report& r) {
  RotaRow(q, r, {float(q.Num(0)), 7, 5, [](int i, int, int W, int) { return (W >> 1) + FloorHalf(i); }, [](int, int j, int, int H) { return (H >> 1) + FloorHalf(j); }}, float(q.Num(1)));
}
void RotaHalf(const Quote& q, Report& r) {
  RotaRow(q, r, {float(q.Num(0)), 9, 9, [](int i, int, int W, int) { return (W >> 1) + 2 * i; }, [](int, int j, int, int H) { return (H >> 1) + 2 * j; }}, float(q.Num(1)));
}
void RotaHalfTurn(const Quote& q, Report& r) {
  RotaRow(q, r, {float(q.Num(0)), 7, 5, [](int i, int, int W, int) { return (W >> 1) - i; }, [](int, int j, int, int H) { return (H >> 1) - j; }}, float(q.Num(1)));
}

// The worked example's quantities, from the model, and its pixels drawn.
std::optional<RotaMap> Worked(const Area& area = Area{0, 0, 48, 40}) { return RotaMapping(9, 9, 20, 15, 0.0f, 3.0f, area); }
void WorkedSetting(const Quote& q, Report& r) {
  const Area area{q.Int(6), q.Int(7), q.Int(8), q.Int(9)};
  const int W = q.Int(0), H = q.Int(1), x = q.Int(2), y = q.Int(3);
  for (int format = 0; format <= 1; ++format)
    Texels(r, q.label(), format, W, H, area, [&](MEMIMG* d, MEMIMG* s) { DrawRotaMemImg(d, s, x, y, float(q.Num(4)), float(q.Num(5)), 0, 0, nullptr); },
           RotaHits(W, H, x, y, float(q.Num(4)), float(q.Num(5)), false, area));
}
void WorkedCorner(const Quote& q, Report& r) {
  const std::optional<RotaMap> m = Worked();
  if (!m) return CompareValue(r, q.label(), 0, 1);
  CompareValue(r, Label(q, "corner 0"), m->X[0], q.Int(1));
  CompareValue(r, Label(q, "corner 0"), m->Y[0], q.Int(2));
  CompareValue(r, Label(q, "in pixels"), m->X[0] * 2, std::lround(q.Num(3) * 2 * 262144));
  CompareValue(r, Label(q, "in pixels"), m->Y[0] * 2, std::lround(q.Num(4) * 2 * 262144));
  const int box[8] = {m->box.left, m->box.top, m->box.right, m->box.bottom, m->clipped.left, m->clipped.top, m->clipped.right, m->clipped.bottom};
  for (int i = 0; i < 8; ++i) CompareValue(r, Label(q, "box"), box[i], q.Int(5 + size_t(i)));
}
void WorkedOffsets(const Quote& q, Report& r) {
  const std::optional<RotaMap> m = Worked();
  CompareValue(r, Label(q, "ix"), m ? m->ix : 0, q.Int(0));
  CompareValue(r, Label(q, "jt"), m ? m->jt : 0, q.Int(1));
  CompareValue(r, Label(q, "jb"), m ? m->jb : 0, q.Int(2));
}
void WorkedTop(const Quote& q, Report& r) {
  const std::optional<RotaMap> m = Worked();
  CompareValue(r, Label(q, "u0 + q"), q.Int(0) + int64_t(std::trunc(q.Num(1) * q.Num(2) / q.Num(3))), q.Int(4));
  CompareValue(r, Label(q, "Ut"), m ? m->Ut : 0, q.Int(4));
  CompareValue(r, Label(q, "v0 - q"), q.Int(5) - q.Int(6), q.Int(7));
  CompareValue(r, Label(q, "Vt"), m ? m->Vt : 0, q.Int(7));
}
void WorkedAcross(const Quote& q, Report& r) {
  const std::optional<RotaMap> m = Worked();
  CompareValue(r, Label(q, "Ux"), m ? m->Ux : 0, q.Int(1));
  CompareValue(r, Label(q, "Ux, exactly"), std::lround(262144.0 / 3 * 100), std::lround(q.Num(0) * 100));
  CompareValue(r, Label(q, "Vx"), m ? m->Vx : 0, q.Int(2));
  CompareValue(r, Label(q, "Uy"), m ? m->Uy : 0, q.Int(3));
}
void WorkedDown(const Quote& q, Report& r) {
  const std::optional<RotaMap> m = Worked();
  CompareValue(r, Label(q, "Vb"), m ? m->Vb : 0, q.Int(0));
  CompareValue(r, Label(q, "-Vt"), m ? -m->Vt : 0, q.Int(1));
  CompareValue(r, Label(q, "rows"), m ? m->clipped.bottom - m->clipped.top : 0, q.Int(2));
  CompareValue(r, Label(q, "Vy"), m ? m->Vy : 0, q.Int(3));
}
void WorkedPixel(const Quote& q, Report& r) {
  const std::optional<RotaMap> m = Worked();
  const int64_t i = q.Int(2), j = q.Int(3);
  CompareValue(r, Label(q, "i, j"), i == q.Int(0) - m->clipped.left && j == q.Int(1) - m->clipped.top, 1);
  CompareValue(r, Label(q, "U"), m->Ut + j * m->Uy + i * m->Ux, q.Int(7));
  CompareValue(r, Label(q, "V"), m->Vt + j * m->Vy + i * m->Vx, q.Int(11));
  CompareValue(r, Label(q, "the sums"), q.Int(4) + q.Int(5) * q.Int(6) == q.Int(7) && q.Int(8) + q.Int(9) * q.Int(10) == q.Int(11), 1);
  const Grid got = Texels(r, q.label(), 1, 9, 9, kAll, [](MEMIMG* d, MEMIMG* s) { DrawRotaMemImg(d, s, 20, 15, 0.0f, 3.0f, 0, 0, nullptr); },
                          RotaHits(9, 9, 20, 15, 0.0f, 3.0f, false, kAll));
  CompareValue(r, Label(q, "below 4 texels"), m->Ut + j * m->Uy + i * m->Ux < int64_t(q.Int(12)) * q.Int(13), 1);
  CompareValue(r, Label(q, "texel"), got.at(q.Int(0), q.Int(1)), q.Int(14) << 8 | q.Int(15));
  CompareValue(r, Label(q, "not the centre"), q.Int(16) == 9 >> 1 && q.Int(17) == 9 >> 1, 1);
}
void WorkedArea(const Quote& q, Report& r) {
  for (int k = 0; k < 2; ++k) {
    const Area area{k ? q.Int(3) : 0, 0, kW, kH};
    const Grid got = Texels(r, q.label(), 1, 9, 9, area, [](MEMIMG* d, MEMIMG* s) { DrawRotaMemImg(d, s, 20, 15, 0.0f, 3.0f, 0, 0, nullptr); },
                            RotaHits(9, 9, 20, 15, 0.0f, 3.0f, false, area));
    CompareValue(r, Label(q, "column"), got.at(q.Int(0), q.Int(1)) >> 8, q.Int(k ? 4 : 2));
  }
  const std::optional<RotaMap> m = Worked(Area{q.Int(3), 0, kW, kH});
  CompareValue(r, Label(q, "ix"), m ? m->ix : 0, q.Int(5));
}

// ---- Calls that draw nothing --------------------------------------------------------------------

// Whether a call drew: the destination compared with what it was, and with the model.
bool Drew(Report& r, const std::string& what, int W, int H, const std::function<void(MEMIMG*, MEMIMG*)>& draw,
          const Hits& model, int dstW = kW, int dstH = kH) {
  Surface src(KindOf(W, H)), dst(KindOf(dstW, dstH));
  NumberTexels(src);
  dst.FillWith(0xFFFF);
  PlainState(Area{0, 0, dstW, dstH});
  const auto before = dst.Pixels();
  draw(dst.img(), src.img());
  AgreesWithModel(r, what, dst, before, Plain(1, kRota), model, &src);
  return dst.Pixels() != before;
}

void Refusals(const Quote& q, Report& r) {
  const int W = q.Int(0), H = q.Int(1);
  enum { kFormats, kPalette, kAlpha, kChannel, kInvalid, kGraph, kOutside, kFits, kCount };
  for (int blit = 0; blit < 3; ++blit)
    for (int why = 0; why < kCount; ++why) {
      SurfaceKind dk = KindOf(q.Int(12), q.Int(13)), sk = KindOf(W, H);
      if (why == kFormats) dk.format = q.Int(14) == 16 ? 0 : 1;
      if (why == kPalette) dk.palette = true;
      if (why == kAlpha) dk.alpha = true;
      if (why == kChannel) dk.format = sk.format = q.Int(15);
      Surface src(sk), dst(dk), graph(KindOf(why == kFits ? q.Int(19) : q.Int(16), why == kFits ? q.Int(20) : q.Int(17), 2));
      NumberTexels(src);
      graph.FillWith(255);
      dst.FillWith(31);
      PlainState(Area{0, 0, q.Int(12), q.Int(13)});
      SetDrawBlendMode(4, 255);  // MUL changes the pixels whatever the graph's weights
      const auto before = dst.Pixels();
      const MEMIMG* g = why == kGraph || why == kFits ? graph.img() : nullptr;
      MEMIMG never{};
      const MEMIMG* s = why == kInvalid ? &never : src.img();
      const int shift = why == kOutside ? q.Int(18) : 0;
      const RECT rect{q.Int(4) + shift, q.Int(5), q.Int(6) + shift, q.Int(7)};
      if (blit == 0) DrawMemImg(dst.img(), s, q.Int(2) + shift, q.Int(3), 0, g);
      if (blit == 1) DrawExtendMemImg(dst.img(), s, &rect, 0, g);
      if (blit == 2) DrawRotaMemImg(dst.img(), s, q.Int(8) + shift, q.Int(9), float(q.Num(10)), float(q.Num(11)), 0, 0, g);
      CompareValue(r, Label(q, blit == 0 ? "DrawMemImg" : blit == 1 ? "DrawExtendMemImg" : "DrawRotaMemImg"), dst.Pixels() != before, why == kFits);
    }
  PlainState(kAll);
}

void FlatRectangles(const Quote& q, Report& r) {
  for (int k = 0; k < 2; ++k) {
    const RECT rect{q.Int(4 * k), q.Int(4 * k + 1), q.Int(4 * k + 2), q.Int(4 * k + 3)};
    CompareValue(r, q.label(), Drew(r, q.label(), 5, 5, [&](MEMIMG* d, MEMIMG* s) { DrawExtendMemImg(d, s, &rect, 0, nullptr); }, {}), 0);
  }
}
// Sources at the limits, drawn or not, each against the model.
void RotaLimit(Report& r, const Quote& q, int W, int H, int x, int y, float angle, float scale, bool draws) {
  const bool drew = Drew(r, q.label(), W, H, [&](MEMIMG* d, MEMIMG* s) { DrawRotaMemImg(d, s, x, y, angle, scale, 0, 0, nullptr); },
                         RotaHits(W, H, x, y, angle, scale, false, kAll));
  CompareValue(r, q.label(), drew, draws);
}
void WideSources(const Quote& q, Report& r) {
  CompareValue(r, Label(q, "corners"), std::lround(q.Num(4) * 2), q.Int(0));
  CompareValue(r, Label(q, "corner"), std::lround(q.Num(6) * 2), q.Int(0) + 2 * q.Int(5));
  RotaLimit(r, q, q.Int(0), q.Int(1), q.Int(3), 10, 0.0f, float(q.Num(2)), true);
  RotaLimit(r, q, q.Int(0), q.Int(1), q.Int(5), 10, 0.0f, float(q.Num(2)), false);
  RotaLimit(r, q, q.Int(8), q.Int(9), 0, 10, 0.0f, float(q.Num(7)), false);
  RotaLimit(r, q, q.Int(8) - 1, q.Int(9), 0, 10, 0.0f, float(q.Num(7)), true);
}
void TallSource(const Quote& q, Report& r) { RotaLimit(r, q, q.Int(0), q.Int(1), 10, 0, 0.0f, 1.0f, true); }
void TinyScales(const Quote& q, Report& r) {
  const float small = float(q.Num(0) / q.Num(1)), drawn = float(q.Num(5) / q.Num(6));
  CompareValue(r, Label(q, "Ux"), int64_t(double(RotaConstants(0.0f).cos18) / double(small)), int64_t(std::pow(q.Num(3), q.Num(4))));
  RotaLimit(r, q, 6, 6, 20, 15, float(q.Num(2)), small, false);
  RotaLimit(r, q, 6, 6, 20, 15, float(q.Num(2)), drawn, true);
  for (float odd : {0.0f, NAN, INFINITY}) RotaLimit(r, q, 6, 6, 20, 15, 0.3f, odd, false);
  RotaLimit(r, q, 6, 6, 20, 15, INFINITY, 1.0f, false);
}
void QuotientEnds(const Quote& q, Report& r) {
  const int W = q.Int(0), H = q.Int(1), x = q.Int(2), y = q.Int(3), size = q.Int(7);
  for (int k = 0; k < 2; ++k) {
    const float scale = float(k ? q.Num(13) / q.Num(14) : q.Num(5) / q.Num(6));
    Surface src(KindOf(W, H)), dst(KindOf(size, q.Int(8)));
    src.FillWith(0x00ABCDEF);
    dst.FillWith(0);
    PlainState(Area{0, 0, size, q.Int(8)});
    DrawRotaMemImg(dst.img(), src.img(), x, y, float(q.Num(4)), scale, 0, 0, nullptr);
    Grid got(size, q.Int(8)), stated(size, q.Int(8));
    for (int b = 0; b < size; ++b)
      for (int a = 0; a < size; ++a) got.at(a, b) = dst.Get(a, b) != 0;
    if (!k) stated.at(q.Int(9), q.Int(10)) = 1;
    CompareGrids(r, q.label(), got, stated);
    const std::optional<RotaMap> m = RotaMapping(W, H, x, y, float(q.Num(4)), scale, Area{0, 0, size, q.Int(8)});
    CompareValue(r, Label(q, "Vb"), k ? m.has_value() : (m ? m->Vb : 0), k ? 0 : -int64_t(std::pow(2.0, q.Num(12))));
    CompareValue(r, Label(q, "the signs"), q.Num(11) < 0 && q.Num(15) > 0, 1);
    CompareGrids(r, Label(q, "the model"), ModelVisits(size, q.Int(8), RotaHits(W, H, x, y, float(q.Num(4)), scale, false, Area{0, 0, size, q.Int(8)})), stated);
  }
}

// No drawer reports a refusal: DrawMemImg returns 0, drawn or not, and no call logs a line.
void NoReport(const Quote& q, Report& r) {
  Surface dst(KindOf(20, 20, q.Int(1) == 32 ? 1 : 0)), other(KindOf(4, 4, q.Int(0) == 32 ? 1 : 0)), same(KindOf(4, 4, 1));
  same.FillWith(0x00FFFFFF);
  dst.FillWith(0);
  PlainState(Area{0, 0, 20, 20});
  LogCaptureBegin();
  const int refused = DrawMemImg(dst.img(), other.img(), 1, 1, 0, nullptr);
  const bool untouched = dst.Pixels() == std::vector<uint32_t>(400, 0);
  // Refusals of every drawer on the page: formats, a palettised destination, limits.
  SurfaceKind pk = KindOf(20, 20);
  pk.palette = true;
  Surface palette(pk);
  const RECT rect{1, 1, 9, 9};
  const int corners[8] = {1, 1, 9, 1, 1, 9, 9, 9};
  const int tri[3][4] = {{1, 1, 0, 0}, {9, 1, 4, 0}, {1, 9, 0, 4}};
  DrawExtendMemImg(dst.img(), other.img(), &rect, 0, nullptr);
  DrawRotaMemImg(dst.img(), other.img(), 5, 5, 0.0f, 1.0f, 0, 0, nullptr);
  DrawRotaMemImg(dst.img(), same.img(), 5, 5, NAN, 1.0f, 0, 0, nullptr);
  DrawQuadMemImg(dst.img(), other.img(), corners, 0, nullptr);
  DrawTriangle(dst.img(), other.img(), tri, 0, nullptr, 0);
  DrawPixelMemImg(palette.img(), 2, 2, 1);
  DrawFillBoxMemImg(palette.img(), &rect, 1);
  DrawCircleMemImg(dst.img(), 5, 5, -1, 1, 1);
  DrawOvalMemImg(dst.img(), 5, 5, 0, 3, 1, 0);
  const int drawn = DrawMemImg(dst.img(), same.img(), 1, 1, 0, nullptr);
  const std::string log = LogCaptureEnd();
  CompareValue(r, Label(q, "returned when refused"), refused, q.Int(2));
  CompareValue(r, Label(q, "no pixel"), untouched, 1);
  CompareValue(r, Label(q, "returned when drawn"), drawn, q.Int(4));
  CompareValue(r, Label(q, "drawn"), dst.Get(2, 2), 0x00FFFFFF);
  CompareValue(r, Label(q, "log lines"), int64_t(log.size()), 0);
}

const ExampleList kBlitExamples{
    {Doc::kPage, "Examples: `DrawArea` (0, 0, 1024, 1024) on a 30 × 20 destination gives the area (0, 0, 30, 20).", AreaOfDestination},
    {Doc::kPage, "A `DerivationMemImg` view (10, 6, 20, 12) of a 48 × 40 body under `DrawArea` (0, 0, 48, 40) has the area (0, 0, 20, 12): columns 10 to 29 and rows 6 to 17 of the body.", AreaOfView},
    {Doc::kPage, "Example: a 30 × 20 source at (−5, −4) with `DrawArea` (3, 2, 20, 15) writes the 17 × 13 pixels from (3, 2) to (19, 14); pixel (3, 2) shows texel (8, 6).", PlainExample},
    {Doc::kPage, "Example: a 24 × 16 source uploaded whole and drawn at (7, 5) with flag 1 and ALPHA 128 takes the run map, and there a pixel with s = d = 1 stays 1.", RunMapExample},
    {Doc::kPage, "With `DrawArea` starting at row 6, or with flag 2, it takes the per-pixel path, and there the pixel becomes 0.", PerPixelExample},
    {Doc::kPage, "Examples of conditions 2 and 3: that source, every pixel 0x00010101, is drawn so onto pixels 0x00010101 after what the left column names (calls into it made with NOBLEND in its own colour and `DrawArea` (0, 0, 10, 10)); the run map gives 0x00010101, the per-pixel path 0x00000000.", RunMapSettings},
    {Doc::kPage, "| nothing | 0x00010101 |", RunMapRow},
    {Doc::kPage, "| no upload (the body only made) | 0x00000000 |", RunMapRow},
    {Doc::kPage, "| the source drawn through a `DerivationMemImg` view (0, 0, 24, 16) | 0x00010101 |", RunMapRow},
    {Doc::kPage, "| the source drawn through a `DerivationMemImg` view (0, 0, 24, 15) | 0x00000000 |", RunMapRow},
    {Doc::kPage, "| `DrawPixelMemImg` at (20, 12) | 0x00010101 |", RunMapRow},
    {Doc::kPage, "| `DrawLineMemImg` (20, 20)–(30, 30) | 0x00010101 |", RunMapRow},
    {Doc::kPage, "| `DrawCircleMemImg` at (30, 30), r = 3 | 0x00010101 |", RunMapRow},
    {Doc::kPage, "| `DrawQuadMemImg` on (20, 20), (30, 20), (20, 30), (30, 30) | 0x00010101 |", RunMapRow},
    {Doc::kPage, "| `DrawRotaMemImg` of a 4 × 4 source at (−40, 5), angle 0, scale 1 (box empty) | 0x00010101 |", RunMapRow},
    {Doc::kPage, "| `DrawPixelMemImg` at (2, 2) | 0x00000000 |", RunMapRow},
    {Doc::kPage, "| `DrawOvalMemImg` at (30, 30), 3 × 2, outside the area | 0x00000000 |", RunMapRow},
    {Doc::kPage, "| `DrawPolygonMemImg`, flat, on (20, 20), (30, 20), (20, 30), outside the area | 0x00000000 |", RunMapRow},
    {Doc::kPage, "| `DrawMemImg` at (2, 2), flag 1, of a 4 × 4 source whose every pixel is its key: no pixel written | 0x00000000 |", RunMapRow},
    {Doc::kPage, "| `DrawRotaMemImg` of that source at (−4, 5), angle 0, scale 1: box columns 0 and 1, no pixel inside the source | 0x00000000 |", RunMapRow},
    {Doc::kPage, "Example: a 10 × 8 source into (6, 5, 16, 13) at ALPHA 128 halves as `DrawMemImg` does (s = d = 1 gives 0); into (6, 5, 17, 13) it is stretched and gives 1.", HandOver},
    {Doc::kPage, "| 4 → 8 | 131072 | 0, 0, 1, 1, 2, 2, 3, 3 |", StretchRow},
    {Doc::kPage, "| 8 → 4 | 32768 | 0, 2, 4, 6 |", StretchRow},
    {Doc::kPage, "| 2 → 3 | 98304 | 0, 0, 1 |", StretchRow},
    {Doc::kPage, "| 7 → 3 | 28086 | 0, 2, 4 |", StretchRow},
    {Doc::kPage, "| 6 → 12, mirrored (rect 20 … 8) | 131072 | 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0 |", StretchRow},
    {Doc::kPage, "| 6 → 6, mirrored (rect 11 … 5) | 65536 | 5, 4, 3, 2, 1, 0 |", StretchRow},
    {Doc::kPage, "| 9 → 6, mirrored (rect 30 … 24) | 43690 | 8, 7, 5, 4, 2, 1 |", StretchRow},
    {Doc::kPage, "| 7 → 80000 (rect −40000 … 40000) | 748982857 | column 40000 shows 3 |", StretchRow},
    {Doc::kPage, "Example with clipping: a 4 × 3 source stretched to (5, 1, 17, 10) (xscale 196608) with `DrawArea` starting at column 10. Pixel (10, 1) is column i = 5 and shows texel (1, 0), the same as without the clip.", StretchClipped},
    {Doc::kPage, "Example: an 8 × 6 source at (20, 15), angle 0, scale 2 gives the corners {28, 9, 12, 9, 28, 21, 12, 21}, so the source's right column is drawn at the left.", Turned},
    {Doc::kPage, "| 0, 1 | ((W >> 1) + i, (H >> 1) + j): texel (W >> 1, H >> 1) lies on (x, y); for W = 5, column 2 lands on column x |", RotaStill},
    {Doc::kPage, "| π/2 as a float, 1 (sin 1, cos −4.37·10⁻⁸, so sin18 = 262144 and cos18 = 0) | ((W >> 1) + j, (H >> 1) − i): a quarter turn clockwise |", RotaQuarter},
    {Doc::kPage, "| −π/2, 1 | ((W >> 1) − j, (H >> 1) + i) |", RotaBack},
    {Doc::kPage, "| 0, 2 | ((W >> 1) + floor(i / 2), (H >> 1) + floor(j / 2)) |", RotaDouble},
    {Doc::kPage, "| 0, 0.5 | ((W >> 1) + 2i, (H >> 1) + 2j) |", RotaHalf},
    {Doc::kPage, "| 0, −1 | ((W >> 1) − i, (H >> 1) − j) |", RotaHalfTurn},
    {Doc::kPage, "Worked example: a 9 × 9 source at (20, 15), angle 0, scale 3, area (0, 0, 48, 40).", WorkedSetting},
    {Doc::kPage, "Corner 0 is (1703936, 393216), that is (6.5, 1.5) pixels. The box is (4, −1, 37, 32), clipped to (4, 0, 37, 32).", WorkedCorner},
    {Doc::kPage, "ix = −16, jt = −15 and jb = 17.", WorkedOffsets},
    {Doc::kPage, "Ut = 1048576 + trunc(−16 · 262144 / 3) = −349525 and Vt = 1048576 − 1310720 = −262144.", WorkedTop},
    {Doc::kPage, "Ux = trunc(87381.33) = 87381, Vx = 0 and Uy = 0.", WorkedAcross},
    {Doc::kPage, "Vy = (2534058 + 262144) / 32 = 87381.", WorkedDown},
    {Doc::kPage, "Pixel (20, 15) is i = 16, j = 15. U = −349525 + 16 · 87381 = 1048571 and V = −262144 + 15 · 87381 = 1048571. Both are below 4 · 262144, so the pixel shows texel (3, 3), not (4, 4).", WorkedPixel},
    {Doc::kPage, "Pixel (23, 15) shows column 4. With `DrawArea` starting at column 23 it shows column 5 instead, since then ix = 3.", WorkedArea},
    {Doc::kPage, "Examples, each with a 12 × 10 source, `DrawMemImg` at (3, 4), `DrawExtendMemImg` into (3, 4, 30, 20) and `DrawRotaMemImg` at (20, 20), angle 0.5, scale 1.5 into a 48 × 40 destination: each call draws nothing with a 16-bit destination, a palettised destination, a destination with alpha, format 2 destination and source, a source record never made, a blend graph of 12 × 9, or with each x 68 larger (outside the destination); with a blend graph of 12 × 10 each draws.", Refusals},
    {Doc::kPage, "Examples: `DrawExtendMemImg` into (4, 4, 4, 20) or (4, 9, 20, 9) draws nothing.", FlatRectangles},
    {Doc::kPage, "A 16383 × 1 source at scale 1 draws at x = 0 (corners ±8191.5) and draws nothing at x = 1 (corner 8192.5); at scale 0.5 a 16384 × 1 source draws nothing.", WideSources},
    {Doc::kPage, "A 1 × 5000 source is drawn.", TallSource},
    {Doc::kPage, "Scale 1/16384 at angle 0 gives Ux = 2^32 and draws nothing, while scale 1/128 draws.", TinyScales},
    {Doc::kPage, "A 1 × 1 source at (0, 0), angle 0, scale −1/2048, into a 4 × 4 destination shows the texel at (0, 0) and nothing else (Vb = −2^31); at scale 1/2048 that quotient is +2^31 and nothing is drawn.", QuotientEnds},
    {Doc::kPage, "Example: `DrawMemImg` of a 16-bit source into a 32-bit destination returns 0, writes no pixel and no log line; with a 32-bit source it returns 0 and draws.", NoReport},
};

}  // namespace

// The model against whole drawn destinations where the sweeps do not reach: rotated blits at
// negative and small scales, clipped, and partly outside the destination.
void CheckBlitCoverage(Report& r) {
  struct Case {
    int W, H, x, y;
    float angle, scale;
    Area area;
  } const cases[] = {{13, 9, 20, 15, 0.7f, 1.3f, {14, 9, 30, 33}}, {11, 14, 25, 18, -2.5f, -0.8f, kAll}, {16, 12, 3, 36, 4.0f, 2.7f, kAll},
                     {7, 5, 20, 15, 1.1f, 0.45f, kAll}};
  for (const Case& c : cases)
    for (int format = 0; format <= 1; ++format)
      Texels(r, "DrawRotaMemImg against the model", format, c.W, c.H, c.area,
             [&](MEMIMG* d, MEMIMG* s) { DrawRotaMemImg(d, s, c.x, c.y, c.angle, c.scale, 0, 0, nullptr); },
             RotaHits(c.W, c.H, c.x, c.y, c.angle, c.scale, false, c.area));
  PlainState(kAll);
}

}  // namespace page
