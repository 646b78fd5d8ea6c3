// What every sweep of the pixel-rules program shares: the modes and parameters it draws, the
// name and seed of a case, the draw state of a call, the blend-graph settings and colour keys it
// takes, and the comparison of a destination with the page's visits.
#pragma once
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "page_model.h"
#include "shots.h"
#include "surface.h"

namespace page {

constexpr int kModeCount = 7;
extern const int kModes[kModeCount];
extern const char* const kModeNames[kModeCount];
// The parameters of every sweep: the short cuts' values and their neighbours, where a table's
// plane or a rounding changes; -1 stands for one drawn at random for the case.
constexpr int kParamCount = 10;
extern const int kParams[kParamCount];
// The blend-graph weights of the checks outside the sweeps, and in force after them.
constexpr int kBorder = 128, kRange = 200;

// --only TEXT: the sweeps' cases whose name holds TEXT (empty: all).
extern std::string only;
bool Selected(const std::string& name);

// Seed of one case, from its name: the same case draws the same surfaces in every run.
uint32_t SeedOf(const std::string& name);

// A case's name: drawer, format, mode, parameter (as named: 0 for a random one), source, flag,
// tint, blend graph with its border and range; the caller appends what else tells it apart.
// wideKey: the source's key lies beyond what it can hold (PickKey).
std::string CaseName(const Call& call, int modeIndex, bool wideKey = false);

// A random tint that is on.
uint32_t RandomBright(std::mt19937& rng);

// The border and range of a case with a blend graph, picked by seedText (the case's name without
// them) from a list holding every range whose range + 1 divides 65536, others, and borders 0,
// 255 and between.
void PickGraphSetting(Call& call, const std::string& seedText);

// A colour key for a source of the call's format and kind. wide: above what the source can hold
// (palettised above 255, 16-bit above 0xFFFF), so that it must skip nothing.
uint32_t PickKey(const Call& call, bool wide, std::mt19937& rng);

// The draw state of a call: mode, parameter, tint, area, and the blend-graph weights of its own
// border and range when it has a blend graph.
void SetState(const Call& call, const Area& area);

// The page's visits, in order, over want (the destination's pixels, row by row): each hit a
// Visit of its texel and blend-graph weight.
void Predict(Report& report, std::vector<uint32_t>& want, int width, const Call& call,
             const Hits& hits, const Surface* src, const Surface* graph);
// Draws the shot and predicts its visits over want; then checks the guard bytes.
void DrawAndPredict(Report& report, const std::string& name, std::vector<uint32_t>& want,
                    const Call& call, const Shot& shot, Surface& dst, Surface* src,
                    Surface* graph, const Area& area);
// The fewest visits of one combination of a sweep.
void Fewest(Report& report, long long visits);
// Every pixel of the destination against want (the pixels no visit reached unchanged).
void Expect(Report& report, const std::string& name, const Surface& dst,
            const std::vector<uint32_t>& want);
// The guard bytes around the destination, after every call.
void ExpectGuards(Report& report, const std::string& name, const Surface& dst);

// The sweeps: sweep.cpp (the source drawers and the flat drawers over 64 x 64 destinations),
// wide_rows.cpp (rows of 1,024 pixels and more). pass is appended to every case's name and so
// seeds the cases of each pass apart (", 3-D mode").
void SweepSources(Report& report, Drawer drawer, const std::string& pass);
void SweepFlat(Report& report, Drawer drawer, const std::string& pass);
void SweepWide(Report& report, Drawer drawer, const std::string& pass);

}  // namespace page
