// Reference model of the circle and oval drawers: slow and literal, written from the rules.
//
// The geometry is the literal step-by-step walk (one move at a time, 64-bit), producing the list
// of pixel visits in drawing order after clipping and row flags. The pixel rules are the
// channel-by-channel statements of each blend mode (carries, borrows and lost low bits of the
// packed forms spelled out per channel), with plain division instead of tables.
#pragma once
#include <cstdint>
#include <vector>

struct RefVisit {
  int64_t x, y;
};

struct RefShapeState {
  int64_t left = 0, top = 0, right = 0, bottom = 0;  // clip, right and bottom exclusive
  int mode = 0;
  int param = 255;
  uint32_t bright = 0xFFFFFF;
};

// Pixels visited by a circle / oval, in order, already clipped to [left, right) x [top, bottom).
std::vector<RefVisit> RefCircleVisits(int64_t cx, int64_t cy, int64_t r, bool fill, const RefShapeState& st);
std::vector<RefVisit> RefOvalVisits(int64_t cx, int64_t cy, int64_t rx, int64_t ry, bool fill,
                                    const RefShapeState& st);

// The shape colour after the bright tint, for format 0 (5:6:5, colour masked to 16 bits) or 1.
uint32_t RefShapeTint(uint32_t colour, uint32_t bright, int format);
// One visit of the blend mode's rule: new pixel from the old one (16-bit value or 32-bit word).
// mode is a BLENDMODE value among 0..4, 10, 11; the p short cuts are not applied here.
uint32_t RefShapePixel(int format, int mode, int p, uint32_t tintedColour, uint32_t d);

// Whole drawing into a packed pixel copy (rows of width * bytes per pixel): tint, short cuts,
// visits, rule. format 0 or 1; the caller's state's clip must lie inside the image.
void RefDrawCircle(std::vector<uint8_t>& px, int width, int format, const RefShapeState& st, int64_t cx,
                   int64_t cy, int64_t r, uint32_t colour, bool fill);
void RefDrawOval(std::vector<uint8_t>& px, int width, int format, const RefShapeState& st, int64_t cx,
                 int64_t cy, int64_t rx, int64_t ry, uint32_t colour, bool fill);
