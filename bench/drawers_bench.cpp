// The stretched and rotated blits, the filled box and the line on 640 x 480 surfaces, 32-bit and
// 16-bit, beside a memset of the box's bytes. Items are destination pixels (lines: pixels walked).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_surface.h"
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/memimg.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/stretch_blit.h>

namespace {

constexpr int kW = 640, kH = 480;

void SetUpState(int mode, int param) {
  static bool tables = false;
  if (!tables) {
    InitMemImgBlendTable();
    tables = true;
  }
  DrawBlendMode = mode;
  DrawBlendParam = param;
  DrawBright = 0xFFFFFF;
  DrawArea = {0, 0, kW, kH};
}

void Memset(benchmark::State& state, int bpp) {
  std::vector<uint8_t> a(size_t(kW) * kH * bpp);
  for (auto _ : state) {
    std::memset(a.data(), int(state.iterations() & 0x7F), a.size());
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
  state.SetBytesProcessed(state.iterations() * int64_t(a.size()));
}

void BoxFill(benchmark::State& state, int format, int mode) {
  BenchSurface dst(kW, kH, format, 1);
  SetUpState(mode, 128);
  for (auto _ : state) {
    DrawFillBoxMemImg(&dst.img, nullptr, uint32_t(state.iterations()) * 0x01030507u);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
  state.SetBytesProcessed(state.iterations() * int64_t(kW) * kH * (format == 1 ? 4 : 2));
}

// Stretches a (kW * num / den) x (kH * num / den) source over the whole destination.
void Stretch(benchmark::State& state, int format, int mode, int srcNum, int srcDen) {
  BenchSurface dst(kW, kH, format, 1), src(kW * srcNum / srcDen, kH * srcNum / srcDen, format, 2);
  SetUpState(mode, 128);
  RECT r{0, 0, kW, kH};
  for (auto _ : state) {
    DrawExtendMemImg(&dst.img, &src.img, &r, 0, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

// A 640 x 480 source turned by 30 degrees at scale 1.5 about the centre: it covers the screen.
void Rota(benchmark::State& state, int format, int mode) {
  BenchSurface dst(kW, kH, format, 1), src(kW, kH, format, 2);
  SetUpState(mode, 128);
  for (auto _ : state) {
    DrawRotaMemImg(&dst.img, &src.img, kW / 2, kH / 2, 0.5235988f, 1.5f, 0, 0, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

void Lines(benchmark::State& state, int format, int mode) {
  BenchSurface dst(kW, kH, format, 1);
  SetUpState(mode, 128);
  std::mt19937 rng(7);
  struct L {
    int x1, y1, x2, y2;
  };
  std::vector<L> lines(1000);
  int64_t pixels = 0;
  for (L& l : lines) {
    l = {int(rng() % kW), int(rng() % kH), int(rng() % kW), int(rng() % kH)};
    pixels += std::max(std::abs(l.x2 - l.x1), std::abs(l.y2 - l.y1));
  }
  for (auto _ : state) {
    for (const L& l : lines) DrawLineMemImg(&dst.img, l.x1, l.y1, l.x2, l.y2, 0x00FF8040u);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}

}  // namespace

BENCHMARK_CAPTURE(Memset, 32, 4);
BENCHMARK_CAPTURE(Memset, 16, 2);
BENCHMARK_CAPTURE(BoxFill, 32_NOBLEND, 1, 0);
BENCHMARK_CAPTURE(BoxFill, 16_NOBLEND, 0, 0);
BENCHMARK_CAPTURE(BoxFill, 32_ALPHA, 1, 1);
BENCHMARK_CAPTURE(BoxFill, 16_ALPHA, 0, 1);
BENCHMARK_CAPTURE(Stretch, 32_NOBLEND_x2, 1, 0, 1, 2);
BENCHMARK_CAPTURE(Stretch, 16_NOBLEND_x2, 0, 0, 1, 2);
BENCHMARK_CAPTURE(Stretch, 32_NOBLEND_half, 1, 0, 2, 1);
BENCHMARK_CAPTURE(Stretch, 16_NOBLEND_half, 0, 0, 2, 1);
BENCHMARK_CAPTURE(Stretch, 32_ALPHA_x2, 1, 1, 1, 2);
BENCHMARK_CAPTURE(Stretch, 16_ALPHA_x2, 0, 1, 1, 2);
BENCHMARK_CAPTURE(Rota, 32_NOBLEND, 1, 0);
BENCHMARK_CAPTURE(Rota, 16_NOBLEND, 0, 0);
BENCHMARK_CAPTURE(Rota, 32_ALPHA, 1, 1);
BENCHMARK_CAPTURE(Rota, 16_ALPHA, 0, 1);
BENCHMARK_CAPTURE(Lines, 32_NOBLEND, 1, 0);
BENCHMARK_CAPTURE(Lines, 16_NOBLEND, 0, 0);
BENCHMARK_CAPTURE(Lines, 32_ALPHA, 1, 1);
BENCHMARK_CAPTURE(Lines, 16_ALPHA, 0, 1);
