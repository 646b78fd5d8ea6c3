// Base images: creation, release, and the image reader table.
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
    // Neither data nor, with dataInMemory 0, a file name: nothing to read.
    if (dataInMemory != 0 || fileName == nullptr) return WriteLog(TEXT_IMAGE_NO_SOURCE "\n");
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
