// The quarter-ellipse walk of the oval drawer, in 64-bit arithmetic.
//
// The walk starts at (X, y) = (rx, 0) and ends when X reaches 0; X only ever falls by 1 and y only
// ever rises by 1. A wide oval (rx >= ry) lowers X on every horizontal or diagonal move and raises
// y only when its ratio accumulator overflows; a tall oval (rx < ry) raises y on every vertical
// or diagonal move and lowers X only on overflow. Moves that change neither X nor y draw nothing,
// and a flat or thin oval makes billions of them, so Advance() takes each run of such moves in
// closed form and then makes the move that ends the run: it leaves exactly the state that
// repeating Move() until a move changes X or y leaves.
#pragma once
#include <algorithm>
#include <cstdint>

namespace shapes {

// Radii (and circle radii) above this draw nothing: their squares would not fit 32 bits.
constexpr int64_t kMaxShapeRadius = 46340;

template <bool Wide>
struct OvalWalk {
  int64_t X = 0, y = 0, acc = 0, K = 1, d1 = 0, d2 = 0, rx = 1, ry = 1;
  bool changedX = false, changedY = false;

  // rx, ry: 1 .. kMaxShapeRadius; Wide must equal rx >= ry.
  void Start(int64_t radiusX, int64_t radiusY) {
    rx = radiusX;
    ry = radiusY;
    X = rx;
    y = 0;
    acc = 0;
    K = Wide ? rx * rx / ry : ry * ry / rx;
    d1 = 3 - 2 * rx;
    d2 = 3 - 4 * rx;
    changedX = changedY = false;
  }

  // One move of the walk, taken literally.
  void Move() {
    changedX = changedY = false;
    if constexpr (Wide) {
      if (d1 < 0) {
        acc += ry;
        if (acc >= K) { ++y; acc -= K; changedY = true; }
        d2 += 4 * y;
        d1 += 4 * y + 2;
      } else {
        --X;
        changedX = true;
        if (d2 >= 0) {
          d1 -= 4 * X;
          d2 += 2 - 4 * X;
        } else {
          acc += ry;
          if (acc >= K) { ++y; acc -= K; changedY = true; }
          int64_t e = 4 * (y - X) + 2;
          d1 += e;
          d2 += e;
        }
      }
    } else {
      if (d1 < 0) {
        ++y;
        changedY = true;
        d2 += 4 * y;
        d1 += 4 * y + 2;
      } else {
        acc += rx;
        if (acc >= K) { --X; acc -= K; changedX = true; }
        if (d2 >= 0) {
          d1 -= 4 * X;
          d2 += 2 - 4 * X;
        } else {
          ++y;
          changedY = true;
          int64_t e = 4 * (y - X) + 2;
          d1 += e;
          d2 += e;
        }
      }
    }
  }

  // Number of moves from here on that would change neither X nor y (acc < K holds throughout).
  int64_t IdleRun() const {
    if constexpr (Wide) {
      // Vertical moves without overflow: d1 < 0 and acc + ry < K.
      if (d1 >= 0) return 0;
      const int64_t step = 4 * y + 2;
      const int64_t byDecision = (-d1 + step - 1) / step;
      if (acc + byDecision * ry < K) return byDecision;  // the accumulator does not limit the run
      return std::min(byDecision, (K - 1 - acc) / ry);
    } else {
      // Horizontal moves without overflow: d1 >= 0, d2 >= 0 and acc + rx < K (X >= 1 here).
      if (d1 < 0 || d2 < 0) return 0;
      const int64_t byD1 = d1 / (4 * X) + 1;
      const int64_t byD2 = d2 / (4 * X - 2) + 1;
      const int64_t byAccumulator = (K - 1 - acc) / rx;
      return std::min({byD1, byD2, byAccumulator});
    }
  }

  // Takes the run of idle moves at once, then makes the next move (which changes X or y).
  void Advance() {
    const int64_t n = IdleRun();
    if (n > 0) {
      if constexpr (Wide) {
        acc += n * ry;
        d2 += n * (4 * y);
        d1 += n * (4 * y + 2);
      } else {
        acc += n * rx;
        d1 -= n * (4 * X);
        d2 += n * (2 - 4 * X);
      }
    }
    Move();
  }
};

}  // namespace shapes
