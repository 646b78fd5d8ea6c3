// A surface for the benchmarks: made by the engine's own creator, filled with random pixels (and
// a random palette when palettised), released at the end.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <random>

#include <qzlib/soft/memimg.h>

struct BenchSurface {
  MEMIMG img{};

  BenchSurface(int w, int h, int format, uint32_t seed, bool palette = false) {
    if (InitializeMemImg(&img, w, h, -1, 0, format, palette ? 1 : 0, 0, 0, nullptr) != 0)
      std::abort();
    std::mt19937 rng(seed);
    const int rowBytes = w * MemImgBytesPerPixel(&img);
    for (int y = 0; y < h; ++y) {
      uint8_t* row = img.Pixels + size_t(y) * img.Base->Pitch;
      for (int i = 0; i < rowBytes; ++i) row[i] = uint8_t(rng());
    }
    if (palette) {
      for (int i = 0; i < 2048; ++i) img.Base->Palette[i] = uint8_t(rng());
      img.Base->PaletteCount = 256;
    }
  }
  BenchSurface(const BenchSurface&) = delete;
  BenchSurface& operator=(const BenchSurface&) = delete;
  ~BenchSurface() { TerminateMemImg(&img); }
};
