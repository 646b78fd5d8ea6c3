// Model bases built by hand for tests, benchmarks and demos.
//
// Describe frames, materials, textures, skin bones, meshes with their triangle lists and shapes,
// then Build(): the base is laid out as the loaders lay it out (records from the base's chunk list,
// or with `separateArrays` the arrays a converter may allocate separately, marked by their flags),
// its per-vertex records written as the load-time processing writes them, its change bits numbered
// and its counts and frame base matrices set up by the model core's own functions, and it is
// registered in the base table. Needs a started model system (ModelSystemScope).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <qzlib/base/types.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model_base.h>

// Starts the model system as Direct3D mode does (UseDirect3DFlag set) and ends it again.
class ModelSystemScope {
 public:
  ModelSystemScope();
  ~ModelSystemScope();
};

struct TestBoneWeight {
  int bone;      // position in the frame's bone list
  float weight;
};

struct TestVertex {
  VECTOR position{0, 0, 0};
  VECTOR normal{0, 0, 1};
  std::vector<TestBoneWeight> bones;  // at most the frame's bones per vertex
  COLOR_U8 diffuse{255, 255, 255, 255};
  COLOR_U8 specular{0, 0, 0, 0};
};

struct TestTriangleList {
  int type = MV1_VERTEX_TYPE_RIGID;
  std::vector<int> meshVertices;      // list vertex -> mesh vertex
  std::vector<uint16_t> indices;      // three per triangle, into the list's vertices
  std::vector<int> useBones;          // types 1 and 2: the list's bones (frame bone-list positions)
};

struct TestFrame {
  int parent = -1;
  std::string name;
  VECTOR translate{0, 0, 0};
  VECTOR scale{1, 1, 1};
  VECTOR rotate{0, 0, 0};
  int rotateOrder = 0;
  bool visible = true;
  int bonesPerVertex = 0;
  std::vector<int> boneList;          // skin-bone indices this frame's vertices use
};

struct TestMesh {
  int frame = 0;
  int material = 0;
  bool visible = true;
  bool hasShape = false;
  int uvSets = 1;
  std::vector<TestVertex> vertices;
  std::vector<TestTriangleList> lists;
};

struct TestMaterial {
  std::string name;
  COLOR_F diffuse{0.8f, 0.8f, 0.8f, 1};
  int diffuseLayers = 0, specularLayers = 0, normalLayers = 0;  // layers name textures 0, 1, ...
};

struct TestSkinBone {
  int frame = 0;                      // the frame that computes it
  Matrix3x4 offset{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
  bool translateOnly = false;
};

struct TestShape {
  int frame = 0;
  int mesh = 0;                       // a mesh of that frame with hasShape
  int vertexCount = 1;
  std::string name;                   // empty: "shape<index>"
};

// A key set: key data type (0/7 quaternion, 1 vector, 5 float, others stored as floats of width
// 1), driven component, time type (0 uniform steps, 1 explicit times) and the keys.
struct TestKeySet {
  int type = 1;
  int component = 10;
  int timeType = 1;
  int shape = 0;                      // target shape index (component 18)
  float step = 1, start = 0;          // uniform steps
  std::vector<float> times;           // explicit times, one per key (missing ones are 0)
  std::vector<float> values;          // 4, 3 or 1 floats per key by type
  int keyCount = -1;                  // -1: values.size() / width
};

struct TestAnimFrame {
  int frame = 0;                      // the driven frame; -1 none
  std::vector<TestKeySet> keySets;
};

struct TestAnim {
  std::string name;
  float totalTime = 0;
  bool additive = false;
  bool matrixMode = false;
  std::vector<TestAnimFrame> frames;
};

// Floats per key of a key data type: 4 for quaternions, 3 for vectors, else 1.
int TestKeyWidth(int type);

class ModelBaseBuilder {
 public:
  std::vector<TestFrame> frames;
  std::vector<TestMesh> meshes;       // grouped by frame when built, in frame order
  std::vector<TestMaterial> materials;
  std::vector<std::string> textures;
  std::vector<TestSkinBone> skinBones;  // grouped by frame when built
  std::vector<TestShape> shapes;
  std::vector<TestAnim> anims;        // with the base's anim-frame table
  bool separateArrays = false;

  int AddFrame(int parent, VECTOR translate = {0, 0, 0}, VECTOR rotate = {0, 0, 0},
               VECTOR scale = {1, 1, 1});
  // A mesh of `frame` with one list of the given type holding `triangles` triangles over
  // 3 * triangles fresh vertices spread around `centre`. Skinned types get their frame's bones.
  int AddMesh(int frame, int type, int triangles, VECTOR centre = {0, 0, 0}, int material = 0);

  // The base handle, or -1 when an allocation fails (everything taken is freed again).
  int Build() const;
};

// The shared reference base of the model tests: an asymmetric tree of 8 frames whose children
// are not contiguous (0 -> 1, 3, 5; 1 -> 2, 6; 3 -> 4; 7 a second top-level frame), transforms of
// every local kind, meshes with
// lists of all four vertex types, two materials with layers, three textures, skin bones (one
// translation-only), a mesh with shapes.
ModelBaseBuilder ReferenceBaseBuilder();

// A seeded random tree of `frameCount` frames, each parent before its children, with `meshCount`
// rigid meshes (one list of `trianglesPerMesh` triangles each) spread over the frames.
ModelBaseBuilder RandomTreeBuilder(uint32_t seed, int frameCount, int meshCount,
                                   int trianglesPerMesh = 2);

// A model of the base in a freshly reserved slot; -1 on failure.
int CreateTestModel(int baseHandle);

// Key sets of explicit times: times and the key values (TestKeyWidth(type) floats per key).
TestKeySet ExplicitKeys(int type, int component, std::vector<float> times,
                        std::vector<float> values);

// A chain of `frameCount` frames (each the child of the one before, one unit apart along Y) with
// `animCount` anims of `keyCount` explicit keys over 0..keyCount-1 driving every frame: anim a
// turns each frame about an axis by a quaternion (first form) and moves it with a translate
// vector, both seeded by a.
ModelBaseBuilder AnimatedChainBuilder(int frameCount, int animCount, int keyCount);

// Adds rigid meshes of `frame` holding the triangles of `corners` (three per triangle, each
// triangle on fresh vertices), split into meshes of at most 20,000 triangles.
void AddTriangleMeshes(ModelBaseBuilder* b, int frame, const std::vector<VECTOR>& corners,
                       int material = 0);
// The corners of a seeded height field of cellsX x cellsZ quads (two triangles each) over
// [0, width] x [0, width] in x and z, heights in [0, height].
std::vector<VECTOR> HeightFieldCorners(uint32_t seed, int cellsX, int cellsZ, float width,
                                       float height);
