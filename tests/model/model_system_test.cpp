// Model system start and end, handle tables and checks, the chunk list and the bit-range cursor.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>
#include <algorithm>
#include <set>

#include <qzlib/base/log.h>
#include <qzlib/base/draw_state.h>
#include <qzlib/system/library.h>
#include <qzlib/math/matrix3x4.h>
#include <qzlib/model/model.h>
#include <qzlib/model/model_handles.h>
#include <qzlib/base/engine_texts.h>
#include "tests/support/model_test.h"
#include "tests/support/test_support.h"

namespace {

using ModelSystemTest = ModelTest;

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

TEST_F(ModelSystemTest, StartFillsTheSineTableAndTheSmoothingAngle) {
  EXPECT_EQ(MV1SystemInitFlag, 1);
  EXPECT_EQ(Bits(MV1SinTable[0]), Bits(0.0f));
  EXPECT_EQ(MV1SinTable[16384], 1.0f);
  EXPECT_EQ(MV1SinTable[32768], -8.742278e-08f);
  EXPECT_EQ(MV1SinTable[49152], -1.0f);
  EXPECT_EQ(MV1LoadSmoothingAngle, 1.5620697f);
  EXPECT_EQ(MV1LoadRecalcNormalsFlag, 0);
  EXPECT_EQ(MV1LoadOptimizeVerticesFlag, 0);
  EXPECT_EQ(InitModelSystem(), 0);  // already started: nothing
}

TEST_F(ModelSystemTest, TablesGrowByOneThousandTwentyFourAndWrapToFreedSlots) {
  EXPECT_EQ(MV1AddModelHandle(), 0x10000000);
  EXPECT_EQ(MV1ModelTable.Capacity, 1024);
  EXPECT_EQ(MV1AddModelBaseHandle(), 0x08000000);
  for (int i = 1; i < 1024; ++i) ASSERT_EQ(MV1AddModelHandle(), i | 0x10000000);
  EXPECT_EQ(MV1ModelTable.Hint, 1023);
  // Free slot 5 of the full table: the search from hint 1023 wraps to it.
  EXPECT_EQ(MV1DeleteModel(5 | 0x10000000), 0);
  EXPECT_EQ(MV1AddModelHandle(), 5 | 0x10000000);
  EXPECT_EQ(MV1ModelTable.Capacity, 1024);
  // Full again: grows to 2048 and hands out 1024 (search from the hint 5 finds it first).
  MV1ModelTable.Hint = 1023;
  EXPECT_EQ(MV1AddModelHandle(), 1024 | 0x10000000);
  EXPECT_EQ(MV1ModelTable.Capacity, 2048);
  EXPECT_EQ(MV1ModelTable.Count, 1025);
}

TEST_F(ModelSystemTest, AllocatorsStopAtTheIndicesTheChecksAccept) {
  for (int i = 0; i < 0x10000; ++i) ASSERT_NE(MV1AddModelHandle(), -1) << i;
  EXPECT_EQ(MV1ModelTable.Capacity, 0x10000);
  EXPECT_EQ(MV1AddModelHandle(), -1);
  EXPECT_EQ(MV1DeleteModel(0xFFFF | 0x10000000), 0);
  EXPECT_EQ(MV1AddModelHandle(), 0xFFFF | 0x10000000);
  for (int i = 0; i < 0x20000; ++i) ASSERT_NE(MV1AddModelBaseHandle(), -1) << i;
  EXPECT_EQ(MV1ModelBaseTable.Capacity, 0x20000);
  EXPECT_EQ(MV1AddModelBaseHandle(), -1);
}

TEST_F(ModelSystemTest, HandleChecks) {
  int base = ReferenceBaseBuilder().Build();
  ASSERT_EQ(base, 0x08000000);
  int model = MV1AddModelHandle();
  ASSERT_EQ(MV1CreateModelFromBase(model, base), 0);
  int reservedModel = MV1AddModelHandle();
  int reservedBase = MV1AddModelBaseHandle();
  struct Case {
    int handle;
    bool model, base;
  } cases[] = {
      {model, true, false},
      {base, false, true},
      {model | 0x08000000, false, false},   // two tags
      {model & 0x1FFFF, false, false},      // no tag
      {reservedModel, false, false},        // reserved slot
      {reservedBase, false, false},
      {0x10000000 | 1000, false, false},    // empty slot below the capacity
      {0x10000000 | 1024, false, false},    // at the capacity
      {0x10000000 | 0x10000, false, false}, // model index 0x10000
      {static_cast<int>(model | 0x80000000u), true, false},    // bit 31 is not tested
      {-1, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MV1GetModelChecked(c.handle) != nullptr, c.model) << std::hex << c.handle;
    EXPECT_EQ(MV1GetModelBaseChecked(c.handle) != nullptr, c.base) << std::hex << c.handle;
    EXPECT_EQ(MV1GetModelBaseHandle(c.handle), c.model ? base : -1) << std::hex << c.handle;
  }
  // Creation needs a reserved model slot and a filled base slot.
  EXPECT_EQ(MV1CreateModelFromBase(model, base), -1);
  EXPECT_EQ(MV1CreateModelFromBase(reservedModel, reservedBase), -1);
  EXPECT_EQ(MV1CreateModelFromBase(0x10000000 | 1000, base), -1);
  // Deletion accepts the reserved value and refuses past the capacity.
  EXPECT_EQ(MV1DeleteModel(reservedModel), 0);
  EXPECT_EQ(MV1DeleteModel(reservedModel), -1);
  EXPECT_EQ(MV1DeleteModelBase(reservedBase), 0);
  EXPECT_EQ(MV1DeleteModelBase(0x08000000 | 5000), -1);
  EXPECT_EQ(MV1DeleteModelBase(0x08000000 | 0x1FFFF), -1);
  EXPECT_EQ(MV1DeleteModel(0x10000000 | 0x1FFFF), -1);
  // Without a started system every check fails; deletion does not test the flag.
  MV1SystemInitFlag = 0;
  EXPECT_EQ(MV1GetModelChecked(model), nullptr);
  EXPECT_EQ(MV1GetModelBaseChecked(base), nullptr);
  EXPECT_NE(MV1GetModelCheckedNoInit(model), nullptr);
  MV1SystemInitFlag = 1;
}

TEST(ModelSystemStart, SoftwareModeStartsNothingAndTerminateTwiceIsHarmless) {
  size_t blocks = MemLiveBlockCount();
  UseDirect3DFlag = 0;
  EXPECT_EQ(InitModelSystem(), 0);
  EXPECT_EQ(MV1SystemInitFlag, 0);
  EXPECT_EQ(MV1AddModelHandle(), 0x10000000);  // tables exist only as data; checks still fail
  EXPECT_EQ(MV1GetModelChecked(0x10000000), nullptr);
  EXPECT_EQ(MV1DeleteModel(0x10000000), 0);
  MemFreeTracked(MV1ModelTable.Slot);
  MV1ModelTable = MV1HandleTable{nullptr, 0, 0, 0};
  {
    ModelSystemScope scope;
    int base = ReferenceBaseBuilder().Build();
    int model = MV1AddModelHandle();
    ASSERT_EQ(MV1CreateModelFromBase(model, base), 0);
    ASSERT_NE(MV1DuplicateModel(model), -1);
    EXPECT_EQ(MV1TerminateModelSystem(), 0);  // models, then bases, then the tables
    EXPECT_EQ(MV1SystemInitFlag, 0);
    EXPECT_EQ(MV1ModelTable.Slot, nullptr);
    EXPECT_EQ(MV1ModelBaseTable.Capacity, 0);
    EXPECT_EQ(MV1TerminateModelSystem(), 0);
  }
  EXPECT_EQ(MemLiveBlockCount(), blocks);
}

TEST(ModelSystemStart, EngineStartAndEndRunTheModelSystemInDirect3DMode) {
  for (int use3D : {0, 1}) {
    SetUse3DFlag(use3D);
    ASSERT_EQ(InitLibrary(), 0);
    EXPECT_EQ(MV1SystemInitFlag, use3D);
    if (use3D) {
      int h = MV1AddModelHandle();
      EXPECT_EQ(MV1CreateModelFromBase(h, ReferenceBaseBuilder().Build()), 0);
    }
    EXPECT_EQ(EndLibrary(), 0);  // deletes the model and its base
    EXPECT_EQ(MV1SystemInitFlag, 0);
    EXPECT_EQ(MV1ModelBaseTable.Slot, nullptr);
  }
  SetUse3DFlag(0);
}

TEST_F(ModelSystemTest, TableGrowthFailsCleanly) {
  struct Table {
    MV1HandleTable* table;
    int (*add)();
    int (*remove)(int);
  } tables[] = {{&MV1ModelTable, MV1AddModelHandle, MV1DeleteModel},
                {&MV1ModelBaseTable, MV1AddModelBaseHandle, MV1DeleteModelBase}};
  for (const Table& t : tables) {
    int points = ForEachAllocationFailure([&] {
      int h = t.add();
      if (h == -1) {
        EXPECT_EQ(t.table->Capacity, 0);  // left as it was
        return false;
      }
      return t.remove(h) == 0;
    });
    EXPECT_EQ(points, 1);
    EXPECT_EQ(t.table->Capacity, 1024);
    EXPECT_EQ(t.table->Count, 0);
  }
}

TEST_F(ModelSystemTest, ChunkList) {
  void* head = nullptr;
  auto* a = static_cast<uint8_t*>(ChunkListAlloc(40, &head));
  auto* b = static_cast<uint8_t*>(ChunkListAlloc(3, &head));
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(a[i], 0);
  auto* chunk = static_cast<ChunkListHeader*>(head);
  EXPECT_EQ(chunk->Data, b);
  EXPECT_EQ(chunk->Next->Data, a);
  EXPECT_EQ(chunk->Next->Next, nullptr);
  ChunkListFreeAll(&head);
  EXPECT_EQ(head, nullptr);

  // one chunk freed out of the list, wherever it stands; other pointers leave the list alone
  for (int which = 0; which < 4; ++which) {
    void* blocks[4];
    for (int i = 0; i < 4; ++i) ASSERT_NE(blocks[i] = ChunkListAlloc(16 + i, &head), nullptr);
    const size_t live = MemLiveBlockCount();
    int stranger = 0;
    EXPECT_FALSE(ChunkListFree(nullptr, &head));
    EXPECT_FALSE(ChunkListFree(&stranger, &head));
    EXPECT_FALSE(ChunkListFree(static_cast<uint8_t*>(blocks[which]) + 1, &head));
    EXPECT_EQ(MemLiveBlockCount(), live);
    EXPECT_TRUE(ChunkListFree(blocks[which], &head)) << which;
    EXPECT_FALSE(ChunkListFree(blocks[which], &head)) << which;
    EXPECT_EQ(MemLiveBlockCount(), live - 1);
    std::vector<void*> left;  // newest first
    for (auto* c = static_cast<ChunkListHeader*>(head); c; c = c->Next) left.push_back(c->Data);
    std::vector<void*> want;
    for (int i = 3; i >= 0; --i)
      if (i != which) want.push_back(blocks[i]);
    EXPECT_EQ(left, want) << which;
    ChunkListFreeAll(&head);
  }

  // several chunks in one walk: every subset of five, asked for in a seeded order with a null, a
  // pointer into a chunk and one chunk named twice
  std::mt19937 rng(7);
  for (int subset = 0; subset < 32; ++subset) {
    void* blocks[5];
    for (int i = 0; i < 5; ++i) ASSERT_NE(blocks[i] = ChunkListAlloc(8 * i + 1, &head), nullptr);
    const size_t live = MemLiveBlockCount();
    std::vector<void*> asked = {nullptr, static_cast<uint8_t*>(blocks[subset % 5]) + 8};
    int wanted = 0;
    for (int i = 0; i < 5; ++i)
      if (subset >> i & 1) {
        asked.push_back(blocks[i]);
        ++wanted;
      }
    if (wanted > 0) asked.push_back(asked.back());
    std::shuffle(asked.begin(), asked.end(), rng);
    std::vector<void*> given = asked;
    EXPECT_EQ(ChunkListFreeSome(given.data(), static_cast<int>(given.size()), &head), wanted) << subset;
    EXPECT_EQ(MemLiveBlockCount(), live - wanted) << subset;
    // each freed chunk's first entry is cleared; everything else stays as given
    std::set<void*> cleared;
    for (size_t i = 0; i < asked.size(); ++i) {
      const bool chunk = std::find(blocks, blocks + 5, asked[i]) != blocks + 5;
      const bool first = chunk && cleared.insert(asked[i]).second;
      EXPECT_EQ(given[i], first ? nullptr : asked[i]) << subset << " entry " << i;
    }
    std::vector<void*> left, want;  // newest first
    for (auto* c = static_cast<ChunkListHeader*>(head); c; c = c->Next) left.push_back(c->Data);
    for (int i = 4; i >= 0; --i)
      if (!(subset >> i & 1)) want.push_back(blocks[i]);
    EXPECT_EQ(left, want) << subset;
    ChunkListFreeAll(&head);
  }

  LogCaptureBegin();
  MemSetFailAt(1);
  EXPECT_EQ(ChunkListAlloc(8, &head), nullptr);
  EXPECT_EQ(LogCaptureTextWithoutStamps(), std::string(TEXT_MV1_CHUNK_ALLOC_FAILED "\r\n"));
  LogCaptureEnd();
  EXPECT_EQ(head, nullptr);
}

TEST(BitRangeSetup, CursorAndWords) {
  BitRangeCursor c;
  uint32_t words[3] = {0xFFFFFFFFu, 0x80000000u, 0xDEADBEEFu};
  BitRangeSetup(&c, words, 37, 40);
  EXPECT_EQ(c.WordIndex, 1);
  EXPECT_EQ(c.WordCount, 2);
  EXPECT_EQ(c.Mask, 1u << 5);
  EXPECT_EQ(c.Words, words);
  EXPECT_EQ(words[0], 0xFFFFFFE0u);
  EXPECT_EQ(words[1], 0x80001FFFu);  // only the first word is cleared first
  EXPECT_EQ(words[2], 0xDEADBEEFu);
  BitRangeCursor d;
  BitRangeSetup(&d, nullptr, 37, 40);
  EXPECT_EQ(d.WordIndex, 1);
  EXPECT_EQ(d.WordCount, 2);
  EXPECT_EQ(d.Mask, 1u << 5);
  EXPECT_EQ(d.Words, nullptr);
}

TEST(BitRangeSetup, WordsMatchSettingBitByBit) {
  std::mt19937 rng(11);
  for (int round = 0; round < 3000; ++round) {
    const int first = static_cast<int>(rng() % 32);
    const int count = round % 7 == 0 ? static_cast<int>(rng() % 3) - 1 : static_cast<int>(rng() % 200);
    uint32_t words[9], want[9];
    for (int i = 0; i < 9; ++i) words[i] = want[i] = rng();
    // the rule: clear the first word, then set count bits one after another from the first bit
    want[0] = 0;
    for (int b = first; b < first + count; ++b) want[b / 32] |= 1u << (b % 32);
    BitRangeCursor c;
    BitRangeSetup(&c, words, first, count);
    ASSERT_EQ(std::memcmp(words, want, sizeof(words)), 0) << first << " " << count;
  }
}

}  // namespace
