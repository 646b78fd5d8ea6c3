#include "surface.h"

#include <cstring>
#include <random>

namespace page {

namespace {
constexpr uint8_t kGuardByte = 0xA5;
}

Surface::Surface(const SurfaceKind& kind) : kind_(kind) {
  bytes_ = kind.format == 2 ? 1 : kind.palette ? 1 : kind.format == 1 || kind.alpha ? 4 : 2;
  pitch_ = kind.width * bytes_ + kind.pad;  // the padding: guard bytes too
  // Room to put the first pixel kind.offset bytes past a 32-byte boundary, guard bytes before.
  buffer_.assign(size_t(kGuard) * 2 + 32 + size_t(kind.offset) + size_t(pitch_) * kind.height,
                 kGuardByte);
  const uintptr_t at = reinterpret_cast<uintptr_t>(buffer_.data()) + kGuard;
  lead_ = size_t(kGuard) + (32 - at % 32) % 32 + size_t(kind.offset);
  first_ = buffer_.data() + lead_;
  palette_.assign(256, 0);
  InitializeMemImg(&img_, kind.width, kind.height, pitch_, kind.key, kind.format,
                   kind.palette ? 1 : 0, kind.alpha ? 1 : 0, 1, first_);
  for (int y = 0; y < kind.height; ++y)
    std::memset(first_ + size_t(y) * pitch_, 0, size_t(kind.width) * bytes_);
}

Surface::~Surface() { TerminateMemImg(&img_); }

uint32_t Surface::Get(int x, int y) const {
  uint32_t v = 0;
  std::memcpy(&v, first_ + size_t(y) * pitch_ + size_t(x) * bytes_, size_t(bytes_));
  return v;
}

void Surface::Set(int x, int y, uint32_t v) {
  std::memcpy(first_ + size_t(y) * pitch_ + size_t(x) * bytes_, &v, size_t(bytes_));
}

void Surface::SetPalette(int i, uint32_t entry) {
  palette_[size_t(i)] = entry;
  uint8_t* table = img_.Base->Palette;
  if (!table) return;
  if (kind_.format == 0) {
    const uint16_t e = uint16_t(entry);
    std::memcpy(table + 2 * i, &e, 2);
    std::memcpy(table + 1024 + 2 * i, &e, 2);
  } else {
    std::memcpy(table + 4 * i, &entry, 4);
    std::memcpy(table + 1024 + 4 * i, &entry, 4);
  }
}

void Surface::Fill(uint32_t seed, bool longRuns) {
  std::mt19937 rng(seed);
  const uint32_t colourMask = kind_.format == 0 ? 0xFFFF : 0xFFFFFFFF;
  if (kind_.palette) {
    for (int i = 0; i < 256; ++i) SetPalette(i, uint32_t(rng()) & colourMask);
    img_.Base->PaletteCount = 256;
  }
  // pick 0: the key (alpha 0), 1: a near miss (alpha 255), else any value.
  int pick = 0, left = 0;
  for (int y = 0; y < kind_.height; ++y)
    for (int x = 0; x < kind_.width; ++x) {
      uint32_t v = uint32_t(rng());
      if (!longRuns) {
        pick = int(rng() % 8);
      } else if (left-- <= 0) {
        pick = int(rng() % 8);
        left = rng() % 2 ? int(rng() % 8) : int(rng() % 600);
      }
      if (kind_.format == 2 || kind_.palette) {
        v &= 0xFF;
        if (kind_.palette && pick <= 1) v = kind_.key & 0xFF;
      } else if (kind_.alpha) {
        const uint32_t a = pick == 0 ? 0 : pick == 1 ? 255 : (v >> 24);
        v = kind_.format == 1 ? (v & 0xFFFFFF) | a << 24 : (v & 0xFFFF) | a << 16 | (v & 0xFF000000);
      } else if (pick == 0) {
        v = kind_.key & colourMask;
      } else if (pick == 1) {  // 16-bit: the key's low 16 bits; 32-bit: another fourth byte
        const uint32_t fourth = (kind_.key >> 24) + 1 + (v >> 24) % 255;
        v = kind_.format == 0 ? kind_.key & 0xFFFF : (kind_.key & 0xFFFFFF) | (fourth & 0xFF) << 24;
      } else {
        v &= colourMask;
      }
      Set(x, y, v);
    }
  MemImgMarkPixelsChanged(&img_);
}

void Surface::FillWith(uint32_t v) {
  for (int y = 0; y < kind_.height; ++y)
    for (int x = 0; x < kind_.width; ++x) Set(x, y, v);
  MemImgMarkPixelsChanged(&img_);
}

bool Surface::UploadWhole() {
  // The pixels as an image of the surface's own format; the upload copies them back unchanged
  // and builds the run map over them.
  BASEIMAGE image{};
  image.ColorData = *GetMemImgPixelFormat(kind_.format, kind_.alpha, kind_.palette);
  if (kind_.palette)
    for (int i = 0; i < 256; ++i) {
      const uint32_t e = palette_[size_t(i)];
      if (kind_.format == 0)
        image.ColorData.Palette[i] = COLOR_U8{uint8_t((e & 0x1F) << 3), uint8_t((e >> 5 & 0x3F) << 2),
                                              uint8_t((e >> 11) << 3), 0};
      else
        image.ColorData.Palette[i] = COLOR_U8{uint8_t(e), uint8_t(e >> 8), uint8_t(e >> 16), 0};
    }
  std::vector<uint8_t> copy(size_t(pitch_) * kind_.height);
  std::memcpy(copy.data(), first_, copy.size());
  image.Width = kind_.width;
  image.Height = kind_.height;
  image.Pitch = pitch_;
  image.GraphData = copy.data();
  const int result = BltBaseImageToMemImg(&image, nullptr, &img_, 0, 0, kind_.width, kind_.height,
                                          0, 0, 0);
  if (kind_.palette) {  // the upload rebuilds the palette from the image's entries
    const uint8_t* table = img_.Base->Palette;
    for (int i = 0; i < 256; ++i) {
      uint32_t e = 0;
      std::memcpy(&e, table + (kind_.format == 0 ? 2 : 4) * i, kind_.format == 0 ? 2 : 4);
      palette_[size_t(i)] = e;
    }
  }
  return result >= 0 && img_.Base->RunMapValid == 1;
}

bool Surface::GuardsIntact() const {
  // Before the first row and after the last one (the last row's padding included).
  const size_t end = lead_ + size_t(pitch_) * kind_.height;
  for (size_t i = 0; i < lead_; ++i)
    if (buffer_[i] != kGuardByte) return false;
  for (size_t i = end; i < buffer_.size(); ++i)
    if (buffer_[i] != kGuardByte) return false;
  for (int y = 0; y < kind_.height; ++y)
    for (int i = kind_.width * bytes_; i < pitch_; ++i)
      if (first_[size_t(y) * pitch_ + size_t(i)] != kGuardByte) return false;
  return true;
}

std::vector<uint32_t> Surface::Pixels() const {
  std::vector<uint32_t> out;
  out.reserve(size_t(kind_.width) * kind_.height);
  for (int y = 0; y < kind_.height; ++y)
    for (int x = 0; x < kind_.width; ++x) out.push_back(Get(x, y));
  return out;
}

void DrawTriangle(MEMIMG* dst, const MEMIMG* src, const int (*vertices)[4], int trans,
                  const MEMIMG* graph, uint32_t colour) {
  MemImgVertex corners[3];
  for (int i = 0; i < 3; ++i)
    corners[i] = {vertices[i][0], vertices[i][1], vertices[i][2], vertices[i][3]};
  DrawPolygonMemImg(dst, src, corners, trans, graph, colour);
}

}  // namespace page
