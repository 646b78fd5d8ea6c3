// Model API accessors and the semi-transparency queries.
#include <qzlib/model/model_access.h>

#include <cstring>

#include <qzlib/base/strutil.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>

namespace {

constexpr COLOR_F kBadColor{-1, -1, -1, -1};
constexpr VECTOR kBadCorner{-1, -1, -1};

bool SameBits(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

bool OwnBitSet(const MV1ChangeFlag& flag) { return (*flag.Word & flag.Info->OwnBit) != 0; }

MV1Frame* FrameOf(int modelHandle, int index) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model || index < 0 || index >= model->BaseData->FrameCount) return nullptr;
  return &model->Frame[index];
}

MV1Mesh* MeshOf(int modelHandle, int index) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model || index < 0 || index >= model->BaseData->MeshCount) return nullptr;
  return &model->Mesh[index];
}

MV1Material* MaterialOf(int modelHandle, int index, MV1Model** modelOut = nullptr) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (modelOut) *modelOut = model;
  if (!model || index < 0 || index >= model->BaseData->MaterialCount) return nullptr;
  return &model->Material[index];
}

MV1Texture* TextureOf(int modelHandle, int index, MV1Model** modelOut = nullptr) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (modelOut) *modelOut = model;
  if (!model || index < 0 || index >= model->BaseData->TextureCount) return nullptr;
  return &model->Texture[index];
}

// A frame index or -1 (the top level): the first frame of that level and its count.
bool LevelOf(int modelHandle, int frameIndex, MV1Frame*** table, int* count) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model || frameIndex < -1 || frameIndex >= model->BaseData->FrameCount) return false;
  if (frameIndex == -1) {
    *table = model->TopFrameList;
    *count = model->TopFrameCount;
  } else {
    *table = model->Frame[frameIndex].Child;
    *count = model->Frame[frameIndex].ChildCount;
  }
  return true;
}

int FrameIndex(const MV1Frame* f) { return static_cast<int>(f - f->Container->Frame); }

// The setters of the four colour scales of a draw-state block, by kind.
using ScaleSetter = bool (*)(MV1DrawState*, MV1ChangeFlag*, float, float, float, float);
enum ScaleKind { kDif, kSpc, kEmi, kAmb };
const ScaleSetter kScaleSetters[4] = {MV1SetDrawDifColorScale, MV1SetDrawSpcColorScale,
                                      MV1SetDrawEmiColorScale, MV1SetDrawAmbColorScale};

bool SetScale(ScaleKind kind, MV1DrawState* state, MV1ChangeFlag* flag, const COLOR_F& c) {
  return kScaleSetters[kind](state, flag, c.r, c.g, c.b, c.a);
}

COLOR_F GetScale(ScaleKind kind, const MV1DrawState& s) {
  switch (kind) {
    case kDif: return s.DiffuseScale;
    case kSpc: return s.SpecularScale;
    case kEmi: return s.EmissiveScale;
    default: return s.AmbientScale;
  }
}

int SetModelScale(int modelHandle, ScaleKind kind, const COLOR_F& c) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  if (SetScale(kind, &model->DrawMaterial, nullptr, c)) {
    if (kind == kDif) model->SemiTransStateSetupFlag = 0;
    MV1SetModelChangeFlagAll(model->ChangeDrawMaterialFlag, model->ChangeDrawMaterialFlagSize);
  }
  return 0;
}

COLOR_F GetModelScale(int modelHandle, ScaleKind kind) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? GetScale(kind, model->DrawMaterial) : kBadColor;
}

int SetFrameScale(int modelHandle, int frameIndex, ScaleKind kind, const COLOR_F& c) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (!frame) return -1;
  if (SetScale(kind, &frame->DrawMaterial, &frame->ChangeDrawMaterialFlag, c) && kind == kDif)
    MV1ClearFrameSemiTransCache(frame);
  return 0;
}

COLOR_F GetFrameScale(int modelHandle, int frameIndex, ScaleKind kind) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  return frame ? GetScale(kind, frame->DrawMaterial) : kBadColor;
}

int SetMeshScale(int modelHandle, int meshIndex, ScaleKind kind, const COLOR_F& c) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  if (!mesh) return -1;
  if (SetScale(kind, &mesh->DrawMaterial, &mesh->ChangeDrawMaterialFlag, c) && kind == kDif)
    MV1ClearMeshSemiTransCache(mesh);
  return 0;
}

COLOR_F GetMeshScale(int modelHandle, int meshIndex, ScaleKind kind) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? GetScale(kind, mesh->DrawMaterial) : kBadColor;
}

// Every mesh of the model whose material is `material`, in mesh order: caches forgotten, change
// bit raised.
void MarkMaterialUsers(MV1Model* model, const MV1Material* material) {
  for (int i = 0; i < model->BaseData->MeshCount; ++i) {
    MV1Mesh* mesh = &model->Mesh[i];
    if (mesh->Material != material) continue;
    MV1ClearMeshSemiTransCache(mesh);
    MV1SetFrameChangeFlag(&mesh->ChangeDrawMaterialFlag);
  }
}

COLOR_F* MaterialColor(MV1Material* m, ScaleKind kind) {
  switch (kind) {
    case kDif: return &m->Diffuse;
    case kSpc: return &m->Specular;
    case kEmi: return &m->Emissive;
    default: return &m->Ambient;
  }
}

int SetMaterialColor(int modelHandle, int index, ScaleKind kind, const COLOR_F& c) {
  MV1Model* model;
  MV1Material* m = MaterialOf(modelHandle, index, &model);
  if (!m) return -1;
  COLOR_F* slot = MaterialColor(m, kind);
  if (SameBits(slot, &c, sizeof c)) return 0;
  *slot = c;
  MarkMaterialUsers(model, m);
  return 0;
}

COLOR_F GetMaterialColor(int modelHandle, int index, ScaleKind kind) {
  MV1Material* m = MaterialOf(modelHandle, index);
  return m ? *MaterialColor(m, kind) : kBadColor;
}

// The semi-transparent flag of a texture as drawing uses it: the user graph's, else the base
// texture's (its user graph's when it has one).
int TextureSemiTransparent(const MV1Texture* t) {
  if (t->UseUserGraph) return t->UserGraphSemiTransparent;
  return t->Base->SemiTransparent;
}

int ComputeMeshSemiTrans(MV1Mesh* mesh) {
  MV1Model* model = mesh->Container->Container;
  const MV1Material* material = mesh->Material;
  const MV1MeshBase* base = mesh->Base;
  // -1 takes the material's value (alpha blending at 255 for a mesh without a material).
  int mode = mesh->DrawBlendMode, param = mesh->DrawBlendParam;
  if (mode == -1) mode = material ? material->DrawBlendMode : 1;
  if (param == -1) param = material ? material->DrawBlendParam : 255;
  if (mode != 1 || param != 255) return 1;
  const MV1DrawState& state = mesh->SetupDrawMaterial;
  if (!base->UseVertexDiffuseColor) {
    if (material && material->Diffuse.a != 1.0f) return 1;
    if (state.UseColorScale && state.DiffuseScale.a != 1.0f) return 1;
  } else if (base->HasVertexAlpha) {
    return 1;
  }
  if (state.OpacityRate != 1.0f) return 1;
  if (material && material->DiffuseLayerCount > 0) {
    int t = material->DiffuseLayer[0].Texture;
    if (t >= 0 && t < model->BaseData->TextureCount &&
        TextureSemiTransparent(&model->Texture[t]))
      return 1;
  }
  return 0;
}

int MeshSemiTrans(MV1Mesh* mesh) {
  if (OwnBitSet(mesh->ChangeDrawMaterialFlag)) MV1RefreshDrawState(nullptr, mesh);
  if (!mesh->SemiTransStateSetupFlag) {
    mesh->SemiTransState = static_cast<uint8_t>(ComputeMeshSemiTrans(mesh));
    mesh->SemiTransStateSetupFlag = 1;
  }
  return mesh->SemiTransState;
}

// Opens a frame of the walk: refreshes its draw state when out of date; a frame with a known
// answer is closed at once (false); else its meshes' answers start its value (true).
bool OpenFrame(MV1Frame* frame) {
  if (OwnBitSet(frame->ChangeDrawMaterialFlag)) MV1RefreshDrawState(frame, nullptr);
  if (frame->SemiTransStateSetupFlag) return false;
  uint8_t value = 0;
  for (int i = 0; i < frame->Base->MeshCount; ++i)
    value = static_cast<uint8_t>(value | MeshSemiTrans(&frame->Mesh[i]));
  frame->SemiTransState = value;
  return true;
}

// Depth first through the links, without a stack: an open frame's value gathers its children's
// as they close.
int FrameSemiTrans(MV1Frame* top) {
  if (!OpenFrame(top)) return top->SemiTransState;
  MV1Frame* current = top;
  MV1Frame* next = top->FirstChild;
  for (;;) {
    if (next) {
      if (OpenFrame(next)) {
        if (next->FirstChild) {
          current = next;
          next = next->FirstChild;
          continue;
        }
        next->SemiTransStateSetupFlag = 1;
      }
      current->SemiTransState =
          static_cast<uint8_t>(current->SemiTransState | next->SemiTransState);
      next = next->Next;
      continue;
    }
    current->SemiTransStateSetupFlag = 1;
    if (current == top) break;
    MV1Frame* parent = current->Parent;
    parent->SemiTransState = static_cast<uint8_t>(parent->SemiTransState | current->SemiTransState);
    next = current->Next;
    current = parent;
  }
  return top->SemiTransState;
}

}  // namespace

// ---- Semi-transparency ----

void MV1ClearFrameSemiTransCache(MV1Frame* frame) {
  for (MV1Frame* f = frame; f; f = f->Parent) f->SemiTransStateSetupFlag = 0;
  frame->Container->SemiTransStateSetupFlag = 0;
}

void MV1ClearMeshSemiTransCache(MV1Mesh* mesh) {
  mesh->SemiTransStateSetupFlag = 0;
  MV1ClearFrameSemiTransCache(mesh->Container);
}

int MV1GetSemiTransState(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  if (!model->SemiTransStateSetupFlag) {
    int value = 0;
    for (int i = 0; i < model->TopFrameCount; ++i) value |= FrameSemiTrans(model->TopFrameList[i]);
    model->SemiTransState = static_cast<uint8_t>(value);
    model->SemiTransStateSetupFlag = 1;
  }
  return model->SemiTransState;
}

int MV1GetFrameSemiTransState(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  return frame ? FrameSemiTrans(frame) : -1;
}

int MV1GetMeshSemiTransState(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? MeshSemiTrans(mesh) : -1;
}

// ---- Model ----

int MV1SetVisible(int modelHandle, uint8_t visible) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  if (model->DrawMaterial.Visible == visible) return 0;
  model->DrawMaterial.Visible = visible;
  MV1SetModelChangeFlagAll(model->ChangeDrawMaterialFlag, model->ChangeDrawMaterialFlagSize);
  return 0;
}

int MV1GetVisible(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->DrawMaterial.Visible : -1;
}

int MV1SetDifColorScale(int h, COLOR_F c) { return SetModelScale(h, kDif, c); }
int MV1SetSpcColorScale(int h, COLOR_F c) { return SetModelScale(h, kSpc, c); }
int MV1SetEmiColorScale(int h, COLOR_F c) { return SetModelScale(h, kEmi, c); }
int MV1SetAmbColorScale(int h, COLOR_F c) { return SetModelScale(h, kAmb, c); }
COLOR_F MV1GetDifColorScale(int h) { return GetModelScale(h, kDif); }
COLOR_F MV1GetSpcColorScale(int h) { return GetModelScale(h, kSpc); }
COLOR_F MV1GetEmiColorScale(int h) { return GetModelScale(h, kEmi); }
COLOR_F MV1GetAmbColorScale(int h) { return GetModelScale(h, kAmb); }

int MV1SetOpacityRate(int modelHandle, float rate) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  if (!(rate > 0.0f)) rate = 0.0f;
  if (rate > 1.0f) rate = 1.0f;
  if (SameBits(&model->DrawMaterial.OpacityRate, &rate, sizeof rate)) return 0;
  model->DrawMaterial.OpacityRate = rate;
  model->SemiTransStateSetupFlag = 0;
  MV1SetModelChangeFlagAll(model->ChangeDrawMaterialFlag, model->ChangeDrawMaterialFlagSize);
  return 0;
}

float MV1GetOpacityRate(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->DrawMaterial.OpacityRate : -1.0f;
}

int MV1SetUseZBuffer(int modelHandle, int flag) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  model->EnableZBuffer = flag;
  return 0;
}

int MV1SetWriteZBuffer(int modelHandle, int flag) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  model->WriteZBuffer = flag;
  return 0;
}

// ---- Materials ----

int MV1GetMaterialNum(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->BaseData->MaterialCount : -1;
}

const char* MV1GetMaterialName(int modelHandle, int materialIndex) {
  return MV1GetMaterialNameBase(MV1GetModelBaseHandle(modelHandle), materialIndex);
}

COLOR_F MV1GetMaterialDifColor(int h, int i) { return GetMaterialColor(h, i, kDif); }
COLOR_F MV1GetMaterialSpcColor(int h, int i) { return GetMaterialColor(h, i, kSpc); }
COLOR_F MV1GetMaterialEmiColor(int h, int i) { return GetMaterialColor(h, i, kEmi); }
COLOR_F MV1GetMaterialAmbColor(int h, int i) { return GetMaterialColor(h, i, kAmb); }
int MV1SetMaterialDifColor(int h, int i, COLOR_F c) { return SetMaterialColor(h, i, kDif, c); }
int MV1SetMaterialSpcColor(int h, int i, COLOR_F c) { return SetMaterialColor(h, i, kSpc, c); }
int MV1SetMaterialEmiColor(int h, int i, COLOR_F c) { return SetMaterialColor(h, i, kEmi, c); }
int MV1SetMaterialAmbColor(int h, int i, COLOR_F c) { return SetMaterialColor(h, i, kAmb, c); }

float MV1GetMaterialSpcPower(int modelHandle, int materialIndex) {
  MV1Material* m = MaterialOf(modelHandle, materialIndex);
  return m ? m->Power : -1.0f;
}

int MV1SetMaterialSpcPower(int modelHandle, int materialIndex, float power) {
  MV1Material* m = MaterialOf(modelHandle, materialIndex);
  if (!m) return -1;
  m->Power = power;
  return 0;
}

int MV1GetMaterialDifMapTexture(int modelHandle, int materialIndex) {
  MV1Material* m = MaterialOf(modelHandle, materialIndex);
  return m && m->DiffuseLayerCount > 0 ? m->DiffuseLayer[0].Texture : -1;
}

int MV1GetMaterialSpcMapTexture(int modelHandle, int materialIndex) {
  MV1Material* m = MaterialOf(modelHandle, materialIndex);
  return m && m->SpecularLayerCount > 0 ? m->SpecularLayer[0].Texture : -1;
}

int MV1GetMaterialNormalMapTexture(int modelHandle, int materialIndex) {
  return MV1GetMaterialNormalMapBase(MV1GetModelBaseHandle(modelHandle), materialIndex);
}

int MV1SetMaterialDrawBlendMode(int modelHandle, int materialIndex, int mode) {
  MV1Model* model;
  MV1Material* m = MaterialOf(modelHandle, materialIndex, &model);
  if (!m) return -1;
  m->DrawBlendMode = mode;
  MarkMaterialUsers(model, m);
  return 0;
}

int MV1SetMaterialDrawBlendParam(int modelHandle, int materialIndex, int param) {
  MV1Model* model;
  MV1Material* m = MaterialOf(modelHandle, materialIndex, &model);
  if (!m) return -1;
  m->DrawBlendParam = param;
  MarkMaterialUsers(model, m);
  return 0;
}

int MV1GetMaterialDrawBlendMode(int modelHandle, int materialIndex) {
  MV1Material* m = MaterialOf(modelHandle, materialIndex);
  return m ? m->DrawBlendMode : -1;
}

int MV1GetMaterialDrawBlendParam(int modelHandle, int materialIndex) {
  MV1Material* m = MaterialOf(modelHandle, materialIndex);
  return m ? m->DrawBlendParam : -1;
}

// ---- Textures ----

int MV1GetTextureNum(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->BaseData->TextureCount : -1;
}

const char* MV1GetTextureName(int modelHandle, int textureIndex) {
  return MV1GetTextureNameBase(MV1GetModelBaseHandle(modelHandle), textureIndex);
}

int MV1SetTextureGraphHandle(int modelHandle, int textureIndex, int graphHandle,
                             int semiTransparent) {
  MV1Model* model;
  MV1Texture* t = TextureOf(modelHandle, textureIndex, &model);
  if (!t) return -1;
  if (graphHandle == -1) {
    t->UseUserGraph = 0;
    t->UserGraphHandle = 0;
  } else {
    int width, height;
    if (GetGraphSize(graphHandle, &width, &height) != 0) return -1;
    t->UseUserGraph = 1;
    t->UserGraphHandle = graphHandle;
    t->UserGraphSemiTransparent = semiTransparent;
    t->UserGraphWidth = width;
    t->UserGraphHeight = height;
  }
  // The semi-transparency of every mesh drawing this texture as its first diffuse layer may change.
  for (int i = 0; i < model->BaseData->MeshCount; ++i) {
    MV1Mesh* mesh = &model->Mesh[i];
    if (mesh->Material && mesh->Material->DiffuseLayerCount > 0 &&
        mesh->Material->DiffuseLayer[0].Texture == textureIndex)
      MV1ClearMeshSemiTransCache(mesh);
  }
  return 0;
}

int MV1GetTextureGraphHandle(int modelHandle, int textureIndex) {
  MV1Model* model;
  MV1Texture* t = TextureOf(modelHandle, textureIndex, &model);
  if (!t) return -1;
  if (t->UseUserGraph) return t->UserGraphHandle;
  if (t->OwnGraph) return t->OwnGraphHandle;
  return MV1GetTextureGraphHandleBase(model->BaseHandle, textureIndex);
}

int MV1SetTextureAddressMode(int modelHandle, int textureIndex, int modeU, int modeV) {
  MV1Texture* t = TextureOf(modelHandle, textureIndex);
  if (!t) return -1;
  t->AddressModeU = modeU;
  t->AddressModeV = modeV;
  return 0;
}

int MV1GetTextureAddressModeU(int modelHandle, int textureIndex) {
  MV1Texture* t = TextureOf(modelHandle, textureIndex);
  return t ? t->AddressModeU : -1;
}

int MV1GetTextureAddressModeV(int modelHandle, int textureIndex) {
  MV1Texture* t = TextureOf(modelHandle, textureIndex);
  return t ? t->AddressModeV : -1;
}

int MV1SetTextureSampleFilterMode(int modelHandle, int textureIndex, int filterMode) {
  MV1Texture* t = TextureOf(modelHandle, textureIndex);
  if (!t) return -1;
  t->FilterMode = filterMode;
  return 0;
}

int MV1GetTextureSampleFilterMode(int modelHandle, int textureIndex) {
  MV1Texture* t = TextureOf(modelHandle, textureIndex);
  return t ? t->FilterMode : -1;
}

// ---- Frames ----

int MV1GetFrameNum(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->BaseData->FrameCount : -1;
}

int MV1SearchFrame(int modelHandle, const char* name) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  for (int i = 0; i < model->BaseData->FrameCount; ++i) {
    const char* n = model->Frame[i].Base->Name;
    if (n && name && StrCompare(n, name) == 0) return i;
  }
  return -2;
}

int MV1SearchFrameChild(int modelHandle, int frameIndex, const char* name) {
  MV1Frame** table;
  int count;
  if (!LevelOf(modelHandle, frameIndex, &table, &count)) return -1;
  for (int i = 0; i < count; ++i) {
    const char* n = table[i]->Base->Name;
    if (n && name && StrCompare(n, name) == 0) return FrameIndex(table[i]);
  }
  return -2;
}

const char* MV1GetFrameName(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  return frame ? frame->Base->Name : nullptr;
}

int MV1GetFrameChildNum(int modelHandle, int frameIndex) {
  MV1Frame** table;
  int count;
  return LevelOf(modelHandle, frameIndex, &table, &count) ? count : -1;
}

int MV1GetFrameParent(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (!frame) return -1;
  return frame->Parent ? FrameIndex(frame->Parent) : -2;
}

int MV1GetFrameChild(int modelHandle, int frameIndex, int n) {
  MV1Frame** table;
  int count;
  if (!LevelOf(modelHandle, frameIndex, &table, &count) || n < 0 || n >= count) return -1;
  return FrameIndex(table[n]);
}

int MV1GetFrameTriangleNum(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  return frame ? frame->Base->TriangleCount : -1;
}

int MV1GetFrameMeshNum(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  return frame ? frame->Base->MeshCount : -1;
}

int MV1GetFrameMesh(int modelHandle, int frameIndex, int n) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (!frame || n < 0 || n >= frame->Base->MeshCount) return -1;
  return static_cast<int>(frame->Mesh - frame->Container->Mesh) + n;
}

int MV1SetFrameVisible(int modelHandle, int frameIndex, uint8_t visible) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (!frame) return -1;
  if (frame->DrawMaterial.Visible == visible) return 0;
  frame->DrawMaterial.Visible = visible;
  MV1SetFrameChangeFlag(&frame->ChangeDrawMaterialFlag);
  return 0;
}

int MV1GetFrameVisible(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  return frame ? frame->DrawMaterial.Visible : -1;
}

int MV1SetFrameDifColorScale(int h, int f, COLOR_F c) { return SetFrameScale(h, f, kDif, c); }
int MV1SetFrameSpcColorScale(int h, int f, COLOR_F c) { return SetFrameScale(h, f, kSpc, c); }
int MV1SetFrameEmiColorScale(int h, int f, COLOR_F c) { return SetFrameScale(h, f, kEmi, c); }
int MV1SetFrameAmbColorScale(int h, int f, COLOR_F c) { return SetFrameScale(h, f, kAmb, c); }
COLOR_F MV1GetFrameDifColorScale(int h, int f) { return GetFrameScale(h, f, kDif); }
COLOR_F MV1GetFrameSpcColorScale(int h, int f) { return GetFrameScale(h, f, kSpc); }
COLOR_F MV1GetFrameEmiColorScale(int h, int f) { return GetFrameScale(h, f, kEmi); }
COLOR_F MV1GetFrameAmbColorScale(int h, int f) { return GetFrameScale(h, f, kAmb); }

int MV1SetFrameOpacityRate(int modelHandle, int frameIndex, float rate) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  if (!frame) return -1;
  if (MV1SetDrawOpacityRate(&frame->ChangeDrawMaterialFlag, &frame->DrawMaterial, rate))
    MV1ClearFrameSemiTransCache(frame);
  return 0;
}

float MV1GetFrameOpacityRate(int modelHandle, int frameIndex) {
  MV1Frame* frame = FrameOf(modelHandle, frameIndex);
  return frame ? frame->DrawMaterial.OpacityRate : -1.0f;
}

// ---- Meshes ----

int MV1GetMeshNum(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->BaseData->MeshCount : -1;
}

int MV1GetMeshMaterial(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  if (!mesh || !mesh->Base->Material) return -1;
  return static_cast<int>(mesh->Base->Material - mesh->Container->Container->BaseData->Material);
}

int MV1GetMeshTriangleNum(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  if (!mesh) return -1;
  int count = 0;
  for (int i = 0; i < mesh->Base->TriangleListCount; ++i)
    count += mesh->Base->TriangleList[i].IndexCount / 3;
  return count;
}

int MV1SetMeshVisible(int modelHandle, int meshIndex, uint8_t visible) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  if (!mesh) return -1;
  if (mesh->DrawMaterial.Visible == visible) return 0;
  mesh->DrawMaterial.Visible = visible;
  MV1SetFrameChangeFlag(&mesh->ChangeDrawMaterialFlag);
  return 0;
}

int MV1GetMeshVisible(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? mesh->DrawMaterial.Visible : -1;
}

int MV1SetMeshDifColorScale(int h, int m, COLOR_F c) { return SetMeshScale(h, m, kDif, c); }
int MV1SetMeshSpcColorScale(int h, int m, COLOR_F c) { return SetMeshScale(h, m, kSpc, c); }
int MV1SetMeshEmiColorScale(int h, int m, COLOR_F c) { return SetMeshScale(h, m, kEmi, c); }
int MV1SetMeshAmbColorScale(int h, int m, COLOR_F c) { return SetMeshScale(h, m, kAmb, c); }
COLOR_F MV1GetMeshDifColorScale(int h, int m) { return GetMeshScale(h, m, kDif); }
COLOR_F MV1GetMeshSpcColorScale(int h, int m) { return GetMeshScale(h, m, kSpc); }
COLOR_F MV1GetMeshEmiColorScale(int h, int m) { return GetMeshScale(h, m, kEmi); }
COLOR_F MV1GetMeshAmbColorScale(int h, int m) { return GetMeshScale(h, m, kAmb); }

int MV1SetMeshOpacityRate(int modelHandle, int meshIndex, float rate) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  if (!mesh) return -1;
  if (MV1SetDrawOpacityRate(&mesh->ChangeDrawMaterialFlag, &mesh->DrawMaterial, rate))
    MV1ClearMeshSemiTransCache(mesh);
  return 0;
}

float MV1GetMeshOpacityRate(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? mesh->DrawMaterial.OpacityRate : -1.0f;
}

namespace {

int SetMeshBlendValue(int modelHandle, int meshIndex, int value, bool param) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  if (!mesh) return -1;
  int* slot = param ? &mesh->DrawBlendParam : &mesh->DrawBlendMode;
  if (*slot == value) return 0;
  *slot = value;
  MV1ClearMeshSemiTransCache(mesh);
  MV1SetFrameChangeFlag(&mesh->ChangeDrawMaterialFlag);
  return 0;
}

}  // namespace

int MV1SetMeshDrawBlendMode(int h, int m, int mode) { return SetMeshBlendValue(h, m, mode, false); }
int MV1SetMeshDrawBlendParam(int h, int m, int param) {
  return SetMeshBlendValue(h, m, param, true);
}

int MV1GetMeshDrawBlendMode(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? mesh->DrawBlendMode : -1;
}

int MV1GetMeshDrawBlendParam(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? mesh->DrawBlendParam : -1;
}

int MV1SetMeshBackCulling(int modelHandle, int meshIndex, int flag) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  if (!mesh) return -1;
  mesh->Base->BackCulling = flag != 0 ? 1 : 0;
  return 0;
}

int MV1GetMeshBackCulling(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? mesh->Base->BackCulling : -1;
}

VECTOR MV1GetMeshMaxPosition(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? mesh->Base->MaxPosition : kBadCorner;
}

VECTOR MV1GetMeshMinPosition(int modelHandle, int meshIndex) {
  MV1Mesh* mesh = MeshOf(modelHandle, meshIndex);
  return mesh ? mesh->Base->MinPosition : kBadCorner;
}

int MV1GetMeshUseVertDifColor(int modelHandle, int meshIndex) {
  return MV1GetMeshUseVertDifColorBase(MV1GetModelBaseHandle(modelHandle), meshIndex);
}

int MV1GetMeshUseVertSpcColor(int modelHandle, int meshIndex) {
  return MV1GetMeshUseVertSpcColorBase(MV1GetModelBaseHandle(modelHandle), meshIndex);
}
