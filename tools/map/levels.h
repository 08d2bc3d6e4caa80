// Height levels: rounding unquantised levels to the map's -128 ... 127.
#pragma once

#include <cstdint>

// The nearest height level to an unquantised one, clamped to -128 ... 127.
inline int8_t quantise(float z) {
    if (!(z > -128.0f)) return -128;  // also NaN, so nothing undefined reaches the cast
    if (z >= 127.0f) return 127;
    return static_cast<int8_t>(z < 0 ? -static_cast<int>(-z + 0.5f) : static_cast<int>(z + 0.5f));
}
