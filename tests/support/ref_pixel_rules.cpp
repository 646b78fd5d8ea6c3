#include "tests/support/ref_pixel_rules.h"

#include <cstring>

namespace {

enum { NOBLEND, ALPHA, ADD, SUB, MUL, INVSRC, MULA, NONE };

int ModeOf(int blendMode) {
  switch (blendMode) {
    case 0: return NOBLEND;
    case 1: return ALPHA;
    case 2: return ADD;
    case 3: return SUB;
    case 4: return MUL;
    case 10: return INVSRC;
    case 11: return MULA;
    default: return NONE;
  }
}

int64_t FloorDiv(int64_t num, int64_t den) {
  int64_t q = num / den;
  if ((num % den) != 0 && num < 0) --q;
  return q;
}

int64_t Pow256(int n) {
  int64_t r = 1;
  for (int i = 0; i < n; ++i) r *= 256;
  return r;
}

// d + floor((target - d) * W / 256^n); n = 0 gives the target.
int32_t Blend(int32_t d, int32_t target, int64_t W, int n) {
  if (n == 0) return target;
  return static_cast<int32_t>(d + FloorDiv((target - d) * W, Pow256(n)));
}

// Channel c of a pixel: 32-bit byte c; 16-bit blue (bits 0-4), green (5-10), red (11-15).
uint32_t Chan(int dst16, uint32_t v, int c) {
  if (!dst16) return (v >> (8 * c)) & 0xFF;
  if (c == 0) return v & 31;
  if (c == 1) return (v >> 5) & 63;
  return (v >> 11) & 31;
}
uint32_t MaxOf(int dst16, int c) { return !dst16 ? 255 : (c == 1 ? 63 : 31); }
int BitsOf(int dst16, int c) { return !dst16 ? 8 : (c == 1 ? 6 : 5); }

uint32_t Compose(int dst16, const uint32_t ch[3], uint32_t keepHigh) {
  if (dst16) return (ch[2] << 11) | (ch[1] << 5) | ch[0];
  return keepHigh | (ch[2] << 16) | (ch[1] << 8) | ch[0];
}

}  // namespace

uint32_t RefMul255(uint32_t r, uint32_t i) { return (r * i) / 255; }
int32_t RefSigned255(int32_t r, int32_t x) { return (r * x) / 255; }  // C++ truncates toward 0
uint32_t RefMix6(uint32_t k, uint32_t y, uint32_t z) { return (y * k + z * (63 - k)) / 63; }

RefFamily RefFamilyPlainBlit() {
  RefFamily f;
  f.alphaHalfShortcut = true;
  f.alpha16MixTable = true;
  f.addNoOrAt255 = true;
  f.mmxAdd = true;
  f.mmxSub = true;
  f.subZeroDrawsNothingForPalette = true;
  f.noblendAlphaSourceCopies = true;
  return f;
}

RefFamily RefFamilyPlainBlitRuns() {
  RefFamily f = RefFamilyPlainBlit();
  f.alphaHalfShortcut = false;
  f.alpha16MixTable = false;
  f.addNoOrAt255 = false;
  f.mmxAdd = false;
  f.mmxSub = false;
  return f;
}

bool RefCallDraws(const RefFamily& fam, const RefState& st, int srcKind) {
  int mode = ModeOf(st.blendMode);
  int p = st.blendParam;
  if (mode == NONE) return false;
  if ((mode == ALPHA || mode == ADD) && p == 0) return false;
  if (mode == SUB && p == 0) {
    if (srcKind != REF_SRC_PAL) return false;
    if (fam.subZeroDrawsNothingForPalette) return false;
  }
  return true;
}

uint32_t RefPixel(const RefFamily& fam, const RefState& st, const RefPixelIn& in, uint32_t dst) {
  const int dst16 = in.dst16;
  int mode = ModeOf(st.blendMode);
  const int64_t p = st.blendParam;
  if (mode == ALPHA && p == 255) mode = NOBLEND;
  const bool tint = (st.bright & 0xFFFFFF) != 0xFFFFFF;
  const bool perPixel = in.runKind < 0;
  if (dst16) dst &= 0xFFFF;

  // The source colour as stored, and its alpha.
  uint32_t raw = 0, a = 0;
  if (in.srcKind == REF_SRC_PAL) {
    if (dst16) {
      uint16_t e;
      std::memcpy(&e, in.palette + 2 * in.src, 2);
      raw = e;
    } else {
      std::memcpy(&raw, in.palette + 4 * in.src, 4);
    }
  } else if (in.srcKind == REF_SRC_DIRECT) {
    raw = dst16 ? (in.src & 0xFFFF) : in.src;
  } else {
    raw = dst16 ? (in.src & 0xFFFF) : in.src;
    a = dst16 ? ((in.src >> 16) & 0xFF) : (in.src >> 24);
  }

  // Which pixels are drawn, and whether a weighs them.
  bool alphaW = false;
  if (!perPixel) {
    if (in.srcKind == REF_SRC_ALPHA) alphaW = in.runKind == 2;
  } else if (in.trans) {
    if (in.srcKind == REF_SRC_PAL) {
      if (in.src == in.key) return dst;
    } else if (in.srcKind == REF_SRC_DIRECT) {
      bool plainCopy = mode == NOBLEND && !in.graph && !tint;
      if (dst16 && fam.keyLow16InPlainCopy && plainCopy) {
        if ((raw & 0xFFFF) == (in.key & 0xFFFF)) return dst;
      } else if (raw == in.key) {
        return dst;
      }
    } else {
      if (a == 0) return dst;  // every mode, MUL included
      alphaW = a != 255;
    }
  } else if (in.srcKind == REF_SRC_ALPHA) {
    alphaW = !(mode == NOBLEND && fam.noblendAlphaSourceCopies && !in.graph && !tint);
  }

  const bool plainish = !in.graph && !tint && in.srcKind != REF_SRC_ALPHA;

  // The tinted (and for INVSRC inverted) source channels.
  uint32_t s[3], sRaw[3], d[3];
  for (int c = 0; c < 3; ++c) {
    uint32_t x = Chan(dst16, raw, c);
    sRaw[c] = x;
    d[c] = Chan(dst16, dst, c);
    uint32_t bright = (st.bright >> (8 * c)) & 0xFF;
    auto tintOf = [&](uint32_t v) { return fam.tintShift8 ? (v * bright) >> 8 : RefMul255(bright, v); };
    if (mode == INVSRC) {
      if (tint && fam.invsrcTintFirst) x = MaxOf(dst16, c) - tintOf(x);
      else {
        x = MaxOf(dst16, c) - x;
        if (tint) x = tintOf(x);
      }
    } else if (tint) {
      x = tintOf(x);
    }
    s[c] = x;
  }
  auto tintCh = [&](int c, uint32_t v) {
    uint32_t bright = (st.bright >> (8 * c)) & 0xFF;
    if (!tint) return v;
    return fam.tintShift8 ? (v * bright) >> 8 : RefMul255(bright, v);
  };

  // Weight factors.
  int nOther = (in.graph ? 1 : 0) + (alphaW ? 1 : 0);
  int64_t wOther = (in.graph ? int64_t(in.t) : 1) * (alphaW ? int64_t(a) : 1);
  const uint32_t keepX = dst & 0xFF000000u;
  uint32_t out[3];

  switch (mode) {
    case NOBLEND:
      if (nOther == 0) {
        if (!dst16 && !tint && fam.copyWholeWord) return raw;
        return Compose(dst16, s, keepX);
      }
      for (int c = 0; c < 3; ++c) out[c] = Blend(d[c], s[c], wOther, nOther);
      return Compose(dst16, out, keepX);

    case MUL:
      for (int c = 0; c < 3; ++c)
        out[c] = static_cast<uint32_t>((int64_t(s[c]) * d[c] * wOther) >>
                                       (BitsOf(dst16, c) + 8 * nOther));
      return Compose(dst16, out, keepX);

    case ALPHA:
    case INVSRC:
    case MULA: {
      if (mode == ALPHA && plainish && fam.alphaHalfShortcut && p == 128) {
        for (int c = 0; c < 3; ++c) out[c] = s[c] / 2 + d[c] / 2;
        return Compose(dst16, out, 0);  // 32-bit: byte 3 becomes 0
      }
      for (int c = 0; c < 3; ++c) {
        int32_t target = mode == MULA ? int32_t((s[c] * d[c]) >> BitsOf(dst16, c)) : int32_t(s[c]);
        int32_t dc = int32_t(d[c]);
        if (dst16 && nOther == 0) {
          if (mode == ALPHA && plainish && fam.alpha16MixTable && p != 128)
            out[c] = RefMix6(uint32_t(p >> 2), s[c], d[c]);
          else
            out[c] = uint32_t(dc + RefSigned255(int32_t(p), target - dc));
        } else if (dst16 && mode == MULA && c == 1 && fam.mulaFineGreen16 && alphaW && !in.graph &&
                   !tint) {
          int64_t M = (int64_t(s[1]) * d[1]) / 2;
          out[c] = uint32_t(dc + FloorDiv((M - 32 * dc) * int64_t(a) * p, 2097152));
        } else {
          out[c] = uint32_t(Blend(dc, target, wOther * p, nOther + 1));
        }
      }
      return Compose(dst16, out, keepX);
    }

    case ADD:
    case SUB: {
      if (!dst16 && plainish && p == 255 && st.mmx == 1 &&
          (mode == ADD ? fam.mmxAdd : fam.mmxSub)) {
        uint32_t r = 0;
        for (int i = 0; i < 4; ++i) {
          int32_t x = (raw >> (8 * i)) & 0xFF, y = (dst >> (8 * i)) & 0xFF;
          int32_t v = mode == ADD ? x + y : y - x;
          v = v < 0 ? 0 : (v > 255 ? 255 : v);
          r |= uint32_t(v) << (8 * i);
        }
        return r;
      }
      // The amount per channel.
      uint32_t A[3];
      for (int c = 0; c < 3; ++c) {
        if (!dst16) {
          if (nOther == 0) A[c] = RefMul255(uint32_t(p), s[c]);
          else A[c] = uint32_t((int64_t(s[c]) * wOther * p) >> (8 * (nOther + 1)));
        } else {
          uint32_t inner;
          if (nOther == 0) inner = s[c];
          else if (alphaW && !in.graph && fam.alphaBeforeTint16) inner = tintCh(c, (sRaw[c] * a) >> 8);
          else inner = uint32_t((int64_t(s[c]) * wOther) >> (8 * nOther));
          A[c] = RefMul255(uint32_t(p), inner);
        }
      }
      if (mode == ADD) {
        bool lowOr = !(plainish && p == 255 && fam.addNoOrAt255);
        if (!dst16) {
          uint32_t b = A[0] + d[0];
          bool bo = b > 255;
          out[0] = bo ? 255 : b;
          uint32_t gu = (A[1] >> 1) + (d[1] >> 1);
          bool go = gu > 127;
          out[1] = go ? 255 : ((gu << 1) | (bo ? 1 : 0) | (lowOr ? ((A[1] | d[1]) & 1) : 0));
          uint32_t ru = (A[2] >> 1) + (d[2] >> 1);
          bool ro = ru > 127;
          out[2] = ro ? 255 : ((ru << 1) | (go ? 1 : 0) | (lowOr ? ((A[2] | d[2]) & 1) : 0));
          return Compose(0, out, ro ? 0x01000000u : 0);
        }
        uint32_t b = A[0] + d[0];
        bool bo = b > 31;
        out[0] = bo ? 31 : b;
        uint32_t gu = (A[1] >> 1) + (d[1] >> 1);
        bool go = gu > 31;
        out[1] = ((go ? 31 : gu) << 1) | (bo ? 1 : 0) | (lowOr ? ((A[1] | d[1]) & 1) : 0);
        uint32_t ru = (A[2] >> 1) + (d[2] >> 1);
        out[2] = ru > 15 ? 31 : ((ru << 1) | (go ? 1 : 0) | (lowOr ? ((A[2] | d[2]) & 1) : 0));
        return Compose(1, out, 0);
      }
      if (!dst16) {
        int32_t b = int32_t(d[0]) - int32_t(A[0]);
        bool bb = b < 0;
        out[0] = bb ? 0 : uint32_t(b);
        int32_t g = int32_t(d[1] | 1) - int32_t(A[1] & 0xFE) - (bb ? 1 : 0);
        bool gb = g < 0;
        out[1] = gb ? 0 : uint32_t(g);
        int32_t r = int32_t(d[2] | 1) - int32_t(A[2] & 0xFE) - (gb ? 1 : 0);
        out[2] = r < 0 ? 0 : uint32_t(r);
        return Compose(0, out, 0);
      }
      int32_t b = int32_t(d[0]) - int32_t(A[0]);
      out[0] = b < 0 ? 0 : uint32_t(b);
      int32_t gu = int32_t(d[1] >> 1) - int32_t(A[1] >> 1);
      out[1] = gu < 0 ? 0 : uint32_t(gu) << 1;
      int32_t ru = int32_t(d[2] >> 1) - int32_t(A[2] >> 1);
      out[2] = ru < 0 ? 0 : ((uint32_t(ru) << 1) | (gu >= 0 ? 1 : 0));
      return Compose(1, out, 0);
    }
  }
  return dst;
}
