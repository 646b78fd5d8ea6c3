// Read-model conversion demonstration: generated read models converted into model bases, their
// triangle lists drawn as wireframes with the software line drawer and their normals as short
// lines. Saves "readmodel_cube.png" (a cube at the default smoothing angle and at 1.6 rad with
// the frame smoothing angles in use, as the MQO reader sets it: hard corners against smooth
// ones), "readmodel_fan.png" (a polygon fan triangulated in zigzag order, the triangles numbered
// by brightness) and "readmodel_bones.png" (a 60-bone strip, each triangle list in its colour).
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "demo/demo_common.h"
#include "demo/demo_wire.h"
#include "demo/demos.h"
#include <qzlib/base/log.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/soft/flat_draw.h>
#include <qzlib/soft/memimg.h>

namespace {

constexpr int kFormat = 1;  // 32-bit surfaces

void Save(MEMIMG* img, const char* name, const char* legend) { SaveDemoPicture(img, name, legend); }

// A cube of 12 triangles on a frame with the given smoothing angle.
int ConvertCube(float angle) {
  ReadModel rm;
  InitReadModel(&rm);
  rm.UseFrameSmoothingAngles = 1;
  ReadModelFrame* f = ReadModelAddFrame(&rm, "cube", nullptr);
  f->SmoothingAngle = angle;
  ReadModelMesh* m = ReadModelAddMesh(&rm, f);
  static const VECTOR kCorners[8] = {{-1, -1, -1}, {1, -1, -1}, {-1, 1, -1}, {1, 1, -1},
                                     {-1, -1, 1},  {1, -1, 1},  {-1, 1, 1},  {1, 1, 1}};
  m->Positions = static_cast<VECTOR*>(ReadModelAlloc(&rm, sizeof(kCorners)));
  for (int i = 0; i < 8; ++i) m->Positions[i] = kCorners[i];
  m->PositionCount = 8;
  const int quads[6][4] = {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3}, {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}};
  m->FaceSets = READMODEL_SET_BIT(READMODEL_SET_POSITION);
  ReadModelAllocFaces(&rm, m, 6);
  for (int i = 0; i < 6; ++i) {
    ReadModelSetFaceIndexCount(&rm, m, &m->Faces[i], 4);
    int* idx = ReadModelFaceIndices(&m->Faces[i], READMODEL_SET_POSITION);
    for (int k = 0; k < 4; ++k) idx[k] = quads[i][k];
  }
  int handle = ConvertReadModelToModelBase(&rm, "demo");
  TerminateReadModel(&rm);
  return handle;
}

int ConvertFan(int corners) {
  ReadModel rm;
  InitReadModel(&rm);
  ReadModelFrame* f = ReadModelAddFrame(&rm, "fan", nullptr);
  ReadModelMesh* m = ReadModelAddMesh(&rm, f);
  m->Positions = static_cast<VECTOR*>(ReadModelAlloc(&rm, sizeof(VECTOR) * corners));
  m->PositionCount = corners;
  for (int i = 0; i < corners; ++i) {
    float a = 6.2831853f * i / corners;
    m->Positions[i] = VECTOR{std::cos(a), std::sin(a), 0};
  }
  m->FaceSets = READMODEL_SET_BIT(READMODEL_SET_POSITION);
  ReadModelAllocFaces(&rm, m, 1);
  ReadModelSetFaceIndexCount(&rm, m, &m->Faces[0], corners);
  int* idx = ReadModelFaceIndices(&m->Faces[0], READMODEL_SET_POSITION);
  for (int i = 0; i < corners; ++i) idx[i] = i;
  int handle = ConvertReadModelToModelBase(&rm, "demo");
  TerminateReadModel(&rm);
  return handle;
}

// A strip of 60 quads along x, each bone weighting the positions of its column and the next.
int ConvertBoneStrip(int bones) {
  ReadModel rm;
  InitReadModel(&rm);
  ReadModelFrame* root = ReadModelAddFrame(&rm, "root", nullptr);
  std::vector<int> boneFrames;
  for (int i = 0; i < bones; ++i) boneFrames.push_back(ReadModelAddFrame(&rm, "bone", root)->Index);
  ReadModelMesh* m = ReadModelAddMesh(&rm, root);
  const int columns = bones + 1;
  m->PositionCount = columns * 2;
  m->Positions = static_cast<VECTOR*>(ReadModelAlloc(&rm, sizeof(VECTOR) * m->PositionCount));
  for (int c = 0; c < columns; ++c) {
    float a = 0.1f * c;
    m->Positions[2 * c] = VECTOR{c * 0.2f, std::sin(a) * 0.5f, 0};
    m->Positions[2 * c + 1] = VECTOR{c * 0.2f, std::sin(a) * 0.5f + 1, 0};
  }
  m->FaceSets = READMODEL_SET_BIT(READMODEL_SET_POSITION);
  ReadModelAllocFaces(&rm, m, bones);
  for (int i = 0; i < bones; ++i) {
    ReadModelSetFaceIndexCount(&rm, m, &m->Faces[i], 4);
    int* idx = ReadModelFaceIndices(&m->Faces[i], READMODEL_SET_POSITION);
    idx[0] = 2 * i;
    idx[1] = 2 * i + 1;
    idx[2] = 2 * i + 3;
    idx[3] = 2 * i + 2;
  }
  ReadModelMeshAddMaterial(&rm, m, ReadModelAddMaterial(&rm, "strip"));
  for (int b = 0; b < bones; ++b) {
    ReadModelSkinWeight* w = ReadModelAddSkinWeight(&rm);
    w->OffsetMatrix = MATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    w->BoneFrame = boneFrames[b];
    w->WeightCount = 4;
    w->Weights = static_cast<ReadModelSkinWeightOne*>(ReadModelAlloc(&rm, sizeof(ReadModelSkinWeightOne) * 4));
    for (int k = 0; k < 4; ++k) w->Weights[k] = {static_cast<uint32_t>(2 * b + k), 0.5f};
    ReadModelMeshAddSkinWeight(&rm, m, w);
  }
  int handle = ConvertReadModelToModelBase(&rm, "demo");
  TerminateReadModel(&rm);
  return handle;
}

}  // namespace

void RunReadModelDemo() {
  if (!StartDirect3DDemo()) return;  // the model system exists only in Direct3D mode
  MEMIMG img;
  if (MakeMemImg(&img, 640, 320, kFormat) == 0) {
    ClearWire(&img);
    const float angles[2] = {1.5207964f, 1.6f};
    for (int i = 0; i < 2; ++i) {
      int h = ConvertCube(angles[i]);
      if (h < 0) continue;
      WireView v{0.6f, 0.45f, 70.0f, 160.0f + 320.0f * i, 160.0f};
      DrawBaseWire(&img, v, MV1GetModelBaseCheckedNoInit(h), [](int) { return DemoColor(kFormat, 255, 255, 255); }, 0.6f);
      MV1DeleteModelBase(h);
    }
    Save(&img, "readmodel_cube.png",
         "Read-model cubes converted into model bases: white wireframe of the triangle lists, yellow\n"
         "normals. Left: smoothing angle 1.5207964 (87.1 degrees), hard corners with three normals\n"
         "each. Right: 1.6 rad, every corner smoothed into one normal. Frame smoothing angles in use.\n");

    ClearWire(&img);
    int h = ConvertFan(12);
    if (h >= 0) {
      const MV1ModelBase* base = MV1GetModelBaseCheckedNoInit(h);
      WireView v{0.0f, 0.0f, 140.0f, 320.0f, 160.0f};
      // each triangle of the zigzag in a brighter colour than the one before
      const MV1TriangleList* t = &base->TriangleList[0];
      const MV1MeshBase* m = t->Container;
      for (int i = 0; i + 2 < t->IndexCount; i += 3) {
        int shade = 60 + 195 * (i / 3) / (t->IndexCount / 3);
        for (int k = 0; k < 3; ++k) {
          auto pos = [&](int local) {
            return MV1FramePositionAt(m->Container, static_cast<int>(MV1MeshVertexAt(m, static_cast<int>(t->MeshVertexIndex[local]))->PositionIndex))->Position;
          };
          VECTOR a = pos(t->Index[i + k]), b = pos(t->Index[i + (k + 1) % 3]);
          WireLine(&img, v, a, b, DemoColor(kFormat, shade, 255 - shade / 2, 80));
        }
      }
      MV1DeleteModelBase(h);
    }
    Save(&img, "readmodel_fan.png",
         "A 12-corner polygon triangulated in zigzag order: (c11, c1, c2), (c11, c2, c10), (c10, c2, c3)...\n"
         "and the cut-down first face (c0, c1, c11); each triangle in order a brighter green-orange.\n");

    ClearWire(&img);
    h = ConvertBoneStrip(60);
    if (h >= 0) {
      static const int kPalette[6][3] = {{255, 80, 80}, {80, 255, 80}, {90, 140, 255}, {255, 230, 60}, {255, 90, 255}, {60, 240, 240}};
      WireView v{0.0f, 0.0f, 48.0f, 32.0f, 220.0f};
      DrawBaseWire(&img, v, MV1GetModelBaseCheckedNoInit(h), [](int l) {
        const int* c = kPalette[l % 6];
        return DemoColor(kFormat, c[0], c[1], c[2]);
      }, 0.0f);
      std::printf("bone strip: %d triangle lists\n", MV1GetModelBaseCheckedNoInit(h)->TriangleListCount);
      MV1DeleteModelBase(h);
    }
    Save(&img, "readmodel_bones.png",
         "A 60-bone skinned strip: its four-bone triangle lists, each in its own colour; a list holds\n"
         "at most 54 bones, so the strip splits into two.\n");
    TerminateMemImg(&img);
  }
  EndDirect3DDemo();
}
