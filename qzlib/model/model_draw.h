// Model drawing through the Direct3D device: the draw entry points, the device set-up before a
// draw, the per-mesh core (shader path from device buffers, or the fixed-function path from the
// per-list memory buffers with software skinning), the toon outline, and the mesh material,
// blend, lighting and texture-stage set-up with the software toon lighting of the fixed path.
//
// Meshes are drawn in frame order and mesh order without sorting; nothing is restored afterwards.
// Without a device the mesh core does nothing.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/model/model.h>

// 0 drawn or hidden; -1 bad handle.
int MV1DrawModel(int modelHandle);
// 0 drawn or hidden; -1 bad handle, bad index, a frame without meshes, or a culled frame.
int MV1DrawFrame(int modelHandle, int frameIndex);
// 0 drawn or hidden; -1 bad handle or bad (model-wide) mesh index. A single mesh is never culled.
int MV1DrawMesh(int modelHandle, int meshIndex);

// The device set-up before drawing: constants, flushes, lights, scene, Z, shade, fog and
// anisotropy from the model; the sampler filters are marked for re-sending. Returns 0.
int MV1SetupDrawDeviceState(MV1Model* model);
// Draws one mesh: material, main pass over its triangle lists, then the toon outline.
void MV1DrawMeshCore(MV1Mesh* mesh);

// The fixed-function memory vertex buffer of a list: stride (sets + 4) x 16 with the mesh's
// first sets (at most 6) as (u, v, 1, 1) and two toon sets (0, 0, 1, 1); rigid lists get their
// positions and normals. True when present, false when memory runs out.
bool MV1SetupTriangleListMemoryVertexBuffer(MV1TriangleList* list);
// The 16-byte outline vertices of a list (position and colour); rigid lists get position +
// normal x the material base's outline width. True when present, false when memory runs out.
bool MV1SetupTriangleListOutlinePositions(MV1TriangleList* list);

// UV sets the memory vertex buffer carries for a mesh (its own count limited to 0..6).
int MV1MemoryVertexUVSets(const MV1MeshBase* mesh);
// Flexible vertex format of the memory vertex buffer for that many UV sets (0..6).
uint32_t MV1MemoryVertexFvf(int uvSets);
constexpr uint32_t MV1_OUTLINE_VERTEX_FVF = 0x42;

// Skins the list's vertices into its memory vertex buffer (first six floats of each vertex),
// reading positions and normals from `records` (the list's or the model's own records) and the
// skin-bone matrices through the frame's bone pointer list.
void MV1SkinTriangleList(const MV1TriangleList* list, const uint8_t* records,
                         Matrix3x4* const* boneMatrices, int boneListLength, uint8_t* memVertices);

// ---- Material, blend, lighting and texture stages ----

// Device material, culling, blend, specular and lighting of the main pass; adds the mesh's
// variant offsets to both shader indices.
void MV1SetupMeshDrawMaterial(int* vertexShaderIndex, int* pixelShaderIndex,
                              StageSettingsRecord* record, MV1Mesh* mesh);
// Device material, constant register 42, culling, blend, specular and lighting of the outline.
void MV1SetupMeshOutlineMaterial(StageSettingsRecord* record, MV1Mesh* mesh);
// Texture stages of the main pass and of the outline, in shader or fixed mode. Return 0.
int MV1SetupMainTextureStages(MV1Mesh* mesh, StageSettingsRecord* record, bool shaderMode);
int MV1SetupOutlineTextureStages(MV1Mesh* mesh, StageSettingsRecord* record, bool shaderMode);
// Software toon lighting: writes the diffuse and specular intensities into the first components
// of the two toon sets of every memory vertex (world null: vertices are in world space).
void MV1CalcVertexLighting(MV1TriangleList* list, const MATRIX* world);

// The graph a model texture is drawn with: user graph, own graph, base user graph, base graph.
int MV1TextureDrawGraph(const MV1Texture* texture);
// The graph of a built-in texture, made again when missing (the scene is then reopened); -1 when
// it cannot be made now.
int MV1BuiltinTextureDrawGraph(int which);
