// The examples of the README's rule paragraphs ("Blend rules, 32-bit, in short" and "The
// transparent flag"), each drawn through the engine by the drawers it names, or by those of the
// rule it shows, and compared with the page's rules (examples_rules.h). The README gives colours,
// 0xRRGGBB, but where it gives a whole word.
#include "examples_rules.h"

namespace page {

namespace {

// Colours of the README over a destination whose spare byte is 0 (a 32-bit MEMIMG as the README
// clears it): the word written is the colour, but for ADD's spare byte.
constexpr std::initializer_list<Drawer> kFlat = {kFlatPolygon, kPixel, kBox, kLine, kShape};
constexpr std::initializer_list<Drawer> kSources = {kPlain, kStretch, kRota, kPolygon};
// A source word of alpha a above the colour.
uint32_t Alpha(int a, uint32_t colour) { return uint32_t(a) << 24 | colour; }

const ExampleList kReadme{
    {Doc::kReadme, "Example: ALPHA 128 of the colour 0x40C0FF over 0x203040 gives 0x30789F.",
     [](const Quote& q, Report& r) {
       const Call alpha{.mode = 1, .p = q.Int(0)};
       ExpectIn(q, r, kFlat, alpha, q.Hex(1), q.Hex(0), q.Hex(2));
       ExpectIn(q, r, kSources, alpha, q.Hex(1), q.Hex(0), q.Hex(2));
     }},
    {Doc::kReadme, "Example: a box of 0xFF9F07 under ALPHA at p = 255 over 0x203040 stores 0xFF9F07.",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kBox, .mode = 1, .p = q.Int(1)}, q.Hex(1), q.Hex(0), q.Hex(2));
     }},
    {Doc::kReadme,
     "Examples: an ADD line of the colour 0xF0A060 at p = 255 over 0x203040 writes the colour 0xFFD0A0, "
     "the word 0x01FFD0A0; a SUB box of 0x000000 at p = 255 over 0x203040 writes 0x213140.",
     [](const Quote& q, Report& r) {
       const Call add{.drawer = kLine, .mode = 2, .p = q.Int(1)};
       const uint32_t word = Drawn(add, q.Hex(1), q.Hex(0));
       r.Compare((word & 0xFFFFFF) == q.Hex(2), q.label(), 0, 0, word & 0xFFFFFF, q.Hex(2));
       Expect(q, r, add, q.Hex(1), q.Hex(0), q.Hex(3));
       Expect(q, r, Call{.drawer = kBox, .mode = 3, .p = q.Int(6)}, q.Hex(5), q.Hex(4), q.Hex(6));
     }},
    {Doc::kReadme,
     "Example: 0x010101 over 0x010101 gives 0x000000 pixel by pixel and stays 0x010101 on the run map.",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.mode = 1, .p = 128}, q.Hex(1), q.Hex(0), q.Hex(2));
       Expect(q, r, Call{.drawer = kPlainRuns, .mode = 1, .p = 128, .trans = true, .key = 0xFFFFFFFF}, q.Hex(1),
              q.Hex(0), q.Hex(3));
     }},
    {Doc::kReadme,
     "Examples, `DrawExtendMemImg` at another size, flag 0: alpha 255 weighs 255/256 (0xFF9F07 over "
     "black gives 0xFE9E06); alpha 0 weighs 0, so over the word 0x7F102030 NOBLEND, ALPHA, INVSRC and "
     "MULA leave the pixel as it was, ADD keeps the colour and clears the spare byte (0x00102030), SUB "
     "sets the lowest bits of green and red and clears the spare byte (0x00112130), and MUL turns the "
     "colour black (0x7F000000).",
     [](const Quote& q, Report& r) {
       Expect(q, r, Call{.drawer = kStretch, .source = kAlpha}, 0, Alpha(q.Int(1), q.Hex(0)), q.Hex(1));
       const uint32_t zero = Alpha(q.Int(6), q.Hex(0));
       for (int mode : {0, 1, 10, 11})
         Expect(q, r, Call{.drawer = kStretch, .mode = mode, .p = 200, .source = kAlpha}, q.Hex(2), zero, q.Hex(2));
       for (int mode = 2; mode <= 4; ++mode)
         Expect(q, r, Call{.drawer = kStretch, .mode = mode, .p = 200, .source = kAlpha}, q.Hex(2), zero,
                q.Hex(size_t(mode + 1)));
     }},
    {Doc::kReadme, "With flag 1 alpha 0 leaves 0x7F102030 in every mode, MUL too.",
     [](const Quote& q, Report& r) {
       for (int mode : {0, 1, 2, 3, 4, 10, 11})
         ExpectIn(q, r, kSources, Call{.mode = mode, .p = 200, .source = kAlpha, .trans = true}, q.Hex(0),
                  Alpha(q.Int(1), 0xFF9F07), q.Hex(0));
     }},
    {Doc::kReadme,
     "Example: its copy of the source word 0x00FF9F07 over 0x203040 writes 0x00FF9F07, and of "
     "0x7FFF9F07 writes 0x7FFF9F07.",
     [](const Quote& q, Report& r) {
       for (int mode : {0, 1}) {  // DrawMemImg, and DrawExtendMemImg at the source's own size
         Expect(q, r, Call{.mode = mode, .source = kAlpha}, q.Hex(1), q.Hex(0), q.Hex(2));
         Expect(q, r, Call{.mode = mode, .source = kAlpha}, q.Hex(1), q.Hex(3), q.Hex(4));
       }
     }},
};

}  // namespace

}  // namespace page
