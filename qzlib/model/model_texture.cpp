// Model textures: loading, fall-backs, normal maps from height maps, built-in images, restore.
#include <qzlib/model/model_texture.h>

#include <cstdint>
#include <cstring>
#include <mutex>

#include <qzlib/base/log.h>
#include <qzlib/base/mathutil.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/strutil.h>
#include <qzlib/file/file.h>
#include <qzlib/file/path.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/base/engine_texts.h>

int MV1BuiltinTextureGraph[MV1_BUILTIN_TEXTURE_NUM] = {-1, -1, -1};

namespace {

constexpr size_t kWhiteTgaSize = 84;
constexpr size_t kGradTgaSize = 172;

// Run-length true-colour TGA (type 10): 18-byte header, packets that never cross a row, the
// 26-byte TGA 2.0 footer.
struct BuiltinImages {
  unsigned char white[kWhiteTgaSize];
  unsigned char grad[kGradTgaSize];
  BuiltinImages() {
    Header(white, 8, 8, 32, 0x08);
    unsigned char* p = white + 18;
    for (int row = 0; row < 8; ++row) {
      *p++ = 0x80 | 7;  // one packet of 8 pixels
      for (int c = 0; c < 4; ++c) *p++ = 0xFF;
    }
    Footer(p);
    Header(grad, 256, 8, 24, 0x00);
    p = grad + 18;
    for (int row = 0; row < 8; ++row) {
      for (int level : {0, 85, 170, 255}) {
        *p++ = 0x80 | 63;  // one packet of 64 pixels
        for (int c = 0; c < 3; ++c) *p++ = static_cast<unsigned char>(level);
      }
    }
    Footer(p);
  }
  static void Header(unsigned char* h, int w, int height, int bits, int descriptor) {
    std::memset(h, 0, 18);
    h[2] = 10;
    h[12] = static_cast<unsigned char>(w & 0xFF);
    h[13] = static_cast<unsigned char>(w >> 8);
    h[14] = static_cast<unsigned char>(height & 0xFF);
    h[15] = static_cast<unsigned char>(height >> 8);
    h[16] = static_cast<unsigned char>(bits);
    h[17] = static_cast<unsigned char>(descriptor);
  }
  static void Footer(unsigned char* p) {
    std::memset(p, 0, 8);  // no extension area, no developer directory
    std::memcpy(p + 8, "TRUEVISION-XFILE.", 18);  // with its terminating zero
  }
};

const BuiltinImages& Builtins() {
  static const BuiltinImages images;
  return images;
}

// A tracked copy of the built-in white image, or null.
void* WhiteCopy() {
  void* p = MEM_ALLOC(kWhiteTgaSize);
  if (p) std::memcpy(p, Builtins().white, kWhiteTgaSize);
  return p;
}

// A tracked copy of a string, or null.
char* StringCopy(const char* s) {
  size_t n = std::strlen(s) + 1;
  char* p = static_cast<char*>(MEM_ALLOC(n));
  if (p) std::memcpy(p, s, n);
  return p;
}

int NextPowerOfTwo(int v) {
  int p = 1;
  while (p < v) p <<= 1;
  return p;
}

// Replaces *image by a stretched copy of the given size in its own format. 0, or -1 (the image
// is then kept as it was).
int StretchImage(BASEIMAGE* image, int width, int height) {
  BASEIMAGE dest;
  if (CreateBaseImageOfFormat(width, height, &image->ColorData, &dest) != 0) return -1;
  if (BltBaseImageStretch(0, 0, image->Width, image->Height, image, 0, 0, width, height, &dest,
                          1) != 0) {
    ReleaseBaseImage(&dest);
    return -1;
  }
  ReleaseBaseImage(image);
  *image = dest;
  return 0;
}

int StretchToPowerOfTwo(BASEIMAGE* image) {
  int w = NextPowerOfTwo(image->Width), h = NextPowerOfTwo(image->Height);
  if (w == image->Width && h == image->Height) return 0;
  return StretchImage(image, w, h);
}

// The image's pixels as X8R8G8B8 in a new image. 0, or -1.
int ToXrgb8(const BASEIMAGE* src, BASEIMAGE* out) {
  if (CreateXRGB8ColorBaseImage(src->Width, src->Height, out) != 0) return -1;
  RECT r = {0, 0, src->Width, src->Height};
  if (BltConvertPixelFormat(out->GraphData, out->Pitch, &out->ColorData, src->GraphData,
                            src->Pitch, &src->ColorData, nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0,
                            0, 0, 0, 0, 0, src->Width, src->Height, out->Width,
                            out->Height) < 0) {
    ReleaseBaseImage(out);
    return -1;
  }
  return 0;
}

// 1 when some pixel of an image with an alpha channel has an alpha other than 255.
int HasTranslucentPixel(const BASEIMAGE* image) {
  if (!PixelFormatHasAlpha(&image->ColorData)) return 0;
  for (int y = 0; y < image->Height; ++y)
    for (int x = 0; x < image->Width; ++x) {
      int r, g, b, a;
      if (GetPixelBaseImage(image, x, y, &r, &g, &b, &a) == 0 && a != 255) return 1;
    }
  return 0;
}

// Decodes data into *image: 0, or -1 with *image cleared.
int Decode(const void* data, int size, BASEIMAGE* image) {
  std::memset(image, 0, sizeof(*image));
  if (size < 0) return -1;
  return CreateBaseImageToMem(nullptr, data, static_cast<size_t>(size), 1, image, 0) == 0 ? 0
                                                                                           : -1;
}

// The built-in white image as a missing colour file yields it (decoded, power-of-two sides, no
// alpha file, no bump), made once and kept in the program's own memory: every missing texture
// gives the same image and the same semi-transparency flag, so they are not decoded again.
struct WhiteFallback {
  std::mutex lock;
  bool ready = false;
  BASEIMAGE image{};
  int semiTransparent = 0;
  alignas(16) unsigned char pixels[8 * 8 * 4];
};

WhiteFallback& WhiteFallbackImage() {
  static WhiteFallback white;
  return white;
}

// The kept fall-back image (its pixels are the program's; never released), made on first use
// exactly as MV1LoadTextureFiles makes it; null when that fails (the caller then decodes itself).
const WhiteFallback* DecodedWhite() {
  WhiteFallback& w = WhiteFallbackImage();
  std::lock_guard<std::mutex> guard(w.lock);
  if (w.ready) return &w;
  size_t size;
  const unsigned char* tga = MV1BuiltinTextureImage(MV1_BUILTIN_TEXTURE_WHITE, &size);
  BASEIMAGE color, alpha;
  if (MV1LoadTextureFiles(&color, &alpha, tga, static_cast<int>(size), nullptr, 0, 0, 0.0f) != 0)
    return nullptr;
  const size_t bytes = static_cast<size_t>(color.Pitch) * static_cast<size_t>(color.Height);
  if (color.Pitch > 0 && color.Height > 0 && bytes <= sizeof(w.pixels)) {
    w.image = color;
    std::memcpy(w.pixels, color.GraphData, bytes);
    w.image.GraphData = w.pixels;
    w.semiTransparent = HasTranslucentPixel(&color);
    w.ready = true;
  }
  ReleaseBaseImage(&color);
  ReleaseBaseImage(&alpha);
  return w.ready ? &w : nullptr;
}

}  // namespace

const unsigned char* MV1BuiltinTextureImage(int which, size_t* size) {
  const BuiltinImages& b = Builtins();
  if (which == MV1_BUILTIN_TEXTURE_WHITE) {
    if (size) *size = kWhiteTgaSize;
    return b.white;
  }
  if (which == MV1_BUILTIN_TEXTURE_DIFFUSE_GRAD || which == MV1_BUILTIN_TEXTURE_SPECULAR_GRAD) {
    if (size) *size = kGradTgaSize;
    return b.grad;
  }
  if (size) *size = 0;
  return nullptr;
}

int LoadWholeFileToMemory(const char* path, void** buffer, int* size) {
  FileHandle fp = FileOpen(path);
  if (!fp) {
    const char* last = nullptr;
    for (const char* p = path; *p; p += SjisCharLength(p))
      if (IsPathSeparator(p) || *p == ':') last = p;
    if (!last) return -1;
    fp = FileOpen(last + 1);
    if (!fp) return -1;
  }
  FileSeek(fp, 0, 2);
  int64_t length = FileTell(fp);
  FileSeek(fp, 0, 0);
  if (length < 0 || length > 0x7FFFFFFF) {
    FileClose(fp);
    return -1;
  }
  void* data = MEM_ALLOC(length > 0 ? static_cast<size_t>(length) : 1);
  if (!data) {
    FileClose(fp);
    return -1;
  }
  if (length > 0 && FileRead(data, static_cast<size_t>(length), 1, fp) != 1) {
    FileClose(fp);
    MEM_FREE(data);
    return -1;
  }
  FileClose(fp);
  if (buffer) *buffer = data;
  else MEM_FREE(data);
  if (size) *size = static_cast<int>(length);
  return 0;
}

int MV1MakeNormalMapFromHeightMap(const BASEIMAGE* heightMap, float bumpScale, BASEIMAGE* out) {
  std::memset(out, 0, sizeof(*out));
  BASEIMAGE heights;
  if (ToXrgb8(heightMap, &heights) != 0) return -1;
  if (CreateXRGB8ColorBaseImage(heights.Width, heights.Height, out) != 0) {
    ReleaseBaseImage(&heights);
    return -1;
  }
  const float s = bumpScale < 0.000001f ? 0.000001f : bumpScale;
  const float zz = s * s;
  const int w = heights.Width, h = heights.Height;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = static_cast<const uint8_t*>(heights.GraphData) +
                         static_cast<size_t>(y) * heights.Pitch;
    const uint8_t* below = static_cast<const uint8_t*>(heights.GraphData) +
                           static_cast<size_t>(y + 1 == h ? 0 : y + 1) * heights.Pitch;
    uint32_t* dest = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(out->GraphData) +
                                                 static_cast<size_t>(y) * out->Pitch);
    for (int x = 0; x < w; ++x) {
      const int h0 = row[x * 4 + 2];
      const int h1 = row[(x + 1 == w ? 0 : x + 1) * 4 + 2];
      const int h2 = below[x * 4 + 2];
      const float gx = static_cast<float>(h1 - h0) / 255.0f;
      const float gy = static_cast<float>(h2 - h0) / 255.0f;
      const float nx = -gx * s, ny = -gy * s;
      const float len = SqrtFloat(nx * nx + ny * ny + zz * zz);
      const uint32_t r = static_cast<uint32_t>(FloatToIntFast((nx / len + 1.0f) * 127.5f));
      const uint32_t g = static_cast<uint32_t>(FloatToIntFast((ny / len + 1.0f) * 127.5f));
      const uint32_t b = static_cast<uint32_t>(FloatToIntFast((zz / len + 1.0f) * 127.5f));
      dest[x] = (r << 16) | (g << 8) | b;
    }
  }
  ReleaseBaseImage(&heights);
  return 0;
}

int MV1LoadTextureFiles(BASEIMAGE* colorImage, BASEIMAGE* alphaImage, const void* colorData,
                        int colorSize, const void* alphaData, int alphaSize, int bumpFlag,
                        float bumpScale) {
  std::memset(colorImage, 0, sizeof(*colorImage));
  std::memset(alphaImage, 0, sizeof(*alphaImage));
  auto fail = [&]() {
    ReleaseBaseImage(colorImage);
    ReleaseBaseImage(alphaImage);
    std::memset(colorImage, 0, sizeof(*colorImage));
    std::memset(alphaImage, 0, sizeof(*alphaImage));
    return -1;
  };
  if (alphaData && Decode(alphaData, alphaSize, alphaImage) != 0) return fail();
  if (colorData) {
    if (Decode(colorData, colorSize, colorImage) != 0) return fail();
  } else if (alphaData) {
    if (CreateXRGB8ColorBaseImage(alphaImage->Width, alphaImage->Height, colorImage) != 0)
      return fail();
    std::memset(colorImage->GraphData, 0xFF,
                static_cast<size_t>(colorImage->Pitch) * colorImage->Height);
  } else {
    size_t size;
    const unsigned char* white = MV1BuiltinTextureImage(MV1_BUILTIN_TEXTURE_WHITE, &size);
    if (Decode(white, static_cast<int>(size), colorImage) != 0) return fail();
  }
  if (bumpFlag) {
    BASEIMAGE normal;
    if (MV1MakeNormalMapFromHeightMap(colorImage, bumpScale, &normal) != 0) return fail();
    ReleaseBaseImage(colorImage);
    *colorImage = normal;
  }
  if (StretchToPowerOfTwo(colorImage) != 0) return fail();
  if (alphaData) {
    if (StretchToPowerOfTwo(alphaImage) != 0) return fail();
    if ((alphaImage->Width != colorImage->Width || alphaImage->Height != colorImage->Height) &&
        StretchImage(alphaImage, colorImage->Width, colorImage->Height) != 0)
      return fail();
  }
  return 0;
}

static_assert(MV1_LOAD_TEXTURE_MAX == GRAPH_HANDLE_MAX / 4, "a quarter of the graph table");

int MV1CheckLoadTextureCount(const char* prefix, uint64_t count) {
  if (count <= static_cast<uint64_t>(MV1_LOAD_TEXTURE_MAX)) return 0;
  WriteLogFmt("%s" TEXT_MV1_TEXTURE_LIMIT, prefix, static_cast<unsigned long long>(count),
              MV1_LOAD_TEXTURE_MAX);
  return -1;
}

int MV1LoadTexture(void** colorData, int* colorSize, void** alphaData, int* alphaSize,
                   int* graphHandle, int* semiTransparent, char** colorNameCopy,
                   char** alphaNameCopy, const char* colorPath, const char* alphaPath,
                   const char* folder, int bumpFlag, float bumpScale) {
  *colorData = nullptr;
  *colorSize = 0;
  *alphaData = nullptr;
  *alphaSize = 0;
  *graphHandle = -1;
  *semiTransparent = 0;
  if (colorNameCopy) *colorNameCopy = nullptr;
  if (alphaNameCopy) *alphaNameCopy = nullptr;

  char* colorName = nullptr;
  char* alphaName = nullptr;
  void* color = nullptr;
  void* alpha = nullptr;
  int colorBytes = 0, alphaBytes = 0;
  BASEIMAGE colorImage, alphaImage;
  std::memset(&colorImage, 0, sizeof(colorImage));
  std::memset(&alphaImage, 0, sizeof(alphaImage));
  auto fail = [&]() {
    MEM_FREE(colorName);
    MEM_FREE(alphaName);
    MEM_FREE(color);
    MEM_FREE(alpha);
    ReleaseBaseImage(&colorImage);
    ReleaseBaseImage(&alphaImage);
    return -1;
  };

  char relative[2048];
  if (colorPath && colorNameCopy) {
    if (CreateRelativePath(colorPath, folder, relative, sizeof(relative)) != 0) return fail();
    colorName = StringCopy(relative);
    if (!colorName) {
      WriteLog(TEXT_MV1_TEX_COLOR_NAME_ALLOC_FAILED "\n");
      return fail();
    }
  }
  if (alphaPath && alphaNameCopy) {
    if (CreateRelativePath(alphaPath, folder, relative, sizeof(relative)) != 0) return fail();
    alphaName = StringCopy(relative);
    if (!alphaName) {
      WriteLog(TEXT_MV1_TEX_COLOR_NAME_ALLOC_FAILED "\n");
      return fail();
    }
  }
  // A file that cannot be read becomes a copy of the built-in white image.
  bool colorMissing = false;
  auto load = [&](const char* path, const char* message, void** data, int* bytes) {
    if (LoadWholeFileToMemory(path, data, bytes) == 0) return 0;
    WriteLogFmt(message, path);
    colorMissing = data == &color;
    *data = WhiteCopy();
    *bytes = static_cast<int>(kWhiteTgaSize);
    if (*data) return 0;
    WriteLog(TEXT_MV1_TEX_FALLBACK_ALLOC_FAILED "\n");
    return -1;
  };
  if (colorPath && load(colorPath, TEXT_MV1_TEX_COLOR_READ_FAILED, &color, &colorBytes) != 0)
    return fail();
  if (alphaPath && load(alphaPath, TEXT_MV1_TEX_ALPHA_READ_FAILED, &alpha, &alphaBytes) != 0)
    return fail();

  // the white image alone (a missing colour file, or no files) is decoded once for all textures
  const WhiteFallback* white =
      (colorMissing || !colorPath) && !alpha && !bumpFlag ? DecodedWhite() : nullptr;
  if (!white && MV1LoadTextureFiles(&colorImage, &alphaImage, color, colorBytes, alpha,
                                    alphaBytes, bumpFlag, bumpScale) != 0) {
    WriteLog(TEXT_MV1_TEX_BASEIMAGE_FAILED "\n");
    return fail();
  }
  SetTextureSizeLimit(1, -1);
  int graph = CreateModelTextureGraph(white ? &white->image : &colorImage,
                                      alpha ? &alphaImage : nullptr);
  SetTextureSizeLimit(0, -1);
  if (graph < 0) return fail();

  *semiTransparent = alpha ? 1 : white ? white->semiTransparent : HasTranslucentPixel(&colorImage);
  ReleaseBaseImage(&colorImage);
  ReleaseBaseImage(&alphaImage);
  *colorData = color;
  *colorSize = colorBytes;
  *alphaData = alpha;
  *alphaSize = alphaBytes;
  *graphHandle = graph;
  if (colorNameCopy) *colorNameCopy = colorName;
  if (alphaNameCopy) *alphaNameCopy = alphaName;
  return 0;
}

namespace {

// Refills a texture graph from kept file bytes; failures are skipped.
void RestoreTextureGraph(int graph, const void* color, int colorSize, const void* alpha,
                         int alphaSize, int bumpFlag, float bumpScale) {
  if (graph < 0) return;
  BASEIMAGE colorImage, alphaImage;
  if (MV1LoadTextureFiles(&colorImage, &alphaImage, color, colorSize, alpha, alphaSize, bumpFlag,
                          bumpScale) != 0)
    return;
  ReCreateGraphFromImageData(&colorImage, alpha ? &alphaImage : nullptr, graph, 1, 0, 1);
  ReleaseBaseImage(&colorImage);
  ReleaseBaseImage(&alphaImage);
}

}  // namespace

int MV1RestoreTextures() {
  for (int i = 0; i < MV1_BUILTIN_TEXTURE_NUM; ++i) {
    if (MV1BuiltinTextureGraph[i] < 0) continue;
    size_t size;
    const unsigned char* image = MV1BuiltinTextureImage(i, &size);
    ReCreateGraphFromImageFile(image, size, MV1BuiltinTextureGraph[i], 0, 0, 1, 0);
  }
  if (!MV1SystemInitFlag) return 0;
  for (int i = 0; i < MV1ModelBaseTable.Capacity; ++i) {
    MV1ModelBase* base = MV1GetModelBaseChecked(i | MV1_MODEL_BASE_HANDLE_TAG);
    if (!base) continue;
    for (int t = 0; t < base->TextureCount; ++t) {
      const MV1TextureBase* tex = &base->Texture[t];
      RestoreTextureGraph(tex->GraphHandle, tex->ColorImage, tex->ColorImageSize,
                          tex->AlphaImage, tex->AlphaImageSize, tex->BumpMap, tex->BumpScale);
    }
  }
  for (int i = 0; i < MV1ModelTable.Capacity; ++i) {
    MV1Model* model = MV1GetModelChecked(i | MV1_MODEL_HANDLE_TAG);
    if (!model) continue;
    for (int t = 0; t < model->BaseData->TextureCount; ++t) {
      const MV1Texture* tex = &model->Texture[t];
      if (!tex->OwnGraph) continue;
      RestoreTextureGraph(tex->OwnGraphHandle, tex->ColorImage, tex->ColorImageSize,
                          tex->AlphaImage, tex->AlphaImageSize, tex->BumpMap, tex->BumpScale);
    }
  }
  return 0;
}
