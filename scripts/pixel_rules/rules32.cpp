// The 32-bit rules of docs/pixel-rules.md ("32-bit destinations"), one function per rule of the
// page, in the page's terms (s, t, d, D, beta, w, a, p, F, k, A, e, S, Dw), and the page's table of
// where each drawer departs from them.
#include "page_model.h"

namespace page {
namespace {

// ---- Where the drawers depart --------------------------------------------------------------

// One row per drawer: the page's table "Where the 32-bit drawers depart".
struct Departures {
  bool flat;             // no source: the colour is prepared once (tint, spare byte kept)
  bool tintShift8;       // flat colour tinted by floor(s beta / 256) (else M[beta][s])
  bool halfAt128;        // ALPHA p = 128, no graph, no tint, no alpha source: halves
  bool exactAdd;         // ADD p = 255, no graph, no tint, no alpha source: exact per byte
  bool exactSub;         // SUB p = 255, same conditions: exact per byte
  bool subZeroPalette;   // SUB p = 0 still draws from a palettised source (amounts 0)
  bool copyAlphaFlag0;   // NOBLEND, alpha source, flag clear, no graph, no tint: whole word
  bool alwaysTrans;      // the run map: drawn as with the transparent flag set
};

constexpr Departures kDepartures[kDrawerCount] = {
    //  flat   shift8 half   exAdd  exSub  sub0pal copyA0 trans
    {false, false, true, true, true, false, true, false},     // kPlain
    {false, false, false, false, false, false, false, true},  // kPlainRuns
    {false, false, false, false, true, true, false, false},   // kStretch
    {false, false, false, false, false, true, false, false},  // kRota
    {false, false, false, false, false, true, false, false},  // kPolygon
    {true, false, false, false, false, false, false, false},  // kFlatPolygon
    {true, true, false, false, false, false, false, false},   // kPixel
    {true, true, false, false, false, false, false, false},   // kBox
    {true, true, false, false, false, false, false, false},   // kLine
    {true, true, false, false, false, false, false, false},   // kShape
};

// ---- Bytes and words -----------------------------------------------------------------------

int Byte(uint32_t word, int c) { return int(word >> (8 * c) & 0xFF); }
uint32_t WithByte(uint32_t word, int c, int v) {
  return (word & ~(0xFFu << (8 * c))) | (uint32_t(v & 0xFF) << (8 * c));
}
bool TintOn(uint32_t bright) { return (bright & 0xFFFFFF) != 0xFFFFFF; }
bool ModeHasRule(int mode) { return (mode >= 0 && mode <= 4) || mode == 10 || mode == 11; }

// ---- The rules -----------------------------------------------------------------------------

// t of channel c: the source byte s of the word, INVSRC's inversion, then the tint M[beta][.]
// (beta: the tint's value for the channel).
int UsedByte(uint32_t word, int c, int mode, uint32_t bright) {
  int t = Byte(word, c);
  if (mode == 10) t = 255 - t;
  if (TintOn(bright)) t = M(Byte(bright, c), t);
  return t;
}

// The flat colour, prepared once: its three colour bytes s tinted (M[beta][s], or
// floor(s beta / 256) for the drawers that tint by a shift), the spare byte kept.
uint32_t PreparedColour(uint32_t colour, uint32_t bright, bool shift8) {
  if (!TintOn(bright)) return colour;
  uint32_t out = colour;
  for (int c = 0; c < 3; ++c) {
    const int beta = Byte(bright, c), s = Byte(colour, c);
    out = WithByte(out, c, shift8 ? (s * beta) >> 8 : M(beta, s));
  }
  return out;
}

// The blend of d toward a target: D = floor((d 256^k + (target - d) F) / 256^k), an arithmetic
// shift by 8k.
int Toward(int d, int target, uint64_t F, int k) {
  const int64_t v = (int64_t(d) << (8 * k)) + int64_t(target - d) * int64_t(F);
  return int(v >> (8 * k));
}

// Packed ADD of the amounts word S (A of blue, green, red) onto the destination word Dw.
uint32_t PackedAdd(uint32_t S, uint32_t Dw) {
  const uint32_t sum = (S & 0x00FEFEFFu) + (Dw & 0x00FEFEFFu);
  const uint32_t carry = sum & 0x01010100u;
  return (carry - (carry >> 8)) | ((S | Dw) & 0x00010100u) | sum;
}

// Packed SUB of the amounts word S from the destination word Dw.
uint32_t PackedSub(uint32_t S, uint32_t Dw) {
  const uint32_t difference = (Dw | 0x01010100u) - (S & 0xFEFEFEFFu);
  const uint32_t borrow = difference & 0x01010100u;
  return difference & (borrow - (borrow >> 8));
}

// The exact forms: the source word e added to or taken from Dw byte by byte, all four bytes,
// limited to 0..255.
uint32_t ExactAdd(uint32_t e, uint32_t Dw) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const int v = Byte(Dw, c) + Byte(e, c);
    out = WithByte(out, c, v > 255 ? 255 : v);
  }
  return out;
}
uint32_t ExactSub(uint32_t e, uint32_t Dw) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const int v = Byte(Dw, c) - Byte(e, c);
    out = WithByte(out, c, v < 0 ? 0 : v);
  }
  return out;
}

// The halves of DrawMemImg's ALPHA p = 128: floor(s / 2) + floor(d / 2) per byte, spare byte 0.
uint32_t Halves(uint32_t e, uint32_t Dw) { return ((e >> 1) & 0x7F7F7Fu) + ((Dw >> 1) & 0x7F7F7Fu); }

// The weights that apply to a drawn pixel: F, their product, and k, their number.
struct Weights {
  uint64_t F = 1;
  int k = 0;
  void Add(int weight) { F *= uint64_t(weight); ++k; }
};

// The ADD and SUB amount A of a channel: M[p][t] when p is the only weight, else
// floor(t F / 256^k) with p among the weights.
int Amount(int t, Weights x, int p) {
  if (x.k == 0) return M(p, t);
  x.Add(p);
  return int((uint64_t(t) * x.F) >> (8 * x.k));
}

// MUL: D = floor(t F d / 256^(k + 1)); p is not a weight.
int Mul(int t, int d, const Weights& x) {
  return int((uint64_t(t) * x.F * uint64_t(d)) >> (8 * (x.k + 1)));
}

// The target of the blend: m = floor(t d / 2^8) for MULA, else t (INVSRC: already inverted).
int Target(int mode, int t, int d) { return mode == 11 ? (t * d) >> 8 : t; }

// One drawn pixel by the rule of its mode: e is the source word as stored (palette entry,
// source word or prepared colour), x holds the weights w and a (p is added here).
void Draw(const Call& call, const Departures& dep, int mode, uint32_t& dst, uint32_t e,
          Weights x, bool plainish) {
  const int p = call.p;
  const uint32_t bright = dep.flat ? 0xFFFFFFu : call.bright;  // flat: tinted already
  const uint32_t Dw = dst;
  int t[3], d[3];
  for (int c = 0; c < 3; ++c) {
    t[c] = UsedByte(e, c, mode, bright);
    d[c] = Byte(Dw, c);
  }
  if (mode == 0 && x.k == 0) {  // NOBLEND without a weight: a copy
    if (!TintOn(bright)) {
      dst = e;  // the whole word, spare byte included
    } else {
      for (int c = 0; c < 3; ++c) dst = WithByte(dst, c, t[c]);
    }
  } else if (mode == 1 && p == 128 && dep.halfAt128 && plainish) {
    dst = Halves(e, Dw);
  } else if (mode == 2 && p == 255 && dep.exactAdd && plainish) {
    dst = ExactAdd(e, Dw);
  } else if (mode == 3 && p == 255 && dep.exactSub && plainish) {
    dst = ExactSub(e, Dw);
  } else if (mode == 2 || mode == 3) {
    uint32_t S = 0;
    for (int c = 0; c < 3; ++c) S = WithByte(S, c, Amount(t[c], x, p));
    dst = mode == 2 ? PackedAdd(S, Dw) : PackedSub(S, Dw);
  } else if (mode == 4) {
    for (int c = 0; c < 3; ++c) dst = WithByte(dst, c, Mul(t[c], d[c], x));
  } else {  // NOBLEND with a weight, ALPHA, INVSRC, MULA: blend toward the target
    if (mode != 0) x.Add(p);
    for (int c = 0; c < 3; ++c) dst = WithByte(dst, c, Toward(d[c], Target(mode, t[c], d[c]), x.F, x.k));
  }
}

}  // namespace

bool Draws32(const Call& call) {
  const Departures& dep = kDepartures[call.drawer];
  if (!ModeHasRule(call.mode)) return false;
  if ((call.mode == 1 || call.mode == 2) && call.p == 0) return false;
  if (call.mode == 3 && call.p == 0)
    return !dep.flat && call.source == kPalette && dep.subZeroPalette;
  return true;
}

bool Visit32(const Call& call, uint32_t& dst, uint32_t texel, int w) {
  if (!Draws32(call)) return false;
  const Departures& dep = kDepartures[call.drawer];
  const int mode = call.mode == 1 && call.p == 255 ? 0 : call.mode;  // ALPHA 255 is NOBLEND
  if (dep.flat) {  // the prepared colour, no graph, no key, no alpha
    Draw(call, dep, mode, dst, PreparedColour(call.color, call.bright, dep.tintShift8), Weights{},
         false);
    return true;
  }
  const bool trans = call.trans || dep.alwaysTrans;
  const bool plainish = !call.graph && !TintOn(call.bright) && call.source != kAlpha;
  Weights x;
  if (call.graph) x.Add(w);
  uint32_t e = texel;
  if (call.source == kPalette) {  // the index against the key, then its palette entry
    if (trans && texel == call.key) return false;
    e = call.palette[texel & 0xFF];
  } else if (call.source == kKeyed) {  // the whole word against the key
    if (trans && texel == call.key) return false;
  } else {  // alpha: a = 0 skips, a = 255 draws without the weight a
    const int a = Byte(texel, 3);
    if (trans) {
      if (a == 0) return false;
      if (a != 255) x.Add(a);
    } else if (!(mode == 0 && dep.copyAlphaFlag0 && !call.graph && !TintOn(call.bright))) {
      x.Add(a);
    }
  }
  Draw(call, dep, mode, dst, e, x, plainish);
  return true;
}

}  // namespace page
