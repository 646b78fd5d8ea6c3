// Small image files built byte by byte for the image tests, with the pixels they must decode to.
#pragma once
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <qzlib/image/baseimage.h>

struct Bytes {
  std::vector<uint8_t> v;
  void u8(uint32_t x) { v.push_back(static_cast<uint8_t>(x)); }
  void u16(uint32_t x) { u8(x); u8(x >> 8); }
  void u32(uint32_t x) { u16(x); u16(x >> 16); }
  void str(const char* s) { while (*s) u8(static_cast<uint8_t>(*s++)); }
  void zeros(size_t n) { v.insert(v.end(), n, 0); }
  size_t size() const { return v.size(); }
};

// Decoded pixel as 0xAARRGGBB, through GetPixelBaseImage.
inline uint32_t PixelArgb(const BASEIMAGE& img, int x, int y) {
  int r = -1, g = -1, b = -1, a = -1;
  if (GetPixelBaseImage(&img, x, y, &r, &g, &b, &a) != 0) return 0xDEADBEEF;
  return (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A small generated picture with smooth and sharp parts: 0xAARRGGBB at (x, y).
inline uint32_t TestPicture(int x, int y, int w, int h, bool alpha) {
  uint32_t r = static_cast<uint32_t>(x * 255 / (w > 1 ? w - 1 : 1));
  uint32_t g = static_cast<uint32_t>(y * 255 / (h > 1 ? h - 1 : 1));
  uint32_t b = static_cast<uint32_t>(((x / 8 + y / 8) & 1) ? 200 : 40);
  uint32_t a = alpha ? static_cast<uint32_t>((x * 7 + y * 3) & 255) : 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// Fills an A8R8G8B8 (or X8R8G8B8) image with TestPicture.
inline void FillTestPicture(BASEIMAGE* img, bool alpha) {
  for (int y = 0; y < img->Height; ++y)
    for (int x = 0; x < img->Width; ++x) {
      uint32_t c = TestPicture(x, y, img->Width, img->Height, alpha);
      SetPixelBaseImage(img, x, y, (c >> 16) & 255, (c >> 8) & 255, c & 255, c >> 24);
    }
}
