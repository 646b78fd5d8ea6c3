// An alpha source under the transparent flag, through every drawer that takes a source: with the
// flag set, a = 0 pixels are skipped in every mode (MUL included), a = 255 is drawn without the
// alpha factor and other values with it; with the flag clear the factor applies to every pixel,
// so MUL writes black where a = 0. The same MUL draw of one sprite, from a source with and
// without a run map, clipped and not, in both formats, must give the one MUL rule wherever the
// drawer maps a source pixel, on the specialised and the generic path alike.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <qzlib/base/draw_state.h>
#include <qzlib/soft/pixel_rules.h>
#include <qzlib/soft/plain_blit.h>
#include <qzlib/soft/polygon.h>
#include <qzlib/soft/rota_blit.h>
#include <qzlib/soft/stretch_blit.h>
#include "tests/support/guarded_surface.h"
#include "tests/support/ref_drawers.h"

namespace {

using AlphaZeroSkipTest = DrawerTest;

constexpr int kSrc = 16, kDst = 96;

// The sprite's alpha: the left half 0, the right half 255 and translucent values mixed.
uint32_t AlphaAt(int x, int y) {
  return x < kSrc / 2 ? 0u : (x + y) % 3 == 0 ? 255u : 20u + 15u * y;
}

// A 16x16 alpha sprite of format fmt with random colours; accel: with a run map (the plain
// blit's fast path when drawn whole). Or, to find a drawer's mapping, at a = 255: kIds colours
// 1 + x + 16y, kOnes colour 1.
enum { kRandom, kIds, kOnes };
std::unique_ptr<GuardedSurface> Sprite(int fmt, bool accel, int kind) {
  auto s = std::make_unique<GuardedSurface>(SurfaceDesc{kSrc, kSrc, fmt, false, true}, 3);
  std::mt19937 rng(11);
  for (int y = 0; y < kSrc; ++y)
    for (int x = 0; x < kSrc; ++x) {
      const uint32_t c = kind == kIds ? 1u + x + kSrc * y : kind == kOnes ? 1u : rng();
      const uint32_t a = kind == kRandom ? AlphaAt(x, y) : 255u;
      s->set(x, y, fmt ? (a << 24 | (c & 0xFFFFFF)) : (a << 16 | (c & 0xFFFF)));
    }
  if (accel) s->BuildRunMap();
  return s;
}

// MUL of colour s at alpha a onto d, weighed by a or not: floor(s * d [* a] / 2^(width [+ 8]))
// per channel, the spare byte of a 32-bit pixel kept.
uint32_t MulRule(int fmt, uint32_t s, uint32_t a, bool weigh, uint32_t d) {
  uint32_t r = fmt ? d & 0xFF000000u : 0u;
  for (int c = 0; c < 3; ++c) {
    const int shift = fmt ? 8 * c : (c == 0 ? 0 : c == 1 ? 5 : 11);
    const int width = fmt ? 8 : (c == 1 ? 6 : 5);
    const uint64_t m = (1u << width) - 1, x = (s >> shift) & m, y = (d >> shift) & m;
    r |= uint32_t((x * y * (weigh ? a : 1)) >> (width + (weigh ? 8 : 0))) << shift;
  }
  return r;
}

using DrawFn = void (*)(MEMIMG* dst, MEMIMG* src, int trans);
const std::pair<const char*, DrawFn> kDrawers[] = {
    {"DrawMemImg", [](MEMIMG* d, MEMIMG* s, int t) { DrawMemImg(d, s, 40, 40, t, nullptr); }},
    {"DrawExtendMemImg own size", [](MEMIMG* d, MEMIMG* s, int t) {
       const RECT r{40, 40, 56, 56};
       DrawExtendMemImg(d, s, &r, t, nullptr);
     }},
    {"DrawExtendMemImg x2 mirrored", [](MEMIMG* d, MEMIMG* s, int t) {
       const RECT r{80, 40, 48, 72};
       DrawExtendMemImg(d, s, &r, t, nullptr);
     }},
    {"DrawRotaMemImg", [](MEMIMG* d, MEMIMG* s, int t) {
       DrawRotaMemImg(d, s, 48, 48, 0.0f, 1.0f, t, 0, nullptr);
     }},
    {"DrawRotaMemImg 0.4 x1.5", [](MEMIMG* d, MEMIMG* s, int t) {
       DrawRotaMemImg(d, s, 50, 50, 0.4f, 1.5f, t, 0, nullptr);
     }},
    {"DrawRotaMemImg turned", [](MEMIMG* d, MEMIMG* s, int t) {
       DrawRotaMemImg(d, s, 50, 50, 0.4f, 1.5f, t, 1, nullptr);
     }},
    {"DrawQuadMemImg", [](MEMIMG* d, MEMIMG* s, int t) {
       const int32_t q[8] = {40, 40, 56, 40, 40, 56, 56, 56};
       DrawQuadMemImg(d, s, q, t, nullptr);
     }},
    {"DrawPolygonMemImg", [](MEMIMG* d, MEMIMG* s, int t) {
       const MemImgVertex v[3] = {{40, 40, 0, 0}, {74, 44, kSrc, 0}, {44, 74, 0, kSrc}};
       DrawPolygonMemImg(d, s, v, t, nullptr, 0);
     }},
};

TEST_F(AlphaZeroSkipTest, MulSkipsAlphaZeroUnderTheTransparentFlagInEveryDrawer) {
  for (int fmt : {1, 0})
    for (bool accel : {true, false})
      for (bool clipped : {false, true})
        for (int trans : {1, 0})
          for (const auto& [name, draw] : kDrawers) {
            const std::string where = std::string(name) + (fmt ? " 32-bit" : " 16-bit") +
                                      (accel ? " run map" : "") + (clipped ? " clipped" : "") +
                                      " trans " + std::to_string(trans);
            DrawArea = clipped ? RECT{42, 42, kDst, kDst} : RECT{0, 0, kDst, kDst};
            // Which source pixel lands where (a NOBLEND copy of the ids onto 0), and how often
            // (ADD of ones): a quadrangle's shared diagonal is drawn twice.
            auto src = Sprite(fmt, accel, kRandom);
            const SurfaceDesc desc{kDst, kDst, fmt};
            GuardedSurface map(desc, 5), visits(desc, 5);
            map.fill(0), visits.fill(0);
            DrawBlendMode = 0, DrawBlendParam = 255;
            draw(map.img(), Sprite(fmt, false, kIds)->img(), 1);
            DrawBlendMode = 2;
            draw(visits.img(), Sprite(fmt, false, kOnes)->img(), 1);
            for (int mode : {4, 0, 1, 2, 3, 10, 11}) {
              DrawBlendMode = mode, DrawBlendParam = 200;
              std::vector<uint8_t> drawn[2];
              for (int generic : {0, 1}) {
                GuardedSurface dst(desc, 7), before(desc, 7);
                dst.fillRandom(7), before.fillRandom(7);
                SoftForceGenericPath = generic;
                draw(dst.img(), src->img(), trans);
                SoftForceGenericPath = 0;
                ASSERT_TRUE(dst.CheckGuards()) << where;
                drawn[generic] = dst.Snapshot();
                if (generic) continue;
                int zero = 0, other = 0;
                for (int y = 0; y < kDst; ++y)
                  for (int x = 0; x < kDst; ++x) {
                    // (the 32-bit copy took the id's a = 255 along)
                    const uint32_t id = map.get(x, y) & 0xFFFF, d = before.get(x, y);
                    auto at = [&] {
                      return where + " mode " + std::to_string(mode) + " at " + std::to_string(x) +
                             "," + std::to_string(y);
                    };
                    if (id == 0) {
                      ASSERT_EQ(dst.get(x, y), d) << at() << " (not mapped)";
                      continue;
                    }
                    ASSERT_LE(id, uint32_t(kSrc * kSrc)) << where;
                    if ((visits.get(x, y) & 0xFF) != 1) continue;
                    const int sx = int(id - 1) % kSrc, sy = int(id - 1) / kSrc;
                    const uint32_t a = AlphaAt(sx, sy), s = src->get(sx, sy);
                    (a == 0 ? zero : other)++;
                    if (trans && a == 0) {
                      ASSERT_EQ(dst.get(x, y), d) << at();
                    } else if (mode == 4) {
                      ASSERT_EQ(dst.get(x, y), MulRule(fmt, s, a, !(trans && a == 255), d))
                          << at() << " a " << a;
                    }
                  }
                ASSERT_GT(zero, 20) << where;
                ASSERT_GT(other, 20) << where;
              }
              EXPECT_EQ(FirstDifference(drawn[0], drawn[1], kDst, fmt ? 4 : 2), "")
                  << where << " mode " << mode << ": specialised vs generic";
            }
          }
}

}  // namespace
