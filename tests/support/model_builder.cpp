#include "tests/support/model_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_handles.h>

ModelSystemScope::ModelSystemScope() {
  UseDirect3DFlag = 1;
  InitModelSystem();
}

ModelSystemScope::~ModelSystemScope() {
  MV1TerminateModelSystem();
  UseDirect3DFlag = 0;
}

int ModelBaseBuilder::AddFrame(int parent, VECTOR translate, VECTOR rotate, VECTOR scale) {
  TestFrame f;
  f.parent = parent;
  f.name = "frame" + std::to_string(frames.size());
  f.translate = translate;
  f.rotate = rotate;
  f.scale = scale;
  frames.push_back(f);
  return static_cast<int>(frames.size()) - 1;
}

int ModelBaseBuilder::AddMesh(int frame, int type, int triangles, VECTOR centre, int material) {
  TestMesh mesh;
  mesh.frame = frame;
  mesh.material = material;
  TestTriangleList list;
  list.type = type;
  const TestFrame& f = frames[frame];
  int bones = static_cast<int>(f.boneList.size());
  for (int i = 0; i < 3 * triangles; ++i) {
    TestVertex v;
    float k = static_cast<float>(i);
    v.position = VECTOR{centre.x + k * 0.5f - (i % 3), centre.y + (i % 3) * 1.25f - k * 0.125f,
                        centre.z + (i % 2 ? 1.0f : -0.5f)};
    if (type != MV1_VERTEX_TYPE_RIGID && bones > 0) {
      int n = std::min(f.bonesPerVertex, bones);
      if (n == 1) {
        v.bones.push_back({i % bones, 1.0f});
      } else {
        for (int b = 0; b < n; ++b)
          v.bones.push_back({(i + b) % bones, b == 0 ? 0.75f : 0.25f / static_cast<float>(n - 1)});
      }
    }
    mesh.vertices.push_back(v);
    list.meshVertices.push_back(i);
    list.indices.push_back(static_cast<uint16_t>(i));
  }
  if (type == MV1_VERTEX_TYPE_SKIN_4BONE || type == MV1_VERTEX_TYPE_SKIN_8BONE)
    for (int b = 0; b < bones; ++b) list.useBones.push_back(b);
  mesh.lists.push_back(list);
  meshes.push_back(mesh);
  return static_cast<int>(meshes.size()) - 1;
}

namespace {

// Allocation for one array of the base: from its chunk list, or (separate) a tracked block whose
// flag says so.
struct Allocator {
  MV1ModelBase* base;
  bool separate;
  bool failed = false;

  template <class T>
  T* Chunk(size_t count) {
    if (failed) return nullptr;
    if (count == 0) return nullptr;
    T* p = static_cast<T*>(ChunkListAlloc(sizeof(T) * count, &base->ChunkListHead));
    if (!p) failed = true;
    return p;
  }
  template <class T>
  T* Maybe(size_t count, int* flag) {
    if (!separate) return Chunk<T>(count);
    if (failed || count == 0) return nullptr;
    T* p = static_cast<T*>(MEM_CALLOC(sizeof(T) * count));
    if (!p) failed = true;
    else *flag = 1;
    return p;
  }
  char* Text(const std::string& s) {
    char* p = Chunk<char>(s.size() + 1);
    if (p) std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
  }
};

int RecordSize(int type, int bonesPerVertex) {
  switch (type) {
    case MV1_VERTEX_TYPE_RIGID: return 32;
    case MV1_VERTEX_TYPE_SKIN_4BONE: return 48;
    case MV1_VERTEX_TYPE_SKIN_8BONE: return 64;
    default: return MV1FreeBoneVertexStride(bonesPerVertex);
  }
}

// Writes the per-vertex records of a list as the load-time processing does.
void FillRecords(MV1TriangleList* list) {
  MV1MeshBase* mesh = list->Container;
  MV1FrameBase* frame = mesh->Container;
  uint8_t* rec = MV1TriangleListVertices(list);
  int stride = MV1TriangleListRecordSize(list);
  int maxBones = list->VertexType == 1 ? 4 : list->VertexType == 2 ? 8 : list->BonesPerVertex;
  for (int i = 0; i < list->VertexCount; ++i, rec += stride) {
    MV1MeshVertex* mv = MV1MeshVertexAt(mesh, list->MeshVertexIndex[i]);
    MV1MeshPosition* pos = MV1FramePositionAt(frame, mv->PositionIndex);
    const MV1MeshNormal& nrm = frame->Normal[mv->NormalIndex];
    MV1PositionBoneWeight* pairs = MV1PositionBones(pos);
    int bones[64];
    float weights[64];
    int n = 0;
    for (; n < maxBones && n < frame->BonesPerVertex && pairs[n].Index != 0xFFFFFFFFu; ++n) {
      bones[n] = static_cast<int>(pairs[n].Index);
      weights[n] = pairs[n].Weight;
    }
    auto slotOf = [&](int k) -> uint8_t {
      if (k >= n) return 0;
      for (int s = 0; s < list->UseBoneCount; ++s)
        if (list->UseBone[s] == bones[k]) return static_cast<uint8_t>(s);
      return static_cast<uint8_t>(list->UseBoneCount);
    };
    switch (list->VertexType) {
      case MV1_VERTEX_TYPE_RIGID: {
        auto* v = reinterpret_cast<MV1VertexRigid*>(rec);
        v->Position = pos->Position;
        v->PositionW = 1.0f;
        v->Normal = nrm.Normal;
        v->NormalW = 0.0f;
        break;
      }
      case MV1_VERTEX_TYPE_SKIN_4BONE: {
        auto* v = reinterpret_cast<MV1VertexSkin4*>(rec);
        for (int k = 0; k < 4; ++k) {
          v->Weight[k] = k < n ? weights[k] : 0.0f;
          v->BoneSlot[k] = slotOf(k);
        }
        v->Position = pos->Position;
        v->PositionW = 1.0f;
        v->Normal = nrm.Normal;
        break;
      }
      case MV1_VERTEX_TYPE_SKIN_8BONE: {
        auto* v = reinterpret_cast<MV1VertexSkin8*>(rec);
        for (int k = 0; k < 8; ++k) v->Weight[k] = k < n ? weights[k] : 0.0f;
        for (int k = 0; k < 4; ++k) {
          v->BoneSlot0123[k] = slotOf(k);
          v->BoneSlot4567[k] = slotOf(k + 4);
        }
        v->Normal = nrm.Normal;
        v->Position = pos->Position;
        break;
      }
      default: {
        auto* v = reinterpret_cast<MV1VertexSkinFree*>(rec);
        v->Position = pos->Position;
        v->PositionW = 1.0f;
        v->Normal = nrm.Normal;
        v->NormalW = 0.0f;
        MV1BoneWeightPair* out = MV1VertexFreeBones(v);
        for (int k = 0; k < list->BonesPerVertex; ++k) {
          out[k].Index = k < n ? bones[k] : -1;
          out[k].Weight = k < n ? weights[k] : 0.0f;
        }
        break;
      }
    }
  }
}

}  // namespace

int ModelBaseBuilder::Build() const {
  int handle = MV1AddModelBaseHandle();
  if (handle == -1) return -1;
  auto* base = static_cast<MV1ModelBase*>(MEM_CALLOC(sizeof(MV1ModelBase)));
  if (!base) {
    MV1DeleteModelBase(handle);
    return -1;
  }
  MV1ModelBaseTable.Slot[handle & MV1_HANDLE_INDEX_MASK] = base;
  base->Handle = handle;
  Allocator a{base, separateArrays};
  auto fail = [&]() {
    MV1DeleteModelBase(handle);
    return -1;
  };

  base->Name = a.Text("builder");
  base->FilePath = a.Text("builder.mv1");
  base->DirectoryPath = a.Text("/");

  // Meshes and skin bones grouped by frame, in frame order.
  std::vector<int> meshOrder(meshes.size()), boneOrder(skinBones.size());
  for (size_t i = 0; i < meshes.size(); ++i) meshOrder[i] = static_cast<int>(i);
  for (size_t i = 0; i < skinBones.size(); ++i) boneOrder[i] = static_cast<int>(i);
  std::stable_sort(meshOrder.begin(), meshOrder.end(),
                   [&](int x, int y) { return meshes[x].frame < meshes[y].frame; });
  std::stable_sort(boneOrder.begin(), boneOrder.end(),
                   [&](int x, int y) { return skinBones[x].frame < skinBones[y].frame; });
  std::vector<int> boneNewIndex(skinBones.size());
  for (size_t i = 0; i < boneOrder.size(); ++i) boneNewIndex[boneOrder[i]] = static_cast<int>(i);

  size_t listTotal = 0, boneListTotal = 0;
  for (const TestMesh& m : meshes) listTotal += m.lists.size();
  for (const TestFrame& f : frames) boneListTotal += f.boneList.size();

  MV1FrameBase* fr = a.Chunk<MV1FrameBase>(frames.size());
  MV1MaterialBase* mats = a.Chunk<MV1MaterialBase>(materials.size());
  int texturesAllocated = 0;
  MV1TextureBase* texs = a.Maybe<MV1TextureBase>(textures.size(), &texturesAllocated);
  base->Texture = texs;  // a separate texture array is freed by its flag even when no count is set
  base->TextureAllocated = texturesAllocated;
  MV1MeshBase* ms = a.Chunk<MV1MeshBase>(meshes.size());
  MV1TriangleList* lists = a.Chunk<MV1TriangleList>(listTotal);
  MV1SkinBoneBase* bones = a.Chunk<MV1SkinBoneBase>(skinBones.size());
  MV1SkinBoneBase** boneList = a.Chunk<MV1SkinBoneBase*>(boneListTotal);
  MV1ShapeBase* shapesOut = a.Chunk<MV1ShapeBase>(shapes.size());
  MV1ShapeMeshBase* shapeMeshes = a.Chunk<MV1ShapeMeshBase>(shapes.size());
  if (a.failed) return fail();
  // Counts only once their arrays exist, so that a failed build frees exactly what it took.
  base->TextureCount = static_cast<int>(textures.size());
  base->Frame = fr;
  base->FrameCount = static_cast<int>(frames.size());
  base->Material = mats;
  base->MaterialCount = static_cast<int>(materials.size());
  base->Mesh = ms;
  base->MeshCount = static_cast<int>(meshes.size());
  base->TriangleList = lists;
  base->TriangleListCount = static_cast<int>(listTotal);
  base->SkinBone = bones;
  base->SkinBoneCount = static_cast<int>(skinBones.size());
  base->FrameUseSkinBone = boneList;
  base->FrameUseSkinBoneCount = static_cast<int>(boneListTotal);
  base->Shape = shapesOut;
  base->ShapeCount = static_cast<int>(shapes.size());
  base->ShapeMesh = shapeMeshes;
  base->ShapeMeshCount = static_cast<int>(shapes.size());

  for (size_t i = 0; i < textures.size(); ++i) {
    MV1TextureBase* t = &texs[i];
    t->Name = a.Text(textures[i]);
    t->ColorFileName = t->Name;
    t->GraphHandle = -1;
    t->UserGraphHandle = -1;
    t->BumpScale = 1.0f;
    t->AddressModeU = t->AddressModeV = 1;
    t->FilterMode = 2;
  }
  for (size_t i = 0; i < materials.size(); ++i) {
    const TestMaterial& tm = materials[i];
    MV1MaterialBase* m = &mats[i];
    m->Name = a.Text(tm.name);
    m->Diffuse = tm.diffuse;
    m->Specular = COLOR_F{0.5f, 0.5f, 0.5f, 0};
    m->Power = 20;
    int tex = std::max(1, static_cast<int>(textures.size()));
    auto layers = [&](int n, int* count, MV1MaterialLayer* out, int first) {
      *count = n;
      for (int k = 0; k < n; ++k) out[k] = MV1MaterialLayer{{7, 7}, (first + k) % tex, k};
    };
    layers(tm.diffuseLayers, &m->DiffuseLayerCount, m->DiffuseLayer, 0);
    layers(tm.specularLayers, &m->SpecularLayerCount, m->SpecularLayer, 1);
    layers(tm.normalLayers, &m->NormalLayerCount, m->NormalLayer, 2);
    m->DiffuseGradTexture = m->SpecularGradTexture = -1;
    m->DiffuseGradBlend = 2;
    m->SpecularGradBlend = 1;
    m->OutlineColor = COLOR_F{0, 0, 0, 1};
    m->DrawBlendMode = 1;
    m->DrawBlendParam = 255;
  }
  for (size_t i = 0; i < skinBones.size(); ++i) {
    const TestSkinBone& sb = skinBones[boneOrder[i]];
    bones[i].ModelLocalMatrix = sb.offset;
    bones[i].TranslateOnly = sb.translateOnly ? 1 : 0;
    bones[i].Index = static_cast<int>(i);
  }

  // Frames: links in increasing index order, transforms, bone lists, skin bones.
  size_t boneListAt = 0, boneAt = 0;
  for (size_t i = 0; i < frames.size(); ++i) {
    const TestFrame& tf = frames[i];
    MV1FrameBase* f = &fr[i];
    f->Container = base;
    f->Name = a.Text(tf.name);
    f->Index = static_cast<int>(i);
    f->Translate = tf.translate;
    f->Scale = tf.scale;
    f->Rotate = tf.rotate;
    f->RotateOrder = tf.rotateOrder;
    f->Quaternion = MV1Float4{0, 0, 0, 1};
    f->Flag = tf.visible ? 1u : 0u;
    f->BonesPerVertex = tf.bonesPerVertex;
    f->SmoothingAngle = 1.5620697f;
    if (tf.parent >= 0) {
      MV1FrameBase* p = &fr[tf.parent];
      f->Parent = p;
      if (p->LastChild) {
        p->LastChild->Next = f;
        f->Prev = p->LastChild;
      } else {
        p->FirstChild = f;
      }
      p->LastChild = f;
      ++p->ChildCount;
    } else {
      if (base->LastTopFrame) {
        base->LastTopFrame->Next = f;
        f->Prev = base->LastTopFrame;
      } else {
        base->FirstTopFrame = f;
      }
      base->LastTopFrame = f;
      ++base->TopFrameCount;
    }
    f->UseSkinBoneCount = static_cast<int>(tf.boneList.size());
    f->UseSkinBone = tf.boneList.empty() ? nullptr : boneList + boneListAt;
    for (int b : tf.boneList) boneList[boneListAt++] = &bones[boneNewIndex[b]];
    f->SkinBone = nullptr;
    for (size_t k = boneAt; k < skinBones.size() && skinBones[boneOrder[k]].frame == static_cast<int>(i); ++k) {
      if (!f->SkinBone) f->SkinBone = &bones[k];
      ++f->SkinBoneCount;
      ++boneAt;
    }
  }

  // Positions and normals: one per mesh vertex, in the frame's mesh order.
  for (size_t i = 0; i < frames.size(); ++i) {
    MV1FrameBase* f = &fr[i];
    int count = 0;
    for (const TestMesh& m : meshes)
      if (m.frame == static_cast<int>(i)) count += static_cast<int>(m.vertices.size());
    f->PositionStride = f->BonesPerVertex * 8 + 12;
    f->Position = reinterpret_cast<MV1MeshPosition*>(a.Chunk<uint8_t>(static_cast<size_t>(count) * f->PositionStride));
    f->Normal = a.Maybe<MV1MeshNormal>(count, &f->NormalAllocated);
    if (a.failed) return fail();
    f->PositionCount = count;
    f->NormalCount = count;
  }

  std::vector<int> frameFill(frames.size(), 0);
  size_t listAt = 0;
  for (size_t mi = 0; mi < meshOrder.size(); ++mi) {
    const TestMesh& tm = meshes[meshOrder[mi]];
    MV1MeshBase* m = &ms[mi];
    MV1FrameBase* f = &fr[tm.frame];
    if (!f->Mesh) f->Mesh = m;
    ++f->MeshCount;
    m->Container = f;
    m->Material = materials.empty() ? nullptr : &mats[tm.material];
    m->Visible = tm.visible ? 1 : 0;
    m->HasShape = tm.hasShape ? 1 : 0;
    m->BackCulling = 1;
    m->UVSetCount = tm.uvSets;
    m->FloatsPerUV = 2;
    m->VertexStride = tm.uvSets * 2 * 4 + 16;
    m->Vertex = reinterpret_cast<MV1MeshVertex*>(
        a.Maybe<uint8_t>(tm.vertices.size() * m->VertexStride, &m->VertexAllocated));
    size_t faceCount = 0;
    for (const TestTriangleList& tl : tm.lists) faceCount += tl.indices.size() / 3;
    m->Face = a.Chunk<MV1MeshFace>(faceCount);
    if (a.failed) return fail();
    m->VertexCount = static_cast<int>(tm.vertices.size());
    m->FaceCount = static_cast<int>(faceCount);
    for (size_t v = 0; v < tm.vertices.size(); ++v) {
      const TestVertex& tv = tm.vertices[v];
      int p = frameFill[tm.frame]++;
      MV1MeshPosition* pos = MV1FramePositionAt(f, p);
      pos->Position = tv.position;
      MV1PositionBoneWeight* pairs = MV1PositionBones(pos);
      for (int k = 0; k < f->BonesPerVertex; ++k) {
        bool has = k < static_cast<int>(tv.bones.size());
        pairs[k].Index = has ? static_cast<uint32_t>(tv.bones[k].bone) : 0xFFFFFFFFu;
        pairs[k].Weight = has ? tv.bones[k].weight : 0.0f;
      }
      f->Normal[p].Normal = tv.normal;
      MV1MeshVertex* mv = MV1MeshVertexAt(m, static_cast<int>(v));
      mv->PositionIndex = static_cast<uint32_t>(p);
      mv->NormalIndex = static_cast<uint32_t>(p);
      mv->Diffuse = tv.diffuse;
      mv->Specular = tv.specular;
      for (int uv = 0; uv < tm.uvSets; ++uv) {
        MV1MeshVertexUV(mv)[uv * 2] = tv.position.x * 0.125f;
        MV1MeshVertexUV(mv)[uv * 2 + 1] = tv.position.y * 0.125f;
      }
      if (tv.diffuse.a < 255) m->HasVertexAlpha = 1;
    }
    m->TriangleList = tm.lists.empty() ? nullptr : &lists[listAt];
    size_t face = 0;
    for (size_t li = 0; li < tm.lists.size(); ++li, ++listAt) {
      const TestTriangleList& tl = tm.lists[li];
      MV1TriangleList* l = &lists[listAt];
      l->Container = m;
      l->VertexType = static_cast<uint16_t>(tl.type);
      l->BonesPerVertex = tl.type == MV1_VERTEX_TYPE_SKIN_FREEBONE ? f->BonesPerVertex : 0;
      l->VertexStride = static_cast<uint16_t>(RecordSize(tl.type, f->BonesPerVertex));
      if (tl.type != MV1_VERTEX_TYPE_RIGID) f->HasSkinnedMesh = 1;
      l->UseBoneCount = static_cast<int>(tl.useBones.size());
      for (size_t b = 0; b < tl.useBones.size(); ++b) l->UseBone[b] = tl.useBones[b];
      l->MeshVertexIndex = a.Maybe<uint32_t>(tl.meshVertices.size(), &l->MeshVertexIndexAllocated);
      l->Vertices = a.Maybe<uint8_t>(tl.meshVertices.size() * l->VertexStride, &l->VerticesAllocated);
      l->Index = a.Chunk<uint16_t>(tl.indices.size());
      if (a.failed) return fail();
      l->VertexCount = static_cast<int>(tl.meshVertices.size());
      l->IndexCount = static_cast<uint16_t>(tl.indices.size());
      for (size_t v = 0; v < tl.meshVertices.size(); ++v)
        l->MeshVertexIndex[v] = static_cast<uint32_t>(tl.meshVertices[v]);
      for (size_t k = 0; k < tl.indices.size(); ++k) l->Index[k] = tl.indices[k];
      for (size_t k = 0; k + 2 < tl.indices.size(); k += 3, ++face) {
        MV1MeshFace* fc = &m->Face[face];
        fc->TriangleListType = l->VertexType;
        fc->TriangleListIndex = static_cast<uint16_t>(li);
        for (int c = 0; c < 3; ++c) fc->VertexIndex[c] = l->MeshVertexIndex[tl.indices[k + c]];
      }
      ++m->TriangleListCount;
      FillRecords(l);
    }
  }

  // Shapes, grouped by frame in the order given.
  for (size_t i = 0; i < shapes.size(); ++i) {
    const TestShape& ts = shapes[i];
    MV1ShapeBase* s = &shapesOut[i];
    MV1FrameBase* f = &fr[ts.frame];
    if (!f->Shape) f->Shape = s;
    ++f->ShapeCount;
    s->Container = f;
    s->Name = a.Text(ts.name.empty() ? "shape" + std::to_string(i) : ts.name);
    s->MeshCount = 1;
    s->Mesh = &shapeMeshes[i];
    MV1ShapeMeshBase* sm = &shapeMeshes[i];
    int mesh = static_cast<int>(std::find(meshOrder.begin(), meshOrder.end(), ts.mesh) - meshOrder.begin());
    sm->TargetMesh = &ms[mesh];
    sm->Vertex = a.Maybe<MV1ShapeVertexBase>(ts.vertexCount, &sm->VertexAllocated);
    if (a.failed) return fail();
    sm->VertexCount = ts.vertexCount;
    for (int v = 0; v < ts.vertexCount; ++v)
      sm->Vertex[v] = MV1ShapeVertexBase{static_cast<uint32_t>(v), VECTOR{0, 0.5f, 0}, VECTOR{0, 0, 0}};
  }

  // Anims: key data, key sets, anim frames, anims and the anim-frame table.
  size_t keySetTotal = 0, animFrameTotal = 0, keyFloatTotal = 0;
  for (const TestAnim& an : anims)
    for (const TestAnimFrame& af : an.frames) {
      ++animFrameTotal;
      for (const TestKeySet& ks : af.keySets) {
        ++keySetTotal;
        keyFloatTotal += ks.values.size() + (ks.timeType == 1 ? ks.values.size() + ks.times.size() : 0);
      }
    }
  MV1AnimBase* animsOut = a.Chunk<MV1AnimBase>(anims.size());
  MV1AnimFrameBase* animFrames = a.Chunk<MV1AnimFrameBase>(animFrameTotal);
  MV1AnimKeySet* keySets = a.Chunk<MV1AnimKeySet>(keySetTotal);
  float* keyFloats = a.Chunk<float>(keyFloatTotal);
  MV1AnimFrameBase** animTable = a.Chunk<MV1AnimFrameBase*>(anims.size() * frames.size());
  if (a.failed) return fail();
  base->Anim = animsOut;
  base->AnimCount = static_cast<int>(anims.size());
  base->AnimFrame = animFrames;
  base->AnimFrameCount = static_cast<int>(animFrameTotal);
  base->AnimKeySet = keySets;
  base->AnimKeySetCount = static_cast<int>(keySetTotal);
  base->KeyData = keyFloats;
  base->KeyDataFillSize = static_cast<int>(keyFloatTotal * sizeof(float));
  base->AnimFrameTable = animTable;
  size_t animFrameAt = 0, keySetAt = 0, keyFloatAt = 0;
  for (size_t i = 0; i < anims.size(); ++i) {
    const TestAnim& ta = anims[i];
    MV1AnimBase* an = &animsOut[i];
    an->Name = a.Text(ta.name);
    if (a.failed) return fail();
    an->Index = static_cast<int>(i);
    an->MaxTime = ta.totalTime;
    an->IsAdditive = ta.additive ? 1 : 0;
    an->IsMatrixMode = ta.matrixMode ? 1 : 0;
    an->AnimFrameCount = static_cast<int>(ta.frames.size());
    an->AnimFrame = ta.frames.empty() ? nullptr : &animFrames[animFrameAt];
    for (const TestAnimFrame& taf : ta.frames) {
      MV1AnimFrameBase* af = &animFrames[animFrameAt++];
      af->Anim = an;
      af->TargetFrameIndex = taf.frame;
      af->TargetFrame = taf.frame >= 0 ? &fr[taf.frame] : nullptr;
      if (taf.frame >= 0) animTable[i * frames.size() + taf.frame] = af;
      af->KeySetCount = static_cast<int>(taf.keySets.size());
      af->KeySet = taf.keySets.empty() ? nullptr : &keySets[keySetAt];
      for (const TestKeySet& tks : taf.keySets) {
        MV1AnimKeySet* ks = &keySets[keySetAt++];
        int width = TestKeyWidth(tks.type);
        int count = tks.keyCount >= 0 ? tks.keyCount : static_cast<int>(tks.values.size()) / width;
        ks->Type = static_cast<uint8_t>(tks.type);
        ks->DataType = static_cast<uint8_t>(tks.component);
        ks->TimeType = static_cast<uint8_t>(tks.timeType);
        ks->TargetShapeIndex = tks.shape;
        ks->KeyCount = count;
        ks->UnitTime = tks.step;
        ks->KeyData = keyFloats + keyFloatAt;
        std::copy(tks.values.begin(), tks.values.end(), keyFloats + keyFloatAt);
        keyFloatAt += tks.values.size();
        if (tks.timeType == 1) {
          ks->KeyTime = keyFloats + keyFloatAt;
          for (size_t k = 0; k < tks.times.size(); ++k) ks->KeyTime[k] = tks.times[k];
          keyFloatAt += tks.values.size() + tks.times.size();
        } else {
          ks->StartTime = tks.start;
        }
      }
    }
  }

  // without the cap of loaded bases: the runtime's tests build chains far deeper than it admits
  if (MV1SetupChangeBits(base, &base->ChunkListHead, nullptr, UINT64_MAX) != 0) return fail();
  MV1SetupFrameCounts(base);
  MV1SetupFrameBaseMatrices(base);
  return handle;
}

int TestKeyWidth(int type) {
  return type == 0 || type == 7 ? 4 : type == 1 ? 3 : 1;
}

ModelBaseBuilder ReferenceBaseBuilder() {
  ModelBaseBuilder b;
  b.textures = {"tex0.png", "tex1.png", "tex2.png"};
  b.materials.push_back({"mat0", COLOR_F{0.8f, 0.8f, 0.8f, 1}, 2, 1, 1});
  b.materials.push_back({"mat1", COLOR_F{1, 0.5f, 0.25f, 1}, 1, 0, 0});
  b.AddFrame(-1, {10, 0, 0});                              // 0: translation only
  b.AddFrame(0, {0, 5, 0}, {0.5f, 0.25f, 0});              // 1: full
  b.AddFrame(1);                                           // 2: identity
  b.AddFrame(0, {1, 2, 3}, {0, 0, 0}, {2, 1, 0.5f});       // 3: scaled
  b.AddFrame(3, {0, 0, 4}, {0, 1.0f, 0});                  // 4
  b.AddFrame(0, {-3, 0, 0});                               // 5
  b.AddFrame(1, {0, -2, 0}, {0, 0, 0.75f});                // 6: not next to its sibling 2
  b.AddFrame(-1, {0, 0, -6});                              // 7: second top-level frame
  b.frames[1].rotateOrder = 3;
  b.frames[3].bonesPerVertex = 4;
  b.frames[3].boneList = {0, 1};
  b.frames[4].bonesPerVertex = 8;
  b.frames[4].boneList = {1, 2, 0};
  b.frames[5].bonesPerVertex = 3;
  b.frames[5].boneList = {2, 0, 1};
  b.frames[6].visible = false;
  b.skinBones.push_back({1, {{{1, 0, 0, 0.5f}, {0, 1, 0, 0}, {0, 0, 1, 0}}}, false});
  b.skinBones.push_back({2, {{{0, -1, 0, 0}, {1, 0, 0, 1}, {0, 0, 1, 0}}}, true});
  b.skinBones.push_back({6, {{{1, 0, 0, 0}, {0, 0, -1, 0}, {0, 1, 0, 2}}}, false});
  b.AddMesh(0, MV1_VERTEX_TYPE_RIGID, 2, {0, 0, 0}, 0);
  int shaped = b.AddMesh(2, MV1_VERTEX_TYPE_RIGID, 1, {1, 1, 1}, 1);
  b.meshes[shaped].hasShape = true;
  b.AddMesh(3, MV1_VERTEX_TYPE_SKIN_4BONE, 2, {0, 2, 0}, 0);
  b.AddMesh(4, MV1_VERTEX_TYPE_SKIN_8BONE, 1, {2, 0, 0}, 1);
  int free = b.AddMesh(5, MV1_VERTEX_TYPE_SKIN_FREEBONE, 2, {-1, -1, 0}, 0);
  b.meshes[free].hasShape = true;
  b.AddMesh(6, MV1_VERTEX_TYPE_RIGID, 1, {0, 3, 0}, 1);
  b.AddMesh(6, MV1_VERTEX_TYPE_RIGID, 1, {0, -3, 0}, 0);
  b.AddMesh(7, MV1_VERTEX_TYPE_RIGID, 1, {5, 5, 5}, 0);
  b.shapes.push_back({2, shaped, 2, ""});
  b.shapes.push_back({5, free, 3, ""});
  b.shapes.push_back({5, free, 1, ""});
  return b;
}

ModelBaseBuilder RandomTreeBuilder(uint32_t seed, int frameCount, int meshCount,
                                   int trianglesPerMesh) {
  std::mt19937 rng(seed);
  ModelBaseBuilder b;
  b.materials.push_back({"mat", COLOR_F{1, 1, 1, 1}, 0, 0, 0});
  auto coord = [&]() { return static_cast<float>(static_cast<int>(rng() % 200) - 100) * 0.125f; };
  for (int i = 0; i < frameCount; ++i) {
    int parent = i == 0 ? -1 : (rng() % 8 == 0 ? -1 : static_cast<int>(rng() % i));
    VECTOR rotate{0, 0, 0};
    VECTOR scale{1, 1, 1};
    if (rng() % 2) rotate = VECTOR{coord() * 0.1f, coord() * 0.1f, coord() * 0.1f};
    if (rng() % 4 == 0) scale = VECTOR{1.5f, 0.5f, 2.0f};
    b.AddFrame(parent, VECTOR{coord(), coord(), coord()}, rotate, scale);
    b.frames.back().rotateOrder = static_cast<int>(rng() % 6);
  }
  for (int i = 0; i < meshCount; ++i)
    b.AddMesh(static_cast<int>(rng() % frameCount), MV1_VERTEX_TYPE_RIGID, trianglesPerMesh,
              VECTOR{coord(), coord(), coord()});
  return b;
}

int CreateTestModel(int baseHandle) {
  int h = MV1AddModelHandle();
  if (h == -1) return -1;
  if (MV1CreateModelFromBase(h, baseHandle) == 0) return h;
  MV1DeleteModel(h);
  return -1;
}

TestKeySet ExplicitKeys(int type, int component, std::vector<float> times,
                        std::vector<float> values) {
  TestKeySet ks;
  ks.type = type;
  ks.component = component;
  ks.timeType = 1;
  ks.times = std::move(times);
  ks.values = std::move(values);
  return ks;
}

ModelBaseBuilder AnimatedChainBuilder(int frameCount, int animCount, int keyCount) {
  ModelBaseBuilder b;
  for (int i = 0; i < frameCount; ++i) b.AddFrame(i - 1, VECTOR{0, i == 0 ? 0.0f : 1.0f, 0});
  for (int a = 0; a < animCount; ++a) {
    TestAnim anim;
    anim.name = "anim" + std::to_string(a);
    anim.totalTime = static_cast<float>(keyCount - 1);
    std::mt19937 rng(static_cast<uint32_t>(a) * 7919u + 1u);
    auto unit = [&]() { return static_cast<float>(static_cast<int>(rng() % 2001) - 1000) / 1000.0f; };
    for (int f = 0; f < frameCount; ++f) {
      std::vector<float> times, quats, moves;
      VECTOR axis = VNorm(VECTOR{unit(), unit(), unit() + 2.5f});
      for (int k = 0; k < keyCount; ++k) {
        times.push_back(static_cast<float>(k));
        float half = 0.35f * std::sin(0.21f * static_cast<float>(k) + static_cast<float>(f + a));
        quats.insert(quats.end(), {axis.x * std::sin(half), axis.y * std::sin(half),
                                   axis.z * std::sin(half), std::cos(half)});
        moves.insert(moves.end(), {0.1f * unit(), 1.0f + 0.1f * unit(), 0.1f * unit()});
      }
      TestAnimFrame af;
      af.frame = f;
      af.keySets.push_back(ExplicitKeys(0, 0, times, quats));
      af.keySets.push_back(ExplicitKeys(1, 10, times, moves));
      anim.frames.push_back(af);
    }
    b.anims.push_back(anim);
  }
  return b;
}

void AddTriangleMeshes(ModelBaseBuilder* b, int frame, const std::vector<VECTOR>& corners,
                       int material) {
  constexpr size_t kPerMesh = 20000 * 3;
  for (size_t start = 0; start < corners.size(); start += kPerMesh) {
    size_t end = std::min(corners.size(), start + kPerMesh);
    TestMesh mesh;
    mesh.frame = frame;
    mesh.material = material;
    TestTriangleList list;
    for (size_t i = start; i < end; ++i) {
      TestVertex v;
      v.position = corners[i];
      mesh.vertices.push_back(v);
      list.meshVertices.push_back(static_cast<int>(i - start));
      list.indices.push_back(static_cast<uint16_t>(i - start));
    }
    mesh.lists.push_back(list);
    b->meshes.push_back(mesh);
  }
}

std::vector<VECTOR> HeightFieldCorners(uint32_t seed, int cellsX, int cellsZ, float width,
                                       float height) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> phase(0.0f, 6.2831853f);
  const float p1 = phase(rng), p2 = phase(rng), p3 = phase(rng);
  auto at = [&](int ix, int iz) {
    float x = width * static_cast<float>(ix) / static_cast<float>(cellsX);
    float z = width * static_cast<float>(iz) / static_cast<float>(cellsZ);
    float u = x / width * 6.2831853f, w = z / width * 6.2831853f;
    float h = 0.5f + 0.25f * std::sin(2 * u + p1) * std::cos(3 * w + p2) +
              0.2f * std::sin(5 * u + 4 * w + p3);
    return VECTOR{x, height * std::min(1.0f, std::max(0.0f, h)), z};
  };
  std::vector<VECTOR> corners;
  corners.reserve(static_cast<size_t>(cellsX) * cellsZ * 6);
  for (int iz = 0; iz < cellsZ; ++iz)
    for (int ix = 0; ix < cellsX; ++ix) {
      VECTOR a = at(ix, iz), bq = at(ix + 1, iz), c = at(ix, iz + 1), d = at(ix + 1, iz + 1);
      corners.insert(corners.end(), {a, c, bq, bq, c, d});
    }
  return corners;
}
