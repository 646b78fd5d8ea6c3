// Base image creation, scaling against a per-pixel model, and the BMP, PNG and JPEG writers
// through the readers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include "tests/image/image_test_files.h"
#include "tests/support/test_support.h"

namespace {

class BaseImages : public LeakCheckedTest {};

PIXELFORMAT Format(int depth, uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  PIXELFORMAT f;
  std::memset(&f, 0, sizeof(f));
  BuildPixelFormatFromMasks(&f, depth, r, g, b, a);
  return f;
}

TEST_F(BaseImages, CreateAndRelease) {
  BASEIMAGE img;
  ASSERT_EQ(CreateXRGB8ColorBaseImage(5, 3, &img), 0);
  EXPECT_EQ(img.Width, 5);
  EXPECT_EQ(img.Height, 3);
  EXPECT_EQ(img.Pitch, 20);
  EXPECT_EQ(img.ColorData.ColorBitDepth, 32);
  EXPECT_EQ(img.ColorData.RedMask, 0xFF0000u);
  EXPECT_EQ(img.ColorData.AlphaMask, 0u);
  ReleaseBaseImage(&img);
  EXPECT_EQ(img.GraphData, nullptr);
  EXPECT_EQ(ReleaseBaseImage(&img), 0);  // twice is harmless

  // rows padded to 4 bytes
  PIXELFORMAT bgr = Format(24, 0xFF0000, 0xFF00, 0xFF, 0);
  ASSERT_EQ(CreateBaseImageOfFormat(5, 2, &bgr, &img), 0);
  EXPECT_EQ(img.Pitch, 16);
  ReleaseBaseImage(&img);

  // the palette goes with the format; blocks become A8R8G8B8
  PIXELFORMAT pal = Format(8, 0xFF0000, 0xFF00, 0xFF, 0);
  pal.Palette[3] = {1, 2, 3, 0};
  ASSERT_EQ(CreateBaseImageOfFormat(2, 2, &pal, &img), 0);
  EXPECT_EQ(img.ColorData.Palette[3].g, 2);
  ReleaseBaseImage(&img);
  PIXELFORMAT dxt = Format(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  dxt.DxtFormat = 5;
  ASSERT_EQ(CreateBaseImageOfFormat(3, 3, &dxt, &img), 0);
  EXPECT_EQ(img.ColorData.DxtFormat, 0);
  EXPECT_EQ(img.ColorData.AlphaMask, 0xFF000000u);
  ReleaseBaseImage(&img);

  EXPECT_EQ(CreateXRGB8ColorBaseImage(0, 3, &img), -1);
  EXPECT_EQ(CreateXRGB8ColorBaseImage(32769, 3, &img), -1);
  MemSetFailAt(1);
  EXPECT_EQ(CreateXRGB8ColorBaseImage(4, 4, &img), -1);
  EXPECT_EQ(img.GraphData, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Scaling
// ---------------------------------------------------------------------------------------------

struct Px {
  uint32_t c[4];  // b, g, r, a
};

// The bilinear rule written out: sample position in 1/256 pixel, clamped, 8-bit weights.
uint32_t RefBilinear(const std::vector<uint32_t>& src, int sw, int sh, int dw, int dh, int x, int y) {
  auto axis = [](int d, int s, int dsize, int* i0, int* i1, int* f) {
    long pos = static_cast<long>(std::floor((d + 0.5) * s * 256.0 / dsize)) - 128;
    long whole = static_cast<long>(std::floor(pos / 256.0));
    long frac = pos - whole * 256;
    if (whole < 0) { whole = 0; frac = 0; }
    if (whole >= s - 1) { whole = s - 1; frac = 0; }
    *i0 = static_cast<int>(whole);
    *i1 = static_cast<int>(std::min<long>(whole + 1, s - 1));
    *f = static_cast<int>(frac);
  };
  int x0, x1, fx, y0, y1, fy;
  axis(x, sw, dw, &x0, &x1, &fx);
  axis(y, sh, dh, &y0, &y1, &fy);
  uint32_t out = 0;
  for (int k = 0; k < 4; ++k) {
    auto ch = [&](int xx, int yy) { return static_cast<long>((src[yy * sw + xx] >> (8 * k)) & 255); };
    long top = ch(x0, y0) * (256 - fx) + ch(x1, y0) * fx;
    long bottom = ch(x0, y1) * (256 - fx) + ch(x1, y1) * fx;
    long v = (top * (256 - fy) + bottom * fy + 32768) / 65536;
    out |= static_cast<uint32_t>(v) << (8 * k);
  }
  return out;
}

uint32_t RefNearest(const std::vector<uint32_t>& src, int sw, int sh, int dw, int dh, int x, int y) {
  int sx = static_cast<int>(std::floor((x + 0.5) * sw / dw));
  int sy = static_cast<int>(std::floor((y + 0.5) * sh / dh));
  return src[sy * sw + sx];
}

TEST_F(BaseImages, StretchAgainstModel) {
#ifdef __SANITIZE_ADDRESS__
  const int kCases = 25;
#else
  const int kCases = 120;
#endif
  for (int n = 0; n < kCases; ++n) {
    const uint32_t seed = 9000 + n;
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const int srcImgW = 1 + rng() % 20, srcImgH = 1 + rng() % 20;
    const int sw = 1 + rng() % srcImgW, sh = 1 + rng() % srcImgH;
    const int sx = rng() % (srcImgW - sw + 1), sy = rng() % (srcImgH - sh + 1);
    const int dw = 1 + rng() % 40, dh = 1 + rng() % 40;
    const int destImgW = dw + rng() % 4, destImgH = dh + rng() % 4;
    const int dx = rng() % (destImgW - dw + 1), dy = rng() % (destImgH - dh + 1);
    const int filter = rng() % 2;
    PIXELFORMAT argb = Format(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    BASEIMAGE src, dst;
    ASSERT_EQ(CreateBaseImageOfFormat(srcImgW, srcImgH, &argb, &src), 0);
    ASSERT_EQ(CreateBaseImageOfFormat(destImgW, destImgH, &argb, &dst), 0);
    for (int y = 0; y < srcImgH; ++y)
      for (int x = 0; x < srcImgW; ++x) SetPixelBaseImage(&src, x, y, rng() % 256, rng() % 256, rng() % 256, rng() % 256);
    for (int y = 0; y < destImgH; ++y)
      for (int x = 0; x < destImgW; ++x) SetPixelBaseImage(&dst, x, y, 1, 2, 3, 4);
    std::vector<uint32_t> rect(sw * sh);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) rect[y * sw + x] = PixelArgb(src, sx + x, sy + y);

    ASSERT_EQ(BltBaseImageStretch(sx, sy, sw, sh, &src, dx, dy, dw, dh, &dst, filter), 0);
    for (int y = 0; y < destImgH; ++y)
      for (int x = 0; x < destImgW; ++x) {
        bool inside = x >= dx && y >= dy && x < dx + dw && y < dy + dh;
        uint32_t want = !inside ? 0x04010203u
                        : filter ? RefBilinear(rect, sw, sh, dw, dh, x - dx, y - dy)
                                 : RefNearest(rect, sw, sh, dw, dh, x - dx, y - dy);
        ASSERT_EQ(PixelArgb(dst, x, y), want) << x << "," << y << " filter " << filter;
      }
    ReleaseBaseImage(&src);
    ReleaseBaseImage(&dst);
  }
}

// A non-power-of-two texture scaled to the next powers of two, from palettised, 5:6:5 and
// block sources; a palettised destination takes indices and palette.
TEST_F(BaseImages, StretchOtherFormats) {
  PIXELFORMAT pal = Format(8, 0xFF0000, 0xFF00, 0xFF, 0);
  for (int i = 0; i < 256; ++i) pal.Palette[i] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 0};
  BASEIMAGE src, dst;
  ASSERT_EQ(CreateBaseImageOfFormat(100, 60, &pal, &src), 0);
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) static_cast<uint8_t*>(src.GraphData)[y * src.Pitch + x] = uint8_t(x + y);

  PIXELFORMAT x565 = Format(16, 0xF800, 0x7E0, 0x1F, 0);
  ASSERT_EQ(CreateBaseImageOfFormat(128, 64, &x565, &dst), 0);
  ASSERT_EQ(BltBaseImageStretch(0, 0, 100, 60, &src, 0, 0, 128, 64, &dst, 1), 0);
  // corners are exact copies of the source corners (clamped), narrowed to 5:6:5
  int r, g, b, a;
  GetPixelBaseImage(&dst, 0, 0, &r, &g, &b, &a);
  EXPECT_EQ(g, 255);
  EXPECT_EQ(r, 0);
  ReleaseBaseImage(&dst);

  ASSERT_EQ(CreateBaseImageOfFormat(128, 64, &pal, &dst), 0);
  std::memset(dst.ColorData.Palette, 0, sizeof(dst.ColorData.Palette));
  ASSERT_EQ(BltBaseImageStretch(0, 0, 100, 60, &src, 0, 0, 128, 64, &dst, 1), 0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 128; ++x) {
      int sx = (2 * x + 1) * 100 / 256, sy = (2 * y + 1) * 60 / 128;
      ASSERT_EQ(static_cast<uint8_t*>(dst.GraphData)[y * dst.Pitch + x], uint8_t(sx + sy)) << x << "," << y;
    }
  EXPECT_EQ(dst.ColorData.Palette[7].r, 21);
  ReleaseBaseImage(&dst);

  // a direct-colour source cannot fill a palettised image; rectangles must lie inside
  PIXELFORMAT argb = Format(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  BASEIMAGE direct;
  ASSERT_EQ(CreateBaseImageOfFormat(4, 4, &argb, &direct), 0);
  ASSERT_EQ(CreateBaseImageOfFormat(4, 4, &pal, &dst), 0);
  EXPECT_EQ(BltBaseImageStretch(0, 0, 4, 4, &direct, 0, 0, 4, 4, &dst, 1), -1);
  ReleaseBaseImage(&dst);
  ASSERT_EQ(CreateBaseImageOfFormat(4, 4, &argb, &dst), 0);
  EXPECT_EQ(BltBaseImageStretch(0, 0, 5, 4, &direct, 0, 0, 4, 4, &dst, 1), -1);
  EXPECT_EQ(BltBaseImageStretch(0, 0, 4, 4, &direct, 1, 0, 4, 4, &dst, 1), -1);
  EXPECT_EQ(BltBaseImageStretch(0, 0, 0, 4, &direct, 0, 0, 4, 4, &dst, 1), -1);

  // block source: a 4x4 DXT1 block of one colour stays that colour at any size
  PIXELFORMAT dxt = argb;
  dxt.DxtFormat = 1;
  uint8_t block[8] = {0x00, 0xF8, 0x00, 0xF8, 0, 0, 0, 0};
  BASEIMAGE blocks = {dxt, 4, 4, 8, block};
  ASSERT_EQ(BltBaseImageStretch(0, 0, 4, 4, &blocks, 0, 0, 4, 4, &dst, 1), 0);
  EXPECT_EQ(PixelArgb(dst, 3, 3), 0xFFFF0000u);

  // allocation failures leave nothing behind
  int points = ForEachAllocationFailure([&] { return BltBaseImageStretch(0, 0, 4, 4, &direct, 0, 0, 4, 4, &dst, 1) == 0; });
  EXPECT_EQ(points, 1);
  ReleaseBaseImage(&dst);
  ReleaseBaseImage(&direct);
  ReleaseBaseImage(&src);
}

// ---------------------------------------------------------------------------------------------
// Writers
// ---------------------------------------------------------------------------------------------

int LoadFile(const std::string& path, BASEIMAGE* img) {
  std::vector<uint8_t> data = ReadFileBytes(path);
  return CreateBaseImageToMem(nullptr, data.data(), data.size(), 1, img, 0);
}

TEST_F(BaseImages, LosslessRoundTrips) {
  PIXELFORMAT argb = Format(32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
  PIXELFORMAT x565 = Format(16, 0xF800, 0x7E0, 0x1F, 0);
  PIXELFORMAT pal = Format(8, 0xFF0000, 0xFF00, 0xFF, 0);
  for (int i = 0; i < 256; ++i) pal.Palette[i] = {uint8_t(i * 5), uint8_t(i), uint8_t(255 - i), 0};
  struct Case {
    const char* Name;
    const PIXELFORMAT* F;
    bool Alpha;
  };
  const Case cases[] = {{"argb", &argb, true}, {"565", &x565, false}, {"palette", &pal, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    BASEIMAGE img;
    ASSERT_EQ(CreateBaseImageOfFormat(37, 21, c.F, &img), 0);
    FillTestPicture(&img, c.Alpha);
    for (const char* ext : {"png", "bmp"}) {
      std::string path = std::string("roundtrip_") + c.Name + "." + ext;
      int w = std::string(ext) == "png" ? SaveBaseImageToPng(path.c_str(), &img, 6)
                                        : SaveBaseImageToBmp(path.c_str(), &img);
      ASSERT_EQ(w, 0) << ext;
      BASEIMAGE back;
      ASSERT_EQ(LoadFile(path, &back), 0) << ext;
      ASSERT_EQ(back.Width, 37);
      ASSERT_EQ(back.Height, 21);
      const bool keepsAlpha = c.Alpha && std::string(ext) == "png";
      EXPECT_EQ(PixelFormatHasAlpha(&back.ColorData), keepsAlpha ? 1 : 0);
      for (int y = 0; y < 21; ++y)
        for (int x = 0; x < 37; ++x) {
          uint32_t want = PixelArgb(img, x, y);
          if (!keepsAlpha) want |= 0xFF000000u;
          ASSERT_EQ(PixelArgb(back, x, y), want) << ext << " " << x << "," << y;
        }
      ReleaseBaseImage(&back);
      std::remove(path.c_str());
    }
    ReleaseBaseImage(&img);
  }
}

TEST_F(BaseImages, JpegRoundTripAndFilePath) {
  BASEIMAGE img;
  ASSERT_EQ(CreateXRGB8ColorBaseImage(64, 48, &img), 0);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) SetPixelBaseImage(&img, x, y, x * 4, y * 5, (x + y) * 2, 255);
  ASSERT_EQ(SaveBaseImageToJpeg("roundtrip.jpg", &img, 95), 0);
  BASEIMAGE back;
  // the file-name form of the reader
  ASSERT_EQ(CreateBaseImageToMem("roundtrip.jpg", nullptr, 0, 0, &back, 0), 0);
  ASSERT_EQ(back.Width, 64);
  ASSERT_EQ(back.Height, 48);
  double total = 0;
  int worst = 0;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      uint32_t a = PixelArgb(img, x, y), b = PixelArgb(back, x, y);
      EXPECT_EQ(b >> 24, 255u);
      for (int k = 0; k < 24; k += 8) {
        int d = std::abs(int((a >> k) & 255) - int((b >> k) & 255));
        total += d;
        worst = std::max(worst, d);
      }
    }
  EXPECT_LT(total / (64 * 48 * 3), 1.5);
  EXPECT_LT(worst, 12);
  ReleaseBaseImage(&back);
  ReleaseBaseImage(&img);
  std::remove("roundtrip.jpg");
}

// Written files cut short are refused; their bytes bounded the reads.
TEST_F(BaseImages, TruncatedWrittenFilesAreRefused) {
  BASEIMAGE img;
  ASSERT_EQ(CreateXRGB8ColorBaseImage(19, 11, &img), 0);
  FillTestPicture(&img, false);
  ASSERT_EQ(SaveBaseImageToPng("cut.png", &img, 9), 0);
  ASSERT_EQ(SaveBaseImageToJpeg("cut.jpg", &img, 80), 0);
  ReleaseBaseImage(&img);
  for (const char* path : {"cut.png", "cut.jpg"}) {
    std::vector<uint8_t> file = ReadFileBytes(path);
    ASSERT_GT(file.size(), 100u);
    LogCaptureBegin();
    for (size_t cut = 0; cut < file.size(); cut += (cut < 64 || cut + 64 > file.size()) ? 1 : 7) {
      std::vector<uint8_t> part(file.begin(), file.begin() + cut);
      ASSERT_EQ(CreateBaseImageToMem(nullptr, part.data(), part.size(), 1, &img, 0), -1) << path << " cut " << cut;
    }
    LogCaptureEnd();
    // and every allocation failure of a good decode is survived
    EXPECT_GE(ForEachAllocationFailure([&] {
                BASEIMAGE ok;
                LogCaptureBegin();
                int r = CreateBaseImageToMem(nullptr, file.data(), file.size(), 1, &ok, 0);
                LogCaptureEnd();
                ReleaseBaseImage(&ok);
                return r == 0;
              }),
              1);
    std::remove(path);
  }
}

TEST_F(BaseImages, WriterFailures) {
  BASEIMAGE img;
  ASSERT_EQ(CreateXRGB8ColorBaseImage(4, 4, &img), 0);
  FillTestPicture(&img, false);
  LogCaptureBegin();
  EXPECT_EQ(SaveBaseImageToPng("/nonexistent-dir/x.png", &img, -1), -1);
  EXPECT_EQ(SaveBaseImageToJpeg("/nonexistent-dir/x.jpg", &img, 90), -1);
  EXPECT_EQ(SaveBaseImageToBmp("/nonexistent-dir/x.bmp", &img), -1);
  BASEIMAGE empty = {};
  EXPECT_EQ(SaveBaseImageToBmp("empty.bmp", &empty), -1);
  std::string log = LogCaptureEnd();
  EXPECT_NE(log.find("/nonexistent-dir/x.png"), std::string::npos);
  EXPECT_NE(log.find(" in SaveBaseImageToPng"), std::string::npos);
  EXPECT_NE(log.find(" in SaveBaseImageToJpeg"), std::string::npos);
  EXPECT_NE(log.find(" in SaveBaseImageToBmp"), std::string::npos);

  for (int which = 0; which < 3; ++which) {
    LogCaptureBegin();
    ForEachAllocationFailure([&] {
      return (which == 0   ? SaveBaseImageToPng("fail.png", &img, 1)
              : which == 1 ? SaveBaseImageToJpeg("fail.jpg", &img, 50)
                           : SaveBaseImageToBmp("fail.bmp", &img)) == 0;
    });
    LogCaptureEnd();
  }
  std::remove("fail.png");
  std::remove("fail.jpg");
  std::remove("fail.bmp");
  ReleaseBaseImage(&img);
}

}  // namespace
