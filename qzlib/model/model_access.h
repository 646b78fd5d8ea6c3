// Model API accessors: the handle-checked getters and setters of a model's visibility, colour
// scales, opacity, materials, textures, frames and meshes, and the semi-transparency queries.
//
// Every call needs a started model system and a valid model handle; material, texture, frame and
// mesh indices lie in 0..count-1 (frame -1, the model's top level, where said). Failures return
// -1, -1.0, null, (-1, -1, -1, -1) for colours or (-1, -1, -1) for box corners and change
// nothing. "Unchanged" setters compare bit for bit and return 0 with no effect.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/model/model.h>

// ---- Semi-transparency caches ----

// Forgets the cached answers of a mesh, its frame, every ancestor and the model.
void MV1ClearMeshSemiTransCache(MV1Mesh* mesh);
// Forgets the cached answers of a frame, every ancestor and the model.
void MV1ClearFrameSemiTransCache(MV1Frame* frame);

// 1 when any top-level frame draws something semi-transparent, else 0 (cached); -1 bad handle.
int MV1GetSemiTransState(int modelHandle);
// 1 when the frame or a frame below it has a semi-transparent mesh (cached per frame; every mesh
// and child is evaluated); walks a tree of any depth without recursion.
int MV1GetFrameSemiTransState(int modelHandle, int frameIndex);
// 1 when the mesh draws semi-transparent: its blend, material and scale alphas, opacity, or its
// diffuse texture's flag (cached); the draw state is refreshed first when out of date.
int MV1GetMeshSemiTransState(int modelHandle, int meshIndex);

// ---- Model ----

// Stores the flag and marks all of change set A.
int MV1SetVisible(int modelHandle, uint8_t visible);
int MV1GetVisible(int modelHandle);
// The diffuse setter also forgets the model's semi-transparency answer; all four mark change set A.
int MV1SetDifColorScale(int modelHandle, COLOR_F scale);
int MV1SetSpcColorScale(int modelHandle, COLOR_F scale);
int MV1SetEmiColorScale(int modelHandle, COLOR_F scale);
int MV1SetAmbColorScale(int modelHandle, COLOR_F scale);
COLOR_F MV1GetDifColorScale(int modelHandle);
COLOR_F MV1GetSpcColorScale(int modelHandle);
COLOR_F MV1GetEmiColorScale(int modelHandle);
COLOR_F MV1GetAmbColorScale(int modelHandle);
// The rate clamped to 0..1 (negative and not-a-number give 0).
int MV1SetOpacityRate(int modelHandle, float rate);
float MV1GetOpacityRate(int modelHandle);
int MV1SetUseZBuffer(int modelHandle, int flag);
int MV1SetWriteZBuffer(int modelHandle, int flag);

// ---- Materials (the model's own; the base's stay) ----

int MV1GetMaterialNum(int modelHandle);
const char* MV1GetMaterialName(int modelHandle, int materialIndex);
COLOR_F MV1GetMaterialDifColor(int modelHandle, int materialIndex);
COLOR_F MV1GetMaterialSpcColor(int modelHandle, int materialIndex);
COLOR_F MV1GetMaterialEmiColor(int modelHandle, int materialIndex);
COLOR_F MV1GetMaterialAmbColor(int modelHandle, int materialIndex);
float MV1GetMaterialSpcPower(int modelHandle, int materialIndex);
// Texture of the first diffuse (specular, normal) map layer; -1 when none.
int MV1GetMaterialDifMapTexture(int modelHandle, int materialIndex);
int MV1GetMaterialSpcMapTexture(int modelHandle, int materialIndex);
int MV1GetMaterialNormalMapTexture(int modelHandle, int materialIndex);
// Colour setters: a change marks every mesh of the material (caches forgotten, change bit raised).
int MV1SetMaterialDifColor(int modelHandle, int materialIndex, COLOR_F color);
int MV1SetMaterialSpcColor(int modelHandle, int materialIndex, COLOR_F color);
int MV1SetMaterialEmiColor(int modelHandle, int materialIndex, COLOR_F color);
int MV1SetMaterialAmbColor(int modelHandle, int materialIndex, COLOR_F color);
int MV1SetMaterialSpcPower(int modelHandle, int materialIndex, float power);
// Stored without comparing; the material's meshes are marked.
int MV1SetMaterialDrawBlendMode(int modelHandle, int materialIndex, int mode);
int MV1SetMaterialDrawBlendParam(int modelHandle, int materialIndex, int param);
int MV1GetMaterialDrawBlendMode(int modelHandle, int materialIndex);
int MV1GetMaterialDrawBlendParam(int modelHandle, int materialIndex);

// ---- Textures ----

int MV1GetTextureNum(int modelHandle);
const char* MV1GetTextureName(int modelHandle, int textureIndex);
// Graph -1 drops the user graph; any other must be a live graph (else -1). Forgets the caches of
// every mesh whose material's first diffuse layer uses the texture.
int MV1SetTextureGraphHandle(int modelHandle, int textureIndex, int graphHandle,
                             int semiTransparent);
// The user graph, else the model texture's own graph, else the base texture's.
int MV1GetTextureGraphHandle(int modelHandle, int textureIndex);
int MV1SetTextureAddressMode(int modelHandle, int textureIndex, int modeU, int modeV);
int MV1GetTextureAddressModeU(int modelHandle, int textureIndex);
int MV1GetTextureAddressModeV(int modelHandle, int textureIndex);
int MV1SetTextureSampleFilterMode(int modelHandle, int textureIndex, int filterMode);
int MV1GetTextureSampleFilterMode(int modelHandle, int textureIndex);

// ---- Frames ----

int MV1GetFrameNum(int modelHandle);
// First frame in array order with that name; -2 when none.
int MV1SearchFrame(int modelHandle, const char* name);
// First direct child of the frame (top-level frame for -1) with that name; -2 when none.
int MV1SearchFrameChild(int modelHandle, int frameIndex, const char* name);
const char* MV1GetFrameName(int modelHandle, int frameIndex);
// Children of the frame (top-level frames for -1).
int MV1GetFrameChildNum(int modelHandle, int frameIndex);
// The parent's index; -2 for a top-level frame.
int MV1GetFrameParent(int modelHandle, int frameIndex);
// The n-th child (n-th top-level frame for -1); -1 when n is out of range.
int MV1GetFrameChild(int modelHandle, int frameIndex, int n);
int MV1GetFrameTriangleNum(int modelHandle, int frameIndex);
int MV1GetFrameMeshNum(int modelHandle, int frameIndex);
// Model mesh index of the frame's n-th mesh; -1 when n is out of range.
int MV1GetFrameMesh(int modelHandle, int frameIndex, int n);
// Raises the frame's change flag in set A with its subtree.
int MV1SetFrameVisible(int modelHandle, int frameIndex, uint8_t visible);
int MV1GetFrameVisible(int modelHandle, int frameIndex);
// Diffuse scale and opacity forget the frame's, its ancestors' and the model's answers on a change.
int MV1SetFrameDifColorScale(int modelHandle, int frameIndex, COLOR_F scale);
int MV1SetFrameSpcColorScale(int modelHandle, int frameIndex, COLOR_F scale);
int MV1SetFrameEmiColorScale(int modelHandle, int frameIndex, COLOR_F scale);
int MV1SetFrameAmbColorScale(int modelHandle, int frameIndex, COLOR_F scale);
COLOR_F MV1GetFrameDifColorScale(int modelHandle, int frameIndex);
COLOR_F MV1GetFrameSpcColorScale(int modelHandle, int frameIndex);
COLOR_F MV1GetFrameEmiColorScale(int modelHandle, int frameIndex);
COLOR_F MV1GetFrameAmbColorScale(int modelHandle, int frameIndex);
int MV1SetFrameOpacityRate(int modelHandle, int frameIndex, float rate);
float MV1GetFrameOpacityRate(int modelHandle, int frameIndex);

// ---- Meshes ----

int MV1GetMeshNum(int modelHandle);
int MV1GetMeshMaterial(int modelHandle, int meshIndex);
// Sum over the mesh's triangle lists of index count / 3.
int MV1GetMeshTriangleNum(int modelHandle, int meshIndex);
int MV1SetMeshVisible(int modelHandle, int meshIndex, uint8_t visible);
int MV1GetMeshVisible(int modelHandle, int meshIndex);
// Diffuse scale and opacity forget the mesh's caches on a change.
int MV1SetMeshDifColorScale(int modelHandle, int meshIndex, COLOR_F scale);
int MV1SetMeshSpcColorScale(int modelHandle, int meshIndex, COLOR_F scale);
int MV1SetMeshEmiColorScale(int modelHandle, int meshIndex, COLOR_F scale);
int MV1SetMeshAmbColorScale(int modelHandle, int meshIndex, COLOR_F scale);
COLOR_F MV1GetMeshDifColorScale(int modelHandle, int meshIndex);
COLOR_F MV1GetMeshSpcColorScale(int modelHandle, int meshIndex);
COLOR_F MV1GetMeshEmiColorScale(int modelHandle, int meshIndex);
COLOR_F MV1GetMeshAmbColorScale(int modelHandle, int meshIndex);
int MV1SetMeshOpacityRate(int modelHandle, int meshIndex, float rate);
float MV1GetMeshOpacityRate(int modelHandle, int meshIndex);
// -1 takes the material's value.
int MV1SetMeshDrawBlendMode(int modelHandle, int meshIndex, int mode);
int MV1SetMeshDrawBlendParam(int modelHandle, int meshIndex, int param);
int MV1GetMeshDrawBlendMode(int modelHandle, int meshIndex);
int MV1GetMeshDrawBlendParam(int modelHandle, int meshIndex);
// Written to the base mesh: it applies to every model of the base.
int MV1SetMeshBackCulling(int modelHandle, int meshIndex, int flag);
int MV1GetMeshBackCulling(int modelHandle, int meshIndex);
// Corners of the base mesh's box.
VECTOR MV1GetMeshMaxPosition(int modelHandle, int meshIndex);
VECTOR MV1GetMeshMinPosition(int modelHandle, int meshIndex);
int MV1GetMeshUseVertDifColor(int modelHandle, int meshIndex);
int MV1GetMeshUseVertSpcColor(int modelHandle, int meshIndex);
