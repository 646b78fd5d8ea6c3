// Read-model builder, dump and capture for tests.
#include "tests/support/readmodel_builder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

void SetIdentity(MATRIX* m) {
  std::memset(m, 0, sizeof(*m));
  m->m[0][0] = m->m[1][1] = m->m[2][2] = m->m[3][3] = 1.0f;
}

template <class T>
T* PoolCopy(ReadModel* rm, const std::vector<T>& v) {
  if (v.empty()) return nullptr;
  T* p = static_cast<T*>(ReadModelAlloc(rm, sizeof(T) * v.size()));
  if (p) std::memcpy(p, v.data(), sizeof(T) * v.size());
  return p;
}

}  // namespace

void ReadModelBuilder::Names(const char* path, const char* name) {
  rm_->FilePath = ReadModelAddString(rm_, path);
  rm_->Name = ReadModelAddString(rm_, name);
}

ReadModelFrame* ReadModelBuilder::Frame(const char* name, ReadModelFrame* parent) {
  return ReadModelAddFrame(rm_, name, parent);
}

ReadModelMesh* ReadModelBuilder::Mesh(ReadModelFrame* frame, const std::vector<VECTOR>& positions) {
  ReadModelMesh* m = ReadModelAddMesh(rm_, frame);
  if (!m) return nullptr;
  m->Positions = PoolCopy(rm_, positions);
  m->PositionCount = static_cast<int>(positions.size());
  return m->Positions || positions.empty() ? m : nullptr;
}

bool ReadModelBuilder::Normals(ReadModelMesh* mesh, const std::vector<VECTOR>& normals) {
  mesh->Normals = PoolCopy(rm_, normals);
  mesh->NormalCount = static_cast<int>(normals.size());
  return mesh->Normals || normals.empty();
}

bool ReadModelBuilder::Colors(ReadModelMesh* mesh, const std::vector<COLOR_F>& colors) {
  mesh->VertexColors = PoolCopy(rm_, colors);
  mesh->VertexColorCount = static_cast<int>(colors.size());
  return mesh->VertexColors || colors.empty();
}

bool ReadModelBuilder::UVs(ReadModelMesh* mesh, int set, const std::vector<ReadModelUV>& uvs) {
  mesh->UVs[set] = PoolCopy(rm_, uvs);
  mesh->UVCount[set] = static_cast<int>(uvs.size());
  return mesh->UVs[set] || uvs.empty();
}

bool ReadModelBuilder::Faces(ReadModelMesh* mesh, const std::vector<FaceSpec>& faces) {
  uint32_t sets = READMODEL_SET_BIT(READMODEL_SET_POSITION);
  for (const FaceSpec& f : faces) {
    if (!f.nrm.empty()) sets |= READMODEL_SET_BIT(READMODEL_SET_NORMAL);
    if (!f.col.empty()) sets |= READMODEL_SET_BIT(READMODEL_SET_COLOR);
    for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k)
      if (!f.uv[k].empty()) sets |= READMODEL_SET_BIT(READMODEL_SET_UV0 + k);
  }
  mesh->FaceSets = sets;
  if (ReadModelAllocFaces(rm_, mesh, static_cast<int>(faces.size())) != 0) return false;
  for (size_t i = 0; i < faces.size(); ++i) {
    const FaceSpec& given = faces[i];
    ReadModelFace* face = &mesh->Faces[i];
    int n = static_cast<int>(given.pos.size());
    if (ReadModelSetFaceIndexCount(rm_, mesh, face, n) != 0) return false;
    face->MaterialIndex = given.material;
    auto put = [&](int set, const std::vector<int>& v) {
      int* dst = ReadModelFaceIndices(face, set);
      if (!dst) return;
      for (int c = 0; c < n; ++c) dst[c] = c < static_cast<int>(v.size()) ? v[c] : 0;
    };
    put(READMODEL_SET_POSITION, given.pos);
    put(READMODEL_SET_NORMAL, given.nrm);
    put(READMODEL_SET_COLOR, given.col);
    for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k) put(READMODEL_SET_UV0 + k, given.uv[k]);
  }
  return true;
}

ReadModelMaterial* ReadModelBuilder::Material(ReadModelMesh* mesh, const char* name) {
  ReadModelMaterial* m = ReadModelAddMaterial(rm_, name);
  if (m && mesh && ReadModelMeshAddMaterial(rm_, mesh, m) != 0) return nullptr;
  return m;
}

ReadModelSkinWeight* ReadModelBuilder::Weight(ReadModelMesh* mesh, int boneFrame,
                                              const std::vector<std::pair<uint32_t, float>>& weights,
                                              const MATRIX* offset) {
  ReadModelSkinWeight* w = ReadModelAddSkinWeight(rm_);
  if (!w) return nullptr;
  if (offset) w->OffsetMatrix = *offset; else SetIdentity(&w->OffsetMatrix);
  w->BoneFrame = boneFrame;
  std::vector<ReadModelSkinWeightOne> ones;
  for (auto& p : weights) ones.push_back({p.first, p.second});
  w->Weights = PoolCopy(rm_, ones);
  w->WeightCount = static_cast<int>(ones.size());
  if (!w->Weights && !ones.empty()) return nullptr;
  if (mesh && ReadModelMeshAddSkinWeight(rm_, mesh, w) != 0) return nullptr;
  return w;
}

ReadModelShape* ReadModelBuilder::Shape(const char* name, ReadModelFrame* frame, ReadModelMesh* mesh,
                                        const std::vector<ReadModelShapeVertex>& vertices,
                                        int hasNormals) {
  ReadModelShape* s = ReadModelAddShape(rm_, name, frame);
  if (!s) return nullptr;
  s->Mesh = mesh;
  s->HasNormals = hasNormals;
  s->Vertices = PoolCopy(rm_, vertices);
  s->VertexCount = static_cast<int>(vertices.size());
  if (!s->Vertices && !vertices.empty()) return nullptr;
  return s;
}

ReadModelAnimSet* ReadModelBuilder::AnimSet(const char* name, float totalTime) {
  ReadModelAnimSet* s = ReadModelAddAnimSet(rm_, name);
  if (s) s->TotalTime = totalTime;
  return s;
}

ReadModelAnim* ReadModelBuilder::Anim(ReadModelAnimSet* set, const ReadModelFrame* target,
                                      float totalTime) {
  ReadModelAnim* a = ReadModelAddAnim(rm_, set);
  if (!a) return nullptr;
  a->TotalTime = totalTime;
  if (target) {
    a->TargetFrameIndex = target->Index;
    a->TargetFrameName = ReadModelAddString(rm_, target->Name ? target->Name : "");
    if (!a->TargetFrameName) return nullptr;
  }
  return a;
}

ReadModelAnimKeySet* ReadModelBuilder::Keys(ReadModelAnim* anim, int dataType, int kind,
                                            const std::vector<float>& times,
                                            const std::vector<float>& data) {
  ReadModelAnimKeySet* k = ReadModelAddAnimKeySet(rm_, anim);
  if (!k) return nullptr;
  k->DataType = static_cast<uint8_t>(dataType);
  k->Kind = static_cast<uint8_t>(kind);
  k->TimeType = 1;
  int count = static_cast<int>(times.size());
  if (ReadModelAllocKeys(rm_, k, count) != 0) return nullptr;
  if (count) {
    std::memcpy(k->KeyTimes, times.data(), sizeof(float) * count);
    size_t bytes = static_cast<size_t>(ReadModelKeySize(dataType)) * count;
    if (!data.empty()) std::memcpy(k->KeyData, data.data(), std::min(bytes, data.size() * sizeof(float)));
    k->TotalTime = times.back();
  }
  return k;
}

ReadModelAnimKeySet* ReadModelBuilder::UniformKeys(ReadModelAnim* anim, int dataType, int kind,
                                                   float start, float unit, int count,
                                                   const std::vector<float>& data) {
  ReadModelAnimKeySet* k = ReadModelAddAnimKeySet(rm_, anim);
  if (!k) return nullptr;
  k->DataType = static_cast<uint8_t>(dataType);
  k->Kind = static_cast<uint8_t>(kind);
  k->TimeType = 0;
  k->StartTime = start;
  k->UnitTime = unit;
  if (ReadModelAllocKeys(rm_, k, count) != 0) return nullptr;
  size_t bytes = static_cast<size_t>(ReadModelKeySize(dataType)) * count;
  if (bytes && !data.empty()) std::memcpy(k->KeyData, data.data(), std::min(bytes, data.size() * sizeof(float)));
  k->TotalTime = start + unit * static_cast<float>(count > 0 ? count - 1 : 0);
  return k;
}

ReadModelMesh* ReadModelBuilder::Cube(ReadModelFrame* frame) {
  std::vector<VECTOR> p;
  for (int i = 0; i < 8; ++i)
    p.push_back({(i & 1) ? 1.0f : -1.0f, (i & 2) ? 1.0f : -1.0f, (i & 4) ? 1.0f : -1.0f});
  ReadModelMesh* m = Mesh(frame, p);
  if (!m) return nullptr;
  // Quads (a, b, c, d) with (b - a) x (c - a) pointing outward, split into (a, b, c), (a, c, d).
  const int quads[6][4] = {{1, 3, 7, 5}, {0, 4, 6, 2}, {2, 6, 7, 3},
                           {0, 1, 5, 4}, {4, 5, 7, 6}, {0, 2, 3, 1}};
  std::vector<FaceSpec> faces;
  for (auto& q : quads) {
    FaceSpec a, b;
    a.pos = {q[0], q[1], q[2]};
    b.pos = {q[0], q[2], q[3]};
    faces.push_back(a);
    faces.push_back(b);
  }
  if (!Faces(m, faces)) return nullptr;
  if (!Material(m, "cube")) return nullptr;
  return m;
}

// ---- Dump ----

namespace {

class Out {
 public:
  void f(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof(buf), fmt, ap);
    va_end(ap);
    s += buf;
  }
  void str(const char* p) {
    if (!p) { s += "null"; return; }
    s += '"';
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(p); *c; ++c) {
      if (*c < 0x20 || *c > 0x7e || *c == '"' || *c == '\\') f("\\x%02X", *c);
      else s += static_cast<char>(*c);
    }
    s += '"';
  }
  void fl(float v) { f("%.9g", v); }
  void vec(const VECTOR& v) { f("(%.9g %.9g %.9g)", v.x, v.y, v.z); }
  void col(const COLOR_F& c) { f("(%.9g %.9g %.9g %.9g)", c.r, c.g, c.b, c.a); }
  void floats(const float* p, int n) {
    s += '[';
    for (int i = 0; i < n; ++i) f(i ? " %.9g" : "%.9g", p[i]);
    s += ']';
  }
  void ints(const int* p, int n) {
    s += '[';
    for (int i = 0; i < n; ++i) f(i ? " %d" : "%d", p[i]);
    s += ']';
  }
  std::string s;
};

template <class T>
int IndexOf(const T* rec) { return rec ? rec->Index : -1; }

void DumpTextureList(Out& o, const char* label, const ReadModelTextureList& list) {
  o.f(" %s=[", label);
  for (int i = 0; i < list.Count; ++i) o.f(i ? " %d" : "%d", list.Items ? IndexOf(list.Items[i]) : -1);
  o.s += ']';
}

const char* kSetNames[READMODEL_SET_COUNT] = {"pos", "nrm", "col", "uv0", "uv1", "uv2",
                                              "uv3", "uv4", "uv5", "uv6", "uv7"};

void DumpMesh(Out& o, const ReadModelMesh* m) {
  o.f("mesh %d frame=%d faces=%d positions=%d normals=%d colors=%d", m->Index, IndexOf(m->Frame),
      m->FaceCount, m->PositionCount, m->Normals ? m->NormalCount : -1,
      m->VertexColors ? m->VertexColorCount : -1);
  for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k)
    if (m->UVs[k] || m->UVCount[k]) o.f(" uv%d=%d", k, m->UVs[k] ? m->UVCount[k] : -1);
  o.s += " materials=[";
  for (int i = 0; i < m->MaterialCount; ++i) o.f(i ? " %d" : "%d", IndexOf(m->Materials[i]));
  o.f("] skinweights=%d\n", m->SkinWeightCount);
  if (m->Positions)
    for (int i = 0; i < m->PositionCount; ++i) { o.f("  p %d ", i); o.vec(m->Positions[i]); o.s += '\n'; }
  if (m->Normals)
    for (int i = 0; i < m->NormalCount; ++i) { o.f("  n %d ", i); o.vec(m->Normals[i]); o.s += '\n'; }
  if (m->VertexColors)
    for (int i = 0; i < m->VertexColorCount; ++i) { o.f("  c %d ", i); o.col(m->VertexColors[i]); o.s += '\n'; }
  for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k)
    if (m->UVs[k])
      for (int i = 0; i < m->UVCount[k]; ++i)
        o.f("  uv%d %d (%.9g %.9g)\n", k, i, m->UVs[k][i].u, m->UVs[k][i].v);
  if (m->Faces) {
    for (int i = 0; i < m->FaceCount; ++i) {
      const ReadModelFace* f = &m->Faces[i];
      o.f("  face %d n=%d mat=%d", i, f->IndexCount, f->MaterialIndex);
      if (f->TriangleCount) o.f(" tris=%d", f->TriangleCount);
      for (int s = 0; s < READMODEL_SET_COUNT; ++s) {
        const int* idx = ReadModelFaceIndices(f, s);
        if (!idx) continue;
        o.f(" %s=", kSetNames[s]);
        o.ints(idx, f->IndexCount);
      }
      o.s += '\n';
    }
  }
  for (int i = 0; i < m->SkinWeightCount; ++i) {
    const ReadModelSkinWeight* w = m->SkinWeights[i];
    if (!w) { o.f("  weight %d null\n", i); continue; }
    o.f("  weight %d bone=%d offset=", i, w->BoneFrame);
    o.floats(&w->OffsetMatrix.m[0][0], 16);
    o.s += " w=[";
    if (w->Weights)
      for (int j = 0; j < w->WeightCount; ++j)
        o.f(j ? " %u:%.9g" : "%u:%.9g", w->Weights[j].Index, w->Weights[j].Weight);
    o.s += "]\n";
  }
}

}  // namespace

std::string DumpReadModel(const ReadModel* rm) {
  Out o;
  o.s += "model name=";
  o.str(rm->Name);
  o.s += " path=";
  o.str(rm->FilePath);
  o.f(" reverse=%d frame_smoothing=%d keydata=%u strings=%u skinweights=%u\n", rm->ReverseWinding,
      rm->UseFrameSmoothingAngles, rm->AnimKeyDataSize, rm->StringDataSize, rm->SkinWeightCount);
  o.f("counts frames=%d meshes=%d shapes=%d materials=%d textures=%d animsets=%d anims=%d keysets=%d\n",
      rm->FrameCount, rm->MeshCount, rm->ShapeCount, rm->MaterialCount, rm->TextureCount,
      rm->AnimSetCount, rm->AnimCount, rm->KeySetCount);
  for (const ReadModelFrame* f = rm->FirstFrame; f; f = f->Next) {
    o.f("frame %d ", f->Index);
    o.str(f->Name);
    o.f(" parent=%d visible=%d order=%d smoothing=%.9g meshes=%d shapes=%d\n", IndexOf(f->Parent),
        f->Visible, f->RotateOrder, f->SmoothingAngle, f->MeshCount, f->ShapeCount);
    o.s += "  matrix=";
    o.floats(&f->Matrix.m[0][0], 16);
    o.s += "\n  translate=";
    o.vec(f->Translate);
    o.s += " scale=";
    o.vec(f->Scale);
    o.s += " rotate=";
    o.vec(f->Rotate);
    o.s += " quaternion=";
    o.floats(f->Quaternion, 4);
    o.s += " reader=";
    o.vec(f->ReaderPosition);
    o.s += '\n';
  }
  for (const ReadModelMesh* m = rm->FirstMesh; m; m = m->Next) DumpMesh(o, m);
  for (const ReadModelShape* s = rm->FirstShape; s; s = s->Next) {
    o.f("shape %d ", s->Index);
    o.str(s->Name);
    o.f(" frame=%d mesh=%d normals=%d vertices=%d\n", IndexOf(s->Frame), IndexOf(s->Mesh),
        s->HasNormals, s->VertexCount);
    if (s->Vertices)
      for (int i = 0; i < s->VertexCount; ++i) {
        o.f("  sv %d pos=%u ", i, s->Vertices[i].Position);
        o.vec(s->Vertices[i].Offset);
        o.s += ' ';
        o.vec(s->Vertices[i].Normal);
        o.s += '\n';
      }
  }
  for (const ReadModelMaterial* m = rm->FirstMaterial; m; m = m->Next) {
    o.f("material %d ", m->Index);
    o.str(m->Name);
    o.f(" type=%d", m->Type);
    DumpTextureList(o, "diffuse_tex", m->DiffuseTextures);
    DumpTextureList(o, "specular_tex", m->SpecularTextures);
    DumpTextureList(o, "normal_tex", m->NormalTextures);
    o.s += "\n  ambient=";
    o.col(m->Ambient);
    o.s += " diffuse=";
    o.col(m->Diffuse);
    o.s += " specular=";
    o.col(m->Specular);
    o.s += " emissive=";
    o.col(m->Emissive);
    o.f(" power=%.9g\n", m->Power);
    o.f("  grad=%d,%d blend=%d,%d outline=%.9g ", IndexOf(m->DiffuseGradTexture),
        IndexOf(m->SpecularGradTexture), m->DiffuseGradBlendType, m->SpecularGradBlendType,
        m->OutlineWidth);
    o.col(m->OutlineColor);
    o.f(" drawblend=%d,%d\n", m->DrawBlendMode, m->DrawBlendParam);
  }
  for (const ReadModelTexture* t = rm->FirstTexture; t; t = t->Next) {
    o.f("texture %d ", t->Index);
    o.str(t->Name);
    o.s += " color=";
    o.str(t->ColorFilePath);
    o.s += " alpha=";
    o.str(t->AlphaFilePath);
    o.f(" address=%d,%d filter=%d bump=%d,%.9g blend=%d\n", t->AddressModeU, t->AddressModeV,
        t->FilterMode, t->BumpMapFlag, t->BumpMapScale, t->BlendType);
  }
  for (const ReadModelAnimSet* s = rm->FirstAnimSet; s; s = s->Next) {
    o.f("animset %d ", s->Index);
    o.str(s->Name);
    o.f(" total=%.9g add=%d matrix=%d anims=%d\n", s->TotalTime, s->IsAddAnim, s->IsMatrixAnim,
        s->AnimCount);
    for (const ReadModelAnim* a = s->FirstAnim; a; a = a->NextInSet) {
      o.f(" anim %d target=%d ", a->Index, a->TargetFrameIndex);
      o.str(a->TargetFrameName);
      o.f(" total=%.9g setting=%d keysets=%d\n", a->TotalTime, a->IntSetting, a->KeySetCount);
      for (const ReadModelAnimKeySet* k = a->FirstKeySet; k; k = k->NextInAnim) {
        o.f("  keyset %d type=%d kind=%d timetype=%d shape=%d total=%.9g keys=%d", k->Index,
            k->DataType, k->Kind, k->TimeType, k->ShapeIndex, k->TotalTime, k->KeyCount);
        if (k->TimeType == 0) o.f(" start=%.9g unit=%.9g", k->StartTime, k->UnitTime);
        o.s += '\n';
        int floats = ReadModelKeySize(k->DataType) / 4;
        for (int i = 0; i < k->KeyCount; ++i) {
          o.f("   key %d", i);
          if (k->TimeType != 0 && k->KeyTimes) o.f(" t=%.9g", k->KeyTimes[i]);
          if (k->KeyData) {
            o.s += ' ';
            o.floats(static_cast<const float*>(k->KeyData) + static_cast<size_t>(i) * floats, floats);
          }
          o.s += '\n';
        }
      }
    }
  }
  return o.s;
}

// ---- Capture ----

ReadModelCapture::ReadModelCapture(bool stopConversion) : stop_(stopConversion) {
  SetReadModelObserver(&ReadModelCapture::Observe, this);
}

ReadModelCapture::~ReadModelCapture() { SetReadModelObserver(nullptr, nullptr); }

int ReadModelCapture::Observe(const ReadModel* rm, const char* folder, void* user) {
  auto* self = static_cast<ReadModelCapture*>(user);
  self->dumps.push_back(DumpReadModel(rm));
  self->folders.push_back(folder ? folder : "");
  return self->stop_ ? 1 : 0;
}
