// Light handles, the default light and the global 3-D lighting switches and material.
//
// A light is a LibHandle of kind LIGHT_HANDLE_KIND (check number in bits 16-26, slot in bits
// 0-15). Every handle operation checks the handle and returns -1 on a mismatch (colour and vector
// getters: every component -1). Changes do not reach the device here: they set the record's
// changed flag and the table's dirty flag, and FlushLightsToDevice (graphics core) hands them
// over before the next draw.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/platform/d3d_device.h>

constexpr int32_t LIGHT_HANDLE_KIND = 0x60000000;
constexpr int LIGHT_HANDLE_MAX = 4096;

struct LightHandleData {
  int CheckNumber;
  int Handle;
  D3DLight Light;  // type, diffuse, specular, ambient, position, direction, range, falloff,
                   // attenuation 0-2, theta, phi
  int DeviceSlot;  // -1 when the light holds none
  int EnableFlag;  // 0 or 1
  int ChangedFlag;
};

struct LightHandleTable {
  LightHandleData* Lights[LIGHT_HANDLE_MAX];
  int Count;
  int HighWater;         // one past the highest occupied slot
  int NextCheckNumber;   // 0..2047
  int DeviceSlotCount;   // written by FlushLightsToDevice
  int DeviceSlotHighest;
  int DirtyFlag;
  int ForceResendFlag;
  int DefaultLightHandle;
};
extern LightHandleTable LightTable;

// The global 3-D switches and material.
struct Lighting3DState {
  int LightingOffFlag;     // !SetUseLighting's argument
  int MaterialChangedFlag;
  MATERIALPARAM Material;
  int UseMaterialDiffuse;  // !SetUseVertDifColor's argument
  int UseMaterialSpecular; // !SetUseVertSpcColor's argument
};
extern Lighting3DState Lighting3D;

// The record of a live light, or null.
LightHandleData* GetLightRecord(int handle);

// A new light with the defaults, enabled. Ends the program through FatalErrorExit when the record
// cannot be allocated or all 4096 slots are in use.
int AddLightHandle();
int CreateDirLightHandle(VECTOR direction);  // type 3, direction normalised
int CreateSpotLightHandle(VECTOR position, VECTOR direction, float outerAngle, float innerAngle,
                          float range, float atten0, float atten1, float atten2);
int CreatePointLightHandle(VECTOR position, float range, float atten0, float atten1, float atten2);
int SetLightTypeHandle(int handle, int type);  // 1, 2 or 3, else -1
int SetLightEnableHandle(int handle, int flag);
int SetLightDifColorHandle(int handle, COLOR_F color);  // alpha stored as 0
int SetLightSpcColorHandle(int handle, COLOR_F color);
int SetLightAmbColorHandle(int handle, COLOR_F color);
int SetLightDirectionHandle(int handle, VECTOR direction);  // normalised
int SetLightPositionHandle(int handle, VECTOR position);
int SetLightRangeAttenHandle(int handle, float range, float atten0, float atten1, float atten2);
int SetLightAngleHandle(int handle, float outerAngle, float innerAngle);
int DeleteLightHandle(int handle);
// Deletes every light except the default light. Returns 0.
int DeleteLightHandleAll();
// Deletes every light, the default one included (graphics end).
void TerminateLights();
int GetLightTypeHandle(int handle);
int GetLightEnableHandle(int handle);
COLOR_F GetLightDifColorHandle(int handle);
COLOR_F GetLightSpcColorHandle(int handle);
COLOR_F GetLightAmbColorHandle(int handle);
VECTOR GetLightDirectionHandle(int handle);
VECTOR GetLightPositionHandle(int handle);
int GetLightRangeAttenHandle(int handle, float* range, float* atten0, float* atten1,
                             float* atten2);
int GetLightAngleHandle(int handle, float* outerAngle, float* innerAngle);

// The default light: the handle operations on LightTable.DefaultLightHandle.
int SetLightEnable(int flag);
int SetLightDifColor(COLOR_F color);
int SetLightSpcColor(COLOR_F color);
int SetLightAmbColor(COLOR_F color);
int SetLightDirection(VECTOR direction);
int SetLightPosition(VECTOR position);
int SetLightRangeAtten(float range, float atten0, float atten1, float atten2);
int SetLightAngle(float outerAngle, float innerAngle);
int GetLightType();
int GetLightEnable();
COLOR_F GetLightDifColor();
COLOR_F GetLightSpcColor();
COLOR_F GetLightAmbColor();
VECTOR GetLightDirection();
VECTOR GetLightPosition();
int GetLightRangeAtten(float* range, float* atten0, float* atten1, float* atten2);
int GetLightAngle(float* outerAngle, float* innerAngle);
int ChangeLightTypeDir(VECTOR direction);
int ChangeLightTypeSpot(VECTOR position, VECTOR direction, float outerAngle, float innerAngle,
                        float range, float atten0, float atten1, float atten2);
int ChangeLightTypePoint(VECTOR position, float range, float atten0, float atten1, float atten2);

// The default light of the draw-settings reset: created as CreateDirLightHandle((1, -1, 1)), or,
// when it is still live, reset to what that call would give.
void SetupDefaultLight();

// Switches. All return 0.
int SetUseLighting(int flag);
int SetUseVertDifColor(int flag);
int SetUseVertSpcColor(int flag);
int SetMaterialParam(MATERIALPARAM material);
// r, g, b clamped to 0..1, times 255, rounded, to SetAmbientRenderState; alpha ignored.
int SetGlobalAmbientLight(COLOR_F color);
// The material of the draw-settings reset, marked changed.
void ResetMaterial3D();
