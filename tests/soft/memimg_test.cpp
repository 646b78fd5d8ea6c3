// MEMIMG surfaces: creation rules, views, descriptors, fills, copies, uploads, run map and
// premultiplied plane.
#include <qzlib/soft/memimg.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include <qzlib/base/draw_state.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/test_support.h"

namespace {

class MemImgTest : public LeakCheckedTest {};
struct Made {
  MEMIMG img{};
  ~Made() { TerminateMemImg(&img); }
};

// A BASEIMAGE of the given masks, pixels and palette random from a seed.
struct TestImage {
  BASEIMAGE image{};
  TestImage(int w, int h, int depth, uint32_t a, uint32_t seed, uint32_t r = 0xFF0000) {
    PIXELFORMAT f{};
    BuildPixelFormatFromMasks(&f, depth, r, r == 0xF800 ? 0x07E0 : 0xFF00,
                              r == 0xF800 ? 0x1F : 0xFF, a);
    std::mt19937 rng(seed);
    for (auto& e : f.Palette) e = COLOR_U8{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    EXPECT_EQ(CreateBaseImageOfFormat(w, h, &f, &image), 0);
    for (int i = 0; i < image.Pitch * h; ++i)
      static_cast<uint8_t*>(image.GraphData)[i] = uint8_t(rng());
  }
  ~TestImage() { ReleaseBaseImage(&image); }
  uint8_t* at(int x, int y) {
    return static_cast<uint8_t*>(image.GraphData) + y * image.Pitch + x * image.ColorData.PixelByte;
  }
  uint32_t get(int x, int y) {
    uint32_t v = 0;
    std::memcpy(&v, at(x, y), image.ColorData.PixelByte);
    return v;
  }
  void set(int x, int y, uint32_t v) { std::memcpy(at(x, y), &v, image.ColorData.PixelByte); }
};

uint32_t Get(const uint8_t* pixels, const MEMIMG* m, int x, int y) {
  int bpp = m->Base->ColorFormat->PixelByte;
  uint32_t v = 0;
  std::memcpy(&v, pixels + int64_t(y) * m->Base->Pitch + x * bpp, bpp);
  return v;
}
uint32_t Get(const MEMIMG* m, int x, int y) { return Get(m->Pixels, m, x, y); }

// The run map decoded into one kind per pixel; checks each row's cover and where runs are cut.
std::vector<int> DecodeRunMap(const MemImgBase* b) {
  std::vector<int> kinds;
  const uint8_t* p = b->RunMap;
  for (int y = 0; y < b->Height; ++y) {
    int x = 0, lastKind = -1, lastLen = 0;
    for (uint8_t r; (r = *p++) != 192;) {
      int kind = r >> 6, len = (r & 63) + 1;
      EXPECT_TRUE(kind != lastKind || lastLen == 64) << "row " << y << " x " << x;
      kinds.insert(kinds.end(), len, kind);
      x += len, lastKind = kind, lastLen = len;
    }
    EXPECT_EQ(x, b->Width) << "row " << y;
  }
  return kinds;
}

}  // namespace

TEST_F(MemImgTest, CreationPitchShiftAndRefusals) {
  // width, format, pitch, alpha, palette -> pitch, shift
  const int cases[][7] = {
      {1, 0, -1, 0, 0, 16, -1},       {512, 1, -1, 0, 0, 2048, 11}, {640, 0, -1, 0, 0, 1280, -1},
      {4, 1, -1, 0, 0, 16, 4},        {1, 1, -1, 0, 0, 16, -1},     {200, 1, 1024, 0, 0, 1024, 10},
      {200, 1, 1000, 0, 0, 1000, -1}, {3, 0, -1, 1, 0, 16, 4},      {40, 1, -1, 0, 1, 48, -1},
      {16, 3, -1, 0, 0, 32, 5},       {1, 2, 1, 0, 0, 1, 0}};
  for (const auto& c : cases) {
    Made m;
    ASSERT_EQ(InitializeMemImg(&m.img, c[0], 2, c[2], 0, c[1], c[4], c[3], 0, nullptr), 0);
    EXPECT_EQ(m.img.Base->Pitch * 100 + m.img.Base->PitchShift, c[5] * 100 + c[6])
        << c[0] << " " << c[1];
  }
  Made m;  // sizes 1..32768, a caller pitch of at least bpp x width, formats 0..3
  const int refused[][4] = {{0, 4, -1, 1},  {4, -1, -1, 1}, {32769, 1, -1, 1}, {1, 32769, -1, 1},
                            {10, 1, 39, 1}, {10, 1, -5, 1}, {4, 4, -1, 4},     {4, 4, -1, -1}};
  for (const auto& c : refused)
    EXPECT_EQ(InitializeMemImg(&m.img, c[0], c[1], c[2], 0, c[3], 0, 0, 0, nullptr), -1) << c[0];
  ASSERT_EQ(InitializeMemImg(&m.img, 32768, 1, 131072, 0, 1, 0, 0, 0, nullptr), 0);
  EXPECT_EQ(InitializeMemImg(&m.img, 4, 4, -1, 0, 1, 0, 0, 0, nullptr), -1);  // still valid
  EXPECT_EQ(MakeMemImg(&m.img, 4, 4, 1), -1);
  // A palette forces alpha off, formats 2 and 3 force both off; format 2 has no run map.
  Made p, s2, s3;
  ASSERT_EQ(InitializeMemImg(&p.img, 4, 4, -1, 7, 1, 1, 1, 1, nullptr), 0);
  EXPECT_EQ(p.img.Base->PaletteFlag * 10 + p.img.Base->AlphaFlag, 10);
  EXPECT_EQ(p.img.Base->PaletteCopy, p.img.Base->Palette + 1024);
  EXPECT_EQ(p.img.Base->ColorFormat->PixelByte, 1);
  EXPECT_EQ(std::vector<uint8_t>(p.img.Base->Palette, p.img.Base->Palette + 2048),
            std::vector<uint8_t>(2048));
  ASSERT_EQ(InitializeMemImg(&s2.img, 4, 4, -1, 0, 2, 1, 1, 1, nullptr), 0);
  ASSERT_EQ(InitializeMemImg(&s3.img, 4, 4, -1, 0, 3, 0, 1, 1, nullptr), 0);
  EXPECT_EQ(s2.img.Base->PaletteFlag + s2.img.Base->AlphaFlag + s3.img.Base->AlphaFlag, 0);
  EXPECT_TRUE(s2.img.Base->RunMap == nullptr && s3.img.Base->RunMap != nullptr);
  // MakeMemImg: the screen's format for -1, an invalid record cleared first.
  SetGraphMode(640, 480, 16);
  Made a, b;
  b.img.Pixels = reinterpret_cast<uint8_t*>(1);
  ASSERT_EQ(MakeMemImg(&b.img, 3, 3, -1), 0);
  SetGraphMode(640, 480, 32);
  ASSERT_EQ(MakeMemImg(&a.img, 3, 3, -1), 0);
  EXPECT_EQ(b.img.Base->Format * 10 + a.img.Base->Format, 1);
  EXPECT_EQ(a.img.Base->RunMap, nullptr);
}

TEST_F(MemImgTest, EveryAllocationFailureLeavesNothing) {
  for (int kind = 0; kind < 3; ++kind) {
    int points = ForEachAllocationFailure([&] {
      MEMIMG m{};
      int r = kind == 0   ? InitializeMemImg(&m, 8, 8, -1, 0, 1, 1, 0, 1, nullptr)  // palette
              : kind == 1 ? InitializeMemImg(&m, 8, 8, -1, 0, 0, 0, 1, 1, nullptr)  // alpha
                          : MakeMemImg(&m, 8, 8, 1);
      EXPECT_EQ(m.Magic, r == 0 ? MEMIMG_MAGIC : 0u);
      TerminateMemImg(&m);
      return r == 0;
    });
    EXPECT_EQ(points, kind == 2 ? 2 : 4) << "kind " << kind;
  }
}

TEST_F(MemImgTest, ViewsShareTheBody) {
  Made whole, plain;
  ASSERT_EQ(InitializeMemImg(&whole.img, 20, 10, -1, 0, 1, 0, 1, 1, nullptr), 0);
  ASSERT_EQ(MakeMemImg(&plain.img, 20, 10, 1), 0);
  MEMIMG v1{}, v2{}, v3{}, bad{};
  const int32_t pitch = whole.img.Base->Pitch;
  DerivationMemImg(&v1, &whole.img, 3, 2, 10, 5);
  DerivationMemImg(&v2, &v1, 1, 1, 9, 4);  // a view of a view, reaching its edge
  DerivationMemImg(&v3, &plain.img, 0, 0, 20, 10);
  EXPECT_EQ(v1.Pixels - whole.img.Pixels, 2 * pitch + 12);
  EXPECT_EQ(v1.PremulPixels - whole.img.PremulPixels, 2 * pitch + 12);
  EXPECT_EQ(v2.Pixels - whole.img.Pixels, 3 * pitch + 16);
  EXPECT_EQ(v3.PremulPixels, nullptr);
  for (auto [x, y, w, h] : std::vector<std::array<int, 4>>{
           {1, 1, 10, 4}, {-1, 0, 2, 2}, {0, 0, -1, 2}, {0, 0x7FFFFFFF, 1, 1}})
    DerivationMemImg(&bad, &v1, x, y, w, h);
  DerivationMemImg(&bad, &bad, 0, 0, 1, 1);       // invalid source
  DerivationMemImg(&v3, &whole.img, 0, 0, 1, 1);  // valid target
  EXPECT_EQ(bad.Magic, 0u);
  EXPECT_EQ(v3.Base, plain.img.Base);
  MemImgBase* body = whole.img.Base;
  EXPECT_EQ(body->UseCount, 3);
  TerminateMemImg(&whole.img);  // the first view goes, the body stays
  EXPECT_TRUE(whole.img.Magic == 0 && whole.img.Base == nullptr && body->UseCount == 2);
  ClearMemImg(&v2, nullptr, 0x11223344);
  EXPECT_EQ(Get(&v1, 1, 1), 0x11223344u);
  for (MEMIMG* v : {&v1, &v1, &v2, &v3}) TerminateMemImg(v);
}

TEST_F(MemImgTest, SharedPixelFormats) {
  // format, alpha, palette -> depth, bytes, red mask, alpha mask (palettised ones keep it too)
  const uint32_t cases[][7] = {{0, 0, 0, 16, 2, 0xF800, 0},
                               {0, 1, 0, 32, 4, 0xF800, 0xFF0000},
                               {0, 1, 1, 8, 1, 0xF800, 0xFF0000},
                               {1, 0, 1, 8, 1, 0xFF0000, 0},
                               {1, 1, 0, 32, 4, 0xFF0000, 0xFF000000},
                               {2, 1, 1, 8, 1, 255, 255},
                               {3, 0, 0, 16, 2, 65535, 65535}};
  for (const auto& c : cases) {
    const PIXELFORMAT* f = GetMemImgPixelFormat(c[0], c[1], c[2]);
    ASSERT_EQ(f, GetMemImgPixelFormat(c[0], c[1], c[2]));
    EXPECT_EQ(std::vector<uint32_t>({f->ColorBitDepth, f->PixelByte, f->RedMask, f->AlphaMask}),
              std::vector<uint32_t>({c[3], c[4], c[5], c[6]}))
        << c[0] << c[1] << c[2];
  }
  EXPECT_EQ(GetMemImgPixelFormat(2, 0, 0), GetMemImgPixelFormat(2, 1, 1));
  EXPECT_TRUE(GetMemImgPixelFormat(4, 0, 0) == nullptr &&
              GetMemImgPixelFormat(-1, 0, 0) == nullptr);
}

TEST_F(MemImgTest, ClearAndBltMatchTheModelInsideGuards) {
  const SurfaceDesc specs[] = {{13, 9, 1},       {13, 9, 0}, {13, 9, 0, false, true},
                               {13, 9, 1, true}, {13, 9, 2}, {13, 9, 3}};
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    auto c = [&] { return int(rng() % 28) - 8; };
    bool blt = seed % 2, whole = seed % 7 == 0;
    GuardedSurface dst(
        blt ? SurfaceDesc{c() + 14, c() + 14, int(seed % 4 / 2)} : specs[seed / 2 % 6], seed);
    GuardedSurface src({c() + 14, c() + 14, int(seed % 4 / 2)}, seed + 99);
    if (blt)
      dst.base()->ColorFormat = src.base()->ColorFormat = GetMemImgPixelFormat(seed % 4 / 2, 0, 0);
    RECT r = {c(), c(), c(), c()};
    int x = c(), y = c(), bpp = dst.bytesPerPixel();
    uint32_t color = rng();
    dst.base()->RunMapValid = dst.base()->PremulValid = 1;
    std::vector<uint8_t> before = dst.Snapshot();
    if (blt)
      EXPECT_GE(BltMemImg(dst.img(), src.img(), whole ? nullptr : &r, x, y), 0);
    else
      ClearMemImg(dst.img(), whole ? nullptr : &r, color);
    ASSERT_TRUE(dst.CheckGuards()) << "seed " << seed;
    // Model: the rectangle, edges ordered as RectClipping does (Clear) or clipped to the source
    // (Blt).
    RECT s = whole ? RECT{0, 0, blt ? src.img()->Width : 99, blt ? src.img()->Height : 99} : r;
    s.right = std::max(s.right, s.left), s.bottom = std::max(s.bottom, s.top);
    if (!blt) x = s.left, y = s.top;
    bool any = false;
    for (int dy = 0; dy < dst.img()->Height; ++dy)
      for (int dx = 0; dx < dst.img()->Width; ++dx) {
        int sx = dx - x + s.left, sy = dy - y + s.top;
        bool hit = sx >= std::max<int>(s.left, 0) && sx < s.right &&
                   sy >= std::max<int>(s.top, 0) && sy < s.bottom &&
                   (!blt || (sx < src.img()->Width && sy < src.img()->Height));
        uint32_t want = 0;
        std::memcpy(&want, &before[(dy * dst.img()->Width + dx) * bpp], bpp);
        if (hit) want = blt ? src.get(sx, sy) : (bpp == 4 ? color : color & ((1u << bpp * 8) - 1));
        any |= hit;
        ASSERT_EQ(dst.get(dx, dy), want) << "seed " << seed << " at " << dx << "," << dy;
      }
    EXPECT_EQ(dst.base()->RunMapValid + dst.base()->PremulValid, any ? 0 : 2) << "seed " << seed;
  }
}

TEST_F(MemImgTest, WholeUploadsBuildRunMapAndPremultipliedPlane) {
  for (int format = 0; format < 2; ++format) {
    // Alpha 0, 255 and between in stretches longer than 64; row 1 starts with 100 transparent
    // pixels.
    TestImage src(150, 3, 32, format ? 0xFF000000 : 0xFF0000, 5 + format,
                  format ? 0xFF0000 : 0xF800);
    const int as = format ? 24 : 16;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 150; ++x) {
        uint32_t a = y != 1    ? src.get(x, y) >> as & 255
                     : x < 100 ? 0
                     : x < 120 ? 255
                     : x < 140 ? 1 + x
                               : 254;
        src.set(x, y, (src.get(x, y) & ~(255u << as)) | a << as);
      }
    Made m;
    ASSERT_EQ(InitializeMemImg(&m.img, 150, 3, -1, 0, format, 0, 1, 1, nullptr), 0);
    ASSERT_GE(BltBaseImageToMemImg(&src.image, nullptr, &m.img, 0, 0, 150, 3, 0, 0, 0), 0);
    MemImgBase* b = m.img.Base;
    EXPECT_EQ(b->RunMapValid + b->PremulValid, 2);
    std::vector<int> kinds = DecodeRunMap(b);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 150; ++x) {
        uint32_t v = Get(&m.img, x, y), a = v >> as & 255,
                 p = Get(m.img.PremulPixels, &m.img, x, y), want;
        ASSERT_EQ(v, src.get(x, y));
        ASSERT_EQ(kinds[y * 150 + x], a == 0 ? 0 : (a == 255 ? 1 : 2)) << x << "," << y;
        if (format)
          want = (v & 255) * a >> 8 | ((v >> 8 & 255) * a >> 8) << 8 |
                 ((v >> 16 & 255) * a >> 8) << 16 | a << 24;
        else
          want = (v & 0xFFFF0000) | ((v >> 11 & 31) * a >> 8) << 11 |
                 ((v >> 5 & 63) * a >> 8) << 5 | ((v & 31) * a >> 8);
        ASSERT_EQ(p, want) << x << "," << y;
      }
    const uint8_t* row1 = std::find(b->RunMap, b->RunMap + 155 * 3, 192) + 1;
    EXPECT_EQ(std::vector<int>(row1, row1 + 3), std::vector<int>({63, 35, 0x40 | 19}));
    // A partial upload leaves both invalid, so a later blit takes the per-pixel path.
    ASSERT_GE(BltBaseImageToMemImg(&src.image, nullptr, &m.img, 0, 0, 10, 3, 0, 0, 0), 0);
    EXPECT_EQ(b->RunMapValid + b->PremulValid, 0);
  }
  // Without alpha the whole pixel is compared with the key, fourth byte included.
  TestImage x32(70, 2, 32, 0, 8);
  for (int x = 0; x < 70; x += 2) x32.set(x, 0, 0x00123456);
  Made k;
  for (uint32_t key : {0x00123456u, 0xFF123456u}) {
    TerminateMemImg(&k.img);
    ASSERT_EQ(InitializeMemImg(&k.img, 70, 2, -1, key, 1, 0, 0, 1, nullptr), 0);
    ASSERT_GE(BltBaseImageToMemImg(&x32.image, nullptr, &k.img, 0, 0, 70, 2, 0, 0, 0), 0);
    std::vector<int> kinds = DecodeRunMap(k.img.Base);
    for (int i = 0; i < 140; ++i)
      ASSERT_EQ(kinds[i], Get(&k.img, i % 70, i / 70) == key ? 0 : 1) << i;
    EXPECT_EQ(kinds[0], key == 0x00123456u ? 0 : 1);
  }
}

TEST_F(MemImgTest, PalettisedUploadsTakePaletteAndCount) {
  for (int format = 0; format < 2; ++format) {
    TestImage src(20, 5, 8, 0, 11 + format);
    for (int i = 0; i < 100; ++i) src.set(i % 20, i / 20, (i * 7) % 40);
    Made m;
    ASSERT_EQ(InitializeMemImg(&m.img, 20, 5, -1, 3, format, 1, 0, 1, nullptr), 0);
    int r = BltBaseImageToMemImg(&src.image, nullptr, &m.img, 0, 0, 20, 5, 0, 0, 0);
    MemImgBase* b = m.img.Base;
    EXPECT_EQ(b->PaletteCount * 100 + r, 4039);
    for (int i = 0; i < 256; ++i) {
      const COLOR_U8& e = src.image.ColorData.Palette[i];
      uint32_t v = 0;
      std::memcpy(&v, b->Palette + i * (format ? 4 : 2), format ? 4 : 2);
      ASSERT_EQ(v, format ? uint32_t(e.b | e.g << 8 | e.r << 16)
                          : uint32_t((e.r & 0xF8) << 8 | (e.g & 0xFC) << 3 | e.b >> 3))
          << i;
    }
    EXPECT_EQ(std::memcmp(b->Palette, b->PaletteCopy, format ? 1024 : 512), 0);
    std::vector<int> kinds = DecodeRunMap(b);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(kinds[i], (i * 7) % 40 == 3 ? 0 : 1) << i;
  }
}

TEST_F(MemImgTest, UploadsClipAndOnlyWholeBodiesBecomeValid) {
  TestImage src(10, 8, 32, 0, 21);
  GuardedSurface dst({12, 6, 1}, 3);
  dst.base()->ColorFormat = GetMemImgPixelFormat(1, 0, 0);
  std::vector<uint8_t> before = dst.Snapshot();
  ASSERT_GE(BltBaseImageToMemImg(&src.image, nullptr, dst.img(), -3, 4, 20, 20, 7, -2, 0), 0);
  ASSERT_TRUE(dst.CheckGuards());
  for (int i = 0; i < 72; ++i) {
    int x = i % 12, y = i / 12;  // destination (10, 0) shows source (0, 6)
    uint32_t old;
    std::memcpy(&old, &before[i * 4], 4);
    ASSERT_EQ(dst.get(x, y), x >= 10 && y < 2 ? src.get(x - 10, y + 6) : old) << x << "," << y;
  }
  // A whole view that is part of its body, and a body without acceleration buffers, stay invalid.
  Made body, plain;
  ASSERT_EQ(InitializeMemImg(&body.img, 20, 20, -1, 0, 1, 0, 0, 1, nullptr), 0);
  MEMIMG view{};
  DerivationMemImg(&view, &body.img, 2, 2, 10, 8);
  ASSERT_GE(BltBaseImageToMemImg(&src.image, nullptr, &view, 0, 0, 10, 8, 0, 0, 0), 0);
  EXPECT_EQ(Get(&body.img, 2, 2), src.get(0, 0));
  TerminateMemImg(&view);
  ASSERT_EQ(MakeMemImg(&plain.img, 10, 8, 1), 0);
  ASSERT_GE(BltBaseImageToMemImg(&src.image, nullptr, &plain.img, 0, 0, 10, 8, 0, 0, 0), 0);
  EXPECT_EQ(body.img.Base->RunMapValid + plain.img.Base->RunMapValid, 0);
  // Single channel: grey levels; an alpha image's blue becomes the alpha; a failed conversion
  // returns.
  TestImage alpha(10, 8, 32, 0, 22);
  Made s, a, p;
  for (int x = 0; x < 6; ++x) src.set(x, 0, 0x010101u * (x * 40));
  ASSERT_EQ(InitializeMemImg(&s.img, 6, 4, -1, 0, 2, 0, 0, 1, nullptr), 0);
  EXPECT_EQ(BltBaseImageToMemImg(&src.image, nullptr, &s.img, 0, 0, 6, 4, 0, 0, 0), 0);
  for (int x = 0; x < 6; ++x) EXPECT_EQ(Get(&s.img, x, 0), uint32_t(x * 40));
  ASSERT_EQ(InitializeMemImg(&a.img, 10, 8, -1, 0, 1, 0, 1, 1, nullptr), 0);
  ASSERT_GE(BltBaseImageToMemImg(&src.image, &alpha.image, &a.img, 0, 0, 10, 8, 0, 0, 0), 0);
  for (int i = 0; i < 80; ++i)
    ASSERT_EQ(Get(&a.img, i % 10, i / 10),
              (src.get(i % 10, i / 10) & 0xFFFFFF) | (alpha.get(i % 10, i / 10) & 255) << 24);
  ASSERT_EQ(InitializeMemImg(&p.img, 6, 4, -1, 0, 1, 1, 0, 1, nullptr), 0);
  EXPECT_LT(BltBaseImageToMemImg(&src.image, nullptr, &p.img, 0, 0, 6, 4, 0, 0, 0), 0);
}

// A palettised body copied into a direct-colour one takes its colours from the body's palette.
TEST_F(MemImgTest, BltFromPalettisedBodyUsesItsPalette) {
  for (int format = 0; format < 2; ++format) {
    Made pal, out;
    ASSERT_EQ(InitializeMemImg(&pal.img, 4, 1, -1, 0, format, 1, 0, 0, nullptr), 0);
    ASSERT_EQ(MakeMemImg(&out.img, 4, 1, format), 0);
    MemImgBase* b = pal.img.Base;
    const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0x102030};
    for (int i = 0; i < 4; ++i) {
      const uint32_t c = colours[i];
      if (format == 1) {
        std::memcpy(b->Palette + 4 * (10 + i), &c, 4);
      } else {
        const uint16_t v = uint16_t(((c >> 16) & 0xF8) << 8 | ((c >> 8) & 0xFC) << 3 | (c & 0xFF) >> 3);
        std::memcpy(b->Palette + 2 * (10 + i), &v, 2);
      }
      pal.img.Pixels[i] = uint8_t(10 + i);
    }
    ASSERT_GE(BltMemImg(&out.img, &pal.img, nullptr, 0, 0), 0);
    const uint32_t want32[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0x102030};
    const uint32_t want16[4] = {0xF800, 0x07E0, 0x001F, 0x1106};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(Get(&out.img, i, 0) & (format ? 0xFFFFFF : 0xFFFF), format ? want32[i] : want16[i])
          << "format " << format << " pixel " << i;
  }
}

TEST_F(MemImgTest, PremultipliedPlaneForOddPitches) {
  // A caller pitch need only hold the row: rows then start off 4-byte boundaries, and the plane
  // is built bytewise (a 32-bit load there was a misaligned access).
  for (int format = 0; format < 2; ++format)
    for (int pitch : {4 * 37 + 1, 4 * 37 + 2, 4 * 37 + 7}) {
      SCOPED_TRACE(pitch);
      TestImage src(37, 4, 32, format ? 0xFF000000 : 0xFF0000, 40 + pitch,
                    format ? 0xFF0000 : 0xF800);
      Made plain, odd;
      ASSERT_EQ(InitializeMemImg(&plain.img, 37, 4, -1, 0, format, 0, 1, 1, nullptr), 0);
      ASSERT_EQ(InitializeMemImg(&odd.img, 37, 4, pitch, 0, format, 0, 1, 1, nullptr), 0);
      ASSERT_GE(BltBaseImageToMemImg(&src.image, nullptr, &plain.img, 0, 0, 37, 4, 0, 0, 0), 0);
      ASSERT_GE(BltBaseImageToMemImg(&src.image, nullptr, &odd.img, 0, 0, 37, 4, 0, 0, 0), 0);
      ASSERT_EQ(odd.img.Base->PremulValid, 1);
      for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 37; ++x)
          ASSERT_EQ(Get(odd.img.PremulPixels, &odd.img, x, y),
                    Get(plain.img.PremulPixels, &plain.img, x, y))
              << x << "," << y;
    }
}
