// Bounding boxes of bases, frames and meshes; the view test of a box.
#include <gtest/gtest.h>

#include <cstring>

#include <qzlib/graphics/graphics3d.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_bounds.h>
#include <qzlib/model/model_handles.h>
#include "tests/support/model_test.h"

namespace {

using BoundsTest = ModelTest;

int CreateModel(int base) {
  int h = MV1AddModelHandle();
  return MV1CreateModelFromBase(h, base) == 0 ? h : -1;
}

void Grow(VECTOR* max, VECTOR* min, const VECTOR& v) {
  max->x = std::max(max->x, v.x);
  max->y = std::max(max->y, v.y);
  max->z = std::max(max->z, v.z);
  min->x = std::min(min->x, v.x);
  min->y = std::min(min->y, v.y);
  min->z = std::min(min->z, v.z);
}

TEST_F(BoundsTest, MeshFrameAndBaseBoxes) {
  ModelBaseBuilder b;
  b.AddFrame(-1, {1, 2, 3}, {0.5f, 0, 0}, {2, 2, 2});
  b.AddFrame(0);  // no meshes
  b.AddFrame(0, {0, 0, 5});
  TestMesh increasing;
  increasing.frame = 0;
  TestTriangleList list;
  for (int i = 0; i < 3; ++i) {
    TestVertex v;
    v.position = VECTOR{static_cast<float>(i), static_cast<float>(-i), 1};
    increasing.vertices.push_back(v);
    list.meshVertices.push_back(i);
    list.indices.push_back(static_cast<uint16_t>(i));
  }
  increasing.lists.push_back(list);
  b.meshes.push_back(increasing);
  TestMesh single;
  single.frame = 0;
  single.vertices.emplace_back();
  single.vertices[0].position = VECTOR{7, 8, 9};
  single.lists.push_back(TestTriangleList{0, {0}, {0, 0, 0}, {}});
  b.meshes.push_back(single);
  b.AddMesh(2, MV1_VERTEX_TYPE_RIGID, 2, {-4, 0, 0});
  b.materials.push_back({"m"});
  int baseHandle = b.Build();
  int h = CreateModel(baseHandle);
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  MV1MeshBase* m0 = &base->Mesh[0];
  EXPECT_EQ(m0->MinPosition.x, 0.0f);  // the smallest x although x only grows
  EXPECT_EQ(m0->MaxPosition.x, 2.0f);
  EXPECT_EQ(m0->MinPosition.y, -2.0f);
  EXPECT_EQ(base->Mesh[1].MaxPosition.z, 9.0f);
  EXPECT_EQ(std::memcmp(&base->Mesh[1].MaxPosition, &base->Mesh[1].MinPosition, sizeof(VECTOR)), 0);
  const MV1FrameBase& f0 = base->Frame[0];
  EXPECT_EQ(f0.MaxPosition.x, 7.0f);
  EXPECT_EQ(f0.MinPosition.y, -2.0f);
  EXPECT_EQ(f0.ValidBoundingBox, 1);
  EXPECT_EQ(base->Frame[1].MaxPosition.x, 0.0f);  // frame without meshes: zero box
  EXPECT_EQ(base->Frame[1].MinPosition.z, 0.0f);
  // The base box holds every vertex in the model's world space.
  MV1Model* m = MV1GetModelChecked(h);
  VECTOR max{-1e8f, -1e8f, -1e8f}, min{1e8f, 1e8f, 1e8f};
  for (int i = 0; i < base->TriangleListCount; ++i) {
    const MV1TriangleList& l = base->TriangleList[i];
    const MV1Frame& frame = m->Frame[l.Container->Container->Index];
    auto* rec = reinterpret_cast<MV1VertexRigid*>(MV1TriangleListVertices(&l));
    for (int v = 0; v < l.VertexCount; ++v) {
      VECTOR w;
      VTransformMatrix3x4(&frame.WorldMatrix, &w, &rec[v].Position);
      Grow(&max, &min, w);
    }
  }
  VECTOR gotMax, gotMin;
  EXPECT_EQ(MV1CalcBoundingBoxes(h, &gotMax, &gotMin), 0);
  EXPECT_EQ(std::memcmp(&gotMax, &max, sizeof(VECTOR)), 0);
  EXPECT_EQ(std::memcmp(&gotMin, &min, sizeof(VECTOR)), 0);
  // Computed once: a second model elsewhere keeps the first model's box.
  int h2 = CreateModel(baseHandle);
  EXPECT_EQ(MV1CalcBoundingBoxes(h2, nullptr, &gotMin), 0);
  EXPECT_EQ(std::memcmp(&gotMin, &min, sizeof(VECTOR)), 0);
  EXPECT_EQ(MV1CalcBoundingBoxes(h2 + 1, &gotMax, &gotMin), -1);
  EXPECT_EQ(MV1CalcBoundingBoxes(baseHandle, &gotMax, &gotMin), -1);
}

TEST_F(BoundsTest, SkinnedBoxesReadIdentityForBonesOutsideTheLists) {
  ModelBaseBuilder b = ReferenceBaseBuilder();
  // Frame 3's 4-bone list holds only bone 0, so vertices naming bone 1 get the list's bone count
  // as slot; frame 5's free-bone vertices start with bone -1 or name a bone past the frame's list.
  b.meshes[2].lists[0].useBones = {0};
  b.meshes[4].vertices[0].bones = {};
  b.meshes[4].vertices[1].bones = {{9, 1.0f}};
  int baseHandle = b.Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  const MV1TriangleList& free = *base->Mesh[4].TriangleList;
  auto* v1 = reinterpret_cast<MV1VertexSkinFree*>(MV1TriangleListVertices(&free) + free.VertexStride);
  EXPECT_EQ(MV1VertexFreeBones(v1)[0].Index, 9);
  int h = CreateModel(baseHandle);
  ASSERT_NE(h, -1);
  // The box holds every skinned position, computed with the same rules from the outside.
  MV1Model* m = MV1GetModelChecked(h);
  const Matrix3x4 id = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
  VECTOR max{-1e8f, -1e8f, -1e8f}, min{1e8f, 1e8f, 1e8f};
  for (int i = 0; i < base->TriangleListCount; ++i) {
    const MV1TriangleList& l = base->TriangleList[i];
    const MV1Frame& frame = m->Frame[l.Container->Container->Index];
    auto bone = [&](int pos) {
      return pos >= 0 && pos < frame.Base->UseSkinBoneCount ? *frame.UseSkinBoneMatrix[pos] : id;
    };
    uint8_t* rec = MV1TriangleListVertices(&l);
    for (int v = 0; v < l.VertexCount; ++v, rec += MV1TriangleListRecordSize(&l)) {
      Matrix3x4 blend = {};
      VECTOR p;
      auto add = [&](const Matrix3x4& mtx, float w) {
        for (int r = 0; r < 3; ++r)
          for (int c = 0; c < 4; ++c) blend.m[r][c] += w * mtx.m[r][c];
      };
      if (l.VertexType == 0) {
        p = reinterpret_cast<MV1VertexRigid*>(rec)->Position;
        blend = frame.WorldMatrix;
      } else if (l.VertexType == 1) {
        auto* s = reinterpret_cast<MV1VertexSkin4*>(rec);
        p = s->Position;
        for (int k = 0; k < 4; ++k)
          if (s->Weight[k] != 0) add(s->BoneSlot[k] < l.UseBoneCount ? bone(l.UseBone[s->BoneSlot[k]]) : id, s->Weight[k]);
      } else if (l.VertexType == 2) {
        auto* s = reinterpret_cast<MV1VertexSkin8*>(rec);
        p = s->Position;
        for (int k = 0; k < 8; ++k) {
          int slot = k < 4 ? s->BoneSlot0123[k] : s->BoneSlot4567[k - 4];
          if (s->Weight[k] != 0) add(slot < l.UseBoneCount ? bone(l.UseBone[slot]) : id, s->Weight[k]);
        }
      } else {
        auto* s = reinterpret_cast<MV1VertexSkinFree*>(rec);
        MV1BoneWeightPair* pairs = MV1VertexFreeBones(s);
        p = s->Position;
        if (pairs[0].Index == -1) blend = id;
        else if (pairs[0].Weight == 1.0f) blend = bone(pairs[0].Index);
        else
          for (int k = 0; k < l.BonesPerVertex && pairs[k].Index != -1; ++k)
            if (pairs[k].Weight != 0) add(bone(pairs[k].Index), pairs[k].Weight);
      }
      VECTOR w;
      VTransformMatrix3x4(&blend, &w, &p);
      Grow(&max, &min, w);
    }
  }
  VECTOR gotMax, gotMin;
  MV1CalcBoundingBoxes(h, &gotMax, &gotMin);
  EXPECT_EQ(std::memcmp(&gotMax, &max, sizeof(VECTOR)), 0);
  EXPECT_EQ(std::memcmp(&gotMin, &min, sizeof(VECTOR)), 0);
}

class CullingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ViewMatrices.ViewProjection;
    MATRIX projection;
    CreatePerspectiveFovMatrix(&projection, 1.5707964f, 1.0f, 100.0f, 1.0f);
    ViewMatrices.ViewProjection = projection;  // camera at the origin looking along +z
  }
  void TearDown() override { ViewMatrices.ViewProjection = saved_; }
  static int Box(VECTOR lo, VECTOR hi) {
    VECTOR c[8];
    for (int i = 0; i < 8; ++i)
      c[i] = VECTOR{i & 1 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 4 ? hi.z : lo.z};
    return MV1CheckBoxOutsideView(c);
  }
  MATRIX saved_;
};

TEST_F(CullingTest, BoxesAgainstTheView) {
  struct Case {
    VECTOR lo, hi;
    int outside;
    const char* what;
  } cases[] = {
      {{-50, -1, 10}, {-40, 1, 20}, 1, "wholly left"},
      {{0, 0, 10}, {500, 500, 20}, 0, "one corner inside"},
      {{-1000, -1, 200}, {1000, 1, 300}, 1, "spans left to right beyond the far plane"},
      {{-30, -30, 10}, {30, 30, 11}, 0, "straddles the view without a common plane"},
      {{-1, -1, 0.1f}, {1, 1, 0.5f}, 1, "before the near plane"},
      {{-2, -2, -20}, {2, 2, -10}, 1, "behind the camera"},
      {{-1, -1, 5}, {1, 1, 6}, 0, "inside"},
  };
  for (const Case& c : cases) EXPECT_EQ(Box(c.lo, c.hi), c.outside) << c.what;
  // Behind the camera X and Y change sign: a box right of the axis and behind projects left.
  VECTOR c[8];
  for (int i = 0; i < 8; ++i) c[i] = VECTOR{i & 1 ? 40.0f : 30.0f, i & 2 ? 1.0f : -1.0f, -10.0f - (i & 4)};
  MATRIX& vp = ViewMatrices.ViewProjection;
  float w = c[0].x * vp.m[0][3] + c[0].y * vp.m[1][3] + c[0].z * vp.m[2][3] + vp.m[3][3];
  ASSERT_LT(w, 0);
  EXPECT_EQ(MV1CheckBoxOutsideView(c), 1);
}

}  // namespace
