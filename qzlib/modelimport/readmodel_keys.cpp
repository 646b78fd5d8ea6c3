// Animation key sets of a read model: forms the animation player reads, and key reduction.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include <qzlib/modelimport/readmodel_convert.h>

namespace {

float* Floats(ReadModelAnimKeySet* k) { return static_cast<float*>(k->KeyData); }

float KeyTime(const ReadModelAnimKeySet* k, int i) {
  return k->TimeType == 0 ? k->UnitTime * static_cast<float>(i) + k->StartTime : k->KeyTimes[i];
}

void AddKeyBytes(ReadModel* rm, int dataType, int count, bool explicitTimes) {
  uint64_t total = static_cast<uint64_t>(rm->AnimKeyDataSize) +
                   (static_cast<uint64_t>(ReadModelKeySize(dataType)) + (explicitTimes ? 4 : 0)) *
                       static_cast<uint64_t>(count);
  rm->AnimKeyDataSize = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
}

// A new key set in anim with the timing of src and data of dataType (count keys), or null with
// nothing left linked.
ReadModelAnimKeySet* AddSetLike(ReadModel* rm, ReadModelAnim* anim, const ReadModelAnimKeySet* src,
                                int dataType, int kind) {
  uint64_t bytes = static_cast<uint64_t>(ReadModelKeySize(dataType)) * static_cast<uint64_t>(src->KeyCount);
  void* data = ReadModelAlloc(rm, bytes);
  if (!data) return nullptr;
  ReadModelAnimKeySet* k = ReadModelAddAnimKeySet(rm, anim);
  if (!k) return nullptr;
  k->DataType = static_cast<uint8_t>(dataType);
  k->Kind = static_cast<uint8_t>(kind);
  k->TimeType = src->TimeType;
  k->TotalTime = src->TotalTime;
  k->KeyCount = src->KeyCount;
  k->UnitTime = src->UnitTime;
  k->StartTime = src->StartTime;
  k->KeyTimes = src->KeyTimes;
  k->KeyData = data;
  AddKeyBytes(rm, dataType, k->KeyCount, k->TimeType != 0);
  return k;
}

// Step 1: a 4x3 matrix set becomes a translate set and a new 3x3 rotation set.
void SplitMatrixKeys(ReadModel* rm, ReadModelAnim* anim, ReadModelAnimKeySet* k) {
  ReadModelAnimKeySet* rot = AddSetLike(rm, anim, k, READMODEL_KEY_MATRIX3X3, READMODEL_KIND_MATRIX3X3);
  if (!rot) return;
  const float* src = Floats(k);
  float* r = Floats(rot);
  for (int i = 0; i < k->KeyCount; ++i) std::memcpy(r + i * 9, src + i * 12, sizeof(float) * 9);
  // the translation rows are packed in place, front to back
  float* t = Floats(k);
  for (int i = 0; i < k->KeyCount; ++i) std::memmove(t + i * 3, src + i * 12 + 9, sizeof(float) * 3);
  k->DataType = READMODEL_KEY_VECTOR;
  k->Kind = READMODEL_KIND_TRANSLATE;
}

// The quaternion of a 3x3 rotation (row-major, rows of a row-vector matrix).
void MatrixToQuaternion(const float* m, float* q) {
  float t = m[0] + m[4] + m[8] + 1.0f;
  if (t >= 1.0f) {
    float s = 0.5f / std::sqrt(t);
    q[3] = 0.25f / s;
    q[0] = (m[5] - m[7]) * s;
    q[1] = (m[6] - m[2]) * s;
    q[2] = (m[1] - m[3]) * s;
  } else if (m[0] > m[4] && m[0] > m[8]) {
    float r = std::sqrt(m[0] - m[4] - m[8] + 1.0f);
    q[0] = r / 2.0f;
    float s = 0.5f / r;
    q[1] = (m[1] + m[3]) * s;
    q[2] = (m[2] + m[6]) * s;
    q[3] = (m[5] - m[7]) * s;
  } else if (m[4] >= m[8]) {
    float r = std::sqrt(m[4] - m[8] - m[0] + 1.0f);
    q[1] = r / 2.0f;
    float s = 0.5f / r;
    q[0] = (m[1] + m[3]) * s;
    q[2] = (m[5] + m[7]) * s;
    q[3] = (m[6] - m[2]) * s;
  } else {
    float r = std::sqrt(m[8] - m[4] - m[0] + 1.0f);
    q[2] = r / 2.0f;
    float s = 0.5f / r;
    q[0] = (m[2] + m[6]) * s;
    q[1] = (m[5] + m[7]) * s;
    q[3] = (m[1] - m[3]) * s;
  }
}

// Step 2: the first 3x3 set of an animation becomes quaternions, with a scale set when needed.
void RotationKeysToQuaternions(ReadModel* rm, ReadModelAnim* anim, ReadModelAnimKeySet* k) {
  int n = k->KeyCount;
  float* quat = static_cast<float*>(ReadModelAlloc(rm, 16ull * static_cast<uint64_t>(n)));
  float* scale = static_cast<float*>(ReadModelAlloc(rm, 12ull * static_cast<uint64_t>(n)));
  if (!quat || !scale) return;
  bool scaled = false;
  const float* src = Floats(k);
  for (int i = 0; i < n; ++i) {
    float m[9];
    std::memcpy(m, src + i * 9, sizeof(m));
    bool degenerate = false;
    for (int row = 0; row < 3; ++row) {
      float* r = m + row * 3;
      float len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
      scale[i * 3 + row] = len;
      if (len == 0.0f) {
        degenerate = true;  // a zero row is never divided: scale 0 on that axis
        continue;
      }
      r[0] /= len;
      r[1] /= len;
      r[2] /= len;
    }
    float* q = quat + i * 4;
    MatrixToQuaternion(m, q);
    float qq = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
    if (degenerate || !std::isfinite(qq)) {
      float len = std::sqrt(qq);
      if (std::isfinite(len) && len > 0.0f) {
        for (int c = 0; c < 4; ++c) q[c] /= len;
      } else {
        q[0] = q[1] = q[2] = 0.0f;
        q[3] = 1.0f;
      }
    }
    for (int c = 0; c < 3; ++c) {
      float s = scale[i * 3 + c];
      if (!(s >= 0.999f && s <= 1.0001f)) scaled = true;
    }
  }
  k->KeyData = quat;
  k->DataType = READMODEL_KEY_QUATERNION7;
  k->Kind = READMODEL_KIND_ROTATE;
  anim->IntSetting = 0;
  AddKeyBytes(rm, READMODEL_KEY_QUATERNION7, n, false);
  if (scaled) {
    ReadModelAnimKeySet* s = AddSetLike(rm, anim, k, READMODEL_KEY_VECTOR, READMODEL_KIND_SCALE);
    if (s) std::memcpy(s->KeyData, scale, 12ull * static_cast<uint64_t>(n));
  }
}

int AxisKind(int kind, int axis) {
  switch (kind) {
    case READMODEL_KIND_ROTATE: return READMODEL_KIND_ROTATE_X + axis;
    case READMODEL_KIND_SCALE: return READMODEL_KIND_SCALE_X + axis;
    case READMODEL_KIND_TRANSLATE: return READMODEL_KIND_TRANSLATE_X + axis;
    default: return -1;
  }
}

// Step 4: a vector set with a constant component becomes three float sets.
void SplitVectorKeys(ReadModel* rm, ReadModelAnim* anim, ReadModelAnimKeySet* k) {
  if (AxisKind(k->Kind, 0) < 0 || k->KeyCount <= 1) return;
  const float* v = Floats(k);
  bool constant = false;
  for (int c = 0; c < 3 && !constant; ++c) {
    bool same = true;
    for (int i = 1; i < k->KeyCount && same; ++i) same = std::fabs(v[i * 3 + c] - v[c]) <= 1e-6f;
    constant = same;
  }
  if (!constant) return;
  float* x = static_cast<float*>(ReadModelAlloc(rm, 4ull * static_cast<uint64_t>(k->KeyCount)));
  if (!x) return;
  ReadModelAnimKeySet* y = AddSetLike(rm, anim, k, READMODEL_KEY_FLOAT5, AxisKind(k->Kind, 1));
  if (!y) return;
  ReadModelAnimKeySet* z = AddSetLike(rm, anim, k, READMODEL_KEY_FLOAT5, AxisKind(k->Kind, 2));
  if (!z) {
    ReadModelSubAnimKeySet(rm, anim, y);
    return;
  }
  for (int i = 0; i < k->KeyCount; ++i) {
    x[i] = v[i * 3];
    Floats(y)[i] = v[i * 3 + 1];
    Floats(z)[i] = v[i * 3 + 2];
  }
  k->KeyData = x;
  k->DataType = READMODEL_KEY_FLOAT5;
  k->Kind = static_cast<uint8_t>(AxisKind(k->Kind, 0));
  for (ReadModelAnimKeySet* s : {k, y, z}) OptimizeAnimKeySet(rm, s, 0);
}

bool SameTiming(const ReadModelAnimKeySet* a, const ReadModelAnimKeySet* b) {
  if (a->KeyCount != b->KeyCount || a->TimeType != b->TimeType) return false;
  if (a->TimeType == 0)
    return a->UnitTime == b->UnitTime && std::fabs(a->StartTime - b->StartTime) <= 1e-7f;
  return a->KeyCount == 0 || std::memcmp(a->KeyTimes, b->KeyTimes, sizeof(float) * a->KeyCount) == 0;
}

// Step 6: three per-axis float sets of one kind with the same timing become one vector set.
void JoinAxes(ReadModel* rm, ReadModelAnim* anim, int vectorKind) {
  ReadModelAnimKeySet* axis[3] = {};
  for (ReadModelAnimKeySet* k = anim->FirstKeySet; k; k = k->NextInAnim)
    for (int c = 0; c < 3; ++c)
      if (!axis[c] && k->DataType == READMODEL_KEY_FLOAT5 && k->Kind == AxisKind(vectorKind, c)) axis[c] = k;
  if (!axis[0] || !axis[1] || !axis[2]) return;
  if (!SameTiming(axis[0], axis[1]) || !SameTiming(axis[0], axis[2])) return;
  int n = axis[0]->KeyCount;
  float* v = static_cast<float*>(ReadModelAlloc(rm, 12ull * static_cast<uint64_t>(n)));
  if (!v && n > 0) return;
  for (int i = 0; i < n; ++i)
    for (int c = 0; c < 3; ++c) v[i * 3 + c] = Floats(axis[c])[i];
  axis[0]->KeyData = v;
  axis[0]->DataType = READMODEL_KEY_VECTOR;
  axis[0]->Kind = static_cast<uint8_t>(vectorKind);
  AddKeyBytes(rm, READMODEL_KEY_VECTOR, n, false);
  ReadModelSubAnimKeySet(rm, anim, axis[1]);
  ReadModelSubAnimKeySet(rm, anim, axis[2]);
}

template <class F>
void ForEachKeySet(ReadModel* rm, F f) {
  for (ReadModelAnim* a = rm->FirstAnim; a; a = a->Next)
    for (ReadModelAnimKeySet* k = a->FirstKeySet; k; k = k->NextInAnim) f(a, k);
}

}  // namespace

void ReadModelSubAnimKeySet(ReadModel* rm, ReadModelAnim* anim, ReadModelAnimKeySet* k) {
  if (k->PrevInAnim) k->PrevInAnim->NextInAnim = k->NextInAnim; else anim->FirstKeySet = k->NextInAnim;
  if (k->NextInAnim) k->NextInAnim->PrevInAnim = k->PrevInAnim; else anim->LastKeySet = k->PrevInAnim;
  --anim->KeySetCount;
  if (k->Prev) k->Prev->Next = k->Next; else rm->FirstKeySet = k->Next;
  if (k->Next) k->Next->Prev = k->Prev; else rm->LastKeySet = k->Prev;
  --rm->KeySetCount;
  k->Prev = k->Next = k->PrevInAnim = k->NextInAnim = nullptr;
}

void OptimizeAnimKeySet(ReadModel* rm, ReadModelAnimKeySet* k, int keepUnlessSingle) {
  switch (k->DataType) {
    case READMODEL_KEY_QUATERNION:
    case READMODEL_KEY_QUATERNION7:
    case READMODEL_KEY_VECTOR:
    case READMODEL_KEY_MATRIX3X3:
    case READMODEL_KEY_FLOAT5: break;
    default: return;
  }
  int n = k->KeyCount;
  if (n <= 0) return;
  const int keySize = ReadModelKeySize(k->DataType);
  const int comps = keySize / 4;
  // 1. even spacing
  bool even = true;
  if (k->TimeType != 0) {
    even = n > 2;
    float first = k->KeyTimes[1 % n] - k->KeyTimes[0];
    for (int i = 1; i < n && even; ++i)
      even = std::fabs((k->KeyTimes[i] - k->KeyTimes[i - 1]) - first) <= 1e-6f;
  }
  // 2. room for the remaining keys
  float* keys = static_cast<float*>(ReadModelAlloc(rm, static_cast<uint64_t>(keySize) * n));
  if (!keys) return;
  float* times = static_cast<float*>(ReadModelAlloc(rm, 4ull * static_cast<uint64_t>(n)));
  if (!times) return;
  // 3. walk
  const float* src = Floats(k);
  int kept = 0;
  auto keep = [&](int i) {
    std::memcpy(keys + static_cast<size_t>(kept) * comps, src + static_cast<size_t>(i) * comps, keySize);
    times[kept++] = KeyTime(k, i);
  };
  keep(0);
  for (int i = 1; i < n; ++i) {
    const float* cur = src + static_cast<size_t>(i) * comps;
    const float* last = keys + static_cast<size_t>(kept - 1) * comps;
    if (i == n - 1) {
      // the last key stays unless it repeats the single key kept so far (compared as values)
      bool equal = kept == 1;
      for (int c = 0; c < comps && equal; ++c) equal = cur[c] == last[c];
      if (!equal) keep(i);
      break;
    }
    const float* next = cur + comps;
    float t0 = times[kept - 1], t1 = KeyTime(k, i + 1), t = KeyTime(k, i);
    bool drop = true;
    for (int c = 0; c < comps && drop; ++c) {
      float predicted = last[c] + (next[c] - last[c]) * ((t - t0) / (t1 - t0));
      drop = std::fabs(cur[c] - predicted) <= 1e-5f;
    }
    if (!drop) keep(i);
  }
  // 4. worthwhile?
  bool worthwhile = kept == 1 || (kept < n && (!even || static_cast<int64_t>(keySize + 4) * kept <
                                                           static_cast<int64_t>(keySize) * n));
  if ((worthwhile && !keepUnlessSingle) || kept == 1) {
    k->KeyData = keys;
    k->KeyCount = kept;
    if (kept == 1) {
      k->TimeType = 0;
      k->StartTime = 0.0f;
      k->UnitTime = k->TotalTime;
      k->KeyTimes = nullptr;
    } else {
      k->TimeType = 1;
      k->KeyTimes = times;
    }
  } else if (even && k->TimeType != 0) {
    k->TimeType = 0;
    k->StartTime = k->KeyTimes[0];
    k->UnitTime = k->KeyTimes[1] - k->KeyTimes[0];
    k->KeyTimes = nullptr;
  }
}

void PrepareReadModelAnimKeys(ReadModel* rm) {
  // 1. matrix keys
  ForEachKeySet(rm, [&](ReadModelAnim* a, ReadModelAnimKeySet* k) {
    if (k->Kind == READMODEL_KIND_MATRIX4X3 && k->DataType == READMODEL_KEY_MATRIX4X3) SplitMatrixKeys(rm, a, k);
  });
  // 2. the first rotation-matrix set of each animation
  for (ReadModelAnim* a = rm->FirstAnim; a; a = a->Next)
    for (ReadModelAnimKeySet* k = a->FirstKeySet; k; k = k->NextInAnim)
      if (k->Kind == READMODEL_KIND_MATRIX3X3 && k->DataType == READMODEL_KEY_MATRIX3X3) {
        RotationKeysToQuaternions(rm, a, k);
        break;
      }
  // 3.
  ForEachKeySet(rm, [&](ReadModelAnim*, ReadModelAnimKeySet* k) { OptimizeAnimKeySet(rm, k, 1); });
  // 4. per-axis split
  ForEachKeySet(rm, [&](ReadModelAnim* a, ReadModelAnimKeySet* k) {
    if (!a->Set->IsMatrixAnim && k->DataType == READMODEL_KEY_VECTOR) SplitVectorKeys(rm, a, k);
  });
  // 5.
  ForEachKeySet(rm, [&](ReadModelAnim*, ReadModelAnimKeySet* k) { OptimizeAnimKeySet(rm, k, 1); });
  // 6. rejoin translate, scale, rotate
  for (ReadModelAnim* a = rm->FirstAnim; a; a = a->Next)
    for (int kind : {READMODEL_KIND_TRANSLATE, READMODEL_KIND_SCALE, READMODEL_KIND_ROTATE}) JoinAxes(rm, a, kind);
  // 7.
  ForEachKeySet(rm, [&](ReadModelAnim*, ReadModelAnimKeySet* k) { OptimizeAnimKeySet(rm, k, 0); });
}
