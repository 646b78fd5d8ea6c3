// Pixel formats and the converting blit, against a slow per-pixel model written from the
// channel rules (masks, widening by rounding, narrowing by dropping bits, DXT block rules).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <qzlib/image/baseimage.h>
#include "tests/support/test_support.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Formats under test
// ---------------------------------------------------------------------------------------------

struct FormatCase {
  const char* Name;
  int Depth;
  uint32_t R, G, B, A;
  int Dxt;  // 0, or a block kind (source only)
};

const FormatCase kFormats[] = {
    {"pal8", 8, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    {"565", 16, 0xF800, 0x07E0, 0x001F, 0, 0},
    {"x555", 16, 0x7C00, 0x03E0, 0x001F, 0, 0},
    {"1555", 16, 0x7C00, 0x03E0, 0x001F, 0x8000, 0},
    {"4444", 16, 0x0F00, 0x00F0, 0x000F, 0xF000, 0},
    {"231", 16, 0x30, 0x0E, 0x01, 0, 0},
    {"bgr24", 24, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    {"xrgb8", 32, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    {"argb8", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0},
    {"abgr8", 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, 0},
    {"a565", 32, 0xF800, 0x07E0, 0x001F, 0xFF0000, 0},
    {"a2r10g10b10", 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u, 0},
    {"single8", 8, 0xFF, 0xFF, 0xFF, 0xFF, 0},
    {"single16", 16, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0},
    {"dxt1", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 1},
    {"dxt3", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 3},
    {"dxt5", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 5},
};

PIXELFORMAT MakeFormat(const FormatCase& c, std::mt19937& rng) {
  PIXELFORMAT f;
  std::memset(&f, 0, sizeof(f));
  EXPECT_EQ(BuildPixelFormatFromMasks(&f, c.Depth, c.R, c.G, c.B, c.A), 0);
  f.DxtFormat = c.Dxt;
  for (auto& e : f.Palette) {
    e.b = static_cast<uint8_t>(rng());
    e.g = static_cast<uint8_t>(rng());
    e.r = static_cast<uint8_t>(rng());
    e.a = 0;
  }
  return f;
}

bool IsPal(const FormatCase& c) { return std::string(c.Name) == "pal8"; }
bool IsSingle(const FormatCase& c) { return c.R == c.G && c.G == c.B && c.B == c.A; }

// ---------------------------------------------------------------------------------------------
// Reference model
// ---------------------------------------------------------------------------------------------

int Width(uint32_t m) {
  int n = 0;
  for (int i = 0; i < 32; ++i) n += (m >> i) & 1;
  return n;
}
int Shift(uint32_t m) {
  for (int i = 0; i < 32; ++i)
    if ((m >> i) & 1) return i;
  return 0;
}
uint32_t RefTo8(uint32_t v, int w) {
  if (w >= 8) return v >> (w - 8);
  return static_cast<uint32_t>(std::lround(v * 255.0 / ((1 << w) - 1)));
}
uint32_t RefFrom8(uint32_t v, int w) {
  if (w <= 8) return v / (1u << (8 - w));
  return static_cast<uint32_t>(std::llround(v * (std::pow(2.0, w) - 1) / 255.0));
}

struct Rgba {
  uint32_t r, g, b, a;
  bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

uint32_t RefRaw(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

Rgba RefFrom565(uint32_t c) {
  return {RefTo8((c >> 11) & 31, 5), RefTo8((c >> 5) & 63, 6), RefTo8(c & 31, 5), 255};
}

// Pixel (x, y) of a DXT image, decoded from the block rules bit by bit.
Rgba RefDxtPixel(const uint8_t* pixels, int pitch, int kind, int x, int y) {
  const uint8_t* block = pixels + (y / 4) * pitch + (x / 4) * (kind == 1 ? 8 : 16);
  int i = (y % 4) * 4 + (x % 4);
  const uint8_t* col = kind == 1 ? block : block + 8;
  uint32_t c0 = col[0] + 256 * col[1], c1 = col[2] + 256 * col[3];
  Rgba e0 = RefFrom565(c0), e1 = RefFrom565(c1);
  int code = (col[4 + i / 4] >> (2 * (i % 4))) & 3;
  auto mix = [](uint32_t a, uint32_t b, double wa, double wb) {
    return static_cast<uint32_t>(std::lround((a * wa + b * wb) / (wa + wb)));
  };
  Rgba out;
  bool four = kind != 1 || c0 > c1;
  if (code == 0) out = e0;
  else if (code == 1) out = e1;
  else if (four && code == 2) out = {mix(e0.r, e1.r, 2, 1), mix(e0.g, e1.g, 2, 1), mix(e0.b, e1.b, 2, 1), 255};
  else if (four) out = {mix(e0.r, e1.r, 1, 2), mix(e0.g, e1.g, 1, 2), mix(e0.b, e1.b, 1, 2), 255};
  else if (code == 2) out = {mix(e0.r, e1.r, 1, 1), mix(e0.g, e1.g, 1, 1), mix(e0.b, e1.b, 1, 1), 255};
  else out = {0, 0, 0, 0};
  if (kind == 2 || kind == 3) {
    out.a = ((block[i / 2] >> (4 * (i % 2))) & 15) * 17;
  } else if (kind == 4 || kind == 5) {
    uint32_t a0 = block[0], a1 = block[1];
    int bit = 16 + 3 * i;
    int k = 0;
    for (int j = 0; j < 3; ++j) k |= ((block[(bit + j) / 8] >> ((bit + j) % 8)) & 1) << j;
    if (k == 0) out.a = a0;
    else if (k == 1) out.a = a1;
    else if (a0 > a1) out.a = mix(a0, a1, 8 - k, k - 1);
    else if (k <= 5) out.a = mix(a0, a1, 6 - k, k - 1);
    else out.a = k == 6 ? 0 : 255;
  }
  return out;
}

Rgba RefDecode(const PIXELFORMAT& f, const uint8_t* pixels, int pitch, int x, int y) {
  if (f.DxtFormat != 0) return RefDxtPixel(pixels, pitch, f.DxtFormat, x, y);
  const uint8_t* p = pixels + y * pitch + x * f.PixelByte;
  uint32_t raw = RefRaw(p, f.PixelByte);
  if (f.ColorBitDepth == 8 && f.RedMask == 0xFF0000) {
    const COLOR_U8& e = f.Palette[raw];
    return {e.r, e.g, e.b, 255};
  }
  auto ch = [&](uint32_t m, uint32_t missing) {
    return m == 0 ? missing : RefTo8((raw & m) >> Shift(m), Width(m));
  };
  return {ch(f.RedMask, 0), ch(f.GreenMask, 0), ch(f.BlueMask, 0), ch(f.AlphaMask, 255)};
}

uint32_t RefEncode(const PIXELFORMAT& f, Rgba c) {
  uint32_t p = 0;
  auto put = [&](uint32_t m, uint32_t v) {
    if (m != 0) p |= (RefFrom8(v, Width(m)) << Shift(m)) & m;
  };
  put(f.RedMask, c.r);
  put(f.GreenMask, c.g);
  put(f.BlueMask, c.b);
  put(f.AlphaMask, c.a);
  return p;
}

// Guarded byte buffer: every byte starts as a pattern; the test checks what changed.
std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

// ---------------------------------------------------------------------------------------------
// Tests
// ---------------------------------------------------------------------------------------------

TEST(PixelFormat, BuildFromMasks) {
  PIXELFORMAT f;
  std::memset(&f, 0, sizeof(f));
  ASSERT_EQ(BuildPixelFormatFromMasks(&f, 16, 0xF800, 0x07E0, 0x001F, 0), 0);
  EXPECT_EQ(f.ColorBitDepth, 16);
  EXPECT_EQ(f.PixelByte, 2);
  EXPECT_EQ(f.RedWidth, 5);
  EXPECT_EQ(f.GreenWidth, 6);
  EXPECT_EQ(f.BlueWidth, 5);
  EXPECT_EQ(f.AlphaWidth, 0);
  EXPECT_EQ(f.RedLoc, 11);
  EXPECT_EQ(f.GreenLoc, 5);
  EXPECT_EQ(f.BlueLoc, 0);
  EXPECT_EQ(f.NoneMask, 0u);
  EXPECT_EQ(PixelFormatIsPalette(&f), 0);

  ASSERT_EQ(BuildPixelFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0), 0);
  EXPECT_EQ(f.PixelByte, 4);
  EXPECT_EQ(f.NoneMask, 0xFF000000u);
  EXPECT_EQ(PixelFormatHasAlpha(&f), 0);

  ASSERT_EQ(BuildPixelFormatFromMasks(&f, 32, 0xF800, 0x07E0, 0x001F, 0xFF0000), 0);
  EXPECT_EQ(f.AlphaLoc, 16);
  EXPECT_EQ(f.AlphaWidth, 8);
  EXPECT_EQ(f.NoneMask, 0xFF000000u);
  EXPECT_EQ(PixelFormatHasAlpha(&f), 1);

  // palettised: masks describe the entries, reaching past the 8-bit pixel
  ASSERT_EQ(BuildPixelFormatFromMasks(&f, 8, 0xF800, 0x07E0, 0x001F, 0xFF0000), 0);
  EXPECT_EQ(f.PixelByte, 1);
  EXPECT_EQ(f.NoneMask, 0u);
  EXPECT_EQ(PixelFormatIsPalette(&f), 1);
  EXPECT_EQ(PixelFormatHasAlpha(&f), 0);

  // single channel: not palettised
  ASSERT_EQ(BuildPixelFormatFromMasks(&f, 8, 0xFF, 0xFF, 0xFF, 0xFF), 0);
  EXPECT_EQ(PixelFormatIsPalette(&f), 0);
  EXPECT_EQ(f.RedWidth, 8);
  EXPECT_EQ(f.NoneMask, 0u);

  EXPECT_EQ(BuildPixelFormatFromMasks(&f, 0, 0xFF, 0, 0, 0), -1);
  EXPECT_EQ(BuildPixelFormatFromMasks(&f, 33, 0xFF, 0, 0, 0), -1);
  EXPECT_EQ(BuildPixelFormatFromMasks(nullptr, 32, 0xFF, 0, 0, 0), -1);
}

// Every source format into every destination format, random pixels, random rectangles that
// may reach past either image, destination inside a guard pattern.
TEST(PixelFormat, ConvertEveryPairAgainstModel) {
#ifdef __SANITIZE_ADDRESS__
  const int kRounds = 2;
#else
  const int kRounds = 6;
#endif
  int pairIndex = 0;
  for (const FormatCase& sc : kFormats) {
    for (const FormatCase& dc : kFormats) {
      ++pairIndex;
      if (dc.Dxt != 0) continue;
      if (IsPal(dc) && !IsPal(sc)) continue;
      for (int round = 0; round < kRounds; ++round) {
        const uint32_t seed = static_cast<uint32_t>(pairIndex * 1000 + round);
        SCOPED_TRACE(std::string(sc.Name) + " -> " + dc.Name + " seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        PIXELFORMAT sf = MakeFormat(sc, rng), df = MakeFormat(dc, rng);
        const int sw = 1 + rng() % 37, sh = 1 + rng() % 19;
        const int dw = 1 + rng() % 37, dh = 1 + rng() % 19;
        int spitch, srows;
        if (sc.Dxt) {
          spitch = ((sw + 3) / 4) * (sc.Dxt == 1 ? 8 : 16);
          srows = (sh + 3) / 4;
        } else {
          spitch = sw * sf.PixelByte + static_cast<int>(rng() % 5);
          srows = sh;
        }
        std::vector<uint8_t> src = Pattern(static_cast<size_t>(spitch) * srows, seed ^ 0x1234);
        const int dpitch = dw * df.PixelByte + 3;
        const size_t guard = 32;
        std::vector<uint8_t> dstBuf = Pattern(guard * 2 + static_cast<size_t>(dpitch) * dh, seed ^ 0x9876);
        const std::vector<uint8_t> before = dstBuf;
        uint8_t* dst = dstBuf.data() + guard;

        RECT r;
        r.left = static_cast<int>(rng() % (sw + 6)) - 3;
        r.top = static_cast<int>(rng() % (sh + 6)) - 3;
        r.right = r.left + static_cast<int>(rng() % (sw + 4));
        r.bottom = r.top + static_cast<int>(rng() % (sh + 4));
        int dx = static_cast<int>(rng() % (dw + 4)) - 3, dy = static_cast<int>(rng() % (dh + 4)) - 3;
        const int full = static_cast<int>(rng() % 2);
        const int single = IsSingle(dc) ? static_cast<int>(rng() % 2) : 0;

        int result = BltConvertPixelFormat(dst, dpitch, &df, src.data(), spitch, &sf, nullptr, 0,
                                           nullptr, dx, dy, &r, 0, 0, 0, 0, single, full, 0, 0, sw,
                                           sh, dw, dh);
        ASSERT_GE(result, 0);

        // Reference: which destination pixels are written, and with what.
        std::vector<uint8_t> expect = before;
        uint32_t highest = 0;
        for (int y = 0; y < dh; ++y) {
          for (int x = 0; x < dw; ++x) {
            int sx = x - dx + r.left, sy = y - dy + r.top;
            if (sx < 0 || sy < 0 || sx >= sw || sy >= sh || sx < r.left || sy < r.top ||
                sx >= r.right || sy >= r.bottom)
              continue;
            uint8_t* e = expect.data() + guard + y * dpitch + x * df.PixelByte;
            uint32_t value;
            if (IsPal(dc)) {
              value = src[sy * spitch + sx];
              highest = std::max(highest, value);
            } else if (&sc == &dc) {
              // one format on both sides: the pixel is copied unchanged, spare bits included
              value = RefRaw(src.data() + sy * spitch + sx * sf.PixelByte, sf.PixelByte);
            } else {
              Rgba c = RefDecode(sf, src.data(), spitch, sx, sy);
              if (IsSingle(dc)) {
                uint32_t v = IsSingle(sc) ? c.b
                                          : static_cast<uint32_t>(std::lround((299.0 * c.r + 587.0 * c.g + 114.0 * c.b) / 1000.0));
                if (full) v = RefFrom8(v, Width(df.RedMask));
                value = v & df.RedMask;
              } else {
                value = RefEncode(df, c);
              }
            }
            for (int i = 0; i < df.PixelByte; ++i) e[i] = static_cast<uint8_t>(value >> (8 * i));
          }
        }
        if (IsPal(dc)) {
          EXPECT_EQ(static_cast<uint32_t>(result), highest);
        }
        for (size_t i = 0; i < dstBuf.size(); ++i) {
          if (dstBuf[i] != expect[i]) {
            long off = static_cast<long>(i) - static_cast<long>(guard);
            ADD_FAILURE() << "byte " << off << " (row " << (off >= 0 ? off / dpitch : -1) << ", column byte "
                          << (off >= 0 ? off % dpitch : off) << "): " << int(dstBuf[i]) << " vs "
                          << int(expect[i]);
            break;
          }
        }
      }
    }
  }
}

// An alpha image's blue channel becomes alpha; with the transparency flag a destination without
// alpha gets the key where that alpha is 0.
TEST(PixelFormat, AlphaImageAndTransparentKey) {
  std::mt19937 rng(7);
  PIXELFORMAT rgb = MakeFormat(kFormats[6], rng);    // bgr24
  PIXELFORMAT grey = MakeFormat(kFormats[12], rng);  // single8
  PIXELFORMAT argb = MakeFormat(kFormats[8], rng);
  PIXELFORMAT x565 = MakeFormat(kFormats[1], rng);
  PIXELFORMAT pal = MakeFormat(kFormats[0], rng);
  const int w = 9, h = 5;
  std::vector<uint8_t> src = Pattern(w * 3 * h, 11), alpha = Pattern(w * h, 12);
  for (int i = 0; i < w * h; i += 3) alpha[i] = 0;
  RECT r = {0, 0, w, h};

  std::vector<uint8_t> out(w * 4 * h);
  ASSERT_EQ(BltConvertPixelFormat(out.data(), w * 4, &argb, src.data(), w * 3, &rgb, alpha.data(), w,
                                  &grey, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0),
            0);
  for (int i = 0; i < w * h; ++i) {
    EXPECT_EQ(out[i * 4 + 3], alpha[i]) << i;
    EXPECT_EQ(out[i * 4 + 0], src[i * 3 + 0]) << i;
  }

  std::vector<uint8_t> out16(w * 2 * h);
  ASSERT_EQ(BltConvertPixelFormat(out16.data(), w * 2, &x565, src.data(), w * 3, &rgb, alpha.data(), w,
                                  &grey, 0, 0, &r, 0, 1, 0xBEEF, 0, 0, 0, 0, 0),
            0);
  for (int i = 0; i < w * h; ++i) {
    uint32_t v = out16[i * 2] | (out16[i * 2 + 1] << 8);
    Rgba c = {src[i * 3 + 2], src[i * 3 + 1], src[i * 3], 255};
    EXPECT_EQ(v, alpha[i] == 0 ? 0xBEEFu : RefEncode(x565, c)) << i;
  }

  // without the flag the alpha is simply dropped
  ASSERT_EQ(BltConvertPixelFormat(out16.data(), w * 2, &x565, src.data(), w * 3, &rgb, alpha.data(), w,
                                  &grey, 0, 0, &r, 0, 0, 0xBEEF, 0, 0, 0, 0, 0),
            0);
  EXPECT_NE(out16[0] | (out16[1] << 8), 0xBEEF);

  // palettised: keyed pixels take the key index and do not count as used entries
  std::vector<uint8_t> idx(w * h), outIdx(w * h);
  for (int i = 0; i < w * h; ++i) idx[i] = static_cast<uint8_t>(i < 3 ? 200 : i % 50);
  ASSERT_EQ(BltConvertPixelFormat(outIdx.data(), w, &pal, idx.data(), w, &pal, alpha.data(), w, &grey,
                                  0, 0, &r, 0, 1, 7, 0, 0, 0, 0, 0),
            [&] {
              int hi = 0;
              for (int i = 0; i < w * h; ++i)
                if (alpha[i] != 0) hi = std::max(hi, int(idx[i]));
              return hi;
            }());
  for (int i = 0; i < w * h; ++i) EXPECT_EQ(outIdx[i], alpha[i] == 0 ? 7 : idx[i]) << i;
}

TEST(PixelFormat, ConvertRefusals) {
  std::mt19937 rng(3);
  PIXELFORMAT argb = MakeFormat(kFormats[8], rng), pal = MakeFormat(kFormats[0], rng);
  PIXELFORMAT dxt = MakeFormat(kFormats[14], rng);
  uint8_t a[64] = {}, b[64] = {};
  RECT r = {0, 0, 2, 2};
  // direct colour into a palette, anything into blocks, missing pointers
  EXPECT_LT(BltConvertPixelFormat(a, 8, &pal, b, 8, &argb, nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_LT(BltConvertPixelFormat(a, 8, &dxt, b, 8, &argb, nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_LT(BltConvertPixelFormat(nullptr, 8, &argb, b, 8, &argb, nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_LT(BltConvertPixelFormat(a, 8, &argb, b, 8, &argb, nullptr, 0, nullptr, 0, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  // an empty rectangle writes nothing and succeeds
  RECT empty = {3, 3, 3, 9};
  uint8_t before[64];
  std::memcpy(before, a, sizeof(a));
  EXPECT_EQ(BltConvertPixelFormat(a, 8, &argb, b, 8, &argb, nullptr, 0, nullptr, 0, 0, &empty, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(std::memcmp(a, before, sizeof(a)), 0);
}

// GetPixelBaseImage and SetPixelBaseImage agree with the model in every writable format.
TEST(PixelFormat, GetAndSetPixel) {
  int caseIndex = 0;
  for (const FormatCase& fc : kFormats) {
    const uint32_t seed = 500 + caseIndex++;
    SCOPED_TRACE(std::string(fc.Name) + " seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    PIXELFORMAT f = MakeFormat(fc, rng);
    BASEIMAGE img;
    const int w = 7, h = 6;
    if (fc.Dxt) {
      // blocks are read, never written
      std::vector<uint8_t> blocks = Pattern(2 * 2 * 16, seed);
      img.ColorData = f;
      img.Width = w;
      img.Height = h;
      img.Pitch = 2 * (fc.Dxt == 1 ? 8 : 16);
      img.GraphData = blocks.data();
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          int r, g, b, a;
          ASSERT_EQ(GetPixelBaseImage(&img, x, y, &r, &g, &b, &a), 0);
          Rgba e = RefDxtPixel(blocks.data(), img.Pitch, fc.Dxt, x, y);
          EXPECT_EQ((Rgba{uint32_t(r), uint32_t(g), uint32_t(b), uint32_t(a)}), e) << x << "," << y;
        }
      }
      EXPECT_EQ(SetPixelBaseImage(&img, 0, 0, 1, 2, 3, 4), -1);
      continue;
    }
    ASSERT_EQ(CreateBaseImageOfFormat(w, h, &f, &img), 0);
    EXPECT_EQ(img.Pitch % 4, 0);
    EXPECT_GE(img.Pitch, w * f.PixelByte);
    for (int i = 0; i < 40; ++i) {
      int x = rng() % w, y = rng() % h;
      int r = rng() % 256, g = rng() % 256, b = rng() % 256, a = rng() % 256;
      ASSERT_EQ(SetPixelBaseImage(&img, x, y, r, g, b, a), 0);
      int gr, gg, gb, ga;
      ASSERT_EQ(GetPixelBaseImage(&img, x, y, &gr, &gg, &gb, &ga), 0);
      Rgba got = {uint32_t(gr), uint32_t(gg), uint32_t(gb), uint32_t(ga)};
      Rgba want;
      if (IsPal(fc)) {
        int best = 0;
        long bestD = 1L << 40;
        for (int k = 0; k < 256; ++k) {
          long d = long(f.Palette[k].r - r) * (f.Palette[k].r - r) + long(f.Palette[k].g - g) * (f.Palette[k].g - g) +
                   long(f.Palette[k].b - b) * (f.Palette[k].b - b);
          if (d < bestD) { bestD = d; best = k; }
        }
        want = {f.Palette[best].r, f.Palette[best].g, f.Palette[best].b, 255};
      } else if (IsSingle(fc)) {
        uint32_t v = static_cast<uint32_t>(std::lround((299.0 * r + 587.0 * g + 114.0 * b) / 1000.0));
        uint32_t stored = RefFrom8(v, Width(f.RedMask));
        uint32_t back = RefTo8(stored, Width(f.RedMask));
        want = {back, back, back, back};
      } else {
        uint32_t raw = RefEncode(f, {uint32_t(r), uint32_t(g), uint32_t(b), uint32_t(a)});
        uint8_t bytes[4];
        for (int k = 0; k < 4; ++k) bytes[k] = static_cast<uint8_t>(raw >> (8 * k));
        want = RefDecode(f, bytes, 4, 0, 0);
      }
      EXPECT_EQ(got, want) << x << "," << y << " from " << r << "," << g << "," << b << "," << a;
    }
    EXPECT_EQ(GetPixelBaseImage(&img, w, 0, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(GetPixelBaseImage(&img, 0, -1, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(SetPixelBaseImage(&img, 0, h, 0, 0, 0, 0), -1);
    ReleaseBaseImage(&img);
    EXPECT_EQ(img.GraphData, nullptr);
  }
}

}  // namespace
