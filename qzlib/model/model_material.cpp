// Mesh material, blend, lighting and texture stages of model drawing, and the software toon
// lighting of the fixed-function path.
#include <cmath>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/graphics/light.h>
#include <qzlib/model/model_draw.h>
#include <qzlib/model/model_texture.h>

namespace {

// Operation fields in record order: alpha arg 1, arg 2, op, colour arg 1, arg 2, op.
struct StageOps {
  uint16_t v[6];
};
constexpr StageOps kOpsTextureModulate = {{2, 0, 4, 2, 0, 4}};
constexpr StageOps kOpsDiffuseGradBlend0 = {{1, 2, 2, 2, 1, 13}};
constexpr StageOps kOpsDiffuseGradBlend2 = {{1, 2, 4, 2, 1, 4}};
constexpr StageOps kOpsSpecularGrad = {{1, 2, 4, 2, 1, 7}};
constexpr StageOps kOpsFactorAlpha = {{1, 3, 4, 1, 0, 2}};
constexpr StageOps kOpsMulaFade = {{1, 0, 2, 1, 3, 14}};
constexpr StageOps kOpsClose = {{2, 0, 1, 2, 0, 1}};

// (minification, magnification, mip) per filter mode; other modes take row 0.
constexpr uint32_t kFilterRows[3][3] = {
    {D3DTEXF_POINT, D3DTEXF_POINT, D3DTEXF_NONE},
    {D3DTEXF_LINEAR, D3DTEXF_LINEAR, D3DTEXF_NONE},
    {D3DTEXF_ANISOTROPIC, D3DTEXF_LINEAR, D3DTEXF_LINEAR},
};

void SetStage(StageSettingsRecord* r, int stage, int graph, int texCoord, const StageOps& ops) {
  StageSetting& s = r->Stages[stage];
  s.GraphHandle = graph < 0 ? 0 : graph;
  s.TexCoordIndex = texCoord;
  std::memcpy(s.Ops, ops.v, sizeof s.Ops);
}

MV1Model* ModelOf(const MV1Mesh* mesh) { return mesh->Container->Container; }

int BlendModeOf(const MV1Mesh* mesh) {
  return mesh->DrawBlendMode != -1 ? mesh->DrawBlendMode : mesh->Material->DrawBlendMode;
}
int BlendParamOf(const MV1Mesh* mesh) {
  return mesh->DrawBlendParam != -1 ? mesh->DrawBlendParam : mesh->Material->DrawBlendParam;
}

// Texture factor and blend fields of the record (shared by the main pass and the outline).
void SetupBlend(StageSettingsRecord* r, const MV1Mesh* mesh) {
  r->First = 0;
  int alpha = FloatToIntFast(mesh->SetupDrawMaterial.OpacityRate * float(BlendParamOf(mesh)));
  if (alpha < 0) alpha = 0;  // also the NaN result
  if (alpha > 255) alpha = 255;
  r->TextureFactor = uint32_t(alpha) << 24 | 0xFFFFFFu;
  switch (BlendModeOf(mesh)) {
    case BLENDMODE::ALPHA:
    case BLENDMODE::INVSRC:
      r->AlphaBlendEnable = 1;
      r->SrcBlend = D3DBLEND_SRCALPHA;
      r->DestBlend = D3DBLEND_INVSRCALPHA;
      r->BlendOp = D3DBLENDOP_ADD;
      break;
    case BLENDMODE::ADD:
      r->AlphaBlendEnable = 1;
      r->SrcBlend = D3DBLEND_SRCALPHA;
      r->DestBlend = D3DBLEND_ONE;
      r->BlendOp = D3DBLENDOP_ADD;
      break;
    case BLENDMODE::SUB:
      r->AlphaBlendEnable = 1;
      r->SrcBlend = D3DBLEND_SRCALPHA;
      r->DestBlend = D3DBLEND_ONE;
      r->BlendOp = D3DBLENDOP_REVSUBTRACT;
      break;
    case BLENDMODE::MUL:
    case BLENDMODE::MULA:
      r->AlphaBlendEnable = 1;
      r->SrcBlend = D3DBLEND_ZERO;
      r->DestBlend = D3DBLEND_SRCCOLOR;
      r->BlendOp = D3DBLENDOP_ADD;
      break;
    default:  // NOBLEND and unlisted modes: blending off, the current factors kept
      r->AlphaBlendEnable = 0;
      break;
  }
}

COLOR_F Scale(const COLOR_F& c, const COLOR_F& s) { return {c.r * s.r, c.g * s.g, c.b * s.b, c.a * s.a}; }

bool SpecularOn(const MV1Mesh* mesh) {
  const MV1Material* m = mesh->Material;
  const MV1DrawState& ds = mesh->SetupDrawMaterial;
  const COLOR_F specular = ds.UseColorScale ? Scale(m->Specular, ds.SpecularScale) : m->Specular;
  bool on = mesh->Base->UseVertexSpecularColor || specular.r > 0.00001f || specular.g > 0.00001f ||
            specular.b > 0.00001f;
  if (m->Base->Type == 1 && !UseShaderFlag) on = false;
  return on;
}

// A model texture on a stage: its graph, address modes and filter.
int TextureStage(const MV1Mesh* mesh, int textureIndex, int stage, bool clamp) {
  MV1Model* model = ModelOf(mesh);
  if (textureIndex < 0 || textureIndex >= model->BaseData->TextureCount) return 0;
  const MV1Texture* t = &model->Texture[textureIndex];
  if (clamp) {
    SetTextureAddressUV(D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP, stage);
  } else {
    SetTextureAddressUV(t->AddressModeU, t->AddressModeV, stage);
  }
  const int mode = t->FilterMode >= 0 && t->FilterMode <= 2 ? t->FilterMode : 0;
  SetSamplerFilter(stage, 17, int(kFilterRows[mode][0]));
  SetSamplerFilter(stage, 16, int(kFilterRows[mode][1]));
  SetSamplerFilter(stage, 18, int(kFilterRows[mode][2]));
  const int graph = MV1TextureDrawGraph(t);
  return graph < 0 ? 0 : graph;
}

// A toon gradation stage: the material's texture, or the built-in gradation for -1.
int GradationStage(const MV1Mesh* mesh, int textureIndex, int builtin, int stage, bool clamp) {
  if (textureIndex >= 0) return TextureStage(mesh, textureIndex, stage, clamp);
  SetTextureAddressUV(D3DTADDRESS_CLAMP, D3DTADDRESS_CLAMP, stage);
  const int graph = MV1BuiltinTextureDrawGraph(builtin);
  return graph < 0 ? 0 : graph;
}

int WhiteGraph() {
  const int graph = MV1BuiltinTextureDrawGraph(MV1_BUILTIN_TEXTURE_WHITE);
  return graph < 0 ? 0 : graph;
}

// Texture-coordinate indices 0..7 on the 8 stages (shader mode).
void IdentityTexCoordIndices() {
  for (int s = 0; s < D3D_STAGE_COUNT; ++s) {
    if (DeviceState.TexCoordIndex[s] != s) SetTextureStageStateCached(s, D3DTSS_TEXCOORDINDEX, uint32_t(s));
  }
}

// The texture-factor stage (below full opacity) and the closing stage from `next` on.
void CloseFixedStages(StageSettingsRecord* r, int next, int blendMode) {
  if (r->TextureFactor != 0xFFFFFFFFu) {
    SetStage(r, next++, 0, 0, blendMode == BLENDMODE::MULA ? kOpsMulaFade : kOpsFactorAlpha);
  }
  SetStage(r, next, 0, 0, kOpsClose);
  r->StageCount = next + 1;
  RefreshBlendStates();
}

}  // namespace

int MV1TextureDrawGraph(const MV1Texture* t) {
  if (t->UseUserGraph) return t->UserGraphHandle;
  if (t->OwnGraph) return t->OwnGraphHandle;
  if (t->Base->UseUserGraph) return t->Base->UserGraphHandle;
  return t->Base->GraphHandle;
}

int MV1BuiltinTextureDrawGraph(int which) {
  int& graph = MV1BuiltinTextureGraph[which];
  if (graph >= 0 && GetGraphSize(graph, nullptr, nullptr) == 0) return graph;
  size_t size = 0;
  const unsigned char* image = MV1BuiltinTextureImage(which, &size);
  graph = CreateModelTextureGraphFromFile(image, size);
  if (graph < 0) {
    graph = -1;
    return -1;
  }
  D3D9BeginSceneGuard();
  return graph;
}

void MV1SetupMeshDrawMaterial(int* vertexShaderIndex, int* pixelShaderIndex,
                              StageSettingsRecord* record, MV1Mesh* mesh) {
  const MV1Material* m = mesh->Material;
  const MV1MaterialBase* mb = m->Base;
  const MV1MeshBase* base = mesh->Base;
  const MV1DrawState& ds = mesh->SetupDrawMaterial;
  COLOR_F dif = m->Diffuse, amb = m->Ambient, spc = m->Specular, emi = m->Emissive;
  if (ds.UseColorScale) {
    dif = Scale(dif, ds.DiffuseScale);
    amb = Scale(amb, ds.AmbientScale);
    spc = Scale(spc, ds.SpecularScale);
    emi = Scale(emi, ds.EmissiveScale);
  }
  Lighting3D.MaterialChangedFlag = 1;
  ApplyMaterial(&dif, &amb, &spc, &emi, m->Power);
  SetCullMode(base->BackCulling ? 1 : 0);
  SetupBlend(record, mesh);

  const bool toon = mb->Type == 1;
  const bool specular = SpecularOn(mesh);
  SetSpecularEnable(specular ? 1 : 0);
  SetDiffuseMaterialSource(base->UseVertexDiffuseColor ? 1 : 0);
  SetSpecularMaterialSource(base->UseVertexSpecularColor ? 1 : 0);
  SetLightingEnable(toon ? 0 : (Lighting3D.LightingOffFlag ? 0 : 1));

  int vs = 0, ps = 0;
  if (toon) {
    ps += 0x3600;
    if (m->DiffuseGradBlend == 2) ps += 0x1B00;
    if (m->SpecularGradBlend == 1 && specular) ps += 0xD80;
  }
  if (base->UseVertexDiffuseColor) vs += 4, ps += 4;
  if (base->UseVertexSpecularColor) vs += 2, ps += 2;
  if (mb->NormalLayerCount > 0) vs += 0x800, ps += 0xD8;
  if (specular) vs += 1, ps += 1;
  if (m->SpecularLayerCount > 0) ps += 0x360;
  *vertexShaderIndex += vs;
  *pixelShaderIndex += ps;
}

void MV1SetupMeshOutlineMaterial(StageSettingsRecord* record, MV1Mesh* mesh) {
  const MV1Material* m = mesh->Material;
  const COLOR_F dif = {m->OutlineColor.r, m->OutlineColor.g, m->OutlineColor.b, 1.0f};
  const COLOR_F zero = {0, 0, 0, 0};
  Lighting3D.MaterialChangedFlag = 1;
  ApplyMaterial(&dif, &zero, &zero, &zero, 0.0f);
  if (D3DObjects.Device) {
    const float width[4] = {m->OutlineWidth, m->OutlineWidth, m->OutlineWidth, m->OutlineWidth};
    D3DObjects.Device->SetVertexShaderConstantF(42, width, 1);
  }
  SetCullMode(2);
  SetupBlend(record, mesh);
  record->StageCount = 1;
  SetSpecularEnable(0);
  SetLightingEnable(0);
}

int MV1SetupMainTextureStages(MV1Mesh* mesh, StageSettingsRecord* r, bool shaderMode) {
  const MV1Material* m = mesh->Material;
  const MV1MaterialBase* mb = m->Base;
  const bool toon = mb->Type == 1;
  const int diffuseTex = m->DiffuseLayerCount > 0 ? m->DiffuseLayer[0].Texture : -1;
  if (shaderMode) {
    D3DDevice* dev = D3DObjects.Device;
    const float transform[8] = {1, 0, 0, 0, 0, 1, 0, 0};
    if (dev) dev->SetVertexShaderConstantF(88, transform, 2);
    SetStage(r, 0, m->DiffuseLayerCount > 0 ? TextureStage(mesh, diffuseTex, 0, false) : WhiteGraph(),
             0, kOpsTextureModulate);
    r->StageCount = 1;
    if (mb->NormalLayerCount > 0) {
      SetStage(r, 1, TextureStage(mesh, mb->NormalLayer[0].Texture, 1, false), 1, kOpsTextureModulate);
      r->StageCount = 2;
    }
    if (m->SpecularLayerCount > 0) {
      SetStage(r, 2, TextureStage(mesh, m->SpecularLayer[0].Texture, 2, false), 2, kOpsTextureModulate);
      r->StageCount = 3;
    } else {
      SetStage(r, 2, toon ? WhiteGraph() : 0, 2, kOpsTextureModulate);
    }
    if (toon) {
      r->StageCount = 5;
      SetStage(r, 3, GradationStage(mesh, m->DiffuseGradTexture, MV1_BUILTIN_TEXTURE_DIFFUSE_GRAD, 3, false),
               3, kOpsTextureModulate);
      SetStage(r, 4, GradationStage(mesh, m->SpecularGradTexture, MV1_BUILTIN_TEXTURE_SPECULAR_GRAD, 4, false),
               4, kOpsTextureModulate);
      const float invWidth = 1.0f / m->OutlineWidth;
      const float regs[12] = {m->OutlineColor.r, m->OutlineColor.g, m->OutlineColor.b, m->OutlineColor.a,
                              invWidth, invWidth, invWidth, invWidth, -1.0f, -1.0f, 0.0f, 0.0f};
      if (dev) dev->SetPixelShaderConstantF(6, regs, 3);
    }
    RefreshBlendStates();
    IdentityTexCoordIndices();
    return 0;
  }

  // Fixed function: no texture transform on the four coordinate stages.
  for (int s = 0; s < 4; ++s) SetTextureTransform(0, nullptr, s);
  SetStage(r, 0, m->DiffuseLayerCount > 0 ? TextureStage(mesh, diffuseTex, 0, false) : WhiteGraph(), 0,
           kOpsTextureModulate);
  int next = 1;
  if (toon) {
    const int n = MV1MemoryVertexUVSets(mesh->Base);
    SetStage(r, 1, GradationStage(mesh, m->DiffuseGradTexture, MV1_BUILTIN_TEXTURE_DIFFUSE_GRAD, 1, true), n,
             m->DiffuseGradBlend == 2 ? kOpsDiffuseGradBlend2 : kOpsDiffuseGradBlend0);
    SetStage(r, 2, GradationStage(mesh, m->SpecularGradTexture, MV1_BUILTIN_TEXTURE_SPECULAR_GRAD, 2, true),
             n + 1, kOpsSpecularGrad);
    next = 3;
  }
  CloseFixedStages(r, next, BlendModeOf(mesh));
  return 0;
}

int MV1SetupOutlineTextureStages(MV1Mesh* mesh, StageSettingsRecord* r, bool shaderMode) {
  const int blendMode = BlendModeOf(mesh);
  if (shaderMode) {
    SetStage(r, 0, WhiteGraph(), 0, kOpsTextureModulate);
    for (int s = 1; s < 3; ++s) SetStage(r, s, 0, s, kOpsTextureModulate);
    r->StageCount = 3;
    RefreshBlendStates();
    IdentityTexCoordIndices();
    return 0;
  }
  SetStage(r, 0, WhiteGraph(), 0, kOpsTextureModulate);
  CloseFixedStages(r, 1, blendMode);
  return 0;
}

// ---- Software toon lighting ----

namespace {

struct Vec {
  float x, y, z;
};
inline float Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec Sub(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec Mul(Vec a, float k) { return {a.x * k, a.y * k, a.z * k}; }
// The unit vector of v; a zero vector stays zero.
inline Vec Normalise(Vec v) {
  const float len = std::sqrt(Dot(v, v));
  return len > 0.0f ? Mul(v, 1.0f / len) : v;
}
inline Vec Point(Vec p, const MATRIX& m) {
  return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
          p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
          p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}
inline Vec Direction(Vec p, const MATRIX& m) {
  return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0],
          p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1],
          p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2]};
}
inline Vec V(const VECTOR& v) { return {v.x, v.y, v.z}; }
// Clamped to [0, 0.999]; not-a-number gives 0.
inline float Clamp999(float v) { return v > 0.0f ? (v < 0.999f ? v : 0.999f) : 0.0f; }

}  // namespace

void MV1CalcVertexLighting(MV1TriangleList* list, const MATRIX* world) {
  auto* mem = static_cast<uint8_t*>(list->TempVertexBuffer);
  if (!mem) return;
  const MV1MeshBase* mesh = list->Container;
  const int n = MV1MemoryVertexUVSets(mesh);
  const int stride = list->TempVertexStride;
  const MATRIX& view = ViewMatrices.View;
  const float power = MaterialConstants.Power;
  const int lights = DeviceLights.Count;
  for (int i = 0; i < list->VertexCount; ++i) {
    float* v = reinterpret_cast<float*>(mem + size_t(stride) * i);
    Vec pos = {v[0], v[1], v[2]}, nrm = {v[3], v[4], v[5]};
    if (world) {
      pos = Point(pos, *world);
      nrm = Normalise(Direction(nrm, *world));
    }
    const MV1MeshVertex* mv = MV1MeshVertexAt(mesh, int(list->MeshVertexIndex[i]));
    const float md = mesh->UseVertexDiffuseColor ? float(mv->Diffuse.r) / 255.0f : MaterialConstants.DiffuseR;
    const float ms = mesh->UseVertexSpecularColor ? float(mv->Specular.r) / 255.0f : MaterialConstants.SpecularR;
    const Vec eyePos = Point(pos, view);
    const Vec eyeNrm = Direction(nrm, view);
    const Vec toEye = Normalise(Mul(eyePos, -1.0f));
    float d = 0.0f, s = 0.0f;
    for (int l = 0; l < lights; ++l) {
      const DeviceLightSlot& slot = DeviceLights.Slots[l];
      const D3DLight& light = slot.Light;
      Vec L;
      float k, a = 1.0f, f = 1.0f;
      if (light.Type == 3) {
        L = V(light.Direction);
        k = -Dot(L, nrm);
        if (!(k > 0.0f)) k = 0.0f;
        d += md * k * slot.DiffuseFactor + slot.AmbientFactor;
      } else {
        const Vec toLight = Sub(V(light.Position), pos);
        const float r = std::sqrt(Dot(toLight, toLight));
        const Vec U = r > 0.0f ? Mul(toLight, 1.0f / r) : Vec{0, 0, 0};
        L = Mul(U, -1.0f);
        a = 1.0f / (slot.Attenuation0 + slot.Attenuation1 * r + slot.Attenuation2 * r * r);
        if (light.Type == 2) {
          const float cosPhi = std::cos(light.Phi / 2.0f), cosTheta = std::cos(light.Theta / 2.0f);
          const float rho = -Dot(V(light.Direction), U);
          if (cosTheta == cosPhi) {
            f = rho >= cosPhi ? 1.0f : 0.0f;
          } else if (rho < cosPhi) {
            f = 0.0f;
          } else if (rho > cosTheta) {
            f = 1.0f;
          } else {
            f = (rho - cosPhi) / (cosTheta - cosPhi);
          }
        }
        k = -Dot(L, nrm);
        if (!(k > 0.0f)) k = 0.0f;
        d += a * k * f * md * slot.DiffuseFactor + slot.AmbientFactor;
      }
      if (k > 0.0f) {
        const Vec H = Normalise(Sub(toEye, Direction(L, view)));
        const float hn = Dot(H, eyeNrm);
        const float p = hn > 0.0f ? std::pow(hn, power) : 0.0f;
        s += light.Type == 3 ? ms * p * slot.SpecularFactor : ms * f * a * p * slot.SpecularFactor;
      }
    }
    d = MaterialConstants.AmbientBase + d;
    v[8 + 4 * n] = Clamp999(d);
    v[12 + 4 * n] = Clamp999(s);
  }
}
