// The worked values and examples of docs/pixel-rules.md's 16-bit rules ("16-bit surfaces"), each
// drawn through the engine and compared with the page's rules (examples_rules.h).
#include "examples_rules.h"

namespace page {

namespace {

// A 5:6:5 value's channels, and back.
struct Channels {
  int red, green, blue;
};
Channels Split565(uint32_t v) { return {int(v >> 11 & 31), int(v >> 5 & 63), int(v & 31)}; }
uint32_t Join565(int red, int green, int blue) {
  return uint32_t(red) << 11 | uint32_t(green) << 5 | uint32_t(blue);
}

// ---- The packed ADD and SUB, their constants from the quote --------------------------------------

uint32_t PackedAdd16(const Quote& q, uint32_t S, uint32_t Dw) {
  const uint32_t sum = (S & q.Hex(0)) + (Dw & q.Hex(1));
  const uint32_t carry = sum & q.Hex(2);
  return ((carry - (carry >> q.Int(4))) | sum | ((S | Dw) & q.Hex(3))) & ((1u << q.Int(3)) - 1);
}
uint32_t PackedSub16(const Quote& q, uint32_t S, uint32_t Dw) {
  const uint32_t difference = (Dw | q.Hex(0)) - (S & q.Hex(1));
  const uint32_t borrow = difference & q.Hex(2);
  return ((borrow - (borrow >> q.Int(4))) & difference) & ((1u << q.Int(3)) - 1);
}
// The packed ADD without its last term, (S | Dw) & 0x0820.
uint32_t AddWithoutOr16(uint32_t S, uint32_t Dw) {
  const uint32_t sum = (S & 0xF7DEF7DF) + (Dw & 0xF7DEF7DF);
  const uint32_t carry = sum & 0x08210820;
  return ((carry - (carry >> 5)) | sum) & 0xFFFF;
}
// Channel by channel, as the table's right column gives them.
uint32_t ChannelAdd16(const Quote&, uint32_t S, uint32_t Dw) {
  const Channels A = Split565(S), d = Split565(Dw);
  const int blue = A.blue + d.blue, green = (A.green >> 1) + (d.green >> 1), red = (A.red >> 1) + (d.red >> 1);
  const int greenLow = ((A.green | d.green) & 1) | (blue > 31 ? 1 : 0);
  const int redLow = ((A.red | d.red) & 1) | (green > 31 ? 1 : 0);
  return Join565(red > 15 ? 31 : 2 * red + redLow, 2 * (green > 31 ? 31 : green) + greenLow,
                 blue > 31 ? 31 : blue);
}
uint32_t ChannelSub16(const Quote&, uint32_t S, uint32_t Dw) {
  const Channels A = Split565(S), d = Split565(Dw);
  const int green = (d.green >> 1) - (A.green >> 1);
  const int red = (d.red >> 1) < (A.red >> 1) ? 0 : (d.red | 1) - (A.red & 30) - (green < 0 ? 1 : 0);
  return Join565(red, 2 * (green < 0 ? 0 : green), d.blue < A.blue ? 0 : d.blue - A.blue);
}
uint32_t Halves16(const Quote& q, uint32_t e, uint32_t Dw) {
  return ((e >> 1) & q.Hex(0)) + ((Dw >> 1) & q.Hex(1));
}

// A packed row: its formula and its channel-by-channel form, each against the drawn pixels.
void BothForms(const Quote& q, Report& r, const Call& call, Formula packed, Formula channels) {
  Pairs(q, r, call, packed);
  Pairs(q, r, call, channels);
}

// A 16-bit source word with alpha: a in bits 16 to 23 above the colour.
uint32_t WithAlpha(int a, uint32_t colour) { return uint32_t(a) << 16 | colour; }

// A row "| mode | S | Dw | result |".
void RowSD(const Quote& q, Report& r, const Call& call) { Expect(q, r, call, q.Hex(1), q.Hex(0), q.Hex(2)); }
// An ADD row with DrawMemImg's value beside: "| ADD | S | Dw | result (`DrawMemImg`: value) |".
void RowAdd16(const Quote& q, Report& r) {
  RowSD(q, r, Call{.drawer = kBox, .format = 0, .mode = 2});
  Expect(q, r, Call{.format = 0, .mode = 2}, q.Hex(1), q.Hex(0), q.Hex(3));
}

constexpr std::initializer_list<Drawer> kImages = {kPlain, kStretch, kRota, kPolygon};
constexpr std::initializer_list<Drawer> kShifted = {kPixel, kBox, kLine, kShape};
const Call kRota16{.drawer = kRota, .format = 0};
const Call kBoxAdd16{.drawer = kBox, .format = 0, .mode = 2}, kBoxSub16{.drawer = kBox, .format = 0, .mode = 3};

const ExampleList k16{
    // ---- The transparent flag
    {Doc::kPage,
     "| direct colour | skipped when e equals the colour key, compared with the whole 32-bit key (a key "
     "above 0xFFFF skips nothing: 0x11234 does not skip the colour 0x1234); one exception: the plain "
     "copy of `DrawExtendMemImg` (NOBLEND or ALPHA at 255, no blend graph, tint off) compares e with "
     "the key's low 16 bits, so there the key 0x11234 skips the colour 0x1234 | nothing skipped |",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kRota, .format = 0, .trans = true, .key = q.Hex(1)}, 0, q.Hex(2), q.Hex(2));
       for (int mode : {0, 1})
         Expect(q, r, Call{.drawer = kStretch, .format = 0, .mode = mode, .trans = true, .key = q.Hex(3)}, 0,
                q.Hex(4), 0);
     }},
    {Doc::kPage,
     "| with alpha (key not consulted) | a = 0: skipped, in every mode (MUL included); a = 255: drawn "
     "without the weight a; other a: weight a | every pixel carries the weight a (a = 0 included; a = "
     "255 weighs 255/256: white over black in NOBLEND gives 0xF7DE); one exception: `DrawMemImg`'s "
     "plain copy (NOBLEND or ALPHA at 255, no blend graph, tint off) copies e and ignores a: there white "
     "gives 0xFFFF |",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kRota, .format = 0, .source = kAlpha}, 0, WithAlpha(255, 0xFFFF), q.Hex(0));
       Expect(q, r, Call{.format = 0, .source = kAlpha}, 0, WithAlpha(255, 0xFFFF), q.Hex(1));
       for (int mode : {0, 1, 2, 3, 4, 10, 11})  // flag set: a = 0 skipped
         Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = mode, .p = 200, .source = kAlpha, .trans = true},
                0x1234, WithAlpha(0, 0xFFFF), 0x1234);
     }},

    // ---- Source colour and tint
    {Doc::kPage,
     "Worked values, NOBLEND: 0xFFFF with tint (128, 128, 128) gives 0x7BEF in every drawer; with tint "
     "(255, 255, 254) it gives 0xFFFE through M and 0xF7DE through the shift.",
     [](const Quote& q, Report& r) {
       ExpectIn(q, r, {kPlain, kStretch, kRota, kPolygon, kFlatPolygon, kPixel, kBox, kLine, kShape},
                Call{.format = 0, .bright = kTint128}, 0, q.Hex(0), q.Hex(1));
       ExpectIn(q, r, {kPlain, kStretch, kRota, kPolygon, kFlatPolygon}, Call{.format = 0, .bright = kTint254}, 0,
                q.Hex(0), q.Hex(2));
       ExpectIn(q, r, kShifted, Call{.format = 0, .bright = kTint254}, 0, q.Hex(0), q.Hex(3));
     }},
    {Doc::kPage,
     "INVSRC at p = 255 of 0x0000 with tint (0, 0, 0) writes 0x0000 from an image and 0xFFFF from a "
     "flat drawer.",
     [](const Quote& q, Report& r) {
       const Call invsrc{.format = 0, .mode = 10, .p = q.Int(0), .bright = kTint0};
       ExpectIn(q, r, kImages, invsrc, 0x1234, q.Hex(0), q.Hex(1));
       ExpectIn(q, r, {kFlatPolygon, kPixel, kBox, kLine, kShape}, invsrc, 0x1234, q.Hex(0), q.Hex(2));
     }},

    // ---- Weights and the mix
    {Doc::kPage,
     "Worked values, ALPHA, d = 10, target 0, p = 128: p alone 10 + trunc(−1280 / 255) = 5; with w = 1, "
     "10 + floor(−1280 / 65536) = 9.",
     [](const Quote& q, Report& r) {
       const Call alpha{.drawer = kRota, .format = 0, .mode = 1, .p = q.Int(2)};
       const uint32_t d = uint32_t(q.Int(0)), target = uint32_t(q.Int(1));  // in blue
       Expect(q, r, alpha, d, target, uint32_t(q.Int(6)));
       Expect(q, r, alpha, d, target, uint32_t(q.Int(11)), q.Int(7));
       const int steps = (q.Int(1) - q.Int(0)) * q.Int(2);
       const bool sums = steps == q.Int(4) && steps == q.Int(9) && q.Int(3) + steps / q.Int(5) == q.Int(6) &&
                         q.Int(8) + (steps * q.Int(7) >> 16) == q.Int(11) && q.Int(10) == 65536;
       r.Compare(sums, q.label(), 0, 0, uint32_t(q.Int(3) + steps / q.Int(5)), uint32_t(q.Int(6)));
     }},

    // ---- The rules by mode, DrawRotaMemImg: e over Dw
    {Doc::kPage,
     "| 0 NOBLEND (ALPHA at 255) | w, a | the mix toward t; with no weight t itself | w = 128: 0xFFFF over "
     "0x0000 gives 0x7BEF |",
     [](const Quote& q, Report& r) {
       for (int mode : {0, 1}) Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = mode}, q.Hex(1), q.Hex(0), q.Hex(2), q.Int(2));
     }},
    {Doc::kPage,
     "| 1 ALPHA | w, a, p | the mix toward t | p = 128: 0xFFFF over 0x0000 gives 0x7BEF, 0x0000 over "
     "0xFFFF gives 0x8410 (`DrawMemImg` gives 0x7BEF: its halves, in the departures) |",
     [](const Quote& q, Report& r) {
       const Call alpha{.drawer = kRota, .format = 0, .mode = 1, .p = q.Int(1)};
       Expect(q, r, alpha, q.Hex(1), q.Hex(0), q.Hex(2));
       Expect(q, r, alpha, q.Hex(4), q.Hex(3), q.Hex(5));
       Expect(q, r, Call{.format = 0, .mode = 1, .p = q.Int(1)}, q.Hex(4), q.Hex(3), q.Hex(6));
     }},
    {Doc::kPage,
     "| 10 INVSRC | w, a, p | the mix toward t (inverted, then tinted) | p = 100: 0x6D3A over 0x1234 "
     "gives 0x424F; p = 255: 0x0000 over anything gives 0xFFFF |",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 10, .p = q.Int(1)}, q.Hex(1), q.Hex(0), q.Hex(2));
       for (uint32_t d : {0x0000u, 0x1234u, 0x8410u, 0xFFFFu})
         Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 10, .p = q.Int(5)}, d, q.Hex(3), q.Hex(4));
     }},
    {Doc::kPage,
     "| 11 MULA | w, a, p | the mix toward m = floor(t · d / 2^n) | p = 255: 0xFFFF over 0xFFFF gives "
     "0xF7DE; p = 128: 0x8410 over 0xFFFF gives 0xBDF7 |",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 11, .p = q.Int(2)}, q.Hex(1), q.Hex(0), q.Hex(2));
       Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 11, .p = q.Int(6)}, q.Hex(4), q.Hex(3), q.Hex(5));
     }},
    {Doc::kPage,
     "| 4 MUL | w, a (p unused) | floor(t · d · F / (2^n · 256^k)); with no weight floor(t · d / 2^n) | "
     "0xFFFF over 0xFFFF gives 0xF7DE; 0x8410 over 0xFFFF gives 0x7BEF; 0xFFFF with a = 128 over 0xFFFF "
     "gives 0x7BEF, with a = 0 and the flag clear 0x0000 |",
     [](const Quote& q, Report& r) {
       const Call mul{.drawer = kRota, .format = 0, .mode = 4}, alpha{.drawer = kRota, .format = 0, .mode = 4, .source = kAlpha};
       for (int p : {0, 128, 255})  // p unused
         Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 4, .p = p}, q.Hex(1), q.Hex(0), q.Hex(2));
       Expect(q, r, mul, q.Hex(4), q.Hex(3), q.Hex(5));
       Expect(q, r, alpha, q.Hex(7), WithAlpha(q.Int(11), q.Hex(6)), q.Hex(8));
       Expect(q, r, alpha, q.Hex(7), WithAlpha(q.Int(14), q.Hex(6)), q.Hex(9));
     }},
    {Doc::kPage, "| 2 ADD | w, a, then p | the packed ADD of the amounts onto Dw | p = 255: 0x001F onto 0x0001 gives 0x003F |",
     [](const Quote& q, Report& r) {  // DrawMemImg's ADD without the low-bit OR alike
       ExpectIn(q, r, {kRota, kPlain}, Call{.format = 0, .mode = 2, .p = q.Int(1)}, q.Hex(1), q.Hex(0), q.Hex(2));
     }},
    {Doc::kPage, "| 3 SUB | w, a, then p | the packed SUB of the amounts from Dw | p = 255: 0x0000 from 0xFFFF gives 0xFFDF |",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 3, .p = q.Int(1)}, q.Hex(1), q.Hex(0), q.Hex(2));
     }},
    {Doc::kPage,
     "MUL weighs toward black: w = 0 (or a = 0 with the flag clear) writes 0x0000; the mixing modes "
     "weigh toward d.",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 4}, 0xFFFF, 0xFFFF, q.Hex(0), q.Int(0));
       Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = 4, .source = kAlpha}, 0xFFFF, WithAlpha(q.Int(1), 0xFFFF),
              q.Hex(0));
       for (int mode : {0, 1, 10, 11})  // weight 0: d kept
         Expect(q, r, Call{.drawer = kRota, .format = 0, .mode = mode, .p = 200}, 0x1234, 0xFFFF, 0x1234, q.Int(0));
     }},

    // ---- The packed ADD and SUB
    {Doc::kPage,
     "| ADD | sum = (S & 0xF7DEF7DF) + (Dw & 0xF7DEF7DF); carry = sum & 0x08210820; the word written is "
     "the low 16 bits of (carry − (carry >> 5)) \\| sum \\| ((S \\| Dw) & 0x0820) | blue = min(31, the "
     "two blues' sum); green: its upper five bits min(31, the sum of the two greens' upper five bits), "
     "its lowest bit the OR of the two greens' lowest bits and the blue overflow; red: 31 when the sum "
     "of the two reds' upper four bits is above 15, else that sum doubled plus (the OR of the two reds' "
     "lowest bits and the green overflow) |",
     [](const Quote& q, Report& r) { BothForms(q, r, kBoxAdd16, PackedAdd16, ChannelAdd16); }},
    {Doc::kPage,
     "| SUB | difference = (Dw \\| 0x08210820) − (S & 0xF7DEF7DF); borrow = difference & 0x08210820; the "
     "word written is the low 16 bits of (borrow − (borrow >> 5)) & difference | blue = max(0, d − A); "
     "green = 2 · max(0, (d >> 1) − (A >> 1)), its lowest bit always 0; red = 0 when (d >> 1) < (A >> "
     "1), else (d \\| 1) − (A & 30) − (1 when green's (d >> 1) < (A >> 1)) |",
     [](const Quote& q, Report& r) { BothForms(q, r, kBoxSub16, PackedSub16, ChannelSub16); }},
    {Doc::kPage,
     "The last term of ADD, (S \\| Dw) & 0x0820, is the low-bit OR; `DrawMemImg` leaves it out in one "
     "case (in the departures), and then the lowest bits of green and red are only the blue and green "
     "overflows.",
     [](const Quote& q, Report& r) {
       Pairs(q, r, Call{.format = 0, .mode = 2}, [](const Quote&, uint32_t S, uint32_t Dw) { return AddWithoutOr16(S, Dw); });
       Pairs(q, r, Call{.drawer = kRota, .format = 0, .mode = 2}, [](const Quote& q, uint32_t S, uint32_t Dw) {
         return AddWithoutOr16(S, Dw) | ((S | Dw) & q.Hex(0));
       });
     }},
    // Pins the setting of the rows below.
    {Doc::kPage,
     "Worked values, `DrawFillBoxMemImg` at p = 255 (its amounts are its colour's channels) of the "
     "colour S over Dw; `DrawMemImg`'s ADD, from a source without alpha, leaves out the low-bit OR, "
     "where its value is given beside:",
     nullptr},
    {Doc::kPage, "| ADD | 0x0400 | 0x0400 | 0x0FC0 (green saturates at 62, red gets the green overflow) |",
     [](const Quote& q, Report& r) {
       RowSD(q, r, kBoxAdd16);
       Expect(q, r, Call{.format = 0, .mode = 2}, q.Hex(1), q.Hex(0), q.Hex(2));  // DrawMemImg alike
       r.Compare(Split565(q.Hex(2)).green == q.Int(3) && Split565(q.Hex(2)).red == 1, q.label(), 0, 0, q.Hex(2),
                 uint32_t(q.Int(3)));
     }},
    {Doc::kPage, "| ADD | 0x0400 | 0x0420 | 0x0FE0 (`DrawMemImg`: 0x0FC0) |", RowAdd16},
    {Doc::kPage, "| ADD | 0x4228 (0x8C71 at p = 128) | 0x5A6B | 0x9C73 (`DrawMemImg`: 0x9453) |",
     [](const Quote& q, Report& r) {
       Expect(q, r, kBoxAdd16, q.Hex(2), q.Hex(0), q.Hex(3));
       Expect(q, r, Call{.drawer = kBox, .format = 0, .mode = 2, .p = q.Int(2)}, q.Hex(2), q.Hex(1), q.Hex(3));
       Expect(q, r, Call{.format = 0, .mode = 2}, q.Hex(2), q.Hex(0), q.Hex(4));
     }},
    {Doc::kPage, "| ADD | 0x0000 | 0x0821 | 0x0821 (`DrawMemImg`: 0x0001) |", RowAdd16},
    {Doc::kPage, "| SUB | 0x4228 | 0x9C73 | 0x5A4B |", [](const Quote& q, Report& r) { RowSD(q, r, kBoxSub16); }},
    {Doc::kPage, "| SUB | 0x0000 | 0x0000 | 0x0800 (A = 0 still sets red's lowest bit) |",
     [](const Quote& q, Report& r) { RowSD(q, r, kBoxSub16); }},
    {Doc::kPage, "| SUB | 0xFFFF | 0xFFFF | 0x0800 |", [](const Quote& q, Report& r) { RowSD(q, r, kBoxSub16); }},

    // ---- Sources with alpha
    {Doc::kPage,
     "| alpha before tint | ADD and SUB, weight a, no blend graph, tint on | the amount A = "
     "M[p][M[β][floor(s · a / 256)]] (elsewhere the tint comes first). e = 0x001F, a = 200, tint (128, "
     "128, 128), p = 255, ADD onto 0x0000: 0x000C (tint first would give 0x000B) |",
     [](const Quote& q, Report& r) {
       const uint32_t e = WithAlpha(q.Int(2), q.Hex(0));
       ExpectIn(q, r, kImages, Call{.format = 0, .mode = 2, .p = q.Int(6), .bright = kTint128, .source = kAlpha}, q.Hex(1),
                e, q.Hex(2));
       Expect(q, r, Call{.drawer = kPlainRuns, .format = 0, .mode = 2, .p = q.Int(6), .bright = kTint128,
                         .source = kAlpha, .trans = true},
              q.Hex(1), e, q.Hex(2));
       const uint32_t tintFirst = uint32_t(M(q.Int(6), M(q.Int(3), 31) * q.Int(2) >> 8));
       r.Compare(tintFirst == q.Hex(3), q.label(), 0, 0, tintFirst, q.Hex(3));
     }},
    {Doc::kPage,
     "| finer green | MULA, weight a, no blend graph, tint off | red and blue: d + floor((m − d) · a · p / "
     "65536); green: d + floor((floor(t · d / 2) − 32 · d) · a · p / 2^21). e = 0x06E0 (a = 128), Dw = "
     "0x0720, p = 255: 0x06A0 (green 53; the mix toward m gives 52) |",
     [](const Quote& q, Report& r) {
       const int a = q.Int(6), p = q.Int(8);
       const uint32_t e = WithAlpha(a, q.Hex(0));
       ExpectIn(q, r, kImages, Call{.format = 0, .mode = 11, .p = p, .source = kAlpha}, q.Hex(1), e, q.Hex(2));
       Expect(q, r, Call{.drawer = kPlainRuns, .format = 0, .mode = 11, .p = p, .source = kAlpha, .trans = true},
              q.Hex(1), e, q.Hex(2));
       const int t = Split565(q.Hex(0)).green, d = Split565(q.Hex(1)).green, m = t * d >> 6;
       const int fine = d + int(((int64_t(t * d / q.Int(1)) - q.Int(2) * d) * a * p) >> q.Int(4));
       const int mix = d + int((int64_t(m - d) * a * p) >> 16);
       r.Compare(fine == q.Int(10) && Split565(q.Hex(2)).green == fine && mix == q.Int(11) && q.Int(0) == 65536,
                 q.label(), 0, 0, uint32_t(fine), uint32_t(q.Int(10)));
     }},

    // ---- Where the 16-bit drawers depart
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel (every draw that does not walk the run map) | ALPHA at p = 128, no "
     "blend graph, tint off, source without alpha: the halves floor(s / 2) + floor(d / 2), that is ((e "
     ">> 1) & 0x7BEF) + ((Dw >> 1) & 0x7BEF) | 0x0821 over 0x0821 gives 0x0000 |",
     [](const Quote& q, Report& r) {
       Pairs(q, r, Call{.format = 0, .mode = 1, .p = 128}, Halves16);
       Expect(q, r, Call{.format = 0, .mode = 1, .p = 128}, q.Hex(3), q.Hex(2), q.Hex(4));
     }},
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel | ALPHA at any other p, same conditions: X6[p >> 2][t][d] (p = 1–3 "
     "leave d, p = 252–254 give t) | 0x07E0 over 0x0000 at p = 200 gives 0x0640; with tint (255, 255, "
     "254) the mix applies and gives 0x0620, with tint (128, 128, 128) 0x0300 |",
     [](const Quote& q, Report& r) {
       const int p = q.Int(7);
       Expect(q, r, Call{.format = 0, .mode = 1, .p = p}, q.Hex(1), q.Hex(0), q.Hex(2));
       Expect(q, r, Call{.format = 0, .mode = 1, .p = p, .bright = kTint254}, q.Hex(1), q.Hex(0), q.Hex(3));
       Expect(q, r, Call{.format = 0, .mode = 1, .p = p, .bright = kTint128}, q.Hex(1), q.Hex(0), q.Hex(4));
       Pairs(q, r, Call{.format = 0, .mode = 1, .p = p}, [](const Quote& q, uint32_t e, uint32_t Dw) {
         const Channels t = Split565(e), d = Split565(Dw);
         const int i = q.Int(7) >> q.Int(0);
         return Join565(X6(i, t.red, d.red), X6(i, t.green, d.green), X6(i, t.blue, d.blue));
       });
       for (int step = q.Int(1); step <= q.Int(2); ++step)  // d left
         Pairs(q, r, Call{.format = 0, .mode = 1, .p = step}, [](const Quote&, uint32_t, uint32_t Dw) { return Dw; });
       for (int step = q.Int(3); step <= q.Int(4); ++step)  // t given
         Pairs(q, r, Call{.format = 0, .mode = 1, .p = step}, [](const Quote&, uint32_t e, uint32_t) { return e; });
     }},
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel | ADD at p = 255, same conditions: the packed ADD without the "
     "low-bit OR | 0x0020 added to 0x0020 gives 0x0000 |",
     [](const Quote& q, Report& r) { Expect(q, r, Call{.format = 0, .mode = 2}, q.Hex(1), q.Hex(0), q.Hex(2)); }},
    {Doc::kPage,
     "| `DrawMemImg`, pixel by pixel | SUB at p = 0 draws nothing for every source; the plain copy of a "
     "source with alpha, flag clear, copies e and ignores a | SUB at p = 0 from a palettised source "
     "leaves 0xFFFF; NOBLEND of 0x0000FFFF (a = 0) over 0x0000 gives 0xFFFF |",
     [](const Quote& q, Report& r) {
       for (Source s : {kPalette, kKeyed, kAlpha})
         Expect(q, r, Call{.format = 0, .mode = 3, .p = 0, .source = s, .key = 0x100}, q.Hex(0), 0x1234, q.Hex(0));
       for (int mode : {0, 1}) Expect(q, r, Call{.format = 0, .mode = mode, .source = kAlpha}, q.Hex(2), q.Hex(1), q.Hex(3));
     }},
    {Doc::kPage,
     "| `DrawMemImg` walking the run map (\"The run-map path\" below) | none of the three short cuts: "
     "ALPHA is d + N[p][t − d], ADD at 255 keeps the low-bit OR. Skipped: key pixels and a = 0; a = 255 "
     "draws without the weight a, other a with it. SUB at p = 0 draws nothing | 0x0821 over 0x0821 at p "
     "= 128 stays 0x0821; 0x0020 added to 0x0020 at p = 255 gives 0x0020 |",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kPlainRuns, .format = 0, .mode = 1, .p = 128, .trans = true}, q.Hex(1), q.Hex(0),
              q.Hex(2));
       Expect(q, r, Call{.drawer = kPlainRuns, .format = 0, .mode = 2, .trans = true}, q.Hex(4), q.Hex(3), q.Hex(5));
       Expect(q, r, Call{.drawer = kPlainRuns, .format = 0, .mode = 3, .p = 0, .trans = true}, 0x1234, 0xFFFF, 0x1234);
     }},
    {Doc::kPage,
     "| `DrawExtendMemImg` (another size, or mirrored; the source's own size unmirrored is a "
     "`DrawMemImg`) | the plain copy compares the key's low 16 bits (the transparent flag above); SUB at "
     "p = 0 from a palettised source draws | SUB at p = 0: 0xFFFF becomes 0xFFDF, 0x07FF becomes 0x0FDF |",
     [](const Quote& q, Report& r) {
       const Call sub{.drawer = kStretch, .format = 0, .mode = 3, .p = 0, .source = kPalette, .key = 0x100};
       Expect(q, r, sub, q.Hex(0), 0xFFFF, q.Hex(1));
       Expect(q, r, sub, q.Hex(2), 0xFFFF, q.Hex(3));
     }},
    {Doc::kPage,
     "| `DrawRotaMemImg` (with the turn flag set it draws as `DrawQuadMemImg`); textured "
     "`DrawPolygonMemImg` / `DrawQuadMemImg` | SUB at p = 0 from a palettised source draws | SUB at p = "
     "0: 0xFFFF becomes 0xFFDF |",
     [](const Quote& q, Report& r) {
       ExpectIn(q, r, {kRota, kPolygon}, Call{.format = 0, .mode = 3, .p = 0, .source = kPalette, .key = 0x100}, q.Hex(0),
                0xFFFF, q.Hex(1));
     }},
    {Doc::kPage,
     "| `DrawPolygonMemImg`, flat | the tint (M) and INVSRC's inversion are applied to the colour once, "
     "tint first; no flag, no blend graph; SUB at p = 0 draws nothing | INVSRC at p = 255 with tint (0, "
     "0, 0) over 0x0000 gives 0xFFFF |",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kFlatPolygon, .format = 0, .mode = 10, .bright = kTint0}, q.Hex(0), 0x1234, q.Hex(1));
       Expect(q, r, Call{.drawer = kFlatPolygon, .format = 0, .mode = 3, .p = 0}, 0x1234, 0xFFFF, 0x1234);
     }},
    {Doc::kPage,
     "| `DrawPixelMemImg`, `DrawFillBoxMemImg`, `DrawLineMemImg`, `DrawLinesMemImg`, `DrawCircleMemImg`, "
     "`DrawOvalMemImg` | the tint is floor(s · β / 256), then INVSRC inverts the tinted colour; p is the "
     "only weight | NOBLEND of 0xFFFF with tint (255, 255, 254) gives 0xF7DE |",
     [](const Quote& q, Report& r) {
       ExpectIn(q, r, kShifted, Call{.format = 0, .bright = kTint254}, 0x1234, q.Hex(0), q.Hex(1));
     }},
};

}  // namespace

}  // namespace page
