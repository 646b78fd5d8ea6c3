// Triangle rasteriser throughput: 10,000 random triangles of about 30 x 30 pixels (half of a
// jittered 30 x 30 square each), flat and textured, into 32-bit and 16-bit 640 x 480 surfaces,
// NOBLEND and ALPHA. Rates are drawn pixels per second (items).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_surface.h"
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/soft/polygon_walk.h>

namespace {

constexpr int kDstW = 640, kDstH = 480, kSrcSize = 32, kTriangles = 10000;

std::vector<MemImgVertex> MakeTriangles() {
  std::mt19937 rng(12345);
  auto r = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
  std::vector<MemImgVertex> v;
  for (int i = 0; i < kTriangles; ++i) {
    int x = r(0, kDstW - 34), y = r(0, kDstH - 34);
    bool upper = (i & 1) != 0;
    v.push_back({x + r(0, 3), y + r(0, 3), 0, 0});
    v.push_back({x + 30 + r(0, 3), y + r(0, 3), kSrcSize, 0});
    v.push_back({x + r(0, 3), y + 30 + r(0, 3), 0, kSrcSize});
    if (upper) v[v.size() - 3] = {x + 30 + r(0, 3), y + 30 + r(0, 3), kSrcSize, kSrcSize};
  }
  return v;
}

int64_t CountPixels(const std::vector<MemImgVertex>& tris) {
  RECT area{0, 0, kDstW, kDstH};
  int64_t n = 0;
  for (size_t i = 0; i < tris.size(); i += 3) {
    PolygonSetup s;
    if (!SetUpPolygon(&tris[i], false, &s)) continue;
    WalkPolygon(s, area, [&](int32_t, int32_t, int32_t count) { n += count; });
  }
  return n;
}

void Run(benchmark::State& state, int format, bool textured, bool pal, int mode) {
  InitMemImgBlendTable();
  static const std::vector<MemImgVertex> tris = MakeTriangles();
  static const int64_t pixels = CountPixels(tris);
  BenchSurface dst(kDstW, kDstH, format, 1);
  BenchSurface src(kSrcSize, kSrcSize, format, 2, pal);
  DrawArea = {0, 0, kDstW, kDstH};
  DrawBlendMode = mode;
  DrawBlendParam = mode == 0 ? 255 : 128;
  DrawBright = 0xFFFFFF;
  uint32_t color = format == 1 ? 0x00336699u : 0x3333u;
  for (auto _ : state) {
    for (size_t i = 0; i < tris.size(); i += 3)
      DrawPolygonMemImg(&dst.img, textured ? &src.img : nullptr, &tris[i], 0, nullptr, color);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}

}  // namespace

#define POLY_BENCH(name, format, textured, pal, mode)                                     \
  static void name(benchmark::State& s) { Run(s, format, textured, pal, mode); }        \
  BENCHMARK(name)->Unit(benchmark::kMillisecond)

POLY_BENCH(Flat32_NoBlend, 1, false, false, 0);
POLY_BENCH(Flat32_Alpha, 1, false, false, 1);
POLY_BENCH(Flat16_NoBlend, 0, false, false, 0);
POLY_BENCH(Flat16_Alpha, 0, false, false, 1);
POLY_BENCH(Tex32_NoBlend, 1, true, false, 0);
POLY_BENCH(Tex32_Alpha, 1, true, false, 1);
POLY_BENCH(Tex32Pal_NoBlend, 1, true, true, 0);
POLY_BENCH(Tex16_NoBlend, 0, true, false, 0);
POLY_BENCH(Tex16_Alpha, 0, true, false, 1);
POLY_BENCH(Tex16Pal_NoBlend, 0, true, true, 0);
