#include <qzlib/modelimport/pmd/pmd_ik.h>

#include <cmath>
#include <cstring>

#include <qzlib/base/strutil.h>
#include <qzlib/base/engine_texts.h>

#include <qzlib/math/math3d.h>

namespace {

constexpr float kPi = 3.1415927f;

void SetQuaternion(float* dst, const float* src) {
  for (int i = 0; i < 4; ++i) dst[i] = src[i];
}

void SetIdentityQuaternion(float* q) {
  q[0] = q[1] = q[2] = 0.0f;
  q[3] = 1.0f;
}

// Normalises v in place; false (v unchanged) when it has no usable length.
bool NormalizeVector(VECTOR* v) {
  float len2 = v->x * v->x + v->y * v->y + v->z * v->z;
  if (!(len2 > 0.0f) || !std::isfinite(len2)) return false;
  float inv = 1.0f / std::sqrt(len2);
  VECTOR n{v->x * inv, v->y * inv, v->z * inv};
  if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z)) return false;
  *v = n;
  return true;
}

VECTOR WorldPosition(const PmdBoneInfo& b) { return VECTOR{b.world.m[3][0], b.world.m[3][1], b.world.m[3][2]}; }

// The X angle of a step rotation, as the knee test takes it.
float KneeXAngle(const float* q) {
  float qx = q[0], qy = q[1], qz = q[2], qw = q[3];
  float sinY = 2.0f * (qy * qw - qx * qz);
  if (sinY < -1.0f) sinY = -1.0f;
  if (sinY > 1.0f) sinY = 1.0f;
  float y = std::asin(sinY);
  if (y >= 1.5707964f) return std::atan2(2.0f * (qx * qy - qw * qz), 1.0f - 2.0f * (qz * qz + qx * qx));
  if (y <= -1.5707964f) return -std::atan2(2.0f * (qx * qy - qw * qz), 1.0f - 2.0f * (qz * qz + qx * qx));
  return std::atan2(2.0f * (qw * qx + qy * qz), 1.0f - 2.0f * (qx * qx + qy * qy));
}

// Writes pose (position, normalised rotation) and time into slot s.
void WriteSlot(PmdBoneInfo* b, uint32_t s, const VECTOR& pos, const float* rot, uint32_t frame) {
  b->positions[s] = pos;
  float* r = b->rotations + 4 * static_cast<size_t>(s);
  SetQuaternion(r, rot);
  PmdNormalizeQuaternion(r);
  b->positionTimes[s] = static_cast<float>(frame);
  b->rotationTimes[s] = static_cast<float>(frame);
}

VECTOR KeyPosition(const VmdBoneKey& k, const VECTOR& rest) {
  return VECTOR{k.position.x + rest.x, k.position.y + rest.y, k.position.z + rest.z};
}

// The pose at frame f on the segment from key p to key c (p.frame <= f < c.frame).
void SampleSegment(const VmdBoneKey& p, const VmdBoneKey& c, uint32_t f, const VECTOR& rest,
                   VECTOR* pos, float* rot) {
  float t = static_cast<float>(f - p.frame) / static_cast<float>(c.frame - p.frame);
  float yx = VmdCurveValue(p.curve + 0, p.linear[0], t);
  float yy = VmdCurveValue(p.curve + 4, p.linear[1], t);
  float yz = VmdCurveValue(p.curve + 8, p.linear[2], t);
  float yr = VmdCurveValue(p.curve + 12, p.linear[3], t);
  pos->x = p.position.x + (c.position.x - p.position.x) * yx + rest.x;
  pos->y = p.position.y + (c.position.y - p.position.y) * yy + rest.y;
  pos->z = p.position.z + (c.position.z - p.position.z) * yz + rest.z;
  float dot = 0.0f;
  for (int i = 0; i < 4; ++i) dot += p.rotation[i] * c.rotation[i];
  for (int i = 0; i < 4; ++i)
    rot[i] = dot >= 0.0f ? p.rotation[i] * (1.0f - yr) + c.rotation[i] * yr
                         : p.rotation[i] * (1.0f - yr) - c.rotation[i] * yr;
  PmdNormalizeQuaternion(rot);
}

void UpdateChainFrom(PmdBoneInfo* bones, const PmdIkInfo& ik, int from) {
  for (int i = from; i >= 0; --i) PmdUpdateBoneWorld(bones, PmdIkChainIndex(ik, i));
  PmdUpdateBoneWorld(bones, static_cast<int>(ik.target - bones));
}

}  // namespace

void PmdSetupBones(const PmdFile& file, PmdBoneInfo* bones) {
  for (uint32_t i = 0; i < file.boneCount; ++i) {
    PmdBoneInfo& b = bones[i];
    std::memset(&b, 0, sizeof(b));
    PmdReadBone(file, i, &b.file);
    b.type = b.file.type;
    b.parent = b.file.parent == kPmdNoBone ? -1 : b.file.parent;
    b.head = b.file.head;
    b.rest = b.head;
    if (b.parent >= 0) {
      const VECTOR& ph = bones[b.parent].head;
      b.rest = VECTOR{b.head.x - ph.x, b.head.y - ph.y, b.head.z - ph.z};
    }
    b.translate = b.rest;
    SetIdentityQuaternion(b.rotation);
    b.knee = StrStr(b.file.name, TEXT_PMD_KNEE) ? 1 : 0;
  }
}

PmdIkInfo* PmdSetupIkList(const PmdFile& file, PmdBoneInfo* bones, PmdIkInfo* iks) {
  PmdIkInfo* head = nullptr;
  const uint8_t* p = file.iks;
  for (uint32_t k = 0; k < file.ikCount; ++k) {
    PmdIkInfo& ik = iks[k];
    std::memset(&ik, 0, sizeof(ik));
    PmdReadIk(p, &ik.file);
    p = ik.file.next;
    ik.goal = &bones[ik.file.goal];
    ik.target = &bones[ik.file.target];
    ik.iterations = ik.file.iterations;
    ik.limit = ik.file.controlWeight * kPi;
    ik.chainLength = ik.file.chainLength;
    ik.chain = ik.file.chain;
    ik.target->ikInvolved = 1;
    for (int c = 0; c < ik.chainLength; ++c) bones[PmdIkChainIndex(ik, c)].ikInvolved = 1;
    PmdInsertIk(&head, &ik);
  }
  return head;
}

void PmdInsertIk(PmdIkInfo** head, PmdIkInfo* entry) {
  int key = PmdIkChainIndex(*entry, 0);
  PmdIkInfo* prev = nullptr;
  PmdIkInfo* at = *head;
  while (at && PmdIkChainIndex(*at, 0) < key) {
    prev = at;
    at = at->next;
  }
  entry->prev = prev;
  entry->next = at;
  if (prev) prev->next = entry;
  else *head = entry;
  if (at) at->prev = entry;
}

void PmdNormalizeQuaternion(float q[4]) {
  float len2 = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
  if (!(len2 > 0.0f) || !std::isfinite(len2)) {
    SetIdentityQuaternion(q);
    return;
  }
  float inv = 1.0f / std::sqrt(len2);
  for (int i = 0; i < 4; ++i) q[i] *= inv;
}

void PmdMultiplyQuaternion(float out[4], const float a[4], const float b[4]) {
  float r[4];
  r[0] = a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1];
  r[1] = a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0];
  r[2] = a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3];
  r[3] = a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2];
  SetQuaternion(out, r);
}

void PmdQuaternionMatrix(MATRIX* out, const float q[4], const VECTOR& t) {
  float x = q[0], y = q[1], z = q[2], w = q[3];
  MATRIX& m = *out;
  m.m[0][0] = 1.0f - 2.0f * y * y - 2.0f * z * z;
  m.m[0][1] = 2.0f * x * y + 2.0f * w * z;
  m.m[0][2] = 2.0f * x * z - 2.0f * w * y;
  m.m[1][0] = 2.0f * x * y - 2.0f * w * z;
  m.m[1][1] = 1.0f - 2.0f * x * x - 2.0f * z * z;
  m.m[1][2] = 2.0f * y * z + 2.0f * w * x;
  m.m[2][0] = 2.0f * x * z + 2.0f * w * y;
  m.m[2][1] = 2.0f * y * z - 2.0f * w * x;
  m.m[2][2] = 1.0f - 2.0f * x * x - 2.0f * y * y;
  m.m[0][3] = m.m[1][3] = m.m[2][3] = 0.0f;
  m.m[3][0] = t.x;
  m.m[3][1] = t.y;
  m.m[3][2] = t.z;
  m.m[3][3] = 1.0f;
}

void PmdUpdateBoneWorld(PmdBoneInfo* bones, int index) {
  PmdBoneInfo& b = bones[index];
  MATRIX local;
  PmdQuaternionMatrix(&local, b.rotation, b.translate);
  if (b.parent < 0) b.world = local;
  else CreateMultiplyMatrix(&b.world, &local, &bones[b.parent].world);
}

void PmdUpdateAllBoneWorlds(PmdBoneInfo* bones, int count) {
  for (int i = 0; i < count; ++i) PmdUpdateBoneWorld(bones, i);
}

void PmdSampleBoneKeys(PmdBoneInfo* b, const VmdBoneNode& node) {
  const uint64_t base = b->firstFrame;
  const VmdBoneKey* first = node.first;
  for (uint64_t f = base; f < first->frame; ++f)
    WriteSlot(b, static_cast<uint32_t>(f - base), KeyPosition(*first, b->rest), first->rotation,
              static_cast<uint32_t>(f));
  const VmdBoneKey* last = first;
  for (const VmdBoneKey* c = first->next; c; c = c->next) {
    const VmdBoneKey* p = c->prev;
    for (uint64_t f = p->frame; f < c->frame; ++f) {
      VECTOR pos;
      float rot[4];
      SampleSegment(*p, *c, static_cast<uint32_t>(f), b->rest, &pos, rot);
      WriteSlot(b, static_cast<uint32_t>(f - base), pos, rot, static_cast<uint32_t>(f));
    }
    last = c;
  }
  const uint64_t end = base + b->slotCount;  // one past the last slot's frame
  for (uint64_t f = last->frame; f < end; ++f)
    WriteSlot(b, static_cast<uint32_t>(f - base), KeyPosition(*last, b->rest), last->rotation,
              static_cast<uint32_t>(f));
}

void PmdPoseBone(PmdBoneInfo* b, uint32_t f) {
  if (b->ikInvolved && b->restPose) {
    b->translate = b->rest;
    SetIdentityQuaternion(b->rotation);
    return;
  }
  if (!b->positions || b->slotCount == 0) return;
  uint64_t s = f < b->firstFrame ? 0 : static_cast<uint64_t>(f) - b->firstFrame;
  if (s >= b->slotCount) s = b->slotCount - 1;
  b->translate = b->positions[s];
  SetQuaternion(b->rotation, b->rotations + 4 * s);
}

int PmdSolveIk(PmdBoneInfo* bones, const PmdIkInfo& ik, int limits, int* kneeBone) {
  const VECTOR goal = WorldPosition(*ik.goal);
  UpdateChainFrom(bones, ik, ik.chainLength - 1);
  int kneeFlag = 0;
  *kneeBone = -1;
  for (int it = 0; it < ik.iterations; ++it) {
    for (int ci = 0; ci < ik.chainLength; ++ci) {
      PmdBoneInfo& c = bones[PmdIkChainIndex(ik, ci)];
      VECTOR eff = WorldPosition(*ik.target);
      MATRIX inv;
      if (CreateInverseMatrix(&inv, &c.world) != 0) continue;  // singular: unchanged this step
      VECTOR g, e;
      VectorTransform(&g, &goal, &inv);
      VectorTransform(&e, &eff, &inv);
      VECTOR diff{g.x - e.x, g.y - e.y, g.z - e.z};
      if (diff.x * diff.x + diff.y * diff.y + diff.z * diff.z < 1e-7f) break;
      if (!NormalizeVector(&g) || !NormalizeVector(&e)) continue;
      float d = e.x * g.x + e.y * g.y + e.z * g.z;
      if (d > 1.0f) d = 1.0f;
      if (d < -1.0f) d = -1.0f;
      float angle = std::acos(d);
      if (!(angle > 1e-8f)) continue;
      if (angle < -ik.limit) angle = -ik.limit;
      if (angle > ik.limit) angle = ik.limit;
      VECTOR axis;
      VectorCross(&axis, &e, &g);
      if (axis.x * axis.x + axis.y * axis.y + axis.z * axis.z < 1e-7f) continue;
      if (!NormalizeVector(&axis)) continue;
      float q[4];
      if (std::fabs(angle) < 0.0001f) {
        SetIdentityQuaternion(q);
      } else {
        float s = std::sin(angle / 2.0f);
        q[0] = axis.x * s;
        q[1] = axis.y * s;
        q[2] = axis.z * s;
        q[3] = std::cos(angle / 2.0f);
      }
      if (c.knee) {
        float x = KneeXAngle(q);
        if (x < -kPi) {
          kneeFlag = 1;
          if (limits) x = -kPi;
        } else if (x > -0.002f) {
          kneeFlag = 1;
          if (limits) x = -0.002f;
        } else {
          kneeFlag = 0;
        }
        q[0] = std::sin(x / 2.0f);
        q[1] = q[2] = 0.0f;
        q[3] = std::cos(x / 2.0f);
        *kneeBone = static_cast<int>(&c - bones);
      }
      PmdNormalizeQuaternion(q);
      float r[4];
      PmdMultiplyQuaternion(r, c.rotation, q);
      PmdNormalizeQuaternion(r);
      SetQuaternion(c.rotation, r);
      UpdateChainFrom(bones, ik, ci);
    }
  }
  if (kneeFlag && *kneeBone >= 0) {
    float x = 0.0f, y = 0.0f;
    GetMatrixXYZRotation(&bones[*kneeBone].world, &x, &y, nullptr);
    if (-kPi < x && x < -0.002f && -0.7853982f < y && y < 0.7853982f) kneeFlag = 0;
  }
  return kneeFlag;
}

namespace {

// Marks the bones the bake poses every frame: the IK-involved bones, the goal bones and all their
// ancestors. Returns their number, 0 when no bone is IK-involved (nothing is baked then).
uint64_t MarkBakeBones(PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList) {
  bool any = false;
  for (int i = 0; i < boneCount; ++i) {
    bones[i].bakeUsed = 0;
    any = any || bones[i].ikInvolved;
  }
  if (!any) return 0;
  uint64_t marked = 0;
  auto mark = [&](int b) {
    while (b >= 0 && !bones[b].bakeUsed) {
      bones[b].bakeUsed = 1;
      ++marked;
      b = bones[b].parent;
    }
  };
  for (const PmdIkInfo* ik = ikList; ik; ik = ik->next) {
    mark(static_cast<int>(ik->goal - bones));
    mark(static_cast<int>(ik->target - bones));
  }
  for (int i = 0; i < boneCount; ++i)
    if (bones[i].ikInvolved) mark(i);
  return marked;
}

}  // namespace

uint64_t PmdBakeWorkPerFrame(PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList) {
  uint64_t posed = MarkBakeBones(bones, boneCount, ikList);
  if (posed == 0) return 0;
  uint64_t steps = 0;
  for (const PmdIkInfo* ik = ikList; ik; ik = ik->next)
    steps += static_cast<uint64_t>(ik->iterations) * static_cast<uint64_t>(ik->chainLength);
  return steps + posed;
}

void PmdBakeIk(PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList, uint32_t lastFrame) {
  // Only IK-involved bones store keys, and only the IK bones and their ancestors feed the solver:
  // the other bones are left out of the per-frame work (their results would not be read).
  if (MarkBakeBones(bones, boneCount, ikList) == 0) return;
  for (uint64_t f = 0; f <= lastFrame; ++f) {
    uint32_t frame = static_cast<uint32_t>(f);
    for (int i = 0; i < boneCount; ++i)
      if (bones[i].bakeUsed) {
        PmdPoseBone(&bones[i], frame);
        PmdUpdateBoneWorld(bones, i);
      }
    for (const PmdIkInfo* ik = ikList; ik; ik = ik->next) {
      int knee = -1;
      if (PmdSolveIk(bones, *ik, 0, &knee)) {
        for (int ci = 0; ci < ik->chainLength; ++ci) PmdPoseBone(&bones[PmdIkChainIndex(*ik, ci)], frame);
        PmdSolveIk(bones, *ik, 1, &knee);
      }
    }
    for (int i = 0; i < boneCount; ++i) {
      PmdBoneInfo& b = bones[i];
      if (!b.ikInvolved || !b.positions || f >= b.slotCount) continue;
      b.positions[f] = b.translate;
      SetQuaternion(b.rotations + 4 * f, b.rotation);
      b.positionTimes[f] = static_cast<float>(frame);
      b.rotationTimes[f] = static_cast<float>(frame);
    }
  }
}
