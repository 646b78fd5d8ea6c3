// The pool of a read model.
#include "engine/modelimport/readmodel_pool.h"

#include <cstddef>

#include "engine/base/memory.h"

namespace {
// Each block starts with the link to the block made before it; the data follows 16 bytes in.
constexpr uint64_t kHeader = 16;
}  // namespace

void* ReadModelPoolAlloc(void** head, uint64_t size) {
  if (size > UINT64_MAX / 2 || size + kHeader > SIZE_MAX) return nullptr;
  auto* block = static_cast<unsigned char*>(MEM_CALLOC(static_cast<size_t>(size + kHeader)));
  if (!block) return nullptr;
  *reinterpret_cast<void**>(block) = *head;
  *head = block;
  return block + kHeader;
}

void ReadModelPoolFreeAll(void** head) {
  void* block = *head;
  while (block) {
    void* older = *static_cast<void**>(block);
    MEM_FREE(block);
    block = older;
  }
  *head = nullptr;
}
