// Skinning-bone optimisation of a converted base: equal skin bones merged, bones ordered by the
// frame they follow, bone-use entries and the frames' bone lists re-pointed.
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/engine_texts.h>
#include <qzlib/model/model_base.h>
#include <qzlib/modelimport/readmodel_convert.h>

namespace {

// Points every frame's skin-bone range at its run of the (ordered) bone array.
void LinkFramesToBones(MV1ModelBase* base) {
  for (int f = 0; f < base->FrameCount; ++f) {
    base->Frame[f].SkinBoneCount = 0;
    base->Frame[f].SkinBone = nullptr;
  }
  for (int b = 0; b < base->SkinBoneCount; ++b) {
    MV1FrameBase* f = &base->Frame[base->SkinBone[b].Index];
    if (f->SkinBoneCount++ == 0) f->SkinBone = &base->SkinBone[b];
  }
}

// Re-points the bone-list places named by the bone's use entries at the bone.
void RepointUses(MV1ModelBase* base, MV1SkinBoneBase* bone) {
  for (int u = 0; u < bone->UseCount; ++u)
    base->Frame[bone->Use[u].Value[0]].UseSkinBone[bone->Use[u].Value[1]] = bone;
}

// Without work memory: the bones are ordered by frame in place (heap sort; each swap carries the
// bones' use entries and re-points the frames' bone lists), nothing is merged.
void OrderBonesInPlace(MV1ModelBase* base) {
  MV1SkinBoneBase* b = base->SkinBone;
  const int n = base->SkinBoneCount;
  auto swap = [&](int i, int j) {
    MV1SkinBoneBase t = b[i];
    b[i] = b[j];
    b[j] = t;
    RepointUses(base, &b[i]);
    RepointUses(base, &b[j]);
  };
  auto sift = [&](int root, int end) {
    for (;;) {
      int child = root * 2 + 1;
      if (child >= end) return;
      if (child + 1 < end && b[child + 1].Index > b[child].Index) ++child;
      if (b[root].Index >= b[child].Index) return;
      swap(root, child);
      root = child;
    }
  };
  for (int i = n / 2 - 1; i >= 0; --i) sift(i, n);
  for (int end = n - 1; end > 0; --end) {
    swap(0, end);
    sift(0, end);
  }
}

}  // namespace

int OptimizeSkinningMesh(MV1ModelBase* base) {
  const int n = base->SkinBoneCount;
  if (n == 0) {
    LinkFramesToBones(base);
    return 1;
  }
  const int uses = base->SkinBoneUseCount;
  // work: new bones, distinct number of each old bone, chain of distinct bones per frame, order,
  // use entries copied with their old bone
  const uint64_t bytes = sizeof(MV1SkinBoneBase) * static_cast<uint64_t>(n) + sizeof(int) * 4ull * n +
                         sizeof(int) * static_cast<uint64_t>(base->FrameCount) * 2 +
                         (sizeof(MV1BoneUseEntry) + sizeof(int)) * static_cast<uint64_t>(uses) + 16;
  auto* work = static_cast<uint8_t*>(MEM_ALLOC(bytes));
  if (!work) {
    WriteLog("Model Optimize Error : " TEXT_RM_SKIN_OPT_ALLOC_FAILED "\n");
    OrderBonesInPlace(base);
    LinkFramesToBones(base);
    return 0;
  }
  auto* distinct = reinterpret_cast<MV1SkinBoneBase*>(work);
  int* distinctOf = reinterpret_cast<int*>(distinct + n);
  int* chainNext = distinctOf + n;   // next distinct bone of the same frame
  int* sortedPos = chainNext + n;    // distinct -> position after ordering
  int* sorted = sortedPos + n;       // position -> distinct
  int* frameHead = sorted + n;
  int* frameFill = frameHead + base->FrameCount;
  auto* useCopy = reinterpret_cast<MV1BoneUseEntry*>(frameFill + base->FrameCount);
  int* useBone = reinterpret_cast<int*>(useCopy + uses);

  // 2. merge equal bones (same frame, the same 12 floats)
  int* frameTail = frameFill;  // used as the chains' tails while merging
  for (int f = 0; f < base->FrameCount; ++f) frameHead[f] = frameTail[f] = -1;
  int distinctCount = 0;
  bool merged = false;
  int useAt = 0;
  for (int i = 0; i < n; ++i) {
    const MV1SkinBoneBase& bone = base->SkinBone[i];
    int found = -1;
    for (int d = frameHead[bone.Index]; d >= 0 && found < 0; d = chainNext[d])
      if (std::memcmp(&distinct[d].ModelLocalMatrix, &bone.ModelLocalMatrix, sizeof(Matrix3x4)) == 0) found = d;
    if (found < 0) {
      found = distinctCount++;
      distinct[found] = bone;
      distinct[found].UseCount = 0;
      // append to the frame's chain so the first match in bone order is found first
      chainNext[found] = -1;
      if (frameTail[bone.Index] >= 0) chainNext[frameTail[bone.Index]] = found; else frameHead[bone.Index] = found;
      frameTail[bone.Index] = found;
    } else {
      merged = true;
    }
    distinctOf[i] = found;
    distinct[found].UseCount += bone.UseCount;
    for (int u = 0; u < bone.UseCount; ++u) {
      useCopy[useAt] = bone.Use[u];
      useBone[useAt++] = found;
    }
  }
  // 3. order by bone frame (stable; equal frames keep their order)
  for (int f = 0; f < base->FrameCount; ++f) frameFill[f] = 0;
  for (int d = 0; d < distinctCount; ++d) ++frameFill[distinct[d].Index];
  int run = 0;
  for (int f = 0; f < base->FrameCount; ++f) {
    int c = frameFill[f];
    frameFill[f] = run;
    run += c;
  }
  bool reordered = false;
  for (int d = 0; d < distinctCount; ++d) {
    int p = frameFill[distinct[d].Index]++;
    sortedPos[d] = p;
    sorted[p] = d;
    if (p != d) reordered = true;
  }
  // 4. the new bones, their use runs and the frames' bone lists
  if (merged || reordered) {
    base->SkinBoneCount = distinctCount;
    int useRun = 0;
    for (int p = 0; p < distinctCount; ++p) {
      MV1SkinBoneBase& bone = base->SkinBone[p];
      bone = distinct[sorted[p]];
      bone.Use = &base->SkinBoneUse[useRun];
      useRun += bone.UseCount;
      bone.UseCount = 0;
    }
    for (int u = 0; u < useAt; ++u) {
      MV1SkinBoneBase& bone = base->SkinBone[sortedPos[useBone[u]]];
      bone.Use[bone.UseCount++] = useCopy[u];
      base->Frame[useCopy[u].Value[0]].UseSkinBone[useCopy[u].Value[1]] = &bone;
    }
    base->SkinBoneUseCount = useRun;
  }
  // 5.
  LinkFramesToBones(base);
  MEM_FREE(work);
  return 1;
}
