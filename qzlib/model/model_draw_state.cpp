// Draw-state blocks of models, frames and meshes: setters, change flags and the lazy refresh.
#include <qzlib/model/model_draw_state.h>

#include <cstring>

#include <qzlib/math/math3d.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>

namespace {

bool AllOne(const COLOR_F& c) { return c.r == 1.0f && c.g == 1.0f && c.b == 1.0f && c.a == 1.0f; }

bool SetColorScale(MV1DrawState* state, COLOR_F* slot, MV1ChangeFlag* flag, float r, float g,
                   float b, float a) {
  COLOR_F value{r, g, b, a};
  if (std::memcmp(slot, &value, sizeof(COLOR_F)) == 0) return false;
  *slot = value;
  if (!AllOne(value)) {
    state->UseColorScale = 1;
  } else if (AllOne(state->DiffuseScale) && AllOne(state->AmbientScale) &&
             AllOne(state->SpecularScale) && AllOne(state->EmissiveScale)) {
    state->UseColorScale = 0;
  }
  if (flag) MV1SetFrameChangeFlag(flag);
  return true;
}

COLOR_F Mul(const COLOR_F& a, const COLOR_F& b) {
  return COLOR_F{a.r * b.r, a.g * b.g, a.b * b.b, a.a * b.a};
}

void CopyScales(MV1DrawState* to, const MV1DrawState* from) {
  to->DiffuseScale = from->DiffuseScale;
  to->AmbientScale = from->AmbientScale;
  to->SpecularScale = from->SpecularScale;
  to->EmissiveScale = from->EmissiveScale;
}

// The derived block of an item from its source block (the parent's derived block, the model's
// own block for a top-level frame, the frame's derived block for a mesh) and its own block.
void Derive(MV1DrawState* derived, const MV1DrawState* source, const MV1DrawState* own) {
  if (!source->UseColorScale) {
    if (own->UseColorScale) CopyScales(derived, own);
    derived->UseColorScale = own->UseColorScale;
  } else if (own->UseColorScale) {
    derived->DiffuseScale = Mul(source->DiffuseScale, own->DiffuseScale);
    derived->AmbientScale = Mul(source->AmbientScale, own->AmbientScale);
    derived->SpecularScale = Mul(source->SpecularScale, own->SpecularScale);
    derived->EmissiveScale = Mul(source->EmissiveScale, own->EmissiveScale);
    derived->UseColorScale = 1;
  } else {
    CopyScales(derived, source);
    derived->UseColorScale = 1;
  }
  derived->OpacityRate = source->OpacityRate * own->OpacityRate;
  derived->Visible = (own->Visible && source->Visible) ? 1 : 0;
}

void RefreshMesh(MV1Mesh* mesh) {
  Derive(&mesh->SetupDrawMaterial, &mesh->Container->SetupDrawMaterial, &mesh->DrawMaterial);
  mesh->SemiTransStateSetupFlag = 0;
}

void RefreshFrame(MV1Frame* frame) {
  const MV1DrawState* source =
      frame->Parent ? &frame->Parent->SetupDrawMaterial : &frame->Container->DrawMaterial;
  Derive(&frame->SetupDrawMaterial, source, &frame->DrawMaterial);
  frame->SemiTransStateSetupFlag = 0;
  for (int i = 0; i < frame->Base->MeshCount; ++i) RefreshMesh(&frame->Mesh[i]);
}

bool OwnBitSet(const MV1ChangeFlag& flag) { return (*flag.Word & flag.Info->OwnBit) != 0; }

}  // namespace

bool MV1SetDrawDifColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a) {
  return SetColorScale(state, &state->DiffuseScale, flag, r, g, b, a);
}

bool MV1SetDrawAmbColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a) {
  return SetColorScale(state, &state->AmbientScale, flag, r, g, b, a);
}

bool MV1SetDrawSpcColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a) {
  return SetColorScale(state, &state->SpecularScale, flag, r, g, b, a);
}

bool MV1SetDrawEmiColorScale(MV1DrawState* state, MV1ChangeFlag* flag, float r, float g, float b,
                             float a) {
  return SetColorScale(state, &state->EmissiveScale, flag, r, g, b, a);
}

bool MV1SetDrawOpacityRate(MV1ChangeFlag* flag, MV1DrawState* state, float rate) {
  if (std::memcmp(&state->OpacityRate, &rate, sizeof(float)) == 0) return false;
  state->OpacityRate = rate;
  if (flag) MV1SetFrameChangeFlag(flag);
  return true;
}

void MV1SetFrameChangeFlag(MV1ChangeFlag* flag) {
  if (OwnBitSet(*flag)) return;
  const MV1ChangeInfo* info = flag->Info;
  if (info->SubtreeMask) {
    for (int i = 0; i < info->MaskWordCount; ++i) flag->Word[i] |= info->SubtreeMask[i];
  } else {
    *flag->Word |= info->OwnBit;
  }
}

void MV1SetModelChangeFlagAll(uint32_t* changeSet, int byteSize) {
  if (changeSet[0] & 1) return;
  std::memset(changeSet, 0xFF, byteSize);
}

void MV1RefreshDrawState(MV1Frame* frame, MV1Mesh* mesh) {
  if (!frame) frame = mesh->Container;
  MV1Model* model = frame->Container;
  if (OwnBitSet(frame->ChangeDrawMaterialFlag)) {
    MV1Frame* start;
    int withSiblings;
    if (model->ChangeDrawMaterialFlag[0] & 1) {
      std::memset(model->ChangeDrawMaterialFlag, 0, model->ChangeDrawMaterialFlagSize);
      start = &model->Frame[0];
      withSiblings = 1;
    } else {
      start = frame;
      while (start->Parent && OwnBitSet(start->Parent->ChangeDrawMaterialFlag)) start = start->Parent;
      const MV1ChangeInfo* info = start->ChangeDrawMaterialFlag.Info;
      uint32_t* word = start->ChangeDrawMaterialFlag.Word;
      if (info->SubtreeMask) {
        for (int i = 0; i < info->MaskWordCount; ++i) word[i] &= ~info->SubtreeMask[i];
      } else {
        *word &= ~info->OwnBit;
      }
      withSiblings = 0;
    }
    // Depth first, parents before children; the stack, sized from the tree's depth, grows by at
    // most one entry per level.
    MV1DrawStateWalkEntry* stack = model->DrawStateStack;
    int top = 0;
    stack[top++] = MV1DrawStateWalkEntry{start, withSiblings};
    while (top > 0) {
      MV1DrawStateWalkEntry e = stack[--top];
      RefreshFrame(e.Frame);
      if (e.WithSiblings && e.Frame->Next) stack[top++] = MV1DrawStateWalkEntry{e.Frame->Next, 1};
      if (e.Frame->FirstChild) stack[top++] = MV1DrawStateWalkEntry{e.Frame->FirstChild, 1};
    }
  } else if (mesh) {
    RefreshMesh(mesh);
    *mesh->ChangeDrawMaterialFlag.Word &= ~mesh->ChangeDrawMaterialFlag.Info->OwnBit;
  }
}

MATRIX MV1GetMatrix(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return MGetIdent();
  MATRIX out;
  if (model->UseUserMatrix) {
    Matrix3x4ToMatrix(&out, &model->UserMatrix);
  } else {
    if (!model->ValidMatrix) MV1SetupMatrix(model);
    Matrix3x4ToMatrix(&out, &model->Matrix);
  }
  return out;
}

int MV1SetMeshUseVertDifColor(int modelHandle, int meshIndex, int useFlag) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? MV1SetMeshUseVertDifColorBase(model->BaseHandle, meshIndex, useFlag) : -1;
}

int MV1SetMeshUseVertSpcColor(int modelHandle, int meshIndex, int useFlag) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? MV1SetMeshUseVertSpcColorBase(model->BaseHandle, meshIndex, useFlag) : -1;
}

int MV1SetUseVertDifColor(int modelHandle, int useFlag) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  for (int i = 0; i < model->BaseData->MeshCount; ++i)
    MV1SetMeshUseVertDifColor(modelHandle, i, useFlag);
  return 0;
}

int MV1SetUseVertSpcColor(int modelHandle, int useFlag) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  for (int i = 0; i < model->BaseData->MeshCount; ++i)
    MV1SetMeshUseVertSpcColor(modelHandle, i, useFlag);
  return 0;
}
