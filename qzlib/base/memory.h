// Tracked memory: every engine allocation goes through here.
//
// All blocks form one list (oldest first) under one lock, with totals; EndLibrary writes every
// block still held to the log. Each block is preceded by a MemBlockHeader and is 16-byte aligned.
// Tests can make the Nth allocation fail, make every shrink move, and count the live blocks.
#pragma once
#include <cstddef>
#include <cstdint>

struct MemBlockHeader {
  char FileName[16];        // last 15 characters of the source file name, zero-terminated
  uint64_t AllocNumber;     // running number of the allocation
  int32_t Line;             // source line
  uint32_t Reserved;
  uint64_t Size;            // requested byte size
  MemBlockHeader* Older;    // previous block in the list (null for the oldest)
  MemBlockHeader* Newer;    // next block in the list (null for the newest)
  uint8_t Guard[32];        // copy of the first 32 header bytes, checked on free
};

// A block of tracked memory, or null when memory runs out (or the test hook says so).
void* MemAllocTracked(size_t size, const char* file, int line);
// As MemAllocTracked, the block cleared to zero.
void* MemCallocTracked(size_t size, const char* file, int line);
// Moves the block to the new size keeping its contents; null on failure with the old block still
// valid. A null block allocates. A smaller size shrinks the block, mostly where it is (its tail
// goes back to the C library, which may move it; it keeps its number and its place among the live
// blocks).
void* MemReallocTracked(void* block, size_t size, const char* file, int line);
// Frees a tracked block; null is ignored.
void MemFreeTracked(void* block);

// The requested size of a live tracked block.
size_t MemBlockSize(const void* block);

// Writes every block still held (file, line, number, size) and the totals to the log.
void MemDumpToLog();

// Totals of what is held now.
size_t MemLiveBlockCount();
size_t MemLiveBytes();
// The most bytes held at once since the last MemResetPeak (or the start); MemResetPeak starts a
// new measurement from what is held now.
size_t MemPeakBytes();
void MemResetPeak();

// Test hook: the nth allocation from now fails (1 = the next one); 0 turns it off.
// The hook fires once and then turns itself off.
void MemSetFailAt(long n);
// Test hook: with on, every shrink moves the block to a new one (as some C libraries do), keeping
// its number, contents and place in the list; returns the setting it replaces.
bool MemSetShrinkMoves(bool on);
// Number of allocations attempted since the process started (successful or not).
uint64_t MemAllocAttempts();

#define MEM_ALLOC(size) MemAllocTracked((size), __FILE__, __LINE__)
#define MEM_CALLOC(size) MemCallocTracked((size), __FILE__, __LINE__)
#define MEM_REALLOC(block, size) MemReallocTracked((block), (size), __FILE__, __LINE__)
#define MEM_FREE(block) MemFreeTracked(block)
