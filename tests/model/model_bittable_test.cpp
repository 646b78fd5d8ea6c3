// Bit tables.
#include <gtest/gtest.h>

#include <qzlib/base/log.h>
#include <qzlib/model/model_bittable.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/test_support.h"

namespace {

using BitTableTest = LeakCheckedTest;

TEST_F(BitTableTest, RowsFlagsAndCounts) {
  void* head = nullptr;
  BitTable t;
  ASSERT_EQ(InitBitList(&t, 16, 4, &head), 0);
  EXPECT_EQ(t.BytesPerRow, 3);  // 16 bits and the flag byte
  EXPECT_EQ(t.RowCount, 4);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(t.RowWords), t.Rows + 12);
  BitTableSetBit(&t, 1, 0);
  BitTableSetBit(&t, 1, 9);
  BitTableSetBit(&t, 1, 15);
  BitTableSetBit(&t, 1, 9);  // the same row counts once
  EXPECT_EQ(t.UsedRowCount, 1);
  EXPECT_EQ(t.Rows[3], 0x01);
  EXPECT_EQ(t.Rows[4], 0x82);
  EXPECT_EQ(t.Rows[5], 1);
  uint16_t idx[16];
  EXPECT_EQ(BitRowToIndexList(&t, 1, idx), 3);
  EXPECT_EQ(idx[0], 0);
  EXPECT_EQ(idx[1], 9);
  EXPECT_EQ(idx[2], 15);
  uint8_t buf[3] = {0xF0, 0, 0x55};
  BitTableGetRow(&t, 1, buf);
  EXPECT_EQ(buf[0], 0x01);
  EXPECT_EQ(buf[1], 0x82);
  EXPECT_EQ(buf[2], 0);  // the flag byte of the copy is 0
  EXPECT_EQ(BitRowCount(buf, 3), 3);
  uint8_t orBuf[3] = {0x10, 0x01, 0x77};
  BitTableOrRow(&t, 1, orBuf);
  EXPECT_EQ(orBuf[0], 0x11);
  EXPECT_EQ(orBuf[1], 0x83);
  EXPECT_EQ(orBuf[2], 0x77);  // the flag stays alone
  // A row image with its flag: copied whole; the row counts when its old flag was clear.
  uint8_t image[3] = {0xFF, 0x00, 0x01};
  BitTableSetRow(&t, 2, image);
  EXPECT_EQ(t.UsedRowCount, 2);
  BitTableSetRow(&t, 2, image);
  EXPECT_EQ(t.UsedRowCount, 2);
  BitTableSetRow(&t, 1, image);
  EXPECT_EQ(t.UsedRowCount, 2);
  EXPECT_EQ(BitRowToIndexList(&t, 1, idx), 8);
  // Bits past the bits-per-row count are never reported.
  BitTable u;
  ASSERT_EQ(InitBitList(&u, 10, 1, &head), 0);
  u.Rows[1] = 0xFF;
  EXPECT_EQ(BitRowToIndexList(&u, 0, idx), 2);
  ChunkListFreeAll(&head);
}

TEST_F(BitTableTest, BadSizesAndFailedAllocationsLogAndFail) {
  void* head = nullptr;
  BitTable t;
  struct Case {
    int bits, rows;
  } cases[] = {{-1, 4}, {16, -1}, {0x7FFFFFF0, 0x7FFFFFF0}};
  for (const Case& c : cases) {
    LogCaptureBegin();
    EXPECT_EQ(InitBitList(&t, c.bits, c.rows, &head), -1);
    EXPECT_EQ(LogCaptureTextWithoutStamps(), std::string(TEXT_MV1_BITLIST_ALLOC_FAILED "\r\n"));
    LogCaptureEnd();
    EXPECT_EQ(head, nullptr);
  }
  int points = ForEachAllocationFailure([&] {
    LogCaptureBegin();
    int r = InitBitList(&t, 40, 10, &head);
    std::string log = LogCaptureTextWithoutStamps();
    LogCaptureEnd();
    if (r != 0) {
      EXPECT_NE(log.find(TEXT_MV1_BITLIST_ALLOC_FAILED), std::string::npos);
      return false;
    }
    ChunkListFreeAll(&head);
    return true;
  });
  EXPECT_EQ(points, 1);
}

}  // namespace
