// Hash indexes from a read model's pool, for the look-ups of a load that would otherwise walk a
// list once per entry: each key is looked up with one hash and a few compared entries.
//
// An entry holds the key's hash, the record it stands for and a number of the caller's. The
// caller compares keys (a predicate over an entry's record), so that one index serves names,
// name prefixes and pairs of paths alike. Indexes live in the pool and go with it.
#pragma once
#include <cstddef>
#include <cstdint>

#include <qzlib/modelimport/readmodel.h>

struct RMHashEntry {
  uint64_t Hash;
  const void* Item;  // null: a free slot
  int Value;
};

struct RMHashIndex {
  uint64_t Mask;  // slot count - 1 (a power of two), or 0 before the first entry
  uint64_t Count;
  RMHashEntry* Slots;
};

// FNV-1a over n bytes, continued from seed (chain calls to hash several parts as one key).
constexpr uint64_t kRMHashSeed = 0xCBF29CE484222325ull;
uint64_t RMHashBytes(const void* bytes, size_t n, uint64_t seed = kRMHashSeed);
// The same over a zero-terminated string, its zero excluded.
uint64_t RMHashString(const char* s, uint64_t seed = kRMHashSeed);

// Room for one more entry (the table doubles from the pool at half full; the old table
// goes back when it is large); 0, or -1 when the pool runs out (the index is then unchanged).
int RMHashReserve(ReadModel* rm, RMHashIndex* index);

// Counts one look-up and the entries it compared (the tests' guard against a walk in disguise).
void RMHashCountLookUp(uint64_t probes);

// The first entry of this hash whose record `same` accepts, or null.
template <class Same>
RMHashEntry* RMHashFind(const RMHashIndex& index, uint64_t hash, Same same) {
  if (!index.Slots) return nullptr;
  uint64_t probes = 0;
  RMHashEntry* found = nullptr;
  for (uint64_t i = hash & index.Mask;; i = (i + 1) & index.Mask) {
    RMHashEntry& e = index.Slots[i];
    if (!e.Item) break;
    ++probes;
    if (e.Hash == hash && same(e.Item)) {
      found = &e;
      break;
    }
  }
  RMHashCountLookUp(probes);
  return found;
}

// The entry that stands for the key: the one found, or (with *made set) a new one holding item
// and value. Null when the pool runs out.
template <class Same>
RMHashEntry* RMHashEnter(ReadModel* rm, RMHashIndex* index, uint64_t hash, const void* item,
                         int value, Same same, bool* made) {
  *made = false;
  if (RMHashEntry* e = RMHashFind(*index, hash, same)) return e;
  if (RMHashReserve(rm, index) != 0) return nullptr;
  uint64_t i = hash & index->Mask;
  while (index->Slots[i].Item) i = (i + 1) & index->Mask;
  index->Slots[i] = RMHashEntry{hash, item, value};
  ++index->Count;
  *made = true;
  return &index->Slots[i];
}
