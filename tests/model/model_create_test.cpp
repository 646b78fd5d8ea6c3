// Model bases built by hand, change-bit numbering and counts, model creation, duplication and
// deletion.
#include <gtest/gtest.h>

#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_handles.h>
#include "tests/support/model_test.h"

namespace {

using ModelCreateTest = ModelTest;

MV1Model* Create(int base) {
  int h = MV1AddModelHandle();
  if (MV1CreateModelFromBase(h, base) != 0) return nullptr;
  return MV1GetModelChecked(h);
}

int BitOf(const MV1ChangeInfo& info) { return info.WordIndex * 32 + __builtin_ctz(info.OwnBit); }

// The subtree mask of an info as the bit numbers it covers.
std::vector<int> MaskBits(const MV1ChangeInfo& info) {
  std::vector<int> bits;
  for (int w = 0; w < info.MaskWordCount; ++w)
    for (int b = 0; b < 32; ++b)
      if (info.SubtreeMask[w] & (1u << b)) bits.push_back((info.WordIndex + w) * 32 + b);
  return bits;
}

TEST_F(ModelCreateTest, ChangeBitsArePreOrderAndSubtreesAreContiguous) {
  int h = ReferenceBaseBuilder().Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(h);
  ASSERT_NE(base, nullptr);
  // Pre-order of the tree 0(1(2, 6), 3(4), 5), 7 with the meshes after their frame.
  const int frameOrder[] = {0, 1, 2, 6, 3, 4, 5, 7};
  int bitA = 32, bitB = 32;
  for (int f : frameOrder) {
    const MV1FrameBase& fb = base->Frame[f];
    EXPECT_EQ(BitOf(fb.ChangeDrawMaterialInfo), bitA++) << f;
    EXPECT_EQ(BitOf(fb.ChangeMatrixInfo), bitB++) << f;
    for (int m = 0; m < fb.MeshCount; ++m) {
      EXPECT_EQ(BitOf(fb.Mesh[m].ChangeInfo), bitA++);
      EXPECT_EQ(fb.Mesh[m].ChangeInfo.SubtreeMask, nullptr);
    }
  }
  // Subtree sizes in set B: frame and descendants.
  const int subtreeB[] = {7, 3, 1, 2, 1, 1, 1, 1};
  for (int f = 0; f < 8; ++f) {
    const MV1FrameBase& fb = base->Frame[f];
    std::vector<int> bits = MaskBits(fb.ChangeMatrixInfo);
    ASSERT_EQ(static_cast<int>(bits.size()), subtreeB[f]) << f;
    for (int k = 0; k < subtreeB[f]; ++k) EXPECT_EQ(bits[k], BitOf(fb.ChangeMatrixInfo) + k);
    int b = BitOf(fb.ChangeDrawMaterialInfo);
    EXPECT_EQ(fb.ChangeDrawMaterialInfo.MaskWordCount,
              (b % 32 + static_cast<int>(MaskBits(fb.ChangeDrawMaterialInfo).size()) + 31) / 32);
  }
  EXPECT_EQ(MaskBits(base->Frame[0].ChangeDrawMaterialInfo).size(), 1u + 6 + 7);
  EXPECT_EQ(MV1ChangeSetWordsA(8, 8), 2);
  EXPECT_EQ(MV1ChangeSetWordsA(8, 25), 3);
  EXPECT_EQ(MV1ChangeSetWordsB(33), 3);
}

TEST_F(ModelCreateTest, ChangeInfosFromAFileAreCheckedAgainstTheSetSizes) {
  int h = ReferenceBaseBuilder().Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(h);
  EXPECT_EQ(MV1CheckChangeInfos(base), 0);
  MV1ChangeInfo& a = base->Frame[0].ChangeDrawMaterialInfo;
  MV1ChangeInfo& b = base->Frame[4].ChangeMatrixInfo;
  MV1ChangeInfo& mesh = base->Mesh[3].ChangeInfo;
  struct Case {
    MV1ChangeInfo* info;
    MV1ChangeInfo bad;
  } cases[] = {
      {&a, {0, a.SubtreeMask, a.MaskWordCount, a.OwnBit}},          // word 0 is the model's
      {&a, {2, a.SubtreeMask, a.MaskWordCount, a.OwnBit}},          // past set A (2 words)
      {&a, {1, a.SubtreeMask, 2, a.OwnBit}},                        // mask words past the set
      {&a, {1, a.SubtreeMask, 0, a.OwnBit}},
      {&a, {1, a.SubtreeMask, a.MaskWordCount, 3u}},                // two own bits
      {&a, {1, a.SubtreeMask + 100, a.MaskWordCount, a.OwnBit}},    // outside the mask array
      {&a, {1, nullptr, a.MaskWordCount, a.OwnBit}},
      {&b, {1, b.SubtreeMask, b.MaskWordCount, 0}},
      {&mesh, {1, base->ChangeMaskA, 1, mesh.OwnBit}},              // a mesh has no mask
      {&mesh, {-1, nullptr, 0, mesh.OwnBit}},
  };
  for (const Case& c : cases) {
    MV1ChangeInfo saved = *c.info;
    *c.info = c.bad;
    EXPECT_EQ(MV1CheckChangeInfos(base), -1) << (&c - cases);
    *c.info = saved;
  }
  EXPECT_EQ(MV1CheckChangeInfos(base), 0);
}

TEST_F(ModelCreateTest, FrameCountsAndTotals) {
  int h = ReferenceBaseBuilder().Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(h);
  const int triangles[] = {2, 0, 1, 2, 1, 2, 2, 1};
  for (int f = 0; f < 8; ++f) {
    EXPECT_EQ(base->Frame[f].TriangleCount, triangles[f]) << f;
    EXPECT_EQ(base->Frame[f].VertexCount, 3 * triangles[f]) << f;
  }
  EXPECT_EQ(base->TriangleCount, 11);
  EXPECT_EQ(base->VertexCount, 33);
}

TEST_F(ModelCreateTest, NumberingRefusesBrokenLinks) {
  ModelBaseBuilder b = ReferenceBaseBuilder();
  int h = b.Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(h);
  MV1FrameBase* f = base->Frame;
  f[4].FirstChild = &f[3];  // a cycle
  EXPECT_EQ(MV1NumberChangeBits(base), -1);
  f[4].FirstChild = nullptr;
  f[2].Next = nullptr;  // frame 6 is no longer reached
  EXPECT_EQ(MV1NumberChangeBits(base), -1);
  f[2].Next = &f[6];
  f[6].Parent = &f[0];  // disagreeing links
  EXPECT_EQ(MV1NumberChangeBits(base), -1);
  f[6].Parent = &f[1];
  f[5].Next = &f[1];  // a sibling loop
  EXPECT_EQ(MV1CheckFrameLinks(base), -1);
  f[5].Next = nullptr;
  base->Mesh[3].Container = &f[0];  // a mesh of another frame
  EXPECT_EQ(MV1CheckFrameLinks(base), -1);
  base->Mesh[3].Container = &f[4];
  base->FirstTopFrame = &f[7];  // frame 0 must lead
  EXPECT_EQ(MV1CheckFrameLinks(base), -1);
  base->FirstTopFrame = &f[0];
  f[1].Next = &f[3];
  EXPECT_EQ(MV1CheckFrameLinks(base), 0);
  EXPECT_EQ(MV1NumberChangeBits(base), 0);
}

TEST_F(ModelCreateTest, DefaultsTablesAndLinks) {
  int baseHandle = ReferenceBaseBuilder().Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  EXPECT_EQ(base->RefCount, 0);
  int handle = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(handle, baseHandle), 0);
  MV1Model* m = MV1GetModelChecked(handle);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(base->RefCount, 1);
  EXPECT_EQ(base->ModelCount, 1);
  EXPECT_EQ(base->FirstModel, m);
  EXPECT_EQ(base->LastModel, m);
  EXPECT_EQ(m->BaseHandle, baseHandle);
  EXPECT_EQ(m->Scale.x, 1.0f);
  EXPECT_EQ(m->Scale.z, 1.0f);
  EXPECT_EQ(m->DrawMaterial.Visible, 1);
  EXPECT_EQ(m->DrawMaterial.UseColorScale, 0);
  EXPECT_EQ(m->DrawMaterial.DiffuseScale.g, 1.0f);
  EXPECT_EQ(m->DrawMaterial.EmissiveScale.a, 1.0f);
  EXPECT_EQ(m->DrawMaterial.OpacityRate, 1.0f);
  EXPECT_EQ(m->EnableZBuffer, 1);
  EXPECT_EQ(m->WriteZBuffer, 1);
  EXPECT_EQ(m->ZBufferCmpType, 4);
  EXPECT_EQ(m->ZBias, 0);
  EXPECT_EQ(m->MaxAnisotropy, 2);
  EXPECT_EQ(m->AnimSetupFlag, 1);
  EXPECT_EQ(m->ChangeDrawMaterialFlagSize, 4 * MV1ChangeSetWordsA(8, 8));
  EXPECT_EQ(m->ChangeMatrixFlagSize, 4 * MV1ChangeSetWordsB(8));
  // Creation computed the boxes, which set the matrices up.
  EXPECT_EQ(base->ValidBoundingBox, 1);
  EXPECT_EQ(m->ValidMatrix, 1);
  for (int i = 0; i < m->ChangeDrawMaterialFlagSize / 4; ++i)
    EXPECT_EQ(m->ChangeDrawMaterialFlag[i], 0xFFFFFFFFu);

  // Frames: tag, indices among siblings, child tables on the non-contiguous tree.
  EXPECT_EQ(m->TopFrameCount, 2);
  EXPECT_EQ(m->TopFrameList[0], &m->Frame[0]);
  EXPECT_EQ(m->TopFrameList[1], &m->Frame[7]);
  const int parents[] = {-1, 0, 1, 0, 3, 0, 1, -1};
  const int indices[] = {0, 0, 0, 1, 0, 2, 1, 1};
  const int childCounts[] = {3, 2, 0, 1, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) {
    MV1Frame* f = &m->Frame[i];
    EXPECT_EQ(std::memcmp(f->Tag, "FRM_", 4), 0);
    EXPECT_EQ(f->ModelHandle, handle);
    EXPECT_EQ(f->Container, m);
    EXPECT_EQ(f->Base, &base->Frame[i]);
    EXPECT_EQ(f->Parent, parents[i] < 0 ? nullptr : &m->Frame[parents[i]]) << i;
    EXPECT_EQ(f->Index, indices[i]) << i;
    EXPECT_EQ(f->ChildCount, childCounts[i]) << i;
    if (parents[i] >= 0) {
      EXPECT_EQ(m->Frame[parents[i]].Child[indices[i]], f) << i;
    }
    EXPECT_EQ(f->DrawMaterial.Visible, i == 6 ? 0 : 1);
    EXPECT_EQ(f->LocalWorldMatrix.m[2][2], 1.0f);
    EXPECT_EQ(f->ChangeMatrixFlag.Info, &base->Frame[i].ChangeMatrixInfo);
    EXPECT_EQ(f->ChangeMatrixFlag.Word, &m->ChangeMatrixFlag[base->Frame[i].ChangeMatrixInfo.WordIndex]);
  }
  EXPECT_EQ(m->Frame[1].Child[1], &m->Frame[6]);
  EXPECT_EQ(m->Frame[0].Child[2], &m->Frame[5]);
  EXPECT_EQ(m->Frame[1].Next, &m->Frame[3]);
  EXPECT_EQ(m->Frame[2].Next, &m->Frame[6]);
  // Bone pointer lists name the model's skin-bone matrices.
  EXPECT_EQ(m->Frame[3].UseSkinBoneMatrix[0], &m->SkinBoneMatrix[0]);
  EXPECT_EQ(m->Frame[4].UseSkinBoneMatrix[1], &m->SkinBoneMatrix[2]);
  EXPECT_EQ(m->Frame[5].Shape[1].Base, &base->Shape[2]);

  // Meshes, materials (only used layers), textures.
  for (int i = 0; i < base->MeshCount; ++i) {
    MV1Mesh* mesh = &m->Mesh[i];
    EXPECT_EQ(mesh->Base, &base->Mesh[i]);
    EXPECT_EQ(mesh->Container, &m->Frame[base->Mesh[i].Container->Index]);
    EXPECT_EQ(mesh->Material->Base, base->Mesh[i].Material);
    EXPECT_EQ(mesh->DrawBlendMode, -1);
    EXPECT_EQ(mesh->DrawBlendParam, -1);
    EXPECT_EQ(mesh->TriangleList->Base, base->Mesh[i].TriangleList);
    EXPECT_EQ(mesh->TriangleList->Container, mesh);
    EXPECT_EQ(mesh->ShapeVertex != nullptr, base->Mesh[i].HasShape != 0);
    EXPECT_EQ(mesh->TriangleList->Vertices != nullptr, base->Mesh[i].HasShape != 0);
  }
  MV1Material* mat = &m->Material[0];
  EXPECT_EQ(mat->DiffuseLayerCount, 2);
  EXPECT_EQ(mat->SpecularLayerCount, 1);
  EXPECT_EQ(mat->DiffuseLayer[1].Texture, 1);
  EXPECT_EQ(mat->DiffuseLayer[2].Texture, 0);   // unused layer stays zero
  EXPECT_EQ(mat->SpecularLayer[1].RunTime[0], 0);
  EXPECT_EQ(mat->DrawBlendParam, 255);
  EXPECT_EQ(m->Texture[2].Base, &base->Texture[2]);
  EXPECT_EQ(m->Texture[2].ColorFileName, base->Texture[2].ColorFileName);
  EXPECT_EQ(m->Texture[2].OwnGraphHandle, -1);
  EXPECT_EQ(m->Texture[2].FilterMode, 2);
}

TEST_F(ModelCreateTest, ReferenceCountsAndDuplication) {
  int baseHandle = ReferenceBaseBuilder().Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  int first = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(first, baseHandle), 0);
  MV1Model* m = MV1GetModelChecked(first);
  m->Translation = VECTOR{1, 2, 3};
  m->DrawMaterial.OpacityRate = 0.5f;
  int second = MV1DuplicateModel(first);
  ASSERT_NE(second, -1);
  EXPECT_EQ(base->RefCount, 2);
  EXPECT_EQ(base->ModelCount, 2);
  MV1Model* d = MV1GetModelChecked(second);
  EXPECT_EQ(base->FirstModel, d);
  EXPECT_EQ(d->Next, m);
  EXPECT_EQ(m->Prev, d);
  EXPECT_EQ(base->LastModel, m);
  EXPECT_EQ(d->Translation.x, 0.0f);
  EXPECT_EQ(d->DrawMaterial.OpacityRate, 1.0f);
  EXPECT_EQ(MV1DeleteModel(first), 0);
  EXPECT_EQ(MV1DeleteModel(first), -1);
  EXPECT_EQ(base->RefCount, 1);
  EXPECT_EQ(base->FirstModel, d);
  EXPECT_EQ(base->LastModel, d);
  EXPECT_EQ(d->Prev, nullptr);
  EXPECT_EQ(MV1GetModelBaseChecked(baseHandle), base);
  EXPECT_EQ(MV1DeleteModel(second), 0);
  EXPECT_EQ(MV1GetModelBaseChecked(baseHandle), nullptr);  // the last reference freed it
  EXPECT_EQ(MV1ModelBaseTable.Count, 0);
  EXPECT_EQ(MV1DuplicateModel(second), -1);
}

// A base is the models' and the attached animations' while they hold it: deleting it then is
// refused however often it is asked, and it goes with the last of them.
TEST_F(ModelCreateTest, DeletingABaseStillHeldIsRefused) {
  const int baseHandle = AnimatedChainBuilder(3, 1, 4).Build();
  const int sourceHandle = AnimatedChainBuilder(3, 1, 4).Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  MV1ModelBase* source = MV1GetModelBaseChecked(sourceHandle);
  int first = MV1AddModelHandle(), second = MV1AddModelHandle(), donor = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(first, baseHandle), 0);
  ASSERT_EQ(MV1CreateModelFromBase(second, baseHandle), 0);
  ASSERT_EQ(MV1CreateModelFromBase(donor, sourceHandle), 0);
  ASSERT_EQ(MV1AttachAnim(first, 0, donor, 0), 0);
  ASSERT_EQ(MV1DeleteModel(donor), 0);  // the attached animation alone holds the source now
  struct Held {
    int handle;
    MV1ModelBase* base;
    int refs;
  } held[] = {{baseHandle, base, 2}, {sourceHandle, source, 1}};
  for (const Held& h : held)
    for (int attempt = 0; attempt < 3; ++attempt) {
      EXPECT_EQ(MV1DeleteModelBase(h.handle), -1) << attempt;
      EXPECT_EQ(MV1GetModelBaseChecked(h.handle), h.base);
      EXPECT_EQ(h.base->RefCount, h.refs);
    }
  EXPECT_EQ(base->ModelCount, 2);
  // both models still work on their base and their animation
  EXPECT_EQ(MV1SetAttachAnimTime(first, 0, 2.0f), 0);
  EXPECT_EQ(MV1GetModelBaseHandle(second), baseHandle);
  EXPECT_EQ(MV1DetachAnim(first, 0), 0);
  EXPECT_EQ(MV1GetModelBaseChecked(sourceHandle), nullptr);  // the detach released it
  EXPECT_EQ(MV1DeleteModel(first), 0);
  EXPECT_EQ(MV1DeleteModelBase(baseHandle), -1);
  EXPECT_EQ(MV1DeleteModel(second), 0);
  EXPECT_EQ(MV1GetModelBaseChecked(baseHandle), nullptr);
  EXPECT_EQ(MV1DeleteModelBase(baseHandle), -1);  // gone
  // a base nothing holds, and a reserved slot, are deleted at once
  const int loaded = AnimatedChainBuilder(2, 1, 2).Build();
  EXPECT_EQ(MV1DeleteModelBase(loaded), 0);
  EXPECT_EQ(MV1GetModelBaseChecked(loaded), nullptr);
  const int reserved = MV1AddModelBaseHandle();
  EXPECT_EQ(MV1DeleteModelBase(reserved), 0);
  EXPECT_EQ(MV1ModelBaseTable.Count, 0);
}

// Engine end releases bases still held by models and attachments.
TEST_F(ModelCreateTest, EngineEndReleasesHeldBases) {
  const int baseHandle = AnimatedChainBuilder(3, 1, 4).Build();
  int a = MV1AddModelHandle(), b = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(a, baseHandle), 0);
  ASSERT_EQ(MV1CreateModelFromBase(b, baseHandle), 0);
  ASSERT_EQ(MV1AttachAnim(a, 0, b, 0), 0);
  ASSERT_EQ(MV1DeleteModelBase(baseHandle), -1);
  EXPECT_EQ(MV1TerminateModelSystem(), 0);
  EXPECT_EQ(MV1ModelBaseTable.Slot, nullptr);
  EXPECT_EQ(InitModelSystem(), 0);  // the fixture ends it again
}

TEST_F(ModelCreateTest, BaseWithoutFramesAndSeparateArrays) {
  ModelBaseBuilder empty;
  int h = empty.Build();
  MV1Model* m = Create(h);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->TopFrameCount, 0);
  EXPECT_EQ(m->TopFrameList, nullptr);
  // A base whose arrays are separate blocks (and whose run-time buffers drawing made) frees them.
  ModelBaseBuilder b = ReferenceBaseBuilder();
  b.separateArrays = true;
  int sh = b.Build();
  MV1ModelBase* base = MV1GetModelBaseChecked(sh);
  EXPECT_EQ(base->TextureAllocated, 1);
  EXPECT_EQ(base->Mesh[0].VertexAllocated, 1);
  EXPECT_EQ(base->TriangleList[0].VerticesAllocated, 1);
  base->TriangleList[0].TempVertexBuffer = MEM_ALLOC(64);
  base->TriangleList[2].OutlinePositions = MEM_ALLOC(64);
  EXPECT_EQ(MV1DeleteModelBase(sh), 0);  // loaded, never instantiated: freed at once
}

// A chain of frames without meshes, linked as a base's frames are (numbering only).
struct FrameChain {
  explicit FrameChain(int depth) : frames(depth) {
    for (int i = 0; i < depth; ++i) {
      frames[i].Index = i;
      frames[i].Parent = i ? &frames[i - 1] : nullptr;
      frames[i].FirstChild = frames[i].LastChild = i + 1 < depth ? &frames[i + 1] : nullptr;
    }
    base.Frame = frames.data();
    base.FrameCount = depth;
    base.FirstTopFrame = base.LastTopFrame = &frames[0];
  }
  // Frame i's mask spans its bit 32 + i up to bit 32 + depth, from the start of its word; both
  // sets alike.
  static uint64_t MaskBytes(int depth) {
    uint64_t words = 0;
    for (int i = 0; i < depth; ++i) words += ((32 + i) % 32 + (depth - i) + 31) / 32;
    return words * 4;
  }
  std::vector<MV1FrameBase> frames;
  MV1ModelBase base{};
};

TEST_F(ModelCreateTest, ChangeMasksOfADeepChainStayUnderTheirCap) {
  // about 56 MB a set at 30,000 frames; the cap falls between 32,000 and 33,000
  for (int depth : {30000, 32000, 33000, 100000}) {
    FrameChain chain(depth);
    const uint64_t bytes = FrameChain::MaskBytes(depth);
    const bool under = bytes <= MV1_CHANGE_MASK_CAP;
    uint64_t reported = 1;
    EXPECT_EQ(MV1NumberChangeBits(&chain.base, &reported), under ? 0 : -2) << depth;
    EXPECT_EQ(reported, bytes) << depth;
    EXPECT_EQ(chain.base.ChangeMaskSizeA, under ? static_cast<int>(bytes) : 0) << depth;
    EXPECT_EQ(chain.base.ChangeMaskSizeB, under ? static_cast<int>(bytes) : 0) << depth;
    EXPECT_EQ(under, depth <= 32000) << depth;
  }
}

TEST_F(ModelCreateTest, DeepChainWithoutRecursion) {
  ModelBaseBuilder b;
  const int depth = 100000;
  b.frames.reserve(depth);
  for (int i = 0; i < depth; ++i) b.AddFrame(i - 1, VECTOR{0, 1, 0});
  b.AddMesh(depth - 1, MV1_VERTEX_TYPE_RIGID, 1);
  // The subtree masks of a chain this deep would be about 600 MB, past the cap of a loaded base;
  // number only, without the cap.
  FrameChain chain(depth);
  MV1ModelBase& base = chain.base;
  std::vector<MV1FrameBase>& frames = chain.frames;
  ASSERT_EQ(MV1NumberChangeBits(&base, nullptr, UINT64_MAX), 0);
  EXPECT_EQ(BitOf(frames[depth - 1].ChangeMatrixInfo), 32 + depth - 1);
  EXPECT_EQ(frames[0].ChangeMatrixInfo.MaskWordCount, (depth + 31) / 32);
  // A chain of 3,000 frames builds, makes models and refreshes at full depth.
  ModelBaseBuilder c;
  for (int i = 0; i < 3000; ++i) c.AddFrame(i - 1, VECTOR{0, 1, 0});
  c.AddMesh(2999, MV1_VERTEX_TYPE_RIGID, 1);
  MV1Model* m = Create(c.Build());
  ASSERT_NE(m, nullptr);
  EXPECT_GE(m->DrawStateStackCapacity, 3001);
  EXPECT_EQ(m->Frame[2999].WorldMatrix.m[1][3], 3000.0f);
}

TEST_F(ModelCreateTest, CreationAndDuplicationFailCleanly) {
  for (bool separate : {false, true}) {
    ModelBaseBuilder b = ReferenceBaseBuilder();
    b.separateArrays = separate;
    int baseHandle = b.Build();
    MV1Model* holder = Create(baseHandle);  // keeps the base alive; the model table exists
    ASSERT_NE(holder, nullptr);
    int points = ForEachAllocationFailure([&] {
      int h = MV1AddModelHandle();
      if (h == -1) return false;
      if (MV1CreateModelFromBase(h, baseHandle) != 0) {
        // The slot stays reserved for the caller.
        EXPECT_EQ(MV1ModelTable.Slot[h & 0x1FFFF], MV1_RESERVED_SLOT);
        MV1DeleteModel(h);
        return false;
      }
      return MV1DeleteModel(h) == 0;
    });
    EXPECT_EQ(points, 1);
    MV1Model* m = holder;
    int count = MV1ModelTable.Count;
    ForEachAllocationFailure([&] {
      int d = MV1DuplicateModel(m->Handle);
      if (d == -1) {
        EXPECT_EQ(MV1ModelTable.Count, count);  // the new handle was cleared again
        return false;
      }
      return MV1DeleteModel(d) == 0;
    });
    MV1DeleteModel(m->Handle);
  }
}

TEST_F(ModelCreateTest, BuilderFailsCleanly) {
  ModelBaseBuilder b = ReferenceBaseBuilder();
  b.separateArrays = true;
  MV1DeleteModelBase(MV1AddModelBaseHandle());  // the table exists
  int points = ForEachAllocationFailure([&] {
    int h = b.Build();
    if (h == -1) return false;
    return MV1DeleteModelBase(h) == 0;
  });
  EXPECT_GT(points, 10);
}

}  // namespace
