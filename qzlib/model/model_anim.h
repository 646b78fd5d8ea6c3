// Animation: anims of a model base attached to models, the key search, the evaluation of every
// driven frame at the current time, and the blend of several attachments on one frame.
//
// An attachment (attach slot) holds an anim state: one zero-filled tracked block with the state,
// one frame state per anim frame and one key cursor per key set. Every attachment holds a
// reference on the base its anim comes from (the model's own or another model's), released when
// it is detached, so a slot never points into a freed base. A model's slots and its blend rows
// (one entry per frame and slot) are one reallocated block.
#pragma once
#include <cstdint>

#include <qzlib/base/types.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_base.h>

// Key data types and driven components of a key set.
enum : int {
  MV1_ANIMKEY_TYPE_QUATERNION_X = 0,     // quaternion, first form
  MV1_ANIMKEY_TYPE_VECTOR = 1,
  MV1_ANIMKEY_TYPE_LINEAR = 5,           // one float
  MV1_ANIMKEY_TYPE_QUATERNION_V = 7,     // quaternion, second form
};
enum : int {
  MV1_ANIMKEY_DATATYPE_ROTATE = 0,
  MV1_ANIMKEY_DATATYPE_ROTATE_X = 1,
  MV1_ANIMKEY_DATATYPE_ROTATE_Y = 2,
  MV1_ANIMKEY_DATATYPE_ROTATE_Z = 3,
  MV1_ANIMKEY_DATATYPE_SCALE = 5,
  MV1_ANIMKEY_DATATYPE_SCALE_X = 6,
  MV1_ANIMKEY_DATATYPE_SCALE_Y = 7,
  MV1_ANIMKEY_DATATYPE_SCALE_Z = 8,
  MV1_ANIMKEY_DATATYPE_TRANSLATE = 10,
  MV1_ANIMKEY_DATATYPE_TRANSLATE_X = 11,
  MV1_ANIMKEY_DATATYPE_TRANSLATE_Y = 12,
  MV1_ANIMKEY_DATATYPE_TRANSLATE_Z = 13,
  MV1_ANIMKEY_DATATYPE_SHAPE = 18,
};
enum : int {
  MV1_ANIMKEY_TIME_TYPE_ONE = 0,         // uniform steps: key k at k * step + start
  MV1_ANIMKEY_TIME_TYPE_KEY = 1,         // explicit times
};

// The widest rotation step the component path interpolates; a wider one switches the whole
// state to key matrices.
constexpr float MV1_ANIM_MAX_ROTATE_STEP = 1.5707964f;

struct MV1AnimKeyCursor {
  MV1AnimKeySet* KeySet;
  int TargetShape;                       // shape of the target frame, -1 none
  float Value;                           // last shape weight
  int KeyIndex;
};

struct MV1AnimFrameState {
  MV1AnimFrameBase* Base;
  MV1Frame* Target;                      // null until linked
  int Flags;                             // MV1_FRAME_MATRIX_* (model_matrix.h)
  VECTOR Scale;
  VECTOR Translate;
  VECTOR Rotate;
  int RotateOrder;                       // always 0
  MV1Float4 Quaternion;
  Matrix3x4 KeyMatrix;                   // flag 16
  Matrix3x4 BlendMatrix;                 // the local matrix the several-anim blend used
  int CursorCount;
  MV1AnimKeyCursor* Cursor;
};

struct MV1AnimState {
  MV1AnimBase* Anim;
  uint8_t UpToDate;
  float Time;
  int FrameStateCount;
  MV1AnimFrameState* FrameState;
};

struct MV1AttachSlot {
  uint8_t InUse;
  int BaseHandle;                        // the source base (one reference held)
  int AnimIndex;
  int LinkedFrameCount;
  MV1AnimState* State;
};

struct MV1FrameBlendEntry {
  uint8_t Linked;
  float BlendRate;                       // 1.0 at attach
  MV1AnimFrameState* State;              // null when not linked
};

// ---- Internal ----

// The anim at `index` of the base (null when the index is not below the anim count); with a
// negative index the first anim named `name`. Null for a handle that is not a base's.
MV1AnimBase* MV1GetAnimBase(int baseHandle, int index, const char* name);
// The state block of an anim (cursors on their key sets, target shapes -1), or null.
MV1AnimState* MV1CreateAnimState(MV1AnimBase* anim);
// Stores the time clamped to 0..total (a negative time gives 0, then a time above the total the
// total) and searches every cursor's key.
void MV1AnimSetTimeCore(MV1AnimState* state, float time);
// The key search of every cursor at the state's time. A key set without keys is skipped.
void MV1AnimUpdateKeyIndex(MV1AnimState* state);
// Interpolation rate of a cursor at the state's time and its next key index (0 at the last key).
float MV1AnimKeyRate(const MV1AnimKeyCursor* cursor, float time, int* nextKey);
// Evaluates every driven frame at the state's time (nothing when up to date).
void MV1EvaluateAnimState(MV1AnimState* state);
// Evaluates every in-use slot's out-of-date state, then sets the attach-done byte.
void MV1RefreshAttachList(MV1Model* model);

// The blend row of a frame: one entry per slot capacity.
inline MV1FrameBlendEntry* MV1FrameBlendRow(MV1Model* model, int frameIndex) {
  return model->BlendRows + static_cast<size_t>(frameIndex) * model->AttachSlotCapacity;
}
// The anim-driven local matrix of a frame as the matrix set-up uses it: with one active entry
// (linked, rate not 0) that state's matrix, with several the row-normalised matrix blend around
// the base local matrix. Returns the number of active entries; *out is untouched for 0.
int MV1AnimFrameLocalMatrix(MV1Model* model, MV1Frame* frame, Matrix3x4* out);
// The local matrix the frame query reports: as above, except that several active entries without
// key matrices whose flags combine neither 4 with 8 nor 4 with 32 blend their components. The
// base local matrix when none is active.
void MV1AnimFrameQueryLocalMatrix(MV1Model* model, MV1Frame* frame, Matrix3x4* out);

// ---- Script calls: 0 / value, -1 (-1.0, null) for a bad handle, slot or index ----

// Attaches anim `animIndex` of the source model's base (-1: this model, no name matching).
// The slot index, or -1 with the attachments as they were.
int MV1AttachAnim(int modelHandle, int animIndex, int srcModelHandle, int nameCheck);
// Frees the slot's state when in use; always invalidates the matrices.
int MV1DetachAnim(int modelHandle, int attachIndex);
int MV1SetAttachAnimTime(int modelHandle, int attachIndex, float time);
float MV1GetAttachAnimTime(int modelHandle, int attachIndex);
float MV1GetAttachAnimTotalTime(int modelHandle, int attachIndex);
// Writes the rate into the slot's entry of every frame row.
int MV1SetAttachAnimBlendRate(int modelHandle, int attachIndex, float rate);
// Frame 0's rate; -1.0 also for a base without frames.
float MV1GetAttachAnimBlendRate(int modelHandle, int attachIndex);
int MV1GetAttachAnim(int modelHandle, int attachIndex);
int MV1GetAnimNum(int modelHandle);
const char* MV1GetAnimName(int modelHandle, int animIndex);
int MV1GetAnimIndex(int modelHandle, const char* name);
float MV1GetAnimTotalTime(int modelHandle, int animIndex);
