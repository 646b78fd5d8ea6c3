// Building read models in tests through the read model's own operations, and dumping them.
#pragma once
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <qzlib/modelimport/readmodel.h>

// A read model that frees itself.
struct OwnedReadModel {
  ReadModel rm;
  OwnedReadModel() { InitReadModel(&rm); }
  ~OwnedReadModel() { TerminateReadModel(&rm); }
  OwnedReadModel(const OwnedReadModel&) = delete;
  OwnedReadModel& operator=(const OwnedReadModel&) = delete;
  ReadModel* operator->() { return &rm; }
  ReadModel* get() { return &rm; }
};

// One polygon for ReadModelBuilder::Faces: position indices, and the other index sets when given
// (an empty set is not stored for the face).
struct FaceSpec {
  std::vector<int> pos;
  int material = 0;
  std::vector<int> nrm;
  std::vector<int> col;
  std::vector<int> uv[READMODEL_MAX_UV_SETS];
};

// Every string goes through ReadModelAddString, every key set's (key size + 4) x count through
// the root's key-data total (ReadModelAllocKeys). Results are null when the pool runs out.
class ReadModelBuilder {
 public:
  explicit ReadModelBuilder(ReadModel* rm) : rm_(rm) {}
  ReadModel* rm() const { return rm_; }

  // Stores path and model name.
  void Names(const char* path, const char* name);
  ReadModelFrame* Frame(const char* name, ReadModelFrame* parent = nullptr);
  // A mesh on the frame with these positions.
  ReadModelMesh* Mesh(ReadModelFrame* frame, const std::vector<VECTOR>& positions);
  bool Normals(ReadModelMesh* mesh, const std::vector<VECTOR>& normals);
  bool Colors(ReadModelMesh* mesh, const std::vector<COLOR_F>& colors);
  bool UVs(ReadModelMesh* mesh, int set, const std::vector<ReadModelUV>& uvs);
  // Replaces the mesh's faces; the mesh's face sets become those the specs use.
  bool Faces(ReadModelMesh* mesh, const std::vector<FaceSpec>& faces);
  // A new material, appended to the mesh's materials when a mesh is given.
  ReadModelMaterial* Material(ReadModelMesh* mesh, const char* name);
  // A new skin-weight block on the mesh: bone frame index, (position, weight) pairs, offset
  // matrix (identity when null).
  ReadModelSkinWeight* Weight(ReadModelMesh* mesh, int boneFrame,
                              const std::vector<std::pair<uint32_t, float>>& weights,
                              const MATRIX* offset = nullptr);
  ReadModelShape* Shape(const char* name, ReadModelFrame* frame, ReadModelMesh* mesh,
                        const std::vector<ReadModelShapeVertex>& vertices, int hasNormals);
  ReadModelAnimSet* AnimSet(const char* name, float totalTime);
  ReadModelAnim* Anim(ReadModelAnimSet* set, const ReadModelFrame* target, float totalTime);
  // A key set with explicit times (one per key) and the keys' floats back to back.
  ReadModelAnimKeySet* Keys(ReadModelAnim* anim, int dataType, int kind,
                            const std::vector<float>& times, const std::vector<float>& data);
  // A key set with uniform times.
  ReadModelAnimKeySet* UniformKeys(ReadModelAnim* anim, int dataType, int kind, float start,
                                   float unit, int count, const std::vector<float>& data);

  // Shapes ready for tests: a cube of 12 triangles (8 positions, side 2 around the origin,
  // outward faces clockwise seen from outside as the engine draws them), one material.
  ReadModelMesh* Cube(ReadModelFrame* frame);

 private:
  ReadModel* rm_;
};

// Every record of the read model as text, one record per line, in list order: names escaped
// (bytes outside printable ASCII as \xNN), floats with 9 significant digits, links as indices.
std::string DumpReadModel(const ReadModel* rm);

// Test seam: while alive, every read model handed to ConvertReadModelToModelBase is dumped into
// dumps (with its folder) and, when stopConversion is set, not converted (the call returns -1).
class ReadModelCapture {
 public:
  explicit ReadModelCapture(bool stopConversion = true);
  ~ReadModelCapture();
  std::vector<std::string> dumps;
  std::vector<std::string> folders;

 private:
  static int Observe(const ReadModel* rm, const char* folder, void* user);
  bool stop_;
};
