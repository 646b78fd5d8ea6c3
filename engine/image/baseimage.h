// CPU-side images and pixel formats.
#pragma once
#include <cstdint>

#include "engine/base/types.h"

// A pixel format: bit depth, then bytes per pixel, per-channel widths, shifts and masks, the
// spare-bit mask, the block-compression kind and the 256-entry palette.
struct PIXELFORMAT {
  uint16_t ColorBitDepth;  // bits per pixel (8 for palettised formats)
  uint16_t PixelByte;      // bytes per pixel
  uint8_t RedWidth, GreenWidth, BlueWidth, AlphaWidth;  // channel widths in bits
  uint8_t RedLoc, GreenLoc, BlueLoc, AlphaLoc;          // channel shifts
  uint32_t RedMask, GreenMask, BlueMask, AlphaMask;     // channel masks
  uint32_t NoneMask;       // bits of the pixel that belong to no channel
  int32_t DxtFormat;       // 0 none; 1 to 5 the block-compressed kinds DXT1 to DXT5
  COLOR_U8 Palette[256];   // entries B, G, R, spare (palettised formats)
};

// A CPU-side image: its format, size, pitch (rows padded to 4 bytes) and pixels.
struct BASEIMAGE {
  PIXELFORMAT ColorData;
  int Width;
  int Height;
  int Pitch;
  void* GraphData;
};
