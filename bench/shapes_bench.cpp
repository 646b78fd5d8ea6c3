// Circle and oval drawer throughput: 1,000 random filled circles of radius 1 to 100 and 1,000
// random filled ovals of half-axes 1 to 100, into 32-bit and 16-bit 640 x 480 surfaces, NOBLEND
// and ALPHA, beside a plain memset of the very same spans. Rates are drawn pixels per second
// (items). Also the flattest and thinnest ovals the drawers accept (46,340 x 1 and 1 x 46,340).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_surface.h"
#include <qzlib/base/types.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/shapes.h>

namespace {

constexpr int kW = 640, kH = 480, kShapes = 1000;

struct Shape {
  int x, y, rx, ry;
};
struct Span {
  int row, x, n;
};

std::vector<Shape> MakeShapes(bool oval) {
  std::mt19937 rng(oval ? 777 : 555);
  auto r = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
  std::vector<Shape> v;
  for (int i = 0; i < kShapes; ++i) {
    const int rx = r(1, 100);
    v.push_back({r(0, kW - 1), r(0, kH - 1), rx, oval ? r(1, 100) : rx});
  }
  return v;
}

void DrawAll(MEMIMG* dst, const std::vector<Shape>& shapes, bool oval, uint32_t colour) {
  for (const Shape& s : shapes) {
    if (oval) DrawOvalMemImg(dst, s.x, s.y, s.rx, s.ry, colour, 1);
    else DrawCircleMemImg(dst, s.x, s.y, s.rx, colour, 1);
  }
}

// The spans the shapes cover, found by drawing each alone into a cleared surface.
std::vector<Span> SpansOf(const std::vector<Shape>& shapes, bool oval) {
  BenchSurface s(kW, kH, 1, 1);
  DrawBlendMode = BLENDMODE::NOBLEND;
  DrawBright = 0xFFFFFF;
  std::vector<Span> out;
  for (const Shape& sh : shapes) {
    ClearMemImg(&s.img, nullptr, 0);
    DrawAll(&s.img, {sh}, oval, 1);
    for (int y = 0; y < kH; ++y) {
      const uint32_t* row = reinterpret_cast<const uint32_t*>(s.img.Pixels + size_t(y) * s.img.Base->Pitch);
      int x = 0;
      while (x < kW) {
        if (!row[x]) { ++x; continue; }
        int x0 = x;
        while (x < kW && row[x]) ++x;
        out.push_back({y, x0, x - x0});
      }
    }
  }
  return out;
}

int64_t PixelsOf(const std::vector<Span>& spans) {
  int64_t n = 0;
  for (const Span& s : spans) n += s.n;
  return n;
}

void Setup(int mode) {
  static bool tables = (InitMemImgBlendTable(), true);
  (void)tables;
  DrawArea = {0, 0, kW, kH};
  DrawBlendMode = mode;
  DrawBlendParam = 128;
  DrawBright = 0xFFFFFF;
}

// args: format (0 = 16-bit, 1 = 32-bit), oval (0/1), mode (0 NOBLEND, 1 ALPHA)
void BM_FilledShapes(benchmark::State& state) {
  const int format = int(state.range(0));
  const bool oval = state.range(1) != 0;
  const auto shapes = MakeShapes(oval);
  const int64_t pixels = PixelsOf(SpansOf(shapes, oval));
  BenchSurface s(kW, kH, format, 9);
  Setup(int(state.range(2)));
  for (auto _ : state) {
    DrawAll(&s.img, shapes, oval, 0x00336699);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}
BENCHMARK(BM_FilledShapes)->ArgsProduct({{1, 0}, {0, 1}, {0, 1}})->ArgNames({"fmt32", "oval", "alpha"});

// A plain memset of the same spans, for comparison.
void BM_MemsetSpans(benchmark::State& state) {
  const int format = int(state.range(0));
  const bool oval = state.range(1) != 0;
  const auto spans = SpansOf(MakeShapes(oval), oval);
  BenchSurface s(kW, kH, format, 9);
  const int bpp = format == 1 ? 4 : 2;
  for (auto _ : state) {
    for (const Span& sp : spans)
      std::memset(s.img.Pixels + size_t(sp.row) * s.img.Base->Pitch + size_t(sp.x) * bpp, 0x5A,
                  size_t(sp.n) * bpp);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * PixelsOf(spans));
}
BENCHMARK(BM_MemsetSpans)->ArgsProduct({{1, 0}, {0, 1}})->ArgNames({"fmt32", "oval"});

// The flattest and thinnest accepted ovals, filled and outlined: one call per iteration.
void BM_ExtremeOval(benchmark::State& state) {
  const bool flat = state.range(0) != 0, fill = state.range(1) != 0;
  BenchSurface s(kW, kH, 1, 3);
  Setup(BLENDMODE::NOBLEND);
  for (auto _ : state) {
    if (flat) DrawOvalMemImg(&s.img, kW / 2, kH / 2, 46340, 1, 0xFFFFFF, fill);
    else DrawOvalMemImg(&s.img, kW / 2, kH / 2, 1, 46340, 0xFFFFFF, fill);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ExtremeOval)->ArgsProduct({{1, 0}, {1, 0}})->ArgNames({"flat", "fill"})->Unit(benchmark::kMicrosecond);

// The thin oval's walk stops once its rows leave the clip; in the tallest surface (32,768 rows,
// centre on row 0) it walks about 32,768 rows of its roughly 65,500.
void BM_ThinOvalTallestSurface(benchmark::State& state) {
  const bool fill = state.range(0) != 0;
  BenchSurface s(4, 32768, 1, 3);
  Setup(BLENDMODE::NOBLEND);
  DrawArea = {0, 0, 4, 32768};
  for (auto _ : state) {
    DrawOvalMemImg(&s.img, 2, 0, 1, 46340, 0xFFFFFF, fill);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ThinOvalTallestSurface)->Arg(1)->Arg(0)->ArgName("fill")->Unit(benchmark::kMicrosecond);

}  // namespace
