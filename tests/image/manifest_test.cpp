// Every real image file of the test data: its size and format, or its refusal; and the
// files that have reference renderings decode to exactly those pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/image/baseimage.h>
#include "tests/image/image_test_files.h"
#include "tests/support/test_support.h"

namespace {

class ImageFiles : public LeakCheckedTest {};

struct Expected {
  const char* Path;  // below images/
  int Width, Height;
  const char* Kind;  // "pal", bit depth with "a" for alpha, "dxtN", or "refused"
};

const Expected kManifest[] = {
    {"bmp/b_badbitcount.bmp", 0, 0, "refused"}, {"bmp/b_badheadersize.bmp", 0, 0, "refused"},
    {"bmp/b_badplanes.bmp", 0, 0, "refused"}, {"bmp/b_badrle.bmp", 0, 0, "refused"},
    {"bmp/b_badwidth.bmp", 0, 0, "refused"}, {"bmp/b_pal8badindex.bmp", 0, 0, "refused"},
    {"bmp/b_reallybig.bmp", 0, 0, "refused"}, {"bmp/b_rletopdown.bmp", 0, 0, "refused"},
    {"bmp/b_shortfile.bmp", 0, 0, "refused"}, {"bmp/dx_Sample.bmp", 256, 256, "pal"},
    {"bmp/dx_bitmap1.bmp", 65, 65, "pal"}, {"bmp/dx_floor.bmp", 256, 256, "pal"},
    {"bmp/g_pal1.bmp", 127, 64, "pal"}, {"bmp/g_pal1wb.bmp", 127, 64, "pal"},
    {"bmp/g_pal4.bmp", 127, 64, "pal"}, {"bmp/g_pal4rle.bmp", 127, 64, "pal"},
    {"bmp/g_pal8.bmp", 127, 64, "pal"}, {"bmp/g_pal8os2.bmp", 127, 64, "pal"},
    {"bmp/g_pal8rle.bmp", 127, 64, "pal"}, {"bmp/g_pal8topdown.bmp", 127, 64, "pal"},
    {"bmp/g_pal8v4.bmp", 127, 64, "pal"}, {"bmp/g_pal8w126.bmp", 126, 63, "pal"},
    {"bmp/g_rgb16-565.bmp", 127, 64, "16"}, {"bmp/g_rgb16.bmp", 127, 64, "16"},
    {"bmp/g_rgb24.bmp", 127, 64, "24"}, {"bmp/g_rgb24pal.bmp", 127, 64, "24"},
    {"bmp/g_rgb32.bmp", 127, 64, "32"}, {"bmp/g_rgb32bf.bmp", 127, 64, "32"},
    {"bmp/q_pal2.bmp", 127, 64, "pal"}, {"bmp/q_pal4rletrns.bmp", 127, 64, "pal"},
    {"bmp/q_pal8offs.bmp", 127, 64, "pal"}, {"bmp/q_rgb16-231.bmp", 127, 64, "16"},
    {"bmp/q_rgb24jpeg.bmp", 0, 0, "refused"}, {"bmp/q_rgba32.bmp", 127, 64, "32a"},
    {"jpeg/dx_ParallaxOcclusionMapping.jpg", 90, 66, "24"},
    {"jpeg/dx_TransparencyAA10.1.jpg", 1040, 805, "24"}, {"jpeg/dx_rocks.jpg", 512, 512, "24"},
    {"jpeg/dx_wood03.jpg", 266, 256, "24"}, {"jpeg/hopper.jpg", 128, 128, "24"},
    {"jpeg/hopper_16bit_qtables.jpg", 128, 128, "24"}, {"jpeg/hopper_gray.jpg", 128, 128, "pal"},
    {"jpeg/jfif_unit_cm.jpg", 1, 1, "pal"}, {"jpeg/junk_jpeg_header.jpg", 1024, 768, "24"},
    {"jpeg/monkey12.jpg", 0, 0, "refused"}, {"jpeg/pil_sample_cmyk.jpg", 100, 100, "24"},
    {"jpeg/testimgari.jpg", 227, 149, "24"}, {"jpeg/testorig.jpg", 227, 149, "24"},
    {"jpeg/truncated_jpeg.jpg", 0, 0, "refused"}, {"tga/1x1_l_bl_rle.tga", 1, 1, "pal"},
    {"tga/200x32_l_bl_raw.tga", 200, 32, "pal"}, {"tga/200x32_l_tl_rle.tga", 200, 32, "pal"},
    {"tga/200x32_la_bl_raw.tga", 200, 32, "32a"}, {"tga/200x32_p_bl_raw.tga", 200, 32, "pal"},
    {"tga/200x32_p_tl_rle.tga", 200, 32, "pal"}, {"tga/200x32_rgb_bl_raw.tga", 200, 32, "24"},
    {"tga/200x32_rgb_tl_rle.tga", 200, 32, "24"}, {"tga/200x32_rgba_bl_rle.tga", 200, 32, "32a"},
    {"tga/200x32_rgba_tl_raw.tga", 200, 32, "32a"}, {"tga/cross_scan_line.tga", 2, 2, "pal"},
    {"tga/dx_triangle.tga", 128, 128, "32a"}, {"tga/la.tga", 64, 64, "32a"},
    {"tga/p_16.tga", 128, 128, "pal"}, {"tga/p_8.tga", 0, 0, "refused"},
    {"tga/rgba16.tga", 2, 1, "16a"}, {"dds/bc1.dds", 256, 256, "dxt1"},
    {"dds/bgr15.dds", 128, 128, "16"}, {"dds/dx_LobbyCube.dds", 256, 256, "dxt1"},
    {"dds/dx_MarbleClouds.dds", 512, 512, "dxt5"}, {"dds/dx_SmallTexture.dds", 2, 2, "24"},
    {"dds/dx_brass.dds", 16, 16, "dxt1"}, {"dds/dx_bump_NM_height_density.dds", 128, 128, "32a"},
    {"dds/dx_caust00.dds", 64, 64, "dxt1"}, {"dds/dx_cellfloor.dds", 256, 256, "dxt1"},
    {"dds/dx_linear.dds", 16, 16, "32a"}, {"dds/dx_rainbow.dds", 128, 1, "32"},
    {"dds/dx_tree01S.dds", 208, 256, "dxt3"},
    {"dds/dxt1-rgb-4bbp-noalpha_MipMaps-1.dds", 256, 256, "dxt1"},
    {"dds/dxt5-argb-8bbp-interpolatedalpha_MipMaps-1.dds", 256, 256, "dxt5"},
    {"dds/dxt5-colorblock-alpha-issue-4142.dds", 4, 4, "dxt5"}, {"dds/hopper.dds", 128, 128, "24"},
    {"dds/timeout-c60a3d7314213624607bfb3e38d551a8b24a7435.dds", 0, 0, "refused"},
    {"dds/uncompressed_l.dds", 128, 128, "pal"},
    {"dds/unimplemented_pixel_format.dds", 0, 0, "refused"},
    {"dds/zero_mask_totals.dds", 0, 0, "refused"}, {"png/basi0g01.png", 32, 32, "pal"},
    {"png/basi0g16.png", 32, 32, "pal"}, {"png/basi2c08.png", 32, 32, "24"},
    {"png/basi3p02.png", 32, 32, "pal"}, {"png/basi4a08.png", 32, 32, "32a"},
    {"png/basi6a16.png", 32, 32, "32a"}, {"png/basn0g01.png", 32, 32, "pal"},
    {"png/basn0g02.png", 32, 32, "pal"}, {"png/basn0g04.png", 32, 32, "pal"},
    {"png/basn0g08.png", 32, 32, "pal"}, {"png/basn0g16.png", 32, 32, "pal"},
    {"png/basn2c08.png", 32, 32, "24"}, {"png/basn2c16.png", 32, 32, "24"},
    {"png/basn3p01.png", 32, 32, "pal"}, {"png/basn3p02.png", 32, 32, "pal"},
    {"png/basn3p04.png", 32, 32, "pal"}, {"png/basn3p08.png", 32, 32, "pal"},
    {"png/basn4a08.png", 32, 32, "32a"}, {"png/basn4a16.png", 32, 32, "32a"},
    {"png/basn6a08.png", 32, 32, "32a"}, {"png/basn6a16.png", 32, 32, "32a"},
    {"png/bgan6a08.png", 32, 32, "32a"}, {"png/gene_light_bottoms.png", 1024, 1024, "24"},
    {"png/oi1n0g16.png", 32, 32, "pal"}, {"png/oi9n2c16.png", 32, 32, "24"},
    {"png/s01n3p01.png", 1, 1, "pal"}, {"png/s02i3p01.png", 2, 2, "pal"},
    {"png/s35n3p04.png", 35, 35, "pal"}, {"png/tbbn3p08.png", 32, 32, "32a"},
    {"png/tbrn2c08.png", 32, 32, "32a"}, {"png/tbwn0g16.png", 32, 32, "32a"},
    {"png/tm3n3p02.png", 32, 32, "32a"}, {"png/truncated_image.png", 0, 0, "refused"},
    {"png/xc1n0g08.png", 0, 0, "refused"}, {"png/xcrn0g04.png", 0, 0, "refused"},
    {"png/xcsn0g01.png", 0, 0, "refused"}, {"png/xd0n2c08.png", 0, 0, "refused"},
    {"png/xdtn0g01.png", 0, 0, "refused"}, {"png/xhdn0g08.png", 0, 0, "refused"},
    {"png/xlfn0g04.png", 0, 0, "refused"}, {"png/xs1n0g01.png", 0, 0, "refused"},
    {"png/z00n2c08.png", 32, 32, "24"},
};

std::string Kind(const PIXELFORMAT& f) {
  if (f.DxtFormat) return "dxt" + std::to_string(f.DxtFormat);
  if (PixelFormatIsPalette(&f)) return "pal";
  return std::to_string(f.ColorBitDepth) + (f.AlphaMask ? "a" : "");
}

int Load(const std::string& relative, BASEIMAGE* img) {
  std::vector<uint8_t> data = ReadFileBytes(TestDataPath("images/" + relative));
  if (data.empty()) return -2;
  return CreateBaseImageToMem(nullptr, data.data(), data.size(), 1, img, 0);
}

TEST_F(ImageFiles, Manifest) {
  for (const Expected& e : kManifest) {
    SCOPED_TRACE(e.Path);
    BASEIMAGE img;
    LogCaptureBegin();
    int r = Load(e.Path, &img);
    std::string log = LogCaptureEnd();
    ASSERT_NE(r, -2) << "file missing";
    if (std::string(e.Kind) == "refused") {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(img.GraphData, nullptr);
      EXPECT_NE(log.find(" in CreateBaseImageToMem"), std::string::npos);
      continue;
    }
    ASSERT_EQ(r, 0) << log;
    EXPECT_EQ(img.Width, e.Width);
    EXPECT_EQ(img.Height, e.Height);
    EXPECT_EQ(Kind(img.ColorData), e.Kind);
    // every pixel is readable
    uint64_t sum = 0;
    for (int y = 0; y < img.Height; y += 3)
      for (int x = 0; x < img.Width; x += 3) sum += PixelArgb(img, x, y);
    EXPECT_NE(sum, 0u);
    ReleaseBaseImage(&img);
  }
}

// Largest per-channel difference between an image and its reference rendering (-1 when the
// sizes differ or a file fails).
int MaxDifference(const std::string& file, const std::string& reference, bool withAlpha) {
  BASEIMAGE a, b;
  if (Load(file, &a) != 0) return -1;
  if (Load(reference, &b) != 0) {
    ReleaseBaseImage(&a);
    return -1;
  }
  int worst = 0;
  if (a.Width != b.Width || a.Height != b.Height) worst = -1;
  for (int y = 0; worst >= 0 && y < a.Height; ++y)
    for (int x = 0; x < a.Width; ++x) {
      uint32_t p = PixelArgb(a, x, y), q = PixelArgb(b, x, y);
      for (int k = 0; k < (withAlpha ? 32 : 24); k += 8)
        worst = std::max(worst, std::abs(int((p >> k) & 255) - int((q >> k) & 255)));
    }
  ReleaseBaseImage(&a);
  ReleaseBaseImage(&b);
  return worst;
}

TEST_F(ImageFiles, MatchReferenceRenderings) {
  const std::pair<const char*, const char*> exact[] = {
      {"bmp/g_pal1.bmp", "bmp/ref_pal1.png"},
      {"bmp/g_pal1wb.bmp", "bmp/ref_pal1.png"},
      {"bmp/g_pal4.bmp", "bmp/ref_pal4.png"},
      {"bmp/g_pal4rle.bmp", "bmp/ref_pal4.png"},
      {"bmp/g_pal8.bmp", "bmp/ref_pal8.png"},
      {"bmp/g_pal8os2.bmp", "bmp/ref_pal8.png"},
      {"bmp/g_pal8rle.bmp", "bmp/ref_pal8.png"},
      {"bmp/g_pal8topdown.bmp", "bmp/ref_pal8.png"},
      {"bmp/g_pal8v4.bmp", "bmp/ref_pal8.png"},
      {"bmp/q_pal8offs.bmp", "bmp/ref_pal8.png"},
      {"bmp/g_pal8w126.bmp", "bmp/ref_pal8w126.png"},
      {"bmp/g_rgb24.bmp", "bmp/ref_rgb24.png"},
      {"bmp/g_rgb24pal.bmp", "bmp/ref_rgb24.png"},
      {"bmp/g_rgb32.bmp", "bmp/ref_rgb24.png"},
      {"bmp/g_rgb32bf.bmp", "bmp/ref_rgb24.png"},
      {"bmp/g_rgb16.bmp", "bmp/ref_rgb16.png"},
      {"bmp/g_rgb16-565.bmp", "bmp/ref_rgb16-565.png"},
      {"tga/1x1_l_bl_rle.tga", "tga/1x1_l.png"},
      {"tga/200x32_l_bl_raw.tga", "tga/200x32_l.png"},
      {"tga/200x32_l_tl_rle.tga", "tga/200x32_l.png"},
      {"tga/200x32_la_bl_raw.tga", "tga/200x32_la.png"},
      {"tga/200x32_p_bl_raw.tga", "tga/200x32_p.png"},
      {"tga/200x32_p_tl_rle.tga", "tga/200x32_p.png"},
      {"tga/200x32_rgb_bl_raw.tga", "tga/200x32_rgb.png"},
      {"tga/200x32_rgb_tl_rle.tga", "tga/200x32_rgb.png"},
      {"tga/200x32_rgba_bl_rle.tga", "tga/200x32_rgba.png"},
      {"tga/200x32_rgba_tl_raw.tga", "tga/200x32_rgba.png"},
  };
  for (auto& [file, ref] : exact) EXPECT_EQ(MaxDifference(file, ref, true), 0) << file;
  // block decoders may widen the 5:6:5 end points and round the interpolated colours each a
  // step differently (this one rounds both)
  EXPECT_LE(MaxDifference("dds/dxt1-rgb-4bbp-noalpha_MipMaps-1.dds", "dds/dxt1-rgb-4bbp-noalpha_MipMaps-1.png", true), 2);
  EXPECT_LE(MaxDifference("dds/dxt5-argb-8bbp-interpolatedalpha_MipMaps-1.dds",
                          "dds/dxt5-argb-8bbp-interpolatedalpha_MipMaps-1.png", true), 2);
  // the same picture through the DX10 header
  EXPECT_EQ(MaxDifference("dds/bc1.dds", "dds/dxt1-rgb-4bbp-noalpha_MipMaps-1.dds", true), 0);
}

}  // namespace
