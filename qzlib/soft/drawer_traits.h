// The rule families of the stretched blit, the rotated blit and the flat drawers (pixel, box,
// line): each one's departures from the common per-pixel rules of pixel_rules.h.
#pragma once
#include <qzlib/soft/pixel_rules.h>

// Stretched blit: the common rules as they stand. SUB at p = 255 without blend graph, tint and
// source alpha takes the per-byte saturating subtract of whole words when MmxUsableFlag is 1
// (32-bit); the 16-bit plain copy compares the low 16 bits of the colour key; a palettised SUB
// at p = 0 runs with amounts 0.
constexpr SoftFamily kSoftFamilyStretch = [] {
  SoftFamily f{};
  f.MmxSub = 1;
  f.KeyLow16InPlainCopy = 1;
  return f;
}();

// Rotated blit, both destination formats: no MMX subtract (SUB is the packed subtract for every
// p); every loop compares the whole 32-bit colour key, the 16-bit plain copy included.
constexpr SoftFamily kSoftFamilyRota = [] {
  SoftFamily f{};
  f.KeyLow16InPlainCopy = 0;
  return f;
}();

// Flat colour of the pixel, box and line drawers: the colour is tinted once per call by
// (channel * bright) >> 8 (the spare byte of a 32-bit colour kept), and the loops run untinted on
// that prepared colour, so NOBLEND stores the whole prepared word and INVSRC inverts the tinted
// colour. SUB at p = 0 draws nothing (a flat colour is a direct source). No MMX forms.
constexpr SoftFamily kSoftFamilyFlat = [] {
  SoftFamily f{};
  f.TintShift8 = 1;
  f.InvsrcTintFirst = 1;  // holds through the prepared colour
  f.CopyWholeWord = 1;
  return f;
}();
