// The image readers on small files built here with known pixels, their refusal of truncated,
// corrupt and oversized files, and their behaviour when memory runs out.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <qzlib/base/engine_texts.h>
#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include "tests/image/image_test_files.h"
#include "tests/support/test_support.h"

namespace {

class ImageReaders : public LeakCheckedTest {};

uint32_t To8(uint32_t v, int bits) {
  return static_cast<uint32_t>(std::lround(v * 255.0 / ((1 << bits) - 1)));
}

// ---------------------------------------------------------------------------------------------
// BMP files
// ---------------------------------------------------------------------------------------------

struct BmpSpec {
  int Width = 0, Height = 0;  // negative height: top-down
  int Bpp = 24;
  uint32_t Compression = 0;
  uint32_t HeaderSize = 40;
  std::vector<uint32_t> Palette;  // 0x00RRGGBB
  uint32_t Masks[4] = {0, 0, 0, 0};
  std::vector<uint8_t> Data;  // the pixel data as stored
};

Bytes MakeBmp(const BmpSpec& s) {
  Bytes h;
  const bool masksAfter = s.HeaderSize == 40 && s.Compression == 3;
  const uint32_t paletteBytes = static_cast<uint32_t>(s.Palette.size()) * (s.HeaderSize == 12 ? 3 : 4);
  const uint32_t off = 14 + s.HeaderSize + (masksAfter ? 12 : 0) + paletteBytes;
  h.str("BM");
  h.u32(off + static_cast<uint32_t>(s.Data.size()));
  h.u32(0);
  h.u32(off);
  h.u32(s.HeaderSize);
  if (s.HeaderSize == 12) {
    h.u16(s.Width);
    h.u16(s.Height);
    h.u16(1);
    h.u16(s.Bpp);
  } else {
    h.u32(static_cast<uint32_t>(s.Width));
    h.u32(static_cast<uint32_t>(s.Height));
    h.u16(1);
    h.u16(s.Bpp);
    h.u32(s.Compression);
    h.u32(static_cast<uint32_t>(s.Data.size()));
    h.u32(2835);
    h.u32(2835);
    h.u32(static_cast<uint32_t>(s.Palette.size()));
    h.u32(0);
    if (s.HeaderSize > 40) {
      for (uint32_t m : s.Masks) h.u32(m);
      h.zeros(s.HeaderSize - 56);
    }
    if (masksAfter)
      for (int i = 0; i < 3; ++i) h.u32(s.Masks[i]);
  }
  for (uint32_t c : s.Palette) {
    h.u8(c);
    h.u8(c >> 8);
    h.u8(c >> 16);
    if (s.HeaderSize != 12) h.u8(0);
  }
  h.v.insert(h.v.end(), s.Data.begin(), s.Data.end());
  return h;
}

// Stores rows of raw values (indices or pixels) the BMP way: padded to 4 bytes, bottom-up unless
// the height is negative.
std::vector<uint8_t> BmpRows(int w, int h, int bpp, const std::function<uint32_t(int, int)>& raw) {
  const int rows = std::abs(h);
  const size_t stride = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
  std::vector<uint8_t> out(stride * rows, 0);
  for (int r = 0; r < rows; ++r) {
    int y = h < 0 ? r : rows - 1 - r;
    uint8_t* row = out.data() + stride * r;
    for (int x = 0; x < w; ++x) {
      uint32_t v = raw(x, y);
      if (bpp < 8) {
        int bit = x * bpp;
        row[bit / 8] |= static_cast<uint8_t>(v << (8 - bpp - bit % 8));
      } else {
        for (int k = 0; k < bpp / 8; ++k) row[x * (bpp / 8) + k] = static_cast<uint8_t>(v >> (8 * k));
      }
    }
  }
  return out;
}

std::vector<uint32_t> TestPalette(int n) {
  std::vector<uint32_t> p;
  for (int i = 0; i < n; ++i) p.push_back(((i * 37) & 255) << 16 | ((i * 91 + 7) & 255) << 8 | ((i * 13 + 100) & 255));
  return p;
}

int Decode(const Bytes& file, BASEIMAGE* img) {
  return CreateBaseImageToMem(nullptr, file.v.data(), file.size(), 1, img, 0);
}

TEST_F(ImageReaders, BmpPalettedDepthsAndOrientations) {
  for (int bpp : {1, 2, 4, 8}) {
    for (int sign : {1, -1}) {
      SCOPED_TRACE("bpp " + std::to_string(bpp) + (sign < 0 ? " top-down" : ""));
      const int w = 13, h = 5, colours = bpp == 8 ? 20 : (1 << bpp);
      BmpSpec s;
      s.Width = w;
      s.Height = h * sign;
      s.Bpp = bpp;
      s.Palette = TestPalette(colours);
      auto index = [&](int x, int y) { return static_cast<uint32_t>((x + 2 * y) % colours); };
      s.Data = BmpRows(w, s.Height, bpp, index);
      BASEIMAGE img;
      ASSERT_EQ(Decode(MakeBmp(s), &img), 0);
      EXPECT_EQ(img.Width, w);
      EXPECT_EQ(img.Height, h);
      EXPECT_EQ(PixelFormatIsPalette(&img.ColorData), 1);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          EXPECT_EQ(static_cast<uint8_t*>(img.GraphData)[y * img.Pitch + x], index(x, y));
          ASSERT_EQ(PixelArgb(img, x, y), 0xFF000000u | s.Palette[index(x, y)]) << x << "," << y;
        }
      ReleaseBaseImage(&img);
    }
  }
}

TEST_F(ImageReaders, BmpIndexPastPaletteIsRefused) {
  BmpSpec s;
  s.Width = 4;
  s.Height = 2;
  s.Bpp = 8;
  s.Palette = TestPalette(10);
  s.Data = BmpRows(4, 2, 8, [](int x, int y) { return uint32_t(x == 3 && y == 1 ? 10 : 9); });
  BASEIMAGE img;
  LogCaptureBegin();
  EXPECT_EQ(Decode(MakeBmp(s), &img), -1);
  LogCaptureEnd();
  s.Data = BmpRows(4, 2, 8, [](int x, int y) { return uint32_t(9); });
  ASSERT_EQ(Decode(MakeBmp(s), &img), 0);
  ReleaseBaseImage(&img);
}

TEST_F(ImageReaders, BmpDirectColour) {
  std::mt19937 rng(42);
  const int w = 7, h = 3;
  std::vector<uint32_t> raw(w * h);
  for (auto& v : raw) v = rng();
  auto at = [&](int x, int y) { return raw[y * w + x]; };
  struct Case {
    const char* Name;
    int Bpp;
    uint32_t Compression, HeaderSize, R, G, B, A;
  };
  const Case cases[] = {
      {"16 default 5:5:5", 16, 0, 40, 0x7C00, 0x3E0, 0x1F, 0},
      {"16 bit fields 5:6:5", 16, 3, 40, 0xF800, 0x7E0, 0x1F, 0},
      {"24", 24, 0, 40, 0xFF0000, 0xFF00, 0xFF, 0},
      {"32 default", 32, 0, 40, 0xFF0000, 0xFF00, 0xFF, 0},
      {"32 bit fields with alpha, v5 header", 32, 3, 124, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u},
      {"16 bit fields 4:4:4:4, v4 header", 16, 3, 108, 0xF00, 0xF0, 0xF, 0xF000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    BmpSpec s;
    s.Width = w;
    s.Height = h;
    s.Bpp = c.Bpp;
    s.Compression = c.Compression;
    s.HeaderSize = c.HeaderSize;
    s.Masks[0] = c.R;
    s.Masks[1] = c.G;
    s.Masks[2] = c.B;
    s.Masks[3] = c.A;
    s.Data = BmpRows(w, h, c.Bpp, at);
    BASEIMAGE img;
    ASSERT_EQ(Decode(MakeBmp(s), &img), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint32_t v = at(x, y);
        auto ch = [&](uint32_t m, uint32_t missing) {
          if (m == 0) return missing;
          int shift = __builtin_ctz(m), bits = __builtin_popcount(m);
          return To8((v & m) >> shift, bits);
        };
        uint32_t want = (ch(c.A, 255) << 24) | (ch(c.R, 0) << 16) | (ch(c.G, 0) << 8) | ch(c.B, 0);
        ASSERT_EQ(PixelArgb(img, x, y), want) << x << "," << y;
      }
    ReleaseBaseImage(&img);
  }
}

Bytes Rle8File() {
  BmpSpec s;
  s.Width = 6;
  s.Height = 3;
  s.Bpp = 8;
  s.Compression = 1;
  s.Palette = TestPalette(16);
  s.Data = {3, 5, 0, 3, 7, 8, 9, 0, 0, 0,  // bottom row: 5 5 5 7 8 9, end of line
            0, 2, 2, 1,                      // delta: two right, one up (row 1 stays undefined)
            2, 4, 0, 1};                     // two pixels of 4, end of bitmap
  return MakeBmp(s);
}

Bytes Rle4File() {
  BmpSpec s;
  s.Width = 5;
  s.Height = 2;
  s.Bpp = 4;
  s.Compression = 2;
  s.Palette = TestPalette(16);
  s.Data = {5, 0x12, 0, 0,        // bottom row 1 2 1 2 1
            0, 3, 0x34, 0x50,     // absolute 3 4 5
            2, 0x66, 0, 1};       // 6 6, end of bitmap
  return MakeBmp(s);
}

std::vector<uint8_t> Indices(const BASEIMAGE& img) {
  std::vector<uint8_t> v;
  for (int y = 0; y < img.Height; ++y)
    for (int x = 0; x < img.Width; ++x) v.push_back(static_cast<uint8_t*>(img.GraphData)[y * img.Pitch + x]);
  return v;
}

TEST_F(ImageReaders, BmpRunLength) {
  BASEIMAGE img;
  ASSERT_EQ(Decode(Rle8File(), &img), 0);
  EXPECT_EQ(Indices(img), (std::vector<uint8_t>{0, 0, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 5, 7, 8, 9}));
  ReleaseBaseImage(&img);
  ASSERT_EQ(Decode(Rle4File(), &img), 0);
  EXPECT_EQ(Indices(img), (std::vector<uint8_t>{3, 4, 5, 6, 6, 1, 2, 1, 2, 1}));
  ReleaseBaseImage(&img);

  // a run past the row, and run-length data stored top-down, are refused
  Bytes over = Rle8File();
  over.v[over.size() - 18] = 7;  // first run: 7 pixels in a 6-wide row
  LogCaptureBegin();
  EXPECT_EQ(Decode(over, &img), -1);
  Bytes topDown = Rle8File();
  topDown.v[22] = 0xFD;  // height -3
  topDown.v[23] = topDown.v[24] = topDown.v[25] = 0xFF;
  EXPECT_EQ(Decode(topDown, &img), -1);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find(" in CreateBaseImageToMem"), std::string::npos);
  EXPECT_EQ(img.GraphData, nullptr);
}

// ---------------------------------------------------------------------------------------------
// TGA files
// ---------------------------------------------------------------------------------------------

struct TgaSpec {
  uint32_t Type = 2;
  int Width = 0, Height = 0;
  int Bits = 24;
  uint32_t Descriptor = 0;
  std::string Id;
  uint32_t MapFirst = 0;
  int MapBits = 0;
  std::vector<uint8_t> Map;  // colour map bytes
  std::vector<uint8_t> Data;
};

Bytes MakeTga(const TgaSpec& s) {
  Bytes b;
  const int entryBytes = (s.MapBits + 7) / 8;
  b.u8(static_cast<uint32_t>(s.Id.size()));
  b.u8(s.MapBits ? 1 : 0);
  b.u8(s.Type);
  b.u16(s.MapFirst);
  b.u16(entryBytes ? static_cast<uint32_t>(s.Map.size() / entryBytes) : 0);
  b.u8(s.MapBits);
  b.u16(0);
  b.u16(0);
  b.u16(s.Width);
  b.u16(s.Height);
  b.u8(s.Bits);
  b.u8(s.Descriptor);
  b.str(s.Id.c_str());
  b.v.insert(b.v.end(), s.Map.begin(), s.Map.end());
  b.v.insert(b.v.end(), s.Data.begin(), s.Data.end());
  return b;
}

// A 3 x 2 24-bit picture, file order bottom-left first: B, G, R per pixel.
const uint32_t kTgaPicture[2][3] = {{0x102030, 0x405060, 0x708090}, {0xA0B0C0, 0xD0E0F0, 0x010203}};

std::vector<uint8_t> TgaPixels24(bool topFirst) {
  std::vector<uint8_t> d;
  for (int r = 0; r < 2; ++r) {
    int y = topFirst ? r : 1 - r;
    for (int x = 0; x < 3; ++x) {
      uint32_t c = kTgaPicture[y][x];
      d.push_back(static_cast<uint8_t>(c));
      d.push_back(static_cast<uint8_t>(c >> 8));
      d.push_back(static_cast<uint8_t>(c >> 16));
    }
  }
  return d;
}

void ExpectTgaPicture(const BASEIMAGE& img, bool mirrored = false) {
  ASSERT_EQ(img.Width, 3);
  ASSERT_EQ(img.Height, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(PixelArgb(img, x, y), 0xFF000000u | kTgaPicture[y][mirrored ? 2 - x : x]) << x << "," << y;
}

TEST_F(ImageReaders, TgaTrueColourAndOrigins) {
  BASEIMAGE img;
  TgaSpec s;
  s.Width = 3;
  s.Height = 2;
  s.Id = "made here";
  s.Data = TgaPixels24(false);
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  ExpectTgaPicture(img);
  ReleaseBaseImage(&img);

  s.Descriptor = 0x20;  // top-left origin
  s.Data = TgaPixels24(true);
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  ExpectTgaPicture(img);
  ReleaseBaseImage(&img);

  s.Descriptor = 0x30;  // top-right origin: rows stored right to left
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  ExpectTgaPicture(img, true);
  ReleaseBaseImage(&img);

  // 16 bits: five bits a channel, the top bit alpha when attribute bits are declared
  s = TgaSpec();
  s.Width = 2;
  s.Height = 1;
  s.Bits = 16;
  s.Descriptor = 1;
  s.Data = {0x1F, 0x80, 0xE0, 0x03};  // opaque blue, transparent green
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(PixelArgb(img, 1, 0), 0x0000FF00u);
  ReleaseBaseImage(&img);
  s.Descriptor = 0;
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  EXPECT_EQ(PixelArgb(img, 1, 0), 0xFF00FF00u);
  ReleaseBaseImage(&img);
}

TEST_F(ImageReaders, TgaColourMapped) {
  BASEIMAGE img;
  TgaSpec s;
  s.Type = 1;
  s.Width = 4;
  s.Height = 1;
  s.Bits = 8;
  s.MapBits = 24;
  s.MapFirst = 2;  // the map holds entries 2 to 4
  s.Map = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90};
  s.Data = {2, 3, 4, 3};
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  EXPECT_EQ(PixelFormatIsPalette(&img.ColorData), 1);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0xFF302010u);
  EXPECT_EQ(PixelArgb(img, 1, 0), 0xFF605040u);
  EXPECT_EQ(PixelArgb(img, 2, 0), 0xFF908070u);
  ReleaseBaseImage(&img);
  // an index outside the map marks the file corrupt
  for (uint8_t bad : {uint8_t(1), uint8_t(5)}) {
    s.Data[3] = bad;
    LogCaptureBegin();
    EXPECT_EQ(Decode(MakeTga(s), &img), -1) << int(bad);
    LogCaptureEnd();
  }

  // a map with translucent entries gives a direct-colour image with alpha
  s.MapBits = 32;
  s.Descriptor = 8;
  s.MapFirst = 0;
  s.Map = {1, 2, 3, 255, 4, 5, 6, 128};
  s.Data = {0, 1, 1, 0};
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  EXPECT_EQ(PixelFormatHasAlpha(&img.ColorData), 1);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0xFF030201u);
  EXPECT_EQ(PixelArgb(img, 1, 0), 0x80060504u);
  ReleaseBaseImage(&img);
}

Bytes TgaRle24File() {
  TgaSpec s;
  s.Type = 10;
  s.Width = 3;
  s.Height = 2;
  s.Descriptor = 0x20;
  // a run of four crossing the end of the first row, then a raw packet of two
  s.Data = {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9};
  return MakeTga(s);
}

TEST_F(ImageReaders, TgaRunLength) {
  BASEIMAGE img;
  ASSERT_EQ(Decode(TgaRle24File(), &img), 0);
  const uint32_t want[6] = {0x030201, 0x030201, 0x030201, 0x030201, 0x060504, 0x090807};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(PixelArgb(img, i % 3, i / 3), 0xFF000000u | want[i]) << i;
  ReleaseBaseImage(&img);
}

// ---------------------------------------------------------------------------------------------
// DDS and BGRA files
// ---------------------------------------------------------------------------------------------

Bytes MakeDds(int w, int h, uint32_t pfFlags, const char* fourCC, int bits, uint32_t r, uint32_t g,
              uint32_t b, uint32_t a, const std::vector<uint8_t>& data, int dxgi = -1) {
  Bytes d;
  d.str("DDS ");
  d.u32(124);
  d.u32(0x1007);
  d.u32(h);
  d.u32(w);
  d.u32(0);
  d.u32(0);
  d.u32(1);
  d.zeros(44);
  d.u32(32);
  d.u32(pfFlags);
  if (fourCC) d.str(fourCC);
  else d.u32(0);
  d.u32(bits);
  d.u32(r);
  d.u32(g);
  d.u32(b);
  d.u32(a);
  d.u32(0x1000);
  d.zeros(16);
  if (dxgi >= 0) {
    d.u32(dxgi);
    d.u32(3);
    d.u32(0);
    d.u32(1);
    d.u32(0);
  }
  d.v.insert(d.v.end(), data.begin(), data.end());
  return d;
}

// Two DXT1 blocks: all red (index 0), then all index 3 of red and blue in four-colour mode.
std::vector<uint8_t> TwoDxt1Blocks() {
  return {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0, 0x00, 0xF8, 0x1F, 0x00, 0xFF, 0xFF, 0xFF, 0xFF};
}

TEST_F(ImageReaders, DdsFormats) {
  BASEIMAGE img;
  ASSERT_EQ(Decode(MakeDds(8, 4, 0x4, "DXT1", 0, 0, 0, 0, 0, TwoDxt1Blocks()), &img), 0);
  EXPECT_EQ(img.ColorData.DxtFormat, 1);
  EXPECT_EQ(img.Pitch, 16);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(PixelArgb(img, 3, 3), 0xFFFF0000u);
  EXPECT_EQ(PixelArgb(img, 4, 0), 0xFF5500AAu);  // (255 + 2 * 0 + 1) / 3, (0 + 2 * 255 + 1) / 3
  ReleaseBaseImage(&img);

  // the same blocks behind an extended header
  ASSERT_EQ(Decode(MakeDds(8, 4, 0x4, "DX10", 0, 0, 0, 0, 0, TwoDxt1Blocks(), 71), &img), 0);
  EXPECT_EQ(PixelArgb(img, 7, 2), 0xFF5500AAu);
  ReleaseBaseImage(&img);

  // DXT3: explicit alpha nibbles; DXT5: interpolated alpha
  std::vector<uint8_t> dxt3 = {0x10, 0x32, 0, 0, 0, 0, 0, 0, 0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
  ASSERT_EQ(Decode(MakeDds(4, 4, 0x4, "DXT3", 0, 0, 0, 0, 0, dxt3), &img), 0);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0x00FF0000u);
  EXPECT_EQ(PixelArgb(img, 1, 0), 0x11FF0000u);
  EXPECT_EQ(PixelArgb(img, 3, 0), 0x33FF0000u);
  ReleaseBaseImage(&img);
  std::vector<uint8_t> dxt5 = {200, 100, 0x88, 0, 0, 0, 0, 0, 0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
  ASSERT_EQ(Decode(MakeDds(4, 4, 0x4, "DXT5", 0, 0, 0, 0, 0, dxt5), &img), 0);
  EXPECT_EQ(PixelArgb(img, 0, 0) >> 24, 200u);                      // code 0
  EXPECT_EQ(PixelArgb(img, 1, 0) >> 24, 100u);                      // code 1
  EXPECT_EQ(PixelArgb(img, 2, 0) >> 24, (6u * 200 + 1 * 100 + 3) / 7);  // code 2
  EXPECT_EQ(PixelArgb(img, 3, 0) >> 24, 200u);
  ReleaseBaseImage(&img);

  // uncompressed: channel order from the masks, tightly packed rows
  ASSERT_EQ(Decode(MakeDds(3, 1, 0x41, nullptr, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u,
                           {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
                   &img),
            0);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0x04010203u);
  EXPECT_EQ(PixelArgb(img, 2, 0), 0x0C090A0Bu);
  ReleaseBaseImage(&img);
  ASSERT_EQ(Decode(MakeDds(3, 1, 0x40, nullptr, 16, 0xF800, 0x7E0, 0x1F, 0, {0x1F, 0, 0xE0, 0x07, 0, 0xF8}), &img), 0);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0xFF0000FFu);
  EXPECT_EQ(PixelArgb(img, 1, 0), 0xFF00FF00u);
  EXPECT_EQ(PixelArgb(img, 2, 0), 0xFFFF0000u);
  ReleaseBaseImage(&img);

  // luminance, and luminance with alpha
  ASSERT_EQ(Decode(MakeDds(2, 1, 0x20000, nullptr, 8, 0xFF, 0, 0, 0, {7, 250}), &img), 0);
  EXPECT_EQ(PixelArgb(img, 1, 0), 0xFFFAFAFAu);
  ReleaseBaseImage(&img);
  ASSERT_EQ(Decode(MakeDds(1, 1, 0x20001, nullptr, 16, 0xFF, 0, 0, 0xFF00, {7, 99}), &img), 0);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0x63070707u);
  ReleaseBaseImage(&img);

  // refused: masks that overlap, masks all empty, an unknown block kind
  LogCaptureBegin();
  EXPECT_EQ(Decode(MakeDds(1, 1, 0x40, nullptr, 32, 0xFF00, 0xFFF0, 0xF, 0, {0, 0, 0, 0}), &img), -1);
  EXPECT_EQ(Decode(MakeDds(1, 1, 0x40, nullptr, 24, 0, 0, 0, 0, {0, 0, 0}), &img), -1);
  EXPECT_EQ(Decode(MakeDds(4, 4, 0x4, "ATI2", 0, 0, 0, 0, 0, std::vector<uint8_t>(16)), &img), -1);
  LogCaptureEnd();
}

Bytes BgraFile(uint32_t w, uint32_t h, size_t pixelBytes) {
  Bytes b;
  b.str("BGRA");
  b.u32(w);
  b.u32(h);
  for (size_t i = 0; i < pixelBytes; ++i) b.u8(static_cast<uint32_t>(i * 7));
  return b;
}

TEST_F(ImageReaders, BgraRawFormat) {
  BASEIMAGE img;
  ASSERT_EQ(Decode(BgraFile(3, 2, 24), &img), 0);
  EXPECT_EQ(PixelFormatHasAlpha(&img.ColorData), 1);
  EXPECT_EQ(PixelArgb(img, 0, 0), 0x150E0700u);  // bytes B, G, R, A = 0, 7, 14, 21
  EXPECT_EQ(PixelArgb(img, 2, 1), (uint32_t(23 * 7 & 255) << 24) | (uint32_t(22 * 7 & 255) << 16) |
                                      (uint32_t(21 * 7 & 255) << 8) | uint32_t(20 * 7 & 255));
  ReleaseBaseImage(&img);
}

// ---------------------------------------------------------------------------------------------
// Hostile input
// ---------------------------------------------------------------------------------------------

std::vector<std::pair<std::string, Bytes>> AllSmallFiles() {
  std::vector<std::pair<std::string, Bytes>> files;
  BmpSpec s;
  s.Width = 5;
  s.Height = 3;
  s.Bpp = 4;
  s.Palette = TestPalette(16);
  s.Data = BmpRows(5, 3, 4, [](int x, int y) { return uint32_t(x + y); });
  files.push_back({"bmp4", MakeBmp(s)});
  s.Bpp = 24;
  s.Palette.clear();
  s.Data = BmpRows(5, 3, 24, [](int x, int y) { return uint32_t(x * 0x010203 + y); });
  files.push_back({"bmp24", MakeBmp(s)});
  files.push_back({"bmp rle8", Rle8File()});
  files.push_back({"bmp rle4", Rle4File()});
  TgaSpec t;
  t.Width = 3;
  t.Height = 2;
  t.Data = TgaPixels24(false);
  files.push_back({"tga", MakeTga(t)});
  files.push_back({"tga rle", TgaRle24File()});
  files.push_back({"dds dxt1", MakeDds(8, 4, 0x4, "DXT1", 0, 0, 0, 0, 0, TwoDxt1Blocks())});
  files.push_back({"dds rgb", MakeDds(2, 2, 0x40, nullptr, 24, 0xFF0000, 0xFF00, 0xFF, 0, std::vector<uint8_t>(12, 9))});
  files.push_back({"bgra", BgraFile(2, 2, 16)});
  return files;
}

TEST_F(ImageReaders, TruncatedFilesAreRefused) {
  for (auto& [name, file] : AllSmallFiles()) {
    SCOPED_TRACE(name);
    BASEIMAGE img;
    ASSERT_EQ(Decode(file, &img), 0);
    ReleaseBaseImage(&img);
    LogCaptureBegin();
    for (size_t cut = 0; cut < file.size(); ++cut) {
      Bytes part;
      part.v.assign(file.v.begin(), file.v.begin() + cut);
      // a copy of exactly the prefix, so that a read past it is caught by the sanitizer
      std::vector<uint8_t> exact(part.v);
      ASSERT_EQ(CreateBaseImageToMem(nullptr, exact.data(), exact.size(), 1, &img, 0), -1) << "cut at " << cut;
      EXPECT_EQ(img.GraphData, nullptr);
    }
    LogCaptureEnd();
  }
}

TEST_F(ImageReaders, CorruptFilesNeverFault) {
#ifdef __SANITIZE_ADDRESS__
  const int kRounds = 150;
#else
  const int kRounds = 600;
#endif
  int fileIndex = 0;
  for (auto& [name, file] : AllSmallFiles()) {
    ++fileIndex;
    LogCaptureBegin();
    for (int round = 0; round < kRounds; ++round) {
      const uint32_t seed = fileIndex * 100000 + round;
      std::mt19937 rng(seed);
      std::vector<uint8_t> bad = file.v;
      int flips = 1 + rng() % 4;
      for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
      BASEIMAGE img;
      int r = CreateBaseImageToMem(nullptr, bad.data(), bad.size(), 1, &img, 0);
      ASSERT_TRUE(r == 0 || r == -1) << name << " seed " << seed;
      if (r == 0) {
        // whatever was accepted must be readable everywhere
        for (int y = 0; y < img.Height; ++y)
          for (int x = 0; x < img.Width; ++x) PixelArgb(img, x, y);
        ReleaseBaseImage(&img);
      } else {
        ASSERT_EQ(img.GraphData, nullptr);
      }
    }
    LogCaptureEnd();
  }
}

TEST_F(ImageReaders, AllocationFailuresLeaveNothing) {
  for (auto& [name, file] : AllSmallFiles()) {
    SCOPED_TRACE(name);
    LogCaptureBegin();
    int points = ForEachAllocationFailure([&] {
      BASEIMAGE img;
      if (Decode(file, &img) != 0) return false;
      ReleaseBaseImage(&img);
      return true;
    });
    LogCaptureEnd();
    EXPECT_GE(points, 1);
  }
}

// Sizes of 0 or above 32768 are refused before any allocation; 32768 itself is accepted.
TEST_F(ImageReaders, SideLimits) {
  BASEIMAGE img;
  LogCaptureBegin();
  for (auto wh : {std::pair<uint32_t, uint32_t>{0, 1}, {1, 0}, {32769, 1}, {1, 32769}, {0xFFFFFFFF, 0xFFFFFFFF}}) {
    uint64_t before = MemAllocAttempts();
    EXPECT_EQ(Decode(BgraFile(wh.first, wh.second, 64), &img), -1);
    EXPECT_EQ(MemAllocAttempts(), before) << wh.first << "x" << wh.second;
  }
  BmpSpec s;
  s.Width = 40000;
  s.Height = 1;
  s.Bpp = 8;
  s.Palette = TestPalette(2);
  uint64_t before = MemAllocAttempts();
  EXPECT_EQ(Decode(MakeBmp(s), &img), -1);
  EXPECT_EQ(MemAllocAttempts(), before);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find(" in CreateBaseImageToMem"), std::string::npos);

  ASSERT_EQ(Decode(BgraFile(32768, 1, 32768 * 4), &img), 0);
  EXPECT_EQ(img.Width, 32768);
  ReleaseBaseImage(&img);
}

TEST_F(ImageReaders, UnknownDataAndBadArguments) {
  BASEIMAGE img;
  const uint8_t junk[40] = {1, 2, 3};
  LogCaptureBegin();
  EXPECT_EQ(CreateBaseImageToMem(nullptr, junk, sizeof(junk), 1, &img, 0), -1);
  EXPECT_EQ(CreateBaseImageToMem(nullptr, nullptr, 0, 1, &img, 0), -1);
  EXPECT_EQ(CreateBaseImageToMem("/nonexistent/dir/file.bmp", nullptr, 0, 0, &img, 0), -1);
  EXPECT_EQ(CreateBaseImageToMem(nullptr, junk, sizeof(junk), 1, nullptr, 0), -1);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find(" in CreateBaseImageToMem"), std::string::npos);
}

// Each refusal writes its own one line, clears the image and holds no tracked memory; nothing to
// read (no data, and no file name or data said to be in memory) included.
TEST_F(ImageReaders, EachRefusalWritesItsLine) {
  const uint8_t junk[40] = {1, 2, 3};
  char fileOpen[256];
  std::snprintf(fileOpen, sizeof(fileOpen), TEXT_IMAGE_FILE_OPEN, "/nonexistent/dir/a.bmp");
  const struct {
    const char* name;
    const void* data;
    size_t size;
    int inMemory;
    std::string line;
  } cases[] = {
      {nullptr, nullptr, 0, 0, TEXT_IMAGE_NO_SOURCE},
      {nullptr, nullptr, 0, 1, TEXT_IMAGE_NO_SOURCE},
      {"a.bmp", nullptr, 0, 1, TEXT_IMAGE_NO_SOURCE},
      {nullptr, junk, sizeof(junk), 1, TEXT_IMAGE_UNKNOWN_FORMAT},
      {"/nonexistent/dir/a.bmp", nullptr, 0, 0, fileOpen},
  };
  for (const auto& c : cases) {
    const size_t live = MemLiveBlockCount();
    BASEIMAGE img;
    std::memset(&img, 0x5A, sizeof(img));
    LogCaptureBegin();
    EXPECT_EQ(CreateBaseImageToMem(c.name, c.data, c.size, c.inMemory, &img, 0), -1) << c.line;
    EXPECT_EQ(LogCaptureTextWithoutStamps(), c.line + "\r\n");
    LogCaptureEnd();
    EXPECT_EQ(img.GraphData, nullptr);
    EXPECT_EQ(img.Width, 0);
    EXPECT_EQ(MemLiveBlockCount(), live) << c.line;
  }
}

// ---------------------------------------------------------------------------------------------
// Small files describing large images
// ---------------------------------------------------------------------------------------------

// Tracked allocations made while decoding file (the reader's own state included); the result in
// *result.
uint64_t AllocationsDecoding(const Bytes& file, int* result) {
  BASEIMAGE img;
  uint64_t before = MemAllocAttempts();
  *result = Decode(file, &img);
  uint64_t used = MemAllocAttempts() - before;
  if (*result == 0) ReleaseBaseImage(&img);
  return used;
}

TEST_F(ImageReaders, TgaRunLengthTooShortForItsSizeIsRefusedBeforeAllocating) {
  TgaSpec s;
  s.Type = 10;
  s.Width = 32768;
  s.Height = 32768;
  s.Data = {0xFF, 1, 2, 3, 0xFF};  // 23 bytes in all, claiming 4 GB of pixels
  Bytes tiny = MakeTga(s);
  ASSERT_EQ(tiny.size(), 23u);
  int result;
  LogCaptureBegin();
  EXPECT_EQ(AllocationsDecoding(tiny, &result), 0u);
  EXPECT_EQ(result, -1);
  // 256 pixels need two packets of 1 + 3 bytes at the least: exactly that is decoded ...
  s.Width = 256;
  s.Height = 1;
  s.Data = {0xFF, 1, 2, 3, 0xFF, 4, 5, 6};
  BASEIMAGE img;
  ASSERT_EQ(Decode(MakeTga(s), &img), 0);
  EXPECT_EQ(PixelArgb(img, 127, 0), 0xFF030201u);
  EXPECT_EQ(PixelArgb(img, 128, 0), 0xFF060504u);
  ReleaseBaseImage(&img);
  // ... and a byte less is refused before the image is allocated.
  s.Data.pop_back();
  EXPECT_EQ(AllocationsDecoding(MakeTga(s), &result), 0u);
  EXPECT_EQ(result, -1);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find("TGA"), std::string::npos);
}

TEST_F(ImageReaders, BmpRunLengthIsCheckedWholeBeforeAllocating) {
  BmpSpec s;
  s.Width = 32768;
  s.Height = 32768;
  s.Bpp = 8;
  s.Compression = 1;
  s.Palette = TestPalette(16);
  // Runs and deltas over a gigabyte of pixels, but no end of bitmap: refused, nothing allocated.
  for (int i = 0; i < 120; ++i) s.Data.insert(s.Data.end(), {255, 1, 0, 2, 0, 255});
  int result;
  LogCaptureBegin();
  EXPECT_EQ(AllocationsDecoding(MakeBmp(s), &result), 0u);
  EXPECT_EQ(result, -1);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find("BMP"), std::string::npos);
  // A run past the row is refused the same way.
  s.Width = 4;
  s.Height = 2;
  s.Data = {0, 2, 2, 0, 3, 1, 0, 1};  // delta two right, then three pixels in a four-wide row
  LogCaptureBegin();
  EXPECT_EQ(AllocationsDecoding(MakeBmp(s), &result), 0u);
  EXPECT_EQ(result, -1);
  LogCaptureEnd();
  // So is an index past a short palette, in a run, in an absolute run or in a run's low nibble.
  s.Palette = TestPalette(4);
  for (auto data : {std::vector<uint8_t>{2, 4, 0, 1}, {0, 3, 1, 2, 5, 0, 0, 1}}) {
    s.Data = data;
    LogCaptureBegin();
    EXPECT_EQ(AllocationsDecoding(MakeBmp(s), &result), 0u);
    EXPECT_EQ(result, -1);
    LogCaptureEnd();
  }
  s.Bpp = 4;
  s.Compression = 2;
  for (auto data : {std::vector<uint8_t>{2, 0x14, 0, 1}, {1, 0x14, 0, 1}}) {
    s.Data = data;
    LogCaptureBegin();
    uint64_t allocations = AllocationsDecoding(MakeBmp(s), &result);
    EXPECT_EQ(result, data[0] == 2 ? -1 : 0);  // a run of one writes only the high nibble
    EXPECT_TRUE(result == 0 || allocations == 0u);
    LogCaptureEnd();
  }
  s.Bpp = 8;
  s.Compression = 1;
  s.Palette = TestPalette(16);
  // End-of-bitmap and delta codes may leave most of a large image unset: still accepted, as 0.
  s.Width = 4096;
  s.Height = 2048;
  s.Data = {0, 2, 255, 255, 3, 9, 0, 1};
  BASEIMAGE img;
  ASSERT_EQ(Decode(MakeBmp(s), &img), 0);
  const uint8_t* px = static_cast<const uint8_t*>(img.GraphData);
  EXPECT_EQ(px[static_cast<size_t>(2047 - 255) * img.Pitch + 255], 9);
  EXPECT_EQ(px[static_cast<size_t>(2047 - 255) * img.Pitch + 258], 0);
  EXPECT_EQ(px[0], 0);
  ReleaseBaseImage(&img);
}

// A baseline JPEG of a w x h test picture, made by the engine's writer.
Bytes MakeJpeg(int w, int h) {
  BASEIMAGE src;
  EXPECT_EQ(CreateXRGB8ColorBaseImage(w, h, &src), 0);
  FillTestPicture(&src, false);
  EXPECT_EQ(SaveBaseImageToJpeg("made.jpg", &src, 90), 0);
  ReleaseBaseImage(&src);
  Bytes b;
  b.v = ReadFileBytes("made.jpg");
  std::remove("made.jpg");
  return b;
}

// Offset of the first byte after marker FF m's segment (its length included), or 0.
size_t AfterSegment(const Bytes& b, uint8_t m) {
  for (size_t i = 2; i + 3 < b.size(); ++i)
    if (b.v[i] == 0xFF && b.v[i + 1] == m) return i + 2 + (b.v[i + 2] << 8 | b.v[i + 3]);
  return 0;
}

TEST_F(ImageReaders, JpegWhoseDataEndsEarlyIsRefused) {
  Bytes whole = MakeJpeg(96, 80);
  BASEIMAGE img;
  ASSERT_EQ(Decode(whole, &img), 0);
  ReleaseBaseImage(&img);
  const size_t scan = AfterSegment(whole, 0xDA), end = whole.size() - 2;
  ASSERT_GT(scan, 0u);
  ASSERT_EQ(whole.v[end], 0xFF);
  // The coded data cut at several points and closed by an end marker: the library pads the rest
  // and warns; the reader refuses, logs, and keeps nothing.
  for (size_t cut : {scan + 1, scan + (end - scan) / 3, end - 40, end - 2}) {
    SCOPED_TRACE(cut);
    Bytes part;
    part.v.assign(whole.v.begin(), whole.v.begin() + cut);
    if (part.v.back() == 0xFF) part.v.pop_back();
    part.v.push_back(0xFF);
    part.v.push_back(0xD9);
    LogCaptureBegin();
    EXPECT_EQ(Decode(part, &img), -1);
    std::string log = LogCaptureEnd();
    EXPECT_NE(log.find("JPEG"), std::string::npos);
    EXPECT_EQ(img.GraphData, nullptr);
  }
  // Extraneous bytes before a marker are recovered from whole: accepted, as before.
  Bytes junk = whole;
  const size_t dqt = AfterSegment(whole, 0xDB);
  ASSERT_GT(dqt, 0u);
  junk.v.insert(junk.v.begin() + dqt, {0x12, 0x34, 0x56});
  ASSERT_EQ(Decode(junk, &img), 0);
  EXPECT_EQ(img.Width, 96);
  ReleaseBaseImage(&img);
}

// A JPEG with a restart marker after every row of blocks, written by the library itself from
// seeded noise (so every interval has plenty of coded bytes). Grey, or colour with every
// component at full size: no upsampling, so whatever happens to one interval stays in its 8 rows.
Bytes MakeRestartJpeg(int w, int h, int components, bool progressive, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * components);
  for (uint8_t& p : pixels) p = static_cast<uint8_t>(rng());
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&c, &out, &outSize);
  c.image_width = static_cast<JDIMENSION>(w);
  c.image_height = static_cast<JDIMENSION>(h);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  if (progressive) jpeg_simple_progression(&c);
  c.restart_in_rows = 1;
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < h; ++y) {
    JSAMPROW row = pixels.data() + static_cast<size_t>(y) * w * components;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes b;
  b.v.assign(out, out + outSize);
  std::free(out);
  return b;
}

// Offsets of the restart markers of the first scan, in order.
std::vector<size_t> RestartMarkers(const Bytes& b, size_t scan) {
  std::vector<size_t> at;
  for (size_t i = scan; i + 1 < b.size(); ++i) {
    if (b.v[i] != 0xFF || b.v[i + 1] == 0x00 || b.v[i + 1] == 0xFF) continue;
    if (b.v[i + 1] < 0xD0 || b.v[i + 1] > 0xD7) break;
    at.push_back(i);
  }
  return at;
}

struct LibJpegErrors {
  jpeg_error_mgr Pub;
  jmp_buf Jump;
};

// libjpeg's own decode of a grey or colour file: its memory source, its own recovery from damage,
// its messages dropped. Fills `rows` (w * components bytes each) and returns the number of
// warnings, or -1 where the library gives up. Holds nothing with a destructor across the jump.
long LibJpegDecodeRows(const Bytes& file, std::vector<uint8_t>* rows) {
  jpeg_decompress_struct d;
  LibJpegErrors err;
  d.err = jpeg_std_error(&err.Pub);
  err.Pub.error_exit = [](j_common_ptr c) { longjmp(reinterpret_cast<LibJpegErrors*>(c->err)->Jump, 1); };
  err.Pub.output_message = [](j_common_ptr) {};
  if (setjmp(err.Jump)) {
    jpeg_destroy_decompress(&d);
    return -1;
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.v.data(), static_cast<unsigned long>(file.size()));
  jpeg_read_header(&d, TRUE);
  jpeg_start_decompress(&d);
  const size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
  rows->assign(stride * d.output_height, 0);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = rows->data() + d.output_scanline * stride;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  const long warnings = err.Pub.num_warnings;
  jpeg_destroy_decompress(&d);
  return warnings;
}

// Whether the engine's pixels are libjpeg's decode of the same bytes, grey or colour; names the
// first pixel that differs. `warned` tells whether the library warned on its way (damage it
// recovered from).
testing::AssertionResult SameAsLibJpeg(const Bytes& file, const BASEIMAGE& img, int components,
                                       bool* warned) {
  std::vector<uint8_t> rows;
  const long warnings = LibJpegDecodeRows(file, &rows);
  if (warnings < 0) return testing::AssertionFailure() << "libjpeg gave up";
  *warned = warnings > 0;
  if (rows.size() != static_cast<size_t>(img.Width) * img.Height * components)
    return testing::AssertionFailure() << "libjpeg decoded " << rows.size() << " bytes";
  for (int y = 0; y < img.Height; ++y)
    for (int x = 0; x < img.Width; ++x) {
      const uint8_t* p = rows.data() + (static_cast<size_t>(y) * img.Width + x) * components;
      const uint32_t r = p[0], g = p[components == 1 ? 0 : 1], b = p[components == 1 ? 0 : 2];
      const uint32_t expected = 0xFF000000u | r << 16 | g << 8 | b, got = PixelArgb(img, x, y);
      if (got != expected)
        return testing::AssertionFailure(testing::Message() << "pixel " << x << "," << y << ": " << std::hex
                                                            << got << " where libjpeg has " << expected);
    }
  return testing::AssertionSuccess();
}

TEST_F(ImageReaders, JpegIntervalEndingEarlyAtItsRestartMarkerLoads) {
  struct Kind {
    const char* Name;
    int Components;
    bool Progressive;
  };
  const Kind kinds[] = {{"grey", 1, false}, {"colour", 3, false}, {"progressive colour", 3, true}};
  // What follows the first third of one interval's coded bytes: the rest of the file from its
  // restart marker on (damaged, recovered from), an end marker (the image stops before its last
  // row), nothing (the data ends), or an earlier interval's restart marker and then the end
  // marker (the library searches on from the stale marker and meets the end of the image).
  enum Rest { kFromMarker, kEndMarker, kNothing, kStaleMarkerThenEnd };
  // Twelve intervals, so eleven markers: RST0 to RST7, then RST0 to RST2 again. The damaged
  // interval is the first, one in the middle, the one RST7 ends, the one the second RST0 ends,
  // the one after the second RST0 (the numbering has wrapped), and the last one a marker ends.
  const int w = 64, h = 96;
  uint32_t seed = 29;
  for (const Kind& kind : kinds) {
    const Bytes whole = MakeRestartJpeg(w, h, kind.Components, kind.Progressive, ++seed);
    BASEIMAGE good;
    ASSERT_EQ(Decode(whole, &good), 0) << kind.Name;
    bool warned = true;
    EXPECT_TRUE(SameAsLibJpeg(whole, good, kind.Components, &warned)) << kind.Name;
    EXPECT_FALSE(warned) << kind.Name;
    const size_t scan = AfterSegment(whole, 0xDA);
    const std::vector<size_t> markers = RestartMarkers(whole, scan);
    ASSERT_EQ(markers.size(), static_cast<size_t>(h / 8 - 1)) << kind.Name;
    for (size_t k = 0; k < markers.size(); ++k) ASSERT_EQ(whole.v[markers[k] + 1], 0xD0 + (k & 7)) << k;
    for (Rest rest : {kFromMarker, kEndMarker, kNothing, kStaleMarkerThenEnd}) {
      for (size_t k : {size_t{0}, size_t{3}, size_t{7}, size_t{8}, size_t{9}, markers.size() - 1}) {
        SCOPED_TRACE(std::string(kind.Name) + " rest " + std::to_string(rest) + " interval " + std::to_string(k));
        const size_t begin = k == 0 ? scan : markers[k - 1] + 2, end = markers[k];
        size_t cut = begin + (end - begin) / 3;
        while (whole.v[cut - 1] == 0xFF) ++cut;  // keep a stuffed FF 00 whole
        Bytes damaged;
        damaged.v.assign(whole.v.begin(), whole.v.begin() + cut);
        if (rest == kFromMarker) damaged.v.insert(damaged.v.end(), whole.v.begin() + end, whole.v.end());
        if (rest == kStaleMarkerThenEnd) damaged.v.insert(damaged.v.end(), {0xFF, uint8_t(0xD0 + ((k - 1) & 7))});
        if (rest != kFromMarker && rest != kNothing) damaged.v.insert(damaged.v.end(), {0xFF, 0xD9});
        BASEIMAGE img;
        LogCaptureBegin();
        const int result = Decode(damaged, &img);
        const std::string log = LogCaptureEnd();
        if (rest != kFromMarker) {
          EXPECT_EQ(result, -1);
          EXPECT_NE(log.find("JPEG"), std::string::npos);
          EXPECT_EQ(img.GraphData, nullptr);
          if (result == 0) ReleaseBaseImage(&img);
          continue;
        }
        ASSERT_EQ(result, 0) << log;
        EXPECT_EQ(log, "");
        ASSERT_EQ(img.Width, w);
        ASSERT_EQ(img.Height, h);
        // Every other band decodes as in the whole file; the damaged one does not.
        const int band = static_cast<int>(k) * 8;
        bool bandDiffers = false;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const bool same = PixelArgb(img, x, y) == PixelArgb(good, x, y);
            if (y >= band && y < band + 8)
              bandDiffers |= !same;
            else if (!same)
              ADD_FAILURE() << "pixel " << x << "," << y << " outside the damaged band";
          }
        EXPECT_TRUE(bandDiffers);
        // And the whole image is what libjpeg itself makes of the damaged bytes, after warning.
        warned = false;
        EXPECT_TRUE(SameAsLibJpeg(damaged, img, kind.Components, &warned));
        EXPECT_TRUE(warned);
        ReleaseBaseImage(&img);
      }
    }
    ReleaseBaseImage(&good);
  }
}

TEST_F(ImageReaders, JpegTooShortForItsSizeIsRefusedBeforeAllocating) {
  Bytes file = MakeJpeg(16, 16);
  // The frame header's height and width (big-endian) raised to 32768 x 32768: at two bits per
  // block, 6 MB of coded data at the least, in a file of a few hundred bytes.
  size_t sof = 0;
  for (size_t i = 2; i + 8 < file.size() && !sof; ++i)
    if (file.v[i] == 0xFF && file.v[i + 1] == 0xC0) sof = i;
  ASSERT_GT(sof, 0u);
  for (size_t k : {sof + 5, sof + 7}) {
    file.v[k] = 0x80;
    file.v[k + 1] = 0x00;
  }
  int result;
  LogCaptureBegin();
  EXPECT_EQ(AllocationsDecoding(file, &result), 1u);  // the reader's own state only
  EXPECT_EQ(result, -1);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find("JPEG"), std::string::npos);
}

}  // namespace
