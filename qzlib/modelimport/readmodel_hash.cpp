// Hash indexes from a read model's pool.
#include <qzlib/modelimport/readmodel_hash.h>

#include <qzlib/modelimport/readmodel_work.h>

#include <cstring>

uint64_t RMHashBytes(const void* bytes, size_t n, uint64_t seed) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint64_t h = seed;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

uint64_t RMHashString(const char* s, uint64_t seed) { return RMHashBytes(s, std::strlen(s), seed); }

int RMHashReserve(ReadModel* rm, RMHashIndex* index) {
  const uint64_t slots = index->Slots ? index->Mask + 1 : 0;
  if (2 * (index->Count + 1) <= slots) return 0;
  const uint64_t grown = slots ? 2 * slots : 64;
  auto* fresh = static_cast<RMHashEntry*>(ReadModelAlloc(rm, sizeof(RMHashEntry) * grown));
  if (!fresh) return -1;
  for (uint64_t s = 0; s < slots; ++s) {
    const RMHashEntry& e = index->Slots[s];
    if (!e.Item) continue;
    uint64_t i = e.Hash & (grown - 1);
    while (fresh[i].Item) i = (i + 1) & (grown - 1);
    fresh[i] = e;
  }
  if (slots) ReadModelFreeLargeBlock(rm, index->Slots, sizeof(RMHashEntry) * slots);
  index->Slots = fresh;
  index->Mask = grown - 1;
  return 0;
}

void RMHashCountLookUp(uint64_t probes) {
  ReadModelWork& work = ReadModelWorkCount();
  work.HashLookups += 1;
  work.HashProbes += probes;
}
