// Working data of the read-model converter, kept in the read model's pool while one conversion
// runs (mesh->Work, frame->Work).
#pragma once
#include <cstdint>

#include <qzlib/model/model_base.h>
#include <qzlib/modelimport/readmodel.h>

// A triangle list being built: its faces' mesh vertices numbered locally.
struct RMListWork {
  int Type;                 // MV1_VERTEX_TYPE_*
  int Stride;               // bytes per per-vertex record
  int BonesPerVertex;       // type 3
  int UseBoneCount;         // types 1 and 2
  const uint16_t* UseBone;  // skin-weight block numbers of the mesh
  int VertexCount;
  uint32_t* MeshVertexIndex;  // part-local mesh-vertex index per list vertex
  int IndexCount;
  uint16_t* Index;
};

// One mesh base in the making: a material of a mesh.
struct RMPartWork {
  const ReadModelMaterial* Material;
  int UVSetCount;
  int VertexStride;
  int VertexCount;
  uint8_t* Vertices;        // VertexCount mesh vertices, position and normal indices mesh-local
  int FaceCount;
  MV1MeshFace* Faces;
  int BonesPerVertex;
  int HasVertexAlpha;
  int ListCount;
  RMListWork* Lists;
  int HasShape;
  int ShapeMeshCount;       // shape meshes of this part (filled when sizing shapes)
};

// A pool block: where it starts and how many bytes of it are known to be in use.
struct RMBlock {
  void* Start;
  uint64_t Bytes;
};
constexpr int kRMIndexBlocks = 6;  // the reader's (up to four) and the converter's two

struct RMMeshWork {
  // The large index blocks of the mesh (64 KiB or more): the reader's, found when the model is
  // checked, and those the triangulation and the normals give its faces. Freed once the parts are
  // built, when no face points into them (RMFreeDeadIndexBlocks).
  int IndexBlockCount;
  RMBlock IndexBlocks[kRMIndexBlocks];
  int PartCount;
  RMPartWork* Parts;
  int BonesPerVertex;       // the largest of its parts
  // Skinned meshes: the bones of each position, in increasing block order (CSR).
  int* PosBoneStart;        // PositionCount + 1 entries, or null without skin weights
  uint16_t* PosBone;
  float* PosWeight;
  int HasShapes;
  // Offsets within the frame, set when the frame is sized.
  int FramePositionBase;
  int FrameNormalBase;
  int FrameBoneBase;
};

struct RMFrameWork {
  int BonesPerVertex;
  int PartCount;            // mesh bases of its own meshes
  int PositionCount;
  int NormalCount;
  int BoneCount;            // skin-weight blocks of its meshes: its bone-list length
  MV1FrameBase* Base;
};

// The converter's tables of the whole read model (rm->Work).
struct RMRootWork {
  ReadModelFrame** Frames;        // by list position
  ReadModelMaterial** Materials;
  ReadModelTexture** Textures;
};

// UV sets of the mesh bases of a material: its diffuse texture count, 1 to 8.
inline int ReadModelMaterialUVSets(const ReadModelMaterial* m) {
  int n = m->DiffuseTextures.Count;
  return n < 1 ? 1 : n > READMODEL_MAX_MAP_LAYERS ? READMODEL_MAX_MAP_LAYERS : n;
}

// Requests of up to kReadModelCarveLimit bytes are carved from shared blocks instead of taking a
// chunk each: a shared block is a chunk of kReadModelSharedBytes whose data pointer is null (so that
// ChunkListFree never takes it), kept first in the pool while it is being filled. Its data starts
// with this head; then come the carves, each a kReadModelCarveHead-byte head holding its size in
// bytes (uint64_t) and then its data, every part 16-byte aligned.
struct ReadModelSharedBlock {
  uint64_t Used;  // bytes of the block's data in use, this head included
  uint64_t Reserved;
};
constexpr uint64_t kReadModelCarveLimit = 1024;
constexpr uint64_t kReadModelSharedBytes = 16 * 1024;
constexpr uint64_t kReadModelCarveHead = 16;
// Bytes in front of a block's data that the pool's chunk header takes.
constexpr uint64_t kReadModelChunkHead = 16;
// Links a tracked block, which starts with kReadModelChunkHead bytes of room and then its data,
// into the pool like a block ReadModelAlloc took; the pool frees it from then on.
void ReadModelAdoptBlock(ReadModel* rm, void* block);
// Data of at least this many bytes is adopted rather than copied into the pool.
constexpr uint64_t kReadModelAdoptFrom = 64 * 1024;
// Test switch, on by default: off, every request takes a chunk of its own (so that an
// allocation-failure sweep reaches each request).
bool& ReadModelBlockSharing();

// Frees the pool block that starts at block (bytes long) before the read model ends, when it is
// 64 KiB or more: finding it walks the pool, so smaller blocks wait for the end. true when freed.
bool ReadModelFreeLargeBlock(ReadModel* rm, void* block, uint64_t bytes);
// The same for up to kRMFreeBlocks blocks in one walk of the pool: the Start of each block freed
// becomes null.
constexpr int kRMFreeBlocks = 16;
void ReadModelFreeLargeBlocks(ReadModel* rm, RMBlock* blocks, int count);

// Notes a pool block of bytes at start that holds index sets of the mesh's faces and nothing else;
// only large blocks are noted, and only while the mesh has its working data and room for them.
void RMNoteIndexBlock(ReadModelMesh* mesh, void* start, uint64_t bytes);
// Frees the noted index blocks of the mesh that no face points into any more.
void RMFreeDeadIndexBlocks(ReadModel* rm, ReadModelMesh* mesh);

// Builds the mesh's parts, mesh vertices, faces and triangle lists (face types, skinning groups)
// into its working data (mesh->Work, given by ValidateReadModel) and the pool; its own bookkeeping
// lives in tracked memory that is freed before it returns. 0, or -1 after logging.
int BuildReadModelMeshParts(ReadModel* rm, ReadModelMesh* mesh);

// Checks the read model before anything is sized and mends what the converter absorbs (drops
// short faces, empty or unusable key sets and animations of unknown frames; gives meshes without
// materials a default material). Gives every mesh its working data (mesh->Work, an RMMeshWork)
// with the reader's large index blocks noted. 0, or -1 after logging one line.
int ValidateReadModel(ReadModel* rm);
