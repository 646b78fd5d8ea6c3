// Test-only encoder of the engine's LZ block (qzlib/file/lz.h), which the engine only decodes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The block of an unpacked size, escape byte and coded stream (head included).
std::vector<uint8_t> LzBlock(uint32_t unpacked, uint8_t escape, const std::vector<uint8_t>& stream);

// Greedy longest match (ties to the nearest) among the last 256 earlier positions with the same
// first four bytes inside the window. The escape byte is the least frequent byte of the input, or
// forceEscape when it is 0..255 (every literal of that value then costs two bytes).
std::vector<uint8_t> LzEncode(const std::vector<uint8_t>& in, size_t window = 1 << 16,
                              int forceEscape = -1);

// A block of literals only (escape 0xFF: each 0xFF byte written as 0xFF 0).
std::vector<uint8_t> LzEncodeLiterals(const std::vector<uint8_t>& in);

// The most frequent byte of the input.
uint8_t LzMostFrequentByte(const std::vector<uint8_t>& in);
