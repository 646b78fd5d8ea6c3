// The worked values and examples of docs/pixel-rules.md's rules, up to the 16-bit ones
// (examples_rules16.cpp): what a drawer reads and the 32-bit destinations. Each quote is drawn
// through the engine and compared with the page's rules; the helpers serve every rules example
// (examples_rules.h).
#include "examples_rules.h"

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "surface.h"

namespace page {

namespace {

// The 4 x 4 destination's pixel (1, 1) is drawn by every drawer below: the 2 x 2 source at
// (1, 1), stretched to (1, 1, 4, 4), centred on (1, 1), or the triangle (0, 0), (4, 0), (0, 4).
const int kTriangle[3][4] = {{0, 0, 0, 0}, {4, 0, 2, 0}, {0, 4, 0, 2}};

void SetTint(uint32_t bright) {
  SetDrawBright(int(bright >> 16 & 255), int(bright >> 8 & 255), int(bright & 255));
}

std::string Label(const Quote& q, const char* how, const Call& call) {
  return std::string(q.label()) + " [" + how + " " + DrawerName(call.drawer) + "]";
}

}  // namespace

uint32_t Drawn(const Call& call, uint32_t dst, uint32_t src, int w) {
  const bool palette = call.source == kPalette;
  Surface d(SurfaceKind{4, 4, call.format, false, false, 0});
  Surface s(SurfaceKind{2, 2, call.format, palette, call.source == kAlpha, call.key});
  Surface g(SurfaceKind{2, 2, 2, false, false, 0});
  d.FillWith(dst);
  if (palette) s.SetPalette(1, src);
  s.FillWith(palette ? 1 : src);
  g.FillWith(uint32_t(w < 0 ? 0 : w));
  const MEMIMG* graph = w < 0 ? nullptr : g.img();
  if (graph) SetBlendGraph(-1, 128, 255);
  SetDrawBlendMode(call.mode, call.p);
  SetTint(call.bright);
  SetDrawArea(0, 0, 4, 4);
  const int trans = call.trans ? 1 : 0;
  const RECT stretch{1, 1, 4, 4}, box{1, 1, 2, 2};
  switch (call.drawer) {
    case kPlainRuns: s.UploadWhole(); [[fallthrough]];
    case kPlain: DrawMemImg(d.img(), s.img(), 1, 1, trans, graph); break;
    case kStretch: DrawExtendMemImg(d.img(), s.img(), &stretch, trans, graph); break;
    case kRota: DrawRotaMemImg(d.img(), s.img(), 1, 1, 0.0f, 1.0f, trans, 0, graph); break;
    case kPolygon: DrawTriangle(d.img(), s.img(), kTriangle, trans, graph, 0); break;
    case kFlatPolygon: DrawTriangle(d.img(), nullptr, kTriangle, 0, nullptr, src); break;
    case kPixel: DrawPixelMemImg(d.img(), 1, 1, src); break;
    case kBox: DrawFillBoxMemImg(d.img(), &box, src); break;
    case kLine: DrawLineMemImg(d.img(), 1, 1, 2, 1, src); break;
    case kShape: DrawCircleMemImg(d.img(), 1, 1, 0, src, 1); break;  // filled, radius 0
    default: break;
  }
  return d.Get(1, 1);
}

uint32_t Modelled(const Call& call, uint32_t dst, uint32_t src, int w) {
  uint32_t entries[256] = {};
  entries[1] = src;
  Call c = call;
  c.graph = w >= 0;
  c.palette = entries;
  c.color = src;
  Visit(c, dst, c.source == kPalette ? 1 : src, w);
  return dst;
}

void Expect(const Quote& q, Report& r, const Call& call, uint32_t dst, uint32_t src, uint32_t want,
            int w) {
  const uint32_t drawn = Drawn(call, dst, src, w), model = Modelled(call, dst, src, w);
  r.Compare(drawn == want, Label(q, "drawn by", call).c_str(), 1, 1, drawn, want);
  r.Compare(model == want, Label(q, "the rules of", call).c_str(), 1, 1, model, want);
}

void ExpectByte(const Quote& q, Report& r, const Call& call, uint32_t dst, uint32_t src, int c, int want) {
  const int drawn = ByteOf(Drawn(call, dst, src), c), model = ByteOf(Modelled(call, dst, src), c);
  r.Compare(drawn == want, Label(q, "drawn by", call).c_str(), c, 0, uint32_t(drawn), uint32_t(want));
  r.Compare(model == want, Label(q, "the rules of", call).c_str(), c, 0, uint32_t(model), uint32_t(want));
}

void ExpectIn(const Quote& q, Report& r, std::initializer_list<Drawer> drawers, Call call,
              uint32_t dst, uint32_t src, uint32_t want, int w) {
  for (Drawer d : drawers) {
    call.drawer = d;
    Expect(q, r, call, dst, src, want, w);
  }
}

void Row(const Quote& q, Report& r, const Call& call, int w) {
  Expect(q, r, call, q.Hex(0), q.Hex(1), q.Hex(2), w);
}

void Pairs(const Quote& q, Report& r, const Call& call, Formula formula) {
  std::mt19937 rng(uint32_t(call.drawer * 131 + call.mode * 17 + call.p + call.format));
  const uint32_t mask = call.format == 0 ? 0xFFFF : 0xFFFFFFFF;
  for (int i = 0; i < 48; ++i) {
    const uint32_t S = uint32_t(rng()) & mask, Dw = uint32_t(rng()) & mask;
    Expect(q, r, call, Dw, S, formula(q, S, Dw));
  }
}

namespace {

// ---- What a drawer reads ------------------------------------------------------------------------

// The weight of every byte under SetBlendGraph(-1, border, range), drawn: NOBLEND of black over
// white through a blend graph of the bytes 0 to 255 leaves 255 - w in each channel.
std::vector<int> DrawnWeights(int border, int range) {
  Surface d(SurfaceKind{256, 1, 1, false, false, 0}), s(SurfaceKind{256, 1, 1, false, false, 0});
  Surface g(SurfaceKind{256, 1, 2, false, false, 0});
  d.FillWith(0xFFFFFF);
  for (int x = 0; x < 256; ++x) g.Set(x, 0, uint32_t(x));
  SetBlendGraph(-1, border, range);
  SetDrawBlendMode(0, 255);
  SetTint(0xFFFFFF);
  SetDrawArea(0, 0, 256, 1);
  DrawMemImg(d.img(), s.img(), 0, 0, 0, g.img());
  std::vector<int> w;
  for (int x = 0; x < 256; ++x) w.push_back(255 - ByteOf(d.Get(x, 0), 0));
  return w;
}

// The weights of bytes first..last under (border, range), drawn and by the page's formula.
void ExpectWeights(const Quote& q, Report& r, int border, int range, int first, int last, int want) {
  const std::vector<int> drawn = DrawnWeights(border, range);
  for (int b = first; b <= last; ++b) {
    const int w = want < 0 ? b : want;  // -1: each byte its own value
    r.Compare(drawn[size_t(b)] == w, q.label(), b, 0, uint32_t(drawn[size_t(b)]), uint32_t(w));
    r.Compare(GraphWeight(b, border, range) == w, q.label(), b, 0, uint32_t(GraphWeight(b, border, range)),
              uint32_t(w));
  }
}

// The weights that a blit gives source columns 0 .. n - 1 of an n x 1 source through the graph
// `graph`, under SetBlendGraph(-1, 128, 255) (the byte is the weight): NOBLEND of black over white,
// 255 - w left in each channel; -1 for a column not drawn. clip: columns clipped off on the left.
std::vector<int> ColumnWeights(Drawer drawer, Surface& graph, int n, int clip = 0) {
  Surface d(SurfaceKind{2 * n, 2, 1, false, false, 0}), s(SurfaceKind{n, 1, 1, false, false, 0});
  d.FillWith(0xFFFFFF);
  SetBlendGraph(-1, 128, 255);
  SetDrawBlendMode(0, 255);
  SetTint(0xFFFFFF);
  SetDrawArea(clip, 0, 2 * n, 2);
  const RECT twice{0, 0, 2 * n, 1};
  const int corners[8] = {0, 0, n, 0, 0, 1, n, 1};
  int step = 1;  // destination columns per source column
  switch (drawer) {
    case kPlain: DrawMemImg(d.img(), s.img(), 0, 0, 0, graph.img()); break;
    case kStretch: DrawExtendMemImg(d.img(), s.img(), &twice, 0, graph.img()), step = 2; break;
    case kRota: DrawRotaMemImg(d.img(), s.img(), n / 2, 0, 0.0f, 1.0f, 0, 0, graph.img()); break;
    case kPolygon: DrawQuadMemImg(d.img(), s.img(), corners, 0, graph.img()); break;
    default: break;
  }
  std::vector<int> w;
  for (int u = 0; u < n; ++u) {
    const uint32_t v = d.Get(u * step, 0);
    w.push_back(v == 0xFFFFFF ? -1 : 255 - ByteOf(v, 0));
  }
  return w;
}

void ExpectColumn(const Quote& q, Report& r, const std::vector<int>& got, int u, int want) {
  r.Compare(got[size_t(u)] == want, q.label(), u, 0, uint32_t(got[size_t(u)]), uint32_t(want));
}

// A palettised image of one pixel of index 1, whose palette entry 1 is red, green, blue, fourth.
struct PaletteImage {
  BASEIMAGE image{};
  PaletteImage(int red, int green, int blue, int fourth) {
    PIXELFORMAT format{};
    BuildPixelFormatFromMasks(&format, 8, 0xFF0000, 0xFF00, 0xFF, 0);
    format.Palette[1] = COLOR_U8{uint8_t(blue), uint8_t(green), uint8_t(red), uint8_t(fourth)};
    CreateBaseImageOfFormat(1, 1, &format, &image);
    *static_cast<uint8_t*>(image.GraphData) = 1;
  }
  ~PaletteImage() { ReleaseBaseImage(&image); }
};

// The palette entry 1 that an upload of the image gives a palettised MEMIMG of `format`; its
// NOBLEND copy, and its ADD at p = 255, by DrawMemImg over dst (32-bit).
void ExpectPalette(const Quote& q, Report& r) {
  PaletteImage image(int(q.Hex(0)), int(q.Hex(1)), int(q.Hex(2)), int(q.Hex(3)));
  for (int format = 1; format >= 0; --format) {
    Surface s(SurfaceKind{1, 1, format, true, false, 0});
    BltBaseImageToMemImg(&image.image, nullptr, s.img(), 0, 0, 1, 1, 0, 0, 0);
    uint32_t entry = 0;
    std::memcpy(&entry, s.img()->Base->Palette + (format ? 4 : 2), format ? 4 : 2);
    const uint32_t want = q.Hex(format ? 4 : 5);
    r.Compare(entry == want, q.label(), format, 0, entry, want);
    if (format == 0) continue;
    for (int mode : {0, 2}) {
      Surface d(SurfaceKind{1, 1, 1, false, false, 0});
      d.FillWith(q.Hex(6));
      SetDrawBlendMode(mode, 255);
      SetTint(0xFFFFFF);
      SetDrawArea(0, 0, 1, 1);
      DrawMemImg(d.img(), s.img(), 0, 0, 0, nullptr);
      r.Compare(d.Get(0, 0) == q.Hex(mode ? 8 : 7), q.label(), mode, 0, d.Get(0, 0), q.Hex(mode ? 8 : 7));
    }
  }
}

// ---- 32-bit formulas, their constants from the quote -----------------------------------------

uint32_t PackedAdd32(const Quote& q, uint32_t S, uint32_t Dw) {
  S &= 0xFFFFFF;  // the amounts of blue, green and red
  const uint32_t sum = (S & q.Hex(0)) + (Dw & q.Hex(1));
  const uint32_t carry = sum & q.Hex(2);
  return (carry - (carry >> q.Int(3))) | ((S | Dw) & q.Hex(3)) | sum;
}
uint32_t PackedSub32(const Quote& q, uint32_t S, uint32_t Dw) {
  S &= 0xFFFFFF;
  const uint32_t difference = (Dw | q.Hex(0)) - (S & q.Hex(1));
  const uint32_t borrow = difference & q.Hex(2);
  return difference & (borrow - (borrow >> q.Int(3)));
}
// The per-channel table: blue, then green and red, each with the overflow or borrow of the one
// below; the spare byte 1 after a red overflow (ADD), else 0.
uint32_t ChannelAdd32(const Quote&, uint32_t S, uint32_t Dw) {
  const int blue = ByteOf(Dw, 0) + ByteOf(S, 0);
  uint32_t out = uint32_t(blue > 255 ? 255 : blue);
  bool over = blue > 255;
  for (int c = 1; c <= 2; ++c) {
    const int d = ByteOf(Dw, c), A = ByteOf(S, c), half = (d >> 1) + (A >> 1);
    const int v = half >= 128 ? 255 : 2 * half + (((d | A) & 1) || over ? 1 : 0);
    over = half >= 128;
    out |= uint32_t(v) << (8 * c);
  }
  return out | (over ? 1u << 24 : 0);
}
uint32_t ChannelSub32(const Quote& q, uint32_t S, uint32_t Dw) {
  const int blue = ByteOf(Dw, 0) - ByteOf(S, 0);
  uint32_t out = uint32_t(blue < 0 ? 0 : blue);
  bool borrow = blue < 0;
  for (int c = 1; c <= 2; ++c) {
    const int d = ByteOf(Dw, c), A = ByteOf(S, c);
    const bool under = (d >> 1) < (A >> 1);
    out |= uint32_t(under ? 0 : (d | 1) - int(uint32_t(A) & q.Hex(0)) - (borrow ? 1 : 0)) << (8 * c);
    borrow = under;
  }
  return out;
}
// The exact forms: all four bytes, limited to 0..255.
uint32_t Exact32(const Quote&, uint32_t e, uint32_t Dw, int sign) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const int v = ByteOf(Dw, c) + sign * ByteOf(e, c);
    out |= uint32_t(v < 0 ? 0 : v > 255 ? 255 : v) << (8 * c);
  }
  return out;
}
uint32_t Halves32(const Quote& q, uint32_t e, uint32_t Dw) {
  return ((e >> 1) & q.Hex(0)) + ((Dw >> 1) & q.Hex(1));
}

// The three colour bytes red, green, blue of a word as 0x00RRGGBB, with `fourth` above them.
uint32_t Word(uint32_t fourth, uint32_t red, uint32_t green, uint32_t blue) {
  return fourth << 24 | red << 16 | green << 8 | blue;
}

const Call kRota32{.drawer = kRota};
constexpr int kAlphaModes[] = {0, 1, 10, 11};

const ExampleList kReadsAnd32{
    // ---- The symbols: the blend graph that the examples' "w = ..." stands for
    {Doc::kPage,
     "\"w = 200\" is a blend graph whose bytes are 200 under `SetBlendGraph(-1, 128, 255)`, which "
     "weighs each byte by its own value;",
     [](const Quote& q, Report& r) {
       ExpectWeights(q, r, q.Int(3), q.Int(4), 0, 255, -1);
       ExpectWeights(q, r, q.Int(3), q.Int(4), q.Int(1), q.Int(1), q.Int(0));
     }},
    // ---- What a drawer reads
    {Doc::kPage,
     "Examples: border 0 gives 255 for every byte; border 128 with range 200 gives 0 for bytes 0 to "
     "28 and 255 for bytes 228 to 255, and byte 100 weighs 127 − 35 = 92; border 128 with range 255 "
     "gives every byte its own value as its weight.",
     [](const Quote& q, Report& r) {
       for (int range : {0, 200, 255}) ExpectWeights(q, r, q.Int(0), range, 0, 255, q.Int(1));
       ExpectWeights(q, r, q.Int(2), q.Int(3), q.Int(5), q.Int(6), q.Int(4));
       ExpectWeights(q, r, q.Int(2), q.Int(3), q.Int(8), q.Int(9), q.Int(7));
       ExpectWeights(q, r, q.Int(2), q.Int(3), q.Int(10), q.Int(10), q.Int(13));
       r.Compare(256 * q.Int(10) / (q.Int(3) + 1) == q.Int(11) && q.Int(11) - q.Int(12) == q.Int(13),
                 q.label(), 0, 0, uint32_t(q.Int(11) - q.Int(12)), uint32_t(q.Int(13)));
       ExpectWeights(q, r, q.Int(14), q.Int(15), 0, 255, -1);
     }},
    {Doc::kPage,
     "Examples, under `SetBlendGraph(-1, 128, 255)`: a 32-bit blend graph whose row begins with the "
     "pixels 0x40302010 and 0x80706050 weighs source columns 0 to 5 by 16, 32, 48, 64, 80 and 96 in "
     "every blit, and under `DrawMemImg` with 1 column clipped off, columns 1 and 2 by 80 and 96; a "
     "16-bit one whose row begins with 0x2010 and 0x4030 weighs columns 0 to 3 by 16, 32, 48 and 64.",
     [](const Quote& q, Report& r) {
       // ColumnWeights sets SetBlendGraph(-1, 128, 255); the quote pins it.
       Surface g32(SurfaceKind{8, 1, 1, false, false, 0}), g16(SurfaceKind{8, 1, 0, false, false, 0});
       g32.Set(0, 0, q.Hex(0));
       g32.Set(1, 0, q.Hex(1));
       g16.Set(0, 0, q.Hex(2));
       g16.Set(1, 0, q.Hex(3));
       for (Drawer d : {kPlain, kStretch, kRota, kPolygon}) {
         const std::vector<int> w32 = ColumnWeights(d, g32, 8), w16 = ColumnWeights(d, g16, 8);
         for (int u = 0; u <= 5; ++u) ExpectColumn(q, r, w32, u, q.Int(8 + u));
         for (int u = 0; u <= 3; ++u) ExpectColumn(q, r, w16, u, q.Int(24 + u));
       }
       const std::vector<int> clipped = ColumnWeights(kPlain, g32, 8, q.Int(14));
       ExpectColumn(q, r, clipped, q.Int(15), q.Int(17));
       ExpectColumn(q, r, clipped, q.Int(16), q.Int(18));
     }},
    {Doc::kPage,
     "Example: the image entry red 0x12, green 0x34, blue 0x56, fourth byte 0x78 becomes the 32-bit "
     "entry 0x00123456 and the 16-bit entry 0x11AA; `DrawMemImg` of that index over 0x99000000 "
     "writes 0x00123456 in NOBLEND and 0x99123456 in ADD at p = 255.",
     ExpectPalette},

    // ---- Tint and inversion
    {Doc::kPage,
     "Example, tint (128, 128, 128), source 0x12FF8040: t = 0x80 (red), 0x40 (green), 0x20 (blue); "
     "under INVSRC, red M[128][0] = 0x00, green M[128][127] = 0x3F, blue M[128][191] = 0x5F.",
     [](const Quote& q, Report& r) {
       const uint32_t e = q.Hex(0);
       // NOBLEND with the tint on writes t; INVSRC at p = 255 over 255 writes t as well.
       ExpectIn(q, r, {kPlain, kStretch, kRota, kPolygon}, Call{.bright = kTint128}, 0, e,
                Word(0, q.Hex(1), q.Hex(2), q.Hex(3)));
       ExpectIn(q, r, {kPlain, kStretch, kRota, kPolygon}, Call{.mode = 10, .bright = kTint128},
                0xFFFFFF, e, Word(0, q.Hex(4), q.Hex(5), q.Hex(6)));
       for (int c = 0; c < 3; ++c) {  // M[beta][255 - s] of red, green, blue
         const int at = 7 + 3 * c, s = ByteOf(e, 2 - c);
         r.Compare(255 - s == q.Int(at + 1) && M(q.Int(at), q.Int(at + 1)) == q.Int(at + 2), q.label(), c,
                   0, uint32_t(M(q.Int(at), 255 - s)), uint32_t(q.Int(at + 2)));
       }
     }},
    {Doc::kPage,
     "The pixel, box, line, circle and oval drawers tint by floor(s · β / 256) instead (see the "
     "departures): their colour 0x12FF8040 under the same tint gives red 0x7F, green 0x40, blue 0x20.",
     [](const Quote& q, Report& r) {
       ExpectIn(q, r, {kPixel, kBox, kLine, kShape}, Call{.bright = kTint128}, 0, q.Hex(0),
                Word(q.Hex(0) >> 24, q.Hex(1), q.Hex(2), q.Hex(3)));
     }},

    // ---- The transparent flag
    {Doc::kPage,
     "Examples, `DrawRotaMemImg` of the source word 0x00FFFFFF (a = 0) over 0x7F102030 at p = 200: "
     "NOBLEND, ALPHA, INVSRC and MULA keep 0x7F102030; ADD keeps blue, green and red and clears the "
     "spare byte (0x00102030); SUB sets the lowest bit of green and red and clears the spare byte "
     "(0x00112130); MUL writes black and keeps the spare byte (0x7F000000). `DrawMemImg`'s NOBLEND "
     "copies the word instead (0x00FFFFFF: see the departures).",
     [](const Quote& q, Report& r) {
       for (int mode : kAlphaModes)
         Expect(q, r, Call{.drawer = kRota, .mode = mode, .p = 200, .source = kAlpha}, q.Hex(1), q.Hex(0), q.Hex(2));
       for (int mode = 2; mode <= 4; ++mode)
         Expect(q, r, Call{.drawer = kRota, .mode = mode, .p = 200, .source = kAlpha}, q.Hex(1), q.Hex(0),
                q.Hex(size_t(mode + 1)));
       Expect(q, r, Call{.source = kAlpha}, q.Hex(1), q.Hex(0), q.Hex(6));
     }},

    // ---- Weights and the blend
    {Doc::kPage,
     "Example: a = 255 with the flag clear, NOBLEND of the source word 0xFFFFFFFF over 0x00000000 "
     "gives 254 in each channel, 0x00FEFEFE (`DrawMemImg` copies the word instead: 0xFFFFFFFF).",
     [](const Quote& q, Report& r) {
       const Call alpha{.drawer = kRota, .source = kAlpha};
       Expect(q, r, alpha, q.Hex(1), q.Hex(0), q.Hex(2));
       r.Compare(ByteOf(q.Hex(2), 1) == q.Int(3), q.label(), 0, 0, q.Hex(2), uint32_t(q.Int(3)));
       Expect(q, r, Call{.source = kAlpha}, q.Hex(1), q.Hex(0), q.Hex(3));
     }},
    {Doc::kPage,
     "Example: ALPHA p = 128, Dw = 0x33204060, e = 0x00E0A060: green (64 · 256 + 96 · 128) / 256 = "
     "112, red (32 · 256 + 192 · 128) / 256 = 128: 0x33807060 (`DrawMemImg` gives 0x00807060 instead: "
     "its halves, in the departures).",
     [](const Quote& q, Report& r) {
       const uint32_t Dw = q.Hex(0), e = q.Hex(1);
       Expect(q, r, Call{.drawer = kRota, .mode = 1, .p = q.Int(0)}, Dw, e, q.Hex(2));
       Expect(q, r, Call{.mode = 1, .p = q.Int(0)}, Dw, e, q.Hex(3));
       for (int c = 1; c <= 2; ++c) {  // green, then red: d, t - d, p and the byte written
         const int at = c == 1 ? 3 : 9, d = ByteOf(Dw, c);
         const bool same = q.Int(at) == d && q.Int(at + 2) == ByteOf(e, c) - d && q.Int(at + 3) == q.Int(0) &&
                           (q.Int(at) * q.Int(at + 1) + q.Int(at + 2) * q.Int(at + 3)) / q.Int(at + 4) ==
                               q.Int(at + 5) &&
                           ByteOf(q.Hex(2), c) == q.Int(at + 5);
         r.Compare(same, q.label(), c, 0, uint32_t(ByteOf(q.Hex(2), c)), uint32_t(q.Int(at + 5)));
       }
     }},

    // ---- The modes: worked values, DrawRotaMemImg
    {Doc::kPage, "| NOBLEND | 0xAABBCCDD | 0x12345678 | 0x12345678 |",
     [](const Quote& q, Report& r) { Row(q, r, kRota32); }},
    {Doc::kPage, "| NOBLEND, tint (128, 128, 128) | 0xAABBCCDD | 0x12FF8040 | 0xAA804020 |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .bright = kTint128}); }},
    {Doc::kPage, "| NOBLEND, w = 200 | 0x11000000 | 0x00FF8040 | 0x11C76432 |",
     [](const Quote& q, Report& r) { Row(q, r, kRota32, q.Int(0)); }},
    {Doc::kPage, "| ALPHA p = 128 | 0x33204060 | 0x00E0A060 | 0x33807060 (`DrawMemImg`: 0x00807060) |",
     [](const Quote& q, Report& r) {
       Row(q, r, Call{.drawer = kRota, .mode = 1, .p = q.Int(0)});
       Expect(q, r, Call{.mode = 1, .p = q.Int(0)}, q.Hex(0), q.Hex(1), q.Hex(3));
     }},
    {Doc::kPage, "| ADD p = 200 (amounts 200, 100, 50) | 0x7F102030 | 0x00FF8040 | 0x00D88462 |",
     [](const Quote& q, Report& r) {
       Row(q, r, Call{.drawer = kRota, .mode = 2, .p = q.Int(0)});
       for (int c = 0; c < 3; ++c)  // the amounts of red, green, blue: M[p][t]
         r.Compare(M(q.Int(0), ByteOf(q.Hex(1), 2 - c)) == q.Int(1 + c), q.label(), c, 0,
                   uint32_t(M(q.Int(0), ByteOf(q.Hex(1), 2 - c))), uint32_t(q.Int(1 + c)));
     }},
    {Doc::kPage, "| ADD p = 200 | 0x7FF0A0C0 | 0x00FF8040 | 0x01FFFFF2 |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .mode = 2, .p = q.Int(0)}); }},
    {Doc::kPage, "| SUB p = 200 | 0x7FF0A0C0 | 0x00FF8040 | 0x00293D8E |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .mode = 3, .p = q.Int(0)}); }},
    {Doc::kPage, "| MUL | 0x5540C0FF | 0x00FF8040 | 0x553F603F |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .mode = 4}); }},
    {Doc::kPage, "| MUL, w = 128 | 0x5540C0FF | 0x00FF8040 | 0x551F301F |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .mode = 4}, q.Int(0)); }},
    {Doc::kPage, "| INVSRC p = 128 | 0x00406080 | 0x00FF8000 | 0x00206FBF |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .mode = 10, .p = q.Int(0)}); }},
    {Doc::kPage, "| INVSRC p = 255, tint (128, 128, 128) | 0x00000000 | 0x12FF8040 | 0x00003E5E |",
     [](const Quote& q, Report& r) {
       Row(q, r, Call{.drawer = kRota, .mode = 10, .p = q.Int(0), .bright = kTint128});
     }},
    {Doc::kPage, "| MULA p = 128 | 0x5A112233 | 0x00C08040 | 0x5A0E191F |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .mode = 11, .p = q.Int(0)}); }},
    {Doc::kPage, "| ADD p = 200, w = 128, a = 128, flag set | 0x7F102030 | 0x80FF8040 | 0x0041393C |",
     [](const Quote& q, Report& r) {
       Row(q, r, Call{.drawer = kRota, .mode = 2, .p = q.Int(0), .source = kAlpha, .trans = true}, q.Int(1));
     }},
    {Doc::kPage, "| NOBLEND, a = 128, flag set | 0x00000000 | 0x80FFFFFF | 0x007F7F7F |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .source = kAlpha, .trans = true}); }},
    {Doc::kPage, "| NOBLEND, a = 255, flag set | 0x00000000 | 0xFFFFFFFF | 0xFFFFFFFF |",
     [](const Quote& q, Report& r) { Row(q, r, Call{.drawer = kRota, .source = kAlpha, .trans = true}); }},
    {Doc::kPage, "| NOBLEND, a = 255, flag clear | 0x00000000 | 0xFFFFFFFF | 0x00FEFEFE (`DrawMemImg`: 0xFFFFFFFF) |",
     [](const Quote& q, Report& r) {
       Row(q, r, Call{.drawer = kRota, .source = kAlpha});
       Expect(q, r, Call{.source = kAlpha}, q.Hex(0), q.Hex(1), q.Hex(3));
     }},
    {Doc::kPage, "| MUL, a = 0, flag set | 0x7F102030 | 0x00FFFFFF | 0x7F102030 (left) |",
     [](const Quote& q, Report& r) {
       Row(q, r, Call{.drawer = kRota, .mode = 4, .source = kAlpha, .trans = true});
     }},

    // ---- ADD and SUB exactly
    {Doc::kPage,
     "- **Packed ADD:** sum = (S & 0x00FEFEFF) + (Dw & 0x00FEFEFF); carry = sum & 0x01010100; the "
     "word written is (carry − (carry >> 8)) \\| ((S \\| Dw) & 0x00010100) \\| sum.",
     [](const Quote& q, Report& r) { Pairs(q, r, Call{.drawer = kBox, .mode = 2}, PackedAdd32); }},
    {Doc::kPage,
     "- **Packed SUB:** difference = (Dw \\| 0x01010100) − (S & 0xFEFEFEFF); borrow = difference & "
     "0x01010100; the word written is difference & (borrow − (borrow >> 8)).",
     [](const Quote& q, Report& r) { Pairs(q, r, Call{.drawer = kBox, .mode = 3}, PackedSub32); }},
    {Doc::kPage,
     "| ADD | min(255, d + A) | 255 when (d >> 1) + (A >> 1) >= 128; else 2 · ((d >> 1) + (A >> 1)) + "
     "1 if d or A is odd or the channel below overflowed, + 0 otherwise | 1 when red overflowed ((d >> "
     "1) + (A >> 1) >= 128), else 0 |",
     [](const Quote& q, Report& r) { Pairs(q, r, Call{.drawer = kRota, .mode = 2}, ChannelAdd32); }},
    {Doc::kPage,
     "| SUB | max(0, d − A); a borrow when d < A | 0 when (d >> 1) < (A >> 1) (then a borrow); else (d "
     "OR 1) − (A AND 0xFE) − (the borrow of the channel below) | 0 |",
     [](const Quote& q, Report& r) { Pairs(q, r, Call{.drawer = kRota, .mode = 3}, ChannelSub32); }},
    {Doc::kPage,
     "The OR of the lowest bits of d and A into green and red (the term (S \\| Dw) & 0x00010100 above) "
     "is the low-bit OR.",
     [](const Quote& q, Report& r) {  // bit 0 of green and red from the words alone, nothing carried
       const uint32_t S = 0x00010100 & q.Hex(0), Dw = 0;
       Expect(q, r, Call{.drawer = kBox, .mode = 2}, Dw, S, S);
     }},
    {Doc::kPage,
     "Examples, `DrawFillBoxMemImg` at p = 255, whose amounts are its colour's bytes: ADD of green "
     "amount 3 onto green 5, blue not overflowing: 2 · (2 + 1) + 1 = 7 (not 8, which `DrawMemImg`'s "
     "exact ADD at p = 255 gives); blue amount 200 onto 100: 255, and green's lowest bit becomes 1 "
     "(0x00000564 plus 0x000003C8 gives 0x000007FF).",
     [](const Quote& q, Report& r) {
       const Call add{.drawer = kBox, .mode = 2, .p = q.Int(0)};
       const int A = q.Int(1), d = q.Int(2);
       ExpectByte(q, r, add, uint32_t(d) << 8, uint32_t(A) << 8, 1, q.Int(7));
       ExpectByte(q, r, Call{.mode = 2, .p = q.Int(9)}, uint32_t(d) << 8, uint32_t(A) << 8, 1, q.Int(8));
       const int sum = q.Int(3) * (q.Int(4) + q.Int(5)) + q.Int(6);  // 2 · (d >> 1 + A >> 1) + 1
       r.Compare(q.Int(4) == d >> 1 && q.Int(5) == A >> 1 && sum == q.Int(7), q.label(), 0, 0, uint32_t(sum),
                 uint32_t(q.Int(7)));
       ExpectByte(q, r, add, uint32_t(q.Int(11)), uint32_t(q.Int(10)), 0, q.Int(12));
       ExpectByte(q, r, add, uint32_t(q.Int(11)), uint32_t(q.Int(10)), 1, q.Int(13));
       Expect(q, r, add, q.Hex(0), q.Hex(1), q.Hex(2));
       r.Compare(ByteOf(q.Hex(2), 1) % 2 == q.Int(13), q.label(), 0, 0, q.Hex(2), uint32_t(q.Int(13)));
     }},
    {Doc::kPage,
     "SUB of green amount 3 from green 10, blue not borrowing: 11 − 2 = 9 (not 7, which `DrawMemImg`'s "
     "exact SUB gives); a red of 0 with amount 0 comes out 1 (0x00000A00 minus 0x00000300 gives "
     "0x00010900).",
     [](const Quote& q, Report& r) {  // p = 255 from the sentence before, which pins it
       const Call sub{.drawer = kBox, .mode = 3};
       const int A = q.Int(0), d = q.Int(1);
       ExpectByte(q, r, sub, uint32_t(d) << 8, uint32_t(A) << 8, 1, q.Int(4));
       ExpectByte(q, r, Call{.mode = 3}, uint32_t(d) << 8, uint32_t(A) << 8, 1, q.Int(5));
       r.Compare((d | 1) == q.Int(2) && (A & 0xFE) == q.Int(3) && q.Int(2) - q.Int(3) == q.Int(4), q.label(),
                 0, 0, uint32_t(q.Int(2) - q.Int(3)), uint32_t(q.Int(4)));
       ExpectByte(q, r, sub, uint32_t(q.Int(6)) << 16, uint32_t(q.Int(7)) << 16, 2, q.Int(8));
       Expect(q, r, sub, q.Hex(0), q.Hex(1), q.Hex(2));
     }},
    {Doc::kPage,
     "Examples: `DrawMemImg` ADD at p = 255 of 0x303264C8 onto 0x40FAC864 gives 0x70FFFFFF; its SUB of "
     "0x20FF8040 from 0x7FF0A0C0 gives 0x5F002080 (`DrawRotaMemImg`, packed: 0x00002180).",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.mode = 2}, q.Hex(1), q.Hex(0), q.Hex(2));
       Expect(q, r, Call{.mode = 3}, q.Hex(4), q.Hex(3), q.Hex(5));
       Expect(q, r, Call{.drawer = kRota, .mode = 3}, q.Hex(4), q.Hex(3), q.Hex(6));
     }},

    // ---- The spare byte
    {Doc::kPage,
     "Example: NOBLEND with tint (128, 128, 128) over 0x11000000: `DrawFillBoxMemImg` of 0xAAFFFFFF "
     "gives 0xAA7F7F7F (a flat drawer stores the colour's fourth byte), `DrawRotaMemImg` of the source "
     "word 0xAAFFFFFF gives 0x11808080 (kept).",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kBox, .bright = kTint128}, q.Hex(0), q.Hex(1), q.Hex(2));
       Expect(q, r, Call{.drawer = kRota, .bright = kTint128}, q.Hex(0), q.Hex(3), q.Hex(4));
     }},

    // ---- Where the 32-bit drawers depart
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel (every draw that does not walk the run map: see \"The run-map "
     "path\" below) | ALPHA p = 128 without blend graph and tint, source without alpha: the halves, each "
     "byte floor(s / 2) + floor(d / 2) and the spare byte 0, computed as ((e >> 1) & 0x7F7F7F) + ((Dw "
     ">> 1) & 0x7F7F7F) with e untinted | source 0x00010101 over 0xFF010101 gives 0x00000000 (the "
     "blend would keep 0xFF010101) |",
     [](const Quote& q, Report& r) {
       Pairs(q, r, Call{.mode = 1, .p = 128}, Halves32);
       Pairs(q, r, Call{.mode = 1, .p = 128, .source = kPalette, .key = 0x100}, Halves32);
       Expect(q, r, Call{.mode = 1, .p = 128}, q.Hex(3), q.Hex(2), q.Hex(4));
       Expect(q, r, Call{.drawer = kRota, .mode = 1, .p = 128}, q.Hex(3), q.Hex(2), q.Hex(5));
     }},
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel | ADD and SUB at p = 255, no blend graph, tint off, source without "
     "alpha: the exact forms | ADD of 0x303264C8 onto 0x40FAC864 gives 0x70FFFFFF |",
     [](const Quote& q, Report& r) {
       Pairs(q, r, Call{.mode = 2}, [](const Quote& q, uint32_t e, uint32_t Dw) { return Exact32(q, e, Dw, 1); });
       Pairs(q, r, Call{.mode = 3}, [](const Quote& q, uint32_t e, uint32_t Dw) { return Exact32(q, e, Dw, -1); });
       Expect(q, r, Call{.mode = 2}, q.Hex(1), q.Hex(0), q.Hex(2));
     }},
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel | SUB at p = 0 draws nothing, palettised sources too | from a "
     "palettised source, 0x7F102030 stays 0x7F102030 |",
     [](const Quote& q, Report& r) {
       for (Source s : {kPalette, kKeyed, kAlpha})
         Expect(q, r, Call{.mode = 3, .p = 0, .source = s, .key = 0x100}, q.Hex(0), 0x00FFFFFF, q.Hex(1));
     }},
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel | NOBLEND (and ALPHA p = 255) from a source with alpha, flag clear, "
     "no blend graph, tint off: the whole word e is stored, a ignored; with tint or blend graph a weighs "
     "as usual | 0xFFFFFFFF over 0x00000000 gives 0xFFFFFFFF |",
     [](const Quote& q, Report& r) {
       for (int mode : {0, 1}) {
         Expect(q, r, Call{.mode = mode, .source = kAlpha}, q.Hex(1), q.Hex(0), q.Hex(2));
         const Call rota{.drawer = kRota, .mode = mode, .source = kAlpha};
         Expect(q, r, Call{.mode = mode, .source = kAlpha}, q.Hex(1), 0x80FFFFFF, Drawn(rota, q.Hex(1), 0x80FFFFFF, 200), 200);
         Expect(q, r, Call{.mode = mode, .bright = kTint128, .source = kAlpha}, q.Hex(1), 0x80FFFFFF,
                Drawn(Call{.drawer = kRota, .mode = mode, .bright = kTint128, .source = kAlpha}, q.Hex(1), 0x80FFFFFF));
       }
     }},
    {Doc::kPage,
     "| `DrawMemImg` walking the run map (flag 1, the source uploaded whole and unclipped: \"The run-map "
     "path\" below) | the rules with the flag set (a = 0 left, a = 255 without the weight a); no halves "
     "at p = 128; ADD and SUB at p = 255 packed (amounts M[255][t] = t); SUB at p = 0 draws nothing, "
     "palettised sources too | ALPHA p = 128: source 0x00010101 over 0xFF010101 gives 0xFF010101 |",
     [](const Quote& q, Report& r) {
       const Call runs{.drawer = kPlainRuns, .mode = 1, .p = 128, .trans = true};
       Expect(q, r, runs, q.Hex(1), q.Hex(0), q.Hex(2));
       for (int mode : {2, 3})  // packed, as DrawRotaMemImg draws them
         Expect(q, r, Call{.drawer = kPlainRuns, .mode = mode, .trans = true}, 0x7FF0A0C0, 0x20FF8040,
                Drawn(Call{.drawer = kRota, .mode = mode}, 0x7FF0A0C0, 0x20FF8040));
       for (uint32_t e : {0x00FFFFFFu, 0xFFFFFFFFu})  // a = 0 left, a = 255 without the weight a
         Expect(q, r, Call{.drawer = kPlainRuns, .source = kAlpha, .trans = true}, 0x7F102030, e,
                e == 0xFFFFFFFF ? e : 0x7F102030);
     }},
    {Doc::kPage,
     "| `DrawExtendMemImg` at another size or mirrored | SUB at p = 255: the exact form | SUB of "
     "0x20FF8040 from 0x7FF0A0C0 gives 0x5F002080 |",
     [](const Quote& q, Report& r) { Expect(q, r, Call{.drawer = kStretch, .mode = 3}, q.Hex(1), q.Hex(0), q.Hex(2)); }},
    {Doc::kPage,
     "| `DrawExtendMemImg` at another size or mirrored; `DrawRotaMemImg`, turned or not; "
     "`DrawPolygonMemImg` with a source; `DrawQuadMemImg` | SUB at p = 0 from a palettised source draws "
     "with all amounts 0 | 0x7F102030 gives 0x00112130 |",
     [](const Quote& q, Report& r) {
       ExpectIn(q, r, {kStretch, kRota, kPolygon}, Call{.mode = 3, .p = 0, .source = kPalette, .key = 0x100},
                q.Hex(0), 0x00FFFFFF, q.Hex(1));
     }},
    {Doc::kPage,
     "| `DrawPolygonMemImg` without a source | the colour is prepared once: M[β][s] for each of its "
     "colour bytes, the fourth byte kept. Each pixel takes the prepared colour as its e, with no tint, "
     "blend graph, key or alpha: NOBLEND (and ALPHA p = 255) stores the whole of it, fourth byte "
     "included, also with tint on; INVSRC blends toward 255 − t (tinted, then inverted); SUB at p = 0 "
     "draws nothing; ADD and SUB at p = 255 packed | NOBLEND of 0xAAFFFFFF with tint (128, 128, 128) "
     "over 0x11000000 gives 0xAA808080 |",
     [](const Quote& q, Report& r) {
       for (int mode : {0, 1})
         Expect(q, r, Call{.drawer = kFlatPolygon, .mode = mode, .bright = kTint128}, q.Hex(1), q.Hex(0), q.Hex(2));
       Expect(q, r, Call{.drawer = kFlatPolygon, .mode = 3, .p = 0}, q.Hex(1), q.Hex(0), q.Hex(1));
       Pairs(q, r, Call{.drawer = kFlatPolygon, .mode = 2}, [](const Quote&, uint32_t S, uint32_t Dw) {
         return Drawn(Call{.drawer = kRota, .mode = 2}, Dw, S);
       });
     }},
    {Doc::kPage,
     "| `DrawPixelMemImg`, `DrawFillBoxMemImg`, `DrawLineMemImg`, `DrawLinesMemImg`, `DrawCircleMemImg`, "
     "`DrawOvalMemImg` | as `DrawPolygonMemImg` without a source, but each colour byte is tinted to "
     "floor(s · β / 256). `DrawLineMemImg` also draws into a 32-bit destination with alpha, by these "
     "rules, its alpha byte taking the place of the spare byte | NOBLEND of 0xAAFFFFFF with tint (128, "
     "128, 128) over 0x11000000 gives 0xAA7F7F7F. INVSRC at p = 255 with tint (0, 0, 0) over "
     "0x00000000: target 255, result 0x00FEFEFE |",
     [](const Quote& q, Report& r) {
       ExpectIn(q, r, {kPixel, kBox, kLine, kShape}, Call{.bright = kTint128}, q.Hex(1), q.Hex(0), q.Hex(2));
       for (uint32_t colour : {0x12345678u, 0xAAFFFFFFu})
         ExpectIn(q, r, {kPixel, kBox, kLine, kShape}, Call{.mode = 10, .bright = kTint0}, q.Hex(3), colour, q.Hex(4));
     }},
};

}  // namespace

}  // namespace page
