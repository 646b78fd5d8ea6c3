// One VMD motion into an animation set of a PMD read model: bone keys sampled per frame, the IK
// chains baked, morph keys as shape-weight key sets.
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/modelimport/pmd/pmd_reader.h>
#include <qzlib/modelimport/readmodel.h>
#include <qzlib/modelimport/readmodel_hash.h>
#include <qzlib/base/engine_texts.h>

namespace {

// The working records of one motion, freed together.
struct MotionWork {
  VmdBoneNode* boneNodes = nullptr;
  VmdBoneKey* boneKeys = nullptr;
  VmdMorphNode* morphNodes = nullptr;
  VmdMorphKey* morphKeys = nullptr;
  ~MotionWork() {
    MEM_FREE(boneNodes);
    MEM_FREE(boneKeys);
    MEM_FREE(morphNodes);
    MEM_FREE(morphKeys);
  }
};

// The tails of the root's animation lists before a motion, so that a failed motion leaves none of
// its records on them (they stay in the pool, as everything does).
struct AnimListMark {
  int setCount, animCount, keySetCount;
  ReadModelAnimSet* lastSet;
  ReadModelAnim* lastAnim;
  ReadModelAnimKeySet* lastKeySet;
  uint32_t keyDataSize, stringDataSize;

  explicit AnimListMark(const ReadModel* rm)
      : setCount(rm->AnimSetCount), animCount(rm->AnimCount), keySetCount(rm->KeySetCount),
        lastSet(rm->LastAnimSet), lastAnim(rm->LastAnim), lastKeySet(rm->LastKeySet),
        keyDataSize(rm->AnimKeyDataSize), stringDataSize(rm->StringDataSize) {}
  void RollBack(ReadModel* rm) const {
    rm->AnimSetCount = setCount;
    rm->LastAnimSet = lastSet;
    (lastSet ? lastSet->Next : rm->FirstAnimSet) = nullptr;
    rm->AnimCount = animCount;
    rm->LastAnim = lastAnim;
    (lastAnim ? lastAnim->Next : rm->FirstAnim) = nullptr;
    rm->KeySetCount = keySetCount;
    rm->LastKeySet = lastKeySet;
    (lastKeySet ? lastKeySet->Next : rm->FirstKeySet) = nullptr;
    rm->AnimKeyDataSize = keyDataSize;
    rm->StringDataSize = stringDataSize;
  }
};

// A tracked block for count records (at least one byte, so that an empty table is a block too).
template <class T>
T* AllocRecords(uint32_t count) {
  return static_cast<T*>(MEM_ALLOC(count == 0 ? 1 : sizeof(T) * static_cast<size_t>(count)));
}

// A key of a name index: the first n bytes of a name, the whole name when whole is set.
struct NameKey {
  const char* text;
  size_t n;
  bool whole;
  uint64_t Hash() const { return RMHashBytes(text, n); }
  bool Matches(const void* item) const {
    const char* name = static_cast<const char*>(item);
    // stops at the end of a shorter name
    return std::strncmp(name, text, n) == 0 && (!whole || name[n] == '\0');
  }
};

// Enters a name (its whole, then its 15-byte prefix when it has one) with value; an entry already
// there keeps its value unless `better` prefers the new one. 0, or -1 when the pool runs out.
template <class Better>
int EnterName(ReadModel* rm, RMHashIndex* whole, RMHashIndex* prefixes, const char* name,
              bool prefixed, int value, Better better) {
  const size_t length = std::strlen(name);
  const NameKey keys[2] = {{name, length, true}, {name, kVmdNameSize, false}};
  RMHashIndex* indexes[2] = {whole, prefixes};
  for (int k = 0; k < (prefixed && length >= kVmdNameSize ? 2 : 1); ++k) {
    const uint64_t hash = keys[k].Hash();
    RMHashEntry* e = RMHashFind(*indexes[k], hash, [&](const void* item) { return keys[k].Matches(item); });
    if (!e && !RMHashAdd(rm, indexes[k], hash, name, value)) return -1;
    if (e && better(value, e->Value)) e->Value = value;
  }
  return 0;
}

// Builds the index: every bone frame's name (a frame without one as the empty name) and the
// 15-byte prefixes of the named ones, each to the bone of the lowest frame index; every named
// shape of the mesh frame and its prefix, to the first shape's position. 0, or -1.
int BuildNameIndex(ReadModel* rm, const PmdBoneInfo* bones, int count, VmdNameIndex* index) {
  auto lowerFrame = [&](int a, int b) { return bones[a].frame->Index < bones[b].frame->Index; };
  for (int i = 0; i < count; ++i) {
    const ReadModelFrame* f = bones[i].frame;
    if (f && EnterName(rm, &index->Bones, &index->BonePrefixes, f->Name ? f->Name : "",
                       f->Name != nullptr, i, lowerFrame) != 0)
      return -1;
  }
  auto first = [](int, int) { return false; };
  int pos = 0;
  for (const ReadModelShape* s = rm->FirstFrame ? rm->FirstFrame->FirstShape : nullptr; s;
       s = s->NextInFrame, ++pos)
    if (s->Name && EnterName(rm, &index->Shapes, &index->ShapePrefixes, s->Name, true, pos, first) != 0)
      return -1;
  index->Built = true;
  return 0;
}

// What a node's name stands for: the entry of the exact name, else for a 15-byte name the entry
// of that prefix; -1 when neither.
int FindName(const RMHashIndex& whole, const RMHashIndex& prefixes, const char* name) {
  const size_t length = std::strlen(name);
  for (const NameKey& key : {NameKey{name, length, true}, NameKey{name, kVmdNameSize, false}}) {
    if (!key.whole && length != kVmdNameSize) break;
    const RMHashEntry* e = RMHashFind(key.whole ? whole : prefixes, key.Hash(),
                                      [&](const void* item) { return key.Matches(item); });
    if (e) return e->Value;
  }
  return -1;
}

// The bone a node's name stands for: the exact name, else for a 15-byte name the bone frame
// that begins with it; either way the lowest frame index of those that match. -1 when none.
int FindBone(const VmdNameIndex& index, const char* name) {
  return FindName(index.Bones, index.BonePrefixes, name);
}

// The animation of a bone with its position and rotation key sets of slotCount keys each, whose
// arrays become the bone's sampled arrays. keySetMessage null: the key sets' own messages.
int AddBoneAnim(ReadModel* rm, ReadModelAnimSet* set, PmdBoneInfo* b, float totalTime,
                const char* keySetMessage) {
  ReadModelAnim* anim = ReadModelAddAnim(rm, set);
  const char* name = anim ? ReadModelAddString(rm, b->frame->Name ? b->frame->Name : "") : nullptr;
  if (!name) return WriteLog(TEXT_VMD_ADD_ANIM "\n");
  anim->TargetFrameName = name;
  anim->TargetFrameIndex = b->frame->Index;
  anim->TotalTime = totalTime;
  ReadModelAnimKeySet* sets[2];
  const char* messages[2] = {TEXT_VMD_ADD_POSITION_KEYS "\n", TEXT_VMD_ADD_ROTATION_KEYS "\n"};
  const uint8_t types[2] = {READMODEL_KEY_VECTOR, READMODEL_KEY_QUATERNION7};
  const uint8_t kinds[2] = {READMODEL_KIND_TRANSLATE, READMODEL_KIND_ROTATE};
  for (int i = 0; i < 2; ++i) {
    sets[i] = ReadModelAddAnimKeySet(rm, anim);
    if (!sets[i]) return WriteLog(keySetMessage ? keySetMessage : messages[i]);
    sets[i]->DataType = types[i];
    sets[i]->Kind = kinds[i];
    sets[i]->TimeType = 1;
    sets[i]->TotalTime = totalTime;
  }
  const uint64_t n = b->slotCount;
  for (int i = 0; i < 2; ++i) {
    sets[i]->KeyTimes = static_cast<float*>(ReadModelAlloc(rm, sizeof(float) * n));
    if (!sets[i]->KeyTimes) return WriteLog(TEXT_VMD_KEY_TIME_MEMORY "\n");
  }
  sets[0]->KeyData = ReadModelAlloc(rm, sizeof(VECTOR) * n);
  sets[1]->KeyData = sets[0]->KeyData ? ReadModelAlloc(rm, sizeof(float) * 4 * n) : nullptr;
  if (!sets[1]->KeyData) return WriteLog(TEXT_VMD_KEY_VALUE_MEMORY "\n");
  sets[0]->KeyCount = sets[1]->KeyCount = static_cast<int>(n);
  uint64_t total = static_cast<uint64_t>(rm->AnimKeyDataSize) + n * 36;
  rm->AnimKeyDataSize = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
  b->anim = anim;
  b->positions = static_cast<VECTOR*>(sets[0]->KeyData);
  b->rotations = static_cast<float*>(sets[1]->KeyData);
  b->positionTimes = sets[0]->KeyTimes;
  b->rotationTimes = sets[1]->KeyTimes;
  return 0;
}

int AddMorphKeys(ReadModel* rm, ReadModelAnimSet* set, const VmdMorphNode* nodes, uint32_t count,
                 const VmdNameIndex& names) {
  ReadModelAnim* anim = ReadModelAddAnim(rm, set);
  const char* name = anim ? ReadModelAddString(rm, "Mesh") : nullptr;
  if (!name) return WriteLog(TEXT_VMD_ADD_ANIM "\n");
  anim->TargetFrameName = name;
  anim->TargetFrameIndex = 0;
  anim->TotalTime = 0.0f;
  for (uint32_t n = 0; n < count; ++n) {
    const VmdMorphNode& node = nodes[n];
    // the shape the name stands for, as for bones: exact, else by a 15-byte prefix; the first
    // shape of the mesh frame that matches
    const int shapeIndex = FindName(names.Shapes, names.ShapePrefixes, node.name);
    if (shapeIndex < 0) continue;
    if (static_cast<float>(node.lastFrame) > anim->TotalTime) anim->TotalTime = static_cast<float>(node.lastFrame);
    ReadModelAnimKeySet* keys = ReadModelAddAnimKeySet(rm, anim);
    if (!keys) return WriteLog(TEXT_VMD_ADD_MORPH_KEYS "\n");
    keys->DataType = READMODEL_KEY_FLOAT5;
    keys->Kind = READMODEL_KIND_SHAPE_WEIGHT;
    keys->TimeType = 1;
    keys->ShapeIndex = shapeIndex;
    keys->TotalTime = static_cast<float>(node.lastFrame);
    if (ReadModelAllocKeys(rm, keys, static_cast<int>(node.keyCount)) != 0)
      return WriteLog(TEXT_VMD_ADD_MORPH_KEYS "\n");
    float* values = static_cast<float*>(keys->KeyData);
    int k = 0;
    for (const VmdMorphKey* key = node.first; key; key = key->next, ++k) {
      keys->KeyTimes[k] = static_cast<float>(key->frame);
      values[k] = key->weight;
    }
  }
  return 0;
}

int ReadMotion(ReadModel* rm, const void* image, size_t size, const char* setName,
               PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList, VmdKeyBudget* budget,
               VmdNameIndex* names) {
  VmdFile file;
  if (ParseVmdFile(image, size, PmdBakeWorkPerFrame(bones, boneCount, ikList), &file) != 0) return -1;
  MotionWork work;
  // 1. bone keys by name
  if (!(work.boneNodes = AllocRecords<VmdBoneNode>(file.boneNodeCount))) return WriteLog(TEXT_VMD_NODE_MEMORY "\n");
  if (!(work.boneKeys = AllocRecords<VmdBoneKey>(file.boneKeyCount))) return WriteLog(TEXT_VMD_KEY_MEMORY "\n");
  VmdGroupBoneKeys(file, work.boneNodes, work.boneKeys);
  // 2. the set
  ReadModelAnimSet* set = ReadModelAddAnimSet(rm, setName);
  if (!set) return WriteLog(TEXT_VMD_ADD_SET "\n");
  // 3. morph keys by name
  if (!(work.morphNodes = AllocRecords<VmdMorphNode>(file.morphNodeCount)) ||
      !(work.morphKeys = AllocRecords<VmdMorphKey>(file.morphKeyCount)))
    return WriteLog(TEXT_VMD_MORPH_KEY_MEMORY "\n");
  VmdGroupMorphKeys(file, work.morphNodes, work.morphKeys);
  // the names of the model, indexed by the load's first motion
  if (!names->Built && BuildNameIndex(rm, bones, boneCount, names) != 0)
    return WriteLog(TEXT_VMD_NODE_MEMORY "\n");
  // 4. a clean slate on every bone
  for (int i = 0; i < boneCount; ++i) {
    PmdBoneInfo& b = bones[i];
    b.anim = nullptr;
    b.restPose = 0;
    b.positions = nullptr;
    b.rotations = nullptr;
    b.positionTimes = nullptr;
    b.rotationTimes = nullptr;
    b.node = nullptr;
    b.currentKey = nullptr;
    b.slotCount = 0;
    b.firstFrame = 0;
  }
  const uint32_t last = file.lastFrame;
  set->TotalTime = static_cast<float>(last);
  // the keys the sampling will make, before any is allocated (distinct names never stand for
  // one bone: an exact name and a 15-byte prefix of a longer one cannot meet)
  uint64_t sampled = 0;
  for (uint32_t n = 0; n < file.boneNodeCount; ++n) {
    const VmdBoneNode& node = work.boneNodes[n];
    int bi = FindBone(*names, node.name);
    if (bi >= 0 && !bones[bi].ikInvolved) sampled += node.lastFrame - node.firstFrame + 1ull;
  }
  for (int i = 0; i < boneCount; ++i)
    if (bones[i].ikInvolved) sampled += last + 1ull;
  // within one motion's cap, and within what the motions before it left of the load's budget
  const uint64_t total = budget->used + sampled;
  if (sampled > kVmdMaxSampledKeys || total > budget->limit) {
    const bool motionCap = sampled > kVmdMaxSampledKeys;
    WriteLogFmt(TEXT_VMD_KEY_LIMIT, static_cast<unsigned long long>(motionCap ? sampled : total),
                static_cast<unsigned long long>(motionCap ? kVmdMaxSampledKeys : budget->limit));
    return -1;
  }
  // 5. bones with keys
  for (uint32_t n = 0; n < file.boneNodeCount; ++n) {
    const VmdBoneNode& node = work.boneNodes[n];
    int bi = FindBone(*names, node.name);
    if (bi < 0 || bones[bi].anim) continue;
    PmdBoneInfo& b = bones[bi];
    b.firstFrame = b.ikInvolved ? 0 : node.firstFrame;
    b.slotCount = b.ikInvolved ? last + 1 : node.lastFrame - node.firstFrame + 1;
    if (AddBoneAnim(rm, set, &b, static_cast<float>(b.ikInvolved ? last : node.lastFrame), nullptr) != 0)
      return -1;
    PmdSampleBoneKeys(&b, node);
  }
  // 6. bones without keys: the rest pose, or an animation of full length for the bake
  for (int i = 0; i < boneCount; ++i) {
    PmdBoneInfo& b = bones[i];
    if (b.anim) continue;
    if (!b.ikInvolved) {
      b.translate = b.rest;
      b.rotation[0] = b.rotation[1] = b.rotation[2] = 0.0f;
      b.rotation[3] = 1.0f;
      continue;
    }
    b.restPose = 1;
    b.firstFrame = 0;
    b.slotCount = last + 1;
    if (AddBoneAnim(rm, set, &b, static_cast<float>(last), TEXT_VMD_ADD_KEYS "\n") != 0) return -1;
  }
  // 7. the IK bake
  PmdBakeIk(bones, boneCount, ikList, last);
  // 8. morph keys
  if (file.morphKeyCount > 0 && AddMorphKeys(rm, set, work.morphNodes, file.morphNodeCount, *names) != 0)
    return -1;
  budget->used = total;
  return 0;
}

}  // namespace

int LoadVmdMotion(ReadModel* rm, const void* image, size_t size, const char* setName,
                  PmdBoneInfo* bones, int boneCount, const PmdIkInfo* ikList, VmdKeyBudget* budget,
                  VmdNameIndex* names) {
  AnimListMark mark(rm);
  VmdNameIndex own{};
  int r = ReadMotion(rm, image, size, setName, bones, boneCount, ikList, budget, names ? names : &own);
  if (r != 0) {
    mark.RollBack(rm);
    for (int i = 0; i < boneCount; ++i) {
      bones[i].anim = nullptr;
      bones[i].positions = nullptr;
      bones[i].rotations = nullptr;
      bones[i].positionTimes = nullptr;
      bones[i].rotationTimes = nullptr;
      bones[i].slotCount = 0;
    }
  }
  return r;
}
