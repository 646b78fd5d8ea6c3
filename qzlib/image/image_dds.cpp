// DDS reader: the first surface (top mip level, first cube face or volume slice) of an
// uncompressed RGB, luminance or DXT1 to DXT5 texture; blocks are kept as blocks.
#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/base/engine_texts.h>

namespace {

constexpr const char* kKind = "DDS";
constexpr uint32_t kPfAlphaPixels = 0x1, kPfFourCC = 0x4, kPfRgb = 0x40, kPfLuminance = 0x20000;

uint32_t FourCC(const char* s) {
  return static_cast<uint8_t>(s[0]) | (static_cast<uint8_t>(s[1]) << 8) |
         (static_cast<uint8_t>(s[2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24);
}

}  // namespace

int ReadDdsImage(const uint8_t* data, size_t size, BASEIMAGE* image) {
  if (size < 4 || std::memcmp(data, "DDS ", 4) != 0) return 1;
  ByteReader rd{data, size, 4};
  uint32_t headerSize, flags, height, width, pitch, depth, mips;
  if (!rd.U32(&headerSize) || !rd.U32(&flags) || !rd.U32(&height) || !rd.U32(&width) ||
      !rd.U32(&pitch) || !rd.U32(&depth) || !rd.U32(&mips))
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
  if (headerSize != 124) return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);
  uint32_t pfSize, pfFlags, fourCC, bitCount, masks[4];
  rd.Seek(76);
  if (!rd.U32(&pfSize) || !rd.U32(&pfFlags) || !rd.U32(&fourCC) || !rd.U32(&bitCount) ||
      !rd.U32(&masks[0]) || !rd.U32(&masks[1]) || !rd.U32(&masks[2]) || !rd.U32(&masks[3]))
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
  if (pfSize != 32) return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);
  if (width == 0 || height == 0 || width > kMaxImageSide || height > kMaxImageSide)
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_SIZE);
  size_t dataPos = 128;

  PIXELFORMAT format;
  int dxt = 0;
  enum { kRows, kLumArgb } mode = kRows;
  int srcBytes = 0;
  if (pfFlags & kPfFourCC) {
    if (fourCC == FourCC("DXT1")) dxt = 1;
    else if (fourCC == FourCC("DXT2")) dxt = 2;
    else if (fourCC == FourCC("DXT3")) dxt = 3;
    else if (fourCC == FourCC("DXT4")) dxt = 4;
    else if (fourCC == FourCC("DXT5")) dxt = 5;
    else if (fourCC == FourCC("DX10")) {
      uint32_t dxgi;
      rd.Seek(128);
      if (!rd.U32(&dxgi)) return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
      if (dxgi >= 70 && dxgi <= 72) dxt = 1;
      else if (dxgi >= 73 && dxgi <= 75) dxt = 3;
      else if (dxgi >= 76 && dxgi <= 78) dxt = 5;
      else return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
      dataPos = 148;
    } else {
      return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
    }
    MakeArgb8Format(&format, true);
    format.DxtFormat = dxt;
  } else if (pfFlags & kPfRgb) {
    if (bitCount != 16 && bitCount != 24 && bitCount != 32) return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
    uint32_t alpha = (pfFlags & kPfAlphaPixels) ? masks[3] : 0;
    if (!ChannelMasksValid(masks[0], masks[1], masks[2], alpha, static_cast<int>(bitCount)))
      return LogImageReadError(kKind, TEXT_IMAGE_REASON_HEADER);
    std::memset(&format, 0, sizeof(format));
    BuildPixelFormatFromMasks(&format, static_cast<int>(bitCount), masks[0], masks[1], masks[2], alpha);
    srcBytes = static_cast<int>(bitCount / 8);
  } else if (pfFlags & kPfLuminance) {
    if (bitCount == 8) {
      MakeGreyPaletteFormat(&format);
      srcBytes = 1;
    } else if (bitCount == 16 && (pfFlags & kPfAlphaPixels)) {
      MakeArgb8Format(&format, true);  // luminance in the low byte, alpha in the high one
      srcBytes = 2;
      mode = kLumArgb;
    } else {
      return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
    }
  } else {
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_FORMAT);
  }

  // The first surface must be present in full before anything is allocated.
  uint64_t rowBytes, rows;
  if (dxt != 0) {
    rowBytes = ((static_cast<uint64_t>(width) + 3) / 4) * DxtBlockBytes(dxt);
    rows = (static_cast<uint64_t>(height) + 3) / 4;
  } else {
    rowBytes = static_cast<uint64_t>(width) * srcBytes;
    rows = height;
  }
  if (dataPos > size || rowBytes * rows > size - dataPos)
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_TRUNCATED);
  if (AllocBaseImagePixels(image, static_cast<int>(width), static_cast<int>(height), &format) != 0)
    return LogImageReadError(kKind, TEXT_IMAGE_REASON_MEMORY);
  uint8_t* out = static_cast<uint8_t*>(image->GraphData);
  for (uint64_t y = 0; y < rows; ++y) {
    const uint8_t* s = data + dataPos + rowBytes * y;
    uint8_t* d = out + y * image->Pitch;
    if (mode == kRows) {
      std::memcpy(d, s, rowBytes);
    } else {
      for (uint32_t x = 0; x < width; ++x) {
        uint32_t l = s[2 * x], a = s[2 * x + 1];
        WriteRawPixel(d + 4 * x, 4, (a << 24) | (l * 0x010101u));
      }
    }
  }
  return 0;
}
