// Wide rows: destinations 1,045 to 1,100 pixels wide (1,026 or more of them drawn) and a few
// rows tall, so that the drawers' vector row loops run whole groups, their aligning first group
// and their remainders, over rows that start aligned or not and lie back to back or padded.
// Drawers and paths: the plain blit pixel by pixel and on its run map (direct and alpha sources),
// the stretch to exactly half the source's width, the filled box, flat triangles and filled
// ovals. The draw area is limited to the screen: main.cpp's is 1,280 pixels wide.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "sweep.h"

namespace page {
namespace {

// Where the rows of the destination and the source lie, and where the draw starts (FirstColumn).
enum Layout : int {
  kBackToBack,  // first pixel on a 32-byte boundary, no padding, drawn from column 0 whole
  kPadded,      // first pixel on a 32-byte boundary, rows padded
  kOffPixels,   // first pixel whole pixels past a boundary, no padding
  kOffBytes,    // first pixel an odd number of bytes past a boundary, odd padding
  kLayoutCount
};
const char* const kLayoutNames[kLayoutCount] = {
    "rows back to back from column 0", "aligned, padded", "off by pixels, back to back",
    "off by bytes, padded"};

// The rows of one surface of the layout (bytes: its pixel size).
void Place(SurfaceKind& kind, Layout layout, int bytes, std::mt19937& rng) {
  kind.pad = kind.offset = 0;
  if (layout == kPadded) kind.pad = bytes * (1 + int(rng() % 8));
  if (layout == kOffPixels) kind.offset = bytes * (1 + int(rng() % 7));
  if (layout == kOffBytes) {
    kind.pad = 1 + int(rng() % 15);
    kind.offset = 1 + 2 * int(rng() % 15);
  }
}

// The first column drawn: 0, or one that is no multiple of 4, 8 or 16.
int FirstColumn(Layout layout, std::mt19937& rng) {
  static const int kColumns[] = {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15};
  return layout == kBackToBack ? 0 : kColumns[rng() % 12];
}

// The source kinds of the blits: direct colour with its key (16-bit: half of them above 0xFFFF),
// alpha.
const Source kBlitSources[] = {kKeyed, kAlpha};

// One case: the call, its layout, its name.
struct WideCase {
  Call call;
  Layout layout;
  std::string name;
};

// Every combination of the drawer: format, source (flat: none), mode, parameter, flag (flat:
// tint) and layout; run(c, p drawn at random) for each selected one.
template <class Run>
void EachCase(Drawer drawer, const std::string& pass, Run run) {
  const bool flat = drawer == kBox || drawer == kFlatPolygon || drawer == kShape;
  for (int format = 0; format <= 1; ++format)
    for (int si = 0; si < (flat ? 1 : 2); ++si)
      for (int m = 0; m < kModeCount; ++m)
        for (int pi = 0; pi < kParamCount; ++pi)
          for (int flag = 0; flag <= 1; ++flag)
            for (int layout = 0; layout < kLayoutCount; ++layout) {
              WideCase c;
              Call& call = c.call;
              call.drawer = drawer;
              call.format = format;
              call.mode = kModes[m];
              call.source = flat ? kFlat : kBlitSources[si];
              call.p = kParams[pi] < 0 ? 0 : kParams[pi];
              call.trans = !flat && flag;
              call.bright = flat && flag ? 0 : 0xFFFFFF;
              if (drawer == kPlainRuns && !flag) continue;  // the run map is walked with flag 1
              c.layout = Layout(layout);
              c.name = "wide " + CaseName(call, m) + ", " + kLayoutNames[layout] +
                       (kParams[pi] < 0 ? " (random p)" : "") + pass;
              if (Selected(c.name)) run(c, kParams[pi] < 0);
            }
}

}  // namespace

void SweepWide(Report& report, Drawer drawer, const std::string& pass) {
  EachCase(drawer, pass, [&](WideCase& c, bool randomP) {
    Call& call = c.call;
    const std::string& name = c.name;
    std::mt19937 rng(SeedOf(name));
    if (randomP) call.p = int(rng() % 256);
    if (call.bright != 0xFFFFFF) call.bright = RandomBright(rng);
    const int bytes = call.format == 0 ? 2 : 4;
    const int width = 1045 + int(rng() % 56), height = drawer == kShape ? 7 : 5;
    const int x = FirstColumn(c.layout, rng);
    // The columns drawn from x: to the right edge, or a few short of it.
    const int cols = width - x - (c.layout == kBackToBack ? 0 : int(rng() % 5));
    SurfaceKind dk{width, height, call.format, false, false, 0};
    Place(dk, c.layout, bytes, rng);
    Surface dst(dk);
    dst.Fill(uint32_t(rng()));
    const Area area{0, 0, width, height};
    std::vector<uint32_t> want = dst.Pixels();
    const uint32_t colourMask = call.format == 0 ? 0xFFFF : 0xFFFFFFFF;
    const long long first = report.visits;
    SetState(call, area);

    if (call.source == kFlat) {
      // Two draws, each in a colour of its own, the second over the first.
      std::vector<Shot> shots(2);
      if (drawer == kBox) {
        const int x2 = int(rng() % 16), cols2 = width - x2 - int(rng() % 8);
        shots[0] = {Shot::kBox, {x, 1, x + cols, height - 1}};
        shots[1] = {Shot::kBox, {x2, 0, x2 + cols2, 2 + int(rng() % 3)}};
      } else if (drawer == kFlatPolygon) {  // a quadrangle as two triangles, rows of ~cols
        const int bl = x + int(rng() % 9) - 4, br = x + cols + int(rng() % 9) - 4;
        const int corners[4][2] = {{x, 0}, {x + cols, 0}, {bl, height}, {br, height}};
        const int pick[2][3] = {{0, 1, 2}, {1, 3, 2}};
        for (int t = 0; t < 2; ++t) {
          shots[size_t(t)].kind = Shot::kTriangle;
          for (int k = 0; k < 3; ++k) {
            shots[size_t(t)].triangle[k][0] = corners[pick[t][k]][0];
            shots[size_t(t)].triangle[k][1] = corners[pick[t][k]][1];
          }
        }
      } else {  // filled ovals of ~cols across, flat
        const int rx = cols / 2;
        shots[0] = {Shot::kOval, {x + rx, 3, rx, 1 + int(rng() % 3)}};
        shots[1] = {Shot::kOval,
                    {x + rx + int(rng() % 9) - 4, 2 + int(rng() % 3), rx - int(rng() % 4), 1}};
        shots[0].fill = shots[1].fill = true;
      }
      for (const Shot& shot : shots) {
        call.color = uint32_t(rng()) & colourMask;
        DrawAndPredict(report, name, want, call, shot, dst, nullptr, nullptr, area);
      }
    } else {
      // A key the source holds, or (16-bit, half of them) one above 0xFFFF, which skips nothing.
      const bool wideKey = call.format == 0 && call.source == kKeyed && rng() % 2;
      SurfaceKind sk{0, 0, call.format, false, call.source == kAlpha, 0};
      sk.key = PickKey(call, wideKey, rng);
      Place(sk, c.layout, call.source == kAlpha ? 4 : bytes, rng);
      Shot shot;
      if (drawer == kStretch) {  // to exactly half the source's width: every second column
        sk.width = 2 * cols;
        sk.height = 6;
        shot = {Shot::kStretched, {x, 1, x + cols, 1 + 2 + int(rng() % 3)}};
      } else {
        sk.width = cols;
        sk.height = 3;
        shot = {Shot::kAt, {x, 1}};
      }
      Surface src(sk);
      src.Fill(uint32_t(rng()), true);
      if (drawer == kPlainRuns && !src.UploadWhole()) {
        ++report.differences;
        std::printf("    %s: the source's run map was not built\n", name.c_str());
        return;
      }
      call.key = sk.key;
      DrawAndPredict(report, name, want, call, shot, dst, &src, nullptr, area);
    }
    Fewest(report, report.visits - first);
    Expect(report, name, dst, want);
  });
}

}  // namespace page
