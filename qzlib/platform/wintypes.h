// The few plain Windows record types the engine's interfaces use, defined for this platform.
#pragma once
#include <cstdint>

// A rectangle: left and top inside, right and bottom the first column and row outside.
struct RECT {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};
