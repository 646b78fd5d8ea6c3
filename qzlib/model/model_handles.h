// Model system: the two handle tables (model bases and models), start and end, the handle check
// every model entry point makes, and two small allocation services of the importers (the chunk
// list and the bit-range cursor).
//
// A slot holds null (free), the value 1 (reserved: handed out, not yet filled) or the record.
// Handles: model base = index | 0x08000000, model = index | 0x10000000; no check number. The
// model table stops at 0x10000 slots and the base table at 0x20000, so the allocators never hand
// out an index the checks refuse.
#pragma once
#include <cstdint>

struct MV1Model;
struct MV1ModelBase;

constexpr int MV1_MODEL_HANDLE_TAG = 0x10000000;
constexpr int MV1_MODEL_BASE_HANDLE_TAG = 0x08000000;
constexpr int MV1_HANDLE_TAG_MASK = 0x78000000;
constexpr int MV1_HANDLE_INDEX_MASK = 0x1FFFF;
constexpr int MV1_MODEL_INDEX_LIMIT = 0x10000;
constexpr int MV1_MODEL_BASE_INDEX_LIMIT = 0x20000;
constexpr int MV1_HANDLE_TABLE_GROWTH = 1024;
// The value of a reserved slot.
#define MV1_RESERVED_SLOT (reinterpret_cast<void*>(static_cast<uintptr_t>(1)))

// One handle table.
struct MV1HandleTable {
  void** Slot;
  int Capacity;
  int Count;               // reserved or filled slots
  int Hint;                // slot handed out last; the next search starts there
};

extern uint8_t MV1SystemInitFlag;
extern float MV1LoadSmoothingAngle;        // 1.5620697 (89.5 degrees) after start
extern int MV1LoadRecalcNormalsFlag;       // 0; nothing sets it
extern int MV1LoadOptimizeVerticesFlag;    // 0; nothing sets it
extern MV1HandleTable MV1ModelBaseTable;
extern MV1HandleTable MV1ModelTable;

// Starts the model system when drawing goes through Direct3D: fills the sine table, clears both
// tables, sets the smoothing angle. Returns 0 (also when it does nothing).
int InitModelSystem();
// Deletes every model, then every base, frees both tables. Returns 0 (also when not started).
int MV1TerminateModelSystem();

// Reserves a slot (growing the table by 1024 when full) and returns its handle, or -1 when the
// table cannot grow or every index the check accepts is taken.
int MV1AddModelBaseHandle();
int MV1AddModelHandle();

// The handle check of every model entry point: system started, index below the capacity, the
// tag, (models) index below 0x10000, a filled slot (neither null nor reserved). The record or null.
MV1Model* MV1GetModelChecked(int modelHandle);
MV1ModelBase* MV1GetModelBaseChecked(int baseHandle);
// The same check without the system-started test (for calls that do not make it).
MV1Model* MV1GetModelCheckedNoInit(int modelHandle);
MV1ModelBase* MV1GetModelBaseCheckedNoInit(int baseHandle);

// The slot of a handle whose index is below the capacity (and the limit) and whose tag matches,
// when it is not null (it may hold MV1_RESERVED_SLOT); else null. No system-flag test.
void** MV1HandleSlot(MV1HandleTable* table, int handle, int tag, int limit);
// Empties a slot of the table and lowers its count.
void MV1ReleaseHandleSlot(MV1HandleTable* table, void** slot);

// The model system's own release of a base (model deletion, detaching an animation, engine
// end, clean-up of a failed load or conversion): a reserved slot is cleared; otherwise one
// reference is dropped and the base freed when none remains (also when it had none). 0, -1 on
// a bad handle.
int MV1ReleaseModelBase(int baseHandle);

// ---- Chunk list ----

// A chunk: two pointer-sized words (the data pointer and the next chunk), then the data, which
// stays 16-byte aligned.
struct ChunkListHeader {
  void* Data;
  ChunkListHeader* Next;
};

// size zeroed bytes taken from tracked memory and linked in front of *head, or null (with a log
// line) when memory runs out.
void* ChunkListAlloc(size_t size, void** head);
// Unlinks and frees the chunk whose data is data (a walk from the newest chunk); a pointer that
// starts no chunk of the list is left alone. true when a chunk was freed.
bool ChunkListFree(void* data, void** head);
// Frees, in one walk from the newest chunk, the chunks whose data is one of data[0..count); the
// entry of each freed chunk becomes null, the others (null, or starting no chunk) stay. The
// number of chunks freed.
int ChunkListFreeSome(void** data, int count, void** head);
// Frees every chunk of the list and sets *head to null.
void ChunkListFreeAll(void** head);

// ---- Bit-range cursor ----

struct BitRangeCursor {
  int WordIndex;           // first bit / 32
  uint32_t* Words;         // the array passed (positioned at the word of the first bit)
  int WordCount;           // (first bit % 32 + count + 31) / 32
  uint32_t Mask;           // 1 << (first bit % 32)
};

// Fills the cursor; with a non-null array, clears its first word and sets count consecutive bits
// from the mask on (later words are only ORed).
void BitRangeSetup(BitRangeCursor* cursor, uint32_t* words, int firstBit, int count);
