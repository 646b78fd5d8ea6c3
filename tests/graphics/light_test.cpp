// Light handles, the default light, the switches and the hand-over to device light slots.
#include <qzlib/graphics/light.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <qzlib/base/log.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/d3d_engine.h"

namespace {

using LightTest = D3DEngineTest;

bool SameLight(const D3DLight& a, const D3DLight& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(LightTest, HandlesAreCheckedAndSlotsReused) {
  const int a = CreatePointLightHandle(VECTOR{1, 2, 3}, 500, 1, 0.5f, 0.25f);
  const int b = CreateSpotLightHandle(VECTOR{0, 0, 0}, VECTOR{0, 0, 2}, 1.0f, 0.5f, 100, 1, 0, 0);
  ASSERT_GE(b, 0);
  EXPECT_EQ(b & 0x78000000, LIGHT_HANDLE_KIND);
  EXPECT_EQ(GetLightTypeHandle(a), 1);
  EXPECT_EQ(GetLightDirectionHandle(b).z, 2.0f);  // spot directions are kept as passed
  float range, a0, a1, a2, outer, inner;
  EXPECT_EQ(GetLightRangeAttenHandle(a, &range, &a0, &a1, &a2), 0);
  EXPECT_EQ(range * 1000 + a1 * 10 + a2 * 4, 500000 + 5 + 1);
  EXPECT_EQ(GetLightAngleHandle(b, &outer, nullptr), 0);
  EXPECT_EQ(outer, 1.0f);
  EXPECT_EQ(GetLightAngleHandle(b, nullptr, &inner), 0);
  EXPECT_EQ(inner, 0.5f);
  // The top-most slot comes back with a new check number; the old handle fails.
  ASSERT_EQ(DeleteLightHandle(b), 0);
  const int c = AddLightHandle();
  EXPECT_EQ(c & 0xFFFF, b & 0xFFFF);
  EXPECT_NE(c, b);
  const int bad[] = {b, -1, (a & ~0x78000000) | 0x08000000, a | 0xFFF, a ^ 0x10000};
  for (int h : bad) {
    EXPECT_EQ(GetLightTypeHandle(h), -1);
    EXPECT_EQ(SetLightPositionHandle(h, VECTOR{}), -1);
    EXPECT_EQ(GetLightDifColorHandle(h).g, -1.0f);
    EXPECT_EQ(GetLightPositionHandle(h).z, -1.0f);
    EXPECT_EQ(GetLightAngleHandle(h, &outer, &inner), -1);
    EXPECT_EQ(DeleteLightHandle(h), -1);
  }
  // Defaults of a new record.
  EXPECT_EQ(GetLightTypeHandle(c), 0);
  EXPECT_EQ(GetLightAmbColorHandle(c).a, 0.33f);
  EXPECT_EQ(GetLightEnableHandle(c), 1);
}

TEST_F(LightTest, SettersKeepTheirRules) {
  const int h = AddLightHandle();
  FlushLightsToDevice();
  EXPECT_EQ(SetLightEnableHandle(h, 1), 0);
  EXPECT_EQ(LightTable.DirtyFlag, 0);  // no change, not dirty
  EXPECT_EQ(SetLightEnableHandle(h, 7), 0);
  EXPECT_EQ(GetLightEnableHandle(h), 1);
  EXPECT_EQ(SetLightDifColorHandle(h, COLOR_F{0.1f, 0.2f, 0.3f, 0.7f}), 0);
  EXPECT_EQ(GetLightDifColorHandle(h).a, 0.0f);
  EXPECT_EQ(GetLightDifColorHandle(h).b, 0.3f);
  EXPECT_EQ(LightTable.DirtyFlag, 1);
  SetLightTypeHandle(h, 2);
  EXPECT_EQ(SetLightTypeHandle(h, 4), -1);
  EXPECT_EQ(SetLightTypeHandle(h, 0), -1);
  EXPECT_EQ(GetLightTypeHandle(h), 2);
  SetLightDirectionHandle(h, VECTOR{0, 3, 4});
  EXPECT_FLOAT_EQ(GetLightDirectionHandle(h).z, 0.8f);
  SetLightAngleHandle(h, 2.5f, 1.5f);
  float outer, inner;
  GetLightAngleHandle(h, &outer, &inner);
  EXPECT_EQ(outer * 10 + inner, 26.5f);
  EXPECT_EQ(SetLightEnableHandle(h, 0), 0);
  EXPECT_EQ(GetLightRecord(h)->DeviceSlot, -1);
  // The default light: deletable by handle, kept by DeleteLightHandleAll.
  const int def = LightTable.DefaultLightHandle;
  DeleteLightHandleAll();
  EXPECT_EQ(GetLightTypeHandle(h), -1);
  EXPECT_EQ(GetLightType(), 3);
  EXPECT_EQ(LightTable.Count, 1);
  EXPECT_EQ(ChangeLightTypePoint(VECTOR{1, 1, 1}, 10, 1, 0, 0), 0);
  EXPECT_EQ(GetLightTypeHandle(def), 1);
  EXPECT_EQ(ChangeLightTypeSpot(VECTOR{}, VECTOR{0, -2, 0}, 1, 0.5f, 9, 1, 0, 0), 0);
  EXPECT_EQ(GetLightDirection().y, -2.0f);
  EXPECT_EQ(ChangeLightTypeDir(VECTOR{0, -2, 0}), 0);
  EXPECT_EQ(GetLightDirection().y, -1.0f);
  EXPECT_EQ(DeleteLightHandle(def), 0);
  EXPECT_EQ(GetLightType(), -1);
  EXPECT_EQ(LightTable.HighWater, 0);
}

TEST_F(LightTest, GlobalAmbientAndSwitches) {
  SetGlobalAmbientLight(COLOR_F{1.5f, -0.2f, 0.5f, 1});
  EXPECT_EQ(Dev()->RenderState(D3DRS_AMBIENT), 0xFFFF0080u);
  SetUseLighting(0);
  EXPECT_EQ(Lighting3D.LightingOffFlag, 1);
  EXPECT_EQ(Dev()->RenderState(D3DRS_LIGHTING), 0u);
  SetUseVertDifColor(0);
  EXPECT_EQ(Lighting3D.UseMaterialDiffuse, 1);
  MATERIALPARAM m = {{1, 0.5f, 0, 1}, {0.5f, 0, 0, 0}, {0.25f, 0, 0, 0}, {0.125f, 0, 0, 0}, 7};
  SetMaterialParam(m);
  EXPECT_EQ(Lighting3D.MaterialChangedFlag, 1);
  BeginDrawPrimitive();
  EXPECT_EQ(Lighting3D.MaterialChangedFlag, 0);
  EXPECT_EQ(Dev()->Material().Power, 7.0f);
  EXPECT_EQ(Dev()->RenderState(D3DRS_DIFFUSEMATERIALSOURCE), uint32_t(D3DMCS_MATERIAL));
  EXPECT_EQ(Dev()->RenderState(D3DRS_SPECULARMATERIALSOURCE), uint32_t(D3DMCS_COLOR2));
  // The constants the software lighting reads: ambient base = emissive + ambient x 255 / 255.
  EXPECT_EQ(MaterialConstants.DiffuseR, 1.0f);
  EXPECT_EQ(MaterialConstants.SpecularR, 0.25f);
  EXPECT_EQ(MaterialConstants.AmbientBase, 0.125f + 0.5f);
  SetGlobalAmbientLight(COLOR_F{0, 0, 0, 0});
  EXPECT_EQ(MaterialConstants.AmbientBase, 0.125f);
}

// One property of a light: its setter on a handle and on the default light from four values,
// the rule for what the setter stores (written out here), and its getters on a handle and on
// the default light, read back into a record.
struct LightField {
  const char* Name;
  std::function<int(int handle, const float* v)> SetHandle;
  std::function<int(const float* v)> SetDefault;
  std::function<void(D3DLight* l, const float* v)> Stored;
  std::function<void(int handle, D3DLight* l)> GetHandle;
  std::function<void(D3DLight* l)> GetDefault;
};

COLOR_F ColourOf(const float* v) { return COLOR_F{v[0], v[1], v[2], v[3]}; }
VECTOR VectorOf(const float* v) { return VECTOR{v[0], v[1], v[2]}; }
COLOR_F StoredColour(const float* v) { return COLOR_F{v[0], v[1], v[2], 0}; }  // alpha 0

// Range and attenuations through the getter: each out-pointer alone, then all four.
void ReadRangeAtten(D3DLight* l, const std::function<int(float*, float*, float*, float*)>& get) {
  float* out[4] = {&l->Range, &l->Attenuation0, &l->Attenuation1, &l->Attenuation2};
  for (int k = 0; k < 4; ++k) {
    float* one[4] = {nullptr, nullptr, nullptr, nullptr};
    one[k] = out[k];
    EXPECT_EQ(get(one[0], one[1], one[2], one[3]), 0);
  }
  EXPECT_EQ(get(out[0], out[1], out[2], out[3]), 0);
}

const LightField kLightFields[] = {
    {"diffuse colour", [](int h, const float* v) { return SetLightDifColorHandle(h, ColourOf(v)); },
     [](const float* v) { return SetLightDifColor(ColourOf(v)); },
     [](D3DLight* l, const float* v) { l->Diffuse = StoredColour(v); },
     [](int h, D3DLight* l) { l->Diffuse = GetLightDifColorHandle(h); },
     [](D3DLight* l) { l->Diffuse = GetLightDifColor(); }},
    {"specular colour", [](int h, const float* v) { return SetLightSpcColorHandle(h, ColourOf(v)); },
     [](const float* v) { return SetLightSpcColor(ColourOf(v)); },
     [](D3DLight* l, const float* v) { l->Specular = StoredColour(v); },
     [](int h, D3DLight* l) { l->Specular = GetLightSpcColorHandle(h); },
     [](D3DLight* l) { l->Specular = GetLightSpcColor(); }},
    {"ambient colour", [](int h, const float* v) { return SetLightAmbColorHandle(h, ColourOf(v)); },
     [](const float* v) { return SetLightAmbColor(ColourOf(v)); },
     [](D3DLight* l, const float* v) { l->Ambient = StoredColour(v); },
     [](int h, D3DLight* l) { l->Ambient = GetLightAmbColorHandle(h); },
     [](D3DLight* l) { l->Ambient = GetLightAmbColor(); }},
    {"position", [](int h, const float* v) { return SetLightPositionHandle(h, VectorOf(v)); },
     [](const float* v) { return SetLightPosition(VectorOf(v)); },
     [](D3DLight* l, const float* v) { l->Position = VectorOf(v); },
     [](int h, D3DLight* l) { l->Position = GetLightPositionHandle(h); },
     [](D3DLight* l) { l->Position = GetLightPosition(); }},
    {"direction", [](int h, const float* v) { return SetLightDirectionHandle(h, VectorOf(v)); },
     [](const float* v) { return SetLightDirection(VectorOf(v)); },
     [](D3DLight* l, const float* v) {
       const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
       l->Direction = VECTOR{v[0] / len, v[1] / len, v[2] / len};
     },
     [](int h, D3DLight* l) { l->Direction = GetLightDirectionHandle(h); },
     [](D3DLight* l) { l->Direction = GetLightDirection(); }},
    {"range and attenuation",
     [](int h, const float* v) { return SetLightRangeAttenHandle(h, v[0], v[1], v[2], v[3]); },
     [](const float* v) { return SetLightRangeAtten(v[0], v[1], v[2], v[3]); },
     [](D3DLight* l, const float* v) {
       l->Range = v[0];
       l->Attenuation0 = v[1];
       l->Attenuation1 = v[2];
       l->Attenuation2 = v[3];
     },
     [](int h, D3DLight* l) {
       ReadRangeAtten(l, [h](float* r, float* a0, float* a1, float* a2) {
         return GetLightRangeAttenHandle(h, r, a0, a1, a2);
       });
     },
     [](D3DLight* l) { ReadRangeAtten(l, GetLightRangeAtten); }},
    {"angle", [](int h, const float* v) { return SetLightAngleHandle(h, v[0], v[1]); },
     [](const float* v) { return SetLightAngle(v[0], v[1]); },
     [](D3DLight* l, const float* v) {
       l->Phi = v[0];
       l->Theta = v[1];
       l->Falloff = 1;
     },
     [](int h, D3DLight* l) { EXPECT_EQ(GetLightAngleHandle(h, &l->Phi, &l->Theta), 0); },
     [](D3DLight* l) { EXPECT_EQ(GetLightAngle(&l->Phi, &l->Theta), 0); }},
};

// Every setter, on a handle and on the default light, over records filled with seeded values
// that differ everywhere: it stores its field by its rule and nothing else, marks that light
// changed and the table dirty, and leaves the other light alone; every getter reads its field
// back. A bad handle changes nothing.
TEST_F(LightTest, EverySetterStoresItsFieldAndEveryGetterReadsIt) {
  const int other = AddLightHandle();
  const int def = LightTable.DefaultLightHandle;
  uint32_t seed = 0;
  for (const LightField& f : kLightFields) {
    for (bool onDefault : {false, true}) {
      SCOPED_TRACE(std::string(f.Name) + (onDefault ? " on the default light" : " on a handle"));
      std::mt19937 rng(++seed);
      std::uniform_real_distribution<float> value(-100, 100);
      LightHandleData* records[2] = {GetLightRecord(other), GetLightRecord(def)};
      for (LightHandleData* r : records) {
        float* fields = reinterpret_cast<float*>(&r->Light.Diffuse);
        for (size_t k = 0; k < (sizeof(D3DLight) - offsetof(D3DLight, Diffuse)) / sizeof(float); ++k)
          fields[k] = value(rng);
        r->ChangedFlag = 0;
      }
      LightTable.DirtyFlag = 0;
      const D3DLight before[2] = {records[0]->Light, records[1]->Light};
      const float v[4] = {value(rng), value(rng), value(rng), value(rng)};
      const int target = onDefault ? 1 : 0;
      EXPECT_EQ(onDefault ? f.SetDefault(v) : f.SetHandle(other, v), 0);
      D3DLight want = before[target];
      f.Stored(&want, v);
      EXPECT_TRUE(SameLight(records[target]->Light, want));
      EXPECT_TRUE(SameLight(records[1 - target]->Light, before[1 - target]));
      EXPECT_EQ(records[target]->ChangedFlag, 1);
      EXPECT_EQ(records[1 - target]->ChangedFlag, 0);
      EXPECT_EQ(LightTable.DirtyFlag, 1);
      // The getters read each light's own record.
      for (int k = 0; k < 2; ++k) {
        D3DLight got = records[k]->Light;
        f.GetHandle(records[k]->Handle, &got);
        EXPECT_TRUE(SameLight(got, records[k]->Light)) << "handle getter, light " << k;
      }
      D3DLight got = records[1]->Light;
      f.GetDefault(&got);
      EXPECT_TRUE(SameLight(got, records[1]->Light)) << "default getter";
      // A stale handle: -1, nothing changed.
      const D3DLight now[2] = {records[0]->Light, records[1]->Light};
      EXPECT_EQ(f.SetHandle(other ^ 0x10000, v), -1);
      EXPECT_TRUE(SameLight(records[0]->Light, now[0]) && SameLight(records[1]->Light, now[1]));
    }
  }
  DeleteLightHandle(other);
}

// The vertex-colour switches store their flag inverted, and the next 3-D draw takes the diffuse
// (specular) colour from the vertex when the flag is set, from the material otherwise.
TEST_F(LightTest, VertexColourSwitchesChooseTheMaterialSources) {
  struct Switch {
    const char* Name;
    int (*Set)(int);
    const int* Stored;
    uint32_t State;
    uint32_t FromVertex;
  };
  const Switch switches[] = {
      {"diffuse", SetUseVertDifColor, &Lighting3D.UseMaterialDiffuse, D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
      {"specular", SetUseVertSpcColor, &Lighting3D.UseMaterialSpecular, D3DRS_SPECULARMATERIALSOURCE, D3DMCS_COLOR2},
  };
  for (const Switch& sw : switches) {
    const Switch& otherSwitch = &sw == &switches[0] ? switches[1] : switches[0];
    for (int flag : {1, 0, 5, 0, -1}) {
      SCOPED_TRACE(std::string(sw.Name) + " flag " + std::to_string(flag));
      otherSwitch.Set(0);
      EXPECT_EQ(sw.Set(flag), 0);
      EXPECT_EQ(*sw.Stored, flag ? 0 : 1);
      EXPECT_EQ(*otherSwitch.Stored, 1);
      BeginDrawPrimitive();
      EXPECT_EQ(Dev()->RenderState(sw.State), flag ? sw.FromVertex : uint32_t(D3DMCS_MATERIAL));
      EXPECT_EQ(Dev()->RenderState(otherSwitch.State), uint32_t(D3DMCS_MATERIAL));
    }
  }
  SetUseVertDifColor(1);
  SetUseVertSpcColor(1);
}

TEST_F(LightTest, CheckNumbersWrapAfter2047) {
  const int first = LightTable.NextCheckNumber;
  std::vector<int> seen;
  for (int i = 0; i < 2049; ++i) {
    const int h = AddLightHandle();
    seen.push_back((h >> 16) & 0x7FF);
    DeleteLightHandle(h);
  }
  for (int i = 0; i < 2049; ++i) EXPECT_EQ(seen[i], (first + i) % 2048);
}

TEST_F(LightTest, FullTableAndLostRecordEndTheProgram) {
  LogCaptureBegin();
  {
    FatalErrorCatcher fatal;
    MemSetFailAt(1);
    EXPECT_THROW(AddLightHandle(), FatalErrorThrown);
    MemSetFailAt(0);
    while (LightTable.Count < LIGHT_HANDLE_MAX) AddLightHandle();
    EXPECT_THROW(AddLightHandle(), FatalErrorThrown);
  }
  const std::string log = LogCaptureTextWithoutStamps();
  LogCaptureEnd();
  EXPECT_EQ(log, std::string(TEXT_LIGHT_ALLOC_FAILED) + "\r\n" + TEXT_LIGHT_HANDLE_FULL + "\r\n");
  // A free slot below the mark is found when the mark is at the end.
  const int h = LightTable.Lights[100]->Handle;
  DeleteLightHandle(h);
  EXPECT_EQ(AddLightHandle() & 0xFFFF, 100);
  DeleteLightHandleAll();
  EXPECT_EQ(LightTable.Count, 1);
}

TEST_F(LightTest, FlushCompactsEnabledLightsIntoSlots) {
  SetLightEnable(0);
  const int a = CreateDirLightHandle(VECTOR{1, 0, 0});
  const int b = CreateDirLightHandle(VECTOR{0, 1, 0});
  const int c = CreateDirLightHandle(VECTOR{0, 0, 1});
  Dev()->ClearRecord();
  FlushLightsToDevice();
  EXPECT_EQ(GetLightRecord(a)->DeviceSlot, 0);
  EXPECT_EQ(GetLightRecord(b)->DeviceSlot, 1);
  EXPECT_EQ(GetLightRecord(c)->DeviceSlot, 2);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetLight), 3u);
  EXPECT_EQ(DeviceLights.Count, 3);
  SetLightEnableHandle(b, 0);
  Dev()->ClearRecord();
  FlushLightsToDevice();
  EXPECT_EQ(GetLightRecord(c)->DeviceSlot, 1);
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetLight), 1u);  // only C moved
  EXPECT_TRUE(SameLight(*Dev()->Light(1), GetLightRecord(c)->Light));
  EXPECT_FALSE(Dev()->IsLightEnabled(2));
  EXPECT_TRUE(Dev()->IsLightEnabled(1));
  EXPECT_EQ(LightTable.DeviceSlotHighest, 1);
  Dev()->ClearRecord();
  FlushLightsToDevice();  // nothing dirty: only the lighting state, and it is cached
  EXPECT_EQ(Dev()->StateCallCount(), 0u);
  LightTable.ForceResendFlag = 1;
  FlushLightsToDevice();
  EXPECT_EQ(Dev()->CallCount(D3DMethod::SetLight), 2u);
}

// The hand-over checked against the rule recomputed from nothing after random steps.
TEST_F(LightTest, FlushMatchesABruteForceReference) {
  for (int seed = 0; seed < 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    DeleteLightHandleAll();
    FlushLightsToDevice();
    std::vector<int> live = {LightTable.DefaultLightHandle};
    for (int step = 0; step < 120; ++step) {
      const int op = int(rng() % 6);
      if (op == 0 || live.empty()) {
        live.push_back(CreatePointLightHandle(VECTOR{float(rng() % 9), 0, 0}, 10, 1, 0, 0));
      } else {
        const size_t i = rng() % live.size();
        const int h = live[i];
        if (op == 1) SetLightEnableHandle(h, 1);
        else if (op == 2) SetLightEnableHandle(h, 0);
        else if (op == 3) SetLightPositionHandle(h, VECTOR{float(rng() % 50), 1, 2});
        else if (op == 4 && h != LightTable.DefaultLightHandle) {
          DeleteLightHandle(h);
          live.erase(live.begin() + long(i));
        }
      }
      if (rng() % 3) continue;
      FlushLightsToDevice();
      // Reference: enabled lights in slot order take device slots 0, 1, ...
      int slot = 0;
      for (int s = 0; s < LightTable.HighWater; ++s) {
        LightHandleData* l = LightTable.Lights[s];
        if (!l || !l->EnableFlag) continue;
        ASSERT_EQ(l->DeviceSlot, slot);
        ASSERT_TRUE(Dev()->IsLightEnabled(uint32_t(slot)));
        ASSERT_TRUE(SameLight(*Dev()->Light(uint32_t(slot)), l->Light));
        ASSERT_TRUE(SameLight(DeviceLights.Slots[slot].Light, l->Light));
        ++slot;
      }
      for (int s = slot; s < slot + 64; ++s) ASSERT_FALSE(Dev()->IsLightEnabled(uint32_t(s)));
      ASSERT_EQ(DeviceLights.Count, slot);
    }
  }
}

}  // namespace
