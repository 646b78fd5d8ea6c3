// Model textures: built-in images, fall-backs, normal maps from height maps, power-of-two sizes,
// semi-transparency, whole-file reads, restore after device loss, failure injection.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/d3d_engine.h"
#include "tests/support/model_files.h"

namespace {

using ModelTextureTest = D3DEngineTest;

uint32_t Pixel(const BASEIMAGE& img, int x, int y) {
  int r, g, b, a;
  EXPECT_EQ(GetPixelBaseImage(&img, x, y, &r, &g, &b, &a), 0);
  return (uint32_t(a) << 24) | (r << 16) | (g << 8) | b;
}

// Loads colour and alpha data through MV1LoadTextureFiles; both images freed with the object.
struct Files {
  BASEIMAGE color{}, alpha{};
  int result;
  Files(const std::vector<uint8_t>* c, const std::vector<uint8_t>* a, int bump = 0,
        float scale = 1.0f) {
    result = MV1LoadTextureFiles(&color, &alpha, c ? c->data() : nullptr, c ? int(c->size()) : 0,
                                 a ? a->data() : nullptr, a ? int(a->size()) : 0, bump, scale);
  }
  ~Files() {
    ReleaseBaseImage(&color);
    ReleaseBaseImage(&alpha);
  }
};

// The outputs of MV1LoadTexture; everything it hands out freed with the object.
struct Loaded {
  void* color = nullptr;
  void* alpha = nullptr;
  int colorSize = 0, alphaSize = 0, graph = -1, semi = -1;
  char* colorName = nullptr;
  char* alphaName = nullptr;
  int result;
  Loaded(const char* c, const char* a, const char* folder, int bump = 0, float scale = 1.0f) {
    result = MV1LoadTexture(&color, &colorSize, &alpha, &alphaSize, &graph, &semi, &colorName,
                            &alphaName, c, a, folder, bump, scale);
  }
  ~Loaded() {
    MEM_FREE(color);
    MEM_FREE(alpha);
    MEM_FREE(colorName);
    MEM_FREE(alphaName);
    if (graph >= 0) DeleteGraph(graph, 0);
  }
};

std::string Cwd() {
  char dir[1024];
  EXPECT_EQ(FileGetCurrentDir(dir, sizeof(dir)), 0);
  return dir;
}

TEST_F(ModelTextureTest, BuiltinImagesDecodeToWhiteAndGreyRamps) {
  size_t size = 0;
  const unsigned char* white = MV1BuiltinTextureImage(MV1_BUILTIN_TEXTURE_WHITE, &size);
  ASSERT_EQ(size, 84u);
  EXPECT_EQ(white[2], 10);
  EXPECT_EQ(std::memcmp(white + 84 - 18, "TRUEVISION-XFILE.", 18), 0);
  BASEIMAGE img{};
  ASSERT_EQ(CreateBaseImageToMem(nullptr, white, size, 1, &img, 0), 0);
  EXPECT_EQ(img.Width, 8);
  EXPECT_EQ(img.Height, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(Pixel(img, x, y), 0xFFFFFFFFu);
  ReleaseBaseImage(&img);
  for (int which : {MV1_BUILTIN_TEXTURE_DIFFUSE_GRAD, MV1_BUILTIN_TEXTURE_SPECULAR_GRAD}) {
    const unsigned char* grad = MV1BuiltinTextureImage(which, &size);
    ASSERT_EQ(size, 172u);
    ASSERT_EQ(CreateBaseImageToMem(nullptr, grad, size, 1, &img, 0), 0);
    EXPECT_EQ(img.Width, 256);
    EXPECT_EQ(img.Height, 8);
    const uint32_t levels[4] = {0, 85, 170, 255};
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 256; ++x)
        EXPECT_EQ(Pixel(img, x, y), 0xFF000000u | levels[x / 64] * 0x010101u) << x;
    ReleaseBaseImage(&img);
  }
  EXPECT_EQ(MV1BuiltinTextureImage(3, &size), nullptr);
}

TEST_F(ModelTextureTest, NormalMapsFromHeightMapsAreBitExact) {
  struct Case {
    int w, h;
    std::vector<uint32_t> pixels;
    float scale;
    int x, y;
    uint32_t expected;
  } cases[] = {
      // flat: (127, 127, 255), alpha 0
      {2, 2, std::vector<uint32_t>(4, 0xFF808080u), 1.0f, 0, 0, 0x007F7FFFu},
      // h1 - h0 = 255 to the right, scale 1: (37, 127, 217)
      {2, 1, {0xFF000000u, 0xFFFF0000u}, 1.0f, 0, 0, 0x00257FD9u},
      // the right neighbour of the last column wraps to column 0: h1 - h0 = -255
      {2, 1, {0xFF000000u, 0xFFFF0000u}, 1.0f, 1, 0, 0x00D97FD9u},
      // the bottom neighbour of the last row wraps to row 0
      {1, 2, {0xFF000000u, 0xFFFF0000u}, 1.0f, 0, 1, 0x007FD9D9u},
      // only the red channel counts
      {2, 1, {0xFF00FFFFu, 0xFF0000FFu}, 1.0f, 0, 0, 0x007F7FFFu},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> file = BgraFile(c.w, c.h, c.pixels);
    BASEIMAGE height{}, normal{};
    ASSERT_EQ(CreateBaseImageToMem(nullptr, file.data(), file.size(), 1, &height, 0), 0);
    ASSERT_EQ(MV1MakeNormalMapFromHeightMap(&height, c.scale, &normal), 0);
    uint32_t v;
    std::memcpy(&v, static_cast<uint8_t*>(normal.GraphData) + c.y * normal.Pitch + c.x * 4, 4);
    EXPECT_EQ(v & 0xFFFFFFu, c.expected) << c.w << "x" << c.h << " at " << c.x << "," << c.y;
    EXPECT_EQ(v >> 24, 0u);
    ReleaseBaseImage(&height);
    ReleaseBaseImage(&normal);
  }
  // Scales below 0.000001 are raised to it: 0, -5 and 1e-9 give the picture of 0.000001.
  std::vector<uint8_t> file = BgraFile(2, 1, {0xFF000000u, 0xFFFF0000u});
  BASEIMAGE height{};
  ASSERT_EQ(CreateBaseImageToMem(nullptr, file.data(), file.size(), 1, &height, 0), 0);
  auto first = [&](float s) {
    BASEIMAGE n{};
    EXPECT_EQ(MV1MakeNormalMapFromHeightMap(&height, s, &n), 0);
    uint32_t v;
    std::memcpy(&v, n.GraphData, 4);
    ReleaseBaseImage(&n);
    return v;
  };
  const uint32_t raised = first(0.000001f);
  EXPECT_NE(raised, first(1.0f));
  for (float s : {0.0f, -5.0f, 1e-9f}) EXPECT_EQ(first(s), raised) << s;
  ReleaseBaseImage(&height);
}

TEST_F(ModelTextureTest, TextureFilesFallBackScaleAndMatchSizes) {
  // 100 x 60 becomes 128 x 64; 1 and 64 stay.
  std::vector<uint8_t> big = BgraFileFilled(100, 60, 0xFF336699u);
  std::vector<uint8_t> thin = BgraFileFilled(1, 64, 0xFF102030u);
  {
    Files f(&big, nullptr);
    ASSERT_EQ(f.result, 0);
    EXPECT_EQ(f.color.Width, 128);
    EXPECT_EQ(f.color.Height, 64);
    EXPECT_EQ(f.alpha.GraphData, nullptr);
    EXPECT_EQ(Pixel(f.color, 127, 63), 0xFF336699u);
  }
  {
    Files f(&thin, nullptr);
    ASSERT_EQ(f.result, 0);
    EXPECT_EQ(f.color.Width, 1);
    EXPECT_EQ(f.color.Height, 64);
  }
  // Alpha alone: a white XRGB colour image of the alpha image's size.
  {
    std::vector<uint8_t> alpha = BgraFileFilled(16, 4, 0xFF808080u);
    Files f(nullptr, &alpha);
    ASSERT_EQ(f.result, 0);
    EXPECT_EQ(f.color.Width, 16);
    EXPECT_EQ(f.color.Height, 4);
    EXPECT_EQ(Pixel(f.color, 15, 3), 0xFFFFFFFFu);
  }
  // Neither: the built-in 8 x 8 white image.
  {
    Files f(nullptr, nullptr);
    ASSERT_EQ(f.result, 0);
    EXPECT_EQ(f.color.Width, 8);
    EXPECT_EQ(f.color.Height, 8);
    EXPECT_EQ(Pixel(f.color, 7, 7), 0xFFFFFFFFu);
  }
  // An alpha image of another size is stretched to the colour image's size (filtered).
  {
    std::vector<uint8_t> color = BgraFileFilled(32, 32, 0xFF00FF00u);
    std::vector<uint8_t> alpha = BgraFile(2, 1, {0xFF000000u, 0xFFFFFFFFu});
    Files f(&color, &alpha);
    ASSERT_EQ(f.result, 0);
    EXPECT_EQ(f.alpha.Width, 32);
    EXPECT_EQ(f.alpha.Height, 32);
    EXPECT_EQ(Pixel(f.alpha, 0, 0) & 0xFF, 0u);
    EXPECT_EQ(Pixel(f.alpha, 31, 0) & 0xFF, 255u);
    uint32_t mid = Pixel(f.alpha, 16, 0) & 0xFF;
    EXPECT_GT(mid, 0u);
    EXPECT_LT(mid, 255u);
  }
  // A height map of 100 x 60 becomes a normal map of 128 x 64.
  {
    Files f(&big, nullptr, 1, 1.0f);
    ASSERT_EQ(f.result, 0);
    EXPECT_EQ(f.color.Width, 128);
    EXPECT_EQ(f.color.Height, 64);
    EXPECT_EQ(Pixel(f.color, 5, 5) & 0xFFFFFFu, 0x7F7FFFu);
  }
  // Data that does not decode fails, with nothing left.
  {
    std::vector<uint8_t> junk = {1, 2, 3};
    Files f(&junk, nullptr);
    EXPECT_EQ(f.result, -1);
    EXPECT_EQ(f.color.GraphData, nullptr);
    Files g(&big, &junk);
    EXPECT_EQ(g.result, -1);
    EXPECT_EQ(g.color.GraphData, nullptr);
  }
}

TEST_F(ModelTextureTest, LoadTextureFallsBackLogsAndCopiesNames) {
  const std::string dir = Cwd();
  ASSERT_TRUE(MakeEngineFolder(dir + "\\tex"));
  ASSERT_TRUE(WriteEngineFile(dir + "\\tex\\c.bgra", BgraFileFilled(4, 4, 0xFF112233u)));
  const std::string color = dir + "\\tex\\c.bgra";
  const std::string missing = dir + "\\tex\\missing.png";
  {
    LogCaptureBegin();
    Loaded t(missing.c_str(), nullptr, dir.c_str());
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    ASSERT_EQ(t.result, 0);
    char expected[1024];
    std::snprintf(expected, sizeof(expected), TEXT_MV1_TEX_COLOR_READ_FAILED "\r\n",
                  missing.c_str());
    EXPECT_EQ(log, expected);
    ASSERT_EQ(t.colorSize, 84);
    size_t size;
    EXPECT_EQ(std::memcmp(t.color, MV1BuiltinTextureImage(0, &size), 84), 0);
    int w, h;
    ASSERT_EQ(GetGraphSize(t.graph, &w, &h), 0);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(h, 8);
    EXPECT_EQ(t.semi, 0);
    EXPECT_STREQ(t.colorName, "tex\\missing.png");
    EXPECT_EQ(t.alphaName, nullptr);
  }
  {
    LogCaptureBegin();
    Loaded t(color.c_str(), missing.c_str(), (dir + "\\tex").c_str());
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    ASSERT_EQ(t.result, 0);
    char expected[1024];
    std::snprintf(expected, sizeof(expected), TEXT_MV1_TEX_ALPHA_READ_FAILED "\r\n",
                  missing.c_str());
    EXPECT_EQ(log, expected);
    // An alpha file that falls back to white still makes the texture semi-transparent.
    EXPECT_EQ(t.semi, 1);
    EXPECT_EQ(t.alphaSize, 84);
    EXPECT_STREQ(t.colorName, "c.bgra");
    EXPECT_STREQ(t.alphaName, "missing.png");
  }
  {
    // A file that exists but does not decode fails the load.
    ASSERT_TRUE(WriteEngineFile(dir + "\\tex\\bad.png", {1, 2, 3, 4}));
    LogCaptureBegin();
    Loaded t((dir + "\\tex\\bad.png").c_str(), nullptr, dir.c_str());
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    EXPECT_EQ(t.result, -1);
    EXPECT_EQ(t.color, nullptr);
    EXPECT_EQ(t.graph, -1);
    EXPECT_EQ(t.colorName, nullptr);
    EXPECT_NE(log.find(TEXT_MV1_TEX_BASEIMAGE_FAILED "\r\n"), std::string::npos);
  }
}

// The device pixels and format of a texture graph.
std::vector<uint32_t> GraphPixels(int graph, uint32_t* format) {
  D3DTexture* t = GetGraphTexture(graph);
  EXPECT_NE(t, nullptr);
  if (!t) return {};
  *format = t->Format();
  return t->Pixels()->Pixels;
}

TEST_F(ModelTextureTest, MissingColourFileGivesTheTextureOfTheWhiteFileItself) {
  // Reference: the built-in white image written out as a file and loaded like any texture,
  // decoded each time; a missing file (or no file at all) must give the same texture.
  const std::string dir = Cwd();
  size_t size;
  const unsigned char* white = MV1BuiltinTextureImage(MV1_BUILTIN_TEXTURE_WHITE, &size);
  ASSERT_TRUE(WriteEngineFile(dir + "\\white.tga", std::vector<uint8_t>(white, white + size)));
  ASSERT_TRUE(WriteEngineFile(dir + "\\half.bgra", BgraFileFilled(4, 4, 0x80FFFFFFu)));
  const std::string file = dir + "\\white.tga", missing = dir + "\\gone.tga";
  const std::string alpha = dir + "\\half.bgra";
  struct Case {
    const std::string* color;  // the missing one or none; the reference loads white.tga
    const std::string* alpha;
    int bump;
  } cases[] = {{&missing, nullptr, 0}, {nullptr, nullptr, 0}, {&missing, nullptr, 1},
               {&missing, &alpha, 0},  {&missing, nullptr, 0}};
  for (const Case& c : cases) {
    const char* a = c.alpha ? c.alpha->c_str() : nullptr;
    Loaded ref(c.color ? file.c_str() : nullptr, a, dir.c_str(), c.bump, 2.0f);
    Loaded got(c.color ? c.color->c_str() : nullptr, a, dir.c_str(), c.bump, 2.0f);
    ASSERT_EQ(ref.result, 0);
    ASSERT_EQ(got.result, 0);
    uint32_t refFormat = 0, gotFormat = 1;
    EXPECT_EQ(GraphPixels(got.graph, &gotFormat), GraphPixels(ref.graph, &refFormat));
    EXPECT_EQ(gotFormat, refFormat);
    EXPECT_EQ(got.semi, ref.semi);
    int rw, rh, gw, gh;
    ASSERT_EQ(GetGraphSize(ref.graph, &rw, &rh), 0);
    ASSERT_EQ(GetGraphSize(got.graph, &gw, &gh), 0);
    EXPECT_EQ(gw, rw);
    EXPECT_EQ(gh, rh);
  }
}

TEST_F(ModelTextureTest, SemiTransparencyFollowsAlphaDataAndPixels) {
  const std::string dir = Cwd();
  std::vector<uint32_t> onePixel(16, 0xFFFFFFFFu);
  onePixel[9] = 0xFEFFFFFFu;
  std::vector<uint8_t> xrgbBmp;
  {
    BASEIMAGE img{};
    ASSERT_EQ(CreateXRGB8ColorBaseImage(4, 4, &img), 0);
    std::memset(img.GraphData, 0x40, size_t(img.Pitch) * 4);
    ASSERT_EQ(SaveBaseImageToBmp((dir + "\\x.bmp").c_str(), &img), 0);
    ReleaseBaseImage(&img);
  }
  ASSERT_TRUE(WriteEngineFile(dir + "\\a254.bgra", BgraFile(4, 4, onePixel)));
  ASSERT_TRUE(WriteEngineFile(dir + "\\a255.bgra", BgraFileFilled(4, 4, 0xFFFFFFFFu)));
  ASSERT_TRUE(WriteEngineFile(dir + "\\alpha.bgra", BgraFileFilled(4, 4, 0xFFFFFFFFu)));
  struct Case {
    const char* color;
    const char* alpha;
    int semi;
  } cases[] = {{"a254.bgra", nullptr, 1},
               {"a255.bgra", nullptr, 0},
               {"x.bmp", nullptr, 0},
               {"a255.bgra", "alpha.bgra", 1},
               {nullptr, "alpha.bgra", 1}};
  for (const Case& c : cases) {
    std::string cp = c.color ? dir + "\\" + c.color : "", ap = c.alpha ? dir + "\\" + c.alpha : "";
    Loaded t(c.color ? cp.c_str() : nullptr, c.alpha ? ap.c_str() : nullptr, dir.c_str());
    ASSERT_EQ(t.result, 0);
    EXPECT_EQ(t.semi, c.semi) << (c.color ? c.color : "-") << " " << (c.alpha ? c.alpha : "-");
  }
}

TEST_F(ModelTextureTest, WholeFileReadFindsTheLastComponentShiftJisAware) {
  // "ソ" is 0x83 0x5C: its trail byte is not a separator.
  const std::string name = "\x83\x5C.bin";
  ASSERT_TRUE(WriteEngineFile(Cwd() + "\\" + name, {7, 8, 9}));
  void* data = nullptr;
  int size = 0;
  ASSERT_EQ(LoadWholeFileToMemory(("no\\such\\folder\\" + name).c_str(), &data, &size), 0);
  ASSERT_EQ(size, 3);
  EXPECT_EQ(static_cast<uint8_t*>(data)[2], 9);
  MEM_FREE(data);
  EXPECT_EQ(LoadWholeFileToMemory(name.c_str(), nullptr, &size), 0);
  EXPECT_EQ(LoadWholeFileToMemory("no\\such\\file.bin", &data, &size), -1);
  RemoveEnginePath(Cwd() + "\\" + name);
}

TEST_F(ModelTextureTest, RestoreRefillsTextureGraphsAfterDeviceLoss) {
  const std::string dir = Cwd();
  ASSERT_TRUE(WriteEngineFile(dir + "\\r.bgra", BgraFile(2, 2, {0xFF010203u, 0xFF040506u,
                                                              0x80070809u, 0xFF0A0B0Cu})));
  Loaded t((dir + "\\r.bgra").c_str(), nullptr, dir.c_str());
  ASSERT_EQ(t.result, 0);
  std::vector<uint32_t> before = GetGraphTexture(t.graph)->Pixels()->Pixels;
  // A loss with no model system textures registered leaves the graph as it was.
  D3DDevice::SimulateDeviceLoss();
  ASSERT_NE(GetGraphTexture(t.graph), nullptr);
  EXPECT_EQ(GetGraphTexture(t.graph)->Pixels()->Pixels, before);
  // The built-in graphs not yet made are skipped; made ones are refilled.
  size_t size;
  const unsigned char* white = MV1BuiltinTextureImage(0, &size);
  MV1BuiltinTextureGraph[0] = CreateGraphFromImageFile(white, size, 0, 0, 1, 0);
  ASSERT_GE(MV1BuiltinTextureGraph[0], 0);
  D3DDevice::SimulateDeviceLoss();
  EXPECT_EQ(GetGraphTexture(MV1BuiltinTextureGraph[0])->Pixels()->Pixels,
            std::vector<uint32_t>(64, 0xFFFFFFFFu));
  EXPECT_EQ(MV1RestoreTextures(), 0);
}

TEST_F(ModelTextureTest, AllocationFailuresFreeEverything) {
  const std::string dir = Cwd();
  ASSERT_TRUE(WriteEngineFile(dir + "\\f.bgra", BgraFileFilled(100, 60, 0xFF445566u)));
  ASSERT_TRUE(WriteEngineFile(dir + "\\fa.bgra", BgraFileFilled(8, 8, 0xFF808080u)));
  const std::string c = dir + "\\f.bgra", a = dir + "\\fa.bgra", m = dir + "\\nothing.bgra";
  std::string logs;
  for (int bump : {0, 1}) {
    int failures = 0;
    int points = ForEachAllocationFailureTolerant([] {}, [&] {
      long textures = D3DLiveTextureCount();
      LogCaptureBegin();
      Loaded t(c.c_str(), a.c_str(), dir.c_str(), bump, 0.5f);
      logs += LogCaptureTextWithoutStamps();
      LogCaptureEnd();
      if (t.result != 0) {
        EXPECT_EQ(t.graph, -1);
        EXPECT_EQ(t.color, nullptr);
        EXPECT_EQ(t.colorName, nullptr);
        EXPECT_EQ(D3DLiveTextureCount(), textures);
      }
      return t.result != 0;
    }, [] {}, &failures);
    EXPECT_GT(points, 5);
    EXPECT_GT(failures, 3);
  }
  int points = ForEachAllocationFailureTolerant(
      [] {},
      [&] {
        LogCaptureBegin();
        bool failed = Loaded(m.c_str(), nullptr, dir.c_str()).result != 0;
        logs += LogCaptureTextWithoutStamps();
        LogCaptureEnd();
        return failed;
      },
      [] {});
  EXPECT_GT(points, 2);
  for (const char* line : {TEXT_MV1_TEX_COLOR_NAME_ALLOC_FAILED "\r\n",
                           TEXT_MV1_TEX_FALLBACK_ALLOC_FAILED "\r\n",
                           TEXT_MV1_TEX_BASEIMAGE_FAILED "\r\n"})
    EXPECT_NE(logs.find(line), std::string::npos) << line;
  std::vector<uint8_t> color = BgraFileFilled(100, 60, 0xFF000000u);
  std::vector<uint8_t> alpha = BgraFileFilled(3, 5, 0xFF000000u);
  points = ForEachAllocationFailure([&] {
    Files f(&color, &alpha, 1, 1.0f);
    return f.result == 0;
  });
  EXPECT_GT(points, 3);
}

}  // namespace
