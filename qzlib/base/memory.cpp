#include <qzlib/base/memory.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include <qzlib/base/log.h>

namespace {

// Header size rounded up so that the block after it stays 16-byte aligned.
constexpr size_t kHeaderSize = (sizeof(MemBlockHeader) + 15) & ~size_t(15);

std::recursive_mutex g_lock;
MemBlockHeader* g_oldest = nullptr;
MemBlockHeader* g_newest = nullptr;
size_t g_liveBlocks = 0;
size_t g_liveBytes = 0;
size_t g_peakBytes = 0;
uint64_t g_allocNumber = 0;
uint64_t g_attempts = 0;
long g_failAt = 0;
bool g_shrinkMoves = false;

bool ShouldFail() {
  ++g_attempts;
  if (g_failAt > 0) {
    if (--g_failAt == 0) return true;
  }
  return false;
}

void SetGuard(MemBlockHeader* h) { std::memcpy(h->Guard, h, sizeof(h->Guard)); }

void Link(MemBlockHeader* h) {
  h->Older = g_newest;
  h->Newer = nullptr;
  if (g_newest) {
    g_newest->Newer = h;
    SetGuard(g_newest);
  } else {
    g_oldest = h;
  }
  g_newest = h;
  SetGuard(h);
  ++g_liveBlocks;
  g_liveBytes += h->Size;
  if (g_liveBytes > g_peakBytes) g_peakBytes = g_liveBytes;
}

void Unlink(MemBlockHeader* h) {
  if (h->Older) {
    h->Older->Newer = h->Newer;
    SetGuard(h->Older);
  } else {
    g_oldest = h->Newer;
  }
  if (h->Newer) {
    h->Newer->Older = h->Older;
    SetGuard(h->Newer);
  } else {
    g_newest = h->Older;
  }
  --g_liveBlocks;
  g_liveBytes -= h->Size;
}

void FillHeader(MemBlockHeader* h, size_t size, const char* file, int line) {
  std::memset(h, 0, sizeof(*h));
  if (file) {
    size_t n = std::strlen(file);
    const char* tail = n > 15 ? file + n - 15 : file;
    std::memcpy(h->FileName, tail, std::strlen(tail));
  }
  h->AllocNumber = ++g_allocNumber;
  h->Line = line;
  h->Size = size;
}

MemBlockHeader* HeaderOf(void* block) {
  return reinterpret_cast<MemBlockHeader*>(static_cast<uint8_t*>(block) - kHeaderSize);
}

void CheckGuard(MemBlockHeader* h) {
  if (std::memcmp(h->Guard, h, sizeof(h->Guard)) != 0) {
    WriteLogFmt("Memory block header destroyed: number %llu, %s(%d)",
                static_cast<unsigned long long>(h->AllocNumber), h->FileName, h->Line);
  }
}

// The block cut down to `size` bytes behind its header, by the C library (mostly where it is), or
// with shrinks moving as a copy in a new block, the old one freed; null when there is no memory,
// the block left as it was. The list still points at the old place.
MemBlockHeader* Shrink(MemBlockHeader* h, size_t size) {
  const size_t bytes = (kHeaderSize + size + 15) & ~size_t(15);
  if (!g_shrinkMoves) return static_cast<MemBlockHeader*>(std::realloc(h, bytes));
  auto* moved = static_cast<MemBlockHeader*>(std::aligned_alloc(16, bytes));
  if (!moved) return nullptr;
  std::memcpy(moved, h, kHeaderSize + size);
  std::free(h);
  return moved;
}

}  // namespace

void* MemAllocTracked(size_t size, const char* file, int line) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  if (ShouldFail()) return nullptr;
  if (size > SIZE_MAX - kHeaderSize - 16) return nullptr;
  void* raw = std::aligned_alloc(16, (kHeaderSize + size + 15) & ~size_t(15));
  if (!raw) return nullptr;
  auto* h = static_cast<MemBlockHeader*>(raw);
  FillHeader(h, size, file, line);
  Link(h);
  return static_cast<uint8_t*>(raw) + kHeaderSize;
}

void* MemCallocTracked(size_t size, const char* file, int line) {
  void* p = MemAllocTracked(size, file, line);
  if (p) std::memset(p, 0, size);
  return p;
}

void* MemReallocTracked(void* block, size_t size, const char* file, int line) {
  if (!block) return MemAllocTracked(size, file, line);
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  MemBlockHeader* h = HeaderOf(block);
  if (size <= h->Size) {  // shrinks, mostly where it is: the tail goes back to the C library
    if (ShouldFail()) return nullptr;
    CheckGuard(h);
    auto* moved = Shrink(h, size);
    if (!moved) return block;  // the block stays as it was
    // the block keeps its place in the list, where it may have moved to
    if (moved->Older) {
      moved->Older->Newer = moved;
      SetGuard(moved->Older);
    } else {
      g_oldest = moved;
    }
    if (moved->Newer) {
      moved->Newer->Older = moved;
      SetGuard(moved->Newer);
    } else {
      g_newest = moved;
    }
    g_liveBytes -= moved->Size - size;
    moved->Size = size;
    SetGuard(moved);
    return reinterpret_cast<uint8_t*>(moved) + kHeaderSize;
  }
  void* fresh = MemAllocTracked(size, file, line);
  if (!fresh) return nullptr;
  MemBlockHeader* old = HeaderOf(block);
  std::memcpy(fresh, block, old->Size < size ? old->Size : size);
  MemFreeTracked(block);
  return fresh;
}

void MemFreeTracked(void* block) {
  if (!block) return;
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  MemBlockHeader* h = HeaderOf(block);
  CheckGuard(h);
  Unlink(h);
  std::free(h);
}

void MemDumpToLog() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  for (MemBlockHeader* h = g_oldest; h; h = h->Newer) {
    WriteLogFmt("%-15s(%5d) number %8llu size %10llu", h->FileName, h->Line,
                static_cast<unsigned long long>(h->AllocNumber),
                static_cast<unsigned long long>(h->Size));
  }
  WriteLogFmt("Blocks held: %llu, bytes held: %llu", static_cast<unsigned long long>(g_liveBlocks),
              static_cast<unsigned long long>(g_liveBytes));
}

size_t MemLiveBlockCount() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return g_liveBlocks;
}

size_t MemBlockSize(const void* block) {
  return HeaderOf(const_cast<void*>(block))->Size;
}

size_t MemPeakBytes() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  return g_peakBytes;
}

void MemResetPeak() {
  std::lock_guard<std::recursive_mutex> guard(g_lock);
  g_peakBytes = g_liveBytes;
}

size_t MemLiveBytes() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return g_liveBytes;
}

bool MemSetShrinkMoves(bool on) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  const bool was = g_shrinkMoves;
  g_shrinkMoves = on;
  return was;
}

void MemSetFailAt(long n) {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  g_failAt = n > 0 ? n : 0;
}

uint64_t MemAllocAttempts() {
  std::lock_guard<std::recursive_mutex> lock(g_lock);
  return g_attempts;
}
