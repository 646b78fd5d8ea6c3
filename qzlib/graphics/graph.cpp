// Graph handles and the software graphs behind them.
#include <qzlib/graphics/graph.h>

#include <cstring>

#include <qzlib/base/fatal_error.h>
#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graphics.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/image/pixel_codec.h>
#include <qzlib/soft/blend_tables.h>
#include <qzlib/base/engine_texts.h>

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

int32_t g_sizeLimitFlag = 0;
int32_t g_sizeLimit = 0;

// Releases a graph's device texture, taking it off any stage that holds it.
void ReleaseTexture(GRAPH_RECORD* g) {
  if (!g->Texture) return;
  if (D3DObjects.Device)
    for (int s = 0; s < D3D_STAGE_COUNT; ++s)
      if (D3DObjects.Device->Texture(s) == g->Texture) SetTextureCached(s, nullptr);
  g->Texture->Release();
  g->Texture = nullptr;
}

bool ImagesUsable(const BASEIMAGE* rgb, const BASEIMAGE* alpha) {
  if (!rgb || !rgb->GraphData || rgb->Width <= 0 || rgb->Height <= 0) return false;
  return !alpha || (alpha->GraphData && alpha->Width >= rgb->Width && alpha->Height >= rgb->Height);
}

// The images as A8R8G8B8 pixels in a new tracked block, or null.
uint32_t* MakeHostPixels(const BASEIMAGE* rgb, const BASEIMAGE* alpha) {
  const int w = rgb->Width, h = rgb->Height;
  uint32_t* p = static_cast<uint32_t*>(MEM_ALLOC(size_t(w) * size_t(h) * 4));
  if (!p) return nullptr;
  PIXELFORMAT argb{};
  BuildPixelFormatFromMasks(&argb, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
  const RECT all = {0, 0, w, h};
  if (BltConvertPixelFormat(p, w * 4, &argb, rgb->GraphData, rgb->Pitch, &rgb->ColorData,
                            alpha ? alpha->GraphData : nullptr, alpha ? alpha->Pitch : 0,
                            alpha ? &alpha->ColorData : nullptr, 0, 0, &all, 0, 0, 0, 0, 0, 0,
                            0, 0, w, h, w, h) < 0) {
    MEM_FREE(p);
    return nullptr;
  }
  if (!alpha && !PixelFormatHasAlpha(&rgb->ColorData))
    for (size_t i = 0; i < size_t(w) * size_t(h); ++i) p[i] |= 0xFF000000u;
  return p;
}

// Copies host pixels into a texture of their size. 0, or -1 when the lock fails.
int FillTexture(D3DTexture* t, const uint32_t* pixels, int w, int h) {
  int pitch = 0;
  void* bits = nullptr;
  if (t->LockRect(0, &pitch, &bits) != D3D_OK) return -1;
  for (int y = 0; y < h; ++y)
    std::memcpy(static_cast<uint8_t*>(bits) + int64_t(y) * pitch, pixels + int64_t(y) * w,
                size_t(w) * 4);
  t->UnlockRect(0);
  return 0;
}

// A managed texture holding the pixels, or null.
D3DTexture* MakeTexture(const uint32_t* pixels, int w, int h) {
  D3DTexture* t = nullptr;
  if (!D3DObjects.Device ||
      D3DObjects.Device->CreateTexture(uint32_t(w), uint32_t(h), 1, 0, D3DFMT_A8R8G8B8,
                                       D3DPOOL_MANAGED, &t) != D3D_OK)
    return nullptr;
  if (FillTexture(t, pixels, w, h) != 0) {
    t->Release();
    return nullptr;
  }
  return t;
}

// Fills the software surface of a graph from the images. 0, or -1 with nothing left.
int MakeSoftSurface(MEMIMG* image, const BASEIMAGE* rgb, const BASEIMAGE* alpha) {
  const int format = GetColorBitDepth() == 16 ? 0 : 1;
  const int hasAlpha = (alpha || PixelFormatHasAlpha(&rgb->ColorData)) ? 1 : 0;
  const int palette = !hasAlpha && PixelFormatIsPalette(&rgb->ColorData) ? 1 : 0;
  const int w = rgb->Width, h = rgb->Height;
  if (InitializeMemImg(image, w, h, -1, 0, format, palette, hasAlpha, 1, nullptr) != 0) return -1;
  if (BltBaseImageToMemImg(rgb, alpha, image, 0, 0, w, h, 0, 0, 0) < 0) {
    TerminateMemImg(image);
    return -1;
  }
  return 0;
}

void ReleaseGraph(int32_t slot) {
  GRAPH_RECORD* g = g_graphs[slot];
  if (!g) return;
  ReleaseTexture(g);
  MEM_FREE(g->HostPixels);
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

namespace {

// A new graph from the images; a full table ends the program when fatalWhenFull, else gives -1.
int CreateGraph(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage, bool fatalWhenFull) {
  if (!ImagesUsable(rgbImage, alphaImage)) return -1;
  const int32_t slot = FindFreeSlot();
  if (slot < 0) {
    if (fatalWhenFull) FatalErrorExit(TEXT_GRAPH_HANDLE_FULL);
    return -1;
  }
  GRAPH_RECORD* g = static_cast<GRAPH_RECORD*>(MEM_CALLOC(sizeof(GRAPH_RECORD)));
  if (!g) return -1;
  const int w = rgbImage->Width, h = rgbImage->Height;
  if (UseDirect3DFlag) {
    g->HostPixels = MakeHostPixels(rgbImage, alphaImage);
    g->Texture = g->HostPixels ? MakeTexture(g->HostPixels, w, h) : nullptr;
    if (!g->Texture) {
      MEM_FREE(g->HostPixels);
      MEM_FREE(g);
      return -1;
    }
  } else if (MakeSoftSurface(&g->Image, rgbImage, alphaImage) != 0) {
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

int CreateGraphFromFile(const void* data, size_t size, bool fatalWhenFull) {
  if (!data || size == 0) return -1;
  BASEIMAGE image;
  std::memset(&image, 0, sizeof image);
  if (CreateBaseImageToMem(nullptr, data, size, 1, &image, 0) < 0) return -1;
  int handle = CreateGraph(&image, nullptr, fatalWhenFull);
  ReleaseBaseImage(&image);
  return handle;
}

}  // namespace

int CreateGraphFromImageData(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage, int flag3,
                             int flag4, int flag5) {
  // An exhausted handle table ends the program, as every engine table does.
  return CreateGraph(rgbImage, alphaImage, true);
}

int CreateGraphFromImageFile(const void* data, size_t size, int flag3, int flag4, int flag5,
                             int flag6) {
  return CreateGraphFromFile(data, size, true);
}

int CreateModelTextureGraph(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage) {
  return CreateGraph(rgbImage, alphaImage, false);
}

int CreateModelTextureGraphFromFile(const void* data, size_t size) {
  return CreateGraphFromFile(data, size, false);
}

int ReCreateGraphFromImageData(const BASEIMAGE* rgbImage, const BASEIMAGE* alphaImage, int handle,
                               int flag4, int flag5, int flag6) {
  GRAPH_RECORD* g = GetGraphRecord(handle);
  if (!g || !ImagesUsable(rgbImage, alphaImage) || rgbImage->Width != g->Width ||
      rgbImage->Height != g->Height)
    return -1;
  if (UseDirect3DFlag) {
    uint32_t* pixels = MakeHostPixels(rgbImage, alphaImage);
    if (!pixels) return -1;
    if (g->Texture && FillTexture(g->Texture, pixels, g->Width, g->Height) != 0) {
      MEM_FREE(pixels);
      return -1;
    }
    MEM_FREE(g->HostPixels);
    g->HostPixels = pixels;
    return 0;
  }
  MEMIMG image{};
  if (MakeSoftSurface(&image, rgbImage, alphaImage) != 0) return -1;
  // The graph keeps its record; its surface is swapped for the new one.
  const bool target = SoftDrawTarget == &g->Image;
  TerminateMemImg(&g->Image);
  g->Image = image;
  if (target) SetSoftDrawTarget(&g->Image);
  if (CheckValidMemImg(&g->BlendImage)) {
    FillBlendImage(g);
  }
  return 0;
}

int ReCreateGraphFromImageFile(const void* data, size_t size, int handle, int flag4, int flag5,
                               int flag6, int flag7) {
  if (!data || size == 0 || !GetGraphRecord(handle)) return -1;
  BASEIMAGE image;
  std::memset(&image, 0, sizeof image);
  if (CreateBaseImageToMem(nullptr, data, size, 1, &image, 0) < 0) return -1;
  const int result = ReCreateGraphFromImageData(&image, nullptr, handle, 1, 0, 1);
  ReleaseBaseImage(&image);
  return result;
}

int SetTextureSizeLimit(int flag, int size) {
  g_sizeLimitFlag = flag;
  g_sizeLimit = size;
  return 0;
}

void GetTextureSizeLimit(int* flag, int* size) {
  if (flag) *flag = g_sizeLimitFlag;
  if (size) *size = g_sizeLimit;
}

D3DTexture* GetGraphTexture(int handle) {
  GRAPH_RECORD* g = GetGraphRecord(handle);
  return g ? g->Texture : nullptr;
}

void ReleaseAllGraphTextures() {
  for (int32_t i = 0; i < GRAPH_HANDLE_MAX; ++i)
    if (g_graphs[i]) ReleaseTexture(g_graphs[i]);
}

void RestoreAllGraphTextures() {
  for (int32_t i = 0; i < GRAPH_HANDLE_MAX; ++i) {
    GRAPH_RECORD* g = g_graphs[i];
    if (!g || !g->HostPixels || g->Texture) continue;
    g->Texture = MakeTexture(g->HostPixels, g->Width, g->Height);
    if (!g->Texture) WriteLogFmt("Graph texture %08X could not be restored", g->Handle);
  }
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
  // Blend graphs are a software-renderer feature.
  GRAPH_RECORD* g = UseDirect3DFlag ? nullptr : GetGraphRecord(handle);
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
  int w = 0, h = 0;
  if (handle == DX_SCREEN_BACK || handle == DX_SCREEN_FRONT) {
    if (UseDirect3DFlag) {
      // The device's screen is the draw screen; there is no software target.
      if (!D3DObjects.Device) return -1;
      SetSoftDrawTarget(nullptr);
    } else {
      MEMIMG* screen = GetSoftScreenMemImg();
      if (!CheckValidMemImg(screen)) return -1;
      SetSoftDrawTarget(screen);
    }
    GetDrawScreenSize(&w, &h);
  } else {
    // Drawing into a graph through the device is not offered.
    GRAPH_RECORD* g = UseDirect3DFlag ? nullptr : GetGraphRecord(handle);
    if (!g) return -1;
    SetSoftDrawTarget(&g->Image);
    w = g->Width;
    h = g->Height;
  }
  PlaceDrawScreenView(w, h);
  return 0;
}
