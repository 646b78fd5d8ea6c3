// The read model: the format-neutral model that every import reader fills and that
// ConvertReadModelToModelBase turns into a model base.
//
// Every record, array and string comes from the root's pool (zero-filled blocks of tracked
// memory, all freed at once by TerminateReadModel); nothing is freed one by one. Lists are
// doubly linked with a count, first and last record; every listed record carries its index
// (creation order from 0; frames are renumbered into depth-first pre-order on every add).
//
// A reader's round: InitReadModel on a root of its own; FilePath and Name through
// ReadModelAddString; frames with ReadModelAddFrame (parents first); per mesh ReadModelAddMesh,
// Positions / Normals / VertexColors / UVs arrays from ReadModelAlloc with their counts, FaceSets
// (the index sets its faces will store), ReadModelAllocFaces, then per face
// ReadModelSetFaceIndexCount and the indices through ReadModelFaceIndices; materials with
// ReadModelAddMaterial + ReadModelMeshAddMaterial, textures with ReadModelAddTexture +
// ReadModelAddMapTexture; skin weights with ReadModelAddSkinWeight + ReadModelMeshAddSkinWeight;
// key sets with ReadModelAddAnimKeySet + ReadModelAllocKeys. Then ConvertReadModelToModelBase
// and, whatever it returned, TerminateReadModel.
//
// Storage choices: a face keeps its index count and only the index sets it was given (a set it
// does not carry reads as all zero); a mesh's materials and skin weights and a material's map
// texture lists are grown arrays. The fixed capacities the converter enforces are the constants
// below; readers may exceed them, the converter then refuses the model. Every array handed to the
// converter must come from ReadModelAlloc and hold what its count says, else it refuses the model.
// A pool block that holds index sets of a mesh's faces holds nothing but index sets of that
// mesh's faces; a mesh's faces, positions, normals, colours or UVs that start a pool block have it
// to themselves and share it with no other mesh. The converter gives such blocks back as soon as
// it is done with them.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>

// Fixed capacities of the model base the converter fills.
enum : int {
  READMODEL_MAX_FACE_INDICES = 32,     // vertices of one polygon
  READMODEL_MAX_UV_SETS = 8,           // texture-coordinate sets of a mesh
  READMODEL_MAX_MESH_MATERIALS = 256,  // materials of one mesh
  READMODEL_MAX_SKIN_WEIGHTS = 4096,   // skin-weight blocks of one mesh
  READMODEL_MAX_MAP_LAYERS = 8,        // textures of a map list that reach the material base
};

// Index sets of a face: which array of the mesh the indices point into.
enum : int {
  READMODEL_SET_POSITION = 0,
  READMODEL_SET_NORMAL = 1,
  READMODEL_SET_COLOR = 2,
  READMODEL_SET_UV0 = 3,  // UV set k is READMODEL_SET_UV0 + k
  READMODEL_SET_COUNT = READMODEL_SET_UV0 + READMODEL_MAX_UV_SETS,
};
// Bit of an index set in a set mask.
#define READMODEL_SET_BIT(set) (1u << (set))

// Key data types and kinds of a key set.
enum : int {
  READMODEL_KEY_QUATERNION = 0,  // x, y, z, w
  READMODEL_KEY_VECTOR = 1,      // x, y, z
  READMODEL_KEY_MATRIX4X3 = 2,   // the first three columns of the four rows of a MATRIX
  READMODEL_KEY_MATRIX3X3 = 3,   // the upper-left 3 x 3 of a MATRIX, row by row
  READMODEL_KEY_FLOAT4 = 4,
  READMODEL_KEY_FLOAT5 = 5,
  READMODEL_KEY_FLOAT6 = 6,
  READMODEL_KEY_QUATERNION7 = 7,  // x, y, z, w
};
enum : int {
  READMODEL_KIND_ROTATE = 0,
  READMODEL_KIND_ROTATE_X = 1,
  READMODEL_KIND_ROTATE_Y = 2,
  READMODEL_KIND_ROTATE_Z = 3,
  READMODEL_KIND_SCALE = 5,
  READMODEL_KIND_SCALE_X = 6,
  READMODEL_KIND_SCALE_Y = 7,
  READMODEL_KIND_SCALE_Z = 8,
  READMODEL_KIND_TRANSLATE = 10,
  READMODEL_KIND_TRANSLATE_X = 11,
  READMODEL_KIND_TRANSLATE_Y = 12,
  READMODEL_KIND_TRANSLATE_Z = 13,
  READMODEL_KIND_MATRIX4X3 = 15,
  READMODEL_KIND_MATRIX3X3 = 17,
  READMODEL_KIND_SHAPE_WEIGHT = 18,
};

struct ReadModelFrame;
struct ReadModelMesh;
struct ReadModelShape;
struct ReadModelMaterial;
struct ReadModelTexture;
struct ReadModelSkinWeight;
struct ReadModelAnimSet;
struct ReadModelAnim;
struct ReadModelAnimKeySet;
struct RMHashIndex;

// A polygon of a mesh. Readers fill IndexCount, MaterialIndex and the indices (through
// ReadModelSetFaceIndexCount and ReadModelFaceIndices); TriangleCount and Normal belong to the
// converter.
struct ReadModelFace {
  int IndexCount;     // vertices of the polygon, 3 to 32
  int TriangleCount;  // written by the converter (index count - 2)
  int MaterialIndex;  // into the mesh's materials
  uint32_t Sets;      // mask of the index sets stored for this face (READMODEL_SET_BIT)
  float Normal[3];    // face normal, written by automatic normals
  int* Index;         // the stored sets in set order, IndexCount ints each
  int IndexStorage;   // ints stored at Index (the converter refuses a face that outgrew them)
};

struct ReadModelUV {
  float u, v;
};

struct ReadModelMesh {
  ReadModelMesh* Prev;
  ReadModelMesh* Next;
  int Index;

  int FaceCount;
  ReadModelFace* Faces;
  uint32_t FaceSets;  // index sets that ReadModelSetFaceIndexCount gives new faces

  int PositionCount;
  VECTOR* Positions;
  int NormalCount;
  VECTOR* Normals;  // null: normals are made by the converter
  int VertexColorCount;
  COLOR_F* VertexColors;  // null: every vertex is white
  int UVCount[READMODEL_MAX_UV_SETS];
  ReadModelUV* UVs[READMODEL_MAX_UV_SETS];

  int MaterialCount;
  int MaterialCapacity;
  ReadModelMaterial** Materials;  // a face names one by its position here
  int SkinWeightCount;
  int SkinWeightCapacity;
  ReadModelSkinWeight** SkinWeights;

  ReadModelFrame* Frame;
  ReadModelMesh* NextInFrame;
  ReadModelMesh* PrevInFrame;

  void* Work;  // the converter's working data; readers leave it null
};

struct ReadModelShapeVertex {
  uint32_t Position;  // index into the target mesh's positions
  VECTOR Offset;      // position offset
  VECTOR Normal;      // normal offset
};

struct ReadModelShape {
  ReadModelShape* Prev;
  ReadModelShape* Next;
  int Index;
  const char* Name;
  ReadModelMesh* Mesh;  // the mesh it deforms
  int HasNormals;       // clear: the vertices' normal offsets are stored as zero
  int VertexCount;
  ReadModelShapeVertex* Vertices;
  int* TargetTable;  // built by the converter
  ReadModelFrame* Frame;
  ReadModelShape* NextInFrame;
  ReadModelShape* PrevInFrame;
};

struct ReadModelFrame {
  ReadModelFrame* Prev;
  ReadModelFrame* Next;
  int Index;
  const char* Name;
  int Visible;            // default 1
  VECTOR ReaderPosition;  // free for the reader; the converter ignores it
  MATRIX Matrix;          // local transform, default identity
  VECTOR Translate;       // default 0
  VECTOR Scale;           // default (1, 1, 1)
  VECTOR Rotate;          // radians, default 0
  int RotateOrder;        // 0 XYZ, 1 XZY, 2 YZX, 3 YXZ, 4 ZXY, 5 ZYX
  float Quaternion[4];    // x, y, z, w; default (0, 0, 0, 1)
  float SmoothingAngle;   // radians, default 1.5207964

  int MeshCount;
  ReadModelMesh* FirstMesh;
  ReadModelMesh* LastMesh;
  int ShapeCount;
  ReadModelShape* FirstShape;
  ReadModelShape* LastShape;

  ReadModelFrame* Parent;
  ReadModelFrame* FirstChild;
  ReadModelFrame* LastChild;
  ReadModelFrame* NextSibling;
  ReadModelFrame* PrevSibling;

  void* Work;  // the converter's working data; readers leave it null
  int OnLastPath;  // the last frame or one of its ancestors (kept by ReadModelAddFrame)
};

// A map texture list of a material (grown; only the first 8 reach the material base).
struct ReadModelTextureList {
  int Count;
  int Capacity;
  ReadModelTexture** Items;
};

struct ReadModelMaterial {
  ReadModelMaterial* Prev;
  ReadModelMaterial* Next;
  int Index;
  const char* Name;
  int Type;
  ReadModelTextureList DiffuseTextures;
  ReadModelTextureList SpecularTextures;
  ReadModelTextureList NormalTextures;
  COLOR_F Ambient;   // default 0
  COLOR_F Diffuse;   // default (1, 1, 1, 1)
  COLOR_F Specular;  // default 0
  COLOR_F Emissive;  // default 0
  float Power;
  ReadModelTexture* DiffuseGradTexture;
  ReadModelTexture* SpecularGradTexture;
  int DiffuseGradBlendType;   // default 2
  int SpecularGradBlendType;  // default 1
  float OutlineWidth;
  COLOR_F OutlineColor;
  int DrawBlendMode;   // default 1 (alpha)
  int DrawBlendParam;  // default 255
};

struct ReadModelTexture {
  ReadModelTexture* Prev;
  ReadModelTexture* Next;
  int Index;
  const char* Name;
  int AddressModeU;  // default 1 (wrap)
  int AddressModeV;  // default 1
  int FilterMode;    // default 2 (linear)
  const char* ColorFilePath;  // null when none
  const char* AlphaFilePath;  // null when none
  int BumpMapFlag;
  float BumpMapScale;
  int BlendType;  // layer blend type of the material layers that use it
};

struct ReadModelSkinWeightOne {
  uint32_t Index;  // position index of the mesh
  float Weight;
};

struct ReadModelSkinWeight {
  MATRIX OffsetMatrix;  // bind pose: mesh space into the bone's space
  int BoneFrame;        // frame index of the bone; -1 when the reader found none
  int WeightCount;
  ReadModelSkinWeightOne* Weights;
};

struct ReadModelAnimSet {
  ReadModelAnimSet* Prev;
  ReadModelAnimSet* Next;
  int Index;
  const char* Name;
  float TotalTime;
  int IsAddAnim;     // additive flag
  int IsMatrixAnim;  // matrix-mode flag
  int AnimCount;
  ReadModelAnim* FirstAnim;
  ReadModelAnim* LastAnim;
};

struct ReadModelAnim {
  ReadModelAnimSet* Set;
  ReadModelAnim* Prev;
  ReadModelAnim* Next;
  int Index;
  const char* TargetFrameName;
  int TargetFrameIndex;
  float TotalTime;
  int IntSetting;   // copied to the anim frame base; cleared when matrix keys become quaternions
  int KeySetCount;
  ReadModelAnimKeySet* FirstKeySet;
  ReadModelAnimKeySet* LastKeySet;
  ReadModelAnim* PrevInSet;
  ReadModelAnim* NextInSet;
};

struct ReadModelAnimKeySet {
  ReadModelAnimKeySet* Prev;
  ReadModelAnimKeySet* Next;
  int Index;
  uint8_t DataType;  // READMODEL_KEY_*
  uint8_t Kind;      // READMODEL_KIND_*
  uint8_t TimeType;  // 1 explicit key times (default), 0 uniform
  int ShapeIndex;    // shape weights: position in the animated frame's shape list
  float TotalTime;
  int KeyCount;
  float UnitTime;    // uniform times: time between keys
  float StartTime;   // uniform times: time of the first key
  float* KeyTimes;   // explicit times: one per key
  void* KeyData;     // KeyCount keys of the data type's size
  ReadModelAnimKeySet* PrevInAnim;
  ReadModelAnimKeySet* NextInAnim;
};

// The root. Readers own it (usually a local) between InitReadModel and TerminateReadModel.
struct ReadModel {
  void* PoolHead;  // chunk list of every block of this read model
  const char* FilePath;
  const char* Name;
  int ReverseWinding;              // swap the second and third vertex of every triangle
  int UseFrameSmoothingAngles;     // always make normals, with each frame's own angle
  uint32_t AnimKeyDataSize;        // (key size + 4) x key count over every key set

  int FrameCount;
  ReadModelFrame* FirstFrame;
  ReadModelFrame* LastFrame;
  int MaterialCount;
  ReadModelMaterial* FirstMaterial;
  ReadModelMaterial* LastMaterial;
  int TextureCount;
  ReadModelTexture* FirstTexture;
  ReadModelTexture* LastTexture;
  int MeshCount;
  ReadModelMesh* FirstMesh;
  ReadModelMesh* LastMesh;
  int ShapeCount;
  ReadModelShape* FirstShape;
  ReadModelShape* LastShape;
  int AnimSetCount;
  ReadModelAnimSet* FirstAnimSet;
  ReadModelAnimSet* LastAnimSet;
  int AnimCount;
  ReadModelAnim* FirstAnim;
  ReadModelAnim* LastAnim;
  int KeySetCount;
  ReadModelAnimKeySet* FirstKeySet;
  ReadModelAnimKeySet* LastKeySet;

  uint32_t StringDataSize;   // running total of string storage, (length + 1) rounded up to 4
  uint32_t SkinWeightCount;  // skin-weight blocks created

  void* Work;  // the converter's working totals; readers leave it null
  RMHashIndex* TextureIndex;  // textures by their colour and alpha paths (ReadModelAddTexture)
};

// ---- Root and pool ----

// Clears the whole root; 0.
int InitReadModel(ReadModel* rm);
// Frees every block of the pool; 0. The root may be used again after InitReadModel.
int TerminateReadModel(ReadModel* rm);
// size zero-filled bytes from the pool (the model system's chunk list; small requests share its
// blocks), 16-byte aligned, or null (ChunkListAlloc logs).
void* ReadModelAlloc(ReadModel* rm, uint64_t size);
// A copy of the string in the pool, or null; adds (length + 1) rounded up to 4 to the string total.
const char* ReadModelAddString(ReadModel* rm, const char* str);

// ---- Records ----
// Add operations return the new record, or null when the pool is exhausted; they log nothing.
// Frames, materials, textures and animation sets are linked before their name is stored: a failed
// name store returns null and leaves a nameless record on the list.

// New frame under parent (null: top level), linked so that the frame list stays in depth-first
// pre-order with every index its place in the list; defaults as the record states. A frame that
// ends the list costs a constant amortised time; one placed inside the list (a parent whose
// subtree does not end the list) costs the parent's last-child chain and the frames behind it.
ReadModelFrame* ReadModelAddFrame(ReadModel* rm, const char* name, ReadModelFrame* parent);
// New mesh at the end of the root's list and, with a frame, of the frame's mesh list. Its faces
// store positions, normals and UV set 0 unless FaceSets is changed.
ReadModelMesh* ReadModelAddMesh(ReadModel* rm, ReadModelFrame* frame);
// Unlinks the mesh from the root's and the frame's lists; the others keep their indices.
void ReadModelSubMesh(ReadModel* rm, ReadModelFrame* frame, ReadModelMesh* mesh);
// New shape; the name is stored first (a failed store returns null before anything is linked).
ReadModelShape* ReadModelAddShape(ReadModel* rm, const char* name, ReadModelFrame* frame);
// New material with the defaults of the record.
ReadModelMaterial* ReadModelAddMaterial(ReadModel* rm, const char* name);
// The n-th material (n below 1 gives the first), or null when n is at or beyond the count.
ReadModelMaterial* ReadModelGetListItem(ReadModel* rm, int n);
// Texture record for the files, new or (with reuseFlag) an existing one with the same resolved
// colour and alpha paths. A file name is resolved against the current directory: the relative
// path when that file opens, else its last path component when that opens, else the relative
// path. Without an alpha name the texture has no alpha path.
ReadModelTexture* ReadModelAddTexture(ReadModel* rm, const char* name, const char* colorFileName,
                                      const char* alphaFileName, int bumpMapFlag,
                                      float bumpMapScale, int reuseFlag);
// New zeroed skin-weight block, not linked anywhere; increases the root's skin-weight count.
ReadModelSkinWeight* ReadModelAddSkinWeight(ReadModel* rm);
ReadModelAnimSet* ReadModelAddAnimSet(ReadModel* rm, const char* name);
// New animation at the end of the root's and the set's lists.
ReadModelAnim* ReadModelAddAnim(ReadModel* rm, ReadModelAnimSet* set);
// New key set at the end of the root's and the animation's lists, time type 1 (explicit).
ReadModelAnimKeySet* ReadModelAddAnimKeySet(ReadModel* rm, ReadModelAnim* anim);

// ---- Arrays of records ----

// Appends to the mesh's material list / skin-weight list (grown from the pool); 0, or -1 when
// the pool is exhausted (the list is then unchanged).
int ReadModelMeshAddMaterial(ReadModel* rm, ReadModelMesh* mesh, ReadModelMaterial* material);
int ReadModelMeshAddSkinWeight(ReadModel* rm, ReadModelMesh* mesh, ReadModelSkinWeight* weight);
// Appends a texture to a map list of a material; 0, or -1 when the pool is exhausted.
int ReadModelAddMapTexture(ReadModel* rm, ReadModelTextureList* list, ReadModelTexture* texture);

// Gives the mesh a zeroed array of faceCount faces (replacing any earlier one); 0, or -1.
int ReadModelAllocFaces(ReadModel* rm, ReadModelMesh* mesh, int faceCount);
// Sets the face's index count and gives it zeroed storage for the mesh's current FaceSets;
// 0, or -1 when the pool is exhausted or indexCount is negative.
int ReadModelSetFaceIndexCount(ReadModel* rm, ReadModelMesh* mesh, ReadModelFace* face,
                               int indexCount);
// The face's indices of one set (IndexCount ints), or null when the face does not store it.
int* ReadModelFaceIndices(const ReadModelFace* face, int set);
// The same for reading: a set the face does not store reads as IndexCount zeros (up to 32).
const int* ReadModelFaceIndicesOrZero(const ReadModelFace* face, int set);

// Size in bytes of one key of a data type (16, 12, 48, 36, 4, 4, 4, 16), 0 for others.
int ReadModelKeySize(int dataType);
// Gives the key set count keys (data of its data type, and times when explicit) from the pool
// and adds (key size + 4) x count to the root's key data size; 0, or -1.
int ReadModelAllocKeys(ReadModel* rm, ReadModelAnimKeySet* keySet, int count);

// Work done by the operations whose cost could outgrow their input, counted for the tests that
// guard it: the steps of the normals' fan walk (steps, face groups looked at, faces passed over),
// the frames visited while adding frames, the vertices compared while the mesh parts find
// each corner's vertex, the look-ups of names and the entries they compare in the hash indexes
// (readmodel_hash.h), and the per-material entries an MQO object resets. Only ever added to.
struct ReadModelWork {
  uint64_t NormalSteps;
  uint64_t FrameVisits;
  uint64_t VertexProbes;
  uint64_t HashLookups;
  uint64_t HashProbes;
  uint64_t MaterialResets;
};
ReadModelWork& ReadModelWorkCount();

// ---- Conversion ----

// Test seam: when set, the converter hands every read model to the observer before it converts
// it; a non-zero result stops the conversion, which then returns -1 without a message.
typedef int (*ReadModelObserver)(const ReadModel* rm, const char* folder, void* user);
void SetReadModelObserver(ReadModelObserver observer, void* user);

// The read model as a new model base behind a new model-base handle, or -1 (one log line
// beginning "Read Model Convert Error : ", no base left behind). Once a mesh's parts are built,
// its face array, vertex colours and UV sets are freed when they take 64 KiB or more (the array
// null, its count 0), and so are the blocks of 64 KiB or more that held its index sets once no
// face points into them.
int ConvertReadModelToModelBase(ReadModel* rm, const char* folder);
