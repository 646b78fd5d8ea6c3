// Pixel formats: building descriptors, reading and writing single pixels, and the converting
// blit between any two formats (palettes, packed channels, single channels, DXT blocks).
#include <algorithm>
#include <cstring>

#include <qzlib/base/popcount.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/image/pixel_codec.h>

namespace {

int LowestBit(uint32_t m) { return m == 0 ? 0 : __builtin_ctz(m); }
int BitCount(uint32_t m) { return PopCount(m); }

}  // namespace

int BuildPixelFormatFromMasks(PIXELFORMAT* format, int colorBitDepth, uint32_t redMask,
                              uint32_t greenMask, uint32_t blueMask, uint32_t alphaMask) {
  if (format == nullptr || colorBitDepth <= 0 || colorBitDepth > 32) return -1;
  format->ColorBitDepth = static_cast<uint16_t>(colorBitDepth);
  format->PixelByte = static_cast<uint16_t>((colorBitDepth + 7) / 8);
  format->RedWidth = static_cast<uint8_t>(BitCount(redMask));
  format->GreenWidth = static_cast<uint8_t>(BitCount(greenMask));
  format->BlueWidth = static_cast<uint8_t>(BitCount(blueMask));
  format->AlphaWidth = static_cast<uint8_t>(BitCount(alphaMask));
  format->RedLoc = static_cast<uint8_t>(LowestBit(redMask));
  format->GreenLoc = static_cast<uint8_t>(LowestBit(greenMask));
  format->BlueLoc = static_cast<uint8_t>(LowestBit(blueMask));
  format->AlphaLoc = static_cast<uint8_t>(LowestBit(alphaMask));
  format->RedMask = redMask;
  format->GreenMask = greenMask;
  format->BlueMask = blueMask;
  format->AlphaMask = alphaMask;
  uint32_t pixelBits = colorBitDepth >= 32 ? 0xFFFFFFFFu : ((1u << colorBitDepth) - 1u);
  uint32_t used = redMask | greenMask | blueMask | alphaMask;
  format->NoneMask = (used & ~pixelBits) != 0 ? 0 : (pixelBits & ~used);
  format->DxtFormat = 0;
  return 0;
}

bool ChannelMasksValid(uint32_t r, uint32_t g, uint32_t b, uint32_t a, int bits) {
  const uint32_t pixel = bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1u);
  const uint32_t masks[4] = {r, g, b, a};
  uint32_t seen = 0;
  for (uint32_t m : masks) {
    const uint32_t run = m == 0 ? 0 : m >> LowestBit(m);
    if ((run & (run + 1)) != 0 || (m & ~pixel) != 0 || (m & seen) != 0) return false;
    seen |= m;
  }
  return (r | g | b) != 0;
}

int PixelFormatIsPalette(const PIXELFORMAT* format) {
  if (format == nullptr || format->DxtFormat != 0 || format->ColorBitDepth > 8) return 0;
  uint32_t used = format->RedMask | format->GreenMask | format->BlueMask | format->AlphaMask;
  return (used >> format->ColorBitDepth) != 0 ? 1 : 0;
}

int PixelFormatHasAlpha(const PIXELFORMAT* format) {
  if (format == nullptr) return 0;
  if (format->DxtFormat >= 2 && format->DxtFormat <= 5) return 1;
  if (PixelFormatIsPalette(format)) return 0;
  return format->AlphaMask != 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Channel width rules
// ---------------------------------------------------------------------------------------------

uint32_t ChannelTo8(uint32_t v, int width) {
  if (width <= 0) return 0;
  if (width > 32) width = 32;
  if (width >= 8) return v >> (width - 8);
  uint32_t max = (1u << width) - 1u;
  return (v * 255u + max / 2u) / max;
}

uint32_t ChannelFrom8(uint32_t v, int width) {
  if (width <= 8) return v >> (8 - width);
  uint64_t max = (width >= 32) ? 0xFFFFFFFFull : ((1ull << width) - 1ull);
  return static_cast<uint32_t>((v * max + 127u) / 255u);
}

uint32_t ReadRawPixel(const uint8_t* p, int bytes) {
  switch (bytes) {
    case 1: return p[0];
    case 2: return p[0] | (p[1] << 8);
    case 3: return p[0] | (p[1] << 8) | (p[2] << 16);
    default: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

void WriteRawPixel(uint8_t* p, int bytes, uint32_t v) {
  switch (bytes) {
    case 1: p[0] = static_cast<uint8_t>(v); break;
    case 2: p[0] = static_cast<uint8_t>(v); p[1] = static_cast<uint8_t>(v >> 8); break;
    case 3:
      p[0] = static_cast<uint8_t>(v);
      p[1] = static_cast<uint8_t>(v >> 8);
      p[2] = static_cast<uint8_t>(v >> 16);
      break;
    default: std::memcpy(p, &v, 4); break;
  }
}

// ---------------------------------------------------------------------------------------------
// DXT blocks
// ---------------------------------------------------------------------------------------------

int DxtBlockBytes(int dxtFormat) { return dxtFormat == 1 ? 8 : 16; }

static void Expand565(uint32_t c, uint32_t* r, uint32_t* g, uint32_t* b) {
  *r = ChannelTo8((c >> 11) & 31, 5);
  *g = ChannelTo8((c >> 5) & 63, 6);
  *b = ChannelTo8(c & 31, 5);
}

void DecodeDxtBlock(const uint8_t* block, int dxtFormat, uint32_t out[16]) {
  const uint8_t* colour = dxtFormat == 1 ? block : block + 8;
  uint32_t c0 = colour[0] | (colour[1] << 8);
  uint32_t c1 = colour[2] | (colour[3] << 8);
  uint32_t r[4], g[4], b[4], a[4] = {255, 255, 255, 255};
  Expand565(c0, &r[0], &g[0], &b[0]);
  Expand565(c1, &r[1], &g[1], &b[1]);
  if (dxtFormat != 1 || c0 > c1) {
    // four-colour mode (always for the colour block of DXT2 to DXT5)
    r[2] = (2 * r[0] + r[1] + 1) / 3; g[2] = (2 * g[0] + g[1] + 1) / 3; b[2] = (2 * b[0] + b[1] + 1) / 3;
    r[3] = (r[0] + 2 * r[1] + 1) / 3; g[3] = (g[0] + 2 * g[1] + 1) / 3; b[3] = (b[0] + 2 * b[1] + 1) / 3;
  } else {
    r[2] = (r[0] + r[1] + 1) / 2; g[2] = (g[0] + g[1] + 1) / 2; b[2] = (b[0] + b[1] + 1) / 2;
    r[3] = g[3] = b[3] = 0;
    a[3] = 0;
  }
  uint32_t bits = colour[4] | (colour[5] << 8) | (colour[6] << 16) | (static_cast<uint32_t>(colour[7]) << 24);
  for (int i = 0; i < 16; ++i) {
    uint32_t k = (bits >> (2 * i)) & 3;
    out[i] = (a[k] << 24) | (r[k] << 16) | (g[k] << 8) | b[k];
  }
  if (dxtFormat == 2 || dxtFormat == 3) {
    for (int i = 0; i < 16; ++i) {
      uint32_t nib = (block[i / 2] >> ((i & 1) * 4)) & 15;
      out[i] = (out[i] & 0x00FFFFFF) | ((nib * 17) << 24);
    }
  } else if (dxtFormat == 4 || dxtFormat == 5) {
    uint32_t a0 = block[0], a1 = block[1];
    uint32_t al[8];
    al[0] = a0;
    al[1] = a1;
    if (a0 > a1) {
      for (int i = 1; i <= 6; ++i) al[i + 1] = ((7 - i) * a0 + i * a1 + 3) / 7;
    } else {
      for (int i = 1; i <= 4; ++i) al[i + 1] = ((5 - i) * a0 + i * a1 + 2) / 5;
      al[6] = 0;
      al[7] = 255;
    }
    uint64_t abits = 0;
    for (int i = 0; i < 6; ++i) abits |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
    for (int i = 0; i < 16; ++i) {
      uint32_t k = static_cast<uint32_t>((abits >> (3 * i)) & 7);
      out[i] = (out[i] & 0x00FFFFFF) | (al[k] << 24);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Row decode and encode through A8R8G8B8
// ---------------------------------------------------------------------------------------------

namespace {

bool IsArgb8(const PIXELFORMAT* f) {
  return f->PixelByte == 4 && f->RedMask == 0xFF0000 && f->GreenMask == 0xFF00 &&
         f->BlueMask == 0xFF && (f->AlphaMask == 0xFF000000u || f->AlphaMask == 0);
}
bool IsBgr24(const PIXELFORMAT* f) {
  return f->PixelByte == 3 && f->RedMask == 0xFF0000 && f->GreenMask == 0xFF00 &&
         f->BlueMask == 0xFF && f->AlphaMask == 0;
}
bool Is565(const PIXELFORMAT* f) {
  return f->PixelByte == 2 && f->RedMask == 0xF800 && f->GreenMask == 0x07E0 &&
         f->BlueMask == 0x001F && f->AlphaMask == 0;
}

bool IsSingleChannel(const PIXELFORMAT* f) {
  return f->RedMask != 0 && f->RedMask == f->GreenMask && f->RedMask == f->BlueMask &&
         f->RedMask == f->AlphaMask;
}

// Per-format decode tables: raw field value to 8 bits for channels whose field fits in a byte.
// Without tables (one pixel, or wider fields) each channel is converted on its own; a field
// value beyond its width (a mask with holes) is limited to the width's maximum.
struct ChannelDecoder {
  const PIXELFORMAT* F;
  bool Tables;
  uint8_t T[4][256];
  void Init(const PIXELFORMAT* f, bool buildTables = true) {
    F = f;
    const uint32_t masks[4] = {f->RedMask, f->GreenMask, f->BlueMask, f->AlphaMask};
    const int locs[4] = {f->RedLoc, f->GreenLoc, f->BlueLoc, f->AlphaLoc};
    const int widths[4] = {f->RedWidth, f->GreenWidth, f->BlueWidth, f->AlphaWidth};
    Tables = buildTables;
    for (int c = 0; c < 4; ++c) {
      if (widths[c] > 8 || locs[c] > 31 || (masks[c] >> locs[c]) > 255) Tables = false;
    }
    if (!Tables) return;
    for (int c = 0; c < 4; ++c) {
      int w = widths[c];
      for (uint32_t v = 0; v < 256; ++v) {
        T[c][v] = static_cast<uint8_t>(w == 0 ? (c == 3 ? 255 : 0) : ChannelTo8(v & ((1u << w) - 1u), w));
      }
    }
  }
  uint32_t Decode(uint32_t p) const {
    const PIXELFORMAT* f = F;
    if (Tables) {
      return (static_cast<uint32_t>(T[3][(p & f->AlphaMask) >> f->AlphaLoc]) << 24) |
             (static_cast<uint32_t>(T[0][(p & f->RedMask) >> f->RedLoc]) << 16) |
             (static_cast<uint32_t>(T[1][(p & f->GreenMask) >> f->GreenLoc]) << 8) |
             T[2][(p & f->BlueMask) >> f->BlueLoc];
    }
    auto ch = [&](uint32_t mask, int loc, int width, uint32_t missing) {
      if (width == 0 || loc > 31) return missing;
      uint32_t v = (p & mask) >> loc;
      if (width < 32 && v > (1u << width) - 1u) v = (1u << width) - 1u;
      return ChannelTo8(v, width);
    };
    return (ch(f->AlphaMask, f->AlphaLoc, f->AlphaWidth, 255) << 24) |
           (ch(f->RedMask, f->RedLoc, f->RedWidth, 0) << 16) |
           (ch(f->GreenMask, f->GreenLoc, f->GreenWidth, 0) << 8) |
           ch(f->BlueMask, f->BlueLoc, f->BlueWidth, 0);
  }
};

uint32_t PaletteArgb(const PIXELFORMAT* f, uint32_t index) {
  const COLOR_U8& e = f->Palette[index & 255];
  return 0xFF000000u | (static_cast<uint32_t>(e.r) << 16) | (static_cast<uint32_t>(e.g) << 8) | e.b;
}

// Decodes count pixels of row y starting at column x into A8R8G8B8 words.
void DecodeRow(const PIXELFORMAT* f, const ChannelDecoder& dec, const uint8_t* pixels, int pitch,
               int x, int y, int count, uint32_t* out) {
  if (f->DxtFormat != 0) {
    int bb = DxtBlockBytes(f->DxtFormat);
    const uint8_t* blockRow = pixels + static_cast<int64_t>(y >> 2) * pitch;
    uint32_t block[16];
    int i = 0;
    while (i < count) {
      int px = x + i;
      DecodeDxtBlock(blockRow + static_cast<int64_t>(px >> 2) * bb, f->DxtFormat, block);
      int inBlock = std::min(4 - (px & 3), count - i);
      for (int k = 0; k < inBlock; ++k) out[i + k] = block[(y & 3) * 4 + (px & 3) + k];
      i += inBlock;
    }
    return;
  }
  const uint8_t* row = pixels + static_cast<int64_t>(y) * pitch;
  int pb = f->PixelByte;
  if (PixelFormatIsPalette(f)) {
    const uint8_t* s = row + x;
    for (int i = 0; i < count; ++i) out[i] = PaletteArgb(f, s[i]);
    return;
  }
  if (IsArgb8(f)) {
    const uint8_t* s = row + static_cast<int64_t>(x) * 4;
    std::memcpy(out, s, static_cast<size_t>(count) * 4);
    if (f->AlphaMask == 0) {
      for (int i = 0; i < count; ++i) out[i] |= 0xFF000000u;
    }
    return;
  }
  if (IsBgr24(f)) {
    const uint8_t* s = row + static_cast<int64_t>(x) * 3;
    for (int i = 0; i < count; ++i, s += 3) out[i] = 0xFF000000u | s[0] | (s[1] << 8) | (s[2] << 16);
    return;
  }
  const uint8_t* s = row + static_cast<int64_t>(x) * pb;
  for (int i = 0; i < count; ++i, s += pb) out[i] = dec.Decode(ReadRawPixel(s, pb));
}

// Packs one A8R8G8B8 word into a direct-colour format (spare bits 0).
uint32_t EncodeDirect(const PIXELFORMAT* f, uint32_t c) {
  uint32_t p = 0;
  auto put = [&](uint32_t v8, uint32_t mask, int loc, int width) {
    if (width == 0 || loc > 31) return;
    p |= (ChannelFrom8(v8, width) << loc) & mask;
  };
  put(c >> 24, f->AlphaMask, f->AlphaLoc, f->AlphaWidth);
  put((c >> 16) & 255, f->RedMask, f->RedLoc, f->RedWidth);
  put((c >> 8) & 255, f->GreenMask, f->GreenLoc, f->GreenWidth);
  put(c & 255, f->BlueMask, f->BlueLoc, f->BlueWidth);
  return p;
}

uint32_t GreyLevel(uint32_t c) {
  uint32_t r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
  return (299 * r + 587 * g + 114 * b + 500) / 1000;
}

}  // namespace

uint32_t PixelFormatEncodeArgb(const PIXELFORMAT* f, uint32_t argb) { return EncodeDirect(f, argb); }

// ---------------------------------------------------------------------------------------------
// The converting blit
// ---------------------------------------------------------------------------------------------

int BltConvertPixelFormat(void* destPixels, int destPitch, const PIXELFORMAT* destFormat,
                          const void* srcPixels, int srcPitch, const PIXELFORMAT* srcFormat,
                          const void* alphaPixels, int alphaPitch, const PIXELFORMAT* alphaFormat,
                          int destX, int destY, const RECT* srcRect, int flag13, int transFlag,
                          uint32_t transColor, int flag16, int singleChannel,
                          int singleChannelFull, int flag19, int flag20, int srcWidth,
                          int srcHeight, int destWidth, int destHeight) {
  if (destPixels == nullptr || destFormat == nullptr || srcPixels == nullptr ||
      srcFormat == nullptr || srcRect == nullptr)
    return -1;
  if (destFormat->DxtFormat != 0) return -1;
  if (destFormat->PixelByte < 1 || destFormat->PixelByte > 4) return -1;
  if (srcFormat->DxtFormat == 0 && (srcFormat->PixelByte < 1 || srcFormat->PixelByte > 4)) return -1;
  if (srcFormat->DxtFormat < 0 || srcFormat->DxtFormat > 5) return -1;
  const bool withAlphaImage = alphaPixels != nullptr && alphaFormat != nullptr;
  if (withAlphaImage && alphaFormat->DxtFormat == 0 &&
      (alphaFormat->PixelByte < 1 || alphaFormat->PixelByte > 4))
    return -1;

  // Clip against the source and the destination, in 64 bits.
  int64_t left = srcRect->left, top = srcRect->top, right = srcRect->right, bottom = srcRect->bottom;
  int64_t dx = destX, dy = destY;
  if (left < 0) { dx -= left; left = 0; }
  if (top < 0) { dy -= top; top = 0; }
  if (srcWidth >= 0 && right > srcWidth) right = srcWidth;
  if (srcHeight >= 0 && bottom > srcHeight) bottom = srcHeight;
  if (dx < 0) { left -= dx; dx = 0; }
  if (dy < 0) { top -= dy; dy = 0; }
  if (destWidth >= 0 && dx + (right - left) > destWidth) right = left + (destWidth - dx);
  if (destHeight >= 0 && dy + (bottom - top) > destHeight) bottom = top + (destHeight - dy);
  const bool destPalette = PixelFormatIsPalette(destFormat) != 0;
  const bool srcPalette = PixelFormatIsPalette(srcFormat) != 0;
  if (destPalette && !srcPalette) return -1;
  if (right <= left || bottom <= top) return 0;
  const int w = static_cast<int>(right - left);
  const int h = static_cast<int>(bottom - top);
  const int sx = static_cast<int>(left), sy = static_cast<int>(top);
  const int ox = static_cast<int>(dx), oy = static_cast<int>(dy);

  uint8_t* dst = static_cast<uint8_t*>(destPixels);
  const uint8_t* src = static_cast<const uint8_t*>(srcPixels);
  const uint8_t* alp = static_cast<const uint8_t*>(alphaPixels);
  const int dpb = destFormat->PixelByte;
  const bool destHasAlpha = destFormat->AlphaMask != 0 && !destPalette && !IsSingleChannel(destFormat);
  const bool keyOut = transFlag != 0 && !destHasAlpha;

  ChannelDecoder alphaDec;
  if (withAlphaImage) alphaDec.Init(alphaFormat);
  constexpr int kChunk = 256;
  uint32_t buf[kChunk];
  uint32_t abuf[kChunk];

  // Palettised destination: indices are copied.
  if (destPalette) {
    uint32_t highest = 0;
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src + static_cast<int64_t>(sy + y) * srcPitch + sx;
      uint8_t* d = dst + static_cast<int64_t>(oy + y) * destPitch + ox;
      for (int x0 = 0; x0 < w; x0 += kChunk) {
        int n = std::min(kChunk, w - x0);
        if (withAlphaImage) DecodeRow(alphaFormat, alphaDec, alp, alphaPitch, sx + x0, sy + y, n, abuf);
        for (int i = 0; i < n; ++i) {
          uint32_t v = s[x0 + i];
          if (withAlphaImage && keyOut && (abuf[i] & 255) == 0) {
            d[x0 + i] = static_cast<uint8_t>(transColor);
            continue;
          }
          d[x0 + i] = static_cast<uint8_t>(v);
          if (v > highest) highest = v;
        }
      }
    }
    return static_cast<int>(highest);
  }

  // The same direct format without alpha image or key: a row copy.
  if (!withAlphaImage && !keyOut && srcFormat->DxtFormat == 0 && !srcPalette &&
      srcFormat->PixelByte == destFormat->PixelByte && srcFormat->RedMask == destFormat->RedMask &&
      srcFormat->GreenMask == destFormat->GreenMask && srcFormat->BlueMask == destFormat->BlueMask &&
      srcFormat->AlphaMask == destFormat->AlphaMask && srcFormat->NoneMask == destFormat->NoneMask &&
      !(singleChannel != 0 && !IsSingleChannel(srcFormat))) {
    size_t rowBytes = static_cast<size_t>(w) * dpb;
    for (int y = 0; y < h; ++y) {
      std::memmove(dst + static_cast<int64_t>(oy + y) * destPitch + static_cast<int64_t>(ox) * dpb,
                   src + static_cast<int64_t>(sy + y) * srcPitch + static_cast<int64_t>(sx) * dpb,
                   rowBytes);
    }
    return 0;
  }

  ChannelDecoder srcDec;
  srcDec.Init(srcFormat);
  const bool single = singleChannel != 0 || IsSingleChannel(destFormat);
  const bool srcSingle = IsSingleChannel(srcFormat);
  int singleWidth = destFormat->RedWidth;
  const bool dArgb = IsArgb8(destFormat), dBgr = IsBgr24(destFormat), d565 = Is565(destFormat);

  for (int y = 0; y < h; ++y) {
    uint8_t* d = dst + static_cast<int64_t>(oy + y) * destPitch + static_cast<int64_t>(ox) * dpb;
    for (int x0 = 0; x0 < w; x0 += kChunk) {
      int n = std::min(kChunk, w - x0);
      DecodeRow(srcFormat, srcDec, src, srcPitch, sx + x0, sy + y, n, buf);
      if (withAlphaImage) {
        DecodeRow(alphaFormat, alphaDec, alp, alphaPitch, sx + x0, sy + y, n, abuf);
        for (int i = 0; i < n; ++i) buf[i] = (buf[i] & 0x00FFFFFF) | (abuf[i] << 24);
      }
      if (single) {
        for (int i = 0; i < n; ++i, d += dpb) {
          uint32_t c = buf[i];
          uint32_t v = srcSingle ? (c & 255) : GreyLevel(c);
          if (singleChannelFull != 0) v = ChannelFrom8(v, singleWidth);
          uint32_t p = destFormat->RedLoc > 31 ? 0 : (v << destFormat->RedLoc) & destFormat->RedMask;
          if (keyOut && (c >> 24) == 0) p = transColor;
          WriteRawPixel(d, dpb, p);
        }
      } else if (dArgb && !keyOut) {
        if (destFormat->AlphaMask == 0) {
          for (int i = 0; i < n; ++i) buf[i] &= 0x00FFFFFF;
        }
        std::memcpy(d, buf, static_cast<size_t>(n) * 4);
        d += static_cast<size_t>(n) * 4;
      } else if (dBgr && !keyOut) {
        for (int i = 0; i < n; ++i, d += 3) {
          d[0] = static_cast<uint8_t>(buf[i]);
          d[1] = static_cast<uint8_t>(buf[i] >> 8);
          d[2] = static_cast<uint8_t>(buf[i] >> 16);
        }
      } else if (d565 && !keyOut) {
        for (int i = 0; i < n; ++i, d += 2) {
          uint32_t c = buf[i];
          uint32_t p = ((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F);
          d[0] = static_cast<uint8_t>(p);
          d[1] = static_cast<uint8_t>(p >> 8);
        }
      } else {
        for (int i = 0; i < n; ++i, d += dpb) {
          uint32_t c = buf[i];
          uint32_t p = (keyOut && (c >> 24) == 0) ? transColor : EncodeDirect(destFormat, c);
          WriteRawPixel(d, dpb, p);
        }
      }
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Single pixels
// ---------------------------------------------------------------------------------------------

uint32_t PixelFormatDecodeAt(const PIXELFORMAT* f, const uint8_t* pixels, int pitch, int x, int y) {
  ChannelDecoder dec;
  dec.Init(f, false);
  uint32_t c;
  DecodeRow(f, dec, pixels, pitch, x, y, 1, &c);
  return c;
}

int GetPixelBaseImage(const BASEIMAGE* image, int x, int y, int* r, int* g, int* b, int* a) {
  if (image == nullptr || image->GraphData == nullptr || x < 0 || y < 0 || x >= image->Width ||
      y >= image->Height)
    return -1;
  const PIXELFORMAT* f = &image->ColorData;
  if (f->DxtFormat == 0 && (f->PixelByte < 1 || f->PixelByte > 4)) return -1;
  uint32_t c = PixelFormatDecodeAt(f, static_cast<const uint8_t*>(image->GraphData), image->Pitch, x, y);
  if (IsSingleChannel(f)) c = (c & 0xFF) * 0x01010101u;
  if (r) *r = static_cast<int>((c >> 16) & 255);
  if (g) *g = static_cast<int>((c >> 8) & 255);
  if (b) *b = static_cast<int>(c & 255);
  if (a) *a = static_cast<int>(c >> 24);
  return 0;
}

int SetPixelBaseImage(BASEIMAGE* image, int x, int y, int r, int g, int b, int a) {
  if (image == nullptr || image->GraphData == nullptr || x < 0 || y < 0 || x >= image->Width ||
      y >= image->Height)
    return -1;
  PIXELFORMAT* f = &image->ColorData;
  if (f->DxtFormat != 0 || f->PixelByte < 1 || f->PixelByte > 4) return -1;
  auto lim = [](int v) { return static_cast<uint32_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
  uint32_t c = (lim(a) << 24) | (lim(r) << 16) | (lim(g) << 8) | lim(b);
  uint8_t* p = static_cast<uint8_t*>(image->GraphData) + static_cast<int64_t>(y) * image->Pitch +
               static_cast<int64_t>(x) * f->PixelByte;
  if (PixelFormatIsPalette(f)) {
    int best = 0;
    int64_t bestDist = INT64_MAX;
    for (int i = 0; i < 256; ++i) {
      int64_t dr = static_cast<int64_t>(f->Palette[i].r) - lim(r);
      int64_t dg = static_cast<int64_t>(f->Palette[i].g) - lim(g);
      int64_t db = static_cast<int64_t>(f->Palette[i].b) - lim(b);
      int64_t dist = dr * dr + dg * dg + db * db;
      if (dist < bestDist) { bestDist = dist; best = i; }
    }
    p[0] = static_cast<uint8_t>(best);
    return 0;
  }
  uint32_t v;
  if (IsSingleChannel(f)) {
    v = f->RedLoc > 31 ? 0 : (ChannelFrom8(GreyLevel(c), f->RedWidth) << f->RedLoc) & f->RedMask;
  } else {
    v = EncodeDirect(f, c);
  }
  WriteRawPixel(p, f->PixelByte, v);
  return 0;
}
