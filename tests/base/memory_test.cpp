#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <qzlib/base/log.h>
#include <qzlib/base/memory.h>
#include "tests/support/test_support.h"

class MemoryTest : public LeakCheckedTest {};

namespace {

// Whether the C library shrinks a block of `bytes` to `to` bytes where it is. The addresses are
// kept as numbers, each taken while its block lives.
bool LibraryShrinksInPlace(size_t bytes, size_t to) {
  void* raw = std::aligned_alloc(16, bytes);
  volatile uintptr_t at = reinterpret_cast<uintptr_t>(raw);
  void* cut = std::realloc(raw, to);
  volatile uintptr_t now = reinterpret_cast<uintptr_t>(cut);
  std::free(cut);
  return now == at;
}

}  // namespace

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
// newest), gives its bytes back to the count, and can be failed like any allocation. With shrinks
// moving the block is a new one each time; switched off, it is wherever the C library's realloc
// leaves such a block (a sanitizer's moves it, this machine's C library does not).
TEST_F(MemoryTest, ShrinkKeepsTheBlockInItsPlace) {
  const size_t headerBytes = (sizeof(MemBlockHeader) + 15) & ~size_t(15);
  auto header = [&](void* p) {
    return reinterpret_cast<MemBlockHeader*>(static_cast<uint8_t*>(p) - headerBytes);
  };
  // The blocks counted by a walk from h to both ends, each link matched by its way back; the ends
  // in *oldest and *newest.
  auto walk = [](MemBlockHeader* h, MemBlockHeader** oldest, MemBlockHeader** newest) {
    size_t count = 1;
    for (*oldest = h; (*oldest)->Older; *oldest = (*oldest)->Older, ++count)
      if ((*oldest)->Older->Newer != *oldest) return size_t(0);
    for (*newest = h; (*newest)->Newer; *newest = (*newest)->Newer, ++count)
      if ((*newest)->Newer->Older != *newest) return size_t(0);
    return count;
  };
  for (bool moves : {true, false})
    for (int which = 0; which < 3; ++which)
      for (size_t from : {size_t(64), size_t(300000)}) {  // a small and a large block
        SCOPED_TRACE(testing::Message() << "moves " << moves << " which " << which << " from " << from);
        const bool keptByLibrary = LibraryShrinksInPlace(headerBytes + from, headerBytes + 48);
        ScopedShrinkMoves shrinkMoves(moves);
        uint8_t* b[3];
        for (int i = 0; i < 3; ++i) {
          b[i] = static_cast<uint8_t*>(MEM_ALLOC(from));
          ASSERT_NE(b[i], nullptr);
          for (size_t k = 0; k < from; ++k) b[i][k] = static_cast<uint8_t>(k * 7 + i);
        }
        const uint64_t number = header(b[which])->AllocNumber;
        const size_t bytes = MemLiveBytes(), blocks = MemLiveBlockCount();
        MemSetFailAt(1);
        EXPECT_EQ(MEM_REALLOC(b[which], 40), nullptr);
        EXPECT_EQ(MemLiveBytes(), bytes);
        EXPECT_EQ(MemBlockSize(b[which]), from);
        const auto was = reinterpret_cast<uintptr_t>(b[which]);
        auto* s = static_cast<uint8_t*>(MEM_REALLOC(b[which], 40));
        ASSERT_NE(s, nullptr);
        b[which] = s;
        if (moves || !keptByLibrary) {
          EXPECT_NE(reinterpret_cast<uintptr_t>(s), was);
        } else {
          EXPECT_EQ(reinterpret_cast<uintptr_t>(s), was);
        }
        EXPECT_EQ(reinterpret_cast<uintptr_t>(s) % 16, 0u);
        EXPECT_EQ(MemBlockSize(s), 40u);
        EXPECT_EQ(MemLiveBytes(), bytes - (from - 40));
        EXPECT_EQ(MemLiveBlockCount(), blocks);
        EXPECT_EQ(header(s)->AllocNumber, number);
        for (size_t k = 0; k < 40; ++k) ASSERT_EQ(s[k], static_cast<uint8_t>(k * 7 + which));
        for (int i = 0; i < 2; ++i)
          EXPECT_TRUE(header(b[i])->Newer == header(b[i + 1]) && header(b[i + 1])->Older == header(b[i]));
        // the whole list from the shrunk block, a new block behind the newest, the dump from the
        // oldest
        void* tail = MEM_ALLOC(1);
        ASSERT_NE(tail, nullptr);
        EXPECT_EQ(header(tail)->Older, header(b[2]));
        MemBlockHeader *oldest, *newest;
        EXPECT_EQ(walk(header(s), &oldest, &newest), blocks + 1);
        EXPECT_EQ(newest, header(tail));
        LogCaptureBegin();
        MemDumpToLog();
        const std::string dump = LogCaptureEnd();
        char first[96];
        const int lead = std::snprintf(first, sizeof(first), "%-15s(%5d) ", oldest->FileName, oldest->Line);
        std::snprintf(first + lead, sizeof(first) - lead, "number %8llu size",
                      static_cast<unsigned long long>(oldest->AllocNumber));
        const size_t at = dump.find(first);
        ASSERT_NE(at, std::string::npos) << dump;
        EXPECT_EQ(at + lead, dump.find("number "));
        size_t listed = 0;
        for (size_t line = dump.find("number "); line != std::string::npos; line = dump.find("number ", line + 1))
          ++listed;
        EXPECT_EQ(listed, blocks + 1);
        LogCaptureBegin();
        for (uint8_t* p : b) MemFreeTracked(p);
        MemFreeTracked(tail);
        EXPECT_EQ(LogCaptureEnd(), "");  // every guard intact
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
