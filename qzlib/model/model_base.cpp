// Model base getters and setters, and the set-up of the frame base matrices.
#include <qzlib/model/model_base.h>

#include <cstring>

#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_access.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>

namespace {

MV1MaterialBase* MaterialOf(int baseHandle, int index) {
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  if (!base || index < 0 || index >= base->MaterialCount) return nullptr;
  return &base->Material[index];
}

MV1TextureBase* TextureOf(int baseHandle, int index) {
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  if (!base || index < 0 || index >= base->TextureCount) return nullptr;
  return &base->Texture[index];
}

MV1MeshBase* MeshOf(int baseHandle, int index) {
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  if (!base || index < 0 || index >= base->MeshCount) return nullptr;
  return &base->Mesh[index];
}

bool IsZeroBits(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return (u & 0x7FFFFFFFu) == 0;
}

bool IsOneBits(float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  return u == 0x3F800000u;
}

}  // namespace

const char* MV1GetMaterialNameBase(int baseHandle, int materialIndex) {
  MV1MaterialBase* m = MaterialOf(baseHandle, materialIndex);
  return m ? m->Name : nullptr;
}

int MV1GetMaterialNormalMapBase(int baseHandle, int materialIndex) {
  MV1MaterialBase* m = MaterialOf(baseHandle, materialIndex);
  if (!m || m->NormalLayerCount <= 0) return -1;
  return m->NormalLayer[0].Texture;
}

const char* MV1GetTextureNameBase(int baseHandle, int textureIndex) {
  MV1TextureBase* t = TextureOf(baseHandle, textureIndex);
  return t ? t->Name : nullptr;
}

int MV1GetTextureGraphHandleBase(int baseHandle, int textureIndex) {
  MV1TextureBase* t = TextureOf(baseHandle, textureIndex);
  if (!t) return -1;
  return t->UseUserGraph ? t->UserGraphHandle : t->GraphHandle;
}

int MV1SetMeshUseVertDifColorBase(int baseHandle, int meshIndex, int flag) {
  MV1MeshBase* mesh = MeshOf(baseHandle, meshIndex);
  if (!mesh) return -1;
  if (mesh->UseVertexDiffuseColor == flag) return 0;
  mesh->UseVertexDiffuseColor = flag;
  // Every model's answer to the semi-transparency queries may change: the mesh's, its frame's and
  // every ancestor's and the model's cached answers go, whatever the mesh's own byte said.
  MV1ModelBase* base = mesh->Container->Container;
  for (MV1Model* model = base->FirstModel; model; model = model->Next) {
    MV1Mesh* m = &model->Mesh[meshIndex];
    MV1ClearMeshSemiTransCache(m);
    MV1SetFrameChangeFlag(&m->ChangeDrawMaterialFlag);
  }
  return 0;
}

int MV1SetMeshUseVertSpcColorBase(int baseHandle, int meshIndex, int flag) {
  MV1MeshBase* mesh = MeshOf(baseHandle, meshIndex);
  if (!mesh) return -1;
  mesh->UseVertexSpecularColor = flag;
  return 0;
}

int MV1GetMeshUseVertDifColorBase(int baseHandle, int meshIndex) {
  MV1MeshBase* mesh = MeshOf(baseHandle, meshIndex);
  return mesh ? mesh->UseVertexDiffuseColor : -1;
}

int MV1GetMeshUseVertSpcColorBase(int baseHandle, int meshIndex) {
  MV1MeshBase* mesh = MeshOf(baseHandle, meshIndex);
  return mesh ? mesh->UseVertexSpecularColor : -1;
}

void MV1SetupFrameBaseMatrices(MV1ModelBase* base) {
  for (int i = 0; i < base->FrameCount; ++i) {
    MV1FrameBase* f = &base->Frame[i];
    MATRIX local;
    if (IsZeroBits(f->Rotate.x) && IsZeroBits(f->Rotate.y) && IsZeroBits(f->Rotate.z) &&
        IsOneBits(f->Scale.x) && IsOneBits(f->Scale.y) && IsOneBits(f->Scale.z)) {
      if (IsZeroBits(f->Translate.x) && IsZeroBits(f->Translate.y) && IsZeroBits(f->Translate.z)) {
        f->LocalTransformMatrixType = 0;
        CreateIdentityMatrix(&local);
      } else {
        f->LocalTransformMatrixType = 1;
        CreateTranslationMatrix(&local, f->Translate.x, f->Translate.y, f->Translate.z);
      }
    } else {
      f->LocalTransformMatrixType = 2;
      // An order outside 0..5 is built as order 0 rather than left unset.
      int order = f->RotateOrder >= 0 && f->RotateOrder <= 5 ? f->RotateOrder : 0;
      CreateTransformMatrix(&f->Rotate, &f->Scale, &f->Translate, nullptr, &local, order);
    }
    MatrixToMatrix3x4(&f->LocalTransformMatrix, &local);
    if (f->Parent) {
      MATRIX parentWorld, world;
      Matrix3x4ToMatrix(&parentWorld, &f->Parent->WorldMatrix);
      CreateMultiplyMatrix(&world, &local, &parentWorld);
      MatrixToMatrix3x4(&f->WorldMatrix, &world);
    } else {
      f->WorldMatrix = f->LocalTransformMatrix;
    }
  }
}
