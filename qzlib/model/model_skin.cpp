#include <qzlib/model/model_skin.h>

#include <qzlib/model/model.h>

const Matrix3x4 MV1IdentityMatrix3x4 = {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}}};

const Matrix3x4* MV1FrameSkinBoneMatrix(const MV1Frame* frame, int position) {
  if (position < 0 || position >= frame->Base->UseSkinBoneCount) return &MV1IdentityMatrix3x4;
  const Matrix3x4* m = frame->UseSkinBoneMatrix[position];
  return m ? m : &MV1IdentityMatrix3x4;
}

const Matrix3x4* MV1SlotSkinBoneMatrix(const MV1Frame* frame, const MV1TriangleList* list,
                                       int slot) {
  if (slot < 0 || slot >= list->UseBoneCount || slot >= MV1_TRIANGLE_LIST_USE_BONE_MAX)
    return &MV1IdentityMatrix3x4;
  return MV1FrameSkinBoneMatrix(frame, list->UseBone[slot]);
}
