// Surface fills and whole-image uploads at 640x480, beside a memset of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include <qzlib/image/baseimage.h>
#include <qzlib/soft/memimg.h>

namespace {

constexpr int kW = 640, kH = 480;

void BM_ClearMemImg(benchmark::State& state) {
  MEMIMG m{};
  MakeMemImg(&m, kW, kH, int(state.range(0)));
  for (auto _ : state) {
    ClearMemImg(&m, nullptr, 0x12345678);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
  TerminateMemImg(&m);
}
BENCHMARK(BM_ClearMemImg)->Arg(0)->Arg(1);

void BM_Memset(benchmark::State& state) {
  std::vector<uint8_t> buf(size_t(kW) * kH * size_t(state.range(0)));
  for (auto _ : state) {
    std::memset(buf.data(), 0x5A, buf.size());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}
BENCHMARK(BM_Memset)->Arg(2)->Arg(4);

// A whole upload of a 32-bit image with alpha: conversion, premultiplied plane and run map.
void BM_UploadWithAlpha(benchmark::State& state) {
  PIXELFORMAT f{};
  BuildPixelFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
  BASEIMAGE img{};
  CreateBaseImageOfFormat(kW, kH, &f, &img);
  uint32_t* p = static_cast<uint32_t*>(img.GraphData);
  for (int i = 0; i < kW * kH; ++i)
    p[i] = (i % 7 == 0 ? 0u : (i % 3 ? 0xFF000000u : 0x80000000u)) | uint32_t(i);
  MEMIMG m{};
  InitializeMemImg(&m, kW, kH, -1, 0, int(state.range(0)), 0, 1, 1, nullptr);
  for (auto _ : state) {
    BltBaseImageToMemImg(&img, nullptr, &m, 0, 0, kW, kH, 0, 0, 0);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
  TerminateMemImg(&m);
  ReleaseBaseImage(&img);
}
BENCHMARK(BM_UploadWithAlpha)->Arg(0)->Arg(1);

}  // namespace
