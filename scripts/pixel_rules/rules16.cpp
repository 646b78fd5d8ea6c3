// The 16-bit rules of docs/pixel-rules.md (destination format 0, 5:6:5), in the page's terms (s,
// t, d, m, n, beta, w, a, p, F, k, A, e, S, Dw): each drawer's departures first (one table), then
// the common rules, one function each, then one visit.
#include <cstdint>

#include "page_model.h"

namespace page {

namespace {

// ---- Channels ----------------------------------------------------------------------------------

// A 5:6:5 pixel as channel values: r and b 0..31 (5 bits), g 0..63 (6 bits).
struct Rgb {
  int r, g, b;
};
Rgb Split(uint32_t v) { return {int(v >> 11 & 31), int(v >> 5 & 63), int(v & 31)}; }
uint32_t Join(const Rgb& c) { return uint32_t(c.r) << 11 | uint32_t(c.g) << 5 | uint32_t(c.b); }

// The channels computed one by one: f(index 0 r / 1 g / 2 b, width n in bits).
template <class F>
Rgb EachChannel(F f) {
  return {f(0, 5), f(1, 6), f(2, 5)};
}
int Get(const Rgb& c, int i) { return i == 0 ? c.r : i == 1 ? c.g : c.b; }

// ---- Each drawer's departures from the common rules --------------------------------------------

struct Departures {
  bool halfAt128;        // ALPHA p = 128, no graph, no tint, no alpha source: the half rule
  bool mixTable;         // ALPHA at any other p, same conditions: X6[p >> 2][s][d]
  bool addNoLowBitOr;    // ADD p = 255, same conditions: the packed ADD without the low-bit OR
  bool subZeroDraws;     // SUB p = 0 from a palettised source draws (amounts 0)
  bool keyLow16;         // the plain copy compares the colour with the key's low 16 bits
  bool alphaCopy;        // NOBLEND, alpha source, flag clear, no graph, no tint: copies s
  bool runMap;           // the run map decides the skips (the flag is always set)
  bool flat;             // flat colour, tinted once before the mode (INVSRC inverts after)
  bool tintShift8;       // flat tint floor(x beta / 256) instead of M[beta][x]
};

constexpr Departures kDepartures[kDrawerCount] = {
    //  half   X6     noOr   sub0   low16  copy   runs   flat   >>8
    {true,  true,  true,  false, false, true,  false, false, false},  // kPlain
    {false, false, false, false, false, false, true,  false, false},  // kPlainRuns
    {false, false, false, true,  true,  false, false, false, false},  // kStretch
    {false, false, false, true,  false, false, false, false, false},  // kRota
    {false, false, false, true,  false, false, false, false, false},  // kPolygon
    {false, false, false, false, false, false, false, true,  false},  // kFlatPolygon
    {false, false, false, false, false, false, false, true,  true},   // kPixel
    {false, false, false, false, false, false, false, true,  true},   // kBox
    {false, false, false, false, false, false, false, true,  true},   // kLine
    {false, false, false, false, false, false, false, true,  true},   // kShape
};

// ---- Draw state --------------------------------------------------------------------------------

bool TintOn(const Call& call) { return (call.bright & 0xFFFFFF) != 0xFFFFFF; }
// beta: the tint's value for a channel (0 red, 1 green, 2 blue), SetDrawBright's argument.
int Beta(const Call& call, int i) { return int(call.bright >> (16 - 8 * i) & 0xFF); }
// The mode the call draws by: ALPHA at p = 255 is NOBLEND.
int Mode(const Call& call) { return call.mode == 1 && call.p == 255 ? 0 : call.mode; }

// ---- Tint and the source colour ----------------------------------------------------------------

// Tint of one channel value x (5 or 6 bits): M[beta][x], or floor(x beta / 256) for the flat
// drawers that tint by a shift.
int Tint(const Call& call, const Departures& dep, int i, int x) {
  if (dep.tintShift8) return x * Beta(call, i) >> 8;
  return M(Beta(call, i), x);
}
Rgb TintAll(const Call& call, const Departures& dep, const Rgb& s) {
  return EachChannel([&](int i, int) { return Tint(call, dep, i, Get(s, i)); });
}
// INVSRC's inversion: all 16 bits complemented (31 - r, 63 - g, 31 - b).
Rgb Invert(const Rgb& s) { return {31 - s.r, 63 - s.g, 31 - s.b}; }

// e, the source colour as stored: palette entry, texel colour (bits 0-15) or the flat colour.
uint32_t StoredColour(const Call& call, uint32_t texel) {
  switch (call.source) {
    case kPalette: return call.palette[texel & 0xFF] & 0xFFFF;
    case kFlat: return call.color & 0xFFFF;
    default: return texel & 0xFFFF;
  }
}
// t: the colour the mode's rule works with. Image drawers invert (INVSRC), then tint; the flat
// drawers tint the colour once, then invert.
Rgb SourceColour(const Call& call, const Departures& dep, uint32_t e) {
  Rgb s = Split(e);
  const bool inv = call.mode == 10, tint = TintOn(call);
  if (dep.flat) {
    if (tint) s = TintAll(call, dep, s);
    return inv ? Invert(s) : s;
  }
  if (inv) s = Invert(s);
  return tint ? TintAll(call, dep, s) : s;
}

// ---- Skips (transparent flag set) --------------------------------------------------------------

// True when the pixel is left as it was. Keyed: the colour equals the key (the whole 32-bit key,
// or its low 16 bits in the stretched plain copy); palettised: the index equals the key; alpha
// source: a = 0 (MUL included).
bool Skipped(const Call& call, const Departures& dep, uint32_t texel) {
  if (call.source == kFlat || !(call.trans || dep.runMap)) return false;
  if (call.source == kPalette) return (texel & 0xFF) == call.key;
  if (call.source == kAlpha) return (texel >> 16 & 0xFF) == 0;
  const bool plainCopy = Mode(call) == 0 && !call.graph && !TintOn(call);
  if (dep.keyLow16 && plainCopy) return (texel & 0xFFFF) == (call.key & 0xFFFF);
  return (texel & 0xFFFF) == call.key;
}

// ---- Weights -----------------------------------------------------------------------------------

// The weights a pixel carries: w (blend graph), a (alpha source, unless left out), p (the modes
// that use it). F is their product, k their number.
struct Weights {
  bool w = false, a = false, p = false;
  int64_t F = 1;
  int k = 0;
};
Weights WeightsOf(bool hasW, int w, bool hasA, int a, bool hasP, int p) {
  Weights x;
  x.w = hasW;
  x.a = hasA;
  x.p = hasP;
  if (hasW) x.F *= w, ++x.k;
  if (hasA) x.F *= a, ++x.k;
  if (hasP) x.F *= p, ++x.k;
  return x;
}
// Whether the source alpha a weighs a drawn pixel: flag set, a = 255 leaves it out; flag clear,
// always, except the plain blit's copy (NOBLEND without graph and tint).
bool AlphaWeighs(const Call& call, const Departures& dep, int a) {
  if (call.source != kAlpha) return false;
  if (call.trans || dep.runMap) return a != 255;
  return !(dep.alphaCopy && Mode(call) == 0 && !call.graph && !TintOn(call));
}

// ---- The weighted mix --------------------------------------------------------------------------

// The mix of d toward a target: no weight, the target; p alone, d + N[p][target - d]; any other
// set, d + floor((target - d) F / 256^k) (an arithmetic shift floors).
int MixToward(int d, int target, const Weights& x, int p) {
  if (x.k == 0) return target;
  if (x.k == 1 && x.p) return d + N(p, target - d);
  return int(int64_t(d) + ((int64_t(target - d) * x.F) >> (8 * x.k)));
}

// ---- The packed add and subtract ---------------------------------------------------------------

// ADD of the amounts word S onto the destination word Dw, zero-extended. The low-bit OR (of both
// words' lowest green and red bits) is left out where a drawer says so.
uint32_t PackedAdd(uint32_t S, uint32_t Dw, bool lowBitOr) {
  const uint32_t sum = (S & 0xF7DEF7DF) + (Dw & 0xF7DEF7DF);
  const uint32_t carry = sum & 0x08210820;
  uint32_t out = (carry - (carry >> 5)) | sum;
  if (lowBitOr) out |= (S | Dw) & 0x0820;
  return out & 0xFFFF;
}
// SUB of the amounts word S from the destination word Dw.
uint32_t PackedSub(uint32_t S, uint32_t Dw) {
  const uint32_t difference = (Dw | 0x08210820) - (S & 0xF7DEF7DF);
  const uint32_t borrow = difference & 0x08210820;
  return ((borrow - (borrow >> 5)) & difference) & 0xFFFF;
}

// ---- The rules by mode -------------------------------------------------------------------------

// The halves (plain blit, ALPHA p = 128): floor(s / 2) + floor(d / 2) per channel.
uint32_t Halves(uint32_t e, uint32_t Dw) { return ((e >> 1) & 0x7BEF) + ((Dw >> 1) & 0x7BEF); }

// NOBLEND, ALPHA, INVSRC: the weighted mix toward t; the plain blit's short cuts of ALPHA.
uint32_t MixRule(const Call& call, const Departures& dep, const Rgb& t, uint32_t Dw,
                 const Weights& x) {
  const Rgb d = Split(Dw);
  const bool pAlone = x.k == 1 && x.p;
  if (call.mode == 1 && pAlone && !TintOn(call) && call.source != kAlpha) {
    if (dep.halfAt128 && call.p == 128) return Halves(Join(t), Dw);
    if (dep.mixTable && call.p != 128)
      return Join(EachChannel([&](int i, int) { return X6(call.p >> 2, Get(t, i), Get(d, i)); }));
  }
  return Join(EachChannel([&](int i, int) { return MixToward(Get(d, i), Get(t, i), x, call.p); }));
}

// MULA: the weighted mix toward m = floor(t d / 2^n). With a alone beside p (no graph, no tint,
// image drawers), green keeps its product at 1/32 of a step:
// d + floor((floor(t d / 2) - 32 d) a p / 2^21).
uint32_t MulaRule(const Call& call, const Rgb& t, uint32_t Dw, const Weights& x, int a) {
  const Rgb d = Split(Dw);
  const bool fineGreen = x.a && !x.w && !TintOn(call);
  return Join(EachChannel([&](int i, int n) {
    const int di = Get(d, i), ti = Get(t, i);
    if (fineGreen && i == 1) {
      const int64_t m2 = (ti * di) >> 1;
      return int(di + (((m2 - 32 * di) * a * call.p) >> 21));
    }
    return MixToward(di, (ti * di) >> n, x, call.p);
  }));
}

// MUL: floor(t d F / (2^n 256^k)), F and k from w and a (p not used).
uint32_t MulRule(const Rgb& t, uint32_t Dw, const Weights& x) {
  const Rgb d = Split(Dw);
  return Join(EachChannel([&](int i, int n) {
    return int((int64_t(Get(t, i)) * Get(d, i) * x.F) >> (n + 8 * x.k));
  }));
}

// ADD and SUB: the amount A = M[p][floor(t F / 256^k)] per channel (F, k from w and a); with a,
// no graph and tint on, the alpha comes first: A = M[p][M[beta][floor(s a / 256)]].
uint32_t AddSubRule(const Call& call, const Departures& dep, const Rgb& t, const Rgb& s,
                    uint32_t Dw, const Weights& x, int a) {
  const bool alphaFirst = x.a && !x.w && TintOn(call);
  const Rgb A = EachChannel([&](int i, int) {
    int v;
    if (alphaFirst) v = Tint(call, dep, i, Get(s, i) * a >> 8);
    else v = int((int64_t(Get(t, i)) * x.F) >> (8 * x.k));
    return M(call.p, v);
  });
  if (call.mode == 3) return PackedSub(Join(A), Dw);
  const bool plain = !call.graph && !TintOn(call) && call.source != kAlpha;
  return PackedAdd(Join(A), Dw, !(dep.addNoLowBitOr && call.p == 255 && plain));
}

}  // namespace

bool Draws16(const Call& call) {
  switch (call.mode) {
    case 0: case 4: case 10: case 11: return true;
    case 1: case 2: return call.p != 0;
    case 3:
      return call.p != 0 || (call.source == kPalette && kDepartures[call.drawer].subZeroDraws);
    default: return false;
  }
}

bool Visit16(const Call& call, uint32_t& dst, uint32_t texel, int w) {
  if (!Draws16(call)) return false;
  const Departures& dep = kDepartures[call.drawer];
  if (Skipped(call, dep, texel)) return false;

  const int mode = Mode(call);
  const int a = call.source == kAlpha ? int(texel >> 16 & 0xFF) : 0;
  const uint32_t e = StoredColour(call, texel);
  const Rgb s = Split(e);
  const Rgb t = SourceColour(call, dep, e);
  const bool hasW = call.graph && !dep.flat;
  const bool hasA = AlphaWeighs(call, dep, a);
  const uint32_t Dw = dst & 0xFFFF;

  switch (mode) {
    case 0:  // NOBLEND (and ALPHA at p = 255): weights w, a; none: a plain copy of t
      dst = MixRule(call, dep, t, Dw, WeightsOf(hasW, w, hasA, a, false, 0));
      break;
    case 1:   // ALPHA
    case 10:  // INVSRC
      dst = MixRule(call, dep, t, Dw, WeightsOf(hasW, w, hasA, a, true, call.p));
      break;
    case 11:  // MULA
      dst = MulaRule(call, t, Dw, WeightsOf(hasW, w, hasA, a, true, call.p), a);
      break;
    case 4:  // MUL
      dst = MulRule(t, Dw, WeightsOf(hasW, w, hasA, a, false, 0));
      break;
    case 2:  // ADD
    case 3:  // SUB
      dst = AddSubRule(call, dep, t, s, Dw, WeightsOf(hasW, w, hasA, a, false, 0), a);
      break;
  }
  return true;
}

}  // namespace page
