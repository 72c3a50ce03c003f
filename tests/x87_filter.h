// The filter as first written for x86-64: every step in x87 long double (a 64-bit significand) with a
// float store between steps. It reads the arithmetic literally, so the tests hold the portable filter to
// it where long double has that width. Only compiled there.
#pragma once

#include <cfloat>

#if defined(__x86_64__) && LDBL_MANT_DIG == 64
#define VARNO_HAVE_X87_FILTER 1

#include "reflection.h"

namespace x87 {

inline float filter_sample(varno::ChannelDelayLine& line, float x, float gain) {
    if (line.write_index >= varno::RING_LENGTH) line.write_index -= varno::RING_LENGTH;
    const std::int32_t now = line.write_index;
    line.ring[now] = x;
    float acc = 0.0f;
    for (std::size_t tap = 0; tap < varno::TAP_COUNT; ++tap) {
        std::int32_t j = now - varno::REFLECTION_DELAYS[tap];
        if (j < 0) j += varno::RING_LENGTH;
        const long double product = static_cast<long double>(line.ring[j]) *
                                    static_cast<long double>(varno::REFLECTION_COEFFICIENTS[tap]);
        acc = static_cast<float>(static_cast<long double>(acc) + product);
    }
    const float y = static_cast<float>(static_cast<long double>(x) +
                                       static_cast<long double>(gain) * static_cast<long double>(acc));
    line.write_index = now + 1;
    return varno::limit_sample(y);
}

inline float output_step(float x, float gain, float acc) {
    return static_cast<float>(static_cast<long double>(x) +
                              static_cast<long double>(gain) * static_cast<long double>(acc));
}

}  // namespace x87

#endif
