#include "tests/support/guarded_surface.h"

#include <cstring>
#include <sstream>

namespace {
constexpr uint8_t kGuardByte = 0xA5;
}  // namespace

GuardedSurface::GuardedSurface(const SurfaceDesc& desc, uint32_t seed) {
  bool palette = desc.palette && desc.format <= 1;
  bool alpha = desc.alpha && !palette && desc.format <= 1;
  if (palette) bpp_ = 1;
  else if (desc.format == 0) bpp_ = alpha ? 4 : 2;
  else if (desc.format == 1) bpp_ = 4;
  else if (desc.format == 2) bpp_ = 1;
  else bpp_ = 2;
  int32_t pitch = desc.width * bpp_ + desc.extraPitch;
  buffer_.assign(kGuard * 2 + size_t(pitch) * desc.height, kGuardByte);
  fmt_.ColorBitDepth = static_cast<uint16_t>(palette ? 8 : bpp_ * 8);
  fmt_.PixelByte = static_cast<uint16_t>(bpp_);
  base_.UseCount = 1;
  base_.Width = desc.width;
  base_.Height = desc.height;
  base_.Pitch = pitch;
  base_.PitchShift = -1;
  base_.ColorFormat = &fmt_;
  base_.TransColor = desc.transColor;
  base_.Format = desc.format;
  base_.PaletteFlag = palette ? 1 : 0;
  base_.AlphaFlag = alpha ? 1 : 0;
  base_.UserPixels = 1;
  base_.Pixels = buffer_.data() + kGuard;
  if (palette) {
    paletteBlock_.assign(2048, 0);
    base_.Palette = paletteBlock_.data();
    base_.PaletteCopy = paletteBlock_.data() + 1024;
    base_.PaletteCount = 256;
  }
  img_.Magic = MEMIMG_MAGIC;
  img_.Width = desc.width;
  img_.Height = desc.height;
  img_.Pixels = base_.Pixels;
  img_.PremulPixels = nullptr;
  img_.Base = &base_;
  fillRandom(seed);
}

uint32_t GuardedSurface::get(int x, int y) {
  uint8_t* p = pixel(x, y);
  if (bpp_ == 1) return p[0];
  if (bpp_ == 2) { uint16_t v; std::memcpy(&v, p, 2); return v; }
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void GuardedSurface::set(int x, int y, uint32_t v) {
  uint8_t* p = pixel(x, y);
  if (bpp_ == 1) p[0] = static_cast<uint8_t>(v);
  else if (bpp_ == 2) { uint16_t s = static_cast<uint16_t>(v); std::memcpy(p, &s, 2); }
  else std::memcpy(p, &v, 4);
}

void GuardedSurface::fillRandom(uint32_t seed) {
  std::mt19937 rng(seed);
  for (int y = 0; y < img_.Height; ++y)
    for (int x = 0; x < img_.Width; ++x) {
      uint32_t v = rng();
      if (base_.Format == 0 && base_.AlphaFlag) v &= 0x00FFFFFF;
      set(x, y, v);
    }
  if (base_.Palette) {
    for (int i = 0; i < 2048; ++i) paletteBlock_[i] = static_cast<uint8_t>(rng());
    std::memcpy(base_.PaletteCopy, base_.Palette, 1024);
  }
}

void GuardedSurface::fill(uint32_t v) {
  for (int y = 0; y < img_.Height; ++y)
    for (int x = 0; x < img_.Width; ++x) set(x, y, v);
}

bool GuardedSurface::CheckGuards() const {
  const uint8_t* b = buffer_.data();
  for (size_t i = 0; i < kGuard; ++i)
    if (b[i] != kGuardByte || b[buffer_.size() - 1 - i] != kGuardByte) return false;
  size_t rowBytes = size_t(img_.Width) * bpp_;
  for (int y = 0; y < img_.Height; ++y) {
    const uint8_t* row = b + kGuard + size_t(y) * base_.Pitch;
    for (size_t i = rowBytes; i < size_t(base_.Pitch); ++i)
      if (row[i] != kGuardByte) return false;
  }
  return true;
}

std::vector<uint8_t> GuardedSurface::Snapshot() {
  size_t rowBytes = size_t(img_.Width) * bpp_;
  std::vector<uint8_t> out(rowBytes * img_.Height);
  for (int y = 0; y < img_.Height; ++y) std::memcpy(&out[rowBytes * y], pixel(0, y), rowBytes);
  return out;
}

void GuardedSurface::Restore(const std::vector<uint8_t>& snap) {
  size_t rowBytes = size_t(img_.Width) * bpp_;
  for (int y = 0; y < img_.Height; ++y) std::memcpy(pixel(0, y), &snap[rowBytes * y], rowBytes);
}

std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                            int width, int bytesPerPixel) {
  if (a.size() != b.size()) return "sizes differ";
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) {
      size_t px = i / bytesPerPixel;
      std::ostringstream s;
      s << (px % width) << "," << (px / width) << ": ";
      for (int k = 0; k < bytesPerPixel; ++k) s << std::hex << int(a[px * bytesPerPixel + k]) << " ";
      s << "vs ";
      for (int k = 0; k < bytesPerPixel; ++k) s << std::hex << int(b[px * bytesPerPixel + k]) << " ";
      return s.str();
    }
  }
  return "";
}

void GuardedSurface::BuildRunMap() {
  runMap_.assign(size_t(base_.Width + 5) * base_.Height, 0xEE);
  uint8_t* out = runMap_.data();
  for (int y = 0; y < base_.Height; ++y) {
    int x = 0;
    while (x < base_.Width) {
      auto kindAt = [&](int px) -> int {
        uint32_t v = get(px, y);
        if (base_.PaletteFlag) return v == base_.TransColor ? 0 : 1;
        if (!base_.AlphaFlag) return v == base_.TransColor ? 0 : 1;
        uint32_t a = base_.Format == 0 ? (v >> 16) & 0xFF : v >> 24;
        return a == 0 ? 0 : (a == 255 ? 1 : 2);
      };
      int kind = kindAt(x);
      int n = 1;
      while (x + n < base_.Width && n < 64 && kindAt(x + n) == kind) ++n;
      *out++ = static_cast<uint8_t>((kind << 6) | (n - 1));
      x += n;
    }
    *out++ = 192;
  }
  base_.RunMap = runMap_.data();
  base_.RunMapValid = 1;
}

MEMIMG GuardedSurface::View(int x, int y, int w, int h) {
  MEMIMG v = img_;
  v.Width = w;
  v.Height = h;
  v.Pixels = pixel(x, y);
  return v;
}
