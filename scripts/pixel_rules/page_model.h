// The rules of docs/pixel-rules.md, written out plainly from the page: what one visit of a MEMIMG
// drawer does to one destination pixel, and which pixels a drawer visits. Slow and obvious on
// purpose; the program compares them with the drawers (main.cpp).
#pragma once
#include <cstdint>
#include <optional>
#include <vector>

namespace page {

// The drawers, and the paths of one drawer whose pixel rules differ.
enum Drawer : int {
  kPlain,        // DrawMemImg, pixel by pixel
  kPlainRuns,    // DrawMemImg walking the source's run map (flag 1, uploaded whole, unclipped)
  kStretch,      // DrawExtendMemImg at another size or mirrored (not handed to DrawMemImg)
  kRota,         // DrawRotaMemImg without the turn flag
  kPolygon,      // DrawPolygonMemImg with a source; DrawQuadMemImg; DrawRotaMemImg turned
  kFlatPolygon,  // DrawPolygonMemImg without a source
  kPixel,        // DrawPixelMemImg
  kBox,          // DrawFillBoxMemImg
  kLine,         // DrawLineMemImg, DrawLinesMemImg
  kShape,        // DrawCircleMemImg, DrawOvalMemImg
  kDrawerCount
};
const char* DrawerName(Drawer d);

// What the source is: a direct-colour source without alpha (its colour key compared), a
// palettised one, one with alpha, or none (the flat colour of the flat drawers).
enum Source : int { kKeyed, kPalette, kAlpha, kFlat };

struct Call {
  Drawer drawer = kPlain;
  int format = 1;                  // destination (and source) format: 0 16-bit 5:6:5, 1 32-bit
  int mode = 0;                    // BLENDMODE value
  int p = 255;                     // DrawBlendParam
  uint32_t bright = 0xFFFFFF;      // the tint: SetDrawBright(red, green, blue) as red << 16 | green << 8 | blue
  Source source = kKeyed;
  bool trans = false;              // the transparent flag
  bool graph = false;              // a blend graph is given
  int graphBorder = 128, graphRange = 200;  // its weights: SetBlendGraph(-1, border, range)
  uint32_t key = 0;                // the source's colour key
  const uint32_t* palette = nullptr;  // kPalette: entry i as stored (32-bit word or 5:6:5 value)
  uint32_t color = 0;              // kFlat: the colour argument
};

// False when the call draws nothing at all (its mode, or a short cut on p); Draws32 and Draws16
// for each format (rules32.cpp, rules16.cpp).
bool Draws(const Call& call);
bool Draws32(const Call& call);
bool Draws16(const Call& call);
// One visit of a pixel. dst: the destination pixel as stored (a 32-bit word with its spare byte,
// or a 16-bit value), updated in place. texel: the source pixel as stored (palette index, 16-bit
// colour, 32-bit word; a 16-bit source with alpha as its 32-bit word, alpha in bits 16-23);
// unused for kFlat. w: the blend-graph weight of the texel (GraphWeight), used when call.graph.
// Returns false when the pixel is left as it was by a skip.
bool Visit(const Call& call, uint32_t& dst, uint32_t texel, int w);
// Visit for each format, as the page gives them (rules32.cpp, rules16.cpp).
bool Visit32(const Call& call, uint32_t& dst, uint32_t texel, int w);
bool Visit16(const Call& call, uint32_t& dst, uint32_t texel, int w);

// The tables of the page: M[i][j] = floor(i j / 255), N[i][j] = trunc(i j / 255) (j from -255
// to 255), X6[i][j][l] = floor((j i + l (63 - i)) / 63).
int M(int i, int j);
int N(int i, int j);
int X6(int i, int j, int l);
// The weight w of a blend-graph byte under SetBlendGraph's border and range.
int GraphWeight(int byte, int border, int range);

// ---- Which pixels a drawer visits ---------------------------------------------------------------

// One visit: destination pixel (x, y) and the source texel (u, v) it shows (-1, -1 for the flat
// drawers). A drawer's visits come in the order it makes them; a pixel may be visited twice.
struct Hit {
  int x, y, u, v;
};
using Hits = std::vector<Hit>;
// The area a call clips to: DrawArea limited to the destination view (left, top inclusive;
// right, bottom exclusive).
struct Area {
  int left, top, right, bottom;
};

// geometry_blits.cpp. W, H: the source's width and height.
Hits PlainHits(int W, int H, int x, int y, const Area& area);
Hits StretchHits(int W, int H, int left, int top, int right, int bottom, const Area& area);
Hits RotaHits(int W, int H, int x, int y, float angle, float scale, bool turn, const Area& area);
// The rotated blit's angle constants: sin and cos of the float angle as floats, times 2^18,
// truncated.
struct RotaFixed {
  int64_t sin18, cos18;
};
RotaFixed RotaConstants(float angle);
// The rotated blit's steps 2, 4 and 5 without the turn flag: the corners in 14.18, the bounding
// box before and after clipping, and the inverse mapping; nothing when the call draws nothing.
struct RotaMap {
  int64_t X[4], Y[4];
  Area box, clipped;
  int64_t ix, jt, jb, Ut, Vt, Ub, Vb, Ux, Vx, Uy, Vy;
};
std::optional<RotaMap> RotaMapping(int W, int H, int x, int y, float angle, float scale, const Area& area);
// geometry_shapes.cpp. Vertices: x, y, u, v each; W = H = 0 for a flat triangle.
Hits PolygonHits(const int (*vertices)[4], int W, int H, const Area& area);
Hits QuadHits(const int* corners, int W, int H, const Area& area);
Hits PixelHits(int x, int y, const Area& area);
Hits BoxHits(const int* rect, int dstW, int dstH, const Area& area);  // rect null: whole view
Hits LineHits(int x1, int y1, int x2, int y2, const Area& area);
Hits CircleHits(int cx, int cy, int r, bool fill, const Area& area);
Hits OvalHits(int cx, int cy, int rx, int ry, bool fill, const Area& area);
// The oval's walk to its end: its moves, the idle ones among them, and the least and greatest
// value that err1, err2 and acc take.
struct OvalFigures {
  int64_t moves, idle, least, greatest;
};
OvalFigures OvalWalkFigures(int rx, int ry);
// A textured triangle's gradients Ux, Uy, Vx, Vy (2^-18 texels a pixel); nothing when det = 0.
struct Gradients {
  int64_t Ux, Uy, Vx, Vy;
};
std::optional<Gradients> TriangleGradients(const int (*vertices)[4]);

// ---- Checks ------------------------------------------------------------------------------------

// What a check compared and found; every difference is printed (the first few in full).
struct Report {
  const char* name = "";
  long long pixels = 0;       // pixels compared (or what `unit` names)
  const char* unit = "pixels compared";
  long long visits = 0;       // of the drawers' visits, those predicted (the pairs drawn)
  long long fewest = -1;      // the fewest visits of one combination of a sweep
  long long differences = 0;  // of them, those that differ
  int printed = 0;
  // Counts one compared pixel; prints it when got != want (the first 10 of each check in full).
  void Compare(bool same, const char* what, int x, int y, uint32_t got, uint32_t want);
};

// The model's pixels against whole drawn destinations, on cases the sweeps do not reach
// (coverage_blits.cpp, coverage_shapes.cpp; their examples of the page register themselves).
void CheckBlitCoverage(Report& report);
void CheckShapeCoverage(Report& report);

}  // namespace page
