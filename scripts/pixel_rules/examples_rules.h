// What the rules' examples share (examples_rules.cpp, examples_rules16.cpp, examples_readme.cpp):
// one pixel drawn through the engine under a call's settings, and the same pixel by the page's
// rules, each compared with the value a quote states.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "page_model.h"
#include "page_text.h"

namespace page {

// Tints as SetDrawBright takes them, red << 16 | green << 8 | blue (Call::bright).
constexpr uint32_t kTint128 = 0x808080, kTint254 = 0xFFFFFE, kTint0 = 0x000000;

// Pixel (1, 1) of a 4 x 4 destination of call.format filled with dst, after one draw by
// call.drawer under call's mode, p, tint and flag, from a source of the one colour src: the
// pixel word (an alpha source's word with its alpha), the palette entry of index 1 (palettised;
// the key is call.key, an index), or the colour (flat drawers). w >= 0: a blend graph of bytes w,
// under SetBlendGraph(-1, 128, 255), which weighs each byte by its own value. kPlainRuns uploads
// the source whole (call.trans must be set).
uint32_t Drawn(const Call& call, uint32_t dst, uint32_t src, int w = -1);
// The same pixel by the page's rules (Visit).
uint32_t Modelled(const Call& call, uint32_t dst, uint32_t src, int w = -1);
// Drawn and Modelled, each against want.
void Expect(const Quote& q, Report& r, const Call& call, uint32_t dst, uint32_t src, uint32_t want,
            int w = -1);
// Expect with each of the drawers in call's place.
void ExpectIn(const Quote& q, Report& r, std::initializer_list<Drawer> drawers, Call call,
              uint32_t dst, uint32_t src, uint32_t want, int w = -1);
// One channel of the pixel, byte c of the word (0 blue, 1 green, 2 red), against want.
void ExpectByte(const Quote& q, Report& r, const Call& call, uint32_t dst, uint32_t src, int c, int want);
// A worked-values row "| setting | Dw | e | result |": its first three hex numbers.
void Row(const Quote& q, Report& r, const Call& call, int w = -1);
// A formula of a quote: the word written for the source colour S over Dw, its constants taken
// from the quote.
using Formula = uint32_t (*)(const Quote& q, uint32_t S, uint32_t Dw);
// The formula against the drawn pixel and the page's rules, over seeded random (S, Dw) pairs of
// call.format: S a source word or colour (a whole 32-bit word, or a 5:6:5 value), Dw the
// destination.
void Pairs(const Quote& q, Report& r, const Call& call, Formula formula);

// Byte c of a word (0 blue or the lowest).
inline int ByteOf(uint32_t word, int c) { return int(word >> (8 * c) & 0xFF); }

}  // namespace page
