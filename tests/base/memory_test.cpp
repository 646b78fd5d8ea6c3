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
