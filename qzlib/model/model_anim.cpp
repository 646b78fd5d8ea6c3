// Animation runtime: anim states, key search, evaluation and the blend of several attachments.
#include <qzlib/model/model_anim.h>

#include <cmath>
#include <cstring>

#include <qzlib/base/mathutil.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/strutil.h>
#include <qzlib/math/math_inline.h>
#include <qzlib/model/model_draw_state.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_matrix.h>

namespace {

int Count(int n) { return n > 0 ? n : 0; }

bool Usable(const MV1AnimKeySet* ks) {
  if (ks->KeyCount <= 0 || !ks->KeyData) return false;
  return ks->TimeType != MV1_ANIMKEY_TIME_TYPE_KEY || ks->KeyTime != nullptr;
}

// The quotient q as a key index: not a number gives 0, then clamped to 0..n-1 before truncation.
int QuotientToKey(float q, int n) {
  if (!(q > 0.0f)) return 0;
  if (q >= static_cast<float>(n - 1)) return n - 1;
  int k = static_cast<int>(q);
  return k < n - 1 ? k : n - 1;
}

float KeyTime(const MV1AnimKeySet* ks, int k) {
  if (ks->TimeType == MV1_ANIMKEY_TIME_TYPE_KEY) return ks->KeyTime[k];
  return static_cast<float>(k) * ks->UnitTime + ks->StartTime;
}

const float* KeyFloats(const MV1AnimKeySet* ks, int k, int width) {
  return static_cast<const float*>(ks->KeyData) + static_cast<size_t>(k) * width;
}

bool WideStep(float a, float b) {
  float d = b - a;
  return d < -MV1_ANIM_MAX_ROTATE_STEP || d > MV1_ANIM_MAX_ROTATE_STEP;
}

float Lerp(float a, float b, float r) { return a + (b - a) * r; }

MV1Float4 Slerp(const float* a, const float* b, float r) {
  float d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  if (1.0f - d * d <= 0.0f || d > 1.0f) return MV1Float4{a[0], a[1], a[2], a[3]};
  float sign = 1.0f, theta;
  if (d >= 0.0f || std::acos(d) <= MV1_ANIM_MAX_ROTATE_STEP) {
    theta = std::acos(d);
  } else {
    theta = std::acos(-d);
    sign = -1.0f;
  }
  float s = std::sin(theta);
  float ka = std::sin((1.0f - r) * theta) / s;
  float kb = sign * (std::sin(r * theta) / s);
  return MV1Float4{ka * a[0] + kb * b[0], ka * a[1] + kb * b[1], ka * a[2] + kb * b[2],
                   ka * a[3] + kb * b[3]};
}

// Start values of a frame state: the target's base frame, or the rest pose.
void StartValues(const MV1AnimFrameState* fs, VECTOR* t, VECTOR* s, VECTOR* r, MV1Float4* q) {
  if (fs->Target) {
    const MV1FrameBase* b = fs->Target->Base;
    *t = b->Translate;
    *s = b->Scale;
    *r = b->Rotate;
    *q = b->Quaternion;
  } else {
    *t = VECTOR{0, 0, 0};
    *s = VECTOR{1, 1, 1};
    *r = VECTOR{0, 0, 0};
    *q = MV1Float4{0, 0, 0, 1};
  }
}

float* VectorLane(VECTOR* v, int lane) { return lane == 0 ? &v->x : lane == 1 ? &v->y : &v->z; }

void StoreShapeWeight(MV1AnimFrameState* fs, MV1AnimKeyCursor* c, float v) {
  c->Value = v;
  if (fs->Target && c->TargetShape >= 0 && c->TargetShape < fs->Target->Base->ShapeCount)
    fs->Target->Shape[c->TargetShape].Rate = v;
}

// The float-key components that are not rotations: scale and translate lanes. Returns false for
// other components.
VECTOR* ScaleOrTranslateLane(int component, VECTOR* scale, VECTOR* translate, int* lane) {
  if (component >= MV1_ANIMKEY_DATATYPE_SCALE_X && component <= MV1_ANIMKEY_DATATYPE_SCALE_Z) {
    *lane = component - MV1_ANIMKEY_DATATYPE_SCALE_X;
    return scale;
  }
  if (component >= MV1_ANIMKEY_DATATYPE_TRANSLATE_X &&
      component <= MV1_ANIMKEY_DATATYPE_TRANSLATE_Z) {
    *lane = component - MV1_ANIMKEY_DATATYPE_TRANSLATE_X;
    return translate;
  }
  return nullptr;
}

// Component path of one frame state. Returns false when a rotation step wider than a quarter turn
// asks for the matrix path.
bool EvaluateComponents(MV1AnimFrameState* fs, float time, bool additive) {
  VECTOR t, s, r;
  MV1Float4 q;
  StartValues(fs, &t, &s, &r, &q);
  int quaternionType = -1;
  for (int i = 0; i < fs->CursorCount; ++i) {
    MV1AnimKeyCursor* c = &fs->Cursor[i];
    const MV1AnimKeySet* ks = c->KeySet;
    if (!Usable(ks)) continue;
    int next;
    float rate = MV1AnimKeyRate(c, time, &next);
    int k = c->KeyIndex;
    switch (ks->Type) {
      case MV1_ANIMKEY_TYPE_QUATERNION_X:
      case MV1_ANIMKEY_TYPE_QUATERNION_V:
        q = Slerp(KeyFloats(ks, k, 4), KeyFloats(ks, next, 4), rate);
        quaternionType = ks->Type;
        break;
      case MV1_ANIMKEY_TYPE_VECTOR: {
        const float* a = KeyFloats(ks, k, 3);
        const float* b = KeyFloats(ks, next, 3);
        if (ks->DataType == MV1_ANIMKEY_DATATYPE_ROTATE &&
            (WideStep(a[0], b[0]) || WideStep(a[1], b[1]) || WideStep(a[2], b[2])))
          return false;
        VECTOR v{Lerp(a[0], b[0], rate), Lerp(a[1], b[1], rate), Lerp(a[2], b[2], rate)};
        VECTOR* out = ks->DataType == MV1_ANIMKEY_DATATYPE_ROTATE      ? &r
                      : ks->DataType == MV1_ANIMKEY_DATATYPE_SCALE     ? &s
                      : ks->DataType == MV1_ANIMKEY_DATATYPE_TRANSLATE ? &t
                                                                       : nullptr;
        if (!out) break;
        if (additive) v = VECTOR{out->x + v.x, out->y + v.y, out->z + v.z};
        *out = v;
        break;
      }
      case MV1_ANIMKEY_TYPE_LINEAR: {
        float a = *KeyFloats(ks, k, 1), b = *KeyFloats(ks, next, 1);
        int component = ks->DataType;
        bool rotation = component >= MV1_ANIMKEY_DATATYPE_ROTATE_X &&
                        component <= MV1_ANIMKEY_DATATYPE_ROTATE_Z;
        if (rotation && WideStep(a, b)) return false;
        float v = Lerp(a, b, rate);
        if (component == MV1_ANIMKEY_DATATYPE_SHAPE) {
          StoreShapeWeight(fs, c, v);
          break;
        }
        int lane = 0;
        VECTOR* vec = rotation ? &r : ScaleOrTranslateLane(component, &s, &t, &lane);
        if (rotation) lane = component - MV1_ANIMKEY_DATATYPE_ROTATE_X;
        if (!vec) break;
        float* slot = VectorLane(vec, lane);
        *slot = additive ? *slot + v : v;
        break;
      }
      default:
        break;
    }
  }
  fs->Translate = t;
  fs->Scale = s;
  fs->Rotate = r;
  fs->Quaternion = q;
  int flags = 0;
  if (t.x != 0.0f || t.y != 0.0f || t.z != 0.0f) flags |= MV1_FRAME_MATRIX_TRANSLATE;
  if (s.x != 1.0f || s.y != 1.0f || s.z != 1.0f) flags |= MV1_FRAME_MATRIX_SCALE;
  if (r.x != 0.0f || r.y != 0.0f || r.z != 0.0f) flags |= MV1_FRAME_MATRIX_ROTATE;
  if (q.x != 0.0f || q.y != 0.0f || q.z != 0.0f || q.w != 1.0f) {
    flags &= ~MV1_FRAME_MATRIX_ROTATE;
    if (quaternionType == MV1_ANIMKEY_TYPE_QUATERNION_X) flags |= MV1_FRAME_MATRIX_QUATERNION_X;
    else if (quaternionType == MV1_ANIMKEY_TYPE_QUATERNION_V)
      flags |= MV1_FRAME_MATRIX_QUATERNION_V;
  }
  fs->Flags = flags;
  return true;
}

void QuaternionMatrix(Matrix3x4* out, int type, const float* q) {
  MV1Float4 v{q[0], q[1], q[2], q[3]};
  int flag = type == MV1_ANIMKEY_TYPE_QUATERNION_X ? MV1_FRAME_MATRIX_QUATERNION_X
                                                   : MV1_FRAME_MATRIX_QUATERNION_V;
  MV1CalcFrameLocalMatrix(out, flag, nullptr, nullptr, nullptr, &v, 0);
}

void LerpBlock(Matrix3x4* out, const Matrix3x4& a, const Matrix3x4& b, float rate) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) out->m[i][j] = a.m[i][j] + (b.m[i][j] - a.m[i][j]) * rate;
}

// Matrix path of one frame state: flags 16 and the key matrix.
void EvaluateMatrix(MV1AnimFrameState* fs, float time) {
  VECTOR t, s, r;
  MV1Float4 q;
  StartValues(fs, &t, &s, &r, &q);
  const MV1AnimKeyCursor* rotateVector = nullptr;
  const MV1AnimKeyCursor* quaternion = nullptr;
  const MV1AnimKeyCursor* axis[3] = {nullptr, nullptr, nullptr};
  for (int i = 0; i < fs->CursorCount; ++i) {
    MV1AnimKeyCursor* c = &fs->Cursor[i];
    const MV1AnimKeySet* ks = c->KeySet;
    if (!Usable(ks)) continue;
    int next;
    float rate = MV1AnimKeyRate(c, time, &next);
    int k = c->KeyIndex;
    if (ks->Type == MV1_ANIMKEY_TYPE_QUATERNION_X || ks->Type == MV1_ANIMKEY_TYPE_QUATERNION_V) {
      quaternion = c;
    } else if (ks->Type == MV1_ANIMKEY_TYPE_VECTOR) {
      if (ks->DataType == MV1_ANIMKEY_DATATYPE_ROTATE) {
        rotateVector = c;
        continue;
      }
      const float* a = KeyFloats(ks, k, 3);
      const float* b = KeyFloats(ks, next, 3);
      VECTOR v{Lerp(a[0], b[0], rate), Lerp(a[1], b[1], rate), Lerp(a[2], b[2], rate)};
      if (ks->DataType == MV1_ANIMKEY_DATATYPE_SCALE) s = v;
      else if (ks->DataType == MV1_ANIMKEY_DATATYPE_TRANSLATE) t = v;
    } else if (ks->Type == MV1_ANIMKEY_TYPE_LINEAR) {
      int component = ks->DataType;
      if (component >= MV1_ANIMKEY_DATATYPE_ROTATE_X &&
          component <= MV1_ANIMKEY_DATATYPE_ROTATE_Z) {
        axis[component - MV1_ANIMKEY_DATATYPE_ROTATE_X] = c;
        continue;
      }
      float v = Lerp(*KeyFloats(ks, k, 1), *KeyFloats(ks, next, 1), rate);
      if (component == MV1_ANIMKEY_DATATYPE_SHAPE) {
        StoreShapeWeight(fs, c, v);
        continue;
      }
      int lane = 0;
      VECTOR* vec = ScaleOrTranslateLane(component, &s, &t, &lane);
      if (vec) *VectorLane(vec, lane) = v;
    }
  }

  Matrix3x4& m = fs->KeyMatrix;
  int next;
  float rate;
  if (rotateVector) {
    const MV1AnimKeySet* ks = rotateVector->KeySet;
    rate = MV1AnimKeyRate(rotateVector, time, &next);
    const float* a = KeyFloats(ks, rotateVector->KeyIndex, 3);
    const float* b = KeyFloats(ks, next, 3);
    Matrix3x4 ra, rb;
    MV1RotationMatrixXYZ(&ra, a[0], a[1], a[2]);
    MV1RotationMatrixXYZ(&rb, b[0], b[1], b[2]);
    LerpBlock(&m, ra, rb, rate);
  } else if (quaternion && (rate = MV1AnimKeyRate(quaternion, time, &next)) > 0.0f) {
    const MV1AnimKeySet* ks = quaternion->KeySet;
    Matrix3x4 qa, qb;
    QuaternionMatrix(&qa, ks->Type, KeyFloats(ks, quaternion->KeyIndex, 4));
    QuaternionMatrix(&qb, ks->Type, KeyFloats(ks, next, 4));
    LerpBlock(&m, qa, qb, rate);
  } else if (!axis[0] && !axis[1] && !axis[2]) {
    if (r.x == 0.0f && r.y == 0.0f && r.z == 0.0f) {
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m.m[i][j] = i == j ? 1.0f : 0.0f;
    } else {
      MV1RotationMatrixXYZ(&m, r.x, r.y, r.z);
    }
  } else {
    float sn[3], cs[3];
    const float start[3] = {r.x, r.y, r.z};
    for (int a = 0; a < 3; ++a) {
      if (!axis[a]) {
        MV1SinCos(start[a], &sn[a], &cs[a]);
        continue;
      }
      const MV1AnimKeySet* ks = axis[a]->KeySet;
      float ar = MV1AnimKeyRate(axis[a], time, &next);
      float s0, c0, s1, c1;
      MV1SinCos(*KeyFloats(ks, axis[a]->KeyIndex, 1), &s0, &c0);
      MV1SinCos(*KeyFloats(ks, next, 1), &s1, &c1);
      sn[a] = Lerp(s0, s1, ar);
      cs[a] = Lerp(c0, c1, ar);
    }
    float b[3][3];
    mathinl::EulerBlock(0, sn[0], cs[0], sn[1], cs[1], sn[2], cs[2], b);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m.m[i][j] = b[j][i];
  }
  m.m[0][3] = t.x;
  m.m[1][3] = t.y;
  m.m[2][3] = t.z;
  if (s.x != 1.0f || s.y != 1.0f || s.z != 1.0f) {
    const float sc[3] = {s.x, s.y, s.z};
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m.m[i][j] *= sc[j];
  }
  fs->Translate = t;
  fs->Scale = s;
  fs->Rotate = r;
  fs->Quaternion = q;
  fs->Flags = MV1_FRAME_MATRIX_KEY_MATRIX;
}

// The state's local matrix of an active entry: its key matrix or its components' matrix.
void StateLocalMatrix(const MV1AnimFrameState* fs, Matrix3x4* out) {
  if (fs->Flags & MV1_FRAME_MATRIX_KEY_MATRIX) {
    *out = fs->KeyMatrix;
    return;
  }
  MV1CalcFrameLocalMatrix(out, fs->Flags, &fs->Translate, &fs->Scale, &fs->Rotate,
                          &fs->Quaternion, fs->RotateOrder);
}

bool Active(const MV1FrameBlendEntry& e) { return e.Linked && e.State && e.BlendRate != 0.0f; }

MV1AttachSlot* SlotInUse(MV1Model* model, int attachIndex) {
  if (!model || attachIndex < 0 || attachIndex >= model->AttachSlotCapacity) return nullptr;
  MV1AttachSlot* slot = &model->AttachSlot[attachIndex];
  return slot->InUse ? slot : nullptr;
}

MV1AttachSlot* CheckedSlot(int modelHandle, int attachIndex, MV1Model** modelOut = nullptr) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (modelOut) *modelOut = model;
  return SlotInUse(model, attachIndex);
}

// A matched (target frame, source frame) pair of the attach walk.
struct FramePair {
  MV1FrameBase* Target;
  MV1FrameBase* Source;
};

MV1FrameBase* FindByName(MV1FrameBase* first, const char* name) {
  for (MV1FrameBase* f = first; f; f = f->Next)
    if (f->Name && name && StrCompare(f->Name, name) == 0) return f;
  return nullptr;
}

// Matches target frames with source frames (by position, or by name along the same path) and
// hands every pair to `use`. The work list holds each target frame at most once, so it is sized
// by the target's frame count; it is allocated (failure: false) and freed here.
template <class F>
bool MatchFrames(MV1ModelBase* target, MV1ModelBase* source, bool byName, F use) {
  if (target->FrameCount <= 0 || source->FrameCount <= 0) return true;
  auto* list = static_cast<FramePair*>(MEM_ALLOC(sizeof(FramePair) * target->FrameCount));
  if (!list) return false;
  int top = 0;
  auto pushLevel = [&](MV1FrameBase* firstTarget, MV1FrameBase* firstSource) {
    MV1FrameBase* s = firstSource;
    for (MV1FrameBase* t = firstTarget; t && top < target->FrameCount; t = t->Next) {
      MV1FrameBase* match = byName ? FindByName(firstSource, t->Name) : s;
      if (!byName && !s) break;
      if (match) list[top++] = FramePair{t, match};
      if (!byName) s = s->Next;
    }
  };
  pushLevel(target->FirstTopFrame, source->FirstTopFrame);
  while (top > 0) {
    FramePair p = list[--top];
    use(p.Target, p.Source);
    pushLevel(p.Target->FirstChild, p.Source->FirstChild);
  }
  MEM_FREE(list);
  return true;
}

// Grows the slot block by four slots, moving each frame row to its place for the new capacity.
bool GrowSlots(MV1Model* model) {
  int frames = model->BaseData->FrameCount;
  int oldCap = model->AttachSlotCapacity, newCap = oldCap + 4;
  size_t bytes = sizeof(MV1AttachSlot) * newCap +
                 sizeof(MV1FrameBlendEntry) * static_cast<size_t>(newCap) * Count(frames);
  auto* block = static_cast<uint8_t*>(MEM_REALLOC(model->AttachSlot, bytes));
  if (!block) return false;
  auto* slots = reinterpret_cast<MV1AttachSlot*>(block);
  auto* oldRows = reinterpret_cast<MV1FrameBlendEntry*>(block + sizeof(MV1AttachSlot) * oldCap);
  auto* newRows = reinterpret_cast<MV1FrameBlendEntry*>(block + sizeof(MV1AttachSlot) * newCap);
  for (int f = frames - 1; f >= 0; --f) {
    std::memmove(newRows + static_cast<size_t>(f) * newCap,
                 oldRows + static_cast<size_t>(f) * oldCap, sizeof(MV1FrameBlendEntry) * oldCap);
    std::memset(newRows + static_cast<size_t>(f) * newCap + oldCap, 0,
                sizeof(MV1FrameBlendEntry) * 4);
  }
  std::memset(slots + oldCap, 0, sizeof(MV1AttachSlot) * 4);
  model->AttachSlot = slots;
  model->BlendRows = newRows;
  model->AttachSlotCapacity = newCap;
  return true;
}

void InvalidateAnims(MV1Model* model) {
  model->AnimSetupFlag = 0;
  model->ValidMatrix = 0;
}

}  // namespace

MV1AnimBase* MV1GetAnimBase(int baseHandle, int index, const char* name) {
  MV1ModelBase* base = MV1GetModelBaseChecked(baseHandle);
  if (!base) return nullptr;
  if (index >= 0) return index < base->AnimCount ? &base->Anim[index] : nullptr;
  if (!name) return nullptr;
  for (int i = 0; i < base->AnimCount; ++i)
    if (base->Anim[i].Name && StrCompare(base->Anim[i].Name, name) == 0) return &base->Anim[i];
  return nullptr;
}

MV1AnimState* MV1CreateAnimState(MV1AnimBase* anim) {
  int frames = anim->AnimFrame ? Count(anim->AnimFrameCount) : 0;
  size_t cursors = 0;
  for (int i = 0; i < frames; ++i)
    if (anim->AnimFrame[i].KeySet) cursors += Count(anim->AnimFrame[i].KeySetCount);
  size_t bytes = sizeof(MV1AnimState) + sizeof(MV1AnimFrameState) * frames +
                 sizeof(MV1AnimKeyCursor) * cursors;
  auto* block = static_cast<uint8_t*>(MEM_CALLOC(bytes));
  if (!block) return nullptr;
  auto* state = reinterpret_cast<MV1AnimState*>(block);
  state->Anim = anim;
  state->FrameStateCount = frames;
  state->FrameState = reinterpret_cast<MV1AnimFrameState*>(block + sizeof(MV1AnimState));
  auto* cursor = reinterpret_cast<MV1AnimKeyCursor*>(state->FrameState + frames);
  for (int i = 0; i < frames; ++i) {
    MV1AnimFrameState* fs = &state->FrameState[i];
    MV1AnimFrameBase* af = &anim->AnimFrame[i];
    fs->Base = af;
    fs->Quaternion = MV1Float4{0, 0, 0, 1};
    fs->Scale = VECTOR{1, 1, 1};
    fs->CursorCount = af->KeySet ? Count(af->KeySetCount) : 0;
    fs->Cursor = cursor;
    for (int k = 0; k < fs->CursorCount; ++k) {
      cursor[k].KeySet = &af->KeySet[k];
      cursor[k].TargetShape = -1;
    }
    cursor += fs->CursorCount;
  }
  return state;
}

void MV1AnimSetTimeCore(MV1AnimState* state, float time) {
  float total = state->Anim->MaxTime;
  // Below 0 first, so that a negative total time gives the total, as attaching expects.
  if (time < 0.0f) time = 0.0f;
  if (time > total) time = total;
  state->Time = time;
  MV1AnimUpdateKeyIndex(state);
}

void MV1AnimUpdateKeyIndex(MV1AnimState* state) {
  float t = state->Time;
  float total = state->Anim->MaxTime;
  for (int f = 0; f < state->FrameStateCount; ++f) {
    MV1AnimFrameState* fs = &state->FrameState[f];
    for (int i = 0; i < fs->CursorCount; ++i) {
      MV1AnimKeyCursor* c = &fs->Cursor[i];
      const MV1AnimKeySet* ks = c->KeySet;
      if (!Usable(ks)) continue;
      int n = ks->KeyCount;
      if (ks->TimeType != MV1_ANIMKEY_TIME_TYPE_KEY) {
        c->KeyIndex = QuotientToKey((t - ks->StartTime) / ks->UnitTime, n);
        continue;
      }
      int k = QuotientToKey(static_cast<float>(n) * t / total, n);
      const float* times = ks->KeyTime;
      if (times[k] <= t) {
        while (k < n - 1 && times[k + 1] <= t) ++k;
      } else {
        while (k > 0 && !(times[k] <= t)) --k;
      }
      c->KeyIndex = k;
    }
  }
}

float MV1AnimKeyRate(const MV1AnimKeyCursor* cursor, float time, int* nextKey) {
  const MV1AnimKeySet* ks = cursor->KeySet;
  int k = cursor->KeyIndex;
  if (k >= ks->KeyCount - 1) {
    *nextKey = 0;
    return 0.0f;
  }
  *nextKey = k + 1;
  float rate;
  if (ks->TimeType == MV1_ANIMKEY_TIME_TYPE_KEY) {
    float span = ks->KeyTime[k + 1] - ks->KeyTime[k];
    rate = span == 0.0f ? 0.0f : (time - ks->KeyTime[k]) / span;
  } else {
    rate = ks->UnitTime == 0.0f ? 0.0f : (time - KeyTime(ks, k)) / ks->UnitTime;
  }
  return rate > 0.0f ? rate : 0.0f;  // negative and not-a-number rates give 0
}

void MV1EvaluateAnimState(MV1AnimState* state) {
  if (state->UpToDate) return;
  const MV1AnimBase* anim = state->Anim;
  bool matrixPath = anim->IsMatrixMode != 0;
  if (!matrixPath) {
    for (int f = 0; f < state->FrameStateCount; ++f) {
      if (!EvaluateComponents(&state->FrameState[f], state->Time, anim->IsAdditive == 1)) {
        matrixPath = true;
        break;
      }
    }
  }
  if (matrixPath)
    for (int f = 0; f < state->FrameStateCount; ++f)
      EvaluateMatrix(&state->FrameState[f], state->Time);
  for (int f = 0; f < state->FrameStateCount; ++f) {
    MV1Frame* target = state->FrameState[f].Target;
    if (!target) continue;
    target->Container->ValidMatrix = 0;
    MV1SetFrameChangeFlag(&target->ChangeMatrixFlag);
  }
  state->UpToDate = 1;
}

void MV1RefreshAttachList(MV1Model* model) {
  for (int i = 0; i < model->AttachSlotCapacity; ++i) {
    MV1AttachSlot* slot = &model->AttachSlot[i];
    if (slot->InUse && slot->State && !slot->State->UpToDate) MV1EvaluateAnimState(slot->State);
  }
  model->AnimSetupFlag = 1;
}

int MV1AnimFrameLocalMatrix(MV1Model* model, MV1Frame* frame, Matrix3x4* out) {
  if (model->AttachAnimCount <= 0 || !model->BlendRows) return 0;
  MV1FrameBlendEntry* row = MV1FrameBlendRow(model, static_cast<int>(frame - model->Frame));
  int active = 0;
  MV1FrameBlendEntry* lone = nullptr;
  for (int i = 0; i < model->AttachSlotCapacity; ++i) {
    if (!Active(row[i])) continue;
    ++active;
    lone = &row[i];
  }
  if (active == 0) return 0;
  if (active == 1) {
    // The blend rate of a lone active anim is not applied.
    StateLocalMatrix(lone->State, out);
    return 1;
  }
  const Matrix3x4& base = frame->Base->LocalTransformMatrix;
  float acc[3][4] = {};
  for (int i = 0; i < model->AttachSlotCapacity; ++i) {
    if (!Active(row[i])) continue;
    MV1AnimFrameState* fs = row[i].State;
    StateLocalMatrix(fs, &fs->BlendMatrix);
    float rate = row[i].BlendRate;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) {
        float d = fs->BlendMatrix.m[r][c] - base.m[r][c];
        acc[r][c] += rate == 1.0f ? d : rate * d;
      }
  }
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) out->m[r][c] = base.m[r][c] + acc[r][c];
    float sum = out->m[r][0] * out->m[r][0] + out->m[r][1] * out->m[r][1] +
                out->m[r][2] * out->m[r][2];
    // A row whose elements all cancel is kept as it is rather than divided by zero.
    if (sum == 0.0f) continue;
    float inv = 1.0f / SqrtFloat(sum);
    for (int c = 0; c < 3; ++c) out->m[r][c] *= inv;
  }
  return active;
}

void MV1AnimFrameQueryLocalMatrix(MV1Model* model, MV1Frame* frame, Matrix3x4* out) {
  *out = frame->Base->LocalTransformMatrix;
  if (model->AttachAnimCount <= 0 || !model->BlendRows) return;
  MV1FrameBlendEntry* row = MV1FrameBlendRow(model, static_cast<int>(frame - model->Frame));
  int active = 0, flags = 0;
  bool keyMatrix = false;
  for (int i = 0; i < model->AttachSlotCapacity; ++i) {
    if (!Active(row[i])) continue;
    ++active;
    flags |= row[i].State->Flags;
    if (row[i].State->Flags & MV1_FRAME_MATRIX_KEY_MATRIX) keyMatrix = true;
  }
  bool eulerWithQuaternion =
      (flags & MV1_FRAME_MATRIX_ROTATE) &&
      (flags & (MV1_FRAME_MATRIX_QUATERNION_X | MV1_FRAME_MATRIX_QUATERNION_V));
  if (active < 2 || keyMatrix || eulerWithQuaternion) {
    MV1AnimFrameLocalMatrix(model, frame, out);
    return;
  }
  const MV1FrameBase* b = frame->Base;
  VECTOR t = b->Translate, s = b->Scale, r = b->Rotate;
  MV1Float4 q = b->Quaternion;
  for (int i = 0; i < model->AttachSlotCapacity; ++i) {
    if (!Active(row[i])) continue;
    const MV1AnimFrameState* fs = row[i].State;
    float rate = row[i].BlendRate;
    t = VECTOR{t.x + rate * (fs->Translate.x - b->Translate.x),
               t.y + rate * (fs->Translate.y - b->Translate.y),
               t.z + rate * (fs->Translate.z - b->Translate.z)};
    s = VECTOR{s.x + rate * (fs->Scale.x - b->Scale.x), s.y + rate * (fs->Scale.y - b->Scale.y),
               s.z + rate * (fs->Scale.z - b->Scale.z)};
    r = VECTOR{r.x + rate * (fs->Rotate.x - b->Rotate.x), r.y + rate * (fs->Rotate.y - b->Rotate.y),
               r.z + rate * (fs->Rotate.z - b->Rotate.z)};
    if (fs->Flags & (MV1_FRAME_MATRIX_QUATERNION_X | MV1_FRAME_MATRIX_QUATERNION_V)) {
      const MV1Float4& bq = b->Quaternion;
      const MV1Float4& fq = fs->Quaternion;
      q = MV1Float4{bq.x + rate * (fq.x - bq.x), bq.y + rate * (fq.y - bq.y),
                    bq.z + rate * (fq.z - bq.z), bq.w + rate * (fq.w - bq.w)};
    }
  }
  MV1CalcFrameLocalMatrix(out, flags, &t, &s, &r, &q, b->RotateOrder);
}

int MV1AttachAnim(int modelHandle, int animIndex, int srcModelHandle, int nameCheck) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  MV1Model* source = model;
  if (srcModelHandle == -1) {
    nameCheck = 0;
  } else {
    source = MV1GetModelChecked(srcModelHandle);
    if (!source) return -1;
  }
  MV1ModelBase* srcBase = source->BaseData;
  if (animIndex < 0 || animIndex >= srcBase->AnimCount) return -1;
  MV1AnimBase* anim = MV1GetAnimBase(source->BaseHandle, animIndex, nullptr);
  if (!anim) return -1;

  // Everything that may fail comes first, so that a failure leaves the attachments as they were.
  MV1AnimState* state = MV1CreateAnimState(anim);
  if (!state) return -1;
  struct Link {
    int Frame;
    MV1AnimFrameState* State;
  };
  MV1ModelBase* base = model->BaseData;
  Link* links = nullptr;
  int linkCount = 0;
  if (base->FrameCount > 0) {
    links = static_cast<Link*>(MEM_ALLOC(sizeof(Link) * base->FrameCount));
    if (!links) {
      MEM_FREE(state);
      return -1;
    }
  }
  MV1AnimFrameBase** table = srcBase->AnimFrameTable;
  bool matched = MatchFrames(base, srcBase, nameCheck != 0, [&](MV1FrameBase* t, MV1FrameBase* s) {
    if (!table || linkCount >= base->FrameCount) return;
    MV1AnimFrameBase* af =
        table[static_cast<size_t>(animIndex) * srcBase->FrameCount + (s - srcBase->Frame)];
    if (!af || af < anim->AnimFrame || af - anim->AnimFrame >= state->FrameStateCount) return;
    MV1AnimFrameState* fs = &state->FrameState[af - anim->AnimFrame];
    int targetIndex = static_cast<int>(t - base->Frame);
    MV1Frame* target = &model->Frame[targetIndex];
    fs->Target = target;
    for (int k = 0; k < fs->CursorCount; ++k) {
      MV1AnimKeyCursor* c = &fs->Cursor[k];
      if (c->KeySet->DataType != MV1_ANIMKEY_DATATYPE_SHAPE) continue;
      int shape = c->KeySet->TargetShapeIndex;
      if (nameCheck) {
        const char* name = shape >= 0 && shape < s->ShapeCount ? s->Shape[shape].Name : nullptr;
        shape = -1;
        for (int j = 0; name && j < t->ShapeCount; ++j)
          if (t->Shape[j].Name && StrCompare(t->Shape[j].Name, name) == 0) {
            shape = j;
            break;
          }
      }
      // A shape the target frame does not have drives nothing.
      c->TargetShape = shape >= 0 && shape < t->ShapeCount ? shape : -1;
    }
    links[linkCount++] = Link{targetIndex, fs};
  });
  if (!matched ||
      (model->AttachAnimCount >= model->AttachSlotCapacity && !GrowSlots(model))) {
    MEM_FREE(links);
    MEM_FREE(state);
    return -1;
  }

  int index = 0;
  while (model->AttachSlot[index].InUse) ++index;
  MV1AttachSlot* slot = &model->AttachSlot[index];
  slot->InUse = 1;
  slot->BaseHandle = source->BaseHandle;
  slot->AnimIndex = animIndex;
  slot->LinkedFrameCount = 0;
  slot->State = state;
  ++srcBase->RefCount;
  for (int f = 0; f < base->FrameCount; ++f)
    MV1FrameBlendRow(model, f)[index] = MV1FrameBlendEntry{0, 1.0f, nullptr};
  for (int i = 0; i < linkCount; ++i) {
    MV1FrameBlendEntry* e = &MV1FrameBlendRow(model, links[i].Frame)[index];
    e->Linked = 1;
    e->State = links[i].State;
    ++slot->LinkedFrameCount;
  }
  MEM_FREE(links);
  ++model->AttachAnimCount;
  InvalidateAnims(model);
  MV1AnimSetTimeCore(state, 0.0f);
  return index;
}

int MV1DetachAnim(int modelHandle, int attachIndex) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model || attachIndex < 0 || attachIndex >= model->AttachSlotCapacity) return -1;
  MV1AttachSlot* slot = &model->AttachSlot[attachIndex];
  if (slot->InUse) {
    int sourceBase = slot->BaseHandle;
    MEM_FREE(slot->State);
    *slot = MV1AttachSlot{};
    for (int f = 0; f < model->BaseData->FrameCount; ++f) {
      MV1FrameBlendEntry* e = &MV1FrameBlendRow(model, f)[attachIndex];
      e->Linked = 0;
      e->State = nullptr;
    }
    --model->AttachAnimCount;
    MV1ReleaseModelBase(sourceBase);
  }
  InvalidateAnims(model);
  MV1SetModelChangeFlagAll(model->ChangeMatrixFlag, model->ChangeMatrixFlagSize);
  return 0;
}

int MV1SetAttachAnimTime(int modelHandle, int attachIndex, float time) {
  MV1Model* model;
  MV1AttachSlot* slot = CheckedSlot(modelHandle, attachIndex, &model);
  if (!slot) return -1;
  slot->State->UpToDate = 0;
  InvalidateAnims(model);
  MV1AnimSetTimeCore(slot->State, time);
  return 0;
}

float MV1GetAttachAnimTime(int modelHandle, int attachIndex) {
  MV1AttachSlot* slot = CheckedSlot(modelHandle, attachIndex);
  return slot ? slot->State->Time : -1.0f;
}

float MV1GetAttachAnimTotalTime(int modelHandle, int attachIndex) {
  MV1AttachSlot* slot = CheckedSlot(modelHandle, attachIndex);
  return slot ? slot->State->Anim->MaxTime : -1.0f;
}

int MV1SetAttachAnimBlendRate(int modelHandle, int attachIndex, float rate) {
  MV1Model* model;
  MV1AttachSlot* slot = CheckedSlot(modelHandle, attachIndex, &model);
  if (!slot) return -1;
  for (int f = 0; f < model->BaseData->FrameCount; ++f)
    MV1FrameBlendRow(model, f)[attachIndex].BlendRate = rate;
  MV1SetModelChangeFlagAll(model->ChangeMatrixFlag, model->ChangeMatrixFlagSize);
  model->ValidMatrix = 0;
  return 0;
}

float MV1GetAttachAnimBlendRate(int modelHandle, int attachIndex) {
  MV1Model* model;
  MV1AttachSlot* slot = CheckedSlot(modelHandle, attachIndex, &model);
  if (!slot || model->BaseData->FrameCount <= 0) return -1.0f;
  return MV1FrameBlendRow(model, 0)[attachIndex].BlendRate;
}

int MV1GetAttachAnim(int modelHandle, int attachIndex) {
  MV1AttachSlot* slot = CheckedSlot(modelHandle, attachIndex);
  return slot ? slot->AnimIndex : -1;
}

int MV1GetAnimNum(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->BaseData->AnimCount : -1;
}

const char* MV1GetAnimName(int modelHandle, int animIndex) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model || animIndex < 0) return nullptr;
  MV1AnimBase* anim = MV1GetAnimBase(model->BaseHandle, animIndex, nullptr);
  return anim ? anim->Name : nullptr;
}

int MV1GetAnimIndex(int modelHandle, const char* name) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model) return -1;
  MV1AnimBase* anim = MV1GetAnimBase(model->BaseHandle, -1, name);
  return anim ? static_cast<int>(anim - model->BaseData->Anim) : -1;
}

float MV1GetAnimTotalTime(int modelHandle, int animIndex) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  if (!model || animIndex < 0) return -1.0f;
  MV1AnimBase* anim = MV1GetAnimBase(model->BaseHandle, animIndex, nullptr);
  return anim ? anim->MaxTime : -1.0f;
}
