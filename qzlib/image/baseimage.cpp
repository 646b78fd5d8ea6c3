// Base images: creation, release, scaling, and the image reader table.
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/base/engine_texts.h>

// ---------------------------------------------------------------------------------------------
// Formats and allocation
// ---------------------------------------------------------------------------------------------

void MakeArgb8Format(PIXELFORMAT* f, bool alpha) {
  std::memset(f, 0, sizeof(*f));
  BuildPixelFormatFromMasks(f, 32, 0xFF0000, 0xFF00, 0xFF, alpha ? 0xFF000000u : 0);
}

void MakeBgr24Format(PIXELFORMAT* f) {
  std::memset(f, 0, sizeof(*f));
  BuildPixelFormatFromMasks(f, 24, 0xFF0000, 0xFF00, 0xFF, 0);
}

void MakePaletteFormat(PIXELFORMAT* f) {
  std::memset(f, 0, sizeof(*f));
  BuildPixelFormatFromMasks(f, 8, 0xFF0000, 0xFF00, 0xFF, 0);
}

void MakeGreyPaletteFormat(PIXELFORMAT* f) {
  MakePaletteFormat(f);
  for (int i = 0; i < 256; ++i) {
    f->Palette[i].b = f->Palette[i].g = f->Palette[i].r = static_cast<uint8_t>(i);
    f->Palette[i].a = 0;
  }
}

namespace {
uint64_t g_ImageMemoryLimit = 0;
}  // namespace

void SetImageMemoryLimit(uint64_t bytes) { g_ImageMemoryLimit = bytes; }
uint64_t ImageMemoryLimit() { return g_ImageMemoryLimit; }

int ConvertRowForWriter(const BASEIMAGE* image, int y, bool alpha, uint8_t* out) {
  PIXELFORMAT f;
  if (alpha) MakeArgb8Format(&f, true);
  else MakeBgr24Format(&f);
  RECT r = {0, y, image->Width, y + 1};
  return BltConvertPixelFormat(out, image->Width * f.PixelByte, &f, image->GraphData, image->Pitch,
                               &image->ColorData, nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0, 0, 0,
                               0, 0, 0, image->Width, image->Height, image->Width, 1) < 0
             ? -1
             : 0;
}

int AllocBaseImagePixels(BASEIMAGE* image, int width, int height, const PIXELFORMAT* format) {
  std::memset(image, 0, sizeof(*image));
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) return -1;
  uint64_t pitch;
  uint64_t rows;
  if (format->DxtFormat != 0) {
    if (format->DxtFormat < 1 || format->DxtFormat > 5) return -1;
    pitch = ((static_cast<uint64_t>(width) + 3) / 4) * DxtBlockBytes(format->DxtFormat);
    rows = (static_cast<uint64_t>(height) + 3) / 4;
  } else {
    if (format->PixelByte < 1 || format->PixelByte > 4) return -1;
    pitch = (static_cast<uint64_t>(width) * format->PixelByte + 3) & ~static_cast<uint64_t>(3);
    rows = static_cast<uint64_t>(height);
  }
  uint64_t bytes = pitch * rows;  // at most 32768 * 4 * 32768: no overflow in 64 bits
  if (bytes > SIZE_MAX || pitch > INT32_MAX) return -1;
  if (g_ImageMemoryLimit != 0 && bytes > g_ImageMemoryLimit) return -1;
  void* pixels = MEM_ALLOC(static_cast<size_t>(bytes));
  if (pixels == nullptr) return -1;
  image->ColorData = *format;
  image->Width = width;
  image->Height = height;
  image->Pitch = static_cast<int>(pitch);
  image->GraphData = pixels;
  return 0;
}

int CreateXRGB8ColorBaseImage(int width, int height, BASEIMAGE* image) {
  if (image == nullptr) return -1;
  PIXELFORMAT f;
  MakeArgb8Format(&f, false);
  return AllocBaseImagePixels(image, width, height, &f);
}

int CreateBaseImageOfFormat(int width, int height, const PIXELFORMAT* format, BASEIMAGE* image) {
  if (image == nullptr || format == nullptr) return -1;
  if (format->DxtFormat != 0) {
    PIXELFORMAT f;
    MakeArgb8Format(&f, true);
    return AllocBaseImagePixels(image, width, height, &f);
  }
  return AllocBaseImagePixels(image, width, height, format);
}

int ReleaseBaseImage(BASEIMAGE* image) {
  if (image == nullptr) return 0;
  if (image->GraphData != nullptr) MEM_FREE(image->GraphData);
  image->GraphData = nullptr;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Scaling
// ---------------------------------------------------------------------------------------------

namespace {

// Source position of destination column d, in 1/256 pixel, centre to centre.
int64_t SamplePos(int64_t d, int64_t srcSize, int64_t destSize) {
  int64_t num = (2 * d + 1) * srcSize * 256;
  return num / (2 * destSize) - 128;
}

void SplitPos(int64_t pos, int size, int* i0, int* i1, uint32_t* frac) {
  int64_t whole = pos >= 0 ? pos / 256 : -((-pos + 255) / 256);
  int64_t f = pos - whole * 256;
  if (whole < 0) {
    whole = 0;
    f = 0;
  }
  if (whole >= size - 1) {
    whole = size - 1;
    f = 0;
  }
  *i0 = static_cast<int>(whole);
  *i1 = static_cast<int>(whole + 1 < size ? whole + 1 : whole);
  *frac = static_cast<uint32_t>(f);
}

}  // namespace

int BltBaseImageStretch(int srcX, int srcY, int srcWidth, int srcHeight, const BASEIMAGE* src,
                        int destX, int destY, int destWidth, int destHeight, BASEIMAGE* dest,
                        int filterFlag) {
  if (src == nullptr || dest == nullptr || src->GraphData == nullptr || dest->GraphData == nullptr)
    return -1;
  if (dest->ColorData.DxtFormat != 0) return -1;
  if (srcWidth <= 0 || srcHeight <= 0 || destWidth <= 0 || destHeight <= 0) return -1;
  if (srcX < 0 || srcY < 0 || static_cast<int64_t>(srcX) + srcWidth > src->Width ||
      static_cast<int64_t>(srcY) + srcHeight > src->Height)
    return -1;
  if (destX < 0 || destY < 0 || static_cast<int64_t>(destX) + destWidth > dest->Width ||
      static_cast<int64_t>(destY) + destHeight > dest->Height)
    return -1;

  // Palettised destination: nearest index, the source's palette.
  if (PixelFormatIsPalette(&dest->ColorData)) {
    if (!PixelFormatIsPalette(&src->ColorData)) return -1;
    for (int y = 0; y < destHeight; ++y) {
      int sy = srcY + static_cast<int>((2 * static_cast<int64_t>(y) + 1) * srcHeight / (2 * static_cast<int64_t>(destHeight)));
      const uint8_t* s = static_cast<const uint8_t*>(src->GraphData) + static_cast<int64_t>(sy) * src->Pitch;
      uint8_t* d = static_cast<uint8_t*>(dest->GraphData) + static_cast<int64_t>(destY + y) * dest->Pitch + destX;
      for (int x = 0; x < destWidth; ++x) {
        int sx = srcX + static_cast<int>((2 * static_cast<int64_t>(x) + 1) * srcWidth / (2 * static_cast<int64_t>(destWidth)));
        d[x] = s[sx];
      }
    }
    std::memcpy(dest->ColorData.Palette, src->ColorData.Palette, sizeof(dest->ColorData.Palette));
    return 0;
  }

  // Everything else goes through A8R8G8B8 work buffers.
  PIXELFORMAT argb;
  MakeArgb8Format(&argb, true);
  size_t srcBytes = static_cast<size_t>(srcWidth) * srcHeight * 4;
  size_t destBytes = static_cast<size_t>(destWidth) * destHeight * 4;
  uint32_t* work = static_cast<uint32_t*>(MEM_ALLOC(srcBytes));
  if (work == nullptr) return -1;
  uint32_t* out = static_cast<uint32_t*>(MEM_ALLOC(destBytes));
  if (out == nullptr) {
    MEM_FREE(work);
    return -1;
  }
  RECT r = {srcX, srcY, srcX + srcWidth, srcY + srcHeight};
  int result = BltConvertPixelFormat(work, srcWidth * 4, &argb, src->GraphData, src->Pitch,
                                     &src->ColorData, nullptr, 0, nullptr, 0, 0, &r, 0, 0, 0, 0,
                                     0, 0, 0, 0, src->Width, src->Height, srcWidth, srcHeight);
  if (result >= 0) {
    for (int y = 0; y < destHeight; ++y) {
      uint32_t* d = out + static_cast<size_t>(y) * destWidth;
      if (filterFlag == 0) {
        int sy = static_cast<int>((2 * static_cast<int64_t>(y) + 1) * srcHeight / (2 * static_cast<int64_t>(destHeight)));
        const uint32_t* s = work + static_cast<size_t>(sy) * srcWidth;
        for (int x = 0; x < destWidth; ++x) {
          d[x] = s[(2 * static_cast<int64_t>(x) + 1) * srcWidth / (2 * static_cast<int64_t>(destWidth))];
        }
        continue;
      }
      int y0, y1;
      uint32_t fy;
      SplitPos(SamplePos(y, srcHeight, destHeight), srcHeight, &y0, &y1, &fy);
      const uint32_t* r0 = work + static_cast<size_t>(y0) * srcWidth;
      const uint32_t* r1 = work + static_cast<size_t>(y1) * srcWidth;
      for (int x = 0; x < destWidth; ++x) {
        int x0, x1;
        uint32_t fx;
        SplitPos(SamplePos(x, srcWidth, destWidth), srcWidth, &x0, &x1, &fx);
        uint32_t c = 0;
        for (int sh = 0; sh < 32; sh += 8) {
          uint32_t c00 = (r0[x0] >> sh) & 255, c10 = (r0[x1] >> sh) & 255;
          uint32_t c01 = (r1[x0] >> sh) & 255, c11 = (r1[x1] >> sh) & 255;
          uint32_t top = c00 * (256 - fx) + c10 * fx;
          uint32_t bottom = c01 * (256 - fx) + c11 * fx;
          uint32_t v = (top * (256 - fy) + bottom * fy + 32768) >> 16;
          c |= v << sh;
        }
        d[x] = c;
      }
    }
    RECT all = {0, 0, destWidth, destHeight};
    result = BltConvertPixelFormat(dest->GraphData, dest->Pitch, &dest->ColorData, out,
                                   destWidth * 4, &argb, nullptr, 0, nullptr, destX, destY, &all,
                                   0, 0, 0, 0, 0, 1, 0, 0, destWidth, destHeight, dest->Width,
                                   dest->Height);
  }
  MEM_FREE(out);
  MEM_FREE(work);
  return result < 0 ? -1 : 0;
}

// ---------------------------------------------------------------------------------------------
// The reader table
// ---------------------------------------------------------------------------------------------

int LogImageReadError(const char* kind, const char* what) {
  return WriteLogFmt(TEXT_IMAGE_READ_ERROR, kind, what);
}

namespace {

using ImageReaderFn = int (*)(const uint8_t*, size_t, BASEIMAGE*);
const ImageReaderFn kImageReaders[] = {ReadBmpImage, ReadJpegImage, ReadPngImage,
                                       ReadBgraImage, ReadTgaImage, ReadDdsImage};

}  // namespace

int CreateBaseImageToMem(const char* fileName, const void* data, size_t size, int dataInMemory,
                         BASEIMAGE* image, int reverseFlag) {
  if (image == nullptr) return -1;
  std::memset(image, 0, sizeof(*image));
  if (reverseFlag != 0) return -1;
  uint8_t* owned = nullptr;
  if (data == nullptr) {
    if (dataInMemory != 0 || fileName == nullptr) return -1;
    owned = static_cast<uint8_t*>(FileReadAll(fileName, &size));
    if (owned == nullptr) return WriteLogFmt(TEXT_IMAGE_FILE_OPEN, fileName);
    data = owned;
  }
  int result = 1;
  for (ImageReaderFn reader : kImageReaders) {
    result = reader(static_cast<const uint8_t*>(data), size, image);
    if (result <= 0) break;
  }
  MEM_FREE(owned);
  if (result == 0) return 0;
  std::memset(image, 0, sizeof(*image));
  if (result > 0) WriteLog(TEXT_IMAGE_UNKNOWN_FORMAT "\n");
  return -1;
}
