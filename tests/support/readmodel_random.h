// Wild read models for the converter's random tests and its fuzz target: any counts, indices,
// weights, key sets, shapes and frame trees, built through the read model's own operations.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include <qzlib/modelimport/readmodel.h>

// Fills rm (initialised) with values drawn from next().
void BuildWildReadModel(ReadModel* rm, const std::function<uint32_t()>& next);
// The same from a seed (one case replays alone from its seed).
void BuildRandomReadModel(ReadModel* rm, uint32_t seed);
// The same from fuzz input bytes (zeros once they run out).
void BuildReadModelFromBytes(ReadModel* rm, const uint8_t* data, size_t size);
