#include "demo/demo_common.h"

#include "engine/image/baseimage.h"

bool SaveMemImgPicture(const MEMIMG* img, const char* path) {
  if (!img || !img->Base || img->Base->PaletteFlag) return false;
  const int format = img->Base->Format;
  if (format != MEMIMG_FORMAT_565 && format != MEMIMG_FORMAT_XRGB8) return false;
  BASEIMAGE out{};
  if (CreateXRGB8ColorBaseImage(img->Width, img->Height, &out) != 0) return false;
  const int bpp = img->Base->ColorFormat->PixelByte;
  for (int y = 0; y < img->Height; ++y) {
    const uint8_t* row = img->Pixels + static_cast<size_t>(y) * img->Base->Pitch;
    for (int x = 0; x < img->Width; ++x) {
      const uint8_t* p = row + static_cast<size_t>(x) * bpp;
      int r, g, b;
      if (format == MEMIMG_FORMAT_XRGB8) {
        b = p[0], g = p[1], r = p[2];
      } else {
        const int v = p[0] | p[1] << 8;
        r = ((v >> 11) & 31) * 255 / 31, g = ((v >> 5) & 63) * 255 / 63, b = (v & 31) * 255 / 31;
      }
      SetPixelBaseImage(&out, x, y, r, g, b, 255);
    }
  }
  const bool ok = SaveBaseImageToPng(path, &out, 6) == 0;
  ReleaseBaseImage(&out);
  return ok;
}
