#include <qzlib/base/draw_state.h>

int UseDirect3DFlag = 0;
RECT DrawArea = {0, 0, 640, 480};
int DrawBlendMode = 0;
int DrawBlendParam = 255;
uint32_t DrawBright = 0xFFFFFF;
MEMIMG* SoftDrawTarget = nullptr;
MEMIMG* SoftBlendGraph = nullptr;
MEMIMG*& DrawBlendGraphMemImg = SoftBlendGraph;

namespace {

int g_screenWidth = 640;
int g_screenHeight = 480;
// The software target's size, recorded when it is chosen.
int g_targetWidth = 0;
int g_targetHeight = 0;
int g_colorBitDepth = 32;

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

void TargetSize(int* w, int* h) {
  if (SoftDrawTarget) {
    *w = g_targetWidth;
    *h = g_targetHeight;
  } else {
    *w = g_screenWidth;
    *h = g_screenHeight;
  }
}

}  // namespace

int SetDrawArea(int x1, int y1, int x2, int y2) {
  int w, h;
  TargetSize(&w, &h);
  if (x1 > x2) { int t = x1; x1 = x2; x2 = t; }
  if (y1 > y2) { int t = y1; y1 = y2; y2 = t; }
  DrawArea.left = Clamp(x1, 0, w);
  DrawArea.top = Clamp(y1, 0, h);
  DrawArea.right = Clamp(x2, 0, w);
  DrawArea.bottom = Clamp(y2, 0, h);
  return 0;
}

int SetDrawBlendMode(int mode, int param) {
  DrawBlendMode = mode;
  DrawBlendParam = Clamp(param, 0, 255);
  return 0;
}

int SetDrawBright(int red, int green, int blue) {
  DrawBright = (uint32_t(Clamp(red, 0, 255)) << 16) | (uint32_t(Clamp(green, 0, 255)) << 8) |
               uint32_t(Clamp(blue, 0, 255));
  return 0;
}

uint32_t GetColor(int red, int green, int blue) {
  uint32_t r = uint32_t(Clamp(red, 0, 255)), g = uint32_t(Clamp(green, 0, 255)),
           b = uint32_t(Clamp(blue, 0, 255));
  if (g_colorBitDepth == 16) return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
  return (r << 16) | (g << 8) | b;
}

int GetColorBitDepth() { return g_colorBitDepth; }

int GetDrawScreenSize(int* width, int* height) {
  if (width) *width = g_screenWidth;
  if (height) *height = g_screenHeight;
  return 0;
}

void SetSoftDrawTargetRecord(MEMIMG* target, int width, int height) {
  SoftDrawTarget = target;
  g_targetWidth = target ? width : 0;
  g_targetHeight = target ? height : 0;
  int w, h;
  TargetSize(&w, &h);
  DrawArea = {0, 0, w, h};
}

void SetGraphMode(int width, int height, int colorBitDepth) {
  if (width > 0) g_screenWidth = width;
  if (height > 0) g_screenHeight = height;
  g_colorBitDepth = colorBitDepth == 16 ? 16 : 32;
}

void InitDrawState() {
  DrawBlendMode = 0;
  DrawBlendParam = 255;
  DrawBright = 0xFFFFFF;
  SoftBlendGraph = nullptr;
  SetSoftDrawTargetRecord(SoftDrawTarget, g_targetWidth, g_targetHeight);
}
