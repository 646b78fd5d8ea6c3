// The 32-bit rules of docs/pixel-rules.md ("32-bit destinations"), one function per rule of the
// page, and the page's table of where each drawer departs from them.
#include "page_model.h"

namespace page {
namespace {

// ---- Where the drawers depart --------------------------------------------------------------

// One row per drawer: the page's table "Where the 32-bit drawers depart".
struct Departures {
  bool flat;             // no source: the colour is prepared once (tint, spare byte kept)
  bool tintShift8;       // flat colour tinted by (c * bright) >> 8 (else through M)
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

// Tint of a source byte through M (channel c of DrawBright); INVSRC inverts first.
int SourceByte(uint32_t word, int c, int mode, uint32_t bright) {
  int s = Byte(word, c);
  if (mode == 10) s = 255 - s;
  if (TintOn(bright)) s = M(Byte(bright, c), s);
  return s;
}

// The flat colour, prepared once: B, G, R tinted (through M or by (c * b) >> 8), spare byte kept.
uint32_t PreparedColour(uint32_t colour, uint32_t bright, bool shift8) {
  if (!TintOn(bright)) return colour;
  uint32_t out = colour;
  for (int c = 0; c < 3; ++c) {
    const int b = Byte(bright, c), x = Byte(colour, c);
    out = WithByte(out, c, shift8 ? (x * b) >> 8 : M(b, x));
  }
  return out;
}

// Blend toward a target: D = (d 2^k + (t - d) W) >> k, the shift rounding down.
int Toward(int d, int t, uint64_t W, int k) {
  const int64_t v = (int64_t(d) << k) + int64_t(t - d) * int64_t(W);
  return int(v >> k);
}

// Packed ADD of the amounts S (B, G, R) onto the word D.
uint32_t PackedAdd(uint32_t S, uint32_t D) {
  const uint32_t t = (S & 0x00FEFEFFu) + (D & 0x00FEFEFFu);
  const uint32_t c = t & 0x01010100u;
  return (c - (c >> 8)) | ((S | D) & 0x00010100u) | t;
}

// Packed SUB of the amounts S (B, G, R) from the word D.
uint32_t PackedSub(uint32_t S, uint32_t D) {
  const uint32_t t = (D | 0x01010100u) - (S & 0xFEFEFEFFu);
  const uint32_t g = t & 0x01010100u;
  return t & (g - (g >> 8));
}

// Exact per-byte ADD and SUB of two whole words, all four bytes, limited to 0..255.
uint32_t ExactAdd(uint32_t S, uint32_t D) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const int v = Byte(D, c) + Byte(S, c);
    out = WithByte(out, c, v > 255 ? 255 : v);
  }
  return out;
}
uint32_t ExactSub(uint32_t S, uint32_t D) {
  uint32_t out = 0;
  for (int c = 0; c < 4; ++c) {
    const int v = Byte(D, c) - Byte(S, c);
    out = WithByte(out, c, v < 0 ? 0 : v);
  }
  return out;
}

// The ALPHA p = 128 short cut: floor(s / 2) + floor(d / 2) per byte, spare byte 0.
uint32_t Halves(uint32_t S, uint32_t D) { return ((S >> 1) & 0x7F7F7Fu) + ((D >> 1) & 0x7F7F7Fu); }

// What a drawn pixel is weighed by: W, the product of the factors, and k = 8 per factor.
struct Weight {
  uint64_t W = 1;
  int k = 0;
  void Add(int factor) { W *= uint64_t(factor); k += 8; }
};

// The ADD and SUB amount of a source byte: M[p][s'] when p is the only factor, else
// (s' W p) >> (k + 8) (W, k without p).
int Amount(int s, const Weight& weight, int p) {
  if (weight.k == 0) return M(p, s);
  return int((uint64_t(s) * weight.W * uint64_t(p)) >> (weight.k + 8));
}

// MUL: D = (s' W d) >> (k + 8); p is not a factor.
int Mul(int s, int d, const Weight& weight) {
  return int((uint64_t(s) * weight.W * uint64_t(d)) >> (weight.k + 8));
}

// The target of the blend: (s' d) >> 8 for MULA, else s' (INVSRC: already inverted).
int Target(int mode, int s, int d) { return mode == 11 ? (s * d) >> 8 : s; }

// One drawn pixel by the rule of its mode: word is the source word as stored (palette entry,
// source word or prepared colour), weight holds the factors w and a (p is added here).
void Draw(const Call& call, const Departures& dep, int mode, uint32_t& dst, uint32_t word,
          Weight weight, bool plainish) {
  const int p = call.p;
  const uint32_t bright = dep.flat ? 0xFFFFFFu : call.bright;  // flat: tinted already
  const uint32_t D = dst;
  int s[3], d[3];
  for (int c = 0; c < 3; ++c) {
    s[c] = SourceByte(word, c, mode, bright);
    d[c] = Byte(D, c);
  }
  if (mode == 0 && weight.k == 0) {  // NOBLEND without a factor: a copy
    if (!TintOn(bright)) {
      dst = word;  // the whole word, spare byte included
    } else {
      for (int c = 0; c < 3; ++c) dst = WithByte(dst, c, s[c]);
    }
  } else if (mode == 1 && p == 128 && dep.halfAt128 && plainish) {
    dst = Halves(word, D);
  } else if (mode == 2 && p == 255 && dep.exactAdd && plainish) {
    dst = ExactAdd(word, D);
  } else if (mode == 3 && p == 255 && dep.exactSub && plainish) {
    dst = ExactSub(word, D);
  } else if (mode == 2 || mode == 3) {
    uint32_t S = 0;
    for (int c = 0; c < 3; ++c) S = WithByte(S, c, Amount(s[c], weight, p));
    dst = mode == 2 ? PackedAdd(S, D) : PackedSub(S, D);
  } else if (mode == 4) {
    for (int c = 0; c < 3; ++c) dst = WithByte(dst, c, Mul(s[c], d[c], weight));
  } else {  // NOBLEND with a factor, ALPHA, INVSRC, MULA: blend toward the target
    if (mode != 0) weight.Add(p);
    for (int c = 0; c < 3; ++c) {
      const int t = Target(mode, s[c], d[c]);
      dst = WithByte(dst, c, Toward(d[c], t, weight.W, weight.k));
    }
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
    Draw(call, dep, mode, dst, PreparedColour(call.color, call.bright, dep.tintShift8), Weight{},
         false);
    return true;
  }
  const bool trans = call.trans || dep.alwaysTrans;
  const bool plainish = !call.graph && !TintOn(call.bright) && call.source != kAlpha;
  Weight weight;
  if (call.graph) weight.Add(w);
  uint32_t word = texel;
  if (call.source == kPalette) {  // the index against the key, then its palette entry
    if (trans && texel == call.key) return false;
    word = call.palette[texel & 0xFF];
  } else if (call.source == kKeyed) {  // the whole word against the key
    if (trans && texel == call.key) return false;
  } else {  // alpha: a = 0 skips, a = 255 draws without the factor a
    const int a = Byte(texel, 3);
    if (trans) {
      if (a == 0) return false;
      if (a != 255) weight.Add(a);
    } else if (!(mode == 0 && dep.copyAlphaFlag0 && !call.graph && !TintOn(call.bright))) {
      weight.Add(a);
    }
  }
  Draw(call, dep, mode, dst, word, weight, plainish);
  return true;
}

}  // namespace page
