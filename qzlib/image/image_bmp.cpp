// BMP reader: 1, 2, 4, 8, 16, 24 and 32 bits, RLE4 and RLE8, bit fields, bottom-up and
// top-down, OS/2 and Windows headers of every version.
#include <cstdio>
#include <cstring>

#include <qzlib/base/log.h>

#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/base/engine_texts.h>

namespace {

constexpr const char* kKind = "BMP";

// Walks RLE8 (bits 8) or RLE4 (bits 4) data, bottom-up: true when every code is whole, every
// pixel lands inside the image and an end-of-bitmap code closes it. With pixels null nothing is
// written (the check made before anything is allocated); else the runs are written into pixels,
// which the caller has zeroed (end-of-line, delta and end-of-bitmap codes leave pixels 0).
// *maxIndex gets the largest index the runs write (0 when none).
bool WalkRle(ByteReader rd, int bits, int w, int h, uint8_t* pixels, int pitch, uint32_t* maxIndex) {
  int64_t x = 0, row = 0;
  uint32_t top = 0;
  auto index = [&](uint32_t i, uint32_t v) {
    uint32_t k = bits == 8 ? v : ((i & 1) ? (v & 15) : (v >> 4));
    if (k > top) top = k;
    return static_cast<uint8_t>(k);
  };
  for (;;) {
    uint32_t count, value;
    if (!rd.U8(&count) || !rd.U8(&value)) return false;
    if (count > 0) {
      if (x + count > w || row >= h) return false;
      uint8_t* d = pixels ? pixels + static_cast<int64_t>(h - 1 - row) * pitch + x : nullptr;
      index(0, value);
      if (count > 1) index(1, value);
      for (uint32_t i = 0; d && i < count; ++i) d[i] = index(i, value);
      x += count;
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of bitmap
      *maxIndex = top;
      return true;
    } else if (value == 2) {  // delta
      uint32_t ddx, ddy;
      if (!rd.U8(&ddx) || !rd.U8(&ddy)) return false;
      x += ddx;
      row += ddy;
      if (x > w || row > h) return false;
    } else {  // absolute run
      uint32_t n = value;
      uint32_t bytes = bits == 8 ? n : (n + 1) / 2;
      if (!rd.Has(bytes)) return false;
      if (x + n > w || row >= h) return false;
      const uint8_t* s = rd.Data + rd.Pos;
      uint8_t* d = pixels ? pixels + static_cast<int64_t>(h - 1 - row) * pitch + x : nullptr;
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t k = index(i, bits == 8 ? s[i] : s[i / 2]);
        if (d) d[i] = k;
      }
      x += n;
      rd.Skip(bytes + (bytes & 1));
    }
    if (row > h) return false;
  }
}

}  // namespace

int ReadBmpImage(const uint8_t* data, size_t size, BASEIMAGE* image) {
  if (size < 2 || data[0] != 'B' || data[1] != 'M') return 1;
  ByteReader rd{data, size, 10};
  uint32_t offBits, headerSize;
  if (!rd.U32(&offBits) || !rd.U32(&headerSize)) return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
  int64_t width, height;
  uint32_t planes, bpp, compression = 0, clrUsed = 0;
  uint32_t masks[4] = {0, 0, 0, 0};
  bool haveAlphaMask = false;
  size_t paletteEntrySize = 4;
  size_t palettePos;
  if (headerSize == 12) {
    uint32_t w16, h16;
    if (!rd.U16(&w16) || !rd.U16(&h16) || !rd.U16(&planes) || !rd.U16(&bpp))
      return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
    width = w16;
    height = h16;
    paletteEntrySize = 3;
    palettePos = 14 + 12;
  } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 64 ||
             headerSize == 108 || headerSize == 124) {
    uint32_t w32, h32, dummy;
    if (!rd.U32(&w32) || !rd.U32(&h32) || !rd.U16(&planes) || !rd.U16(&bpp) ||
        !rd.U32(&compression) || !rd.U32(&dummy) || !rd.U32(&dummy) || !rd.U32(&dummy) ||
        !rd.U32(&clrUsed) || !rd.U32(&dummy))
      return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
    width = static_cast<int32_t>(w32);
    height = static_cast<int32_t>(h32);
    palettePos = 14 + headerSize;
    if (headerSize == 64 && compression > 2) return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
    if (compression == 3 || compression == 6) {
      int n = compression == 6 ? 4 : 3;
      if (headerSize == 40) {
        // the masks follow the header
        for (int i = 0; i < n; ++i) {
          if (!rd.U32(&masks[i])) return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
        }
        palettePos += 4 * n;
        haveAlphaMask = n == 4;
      } else if (headerSize != 64) {
        for (int i = 0; i < 4; ++i) {
          if (i == 3 && headerSize < 56) break;
          if (!rd.U32(&masks[i])) return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
          if (i == 3) haveAlphaMask = true;
        }
      } else {
        return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
      }
    }
  } else {
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);
  }
  if (planes != 1) return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide)
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_SIZE);

  PIXELFORMAT format;
  bool paletted = false;
  switch (bpp) {
    case 1: case 2: case 4: case 8:
      if (compression != 0 && !(compression == 1 && bpp == 8) && !(compression == 2 && bpp == 4))
        return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
      paletted = true;
      MakePaletteFormat(&format);
      break;
    case 16: case 32:
      if (compression == 0) {
        if (bpp == 16) {
          std::memset(&format, 0, sizeof(format));
          BuildPixelFormatFromMasks(&format, 16, 0x7C00, 0x03E0, 0x001F, 0);
        } else {
          MakeArgb8Format(&format, false);
        }
      } else if (compression == 3 || compression == 6) {
        if (!haveAlphaMask) masks[3] = 0;
        if (!ChannelMasksValid(masks[0], masks[1], masks[2], masks[3], static_cast<int>(bpp)))
          return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);
        std::memset(&format, 0, sizeof(format));
        BuildPixelFormatFromMasks(&format, static_cast<int>(bpp), masks[0], masks[1], masks[2], masks[3]);
      } else {
        return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
      }
      break;
    case 24:
      if (compression != 0) return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
      MakeBgr24Format(&format);
      break;
    default:
      return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);
  }
  const bool rle = compression == 1 || compression == 2;
  if (rle && topDown) return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);

  uint32_t paletteEntries = 0;
  if (paletted) {
    uint32_t maxEntries = 1u << bpp;
    uint32_t entries = (clrUsed != 0 && clrUsed < maxEntries) ? clrUsed : maxEntries;
    if (headerSize == 12) entries = maxEntries;
    // never read the palette past the pixel data or the file
    size_t limit = offBits > palettePos && offBits <= size ? offBits : size;
    if (palettePos > limit) return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
    size_t available = (limit - palettePos) / paletteEntrySize;
    if (available < entries) {
      if (available == 0) return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
      entries = static_cast<uint32_t>(available);
    }
    paletteEntries = entries;
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* e = data + palettePos + i * paletteEntrySize;
      format.Palette[i].b = e[0];
      format.Palette[i].g = e[1];
      format.Palette[i].r = e[2];
      format.Palette[i].a = 0;
    }
  }

  if (offBits >= size) return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
  const uint64_t stride = ((static_cast<uint64_t>(width) * bpp + 31) / 32) * 4;
  if (!rle && stride * static_cast<uint64_t>(height) > size - offBits)
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
  // Run-length data is checked whole before the image is allocated: a few bytes may describe a
  // large image through end-of-bitmap and delta codes, but a broken stream costs nothing. Pixels
  // the codes leave unset are index 0, so the largest index written decides the palette check.
  uint32_t rleMaxIndex = 0;
  if (rle && (!WalkRle(ByteReader{data, size, offBits}, static_cast<int>(bpp),
                       static_cast<int>(width), static_cast<int>(height), nullptr, 0,
                       &rleMaxIndex) ||
              (paletted && rleMaxIndex >= paletteEntries)))
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_DATA);

  if (AllocBaseImagePixels(image, static_cast<int>(width), static_cast<int>(height), &format) != 0)
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_MEMORY);
  uint8_t* pixels = static_cast<uint8_t*>(image->GraphData);
  const int w = static_cast<int>(width), h = static_cast<int>(height);
  if (rle) {
    std::memset(pixels, 0, static_cast<size_t>(image->Pitch) * h);
    WalkRle(ByteReader{data, size, offBits}, static_cast<int>(bpp), w, h, pixels, image->Pitch,
            &rleMaxIndex);
  }
  for (int r = 0; r < h && !rle; ++r) {
    const uint8_t* s = data + offBits + stride * r;
    uint8_t* d = pixels + static_cast<int64_t>(topDown ? r : h - 1 - r) * image->Pitch;
    if (bpp >= 8) {
      std::memcpy(d, s, static_cast<size_t>(w) * (bpp / 8));
    } else {
      const uint32_t perByte = 8 / bpp, mask = (1u << bpp) - 1u;
      for (int x = 0; x < w; ++x) {
        uint32_t shift = 8 - bpp * (1 + x % perByte);
        d[x] = static_cast<uint8_t>((s[x / perByte] >> shift) & mask);
      }
    }
  }
  // An index past the palette marks a corrupt file.
  if (paletted && paletteEntries < 256 && !rle) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = pixels + static_cast<int64_t>(y) * image->Pitch;
      for (int x = 0; x < w; ++x) {
        if (row[x] >= paletteEntries) {
          ReleaseBaseImage(image);
          std::memset(image, 0, sizeof(*image));
          return LogImageReadError(kKind, TEXT_IMAGE_REASON_DATA);
        }
      }
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------------------------

namespace {

void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  PutU16(p, v);
  PutU16(p + 2, v >> 16);
}

}  // namespace

int SaveBaseImageToBmp(const char* path, const BASEIMAGE* image) {
  if (path == nullptr || image == nullptr || image->GraphData == nullptr || image->Width <= 0 ||
      image->Height <= 0 || image->Width > kMaxImageSide || image->Height > kMaxImageSide)
    return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path ? path : "", "SaveBaseImageToBmp");
  const uint32_t stride = (static_cast<uint32_t>(image->Width) * 3 + 3) & ~3u;
  const uint64_t dataBytes = static_cast<uint64_t>(stride) * image->Height;
  if (dataBytes + 54 > 0xFFFFFFFFull)
    return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path, "SaveBaseImageToBmp");
  uint8_t header[54] = {'B', 'M'};
  PutU32(header + 2, static_cast<uint32_t>(dataBytes + 54));
  PutU32(header + 10, 54);
  PutU32(header + 14, 40);
  PutU32(header + 18, static_cast<uint32_t>(image->Width));
  PutU32(header + 22, static_cast<uint32_t>(image->Height));
  PutU16(header + 26, 1);
  PutU16(header + 28, 24);
  PutU32(header + 34, static_cast<uint32_t>(dataBytes));
  PutU32(header + 38, 2835);  // 72 dpi
  PutU32(header + 42, 2835);
  uint8_t* row = static_cast<uint8_t*>(MEM_CALLOC(stride));
  if (row == nullptr) return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path, "SaveBaseImageToBmp");
  FILE* fp = std::fopen(path, "wb");
  bool ok = fp != nullptr && std::fwrite(header, 1, sizeof(header), fp) == sizeof(header);
  for (int y = image->Height - 1; ok && y >= 0; --y) {
    ok = ConvertRowForWriter(image, y, false, row) == 0 && std::fwrite(row, 1, stride, fp) == stride;
  }
  if (fp != nullptr && std::fclose(fp) != 0) ok = false;
  MEM_FREE(row);
  if (!ok) return WriteLogFmt(TEXT_IMAGE_SAVE_ERROR, path, "SaveBaseImageToBmp");
  return 0;
}
