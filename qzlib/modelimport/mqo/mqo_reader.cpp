// The Metasequoia text document reader: materials, objects as frames with one mesh each, and
// mirrored copies of mirror mode 1.
#include <cstdint>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/popcount.h>
#include <qzlib/base/strutil.h>
#include <qzlib/file/path.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/modelimport/mqo/mqo_text.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/base/engine_texts.h>

#define MQO_ERR "MQO Load Error : "

namespace {

const char kFirstLine[] = "Metasequoia Document\r\n";
enum : size_t {
  MQO_FIRST_LINE_SIZE = sizeof(kFirstLine) - 1,  // 22
  MQO_BODY_START = 43,                           // after the first line and the format line
};

struct MqoLoad {
  ReadModel* rm;
  MqoTextReader r;
  int materialCount;               // materials of the file; "NoMaterial" is number materialCount
  ReadModelMaterial** materials;   // materialCount + 1
  uint8_t* used;                   // per model material: some face uses it
  int* meshNumber;                 // per model material: its number in the current mesh, or -1
  int meshMaterials[READMODEL_MAX_MESH_MATERIALS];  // the model materials the current mesh set
  int meshMaterialCount;
  ReadModelFrame** depthFrames;    // last frame made at each depth
  int depthCapacity;
};

// ---- Materials ----

struct MqoMaterialLine {
  COLOR_F col;
  char tex[MQO_TOKEN_MAX];
  char aplane[MQO_TOKEN_MAX];
};

// "(" n numbers ")" after a material word; 0 or -1 (logged).
int MaterialValues(MqoLoad* L, int no, const char* word, float* v, int n) {
  if (MqoExpect(&L->r, '(') != 0) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_NO_PAREN_OPEN, no, word);
  }
  for (int i = 0; i < n; ++i) {
    if (MqoGetFloat(&L->r, &v[i]) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_READ, no);
  }
  if (MqoExpect(&L->r, ')') != 0) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_NO_PAREN_CLOSE, no, word);
  }
  return 0;
}

// "(" "file" ")" after a material word; 0 or -1 (logged; stringMessage for a bad string).
int MaterialFile(MqoLoad* L, int no, const char* word, char* file, const char* stringMessage) {
  if (MqoExpect(&L->r, '(') != 0) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_NO_PAREN_OPEN, no, word);
  }
  if (MqoGetString(&L->r, file) != 0) return WriteLogFmt(stringMessage, no);
  if (MqoExpect(&L->r, ')') != 0) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_NO_PAREN_CLOSE, no, word);
  }
  return 0;
}

// The file part of a path: after its last "\" or "/" that is not a trail byte.
const char* FilePart(const char* path) {
  const char* last = path;
  for (const char* p = path; *p;) {
    if (IsPathSeparator(p)) last = p + 1;
    p += IsLeadByte(p) && p[1] ? 2 : 1;
  }
  return last;
}

// One material line: its name and words up to the end of the line.
int ReadMaterialLine(MqoLoad* L, int no) {
  ReadModel* rm = L->rm;
  char word[MQO_TOKEN_MAX];
  MqoMaterialLine line;
  if (MqoGetString(&L->r, word) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_NAME, no);
  ReadModelMaterial* mat = ReadModelAddMaterial(rm, word);
  if (!mat) return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_ADD, no);
  L->materials[no] = mat;
  line.col = COLOR_F{1.0f, 1.0f, 1.0f, 1.0f};
  line.tex[0] = line.aplane[0] = '\0';
  bool hasTex = false, hasAplane = false;
  while (!MqoSkipToLineEnd(&L->r)) {
    if (MqoGetToken(&L->r, word) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_READ, no);
    float v[4];
    const COLOR_F& c = line.col;
    if (std::strcmp(word, "col") == 0) {
      if (MaterialValues(L, no, word, v, 4) != 0) return -1;
      line.col = COLOR_F{v[0], v[1], v[2], v[3]};
    } else if (std::strcmp(word, "dif") == 0) {
      if (MaterialValues(L, no, word, v, 1) != 0) return -1;
      mat->Diffuse = COLOR_F{v[0] * c.r, v[0] * c.g, v[0] * c.b, 1.0f};
    } else if (std::strcmp(word, "amb") == 0) {
      if (MaterialValues(L, no, word, v, 1) != 0) return -1;
      mat->Ambient = COLOR_F{v[0], v[0], v[0], 0.0f};
    } else if (std::strcmp(word, "emi") == 0) {
      if (MaterialValues(L, no, word, v, 1) != 0) return -1;
      mat->Emissive = COLOR_F{v[0] * c.r, v[0] * c.g, v[0] * c.b, 0.0f};
    } else if (std::strcmp(word, "spc") == 0) {
      if (MaterialValues(L, no, word, v, 1) != 0) return -1;
      mat->Specular = COLOR_F{v[0], v[0], v[0], 0.0f};
    } else if (std::strcmp(word, "power") == 0) {
      if (MaterialValues(L, no, word, v, 1) != 0) return -1;
      mat->Power = v[0] * 4.0f;
    } else if (std::strcmp(word, "tex") == 0) {
      if (MaterialFile(L, no, word, line.tex, MQO_ERR TEXT_MQO_TEX_STRING) != 0) return -1;
      hasTex = true;
    } else if (std::strcmp(word, "aplane") == 0) {
      if (MaterialFile(L, no, word, line.aplane, MQO_ERR TEXT_MQO_APLANE_STRING) != 0) return -1;
      hasAplane = true;
    } else if (std::strcmp(word, "bump") == 0) {
      char file[MQO_TOKEN_MAX];
      if (MaterialFile(L, no, word, file, MQO_ERR TEXT_MQO_BUMP_STRING) != 0) return -1;
      ReadModelTexture* t = ReadModelAddTexture(rm, FilePart(file), file, nullptr, 1, 0.1f, 1);
      mat->NormalTextures.Count = 0;
      if (!t || ReadModelAddMapTexture(rm, &mat->NormalTextures, t) != 0) {
        return WriteLogFmt(MQO_ERR TEXT_MQO_TEX_CREATE, no);
      }
    }
    // other words and their values are passed over token by token
  }
  mat->Diffuse.a = line.col.a;
  if (hasTex || hasAplane) {
    // one texture for both files: the alpha file is part of what makes a texture reusable
    ReadModelTexture* t =
        hasTex ? ReadModelAddTexture(rm, line.tex, line.tex, hasAplane ? line.aplane : nullptr, 0,
                                     0.1f, 1)
               : ReadModelAddTexture(rm, line.aplane, nullptr, line.aplane, 0, 0.1f, 1);
    if (!t || ReadModelAddMapTexture(rm, &mat->DiffuseTextures, t) != 0) {
      return WriteLogFmt(MQO_ERR TEXT_MQO_TEX_CREATE, no);
    }
  }
  return 0;
}

// "Material" n "{" lines "}" (the keyword was read).
int ReadMaterialChunk(MqoLoad* L) {
  int n = -1;
  if (MqoGetInt(&L->r, &n) != 0 || n < 0 ||
      static_cast<size_t>(n) > (L->r.size - L->r.position) / 2) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_MAT_COUNT, n);
  }
  if (MqoExpect(&L->r, '{') != 0) return WriteLog(MQO_ERR TEXT_MQO_MAT_NO_OPEN "\n");
  L->materials = static_cast<ReadModelMaterial**>(
      ReadModelAlloc(L->rm, sizeof(ReadModelMaterial*) * (static_cast<uint64_t>(n) + 1)));
  if (!L->materials) return -1;
  L->materialCount = n;
  for (int i = 0; i < n; ++i) {
    if (ReadMaterialLine(L, i) != 0) return -1;
  }
  if (MqoExpect(&L->r, '}') != 0) return WriteLog(MQO_ERR TEXT_MQO_MAT_NO_CLOSE "\n");
  return 0;
}

// One pass over the chunks from the body's start: chunks named keyword go to read (after the
// first of them when once is set the pass ends), others are skipped; "Eof" or the end of the data
// ends the pass. A token error logs tokenMessage. 0 or -1.
int ChunkPass(MqoLoad* L, const char* keyword, int (*read)(MqoLoad*), bool once,
              const char* tokenMessage) {
  const size_t keywordLength = std::strlen(keyword);
  MqoToken word;
  L->r.position = MQO_BODY_START;
  while (!MqoAtEnd(&L->r)) {
    if (MqoNextToken(&L->r, &word) != 0) return WriteLog(tokenMessage);
    if (MqoTokenIs(word, "Eof")) break;
    if (word.length == keywordLength && std::memcmp(word.text, keyword, keywordLength) == 0) {
      if (read(L) != 0) return -1;
      if (once) break;
      continue;
    }
    if (MqoSkipChunk(&L->r) != 0) return WriteLog(tokenMessage);
  }
  return 0;
}

// Up to and including the material chunk; then "NoMaterial".
int MaterialPass(MqoLoad* L) {
  if (ChunkPass(L, "Material", ReadMaterialChunk, true, MQO_ERR TEXT_MQO_UNEXPECTED_EOF "\n") != 0) {
    return -1;
  }
  if (!L->materials) {
    L->materials = static_cast<ReadModelMaterial**>(ReadModelAlloc(L->rm, sizeof(void*)));
    if (!L->materials) return -1;
  }
  ReadModelMaterial* none = ReadModelAddMaterial(L->rm, "NoMaterial");
  if (!none) return WriteLog(MQO_ERR TEXT_MQO_NOMATERIAL_ADD "\n");
  L->materials[L->materialCount] = none;
  const uint64_t total = static_cast<uint64_t>(L->materialCount) + 1;
  L->used = static_cast<uint8_t*>(ReadModelAlloc(L->rm, total));
  L->meshNumber = static_cast<int*>(ReadModelAlloc(L->rm, sizeof(int) * total));
  if (!L->used || !L->meshNumber) return -1;
  for (uint64_t i = 0; i < total; ++i) L->meshNumber[i] = -1;
  return 0;
}

// ---- Objects ----

struct MqoObject {
  char name[MQO_TOKEN_MAX];
  ReadModelFrame* frame;
  ReadModelMesh* mesh;
  int mirror;
  int mirrorAxis;
  bool hasVertex;
  bool hasFace;
};

// "vertex" n "{" n x (x y z) "}".
int ReadVertices(MqoLoad* L, MqoObject* o) {
  ReadModel* rm = L->rm;
  ReadModelMesh* mesh = o->mesh;
  int n = -1;
  // a position takes at least three one-byte tokens ("(((" reads as three zeros)
  if (MqoGetInt(&L->r, &n) != 0 || n < 0 ||
      static_cast<size_t>(n) > (L->r.size - L->r.position) / 3) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
  }
  auto* pos = static_cast<VECTOR*>(ReadModelAlloc(rm, sizeof(VECTOR) * static_cast<uint64_t>(n)));
  if (!pos && n > 0) return WriteLogFmt(MQO_ERR TEXT_MQO_VERT_ALLOC, o->name);
  if (MqoExpect(&L->r, '{') != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_VERT_NO_OPEN, o->name);
  for (int i = 0; i < n; ++i) {
    float v[3];
    for (float& x : v) {
      if (MqoGetFloat(&L->r, &x) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
    }
    pos[i] = VECTOR{v[0], v[1], -v[2]};
  }
  if (MqoExpect(&L->r, '}') != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_VERT_NO_CLOSE, o->name);
  mesh->Positions = pos;
  mesh->PositionCount = n;
  return 0;
}

// One face as read from its line (indices beyond the fourth are not kept).
struct MqoFaceLine {
  int count;
  int index[4];
  int material;  // model material; -1 without "M"
  bool hasUV, hasCol;
  ReadModelUV uv[4];
  uint32_t col[4];
};

// "(" n values ")" of a face word into out (when kept); 0 or -1 (logged).
template <typename T, typename Get>
int FaceValues(MqoLoad* L, MqoObject* o, int n, T* out, int keep, const char* openMsg,
               const char* closeMsg, Get get) {
  if (MqoExpect(&L->r, '(') != 0) return WriteLogFmt(openMsg, o->name);
  for (int i = 0; i < n; ++i) {
    T v;
    if (get(&v) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
    if (i < keep) out[i] = v;
  }
  if (MqoExpect(&L->r, ')') != 0) return WriteLogFmt(closeMsg, o->name);
  return 0;
}

// Reads one face line; 0 or -1 (logged).
int ReadFaceLine(MqoLoad* L, MqoObject* o, MqoFaceLine* f) {
  MqoToken word;
  if (MqoGetInt(&L->r, &f->count) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
  const bool kept = f->count == 3 || f->count == 4;
  const int keep = kept ? f->count : 0;
  f->material = -1;
  f->hasUV = f->hasCol = false;
  if (MqoNextToken(&L->r, &word) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
  if (word.text[0] != 'V') return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_NO_V, o->name);
  if (MqoExpect(&L->r, '(') != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_V_OPEN, o->name);
  const int positions = o->mesh->PositionCount;
  for (int i = 0; i < f->count; ++i) {
    int v = -1;
    if (MqoGetInt(&L->r, &v) != 0 || v < 0 || v >= positions) {
      return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_V_INDEX, o->name, i);
    }
    if (i < keep) f->index[i] = v;
  }
  if (MqoExpect(&L->r, ')') != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_V_CLOSE, o->name);
  MqoTextReader* r = &L->r;
  while (!MqoSkipToLineEnd(r)) {
    if (MqoNextToken(r, &word) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
    if (MqoTokenIs(word, "M")) {
      int m = -1;
      if (FaceValues(L, o, 1, &m, 1, MQO_ERR TEXT_MQO_FACE_M_OPEN, MQO_ERR TEXT_MQO_FACE_M_CLOSE,
                     [r](int* v) { return MqoGetInt(r, v); }) != 0) {
        return -1;
      }
      if (m < 0 || m >= L->materialCount) {
        return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_BAD_MATERIAL, o->name, m);
      }
      f->material = m;
    } else if (MqoTokenIs(word, "UV")) {
      if (FaceValues(L, o, f->count, f->uv, keep, MQO_ERR TEXT_MQO_FACE_UV_OPEN,
                     MQO_ERR TEXT_MQO_FACE_UV_CLOSE, [r](ReadModelUV* v) {
                       return MqoGetFloat(r, &v->u) != 0 || MqoGetFloat(r, &v->v) != 0 ? -1 : 0;
                     }) != 0) {
        return -1;
      }
      f->hasUV = true;
    } else if (MqoTokenIs(word, "COL")) {
      // a missing ")" after the colours is reported with the UV message
      if (FaceValues(L, o, f->count, f->col, keep, MQO_ERR TEXT_MQO_FACE_COL_OPEN,
                     MQO_ERR TEXT_MQO_FACE_UV_CLOSE, [r](uint32_t* v) {
                       int i;
                       if (MqoGetInt(r, &i) != 0) return -1;
                       *v = static_cast<uint32_t>(i);
                       return 0;
                     }) != 0) {
        return -1;
      }
      f->hasCol = true;
    } else if (MqoTokenIs(word, "(")) {
      // the values of a word this reader does not know
      do {
        if (MqoNextToken(r, &word) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
      } while (!MqoTokenIs(word, ")"));
    }
  }
  return 0;
}

// The sets a face of an object stores, and their ints per corner.
constexpr uint32_t kMqoFaceSets = READMODEL_SET_BIT(READMODEL_SET_POSITION) |
                                  READMODEL_SET_BIT(READMODEL_SET_COLOR) |
                                  READMODEL_SET_BIT(READMODEL_SET_UV0);
constexpr int kMqoFaceSetCount = 3;

// Stores a kept face into slot faceNo of the mesh, its indices into slot faceNo of store (room
// for four corners of every set); 0 or -1 (logged).
int StoreFace(MqoLoad* L, MqoObject* o, const MqoFaceLine& f, int faceNo, int* store, int* uvNext,
              int* colNext) {
  ReadModel* rm = L->rm;
  ReadModelMesh* mesh = o->mesh;
  const int material = f.material >= 0 ? f.material : L->materialCount;
  int& number = L->meshNumber[material];
  if (number < 0) {
    if (mesh->MaterialCount >= READMODEL_MAX_MESH_MATERIALS) {
      return WriteLogFmt(MQO_ERR TEXT_MQO_TOO_MANY_MATERIALS, o->name);
    }
    if (ReadModelMeshAddMaterial(rm, mesh, L->materials[material]) != 0) {
      return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_ALLOC, o->name);
    }
    number = mesh->MaterialCount - 1;
    L->meshMaterials[L->meshMaterialCount++] = material;
  }
  L->used[material] = 1;
  ReadModelFace* face = &mesh->Faces[faceNo];
  // as ReadModelSetFaceIndexCount lays a face out, in the one block of the object's faces
  face->IndexCount = f.count;
  face->Sets = kMqoFaceSets;
  face->Index = store + static_cast<size_t>(faceNo) * 4 * kMqoFaceSetCount;
  face->IndexStorage = f.count * kMqoFaceSetCount;
  face->MaterialIndex = number;
  int* pos = ReadModelFaceIndices(face, READMODEL_SET_POSITION);
  int* uv = ReadModelFaceIndices(face, READMODEL_SET_UV0);
  int* col = ReadModelFaceIndices(face, READMODEL_SET_COLOR);
  const COLOR_F& dif = L->materials[material]->Diffuse;
  for (int i = 0; i < f.count; ++i) {
    pos[i] = f.index[i];
    // every face corner has its own UV and colour; a face without UV keeps (0, 0)
    uv[i] = (*uvNext)++;
    if (f.hasUV) mesh->UVs[0][uv[i]] = f.uv[i];
    col[i] = (*colNext)++;
    COLOR_F& c = mesh->VertexColors[col[i]];
    if (f.hasCol) {
      const uint32_t v = f.col[i];
      c.r = static_cast<float>(v & 0xff) / 255.0f * dif.r;
      c.g = static_cast<float>((v >> 8) & 0xff) / 255.0f * dif.g;
      c.b = static_cast<float>((v >> 16) & 0xff) / 255.0f * dif.b;
      c.a = static_cast<float>(v >> 24) / 255.0f * dif.a;
    } else {
      c = dif;
    }
  }
  return 0;
}

// "face" n "{" faces "}".
int ReadFaces(MqoLoad* L, MqoObject* o) {
  ReadModel* rm = L->rm;
  ReadModelMesh* mesh = o->mesh;
  int n = -1;
  // a face takes at least "0V()"
  if (MqoGetInt(&L->r, &n) != 0 || n < 0 ||
      static_cast<size_t>(n) > (L->r.size - L->r.position) / 4) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
  }
  if (ReadModelAllocFaces(rm, mesh, n) != 0) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_ALLOC, o->name);
  }
  const uint64_t corners = 4 * static_cast<uint64_t>(n);
  mesh->UVs[0] = static_cast<ReadModelUV*>(ReadModelAlloc(rm, sizeof(ReadModelUV) * corners));
  if (!mesh->UVs[0] && n > 0) return WriteLogFmt(MQO_ERR TEXT_MQO_UV_ALLOC, o->name);
  mesh->UVCount[0] = static_cast<int>(corners);
  mesh->VertexColors = static_cast<COLOR_F*>(ReadModelAlloc(rm, sizeof(COLOR_F) * corners));
  if (!mesh->VertexColors && n > 0) return WriteLogFmt(MQO_ERR TEXT_MQO_COL_ALLOC, o->name);
  mesh->VertexColorCount = static_cast<int>(corners);
  for (uint64_t i = 0; i < corners; ++i) mesh->VertexColors[i] = COLOR_F{1, 1, 1, 1};
  mesh->FaceSets = kMqoFaceSets;
  int* store = static_cast<int*>(ReadModelAlloc(rm, sizeof(int) * kMqoFaceSetCount * corners));
  if (!store && n > 0) return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_ALLOC, o->name);
  if (MqoExpect(&L->r, '{') != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_NO_OPEN, o->name);
  // only the entries the object before set go back to -1: a reset over every material would
  // cost materials x objects
  for (int i = 0; i < L->meshMaterialCount; ++i) L->meshNumber[L->meshMaterials[i]] = -1;
  ReadModelWorkCount().MaterialResets += static_cast<uint64_t>(L->meshMaterialCount);
  L->meshMaterialCount = 0;
  int kept = 0, uvNext = 0, colNext = 0;
  for (int i = 0; i < n; ++i) {
    MqoFaceLine f;
    if (ReadFaceLine(L, o, &f) != 0) return -1;
    if (f.count != 3 && f.count != 4) continue;  // dropped; its slot is reused
    if (StoreFace(L, o, f, kept, store, &uvNext, &colNext) != 0) return -1;
    ++kept;
  }
  if (MqoExpect(&L->r, '}') != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_FACE_NO_CLOSE, o->name);
  mesh->FaceCount = kept;
  return 0;
}

// Mirror mode 1: 2^c copies of the positions and faces for the c axes set.
int MirrorMesh(MqoLoad* L, MqoObject* o) {
  ReadModel* rm = L->rm;
  ReadModelMesh* mesh = o->mesh;
  const int axes = o->mirrorAxis & 7;
  const int copies = 1 << PopCount(axes);
  if (copies == 1) return 0;
  const int P = mesh->PositionCount, F = mesh->FaceCount;
  auto* onPlanes = static_cast<uint8_t*>(ReadModelAlloc(rm, P > 0 ? P : 1));
  if (!onPlanes) return WriteLogFmt(MQO_ERR TEXT_MQO_MIRROR_FLAG_ALLOC, o->name);
  if (static_cast<int64_t>(P) * copies > INT32_MAX || static_cast<int64_t>(F) * copies > INT32_MAX) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_MIRROR_VERT_ALLOC, o->name);
  }
  auto* pos = static_cast<VECTOR*>(
      ReadModelAlloc(rm, sizeof(VECTOR) * static_cast<uint64_t>(P) * copies));
  if (!pos && P > 0) return WriteLogFmt(MQO_ERR TEXT_MQO_MIRROR_VERT_ALLOC, o->name);
  ReadModelFace* original = mesh->Faces;
  if (ReadModelAllocFaces(rm, mesh, F * copies) != 0) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_MIRROR_FACE_ALLOC, o->name);
  }
  if (P > 0) std::memcpy(pos, mesh->Positions, sizeof(VECTOR) * P);
  if (F > 0) std::memcpy(mesh->Faces, original, sizeof(ReadModelFace) * F);
  int copy = 0;
  for (int s = 1; s < 8; ++s) {
    if ((s & axes) != s) continue;
    ++copy;
    const int axisCount = PopCount(s);
    VECTOR* dst = pos + static_cast<size_t>(copy) * P;
    for (int v = 0; v < P; ++v) {
      VECTOR p = mesh->Positions[v];
      int zero = 0;
      float* c[3] = {&p.x, &p.y, &p.z};
      for (int a = 0; a < 3; ++a) {
        if (!(s & (1 << a))) continue;
        if (*c[a] == 0.0f) ++zero;
        else *c[a] = -*c[a];
      }
      dst[v] = p;
      onPlanes[v] = zero == axisCount;
    }
    const bool reverse = axisCount & 1;
    for (int i = 0; i < F; ++i) {
      const ReadModelFace& src = original[i];
      ReadModelFace* face = &mesh->Faces[copy * F + i];
      if (ReadModelSetFaceIndexCount(rm, mesh, face, src.IndexCount) != 0) {
        return WriteLogFmt(MQO_ERR TEXT_MQO_MIRROR_FACE_ALLOC, o->name);
      }
      face->MaterialIndex = src.MaterialIndex;
      const int k = src.IndexCount;
      for (int set = 0; set < READMODEL_SET_COUNT; ++set) {
        const int* from = ReadModelFaceIndices(&src, set);
        int* to = ReadModelFaceIndices(face, set);
        if (!from || !to) continue;
        for (int j = 0; j < k; ++j) {
          // a triangle (0, 1, 2) becomes (0, 2, 1), a quadrangle (0, 1, 2, 3) (3, 2, 1, 0)
          const int sj = !reverse ? j : k == 3 ? (3 - j) % 3 : k - 1 - j;
          int idx = from[sj];
          if (set == READMODEL_SET_POSITION && !onPlanes[idx]) idx += copy * P;
          to[j] = idx;
        }
      }
    }
  }
  mesh->Positions = pos;
  mesh->PositionCount = P * copies;
  return 0;
}

// Makes the frame of an object at depth (its parent the last frame at depth - 1) and its mesh.
int MakeObjectFrame(MqoLoad* L, MqoObject* o, int depth) {
  ReadModel* rm = L->rm;
  if (depth < 0 || depth > L->depthCapacity || (depth > 0 && !L->depthFrames[depth - 1])) {
    return WriteLogFmt(MQO_ERR TEXT_MQO_BAD_DEPTH, o->name, depth);
  }
  if (depth == L->depthCapacity) {
    const int cap = L->depthCapacity ? L->depthCapacity * 2 : 8;
    auto* grown = static_cast<ReadModelFrame**>(ReadModelAlloc(rm, sizeof(void*) * cap));
    if (!grown) return WriteLog(MQO_ERR TEXT_MQO_FRAME_ADD "\n");
    if (L->depthCapacity) std::memcpy(grown, L->depthFrames, sizeof(void*) * L->depthCapacity);
    L->depthFrames = grown;
    L->depthCapacity = cap;
  }
  o->frame = ReadModelAddFrame(rm, o->name, depth > 0 ? L->depthFrames[depth - 1] : nullptr);
  if (!o->frame) return WriteLog(MQO_ERR TEXT_MQO_FRAME_ADD "\n");
  L->depthFrames[depth] = o->frame;
  o->mesh = ReadModelAddMesh(rm, o->frame);
  if (!o->mesh) return WriteLog(MQO_ERR TEXT_MQO_MESH_ADD "\n");
  return 0;
}

// One word of an object and its values; 0 or -1 (logged).
int ReadObjectWord(MqoLoad* L, MqoObject* o, const char* word) {
  ReadModelFrame* frame = o->frame;
  MqoTextReader* r = &L->r;
  auto floats = [&](float* v, int n) {
    for (int i = 0; i < n; ++i) {
      if (MqoGetFloat(r, &v[i]) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
    }
    return 0;
  };
  auto integer = [&](int* v) {
    return MqoGetInt(r, v) != 0 ? WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name) : 0;
  };
  float v[3];
  int i;
  if (std::strcmp(word, "visible") == 0) {
    if (integer(&i) != 0) return -1;
    frame->Visible = i == 15 ? 1 : 0;
  } else if (std::strcmp(word, "scale") == 0) {
    if (floats(v, 3) != 0) return -1;
    frame->Scale = VECTOR{v[0], v[1], v[2]};
  } else if (std::strcmp(word, "rotation") == 0) {
    if (floats(v, 3) != 0) return -1;
    frame->Rotate = VECTOR{v[0], v[1], v[2]};
  } else if (std::strcmp(word, "translation") == 0) {
    if (floats(v, 3) != 0) return -1;
    frame->Translate = VECTOR{v[0], v[1], v[2]};
  } else if (std::strcmp(word, "facet") == 0) {
    if (floats(v, 1) != 0) return -1;
    frame->SmoothingAngle = static_cast<float>(v[0] * 3.14159265358979323846 / 180.0);
  } else if (std::strcmp(word, "mirror") == 0) {
    if (integer(&o->mirror) != 0) return -1;
  } else if (std::strcmp(word, "mirror_axis") == 0) {
    if (integer(&i) != 0) return -1;
    o->mirrorAxis = i & 7;
  } else if (std::strcmp(word, "vertex") == 0 || std::strcmp(word, "face") == 0) {
    const bool isVertex = word[0] == 'v';
    bool& seen = isVertex ? o->hasVertex : o->hasFace;
    // faces are checked against the positions read before them: one block of each
    if (seen || (isVertex && o->hasFace)) {
      return WriteLogFmt(MQO_ERR TEXT_MQO_DUPLICATE_BLOCK, o->name, word);
    }
    seen = true;
    return isVertex ? ReadVertices(L, o) : ReadFaces(L, o);
  } else if (word[0] == '{') {
    // a block without a word
    r->position -= 1;
    if (MqoSkipChunk(r) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
  } else {
    // any other word: its values on the line, then a block of its own when one follows
    const size_t after = r->position;
    while (!MqoSkipToLineEnd(r)) {
      char tok[MQO_TOKEN_MAX];
      if (MqoGetToken(r, tok) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
      if (tok[0] == '{') {
        r->position = after;
        if (MqoSkipChunk(r) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
        return 0;
      }
      if (tok[0] == '}') {
        r->position -= 1;  // the object's own end
        return 0;
      }
    }
    MqoTextReader peek = *r;
    char tok[MQO_TOKEN_MAX];
    if (MqoGetToken(&peek, tok) == 0 && tok[0] == '{') {
      r->position = after;
      if (MqoSkipChunk(r) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o->name);
    }
  }
  return 0;
}

// "Object" "name" "{" words "}" (the keyword was read).
int ReadObjectChunk(MqoLoad* L) {
  MqoObject o;
  o.frame = nullptr;
  o.mesh = nullptr;
  o.mirror = 0;
  o.mirrorAxis = 0;
  o.hasVertex = o.hasFace = false;
  if (MqoGetString(&L->r, o.name) != 0) return WriteLog(MQO_ERR TEXT_MQO_OBJ_NAME "\n");
  if (MqoExpect(&L->r, '{') != 0) return WriteLog(MQO_ERR TEXT_MQO_OBJ_NO_OPEN "\n");
  char word[MQO_TOKEN_MAX];
  if (MqoGetToken(&L->r, word) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o.name);
  int depth = 0;
  bool pending = true;  // the first word still has to be read as an object word
  if (std::strcmp(word, "depth") == 0) {
    if (MqoGetInt(&L->r, &depth) != 0) return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o.name);
    pending = false;
  }
  if (MakeObjectFrame(L, &o, depth) != 0) return -1;
  for (;;) {
    if (!pending && MqoGetToken(&L->r, word) != 0) {
      return WriteLogFmt(MQO_ERR TEXT_MQO_OBJ_PARSE, o.name);
    }
    pending = false;
    if (word[0] == '}') break;
    if (ReadObjectWord(L, &o, word) != 0) return -1;
  }
  ReadModelMesh* mesh = o.mesh;
  if (mesh->FaceCount == 0 ||
      (mesh->MaterialCount == 1 && mesh->Materials[0]->Diffuse.a == 0.0f)) {
    ReadModelSubMesh(L->rm, o.frame, mesh);
    return 0;
  }
  if (o.mirror == 1) return MirrorMesh(L, &o);
  return 0;
}


int Load(MqoLoad* L, const char* path, const char* modelName, const char* folder) {
  ReadModel* rm = L->rm;
  rm->FilePath = ReadModelAddString(rm, path ? path : "");
  rm->Name = ReadModelAddString(rm, modelName ? modelName : "");
  if (!rm->FilePath || !rm->Name) return -1;
  rm->UseFrameSmoothingAngles = 1;
  if (MaterialPass(L) != 0 ||
      ChunkPass(L, "Object", ReadObjectChunk, false, MQO_ERR TEXT_MQO_CHUNK_TOKEN "\n") != 0) {
    return -1;
  }
  for (int i = 0; i < L->materialCount; ++i) {
    if (!L->used[i]) L->materials[i]->DiffuseTextures.Count = 0;
  }
  MV1ReleaseLoadImage(L->r.start);  // the read model holds all of the document
  return ConvertReadModelToModelBase(rm, folder);
}

}  // namespace

int LoadMqoModel(const void* image, size_t size, const char* path, const char* modelName,
                 const char* folder) {
  if (!image || size < MQO_FIRST_LINE_SIZE ||
      std::memcmp(image, kFirstLine, MQO_FIRST_LINE_SIZE) != 0) {
    return -1;
  }
  if (size < MQO_BODY_START) return WriteLog(MQO_ERR TEXT_MQO_UNEXPECTED_EOF "\n");
  ReadModel rm;
  InitReadModel(&rm);
  MqoLoad L{};
  L.rm = &rm;
  L.r = MqoTextReader{static_cast<const char*>(image), size, MQO_BODY_START};
  int handle = Load(&L, path, modelName, folder);
  TerminateReadModel(&rm);
  return handle;
}
