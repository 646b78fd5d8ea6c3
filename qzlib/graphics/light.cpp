#include <qzlib/graphics/light.h>

#include <cmath>

#include <qzlib/base/fatal_error.h>
#include <qzlib/base/memory.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/math/math3d.h>
#include <qzlib/base/engine_texts.h>

LightHandleTable LightTable = {{}, 0, 0, 0, 0, -1, 0, 0, -1};
Lighting3DState Lighting3D = {0, 1, {{0.8f, 0.8f, 0.8f, 1}, {0, 0, 0, 0}, {0.8f, 0.8f, 0.8f, 0}, {0, 0, 0, 0}, 20}, 0, 0};

namespace {

constexpr int kCheckShift = 16;
constexpr int kCheckMask = 0x7FF;
constexpr int kKindMask = 0x78000000;
constexpr int kIndexMask = 0xFFFF;

const COLOR_F kBadColor = {-1, -1, -1, -1};
const VECTOR kBadVector = {-1, -1, -1};

// Marks a light for sending and the table dirty.
void Touch(LightHandleData* l) {
  l->ChangedFlag = 1;
  LightTable.DirtyFlag = 1;
}

void SetDefaults(LightHandleData* l) {
  l->Light = D3DLight{};
  l->Light.Diffuse = COLOR_F{1, 1, 1, 1};
  l->Light.Specular = COLOR_F{1, 1, 1, 1};
  l->Light.Ambient = COLOR_F{0.33f, 0.33f, 0.33f, 0.33f};
  l->Light.Range = 2000;
  l->Light.Falloff = 1;
  l->Light.Attenuation0 = 0.1f;
  l->Light.Theta = 2.0f;
  l->Light.Phi = 2.0f;
  l->DeviceSlot = -1;
}

VECTOR Normalized(VECTOR v) {
  VECTOR out;
  VectorNormalize(&out, &v);
  return out;
}

void SetSpot(LightHandleData* l, VECTOR position, VECTOR direction, float outer, float inner,
             float range, float a0, float a1, float a2) {
  l->Light.Type = 2;
  l->Light.Position = position;
  l->Light.Direction = direction;  // kept as passed
  l->Light.Phi = outer;
  l->Light.Theta = inner;
  l->Light.Range = range;
  l->Light.Falloff = 1;
  l->Light.Attenuation0 = a0;
  l->Light.Attenuation1 = a1;
  l->Light.Attenuation2 = a2;
}

void SetPoint(LightHandleData* l, VECTOR position, float range, float a0, float a1, float a2) {
  l->Light.Type = 1;
  l->Light.Position = position;
  l->Light.Range = range;
  l->Light.Attenuation0 = a0;
  l->Light.Attenuation1 = a1;
  l->Light.Attenuation2 = a2;
}

COLOR_F NoAlpha(COLOR_F c) { return COLOR_F{c.r, c.g, c.b, 0}; }

// Runs op on the record of a live light: -1 for a bad handle, else 0 and the light touched.
template <class F>
int Change(int handle, F op) {
  LightHandleData* l = GetLightRecord(handle);
  if (!l) return -1;
  op(l);
  Touch(l);
  return 0;
}

}  // namespace

LightHandleData* GetLightRecord(int handle) {
  if (handle < 0 || (handle & kKindMask) != LIGHT_HANDLE_KIND) return nullptr;
  const int index = handle & kIndexMask;
  if (index >= LIGHT_HANDLE_MAX) return nullptr;
  LightHandleData* l = LightTable.Lights[index];
  if (!l || l->CheckNumber != ((handle >> kCheckShift) & kCheckMask)) return nullptr;
  return l;
}

int AddLightHandle() {
  int slot = LightTable.HighWater;
  if (slot >= LIGHT_HANDLE_MAX) {
    slot = -1;
    for (int i = 0; i < LIGHT_HANDLE_MAX; ++i)
      if (!LightTable.Lights[i]) {
        slot = i;
        break;
      }
    // A full table ends the program, as the graph table does.
    if (slot < 0) FatalErrorExit(TEXT_LIGHT_HANDLE_FULL);
  }
  LightHandleData* l = static_cast<LightHandleData*>(MEM_CALLOC(sizeof(LightHandleData)));
  if (!l) FatalErrorExit(TEXT_LIGHT_ALLOC_FAILED);
  SetDefaults(l);
  l->CheckNumber = LightTable.NextCheckNumber;
  LightTable.NextCheckNumber = (LightTable.NextCheckNumber + 1) & kCheckMask;
  l->Handle = LIGHT_HANDLE_KIND | (l->CheckNumber << kCheckShift) | slot;
  LightTable.Lights[slot] = l;
  ++LightTable.Count;
  if (slot == LightTable.HighWater) ++LightTable.HighWater;
  SetLightEnableHandle(l->Handle, 1);
  return l->Handle;
}

int CreateDirLightHandle(VECTOR direction) {
  const int h = AddLightHandle();
  LightHandleData* l = GetLightRecord(h);
  l->Light.Type = 3;
  l->Light.Direction = Normalized(direction);
  return h;
}

int CreateSpotLightHandle(VECTOR position, VECTOR direction, float outer, float inner, float range,
                          float a0, float a1, float a2) {
  const int h = AddLightHandle();
  SetSpot(GetLightRecord(h), position, direction, outer, inner, range, a0, a1, a2);
  return h;
}

int CreatePointLightHandle(VECTOR position, float range, float a0, float a1, float a2) {
  const int h = AddLightHandle();
  SetPoint(GetLightRecord(h), position, range, a0, a1, a2);
  return h;
}

int SetLightTypeHandle(int handle, int type) {
  LightHandleData* l = GetLightRecord(handle);
  if (!l || type < 1 || type > 3) return -1;
  l->Light.Type = type;
  Touch(l);
  return 0;
}

int SetLightEnableHandle(int handle, int flag) {
  LightHandleData* l = GetLightRecord(handle);
  if (!l) return -1;
  flag = flag ? 1 : 0;
  if (flag == l->EnableFlag) return 0;
  l->EnableFlag = flag;
  if (!flag) l->DeviceSlot = -1;
  Touch(l);
  return 0;
}

int SetLightDifColorHandle(int handle, COLOR_F c) {
  return Change(handle, [&](LightHandleData* l) { l->Light.Diffuse = NoAlpha(c); });
}
int SetLightSpcColorHandle(int handle, COLOR_F c) {
  return Change(handle, [&](LightHandleData* l) { l->Light.Specular = NoAlpha(c); });
}
int SetLightAmbColorHandle(int handle, COLOR_F c) {
  return Change(handle, [&](LightHandleData* l) { l->Light.Ambient = NoAlpha(c); });
}
int SetLightDirectionHandle(int handle, VECTOR d) {
  return Change(handle, [&](LightHandleData* l) { l->Light.Direction = Normalized(d); });
}
int SetLightPositionHandle(int handle, VECTOR p) {
  return Change(handle, [&](LightHandleData* l) { l->Light.Position = p; });
}
int SetLightRangeAttenHandle(int handle, float range, float a0, float a1, float a2) {
  return Change(handle, [&](LightHandleData* l) {
    l->Light.Range = range;
    l->Light.Attenuation0 = a0;
    l->Light.Attenuation1 = a1;
    l->Light.Attenuation2 = a2;
  });
}
int SetLightAngleHandle(int handle, float outer, float inner) {
  return Change(handle, [&](LightHandleData* l) {
    l->Light.Phi = outer;
    l->Light.Theta = inner;
    l->Light.Falloff = 1;
  });
}

int DeleteLightHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  if (!l) return -1;
  const int slot = handle & kIndexMask;
  --LightTable.Count;
  if (slot == LightTable.HighWater - 1) {
    int mark = slot;
    while (mark > 0 && !LightTable.Lights[mark - 1]) --mark;
    LightTable.HighWater = LightTable.Count == 0 ? 0 : mark;
  }
  MEM_FREE(l);
  LightTable.Lights[slot] = nullptr;
  LightTable.DirtyFlag = 1;
  return 0;
}

int DeleteLightHandleAll() {
  for (int i = 0; i < LightTable.HighWater; ++i) {
    LightHandleData* l = LightTable.Lights[i];
    if (l && l->Handle != LightTable.DefaultLightHandle) DeleteLightHandle(l->Handle);
  }
  return 0;
}

void TerminateLights() {
  for (int i = 0; i < LIGHT_HANDLE_MAX; ++i)
    if (LightTable.Lights[i]) DeleteLightHandle(LightTable.Lights[i]->Handle);
  LightTable.DefaultLightHandle = -1;
}

int GetLightTypeHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  return l ? l->Light.Type : -1;
}
int GetLightEnableHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  return l ? l->EnableFlag : -1;
}
COLOR_F GetLightDifColorHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  return l ? l->Light.Diffuse : kBadColor;
}
COLOR_F GetLightSpcColorHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  return l ? l->Light.Specular : kBadColor;
}
COLOR_F GetLightAmbColorHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  return l ? l->Light.Ambient : kBadColor;
}
VECTOR GetLightDirectionHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  return l ? l->Light.Direction : kBadVector;
}
VECTOR GetLightPositionHandle(int handle) {
  LightHandleData* l = GetLightRecord(handle);
  return l ? l->Light.Position : kBadVector;
}
int GetLightRangeAttenHandle(int handle, float* range, float* a0, float* a1, float* a2) {
  LightHandleData* l = GetLightRecord(handle);
  if (!l) return -1;
  if (range) *range = l->Light.Range;
  if (a0) *a0 = l->Light.Attenuation0;
  if (a1) *a1 = l->Light.Attenuation1;
  if (a2) *a2 = l->Light.Attenuation2;
  return 0;
}
int GetLightAngleHandle(int handle, float* outer, float* inner) {
  LightHandleData* l = GetLightRecord(handle);
  if (!l) return -1;
  if (outer) *outer = l->Light.Phi;
  if (inner) *inner = l->Light.Theta;
  return 0;
}

#define DEFAULT_LIGHT LightTable.DefaultLightHandle
int SetLightEnable(int flag) { return SetLightEnableHandle(DEFAULT_LIGHT, flag); }
int SetLightDifColor(COLOR_F c) { return SetLightDifColorHandle(DEFAULT_LIGHT, c); }
int SetLightSpcColor(COLOR_F c) { return SetLightSpcColorHandle(DEFAULT_LIGHT, c); }
int SetLightAmbColor(COLOR_F c) { return SetLightAmbColorHandle(DEFAULT_LIGHT, c); }
int SetLightDirection(VECTOR d) { return SetLightDirectionHandle(DEFAULT_LIGHT, d); }
int SetLightPosition(VECTOR p) { return SetLightPositionHandle(DEFAULT_LIGHT, p); }
int SetLightRangeAtten(float range, float a0, float a1, float a2) {
  return SetLightRangeAttenHandle(DEFAULT_LIGHT, range, a0, a1, a2);
}
int SetLightAngle(float outer, float inner) { return SetLightAngleHandle(DEFAULT_LIGHT, outer, inner); }
int GetLightType() { return GetLightTypeHandle(DEFAULT_LIGHT); }
int GetLightEnable() { return GetLightEnableHandle(DEFAULT_LIGHT); }
COLOR_F GetLightDifColor() { return GetLightDifColorHandle(DEFAULT_LIGHT); }
COLOR_F GetLightSpcColor() { return GetLightSpcColorHandle(DEFAULT_LIGHT); }
COLOR_F GetLightAmbColor() { return GetLightAmbColorHandle(DEFAULT_LIGHT); }
VECTOR GetLightDirection() { return GetLightDirectionHandle(DEFAULT_LIGHT); }
VECTOR GetLightPosition() { return GetLightPositionHandle(DEFAULT_LIGHT); }
int GetLightRangeAtten(float* range, float* a0, float* a1, float* a2) {
  return GetLightRangeAttenHandle(DEFAULT_LIGHT, range, a0, a1, a2);
}
int GetLightAngle(float* outer, float* inner) { return GetLightAngleHandle(DEFAULT_LIGHT, outer, inner); }

int ChangeLightTypeDir(VECTOR direction) {
  return Change(DEFAULT_LIGHT, [&](LightHandleData* l) {
    l->Light.Type = 3;
    l->Light.Direction = Normalized(direction);
  });
}
int ChangeLightTypeSpot(VECTOR position, VECTOR direction, float outer, float inner, float range,
                        float a0, float a1, float a2) {
  return Change(DEFAULT_LIGHT, [&](LightHandleData* l) {
    SetSpot(l, position, direction, outer, inner, range, a0, a1, a2);
  });
}
int ChangeLightTypePoint(VECTOR position, float range, float a0, float a1, float a2) {
  return Change(DEFAULT_LIGHT,
                [&](LightHandleData* l) { SetPoint(l, position, range, a0, a1, a2); });
}
#undef DEFAULT_LIGHT

void SetupDefaultLight() {
  const VECTOR dir = {1, -1, 1};
  LightHandleData* l = GetLightRecord(LightTable.DefaultLightHandle);
  if (!l) {
    LightTable.DefaultLightHandle = CreateDirLightHandle(dir);
    return;
  }
  // Graphics restarted while the default light lives: reset it in place, as a new one would be.
  const int slot = l->DeviceSlot;
  SetDefaults(l);
  l->DeviceSlot = slot;
  l->Light.Type = 3;
  l->Light.Direction = Normalized(dir);
  l->EnableFlag = 1;
  Touch(l);
}

int SetUseLighting(int flag) {
  Lighting3D.LightingOffFlag = flag ? 0 : 1;
  SetLightingEnable(flag);
  LightTable.DirtyFlag = 1;
  return 0;
}

int SetUseVertDifColor(int flag) {
  Lighting3D.UseMaterialDiffuse = flag ? 0 : 1;
  return 0;
}

int SetUseVertSpcColor(int flag) {
  Lighting3D.UseMaterialSpecular = flag ? 0 : 1;
  return 0;
}

int SetMaterialParam(MATERIALPARAM material) {
  Lighting3D.Material = material;
  Lighting3D.MaterialChangedFlag = 1;
  return 0;
}

int SetGlobalAmbientLight(COLOR_F color) {
  auto to255 = [](float v) {
    v = v < 0 ? 0 : (v > 1 ? 1 : v);
    return static_cast<int>(std::lround(v * 255.0f));
  };
  return SetAmbientRenderState(to255(color.r), to255(color.g), to255(color.b));
}

void ResetMaterial3D() {
  Lighting3D.Material = MATERIALPARAM{
      {0.8f, 0.8f, 0.8f, 1}, {0, 0, 0, 0}, {0.8f, 0.8f, 0.8f, 0}, {0, 0, 0, 0}, 20};
  Lighting3D.MaterialChangedFlag = 1;
}
