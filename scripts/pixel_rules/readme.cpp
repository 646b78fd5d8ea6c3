// The README's pictures, worked out by the page's rules (the values of its rule paragraphs are
// examples: examples_readme.cpp).
// pixel_rules CANVAS SPRITE: the picture that the README's MEMIMG block saves, one pixel of each
// thing it draws; pixel_rules MODEL: the replay block's picture shows more than its background.
#include <cstdio>

#include <qzlib/qzlib.h>

#include "page_model.h"

namespace page {

namespace {

uint32_t PixelAt(const BASEIMAGE& image, int x, int y, int* alpha = nullptr) {
  int r = 0, g = 0, b = 0, a = 0;
  GetPixelBaseImage(&image, x, y, &r, &g, &b, &a);
  if (alpha) *alpha = a;
  return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
}

// d after one visit of a 32-bit flat drawer in mode at p with colour c.
uint32_t Flat(Drawer drawer, int mode, int p, uint32_t c, uint32_t d) {
  Visit(Call{.drawer = drawer, .mode = mode, .p = p, .source = kFlat, .color = c}, d, 0, 0);
  return d & 0xFFFFFF;
}

}  // namespace

int CheckReadmePictures(int argc, char** argv) {
  if (argc > 3 || InitLibrary() != 0) return 2;
  BASEIMAGE canvas{}, sprite{};
  if (CreateBaseImageToMem(argv[1], nullptr, 0, 0, &canvas, 0) != 0 ||
      (argc == 3 && CreateBaseImageToMem(argv[2], nullptr, 0, 0, &sprite, 0) != 0))
    return std::fprintf(stderr, "pixel_rules: cannot read %s\n", argv[argc - 1]), 2;
  if (argc == 2) {  // the model over the replay block's background, 0x303844
    int drawn = 0;
    for (int y = 0; y < canvas.Height; ++y)
      for (int x = 0; x < canvas.Width; ++x) drawn += PixelAt(canvas, x, y) != 0x303844;
    std::printf("  the model covers %d of %d pixels\n", drawn, canvas.Width * canvas.Height);
    ReleaseBaseImage(&canvas);
    EndLibrary();
    return drawn * 100 >= canvas.Width * canvas.Height ? 0 : 1;
  }
  // A sprite pixel drawn by the plain blit at (200, 150), transparent flag 1, whole and
  // unclipped (its run map), over `under`.
  auto spritePixel = [&](int x, int y, uint32_t under) {
    int a;
    const uint32_t s = PixelAt(sprite, x, y, &a);
    Visit(Call{.drawer = kPlainRuns, .source = kAlpha, .trans = true}, under, s | uint32_t(a) << 24, 0);
    return under & 0xFFFFFF;
  };
  const uint32_t back = 0x203040, circle = Flat(kShape, 1, 128, 0x40C0FF, back);
  const struct {
    const char* what;
    int x, y;
    uint32_t want;
  } pixels[] = {
      {"background", 5, 5, back},
      {"box, NOBLEND", 60, 35, Flat(kBox, 0, 255, 0xFF8000, back)},
      {"flat triangle, NOBLEND", 50, 100, Flat(kFlatPolygon, 0, 255, 0x30C060, back)},
      {"circle, ALPHA 128", 130, 120, circle},
      {"line, ALPHA 128", 0, 239, Flat(kLine, 1, 128, 0xFFFFFF, back)},
      {"line, ADD 255", 270, 200, Flat(kLine, 2, 255, 0xF0A060, back)},
      {"sprite, alpha 255", 231, 160, spritePixel(31, 10, back)},
      {"sprite, alpha 197", 224, 181, spritePixel(24, 31, back)},
      {"sprite, alpha 0, over the circle", 200, 160, spritePixel(0, 10, circle)},
  };
  int wrong = 0;
  for (const auto& p : pixels) {
    const uint32_t got = PixelAt(canvas, p.x, p.y);
    wrong += got != p.want;
    std::printf("  %-33s (%3d, %3d): %06X, the rules give %06X%s\n", p.what, p.x, p.y, got, p.want,
                got == p.want ? "" : "  WRONG");
  }
  ReleaseBaseImage(&canvas);
  ReleaseBaseImage(&sprite);
  EndLibrary();
  return wrong ? 1 : 0;
}

}  // namespace page
