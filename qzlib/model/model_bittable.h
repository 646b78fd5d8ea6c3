// Bit tables: a row per item, a bit per bone; used by the converter while grouping bones.
//
// Bytes per row = (bits per row + 7) / 8 + 1; the last byte of a row is its used flag; bit b lives
// in byte b / 8 under mask 1 << (b % 8).
#pragma once
#include <cstdint>

struct BitTable {
  int UsedRowCount;
  int RowCount;
  int BitsPerRow;
  int BytesPerRow;
  uint8_t* Rows;
  uint32_t* RowWords;      // one word per row, after the rows in the same block
};

// Sizes the table and takes one zeroed block of (bytes per row + 4) * rows from the chunk list.
// 0, or -1 with the log line (also for negative sizes or a block too large).
int InitBitList(BitTable* table, int bitsPerRow, int rowCount, void** chunkHead);
// Sets a bit; the row's used flag and the used-row count follow. 0.
int BitTableSetBit(BitTable* table, int row, int bit);
// Copies the row's bit bytes into buffer and 0 into the buffer's flag byte. 0.
int BitTableGetRow(const BitTable* table, int row, uint8_t* buffer);
// Copies a whole row image (flag byte included); counts the row when bit 0 of its old flag was
// clear. 0.
int BitTableSetRow(BitTable* table, int row, const uint8_t* image);
// ORs the row's bit bytes (not the flag) into buffer. 0.
int BitTableOrRow(const BitTable* table, int row, uint8_t* buffer);
// Set bits among the bit bytes of a row image (flag byte excluded).
int BitRowCount(const uint8_t* image, int bytesPerRow);
// Writes the numbers of the set bits among the first bits-per-row bits, increasing; returns how
// many. The caller sizes the array.
int BitRowToIndexList(const BitTable* table, int row, uint16_t* indices);
