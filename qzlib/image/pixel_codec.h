// Internals shared by the image subsystem's files: channel width rules, raw pixel access, DXT
// block decoding, and the bounded byte reader and image allocation the file readers use.
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/image/baseimage.h>

// A channel value of the given width as 8 bits, and an 8-bit value as the given width (the
// rules in baseimage.h).
uint32_t ChannelTo8(uint32_t v, int width);
uint32_t ChannelFrom8(uint32_t v, int width);

// A pixel of 1 to 4 bytes, little-endian.
uint32_t ReadRawPixel(const uint8_t* p, int bytes);
void WriteRawPixel(uint8_t* p, int bytes, uint32_t v);

// Bytes of one 4x4 block of the given kind (8 for DXT1, else 16).
int DxtBlockBytes(int dxtFormat);
// Decodes one block into 16 A8R8G8B8 words, row by row.
void DecodeDxtBlock(const uint8_t* block, int dxtFormat, uint32_t out[16]);

// One A8R8G8B8 word packed into a direct-colour format (spare bits 0).
uint32_t PixelFormatEncodeArgb(const PIXELFORMAT* format, uint32_t argb);
// Pixel (x, y) of any format (palette, blocks) as an A8R8G8B8 word.
uint32_t PixelFormatDecodeAt(const PIXELFORMAT* format, const uint8_t* pixels, int pitch, int x,
                             int y);

// Channel masks a file may declare: each contiguous, none overlapping another, all inside a
// bits-wide pixel, the colour masks not all empty.
bool ChannelMasksValid(uint32_t r, uint32_t g, uint32_t b, uint32_t a, int bits);

// Largest width or height any reader or creator accepts.
constexpr int kMaxImageSide = 32768;

// Allocates the pixels of a width x height image of the given format (rows padded to 4 bytes;
// for block formats, rows of blocks) and fills the record. Checks the size first. 0, or -1
// (nothing allocated, record cleared).
int AllocBaseImagePixels(BASEIMAGE* image, int width, int height, const PIXELFORMAT* format);

// Common formats.
void MakeArgb8Format(PIXELFORMAT* f, bool alpha);  // 32-bit A8R8G8B8 or X8R8G8B8
void MakeBgr24Format(PIXELFORMAT* f);               // 24-bit bytes B, G, R
void MakePaletteFormat(PIXELFORMAT* f);             // 8-bit indices, palette cleared
void MakeGreyPaletteFormat(PIXELFORMAT* f);         // 8-bit indices into a grey ramp

// A read cursor over file bytes; every read checks the bounds.
struct ByteReader {
  const uint8_t* Data;
  size_t Size;
  size_t Pos;
  bool Has(size_t n) const { return Pos <= Size && n <= Size - Pos; }
  bool Seek(size_t pos) {
    if (pos > Size) return false;
    Pos = pos;
    return true;
  }
  bool Skip(size_t n) {
    if (!Has(n)) return false;
    Pos += n;
    return true;
  }
  bool U8(uint32_t* v) {
    if (!Has(1)) return false;
    *v = Data[Pos++];
    return true;
  }
  bool U16(uint32_t* v) {
    if (!Has(2)) return false;
    *v = Data[Pos] | (Data[Pos + 1] << 8);
    Pos += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    if (!Has(4)) return false;
    *v = Data[Pos] | (Data[Pos + 1] << 8) | (Data[Pos + 2] << 16) |
         (static_cast<uint32_t>(Data[Pos + 3]) << 24);
    Pos += 4;
    return true;
  }
};

// Reader results: 0 decoded, 1 not this format (the next reader is tried), -1 this format but
// broken (logged; nothing left allocated).
//
// Before the image is allocated each reader checks that the data can describe it:
//   BMP, TGA, BGRA, DDS uncompressed or in blocks: every pixel's bytes present.
//   BMP RLE4 / RLE8: the whole stream is walked first; it must be made of whole codes, keep every
//     run inside the image and end in an end-of-bitmap code. End-of-line, delta and end-of-bitmap
//     codes may leave pixels unset (0), so a small file may describe a large image.
//   TGA run-length: no end code, every pixel coded; a packet covers at most 128 pixels in at
//     least 1 + pixel-size bytes, so at least that many bytes per 128 pixels.
//   JPEG: Huffman-coded data needs at least 2 bits per 8x8 block of each component (1 when
//     progressive). Rows are decoded into the image one by one, and a Huffman scan whose coded
//     data ends early (at the end of the file or at a marker) is refused at the first row it
//     cannot supply. Arithmetic coding has no such floor, and its scans may lawfully stop at a
//     marker (the rest of the data is zero by that coding's convention): there only a file
//     whose bytes run out is refused.
int ReadBmpImage(const uint8_t* data, size_t size, BASEIMAGE* image);
int ReadJpegImage(const uint8_t* data, size_t size, BASEIMAGE* image);
int ReadPngImage(const uint8_t* data, size_t size, BASEIMAGE* image);
int ReadBgraImage(const uint8_t* data, size_t size, BASEIMAGE* image);
int ReadTgaImage(const uint8_t* data, size_t size, BASEIMAGE* image);
int ReadDdsImage(const uint8_t* data, size_t size, BASEIMAGE* image);

// Logs "<kind> image: <what>" failures of the readers in the engine's style.
int LogImageReadError(const char* kind, const char* what);

// Test and fuzzing hook: pixel buffers (and the JPEG decoder's own work memory) above this many
// bytes are refused; 0, the default, leaves only the side limit.
void SetImageMemoryLimit(uint64_t bytes);
uint64_t ImageMemoryLimit();

// Test switch of BltBaseImageStretch's bilinear passes: 0 the best vector kernels the processor
// has, 1 the SSE2 kernels, 2 the scalar loops alone.
extern int ImageStretchKernels;

// Rows of any image as B, G, R (alpha false) or B, G, R, A bytes, for the writers: converts row
// y of the image into out (width * 3 or width * 4 bytes). 0, or -1.
int ConvertRowForWriter(const BASEIMAGE* image, int y, bool alpha, uint8_t* out);
