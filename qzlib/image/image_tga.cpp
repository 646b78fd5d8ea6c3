// TGA reader (types 1, 2, 3 and their run-length forms 9, 10, 11) and the engine's raw BGRA
// format.
#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/base/engine_texts.h>

namespace {

constexpr const char* kTga = "TGA";

// One 15/16/24/32-bit TGA colour as A8R8G8B8; 16-bit colours carry one attribute bit.
uint32_t TgaColour(const uint8_t* s, int bits, bool alpha) {
  switch (bits) {
    case 15:
    case 16: {
      uint32_t v = s[0] | (s[1] << 8);
      uint32_t a = (alpha && bits == 16) ? ((v & 0x8000) ? 255u : 0u) : 255u;
      return (a << 24) | (ChannelTo8((v >> 10) & 31, 5) << 16) | (ChannelTo8((v >> 5) & 31, 5) << 8) |
             ChannelTo8(v & 31, 5);
    }
    case 24:
      return 0xFF000000u | (s[2] << 16) | (s[1] << 8) | s[0];
    default:
      return ((alpha ? s[3] : 255u) << 24) | (s[2] << 16) | (s[1] << 8) | s[0];
  }
}

}  // namespace

int ReadTgaImage(const uint8_t* data, size_t size, BASEIMAGE* image) {
  if (size < 18) return 1;
  const uint32_t idLength = data[0], mapType = data[1], type = data[2];
  const uint32_t mapFirst = data[3] | (data[4] << 8), mapLength = data[5] | (data[6] << 8);
  const uint32_t mapBits = data[7];
  const int width = data[12] | (data[13] << 8), height = data[14] | (data[15] << 8);
  const uint32_t bits = data[16], descriptor = data[17];
  // TGA has no magic: the header must make sense throughout before the file counts as TGA.
  const bool mapped = type == 1 || type == 9;
  const bool grey = type == 3 || type == 11;
  const bool rle = type >= 9;
  if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) return 1;
  if (mapType > 1 || (mapped && mapType != 1)) return 1;
  if (mapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32) return 1;
  if (mapped && bits != 8) return 1;
  if (grey && bits != 8 && bits != 16) return 1;
  if ((type == 2 || type == 10) && bits != 15 && bits != 16 && bits != 24 && bits != 32) return 1;
  if ((descriptor & 0xC0) != 0) return 1;
  if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide)
    return LogImageReadError(kTga, TEXT_IMAGE_REASON_SIZE);

  const uint32_t alphaBits = descriptor & 15;
  const bool rightToLeft = (descriptor & 0x10) != 0;
  const bool topToBottom = (descriptor & 0x20) != 0;
  ByteReader rd{data, size, 18};
  if (!rd.Skip(idLength)) return LogImageReadError(kTga, TEXT_IMAGE_REASON_TRUNCATED);

  // Colour map: indices map onto entries mapFirst .. mapFirst + mapLength - 1.
  PIXELFORMAT format;
  uint32_t palette[256];
  bool paletteAlpha = false;
  uint32_t mapEnd = 0;  // indices mapFirst .. mapEnd - 1 exist
  if (mapType == 1) {
    const size_t entryBytes = (mapBits + 7) / 8;
    const uint8_t* map = rd.Data + rd.Pos;
    if (!rd.Skip(entryBytes * mapLength)) return LogImageReadError(kTga, TEXT_IMAGE_REASON_TRUNCATED);
    if (mapped) {
      std::memset(palette, 0, sizeof(palette));
      bool mapAlpha = mapBits == 32 && alphaBits > 0;
      mapEnd = mapFirst + mapLength;
      for (uint32_t i = 0; i < mapLength; ++i) {
        uint32_t index = mapFirst + i;
        if (index > 255) break;
        palette[index] = TgaColour(map + i * entryBytes, static_cast<int>(mapBits), mapAlpha);
        if ((palette[index] >> 24) != 255) paletteAlpha = true;
      }
    }
  }

  // Output format: palettised for colour-mapped without translucent entries and for 8-bit grey;
  // 16-bit direct colour as A1R5G5B5 / X1R5G5B5; 24-bit as B, G, R; the rest A8R8G8B8.
  int pixelBytes = static_cast<int>((bits + 7) / 8);
  enum { kIndex, kGreyIndex, kCopy, kArgb } mode;
  if (mapped && !paletteAlpha) {
    MakePaletteFormat(&format);
    for (int i = 0; i < 256; ++i) {
      format.Palette[i].b = static_cast<uint8_t>(palette[i]);
      format.Palette[i].g = static_cast<uint8_t>(palette[i] >> 8);
      format.Palette[i].r = static_cast<uint8_t>(palette[i] >> 16);
      format.Palette[i].a = 0;
    }
    mode = kIndex;
  } else if (grey && bits == 8) {
    MakeGreyPaletteFormat(&format);
    mode = kGreyIndex;
  } else if ((type == 2 || type == 10) && bits <= 16) {
    std::memset(&format, 0, sizeof(format));
    BuildPixelFormatFromMasks(&format, 16, 0x7C00, 0x03E0, 0x001F,
                              (bits == 16 && alphaBits > 0) ? 0x8000 : 0);
    mode = kCopy;
  } else if ((type == 2 || type == 10) && bits == 24) {
    MakeBgr24Format(&format);
    mode = kCopy;
  } else if ((type == 2 || type == 10) && bits == 32 && alphaBits == 0) {
    MakeArgb8Format(&format, false);
    mode = kCopy;
  } else {
    MakeArgb8Format(&format, true);
    mode = (type == 2 || type == 10) ? kCopy : kArgb;
  }

  // Raw data must be present in full before anything is allocated.
  const uint64_t pixelCount = static_cast<uint64_t>(width) * height;
  if (!rle && !rd.Has(pixelCount * pixelBytes)) return LogImageReadError(kTga, TEXT_IMAGE_REASON_TRUNCATED);
  // Run-length data has no end code: every pixel is coded, a packet covers at most 128 pixels and
  // takes a header byte and at least one pixel, so fewer bytes than that cannot hold the image.
  if (rle && !rd.Has((pixelCount + 127) / 128 * (1 + static_cast<uint64_t>(pixelBytes))))
    return LogImageReadError(kTga, TEXT_IMAGE_REASON_TRUNCATED);
  if (AllocBaseImagePixels(image, width, height, &format) != 0)
    return LogImageReadError(kTga, TEXT_IMAGE_REASON_MEMORY);

  uint8_t* out = static_cast<uint8_t*>(image->GraphData);
  const int outBytes = format.PixelByte;
  uint64_t done = 0;
  bool badIndex = false;
  auto store = [&](const uint8_t* s) {
    if (mapped && (s[0] < mapFirst || s[0] >= mapEnd)) badIndex = true;
    int fileRow = static_cast<int>(done / width), col = static_cast<int>(done % width);
    int y = topToBottom ? fileRow : height - 1 - fileRow;
    int x = rightToLeft ? width - 1 - col : col;
    uint8_t* d = out + static_cast<int64_t>(y) * image->Pitch + static_cast<int64_t>(x) * outBytes;
    switch (mode) {
      case kIndex:
      case kGreyIndex:
        d[0] = s[0];
        break;
      case kCopy:
        if (bits == 32 && alphaBits == 0) {
          WriteRawPixel(d, 4, TgaColour(s, 32, false) & 0x00FFFFFF);
        } else if (bits == 15 || (bits == 16 && alphaBits == 0)) {
          WriteRawPixel(d, 2, (s[0] | (s[1] << 8)) & 0x7FFF);
        } else {
          std::memcpy(d, s, static_cast<size_t>(outBytes));
        }
        break;
      case kArgb: {
        uint32_t c;
        if (mapped) c = palette[s[0]];
        else c = (static_cast<uint32_t>(alphaBits > 0 ? s[1] : 255) << 24) | (s[0] * 0x010101u);
        WriteRawPixel(d, 4, c);
        break;
      }
    }
    ++done;
  };

  if (!rle) {
    const uint8_t* s = rd.Data + rd.Pos;
    for (uint64_t i = 0; i < pixelCount; ++i, s += pixelBytes) store(s);
  }
  // Run-length packets may cross rows; a packet reaching past the last pixel is cut there.
  while (rle && done < pixelCount) {
    uint32_t head;
    if (!rd.U8(&head)) break;
    uint32_t count = (head & 127) + 1;
    if (head & 128) {
      const uint8_t* s = rd.Data + rd.Pos;
      if (!rd.Skip(pixelBytes)) break;
      for (uint32_t i = 0; i < count && done < pixelCount; ++i) store(s);
    } else {
      const uint8_t* s = rd.Data + rd.Pos;
      if (!rd.Skip(static_cast<size_t>(count) * pixelBytes)) break;
      for (uint32_t i = 0; i < count && done < pixelCount; ++i, s += pixelBytes) store(s);
    }
  }
  if (done < pixelCount || badIndex) {
    ReleaseBaseImage(image);
    std::memset(image, 0, sizeof(*image));
    return LogImageReadError(kTga, badIndex ? TEXT_IMAGE_REASON_DATA : TEXT_IMAGE_REASON_TRUNCATED);
  }
  return 0;
}

int ReadBgraImage(const uint8_t* data, size_t size, BASEIMAGE* image) {
  if (size < 4 || std::memcmp(data, "BGRA", 4) != 0) return 1;
  ByteReader rd{data, size, 4};
  uint32_t width, height;
  if (!rd.U32(&width) || !rd.U32(&height)) return LogImageReadError("BGRA", TEXT_IMAGE_REASON_TRUNCATED);
  if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide)
    return LogImageReadError("BGRA", TEXT_IMAGE_REASON_SIZE);
  const uint64_t rowBytes = static_cast<uint64_t>(width) * 4;
  if (!rd.Has(rowBytes * height)) return LogImageReadError("BGRA", TEXT_IMAGE_REASON_TRUNCATED);
  PIXELFORMAT format;
  MakeArgb8Format(&format, true);
  if (AllocBaseImagePixels(image, static_cast<int>(width), static_cast<int>(height), &format) != 0)
    return LogImageReadError("BGRA", TEXT_IMAGE_REASON_MEMORY);
  for (uint32_t y = 0; y < height; ++y) {
    std::memcpy(static_cast<uint8_t*>(image->GraphData) + static_cast<int64_t>(y) * image->Pitch,
                data + rd.Pos + rowBytes * y, rowBytes);
  }
  return 0;
}
