// Reference model of the per-pixel rules: a slow, obvious model of what one drawn pixel does to a
// 32-bit or 16-bit destination, written channel by channel from the rules' own statements. It
// uses no table and no packed arithmetic: divisions are divisions, the packed add and subtract are
// modelled by their channel statements (lost low bits and carries included), the MMX rules as
// per-byte saturation. A drawer family's departures are an explicit runtime RefFamily, so each
// drawer's tests state which rules they expect.
#pragma once
#include <cstdint>

// Source kinds.
enum : int { REF_SRC_PAL = 0, REF_SRC_DIRECT = 1, REF_SRC_ALPHA = 2 };

// The departures of one drawer family (see each field).
struct RefFamily {
  bool alphaHalfShortcut = false;   // ALPHA p=128, no graph, no tint, no-alpha source: s/2 + d/2
  bool alpha16MixTable = false;     // 16-bit ALPHA other p under the same conditions: 6-bit mix
  bool addNoOrAt255 = false;        // ADD p=255, same conditions: no OR of the operands' low bits
  bool mmxAdd = false;              // 32-bit ADD p=255, same conditions, MMX flag 1: byte saturation
  bool mmxSub = false;              // 32-bit SUB likewise
  bool subZeroDrawsNothingForPalette = false;  // SUB p=0 draws nothing for palettised sources too
  bool noblendAlphaSourceCopies = false;  // NOBLEND, alpha source, trans 0, no graph/tint: copy
  bool invsrcTintFirst = false;     // INVSRC: tint, then invert (else invert, then tint)
  bool copyWholeWord = true;        // 32-bit untinted copy writes the whole word (byte 3 included)
  bool keyLow16InPlainCopy = false; // 16-bit plain copy compares the low 16 bits of the key
  bool tintShift8 = false;          // tint is (c * bright) >> 8 instead of floor(c * bright / 255)
  bool alphaBeforeTint16 = true;    // 16-bit ADD/SUB, alpha, no graph: weigh by a, then tint
  bool mulaFineGreen16 = true;      // 16-bit MULA weighed by a alone, no tint: finer green
};

// The plain blit's per-pixel path and its run-map fast path (which has none of the short cuts).
RefFamily RefFamilyPlainBlit();
RefFamily RefFamilyPlainBlitRuns();

// The draw state one call reads.
struct RefState {
  int blendMode = 0;        // BLENDMODE value (any int)
  int blendParam = 255;     // 0..255
  uint32_t bright = 0xFFFFFF;
  int mmx = 1;              // MmxUsableFlag
};

// Whether a call with this state draws anything at all (mode and p short cuts).
bool RefCallDraws(const RefFamily& fam, const RefState& st, int srcKind);

// One source pixel onto one destination pixel.
struct RefPixelIn {
  int dst16 = 0;            // 1: 5:6:5 destination
  int srcKind = REF_SRC_DIRECT;
  uint32_t src = 0;         // palette index, 16-bit colour, or 32-bit word (16-bit alpha: colour
                            // in bits 0-15, alpha in bits 16-23)
  const uint8_t* palette = nullptr;  // first palette table (4-byte or 2-byte entries)
  uint32_t key = 0;         // source colour key
  int trans = 0;
  bool graph = false;       // a blend graph is given
  uint32_t t = 0;           // the blend-graph weight (table value) when graph
  int runKind = -1;         // -1: per-pixel path; 1 opaque run, 2 translucent run (fast path)
};
// Returns the destination value after the draw (32-bit word, or 16-bit value in the low bits).
// Assumes RefCallDraws is true.
uint32_t RefPixel(const RefFamily& fam, const RefState& st, const RefPixelIn& in, uint32_t dst);

// Channel helpers written from the rules (exposed for drawer tests).
uint32_t RefMul255(uint32_t r, uint32_t i);       // floor(r * i / 255)
int32_t RefSigned255(int32_t r, int32_t x);       // trunc(r * x / 255)
uint32_t RefMix6(uint32_t k, uint32_t y, uint32_t z);  // floor((y*k + z*(63-k)) / 63)
