// MEMIMG surfaces: creation, views, release, pixel formats, fills, copies and uploads.
#include <qzlib/soft/memimg.h>

#include <algorithm>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/image/pixel_codec.h>

namespace {

constexpr int kMaxSide = 32768;

// The ten shared descriptors: [format 0/1][alpha][palette], then formats 2 and 3.
PIXELFORMAT g_direct[2][2][2];
bool g_directBuilt[2][2][2];
PIXELFORMAT g_single[2];
bool g_singleBuilt[2];

int BytesPerPixelFor(int format, int paletteFlag, int alphaFlag) {
  if (paletteFlag) return 1;
  switch (format) {
    case 0:
      return alphaFlag ? 4 : 2;
    case 1:
      return 4;
    case 2:
      return 1;
    default:
      return 2;
  }
}

// Frees every buffer of a body and the body itself.
void FreeBody(MemImgBase* base) {
  if (!base) return;
  if (!base->UserPixels) MEM_FREE(base->Pixels);
  MEM_FREE(base->PremulPixels);
  MEM_FREE(base->RunMap);
  MEM_FREE(base->Palette);
  MEM_FREE(base);
}

// Premultiplied copy of the whole body: colour channels x alpha >> 8, alpha kept. A pitch need
// only hold the row, so rows may start at any byte: pixels are loaded and stored bytewise.
void BuildPremultipliedPlane(MemImgBase* b) {
  auto load = [](const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  };
  for (int32_t y = 0; y < b->Height; ++y) {
    const uint8_t* s = b->Pixels + int64_t(y) * b->Pitch;
    uint8_t* d = b->PremulPixels + int64_t(y) * b->Pitch;
    if (b->Format == 1) {
      for (int32_t x = 0; x < b->Width; ++x) {
        uint32_t v = load(s + 4 * x), a = v >> 24;
        uint32_t bl = ((v & 0xFF) * a) >> 8, g = (((v >> 8) & 0xFF) * a) >> 8,
                 r = (((v >> 16) & 0xFF) * a) >> 8;
        uint32_t out = bl | (g << 8) | (r << 16) | (a << 24);
        std::memcpy(d + 4 * x, &out, 4);
      }
    } else {
      for (int32_t x = 0; x < b->Width; ++x) {
        uint32_t v = load(s + 4 * x), a = (v >> 16) & 0xFF;
        uint32_t rgb = ((((v & 0xF800) * a) & 0xF80000) | (((v & 0x07E0) * a) & 0x7E000) |
                        (((v & 0x001F) * a) & 0x1F00)) >>
                       8;
        uint32_t out = (v & 0xFFFF0000u) | rgb;
        std::memcpy(d + 4 * x, &out, 4);
      }
    }
  }
}

// Kind of one pixel for the run map: MEMIMG_RUN_SKIP, _OPAQUE or _TRANSLUCENT.
inline uint8_t PixelKind(const MemImgBase* b, const uint8_t* row, int32_t x) {
  if (b->PaletteFlag)
    return uint32_t(row[x]) == b->TransColor ? MEMIMG_RUN_SKIP : MEMIMG_RUN_OPAQUE;
  if (b->AlphaFlag) {
    uint32_t a = b->Format == 1 ? row[x * 4 + 3] : row[x * 4 + 2];
    return a == 0 ? MEMIMG_RUN_SKIP : (a == 255 ? MEMIMG_RUN_OPAQUE : MEMIMG_RUN_TRANSLUCENT);
  }
  uint32_t v;
  if (b->Format == 0) {
    uint16_t s;
    std::memcpy(&s, row + x * 2, 2);
    v = s;
  } else {
    std::memcpy(&v, row + x * 4, 4);
  }
  return v == b->TransColor ? MEMIMG_RUN_SKIP : MEMIMG_RUN_OPAQUE;
}

// Runs of at most 64 pixels of one kind, each row closed by MEMIMG_RUN_END.
void BuildRunMap(MemImgBase* b) {
  uint8_t* out = b->RunMap;
  for (int32_t y = 0; y < b->Height; ++y) {
    const uint8_t* row = b->Pixels + int64_t(y) * b->Pitch;
    int32_t x = 0;
    while (x < b->Width) {
      uint8_t kind = PixelKind(b, row, x);
      int32_t n = 1;
      while (n < 64 && x + n < b->Width && PixelKind(b, row, x + n) == kind) ++n;
      *out++ = static_cast<uint8_t>(kind | (n - 1));
      x += n;
    }
    *out++ = MEMIMG_RUN_END;
  }
}

// The body's palette in its own format, from a 256-entry B, G, R, spare palette; then copied.
void RebuildPalette(MemImgBase* b, const COLOR_U8* pal) {
  if (b->Format == 0) {
    for (int i = 0; i < 256; ++i) {
      uint16_t e = static_cast<uint16_t>(((pal[i].r & 0xF8) << 8) | ((pal[i].g & 0xFC) << 3) |
                                         (pal[i].b >> 3));
      std::memcpy(b->Palette + i * 2, &e, 2);
    }
    std::memcpy(b->PaletteCopy, b->Palette, 512);
  } else {
    for (int i = 0; i < 256; ++i) {
      b->Palette[i * 4 + 0] = pal[i].b;
      b->Palette[i * 4 + 1] = pal[i].g;
      b->Palette[i * 4 + 2] = pal[i].r;
      b->Palette[i * 4 + 3] = 0;
    }
    std::memcpy(b->PaletteCopy, b->Palette, 1024);
  }
}

// Clips a copy of the source rectangle (sl, st, sr, sb) placed at (dx, dy) against a source of
// sw x sh and a destination of dw x dh, in 64 bits. False when nothing is left.
bool ClipCopy(int64_t* sl, int64_t* st, int64_t* sr, int64_t* sb, int64_t* dx, int64_t* dy,
              int64_t sw, int64_t sh, int64_t dw, int64_t dh) {
  if (*sl < 0) {
    *dx -= *sl;
    *sl = 0;
  }
  if (*st < 0) {
    *dy -= *st;
    *st = 0;
  }
  *sr = std::min(*sr, sw);
  *sb = std::min(*sb, sh);
  if (*dx < 0) {
    *sl -= *dx;
    *dx = 0;
  }
  if (*dy < 0) {
    *st -= *dy;
    *dy = 0;
  }
  *sr = std::min(*sr, *sl + (dw - *dx));
  *sb = std::min(*sb, *st + (dh - *dy));
  return *sl < *sr && *st < *sb;
}

}  // namespace

const PIXELFORMAT* GetMemImgPixelFormat(int format, int alphaFlag, int paletteFlag) {
  if (format < 0 || format > 3) return nullptr;
  if (format >= 2) {
    int i = format - 2;
    if (!g_singleBuilt[i]) {
      PIXELFORMAT& f = g_single[i];
      std::memset(&f, 0, sizeof f);
      uint16_t bits = format == 2 ? 8 : 16;
      uint32_t mask = format == 2 ? 255u : 65535u;
      f.ColorBitDepth = bits;
      f.PixelByte = static_cast<uint16_t>(bits / 8);
      f.RedWidth = f.GreenWidth = f.BlueWidth = f.AlphaWidth = static_cast<uint8_t>(bits);
      f.RedMask = f.GreenMask = f.BlueMask = f.AlphaMask = mask;
      g_singleBuilt[i] = true;
    }
    return &g_single[i];
  }
  int a = alphaFlag ? 1 : 0, p = paletteFlag ? 1 : 0;
  if (!g_directBuilt[format][a][p]) {
    PIXELFORMAT& f = g_direct[format][a][p];
    std::memset(&f, 0, sizeof f);
    if (format == 0)
      BuildPixelFormatFromMasks(&f, p ? 8 : (a ? 32 : 16), 0xF800, 0x07E0, 0x001F,
                                a ? 0xFF0000 : 0);
    else
      BuildPixelFormatFromMasks(&f, p ? 8 : 32, 0xFF0000, 0xFF00, 0xFF, a ? 0xFF000000u : 0);
    g_directBuilt[format][a][p] = true;
  }
  return &g_direct[format][a][p];
}

int InitializeMemImg(MEMIMG* img, int width, int height, int pitch, uint32_t transColor, int format,
                     int paletteFlag, int alphaFlag, int accelFlag, void* userPixels) {
  if (!img || img->Magic == MEMIMG_MAGIC) return -1;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return -1;
  if (format < 0 || format > 3) return -1;
  if (format >= 2) paletteFlag = alphaFlag = 0;
  paletteFlag = paletteFlag ? 1 : 0;
  alphaFlag = (alphaFlag && !paletteFlag) ? 1 : 0;
  const int bpp = BytesPerPixelFor(format, paletteFlag, alphaFlag);
  const int64_t rowBytes = int64_t(bpp) * width;
  if (pitch != -1 && pitch < rowBytes) return -1;

  MemImgBase* b = static_cast<MemImgBase*>(MEM_CALLOC(sizeof(MemImgBase)));
  if (!b) return -1;
  b->UseCount = 1;
  b->Width = width;
  b->Height = height;
  b->TransColor = transColor;
  b->Format = format;
  b->PaletteFlag = paletteFlag;
  b->AlphaFlag = alphaFlag;
  if (paletteFlag) {
    b->Palette = static_cast<uint8_t*>(MEM_CALLOC(2048));
    if (!b->Palette) {
      FreeBody(b);
      return -1;
    }
    b->PaletteCopy = b->Palette + 1024;
  }
  // Pitch, and its shift when the requested row size rounds to a power of two equal to it.
  const int64_t n = pitch == -1 ? rowBytes : int64_t(pitch);
  b->Pitch = pitch == -1 ? int32_t((rowBytes + 15) & ~int64_t(15)) : pitch;
  int shift = 0;
  while ((int64_t(1) << shift) < n) ++shift;
  b->PitchShift = (int64_t(1) << shift) == b->Pitch ? shift : -1;
  b->ColorFormat = GetMemImgPixelFormat(format, alphaFlag, paletteFlag);

  const size_t bodyBytes = size_t(b->Pitch) * size_t(height);
  if (userPixels) {
    b->Pixels = static_cast<uint8_t*>(userPixels);
    b->UserPixels = 1;
  } else {
    b->Pixels = static_cast<uint8_t*>(MEM_ALLOC(bodyBytes));
    if (!b->Pixels) {
      FreeBody(b);
      return -1;
    }
  }
  if (accelFlag) {
    if (alphaFlag) {
      b->PremulPixels = static_cast<uint8_t*>(MEM_ALLOC(bodyBytes));
      if (!b->PremulPixels) {
        FreeBody(b);
        return -1;
      }
    }
    if (format != 2) {
      b->RunMap = static_cast<uint8_t*>(MEM_ALLOC((size_t(width) + 5) * size_t(height)));
      if (!b->RunMap) {
        FreeBody(b);
        return -1;
      }
    }
  }
  img->Width = width;
  img->Height = height;
  img->Pixels = b->Pixels;
  img->PremulPixels = b->PremulPixels;
  img->Base = b;
  img->Magic = MEMIMG_MAGIC;
  return 0;
}

int MakeMemImg(MEMIMG* img, int width, int height, int format) {
  if (!img || img->Magic == MEMIMG_MAGIC) return -1;
  std::memset(img, 0, sizeof *img);
  if (format == -1) format = GetColorBitDepth() == 16 ? 0 : 1;
  return InitializeMemImg(img, width, height, -1, 0, format, 0, 0, 0, nullptr);
}

void DerivationMemImg(MEMIMG* newImg, const MEMIMG* src, int x, int y, int width, int height) {
  if (!newImg || !CheckValidMemImg(src) || newImg->Magic == MEMIMG_MAGIC) return;
  if (x < 0 || y < 0 || width < 0 || height < 0) return;
  if (int64_t(x) + width > src->Width || int64_t(y) + height > src->Height) return;
  MemImgBase* b = src->Base;
  const int64_t offset = int64_t(y) * b->Pitch + int64_t(x) * b->ColorFormat->PixelByte;
  newImg->Width = width;
  newImg->Height = height;
  newImg->Pixels = src->Pixels + offset;
  newImg->PremulPixels = b->PremulPixels ? src->PremulPixels + offset : nullptr;
  newImg->Base = b;
  b->UseCount++;
  newImg->Magic = MEMIMG_MAGIC;
}

void TerminateMemImg(MEMIMG* img) {
  if (!CheckValidMemImg(img)) return;
  MemImgBase* b = img->Base;
  if (--b->UseCount <= 0) FreeBody(b);
  std::memset(img, 0, sizeof *img);
}

int CheckValidMemImg(const MEMIMG* img) {
  return img && img->Magic == MEMIMG_MAGIC && img->Base != nullptr ? 1 : 0;
}

void ClearMemImg(MEMIMG* img, const RECT* rect, uint32_t color) {
  if (!CheckValidMemImg(img)) return;
  RECT area = {0, 0, img->Width, img->Height};
  if (rect) {
    RECT r = *rect;
    RectClipping(&r, &area);
    area = r;
  }
  if (area.left >= area.right || area.top >= area.bottom) return;
  const int bpp = MemImgBytesPerPixel(img);
  if (bpp != 1 && bpp != 2 && bpp != 4) return;
  // A 64-byte run of the colour (every pixel size divides it), stored chunk by chunk.
  uint8_t pattern[64];
  for (int i = 0; i < 64; i += bpp) std::memcpy(pattern + i, &color, size_t(bpp));
  const int32_t pitch = img->Base->Pitch;
  const size_t bytes = size_t(area.right - area.left) * size_t(bpp);
  for (int32_t y = area.top; y < area.bottom; ++y) {
    uint8_t* row = img->Pixels + int64_t(y) * pitch + int64_t(area.left) * bpp;
    size_t off = 0;
    for (; off + 64 <= bytes; off += 64) std::memcpy(row + off, pattern, 64);
    std::memcpy(row + off, pattern, bytes - off);
  }
  MemImgMarkPixelsChanged(img);
}

int BltMemImg(MEMIMG* dst, const MEMIMG* src, const RECT* srcRect, int x, int y) {
  if (!CheckValidMemImg(dst) || !CheckValidMemImg(src)) return -1;
  RECT whole = {0, 0, src->Width, src->Height};
  const RECT& r = srcRect ? *srcRect : whole;
  int64_t sl = r.left, st = r.top, sr = r.right, sb = r.bottom, dx = x, dy = y;
  if (!ClipCopy(&sl, &st, &sr, &sb, &dx, &dy, src->Width, src->Height, dst->Width, dst->Height))
    return 0;
  RECT clipped = {int32_t(sl), int32_t(st), int32_t(sr), int32_t(sb)};
  const MemImgBase* sbse = src->Base;
  MemImgBase* dbse = dst->Base;
  // The shared descriptor of a palettised body carries no colours (the palette lives in the
  // body), so a conversion into direct colour reads them from a copy that holds the body's palette.
  PIXELFORMAT withPalette;
  const PIXELFORMAT* srcFormat = sbse->ColorFormat;
  if (sbse->PaletteFlag && sbse->Palette && !dbse->PaletteFlag) {
    withPalette = *srcFormat;
    for (int i = 0; i < 256; ++i) {
      COLOR_U8& e = withPalette.Palette[i];
      if (sbse->Format == MEMIMG_FORMAT_XRGB8) {
        e.b = sbse->Palette[i * 4], e.g = sbse->Palette[i * 4 + 1], e.r = sbse->Palette[i * 4 + 2];
      } else {
        const uint32_t v = uint32_t(sbse->Palette[i * 2]) | uint32_t(sbse->Palette[i * 2 + 1]) << 8;
        e.r = uint8_t(ChannelTo8((v >> 11) & 31, 5));
        e.g = uint8_t(ChannelTo8((v >> 5) & 63, 6));
        e.b = uint8_t(ChannelTo8(v & 31, 5));
      }
      e.a = 0;
    }
    srcFormat = &withPalette;
  }
  int result =
      BltConvertPixelFormat(dst->Pixels, dbse->Pitch, dbse->ColorFormat, src->Pixels, sbse->Pitch,
                            srcFormat, nullptr, 0, nullptr, int(dx), int(dy), &clipped, 0,
                            0, 0, 0, 0, 0, 0, 0, src->Width, src->Height, dst->Width, dst->Height);
  MemImgMarkPixelsChanged(dst);
  return result;
}

int BltBaseImageToMemImg(const BASEIMAGE* src, const BASEIMAGE* alpha, MEMIMG* dst, int srcX,
                         int srcY, int width, int height, int dstX, int dstY, int transFlag) {
  if (!src || !CheckValidMemImg(dst)) return -1;
  MemImgBase* b = dst->Base;
  int64_t sl = srcX, st = srcY, sr = int64_t(srcX) + width, sb = int64_t(srcY) + height;
  int64_t dx = dstX, dy = dstY;
  int64_t sw = src->Width, sh = src->Height;
  if (alpha) {
    sw = std::min<int64_t>(sw, alpha->Width);
    sh = std::min<int64_t>(sh, alpha->Height);
  }
  if (width <= 0 || height <= 0 ||
      !ClipCopy(&sl, &st, &sr, &sb, &dx, &dy, sw, sh, dst->Width, dst->Height)) {
    // Nothing to copy: the pixels stay as they were.
    return 0;
  }
  RECT rect = {int32_t(sl), int32_t(st), int32_t(sr), int32_t(sb)};
  const int32_t w = int32_t(sr - sl), h = int32_t(sb - st);

  if (b->Format == 2 || b->Format == 3) {
    BltConvertPixelFormat(dst->Pixels, b->Pitch, b->ColorFormat, src->GraphData, src->Pitch,
                          &src->ColorData, nullptr, 0, nullptr, int(dx), int(dy), &rect, 0, 0, 0, 0,
                          1, 1, 0, 0, src->Width, src->Height, dst->Width, dst->Height);
    MemImgMarkPixelsChanged(dst);
    return 0;
  }
  int result = BltConvertPixelFormat(
      dst->Pixels, b->Pitch, b->ColorFormat, src->GraphData, src->Pitch, &src->ColorData,
      alpha ? alpha->GraphData : nullptr, alpha ? alpha->Pitch : 0,
      alpha ? &alpha->ColorData : nullptr, int(dx), int(dy), &rect, 0, transFlag, b->TransColor, 0,
      0, 0, 0, 0, int(sw), int(sh), dst->Width, dst->Height);
  if (result < 0) return result;
  MemImgMarkPixelsChanged(dst);
  if (b->PaletteFlag) {
    if (!alpha) b->PaletteCount = result + 1;
    RebuildPalette(b, src->ColorData.Palette);
  }
  // A whole-body upload brings the acceleration structures up to date.
  const bool wholeBody = w == dst->Width && h == dst->Height && dst->Width == b->Width &&
                         dst->Height == b->Height && dst->Pixels == b->Pixels;
  if (wholeBody && b->Format <= 1 && b->RunMap) {
    b->RunMapValid = 1;
    if (b->AlphaFlag && b->PremulPixels) {
      BuildPremultipliedPlane(b);
      b->PremulValid = 1;
    }
    BuildRunMap(b);
  }
  return result;
}
