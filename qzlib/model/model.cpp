// Models: creation from a base in one block, duplication, deletion, and dropping base references.
#include <qzlib/model/model.h>

#include <cstring>

#include <qzlib/base/memory.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/model/model_anim.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_bounds.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_collision.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_mesh_process.h>
#include <qzlib/model/model_refmesh.h>

namespace {

size_t Align16(size_t n) { return (n + 15) & ~static_cast<size_t>(15); }

// Levels of the frame tree (a top-level frame is level 1), through the links, without recursion.
int FrameTreeDepth(const MV1ModelBase* base) {
  int depth = 0, level = 0;
  const MV1FrameBase* f = base->FrameCount > 0 ? base->FirstTopFrame : nullptr;
  if (f) level = 1;
  int steps = 0;
  while (f && steps++ <= base->FrameCount) {
    if (level > depth) depth = level;
    if (f->FirstChild) {
      f = f->FirstChild;
      ++level;
      continue;
    }
    while (f && !f->Next) {
      f = f->Parent;
      --level;
    }
    if (f) f = f->Next;
  }
  return depth;
}

// Byte offsets of the areas of a model block.
struct ModelLayout {
  size_t frames, tables, meshes, lists, materials, textures, setA, setB;
  size_t skinMatrices, bonePointers, shapes, shapeVertices, vertexAreas[MV1_VERTEX_TYPE_NUM];
  size_t stack, total;
  int wordsA, wordsB, stackEntries;
};

ModelLayout LayoutModel(const MV1ModelBase* base) {
  ModelLayout l{};
  size_t at = sizeof(MV1Model);
  l.frames = at;
  at += sizeof(MV1Frame) * base->FrameCount;
  l.tables = at;
  at += sizeof(MV1Frame*) * base->FrameCount;  // every frame stands in exactly one table
  l.meshes = at;
  at += sizeof(MV1Mesh) * base->MeshCount;
  l.lists = at;
  at += sizeof(MV1ModelTriangleList) * base->TriangleListCount;
  l.materials = at;
  at += sizeof(MV1Material) * base->MaterialCount;
  l.textures = at;
  at += sizeof(MV1Texture) * base->TextureCount;
  l.wordsA = MV1ChangeSetWordsA(base->FrameCount, base->MeshCount);
  l.wordsB = MV1ChangeSetWordsB(base->FrameCount);
  l.setA = at;
  at += 4 * static_cast<size_t>(l.wordsA);
  l.setB = at;
  at += 4 * static_cast<size_t>(l.wordsB);
  at = Align16(at);
  l.skinMatrices = at;
  at += sizeof(Matrix3x4) * base->SkinBoneCount;
  l.bonePointers = at;
  at += sizeof(Matrix3x4*) * base->FrameUseSkinBoneCount;
  l.shapes = at;
  at += sizeof(MV1ShapeEntry) * base->ShapeCount;
  l.shapeVertices = at;
  // The shape areas are sized from the meshes' own lists, never from the stored sizes.
  size_t typeBytes[MV1_VERTEX_TYPE_NUM] = {0, 0, 0, 0};
  for (int m = 0; m < base->MeshCount; ++m) {
    const MV1MeshBase* mesh = &base->Mesh[m];
    if (!mesh->HasShape) continue;
    at += sizeof(MV1ShapeVertex) * mesh->VertexCount;
    for (int t = 0; t < mesh->TriangleListCount; ++t) {
      const MV1TriangleList* list = &mesh->TriangleList[t];
      int type = list->VertexType < MV1_VERTEX_TYPE_NUM ? list->VertexType : 3;
      typeBytes[type] += static_cast<size_t>(MV1TriangleListRecordSize(list)) * list->VertexCount;
    }
  }
  for (int type = 0; type < MV1_VERTEX_TYPE_NUM; ++type) {
    at = Align16(at);
    l.vertexAreas[type] = at;
    at += typeBytes[type];
  }
  at = Align16(at);
  l.stack = at;
  l.stackEntries = FrameTreeDepth(base) + 2;
  at += sizeof(MV1DrawStateWalkEntry) * l.stackEntries;
  l.total = at;
  return l;
}

void SetDefaultDrawState(MV1DrawState* s, uint8_t visible) {
  s->Visible = visible;
  s->UseColorScale = 0;
  s->DiffuseScale = s->AmbientScale = s->SpecularScale = s->EmissiveScale = COLOR_F{1, 1, 1, 1};
  s->OpacityRate = 1.0f;
}

void CopyMaterial(MV1Material* m, MV1MaterialBase* b) {
  m->Base = b;
  m->Diffuse = b->Diffuse;
  m->Ambient = b->Ambient;
  m->Specular = b->Specular;
  m->Emissive = b->Emissive;
  m->Power = b->Power;
  // Only the used layers are copied; normal-map layers stay in the base.
  auto copyLayers = [](int count, const MV1MaterialLayer* from, int* outCount,
                       MV1MaterialLayer* to) {
    if (count < 0) count = 0;
    if (count > MV1_MATERIAL_LAYER_MAX) count = MV1_MATERIAL_LAYER_MAX;
    *outCount = count;
    for (int i = 0; i < count; ++i) to[i] = from[i];
  };
  copyLayers(b->DiffuseLayerCount, b->DiffuseLayer, &m->DiffuseLayerCount, m->DiffuseLayer);
  copyLayers(b->SpecularLayerCount, b->SpecularLayer, &m->SpecularLayerCount, m->SpecularLayer);
  m->DiffuseGradTexture = b->DiffuseGradTexture;
  m->SpecularGradTexture = b->SpecularGradTexture;
  m->DiffuseGradBlend = b->DiffuseGradBlend;
  m->SpecularGradBlend = b->SpecularGradBlend;
  m->OutlineWidth = b->OutlineWidth;
  m->OutlineColor = b->OutlineColor;
  m->DrawBlendMode = b->DrawBlendMode;
  m->DrawBlendParam = b->DrawBlendParam;
  for (int i = 0; i < 3; ++i) m->FileWords[i] = b->FileWords[i];
}

void CopyTexture(MV1Texture* t, MV1TextureBase* b) {
  t->Base = b;
  t->AlphaFileName = b->AlphaFileName;
  t->ColorFileName = b->ColorFileName;
  t->BumpMap = b->BumpMap;
  t->BumpScale = b->BumpScale;
  t->OwnGraph = 0;
  t->OwnGraphHandle = -1;
  t->UseUserGraph = b->UseUserGraph;
  t->UserGraphHandle = b->UserGraphHandle;
  t->AddressModeU = b->AddressModeU;
  t->AddressModeV = b->AddressModeV;
  t->FilterMode = b->FilterMode;
}

}  // namespace

int MV1CreateModelFromBase(int modelHandle, int baseHandle) {
  if (!MV1SystemInitFlag) return -1;
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  if (!base) return -1;
  void** modelSlot =
      MV1HandleSlot(&MV1ModelTable, modelHandle, MV1_MODEL_HANDLE_TAG, MV1_MODEL_INDEX_LIMIT);
  if (!modelSlot || *modelSlot != MV1_RESERVED_SLOT) return -1;

  ModelLayout l = LayoutModel(base);
  auto* block = static_cast<uint8_t*>(MemAllocTracked(l.total, nullptr, 0));
  if (!block) return -1;
  std::memset(block, 0, l.total);
  auto* model = reinterpret_cast<MV1Model*>(block);

  model->Next = base->FirstModel;
  model->Prev = nullptr;
  if (base->FirstModel) base->FirstModel->Prev = model;
  else base->LastModel = model;
  base->FirstModel = model;
  ++base->ModelCount;
  *modelSlot = model;

  // Head defaults.
  model->BaseHandle = baseHandle;
  model->BaseData = base;
  model->Handle = modelHandle;
  model->ChangeDrawMaterialFlag = reinterpret_cast<uint32_t*>(block + l.setA);
  model->ChangeMatrixFlag = reinterpret_cast<uint32_t*>(block + l.setB);
  model->ChangeDrawMaterialFlagSize = 4 * l.wordsA;
  model->ChangeMatrixFlagSize = 4 * l.wordsB;
  std::memset(model->ChangeDrawMaterialFlag, 0xFF, model->ChangeDrawMaterialFlagSize);
  std::memset(model->ChangeMatrixFlag, 0xFF, model->ChangeMatrixFlagSize);
  model->Scale = VECTOR{1, 1, 1};
  model->AnimSetupFlag = 1;
  SetDefaultDrawState(&model->DrawMaterial, 1);
  model->EnableZBuffer = 1;
  model->WriteZBuffer = 1;
  model->ZBufferCmpType = 4;
  model->ZBias = 0;
  model->MaxAnisotropy = 2;
  model->Frame = reinterpret_cast<MV1Frame*>(block + l.frames);
  model->TopFrameList = reinterpret_cast<MV1Frame**>(block + l.tables);
  model->Mesh = reinterpret_cast<MV1Mesh*>(block + l.meshes);
  model->TriangleList = reinterpret_cast<MV1ModelTriangleList*>(block + l.lists);
  model->Material = reinterpret_cast<MV1Material*>(block + l.materials);
  model->Texture = reinterpret_cast<MV1Texture*>(block + l.textures);
  model->SkinBoneMatrix = reinterpret_cast<Matrix3x4*>(block + l.skinMatrices);
  model->UseSkinBoneMatrix = reinterpret_cast<Matrix3x4**>(block + l.bonePointers);
  model->Shape = reinterpret_cast<MV1ShapeEntry*>(block + l.shapes);
  model->ShapeVertex = reinterpret_cast<MV1ShapeVertex*>(block + l.shapeVertices);
  for (int type = 0; type < MV1_VERTEX_TYPE_NUM; ++type)
    model->TypeVertices[type] = block + l.vertexAreas[type];
  model->DrawStateStack = reinterpret_cast<MV1DrawStateWalkEntry*>(block + l.stack);
  model->DrawStateStackCapacity = l.stackEntries;

  for (int i = 0; i < base->FrameUseSkinBoneCount; ++i) {
    MV1SkinBoneBase* bone = base->FrameUseSkinBone[i];
    model->UseSkinBoneMatrix[i] = bone ? &model->SkinBoneMatrix[bone - base->SkinBone] : nullptr;
  }
  for (int i = 0; i < base->ShapeCount; ++i) model->Shape[i].Base = &base->Shape[i];

  // Textures, materials, triangle lists, meshes, frames.
  for (int i = 0; i < base->TextureCount; ++i) CopyTexture(&model->Texture[i], &base->Texture[i]);
  for (int i = 0; i < base->MaterialCount; ++i)
    CopyMaterial(&model->Material[i], &base->Material[i]);
  for (int i = 0; i < base->TriangleListCount; ++i) {
    MV1ModelTriangleList* list = &model->TriangleList[i];
    list->Base = &base->TriangleList[i];
    list->Container = &model->Mesh[list->Base->Container - base->Mesh];
  }
  MV1ShapeVertex* shapeVertex = model->ShapeVertex;
  uint8_t* typeArea[MV1_VERTEX_TYPE_NUM];
  for (int type = 0; type < MV1_VERTEX_TYPE_NUM; ++type)
    typeArea[type] = static_cast<uint8_t*>(model->TypeVertices[type]);
  for (int i = 0; i < base->MeshCount; ++i) {
    MV1Mesh* mesh = &model->Mesh[i];
    MV1MeshBase* b = &base->Mesh[i];
    mesh->Container = &model->Frame[b->Container - base->Frame];
    mesh->Base = b;
    mesh->Material = b->Material ? &model->Material[b->Material - base->Material] : nullptr;
    mesh->ChangeDrawMaterialFlag.Info = &b->ChangeInfo;
    mesh->ChangeDrawMaterialFlag.Word = &model->ChangeDrawMaterialFlag[b->ChangeInfo.WordIndex];
    SetDefaultDrawState(&mesh->DrawMaterial, b->Visible);
    mesh->TriangleList =
        b->TriangleListCount > 0 ? &model->TriangleList[b->TriangleList - base->TriangleList]
                                 : nullptr;
    mesh->DrawBlendMode = -1;
    mesh->DrawBlendParam = -1;
    if (b->HasShape) {
      mesh->ShapeVertex = shapeVertex;
      shapeVertex += b->VertexCount;
      for (int t = 0; t < b->TriangleListCount; ++t) {
        MV1ModelTriangleList* list = &mesh->TriangleList[t];
        int type = list->Base->VertexType < MV1_VERTEX_TYPE_NUM ? list->Base->VertexType : 3;
        list->Vertices = typeArea[type];
        typeArea[type] += static_cast<size_t>(MV1TriangleListRecordSize(list->Base)) * list->Base->VertexCount;
        MV1SetupModelTriangleListPositions(list);
      }
    }
  }
  int topCount = 0;
  for (int i = 0; i < base->FrameCount; ++i) {
    MV1Frame* f = &model->Frame[i];
    MV1FrameBase* b = &base->Frame[i];
    std::memcpy(f->Tag, "FRM_", 4);
    f->ModelHandle = modelHandle;
    f->Container = model;
    f->Base = b;
    f->Parent = b->Parent ? &model->Frame[b->Parent - base->Frame] : nullptr;
    f->FirstChild = b->FirstChild ? &model->Frame[b->FirstChild - base->Frame] : nullptr;
    f->Prev = b->Prev ? &model->Frame[b->Prev - base->Frame] : nullptr;
    f->Next = b->Next ? &model->Frame[b->Next - base->Frame] : nullptr;
    f->ChangeMatrixFlag.Info = &b->ChangeMatrixInfo;
    f->ChangeMatrixFlag.Word = &model->ChangeMatrixFlag[b->ChangeMatrixInfo.WordIndex];
    f->LocalWorldMatrix = MATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    if (b->UseSkinBoneCount > 0)
      f->UseSkinBoneMatrix = model->UseSkinBoneMatrix + (b->UseSkinBone - base->FrameUseSkinBone);
    f->Mesh = b->MeshCount > 0 ? &model->Mesh[b->Mesh - base->Mesh] : nullptr;
    if (b->ShapeCount > 0) f->Shape = model->Shape + (b->Shape - base->Shape);
    f->ChangeDrawMaterialFlag.Info = &b->ChangeDrawMaterialInfo;
    f->ChangeDrawMaterialFlag.Word =
        &model->ChangeDrawMaterialFlag[b->ChangeDrawMaterialInfo.WordIndex];
    SetDefaultDrawState(&f->DrawMaterial, b->Flag & 1);
    // Index among the parent's children (or the top-level frames), counted there.
    f->Index = f->Parent ? f->Parent->ChildCount++ : topCount++;
  }
  // Tables: the top-level table first, then each frame with children takes the next stretch.
  model->TopFrameCount = topCount;
  MV1Frame** table = model->TopFrameList + topCount;
  for (int i = 0; i < base->FrameCount; ++i) {
    MV1Frame* f = &model->Frame[i];
    if (f->ChildCount > 0) {
      f->Child = table;
      table += f->ChildCount;
    }
    if (f->Parent) f->Parent->Child[f->Index] = f;
    else model->TopFrameList[f->Index] = f;
  }
  if (base->FrameCount == 0) model->TopFrameList = nullptr;

  ++base->RefCount;
  MV1CalcBoundingBoxes(modelHandle, nullptr, nullptr);
  return 0;
}

int MV1DuplicateModel(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  int newHandle = MV1AddModelHandle();
  if (newHandle == -1) return -1;
  if (MV1CreateModelFromBase(newHandle, model->BaseHandle) != 0) {
    MV1DeleteModel(newHandle);
    return -1;
  }
  return newHandle;
}

int MV1DeleteModel(int modelHandle) {
  void** slot =
      MV1HandleSlot(&MV1ModelTable, modelHandle, MV1_MODEL_HANDLE_TAG, MV1_MODEL_INDEX_LIMIT);
  if (!slot) return -1;
  if (*slot == MV1_RESERVED_SLOT) {
    MV1ReleaseHandleSlot(&MV1ModelTable, slot);
    return 0;
  }
  auto* model = static_cast<MV1Model*>(*slot);
  MV1ModelBase* base = model->BaseData;

  for (int i = 0; i < model->AttachSlotCapacity; ++i) MV1DetachAnim(modelHandle, i);
  MV1ReleaseModelDeviceObjects(modelHandle);
  MEM_FREE(model->AttachSlot);
  model->AttachSlot = nullptr;
  model->BlendRows = nullptr;
  MV1TerminateReferenceMesh(modelHandle, -1, 0);
  MV1TerminateReferenceMesh(modelHandle, -1, 1);
  for (int i = 0; i < base->FrameCount; ++i) {
    MV1TerminateReferenceMesh(modelHandle, i, 0);
    MV1TerminateReferenceMesh(modelHandle, i, 1);
  }
  MV1TerminateCollInfo(modelHandle, -1);
  for (int i = 0; i < base->FrameCount; ++i) MV1TerminateCollInfo(modelHandle, i);

  for (int i = 0; i < base->TextureCount; ++i) {
    MV1Texture* t = &model->Texture[i];
    if (!t->OwnGraph) continue;
    MEM_FREE(t->ColorFileName);
    MEM_FREE(t->AlphaFileName);
    MEM_FREE(t->ColorImage);
    MEM_FREE(t->AlphaImage);
    t->ColorFileName = t->AlphaFileName = nullptr;
    t->ColorImage = t->AlphaImage = nullptr;
    DeleteGraph(t->OwnGraphHandle, 0);
    t->OwnGraphHandle = -1;
    t->OwnGraph = 0;
  }
  if (model->TextureAllocated) MEM_FREE(model->Texture);

  if (model->Prev) model->Prev->Next = model->Next;
  else base->FirstModel = model->Next;
  if (model->Next) model->Next->Prev = model->Prev;
  else base->LastModel = model->Prev;
  --base->ModelCount;
  MV1ReleaseModelBase(model->BaseHandle);

  MEM_FREE(model);
  MV1ReleaseHandleSlot(&MV1ModelTable, slot);
  return 0;
}

int MV1DeleteModelBase(int baseHandle) {
  void** slot = MV1HandleSlot(&MV1ModelBaseTable, baseHandle, MV1_MODEL_BASE_HANDLE_TAG,
                              MV1_MODEL_BASE_INDEX_LIMIT);
  if (!slot) return -1;
  // A base that models or attached animations still use stays theirs: freeing it here would
  // leave them pointing into freed memory.
  if (*slot != MV1_RESERVED_SLOT && static_cast<MV1ModelBase*>(*slot)->RefCount > 0) return -1;
  return MV1ReleaseModelBase(baseHandle);
}

int MV1ReleaseModelBase(int baseHandle) {
  // The index is masked to 17 bits, so the table limit never refuses it.
  void** slot = MV1HandleSlot(&MV1ModelBaseTable, baseHandle, MV1_MODEL_BASE_HANDLE_TAG,
                              MV1_MODEL_BASE_INDEX_LIMIT);
  if (!slot) return -1;
  if (*slot == MV1_RESERVED_SLOT) {
    MV1ReleaseHandleSlot(&MV1ModelBaseTable, slot);
    return 0;
  }
  auto* base = static_cast<MV1ModelBase*>(*slot);
  if (--base->RefCount > 0) return 0;

  MV1TerminateModelBaseVertexBuffer(baseHandle);
  MEM_FREE(base->VertexData);
  base->VertexData = nullptr;

  for (int i = 0; i < base->TextureCount; ++i) {
    MV1TextureBase* t = &base->Texture[i];
    if (t->NameAllocated) MEM_FREE(t->Name);
    DeleteGraph(t->GraphHandle, 0);
    if (t->ColorFileNameAllocated) MEM_FREE(t->ColorFileName);
    if (t->AlphaFileNameAllocated) MEM_FREE(t->AlphaFileName);
    MEM_FREE(t->ColorImage);
    MEM_FREE(t->AlphaImage);
  }
  if (base->TextureAllocated) MEM_FREE(base->Texture);

  for (int i = 0; i < base->ShapeMeshCount; ++i)
    if (base->ShapeMesh[i].VertexAllocated) MEM_FREE(base->ShapeMesh[i].Vertex);
  for (int i = 0; i < base->FrameCount; ++i)
    if (base->Frame[i].NormalAllocated) MEM_FREE(base->Frame[i].Normal);
  for (int i = 0; i < base->MeshCount; ++i)
    if (base->Mesh[i].VertexAllocated) MEM_FREE(base->Mesh[i].Vertex);
  for (int i = 0; i < base->TriangleListCount; ++i) {
    MV1TriangleList* list = &base->TriangleList[i];
    if (list->MeshVertexIndexAllocated) MEM_FREE(list->MeshVertexIndex);
    if (list->VerticesAllocated) MEM_FREE(list->Vertices);
    // The run-time buffers are allocated by drawing whoever built the base.
    MEM_FREE(list->TempVertexBuffer);
    MEM_FREE(list->OutlinePositions);
  }

  ChunkListFreeAll(&base->ChunkListHead);
  MEM_FREE(base);
  MV1ReleaseHandleSlot(&MV1ModelBaseTable, slot);
  return 0;
}
