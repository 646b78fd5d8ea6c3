// The MV1 model file reader: the model system's own format, an LZ block holding a model base laid
// out almost as in memory. LoadMV1ToModelBase (model_readers.h) checks the whole unpacked image in
// one pass before it reserves anything, then builds the base from checked data only.
#pragma once
#include <cstdint>

// The compact-number tables of key data: A (32 floats) 10^0..10^15, then 10^0, 10^-1..10^-15;
// B (16 floats) 10^0..10^7, then 10^0, 10^-1..10^-7.
extern const float MV1KeyPow10Tables[48];

// The start value of a compact start byte; false for an index past table A (bits 4 and 5 set).
bool MV1CompactStart(uint8_t b, float* value);
// The step of a compact scale byte.
float MV1CompactScale(uint8_t c);
// A quantised coordinate: (float)(u * range / 60000 + minimum), computed in double.
float MV1QuantisedCoordinate(uint16_t u, float minimum, float range);
