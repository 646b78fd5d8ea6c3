// The MV1 file part of the demonstration: a small scene is written with the test writer (a
// three-level frame tree with float and quantised positions, byte and float normals, two textured
// meshes, one with colour and alpha files, one with a height map turned into a normal map), loaded
// with the MV1 reader and its counts printed. Every rigid triangle list is drawn with
// DrawPolygonIndexed3DBase at its frame's world matrix, textured with its material's first diffuse
// layer (model drawing proper comes later), and the recorded draws are replayed into a picture.
#include <cstdio>
#include <string>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/file/file.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/platform/d3d_device.h>
#include "examples/support/d3d_replay.h"
#include "tests/support/model_files.h"
#include "tests/support/mv1_writer.h"

namespace {

Mv1WScene DemoScene() {
  Mv1WScene s;
  s.frames.resize(3);
  s.frames[0].name = "root";
  s.frames[1] = Mv1WFrame{};
  s.frames[1].parent = 0;
  s.frames[1].name = "left";
  s.frames[1].translate = {-130, 0, 0};
  s.frames[1].quantised = true;
  s.frames[1].normalForm = 1;
  s.frames[2].parent = 1;
  s.frames[2].name = "right";
  s.frames[2].translate = {260, 0, 0};
  s.frames[2].rotate = {0, 0.5f, 0.2f};
  Mv1AddQuad(&s, 1, 0, 200);
  Mv1AddQuad(&s, 2, 1, 200);
  s.materials.resize(2);
  s.materials[0].name = "checker with alpha";
  s.materials[0].layers[0] = {{0, 0}};
  s.materials[1].name = "normal map";
  s.materials[1].layers[0] = {{1, 0}};
  s.textures = {{"checker", "mv1demo_checker.bgra", "mv1demo_alpha.bgra", 0, 1, 1, 1, 1},
                {"rings", "mv1demo_height.bgra", "", 1, 3.0f, 1, 1, 1}};
  return s;
}

constexpr const char* kLegend =
    "A model file written by the test MV1 writer and read back by the MV1 reader: three frames\n"
    "(root, left, right under left), two quads. Left: quantised positions and byte normals, a\n"
    "64 x 64 checker colour texture with a 4 x 4 alpha image (stretched). Right: float positions\n"
    "turned by its frame, textured with a 96 x 48 height map of rings turned into a normal map\n"
    "(scale 3, stretched to 128 x 64). Each rigid triangle list is drawn at its frame's world\n"
    "matrix with its material's first diffuse layer (DrawPolygonIndexed3DBase, blending off, so\n"
    "the alpha does not show), the texture modulated by the colour the default light gives.\n";

}  // namespace

void RunMv1Demo() {
  if (!StartDirect3DDemo()) return;
  std::vector<uint32_t> checker(64 * 64), rings(96 * 48), alpha(16);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x)
      checker[y * 64 + x] = ((x / 8 + y / 8) & 1) ? 0xFFE0C040u : 0xFF3060C0u;
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 96; ++x) {
      const int d2 = (x - 48) * (x - 48) + (y - 24) * (y - 24);
      rings[y * 96 + x] = 0xFF000000u | uint32_t((d2 / 30) % 2 ? 220 : 30) << 16;
    }
  for (int i = 0; i < 16; ++i) alpha[i] = 0xFF000000u | uint32_t(80 + i * 11) * 0x010101u;
  WriteEngineFile("mv1demo_checker.bgra", BgraFile(64, 64, checker));
  WriteEngineFile("mv1demo_height.bgra", BgraFile(96, 48, rings));
  WriteEngineFile("mv1demo_alpha.bgra", BgraFile(4, 4, alpha));
  char cwd[1024];
  FileGetCurrentDir(cwd, sizeof(cwd));

  const Mv1Written w = WriteMv1(DemoScene());
  const int h = LoadMV1ToModelBase(w.file.data(), w.file.size(), "demo.mv1", "demo", cwd);
  MV1ModelBase* base = h >= 0 ? MV1GetModelBaseChecked(h) : nullptr;
  if (!base) {
    std::printf("MV1 demo: the written file (%zu bytes) did not load; see Log.txt\n",
                w.file.size());
  } else {
    std::printf(
        "MV1 demo: %zu-byte file (%zu unpacked) loaded: %d frames, %d meshes, %d lists, %d "
        "triangles, "
        "%d textures (%d x %d and %d x %d)\n",
        w.file.size(), w.image.size(), base->FrameCount, base->MeshCount, base->TriangleListCount,
        base->TriangleCount, base->TextureCount, base->Texture[0].Width, base->Texture[0].Height,
        base->Texture[1].Width, base->Texture[1].Height);
    SetCameraPositionAndTargetUpVecY(VECTOR{0, 60, -520}, VECTOR{0, 0, 0});
    SetCameraNearFar(10, 5000);
    D3DObjects.Device->ClearRecord();
    for (int i = 0; i < base->TriangleListCount; ++i) {
      const MV1TriangleList* l = &base->TriangleList[i];
      if (l->VertexType != MV1_VERTEX_TYPE_RIGID || !l->VertexCount) continue;
      const MV1MeshBase* mesh = l->Container;
      // The 3-D drawers draw in world space: the frame's world matrix is applied here.
      const Matrix3x4& m = mesh->Container->WorldMatrix;
      auto apply = [&](const VECTOR& p, float w) {
        return VECTOR{m.m[0][0] * p.x + m.m[0][1] * p.y + m.m[0][2] * p.z + m.m[0][3] * w,
                      m.m[1][0] * p.x + m.m[1][1] * p.y + m.m[1][2] * p.z + m.m[1][3] * w,
                      m.m[2][0] * p.x + m.m[2][1] * p.y + m.m[2][2] * p.z + m.m[2][3] * w};
      };
      std::vector<VERTEX3D> v(size_t(l->VertexCount));
      const auto* r = reinterpret_cast<const MV1VertexRigid*>(MV1TriangleListVertices(l));
      for (int k = 0; k < l->VertexCount; ++k) {
        const float* uv = MV1MeshVertexUV(MV1MeshVertexAt(mesh, int(l->MeshVertexIndex[k])));
        v[size_t(k)] = VERTEX3D{apply(r[k].Position, 1),
                                apply(r[k].Normal, 0),
                                COLOR_U8{255, 255, 255, 255},
                                COLOR_U8{0, 0, 0, 0},
                                uv[0],
                                uv[1],
                                0,
                                0};
      }
      const int tex =
          mesh->Material->DiffuseLayerCount ? mesh->Material->DiffuseLayer[0].Texture : -1;
      DrawPolygonIndexed3DBase(v.data(), l->VertexCount, l->Index, l->IndexCount,
                               D3DPT_TRIANGLELIST, tex >= 0 ? base->Texture[tex].GraphHandle : -1,
                               1);
    }
    MEMIMG picture{};
    if (MakeMemImg(&picture, 640, 480, 1) == 0) {
      ClearMemImg(&picture, nullptr, DemoColor(1, 28, 30, 36));
      ReplayDraws(D3DObjects.Device->Draws(), &picture);
      SaveDemoPicture(&picture, "mv1_file.png", kLegend);
      TerminateMemImg(&picture);
    }
    MV1DeleteModelBase(h);
  }
  for (const char* f : {"mv1demo_checker.bgra", "mv1demo_height.bgra", "mv1demo_alpha.bgra"})
    RemoveEnginePath(f);
  EndDirect3DDemo();
}
