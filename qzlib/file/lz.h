// The engine's own LZ block ("LzBlock"), shared by model files and embedded resources. The
// engine only decodes it.
//
// Layout, little-endian: u32 unpacked size, u32 packed size (the whole block, head included),
// u8 escape byte E; then the coded stream up to the packed size. A byte other than E is a
// literal. E followed by 0 is a literal E. E followed by n (1..255) is a match of n + 3 bytes
// copied byte by byte from distance d back in the output (so it may overlap itself), d >= 1
// following as an unsigned LEB128 number of 1 to 4 bytes.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t LZ_HEAD_SIZE = 9;

// Unpacks the block at src (srcSize bytes readable) into dest (destCapacity bytes writable) and
// returns the unpacked size. With a null dest only the head is checked and the unpacked size
// returned. -1 when the block is malformed or does not fit: a packed size below 9 or beyond
// srcSize, an unpacked size above INT32_MAX or beyond destCapacity, a distance of 0 or reaching
// before the start, a fourth LEB128 byte with its high bit set, output beyond the unpacked size,
// a stream ending inside a token, or a total other than the unpacked size. Nothing is read or
// written outside the two ranges; after a failure dest holds an unspecified prefix.
int LzDecode(const void* src, size_t srcSize, void* dest, size_t destCapacity);
