// The model drawing part of the demonstration: models built in code with the tests' base builder
// and drawn with MV1DrawModel in Direct3D mode over the stand-in device (fixed-function path);
// the recorded draws are replayed into pictures.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/image/baseimage.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/soft/memimg.h>
#include "examples/support/d3d_replay.h"
#include "tests/support/model_builder.h"

namespace {

// A box mesh of `frame` (24 vertices, outward normals, each face's UVs from 0 to 1 set after the
// build by SetFaceUVs); skinned types take per-vertex bones from `bonesOf`.
void AddBox(ModelBaseBuilder* b, int frame, VECTOR lo, VECTOR hi, int material, int type = 0,
            int uvSets = 1, std::vector<TestBoneWeight> (*bonesOf)(VECTOR) = nullptr) {
  TestMesh mesh;
  mesh.frame = frame;
  mesh.material = material;
  mesh.uvSets = uvSets;
  TestTriangleList list;
  list.type = type;
  const VECTOR n[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  for (int f = 0; f < 6; ++f) {
    const VECTOR nn = n[f];
    // Two axes spanning the face.
    const VECTOR u = nn.x != 0 ? VECTOR{0, 0, nn.x} : nn.y != 0 ? VECTOR{nn.y, 0, 0} : VECTOR{-nn.z, 0, 0};
    const VECTOR v = {nn.y * u.z - nn.z * u.y, nn.z * u.x - nn.x * u.z, nn.x * u.y - nn.y * u.x};
    const int first = int(mesh.vertices.size());
    for (int k = 0; k < 4; ++k) {
      const float su = (k == 1 || k == 2) ? 1.f : -1.f, sv = k >= 2 ? 1.f : -1.f;
      VECTOR p;
      float* pc = &p.x;
      const float* lc = &lo.x;
      const float* hc = &hi.x;
      const float dir[3] = {nn.x + su * u.x + sv * v.x, nn.y + su * u.y + sv * v.y, nn.z + su * u.z + sv * v.z};
      for (int c = 0; c < 3; ++c) pc[c] = dir[c] > 0 ? hc[c] : lc[c];
      TestVertex tv;
      tv.position = p;
      tv.normal = nn;
      if (bonesOf) tv.bones = bonesOf(p);
      mesh.vertices.push_back(tv);
      list.meshVertices.push_back(first + k);
    }
    for (int idx : {0, 1, 2, 0, 2, 3}) list.indices.push_back(uint16_t(first + idx));
  }
  if (type == 1 || type == 2)
    for (size_t i = 0; i < b->frames[frame].boneList.size(); ++i) list.useBones.push_back(int(i));
  mesh.lists.push_back(list);
  b->meshes.push_back(mesh);
}

// Each face of every box mesh of the base runs its first UV set from 0 to 1.
void SetFaceUVs(int baseHandle) {
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  for (int m = 0; m < base->MeshCount; ++m) {
    MV1MeshBase* mesh = &base->Mesh[m];
    if (mesh->UVSetCount < 1) continue;
    for (int i = 0; i < mesh->VertexCount; ++i) {
      float* uv = MV1MeshVertexUV(MV1MeshVertexAt(mesh, i));
      uv[0] = (i % 4 == 1 || i % 4 == 2) ? 1.f : 0.f;
      uv[1] = i % 4 >= 2 ? 1.f : 0.f;
    }
  }
}

// A 64 x 64 graph of coloured checks.
int CheckerGraph() {
  BASEIMAGE img{};
  if (CreateXRGB8ColorBaseImage(64, 64, &img) < 0) return -1;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const bool on = ((x / 8) + (y / 8)) % 2 == 0;
      SetPixelBaseImage(&img, x, y, on ? 240 : 60, on ? 200 : 90, on ? 80 : 200, 255);
    }
  const int g = CreateGraphFromImageData(&img, nullptr, 1, 0, 1);
  ReleaseBaseImage(&img);
  return g;
}

void CheckerBackground(MEMIMG* img) {
  for (int y = 0; y < img->Height; ++y)
    for (int x = 0; x < img->Width; ++x) {
      const uint32_t c = ((x / 32) + (y / 32)) % 2 ? 0x00E0E0E0u : 0x00303030u;
      std::memcpy(img->Pixels + size_t(y) * img->Base->Pitch + 4 * x, &c, 4);
    }
  MemImgMarkPixelsChanged(img);
}

void Picture(const char* path, const char* legend, int background) {
  MEMIMG picture{};
  if (MakeMemImg(&picture, 640, 480, 1) != 0) return;
  if (background == 0) ClearMemImg(&picture, nullptr, DemoColor(1, 28, 30, 36));
  if (background == 1) CheckerBackground(&picture);
  if (background == 2) DrawDemoBackground(&picture, 1);
  // The replayer sorts triangles without a depth buffer; the outlines (the back faces of the
  // grown surfaces) go first so that the surfaces they surround cover them.
  std::vector<D3DDrawSnapshot> outlines, surfaces;
  for (const D3DDrawSnapshot& d : D3DObjects.Device->Draws())
    (d.Fvf == MV1_OUTLINE_VERTEX_FVF ? outlines : surfaces).push_back(d);
  ReplayDraws(outlines, &picture);
  ReplayDraws(surfaces, &picture);
  SaveDemoPicture(&picture, path, legend);
  TerminateMemImg(&picture);
}

int ModelOf(int base) {
  const int h = MV1AddModelHandle();
  if (h < 0 || MV1CreateModelFromBase(h, base) != 0) return -1;
  return h;
}

std::vector<TestBoneWeight> ArmBones(VECTOR p) {
  // Upper arm 0..100, forearm 100..200, hand beyond; blended across the joints.
  const float x = p.x;
  if (x < 80) return {{0, 1.0f}, {1, 0.0f}, {2, 0.0f}, {3, 0.0f}};
  if (x < 120) return {{0, 0.5f}, {1, 0.5f}, {2, 0.0f}, {3, 0.0f}};
  if (x < 180) return {{1, 1.0f}, {0, 0.0f}, {2, 0.0f}, {3, 0.0f}};
  return {{1, 0.5f}, {2, 0.5f}, {0, 0.0f}, {3, 0.0f}};
}

}  // namespace

void RunModelDrawDemo() {
  if (!StartDirect3DDemo()) return;
  SetCameraPositionAndTargetUpVecY(VECTOR{0, 120, -420}, VECTOR{0, 0, 0});
  SetCameraNearFar(10, 5000);
  D3DDevice* dev = D3DObjects.Device;

  // 1 and 2: a textured, lit box; then at opacity 0.5 over a checkerboard.
  {
    ModelBaseBuilder b;
    b.AddFrame(-1);
    b.materials.push_back({"checker"});
    b.materials[0].diffuseLayers = 1;
    b.textures = {"checker.png"};
    AddBox(&b, 0, {-80, -80, -80}, {80, 80, 80}, 0);
    const int base = b.Build();
    SetFaceUVs(base);
    const int h = ModelOf(base);
    MV1Model* model = MV1GetModelChecked(h);
    const int graph = CheckerGraph();
    model->Texture[0].UseUserGraph = 1;
    model->Texture[0].UserGraphHandle = graph;
    model->Material[0].Diffuse = {1, 1, 1, 1};
    MV1SetRotationXYZ(h, VECTOR{0.4f, 0.7f, 0});
    dev->ClearRecord();
    MV1DrawModel(h);
    Picture("model_draw_textured.png",
            "A box with a checker texture (a user graph on its model texture), lit by the default\n"
            "directional light through the fixed-function path, turned by the model rotation; the\n"
            "texture is modulated by the lit colour, so the face turned from the light (no ambient\n"
            "light) is black.\n",
            0);
    MV1SetOpacityRate(h, 0.5f);
    dev->ClearRecord();
    MV1DrawModel(h);
    Picture("model_draw_opacity.png",
            "The same box at opacity 0.5 over a checkerboard: the texture factor 0x7FFFFFFF and the\n"
            "extra stage that multiplies alpha by it; blended with source alpha.\n",
            1);
    MV1DeleteModel(h);
    DeleteGraph(graph);
  }

  // 3: a toon material with its outline.
  {
    ModelBaseBuilder b;
    b.AddFrame(-1);
    b.materials.push_back({"toon"});
    AddBox(&b, 0, {-70, -70, -70}, {70, 70, 70}, 0);
    const int base = b.Build();
    SetFaceUVs(base);
    MV1ModelBase* mb = MV1GetModelBaseChecked(base);
    mb->Material[0].Type = 1;
    mb->Material[0].OutlineWidth = 6.0f;
    const int h = ModelOf(base);
    MV1Model* model = MV1GetModelChecked(h);
    model->Material[0].OutlineWidth = 6.0f;
    model->Material[0].OutlineColor = {0.9f, 0.3f, 0.1f, 1};
    MV1SetRotationXYZ(h, VECTOR{0.5f, 0.6f, 0});
    dev->ClearRecord();
    MV1DrawModel(h);
    Picture("model_draw_toon_outline.png",
            "A toon material (lighting off, built-in gradation stages) with an outline of width 6\n"
            "in colour (0.9, 0.3, 0.1): the outline vertices (format 0x42) are the positions pushed\n"
            "out along the normals, drawn after the box with front faces culled, so only the rim\n"
            "shows around the box.\n",
            0);
    MV1DeleteModel(h);
  }

  // 4: materials in each blend mode, parameter 160.
  {
    ModelBaseBuilder b;
    b.AddFrame(-1);
    const int modes[6] = {BLENDMODE::NOBLEND, BLENDMODE::ALPHA, BLENDMODE::ADD,
                          BLENDMODE::SUB,     BLENDMODE::MUL,   BLENDMODE::MULA};
    b.textures = {"checker.png"};
    for (int i = 0; i < 6; ++i) {
      b.materials.push_back({"mode"});
      b.materials.back().diffuseLayers = 1;
      const float x = -250.f + 100.f * float(i);
      AddBox(&b, 0, {x - 40, -40, -40}, {x + 40, 40, 40}, i);
    }
    const int blendBase = b.Build();
    SetFaceUVs(blendBase);
    const int h = ModelOf(blendBase);
    MV1Model* model = MV1GetModelChecked(h);
    const int graph = CheckerGraph();
    model->Texture[0].UseUserGraph = 1;
    model->Texture[0].UserGraphHandle = graph;
    for (int i = 0; i < 6; ++i) {
      model->Material[i].DrawBlendMode = modes[i];
      model->Material[i].DrawBlendParam = 160;
      model->Material[i].Diffuse = {0.9f, 0.6f, 0.3f, 1};
    }
    MV1SetRotationXYZ(h, VECTOR{0.3f, 0.2f, 0});
    dev->ClearRecord();
    MV1DrawModel(h);
    Picture("model_draw_blend_modes.png",
            "Six boxes, left to right in the blend modes NOBLEND, ALPHA, ADD, SUB, MUL and MULA at\n"
            "parameter 160, textured with checks and lit by the default light, over the demonstration\n"
            "background (MUL and MULA darken it by the checks' lit colours; faces turned from the\n"
            "light are black, or leave the background as it is in ADD and SUB).\n",
            2);
    MV1DeleteModel(h);
    DeleteGraph(graph);
  }

  // 5: a skinned arm posed by an animation, as a row of frames.
  {
    ModelBaseBuilder b = AnimatedChainBuilder(3, 1, 8);
    for (auto& f : b.frames) f.translate = f.parent < 0 ? VECTOR{0, 0, 0} : VECTOR{100, 0, 0};
    b.frames[0].bonesPerVertex = 4;
    b.frames[0].boneList = {0, 1, 2};
    for (int i = 0; i < 3; ++i) {
      TestSkinBone bone;
      bone.frame = i;
      bone.offset = Matrix3x4{{{1, 0, 0, -100.f * float(i)}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
      b.skinBones.push_back(bone);
    }
    for (auto& a : b.anims)
      for (auto& af : a.frames) af.keySets.pop_back();  // rotations only: the bones stay joined
    b.materials.push_back({"arm"});
    for (int s = 0; s < 5; ++s)
      AddBox(&b, 0, {float(s) * 50.f, -15, -15}, {float(s) * 50.f + 50.f, 15, 15}, 0, 1, 1, ArmBones);
    const int base = b.Build();
    SetFaceUVs(base);
    dev->ClearRecord();
    const int h = ModelOf(base);
    MV1AttachAnim(h, 0, -1, 0);
    MV1SetScale(h, VECTOR{0.6f, 0.6f, 0.6f});
    for (int k = 0; k < 4; ++k) {
      MV1SetAttachAnimTime(h, 0, float(k) * 2.0f);
      MV1SetPosition(h, VECTOR{-300.f + 150.f * float(k), 0, 0});
      MV1DrawModel(h);
    }
    MV1DeleteModel(h);
    Picture("model_draw_skinned_arm.png",
            "A skinned arm of five boxes over three bones (four weights a vertex, blended across\n"
            "the joints), posed by an animation at times 0, 2, 4 and 6 from left to right and\n"
            "skinned in software on the fixed-function path.\n",
            0);
  }

  // 6: one frame behind the camera is left out.
  {
    ModelBaseBuilder b;
    b.AddFrame(-1);
    b.AddFrame(-1, {0, 0, -900});  // behind the camera
    b.AddFrame(-1, {150, 0, 100});
    b.materials.push_back({"scene"});
    AddBox(&b, 0, {-50, -50, -50}, {50, 50, 50}, 0);
    AddBox(&b, 1, {-50, -50, -50}, {50, 50, 50}, 0);
    AddBox(&b, 2, {-40, -40, -40}, {40, 40, 40}, 0);
    const int sceneBase = b.Build();
    SetFaceUVs(sceneBase);
    const int h = ModelOf(sceneBase);
    dev->ClearRecord();
    MV1DrawModel(h);
    char legend[256];
    std::snprintf(legend, sizeof legend,
                  "A model of three frames, one placed behind the camera: MV1DrawModel skips it by\n"
                  "its box (%zu draws recorded for three meshes).\n",
                  dev->Draws().size());
    Picture("model_draw_culled_frame.png", legend, 0);
    MV1DeleteModel(h);
  }
  EndDirect3DDemo();
}
