// Test-only MV1 writer: a small scene description written as an MV1 file image by the format's
// layout rules and packed with the test LZ encoder, with the values a correct reader must build
// from it (floats rounded to float, quantised and compact values decoded, normals from faces
// computed). Also the malformed files: a valid image with one fault patched in per refusal rule.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <qzlib/base/types.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model_base.h>

struct Mv1WFrame {
  int parent = -1;  // an earlier frame, or -1
  std::string name;
  VECTOR translate{0, 0, 0}, scale{1, 1, 1}, rotate{0, 0, 0};
  int rotateOrder = 0;
  MV1Float4 quaternion{0, 0, 0, 1};
  uint32_t flag = 1, value30 = 0, value88 = 0, value8C = 0, value90 = 0;
  float smoothingAngle = 0.5f;
  int bonesPerVertex = 0;
  std::vector<int> boneList;  // skin-bone indices: the frame's part of the bone list
  std::vector<VECTOR> positions;
  std::vector<std::vector<MV1PositionBoneWeight>> weights;  // per position, at most B pairs
  std::vector<VECTOR> normals;
  int normalForm = 3;  // 0 none, 1 int8, 2 int16, 3 float
  bool quantised = false, noWeights = false, u16Bones = false, u16Weights = false;
  bool normalsFromFaces = false;
  int param = -1;  // parameter record, or -1
};

struct Mv1WList {
  int type = 0;
  std::vector<uint32_t> meshVertices;
  std::vector<uint16_t> indices;
  std::vector<uint16_t> bones;       // types 1 and 2
  int freeBones = 0;                 // type 3
  int mviWidth = 0, indexWidth = 0;  // codes: 0 u8, 1 u16, 2 u32 / 0 u8, 1 u16
};

struct Mv1WMesh {
  int frame = 0, material = 0;                       // meshes grouped by frame, in frame order
  std::vector<uint32_t> positionIndex, normalIndex;  // one per vertex
  std::vector<uint32_t> diffuse, specular;  // per vertex (0xAARRGGBB), or one with broadcast
  int uvSets = 1;
  std::vector<float> uvs;                  // vertex * uvSets * 2
  int positionWidth = 2, normalWidth = 2;  // 0 absent, 1 u8, 2 u16, 3 u32
  bool shortUV = false, broadcast = false;
  uint32_t useDiffuse = 1, useSpecular = 0;
  uint8_t vertexAlpha = 0, visible = 1, culling = 1;
  std::vector<Mv1WList> lists;
};

struct Mv1WMaterial {
  std::string name;
  COLOR_F diffuse{0.8f, 0.8f, 0.8f, 1}, ambient{0.2f, 0.2f, 0.2f, 1}, specular{0, 0, 0, 0},
      emissive{0, 0, 0, 0};
  float power = 10;
  std::vector<std::pair<int, int>> layers[3];  // diffuse, specular, normal: (texture, blend type)
  int words[5] = {0, 255, 1, 2, 3};
  bool block = false;
  int type = 0, diffuseGrad = -1, specularGrad = -1, diffuseGradBlend = 2, specularGradBlend = 1;
  float outlineWidth = 0;
  COLOR_F outlineColor{0, 0, 0, 1};
};

struct Mv1WTexture {
  std::string name, colour, alpha;  // empty file name: none
  uint32_t bump = 0;
  float bumpScale = 1;
  uint32_t addressU = 1, addressV = 1, filter = 1;
};

struct Mv1WParam {
  std::string name;
  int words[22] = {};
};

struct Mv1WSkinBone {
  int frame = 0;  // skin bones grouped by frame, in frame order
  Matrix3x4 matrix{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};
  uint32_t translateOnly = 0;
  int useFirst = 0, useCount = 0;  // run of bone-use entries
};

struct Mv1WKeySet {
  int type = 1, component = 0, target = 0;
  uint16_t flags = 0;
  uint32_t count = 1;
  float start = 0, unit = 1;  // uniform steps (u16 forms write the integer)
  std::vector<float> times;   // explicit float times
  uint8_t timeStart = 0x80, timeScale = 0x01;
  std::vector<uint16_t> timeCodes;  // compact times (0x0080)
  std::vector<float> values;        // raw values
  uint8_t valueStart = 0x80, valueScale = 0x01;
  std::vector<uint16_t> valueCodes;  // packed values (0x0100)
  // What the reader must give (filled by the writer).
  float expectStart = 0, expectUnit = 1;
  std::vector<float> expectTimes, expectValues;
};

struct Mv1WAnimFrame {
  int target = 0;
  uint32_t value0C = 0, value10 = 0;
  std::vector<Mv1WKeySet> keySets;
};

struct Mv1WAnim {
  std::string name;
  float totalTime = 10;
  uint8_t flags = 0;
  std::vector<Mv1WAnimFrame> frames;
};

struct Mv1WShapeMesh {
  int mesh = 0;
  std::vector<MV1ShapeVertexBase> vertices;
};

struct Mv1WShape {
  int frame = 0;  // shapes grouped by frame, in frame order
  std::string name;
  std::vector<Mv1WShapeMesh> meshes;
};

struct Mv1WScene {
  uint32_t fileFlag = 0x12345678;
  std::vector<Mv1WFrame> frames;
  std::vector<Mv1WMesh> meshes;
  std::vector<Mv1WMaterial> materials;
  std::vector<Mv1WTexture> textures;
  std::vector<Mv1WParam> params;
  std::vector<Mv1WSkinBone> skinBones;
  std::vector<std::pair<uint32_t, uint32_t>> boneUse;
  std::vector<Mv1WAnim> anims;
  std::vector<Mv1WShape> shapes;
};

struct Mv1WLayout {
  uint32_t shuffleSeed = 0;         // 0: records in list order; else shuffled addresses
  bool oddStreams = false;          // every stream at an odd offset
  uint32_t recordExtra = 0;         // bytes past each record's minimum size
  uint32_t strideExtra = 0;         // anim-frame and shape-vertex strides past the minimum
  uint32_t maskPadding = 0;         // words after the change-mask arrays' used words
  size_t trailing = 0;              // bytes after the block
  bool escapeMostFrequent = false;  // the LZ escape byte forced to the most frequent byte
  bool extension = false;           // an extension block even without shapes
  bool wrongTotals = false;         // wrong values at header 0xA4 and 0xA8
  bool literalsOnly = false;        // a literal-only block (fast for big images)
};

// A written file with the offsets tests patch.
struct Mv1Written {
  std::vector<uint8_t> image;  // the unpacked image, magic included
  std::vector<uint8_t> file;
  Mv1WScene expect;  // the scene as a reader must build it
  std::vector<uint32_t> frameAt, meshAt, listAt, materialAt, textureAt, paramAt, animAt,
      animFrameAt, keySetAt, shapeAt, shapeMeshAt, frameDataAt, meshDataAt, listDataAt, keyDataAt,
      shapeEntryAt;
  uint32_t skinBoneAt = 0, extensionAt = 0, animFrameStride = 0;
};

Mv1Written WriteMv1(const Mv1WScene& scene, const Mv1WLayout& layout = {});
// Packs an unpacked image (magic included) into a file.
std::vector<uint8_t> PackMv1Image(const std::vector<uint8_t>& image,
                                  bool escapeMostFrequent = false);

// Little-endian access to an image.
uint32_t Mv1Get32(const std::vector<uint8_t>& image, uint32_t at);
void Mv1Put32(std::vector<uint8_t>* image, uint32_t at, uint32_t value);
void Mv1Put16(std::vector<uint8_t>* image, uint32_t at, uint16_t value);

// A scene with every record kind: a three-level tree (pre-order), skinned and rigid meshes with
// lists of every type, two materials, two textures (file names as given), parameter records,
// bones, bone-use entries, anims with key sets of several forms and a shape.
Mv1WScene Mv1FullScene(const std::string& colourFile = "c.bgra", const std::string& alphaFile = "");

// Gives a frame a quad of side `size` centred in its XY plane (four positions, one normal) and
// adds its mesh: one rigid list of two triangles, UVs 0..1, white, with the given material.
void Mv1AddQuad(Mv1WScene* scene, int frame, int material, float size);

// One malformed file per refusal rule: a name, the text its refusal line holds, and the file.
struct Mv1Malformed {
  std::string name;
  std::string expect;
  std::vector<uint8_t> file;
};
std::vector<Mv1Malformed> Mv1MalformedFiles();
