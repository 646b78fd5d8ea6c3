// Wild read models.
#include "tests/support/readmodel_random.h"

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/readmodel_builder.h"

namespace {

struct Draw {
  const std::function<uint32_t()>& next;
  // 0 .. n - 1 (n > 0)
  int Below(int n) { return static_cast<int>(next() % static_cast<uint32_t>(n)); }
  // mostly lo .. hi, now and then just outside
  int Around(int lo, int hi) {
    int r = Below(16);
    if (r == 0) return lo - 1;
    if (r == 1) return hi + 1;
    return lo + Below(hi - lo + 1);
  }
  float Value() {
    switch (Below(24)) {
      case 0: return 0.0f;
      case 1: return NAN;
      case 2: return INFINITY;
      case 3: return -1.0f;
      case 4: return 1e30f;
      default: return static_cast<float>(Below(2001) - 1000) / 250.0f;
    }
  }
  VECTOR Vec() { return VECTOR{Value(), Value(), Value()}; }
};

}  // namespace

void BuildWildReadModel(ReadModel* rm, const std::function<uint32_t()>& next) {
  Draw d{next};
  ReadModelBuilder b(rm);
  b.Names("wild.x", "wild");
  rm->UseFrameSmoothingAngles = d.Below(4) == 0;
  rm->ReverseWinding = d.Below(8) == 0;
  std::vector<ReadModelFrame*> frames;
  const int frameCount = 1 + d.Below(8);
  for (int i = 0; i < frameCount; ++i) {
    ReadModelFrame* parent = frames.empty() || d.Below(3) == 0 ? nullptr : frames[d.Below(static_cast<int>(frames.size()))];
    ReadModelFrame* f = b.Frame(("f" + std::to_string(i)).c_str(), parent);
    if (!f) return;
    if (d.Below(3) == 0)
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c) f->Matrix.m[r][c] = d.Below(3) ? f->Matrix.m[r][c] : d.Value();
    if (d.Below(20) == 0) f->RotateOrder = d.Around(0, 5);
    f->SmoothingAngle = d.Below(4) == 0 ? 0.0f : static_cast<float>(d.Below(320)) / 100.0f;
    frames.push_back(f);
  }
  // frames are renumbered as they are added; take the final order
  frames.clear();
  for (ReadModelFrame* f = rm->FirstFrame; f; f = f->Next) frames.push_back(f);
  std::vector<ReadModelTexture*> textures;
  for (int i = d.Below(3); i > 0; --i) {
    ReadModelTexture* t = ReadModelAddTexture(rm, "t", d.Below(2) ? "" : "missing.bmp", nullptr, 0, 0.1f, d.Below(2));
    if (t) textures.push_back(t);
  }
  std::vector<ReadModelMesh*> meshes;
  const int meshCount = d.Below(4);
  for (int i = 0; i < meshCount; ++i) {
    ReadModelFrame* f = frames[d.Below(frameCount)];
    const int positions = d.Below(14);
    std::vector<VECTOR> pos;
    for (int p = 0; p < positions; ++p) pos.push_back(d.Below(6) ? VECTOR{float(d.Below(5)), float(d.Below(5)), float(d.Below(5))} : d.Vec());
    ReadModelMesh* m = b.Mesh(f, pos);
    if (!m) return;
    meshes.push_back(m);
    const int materials = d.Below(4);
    for (int k = 0; k < materials; ++k) {
      ReadModelMaterial* mat = b.Material(m, "m");
      if (!mat) return;
      for (int t = d.Below(3); t > 0 && !textures.empty(); --t)
        ReadModelAddMapTexture(rm, &mat->DiffuseTextures, textures[d.Below(static_cast<int>(textures.size()))]);
    }
    const bool normals = d.Below(2);
    if (normals) {
      std::vector<VECTOR> n;
      for (int k = 1 + d.Below(4); k > 0; --k) n.push_back(d.Vec());
      b.Normals(m, n);
    }
    if (d.Below(3) == 0) b.Colors(m, {{d.Value(), d.Value(), 0.5f, d.Value()}, {1, 1, 1, 1}});
    if (d.Below(2)) b.UVs(m, 0, {{0, 0}, {1, 0}, {d.Value(), d.Value()}});
    if (d.Below(4) == 0) b.UVs(m, 1, {{0.5f, 0.5f}});
    std::vector<FaceSpec> faces;
    for (int k = d.Below(12); k > 0; --k) {
      FaceSpec s;
      const int n = d.Below(10) == 0 ? d.Below(35) : 3 + d.Below(3);
      for (int c = 0; c < n; ++c) {
        s.pos.push_back(d.Below(20) == 0 ? d.Around(0, positions) : (positions ? d.Below(positions) : 0));
        if (normals) s.nrm.push_back(d.Below(20) == 0 ? d.Around(0, 4) : d.Below(m->NormalCount));
        if (m->VertexColors) s.col.push_back(d.Below(2));
        if (m->UVs[0]) s.uv[0].push_back(d.Below(3));
        if (m->UVs[1]) s.uv[1].push_back(0);
      }
      s.material = d.Below(20) == 0 ? d.Around(0, materials) : (materials ? d.Below(materials) : 0);
      faces.push_back(s);
    }
    if (!b.Faces(m, faces)) return;
    for (int k = d.Below(7); k > 0; --k) {
      std::vector<std::pair<uint32_t, float>> w;
      for (int j = d.Below(6); j > 0; --j)
        w.push_back({static_cast<uint32_t>(d.Below(40) == 0 ? d.Around(0, positions) : (positions ? d.Below(positions) : 0)),
                     d.Below(5) == 0 ? d.Value() : 0.25f * d.Below(5)});
      MATRIX offset = MATRIX{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
      if (d.Below(3) == 0) offset.m[3][d.Below(3)] = d.Value();
      int bone = d.Below(30) == 0 ? d.Around(0, frameCount - 1) : d.Below(frameCount);
      if (!b.Weight(m, bone, w, &offset)) return;
    }
  }
  for (int k = d.Below(3); k > 0 && !meshes.empty(); --k) {
    ReadModelMesh* m = meshes[d.Below(static_cast<int>(meshes.size()))];
    std::vector<ReadModelShapeVertex> v;
    for (int j = d.Below(4); j > 0; --j)
      v.push_back({static_cast<uint32_t>(d.Below(30) == 0 ? d.Around(0, m->PositionCount) : (m->PositionCount ? d.Below(m->PositionCount) : 0)),
                   d.Vec(), d.Vec()});
    ReadModelFrame* owner = d.Below(3) ? m->Frame : frames[d.Below(frameCount)];
    if (!b.Shape("s", owner, m, v, d.Below(2))) return;
  }
  for (int s = d.Below(3); s > 0; --s) {
    ReadModelAnimSet* set = b.AnimSet("a", 10);
    if (!set) return;
    set->IsMatrixAnim = d.Below(4) == 0;
    for (int a = d.Below(4); a > 0; --a) {
      ReadModelAnim* anim = b.Anim(set, frames[d.Below(frameCount)], 10);
      if (!anim) return;
      if (d.Below(10) == 0) anim->TargetFrameIndex = d.Around(0, frameCount - 1);
      for (int k = d.Below(4); k > 0; --k) {
        const int types[] = {0, 1, 2, 3, 4, 5, 7};
        const int kinds[] = {0, 1, 5, 6, 10, 11, 12, 13, 15, 17, 18};
        int type = types[d.Below(7)];
        int kind = kinds[d.Below(11)];
        if (kind == 15) type = 2;
        if (kind == 17) type = 3;
        const int count = d.Below(6);
        std::vector<float> data(static_cast<size_t>(ReadModelKeySize(type) / 4) * count);
        for (float& v : data) v = d.Below(4) ? static_cast<float>(d.Below(5)) : d.Value();
        ReadModelAnimKeySet* ks;
        if (d.Below(2)) {
          std::vector<float> times;
          float t = 0;
          for (int i = 0; i < count; ++i) times.push_back(t += static_cast<float>(d.Below(3)));
          ks = b.Keys(anim, type, kind, times, data);
        } else {
          ks = b.UniformKeys(anim, type, kind, 0, 1 + d.Below(2), count, data);
        }
        if (!ks) return;
        ks->ShapeIndex = d.Around(0, 1);
      }
    }
  }
}

void BuildRandomReadModel(ReadModel* rm, uint32_t seed) {
  std::mt19937 gen(seed);
  BuildWildReadModel(rm, [&] { return static_cast<uint32_t>(gen()); });
}

void BuildReadModelFromBytes(ReadModel* rm, const uint8_t* data, size_t size) {
  size_t at = 0;
  BuildWildReadModel(rm, [&]() -> uint32_t {
    uint32_t v = 0;
    for (int i = 0; i < 2 && at < size; ++i) v |= static_cast<uint32_t>(data[at++]) << (8 * i);
    return v;
  });
}
