// Graph handles and the software graphs behind them.
#include "engine/graphics/graph.h"

#include <cstring>

#include "engine/base/fatal_error.h"
#include "engine/base/memory.h"
#include "engine/graphics/draw_state.h"
#include "engine/graphics/graphics.h"
#include "engine/image/pixel_codec.h"
#include "engine/soft/blend_tables.h"
#include "engine_texts.h"

namespace {

constexpr int32_t kKindMask = 0x78000000;
constexpr int32_t kCheckShift = 16;
constexpr int32_t kCheckMask = 0x7FF;
constexpr int32_t kIndexMask = 0xFFFF;

GRAPH_RECORD* g_graphs[GRAPH_HANDLE_MAX];
int32_t g_checkCounter = 0;  // check number of the next handle, 0..2047
int32_t g_nextSlot = 0;      // where the search for a free slot starts

// A free slot, searched round from the one after the last taken; -1 when the table is full.
int32_t FindFreeSlot() {
  for (int32_t i = 0; i < GRAPH_HANDLE_MAX; ++i) {
    int32_t slot = (g_nextSlot + i) % GRAPH_HANDLE_MAX;
    if (!g_graphs[slot]) return slot;
  }
  return -1;
}

// Blue channel of pixel x of a row as 8 bits.
uint8_t BlueOf(const MemImgBase* b, const uint8_t* row, int32_t x) {
  if (b->PaletteFlag) {
    uint32_t i = row[x];
    if (b->Format == 1) return b->Palette[i * 4];
    uint16_t e;
    std::memcpy(&e, b->Palette + i * 2, 2);
    return static_cast<uint8_t>(ChannelTo8(e & 0x1F, 5));
  }
  if (b->Format == 1) return row[x * 4];
  uint32_t v = b->AlphaFlag ? row[x * 4] : row[x * 2];
  return static_cast<uint8_t>(ChannelTo8(v & 0x1F, 5));
}

void FillBlendImage(GRAPH_RECORD* g) {
  const MemImgBase* sb = g->Image.Base;
  MemImgBase* db = g->BlendImage.Base;
  for (int32_t y = 0; y < g->Height; ++y) {
    const uint8_t* s = g->Image.Pixels + int64_t(y) * sb->Pitch;
    uint8_t* d = g->BlendImage.Pixels + int64_t(y) * db->Pitch;
    for (int32_t x = 0; x < g->Width; ++x) d[x] = BlueOf(sb, s, x);
  }
  MemImgMarkPixelsChanged(&g->BlendImage);
}

void ReleaseGraph(int32_t slot) {
  GRAPH_RECORD* g = g_graphs[slot];
  if (!g) return;
  if (SoftBlendGraph == &g->BlendImage) SoftBlendGraph = nullptr;
  if (SoftDrawTarget == &g->Image) {
    MEMIMG* screen = GetSoftScreenMemImg();
    SetSoftDrawTarget(CheckValidMemImg(screen) ? screen : nullptr);
  }
  TerminateMemImg(&g->BlendImage);
  TerminateMemImg(&g->Image);
  MEM_FREE(g);
  g_graphs[slot] = nullptr;
}

}  // namespace

GRAPH_RECORD* GetGraphRecord(int handle) {
  if (handle < 0 || (handle & kKindMask) != GRAPH_HANDLE_KIND) return nullptr;
  int32_t index = handle & kIndexMask;
  if (index >= GRAPH_HANDLE_MAX) return nullptr;
  GRAPH_RECORD* g = g_graphs[index];
  if (!g || ((g->Handle >> kCheckShift) & kCheckMask) != ((handle >> kCheckShift) & kCheckMask))
    return nullptr;
  return g;
}

int CreateGraphFromImageData(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage, int flag3,
                             int flag4, int flag5) {
  if (!rgbImage || !rgbImage->GraphData) return -1;
  if (alphaImage && (!alphaImage->GraphData || alphaImage->Width < rgbImage->Width ||
                     alphaImage->Height < rgbImage->Height))
    return -1;
  const int32_t slot = FindFreeSlot();
  // An exhausted handle table ends the program, as every engine table does.
  if (slot < 0) FatalErrorExit(TEXT_GRAPH_HANDLE_FULL);
  GRAPH_RECORD* g = static_cast<GRAPH_RECORD*>(MEM_CALLOC(sizeof(GRAPH_RECORD)));
  if (!g) return -1;
  const int format = GetColorBitDepth() == 16 ? 0 : 1;
  const int alpha = (alphaImage || PixelFormatHasAlpha(&rgbImage->ColorData)) ? 1 : 0;
  const int palette = !alpha && PixelFormatIsPalette(&rgbImage->ColorData) ? 1 : 0;
  const int w = rgbImage->Width, h = rgbImage->Height;
  if (InitializeMemImg(&g->Image, w, h, -1, 0, format, palette, alpha, 1, nullptr) != 0) {
    MEM_FREE(g);
    return -1;
  }
  if (BltBaseImageToMemImg(rgbImage, alphaImage, &g->Image, 0, 0, w, h, 0, 0, 0) < 0) {
    TerminateMemImg(&g->Image);
    MEM_FREE(g);
    return -1;
  }
  g->Width = w;
  g->Height = h;
  g->Handle = GRAPH_HANDLE_KIND | (g_checkCounter << kCheckShift) | slot;
  g_checkCounter = (g_checkCounter + 1) & kCheckMask;
  g_graphs[slot] = g;
  g_nextSlot = (slot + 1) % GRAPH_HANDLE_MAX;
  return g->Handle;
}

int CreateGraphFromImageFile(const void* data, size_t size, int flag3, int flag4, int flag5,
                             int flag6) {
  if (!data || size == 0) return -1;
  BASEIMAGE image;
  std::memset(&image, 0, sizeof image);
  if (CreateBaseImageToMem(nullptr, data, size, 1, &image, 0) < 0) return -1;
  int handle = CreateGraphFromImageData(&image, nullptr, 1, 0, 1);
  ReleaseBaseImage(&image);
  return handle;
}

int DeleteGraph(int handle, int flag) {
  GRAPH_RECORD* g = GetGraphRecord(handle);
  if (!g) return -1;
  ReleaseGraph(handle & kIndexMask);
  return 0;
}

void DeleteAllGraphs() {
  for (int32_t i = 0; i < GRAPH_HANDLE_MAX; ++i) ReleaseGraph(i);
}

int GetGraphSize(int handle, int* width, int* height) {
  if (handle == DX_SCREEN_BACK || handle == DX_SCREEN_FRONT)
    return GetDrawScreenSize(width, height);
  GRAPH_RECORD* g = GetGraphRecord(handle);
  if (!g) return -1;
  if (width) *width = g->Width;
  if (height) *height = g->Height;
  return 0;
}

int SetBlendGraph(int handle, int border, int range) {
  if (handle == -1) {
    SoftBlendGraph = nullptr;
    MakeMemImgBlendGraphTable(border, range);
    return 0;
  }
  GRAPH_RECORD* g = GetGraphRecord(handle);
  if (!g) return -1;
  if (!CheckValidMemImg(&g->BlendImage) &&
      InitializeMemImg(&g->BlendImage, g->Width, g->Height, -1, 0, 2, 0, 0, 0, nullptr) != 0)
    return -1;
  // Refreshed at every call, so that drawing into the graph since shows in the weights.
  FillBlendImage(g);
  SoftBlendGraph = &g->BlendImage;
  MakeMemImgBlendGraphTable(border, range);
  return 0;
}

int SetDrawScreen(int handle) {
  if (handle == DX_SCREEN_BACK || handle == DX_SCREEN_FRONT) {
    MEMIMG* screen = GetSoftScreenMemImg();
    if (!CheckValidMemImg(screen)) return -1;
    SetSoftDrawTarget(screen);
    return 0;
  }
  GRAPH_RECORD* g = GetGraphRecord(handle);
  if (!g) return -1;
  SetSoftDrawTarget(&g->Image);
  return 0;
}
