#include <qzlib/modelimport/x/xfile_model.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/popcount.h>
#include <qzlib/modelimport/x/xfile_names.h>
#include <qzlib/model/model_readers.h>
#include <qzlib/base/engine_texts.h>

// Refusals the file format leaves open.
#define X_MSG_FACE_INDEX "Load XFile : Face Vertex Index Beyond Vertices\n"
#define X_MSG_NORMAL_FACE "Load XFile : MeshNormals Face Does Not Match The Mesh Face\n"
#define X_MSG_SKIN_INDEX "Load XFile : SkinWeights Vertex Index Beyond Vertices\n"
#define X_MSG_MATERIALS "Load XFile : More Than 256 Materials In One Mesh\n"
#define X_MSG_SKIN_COUNT "Load XFile : More Than 4096 SkinWeights In One Mesh\n"
#define X_MSG_KEY_TYPE "Load XFile : AnimationKey Type %u"
#define X_MSG_KEY_VALUES "Load XFile : AnimationKey Key %u Has %u Values, %u Needed"
#define X_MSG_NO_BONE "Load XFile : SkinWeights %s Names No Frame, Dropped"
#define X_MSG_NO_TARGET "Load XFile : Animation %s Has No Frame, Dropped"
#define X_MSG_TOO_MUCH "Load XFile : Meshes Collected Too Often\n"

namespace {

// A mesh is converted once for every frame that collects it: a small file could otherwise make
// a read model that grows with the product of its meshes and its references. Positions plus face
// indices over all conversions stay below this.
constexpr uint64_t kMaxConvertedElements = 1ull << 25;

// Values a key of each keyType needs.
const uint32_t kKeyValues[5] = {4, 3, 3, 16, 16};

struct Converter {
  XFileObjectList* list;
  ReadModel* rm;
  XFileObject* top;
  uint64_t converted;  // positions and face indices converted so far

  bool IsTop(const XFileObject* o) const { return o == top; }

  // Children of type (in order), then references of type, into o->conv.items.
  int Collect(XFileObject* o, int type, const char* allocMsg) {
    uint32_t n = 0;
    for (XFileObject* c = o->firstChild; c; c = c->nextSibling) n += c->type == type;
    for (uint32_t i = 0; i < o->refCount; ++i) n += o->refs[i] && o->refs[i]->type == type;
    o->conv.itemCount = n;
    if (n == 0) return 0;
    o->conv.items = static_cast<XFileObject**>(XFileChunkAlloc(list, n * sizeof(XFileObject*)));
    if (!o->conv.items) return WriteLog(allocMsg);
    n = 0;
    for (XFileObject* c = o->firstChild; c; c = c->nextSibling)
      if (c->type == type) o->conv.items[n++] = c;
    for (uint32_t i = 0; i < o->refCount; ++i)
      if (o->refs[i] && o->refs[i]->type == type) o->conv.items[n++] = o->refs[i];
    return 0;
  }

  // ---- pass 1 ----
  int CheckMesh(XFileObject* m) {
    auto& c = m->conv;
    const auto& d = m->data.mesh;
    c.materialList = XFileFindChild(m, XOBJ_MESHMATERIALLIST);
    c.textureCoords = XFileFindChild(m, XOBJ_MESHTEXTURECOORDS);
    c.normals = XFileFindChild(m, XOBJ_MESHNORMALS);
    c.vertexColors = XFileFindChild(m, XOBJ_MESHVERTEXCOLORS);
    if (Collect(m, XOBJ_SKINWEIGHTS, TEXT_X_ALLOC_SKIN_LIST "\n") < 0) return -1;
    if (c.textureCoords && c.textureCoords->data.textureCoords.count != d.vertexCount)
      return WriteLogFmt(TEXT_X_UV_COUNT "\n", static_cast<int>(c.textureCoords->data.textureCoords.count), static_cast<int>(d.vertexCount));
    if (c.normals && c.normals->data.meshNormals.faces.count != d.faces.count)
      return WriteLogFmt(TEXT_X_NORMAL_FACE_COUNT "\n", static_cast<int>(d.faces.count), static_cast<int>(c.normals->data.meshNormals.faces.count));
    if (c.itemCount > READMODEL_MAX_SKIN_WEIGHTS) return WriteLog(X_MSG_SKIN_COUNT);
    if (d.faces.count && d.faces.starts[d.faces.count] > 0)
      for (uint32_t i = 0; i < d.faces.starts[d.faces.count]; ++i)
        if (d.faces.indices[i] >= d.vertexCount) return WriteLog(X_MSG_FACE_INDEX);
    if (c.normals) {
      const auto& n = c.normals->data.meshNormals;
      for (uint32_t f = 0; f < d.faces.count; ++f) {
        if (XFaceVertexCount(n.faces, f) != XFaceVertexCount(d.faces, f)) return WriteLog(X_MSG_NORMAL_FACE);
        for (uint32_t k = 0; k < XFaceVertexCount(n.faces, f); ++k)
          if (XFaceIndices(n.faces, f)[k] >= n.normalCount) return WriteLog(X_MSG_NORMAL_FACE);
      }
    }
    for (uint32_t s = 0; s < c.itemCount; ++s) {
      const auto& w = c.items[s]->data.skinWeights;
      for (uint32_t i = 0; i < w.weightCount; ++i)
        if (w.indices[i] >= d.vertexCount) return WriteLog(X_MSG_SKIN_INDEX);
    }
    return 0;
  }
  int CheckAnimationKey(XFileObject* k) {
    const auto& a = k->data.animationKey;
    if (a.keyType > 4) return WriteLogFmt(X_MSG_KEY_TYPE, a.keyType);
    for (uint32_t i = 0; i < a.keyCount; ++i)
      if (a.keys[i].keys.count < kKeyValues[a.keyType])
        return WriteLogFmt(X_MSG_KEY_VALUES, i, a.keys[i].keys.count, kKeyValues[a.keyType]);
    k->conv.endTime = a.keyCount ? a.keys[a.keyCount - 1].time : 0;
    return 0;
  }
  int Pass1(const XNameTable& frames) {
    int materials = 0, frameNumber = 0;
    for (XFileObject* o = list->first; o; o = o->next) {
      auto& c = o->conv;
      switch (o->type) {
        case XOBJ_MATERIAL:
          c.texture = XFileFindChild(o, XOBJ_TEXTUREFILENAME);
          c.number = materials++;
          break;
        case XOBJ_MESHMATERIALLIST:
          if (Collect(o, XOBJ_MATERIAL, TEXT_X_ALLOC_MESH_MATERIALS "\n") < 0) return -1;
          if (c.itemCount != o->data.materialList.nMaterials)
            return WriteLogFmt(TEXT_X_MATLIST_COUNT "\n", static_cast<int>(o->data.materialList.nMaterials), static_cast<int>(c.itemCount));
          if (c.itemCount > READMODEL_MAX_MESH_MATERIALS) return WriteLog(X_MSG_MATERIALS);
          break;
        case XOBJ_MESH:
          ++list->meshCount;
          if (CheckMesh(o) < 0) return -1;
          break;
        case XOBJ_FRAME:
          c.transformMatrix = XFileFindChild(o, XOBJ_FRAMETRANSFORMMATRIX);
          if (Collect(o, XOBJ_MESH, TEXT_X_ALLOC_MESH_ADDR "\n") < 0) return -1;
          if (!IsTop(o))
            for (uint32_t i = 0; i < c.itemCount; ++i) c.items[i]->conv.collected = 1;
          c.number = frameNumber++;
          break;
        case XOBJ_ANIMATION:
          if (Collect(o, XOBJ_ANIMATIONKEY, TEXT_X_ALLOC_KEY_ADDR "\n") < 0) return -1;
          for (uint32_t i = 0; i < c.itemCount; ++i) {
            // the keys of an animation follow it in creation order: checked and timed here
            if (CheckAnimationKey(c.items[i]) < 0) return -1;
            if (c.items[i]->conv.endTime > c.endTime) c.endTime = c.items[i]->conv.endTime;
          }
          c.frame = XFileFindChild(o, XOBJ_FRAME);
          if (c.frame && IsTop(c.frame)) c.frame = nullptr;
          break;
        case XOBJ_SKINWEIGHTS:
          c.frame = XNameTableFind(&frames, o->data.skinWeights.transformNodeName);
          break;
        default: break;
      }
    }
    list->materialCount = materials;
    list->frameCount = frameNumber;
    // a list material without a texture takes the one of the material before it in its list
    for (XFileObject* o = list->first; o; o = o->next) {
      if (!o->parent) continue;
      XFileObject* prev = nullptr;
      for (XFileObject* c = o->firstChild; c; prev = c, c = c->nextSibling)
        if (c->type == XOBJ_MATERIAL && !c->conv.texture && prev && prev->type == XOBJ_MATERIAL && prev->conv.texture)
          c->conv.texture = prev->conv.texture;
    }
    return 0;
  }

  // ---- pass 2 ----
  int Pass2() {
    for (XFileObject* o = list->first; o; o = o->next) {
      if (o->type != XOBJ_ANIMATIONSET) continue;
      if (Collect(o, XOBJ_ANIMATION, TEXT_X_ALLOC_ANIM_ADDR "\n") < 0) return -1;
      for (uint32_t i = 0; i < o->conv.itemCount; ++i)
        if (o->conv.items[i]->conv.endTime > o->conv.endTime) o->conv.endTime = o->conv.items[i]->conv.endTime;
    }
    return 0;
  }

  // ---- pass 3 ----
  int Pass3() {
    for (XFileObject* o = list->first; o; o = o->next) {
      if (o->type != XOBJ_MATERIAL) continue;
      ReadModelMaterial* m = ReadModelAddMaterial(rm, o->name);
      if (!m) return WriteLog(TEXT_X_ADD_MATERIAL "\n");
      o->conv.readMaterial = m;
      if (o->conv.texture) {
        const char* file = o->conv.texture->data.textureFilename.fileName;
        ReadModelTexture* t = ReadModelAddTexture(rm, file, file, nullptr, 0, 0.1f, 1);
        if (!t || ReadModelAddMapTexture(rm, &m->DiffuseTextures, t) < 0) return WriteLog(TEXT_X_ADD_TEXTURE "\n");
      }
      const auto& d = o->data.material;
      m->Ambient = COLOR_F{0, 0, 0, 0};
      m->Diffuse = COLOR_F{d.faceColor[0], d.faceColor[1], d.faceColor[2], 1.0f};
      m->Specular = COLOR_F{d.specular[0], d.specular[1], d.specular[2], 0};
      m->Emissive = COLOR_F{d.emissive[0], d.emissive[1], d.emissive[2], 0};
      m->Power = d.power;
    }
    return 0;
  }

  // ---- pass 4 ----
  int Pass4() {
    for (XFileObject* o = list->first; o; o = o->next) {
      if (o->type != XOBJ_FRAME || !o->parent) continue;
      XFileObject* p = o->parent;
      ReadModelFrame* parent = (p->type == XOBJ_FRAME && p->parent) ? p->conv.readFrame : nullptr;
      ReadModelFrame* f = ReadModelAddFrame(rm, o->name, parent);
      if (!f) return WriteLog(TEXT_X_ADD_FRAME "\n");
      o->conv.readFrame = f;
      if (o->conv.transformMatrix) f->Matrix = o->conv.transformMatrix->data.transformMatrix;
      if (o->conv.itemCount == 0) continue;
      o->conv.meshFrames = static_cast<ReadModelFrame**>(XFileChunkAlloc(list, o->conv.itemCount * sizeof(ReadModelFrame*)));
      if (!o->conv.meshFrames) return WriteLog(TEXT_X_ADD_FRAME "\n");
      for (uint32_t i = 0; i < o->conv.itemCount; ++i) {
        XFileObject* mesh = o->conv.items[i];
        if (mesh->name[0] || !mesh->parent || IsTop(mesh->parent)) {
          o->conv.meshFrames[i] = ReadModelAddFrame(rm, mesh->name, f);
          if (!o->conv.meshFrames[i]) return WriteLog(TEXT_X_ADD_FRAME "\n");
        }
      }
    }
    return 0;
  }

  // ---- pass 5 ----
  int MeshFaces(ReadModelMesh* out, XFileObject* m) {
    const auto& d = m->data.mesh;
    const XFileObject* normals = m->conv.normals;
    const XFileObject* matList = m->conv.materialList;
    const XFileObject* colors = m->conv.vertexColors;
    uint32_t n = colors ? colors->data.vertexColors.count : 0;
    int* colorOf = nullptr;
    if (colors) {
      // colour n is the white of every vertex no entry names; a later entry wins
      out->VertexColorCount = static_cast<int>(n) + 1;
      out->VertexColors = static_cast<COLOR_F*>(ReadModelAlloc(rm, (static_cast<uint64_t>(n) + 1) * sizeof(COLOR_F)));
      colorOf = static_cast<int*>(ReadModelAlloc(rm, (static_cast<uint64_t>(d.vertexCount) + 1) * sizeof(int)));
      if (!out->VertexColors || !colorOf) return WriteLog(TEXT_X_ALLOC_VCOLORS "\n");
      out->VertexColors[n] = COLOR_F{1, 1, 1, 1};
      for (uint32_t v = 0; v < d.vertexCount; ++v) colorOf[v] = static_cast<int>(n);
      for (uint32_t i = 0; i < n; ++i) {
        out->VertexColors[i] = colors->data.vertexColors.colors[i].color;
        uint32_t at = colors->data.vertexColors.colors[i].index;
        if (at < d.vertexCount) colorOf[at] = static_cast<int>(i);
      }
    }
    out->FaceSets = READMODEL_SET_BIT(READMODEL_SET_POSITION) | READMODEL_SET_BIT(READMODEL_SET_UV0) |
                    (normals ? READMODEL_SET_BIT(READMODEL_SET_NORMAL) : 0u) | (colors ? READMODEL_SET_BIT(READMODEL_SET_COLOR) : 0u);
    if (ReadModelAllocFaces(rm, out, static_cast<int>(d.faces.count)) < 0) return WriteLog(TEXT_X_ALLOC_FACES "\n");
    // the index storage of every face in one block, laid out as the read model keeps it
    const uint32_t sets = out->FaceSets;
    const uint64_t setCount = static_cast<uint64_t>(PopCount(sets));
    const uint64_t total = d.faces.count ? d.faces.starts[d.faces.count] : 0;
    int* store = static_cast<int*>(ReadModelAlloc(rm, (total + 1) * setCount * sizeof(int)));
    if (!store) return WriteLog(TEXT_X_ALLOC_FACES "\n");
    bool perFace = matList && matList->data.materialList.nFaceIndexes == d.faces.count;
    for (uint32_t f = 0; f < d.faces.count; ++f) {
      ReadModelFace* face = &out->Faces[f];
      uint32_t count = XFaceVertexCount(d.faces, f);
      face->IndexCount = static_cast<int>(count);
      face->Sets = count ? sets : 0;
      face->Index = count ? store + static_cast<uint64_t>(d.faces.starts[f]) * setCount : nullptr;
      face->IndexStorage = count ? static_cast<int>(count * setCount) : 0;
      const uint32_t* idx = XFaceIndices(d.faces, f);
      int* pos = ReadModelFaceIndices(face, READMODEL_SET_POSITION);
      int* uv = ReadModelFaceIndices(face, READMODEL_SET_UV0);
      int* nrm = normals ? ReadModelFaceIndices(face, READMODEL_SET_NORMAL) : nullptr;
      int* col = colors ? ReadModelFaceIndices(face, READMODEL_SET_COLOR) : nullptr;
      for (uint32_t k = 0; k < count; ++k) {
        pos[k] = uv[k] = static_cast<int>(idx[k]);
        if (nrm) nrm[k] = static_cast<int>(XFaceIndices(normals->data.meshNormals.faces, f)[k]);
        if (col) col[k] = colorOf[idx[k]];
      }
      face->MaterialIndex = perFace ? static_cast<int>(matList->data.materialList.indices[f]) : 0;
    }
    return 0;
  }
  int ConvertMesh(XFileObject* m, ReadModelFrame* frame) {
    ReadModelMesh* out = ReadModelAddMesh(rm, frame);
    if (!out) return WriteLog(TEXT_X_ADD_MESH "\n");
    // materials
    if (const XFileObject* list = m->conv.materialList) {
      for (uint32_t i = 0; i < list->conv.itemCount; ++i)
        if (ReadModelMeshAddMaterial(rm, out, list->conv.items[i]->conv.readMaterial) < 0)
          return WriteLog(TEXT_X_ALLOC_MESH_MATERIALS "\n");
    } else {
      ReadModelMaterial* normal = ReadModelAddMaterial(rm, "Normal");
      if (!normal || ReadModelMeshAddMaterial(rm, out, normal) < 0) return WriteLog(TEXT_X_ADD_MATERIAL "\n");
    }
    // skin weights of bones that exist
    for (uint32_t s = 0; s < m->conv.itemCount; ++s) {
      const XFileObject* sw = m->conv.items[s];
      const auto& d = sw->data.skinWeights;
      if (!sw->conv.frame || !sw->conv.frame->conv.readFrame) {
        WriteLogFmt(X_MSG_NO_BONE, d.transformNodeName);
        continue;
      }
      ReadModelSkinWeight* w = ReadModelAddSkinWeight(rm);
      if (!w || ReadModelMeshAddSkinWeight(rm, out, w) < 0) return WriteLog(TEXT_X_ALLOC_SKIN_INFO "\n");
      w->OffsetMatrix = d.offset;
      w->BoneFrame = sw->conv.frame->conv.readFrame->Index;
      w->WeightCount = static_cast<int>(d.weightCount);
      w->Weights = static_cast<ReadModelSkinWeightOne*>(ReadModelAlloc(rm, (static_cast<uint64_t>(d.weightCount) + 1) * sizeof(ReadModelSkinWeightOne)));
      if (!w->Weights) return WriteLog(TEXT_X_ALLOC_SKIN_VALUES "\n");
      for (uint32_t i = 0; i < d.weightCount; ++i) w->Weights[i] = ReadModelSkinWeightOne{d.indices[i], d.weights[i]};
    }
    // positions, normals, the first UV set
    const auto& d = m->data.mesh;
    out->PositionCount = static_cast<int>(d.vertexCount);
    out->Positions = static_cast<VECTOR*>(ReadModelAlloc(rm, (static_cast<uint64_t>(d.vertexCount) + 1) * sizeof(VECTOR)));
    if (!out->Positions) return WriteLog(TEXT_X_ALLOC_POSITIONS "\n");
    if (d.vertexCount) std::memcpy(out->Positions, d.vertices, d.vertexCount * sizeof(VECTOR));
    if (const XFileObject* n = m->conv.normals) {
      out->NormalCount = static_cast<int>(n->data.meshNormals.normalCount);
      out->Normals = static_cast<VECTOR*>(ReadModelAlloc(rm, (static_cast<uint64_t>(out->NormalCount) + 1) * sizeof(VECTOR)));
      if (!out->Normals) return WriteLog(TEXT_X_ALLOC_NORMALS "\n");
      if (out->NormalCount) std::memcpy(out->Normals, n->data.meshNormals.normals, out->NormalCount * sizeof(VECTOR));
    }
    if (const XFileObject* t = m->conv.textureCoords) {
      out->UVCount[0] = static_cast<int>(t->data.textureCoords.count);
      out->UVs[0] = static_cast<ReadModelUV*>(ReadModelAlloc(rm, (static_cast<uint64_t>(out->UVCount[0]) + 1) * sizeof(ReadModelUV)));
      if (!out->UVs[0]) return WriteLog(TEXT_X_ALLOC_UVS "\n");
      if (out->UVCount[0]) std::memcpy(out->UVs[0], t->data.textureCoords.coords, out->UVCount[0] * sizeof(ReadModelUV));
    }
    return MeshFaces(out, m);
  }
  int Pass5Frame(XFileObject* o) {
    for (uint32_t i = 0; i < o->conv.itemCount; ++i) {
      XFileObject* mesh = o->conv.items[i];
      // a top-level mesh that a frame collects is converted there only
      if (IsTop(o) && mesh->conv.collected) continue;
      const auto& d = mesh->data.mesh;
      converted += d.vertexCount + (d.faces.count ? d.faces.starts[d.faces.count] : 0);
      if (converted > kMaxConvertedElements) return WriteLog(X_MSG_TOO_MUCH);
      ReadModelFrame* frame = o->conv.meshFrames && o->conv.meshFrames[i] ? o->conv.meshFrames[i] : o->conv.readFrame;
      if (!frame) {
        frame = ReadModelAddFrame(rm, mesh->name[0] ? mesh->name : "Mesh", nullptr);
        if (!frame) return WriteLog(TEXT_X_ADD_FRAME "\n");
      }
      if (ConvertMesh(mesh, frame) < 0) return -1;
    }
    return 0;
  }

  // ---- pass 6 ----
  int Pass6Set(XFileObject* o) {
    ReadModelAnimSet* set = ReadModelAddAnimSet(rm, o->name);
    if (!set) return WriteLog(TEXT_X_ADD_ANIMSET "\n");
    set->TotalTime = static_cast<float>(o->conv.endTime);
    for (uint32_t a = 0; a < o->conv.itemCount; ++a) {
      XFileObject* an = o->conv.items[a];
      if (!an->conv.frame || !an->conv.frame->conv.readFrame) {
        WriteLogFmt(X_MSG_NO_TARGET, an->name);
        continue;
      }
      ReadModelAnim* anim = ReadModelAddAnim(rm, set);
      if (!anim) return WriteLog(TEXT_X_ADD_ANIM "\n");
      anim->TargetFrameName = ReadModelAddString(rm, an->conv.frame->name);
      if (!anim->TargetFrameName) return WriteLog(TEXT_X_ADD_ANIM "\n");
      anim->TargetFrameIndex = an->conv.frame->conv.readFrame->Index;
      anim->TotalTime = static_cast<float>(an->conv.endTime);
      for (uint32_t k = 0; k < an->conv.itemCount; ++k)
        if (KeySet(anim, an->conv.items[k]) < 0) return -1;
    }
    return 0;
  }
  int KeySet(ReadModelAnim* anim, const XFileObject* key) {
    const auto& a = key->data.animationKey;
    if (a.keyCount == 0) return 0;  // nothing to play
    ReadModelAnimKeySet* ks = ReadModelAddAnimKeySet(rm, anim);
    if (!ks) return WriteLog(TEXT_X_ADD_KEYSET "\n");
    static const uint8_t kKind[5] = {READMODEL_KIND_ROTATE, READMODEL_KIND_SCALE, READMODEL_KIND_TRANSLATE,
                                     READMODEL_KIND_MATRIX4X3, READMODEL_KIND_MATRIX4X3};
    static const uint8_t kType[5] = {READMODEL_KEY_QUATERNION, READMODEL_KEY_VECTOR, READMODEL_KEY_VECTOR,
                                     READMODEL_KEY_MATRIX4X3, READMODEL_KEY_MATRIX4X3};
    ks->Kind = kKind[a.keyType];
    ks->DataType = kType[a.keyType];
    ks->TimeType = 1;
    ks->TotalTime = static_cast<float>(key->conv.endTime);
    if (ReadModelAllocKeys(rm, ks, static_cast<int>(a.keyCount)) < 0) return WriteLog(TEXT_X_ALLOC_KEYS "\n");
    auto* out = static_cast<float*>(ks->KeyData);
    for (uint32_t i = 0; i < a.keyCount; ++i) {
      const float* v = a.keys[i].keys.values;
      ks->KeyTimes[i] = static_cast<float>(a.keys[i].time);
      switch (a.keyType) {
        case 0:  // the file's w, x, y, z
          out[0] = v[1], out[1] = v[2], out[2] = v[3], out[3] = v[0];
          out += 4;
          break;
        case 1:
        case 2:
          out[0] = v[0], out[1] = v[1], out[2] = v[2];
          out += 3;
          break;
        default:
          for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c) *out++ = v[r * 4 + c];
          break;
      }
    }
    return 0;
  }

  int Run() {
    top = list->first;
    XNameTable frames;
    if (XNameTableBuild(list, &frames, top ? top->next : nullptr, XOBJ_FRAME) < 0) return WriteLog(TEXT_X_ALLOC_SKIN_LIST "\n");
    if (Pass1(frames) < 0 || Pass2() < 0 || Pass3() < 0 || Pass4() < 0) return -1;
    for (XFileObject* o = list->first; o; o = o->next) {
      if (o->type == XOBJ_FRAME && Pass5Frame(o) < 0) return -1;
      if (o->type == XOBJ_ANIMATIONSET && Pass6Set(o) < 0) return -1;
    }
    return 0;
  }
};

}  // namespace

int ConvertXFileObjects(XFileObjectList* list, ReadModel* rm) {
  Converter c{list, rm, nullptr, 0};
  return c.Run();
}

int LoadXFileModel(const void* image, size_t size, const char* path, const char* modelName, const char* folder) {
  ReadModel rm;
  InitReadModel(&rm);
  XFileObjectList list{};
  int result = -1;
  rm.FilePath = ReadModelAddString(&rm, path);
  rm.Name = rm.FilePath ? ReadModelAddString(&rm, modelName) : nullptr;
  if (!rm.Name) {
    WriteLogFmt(TEXT_X_ALLOC_STRING "\n", rm.FilePath ? modelName : path);
  } else if (XFileAddObject(&list, XOBJ_FRAME, "XTopFrame", nullptr) && ParseXFile(image, size, &list) == 0) {
    // the tree holds all of the file, and the read model all of the tree
    MV1ReleaseLoadImage(image);
    const bool converted = ConvertXFileObjects(&list, &rm) == 0;
    FreeXFileObjectList(&list);
    if (converted) result = ConvertReadModelToModelBase(&rm, folder);
  }
  TerminateReadModel(&rm);
  FreeXFileObjectList(&list);
  return result < 0 ? -1 : result;
}
