// Test surfaces for the pixel-rules program: a MEMIMG over pixels of our own that sit inside
// guard bytes (before the first row, after the last and in each row's padding), filled from a
// seed so that one case replays alone. Built through the public API only.
#pragma once
#include <cstdint>
#include <vector>

#include <qzlib/qzlib.h>

namespace page {

struct SurfaceKind {
  int width = 32, height = 32;
  int format = 1;        // 0 16-bit 5:6:5, 1 32-bit, 2 8-bit (blend graphs)
  bool palette = false;  // 1-byte indices
  bool alpha = false;
  uint32_t key = 0;      // colour key
  int pad = 12;          // bytes after each row, not to be touched (0: rows back to back)
  int offset = 0;        // where the first pixel lies past a 32-byte boundary, in bytes
};

class Surface {
 public:
  explicit Surface(const SurfaceKind& kind);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  MEMIMG* img() { return &img_; }
  const SurfaceKind& kind() const { return kind_; }
  int bytes() const { return bytes_; }  // per pixel
  uint32_t Get(int x, int y) const;     // the pixel as stored (1, 2 or 4 bytes)
  void Set(int x, int y, uint32_t v);
  // Random pixels from seed. Keyed sources get a share of pixels equal to the key and a share of
  // near misses: 32-bit words equal to it in B, G, R with another fourth byte, 16-bit colours
  // equal to its low 16 bits (for a key above 0xFFFF the only ones close to it). Palettised ones
  // get a random palette and a share of indices equal to the key's low byte; alpha sources a
  // share of alpha 0 and 255. longRuns: those shares come in stretches of up to 600 pixels (and
  // of 1 to 8), so that a run map holds runs that fill vectors, and wide rows long segments.
  void Fill(uint32_t seed, bool longRuns = false);
  void FillWith(uint32_t v);
  // Palette entry i as stored (32-bit word or 5:6:5 value); the entries the Call points at.
  const uint32_t* Palette() const { return palette_.data(); }
  void SetPalette(int i, uint32_t entry);
  // Uploads the pixels through BltBaseImageToMemImg so that the body's run map is built (the
  // surface must be made with accel); false if the upload failed.
  bool UploadWhole();
  bool GuardsIntact() const;
  std::vector<uint32_t> Pixels() const;  // row by row

 private:
  SurfaceKind kind_;
  int bytes_ = 4, pitch_ = 0;
  static constexpr int kGuard = 64;
  std::vector<uint8_t> buffer_;
  size_t lead_ = 0;  // guard bytes before the first row (kGuard or more)
  std::vector<uint32_t> palette_;
  MEMIMG img_{};
  uint8_t* first_ = nullptr;
};

// DrawPolygonMemImg of a triangle given as the page gives one: x, y, u, v per corner.
void DrawTriangle(MEMIMG* dst, const MEMIMG* src, const int (*vertices)[4], int trans,
                  const MEMIMG* graph, uint32_t colour);

}  // namespace page
