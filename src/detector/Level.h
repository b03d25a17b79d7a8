#pragma once

#include <cstdint>

// The level of one reading: the magnitudes of its samples added one by one in single
// precision, in sample order. The order and the width are part of the result: a wider
// or reordered sum would set readings apart that the quiet test compares.
template <class SampleAt> float SumOfMagnitudes(std::int64_t count, SampleAt&& sampleAt) {
    float level = 0.0f;
    for (std::int64_t k = 0; k < count; ++k) {
        const float x = sampleAt(k);
        const float a = x > 0.0f ? x : -x;
        level = level + a;
    }
    return level;
}
