#include "demo/demo_common.h"

#include <cstdio>
#include <string>

#include <qzlib/image/baseimage.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/system/library.h>

bool SaveMemImgPicture(const MEMIMG* img, const char* path) {
  if (!img || !img->Base || img->Base->PaletteFlag) return false;
  const int format = img->Base->Format;
  if (format != MEMIMG_FORMAT_565 && format != MEMIMG_FORMAT_XRGB8) return false;
  BASEIMAGE out{};
  if (CreateXRGB8ColorBaseImage(img->Width, img->Height, &out) != 0) return false;
  const int bpp = img->Base->ColorFormat->PixelByte;
  for (int y = 0; y < img->Height; ++y) {
    const uint8_t* row = img->Pixels + static_cast<size_t>(y) * img->Base->Pitch;
    for (int x = 0; x < img->Width; ++x) {
      const uint8_t* p = row + static_cast<size_t>(x) * bpp;
      int r, g, b;
      if (format == MEMIMG_FORMAT_XRGB8) {
        b = p[0], g = p[1], r = p[2];
      } else {
        const int v = p[0] | p[1] << 8;
        r = ((v >> 11) & 31) * 255 / 31, g = ((v >> 5) & 63) * 255 / 63, b = (v & 31) * 255 / 31;
      }
      SetPixelBaseImage(&out, x, y, r, g, b, 255);
    }
  }
  const bool ok = SaveBaseImageToPng(path, &out, 6) == 0;
  ReleaseBaseImage(&out);
  return ok;
}

uint32_t DemoColor(int format, int r, int g, int b) {
  if (format == MEMIMG_FORMAT_XRGB8) return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
  return uint32_t(r >> 3) << 11 | uint32_t(g >> 2) << 5 | uint32_t(b >> 3);
}

void DrawDemoBackground(MEMIMG* img, int format) {
  for (int y = 0; y < img->Height; ++y) {
    RECT row = {0, y, img->Width, y + 1};
    ClearMemImg(img, &row, DemoColor(format, y * 255 / img->Height, 96, 255 - y * 255 / img->Height));
  }
  for (int x = 0; x < img->Width; x += 16) {
    RECT band = {x, 0, x + 8, img->Height};
    ClearMemImg(img, &band, DemoColor(format, 200, 200, 200));
  }
}

bool SaveDemoPicture(const MEMIMG* img, const char* path, const char* legend) {
  const int depth = img && img->Base && img->Base->Format == MEMIMG_FORMAT_565 ? 16 : 32;
  char text[4096];
  std::snprintf(text, sizeof(text), legend, depth);
  std::string legendPath(path);
  legendPath.replace(legendPath.size() - 4, 4, ".txt");
  bool ok = SaveMemImgPicture(img, path);
  if (std::FILE* f = std::fopen(legendPath.c_str(), "w")) {
    ok = std::fputs(text, f) >= 0 && ok;
    ok = std::fclose(f) == 0 && ok;
  } else {
    ok = false;
  }
  const std::string first(text, std::string(text).find('\n'));
  std::printf("%-24s %s  %s (legend: %s)\n", path, ok ? "saved" : "NOT SAVED", first.c_str(),
              legendPath.c_str());
  return ok;
}

bool StartDirect3DDemo() {
  SetUse3DFlag(1);
  SetGraphMode(640, 480, 32);
  if (InitLibrary() == 0) return true;
  std::printf("Direct3D-mode start failed; see Log.txt\n");
  SetUse3DFlag(0);
  return false;
}

void EndDirect3DDemo() {
  EndLibrary();
  SetUse3DFlag(0);
}
