// The pool of a read model: zero-filled tracked blocks on one list, freed in one call.
#pragma once
#include <cstdint>

// size zero-filled bytes linked onto *head, or null when memory runs out.
void* ReadModelPoolAlloc(void** head, uint64_t size);
// Frees every block on *head and sets it to null.
void ReadModelPoolFreeAll(void** head);
