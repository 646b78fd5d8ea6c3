// BltBaseImageStretch against the first-written per-pixel model (tests/support/ref_image_stretch):
// every pair of formats, sizes up, down and 1:1 on each axis, odd widths, rectangles inside
// larger images, both filters, on each kernel set (best, SSE2, scalar). Results, every byte of
// the destination image (rows, padding, outside the rectangle) and the palette must be equal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include "tests/support/ref_image_stretch.h"
#include "tests/support/test_support.h"

namespace {

class ImageStretch : public LeakCheckedTest {
 protected:
  void TearDown() override {
    ImageStretchKernels = 0;
    LeakCheckedTest::TearDown();
  }
};

struct FormatDesc {
  const char* name;
  int depth;
  uint32_t r, g, b, a;
  int dxt;  // block-compressed source (destinations never are)
};

PIXELFORMAT Make(const FormatDesc& s) {
  PIXELFORMAT f;
  std::memset(&f, 0, sizeof(f));
  BuildPixelFormatFromMasks(&f, s.depth, s.r, s.g, s.b, s.a);
  f.DxtFormat = s.dxt;
  return f;
}

// An image of random bytes (and a random palette) of the given size.
BASEIMAGE RandomImage(const FormatDesc& desc, int w, int h, std::mt19937& rng) {
  PIXELFORMAT f = Make(desc);
  for (auto& e : f.Palette) e = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
  BASEIMAGE img;
  EXPECT_EQ(AllocBaseImagePixels(&img, w, h, &f), 0);
  const size_t rows = desc.dxt ? size_t(h + 3) / 4 : size_t(h);
  uint8_t* p = static_cast<uint8_t*>(img.GraphData);
  for (size_t i = 0; i < rows * size_t(img.Pitch); ++i) p[i] = uint8_t(rng());
  return img;
}

size_t ImageBytes(const BASEIMAGE& img) { return size_t(img.Pitch) * img.Height; }

const FormatDesc kARGB = {"A8R8G8B8", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0};
const FormatDesc kXRGB = {"X8R8G8B8", 32, 0xFF0000, 0xFF00, 0xFF, 0, 0};
const FormatDesc kABGR = {"A8B8G8R8", 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, 0};
const FormatDesc kRGBX = {"R8G8B8X8", 32, 0xFF000000u, 0xFF0000, 0xFF00, 0, 0};
const FormatDesc kBGR24 = {"B8G8R8", 24, 0xFF0000, 0xFF00, 0xFF, 0, 0};
const FormatDesc kRGB24 = {"R8G8B8", 24, 0xFF, 0xFF00, 0xFF0000, 0, 0};
const FormatDesc kGA24 = {"G8A8 and a spare byte", 24, 0, 0xFF00, 0, 0xFF, 0};
const FormatDesc kA2R10 = {"A2R10G10B10", 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u, 0};
const FormatDesc kR6G8B8 = {"R6G8B8 in 24 bits", 24, 0xFC0000, 0xFF00, 0xFF, 0, 0};
const FormatDesc k565 = {"R5G6B5", 16, 0xF800, 0x7E0, 0x1F, 0, 0};
const FormatDesc k1555 = {"A1R5G5B5", 16, 0x7C00, 0x3E0, 0x1F, 0x8000, 0};
const FormatDesc kGrey8 = {"single channel 8", 8, 0xFF, 0xFF, 0xFF, 0xFF, 0};
const FormatDesc kGrey32 = {"single channel 32", 32, 0xFF, 0xFF, 0xFF, 0xFF, 0};
const FormatDesc kPal = {"palette", 8, 0xFF0000, 0xFF00, 0xFF, 0, 0};
const FormatDesc kDxt1 = {"DXT1", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 1};
const FormatDesc kDxt5 = {"DXT5", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 5};

struct Pair {
  FormatDesc src, dest;
};
const Pair kPairs[] = {
    // the same byte-channel format: mixed in place
    {kARGB, kARGB}, {kXRGB, kXRGB}, {kABGR, kABGR}, {kRGBX, kRGBX}, {kBGR24, kBGR24},
    {kRGB24, kRGB24}, {kGA24, kGA24},
    // through the A8R8G8B8 work images
    {kA2R10, kA2R10}, {kR6G8B8, kR6G8B8}, {k565, k565}, {k1555, k1555}, {kGrey8, kGrey8}, {kGrey32, kGrey32}, {kARGB, kXRGB},
    {kXRGB, kARGB}, {kBGR24, kARGB}, {kARGB, kBGR24}, {kPal, kARGB}, {kDxt1, kARGB},
    {kDxt5, kBGR24}, {k565, kARGB},
    // palettised destination: nearest indices
    {kPal, kPal}};

// One side's size: up, down or 1:1 against a source side, sometimes tiny or odd.
int DestSide(int srcSide, std::mt19937& rng) {
  switch (rng() % 5) {
    case 0: return srcSide;                                     // 1:1
    case 1: return 1 + int(rng() % 3);                          // tiny
    case 2: return std::max(1, srcSide / 2 - int(rng() % 3));   // down
    default: return srcSide + 1 + int(rng() % (2 * srcSide + 9));  // up
  }
}

TEST_F(ImageStretch, SameResultAsTheModelOnEveryFormatSizeAndKernel) {
#ifdef __SANITIZE_ADDRESS__
  const int kCasesPerPair = 12;
#else
  const int kCasesPerPair = 40;
#endif
  int cases = 0;
  for (const Pair& pair : kPairs) {
    for (int n = 0; n < kCasesPerPair; ++n) {
      const uint32_t seed = 31000 + 100 * uint32_t(&pair - kPairs) + n;
      std::mt19937 rng(seed);
      const int sw = 1 + int(rng() % 37), sh = 1 + int(rng() % 23);
      const int srcImgW = sw + int(rng() % 5) * (rng() % 2), srcImgH = sh + int(rng() % 3);
      const int sx = int(rng() % (srcImgW - sw + 1)), sy = int(rng() % (srcImgH - sh + 1));
      const int dw = DestSide(sw, rng), dh = DestSide(sh, rng);
      const int destImgW = dw + int(rng() % 4) * (rng() % 2), destImgH = dh + int(rng() % 3);
      const int dx = int(rng() % (destImgW - dw + 1)), dy = int(rng() % (destImgH - dh + 1));
      const int filter = n % 4 == 3 ? 0 : 1;
      const int kernels = n % 3;
      SCOPED_TRACE(std::string(pair.src.name) + " to " + pair.dest.name + ", seed " +
                   std::to_string(seed) + ", " + std::to_string(sw) + "x" + std::to_string(sh) +
                   " to " + std::to_string(dw) + "x" + std::to_string(dh) + ", filter " +
                   std::to_string(filter) + ", kernels " + std::to_string(kernels));

      BASEIMAGE src = RandomImage(pair.src, srcImgW, srcImgH, rng);
      BASEIMAGE want = RandomImage(pair.dest, destImgW, destImgH, rng);
      BASEIMAGE got;
      ASSERT_EQ(AllocBaseImagePixels(&got, destImgW, destImgH, &want.ColorData), 0);
      std::memcpy(got.GraphData, want.GraphData, ImageBytes(want));

      ImageStretchKernels = kernels;
      const int wantResult = RefBltBaseImageStretch(sx, sy, sw, sh, &src, dx, dy, dw, dh, &want, filter);
      const int gotResult = BltBaseImageStretch(sx, sy, sw, sh, &src, dx, dy, dw, dh, &got, filter);
      EXPECT_EQ(gotResult, wantResult);
      EXPECT_EQ(std::memcmp(got.GraphData, want.GraphData, ImageBytes(want)), 0);
      EXPECT_EQ(std::memcmp(&got.ColorData, &want.ColorData, sizeof(PIXELFORMAT)), 0);
      for (int y = 0; y < destImgH && !HasFailure(); ++y)
        for (int x = 0; x < destImgW * got.ColorData.PixelByte; ++x)
          ASSERT_EQ(static_cast<uint8_t*>(got.GraphData)[size_t(y) * got.Pitch + x],
                    static_cast<uint8_t*>(want.GraphData)[size_t(y) * want.Pitch + x])
              << "byte " << x << " of row " << y;
      ReleaseBaseImage(&src);
      ReleaseBaseImage(&want);
      ReleaseBaseImage(&got);
      ++cases;
      if (HasFailure()) return;
    }
  }
  EXPECT_EQ(cases, int(sizeof(kPairs) / sizeof(kPairs[0])) * kCasesPerPair);
}

// The two texture sizes the benchmark measures, and a long row, on each kernel set.
TEST_F(ImageStretch, TextureSizesOnEveryKernel) {
  struct Size {
    int sw, sh, dw, dh;
  };
#ifdef __SANITIZE_ADDRESS__
  const Size kSizes[] = {{61, 60, 128, 64}, {1000, 3, 1024, 4}};
#else
  const Size kSizes[] = {{610, 605, 1024, 1024}, {1000, 3, 1024, 4}, {3000, 2, 333, 7}};
#endif
  for (const FormatDesc& format : {kARGB, kBGR24}) {
    for (const Size& s : kSizes) {
      for (int kernels = 0; kernels < 3; ++kernels) {
        SCOPED_TRACE(std::string(format.name) + " " + std::to_string(s.sw) + " kernels " +
                     std::to_string(kernels));
        std::mt19937 rng(s.sw * 7 + kernels);
        BASEIMAGE src = RandomImage(format, s.sw, s.sh, rng);
        BASEIMAGE want = RandomImage(format, s.dw, s.dh, rng), got;
        ASSERT_EQ(AllocBaseImagePixels(&got, s.dw, s.dh, &want.ColorData), 0);
        std::memcpy(got.GraphData, want.GraphData, ImageBytes(want));
        ImageStretchKernels = kernels;
        ASSERT_EQ(RefBltBaseImageStretch(0, 0, s.sw, s.sh, &src, 0, 0, s.dw, s.dh, &want, 1), 0);
        ASSERT_EQ(BltBaseImageStretch(0, 0, s.sw, s.sh, &src, 0, 0, s.dw, s.dh, &got, 1), 0);
        EXPECT_EQ(std::memcmp(got.GraphData, want.GraphData, ImageBytes(want)), 0);
        ReleaseBaseImage(&src);
        ReleaseBaseImage(&want);
        ReleaseBaseImage(&got);
      }
    }
  }
}

// Work memory: one block when the formats match, three through the work images; a failure at
// any of them fails the call and leaves no block behind.
TEST_F(ImageStretch, AllocationFailures) {
  std::mt19937 rng(5);
  const struct {
    FormatDesc src, dest;
    int points;
  } kCases[] = {{kARGB, kARGB, 1}, {kBGR24, kBGR24, 1}, {k565, k565, 3}, {kARGB, kBGR24, 3}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.src.name) + " to " + c.dest.name);
    BASEIMAGE src = RandomImage(c.src, 9, 7, rng), dst = RandomImage(c.dest, 16, 8, rng);
    EXPECT_EQ(ForEachAllocationFailure(
                  [&] { return BltBaseImageStretch(0, 0, 9, 7, &src, 0, 0, 16, 8, &dst, 1) == 0; }),
              c.points);
    ReleaseBaseImage(&src);
    ReleaseBaseImage(&dst);
  }
}

}  // namespace
