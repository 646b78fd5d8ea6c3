// MEMIMG: the software renderer's drawing surface.
//
// A MEMIMG is a small record viewing a rectangle of a shared, reference-counted body
// (MemImgBase). Pixel (x, y) of a view lies at Pixels + y * base->Pitch + x * bytes per pixel.
// Formats (MemImgFormat): 0 = 16-bit 5:6:5 (32-bit words with alpha in bits 16-23 when the body
// has alpha), 1 = 32-bit X8R8G8B8 (bytes B, G, R, spare/alpha), 2 = 8-bit single channel,
// 3 = 16-bit single channel. Palettised bodies hold 1-byte indices.
#pragma once
#include <cstdint>

#include <qzlib/image/baseimage.h>
#include <qzlib/platform/wintypes.h>

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

// ---- Creation and release -------------------------------------------------------------------

// Builds a new body and makes img its first view. width and height 1..32768; pitch -1 means
// bytes per pixel x width rounded up to 16, else at least bytes per pixel x width. Formats 2 and 3
// force palette and alpha off, a palette forces alpha off. accel: alpha bodies get a premultiplied
// plane, bodies other than format 2 a run map buffer. userPixels: a caller buffer of pitch x height
// bytes, never freed here. Returns 0, or -1 (img already valid, bad size, format or pitch,
// allocation failure; nothing is left allocated and the magic stays 0).
int InitializeMemImg(MEMIMG* img, int width, int height, int pitch, uint32_t transColor, int format,
                     int paletteFlag, int alphaFlag, int accelFlag, void* userPixels);
// Plain surface: pitch -1, key 0, no palette, no alpha, no acceleration; format -1 = the screen's
// (0 for a 16-bit screen, else 1). A record that is still valid is refused (-1); an invalid one is
// cleared first. Returns InitializeMemImg's result.
int MakeMemImg(MEMIMG* img, int width, int height, int format);
// Makes newImg a view of the rectangle (x, y, width, height) of src, sharing its body (count + 1).
// Does nothing when src is invalid, newImg is already valid, the size is negative or the rectangle
// leaves src.
void DerivationMemImg(MEMIMG* newImg, const MEMIMG* src, int x, int y, int width, int height);
// Releases a view; the body goes with its last view. The record is cleared. An invalid record is
// left alone.
void TerminateMemImg(MEMIMG* img);
// 1 when the magic is MEMIMG_MAGIC and the base pointer is set, else 0.
int CheckValidMemImg(const MEMIMG* img);
// The shared descriptor of a format (0..3) with the alpha and palette flags (ignored for formats
// 2 and 3), built on first request and kept for the run; null for a format outside 0..3.
const PIXELFORMAT* GetMemImgPixelFormat(int format, int alphaFlag, int paletteFlag);

// ---- Pixel writes -----------------------------------------------------------------------------

// Every write of a body's pixels goes through here: the run map and the premultiplied plane no
// longer describe the image, so a later blit must not use them.
inline void MemImgMarkPixelsChanged(MEMIMG* img) {
  if (img && img->Base) {
    img->Base->RunMapValid = 0;
    img->Base->PremulValid = 0;
  }
}

// Sets every pixel of rect (clipped to the view; null = the whole view) to color, written as 1, 2
// or 4 bytes by the bytes per pixel. An empty or invalid area writes nothing.
void ClearMemImg(MEMIMG* img, const RECT* rect, uint32_t color);
// Converts srcRect of src (null = the whole view) into dst at (x, y), clipped to both views.
// Returns the converting blit's result (negative on failure), 0 when nothing is left to copy,
// -1 for an invalid record.
int BltMemImg(MEMIMG* dst, const MEMIMG* src, const RECT* srcRect, int x, int y);
// Uploads the rectangle (srcX, srcY, width, height) of a BASEIMAGE (with an optional alpha image of
// the same layout) into dst at (dstX, dstY), clipped to both. Palettised bodies take the image's
// palette and, without an alpha image, its count; an upload covering the whole body (of format 0
// or 1 with a run map buffer) rebuilds the run map and the premultiplied plane and marks them
// valid, any other upload marks them invalid. Negative on failure, else not negative.
int BltBaseImageToMemImg(const BASEIMAGE* src, const BASEIMAGE* alpha, MEMIMG* dst, int srcX,
                         int srcY, int width, int height, int dstX, int dstY, int transFlag);

// Bytes per pixel of a valid record's body.
inline int MemImgBytesPerPixel(const MEMIMG* img) { return img->Base->ColorFormat->PixelByte; }
