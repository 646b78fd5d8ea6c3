// Bit tables over chunk-list memory.
#include <qzlib/model/model_bittable.h>

#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/popcount.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/base/engine_texts.h>

int InitBitList(BitTable* table, int bitsPerRow, int rowCount, void** chunkHead) {
  table->UsedRowCount = 0;
  if (bitsPerRow < 0 || rowCount < 0) {
    WriteLog(TEXT_MV1_BITLIST_ALLOC_FAILED "\n");
    return -1;
  }
  int bytesPerRow = static_cast<int>((static_cast<int64_t>(bitsPerRow) + 7) / 8 + 1);
  table->RowCount = rowCount;
  table->BitsPerRow = bitsPerRow;
  table->BytesPerRow = bytesPerRow;
  // Computed in 64 bits: a product too large for memory fails the allocation, never wraps.
  uint64_t rowBytes = static_cast<uint64_t>(bytesPerRow) * static_cast<uint64_t>(rowCount);
  uint64_t size = (static_cast<uint64_t>(bytesPerRow) + 4) * static_cast<uint64_t>(rowCount);
  void* block = size > (uint64_t{1} << 40) ? nullptr : ChunkListAlloc(size, chunkHead);
  if (!block) {
    WriteLog(TEXT_MV1_BITLIST_ALLOC_FAILED "\n");
    return -1;
  }
  table->Rows = static_cast<uint8_t*>(block);
  table->RowWords = reinterpret_cast<uint32_t*>(table->Rows + rowBytes);
  return 0;
}

int BitTableSetBit(BitTable* table, int row, int bit) {
  uint8_t* r = table->Rows + static_cast<size_t>(row) * table->BytesPerRow;
  r[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  uint8_t* used = r + table->BytesPerRow - 1;
  if (*used == 0) {
    *used = 1;
    ++table->UsedRowCount;
  }
  return 0;
}

int BitTableGetRow(const BitTable* table, int row, uint8_t* buffer) {
  const uint8_t* r = table->Rows + static_cast<size_t>(row) * table->BytesPerRow;
  std::memcpy(buffer, r, table->BytesPerRow - 1);
  buffer[table->BytesPerRow - 1] = 0;
  return 0;
}

int BitTableSetRow(BitTable* table, int row, const uint8_t* image) {
  uint8_t* r = table->Rows + static_cast<size_t>(row) * table->BytesPerRow;
  bool wasUsed = (r[table->BytesPerRow - 1] & 1) != 0;
  std::memcpy(r, image, table->BytesPerRow);
  if (!wasUsed) ++table->UsedRowCount;
  return 0;
}

int BitTableOrRow(const BitTable* table, int row, uint8_t* buffer) {
  const uint8_t* r = table->Rows + static_cast<size_t>(row) * table->BytesPerRow;
  for (int i = 0; i < table->BytesPerRow - 1; ++i) buffer[i] |= r[i];
  return 0;
}

int BitRowCount(const uint8_t* image, int bytesPerRow) {
  int count = 0;
  for (int i = 0; i < bytesPerRow - 1; ++i) count += PopCount(image[i]);
  return count;
}

int BitRowToIndexList(const BitTable* table, int row, uint16_t* indices) {
  const uint8_t* r = table->Rows + static_cast<size_t>(row) * table->BytesPerRow;
  int n = 0;
  for (int b = 0; b < table->BitsPerRow; ++b)
    if (r[b / 8] & (1u << (b % 8))) indices[n++] = static_cast<uint16_t>(b);
  return n;
}
