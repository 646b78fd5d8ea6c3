// Models: drawable instances of a model base, each in one memory block.
//
// A model (MV1Model) has its own position, rotation, scale, frame matrices, draw state, materials,
// texture settings, attached animations, reference meshes and collision grids; vertices, triangle
// lists and animation data stay in the base (model_base.h). Derived data is rebuilt lazily: setters
// store, clear a valid byte and raise change bits; consumers rebuild what the bits name.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model_base.h>

struct MV1Frame;
struct MV1Mesh;
struct MV1Material;
struct MV1Texture;
struct MV1ModelTriangleList;
// Records of later subsystems (animation, reference meshes, collision grids).
struct MV1AttachSlot;
struct MV1FrameBlendEntry;
struct MV1_REF_POLYGONLIST;
struct MV1CollInfo;

// ---- Draw state ----

// Visibility, four colour scales and an opacity rate: the own block of a model, frame or mesh, or
// the derived block (the product with everything above it in the frame tree).
struct MV1DrawState {
  uint8_t Visible;
  uint8_t UseColorScale;     // 1 when some scale component differs from 1.0
  COLOR_F DiffuseScale;
  COLOR_F AmbientScale;
  COLOR_F SpecularScale;
  COLOR_F EmissiveScale;
  float OpacityRate;
};

// A change info paired with the address of its word in a model's change set.
struct MV1ChangeFlag {
  MV1ChangeInfo* Info;
  uint32_t* Word;
};

// ---- Instance records ----

// Entry of a model's shapes: the base shape and its weight.
struct MV1ShapeEntry {
  MV1ShapeBase* Base;
  float Rate;
};

// A moved vertex of a mesh with shapes (24 bytes).
struct MV1ShapeVertex {
  VECTOR Position;
  VECTOR Normal;
};

struct MV1ModelTriangleList {
  MV1Mesh* Container;
  MV1TriangleList* Base;
  void* Vertices;            // own per-vertex records, null unless the mesh has shapes
  void* VertexBuffer;        // device vertex buffer (dynamic), null until made
};

struct MV1Material {
  MV1MaterialBase* Base;
  COLOR_F Diffuse;
  COLOR_F Ambient;
  COLOR_F Specular;
  COLOR_F Emissive;
  float Power;
  int DiffuseLayerCount;
  MV1MaterialLayer DiffuseLayer[MV1_MATERIAL_LAYER_MAX];
  int SpecularLayerCount;
  MV1MaterialLayer SpecularLayer[MV1_MATERIAL_LAYER_MAX];
  int DiffuseGradTexture;
  int SpecularGradTexture;
  int DiffuseGradBlend;
  int SpecularGradBlend;
  float OutlineWidth;
  COLOR_F OutlineColor;
  int DrawBlendMode;
  int DrawBlendParam;
  int FileWords[3];
};

struct MV1Texture {
  MV1TextureBase* Base;
  char* AlphaFileName;       // the base's until the texture gets files of its own
  void* AlphaImage;
  int AlphaImageSize;
  char* ColorFileName;
  void* ColorImage;
  int ColorImageSize;
  int BumpMap;
  float BumpScale;
  int OwnGraph;              // 1: owns its file names, image data and graph
  int OwnGraphHandle;        // -1
  int UseUserGraph;
  int UserGraphHandle;
  int AddressModeU;
  int AddressModeV;
  int FilterMode;
  // Set with a user graph by the texture accessors.
  int UserGraphSemiTransparent;
  int UserGraphWidth;
  int UserGraphHeight;
};

struct MV1Frame {
  char Tag[4];                           // "FRM_"
  int ModelHandle;
  MV1Model* Container;
  int Index;                             // among its parent's children (or the top-level frames)
  MV1FrameBase* Base;
  MV1Frame* Parent;
  MV1Frame* FirstChild;
  MV1Frame* Prev;
  MV1Frame* Next;
  int ChildCount;
  MV1Frame** Child;                      // child table

  uint8_t UseUserLocalMatrix;
  Matrix3x4 UserLocalMatrix;
  Matrix3x4 WorldMatrix;

  MV1ChangeFlag ChangeMatrixFlag;        // change set B
  MATRIX LocalWorldMatrix;               // 4x4 copy of WorldMatrix for the draw code
  Matrix3x4** UseSkinBoneMatrix;         // part of the model's bone pointer list
  MV1Mesh* Mesh;                         // first mesh, or null
  MV1ShapeEntry* Shape;                  // entry k is the base frame's shape k
  MV1ChangeFlag ChangeDrawMaterialFlag;  // change set A
  MV1DrawState DrawMaterial;             // own block
  MV1DrawState SetupDrawMaterial;        // derived block
  uint8_t SemiTransStateSetupFlag;       // semi-transparency known
  uint8_t SemiTransState;

  uint8_t ValidLocalWorldMatrixM;        // LocalWorldMatrix is current
  MV1_REF_POLYGONLIST* RefMesh[2];       // [0] local, [1] transformed
  uint8_t RefMeshUpToDate[2];
  MV1CollInfo* CollInfo;
  int CollInfoUpToDate;
};

struct MV1Mesh {
  MV1Frame* Container;
  MV1MeshBase* Base;
  MV1Material* Material;
  MV1ChangeFlag ChangeDrawMaterialFlag;  // change set A
  MV1DrawState DrawMaterial;             // own block
  MV1DrawState SetupDrawMaterial;        // derived block
  uint8_t SemiTransStateSetupFlag;
  uint8_t SemiTransState;
  MV1ShapeVertex* ShapeVertex;           // meshes with shapes only
  MV1ModelTriangleList* TriangleList;    // first model triangle list
  int DrawBlendMode;                     // -1: the material's
  int DrawBlendParam;                    // -1: the material's
};

// Rotation values of a model by mode: 0 Euler angles, 3 axes.
struct MV1RotationZYAxis {
  VECTOR ZAxis;
  VECTOR YAxis;
  float ZTwist;
};
union MV1ModelRotation {
  VECTOR XYZ;
  MV1RotationZYAxis ZYAxis;
  MV1Float4 Quaternion;
  float Mat3[3][3];
  float Raw[12];
};
enum : int {
  MV1_ROTATE_TYPE_XYZROT = 0,
  MV1_ROTATE_TYPE_ZAXIS = 3,
};

// One entry of the draw-state refresh walk.
struct MV1DrawStateWalkEntry {
  MV1Frame* Frame;
  int WithSiblings;
};

struct MV1Model {
  MV1Model* Next;
  MV1Model* Prev;
  int BaseHandle;
  MV1ModelBase* BaseData;
  uint32_t* ChangeDrawMaterialFlag;      // change set A
  uint32_t* ChangeMatrixFlag;            // change set B
  int ChangeDrawMaterialFlagSize;        // bytes
  int ChangeMatrixFlagSize;

  VECTOR Translation;
  int RotationType;
  MV1ModelRotation Rotation;
  VECTOR Scale;

  Matrix3x4 UserMatrix;
  uint8_t UseUserMatrix;
  uint8_t ValidMatrix;
  Matrix3x4 Matrix;                      // model world matrix

  MV1Frame* Frame;
  int TopFrameCount;
  MV1Frame** TopFrameList;

  Matrix3x4** UseSkinBoneMatrix;         // bone pointer list
  Matrix3x4* SkinBoneMatrix;             // one per base skin bone
  MV1ShapeEntry* Shape;
  MV1ShapeVertex* ShapeVertex;
  MV1ModelTriangleList* TriangleList;
  MV1Mesh* Mesh;
  MV1Material* Material;
  MV1Texture* Texture;
  int TextureAllocated;
  void* TypeVertices[MV1_VERTEX_TYPE_NUM];  // vertex areas of lists of meshes with shapes

  MV1_REF_POLYGONLIST* RefMesh[2];       // [0] local, [1] transformed
  uint8_t RefMeshUpToDate[2];
  MV1CollInfo* CollInfo;
  int CollInfoUpToDate;

  int AttachAnimCount;                   // slots in use
  int AttachSlotCapacity;
  MV1AttachSlot* AttachSlot;             // with the blend rows, one reallocated block
  MV1FrameBlendEntry* BlendRows;         // frame i's row at i * AttachSlotCapacity
  uint8_t AnimSetupFlag;                 // attach-done: every in-use state evaluated

  MV1DrawState DrawMaterial;
  uint8_t SemiTransStateSetupFlag;
  uint8_t SemiTransState;

  int EnableZBuffer;
  int WriteZBuffer;
  int ZBufferCmpType;
  int ZBias;
  int MaxAnisotropy;

  int Handle;                            // its own handle
  int DrawStateStackCapacity;            // sized from the frame tree's depth
  MV1DrawStateWalkEntry* DrawStateStack;
};

// ---- Creation, duplication and deletion ----

// Builds a model of the base into the reserved model slot. 0, or -1 (the slot then stays
// reserved for the caller to clear).
int MV1CreateModelFromBase(int modelHandle, int baseHandle);
// A new model of the same base with default settings, or -1.
int MV1DuplicateModel(int modelHandle);
// Deletes a model (a reserved slot is just cleared). 0, -1 on a bad handle.
int MV1DeleteModel(int modelHandle);
// Deletes a base that no model and no attached animation holds (a reserved slot is just
// cleared). 0; -1 on a bad handle or while the base is held (delete its models first).
int MV1DeleteModelBase(int baseHandle);
// Handle of the base the model was made from (for MV1DeleteModelBase once its models are gone),
// or -1.
int MV1GetModelBaseHandle(int modelHandle);
