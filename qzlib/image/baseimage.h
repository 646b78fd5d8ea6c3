// CPU-side images and pixel formats.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>

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

#include <cstddef>

#include <qzlib/platform/wintypes.h>

// ---------------------------------------------------------------------------------------------
// Pixel formats
//
// A format is palettised when its bit depth is 8 or less and its channel masks reach beyond the
// pixel's own bits: the masks then describe the palette entries, and each pixel is an index into
// Palette (entries B, G, R, spare). A format whose four masks are equal is a single-channel
// format (one value per pixel, read back as r = g = b = a). DxtFormat 1 to 5 marks an image
// kept as 4x4 blocks of DXT1 to DXT5 (8 bytes a block for DXT1, 16 otherwise); such an image's
// Pitch is the bytes of one row of blocks, and its masks describe the decoded A8R8G8B8 pixels.
//
// Channel values change width by these rules, everywhere in this subsystem: narrowing drops
// low bits (8 to 5 bits is v >> 3); widening from n bits to m bits is
// (v * (2^m - 1) + (2^n - 1) / 2) / (2^n - 1), so 5 bits to 8 is round(v * 255 / 31) and 8 to
// 16 bits is v * 257. A missing alpha channel reads as 255; a missing colour channel as 0.
// ---------------------------------------------------------------------------------------------

// Fills bit depth, bytes per pixel ((depth + 7) / 8), each channel's width (bits set in its
// mask), shift (lowest set bit, 0 for an empty mask) and mask, and the spare-bit mask (the bits
// of a depth-bit pixel that belong to no channel; 0 for palettised formats). DxtFormat becomes 0;
// the palette is left as it was. Returns 0, or -1 for a depth of 0 or above 32.
int BuildPixelFormatFromMasks(PIXELFORMAT* format, int colorBitDepth, uint32_t redMask,
                              uint32_t greenMask, uint32_t blueMask, uint32_t alphaMask);

// 1 when the format is palettised (see above), else 0.
int PixelFormatIsPalette(const PIXELFORMAT* format);
// 1 when the format carries an alpha channel (an alpha mask, or block kinds 2 to 5).
int PixelFormatHasAlpha(const PIXELFORMAT* format);

// Converts the source rectangle pixel by pixel into the destination format at (destX, destY).
//   alphaPixels/alphaPitch/alphaFormat: an image of the source's size whose blue channel
//     becomes the alpha of each pixel (all three null when there is none).
//   srcRect: left, top, right, bottom in source pixels (right and bottom outside).
//   flag13: reserved, pass 0.
//   transFlag, transColor: for a destination without an alpha channel, every pixel whose alpha
//     (from the alpha image, else the source's own alpha) is 0 is written as transColor, a raw
//     destination pixel value (a palette index for palettised destinations). Otherwise ignored.
//   flag16: reserved, pass 0.
//   singleChannel: 1 for a single-channel destination: each pixel gets one value, the source's
//     grey level (299 R + 587 G + 114 B + 500) / 1000, exact for grey sources. A destination
//     with four equal masks is treated so even when this is 0.
//   singleChannelFull: 1 widens that 0-255 value to the whole channel (x 257 for 16 bits);
//     0 writes it unscaled into the low bits.
//   flag19, flag20: reserved, pass 0.
//   srcWidth/srcHeight, destWidth/destHeight: the two images' sizes; the rectangle is clipped
//     against both (a negative size leaves that side unclipped beyond its 0 edges).
// Between two identical direct-colour formats (without alpha image or key) pixels are copied
// unchanged, spare bits included. A palettised destination takes the source's indices unchanged (the source must be palettised
// too) and the result is the highest index written (0 when nothing was written), so the palette
// entries in use are result + 1. Other destinations return 0. A block-compressed source is
// decoded; a block-compressed destination, a palettised destination from a direct-colour source
// or a missing pointer returns -1.
int BltConvertPixelFormat(void* destPixels, int destPitch, const PIXELFORMAT* destFormat,
                          const void* srcPixels, int srcPitch, const PIXELFORMAT* srcFormat,
                          const void* alphaPixels, int alphaPitch, const PIXELFORMAT* alphaFormat,
                          int destX, int destY, const RECT* srcRect, int flag13, int transFlag,
                          uint32_t transColor, int flag16, int singleChannel,
                          int singleChannelFull, int flag19, int flag20, int srcWidth = -1,
                          int srcHeight = -1, int destWidth = -1, int destHeight = -1);

// ---------------------------------------------------------------------------------------------
// Base images
// ---------------------------------------------------------------------------------------------

// Decodes an image file by trying the readers BMP, JPEG, PNG, BGRA, TGA and DDS in that order;
// the first that recognises the data decides (a recognised but broken file fails). With data
// null and dataInMemory 0 the file fileName is read first; data null with dataInMemory non-zero or
// fileName null is refused. reverseFlag must be 0. Fills *image (pixels from tracked memory; free
// with ReleaseBaseImage) and returns 0, or -1 with *image cleared and a message in the log (a
// null image, or a reverseFlag other than 0, returns -1 without one). Every reader bounds its
// reads by size and refuses a width or height of 0 or above 32768 before allocating.
//
// BGRA, the engine's own raw format: "BGRA", u32 width, u32 height (little-endian), then
// width x height pixels of bytes B, G, R, A, top row first.
int CreateBaseImageToMem(const char* fileName, const void* data, size_t size, int dataInMemory,
                         BASEIMAGE* image, int reverseFlag);

// A 32-bit X8R8G8B8 image (masks 0xFF0000, 0xFF00, 0xFF), pixels not cleared. 0, or -1.
int CreateXRGB8ColorBaseImage(int width, int height, BASEIMAGE* image);
// An image of the given format (palette copied), pixels not cleared. A block-compressed format
// gives an uncompressed A8R8G8B8 image instead. 0, or -1.
int CreateBaseImageOfFormat(int width, int height, const PIXELFORMAT* format, BASEIMAGE* image);
// Frees the pixels and clears the pointer; null or an empty image is ignored. Always 0.
int ReleaseBaseImage(BASEIMAGE* image);

// Scales the source rectangle into the destination rectangle (each must lie inside its image,
// else -1). With filterFlag 1 each destination pixel is the
// bilinear mix of the four source pixels around its centre, (dx + 0.5) * srcW / destW - 0.5,
// clamped to the source rectangle's edges, per channel in 8 bits with 8-bit weights, rounded;
// with 0 the nearest pixel. A palettised destination copies indices nearest-neighbour (the
// source must be palettised) and takes the source's palette. 0, or -1 (allocation failure,
// block-compressed destination, bad rectangle).
int BltBaseImageStretch(int srcX, int srcY, int srcWidth, int srcHeight, const BASEIMAGE* src,
                        int destX, int destY, int destWidth, int destHeight, BASEIMAGE* dest,
                        int filterFlag);

// One pixel as 0-255 components (palette looked up, blocks decoded). 0, or -1 outside the image.
int GetPixelBaseImage(const BASEIMAGE* image, int x, int y, int* r, int* g, int* b, int* a);
// Writes one pixel from 0-255 components (values limited to 0-255). A palettised image gets the
// index of the nearest palette entry (by squared RGB distance, lowest index on ties). -1 outside
// the image or for a block-compressed image.
int SetPixelBaseImage(BASEIMAGE* image, int x, int y, int r, int g, int b, int a);

// ---------------------------------------------------------------------------------------------
// Writers: 0, or -1 (with a message in the log) when the file cannot be written.
// ---------------------------------------------------------------------------------------------

// A 24-bit bottom-up BMP (alpha dropped).
int SaveBaseImageToBmp(const char* path, const BASEIMAGE* image);
// An 8-bit RGB PNG, or RGBA when the image has alpha; compressionLevel 0-9, -1 for the default.
int SaveBaseImageToPng(const char* path, const BASEIMAGE* image, int compressionLevel);
// A baseline JPEG of quality 0-100 (alpha dropped).
int SaveBaseImageToJpeg(const char* path, const BASEIMAGE* image, int quality);
