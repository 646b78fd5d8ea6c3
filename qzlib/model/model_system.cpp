#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/graphics/graph.h>
#include <qzlib/graphics/graphics3d.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_buffers.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/model/model_texture.h>
#include <qzlib/base/engine_texts.h>

uint8_t MV1SystemInitFlag = 0;
float MV1LoadSmoothingAngle = 0.0f;
int MV1LoadRecalcNormalsFlag = 0;
int MV1LoadOptimizeVerticesFlag = 0;
MV1HandleTable MV1ModelBaseTable = {nullptr, 0, 0, 0};
MV1HandleTable MV1ModelTable = {nullptr, 0, 0, 0};

namespace {

void ClearTable(MV1HandleTable* t) {
  t->Slot = nullptr;
  t->Capacity = 0;
  t->Count = 0;
  t->Hint = 0;
}

// Reserves a slot of the table whose indices stop at limit; -1 when it cannot.
int AddHandle(MV1HandleTable* t, int limit, int tag) {
  if (t->Count >= limit) return -1;
  if (t->Count == t->Capacity) {
    int newCapacity = t->Capacity + MV1_HANDLE_TABLE_GROWTH;
    if (newCapacity > limit) newCapacity = limit;
    void** slots = static_cast<void**>(MEM_REALLOC(t->Slot, sizeof(void*) * newCapacity));
    if (!slots) return -1;
    for (int i = t->Capacity; i < newCapacity; ++i) slots[i] = nullptr;
    t->Slot = slots;
    t->Capacity = newCapacity;
  }
  int i = t->Hint;
  if (i < 0 || i >= t->Capacity) i = 0;
  while (t->Slot[i] != nullptr) {
    ++i;
    if (i == t->Capacity) i = 0;
  }
  t->Slot[i] = MV1_RESERVED_SLOT;
  ++t->Count;
  t->Hint = i;
  return i | tag;
}

template <class T>
T* Filled(void* slot) {
  if (slot == nullptr || slot == MV1_RESERVED_SLOT) return nullptr;
  return static_cast<T*>(slot);
}

}  // namespace

void** MV1HandleSlot(MV1HandleTable* table, int handle, int tag, int limit) {
  int index = handle & MV1_HANDLE_INDEX_MASK;
  if (index >= table->Capacity || (handle & MV1_HANDLE_TAG_MASK) != tag || index >= limit)
    return nullptr;
  return table->Slot[index] ? &table->Slot[index] : nullptr;
}

void MV1ReleaseHandleSlot(MV1HandleTable* table, void** slot) {
  *slot = nullptr;
  --table->Count;
}

int InitModelSystem() {
  if (MV1SystemInitFlag || !UseDirect3DFlag) return 0;
  MV1InitSinTable();
  ClearTable(&MV1ModelBaseTable);
  ClearTable(&MV1ModelTable);
  MV1LoadSmoothingAngle = 1.5620697f;
  for (int& graph : MV1BuiltinTextureGraph) graph = -1;
  static const ModelDeviceHooks hooks = {MV1TerminateAllVertexBuffers,
                                         MV1SetupAllModelBaseVertexBuffers, MV1RestoreTextures};
  SetModelDeviceHooks(&hooks);
  MV1SystemInitFlag = 1;
  return 0;
}

int MV1TerminateModelSystem() {
  if (!MV1SystemInitFlag) return 0;
  for (int i = 0; i < MV1ModelTable.Capacity; ++i)
    if (MV1ModelTable.Slot[i] != nullptr) MV1DeleteModel(i | MV1_MODEL_HANDLE_TAG);
  for (int i = 0; i < MV1ModelBaseTable.Capacity; ++i)
    if (MV1ModelBaseTable.Slot[i] != nullptr) MV1ReleaseModelBase(i | MV1_MODEL_BASE_HANDLE_TAG);
  MEM_FREE(MV1ModelBaseTable.Slot);
  ClearTable(&MV1ModelBaseTable);
  MEM_FREE(MV1ModelTable.Slot);
  ClearTable(&MV1ModelTable);
  for (int& graph : MV1BuiltinTextureGraph) {
    if (graph >= 0) DeleteGraph(graph, 0);
    graph = -1;
  }
  SetModelDeviceHooks(nullptr);
  MV1SystemInitFlag = 0;
  return 0;
}

int MV1AddModelBaseHandle() {
  return AddHandle(&MV1ModelBaseTable, MV1_MODEL_BASE_INDEX_LIMIT, MV1_MODEL_BASE_HANDLE_TAG);
}

int MV1AddModelHandle() {
  return AddHandle(&MV1ModelTable, MV1_MODEL_INDEX_LIMIT, MV1_MODEL_HANDLE_TAG);
}

MV1Model* MV1GetModelCheckedNoInit(int modelHandle) {
  void** slot = MV1HandleSlot(&MV1ModelTable, modelHandle, MV1_MODEL_HANDLE_TAG,
                              MV1_MODEL_INDEX_LIMIT);
  return slot ? Filled<MV1Model>(*slot) : nullptr;
}

MV1ModelBase* MV1GetModelBaseCheckedNoInit(int baseHandle) {
  void** slot = MV1HandleSlot(&MV1ModelBaseTable, baseHandle, MV1_MODEL_BASE_HANDLE_TAG,
                              MV1_MODEL_BASE_INDEX_LIMIT);
  return slot ? Filled<MV1ModelBase>(*slot) : nullptr;
}

MV1Model* MV1GetModelChecked(int modelHandle) {
  return MV1SystemInitFlag ? MV1GetModelCheckedNoInit(modelHandle) : nullptr;
}

MV1ModelBase* MV1GetModelBaseChecked(int baseHandle) {
  return MV1SystemInitFlag ? MV1GetModelBaseCheckedNoInit(baseHandle) : nullptr;
}

int MV1GetModelBaseHandle(int modelHandle) {
  MV1Model* model = MV1GetModelChecked(modelHandle);
  return model ? model->BaseHandle : -1;
}

void* ChunkListAlloc(size_t size, void** head) {
  auto* chunk = static_cast<ChunkListHeader*>(MemAllocTracked(sizeof(ChunkListHeader) + size,
                                                              nullptr, 0));
  if (!chunk) {
    WriteLog(TEXT_MV1_CHUNK_ALLOC_FAILED "\n");
    return nullptr;
  }
  std::memset(chunk, 0, sizeof(ChunkListHeader) + size);
  chunk->Data = chunk + 1;
  chunk->Next = static_cast<ChunkListHeader*>(*head);
  *head = chunk;
  return chunk->Data;
}

bool ChunkListFree(void* data, void** head) {
  return ChunkListFreeSome(&data, 1, head) == 1;
}

int ChunkListFreeSome(void** data, int count, void** head) {
  int wanted = 0;
  for (int i = 0; i < count; ++i) wanted += data[i] != nullptr;
  int freed = 0;
  for (auto** link = reinterpret_cast<ChunkListHeader**>(head); *link && freed < wanted;) {
    ChunkListHeader* chunk = *link;
    int i = 0;
    while (i < count && (data[i] == nullptr || chunk->Data != data[i])) ++i;
    if (i == count) {
      link = &chunk->Next;
      continue;
    }
    data[i] = nullptr;
    *link = chunk->Next;
    MEM_FREE(chunk);
    ++freed;
  }
  return freed;
}

void ChunkListFreeAll(void** head) {
  auto* chunk = static_cast<ChunkListHeader*>(*head);
  while (chunk) {
    ChunkListHeader* next = chunk->Next;
    MEM_FREE(chunk);
    chunk = next;
  }
  *head = nullptr;
}

void BitRangeSetup(BitRangeCursor* cursor, uint32_t* words, int firstBit, int count) {
  int bitInWord = firstBit % 32;
  cursor->WordIndex = firstBit / 32;
  cursor->Words = words;
  cursor->WordCount = (bitInWord + count + 31) / 32;
  cursor->Mask = 1u << (bitInWord & 31);
  if (!words) return;
  words[0] = 0;
  // a word at a time: a frame's mask covers its whole subtree, so deep trees set many bits
  uint32_t* w = words;
  int bit = bitInWord & 31;
  for (int left = count; left > 0; bit = 0, ++w) {
    const int take = left < 32 - bit ? left : 32 - bit;
    *w |= (take == 32 ? 0xFFFFFFFFu : (1u << take) - 1u) << bit;
    left -= take;
  }
}
