// The rule layer against the reference model, for random family departures, and the dispatch
// helper (a compiler-built table per family) against the runtime path.
#include <qzlib/soft/pixel_rules.h>

#include <gtest/gtest.h>

#include <random>

#include <qzlib/base/sysinfo.h>
#include <qzlib/base/draw_state.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/ref_pixel_rules.h"

namespace {

#ifdef __SANITIZE_ADDRESS__
constexpr uint32_t kCases = 3000;
#else
constexpr uint32_t kCases = 25000;
#endif

class PixelRulesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InitMemImgBlendTable(); }
  void SetUp() override {
    mode_ = DrawBlendMode;
    param_ = DrawBlendParam;
    bright_ = DrawBright;
    mmx_ = MmxUsableFlag;
  }
  void TearDown() override {
    DrawBlendMode = mode_;
    DrawBlendParam = param_;
    DrawBright = bright_;
    MmxUsableFlag = mmx_;
  }
  int mode_ = 0, param_ = 0, mmx_ = 1;
  uint32_t bright_ = 0;
};

// The same departures in both models' records.
void RandomFamilies(std::mt19937& rng, SoftFamily* f, RefFamily* r) {
  auto bit = [&] { return int(rng() % 2); };
  f->AlphaHalfShortcut = r->alphaHalfShortcut = bit();
  f->Alpha16MixTable = r->alpha16MixTable = bit();
  f->AddNoOrAt255 = r->addNoOrAt255 = bit();
  f->MmxAdd = r->mmxAdd = bit();
  f->MmxSub = r->mmxSub = bit();
  f->SubZeroDrawsNothingForPalette = r->subZeroDrawsNothingForPalette = bit();
  f->NoblendAlphaSourceCopies = r->noblendAlphaSourceCopies = bit();
  f->InvsrcTintFirst = r->invsrcTintFirst = bit();
  f->CopyWholeWord = r->copyWholeWord = bit();
  f->KeyLow16InPlainCopy = r->keyLow16InPlainCopy = bit();
  f->TintShift8 = r->tintShift8 = bit();
  f->AlphaBeforeTint16 = r->alphaBeforeTint16 = bit();
  f->MulaFineGreen16 = r->mulaFineGreen16 = bit();
}

template <class T>
T Pick(std::mt19937& rng, std::initializer_list<T> xs) {
  return *(xs.begin() + rng() % xs.size());
}

// Every rule, every departure: one pixel through the rule layer and through the reference.
TEST_F(PixelRulesTest, EveryRuleMatchesTheReferenceForRandomFamilies) {
  int failures = 0;
  for (uint32_t seed = 1; seed <= kCases && failures < 5; ++seed) {
    std::mt19937 rng(seed);
    SoftFamily fam;
    RefFamily ref;
    RandomFamilies(rng, &fam, &ref);
    const int fmt = rng() % 2, kind = rng() % 4;  // kind 3: a flat colour
    SurfaceDesc ss;
    ss.width = ss.height = 1;
    ss.format = fmt;
    ss.palette = kind == 0;
    ss.alpha = kind == 2;
    GuardedSurface src(ss, rng());
    SurfaceDesc ds;
    ds.width = ds.height = 1;
    ds.format = fmt;
    GuardedSurface dst(ds, rng());
    uint32_t sv = src.get(0, 0);
    if (kind == 2) {
      uint32_t a = Pick(rng, {0u, 255u, uint32_t(rng() & 0xFF)});
      sv = fmt ? ((sv & 0xFFFFFF) | a << 24) : ((sv & 0xFFFF) | a << 16);
      src.set(0, 0, sv);
    }
    uint32_t key = rng() % 2 ? sv : uint32_t(rng());
    if (kind == 1 && rng() % 3 == 0) key ^= fmt ? 0x01000000u : 0x00010000u;
    src.base()->TransColor = key;
    const bool graph = rng() % 2;
    const uint32_t gbyte = rng() & 0xFF;
    SurfaceDesc gs;
    gs.width = gs.height = 1;
    gs.format = 2;
    GuardedSurface g(gs, rng());
    MakeMemImgBlendGraphTable(int(rng() % 256), int(rng() % 256));
    DrawBlendMode = Pick(rng, {0, 1, 2, 3, 4, 10, 11});
    DrawBlendParam = Pick(rng, {0, 1, 127, 128, 200, 254, 255, int(rng() % 256)});
    DrawBright = Pick(rng, {0xFFFFFFu, 0xFFFFFEu, 0u, uint32_t(rng())});
    MmxUsableFlag = rng() % 2;
    const int trans = kind == 3 ? 0 : int(rng() % 2);
    const int runKind = kind == 3 ? -1 : Pick(rng, {-1, -1, 1, 2});

    RefState st{DrawBlendMode, DrawBlendParam, DrawBright, MmxUsableFlag};
    SoftDrawPrep prep;
    const int draws = SoftPrepareDraw(&prep, fam, dst.img(), kind == 3 ? nullptr : src.img(),
                                      runKind > 0 ? 1 : trans, graph ? g.img() : nullptr);
    const int refKind = kind == 3 ? REF_SRC_DIRECT : kind;
    ASSERT_EQ(draws != 0, RefCallDraws(ref, st, refKind)) << "seed " << seed;
    if (!draws) continue;
    uint32_t before = dst.get(0, 0);
    RefPixelIn in;
    in.dst16 = fmt == 0;
    in.srcKind = refKind;
    in.src = kind == 0 ? 0u : sv;
    in.palette = src.palette();
    in.key = kind == 3 ? 0 : key;
    in.trans = runKind > 0 ? 1 : trans;
    in.graph = graph;
    in.t = MemImgBlendGraphTable[gbyte];
    in.runKind = runKind;
    if (kind == 0) {
      src.set(0, 0, 0);
      if (rng() % 2) src.base()->TransColor = 0;
      in.key = src.base()->TransColor;
      // the palette work buffer was taken at preparation; the key is read there too
      SoftDrawPrep again;
      SoftPrepareDraw(&again, fam, dst.img(), src.img(), in.trans, graph ? g.img() : nullptr);
      prep = again;
    }
    if (kind == 3) {
      SoftDrawFlatPixel(fam, prep.Variant, prep, dst.pixel(0, 0), fmt ? sv : (sv & 0xFFFF), gbyte);
      in.src = fmt ? sv : (sv & 0xFFFF);
    } else if (runKind > 0) {
      SoftDrawRunPixel(fam, prep.Variant, prep, dst.pixel(0, 0), src.pixel(0, 0), gbyte, runKind == 2);
    } else {
      SoftDrawSourcePixel(fam, prep.Variant, prep, dst.pixel(0, 0), src.pixel(0, 0), gbyte);
    }
    uint32_t want = RefPixel(ref, st, in, before);
    if (dst.get(0, 0) != want) {
      ADD_FAILURE() << "seed " << seed << ": got " << std::hex << dst.get(0, 0) << " want " << want
                    << " (dst " << before << " src " << sv << " mode " << std::dec << DrawBlendMode
                    << " p " << DrawBlendParam << " kind " << kind << " run " << runKind << ")";
      ++failures;
    }
    EXPECT_TRUE(dst.CheckGuards());
  }
}

// The hand-computed channel rules of the other drawers' statements.
TEST_F(PixelRulesTest, CommonRulesWorkedValues) {
  SurfaceDesc ds;
  ds.width = ds.height = 1;
  ds.format = 1;
  GuardedSurface dst(ds, 1);
  auto flat = [&](int mode, int p, uint32_t colour, uint32_t d) {
    DrawBlendMode = mode;
    DrawBlendParam = p;
    DrawBright = 0xFFFFFF;
    MmxUsableFlag = 0;
    dst.set(0, 0, d);
    SoftDrawPrep prep;
    if (!SoftPrepareDraw(&prep, kSoftFamilyCommonRules, dst.img(), nullptr, 0, nullptr)) return d;
    SoftDrawFlatPixel(kSoftFamilyCommonRules, prep.Variant, prep, dst.pixel(0, 0), colour, 0);
    return dst.get(0, 0);
  };
  // ADD of green 3 onto green 5: 2 + 4 with lowest bit 1 = 7; blue 200 onto 100 saturates.
  EXPECT_EQ(flat(2, 255, 0x000300, 0x000500), 0x000700u);
  EXPECT_EQ(flat(2, 255, 0x0000C8, 0x000064), 0x0001FFu);  // blue overflow sets green's low bit
  EXPECT_EQ(flat(2, 255, 0x000000FF, 0x00000001) & 0x0000FF00u, 0x00000100u);  // carry into green
  // SUB of green 3 from green 10: 9 (plain rule); SUB p = 0 of a flat colour draws nothing.
  EXPECT_EQ(flat(3, 255, 0x000300, 0x000A00), 0x010900u);  // red: (0 | 1) - 0
  EXPECT_EQ(flat(3, 0, 0x000300, 0x000A00), 0x000A00u);
  // ALPHA p = 255 equals NOBLEND; ALPHA and ADD p = 0 draw nothing.
  EXPECT_EQ(flat(1, 255, 0x123456, 0x654321), 0x123456u);
  EXPECT_EQ(flat(1, 0, 0x123456, 0x654321), 0x654321u);
}

// A family's loop template, instantiated into its compiler-built table, against the same rule
// taken with the runtime variant.
#if defined(__OPTIMIZE__)
constexpr bool kAllVariants = true;
#else
constexpr bool kAllVariants = false;  // sanitizer builds: a few, to keep compiling short
#endif

template <SoftFamily F, SoftVariant V>
struct OneRow {
  static constexpr bool kEnabled =
      kAllVariants || (!V.Graph && !V.Tint && !V.Dst16 && V.Src == SOFT_SRC_DIRECT);
  static void Run(const SoftDrawPrep& P, uint8_t* d, const uint8_t* s, const uint8_t* g, int n) {
    const int sb = V.Src == SOFT_SRC_PAL ? 1 : (V.Dst16 && V.Src == SOFT_SRC_DIRECT) ? 2 : 4;
    for (int i = 0; i < n; ++i) SoftDrawSourcePixel(F, V, P, d + i * (V.Dst16 ? 2 : 4), s + i * sb, g[i]);
  }
};
using OneRowFn = void (*)(const SoftDrawPrep&, uint8_t*, const uint8_t*, const uint8_t*, int);

TEST_F(PixelRulesTest, DispatchTableMatchesRuntimeVariant) {
  for (int key = 0; key < SOFT_VARIANT_KEYS; ++key) {
    SoftVariant v = SoftKeyVariant(key);
    ASSERT_EQ(SoftVariantKey(v), key);
    OneRowFn fn = SoftPickLoop<OneRow, kSoftFamilyCommonRules, OneRowFn>(v);
    const bool few = !v.Graph && !v.Tint && !v.Dst16 && v.Src == SOFT_SRC_DIRECT;
    EXPECT_EQ(fn != nullptr, SoftVariantValid(v) && (kAllVariants || few)) << key;
  }
  int checked = 0;
  for (uint32_t seed = 1; seed <= 400; ++seed) {
    std::mt19937 rng(seed);
    const int fmt = rng() % 2, kind = rng() % 3;
    SurfaceDesc ss;
    ss.width = 32;
    ss.height = 1;
    ss.format = fmt;
    ss.palette = kind == 0;
    ss.alpha = kind == 2;
    GuardedSurface src(ss, rng());
    src.base()->TransColor = kind == 0 ? rng() % 256 : src.get(3, 0);
    SurfaceDesc ds = ss;
    ds.palette = ds.alpha = false;
    const uint32_t dseed = rng();
    GuardedSurface a(ds, dseed), b(ds, dseed);
    SurfaceDesc gs = ss;
    gs.format = 2;
    gs.palette = gs.alpha = false;
    GuardedSurface g(gs, rng());
    DrawBlendMode = Pick(rng, {0, 1, 2, 3, 4, 10, 11});
    DrawBlendParam = Pick(rng, {1, 128, 255, int(rng() % 256)});
    DrawBright = Pick(rng, {0xFFFFFFu, uint32_t(rng())});
    MmxUsableFlag = rng() % 2;
    const bool graph = rng() % 2;
    const int trans = rng() % 2;
    SoftDrawPrep prep;
    if (!SoftPrepareDraw(&prep, kSoftFamilyCommonRules, a.img(), src.img(), trans, graph ? g.img() : nullptr))
      continue;
    OneRowFn fn = SoftPickLoop<OneRow, kSoftFamilyCommonRules, OneRowFn>(prep.Variant);
    if (!fn) continue;
    fn(prep, a.pixel(0, 0), src.pixel(0, 0), g.pixel(0, 0), 32);
    const int sb = src.bytesPerPixel();
    for (int i = 0; i < 32; ++i)
      SoftDrawSourcePixel(kSoftFamilyCommonRules, prep.Variant, prep, b.pixel(i, 0), src.pixel(0, 0) + i * sb,
                          *g.pixel(i, 0));
    ASSERT_EQ(FirstDifference(a.Snapshot(), b.Snapshot(), 32, a.bytesPerPixel()), "") << "seed " << seed;
    ++checked;
  }
  EXPECT_GT(checked, kAllVariants ? 200 : 5);
}

}  // namespace
