#include <qzlib/graphics/graphics.h>

#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/light.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/soft/memimg.h>

namespace {
bool g_tablesFilled = false;
MEMIMG g_softScreen{};
}  // namespace

void SetSoftDrawTarget(MEMIMG* target) {
  SetSoftDrawTargetRecord(target, target ? target->Width : 0, target ? target->Height : 0);
}

MEMIMG* GetSoftScreenMemImg() { return &g_softScreen; }

int InitGraphics() {
  if (CheckValidMemImg(&g_softScreen) || D3DObjects.Device) return -1;
  if (!g_tablesFilled) {
    InitMemImgBlendTable();
    g_tablesFilled = true;
  }
  if (!UseDirect3DFlag) {
    int w = 0, h = 0;
    GetDrawScreenSize(&w, &h);
    if (MakeMemImg(&g_softScreen, w, h, -1) != 0) return -1;
    ClearMemImg(&g_softScreen, nullptr, 0);
    SetSoftDrawTarget(&g_softScreen);
  } else {
    if (CreateD3DDevice() != 0) return -1;
    SetSoftDrawTarget(nullptr);
  }
  InitDrawState();
  InitDrawSettings();
  return 0;
}

void TerminateGraphics() {
  DeleteAllGraphs();
  TerminateLights();
  ReleaseD3DDevice();
  SoftBlendGraph = nullptr;
  SetSoftDrawTarget(nullptr);
  TerminateMemImg(&g_softScreen);
}
