// The README's pictures and values, worked out by the page's rules.
// pixel_rules CANVAS SPRITE: the picture that the README's MEMIMG block saves, one pixel of each
// thing it draws; pixel_rules MODEL: the replay block's picture shows more than its background.
#include <cstdio>

#include "page_model.h"
#include "surface.h"

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
  Call call;
  call.drawer = drawer;
  call.mode = mode;
  call.p = p;
  call.source = kFlat;
  call.color = c;
  Visit(call, d, 0, 0);
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
    Call call;
    call.drawer = kPlainRuns;
    call.mode = 0;
    call.source = kAlpha;
    call.trans = true;
    Visit(call, under, s | uint32_t(a) << 24, 0);
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

// Each value that the README's blend summary states, drawn by the drawer it names (one pixel over
// `under`, 32-bit) and worked out by the page's rules: both must give the README's value.
void CheckReadmeValues(Report& report) {
  const struct {
    const char* what;
    Drawer drawer;
    int mode, p;
    Source source;
    bool trans;
    uint32_t under, source_, want;
  } values[] = {
      {"ALPHA 128 of 0x40C0FF over 0x203040", kBox, 1, 128, kFlat, false, 0x203040, 0x40C0FF, 0x30789F},
      {"a box of 0xFF9F07 under ALPHA 255", kBox, 1, 255, kFlat, false, 0x203040, 0xFF9F07, 0xFF9F07},
      {"an ADD line of 0xF0A060 at 255", kLine, 2, 255, kFlat, false, 0x203040, 0xF0A060, 0xFFD0A0},
      {"a SUB box of 0x000000 at 255", kBox, 3, 255, kFlat, false, 0x203040, 0x000000, 0x213140},
      {"DrawMemImg ALPHA 128 halves", kPlain, 1, 128, kKeyed, false, 0x010101, 0x010101, 0x000000},
      {"DrawMemImg ALPHA 128 on the run map", kPlainRuns, 1, 128, kKeyed, true, 0x010101, 0x010101,
       0x010101},
      {"alpha 255, flag 0, weighs 255/256", kStretch, 0, 255, kAlpha, false, 0x000000, 0xFFFF9F07,
       0xFE9E06},
      {"alpha 0, flag 0, leaves the pixel", kStretch, 0, 255, kAlpha, false, 0x203040, 0x00FF9F07,
       0x203040},
      {"alpha 0, flag 0, MUL turns it black", kStretch, 4, 255, kAlpha, false, 0x203040, 0x00FF9F07,
       0x000000},
      {"alpha 0, flag 1, MUL skips it", kPlain, 4, 255, kAlpha, true, 0x203040, 0x00FF9F07, 0x203040},
      {"plain NOBLEND blit, flag 0, alpha 0 solid", kPlain, 0, 255, kAlpha, false, 0x203040,
       0x00FF9F07, 0x00FF9F07},
      {"the alpha into the spare byte", kPlain, 0, 255, kAlpha, false, 0x203040, 0x7FFF9F07,
       0x7FFF9F07},
  };
  for (const auto& v : values) {
    Call call;
    call.drawer = v.drawer;
    call.mode = v.mode;
    call.p = v.p;
    call.source = v.source;
    call.trans = v.trans;
    call.color = v.source_;
    call.key = 0xFFFFFFFF;  // no source pixel is the key
    // The README gives colours (0xRRGGBB) but for the spare byte's own value.
    const uint32_t shown = v.want > 0xFFFFFF ? 0xFFFFFFFF : 0xFFFFFF;
    uint32_t model = v.under;
    Visit(call, model, v.source_, 0);
    report.Compare((model & shown) == v.want, v.what, 0, 0, model & shown, v.want);

    Surface dst(SurfaceKind{2, 2, 1, false, false, 0});
    Surface src(SurfaceKind{1, 1, 1, false, v.source == kAlpha, 0xFFFFFFFF});
    dst.FillWith(v.under);
    src.FillWith(v.source_);
    SetDrawBlendMode(v.mode, v.p);
    SetDrawBright(255, 255, 255);
    SetDrawArea(0, 0, 2, 2);
    const RECT box{0, 0, 1, 1}, twice{0, 0, 2, 2};
    switch (v.drawer) {
      case kBox: DrawFillBoxMemImg(dst.img(), &box, v.source_); break;
      case kLine: DrawLineMemImg(dst.img(), 0, 0, 1, 0, v.source_); break;
      case kPlainRuns: src.UploadWhole(); [[fallthrough]];
      case kPlain: DrawMemImg(dst.img(), src.img(), 0, 0, v.trans, nullptr); break;
      case kStretch: DrawExtendMemImg(dst.img(), src.img(), &twice, v.trans, nullptr); break;
      default: break;
    }
    const uint32_t got = dst.Get(0, 0) & shown;
    report.Compare(got == v.want, v.what, 0, 0, got, v.want);
  }
}

}  // namespace page
