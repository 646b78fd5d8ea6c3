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

// Enters item and value under a hash whose key the index does not hold yet (RMHashFind found
// none); the new entry, or null when the pool runs out.
RMHashEntry* RMHashAdd(ReadModel* rm, RMHashIndex* index, uint64_t hash, const void* item, int value);
