// pixel_rules: the rules of docs/pixel-rules.md against the drawers.
//
// With no argument, sweeps every drawer over both formats, every blend mode, the parameters 0, 1,
// 3, 127, 128, 129, 200, 254, 255 and one drawn at random, the transparent flag both ways, tint
// off and on, blend graph off and on and each source kind, at least 1,024 (destination, source)
// pairs a combination from seeded random surfaces; then the page's drawn examples of coverage,
// the README's values and what a restart keeps, and the sweeps once more in 3-D mode. Each
// destination sits inside guard bytes, checked after every call. Prints the visits predicted,
// the pixels compared and the differences; exit status 0 when there are none.
// `pixel_rules --only TEXT` runs the sweeps' cases whose name holds TEXT.
// pixel_rules CANVAS SPRITE / pixel_rules MODEL: the README's pictures (readme.cpp).
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "page_model.h"
#include "page_text.h"
#include "surface.h"

namespace page {
int CheckReadmePictures(int argc, char** argv);
}  // namespace page

namespace {

using namespace page;

const int kModes[] = {0, 1, 2, 3, 4, 10, 11};
const char* const kModeNames[] = {"NOBLEND", "ALPHA", "ADD", "SUB", "MUL", "INVSRC", "MULA"};
const char* const kSourceNames[] = {"keyed", "palettised", "alpha", "flat"};
// The parameters of every sweep: the short cuts' values and their neighbours, where a table's
// plane or a rounding changes; -1 stands for one drawn at random for the case.
const int kParams[] = {0, 1, 3, 127, 128, 129, 200, 254, 255, -1};
// The weight table of every sweep with a blend graph: bytes below 28 weigh 0, above 228 weigh 255.
constexpr int kBorder = 128, kRange = 200;
constexpr int kDstW = 64, kDstH = 64;
// The screen of SetGraphMode, not the default 640 x 480, so that a restart shows it kept.
constexpr int kScreenW = 800, kScreenH = 600;

std::string only;  // --only TEXT

// Seed of one case, from its name: the same case draws the same surfaces in every run.
uint32_t SeedOf(const std::string& name) {
  uint32_t h = 2166136261u;
  for (char c : name) h = (h ^ uint8_t(c)) * 16777619u;
  return h;
}

void SetState(const Call& call, const Area& area) {
  SetDrawBlendMode(call.mode, call.p);
  SetDrawBright(int(call.bright >> 16 & 255), int(call.bright >> 8 & 255), int(call.bright & 255));
  SetDrawArea(area.left, area.top, area.right, area.bottom);
}

// The page's visits, in order, over `want`: each hit a Visit of its texel.
void Predict(Report& report, std::vector<uint32_t>& want, const Call& call, const Hits& hits,
             Surface* src, Surface* graph) {
  if (!Draws(call)) {  // every pixel stays as it was
    report.visits += static_cast<long long>(hits.size());
    return;
  }
  for (const Hit& h : hits) {
    const uint32_t texel = src ? src->Get(h.u, h.v) : 0;
    const int w = graph ? GraphWeight(int(graph->Get(h.u, h.v)), kBorder, kRange) : 0;
    Visit(call, want[size_t(h.y) * kDstW + size_t(h.x)], texel, w);
    ++report.visits;
  }
}

void Fewest(Report& report, long long visits) {
  if (report.fewest < 0 || visits < report.fewest) report.fewest = visits;
}

// Every pixel of the destination against the page's (the pixels no visit reached unchanged).
void Expect(Report& report, const std::string& name, Surface& dst, const std::vector<uint32_t>& want) {
  const std::vector<uint32_t> got = dst.Pixels();
  for (int y = 0; y < kDstH; ++y)
    for (int x = 0; x < kDstW; ++x) {
      const size_t i = size_t(y) * kDstW + size_t(x);
      report.Compare(got[i] == want[i], name.c_str(), x, y, got[i], want[i]);
    }
}

// The guard bytes around the destination, after every call.
void ExpectGuards(Report& report, const std::string& name, const Surface& dst) {
  if (dst.GuardsIntact()) return;
  ++report.differences;
  std::printf("    %s: the guard bytes around the destination changed\n", name.c_str());
}

std::string CaseName(const Call& call, int kindIndex) {
  char text[160];
  std::snprintf(text, sizeof text, "%s %d-bit %s p=%d %s%s%s%s", DrawerName(call.drawer),
                call.format == 1 ? 32 : 16, kModeNames[kindIndex], call.p,
                kSourceNames[call.source], call.trans ? " trans" : "", call.bright != 0xFFFFFF ? " tint" : "",
                call.graph ? " graph" : "");
  return text;
}

// A random tint that is on.
uint32_t RandomBright(std::mt19937& rng) {
  uint32_t b;
  do b = uint32_t(rng()) & 0xFFFFFF;
  while (b == 0xFFFFFF);
  return b;
}

// The source drawers: one draw a combination, through geometry that visits 1,024 or more pixels.
void SweepSources(Report& report, Drawer drawer) {
  for (int format = 0; format <= 1; ++format)
    for (int source = kKeyed; source <= kAlpha; ++source)
      for (int m = 0; m < 7; ++m)
        for (int pi = 0; pi < int(std::size(kParams)); ++pi)
          for (int flags = 0; flags < 8; ++flags) {
            Call call;
            call.drawer = drawer;
            call.format = format;
            call.mode = kModes[m];
            call.source = Source(source);
            call.trans = flags & 1;
            call.graph = flags & 4;
            if (drawer == kPlainRuns && !call.trans) continue;  // the run map is walked with flag 1
            std::string name;
            {
              Call named = call;
              named.p = kParams[pi] < 0 ? 0 : kParams[pi];
              named.bright = flags & 2 ? 0 : 0xFFFFFF;
              name = CaseName(named, m) + (kParams[pi] < 0 ? " (random p)" : "");
            }
            if (!only.empty() && name.find(only) == std::string::npos) continue;
            std::mt19937 rng(SeedOf(name));
            call.p = kParams[pi] < 0 ? int(rng() % 256) : kParams[pi];
            call.bright = flags & 2 ? RandomBright(rng) : 0xFFFFFF;

            SurfaceKind sk;
            sk.format = format;
            sk.palette = source == kPalette;
            sk.alpha = source == kAlpha;
            sk.key = source == kPalette ? rng() % 256 : uint32_t(rng()) & (format == 0 ? 0xFFFF : 0xFFFFFFFF);
            // The plain blit draws a source one row taller than the area, so that the per-pixel
            // path draws 32 x 32 pixels clipped and the run-map path 32 x 33 unclipped.
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
            Surface graphSurface(SurfaceKind{sk.width, sk.height, 2, false, false, 0});
            graphSurface.Fill(uint32_t(rng()));
            Surface* graph = call.graph ? &graphSurface : nullptr;
            MEMIMG* graphImg = graph ? graph->img() : nullptr;

            Surface dst(SurfaceKind{kDstW, kDstH, format, false, false, 0});
            dst.Fill(uint32_t(rng()));
            const std::vector<uint32_t> before = dst.Pixels();

            Area area{1, 2, kDstW - 1, kDstH - 2};
            Hits hits;
            SetState(call, area);
            const int trans = call.trans ? 1 : 0;
            switch (drawer) {
              case kPlain: {  // clipped by the area's top row: the per-pixel path
                area = {1, 5, kDstW - 1, kDstH - 2};
                SetState(call, area);
                hits = PlainHits(sk.width, sk.height, 7, 4, area);
                DrawMemImg(dst.img(), src.img(), 7, 4, trans, graphImg);
                break;
              }
              case kPlainRuns:
                hits = PlainHits(sk.width, sk.height, 7, 4, area);
                DrawMemImg(dst.img(), src.img(), 7, 4, trans, graphImg);
                break;
              case kStretch: {
                // Inside the area, some larger and some smaller than the source.
                const int w = 24 + int(rng() % 30), h = 1100 / w + 1 + int(rng() % 8);
                int l = 1 + int(rng() % 8), t = 2 + int(rng() % 6), r = l + w, b = t + h;
                if (rng() % 2) std::swap(l, r);
                if (rng() % 2) std::swap(t, b);
                hits = StretchHits(sk.width, sk.height, l, t, r, b, area);
                const RECT rect{l, t, r, b};
                DrawExtendMemImg(dst.img(), src.img(), &rect, trans, graphImg);
                break;
              }
              case kRota: {
                const float angle = float(int(rng() % 6284) - 3142) / 1000.0f;
                const float scale = 1.1f + float(rng() % 400) / 1000.0f;
                hits = RotaHits(sk.width, sk.height, 32, 32, angle, scale, false, area);
                DrawRotaMemImg(dst.img(), src.img(), 32, 32, angle, scale, trans, 0, graphImg);
                break;
              }
              case kPolygon: {  // a quadrangle, a triangle or a turned rotated blit
                const int shape = int(rng() % 3);
                if (shape == 0) {
                  int corners[8] = {4, 3, 58, 5, 2, 60, 61, 59};
                  for (int& c : corners) c += int(rng() % 5) - 2;
                  hits = QuadHits(corners, sk.width, sk.height, area);
                  DrawQuadMemImg(dst.img(), src.img(), corners, trans, graphImg);
                } else if (shape == 1) {
                  int v[3][4] = {{2, 2, 0, 0}, {62, 5, sk.width, 2}, {5, 61, 1, sk.height}};
                  for (auto& c : v) c[0] -= int(rng() % 3), c[1] -= int(rng() % 3);
                  hits = PolygonHits(v, sk.width, sk.height, area);
                  DrawTriangle(dst.img(), src.img(), v, trans, graphImg, 0);
                } else {
                  const float angle = float(int(rng() % 6284) - 3142) / 1000.0f;
                  hits = RotaHits(sk.width, sk.height, 32, 32, angle, 1.4f, true, area);
                  DrawRotaMemImg(dst.img(), src.img(), 32, 32, angle, 1.4f, trans, 1, graphImg);
                }
                break;
              }
              default:
                break;
            }
            std::vector<uint32_t> want = before;
            const long long first = report.visits;
            Predict(report, want, call, hits, &src, graph);
            Fewest(report, report.visits - first);
            Expect(report, name, dst, want);
            ExpectGuards(report, name, dst);
          }
}

// The flat drawers: many small draws a combination, each in a colour of its own.
void SweepFlat(Report& report, Drawer drawer) {
  for (int format = 0; format <= 1; ++format)
    for (int m = 0; m < 7; ++m)
      for (int pi = 0; pi < int(std::size(kParams)); ++pi)
        for (int tint = 0; tint <= 1; ++tint) {
          Call call;
          call.drawer = drawer;
          call.format = format;
          call.mode = kModes[m];
          call.source = kFlat;
          call.p = kParams[pi] < 0 ? 0 : kParams[pi];
          call.bright = tint ? 0 : 0xFFFFFF;
          std::string name = CaseName(call, m) + (kParams[pi] < 0 ? " (random p)" : "");
          if (!only.empty() && name.find(only) == std::string::npos) continue;
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
            Hits hits;
            const int x = int(rng() % kDstW), y = int(rng() % kDstH);
            switch (drawer) {
              case kPixel:
                hits = PixelHits(x, y, area);
                DrawPixelMemImg(dst.img(), x, y, call.color);
                break;
              case kBox: {
                const int rect[4] = {x, y, x + int(rng() % 9) - 4, y + int(rng() % 9) - 4};
                hits = BoxHits(rect, kDstW, kDstH, area);
                const RECT r{rect[0], rect[1], rect[2], rect[3]};
                DrawFillBoxMemImg(dst.img(), &r, call.color);
                break;
              }
              case kLine: {
                const int x2 = int(rng() % (kDstW + 20)) - 10, y2 = int(rng() % (kDstH + 20)) - 10;
                hits = LineHits(x, y, x2, y2, area);
                DrawLineMemImg(dst.img(), x, y, x2, y2, call.color);
                break;
              }
              case kFlatPolygon: {
                int v[3][4] = {};
                for (auto& c : v) {
                  c[0] = x + int(rng() % 25) - 12;
                  c[1] = y + int(rng() % 25) - 12;
                }
                hits = PolygonHits(v, 0, 0, area);
                DrawTriangle(dst.img(), nullptr, v, 0, nullptr, call.color);
                break;
              }
              case kShape: {
                const bool fill = rng() % 2;
                if (rng() % 2) {
                  const int r = int(rng() % 9);
                  hits = CircleHits(x, y, r, fill, area);
                  DrawCircleMemImg(dst.img(), x, y, r, call.color, fill);
                } else {
                  const int rx = int(rng() % 17) - 8, ry = int(rng() % 17) - 8;
                  hits = OvalHits(x, y, rx, ry, fill, area);
                  DrawOvalMemImg(dst.img(), x, y, rx, ry, call.color, fill);
                }
                break;
              }
              default:
                break;
            }
            Predict(report, want, call, hits, nullptr, nullptr);
            ExpectGuards(report, name, dst);
          }
          Fewest(report, report.visits - first);
          Expect(report, name, dst, want);
        }
}

// Modes without a rule draw nothing, in every drawer.
void CheckModesWithoutRule(Report& report) {
  for (int format = 0; format <= 1; ++format)
    for (int mode : {-1, 5, 7, 9, 12, 255}) {
      Surface dst(SurfaceKind{kDstW, kDstH, format, false, false, 0});
      Surface src(SurfaceKind{16, 16, format, false, false, 0});
      dst.Fill(7u + uint32_t(mode));
      src.Fill(9u);
      const std::vector<uint32_t> before = dst.Pixels();
      SetDrawBlendMode(mode, 128);
      SetDrawBright(255, 255, 255);
      SetDrawArea(0, 0, kDstW, kDstH);
      DrawMemImg(dst.img(), src.img(), 3, 3, 0, nullptr);
      const RECT r{10, 30, 60, 40}, box{2, 2, 20, 20};
      DrawExtendMemImg(dst.img(), src.img(), &r, 0, nullptr);
      DrawRotaMemImg(dst.img(), src.img(), 30, 30, 0.3f, 1.0f, 0, 0, nullptr);
      MemImgVertex v[3] = {{1, 1, 0, 0}, {60, 4, 16, 0}, {8, 60, 0, 16}};
      DrawPolygonMemImg(dst.img(), src.img(), v, 0, nullptr, 0);
      DrawPolygonMemImg(dst.img(), nullptr, v, 0, nullptr, 0x1234);
      DrawPixelMemImg(dst.img(), 5, 5, 0x1234);
      DrawFillBoxMemImg(dst.img(), &box, 0x1234);
      DrawLineMemImg(dst.img(), 0, 0, 60, 50, 0x1234);
      DrawCircleMemImg(dst.img(), 30, 30, 10, 0x1234, 1);
      DrawOvalMemImg(dst.img(), 30, 30, 10, 5, 0x1234, 0);
      const std::vector<uint32_t> after = dst.Pixels();
      for (size_t i = 0; i < after.size(); ++i)
        report.Compare(after[i] == before[i], format ? "mode without a rule, 32-bit" : "mode without a rule, 16-bit",
                       int(i % kDstW), int(i / kDstW), after[i], before[i]);
    }
}

// Before the program's first SetBlendGraph every weight is 0: a NOBLEND draw with a blend graph
// leaves the destination as it was.
void CheckFirstWeights(Report& report) {
  Surface dst(SurfaceKind{kDstW, kDstH, 1, false, false, 0}), src(SurfaceKind{16, 16, 1, false, false, 0});
  Surface graph(SurfaceKind{16, 16, 2, false, false, 0});
  dst.Fill(3);
  src.Fill(4);
  graph.Fill(5);
  const std::vector<uint32_t> before = dst.Pixels();
  SetDrawArea(0, 0, kDstW, kDstH);
  DrawMemImg(dst.img(), src.img(), 5, 5, 0, graph.img());
  const std::vector<uint32_t> after = dst.Pixels();
  for (size_t i = 0; i < after.size(); ++i)
    report.Compare(after[i] == before[i], "weights before SetBlendGraph", int(i % kDstW),
                   int(i / kDstW), after[i], before[i]);
}

// What EndLibrary keeps for the next InitLibrary: SetGraphMode's size, SetUse3DFlag and the
// blend-graph weights; what InitLibrary resets: mode, parameter, tint and draw area. Restarts
// the engine in 3-D mode.
void CheckRestart(Report& report) {
  auto same = [&](const char* what, long long got, long long want) {
    report.Compare(got == want, what, 0, 0, uint32_t(got), uint32_t(want));
  };
  SetDrawBlendMode(2, 100);
  SetDrawBright(1, 2, 3);
  SetDrawArea(5, 5, 10, 10);
  EndLibrary();
  SetUse3DFlag(1);
  if (InitLibrary() != 0) return same("InitLibrary after EndLibrary", 1, 0);
  int w = 0, h = 0;
  GetDrawScreenSize(&w, &h);
  same("screen width after a restart", w, kScreenW);
  same("screen height after a restart", h, kScreenH);
  same("3-D flag after a restart", UseDirect3DFlag, 1);
  same("blend mode after a restart", DrawBlendMode, 0);
  same("parameter after a restart", DrawBlendParam, 255);
  same("tint after a restart", DrawBright & 0xFFFFFF, 0xFFFFFF);
  same("draw area after a restart", DrawArea.right * 10000LL + DrawArea.bottom,
       kScreenW * 10000LL + kScreenH);
  // The weights of border 128, range 200 are still in force: byte 100 weighs 92, so a NOBLEND
  // draw of white over black with it gives 92 in every channel (0 + 255 x 92 / 256).
  Surface dst(SurfaceKind{4, 4, 1, false, false, 0}), src(SurfaceKind{4, 4, 1, false, false, 0});
  Surface graph(SurfaceKind{4, 4, 2, false, false, 0});
  dst.FillWith(0);
  src.FillWith(0xFFFFFF);
  graph.FillWith(100);
  SetDrawArea(0, 0, 4, 4);
  DrawMemImg(dst.img(), src.img(), 0, 0, 0, graph.img());
  same("weights kept across a restart", dst.Get(1, 1) & 0xFFFFFF, 0x5B5B5B);
}

bool Print(const Report& r) {
  std::printf("%-54s %9lld visits, %9lld pixels compared, %lld differ", r.name, r.visits,
              r.pixels, r.differences);
  if (r.fewest >= 0) std::printf(" (at least %lld visits a combination)", r.fewest);
  std::printf("\n");
  return r.differences == 0;
}

// The sweeps of every drawer; the same pixels are due in either mode of the engine.
void Sweeps(const std::function<void(const std::string&, const std::function<void(Report&)>&)>& run,
            const char* mode) {
  for (Drawer d : {kPlain, kPlainRuns, kStretch, kRota, kPolygon})
    run(std::string(DrawerName(d)) + mode, [d](Report& r) { SweepSources(r, d); });
  for (Drawer d : {kFlatPolygon, kPixel, kBox, kLine, kShape})
    run(std::string(DrawerName(d)) + mode, [d](Report& r) { SweepFlat(r, d); });
}

}  // namespace

int main(int argc, char** argv) {
  // Options first (--only TEXT, --page FILE, --readme FILE), then the pictures, if any.
  int first = 1;
  for (; first + 1 < argc && argv[first][0] == '-' && argv[first][1] == '-'; first += 2) {
    if (std::strcmp(argv[first], "--only") == 0) only = argv[first + 1];
    else if (std::strcmp(argv[first], "--page") == 0) page::SetDocumentPath(page::Doc::kPage, argv[first + 1]);
    else if (std::strcmp(argv[first], "--readme") == 0) page::SetDocumentPath(page::Doc::kReadme, argv[first + 1]);
    else return std::fprintf(stderr, "pixel_rules: unknown option %s\n", argv[first]), 2;
  }
  if (first < argc) {
    argv[first - 1] = argv[0];
    return page::CheckReadmePictures(argc - first + 1, argv + first - 1);
  }
  SetGraphMode(kScreenW, kScreenH, 32);
  if (InitLibrary() != 0) return 2;
  std::vector<std::string> names;  // the reports keep pointers to them
  names.reserve(64);
  std::vector<Report> reports;
  auto run = [&](const std::string& name, const std::function<void(Report&)>& check) {
    names.push_back(name);
    Report r;
    r.name = names.back().c_str();
    check(r);
    reports.push_back(r);
    Print(r);
  };
  run("blend-graph weights before SetBlendGraph", CheckFirstWeights);
  run("examples of the page and the README", [](Report& r) { CheckExamples(r, only); });
  if (only.empty())
    run("statements of a value, each quoted by an example", CheckValuesCovered);
  SetBlendGraph(-1, kBorder, kRange);
  Sweeps(run, "");
  if (only.empty()) {
    run("modes without a rule", CheckModesWithoutRule);
    run("coverage: blits", CheckBlitCoverage);
    run("coverage: shapes and lines", CheckShapeCoverage);
    run("settings across EndLibrary and InitLibrary", CheckRestart);
    Sweeps(run, ", 3-D mode");
  }
  long long visits = 0, pixels = 0, differences = 0;
  for (const Report& r : reports) visits += r.visits, pixels += r.pixels, differences += r.differences;
  EndLibrary();
  std::printf("pixel rules: %lld visits predicted, %lld pixels compared, %lld differ\n", visits,
              pixels, differences);
  return differences == 0 ? 0 : 1;
}
