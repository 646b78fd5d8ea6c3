// pixel_rules: the rules of docs/pixel-rules.md against the drawers.
//
// First the page's and the README's examples: each quoted statement found word for word and
// drawn, and every statement of a value inside such quotes (page_text.h). Then it sweeps every
// drawer over both formats, every blend mode, the parameters 0, 1, 3, 127, 128, 129, 200, 254,
// 255 and one drawn at random, the transparent flag both ways, tint off and on, blend graph off
// and on (at borders and ranges of its own a case) and each source kind, colour keys the source
// can hold and (flag set) keys it cannot, at least 1,024 (destination, source) pairs a
// combination from seeded random surfaces (sweep.cpp); then wide rows, 1,045 to 1,100 pixels,
// aligned or not, padded or not, through the drawers' vector row loops (wide_rows.cpp); then the
// model against whole destinations on shapes the sweeps do not reach (coverage_*.cpp) and what a
// restart keeps, and the sweeps once more in 3-D mode, on cases of their own (their names, and so
// their seeds, end in ", 3-D mode"). Each destination sits inside guard bytes, checked after
// every call. Prints the visits predicted, the pixels compared and the differences; exit status
// 0 when there are none.
// `pixel_rules --only TEXT` runs the sweeps' cases whose name holds TEXT, in both modes, and the
// examples whose quote holds it; `--examples` runs the examples and the check of the values
// alone (a few seconds, for editing the page); `--page FILE`, `--readme FILE` read other copies.
// pixel_rules CANVAS SPRITE / pixel_rules MODEL: the README's pictures (readme.cpp).
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "page_model.h"
#include "page_text.h"
#include "surface.h"
#include "sweep.h"

namespace page {
int CheckReadmePictures(int argc, char** argv);
}  // namespace page

namespace {

using namespace page;

constexpr int kDstW = 64, kDstH = 64;
// The screen of SetGraphMode, not the default 640 x 480, so that a restart shows it kept, and
// wider than the wide rows, since the draw area is limited to it.
constexpr int kScreenW = 1280, kScreenH = 720;

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

// Ends the engine and starts it again in 3-D mode; false if it did not start.
bool Restart3D() {
  EndLibrary();
  SetUse3DFlag(1);
  return InitLibrary() == 0;
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
  if (!Restart3D()) return same("InitLibrary after EndLibrary", 1, 0);
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
  std::printf("%-54s %9lld visits, %9lld %s, %lld differ", r.name, r.visits, r.pixels, r.unit,
              r.differences);
  if (r.fewest >= 0) std::printf(" (at least %lld visits a combination)", r.fewest);
  std::printf("\n");
  return r.differences == 0;
}

// The sweeps of every drawer; the same rules hold in either mode of the engine. pass ends the
// name of every case of the pass, and so seeds its cases.
void Sweeps(const std::function<void(const std::string&, const std::function<void(Report&)>&)>& run,
            const std::string& pass) {
  for (Drawer d : {kPlain, kPlainRuns, kStretch, kRota, kPolygon})
    run(DrawerName(d) + pass, [d, &pass](Report& r) { SweepSources(r, d, pass); });
  for (Drawer d : {kFlatPolygon, kPixel, kBox, kLine, kShape})
    run(DrawerName(d) + pass, [d, &pass](Report& r) { SweepFlat(r, d, pass); });
  for (Drawer d : {kPlain, kPlainRuns, kStretch, kBox, kFlatPolygon, kShape}) {
    const char* what = d == kStretch ? "DrawExtendMemImg to half"
                       : d == kShape   ? "DrawOvalMemImg filled"
                                       : DrawerName(d);
    run(what + (", wide rows" + pass), [d, &pass](Report& r) { SweepWide(r, d, pass); });
  }
  // The checks after the sweeps find the weights of border kBorder, range kRange in force.
  SetBlendGraph(-1, kBorder, kRange);
}

}  // namespace

int main(int argc, char** argv) {
  // Options first (--only TEXT, --page FILE, --readme FILE, --examples), then the pictures, if
  // any.
  int first = 1;
  bool examplesOnly = false;
  for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
    const bool valued = first + 1 < argc;
    if (std::strcmp(argv[first], "--examples") == 0) examplesOnly = true;
    else if (valued && std::strcmp(argv[first], "--only") == 0) only = argv[++first];
    else if (valued && std::strcmp(argv[first], "--page") == 0) page::SetDocumentPath(page::Doc::kPage, argv[++first]);
    else if (valued && std::strcmp(argv[first], "--readme") == 0) page::SetDocumentPath(page::Doc::kReadme, argv[++first]);
    else return std::fprintf(stderr, "pixel_rules: unknown option %s\n", argv[first]), 2;
  }
  if (first < argc) {
    argv[first - 1] = argv[0];
    return page::CheckReadmePictures(argc - first + 1, argv + first - 1);
  }
  SetGraphMode(kScreenW, kScreenH, 32);
  if (InitLibrary() != 0) return 2;
  std::vector<std::string> names;  // the reports keep pointers to them
  names.reserve(128);
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
    run("statements of a value, each quoted by an example", [](Report& r) {
      r.unit = "statements checked";
      CheckValuesCovered(r);
    });
  if (!examplesOnly) {
    SetBlendGraph(-1, kBorder, kRange);
    Sweeps(run, "");
    if (only.empty()) {
      run("modes without a rule", CheckModesWithoutRule);
      run("coverage: blits", CheckBlitCoverage);
      run("coverage: shapes and lines", CheckShapeCoverage);
      run("settings across EndLibrary and InitLibrary", CheckRestart);
    } else if (!Restart3D()) {
      return 2;
    }
    Sweeps(run, ", 3-D mode");
  }
  long long visits = 0, pixels = 0, differences = 0;
  for (const Report& r : reports) visits += r.visits, pixels += r.pixels, differences += r.differences;
  EndLibrary();
  std::printf("pixel rules: %lld visits predicted, %lld pixels compared, %lld differ\n", visits,
              pixels, differences);
  return differences == 0 ? 0 : 1;
}
