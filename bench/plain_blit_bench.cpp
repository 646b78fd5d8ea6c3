// The plain blit at 640 x 480 into 32-bit and 16-bit surfaces, every blend mode, beside a memcpy
// of the same bytes. Items are pixels.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/plain_blit.h>

namespace {

constexpr int kW = 640, kH = 480;

// A surface built by hand (the bench needs no creator): body, record and pixels.
struct Surface {
  MemImgBase base{};
  MEMIMG img{};
  PIXELFORMAT fmt{};
  std::vector<uint8_t> pixels, runMap;

  Surface(int format, bool alpha, uint32_t seed) {
    int bpp = format == 1 || alpha ? 4 : 2;
    fmt.ColorBitDepth = uint16_t(bpp * 8);
    fmt.PixelByte = uint16_t(bpp);
    base.UseCount = 1;
    base.Width = kW;
    base.Height = kH;
    base.Pitch = kW * bpp;
    base.PitchShift = -1;
    base.ColorFormat = &fmt;
    base.Format = format;
    base.AlphaFlag = alpha;
    base.UserPixels = 1;
    pixels.resize(size_t(base.Pitch) * kH);
    std::mt19937 rng(seed);
    for (auto& b : pixels) b = uint8_t(rng());
    base.Pixels = pixels.data();
    img = {MEMIMG_MAGIC, kW, kH, pixels.data(), nullptr, &base};
    if (alpha) {
      // A sprite: opaque disc, translucent rim, transparent outside.
      for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
          double r = std::hypot(x - kW / 2.0, y - kH / 2.0) / (kH / 2.0);
          uint32_t a = r < 0.8 ? 255 : r > 1.0 ? 0 : uint32_t((1.0 - r) / 0.2 * 254) + 1;
          uint8_t* p = pixels.data() + size_t(y) * base.Pitch + size_t(x) * 4;
          if (format == 1) p[3] = uint8_t(a);
          else p[2] = uint8_t(a);
        }
      BuildRunMap();
    }
  }
  void BuildRunMap() {
    runMap.assign(size_t(kW + 5) * kH, 0);
    uint8_t* out = runMap.data();
    for (int y = 0; y < kH; ++y) {
      const uint8_t* row = pixels.data() + size_t(y) * base.Pitch;
      auto kind = [&](int x) {
        uint8_t a = base.Format == 1 ? row[x * 4 + 3] : row[x * 4 + 2];
        return a == 0 ? 0 : a == 255 ? 1 : 2;
      };
      for (int x = 0; x < kW;) {
        int k = kind(x), n = 1;
        while (x + n < kW && n < 64 && kind(x + n) == k) ++n;
        *out++ = uint8_t(k << 6 | (n - 1));
        x += n;
      }
      *out++ = 192;
    }
    base.RunMap = runMap.data();
  }
};

void Memcpy(benchmark::State& state, int bpp) {
  std::vector<uint8_t> a(size_t(kW) * kH * bpp, 1), b(a.size(), 2);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
  state.SetBytesProcessed(state.iterations() * int64_t(a.size()));
}
BENCHMARK_CAPTURE(Memcpy, 32bit, 4);
BENCHMARK_CAPTURE(Memcpy, 16bit, 2);

void Blit(benchmark::State& state, int format, int mode, int param, bool alphaSrc, int trans,
          bool runMap) {
  InitMemImgBlendTable();
  Surface dst(format, false, 1), src(format, alphaSrc, 2);
  src.base.RunMapValid = runMap ? 1 : 0;
  if (!alphaSrc) src.base.TransColor = 0x12345678u & (format == 1 ? 0xFFFFFFFFu : 0xFFFFu);
  DrawBlendMode = mode;
  DrawBlendParam = param;
  DrawBright = 0xFFFFFF;
  MmxUsableFlag = 1;
  DrawArea = {0, 0, kW, kH};
  for (auto _ : state) {
    src.base.RunMapValid = runMap ? 1 : 0;
    DrawMemImg(&dst.img, &src.img, 0, 0, trans, nullptr);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kW * kH);
}

#define MODES(fmt, name)                                                      \
  BENCHMARK_CAPTURE(Blit, name##_NOBLEND, fmt, 0, 255, false, 0, false);      \
  BENCHMARK_CAPTURE(Blit, name##_NOBLEND_key, fmt, 0, 255, false, 1, false);  \
  BENCHMARK_CAPTURE(Blit, name##_ALPHA_p128, fmt, 1, 128, false, 0, false);   \
  BENCHMARK_CAPTURE(Blit, name##_ALPHA_p200, fmt, 1, 200, false, 0, false);   \
  BENCHMARK_CAPTURE(Blit, name##_ALPHA_alpha_pixels, fmt, 1, 200, true, 1, false); \
  BENCHMARK_CAPTURE(Blit, name##_ALPHA_alpha_runs, fmt, 1, 200, true, 1, true);    \
  BENCHMARK_CAPTURE(Blit, name##_ADD_p255, fmt, 2, 255, false, 0, false);     \
  BENCHMARK_CAPTURE(Blit, name##_ADD_p128, fmt, 2, 128, false, 0, false);     \
  BENCHMARK_CAPTURE(Blit, name##_SUB_p255, fmt, 3, 255, false, 0, false);     \
  BENCHMARK_CAPTURE(Blit, name##_SUB_p128, fmt, 3, 128, false, 0, false);     \
  BENCHMARK_CAPTURE(Blit, name##_MUL, fmt, 4, 255, false, 0, false);          \
  BENCHMARK_CAPTURE(Blit, name##_INVSRC, fmt, 10, 200, false, 0, false);      \
  BENCHMARK_CAPTURE(Blit, name##_MULA, fmt, 11, 200, false, 0, false);

MODES(1, 32bit)
MODES(0, 16bit)

}  // namespace
