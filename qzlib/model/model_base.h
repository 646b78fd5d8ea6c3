// Model base records: the shared, read-only-after-loading data of one model file.
//
// A model base (MV1ModelBase) holds the frame tree, meshes with their vertices and triangle lists,
// materials, textures, skinning bones, shapes and animations. Every model made from it (model.h)
// points into it. Two builders fill it: the MV1 reader (one block plus the vertex block; every
// allocated flag 0) and the read-model converter (separately allocated arrays marked by their
// flags, and chunk-list allocations).
//
// Invariants every builder keeps (the runtime relies on them):
// - Frames: every parent comes before its children in the frame array. The top-level frames, and
//   the children of every frame, are chained as siblings (Prev/Next) in increasing index order,
//   frame 0 first among the top-level frames. Children need not be contiguous in the array.
// - Change bits are numbered by MV1NumberChangeBits / MV1FillChangeMasks (model_build.h), never by
//   hand; the frame triangle and vertex counts and the base totals by MV1SetupFrameCounts.
// - Frame base matrices are set up by MV1SetupFrameBaseMatrices after every frame is filled.
//
// All integers are 32-bit signed unless said otherwise; pointers point into the same base unless
// said otherwise.
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/math/matrix3x4.h>

struct MV1ModelBase;
struct MV1FrameBase;
struct MV1MeshBase;
struct MV1TriangleList;
struct MV1MaterialBase;
struct MV1TextureBase;
struct MV1SkinBoneBase;
struct MV1ShapeBase;
struct MV1ShapeMeshBase;
struct MV1AnimBase;
struct MV1AnimFrameBase;
struct MV1AnimKeySet;
struct MV1Model;
// Device buffer record of a vertex/index buffer group (model buffers).
struct MV1VertexBuffer;

// Four floats: a quaternion (x, y, z, w).
struct MV1Float4 {
  float x, y, z, w;
};

// ---- Change bits ----

// Where an item (frame or mesh) sits in a model's change-bit set. Change set A (draw state) has
// bit 0 of word 0 for the whole model, then from bit 32 one bit per frame and per mesh in pre-order
// of the frame tree (a frame's own bit, then its meshes' bits, then each child's subtree); change
// set B (matrices) the same without meshes. A frame's subtree is its own bit and the bits after it.
struct MV1ChangeInfo {
  int WordIndex;             // index of the 32-bit word holding the item's own bit
  uint32_t* SubtreeMask;     // the frame's subtree mask words (from WordIndex on); null for a mesh
  int MaskWordCount;         // number of words at SubtreeMask
  uint32_t OwnBit;           // the item's own bit mask within its word
};

// ---- Vertex data ----

// One (bone, weight) pair of a frame position record. A bone index of 0xFFFFFFFF ends the list.
struct MV1PositionBoneWeight {
  uint32_t Index;            // into the frame's bone list
  float Weight;
};

// A frame position record: the position, then bones-per-vertex MV1PositionBoneWeight pairs; the
// record stride is the frame's PositionStride (bones per vertex * 8 + 12).
struct MV1MeshPosition {
  VECTOR Position;
};
inline MV1PositionBoneWeight* MV1PositionBones(MV1MeshPosition* p) {
  return reinterpret_cast<MV1PositionBoneWeight*>(reinterpret_cast<uint8_t*>(p) + sizeof(VECTOR));
}

// A frame normal record.
struct MV1MeshNormal {
  VECTOR Normal;
  VECTOR Tangent;
  VECTOR Binormal;
};

// A mesh vertex: then UVSetCount * FloatsPerUV floats; the stride is the mesh's VertexStride.
struct MV1MeshVertex {
  uint32_t PositionIndex;    // into the frame's positions
  uint32_t NormalIndex;      // into the frame's normals
  COLOR_U8 Diffuse;
  COLOR_U8 Specular;
};
inline float* MV1MeshVertexUV(MV1MeshVertex* v) { return reinterpret_cast<float*>(v + 1); }

// A face of a mesh.
struct MV1MeshFace {
  uint16_t TriangleListType;   // vertex type of the list the face is in
  uint16_t TriangleListIndex;  // index of that list within the mesh
  uint32_t VertexIndex[3];     // mesh-vertex indices
};

// Per-vertex records of the triangle lists (16-byte aligned; the first record starts at the
// list's record pointer rounded up to 16). A bone slot is the position of the vertex's bone in the
// list's bone list; a bone the list does not hold has the slot equal to the list's bone count.
struct MV1VertexRigid {         // type 0, 32 bytes
  VECTOR Position;
  float PositionW;              // 1.0
  VECTOR Normal;
  float NormalW;                // 0.0
};
struct MV1VertexSkin4 {         // type 1, 48 bytes
  float Weight[4];
  VECTOR Position;
  float PositionW;              // 1.0
  VECTOR Normal;
  uint8_t BoneSlot[4];
};
struct MV1VertexSkin8 {         // type 2, 64 bytes
  float Weight[8];
  VECTOR Normal;
  uint8_t BoneSlot0123[4];
  VECTOR Position;
  uint8_t BoneSlot4567[4];
};
struct MV1BoneWeightPair {      // type-3 pair: bone index (the frame's bone list position), weight
  int Index;
  float Weight;
};
struct MV1VertexSkinFree {      // type 3, the list's stride: then BonesPerVertex pairs
  VECTOR Position;
  float PositionW;              // 1.0
  VECTOR Normal;
  float NormalW;                // 0.0
};
inline MV1BoneWeightPair* MV1VertexFreeBones(MV1VertexSkinFree* v) {
  return reinterpret_cast<MV1BoneWeightPair*>(v + 1);
}

enum : int {
  MV1_VERTEX_TYPE_RIGID = 0,
  MV1_VERTEX_TYPE_SKIN_4BONE = 1,
  MV1_VERTEX_TYPE_SKIN_8BONE = 2,
  MV1_VERTEX_TYPE_SKIN_FREEBONE = 3,
  MV1_VERTEX_TYPE_NUM = 4,
};
// Maximum number of bones a type-1 or type-2 triangle list holds.
constexpr int MV1_TRIANGLE_LIST_USE_BONE_MAX = 54;

// Stride of a type-3 per-vertex record: ((bones per vertex + 4) * 8) rounded up to 16.
inline int MV1FreeBoneVertexStride(int bonesPerVertex) {
  return ((bonesPerVertex + 4) * 8 + 15) / 16 * 16;
}

// ---- Records ----

struct MV1FrameBase {
  MV1ModelBase* Container;
  const char* Name;
  int Index;

  MV1ChangeInfo ChangeDrawMaterialInfo;  // change set A
  MV1ChangeInfo ChangeMatrixInfo;        // change set B

  int FileValue30;                       // frame record 0x30
  int ChildCount;

  MV1FrameBase* Parent;
  MV1FrameBase* FirstChild;
  MV1FrameBase* LastChild;
  MV1FrameBase* Prev;                    // previous sibling
  MV1FrameBase* Next;                    // next sibling

  Matrix3x4 WorldMatrix;                 // relative to the model, parents applied

  int LocalTransformMatrixType;          // 0 identity, 1 translation only, 2 full
  Matrix3x4 LocalTransformMatrix;

  VECTOR Translate;
  VECTOR Scale;
  int RotateOrder;                       // 0 XYZ, 1 XZY, 2 YZX, 3 YXZ, 4 ZXY, 5 ZYX
  VECTOR Rotate;                         // radians
  MV1Float4 Quaternion;

  VECTOR MaxPosition;                    // box of the frame's meshes in frame coordinates
  VECTOR MinPosition;
  int ValidBoundingBox;
  uint32_t Flag;                         // bit 0: visible
  int HasSkinnedMesh;                    // frame record 0x88; non-zero exempts it from culling
  int FileValue8C;
  int FileValue90;
  int MeshCount;
  MV1MeshBase* Mesh;                     // first mesh
  int SkinBoneCount;
  MV1SkinBoneBase* SkinBone;             // first skin bone computed by this frame, or null

  int UseSkinBoneCount;                  // bone-list length
  MV1SkinBoneBase** UseSkinBone;         // into the base's bone list
  struct MV1FrameParamRecord* Param;     // or null
  int BonesPerVertex;                    // u16 widened
  float SmoothingAngle;
  int NormalsFromFaces;

  int PositionCount;
  int PositionStride;                    // BonesPerVertex * 8 + 12
  MV1MeshPosition* Position;             // PositionCount records of PositionStride bytes
  int NormalCount;
  MV1MeshNormal* Normal;
  int NormalAllocated;                   // Normal is a separate tracked block

  int ShapeCount;
  MV1ShapeBase* Shape;                   // first shape

  // Counts of the frame's meshes' triangle lists (index count / 3 and vertex count, summed), set
  // by MV1SetupFrameCounts; never taken from a file.
  int TriangleCount;
  int VertexCount;
};

inline MV1MeshPosition* MV1FramePositionAt(const MV1FrameBase* f, int i) {
  return reinterpret_cast<MV1MeshPosition*>(reinterpret_cast<uint8_t*>(f->Position) +
                                            static_cast<size_t>(i) * f->PositionStride);
}

struct MV1MeshBase {
  MV1FrameBase* Container;
  MV1MaterialBase* Material;
  MV1ChangeInfo ChangeInfo;              // change set A; SubtreeMask null
  int UseVertexDiffuseColor;
  int UseVertexSpecularColor;
  int HasVertexAlpha;                    // some vertex diffuse alpha below 255
  VECTOR MaxPosition;                    // box of the stored positions
  VECTOR MinPosition;
  int TriangleListCount;
  MV1TriangleList* TriangleList;         // first triangle list
  uint8_t Visible;
  uint8_t BackCulling;
  uint8_t HasShape;
  int UVSetCount;
  int FloatsPerUV;                       // 2
  int VertexCount;
  int VertexStride;                      // UVSetCount * FloatsPerUV * 4 + 16
  MV1MeshVertex* Vertex;                 // VertexCount records of VertexStride bytes
  int VertexAllocated;
  int FaceCount;
  MV1MeshFace* Face;
};

inline MV1MeshVertex* MV1MeshVertexAt(const MV1MeshBase* m, int i) {
  return reinterpret_cast<MV1MeshVertex*>(reinterpret_cast<uint8_t*>(m->Vertex) +
                                          static_cast<size_t>(i) * m->VertexStride);
}

struct MV1TriangleList {
  MV1MeshBase* Container;
  uint16_t VertexType;                   // MV1_VERTEX_TYPE_*
  uint16_t VertexStride;                 // 32, 48, 64 or MV1FreeBoneVertexStride
  int VertexCount;
  int BonesPerVertex;                    // type 3
  int UseBoneCount;                      // types 1 and 2
  int UseBone[MV1_TRIANGLE_LIST_USE_BONE_MAX];  // indices into the frame's bone list
  uint32_t* MeshVertexIndex;             // one per list vertex
  int MeshVertexIndexAllocated;
  // The two run-time buffers the drawing code fills (memory vertex buffer and outline positions);
  // tracked blocks, freed with the base whenever non-null.
  void* TempVertexBuffer;
  int TempVertexBufferAllocated;
  void* OutlinePositions;
  int OutlinePositionsAllocated;
  void* Vertices;                        // per-vertex records (into the vertex area of its type)
  int VerticesAllocated;
  uint16_t IndexCount;
  uint16_t* Index;                       // three per triangle, into the list's vertices
  // Device buffers (model buffers): the record and the first vertex and index in it.
  int TempVertexStride;                  // stride of TempVertexBuffer
  MV1VertexBuffer* VertexBuffer;
  int VertexBufferStartVertex;
  int VertexBufferStartIndex;
};

// Start of the per-vertex records: the record pointer rounded up to 16.
inline uint8_t* MV1TriangleListVertices(const MV1TriangleList* t) {
  return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(t->Vertices) + 15) &
                                    ~static_cast<uintptr_t>(15));
}

// Bytes of one per-vertex record of the list: 32, 48, 64 by type, the list's stride for type 3.
inline int MV1TriangleListRecordSize(const MV1TriangleList* t) {
  switch (t->VertexType) {
    case MV1_VERTEX_TYPE_RIGID: return static_cast<int>(sizeof(MV1VertexRigid));
    case MV1_VERTEX_TYPE_SKIN_4BONE: return static_cast<int>(sizeof(MV1VertexSkin4));
    case MV1_VERTEX_TYPE_SKIN_8BONE: return static_cast<int>(sizeof(MV1VertexSkin8));
    default: return t->VertexStride;
  }
}

// A material layer: two run-time words, the texture index, the blend type.
struct MV1MaterialLayer {
  int RunTime[2];
  int Texture;
  int BlendType;
};
constexpr int MV1_MATERIAL_LAYER_MAX = 8;

struct MV1MaterialBase {
  const char* Name;
  int Type;                              // 0 ordinary, 1 toon
  COLOR_F Diffuse;
  COLOR_F Ambient;
  COLOR_F Specular;
  COLOR_F Emissive;
  float Power;
  int DiffuseLayerCount;
  MV1MaterialLayer DiffuseLayer[MV1_MATERIAL_LAYER_MAX];
  int SpecularLayerCount;
  MV1MaterialLayer SpecularLayer[MV1_MATERIAL_LAYER_MAX];
  int NormalLayerCount;
  MV1MaterialLayer NormalLayer[MV1_MATERIAL_LAYER_MAX];
  int DiffuseGradTexture;                // -1 none
  int SpecularGradTexture;               // -1 none
  int DiffuseGradBlend;                  // default 2
  int SpecularGradBlend;                 // default 1
  float OutlineWidth;                    // default 0
  COLOR_F OutlineColor;                  // default (0, 0, 0, 1)
  // The five further words of the material record (0x2A4 to 0x2B4).
  int DrawBlendMode;
  int DrawBlendParam;
  int FileWords[3];
};

struct MV1TextureBase {
  int NameAllocated;
  char* Name;
  int AlphaFileNameAllocated;
  char* AlphaFileName;
  void* AlphaImage;                      // the file's bytes, kept for device restore
  int AlphaImageSize;
  int ColorFileNameAllocated;
  char* ColorFileName;
  void* ColorImage;
  int ColorImageSize;
  int Width;
  int Height;
  int SemiTransparent;
  int BumpMap;                           // colour image is a height map turned into a normal map
  float BumpScale;
  int GraphHandle;
  int UseUserGraph;
  int UserGraphHandle;
  int RunTime1[3];
  int AddressModeU;
  int AddressModeV;
  int FilterMode;
  int RunTime2[2];
};

// Two 32-bit values per bone-use entry, copied from the file.
struct MV1BoneUseEntry {
  int Value[2];
};

struct MV1SkinBoneBase {
  Matrix3x4 ModelLocalMatrix;            // model-to-bone
  int TranslateOnly;                     // bone record 0x40: 0 full product, else translation only
  int Index;
  int UseCount;
  MV1BoneUseEntry* Use;
};

struct MV1FrameParamRecord {
  const char* Name;
  int Words[22];                         // record 0x0C to 0x60
};

struct MV1ShapeBase {
  MV1FrameBase* Container;
  const char* Name;
  int MeshCount;
  MV1ShapeMeshBase* Mesh;                // first shape mesh
};

// A shape vertex (28 bytes): the mesh vertex it moves, position and normal offsets.
struct MV1ShapeVertexBase {
  uint32_t TargetMeshVertex;
  VECTOR Position;
  VECTOR Normal;
};

struct MV1ShapeMeshBase {
  MV1MeshBase* TargetMesh;
  int VertexCount;
  MV1ShapeVertexBase* Vertex;
  int VertexAllocated;
};

struct MV1AnimBase {
  const char* Name;
  int Index;
  float MaxTime;                         // anim record 0x10: the total time
  int AnimFrameCount;                    // anim record 0x14
  MV1AnimFrameBase* AnimFrame;           // first anim frame
  int IsAdditive;
  int IsMatrixMode;
  int RunTime[4];
};

struct MV1AnimFrameBase {
  MV1AnimBase* Anim;
  MV1FrameBase* TargetFrame;
  int TargetFrameIndex;
  int FileValue0C;
  int FileValue10;
  int KeySetCount;                       // anim-frame record 0x14
  MV1AnimKeySet* KeySet;                 // first key set
};

struct MV1AnimKeySet {
  uint8_t Type;                          // 0/7 quaternion, 1 vector, 5 one float
  uint8_t DataType;                      // driven component; 18 shape weight
  uint8_t TimeType;                      // 0 uniform steps, 1 explicit times
  int TargetShapeIndex;                  // for component 18
  int KeyCount;
  float UnitTime;
  union {
    float StartTime;                     // uniform steps
    float* KeyTime;                      // explicit times: KeyCount floats
  };
  void* KeyData;                         // into the base's key data
};

// Device-buffer grid of a base: vertex type (0..2) x normal map (0, 1) x UV-set count (0..8).
constexpr int MV1_VB_TYPE_NUM = 3;
constexpr int MV1_VB_BUMP_NUM = 2;
constexpr int MV1_VB_UV_NUM = 9;

struct MV1ModelBase {
  int Handle;
  int ModelCount;
  MV1Model* FirstModel;
  MV1Model* LastModel;
  uint32_t FileFlag;                     // MV1 header field 0x08; 0 from the converter
  char* Name;
  char* FilePath;
  char* DirectoryPath;                   // ends in "/" or "\"
  int RefCount;

  int ChangeMaskSizeA;                   // bytes of ChangeMaskA
  int ChangeMaskSizeB;
  uint32_t* ChangeMaskA;                 // frames' subtree mask words, change set A
  uint32_t* ChangeMaskB;                 // change set B

  int FrameCount;
  MV1FrameBase* Frame;
  int TopFrameCount;
  MV1FrameBase* FirstTopFrame;
  MV1FrameBase* LastTopFrame;

  int FrameUseSkinBoneCount;             // the bone list that frames index into
  MV1SkinBoneBase** FrameUseSkinBone;

  int MaterialCount;
  MV1MaterialBase* Material;
  int TextureCount;
  MV1TextureBase* Texture;
  int TextureAllocated;
  int MeshCount;
  MV1MeshBase* Mesh;
  int FrameParamCount;
  MV1FrameParamRecord* FrameParam;

  VECTOR MaxPosition;                    // box of the whole model (first model's world space)
  VECTOR MinPosition;
  int ValidBoundingBox;

  int SkinBoneCount;
  MV1SkinBoneBase* SkinBone;
  int SkinBoneUseCount;
  MV1BoneUseEntry* SkinBoneUse;

  int ShapeCount;
  MV1ShapeBase* Shape;
  int ShapeMeshCount;
  MV1ShapeMeshBase* ShapeMesh;
  int ShapeVertexCount;
  MV1ShapeVertexBase* ShapeVertex;
  // Carried from the file's extension block; the model builder does not trust them (it sizes its
  // shape areas from the meshes' own lists).
  int ShapeAreaCount;
  int ShapeType0VertexCount;
  int ShapeType1VertexCount;
  int ShapeType2VertexCount;
  int ShapeType3ByteSize;

  int TriangleListCount;
  MV1TriangleList* TriangleList;

  // Fill counters used while building.
  int FillType0VertexCount;
  int FillType1VertexCount;
  int FillType2VertexCount;
  int FillType3ByteSize;
  int FillPositionByteSize;
  int FillNormalCount;
  int FillMeshVertexByteSize;
  int FillFaceCount;
  int FillTListMeshVertexIndexCount;

  void* VertexData;                      // one block holding the vertex areas below
  int VertexDataSize;
  void* Type0Vertices;                   // 16-byte aligned per-vertex record areas
  void* Type1Vertices;
  void* Type2Vertices;
  void* Type3Vertices;
  void* Positions;
  void* Normals;
  void* MeshVertices;
  void* Faces;
  void* TListMeshVertexIndices;
  int IndexFillCount;
  uint16_t* Indices;

  // The two totals (file header 0xA4 and 0xA8), set by MV1SetupFrameCounts: triangles and
  // triangle-list vertices over every frame.
  int TriangleCount;
  int VertexCount;

  int StringSize;
  char* StringBuffer;

  int KeyDataFillSize;
  void* KeyData;
  int AnimKeySetCount;
  MV1AnimKeySet* AnimKeySet;
  int AnimFrameCount;
  MV1AnimFrameBase* AnimFrame;
  int AnimCount;
  MV1AnimBase* Anim;
  MV1AnimFrameBase** AnimFrameTable;     // [anim index * FrameCount + frame index] or null

  // Device buffers.
  MV1VertexBuffer* VertexBufferFirst[MV1_VB_TYPE_NUM][MV1_VB_BUMP_NUM][MV1_VB_UV_NUM];
  MV1VertexBuffer* VertexBufferCurrent[MV1_VB_TYPE_NUM][MV1_VB_BUMP_NUM][MV1_VB_UV_NUM];
  int VertexBufferCount[MV1_VB_TYPE_NUM][MV1_VB_BUMP_NUM][MV1_VB_UV_NUM];
  int VertexBuffersBuilt;

  void* ChunkListHead;                   // converter allocations, freed with the base
};

// ---- Base getters and setters (model-base handle and an index in 0..count-1) ----

// Material name, or null.
const char* MV1GetMaterialNameBase(int baseHandle, int materialIndex);
// Texture index of the first normal-map layer; -1 when none or on failure.
int MV1GetMaterialNormalMapBase(int baseHandle, int materialIndex);
// Texture name, or null.
const char* MV1GetTextureNameBase(int baseHandle, int textureIndex);
// The user graph handle when the user-graph flag is set, else the graph handle; -1 on failure.
int MV1GetTextureGraphHandleBase(int baseHandle, int textureIndex);
// Stores the flag; on a change clears the semi-transparency caches of that mesh in every model
// and marks the mesh changed. 0, -1 on failure.
int MV1SetMeshUseVertDifColorBase(int baseHandle, int meshIndex, int flag);
// Stores the flag only. 0, -1 on failure.
int MV1SetMeshUseVertSpcColorBase(int baseHandle, int meshIndex, int flag);
// The flag, -1 on failure.
int MV1GetMeshUseVertDifColorBase(int baseHandle, int meshIndex);
int MV1GetMeshUseVertSpcColorBase(int baseHandle, int meshIndex);

// Sets every frame's local matrix kind and local and world matrices from translate, rotate,
// scale and rotation order (array order; parents first). Run by each builder once.
void MV1SetupFrameBaseMatrices(MV1ModelBase* base);
