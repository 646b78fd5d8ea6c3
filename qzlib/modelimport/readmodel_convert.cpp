// Conversion of a read model into a model base: checks, key sets, meshes, sizing, one block for
// the base and its records, one for the vertex data, then the fill.
#include <climits>
#include <cmath>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/strutil.h>
#include <qzlib/file/path.h>
#include <qzlib/math/math3d.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_build.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/model/model_mesh_process.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/modelimport/readmodel_convert.h>
#include <qzlib/modelimport/readmodel_work.h>

namespace {

ReadModelObserver g_observer = nullptr;
void* g_observerUser = nullptr;

const char* Str(const char* s) { return s ? s : ""; }
uint64_t StrBytes(const char* s) { return (std::strlen(Str(s)) + 1 + 3) / 4 * 4; }

// Areas of one block, each 16-byte aligned.
struct Layout {
  uint64_t size = 0;
  uint64_t Add(uint64_t bytes) {
    size = (size + 15) & ~uint64_t{15};
    uint64_t at = size;
    size += bytes;
    return at;
  }
};

// The string table being filled.
struct Strings {
  char* at;
  char* Add(const char* s) {
    s = Str(s);
    size_t n = std::strlen(s);
    char* out = at;
    std::memcpy(out, s, n + 1);
    at += (n + 1 + 3) / 4 * 4;
    return out;
  }
};

Matrix3x4 ToMatrix3x4(const MATRIX& m) {
  Matrix3x4 r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r.m[i][j] = m.m[j][i];
    r.m[i][3] = m.m[3][i];
  }
  return r;
}

bool IsIdentity3x3(const MATRIX& m) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (m.m[i][j] != (i == j ? 1.0f : 0.0f)) return false;
  return true;
}

bool MatrixNearEqual3x3(const MATRIX& a, const MATRIX& b, float tolerance) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (!(a.m[i][j] - tolerance < b.m[i][j] && b.m[i][j] < a.m[i][j] + tolerance)) return false;
  return true;
}

VECTOR RowOf(const MATRIX& m, int i) { return VECTOR{m.m[i][0], m.m[i][1], m.m[i][2]}; }
void SetRow(MATRIX* m, int i, VECTOR v) {
  m->m[i][0] = v.x;
  m->m[i][1] = v.y;
  m->m[i][2] = v.z;
}
VECTOR CrossOf(VECTOR a, VECTOR b) {
  return VECTOR{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Replaces the zero rows of a row-normalised 3x3 by unit rows completing a rotation (row i =
// row i+1 x row i+2), so that the decomposition finds the rotation of the axes that are there.
void CompleteRotationRows(MATRIX* n, const bool zero[3]) {
  const int zeros = zero[0] + zero[1] + zero[2];
  if (zeros == 3) {
    CreateIdentityMatrix(n);
    return;
  }
  int filled = -1;
  if (zeros == 2) {
    // the one row there is, a unit row at right angles to it, and their cross product
    const int keep = !zero[0] ? 0 : !zero[1] ? 1 : 2;
    const VECTOR u = RowOf(*n, keep);
    const VECTOR helper = std::fabs(u.x) < 0.9f ? VECTOR{1, 0, 0} : VECTOR{0, 1, 0};
    VECTOR p = CrossOf(helper, u);
    const float len = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    p = VECTOR{p.x / len, p.y / len, p.z / len};
    filled = (keep + 1) % 3;
    SetRow(n, filled, p);
  }
  for (int i = 0; i < 3; ++i)
    if (zero[i] && i != filled) SetRow(n, i, CrossOf(RowOf(*n, (i + 1) % 3), RowOf(*n, (i + 2) % 3)));
}

// The frame base's translate, rotate, rotate order and scale from the read-model frame's matrix.
void FrameTransform(const ReadModelFrame* rf, MV1FrameBase* fb) {
  fb->Translate = rf->Translate;
  fb->Scale = rf->Scale;
  fb->Rotate = rf->Rotate;
  fb->RotateOrder = rf->RotateOrder;
  fb->Quaternion = MV1Float4{rf->Quaternion[0], rf->Quaternion[1], rf->Quaternion[2], rf->Quaternion[3]};
  MATRIX m = rf->Matrix;
  if (m.m[3][0] != 0.0f || m.m[3][1] != 0.0f || m.m[3][2] != 0.0f) {
    fb->Translate = VECTOR{m.m[3][0], m.m[3][1], m.m[3][2]};
    m.m[3][0] = m.m[3][1] = m.m[3][2] = 0.0f;
  }
  // a mirrored matrix has its first row negated for the decomposition, scale x negated after it
  const float det = m.m[0][0] * (m.m[1][1] * m.m[2][2] - m.m[1][2] * m.m[2][1]) -
                    m.m[0][1] * (m.m[1][0] * m.m[2][2] - m.m[1][2] * m.m[2][0]) +
                    m.m[0][2] * (m.m[1][0] * m.m[2][1] - m.m[1][1] * m.m[2][0]);
  const bool mirrored = det < 0.0f;
  if (mirrored)
    for (int j = 0; j < 3; ++j) m.m[0][j] = -m.m[0][j];
  MATRIX n = m;
  bool zeroRow[3];
  for (int i = 0; i < 3; ++i) {
    float len = std::sqrt(n.m[i][0] * n.m[i][0] + n.m[i][1] * n.m[i][1] + n.m[i][2] * n.m[i][2]);
    zeroRow[i] = len == 0.0f;
    if (zeroRow[i]) continue;  // a zero row (a hidden axis) is never divided
    for (int j = 0; j < 3; ++j) n.m[i][j] /= len;
  }
  if (zeroRow[0] || zeroRow[1] || zeroRow[2]) CompleteRotationRows(&n, zeroRow);
  MATRIX s;
  if (IsIdentity3x3(n)) {
    s = m;
  } else {
    typedef int (*Extract)(const MATRIX*, float*, float*, float*);
    typedef int (*Build)(MATRIX*, float, float, float);
    struct Order { Extract get; Build make; int order; };
    static const Order kOrders[6] = {
        {GetMatrixXYZRotation, CreateRotationXYZMatrix, 0}, {GetMatrixXZYRotation, CreateRotationXZYMatrix, 1},
        {GetMatrixYXZRotation, CreateRotationYXZMatrix, 3}, {GetMatrixYZXRotation, CreateRotationYZXMatrix, 2},
        {GetMatrixZXYRotation, CreateRotationZXYMatrix, 4}, {GetMatrixZYXRotation, CreateRotationZYXMatrix, 5}};
    MATRIX rot;
    bool matched = false;
    for (const Order& o : kOrders) {
      float x = 0, y = 0, z = 0;
      o.get(&n, &x, &y, &z);
      if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) x = y = z = 0.0f;
      o.make(&rot, x, y, z);
      if (MatrixNearEqual3x3(n, rot, 0.00001f)) {
        fb->Rotate = VECTOR{x, y, z};
        fb->RotateOrder = o.order;
        matched = true;
        break;
      }
    }
    if (!matched) {
      float x = 0, y = 0, z = 0;
      GetMatrixXYZRotation(&n, &x, &y, &z);
      if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) x = y = z = 0.0f;
      CreateRotationXYZMatrix(&rot, x, y, z);
      fb->Rotate = VECTOR{x, y, z};
      fb->RotateOrder = 0;
    }
    MATRIX inv;
    if (CreateInverseMatrix(&inv, &rot) != 0) CreateIdentityMatrix(&inv);
    CreateMultiplyMatrix(&s, &m, &inv);
  }
  const float sx = s.m[0][0], sy = s.m[1][1], sz = s.m[2][2];
  auto outside = [](float v) { return !(v >= 0.99999f && v <= 1.00001f); };
  if (mirrored) {
    fb->Scale = VECTOR{-sx, sy, sz};
  } else if (outside(sx) || outside(sy) || outside(sz)) {
    fb->Scale = VECTOR{sx, sy, sz};
  }
}

// Sizes of the whole base, worked out before anything of it is allocated.
struct Sizes {
  uint64_t parts = 0, lists = 0, bones = 0, shapeMeshes = 0, shapeVertices = 0;
  uint64_t strings = 0, keyData = 0;
  uint64_t typeVerts[3] = {0, 0, 0}, type3Bytes = 0;
  uint64_t positionBytes = 0, normals = 0, meshVertexBytes = 0, faces = 0, listVerts = 0, indices = 0;
};

int RefuseTooLarge() {
  WriteLogFmt("Read Model Convert Error : " TEXT_RM_INVALID "\n", "the model is too large");
  return -1;
}

// Releases a base that could not be finished.
int Abandon(int handle) {
  MV1ReleaseModelBase(handle);
  return -1;
}

}  // namespace

void SetReadModelObserver(ReadModelObserver observer, void* user) {
  g_observer = observer;
  g_observerUser = user;
}

int ConvertReadModelToModelBase(ReadModel* rm, const char* folder) {
  if (g_observer && g_observer(rm, folder, g_observerUser) != 0) return -1;
  if (ValidateReadModel(rm) != 0) return -1;
  const RMRootWork* rw = static_cast<RMRootWork*>(rm->Work);
  ReadModelFrame* const* frames = rw->Frames;
  const int frameCount = rm->FrameCount;

  // 2. key sets
  PrepareReadModelAnimKeys(rm);

  // 3. shape target tables
  for (ReadModelShape* s = rm->FirstShape; s; s = s->Next) {
    s->TargetTable = static_cast<int*>(ReadModelAlloc(rm, sizeof(int) * (static_cast<uint64_t>(s->Mesh->PositionCount) + 1)));
    if (!s->TargetTable) {
      WriteLog("Read Model Convert Error : " TEXT_RM_SHAPE_TABLE_ALLOC_FAILED "\n");
      return -1;
    }
    for (int i = 0; i < s->Mesh->PositionCount; ++i) s->TargetTable[i] = -1;
    for (int i = 0; i < s->VertexCount; ++i) s->TargetTable[s->Vertices[i].Position] = i;
  }

  // 4. meshes
  Sizes sz;
  for (ReadModelMesh* m = rm->FirstMesh; m; m = m->Next) {
    if (!TriangulateReadModelMesh(rm, m)) return -1;
    if (MV1LoadOptimizeVerticesFlag && !OptimizeReadModelVertices(rm, m)) return -1;
    if (!m->Normals || rm->UseFrameSmoothingAngles || MV1LoadRecalcNormalsFlag) {
      if (!rm->UseFrameSmoothingAngles) m->Frame->SmoothingAngle = MV1LoadSmoothingAngle;
      if (!MakeReadModelNormals(rm, m)) return -1;
    }
    for (int f = 0; f < m->FaceCount; ++f) m->Faces[f].TriangleCount = m->Faces[f].IndexCount - 2;
    if (BuildReadModelMeshParts(rm, m) != 0) return -1;
    // the parts hold what the faces, their index sets, colours and UVs said: their large blocks
    // go back before the base is made (the positions and normals are copied into it). Given back
    // here, not as soon as the normals have moved the faces' index sets, so that the parts' blocks
    // do not scatter into the holes and the heap keeps one run free for what comes after.
    RMBlock read[2 + READMODEL_MAX_UV_SETS] = {
        {m->Faces, sizeof(ReadModelFace) * static_cast<uint64_t>(m->FaceCount)},
        {m->VertexColors, sizeof(COLOR_F) * static_cast<uint64_t>(m->VertexColorCount)}};
    for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k)
      read[2 + k] = RMBlock{m->UVs[k], sizeof(ReadModelUV) * static_cast<uint64_t>(m->UVCount[k])};
    const void* was[2 + READMODEL_MAX_UV_SETS];
    for (int i = 0; i < 2 + READMODEL_MAX_UV_SETS; ++i) was[i] = read[i].Start;
    ReadModelFreeLargeBlocks(rm, read, 2 + READMODEL_MAX_UV_SETS);
    // an array is gone when its block went back (two UV sets may name one array)
    auto gone = [&](const void* p) {
      for (int i = 0; i < 2 + READMODEL_MAX_UV_SETS; ++i)
        if (p && p == was[i] && !read[i].Start) return true;
      return false;
    };
    if (gone(m->Faces)) {
      m->Faces = nullptr;
      m->FaceCount = 0;
    }
    if (gone(m->VertexColors)) {
      m->VertexColors = nullptr;
      m->VertexColorCount = 0;
    }
    for (int k = 0; k < READMODEL_MAX_UV_SETS; ++k) {
      if (gone(m->UVs[k])) {
        m->UVs[k] = nullptr;
        m->UVCount[k] = 0;
      }
    }
    RMFreeDeadIndexBlocks(rm, m);
  }
  for (ReadModelShape* s = rm->FirstShape; s; s = s->Next)
    if (s->Frame == s->Mesh->Frame) static_cast<RMMeshWork*>(s->Mesh->Work)->HasShapes = 1;

  // 5, 6. frames: bones per vertex, positions, normals, bone lists; totals
  auto* fworks = static_cast<RMFrameWork*>(ReadModelAlloc(rm, sizeof(RMFrameWork) * (static_cast<uint64_t>(frameCount) + 1)));
  if (!fworks) {
    WriteLog("Read Model Convert Error : " TEXT_RM_TEMP_ALLOC_FAILED "\n");
    return -1;
  }
  for (int i = 0; i < frameCount; ++i) {
    ReadModelFrame* f = frames[i];
    RMFrameWork* fw = &fworks[i];
    f->Work = fw;
    for (ReadModelMesh* m = f->FirstMesh; m; m = m->NextInFrame) {
      auto* mw = static_cast<RMMeshWork*>(m->Work);
      if (mw->BonesPerVertex > fw->BonesPerVertex) fw->BonesPerVertex = mw->BonesPerVertex;
      mw->FramePositionBase = fw->PositionCount;
      mw->FrameNormalBase = fw->NormalCount;
      mw->FrameBoneBase = fw->BoneCount;
      fw->PositionCount += m->PositionCount;
      fw->NormalCount += m->NormalCount;
      fw->BoneCount += m->SkinWeightCount;
      fw->PartCount += mw->PartCount;
      if (static_cast<int64_t>(fw->PositionCount) + 0 > INT_MAX / 2 || fw->NormalCount > INT_MAX / 2 ||
          fw->PartCount > INT_MAX / 2)
        return RefuseTooLarge();
      for (int p = 0; p < mw->PartCount; ++p) {
        const RMPartWork& pw = mw->Parts[p];
        sz.lists += pw.ListCount;
        sz.meshVertexBytes += static_cast<uint64_t>(pw.VertexCount) * pw.VertexStride;
        sz.faces += pw.FaceCount;
        for (int l = 0; l < pw.ListCount; ++l) {
          const RMListWork& lw = pw.Lists[l];
          if (lw.Type < 3) sz.typeVerts[lw.Type] += lw.VertexCount;
          else sz.type3Bytes += static_cast<uint64_t>(lw.VertexCount) * lw.Stride;
          sz.listVerts += lw.VertexCount;
          sz.indices += lw.IndexCount;
        }
      }
    }
    sz.parts += fw->PartCount;
    sz.bones += fw->BoneCount;
    sz.positionBytes += static_cast<uint64_t>(fw->PositionCount) * (fw->BonesPerVertex * 8 + 12);
    sz.normals += fw->NormalCount;
    sz.strings += StrBytes(f->Name);
    // shape meshes of the frame: per shape on one of its meshes, per part with a moved vertex
    for (ReadModelShape* s = f->FirstShape; s; s = s->NextInFrame) {
      sz.strings += StrBytes(s->Name);
      if (s->Mesh->Frame != f) continue;
      auto* mw = static_cast<RMMeshWork*>(s->Mesh->Work);
      for (int p = 0; p < mw->PartCount; ++p) {
        const RMPartWork& pw = mw->Parts[p];
        uint64_t moved = 0;
        for (int v = 0; v < pw.VertexCount; ++v)
          if (s->TargetTable[reinterpret_cast<const MV1MeshVertex*>(pw.Vertices + static_cast<size_t>(v) * pw.VertexStride)->PositionIndex] >= 0)
            ++moved;
        if (moved) {
          ++sz.shapeMeshes;
          sz.shapeVertices += moved;
        }
      }
    }
  }
  sz.strings += StrBytes(rm->Name) + StrBytes(rm->FilePath);
  for (ReadModelAnimSet* s = rm->FirstAnimSet; s; s = s->Next) sz.strings += StrBytes(s->Name);
  for (ReadModelTexture* t = rm->FirstTexture; t; t = t->Next) sz.strings += StrBytes(t->Name);
  for (ReadModelMaterial* m = rm->FirstMaterial; m; m = m->Next) sz.strings += StrBytes(m->Name);
  for (ReadModelAnimKeySet* k = rm->FirstKeySet; k; k = k->Next)
    sz.keyData += (static_cast<uint64_t>(ReadModelKeySize(k->DataType)) + (k->TimeType ? 4 : 0)) *
                  static_cast<uint64_t>(k->KeyCount);

  // the head block and its areas
  const char* folderArg = Str(folder);
  const size_t folderLen = std::strlen(folderArg);
  const char* lastChar = nullptr;  // a 0x5C trail byte is no separator
  for (const char* p = folderArg; *p; p += IsLeadByte(p) && p[1] ? 2 : 1) lastChar = p;
  const bool needSlash = !lastChar || (*lastChar != '/' && *lastChar != '\\');
  const uint64_t animTable = static_cast<uint64_t>(rm->AnimSetCount) * static_cast<uint64_t>(frameCount);
  Layout head;
  head.Add(sizeof(MV1ModelBase));
  const uint64_t oFolder = head.Add(folderLen + 2);
  const uint64_t oFrames = head.Add(sizeof(MV1FrameBase) * static_cast<uint64_t>(frameCount));
  const uint64_t oMeshes = head.Add(sizeof(MV1MeshBase) * sz.parts);
  const uint64_t oLists = head.Add(sizeof(MV1TriangleList) * sz.lists);
  const uint64_t oMaterials = head.Add(sizeof(MV1MaterialBase) * static_cast<uint64_t>(rm->MaterialCount));
  const uint64_t oTextures = head.Add(sizeof(MV1TextureBase) * static_cast<uint64_t>(rm->TextureCount));
  const uint64_t oBones = head.Add(sizeof(MV1SkinBoneBase) * sz.bones);
  const uint64_t oBoneUse = head.Add(sizeof(MV1BoneUseEntry) * sz.bones);
  const uint64_t oBoneList = head.Add(sizeof(MV1SkinBoneBase*) * sz.bones);
  const uint64_t oShapes = head.Add(sizeof(MV1ShapeBase) * static_cast<uint64_t>(rm->ShapeCount));
  const uint64_t oShapeMeshes = head.Add(sizeof(MV1ShapeMeshBase) * sz.shapeMeshes);
  const uint64_t oShapeVerts = head.Add(sizeof(MV1ShapeVertexBase) * sz.shapeVertices);
  const uint64_t oStrings = head.Add(sz.strings);
  const uint64_t oAnims = head.Add(sizeof(MV1AnimBase) * static_cast<uint64_t>(rm->AnimSetCount));
  const uint64_t oAnimFrames = head.Add(sizeof(MV1AnimFrameBase) * static_cast<uint64_t>(rm->AnimCount));
  const uint64_t oKeySets = head.Add(sizeof(MV1AnimKeySet) * static_cast<uint64_t>(rm->KeySetCount));
  const uint64_t oKeyData = head.Add(sz.keyData);
  const uint64_t oAnimTable = head.Add(sizeof(MV1AnimFrameBase*) * animTable);
  Layout vb;
  const uint64_t oType[3] = {vb.Add(32 * sz.typeVerts[0]), vb.Add(48 * sz.typeVerts[1]), vb.Add(64 * sz.typeVerts[2])};
  const uint64_t oType3 = vb.Add(sz.type3Bytes);
  const uint64_t oPositions = vb.Add(sz.positionBytes);
  const uint64_t oNormals = vb.Add(sizeof(MV1MeshNormal) * sz.normals);
  const uint64_t oMeshVerts = vb.Add(sz.meshVertexBytes);
  const uint64_t oFaces = vb.Add(sizeof(MV1MeshFace) * sz.faces);
  const uint64_t oListVerts = vb.Add(4 * sz.listVerts);
  const uint64_t oIndices = vb.Add(2 * sz.indices);
  const uint64_t intLimit = INT_MAX;
  if (sz.parts > intLimit || sz.lists > intLimit || sz.bones > intLimit || sz.shapeMeshes > intLimit ||
      sz.shapeVertices > intLimit || sz.strings > intLimit || sz.keyData > intLimit || sz.indices > intLimit ||
      sz.typeVerts[0] > intLimit || sz.typeVerts[1] > intLimit || sz.typeVerts[2] > intLimit ||
      sz.type3Bytes > intLimit || sz.positionBytes > intLimit || sz.normals > intLimit ||
      sz.meshVertexBytes > intLimit || sz.faces > intLimit || sz.listVerts > intLimit || vb.size > intLimit ||
      animTable > intLimit || head.size > (uint64_t{1} << 40))
    return RefuseTooLarge();

  // 7. handle
  const int handle = MV1AddModelBaseHandle();
  if (handle < 0) {
    WriteLog("Read Model Convert Error : " TEXT_RM_HANDLE_FAILED "\n");
    return -1;
  }
  // 8. the head block, stored in the handle's slot, and the vertex block
  auto* block = static_cast<uint8_t*>(MEM_CALLOC(static_cast<size_t>(head.size)));
  if (!block) {
    WriteLog("Read Model Convert Error : " TEXT_RM_BASE_ALLOC_FAILED "\n");
    return Abandon(handle);
  }
  auto* base = reinterpret_cast<MV1ModelBase*>(block);
  base->Handle = handle;
  MV1ModelBaseTable.Slot[handle & MV1_HANDLE_INDEX_MASK] = base;
  uint8_t* vblock = nullptr;
  if (vb.size > 0) {
    vblock = static_cast<uint8_t*>(MEM_CALLOC(static_cast<size_t>(vb.size)));
    if (!vblock) {
      WriteLog("Read Model Convert Error : " TEXT_RM_VERTEX_ALLOC_FAILED "\n");
      return Abandon(handle);
    }
    base->VertexData = vblock;
    base->VertexDataSize = static_cast<int>(vb.size);
  }
  auto at = [&](uint64_t off) { return block + off; };
  auto vat = [&](uint64_t off) { return vblock ? vblock + off : nullptr; };
  base->FrameCount = frameCount;
  base->Frame = reinterpret_cast<MV1FrameBase*>(at(oFrames));
  base->MeshCount = static_cast<int>(sz.parts);
  base->Mesh = sz.parts ? reinterpret_cast<MV1MeshBase*>(at(oMeshes)) : nullptr;
  base->TriangleListCount = static_cast<int>(sz.lists);
  base->TriangleList = sz.lists ? reinterpret_cast<MV1TriangleList*>(at(oLists)) : nullptr;
  base->MaterialCount = rm->MaterialCount;
  base->Material = reinterpret_cast<MV1MaterialBase*>(at(oMaterials));
  base->Texture = reinterpret_cast<MV1TextureBase*>(at(oTextures));
  base->SkinBone = sz.bones ? reinterpret_cast<MV1SkinBoneBase*>(at(oBones)) : nullptr;
  base->SkinBoneUse = sz.bones ? reinterpret_cast<MV1BoneUseEntry*>(at(oBoneUse)) : nullptr;
  base->FrameUseSkinBone = sz.bones ? reinterpret_cast<MV1SkinBoneBase**>(at(oBoneList)) : nullptr;
  base->FrameUseSkinBoneCount = static_cast<int>(sz.bones);
  base->ShapeCount = rm->ShapeCount;
  base->Shape = rm->ShapeCount ? reinterpret_cast<MV1ShapeBase*>(at(oShapes)) : nullptr;
  base->ShapeMesh = sz.shapeMeshes ? reinterpret_cast<MV1ShapeMeshBase*>(at(oShapeMeshes)) : nullptr;
  base->ShapeVertex = sz.shapeVertices ? reinterpret_cast<MV1ShapeVertexBase*>(at(oShapeVerts)) : nullptr;
  base->StringSize = static_cast<int>(sz.strings);
  base->StringBuffer = reinterpret_cast<char*>(at(oStrings));
  base->AnimCount = rm->AnimSetCount;
  base->Anim = reinterpret_cast<MV1AnimBase*>(at(oAnims));
  base->AnimFrameCount = rm->AnimCount;
  base->AnimFrame = reinterpret_cast<MV1AnimFrameBase*>(at(oAnimFrames));
  base->AnimKeySetCount = rm->KeySetCount;
  base->AnimKeySet = reinterpret_cast<MV1AnimKeySet*>(at(oKeySets));
  base->KeyData = at(oKeyData);
  base->AnimFrameTable = animTable ? reinterpret_cast<MV1AnimFrameBase**>(at(oAnimTable)) : nullptr;
  for (int t = 0; t < 3; ++t) {
    void* area = sz.typeVerts[t] ? vat(oType[t]) : nullptr;
    (t == 0 ? base->Type0Vertices : t == 1 ? base->Type1Vertices : base->Type2Vertices) = area;
  }
  base->Type3Vertices = sz.type3Bytes ? vat(oType3) : nullptr;
  base->Positions = sz.positionBytes ? vat(oPositions) : nullptr;
  base->Normals = sz.normals ? vat(oNormals) : nullptr;
  base->MeshVertices = sz.meshVertexBytes ? vat(oMeshVerts) : nullptr;
  base->Faces = sz.faces ? vat(oFaces) : nullptr;
  base->TListMeshVertexIndices = sz.listVerts ? vat(oListVerts) : nullptr;
  base->Indices = sz.indices ? reinterpret_cast<uint16_t*>(vat(oIndices)) : nullptr;

  // 9. strings and folder
  Strings strings{base->StringBuffer};
  base->Name = strings.Add(rm->Name);
  base->FilePath = strings.Add(rm->FilePath);
  char* folderCopy = reinterpret_cast<char*>(at(oFolder));
  std::memcpy(folderCopy, folderArg, folderLen);
  if (needSlash) folderCopy[folderLen] = '/';
  base->DirectoryPath = folderCopy;

  // 10. animations
  {
    int afFill = 0, ksFill = 0;
    uint64_t keyFill = 0;
    int si = 0;
    for (ReadModelAnimSet* s = rm->FirstAnimSet; s; s = s->Next, ++si) {
      MV1AnimBase* ab = &base->Anim[si];
      ab->Name = strings.Add(s->Name);
      ab->Index = si;
      ab->MaxTime = s->TotalTime;
      ab->IsAdditive = s->IsAddAnim;
      ab->IsMatrixMode = s->IsMatrixAnim;
      ab->AnimFrameCount = s->AnimCount;
      ab->AnimFrame = &base->AnimFrame[afFill];
      for (ReadModelAnim* a = s->FirstAnim; a; a = a->NextInSet) {
        MV1AnimFrameBase* af = &base->AnimFrame[afFill++];
        af->Anim = ab;
        af->TargetFrameIndex = a->TargetFrameIndex;
        af->TargetFrame = &base->Frame[a->TargetFrameIndex];
        std::memcpy(&af->FileValue0C, &a->TotalTime, sizeof(float));
        af->FileValue10 = a->IntSetting;
        af->KeySetCount = a->KeySetCount;
        af->KeySet = &base->AnimKeySet[ksFill];
        base->AnimFrameTable[static_cast<uint64_t>(si) * frameCount + a->TargetFrameIndex] = af;
        for (ReadModelAnimKeySet* k = a->FirstKeySet; k; k = k->NextInAnim) {
          MV1AnimKeySet* ks = &base->AnimKeySet[ksFill++];
          ks->Type = k->DataType;
          ks->DataType = k->Kind;
          ks->TimeType = k->TimeType;
          ks->TargetShapeIndex = k->ShapeIndex;
          ks->KeyCount = k->KeyCount;
          const uint64_t bytes = static_cast<uint64_t>(ReadModelKeySize(k->DataType)) * k->KeyCount;
          ks->KeyData = at(oKeyData + keyFill);
          std::memcpy(ks->KeyData, k->KeyData, bytes);
          keyFill += bytes;
          if (k->TimeType == 0) {
            ks->UnitTime = k->UnitTime;
            ks->StartTime = k->StartTime;
          } else {
            ks->KeyTime = reinterpret_cast<float*>(at(oKeyData + keyFill));
            std::memcpy(ks->KeyTime, k->KeyTimes, sizeof(float) * k->KeyCount);
            keyFill += sizeof(float) * static_cast<uint64_t>(k->KeyCount);
          }
        }
      }
    }
    base->KeyDataFillSize = static_cast<int>(keyFill);
  }

  // 11. textures, at most a quarter of the graph table
  if (MV1CheckLoadTextureCount("Read Model Convert Error : ", static_cast<uint64_t>(rm->TextureCount)) != 0)
    return Abandon(handle);
  {
    int ti = 0;
    for (ReadModelTexture* t = rm->FirstTexture; t; t = t->Next, ++ti) {
      MV1TextureBase* tb = &base->Texture[ti];
      tb->Name = strings.Add(t->Name);
      tb->AddressModeU = t->AddressModeU;
      tb->AddressModeV = t->AddressModeV;
      tb->FilterMode = t->FilterMode;
      tb->BumpMap = t->BumpMapFlag;
      tb->BumpScale = t->BumpMapScale;
      char colorFull[2048], alphaFull[2048];
      const bool hasColor = t->ColorFilePath && t->ColorFilePath[0];
      const bool hasAlpha = t->AlphaFilePath && t->AlphaFilePath[0];
      bool ok = (!hasColor || ConvertFullPath(t->ColorFilePath, colorFull, sizeof(colorFull), folderCopy) == 0) &&
                (!hasAlpha || ConvertFullPath(t->AlphaFilePath, alphaFull, sizeof(alphaFull), folderCopy) == 0);
      char* colorName = nullptr;
      char* alphaName = nullptr;
      ok = ok && MV1LoadTexture(&tb->ColorImage, &tb->ColorImageSize, &tb->AlphaImage, &tb->AlphaImageSize,
                                &tb->GraphHandle, &tb->SemiTransparent, &colorName, &alphaName,
                                hasColor ? colorFull : nullptr, hasAlpha ? alphaFull : nullptr, folderCopy,
                                t->BumpMapFlag, t->BumpMapScale) == 0;
      if (!ok) {
        WriteLogFmt("Read Model Convert Error : " TEXT_RM_TEXTURE_LOAD_FAILED "\n", Str(t->Name));
        return Abandon(handle);
      }
      tb->ColorFileName = colorName;
      tb->ColorFileNameAllocated = colorName != nullptr;
      tb->AlphaFileName = alphaName;
      tb->AlphaFileNameAllocated = alphaName != nullptr;
      base->TextureCount = ti + 1;
    }
  }

  // 12. materials
  {
    int mi = 0;
    for (ReadModelMaterial* m = rm->FirstMaterial; m; m = m->Next, ++mi) {
      MV1MaterialBase* mb = &base->Material[mi];
      mb->Name = strings.Add(m->Name);
      mb->Type = m->Type;
      mb->Diffuse = m->Diffuse;
      mb->Ambient = m->Ambient;
      mb->Specular = m->Specular;
      mb->Emissive = m->Emissive;
      mb->Power = m->Power;
      struct { const ReadModelTextureList* list; int* count; MV1MaterialLayer* layers; } maps[3] = {
          {&m->DiffuseTextures, &mb->DiffuseLayerCount, mb->DiffuseLayer},
          {&m->SpecularTextures, &mb->SpecularLayerCount, mb->SpecularLayer},
          {&m->NormalTextures, &mb->NormalLayerCount, mb->NormalLayer}};
      for (auto& map : maps) {
        int n = map.list->Count < READMODEL_MAX_MAP_LAYERS ? map.list->Count : READMODEL_MAX_MAP_LAYERS;
        *map.count = n;
        for (int k = 0; k < n; ++k) {
          map.layers[k].Texture = map.list->Items[k]->Index;
          map.layers[k].BlendType = map.list->Items[k]->BlendType;
        }
      }
      mb->DiffuseGradTexture = m->DiffuseGradTexture ? m->DiffuseGradTexture->Index : -1;
      mb->SpecularGradTexture = m->SpecularGradTexture ? m->SpecularGradTexture->Index : -1;
      mb->DiffuseGradBlend = m->DiffuseGradBlendType;
      mb->SpecularGradBlend = m->SpecularGradBlendType;
      mb->OutlineWidth = m->OutlineWidth;
      mb->OutlineColor = m->OutlineColor;
      mb->DrawBlendMode = m->DrawBlendMode;
      mb->DrawBlendParam = m->DrawBlendParam;
    }
  }

  // 13. frames, in list order (parents first)
  {
    int meshFill = 0, listFill = 0, boneFill = 0, shapeFill = 0, smFill = 0, svFill = 0;
    uint64_t posFill = 0, nrmFill = 0, mvFill = 0, faceFill = 0, lvFill = 0, idxFill = 0;
    uint64_t typeFill[3] = {0, 0, 0}, type3Fill = 0;
    for (int i = 0; i < frameCount; ++i) {
      ReadModelFrame* rf = frames[i];
      RMFrameWork* fw = &fworks[i];
      MV1FrameBase* fb = &base->Frame[i];
      fw->Base = fb;
      fb->Container = base;
      fb->Name = strings.Add(rf->Name);
      fb->Index = i;
      fb->SmoothingAngle = rf->SmoothingAngle;
      fb->NormalsFromFaces = rm->UseFrameSmoothingAngles;
      fb->BonesPerVertex = fw->BonesPerVertex;
      fb->PositionStride = fw->BonesPerVertex * 8 + 12;
      fb->Flag = rf->Visible ? 1u : 0u;
      if (!rf->Parent) {
        fb->Prev = base->LastTopFrame;
        if (base->LastTopFrame) base->LastTopFrame->Next = fb; else base->FirstTopFrame = fb;
        base->LastTopFrame = fb;
        ++base->TopFrameCount;
      } else {
        MV1FrameBase* parent = &base->Frame[rf->Parent->Index];
        fb->Parent = parent;
        fb->Prev = parent->LastChild;
        if (parent->LastChild) parent->LastChild->Next = fb; else parent->FirstChild = fb;
        parent->LastChild = fb;
        ++parent->ChildCount;
      }
      FrameTransform(rf, fb);
      // shapes of the frame
      const int firstShape = shapeFill;
      fb->ShapeCount = rf->ShapeCount;
      fb->Shape = rf->ShapeCount ? &base->Shape[firstShape] : nullptr;
      for (ReadModelShape* s = rf->FirstShape; s; s = s->NextInFrame) {
        MV1ShapeBase* sb = &base->Shape[shapeFill++];
        sb->Container = fb;
        sb->Name = strings.Add(s->Name);
      }
      // positions, normals, skin bones, mesh bases, triangle lists, shape meshes
      fb->PositionCount = fw->PositionCount;
      fb->Position = fw->PositionCount ? reinterpret_cast<MV1MeshPosition*>(vat(oPositions + posFill)) : nullptr;
      posFill += static_cast<uint64_t>(fw->PositionCount) * fb->PositionStride;
      fb->NormalCount = fw->NormalCount;
      fb->Normal = fw->NormalCount ? reinterpret_cast<MV1MeshNormal*>(vat(oNormals + nrmFill)) : nullptr;
      nrmFill += sizeof(MV1MeshNormal) * static_cast<uint64_t>(fw->NormalCount);
      fb->UseSkinBoneCount = fw->BoneCount;
      fb->UseSkinBone = fw->BoneCount ? &base->FrameUseSkinBone[boneFill] : nullptr;
      fb->MeshCount = fw->PartCount;
      fb->Mesh = fw->PartCount ? &base->Mesh[meshFill] : nullptr;
      for (ReadModelMesh* m = rf->FirstMesh; m; m = m->NextInFrame) {
        auto* mw = static_cast<RMMeshWork*>(m->Work);
        for (int p = 0; p < m->PositionCount; ++p) {
          MV1MeshPosition* rec = MV1FramePositionAt(fb, mw->FramePositionBase + p);
          rec->Position = m->Positions[p];
          if (fb->BonesPerVertex == 0) continue;
          MV1PositionBoneWeight* bw = MV1PositionBones(rec);
          int n = 0;
          if (mw->PosBoneStart)
            for (int e = mw->PosBoneStart[p]; e < mw->PosBoneStart[p + 1] && n < fb->BonesPerVertex; ++e, ++n)
              bw[n] = MV1PositionBoneWeight{static_cast<uint32_t>(mw->FrameBoneBase + mw->PosBone[e]), mw->PosWeight[e]};
          if (n < fb->BonesPerVertex) bw[n] = MV1PositionBoneWeight{0xFFFFFFFFu, 0.0f};
        }
        for (int n = 0; n < m->NormalCount; ++n) fb->Normal[mw->FrameNormalBase + n].Normal = m->Normals[n];
        for (int b = 0; b < m->SkinWeightCount; ++b) {
          const ReadModelSkinWeight* w = m->SkinWeights[b];
          MV1SkinBoneBase* bone = &base->SkinBone[boneFill];
          bone->ModelLocalMatrix = ToMatrix3x4(w->OffsetMatrix);
          bone->TranslateOnly = IsIdentity3x3(w->OffsetMatrix) ? 1 : 0;
          bone->Index = w->BoneFrame;
          bone->UseCount = 1;
          bone->Use = &base->SkinBoneUse[boneFill];
          bone->Use->Value[0] = i;
          bone->Use->Value[1] = mw->FrameBoneBase + b;
          base->FrameUseSkinBone[boneFill] = bone;
          ++boneFill;
        }
        const int firstPart = meshFill;
        for (int p = 0; p < mw->PartCount; ++p) {
          const RMPartWork& pw = mw->Parts[p];
          MV1MeshBase* mb = &base->Mesh[meshFill++];
          mb->Container = fb;
          mb->Material = &base->Material[pw.Material->Index];
          mb->HasVertexAlpha = pw.HasVertexAlpha;
          mb->Visible = 1;
          mb->BackCulling = 1;
          mb->UVSetCount = pw.UVSetCount;
          mb->FloatsPerUV = 2;
          mb->VertexStride = pw.VertexStride;
          mb->VertexCount = pw.VertexCount;
          mb->Vertex = pw.VertexCount ? reinterpret_cast<MV1MeshVertex*>(vat(oMeshVerts + mvFill)) : nullptr;
          if (pw.VertexCount) std::memcpy(mb->Vertex, pw.Vertices, static_cast<size_t>(pw.VertexCount) * pw.VertexStride);
          mvFill += static_cast<uint64_t>(pw.VertexCount) * pw.VertexStride;
          for (int v = 0; v < pw.VertexCount; ++v) {
            MV1MeshVertex* mv = MV1MeshVertexAt(mb, v);
            mv->PositionIndex += static_cast<uint32_t>(mw->FramePositionBase);
            mv->NormalIndex += static_cast<uint32_t>(mw->FrameNormalBase);
          }
          mb->FaceCount = pw.FaceCount;
          mb->Face = pw.FaceCount ? reinterpret_cast<MV1MeshFace*>(vat(oFaces + faceFill)) : nullptr;
          if (pw.FaceCount) std::memcpy(mb->Face, pw.Faces, sizeof(MV1MeshFace) * pw.FaceCount);
          faceFill += sizeof(MV1MeshFace) * static_cast<uint64_t>(pw.FaceCount);
          mb->TriangleListCount = pw.ListCount;
          mb->TriangleList = pw.ListCount ? &base->TriangleList[listFill] : nullptr;
          for (int l = 0; l < pw.ListCount; ++l) {
            const RMListWork& lw = pw.Lists[l];
            MV1TriangleList* tl = &base->TriangleList[listFill++];
            tl->Container = mb;
            tl->VertexType = static_cast<uint16_t>(lw.Type);
            tl->VertexStride = static_cast<uint16_t>(lw.Stride);
            tl->VertexCount = lw.VertexCount;
            tl->BonesPerVertex = lw.BonesPerVertex;
            if (lw.Type == MV1_VERTEX_TYPE_SKIN_4BONE || lw.Type == MV1_VERTEX_TYPE_SKIN_8BONE) {
              tl->UseBoneCount = lw.UseBoneCount;
              for (int k = 0; k < MV1_TRIANGLE_LIST_USE_BONE_MAX; ++k)
                tl->UseBone[k] = k < lw.UseBoneCount ? mw->FrameBoneBase + lw.UseBone[k] : -1;
            }
            if (lw.Type != MV1_VERTEX_TYPE_RIGID) fb->HasSkinnedMesh = 1;
            tl->MeshVertexIndex = reinterpret_cast<uint32_t*>(vat(oListVerts + lvFill));
            std::memcpy(tl->MeshVertexIndex, lw.MeshVertexIndex, 4 * static_cast<size_t>(lw.VertexCount));
            lvFill += 4 * static_cast<uint64_t>(lw.VertexCount);
            if (lw.Type < 3) {
              tl->Vertices = vat(oType[lw.Type] + typeFill[lw.Type] * lw.Stride);
              typeFill[lw.Type] += lw.VertexCount;
            } else {
              tl->Vertices = vat(oType3 + type3Fill);
              type3Fill += static_cast<uint64_t>(lw.VertexCount) * lw.Stride;
            }
            tl->IndexCount = static_cast<uint16_t>(lw.IndexCount);
            tl->Index = reinterpret_cast<uint16_t*>(vat(oIndices + idxFill * 2));
            std::memcpy(tl->Index, lw.Index, 2 * static_cast<size_t>(lw.IndexCount));
            idxFill += lw.IndexCount;
          }
        }
        // 15. shape meshes of this mesh
        int si = 0;
        for (ReadModelShape* s = rf->FirstShape; s; s = s->NextInFrame, ++si) {
          if (s->Mesh != m) continue;
          MV1ShapeBase* sb = &base->Shape[firstShape + si];
          for (int p = 0; p < mw->PartCount; ++p) {
            MV1MeshBase* mb = &base->Mesh[firstPart + p];
            const RMPartWork& pw = mw->Parts[p];
            MV1ShapeMeshBase* smb = &base->ShapeMesh[smFill];
            int count = 0;
            for (int v = 0; v < pw.VertexCount; ++v) {
              int local = reinterpret_cast<const MV1MeshVertex*>(pw.Vertices + static_cast<size_t>(v) * pw.VertexStride)->PositionIndex;
              int sv = s->TargetTable[local];
              if (sv < 0) continue;
              MV1ShapeVertexBase* out = &base->ShapeVertex[svFill + count++];
              out->TargetMeshVertex = static_cast<uint32_t>(v);
              out->Position = s->Vertices[sv].Offset;
              out->Normal = s->HasNormals ? s->Vertices[sv].Normal : VECTOR{0, 0, 0};
            }
            if (count == 0) continue;
            smb->TargetMesh = mb;
            smb->VertexCount = count;
            smb->Vertex = &base->ShapeVertex[svFill];
            svFill += count;
            ++smFill;
            if (sb->MeshCount++ == 0) sb->Mesh = smb;
            if (!mb->HasShape) {
              mb->HasShape = 1;
              base->ShapeAreaCount += mb->VertexCount;
              for (int l = 0; l < mb->TriangleListCount; ++l) {
                const MV1TriangleList* tl = &mb->TriangleList[l];
                if (tl->VertexType == 0) base->ShapeType0VertexCount += tl->VertexCount;
                else if (tl->VertexType == 1) base->ShapeType1VertexCount += tl->VertexCount;
                else if (tl->VertexType == 2) base->ShapeType2VertexCount += tl->VertexCount;
                else base->ShapeType3ByteSize += tl->VertexCount * tl->VertexStride;
              }
            }
          }
        }
      }
    }
    base->ShapeMeshCount = smFill;
    base->ShapeVertexCount = svFill;
    base->SkinBoneCount = boneFill;
    base->SkinBoneUseCount = boneFill;
    base->FillType0VertexCount = static_cast<int>(typeFill[0]);
    base->FillType1VertexCount = static_cast<int>(typeFill[1]);
    base->FillType2VertexCount = static_cast<int>(typeFill[2]);
    base->FillType3ByteSize = static_cast<int>(type3Fill);
    base->FillPositionByteSize = static_cast<int>(posFill);
    base->FillNormalCount = static_cast<int>(sz.normals);
    base->FillMeshVertexByteSize = static_cast<int>(mvFill);
    base->FillFaceCount = static_cast<int>(sz.faces);
    base->FillTListMeshVertexIndexCount = static_cast<int>(lvFill / 4);
    base->IndexFillCount = static_cast<int>(idxFill);
  }

  // 17. frame and base counts; change bits as the model core numbers them
  MV1SetupFrameCounts(base);
  uint64_t maskBytes = 0;
  if (int r = MV1SetupChangeBits(base, &base->ChunkListHead, &maskBytes); r != 0) {
    if (r == -2)
      WriteLogFmt("Read Model Convert Error : " TEXT_RM_CHANGE_MASK_LIMIT,
                  static_cast<unsigned long long>(maskBytes),
                  static_cast<unsigned long long>(MV1_CHANGE_MASK_CAP));
    else
      WriteLog("Read Model Convert Error : " TEXT_RM_BASE_ALLOC_FAILED "\n");
    return Abandon(handle);
  }
  // 18. every bone-use entry names a place of its frame's bone list that holds the bone
  for (int b = 0; b < base->SkinBoneCount; ++b) {
    const MV1SkinBoneBase* bone = &base->SkinBone[b];
    for (int u = 0; u < bone->UseCount; ++u) {
      const MV1FrameBase* f = &base->Frame[bone->Use[u].Value[0]];
      int place = bone->Use[u].Value[1];
      if (place < 0 || place >= f->UseSkinBoneCount || f->UseSkinBone[place] != bone) {
        WriteLog(TEXT_RM_BONE_USE_ERROR);
        return Abandon(handle);
      }
    }
  }
  for (int l = 0; l < base->TriangleListCount; ++l) MV1SetupTriangleListPositions(&base->TriangleList[l]);
  // 19.
  OptimizeSkinningMesh(base);
  MV1SetupFrameBaseMatrices(base);
  return handle;
}
