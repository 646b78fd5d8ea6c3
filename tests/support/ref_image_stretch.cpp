// The image stretch as first written, kept as the slow obvious model of BltBaseImageStretch: the
// source rectangle converted whole to A8R8G8B8, each destination pixel's source position and
// weights found with one 64-bit division, the four pixels mixed channel by channel, and the
// result converted whole into the destination.
#include "tests/support/ref_image_stretch.h"

#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/image/pixel_codec.h>


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

int RefBltBaseImageStretch(int srcX, int srcY, int srcWidth, int srcHeight, const BASEIMAGE* src,
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

