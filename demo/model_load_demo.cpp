// The model loading part of the demonstration: a model file is loaded by path through
// MV1LoadModel from a folder whose name holds a Shift_JIS character with a 0x5C trail byte, with
// its textures beside it (one missing). Its rigid triangle lists are drawn from their device
// buffers and replayed into a picture, a device loss is simulated, and the second picture must
// equal the first. The fall-back texture, a normal map and a colour texture with its stretched
// alpha are saved as pictures. The model file is written by the test MV1 writer.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/light.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/system/library.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/model/model_texture.h>
#include "examples/support/d3d_replay.h"
#include "tests/support/model_files.h"
#include "tests/support/mv1_writer.h"

namespace {

// "demo_ソ" in Shift_JIS: ソ is 0x83 0x5C.
const char kFolder[] = "demo_\x83\x5C";
const char* const kTextures[] = {"checker.bgra", "missing.png", "height.bgra"};

// Three frames, each with a textured quad of side 8 in one rigid list; material i uses texture i.
Mv1WScene DemoScene() {
  Mv1WScene s;
  for (int i = 0; i < 3; ++i) {
    Mv1WFrame f;
    f.name = "quad" + std::to_string(i);
    f.translate = {120.0f + 200.0f * i, 220, 0};  // the quad's centre
    f.rotate = {0, 0.3f * (i - 1), 0};
    f.scale = {20, 20, 20};
    s.frames.push_back(f);
    Mv1WMaterial mat;
    mat.name = "mat" + std::to_string(i);
    mat.diffuse = {1, 1, 1, 1};
    mat.layers[0] = {{i, 0}};
    s.materials.push_back(mat);
    Mv1AddQuad(&s, i, i, 8);
  }
  s.textures = {{"checker", kTextures[0], ""}, {"missing", kTextures[1], ""},
                {"height", kTextures[2], "", 1, 2.0f}};
  return s;
}

// Draws every rigid list that has device buffers, at its frame's world matrix.
void DrawModelLists(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  MV1ModelBase* base = model->BaseData;
  D3DDevice* dev = D3DObjects.Device;
  dev->ClearRecord();
  for (int i = 0; i < base->TriangleListCount; ++i) {
    const MV1TriangleList* l = &base->TriangleList[i];
    if (l->VertexType != MV1_VERTEX_TYPE_RIGID || !l->VertexBuffer || !l->VertexBuffer->VertexBuffer)
      continue;
    const MV1MeshBase* mesh = l->Container;
    MATRIX world;
    Matrix3x4ToMatrix(&world, &mesh->Container->WorldMatrix);
    SetWorldMatrixDirect(&world);
    const int tex = mesh->Material->DiffuseLayer[0].Texture;
    SetTextureCached(0, GetGraphTexture(base->Texture[tex].GraphHandle));
    uint32_t fvf = l->VertexBuffer->VertexBuffer->Format();
    dev->SetStreamSource(0, l->VertexBuffer->VertexBuffer, 0, D3DFvfVertexSize(fvf));
    dev->SetIndices(l->VertexBuffer->IndexBuffer);
    dev->SetFVF(fvf);
    dev->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, l->VertexBufferStartVertex, 0, l->VertexCount,
                              l->VertexBufferStartIndex, l->IndexCount / 3);
  }
  // Buffers are not held by the device beyond the draw.
  dev->SetStreamSource(0, nullptr, 0, 0);
  dev->SetIndices(nullptr);
  SetTextureCached(0, nullptr);
}

constexpr const char* kLossLegend =
    "A model file (written by the test MV1 writer) loaded by path with MV1LoadModel from a folder\n"
    "whose name ends in a Shift_JIS character with a 0x5C trail byte; %s a simulated device loss.\n"
    "Its three frames each hold one textured quad, drawn from the rigid lists' device buffers at\n"
    "the frames' world matrices with lighting off, so the textures show as loaded, left to right:\n"
    "a 64 x 64 checker (checker.bgra beside the model), the built-in 8 x 8 white image that the\n"
    "missing missing.png became, and the normal map made from height.bgra (scale 2).\n"
    "The pictures before and after the loss are identical: the buffers and textures are rebuilt.\n";

// Replays the recorded draws into a picture; returns its pixels.
std::vector<uint32_t> RenderPicture(int modelHandle, const char* path, const char* when) {
  SetUseLighting(0);
  DrawModelLists(modelHandle);
  SetUseLighting(1);
  MEMIMG picture{};
  std::vector<uint32_t> pixels;
  if (MakeMemImg(&picture, 640, 480, 1) != 0) return pixels;
  DrawDemoBackground(&picture, 1);
  const ReplayStats s = ReplayDraws(D3DObjects.Device->Draws(), &picture);
  for (int y = 0; y < 480; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(
        picture.Pixels + size_t(y) * picture.Base->Pitch);
    pixels.insert(pixels.end(), row, row + 640);
  }
  std::printf("%s: %d triangles from device buffers\n", path, s.Triangles);
  char legend[1024];
  std::snprintf(legend, sizeof legend, kLossLegend, when);
  SaveDemoPicture(&picture, path, legend);
  TerminateMemImg(&picture);
  return pixels;
}

void SaveImage(const BASEIMAGE& img, const char* path, const char* legend) {
  const bool ok = SaveBaseImageToPng(path, &img, -1) == 0;
  std::string txt = std::string(path, std::strlen(path) - 4) + ".txt";
  FILE* f = std::fopen(txt.c_str(), "w");
  if (f) {
    std::fprintf(f, "%s\n", legend);
    std::fclose(f);
  }
  std::printf("%s: %d x %d %s; %s\n", path, img.Width, img.Height, ok ? "saved" : "NOT saved", legend);
}

// The three texture pictures, made as the loader makes them.
void SaveTexturePictures(const std::vector<uint8_t>& height, const std::vector<uint8_t>& color,
                         const std::vector<uint8_t>& alpha) {
  BASEIMAGE c{}, a{};
  if (MV1LoadTextureFiles(&c, &a, nullptr, 0, nullptr, 0, 0, 0) == 0) {
    SaveImage(c, "model_fallback_texture.png", "The built-in 8 x 8 white image a missing texture file becomes.");
    ReleaseBaseImage(&c);
  }
  if (MV1LoadTextureFiles(&c, &a, height.data(), int(height.size()), nullptr, 0, 1, 2.0f) == 0) {
    SaveImage(c, "model_normal_map.png",
              "Normal map (scale 2) of a 100 x 60 height map of rings, stretched to 128 x 64.");
    ReleaseBaseImage(&c);
  }
  if (MV1LoadTextureFiles(&c, &a, color.data(), int(color.size()), alpha.data(), int(alpha.size()),
                          0, 0) == 0) {
    // The colour image with the alpha image's blue channel as its alpha.
    BASEIMAGE rgba{};
    PIXELFORMAT f{};
    BuildPixelFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
    if (CreateBaseImageOfFormat(c.Width, c.Height, &f, &rgba) == 0) {
      for (int y = 0; y < c.Height; ++y)
        for (int x = 0; x < c.Width; ++x) {
          int r, g, bl, al, ar, ag, ab, aa;
          GetPixelBaseImage(&c, x, y, &r, &g, &bl, &al);
          GetPixelBaseImage(&a, x, y, &ar, &ag, &ab, &aa);
          SetPixelBaseImage(&rgba, x, y, r, g, bl, ab);
        }
      SaveImage(rgba, "model_color_with_alpha.png",
                "A 64 x 64 checker colour texture with its 4 x 4 alpha image stretched (filtered) to 64 x 64.");
      ReleaseBaseImage(&rgba);
    }
    ReleaseBaseImage(&c);
    ReleaseBaseImage(&a);
  }
}

}  // namespace

void RunModelLoadDemo() {
  SetUse3DFlag(1);
  SetGraphMode(640, 480, 32);
  if (InitLibrary() != 0) {
    std::printf("Direct3D-mode start failed; see Log.txt\n");
    SetUse3DFlag(0);
    return;
  }
  // The folder and its files: a checker colour texture, a height map, an alpha image; the
  // second texture's file is left missing.
  char cwd[1024];
  FileGetCurrentDir(cwd, sizeof(cwd));
  const std::string folder = std::string(cwd) + "\\" + kFolder;
  MakeEngineFolder(folder);
  std::vector<uint32_t> checker(64 * 64), rings(100 * 60), alphaPixels(16);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) checker[y * 64 + x] = ((x / 8 + y / 8) & 1) ? 0xFFE0C040u : 0xFF3060C0u;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x) {
      const int d2 = (x - 50) * (x - 50) + (y - 30) * (y - 30);
      const uint32_t h = uint32_t((d2 / 24) % 2 ? 200 : 40);
      rings[y * 100 + x] = 0xFF000000u | h << 16;
    }
  for (int i = 0; i < 16; ++i) alphaPixels[i] = 0xFF000000u | uint32_t(i * 17) * 0x010101u;
  const std::vector<uint8_t> colorFile = BgraFile(64, 64, checker), heightFile = BgraFile(100, 60, rings),
                             alphaFile = BgraFile(4, 4, alphaPixels);
  WriteEngineFile(folder + "\\checker.bgra", colorFile);
  WriteEngineFile(folder + "\\height.bgra", heightFile);
  const std::string path = folder + "\\model.mv1";
  WriteEngineFile(path, WriteMv1(DemoScene()).file);

  const int model = MV1LoadModel(path.c_str());
  if (model < 0) {
    std::printf("model load from %s failed; see Log.txt\n", kFolder);
  } else {
    MV1ModelBase* base = MV1GetModelChecked(model)->BaseData;
    const std::string dir = base->DirectoryPath;
    const bool intact = dir.size() >= folder.size() && dir.compare(0, folder.size(), folder) == 0;
    std::printf("model \"%s\" loaded by path; its folder, ending in the 0x5C trail byte, is %s; "
                "texture \"%s\" fell back to white (%d x %d)\n",
                base->Name, intact ? "intact" : "CUT", base->Texture[1].ColorFileName,
                base->Texture[1].Width, base->Texture[1].Height);
    const std::vector<uint32_t> before = RenderPicture(model, "model_before_loss.png", "before");
    D3DDevice::SimulateDeviceLoss();
    const std::vector<uint32_t> after = RenderPicture(model, "model_after_loss.png", "after");
    std::printf("device loss: the pictures before and after are %s\n",
                !before.empty() && before == after ? "identical" : "DIFFERENT");
    MV1DeleteModel(model);
  }
  SaveTexturePictures(heightFile, colorFile, alphaFile);
  for (const char* f : {"\\checker.bgra", "\\height.bgra", "\\model.mv1"}) RemoveEnginePath(folder + f);
  RemoveEnginePath(folder);
  EndLibrary();
  SetUse3DFlag(0);
}
