#include "engine/graphics/graphics.h"

#include "engine/graphics/draw_state.h"
#include "engine/soft/blend_tables.h"

namespace {
bool g_tablesFilled = false;
}  // namespace

int InitGraphics() {
  if (!g_tablesFilled) {
    InitMemImgBlendTable();
    g_tablesFilled = true;
  }
  InitDrawState();
  return 0;
}

void TerminateGraphics() { SetSoftDrawTarget(nullptr); }
