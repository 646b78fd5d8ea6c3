// The MV1 reader: round trips through the test writer for every packed form and layout, every
// refusal rule, hostile input (truncation, off-by-one counts, random damage), allocation failure,
// textures and the decoding edge cases.
#include <qzlib/model/mv1_reader.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/file/file.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_load.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/platform/d3d_device.h>
#include "tests/support/d3d_engine.h"
#include "tests/support/lz_encoder.h"
#include "tests/support/model_files.h"
#include "tests/support/mv1_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Mv1ReaderTest = D3DEngineTest;

int Load(const Bytes& file, const char* folder = "C:\\models") {
  return LoadMV1ToModelBase(file.data(), file.size(), "C:\\models\\m.mv1", "m", folder);
}

bool Same(float a, float b) { return std::memcmp(&a, &b, 4) == 0 || (a == b); }
void ExpectVec(const VECTOR& a, const VECTOR& b, const std::string& what) {
  EXPECT_TRUE(Same(a.x, b.x) && Same(a.y, b.y) && Same(a.z, b.z))
      << what << ": (" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", " << b.y
      << ", " << b.z << ")";
}
template <class T>
int IndexOf(const T* p, const T* first) {
  return p ? int(p - first) : -1;
}
COLOR_U8 Colour(uint32_t argb) {
  return COLOR_U8{uint8_t(argb), uint8_t(argb >> 8), uint8_t(argb >> 16), uint8_t(argb >> 24)};
}

// Every field of the base against the scene the writer says a reader must build.
void ExpectBase(const MV1ModelBase* b, const Mv1WScene& s) {
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->FileFlag, s.fileFlag);
  ASSERT_EQ(b->FrameCount, int(s.frames.size()));
  ASSERT_EQ(b->MeshCount, int(s.meshes.size()));
  ASSERT_EQ(b->MaterialCount, int(s.materials.size()));
  ASSERT_EQ(b->TextureCount, int(s.textures.size()));
  ASSERT_EQ(b->FrameParamCount, int(s.params.size()));
  ASSERT_EQ(b->SkinBoneCount, int(s.skinBones.size()));
  ASSERT_EQ(b->SkinBoneUseCount, int(s.boneUse.size()));
  ASSERT_EQ(b->AnimCount, int(s.anims.size()));
  ASSERT_EQ(b->ShapeCount, int(s.shapes.size()));
  EXPECT_EQ(MV1CheckFrameLinks(const_cast<MV1ModelBase*>(b)), 0);
  EXPECT_EQ(MV1CheckChangeInfos(b), 0);

  // Frames.
  int top = 0, bones = 0, triangles = 0, vertices = 0;
  for (int i = 0; i < b->FrameCount; ++i) {
    const MV1FrameBase& f = b->Frame[i];
    const Mv1WFrame& e = s.frames[i];
    const std::string at = "frame " + std::to_string(i);
    top += e.parent < 0;
    EXPECT_STREQ(f.Name, e.name.c_str()) << at;
    EXPECT_EQ(f.Index, i);
    EXPECT_EQ(f.Container, b);
    EXPECT_EQ(IndexOf(f.Parent, b->Frame), e.parent) << at;
    ExpectVec(f.Translate, e.translate, at);
    ExpectVec(f.Scale, e.scale, at);
    ExpectVec(f.Rotate, e.rotate, at);
    EXPECT_EQ(f.RotateOrder, e.rotateOrder);
    EXPECT_EQ(f.Quaternion.w, e.quaternion.w);
    EXPECT_EQ(f.Flag, e.flag);
    EXPECT_EQ(uint32_t(f.FileValue30), e.value30);
    EXPECT_EQ(uint32_t(f.HasSkinnedMesh), e.value88);
    EXPECT_EQ(f.SmoothingAngle, e.smoothingAngle);
    EXPECT_EQ(f.BonesPerVertex, e.bonesPerVertex);
    EXPECT_EQ(f.PositionStride, e.bonesPerVertex * 8 + 12);
    EXPECT_EQ(f.NormalsFromFaces != 0, e.normalsFromFaces);
    EXPECT_EQ(IndexOf(f.Param, b->FrameParam), e.param) << at;
    ASSERT_EQ(f.UseSkinBoneCount, int(e.boneList.size())) << at;
    for (size_t k = 0; k < e.boneList.size(); ++k)
      EXPECT_EQ(IndexOf(f.UseSkinBone[k], b->SkinBone), e.boneList[k]) << at;
    EXPECT_EQ(f.UseSkinBone - b->FrameUseSkinBone,
              f.UseSkinBoneCount ? bones : f.UseSkinBone - b->FrameUseSkinBone);
    bones += f.UseSkinBoneCount;
    ASSERT_EQ(f.PositionCount, int(e.positions.size())) << at;
    for (int p = 0; p < f.PositionCount; ++p) {
      MV1MeshPosition* pos = MV1FramePositionAt(&f, p);
      ExpectVec(pos->Position, e.positions[p], at + " position " + std::to_string(p));
      MV1PositionBoneWeight* pairs = MV1PositionBones(pos);
      for (int k = 0; k < f.BonesPerVertex; ++k) {
        const bool has = !e.noWeights && k < int(e.weights[p].size());
        EXPECT_EQ(pairs[k].Index, has ? e.weights[p][k].Index : 0xFFFFFFFFu)
            << at << " pair " << p << "." << k;
        EXPECT_EQ(pairs[k].Weight, has ? e.weights[p][k].Weight : 0.0f)
            << at << " pair " << p << "." << k;
      }
    }
    ASSERT_EQ(f.NormalCount, int(e.normals.size())) << at;
    for (int n = 0; n < f.NormalCount; ++n) {
      ExpectVec(f.Normal[n].Normal, e.normals[n], at + " normal " + std::to_string(n));
      const VECTOR& t = f.Normal[n].Tangent;
      EXPECT_TRUE(std::isfinite(t.x) && std::isfinite(t.y) && std::isfinite(t.z));
    }
    int meshes = 0, first = -1, shapes = 0;
    for (size_t j = 0; j < s.meshes.size(); ++j)
      if (s.meshes[j].frame == i && meshes++ == 0) first = int(j);
    EXPECT_EQ(f.MeshCount, meshes) << at;
    EXPECT_EQ(IndexOf(f.Mesh, b->Mesh), first) << at;
    for (const Mv1WShape& sh : s.shapes) shapes += sh.frame == i;
    EXPECT_EQ(f.ShapeCount, shapes) << at;
    int frameTriangles = 0, frameVertices = 0;
    for (const Mv1WMesh& m : s.meshes)
      if (m.frame == i)
        for (const Mv1WList& l : m.lists) {
          frameTriangles += int(l.indices.size() / 3);
          frameVertices += int(l.meshVertices.size());
        }
    EXPECT_EQ(f.TriangleCount, frameTriangles) << at;
    EXPECT_EQ(f.VertexCount, frameVertices) << at;
    triangles += frameTriangles;
    vertices += frameVertices;
  }
  EXPECT_EQ(b->TopFrameCount, top);
  EXPECT_EQ(b->TriangleCount, triangles);
  EXPECT_EQ(b->VertexCount, vertices);
  if (b->FrameCount) {
    EXPECT_EQ(b->FirstTopFrame, &b->Frame[0]);
    EXPECT_NEAR(b->Frame[0].WorldMatrix.m[0][3], s.frames[0].translate.x, 1e-5);
    EXPECT_NEAR(b->Frame[0].WorldMatrix.m[2][3], s.frames[0].translate.z, 1e-5);
  }

  // Change bits: the core's numbering gives the same infos; masks hold the subtree's bits.
  {
    std::vector<MV1ChangeInfo> saved;
    for (int i = 0; i < b->FrameCount; ++i) {
      saved.push_back(b->Frame[i].ChangeDrawMaterialInfo);
      saved.push_back(b->Frame[i].ChangeMatrixInfo);
    }
    for (int j = 0; j < b->MeshCount; ++j) saved.push_back(b->Mesh[j].ChangeInfo);
    MV1ModelBase copy = *b;
    ASSERT_EQ(MV1NumberChangeBits(&copy), 0);
    size_t k = 0;
    for (int i = 0; i < b->FrameCount; ++i)
      for (MV1ChangeInfo* ci :
           {&b->Frame[i].ChangeDrawMaterialInfo, &b->Frame[i].ChangeMatrixInfo}) {
        EXPECT_EQ(ci->WordIndex, saved[k].WordIndex);
        EXPECT_EQ(ci->OwnBit, saved[k].OwnBit);
        EXPECT_EQ(ci->MaskWordCount, saved[k].MaskWordCount);
        // The first mask word holds the own bit.
        EXPECT_NE(saved[k].SubtreeMask[0] & saved[k].OwnBit, 0u);
        *ci = saved[k++];
      }
    for (int j = 0; j < b->MeshCount; ++j) {
      EXPECT_EQ(b->Mesh[j].ChangeInfo.WordIndex, saved[k].WordIndex);
      EXPECT_EQ(b->Mesh[j].ChangeInfo.OwnBit, saved[k].OwnBit);
      b->Mesh[j].ChangeInfo = saved[k++];
    }
  }

  // Meshes, lists, faces.
  int listBase = 0;
  for (int j = 0; j < b->MeshCount; ++j) {
    const MV1MeshBase& m = b->Mesh[j];
    const Mv1WMesh& e = s.meshes[j];
    const std::string at = "mesh " + std::to_string(j);
    EXPECT_EQ(IndexOf(m.Container, b->Frame), e.frame) << at;
    EXPECT_EQ(IndexOf(m.Material, b->Material), e.material) << at;
    EXPECT_EQ(uint32_t(m.UseVertexDiffuseColor), e.useDiffuse);
    EXPECT_EQ(uint32_t(m.UseVertexSpecularColor), e.useSpecular);
    EXPECT_EQ(m.HasVertexAlpha, e.vertexAlpha);
    EXPECT_EQ(m.Visible, e.visible);
    EXPECT_EQ(m.BackCulling, e.culling);
    bool shaped = false;
    for (const Mv1WShape& sh : s.shapes)
      for (const Mv1WShapeMesh& sm : sh.meshes) shaped = shaped || sm.mesh == j;
    EXPECT_EQ(m.HasShape, shaped ? 1 : 0);
    EXPECT_EQ(m.UVSetCount, e.uvSets);
    EXPECT_EQ(m.FloatsPerUV, 2);
    EXPECT_EQ(m.VertexStride, e.uvSets * 8 + 16);
    ASSERT_EQ(m.VertexCount, int(e.positionIndex.size())) << at;
    for (int v = 0; v < m.VertexCount; ++v) {
      MV1MeshVertex* mv = MV1MeshVertexAt(&m, v);
      EXPECT_EQ(mv->PositionIndex, e.positionIndex[v]) << at;
      EXPECT_EQ(mv->NormalIndex, e.normalIndex[v]) << at;
      EXPECT_EQ(std::memcmp(&mv->Diffuse, &e.diffuse[v], 4), 0) << at << " vertex " << v;
      const COLOR_U8 c = Colour(e.specular[v]);
      EXPECT_TRUE(mv->Specular.r == c.r && mv->Specular.g == c.g && mv->Specular.b == c.b &&
                  mv->Specular.a == c.a);
      for (int k = 0; k < e.uvSets * 2; ++k)
        EXPECT_EQ(MV1MeshVertexUV(mv)[k], e.uvs[v * e.uvSets * 2 + k]) << at;
    }
    ASSERT_EQ(m.TriangleListCount, int(e.lists.size())) << at;
    EXPECT_EQ(IndexOf(m.TriangleList, b->TriangleList), e.lists.empty() ? -1 : listBase);
    int face = 0;
    for (int li = 0; li < m.TriangleListCount; ++li) {
      const MV1TriangleList& l = m.TriangleList[li];
      const Mv1WList& el = e.lists[li];
      const std::string lat = at + " list " + std::to_string(li);
      EXPECT_EQ(l.Container, &m);
      EXPECT_EQ(l.VertexType, el.type) << lat;
      ASSERT_EQ(l.VertexCount, int(el.meshVertices.size())) << lat;
      ASSERT_EQ(l.IndexCount, el.indices.size()) << lat;
      static const int kStride[3] = {32, 48, 64};
      EXPECT_EQ(l.VertexStride,
                el.type == 3 ? MV1FreeBoneVertexStride(el.freeBones) : kStride[el.type]);
      if (el.type == 3) {
        EXPECT_EQ(l.BonesPerVertex, el.freeBones);
      }
      ASSERT_EQ(l.UseBoneCount, int(el.bones.size())) << lat;
      for (size_t k = 0; k < el.bones.size(); ++k) EXPECT_EQ(l.UseBone[k], el.bones[k]);
      for (int v = 0; v < l.VertexCount; ++v)
        EXPECT_EQ(l.MeshVertexIndex[v], el.meshVertices[v]) << lat;
      for (int x = 0; x < l.IndexCount; ++x) EXPECT_EQ(l.Index[x], el.indices[x]) << lat;
      if (l.VertexCount) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(l.Vertices) % 16, 0u);
        if (el.type == 0) {  // the records hold the frame positions (step 17)
          auto* r = reinterpret_cast<MV1VertexRigid*>(MV1TriangleListVertices(&l));
          const uint32_t p = MV1MeshVertexAt(&m, int(el.meshVertices[0]))->PositionIndex;
          ExpectVec(r->Position, MV1FramePositionAt(m.Container, int(p))->Position, lat);
        }
      }
      for (size_t x = 0; x + 2 < el.indices.size(); x += 3, ++face) {
        const MV1MeshFace& fc = m.Face[face];
        EXPECT_EQ(fc.TriangleListType, el.type);
        EXPECT_EQ(fc.TriangleListIndex, li)
            << "face list field is the place among the mesh's lists";
        for (int c = 0; c < 3; ++c)
          EXPECT_EQ(fc.VertexIndex[c], el.meshVertices[el.indices[x + c]]);
      }
    }
    EXPECT_EQ(m.FaceCount, face) << at;
    listBase += m.TriangleListCount;
  }

  // Materials, textures, parameter records.
  for (int i = 0; i < b->MaterialCount; ++i) {
    const MV1MaterialBase& m = b->Material[i];
    const Mv1WMaterial& e = s.materials[i];
    EXPECT_STREQ(m.Name, e.name.c_str());
    EXPECT_EQ(m.Diffuse.r, e.diffuse.r);
    EXPECT_EQ(m.Ambient.g, e.ambient.g);
    EXPECT_EQ(m.Power, e.power);
    const int counts[3] = {m.DiffuseLayerCount, m.SpecularLayerCount, m.NormalLayerCount};
    const MV1MaterialLayer* layers[3] = {m.DiffuseLayer, m.SpecularLayer, m.NormalLayer};
    for (int set = 0; set < 3; ++set) {
      ASSERT_EQ(counts[set], int(e.layers[set].size()));
      for (int l = 0; l < counts[set]; ++l) {
        EXPECT_EQ(layers[set][l].Texture, e.layers[set][l].first);
        EXPECT_EQ(layers[set][l].BlendType, e.layers[set][l].second);
      }
    }
    EXPECT_EQ(m.DrawBlendMode, e.words[0]);
    EXPECT_EQ(m.DrawBlendParam, e.words[1]);
    EXPECT_EQ(m.FileWords[2], e.words[4]);
    EXPECT_EQ(m.Type, e.block ? e.type : 0);
    EXPECT_EQ(m.DiffuseGradTexture, e.block ? e.diffuseGrad : -1);
    EXPECT_EQ(m.SpecularGradTexture, e.block ? e.specularGrad : -1);
    EXPECT_EQ(m.DiffuseGradBlend, e.block ? e.diffuseGradBlend : 2);
    EXPECT_EQ(m.SpecularGradBlend, e.block ? e.specularGradBlend : 1);
    EXPECT_EQ(m.OutlineWidth, e.block ? e.outlineWidth : 0.0f);
    EXPECT_EQ(m.OutlineColor.r, e.block ? e.outlineColor.r : 0.0f);
    EXPECT_EQ(m.OutlineColor.a, 1.0f);
  }
  for (int i = 0; i < b->TextureCount; ++i) {
    const MV1TextureBase& t = b->Texture[i];
    const Mv1WTexture& e = s.textures[i];
    EXPECT_STREQ(t.Name, e.name.c_str());
    EXPECT_STREQ(t.ColorFileName ? t.ColorFileName : "", e.colour.c_str());
    EXPECT_STREQ(t.AlphaFileName ? t.AlphaFileName : "", e.alpha.c_str());
    EXPECT_EQ(uint32_t(t.BumpMap), e.bump);
    EXPECT_EQ(t.BumpScale, e.bumpScale);
    EXPECT_EQ(uint32_t(t.AddressModeU), e.addressU);
    EXPECT_EQ(uint32_t(t.AddressModeV), e.addressV);
    EXPECT_EQ(uint32_t(t.FilterMode), e.filter);
    EXPECT_GE(t.GraphHandle, 0);
    EXPECT_GT(t.Width, 0);
  }
  for (int i = 0; i < b->FrameParamCount; ++i) {
    EXPECT_STREQ(b->FrameParam[i].Name, s.params[i].name.c_str());
    for (int q = 0; q < 22; ++q) EXPECT_EQ(b->FrameParam[i].Words[q], s.params[i].words[q]);
  }

  // Skin bones and bone-use entries.
  for (int k = 0; k < b->SkinBoneCount; ++k) {
    const MV1SkinBoneBase& sb = b->SkinBone[k];
    const Mv1WSkinBone& e = s.skinBones[k];
    EXPECT_EQ(std::memcmp(&sb.ModelLocalMatrix, &e.matrix, sizeof(Matrix3x4)), 0);
    EXPECT_EQ(uint32_t(sb.TranslateOnly), e.translateOnly);
    EXPECT_EQ(sb.Index, e.frame);
    EXPECT_EQ(sb.UseCount, e.useCount);
    EXPECT_EQ(IndexOf(sb.Use, b->SkinBoneUse), e.useCount ? e.useFirst : -1);
  }
  for (size_t k = 0; k < s.boneUse.size(); ++k) {
    EXPECT_EQ(uint32_t(b->SkinBoneUse[k].Value[0]), s.boneUse[k].first);
    EXPECT_EQ(uint32_t(b->SkinBoneUse[k].Value[1]), s.boneUse[k].second);
  }
  for (int i = 0; i < b->FrameCount; ++i) {
    int count = 0, first = -1;
    for (size_t k = 0; k < s.skinBones.size(); ++k)
      if (s.skinBones[k].frame == i && count++ == 0) first = int(k);
    EXPECT_EQ(b->Frame[i].SkinBoneCount, count);
    EXPECT_EQ(IndexOf(b->Frame[i].SkinBone, b->SkinBone), first);
  }

  // Anims, anim frames, key sets and the anim-frame table.
  int afi = 0, ksi = 0;
  for (int a = 0; a < b->AnimCount; ++a) {
    const MV1AnimBase& an = b->Anim[a];
    const Mv1WAnim& e = s.anims[a];
    EXPECT_STREQ(an.Name, e.name.c_str());
    EXPECT_EQ(an.Index, a);
    EXPECT_EQ(an.MaxTime, e.totalTime);
    EXPECT_EQ(an.IsAdditive, e.flags & 1);
    EXPECT_EQ(an.IsMatrixMode, (e.flags >> 1) & 1);
    ASSERT_EQ(an.AnimFrameCount, int(e.frames.size()));
    EXPECT_EQ(IndexOf(an.AnimFrame, b->AnimFrame), e.frames.empty() ? -1 : afi);
    for (const Mv1WAnimFrame& ef : e.frames) {
      const MV1AnimFrameBase& af = b->AnimFrame[afi++];
      EXPECT_EQ(af.Anim, &an);
      EXPECT_EQ(af.TargetFrameIndex, ef.target);
      EXPECT_EQ(af.TargetFrame, &b->Frame[ef.target]);
      EXPECT_EQ(uint32_t(af.FileValue0C), ef.value0C);
      EXPECT_EQ(b->AnimFrameTable[a * b->FrameCount + ef.target], &af);
      ASSERT_EQ(af.KeySetCount, int(ef.keySets.size()));
      EXPECT_EQ(IndexOf(af.KeySet, b->AnimKeySet), ef.keySets.empty() ? -1 : ksi);
      for (const Mv1WKeySet& ek : ef.keySets) {
        const MV1AnimKeySet& k = b->AnimKeySet[ksi];
        const std::string at = "key set " + std::to_string(ksi++);
        EXPECT_EQ(k.Type, ek.type) << at;
        EXPECT_EQ(k.DataType, ek.component) << at;
        if (ek.component == 18) {
          EXPECT_EQ(k.TargetShapeIndex, ek.target);
        }
        const bool uniform = ek.expectTimes.empty();
        EXPECT_EQ(k.TimeType, uniform ? 0 : 1) << at;
        ASSERT_EQ(k.KeyCount, int((ek.flags & 1) ? 1 : ek.count)) << at;
        if (uniform) {
          EXPECT_EQ(k.StartTime, ek.expectStart) << at;
          EXPECT_EQ(k.UnitTime, ek.expectUnit) << at;
        } else {
          for (int t = 0; t < k.KeyCount; ++t) EXPECT_EQ(k.KeyTime[t], ek.expectTimes[t]) << at;
        }
        for (size_t v = 0; v < ek.expectValues.size(); ++v)
          EXPECT_EQ(static_cast<const float*>(k.KeyData)[v], ek.expectValues[v])
              << at << " value " << v;
      }
    }
  }

  // Shapes.
  int smi = 0;
  for (int i = 0; i < b->ShapeCount; ++i) {
    const MV1ShapeBase& sh = b->Shape[i];
    const Mv1WShape& e = s.shapes[i];
    EXPECT_EQ(IndexOf(sh.Container, b->Frame), e.frame);
    EXPECT_STREQ(sh.Name, e.name.c_str());
    ASSERT_EQ(sh.MeshCount, int(e.meshes.size()));
    for (const Mv1WShapeMesh& em : e.meshes) {
      const MV1ShapeMeshBase& sm = b->ShapeMesh[smi++];
      EXPECT_EQ(IndexOf(sm.TargetMesh, b->Mesh), em.mesh);
      ASSERT_EQ(sm.VertexCount, int(em.vertices.size()));
      for (size_t v = 0; v < em.vertices.size(); ++v)
        EXPECT_EQ(std::memcmp(&sm.Vertex[v], &em.vertices[v], sizeof(MV1ShapeVertexBase)), 0);
    }
  }
  int area[5] = {};
  for (int j = 0; j < b->MeshCount; ++j)
    if (b->Mesh[j].HasShape) {
      area[0] += b->Mesh[j].VertexCount;
      for (int li = 0; li < b->Mesh[j].TriangleListCount; ++li) {
        const MV1TriangleList& l = b->Mesh[j].TriangleList[li];
        area[1 + l.VertexType] +=
            l.VertexType == 3 ? l.VertexCount * l.VertexStride : l.VertexCount;
      }
    }
  EXPECT_EQ(b->ShapeAreaCount, area[0]);
  EXPECT_EQ(b->ShapeType0VertexCount, area[1]);
  EXPECT_EQ(b->ShapeType3ByteSize, area[4]);
}

struct LayoutCase {
  const char* name;
  Mv1WLayout layout;
};

std::vector<LayoutCase> Layouts() {
  std::vector<LayoutCase> v;
  v.push_back({"plain", {}});
  Mv1WLayout l;
  l.shuffleSeed = 7;
  v.push_back({"shuffled", l});
  l.oddStreams = true;
  v.push_back({"shuffled odd streams", l});
  l = {};
  l.recordExtra = 12;
  l.strideExtra = 8;
  l.maskPadding = 3;
  l.trailing = 100;
  v.push_back({"larger records and strides, padding, trailing bytes", l});
  l = {};
  l.escapeMostFrequent = true;
  l.wrongTotals = true;
  l.shuffleSeed = 99;
  v.push_back({"escape forced to the most frequent byte, wrong 0xA4/0xA8", l});
  return v;
}

TEST_F(Mv1ReaderTest, RoundTripsEveryPackedFormAndLayout) {
  for (bool breadthFirst : {false, true}) {
    Mv1WScene scene = Mv1FullScene("missing.bgra");
    if (breadthFirst) {  // 0 root; 1 and 2 its children; 3 under 1
      scene.frames[2].parent = 0;
      scene.frames[3].parent = 1;
    }
    for (const LayoutCase& c : Layouts()) {
      SCOPED_TRACE(std::string(c.name) + (breadthFirst ? ", breadth-first" : ", pre-order"));
      Mv1Written w = WriteMv1(scene, c.layout);
      LogCaptureBegin();
      const int h = Load(w.file);
      const std::string log = LogCaptureEnd();
      ASSERT_GE(h, 0) << log;
      MV1ModelBase* b = MV1GetModelBaseChecked(h);
      ExpectBase(b, w.expect);
      EXPECT_STREQ(b->Name, "m");
      EXPECT_STREQ(b->DirectoryPath, "C:\\models/");
      EXPECT_STREQ(b->FilePath, "C:\\models\\m.mv1");
      EXPECT_EQ(MV1DeleteModelBase(h), 0);
    }
  }
}

TEST_F(Mv1ReaderTest, EightUVSetsLoadAndModelLoadingReachesTheReader) {
  Mv1WScene scene = Mv1FullScene("missing.bgra");
  Mv1WMesh& m = scene.meshes[0];
  m.uvSets = 8;
  m.uvs.clear();
  for (size_t k = 0; k < m.positionIndex.size() * 16; ++k) m.uvs.push_back(float(k) / 64);
  const Mv1Written w = WriteMv1(scene);
  const int h = Load(w.file);
  ASSERT_GE(h, 0);
  ExpectBase(MV1GetModelBaseChecked(h), w.expect);
  MV1DeleteModelBase(h);
  // Through the loader by path: the reader sits in the first slot.
  ASSERT_TRUE(WriteEngineFile("mv1_reader_test.mv1", w.file));
  const int model = MV1LoadModel("mv1_reader_test.mv1");
  ASSERT_GE(model, 0);
  ExpectBase(MV1GetModelChecked(model)->BaseData, w.expect);
  MV1DeleteModel(model);
  RemoveEnginePath("mv1_reader_test.mv1");
}

TEST_F(Mv1ReaderTest, EmptyExtensionBlockAndAllZeroVertexCounts) {
  Mv1WScene s;
  s.frames.resize(2);
  s.frames[1].parent = 0;
  s.materials.resize(1);
  Mv1WLayout l;
  l.extension = true;
  Mv1Written w = WriteMv1(s, l);
  const int h = Load(w.file);
  ASSERT_GE(h, 0);
  MV1ModelBase* b = MV1GetModelBaseChecked(h);
  ExpectBase(b, w.expect);
  EXPECT_EQ(b->VertexData, nullptr);
  for (void* p : {b->Type0Vertices, b->Type1Vertices, b->Type2Vertices, b->Type3Vertices,
                  b->Positions, b->Normals, b->MeshVertices, b->Faces, b->TListMeshVertexIndices})
    EXPECT_EQ(p, nullptr);
  MV1DeleteModelBase(h);
}

TEST_F(Mv1ReaderTest, DecodingEdgeCases) {
  // Compact start and scale bytes.
  float v = 1;
  ASSERT_TRUE(MV1CompactStart(0x80, &v));
  EXPECT_EQ(v, 0.0f);
  ASSERT_TRUE(MV1CompactStart(0x42, &v));
  EXPECT_EQ(v, -100.0f);
  ASSERT_TRUE(MV1CompactStart(0x12, &v));
  EXPECT_EQ(v, 0.01f);
  EXPECT_FALSE(MV1CompactStart(0x30, &v));
  EXPECT_EQ(MV1CompactScale(0x25), 500.0f);
  EXPECT_EQ(MV1CompactScale(0x93), 0.3f);
  // Quantised ends land exactly for seeded random minima and ranges.
  std::mt19937 rng(1234);
  std::uniform_real_distribution<float> d(-1000, 1000);
  for (int i = 0; i < 2000; ++i) {
    const float mn = d(rng), rg = d(rng);
    EXPECT_EQ(MV1QuantisedCoordinate(60000, mn, rg), float(double(mn) + rg)) << mn << " " << rg;
    EXPECT_EQ(MV1QuantisedCoordinate(0, mn, rg), mn);
  }
  EXPECT_EQ(MV1QuantisedCoordinate(60000, 118.80688f, -432.50272f), -313.69583f);
}

TEST_F(Mv1ReaderTest, PackedValueEdgeCases) {
  Mv1WScene s = Mv1FullScene("missing.bgra");
  Mv1Written w = WriteMv1(s);
  const int h = Load(w.file);
  ASSERT_GE(h, 0);
  MV1ModelBase* b = MV1GetModelBaseChecked(h);
  // Angle packings at the ends; compact times from 0x12/0x25.
  const MV1AnimKeySet& k3 = b->AnimKeySet[3];
  EXPECT_EQ(static_cast<float*>(k3.KeyData)[0], -3.1415927f);
  EXPECT_EQ(static_cast<float*>(k3.KeyData)[1], 3.1415927f);
  EXPECT_EQ(k3.KeyTime[1], 7.0f * 500.0f + 0.01f);
  EXPECT_EQ(static_cast<float*>(b->AnimKeySet[4].KeyData)[2], 6.2831855f);
  const MV1AnimKeySet& k2 = b->AnimKeySet[2];
  EXPECT_EQ(k2.KeyCount, 1);
  EXPECT_EQ(k2.TimeType, 0);
  EXPECT_EQ(k2.StartTime, 0.0f);
  EXPECT_EQ(k2.UnitTime, 1.0f);
  // u8 weight 255 and u16 weight 65535 give 1.0; an end marker ends the pairs.
  EXPECT_EQ(MV1PositionBones(MV1FramePositionAt(&b->Frame[1], 0))[0].Weight, 1.0f);
  EXPECT_EQ(MV1PositionBones(MV1FramePositionAt(&b->Frame[1], 0))[1].Index, 0xFFFFFFFFu);
  EXPECT_EQ(MV1PositionBones(MV1FramePositionAt(&b->Frame[2], 0))[0].Weight, 1.0f);
  EXPECT_EQ(MV1PositionBones(MV1FramePositionAt(&b->Frame[1], 3))[0].Index, 0xFFFFFFFFu);
  // int8 127 gives 1.0; a broadcast colour pair reaches every vertex.
  EXPECT_EQ(b->Frame[1].Normal[1].Normal.y, 1.0f);
  for (int v = 0; v < b->Mesh[1].VertexCount; ++v)
    EXPECT_EQ(MV1MeshVertexAt(&b->Mesh[1], v)->Diffuse.r, 0x11);
  // Normals from faces: unused normals stay zero.
  ExpectVec(b->Frame[2].Normal[3].Normal, VECTOR{0, 0, 0}, "unused normal");
  MV1DeleteModelBase(h);
}

TEST_F(Mv1ReaderTest, NotMv1GivesNoLogLine) {
  const Bytes inputs[] = {{},
                          {'M', 'V', '1'},
                          {'M', 'V', '1', '0', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                          {'x', 'o', 'f', ' '}};
  for (const Bytes& in : inputs) {
    LogCaptureBegin();
    EXPECT_EQ(LoadMV1ToModelBase(in.empty() ? nullptr : in.data(), in.size(), "a", "a", "C:\\"),
              -1);
    EXPECT_EQ(LogCaptureEnd(), "");
  }
}

TEST_F(Mv1ReaderTest, EveryMalformedFileIsRefusedWithItsLine) {
  const long textures = D3DLiveTextureCount();
  for (const Mv1Malformed& m : Mv1MalformedFiles()) {
    LogCaptureBegin();
    const int h = Load(m.file);
    const std::string log = LogCaptureEnd();
    EXPECT_EQ(h, -1) << m.name;
    EXPECT_NE(log.find("MV1 LoadModel Error : "), std::string::npos) << m.name << ": " << log;
    EXPECT_NE(log.find(m.expect), std::string::npos) << m.name << ": " << log;
    if (h >= 0) MV1DeleteModelBase(h);
    EXPECT_EQ(D3DLiveTextureCount(), textures) << m.name;
  }
}

TEST_F(Mv1ReaderTest, HostileInputNeverCrashesOrLeaks) {
  const Mv1Written w = WriteMv1(Mv1FullScene("missing.bgra"));
  MV1DeleteModelBase(Load(w.file));  // the handle table grows once
  const long textures = D3DLiveTextureCount();
  const size_t blocks = MemLiveBlockCount();
  auto attempt = [&](const Bytes& file) {
    LogCaptureBegin();
    const int h = Load(file);
    LogCaptureEnd();
    if (h >= 0) MV1DeleteModelBase(h);
    ASSERT_EQ(MemLiveBlockCount(), blocks);
    ASSERT_EQ(D3DLiveTextureCount(), textures);
  };
  // Truncation at every byte.
  for (size_t n = 0; n < w.file.size(); ++n)
    attempt(Bytes(w.file.begin(), w.file.begin() + long(n)));
  // Each header count and total one higher and one lower.
  for (uint32_t at = 0x10; at < 0xF4; at += 4)
    for (int delta : {-1, 1}) {
      Bytes im = w.image;
      Mv1Put32(&im, at, Mv1Get32(im, at) + uint32_t(delta));
      attempt(PackMv1Image(im));
    }
  // Seeded random damage, re-packed; each case replays alone from its seed.
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 rng(seed);
    Bytes im = w.image;
    const int hits = 1 + int(rng() % 8);
    for (int k = 0; k < hits; ++k) im[4 + rng() % (im.size() - 4)] = uint8_t(rng());
    SCOPED_TRACE(seed);
    attempt(PackMv1Image(im));
  }
}

TEST_F(Mv1ReaderTest, DeepChainOfFramesLoads) {
  Mv1WScene s;
  const int n = 100000;
  s.frames.resize(n);
  for (int i = 1; i < n; ++i) s.frames[i].parent = i - 1;
  Mv1WLayout l;
  l.literalsOnly = true;
  Mv1Written w = WriteMv1(s, l);
  const int h = Load(w.file);
  ASSERT_GE(h, 0);
  MV1ModelBase* b = MV1GetModelBaseChecked(h);
  EXPECT_EQ(b->Frame[n - 1].Parent, &b->Frame[n - 2]);
  EXPECT_EQ(b->Frame[0].ChangeMatrixInfo.MaskWordCount, int((n + 31) / 32));
  MV1DeleteModelBase(h);
}

// One load makes at most a quarter of the graph table's textures, whichever reader it comes
// through: past that the file is refused, in one line, before any texture is made.
TEST_F(Mv1ReaderTest, TexturesPastAQuarterOfTheGraphTableAreRefused) {
  Mv1WScene s;
  s.frames.resize(1);
  s.textures.resize(MV1_LOAD_TEXTURE_MAX + 1);
  Mv1WLayout l;
  l.literalsOnly = true;
  Mv1Written w = WriteMv1(s, l);
  LogCaptureBegin();
  EXPECT_EQ(Load(w.file), -1);
  const std::string log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  char line[256];
  std::snprintf(line, sizeof(line), "MV1 LoadModel Error : " TEXT_MV1_TEXTURE_LIMIT "\r\n",
                static_cast<unsigned long long>(MV1_LOAD_TEXTURE_MAX + 1), MV1_LOAD_TEXTURE_MAX);
  EXPECT_EQ(log, line);  // and nothing is left behind (the fixture checks)
}

TEST_F(Mv1ReaderTest, TexturesLoadScaleAndFallBack) {
  char cwd[1024];
  ASSERT_EQ(FileGetCurrentDir(cwd, sizeof(cwd)), 0);
  ASSERT_TRUE(WriteEngineFile("mv1c.bgra", BgraFileFilled(3, 5, 0x80FF0000u)));
  ASSERT_TRUE(WriteEngineFile("mv1a.bgra", BgraFileFilled(2, 2, 0xFFFFFFFFu)));
  Mv1Written w = WriteMv1(Mv1FullScene("mv1c.bgra", "mv1a.bgra"));
  const int h = LoadMV1ToModelBase(w.file.data(), w.file.size(), "m.mv1", "m", cwd);
  ASSERT_GE(h, 0);
  MV1ModelBase* b = MV1GetModelBaseChecked(h);
  ExpectBase(b, w.expect);
  EXPECT_EQ(b->Texture[0].Width, 4);
  EXPECT_EQ(b->Texture[0].Height, 8);
  EXPECT_NE(b->Texture[0].ColorImage, nullptr);
  EXPECT_NE(b->Texture[0].AlphaImage, nullptr);
  EXPECT_EQ(b->Texture[0].SemiTransparent, 1);  // an alpha file
  EXPECT_EQ(b->Texture[1].Width, 8);            // no file: the white fall-back
  EXPECT_EQ(b->Texture[1].SemiTransparent, 0);
  MV1DeleteModelBase(h);
  RemoveEnginePath("mv1c.bgra");
  RemoveEnginePath("mv1a.bgra");
}

// By path through MV1LoadModel from a folder whose name ends in a 0x5C trail byte, textures beside
// the file (one missing); then a device loss with two models, one of them shaped.
TEST_F(Mv1ReaderTest, LoadModelByPathWithTexturesBesideSurvivesDeviceLoss) {
  char cwd[1024];
  ASSERT_EQ(FileGetCurrentDir(cwd, sizeof(cwd)), 0);
  const std::string folder = std::string(cwd) + "\\mv1_\x83\x5C";
  ASSERT_TRUE(MakeEngineFolder(folder));
  ASSERT_TRUE(WriteEngineFile(folder + "\\c.bgra", BgraFile(3, 2, {0xFF102030u, 0x80405060u,
                                                                   0xFF708090u, 0xFFA0B0C0u,
                                                                   0x00D0E0F0u, 0xFF000000u})));
  ASSERT_TRUE(WriteEngineFile(folder + "\\a.bgra", BgraFileFilled(2, 2, 0xFF808080u)));
  Mv1WScene scene = Mv1FullScene("c.bgra", "a.bgra");
  scene.textures[1].colour = "gone.bgra";
  const Mv1Written w = WriteMv1(scene);
  const std::string path = folder + "\\m.mv1";
  ASSERT_TRUE(WriteEngineFile(path, w.file));

  LogCaptureBegin();
  int models[2];
  models[0] = MV1LoadModel(path.c_str());
  const std::string log = LogCaptureEnd();
  ASSERT_GE(models[0], 0) << log;
  char missing[2048];
  std::snprintf(missing, sizeof(missing), TEXT_MV1_TEX_COLOR_READ_FAILED,
                (folder + "\\gone.bgra").c_str());
  EXPECT_NE(log.find(missing), std::string::npos) << log;
  MV1Model* model = MV1GetModelChecked(models[0]);
  MV1ModelBase* b = model->BaseData;
  ExpectBase(b, w.expect);
  EXPECT_STREQ(b->Name, "m");
  EXPECT_STREQ(b->FilePath, path.c_str());
  EXPECT_EQ(b->VertexBuffersBuilt, 1);
  EXPECT_EQ(b->Texture[0].Width, 4);  // 3 x 2 scaled to powers of two
  EXPECT_EQ(b->Texture[0].Height, 2);
  EXPECT_EQ(b->Texture[0].SemiTransparent, 1);
  EXPECT_EQ(b->Texture[1].Width, 8);  // the white fall-back, as a normal map
  EXPECT_EQ(b->Texture[1].Height, 8);
  EXPECT_EQ(TextureGraphPixels(b)[1], std::vector<uint32_t>(64, 0xFF7F7FFFu));  // flat: (127, 127, 255)

  models[1] = MV1DuplicateModel(models[0]);
  ASSERT_GE(models[1], 0);
  ASSERT_GT(b->ShapeCount, 0);
  for (int f = 0; f < b->FrameCount; ++f)
    for (int s = 0; s < b->Frame[f].ShapeCount; ++s) model->Frame[f].Shape[s].Rate = 0.75f;
  for (int m : models) ASSERT_EQ(MV1SetupModelVertexBuffer(m), 0);
  const auto baseBytes = DeviceBufferBytes(b);
  const auto dynamicBytes = ModelDynamicBufferBytes(model);
  const auto pixels = TextureGraphPixels(b);
  ASSERT_FALSE(baseBytes.empty());
  ASSERT_FALSE(dynamicBytes.empty());
  const long buffers = D3DLiveBufferCount(), textures = D3DLiveTextureCount();
  const size_t blocks = MemLiveBlockCount();

  D3DDevice::SimulateDeviceLoss();
  ASSERT_NE(Dev(), nullptr);
  // The new device's creations and projection in order: T a texture, B a base buffer (managed),
  // D a dynamic buffer (default pool), P the projection.
  auto order = [&] {
    std::string o;
    for (const D3DCall& c : Dev()->Calls()) {
      if (c.Method == D3DMethod::CreateTexture) o += 'T';
      if (c.Method == D3DMethod::CreateVertexBuffer || c.Method == D3DMethod::CreateIndexBuffer)
        o += c.Args[3] == 1 ? 'B' : 'D';
      if (c.Method == D3DMethod::SetTransform && c.Args[0] == D3DTS_PROJECTION) o += 'P';
    }
    return o;
  };
  std::set<const MV1VertexBuffer*> records;
  for (int i = 0; i < b->TriangleListCount; ++i)
    if (b->TriangleList[i].VertexBuffer) records.insert(b->TriangleList[i].VertexBuffer);
  const std::string restored =
      std::string(size_t(b->TextureCount), 'T') + std::string(2 * records.size(), 'B') + "P";
  EXPECT_EQ(order(), restored);
  EXPECT_EQ(MV1GetModelChecked(models[0]), model);
  EXPECT_EQ(MV1GetModelChecked(models[1])->BaseData, b);
  EXPECT_EQ(DeviceBufferBytes(b), baseBytes);
  EXPECT_EQ(TextureGraphPixels(b), pixels);
  EXPECT_TRUE(ModelDynamicBufferBytes(model).empty());  // released with the device
  for (int m : models) ASSERT_EQ(MV1SetupModelVertexBuffer(m), 0);
  const size_t dynamicCount =
      dynamicBytes.size() + ModelDynamicBufferBytes(MV1GetModelChecked(models[1])).size();
  EXPECT_EQ(order(), restored + std::string(dynamicCount, 'D'));
  EXPECT_EQ(ModelDynamicBufferBytes(model), dynamicBytes);
  EXPECT_EQ(D3DLiveBufferCount(), buffers);
  EXPECT_EQ(D3DLiveTextureCount(), textures);
  EXPECT_EQ(MemLiveBlockCount(), blocks);
  for (int m : models) EXPECT_EQ(MV1DeleteModel(m), 0);
  for (const char* f : {"\\c.bgra", "\\a.bgra", "\\m.mv1"}) RemoveEnginePath(folder + f);
  RemoveEnginePath(folder);
}

TEST_F(Mv1ReaderTest, AllocationFailuresRefuseOrFallBackAndFreeEverything) {
  char cwd[1024];
  ASSERT_EQ(FileGetCurrentDir(cwd, sizeof(cwd)), 0);
  ASSERT_TRUE(WriteEngineFile("mv1f.bgra", BgraFileFilled(4, 4, 0xFF00FF00u)));
  Mv1WScene scene = Mv1FullScene("mv1f.bgra");
  scene.textures[1].colour = "mv1f.bgra";
  const Mv1Written w = WriteMv1(scene);
  MV1DeleteModelBase(
      LoadMV1ToModelBase(w.file.data(), w.file.size(), "m.mv1", "m", cwd));  // table growth
  const long textures = D3DLiveTextureCount();
  int failures = 0, successes = 0;
  bool unpackLine = false, tangentLine = false;
  const int points = ForEachAllocationFailureTolerant(
      [] {},
      [&] {
        LogCaptureBegin();
        const int h = LoadMV1ToModelBase(w.file.data(), w.file.size(), "m.mv1", "m", cwd);
        const std::string log = LogCaptureEnd();
        if (h >= 0) {
          // Only a texture file read may fail and still load (the file is found again by its last
          // component, or the texture falls back to white).
          EXPECT_EQ(log.find("MV1 LoadModel Error"), std::string::npos) << log;
          ++successes;
          MV1DeleteModelBase(h);
          return false;
        }
        unpackLine =
            unpackLine || log.find(TEXT_MV1_READER_UNPACK_ALLOC_FAILED) != std::string::npos;
        tangentLine = tangentLine || log.find(TEXT_MV1_TANGENT_ALLOC_FAILED) != std::string::npos;
        return true;
      },
      [&] { EXPECT_EQ(D3DLiveTextureCount(), textures); }, &failures);
  EXPECT_GT(points, 20);
  EXPECT_GT(failures, 10);
  EXPECT_GT(successes, 0);
  EXPECT_TRUE(unpackLine);
  EXPECT_TRUE(tangentLine);
  RemoveEnginePath("mv1f.bgra");
}

TEST_F(Mv1ReaderTest, HugeCountsWithoutStreamBytesHitTheCaps) {
  // A mesh of 2^24 vertices with absent indices, one colour pair and no UVs: 256 MiB of vertices.
  Mv1WScene s;
  s.frames.resize(1);
  s.frames[0].positions = {{0, 0, 0}};
  s.frames[0].normals = {{0, 0, 1}};
  s.materials.resize(1);
  Mv1WMesh m;
  m.positionWidth = m.normalWidth = 0;
  m.uvSets = 0;
  m.broadcast = true;
  m.diffuse = {0xFFFFFFFFu};
  m.specular = {0};
  m.positionIndex = {0};
  m.normalIndex = {0};
  s.meshes.push_back(m);
  Mv1Written w = WriteMv1(s);
  Mv1Put32(&w.image, w.meshAt[0] + 0x40, 1u << 24);
  Mv1Put32(&w.image, 0x94, 16u << 24);
  LogCaptureBegin();
  EXPECT_EQ(Load(PackMv1Image(w.image)), -1);
  EXPECT_NE(LogCaptureEnd().find("vertex data"), std::string::npos);
}

}  // namespace

// Writes the fuzz target's seeds (run by hand with MV1_SEED_DIR set): byte 0 selects the form
// (0 a file, 1 the unpacked image after the magic).
TEST(Mv1FuzzSeeds, DISABLED_Write) {
  const char* dir = std::getenv("MV1_SEED_DIR");
  ASSERT_NE(dir, nullptr);
  auto save = [&](const std::string& name, uint8_t form, const Bytes& bytes) {
    Bytes out = {form};
    out.insert(out.end(), bytes.begin(), bytes.end());
    FILE* f = std::fopen((std::string(dir) + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(out.data(), 1, out.size(), f);
    std::fclose(f);
  };
  Mv1WLayout l;
  l.shuffleSeed = 3;
  l.oddStreams = true;
  const Mv1Written full = WriteMv1(Mv1FullScene("missing.bgra"), l);
  save("full_file", 0, full.file);
  save("full_image", 1, Bytes(full.image.begin() + 4, full.image.end()));
  Mv1WScene small;
  small.frames.resize(2);
  small.frames[1].parent = 0;
  const Mv1Written two = WriteMv1(small);
  save("two_frames_image", 1, Bytes(two.image.begin() + 4, two.image.end()));
  int k = 0;
  for (const Mv1Malformed& m : Mv1MalformedFiles())
    if (k++ % 8 == 0) save("malformed_" + std::to_string(k), 0, m.file);
}
