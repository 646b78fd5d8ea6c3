// The software drawers beside a peer 2-D library (pixman, when the build found it) and beside the
// physical bound (memcpy or memset of the same bytes or spans), measured in one binary so that
// every figure reads as a ratio taken in one run. Each work item has up to three benchmarks named
// "<work>/engine", "<work>/peer" and "<work>/bound"; scripts/bench_table.py prints them as a
// table. Items are destination pixels; 640 x 480 surfaces, 32-bit unless named 16. The texture
// stretch rows scale a model texture to the next powers of two (bilinear; A8R8G8B8, or 24-bit
// B, G, R bytes when named 24). An engine
// benchmark may carry a "target" counter: the ratio to the peer it is meant to reach.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bench/bench_surface.h"
#include <qzlib/base/draw_state.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/soft/polygon_walk.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/shapes.h>
#include <qzlib/soft/stretch_blit.h>

#ifdef ENGINE_BENCH_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int kW = 640, kH = 480;
constexpr int64_t kPixels = int64_t(kW) * kH;

void SetUpState(int mode, int param) {
  static const bool tables = (InitMemImgBlendTable(), true);
  (void)tables;
  DrawBlendMode = mode;
  DrawBlendParam = param;
  DrawBright = 0xFFFFFF;
  DrawArea = {0, 0, kW, kH};
}

template <class Body>
void Loop(benchmark::State& state, int64_t pixels, Body body) {
  for (auto _ : state) {
    body();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * pixels);
}

// ---- bounds -----------------------------------------------------------------------------------

void BoundMemcpy(benchmark::State& state, int bpp) {
  std::vector<uint8_t> a(size_t(kPixels) * bpp, 1), b(size_t(kPixels) * bpp, 2);
  Loop(state, kPixels, [&] { std::memcpy(a.data(), b.data(), a.size()); });
}
// ---- engine -----------------------------------------------------------------------------------

void EngineBox(benchmark::State& state, int format, int mode, int p) {
  BenchSurface dst(kW, kH, format, 1);
  SetUpState(mode, p);
  uint32_t c = 0x00336699u;
  Loop(state, kPixels, [&] { DrawFillBoxMemImg(&dst.img, nullptr, c += 0x01030507u); });
}

// A (kW * num / den) x (kH * num / den) source stretched over the whole destination.
void EngineStretch(benchmark::State& state, int mode, int num, int den) {
  BenchSurface dst(kW, kH, 1, 1), src(kW * num / den, kH * num / den, 1, 2);
  SetUpState(mode, 128);
  RECT r{0, 0, kW, kH};
  Loop(state, kPixels, [&] { DrawExtendMemImg(&dst.img, &src.img, &r, 0, nullptr); });
}

constexpr float kAngle = 0.5235988f, kScale = 1.5f;
void EngineRota(benchmark::State& state, int mode) {
  BenchSurface dst(kW, kH, 1, 1), src(kW, kH, 1, 2);
  SetUpState(mode, 128);
  Loop(state, kPixels, [&] {
    DrawRotaMemImg(&dst.img, &src.img, kW / 2, kH / 2, kAngle, kScale, 0, 0, nullptr);
  });
}

void EnginePlain(benchmark::State& state, int format, int mode, int p) {
  BenchSurface dst(kW, kH, format, 1), src(kW, kH, format, 2);
  SetUpState(mode, p);
  Loop(state, kPixels, [&] { DrawMemImg(&dst.img, &src.img, 0, 0, 0, nullptr); });
}

// A texture of srcW x srcH random pixels stretched bilinearly over a destW x destH image of the
// same format: A8R8G8B8, or B8G8R8 (bytes B, G, R) when bgr24.
void EngineTextureStretch(benchmark::State& state, int srcW, int srcH, int destW, int destH,
                          bool bgr24 = false) {
  PIXELFORMAT format{};
  BuildPixelFormatFromMasks(&format, bgr24 ? 24 : 32, 0xFF0000, 0xFF00, 0xFF, bgr24 ? 0 : 0xFF000000u);
  BASEIMAGE src, dst;
  if (CreateBaseImageOfFormat(srcW, srcH, &format, &src) != 0 ||
      CreateBaseImageOfFormat(destW, destH, &format, &dst) != 0)
    std::abort();
  std::mt19937 rng(77);
  for (size_t i = 0; i < size_t(src.Pitch) * srcH; ++i) static_cast<uint8_t*>(src.GraphData)[i] = uint8_t(rng());
  Loop(state, int64_t(destW) * destH, [&] {
    if (BltBaseImageStretch(0, 0, srcW, srcH, &src, 0, 0, destW, destH, &dst, 1) != 0) std::abort();
  });
  state.counters["target"] = 1.0;
  ReleaseBaseImage(&src);
  ReleaseBaseImage(&dst);
}

// 1,000 filled circles of radius 1 to 100; the bound is a memset of exactly the spans they cover.
struct Span {
  int row, x, n;
};
struct Circle {
  int x, y, r;
};
const std::vector<Circle>& Circles() {
  static const std::vector<Circle> v = [] {
    std::mt19937 rng(555);
    std::vector<Circle> c;
    for (int i = 0; i < 1000; ++i) {
      const int r = 1 + int(rng() % 100u);
      c.push_back({int(rng() % kW), int(rng() % kH), r});
    }
    return c;
  }();
  return v;
}
const std::vector<Span>& CircleSpans() {
  static const std::vector<Span> v = [] {
    BenchSurface s(kW, kH, 1, 1);
    SetUpState(BLENDMODE::NOBLEND, 255);
    std::vector<Span> out;
    for (const Circle& c : Circles()) {
      ClearMemImg(&s.img, nullptr, 0);
      DrawCircleMemImg(&s.img, c.x, c.y, c.r, 1, 1);
      for (int y = std::max(0, c.y - c.r); y <= std::min(kH - 1, c.y + c.r); ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(s.img.Pixels + size_t(y) * s.img.Base->Pitch);
        int x = 0;
        while (x < kW && !row[x]) ++x;
        int x1 = x;
        while (x1 < kW && row[x1]) ++x1;
        if (x1 > x) out.push_back({y, x, x1 - x});
      }
    }
    return out;
  }();
  return v;
}
int64_t CirclePixels() {
  int64_t n = 0;
  for (const Span& s : CircleSpans()) n += s.n;
  return n;
}
void EngineCircles(benchmark::State& state, int format, int mode) {
  BenchSurface dst(kW, kH, format, 1);
  SetUpState(mode, 128);
  const uint32_t colour = format == 1 ? 0x00336699u : 0x3333u;
  Loop(state, CirclePixels(), [&] {
    for (const Circle& c : Circles()) DrawCircleMemImg(&dst.img, c.x, c.y, c.r, colour, 1);
  });
}
void BoundCircles(benchmark::State& state, int format) {
  BenchSurface dst(kW, kH, format, 1);
  const int bpp = MemImgBytesPerPixel(&dst.img);
  Loop(state, CirclePixels(), [&] {
    for (const Span& s : CircleSpans())
      std::memset(dst.img.Pixels + size_t(s.row) * dst.img.Base->Pitch + size_t(s.x) * bpp, 0x5A,
                  size_t(s.n) * bpp);
  });
}

// 10,000 flat triangles of about 30 x 30 pixels; the bound is a memset of their spans.
const std::vector<MemImgVertex>& Triangles() {
  static const std::vector<MemImgVertex> v = [] {
    std::mt19937 rng(12345);
    auto r = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
    std::vector<MemImgVertex> t;
    for (int i = 0; i < 10000; ++i) {
      const int x = r(0, kW - 34), y = r(0, kH - 34);
      t.push_back({x + r(0, 3), y + r(0, 3), 0, 0});
      t.push_back({x + 30 + r(0, 3), y + r(0, 3), 0, 0});
      t.push_back({x + r(0, 3), y + 30 + r(0, 3), 0, 0});
    }
    return t;
  }();
  return v;
}
template <class Fn>
void ForEachTriangleSpan(Fn fn) {
  const RECT area{0, 0, kW, kH};
  const auto& t = Triangles();
  for (size_t i = 0; i < t.size(); i += 3) {
    PolygonSetup s;
    if (SetUpPolygon(&t[i], false, &s)) WalkPolygon(s, area, fn);
  }
}
int64_t TrianglePixels() {
  static const int64_t n = [] {
    int64_t k = 0;
    ForEachTriangleSpan([&](int32_t, int32_t, int32_t count) { k += count; });
    return k;
  }();
  return n;
}
void EngineTriangles(benchmark::State& state, int format, int mode) {
  BenchSurface dst(kW, kH, format, 1);
  SetUpState(mode, 128);
  const uint32_t colour = format == 1 ? 0x00336699u : 0x3333u;
  const auto& t = Triangles();
  Loop(state, TrianglePixels(), [&] {
    for (size_t i = 0; i < t.size(); i += 3) DrawPolygonMemImg(&dst.img, nullptr, &t[i], 0, nullptr, colour);
  });
}
void BoundTriangles(benchmark::State& state, int format) {
  BenchSurface dst(kW, kH, format, 1);
  const int bpp = MemImgBytesPerPixel(&dst.img);
  Loop(state, TrianglePixels(), [&] {
    ForEachTriangleSpan([&](int32_t y, int32_t x, int32_t count) {
      std::memset(dst.img.Pixels + size_t(y) * dst.img.Base->Pitch + size_t(x) * bpp, 0x5A,
                  size_t(count) * bpp);
    });
  });
}

// ---- peer ---------------------------------------------------------------------------------------

#ifdef ENGINE_BENCH_PIXMAN
struct PixImage {
  std::vector<uint32_t> bits;
  pixman_image_t* img;
  PixImage(pixman_format_code_t f, int w, int h, uint32_t seed) {
    const int stride = ((w * PIXMAN_FORMAT_BPP(f) / 8) + 3) & ~3;
    bits.resize(size_t(stride / 4) * h);
    std::mt19937 rng(seed);
    for (auto& b : bits) b = rng();
    img = pixman_image_create_bits(f, w, h, bits.data(), stride);
  }
  ~PixImage() { pixman_image_unref(img); }
};
pixman_image_t* Solid(uint16_t a) {
  pixman_color_t c{uint16_t(0x3333 * a / 0xFFFF), uint16_t(0x6666 * a / 0xFFFF),
                   uint16_t(0x9999 * a / 0xFFFF), a};
  return pixman_image_create_solid_fill(&c);
}

// OVER with a solid translucent source: the box.
void PeerBox(benchmark::State& state) {
  PixImage dst(PIXMAN_x8r8g8b8, kW, kH, 1);
  pixman_image_t* src = Solid(0x8080);
  Loop(state, kPixels, [&] {
    pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst.img, 0, 0, 0, 0, 0, 0, kW, kH);
  });
  pixman_image_unref(src);
}

// The source's pixels mapped onto the destination by `t` (nearest), op SRC or OVER under a
// constant mask of 128.
void PeerTransformed(benchmark::State& state, int srcW, int srcH, const pixman_transform_t& t, bool blend,
                     pixman_format_code_t fmt = PIXMAN_x8r8g8b8) {
  PixImage dst(fmt, kW, kH, 1), src(fmt, srcW, srcH, 2);
  pixman_image_set_transform(src.img, &t);
  pixman_image_set_filter(src.img, PIXMAN_FILTER_NEAREST, nullptr, 0);
  pixman_image_t* mask = blend ? Solid(0x8080) : nullptr;
  Loop(state, kPixels, [&] {
    pixman_image_composite32(blend ? PIXMAN_OP_OVER : PIXMAN_OP_SRC, src.img, mask, dst.img, 0, 0,
                             0, 0, 0, 0, kW, kH);
  });
  if (mask) pixman_image_unref(mask);
}
void PeerScale(benchmark::State& state, bool blend, int num, int den) {
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_int_to_fixed(num) / den, pixman_int_to_fixed(num) / den);
  PeerTransformed(state, kW * num / den, kH * num / den, t, blend);
}
void PeerRota(benchmark::State& state, bool blend) {
  // Destination to source: move the centre to the origin, turn back, scale down, move to the
  // source's centre.
  pixman_f_transform_t f;
  pixman_f_transform_init_translate(&f, -kW / 2.0, -kH / 2.0);
  pixman_f_transform_rotate(&f, nullptr, std::cos(-double(kAngle)), std::sin(-double(kAngle)));
  pixman_f_transform_scale(&f, nullptr, 1.0 / kScale, 1.0 / kScale);
  pixman_f_transform_translate(&f, nullptr, kW / 2.0, kH / 2.0);
  pixman_transform_t t;
  pixman_transform_from_pixman_f_transform(&t, &f);
  PeerTransformed(state, kW, kH, t, blend);
}

// The same texture stretch: SRC, bilinear, pad repeat, pixel centres aligned.
void PeerTextureStretch(benchmark::State& state, int srcW, int srcH, int destW, int destH,
                        bool bgr24 = false) {
  const pixman_format_code_t f = bgr24 ? PIXMAN_r8g8b8 : PIXMAN_a8r8g8b8;
  PixImage dst(f, destW, destH, 1), src(f, srcW, srcH, 2);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(double(srcW) / destW),
                              pixman_double_to_fixed(double(srcH) / destH));
  pixman_image_set_transform(src.img, &t);
  pixman_image_set_filter(src.img, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  pixman_image_set_repeat(src.img, PIXMAN_REPEAT_PAD);
  Loop(state, int64_t(destW) * destH, [&] {
    pixman_image_composite32(PIXMAN_OP_SRC, src.img, nullptr, dst.img, 0, 0, 0, 0, 0, 0, destW, destH);
  });
}

// A whole-surface composite of a source onto the destination, optionally under a constant mask.
void PeerPlain(benchmark::State& state, pixman_format_code_t fmt, pixman_op_t op, int maskA) {
  PixImage dst(fmt, kW, kH, 1), src(fmt, kW, kH, 2);
  pixman_image_t* mask = maskA >= 0 ? Solid(uint16_t(maskA * 0x101)) : nullptr;
  Loop(state, kPixels, [&] {
    pixman_image_composite32(op, src.img, mask, dst.img, 0, 0, 0, 0, 0, 0, kW, kH);
  });
  if (mask) pixman_image_unref(mask);
}
#endif

}  // namespace

// Box
BENCHMARK_CAPTURE(EngineBox, box_ALPHA_p128/engine, 1, BLENDMODE::ALPHA, 128);
BENCHMARK_CAPTURE(EngineBox, box_INVSRC_p128/engine, 1, BLENDMODE::INVSRC, 128);
BENCHMARK_CAPTURE(EngineBox, box_MULA_p128/engine, 1, BLENDMODE::MULA, 128);
BENCHMARK_CAPTURE(BoundMemcpy, box_ALPHA_p128/bound, 4);
BENCHMARK_CAPTURE(BoundMemcpy, box_INVSRC_p128/bound, 4);
BENCHMARK_CAPTURE(BoundMemcpy, box_MULA_p128/bound, 4);
BENCHMARK_CAPTURE(EngineBox, box16_ALPHA_p128/engine, 0, BLENDMODE::ALPHA, 128);
BENCHMARK_CAPTURE(BoundMemcpy, box16_ALPHA_p128/bound, 2);
// Stretch
BENCHMARK_CAPTURE(EngineStretch, stretch_x2_NOBLEND/engine, BLENDMODE::NOBLEND, 1, 2);
BENCHMARK_CAPTURE(EngineStretch, stretch_half_NOBLEND/engine, BLENDMODE::NOBLEND, 2, 1);
BENCHMARK_CAPTURE(EngineStretch, stretch_x2_ALPHA_p128/engine, BLENDMODE::ALPHA, 1, 2);
BENCHMARK_CAPTURE(BoundMemcpy, stretch_x2_NOBLEND/bound, 4);
BENCHMARK_CAPTURE(BoundMemcpy, stretch_half_NOBLEND/bound, 4);
BENCHMARK_CAPTURE(BoundMemcpy, stretch_x2_ALPHA_p128/bound, 4);
// Rotation
BENCHMARK_CAPTURE(EngineRota, rota30_x1.5_NOBLEND/engine, BLENDMODE::NOBLEND);
BENCHMARK_CAPTURE(EngineRota, rota30_x1.5_ALPHA_p128/engine, BLENDMODE::ALPHA);
BENCHMARK_CAPTURE(BoundMemcpy, rota30_x1.5_NOBLEND/bound, 4);
BENCHMARK_CAPTURE(BoundMemcpy, rota30_x1.5_ALPHA_p128/bound, 4);
// Plain blit
BENCHMARK_CAPTURE(EnginePlain, plain_ADD_p255/engine, 1, BLENDMODE::ADD, 255);
BENCHMARK_CAPTURE(BoundMemcpy, plain_ADD_p255/bound, 4);
BENCHMARK_CAPTURE(EnginePlain, plain16_ADD_p255/engine, 0, BLENDMODE::ADD, 255);
BENCHMARK_CAPTURE(EnginePlain, plain16_ALPHA_p200/engine, 0, BLENDMODE::ALPHA, 200);
BENCHMARK_CAPTURE(EnginePlain, plain16_SUB_p255/engine, 0, BLENDMODE::SUB, 255);
BENCHMARK_CAPTURE(BoundMemcpy, plain16_ADD_p255/bound, 2);
BENCHMARK_CAPTURE(BoundMemcpy, plain16_ALPHA_p200/bound, 2);
BENCHMARK_CAPTURE(BoundMemcpy, plain16_SUB_p255/bound, 2);
// Circles and flat triangles: the bound is a memset of the very spans drawn.
BENCHMARK_CAPTURE(EngineCircles, circles_NOBLEND/engine, 1, BLENDMODE::NOBLEND);
BENCHMARK_CAPTURE(EngineCircles, circles_ALPHA_p128/engine, 1, BLENDMODE::ALPHA);
BENCHMARK_CAPTURE(BoundCircles, circles_NOBLEND/bound, 1);
BENCHMARK_CAPTURE(BoundCircles, circles_ALPHA_p128/bound, 1);
BENCHMARK_CAPTURE(EngineTriangles, triangles_NOBLEND/engine, 1, BLENDMODE::NOBLEND);
BENCHMARK_CAPTURE(EngineTriangles, triangles_ALPHA_p128/engine, 1, BLENDMODE::ALPHA);
BENCHMARK_CAPTURE(BoundTriangles, triangles_NOBLEND/bound, 1);
BENCHMARK_CAPTURE(BoundTriangles, triangles_ALPHA_p128/bound, 1);
// Texture stretch to the next powers of two
BENCHMARK_CAPTURE(EngineTextureStretch, texture_2500_to_4096/engine, 2500, 2500, 4096, 4096)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EngineTextureStretch, texture_610x605_to_1024/engine, 610, 605, 1024, 1024);
BENCHMARK_CAPTURE(EngineTextureStretch, texture24_2500_to_4096/engine, 2500, 2500, 4096, 4096, true)->Unit(benchmark::kMillisecond);

#ifdef ENGINE_BENCH_PIXMAN
BENCHMARK(PeerBox)->Name("box_ALPHA_p128/peer");
BENCHMARK(PeerBox)->Name("box_INVSRC_p128/peer");
BENCHMARK(PeerBox)->Name("box_MULA_p128/peer");
BENCHMARK_CAPTURE(PeerScale, stretch_x2_NOBLEND/peer, false, 1, 2);
BENCHMARK_CAPTURE(PeerScale, stretch_half_NOBLEND/peer, false, 2, 1);
BENCHMARK_CAPTURE(PeerScale, stretch_x2_ALPHA_p128/peer, true, 1, 2);
BENCHMARK_CAPTURE(PeerRota, rota30_x1.5_NOBLEND/peer, false);
BENCHMARK_CAPTURE(PeerRota, rota30_x1.5_ALPHA_p128/peer, true);
BENCHMARK_CAPTURE(PeerPlain, plain_ADD_p255/peer, PIXMAN_a8r8g8b8, PIXMAN_OP_ADD, -1);
BENCHMARK_CAPTURE(PeerPlain, plain16_ADD_p255/peer, PIXMAN_r5g6b5, PIXMAN_OP_ADD, -1);
BENCHMARK_CAPTURE(PeerPlain, plain16_ALPHA_p200/peer, PIXMAN_r5g6b5, PIXMAN_OP_OVER, 200);
// pixman has no subtract operator: its ADD stands for the r5g6b5 subtract too.
BENCHMARK_CAPTURE(PeerPlain, plain16_SUB_p255/peer, PIXMAN_r5g6b5, PIXMAN_OP_ADD, -1);
BENCHMARK_CAPTURE(PeerTextureStretch, texture_2500_to_4096/peer, 2500, 2500, 4096, 4096)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PeerTextureStretch, texture_610x605_to_1024/peer, 610, 605, 1024, 1024);
BENCHMARK_CAPTURE(PeerTextureStretch, texture24_2500_to_4096/peer, 2500, 2500, 4096, 4096, true)->Unit(benchmark::kMillisecond);
#endif
