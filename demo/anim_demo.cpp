// The animation part of the demonstration: a 12-frame arm built with the tests' base builder,
// carrying four anims, drawn as a skeleton (each frame's position joined to its parent's) through
// a fixed perspective camera with the software line drawer, at eight evenly spaced times per row.
#include <cmath>
#include <cstdio>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/base/draw_state.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/memimg.h>
#include "tests/support/model_builder.h"

namespace {

constexpr int kFrames = 12;
constexpr int kColumns = 8;
constexpr int kCell = 120;
constexpr float kTotal = 4.0f;

// Keys at times 0..4 of one frame: a value per key for a float key set, or three per key.
TestAnimFrame FrameKeys(int frame, int type, int component, std::vector<float> values) {
  TestAnimFrame af;
  af.frame = frame;
  af.keySets.push_back(ExplicitKeys(type, component, {0, 1, 2, 3, 4}, std::move(values)));
  return af;
}

int BuildArmBase() {
  ModelBaseBuilder b;
  for (int i = 0; i < kFrames; ++i) b.AddFrame(i - 1, VECTOR{i == 0 ? 0.0f : 1.0f, 0, 0});
  TestAnim swing{"swing", kTotal, false, false, {}};
  TestAnim curl{"curl", kTotal, false, false, {}};
  TestAnim wave{"wave", kTotal, true, false, {}};
  TestAnim wide{"wide", kTotal, false, false, {}};
  for (int f = 0; f < kFrames; ++f) {
    // swing: the whole arm sways about Z through rotate vectors at the root, a little per joint.
    float s = f == 0 ? 0.6f : 0.05f;
    swing.frames.push_back(FrameKeys(f, 1, 0, {0, 0, -s, 0, 0, 0, 0, 0, s, 0, 0, 0, 0, 0, -s}));
    // curl: every joint bends about Z by a float key, more and more.
    curl.frames.push_back(FrameKeys(f, 5, 3, {0, 0.08f, 0.18f, 0.28f, 0.12f}));
    // wave: an additive travelling bump in Y on top of each joint's own offset.
    std::vector<float> y;
    for (int k = 0; k < 5; ++k) {
      float v = 0.35f * std::sin(0.9f * static_cast<float>(f) - 1.6f * static_cast<float>(k));
      y.insert(y.end(), {0, f == 0 ? 0.0f : v, 0});
    }
    wave.frames.push_back(FrameKeys(f, 1, 10, y));
    // wide: the root turns 2.0 radians between keys, so the anim runs on key matrices whose sine
    // and cosine are interpolated linearly: the bones shorten between keys.
    wide.frames.push_back(FrameKeys(f, 5, 3, f == 0 ? std::vector<float>{-1.0f, 1.0f, -1.0f, 1.0f, -1.0f}
                                                    : std::vector<float>{0, 0.04f, 0, 0.04f, 0}));
  }
  b.anims = {swing, curl, wave, wide};
  return b.Build();
}

// The fixed camera: eye at (6, 1, -26) looking along +Z, focal length 210 pixels.
void Project(const VECTOR& p, int cellX, int cellY, int* x, int* y) {
  float dx = p.x - 6.0f, dy = p.y - 1.0f, dz = p.z + 26.0f;
  *x = cellX + kCell / 2 + static_cast<int>(210.0f * dx / dz);
  *y = cellY + kCell / 2 - static_cast<int>(210.0f * dy / dz);
}

void DrawSkeleton(MEMIMG* img, int model, int cellX, int cellY, uint32_t colour) {
  MV1Model* m = MV1GetModelChecked(model);
  MV1SetupMatrix(m);
  for (int f = 0; f < kFrames; ++f) {
    const Matrix3x4& w = m->Frame[f].WorldMatrix;
    int x, y;
    Project(VECTOR{w.m[0][3], w.m[1][3], w.m[2][3]}, cellX, cellY, &x, &y);
    if (m->Frame[f].Parent) {
      const Matrix3x4& pw = m->Frame[f].Parent->WorldMatrix;
      int px, py;
      Project(VECTOR{pw.m[0][3], pw.m[1][3], pw.m[2][3]}, cellX, cellY, &px, &py);
      DrawLineMemImg(img, px, py, x, y, colour);
    }
    RECT joint{x - 1, y - 1, x + 1, y + 1};
    DrawFillBoxMemImg(img, &joint, DemoColor(1, 250, 250, 250));
  }
}

constexpr const char* kLegend =
    "Animation sheet: a 12-frame arm as a skeleton (each frame's position joined to its\n"
    "parent's), seen through a fixed perspective camera, at eight evenly spaced times from 0 to\n"
    "the total time 4 (left to right).\n"
    "Row 1: 'swing' alone (rotate-vector keys, the root sways).\n"
    "Row 2: 'curl' alone (rotate-Z float keys at every joint).\n"
    "Row 3: both attached with blend rate 0.5 each: the matrix blend normalises the rows.\n"
    "Row 4: 'wave', an additive anim: translate keys added to each joint's own offset.\n"
    "Row 5: 'wide', a rotation step of 2.0 radians: the whole anim runs on key matrices whose sine\n"
    "and cosine are interpolated linearly, so the bones visibly shorten between keys (the\n"
    "engine's own behaviour).\n";

}  // namespace

void RunAnimDemo() {
  if (!StartDirect3DDemo()) return;
  const int base = BuildArmBase();
  struct Row {
    std::vector<int> anims;
    uint32_t colour;
  };
  const Row rows[] = {{{0}, DemoColor(1, 90, 200, 255)},
                      {{1}, DemoColor(1, 120, 230, 120)},
                      {{0, 1}, DemoColor(1, 240, 200, 80)},
                      {{2}, DemoColor(1, 230, 120, 220)},
                      {{3}, DemoColor(1, 250, 110, 90)}};
  constexpr int rowCount = static_cast<int>(sizeof rows / sizeof rows[0]);
  MEMIMG sheet{};
  if (base != -1 && MakeMemImg(&sheet, kColumns * kCell, rowCount * kCell, 1) == 0) {
    ClearMemImg(&sheet, nullptr, DemoColor(1, 24, 26, 32));
    const RECT savedArea = DrawArea;
    const int savedMode = DrawBlendMode;
    DrawBlendMode = BLENDMODE::NOBLEND;
    int models[rowCount];
    for (int r = 0; r < rowCount; ++r) {
      // A base goes with its last model, so every row's model lives until the sheet is done.
      int model = models[r] = CreateTestModel(base);
      if (model == -1) continue;
      for (int anim : rows[r].anims) {
        int slot = MV1AttachAnim(model, anim, -1, 0);
        if (rows[r].anims.size() > 1) MV1SetAttachAnimBlendRate(model, slot, 0.5f);
      }
      for (int c = 0; c < kColumns; ++c) {
        const float t = kTotal * static_cast<float>(c) / static_cast<float>(kColumns - 1);
        for (int s = 0; s < static_cast<int>(rows[r].anims.size()); ++s) MV1SetAttachAnimTime(model, s, t);
        RECT cell{c * kCell + 1, r * kCell + 1, (c + 1) * kCell - 1, (r + 1) * kCell - 1};
        ClearMemImg(&sheet, &cell, DemoColor(1, 36, 40, 50));
        DrawArea = cell;
        DrawSkeleton(&sheet, model, c * kCell, r * kCell, rows[r].colour);
      }
    }
    DrawArea = savedArea;
    DrawBlendMode = savedMode;
    for (int r = 0; r < rowCount; ++r) MV1DeleteModel(models[r]);
    SaveDemoPicture(&sheet, "anim_sheet.png", kLegend);
    TerminateMemImg(&sheet);
  }
  EndDirect3DDemo();
}
