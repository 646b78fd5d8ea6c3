// The model part of the demonstration: a small model base built in code with the tests' base
// builder, two models posed by position, rotation, a non-uniform scale and frame user local
// matrices on a three-level arm; every frame's bounding box is drawn as twelve 3-D lines between
// its corners under the frame's world matrix, green where the view test keeps it and red where
// it would be culled, tinted by the frame's derived diffuse scale. The recorded draws of the
// stand-in device are replayed into pictures.
#include <cstdio>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demos.h"
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/system/library.h>
#include <qzlib/graphics/camera.h>
#include <qzlib/graphics/draw3d.h>
#include <qzlib/math/math3d.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_bounds.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>
#include <qzlib/soft/memimg.h>
#include "examples/support/d3d_replay.h"
#include "tests/support/model_builder.h"

namespace {

// A mesh of one triangle whose box runs from lo to hi.
void AddBoxMesh(ModelBaseBuilder* b, int frame, VECTOR lo, VECTOR hi) {
  TestMesh mesh;
  mesh.frame = frame;
  const VECTOR corners[3] = {lo, hi, VECTOR{lo.x, hi.y, hi.z}};
  TestTriangleList list;
  for (int i = 0; i < 3; ++i) {
    TestVertex v;
    v.position = corners[i];
    mesh.vertices.push_back(v);
    list.meshVertices.push_back(i);
    list.indices.push_back(static_cast<uint16_t>(i));
  }
  mesh.lists.push_back(list);
  b->meshes.push_back(mesh);
}

// A figure: a body, a head and a three-level arm (shoulder, elbow, hand).
int BuildFigureBase() {
  ModelBaseBuilder b;
  b.materials.push_back({"figure"});
  b.AddFrame(-1);                        // 0 body
  b.AddFrame(0, {60, 80, 0});            // 1 shoulder
  b.AddFrame(1, {90, 0, 0});             // 2 elbow
  b.AddFrame(2, {80, 0, 0});             // 3 hand
  b.AddFrame(0, {0, 130, 0});            // 4 head
  AddBoxMesh(&b, 0, {-50, -100, -30}, {50, 100, 30});
  AddBoxMesh(&b, 1, {0, -15, -15}, {90, 15, 15});
  AddBoxMesh(&b, 2, {0, -12, -12}, {80, 12, 12});
  AddBoxMesh(&b, 3, {0, -20, -8}, {30, 20, 8});
  AddBoxMesh(&b, 4, {-25, -25, -25}, {25, 25, 25});
  return b.Build();
}

int MakeModel(int base) {
  int h = MV1AddModelHandle();
  return MV1CreateModelFromBase(h, base) == 0 ? h : -1;
}

void PoseArm(int model, float bend) {
  for (int joint = 1; joint <= 3; ++joint) {
    MATRIX local = MMult(MGetRotZ(bend * static_cast<float>(joint)),
                         MGetTranslate(MV1GetModelChecked(model)->BaseData->Frame[joint].Translate));
    MV1SetFrameUserLocalMatrix(model, joint, local);
  }
}

struct FrameBox {
  VECTOR corners[8];
  uint32_t color;
};

// Each frame's box in world space, coloured by the view test against the current view.
void CollectBoxes(int model, std::vector<FrameBox>* boxes) {
  MV1Model* m = MV1GetModelChecked(model);
  MV1SetupMatrix(m);
  for (int i = 0; i < m->BaseData->FrameCount; ++i) {
    MV1Frame* f = &m->Frame[i];
    MV1RefreshDrawState(f, nullptr);
    const MV1FrameBase* fb = f->Base;
    if (fb->MeshCount == 0) continue;
    FrameBox box;
    for (int c = 0; c < 8; ++c) {
      VECTOR p{c & 1 ? fb->MaxPosition.x : fb->MinPosition.x,
               c & 2 ? fb->MaxPosition.y : fb->MinPosition.y,
               c & 4 ? fb->MaxPosition.z : fb->MinPosition.z};
      VTransformMatrix3x4(&f->WorldMatrix, &box.corners[c], &p);
    }
    const bool culled = MV1CheckBoxOutsideView(box.corners) != 0;
    float r = culled ? 240.0f : 60.0f, g = culled ? 60.0f : 230.0f, bl = culled ? 50.0f : 90.0f;
    const MV1DrawState& d = f->SetupDrawMaterial;
    if (d.UseColorScale) {
      r *= d.DiffuseScale.r;
      g *= d.DiffuseScale.g;
      bl *= d.DiffuseScale.b;
    }
    auto channel = [](float v) { return v > 255.0f ? 255 : static_cast<int>(v); };
    box.color = GetColor(channel(r), channel(g), channel(bl));
    boxes->push_back(box);
  }
}

void DrawBoxes(const std::vector<FrameBox>& boxes) {
  for (const FrameBox& box : boxes)
    for (int c = 0; c < 8; ++c)
      for (int bit = 1; bit <= 4; bit <<= 1)
        if (!(c & bit)) DrawLine3D(box.corners[c], box.corners[c | bit], box.color);
}

constexpr const char* kLegend =
    "Bounding boxes of the frames of two models of one base, as twelve 3-D lines each.\n"
    "Left: body, head and a three-level arm posed by frame user local matrices; the model is\n"
    "rotated and scaled non-uniformly (1, 1.4, 0.7). Right: a second model of the same base,\n"
    "turned and moved to the right edge of the first view.\n"
    "Green: the view test keeps the box; red: it would cull it (judged against the first view;\n"
    "the overview picture is drawn from further away so that culled boxes show).\n"
    "The shoulder of the left model has its own diffuse scale (1.5, 0.5, 2.5): the tint runs\n"
    "down the shoulder, elbow and hand only, through the derived draw state.\n";

void Render(const std::vector<FrameBox>& boxes, const char* path) {
  D3DObjects.Device->ClearRecord();
  DrawBoxes(boxes);
  MEMIMG picture{};
  if (MakeMemImg(&picture, 640, 480, 1) != 0) return;
  ClearMemImg(&picture, nullptr, DemoColor(1, 28, 30, 36));
  ReplayDraws(D3DObjects.Device->Draws(), &picture);
  SaveDemoPicture(&picture, path, kLegend);
  TerminateMemImg(&picture);
}

}  // namespace

void RunModelDemo() {
  if (!StartDirect3DDemo()) return;
  const int base = BuildFigureBase();
  const int a = MakeModel(base);
  const int b = MakeModel(base);
  MV1SetPosition(a, VECTOR{-150, 0, 0});
  MV1SetRotationXYZ(a, VECTOR{0, 0.6f, 0.15f});
  MV1SetScale(a, VECTOR{1.0f, 1.4f, 0.7f});
  PoseArm(a, 0.45f);
  MV1SetPosition(b, VECTOR{760, -40, 150});
  MV1SetRotationXYZ(b, VECTOR{0, 2.9f, 0});
  PoseArm(b, -0.15f);
  // One frame's own diffuse scale: the tint runs down the arm of model a only.
  MV1Frame* shoulder = &MV1GetModelChecked(a)->Frame[1];
  MV1SetDrawDifColorScale(&shoulder->DrawMaterial, &shoulder->ChangeDrawMaterialFlag, 1.5f, 0.5f,
                          2.5f, 1.0f);

  // The boxes are judged against the first view; the second, from further away, shows the ones
  // the first would cull.
  SetCameraPositionAndTargetUpVecY(VECTOR{0, 150, -700}, VECTOR{0, 50, 0});
  SetCameraNearFar(10, 5000);
  std::vector<FrameBox> boxes;
  CollectBoxes(a, &boxes);
  CollectBoxes(b, &boxes);
  Render(boxes, "model_boxes_view.png");
  SetCameraPositionAndTargetUpVecY(VECTOR{300, 900, -1600}, VECTOR{150, 0, 0});
  Render(boxes, "model_boxes_overview.png");
  EndDirect3DDemo();
}
