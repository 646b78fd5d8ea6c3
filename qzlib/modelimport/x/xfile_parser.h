// X file parser: the memory image of an X file (text or uncompressed binary form) into a tree of
// XFileObject records, one per object of a known template, with children and references.
//
// Every count, length and offset read from the file is checked against the bytes left before it
// is used; hostile input gives -1 and a "Load XFile : " log line, never an out-of-bounds access.
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/base/types.h>

// Object types: the index of the template in XFileTemplateNames.
enum XFileObjectType : int {
  XOBJ_COORDS2D = 2,
  XOBJ_MATRIX4X4 = 3,
  XOBJ_COLORRGBA = 4,
  XOBJ_COLORRGB = 5,
  XOBJ_MATERIAL = 6,
  XOBJ_TEXTUREFILENAME = 7,
  XOBJ_MESHFACE = 8,
  XOBJ_MESHTEXTURECOORDS = 9,
  XOBJ_MESHNORMALS = 10,
  XOBJ_MESHMATERIALLIST = 11,
  XOBJ_INDEXEDCOLOR = 12,
  XOBJ_MESHVERTEXCOLORS = 13,
  XOBJ_MESH = 14,
  XOBJ_FRAMETRANSFORMMATRIX = 15,
  XOBJ_FRAME = 16,
  XOBJ_FLOATKEYS = 17,
  XOBJ_TIMEDFLOATKEYS = 18,
  XOBJ_ANIMATIONKEY = 19,
  XOBJ_ANIMATIONOPTION = 20,
  XOBJ_ANIMATION = 21,
  XOBJ_ANIMATIONSET = 22,
  XOBJ_XSKINMESHHEADER = 23,
  XOBJ_SKINWEIGHTS = 24,
  XOBJ_TYPE_SLOTS = 29,
};

// The template table; slots 0, 1 and 25 to 28 are empty and never match.
extern const char* const XFileTemplateNames[XOBJ_TYPE_SLOTS];

// Most vertices one face may have.
constexpr uint32_t kXMaxFaceVertices = 32;

// A list of faces stored compactly: face i uses indices[starts[i]] .. indices[starts[i + 1] - 1].
// starts has count + 1 entries (null when count is 0).
struct XFaceList {
  uint32_t count;
  uint32_t* starts;
  uint32_t* indices;
};

// Faces 0 to 2 vertices long are kept as read; the consumer decides.
inline uint32_t XFaceVertexCount(const XFaceList& f, uint32_t i) { return f.starts[i + 1] - f.starts[i]; }
inline const uint32_t* XFaceIndices(const XFaceList& f, uint32_t i) { return f.indices + f.starts[i]; }

struct XIndexedColor {
  uint32_t index;
  COLOR_F color;
};

struct XFloatKeys {
  uint32_t count;
  float* values;
};

struct XTimedFloatKeys {
  uint32_t time;
  XFloatKeys keys;
};

struct XFileObject;

struct ReadModelFrame;
struct ReadModelMaterial;

// What the model conversion works out per object (filled by ConvertXFileObjects).
struct XObjectConvert {
  int number;                        // Material, Frame: 0, 1, 2 ... in creation order
  XFileObject* texture;              // Material: its TextureFilename
  ReadModelMaterial* readMaterial;   // Material: the read-model material made from it
  ReadModelFrame* readFrame;         // Frame: the read-model frame made from it
  // Collected objects: MeshMaterialList its Materials, Mesh its SkinWeights, Frame its Meshes,
  // Animation its AnimationKeys, AnimationSet its Animations.
  XFileObject** items;
  uint32_t itemCount;
  ReadModelFrame** meshFrames;       // Frame: per collected mesh, the frame made for it (or null)
  XFileObject* materialList;         // Mesh: first MeshMaterialList
  XFileObject* textureCoords;        // Mesh: first MeshTextureCoords
  XFileObject* normals;              // Mesh: first MeshNormals
  XFileObject* vertexColors;         // Mesh: first MeshVertexColors
  XFileObject* transformMatrix;      // Frame: first FrameTransformMatrix
  XFileObject* frame;                // Animation: its Frame; SkinWeights: its bone
  uint32_t endTime;                  // AnimationKey, Animation, AnimationSet: last key time
  int collected;                     // Mesh: collected by a Frame of the file
};

// One object of the file. The name lives in the same allocation as the node.
struct XFileObject {
  int type;
  char* name;
  XFileObject* parent;
  XFileObject* firstChild;
  XFileObject* lastChild;
  XFileObject* nextSibling;
  uint32_t refCount;
  uint32_t refCapacity;
  XFileObject** refs;   // the referenced objects (null until resolved)
  char** refNames;      // the names written in the file (null for back references)
  XFileObject* next;    // creation order
  union {
    struct { float faceColor[4]; float power; float specular[3]; float emissive[3]; } material;
    struct { char* fileName; int nameIndex; } textureFilename;
    XFaceList meshFace;
    struct { uint32_t count; UV* coords; } textureCoords;
    struct { uint32_t normalCount; VECTOR* normals; XFaceList faces; } meshNormals;
    struct { uint32_t nMaterials; uint32_t nFaceIndexes; uint32_t* indices; } materialList;
    XIndexedColor indexedColor;
    struct { uint32_t count; XIndexedColor* colors; } vertexColors;
    struct { uint32_t vertexCount; VECTOR* vertices; XFaceList faces; uint32_t triangleEstimate; } mesh;
    MATRIX transformMatrix;
    XFloatKeys floatKeys;
    XTimedFloatKeys timedFloatKeys;
    struct { uint32_t keyType; uint32_t keyCount; XTimedFloatKeys* keys; } animationKey;
    struct { int openClosed; int positionQuality; } animationOption;
    struct { int maxWeightsPerVertex; int maxWeightsPerFace; int bones; } skinMeshHeader;
    struct { char* transformNodeName; uint32_t weightCount; uint32_t* indices; float* weights; MATRIX offset; } skinWeights;
  } data;
  XObjectConvert conv;
};

// The owner of a tree.
struct XFileObjectList {
  XFileObject* first;
  XFileObject* last;
  void* chunkHead;          // pool of every array of the tree
  uint32_t nameDataSize;    // sum of (name length + 1) rounded up to 4
  uint32_t objectCount;
  int frameCount;
  int materialCount;
  int meshCount;
  int textureNameCount;     // distinct TextureFilename names (case-sensitive)
  void* textureNames;       // their lookup table
};

// Parses the file image into list. The first object already in list (if any) is the parent of the
// file's top-level objects and is never found by name. 0, or -1 with its log message; what was made
// stays on the list for FreeXFileObjectList. A file without the magic "xof " gives -1 silently.
int ParseXFile(const void* image, size_t size, XFileObjectList* list);

// Makes an object (zeroed data) named name under parent (null: top level) at the end of the
// creation-order list. Null on allocation failure (logged).
XFileObject* XFileAddObject(XFileObjectList* list, int type, const char* name, XFileObject* parent);

// Zero-filled bytes from the list's pool, or null (logged).
void* XFileChunkAlloc(XFileObjectList* list, size_t size);

// The first object of the given type among obj's children (in order), then its references.
XFileObject* XFileFindChild(const XFileObject* obj, int type);

// Frees the pool and every node; the list is empty afterwards.
void FreeXFileObjectList(XFileObjectList* list);
