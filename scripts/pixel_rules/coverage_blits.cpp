// Drawn examples of the page's statements on DrawMemImg, DrawExtendMemImg and DrawRotaMemImg:
// which destination pixel shows which source pixel, when the run map is walked, and the calls
// that draw nothing. Each example draws through the engine and compares every destination pixel
// with the page (the hits, each a Visit; every other pixel unchanged).
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "page_model.h"
#include "surface.h"

namespace page {

namespace {

constexpr int kW = 48, kH = 40;  // destination size of every example
const float kQuarter = float(M_PI / 2);

// A source whose every texel differs: 32-bit v << 12 | u, 16-bit v << 8 | u.
void Number(Surface& src) {
  const SurfaceKind& k = src.kind();
  for (int v = 0; v < k.height; ++v)
    for (int u = 0; u < k.width; ++u)
      src.Set(u, v, k.format == 1 ? uint32_t(v) << 12 | uint32_t(u) : (uint32_t(v) << 8 | uint32_t(u)) & 0xFFFF);
}

SurfaceKind Kind(int w, int h, int format = 1) {
  SurfaceKind k;
  k.width = w;
  k.height = h;
  k.format = format;
  return k;
}

void State(int mode, int p, const Area& area) {
  SetDrawBlendMode(mode, p);
  SetDrawBright(255, 255, 255);
  SetDrawArea(area.left, area.top, area.right, area.bottom);
}

// The destination against the page: `before` with every hit visited under `call`, in order.
void Expect(Report& report, const std::string& what, Surface& dst, const std::vector<uint32_t>& before,
            const Call& call, const Hits& hits, Surface* src) {
  std::vector<uint32_t> want = before;
  const int w = dst.kind().width;
  if (Draws(call))
    for (const Hit& h : hits) Visit(call, want[size_t(h.y) * w + size_t(h.x)], src ? src->Get(h.u, h.v) : 0, 0);
  const std::vector<uint32_t> got = dst.Pixels();
  for (size_t i = 0; i < got.size(); ++i)
    report.Compare(got[i] == want[i], what.c_str(), int(i % w), int(i / w), got[i], want[i]);
  if (!dst.GuardsIntact()) {
    ++report.differences;
    std::printf("    %s: the guard bytes around the destination changed\n", what.c_str());
  }
}

// One statement checked on its own: the hit at (x, y) shows texel (u, v).
void ExpectTexel(Report& report, const std::string& what, const Hits& hits, int x, int y, int u, int v) {
  for (const Hit& h : hits)
    if (h.x == x && h.y == y) {
      report.Compare(h.u == u && h.v == v, what.c_str(), x, y, uint32_t(h.u) << 16 | uint32_t(h.v),
                     uint32_t(u) << 16 | uint32_t(v));
      return;
    }
  report.Compare(false, (what + ": pixel not drawn").c_str(), x, y, 0, uint32_t(u) << 16 | uint32_t(v));
}

Call Noblend(int format, Drawer drawer) {
  Call c;
  c.drawer = drawer;
  c.format = format;
  return c;
}

// ---- DrawMemImg ---------------------------------------------------------------------------------

void PlainExamples(Report& report) {
  const Area whole{0, 0, kW, kH};
  // Texel (X - x, Y - y) at (X, Y), clipped on all four sides by DrawArea; both formats.
  for (int format = 0; format <= 1; ++format) {
    Surface src(Kind(30, 20, format)), dst(Kind(kW, kH, format));
    Number(src);
    dst.Fill(7);
    const Area area{3, 2, 20, 15};
    State(0, 255, area);
    const auto before = dst.Pixels();
    DrawMemImg(dst.img(), src.img(), -5, -4, 0, nullptr);
    const Hits hits = PlainHits(30, 20, -5, -4, area);
    ExpectTexel(report, "DrawMemImg (3, 2) shows (8, 6)", hits, 3, 2, 8, 6);
    Expect(report, "DrawMemImg clipped by DrawArea", dst, before, Noblend(format, kPlain), hits, &src);
  }
  // DrawArea larger than the destination view: the area is limited to the view, so a view of a
  // larger body gets no pixel outside itself; for each blit.
  for (int blit = 0; blit < 3; ++blit) {
    Surface src(Kind(30, 20)), body(Kind(kW, kH));
    Number(src);
    body.Fill(8);
    MEMIMG view{};
    DerivationMemImg(&view, body.img(), 10, 6, 20, 12);
    State(0, 255, whole);
    const auto before = body.Pixels();
    const Area inView{0, 0, 20, 12};
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
    for (Hit& h : hits) h.x += 10, h.y += 6;  // view to body coordinates
    static const char* const names[] = {"DrawMemImg", "DrawExtendMemImg", "DrawRotaMemImg"};
    Expect(report, std::string(names[blit]) + " into a view: the area limited to the view", body, before,
           Noblend(1, drawer), hits, &src);
  }
  // The run map is walked only with the flag exactly 1, a run map built by a whole upload, the
  // source its body's whole view and nothing clipped. ALPHA at p = 128 shows which path ran: the
  // per-pixel path halves (keyed source, no graph, no tint), the run map does not.
  struct RunCase {
    const char* what;
    int trans;
    Area area;
    bool upload;
    bool partView;
    Drawer drawer;
  };
  const RunCase runCases[] = {
      {"run map: flag 1, uploaded, unclipped", 1, whole, true, false, kPlainRuns},
      {"run map: clipped by one row -> per pixel", 1, {0, 6, kW, kH}, true, false, kPlain},
      {"run map: flag 2 -> per pixel", 2, whole, true, false, kPlain},
      {"run map: never uploaded -> per pixel", 1, whole, false, false, kPlain},
      {"run map: a view of part of the body -> per pixel", 1, whole, true, true, kPlain},
  };
  for (const RunCase& rc : runCases) {
    SurfaceKind sk = Kind(24, 16);
    sk.key = 0x00123456;
    Surface src(sk), dst(Kind(kW, kH));
    src.Fill(21);
    if (rc.upload && !src.UploadWhole()) {
      ++report.differences;
      std::printf("    %s: the run map was not built\n", rc.what);
      continue;
    }
    MEMIMG view{};
    const MEMIMG* drawn = src.img();
    if (rc.partView) {
      DerivationMemImg(&view, src.img(), 0, 0, 24, 15);
      drawn = &view;
    }
    const int srcH = rc.partView ? 15 : 16;
    dst.Fill(22);
    State(1, 128, rc.area);
    const auto before = dst.Pixels();
    DrawMemImg(dst.img(), drawn, 7, 5, rc.trans, nullptr);
    if (rc.partView) TerminateMemImg(&view);
    Call call = Noblend(1, rc.drawer);
    call.mode = 1;
    call.p = 128;
    call.trans = true;
    call.key = sk.key;
    const Hits hits = PlainHits(24, srcH, 7, 5, rc.area);
    Expect(report, rc.what, dst, before, call, hits, &src);
    // The example tells the two paths apart.
    Call other = call;
    other.drawer = rc.drawer == kPlain ? kPlainRuns : kPlain;
    bool differ = false;
    for (const Hit& h : hits) {
      uint32_t a = before[size_t(h.y) * kW + size_t(h.x)], b = a;
      Visit(call, a, src.Get(h.u, h.v), 0);
      Visit(other, b, src.Get(h.u, h.v), 0);
      differ = differ || a != b;
    }
    report.Compare(differ, (std::string(rc.what) + ": the paths differ here").c_str(), 0, 0, differ, 1);
  }
}

// The refusals shared by the three blits: each call draws nothing.
enum Refusal { kFormats, kPaletteDst, kAlphaDst, kSmallGraph, kNotColour, kInvalid, kOutside, kRefusalCount };
const char* const kRefusalNames[] = {"formats differ", "palettised destination", "destination with alpha",
                                     "blend graph smaller than the source", "format 2 destination and source",
                                     "source not a valid MEMIMG", "wholly outside the area"};

void RefusalExamples(Report& report) {
  for (int blit = 0; blit < 3; ++blit)
    for (int r = 0; r < kRefusalCount; ++r) {
      SurfaceKind dk = Kind(kW, kH, 1), sk = Kind(12, 10);
      if (r == kFormats) dk.format = 0;
      if (r == kPaletteDst) dk.palette = true;
      if (r == kAlphaDst) dk.alpha = true;
      if (r == kNotColour) dk.format = sk.format = 2;
      Surface src(sk), dst(dk), graph(Kind(12, 9, 2));
      Number(src);
      graph.FillWith(255);
      dst.Fill(31);
      State(0, 255, Area{0, 0, kW, kH});
      const auto before = dst.Pixels();
      const MEMIMG* g = r == kSmallGraph ? graph.img() : nullptr;
      MEMIMG invalid{};
      const MEMIMG* s = r == kInvalid ? &invalid : src.img();
      const int at = r == kOutside ? kW + 20 : 3;
      const RECT rect{at, 4, at + 27, 20};
      if (blit == 0) DrawMemImg(dst.img(), s, at, 4, 0, g);
      if (blit == 1) DrawExtendMemImg(dst.img(), s, &rect, 0, g);
      if (blit == 2) DrawRotaMemImg(dst.img(), s, at + 17, 20, 0.5f, 1.5f, 0, 0, g);
      static const char* const blits[] = {"DrawMemImg", "DrawExtendMemImg", "DrawRotaMemImg"};
      Expect(report, std::string(blits[blit]) + " refuses: " + kRefusalNames[r], dst, before,
             Noblend(1, kPlain), {}, nullptr);
    }
  // A blend graph as large as the source is read: the same calls draw.
  Surface src(Kind(12, 10)), dst(Kind(kW, kH)), graph(Kind(12, 10, 2));
  Number(src);
  graph.FillWith(255);
  dst.Fill(32);
  State(0, 255, Area{0, 0, kW, kH});
  const auto before = dst.Pixels();
  DrawMemImg(dst.img(), src.img(), 3, 4, 0, graph.img());
  report.Compare(dst.Pixels() != before, "DrawMemImg with a graph of the source's size draws", 0, 0, 0, 1);
}

// ---- DrawExtendMemImg ---------------------------------------------------------------------------

void StretchExamples(Report& report) {
  const Area whole{0, 0, kW, kH};
  struct Case {
    const char* what;
    int srcW, srcH;
    RECT rect;
    Area area;
    int format;
    int x, y, u, v;  // destination pixel (x, y) shows texel (u, v)
  };
  const Case cases[] = {
      {"doubling 4 -> 8: columns 0,0,1,1,2,2,3,3", 4, 3, {2, 1, 10, 7}, whole, 1, 9, 1, 3, 0},
      {"halving 8 -> 4: columns 0,2,4,6", 8, 6, {2, 1, 6, 4}, whole, 1, 5, 1, 6, 0},
      {"2 -> 3 (xscale 98304): columns 0,0,1", 2, 2, {2, 1, 5, 4}, whole, 0, 4, 1, 1, 0},
      {"7 -> 3 (xscale 28086): columns 0,2,4", 7, 5, {2, 1, 5, 4}, whole, 1, 4, 1, 4, 0},
      {"mirrored left to right (right < left)", 6, 4, {20, 1, 8, 9}, whole, 1, 8, 1, 5, 0},
      {"mirrored top to bottom (bottom < top)", 6, 4, {8, 30, 20, 10}, whole, 0, 8, 10, 0, 3},
      {"mirrored both ways, shrunk", 9, 7, {30, 30, 24, 25}, whole, 1, 29, 29, 1, 1},
      {"starts 5 left of DrawArea: same columns", 4, 3, {5, 1, 17, 10}, {10, 0, kW, kH}, 1, 10, 1, 1, 0},
      {"clipped mirrored stretch", 5, 5, {40, 38, 3, 2}, {6, 7, 30, 33}, 0, 6, 7, 4, 4},
      {"mirrored at the source's own size: no hand-over", 6, 4, {11, 2, 5, 6}, whole, 1, 5, 2, 5, 0},
      {"80000 wide (xscale 748982857)", 7, 5, {-40000, 1, 40000, 11}, whole, 1, 0, 1, 3, 0},
  };
  for (const Case& c : cases) {
    Surface src(Kind(c.srcW, c.srcH, c.format)), dst(Kind(kW, kH, c.format));
    Number(src);
    dst.Fill(41);
    State(0, 255, c.area);
    const auto before = dst.Pixels();
    DrawExtendMemImg(dst.img(), src.img(), &c.rect, 0, nullptr);
    const Hits hits = StretchHits(c.srcW, c.srcH, int(c.rect.left), int(c.rect.top), int(c.rect.right),
                                  int(c.rect.bottom), c.area);
    ExpectTexel(report, std::string("DrawExtendMemImg ") + c.what, hits, c.x, c.y, c.u, c.v);
    Expect(report, std::string("DrawExtendMemImg ") + c.what, dst, before, Noblend(c.format, kStretch), hits, &src);
  }
  // left = right or top = bottom: nothing.
  {
    Surface src(Kind(5, 5)), dst(Kind(kW, kH));
    Number(src);
    dst.Fill(42);
    State(0, 255, whole);
    const auto before = dst.Pixels();
    const RECT flat{4, 4, 4, 20}, thin{4, 9, 20, 9};
    DrawExtendMemImg(dst.img(), src.img(), &flat, 0, nullptr);
    DrawExtendMemImg(dst.img(), src.img(), &thin, 0, nullptr);
    DrawExtendMemImg(dst.img(), src.img(), nullptr, 0, nullptr);
    Expect(report, "DrawExtendMemImg with no width, no height or no rectangle draws nothing", dst, before,
           Noblend(1, kStretch), {}, nullptr);
  }
  // The source's own size, not mirrored, is DrawMemImg at (left, top): at ALPHA p = 128 it halves
  // as DrawMemImg does (keyed source, flag 0); one pixel wider it is stretched and does not.
  for (int wider = 0; wider <= 1; ++wider) {
    Surface src(Kind(10, 8)), dst(Kind(kW, kH));
    src.Fill(43);
    dst.Fill(44);
    State(1, 128, whole);
    const auto before = dst.Pixels();
    const RECT rect{6, 5, 16 + wider, 13};
    DrawExtendMemImg(dst.img(), src.img(), &rect, 0, nullptr);
    Call call = Noblend(1, wider ? kStretch : kPlain);
    call.mode = 1;
    call.p = 128;
    Expect(report, wider ? "DrawExtendMemImg one wider: stretched" : "DrawExtendMemImg own size: DrawMemImg",
           dst, before, call, StretchHits(10, 8, 6, 5, 16 + wider, 13, whole), &src);
  }
}

// ---- DrawRotaMemImg -----------------------------------------------------------------------------

void RotaExamples(Report& report) {
  const Area whole{0, 0, kW, kH};
  struct Case {
    const char* what;
    int srcW, srcH, x, y;
    float angle, scale;
    Area area;
    int format;
    // checks: pixel (x + m, y + n) shows (u, v)
    int m, n, u, v;
  };
  const Case cases[] = {
      {"angle 0 scale 1: texel (W>>1, H>>1) on (x, y), W = 5", 5, 4, 20, 15, 0.0f, 1.0f, whole, 1, 0, 0, 2, 2},
      {"angle 0 scale 1: (x + m, y + n) shows (2 + m, 2 + n)", 5, 4, 20, 15, 0.0f, 1.0f, whole, 0, -2, 1, 0, 3},
      {"angle 0 scale 1, even width 6", 6, 6, 20, 15, 0.0f, 1.0f, whole, 1, -3, -3, 0, 0},
      {"quarter turn clockwise: (x + m, y + n) shows (3 + n, 2 - m)", 7, 5, 20, 15, kQuarter, 1.0f, whole, 1, 2, 3, 6, 0},
      {"quarter turn, 16-bit", 7, 5, 20, 15, kQuarter, 1.0f, whole, 0, -2, -3, 0, 4},
      {"minus a quarter turn: (x + m, y + n) shows (3 - n, 2 + m)", 7, 5, 20, 15, -kQuarter, 1.0f, whole, 1, 2, 3, 0, 4},
      {"scale 2: column (W>>1) + floor(m / 2)", 5, 5, 20, 15, 0.0f, 2.0f, whole, 1, -3, 3, 0, 3},
      {"scale -1: (x + m, y + n) shows (2 - m, 2 - n)", 5, 5, 20, 15, 0.0f, -1.0f, whole, 1, 2, -1, 0, 3},
      {"scale 0.5: every second texel", 9, 9, 20, 15, 0.0f, 0.5f, whole, 1, 1, -2, 6, 0},
      {"scale 3: (x, y) shows (3, 3), not (W>>1, H>>1) = (4, 4)", 9, 9, 20, 15, 0.0f, 3.0f, whole, 1, 0, 0, 3, 3},
      {"angle 0.7 scale 1.3, clipped", 13, 9, 20, 15, 0.7f, 1.3f, {14, 9, 30, 33}, 1, 0, 0, 5, 4},
      {"angle -2.5 scale -0.8", 11, 14, 25, 18, -2.5f, -0.8f, whole, 0, 0, 0, 4, 6},
      {"angle 4 scale 2.7, partly outside the view", 16, 12, 3, 36, 4.0f, 2.7f, whole, 1, 0, 0, 8, 6},
  };
  for (const Case& c : cases) {
    Surface src(Kind(c.srcW, c.srcH, c.format)), dst(Kind(kW, kH, c.format));
    Number(src);
    dst.Fill(51);
    State(0, 255, c.area);
    const auto before = dst.Pixels();
    DrawRotaMemImg(dst.img(), src.img(), c.x, c.y, c.angle, c.scale, 0, 0, nullptr);
    const Hits hits = RotaHits(c.srcW, c.srcH, c.x, c.y, c.angle, c.scale, false, c.area);
    ExpectTexel(report, std::string("DrawRotaMemImg ") + c.what, hits, c.x + c.m, c.y + c.n, c.u, c.v);
    Expect(report, std::string("DrawRotaMemImg ") + c.what, dst, before, Noblend(c.format, kRota), hits, &src);
  }
  // The map is anchored at the clipped box's top-left pixel: with scale 3 (steps not whole) pixel
  // (23, 15) shows column 4 when DrawArea starts at column 0, column 5 when it starts at 23.
  for (int left : {0, 23}) {
    const Area area{left, 0, kW, kH};
    Surface src(Kind(9, 9)), dst(Kind(kW, kH));
    Number(src);
    dst.Fill(52);
    State(0, 255, area);
    const auto before = dst.Pixels();
    DrawRotaMemImg(dst.img(), src.img(), 20, 15, 0.0f, 3.0f, 0, 0, nullptr);
    const Hits hits = RotaHits(9, 9, 20, 15, 0.0f, 3.0f, false, area);
    const std::string what = "DrawRotaMemImg scale 3, DrawArea from column " + std::to_string(left);
    ExpectTexel(report, what, hits, 23, 15, left ? 5 : 4, 3);
    Expect(report, what, dst, before, Noblend(1, kRota), hits, &src);
  }
  // The turn flag: DrawQuadMemImg with corners 3, 0, 2, 1: mirrored left to right in the same
  // place (angle 0: the source's left column on the right).
  for (int k = 0; k < 2; ++k) {
    const float angle = k ? 0.6f : 0.0f;
    Surface src(Kind(8, 6)), dst(Kind(kW, kH)), quad(Kind(kW, kH));
    Number(src);
    dst.Fill(53);
    quad.Fill(53);
    State(0, 255, whole);
    const auto before = dst.Pixels();
    DrawRotaMemImg(dst.img(), src.img(), 20, 15, angle, 2.0f, 0, 1, nullptr);
    const Hits hits = RotaHits(8, 6, 20, 15, angle, 2.0f, true, whole);
    Expect(report, k ? "DrawRotaMemImg turned, angle 0.6" : "DrawRotaMemImg turned, angle 0", dst, before,
           Noblend(1, kPolygon), hits, &src);
    if (!k) {
      // Corners 12,9 (top-left) .. 28,21: the source's right column lies at the left.
      const int corners[8] = {28, 9, 12, 9, 28, 21, 12, 21};
      DrawQuadMemImg(quad.img(), src.img(), corners, 0, nullptr);
      const auto got = dst.Pixels(), want = quad.Pixels();
      for (size_t i = 0; i < got.size(); ++i)
        report.Compare(got[i] == want[i], "DrawRotaMemImg turned equals DrawQuadMemImg at corners 3, 0, 2, 1",
                       int(i % kW), int(i / kW), got[i], want[i]);
      ExpectTexel(report, "DrawRotaMemImg turned, angle 0: left column on the right", hits, 13, 10, 7, 0);
    }
  }
  // Limits: each call draws nothing, where the neighbouring call draws.
  struct Limit {
    const char* what;
    int srcW, srcH, x, y;
    float angle, scale;
    bool draws;
  };
  const Limit limits[] = {
      {"source 16383 wide", 16383, 1, 0, 10, 0.0f, 0.5f, true},
      {"source 16384 wide", 16384, 1, 0, 10, 0.0f, 0.5f, false},
      {"right corner at 8191.5", 16383, 1, 0, 12, 0.0f, 1.0f, true},
      {"right corner at 8192.5", 16383, 1, 1, 12, 0.0f, 1.0f, false},
      {"scale 0", 6, 6, 20, 15, 0.3f, 0.0f, false},
      {"scale NaN", 6, 6, 20, 15, 0.3f, NAN, false},
      {"angle infinite", 6, 6, 20, 15, INFINITY, 1.0f, false},
      {"scale 1/128", 6, 6, 20, 15, 0.0f, 0.0078125f, true},
      {"source 5000 rows tall", 1, 5000, 10, 0, 0.0f, 1.0f, true},
      {"scale 1/16384: the step 2^32 does not fit", 6, 6, 20, 15, 0.0f, 1.0f / 16384, false},
  };
  for (const Limit& l : limits) {
    Surface src(Kind(l.srcW, l.srcH)), dst(Kind(kW, kH));
    Number(src);
    dst.Fill(54);
    State(0, 255, whole);
    const auto before = dst.Pixels();
    DrawRotaMemImg(dst.img(), src.img(), l.x, l.y, l.angle, l.scale, 0, 0, nullptr);
    const Hits hits = RotaHits(l.srcW, l.srcH, l.x, l.y, l.angle, l.scale, false, whole);
    report.Compare(hits.empty() != l.draws, (std::string("DrawRotaMemImg ") + l.what).c_str(), 0, 0,
                   uint32_t(hits.size()), l.draws);
    Expect(report, std::string("DrawRotaMemImg ") + l.what, dst, before, Noblend(1, kRota), hits, &src);
  }
}

}  // namespace

void CheckBlitCoverage(Report& report) {
  PlainExamples(report);
  RefusalExamples(report);
  StretchExamples(report);
  RotaExamples(report);
}

}  // namespace page
