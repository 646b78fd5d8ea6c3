#include <cstdint>
#include <cstring>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include "tests/support/test_support.h"

class MemoryTest : public LeakCheckedTest {};

TEST_F(MemoryTest, BlocksAreAlignedCountedAndFreed) {
  size_t before = MemLiveBlockCount();
  void* a = MEM_ALLOC(3);
  void* b = MEM_CALLOC(100);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(static_cast<uint8_t*>(b)[i], 0);
  EXPECT_EQ(MemLiveBlockCount(), before + 2);
  MemFreeTracked(a);
  MemFreeTracked(b);
  MemFreeTracked(nullptr);
  EXPECT_EQ(MemLiveBlockCount(), before);
}

TEST_F(MemoryTest, ReallocKeepsContentsAndFailureKeepsOldBlock) {
  auto* p = static_cast<uint8_t*>(MEM_ALLOC(8));
  ASSERT_NE(p, nullptr);
  std::memcpy(p, "abcdefgh", 8);
  MemSetFailAt(1);
  EXPECT_EQ(MEM_REALLOC(p, 64), nullptr);
  EXPECT_EQ(std::memcmp(p, "abcdefgh", 8), 0);
  auto* q = static_cast<uint8_t*>(MEM_REALLOC(p, 64));
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(std::memcmp(q, "abcdefgh", 8), 0);
  MemFreeTracked(q);
}

// A shrink keeps the block's contents, number and place among the live blocks (oldest, middle,
// newest), gives its bytes back to the count, and can be failed like any allocation.
TEST_F(MemoryTest, ShrinkKeepsTheBlockInItsPlace) {
  const size_t headerBytes = (sizeof(MemBlockHeader) + 15) & ~size_t(15);
  auto header = [&](void* p) {
    return reinterpret_cast<MemBlockHeader*>(static_cast<uint8_t*>(p) - headerBytes);
  };
  for (int which = 0; which < 3; ++which)
    for (size_t from : {size_t(64), size_t(300000)}) {  // a small and a large block
      uint8_t* b[3];
      for (int i = 0; i < 3; ++i) {
        b[i] = static_cast<uint8_t*>(MEM_ALLOC(from));
        ASSERT_NE(b[i], nullptr);
        for (size_t k = 0; k < from; ++k) b[i][k] = static_cast<uint8_t>(k * 7 + i);
      }
      const uint64_t number = header(b[which])->AllocNumber;
      const size_t bytes = MemLiveBytes();
      MemSetFailAt(1);
      EXPECT_EQ(MEM_REALLOC(b[which], 40), nullptr);
      EXPECT_EQ(MemLiveBytes(), bytes);
      auto* s = static_cast<uint8_t*>(MEM_REALLOC(b[which], 40));
      ASSERT_NE(s, nullptr);
      b[which] = s;
      EXPECT_EQ(MemBlockSize(s), 40u);
      EXPECT_EQ(MemLiveBytes(), bytes - (from - 40));
      EXPECT_EQ(header(s)->AllocNumber, number);
      for (size_t k = 0; k < 40; ++k) ASSERT_EQ(s[k], static_cast<uint8_t>(k * 7 + which)) << which;
      for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(header(b[i])->Newer == header(b[i + 1]) && header(b[i + 1])->Older == header(b[i]))
            << which;
      LogCaptureBegin();
      for (uint8_t* p : b) MemFreeTracked(p);
      EXPECT_EQ(LogCaptureEnd(), "") << which;  // every guard intact
    }
}

TEST_F(MemoryTest, FailAtHitsExactlyTheNthAllocation) {
  MemSetFailAt(3);
  void* a = MEM_ALLOC(1);
  void* b = MEM_ALLOC(1);
  void* c = MEM_ALLOC(1);
  void* d = MEM_ALLOC(1);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  MemFreeTracked(a);
  MemFreeTracked(b);
  MemFreeTracked(d);
}

TEST_F(MemoryTest, DumpListsHeldBlocksWithFileTail) {
  void* a = MemAllocTracked(5, "some/very/long/path/name_of_file.cpp", 42);
  LogCaptureBegin();
  MemDumpToLog();
  std::string text = LogCaptureEnd();
  EXPECT_NE(text.find("me_of_file.cpp"), std::string::npos) << text;
  EXPECT_NE(text.find("(   42)"), std::string::npos) << text;
  MemFreeTracked(a);
}

TEST_F(MemoryTest, HeaderKeepsTheRecordAndItsGuard) {
  const size_t headerBytes = (sizeof(MemBlockHeader) + 15) & ~size_t(15);
  auto* a = static_cast<uint8_t*>(MemAllocTracked(10, "dir/abcdefghijklmnopq.cpp", 5));
  auto* b = static_cast<uint8_t*>(MemReallocTracked(nullptr, 20, nullptr, 6));  // null allocates
  ASSERT_TRUE(a && b);
  auto* ha = reinterpret_cast<MemBlockHeader*>(a - headerBytes);
  auto* hb = reinterpret_cast<MemBlockHeader*>(b - headerBytes);
  EXPECT_STREQ(ha->FileName, "ghijklmnopq.cpp");
  EXPECT_STREQ(hb->FileName, "");
  EXPECT_TRUE(ha->Line == 5 && ha->Size == 10 && hb->AllocNumber == ha->AllocNumber + 1);
  EXPECT_TRUE(hb->Older == ha && ha->Newer == hb);
  MemBlockHeader* older = ha->Older;
  MemFreeTracked(a);
  EXPECT_EQ(hb->Older, older);
  hb->Line ^= 0x100;  // as an overrun of the block before it would
  LogCaptureBegin();
  MemFreeTracked(b);
  std::string text = LogCaptureEnd();
  EXPECT_NE(text.find("destroyed"), std::string::npos) << text;
}
