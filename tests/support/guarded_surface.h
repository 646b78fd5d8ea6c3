// Test surfaces inside guard bands.
//
// A GuardedSurface owns a MEMIMG (record and body built here, independent of the engine's
// creators) whose pixel rows sit inside a buffer with guard bytes before the first row, after the
// last row and in each row's padding past width * bytes per pixel. CheckGuards() tells whether any
// of them changed. Pixels are random from a seed, so a failing case replays alone.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <qzlib/soft/memimg.h>

struct SurfaceDesc {
  int32_t width = 16;
  int32_t height = 16;
  int32_t format = MEMIMG_FORMAT_XRGB8;  // 0 = 5:6:5, 1 = X8R8G8B8, 2 = 8-bit, 3 = 16-bit channel
  bool palette = false;                  // 1-byte indices into a palette
  bool alpha = false;                    // 4-byte pixels carrying alpha
  int32_t extraPitch = 8;                // bytes of row padding (guarded)
  uint32_t transColor = 0;
};

class GuardedSurface {
 public:
  GuardedSurface(const SurfaceDesc& desc, uint32_t seed);
  GuardedSurface(const GuardedSurface&) = delete;
  GuardedSurface& operator=(const GuardedSurface&) = delete;

  MEMIMG* img() { return &img_; }
  MemImgBase* base() { return &base_; }
  int bytesPerPixel() const { return bpp_; }
  uint8_t* pixel(int x, int y) { return img_.Pixels + size_t(y) * base_.Pitch + size_t(x) * bpp_; }
  uint32_t get(int x, int y);            // the pixel as a 1-, 2- or 4-byte value
  void set(int x, int y, uint32_t v);
  void fillRandom(uint32_t seed);        // random pixels (and random palette when palettised)
  void fill(uint32_t v);
  // The palette block (2048 bytes; first table in the first 1024) or null.
  uint8_t* palette() { return base_.Palette; }

  // True when every guard byte still holds its pattern.
  bool CheckGuards() const;
  // Copy of the pixels (rows without padding), for comparisons.
  std::vector<uint8_t> Snapshot();
  // Restores pixels from a Snapshot.
  void Restore(const std::vector<uint8_t>& snap);
  // Builds a run map of the current pixels (format 0 or 1 bodies) in a buffer of (width + 5) x
  // height bytes owned here, and marks it valid: per row, runs of at most 64 pixels of kind skip
  // (index or whole pixel equal to the key, or alpha 0), opaque (alpha 255, or not the key) and
  // translucent (alpha 1..254), then the end byte 192.
  void BuildRunMap();
  // A record viewing the rectangle (x, y, w, h) of this surface's body (no reference counted).
  MEMIMG View(int x, int y, int w, int h);

 private:
  static constexpr size_t kGuard = 64;
  MEMIMG img_{};
  MemImgBase base_{};
  PIXELFORMAT fmt_{};
  int bpp_ = 4;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> paletteBlock_;
  std::vector<uint8_t> runMap_;
};

// First differing pixel of two snapshots as "x,y: a vs b", or "" when equal.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                            int width, int bytesPerPixel);
