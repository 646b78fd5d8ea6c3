// MEMIMG: the software renderer's drawing surface.
//
// A MEMIMG is a small record viewing a rectangle of a shared, reference-counted body
// (MemImgBase). Pixel (x, y) of a view lies at Pixels + y * base->Pitch + x * bytes per pixel.
// Formats (MemImgFormat): 0 = 16-bit 5:6:5 (32-bit words with alpha in bits 16-23 when the body
// has alpha), 1 = 32-bit X8R8G8B8 (bytes B, G, R, spare/alpha), 2 = 8-bit single channel,
// 3 = 16-bit single channel. Palettised bodies hold 1-byte indices.
#pragma once
#include <cstdint>

#include "engine/image/baseimage.h"
#include "platform/wintypes.h"

constexpr uint32_t MEMIMG_MAGIC = 0x12345678;

enum MemImgFormat : int32_t {
  MEMIMG_FORMAT_565 = 0,
  MEMIMG_FORMAT_XRGB8 = 1,
  MEMIMG_FORMAT_CH8 = 2,
  MEMIMG_FORMAT_CH16 = 3,
};

// Run map byte: kind in the top two bits, run length - 1 in the low six.
enum : uint8_t {
  MEMIMG_RUN_SKIP = 0x00,
  MEMIMG_RUN_OPAQUE = 0x40,
  MEMIMG_RUN_TRANSLUCENT = 0x80,
  MEMIMG_RUN_END = 0xC0,  // 192, ends every row
};

struct MemImgBase {
  int32_t UseCount;              // number of MEMIMG records using this body
  int32_t Width;                 // of the whole buffer
  int32_t Height;
  int32_t Pitch;                 // bytes from one row to the next
  int32_t PitchShift;            // log2 of the pitch when a power of two, else -1
  const PIXELFORMAT* ColorFormat;  // shared descriptor, never freed
  uint32_t TransColor;           // colour key: palette index, 16-bit or whole 32-bit pixel
  int32_t Format;                // MemImgFormat
  int32_t PaletteFlag;           // 1: pixels are 8-bit palette indices
  int32_t PaletteCount;          // palette entries in use
  int32_t AlphaFlag;             // 1: pixels carry alpha
  int32_t PremulValid;           // 1: the premultiplied plane holds the current image
  int32_t RunMapValid;           // 1: the run map describes the whole current image
  int32_t UserPixels;            // 1: the pixel buffer belongs to the caller
  uint8_t* Palette;              // 2048-byte block (palettised only), else null
  uint8_t* PaletteCopy;          // Palette + 1024
  uint8_t* Pixels;               // Pitch * Height bytes
  uint8_t* PremulPixels;         // premultiplied plane or null
  uint8_t* RunMap;               // (Width + 5) * Height bytes or null
};

struct MEMIMG {
  uint32_t Magic;          // MEMIMG_MAGIC while valid, 0 otherwise
  int32_t Width;           // of this view
  int32_t Height;
  uint8_t* Pixels;         // the view's top-left pixel
  uint8_t* PremulPixels;   // the same pixel in the premultiplied plane, or null
  MemImgBase* Base;
};
