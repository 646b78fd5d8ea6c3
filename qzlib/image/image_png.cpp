// PNG reading and writing through libpng. libpng reports errors by a long jump back into the
// function that armed it; those functions hold no C++ objects with destructors, keep what
// they allocate in a context record reachable after the jump, and free it there.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/base/engine_texts.h>

namespace {

constexpr const char* kKind = "PNG";

struct PngSource {
  const uint8_t* Data;
  size_t Size;
  size_t Pos;
};

void PngReadData(png_structp png, png_bytep out, png_size_t n) {
  PngSource* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (src->Pos > src->Size || n > src->Size - src->Pos) png_error(png, "truncated");
  std::memcpy(out, src->Data + src->Pos, n);
  src->Pos += n;
}

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Everything the reader holds, so that the error path can free it.
struct PngReadState {
  png_structp Png;
  png_infop Info;
  png_bytep* Rows;
  BASEIMAGE* Image;
  PngSource Source;
  const char* Reason;
};

// Returns 0 or -1; on -1 the caller frees what the state holds.
int DecodePng(PngReadState* st) {
  if (setjmp(png_jmpbuf(st->Png))) return -1;
  png_structp png = st->Png;
  png_infop info = st->Info;
  png_set_read_fn(png, &st->Source, PngReadData);
  png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
  png_read_info(png, info);
  png_uint_32 width, height;
  int bitDepth, colorType, interlace;
  png_get_IHDR(png, info, &width, &height, &bitDepth, &colorType, &interlace, nullptr, nullptr);
  if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide) {
    st->Reason = TEXT_IMAGE_REASON_SIZE;
    return -1;
  }
  const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  PIXELFORMAT format;
  if (bitDepth == 16) png_set_strip_16(png);
  int outBytes;
  switch (colorType) {
    case PNG_COLOR_TYPE_PALETTE:
      if (trns) {
        png_set_palette_to_rgb(png);
        png_set_tRNS_to_alpha(png);
        png_set_bgr(png);
        MakeArgb8Format(&format, true);
        outBytes = 4;
      } else {
        png_set_packing(png);
        MakePaletteFormat(&format);
        png_colorp palette = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &palette, &count) == PNG_INFO_PLTE) {
          for (int i = 0; i < count && i < 256; ++i) {
            format.Palette[i].r = palette[i].red;
            format.Palette[i].g = palette[i].green;
            format.Palette[i].b = palette[i].blue;
          }
        }
        outBytes = 1;
      }
      break;
    case PNG_COLOR_TYPE_GRAY:
      if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
      if (trns) {
        png_set_tRNS_to_alpha(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        MakeArgb8Format(&format, true);
        outBytes = 4;
      } else {
        MakeGreyPaletteFormat(&format);
        outBytes = 1;
      }
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_gray_to_rgb(png);
      png_set_bgr(png);
      MakeArgb8Format(&format, true);
      outBytes = 4;
      break;
    case PNG_COLOR_TYPE_RGB:
      png_set_bgr(png);
      if (trns) {
        png_set_tRNS_to_alpha(png);
        MakeArgb8Format(&format, true);
        outBytes = 4;
      } else {
        MakeBgr24Format(&format);
        outBytes = 3;
      }
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      png_set_bgr(png);
      MakeArgb8Format(&format, true);
      outBytes = 4;
      break;
    default:
      st->Reason = TEXT_IMAGE_REASON_FORMAT;
      return -1;
  }
  // zlib expands at most about 1032 to 1: data too short for the image is refused before the
  // pixels are allocated.
  const uint64_t rawRowBytes = (static_cast<uint64_t>(width) * png_get_channels(png, info) * bitDepth + 7) / 8 + 1;
  if (rawRowBytes * height > static_cast<uint64_t>(st->Source.Size) * 1100 + 65536) {
    st->Reason = TEXT_IMAGE_REASON_TRUNCATED;
    return -1;
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * outBytes) {
    st->Reason = TEXT_IMAGE_REASON_FORMAT;
    return -1;
  }
  if (AllocBaseImagePixels(st->Image, static_cast<int>(width), static_cast<int>(height), &format) != 0) {
    st->Reason = TEXT_IMAGE_REASON_MEMORY;
    return -1;
  }
  st->Rows = static_cast<png_bytep*>(MEM_ALLOC(sizeof(png_bytep) * height));
  if (st->Rows == nullptr) {
    st->Reason = TEXT_IMAGE_REASON_MEMORY;
    return -1;
  }
  for (png_uint_32 y = 0; y < height; ++y) {
    st->Rows[y] = static_cast<png_bytep>(st->Image->GraphData) + static_cast<size_t>(y) * st->Image->Pitch;
  }
  png_read_image(png, st->Rows);
  png_read_end(png, nullptr);
  return 0;
}

struct PngWriteState {
  png_structp Png;
  png_infop Info;
  FILE* File;
  uint8_t* Row;
  const BASEIMAGE* Image;
};

int EncodePng(PngWriteState* st, int compressionLevel) {
  if (setjmp(png_jmpbuf(st->Png))) return -1;
  const BASEIMAGE* image = st->Image;
  const bool alpha = PixelFormatHasAlpha(&image->ColorData) != 0;
  png_init_io(st->Png, st->File);
  png_set_IHDR(st->Png, st->Info, image->Width, image->Height, 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (compressionLevel >= 0 && compressionLevel <= 9) png_set_compression_level(st->Png, compressionLevel);
  png_write_info(st->Png, st->Info);
  png_set_bgr(st->Png);
  for (int y = 0; y < image->Height; ++y) {
    if (ConvertRowForWriter(image, y, alpha, st->Row) != 0) return -1;
    png_write_row(st->Png, st->Row);
  }
  png_write_end(st->Png, st->Info);
  return 0;
}

}  // namespace

int ReadPngImage(const uint8_t* data, size_t size, BASEIMAGE* image) {
  if (size < 8 || png_sig_cmp(data, 0, 8) != 0) return 1;
  PngReadState st = {};
  st.Image = image;
  st.Source = {data, size, 0};
  st.Reason = TEXT_IMAGE_REASON_DATA;
  std::memset(image, 0, sizeof(*image));
  st.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (st.Png != nullptr) st.Info = png_create_info_struct(st.Png);
  if (st.Png == nullptr || st.Info == nullptr) {
    png_destroy_read_struct(st.Png ? &st.Png : nullptr, nullptr, nullptr);
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_MEMORY);
  }
  int result = DecodePng(&st);
  png_destroy_read_struct(&st.Png, &st.Info, nullptr);
  MEM_FREE(st.Rows);
  if (result != 0) {
    ReleaseBaseImage(image);
    std::memset(image, 0, sizeof(*image));
    return LogImageReadError(kKind, st.Reason);
  }
  return 0;
}

int SaveBaseImageToPng(const char* path, const BASEIMAGE* image, int compressionLevel) {
  if (path == nullptr || image == nullptr || image->GraphData == nullptr || image->Width <= 0 ||
      image->Height <= 0)
    return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path ? path : "", "SaveBaseImageToPng");
  PngWriteState st = {};
  st.Image = image;
  st.Row = static_cast<uint8_t*>(MEM_ALLOC(static_cast<size_t>(image->Width) * 4));
  if (st.Row != nullptr) st.File = std::fopen(path, "wb");
  if (st.File != nullptr) st.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (st.Png != nullptr) st.Info = png_create_info_struct(st.Png);
  int result = -1;
  if (st.Info != nullptr) result = EncodePng(&st, compressionLevel);
  if (st.Png != nullptr) png_destroy_write_struct(&st.Png, st.Info ? &st.Info : nullptr);
  if (st.File != nullptr && std::fclose(st.File) != 0) result = -1;
  MEM_FREE(st.Row);
  if (result != 0) return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path, "SaveBaseImageToPng");
  return 0;
}
