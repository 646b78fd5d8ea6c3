// readme_pixels CANVAS SPRITE: checks the picture that the README's MEMIMG block saves, one
// pixel of each thing it draws, against the value that the block's colours and the README's
// blend rules give, worked out here from those rules. Exit status 0 when every pixel agrees.
// readme_pixels MODEL: checks that the replay block's picture shows more than its background.
#include <cmath>
#include <cstdio>

#include <qzlib/qzlib.h>

namespace {

using Rgb = unsigned;  // 0x00RRGGBB
int Channel(Rgb c, int shift) { return int(c >> shift) & 255; }

// The weighted blend: each channel d' = d + floor((x - d) * w / 256^n).
Rgb Blend(Rgb d, Rgb x, long long w, int n) {
  Rgb out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const long long dc = Channel(d, shift), xc = Channel(x, shift);
    out |= Rgb(dc + std::floor(double((xc - dc) * w) / std::pow(256.0, n))) << shift;
  }
  return out;
}

// ADD: the colour scaled by p / 255, added; blue held at 255, green and red summed on their
// upper seven bits, with the lowest bit of either and the carry out of the channel below.
Rgb Add(Rgb d, Rgb c, int p) {
  Rgb out = 0;
  int carry = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int dc = Channel(d, shift), sc = Channel(c, shift) * p / 255;
    const int sum = shift == 0 ? dc + sc : 2 * ((dc >> 1) + (sc >> 1));
    const int low = shift == 0 ? 0 : carry | (dc & 1) | (sc & 1);
    carry = sum > 255;
    out |= Rgb(carry ? 255 : sum + low) << shift;
  }
  return out;
}

Rgb PixelAt(const BASEIMAGE& image, int x, int y, int* alpha = nullptr) {
  int r = 0, g = 0, b = 0, a = 0;
  GetPixelBaseImage(&image, x, y, &r, &g, &b, &a);
  if (alpha) *alpha = a;
  return Rgb(r) << 16 | Rgb(g) << 8 | Rgb(b);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3 || InitLibrary() != 0) return 2;
  BASEIMAGE canvas{}, sprite{};
  if (CreateBaseImageToMem(argv[1], nullptr, 0, 0, &canvas, 0) != 0 ||
      (argc == 3 && CreateBaseImageToMem(argv[2], nullptr, 0, 0, &sprite, 0) != 0))
    return std::fprintf(stderr, "readme_pixels: cannot read %s\n", argv[argc - 1]), 2;
  if (argc == 2) {  // the model over the replay block's background, 0x303844
    int drawn = 0;
    for (int y = 0; y < canvas.Height; ++y)
      for (int x = 0; x < canvas.Width; ++x) drawn += PixelAt(canvas, x, y) != 0x303844;
    std::printf("  the model covers %d of %d pixels\n", drawn, canvas.Width * canvas.Height);
    ReleaseBaseImage(&canvas);
    EndLibrary();
    return drawn * 100 >= canvas.Width * canvas.Height ? 0 : 1;
  }
  // A sprite pixel drawn by the plain blit at (200, 150), transparent flag 1, over `under`.
  auto spritePixel = [&](int x, int y, Rgb under) {
    int a;
    const Rgb s = PixelAt(sprite, x, y, &a);
    return a == 0 ? under : a == 255 ? s : Blend(under, s, a, 1);
  };
  const Rgb back = 0x203040, circle = Blend(back, 0x40C0FF, 128, 1);
  const struct { const char* what; int x, y; Rgb want; } pixels[] = {
      {"background", 5, 5, back},
      {"box, NOBLEND", 60, 35, 0xFF8000},
      {"flat triangle, NOBLEND", 50, 100, 0x30C060},
      {"circle, ALPHA 128", 130, 120, circle},
      {"line, ALPHA 128", 0, 239, Blend(back, 0xFFFFFF, 128, 1)},
      {"line, ADD 255", 270, 200, Add(back, 0xF0A060, 255)},
      {"sprite, alpha 255", 231, 160, spritePixel(31, 10, back)},
      {"sprite, alpha 197", 224, 181, spritePixel(24, 31, back)},
      {"sprite, alpha 0, over the circle", 200, 160, spritePixel(0, 10, circle)},
  };
  int wrong = 0;
  for (const auto& p : pixels) {
    const Rgb got = PixelAt(canvas, p.x, p.y);
    wrong += got != p.want;
    std::printf("  %-33s (%3d, %3d): %06X, the rules give %06X%s\n", p.what, p.x, p.y, got, p.want,
                got == p.want ? "" : "  WRONG");
  }
  ReleaseBaseImage(&canvas);
  ReleaseBaseImage(&sprite);
  EndLibrary();
  return wrong ? 1 : 0;
}
