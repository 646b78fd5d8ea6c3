// Streams handed to decoders: six operations over a handle, one set over file handles of the
// file layer and one over a memory block (MemStream).
#pragma once
#include <cstddef>
#include <cstdint>

struct StreamFunctionTable {
  int64_t (*Tell)(void* handle);
  int (*Seek)(void* handle, int64_t offset, int origin);  // origin 0 start, 1 current, 2 end
  size_t (*Read)(void* buffer, size_t elementSize, size_t count, void* handle);  // whole elements
  int (*Eof)(void* handle);        // 1 at or past the end
  int (*IdleCheck)(void* handle);  // 1 when nothing is pending
  int (*Close)(void* handle);
};

// A memory block read as a stream. The block stays the caller's.
struct MemStream {
  const uint8_t* Data;
  size_t Size;
  size_t Position;
  int32_t EndFlag;  // 1 once the position has reached the end
};

// The set over file-layer handles (the handle is a FileHandle cast to void*); Close closes it.
extern const StreamFunctionTable FileStreamFunctions;
// The set over MemStream records (the handle is a MemStream*). A seek outside 0..Size fails
// (-1) and keeps the position. Close does nothing.
extern const StreamFunctionTable MemStreamFunctions;

// Sets a MemStream over data (size bytes), at position 0. Returns 0.
int OpenMemStream(MemStream* stream, const void* data, size_t size);
