// Hash indexes from a read model's pool.
#include <qzlib/modelimport/readmodel_hash.h>

#include <qzlib/modelimport/readmodel_work.h>

uint64_t RMHashBytes(const void* bytes, size_t n, uint64_t seed) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  uint64_t h = seed;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

namespace {

// Puts an entry in the first free slot from its hash on.
RMHashEntry* Place(RMHashEntry* slots, uint64_t mask, const RMHashEntry& entry) {
  uint64_t i = entry.Hash & mask;
  while (slots[i].Item) i = (i + 1) & mask;
  slots[i] = entry;
  return &slots[i];
}

// Room for one more entry: the table doubles from the pool at half full, and the old table goes
// back when it is large. 0, or -1 when the pool runs out (the index is then unchanged).
int Reserve(ReadModel* rm, RMHashIndex* index) {
  const uint64_t slots = index->Slots ? index->Mask + 1 : 0;
  if (2 * (index->Count + 1) <= slots) return 0;
  const uint64_t grown = slots ? 2 * slots : 64;
  auto* fresh = static_cast<RMHashEntry*>(ReadModelAlloc(rm, sizeof(RMHashEntry) * grown));
  if (!fresh) return -1;
  for (uint64_t s = 0; s < slots; ++s)
    if (index->Slots[s].Item) Place(fresh, grown - 1, index->Slots[s]);
  if (slots) ReadModelFreeLargeBlock(rm, index->Slots, sizeof(RMHashEntry) * slots);
  index->Slots = fresh;
  index->Mask = grown - 1;
  return 0;
}

}  // namespace

RMHashEntry* RMHashAdd(ReadModel* rm, RMHashIndex* index, uint64_t hash, const void* item, int value) {
  if (Reserve(rm, index) != 0) return nullptr;
  ++index->Count;
  return Place(index->Slots, index->Mask, RMHashEntry{hash, item, value});
}

void RMHashCountLookUp(uint64_t probes) {
  ReadModelWork& work = ReadModelWorkCount();
  work.HashLookups += 1;
  work.HashProbes += probes;
}
