// The sweeps' shared parts (sweep.h), and the sweeps over 64 x 64 destinations: the source
// drawers, one draw a combination, and the flat drawers, many small draws a combination.
#include "sweep.h"

#include <cstdio>
#include <iterator>
#include <utility>

namespace page {

const int kModes[kModeCount] = {0, 1, 2, 3, 4, 10, 11};
const char* const kModeNames[kModeCount] = {"NOBLEND", "ALPHA",  "ADD", "SUB",
                                            "MUL",     "INVSRC", "MULA"};
const int kParams[kParamCount] = {0, 1, 3, 127, 128, 129, 200, 254, 255, -1};
std::string only;

namespace {

const char* const kSourceNames[] = {"keyed", "palettised", "alpha", "flat"};

// Border and range of SetBlendGraph: the one of the checks outside the sweeps; every range with
// range + 1 dividing 65536 (0 to 255), at borders 0, 255 and between; other ranges, some odd.
constexpr int kGraphSettings[][2] = {
    {kBorder, kRange}, {0, 255}, {255, 255}, {255, 0}, {0, 63}, {128, 0}, {64, 1},
    {200, 3},          {128, 7}, {30, 15},   {255, 31}, {100, 63}, {128, 127}, {128, 255},
    {255, 127},        {255, 7}, {64, 2},    {200, 5},  {10, 100}, {1, 254},  {254, 99},
    {128, 128},        {255, 200}};

constexpr int kDstW = 64, kDstH = 64;

}  // namespace

bool Selected(const std::string& name) {
  return only.empty() || name.find(only) != std::string::npos;
}

uint32_t SeedOf(const std::string& name) {
  uint32_t h = 2166136261u;
  for (char c : name) h = (h ^ uint8_t(c)) * 16777619u;
  return h;
}

std::string CaseName(const Call& call, int modeIndex, bool wideKey) {
  char graph[40] = "";
  if (call.graph)
    std::snprintf(graph, sizeof graph, " graph b=%d r=%d", call.graphBorder, call.graphRange);
  const char* key = !wideKey ? "" : call.source == kPalette ? " key>255" : " key>0xFFFF";
  char text[200];
  std::snprintf(text, sizeof text, "%s %d-bit %s p=%d %s%s%s%s%s", DrawerName(call.drawer),
                call.format == 1 ? 32 : 16, kModeNames[modeIndex], call.p,
                kSourceNames[call.source], key, call.trans ? " trans" : "",
                call.bright != 0xFFFFFF ? " tint" : "", graph);
  return text;
}

uint32_t RandomBright(std::mt19937& rng) {
  uint32_t b;
  do b = uint32_t(rng()) & 0xFFFFFF;
  while (b == 0xFFFFFF);
  return b;
}

void PickGraphSetting(Call& call, const std::string& seedText) {
  const auto& s = kGraphSettings[SeedOf(seedText) % std::size(kGraphSettings)];
  call.graphBorder = s[0];
  call.graphRange = s[1];
}

uint32_t PickKey(const Call& call, bool wide, std::mt19937& rng) {
  if (call.source == kPalette && !wide) return uint32_t(rng() % 256);
  if (!wide) return uint32_t(rng()) & (call.format == 0 ? 0xFFFF : 0xFFFFFFFF);
  // Low bits the source holds, and above them one bit just out of reach or any others.
  const int bits = call.source == kPalette ? 8 : 16;
  const uint32_t low = uint32_t(rng()) & ((1u << bits) - 1);
  const uint32_t high = rng() % 2 ? 1 : 1 + uint32_t(rng()) % ((1u << (32 - bits)) - 1);
  return low | high << bits;
}

void SetState(const Call& call, const Area& area) {
  SetDrawBlendMode(call.mode, call.p);
  SetDrawBright(int(call.bright >> 16 & 255), int(call.bright >> 8 & 255), int(call.bright & 255));
  SetDrawArea(area.left, area.top, area.right, area.bottom);
  if (call.graph) SetBlendGraph(-1, call.graphBorder, call.graphRange);
}

void Predict(Report& report, std::vector<uint32_t>& want, int width, const Call& call,
             const Hits& hits, const Surface* src, const Surface* graph) {
  if (!Draws(call)) {  // every pixel stays as it was
    report.visits += static_cast<long long>(hits.size());
    return;
  }
  for (const Hit& h : hits) {
    const uint32_t texel = src ? src->Get(h.u, h.v) : 0;
    const int w =
        graph ? GraphWeight(int(graph->Get(h.u, h.v)), call.graphBorder, call.graphRange) : 0;
    Visit(call, want[size_t(h.y) * size_t(width) + size_t(h.x)], texel, w);
    ++report.visits;
  }
}

void DrawAndPredict(Report& report, const std::string& name, std::vector<uint32_t>& want,
                    const Call& call, const Shot& shot, Surface& dst, Surface* src,
                    Surface* graph, const Area& area) {
  const Hits hits = DrawShot(shot, dst, src, call.graph ? graph : nullptr, call.trans ? 1 : 0,
                             call.color, area);
  Predict(report, want, dst.kind().width, call, hits, src, call.graph ? graph : nullptr);
  ExpectGuards(report, name, dst);
}

void Fewest(Report& report, long long visits) {
  if (report.fewest < 0 || visits < report.fewest) report.fewest = visits;
}

void Expect(Report& report, const std::string& name, const Surface& dst,
            const std::vector<uint32_t>& want) {
  const std::vector<uint32_t> got = dst.Pixels();
  const int w = dst.kind().width;
  for (size_t i = 0; i < got.size(); ++i)
    report.Compare(got[i] == want[i], name.c_str(), int(i % size_t(w)), int(i / size_t(w)),
                   got[i], want[i]);
}

void ExpectGuards(Report& report, const std::string& name, const Surface& dst) {
  if (dst.GuardsIntact()) return;
  ++report.differences;
  std::printf("    %s: the guard bytes around the destination changed\n", name.c_str());
}

// The source drawers: one draw a combination, through geometry that visits 1,024 or more pixels.
// With the flag set, palettised and 16-bit sources are drawn once more with a key they cannot
// hold (wide), which must skip nothing.
void SweepSources(Report& report, Drawer drawer, const std::string& pass) {
  for (int format = 0; format <= 1; ++format)
    for (int source = kKeyed; source <= kAlpha; ++source)
      for (int m = 0; m < kModeCount; ++m)
        for (int pi = 0; pi < kParamCount; ++pi)
          for (int flags = 0; flags < 8; ++flags)
            for (int wide = 0; wide <= 1; ++wide) {
              Call call;
              call.drawer = drawer;
              call.format = format;
              call.mode = kModes[m];
              call.source = Source(source);
              call.trans = flags & 1;
              call.graph = flags & 4;
              if (drawer == kPlainRuns && !call.trans) continue;  // the run map: flag 1
              const bool narrow = source == kPalette || (source == kKeyed && format == 0);
              if (wide && !(call.trans && narrow)) continue;
              const std::string tail = (kParams[pi] < 0 ? " (random p)" : "") + pass;
              Call named = call;
              named.p = kParams[pi] < 0 ? 0 : kParams[pi];
              named.bright = flags & 2 ? 0 : 0xFFFFFF;
              if (call.graph) {
                Call plain = named;
                plain.graph = false;
                PickGraphSetting(named, CaseName(plain, m, wide) + tail);
                call.graphBorder = named.graphBorder;
                call.graphRange = named.graphRange;
              }
              const std::string name = CaseName(named, m, wide) + tail;
              if (!Selected(name)) continue;
              std::mt19937 rng(SeedOf(name));
              call.p = kParams[pi] < 0 ? int(rng() % 256) : kParams[pi];
              call.bright = flags & 2 ? RandomBright(rng) : 0xFFFFFF;

              SurfaceKind sk;
              sk.format = format;
              sk.palette = source == kPalette;
              sk.alpha = source == kAlpha;
              sk.key = PickKey(call, wide, rng);
              // The plain blit draws a source one row taller than the area, so that the
              // per-pixel path draws 32 x 32 pixels clipped and the run-map path 32 x 33
              // unclipped.
              sk.width = 32;
              sk.height = 33;
              Surface src(sk);
              src.Fill(uint32_t(rng()));
              if (drawer == kPlainRuns && !src.UploadWhole()) {
                ++report.differences;
                std::printf("    %s: the source's run map was not built\n", name.c_str());
                continue;
              }
              call.key = sk.key;
              call.palette = src.Palette();
              Surface graph(SurfaceKind{sk.width, sk.height, 2, false, false, 0});
              graph.Fill(uint32_t(rng()));
              Surface dst(SurfaceKind{kDstW, kDstH, format, false, false, 0});
              dst.Fill(uint32_t(rng()));

              Area area{1, 2, kDstW - 1, kDstH - 2};
              Shot shot;
              switch (drawer) {
                case kPlain:  // clipped by the area's top row: the per-pixel path
                  area = {1, 5, kDstW - 1, kDstH - 2};
                  shot = {Shot::kAt, {7, 4}};
                  break;
                case kPlainRuns:
                  shot = {Shot::kAt, {7, 4}};
                  break;
                case kStretch: {
                  // Inside the area, some larger and some smaller than the source.
                  const int w = 24 + int(rng() % 30), h = 1100 / w + 1 + int(rng() % 8);
                  int l = 1 + int(rng() % 8), t = 2 + int(rng() % 6), r = l + w, b = t + h;
                  if (rng() % 2) std::swap(l, r);
                  if (rng() % 2) std::swap(t, b);
                  shot = {Shot::kStretched, {l, t, r, b}};
                  break;
                }
                case kRota:
                  shot = {Shot::kTurned, {32, 32}};
                  shot.angle = float(int(rng() % 6284) - 3142) / 1000.0f;
                  shot.scale = 1.1f + float(rng() % 400) / 1000.0f;
                  break;
                case kPolygon: {  // a quadrangle, a triangle or a turned rotated blit
                  const int form = int(rng() % 3);
                  if (form == 0) {
                    shot = {Shot::kQuad, {4, 3, 58, 5, 2, 60, 61, 59}};
                    for (int& c : shot.a) c += int(rng() % 5) - 2;
                  } else if (form == 1) {
                    shot.kind = Shot::kTriangle;
                    const int v[3][4] = {{2, 2, 0, 0}, {62, 5, sk.width, 2}, {5, 61, 1, sk.height}};
                    for (int i = 0; i < 3; ++i) {
                      for (int k = 0; k < 4; ++k) shot.triangle[i][k] = v[i][k];
                      shot.triangle[i][0] -= int(rng() % 3);
                      shot.triangle[i][1] -= int(rng() % 3);
                    }
                  } else {
                    shot = {Shot::kTurned, {32, 32}};
                    shot.angle = float(int(rng() % 6284) - 3142) / 1000.0f;
                    shot.scale = 1.4f;
                    shot.turn = true;
                  }
                  break;
                }
                default:
                  break;
              }
              SetState(call, area);
              std::vector<uint32_t> want = dst.Pixels();
              const long long first = report.visits;
              DrawAndPredict(report, name, want, call, shot, dst, &src, &graph, area);
              Fewest(report, report.visits - first);
              Expect(report, name, dst, want);
            }
}

// The flat drawers: many small draws a combination, each in a colour of its own.
void SweepFlat(Report& report, Drawer drawer, const std::string& pass) {
  for (int format = 0; format <= 1; ++format)
    for (int m = 0; m < kModeCount; ++m)
      for (int pi = 0; pi < kParamCount; ++pi)
        for (int tint = 0; tint <= 1; ++tint) {
          Call call;
          call.drawer = drawer;
          call.format = format;
          call.mode = kModes[m];
          call.source = kFlat;
          call.p = kParams[pi] < 0 ? 0 : kParams[pi];
          call.bright = tint ? 0 : 0xFFFFFF;
          const std::string name =
              CaseName(call, m) + (kParams[pi] < 0 ? " (random p)" : "") + pass;
          if (!Selected(name)) continue;
          std::mt19937 rng(SeedOf(name));
          if (kParams[pi] < 0) call.p = int(rng() % 256);
          call.bright = tint ? RandomBright(rng) : 0xFFFFFF;
          Surface dst(SurfaceKind{kDstW, kDstH, format, false, false, 0});
          dst.Fill(uint32_t(rng()));
          const Area area{1, 2, kDstW - 1, kDstH - 2};
          SetState(call, area);
          const uint32_t colourMask = format == 0 ? 0xFFFF : 0xFFFFFFFF;
          // Draw after draw, each predicted over what the ones before left.
          std::vector<uint32_t> want = dst.Pixels();
          const long long first = report.visits;
          for (int n = 0; report.visits - first < 1100 && n < 4000; ++n) {
            call.color = uint32_t(rng()) & colourMask;
            const int x = int(rng() % kDstW), y = int(rng() % kDstH);
            Shot shot;
            switch (drawer) {
              case kPixel:
                shot = {Shot::kPixel, {x, y}};
                break;
              case kBox:
                shot = {Shot::kBox, {x, y, x + int(rng() % 9) - 4, y + int(rng() % 9) - 4}};
                break;
              case kLine:
                shot = {Shot::kLine,
                        {x, y, int(rng() % (kDstW + 20)) - 10, int(rng() % (kDstH + 20)) - 10}};
                break;
              case kFlatPolygon:
                shot.kind = Shot::kTriangle;
                for (auto& c : shot.triangle) {
                  c[0] = x + int(rng() % 25) - 12;
                  c[1] = y + int(rng() % 25) - 12;
                }
                break;
              case kShape: {
                const bool fill = rng() % 2;
                if (rng() % 2) {
                  shot = {Shot::kCircle, {x, y, int(rng() % 9)}};
                } else {
                  const int rx = int(rng() % 17) - 8, ry = int(rng() % 17) - 8;
                  shot = {Shot::kOval, {x, y, rx, ry}};
                }
                shot.fill = fill;
                break;
              }
              default:
                break;
            }
            DrawAndPredict(report, name, want, call, shot, dst, nullptr, nullptr, area);
          }
          Fewest(report, report.visits - first);
          Expect(report, name, dst, want);
        }
}

}  // namespace page
